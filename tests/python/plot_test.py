"""mfwindow.plot (the figures, their axes, labels and data) and the
mfwindow-plot command (formats, names, sizes, the spectrum CSV, refusals)."""

import dataclasses
import os
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ElementTree
import zlib

import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.figure import Figure

import mfwindow
import mfwindow.plot
import support
from support import COLUMNS, FILE_COLUMNS, bits


@pytest.fixture(scope="module")
def signal():
    return support.walk(3000, seed=12)


@pytest.fixture(scope="module")
def result(signal):
    return support.described(signal, window=500, shift=100, fs=250,
                            spectrum=True)


def line_data(axes):
    """The data of the plotted lines, error bars' own lines left out."""
    bars = {id(line) for c in axes.containers for line in c.get_children()}
    return [(bits(line.get_xdata()), bits(line.get_ydata()))
            for line in axes.get_lines() if id(line) not in bars]


def test_summary_panels_labels_and_data(result, signal):
    fig = mfwindow.plot.summary(result, signal=signal)
    assert isinstance(fig, Figure)
    top, band, width, peak = fig.axes
    assert [a.get_ylabel() for a in fig.axes] == [
        "signal", r"$\alpha$", r"$\Delta\alpha$", r"$f(\alpha_0)$"]
    assert peak.get_xlabel() == "time of the window's last sample (s)"
    assert fig._supxlabel.get_text() == (
        "window 500, shift 100, order 2, min scale 20, values, fs 250 Hz, "
        "described")
    # The signal at the times of its samples, j/fs for j from 1.
    assert line_data(top) == [(bits(np.arange(1, 3001) / 250), bits(signal))]
    assert line_data(band) == [(bits(result.time), bits(result.alpha_sz))]
    assert line_data(width) == [(bits(result.time), bits(result.alpha_width))]
    assert line_data(peak) == [(bits(result.time), bits(result.f_alpha_sz))]
    # The band spans alpha_min..alpha_max.
    (fill,) = band.collections
    vertices = fill.get_paths()[0].vertices
    assert vertices[:, 1].min() == result.alpha_min.min()
    assert vertices[:, 1].max() == result.alpha_max.max()
    legend = legend_texts(band)
    assert legend == [r"$\alpha_{min}$ ... $\alpha_{max}$",
                      r"$\alpha_0$, where $f(\alpha)$ is largest"]


@pytest.mark.parametrize("axis,label", [
    (dict(), "time of the window's last sample (sample)"),
    (dict(t0=5.0, dt=0.5), "time of the window's last sample"),
    (dict(fs=100), "time of the window's last sample (s)"),
    (dict(t0=np.datetime64("2024-01-01"), dt=2.0),
     "date and time of the window's last sample"),
])
def test_summary_time_axis_says_its_unit(signal, axis, label):
    r = support.described(signal, window=500, shift=500, **axis)
    fig = mfwindow.plot.summary(r)
    assert len(fig.axes) == 3
    assert fig.axes[-1].get_xlabel() == label


def test_summary_of_channels_and_into_given_axes(signal):
    data = np.vstack([signal, signal[::-1], -signal])
    r = support.described(data, window=500, shift=250, increments=True)
    r.channels = ["a", "b", "c"]
    fig, axes = plt.subplots(4, 1)
    got = mfwindow.plot.summary(r, signal=data, ax=axes)
    assert got is fig
    assert axes[0].get_title(loc="left") == (
        "window 500, shift 250, order 2, min scale 20, increments, described")
    assert legend_texts(axes[1]) == [
        r"$\alpha_{min}$ ... $\alpha_{max}$", r"a: $\alpha_0$",
        r"b: $\alpha_0$", r"c: $\alpha_0$"]
    for k, line in enumerate(axes[3].get_lines()):
        assert bits(line.get_ydata()) == bits(r.f_alpha_sz[k])
    assert len(axes[2].get_lines()) == 3


