"""Sphinx configuration of the mfwindow documentation site (make docs)."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "_ext"))

import mfwindow  # noqa: E402  (PYTHONPATH=build/python)

project = "mfwindow"
author = "the mfwindow authors"
copyright = "the mfwindow authors"
release = mfwindow.__version__
version = release

extensions = [
    "myst_nb",
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.napoleon",
    "sphinx.ext.mathjax",
    "sphinx.ext.viewcode",
    "mfwindow_docs",
]

source_suffix = {".rst": "restructuredtext", ".md": "myst-nb",
                 ".py": "myst-nb"}
# The tutorial is kept as a jupytext script in the percent format.
nb_custom_formats = {".py": ["jupytext.reads", {"fmt": "py:percent"}]}
# Every cell runs at each build; a failing cell fails it.
nb_execution_mode = "force"
nb_execution_raise_on_error = True
nb_execution_timeout = 300
nb_execution_show_tb = True

exclude_patterns = ["_build", "conf.py", "_ext", "requirements.txt",
                    "gallery/README.md", "gallery/make_gallery.py",
                    "gallery/manifest.json", "**/.ipynb_checkpoints"]

myst_enable_extensions = ["dollarmath", "amsmath", "colon_fence",
                          "deflist"]
myst_heading_anchors = 3

autosummary_generate = True
autodoc_default_options = {"members": True, "show-inheritance": True}
autodoc_typehints = "description"
autodoc_member_order = "bysource"
napoleon_numpy_docstring = True
napoleon_google_docstring = False
napoleon_use_rtype = False

html_theme = "furo"
html_title = "mfwindow %s" % release
html_static_path = []
templates_path = ["_templates"]
