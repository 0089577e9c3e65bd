"""Reading the result files of the mfwindow programs: the program's
fixed-width .dat lines, and the CSV and spectrum CSV of mfwindow-batch."""

from __future__ import annotations

import dataclasses
import json
import math
import os
import re
import urllib.parse
from typing import Any, Dict, List, Optional

import numpy as np

from ._result import NULL_KEYS, ROW_KEYS, Result, Settings, file_name
from ._settings import ROWS, settings_from_core

FIELD_WIDTH = 15
SPECTRUM_HEADER = ("window", "time", "q", "h", "tau", "m", "alpha", "f")
FQ_HEADER = ("window", "time", "q", "log_scale", "scale", "fq")
# The CSV's columns after the six values: the window's quality, then, when
# the run made surrogates, its null levels.
QUALITY_KEYS = ("status", "zero_share", "floor_share", "min_r2")
# The fits' standard errors and crossover scale, the CSV's last columns.
FIT_KEYS = ("h2_se", "width_se", "crossover_scale")
ALFA_COUNT = 100
# The columns as the files name them ("alfa_min"; a result's "alpha_min").
ROW_COLUMNS = tuple(file_name(key) for key in ROW_KEYS)
NULL_COLUMNS = tuple(file_name(key) for key in NULL_KEYS)

_NUMBER = re.compile(r"([+-]?(?:\d+\.?\d*|\.\d+))(?:E?([+-]\d+))?")
_NON_FINITE = {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}


class CutResultError(ValueError):
    """A result file that was cut: its series needs another run."""


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


def _parse_csv(lines: List[str], path: str) -> Dict[str, np.ndarray]:
    """The six values, and the columns that follow them when the header
    has them: the quality (status as words, the shares and min_r2) and the
    surrogate null levels."""
    header = tuple(lines[0].strip().split(","))
    if header[:len(ROW_COLUMNS)] != ROW_COLUMNS:
        raise ValueError("%s:1: header does not start with %s"
                         % (path, ",".join(ROW_COLUMNS)))
    # time_iso: the window's last stamp, when the stamps are dates.
    known = ROW_COLUMNS + QUALITY_KEYS + NULL_COLUMNS + FIT_KEYS + (
        "time_iso",)
    extra = [k for k in header if k not in known]
    if extra or len(set(header)) != len(header):
        raise ValueError("%s:1: unknown or repeated columns in the header: %s"
                         % (path, ",".join(extra) or ",".join(header)))
    rows = []
    for number, line in enumerate(lines[1:], 2):
        if not line.strip():
            continue
        cells = line.strip().split(",")
        if len(cells) != len(header):
            raise ValueError("%s:%d: %d values, expected %d"
                             % (path, number, len(cells), len(header)))
        try:
            rows.append([c if k in ("status", "time_iso") else _csv_number(c)
                         for k, c in zip(header, cells)])
        except ValueError as e:
            raise ValueError("%s:%d: %s" % (path, number, e)) from None
    arrays = {}
    for i, key in enumerate(header):
        column = [row[i] for row in rows]
        arrays[key] = np.array(column, dtype={
            "status": "<U16", "time_iso": "M8[ns]"}.get(key, np.float64))
    return arrays


