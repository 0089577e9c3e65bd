"""mfwindow.distributed: many series on a Dask cluster, one Result per
series.

Each series is one task on the cluster: a file is read and analysed the way
mfwindow-batch reads and analyses each of its series (its text rules, .npy
arrays, --column/--header/--delimiter, --on-bad-sample), and with `out` the
task writes the very result files mfwindow-batch writes; an array is
analysed by mfwindow.analyse. The settings are mfwindow.analyse's keywords,
checked once by analyse itself before any task runs.

Every series comes back: one that fails (a missing or unreadable file, a
bad sample under on_bad_sample "error", an array analyse refuses, a worker
that died running it more often than the scheduler's retries allow) is a
Result with no windows whose ``failure`` says why, naming the series.
Workers analyse with one thread each unless told otherwise, so that the
cluster, not the library's own threads, spreads the work.

Needs Dask's distributed scheduler and pandas: pip install
"mfwindow[distributed]" (Debian: python3-distributed python3-pandas).
"""

from __future__ import annotations

import dataclasses
import os
import warnings
from collections.abc import Mapping
from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional
from typing import Sequence, Tuple

import numpy as np

from . import _core
from ._analyse import ClampWarning, ShortSeriesWarning
from ._result import NULL_KEYS, ROW_KEYS, Result, Settings
from ._errors import SettingError, missing_extra
from ._settings import ROWS, core_from_record, core_settings, default

# The window's quality, after its status, as mfwindow-batch's CSV has them.
_QUALITY = ("zero_share", "floor_share", "min_r2")
# The fits' standard errors and crossover scale, the CSV's last columns.
_FITS = ("h2_se", "width_se", "crossover_scale")
# The statuses a window can have, as mfwindow-batch's CSV writes them.
WINDOW_STATUSES = ("ok", "degenerate", "non_finite_input", "overflow",
                   "flat_segments", "short_for_order", "crossover",
                   "poor_fit", "not_concave", "gap", "filled")
# A window whose width has a rank p-value below this rejects the null.
NULL_LEVEL = 0.05
# analyse's keywords that make no sense for a task on a worker.
_NOT_FOR_TASKS = {"progress": "a task on a worker shows no progress"}


def _validated(keywords: Dict[str, Any], not_here: Dict[str, str]
               ) -> Tuple[Dict[str, Any], Settings]:
    """The keywords with threads=1 unless given, and the settings analyse
    settles them to. analyse itself checks them, on a series of no samples,
    so that a value it refuses is refused here, before any task runs, with
    its own message; a clamp warns here, once."""
    from . import analyse
    for name, why in dict(_NOT_FOR_TASKS, **not_here).items():
        if name in keywords:
            raise TypeError("%s cannot be given here: %s" % (name, why))
    if "window" not in keywords:
        raise TypeError("missing required keyword argument 'window'")
    keywords = dict(keywords)
    keywords.setdefault("threads", 1)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        settings = analyse(np.zeros(0), **keywords).settings
    # The kernel asked for, which each task reports as the one that ran.
    settings = dataclasses.replace(settings, kernel=keywords.get(
        "kernel", default("kernel")))
    for warning in caught:
        if not issubclass(warning.category, ShortSeriesWarning):
            warnings.warn(warning.message, stacklevel=3)
    return keywords, settings


def _file_settings(s: Settings, nan: str) -> Any:
    """The settled settings as the core's analyse_file takes them, with
    `nan` its policy for bad samples. The core computes time marks on the
    plain float axis only; the others come from the window positions (see
    _file_task)."""
    plain = not s.is_datetime
    over = dict(nan=nan, t0=s.t0 if plain else 0.0,
                dt=s.dt if plain and s.dt is not None else None,
                fs=s.fs if plain else None)
    return _core.settle(core_from_record(s, **over))


def _named(name: str, message: str) -> str:
    return message if name in message else "%s: %s" % (name, message)


