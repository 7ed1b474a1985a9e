"""Builds the brackwater_dat package's extension with the project's CMake
(the library and the module alone, Release) and puts the package as the
build lays it out (the extension, __init__.py, the type stub and py.typed)
into the wheel. The version is the project's own, from CMakeLists.txt."""

import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).parent.resolve()


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(brackwater_dat VERSION (\d+\.\d+\.\d+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DBRACKWATER_TESTS=OFF",
                        "-DBRACKWATER_TOOL=OFF", "-DBRACKWATER_PYTHON=ON",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "brackwater_dat_python"],
                       check=True)
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        for file in (build / "python" / "brackwater_dat").iterdir():
            shutil.copy2(file, target / file.name)


setup(
    version=project_version(),
    packages=["brackwater_dat"],
    package_dir={"brackwater_dat": "crates/brackwater-dat-python/package"},
    package_data={"brackwater_dat": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("brackwater_dat._brackwater_dat", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
