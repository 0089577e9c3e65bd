"""Test signals with known multifractal spectra, and their theory.

- Fractional Gaussian noise (fGn) of Hurst exponent H, exact in distribution,
  by circulant embedding (Davies and Harte 1987), and fractional Brownian
  motion (fBm) as its cumulative sum.
- The binomial multiplicative cascade of Kantelhardt et al. (2002), with its
  exact h(q), tau(q), alpha(q) and f(alpha).
- The multifractal random walk (MRW) of Bacry, Delour and Muzy (2001):
  Gaussian steps modulated by exp of a log-correlated Gaussian process.

numpy only. Every random series takes a numpy Generator, so a fixed seed
gives the same samples on every run.
"""

import numpy as np

LN2 = np.log(2.0)


# ---------------------------------------------------------------------------
# Fractional Gaussian noise


def fgn_autocovariance(hurst, lags):
    """Exact autocovariance of unit-variance fGn at integer `lags`:
    gamma(k) = (|k+1|^2H - 2|k|^2H + |k-1|^2H) / 2."""
    k = np.abs(np.asarray(lags, dtype=float))
    two_h = 2.0 * hurst
    return 0.5 * (np.abs(k + 1.0)**two_h - 2.0 * k**two_h +
                  np.abs(k - 1.0)**two_h)


def circulant_eigenvalues(n, hurst):
    """Eigenvalues of the 2n x 2n circulant matrix whose first row is
    gamma(0), ..., gamma(n), gamma(n-1), ..., gamma(1): the embedding of the
    n x n fGn covariance matrix. All are >= 0 for fGn with 0 < H < 1, which
    makes the method exact."""
    gamma = fgn_autocovariance(hurst, np.arange(n + 1))
    row = np.concatenate([gamma, gamma[-2:0:-1]])
    return np.fft.fft(row).real


def fgn_davies_harte(n, hurst, rng):
    """n samples of unit-variance fGn with Hurst exponent `hurst` (0 < H < 1).

    Circulant embedding: with C = F diag(lam) F* / m the m = 2n circulant
    whose top-left n x n block is the fGn covariance, and e = z1 + i z2 of
    independent standard normals, X = F diag(sqrt(lam / m)) e has
    E[X X*] = 2C and E[X X^T] = 0, so Re X is Gaussian with covariance C
    exactly (the complex form of the method, Wood and Chan 1994). Its first
    n entries are fGn. Raises ValueError if an eigenvalue is negative beyond
    rounding (which does not happen for fGn).
    """
    if not 0.0 < hurst < 1.0:
        raise ValueError("Hurst exponent must lie in (0, 1)")
    lam = circulant_eigenvalues(n, hurst)
    if lam.min() < -1e-9 * lam.max():
        raise ValueError("circulant embedding is not non-negative definite")
    m = lam.size
    scale = np.sqrt(np.clip(lam, 0.0, None) / m)
    noise = rng.standard_normal(m) + 1j * rng.standard_normal(m)
    return np.fft.fft(scale * noise).real[:n]


def fbm_davies_harte(n, hurst, rng):
    """n samples of fBm: the cumulative sum of fgn_davies_harte(n, ...)."""
    return np.cumsum(fgn_davies_harte(n, hurst, rng))


# ---------------------------------------------------------------------------
# Multifractal random walk (Bacry, Delour and Muzy 2001)


def mrw_steps(n, lambda2, integral_scale, rng):
    """n steps of the MRW: eps_k exp(omega_k), eps unit normal white noise
    and omega Gaussian with cov(omega_i, omega_j) = lambda2 ln(T / (|i-j|+1))
    for |i-j| < T (T = integral_scale), 0 beyond, and mean -lambda2 ln T, so
    that E[exp(2 omega)] = 1. omega by circulant embedding of that
    covariance (negative eigenvalues, where the embedding has any, set to
    0). The walk, np.cumsum of the steps, scales as
    zeta(q) = q/2 - lambda2 q (q - 2) / 2 for |q| < sqrt(2 / lambda2)."""
    lags = np.arange(n + 1, dtype=float)
    cov = np.where(lags < integral_scale,
                   lambda2 * np.log(integral_scale / (lags + 1.0)), 0.0)
    row = np.concatenate([cov, cov[-2:0:-1]])
    lam = np.clip(np.fft.fft(row).real, 0.0, None)
    m = lam.size
    noise = rng.standard_normal(m) + 1j * rng.standard_normal(m)
    omega = np.fft.fft(np.sqrt(lam / m) * noise).real[:n]
    omega -= lambda2 * np.log(integral_scale)
    return rng.standard_normal(n) * np.exp(omega)


