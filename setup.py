"""Builds mfwindow's Python package: the pure-Python modules of
python/mfwindow and the compiled core mfwindow._core, which CMake builds
from this source tree (the target mfwindow_python only: no programs, no
tests). The metadata is in pyproject.toml; the version comes from project()
in CMakeLists.txt, its one place.

CMAKE_ARGS in the environment adds options to the CMake configuration (for
example -DCMAKE_BUILD_TYPE=Debug); CMAKE_BUILD_PARALLEL_LEVEL sets the
number of compile jobs.
"""

import os
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def cmake_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"project\(\s*mfwindow\s+VERSION\s+([0-9.]+)",
                          f.read())
    if not match:
        raise RuntimeError("no project(mfwindow VERSION ...) in CMakeLists.txt")
    return match.group(1)


class CMakeExtension(Extension):
    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class CMakeBuild(build_ext):
    """Configures the repository with CMake and builds one target, then
    copies the module it makes to where setuptools packs it."""

    def build_extension(self, ext):
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        config = "Debug" if self.debug else "Release"
        args = ["-S", ROOT, "-B", build_dir,
                "-DCMAKE_BUILD_TYPE=" + config,
                "-DMFWINDOW_TESTS=OFF", "-DMFWINDOW_BATCH=OFF",
                "-DMFWINDOW_PYTHON=ON",
                "-DPython3_EXECUTABLE=" + sys.executable]
        if shutil.which("ninja"):
            args += ["-G", "Ninja"]
        try:
            import pybind11
            args.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except ImportError:
            pass  # CMake looks for pybind11-dev's own config then
        args += shlex.split(os.environ.get("CMAKE_ARGS", ""))
        cmake = os.environ.get("CMAKE", "cmake")
        subprocess.run([cmake] + args, check=True)
        subprocess.run([cmake, "--build", build_dir, "--target", ext.target],
                       check=True)
        built = os.path.join(build_dir, "python", "mfwindow",
                             os.path.basename(self.get_ext_filename(
                                 ext.name)))
        destination = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(built, destination)


setup(
    version=cmake_version(),
    ext_modules=[CMakeExtension("mfwindow._core", target="mfwindow_python")],
    cmdclass={"build_ext": CMakeBuild},
    # Beside CMake's usual build folders (build/, build-*/), not in them.
    options={"build": {"build_base": "build-python"}},
)
