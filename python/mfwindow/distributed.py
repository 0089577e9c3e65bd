"""mfwindow.distributed: many series on a Dask cluster, collected into one
table.

Each series is one task on the cluster: a file is read and analysed the way
mfwindow-batch reads and analyses each of its series (its text rules, .npy
arrays, --column/--header/--delimiter, --on-bad-sample), and with `out` the
task writes the very result files mfwindow-batch writes. A series that
fails (a missing or unreadable file, a bad sample under on_bad_sample
"error") becomes one row naming the failure; every other series completes.
Workers analyse with one thread each unless told otherwise, so that the
cluster, not the library's own threads, spreads the work.

Needs Dask's distributed scheduler (Debian: python3-distributed) and pandas.
"""

from __future__ import annotations

import os
from typing import Any, Dict, Iterable, List, Mapping, Optional

import numpy as np

from . import _core
from ._analyse import _method
from ._result import NULL_KEYS

# The per-window columns, in the order of mfwindow-batch's CSV.
_COLUMNS = ("time", "alfa_min", "alfa_max", "alfa_width", "alfa_sz",
            "f_alfa_sz")
# The window's quality, after its status, as mfwindow-batch's CSV has them.
_QUALITY = ("zero_share", "floor_share", "min_r2")
# The fits' standard errors and crossover scale, the CSV's last columns.
_FITS = ("h2_se", "width_se", "crossover_scale")
_SHIFT_OF_WINDOW = 2**31 - 1
# The method and surrogate keywords of mfwindow.analyse that the tasks take.
_METHOD_DEFAULTS: Dict[str, Any] = dict(
    profile=False, fluctuation="range", q=None, q_min=-10.0, q_max=10.0,
    q_count=200, max_scale=None, scale_count=200, fit_range=None, fq=False,
    range_floor=0.0, surrogates=0, surrogate="iaaft", seed=0)


def _settings(window: int, shift: Optional[int] = None, order: int = 2,
              min_scale: int = 20, increments: bool = False,
              t0: float = 0.0, dt: float = 1.0, spectrum: bool = False,
              threads: int = 1, **method: Any) -> Dict[str, Any]:
    return dict(increments=int(increments), order=int(order),
                window=int(window), min_scale=int(min_scale),
                shift=_SHIFT_OF_WINDOW if shift is None else int(shift),
                t0=float(t0), dt=float(dt), threads=int(threads),
                spectrum=bool(spectrum),
                method=_method(**dict(_METHOD_DEFAULTS, **method)))


def _frame(series: str, columns: Optional[Dict[str, np.ndarray]],
           failure: Optional[str], notes: List[str], null: bool) -> Any:
    """One series' rows: one per window, or one row naming its failure;
    with `null` also the surrogate null levels, as in mfwindow-batch's
    CSV."""
    import pandas as pd
    nulls = NULL_KEYS if null else ()
    if failure is not None or len(columns["time"]) == 0:
        # A series without a window still shows, so that nothing is lost.
        return pd.DataFrame({"series": [series], "window": [0],
                             **{c: [np.nan] for c in _COLUMNS},
                             "status": ["failed" if failure is not None
                                        else "no window"],
                             **{c: [np.nan] for c in _QUALITY + nulls
                                + _FITS},
                             "message": [failure if failure is not None
                                         else "; ".join(notes)]})
    n = len(columns["time"])
    frame = {"series": [series] * n,
             "window": np.arange(1, n + 1, dtype=np.int64)}
    frame.update({c: columns[c] for c in _COLUMNS})
    frame["status"] = list(columns["status"])
    frame.update({c: columns[c] for c in _QUALITY + nulls + _FITS})
    frame["message"] = ["; ".join(notes)] * n
    return pd.DataFrame(frame)


