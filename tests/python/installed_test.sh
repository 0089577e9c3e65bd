#!/bin/sh
# The Python package as a user gets it, tested from outside the source:
#   installed_test.sh REPO BUILD_DIR
# clones REPO's committed HEAD into a scratch folder, builds a wheel from the
# clone (pip wheel --no-build-isolation: Debian's setuptools, pybind11,
# cmake and ninja; no package index), installs it into a fresh virtual
# environment that sees Debian's numpy, matplotlib, pandas and pytest, and
# runs tests/python there against the installed package (which conftest.py
# checks is the one imported). The programs the tests compare with come
# from BUILD_DIR. Uncommitted changes are not in the clone: commit first.
set -eu
repo=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
python=${PYTHON:-/usr/bin/python3}

work=$(mktemp -d "${TMPDIR:-/tmp}/mfwindow-wheel.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
step() { echo "installed_test: $*"; }

step "cloning $(git -C "$repo" rev-parse --short HEAD) into $work/src"
git clone --quiet --no-checkout "$repo" "$work/src"
git -C "$work/src" fetch --quiet "$repo" HEAD
git -C "$work/src" checkout --quiet --detach FETCH_HEAD

step "a fresh virtual environment"
"$python" -m venv --system-site-packages "$work/venv"
venv_python=$work/venv/bin/python

step "building the wheel (compiles the library)"
start=$(date +%s)
"$venv_python" -m pip wheel --quiet --no-build-isolation --no-deps \
  --no-index --wheel-dir "$work/wheels" "$work/src"
step "wheel built in $(($(date +%s) - start)) s: $(cd "$work/wheels" && ls)"

step "installing it"
"$venv_python" -m pip install --quiet --no-index \
  --find-links "$work/wheels" mfwindow

step "running tests/python against it, from $work"
cd "$work"
env -u PYTHONPATH \
  MFWINDOW_PROGRAM="$build/mfwindow" \
  MFWINDOW_BATCH="$build/mfwindow-batch" \
  MFWINDOW_API_DUMP="$build/python/mfwindow_api_dump" \
  MFWINDOW_PLOT="$work/venv/bin/mfwindow-plot" \
  MFWINDOW_SOURCE_DIR="$work/src" \
  MFWINDOW_REQUIRE_ALL=1 \
  MFWINDOW_EXPECT_PACKAGE_IN="$work/venv" \
  MPLCONFIGDIR="$work/mplconfig" \
  "$venv_python" -m pytest -q -p no:cacheprovider "$work/src/tests/python"
