"""mfwindow.analyse: its numbers against the C++ API, the program and
mfwindow-batch bit for bit; the settling of its arguments and the warnings
that tell of it; its errors; channels; time axes; the result object;
progress, Ctrl-C and the released GIL; the docstrings' examples."""

import dataclasses
import datetime
import doctest
import fractions
import inspect
import os
import signal
import sys
import tempfile
import threading
import time
import warnings

import numpy as np
import pytest

import mfwindow
import mfwindow._analyse
import mfwindow._result
import mfwindow.plot
import support
from support import COLUMNS, FITS, QUALITY, SPECTRUM_KEYS, bits

from mfwindow import ClampWarning, ShortSeriesWarning


def analyse_quietly(*args, **kwargs):
    """analyse() where a clamp warning is expected and not under test."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ClampWarning)
        return support.described(*args, **kwargs)


def assert_same_results(got, expected):
    """Every array of two results, bit for bit."""
    assert sorted(got) == sorted(expected)
    for key in expected:
        assert got[key].shape == expected[key].shape, key
        assert bits(got[key]) == bits(expected[key]), key


def flat_stretch(n=1200):
    values = support.walk(n, seed=11)
    values[300:600] = 4.25  # degenerate windows: NaN h and tau
    return values


# Each row runs analyse() and the C++ API on the same series. Rows use the
# present keywords or those of earlier versions (incr, tini, tstep).
# incr, order, lrec, min_scale, shift, tini, tstep, threads, spectrum,
# series, old names
API_CASES = [
    (0, 2, 256, 20, 64, 0.0, 1.0, 1, False, "walk", False),
    (1, 1, 128, 20, 32, 0.0, 1.0, 2, False, "walk", True),
    (0, 5, 300, 25, 300, -3.5, 0.25, 3, False, "walk", False),
    (0, 3, 200, 20, 100, 10.0, 0.1, 2, True, "walk", True),
    (1, 2, 96, 20, 40, 0.0, 1.0, 1, True, "flat_stretch", False),
]


@pytest.mark.parametrize("case", API_CASES)
def test_every_double_equals_the_cpp_api(case, tmp_path):
    (incr, order, lrec, min_scale, shift, tini, tstep, threads, spectrum,
     kind, old_names) = case
    values = flat_stretch() if kind == "flat_stretch" else support.walk(
        1200, seed=11)
    axis = (dict(incr=incr, tini=tini, tstep=tstep) if old_names
            else dict(increments=incr, t0=tini, dt=tstep))
    got = analyse_quietly(values, window=lrec, shift=shift, order=order,
                          min_scale=min_scale, spectrum=spectrum,
                          threads=threads, **axis)
    want = support.run_api_dump(str(tmp_path), values, incr, order, lrec,
                                min_scale, shift, tini, tstep, threads,
                                spectrum)
    assert len(want["row"]) > 1
    rows = np.column_stack([got[c] for c in COLUMNS])
    assert bits(rows) == bits(want["row"])
    if not spectrum:
        assert "h" not in got
        return
    assert bits(got.q) == bits(want["q"])
    for key in SPECTRUM_KEYS:
        assert bits(got[key]) == bits(want[key]), key
    if kind == "flat_stretch":
        assert np.isnan(got.h).any()


def test_values_match_the_programs_result_file(tmp_path):
    # The program renders six significant digits; each analyse() value
    # rounded to six digits must read back as the field's value.
    values = support.walk(1500, seed=5)
    dat = support.run_program(str(tmp_path), values, 0, 2, 256, 20, 64, 0.0,
                              1.0)
    written = mfwindow.read_result(dat)
    got = support.described(values, window=256, shift=64, order=2,
                           min_scale=20)
    assert written.n_windows == 20  # (1500-256) // 64 + 1
    for column in COLUMNS:
        assert [float("%.5e" % v) for v in got[column]] == \
            written[column].tolist(), column


def test_rows_and_spectra_equal_mfwindow_batch_csv(tmp_path):
    # The batch CSV holds every double in 17 digits: the same bits.
    values = flat_stretch(1500)
    out = support.run_batch(str(tmp_path), values, "--window", "200",
                            "--shift", "50", "--order", "3", "--incr", "1",
                            "--tini", "2.5", "--tstep", "0.125",
                            "--spectrum")
    got = support.described(values, window=200, shift=50, order=3,
                           increments=True, t0=2.5, dt=0.125, spectrum=True)
    rows = mfwindow.read_result(os.path.join(out, "F(Alfa)_s.txt.csv"))
    spectra = mfwindow.read_result(os.path.join(out,
                                                "F(Alfa)_s.txt.spectrum.csv"))
    assert rows.n_windows == got.n_windows == 27
    for column in COLUMNS:
        assert bits(rows[column]) == bits(got[column]), column
    for key in ("time", "q") + SPECTRUM_KEYS:
        assert bits(spectra[key]) == bits(got[key]), key


class TestSettling:
    # Lrec 300 lets MinScale range over 20..30.
    BASE = dict(window=300, shift=100, order=2, min_scale=20)

    @pytest.fixture(scope="class")
    def values(self):
        return support.walk(700, seed=3)

    def analyse(self, values, **changes):
        return analyse_quietly(values, threads=1, **dict(self.BASE,
                                                         **changes))

    # given -> the settled values it must behave exactly like
    CLAMPED = [
        (dict(order=0), dict(order=1)),
        (dict(order=-7), dict(order=1)),
        (dict(order=11), dict(order=10)),
        (dict(min_scale=5), dict(min_scale=20)),
        (dict(min_scale=31), dict(min_scale=30)),
        (dict(min_scale=10**6), dict(min_scale=30)),
        (dict(shift=0), dict(shift=1)),
        (dict(shift=-3), dict(shift=1)),
        (dict(shift=10**6), dict(shift=300)),
        (dict(shift=None), dict(shift=300)),
        # The shift settles against the settled window.
        (dict(window=10, shift=None, order=1), dict(window=32, shift=32,
                                                    order=1, min_scale=3)),
        (dict(window=10, shift=40, order=1), dict(window=32, shift=32,
                                                  order=1, min_scale=3)),
        (dict(increments=True), dict(increments=1)),
    ]
    # Neighbours that must differ, so that the equalities above do not hold
    # merely because a setting has no effect.
    DIFFERENT = [
        (dict(order=1), dict(order=2)),
        (dict(order=10), dict(order=9)),
        (dict(min_scale=20), dict(min_scale=21)),
        (dict(min_scale=29), dict(min_scale=30)),
        (dict(shift=1), dict(shift=2)),
        (dict(shift=299), dict(shift=300)),
        (dict(window=32, shift=32, order=1, min_scale=3),
         dict(window=33, shift=32, order=1, min_scale=3)),
        (dict(increments=0), dict(increments=1)),
    ]

    @pytest.mark.parametrize("given,settled", CLAMPED)
    def test_out_of_range_settings_are_clamped(self, values, given, settled):
        got = self.analyse(values, **given)
        assert_same_results(got, self.analyse(values, **settled))
        expected = dict(self.BASE, **settled)
        assert got.settings.window == expected["window"]
        assert got.settings.shift == expected["shift"]
        assert got.settings.order == expected["order"]
        assert got.settings.min_scale == expected["min_scale"]

    @pytest.mark.parametrize("a,b", DIFFERENT)
    def test_controls_differ(self, values, a, b):
        one, other = self.analyse(values, **a), self.analyse(values, **b)
        assert [bits(one[c]) for c in COLUMNS] != \
            [bits(other[c]) for c in COLUMNS]

    def test_time_marks_follow_window_shift_and_time_axis(self, values):
        # Window i (from 0) ends on sample 300 + 30 i, counted from 1.
        got = self.analyse(values, shift=30, t0=2.5, dt=0.5)
        assert got.time.tolist() == [2.5 + (300 + 30 * i) * 0.5
                                     for i in range(14)]
        # A 10-sample window settles to 32, and the shift with it.
        got = self.analyse(values, window=10, shift=None, order=1)
        assert got.time[:3].tolist() == [32.0, 64.0, 96.0]


# Regression: clamping used to be silent (window=10 became 32, shift=0
# became 1, order=0 and min_scale=500 changed unseen).
# keywords -> the (keyword, given, used) triples the warning names
CLAMP_WARNINGS = [
    (dict(window=10), [("window", 10, 32), ("min_scale", 20, 3)]),
    (dict(window=1000, shift=0), [("shift", 0, 1)]),
    (dict(window=1000, order=0), [("order", 0, 1)]),
    (dict(window=1000, order=12), [("order", 12, 10)]),
    (dict(window=1000, min_scale=500), [("min_scale", 500, 100)]),
    (dict(window=1000, shift=5000), [("shift", 5000, 1000)]),
    (dict(window=150), [("min_scale", 20, 15)]),
]


@pytest.mark.parametrize("keywords,clamped", CLAMP_WARNINGS)
def test_clamped_settings_warn_naming_given_and_used(keywords, clamped):
    values = support.walk(3000, seed=2)
    with pytest.warns(ClampWarning) as caught:
        mfwindow.analyse(values, method="described", **keywords)
    assert len(caught) == 1
    warning = caught[0].message
    assert warning.clamped == tuple(clamped)
    for name, given, used in clamped:
        assert "%s %d -> %d" % (name, given, used) in str(warning)
    assert issubclass(ClampWarning, UserWarning)
    assert caught[0].filename == __file__  # points at the caller


@pytest.mark.parametrize("keywords", [
    dict(window=1000),
    dict(window=1000, shift=None),  # None: the window, not a clamp
    dict(window=32, min_scale=3, shift=32, order=10),
    dict(window=200, min_scale=20, shift=1, order=1),
])
def test_settings_in_range_do_not_warn(keywords):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        support.described(support.walk(1200, seed=2), **keywords)


# Regression: a series shorter than the window returned empty arrays
# without a word.
@pytest.mark.parametrize("samples,windows", [(299, 0), (0, 0), (300, 1)])
def test_series_shorter_than_the_window_warns(samples, windows):
    values = support.walk(300, seed=1)[:samples]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        got = support.described(values, window=300, spectrum=True)
    short = [w for w in caught if w.category is ShortSeriesWarning]
    assert len(short) == (1 if windows == 0 else 0)
    if short:
        assert "%d samples" % samples in str(short[0].message)
        assert "window of 300" in str(short[0].message)
    assert got.n_windows == windows
    assert got.alpha_sz.shape == (windows,)
    assert got.h.shape == (windows, 200)


# Regression: NaN or Inf in the input gave plausible finite numbers.
# shape, the bad samples, the text naming the first of them
NON_FINITE = [
    ((500,), {(17,): np.nan, (300,): np.inf}, "x[17] is nan"),
    ((500,), {(0,): np.inf}, "x[0] is inf"),
    # Past the last complete window, too: the input is refused as a whole.
    ((500,), {(499,): -np.inf}, "x[499] is -inf"),
    ((3, 500), {(1, 250): np.nan, (2, 10): np.inf, (1, 400): np.nan},
     "x[1, 250] (channel 1) is nan"),
]


@pytest.mark.parametrize("shape,bad,text", NON_FINITE)
def test_non_finite_samples_are_refused_naming_the_first(shape, bad, text):
    values = support.walk(int(np.prod(shape)), seed=4).reshape(shape)
    for where, value in bad.items():
        values[where] = value
    with pytest.raises(ValueError) as caught:
        support.described(values, window=100, min_scale=10)
    assert text in str(caught.value)
    first = min(bad)
    assert "index %d" % first[-1] in str(caught.value)


class TestNanPolicies:
    """nan="stop" and nan="skip" give what the program gives for the
    samples they keep: the series cut at its first non-finite sample, or
    the series without them (later samples move up, as
    mfwindow-batch --on-bad-sample skip)."""

    def series(self):
        values = support.walk(2000, seed=8)
        values[[700, 701, 1500]] = [np.nan, np.inf, np.nan]
        return values

    def test_stop_ends_the_series_at_the_first(self):
        values = self.series()
        with pytest.warns(mfwindow.BadSampleWarning, match=r"x\[700\] is nan"):
            got = support.described(values, window=200, shift=50, nan="stop")
        want = support.described(values[:700], window=200, shift=50)
        assert got.n_windows == want.n_windows == 11
        assert bits(got.alpha_sz) == bits(want.alpha_sz)
        assert bits(got.time) == bits(want.time)

    def test_skip_drops_them_and_the_time_axis_counts_the_kept(self):
        values = self.series()
        with pytest.warns(mfwindow.BadSampleWarning, match="3 non-finite"):
            got = support.described(values, window=200, shift=50, nan="skip")
        kept = values[np.isfinite(values)]
        want = support.described(kept, window=200, shift=50)
        assert got.n_windows == want.n_windows == 36
        assert bits(got.alpha_min) == bits(want.alpha_min)
        assert bits(got.time) == bits(want.time)

    def test_mask_keeps_the_time_axis_and_flags_only_windows_over_gaps(self):
        clean = support.walk(2000, seed=8)
        with pytest.warns(mfwindow.BadSampleWarning, match="3 non-finite"):
            got = support.described(self.series(), window=200, shift=50,
                                   nan="mask")
        want = support.described(clean, window=200, shift=50)
        ends = want.settings.window_positions(2000)
        over = np.array([any(end - 200 <= i < end for i in (700, 701, 1500))
                         for end in ends])
        assert bits(got.time) == bits(want.time) and over.sum() == 8
        assert (got.status[over] == "gap").all()
        assert np.isnan(got.alpha_sz[over]).all()
        for key in ("alpha_min", "alpha_sz", "min_r2", "status"):
            assert bits(got[key][~over]) == bits(want[key][~over]), key

    def test_a_channel_whose_every_window_is_a_gap_is_named(self):
        holed = support.walk(600, seed=8)
        holed[::150] = np.nan  # one in every window of 200
        both = np.vstack([support.walk(600, seed=9), holed])
        with pytest.warns(mfwindow.BadSampleWarning,
                          match="channel 1: every one of its 9 windows "
                                "holds a gap"):
            got = support.described(both, window=200, shift=50, nan="mask")
        assert (got.status[1] == "gap").all()
        assert not (got.status[0] == "gap").any()

    def test_stop_pads_channels_that_end_early_with_nan(self):
        clean = support.walk(2000, seed=9)
        both = np.vstack([self.series(), clean])
        with pytest.warns(mfwindow.BadSampleWarning):
            got = support.described(both, window=200, shift=50, nan="stop")
        alone = support.described(clean, window=200, shift=50)
        assert got.alpha_sz.shape == (2, alone.n_windows)
        assert bits(got.time) == bits(alone.time)
        assert bits(got.alpha_sz[1]) == bits(alone.alpha_sz)
        assert np.isnan(got.alpha_sz[0, 11:]).all()
        assert not np.isnan(got.alpha_sz[0, :11]).any()

    def test_skip_refuses_channels_with_gaps_at_different_places(self):
        both = np.vstack([self.series(), support.walk(2000, seed=9)])
        with pytest.raises(ValueError, match="different places"):
            support.described(both, window=200, nan="skip")

    def test_unknown_policy_is_an_error(self):
        with pytest.raises(ValueError, match="nan must be one of"):
            support.described(support.walk(300, seed=1), window=100,
                             nan="ignore")

    def test_settings_keep_the_policy(self):
        r = support.described(support.walk(300, seed=1), window=100,
                             min_scale=10, nan="skip")
        assert r.settings.nan == "skip"


@pytest.mark.parametrize("changes", [
    dict(dt=0.0), dict(dt=-1.0), dict(dt=np.nan), dict(dt=np.inf),
    dict(fs=0), dict(fs=-250.0), dict(fs=np.nan),
    dict(increments=2), dict(increments=-1), dict(incr=2),
    dict(threads=-1),
    dict(window=2**31), dict(shift=-2**31 - 1),
    dict(t0=np.nan), dict(t0=np.datetime64("NaT")),
])
def test_value_errors(changes):
    with pytest.raises(ValueError):
        support.described(support.walk(100, seed=1),
                         **dict(dict(window=32, min_scale=3), **changes))


@pytest.mark.parametrize("call", [
    lambda x: support.described(x, window=32, dt=0.5, fs=2.0),
    lambda x: support.described(x, window=32, tstep=0.5, fs=2.0),
    lambda x: support.described(x, values=x, window=32),
    lambda x: support.described(x, window=32, incr=1, increments=True),
    lambda x: support.described(x, window=32, tini=1.0, t0=1.0),
    lambda x: support.described(x, window=32, tstep=1.0, dt=1.0),
    lambda x: support.described(x, window=32, lrec=32),
    lambda x: support.described(x),
    lambda x: support.described(window=32),
    lambda x: support.described(x, window=32.0),
    lambda x: support.described(x, window=32, progress="yes"),
    lambda x: support.described(x.astype(str), window=32),
])
def test_type_errors(call):
    with pytest.raises(TypeError):
        call(support.walk(100, seed=1))


@pytest.mark.parametrize("values", [np.zeros((2, 2, 40)), 3.0,
                                    np.zeros((0, 40))])
def test_values_must_be_one_series_or_channels(values):
    with pytest.raises(ValueError):
        support.described(values, window=32, min_scale=3)


# A samples x channels array (np.loadtxt, DataFrame.to_numpy()) once ran for
# minutes as thousands of channels too short for a window, for no result.
@pytest.mark.parametrize("shape,window,refused", [
    ((100_000, 3), 1000, "100000 channels of 3 samples.*pass x.T$"),
    ((100_000, 1), 1000, r"pass x.T \(or x.ravel\(\)\)$"),
    ((40, 31), 32, "40 channels of 31 samples"),
    ((40, 32), 32, None),  # the rows hold a window: channels as given
])
def test_samples_by_channels_is_refused_at_once(shape, window, refused):
    values = np.resize(support.walk(997, seed=2), shape)
    start = time.monotonic()
    if refused is None:
        got = support.described(values, window=window, min_scale=3)
        assert got.alpha_sz.shape == (40, 1)
        return
    with pytest.raises(ValueError, match=refused):
        support.described(values, window=window, min_scale=3)
    assert time.monotonic() - start < 1.0


def test_to_xarray_labels_channel_window_q_and_scale():
    xr = pytest.importorskip("xarray")
    values = np.vstack([support.walk(700, seed=4), support.walk(700, seed=5)])
    got = support.described(values, window=200, shift=100, fs=50, q=[-2, 2],
                           spectrum=True, fq=True)
    got.channels = ("a", "b")
    ds = got.to_xarray()
    assert isinstance(ds, xr.Dataset)
    assert ds["alpha_sz"].dims == ("channel", "window")
    assert ds["h"].dims == ("channel", "window", "q")
    assert ds["fq"].dims == ("channel", "window", "q", "scale")
    assert ds["f_alpha"].dims == ("channel", "window", "point")
    assert bits(ds["alpha_sz"].sel(channel="b").values) == bits(
        got.alpha_sz[1])
    assert bits(ds["fq"].values) == bits(got.fq)
    assert bits(ds["time"].values) == bits(got.time)
    assert ds["q"].values.tolist() == [-2.0, 2.0]
    assert ds["scale"].values.tolist() == got.scales.tolist()
    assert got.scales.dtype == np.int64
    assert ds["point"].values.tolist() == list(range(1, 101))
    assert (ds.attrs["window"], ds.attrs["fs"], ds.attrs["fq"]) == (200, 50,
                                                                    1)
    one = got.channel("a").to_xarray()
    assert one["alpha_sz"].dims == ("window",)


@pytest.mark.parametrize("module, extra, call", [
    ("pandas", "pandas", lambda r: r.to_pandas()),
    ("xarray", "xarray", lambda r: r.to_xarray()),
    ("matplotlib.pyplot", "plot", lambda r: mfwindow.plot.summary(r)),
])
def test_a_missing_extra_says_how_to_install_it(module, extra, call,
                                                 monkeypatch):
    got = support.described(support.walk(700, seed=4), window=200, shift=100)
    monkeypatch.setitem(sys.modules, module, None)  # not importable
    with pytest.raises(ImportError, match='pip install "mfwindow\\[%s\\]"'
                       % extra):
        call(got)


def test_old_keyword_names_give_the_same_results():
    values = support.walk(800, seed=6)
    old = support.described(values=values, window=200, incr=1, tini=3.0,
                           tstep=0.25, spectrum=True)
    new = support.described(values, 200, increments=True, t0=3.0, dt=0.25,
                           spectrum=True)
    assert_same_results(old, new)
    assert old.settings == new.settings


def exact_marks(positions, fs, t0=0.0):
    """t0 + pos/fs with pos/fs rounded once, from exact fractions."""
    return [t0 + float(fractions.Fraction(p) / fractions.Fraction(fs))
            for p in positions]


# Regression: dt=0.004 gave time marks like 4.4000000000000004; fs gives
# the quotient, rounded once.
@pytest.mark.parametrize("fs,t0", [(250, 0.0), (250.0, 0.0), (1000 / 3, 0.0),
                                   (44100, 0.0), (250, -1.5)])
def test_fs_gives_time_marks_as_a_quotient(fs, t0):
    values = support.walk(3000, seed=7)
    got = support.described(values, window=1000, shift=100, fs=fs, t0=t0)
    positions = range(1000, 3001, 100)
    assert got.time.tolist() == exact_marks(positions, fs, t0)
    if fs == 250 and t0 == 0.0:
        assert got.time[1] == 4.4
    assert got.settings.fs == float(fs) and got.settings.dt is None
    # The same windows as any other time axis.
    plain = support.described(values, window=1000, shift=100)
    for column in COLUMNS[1:]:
        assert bits(got[column]) == bits(plain[column])


@pytest.mark.parametrize("t0,step,expected", [
    (np.datetime64("2024-05-01T12:00:00"), dict(fs=250),
     ["2024-05-01T12:00:04", "2024-05-01T12:00:04.400",
      "2024-05-01T12:00:04.800"]),
    (datetime.datetime(2024, 2, 29, 23, 59, 59), dict(dt=0.5),
     ["2024-03-01T00:08:19", "2024-03-01T00:09:09",
      "2024-03-01T00:09:59"]),
    (np.datetime64("2000-01-01"), dict(fs=3),
     ["2000-01-01T00:05:33.333333333", "2000-01-01T00:06:06.666666667",
      "2000-01-01T00:06:40"]),
])
def test_datetime_t0_gives_datetime_marks_and_index(t0, step, expected):
    values = support.walk(3000, seed=7)
    got = support.described(values, window=1000, shift=100, t0=t0, **step)
    assert got.time.dtype == np.dtype("M8[ns]")
    want = np.array(expected, dtype="M8[ns]")
    assert got.time[:3].tolist() == want.tolist()
    pd = pytest.importorskip("pandas")
    frame = got.to_pandas()
    assert isinstance(frame.index, pd.DatetimeIndex)
    assert frame.index[:3].tolist() == list(pd.DatetimeIndex(want))


# Regression: a pandas index was dropped, and uneven stamps (trading
# days) could not be given. stamps -> the dtype of the time marks
STAMPS = [
    (np.cumsum(np.arange(1, 1201)) * 0.5, np.float64),  # uneven numbers
    (np.datetime64("2007-01-02") + np.cumsum(
        np.where(np.arange(1200) % 5 == 4, 3, 1)).astype("m8[D]"), "M8[ns]"),
    (np.arange(1200).astype("m8[s]"), "m8[ns]"),
]


@pytest.mark.parametrize("stamps,dtype", STAMPS)
def test_stamps_label_each_windows_last_sample(stamps, dtype):
    values = np.random.default_rng(3).standard_normal(1200)
    plain = mfwindow.analyse(values, window=400, shift=200)
    got = mfwindow.analyse(values, window=400, shift=200, time=stamps)
    assert got.time.dtype == np.dtype(dtype)
    assert got.time.tolist() == stamps.astype(dtype)[399::200].tolist()
    assert bits(got.alpha_width) == bits(plain.alpha_width)
    pd = pytest.importorskip("pandas")
    indexed = mfwindow.analyse(pd.Series(values, index=stamps), window=400,
                               shift=200)
    assert indexed.time.tolist() == got.time.tolist()
    frame = pd.DataFrame({"a": values, "b": values[::-1]}, index=stamps)
    assert mfwindow.analyse(frame, window=400, shift=200).time.tolist() == (
        got.time.tolist())


@pytest.mark.parametrize("keywords,match", [
    (dict(time=np.arange(1199.0)), "one stamp per sample"),
    (dict(time=np.r_[np.arange(600.0), np.arange(600.0)]), "index 600"),
    (dict(time=np.r_[np.nan, np.arange(1199.0)]), "index 0"),
    (dict(time=np.array(["a"] * 1200)), "numbers or dates"),
    (dict(time=np.arange(1200.0), dt=2.0), "not be given with"),
])
def test_bad_stamps_are_refused_naming_time(keywords, match):
    with pytest.raises(mfwindow.SettingError, match=match) as caught:
        mfwindow.analyse(np.zeros(1200), window=400, **keywords)
    assert caught.value.setting == "time"


@pytest.mark.parametrize("method,values,increments,warns", [
    ("described", np.random.default_rng(4).standard_normal(2000), False,
     True),
    ("described", support.walk(2000, seed=4), False, False),
    ("described", support.walk(2000, seed=4), True, True),
    ("standard", np.random.default_rng(4).standard_normal(2000), False,
     False),
])
def test_the_described_method_warns_of_a_noise(method, values, increments,
                                               warns):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        mfwindow.analyse(values, window=1000, method=method,
                         increments=increments)
    noise = [w for w in caught if w.category is mfwindow.NoiseWarning]
    assert len(noise) == warns
    if warns:
        assert "method='standard'" in str(noise[0].message)


class TestChannels:
    @pytest.fixture(scope="class")
    def values(self):
        data = np.vstack([support.walk(900, seed=s) for s in (1, 2, 3)])
        data[2, 100:400] = 1.0  # one channel with degenerate windows
        return data

    @pytest.mark.parametrize("threads", [0, 1, 2, 5])
    def test_each_channel_gives_what_it_gives_alone(self, values, threads):
        got = support.described(values, window=200, shift=60, spectrum=True,
                               threads=threads)
        assert got.channels == (0, 1, 2)
        assert got.time.shape == (12,) and got.q.shape == (200,)
        assert got.alpha_sz.shape == (3, 12)
        assert got.h.shape == (3, 12, 200)
        assert got.f_alpha.shape == (3, 12, 100)
        for k in range(3):
            alone = support.described(values[k], window=200, shift=60,
                                     spectrum=True, threads=1)
            assert_same_results(got.channel(k), alone)

    def test_dataframe_columns_are_channels(self, values):
        pd = pytest.importorskip("pandas")
        frame = pd.DataFrame(values.T, columns=["fz", "cz", "pz"])
        got = support.described(frame, window=200, shift=60)
        assert got.channels == ("fz", "cz", "pz")
        assert_same_results(got.channel("cz"),
                            support.described(values[1], window=200,
                                             shift=60))
        table = got.to_pandas()
        assert table.index.names == ["channel", "time"]
        assert table.loc["pz"]["alpha_sz"].tolist() == got.alpha_sz[2].tolist()
        assert table.loc["pz"].index.tolist() == got.time.tolist()

    def test_channel_lookup_errors(self, values):
        got = support.described(values, window=200, shift=60)
        assert bits(got.channel(-1).alpha_sz) == bits(got.alpha_sz[2])
        with pytest.raises(IndexError):
            got.channel(3)
        with pytest.raises(KeyError):
            got.channel("oz")
        with pytest.raises(ValueError):
            got.channel(0).channel(0)

    def test_channels_can_be_renamed(self, values):
        got = support.described(values, window=200, shift=60)
        got.channels = ["fz", "cz", "pz"]
        assert bits(got.channel("pz").alpha_sz) == bits(got.alpha_sz[2])
        for labels in (["fz", "cz"], ["fz", "fz", "pz"]):
            with pytest.raises(ValueError):
                got.channels = labels
        with pytest.raises(ValueError):
            got.channel(0).channels = ["fz"]


def test_any_float64_convertible_input():
    ints = np.random.default_rng(2).integers(-50, 50, size=300)
    reference = support.described(ints.astype(np.float64), window=64,
                                 min_scale=6)
    doubled = np.repeat(ints.astype(np.float64), 2)
    inputs = {
        "list": [int(v) for v in ints],
        "tuple": tuple(float(v) for v in ints),
        "int array": ints,
        "float32 array": ints.astype(np.float32),
        "strided view": doubled[::2],
    }
    for name, values in inputs.items():
        assert_same_results(support.described(values, window=64, min_scale=6),
                            reference)


def test_constant_window_gives_the_degenerate_result():
    got = support.described(np.full(64, 7.0), window=32, min_scale=3,
                           spectrum=True)
    rows = np.column_stack([got[c] for c in COLUMNS[1:]])
    assert rows.tolist() == [[0.5, 0.5, 0.0, 0.5, 1.0]] * 2
    assert np.isnan(got.h).all() and np.isnan(got.tau).all()


def test_result_keeps_the_dict_interface_of_earlier_versions():
    values = support.walk(700, seed=4)
    plain = support.described(values, window=200, shift=100)
    assert sorted(plain) == sorted(COLUMNS + QUALITY + FITS)
    # The result files' "alfa" spellings still answer, with a warning.
    for old in ("alfa_min", "alfa_max", "alfa_width", "alfa_sz", "f_alfa_sz"):
        new = old.replace("alfa", "alpha")
        with pytest.warns(DeprecationWarning, match=new):
            assert plain[old] is getattr(plain, new)
        with pytest.warns(DeprecationWarning, match=new):
            assert getattr(plain, old) is plain[new]
    assert dict(plain).keys() == set(COLUMNS + QUALITY + FITS)
    assert "h" not in plain and plain.get("h") is None
    with pytest.raises(AttributeError, match="spectrum=True"):
        plain.h
    with pytest.raises(KeyError):
        plain["h"]
    full = support.described(values, window=200, shift=100, spectrum=True)
    assert sorted(full) == sorted(COLUMNS + QUALITY + FITS + ("q",) +
                                  SPECTRUM_KEYS)


def test_result_takes_later_arrays_without_change():
    # Later options add arrays (per window, or shared such as scales); they
    # become attributes and DataFrame columns.
    base = support.described(support.walk(700, seed=4), window=200, shift=100)
    extra = dict(base, quality=np.arange(6.0), scales=np.arange(3.0))
    grown = mfwindow.Result(extra, base.settings)
    assert grown.quality.tolist() == list(range(6))
    assert grown.row_keys() == COLUMNS[1:] + QUALITY + FITS + ("quality",)
    pytest.importorskip("pandas")
    assert grown.to_pandas().columns.tolist() == list(
        COLUMNS[1:] + QUALITY + FITS) + ["quality"]


def test_settings_are_frozen_and_settled():
    got = analyse_quietly(support.walk(700, seed=4), window=10, fs=100)
    assert got.settings == mfwindow.Settings(
        window=32, shift=32, order=2, min_scale=3, increments=False, t0=0.0,
        dt=None, fs=100.0, spectrum=False, threads=0, max_scale=6)
    with pytest.raises(dataclasses.FrozenInstanceError):
        got.settings.window = 64


def test_to_pandas_of_one_series():
    pytest.importorskip("pandas")
    got = support.described(support.walk(700, seed=4), window=200, shift=100,
                           t0=1.0, dt=0.5)
    frame = got.to_pandas()
    assert frame.index.name == "time"
    assert frame.index.tolist() == got.time.tolist()
    assert frame.columns.tolist() == list(COLUMNS[1:] + QUALITY + FITS)
    assert list(frame["status"]) == got["status"].tolist()
    assert set(got["status"]) <= set(support.STATUS_WORDS)
    assert bits(frame[list(COLUMNS[1:])].to_numpy()) == bits(
        np.column_stack([got[c] for c in COLUMNS[1:]]))


class TestProgress:
    def test_callable_hears_growing_counts_ending_at_the_total(self):
        heard = []
        got = support.described(support.walk(3000, seed=1), window=200,
                               shift=10, threads=1,
                               progress=lambda d, t: heard.append((d, t)))
        assert heard[-1] == (got.n_windows, got.n_windows)
        assert all(t == got.n_windows for _, t in heard)
        done = [d for d, _ in heard]
        assert done == sorted(set(done))

    def test_channels_count_together(self):
        heard = []
        support.described(np.vstack([support.walk(1000, seed=s)
                                    for s in (1, 2)]),
                         window=200, shift=100, progress=lambda d, t:
                         heard.append((d, t)))
        assert heard[-1] == (18, 18)

    def test_line_on_stderr_without_tqdm(self, monkeypatch, capsys):
        monkeypatch.setitem(sys.modules, "tqdm.auto", None)  # not importable
        support.described(support.walk(1000, seed=1), window=200, shift=100,
                         progress=True)
        err = capsys.readouterr().err
        assert err.endswith("\rmfwindow: 9/9 windows (100%)\n")

    def test_tqdm_bar(self, capsys):
        pytest.importorskip("tqdm")
        support.described(support.walk(1000, seed=1), window=200, shift=100,
                         progress=True)
        err = capsys.readouterr().err
        assert "mfwindow: 100%" in err and "9/9" in err

    def test_an_exception_from_the_callback_stops_the_analysis(self):
        calls = []

        def fail(done, total):
            calls.append(done)
            raise RuntimeError("enough")

        with pytest.raises(RuntimeError, match="enough"):
            support.described(support.walk(200_000, seed=1), window=256,
                             shift=1, threads=1, progress=fail)
        assert len(calls) == 1
        assert not [t for t in threading.enumerate()
                    if t.name.startswith("mfwindow")]


# Regressions: Ctrl-C was ignored for 35 s during a long call, then waited
# for the windows in flight: 4.4-8.3 s with a window of 2^22, 6.5 s with 299
# surrogates.
@pytest.mark.parametrize("shape, keywords", [
    ((200_000,), dict(window=256, shift=1)),
    ((2, 100_000), dict(window=256, shift=1)),
    ((2**22 + 1,), dict(window=2**22)),
    ((20_000,), dict(window=1000, shift=100, surrogates=299)),
])
def test_sigint_during_a_long_call_raises_keyboard_interrupt(shape, keywords):
    # Hours of work at shift 1, or windows that take seconds each; a real
    # SIGINT comes 0.3 s in. The call must raise KeyboardInterrupt and
    # return within a second of it, its workers stopped.
    values = support.walk(int(np.prod(shape)), seed=1).reshape(shape)
    heard = []
    sent = {}

    def interrupt():
        sent["at"] = time.monotonic()
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.3, interrupt)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            support.described(values, threads=2, **keywords,
                             progress=lambda d, t: heard.append((d, t)))
        returned = time.monotonic()
    finally:
        timer.cancel()
    assert "at" in sent
    assert returned - sent["at"] < 1.0
    assert heard and heard[-1][0] < heard[-1][1]  # stopped well before the end
    assert not [t for t in threading.enumerate()
                if t.name.startswith("mfwindow")]


def test_python_runs_while_a_series_is_analysed():
    # The main thread wakes every millisecond while another thread
    # analyses. Holding the GIL through the computation would stall it for
    # the whole call; released, its longest pause stays short.
    values = support.walk(6000, seed=9)
    span = {}
    done = threading.Event()

    def work():
        span["start"] = time.perf_counter()
        support.described(values, window=1000, shift=10, threads=1)
        span["end"] = time.perf_counter()
        done.set()

    worker = threading.Thread(target=work)
    ticks = []
    worker.start()
    while not done.is_set():
        time.sleep(0.001)
        ticks.append(time.perf_counter())
    worker.join()
    start, end = span["start"], span["end"]
    marks = [start] + [t for t in ticks if start < t < end] + [end]
    longest = max(b - a for a, b in zip(marks, marks[1:]))
    assert end - start > 0.05, "too short a call to tell"
    assert longest < (end - start) / 2


@pytest.mark.parametrize("module", [mfwindow, mfwindow._analyse,
                                    mfwindow._result, mfwindow.plot])
def test_docstring_examples_run(module):
    if module is not mfwindow._analyse:
        pytest.importorskip("pandas")
    outcome = doctest.testmod(module, optionflags=doctest.ELLIPSIS)
    assert outcome.attempted > 0
    assert outcome.failed == 0


def _bad_values(row):
    """Values the row must refuse, from its own constraints (bounds that
    other settings give taken on the defaults), each with the exception it
    must be: beyond a bound of a row that refuses, NaN and infinity where a
    finite number is due, a 0 that stands for "not given", a wrong type."""
    wrong = {"count": "2", "real": "5", "flag": 1, "word": 3, "reals": "ab",
             "seed": 2.5, "text": 1.5}
    bad = [(wrong[row["type"]], TypeError)]
    if row["type"] in ("count", "real") and not row["clamp"]:
        step = 1 if row["type"] == "count" else 0.5
        defaults = {"the minimum scale": 20, "the window length": 1000}
        for bound, sign in ((row["min"], -1), (row["max"], 1)):
            if bound is None:
                continue
            value = defaults.get(bound["value"], bound["value"])
            value = value if bound["open"] else value + sign * step
            if row["unset"] and value == 0:
                value = -step
            bad.append((value, ValueError))
        if row["unset"]:
            bad.append((0, ValueError))
    if row["finite"]:
        bad += [(np.nan, ValueError), (-np.inf, ValueError)]
        if row["type"] == "reals":
            bad += [([2.0, 1.0], ValueError), ([1.0, np.nan], ValueError)]
    if row["type"] == "word":
        bad.append(("not-a-word", ValueError))
    if row["type"] == "seed":
        bad += [(-1, ValueError), (2**64, ValueError)]
    if row["name"] == "t0":  # a number or a date and time, nothing else
        bad += [("5", TypeError), (np.datetime64("NaT"), ValueError)]
    keyword = row["keyword"]
    if keyword == "fit_range":
        ends = {"fit_min": lambda v: (v, None), "fit_max": lambda v: (None, v)}
        bad = [(ends[row["name"]](v), kind) for v, kind in bad] + [
            ((1, 2, 3), TypeError)]
    return bad


def _rows_of(front_end):
    from mfwindow import _settings
    return [row for row in _settings.TABLE
            if row["python"] and row["file"] == (front_end == "files")]


# Every row Python offers refuses a bad value of each kind by raising
# SettingError naming the keyword (a TypeError too for a wrong type); a
# refusal that named another setting, or slipped through, once reached
# the user as a plain ValueError or a wrong result.
@pytest.mark.parametrize("row", _rows_of("analyse"), ids=lambda r: r["name"])
def test_every_setting_refuses_bad_values_naming_itself(row):
    x = np.arange(2000.0)
    keyword = row["keyword"]
    for value, kind in _bad_values(row):
        keywords = dict(window=1000)
        keywords[keyword] = value
        with pytest.raises(mfwindow.SettingError) as caught:
            support.described(x, **keywords)
        assert caught.value.setting == keyword, (value, caught.value)
        assert isinstance(caught.value, kind), (value, caught.value)
        assert str(caught.value).startswith(keyword), str(caught.value)


@pytest.mark.parametrize("row", _rows_of("files"), ids=lambda r: r["name"])
def test_every_file_option_refuses_bad_values_naming_itself(row, tmp_path):
    distributed = pytest.importorskip("mfwindow.distributed")
    keyword = row["keyword"]
    for value, kind in _bad_values(row):
        with pytest.raises(mfwindow.SettingError) as caught:
            distributed.analyse_files([], window=1000, **{keyword: value})
        assert caught.value.setting == keyword, (value, caught.value)
        assert isinstance(caught.value, kind), (value, caught.value)


@pytest.mark.parametrize("keywords, setting", [
    (dict(q=[-1, 1], q_min=-3), "q"),         # both ways of giving orders
    (dict(fit_range=(50, 50)), "fit_range"),  # one segment length
    (dict(q_min=3, q_max=1), "q_min"),
    # The rule names the keyword given, not one left at its default.
    (dict(q_max=-20.0), "q_max"),
    (dict(dt=0.5, fs=2.0), "fs"),
    (dict(q_min=-10.0, q_max=-10.0 + 2**-46), "q_max"),
])
def test_settings_that_cannot_go_together_name_one(keywords, setting):
    with pytest.raises(mfwindow.SettingError) as caught:
        support.described(np.arange(2000.0), **dict(dict(window=1000),
                                                   **keywords))
    assert caught.value.setting == setting


def test_keywords_and_docstring_come_from_the_settings_table():
    # Every row the table offers Python is a keyword of analyse (analysis
    # rows) or analyse_files (file rows), with the table's default and a
    # docstring entry; a row missed anywhere would silently take a default.
    pytest.importorskip("distributed")
    from mfwindow import _analyse, _settings, distributed
    for row in _settings.TABLE:
        if not row["python"]:
            continue
        function = distributed.analyse_files if row["file"] else \
            mfwindow.analyse
        parameters = inspect.signature(function).parameters
        keyword = row["keyword"]
        assert parameters[keyword].kind in (inspect.Parameter.KEYWORD_ONLY,
                                            inspect.Parameter.
                                            POSITIONAL_OR_KEYWORD)
        expected = (_analyse._REQUIRED if keyword == "window"
                    else None if keyword in _settings.NONE_MEANS
                    else _settings.default(keyword))
        assert parameters[keyword].default == expected, keyword
        assert "\n    %s : " % keyword in function.__doc__ or row["file"]
        assert row["help"][1:] in " ".join(function.__doc__.split()) or \
            row["file"], keyword
    fields = {f.name for f in dataclasses.fields(mfwindow.Settings)}
    assert fields == set(_settings.ANALYSIS_KEYWORDS) | {"scheduler"}
