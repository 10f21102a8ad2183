#!/usr/bin/python3
"""Resize a zarr-backed volume into a new zarr store, chunk by chunk, without loading it whole.

    PYTHONPATH=build/python /usr/bin/python3 examples/resize_zarr_volume.py \
        [--source SRC.zarr] [--out OUT.zarr] [--shape ROWS COLS] [--kernel lanczos3] [--volume-mib 2048]

Rows and columns (the first two axes) are resized; further axes (planes) are
kept. Without --source, a synthetic uint16 volume (--volume-mib MIB, a square
of 64 planes, default 512 MiB: 2048 x 2048 x 64; or --make ROWS COLS PLANES)
is first written to a temporary store by a separate process, so that the peak
memory printed at the end is the resize's alone. Each output chunk is one
task that reads its own input window from the store, piece by piece, resizes
both axes and hands the chunk to the writer: memory stays at a few chunks,
whatever the volume's size.
"""

import argparse
import math
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def peak_rss_mib() -> float:
    # This process's own high-water mark. ru_maxrss would do, but Linux
    # carries it across exec, so a child of a large process would start at
    # its parent's peak.
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024  # kilobytes on Linux


def make_volume(path, rows, cols, planes, chunk):
    import dask.array as da
    import numpy as np

    # A smooth pattern plus noise, written chunk by chunk.
    def block(block_info=None):
        (r0, r1), (c0, c1), (p0, p1) = block_info[None]["array-location"]
        r, c, p = np.meshgrid(np.arange(r0, r1), np.arange(c0, c1), np.arange(p0, p1), indexing="ij")
        rng = np.random.default_rng(r0 * 7919 + c0 * 104729 + p0)
        values = 30000 + 20000 * np.sin(r / 37.0) * np.cos(c / 53.0 + p / 5.0) + rng.normal(0, 500, r.shape)
        return np.clip(values, 0, 65535).astype(np.uint16)

    volume = da.map_blocks(block, dtype=np.uint16, chunks=da.core.normalize_chunks(chunk, (rows, cols, planes)))
    volume.to_zarr(path, overwrite=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--source", help="input zarr array (default: make a synthetic one)")
    parser.add_argument("--out", help="output zarr store (default: a temporary folder, removed at the end)")
    parser.add_argument("--shape", nargs=2, type=int, metavar=("ROWS", "COLS"), help="new rows and columns "
                        "(default: half of each)")
    parser.add_argument("--kernel", default="lanczos3")
    parser.add_argument("--make", nargs=3, type=int, metavar=("ROWS", "COLS", "PLANES"), default=None,
                        help="shape of the synthetic volume (default: from --volume-mib)")
    parser.add_argument("--volume-mib", type=float, default=512,
                        help="size of the synthetic volume, a square of 64 uint16 planes (default 512)")
    parser.add_argument("--chunk", nargs=3, type=int, metavar=("ROWS", "COLS", "PLANES"), default=(256, 256, 16))
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="threads (default: one per core)")
    parser.add_argument("--make-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.make is None:
        side = max(1, round(math.sqrt(args.volume_mib * 2**20 / (64 * 2))))
        args.make = (side, side, 64)

    scratch = tempfile.mkdtemp(prefix="axiswarp-zarr-")
    try:
        if args.make_only:
            make_volume(args.source, *args.make, tuple(args.chunk))
            return 0
        source = args.source
        if source is None:
            source = os.path.join(scratch, "source.zarr")
            print(f"writing a synthetic {args.make[0]}x{args.make[1]}x{args.make[2]} uint16 volume to {source}")
            subprocess.run([sys.executable, __file__, "--make-only", "--source", source, "--make", *map(str, args.make),
                            "--chunk", *map(str, args.chunk)], check=True)

        import dask
        import dask.array as da
        import zarr

        import axiswarp.dask

        baseline = peak_rss_mib()
        x = da.from_zarr(source)
        shape = tuple(args.shape) if args.shape else (max(1, x.shape[0] // 2), max(1, x.shape[1] // 2))
        out_path = args.out or os.path.join(scratch, "resized.zarr")
        # Regular output chunks, as zarr stores them: the input's, scaled.
        chunks = tuple(max(1, round(c * m / n)) for c, m, n in zip(x.chunksize[:2], shape, x.shape[:2]))
        lazy = axiswarp.dask.resize(x, shape, kernel=args.kernel, chunks=chunks)
        start = time.perf_counter()
        with dask.config.set(scheduler="threads", num_workers=args.workers):
            lazy.to_zarr(out_path, overwrite=True)
        seconds = time.perf_counter() - start
        result = zarr.open(out_path, mode="r")
        volume_mib = x.nbytes / 2**20
        chunk_mib = x.dtype.itemsize * math.prod(x.chunksize) / 2**20
        out_chunk_mib = result.dtype.itemsize * math.prod(result.chunks) / 2**20
        print(f"{source}: {x.shape} {x.dtype}, {volume_mib:.0f} MiB in chunks of {x.chunksize} ({chunk_mib:.1f} MiB)")
        print(f"{out_path}: {result.shape} {result.dtype} in chunks of {result.chunks}, "
              f"{args.kernel}, {seconds:.2f} s with {args.workers} threads")
        peak = peak_rss_mib()
        print(f"peak memory {peak:.0f} MiB: {peak - baseline:.0f} MiB above the {baseline:.0f} MiB "
              f"of the interpreter and its imports, against a volume of {volume_mib:.0f} MiB; "
              f"as much as {(peak - baseline) / (chunk_mib + out_chunk_mib):.1f} input chunks and as many output "
              f"chunks ({chunk_mib:.1f} + {out_chunk_mib:.1f} MiB)")
        return 0
    finally:
        if args.out is None or args.make_only:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
