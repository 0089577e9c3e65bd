"""The result of an analysis: numpy arrays, the settled settings, and a
DataFrame on request."""

from __future__ import annotations

import dataclasses
import datetime
from collections.abc import Mapping
from typing import Any, Iterator, Optional, Sequence, Tuple, Union

import numpy as np

from . import _core
from ._errors import SettingError, missing_extra
from ._settings import make_settings_class, warn_old_name

# One value per window, in the order of the program's result columns.
ROW_KEYS = ("time", "alpha_min", "alpha_max", "alpha_width", "alpha_sz",
            "f_alpha_sz")
# Each window's whole spectrum (spectrum=True).
SPECTRUM_KEYS = ("q", "h", "tau", "alpha", "f_alpha")
# F_q(s) of each window and its axes (fq=True).
FQ_KEYS = ("fq", "scales", "log_scale")
# The surrogate null levels of each window (surrogates > 0), named as the
# columns of mfwindow-batch's CSV.
NULL_KEYS = ("width_null_median", "width_null_p95", "width_p",
             "alpha_sz_null_median", "alpha_sz_null_p95", "alpha_sz_p",
             "iaaft_at_cap", "surrogates_used")
# The result files keep the program's spelling "alfa" in their column names;
# a result spells it "alpha" and still answers to the old names, with a
# DeprecationWarning.
OLD_NAMES = {key.replace("alpha", "alfa"): key
             for key in ROW_KEYS + NULL_KEYS if "alpha" in key}
FILE_NAMES = {new: old for old, new in OLD_NAMES.items()}


def file_name(key: str) -> str:
    """The column name of `key` in the result files ("alpha_min" ->
    "alfa_min")."""
    return FILE_NAMES.get(key, key)


def _current(key: str) -> str:
    new = OLD_NAMES.get(key)
    if new is None:
        return key
    warn_old_name(key, new, stacklevel=4)
    return new
# Arrays that every channel shares, so that they have no channel axis: the
# time marks, the moment orders and the scales.
SHARED_KEYS = frozenset({"time", "q", "scales", "log_scale"})

TimeOrigin = Union[float, np.datetime64]


class _SettingsMethods:
    """What a Settings record tells besides its fields (the fields come
    from the settings table: see _settings.make_settings_class)."""

    @property
    def is_datetime(self) -> bool:
        """True when t0 is a date and time (the time marks are datetime64)."""
        return isinstance(self.t0, np.datetime64)

    @property
    def time_unit(self) -> Optional[str]:
        """"s" when the step is known in seconds (fs, or a datetime t0),
        "sample" for the default axis (t0 = 0, dt = 1), else None."""
        if self.fs is not None or self.is_datetime:
            return "s"
        if self.dt == 1.0 and self.t0 == 0.0:
            return "sample"
        return None

    def times(self, positions: Any) -> np.ndarray:
        """The times of samples at `positions` (counted from 1): float64
        t0 + pos*dt or t0 + pos/fs, or datetime64[ns] for a datetime t0
        (rounded to the nanosecond)."""
        pos = np.asarray(positions, dtype=np.int64)
        if self.is_datetime:
            return self.t0 + _offsets_ns(pos, self.dt, self.fs)
        if self.fs is not None:
            return pos.astype(np.float64) / self.fs + self.t0
        # The library's own expression: pos*dt, then + t0, each rounded.
        return pos.astype(np.float64) * self.dt + self.t0

    def window_positions(self, samples: int) -> np.ndarray:
        """The position (counted from 1) of the last sample of each
        complete window of a series of `samples` values."""
        count = _core.window_count(samples, self.window, self.shift)
        return self.window + self.shift * np.arange(count, dtype=np.int64)

    def method_caption(self) -> str:
        """The method, and the method and surrogate settings that differ
        from its own values, in a few words."""
        own = _core.settle({"window": self.window, "order": self.order,
                            "method": self.method}).settings()
        parts = [self.method]
        if self.segments != own["segments"]:
            parts.append("segments from %s" % ("both ends"
                                               if self.segments == "both"
                                               else "the start"))
        if self.abscissa != own["abscissa"]:
            parts.append("%s abscissa" % ("log s" if self.abscissa == "log_s"
                                          else "grid"))
        if self.profile != own["profile"]:
            parts.append("profile" if self.profile else "no profile")
        if self.fluctuation != own["fluctuation"]:
            parts.append(self.fluctuation)
        if self.q is not None:
            shown = ", ".join(_number(v) for v in self.q[:6])
            parts.append("q %s%s" % (shown, ", ..." if len(self.q) > 6
                                     else ""))
        elif (self.q_min, self.q_max, self.q_count) != (
                own["q_min"], own["q_max"], own["q_count"]):
            parts.append("q %s..%s (%d)" % (_number(self.q_min),
                                            _number(self.q_max),
                                            self.q_count))
        if (self.max_scale not in (None, own["max_scale"])
                or self.scale_count != own["scale_count"]):
            parts.append("scales %d..%s (%d)" % (
                self.min_scale, "%d" % (self.max_scale or own["max_scale"]),
                self.scale_count))
        if self.fit_range is not None:
            low, high = self.fit_range
            parts.append("fit %s..%s" % ("" if low is None else low,
                                         "" if high is None else high))
        if self.range_floor:
            parts.append("range floor %g" % self.range_floor)
        if self.surrogates:
            parts.append("%d %s surrogates, seed %d" % (
                self.surrogates, self.surrogate, self.seed))
        return ", ".join(parts)

    def caption(self) -> str:
        """The run's parameters in one line, for figures."""
        parts = ["window %d" % self.window, "shift %d" % self.shift,
                 "order %d" % self.order, "min scale %d" % self.min_scale,
                 "increments" if self.increments else "values"]
        if self.fs is not None:
            parts.append("fs %s Hz" % _number(self.fs))
        elif self.dt != 1.0:
            parts.append("dt %s%s" % (_number(self.dt),
                                      " s" if self.is_datetime else ""))
        parts.append(self.method_caption())
        return ", ".join(parts)


