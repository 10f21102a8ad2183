#!/usr/bin/python3
"""Whole command-line runs of `axiswarp resize` beside vips and ImageMagick.

Usage: /usr/bin/python3 bench/whole_runs.py [--tool build/axiswarp] [--runs 7] [--work DIR]

Makes the test image once into DIR (default build-bench/whole-runs): the
Hubble deep field from python3-skimage's data, enlarged x6 with
`vips resize` to 6000x5232, saved as JPEG (quality 90) and PNG. Then times,
as whole processes, shrinking each file to 1/4 (1500x1308) with a cubic
kernel:

  axiswarp resize --kernel cubic --scale 0.25, one thread and every core
  vips resize 0.25 --kernel cubic, VIPS_CONCURRENCY=1 and vips's default
  vips thumbnail 1500 (shrinks on load where the format allows)
  convert -filter Catrom -resize 1500x, one thread (MAGICK_THREAD_LIMIT=1)

Commands run in turn, round after round, so that a slow spell of the shared
machine falls on all of them alike; the table gives each command's median
wall time, its ratio to the matching axiswarp run, and its median peak
resident memory (the child's own maximum RSS from wait4). It also gives the
two-core speed-up of axiswarp on one image and its peak memory against the
decoded image's size.

vips and ImageMagick are Debian packages (libvips-tools, imagemagick);
scripts/ensure-deps.sh bench installs them.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_images(work):
    jpg = os.path.join(work, "hubble.jpg")
    png = os.path.join(work, "hubble.png")
    if os.path.exists(jpg) and os.path.exists(png):
        return jpg, png
    os.makedirs(work, exist_ok=True)
    small = os.path.join(work, "hubble-small.png")
    big = os.path.join(work, "hubble-big.v")
    import skimage.data
    import skimage.io
    skimage.io.imsave(small, skimage.data.hubble_deep_field(), check_contrast=False)
    subprocess.run(["vips", "resize", small, big, "6"], check=True)
    subprocess.run(["vips", "copy", big, jpg + "[Q=90]"], check=True)
    subprocess.run(["vips", "copy", big, png], check=True)
    os.remove(big)
    os.remove(small)
    return jpg, png


def run_once(argv, env):
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}\n{err}")
    return wall, usage.ru_maxrss * 1024  # ru_maxrss is in KiB on Linux


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", default=os.path.join(ROOT, "build", "axiswarp"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--work", default=os.path.join(ROOT, "build-bench", "whole-runs"))
    args = parser.parse_args()
    jpg, png = make_images(args.work)
    out = os.path.join(args.work, "out")
    os.makedirs(out, exist_ok=True)
    cores = os.cpu_count() or 1
    base = dict(os.environ)
    one = dict(base, VIPS_CONCURRENCY="1", MAGICK_THREAD_LIMIT="1", OMP_NUM_THREADS="1")

    def commands(src, ext):
        o = lambda name: os.path.join(out, name + ext)  # noqa: E731
        tool = [args.tool, "resize", src, "--kernel", "cubic", "--scale", "0.25"]
        return [
            ("axiswarp resize, 1 thread", tool + ["--jobs", "1", "-o", o("aw1")], base, None),
            (f"axiswarp resize, {cores} threads", tool + ["--jobs", str(cores), "-o", o("awn")], base, None),
            ("vips resize, 1 thread", ["vips", "resize", src, o("v1"), "0.25", "--kernel", "cubic"], one, 0),
            ("vips resize, default threads", ["vips", "resize", src, o("vn"), "0.25", "--kernel", "cubic"], base, 1),
            ("vips thumbnail 1500, 1 thread", ["vips", "thumbnail", src, o("t1"), "1500"], one, 0),
            ("convert -resize (Catrom), 1 thread",
             ["convert", src, "-filter", "Catrom", "-resize", "1500x", o("c1")], one, 0),
        ]

    decoded = 6000 * 5232 * 3
    for name, src, ext in (("JPEG", jpg, ".jpg"), ("PNG", png, ".png")):
        cmds = commands(src, ext)
        times = {label: [] for label, *_ in cmds}
        peaks = {label: [] for label, *_ in cmds}
        for _ in range(args.runs):
            for label, argv, env, _ in cmds:
                wall, peak = run_once(argv, env)
                times[label].append(wall)
                peaks[label].append(peak)
        med = {label: statistics.median(v) for label, v in times.items()}
        aw = [cmds[0][0], cmds[1][0]]
        print(f"\n{name} 6000x5232 RGB to 1500x1308, cubic: medians of {args.runs} alternating runs\n")
        print("| command | wall (s) | vs axiswarp | peak RSS (MB) |")
        print("|---|---:|---:|---:|")
        for label, argv, env, against in cmds:
            ratio = "" if against is None else f"{med[label] / med[aw[against]]:.2f}x"
            print(f"| {label} | {med[label]:.3f} | {ratio} | {statistics.median(peaks[label]) / 1e6:.0f} |")
        print(f"\naxiswarp on {cores} threads against 1: {med[aw[0]] / med[aw[1]]:.2f}x faster; "
              f"peak memory {statistics.median(peaks[aw[0]]) / decoded:.2f}x the decoded image "
              f"({decoded / 1e6:.0f} MB)")


if __name__ == "__main__":
    main()