# Regression: flagged marks of every channel were one grey, and the
# legends sat on the data.
def test_flagged_marks_say_their_channel_and_legends_stay_aside(signal):
    data = np.vstack([signal, signal[::-1]])
    r = support.described(data, window=500, shift=250)
    arrays = dict(r)
    arrays["status"] = np.where(np.arange(r.n_windows) % 3 == 0,
                                "crossover", "ok")[np.newaxis].repeat(2, 0)
    r = mfwindow.Result(arrays, r.settings, ["a", "b"])
    fig = mfwindow.plot.summary(r, signal=data)
    fig.canvas.draw()
    band = fig.axes[-3]  # after a signal panel per channel
    flagged = gid_lines(band, "flagged")
    assert [line.get_markeredgecolor() for line in flagged] == ["C0", "C1"]
    for a in fig.axes[-3:-1]:
        legend = a.get_legend().get_window_extent()
        assert legend.x0 >= a.get_window_extent().x1
        assert legend.x1 <= fig.bbox.width


def test_summary_one_axes_takes_the_band(result):
    fig, ax = plt.subplots()
    mfwindow.plot.summary(result, ax=ax)
    assert ax.get_ylabel() == r"$\alpha$" and len(fig.axes) == 1


@pytest.mark.parametrize("call,error", [
    (lambda r, s, ax: mfwindow.plot.summary(r, ax=ax[:2]), ValueError),
    (lambda r, s, ax: mfwindow.plot.summary(r, signal=s, ax=ax[:3]),
     ValueError),
    (lambda r, s, ax: mfwindow.plot.summary(r, signal=s, ax=ax[0]),
     ValueError),
    (lambda r, s, ax: mfwindow.plot.spectrum(r, ax=ax), ValueError),
    (lambda r, s, ax: mfwindow.plot.spectrum(r, windows=[50]), IndexError),
    (lambda r, s, ax: mfwindow.plot.spectrum(r, windows=[]), ValueError),
    (lambda r, s, ax: mfwindow.plot.spectrum(r, windows=[1.5]), TypeError),
])
def test_misfitting_arguments_are_refused(result, signal, call, error):
    _, axes = plt.subplots(4, 1)
    with pytest.raises(error):
        call(result, signal, list(axes))


def test_surrogate_band_is_drawn_behind_the_width(result):
    median = result.alpha_width * 0.5
    p95 = result.alpha_width * 0.8
    with_null = mfwindow.Result(dict(result, width_null_median=median,
                                     width_null_p95=p95), result.settings)
    fig = mfwindow.plot.summary(with_null)
    width = fig.axes[1]
    (band,) = width.collections
    assert band.get_zorder() < width.get_lines()[-1].get_zorder()
    vertices = band.get_paths()[0].vertices[:, 1]
    assert vertices.min() == median.min() and vertices.max() == p95.max()
    assert "surrogates: median ... 95th percentile" in legend_texts(width)
    # Without the arrays: no band.
    assert not mfwindow.plot.summary(result).axes[1].collections


def test_spectrum_draws_the_chosen_windows(result):
    fig = mfwindow.plot.spectrum(result, windows=[0, 5, -1])
    assert isinstance(fig, Figure)
    fh, ft, fa = fig.axes
    assert (fa.get_xlabel(), fa.get_ylabel()) == (r"$\alpha$", r"$f(\alpha)$")
    assert (fh.get_xlabel(), fh.get_ylabel()) == ("$q$", "$h(q)$")
    chosen = [0, 5, result.n_windows - 1]
    assert line_data(fa) == [(bits(result.alpha[w]), bits(result.f_alpha[w]))
                             for w in chosen]
    assert line_data(fh) == [(bits(result.q), bits(result.h[w]))
                             for w in chosen]
    assert line_data(ft) == [(bits(result.q), bits(result.tau[w]))
                             for w in chosen]
    assert legend_texts(fh) == [
        "t = 2 s", "t = 4 s", "t = 12 s"]
    # Without F_q(s) the ends of f(alpha) take their bars from width_se.
    assert fa.containers and not fh.containers


def test_spectrum_default_windows_and_channels(signal):
    data = np.vstack([signal, -signal])
    r = support.described(data, window=500, shift=100, spectrum=True)
    with pytest.raises(ValueError, match="channel="):
        mfwindow.plot.spectrum(r)
    fig, (fa, fh) = plt.subplots(1, 2)
    mfwindow.plot.spectrum(r, channel=1, ax=(fa, fh))
    # Up to five windows spread over the 26: 0, 6, 12, 19, 25.
    assert line_data(fh) == [(bits(r.q), bits(r.h[1, w]))
                             for w in (0, 6, 12, 19, 25)]