def _failed(name: str, settings: Settings, why: str) -> Result:
    empty = {key: np.zeros(0) for key in ROW_KEYS + _QUALITY + _FITS}
    empty["status"] = np.zeros(0, dtype="<U16")
    return Result(empty, settings, None, name=name,
                  failure=_named(name, why))


def summary_row(result: Result) -> Dict[str, Any]:
    """One series in one row: its status ("ok", "failed" or "no window"),
    its window count and how many windows have each quality status, the
    median and interquartile range of alpha_width over the windows where it
    is finite, with surrogates the number of windows whose width_p is below
    NULL_LEVEL, and its failure or warnings."""
    windows = result.n_windows
    row: Dict[str, Any] = {
        "series": result.name,
        "status": ("failed" if result.failure is not None
                   else "no window" if windows == 0 else "ok"),
        "windows": windows}
    status = result["status"] if windows else np.zeros(0, dtype="<U16")
    for word in WINDOW_STATUSES:
        row[word] = int(np.count_nonzero(status == word))
    width = np.asarray(result["alpha_width"]) if windows else np.zeros(0)
    width = width[np.isfinite(width)]
    if width.size:
        low, middle, high = np.percentile(width, [25, 50, 75])
        row["width_median"], row["width_iqr"] = middle, high - low
    else:
        row["width_median"] = row["width_iqr"] = np.nan
    settings = result.settings
    if settings is not None and settings.surrogates > 0:
        p = np.asarray(result["width_p"]) if windows else np.zeros(0)
        row["null_rejections"] = int(np.count_nonzero(p < NULL_LEVEL))
    row["message"] = (result.failure if result.failure is not None
                      else "; ".join(result.messages))
    return row


def _file_task(path: str, base_dir: str, out: Optional[str],
               read: Dict[str, str], csv: bool, settings: Settings,
               summary: bool) -> Any:
    try:
        files = dict(read)
        nan = files.pop("on_bad_sample")
        got = _core.analyse_file(path, _file_settings(settings, nan),
                                 core_settings(files), base_dir=base_dir,
                                 out_dir=out or "", csv=csv)
    except Exception as e:  # noqa: BLE001 - every failure is a result
        result = _failed(path, settings, "%s" % e)
    else:
        if got["failure"] is not None:
            result = _failed(path, settings, got["failure"])
        else:
            arrays = dict(got["columns"])
            settings = dataclasses.replace(settings, kernel=got["kernel"],
                                           scheduler=got["scheduler"])
            if read.get("time_column"):
                # The file's stamps set the axis: ISO ones as dates.
                settings = dataclasses.replace(settings, t0=got["t0"],
                                               dt=got["dt"])
                if got["origin_ns"] is not None:
                    step = np.timedelta64(round(got["dt"] * 1e9), "ns")
                    settings = dataclasses.replace(
                        settings, t0=np.datetime64(got["origin_ns"], "ns")
                        - step)
            if settings.fs is not None or settings.is_datetime:
                count = arrays["time"].shape[0]
                arrays["time"] = settings.times(
                    settings.window + settings.shift * np.arange(count))
            arrays["status"] = np.asarray(arrays["status"], dtype="<U16")
            result = Result(arrays, settings, None, name=path,
                            messages=[_named(path, note)
                                      for note in got["notes"]])
    return summary_row(result) if summary else result


def _array_task(name: str, values: Any, keywords: Dict[str, Any],
                settings: Settings, summary: bool) -> Any:
    from . import analyse
    try:
        shape = np.shape(values)
        if len(shape) != 1:
            raise ValueError("a series is one 1-D array, got shape %s; give "
                             "each channel a name of its own" % (shape,))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            result = analyse(values, **keywords)
    except Exception as e:  # noqa: BLE001 - every failure is a result
        result = _failed(name, settings, "%s" % e)
    else:
        # Clamps were reported to the caller when the keywords were checked.
        result = Result(result, result.settings, None, name=name,
                        messages=[_named(name, str(w.message))
                                  for w in caught
                                  if not issubclass(w.category,
                                                    ClampWarning)])
    return summary_row(result) if summary else result


