"""Tests of the validation's own tools: the fGn generator, the binomial
cascade with its theory, and the peer MF-DFA. They run without the mfwindow
module: `/usr/bin/python3 -m pytest tests/validation`."""

import os
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "validation"))

import mfdfa_peer  # noqa: E402
import signals  # noqa: E402

# ---------------------------------------------------------------------------
# Fractional Gaussian noise


# gamma(1) = 2^(2H-1) - 1 by hand; gamma(0) = 1 for every H; white noise at
# H = 0.5 has no correlation at any lag.
@pytest.mark.parametrize("hurst,lags,expected", [
    (0.5, [0, 1, 2, 7], [1.0, 0.0, 0.0, 0.0]),
    (0.75, [0, 1], [1.0, 2**0.5 - 1]),
    (0.25, [1], [2**-0.5 - 1]),
    (0.9, [2], [0.5 * (3**1.8 - 2 * 2**1.8 + 1)]),
])
def test_fgn_autocovariance_known_values(hurst, lags, expected):
    np.testing.assert_allclose(signals.fgn_autocovariance(hurst, lags),
                               expected, atol=1e-15)


@pytest.mark.parametrize("hurst", [0.05, 0.2, 0.5, 0.8, 0.95, 0.99])
def test_circulant_embedding_is_nonnegative(hurst):
    # The method is exact only while every eigenvalue is >= 0.
    lam = signals.circulant_eigenvalues(4096, hurst)
    assert lam.min() >= -1e-12 * lam.max()


@pytest.mark.parametrize("hurst", [0.2, 0.5, 0.8, 0.95])
def test_davies_harte_matches_exact_autocovariance(hurst):
    # 400 independent series of 512 samples; the sample autocovariance about
    # the known mean 0 is unbiased, so its average over the series must lie
    # within 5 standard errors (taken from the spread over the series) of
    # the exact value at each lag. A wrong H or a wrong embedding moves
    # gamma(1) by many standard errors.
    rng = np.random.default_rng([14, 1, round(100 * hurst)])
    n, count, lags = 512, 400, np.arange(9)
    series = np.array([signals.fgn_davies_harte(n, hurst, rng)
                       for _ in range(count)])
    per_series = np.array([[np.mean(x[:n - k] * x[k:]) for k in lags]
                           for x in series])
    mean = per_series.mean(axis=0)
    stderr = per_series.std(axis=0, ddof=1) / np.sqrt(count)
    exact = signals.fgn_autocovariance(hurst, lags)
    assert np.all(np.abs(mean - exact) < 5 * stderr + 1e-3), (mean, exact)
    # fBm: Var(B_n) = n^2H for unit-variance increments.
    end_points = np.sum(series, axis=1)
    assert abs(np.mean(end_points**2) / n**(2 * hurst) - 1) < 0.25


def test_davies_harte_is_reproducible_and_rejects_bad_h():
    a = signals.fgn_davies_harte(1000, 0.7, np.random.default_rng(5))
    b = signals.fgn_davies_harte(1000, 0.7, np.random.default_rng(5))
    assert a.shape == (1000,) and np.array_equal(a, b)
    fbm = signals.fbm_davies_harte(1000, 0.7, np.random.default_rng(5))
    np.testing.assert_allclose(fbm, np.cumsum(a))
    for bad in (0.0, 1.0, -0.1):
        with pytest.raises(ValueError):
            signals.fgn_davies_harte(10, bad, np.random.default_rng(0))


# ---------------------------------------------------------------------------
# Binomial cascade


def test_cascade_values_by_hand():
    a, b = 0.75, 0.25
    # Indices 0..7 have 0,1,1,2,1,2,2,3 binary ones.
    expected = [b**3, a * b**2, a * b**2, a**2 * b, a * b**2, a**2 * b,
                a**2 * b, a**3]
    values = signals.binomial_cascade(3, a)
    np.testing.assert_allclose(values, expected, rtol=1e-15)
    assert abs(signals.binomial_cascade(16, 0.6).sum() - 1.0) < 1e-12