# A valid result of fewer than 5 orders (no alpha estimate) crashed with
# "All-NaN slice encountered" where the ends of f(alpha) take their bars.
@pytest.mark.parametrize("fq", [False, True])
def test_spectrum_of_a_short_q_list_draws_h_and_tau(signal, fq):
    r = support.described(signal, window=500, shift=500, q=[-2, 0, 2],
                         spectrum=True, fq=fq)
    fh, ft, fa = mfwindow.plot.spectrum(r).axes
    assert line_data(fh)[0] == (bits(r.q), bits(r.h[0]))
    assert "5 moment orders" in fa.texts[0].get_text()
    with pytest.raises(ValueError, match="5 moment orders"):
        mfwindow.plot.spectrogram(r)


def test_spectrum_without_spectra_says_how_to_get_them(signal):
    r = support.described(signal, window=500, shift=500)
    with pytest.raises(ValueError, match=r"spectrum=True"):
        mfwindow.plot.spectrum(r)


def test_empty_result_is_refused(signal):
    with pytest.warns(mfwindow.ShortSeriesWarning):
        r = support.described(signal[:100], window=500, spectrum=True)
    for draw in (mfwindow.plot.summary, mfwindow.plot.spectrum):
        with pytest.raises(ValueError, match="no windows"):
            draw(r)


def legend_texts(axes):
    """The legend's labels, wrapped lines joined."""
    return [t.get_text().replace("\n", " ")
            for t in axes.get_legend().get_texts()]


def gid_lines(axes, gid):
    return [line for line in axes.get_lines() if line.get_gid() == gid]


@pytest.fixture(scope="module")
def fq_result(signal):
    return support.described(signal, window=500, shift=100, fs=250,
                            spectrum=True, fq=True, fit_range=(30, 80))


def flagged_copy(result, where, status, **extra):
    """The result with windows `where` given `status` and a width of 13
    there, the spike a gap gives."""
    words = result.status.copy()
    words[where] = status
    width = result.alfa_width.copy()
    width[where] = 13.0
    return mfwindow.Result(dict(result, status=words, alfa_width=width,
                                **extra), result.settings)


# Regression: flagged windows were drawn as ordinary points and their
# spikes set the axis range.
@pytest.mark.parametrize("flagged,hidden", [("show", False), ("hide", True)])
def test_flagged_windows_are_apart_counted_and_out_of_the_range(
        result, flagged, hidden):
    where = np.array([3, 7, 8])
    r = flagged_copy(result, where, ["not_concave", "degenerate",
                                     "not_concave"])
    fig = mfwindow.plot.summary(r, flagged=flagged)
    band, width, peak = fig.axes
    assert ("flagged: 3 of 26 windows%s (degenerate 1, not_concave 2)"
            % (", hidden" if hidden else "")) in legend_texts(band)
    assert width.get_ylim()[1] < result.alfa_width.max() + 0.1
    for a, key in ((band, "alfa_sz"), (width, "alfa_width"),
                   (peak, "f_alfa_sz")):
        ordinary = a.get_lines()[0].get_ydata()
        assert np.isnan(ordinary[where]).all()
        assert not np.isnan(np.delete(ordinary, where)).any()
        marks = gid_lines(a, "flagged")
        assert len(marks) == (0 if hidden else 1)
        drawn = np.sort(np.concatenate(
            [m.get_xdata() for m in marks + gid_lines(a, "off scale")]
            or [[]]))
        assert bits(drawn) == bits(result.time[where] if marks else [])
    if not hidden:  # the spike is a triangle on the axes' edge, not a circle
        (off,) = gid_lines(width, "off scale")
        assert off.get_marker() == "^"
        assert (off.get_ydata() == width.get_ylim()[1]).all()
        assert gid_lines(width, "flagged")[0].get_xdata().size == 0
        # ... and that empty circle artist stays out of the layout, which
        # it once stretched to the figure's corner.
        fig.canvas.draw()
        box = width.get_tightbbox(fig.canvas.get_renderer())
        assert box.x0 > 0 and box.y0 > 0


def test_significant_windows_are_marked(result):
    p = np.linspace(0.01, 0.5, result.n_windows)
    r = flagged_copy(result, [0], "degenerate", width_p=p,
                     width_null_median=result.alfa_width * 0.5,
                     width_null_p95=result.alfa_width * 0.8)
    width = mfwindow.plot.summary(r, alpha=0.1).axes[1]
    (stars,) = gid_lines(width, "significant")
    # Windows 1..4 have p <= 0.1; window 0 is flagged, so not counted.
    assert bits(stars.get_xdata()) == bits(result.time[1:5])
    assert stars.get_label().endswith("in 4 of 25 windows")


