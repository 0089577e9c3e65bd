"""Runs the examples of the README and of the user guide as a new user
would, and compares their output with the output the page shows: the shell
examples of the guide's Python, plotting and many-series pages from a copy
of the repository root after `make run` (checking the pictures they
write), and every Python block of the README, the getting-started page and
the user guide, each page's blocks in order in one namespace."""

import contextlib
import glob
import io
import os
import re
import shutil
import subprocess
import sys

import pytest

import support

SHELL_PAGES = ("docs/guide/python.md", "docs/guide/plotting.md",
               "docs/guide/many-series.md")
PYTHON_KINDS = ("python", "{code-cell}")
EXAMPLE_FILES = ("list", "walk.txt", "cascade.txt", "answers.txt",
                 "recordings.csv")


def read(page):
    with open(os.path.join(support.SOURCE_DIR, page)) as f:
        return f.read()


def blocks(text):
    """The fenced blocks of a page as (kind, code): ```sh gives "sh",
    ```{code-cell} ipython3 gives "{code-cell}"."""
    return re.findall(r"^```(\S+)[^\n]*\n(.*?)^```\n", text, re.M | re.S)


def examples(text, kinds):
    """(code, shown output or None) of each block of `kinds`, the output
    being the ```text block right after it."""
    found = blocks(text)
    return [(code, following if next_kind == "text" else None)
            for (kind, code), (next_kind, following)
            in zip(found, found[1:] + [("", "")]) if kind in kinds]


# The pages that hold Python blocks.
PYTHON_PAGES = [page for page in ["README.md", "docs/getting-started.md"] + sorted(
    os.path.relpath(p, support.SOURCE_DIR).replace(os.sep, "/")
    for p in glob.glob(os.path.join(support.SOURCE_DIR, "docs", "guide",
                                    "*.md")))
    if examples(read(page), PYTHON_KINDS)]
EXAMPLES = [(page, commands, output) for page in SHELL_PAGES
            for commands, output in examples(read(page), ("sh",))
            if output is not None]


def test_every_page_has_examples():
    for page in SHELL_PAGES:
        assert any(p == page for p, _, _ in EXAMPLES), page
    assert examples(read("README.md"), ("python",)), "README"


@pytest.fixture(scope="module")
def root(tmp_path_factory):
    """The repository root as `make run` leaves it: the examples with their
    results, build/mfwindow-batch, and on PATH this interpreter's python3
    (with the package under test) and the plot command."""
    root = tmp_path_factory.mktemp("root")
    examples = root / "examples"
    examples.mkdir()
    for name in EXAMPLE_FILES:
        shutil.copy(os.path.join(support.SOURCE_DIR, "examples", name),
                    examples)
    with open(examples / "answers.txt", "rb") as answers:
        subprocess.run([support.tool("MFWINDOW_PROGRAM")], stdin=answers,
                       cwd=examples, stdout=subprocess.DEVNULL, check=True,
                       timeout=120)
    (root / "build").mkdir()
    os.symlink(support.tool("MFWINDOW_BATCH"),
               root / "build" / "mfwindow-batch")
    bin_dir = tmp_path_factory.mktemp("bin")
    os.symlink(support.plot_command(), bin_dir / "mfwindow-plot")
    path = os.pathsep.join([str(bin_dir), os.path.dirname(sys.executable),
                            os.environ.get("PATH", "")])
    return root, path


@pytest.mark.parametrize("page,commands,output", EXAMPLES,
                         ids=["%s-%d" % (os.path.basename(p), i)
                              for i, (p, _, _) in enumerate(EXAMPLES)])
def test_example_prints_what_the_page_shows(root, page, commands, output):
    folder, path = root
    done = subprocess.run(["bash", "-e", "-c", commands], cwd=folder,
                          env=dict(os.environ, PATH=path),
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout == output
    # Each picture it names is there, as its format.
    here = folder / "examples" if commands.startswith("cd examples") \
        else folder
    for line in output.splitlines():
        suffix = os.path.splitext(line)[1]
        if suffix in (".png", ".svg", ".pdf"):
            with open(here / line, "rb") as f:
                head = f.read(64)
            assert head.startswith({".png": b"\x89PNG",
                                    ".svg": b"<?xml",
                                    ".pdf": b"%PDF"}[suffix]), line
    if "switch.pdf" in commands:
        with open(folder / "switch.pdf", "rb") as f:
            assert f.read(5) == b"%PDF-"


@pytest.mark.parametrize("page", PYTHON_PAGES)
def test_python_blocks_print_what_the_page_shows(page, tmp_path,
                                                 monkeypatch):
    pytest.importorskip("matplotlib")
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    shutil.copytree(os.path.join(support.SOURCE_DIR, "examples"),
                    tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    namespace = {"__name__": "__main__"}
    for code, output in examples(read(page), PYTHON_KINDS):
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            exec(compile(code, page, "exec"), namespace)
        if output is not None:
            assert printed.getvalue() == output, code
    plt.close("all")


def test_batch_command_is_the_program_of_this_package():
    # The installed command starts the wheel's own C++ program: its version
    # is the package's.
    import mfwindow
    done = subprocess.run([support.tool("MFWINDOW_BATCH"), "--version"],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert mfwindow.__version__ in done.stdout.split(), done.stdout


def test_batch_command_without_its_program_says_so(monkeypatch, capsys):
    from mfwindow import _batch_command
    monkeypatch.setattr(_batch_command, "PROGRAM", "/nonexistent/program")
    assert _batch_command.main(["--version"]) == 127
    assert "/nonexistent/program" in capsys.readouterr().err


def test_cli_reference_lists_every_flag_of_help(monkeypatch):
    # The site's command-line reference is parsed from --help; a layout of
    # the help that the parser misreads would drop or merge options.
    sys.path.insert(0, os.path.join(support.SOURCE_DIR, "docs", "_ext"))
    import mfwindow_docs
    monkeypatch.setenv("MFWINDOW_BATCH", support.tool("MFWINDOW_BATCH"))
    help_text = mfwindow_docs.batch_help()
    table = mfwindow_docs.cli_page().split("## The help as printed")[0]
    # Each row is | `signature` | text |, a | inside either written \|.
    signatures = [(s.replace("\\|", "|"), text) for s, text in re.findall(
        r"^\| `([^`]*)` \| (.+) \|$", table, re.M)]
    flags = set(re.findall(r"(?<![\w-])--[a-z][\w-]*", help_text))
    assert len(flags) > 40
    for flag in flags:
        assert any(re.search(re.escape(flag) + r"(?![\w-])", s)
                   for s, _ in signatures), flag
    assert all(text.strip() for _, text in signatures)


def test_api_reference_names_every_public_name():
    # docs/api.md lists the names autosummary documents; a name added to
    # the package without it would have no page.
    import inspect
    import mfwindow
    import mfwindow.distributed
    import mfwindow.plot
    listed = set(re.findall(r"^   (\w+)$", read("docs/api.md"), re.M))
    public = set(mfwindow.__all__) - {"__version__"}
    public |= set(mfwindow.plot.__all__) | {"HurstFit"}
    public |= {name for name, obj in vars(mfwindow.distributed).items()
               if not name.startswith("_") and (inspect.isfunction(obj)
                                                or inspect.isclass(obj))
               and obj.__module__ == "mfwindow.distributed"}
    assert public <= listed, public - listed
