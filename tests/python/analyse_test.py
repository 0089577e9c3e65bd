#!/usr/bin/python3
"""Tests of the Python module mfwindow: its numbers against the C++ API bit
for bit and against the program's result file, the settling of its
arguments, its errors, the shapes it returns and the released GIL."""

import math
import tempfile
import threading
import time
import unittest

import numpy as np

import mfwindow
import support

COLUMNS = ("time", "alfa_min", "alfa_max", "alfa_width", "alfa_sz",
           "f_alfa_sz")
SPECTRUM_KEYS = ("h", "tau", "alpha", "f_alpha")


def bits(values):
    """Exact text of each double; every NaN reads "nan"."""
    return [float(v).hex() for v in np.ravel(values)]


def assert_same_results(test, got, expected):
    """Every column of two analyse() results, bit for bit."""
    test.assertEqual(sorted(got), sorted(expected))
    for key in expected:
        test.assertEqual(got[key].shape, expected[key].shape, key)
        test.assertEqual(bits(got[key]), bits(expected[key]), key)


class MatchesCppApi(unittest.TestCase):
    # Each row runs the module and the C++ API on the same series. A series
    # with a constant stretch gives degenerate windows (NaN h and tau).
    # incr, order, lrec, min_scale, shift, tini, tstep, threads, spectrum,
    # series
    CASES = [
        (0, 2, 256, 20, 64, 0.0, 1.0, 1, False, "walk"),
        (1, 1, 128, 20, 32, 0.0, 1.0, 2, False, "walk"),
        (0, 5, 300, 25, 300, -3.5, 0.25, 3, False, "walk"),
        (0, 3, 200, 20, 100, 10.0, 0.1, 2, True, "walk"),
        (1, 2, 96, 20, 40, 0.0, 1.0, 1, True, "flat_stretch"),
    ]

    @staticmethod
    def series(kind):
        values = support.walk(1200, seed=11)
        if kind == "flat_stretch":
            values[300:600] = 4.25
        return values

    def test_every_double_equals_the_cpp_api(self):
        with tempfile.TemporaryDirectory() as tmp:
            for case in self.CASES:
                (incr, order, lrec, min_scale, shift, tini, tstep, threads,
                 spectrum, kind) = case
                with self.subTest(case=case):
                    values = self.series(kind)
                    got = mfwindow.analyse(
                        values, window=lrec, shift=shift, order=order,
                        min_scale=min_scale, incr=incr, tini=tini,
                        tstep=tstep, spectrum=spectrum, threads=threads)
                    want = support.run_api_dump(
                        tmp, values, incr, order, lrec, min_scale, shift,
                        tini, tstep, threads, spectrum)
                    self.assertGreater(len(want["row"]), 1)
                    rows = np.column_stack([got[c] for c in COLUMNS])
                    self.assertEqual(bits(rows), bits(want["row"]))
                    if not spectrum:
                        self.assertNotIn("h", got)
                        continue
                    self.assertEqual(bits(got["q"]), bits(want["q"]))
                    for key in SPECTRUM_KEYS:
                        self.assertEqual(bits(got[key]), bits(want[key]), key)
                    if kind == "flat_stretch":
                        self.assertTrue(np.isnan(got["h"]).any())

    def test_values_match_the_programs_result_file(self):
        # The program renders six significant digits; each analyse() value
        # rounded to six digits must read back as the field's value.
        plot_tool = support.load_plot_tool()
        values = support.walk(1500, seed=5)
        with tempfile.TemporaryDirectory() as tmp:
            dat = support.run_program(tmp, values, 0, 2, 256, 20, 64, 0.0,
                                      1.0)
            written = plot_tool.read_results(dat)
        got = mfwindow.analyse(values, window=256, shift=64, order=2,
                               min_scale=20)
        self.assertEqual(len(written["time"]), 20)  # (1500-256) // 64 + 1
        for column in COLUMNS:
            self.assertEqual(len(got[column]), len(written[column]))
            for i, (mine, field) in enumerate(zip(got[column],
                                                  written[column])):
                self.assertEqual(float("%.5e" % mine), field,
                                 "%s[%d]" % (column, i))