class SeriesResults(Mapping):
    """What analyse_files and analyse_arrays return: series name -> its
    Result (with summary=True: its summary_row() dict), in the order given,
    every series there. A series that failed has a Result with no windows
    and its reason in ``failure``; ``failed`` lists those series."""

    def __init__(self, items: Sequence[Tuple[str, Any]], summary: bool,
                 null: bool) -> None:
        self._items = dict(items)
        self.summary = summary
        self._null = null

    def __getitem__(self, name: str) -> Any:
        return self._items[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._items)

    def __len__(self) -> int:
        return len(self._items)

    @property
    def failed(self) -> Tuple[str, ...]:
        """The series that failed, in order."""
        return tuple(name for name, value in self._items.items()
                     if (value["status"] == "failed" if self.summary
                         else value.failure is not None))

    def to_pandas(self) -> Any:
        """One pandas DataFrame. With summary=True one row per series (the
        columns of summary_row()). Otherwise one row per window of each
        series: series, window (counted from 1), time, alpha_min,
        alpha_max, alpha_width, alpha_sz, f_alpha_sz, status, zero_share,
        floor_share, min_r2, with surrogates the null levels, and message
        (the series' warnings); a series that failed or had no window has
        one row, window 0, values NaN, status "failed" (the reason in
        message) or "no window"."""
        import pandas as pd
        if self.summary:
            return pd.DataFrame(list(self._items.values()))
        frames = [_frame(name, result, self._null)
                  for name, result in self._items.items()]
        if not frames:
            return pd.DataFrame(columns=["series", "window", *ROW_KEYS,
                                         "status", *_QUALITY, *_FITS,
                                         "message"])
        return pd.concat(frames, ignore_index=True)

    def __repr__(self) -> str:
        return "<mfwindow.distributed.SeriesResults: %d series, %d failed%s>" \
            % (len(self), len(self.failed), ", summaries" if self.summary
               else "")


def _frame(name: str, result: Result, null: bool) -> Any:
    """One series' rows of the table."""
    import pandas as pd
    nulls = NULL_KEYS if null else ()
    n = result.n_windows
    if result.failure is not None or n == 0:
        return pd.DataFrame({
            "series": [name], "window": [0],
            **{c: [np.nan] for c in ROW_KEYS},
            "status": ["failed" if result.failure is not None
                       else "no window"],
            **{c: [np.nan] for c in _QUALITY + nulls + _FITS},
            "message": [result.failure if result.failure is not None
                        else "; ".join(result.messages)]})
    frame: Dict[str, Any] = {"series": [name] * n,
                             "window": np.arange(1, n + 1, dtype=np.int64)}
    frame.update({c: result[c] for c in ROW_KEYS})
    frame["status"] = list(result["status"])
    frame.update({c: result[c] for c in _QUALITY + nulls + _FITS})
    frame["message"] = ["; ".join(result.messages)] * n
    return pd.DataFrame(frame)


class _Cluster:
    """The given client, or a LocalCluster with one single-threaded worker
    per core for the length of one call."""

    def __init__(self, client: Any) -> None:
        self.client = client
        self.own: List[Any] = []

    def __enter__(self) -> Any:
        if self.client is None:
            Client, LocalCluster = _dask("Client", "LocalCluster")
            cluster = LocalCluster(n_workers=_cores(), threads_per_worker=1,
                                   processes=True, dashboard_address=None)
            self.client = Client(cluster)
            self.own = [self.client, cluster]
        return self.client

    def __exit__(self, *exc: Any) -> None:
        for thing in self.own:
            thing.close()


def _dask(*names: str) -> Tuple[Any, ...]:
    """The named objects of dask.distributed."""
    try:
        import dask.distributed
    except ImportError:
        raise missing_extra("mfwindow.distributed", "Dask's distributed",
                            "distributed", "python3-distributed") from None
    return tuple(getattr(dask.distributed, name) for name in names)


def _cores() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:
        return max(1, os.cpu_count() or 1)


