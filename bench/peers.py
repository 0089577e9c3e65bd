#!/usr/bin/env python3
"""The open MF-DFA libraries a user would pick instead of mfwindow, run on
the same windows, moment orders and scales as mfwindow's standard MF-DFA:
time per window of each, and how far each one's F_q(s) lies from
mfwindow's.

    pip install "mfwindow[bench]"      # MFDFA, fathon, nolds
    python bench/peers.py [--length N] [--window L] [--shift S] ...

mfwindow runs first, on the whole series with one thread (method="standard"
when the installed mfwindow has that preset, else profile=True,
fluctuation="rms", the same method by its parts but with segments from the
window's start only; the line "mfwindow:" says which), keeping F_q(s) of
every window (fq=True). Each peer then gets each window by itself, with
mfwindow's q grid and its scales (the distinct segment lengths), and its
F_q(s) is compared entry by entry, where it cuts the same segments:

  MFDFA   (Rydin Gorjao et al.) profile of the mean-removed series,
          polynomial fit, segments from both ends, q-th order mean. It
          leaves q = 0 out (|q| <= 0.1).
  fathon  (Bianchi) the same, q = 0 by the logarithmic mean; revSeg
          follows mfwindow's segments.
  nolds   (Schoelzel) DFA: q = 2 only, segments from the start only.

Where a peer's segments are not mfwindow's, only the scales that divide the
window (where the two sets of segments are the same) are compared. Every
compared entry must lie within 1e-10 relative; the exit status is 1 if one
does not.

A peer that does not import is reported and skipped. Time is the wall
clock per window (best of --repeat runs); mfwindow's includes settling the
arguments and everything analyse() does for the whole series, divided by
the number of windows.
"""

from __future__ import annotations

import argparse
import os
import platform
import sys
import time
from typing import Callable, Dict, List, Optional, Sequence, Tuple

import numpy as np

import mfwindow

# The tolerance for a peer that implements the same method.
SAME_METHOD_TOLERANCE = 1e-10


def processor() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def best_time(run: Callable[[], object], repeat: int) -> Tuple[float, object]:
    best, result = float("inf"), None
    for _ in range(repeat):
        start = time.perf_counter()
        result = run()
        best = min(best, time.perf_counter() - start)
    return best, result


def run_mfwindow(x: np.ndarray, args: argparse.Namespace,
                 q: Sequence[float]) -> Tuple[str, bool,
                                              Callable[[], object]]:
    """The standard MF-DFA as the installed mfwindow takes it, whether its
    segments come from both ends, and a call that runs it."""
    common = dict(window=args.window, shift=args.shift, order=args.order,
                  scale_count=args.scale_count, q=list(q), fq=True,
                  threads=1)
    if args.min_scale is not None:
        common["min_scale"] = args.min_scale
    try:
        mfwindow.analyse(x[:args.window], method="standard", **common)
        chosen: Dict[str, object] = dict(method="standard")
        label, both_ends = 'method="standard"', True
    except (TypeError, ValueError):
        # The same method by its parts, but for the segments: these come
        # from the window's start only.
        chosen = dict(profile=True, fluctuation="rms")
        label = 'profile=True, fluctuation="rms" (segments from the start)'
        both_ends = False
    return label, both_ends, lambda: mfwindow.analyse(x, **common, **chosen)


def same_segments(values: np.ndarray, scales: np.ndarray, window: int,
                  peer_both_ends: bool, both_ends: bool) -> np.ndarray:
    """values where the peer cuts the same segments as mfwindow: at every
    scale when both take them from the same ends, else at the scales that
    divide the window (the two sets of segments are then equal); NaN, not
    compared, elsewhere."""
    if peer_both_ends != both_ends:
        values[:, window % scales != 0] = np.nan
    return values


def peer_mfdfa(window: np.ndarray, scales: np.ndarray, q: np.ndarray,
               order: int, both_ends: bool) -> np.ndarray:
    from MFDFA import MFDFA
    kept = np.abs(q) > 0.1
    lags, f = MFDFA(window, lag=scales, order=order, q=q[kept])
    out = np.full((q.size, scales.size), np.nan)
    out[np.ix_(kept, np.isin(scales, lags))] = f.T
    return same_segments(out, scales, window.size, True, both_ends)


def peer_fathon(window: np.ndarray, scales: np.ndarray, q: np.ndarray,
                order: int, both_ends: bool) -> np.ndarray:
    import fathon
    from fathon import fathonUtils
    analysis = fathon.MFDFA(fathonUtils.toAggregated(window))
    _, f = analysis.computeFlucVec(scales.astype(np.int64), qList=q,
                                   polOrd=order, revSeg=both_ends)
    return np.array(f, dtype=np.float64)


def peer_nolds(window: np.ndarray, scales: np.ndarray, q: np.ndarray,
               order: int, both_ends: bool) -> np.ndarray:
    import nolds
    out = np.full((q.size, scales.size), np.nan)
    if 2.0 in q:
        # debug_data gives the logarithms of the scales and of F_2(s).
        _, (log_n, log_f, _) = nolds.dfa(window, nvals=list(scales),
                                         overlap=False, order=order,
                                         fit_trend="poly", fit_exp="poly",
                                         debug_data=True)
        columns = np.isin(scales, np.rint(np.exp(log_n)))
        out[list(q).index(2.0), columns] = np.exp(log_f)
    return same_segments(out, scales, window.size, False, both_ends)


