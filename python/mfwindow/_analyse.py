"""mfwindow.analyse: the arguments checked and settled, the channels run
side by side on the compiled core, progress shown and Ctrl-C honoured."""

from __future__ import annotations

import concurrent.futures
import dataclasses
import inspect
import operator
import os
import sys
import warnings
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

import numpy as np

from . import _core
from ._result import SHARED_KEYS, Result, Settings, as_time_origin

# How often the calling thread wakes while the core works: to show
# progress, and so that a Ctrl-C raises KeyboardInterrupt at once.
_POLL_SECONDS = 0.05
# A shift of None means "the settled window": the largest shift, which
# settles to the window, whatever the window settles to.
_SHIFT_OF_WINDOW = 2**31 - 1
# The keywords of earlier versions and their present names.
_OLD_NAMES = {"values": "x", "incr": "increments", "tini": "t0",
              "tstep": "dt"}
_MISSING: Any = object()


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
    first) or nan="skip" (they were dropped)."""


class ShortSeriesWarning(UserWarning):
    """The series is shorter than one window, so nothing was analysed and
    the result's arrays are empty."""


def _count(value: Any, name: str) -> int:
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError("%s must be an integer, got %r" % (name, value)) \
            from None


def _positive(value: Any, name: str) -> float:
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError("%s must be a number, got %r" % (name, value)) \
            from None
    if not (np.isfinite(number) and number > 0.0):
        raise ValueError("%s must be a finite number greater than 0, got %r"
                         % (name, value))
    return number


def _samples(x: Any) -> Tuple[np.ndarray, Optional[Tuple[Any, ...]]]:
    """x as contiguous float64, 1-D or channels x samples, and the channel
    labels (None for one series)."""
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
    data = np.ascontiguousarray(data, dtype=np.float64)
    return data, (None if data.ndim == 1 else tuple(range(data.shape[0])))


_NAN_POLICIES = ("error", "stop", "skip")
_FLUCTUATIONS = ("range", "rms")
_SURROGATES = ("iaaft", "shuffle", "phase")
# The method's defaults: the described method, byte for byte.
_Q_DEFAULTS = {"q_min": -10.0, "q_max": 10.0, "q_count": 200}


def _real(value: Any, name: str) -> float:
    if isinstance(value, (bool, np.bool_, str, bytes)):
        raise TypeError("%s must be a number, got %r" % (name, value))
    try:
        return float(value)
    except (TypeError, ValueError):
        raise TypeError("%s must be a number, got %r" % (name, value)) \
            from None


def _flag(value: Any, name: str) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError("%s must be True or False, got %r" % (name, value))
    return bool(value)


def _word(value: Any, name: str, words: Sequence[str]) -> str:
    if not isinstance(value, str):
        raise TypeError("%s must be one of %s, got %r"
                        % (name, ", ".join(repr(w) for w in words), value))
    if value not in words:
        raise ValueError("%s must be one of %s, got %r"
                         % (name, ", ".join(repr(w) for w in words), value))
    return value


