#!/usr/bin/python3
"""The Python package's costs, in one run: binding overhead, peers on arrays, and Dask's speed-up.

Usage: PYTHONPATH=build-bench/python /usr/bin/python3 bench/python_bench.py \
           --bench build-bench/bench/axiswarp_bench [--runs N] [--dask-size ROWS COLS]

1. axiswarp.call on jobs J1 and J2 (the 3000-by-4000 RGB uint8 image of the
   kernel benchmarks to 750-by-1000 and 6000-by-8000, cubic, two calls, both
   pass orders) beside the same two calls through the C++ stand-in host,
   timed by the kernel benchmark binary (its J*/pair-*/module jobs). The
   ratio shows what the binding adds: argument handling only, no copies.
2. axiswarp.resize of that image to 750-by-1000, on the Fortran-ordered and
   on the C-ordered (interleaved) array, beside Pillow (Image.resize,
   BICUBIC), OpenCV (cv2.resize, INTER_CUBIC and INTER_AREA, one thread) and
   scikit-image (transform.resize, order 3 with anti-aliasing), each on the
   same NumPy array, in alternating rounds; then the ratios of C order to
   Fortran order and to INTER_AREA.
3. axiswarp.resize of a 256x256x128 float32 volume to 128x128x64 (all three
   axes, cubic with anti-aliasing) beside scipy.ndimage.zoom(order=3) and
   skimage.transform.resize(order=3, anti_aliasing=True), runs alternating
   between them.
4. axiswarp.dask.resize of a large uint8 volume on a LocalCluster of 1 and
   of 2 single-threaded worker processes (loopback only), data made on the
   workers and results kept there (persist), so the times are the resize's.
5. Memory (--only memory): what fresh pages cost a user. axiswarp.resize of
   a float32 4000-by-4000 image to 8000-by-8000 (cubic) beside OpenCV
   INTER_CUBIC, right after other large arrays were freed, in a new process
   (first call) and in a warm loop; two Python threads on separate arrays
   beside Pillow's two threads; and, given --tool, `axiswarp resize
   --precise` of a 6000x5232 JPEG (made with Pillow) to 1/4 as a whole
   process. Each row gives wall, user and system time. (One worker process
   against one thread is part 6.)

6. (--only dask-float) axiswarp.dask.resize of a 12000-by-12000 float32
   image to 6000-by-6000 (cubic, chunks 1024x1024): on one thread of the
   threaded scheduler, and on 1 and 2 single-threaded worker processes.
7. (--only zarr) examples/resize_zarr_volume.py on a 512 MiB and a 2 GiB
   uint16 volume in 2 MiB chunks, each in a fresh interpreter: its peak
   memory above the interpreter, the target being at most 4 input chunks
   plus 4 output chunks whatever the volume's size.

Every entry is the median of --runs timed runs after one warm-up; the
memory rows alternate between the commands compared in each run.
"""

import argparse
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import threading
import time

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


