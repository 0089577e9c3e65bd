"""The method and surrogate keywords of mfwindow.analyse: each against
mfwindow-batch with the matching flags bit for bit (the CSV with its quality
and null columns, the spectrum CSV, the .fq.csv), their refusals naming the
keyword, surrogates independent of the thread count, F_q(s) shapes, reading
the batch files back, and the null band of plot.summary."""

import csv
import os

import numpy as np
import pytest

import mfwindow
import mfwindow.plot
import support
from support import bits

NULL = ("width_null_median", "width_null_p95", "width_p",
        "alpha_sz_null_median", "alpha_sz_null_p95", "alpha_sz_p",
        "iaaft_at_cap", "surrogates_used")
BASE = dict(window=200, shift=100, order=2)
BASE_FLAGS = ["--window", "200", "--shift", "100", "--order", "2"]


@pytest.fixture(scope="module")
def values():
    # A flat stretch makes the range floor and the quality columns matter.
    x = support.walk(1000, seed=21)
    x[500:620] = 3.5
    return x


def read_csv(path):
    """A CSV of mfwindow-batch as {column: list of cells}, read without the
    package (the quality status stays a word, the rest are doubles), its
    "alfa" columns under a result's names ("alpha")."""
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    header, body = rows[0], rows[1:]
    return {name.replace("alfa", "alpha"):
            [r[i] if name == "status" else float(r[i]) for r in body]
            for i, name in enumerate(header)}


# keywords of analyse -> the flags of mfwindow-batch that mean the same.
CASES = [
    (dict(profile=False, fluctuation="range", q=None, q_min=-10.0,
          q_max=10.0, q_count=200, max_scale=None, scale_count=200,
          fit_range=None, range_floor=0.0, surrogates=0), []),
    (dict(profile=True), ["--profile"]),
    (dict(fluctuation="rms"), ["--fluctuation", "rms"]),
    (dict(profile=True, fluctuation="rms", increments=True, spectrum=True),
     ["--profile", "--fluctuation", "rms", "--incr", "1", "--spectrum"]),
    (dict(q=[-3, -1, 0, 1, 3], spectrum=True),
     ["--q-list=-3,-1,0,1,3", "--spectrum"]),
    (dict(q_min=-4, q_max=4, q_count=17, spectrum=True),
     ["--q-min=-4", "--q-max", "4", "--q-count", "17", "--spectrum"]),
    (dict(max_scale=60), ["--max-scale", "60"]),
    (dict(max_scale=60, scale_count=30), ["--max-scale", "60",
                                          "--scale-count", "30"]),
    (dict(fit_range=(25, 34)), ["--fit-min", "25", "--fit-max", "34"]),
    (dict(fit_range=(None, 30)), ["--fit-max", "30"]),
    (dict(range_floor=1e-3), ["--range-floor", "0.001"]),
    (dict(surrogates=4, surrogate="shuffle", seed=7),
     ["--surrogates", "4", "--surrogate", "shuffle", "--seed", "7"]),
    (dict(surrogates=3, surrogate="phase", seed=2**64 - 1),
     ["--surrogates", "3", "--surrogate", "phase",
      "--seed", "18446744073709551615"]),
    (dict(surrogates=3, profile=True, fluctuation="rms"),
     ["--surrogates", "3", "--profile", "--fluctuation", "rms"]),
    (dict(method="standard", spectrum=True),
     ["--method", "standard", "--spectrum"]),
    (dict(method="standard", fluctuation="rms", q_count=11),
     ["--method", "standard", "--fluctuation", "rms", "--q-count", "11"]),
    (dict(segments="both"), ["--segments", "both"]),
    (dict(abscissa="log_s"), ["--abscissa", "log_s"]),
]


@pytest.mark.parametrize("keywords,flags", CASES)
def test_each_keyword_equals_mfwindow_batch(values, keywords, flags,
                                            tmp_path):
    got = support.described(values, threads=2, **dict(BASE, **keywords))
    out = support.run_batch(str(tmp_path), values, *BASE_FLAGS, *flags)
    table = read_csv(os.path.join(out, "F(Alfa)_s.txt.csv"))
    null = keywords.get("surrogates", 0) > 0
    assert all(k in table for k in NULL) == null
    assert got.has_null == null
    assert got.n_windows == 9
    for column, cells in table.items():
        assert bits(got[column]) == bits(cells), column
    # The DataFrame has the CSV's columns in the CSV's order.
    assert ["time"] + got.to_pandas().columns.tolist() == list(table)
    if keywords.get("spectrum"):
        spectra = mfwindow.read_result(os.path.join(
            out, "F(Alfa)_s.txt.spectrum.csv"))
        for key in ("q", "h", "tau", "alpha", "f_alpha"):
            assert bits(got[key]) == bits(spectra[key]), key
    if "q" in keywords and keywords["q"] is not None:
        assert got.q.tolist() == keywords["q"]


