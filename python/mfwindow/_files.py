"""Reading the result files of the mfwindow programs: the program's
fixed-width .dat lines, and the CSV and spectrum CSV of mfwindow-batch."""

from __future__ import annotations

import math
import os
import re
from typing import Dict, List

import numpy as np

from ._result import ROW_KEYS, Result

FIELD_WIDTH = 15
SPECTRUM_HEADER = ("window", "time", "q", "h", "tau", "m", "alpha", "f")
MOMENT_COUNT = 200
ALFA_COUNT = 100

_NUMBER = re.compile(r"([+-]?(?:\d+\.?\d*|\.\d+))(?:E?([+-]\d+))?")
_NON_FINITE = {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}


def parse_field(text: str) -> float:
    """One number as the program renders it: fixed ("1000.00"), exponent
    form ("0.454286E-01"; with a three-digit exponent the letter is dropped,
    "0.100000-100"), "NaN", "Infinity" or "-Infinity". Surrounding blanks
    are ignored. Raises ValueError for anything else."""
    token = text.strip()
    if token in _NON_FINITE:
        return _NON_FINITE[token]
    # Matched here rather than left to float(), which also takes "nan",
    # "1e5", "1_0" and other spellings the program never writes.
    match = _NUMBER.fullmatch(token)
    if not match:
        raise ValueError("not a number: %r" % text)
    mantissa, exponent = match.groups()
    return float(mantissa + ("E" + exponent if exponent else ""))


def _csv_number(cell: str) -> float:
    # The batch tool writes printf's %.17g: nan, inf and -inf included.
    return float(cell)


def _parse_dat(lines: List[str], path: str) -> List[List[float]]:
    rows = []
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        fields = [line[i:i + FIELD_WIDTH]
                  for i in range(0, FIELD_WIDTH * len(ROW_KEYS), FIELD_WIDTH)]
        if line[FIELD_WIDTH * len(ROW_KEYS):].strip():
            raise ValueError("%s:%d: more than six fields" % (path, number))
        try:
            rows.append([parse_field(f) for f in fields])
        except ValueError as e:
            raise ValueError("%s:%d: %s" % (path, number, e)) from None
    return rows


def _parse_csv(lines: List[str], path: str) -> List[List[float]]:
    # The six values come first; the quality and null-level columns that
    # follow them are not read here.
    header = lines[0].strip().split(",")
    if tuple(header[:len(ROW_KEYS)]) != ROW_KEYS:
        raise ValueError("%s:1: header does not start with %s"
                         % (path, ",".join(ROW_KEYS)))
    rows = []
    for number, line in enumerate(lines[1:], 2):
        if not line.strip():
            continue
        cells = line.strip().split(",")
        if len(cells) != len(header):
            raise ValueError("%s:%d: %d values, expected %d"
                             % (path, number, len(cells), len(header)))
        try:
            rows.append([_csv_number(c) for c in cells[:len(ROW_KEYS)]])
        except ValueError as e:
            raise ValueError("%s:%d: %s" % (path, number, e)) from None
    return rows


def _parse_spectrum_csv(lines: List[str], path: str) -> Dict[str, np.ndarray]:
    """Per window 200 rows window,time,q,h,tau,,, then 100 rows
    window,time,,,,m,alpha,f; windows counted from 1, in order."""
    if tuple(lines[0].strip().split(",")) != SPECTRUM_HEADER:
        raise ValueError("%s:1: header is not %s"
                         % (path, ",".join(SPECTRUM_HEADER)))
    per_window = MOMENT_COUNT + ALFA_COUNT
    body = [(n, line.strip()) for n, line in enumerate(lines[1:], 2)
            if line.strip()]
    if len(body) % per_window:
        raise ValueError("%s: %d rows, not a whole number of windows of %d "
                         "rows" % (path, len(body), per_window))
    windows = len(body) // per_window
    time = np.empty(windows)
    q = np.empty(MOMENT_COUNT)
    tables = {key: np.empty((windows, count)) for key, count in (
        ("h", MOMENT_COUNT), ("tau", MOMENT_COUNT), ("alpha", ALFA_COUNT),
        ("f_alpha", ALFA_COUNT))}
    for k, (number, line) in enumerate(body):
        w, j = divmod(k, per_window)
        cells = line.split(",")
        try:
            if len(cells) != len(SPECTRUM_HEADER):
                raise ValueError("%d values, expected %d"
                                 % (len(cells), len(SPECTRUM_HEADER)))
            if int(cells[0]) != w + 1:
                raise ValueError("window %s where window %d was due"
                                 % (cells[0], w + 1))
            t = _csv_number(cells[1])
            if j == 0:
                time[w] = t
            elif t != time[w] and not (math.isnan(t) and
                                       math.isnan(time[w])):
                raise ValueError("time %s differs within window %d"
                                 % (cells[1], w + 1))
            if j < MOMENT_COUNT:
                if any(cells[5:]):
                    raise ValueError("a q row with m, alpha or f")
                order = _csv_number(cells[2])
                if w == 0:
                    q[j] = order
                elif order != q[j]:
                    raise ValueError("q %s differs from window 1's" % cells[2])
                tables["h"][w, j] = _csv_number(cells[3])
                tables["tau"][w, j] = _csv_number(cells[4])
            else:
                m = j - MOMENT_COUNT
                if any(cells[2:5]):
                    raise ValueError("an alpha row with q, h or tau")
                if int(cells[5]) != m + 1:
                    raise ValueError("m %s where %d was due"
                                     % (cells[5], m + 1))
                tables["alpha"][w, m] = _csv_number(cells[6])
                tables["f_alpha"][w, m] = _csv_number(cells[7])
        except ValueError as e:
            raise ValueError("%s:%d: %s" % (path, number, e)) from None
    return dict(time=time, q=q, **tables)


def series_name(path: str) -> str:
    """The series a result file belongs to:
    "F(Alfa)/F(Alfa)_walk.txt.dat" -> "walk.txt",
    "F(Alfa)_walk.txt.spectrum.csv" -> "walk.txt"."""
    name = os.path.basename(path)
    if name.startswith("F(Alfa)_"):
        name = name[len("F(Alfa)_"):]
    for suffix in (".spectrum.csv", ".dat", ".csv"):
        if name.endswith(suffix) and len(name) > len(suffix):
            return name[:-len(suffix)]
    return name


def read_result(path: str) -> Result:
    """A result file of the mfwindow programs as a Result (settings None):
    mfwindow's F(Alfa)_<name>.dat (six 15-character fields per line), or
    mfwindow-batch's F(Alfa)_<name>.csv (the header
    time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz) or
    F(Alfa)_<name>.spectrum.csv (the whole spectra: time, q, h, tau, alpha,
    f_alpha only). The kind is told by the first line. The values read back
    as written: six digits from .dat, every double from CSV. Raises
    OSError, or ValueError naming the line that is not of the format; an
    empty file gives a result of no windows."""
    with open(path, "r", encoding="ascii", newline="") as f:
        lines = f.read().splitlines()
    first = lines[0] if lines else ""
    if first.startswith("window,"):
        arrays = _parse_spectrum_csv(lines, path)
    else:
        rows = (_parse_csv(lines, path) if first.startswith("time,")
                else _parse_dat(lines, path))
        table = np.array(rows, dtype=np.float64).reshape(len(rows),
                                                         len(ROW_KEYS))
        arrays = {key: table[:, i].copy() for i, key in enumerate(ROW_KEYS)}
    return Result(arrays, settings=None, channels=None,
                  name=series_name(path))
