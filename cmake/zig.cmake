# Compiling with zig's clang for another system (the ziglang package of the
# Python index), against TBB, Highway and FFTW built for the target from
# their Debian sources (tools/cross/build-deps.sh). ZIG names the zig
# executable and ZIG_TARGET the target:
#  - "x86_64-macos", "aarch64-macos": zig's macOS SDK headers; nothing built
#    can run here, `make check-macos` shows that it compiles and links;
#  - "x86_64-linux-gnu.2.17", "aarch64-linux-gnu.2.17": Linux programs and
#    the Python core that need no glibc newer than the version named, with
#    LLVM's C++ library linked in (the wheel of `make wheel`).
#   ZIG=.../ziglang/zig ZIG_TARGET=aarch64-macos cmake -S . -B build-macos \
#     -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake \
#     -DMFWINDOW_CROSS_DEPS=$PWD/build-macos-deps/prefix
if("$ENV{ZIG_TARGET}" MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  if("$ENV{ZIG_TARGET}" MATCHES "^aarch64")
    set(CMAKE_SYSTEM_PROCESSOR arm64)
  else()
    set(CMAKE_SYSTEM_PROCESSOR x86_64)
  endif()
  # zig links for the target itself; CMake's macOS defaults would ask for
  # the host's SDK and its tools.
  set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
  set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")
  set(CMAKE_INSTALL_NAME_TOOL true)
elseif("$ENV{ZIG_TARGET}" MATCHES "-linux")
  set(CMAKE_SYSTEM_NAME Linux)
  string(REGEX MATCH "^[a-z0-9_]+" CMAKE_SYSTEM_PROCESSOR "$ENV{ZIG_TARGET}")
else()
  message(FATAL_ERROR "cmake/zig.cmake: ZIG_TARGET is \"$ENV{ZIG_TARGET}\", "
                      "neither a macOS nor a Linux target")
endif()
set(tools ${CMAKE_CURRENT_LIST_DIR}/../tools/cross)
set(CMAKE_C_COMPILER ${tools}/zig-cc)
set(CMAKE_CXX_COMPILER ${tools}/zig-c++)
set(CMAKE_AR ${tools}/zig-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${tools}/zig-ranlib CACHE FILEPATH "")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MFWINDOW_CROSS_DEPS)
set(CMAKE_FIND_ROOT_PATH ${MFWINDOW_CROSS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(CMAKE_SYSTEM_NAME STREQUAL Linux)
  # The wheel's build also needs the building interpreter's headers and its
  # pybind11; the libraries' packages are found under the root first.
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
endif()
if(MFWINDOW_CROSS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${MFWINDOW_CROSS_DEPS}/lib/pkgconfig")
endif()
set(ENV{PKG_CONFIG_PATH} "")