@pytest.mark.parametrize("keywords", [k for k, _ in CASES[1:]])
def test_non_default_keywords_change_the_numbers(values, keywords):
    # A keyword lost on its way to the library would change nothing.
    default = support.described(values, **BASE)
    got = support.described(values, **dict(BASE, **keywords))
    if keywords.get("surrogates"):
        assert not default.has_null
        assert np.isfinite(got.width_null_median[got.status == "ok"]).all()
        return
    assert any(bits(got[c]) != bits(default[c]) for c in default
               if c in got and c != "time")


@pytest.mark.parametrize("keywords,named", [
    (dict(q=[1, 0]), "q"),
    (dict(q=[0, 0]), "q"),
    (dict(q=[]), "q"),
    (dict(q=[0.0, np.nan]), "q"),
    (dict(q=[1, 2], q_count=5), "q"),
    (dict(q_count=0), "q_count"),
    (dict(q_min=3, q_max=1), "q_min"),
    (dict(q_min=np.inf), "q_min"),
    (dict(max_scale=201), "max_scale"),
    (dict(max_scale=20), "max_scale"),
    (dict(max_scale=0), "max_scale"),
    (dict(scale_count=1), "scale_count"),
    (dict(fit_range=(80, 30)), "fit_range"),
    (dict(fit_range=(0, 30)), "fit_range"),
    (dict(fit_range=(39, 39)), "fit_range"),
    (dict(range_floor=-1e-3), "range_floor"),
    (dict(range_floor=np.nan), "range_floor"),
    (dict(surrogates=-1), "surrogates"),
    (dict(surrogates=2**31), "surrogates"),
    (dict(fluctuation="abs"), "fluctuation"),
    (dict(surrogate="aaft"), "surrogate"),
    (dict(seed=-1), "seed"),
    (dict(seed=2**64), "seed"),
    (dict(method="textbook"), "method"),
    (dict(segments="end"), "segments"),
    (dict(abscissa="ln_s"), "abscissa"),
    # The standard method would replace these described values unseen.
    (dict(method="standard", fluctuation="range"), "fluctuation"),
    (dict(method="standard", profile=False), "profile"),
    (dict(method="standard", min_scale=20), "min_scale"),
])
def test_bad_values_raise_naming_the_keyword(values, keywords, named):
    with pytest.raises(ValueError, match=r"^%s\b" % named):
        support.described(values, **dict(BASE, **keywords))


@pytest.mark.parametrize("keywords", [
    dict(profile="yes"), dict(fq=1), dict(fluctuation=2), dict(q="0,1"),
    dict(q=[[0, 1]]), dict(fit_range=30), dict(q_count=2.5),
    dict(seed=1.0), dict(range_floor="0"), dict(max_scale=50.0),
])
def test_wrong_types_raise_type_error(values, keywords):
    with pytest.raises(TypeError):
        support.described(values, **dict(BASE, **keywords))


def test_settled_settings_hold_the_method(values):
    r = support.described(values, profile=True, fluctuation="rms",
                         q=[-2, 0, 2], fit_range=(None, 30), surrogates=2,
                         surrogate="phase", seed=5, **BASE)
    s = r.settings
    assert (s.profile, s.fluctuation, s.q, s.max_scale, s.fit_range,
            s.surrogates, s.surrogate, s.seed) == (
        True, "rms", (-2.0, 0.0, 2.0), 40, (None, 30), 2, "phase", 5)
    assert s.caption().endswith("profile, rms, q -2, 0, 2, fit ..30, "
                                "2 phase surrogates, seed 5")
    default = support.described(values, **BASE).settings
    assert default.max_scale == 40
    assert default.method_caption() == "described"
    assert mfwindow.analyse(values, **BASE).settings.method_caption() == (
        "standard")


