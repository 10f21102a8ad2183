"""The zarr example resizes a stored volume chunk by chunk to the NumPy result."""

import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import axiswarp

zarr = pytest.importorskip("zarr")
EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "resize_zarr_volume.py"


def test_zarr_volume_example(tmp_path):
    source, out = tmp_path / "in.zarr", tmp_path / "out.zarr"
    common = ["--make", "150", "97", "6", "--chunk", "40", "30", "4"]
    env = dict(os.environ)
    subprocess.run([sys.executable, EXAMPLE, "--make-only", "--source", source, *common], check=True, env=env,
                   timeout=120)
    run = subprocess.run([sys.executable, EXAMPLE, "--source", source, "--out", out, "--shape", "61", "200",
                          "--kernel", "lanczos3", "--workers", "2"], check=True, env=env, timeout=120,
                         capture_output=True, text=True)
    assert "peak memory" in run.stdout
    volume = zarr.open(str(source), mode="r")[:]
    resized = zarr.open(str(out), mode="r")
    assert resized.shape == (61, 200, 6)
    assert resized[:].tobytes() == axiswarp.resize(volume, (61, 200), kernel="lanczos3").tobytes()
