"""Detrended cross-correlation of two series, written from the published
formulas as an independent peer of mfwindow.cross: DCCA (Podobnik and
Stanley, PRL 100 (2008) 084102), its coefficient rho_DCCA (Zebende,
Physica A 390 (2011) 614) and the multifractal MF-DXA (Zhou, PRE 77
(2008) 066211), with the segments and the moment orders of the textbook
MF-DFA (Kantelhardt et al. 2002). numpy only, plain loops.

For two series x, y of N values (one window):
  1. profiles X(i) = sum_{k<=i} (x_k - <x>), Y likewise;
  2. N_s = int(N / s) segments of length s from the start and N_s more
     from the end, 2 N_s in all;
  3. in each segment v, the least-squares polynomials of order m of X and
     of Y, and with their residuals r, u:
       f2_xy(v, s) = (1/s) sum_i r_i u_i,  f2_xx(v, s) = (1/s) sum_i r_i^2;
  4. F2_xy(s) = mean over v of f2_xy (the detrended covariance, signed),
     F_xx(s) = sqrt(mean over v of f2_xx), F_yy likewise, and
     rho(s) = F2_xy(s) / (F_xx(s) F_yy(s));
     lambda = the least-squares slope of ln sqrt|F2_xy(s)| against ln s;
  5. F_q^xy(s) = { mean over v of |f2_xy(v, s)|^(q/2) }^(1/q), for q = 0
     exp{ mean over v of ln |f2_xy(v, s)| / 2 }; h_xy(q) the slope of
     ln F_q^xy against ln s; tau = q h - 1, alpha = dtau/dq,
     f = q alpha - tau.
"""

import math

import numpy as np


def _residuals(segment, order):
    """segment less its least-squares polynomial of degree `order`, fitted
    on an abscissa scaled to [-1, 1] (well conditioned at any length)."""
    n = len(segment)
    t = np.array([-1.0 + 2.0 * i / (n - 1) for i in range(n)])
    design = np.vander(t, order + 1)
    coef, *_ = np.linalg.lstsq(design, segment, rcond=None)
    return segment - design @ coef


def _profile(values):
    mean = sum(values) / len(values)
    out, running = [], 0.0
    for v in values:
        running += v - mean
        out.append(running)
    return np.array(out)


def segment_moments(x, y, s, order):
    """[(f2_xy, f2_xx, f2_yy, kappa)] over the 2 N_s segments of length s
    of the profiles of the window x, y (steps 1 to 3); kappa = sum |r u| /
    |sum r u|, the condition number of f2_xy: a covariance far below the
    size of its products is known to a relative error of kappa times the
    rounding, in any implementation."""
    px, py = _profile(x), _profile(y)
    n = len(px)
    count = n // s
    starts = [v * s for v in range(count)]
    starts += [n - count * s + v * s for v in range(count)]
    out = []
    for start in starts:
        r = _residuals(px[start:start + s], order)
        u = _residuals(py[start:start + s], order)
        products = [r[i] * u[i] for i in range(s)]
        out.append((sum(products) / s,
                    sum(r[i] * r[i] for i in range(s)) / s,
                    sum(u[i] * u[i] for i in range(s)) / s,
                    sum(abs(p) for p in products) / abs(sum(products))))
    return out


def _slope(xs, ys):
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    return (sum((a - mx) * (b - my) for a, b in zip(xs, ys))
            / sum((a - mx) ** 2 for a in xs))


def dcca_window(x, y, scales, q, order):
    """The pair analysis of one window over the segment lengths `scales`
    (distinct): a dict with cov_xy, f_xx, f_yy, rho, kappa (the largest
    condition number of the scale's segment covariances; one per scale),
    log_fq (len(q) x scales), lambda_xy, h, tau, alpha, f and the summary
    alpha_min, alpha_max, alpha_width, alpha_sz (alpha where f is largest)
    and f_alpha_sz."""
    cov, fxx, fyy, rho, kappa = [], [], [], [], []
    log_fq = np.empty((len(q), len(scales)))
    for k, s in enumerate(scales):
        moments = segment_moments(x, y, int(s), order)
        g = len(moments)
        cov.append(sum(m[0] for m in moments) / g)
        fxx.append(math.sqrt(sum(m[1] for m in moments) / g))
        fyy.append(math.sqrt(sum(m[2] for m in moments) / g))
        rho.append(cov[-1] / (fxx[-1] * fyy[-1]))
        kappa.append(max(m[3] for m in moments))
        mags = [abs(m[0]) for m in moments if m[0] != 0.0]
        for j, order_q in enumerate(q):
            if order_q == 0.0:
                log_fq[j, k] = sum(math.log(c) for c in mags) / (2 * len(mags))
            else:
                mean = sum(c ** (order_q / 2.0) for c in mags) / g
                log_fq[j, k] = math.log(mean) / order_q
    log_s = [math.log(s) for s in scales]
    lam = _slope(log_s, [0.5 * math.log(abs(c)) for c in cov])
    h = np.array([_slope(log_s, list(row)) for row in log_fq])
    q = np.asarray(q, dtype=float)
    tau = q * h - 1.0
    alpha = np.gradient(tau, q)
    f = q * alpha - tau
    peak = int(np.argmax(f))
    return {"cov_xy": np.array(cov), "f_xx": np.array(fxx),
            "f_yy": np.array(fyy), "rho": np.array(rho),
            "kappa": np.array(kappa), "log_fq": log_fq,
            "lambda_xy": lam, "h": h, "tau": tau, "alpha": alpha, "f": f,
            "alpha_min": alpha.min(), "alpha_max": alpha.max(),
            "alpha_width": alpha.max() - alpha.min(),
            "alpha_sz": alpha[peak], "f_alpha_sz": f[peak]}


def dcca_windows(x, y, window, shift, scales, q, order):
    """dcca_window() on each complete window [i shift, i shift + window)."""
    starts = range(0, len(x) - window + 1, shift)
    return [dcca_window(x[i:i + window], y[i:i + window], scales, q, order)
            for i in starts]