def _method(profile: Any, fluctuation: Any, q: Any, q_min: Any, q_max: Any,
            q_count: Any, max_scale: Any, scale_count: Any, fit_range: Any,
            fq: Any, range_floor: Any, surrogates: Any, surrogate: Any,
            seed: Any) -> Dict[str, Any]:
    """The method and surrogate keywords, their types checked, as the core
    takes them. Whether they can be used together (ascending orders, a fit
    range holding two scales, ...) the library decides when it settles
    them, naming the keyword."""
    method: Dict[str, Any] = dict(
        profile=_flag(profile, "profile"),
        fluctuation=_word(fluctuation, "fluctuation", _FLUCTUATIONS),
        q_min=_real(q_min, "q_min"), q_max=_real(q_max, "q_max"),
        q_count=_count(q_count, "q_count"),
        scale_count=_count(scale_count, "scale_count"),
        fq=_flag(fq, "fq"), range_floor=_real(range_floor, "range_floor"),
        surrogates=_count(surrogates, "surrogates"),
        surrogate=_word(surrogate, "surrogate", _SURROGATES))
    if q is not None:
        orders = np.asarray(q)
        if orders.dtype.kind not in "iuf" or orders.ndim > 1:
            raise TypeError("q must be a sequence of real moment orders, got "
                            "%r" % (q,))
        orders = orders.astype(np.float64).reshape(-1)
        if orders.size == 0:
            raise ValueError("q must hold at least one moment order")
        changed = [k for k, v in _Q_DEFAULTS.items() if method[k] != v]
        if changed:
            raise ValueError("q lists the moment orders; %s cannot be given "
                             "with it" % ", ".join(changed))
        method["q"] = orders.tolist()
    else:
        method["q"] = None
    if max_scale is None:
        method["max_scale"] = 0
    else:
        method["max_scale"] = _count(max_scale, "max_scale")
        if method["max_scale"] <= 0:
            raise ValueError("max_scale must be a segment length of at least "
                             "1 sample, or None for window // 5; got %d"
                             % method["max_scale"])
    fit_min = fit_max = 0
    if fit_range is not None:
        try:
            low, high = fit_range
        except (TypeError, ValueError):
            raise TypeError("fit_range must be a pair (lo, hi) of segment "
                            "lengths in samples, got %r" % (fit_range,)) \
                from None
        if low is not None:
            fit_min = _count(low, "fit_range")
        if high is not None:
            fit_max = _count(high, "fit_range")
        if (low is not None and fit_min <= 0) or (high is not None
                                                   and fit_max <= 0):
            raise ValueError("fit_range must hold segment lengths of at "
                             "least 1 sample (None: no bound), got %r"
                             % (fit_range,))
    method["fit_min"], method["fit_max"] = fit_min, fit_max
    seed = _count(seed, "seed")
    if not 0 <= seed < 2**64:
        raise ValueError("seed must be an integer from 0 to 2**64 - 1, got %d"
                         % seed)
    method["seed"] = seed
    return method


def _where(index: Tuple[int, ...],
           channels: Optional[Tuple[Any, ...]]) -> str:
    if channels is None:
        return "x[%d]" % index[0]
    return "x[%d, %d] (channel %r)" % (index[0], index[1], channels[index[0]])


def _apply_nan_policy(data: np.ndarray, channels: Optional[Tuple[Any, ...]],
                      nan: str) -> Tuple[np.ndarray, List[int]]:
    """The samples each channel analyses under the policy for non-finite
    samples, with each channel's count (channels may end at different
    places under "stop"). "error" raises ValueError at the first one;
    "stop" ends a channel at its first; "skip" drops them, so that later
    samples move up (as mfwindow-batch --on-bad-sample skip does): channels
    of a 2-D x must then lose the same positions, or their time axes would
    differ."""
    bad = ~np.isfinite(data)
    rows = data.shape[0] if data.ndim == 2 else 1
    lengths = [data.shape[-1]] * rows
    if not bad.any():
        return data, lengths
    if nan == "error":
        _check_finite(data, channels)
    first = np.unravel_index(int(np.argmax(bad)), data.shape)
    if nan == "stop":
        bad2 = bad.reshape(rows, -1)
        for row in range(rows):
            hits = np.flatnonzero(bad2[row])
            if hits.size:
                lengths[row] = int(hits[0])
        warnings.warn(BadSampleWarning(
            "%s is %r: the series ends there, after %d samples%s"
            % (_where(first, channels), float(data[first]),
               first[-1], "" if rows == 1 else
               " (each channel ends at its first non-finite sample; "
               "channels ended early have NaN for the windows they miss)")),
            stacklevel=3)
        return data, lengths
    # skip
    columns = bad.reshape(rows, -1)
    if rows > 1 and not (columns == columns[0]).all():
        raise ValueError(
            "nan='skip' drops non-finite samples, and the channels have "
            "them at different places (the first is %s), so their time "
            "axes would differ; analyse the channels one by one, or use "
            "nan='stop'" % _where(first, channels))
    keep = ~columns[0]
    kept = data[..., keep]
    warnings.warn(BadSampleWarning(
        "%d non-finite samples skipped (the first: %s is %r); later "
        "samples moved up, so the time axis counts the %d samples kept"
        % (int((~keep).sum()), _where(first, channels), float(data[first]),
           int(keep.sum()))), stacklevel=3)
    return np.ascontiguousarray(kept), [kept.shape[-1]] * rows


