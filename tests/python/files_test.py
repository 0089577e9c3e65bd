"""mfwindow.read_result: the program's .dat fields, the batch CSV and
spectrum CSV, the lines it refuses, and series names."""

import importlib.util
import json
import math
import os

import numpy as np
import pytest

import mfwindow
from mfwindow._files import parse_field, series_name
from support import COLUMNS, FILE_COLUMNS, SOURCE_DIR, bits, walk

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
REJECTED = ["", "   ", "nan", "inf", "1e5", "1.2.3", "0x1p3", "1_000", "E-01",
            "0.1-", "--1.0", "1.0 2.0"]


@pytest.mark.parametrize("field,value", FIELDS)
def test_fields(field, value):
    got = parse_field(field)
    assert math.isnan(got) if math.isnan(value) else got == value


@pytest.mark.parametrize("field", REJECTED)
def test_rejected_fields(field):
    with pytest.raises(ValueError):
        parse_field(field)


def write(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w", newline="") as f:
        f.write(text)
    return path


def test_dat_with_crlf_and_special_fields(tmp_path):
    path = write(tmp_path, "F(Alfa)_s.dat", (
        "    1000.00       0.454286E-01    1.49727        1.45184  "
        "     0.709570        1.00004    \r\n"
        "    1100.00       0.100000-100 NaN            Infinity      "
        " -Infinity         0.999977    \r\n"))
    got = mfwindow.read_result(path)
    assert got.name == "s"
    assert got.time.tolist() == [1000.0, 1100.0]
    assert got.alpha_min.tolist() == [0.0454286, 1e-101]
    assert math.isnan(got.alpha_max[1])
    assert got.alpha_width[1] == math.inf
    assert got.alpha_sz[1] == -math.inf
    assert got.f_alpha_sz.tolist() == [1.00004, 0.999977]
    assert got.settings is None and not got.has_spectrum


def test_csv_reads_back_every_double(tmp_path):
    # As mfwindow-batch writes it: printf %.17g, nan and inf included.
    values = np.random.default_rng(8).normal(size=(7, 6))
    values[2, 1], values[3, 4], values[5, 5] = np.nan, np.inf, -np.inf
    values[6, 0] = 1e-300
    lines = [",".join(FILE_COLUMNS)]
    lines += [",".join("%.17g" % v for v in row) for row in values]
    got = mfwindow.read_result(write(tmp_path, "s.csv",
                                     "\r\n".join(lines) + "\r\n"))
    for i, name in enumerate(COLUMNS):
        assert bits(got[name]) == bits(values[:, i]), name


def spectrum_csv(windows, broken=None):
    """A spectrum CSV as mfwindow-batch writes it, with `broken` (row
    number, text) replacing one row."""
    rows = [",".join(("window", "time", "q", "h", "tau", "m", "alpha", "f"))]
    for w in range(1, windows + 1):
        time = "%d" % (100 * w)
        for k in range(200):
            q = -10 + 20 * k / 199
            rows.append("%d,%s,%.17g,%.17g,%.17g,,," % (
                w, time, q, 0.5 + w / 10 + k / 1000, q * 0.5 - 1))
        for m in range(1, 101):
            rows.append("%d,%s,,,,%d,%.17g,%.17g" % (w, time, m, m / 100,
                                                     w / 10))
    if broken:
        rows[broken[0]] = broken[1]
    return "\r\n".join(rows) + "\r\n"


def test_spectrum_csv_gives_the_whole_spectra(tmp_path):
    got = mfwindow.read_result(write(tmp_path, "F(Alfa)_s.spectrum.csv",
                                     spectrum_csv(3)))
    assert got.name == "s" and got.has_spectrum
    assert got.time.tolist() == [100.0, 200.0, 300.0]
    assert got.q.shape == (200,) and got.q[0] == -10 and got.q[-1] == 10
    assert got.h.shape == (3, 200) and got.h[1, 2] == 0.5 + 0.2 + 0.002
    assert got.alpha.shape == (3, 100) and got.alpha[2, 99] == 1.0
    assert got.f_alpha[2].tolist() == [0.3] * 100
    assert "alpha_min" not in got


# row number (header 0), replacement, what the message says
BROKEN_SPECTRA = [
    (1, "2,100,-10,0.6,-6,,,", "window 2 where window 1 was due"),
    (5, "1,101,-9.8,0.6,-6,,,", "time 101 differs"),
    (201, "1,100,,,,2,0.01,0.1", "m 2 where 1 was due"),
    (202, "1,100,0.5,,,2,0.02,0.1", "an alpha row with q"),
    (3, "1,100,-9.8,0.6,-6,1,,", "a q row with m"),
    (301, "2,200,9,0.7,-6,,,", "q 9 differs from window 1's"),
    (7, "1,100,-9,0.6", "4 values, expected 8"),
]


@pytest.mark.parametrize("row,text,message", BROKEN_SPECTRA)
def test_malformed_spectrum_csv_names_the_line(tmp_path, row, text, message):
    path = write(tmp_path, "s.spectrum.csv", spectrum_csv(2, (row, text)))
    with pytest.raises(ValueError) as caught:
        mfwindow.read_result(path)
    assert "%s:%d: %s" % (path, row + 1, message) in str(caught.value)


def test_spectrum_csv_cut_short_is_refused(tmp_path):
    text = spectrum_csv(2)
    cut = text[:text.rindex("2,200,,,,99")]
    with pytest.raises(ValueError, match="not a whole number of windows"):
        mfwindow.read_result(write(tmp_path, "s.spectrum.csv", cut))


@pytest.mark.parametrize("name,text", [
    ("short.dat", "    1000.00       0.454286E-01    1.49727\r\n"),
    ("seven.dat", "    1000.00    " * 7 + "\r\n"),
    ("header.csv", "time,alfa_min\n1,2\n"),
    ("cells.csv", ",".join(FILE_COLUMNS) + "\n1,2,3\n"),
])
def test_malformed_files_name_the_line(tmp_path, name, text):
    with pytest.raises(ValueError, match=":[12]:"):
        mfwindow.read_result(write(tmp_path, name, text))


@pytest.mark.parametrize("name,text", [
    ("e.dat", ""), ("e.csv", ",".join(FILE_COLUMNS) + "\r\n"),
    ("e.csv", "\r\n")])
def test_empty_files_give_no_windows(tmp_path, name, text):
    assert mfwindow.read_result(write(tmp_path, name, text)).n_windows == 0


# A last line without its line end was read as a shorter number, and an
# empty CSV (cut before its header) as a result of no windows.
@pytest.mark.parametrize("name,text", [
    ("c.dat", "    1000.00       0.454286E-01    1.49727        1.45184  "
              "     0.709570        1.0"),
    ("c.csv", ",".join(FILE_COLUMNS) + "\r\n1000,0.5"),
    ("c.csv", ""),
])
def test_cut_files_are_refused_as_cut(tmp_path, name, text):
    with pytest.raises(mfwindow.CutResultError, match="cut file|empty"):
        mfwindow.read_result(write(tmp_path, name, text))


def _merge_shards():
    found = importlib.util.spec_from_file_location(
        "merge_shards", os.path.join(SOURCE_DIR, "examples", "merge_shards.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


# A result cut exactly at a line end, its sidecar saying more windows were
# written, was read back (and merged) as a whole result of fewer windows.
@pytest.mark.parametrize("csv, suffix, lines_per_window", [
    (True, ".csv", 1), (False, ".dat", 1), (True, ".spectrum.csv", 300)])
def test_a_file_cut_at_a_line_end_is_refused_by_its_sidecar(
        tmp_path, csv, suffix, lines_per_window):
    np.savetxt(str(tmp_path / "s.txt"), walk(3000, seed=4))
    mfwindow._core.analyse_file(
        "s.txt", mfwindow._core.settle(dict(window=1000, shift=500,
                                            spectrum=True)),
        out_dir="out", csv=csv, base_dir=str(tmp_path))
    path = str(tmp_path / "out" / ("F(Alfa)_s.txt" + suffix))
    assert mfwindow.read_result(path).n_windows == 5
    with open(path, "rb") as f:
        lines = f.read().splitlines(keepends=True)
    with open(path, "wb") as f:
        f.writelines(lines[:-lines_per_window])
    with pytest.raises(mfwindow.CutResultError, match="4 windows.* 5"):
        mfwindow.read_result(path)
    if suffix == ".csv":
        _, table, failed = _merge_shards().merge(["s.txt"],
                                                 str(tmp_path / "out"))
        assert failed == ["s.txt"] and "cut" in table[0]


# Column 1 chosen by its header name keeps F(Alfa)_ (it was F(Alfa)@a_);
# its sidecar names the column, so that merge_shards --column a finds it,
# and a result of column 1 chosen otherwise is not taken for it.
@pytest.mark.parametrize("column, number, merged", [
    ("a", 1, True), ("b", 2, False), ("1", 1, False)])
def test_sidecar_names_the_column_and_merge_finds_the_first(
        tmp_path, column, number, merged):
    rows = zip(walk(1200, seed=5), walk(1200, seed=6))
    (tmp_path / "ab.csv").write_text(
        "a,b\n" + "".join("%.17g,%.17g\n" % r for r in rows))
    mfwindow._core.analyse_file(
        "ab.csv", mfwindow._core.settle(dict(window=1000, shift=100)),
        file_options=dict(column=column), out_dir="out", csv=True,
        base_dir=str(tmp_path))
    prefix = "F(Alfa)_" if number == 1 else "F(Alfa)@%s_" % column
    with open(str(tmp_path / "out" / (prefix + "ab.csv.csv.json"))) as f:
        assert json.load(f)["series"]["column"] == dict(
            number=number, name=None if column.isdigit() else column)
    merge = _merge_shards()
    _, _, failed = merge.merge(["ab.csv"], str(tmp_path / "out"),
                               prefix=merge.column_prefix("a"), column="a")
    assert failed == ([] if merged else ["ab.csv"])


@pytest.mark.parametrize("path,name", [
    ("F(Alfa)/F(Alfa)_walk.txt.dat", "walk.txt"),
    ("out/F(Alfa)_s1.csv", "s1"),
    ("out/F(Alfa)_s1.spectrum.csv", "s1"),
    ("F(Alfa)_data/s1.txt.dat", "s1.txt"),
    ("plain.dat", "plain"),
    ("results", "results"),
    ("out/F(Alfa)@2_s1.csv", "s1"),  # the second column's result
    ("out/F(Alfa)@a%5Fb_s1.csv", "s1"),
])
def test_series_name(path, name):
    assert series_name(path) == name


# Regression: the results of one file's columns all took the file's name,
# and their figures one title.
@pytest.mark.parametrize("path,sidecar,name", [
    ("F(Alfa)_eeg.csv.csv", None, "eeg.csv"),
    ("F(Alfa)@Cz_eeg.csv.csv", None, "eeg.csv column Cz"),
    ("F(Alfa)@a%5Fb_eeg.csv.csv", None, "eeg.csv column a_b"),
    ("F(Alfa)@2_eeg.csv.csv", {"series": {"column": {"number": 2,
                                                   "name": "Cz"}}},
     "eeg.csv column Cz"),
    ("F(Alfa)@3_eeg.csv.csv", {"series": {"column": {"number": 3}}},
     "eeg.csv column 3"),
    ("F(Alfa)_eeg.csv.csv", {"series": {"column": {"number": 1,
                                                  "name": "Fz"}}},
     "eeg.csv"),
])
def test_a_columns_result_is_named_with_its_column(path, sidecar, name):
    assert mfwindow._files._result_name(path, sidecar) == name


@pytest.mark.parametrize("fs, unit, caption", [
    (None, "sample", "window 1000, shift 250, order 2"),
    (250.0, "s", "fs 250 Hz")])
def test_sidecar_names_the_settings_and_hashes_the_samples(tmp_path, fs, unit,
                                                           caption):
    values = walk(3000, seed=4)
    values[1200] = np.nan
    np.savetxt(str(tmp_path / "s.txt"), values)
    mfwindow._core.analyse_file(
        "s.txt", mfwindow._core.settle(dict(window=1000, shift=250, fs=fs,
                                            nan="mask")),
        out_dir="out", csv=True, base_dir=str(tmp_path))
    path = str(tmp_path / "out" / "F(Alfa)_s.txt.csv")
    with open(path + ".json") as f:
        sidecar = json.load(f)
    assert sidecar["version"] == mfwindow.__version__
    assert (sidecar["settings"]["window"], sidecar["settings"]["shift"],
            sidecar["windows"]) == (1000, 250, 9)
    # FNV-1a 64 over each double's bytes, least significant first.
    h = 0xcbf29ce484222325
    for byte in values.astype("<f8").tobytes():
        h = ((h ^ byte) * 0x100000001b3) % 2**64
    assert sidecar["series"]["fnv1a64"] == "%016x" % h
    got = mfwindow.read_result(path)
    assert got.settings.time_unit == unit and got.settings.nan == "mask"
    assert caption in got.settings.caption()
    assert any("kept as gaps" in m for m in got.messages)
    os.remove(path + ".json")
    assert mfwindow.read_result(path).settings is None
