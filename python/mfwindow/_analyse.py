"""mfwindow.analyse: the arguments checked and settled, the channels run
side by side on the compiled core, progress shown and Ctrl-C honoured."""

from __future__ import annotations

import concurrent.futures
import dataclasses
import inspect
import operator
import os
import textwrap
import sys
import warnings
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

import numpy as np
from numpy.typing import ArrayLike

from . import _core
from . import _settings
from ._errors import SettingError
from ._result import (SHARED_KEYS, Result, Settings, as_time_origin,
                      is_datetime_like)
from ._settings import SettingTypeError

# How often the calling thread wakes while the core works: to show
# progress, and so that a Ctrl-C raises KeyboardInterrupt at once.
_POLL_SECONDS = 0.05
# The keywords of earlier versions and their present names.
_OLD_NAMES = {"values": "x", "incr": "increments", "tini": "t0",
              "tstep": "dt"}
class _Required:
    """The default of x and window, which must be given (as keywords of
    earlier versions, values=, x may come under its old name)."""

    def __repr__(self) -> str:
        return "<required>"


_REQUIRED: Any = _Required()


class ClampWarning(UserWarning):
    """Settings out of range were clamped, as the mfwindow program clamps
    its answers (window at least 32, order into 1..10, min_scale into
    20..window//10, shift into 1..window). ``clamped`` holds one
    (keyword, given, used) triple per changed value."""

    def __init__(self, message: str,
                 clamped: Sequence[Tuple[str, int, int]] = ()) -> None:
        super().__init__(message)
        self.clamped = tuple(clamped)


class BadSampleWarning(UserWarning):
    """Non-finite samples were met under nan="stop" (the series ends at the
    first), nan="skip" (they were dropped) or nan="mask" (kept as gaps)."""


class ShortSeriesWarning(UserWarning):
    """The series is shorter than one window, so nothing was analysed and
    the result's arrays are empty."""


class NoiseWarning(UserWarning):
    """The described method takes the values it analyses for a walk (the
    range of each detrended segment), and they look like a noise: their
    neighbours correlate less than WALK_CORRELATION over the whole series.
    Its h(q) then sits near 0 whatever the noise's memory; the textbook
    method (method="standard") analyses the noise's profile instead."""


# A series whose neighbouring samples correlate less than this looks like
# a noise (the increments of a walk), not a walk: a fractional Gaussian
# noise has lag-1 correlation 2**(2H - 1) - 1, below 0.5 for every
# H < 0.79, while a walk's is near 1.
WALK_CORRELATION = 0.5


def _lag_one_correlation(values: np.ndarray) -> float:
    """The lag-1 autocorrelation of the finite values, NaN for fewer than
    three or a constant series."""
    finite = values[np.isfinite(values)]
    if finite.size < 3:
        return float("nan")
    centred = finite - finite.mean()
    spread = float(np.dot(centred, centred))
    if spread == 0.0:
        return float("nan")
    return float(np.dot(centred[:-1], centred[1:])) / spread


def _warn_noise(rows: List[np.ndarray], channels: Optional[Tuple[Any, ...]],
                increments: bool) -> None:
    """NoiseWarning for each row whose analysed values (the increments
    under increments=True) look like a noise to the described method."""
    for k, row in enumerate(rows):
        r1 = _lag_one_correlation(np.diff(row) if increments else row)
        if not r1 < WALK_CORRELATION:
            continue
        name = "x" if channels is None else "channel %r" % (channels[k],)
        warnings.warn(NoiseWarning(
            "%s looks like a noise, not a walk (lag-1 correlation of the "
            "%s %.2f, below %.1f), and the described method analyses them "
            "as a walk, so h(q) comes out near 0; pass method='standard' "
            "(the textbook method, on the profile)%s" % (
                name, "increments" if increments else "values", r1,
                WALK_CORRELATION,
                ", or increments=False" if increments else
                ", or np.cumsum(x - x.mean()) to keep the described one")),
            stacklevel=3)