_SETTINGS_DOC = """The settings an analysis ran with, after settling: out-of-range
    counts are clamped as the mfwindow program clamps its answers.

    window, shift, order, min_scale are in samples (order: the degree of
    the detrending polynomial); increments tells whether the increments
    inside each window were analysed. Sample j, counted from 1, lies at
    t0 + j*dt, or t0 + j/fs when the sampling rate fs (Hz) was given (dt is
    None then); with a datetime64 t0 the step is in seconds. nan is the
    policy for non-finite samples ("error", "stop", "skip" or "mask").

    The method: profile, fluctuation ("range" or "rms"), the moment orders
    (q, a tuple, when they were listed; else q_count from q_min to
    q_max), max_scale (the longest segment used, window // 5 when not
    given), scale_count, fit_range ((lo, hi), either None for no bound, or
    None), fq, range_floor, method ("described" or "standard"), segments
    ("start" or "both"), abscissa ("grid" or "log_s"); and the surrogates:
    surrogates (their number per window), surrogate (the kind) and seed.
    kernel and scheduler say what ran the analysis (left out of
    comparisons).
    """
Settings = make_settings_class(_SettingsMethods, _SETTINGS_DOC)


def _number(value: float) -> str:
    return ("%d" % value) if float(value).is_integer() else repr(value)


