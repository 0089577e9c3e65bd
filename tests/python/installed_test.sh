#!/bin/sh
# The Python package as a user gets it, tested from outside the source:
#   installed_test.sh REPO BUILD_DIR WHEELHOUSE
# With a CPython that is not Debian's (WHEEL_PYTHON, else the first python3
# on PATH that is not /usr/bin's):
#  1. the wheels of `make wheel` in WHEELHOUSE: auditwheel gives each its
#     manylinux tag, no binary in one needs a glibc symbol newer than its
#     tag's glibc (the highest found is printed) and each needs no library
#     beyond glibc's own (TBB, FFTW and Highway are linked in);
#  2. the x86_64 wheel installed into a fresh virtual environment of that
#     CPython with no system site packages and LD_LIBRARY_PATH empty (the
#     test extra's packages from the index); the loader is shown to find no
#     TBB, FFTW or Highway for it; both commands and tests/python run there,
#     mfwindow-batch being the wheel's command;
#  3. the aarch64 wheel's mfwindow-batch run under qemu-aarch64-static on a
#     walk, its result files byte for byte those of the x86_64 wheel (the
#     sidecars, which name the SIMD target and the time, aside);
#  4. an sdist made from REPO's committed HEAD, cloned into a scratch folder
#     (`python -m build --sdist`), its contents checked (the licence, the
#     README and the build files in it, no build folders), then installed by
#     `pip install mfwindow-*.tar.gz` into a fresh virtual environment, which
#     compiles it in an isolated build whose requirements come from the
#     index, and run once;
#  5. the offline route: `pip wheel --no-build-isolation --no-index` with the
#     build tools already installed in that CPython, the wheel installed and
#     run in a virtual environment that sees them.
# The tools (build, auditwheel) come from the index into a venv of
# their own. The programs the tests compare with come from BUILD_DIR.
# Uncommitted changes are not in the sdist: commit first.
set -eu
repo=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
wheelhouse=$(cd "$3" && pwd)

step() { echo "installed_test: $*"; }
elapsed() { echo "$(($(date +%s) - $1)) s"; }

python=$("$repo/tools/cross/wheel-python.sh")

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
"$work/tools/bin/python" -m pip install --quiet build auditwheel

# 1. Tags, glibc symbols and the libraries each binary needs.
for wheel in "$wheelhouse"/*.whl; do
  name=$(basename "$wheel")
  "$work/tools/bin/auditwheel" show "$wheel" > "$work/show.txt" 2>&1 \
    || { cat "$work/show.txt"; exit 1; }
  tr '\n' ' ' < "$work/show.txt" | grep -o 'platform tag: "manylinux_[0-9_]*[a-z0-9_]*"' \
    | head -n 1 > "$work/tag.txt" || true
  tag=$(sed 's/.*"\(.*\)"/\1/' "$work/tag.txt")
  case $tag in
    manylinux_2_1[0-9]_*|manylinux_2_2[0-8]_*) ;;
    *) cat "$work/show.txt"; echo "installed_test: $name: tag '$tag'" >&2; exit 1 ;;
  esac
  case $name in *"$tag"*) ;; *) echo "installed_test: $name is not named $tag" >&2; exit 1 ;; esac
  limit=$(echo "$tag" | sed 's/manylinux_\([0-9]*\)_\([0-9]*\)_.*/\1.\2/')
  rm -rf "$work/unpacked" && mkdir "$work/unpacked"
  (cd "$work/unpacked" && python3 -m zipfile -e "$wheel" .)
  highest=0
  binaries=$(find "$work/unpacked" -type f \( -name '*.so' -o -path '*/_bin/*' \))
  [ "$(echo "$binaries" | wc -w)" = 2 ] \
    || { echo "installed_test: $name: binaries: $binaries" >&2; exit 1; }
  for binary in $binaries; do
    # readelf reads an ELF file of any processor; a binary without glibc
    # versions, or one it cannot read, fails the check.
    readelf -V -W "$binary" > "$work/versions.txt"
    version=$(grep -o 'GLIBC_[0-9.]*' "$work/versions.txt" | sed 's/GLIBC_//' \
      | sort -V | tail -n 1)
    [ -n "$version" ] || { echo "installed_test: no glibc versions in $binary" >&2; exit 1; }
    highest=$(printf '%s\n%s\n' "$highest" "$version" | sort -V | tail -n 1)
    readelf -d -W "$binary" > "$work/dynamic.txt"
    grep -q '(NEEDED).*\[libc\.so\.6\]' "$work/dynamic.txt" \
      || { echo "installed_test: $binary: no dynamic section" >&2; exit 1; }
    needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' "$work/dynamic.txt" \
      | grep -Ev '^(libc|libm|libpthread|libdl|librt)\.so\.[0-9]+$|^ld-linux' || true)
    if [ -n "$needed" ]; then
      echo "installed_test: ${binary#"$work/unpacked/"} needs $needed" >&2
      exit 1
    fi
  done
  if [ "$(printf '%s\n%s\n' "$highest" "$limit" | sort -V | tail -n 1)" != "$limit" ]; then
    echo "installed_test: $name needs GLIBC_$highest, newer than its tag" >&2
    exit 1
  fi
  step "$name: auditwheel says $tag; highest glibc symbol GLIBC_$highest; needs glibc only"
