# Cross-compiling the Windows programs on a Debian (x86-64) host with
# mingw-w64 (g++-mingw-w64-x86-64-posix: the posix thread model, which
# std::thread needs), against TBB, Highway, FFTW and GoogleTest built for
# the target from their Debian sources into MFWINDOW_CROSS_DEPS
# (tools/cross/build-deps.sh), and run under wine:
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake \
#         -DMFWINDOW_CROSS_DEPS=$PWD/build-windows-deps/prefix
# `make windows` and `make check-windows` do this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Handed on to try_compile projects, so that their finds look there too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MFWINDOW_CROSS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${MFWINDOW_CROSS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Two files that run alone: the C and C++ runtimes and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# wine's 64-bit loader itself: the wine script would ask for wine32 on
# standard error, and wine's own notes are silenced.
find_program(MFWINDOW_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(MFWINDOW_WINE64 NAMES wine64 wine)
if(MFWINDOW_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${MFWINDOW_WINE64})
endif()
# pkg-config (FFTW) reads the target's .pc files only.
if(MFWINDOW_CROSS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${MFWINDOW_CROSS_DEPS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(ENV{PKG_CONFIG_PATH} "")
