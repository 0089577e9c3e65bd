"""Figures of mfwindow results (needs matplotlib: pip install
"mfwindow[plot]"; Debian: python3-matplotlib).

summary(result) draws the time course: the alpha band, its width and the
height of the spectrum's peak against the time of each window, with the
signal on top when it is given; windows whose quality status is not "ok"
are drawn apart and counted. fluctuation(result, window) draws F_q(s)
against s on log-log axes with the fitted lines, the fit range and the
residuals. spectrum(result, windows) draws h(q), tau(q) and f(alpha) of
chosen windows with their standard errors, spectrogram(result) the spectra
of every window as a heat map over time. cross_summary(result) draws a
pair's (mfwindow.cross) rho_DCCA(s, t) as a heat map with lambda, the cross
spectrum's width and the share of negative covariances over time, and
fluctuation draws a pair's F_xy, F_xx and F_yy. Each returns the matplotlib
Figure and draws into axes of yours when given.

    >>> import numpy as np, mfwindow, mfwindow.plot
    >>> x = np.cumsum(np.random.default_rng(3).standard_normal(4000))
    >>> r = mfwindow.analyse(x, window=1000, shift=250, fs=250,
    ...                      spectrum=True, fq=True)
    >>> fig = mfwindow.plot.summary(r, signal=x)
    >>> [a.get_ylabel() for a in fig.axes]
    ['signal', '$\\\\alpha$', '$\\\\Delta\\\\alpha$', '$f(\\\\alpha_0)$']
    >>> fig.axes[-1].get_xlabel()
    "time of the window's last sample (s)"
    >>> fig = mfwindow.plot.spectrum(r, windows=[0, -1])
    >>> [a.get_xlabel() for a in fig.axes]
    ['$q$', '$q$', '$\\\\alpha$']
    >>> fig = mfwindow.plot.fluctuation(r, window=0)
    >>> fig.axes[0].get_xscale(), fig.axes[0].get_yscale()
    ('log', 'log')
    >>> import matplotlib.pyplot as plt; plt.close("all")
"""

from __future__ import annotations

import re
import textwrap
from typing import (TYPE_CHECKING, Any, Dict, List, NamedTuple, Optional,
                    Sequence, Tuple)

import numpy as np

from ._errors import missing_extra
from ._result import Result

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = ["summary", "fluctuation", "spectrum", "spectrogram", "hurst_fit",
           "cross_summary"]

SUMMARY_SIZE = (10, 8)  # inches, without the signal panel
SPECTRUM_SIZE = (13, 4.5)
FLUCTUATION_SIZE = (10, 7)
SPECTROGRAM_SIZE = (10, 5)

# The symbols: alpha_0 is the alpha where f(alpha) is largest (AlfaSz in the
# result files), f(alpha_0) the spectrum there (F(AlfaSz)).
ALPHA = r"$\alpha$"
BAND = r"$\alpha_{min}$ ... $\alpha_{max}$"
PEAK = r"$\alpha_0$, where $f(\alpha)$ is largest"
WIDTH = r"$\Delta\alpha$"
PEAK_HEIGHT = r"$f(\alpha_0)$"
# How flagged windows look in every figure: hollow grey circles, or grey
# columns in a heat map.
FLAGGED_COLOUR = "0.55"
SIGNIFICANT_COLOUR = "C3"


def _pyplot() -> Any:
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        raise missing_extra("mfwindow.plot", "matplotlib", "plot",
                            "python3-matplotlib") from None
    return plt


def _axes_list(ax: Any) -> List["Axes"]:
    if isinstance(ax, (list, tuple)):
        return list(ax)
    if isinstance(ax, np.ndarray):
        return list(ax.ravel())
    return [ax]


def _time_label(result: Result) -> str:
    text = "time of the window's last sample"
    settings = result.settings
    if settings is None:
        return text
    if settings.is_datetime:
        return "date and time of the window's last sample"
    unit = settings.time_unit
    return text + (" (%s)" % unit if unit else "")


def _format_time(value: Any, result: Result) -> str:
    if isinstance(value, np.datetime64):
        return str(value.astype("M8[ms]")).replace("T", " ")
    unit = result.settings.time_unit if result.settings else None
    return "%g%s" % (value, " s" if unit == "s" else "")


def _caption(result: Result) -> Optional[str]:
    return None if result.settings is None else result.settings.caption()


def _labels(result: Result) -> List[str]:
    if result.channels is None:
        return [result.name or "series"]
    return [str(n) for n in result.channels]


def _per_channel(result: Result, key: str) -> np.ndarray:
    """The array as channels x windows (one row for one series)."""
    values = np.asarray(result[key])
    return values[np.newaxis] if result.channels is None else values


def _flagged(result: Result) -> np.ndarray:
    """channels x windows: True where the window's quality status says
    something other than "ok". Windows a channel did not reach (status "",
    values NaN) and results without the status column are not flagged."""
    shape = (1 if result.channels is None else len(result.channels),
             result.n_windows)
    if "status" not in result:
        return np.zeros(shape, dtype=bool)
    status = _per_channel(result, "status").astype(str)
    return (status != "ok") & (status != "")


def _flag_text(result: Result, flagged: np.ndarray, hidden: bool) -> str:
    """ "flagged: 4 of 29 windows (flat_segments 3, not_concave 1)"; for
    channels "flagged: 1 of 64 windows, 32 in each of 2 channels (...)"."""
    status = _per_channel(result, "status").astype(str)[flagged]
    words, counts = np.unique(status, return_counts=True)
    channels = flagged.shape[0]
    return "flagged: %d of %d windows%s%s (%s)" % (
        int(flagged.sum()), flagged.size,
        ", %d in each of %d channels" % (flagged.shape[1], channels)
        if channels > 1 else "", ", hidden" if hidden else "",
        ", ".join("%s %d" % (w, c) for w, c in zip(words, counts)))


def _limits(a: "Axes", arrays: Sequence[np.ndarray],
            keep: np.ndarray) -> Optional[Tuple[float, float]]:
    """Sets the y range of `a` to hold the values of `arrays` where `keep`
    (the unflagged windows), so that a flagged spike cannot squeeze the
    rest; returns the range, or None when nothing is kept."""
    values = np.concatenate([np.asarray(v, dtype=np.float64)[keep]
                             for v in arrays])
    values = values[np.isfinite(values)]
    if values.size == 0:
        return None
    low, high = float(values.min()), float(values.max())
    # At least a hundredth of the values' size: f(alpha_0) of a monofractal
    # scatters by 1e-5 about 1, rounding that must not fill the panel.
    least = 0.01 * max(abs(low), abs(high), 1.0)
    if high - low < least:
        middle = 0.5 * (low + high)
        low, high = middle - 0.5 * least, middle + 0.5 * least
    pad = 0.05 * (high - low)
    a.set_ylim(low - pad, high + pad)
    return low - pad, high + pad


