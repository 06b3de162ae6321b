"""pip's build of the Python package: the project's own CMake build makes the module.

    python3 -m pip install --no-build-isolation .

The package's Python sources come from python/veskar; the compiled module and
the library it links are built by CMake and installed beside them.
"""

import os
import pathlib
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(Veskar VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, extension):
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        # The folder that holds the package in the wheel being made.
        package_root = pathlib.Path(self.get_ext_fullpath(extension.name)).resolve().parents[1]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(len(os.sched_getaffinity(0))))
        subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                               "-DVESKAR_BUILD_TESTS=OFF", "-DVESKAR_BUILD_PYTHON=ON",
                               "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", str(build_dir), "--target", "_core", "-j", jobs])
        subprocess.check_call(["cmake", "--install", str(build_dir), "--component", "python",
                               "--prefix", str(package_root)])


setup(
    version=project_version(),
    packages=["veskar"],
    package_dir={"": "python"},
    ext_modules=[Extension("veskar._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
