"""mfwindow-plot: pictures of result files, one per file, drawn by
mfwindow.plot.

  mfwindow-plot [--out DIR | --output FILE] [--format png|pdf|svg]
                [--dpi N] [--kind KIND] [--windows LIST] [--hide-flagged]
                [--fit-min S] [--fit-max S] FILE...

Reads the program's F(Alfa)_<name>.dat and mfwindow-batch's CSV (kind
summary: the alpha band, the width and f(alpha_0) against time, flagged
windows apart), its spectrum CSV (kind spectrum: h(q), tau(q) and f(alpha)
of the windows of --windows, counted from 1 as in the file, or of up to
five spread over the series; or kind spectrogram: f(alpha) of every window
as a heat map) and its F_q(s) CSV (kind fluctuation: log F_q(s) against
log s of the first window of --windows, or window 1, with the lines fitted
over --fit-min .. --fit-max, as the run had them, and their residuals).
--kind defaults to the one the file's format gives: summary, spectrum or
fluctuation. Each picture goes beside its input (or
into --out DIR), named after it with the suffix of the format; --output
names the one picture of a single input, its suffix giving the format
unless --format does. Summary pictures are 10 x 8 inches, spectrum
pictures 13 x 4.5, fluctuation 10 x 7 and spectrogram 10 x 5, so --dpi N
gives 10N pixels across a summary (PNG). The series name is the title,
also stored in the file's metadata.

Prints the path of each picture written. Exit status 0 when every file was
plotted, 1 when some could not be (unreadable, not of the formats, no
windows, a kind the file cannot give; each is named on standard error), 2
on a usage error.
"""

from __future__ import annotations

import argparse
import importlib.util
import os
import sys
from typing import List, Optional, Sequence

FORMATS = ("png", "pdf", "svg")
KINDS = ("summary", "fluctuation", "spectrum", "spectrogram")
INPUT_SUFFIXES = (".dat", ".csv")


def output_path(path: str, out_dir: Optional[str], fmt: str) -> str:
    """The input's name with .dat or .csv replaced by the format's suffix
    (appended otherwise), in `out_dir` or else beside the input."""
    base = os.path.basename(path)
    stem, ext = os.path.splitext(base)
    if ext not in INPUT_SUFFIXES:
        stem = base
    folder = out_dir if out_dir is not None else os.path.dirname(path)
    return os.path.join(folder, stem + "." + fmt)


