"""mfwindow.cross: two series analysed together in the moving window,
detrended cross-correlation (DCCA), its coefficient rho and the
multifractal cross spectrum (MF-DXA), on the compiled core."""

from __future__ import annotations

import concurrent.futures
import dataclasses
import warnings
from typing import Any, Dict, Iterator, Optional, Sequence, Tuple

import numpy as np
from numpy.typing import ArrayLike

from . import _core
from . import _settings
from ._analyse import (_POLL_SECONDS, ClampWarning, ShortSeriesWarning,
                       _Display, _parameter_doc, _default)
from ._errors import SettingError
from ._result import Settings
from ._settings import SettingTypeError

# The keywords of analyse() that a pair does not take: it keeps every
# sample of both series in step and is analysed by the straightforward
# kernel's operations.
NOT_FOR_PAIRS = frozenset({"nan", "fill", "max_gap", "kernel"})
# The keywords of the pair's own rows (no keyword of analyse()).
PAIR_ONLY = ("rho_level",)
# The surrogate keywords, whose entries say what they do for a pair.
_NULL_KEYWORDS = ("surrogates", "surrogate", "seed")


class CrossResult:
    """What mfwindow.cross returns: one value per window of the moving
    window, as numpy arrays (attributes, and ``r["name"]``).

    Per window: ``time``; the cross spectrum's summary ``alpha_min``,
    ``alpha_max``, ``alpha_width``, ``alpha_sz``, ``f_alpha_sz``;
    ``lambda_xy`` (the slope of log10 sqrt(abs(cov_xy(s))) over the fitted
    scales: h(2) when y is x); ``status`` (the cross spectrum's, by the
    rules of one series' statuses), ``status_x`` and ``status_y`` (each
    series' own); ``negative_covariance`` (bool: some segment covariance
    is negative, so the multifractal form describes its magnitude) and
    ``negative_share`` (the share of such segments); ``cov_sign_changes``
    (bool: cov_xy(s) is positive at some fitted scale and negative at
    another, so lambda_xy fits abs(cov_xy) across a change of sign and
    describes no power law); ``min_r2``. Per window
    and scale (windows x scales): ``cov_xy`` (the mean detrended
    covariance F2_xy(s), signed), ``f_xx`` and ``f_yy`` (each series' rms
    F_2(s)) and ``rho`` = cov_xy / (f_xx f_yy); with surrogates > 0
    ``rho_critical`` (the critical abs(rho) under independence at
    ``rho_level``) and ``rho_significant`` (bool: abs(rho) beyond it), and
    per window ``surrogates_used``; ``scales`` (segment
    lengths), ``log_scale`` and ``q``. With spectrum=True ``h``, ``tau``,
    ``alpha``, ``f_alpha`` of the cross spectrum; with fq=True ``fq``
    (F_q^xy(s), windows x q x scales). ``settings`` holds the settled
    Settings."""

    def __init__(self, arrays: Dict[str, np.ndarray],
                 settings: Any, rho_level: Optional[float] = None) -> None:
        self._arrays = arrays
        self.settings = settings
        # The confidence level of rho_critical (None without surrogates).
        self.rho_level = rho_level

    def __getitem__(self, key: str) -> np.ndarray:
        return self._arrays[key]

    def __iter__(self) -> Iterator[str]:
        return iter(self._arrays)

    def __getattr__(self, name: str) -> np.ndarray:
        arrays = self.__dict__.get("_arrays", {})
        if name in arrays:
            return arrays[name]
        raise AttributeError("CrossResult has no array %r" % name)

    @property
    def n_windows(self) -> int:
        return int(self._arrays["time"].shape[0])

    def __repr__(self) -> str:
        return "<mfwindow.CrossResult: %d windows; %s>" % (
            self.n_windows, self.settings.caption())


def _series(values: Any, name: str) -> np.ndarray:
    data = np.ascontiguousarray(np.asarray(values, dtype=np.float64))
    if data.ndim != 1:
        raise ValueError("%s must be one series (1-D), got shape %s"
                         % (name, data.shape))
    bad = np.flatnonzero(~np.isfinite(data))
    if bad.size:
        raise ValueError("%s[%d] is %r, not a finite number: a pair takes "
                         "finite samples only" % (name, bad[0],
                                                  data[bad[0]]))
    return data


