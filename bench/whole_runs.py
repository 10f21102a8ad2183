#!/usr/bin/python3
"""Whole command-line runs of `axiswarp resize` beside vips and ImageMagick: time, system time and peak memory.

Usage: /usr/bin/python3 bench/whole_runs.py [--tool build/axiswarp] [--baseline-tool OLD/axiswarp]
           [--baseline-module OLD/module] [--runs 5] [--only JOB ...] [--jobs-only 1|all] [--work DIR]
           [--convert PATH] [--markdown]

Jobs (--only picks some; every input is made once and kept in DIR, default
build-bench/whole-runs):

  jpeg            6000x5232 RGB JPEG (quality 90) to 1/4, cubic
  jpeg-precise    the same with --precise
  jpeg-linear     the same with --linear
  png             the same image as PNG to 1/4, cubic
  tiff16          20000x20000 16-bit gray tiled TIFF (256x256 tiles, no
                  compression, 800 MB) to 1/8, lanczos3, --max-pixels 1000000000
  tiff16-precise  the same with --precise
  tiff8           20000x20000 8-bit gray tiled TIFF to 1/8, lanczos3
  tiff8-tall      20000x80000 of the same kind: its peak memory against tiff8's

The RGB image is the Hubble deep field of python3-skimage's data enlarged x6
by `vips resize`; the gray TIFFs are its gray version enlarged by vips
straight into the tiled file, so making them streams and needs little memory.

Each job runs on one thread and on every core (--jobs-only narrows it):
axiswarp with --jobs 1 and with its default; `vips resize` with the same
kernel and `vips thumbnail` to the same width, under VIPS_CONCURRENCY=1 and
vips's default; ImageMagick (magick, else convert; -filter Catrom for cubic,
Lanczos for lanczos3) under MAGICK_THREAD_LIMIT=1 and its default. JPEG
outputs are quality 90 everywhere. A peer that is not installed, or that
fails (ImageMagick's resource policy refuses images wider than its width
limit), is skipped with a line saying so.

--baseline-tool adds the same axiswarp runs of another build, and a
before/after table. A tool loads the module of the build tree it was built
in, so a baseline tool copied elsewhere would load whatever that tree now
holds: keep a separate build of the old commit, or copy its module too and
name it with --baseline-module.

Commands run in turn, round after round, so that a slow spell of the shared
machine falls on all of them alike. Each figure is the median over --runs
of one command's wall, user and system time and of its peak resident memory
(the child's maximum RSS from wait4). After the table come the targets of
streaming whole jobs, each marked met or not, and a check that axiswarp's
output is the same bytes with --jobs 1 as with --jobs 2 (and as the
baseline's, given one).

vips and ImageMagick are Debian packages (libvips-tools, imagemagick);
scripts/ensure-deps.sh bench installs them.
"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1e6


# --- Inputs -----------------------------------------------------------------

def _atomic_vips(operation, source, target, *rest, options=""):
    """`vips OPERATION SOURCE TARGET REST...`, writing `target` (with vips's save `options`)
    through a temporary name, so that an interrupted run leaves no half-made input for the
    next one to trust."""
    base, ext = os.path.splitext(target)
    partial = base + ".partial" + ext
    subprocess.run(["vips", operation, source, partial + options, *rest], check=True)
    os.replace(partial, target)


def hubble_small(work):
    small = os.path.join(work, "hubble-small.png")
    if not os.path.exists(small):
        import skimage.data
        import skimage.io
        skimage.io.imsave(small + ".partial.png", skimage.data.hubble_deep_field(), check_contrast=False)
        os.replace(small + ".partial.png", small)
    return small


def make_rgb(work, ext):
    """6000x5232 RGB: the deep field (1000x872) enlarged x6."""
    target = os.path.join(work, "hubble" + ext)
    if not os.path.exists(target):
        big = os.path.join(work, "hubble-big.v")
        if not os.path.exists(big):
            _atomic_vips("resize", hubble_small(work), big, "6")
        _atomic_vips("copy", big, target, options="[Q=90]" if ext == ".jpg" else "")
    return target


def make_gray_tiff(work, width, height, bits):
    """A width x height gray tiled TIFF, 8 or 16 bits, uncompressed, enlarged from the
    deep field straight into the file: vips streams it in a few tens of MB."""
    target = os.path.join(work, f"gray{bits}-{width}x{height}.tif")
    if os.path.exists(target):
        return target
    small = os.path.join(work, f"hubble-gray{bits}.v")
    if not os.path.exists(small):
        gray = os.path.join(work, "hubble-gray8.v")
        if not os.path.exists(gray):
            _atomic_vips("colourspace", hubble_small(work), gray, "b-w")
        if bits == 16:
            scaled = os.path.join(work, "hubble-gray16-float.v")
            _atomic_vips("linear", gray, scaled, "257", "0")
            _atomic_vips("cast", scaled, small, "ushort")
            os.remove(scaled)
    # The small image is 1000x872; vips rounds each output length to the nearest.
    _atomic_vips("resize", small, target, str(width / 1000), "--vscale", repr(height / 872),
                 options="[tile,tile-width=256,tile-height=256,compression=none]")
    return target


@dataclass
class Job:
    title: str
    make: object  # work folder -> input path
    ext: str
    scale: float
    kernel: str
    width: int  # the output width, for vips thumbnail
    extra: list = field(default_factory=list)
    peers: tuple = ("vips-resize", "vips-thumbnail", "convert")


BIG = ["--max-pixels", "2000000000"]
JOBS = {
    "jpeg": Job("6000x5232 RGB JPEG to 1/4, cubic", lambda w: make_rgb(w, ".jpg"), ".jpg", 0.25, "cubic", 1500),
    "jpeg-precise": Job("same, --precise", lambda w: make_rgb(w, ".jpg"), ".jpg", 0.25, "cubic", 1500,
                        ["--precise"], ()),
    "jpeg-linear": Job("same, --linear", lambda w: make_rgb(w, ".jpg"), ".jpg", 0.25, "cubic", 1500,
                       ["--linear"], ()),
    "png": Job("same image as PNG to 1/4, cubic", lambda w: make_rgb(w, ".png"), ".png", 0.25, "cubic", 1500),
    "tiff16": Job("20000x20000 16-bit gray tiled TIFF to 1/8, lanczos3",
                  lambda w: make_gray_tiff(w, 20000, 20000, 16), ".tif", 0.125, "lanczos3", 2500,
                  ["--max-pixels", "1000000000"]),
    "tiff16-precise": Job("same, --precise", lambda w: make_gray_tiff(w, 20000, 20000, 16), ".tif", 0.125,
                          "lanczos3", 2500, ["--max-pixels", "1000000000", "--precise"], ()),
    "tiff8": Job("20000x20000 8-bit gray tiled TIFF to 1/8, lanczos3", lambda w: make_gray_tiff(w, 20000, 20000, 8),
                 ".tif", 0.125, "lanczos3", 2500, BIG, ("vips-resize",)),
    "tiff8-tall": Job("20000x80000 8-bit gray tiled TIFF to 1/8, lanczos3",
                      lambda w: make_gray_tiff(w, 20000, 80000, 8), ".tif", 0.125, "lanczos3", 2500, BIG,
                      ("vips-resize",)),
}


# --- Commands ---------------------------------------------------------------

@dataclass
class Command:
    job: str
    who: str  # "axiswarp", "baseline", "vips resize", ...
    threads: str  # "1", "2" or "all"
    argv: list
    env: dict
    out: str
    samples: list = field(default_factory=list)  # (wall, user, system, peak bytes)
    failed: str = ""

    def median(self, k):
        return statistics.median(s[k] for s in self.samples)


def run_once(argv, env):
    """(wall, user, system, peak RSS bytes) of one whole process, or its error text."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read().decode(errors="replace")  # read before waiting: a full pipe would stall the child
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        return f"exit status {proc.returncode}: {err.strip().splitlines()[0] if err.strip() else 'no message'}"
    return wall, usage.ru_utime, usage.ru_stime, usage.ru_maxrss * 1024  # ru_maxrss is in KiB on Linux


def build_commands(args, name, job, src, out_dir, modes):
    cores = os.cpu_count() or 1
    base = {k: v for k, v in os.environ.items() if k not in ("VIPS_CONCURRENCY", "MAGICK_THREAD_LIMIT")}
    one = dict(base, VIPS_CONCURRENCY="1", MAGICK_THREAD_LIMIT="1", OMP_NUM_THREADS="1")
    quality = ["--quality", "90"] if job.ext == ".jpg" else []  # vips and convert: 75 and 92 by default
    vips_opts = "[Q=90]" if job.ext == ".jpg" else ""
    tools = [("axiswarp", [args.tool])]
    if args.baseline_tool:
        tools.append(("baseline", [args.baseline_tool]
                      + (["--module", args.baseline_module] if args.baseline_module else [])))
    # The two-core speed-up is measured on the JPEG; on a two-core machine the
    # default run is that run.
    threads = list(modes) + (["2"] if name == "jpeg" and cores != 2 and "all" in modes else [])
    cmds = []
    for mode in threads:
        env = one if mode == "1" else base
        o = lambda who: os.path.join(out_dir, f"{name}-{who}-{mode}{job.ext}")  # noqa: E731
        for who, tool in tools:
            jobs = [] if mode == "all" else ["--jobs", mode]
            argv = [tool[0], "resize", *tool[1:], src, "--kernel", job.kernel, "--scale", str(job.scale),
                    *job.extra, *quality, *jobs, "-o", o(who)]
            cmds.append(Command(name, who, mode, argv, base, o(who)))
        if mode == "2":
            continue
        if "vips-resize" in job.peers:
            cmds.append(Command(name, "vips resize", mode, ["vips", "resize", src, o("vips-resize") + vips_opts,
                                                             str(job.scale), "--kernel", job.kernel], env,
                                o("vips-resize")))
        if "vips-thumbnail" in job.peers:
            cmds.append(Command(name, "vips thumbnail", mode, ["vips", "thumbnail", src,
                                                                o("vips-thumbnail") + vips_opts, str(job.width)],
                                env, o("vips-thumbnail")))
        if "convert" in job.peers:
            im_filter = {"cubic": "Catrom", "lanczos3": "Lanczos"}[job.kernel]
            argv = [args.convert, src, "-filter", im_filter, "-resize", f"{job.scale * 100:g}%",
                    *(["-quality", "90"] if quality else []), o("convert")]
            cmds.append(Command(name, os.path.basename(args.convert), mode, argv, env, o("convert")))
    return cmds


def missing_program(cmd):
    program = cmd.argv[0]
    if os.path.sep in program:
        return not os.access(program, os.X_OK)
    return shutil.which(program) is None


# --- Report -----------------------------------------------------------------

def print_table(header, rows, markdown, right_from=1):
    if markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "|".join("---" if i < right_from else "---:" for i in range(len(header))) + "|")
        for row in rows:
            print("| " + " | ".join(row) + " |")
        return
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    for row in [header] + rows:
        print("  ".join(str(c).ljust(w) if i < right_from else str(c).rjust(w)
                        for i, (c, w) in enumerate(zip(row, widths))))