# What runs is said, not guessed: the vector kernel takes a listed q grid
# too, the standard method at dense windows the segment-once kernel, one
# thread runs serially, and a thread count far beyond the cores
# (2**31 - 1 once stalled two minutes) runs on the cores.
@pytest.mark.parametrize("keywords, kernel, scheduler", [
    (dict(threads=1), "vector", "serial"),
    (dict(threads=1, q=[-2, 0, 2]), "vector", "serial"),
    # The rms methods with the profile at a shift of at most window/100
    # take the segment-once kernel, unless a kernel is asked for.
    (dict(threads=1, method="standard", shift=2), "segment_once", "serial"),
    (dict(threads=1, method="standard", shift=3), "vector", "serial"),
    (dict(threads=1, method="standard", shift=2, kernel="straightforward"),
     "straightforward", "serial"),
    (dict(threads=2**31 - 1), "vector",
     "pipelined" if len(os.sched_getaffinity(0)) > 1 else "serial"),
])
def test_settings_say_what_ran(values, keywords, kernel, scheduler):
    s = support.described(values, **dict(BASE, **keywords)).settings
    assert (s.kernel, s.scheduler) == (kernel, scheduler)


class TestSurrogates:
    KEYWORDS = dict(BASE, surrogates=5, surrogate="iaaft")

    def test_same_seed_same_bits_on_any_thread_count(self, values):
        one = support.described(values, threads=1, seed=11, **self.KEYWORDS)
        two = support.described(values, threads=2, seed=11, **self.KEYWORDS)
        for key in NULL:
            assert bits(one[key]) == bits(two[key]), key

    def test_another_seed_gives_other_null_levels(self, values):
        a = support.described(values, seed=11, **self.KEYWORDS)
        b = support.described(values, seed=12, **self.KEYWORDS)
        assert bits(a.alpha_width) == bits(b.alpha_width)
        assert bits(a.width_null_median) != bits(b.width_null_median)

    def test_p_values_are_ranks_among_the_surrogates(self, values):
        r = support.described(values, seed=3, **self.KEYWORDS)
        ok = r.status == "ok"
        assert ok.sum() >= 5
        # (1 + k) / (N + 1) for k from 0 to N.
        ranks = r.width_p[ok] * 6
        assert np.allclose(ranks, np.round(ranks))
        assert ((ranks >= 1) & (ranks <= 6)).all()
        assert (r.width_null_median[ok] <= r.width_null_p95[ok]).all()

    def test_channels_give_what_each_gives_alone(self, values):
        both = support.described(np.vstack([values, values[::-1]]), seed=4,
                                **self.KEYWORDS)
        alone = support.described(values[::-1], seed=4, **self.KEYWORDS)
        for key in NULL:
            assert both[key].shape == (2, 9)
            assert bits(both[key][1]) == bits(alone[key]), key


@pytest.mark.parametrize("keywords,flags", [
    (dict(), []),
    (dict(profile=True, fluctuation="rms", q=[-2, 0, 2], scale_count=12),
     ["--profile", "--fluctuation", "rms", "--q-list=-2,0,2",
      "--scale-count", "12"]),
])
def test_fq_equals_the_batch_fq_csv(values, keywords, flags, tmp_path):
    got = support.described(values, fq=True, **dict(BASE, **keywords))
    out = support.run_batch(str(tmp_path), values, *BASE_FLAGS, "--fq",
                            *flags)
    path = os.path.join(out, "F(Alfa)_s.txt.fq.csv")
    table = read_csv(path)
    orders = len(keywords.get("q", [0] * 200))
    scales = keywords.get("scale_count", 200)
    assert got.fq.shape == (9, orders, scales)
    # The file: window by window, scale by scale, orders fastest.
    assert len(table["fq"]) == 9 * scales * orders
    assert bits(got.q) == bits(table["q"][:orders])
    assert got.scales.tolist() == table["scale"][:scales * orders:orders]
    assert bits(got.log_scale) == bits(
        table["log_scale"][:scales * orders:orders])
    assert got.scales[0] == 20 and got.scales[-1] == 40
    expected = np.reshape(table["fq"], (9, scales, orders)).transpose(0, 2, 1)
    assert bits(got.fq) == bits(expected)
    # read_result gives the same arrays.
    back = mfwindow.read_result(path)
    for key in ("time", "q", "scales", "log_scale", "fq"):
        assert bits(back[key]) == bits(got[key]), key


def test_fq_of_channels_has_the_channel_axis_first(values):
    two = np.vstack([values, 2 * values])
    got = support.described(two, fq=True, q=[-1, 2], **BASE)
    assert got.fq.shape == (2, 9, 2, got.scales.size)
    assert got.q.shape == (2,) and got.scales.ndim == 1
    one = got.channel(1)
    alone = support.described(2 * values, fq=True, q=[-1, 2], **BASE)
    assert bits(one.fq) == bits(alone.fq)
    assert "fq" not in got.to_pandas().columns


