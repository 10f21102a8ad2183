"""The package's build: the project's CMake build makes the extension and the module file.

setuptools only collects what CMake made. The extension ``axiswarp._native``
and the module file are built by the CMake targets of python/CMakeLists.txt
and copied into the wheel beside the pure-Python files, so the installed
package finds the module next to itself.

Environment:
  AXISWARP_CMAKE_BUILD_DIR  a CMake build tree to build in (an existing one is
                            reused as it is configured, so nothing is compiled
                            twice); default build/pip-cmake in the source tree
  AXISWARP_CMAKE_ARGS       extra arguments for configuring a new tree
  CMAKE_BUILD_PARALLEL_LEVEL  the number of compile jobs (CMake's own variable)
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


def project_version():
    # One source of truth: the version in the top-level project() call.
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"project\(\s*axiswarp\s+VERSION\s+([0-9][0-9.]*)", f.read())
    if not match:
        raise RuntimeError("CMakeLists.txt: no `project(axiswarp VERSION x.y.z` line")
    return match.group(1)


class CMakeBuild(build_ext):
    """Builds the package's CMake targets and copies the built package into build_lib."""

    def run(self):
        build_dir = os.path.abspath(os.environ.get("AXISWARP_CMAKE_BUILD_DIR")
                                    or os.path.join(ROOT, "build", "pip-cmake"))
        if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
            configure = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                         f"-DPython3_EXECUTABLE={sys.executable}", "-DAXISWARP_BUILD_TESTS=OFF"]
            if shutil.which("ninja"):
                configure += ["-G", "Ninja"]
            if shutil.which("ccache"):
                configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
            configure += shlex.split(os.environ.get("AXISWARP_CMAKE_ARGS", ""))
            subprocess.run(configure, check=True)
        build = ["cmake", "--build", build_dir, "--target", "axiswarp_python"]
        if self.parallel:
            build += ["-j", str(self.parallel)]
        subprocess.run(build, check=True)

        built = os.path.join(build_dir, "python", "axiswarp")
        extension = self.get_ext_fullpath("axiswarp._native")
        target = os.path.dirname(extension)
        os.makedirs(target, exist_ok=True)
        for name in os.listdir(built):
            source = os.path.join(built, name)
            if os.path.isfile(source):
                # The extension under the name setuptools expects for this interpreter.
                destination = extension if name.startswith("_native.") else os.path.join(target, name)
                shutil.copy2(source, destination)


setup(
    version=project_version(),
    packages=["axiswarp"],
    package_dir={"": "python"},
    package_data={"axiswarp": ["py.typed", "*.pyi"]},
    # A placeholder for the extension CMake builds: it makes the wheel
    # platform-specific and routes the build through CMakeBuild.
    ext_modules=[Extension("axiswarp._native", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
    # setuptools' own scratch space, apart from the CMake trees under build/.
    options={"build": {"build_base": os.path.join("build", "pip-setuptools")}},
)