def test_channels_get_signal_panels_with_their_units(signal):
    data = np.vstack([signal, signal * 1e6])
    r = support.described(data, window=500, shift=250)
    status = r.status.copy()
    status[1, 2] = "not_concave"
    r = mfwindow.Result(dict(r, status=status), r.settings,
                        ["price", "volume"])
    fig = mfwindow.plot.summary(r, signal=data, units=["USD", "shares"])
    assert [a.get_ylabel() for a in fig.axes[:2]] == [
        "price (USD)", "volume (shares)"]
    assert bits(fig.axes[1].get_lines()[0].get_ydata()) == bits(data[1])
    (marks,) = gid_lines(fig.axes[2], "flagged")
    assert bits(marks.get_ydata()) == bits(r.alfa_sz[1, 2:3])
    assert ("flagged: 1 of 22 windows, 11 in each of 2 channels "
            "(not_concave 1)") in legend_texts(fig.axes[2])
    with pytest.raises(ValueError, match="3 units for 2 channels"):
        mfwindow.plot.summary(r, signal=data, units=["a", "b", "c"])


def test_hurst_fit_gives_the_cores_slopes_and_their_errors(fq_result):
    from scipy.stats import linregress
    fit = mfwindow.plot.hurst_fit(fq_result)
    inside = (fq_result.scales >= 30) & (fq_result.scales <= 80)
    assert np.array_equal(fit.in_fit, inside)
    # Same line fit in another order of operations: rounding apart.
    np.testing.assert_allclose(fit.h, fq_result.h, rtol=0, atol=1e-12)
    for w, j in ((0, 0), (4, 100), (25, 199)):
        line = linregress(fq_result.log_scale[inside],
                          np.log10(fq_result.fq[w, j, inside]))
        assert fit.h_se[w, j] == pytest.approx(line.stderr, rel=1e-9)
    # A result read from a file knows no fit range: the caller gives it.
    unknown = mfwindow.Result(dict(fq_result), settings=None)
    assert mfwindow.plot.hurst_fit(unknown).in_fit.all()
    np.testing.assert_array_equal(
        mfwindow.plot.hurst_fit(unknown, (30, 80)).h, fit.h)
    with pytest.raises(ValueError, match="holds 0 of the scales"):
        mfwindow.plot.hurst_fit(unknown, (None, 19))


def test_hurst_fit_of_the_standard_method_is_its_h(signal):
    r = support.described(signal, window=1000, shift=1000, method="standard",
                         fq=True, spectrum=True)
    np.testing.assert_allclose(mfwindow.plot.hurst_fit(r).h, r.h, rtol=0,
                               atol=1e-12)


def test_fluctuation_is_log_log_with_the_fit_range_and_residuals(fq_result):
    r = flagged_copy(fq_result, [2], "crossover",
                     crossover_scale=np.full(fq_result.n_windows, 60.0))
    fig = mfwindow.plot.fluctuation(r, window=2, q=[-2, 2])
    top, below = fig.axes
    assert (top.get_xscale(), top.get_yscale()) == ("log", "log")
    for a in (top, below):
        (span,) = [p for p in a.patches if p.get_gid() == "fit range"]
        if hasattr(span, "get_width"):  # a Rectangle (matplotlib >= 3.9)
            xs = np.array([span.get_x(), span.get_x() + span.get_width()])
        else:  # a Polygon
            xs = span.get_xy()[:, 0]
        inside = 10.0 ** fq_result.log_scale[(fq_result.scales >= 30)
                                             & (fq_result.scales <= 80)]
        assert (xs.min(), xs.max()) == pytest.approx(
            (inside.min(), inside.max()), rel=1e-12)
        (cross,) = gid_lines(a, "crossover")
        assert cross.get_xdata()[0] == 60.0
    # Points and fitted line per order; the line's slope is h(q).
    j = int(np.argmin(np.abs(fq_result.q - 2)))
    x, y = (np.log10(v) for v in top.get_lines()[3].get_xydata().T)
    slope = (y[-1] - y[0]) / (x[-1] - x[0])
    assert slope == pytest.approx(fq_result.h[2, j], abs=1e-9)
    assert len(below.get_lines()) == 4  # two orders, zero, the crossover
    with pytest.raises(ValueError, match="fq=True"):
        mfwindow.plot.fluctuation(mfwindow.Result(
            {k: v for k, v in r.items() if k != "fq"}, r.settings))