def _draw_flagged(a: "Axes", time: np.ndarray, rows: np.ndarray,
                  flagged: np.ndarray, limits: Optional[Tuple[float, float]],
                  label: Optional[str],
                  colours: Optional[Sequence[str]] = None) -> None:
    """The flagged windows as hollow circles, one artist per channel that
    has any, edged in the channel's colour when `colours` are given (grey
    otherwise); values beyond the unflagged range are grey triangles on the
    axes' edge, pointing the way the value lies, so that none reads as a
    value at the edge."""
    low, high = limits if limits is not None else (-np.inf, np.inf)
    beyond_times: Dict[str, List[np.ndarray]] = {"^": [], "v": []}
    for k, (row, f) in enumerate(zip(rows, flagged)):
        if not f.any():
            continue
        times, values = time[f], row[f]
        with np.errstate(invalid="ignore"):
            above, below = values > high, values < low
        inside = ~(above | below)
        beyond_times["^"].append(times[above])
        beyond_times["v"].append(times[below])
        (circles,) = a.plot(
            times[inside], values[inside], linestyle="none", marker="o",
            markersize=5, markerfacecolor="none",
            markeredgecolor=FLAGGED_COLOUR if colours is None else colours[k],
            zorder=4, clip_on=False, label=label, gid="flagged")
        label = None
        # An empty line unclipped spans from the figure's corner in the
        # layout.
        circles.set_in_layout(bool(inside.any()))
    first = True
    for marker, edge in (("^", high), ("v", low)):
        times = (np.concatenate(beyond_times[marker]) if beyond_times[marker]
                 else np.zeros(0))
        if times.size:
            a.plot(times, np.full(times.size, edge), linestyle="none",
                   marker=marker, markersize=6, color=FLAGGED_COLOUR,
                   zorder=4, clip_on=False, gid="off scale",
                   label="flagged, off the scale" if first else None)
            first = False


def _draw_significant(a: "Axes", time: np.ndarray, rows: np.ndarray,
                      p: np.ndarray, keep: np.ndarray, alpha: float,
                      what: str) -> None:
    significant = (p <= alpha) & keep
    count = int(significant.sum())
    times = np.concatenate([time[s] for s in significant])
    values = np.concatenate([r[s] for r, s in zip(rows, significant)])
    a.plot(times, values, linestyle="none", marker="*", markersize=9,
           color=SIGNIFICANT_COLOUR, zorder=5, gid="significant",
           label="%s: p $\\leq$ %g against the surrogates in %d of %d "
                 "windows" % (what, alpha, count, int(keep.sum())))


def _units(units: Any, count: int) -> List[Optional[str]]:
    if units is None or isinstance(units, str):
        return [units] * count
    listed = list(units)
    if len(listed) != count:
        raise ValueError("%d units for %d channels" % (len(listed), count))
    return [None if u is None else str(u) for u in listed]


def summary(result: Result, signal: Any = None, ax: Any = None,
            title: Optional[str] = None, units: Any = None,
            flagged: str = "show", alpha: float = 0.05) -> "Figure":
    """The time course of a result, in panels sharing the time axis:

    - the signal, when `signal` (the analysed samples, 1-D or channels x
      samples) is given, at the times of its samples; channels get a
      panel each (their units may differ), labelled with `units` (one
      string, or one per channel);
    - the band alpha_min ... alpha_max, shaded, with alpha_0 (AlfaSz, the
      alpha where f(alpha) is largest) inside it;
    - the width Delta alpha = alpha_max - alpha_min; when the result has
      the surrogate null levels width_null_median and width_null_p95
      (analyse(..., surrogates=N), or mfwindow-batch --surrogates N's CSV
      read by mfwindow.read_result), the band between them is shaded
      behind it, the median dotted;
    - f(alpha_0) (F(AlfaSz)), the height of the spectrum's peak.

    Windows whose quality status is not "ok" (the result's `status`) are
    left out of the lines and of the axis ranges, and drawn as hollow grey
    circles (values beyond the range of the others as grey triangles on
    the axes' edge, pointing the way they lie);
    the alpha panel's legend counts them by status ("flagged: 4 of 29
    windows (flat_segments 3, not_concave 1)"). flagged="hide" leaves
    them out of the picture and keeps the count. With the null levels,
    the unflagged windows whose p-value (width_p, alpha_sz_p) is at most
    `alpha` are marked with a red star and counted in the legend.

    The time axis has its unit when the result knows it (fs, a datetime
    t0, or plain sample numbers), and the run's parameters (window, shift,
    order, min scale, values or increments, and the method and surrogate
    settings that differ from the defaults) are the figure's caption.
    Channels are drawn over one another, one colour each, named by the
    result's channel labels. `title` heads a new figure (default: the
    series name of a result read from a file).

    ax: None draws a new figure (10 x 8 inches, more with the signal); a
    sequence of Axes takes one panel each, in the order above (3 axes, or
    4 with the signal, all channels of the signal in one, or 3 + channels
    with one each), and the caption becomes the first panel's title; a
    single Axes takes the alpha band alone. Returns the Figure. Raises
    ValueError for a result without windows or a `flagged` other than
    "show" or "hide".
    """
    plt = _pyplot()
    if result.n_windows == 0:
        raise ValueError("the result has no windows, nothing to plot (was "
                         "the series shorter than the window?)")
    if flagged not in ("show", "hide"):
        raise ValueError("flagged must be 'show' or 'hide', got %r"
                         % (flagged,))
    names = _labels(result)
    rows = None
    if signal is not None:
        values = np.asarray(signal, dtype=np.float64)
        rows = values[np.newaxis] if values.ndim == 1 else values
        if rows.ndim != 2:
            raise ValueError("signal must be 1-D or channels x samples")
    unit_list = _units(units, 1 if rows is None else len(rows))
    analysis = ["band", "width", "peak"]
    own = ax is None
    if own:
        signal_panels = 0 if rows is None else len(rows)
        height = SUMMARY_SIZE[1] + (0 if rows is None else
                                    2 if len(rows) == 1 else 1.5 * len(rows))
        fig, axes_array = plt.subplots(signal_panels + 3, 1, sharex=True,
                                       figsize=(SUMMARY_SIZE[0], height),
                                       layout="constrained", squeeze=False)
        axes = list(axes_array[:, 0])
    else:
        axes = _axes_list(ax)
        fig = axes[0].figure
        if len(axes) == 1:
            if rows is not None:
                raise ValueError("one Axes takes the alpha band only; give "
                                 "4 axes to draw the signal too")
            analysis = ["band"]
        elif rows is None and len(axes) != 3:
            raise ValueError("%d axes given for the 3 panels band, width, "
                             "peak" % len(axes))
        elif rows is not None and len(axes) not in (4, 3 + len(rows)):
            raise ValueError("%d axes given for the signal and the 3 panels "
                             "band, width, peak" % len(axes))
    signal_axes = axes[:len(axes) - len(analysis)]
    panel = dict(zip(analysis, axes[len(signal_axes):]))

    time = result.time
    colours = ["C%d" % k for k in range(len(names))]
    multi = result.channels is not None
    bad = _flagged(result)
    keep = ~bad
    hide = flagged == "hide"
    flag_label = _flag_text(result, bad, hide) if bad.any() else None
    if rows is not None:
        _draw_signal(signal_axes, result, rows, names, colours, unit_list)

    def draw(a: "Axes", key: str, extra: Sequence[np.ndarray] = (),
             labels: Optional[Sequence[Optional[str]]] = None,
             flag_legend: bool = False) -> Tuple[np.ndarray, Any]:
        values = _per_channel(result, key).astype(np.float64)
        for k, colour in enumerate(colours):
            a.plot(time, np.where(bad[k], np.nan, values[k]), color=colour,
                   marker=".", markersize=3, zorder=3,
                   label=None if labels is None else labels[k])
        limits = _limits(a, [values] + list(extra), keep)
        if bad.any() and not hide:
            _draw_flagged(a, time, values, bad, limits,
                          flag_label if flag_legend else None,
                          colours if multi else None)
        return values, limits

    if "band" in panel:
        a = panel["band"]
        low = _per_channel(result, "alpha_min")
        high = _per_channel(result, "alpha_max")
        for k, colour in enumerate(colours):
            a.fill_between(time, low[k], high[k], where=keep[k],
                           color=colour, alpha=0.15 if multi else 0.25,
                           linewidth=0)
        values, _ = draw(a, "alpha_sz", extra=(low, high), flag_legend=True)
        if "alpha_sz_p" in result:
            _draw_significant(a, time, values,
                              _per_channel(result, "alpha_sz_p"), keep, alpha,
                              r"$\alpha_0$")
        _band_legend(a, names, colours, multi, flag_label, hide)
        a.set_ylabel(ALPHA)
    if "width" in panel:
        a = panel["width"]
        null = ("width_null_median" in result and "width_null_p95" in result)
        extra: List[np.ndarray] = []
        for k, colour in enumerate(colours):
            if null:
                median = _per_channel(result, "width_null_median")[k]
                p95 = _per_channel(result, "width_null_p95")[k]
                extra += [median[np.newaxis], p95[np.newaxis]]
                a.fill_between(time, median, p95, where=keep[k],
                               color=colour, alpha=0.12, linewidth=0,
                               zorder=1,
                               label=None if k else _null_label(result))
                a.plot(time, np.where(bad[k], np.nan, median), color=colour,
                       linestyle=":", linewidth=1, zorder=2)
        rows_null = ([np.concatenate(extra[0::2]), np.concatenate(extra[1::2])]
                     if extra else [])
        values, _ = draw(a, "alpha_width", extra=rows_null, labels=[
            name if multi else r"$\alpha_{max} - \alpha_{min}$"
            for name in names])
        if "width_p" in result:
            _draw_significant(a, time, values, _per_channel(result, "width_p"),
                              keep, alpha, WIDTH)
        a.set_ylabel(WIDTH)
        if null or multi:
            _legend_beside(a)
    if "peak" in panel:
        draw(panel["peak"], "f_alpha_sz")
        panel["peak"].set_ylabel(PEAK_HEIGHT)
    for a in axes:
        a.grid(True, alpha=0.3)
    for a in panel.values():
        # f(alpha_0) hovers near 1: show 1.0003, not an offset of 1.
        a.ticklabel_format(axis="y", useOffset=False)
    axes[-1].set_xlabel(_time_label(result))
    _finish(fig, axes, result, own, title)
    return fig


