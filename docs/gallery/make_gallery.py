#!/usr/bin/python3
"""Draws the figures of docs/gallery/ from recordings that Debian's
packages ship (scipy's ECG excerpt, matplotlib's sample stock table, also
as a pair, and membrane recording) and from synthetic references (fractional Gaussian
noise, a binomial cascade, a multifractal random walk), and writes
manifest.json beside them.

  make_gallery.py [--out DIR]      draw into DIR (default: this folder)
  make_gallery.py --check DIR      draw into a scratch folder and compare
                                   with DIR; exit status 1 when they differ

The manifest records, per figure, the SHA-256 of its input samples, the
settings, the result's arrays, the data the figure draws (every line,
patch and text) and of the PNG itself, with the versions of numpy,
matplotlib and FreeType that drew it. --check compares everything but the
PNG's hash always, and the PNG's hash too when the versions are those of
the manifest: rasterised glyphs may differ between FreeType builds while
the data drawn cannot. Needs the mfwindow package (PYTHONPATH=build/python
after `make build`), python3-matplotlib and python3-scipy; reads no network.
"""

import argparse
import hashlib
import importlib.util
import json
import os
import shutil
import sys
import tempfile
import warnings


def _same_arithmetic_on_every_processor():
    """numpy computes exp, log, log10 and power of doubles with its own
    AVX-512 code where the processor has it, and with libm elsewhere; the
    two round differently, so the same script would draw other data on
    other machines. Turned off before numpy loads, the figures are the
    same data on every x86-64 processor."""
    if "NPY_DISABLE_CPU_FEATURES" in os.environ:
        return
    try:
        with open("/proc/cpuinfo", encoding="ascii", errors="replace") as f:
            flags = next((line.split() for line in f
                          if line.startswith("flags")), [])
    except OSError:
        return
    if "avx512f" in flags:
        os.environ["NPY_DISABLE_CPU_FEATURES"] = (
            "AVX512F AVX512CD AVX512_SKX AVX512_CLX AVX512_CNL AVX512_ICL")
        # numpy warns of the ones this processor lacks; that is harmless.
        warnings.filterwarnings("ignore", category=RuntimeWarning,
                                message="During parsing environment")


_same_arithmetic_on_every_processor()

import numpy as np  # noqa: E402

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import mfwindow  # noqa: E402
import mfwindow.plot  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DPI = 100
# Fixed, so that the same figure gives the same bytes.
PNG_METADATA = {"Software": "mfwindow docs/gallery/make_gallery.py"}


def _debian_file(package, path):
    if not os.path.isfile(path):
        sys.exit("make_gallery.py: %s is missing; install the Debian package "
                 "%s" % (path, package))
    return path


def ecg():
    """scipy's ECG excerpt: 5 minutes at 360 Hz, in mV (the ADC's zero
    1024 and gain 200 per mV, as scipy.datasets.electrocardiogram
    converts it)."""
    found = importlib.util.find_spec("scipy")
    if found is None or found.origin is None:
        sys.exit("make_gallery.py: needs python3-scipy for its ECG excerpt")
    path = _debian_file("python3-scipy", os.path.join(
        os.path.dirname(found.origin), "misc", "ecg.dat"))
    with np.load(path) as data:
        return (data["ecg"].astype(np.float64) - 1024.0) / 200.0


def sample_data(name):
    return _debian_file("python3-matplotlib (python-matplotlib-data)",
                        os.path.join(matplotlib.get_data_path(),
                                     "sample_data", name))


