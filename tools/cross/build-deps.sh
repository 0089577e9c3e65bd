#!/usr/bin/env bash
# Builds the libraries mfwindow links (oneTBB, Highway, FFTW; GoogleTest
# with --tests) for another platform, static, from Debian's sources of the
# versions the Linux build uses, into PREFIX, with a CMake toolchain file
# (cmake/x86_64-w64-mingw32.cmake for Windows, cmake/zig.cmake for macOS
# and for the Linux wheels' glibc 2.17):
#   tools/cross/build-deps.sh TOOLCHAIN WORK_DIR PREFIX [--tests]
# The sources come from `apt-get source` (a deb-src entry is needed: `make
# deps-sources` adds one); GoogleTest from /usr/src/googletest
# (libgtest-dev); CLI11's headers are Debian's. Each library is built once
# per PREFIX.
set -euo pipefail
toolchain=$(realpath -m "$1")
work=$(realpath -m "$2")
prefix=$(realpath -m "$3")
tests=${4:-}
cmake_bin=${CMAKE:-cmake}
jobs=${JOBS:-2}
mkdir -p "$work" "$prefix"

# Unpacks Debian source package $1 into $work/$1 (once).
fetch() {
  local package=$1
  [ -d "$work/$package" ] && return
  mkdir -p "$work/download"
  (cd "$work/download" && apt-get source --download-only -q "$package" >/dev/null)
  local tarball
  tarball=$(ls "$work/download/${package}_"*.orig.tar.* | head -n 1)
  mkdir -p "$work/$package"
  tar -xf "$tarball" -C "$work/$package" --strip-components=1
}

# Configures, builds and installs CMake project $2 (a folder) as $1.
build() {
  local name=$1 source=$2
  shift 2
  [ -f "$prefix/.built-$name" ] && return
  local start=$SECONDS
  "$cmake_bin" -S "$source" -B "$work/build-$name" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DMFWINDOW_CROSS_DEPS="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_POLICY_VERSION_MINIMUM=3.5 "$@" >/dev/null
  "$cmake_bin" --build "$work/build-$name" -j "$jobs" >/dev/null
  "$cmake_bin" --install "$work/build-$name" >/dev/null
  touch "$prefix/.built-$name"
  echo "build-deps: $name built in $((SECONDS - start)) s"
}

fetch onetbb
# Static TBB on Linux would still dlopen libtbbmalloc, libtbbbind and
# libiomp5 at run time through weak dlopen symbols, taking the system's
# where they exist: without weak symbols it loads nothing (malloc stands in
# for its allocator) and the programs and wheels stay self-contained.
build tbb "$work/onetbb" -DTBB_TEST=OFF -DTBB_EXAMPLES=OFF -DTBB_STRICT=OFF \
  -DTBBMALLOC_BUILD=OFF -DCMAKE_CXX_FLAGS=-D__TBB_WEAK_SYMBOLS_PRESENT=0
fetch highway
# The core library, and of the contrib part only the math headers mfwindow
# includes (the contrib library's sort alone would take minutes a target).
build hwy "$work/highway" -DHWY_ENABLE_TESTS=OFF -DHWY_ENABLE_EXAMPLES=OFF \
  -DHWY_ENABLE_CONTRIB=OFF -DHWY_ENABLE_INSTALL=ON -DHWY_WARNINGS_ARE_ERRORS=OFF
mkdir -p "$prefix/include/hwy/contrib/math"
cp "$work/highway/hwy/contrib/math/math-inl.h" "$prefix/include/hwy/contrib/math/"
# Highway's own build installs no CMake package (Debian adds one): a small
# one for the static library.
if [ ! -f "$prefix/lib/cmake/hwy/hwy-config.cmake" ]; then
  mkdir -p "$prefix/lib/cmake/hwy"
  cat > "$prefix/lib/cmake/hwy/hwy-config.cmake" <<'CONFIG'
get_filename_component(_hwy_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET hwy::hwy)
  add_library(hwy::hwy STATIC IMPORTED)
  set_target_properties(hwy::hwy PROPERTIES
    IMPORTED_LOCATION "${_hwy_prefix}/lib/libhwy.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_hwy_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS HWY_STATIC_DEFINE)
endif()
CONFIG
fi
# CLI11 is headers only: Debian's, as the Linux build uses it.
if [ ! -f "$prefix/lib/cmake/CLI11/CLI11Config.cmake" ]; then
  mkdir -p "$prefix/include" "$prefix/lib/cmake"
  cp -r /usr/include/CLI "$prefix/include/"
  cp -r /usr/share/cmake/CLI11 "$prefix/lib/cmake/"
fi
fetch fftw3
# SSE2 codelets only: FFTW's CMake build gives its AVX flags to every file,
# which would make the library need AVX2 and fuse its arithmetic. Its own
# aligned allocation (mingw-w64 has no memalign).
build fftw "$work/fftw3" -DBUILD_TESTS=OFF -DENABLE_SSE2=ON -DENABLE_THREADS=OFF \
  -DCMAKE_C_FLAGS="-DWITH_OUR_MALLOC"
if [ "$tests" = --tests ]; then
  build gtest /usr/src/googletest -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -Dgtest_disable_pthreads=OFF
fi
echo "The libraries are in $prefix"