def _stamps(time: Any, name: str, samples: int) -> np.ndarray:
    """`time` as one stamp per sample, strictly rising: float64,
    datetime64[ns] or timedelta64[ns]. SettingError naming time when it is
    not (`name` says where the stamps came from)."""
    if hasattr(time, "to_numpy"):  # pandas: an index or a Series
        if getattr(getattr(time, "dt", time), "tz", None) is not None:
            raise SettingError(
                "%s must be naive (no time zone); use "
                ".tz_convert('UTC').tz_localize(None) first" % name, "time")
        time = time.to_numpy()
    stamps = np.asarray(time)
    if stamps.dtype.kind == "O":
        try:
            stamps = stamps.astype("M8[ns]")
        except (TypeError, ValueError):
            pass
    kinds = {"M": "M8[ns]", "m": "m8[ns]", "i": np.float64,
             "u": np.float64, "f": np.float64}
    if stamps.dtype.kind not in kinds:
        raise SettingTypeError(
            "%s must hold numbers or dates and times, got dtype %s"
            % (name, stamps.dtype), "time")
    stamps = stamps.astype(kinds[stamps.dtype.kind])
    if stamps.ndim != 1 or stamps.shape[0] != samples:
        raise SettingError("%s must hold one stamp per sample (%d), got "
                           "shape %s" % (name, samples, stamps.shape), "time")
    missing = (np.isnat(stamps) if stamps.dtype.kind in "Mm"
               else ~np.isfinite(stamps))
    falls = np.flatnonzero(~(stamps[1:] > stamps[:-1]))
    if missing.any() or falls.size:
        at = (int(np.argmax(missing)) if missing.any()
              else int(falls[0]) + 1)
        raise SettingError(
            "%s must rise strictly, with no missing stamp; index %d (counted "
            "from 0) holds %s after %s" % (
                name, at, stamps[at], stamps[at - 1] if at else "nothing"),
            "time")
    return stamps


def _index_of(x: Any) -> Any:
    """The index of a pandas Series or DataFrame when it says more than
    the sample numbers (not a RangeIndex from 0 in steps of 1), else
    None."""
    module = type(x).__module__ or ""
    index = getattr(x, "index", None) if module.startswith("pandas") else None
    if index is None:
        return None
    if (type(index).__name__ == "RangeIndex" and index.start == 0
            and index.step == 1):
        return None
    return index


def _samples(x: Any, window: int
             ) -> Tuple[np.ndarray, Optional[Tuple[Any, ...]]]:
    """x as contiguous float64, 1-D or channels x samples, and the channel
    labels (None for one series). A 2-D array with more rows than columns
    and rows shorter than one window is taken for samples x channels (what
    np.loadtxt and DataFrame.to_numpy() give) and refused at once: analysed
    as it stands it would give no window after a long run."""
    module = type(x).__module__ or ""
    if module.startswith("pandas") and hasattr(x, "to_numpy"):
        if hasattr(x, "columns"):  # a DataFrame: one channel per column
            return (np.ascontiguousarray(x.to_numpy(dtype=np.float64).T),
                    tuple(x.columns))
        x = x.to_numpy(dtype=np.float64)
    data = np.asarray(x)
    if data.dtype.kind not in "biufO":
        raise TypeError("x must hold real numbers, got dtype %s" % data.dtype)
    if data.ndim not in (1, 2):
        raise ValueError("x must be one series (1-D) or channels x samples "
                         "(2-D), got %d dimensions" % data.ndim)
    if data.ndim == 2 and data.shape[0] == 0:
        raise ValueError("x has no channels (shape %s)" % (data.shape,))
    if data.ndim == 2 and data.shape[1] < min(data.shape[0], window):
        rows, columns = data.shape
        raise ValueError(
            "x has shape %s: rows are channels, so that is %d channels of %d "
            "sample%s, fewer than one window (%d); for %d channel%s of %d "
            "samples pass x.T%s" % (
                data.shape, rows, columns, "" if columns == 1 else "s",
                window, columns, "" if columns == 1 else "s", rows,
                " (or x.ravel())" if columns == 1 else ""))
    data = np.ascontiguousarray(data, dtype=np.float64)
    return data, (None if data.ndim == 1 else tuple(range(data.shape[0])))


# The types of the table as Python names them, for the docstring.
_TYPE_NAMES = {"count": "int", "real": "float", "flag": "bool",
               "reals": "sequence of float", "seed": "int",
               "text": "int or str"}
_default = _settings.default


def _signature_default(keyword: str) -> Any:
    parameter = inspect.signature(analyse).parameters.get(keyword)
    return None if parameter is None else parameter.default


