#!/usr/bin/python3
"""Validates mfwindow against signals whose multifractal spectrum is known.

Runs the program, through its Python package as installed, on exact
fractional Gaussian noise (fGn) and its cumulative sum (fBm) for several
Hurst exponents, and on the binomial multiplicative cascade of Kantelhardt
et al. (2002); runs an independent standard MF-DFA (mfdfa_peer.py, written
from that paper) on the same data; compares both with theory; measures the
surrogate null levels of the width (mfwindow.analyse(surrogates=N)) on fBm
and on the cascade's walk; and writes the tables as Markdown. h(2) comes
from a run with the single moment order 2 (q=[2]).

  /usr/bin/python3 validation/validate.py
      the full run; writes docs/validation.md
  /usr/bin/python3 validation/validate.py --quick
      a small run that checks the targets below and writes nothing;
      --part spectra or --part null checks only the spectra's targets or
      only the surrogate ones (ctest runs them as two tests)
  /usr/bin/python3 validation/validate.py --part statuses
      the window statuses on fGn, the cascades and multifractal random
      walks: the false-alarm table of docs/validation.md, printed
The package is the one Python imports: installed (pip install .), or the
build folder's with PYTHONPATH=build/python.

Targets (checked in both modes; the exit status is 1 when one is missed):
  - profile + rms with the described segments and grid (start, grid)
    gives h(2) within 0.03 of H for fGn with H = 0.2 .. 0.9, window 4096,
    averaged over windows;
  - the standard preset (method="standard") gives the textbook's F_q(s) to
    1e-10 relative and h(q) to 1e-9 on fGn, H = 0.2 .. 0.9, windows 1024
    and 4096 (--part textbook prints that table alone);
  - the described method's cascade alpha edges (AlfaMin, AlfaMax, averaged
    over the windows of a moving window) lie within 0.06 of theory;
  - the peer gives h(2) within 0.03 of H on the same fGn (a check of the
    data and of the peer itself);
  - with 99 surrogates per window (window 2048), the share of windows
    whose width has a rank p-value below 0.05 is at most 10% on fBm with
    H = 0.3, 0.5 and 0.8 (false positives), with IAAFT and with phase
    surrogates, and at least 90% on the walk of the binomial cascade with
    a = 0.75 (detection) with phase surrogates. IAAFT keeps the
    distribution of the increments, which carries most of the cascade's
    width, and detects it in few windows: stated as measured, as are the
    other kinds. The quick run checks the targets on the first 10 windows
    of each signal, failing only where the share's 95% interval lies wholly
    beyond the limit.
A module built without the method options (`profile`, `fluctuation`) has no
profile-and-rms runs: their rows read "not available in this build" and the targets
that need it are reported as skipped, by name.

numpy only; Debian's /usr/bin/python3.
"""

import argparse
import os
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import cross_peer  # noqa: E402
import mfdfa_peer  # noqa: E402
import signals  # noqa: E402

HURSTS = (0.2, 0.3, 0.5, 0.7, 0.8, 0.9, 0.95)
TARGET_HURSTS = (0.2, 0.3, 0.5, 0.7, 0.8, 0.9)
CASCADE_AS = (0.6, 0.75, 0.9)
WIDTH_WINDOWS = (1024, 4096, 16384, 65536)
MIN_SCALE_HURSTS = (0.2, 0.5, 0.8)
MIN_SCALES = (20, 40, 80)
TEXTBOOK_WINDOWS = (1024, 4096)
WINDOW = 4096
ORDER = 2
MIN_SCALE = 20
H2_TOLERANCE = 0.03
EDGE_TOLERANCE = 0.06
# Moment orders of the peer: -10 to 10 in steps of 0.1, q = 0 and q = 2
# included (the program's own grid has neither).
PEER_Q = np.linspace(-10.0, 10.0, 201)
PEER_SCALE_COUNT = 30
CASCADE_SHIFT = 100  # a moving window that meets the cascade at every offset
OTHER_CASCADE_SHIFT = 1000  # fewer offsets: how much the mean edges move
NOT_AVAILABLE = "not available in this build"
# Window statuses on the references: how often a clean signal is flagged.
STATUS_WINDOWS = (1024, 4096)
STATUS_HURSTS = (0.2, 0.5, 0.8)
MRW_LAMBDA2S = (0.02, 0.05)
MRW_INTEGRAL_SCALE = 4096

# The pair analysis (mfwindow.cross) against the peer of cross_peer.py:
# fGn pairs of each H, the standard preset's scales and orders; a pair with
# known cross-correlation is y = r x + sqrt(1 - r^2) z for independent x, z
# of the same H, whose rho_DCCA(s) is r at every scale.
CROSS_HURSTS = (0.3, 0.7)
CROSS_WINDOW = 1024
CROSS_R = 0.6
CROSS_AGREEMENT = 1e-10  # relative for F, absolute for rho, h, lambda, alpha
# The mean rho of the known and the independent pairs is taken over the
# scales up to window div 10 (20 segments or more: the wide scatter at the
# longest scales, a ratio of few-segment variances, stays out) and the
# non-overlapping windows, and must lie within 3 standard errors of those
# windows' means of its value.
CROSS_RHO_SCALE = CROSS_WINDOW // 10
CROSS_SIZES = {"quick": (2**14, 1024), "full": (2**14, 256)}  # length, shift

# Surrogate null levels: N surrogates of each window of exact fBm and of the
# cascade's walk; a window "rejects" when its rank p-value of the width is
# below P_LEVEL.
NULL_HURSTS = (0.3, 0.5, 0.8)
NULL_CASCADE_A = 0.75
NULL_WINDOW = 2048
NULL_COUNT = 99
NULL_KINDS = ("shuffle", "phase", "iaaft")
# The kinds each target is checked with.
FALSE_POSITIVE_KINDS = ("iaaft", "phase")
DETECTION_KINDS = ("phase",)
P_LEVEL = 0.05
FALSE_POSITIVE_MAX = 0.10  # share of fBm windows with p < P_LEVEL, at most
DETECTION_MIN = 0.90  # share of cascade windows with p < P_LEVEL, at least

FULL = {"series_len": 2**16, "series_count": 4, "cascade_levels": 16,
        "width_len": 2**18, "width_count": 2,
        "null_len": 2**16, "null_series": 2, "null_shift": 2048,
        "null_cascade_levels": 16, "null_cascade_shift": 1000,
        "null_kinds": NULL_KINDS}
# The quick run takes the full run's fGn series (so its h(2) are the ones in
# docs/validation.md) but only the runs the targets need, and a shorter
# cascade. Its surrogate check runs only the targets' kinds, on the first
# windows of the full run's series (the same windows and surrogates, so its
# p-values are a subset of those in docs/validation.md).
QUICK = {"series_len": 2**16, "series_count": 4, "cascade_levels": 14,
         "null_len": 2**16, "null_series": 1, "null_shift": 2048,
         "null_cascade_levels": 16, "null_cascade_shift": 1000,
         "null_kinds": ("phase", "iaaft"), "null_windows": 10}


# ---------------------------------------------------------------------------
# The program and the peer, one row of summary values per window


def import_module():
    """The mfwindow package Python imports: never a build folder found
    behind the caller's back, so that the run says what it validated."""
    try:
        import mfwindow
    except ImportError:
        sys.exit("validate.py: cannot import mfwindow; install it (pip "
                 "install .) or run with PYTHONPATH=build/python")
    return mfwindow


def has_method_options(module):
    """True when analyse() takes the method keywords `profile` and
    `fluctuation` (an older module rejects them with TypeError)."""
    try:
        module.analyse(np.arange(64.0) % 7.0, window=32, profile=False,
                       fluctuation="range", method="described")
    except TypeError:
        return False
    return True