def _lost(name: str, settings: Settings, error: Any) -> Result:
    """The Result of a task that did not finish: its worker died more often
    than the retries allow (KilledWorker), it raised, or (no error) it was
    cancelled."""
    if type(error).__name__ == "KilledWorker":
        why = ("the workers analysing it died, more often than the "
               "scheduler's retries allow (%s)" % error)
    elif error is None:
        why = "the task was cancelled"
    else:
        why = "the task failed: %s: %s" % (type(error).__name__, error)
    return _failed(name, settings, why)


def _run(client: Any, names: List[str], submit: Callable[[Any, int], Any],
         settings: Settings, summary: bool) -> SeriesResults:
    """One task per series; every series' value, in order, whatever the
    workers do."""
    (as_completed,) = _dask("as_completed")
    got: List[Any] = [None] * len(names)
    with _Cluster(client) as c:
        futures = [submit(c, k) for k in range(len(names))]
        where = {future.key: k for k, future in enumerate(futures)}
        # Fetched a batch at a time as they finish, the futures then let go
        # so that the workers free the results.
        finishing = as_completed(futures)
        for batch in finishing.batches():
            for future, value in _fetched(c, batch, finishing):
                k = where[future.key]
                if not isinstance(value, (Result, dict)):
                    value = _lost(names[k], settings, value)
                    if summary:
                        value = summary_row(value)
                got[k] = value
                futures[k] = None
    return SeriesResults(list(zip(names, got)), summary,
                         settings.surrogates > 0)


def _fetched(client: Any, batch: List[Any], finishing: Any
             ) -> List[Tuple[Any, Any]]:
    """Each future of the batch with its value, or with its exception when
    it failed. A future whose result was lost with its worker before it
    was fetched is computed again: it goes back into `finishing`. One
    gather for the batch; future by future only when that raised (a lost
    result whose rerun failed)."""
    # The statuses change under us while workers die: read them once.
    status = {future.key: future.status for future in batch}
    for future in batch:
        if status[future.key] not in ("finished", "error", "cancelled"):
            finishing.add(future)
    done = [f for f in batch if status[f.key] == "finished"]
    try:
        values = client.gather(done)
    except Exception:  # noqa: BLE001 - sorted out future by future below
        values = []
        for future in done:
            try:
                values.append(future.result())
            except Exception as e:  # noqa: BLE001 - the series' failure
                values.append(e)
    pairs = list(zip(done, values))
    for future in batch:
        if status[future.key] == "error":
            pairs.append((future, future.exception()))
        elif status[future.key] == "cancelled":
            pairs.append((future, None))
    return pairs


def _distinct(names: List[str]) -> None:
    seen = set()
    for name in names:
        if name in seen:
            raise ValueError("the series %r is named twice" % name)
        seen.add(name)