def gaussian(acov, rng):
    """A stationary Gaussian series with autocovariance `acov` (lags 0 ..
    n-1) by circulant embedding (Davies and Harte 1987)."""
    n = acov.size
    row = np.concatenate([acov, acov[-2:0:-1]])
    eigen = np.fft.rfft(row).real
    eigen = np.clip(eigen, 0.0, None)  # rounding below zero only
    m = row.size
    noise = (rng.standard_normal(m // 2 + 1)
             + 1j * rng.standard_normal(m // 2 + 1))
    noise[0] = noise[0].real * np.sqrt(2.0)
    noise[-1] = noise[-1].real * np.sqrt(2.0)
    return np.fft.irfft(noise * np.sqrt(eigen / 2.0), m)[:n] * np.sqrt(m)


def fgn(n, hurst, seed):
    k = np.arange(n, dtype=np.float64)
    acov = 0.5 * (np.abs(k + 1) ** (2 * hurst) - 2 * k ** (2 * hurst)
                  + np.abs(k - 1) ** (2 * hurst))
    return gaussian(acov, np.random.default_rng(seed))


def binomial_cascade(levels, p):
    """The deterministic binomial measure: each interval passes p of its
    mass to its left half and 1 - p to its right."""
    mass = np.ones(1)
    for _ in range(levels):
        mass = np.column_stack([mass * p, mass * (1.0 - p)]).ravel()
    return mass


def mrw(n, lam2, seed):
    """Increments of a multifractal random walk (Bacry, Delour and Muzy
    2001): white noise times exp(omega), omega Gaussian with covariance
    lam2 ln(n / (|lag| + 1))."""
    rng = np.random.default_rng(seed)
    k = np.arange(n, dtype=np.float64)
    omega = gaussian(lam2 * np.log(n / (k + 1.0)), rng)
    return rng.standard_normal(n) * np.exp(omega - lam2 * np.log(n))


def _digest(*parts):
    h = hashlib.sha256()
    for part in parts:
        if isinstance(part, np.ndarray):
            if part.dtype.kind in "US":
                part = "\n".join(str(v) for v in part.ravel()).encode()
            else:
                part = np.ascontiguousarray(part, dtype=np.float64).tobytes()
        elif isinstance(part, str):
            part = part.encode()
        h.update(part)
    return h.hexdigest()


def result_digest(result):
    return _digest(*[v for k in sorted(result) for v in
                     (k, np.asarray(result[k]))])


def figure_digest(fig):
    """The data a figure draws: every line's points, every patch and
    collection's paths, every text, in drawing order."""
    parts = []
    for a in fig.axes:
        for line in a.get_lines():
            parts += [np.asarray(line.get_xydata(), dtype=np.float64)]
        for coll in a.collections:
            parts += [p.vertices for p in coll.get_paths()]
            if hasattr(coll, "get_array") and coll.get_array() is not None:
                parts.append(np.ma.filled(coll.get_array().astype(np.float64),
                                          np.nan))
        for patch in a.patches:
            parts.append(patch.get_path().vertices)
        legend = a.get_legend()
        texts = [a.get_title(), a.get_title(loc="left"), a.get_xlabel(),
                 a.get_ylabel()] + ([t.get_text() for t in legend.get_texts()]
                                    if legend else [])
        parts += texts + [str(a.get_xlim()), str(a.get_ylim())]
    parts += [t.get_text() for t in fig.texts]
    return _digest(*parts)


def figures():
    """(name, input samples, settings, drawing function) of each figure."""
    x = ecg()
    # A 5 s dropout in which the recorder held its last value, put in on
    # purpose so that the figure shows how a held stretch is flagged.
    held = x.copy()
    held[120 * 360:125 * 360] = held[120 * 360 - 1]
    # The figures show the mfwindow program's own method, as they did
    # before Python's default became the textbook one.
    described = dict(method="described")
    ecg_settings = dict(window=3600, shift=3600, fs=360, surrogates=19,
                        seed=1, **described)

    def ecg_summary():
        r = mfwindow.analyse(held, **ecg_settings)
        return r, mfwindow.plot.summary(
            r, signal=held, units="mV",
            title="ECG (scipy's excerpt, 360 Hz) with a 5 s held dropout")

    ecg_fq = dict(window=3600, shift=3600, fs=360, fq=True, **described)

    def ecg_fluctuation():
        r = mfwindow.analyse(x, **ecg_fq)
        return r, mfwindow.plot.fluctuation(
            r, window=5, title="ECG (scipy's excerpt, 360 Hz): the scaling "
                                "of one 10 s window")

    with np.load(sample_data("goog.npz")) as data:
        prices = data["price_data"]
    stock = np.vstack([prices["adj_close"].astype(np.float64),
                       prices["volume"].astype(np.float64)])
    stock_settings = dict(window=250, shift=25, increments=True, **described)

    def stock_summary():
        r = mfwindow.analyse(stock, **stock_settings)
        r.channels = ["close", "volume"]
        return r, mfwindow.plot.summary(
            r, signal=stock, units=["USD", "shares"],
            title="Google stock, daily, 2004-08-19 .. 2008-10-14 "
                  "(matplotlib's goog.npz)")

    # A pair from the same table: each day's absolute log return against
    # the day's change of log volume, which rises on days of large moves.
    pair = np.vstack([np.abs(np.diff(np.log(stock[0]))),
                      np.diff(np.log(stock[1]))])
    pair_names = ("|return|", "volume change")
    pair_settings = dict(window=500, shift=10, surrogates=19,
                         surrogate="phase", seed=1)

    def stock_pair_summary():
        r = mfwindow.cross(pair[0], pair[1], **pair_settings)
        return r, mfwindow.plot.cross_summary(
            r, names=pair_names,
            title="Google, daily (matplotlib's goog.npz): absolute return "
                  "against the change of volume")

    def stock_pair_fluctuation():
        r = mfwindow.cross(pair[0], pair[1], **pair_settings)
        return r, mfwindow.plot.fluctuation(
            r, window=20, names=pair_names,
            title="Google, daily: the pair's fluctuations in one window of "
                  "500 trading days")

    membrane = np.fromfile(sample_data("membrane.dat"),
                           dtype="<f4").astype(np.float64)
    membrane_settings = dict(window=1000, shift=250, spectrum=True,
                             **described)

    def membrane_spectrogram():
        r = mfwindow.analyse(membrane, **membrane_settings)
        return r, mfwindow.plot.spectrogram(
            r, title="Membrane recording (matplotlib's membrane.dat): "
                     "f(alpha) of each window")

    noise = fgn(16384, 0.7, seed=7)
    standard = dict(profile=True, fluctuation="rms", order=1, **described)
    fgn_settings = dict(window=4096, shift=4096, fq=True, q_min=-5.0,
                        q_max=5.0, q_count=101, **standard)

    def fgn_fluctuation():
        r = mfwindow.analyse(noise, **fgn_settings)
        return r, mfwindow.plot.fluctuation(
            r, window=0, q=[-5, -2, 0, 2, 5],
            title="Fractional Gaussian noise, H = 0.7: straight, parallel "
                  "lines")

    cascade = binomial_cascade(14, 0.3)
    cascade_settings = dict(window=4096, shift=2048, spectrum=True, fq=True,
                            q_min=-5.0, q_max=5.0, q_count=101, **standard)

    def cascade_spectrum():
        r = mfwindow.analyse(cascade, **cascade_settings)
        fig = mfwindow.plot.spectrum(
            r, windows=[0, 3, 6],
            title="Binomial cascade, p = 0.3 (dashed: the exact h(q) and "
                  "tau(q) of the infinite cascade)")
        q = np.asarray(r.q)
        with np.errstate(divide="ignore", invalid="ignore"):
            tau = -np.log2(0.3 ** q + 0.7 ** q)
            h = np.where(q == 0, np.nan, (tau + 1) / q)
        fig.axes[0].plot(q, h, "k--", linewidth=1)
        fig.axes[1].plot(q, tau, "k--", linewidth=1)
        return r, fig

    walk = mrw(32768, 0.04, seed=11)
    mrw_settings = dict(window=4096, shift=1024, spectrum=True, **standard)

    def mrw_spectrogram():
        r = mfwindow.analyse(walk, **mrw_settings)
        return r, mfwindow.plot.spectrogram(
            r, kind="h", title="Multifractal random walk, lambda^2 = 0.04: "
                               "h(q) of each window")

    shuffled = np.random.default_rng(5).permutation(walk)

    def mrw_shuffled_spectrum():
        both = mfwindow.analyse(np.vstack([walk, shuffled]),
                                window=4096, shift=4096, spectrum=True,
                                fq=True, **standard)
        both.channels = ["walk", "shuffled"]
        fig, axes = plt.subplots(1, 3, figsize=(13, 4.5),
                                 layout="constrained")
        r = both.channel("walk")
        mfwindow.plot.spectrum(r, windows=[2], ax=axes)
        s = both.channel("shuffled")
        for a, key in zip(axes, ("h", "tau")):
            a.plot(s.q, s[key][2], color="0.4", linestyle="--",
                   label="shuffled, same window")
        axes[2].plot(s.alpha[2], s.f_alpha[2], color="0.4", linestyle="--")
        axes[0].get_lines()[0].set_label(
            "walk, window ending at sample %d" % r.time[2])
        axes[0].legend(fontsize="small")
        fig.suptitle("Multifractal random walk against its own shuffle: the "
                     "width is in the order of the steps")
        return both, fig

    return [
        ("ecg_summary", held, ecg_settings, ecg_summary),
        ("ecg_fluctuation", x, ecg_fq, ecg_fluctuation),
        ("stock_summary", stock, stock_settings, stock_summary),
        ("stock_pair_summary", pair, pair_settings, stock_pair_summary),
        ("stock_pair_fluctuation", pair, pair_settings,
         stock_pair_fluctuation),
        ("membrane_spectrogram", membrane, membrane_settings,
         membrane_spectrogram),
        ("fgn_fluctuation", noise, fgn_settings, fgn_fluctuation),
        ("cascade_spectrum", cascade, cascade_settings, cascade_spectrum),
        ("mrw_spectrogram", walk, mrw_settings, mrw_spectrogram),
        ("mrw_shuffled_spectrum", np.vstack([walk, shuffled]),
         dict(window=4096, shift=4096, spectrum=True, fq=True, **standard),
         mrw_shuffled_spectrum),
    ]


def versions():
    from matplotlib import ft2font
    return {"numpy": np.__version__, "matplotlib": matplotlib.__version__,
            "freetype": ft2font.__freetype_version__}


def draw(out):
    os.makedirs(out, exist_ok=True)
    plt.rcParams["svg.hashsalt"] = "mfwindow-gallery"
    manifest = {"versions": versions(), "figures": {}}
    for name, samples, settings, make in figures():
        result, fig = make()
        path = os.path.join(out, name + ".png")
        fig.savefig(path, dpi=DPI, metadata=PNG_METADATA)
        with open(path, "rb") as f:
            png = hashlib.sha256(f.read()).hexdigest()
        manifest["figures"][name] = {
            "input": _digest(np.asarray(samples)),
            "settings": {k: settings[k] for k in sorted(settings)},
            "result": result_digest(result),
            "drawn": figure_digest(fig),
            "png": png}
        plt.close(fig)
        print(path)
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1, sort_keys=True)
        f.write("\n")
    return manifest


def check(folder):
    try:
        with open(os.path.join(folder, "manifest.json")) as f:
            kept = json.load(f)
    except OSError as e:
        print("gallery-check: %s" % e, file=sys.stderr)
        return 1
    scratch = tempfile.mkdtemp(prefix="gallery-")
    try:
        fresh = draw(scratch)
    finally:
        shutil.rmtree(scratch)
    same_tools = kept["versions"] == fresh["versions"]
    stale = []
    for name in sorted(set(kept["figures"]) | set(fresh["figures"])):
        old, new = kept["figures"].get(name), fresh["figures"].get(name)
        if old is None or new is None:
            stale.append("%s: %s" % (name, "new" if old is None
                                     else "no longer drawn"))
            continue
        keys = [k for k in new if k != "png" or same_tools]
        changed = [k for k in keys if old.get(k) != new[k]]
        if changed:
            stale.append("%s: %s changed" % (name, ", ".join(changed)))
        png = os.path.join(folder, name + ".png")
        if same_tools and os.path.isfile(png):
            with open(png, "rb") as f:
                if hashlib.sha256(f.read()).hexdigest() != old.get("png"):
                    stale.append("%s: the PNG is not the one the manifest "
                                 "names" % name)
        elif not os.path.isfile(png):
            stale.append("%s: no %s" % (name, png))
    if not same_tools:
        print("gallery-check: drawn with %s, checking with %s: the PNG bytes "
              "are not compared" % (kept["versions"], fresh["versions"]))
    for line in stale:
        print("gallery-check: %s" % line, file=sys.stderr)
    if stale:
        print("gallery-check: docs/gallery is not current; run `make "
              "gallery`", file=sys.stderr)
        return 1
    print("gallery-check: %d figures current" % len(fresh["figures"]))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    place = parser.add_mutually_exclusive_group()
    place.add_argument("--out", default=HERE, metavar="DIR")
    place.add_argument("--check", metavar="DIR")
    args = parser.parse_args()
    if args.check:
        return check(args.check)
    draw(args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