def _band_legend(a: "Axes", names: List[str], colours: List[str],
                 multi: bool, flag_label: Optional[str], hide: bool) -> None:
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    if multi:
        handles = [Patch(color="0.6", alpha=0.4, label=BAND)] + [
            Line2D([], [], color=c, marker=".", label="%s: %s" % (
                n, r"$\alpha_0$")) for n, c in zip(names, colours)]
    else:
        handles = [Patch(color=colours[0], alpha=0.25, label=BAND),
                   Line2D([], [], color=colours[0], marker=".", label=PEAK)]
    if flag_label is not None:
        handles.append(Line2D([], [], linestyle="none", marker="o",
                              markerfacecolor="none",
                              markeredgecolor="none" if hide
                              else FLAGGED_COLOUR, label=flag_label))
    handles += [h for h in a.get_lines() if h.get_gid() == "significant"]
    _legend_beside(a, handles=handles)


# The widest legend line beside a panel, in characters: longer labels wrap,
# so that the legend does not narrow the panels.
_LEGEND_WIDTH = 40


def _wrapped(label: str) -> str:
    """`label` in lines of about _LEGEND_WIDTH characters, broken at
    spaces outside $...$ (mathtext must not be split)."""
    words = re.findall(r"(?:\$[^$]*\$|\S)+", label)
    lines: List[str] = []
    for word in words:
        if lines and len(lines[-1]) + 1 + len(word) <= _LEGEND_WIDTH:
            lines[-1] += " " + word
        else:
            lines.append(word)
    return "\n".join(lines)


def _legend_beside(a: "Axes", handles: Optional[List[Any]] = None) -> None:
    """The panel's legend to the right of it, where it covers no data, its
    long labels wrapped."""
    if handles is None:
        handles, labels = a.get_legend_handles_labels()
    else:
        labels = [h.get_label() for h in handles]
    labels = [_wrapped(label) for label in labels]
    a.legend(handles, labels, loc="upper left", bbox_to_anchor=(1.01, 1.0),
             borderaxespad=0, fontsize="small")


def _null_label(result: Result) -> str:
    settings = result.settings
    kind = ("%d %s surrogates" % (settings.surrogates, settings.surrogate)
            if settings is not None and settings.surrogates else "surrogates")
    return kind + ": median ... 95th percentile"


def _draw_signal(axes: List["Axes"], result: Result, rows: np.ndarray,
                 names: List[str], colours: List[str],
                 units: List[Optional[str]]) -> None:
    positions = np.arange(1, rows.shape[1] + 1)
    times = (result.settings.times(positions) if result.settings is not None
             else positions.astype(np.float64))
    named = len(rows) == len(names)
    shared = len(axes) == 1
    for k, row in enumerate(rows):
        a = axes[0] if shared else axes[k]
        a.plot(times, row, color=colours[k % len(colours)], linewidth=0.6,
               label=names[k] if named else None)
        if not shared:
            name = names[k] if named else "signal %d" % k
            a.set_ylabel(name + (" (%s)" % units[k] if units[k] else ""))
    if shared:
        unit = units[0] if len(set(units)) == 1 else None
        axes[0].set_ylabel("signal" + (" (%s)" % unit if unit else ""))
        if len(rows) > 1 and named:
            axes[0].legend(loc="upper left", fontsize="small",
                           ncol=min(len(rows), 6))


def _finish(fig: "Figure", axes: List["Axes"], result: Result, own: bool,
            title: Optional[str]) -> None:
    caption = _caption(result)
    heading = title if title is not None else result.name
    if own:
        if heading:
            fig.suptitle(heading)
        if caption:
            # Wrapped to the figure's width: about 4.6 points a character
            # at the small size, and a margin on each side.
            width = int(fig.get_figwidth() * 72.0 * 0.85 / 4.6)
            fig.supxlabel(textwrap.fill(caption, width), fontsize="small")
    elif caption:
        axes[0].set_title(caption, fontsize="small", loc="left")


