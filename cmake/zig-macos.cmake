# Compiling and linking the core and both programs for macOS with zig's
# clang and its macOS SDK headers (the ziglang package of the Python
# index), against TBB, Highway and FFTW built for the target from their
# Debian sources (tools/cross/build-deps.sh). Nothing built here can run on
# this machine: `make check-macos` shows that it compiles and links.
#   ZIG=.../ziglang/zig ZIG_TARGET=aarch64-macos cmake -S . -B build-macos \
#     -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake \
#     -DMFWINDOW_CROSS_DEPS=$PWD/build-macos-deps/prefix
set(CMAKE_SYSTEM_NAME Darwin)
if("$ENV{ZIG_TARGET}" MATCHES "^aarch64")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(tools ${CMAKE_CURRENT_LIST_DIR}/../tools/cross)
set(CMAKE_C_COMPILER ${tools}/zig-cc)
set(CMAKE_CXX_COMPILER ${tools}/zig-c++)
set(CMAKE_AR ${tools}/zig-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${tools}/zig-ranlib CACHE FILEPATH "")
# zig links for the target itself; CMake's macOS defaults would ask for the
# host's SDK and its tools.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")
set(CMAKE_INSTALL_NAME_TOOL true)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MFWINDOW_CROSS_DEPS)
set(CMAKE_FIND_ROOT_PATH ${MFWINDOW_CROSS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(MFWINDOW_CROSS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${MFWINDOW_CROSS_DEPS}/lib/pkgconfig")
endif()
set(ENV{PKG_CONFIG_PATH} "")