def peer_rows(np, axiswarp, image, runs, rounds):
    import cv2
    import skimage
    import skimage.transform
    from PIL import Image
    cv2.setNumThreads(1)
    c_order = np.ascontiguousarray(image)
    picture = Image.fromarray(c_order, "RGB")
    entries = [
        ("axiswarp.resize, cubic (two module calls)", lambda: axiswarp.resize(image, (750, 1000))),
        ("axiswarp.resize, cubic, C-order input", lambda: axiswarp.resize(c_order, (750, 1000))),
        ("Pillow Image.resize BICUBIC (incl. fromarray/asarray)",
         lambda: np.asarray(Image.fromarray(c_order, "RGB").resize((1000, 750), Image.Resampling.BICUBIC))),
        ("Pillow Image.resize BICUBIC (image object)",
         lambda: picture.resize((1000, 750), Image.Resampling.BICUBIC)),
        ("OpenCV cv2.resize INTER_CUBIC", lambda: cv2.resize(c_order, (1000, 750), interpolation=cv2.INTER_CUBIC)),
        ("OpenCV cv2.resize INTER_AREA", lambda: cv2.resize(c_order, (1000, 750), interpolation=cv2.INTER_AREA)),
    ]
    # Rounds alternate between the entries, so that a shared machine's load
    # falls on all alike; each figure is the median of the rounds' medians.
    timed = [[median_ms(function, runs) for _, function in entries] for _ in range(rounds)]
    rows = [(what, statistics.median(r[k] for r in timed)) for k, (what, _) in enumerate(entries)]
    rows.append(("scikit-image transform.resize order 3, anti_aliasing",
                 median_ms(lambda: skimage.transform.resize(c_order, (750, 1000), order=3, anti_aliasing=True,
                                                            preserve_range=True).astype(np.uint8),
                           max(1, runs // 2))))
    versions = f"Pillow {Image.__version__}, OpenCV {cv2.__version__}, scikit-image {skimage.__version__}"
    return rows, versions


def alternating_medians_ms(functions, runs):
    """Median ms of each function, timed in rounds that run each once, so a shared machine's load falls on all."""
    for function in functions.values():
        function()  # warm-up
    times = {name: [] for name in functions}
    for _ in range(runs):
        for name, function in functions.items():
            start = time.perf_counter()
            function()
            times[name].append((time.perf_counter() - start) * 1e3)
    return {name: statistics.median(t) for name, t in times.items()}


def volume_rows(np, axiswarp, runs):
    import scipy
    import scipy.ndimage
    import skimage
    import skimage.transform
    rng = np.random.default_rng(0)
    # Smooth structure plus noise, so no method meets only trivial samples.
    z, y, x = np.meshgrid(np.arange(256), np.arange(256), np.arange(128), indexing="ij", sparse=True)
    volume = (np.sin(z / 9.0) * np.cos(y / 13.0) + x / 128.0 + rng.normal(0, 0.1, (256, 256, 128))).astype(np.float32)
    fortran = np.asfortranarray(volume)
    target = (128, 128, 64)
    out = np.empty(target, np.float32)
    functions = {
        "axiswarp.resize, cubic, C order (3 passes)": lambda: axiswarp.resize(volume, target),
        "axiswarp.resize, cubic, Fortran order": lambda: axiswarp.resize(fortran, target),
        "axiswarp.resize, zoom=0.5, out= (C order)": lambda: axiswarp.resize(volume, zoom=0.5, out=out),
        "scipy.ndimage.zoom(order=3)": lambda: scipy.ndimage.zoom(volume, 0.5, order=3),
        "skimage.transform.resize(order=3, anti_aliasing=True)":
            lambda: skimage.transform.resize(volume, target, order=3, anti_aliasing=True),
    }
    versions = f"SciPy {scipy.__version__}, scikit-image {skimage.__version__}"
    return alternating_medians_ms(functions, runs), versions


def fresh_keys(result, source):
    """`result`'s graph under keys no earlier run used, `source`'s persisted chunks kept.

    The same resize of the same source always has the same keys. Persisted
    again while the scheduler is still forgetting the previous run's
    cancelled keys, it can find them cancelled and fail with CancelledError
    (a race that small, quick jobs hit). Fresh keys share nothing with it.
    """
    from dask.graph_manipulation import clone
    return clone(result, omit=source)  # no seed: random keys, new every call


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
                out = client.persist(fresh_keys(axiswarp.dask.resize(source, (rows // 4, cols // 4),
                                                                     kernel="lanczos3"), source))
                wait(out)
                client.cancel(out)

            result[workers] = median_ms(run, runs)
    return result


# --- 4. Memory: fresh pages against reused ones -----------------------------

UPSCALE_IN, UPSCALE_OUT = (4000, 4000), (8000, 8000)


def timed(function):
    """(wall, user, system) in ms of one call, the process's CPU time over all threads."""
    before, start = resource.getrusage(resource.RUSAGE_SELF), time.perf_counter()
    function()
    wall, after = time.perf_counter() - start, resource.getrusage(resource.RUSAGE_SELF)
    return wall * 1e3, (after.ru_utime - before.ru_utime) * 1e3, (after.ru_stime - before.ru_stime) * 1e3


def median_times(samples):
    return tuple(statistics.median(s[k] for s in samples) for k in range(3))


def float_image(np, shape, seed=1):
    rows, cols = shape
    i = np.arange(rows, dtype=np.float32)[:, None]
    j = np.arange(cols, dtype=np.float32)[None, :]
    return (np.sin(i * 0.013 * seed) * np.cos(j * 0.007) * 100 + (i + j) * 0.01).astype(np.float32)


def free_other_arrays(np):
    """The state of a process that has just dropped large arrays of other sizes (about 900 MiB)."""
    others = [np.ones(n, dtype=np.float32) for n in (30_000_000, 50_000_000, 70_000_000, 90_000_000)]
    del others


def upscale_jobs(np, axiswarp):
    import cv2
    cv2.setNumThreads(1)
    return {
        "axiswarp": lambda a: axiswarp.resize(a, UPSCALE_OUT, kernel="cubic"),
        "opencv": lambda a: cv2.resize(a, UPSCALE_OUT[::-1], interpolation=cv2.INTER_CUBIC),
    }


def child_main(which):
    """One first call in this new process, after freeing other arrays; prints its times."""
    import numpy as np

    import axiswarp
    job = upscale_jobs(np, axiswarp)[which]
    image = float_image(np, UPSCALE_IN)
    free_other_arrays(np)
    print(json.dumps(timed(lambda: job(image))))


def upscale_rows(np, axiswarp, runs):
    jobs = upscale_jobs(np, axiswarp)
    image = float_image(np, UPSCALE_IN)
    rows = {}
    # First call of a new process, the process alternating between the two.
    cold = {name: [] for name in jobs}
    for _ in range(runs):
        for name in jobs:
            out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", name], check=True,
                                 capture_output=True, text=True).stdout
            cold[name].append(json.loads(out.splitlines()[-1]))
    for name in jobs:
        rows[("new process, after freeing", name)] = median_times(cold[name])
    # In this process: after freeing other arrays, and a warm loop of equal calls.
    for state in ("after freeing", "warm loop"):
        samples = {name: [] for name in jobs}
        for name, job in jobs.items():
            job(image)
        for _ in range(runs):
            for name, job in jobs.items():
                if state == "after freeing":
                    free_other_arrays(np)
                samples[name].append(timed(lambda: job(image)))
        for name in jobs:
            rows[(state, name)] = median_times(samples[name])
    return rows


def two_thread_speedups(np, axiswarp, runs):
    """Two jobs one after the other on one thread against the same two on two threads."""
    from PIL import Image
    images = [float_image(np, UPSCALE_IN, seed) for seed in (1, 2)]
    pictures = [Image.fromarray(a, "F") for a in images]
    jobs = {
        "axiswarp.resize": [lambda a=a: axiswarp.resize(a, UPSCALE_OUT, kernel="cubic") for a in images],
        "Pillow BICUBIC (mode F)": [lambda p=p: p.resize(UPSCALE_OUT[::-1], Image.Resampling.BICUBIC)
                                    for p in pictures],
    }

    def one_thread(pair):
        for job in pair:
            job()

    def two_threads(pair):
        threads = [threading.Thread(target=job) for job in pair]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    samples = {(name, how): [] for name in jobs for how in ("one", "two")}
    for pair in jobs.values():
        one_thread(pair)
        two_threads(pair)
    for _ in range(runs):
        for name, pair in jobs.items():
            samples[(name, "one")].append(timed(lambda: one_thread(pair)))
            samples[(name, "two")].append(timed(lambda: two_threads(pair)))
    return {key: median_times(s) for key, s in samples.items()}


def cli_precise_rows(tool, runs):
    """`axiswarp resize --precise` of a 6000x5232 JPEG to 1/4: (wall, user, system) s and peak KiB."""
    import numpy as np
    from PIL import Image
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "big.jpg")
        Image.fromarray(make_image(np, 5232, 6000), "RGB").save(source, quality=90)
        results = {}
        for jobs in ("1", "2"):
            results[jobs] = []
        for _ in range(runs):
            for jobs in results:
                timing = os.path.join(work, "time.txt")
                subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", timing, tool, "resize", "--precise",
                                "--scale", "0.25", "-j", jobs, "-o", os.path.join(work, "out.jpg"), source],
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                results[jobs].append([float(v) for v in open(timing).read().split()[-4:]])
        return {jobs: tuple(statistics.median(r[k] for r in rows) for k in range(4)) for jobs, rows in results.items()}


def memory_table(args, np, axiswarp):
    runs = args.runs
    print("\nfloat32 4000x4000 to 8000x8000, cubic, one thread: medians of "
          f"{runs} alternating runs (ms; user and system over the whole process)\n")
    print("| state | what | wall | user | system | system ÷ wall | wall ÷ OpenCV |")
    print("|---|---|---:|---:|---:|---:|---:|")
    rows = upscale_rows(np, axiswarp, runs)
    for (state, name), (wall, user, system) in rows.items():
        ratio = wall / rows[(state, "opencv")][0]
        what = "axiswarp.resize" if name == "axiswarp" else "OpenCV cv2.resize INTER_CUBIC"
        print(f"| {state} | {what} | {wall:.0f} | {user:.0f} | {system:.0f} | {system / wall:.2f} | {ratio:.2f} |")

    print(f"\nTwo such jobs on separate arrays, one thread against two threads (medians of {runs})\n")
    print("| what | one thread (ms) | two threads (ms) | system, two threads (ms) | speed-up |")
    print("|---|---:|---:|---:|---:|")
    speed = two_thread_speedups(np, axiswarp, runs)
    for name in dict.fromkeys(k[0] for k in speed):
        one, two = speed[(name, "one")], speed[(name, "two")]
        print(f"| {name} | {one[0]:.0f} | {two[0]:.0f} | {two[2]:.0f} | {one[0] / two[0]:.2f} |")

    if args.tool:
        cli = cli_precise_rows(args.tool, runs)
        print(f"\n`axiswarp resize --precise --scale 0.25` of a 6000x5232 JPEG, whole process (medians of {runs})\n")
        print("| jobs | wall (s) | user (s) | system (s) | peak (MiB) |")
        print("|---:|---:|---:|---:|---:|")
        for jobs, (wall, user, system, peak) in cli.items():
            print(f"| {jobs} | {wall:.2f} | {user:.2f} | {system:.2f} | {peak / 1024:.0f} |")


def dask_scaling_rows(size, runs):
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
                out = client.persist(fresh_keys(axiswarp.dask.resize(source, out_shape, kernel="cubic"), source))
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
    parser.add_argument("--bench", help="the axiswarp_bench binary (needed by the binding part)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=3, help="alternating rounds of the binding and peer comparisons")
    parser.add_argument("--only", choices=["binding", "peers", "volume", "dask", "memory", "dask-float", "zarr"],
                        help="run one part alone")
    parser.add_argument("--dask-size", nargs=2, type=int, default=(12000, 16000), metavar=("ROWS", "COLS"))
    parser.add_argument("--dask-float-size", type=int, default=12000, metavar="N",
                        help="side of the float32 square of the dask-float part")
    parser.add_argument("--zarr-mib", nargs="+", type=float, default=(512, 2048), metavar="MIB",
                        help="volume sizes of the zarr example's part")
    parser.add_argument("--tool", help="the axiswarp command, for the memory part's whole-process run")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        return child_main(args.child)
    if args.only in (None, "binding") and not args.bench:
        parser.error("the binding part needs --bench")

    import numpy as np

    import axiswarp

    image = np.asfortranarray(make_image(np))
    print(f"# {platform.node()}, {platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
          f"NumPy {np.__version__}; medians of {args.runs} in one run")

    if args.only in (None, "binding"):
        binding_table(args, np, axiswarp, image)
    if args.only in (None, "peers"):
        peer_table(args, np, axiswarp, image)
    if args.only in (None, "volume"):
        volume_table(args, np, axiswarp)
    if args.only in (None, "dask"):
        dask_table(args)
    if args.only in (None, "memory"):
        memory_table(args, np, axiswarp)
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
    rows, versions = peer_rows(np, axiswarp, image, args.runs, args.rounds)
    base = rows[0][1]
    print(f"\n3000x4000x3 uint8 to 750x1000 on one thread ({versions}), "
          f"{args.rounds} alternating rounds of {args.runs} runs\n")
    print("| what | ms | ÷ axiswarp.resize |")
    print("|---|---:|---:|")
    for what, ms in rows:
        print(f"| {what} | {ms:.1f} | {ms / base:.2f} |")
    # The interleaved targets: C order against Fortran order, and against
    # OpenCV's INTER_AREA on the same C-ordered array.
    times = dict(rows)
    c_order = times["axiswarp.resize, cubic, C-order input"]
    print(f"\nC-order ÷ Fortran-order axiswarp.resize: {c_order / base:.2f}; "
          f"C-order axiswarp.resize ÷ OpenCV INTER_AREA: {c_order / times['OpenCV cv2.resize INTER_AREA']:.2f}")


def volume_table(args, np, axiswarp):
    times, versions = volume_rows(np, axiswarp, args.runs)
    base = next(iter(times.values()))
    print(f"\n256x256x128 float32 volume to 128x128x64 on one thread, runs alternating ({versions})\n")
    print("| what | ms | ÷ axiswarp.resize |")
    print("|---|---:|---:|")
    for what, ms in times.items():
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
    times = dask_scaling_rows((args.dask_float_size, args.dask_float_size), max(3, args.runs // 2 + 1))
    rows = cols = args.dask_float_size
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