def _parse_spectrum_csv(lines: List[str], path: str) -> Dict[str, np.ndarray]:
    """Per window one row window,time,q,h,tau,,, per moment order (200 by
    default), then 100 rows window,time,,,,m,alpha,f; windows counted from
    1, in order."""
    if tuple(lines[0].strip().split(",")) != SPECTRUM_HEADER:
        raise ValueError("%s:1: header is not %s"
                         % (path, ",".join(SPECTRUM_HEADER)))
    body = [(n, line.strip()) for n, line in enumerate(lines[1:], 2)
            if line.strip()]
    # The orders: the rows with a q before window 1's first alpha row.
    orders = next((k for k, (_, line) in enumerate(body)
                   if len(line.split(",")) > 2 and not line.split(",")[2]),
                  len(body))
    per_window = orders + ALFA_COUNT
    if len(body) % per_window:
        raise ValueError("%s: %d rows, not a whole number of windows of %d "
                         "rows" % (path, len(body), per_window))
    windows = len(body) // per_window
    time = np.empty(windows)
    q = np.empty(orders)
    tables = {key: np.empty((windows, count)) for key, count in (
        ("h", orders), ("tau", orders), ("alpha", ALFA_COUNT),
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
            if j < orders:
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
                m = j - orders
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


def _parse_fq_csv(lines: List[str], path: str) -> Dict[str, np.ndarray]:
    """Per window one row window,time,q,log_scale,scale,fq per scale and
    order, orders fastest; windows counted from 1, in order."""
    if tuple(lines[0].strip().split(",")) != FQ_HEADER:
        raise ValueError("%s:1: header is not %s"
                         % (path, ",".join(FQ_HEADER)))
    body = [(n, line.strip().split(",")) for n, line in
            enumerate(lines[1:], 2) if line.strip()]
    for number, cells in body:
        if len(cells) != len(FQ_HEADER):
            raise ValueError("%s:%d: %d values, expected %d"
                             % (path, number, len(cells), len(FQ_HEADER)))
    if not body:
        return dict(time=np.zeros(0), q=np.zeros(0),
                    scales=np.zeros(0, dtype=np.int64),
                    log_scale=np.zeros(0), fq=np.zeros((0, 0, 0)))
    # Window 1's rows give the grid: its orders (strictly ascending)
    # start again at every scale. Neighbouring scales may share a length.
    first = [cells for _, cells in body if cells[0] == body[0][1][0]]
    orders = next((k for k, cells in enumerate(first[1:], 1)
                   if float(cells[2]) <= float(first[k - 1][2])),
                  len(first))
    per_window = len(first)
    if per_window % orders or len(body) % per_window:
        raise ValueError("%s: %d rows, not whole windows of %d orders x "
                         "scales" % (path, len(body), orders))
    scales = per_window // orders
    windows = len(body) // per_window
    try:
        q = np.array([float(c[2]) for _, c in body[:orders]])
        grid = body[:per_window:orders]
        log_scale = np.array([float(c[3]) for _, c in grid])
        lengths = np.array([int(c[4]) for _, c in grid], dtype=np.int64)
        time = np.empty(windows)
        fq = np.empty((windows, orders, scales))
        for k, (number, cells) in enumerate(body):
            w, rest = divmod(k, per_window)
            s, j = divmod(rest, orders)
            where = "%s:%d: " % (path, number)
            if int(cells[0]) != w + 1:
                raise ValueError(where + "window %s where window %d was due"
                                 % (cells[0], w + 1))
            if (float(cells[2]) != q[j] or int(cells[4]) != lengths[s]
                    or float(cells[3]) != log_scale[s]):
                raise ValueError(where + "q or scale differs from window 1's")
            if rest == 0:
                time[w] = _csv_number(cells[1])
            fq[w, j, s] = _csv_number(cells[5])
    except ValueError as e:
        if str(e).startswith(path):
            raise
        raise ValueError("%s: %s" % (path, e)) from None
    return dict(time=time, q=q, scales=lengths, log_scale=log_scale, fq=fq)


def series_name(path: str) -> str:
    """The series a result file belongs to:
    "F(Alfa)/F(Alfa)_walk.txt.dat" -> "walk.txt",
    "F(Alfa)_walk.txt.spectrum.csv" -> "walk.txt",
    "F(Alfa)@2_walk.txt.dat" -> "walk.txt" (column 2)."""
    name = os.path.basename(path)
    name = re.sub(r"^F\(Alfa\)(@[^_/]*)?_", "", name)
    for suffix in (".spectrum.csv", ".fq.csv", ".dat", ".csv"):
        if name.endswith(suffix) and len(name) > len(suffix):
            return name[:-len(suffix)]
    return name


def _result_name(path: str, sidecar: Optional[Dict[str, Any]]) -> str:
    """The series of a result file as the figures title it: its name, and
    for a column other than the first which column, as mfwindow-batch
    names it ("eeg.csv column Cz"), so that the results of one file's
    columns are told apart."""
    name = series_name(path)
    column = ((sidecar or {}).get("series") or {}).get("column")
    if column is not None:
        if column.get("number", 1) != 1:
            return "%s column %s" % (name, column.get("name")
                                     or column["number"])
        return name
    chosen = re.match(r"^F\(Alfa\)@([^_/]*)_", os.path.basename(path))
    return name if chosen is None else "%s column %s" % (
        name, urllib.parse.unquote(chosen.group(1)))


def read_sidecar(path: str) -> Optional[Dict[str, Any]]:
    """The JSON sidecar of result file `path` ("<result>.json"; for a
    spectrum or F_q(s) CSV the main result's), or None when there is
    none."""
    places = [path + ".json"]
    for suffix in (".spectrum.csv", ".fq.csv"):
        if path.endswith(suffix):
            base = path[:-len(suffix)]
            places = [base + ".csv.json", base + ".dat.json"]
    for place in places:
        if os.path.isfile(place):
            with open(place, "r", encoding="utf-8", errors="replace") as f:
                return json.load(f)
    return None


# A date alone (pandas' date index) is that day's midnight.
_STAMP = re.compile(r"(\d{4}-\d\d-\d\d)(?:[T ](\d\d:\d\d:\d\d)"
                    r"(?:\.(\d{1,9}))?(Z|[+-]\d\d:\d\d)?)?$")


def _time_origin(stamp: Optional[str]) -> Optional[np.datetime64]:
    """The first ISO 8601 stamp of a --time-column run as UTC
    datetime64[ns] (to the nanosecond, as the batch tool reads it), or
    None when the run had no date-time stamps."""
    match = None if stamp is None else _STAMP.match(stamp.strip())
    if match is None:
        return None
    day, clock, fraction, zone = match.groups()
    when = np.datetime64(day + "T" + (clock or "00:00:00"), "ns")
    when += np.timedelta64(int((fraction or "0").ljust(9, "0")), "ns")
    if zone and zone != "Z":
        minutes = int(zone[1:3]) * 60 + int(zone[4:6])
        when -= np.timedelta64(minutes if zone[0] == "+" else -minutes, "m")
    return when


def _sidecar_settings(sidecar: Dict[str, Any]) -> Settings:
    """The settings a sidecar names, as analyse() would have settled
    them."""
    s = sidecar["settings"]
    fs = s["fs"] or None
    known = {k: s.get(k, ROWS[k]["default"]) for k in ROWS
             if not ROWS[k]["file"]}
    return settings_from_core(Settings, known, t0=float(s["t0"]),
                              dt=None if fs else float(s["dt"]), fs=fs)


def _check_window_count(arrays: Dict[str, np.ndarray], recorded: Any,
                        path: str) -> None:
    """Refuses a result whose windows are not those its sidecar says the
    run wrote: fewer is a file cut at a line end (CutResultError), more a
    sidecar of another run."""
    have = int(np.asarray(arrays["time"]).shape[0])
    if have < recorded:
        raise CutResultError(
            "%s: cut file: it holds %d window%s, and its sidecar says the "
            "run wrote %d (the file was cut at a line end, or copied before "
            "it was whole)" % (path, have, "" if have == 1 else "s",
                               recorded))
    if have > recorded:
        raise ValueError("%s: holds %d windows, and its sidecar says the run "
                         "wrote %d: the sidecar belongs to another run"
                         % (path, have, recorded))


def read_result(path: str) -> Result:
    """A result file of the mfwindow programs as a Result:
    mfwindow's F(Alfa)_<name>.dat (six 15-character fields per line), or
    mfwindow-batch's F(Alfa)_<name>.csv (the header
    time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz) or
    F(Alfa)_<name>.spectrum.csv (the whole spectra: time, q, h, tau, alpha,
    f_alpha only) or F(Alfa)_<name>.fq.csv (F_q(s) of every window: time,
    q, scales, log_scale and fq, windows x q x scales). The CSV's quality
    columns (status, zero_share, floor_share, min_r2) and, from a run with
    surrogates, its null levels (width_null_median, width_null_p95,
    width_p, alfa_sz_null_median, alfa_sz_null_p95, alfa_sz_p,
    iaaft_at_cap, surrogates_used) come along
    as arrays of the same names. The kind is told by the first line. The
    values read back as written: six digits from .dat, every double from
    CSV. With the result's JSON sidecar beside it (read_sidecar) the
    result has the settings it names (captions, time units) and its notes
    as messages, and a run over ISO 8601 time stamps (--time-column) has
    datetime64 times again; without one, settings is None. Raises
    OSError, or ValueError naming the line that is not of the format;
    CutResultError (a ValueError) for a file whose last line has no line
    end, an empty CSV, or, with a sidecar, a file of fewer windows than
    the sidecar says were written (a file cut exactly at a line end),
    which no complete run writes; ValueError for one of more. An empty
    .dat gives a result of no windows."""
    with open(path, "rb") as f:
        data = f.read()
    # Every record ends with its line end: without one, the last line may
    # be a number cut short, not a shorter number.
    if data and not data.endswith(b"\n"):
        raise CutResultError("%s: cut file: its last line has no line end "
                             "(the run that wrote it was stopped, or the "
                             "file was cut)" % path)
    if not data and path.endswith(".csv"):
        raise CutResultError("%s: empty file: a CSV result has at least "
                             "its header row" % path)
    lines = data.decode("ascii").splitlines()
    first = lines[0] if lines else ""
    if first.startswith("window,time,q,log_scale"):
        arrays = _parse_fq_csv(lines, path)
    elif first.startswith("window,"):
        arrays = _parse_spectrum_csv(lines, path)
    elif first.startswith("time,"):
        arrays = _parse_csv(lines, path)
    else:
        rows = _parse_dat(lines, path)
        table = np.array(rows, dtype=np.float64).reshape(len(rows),
                                                         len(ROW_KEYS))
        arrays = {key: table[:, i].copy() for i, key in enumerate(ROW_KEYS)}
    sidecar = read_sidecar(path)
    if sidecar is not None and "windows" in sidecar:
        _check_window_count(arrays, sidecar["windows"], path)
    settings = None if sidecar is None else _sidecar_settings(sidecar)
    origin = None if sidecar is None else _time_origin(
        sidecar.get("time_origin"))
    if "time_iso" in arrays:  # the stamps themselves
        arrays["time"] = arrays.pop("time_iso")
    elif origin is not None:
        # Seconds since the first stamp, as date-times again.
        arrays["time"] = origin + np.rint(
            np.asarray(arrays["time"]) * 1e9).astype(np.int64).astype("m8[ns]")
    if origin is not None:
        settings = dataclasses.replace(settings, t0=origin)
    return Result(arrays,
                  settings=settings,
                  channels=None, name=_result_name(path, sidecar),
                  messages=() if sidecar is None else sidecar["notes"])