def threads_label(mode):
    return {"1": "1", "2": "2", "all": f"all ({os.cpu_count()})"}[mode]


def on_threads(mode):
    return {"1": "1 thread", "2": "2 threads", "all": f"all {os.cpu_count()} cores"}[mode]


def results_table(cmds, markdown):
    done = [c for c in cmds if c.samples and not c.failed]
    ref = {(c.job, c.threads): c for c in done if c.who == "axiswarp"}
    rows = []
    for c in done:
        wall, user, system, peak = (c.median(k) for k in range(4))
        r = ref.get((c.job, c.threads))
        vs = ("" if r is None or r is c else f"{wall / r.median(0):.2f}", "" if r is None or r is c
              else f"{peak / r.median(3):.2f}")
        rows.append([c.job, c.who, threads_label(c.threads), f"{wall:.2f}", f"{user:.2f}", f"{system:.2f}",
                     f"{100 * system / wall:.0f}%", f"{peak / MB:.0f}", *vs])
    print_table(["job", "command", "threads", "wall s", "user s", "system s", "system/wall", "peak MB",
                 "wall ÷ axiswarp", "peak ÷ axiswarp"], rows, markdown, right_from=3)


def before_after_table(cmds, markdown):
    by = {(c.job, c.threads, c.who): c for c in cmds if c.samples and not c.failed}
    rows = []
    for (job, mode, who), after in by.items():
        before = by.get((job, mode, "baseline"))
        if who != "axiswarp" or before is None:
            continue
        b, a = before, after
        rows.append([job, threads_label(mode), f"{b.median(0):.2f}", f"{a.median(0):.2f}",
                     f"{b.median(0) / a.median(0):.2f}x", f"{b.median(3) / MB:.0f}", f"{a.median(3) / MB:.0f}",
                     f"{100 * b.median(2) / b.median(0):.0f}%", f"{100 * a.median(2) / a.median(0):.0f}%"])
    if rows:
        print()
        print_table(["job", "threads", "wall before s", "wall after s", "speed-up", "peak before MB",
                     "peak after MB", "system/wall before", "system/wall after"], rows, markdown, right_from=2)