def _choose_windows(count: int, windows: Optional[Sequence[int]]) -> List[int]:
    if windows is None:
        picks = np.unique(np.linspace(0, count - 1, min(count, 5)).round())
        return [int(w) for w in picks]
    chosen = []
    for w in windows:
        index = int(w)
        if index != w or isinstance(w, bool):
            raise TypeError("windows are integer positions, got %r" % (w,))
        if not -count <= index < count:
            raise IndexError("window %d of %d (positions count from 0)"
                             % (index, count))
        chosen.append(index % count)
    if not chosen:
        raise ValueError("no window chosen")
    return chosen


def _one_series(result: Result, channel: Any) -> Result:
    if result.channels is not None:
        if channel is None:
            raise ValueError("the result has channels %s; choose one with "
                             "channel=" % list(result.channels))
        result = result.channel(channel)
    if result.n_windows == 0:
        raise ValueError("the result has no windows, nothing to plot")
    return result


class HurstFit(NamedTuple):
    """The least-squares lines log10 F_q(s) = intercept + h log10 s, one
    per window and order (arrays shaped as F_q(s) without its scale axis),
    over the scales `in_fit` (a mask of the scales)."""

    h: np.ndarray
    intercept: np.ndarray
    h_se: np.ndarray
    in_fit: np.ndarray


def _abscissa(result: Result) -> np.ndarray:
    """The x of the log-log fits: log10 of each segment length under the
    abscissa "log_s" (the standard method's), else the log-spaced grid
    log_scale."""
    settings = result.settings
    if settings is not None and settings.abscissa == "log_s":
        return np.log10(np.asarray(result.scales, dtype=np.float64))
    return np.asarray(result.log_scale)


def hurst_fit(result: Result, fit_range: Any = None) -> HurstFit:
    """Refits the lines whose slopes are h(q), from F_q(s) (a result of
    analyse(..., fq=True) or mfwindow-batch's .fq.csv): abscissa the
    log-spaced grid log_scale (several grid points may share one truncated
    segment length), or log10 s of each segment length under the abscissa
    "log_s" (method="standard"), ordinate log10 F_q(s), over the scales inside
    `fit_range` ((lo, hi) segment lengths, both ends included, either None
    for no bound), by default the settings' (every scale when there is
    none, or for a result read from a file: give the run's --fit-min and
    --fit-max then). With the run's range the slopes are the result's
    h(q). h_se is the
    slope's standard error, sqrt(sum of squared residuals / (n - 2) /
    sum (x - mean x)^2) over the n fitted scales: it measures how
    straight the line is, not how h would vary between realisations.
    A zero or non-finite F_q(s) gives NaN. Raises ValueError without
    F_q(s)."""
    if "fq" not in result:
        raise ValueError("this needs F_q(s): run mfwindow.analyse(..., "
                         "fq=True), or read the .fq.csv that mfwindow-batch "
                         "--fq writes")
    scales = np.asarray(result.scales)
    in_fit = np.ones(scales.shape, dtype=bool)
    settings = result.settings
    if fit_range is None and settings is not None:
        fit_range = settings.fit_range
    if fit_range is not None:
        low, high = fit_range
        if low is not None:
            in_fit &= scales >= low
        if high is not None:
            in_fit &= scales <= high
    if in_fit.sum() < 2:
        raise ValueError("fit_range %s holds %d of the scales %d ... %d; "
                         "a line needs 2" % (fit_range, in_fit.sum(),
                                             scales.min(), scales.max()))
    x = _abscissa(result)[in_fit]
    with np.errstate(divide="ignore", invalid="ignore"):
        y = np.log10(np.asarray(result.fq)[..., in_fit])
        y = np.where(np.isfinite(y), y, np.nan)
        dx = x - x.mean()
        sxx = float(np.sum(dx * dx))
        y_mean = y.mean(axis=-1)
        h = np.sum(dx * (y - y_mean[..., np.newaxis]), axis=-1) / sxx
        intercept = y_mean - h * x.mean()
        residual = y - (intercept[..., np.newaxis] + h[..., np.newaxis] * x)
        n = x.size
        h_se = (np.sqrt(np.sum(residual * residual, axis=-1) / (n - 2) / sxx)
                if n > 2 else np.full(h.shape, np.nan))
    return HurstFit(h, intercept, h_se, in_fit)


def _choose_orders(q: np.ndarray, wanted: Optional[Sequence[float]]
                   ) -> List[int]:
    """Positions in q of the orders nearest to those wanted (default: -5,
    -2, 2, 5, inside the grid's range)."""
    targets = [-5.0, -2.0, 2.0, 5.0] if wanted is None else list(wanted)
    if not targets:
        raise ValueError("no moment order chosen")
    picks = [int(np.argmin(np.abs(q - float(t)))) for t in targets]
    return sorted(set(picks), key=picks.index)