def analyse_files(paths: Iterable[str], client: Any = None,
                  out: Optional[str] = None, *, column: Any = None,
                  header: Optional[str] = None,
                  delimiter: Optional[str] = None,
                  time_column: Any = None,
                  on_bad_sample: str = "error", format: str = "dat",
                  summary: bool = False, **keywords: Any) -> SeriesResults:
    """Analyses each series file as one task on a Dask cluster.

    Parameters
    ----------
    paths : iterable of str
        Series files, relative to the current folder or absolute, named as
        mfwindow-batch would be given them (the result files are named
        after them); each at most once.
    client : dask.distributed.Client or None
        The cluster; None starts a LocalCluster with one single-threaded
        worker per core for this call.
    out : str or None
        A folder: each task also writes the result files that mfwindow-batch
        --out writes for the same settings and format, byte for byte
        (spectrum=True adds the spectrum CSV, fq=True the F_q(s) CSV).
    column, header, delimiter, on_bad_sample
        How files are read, as mfwindow-batch's --column, --header,
        --delimiter and --on-bad-sample ("error", "stop", "skip", "mask").
        A list of columns analyses each in turn, as --column a,b: the
        results are keyed "path@column", and result files of a column other
        than 1 are named F(Alfa)@<column>_<name>..., as the batch tool names
        them.
    time_column : int, str or None
        As mfwindow-batch's --time-column: the column of the files' own
        time stamps (numbers, or ISO 8601 date-times, which give datetime64
        times), which must rise evenly and set the time axis; not with fs,
        t0, dt or on_bad_sample="skip".
    format : {"dat", "csv"}
        The result files' format (with out).
    summary : bool
        Each task returns one summary_row() instead of every window, for
        many long series.
    **keywords
        mfwindow.analyse's keywords (window, shift, order, ..., t0, dt or
        fs, the method and surrogate keywords), checked by analyse before
        any task runs; threads is 1 unless given. nan and progress are not
        taken (on_bad_sample says what a bad sample does). The result files
        hold times from a numeric t0 and dt or fs, so out cannot be given
        with a datetime t0.

    Returns
    -------
    SeriesResults
        path -> Result (settings, the quality status and columns, with
        surrogates the null levels; ``messages`` the series' warnings,
        ``failure`` why it failed); to_pandas() gives one table.
    """
    if format not in ("dat", "csv"):
        raise SettingError("format must be 'dat' or 'csv', got %r" % (format,),
                           "format")
    # The nan row's words, under the name the file readers give it.
    if on_bad_sample not in ROWS["nan"]["words"]:
        raise SettingError("on_bad_sample must be one of %s, got %r" % (
            ", ".join(repr(w) for w in ROWS["nan"]["words"]), on_bad_sample),
            "on_bad_sample")
    _, settings = _validated(keywords, {
        "nan": "files take on_bad_sample ('error', 'stop', 'skip' or "
               "'mask')"})
    if out is not None and settings.is_datetime:
        raise ValueError("out: the result files hold times from a numeric "
                         "t0 and dt or fs (mfwindow-batch --tini, --tstep, "
                         "--fs); give those, or leave out out=")
    if time_column is not None and (
            "fs" in keywords or "t0" in keywords or "dt" in keywords
            or on_bad_sample == "skip"):
        raise SettingError("time_column: the time stamps set the time axis "
                           "and keep each sample's place; leave out fs, t0, "
                           "dt and on_bad_sample='skip'", "time_column")
    several = isinstance(column, (list, tuple))
    files = dict(header=header, delimiter=delimiter, time_column=time_column)
    reads = [dict(files, column=c, on_bad_sample=on_bad_sample)
             for c in (column if several else [column])]
    for read in reads:  # refused here, before any task runs
        core_settings({k: v for k, v in read.items() if k != "on_bad_sample"})
    base = os.getcwd()
    out_dir = None if out is None else os.path.join(base, os.fspath(out))
    names = [os.fspath(p) for p in paths]
    _distinct(names)
    jobs = [(name, read) for name in names for read in reads]
    keys = [name + "@" + str(read["column"]) if several else name
            for name, read in jobs]
    _distinct(keys)
    return _run(client, keys, lambda c, k: c.submit(
        _file_task, jobs[k][0], base, out_dir, jobs[k][1], format == "csv",
        settings, summary, pure=False), settings, summary)


def analyse_arrays(arrays: Mapping[Any, Any], client: Any = None, *,
                   summary: bool = False, **keywords: Any) -> SeriesResults:
    """Analyses each array of `arrays` (name -> samples, one 1-D series
    each) as one task on a Dask cluster with mfwindow.analyse and its
    keywords (threads 1 unless given; progress is not taken), checked by
    analyse before any task runs. Returns SeriesResults as analyse_files
    does: name (as str) -> Result; an array that analyse refuses (2-D, not
    numbers, a non-finite sample under nan="error") is a failed series."""
    keywords, settings = _validated(keywords, {})
    names = [str(name) for name in arrays]
    _distinct(names)
    values = list(arrays.values())
    return _run(client, names, lambda c, k: c.submit(
        _array_task, names[k], values[k], keywords, settings, summary,
        pure=False), settings, summary)