def target_lines(cmds):
    """The targets of streaming whole jobs, each (met: True/False/None, text); None when not measured."""
    by = {(c.job, c.threads, c.who): c for c in cmds if c.samples and not c.failed}
    wall = lambda c: c.median(0)  # noqa: E731
    peak = lambda c: c.median(3)  # noqa: E731
    lines = []

    def pair(job, mode, peer):
        return by.get((job, mode, "axiswarp")), by.get((job, mode, peer))

    modes = sorted({c.threads for c in cmds if c.threads != "2"})
    for job in ("jpeg", "png", "tiff16"):
        for mode in modes:
            aw, vips = pair(job, mode, "vips resize")
            if aw and vips:
                lines.append((wall(aw) < wall(vips), f"time, {job}, {on_threads(mode)}: axiswarp "
                              f"{wall(aw):.2f} s against vips resize {wall(vips):.2f} s (must be faster)"))
    for job in ("jpeg", "png"):
        for mode in modes:
            aw, vips = pair(job, mode, "vips resize")
            if aw and vips:
                lines.append((peak(aw) <= peak(vips), f"memory, {job}, {on_threads(mode)}: axiswarp "
                              f"{peak(aw) / MB:.0f} MB against vips resize {peak(vips) / MB:.0f} MB (at most)"))
    for job in ("tiff16", "tiff16-precise"):
        for mode in modes:
            aw = by.get((job, mode, "axiswarp"))
            if aw:
                lines.append((peak(aw) <= 200 * MB, f"memory, {job}, {on_threads(mode)}: "
                              f"{peak(aw) / MB:.0f} MB (at most 200 MB)"))
    for job in ("jpeg-precise", "jpeg-linear"):
        for mode in modes:
            aw, vips = by.get((job, mode, "axiswarp")), by.get(("jpeg", mode, "vips resize"))
            plain = by.get(("jpeg", mode, "axiswarp"))
            if aw and vips:
                lines.append((peak(aw) <= 2 * peak(vips), f"memory, {job}, {on_threads(mode)}: "
                              f"{peak(aw) / MB:.0f} MB against 2 x vips resize's {peak(vips) / MB:.0f} MB"))
            if aw and plain:
                lines.append((wall(aw) <= 1.5 * wall(plain), f"time, {job}, {on_threads(mode)}: "
                              f"{wall(aw):.2f} s, {wall(aw) / wall(plain):.2f} x the default path's (at most 1.5)"))
    for mode in modes:
        tall, square = by.get(("tiff8-tall", mode, "axiswarp")), by.get(("tiff8", mode, "axiswarp"))
        if tall and square:
            lines.append((peak(tall) <= 1.1 * peak(square), f"memory, 20000x80000 against 20000x20000, "
                          f"{on_threads(mode)}: {peak(tall) / MB:.0f} MB against {peak(square) / MB:.0f}"
                          f" MB, {peak(tall) / peak(square):.2f} x (at most 1.10)"))
    for c in by.values():
        if c.who == "axiswarp":
            share = c.median(2) / c.median(0)
            lines.append((share <= 0.15, f"system time, {c.job}, {on_threads(c.threads)}: "
                          f"{100 * share:.0f}% of wall (at most 15%)"))
    one = by.get(("jpeg", "1", "axiswarp"))
    two = by.get(("jpeg", "2", "axiswarp")) or (by.get(("jpeg", "all", "axiswarp")) if os.cpu_count() == 2 else None)
    if one and two:
        same = filecmp.cmp(one.out, two.out, shallow=False)
        lines.append((wall(one) / wall(two) >= 1.6 and same, f"two cores, jpeg: {wall(one) / wall(two):.2f} x one "
                      f"core (at least 1.6), output bytes {'identical' if same else 'DIFFERENT'}"))
    return lines