# ---------------------------------------------------------------------------
# Binomial multiplicative cascade (Kantelhardt et al. 2002, section 4)


def binomial_cascade(levels, a):
    """The 2^levels values x_k = a^n(k-1) * b^(levels - n(k-1)), for
    k = 1..2^levels (counted from 1 as in the paper), with b = 1 - a and n(k)
    the number of ones in the binary digits of k. Deterministic; the values
    sum to 1."""
    if not 0.0 < a < 1.0:
        raise ValueError("a must lie in (0, 1)")
    index = np.arange(2**levels, dtype=np.int64)
    ones = np.zeros(index.size, dtype=np.int64)
    for bit in range(levels):
        ones += (index >> bit) & 1
    return a**ones * (1.0 - a)**(levels - ones)


def cascade_tau(q, a):
    """tau(q) = -ln(a^q + b^q) / ln 2."""
    q = np.asarray(q, dtype=float)
    return -np.log(a**q + (1.0 - a)**q) / LN2


def cascade_h(q, a):
    """h(q) = (tau(q) + 1) / q = 1/q - ln(a^q + b^q) / (q ln 2); at q = 0 the
    limit, alpha(0) = -log2(a b) / 2."""
    q = np.asarray(q, dtype=float)
    safe = np.where(q == 0.0, 1.0, q)
    return np.where(q == 0.0, cascade_alpha(0.0, a),
                    (cascade_tau(safe, a) + 1.0) / safe)


def cascade_alpha(q, a):
    """alpha(q) = dtau/dq = -(a^q ln a + b^q ln b) / ((a^q + b^q) ln 2)."""
    q = np.asarray(q, dtype=float)
    b = 1.0 - a
    wa, wb = a**q, b**q
    return -(wa * np.log(a) + wb * np.log(b)) / ((wa + wb) * LN2)


def cascade_f(q, a):
    """f(alpha(q)) = q alpha(q) - tau(q), the Legendre transform of tau
    written parametrically in q."""
    return np.asarray(q) * cascade_alpha(q, a) - cascade_tau(q, a)


def cascade_alpha_edges(a):
    """(alpha_min, alpha_max) = (-log2 max(a, b), -log2 min(a, b)): the
    limits of alpha(q) for q -> +inf and q -> -inf, where f falls to 0."""
    b = 1.0 - a
    return -np.log2(max(a, b)), -np.log2(min(a, b))


def legendre_spectrum(q, tau, alpha):
    """f(alpha) = min over the q grid of (q alpha - tau(q)), for each alpha:
    the Legendre transform of a sampled tau. Used to check the parametric
    form and by the peer's summary."""
    q = np.asarray(q, dtype=float)
    tau = np.asarray(tau, dtype=float)
    alpha = np.asarray(alpha, dtype=float)
    return np.min(np.outer(alpha, q) - tau[None, :], axis=1)


def cascade_partition_tau(values, q, min_box_level=0, max_box_level=None):
    """tau(q) of a measure on 2^L cells from its moments: the slope of
    log2 Z(q, eps) against log2 eps, where Z(q, eps) = sum of mu_box^q over
    the boxes of size eps = 2^-l (l = min_box_level..max_box_level). For the
    binomial cascade Z = (a^q + b^q)^l exactly."""
    values = np.asarray(values, dtype=float)
    levels = int(round(np.log2(values.size)))
    if 2**levels != values.size:
        raise ValueError("the measure needs 2^L cells")
    if max_box_level is None:
        max_box_level = levels
    mu = values / values.sum()
    q = np.atleast_1d(np.asarray(q, dtype=float))
    log_eps, log_z = [], []
    for level in range(min_box_level, max_box_level + 1):
        boxes = mu.reshape(2**level, -1).sum(axis=1)
        log_eps.append(-float(level))
        log_z.append(np.log2(np.sum(boxes[None, :]**q[:, None], axis=1)))
    log_eps = np.array(log_eps)
    log_z = np.array(log_z)  # levels x q
    x = log_eps - log_eps.mean()
    return (x @ (log_z - log_z.mean(axis=0))) / (x @ x)