class SettlesLikeTheProgram(unittest.TestCase):
    # Lrec 300 lets MinScale range over 20..30.
    BASE = dict(window=300, shift=100, order=2, min_scale=20)

    @classmethod
    def setUpClass(cls):
        cls.values = support.walk(700, seed=3)

    def analyse(self, **changes):
        settings = dict(self.BASE, **changes)
        return mfwindow.analyse(self.values, threads=1, **settings)

    # given -> the settled values it must behave exactly like
    CLAMPED = [
        (dict(order=0), dict(order=1)),
        (dict(order=-7), dict(order=1)),
        (dict(order=11), dict(order=10)),
        (dict(min_scale=5), dict(min_scale=20)),
        (dict(min_scale=31), dict(min_scale=30)),
        (dict(min_scale=10**6), dict(min_scale=30)),
        (dict(shift=0), dict(shift=1)),
        (dict(shift=-3), dict(shift=1)),
        (dict(shift=10**6), dict(shift=300)),
        (dict(shift=None), dict(shift=300)),
        # The shift settles against the settled window.
        (dict(window=10, shift=None, order=1), dict(window=32, shift=32,
                                                    order=1)),
        (dict(window=10, shift=40, order=1), dict(window=32, shift=32,
                                                  order=1)),
        (dict(incr=True), dict(incr=1)),
    ]
    # Neighbours that must differ, so that the equalities above do not hold
    # merely because a setting has no effect.
    DIFFERENT = [
        (dict(order=1), dict(order=2)),
        (dict(order=10), dict(order=9)),
        (dict(min_scale=20), dict(min_scale=21)),
        (dict(min_scale=29), dict(min_scale=30)),
        (dict(shift=1), dict(shift=2)),
        (dict(shift=299), dict(shift=300)),
        (dict(window=32, shift=32, order=1), dict(window=33, shift=32,
                                                  order=1)),
        (dict(incr=0), dict(incr=1)),
    ]

    def test_out_of_range_settings_are_clamped(self):
        for given, settled in self.CLAMPED:
            with self.subTest(given=given):
                assert_same_results(self, self.analyse(**given),
                                    self.analyse(**settled))

    def test_controls_differ(self):
        for a, b in self.DIFFERENT:
            with self.subTest(a=a, b=b):
                one, other = self.analyse(**a), self.analyse(**b)
                self.assertNotEqual(
                    [bits(one[c]) for c in COLUMNS],
                    [bits(other[c]) for c in COLUMNS])

    def test_time_marks_follow_window_shift_and_time_axis(self):
        # Window i (from 0) ends on sample 300 + 30 i, counted from 1.
        got = self.analyse(shift=30, tini=2.5, tstep=0.5)
        expected = [2.5 + (300 + 30 * i) * 0.5 for i in range(14)]
        self.assertEqual(got["time"].tolist(), expected)
        # A 10-sample window settles to 32, and the shift with it.
        got = self.analyse(window=10, shift=None, order=1)
        self.assertEqual(got["time"][:3].tolist(), [32.0, 64.0, 96.0])


class RejectsInvalidArguments(unittest.TestCase):
    CASES = [
        dict(tstep=0.0),
        dict(tstep=-1.0),
        dict(tstep=math.nan),
        dict(incr=2),
        dict(incr=-1),
        dict(threads=-1),
        dict(window=2**31),
        dict(shift=-2**31 - 1),
    ]

    def test_value_errors(self):
        values = support.walk(100, seed=1)
        for changes in self.CASES:
            with self.subTest(changes=changes):
                with self.assertRaises(ValueError):
                    mfwindow.analyse(values, **dict(dict(window=32),
                                                    **changes))

    def test_values_must_be_one_dimensional(self):
        for values in (np.zeros((40, 2)), 3.0):
            with self.subTest(values=values):
                with self.assertRaises(ValueError):
                    mfwindow.analyse(values, window=32)


class ReturnsNumpyColumns(unittest.TestCase):
    def test_any_float64_convertible_input(self):
        ints = np.random.default_rng(2).integers(-50, 50, size=300)
        reference = mfwindow.analyse(ints.astype(np.float64), window=64)
        doubled = np.repeat(ints.astype(np.float64), 2)
        inputs = {
            "list": [int(v) for v in ints],
            "tuple": tuple(float(v) for v in ints),
            "int array": ints,
            "float32 array": ints.astype(np.float32),
            "strided view": doubled[::2],
        }
        for name, values in inputs.items():
            with self.subTest(input=name):
                assert_same_results(self, mfwindow.analyse(values, window=64),
                                    reference)

    def test_shapes(self):
        values = support.walk(700, seed=4)
        # (window, shift, series length, windows)
        for window, shift, n, windows in [(200, 100, 700, 6),
                                          (200, 100, 699, 5),
                                          (200, 100, 199, 0)]:
            with self.subTest(n=n):
                got = mfwindow.analyse(values[:n], window=window, shift=shift,
                                       spectrum=True)
                for column in COLUMNS:
                    self.assertEqual(got[column].shape, (windows,))
                    self.assertEqual(got[column].dtype, np.float64)
                self.assertEqual(got["q"].shape, (200,))
                self.assertEqual(got["h"].shape, (windows, 200))
                self.assertEqual(got["tau"].shape, (windows, 200))
                self.assertEqual(got["alpha"].shape, (windows, 100))
                self.assertEqual(got["f_alpha"].shape, (windows, 100))

    def test_constant_window_gives_the_degenerate_result(self):
        got = mfwindow.analyse(np.full(64, 7.0), window=32, spectrum=True)
        rows = np.column_stack([got[c] for c in COLUMNS[1:]])
        self.assertEqual(rows.tolist(), [[0.5, 0.5, 0.0, 0.5, 1.0]] * 2)
        self.assertTrue(np.isnan(got["h"]).all())
        self.assertTrue(np.isnan(got["tau"]).all())


class ReleasesTheGil(unittest.TestCase):
    def test_python_runs_while_a_series_is_analysed(self):
        # The main thread wakes every millisecond while another thread
        # analyses. Holding the GIL through the computation would stall it
        # for the whole call; released, its longest pause stays short.
        values = support.walk(6000, seed=9)
        span = {}
        done = threading.Event()

        def work():
            span["start"] = time.perf_counter()
            mfwindow.analyse(values, window=1000, shift=10, threads=1)
            span["end"] = time.perf_counter()
            done.set()

        worker = threading.Thread(target=work)
        ticks = []
        worker.start()
        while not done.is_set():
            time.sleep(0.001)
            ticks.append(time.perf_counter())
        worker.join()
        start, end = span["start"], span["end"]
        marks = [start] + [t for t in ticks if start < t < end] + [end]
        longest = max(b - a for a, b in zip(marks, marks[1:]))
        self.assertGreater(end - start, 0.05, "too short a call to tell")
        self.assertLess(longest, (end - start) / 2)


if __name__ == "__main__":
    unittest.main()