def fluctuation(result: Result, window: int = 0,
                q: Optional[Sequence[float]] = None, ax: Any = None,
                channel: Any = None, title: Optional[str] = None,
                fit_range: Any = None,
                names: Sequence[str] = ("x", "y")) -> "Figure":
    """The scaling diagnostic of one window: F_q(s) against the segment
    length s on log-log axes for the moment orders nearest to `q`
    (default -5, -2, 2, 5), each with its fitted line drawn across the
    fit range (shaded; `fit_range` as in hurst_fit) and labelled with its
    slope h(q) and standard error (hurst_fit). Below, the residuals log10
    F_q(s) minus the line over every scale: a curve there rather than
    scatter is a crossover, or a fit range that is too wide. When the
    window's status is "crossover" and the result has crossover_scale,
    that scale is a dashed line.

    The points sit at the scale grid's log-spaced values; where several
    share one truncated segment length (the short scales of the default
    grid), F_q(s) repeats and the points form flat steps.

    Needs F_q(s) (analyse(..., fq=True), or mfwindow-batch's .fq.csv read
    by mfwindow.read_result); ValueError otherwise. window: position
    counted from 0, negative from the end. For a result of channels,
    `channel` says which. ax: None draws a new figure (10 x 7 inches) with
    the residuals below; a pair of Axes takes the two panels; a single
    Axes the log-log panel alone. Returns the Figure.

    A pair's result (mfwindow.cross) draws its window's F_xy(s) =
    sqrt(abs(cov_xy(s))) (hollow where the covariance is negative) with
    the line of slope lambda_xy over the fit range, beside each series' own
    F_xx(s) and F_yy(s) (labelled by `names`), and below rho_DCCA(s) with
    the band within its confidence level when the result has one; `q` and
    `channel` do not apply, and ax takes two Axes.
    """
    if _is_pair(result):
        return _cross_fluctuation(result, window, ax, title, names,
                                  fit_range)
    plt = _pyplot()
    result = _one_series(result, channel)
    fit = hurst_fit(result, fit_range)
    (w,) = _choose_windows(result.n_windows, [window])
    orders = _choose_orders(np.asarray(result.q), q)
    own = ax is None
    if own:
        fig, axes_array = plt.subplots(
            2, 1, sharex=True, figsize=FLUCTUATION_SIZE, layout="constrained",
            gridspec_kw=dict(height_ratios=(3, 1)))
        axes = list(axes_array)
    else:
        axes = _axes_list(ax)
        if len(axes) not in (1, 2):
            raise ValueError("give one Axes (F_q(s)) or two (F_q(s), "
                             "residuals), not %d" % len(axes))
        fig = axes[0].figure
    x = _abscissa(result)
    s = 10.0 ** x
    lengths = np.asarray(result.scales)
    fitted = s[fit.in_fit]
    used = lengths[fit.in_fit]
    for a in axes:
        a.axvspan(fitted.min(), fitted.max(), color="0.85", zorder=0,
                  gid="fit range",
                  label=None if a is not axes[0] else
                  "fit range: s = %d ... %d (%d scales, %d distinct "
                  "lengths)" % (used.min(), used.max(), used.size,
                                np.unique(used).size))
    for k, j in enumerate(orders):
        colour = "C%d" % (k % 10)
        values = np.asarray(result.fq)[w, j]
        h, b, se = fit.h[w, j], fit.intercept[w, j], fit.h_se[w, j]
        axes[0].plot(s, values, linestyle="none", marker=".", markersize=4,
                     color=colour)
        line = 10.0 ** (b + h * x[fit.in_fit])
        axes[0].plot(fitted, line, color=colour, linewidth=1.5,
                     label=r"$q$ = %.3g: $h$ = %.3f $\pm$ %.3f"
                     % (result.q[j], h, se))
        if len(axes) == 2:
            with np.errstate(divide="ignore", invalid="ignore"):
                residual = np.log10(values) - (b + h * x)
            axes[1].plot(s, residual, linestyle="none", marker=".",
                         markersize=3, color=colour)
    status = (str(result["status"][w]) if "status" in result else None)
    if status == "crossover" and "crossover_scale" in result:
        scale = float(result["crossover_scale"][w])
        for a in axes:
            a.axvline(scale, color="k", linestyle="--", linewidth=1,
                      gid="crossover",
                      label=None if a is not axes[0] else
                      "crossover at s = %g" % scale)
    axes[0].set_xscale("log")
    axes[0].set_yscale("log")
    axes[0].set_ylabel(r"$F_q(s)$")
    axes[0].legend(loc="best", fontsize="small")
    axes[0].set_title("window ending at t = %s%s" % (
        _format_time(result.time[w], result),
        "" if status is None else ", status %s" % status), fontsize="medium")
    if len(axes) == 2:
        axes[1].axhline(0.0, color="k", linewidth=0.8)
        axes[1].set_xscale("log")
        axes[1].set_ylabel("residual of\n" + r"$\log_{10} F_q(s)$")
    axes[-1].set_xlabel("segment length $s$ (samples)")
    settings = result.settings
    step = (None if settings is None or settings.time_unit != "s"
            else 1.0 / settings.fs if settings.fs is not None
            else settings.dt)
    if step is not None:
        # The same lengths in seconds along the top.
        top = axes[0].secondary_xaxis(
            "top", functions=(lambda s: s * step, lambda t: t / step))
        top.set_xlabel("segment length (s)")
    # Plain numbers at 1-2-3-5 steps: a decade or less of scales would
    # otherwise show one labelled tick.
    low, high = s.min() * (1 - 1e-9), s.max() * (1 + 1e-9)
    ticks = [m * 10 ** e for e in range(0, 8) for m in (1, 2, 3, 5)
             if low <= m * 10 ** e <= high]
    axes[-1].set_xticks(ticks, ["%d" % t for t in ticks])
    axes[-1].xaxis.set_minor_formatter(_null_formatter())
    for a in axes:
        a.grid(True, which="both", alpha=0.3)
    _finish(fig, axes, result, own, title)
    return fig


def _null_formatter() -> Any:
    from matplotlib.ticker import NullFormatter
    return NullFormatter()


def _h_errors(result: Result) -> Optional[np.ndarray]:
    """windows x q standard errors of h(q): the result's own h_se when it
    has one, else those of hurst_fit when F_q(s) was kept, else None."""
    if "h_se" in result and np.shape(result["h_se"]) == np.shape(result.h):
        return np.asarray(result["h_se"], dtype=np.float64)
    if "fq" in result:
        return hurst_fit(result).h_se
    return None