# Each peer on one window: the standard method, q = 2 only for nolds.
PEERS: Dict[str, Callable[..., np.ndarray]] = {
    "MFDFA": peer_mfdfa,
    "fathon": peer_fathon,
    "nolds": peer_nolds,
}


def largest_relative_difference(peer: np.ndarray,
                                ours: np.ndarray) -> Tuple[float, int]:
    """The largest |peer - ours| / |ours| over the entries the peer gives,
    and how many it gives."""
    given = np.isfinite(peer)
    if not given.any():
        return float("nan"), 0
    difference = np.abs(peer[given] - ours[given]) / np.abs(ours[given])
    return float(difference.max()), int(given.sum())


def singspect_width(x: np.ndarray, args: argparse.Namespace) -> None:
    """mfwindow's alpha_width (method="standard") against max alpha - min
    alpha of MFDFA's singspect.singularity_spectrum on the same F_q(s),
    every scale in the fit (lim=[None, None]), and h(2) against the slope
    of MFDFA's own F_2(s). singspect leaves |q| <= 0.1 out and takes
    alpha = gradient(tau) / gradient(q), so the orders are an even grid
    without 0 (-4.75 to 4.75 by 0.5), where the two differences agree; on a
    grid holding 0 its gap of 1 at q = 0 changes alpha beside it."""
    try:
        from MFDFA import MFDFA, singspect
    except ImportError as error:
        print("singspect: not run: %s" % error)
        return
    q = np.arange(-4.75, 4.76, 0.5)
    common = dict(window=args.window, shift=args.shift, order=args.order,
                  method="standard")
    grid = mfwindow.analyse(x, q=q.tolist(), fq=True, **common)
    default = mfwindow.analyse(x, spectrum=True, **common)
    scales, first = np.unique(np.asarray(grid.scales), return_index=True)
    two = int(np.flatnonzero(np.asarray(default.q) == 2.0)[0])
    width, h2 = 0.0, 0.0
    for k in range(grid.n_windows):
        alpha, _ = singspect.singularity_spectrum(
            scales, grid.fq[k][:, first].T, q, lim=[None, None])
        width = max(width, abs(alpha.max() - alpha.min()
                               - grid.alpha_width[k]))
        window = x[k * args.shift:k * args.shift + args.window]
        lags, f = MFDFA(window, lag=scales, order=args.order,
                        q=np.array([2.0]))
        slope = np.polyfit(np.log(lags), np.log(f[:, 0]), 1)[0]
        h2 = max(h2, abs(slope - default.h[k, two]))
    print("singspect: %d windows; largest |width - singspect's| %.3g, "
          "largest |h(2) - MFDFA's| %.3g" % (grid.n_windows, width, h2))


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--length", type=int, default=20000,
                        help="samples of the series (default 20000)")
    parser.add_argument("--window", type=int, default=1000)
    parser.add_argument("--shift", type=int, default=250)
    parser.add_argument("--order", type=int, default=2)
    parser.add_argument("--min-scale", type=int, default=None,
                        help="shortest segment (default: the method's)")
    parser.add_argument("--scale-count", type=int, default=20)
    parser.add_argument("--q", default="-5,-3,-2,-1,0,1,2,3,5",
                        help="moment orders, ascending (default "
                             "-5,-3,-2,-1,0,1,2,3,5)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--peers", default=",".join(PEERS))
    args = parser.parse_args(argv)

    q = np.array([float(v) for v in args.q.split(",")])
    # Heavy-tailed increments: the noise the standard method integrates.
    x = np.random.default_rng(args.seed).standard_t(3, size=args.length)

    print("processor: %s (%d cores), Python %s, numpy %s, mfwindow %s"
          % (processor(), os.cpu_count() or 0, platform.python_version(),
             np.__version__, mfwindow.__version__))
    label, both_ends, run = run_mfwindow(x, args, q)
    seconds, result = best_time(run, args.repeat)
    fq = np.asarray(result.fq)
    count = fq.shape[0]
    scales, first = np.unique(np.asarray(result.scales), return_index=True)
    fq = fq[:, :, first]
    ours_per_window = seconds / count
    print("mfwindow: %s; %d windows of %d (shift %d), order %d, q %s, "
          "%d scales %d..%d" % (label, count, args.window, args.shift,
                                args.order, args.q, scales.size, scales[0],
                                scales[-1]))
    print("%-9s %14s %10s %16s  %s" % ("library", "ms per window",
                                       "vs mfwindow", "max rel diff F_q",
                                       "entries compared"))
    print("%-9s %14.3f %10s %16s  %s" % ("mfwindow", 1e3 * ours_per_window,
                                         "1.0x", "-", "-"))
    windows = [x[k * args.shift:k * args.shift + args.window]
               for k in range(count)]
    failed = False
    for name in args.peers.split(","):
        compute = PEERS[name]
        try:
            seconds, values = best_time(
                lambda: [compute(w, scales, q, args.order, both_ends)
                         for w in windows], args.repeat)
        except Exception as error:  # a peer that fails is reported
            print("%-9s not run: %s: %s" % (name, type(error).__name__,
                                            error))
            continue
        worst, compared = largest_relative_difference(np.stack(values), fq)
        note = ""
        if not worst <= SAME_METHOD_TOLERANCE:
            note = " (above %g)" % SAME_METHOD_TOLERANCE
            failed = True
        print("%-9s %14.3f %9.1fx %16.3g  %d%s"
              % (name, 1e3 * seconds / count,
                 seconds / count / ours_per_window, worst, compared, note))
    if "MFDFA" in args.peers.split(","):
        singspect_width(x, args)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