def _file_task(path: str, base_dir: str, out: Optional[str],
               read: Dict[str, str], csv: bool,
               settings: Dict[str, Any]) -> Any:
    null = settings["method"]["surrogates"] > 0
    try:
        got = _core.analyse_file(path, base_dir=base_dir,
                                 out_dir=out or "", csv=csv, **read,
                                 **settings)
    except (ValueError, RuntimeError, MemoryError) as e:
        return _frame(path, None, str(e), [], null)
    return _frame(path, got["columns"], got["failure"], got["notes"], null)


def _array_task(name: str, values: Any, settings: Dict[str, Any],
                nan: str) -> Any:
    import warnings
    from . import analyse
    keywords = {k: settings[k] for k in ("order", "min_scale", "t0", "dt",
                                         "threads", "spectrum")}
    keywords["increments"] = bool(settings["increments"])
    method = settings["method"]
    keywords.update({k: method[k] for k in _METHOD_DEFAULTS
                     if k not in ("fit_range", "max_scale")})
    keywords["max_scale"] = method["max_scale"] or None
    keywords["fit_range"] = (method["fit_min"] or None,
                             method["fit_max"] or None)
    if keywords["q"] is not None:
        for k in ("q_min", "q_max", "q_count"):
            del keywords[k]
    null = method["surrogates"] > 0
    if settings["shift"] != _SHIFT_OF_WINDOW:
        keywords["shift"] = settings["shift"]
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            result = analyse(values, window=settings["window"], nan=nan,
                             **keywords)
    except (ValueError, TypeError, MemoryError) as e:
        return _frame(name, None, str(e), [], null)
    columns = {c: np.asarray(result[c])
               for c in _COLUMNS + ("status",) + _QUALITY
               + (NULL_KEYS if null else ()) + _FITS}
    return _frame(name, columns, None, [str(w.message) for w in caught],
                  null)


def _known(method: Mapping[str, Any]) -> None:
    unknown = sorted(set(method) - set(_METHOD_DEFAULTS))
    if unknown:
        raise TypeError("unexpected keyword arguments: %s"
                        % ", ".join(unknown))


class _Cluster:
    """The given client, or a LocalCluster with one single-threaded worker
    per core for the length of one call."""

    def __init__(self, client: Any) -> None:
        self.client = client
        self.own: List[Any] = []

    def __enter__(self) -> Any:
        if self.client is None:
            from dask.distributed import Client, LocalCluster
            cluster = LocalCluster(n_workers=_cores(), threads_per_worker=1,
                                   processes=True, dashboard_address=None)
            self.client = Client(cluster)
            self.own = [self.client, cluster]
        return self.client

    def __exit__(self, *exc: Any) -> None:
        for thing in self.own:
            thing.close()


def _cores() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:
        return max(1, os.cpu_count() or 1)


def _collect(client: Any, futures: List[Any]) -> Any:
    import pandas as pd
    frames = client.gather(futures)
    table = pd.concat(frames, ignore_index=True)
    return table


