#!/usr/bin/python3
"""General-purpose image libraries beside the module on jobs J1, J2 and P1-P3.

Usage: /usr/bin/python3 bench/peers.py --bench build-bench/bench/axiswarp_bench [--runs N]

Times, on one thread and in one run, Pillow's Image.resize (BICUBIC,
LANCZOS) and OpenCV's cv2.resize (INTER_CUBIC; INTER_AREA when shrinking)
on the 3000-by-4000 RGB image of the kernel benchmarks (the same values),
to 750-by-1000 (J1) and to 6000-by-8000 (J2), and prints one table: each
peer's median time and its ratio to the module's median time on the same job.
P1 to P3 resize a 2560-by-1600 RGB image to 320x200, 2048x1280 and
5478x3424, bicubic, and are also given in source megapixels per second.
The module's times come from the kernel benchmark binary, run here: its
kernels alone (both passes, the faster order) and whole module calls through
the stand-in host (which include creating the output arrays).

The peers are Debian packages (python3-pil, python3-opencv, python3-numpy);
missing ones are installed with apt-get first (through scripts/apt-retry.sh,
which rides out a mirror in the middle of a sync).
"""
import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time

PACKAGES = ["python3-numpy", "python3-pil", "python3-opencv"]
# The photograph jobs: 2560x1600 RGB to (width, height).
PHOTO_JOBS = {"P1-320x200": (320, 200), "P2-2048x1280": (2048, 1280), "P3-5478x3424": (5478, 3424)}
PHOTO_MEGAPIXELS = 2560 * 1600 / 1e6


def ensure_peers():
    try:
        import cv2  # noqa: F401
        import numpy  # noqa: F401
        import PIL  # noqa: F401
        return
    except ImportError:
        pass
    apt = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "apt-retry.sh")]
    print(f"peers: installing {' '.join(PACKAGES)} with apt-get", file=sys.stderr)
    subprocess.run(apt + ["update", "-qq"], check=True)
    subprocess.run(apt + ["install", "-y", "-qq", "--no-install-recommends"] + PACKAGES, check=True)
    # Debian's modules live in the system interpreter's dist-packages.
    if sys.executable != "/usr/bin/python3":
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)


def make_image(np, rows=3000, cols=4000):
    """The benchmark image: element (i, j, p) = (7i + 13j + 101p + (i*j >> 5)) & 255."""
    i = np.arange(rows, dtype=np.uint64)[:, None, None]
    j = np.arange(cols, dtype=np.uint64)[None, :, None]
    p = np.arange(3, dtype=np.uint64)[None, None, :]
    return ((i * 7 + j * 13 + p * 101 + ((i * j) >> np.uint64(5))) & np.uint64(255)).astype(np.uint8)


def median_ms(function, runs):
    function()  # warm-up: first-touch page faults and lazy initialisation
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        times.append((time.perf_counter() - start) * 1e3)
    return statistics.median(times)


def module_times(bench, runs):
    """Medians (ms) of the module's kernels and whole calls on J1 and J2."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--benchmark_filter=(J[12]/pair-.*|P[123]-.*/pair)/(fast|module)",
                        f"--benchmark_repetitions={runs}", "--benchmark_report_aggregates_only=true",
                        f"--benchmark_out={out.name}", "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        data = json.load(open(out.name))
    found = {}
    for run in data["benchmarks"]:
        if run.get("aggregate_name", "median") != "median":
            continue
        job, order, variant = run["run_name"].removesuffix("/real_time").split("/")
        assert run["time_unit"] == "ms"
        found.setdefault((job, variant), {})[order] = run["real_time"]
    # The faster pass order of each job, and that order's whole-call time.
    result = {}
    for job in ("J1", "J2", *PHOTO_JOBS):
        orders = found[(job, "fast")]
        best = min(orders, key=orders.get)
        result[job] = (best, orders[best], found[(job, "module")][best])
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", required=True, help="the axiswarp_bench binary")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per entry (median)")
    args = parser.parse_args()
    ensure_peers()
    import cv2
    import numpy as np
    from PIL import Image

    cv2.setNumThreads(1)
    image = make_image(np)
    picture = Image.fromarray(image, "RGB")
    jobs = {"J1": (1000, 750), "J2": (8000, 6000)}  # (width, height)
    peers = []
    for job, size in jobs.items():
        shrink = size[0] < image.shape[1]
        peers.append((job, "Pillow", "resize BICUBIC",
                      median_ms(lambda: picture.resize(size, Image.Resampling.BICUBIC), args.runs)))
        peers.append((job, "Pillow", "resize LANCZOS",
                      median_ms(lambda: picture.resize(size, Image.Resampling.LANCZOS), args.runs)))
        peers.append((job, "OpenCV", "resize INTER_CUBIC",
                      median_ms(lambda: cv2.resize(image, size, interpolation=cv2.INTER_CUBIC), args.runs)))
        if shrink:
            peers.append((job, "OpenCV", "resize INTER_AREA",
                          median_ms(lambda: cv2.resize(image, size, interpolation=cv2.INTER_AREA), args.runs)))
    photo = make_image(np, 1600, 2560)
    photo_picture = Image.fromarray(photo, "RGB")
    for job, size in PHOTO_JOBS.items():
        peers.append((job, "Pillow", "resize BICUBIC",
                      median_ms(lambda: photo_picture.resize(size, Image.Resampling.BICUBIC), args.runs)))
        peers.append((job, "OpenCV", "resize INTER_CUBIC",
                      median_ms(lambda: cv2.resize(photo, size, interpolation=cv2.INTER_CUBIC), args.runs)))
    module = module_times(args.bench, args.runs)

    import PIL
    print(f"# {platform.node()}, {platform.processor() or platform.machine()}, "
          f"Pillow {PIL.__version__}, OpenCV {cv2.__version__}, one thread, median of {args.runs}")
    head = (f"{'job':<13} {'who':<8} {'what':<34} {'ms':>9} {'÷ module kernels':>17} {'÷ module calls':>15}"
            f" {'source Mpx/s':>13}")
    print(head)
    print("-" * len(head))
    for job in (*jobs, *PHOTO_JOBS):
        order, kernels, calls = module[job]
        megapixels = PHOTO_MEGAPIXELS if job in PHOTO_JOBS else 3000 * 4000 / 1e6

        def rate(ms):
            return f"{megapixels / (ms / 1e3):>13.0f}"

        print(f"{job:<13} {'axiswarp':<8} {'kernels, cubic, ' + order:<34} {kernels:>9.1f} {1.0:>17.2f} "
              f"{kernels / calls:>15.2f} {rate(kernels)}")
        print(f"{job:<13} {'axiswarp':<8} {'two module calls, ' + order:<34} {calls:>9.1f} "
              f"{calls / kernels:>17.2f} {1.0:>15.2f} {rate(calls)}")
        for peer_job, who, what, ms in peers:
            if peer_job == job:
                print(f"{job:<13} {who:<8} {what:<34} {ms:>9.1f} {ms / kernels:>17.2f} {ms / calls:>15.2f}"
                      f" {rate(ms)}")


if __name__ == "__main__":
    main()