def cross(x: ArrayLike, y: ArrayLike, window: int, *,
          shift: Optional[int] = None,
          order: int = _default("order"),
          min_scale: Optional[int] = _default("min_scale"),
          increments: bool = _default("increments"),
          t0: float = _default("t0"), dt: Optional[float] = None,
          fs: Optional[float] = None,
          spectrum: bool = _default("spectrum"),
          threads: int = _default("threads"), progress: Any = False,
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
          rho_level: float = _settings.ROWS["rho_level"]["default"],
          method: str = _default("method"),
          segments: Optional[str] = _default("segments"),
          abscissa: Optional[str] = _default("abscissa")) -> CrossResult:
    given = dict(locals())
    x_data = _series(given.pop("x"), "x")
    y_data = _series(given.pop("y"), "y")
    progress = given.pop("progress")
    if x_data.shape != y_data.shape:
        raise ValueError("x and y must have the same length, got %d and %d"
                         % (x_data.shape[0], y_data.shape[0]))
    if given["dt"] is not None and given["fs"] is not None:
        raise SettingTypeError("fs cannot be given with dt: cross() takes "
                               "one or the other", "fs")
    level = given.pop("rho_level")
    core = _settings.core_settings(given)
    core["rho_level"] = _settings._one(_settings.ROWS["rho_level"], level,
                                       "rho_level")
    fs = None if given["fs"] is None else core["fs"]
    step = None if fs is not None else core.get("dt", 1.0)
    origin = core["t0"]
    if fs is not None:
        # The time marks come from the window positions here, as
        # analyse() makes them.
        core.update(t0=0.0, dt=1.0, fs=None)
    settled = _core.settle(core, _settings.given_names(given))
    used = settled.settings()
    clamped = [c for c in settled.clamped()
               if not (c[0] == "shift" and given["shift"] is None)]
    if clamped:
        warnings.warn(ClampWarning(
            "settings out of range were clamped: " + ", ".join(
                "%s %d -> %d" % c for c in clamped), clamped), stacklevel=2)
    settings = _settings.settings_from_core(Settings, used, t0=origin,
                                            dt=step, fs=fs)
    positions = settings.window_positions(x_data.shape[0])
    if x_data.shape[0] < settings.window:
        warnings.warn(ShortSeriesWarning(
            "the series have %d samples, fewer than the window of %d: no "
            "window to analyse, the arrays are empty"
            % (x_data.shape[0], settings.window)), stacklevel=2)

    display = _Display(progress, len(positions))
    counter = _core.Progress()
    pool = concurrent.futures.ThreadPoolExecutor(
        max_workers=1, thread_name_prefix="mfwindow")
    try:
        future = pool.submit(_core.cross, x_data, y_data, settled, counter)
        while True:
            try:
                arrays = future.result(timeout=_POLL_SECONDS)
                break
            except concurrent.futures.TimeoutError:
                display.update(counter.done)
        display.update(len(positions))
    except BaseException:
        counter.stop()
        raise
    finally:
        pool.shutdown(wait=True)
        display.close()
    arrays.pop("threads")
    for key in ("status", "status_x", "status_y"):
        arrays[key] = np.asarray(arrays[key], dtype="<U16")
    for key in ("negative_covariance", "cov_sign_changes"):
        arrays[key] = np.asarray(arrays[key], dtype=bool)
    if "rho_significant" in arrays:
        arrays["rho_significant"] = arrays["rho_significant"].astype(bool)
    if fs is not None:
        arrays["time"] = settings.times(positions)
    settings = dataclasses.replace(settings, kernel="straightforward")
    return CrossResult(arrays, settings,
                       used["rho_level"] if used["surrogates"] else None)