def test_read_result_gives_the_null_columns_of_the_csv(values, tmp_path):
    keywords = dict(BASE, surrogates=3, surrogate="shuffle", seed=9)
    got = support.described(values, **keywords)
    out = support.run_batch(str(tmp_path), values, *BASE_FLAGS,
                            "--surrogates", "3", "--surrogate", "shuffle",
                            "--seed", "9")
    back = mfwindow.read_result(os.path.join(out, "F(Alfa)_s.txt.csv"))
    assert back.has_null
    for key in got:
        assert bits(back[key]) == bits(got[key]), key
    # Drawn with its band, though the file carries no settings.
    fig = mfwindow.plot.summary(back)
    assert len(fig.axes[1].collections) == 1


def test_summary_shades_the_surrogate_band(values):
    r = support.described(values, surrogates=4, surrogate="shuffle", seed=1,
                         **BASE)
    fig = mfwindow.plot.summary(r)
    width = fig.axes[1]
    (band,) = width.collections
    levels = np.concatenate([p.vertices[:, 1] for p in band.get_paths()])
    # Flagged windows are left out of the band, as out of the lines.
    keep = r.status == "ok"
    assert levels.min() == r.width_null_median[keep].min()
    assert levels.max() == r.width_null_p95[keep].max()
    labels = [t.get_text().replace("\n", " ")  # long labels wrap
              for t in width.get_legend().get_texts()]
    assert "4 shuffle surrogates: median ... 95th percentile" in labels
    assert "4 shuffle surrogates, seed 1" in fig._supxlabel.get_text()


def test_plot_command_draws_the_null_csv_and_the_fq_csv(values, tmp_path):
    out = support.run_batch(str(tmp_path), values, *BASE_FLAGS,
                            "--surrogates", "2", "--fq")
    csv_path = os.path.join(out, "F(Alfa)_s.txt.csv")
    fq_path = os.path.join(out, "F(Alfa)_s.txt.fq.csv")
    done = support.run_plot(csv_path)
    assert done.returncode == 0, done.stderr
    assert os.path.getsize(os.path.join(out, "F(Alfa)_s.txt.png")) > 0
    done = support.run_plot(fq_path)
    assert done.returncode == 0, done.stderr
    assert os.path.getsize(os.path.join(out, "F(Alfa)_s.txt.fq.png")) > 0


def textbook_fq(x, scales, q, order):
    """F_q(s) of Kantelhardt et al. (2002), eqs. 1-4, from numpy alone: the
    profile of the mean-removed values, 2 (N div s) segments (from the start
    and from the end), a least-squares polynomial per segment, and the q-th
    order mean of the segment variances (q = 0: the logarithmic mean)."""
    y = np.cumsum(x - x.mean())
    n = len(y)
    table = np.empty((len(q), len(scales)))
    for k, s in enumerate(scales):
        count = n // s
        starts = [v * s for v in range(count)] + [n - (v + 1) * s
                                                 for v in range(count)]
        t = np.arange(s, dtype=float)
        f2 = np.array([np.mean((y[a:a + s] - np.polyval(
            np.polyfit(t, y[a:a + s], order), t)) ** 2) for a in starts])
        for j, qq in enumerate(q):
            table[j, k] = (np.exp(0.5 * np.mean(np.log(f2))) if qq == 0
                           else np.mean(f2 ** (qq / 2)) ** (1 / qq))
    return table


# The standard preset is the textbook method: its F_q(s) on windows of 1000
# values (no multiple of most lengths, where cutting from the start alone
# was 1.5-2.4% off) and its h(q), the slope of ln F on ln s over the
# distinct lengths (where the grid abscissa read s^h as 1.005 h).
@pytest.mark.parametrize("order", [1, 2, 3])
def test_standard_preset_is_textbook_mfdfa(order):
    x = np.random.default_rng(order).standard_normal(2000)
    r = support.described(x, window=1000, order=order, method="standard",
                         spectrum=True, fq=True)
    s = r.settings
    assert (s.profile, s.fluctuation, s.segments, s.abscissa, s.q_count,
            s.max_scale, s.min_scale) == (
        True, "rms", "both", "log_s", 21, 250, max(4 * (order + 2), 10))
    scales = np.asarray(r.scales)
    assert (1000 % scales != 0).sum() > 30
    distinct = np.r_[True, scales[1:] != scales[:-1]]
    for w in range(r.n_windows):
        want = textbook_fq(x[w * 1000:(w + 1) * 1000], scales, r.q, order)
        np.testing.assert_allclose(r.fq[w], want, rtol=1e-10, atol=0)
        slopes = np.polyfit(np.log(scales[distinct]),
                            np.log(r.fq[w][:, distinct]).T, 1)[0]
        np.testing.assert_allclose(r.h[w], slopes, rtol=0, atol=1e-9)