@pytest.mark.parametrize("a", [0.6, 0.75, 0.9])
def test_cascade_tau_matches_its_box_moments(a):
    # The measure's moments over boxes of size 2^-l are exactly
    # (a^q + b^q)^l, so their log-log slope is tau(q) at every q.
    q = np.linspace(-10, 10, 41)
    measured = signals.cascade_partition_tau(signals.binomial_cascade(12, a),
                                             q)
    np.testing.assert_allclose(measured, signals.cascade_tau(q, a),
                               atol=1e-9)


@pytest.mark.parametrize("a", [0.6, 0.75, 0.9])
def test_cascade_alpha_f_and_edges(a):
    q = np.linspace(-8, 8, 33)
    step = 1e-5
    numeric = (signals.cascade_tau(q + step, a) -
               signals.cascade_tau(q - step, a)) / (2 * step)
    np.testing.assert_allclose(signals.cascade_alpha(q, a), numeric,
                               atol=1e-7)
    # Legendre transform on a dense grid, at orders off that grid.
    dense = np.linspace(-40, 40, 80001)
    inner = np.linspace(-4.9, 4.9, 13)
    f = signals.legendre_spectrum(dense, signals.cascade_tau(dense, a),
                                  signals.cascade_alpha(inner, a))
    np.testing.assert_allclose(f, signals.cascade_f(inner, a), atol=1e-5)
    lo, hi = signals.cascade_alpha_edges(a)
    far = signals.cascade_alpha(np.array([300.0, -300.0]), a)
    np.testing.assert_allclose(far, [lo, hi], atol=1e-12)
    assert abs(signals.cascade_f(0.0, a) - 1.0) < 1e-15
    assert np.all(signals.cascade_f(np.array([60.0, -60.0]), a) < 0.02)


def test_cascade_h_by_hand():
    # a = 0.75, q = 2: 1/2 - ln(0.625)/(2 ln 2); q = 0: -log2(3/16)/2.
    h = signals.cascade_h(np.array([2.0, 0.0, 1.0]), 0.75)
    np.testing.assert_allclose(
        h, [0.5 - np.log(0.625) / (2 * np.log(2)), -np.log2(0.1875) / 2, 1.0],
        rtol=1e-14)


# ---------------------------------------------------------------------------
# Peer MF-DFA


def test_segment_variances_by_hand():
    # Order 1, s = 3. Seven values give two segments from the start
    # (0, 0, 3), (1, 2, 3) and two from the end (0, 3, 1), (2, 3, 10).
    # Residuals from their least-squares lines, by hand: (0.5, -1, 0.5),
    # F^2 = 0.5; none, 0; (-5/6, 5/3, -5/6), F^2 = 25/18; (1, -2, 1), 2.
    y = np.array([0.0, 0.0, 3.0, 1.0, 2.0, 3.0, 10.0])
    f2 = mfdfa_peer.segment_variances(y, 3, 1)
    np.testing.assert_allclose(f2, [0.5, 0.0, 25 / 18, 2.0], atol=1e-12)
    assert mfdfa_peer.segment_variances(y, 3, 1, both_ends=False).size == 2


@pytest.mark.parametrize("order", [1, 2, 3, 5])
def test_segment_variances_remove_polynomials_of_the_order(order):
    t = np.arange(200.0)
    y = sum((0.3 * (k + 1)) * (t / 20.0)**k for k in range(order + 1))
    size = np.mean(y**2)
    assert np.max(mfdfa_peer.segment_variances(y, 40, order)) < 1e-24 * size
    # One order lower leaves the leading term.
    assert np.max(mfdfa_peer.segment_variances(y, 40, order - 1)) > \
        1e-12 * size


def test_q_means_by_hand():
    # F^2 = 1, 4, 16: F_0 = exp(mean ln F) = 2, F_2 = sqrt(7),
    # F_-2 = (mean(1/F^2))^(-1/2) = sqrt(48/21); near 0 the power mean
    # tends to the logarithmic mean. A zero variance is left out.
    q = np.array([0.0, 2.0, -2.0, 1e-7, -1e-7])
    got = np.exp(mfdfa_peer.log_q_means([1.0, 4.0, 16.0, 0.0], q))
    np.testing.assert_allclose(got, [2.0, 7**0.5, (48 / 21)**0.5, 2.0, 2.0],
                               rtol=1e-6)


