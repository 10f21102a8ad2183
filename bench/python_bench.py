#!/usr/bin/python3
"""The Python package's costs, in one run: binding overhead, peers on arrays, and Dask's speed-up.

Usage: PYTHONPATH=build-bench/python /usr/bin/python3 bench/python_bench.py \
           --bench build-bench/bench/axiswarp_bench [--runs N] [--dask-size ROWS COLS]

1. axiswarp.call on jobs J1 and J2 (the 3000-by-4000 RGB uint8 image of the
   kernel benchmarks to 750-by-1000 and 6000-by-8000, cubic, two calls, both
   pass orders) beside the same two calls through the C++ stand-in host,
   timed by the kernel benchmark binary (its J*/pair-*/module jobs). The
   ratio shows what the binding adds: argument handling only, no copies.
2. axiswarp.resize of that image to 750-by-1000 beside Pillow (Image.resize,
   BICUBIC), OpenCV (cv2.resize, INTER_CUBIC and INTER_AREA, one thread) and
   scikit-image (transform.resize, order 3 with anti-aliasing), each on the
   same NumPy array.
3. axiswarp.dask.resize of a large uint8 volume on a LocalCluster of 1 and
   of 2 single-threaded worker processes (loopback only), data made on the
   workers and results kept there (persist), so the times are the resize's.
4. axiswarp.dask.resize of a 12000-by-12000 float32 image to 6000-by-6000
   (cubic, chunks 1024x1024): on one thread of the threaded scheduler (data
   in this process), and on 1 and 2 single-threaded worker processes as in 3.
   The targets: 2 processes well ahead of 1, and 1 process within 1.3x of
   one thread.
5. examples/resize_zarr_volume.py on a 512 MiB and a 2 GiB uint16 volume in
   2 MiB chunks: its peak memory above the interpreter, the target being at
   most 4 input chunks plus 4 output chunks whatever the volume's size.

Every entry is the median of --runs timed runs after one warm-up.
"""

import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers import make_image, median_ms  # noqa: E402


def host_call_medians(bench, runs):
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--benchmark_filter=J[12]/pair-.*/module/", f"--benchmark_repetitions={runs}",
                        "--benchmark_report_aggregates_only=true", f"--benchmark_out={out.name}",
                        "--benchmark_out_format=json"], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        data = json.load(open(out.name))
    found = {}
    for run in data["benchmarks"]:
        if run.get("aggregate_name") == "median":
            job, order, _ = run["run_name"].removesuffix("/real_time").split("/")
            assert run["time_unit"] == "ms"
            found[(job, order)] = run["real_time"]
    return found


def binding_rows(np, axiswarp, image, runs):
    jobs = {"J1": (750, 1000), "J2": (6000, 8000)}
    rows, cols = image.shape[:2]
    result = {}
    for job, (out_rows, out_cols) in jobs.items():
        row_tables = axiswarp.tables(rows, out_rows)
        col_tables = axiswarp.tables(cols, out_cols)
        for order, passes in (("pair-rows-first", [(1, row_tables), (2, col_tables)]),
                              ("pair-cols-first", [(2, col_tables), (1, row_tables)])):
            def run():
                current = image
                for dim, (w, i) in passes:
                    current = axiswarp.call(current, w, i, dim)
                return current
            result[(job, order)] = median_ms(run, runs)
    return result