def _parameter_doc(keyword: str) -> str:
    """The docstring entry of a keyword of the settings table."""
    if keyword == "fit_range":
        low, high = _settings.ROWS_OF["fit_range"]
        return ("    fit_range : (int or None, int or None) or None\n"
                "        (%s, %s), both ends included; None: every scale."
                % (low["help"], high["help"]))
    row = _settings.ROWS_OF[keyword][0]
    kind = ("{%s}" % ", ".join(repr(w) for w in row["words"])
            if row["type"] == "word" else _TYPE_NAMES[row["type"]])
    text = row["help"][0].upper() + row["help"][1:]
    if row["range"] and not row["unset"]:
        text += " (%s)" % row["range"]
    elif row["range"]:
        text += " (%s)" % row["range"].split("; ")[0].split(", or 0")[0]
    text += "."
    if keyword in _settings.NONE_MEANS:
        kind += " or None"
        text += " None: %s." % _settings.NONE_MEANS[keyword]
    elif _signature_default(keyword) is _REQUIRED:
        text += " Required."
    else:
        text += " Default: %r." % (_default(keyword),)
    if keyword in _NOTES:
        text += " " + _NOTES[keyword]
    lines = textwrap.wrap(text, 72, initial_indent="        ",
                          subsequent_indent="        ")
    return "    %s : %s\n%s" % (keyword, kind, "\n".join(lines))


def _where(index: Tuple[int, ...],
           channels: Optional[Tuple[Any, ...]]) -> str:
    if channels is None:
        return "x[%d]" % index[0]
    return "x[%d, %d] (channel %r)" % (index[0], index[1], channels[index[0]])


def _scan_channels(data: np.ndarray, channels: Optional[Tuple[Any, ...]],
                   nan: str) -> List[int]:
    """The samples each channel analyses, as the library reads them under
    the nan policy (channels may end at different places under "stop"),
    with the library's error or warning named by channel. Under "skip" the
    channels of a 2-D x must lose the same positions, or their time axes
    would differ."""
    rows = list(data) if data.ndim == 2 else [data]
    scans = [_core.scan_samples(row, nan) for row in rows]
    bad = [(row, scan[3]) for row, scan in enumerate(scans) if scan[3] >= 0]
    if not bad:
        return [scan[0] for scan in scans]
    first = bad[0] if data.ndim == 2 else (bad[0][1],)
    where = "%s is %r" % (_where(first, channels), float(data[first]))
    if nan == "error":
        raise ValueError("%s: samples must be finite numbers; the first "
                         "non-finite sample is at index %d (counted from 0)"
                         % (where, first[-1]))
    if nan == "mask":
        # The library keeps them in place and flags the windows over them.
        warnings.warn(BadSampleWarning(
            "%d non-finite samples kept as gaps (the first: %s); the "
            "windows over them have status gap"
            % (sum(scan[2] for scan in scans), where)), stacklevel=3)
        return [scan[0] for scan in scans]
    if nan == "stop":
        warnings.warn(BadSampleWarning(
            "%s: the series ends there, after %d samples%s" % (
                where, first[-1], "" if len(rows) == 1 else
                " (each channel ends at its first non-finite sample; "
                "channels ended early have NaN for the windows they miss)")),
            stacklevel=3)
        return [scan[0] for scan in scans]
    if len(rows) > 1:
        gaps = ~np.isfinite(data)
        if not (gaps == gaps[0]).all():
            raise ValueError(
                "nan='skip' drops non-finite samples, and the channels have "
                "them at different places (the first is %s), so their time "
                "axes would differ; analyse the channels one by one, or use "
                "nan='stop'" % _where(first, channels))
    warnings.warn(BadSampleWarning(
        "%d non-finite samples skipped (the first: %s); later samples "
        "moved up, so the time axis counts the %d samples kept"
        % (scans[0][1], where, scans[0][0])), stacklevel=3)
    return [scan[0] for scan in scans]


