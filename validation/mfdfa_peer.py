"""Standard multifractal detrended fluctuation analysis (MF-DFA), written
from the published formulas of Kantelhardt et al., Physica A 316 (2002) 87,
section 2, as an independent peer of the mfwindow program. numpy only.

Steps, for a series x_1..x_N (the paper's numbering; arrays here count from 0):
  1. profile Y(i) = sum_{k<=i} (x_k - <x>);
  2. N_s = int(N / s) non-overlapping segments of length s, taken from the
     start and again from the end, 2 N_s segments in all;
  3. in each segment v, the least-squares polynomial y_v of order m and
     F^2(v, s) = (1/s) sum_i (Y - y_v)^2, the variance of the residuals;
  4. F_q(s) = { 1/(2 N_s) sum_v [F^2(v, s)]^(q/2) }^(1/q), and for q = 0 the
     logarithmic mean F_0(s) = exp{ 1/(4 N_s) sum_v ln F^2(v, s) };
  5. h(q) = the least-squares slope of ln F_q(s) against ln s;
     tau(q) = q h(q) - 1, alpha = dtau/dq, f(alpha) = q alpha - tau(q).
The spectrum is largest, f = 1, at alpha(0) when tau is concave; the
summary reads it there and gives f by the Legendre transform
f(alpha) = min_q (q alpha - tau(q)), which falls below 1 where tau is not
concave.
"""

import numpy as np


def log_scales(min_scale, max_scale, count):
    """Distinct integer segment lengths spaced about evenly in log s."""
    grid = np.geomspace(min_scale, max_scale, count)
    return np.unique(np.round(grid).astype(int))


def _detrend_basis(s, order):
    """Orthonormal basis (s x (order+1)) of the polynomials of degree <= order
    on s equally spaced points; the residual of the least-squares fit is
    y - B (B^T y). The abscissa is centred and scaled to [-1, 1] so that the
    QR factorisation stays well conditioned for high orders."""
    t = np.linspace(-1.0, 1.0, s)
    basis, _ = np.linalg.qr(np.vander(t, order + 1))
    return basis


def segment_variances(y, s, order, both_ends=True):
    """F^2(v, s) of every segment of length s of y (step 2 and 3)."""
    n = y.size
    count = n // s
    segments = y[:count * s].reshape(count, s)
    if both_ends:
        segments = np.vstack([segments, y[n - count * s:].reshape(count, s)])
    basis = _detrend_basis(s, order)
    residual = segments - (segments @ basis) @ basis.T
    return np.mean(residual**2, axis=1)


def log_q_means(f2, q):
    """ln F_q for each q from the segment variances f2 (step 4). Segments with
    F^2 = 0 (a segment the polynomial fits exactly) are left out, since their
    negative moments are infinite. Computed in logs, so that q = +-10 of very
    small or large variances neither overflows nor underflows."""
    f2 = np.asarray(f2, dtype=float)
    f2 = f2[f2 > 0.0]
    log_f2 = np.log(f2)
    q = np.asarray(q, dtype=float)
    exponents = 0.5 * np.outer(q, log_f2)
    top = exponents.max(axis=1, keepdims=True)
    log_mean = top[:, 0] + np.log(np.mean(np.exp(exponents - top), axis=1))
    nonzero = q != 0.0
    return np.where(nonzero, log_mean / np.where(nonzero, q, 1.0),
                    0.5 * log_f2.mean())


def fluctuation_functions(x, scales, q, order=2, profile=True, both_ends=True):
    """ln F_q(s), shape (len(q), len(scales)). With profile=False the series
    is taken as the profile itself (for a series that already is one)."""
    x = np.asarray(x, dtype=float)
    y = np.cumsum(x - x.mean()) if profile else x
    table = np.empty((len(q), len(scales)))
    for k, s in enumerate(scales):
        table[:, k] = log_q_means(segment_variances(y, int(s), order,
                                                    both_ends), q)
    return table


def hurst_exponents(log_fq, scales):
    """h(q): least-squares slopes of ln F_q(s) against ln s (step 5)."""
    x = np.log(np.asarray(scales, dtype=float))
    x = x - x.mean()
    centred = log_fq - log_fq.mean(axis=1, keepdims=True)
    return centred @ x / (x @ x)


def spectrum(q, h):
    """tau(q), alpha(q) and f(alpha(q)) from h(q) on an ascending q grid;
    alpha by central differences (one-sided at the two ends)."""
    q = np.asarray(q, dtype=float)
    tau = q * h - 1.0
    alpha = np.gradient(tau, q)
    return tau, alpha, q * alpha - tau


def mfdfa(x, scales, q, order=2, profile=True, both_ends=True):
    """The whole analysis of one series: a dict with h, tau, alpha, f and the
    summary values alfa_min, alfa_max, alfa_width (the range of alpha(q)
    over the grid), alfa_sz = alpha(0) (the grid must hold q = 0) and
    f_alfa_sz = min over the grid of q alfa_sz - tau(q)."""
    q = np.asarray(q, dtype=float)
    zero = np.flatnonzero(q == 0.0)
    if zero.size != 1:
        raise ValueError("the q grid must hold 0 once")
    h = hurst_exponents(
        fluctuation_functions(x, scales, q, order, profile, both_ends), scales)
    tau, alpha, f = spectrum(q, h)
    alfa_sz = alpha[zero[0]]
    return {
        "h": h, "tau": tau, "alpha": alpha, "f": f,
        "alfa_min": alpha.min(), "alfa_max": alpha.max(),
        "alfa_width": alpha.max() - alpha.min(),
        "alfa_sz": alfa_sz, "f_alfa_sz": np.min(q * alfa_sz - tau),
    }


def mfdfa_windows(x, window, shift, scales, q, order=2, profile=True):
    """mfdfa() on each complete window x[i*shift : i*shift + window]; each
    window is analysed on its own (its own mean and profile). Returns a
    dict of arrays, one row per window."""
    x = np.asarray(x, dtype=float)
    starts = range(0, x.size - window + 1, shift)
    rows = [mfdfa(x[i:i + window], scales, q, order, profile) for i in starts]
    return {key: np.array([r[key] for r in rows]) for key in rows[0]}