# With flat segments among the counted ones (range floor on), q = 0 once
# divided by every segment, each flat one weighing as a fluctuation of 1,
# so h(0) moved with the unit of the data. Now every order is unit-free.
def test_h_of_every_order_is_unit_free():
    x = np.abs(np.random.default_rng(5).standard_normal(1000))
    x[100:160] = 0.0
    x[500:580] = 0.0
    runs = [support.described(x * u, window=1000, profile=True,
                             fluctuation="rms",
                             q=[-0.5, -0.1, 0, 0.1, 0.5, 2],
                             range_floor=1e-9, spectrum=True)
            for u in (1e-3, 1.0, 1e3)]
    assert all(r.zero_share[0] > 0 for r in runs)  # the trap is set
    h = [r.h[0] for r in runs]
    np.testing.assert_allclose(h[0], h[1], rtol=0, atol=1e-12)
    np.testing.assert_allclose(h[2], h[1], rtol=0, atol=1e-12)


# Windows in units of 1e150 or 1e-150 are rescaled by a power of two before
# the analysis (their powers overflowed: h NaN, status "overflow"); both
# kernels rescale alike, and a rescaled window among ordinary ones, whose
# segments the vector kernel would otherwise take from the windows before,
# gives the straightforward kernel's bits.
def test_units_of_1e150_give_the_spectrum_of_units_of_1():
    x = support.walk(3000, seed=33)
    runs = {u: support.described(x * u, window=1000, shift=250, spectrum=True)
            for u in (1.0, 1e150, 1e-150)}
    for u in (1e150, 1e-150):
        np.testing.assert_allclose(runs[u].h, runs[1.0].h, rtol=0, atol=1e-12)
        assert list(runs[u].status) == list(runs[1.0].status)
    mixed = x.copy()
    mixed[1200:1800] *= 1e200
    by_kernel = [support.described(mixed, window=1000, shift=50, spectrum=True,
                                  kernel=k) for k in ("straightforward",
                                                      "vector")]
    assert bits(by_kernel[0].h) == bits(by_kernel[1].h)
    assert bits(by_kernel[0].alpha_width) == bits(by_kernel[1].alpha_width)


# Standard MF-DFA (profile and rms) reads its summary off the Legendre
# transform over the orders, alpha = numpy.gradient(tau, q), as its peers
# do; the sampled spectrum's edges (the described method's) lay 0.03-0.07
# inside. The width is a combination of h(q), so its standard error is the
# slope error of the same combination of log10 F_q(s).
@pytest.mark.parametrize("keywords", [
    dict(method="standard"),                             # 21 even steps
    dict(method="standard", q=[-4, -1, 0, 0.5, 2, 5]),   # uneven steps
    dict(method="standard", q=[-1, 0, 3]),               # fewer than 5
    dict(profile=True, fluctuation="rms"),  # 200 steps, not one double
])
def test_standard_summary_is_the_legendre_transform(keywords):
    x = np.random.default_rng(11).standard_normal(3000)
    r = support.described(x, window=1000, shift=500, spectrum=True, fq=True,
                         **keywords)
    q, scales = np.asarray(r.q), np.asarray(r.scales)
    grid = r.settings.abscissa == "grid"
    keep = np.r_[True, grid | (scales[1:] != scales[:-1])]
    at = np.asarray(r.log_scale)[keep] if grid else np.log10(scales[keep])
    d_alpha = np.gradient(np.eye(q.size), q, axis=0)  # d alpha_i / d tau_k
    for w in range(r.n_windows):
        alpha = np.gradient(r.tau[w], q)
        f = q * alpha - r.tau[w]
        lo, hi, peak = np.argmin(alpha), np.argmax(alpha), np.argmax(f)
        np.testing.assert_allclose(
            [r.alpha_min[w], r.alpha_max[w], r.alpha_sz[w], r.f_alpha_sz[w]],
            [alpha[lo], alpha[hi], alpha[peak], f[peak]], rtol=0, atol=1e-12)
        assert abs(r.alpha_width[w] - (alpha.max() - alpha.min())) <= 1e-10
        y = (q * (d_alpha[hi] - d_alpha[lo])) @ np.log10(r.fq[w][:, keep])
        rss = np.polyfit(at, y, 1, full=True)[1][0]
        se = np.sqrt(rss / (y.size - 2) / np.sum((at - at.mean()) ** 2))
        assert abs(r["width_se"][w] - se) <= 1e-9 * se
