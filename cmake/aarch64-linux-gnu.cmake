# Cross-compiling for 64-bit Arm Linux on a Debian (x86-64) host, against
# Debian's arm64 multiarch development packages (libtbb-dev:arm64,
# libhwy-dev:arm64, libgtest-dev:arm64, libfftw3-dev:arm64,
# libstdc++-12-dev:arm64) and run
# under qemu-user:
#   cmake -S . -B build-arm64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# `make check-arm64` does this and runs the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Packages' libraries and CMake files in /usr/lib/aarch64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Test executables (and GoogleTest's test discovery) run under qemu; the
# multiarch loader /lib/ld-linux-aarch64.so.1 finds the arm64 libraries.
find_program(MFWINDOW_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64
             REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MFWINDOW_QEMU_AARCH64})
# pkg-config (FFTW) reads the arm64 packages' .pc files, not the host's.
set(ENV{PKG_CONFIG_LIBDIR}
    "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
