#!/usr/bin/python3
"""Builds the wheel, installs it into a fresh venv and calls the package from outside the source tree.

Usage: wheel_install_check.py --source ROOT --cmake-build-dir BUILD --tool AXISWARP --work DIR

The wheel is built as a user without PyPI builds it (python3 -m build
--no-isolation --wheel), reusing BUILD's compiled targets; the venv sees
Debian's NumPy (--system-site-packages). Then the same venv takes
`pip install --no-build-isolation .` of the source tree. After each install,
the installed package must report the tool's version through both
axiswarp.__version__ and its metadata, load the module file that lies
beside it, resize, and fail at import naming the file when $AXISWARP_MODULE
points at a missing one.
"""

import argparse
import os
import shutil
import subprocess
import sys

CHECK = r"""
import importlib.metadata, os, sys
import numpy as np
import axiswarp
expected_version, work = sys.argv[1], sys.argv[2]
package = os.path.dirname(axiswarp.__file__)
assert package.startswith(os.path.join(work, "venv")), f"imported {package}, not the venv's copy"
assert axiswarp.__version__ == expected_version, (axiswarp.__version__, expected_version)
assert importlib.metadata.version("axiswarp") == expected_version
assert os.path.dirname(axiswarp.module_path()) == package, axiswarp.module_path()
ramp = np.add.outer(np.arange(8.0), np.arange(6.0) * 8)
out = axiswarp.resize(ramp, (4, 3), kernel="box")
# Halving with a box averages each 2-by-2 block: exact for these small integers.
assert out.shape == (4, 3) and np.array_equal(out, ramp[::2, ::2] + 0.5 + 8 * 0.5), out
print("ok", package)
"""


def run(argv, **kw):
    print("+", " ".join(argv), flush=True)
    return subprocess.run(argv, check=True, **kw)


def checks(python, work, version, env):
    run([python, "-c", CHECK, version, work], cwd=work, env=env)
    missing = os.path.join(work, "no-such-module.zupa64")
    failed = subprocess.run([python, "-c", "import axiswarp"], cwd=work, capture_output=True, text=True,
                            env=env | {"AXISWARP_MODULE": missing})
    assert failed.returncode != 0 and "ImportError" in failed.stderr and missing in failed.stderr, failed.stderr


def main():
    parser = argparse.ArgumentParser()
    for name in ("--source", "--cmake-build-dir", "--tool", "--work"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "AXISWARP_MODULE")}
    env["AXISWARP_CMAKE_BUILD_DIR"] = os.path.abspath(args.cmake_build_dir)
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    version = subprocess.run([args.tool, "--version"], check=True, capture_output=True,
                             text=True).stdout.split()[1]

    dist = os.path.join(work, "dist")
    run([sys.executable, "-m", "build", "--no-isolation", "--wheel", "--outdir", dist, args.source], env=env,
        stdout=subprocess.DEVNULL)
    (wheel,) = [os.path.join(dist, f) for f in os.listdir(dist) if f.endswith(".whl")]
    assert f"axiswarp-{version}-" in os.path.basename(wheel), wheel

    run([sys.executable, "-m", "venv", "--system-site-packages", os.path.join(work, "venv")])
    python = os.path.join(work, "venv", "bin", "python")
    pip = [python, "-m", "pip", "--disable-pip-version-check", "-q"]
    run(pip + ["install", "--no-index", wheel], env=env, cwd=work)
    checks(python, work, version, env)

    run(pip + ["uninstall", "-y", "axiswarp"], env=env, cwd=work)
    run(pip + ["install", "--no-index", "--no-build-isolation", args.source], env=env, cwd=work)
    checks(python, work, version, env)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