def peer_rows(np, axiswarp, image, runs):
    import cv2
    import skimage
    import skimage.transform
    from PIL import Image
    cv2.setNumThreads(1)
    c_order = np.ascontiguousarray(image)
    picture = Image.fromarray(c_order, "RGB")
    rows = [
        ("axiswarp.resize, cubic (two module calls)", median_ms(lambda: axiswarp.resize(image, (750, 1000)), runs)),
        ("axiswarp.resize, cubic, C-order input", median_ms(lambda: axiswarp.resize(c_order, (750, 1000)), runs)),
        ("Pillow Image.resize BICUBIC (incl. fromarray/asarray)",
         median_ms(lambda: np.asarray(Image.fromarray(c_order, "RGB").resize((1000, 750), Image.Resampling.BICUBIC)),
                   runs)),
        ("Pillow Image.resize BICUBIC (image object)",
         median_ms(lambda: picture.resize((1000, 750), Image.Resampling.BICUBIC), runs)),
        ("OpenCV cv2.resize INTER_CUBIC", median_ms(lambda: cv2.resize(c_order, (1000, 750),
                                                                        interpolation=cv2.INTER_CUBIC), runs)),
        ("OpenCV cv2.resize INTER_AREA", median_ms(lambda: cv2.resize(c_order, (1000, 750),
                                                                       interpolation=cv2.INTER_AREA), runs)),
        ("scikit-image transform.resize order 3, anti_aliasing",
         median_ms(lambda: skimage.transform.resize(c_order, (750, 1000), order=3, anti_aliasing=True,
                                                    preserve_range=True).astype(np.uint8), max(1, runs // 2))),
    ]
    versions = f"Pillow {Image.__version__}, OpenCV {cv2.__version__}, scikit-image {skimage.__version__}"
    return rows, versions


def dask_rows(size, runs):
    import dask.array as da
    import numpy as np
    from distributed import Client, LocalCluster, wait

    import axiswarp.dask

    rows, cols = size

    def block(block_info=None):
        (r0, r1), (c0, c1), (p0, p1) = block_info[None]["array-location"]
        i = np.arange(r0, r1, dtype=np.uint64)[:, None, None]
        j = np.arange(c0, c1, dtype=np.uint64)[None, :, None]
        p = np.arange(p0, p1, dtype=np.uint64)[None, None, :]
        return ((i * 7 + j * 13 + p * 101 + ((i * j) >> np.uint64(5))) & np.uint64(255)).astype(np.uint8)

    chunks = da.core.normalize_chunks((1024, 1024, 3), (rows, cols, 3))
    result = {}
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None, worker_dashboard_address=None, silence_logs=40) as cluster, \
                Client(cluster) as client:
            client.wait_for_workers(workers, timeout=60)
            source = client.persist(da.map_blocks(block, dtype=np.uint8, chunks=chunks))
            wait(source)

            def run():
                out = client.persist(axiswarp.dask.resize(source, (rows // 4, cols // 4), kernel="lanczos3"))
                wait(out)
                client.cancel(out)

            result[workers] = median_ms(run, runs)
    return result


def float_dask_rows(size, runs):
    import dask
    import dask.array as da
    import numpy as np
    from distributed import Client, LocalCluster, wait

    import axiswarp.dask

    rows, cols = size
    chunks = da.core.normalize_chunks((1024, 1024), (rows, cols))

    def block(block_info=None):
        (r0, r1), (c0, c1) = block_info[None]["array-location"]
        i = np.arange(r0, r1, dtype=np.float32)[:, None]
        j = np.arange(c0, c1, dtype=np.float32)[None, :]
        return np.sin(i / 37.0) * np.cos(j / 53.0) + ((i * 7 + j * 13) % 101) / np.float32(101)

    out_shape = (rows // 2, cols // 2)
    result = {}
    # One thread, data in this process.
    source = da.map_blocks(block, dtype=np.float32, chunks=chunks).persist(scheduler="threads")

    def run_threads():
        with dask.config.set(scheduler="threads", num_workers=1):
            out = axiswarp.dask.resize(source, out_shape, kernel="cubic").persist()
        del out

    result["1 thread"] = median_ms(run_threads, runs)
    del source
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None, worker_dashboard_address=None, silence_logs=40) as cluster, \
                Client(cluster) as client:
            client.wait_for_workers(workers, timeout=60)
            source = client.persist(da.map_blocks(block, dtype=np.float32, chunks=chunks))
            wait(source)

            def run():
                # Cancelled, not just dropped: the next run's graph has the
                # same keys, and must not find this one's results.
                out = client.persist(axiswarp.dask.resize(source, out_shape, kernel="cubic"))
                wait(out)
                client.cancel(out)

            result[f"{workers} worker process{'es' if workers > 1 else ''}"] = median_ms(run, runs)
    return result


def zarr_peaks(volumes):
    # The example prints its own peak; each size runs in a fresh interpreter.
    example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "resize_zarr_volume.py")
    found = {}
    for mib in volumes:
        out = subprocess.run([sys.executable, example, "--volume-mib", str(mib)], check=True, capture_output=True,
                             text=True, timeout=3600).stdout
        line = next(line for line in out.splitlines() if line.startswith("peak memory"))
        above = float(line.split(": ", 1)[1].split(" MiB above")[0])
        seconds = float(next(line for line in out.splitlines() if " s with " in line).split(", ")[-1].split(" s")[0])
        found[mib] = (above, seconds, line)
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", required=True, help="the axiswarp_bench binary")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=3, help="alternating rounds of the binding comparison")
    parser.add_argument("--only", choices=["binding", "peers", "dask", "dask-float", "zarr"],
                        help="run one part alone")
    parser.add_argument("--dask-size", nargs=2, type=int, default=(12000, 16000), metavar=("ROWS", "COLS"))
    parser.add_argument("--float-size", nargs=2, type=int, default=(12000, 12000), metavar=("ROWS", "COLS"))
    parser.add_argument("--zarr-mib", nargs="+", type=float, default=(512, 2048), metavar="MIB")
    args = parser.parse_args()

    import numpy as np

    import axiswarp

    image = np.asfortranarray(make_image(np))
    print(f"# {platform.node()}, {platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
          f"NumPy {np.__version__}; medians of {args.runs} in one run")

    if args.only in (None, "binding"):
        binding_table(args, np, axiswarp, image)
    if args.only in (None, "peers"):
        peer_table(args, np, axiswarp, image)
    if args.only in (None, "dask"):
        dask_table(args)
    if args.only in (None, "dask-float"):
        float_dask_table(args)
    if args.only in (None, "zarr"):
        zarr_table(args)


def binding_table(args, np, axiswarp, image):
    # Rounds alternate between the two hosts, so that a shared machine's load
    # falls on both alike; each figure is the median of the rounds' medians.
    rounds = [(binding_rows(np, axiswarp, image, args.runs), host_call_medians(args.bench, args.runs))
              for _ in range(args.rounds)]
    python = {k: statistics.median(r[0][k] for r in rounds) for k in rounds[0][0]}
    host = {k: statistics.median(r[1][k] for r in rounds) for k in rounds[0][0]}
    print(f"\nTwo module calls per job, {args.rounds} alternating rounds of {args.runs} runs each\n")
    print("| job, pass order | axiswarp.call (ms) | C++ host calls (ms) | ratio |")
    print("|---|---:|---:|---:|")
    for key in sorted(python):
        print(f"| {key[0]} {key[1]} | {python[key]:.1f} | {host[key]:.1f} | {python[key] / host[key]:.3f} |")
    # What the binding adds to every call, whatever its size: a 4-by-4 call.
    tiny = np.ones((4, 4), order="F"), np.ones((1, 4), order="F"), np.ones((1, 4), order="F")
    per_call = median_ms(lambda: [axiswarp.call(*tiny, 1) for _ in range(1000)], args.runs)
    print(f"\nA 4-by-4 call through axiswarp.call takes {per_call:.1f} µs (median of {args.runs} runs of 1000 calls).")


def peer_table(args, np, axiswarp, image):
    rows, versions = peer_rows(np, axiswarp, image, args.runs)
    base = rows[0][1]
    print(f"\n3000x4000x3 uint8 to 750x1000 on one thread ({versions})\n")
    print("| what | ms | ÷ axiswarp.resize |")
    print("|---|---:|---:|")
    for what, ms in rows:
        print(f"| {what} | {ms:.1f} | {ms / base:.2f} |")


def dask_table(args):
    times = dask_rows(args.dask_size, max(3, args.runs // 2 + 1))
    rows, cols = args.dask_size
    print(f"\naxiswarp.dask.resize of {rows}x{cols}x3 uint8 to {rows // 4}x{cols // 4}, lanczos3, "
          "chunks 1024x1024x3, LocalCluster of single-threaded worker processes\n")
    print("| workers | ms | speed-up |")
    print("|---:|---:|---:|")
    for workers, ms in times.items():
        print(f"| {workers} | {ms:.0f} | {times[1] / ms:.2f} |")



def float_dask_table(args):
    times = float_dask_rows(args.float_size, max(3, args.runs // 2 + 1))
    rows, cols = args.float_size
    base = times["1 thread"]
    one = times["1 worker process"]
    print(f"\naxiswarp.dask.resize of {rows}x{cols} float32 to {rows // 2}x{cols // 2}, cubic, chunks 1024x1024\n")
    print("| where | ms | ÷ one thread | speed-up over 1 process |")
    print("|---|---:|---:|---:|")
    for where, ms in times.items():
        print(f"| {where} | {ms:.0f} | {ms / base:.2f} | {one / ms:.2f} |")


def zarr_table(args):
    found = zarr_peaks(args.zarr_mib)
    print("\nexamples/resize_zarr_volume.py (uint16, chunks 256x256x16 = 2 MiB, half size, lanczos3, "
          "threads of this machine)\n")
    print("| volume MiB | peak above the interpreter, MiB | input + output chunk pairs | s |")
    print("|---:|---:|---:|---:|")
    for mib, (above, seconds, _) in found.items():
        print(f"| {mib:.0f} | {above:.0f} | {above / 2.5:.1f} | {seconds:.2f} |")


if __name__ == "__main__":
    main()