def _check_finite(data: np.ndarray,
                  channels: Optional[Tuple[Any, ...]]) -> None:
    bad = ~np.isfinite(data)
    if not bad.any():
        return
    first = np.unravel_index(int(np.argmax(bad)), data.shape)
    value = data[first]
    if channels is None:
        where = "x[%d]" % first[0]
    else:
        label = channels[first[0]]
        where = "x[%d, %d] (channel %r)" % (first[0], first[1], label)
    raise ValueError("%s is %r: samples must be finite numbers; the first "
                     "non-finite sample is at index %d (counted from 0)"
                     % (where, float(value), first[-1]))


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


def _run(rows: List[np.ndarray], core_args: Dict[str, Any], threads: int,
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
        futures = [pool.submit(_core.analyse, row, threads=per_row,
                               progress=progress, **core_args)
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


def analyse(x: Any = _MISSING, window: Any = _MISSING,
            shift: Optional[int] = None, order: int = 2,
            min_scale: int = 20, increments: Any = _MISSING,
            t0: Any = _MISSING, dt: Any = _MISSING,
            fs: Optional[float] = None, spectrum: bool = False,
            threads: int = 0, progress: Any = False, nan: str = "error",
            profile: bool = False, fluctuation: str = "range",
            q: Any = None, q_min: float = -10.0, q_max: float = 10.0,
            q_count: int = 200, max_scale: Optional[int] = None,
            scale_count: int = 200, fit_range: Any = None, fq: bool = False,
            range_floor: float = 0.0, surrogates: int = 0,
            surrogate: str = "iaaft", seed: int = 0,
            **old_names: Any) -> Result:
    """Multifractal singularity spectra of `x` by detrended fluctuation
    analysis inside a window moving along it: the numbers the mfwindow
    program writes for the same answers, bit for bit.

    Parameters
    ----------
    x : array_like, shape (samples,) or (channels, samples)
        One series, or one series per row; anything numpy turns into
        float64 (a pandas DataFrame gives one channel per column). Every
        sample must be finite.
    window : int
        Window length in samples (Lrec), at least 32.
    shift : int or None
        Samples between window starts, 1..window; None: the window.
    order : int
        Order of the detrending polynomial, 1..10.
    min_scale : int
        Smallest segment length, min(max(min_scale, 20), window // 10).
    increments : bool
        Analyse the increments inside each window instead of the values.
    t0, dt : float
        Sample j, counted from 1, lies at time t0 + j*dt (dt > 0). t0 may
        be a numpy datetime64 (or datetime): the time marks are then
        datetime64[ns] and dt is in seconds.
    fs : float
        Sampling rate in Hz, instead of dt: sample j lies at t0 + j/fs
        seconds, computed as a division (fs=250 gives 4.4, not
        4.4000000000000004).
    spectrum : bool
        Also keep each window's whole spectrum (q, h, tau, alpha, f_alpha).
    threads : int
        Worker threads; 0: every core this process may use. Channels are
        analysed side by side; the numbers do not depend on the threads.
    progress : bool or callable
        True shows a bar (tqdm when it is installed, else a line on
        standard error); a callable is called as progress(done, total) in
        windows from the calling thread, about every 0.05 s.
    nan : {"error", "stop", "skip"}
        What a non-finite sample (NaN, an infinity) does: "error" raises
        ValueError naming its index; "stop" ends the series there (each
        channel at its own; windows a channel misses are NaN); "skip"
        drops it, so later samples move up and the time axis counts the
        samples kept (channels must have them at the same places). Both
        warn with a BadSampleWarning. As mfwindow-batch --on-bad-sample
        and the C++ API's Settings::OnBadSample.

    The method (the defaults are the described method, byte for byte; the
    same as mfwindow-batch's flags of the same names):

    profile : bool
        Analyse the cumulative sum of the mean-removed window values (the
        profile of standard MF-DFA) instead of the values themselves.
    fluctuation : {"range", "rms"}
        How a detrended segment is measured: the range of its residuals
        (largest minus smallest), or their root mean square. profile=True
        with "rms" is the standard MF-DFA.
    q : sequence of float or None
        The moment orders themselves, strictly ascending; 0 is allowed (the
        logarithmic mean). None: q_count orders from q_min to q_max in
        equal steps.
    q_min, q_max, q_count : float, float, int
        The grid of moment orders when q is None.
    max_scale : int or None
        Longest segment in samples, at most the window; None: window // 5.
    scale_count : int
        Log-spaced scales from min_scale to max_scale (at least 2).
    fit_range : (int or None, int or None) or None
        Segment lengths (samples) bounding the scales that the log-log fits
        use, both ends included; None: every scale.
    fq : bool
        Also keep F_q(s) of every window: arrays fq (windows x q x scales),
        q, scales (segment lengths) and log_scale.
    range_floor : float
        > 0: a segment fluctuation below range_floor times the window's
        largest magnitude counts as flat (zero).
    surrogates : int
        For each window, this many surrogates of it analysed with the same
        settings: the null levels width_null_median, width_null_p95,
        width_p (rank p-value (1 + #{surrogate width >= observed}) / (N +
        1)) and alfa_sz_null_median, alfa_sz_null_p95, alfa_sz_p (two-sided
        about the surrogates' median). 0: none.
    surrogate : {"iaaft", "shuffle", "phase"}
        The kind: iterative amplitude-adjusted (keeps the distribution and,
        nearly, the spectrum), a shuffle (keeps the distribution), or random
        Fourier phases (keeps the power spectrum). Surrogates are made from
        the window's increments, re-integrated when values are analysed.
    seed : int
        Seed of the surrogates, 0 .. 2**64 - 1; results depend on the
        samples, the settings and the seed, never on threads.

    The keywords of earlier versions still work: values (x), incr
    (increments), tini (t0), tstep (dt).

    Returns
    -------
    Result
        Arrays time, alfa_min, alfa_max, alfa_width, alfa_sz, f_alfa_sz
        (one value per complete window; a last window that the series does
        not fill is dropped), the spectra with spectrum=True, and the
        settled settings. For channels each array but time and q has a
        leading channel axis.

    Warns
    -----
    ClampWarning
        When a setting was out of range and has been clamped.
    ShortSeriesWarning
        When the series is shorter than the window (the arrays are empty).

    Raises
    ------
    ValueError
        For a non-finite sample (naming its index), increments other than
        0/1, dt or fs not greater than 0, negative threads, a count
        outside 32 bits, or method settings that cannot be used (the
        message starts with the keyword: "max_scale: the largest scale
        (300) must not exceed the window length (200)").
    TypeError
        For both dt and fs, or a keyword given under both its names.
    KeyboardInterrupt
        On Ctrl-C, within a fraction of a second.

    Examples
    --------
    >>> import numpy as np
    >>> import mfwindow
    >>> x = np.cumsum(np.random.default_rng(7).standard_normal(3000))
    >>> r = mfwindow.analyse(x, window=1000, shift=500)
    >>> r.time
    array([1000., 1500., 2000., 2500., 3000.])
    >>> bool(np.all((r.alfa_min < r.alfa_sz) & (r.alfa_sz < r.alfa_max)))
    True

    Sampled at 250 Hz, the time marks are in seconds:

    >>> mfwindow.analyse(x, window=1000, shift=100, fs=250).time[:3]
    array([4. , 4.4, 4.8])

    Channels in rows; each row gives what it gives alone:

    >>> both = mfwindow.analyse(np.vstack([x, x[::-1]]), window=1000,
    ...                         shift=500)
    >>> both.alfa_sz.shape
    (2, 5)
    >>> bool(np.array_equal(both.alfa_sz[0], r.alfa_sz))
    True

    Settings out of range are clamped, with a warning:

    >>> import warnings
    >>> with warnings.catch_warnings(record=True) as caught:
    ...     warnings.simplefilter("always")
    ...     small = mfwindow.analyse(x, window=10, order=1)
    >>> print(caught[0].message)
    settings out of range were clamped: window 10 -> 32, min_scale 20 -> 3
    >>> small.settings.window, small.settings.shift, small.n_windows
    (32, 32, 93)

    The whole spectrum of each window:

    >>> s = mfwindow.analyse(x, window=1000, shift=500, spectrum=True)
    >>> s.q.shape, s.h.shape, s.f_alpha.shape
    ((200,), (5, 200), (5, 100))

    Standard MF-DFA (profile and RMS) with chosen orders, F_q(s) kept:

    >>> d = mfwindow.analyse(np.diff(x), window=1000, shift=500,
    ...                      profile=True, fluctuation="rms",
    ...                      q=[-2, 0, 2], fit_range=(30, 150), fq=True)
    >>> d.fq.shape, d.scales[[0, -1]].tolist()
    ((4, 3, 200), [20, 200])

    A null level from 9 shuffled surrogates per window:

    >>> n = mfwindow.analyse(x, window=1000, shift=1000, surrogates=9,
    ...                      surrogate="shuffle", seed=1)
    >>> n.width_p.shape, bool(np.all((n.width_p > 0) & (n.width_p <= 1)))
    ((3,), True)
    """
    given = {"x": x, "increments": increments, "t0": t0, "dt": dt}
    for old, value in old_names.items():
        new = _OLD_NAMES.get(old)
        if new is None:
            raise TypeError("analyse() got an unexpected keyword argument %r"
                            % old)
        if given[new] is not _MISSING:
            raise TypeError("analyse() got both %r and its old name %r"
                            % (new, old))
        given[new] = value
    if given["x"] is _MISSING:
        raise TypeError("analyse() missing required argument 'x'")
    if window is _MISSING:
        raise TypeError("analyse() missing required argument 'window'")
    if given["dt"] is not _MISSING and fs is not None:
        raise TypeError("analyse() takes dt or fs, not both")

    window = _count(window, "window")
    order = _count(order, "order")
    min_scale = _count(min_scale, "min_scale")
    shift_given = None if shift is None else _count(shift, "shift")
    threads = _count(threads, "threads")
    inc = given["increments"]
    inc = 0 if inc is _MISSING else _count(inc, "increments")
    origin = as_time_origin(0.0 if given["t0"] is _MISSING else given["t0"])
    step: Optional[float] = None
    if fs is not None:
        fs = _positive(fs, "fs")
    else:
        step = 1.0 if given["dt"] is _MISSING else _positive(given["dt"],
                                                            "dt")
    if nan not in _NAN_POLICIES:
        raise ValueError("nan must be one of %s, got %r"
                         % (", ".join(repr(p) for p in _NAN_POLICIES), nan))
    if not (progress is None or isinstance(progress, bool)
            or callable(progress)):
        raise TypeError("progress must be True, False or a callable "
                        "progress(done, total), got %r" % (progress,))
    method = _method(profile, fluctuation, q, q_min, q_max, q_count,
                     max_scale, scale_count, fit_range, fq, range_floor,
                     surrogates, surrogate, seed)

    # The core computes the time marks only on the plain float axis; the
    # others come from the window positions here.
    plain_time = fs is None and not isinstance(origin, np.datetime64)
    core_t0 = origin if plain_time else 0.0
    core_dt = step if plain_time else 1.0
    shift_arg = _SHIFT_OF_WINDOW if shift_given is None else shift_given
    settled, clamped = _core.settle(inc, order, window, min_scale, shift_arg,
                                    core_t0, core_dt, threads, method)
    clamped = [c for c in clamped
               if not (c[0] == "shift" and shift_given is None)]
    data, channels = _samples(given["x"])
    data, lengths = _apply_nan_policy(data, channels, nan)
    if clamped:
        warnings.warn(ClampWarning(
            "settings out of range were clamped: " + ", ".join(
                "%s %d -> %d" % c for c in clamped), clamped), stacklevel=2)
    settings = Settings(
        window=settled["window"], shift=settled["shift"],
        order=settled["order"], min_scale=settled["min_scale"],
        increments=bool(settled["increments"]), t0=origin, dt=step, fs=fs,
        spectrum=bool(spectrum), threads=threads, nan=nan,
        profile=settled["profile"], fluctuation=settled["fluctuation"],
        q=None if settled["q"] is None else tuple(settled["q"]),
        q_min=settled["q_min"], q_max=settled["q_max"],
        q_count=settled["q_count"], max_scale=settled["max_scale"],
        scale_count=settled["scale_count"],
        fit_range=(None if settled["fit_min"] == settled["fit_max"] == 0
                   else (settled["fit_min"] or None,
                         settled["fit_max"] or None)),
        fq=settled["fq"], range_floor=settled["range_floor"],
        surrogates=settled["surrogates"], surrogate=settled["surrogate"],
        seed=settled["seed"])

    samples = max(lengths)
    positions = settings.window_positions(samples)
    if samples < settings.window:
        warnings.warn(ShortSeriesWarning(
            "the series has %d samples, fewer than the window of %d: no "
            "window to analyse, the arrays are empty"
            % (samples, settings.window)), stacklevel=2)

    rows = ([data[:lengths[0]]] if channels is None
            else [row[:n] for row, n in zip(data, lengths)])
    display = _Display(progress, len(positions) * len(rows))
    core_args = dict(increments=inc, order=settings.order,
                     window=settings.window, min_scale=settings.min_scale,
                     shift=settings.shift, t0=core_t0, dt=core_dt,
                     spectrum=bool(spectrum), method=method)
    try:
        parts = _run(rows, core_args, threads, display)
    finally:
        display.close()
    engine = [(part.pop("kernel"), part.pop("scheduler")) for part in parts]
    settings = dataclasses.replace(settings, kernel=engine[0][0],
                                   scheduler=engine[0][1])
    for part in parts:
        part["status"] = np.asarray(part["status"], dtype="<U16")
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
    if not plain_time:
        arrays["time"] = settings.times(positions)
    return Result(arrays, settings, channels)


analyse.__signature__ = inspect.Signature(  # type: ignore[attr-defined]
    [inspect.Parameter(name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                       default=default)
     for name, default in (("x", inspect.Parameter.empty),
                           ("window", inspect.Parameter.empty),
                           ("shift", None), ("order", 2), ("min_scale", 20),
                           ("increments", False), ("t0", 0.0), ("dt", 1.0),
                           ("fs", None), ("spectrum", False), ("threads", 0),
                           ("progress", False), ("nan", "error"),
                           ("profile", False), ("fluctuation", "range"),
                           ("q", None), ("q_min", -10.0), ("q_max", 10.0),
                           ("q_count", 200), ("max_scale", None),
                           ("scale_count", 200), ("fit_range", None),
                           ("fq", False), ("range_floor", 0.0),
                           ("surrogates", 0), ("surrogate", "iaaft"),
                           ("seed", 0))],
    return_annotation=Result)