def identity_checks(cmds, out_dir):
    """axiswarp's output with --jobs 1 against --jobs 2, and against the baseline's; a missing run is made once."""
    cores = os.cpu_count() or 1
    lines = []
    for name in dict.fromkeys(c.job for c in cmds):
        mine = {c.threads: c for c in cmds if c.job == name and c.who == "axiswarp"}
        theirs = {c.threads: c for c in cmds if c.job == name and c.who == "baseline"}
        template = next(iter(mine.values()))

        def output(threads, source=template):
            known = mine.get(threads) or (mine.get("all") if threads == "2" and cores == 2 else None)
            if known and known.samples and not known.failed:
                return known.out
            argv = source.argv[:source.argv.index("-o")]  # every run's argv ends with -o OUT
            if "--jobs" in argv:
                del argv[argv.index("--jobs"):argv.index("--jobs") + 2]
            path = os.path.join(out_dir, f"{name}-check-{threads}{os.path.splitext(source.out)[1]}")
            got = run_once(argv + ["--jobs", threads, "-o", path], source.env)
            return None if isinstance(got, str) else path

        one, two = output("1"), output("2")
        if one is None or two is None:
            lines.append((None, f"{name}: axiswarp failed, bytes not compared"))
            continue
        same = filecmp.cmp(one, two, shallow=False)
        lines.append((same, f"{name}: --jobs 1 and --jobs 2 outputs {'identical' if same else 'DIFFER'}"))
        base = next((c for c in theirs.values() if c.samples and not c.failed), None)
        if base:
            same = filecmp.cmp(one, base.out, shallow=False)
            lines.append((same, f"{name}: output {'identical to' if same else 'DIFFERS from'} the baseline's"))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="Jobs: " + ", ".join(JOBS))
    parser.add_argument("--tool", default=os.path.join(ROOT, "build", "axiswarp"), help="the axiswarp to measure")
    parser.add_argument("--baseline-tool", help="another build of axiswarp, for before/after columns")
    parser.add_argument("--baseline-module", help="the module file the baseline tool loads (default: its build's)")
    parser.add_argument("--runs", type=int, default=5, help="alternating rounds; figures are their medians")
    parser.add_argument("--only", nargs="+", choices=list(JOBS), metavar="JOB", help="these jobs alone")
    parser.add_argument("--jobs-only", choices=["1", "all"], help="only the one-thread or only the all-core runs")
    parser.add_argument("--work", default=os.path.join(ROOT, "build-bench", "whole-runs"),
                        help="where inputs are made and kept, and outputs written")
    parser.add_argument("--convert", default="magick" if shutil.which("magick") else "convert",
                        help="ImageMagick's command (default: magick, else convert)")
    parser.add_argument("--markdown", action="store_true", help="print the tables as Markdown")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    for tool in filter(None, (args.tool, args.baseline_tool)):
        if not os.access(tool, os.X_OK):
            parser.error(f"no executable axiswarp at {tool}")
    if args.baseline_module and not os.path.isfile(args.baseline_module):
        parser.error(f"no module file at {args.baseline_module}")
    if shutil.which("vips") is None:
        sys.exit("vips is needed to make the inputs: scripts/ensure-deps.sh bench installs libvips-tools")
    os.makedirs(args.work, exist_ok=True)
    out_dir = os.path.join(args.work, "out")
    os.makedirs(out_dir, exist_ok=True)

    names = args.only or list(JOBS)
    modes = [args.jobs_only] if args.jobs_only else ["1", "all"]
    cmds = []
    for name in names:
        src = JOBS[name].make(args.work)
        cmds += build_commands(args, name, JOBS[name], src, out_dir, modes)

    for c in cmds:
        if missing_program(c):
            c.failed = f"{c.argv[0]} is not installed"
    load_before = os.getloadavg()[0]
    for _ in range(args.runs):
        for c in cmds:
            if c.failed:
                continue
            got = run_once(c.argv, c.env)
            if isinstance(got, str):
                c.failed = got
            else:
                c.samples.append(got)

    # Other users' load shows as wall time well above user plus system time.
    print(f"# {os.cpu_count()} cores, load average {load_before:.1f} before and {os.getloadavg()[0]:.1f} after; "
          f"medians of {args.runs} alternating runs; tool {args.tool}"
          + (f", baseline {args.baseline_tool}" if args.baseline_tool else "") + "\n")
    for name in names:
        print(f"- {name}: {JOBS[name].title}")
    print()
    results_table(cmds, args.markdown)
    before_after_table(cmds, args.markdown)
    skipped = [c for c in cmds if c.failed]
    if skipped:
        print()
    for c in skipped:
        print(f"skipped: {c.job}, {c.who}, {on_threads(c.threads)}: {c.failed}")
    print("\nTargets:")
    mark = {True: "met    ", False: "NOT met", None: "n/a    "}
    for met, text in target_lines(cmds):
        print(f"  {mark[met]} {text}")
    print("\nSame bytes:")
    for same, text in identity_checks(cmds, out_dir):
        print(f"  {mark[same] if same is None else ('ok     ' if same else 'WRONG  ')} {text}")
    if any(c.failed for c in cmds if c.who == "axiswarp"):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