def test_hurst_exponents_of_exact_power_laws():
    scales = np.array([16, 32, 64, 128, 256])
    log_fq = np.array([0.7 * np.log(scales) + 3.0, -0.2 * np.log(scales)])
    np.testing.assert_allclose(
        mfdfa_peer.hurst_exponents(log_fq, scales), [0.7, -0.2], atol=1e-13)


def test_white_noise_gives_one_half():
    rng = np.random.default_rng([14, 2])
    x = rng.standard_normal(2**16)
    scales = mfdfa_peer.log_scales(16, 4096, 20)
    q = np.linspace(-4, 4, 81)
    result = mfdfa_peer.mfdfa(x, scales, q)
    # Standard error of h(2) here is about 0.01 (spread over seeds).
    assert abs(result["h"][q.tolist().index(2.0)] - 0.5) < 0.03
    assert np.all(np.abs(result["h"] - 0.5) < 0.06)
    assert abs(result["alfa_sz"] - 0.5) < 0.03
    # The Legendre transform never exceeds its value at q = 0, which is 1.
    assert 0.95 < result["f_alfa_sz"] <= 1.0 + 1e-12


@pytest.mark.parametrize("a", [0.6, 0.75, 0.9])
def test_peer_on_cascade_at_dyadic_scales(a):
    # With s = 2^k every segment is a box of the cascade, so F(v, s) is the
    # box's mass times G(k), the detrended rms of the k-level cascade's own
    # profile. Hence h(q) = theory + the slope of ln G(k) against ln s: the
    # same offset for every q. This holds to rounding and checks the
    # profile, both segment sets, the q-th order means (q = 0 included) and
    # the regression.
    levels = 14
    ks = np.arange(4, 11)
    scales = 2**ks
    q = np.array([-10.0, -4.0, -1.0, 0.0, 1.0, 3.0, 10.0])
    h = mfdfa_peer.hurst_exponents(
        mfdfa_peer.fluctuation_functions(signals.binomial_cascade(levels, a),
                                         scales, q), scales)
    log_g = []
    for k in ks:
        box = signals.binomial_cascade(int(k), a)
        residual = np.cumsum(box - box.mean())
        log_g.append(0.5 * np.log(mfdfa_peer.segment_variances(
            residual, 2**int(k), 2, both_ends=False)[0]))
    offset = np.polyfit(np.log(scales), log_g, 1)[0]
    np.testing.assert_allclose(h, signals.cascade_h(q, a) + offset,
                               atol=1e-7)


def test_fbm_values_equal_the_profile_of_fgn():
    # Inside a window the fBm and the profile of the fGn differ by a
    # constant and a line; detrending of order >= 1 removes both.
    x = signals.fgn_davies_harte(2048, 0.3, np.random.default_rng(3))
    scales = mfdfa_peer.log_scales(20, 400, 10)
    q = np.array([-3.0, 0.0, 2.0])
    for order in (1, 2):
        a = mfdfa_peer.mfdfa(x, scales, q, order)["h"]
        b = mfdfa_peer.mfdfa(np.cumsum(x) - 7.0, scales, q, order,
                             profile=False)["h"]
        np.testing.assert_allclose(a, b, atol=1e-9)


def test_windows_are_analysed_on_their_own():
    rng = np.random.default_rng(8)
    x = rng.standard_normal(3000)
    scales = mfdfa_peer.log_scales(20, 200, 8)
    q = np.array([-2.0, 0.0, 2.0])
    rows = mfdfa_peer.mfdfa_windows(x, 1000, 700, scales, q)
    assert rows["h"].shape == (3, 3)  # starts 0, 700, 1400; 2100 is short
    np.testing.assert_allclose(rows["h"][1],
                               mfdfa_peer.mfdfa(x[700:1700], scales, q)["h"])


def test_method_options_are_detected_by_keyword():
    # validate.py skips the standard-mode targets exactly when analyse()
    # rejects the `profile`/`fluctuation` keywords with TypeError, as a
    # module built before those options does.
    import validate

    def old_analyse(values, window=1000, shift=None, order=2, min_scale=20,
                    spectrum=False):
        return {}

    def new_analyse(values, window=1000, profile=False, fluctuation="range",
                    **others):
        return {}

    class Module:
        pass

    old, new = Module(), Module()
    old.analyse, new.analyse = old_analyse, new_analyse
    assert not validate.has_method_options(old)
    assert validate.has_method_options(new)