def analyse_files(paths: Iterable[str], client: Any = None,
                  out: Optional[str] = None, *, window: int,
                  shift: Optional[int] = None, order: int = 2,
                  min_scale: int = 20, increments: bool = False,
                  t0: float = 0.0, dt: float = 1.0, column: Any = None,
                  header: Optional[str] = None,
                  delimiter: Optional[str] = None,
                  on_bad_sample: str = "error", format: str = "dat",
                  spectrum: bool = False, threads: int = 1,
                  **method: Any) -> Any:
    """Analyses each series file as one task on a Dask cluster and returns
    one pandas DataFrame.

    Parameters
    ----------
    paths : iterable of str
        Series files, relative to the current folder or absolute, named as
        mfwindow-batch would be given them (the result files are named
        after them).
    client : dask.distributed.Client or None
        The cluster; None starts a LocalCluster with one single-threaded
        worker per core for this call.
    out : str or None
        A folder: each task also writes the result files that mfwindow-batch
        --out writes for the same settings and format, byte for byte.
    window, shift, order, min_scale, increments, t0, dt
        The analysis, as mfwindow.analyse and mfwindow-batch take them.
    column, header, delimiter, on_bad_sample
        How files are read, as mfwindow-batch's --column, --header,
        --delimiter and --on-bad-sample ("error", "stop", "skip").
    format : {"dat", "csv"}
        The result files' format (with out).
    spectrum : bool
        With out, also write each series' spectrum CSV.
    threads : int
        Threads per task (1: the cluster spreads the work).
    **method
        The method and surrogate keywords of mfwindow.analyse (profile,
        fluctuation, q, q_min, q_max, q_count, max_scale, scale_count,
        fit_range, range_floor, surrogates, surrogate, seed; fq with out
        writes each series' .fq.csv), as mfwindow-batch's flags of the same
        names.

    Returns
    -------
    pandas.DataFrame
        Columns series, window (counted from 1), time, alfa_min, alfa_max,
        alfa_width, alfa_sz, f_alfa_sz, status, zero_share, floor_share,
        min_r2 and message: one row per window of each series, in the
        order of `paths`, with the window's quality as mfwindow-batch's CSV
        gives it (status "ok", "degenerate", "non_finite_input",
        "flat_segments" or "not_concave"); a series that failed has one row
        with status "failed" and the reason in message (its window is 0 and
        its values NaN), and a series too short for one window one row with
        status "no window". message also holds a series' warnings (a series
        that ended early, samples skipped). With surrogates > 0 the null
        levels width_null_median, width_null_p95, width_p,
        alfa_sz_null_median, alfa_sz_null_p95 and alfa_sz_p follow min_r2,
        as in mfwindow-batch's CSV.
    """
    if format not in ("dat", "csv"):
        raise ValueError("format must be 'dat' or 'csv', got %r" % (format,))
    if on_bad_sample not in ("error", "stop", "skip"):
        raise ValueError("on_bad_sample must be 'error', 'stop' or 'skip', "
                         "got %r" % (on_bad_sample,))
    _known(method)
    settings = _settings(window, shift, order, min_scale, increments, t0, dt,
                         spectrum, threads, **method)
    # Settings out of range are refused or clamped before any task runs.
    _core.settle(settings["increments"], settings["order"],
                 settings["window"], settings["min_scale"],
                 settings["shift"], settings["t0"], settings["dt"],
                 settings["threads"], settings["method"])
    read = {"column": "" if column is None else str(column),
            "header": header or "", "delimiter": delimiter or "",
            "on_bad_sample": on_bad_sample}
    base = os.getcwd()
    out_dir = None if out is None else os.path.join(base, os.fspath(out))
    names = [os.fspath(p) for p in paths]
    with _Cluster(client) as c:
        futures = [c.submit(_file_task, name, base, out_dir, read,
                            format == "csv", settings, pure=False)
                   for name in names]
        return _collect(c, futures)


def analyse_arrays(arrays: Mapping[str, Any], client: Any = None, *,
                   window: int, shift: Optional[int] = None, order: int = 2,
                   min_scale: int = 20, increments: bool = False,
                   t0: float = 0.0, dt: float = 1.0, nan: str = "error",
                   threads: int = 1, **method: Any) -> Any:
    """Analyses each array of `arrays` (name -> samples) as one task on a
    Dask cluster with mfwindow.analyse, and returns one pandas DataFrame
    with the columns of analyse_files; nan is mfwindow.analyse's policy for
    non-finite samples ("error" makes such a series a failed row). The
    method and surrogate keywords of mfwindow.analyse pass through (fq
    aside: the table holds no F_q(s))."""
    _known(method)
    if method.get("fq"):
        raise ValueError("fq: analyse_arrays returns a table, which holds no "
                         "F_q(s); use mfwindow.analyse(..., fq=True)")
    settings = _settings(window, shift, order, min_scale, increments, t0, dt,
                         False, threads, **method)
    with _Cluster(client) as c:
        futures = [c.submit(_array_task, str(name), np.asarray(values),
                            settings, nan, pure=False)
                   for name, values in arrays.items()]
        return _collect(c, futures)
