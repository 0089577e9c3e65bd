"""What the Python tests share: the paths CTest passes, the plot tool loaded
as a module, series written for the C++ side, and runs of the program and
of the API dump."""

import importlib.machinery
import importlib.util
import os
import subprocess

import numpy as np

SOURCE_DIR = os.environ.get(
    "MFWINDOW_SOURCE_DIR",
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
        __file__)))))
PROGRAM = os.environ.get("MFWINDOW_PROGRAM")
API_DUMP = os.environ.get("MFWINDOW_API_DUMP")
PLOT_TOOL = os.path.join(SOURCE_DIR, "tools", "mfwindow-plot")


def load_plot_tool():
    """tools/mfwindow-plot as a module (its name has no .py)."""
    loader = importlib.machinery.SourceFileLoader("mfwindow_plot", PLOT_TOOL)
    module_spec = importlib.util.spec_from_loader("mfwindow_plot", loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


def walk(n, seed):
    """A random walk with heavy-tailed steps: a multifractal-looking series
    whose windows are never degenerate."""
    rng = np.random.default_rng(seed)
    return np.cumsum(rng.standard_t(3, size=n))


def write_series(path, values):
    """One value per line, each as the shortest text that reads back as the
    same double, so the program and the dump see exactly `values`."""
    with open(path, "w", newline="\n") as f:
        f.writelines(repr(float(v)) + "\n" for v in values)


def run_program(work_dir, series, incr, order, lrec, min_scale, shift, tini,
                tstep):
    """Runs mfwindow in `work_dir` on one series named s.txt, answering the
    dialogue on stdin, and returns the path of its result file."""
    write_series(os.path.join(work_dir, "s.txt"), series)
    with open(os.path.join(work_dir, "list"), "w") as f:
        f.write("s.txt\n")
    # Enter after the greeting, then the six answers.
    answers = "\n%d\n%d\n%d\n%d\n%d\n%r %r\n" % (
        incr, order, lrec, min_scale, shift, tini, tstep)
    subprocess.run([PROGRAM], input=answers.encode("ascii"), cwd=work_dir,
                   stdout=subprocess.DEVNULL, check=True, timeout=120)
    return os.path.join(work_dir, "F(Alfa)", "F(Alfa)_s.txt.dat")


def run_api_dump(work_dir, series, incr, order, lrec, min_scale, shift, tini,
                 tstep, threads, spectrum):
    """The C++ API's results for `series`, parsed from mfwindow_api_dump:
    a dict with "q", "rows" and, with spectrum, "h", "tau", "alpha",
    "f_alpha", each a list of lists of floats."""
    path = os.path.join(work_dir, "dump_series.txt")
    write_series(path, series)
    args = [API_DUMP, path] + [str(a) for a in (
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