# ---------------------------------------------------------------------------
# The surrogate section's shares


@pytest.mark.parametrize("p,share", [
    ([0.01, 0.04, 0.05, 0.5], 0.5),  # 0.05 itself is not below
    ([0.01, np.nan, 0.9, 0.9], 0.25),  # a NaN window is no detection
    ([1.0], 0.0),
])
def test_share_below(p, share):
    import validate
    assert validate.share_below(p) == share


@pytest.mark.parametrize("share,n,interval", [
    (0.5, 100, (0.403831, 0.596169)),
    (0.0, 32, (0.0, 0.107179)),  # upper end z^2 / (n + z^2)
    (1.0, 20, (0.838875, 1.0)),
])
def test_wilson_interval_by_hand(share, n, interval):
    import validate
    np.testing.assert_allclose(validate.wilson_interval(share, n), interval,
                               atol=1e-6)


@pytest.mark.parametrize("value,limit,at_most,status", [
    (0.10, 0.10, True, "PASS"), (0.11, 0.10, True, "FAIL"),
    (0.90, 0.90, False, "PASS"), (0.89, 0.90, False, "FAIL"),
])
def test_one_sided_targets(value, limit, at_most, status):
    import validate
    targets = validate.Targets()
    targets.bound("share", value, limit, at_most)
    assert targets.rows[0][1] == status
    assert [r[0] for r in targets.failed()] == (["share"] if status == "FAIL"
                                                else [])


def _p_values(rejected, windows):
    return np.array([0.01] * rejected + [0.5] * (windows - rejected))


@pytest.mark.parametrize("signal,rejected,windows,quick,status", [
    # Full run: the share itself against the limit.
    ("fBm H = 0.3", 4, 64, False, "PASS"),
    ("fBm H = 0.3", 7, 64, False, "FAIL"),
    ("cascade a = 0.75", 58, 64, False, "PASS"),
    ("cascade a = 0.75", 57, 64, False, "FAIL"),
    # Quick run, 10 windows: only a sample that contradicts the target.
    ("fBm H = 0.3", 2, 10, True, "PASS"),
    ("fBm H = 0.3", 6, 10, True, "FAIL"),
    ("cascade a = 0.75", 8, 10, True, "PASS"),
    ("cascade a = 0.75", 7, 10, True, "FAIL"),  # upper end 0.892
    ("cascade a = 0.75", 3, 10, True, "FAIL"),
])
def test_null_targets_full_and_quick(signal, rejected, windows, quick,
                                     status):
    import validate
    nulls = {signal: {kind: {"width_p": _p_values(rejected, windows)}
                      for kind in ("iaaft", "phase")}}
    targets = validate.Targets()
    validate.check_null_targets(targets, nulls, quick)
    kinds = (validate.FALSE_POSITIVE_KINDS if signal.startswith("fBm")
             else validate.DETECTION_KINDS)
    assert [r[1] for r in targets.rows] == [status] * len(kinds)


def test_mrw_steps_have_unit_variance_and_log_correlated_magnitudes():
    # ln|step| = ln|eps| + omega with eps independent, so at lags >= 1 the
    # covariance of ln|step| is omega's, lambda^2 ln(T / (lag + 1)); a
    # generator that dropped the embedding's correlation, or its mean
    # -lambda^2 ln T (which keeps E[step^2] = 1), fails here.
    lam2, scale = 0.05, 512
    x = np.concatenate([signals.mrw_steps(2**16, lam2, scale,
                                          np.random.default_rng(r))
                        for r in range(8)])
    assert abs(np.mean(x**2) - 1.0) < 0.05
    m = np.log(np.abs(x)).reshape(8, -1)
    m = m - m.mean(axis=1, keepdims=True)
    for lag in (1, 50):
        cov = np.mean(m[:, :-lag] * m[:, lag:])
        assert abs(cov - lam2 * np.log(scale / (lag + 1.0))) < 0.03