done

abi=cp$("$python" -c 'import sys; print("%d%d" % sys.version_info[:2])')
x86_wheel=$(ls "$wheelhouse"/mfwindow-*-"$abi"-"$abi"-*_x86_64.whl)
step "a fresh virtual environment, no system site packages"
"$python" -m venv "$work/venv"
venv=$work/venv
"$venv/bin/python" -m pip install --quiet "$x86_wheel[test]"
export LD_LIBRARY_PATH=
"$venv/bin/mfwindow-batch" --version
"$venv/bin/mfwindow-plot" --help > /dev/null
# None of TBB, FFTW or Highway is loaded from anywhere, although the
# system has them: not by the binaries' dependencies (ldd), and not at run
# time (the loader's log of mfwindow-batch on threads with surrogates; the
# libraries mapped into Python after an analysis there).
for binary in "$venv"/lib/python*/site-packages/mfwindow/_bin/mfwindow-batch \
    "$venv"/lib/python*/site-packages/mfwindow/_core.*.so; do
  [ -f "$binary" ] || { echo "installed_test: no $binary" >&2; exit 1; }
  if ldd "$binary" | grep -E 'lib(tbb|fftw3|hwy)'; then
    echo "installed_test: $binary loads a library from outside the wheel" >&2
    exit 1
  fi
done
"$python" -c 'import random, sys
random.seed(3); x = 0.0
with open(sys.argv[1], "w") as f:
    for _ in range(3000):
        x += random.gauss(0, 1); f.write("%.17g\n" % x)' "$work/loader-walk.txt"
program=$(ls "$venv"/lib/python*/site-packages/mfwindow/_bin/mfwindow-batch)
(cd "$work" && LD_DEBUG=libs "$program" --threads 2 --surrogates 3 \
   --out - loader-walk.txt > /dev/null 2> "$work/loader.txt")
grep -q 'calling init' "$work/loader.txt" \
  || { echo "installed_test: the loader wrote no log" >&2; exit 1; }
if grep -E 'lib(tbb|fftw3|hwy)' "$work/loader.txt"; then
  echo "installed_test: mfwindow-batch looked for a library outside the wheel" >&2
  exit 1
fi
"$venv/bin/python" -c 'import re, numpy, mfwindow
mfwindow.analyse(numpy.cumsum(numpy.random.default_rng(2).standard_normal(4000)),
                 window=1000, shift=250, threads=2, surrogates=3)
maps = {line.split()[-1] for line in open("/proc/self/maps") if ".so" in line}
assert any("mfwindow/_core" in m for m in maps), maps
outside = [m for m in maps if re.search(r"lib(tbb|fftw3|hwy)", m)]
assert not outside, outside'

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