def _windows(text: str) -> List[int]:
    try:
        numbers = [int(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError(
            "expected window numbers like 1,5,9, got %r" % text) from None
    if any(n < 1 for n in numbers):
        raise argparse.ArgumentTypeError("windows count from 1")
    return numbers


def _metadata(fmt: str, title: str) -> dict:
    if fmt == "png":
        return {"Title": title, "Software": "mfwindow-plot"}
    if fmt == "pdf":
        return {"Title": title, "Creator": "mfwindow-plot"}
    # No date in the SVG, so that the same input gives the same file.
    return {"Title": title, "Creator": "mfwindow-plot", "Date": None}


def _kind_of(result) -> str:
    if "fq" in result:
        return "fluctuation"
    return "spectrum" if result.has_spectrum else "summary"


def draw(path: str, out: str, fmt: str, dpi: int,
         windows: Optional[List[int]], kind: Optional[str] = None,
         hide_flagged: bool = False,
         fit_range: Optional[tuple] = None) -> None:
    """Reads one result file and writes its picture of `kind` (None: the
    file's own) to `out`. Raises ValueError (with the reason) for a file
    that cannot be plotted so."""
    import matplotlib.pyplot as plt

    from . import plot
    from ._files import read_result

    result = read_result(path)
    if result.n_windows == 0:
        raise ValueError("no windows in this file, nothing to plot (was the "
                         "series shorter than the window?)")
    own = _kind_of(result)
    kind = kind or own
    needs = {"summary": "summary", "fluctuation": "fluctuation",
             "spectrum": "spectrum", "spectrogram": "spectrum"}[kind]
    if needs != own:
        source = {"summary": "the result file (.dat or batch .csv)",
                  "fluctuation": "the F_q(s) CSV (mfwindow-batch --fq)",
                  "spectrum": "the spectrum CSV (mfwindow-batch "
                              "--spectrum)"}[needs]
        raise ValueError("--kind %s needs %s" % (kind, source))
    chosen = None
    if windows is not None:
        if kind in ("summary", "spectrogram"):
            raise ValueError("--windows needs the spectrum CSV "
                             "(mfwindow-batch --spectrum) or the F_q(s) CSV "
                             "(--fq)")
        for n in windows:
            if n > result.n_windows:
                raise ValueError("no window %d: the file has %d"
                                 % (n, result.n_windows))
        chosen = [n - 1 for n in windows]
    if kind == "summary":
        fig = plot.summary(result,
                           flagged="hide" if hide_flagged else "show")
    elif kind == "fluctuation":
        fig = plot.fluctuation(result, window=chosen[0] if chosen else 0,
                               fit_range=fit_range)
    elif kind == "spectrum":
        fig = plot.spectrum(result, windows=chosen)
    else:
        fig = plot.spectrogram(result)
    try:
        # No bbox_inches="tight": the size stays the figure's size * dpi.
        fig.savefig(out, dpi=dpi, format=fmt,
                    metadata=_metadata(fmt, result.name or ""))
    finally:
        plt.close(fig)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="mfwindow-plot",
        description="Plot mfwindow result files (.dat, batch .csv or "
                    ".spectrum.csv), one picture per file.")
    parser.add_argument("files", nargs="+", metavar="FILE")
    place = parser.add_mutually_exclusive_group()
    place.add_argument("--out", metavar="DIR",
                       help="write the pictures here (default: beside each "
                            "input)")
    place.add_argument("--output", metavar="FILE",
                       help="the picture of a single input; its suffix "
                            "(.png, .pdf, .svg) gives the format")
    parser.add_argument("--format", choices=FORMATS,
                        help="picture format (default: png, or the suffix "
                             "of --output)")
    parser.add_argument("--dpi", type=int, default=100, metavar="N",
                        help="pixels per inch (default 100)")
    parser.add_argument("--kind", choices=KINDS,
                        help="the picture (default: summary, spectrum or "
                             "fluctuation, as the file's format gives)")
    parser.add_argument("--windows", type=_windows, metavar="LIST",
                        help="spectrum or F_q(s) CSV: the windows to draw, "
                             "counted from 1 as in the file, e.g. 1,5,9 "
                             "(fluctuation: the first)")
    parser.add_argument("--hide-flagged", action="store_true",
                        help="summary: leave the windows whose status is "
                             "not ok out of the picture (the legend still "
                             "counts them)")
    parser.add_argument("--fit-min", type=int, metavar="S",
                        help="fluctuation: the shortest segment length the "
                             "lines fit, as the run's --fit-min (the F_q(s) "
                             "CSV does not record it)")
    parser.add_argument("--fit-max", type=int, metavar="S",
                        help="fluctuation: the longest, as --fit-max")
    args = parser.parse_args(argv)
    if args.dpi <= 0:
        parser.error("--dpi must be positive")
    fmt = args.format
    if args.output is not None:
        if len(args.files) != 1:
            parser.error("--output names the picture of one input; give "
                         "--out DIR for several")
        suffix = os.path.splitext(args.output)[1].lower().lstrip(".")
        if fmt is None:
            if suffix not in FORMATS:
                parser.error("cannot tell the format from %r; give --format "
                             "or a suffix .png, .pdf or .svg" % args.output)
            fmt = suffix
        elif suffix != fmt:
            parser.error("--output %s does not end in .%s"
                         % (args.output, fmt))
    fmt = fmt or "png"
    fit_range = (None if args.fit_min is None and args.fit_max is None
                 else (args.fit_min, args.fit_max))
    missing = [name for name in ("numpy", "matplotlib")
               if importlib.util.find_spec(name) is None]
    if missing:
        print('mfwindow-plot: needs %s: pip install "mfwindow[plot]" '
              "(Debian: python3-numpy python3-matplotlib)"
              % " and ".join(missing), file=sys.stderr)
        return 2
    import matplotlib
    matplotlib.use("Agg")

    outputs = []
    targets = {}
    for path in args.files:
        out = (args.output if args.output is not None
               else output_path(path, args.out, fmt))
        key = os.path.abspath(out)
        if key in targets:
            parser.error("%s and %s would both be plotted to %s"
                         % (targets[key], path, out))
        targets[key] = path
        outputs.append(out)
    if args.out is not None:
        os.makedirs(args.out, exist_ok=True)

    status = 0
    for path, out in zip(args.files, outputs):
        try:
            draw(path, out, fmt, args.dpi, args.windows, args.kind,
                 args.hide_flagged, fit_range)
        except (OSError, ValueError, UnicodeDecodeError) as e:
            print("mfwindow-plot: %s: %s" % (path, e), file=sys.stderr)
            status = 1
            continue
        print(out)
    return status


if __name__ == "__main__":
    sys.exit(main())
