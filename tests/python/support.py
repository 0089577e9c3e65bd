"""What the Python tests share: the programs they compare with (named by
environment variables, see conftest.py), series written for the C++ side,
and runs of the program, of mfwindow-batch and of the API dump."""

import os
import subprocess
import sys

import numpy as np
import pytest

SOURCE_DIR = os.environ.get(
    "MFWINDOW_SOURCE_DIR",
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
        __file__)))))
COLUMNS = ("time", "alpha_min", "alpha_max", "alpha_width", "alpha_sz",
           "f_alpha_sz")
# The same columns as the result files spell them.
FILE_COLUMNS = tuple(c.replace("alpha", "alfa") for c in COLUMNS)
SPECTRUM_KEYS = ("h", "tau", "alpha", "f_alpha")
# Each window's quality, after the six values.
QUALITY = ("status", "zero_share", "floor_share", "min_r2")
# The fits' standard errors and crossover scale, last.
FITS = ("h2_se", "width_se", "crossover_scale")
STATUS_WORDS = ("ok", "degenerate", "non_finite_input", "overflow",
                "flat_segments", "short_for_order", "crossover", "poor_fit",
                "not_concave")


def tool(variable):
    """The path in environment variable `variable`. Without it the test is
    skipped, or fails when MFWINDOW_REQUIRE_ALL is set (as `make test` and
    CTest do, so that nothing is skipped there unnoticed)."""
    path = os.environ.get(variable)
    if path:
        return path
    message = "%s is not set" % variable
    if os.environ.get("MFWINDOW_REQUIRE_ALL"):
        pytest.fail(message)
    pytest.skip(message)


def plot_command():
    """The plot command to run: MFWINDOW_PLOT, else the mfwindow-plot that
    pip installed beside this interpreter."""
    path = os.environ.get("MFWINDOW_PLOT")
    if path:
        return path
    beside = os.path.join(os.path.dirname(sys.executable), "mfwindow-plot")
    if os.path.isfile(beside):
        return beside
    return tool("MFWINDOW_PLOT")


def run_plot(*args, cwd=None):
    return subprocess.run([sys.executable, plot_command(), *args], cwd=cwd,
                          capture_output=True, text=True, timeout=300)


def bits(values):
    """Exact text of each double; every NaN reads "nan". Words (the quality
    status) compare as they are."""
    flat = np.ravel(np.asarray(values))
    if flat.dtype.kind in "USO":
        return [str(v) for v in flat]
    return [float(v).hex() for v in flat]


def walk(n, seed):
    """A random walk with heavy-tailed steps: a multifractal-looking series
    whose windows are never degenerate."""
    rng = np.random.default_rng(seed)
    return np.cumsum(rng.standard_t(3, size=n))


def write_series(path, values):
    """One value per line, each as the shortest text that reads back as the
    same double, so the programs see exactly `values`."""
    with open(path, "w", newline="\n") as f:
        f.writelines(repr(float(v)) + "\n" for v in values)


def run_program(work_dir, series, incr, order, lrec, min_scale, shift, tini,
                tstep):
    """Runs mfwindow in `work_dir` on one series named s.txt, answering the
    dialogue on stdin, and returns the path of its result file."""
    program = tool("MFWINDOW_PROGRAM")
    write_series(os.path.join(work_dir, "s.txt"), series)
    with open(os.path.join(work_dir, "list"), "w") as f:
        f.write("s.txt\n")
    # Enter after the greeting, then the six answers.
    answers = "\n%d\n%d\n%d\n%d\n%d\n%r %r\n" % (
        incr, order, lrec, min_scale, shift, tini, tstep)
    subprocess.run([program], input=answers.encode("ascii"), cwd=work_dir,
                   stdout=subprocess.DEVNULL, check=True, timeout=120)
    return os.path.join(work_dir, "F(Alfa)", "F(Alfa)_s.txt.dat")


def run_batch(work_dir, series, *flags):
    """Runs mfwindow-batch --format csv on one series s.txt in `work_dir`;
    returns the folder of its result files."""
    batch = tool("MFWINDOW_BATCH")
    write_series(os.path.join(work_dir, "s.txt"), series)
    out = os.path.join(work_dir, "out")
    subprocess.run([batch, "--quiet", "--format", "csv", "--out", out,
                    *flags, "s.txt"], cwd=work_dir, check=True, timeout=120)
    return out


def run_api_dump(work_dir, series, incr, order, lrec, min_scale, shift, tini,
                 tstep, threads, spectrum):
    """The C++ API's results for `series`, parsed from mfwindow_api_dump:
    a dict with "q", "row" and, with spectrum, "h", "tau", "alpha",
    "f_alpha", each a list of lists of floats."""
    dump = tool("MFWINDOW_API_DUMP")
    path = os.path.join(work_dir, "dump_series.txt")
    write_series(path, series)
    args = [dump, path] + [str(a) for a in (
        incr, order, lrec, min_scale, shift)] + [repr(float(tini)),
                                                 repr(float(tstep)),
                                                 str(threads),
                                                 str(int(spectrum))]
    out = subprocess.run(args, stdout=subprocess.PIPE, check=True,
                         timeout=120).stdout.decode("ascii")
    records = {}
    for line in out.splitlines():
        tag, *values = line.split(" ")
        records.setdefault(tag, []).append([float.fromhex(v) for v in values])
    records.setdefault("row", [])
    return records


class Bomb:
    """Ends the process that unpickles it, as a crash would, unless that is
    the process that made it: newer Dask copies or tokenizes a task's
    arguments in the client too, where it must stay a bomb. Workers import
    this module as the tests do (they start with the tests' sys.path)."""

    def __init__(self, pid=None):
        self.pid = os.getpid() if pid is None else pid

    def __reduce__(self):
        return (_bomb, (self.pid,))


def _bomb(pid):
    if os.getpid() != pid:
        os._exit(3)
    return Bomb(pid)


def described(*args, **keywords):
    """mfwindow.analyse under the described method (the program's numbers)
    unless the test names a method: what the comparisons with mfwindow,
    mfwindow-batch and the C++ API run."""
    import mfwindow
    return mfwindow.analyse(*args, **dict({"method": "described"},
                                          **keywords))
