#!/usr/bin/python3
"""Runs the examples of the README's "Plot the results" and "Use it from
Python" sections as a new user would, from a copy of the repository root,
and compares their output with the output the README shows."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

import mfwindow
import support

SECTIONS = ("Plot the results", "Use it from Python")


def section_examples(readme, title):
    """The (commands, output) pairs of one README section: each ```sh block
    with the ```text block right after it."""
    match = re.search(r"^## %s\n(.*?)(?=^## |\Z)" % re.escape(title), readme,
                      re.M | re.S)
    if not match:
        raise AssertionError("README has no section %r" % title)
    blocks = re.findall(r"^```(\w+)\n(.*?)^```\n", match.group(1),
                        re.M | re.S)
    return [(code, following)
            for (kind, code), (next_kind, following) in zip(blocks,
                                                            blocks[1:])
            if kind == "sh" and next_kind == "text"]


class ReadmeExamples(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(support.SOURCE_DIR, "README.md")) as f:
            cls.readme = f.read()
        # The repository root as `make run` leaves it: examples with their
        # results, the tools, and the build folder's module.
        cls.tmp = tempfile.TemporaryDirectory()
        root = cls.tmp.name
        examples = os.path.join(root, "examples")
        os.mkdir(examples)
        for name in ("list", "walk.txt", "cascade.txt", "answers.txt"):
            shutil.copy(os.path.join(support.SOURCE_DIR, "examples", name),
                        examples)
        with open(os.path.join(examples, "answers.txt"), "rb") as answers:
            subprocess.run([support.PROGRAM], stdin=answers, cwd=examples,
                           stdout=subprocess.DEVNULL, check=True, timeout=120)
        os.symlink(os.path.join(support.SOURCE_DIR, "tools"),
                   os.path.join(root, "tools"))
        os.mkdir(os.path.join(root, "build"))
        os.symlink(os.path.dirname(os.path.abspath(mfwindow.__file__)),
                   os.path.join(root, "build", "python"))
        cls.root = root

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_examples_print_what_the_readme_shows(self):
        for title in SECTIONS:
            examples = section_examples(self.readme, title)
            self.assertTrue(examples, "no example in %r" % title)
            for commands, output in examples:
                with self.subTest(section=title, commands=commands):
                    env = dict(os.environ)
                    env.pop("PYTHONPATH", None)  # the example sets its own
                    done = subprocess.run(["bash", "-e", "-c", commands],
                                          cwd=self.root, env=env,
                                          capture_output=True, text=True,
                                          timeout=120)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertEqual(done.stdout, output)
                    for line in output.splitlines():
                        if line.endswith(".png"):
                            self.assertTrue(os.path.isfile(
                                os.path.join(self.root, line)), line)


if __name__ == "__main__":
    unittest.main()