_DOC = """Two series analysed together in a window moving along both:
    detrended cross-correlation (DCCA) and its coefficient rho at every
    scale, the cross exponent lambda, and the multifractal cross spectrum
    (MF-DXA), with each series' own status.

    In each window both series are prepared as analyse() prepares one
    (the profile under method="standard"), cut into the same segments and
    detrended by the same polynomial; with r and u the residuals of a
    segment pair, cov = mean(r u). Over the segments: cov_xy(s) = mean of
    cov (signed), f_xx(s) = sqrt(mean of mean(r^2)) (and f_yy), rho(s) =
    cov_xy / (f_xx f_yy) (Zebende's rhoDCCA, the covariance over the
    geometric mean of the variances: 1 at every scale when y is x, -1 when
    y is -x). The multifractal form F_q^xy(s) = (mean of abs(cov)^(q/2))^(1/q)
    (the logarithmic mean at q = 0) gives h_xy(q), tau_xy(q) = q h_xy(q) -
    1, f_xy(alpha) and the five-number summary as analyse() gives them from
    F_q(s); a window with a negative segment covariance is flagged
    (negative_covariance), since the form then describes abs(cov).

    Parameters
    ----------
    x, y : array_like, shape (samples,)
        The two series, of the same length; every sample must be finite.
@settings@
@run@
    progress : bool or callable
        As for analyse().

    The confidence level of rho under independence: each window's x
    against `surrogates` surrogates of y's window, made as analyse() makes
    one series' surrogates (of its increments, or of its values under the
    profile), keyed by `seed`, the window's number and the surrogate's
    index, so that the same seed gives the same bytes on any number of
    threads. rho_critical is, per scale, the k-th smallest abs(rho) of the
    m surrogates, k = ceil(rho_level (m + 1)) (at most m), the Monte Carlo
    test's rank: an independent pair exceeds it with probability
    1 - rho_level where rho_level (m + 1) is whole (19 surrogates at
    0.95), and never below 1 / (m + 1). rho_significant says abs(rho)
    exceeds it.

    surrogates : int
        Surrogates of y per window (%s). Default: 0.
    surrogate : {'phase', 'iaaft'}
        Their kind: random Fourier phases, or iterative
        amplitude-adjusted (which also keeps y's values). Both keep y's
        power spectrum, on which the spread of rho under independence
        depends; a shuffle, which does not, is refused. Default: %r.
    seed : int
        Seed of the surrogates. Default: 0.
    rho_level : float
        The confidence level, above 0 and below 1. Default: %r.

    The method, as for analyse() (the pair takes the rms fluctuation only:
    method="described", a range, is refused):

@method@

    Returns
    -------
    CrossResult

    Raises
    ------
    SettingError
        As analyse(), and for fluctuation="range" (the described method).
    ValueError
        For series of two lengths, or a sample that is not finite.

    Examples
    --------
    >>> import numpy as np
    >>> import mfwindow
    >>> rng = np.random.default_rng(7)
    >>> x = rng.standard_normal(3000)
    >>> r = mfwindow.cross(x, x, window=1000, shift=500)
    >>> r.rho.shape, bool(np.allclose(r.rho, 1.0))
    ((5, 40), True)
    >>> y = rng.standard_normal(3000)
    >>> bool(np.all(np.abs(mfwindow.cross(x, y, window=1000).rho) < 1))
    True
"""

_SETTING_KEYWORDS = ("window", "shift", "order", "min_scale", "increments",
                     "t0", "dt", "fs")
_RUN_KEYWORDS = ("spectrum", "threads")
_DOC = _DOC % (_settings.ROWS["surrogates"]["range"],
               _default("surrogate"), _settings.ROWS["rho_level"]["default"])
cross.__doc__ = (_DOC.replace("@settings@", "\n".join(
    _parameter_doc(k) for k in _SETTING_KEYWORDS))
    .replace("@run@", "\n".join(_parameter_doc(k) for k in _RUN_KEYWORDS))
    .replace("@method@", "\n".join(
        _parameter_doc(k) for k in _settings.ANALYSIS_KEYWORDS
        if k not in _SETTING_KEYWORDS + _RUN_KEYWORDS + _NULL_KEYWORDS
        and k not in NOT_FOR_PAIRS)))