def test_fluctuation_with_a_sampling_rate_shows_seconds_on_top(fq_result):
    fig = mfwindow.plot.fluctuation(fq_result, window=0)
    fig.canvas.draw()  # a secondary axis takes its limits when drawn
    top = fig.axes[0]
    (seconds,) = top.child_axes
    assert seconds.get_xlabel() == "segment length (s)"
    # fs 250: 100 samples are 0.4 s.
    assert seconds.get_xlim() == pytest.approx(
        tuple(v / 250 for v in top.get_xlim()), rel=1e-12)
    plain = mfwindow.Result(dict(fq_result), dataclasses.replace(
        fq_result.settings, fs=None, dt=1.0))
    assert not mfwindow.plot.fluctuation(plain, window=0).axes[0].child_axes


def test_a_long_caption_stays_inside_the_figure(signal):
    r = support.described(signal, window=500, shift=250, fs=250,
                         method="standard", surrogates=3, seed=1,
                         q_min=-4, q_max=4, fit_range=(30, 80),
                         max_scale=100, scale_count=30, range_floor=1e-3)
    fig = mfwindow.plot.summary(r, signal=signal)
    fig.canvas.draw()
    box = fig._supxlabel.get_window_extent()
    assert len(r.settings.caption()) > 150
    assert 0 <= box.x0 and box.x1 <= fig.bbox.width


def test_rounding_noise_does_not_fill_a_panel(result):
    flat = mfwindow.Result(dict(result, f_alpha_sz=1.0 + 5e-5 * np.sin(
        np.arange(result.n_windows))), result.settings)
    peak = mfwindow.plot.summary(flat).axes[-1]
    low, high = peak.get_ylim()
    assert high - low >= 0.01 and low < 1.0 < high


def test_spectrum_error_bars_are_the_fits_standard_errors(fq_result):
    fig = mfwindow.plot.spectrum(fq_result, windows=[4])
    fh, ft, fa = fig.axes
    se = mfwindow.plot.hurst_fit(fq_result).h_se[4]
    (bars,) = fh.containers
    segments = bars.lines[2][0].get_segments()
    every = len(fq_result.q) // 20
    half = [(seg[1, 1] - seg[0, 1]) / 2 for seg in segments]
    np.testing.assert_allclose(half, se[::every], rtol=1e-12)
    assert len(ft.containers) == 1 and len(fa.containers) == 1
    ends = fa.containers[0].lines[2][0].get_segments()
    assert [s[1, 0] - s[0, 0] for s in ends] == pytest.approx(
        [2 * se[-1], 2 * se[0]])


@pytest.mark.parametrize("kind,key", [("f_alpha", None), ("h", "h")])
def test_spectrogram_colours_every_window_and_blanks_flagged(result, kind,
                                                             key):
    r = flagged_copy(result, [5], "flat_segments")
    a = mfwindow.plot.spectrogram(r, kind=kind).axes[0]
    image = np.ma.filled(a.collections[0].get_array(), np.nan).reshape(
        -1, r.n_windows)
    assert np.isnan(image[:, 5]).all()
    assert not np.isnan(image[:, 4]).all()
    if key:
        np.testing.assert_array_equal(np.delete(image, 5, axis=1),
                                      np.delete(r[key], 5, axis=0).T)
    assert "flagged: 1 of 26 windows (flat_segments 1)" in legend_texts(a)
    with pytest.raises(ValueError, match="kind"):
        mfwindow.plot.spectrogram(r, kind="tau")


