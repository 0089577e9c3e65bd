#!/usr/bin/python3
"""Tests of tools/mfwindow-plot: reading both result formats, naming, and
the pictures it writes for the bundled example."""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

import numpy as np

import support

plot_tool = support.load_plot_tool()


def png_info(path):
    """(width, height, {keyword: text}) from a PNG's IHDR and tEXt chunks;
    checks every chunk's CRC on the way."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s is not a PNG" % path)
    pos, size, texts = 8, None, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) != crc:
            raise ValueError("bad CRC in %s chunk" % kind)
        if kind == b"IHDR":
            size = struct.unpack(">II", body[:8])
        elif kind == b"tEXt":
            key, _, text = body.partition(b"\0")
            texts[key.decode("latin-1")] = text.decode("latin-1")
        pos += 12 + length
    return size[0], size[1], texts


def run_tool(*args, cwd=None):
    return subprocess.run([sys.executable, support.PLOT_TOOL, *args],
                          cwd=cwd, capture_output=True, text=True,
                          timeout=120)


class ParsesResultFields(unittest.TestCase):
    FIELDS = [
        ("    1000.00    ", 1000.0),
        ("   0.333573    ", 0.333573),
        ("   0.454286E-01", 0.0454286),
        ("  -0.250000E-06", -2.5e-7),
        ("   0.100000E+07", 1e6),
        ("   0.100000-100", 1e-101),   # three-digit exponent, no letter
        ("   0.123457+123", 0.123457e123),
        ("   0.00000     ", 0.0),
        (" NaN           ", math.nan),
        (" Infinity      ", math.inf),
        (" -Infinity     ", -math.inf),
    ]
    REJECTED = ["", "   ", "nan", "inf", "1e5", "1.2.3", "0x1p3", "1_000",
                "E-01", "0.1-", "--1.0", "1.0 2.0"]

    def test_fields(self):
        for field, value in self.FIELDS:
            with self.subTest(field=field):
                got = plot_tool.parse_field(field)
                if math.isnan(value):
                    self.assertTrue(math.isnan(got))
                else:
                    self.assertEqual(got, value)

    def test_rejected_fields(self):
        for field in self.REJECTED:
            with self.subTest(field=field):
                with self.assertRaises(ValueError):
                    plot_tool.parse_field(field)


class ReadsResultFiles(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def write(self, name, text):
        path = os.path.join(self.tmp.name, name)
        with open(path, "w", newline="") as f:
            f.write(text)
        return path

    def test_dat_with_crlf_and_special_fields(self):
        path = self.write("F(Alfa)_s.dat", (
            "    1000.00       0.454286E-01    1.49727        1.45184  "
            "     0.709570        1.00004    \r\n"
            "    1100.00       0.100000-100 NaN            Infinity      "
            " -Infinity         0.999977    \r\n"))
        got = plot_tool.read_results(path)
        self.assertEqual(got["time"].tolist(), [1000.0, 1100.0])
        self.assertEqual(got["alfa_min"].tolist(), [0.0454286, 1e-101])
        self.assertTrue(math.isnan(got["alfa_max"][1]))
        self.assertEqual(got["alfa_width"][1], math.inf)
        self.assertEqual(got["alfa_sz"][1], -math.inf)
        self.assertEqual(got["f_alfa_sz"].tolist(), [1.00004, 0.999977])

    def test_csv_reads_back_every_double(self):
        # As mfwindow-batch writes it: printf %.17g, nan and inf included.
        values = np.random.default_rng(8).normal(size=(7, 6))
        values[2, 1], values[3, 4], values[5, 5] = np.nan, np.inf, -np.inf
        values[6, 0] = 1e-300
        lines = ["time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz"]
        lines += [",".join("%.17g" % v for v in row) for row in values]
        path = self.write("s.csv", "\n".join(lines) + "\n")
        got = plot_tool.read_results(path)
        for i, name in enumerate(plot_tool.COLUMNS):
            self.assertEqual([v.hex() for v in got[name].tolist()],
                             [float(v).hex() for v in values[:, i]], name)

    def test_malformed_files_name_the_line(self):
        cases = {
            "short.dat": "    1000.00       0.454286E-01    1.49727\r\n",
            "seven.dat": "    1000.00    " * 7 + "\r\n",
            "header.csv": "time,alfa_min\n1,2\n",
            "cells.csv": ",".join(plot_tool.COLUMNS) + "\n1,2,3\n",
        }
        for name, text in cases.items():
            with self.subTest(file=name):
                path = self.write(name, text)
                with self.assertRaisesRegex(ValueError, ":[12]:"):
                    plot_tool.read_results(path)


class NamesSeries(unittest.TestCase):
    def test_series_name(self):
        for path, name in [("F(Alfa)/F(Alfa)_walk.txt.dat", "walk.txt"),
                           ("out/F(Alfa)_s1.csv", "s1"),
                           ("F(Alfa)_data/s1.txt.dat", "s1.txt"),
                           ("plain.dat", "plain"),
                           ("results", "results")]:
            with self.subTest(path=path):
                self.assertEqual(plot_tool.series_name(path), name)


class PlotsTheExample(unittest.TestCase):
    """Runs the program on the bundled example, then plots its results."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.run_dir = os.path.join(cls.tmp.name, "examples")
        examples = os.path.join(support.SOURCE_DIR, "examples")
        os.mkdir(cls.run_dir)
        for name in ("list", "walk.txt", "cascade.txt"):
            shutil.copy(os.path.join(examples, name), cls.run_dir)
        with open(os.path.join(examples, "answers.txt"), "rb") as answers:
            subprocess.run([support.PROGRAM], stdin=answers, cwd=cls.run_dir,
                           stdout=subprocess.DEVNULL, check=True, timeout=120)
        cls.results = os.path.join(cls.run_dir, "F(Alfa)")
        cls.walk = os.path.join(cls.results, "F(Alfa)_walk.txt.dat")
        cls.cascade = os.path.join(cls.results, "F(Alfa)_cascade.txt.dat")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_one_png_per_series_beside_the_results(self):
        done = run_tool(self.walk, self.cascade)
        self.assertEqual(done.returncode, 0, done.stderr)
        expected = [os.path.join(self.results, "F(Alfa)_walk.txt.png"),
                    os.path.join(self.results, "F(Alfa)_cascade.txt.png")]
        self.assertEqual(done.stdout.splitlines(), expected)
        for png, title in zip(expected, ("walk.txt", "cascade.txt")):
            width, height, texts = png_info(png)
            self.assertEqual((width, height), (1000, 800))
            self.assertEqual(texts.get("Title"), title)

    def test_out_dir_and_dpi(self):
        out = os.path.join(self.tmp.name, "pictures", "small")
        done = run_tool("--out", out, "--dpi", "50", self.walk)
        self.assertEqual(done.returncode, 0, done.stderr)
        png = os.path.join(out, "F(Alfa)_walk.txt.png")
        self.assertEqual(done.stdout.splitlines(), [png])
        self.assertEqual(png_info(png)[:2], (500, 400))

    def test_csv_input(self):
        columns = plot_tool.read_results(self.cascade)
        csv = os.path.join(self.tmp.name, "F(Alfa)_cascade.txt.csv")
        with open(csv, "w") as f:
            f.write(",".join(plot_tool.COLUMNS) + "\n")
            for row in zip(*(columns[c] for c in plot_tool.COLUMNS)):
                f.write(",".join("%.17g" % v for v in row) + "\n")
        out = os.path.join(self.tmp.name, "from_csv")
        done = run_tool("--out", out, csv)
        self.assertEqual(done.returncode, 0, done.stderr)
        width, height, texts = png_info(
            os.path.join(out, "F(Alfa)_cascade.txt.png"))
        self.assertEqual((width, height, texts.get("Title")),
                         (1000, 800, "cascade.txt"))

    def test_unreadable_file_is_named_and_the_rest_plotted(self):
        out = os.path.join(self.tmp.name, "partial")
        missing = os.path.join(self.tmp.name, "F(Alfa)_gone.dat")
        done = run_tool("--out", out, missing, self.walk)
        self.assertEqual(done.returncode, 1)
        self.assertIn(missing, done.stderr)
        self.assertEqual(done.stdout.splitlines(),
                         [os.path.join(out, "F(Alfa)_walk.txt.png")])

    def test_two_inputs_for_one_picture_are_refused(self):
        other = os.path.join(self.tmp.name, "F(Alfa)_walk.txt.dat")
        shutil.copy(self.walk, other)
        out = os.path.join(self.tmp.name, "clash")
        done = run_tool("--out", out, self.walk, other)
        self.assertEqual(done.returncode, 2)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