class _Display:
    """Shows how far the analysis has come: a tqdm bar (python3-tqdm) or a
    line on standard error for progress=True, or calls progress(done,
    total). Runs on the calling thread only."""

    def __init__(self, progress: Any, total: int) -> None:
        self.total = total
        self.shown = -1
        self.bar: Any = None
        self.line = False
        self.call: Optional[Callable[[int, int], Any]] = None
        if progress is None or progress is False:
            return
        if progress is True:
            try:
                from tqdm.auto import tqdm
            except ImportError:
                self.line = True
            else:
                self.bar = tqdm(total=total, unit="window", desc="mfwindow")
        else:
            self.call = progress

    def update(self, done: int) -> None:
        if done == self.shown:
            return
        if self.bar is not None:
            self.bar.update(done - max(self.shown, 0))
        elif self.line:
            sys.stderr.write("\rmfwindow: %d/%d windows (%d%%)" % (
                done, self.total, 100 * done // max(self.total, 1)))
            sys.stderr.flush()
        elif self.call is not None:
            self.call(done, self.total)
        self.shown = done

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
        elif self.line and self.shown >= 0:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _pad_windows(part: Dict[str, np.ndarray], windows: int) -> None:
    """Gives a channel that ended early (nan="stop") NaN for the windows it
    does not reach, and the time axis of the longest channel."""
    have = part["time"].shape[0]
    if have == windows:
        return
    for key, value in part.items():
        if key in SHARED_KEYS:
            continue
        pad = [(0, windows - have)] + [(0, 0)] * (value.ndim - 1)
        if key == "status":
            part[key] = np.pad(value, pad, constant_values="")
        else:
            part[key] = np.pad(value.astype(np.float64), pad,
                               constant_values=np.nan)


def _cores() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not on Linux
        return max(1, os.cpu_count() or 1)


def _run(rows: List[np.ndarray], settled: Any, threads: int,
         display: _Display) -> List[Dict[str, np.ndarray]]:
    """Each row through the core, side by side on worker threads, while
    this thread shows progress. A KeyboardInterrupt (or any exception)
    here stops every worker at its next window; it propagates once they
    have returned."""
    if len(rows) == 1:
        workers, per_row = 1, threads
    else:
        # Rows share the threads: each of `workers` rows at a time gets its
        # part. The bytes do not depend on the thread count.
        budget = min(threads, _cores()) if threads > 0 else _cores()
        workers = min(len(rows), budget)
        per_row = max(1, budget // workers)
    progresses = [_core.Progress() for _ in rows]
    futures: List[concurrent.futures.Future] = []
    pool = concurrent.futures.ThreadPoolExecutor(
        max_workers=workers, thread_name_prefix="mfwindow")
    try:
        futures = [pool.submit(_core.analyse, row,
                               settled.with_threads(per_row), progress)
                   for row, progress in zip(rows, progresses)]
        pending = set(futures)
        while pending:
            finished, pending = concurrent.futures.wait(
                pending, timeout=_POLL_SECONDS,
                return_when=concurrent.futures.FIRST_EXCEPTION)
            for future in finished:
                future.result()  # raises a worker's exception here
            display.update(sum(p.done for p in progresses))
        return [future.result() for future in futures]
    except BaseException:
        for progress in progresses:
            progress.stop()
        for future in futures:
            future.cancel()
        raise
    finally:
        # Returns within one window of the stop.
        pool.shutdown(wait=True)


def analyse(x: ArrayLike = _REQUIRED, window: int = _REQUIRED, *,
            shift: Optional[int] = None,
            order: int = _default("order"),
            min_scale: Optional[int] = _default("min_scale"),
            increments: bool = _default("increments"),
            t0: Any = _default("t0"), dt: Optional[float] = None,
            time: Optional[ArrayLike] = None,
            fs: Optional[float] = None,
            spectrum: bool = _default("spectrum"),
            threads: int = _default("threads"), progress: Any = False,
            nan: str = _default("nan"),
            profile: Optional[bool] = _default("profile"),
            fluctuation: Optional[str] = _default("fluctuation"),
            q: Optional[Sequence[float]] = None,
            q_min: Optional[float] = _default("q_min"),
            q_max: Optional[float] = _default("q_max"),
            q_count: Optional[int] = _default("q_count"),
            max_scale: Optional[int] = None,
            scale_count: Optional[int] = _default("scale_count"),
            fit_range: Optional[Tuple[Optional[int], Optional[int]]] = None,
            fq: bool = _default("fq"),
            range_floor: float = _default("range_floor"),
            crossover_slope: float = _default("crossover_slope"),
            poor_fit_r2: float = _default("poor_fit_r2"),
            surrogates: int = _default("surrogates"),
            surrogate: str = _default("surrogate"),
            seed: int = _default("seed"),
            method: str = _default("method"),
            segments: Optional[str] = _default("segments"),
            abscissa: Optional[str] = _default("abscissa"),
            kernel: str = _default("kernel"),
            **old_names: Any) -> Result:
    # The keywords as given; each is checked by its row of the settings
    # table on the way to the core.
    given = dict(locals())
    x = given.pop("x")
    progress = given.pop("progress")
    time = given.pop("time")
    for old, value in given.pop("old_names").items():
        new = _OLD_NAMES.get(old)
        if new is None:
            raise TypeError("analyse() got an unexpected keyword argument %r"
                            % old)
        # A keyword still at its default gives way to its old name.
        unchanged = (x is _REQUIRED if new == "x"
                     else bool(given[new] == _default(new)))
        if not unchanged:
            raise TypeError("analyse() got both %r and its old name %r"
                            % (new, old))
        _settings.warn_old_name(old, new)
        if new == "x":
            x = value
        else:
            given[new] = value
    if x is _REQUIRED:
        raise TypeError("analyse() missing required argument 'x'")
    if given["window"] is _REQUIRED:
        raise TypeError("analyse() missing required argument 'window'")
    if given["dt"] is not None and given["fs"] is not None:
        raise SettingTypeError("fs cannot be given with dt: analyse() takes "
                               "one or the other", "fs")
    if not (progress is None or isinstance(progress, bool)
            or callable(progress)):
        raise SettingTypeError("progress must be True, False or a callable "
                               "progress(done, total), got %r"
                               % (progress,), "progress")

    dated = is_datetime_like(given["t0"])
    try:
        core = _settings.core_settings(dict(given, t0=0.0) if dated
                                       else given)
    except SettingTypeError as e:
        if e.setting != "t0":
            raise
        raise SettingTypeError(
            "t0 must be a number or a date and time (numpy datetime64, "
            "datetime, pandas Timestamp), got %r" % (given["t0"],),
            "t0") from None
    arithmetic = (dated or core["t0"] != 0.0 or given["dt"] is not None
                  or given["fs"] is not None)
    if time is not None and arithmetic:
        raise SettingError("time cannot be given with t0, dt or fs: the "
                           "stamps are the time axis", "time")
    if time is None and not arithmetic:
        time = _index_of(x)
        where = "the index of x"
    else:
        where = "time"
    origin = as_time_origin(given["t0"]) if dated else core["t0"]
    fs = None if given["fs"] is None else core["fs"]
    step = None if fs is not None else core.get("dt", 1.0)
    # The core computes the time marks only on the plain float axis; the
    # others come from the window positions here.
    plain_time = fs is None and not dated
    if not plain_time:
        core.update(t0=0.0, dt=1.0, fs=None)
    settled = _core.settle(core, _settings.given_names(given))
    used = settled.settings()
    clamped = [c for c in settled.clamped()
               if not (c[0] == "shift" and given["shift"] is None)]
    data, channels = _samples(x, used["window"])
    stamps = (None if time is None
              else _stamps(time, where, data.shape[-1]))
    lengths = _scan_channels(data, channels, used["nan"])
    if clamped:
        warnings.warn(ClampWarning(
            "settings out of range were clamped: " + ", ".join(
                "%s %d -> %d" % c for c in clamped), clamped), stacklevel=2)
    threads = used["threads"]
    settings = _settings.settings_from_core(Settings, used, t0=origin,
                                            dt=step, fs=fs)

    samples = max(lengths)
    positions = settings.window_positions(samples)
    if samples < settings.window:
        warnings.warn(ShortSeriesWarning(
            "the series has %d samples, fewer than the window of %d: no "
            "window to analyse, the arrays are empty"
            % (samples, settings.window)), stacklevel=2)

    rows = [data] if channels is None else list(data)
    if not used["profile"]:
        _warn_noise(rows, channels, bool(used["increments"]))
    display = _Display(progress, len(positions) * len(rows))
    # The core applies the nan policy itself, as scanned above.
    try:
        parts = _run(rows, settled, threads, display)
    finally:
        display.close()
    engine = [(part.pop("kernel"), part.pop("scheduler")) for part in parts]
    if engine:
        settings = dataclasses.replace(settings, kernel=engine[0][0],
                                       scheduler=engine[0][1])
    for k, part in enumerate(parts):
        part["status"] = np.asarray(part["status"], dtype="<U16")
        if part["status"].size and (part["status"] == "gap").all():
            warnings.warn(BadSampleWarning(
                "%s: every one of its %d windows holds a gap (a non-finite "
                "sample kept in place by nan='mask'), so none was analysed"
                % ("x" if channels is None else "channel %r" % (channels[k],),
                   part["status"].size)), stacklevel=2)
    longest = int(np.argmax(lengths))
    time = parts[longest]["time"]
    for part, n in zip(parts, lengths):
        expected = settings.window_positions(n).shape[0]
        if part["time"].shape[0] != expected:
            raise RuntimeError("mfwindow: %d windows expected, the core gave "
                               "%d" % (expected, part["time"].shape[0]))
        _pad_windows(part, positions.shape[0])
    if channels is None:
        arrays = dict(parts[0])
    else:
        arrays = {key: (parts[0][key] if key in SHARED_KEYS - {"time"}
                        else time if key == "time"
                        else np.stack([p[key] for p in parts]))
                  for key in parts[0]}
    if stamps is not None:
        if used["nan"] == "skip":  # the stamps of the samples kept
            stamps = stamps[np.isfinite(rows[0])]
        arrays["time"] = stamps[positions - 1]
    elif not plain_time:
        arrays["time"] = settings.times(positions)
    return Result(arrays, settings, channels)



_DOC = """Multifractal singularity spectra of `x` by detrended fluctuation
    analysis inside a window moving along it: the numbers the mfwindow
    program writes for the same answers, bit for bit.

    Parameters
    ----------
    x : array_like, shape (samples,) or (channels, samples)
        One series, or one series per row; anything numpy turns into
        float64 (a pandas DataFrame gives one channel per column). Every
        sample must be finite. A pandas index other than the default
        0, 1, 2, ... (dates, time deltas, numbers) gives the time marks,
        as time= would, unless t0, dt or fs is given.
@settings@
    time : array_like or None
        One stamp per sample (numbers, datetime64 or timedelta64; rising
        strictly, not necessarily evenly): each window's time mark is the
        stamp of its last sample. The analysis itself goes by sample
        order. Not with t0, dt or fs.
@run@
    progress : bool or callable
        True shows a bar (tqdm when it is installed, else a line on
        standard error); a callable is called as progress(done, total) in
        windows from the calling thread, about every 0.05 s.

    The method (the default is the textbook MF-DFA, method="standard";
    method="described" gives the mfwindow program's numbers, byte for
    byte, as mfwindow-batch does by default; the same as mfwindow-batch's
    flags of the same names):

@method@

    The keywords of earlier versions still work: values (x), incr
    (increments), tini (t0), tstep (dt).

    Returns
    -------
    Result
        Arrays time, alpha_min, alpha_max, alpha_width, alpha_sz,
        f_alpha_sz (one value per complete window; a last window that the
        series does not fill is dropped), the spectra with spectrum=True,
        and the settled settings. For channels each array but time and q has a
        leading channel axis.

    Warns
    -----
    ClampWarning
        When a setting was out of range and has been clamped.
    ShortSeriesWarning
        When the series is shorter than the window (the arrays are empty).

    Raises
    ------
    SettingError
        A ValueError naming the keyword in its ``setting`` (a wrong type
        is also a TypeError): a value outside what the keyword allows
        (its range above), or settings that cannot be used together. The
        message starts with the keyword: "max_scale must be above the
        minimum scale (20) and at most the window length (200), ...,
        got 300".
    ValueError
        For a non-finite sample (naming its index).
    TypeError
        For both dt and fs (a SettingError naming fs, too), or a keyword
        given under both its names.
    KeyboardInterrupt
        On Ctrl-C, within a fraction of a second.

    Examples
    --------
    >>> import numpy as np
    >>> import mfwindow
    >>> x = np.random.default_rng(7).standard_normal(3000)  # a noise
    >>> r = mfwindow.analyse(x, window=1000, shift=500)
    >>> r.time
    array([1000., 1500., 2000., 2500., 3000.])
    >>> bool(np.all((r.alpha_min < r.alpha_sz)
    ...             & (r.alpha_sz < r.alpha_max)))
    True

    Sampled at 250 Hz, the time marks are in seconds:

    >>> mfwindow.analyse(x, window=1000, shift=100, fs=250).time[:3]
    array([4. , 4.4, 4.8])

    Channels in rows; each row gives what it gives alone:

    >>> both = mfwindow.analyse(np.vstack([x, x[::-1]]), window=1000,
    ...                         shift=500)
    >>> both.alpha_sz.shape
    (2, 5)
    >>> bool(np.array_equal(both.alpha_sz[0], r.alpha_sz))
    True

    Settings out of range are clamped, with a warning:

    >>> import warnings
    >>> with warnings.catch_warnings(record=True) as caught:
    ...     warnings.simplefilter("always")
    ...     small = mfwindow.analyse(x, window=10, order=1)
    >>> print(caught[0].message)
    settings out of range were clamped: window 10 -> 32
    >>> small.settings.window, small.settings.shift, small.n_windows
    (32, 32, 93)

    The whole spectrum of each window:

    >>> s = mfwindow.analyse(x, window=1000, shift=500, spectrum=True)
    >>> s.q.shape, s.h.shape, s.f_alpha.shape
    ((21,), (5, 21), (5, 100))

    Chosen orders, F_q(s) kept:

    >>> d = mfwindow.analyse(x, window=1000, shift=500, q=[-2, 0, 2],
    ...                      fit_range=(30, 150), fq=True)
    >>> d.fq.shape, d.scales[[0, -1]].tolist()
    ((5, 3, 40), [16, 249])

    The mfwindow program's own method, on a walk (its values are the
    walk itself, not a profile):

    >>> p = mfwindow.analyse(np.cumsum(x), window=1000, shift=500,
    ...                      method="described", spectrum=True)
    >>> p.q.shape, p.settings.min_scale, p.settings.max_scale
    ((200,), 20, 200)

    A null level from 9 shuffled surrogates per window:

    >>> n = mfwindow.analyse(x, window=1000, shift=1000, surrogates=9,
    ...                      surrogate="shuffle", seed=1)
    >>> n.width_p.shape, bool(np.all((n.width_p > 0) & (n.width_p <= 1)))
    ((3,), True)
"""

_NOTES = {
    "fs": "Instead of dt (fs=250 gives 4.4, not 4.4000000000000004).",
    "t0": "t0 may be a numpy datetime64 (or datetime): the time marks are "
          "then datetime64[ns] and dt is in seconds.",
    "threads": "Channels are analysed side by side; the numbers do not "
               "depend on the threads.",
    "nan": "Under 'stop' each channel ends at its own (windows a channel "
           "misses are NaN); under 'skip' later samples move up, so the time "
           "axis counts the samples kept (channels must have them at the "
           "same places); under 'mask' they stay in place as gaps and the "
           "windows over them have status 'gap' and NaN values. Each warns "
           "with a BadSampleWarning.",
    "fq": "Arrays fq (windows x q x scales), q, scales (segment lengths) "
          "and log_scale.",
    "surrogates": "The null levels width_null_median, width_null_p95, "
                  "width_p (rank p-value (1 + #{surrogate width >= "
                  "observed}) / (N + 1)) and alpha_sz_null_median, "
                  "alpha_sz_null_p95, alpha_sz_p (two-sided about the "
                  "surrogates' median), iaaft_at_cap (IAAFT "
                  "surrogates stopped at the cap of 1000 steps unsettled, "
                  "left out of the levels) and surrogates_used (the N the "
                  "levels are taken over).",
    "method": "Under 'standard' every method keyword still at its described "
              "default takes the textbook value; keywords given other "
              "values keep them.",
    "surrogate": "Surrogates are made from the window's increments, "
                 "re-integrated when values are analysed.",
}

_SETTING_KEYWORDS = ("window", "shift", "order", "min_scale", "increments",
                     "t0", "dt", "fs")
_RUN_KEYWORDS = ("spectrum", "threads", "nan", "kernel")
_DOC_SETTINGS = "\n".join(_parameter_doc(k) for k in _SETTING_KEYWORDS)
_DOC_RUN = "\n".join(_parameter_doc(k) for k in _RUN_KEYWORDS)
# Every other keyword of the table is a method or surrogate setting.
_DOC_METHOD = "\n".join(
    _parameter_doc(k) for k in _settings.ANALYSIS_KEYWORDS
    if k not in _SETTING_KEYWORDS + _RUN_KEYWORDS)
analyse.__doc__ = (_DOC.replace("@settings@", _DOC_SETTINGS)
                   .replace("@run@", _DOC_RUN)
                   .replace("@method@", _DOC_METHOD))
