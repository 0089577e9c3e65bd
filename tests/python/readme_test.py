"""Runs the examples of the README's "Plot the results", "Use it from
Python" and "Many series, many machines" sections as a new user would,
from a copy of the repository root after `make run`, and compares their
output with the output the README shows; checks the pictures they
write."""

import os
import re
import shutil
import subprocess
import sys

import pytest

import support

SECTIONS = ("Plot the results", "Use it from Python",
            "Many series, many machines")
EXAMPLE_FILES = ("list", "walk.txt", "cascade.txt", "answers.txt",
                 "recordings.csv")


def section_examples(readme, title):
    """The (commands, output) pairs of one README section: each ```sh block
    with the ```text block right after it."""
    match = re.search(r"^## %s\n(.*?)(?=^## |\Z)" % re.escape(title), readme,
                      re.M | re.S)
    assert match, "README has no section %r" % title
    blocks = re.findall(r"^```(\w+)\n(.*?)^```\n", match.group(1),
                        re.M | re.S)
    return [(code, following)
            for (kind, code), (next_kind, following) in zip(blocks,
                                                            blocks[1:])
            if kind == "sh" and next_kind == "text"]


with open(os.path.join(support.SOURCE_DIR, "README.md")) as f:
    README = f.read()
EXAMPLES = [(title, commands, output) for title in SECTIONS
            for commands, output in section_examples(README, title)]


def test_every_section_has_examples():
    for title in SECTIONS:
        assert any(t == title for t, _, _ in EXAMPLES), title


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


@pytest.mark.parametrize("title,commands,output", EXAMPLES,
                         ids=["%s-%d" % (t.split()[-1], i)
                              for i, (t, _, _) in enumerate(EXAMPLES)])
def test_example_prints_what_the_readme_shows(root, title, commands, output):
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