# 3. The aarch64 wheel's program under emulation against the x86_64 one's:
# the described method and the standard one with its spectra. (Not the
# segment-once kernel: its coefficient tables are computed in long double,
# 80 bits on x86-64 and 128 on aarch64, and its results differ in the last
# digits between the two, within its stated tolerance.)
arm_wheel=$(ls "$wheelhouse"/*_aarch64.whl)
rm -rf "$work/arm" && mkdir -p "$work/arm/wheel" "$work/arm/x86" "$work/arm/arm"
(cd "$work/arm/wheel" && python3 -m zipfile -e "$arm_wheel" .)
arm_batch=$work/arm/wheel/mfwindow/_bin/mfwindow-batch
chmod +x "$arm_batch"
file "$arm_batch" | grep -q 'ARM aarch64' || { file "$arm_batch"; exit 1; }
file "$work"/arm/wheel/mfwindow/_core.*aarch64*.so | grep -q 'ARM aarch64' \
  || { echo "installed_test: the aarch64 wheel has no aarch64 core" >&2; exit 1; }
"$python" -c 'import random, sys
random.seed(5); x = 0.0
with open(sys.argv[1], "w") as f:
    for _ in range(6000):
        x += random.gauss(0, 1); f.write("%.17g\n" % x)' "$work/arm/walk.txt"
for side in x86 arm; do
  if [ $side = x86 ]; then run="$venv/bin/mfwindow-batch"; else run="qemu-aarch64-static $arm_batch"; fi
  (cd "$work/arm" && $run --window 1000 --shift 250 --out $side/described walk.txt \
     && $run --method standard --spectrum --format csv --window 1000 --shift 250 \
          --out $side/standard walk.txt) > /dev/null
done
# The sidecars name the SIMD target and the time of the run: not compared.
diff -r -x '*.json' "$work/arm/x86" "$work/arm/arm" \
  || { echo "installed_test: the aarch64 wheel's results differ" >&2; exit 1; }
compared=$(find "$work/arm/arm" -type f ! -name '*.json' | wc -l)
[ "$compared" = 3 ] || { echo "installed_test: $compared result files, not 3" >&2; exit 1; }
step "aarch64 wheel under qemu: $compared result files equal to the x86_64 wheel's"

# 4. The sdist from the committed HEAD, checked and installed from the index.
step "python -m build --sdist from $(git -C "$work/src" rev-parse --short HEAD)"
# Build folders and wheels in the tree, as a developer's has: none may go in.
mkdir -p "$work/src/build-planted" "$work/src/wheelhouse"
touch "$work/src/build-planted/CMakeCache.txt" "$work/src/wheelhouse/planted.whl"
"$work/tools/bin/python" -m build --sdist --outdir "$work/sdist" "$work/src" \
  > "$work/sdist.log" 2>&1 || { tail -40 "$work/sdist.log"; exit 1; }
sdist=$(ls "$work/sdist"/mfwindow-*.tar.gz)
tar -tzf "$sdist" > "$work/sdist.txt"
for member in LICENSE README.md pyproject.toml CMakeLists.txt python/core_module.cpp \
    include/mfwindow/mfwindow.h; do
  grep -qx "mfwindow-[0-9.]*/$member" "$work/sdist.txt" \
    || { echo "installed_test: the sdist lacks $member" >&2; exit 1; }
done
if grep -E '^mfwindow-[0-9.]*/(build[^/]*|wheelhouse|\.git)/|planted' "$work/sdist.txt" \
    | head -n 3 | grep .; then
  echo "installed_test: the sdist holds build folders" >&2
  exit 1
fi
"$python" -m venv "$work/sdist-venv"
start=$(date +%s)
"$work/sdist-venv/bin/python" -m pip install --quiet "$sdist" > "$work/sdist-install.log" 2>&1 \
  || { tail -40 "$work/sdist-install.log"; exit 1; }
step "$(basename "$sdist") ($(wc -l < "$work/sdist.txt") files) built and installed in $(elapsed "$start")"
"$work/sdist-venv/bin/mfwindow-batch" --version
"$work/sdist-venv/bin/python" -c 'import mfwindow, numpy
r = mfwindow.analyse(numpy.cumsum(numpy.random.default_rng(1).standard_normal(3000)), window=1000, shift=500)
assert len(r.time) == 5, r
print("from the sdist:", r)'

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