def _offsets_ns(pos: np.ndarray, dt: Optional[float],
                fs: Optional[float]) -> np.ndarray:
    """pos*dt or pos/fs seconds in nanoseconds, rounded to the nearest."""
    if fs is not None:
        if float(fs).is_integer() and (pos.size == 0 or
                                       int(pos.max()) < 2**63 // 10**9):
            # Exact: integer division with rounding, no binary fraction.
            rate = int(fs)
            return ((pos * 10**9 + rate // 2) // rate).astype("m8[ns]")
        return np.rint(pos / fs * 1e9).astype(np.int64).astype("m8[ns]")
    return np.rint(pos * dt * 1e9).astype(np.int64).astype("m8[ns]")


def is_datetime_like(t0: Any) -> bool:
    """Whether as_time_origin takes `t0` for a date and time."""
    return hasattr(t0, "to_datetime64") or isinstance(
        t0, (datetime.datetime, datetime.date, np.datetime64))


def as_time_origin(t0: Any) -> TimeOrigin:
    """A float, or datetime64[ns] for datetime-like values (numpy
    datetime64, datetime.datetime, datetime.date, pandas Timestamp).
    Raises SettingError naming t0 for NaT, a date with a time zone and a
    number that is not finite."""
    if hasattr(t0, "to_datetime64"):  # pandas Timestamp keeps nanoseconds
        if getattr(t0, "tzinfo", None) is not None:
            raise SettingError("t0 must be naive (no time zone); convert "
                               "it to UTC and drop the zone first", "t0")
        t0 = t0.to_datetime64()
    if isinstance(t0, (datetime.datetime, datetime.date)):
        if getattr(t0, "tzinfo", None) is not None:
            raise SettingError("t0 must be naive (no time zone); convert "
                               "it to UTC and drop the zone first", "t0")
        t0 = np.datetime64(t0)
    if isinstance(t0, np.datetime64):
        if np.isnat(t0):
            raise SettingError("t0 must be a date and time, got NaT", "t0")
        return t0.astype("M8[ns]")
    value = float(t0)
    if not np.isfinite(value):
        raise SettingError("t0 must be finite, got %r" % value, "t0")
    return value


class Result(Mapping):
    """What mfwindow.analyse returns: one value per window of the moving
    window, as numpy arrays.

    Attributes (float64 arrays): ``time`` (the time mark of each window's
    last sample), ``alpha_min``, ``alpha_max``, ``alpha_width`` (alpha_max -
    alpha_min), ``alpha_sz`` (alpha where f(alpha) is largest) and
    ``f_alpha_sz`` (f there; under standard MF-DFA, profile and rms, all
    five come from alpha = dtau/dq over the orders and f = q alpha - tau,
    docs/method.md section 1.9; the result files spell these "alfa", and the
    old names still work, with a DeprecationWarning); with spectrum=True
    also ``q`` (the moment orders), ``h`` and ``tau`` (h(q), tau(q) per
    window, one value per order), ``alpha`` and ``f_alpha`` (the sampled
    spectrum, 100 values each). For channels x samples input each array but
    ``time`` and ``q`` has a leading channel axis. ``time`` is
    datetime64[ns] when t0 was a date.

    With surrogates > 0 each window also has its null levels
    ``width_null_median``, ``width_null_p95``, ``width_p``,
    ``alpha_sz_null_median``, ``alpha_sz_null_p95``, ``alpha_sz_p`` and
    ``iaaft_at_cap`` (IAAFT surrogates whose loop stopped at its cap of 1000
    steps, the ranks still changing, left out of the levels) and
    ``surrogates_used`` (the surrogates the levels are taken over: settled,
    with a width and AlfaSz that are not NaN) (the columns of
    mfwindow-batch's CSV,
    which spells them "alfa"). With
    fq=True: ``fq`` (F_q(s), windows x q x scales, after the channel axis),
    ``q``, ``scales`` (segment lengths) and ``log_scale`` (their log10 grid
    values, the abscissa of the fits). ``q`` is the orders actually used.

    ``settings`` holds the settled Settings (None for a result read from a
    file), ``channels`` the channel labels (None for one series; assign to
    rename them), ``name`` a series name when one is known; ``failure``
    says why a series of mfwindow.distributed gave no windows (None when it
    did not fail) and ``messages`` holds its warnings. The result is also a
    read-only mapping
    of its arrays, so ``r["time"]`` and ``dict(r)`` work as with the dict
    that earlier versions returned; later versions may add arrays.

    >>> import numpy as np, mfwindow
    >>> x = np.cumsum(np.random.default_rng(7).standard_normal(3000))
    >>> r = mfwindow.analyse(x, window=1000, shift=500, fs=250,
    ...                      t0=np.datetime64("2024-05-01T12:00"))
    >>> r.n_windows, str(r.time[0])
    (5, '2024-05-01T12:00:04.000000000')
    >>> df = r.to_pandas()
    >>> df.index[:2].strftime("%H:%M:%S").tolist()
    ['12:00:04', '12:00:06']
    >>> df.columns.tolist()  # doctest: +NORMALIZE_WHITESPACE
    ['alpha_min', 'alpha_max', 'alpha_width', 'alpha_sz', 'f_alpha_sz',
     'status', 'zero_share', 'floor_share', 'min_r2', 'h2_se', 'width_se',
     'crossover_scale']
    """

    def __init__(self, arrays: Mapping[str, np.ndarray],
                 settings: Optional[Settings] = None,
                 channels: Optional[Sequence[Any]] = None,
                 name: Optional[str] = None, *,
                 failure: Optional[str] = None,
                 messages: Sequence[str] = ()) -> None:
        # The core and the files give the "alfa" spellings.
        self._arrays = {OLD_NAMES.get(key, key): value
                        for key, value in arrays.items()}
        if "time" not in self._arrays:
            raise ValueError("a result needs the time marks ('time')")
        self.settings = settings
        self._channels: Optional[Tuple[Any, ...]] = (
            None if channels is None else tuple(channels))
        self.name = name
        self.failure = failure
        self.messages = tuple(messages)

    @property
    def channels(self) -> Optional[Tuple[Any, ...]]:
        """The labels of the channels (rows of the input, or the columns of
        a DataFrame; positions 0, 1, ... by default), None for one series.
        Assign a sequence of as many labels to name them; figures and
        to_pandas() use them."""
        return self._channels

    @channels.setter
    def channels(self, labels: Sequence[Any]) -> None:
        if self._channels is None:
            raise ValueError("this result has one series, no channels")
        labels = tuple(labels)
        if len(labels) != len(self._channels):
            raise ValueError("%d labels for %d channels"
                             % (len(labels), len(self._channels)))
        if len(set(labels)) != len(labels):
            raise ValueError("channel labels must differ: %s" % (labels,))
        self._channels = labels

    # The mapping of arrays (kept for scripts written for the dict).
    def __getitem__(self, key: str) -> np.ndarray:
        return self._arrays[_current(key)]

    def __iter__(self) -> Iterator[str]:
        return iter(self._arrays)

    def __len__(self) -> int:
        return len(self._arrays)

    # Arrays compare element-wise; a result is equal only to itself.
    __eq__ = object.__eq__
    __hash__ = object.__hash__

    def __getattr__(self, name: str) -> np.ndarray:
        # Arrays beyond the documented ones (later additions) as attributes;
        # also reached when a documented one is missing.
        arrays = self.__dict__.get("_arrays", {})
        if name in OLD_NAMES:
            name = _current(name)
        if not name.startswith("_") and name in arrays:
            return arrays[name]
        hint = (": run mfwindow.analyse(..., spectrum=True)"
                if name in SPECTRUM_KEYS else
                ": run mfwindow.analyse(..., fq=True)" if name in FQ_KEYS else
                ": run mfwindow.analyse(..., surrogates=N)"
                if name in NULL_KEYS else "")
        raise AttributeError("this result has no %r%s" % (name, hint))

    def _array(self, key: str) -> np.ndarray:
        try:
            return self._arrays[key]
        except KeyError:
            return self.__getattr__(key)  # raises AttributeError

    time = property(lambda self: self._array("time"),
                    doc="Time mark of each window's last sample.")
    alpha_min = property(lambda self: self._array("alpha_min"),
                         doc="Smallest alpha where f(alpha) > 0; standard "
                         "MF-DFA: smallest dtau/dq over the orders.")
    alpha_max = property(lambda self: self._array("alpha_max"),
                         doc="Largest alpha where f(alpha) > 0; standard "
                         "MF-DFA: largest dtau/dq over the orders.")
    alpha_width = property(lambda self: self._array("alpha_width"),
                           doc="alpha_max - alpha_min.")
    alpha_sz = property(lambda self: self._array("alpha_sz"),
                        doc="alpha where f(alpha) is largest.")
    f_alpha_sz = property(lambda self: self._array("f_alpha_sz"),
                          doc="f(alpha) at alpha_sz.")
    q = property(lambda self: self._array("q"),
                 doc="The moment orders used, ascending (spectrum=True or "
                     "fq=True).")
    h = property(lambda self: self._array("h"),
                 doc="h(q) of each window (spectrum=True).")
    tau = property(lambda self: self._array("tau"),
                   doc="tau(q) = q h(q) - 1 of each window (spectrum=True).")
    alpha = property(lambda self: self._array("alpha"),
                     doc="alpha of the sampled spectrum (spectrum=True).")
    f_alpha = property(lambda self: self._array("f_alpha"),
                       doc="f(alpha) of the sampled spectrum "
                           "(spectrum=True).")

    @property
    def has_null(self) -> bool:
        """True when the surrogate null levels are here."""
        return all(k in self._arrays for k in NULL_KEYS)

    @property
    def n_windows(self) -> int:
        """The number of windows."""
        return int(self._arrays["time"].shape[0])

    @property
    def has_spectrum(self) -> bool:
        """True when the whole spectra are here."""
        return all(k in self._arrays for k in ("q", "h", "alpha", "f_alpha"))

    def _channel_index(self, channel: Any) -> int:
        if self.channels is None:
            raise ValueError("this result has one series, no channels")
        if isinstance(channel, (int, np.integer)) and not isinstance(
                channel, bool):
            count = len(self.channels)
            if not -count <= int(channel) < count:
                raise IndexError("channel %d of %d" % (channel, count))
            return int(channel) % count
        try:
            return self.channels.index(channel)
        except ValueError:
            raise KeyError("no channel %r; the channels are %s"
                           % (channel, list(self.channels))) from None

    def channel(self, channel: Any) -> "Result":
        """One channel of a channels x samples result, as a result of one
        series: by position (an integer: 0, 1, -1 ...) or by label (the
        column name of a DataFrame)."""
        index = self._channel_index(channel)
        arrays = {key: (value if key in SHARED_KEYS else value[index])
                  for key, value in self._arrays.items()}
        label = self.channels[index] if self.channels else None
        return Result(arrays, self.settings, None,
                      name=str(label) if self.name is None
                      else "%s: %s" % (self.name, label))

    def row_keys(self) -> Tuple[str, ...]:
        """The names of the arrays that hold one value per window (and
        channel), the columns of to_pandas(): the five of the result file
        and any that later options add."""
        per_window = (self.n_windows,) if self.channels is None else (
            len(self.channels), self.n_windows)
        return tuple(k for k, v in self._arrays.items()
                     if k not in SHARED_KEYS and np.shape(v) == per_window)

    def to_pandas(self) -> Any:
        """The per-window values as a pandas DataFrame indexed by time (a
        DatetimeIndex when t0 was a date); for channels, a long table
        indexed by (channel, time). The spectra stay arrays. Needs pandas
        (pip install "mfwindow[pandas]")."""
        try:
            import pandas as pd
        except ImportError:
            raise missing_extra("to_pandas()", "pandas", "pandas",
                                "python3-pandas") from None
        time = self._arrays["time"]
        keys = self.row_keys()
        if self.channels is None:
            index = (pd.DatetimeIndex(time, name="time")
                     if np.issubdtype(time.dtype, np.datetime64)
                     else pd.Index(time, name="time"))
            return pd.DataFrame({k: self._arrays[k] for k in keys},
                                index=index)
        index = pd.MultiIndex.from_product([list(self.channels), time],
                                           names=["channel", "time"])
        return pd.DataFrame({k: np.asarray(self._arrays[k]).reshape(-1)
                             for k in keys}, index=index)

    def to_xarray(self) -> Any:
        """The arrays as an xarray Dataset with the dimensions ``channel``
        (channels x samples input only), ``window``, ``q`` (the moment
        orders of h, tau and fq), ``scale`` (the segment lengths of fq) and
        ``point`` (the 100 points of each sampled spectrum, numbered from
        1 as the spectrum files' m); ``time`` is a
        coordinate along ``window`` (counted from 1) and the settled
        settings are attributes. Needs xarray (pip install
        "mfwindow[xarray]")."""
        try:
            import xarray as xr
        except ImportError:
            raise missing_extra("to_xarray()", "xarray", "xarray",
                                "python3-xarray") from None
        lead: Tuple[str, ...] = (() if self.channels is None
                                 else ("channel",))
        coords: dict = {"window": np.arange(1, self.n_windows + 1),
                        "time": ("window", self._arrays["time"])}
        if self.channels is not None:
            coords["channel"] = list(self.channels)
        if "q" in self._arrays:
            coords["q"] = self._arrays["q"]
        if "scales" in self._arrays:
            coords["scale"] = self._arrays["scales"]
            coords["log_scale"] = ("scale", self._arrays["log_scale"])
        if "alpha" in self._arrays:  # the sampled spectrum's m = 1 .. 100
            coords["point"] = np.arange(
                1, np.shape(self._arrays["alpha"])[-1] + 1)
        inner = {"h": ("q",), "tau": ("q",), "alpha": ("point",),
                 "f_alpha": ("point",), "fq": ("q", "scale")}
        variables = {}
        for key, value in self._arrays.items():
            if key in SHARED_KEYS:
                continue
            dims = lead + ("window",) + inner.get(key, ())
            if np.ndim(value) != len(dims):  # a later addition of its own
                dims = dims[:len(lead) + 1] + tuple(
                    "%s_%d" % (key, k)
                    for k in range(np.ndim(value) - len(lead) - 1))
            variables[key] = (dims, value)
        attrs = {} if self.name is None else {"name": self.name}
        if self.settings is not None:
            for field, value in dataclasses.asdict(self.settings).items():
                # Attributes hold what netCDF can: numbers and text.
                if isinstance(value, (bool, np.bool_)):
                    attrs[field] = int(value)
                elif isinstance(value, (int, float, str)):
                    attrs[field] = value
                elif isinstance(value, np.datetime64):
                    attrs[field] = str(value)
        return xr.Dataset(variables, coords=coords, attrs=attrs)

    def __repr__(self) -> str:
        shape = ("%d windows" % self.n_windows if self.channels is None
                 else "%d channels x %d windows" % (len(self.channels),
                                                    self.n_windows))
        extra = ", spectra" if self.has_spectrum else ""
        about = ("; " + self.settings.caption()) if self.settings else ""
        return "<mfwindow.Result: %s%s%s>" % (shape, extra, about)