def spectrum(result: Result, windows: Optional[Sequence[int]] = None,
             ax: Any = None, channel: Any = None,
             title: Optional[str] = None) -> "Figure":
    """h(q), tau(q) and the singularity spectrum f(alpha) of chosen
    windows, side by side, one colour per window, named by the time of its
    last sample and its status when that is not "ok".

    Error bars (at about 20 orders, to stay readable): +-1 standard error
    of h(q) (the result's h_se, else the line fit's from F_q(s) when the
    result kept it, see hurst_fit), and of tau(q) = q h(q) - 1, ``|q|`` times
    it. On f(alpha) the ends carry horizontal bars: as ``|q|`` grows, alpha
    tends to h at the extreme orders, so alpha_min takes the standard
    error of h(q_max) and alpha_max that of h(q_min); without those, from
    the result's width_se, each end +-width_se / sqrt(2). Without any
    standard error the curves are drawn alone. With fewer than 5 moment
    orders there is no alpha estimate: the f(alpha) panel says so and h(q)
    and tau(q) are drawn alone.

    The result must hold the whole spectra (analyse(..., spectrum=True),
    or a .spectrum.csv of mfwindow-batch read by mfwindow.read_result);
    ValueError otherwise. windows: positions counted from 0 (negative ones
    from the end); None picks up to five spread over the series. For a
    result of channels, `channel` (position or label) says which.

    ax: None draws a new figure (13 x 4.5 inches) with h(q), tau(q) and
    f(alpha) from left to right; three Axes take these panels; a pair of
    Axes takes f(alpha) and h(q); a single Axes takes f(alpha) alone.
    Returns the Figure.
    """
    plt = _pyplot()
    if not result.has_spectrum:
        raise ValueError("plot.spectrum needs the whole spectra: run "
                         "mfwindow.analyse(..., spectrum=True), or read the "
                         ".spectrum.csv that mfwindow-batch --spectrum "
                         "writes")
    result = _one_series(result, channel)
    chosen = _choose_windows(result.n_windows, windows)
    own = ax is None
    if own:
        fig, panels = plt.subplots(1, 3, figsize=SPECTRUM_SIZE,
                                   layout="constrained")
        axes = list(panels)
    else:
        axes = _axes_list(ax)
        if len(axes) not in (1, 2, 3):
            raise ValueError("give one Axes (f(alpha)), two (f(alpha), "
                             "h(q)) or three (h(q), tau(q), f(alpha)), not "
                             "%d" % len(axes))
        fig = axes[0].figure
    if len(axes) == 3:
        fh, ft, fa = axes
    else:
        fa, fh, ft = axes[0], (axes[1] if len(axes) == 2 else None), None
    h_se = _h_errors(result)
    width_se = (np.asarray(result["width_se"], dtype=np.float64)
                if "width_se" in result else None)
    q = np.asarray(result.q)
    every = max(1, q.size // 20)
    status = result["status"] if "status" in result else None
    for k, w in enumerate(chosen):
        label = "t = %s" % _format_time(result.time[w], result)
        if status is not None and str(status[w]) not in ("ok", ""):
            label += " (%s)" % status[w]
        colour = "C%d" % (k % 10)
        fa.plot(result.alpha[w], result.f_alpha[w], color=colour,
                marker=".", markersize=3, label=label)
        if fh is not None:
            fh.plot(q, result.h[w], color=colour, label=label)
        if ft is not None:
            ft.plot(q, result.tau[w], color=colour, label=label)
        if h_se is not None:
            bars = dict(fmt="none", ecolor=colour, elinewidth=0.8,
                        errorevery=every)
            if fh is not None:
                fh.errorbar(q, result.h[w], yerr=h_se[w], **bars)
            if ft is not None:
                ft.errorbar(q, result.tau[w], yerr=np.abs(q) * h_se[w],
                            **bars)
            ends = (h_se[w][-1], h_se[w][0])
        elif width_se is not None:
            ends = (width_se[w] / np.sqrt(2.0),) * 2
        else:
            ends = None
        # Fewer than 5 orders give no alpha estimate at all: f(alpha) stays
        # empty and only h(q) and tau(q) are drawn.
        if ends is not None and np.isfinite(result.alpha[w]).any():
            at = [int(np.nanargmin(result.alpha[w])),
                  int(np.nanargmax(result.alpha[w]))]
            fa.errorbar(result.alpha[w][at], result.f_alpha[w][at],
                        xerr=np.asarray(ends), fmt="none", ecolor=colour,
                        elinewidth=1.2, capsize=3)
    fa.set_xlabel(ALPHA)
    fa.set_ylabel(r"$f(\alpha)$")
    if not np.isfinite(np.asarray(result.alpha)[list(chosen)]).any():
        fa.text(0.5, 0.5, "no f(alpha): it needs at least 5 moment orders",
                ha="center", va="center", transform=fa.transAxes,
                fontsize="small")
    legend_axes = fh if fh is not None else fa
    errors = h_se is not None or width_se is not None
    legend_axes.legend(loc="best", fontsize="small",
                       title="window ending at" + (
                           r" (bars: $\pm$1 standard error)" if errors
                           else ""), title_fontsize="small")
    if fh is not None:
        fh.set_xlabel(r"$q$")
        fh.set_ylabel(r"$h(q)$")
    if ft is not None:
        ft.set_xlabel(r"$q$")
        ft.set_ylabel(r"$\tau(q) = q\,h(q) - 1$")
    for a in axes:
        a.grid(True, alpha=0.3)
    _finish(fig, axes, result, own, title)
    return fig


def spectrogram(result: Result, kind: str = "f_alpha", ax: Any = None,
                channel: Any = None, title: Optional[str] = None
                ) -> "Figure":
    """The spectra of every window as a heat map over time: kind "f_alpha"
    colours f(alpha) on a common alpha axis (each window's sampled
    spectrum interpolated linearly onto 200 points across the alphas of
    all windows; blank outside the window's own alpha range and where f
    < 0), with alpha_0 as a white line; kind "h" colours h(q) against q.
    Windows whose status is not "ok" are grey columns, counted in the
    legend. Needs the whole spectra (as spectrum()). ax: None draws a new
    figure (10 x 5 inches); else one Axes, the colour bar taken from it.
    Returns the Figure. Raises ValueError for another kind, and for
    "f_alpha" when no window has an alpha estimate (fewer than 5 moment
    orders).
    """
    plt = _pyplot()
    if kind not in ("f_alpha", "h"):
        raise ValueError("kind must be 'f_alpha' or 'h', got %r" % (kind,))
    if not result.has_spectrum:
        raise ValueError("plot.spectrogram needs the whole spectra: run "
                         "mfwindow.analyse(..., spectrum=True), or read the "
                         ".spectrum.csv that mfwindow-batch --spectrum "
                         "writes")
    result = _one_series(result, channel)
    own = ax is None
    if own:
        fig, a = plt.subplots(figsize=SPECTROGRAM_SIZE, layout="constrained")
    else:
        axes = _axes_list(ax)
        if len(axes) != 1:
            raise ValueError("give one Axes, not %d" % len(axes))
        a = axes[0]
        fig = a.figure
    bad = _flagged(result)[0]
    if kind == "h":
        grid = np.asarray(result.q, dtype=np.float64)
        image = np.array(result.h, dtype=np.float64)
        ylabel, colour_label = r"$q$", r"$h(q)$"
    else:
        alpha = np.asarray(result.alpha, dtype=np.float64)
        if not np.isfinite(alpha).any():
            raise ValueError("plot.spectrogram: no window has an alpha "
                             "estimate (they need at least 5 moment "
                             "orders, this result has %d); kind='h' draws "
                             "h(q)" % np.asarray(result.q).size)
        span = alpha[~bad] if (~bad).any() else alpha
        grid = np.linspace(np.nanmin(span), np.nanmax(span), 200)
        image = np.full((result.n_windows, grid.size), np.nan)
        for w in range(result.n_windows):
            order = np.argsort(alpha[w])
            xs, fs = alpha[w][order], np.asarray(result.f_alpha[w])[order]
            good = np.isfinite(xs) & np.isfinite(fs)
            if good.sum() < 2:
                continue
            row = np.interp(grid, xs[good], fs[good], left=np.nan,
                            right=np.nan)
            image[w] = np.where(row >= 0.0, row, np.nan)
        ylabel, colour_label = ALPHA, r"$f(\alpha)$"
    image[bad] = np.nan
    cmap = plt.get_cmap("viridis").with_extremes(bad="white")
    mesh = a.pcolormesh(result.time, grid, image.T, shading="nearest",
                        cmap=cmap)
    fig.colorbar(mesh, ax=a, label=colour_label)
    from matplotlib.patches import Patch
    handles = []
    if kind == "f_alpha":
        from matplotlib.patheffects import withStroke
        # The spectrum CSV has no AlfaSz column; the sampled spectrum's
        # peak is where it lies.
        peak = (np.asarray(result.alpha_sz) if "alpha_sz" in result else
                np.take_along_axis(alpha, np.nanargmax(np.where(
                    np.isnan(result.f_alpha), -np.inf, result.f_alpha),
                    axis=1)[:, np.newaxis], axis=1)[:, 0])
        line = a.plot(result.time, np.where(bad, np.nan, peak),
                      color="white", linewidth=1.0, path_effects=[
                          withStroke(linewidth=2.2, foreground="0.2")])[0]
        line.set_label(PEAK)
        handles.append(line)
    if bad.any():
        time = np.asarray(result.time)
        for t in time[bad]:
            if time.size > 1:  # a column as wide as the shift
                half = np.median(np.diff(time)) / 2
                a.axvspan(t - half, t + half, color=FLAGGED_COLOUR,
                          linewidth=0, gid="flagged")
            else:
                a.axvline(t, color=FLAGGED_COLOUR, linewidth=4, gid="flagged")
        handles.append(Patch(color=FLAGGED_COLOUR,
                             label=_flag_text(result, bad[np.newaxis],
                                              False)))
    if handles:
        a.legend(handles=handles, loc="upper right", fontsize="small",
                 framealpha=0.8)
    a.set_ylabel(ylabel)
    a.set_xlabel(_time_label(result))
    _finish(fig, [a], result, own, title)
    return fig


CROSS_SUMMARY_SIZE = (11, 10)
RHO = r"$\rho_{DCCA}(s)$"
LAMBDA = r"$\lambda_{xy}$"


def _is_pair(result: Any) -> bool:
    """Whether `result` is mfwindow.cross's (it has the detrended
    covariances)."""
    try:
        return "cov_xy" in result
    except TypeError:
        return False


def _pair_flagged(result: Any, names: Sequence[str]
                  ) -> Tuple[np.ndarray, Optional[str]]:
    """Per window: True where the status of x, of y or of the cross
    spectrum is not "ok", and the legend's count of them by series and
    status ("flagged: 3 of 29 windows (x crossover 2, xy not_concave 1)"),
    None when none is."""
    parts = list(zip(names, ("status_x", "status_y"))) + [
        ("".join(names) if all(len(n) == 1 for n in names) else "pair",
         "status")]
    statuses = [(who, np.asarray(result[key]).astype(str))
                for who, key in parts]
    bad = np.zeros(result.n_windows, dtype=bool)
    counts = []
    for who, status in statuses:
        flagged = (status != "ok") & (status != "")
        bad |= flagged
        words, numbers = np.unique(status[flagged], return_counts=True)
        counts += ["%s %s %d" % (who, w, c) for w, c in zip(words, numbers)]
    if not bad.any():
        return bad, None
    return bad, "flagged: %d of %d windows (%s)" % (
        int(bad.sum()), bad.size, ", ".join(counts))


def _flagged_columns(a: "Axes", time: np.ndarray, bad: np.ndarray) -> None:
    """Flagged windows as grey columns as wide as the shift."""
    half = np.median(np.diff(time)) / 2 if time.size > 1 else 0.0
    for t in time[bad]:
        if half > 0:
            a.axvspan(t - half, t + half, color=FLAGGED_COLOUR, linewidth=0,
                      gid="flagged")
        else:
            a.axvline(t, color=FLAGGED_COLOUR, linewidth=4, gid="flagged")


def _plain_log_ticks(axis: Any, low: float, high: float) -> None:
    """Plain numbers at 1-2-3-5 steps on a log axis from `low` to `high`:
    a decade or less would otherwise show one labelled tick."""
    low, high = low * (1 - 1e-9), high * (1 + 1e-9)
    ticks = [m * 10 ** e for e in range(0, 8) for m in (1, 2, 3, 5)
             if low <= m * 10 ** e <= high]
    axis.set_ticks(ticks, ["%d" % t for t in ticks])
    axis.set_minor_formatter(_null_formatter())


def _pair_title(result: Any, names: Sequence[str]) -> str:
    return "%s against %s" % tuple(names)


def cross_summary(result: Any, ax: Any = None, title: Optional[str] = None,
                  names: Sequence[str] = ("x", "y")) -> "Figure":
    """The time course of a pair (a result of mfwindow.cross), in panels
    sharing the time axis:

    - rho_DCCA(s, t) as a heat map over the windows' times and the
      segment lengths s (one row per distinct length), from -1 (blue)
      through 0 (white) to 1 (red); with the confidence level
      (cross(..., surrogates=N)) the cells whose abs(rho) is within it
      (not rho_significant) are greyed over, so that what keeps its
      colour is what independent series with y's spectrum do not give;
    - the cross exponent lambda_xy, the slope of log sqrt(abs(cov_xy(s))),
      crossed in red where cov_xy changes sign over the fitted scales
      (cov_sign_changes: no power law);
    - the cross spectrum's width Delta alpha_xy;
    - the share of segments whose covariance is negative: where it is
      large the cross spectrum describes abs(cov), noise about zero.

    Windows where the status of x, of y or of the pair is not "ok" are
    grey columns in the heat map and hollow grey circles below, left out
    of the lines and the axis ranges, and counted by series and status in
    the legend. `names` label the two series. ax: None draws a new figure
    (11 x 10 inches); else a sequence of 4 Axes, one per panel, the
    colour bar taken from the first. Returns the Figure. Raises
    ValueError for a result that is not a pair's or has no windows.
    """
    plt = _pyplot()
    if not _is_pair(result):
        raise ValueError("plot.cross_summary draws a result of "
                         "mfwindow.cross; plot.summary draws one series'")
    if result.n_windows == 0:
        raise ValueError("the result has no windows, nothing to plot")
    names = [str(n) for n in names]
    if len(names) != 2:
        raise ValueError("names: two labels, got %r" % (names,))
    own = ax is None
    if own:
        fig, axes_array = plt.subplots(
            4, 1, sharex=True, figsize=CROSS_SUMMARY_SIZE,
            layout="constrained",
            gridspec_kw=dict(height_ratios=(2.2, 1, 1, 0.8)))
        axes = list(axes_array)
    else:
        axes = _axes_list(ax)
        if len(axes) != 4:
            raise ValueError("give 4 Axes (rho, lambda, width, negative "
                             "share), not %d" % len(axes))
        fig = axes[0].figure
    time = np.asarray(result.time)
    bad, flag_label = _pair_flagged(result, names)
    keep = ~bad
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    # The heat map: one row per distinct segment length.
    lengths, first = np.unique(np.asarray(result.scales), return_index=True)
    rho = np.asarray(result.rho, dtype=np.float64)[:, first]
    heat = axes[0]
    mesh = heat.pcolormesh(time, lengths, rho.T, shading="nearest",
                           cmap="RdBu_r", vmin=-1.0, vmax=1.0)
    fig.colorbar(mesh, ax=heat, location="top", shrink=0.6, aspect=40,
                 label=RHO + r": $-1$ opposite, 0 none, 1 in step")
    handles: List[Any] = []
    if "rho_significant" in result:
        within = ~np.asarray(result.rho_significant)[:, first]
        # Light grey over the cells within the level: apart from white,
        # which is rho = 0.
        heat.pcolormesh(time, lengths, np.where(within, 0.3, np.nan).T,
                        shading="nearest", cmap="Greys", vmin=0.0, vmax=1.0,
                        alpha=0.85, gid="within level")
        settings = result.settings
        handles.append(Patch(facecolor="0.78", edgecolor="0.6", label=(
            "grey: abs(rho) within the %g level of %d %s surrogates of %s "
            "(independent of %s); %d%% of the cells are beyond it"
            % (result.rho_level, settings.surrogates, settings.surrogate,
               names[1], names[0],
               round(100 * float(np.mean(~within)))))))
    if bad.any():
        heat.plot(time[bad], np.ones(int(bad.sum())), linestyle="none",
                  marker="v", markersize=6, color=FLAGGED_COLOUR,
                  transform=heat.get_xaxis_transform(), clip_on=False,
                  gid="flagged", label=flag_label)
        handles.append(heat.get_lines()[-1])
    heat.set_yscale("log")
    _plain_log_ticks(heat.yaxis, lengths.min(), lengths.max())
    heat.set_ylabel("segment length $s$ (samples)")
    if handles:
        _legend_beside(heat, handles=handles)

    panels = [(axes[1], "lambda_xy", LAMBDA, "cross exponent: slope of "
               r"$\log \sqrt{|F^2_{xy}(s)|}$ over the fitted scales"),
              (axes[2], "alpha_width", r"$\Delta\alpha_{xy}$",
               "width of the cross spectrum"),
              (axes[3], "negative_share", "negative\ncovariances",
               "share of segments whose covariance is negative (where "
               "large, the cross spectrum describes abs(cov))")]
    for a, key, label, meaning in panels:
        values = np.asarray(result[key], dtype=np.float64)
        a.plot(time, np.where(bad, np.nan, values), color="C0", marker=".",
               markersize=3, zorder=3)
        # The share keeps its whole range, 0 to 1.
        limits = (_limits(a, [values], keep) if key != "negative_share"
                  else None)
        if bad.any():
            _draw_flagged(a, time, values[np.newaxis], bad[np.newaxis],
                          limits, None)
        a.set_ylabel(label)
        a.grid(True, alpha=0.3)
        a.ticklabel_format(axis="y", useOffset=False)
        legend = [Line2D([], [], color="C0", marker=".", label=meaning)]
        if bad.any():
            legend.append(Line2D([], [], linestyle="none", marker="o",
                                 markerfacecolor="none",
                                 markeredgecolor=FLAGGED_COLOUR,
                                 label="flagged window"))
        changes = np.asarray(result["cov_sign_changes"], dtype=bool)
        if key == "lambda_xy" and changes.any():
            legend += a.plot(time[changes], values[changes], linestyle="none",
                             marker="x", color="C3", zorder=5,
                             gid="sign changes", label=(
                                 "cov_xy changes sign over the fitted "
                                 "scales: no power law (%d windows)"
                                 % int(changes.sum())))
        _legend_beside(a, handles=legend)
    axes[3].set_ylim(-0.02, 1.02)
    axes[-1].set_xlabel(_time_label(result))
    heading = title if title is not None else _pair_title(result, names)
    if own:
        fig.suptitle(heading)
        caption = _caption(result)
        if caption:
            width = int(fig.get_figwidth() * 72.0 * 0.85 / 4.6)
            fig.supxlabel(textwrap.fill(caption, width), fontsize="small")
    else:
        axes[0].set_title(heading, fontsize="small", loc="left")
    return fig


def _cross_fluctuation(result: Any, window: int, ax: Any,
                       title: Optional[str], names: Sequence[str],
                       fit_range: Any) -> "Figure":
    """plot.fluctuation of a pair: F_xy = sqrt(abs(cov_xy)), F_xx and F_yy
    against s, and rho(s) with its confidence level below."""
    plt = _pyplot()
    if result.n_windows == 0:
        raise ValueError("the result has no windows, nothing to plot")
    (w,) = _choose_windows(result.n_windows, [window])
    own = ax is None
    if own:
        fig, axes_array = plt.subplots(
            2, 1, sharex=True, figsize=FLUCTUATION_SIZE, layout="constrained",
            gridspec_kw=dict(height_ratios=(3, 1.3)))
        axes = list(axes_array)
    else:
        axes = _axes_list(ax)
        if len(axes) != 2:
            raise ValueError("give two Axes (F(s), rho(s)), not %d"
                             % len(axes))
        fig = axes[0].figure
    x = _abscissa(result)
    s = 10.0 ** x
    scales = np.asarray(result.scales)
    in_fit = np.ones(scales.shape, dtype=bool)
    settings = result.settings
    if fit_range is None and settings is not None:
        fit_range = settings.fit_range
    if fit_range is not None:
        low, high = fit_range
        in_fit &= (scales >= (low or 0)) & (scales <= (high or scales.max()))
    for a in axes:
        a.axvspan(s[in_fit].min(), s[in_fit].max(), color="0.85", zorder=0,
                  gid="fit range", label=None if a is not axes[0] else
                  "fit range: s = %d ... %d" % (scales[in_fit].min(),
                                                 scales[in_fit].max()))
    cov = np.asarray(result.cov_xy, dtype=np.float64)[w]
    f_xy = np.sqrt(np.abs(cov))
    top = axes[0]
    top.plot(s, result.f_xx[w], linestyle="none", marker=".", markersize=4,
             color="C1", label=r"$F_{xx}(s)$: %s alone" % names[0])
    top.plot(s, result.f_yy[w], linestyle="none", marker=".", markersize=4,
             color="C2", label=r"$F_{yy}(s)$: %s alone" % names[1])
    negative = cov < 0
    top.plot(s[~negative], f_xy[~negative], linestyle="none", marker="o",
             markersize=4, color="C0",
             label=r"$F_{xy}(s) = \sqrt{|F^2_{xy}(s)|}$, covariance > 0")
    if negative.any():
        top.plot(s[negative], f_xy[negative], linestyle="none", marker="o",
                 markersize=4, markerfacecolor="none", color="C0",
                 gid="negative",
                 label=r"$F_{xy}(s)$ where the covariance is negative")
    lam = float(result.lambda_xy[w])
    with np.errstate(divide="ignore", invalid="ignore"):
        y = np.log10(f_xy[in_fit])
    if np.isfinite(lam) and np.isfinite(y).all():
        intercept = y.mean() - lam * x[in_fit].mean()
        top.plot(s[in_fit], 10.0 ** (intercept + lam * x[in_fit]),
                 color="C0", linewidth=1.5,
                 label=r"fit: $\lambda_{xy}$ = %.3f" % lam)
    top.set_xscale("log")
    top.set_yscale("log")
    top.set_ylabel("fluctuation")
    _legend_beside(top)
    status = ", ".join("%s %s" % (who, result[key][w]) for who, key in (
        (names[0], "status_x"), (names[1], "status_y"),
        ("pair", "status")))
    top.set_title("window ending at t = %s; status %s" % (
        _format_time(result.time[w], result), status), fontsize="medium")
    below = axes[1]
    below.axhline(0.0, color="k", linewidth=0.8)
    below.plot(s, result.rho[w], marker=".", markersize=4, color="C3",
               label=RHO)
    if "rho_critical" in result:
        critical = np.asarray(result.rho_critical, dtype=np.float64)[w]
        below.fill_between(s, -critical, critical, color="C3", alpha=0.15,
                           linewidth=0, gid="within level",
                           label="within the %g level under independence"
                           % result.rho_level)
    below.set_ylim(-1.05, 1.05)
    below.set_xscale("log")
    below.set_ylabel(RHO)
    _legend_beside(below)
    below.set_xlabel("segment length $s$ (samples)")
    _plain_log_ticks(below.xaxis, s.min(), s.max())
    for a in axes:
        a.grid(True, which="both", alpha=0.3)
    heading = title if title is not None else _pair_title(result, names)
    if own:
        fig.suptitle(heading)
        caption = _caption(result)
        if caption:
            width = int(fig.get_figwidth() * 72.0 * 0.85 / 4.6)
            fig.supxlabel(textwrap.fill(caption, width), fontsize="small")
    return fig
