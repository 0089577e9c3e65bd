"""Figures of mfwindow results (needs matplotlib; Debian:
python3-matplotlib).

summary(result) draws the time course: the alpha band, its width and the
height of the spectrum's peak against the time of each window, with the
signal on top when it is given. spectrum(result, windows) draws the whole
spectrum f(alpha) and the generalised Hurst exponent h(q) of chosen windows.
Both return the matplotlib Figure and draw into axes of yours when given.

    >>> import numpy as np, mfwindow, mfwindow.plot
    >>> x = np.cumsum(np.random.default_rng(3).standard_normal(4000))
    >>> r = mfwindow.analyse(x, window=1000, shift=250, fs=250,
    ...                      spectrum=True)
    >>> fig = mfwindow.plot.summary(r, signal=x)
    >>> [a.get_ylabel() for a in fig.axes]
    ['signal', '$\\\\alpha$', '$\\\\Delta\\\\alpha$', '$f(\\\\alpha_0)$']
    >>> fig.axes[-1].get_xlabel()
    "time of the window's last sample (s)"
    >>> fig = mfwindow.plot.spectrum(r, windows=[0, -1])
    >>> [a.get_xlabel() for a in fig.axes]
    ['$\\\\alpha$', '$q$']
    >>> import matplotlib.pyplot as plt; plt.close("all")
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, List, Optional, Sequence

import numpy as np

from ._result import Result

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = ["summary", "spectrum"]

SUMMARY_SIZE = (10, 8)  # inches, without the signal panel
SPECTRUM_SIZE = (10, 5)

# The symbols: alpha_0 is the alpha where f(alpha) is largest (AlfaSz in the
# result files), f(alpha_0) the spectrum there (F(AlfaSz)).
ALPHA = r"$\alpha$"
BAND = r"$\alpha_{min}$ ... $\alpha_{max}$"
PEAK = r"$\alpha_0$, where $f(\alpha)$ is largest"
WIDTH = r"$\Delta\alpha$"
PEAK_HEIGHT = r"$f(\alpha_0)$"


def _pyplot() -> Any:
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        raise ImportError("mfwindow.plot needs matplotlib (Debian: "
                          "python3-matplotlib, or pip install matplotlib)") \
            from None
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


def summary(result: Result, signal: Any = None, ax: Any = None,
            title: Optional[str] = None) -> "Figure":
    """The time course of a result, in panels sharing the time axis:

    - the signal, when `signal` (the analysed samples, 1-D or channels x
      samples) is given, at the times of its samples;
    - the band alpha_min ... alpha_max, shaded, with alpha_0 (AlfaSz, the
      alpha where f(alpha) is largest) inside it;
    - the width Delta alpha = alpha_max - alpha_min; when the result has
      the surrogate null levels width_null_median and width_null_p95
      (analyse(..., surrogates=N), or mfwindow-batch --surrogates N's CSV
      read by mfwindow.read_result), the band between them is shaded
      behind it, the median dotted;
    - f(alpha_0) (F(AlfaSz)), the height of the spectrum's peak.

    The time axis has its unit when the result knows it (fs, a datetime
    t0, or plain sample numbers), and the run's parameters (window, shift,
    order, min scale, values or increments, and the method and surrogate
    settings that differ from the defaults) are the figure's caption.
    Channels are drawn over one another, one colour each, named by the
    result's channel labels. `title` heads a new figure (default: the
    series name of a result read from a file).

    ax: None draws a new figure (10 x 8 inches, more with the signal); a
    sequence of Axes takes one panel each, in the order above (3 axes, or 4
    with the signal), and the caption becomes the first panel's title; a
    single Axes takes the alpha band alone. Returns the Figure. Raises
    ValueError for a result without windows.
    """
    plt = _pyplot()
    if result.n_windows == 0:
        raise ValueError("the result has no windows, nothing to plot (was "
                         "the series shorter than the window?)")
    names = _labels(result)
    panels = (["signal"] if signal is not None else []) + [
        "band", "width", "peak"]
    own = ax is None
    if own:
        height = SUMMARY_SIZE[1] + (2 if signal is not None else 0)
        fig, axes_array = plt.subplots(len(panels), 1, sharex=True,
                                       figsize=(SUMMARY_SIZE[0], height),
                                       layout="constrained", squeeze=False)
        axes = list(axes_array[:, 0])
    else:
        axes = _axes_list(ax)
        if len(axes) == 1:
            if signal is not None:
                raise ValueError("one Axes takes the alpha band only; give "
                                 "%d axes to draw the signal too"
                                 % len(panels))
            panels = ["band"]
        elif len(axes) != len(panels):
            raise ValueError("%d axes given for the %d panels %s"
                             % (len(axes), len(panels), ", ".join(panels)))
        fig = axes[0].figure
    panel = dict(zip(panels, axes))

    time = result.time
    colours = ["C%d" % k for k in range(len(names))]
    multi = result.channels is not None
    if "signal" in panel:
        _draw_signal(panel["signal"], result, signal, names, colours)
    if "band" in panel:
        _draw_band(panel["band"], result, names, colours)
    if "width" in panel:
        a = panel["width"]
        null = ("width_null_median" in result and "width_null_p95" in result)
        for k, (name, colour) in enumerate(zip(names, colours)):
            if null:
                median = _per_channel(result, "width_null_median")[k]
                p95 = _per_channel(result, "width_null_p95")[k]
                a.fill_between(time, median, p95, color=colour, alpha=0.12,
                               linewidth=0, zorder=1,
                               label=None if k else _null_label(result))
                a.plot(time, median, color=colour, linestyle=":",
                       linewidth=1, zorder=2)
            a.plot(time, _per_channel(result, "alpha_width")[k],
                   color=colour, marker=".", markersize=3, zorder=3,
                   label=(name if multi else
                          r"$\alpha_{max} - \alpha_{min}$"))
        a.set_ylabel(WIDTH)
        if null:
            a.legend(loc="best", fontsize="small")
    if "peak" in panel:
        a = panel["peak"]
        for k, colour in enumerate(colours):
            a.plot(time, _per_channel(result, "f_alpha_sz")[k],
                   color=colour, marker=".", markersize=3)
        a.set_ylabel(PEAK_HEIGHT)
    for name in panels:
        a = panel[name]
        a.grid(True, alpha=0.3)
        if name != "signal":
            # f(alpha_0) hovers near 1: show 1.0003, not an offset of 1.
            a.ticklabel_format(axis="y", useOffset=False)
    axes[-1].set_xlabel(_time_label(result))
    _finish(fig, axes, result, own, title)
    return fig


def _null_label(result: Result) -> str:
    settings = result.settings
    kind = ("%d %s surrogates" % (settings.surrogates, settings.surrogate)
            if settings is not None and settings.surrogates else "surrogates")
    return kind + ": median ... 95th percentile"


def _draw_signal(a: "Axes", result: Result, signal: Any, names: List[str],
                 colours: List[str]) -> None:
    values = np.asarray(signal, dtype=np.float64)
    rows = values[np.newaxis] if values.ndim == 1 else values
    if rows.ndim != 2:
        raise ValueError("signal must be 1-D or channels x samples")
    positions = np.arange(1, rows.shape[1] + 1)
    times = (result.settings.times(positions) if result.settings is not None
             else positions.astype(np.float64))
    for k, row in enumerate(rows):
        a.plot(times, row, color=colours[k % len(colours)], linewidth=0.6,
               label=names[k] if len(rows) == len(names) else None)
    a.set_ylabel("signal")
    if len(rows) > 1 and len(rows) == len(names):
        a.legend(loc="upper left", fontsize="small", ncol=min(len(rows), 6))


def _draw_band(a: "Axes", result: Result, names: List[str],
               colours: List[str]) -> None:
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    time = result.time
    multi = result.channels is not None
    for k, colour in enumerate(colours):
        a.fill_between(time, _per_channel(result, "alpha_min")[k],
                       _per_channel(result, "alpha_max")[k], color=colour,
                       alpha=0.15 if multi else 0.25, linewidth=0)
        a.plot(time, _per_channel(result, "alpha_sz")[k], color=colour,
               marker=".", markersize=3)
    if multi:
        handles = [Patch(color="0.6", alpha=0.4, label=BAND)] + [
            Line2D([], [], color=c, marker=".", label="%s: %s" % (
                n, r"$\alpha_0$")) for n, c in zip(names, colours)]
    else:
        handles = [Patch(color=colours[0], alpha=0.25, label=BAND),
                   Line2D([], [], color=colours[0], marker=".", label=PEAK)]
    a.legend(handles=handles, loc="best", fontsize="small")
    a.set_ylabel(ALPHA)


def _finish(fig: "Figure", axes: List["Axes"], result: Result, own: bool,
            title: Optional[str]) -> None:
    caption = _caption(result)
    heading = title if title is not None else result.name
    if own:
        if heading:
            fig.suptitle(heading)
        if caption:
            fig.supxlabel(caption, fontsize="small")
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


def spectrum(result: Result, windows: Optional[Sequence[int]] = None,
             ax: Any = None, channel: Any = None,
             title: Optional[str] = None) -> "Figure":
    """The singularity spectrum f(alpha) and the generalised Hurst
    exponent h(q) of chosen windows, one colour per window, named by the
    time of its last sample.

    The result must hold the whole spectra (analyse(..., spectrum=True),
    or a .spectrum.csv of mfwindow-batch read by mfwindow.read_result);
    ValueError otherwise. windows: positions counted from 0 (negative ones
    from the end); None picks up to five spread over the series. For a
    result of channels, `channel` (position or label) says which.

    ax: None draws a new figure (10 x 5 inches) with f(alpha) on the left
    and h(q) on the right; a pair of Axes takes these two panels; a single
    Axes takes f(alpha) alone. Returns the Figure.
    """
    plt = _pyplot()
    if not result.has_spectrum:
        raise ValueError("plot.spectrum needs the whole spectra: run "
                         "mfwindow.analyse(..., spectrum=True), or read the "
                         ".spectrum.csv that mfwindow-batch --spectrum "
                         "writes")
    if result.channels is not None:
        if channel is None:
            raise ValueError("the result has channels %s; choose one with "
                             "channel=" % list(result.channels))
        result = result.channel(channel)
    if result.n_windows == 0:
        raise ValueError("the result has no windows, nothing to plot")
    chosen = _choose_windows(result.n_windows, windows)
    own = ax is None
    if own:
        fig, (fa, fh) = plt.subplots(1, 2, figsize=SPECTRUM_SIZE,
                                     layout="constrained")
        axes = [fa, fh]
    else:
        axes = _axes_list(ax)
        if len(axes) not in (1, 2):
            raise ValueError("give one Axes (f(alpha)) or two (f(alpha), "
                             "h(q)), not %d" % len(axes))
        fig = axes[0].figure
    for k, w in enumerate(chosen):
        label = "t = %s" % _format_time(result.time[w], result)
        colour = "C%d" % (k % 10)
        axes[0].plot(result.alpha[w], result.f_alpha[w], color=colour,
                     marker=".", markersize=3, label=label)
        if len(axes) == 2:
            axes[1].plot(result.q, result.h[w], color=colour, label=label)
    axes[0].set_xlabel(ALPHA)
    axes[0].set_ylabel(r"$f(\alpha)$")
    axes[0].legend(loc="best", fontsize="small",
                   title="window ending at", title_fontsize="small")
    if len(axes) == 2:
        axes[1].set_xlabel(r"$q$")
        axes[1].set_ylabel(r"$h(q)$")
    for a in axes:
        a.grid(True, alpha=0.3)
    _finish(fig, axes, result, own, title)
    return fig