def png_info(path):
    """(width, height, {keyword: text}) from a PNG's IHDR and tEXt chunks;
    checks every chunk's CRC on the way."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, size, texts = 8, None, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, kind
        if kind == b"IHDR":
            size = struct.unpack(">II", body[:8])
        elif kind == b"tEXt":
            key, _, text = body.partition(b"\0")
            texts[key.decode("latin-1")] = text.decode("latin-1")
        pos += 12 + length
    return size[0], size[1], texts


def svg_info(path):
    """(width, height, title, number of <path>s) of an SVG, parsed as
    XML."""
    ns = {"svg": "http://www.w3.org/2000/svg",
          "dc": "http://purl.org/dc/elements/1.1/"}
    root = ElementTree.parse(path).getroot()
    assert root.tag == "{http://www.w3.org/2000/svg}svg"
    title = root.find(".//dc:title", ns)
    return (root.get("width"), root.get("height"),
            None if title is None else title.text,
            len(root.findall(".//svg:path", ns)))


def pdf_info(path):
    """Checks the frame of a PDF (header, cross-reference table whose
    offsets point at the objects, trailer, %%EOF) and returns its /Title."""
    with open(path, "rb") as f:
        data = f.read()
    assert data.startswith(b"%PDF-1.")
    assert data.rstrip().endswith(b"%%EOF")
    start = int(data[data.rindex(b"startxref") + 9:].split()[0])
    assert data[start:start + 4] == b"xref"
    rows = data[start:].split(b"\n")
    first, count = (int(v) for v in rows[1].split())
    for number, row in enumerate(rows[2:2 + count], first):
        offset, _, kind = row.split()[:3]
        if kind == b"n":
            assert data[int(offset):].startswith(b"%d 0 obj" % number)
    title = data.index(b"/Title (") + 8
    return data[title:data.index(b")", title)].decode("latin-1")


class TestPlotCommand:
    """Runs the program on the bundled example, then plots its results."""

    @pytest.fixture(scope="class")
    def results(self, tmp_path_factory):
        work = tmp_path_factory.mktemp("plot")
        run_dir = work / "examples"
        run_dir.mkdir()
        examples = os.path.join(support.SOURCE_DIR, "examples")
        for name in ("list", "walk.txt", "cascade.txt"):
            shutil.copy(os.path.join(examples, name), run_dir)
        with open(os.path.join(examples, "answers.txt"), "rb") as answers:
            subprocess.run([support.tool("MFWINDOW_PROGRAM")], stdin=answers,
                           cwd=run_dir, stdout=subprocess.DEVNULL, check=True,
                           timeout=120)
        folder = run_dir / "F(Alfa)"
        return dict(work=work, folder=folder,
                    walk=str(folder / "F(Alfa)_walk.txt.dat"),
                    cascade=str(folder / "F(Alfa)_cascade.txt.dat"))

    @pytest.fixture(scope="class")
    def spectrum_csv(self, results):
        out = support.run_batch(
            str(results["work"]),
            np.loadtxt(os.path.join(support.SOURCE_DIR, "examples",
                                    "walk.txt")),
            "--spectrum")
        return os.path.join(out, "F(Alfa)_s.txt.spectrum.csv")

    def test_one_png_per_series_beside_the_results(self, results):
        done = support.run_plot(results["walk"], results["cascade"])
        assert done.returncode == 0, done.stderr
        expected = [str(results["folder"] / "F(Alfa)_walk.txt.png"),
                    str(results["folder"] / "F(Alfa)_cascade.txt.png")]
        assert done.stdout.splitlines() == expected
        for png, title in zip(expected, ("walk.txt", "cascade.txt")):
            width, height, texts = png_info(png)
            assert (width, height) == (1000, 800)
            assert texts.get("Title") == title

    def test_out_dir_and_dpi(self, results):
        out = str(results["work"] / "pictures" / "small")
        done = support.run_plot("--out", out, "--dpi", "50", results["walk"])
        assert done.returncode == 0, done.stderr
        png = os.path.join(out, "F(Alfa)_walk.txt.png")
        assert done.stdout.splitlines() == [png]
        assert png_info(png)[:2] == (500, 400)

    @pytest.mark.parametrize("args,name", [
        (["--format", "svg"], "F(Alfa)_walk.txt.svg"),
        (["--output", "{dir}/walk.svg"], "walk.svg"),
        (["--output", "{dir}/walk.SVG", "--format", "svg"], "walk.SVG"),
    ])
    def test_svg_opens_as_xml(self, results, tmp_path, args, name):
        args = [a.format(dir=tmp_path) for a in args]
        if "--output" not in args:
            args += ["--out", str(tmp_path)]
        done = support.run_plot(*args, results["walk"])
        assert done.returncode == 0, done.stderr
        path = str(tmp_path / name)
        assert done.stdout.splitlines() == [path]
        width, height, title, paths = svg_info(path)
        assert (width, height, title) == ("720pt", "576pt", "walk.txt")
        assert paths > 50  # the curves, axes and glyphs are there
        with open(path, "rb") as f:
            assert b"<dc:date>" not in f.read()  # same input, same bytes

    @pytest.mark.parametrize("args", [["--format", "pdf"],
                                      ["--output", "{dir}/F.pdf"]])
    def test_pdf_has_a_sound_frame(self, results, tmp_path, args):
        args = [a.format(dir=tmp_path) for a in args]
        if "--output" not in args:
            args += ["--out", str(tmp_path)]
        done = support.run_plot(*args, results["cascade"])
        assert done.returncode == 0, done.stderr
        (path,) = done.stdout.splitlines()
        assert path.endswith(".pdf")
        assert pdf_info(path) == "cascade.txt"

    def test_csv_input(self, results):
        columns = mfwindow.read_result(results["cascade"])
        csv = str(results["work"] / "F(Alfa)_cascade.txt.csv")
        with open(csv, "w") as f:
            f.write(",".join(FILE_COLUMNS) + "\n")
            for row in zip(*(columns[c] for c in COLUMNS)):
                f.write(",".join("%.17g" % v for v in row) + "\n")
        out = str(results["work"] / "from_csv")
        done = support.run_plot("--out", out, csv)
        assert done.returncode == 0, done.stderr
        assert png_info(os.path.join(out, "F(Alfa)_cascade.txt.png")) == (
            1000, 800, {"Title": "cascade.txt", "Software": "mfwindow-plot"})

    # Regression: the spectrum CSV failed with "not a number: 'window,...'".
    def test_spectrum_csv_draws_the_chosen_windows(self, spectrum_csv,
                                                   tmp_path):
        out = str(tmp_path / "s.png")
        done = support.run_plot("--windows", "1,5,9", "--output", out,
                                spectrum_csv)
        assert done.returncode == 0, done.stderr
        assert done.stdout.splitlines() == [out]
        assert png_info(out) == (1300, 450, {"Title": "s.txt",
                                             "Software": "mfwindow-plot"})

    @pytest.mark.parametrize("windows,message", [
        ("1,42", "no window 42: the file has 41"),
        (None, None),
    ])
    def test_spectrum_window_numbers_are_checked(self, spectrum_csv, tmp_path,
                                                 windows, message):
        args = ["--out", str(tmp_path)] + (
            ["--windows", windows] if windows else []) + [spectrum_csv]
        done = support.run_plot(*args)
        if message is None:
            assert done.returncode == 0, done.stderr
        else:
            assert done.returncode == 1
            assert message in done.stderr

    @pytest.mark.parametrize("kind,flags,size,message", [
        ("fluctuation", ["--fq"], (1000, 700), None),
        ("spectrogram", ["--spectrum"], (1000, 500), None),
        ("summary", ["--spectrum"], None,
         "--kind summary needs the result file"),
    ])
    def test_kinds(self, results, tmp_path, kind, flags, size, message):
        out = support.run_batch(str(tmp_path), np.loadtxt(os.path.join(
            support.SOURCE_DIR, "examples", "walk.txt")), *flags)
        (csv,) = [os.path.join(out, n) for n in os.listdir(out)
                  if n.endswith(("fq.csv", "spectrum.csv"))]
        done = support.run_plot("--kind", kind, "--output",
                                str(tmp_path / "k.png"), csv)
        if message:
            assert done.returncode == 1 and message in done.stderr
        else:
            assert done.returncode == 0, done.stderr
            assert png_info(str(tmp_path / "k.png"))[:2] == size

    def test_windows_need_the_spectrum_csv(self, results, tmp_path):
        done = support.run_plot("--windows", "1", "--out", str(tmp_path),
                                results["walk"])
        assert done.returncode == 1
        assert "--windows needs the spectrum CSV" in done.stderr
        assert os.listdir(tmp_path) == []

    # Regression: an empty result file drew an empty picture.
    @pytest.mark.parametrize("name,text", [
        ("F(Alfa)_empty.dat", ""),
        ("F(Alfa)_empty.csv", ",".join(FILE_COLUMNS) + "\r\n"),
    ])
    def test_empty_result_file_is_refused(self, tmp_path, name, text):
        path = tmp_path / name
        path.write_text(text)
        done = support.run_plot(str(path))
        assert done.returncode == 1
        assert done.stderr == ("mfwindow-plot: %s: no windows in this file, "
                               "nothing to plot (was the series shorter than "
                               "the window?)\n" % path)
        assert done.stdout == ""
        assert [p.name for p in tmp_path.iterdir()] == [name]

    def test_unreadable_file_is_named_and_the_rest_plotted(self, results):
        out = str(results["work"] / "partial")
        missing = str(results["work"] / "F(Alfa)_gone.dat")
        done = support.run_plot("--out", out, missing, results["walk"])
        assert done.returncode == 1
        assert missing in done.stderr
        assert done.stdout.splitlines() == [
            os.path.join(out, "F(Alfa)_walk.txt.png")]

    @pytest.mark.parametrize("args", [
        ["--output", "x.gif"],
        ["--output", "x.png", "--format", "pdf"],
        ["--output", "x.png", "--out", "d"],
        ["--windows", "0"],
        ["--windows", "1,x"],
        ["--dpi", "0"],
    ])
    def test_usage_errors(self, results, tmp_path, args):
        done = support.run_plot(*args, results["walk"], cwd=str(tmp_path))
        assert done.returncode == 2
        assert "usage: mfwindow-plot" in done.stderr
        assert os.listdir(tmp_path) == []

    def test_two_inputs_for_one_picture_are_refused(self, results):
        other = str(results["work"] / "F(Alfa)_walk.txt.dat")
        shutil.copy(results["walk"], other)
        out = str(results["work"] / "clash")
        done = support.run_plot("--out", out, results["walk"], other)
        assert done.returncode == 2
        assert not os.path.exists(out)
        done = support.run_plot("--output", "one.png", results["walk"], other)
        assert done.returncode == 2


@pytest.fixture(scope="module")
def pair():
    rng = np.random.default_rng(21)
    x = rng.standard_normal(4000)
    return mfwindow.cross(x, x + rng.standard_normal(4000), window=1000,
                          shift=250, surrogates=9, surrogate="phase",
                          rho_level=0.9)


def test_cross_summary_maps_rho_and_marks_flags(pair):
    arrays = {k: pair[k].copy() for k in pair}
    arrays["status_y"][1] = "flat_segments"
    arrays["cov_sign_changes"][2] = True
    r = mfwindow.CrossResult(arrays, pair.settings, pair.rho_level)
    fig = mfwindow.plot.cross_summary(r, names=("a", "b"))
    heat, lam, width, negative = fig.axes[:4]
    assert [a.get_ylabel() for a in (lam, width)] == [
        r"$\lambda_{xy}$", r"$\Delta\alpha_{xy}$"]
    lengths, first = np.unique(pair.scales, return_index=True)
    rho, grey = (np.ma.asarray(c.get_array()).reshape(lengths.size, -1).T
                 for c in heat.collections)
    assert bits(rho.data) == bits(pair.rho[:, first])
    within = ~np.ma.getmaskarray(grey)
    assert (within == ~pair.rho_significant[:, first]).all()
    (flag,) = gid_lines(heat, "flagged")
    bad = np.any([arrays[k] != "ok" for k in ("status", "status_x",
                                               "status_y")], axis=0)
    assert bad[1] and list(flag.get_xdata()) == list(pair.time[bad])
    assert "b flat_segments 1" in heat.get_legend().get_texts()[1].get_text()
    assert np.isnan(lam.get_lines()[0].get_ydata()[1])
    (changes,) = gid_lines(lam, "sign changes")
    assert list(changes.get_xdata()) == list(
        pair.time[arrays["cov_sign_changes"]])
    with pytest.raises(ValueError, match="mfwindow.cross"):
        mfwindow.plot.cross_summary(support.described(
            support.walk(3000, seed=1), window=1000))


def test_fluctuation_of_a_pair_draws_its_three_and_rho(pair):
    fig = mfwindow.plot.fluctuation(pair, window=-1)
    top, below = fig.axes[:2]
    f_xx, f_yy, f_xy, line = top.get_lines()
    assert bits(f_xx.get_ydata()) == bits(pair.f_xx[-1])
    assert bits(f_xy.get_ydata()) == bits(np.sqrt(np.abs(pair.cov_xy[-1])))
    x, y = (np.log10(v) for v in line.get_xydata().T)
    assert (y[-1] - y[0]) / (x[-1] - x[0]) == pytest.approx(
        pair.lambda_xy[-1], abs=1e-9)
    assert bits(below.get_lines()[1].get_ydata()) == bits(pair.rho[-1])
