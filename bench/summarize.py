#!/usr/bin/python3
"""Ratio table from the kernel benchmarks' JSON output (medians).

Usage: summarize.py kernels.json

For every job: the median times of the fast kernels, the plain template
kernels, the reference model and memcpy; the speed-up of the fast kernels
over the plain ones and over the reference; and the fraction of the copy
bandwidth the fast kernels reach (memcpy time / fast time, the same bytes).
"""
import json
import sys
from collections import defaultdict


def medians(path):
    with open(path) as f:
        data = json.load(f)
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    found = defaultdict(dict)
    for run in data["benchmarks"]:
        # With repetitions only the aggregates are kept; a single run has none.
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
            continue
        name = run["run_name"].removesuffix("/real_time")
        job, _, variant = name.rpartition("/")
        found[job][variant] = {
            "ms": run["real_time"] * scale[run["time_unit"]],
            "items": run.get("items_per_second"),
            "bytes": run.get("bytes_per_second"),
        }
    return data.get("context", {}), found


def main():
    context, jobs = medians(sys.argv[1])
    print(f"# {context.get('host_name', '?')}, {context.get('num_cpus', '?')} CPUs "
          f"at {context.get('mhz_per_cpu', '?')} MHz, {context.get('date', '')}")
    head = (f"{'job':<24}{'fast ms':>9}{'plain ms':>10}{'oracle ms':>11}{'memcpy ms':>11}"
            f"{'x plain':>9}{'x oracle':>10}{'of copy':>9}{'Msamples/s':>12}{'GB/s':>7}{'module ms':>11}")
    print(head)
    print("-" * len(head))
    for job, v in jobs.items():
        def ms(variant):
            return v[variant]["ms"] if variant in v else None

        def cell(value, width, fmt):
            return f"{fmt.format(value):>{width}}" if value is not None else f"{'-':>{width}}"

        fast, plain, oracle, copy = ms("fast"), ms("plain"), ms("oracle"), ms("memcpy")
        items = v.get("fast", {}).get("items")
        rate = v.get("fast", {}).get("bytes")
        print(f"{job:<24}"
              + cell(fast, 9, "{:.2f}") + cell(plain, 10, "{:.2f}") + cell(oracle, 11, "{:.2f}")
              + cell(copy, 11, "{:.2f}")
              + cell(plain / fast if fast and plain else None, 9, "{:.2f}")
              + cell(oracle / fast if fast and oracle else None, 10, "{:.2f}")
              + cell(copy / fast if fast and copy else None, 9, "{:.0%}")
              + cell(items / 1e6 if items else None, 12, "{:.0f}")
              + cell(rate / 1e9 if rate else None, 7, "{:.2f}")
              + cell(ms("module"), 11, "{:.2f}"))


if __name__ == "__main__":
    main()