def fgn_rng(hurst, replicate):
    """The generator of series `replicate` of the fGn with exponent H."""
    return np.random.default_rng([14, round(1000 * hurst), replicate])


def program_windows(module, x, window, shift, min_scale=MIN_SCALE,
                    **options):
    """The program's summary values per window (under the tables' names,
    which are the peer's), with h(2) from a second run with the single
    moment order 2: the default grid of 200 orders does not hold 2."""
    settings = dict(dict(window=window, shift=shift, order=ORDER,
                         min_scale=min_scale, method="described"), **options)
    r = module.analyse(x, **settings)
    two = module.analyse(x, q=[2.0], spectrum=True, **settings)
    return {"h2": two.h[:, 0], "alfa_min": r.alpha_min,
            "alfa_max": r.alpha_max, "alfa_width": r.alpha_width,
            "alfa_sz": r.alpha_sz, "f_alfa_sz": r.f_alpha_sz}


def peer_windows(x, window, shift):
    """The peer's summary values per window: standard MF-DFA of order 2
    with the program's scale range, MIN_SCALE to window div 5."""
    scales = mfdfa_peer.log_scales(MIN_SCALE, window // 5, PEER_SCALE_COUNT)
    r = mfdfa_peer.mfdfa_windows(x, window, shift, scales, PEER_Q, ORDER)
    r["h2"] = r["h"][:, int(np.argmin(np.abs(PEER_Q - 2.0)))]
    return r


def merged(parts):
    """Window rows of several series, one after the other."""
    return {key: np.concatenate([p[key] for p in parts]) for key in parts[0]}


class Stat:
    """Mean and standard deviation over windows."""

    def __init__(self, values):
        values = np.asarray(values, dtype=float)
        self.nan = int(np.count_nonzero(np.isnan(values)))
        values = values[~np.isnan(values)]
        self.n = values.size
        self.mean = float(values.mean()) if self.n else float("nan")
        self.sd = float(values.std(ddof=1)) if self.n > 1 else 0.0

    def text(self, digits=3):
        text = "%.*f ± %.*f" % (digits, self.mean, digits, self.sd)
        return text + (" (%d NaN left out)" % self.nan if self.nan else "")


# ---------------------------------------------------------------------------
# Experiments


def cascade_rows(module, options_ok, levels, a, shift):
    """Estimates for the cascade with parameter a. The described method
    takes no profile, so it gets the cumulative sum of the cascade; the
    profile-and-rms runs and the peer take the cascade values and form their own
    profile."""
    values = signals.binomial_cascade(levels, a)
    rows = {"described": program_windows(module, np.cumsum(values), WINDOW,
                                         shift)}
    if options_ok:
        rows["standard"] = program_windows(module, values, WINDOW, shift,
                                           profile=True, fluctuation="rms")
    return rows


def hurst_rows(module, options_ok, hurst, length, count, targets_only):
    """Estimates for fGn/fBm of exponent H over `count` series; with
    targets_only just the runs that the targets read."""
    fgns = [signals.fgn_davies_harte(length, hurst, fgn_rng(hurst, r))
            for r in range(count)]
    # Moments about the known mean 0: removing the sample mean would bias
    # them for long-range correlated noise.
    pooled = np.concatenate(fgns)
    out = {"variance": np.mean(pooled**2),
           "lag1": np.mean([np.mean(x[:-1] * x[1:]) / np.mean(x**2)
                            for x in fgns])}
    if not targets_only:
        out["described_fbm"] = merged([program_windows(
            module, np.cumsum(x), WINDOW, WINDOW) for x in fgns])
        out["described_fgn"] = merged([program_windows(
            module, x, WINDOW, WINDOW) for x in fgns])
    if options_ok:
        if not targets_only:
            out["rms_fbm"] = merged([program_windows(
                module, np.cumsum(x), WINDOW, WINDOW, profile=False,
                fluctuation="rms") for x in fgns])
        out["standard_fgn"] = merged([program_windows(
            module, x, WINDOW, WINDOW, profile=True, fluctuation="rms")
                                      for x in fgns])
    out["peer_fgn"] = merged([peer_windows(x, WINDOW, WINDOW) for x in fgns])
    return out


def textbook_rows(module, hurst, window, length, count):
    """The standard preset (method="standard") against the textbook, the
    peer with the preset's own distinct segment lengths and orders, on
    `count` fGn series of exponent H: per window h(2) of both and of the
    profile-and-rms variant on the described grid (segments from the start
    only, 200 grid scales from 20 to window div 5), and the largest
    differences between the preset and the textbook."""
    out = {"standard": [], "textbook": [], "grid": [], "f_rel": 0.0,
           "h_abs": 0.0}
    for replicate in range(count):
        x = signals.fgn_davies_harte(length, hurst, fgn_rng(hurst, replicate))
        r = module.analyse(x, window=window, order=ORDER, method="standard",
                           spectrum=True, fq=True)
        scales = np.asarray(r["scales"])
        distinct = np.r_[True, scales[1:] != scales[:-1]]
        q = np.asarray(r["q"])
        two = int(np.argmin(np.abs(q - 2.0)))
        for w in range(r.n_windows):
            part = x[w * window:(w + 1) * window]
            log_fq = mfdfa_peer.fluctuation_functions(part, scales, q, ORDER)
            h = mfdfa_peer.hurst_exponents(log_fq[:, distinct],
                                           scales[distinct])
            out["f_rel"] = max(out["f_rel"], float(np.max(np.abs(
                r["fq"][w] / np.exp(log_fq) - 1.0))))
            out["h_abs"] = max(out["h_abs"],
                               float(np.max(np.abs(r["h"][w] - h))))
            out["standard"].append(r["h"][w][two])
            out["textbook"].append(h[two])
        out["grid"].extend(program_windows(module, x, window, window,
                                           profile=True,
                                           fluctuation="rms")["h2"])
    return out


def textbook_table(textbook):
    """Bias (mean of h(2) - H) and per-window sd of h(2), by H and window."""
    body = []
    for (h, window), rows in sorted(textbook.items()):
        body.append(["%g" % h, "%d" % window] + [
            "%+.4f ± %.4f" % (Stat(rows[k]).mean - h, Stat(rows[k]).sd)
            for k in ("standard", "textbook", "grid")] + [
            "%.1e" % rows["f_rel"], "%.1e" % rows["h_abs"]])
    return table(["H", "window", "standard preset: bias ± sd",
                  "textbook: bias ± sd", "profile + rms on the grid",
                  "max rel. F diff", "max h diff"], body)


def width_rows(module, options_ok, window, length, count):
    """Width of the spectrum of H = 0.5 (white noise and its random walk)
    for one window length, non-overlapping windows."""
    fgns = [signals.fgn_davies_harte(length, 0.5,
                                     np.random.default_rng([14, 500, 100 + r]))
            for r in range(count)]
    out = {
        "described_fbm": merged([program_windows(module, np.cumsum(x),
                                                 window, window)
                                 for x in fgns]),
        "peer_fgn": merged([peer_windows(x, window, window) for x in fgns]),
    }
    if options_ok:
        out["standard_fgn"] = merged([program_windows(
            module, x, window, window, profile=True, fluctuation="rms")
                                      for x in fgns])
    return out


def min_scale_rows(module, hurst, length, count):
    """The described method on fBm, window 4096, for each minimum scale:
    the same series as the main table."""
    fbms = [np.cumsum(signals.fgn_davies_harte(length, hurst,
                                               fgn_rng(hurst, r)))
            for r in range(count)]
    return {m: merged([program_windows(module, x, WINDOW, WINDOW, m)
                       for x in fbms]) for m in MIN_SCALES}


# ---------------------------------------------------------------------------
# Surrogate null levels

# The arrays null_windows() returns, one value per window, under the names
# of the tables (those of the batch CSV).
NULL_COLUMNS = ("alfa_width", "alfa_sz", "width_null_median",
                "width_null_p95", "width_p", "alfa_sz_null_median",
                "alfa_sz_null_p95", "alfa_sz_p")


def cross_pairs(hurst, length):
    """(name, x, y, expected mean rho or None) for H: the same fGn twice,
    an independent pair, and the pair with known cross-correlation."""
    x = signals.fgn_davies_harte(length, hurst, fgn_rng(hurst, 0))
    z = signals.fgn_davies_harte(length, hurst, fgn_rng(hurst, 1))
    known = CROSS_R * x + np.sqrt(1.0 - CROSS_R**2) * z
    return [("same fGn twice", x, x, 1.0), ("independent fGn", x, z, 0.0),
            ("rho %g" % CROSS_R, x, known, CROSS_R)]


def cross_rows(module, length, shift):
    """Per H and pair: the largest differences between mfwindow.cross and
    the peer over every window, the mean rho with its standard error
    (CROSS_RHO_SCALE) and the largest |rho - expected|."""
    rows = []
    for hurst in CROSS_HURSTS:
        for name, x, y, expected in cross_pairs(hurst, length):
            r = module.cross(x, y, window=CROSS_WINDOW, shift=shift,
                             order=ORDER, spectrum=True, fq=True)
            scales = np.asarray(r.scales)
            distinct = np.r_[True, scales[1:] != scales[:-1]]
            peer = cross_peer.dcca_windows(x, y, CROSS_WINDOW, shift,
                                           scales[distinct], r.q, ORDER)
            rel = absolute = raw = conditioned = 0.0
            for w, p in enumerate(peer):
                for key in ("cov_xy", "f_xx", "f_yy"):
                    rel = max(rel, float(np.max(np.abs(
                        r[key][w][distinct] / p[key] - 1.0))))
                fq_rel = np.abs(r.fq[w][:, distinct] / np.exp(p["log_fq"])
                                - 1.0)
                negative_q = np.asarray(r.q) < 0.0
                rel = max(rel, float(np.max(fq_rel[~negative_q])))
                # A negative order is dominated by the smallest |cov|,
                # known to kappa times the rounding only.
                raw = max(raw, float(np.max(fq_rel[negative_q], initial=0)))
                conditioned = max(conditioned, float(np.max(
                    fq_rel[negative_q] / np.maximum(1.0, p["kappa"]),
                    initial=0.0)))
                absolute = max(absolute, float(np.max(np.abs(
                    r.rho[w][distinct] - p["rho"]))),
                    abs(r.lambda_xy[w] - p["lambda_xy"]),
                    float(np.max(np.abs(r.h[w] - p["h"]))))
                for key in ("alpha_min", "alpha_max", "alpha_width",
                            "alpha_sz", "f_alpha_sz"):
                    absolute = max(absolute, abs(r[key][w] - p[key]))
            apart = np.arange(0, r.n_windows, CROSS_WINDOW // shift)
            means = np.mean(r.rho[apart][:, scales <= CROSS_RHO_SCALE],
                            axis=1)
            rows.append({"hurst": hurst, "pair": name, "expected": expected,
                         "windows": r.n_windows, "rel": rel,
                         "raw": raw, "conditioned": conditioned,
                         "abs": absolute, "rho": float(np.mean(r.rho)),
                         "rho_sd": float(np.std(r.rho)),
                         "rho_small": float(np.mean(means)),
                         "rho_se": float(np.std(means, ddof=1)
                                         / np.sqrt(len(means))),
                         "rho_dev": float(np.max(np.abs(r.rho - expected))),
                         "lambda": float(np.mean(r.lambda_xy)),
                         "negative": float(np.mean(r.negative_covariance))})
    return rows


def cross_table(rows):
    return table(["H", "pair", "windows", "mean rho ± sd",
                  "mean rho, s <= %d ± se" % CROSS_RHO_SCALE, "mean lambda",
                  "windows with cov < 0", "max rel. F diff (q >= 0)",
                  "q < 0: max rel. diff / over kappa",
                  "max abs. diff (rho, lambda, h, summary)"],
                 [["%g" % r["hurst"], r["pair"], "%d" % r["windows"],
                   "%.3f ± %.3f" % (r["rho"], r["rho_sd"]),
                   "%.3f ± %.3f" % (r["rho_small"], r["rho_se"]),
                   "%.3f" % r["lambda"], "%.0f%%" % (100 * r["negative"]),
                   "%.1e" % r["rel"],
                   "%.1e / %.1e" % (r["raw"], r["conditioned"]),
                   "%.1e" % r["abs"]] for r in rows])


def check_cross_targets(targets, rows):
    def small(name, value):
        targets.rows.append((name, "PASS" if value <= CROSS_AGREEMENT
                             else "FAIL", "%.1e, at most %.0e"
                             % (value, CROSS_AGREEMENT)))

    for r in rows:
        tag = "cross H=%g %s" % (r["hurst"], r["pair"])
        small(tag + ": F against the peer (relative)", r["rel"])
        small(tag + ": F at q < 0 against the peer (relative, over kappa)",
              r["conditioned"])
        small(tag + ": rho, lambda, h, summary against the peer", r["abs"])
        if r["expected"] == 1.0:
            small(tag + ": largest |rho - 1| over windows and scales",
                  r["rho_dev"])
        else:
            targets.check(tag + ": mean rho (s <= %d)" % CROSS_RHO_SCALE,
                          r["rho_small"], r["expected"], 3.0 * r["rho_se"])


def null_windows(module, x, window, shift, kind, count, seed):
    """Summary values and surrogate null levels of each window of x: the
    described method (order ORDER, `min_scale` MIN_SCALE) with `count`
    surrogates of kind `kind` under `seed`, every core."""
    r = module.analyse(x, window=window, shift=shift, order=ORDER,
                       min_scale=MIN_SCALE, surrogates=count, surrogate=kind,
                       seed=seed, threads=0, method="described")
    return {c: np.asarray(r[c.replace("alfa", "alpha")], dtype=float)
            for c in NULL_COLUMNS}


def share_below(p_values, level=P_LEVEL):
    """The share of windows whose p-value is below `level`; a NaN p-value
    (a degenerate window) counts as not below."""
    p = np.asarray(p_values, dtype=float)
    return float(np.count_nonzero(p < level)) / p.size


def wilson_interval(share, n, z=1.959964):
    """The 95% Wilson score interval of a binomial share from n trials."""
    centre = (share + z * z / (2 * n)) / (1 + z * z / n)
    half = z / (1 + z * z / n) * np.sqrt(share * (1 - share) / n +
                                         z * z / (4 * n * n))
    return max(0.0, centre - half), min(1.0, centre + half)


def null_seed(tag, replicate):
    """The seed of series `replicate` of the signal `tag` (1000 H for fBm,
    1000 a for the cascade): distinct per series, so no two series share
    their surrogates' random numbers."""
    return 15_000_000 + 1000 * tag + replicate


def null_rows(module, sizes):
    """Per signal and surrogate kind: the windows' summary values and null
    levels, pooled over the signal's series, with the seconds it took."""
    kinds = sizes["null_kinds"]
    limit = sizes.get("null_windows")

    def cut(x, shift):
        # The first `limit` windows only (the quick run).
        return x if limit is None else x[:NULL_WINDOW + (limit - 1) * shift]

    signals_in = {}
    for h in NULL_HURSTS:
        tag = round(1000 * h)
        signals_in["fBm H = %g" % h] = [
            (cut(np.cumsum(signals.fgn_davies_harte(
                sizes["null_len"], h, fgn_rng(h, r))), sizes["null_shift"]),
             sizes["null_shift"], null_seed(tag, r))
            for r in range(sizes["null_series"])]
    walk = np.cumsum(signals.binomial_cascade(sizes["null_cascade_levels"],
                                              NULL_CASCADE_A))
    signals_in["cascade a = %g" % NULL_CASCADE_A] = [
        (cut(walk, sizes["null_cascade_shift"]), sizes["null_cascade_shift"],
         null_seed(round(1000 * NULL_CASCADE_A) + 10_000, 0))]
    out = {}
    for name, parts in signals_in.items():
        out[name] = {}
        for kind in kinds:
            started = time.time()
            rows = merged([null_windows(module, x, NULL_WINDOW, shift, kind,
                                        NULL_COUNT, seed)
                           for x, shift, seed in parts])
            rows["seconds"] = time.time() - started
            rows["seeds"] = [seed for _, _, seed in parts]
            out[name][kind] = rows
    return out


def status_signals(sizes):
    """The references whose windows should not be flagged, as (name,
    increments) pairs: fGn, the binomial cascades and multifractal random
    walks. The described method gets their cumulative sums, the standard
    preset the increments themselves."""
    out = []
    for h in STATUS_HURSTS:
        out += [("fGn H = %g" % h, signals.fgn_davies_harte(
            sizes["series_len"], h, fgn_rng(h, r))) for r in range(2)]
    for a in CASCADE_AS:
        out.append(("cascade a = %g" % a, signals.binomial_cascade(
            sizes["cascade_levels"], a)))
    for lam2 in MRW_LAMBDA2S:
        out += [("MRW lambda^2 = %g" % lam2, signals.mrw_steps(
            sizes["series_len"], lam2, MRW_INTEGRAL_SCALE,
            np.random.default_rng([21, round(1000 * lam2), r])))
            for r in range(2)]
    return out


def status_rows(module, sizes):
    """Window counts per status, keyed by (signal, method, window): each
    reference in windows of STATUS_WINDOWS, shifted by half a window."""
    rows = {}
    for name, x in status_signals(sizes):
        for method, values in (("described", np.cumsum(x)), ("standard", x)):
            for window in STATUS_WINDOWS:
                extra = ({"method": "standard"} if method == "standard" else
                         {"method": "described", "min_scale": MIN_SCALE})
                r = module.analyse(values, window=window, shift=window // 2,
                                   order=ORDER, **extra)
                counts = rows.setdefault((name, method, window), {})
                for word in np.asarray(r["status"]):
                    counts[str(word)] = counts.get(str(word), 0) + 1
    return rows


def status_table(rows):
    body = []
    for (name, method, window), counts in rows.items():
        total = sum(counts.values())
        flagged = ", ".join("%s %d" % (w, n) for w, n in sorted(
            counts.items()) if w != "ok") or "none"
        body.append([name, method, "%d" % window, "%d" % total,
                     "%.1f%%" % (100.0 * counts.get("poor_fit", 0) / total),
                     "%.1f%%" % (100.0 * counts.get("flat_segments", 0) /
                                 total), flagged])
    return table(["signal", "method", "window", "windows", "poor_fit",
                  "flat_segments", "every status but ok"], body)


STATUS_SECTION = """## Window statuses on clean references

How often the statuses flag windows of signals that scale cleanly: fGn
(two series per H, the fGn table's first two), the binomial cascades of the
cascade table, and multifractal random walks (Bacry, Delour and Muzy 2001;
integral scale %d, two series of %d steps per lambda^2, PCG64 seeded with
`[21, round(1000 lambda^2), r]`). The described method analyses the
cumulative sums, the standard preset (`method="standard"`) the increments;
order %d, `min_scale` %d, shift half a window, default `poor_fit_r2`.
Every window flagged here is a false alarm. `poor_fit` comes after
`crossover` and before `not_concave`, and the stuck-run rule of
`flat_segments` only adds windows to that status: where both flag no
window, the other statuses' counts are those they had without them. Made
by `validate.py --part statuses` alone.
"""


def theory_checks():
    """Numerical checks of the formulas the tables compare against and of
    the generators. Returns (description, deviation, tolerance) triples;
    each deviation must not exceed its tolerance."""
    checks = []
    q = np.linspace(-10.0, 10.0, 81)
    for a in CASCADE_AS:
        measured = signals.cascade_partition_tau(
            signals.binomial_cascade(14, a), q)
        checks.append(("a = %g: tau(q) = -log2(a^q + b^q) against the slope "
                       "of the box moments of the generated cascade, "
                       "largest deviation over q in [-10, 10]" % a,
                       np.max(np.abs(measured - signals.cascade_tau(q, a))),
                       1e-9))
        step = 1e-5
        numeric = (signals.cascade_tau(q + step, a) -
                   signals.cascade_tau(q - step, a)) / (2 * step)
        checks.append(("a = %g: alpha(q) formula against the numerical "
                       "derivative of tau" % a,
                       np.max(np.abs(numeric - signals.cascade_alpha(q, a))),
                       1e-6))
        dense_q = np.linspace(-40.0, 40.0, 160001)
        # Orders between the grid points, so that the minimum is not
        # simply read off at the very q of the parametric form.
        inner = np.linspace(-5.0, 5.0, 23)
        legendre = signals.legendre_spectrum(
            dense_q, signals.cascade_tau(dense_q, a),
            signals.cascade_alpha(inner, a))
        checks.append(("a = %g: f(alpha) = min_q (q alpha - tau) against "
                       "q alpha(q) - tau(q), q in [-5, 5]" % a,
                       np.max(np.abs(legendre - signals.cascade_f(inner, a))),
                       1e-6))
        lo, hi = signals.cascade_alpha_edges(a)
        far = signals.cascade_alpha(np.array([200.0, -200.0]), a)
        checks.append(("a = %g: alpha(+-200) against the edges "
                       "-log2 max(a,b), -log2 min(a,b)" % a,
                       max(abs(far[0] - lo), abs(far[1] - hi)), 1e-9))
        nonzero = q[q != 0.0]
        paper = 1.0 / nonzero - np.log(a**nonzero + (1 - a)**nonzero) / (
            nonzero * np.log(2.0))
        checks.append(("a = %g: h(q) = 1/q - ln(a^q + b^q)/(q ln 2) equals "
                       "(tau(q) + 1)/q" % a,
                       np.max(np.abs(paper - signals.cascade_h(nonzero, a))),
                       1e-12))
    for hurst in HURSTS:
        lam = signals.circulant_eigenvalues(2**16, hurst)
        checks.append(("H = %g: circulant embedding of 2^16 samples, its "
                       "most negative eigenvalue relative to the largest "
                       "(0 when all are >= 0; smallest ratio %.2e)"
                       % (hurst, lam.min() / lam.max()),
                       max(0.0, -lam.min() / lam.max()), 1e-12))
    # Why fBm values are compared with H: within a window, the profile of
    # fGn and the fBm values differ by a constant and a straight line, which
    # every detrending of order >= 1 removes.
    x = signals.fgn_davies_harte(WINDOW, 0.7, fgn_rng(0.7, 99))
    scales = mfdfa_peer.log_scales(MIN_SCALE, WINDOW // 5, PEER_SCALE_COUNT)
    with_profile = mfdfa_peer.mfdfa(x, scales, PEER_Q)["h"]
    fbm_as_profile = mfdfa_peer.mfdfa(np.cumsum(x) + 5.0, scales, PEER_Q,
                                      profile=False)["h"]
    checks.append(("H = 0.7: peer h(q) of fGn with its profile against the "
                   "fBm values taken as the profile, largest deviation",
                   np.max(np.abs(with_profile - fbm_as_profile)), 1e-9))
    return checks


# ---------------------------------------------------------------------------
# Targets


class Targets:
    def __init__(self):
        self.rows = []  # (name, status, detail)

    def check(self, name, value, reference, tolerance):
        diff = value - reference
        status = "PASS" if abs(diff) <= tolerance else "FAIL"
        self.rows.append((name, status, "%.4f against %.4f (diff %+.4f, "
                          "tolerance %.2f)" % (value, reference, diff,
                                               tolerance)))

    def bound(self, name, value, limit, at_most, detail=""):
        """A one-sided target: value <= limit (at_most) or >= limit."""
        ok = value <= limit if at_most else value >= limit
        self.rows.append((name, "PASS" if ok else "FAIL", "%.4f, %s %.2f%s"
                          % (value, "at most" if at_most else "at least",
                             limit, detail)))

    def skip(self, name, reason):
        self.rows.append((name, "SKIPPED", reason))

    def failed(self):
        return [r for r in self.rows if r[1] == "FAIL"]


def check_targets(targets, options_ok, cascade, hurst):
    # The edges are the described method's target; the profile-and-rms runs' are
    # reported in the tables only (docs/validation.md shows why it is
    # shifted on this cascade).
    for a, rows in cascade.items():
        lo, hi = signals.cascade_alpha_edges(a)
        r = rows["moving"]["described"]
        targets.check("cascade a = %g, described method, AlfaMin" % a,
                      Stat(r["alfa_min"]).mean, lo, EDGE_TOLERANCE)
        targets.check("cascade a = %g, described method, AlfaMax" % a,
                      Stat(r["alfa_max"]).mean, hi, EDGE_TOLERANCE)
    for h in TARGET_HURSTS:
        rows = hurst[h]
        name = "fGn H = %g, profile + rms (start, grid), h(2)" % h
        if options_ok:
            targets.check(name, Stat(rows["standard_fgn"]["h2"]).mean, h,
                          H2_TOLERANCE)
        else:
            targets.skip(name, "profile + rms (start, grid) " + NOT_AVAILABLE)
        if "peer_fgn" in rows:
            targets.check("fGn H = %g, peer MF-DFA, h(2)" % h,
                          Stat(rows["peer_fgn"]["h2"]).mean, h, H2_TOLERANCE)


def check_textbook_targets(targets, textbook):
    for (h, window), rows in sorted(textbook.items()):
        name = "fGn H = %g, window %d, standard preset = textbook" % (h,
                                                                     window)
        for what, value, limit in (("F_q(s), relative", rows["f_rel"],
                                    1e-10), ("h(q)", rows["h_abs"], 1e-9)):
            targets.rows.append((name + ", " + what,
                                 "PASS" if value <= limit else "FAIL",
                                 "%.1e, at most %.0e" % (value, limit)))


def check_null_targets(targets, nulls, quick=False):
    """The false-positive rate on fBm (IAAFT and phase surrogates) and the
    detection on the cascade (phase surrogates). The full run holds each
    share to its target. The quick run's 10 windows cannot tell a share of
    6% from one of 12% (one window is 10%): there a target fails only when
    the sample contradicts it, when the whole 95% Wilson interval lies on
    the wrong side of the limit. A broken null (every fBm window rejected,
    or no cascade window) still fails it."""
    for name, kinds in nulls.items():
        at_most = name.startswith("fBm")
        for kind in FALSE_POSITIVE_KINDS if at_most else DETECTION_KINDS:
            if kind not in kinds:
                continue
            p = kinds[kind]["width_p"]
            share = share_below(p)
            lo, hi = wilson_interval(share, p.size)
            detail = " (%d windows, 95%% interval %.3f to %.3f)" % (
                p.size, lo, hi)
            judged = share
            if quick:
                judged = lo if at_most else hi
                detail += ", judged by the interval's %s end" % (
                    "lower" if at_most else "upper")
            targets.bound("%s, %s N = %d, share of windows with width p < %g"
                          % (name, kind, NULL_COUNT, P_LEVEL), judged,
                          FALSE_POSITIVE_MAX if at_most else DETECTION_MIN,
                          at_most, detail)


# ---------------------------------------------------------------------------
# Markdown


def cell(rows, key, column, digits=3):
    if key not in rows:
        return NOT_AVAILABLE
    return Stat(rows[key][column]).text(digits)


def table(header, body):
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in body]
    return "\n".join(lines)


def cascade_table(cascade, alignment):
    body = []
    for a, rows in cascade.items():
        lo, hi = signals.cascade_alpha_edges(a)
        q_edges = signals.cascade_alpha(np.array([9.8, -9.8]), a)
        body.append(["%g" % a, "theory, q → ±∞", "%.3f" % lo, "%.3f" % hi,
                     "%.3f" % signals.cascade_alpha(0.0, a), "1"])
        body.append(["%g" % a, "theory, q = ±9.8", "%.3f" % q_edges[0],
                     "%.3f" % q_edges[1], "", ""])
        for label, key in (("described method (cumulative sum)",
                            "described"),
                           ("profile + rms (start, grid)", "standard")):
            r = rows[alignment]
            if key in r:
                body.append(["%g" % a, label] + [
                    Stat(r[key][c]).text() for c in
                    ("alfa_min", "alfa_max", "alfa_sz", "f_alfa_sz")])
            else:
                body.append(["%g" % a, label, NOT_AVAILABLE, "", "", ""])
        if "peer" in rows[alignment]:
            p = rows[alignment]["peer"]
            body.append(["%g" % a, "peer MF-DFA (profile + rms)"] + [
                Stat(p[c]).text() for c in
                ("alfa_min", "alfa_max", "alfa_sz", "f_alfa_sz")])
    return table(["a", "source", "AlfaMin", "AlfaMax", "AlfaSz", "F(AlfaSz)"],
                 body)


HURST_COLUMNS = (
    ("described, fBm", "described_fbm"),
    ("described, fGn (no profile)", "described_fgn"),
    ("range → rms only, fBm", "rms_fbm"),
    ("profile + rms (start, grid), fGn", "standard_fgn"),
    ("peer MF-DFA, fGn", "peer_fgn"),
)


def hurst_table(hurst, column, theory):
    body = []
    for h, rows in hurst.items():
        body.append(["%g" % h, theory(h)] +
                    [cell(rows, key, column) for _, key in HURST_COLUMNS])
    return table(["H", "theory"] + [label for label, _ in HURST_COLUMNS], body)


def width_table(widths):
    body = []
    for window, rows in widths.items():
        n = Stat(rows["described_fbm"]["alfa_width"]).n
        body.append(["%d" % window, "%d" % n,
                     cell(rows, "described_fbm", "alfa_width"),
                     cell(rows, "described_fbm", "h2"),
                     cell(rows, "standard_fgn", "alfa_width"),
                     cell(rows, "peer_fgn", "alfa_width")])
    return table(["window Lrec", "windows", "described width, fBm",
                  "described h(2), fBm", "profile + rms (start, grid) width, fGn",
                  "peer width, fGn"], body)


def width_exponent(widths, key):
    """beta of width ~ Lrec^-beta, least squares over the window lengths."""
    if any(key not in rows for rows in widths.values()):
        return None
    x = np.log(np.array(list(widths), dtype=float))
    y = np.log([Stat(rows[key]["alfa_width"]).mean
                for rows in widths.values()])
    return -np.polyfit(x, y, 1)[0]


def null_table(nulls):
    body = []
    for name, kinds in nulls.items():
        for kind, rows in kinds.items():
            share = share_below(rows["width_p"])
            lo, hi = wilson_interval(share, rows["width_p"].size)
            body.append([name, kind, "%d" % rows["width_p"].size,
                         "%.3f (%.3f–%.3f)" % (share, lo, hi),
                         "%.3f" % np.nanmedian(rows["alfa_width"]),
                         "%.3f" % np.nanmedian(rows["width_null_median"]),
                         "%.3f" % np.nanmedian(rows["width_null_p95"]),
                         "%.3f" % share_below(rows["alfa_sz_p"]),
                         "%.0f" % rows["seconds"]])
    return table(["signal", "surrogates", "windows",
                  "share width p < %g (95%% interval)" % P_LEVEL,
                  "observed width, median", "null median width, median",
                  "null 95th pct. width, median",
                  "share AlfaSz p < %g" % P_LEVEL, "seconds"], body)


def render_nulls(add, sizes, nulls):
    add("## Surrogate null levels\n")
    windows_per_fbm = sizes["null_series"] * (
        (sizes["null_len"] - NULL_WINDOW) // sizes["null_shift"] + 1)
    cascade_len = 2**sizes["null_cascade_levels"]
    windows_cascade = (cascade_len - NULL_WINDOW) // \
        sizes["null_cascade_shift"] + 1
    seconds = sum(rows["seconds"] for kinds in nulls.values()
                  for rows in kinds.values())
    add("Is a window's width more than its linear correlations and its "
        "distribution of increments give? For each window, %d surrogates of "
        "its increments are made, integrated again from the window's first "
        "value and analysed with the same settings (`docs/method.md`, "
        "section 6); the rank p-value of the width is (1 + #{surrogate width "
        ">= observed width}) / (N + 1). A window counts as a detection when "
        "p < %g, that is p <= 0.04 with N = %d: under an exact null "
        "(observed and surrogate widths exchangeable) 4%% of the windows "
        "do.\n" % (NULL_COUNT, P_LEVEL, NULL_COUNT))
    add("- Run through `mfwindow.analyse(x, surrogates=%d, surrogate=KIND, "
        "seed=S, threads=0)`: the described method, window %d, order %d, "
        "`min_scale` %d, the default moment orders and scales." % (
            NULL_COUNT, NULL_WINDOW, ORDER, MIN_SCALE))
    add("- fBm: the cumulative sum of exact fGn (the generator and seeds "
        "`[14, round(1000 H), r]` of the fGn tables), %d series of %d "
        "samples for each H, fed as values; shift %d (non-overlapping "
        "windows, independent for the share): %d windows per H. "
        "`seed` 15000000 + 1000 round(1000 H) + r." % (
            sizes["null_series"], sizes["null_len"], sizes["null_shift"],
            windows_per_fbm))
    add("- Cascade: the cumulative sum of the %d-value binomial cascade with "
        "a = %g, fed as values; shift %d, so that the windows meet the "
        "cascade's dyadic blocks at many offsets: %d windows, which overlap "
        "(their p-values are not independent, and the interval below is "
        "too narrow for them). `seed` %d." % (
            cascade_len, NULL_CASCADE_A, sizes["null_cascade_shift"],
            windows_cascade,
            null_seed(round(1000 * NULL_CASCADE_A) + 10_000, 0)))
    add("- Targets: at most %d%% of the fBm windows with width p < %g, with "
        "IAAFT and with phase surrogates; at least %d%% of the cascade's "
        "windows, with phase surrogates. IAAFT surrogates keep the "
        "distribution of the increments, and most of the cascade's width "
        "comes from that distribution (its shuffled surrogates alone keep "
        "a width of about 1.15 of the 1.6 observed): IAAFT tests for "
        "nonlinear structure beyond a distorted Gaussian process, and the "
        "cascade's increments are close to one, so IAAFT detects it in few "
        "windows. That share and the other kinds are stated as "
        "measured." % (
            round(100 * FALSE_POSITIVE_MAX), P_LEVEL,
            round(100 * DETECTION_MIN)))
    add("- Columns: the share of windows with p < %g and its 95%% Wilson "
        "interval; medians over the windows of the observed width, of the "
        "surrogates' median width (`width_null_median`) and of their 95th "
        "percentile (`width_null_p95`); the share with AlfaSz p < %g "
        "(two-sided, `alpha_sz_p`); the wall-clock seconds of the runs on "
        "this machine. All the surrogate runs together took %.0f s.\n"
        % (P_LEVEL, P_LEVEL, seconds))
    add(null_table(nulls) + "\n")
    add("`docs/method.md` (section 6) says what each kind keeps and how to "
        "read these shares.\n")


TEXTBOOK_SECTION = """## The standard preset against the textbook

`method="standard"` (order 2: segments of 16 to window div 4 samples, 40
log-spaced lengths, each distinct one fitted once; 21 orders from -5 to 5)
against the textbook MF-DFA of Kantelhardt et al. (2002), the peer given the
same lengths and orders, on fGn (%d series of 2^16 values per H, windows side
by side). Bias is the mean of h(2) - H over the windows, ± their standard
deviation (the scatter of one window's h(2), not of the mean). The last
column but two is the profile-and-rms variant on the described grid
(segments from the start only, 200 grid scales from 20 to window div 5). The
last two columns are the largest differences between the preset and the
textbook over every window, order and scale.
"""


CROSS_SECTION = """## Two series: DCCA, rho and the cross spectrum

`mfwindow.cross` against `validation/cross_peer.py`, a DCCA, rho_DCCA and
MF-DXA written from Podobnik and Stanley (2008), Zebende (2011) and Zhou
(2008) with plain loops: exact fGn pairs (window %d, order %d, the
standard preset's scales and orders), the same fGn twice, an independent
pair and y = %g x + sqrt(1 - %g^2) z (rho_DCCA %g at every scale).

The targets: every F within %.0e relative and rho, lambda, h(q) and the
summary within %.0e of the peer. F_q^xy at the negative orders, which
the segment with the smallest |cov| dominates, is held to that tolerance
times kappa, the largest condition number sum |r u| / |sum r u| of the
scale's segment covariances: a covariance far below the size of its
products is known only to kappa times the rounding, in any
implementation (the table gives the difference, then the difference
over kappa). rho is 1 for the same series twice; the mean rho of the
other pairs, over the scales up to %d and the non-overlapping windows,
lies within 3 standard errors of those windows' means of its value (at
the longest scales, with few segments, rho is a ratio of noisy
variances and scatters widely). Some segment covariance is negative in
almost every window of the pairs that are not the same series
(`negative_covariance`).
"""


def render(command, module, options_ok, sizes, checks, cascade, hurst,
           widths, min_scales, targets, nulls, textbook=None, statuses=None,
           cross=None):
    out = []
    add = out.append
    add("# Validation\n")
    add("Produced by `validation/validate.py`; do not edit by hand. "
        "`docs/method.md` explains the quantities and what the numbers mean "
        "for the choice of method, window and scales.\n")
    add("## How this file was made\n")
    add("```sh\n%s\n```\n" % command)
    add("- mfwindow module %s; method options (`profile`, `fluctuation`): "
        "%s. numpy %s." % (getattr(module, "__version__", "?"),
                           "present" if options_ok else
                           "absent, so the standard-mode columns read \"%s\""
                           % NOT_AVAILABLE, np.__version__))
    add("- Every program run: detrending order %d, `min_scale` %d, the "
        "default 200 moment orders and 200 scales (window div 5 at most). "
        "h(2) of the program comes from a run with the single moment order "
        "2 (`q=[2]`), the same scales." % (ORDER, MIN_SCALE))
    add("- fGn: exact, by circulant embedding (Davies and Harte 1987), unit "
        "variance; %d independent series of %d samples for each H, numpy's "
        "PCG64 seeded with the sequence `[14, round(1000 H), r]` for series "
        "r = 0, 1, ...; fBm is the cumulative sum of the same fGn. Window "
        "%d, shift %d (non-overlapping windows): %d windows per H." % (
            sizes["series_count"], sizes["series_len"], WINDOW, WINDOW,
            sizes["series_count"] * (sizes["series_len"] // WINDOW)))
    add("- Binomial cascade (Kantelhardt et al. 2002): %d values "
        "x_k = a^n(k-1) b^(%d-n(k-1)), deterministic. Window %d with shift "
        "%d (every offset against the cascade's dyadic blocks, %d windows) "
        "and with shift %d (aligned: each window is the 12-level cascade "
        "itself). The described method, which forms no profile, gets the "
        "cumulative sum of the cascade; the profile-and-rms runs and the peer get "
        "the values and form the profile themselves." % (
            2**sizes["cascade_levels"], sizes["cascade_levels"], WINDOW,
            CASCADE_SHIFT, (2**sizes["cascade_levels"] - WINDOW)
            // CASCADE_SHIFT + 1, WINDOW))
    if widths:
        add("- Width against window: H = 0.5, %d series of %d samples "
            "(seeds `[14, 500, 100 + r]`), non-overlapping windows." % (
                sizes["width_count"], sizes["width_len"]))
    add("- Peer: the standard MF-DFA of `validation/mfdfa_peer.py`, written "
        "from Kantelhardt et al. (2002): profile, segments from both ends, "
        "order-%d polynomial, variance of the residuals, q-th order means, "
        "q = 0 by the logarithmic mean, %d distinct integer scales spaced "
        "evenly in log s from %d to window div 5, q from -10 to 10 in steps "
        "of 0.1; alpha by central differences of tau, its range over all q; "
        "AlfaSz the alpha where f(alpha) = q alpha - tau is largest."
        % (ORDER, PEER_SCALE_COUNT, MIN_SCALE))
    add("- Values are the mean ± the standard deviation over windows (not "
        "the standard error: divide by the square root of the number of "
        "windows for that).\n")

    add("## Targets\n")
    add(table(["target", "status", "value"],
              [[n, s, d] for n, s, d in targets.rows]) + "\n")

    add("## Binomial cascade\n")
    add("Theory: tau(q) = -ln(a^q + b^q)/ln 2, h(q) = (tau(q) + 1)/q, "
        "alpha(q) = tau'(q), f = q alpha - tau. The alpha edges are the "
        "limits q → ±∞, -log2 max(a, b) and -log2 min(a, b); the program's "
        "moment orders end at ±10 and its outermost central differences sit "
        "at q = ±9.8, whose alpha is the second theory row. AlfaSz = "
        "alpha(0) = -log2(ab)/2 and F(AlfaSz) = 1. The profile-and-rms runs "
        "read their summary off alpha = tau'(q) over all the orders instead "
        "(numpy.gradient's differences, one-sided between the two outermost "
        "orders at each end), AlfaSz where q alpha - tau is largest, as "
        "standard MF-DFA does (docs/method.md, section 1.9).\n")
    add("Moving window, shift %d:\n" % CASCADE_SHIFT)
    add(cascade_table(cascade, "moving") + "\n")
    add("Aligned windows, shift %d:\n" % WINDOW)
    add(cascade_table(cascade, "aligned") + "\n")
    add("With fewer windows the mean edges move by a few hundredths, "
        "within the spread above: the same cascade with shift %d (%d "
        "windows), the described method:\n"
        % (OTHER_CASCADE_SHIFT, (2**sizes["cascade_levels"] - WINDOW)
           // OTHER_CASCADE_SHIFT + 1))
    body = []
    for a, rows in cascade.items():
        lo, hi = signals.cascade_alpha_edges(a)
        r = rows["other"]["described"]
        body.append(["%g" % a, "%s (%+.3f)" % (Stat(r["alfa_min"]).text(),
                                               Stat(r["alfa_min"]).mean - lo),
                     "%s (%+.3f)" % (Stat(r["alfa_max"]).text(),
                                     Stat(r["alfa_max"]).mean - hi)])
    add(table(["a", "AlfaMin (minus theory)", "AlfaMax (minus theory)"],
              body) + "\n")

    add("## fGn and fBm\n")
    add("For fGn of exponent H the standard MF-DFA gives h(q) = H for every "
        "q: AlfaSz = H, width 0, F(AlfaSz) = 1. The described method forms "
        "no profile, so it is fed the fBm (the cumulative sum of the fGn); "
        "inside a window, the fBm differs from the profile of the fGn by a "
        "constant and a straight line, which the detrending removes, so its "
        "values too should give H. Feeding it the fGn itself (second column) "
        "measures something else. \"range → rms only\" is the described "
        "method with `fluctuation=\"rms\"` on the fBm: the effect of the "
        "range alone.\n")
    add("The generated fGn, pooled over its series: variance (theory 1) and "
        "lag-1 autocorrelation (theory 2^(2H-1) - 1, averaged over the "
        "series):\n")
    add(table(["H", "variance", "lag-1 autocorrelation", "theory"],
              [["%g" % h, "%.4f" % rows["variance"], "%.4f" % rows["lag1"],
                "%.4f" % (2.0**(2 * h - 1) - 1)]
               for h, rows in hurst.items()]) + "\n")
    add("For H > 3/4 the standard error of such sample moments falls only as "
        "n^(2H-2), so a few series of strongly persistent noise scatter "
        "widely about the theory (H = 0.95 above); "
        "`tests/validation/test_signals_and_peer.py` checks the generator's "
        "autocovariance over 400 series instead.\n")
    add("h(2):\n")
    add(hurst_table(hurst, "h2", lambda h: "%g" % h) + "\n")
    add("AlfaSz:\n")
    add(hurst_table(hurst, "alfa_sz", lambda h: "%g" % h) + "\n")
    add("Width AlfaMax - AlfaMin (a monofractal has width 0):\n")
    add(hurst_table(hurst, "alfa_width", lambda h: "0") + "\n")
    add("F(AlfaSz):\n")
    add(hurst_table(hurst, "f_alfa_sz", lambda h: "1") + "\n")

    if widths:
        add("## Width of a monofractal against the window length\n")
        add("H = 0.5: the random walk for the described method, white noise "
            "for the profile-and-rms runs and the peer. The true width is 0.\n")
        add(width_table(widths) + "\n")
        for label, key in (("described method", "described_fbm"),
                           ("profile + rms (start, grid)", "standard_fgn"),
                           ("peer", "peer_fgn")):
            beta = width_exponent(widths, key)
            add("- %s: width ∝ Lrec^-β with β = %s (least squares over the "
                "window lengths)." % (label, NOT_AVAILABLE if beta is None
                                      else "%.2f" % beta))
        add("")

    if min_scales:
        add("## The described method against the smallest scale\n")
        add("fBm, window %d, the series of the fGn/fBm tables; h(2) and "
            "width for each `min_scale` (the largest scale stays window div "
            "5):\n" % WINDOW)
        body = []
        for h, rows in min_scales.items():
            body.append(["%g" % h] + [
                "%s / %s" % (Stat(rows[m]["h2"]).text(),
                             Stat(rows[m]["alfa_width"]).text())
                for m in MIN_SCALES])
        add(table(["H"] + ["min_scale %d: h(2) / width" % m
                           for m in MIN_SCALES], body) + "\n")

    if textbook:
        add(TEXTBOOK_SECTION % sizes["series_count"])
        add(textbook_table(textbook) + "\n")

    if cross:
        add(CROSS_SECTION % (CROSS_WINDOW, ORDER, CROSS_R, CROSS_R, CROSS_R,
                             CROSS_AGREEMENT, CROSS_AGREEMENT,
                             CROSS_RHO_SCALE))
        add(cross_table(cross) + "\n")

    if nulls:
        render_nulls(add, sizes, nulls)

    if statuses:
        add(STATUS_SECTION % (MRW_INTEGRAL_SCALE, sizes["series_len"], ORDER,
                              MIN_SCALE))
        add(status_table(statuses) + "\n")

    add("## Checks of the theory and of the generators\n")
    add(table(["check", "value", "tolerance"],
              [[d, "%.2e" % v, "%.0e" % t] for d, v, t in checks]) + "\n")
    return "\n".join(out)


# ---------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="a small run that checks the targets and "
                        "writes nothing")
    parser.add_argument("--out", help="Markdown file the full run writes "
                        "(docs/validation.md)")
    parser.add_argument("--part", choices=("all", "spectra", "null",
                                           "textbook", "statuses",
                                           "cross"),
                        default="all", help="with --quick: only the "
                        "spectra's targets or only the surrogate null "
                        "levels'")
    args = parser.parse_args()
    if args.quick and args.out:
        parser.error("--quick writes nothing; --out is for the full run")
    if args.part == "statuses":
        # The window statuses on the references alone: their section on
        # standard output, nothing written.
        sizes = QUICK if args.quick else FULL
        print(STATUS_SECTION % (MRW_INTEGRAL_SCALE, sizes["series_len"],
                                ORDER, MIN_SCALE))
        print(status_table(status_rows(import_module(), sizes)))
        return 0
    if args.part == "cross":
        # The pair analysis against its peer alone: its table on standard
        # output, nothing written.
        rows = cross_rows(import_module(), *CROSS_SIZES[
            "quick" if args.quick else "full"])
        print(cross_table(rows))
        targets = Targets()
        check_cross_targets(targets, rows)
        for name, status, detail in targets.rows:
            print("  %-7s %s: %s" % (status, name, detail))
        return 1 if targets.failed() else 0
    if args.part not in ("all", "textbook") and not args.quick:
        parser.error("--part is for --quick; the full run writes every part")
    if args.part == "textbook":
        # The standard preset against the textbook alone: its table on
        # standard output, nothing written.
        module = import_module()
        sizes = QUICK if args.quick else FULL
        textbook = {(h, window): textbook_rows(
            module, h, window, sizes["series_len"],
            1 if args.quick else sizes["series_count"])
            for h in TARGET_HURSTS for window in TEXTBOOK_WINDOWS}
        print(textbook_table(textbook))
        targets = Targets()
        check_textbook_targets(targets, textbook)
        for name, status, detail in targets.rows:
            print("  %-7s %s: %s" % (status, name, detail))
        return 1 if targets.failed() else 0
    spectra = args.part in ("all", "spectra")
    started = time.time()
    module = import_module()
    nulls_wanted = args.part in ("all", "null")
    options_ok = spectra and has_method_options(module)
    sizes = QUICK if args.quick else FULL
    out_path = None if args.quick else (
        args.out or os.path.join(ROOT, "docs", "validation.md"))

    def say(text):
        print("validate.py: %s (%.1f s)" % (text, time.time() - started),
              flush=True)

    checks, cascade, hurst, widths, min_scales = [], {}, {}, {}, {}
    cross = []
    textbook = {}
    if spectra:
        say("mfwindow %s, method options %s" % (
            getattr(module, "__version__", "?"),
            "present" if options_ok else "absent: profile + rms " +
            NOT_AVAILABLE))

        checks = theory_checks()
        say("theory checks done")

        cascade = {}
        for a in CASCADE_AS:
            values = signals.binomial_cascade(sizes["cascade_levels"], a)
            cascade[a] = {"moving": cascade_rows(module, options_ok,
                                                 sizes["cascade_levels"], a,
                                                 CASCADE_SHIFT),
                          "aligned": cascade_rows(module, options_ok,
                                                  sizes["cascade_levels"], a,
                                                  WINDOW)}
            if not args.quick:
                cascade[a]["other"] = cascade_rows(module, False,
                                                   sizes["cascade_levels"], a,
                                                   OTHER_CASCADE_SHIFT)
            if not args.quick:
                for alignment, shift in (("moving", CASCADE_SHIFT),
                                         ("aligned", WINDOW)):
                    scales = mfdfa_peer.log_scales(MIN_SCALE, WINDOW // 5,
                                                   PEER_SCALE_COUNT)
                    cascade[a][alignment]["peer"] = mfdfa_peer.mfdfa_windows(
                        values, WINDOW, shift, scales, PEER_Q, ORDER)
            say("cascade a = %g done" % a)

        hurst = {}
        for h in (TARGET_HURSTS if args.quick else HURSTS):
            hurst[h] = hurst_rows(module, options_ok, h, sizes["series_len"],
                                  sizes["series_count"], args.quick)
            say("fGn/fBm H = %g done" % h)

        widths = {}
        if not args.quick:
            for window in WIDTH_WINDOWS:
                widths[window] = width_rows(module, options_ok, window,
                                            sizes["width_len"],
                                            sizes["width_count"])
                say("width for window %d done" % window)

        textbook = {}
        if options_ok:
            for h in TARGET_HURSTS:
                for window in TEXTBOOK_WINDOWS:
                    textbook[h, window] = textbook_rows(
                        module, h, window, sizes["series_len"],
                        1 if args.quick else sizes["series_count"])
            say("standard preset against the textbook done")

        cross = []
        if options_ok:
            cross = cross_rows(module, *CROSS_SIZES[
                "quick" if args.quick else "full"])
            say("pairs against the cross peer done")

        min_scales = {}
        if not args.quick:
            for h in MIN_SCALE_HURSTS:
                min_scales[h] = min_scale_rows(module, h, sizes["series_len"],
                                               sizes["series_count"])
            say("minimum scales done")

    nulls = {}
    if nulls_wanted:
        nulls = null_rows(module, sizes)
        say("surrogate null levels done")

    targets = Targets()
    for description, value, tolerance in checks:
        if not value <= tolerance:
            targets.rows.append(("theory check: " + description, "FAIL",
                                 "%.2e > %.0e" % (value, tolerance)))
    if spectra:
        check_targets(targets, options_ok, cascade, hurst)
        check_textbook_targets(targets, textbook)
        check_cross_targets(targets, cross)
    check_null_targets(targets, nulls, args.quick)

    if out_path:
        command = "PYTHONPATH=build/python /usr/bin/python3 " \
                  "validation/validate.py" + (" --out " + args.out
                                              if args.out else "")
        statuses = status_rows(module, sizes)
        text = render(command, module, options_ok, sizes, checks, cascade,
                      hurst, widths, min_scales, targets, nulls, textbook,
                      statuses, cross)
        with open(out_path, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
        say("wrote " + out_path)

    for name, status, detail in targets.rows:
        print("  %-7s %s: %s" % (status, name, detail))
    skipped = [r for r in targets.rows if r[1] == "SKIPPED"]
    if skipped:
        print("validate.py: %d target(s) SKIPPED because this build of the "
              "module lacks the `profile`/`fluctuation` options" %
              len(skipped))
    failed = targets.failed()
    if failed:
        print("validate.py: FAILED: %d target(s) missed: %s" % (
            len(failed), "; ".join(r[0] for r in failed)), file=sys.stderr)
        return 1
    passed = sum(1 for r in targets.rows if r[1] == "PASS")
    say("all %d checked target(s) met" % passed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
