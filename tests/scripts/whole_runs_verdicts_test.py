#!/usr/bin/python3
"""bench/whole_runs.py's verdicts: each target is met at its bound and not just past it,
runs are judged against their own thread count, and the byte checks tell equal outputs
from different ones. Medians are made up here; no program is run.

Usage: whole_runs_verdicts_test.py SOURCE_ROOT
"""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(sys.argv.pop(1), "bench"))
import whole_runs as wr  # noqa: E402

MB = wr.MB


def run(job, who, threads, wall=1.0, system=0.0, peak=100 * MB, out=""):
    return wr.Command(job, who, threads, [], {}, out, samples=[(wall, wall, system, peak)] * 3)


def verdict(cmds, start):
    found = [met for met, text in wr.target_lines(cmds) if text.startswith(start)]
    assert len(found) == 1, (start, wr.target_lines(cmds))
    return found[0]


class Bounds(unittest.TestCase):
    # (what, commands at the bound, the same one step past it, verdict line's start)
    CASES = [
        ("faster than vips", [run("png", "axiswarp", "1", wall=0.99), run("png", "vips resize", "1")],
         [run("png", "axiswarp", "1", wall=1.0), run("png", "vips resize", "1")], "time, png, 1 thread"),
        ("memory at most vips's", [run("jpeg", "axiswarp", "1", peak=66 * MB),
                                   run("jpeg", "vips resize", "1", peak=66 * MB)],
         [run("jpeg", "axiswarp", "1", peak=67 * MB), run("jpeg", "vips resize", "1", peak=66 * MB)],
         "memory, jpeg, 1 thread"),
        ("200 MB", [run("tiff16-precise", "axiswarp", "all", peak=200 * MB)],
         [run("tiff16-precise", "axiswarp", "all", peak=201 * MB)], "memory, tiff16-precise"),
        ("precise memory twice vips's", [run("jpeg-precise", "axiswarp", "1", peak=132 * MB),
                                         run("jpeg", "vips resize", "1", peak=66 * MB)],
         [run("jpeg-precise", "axiswarp", "1", peak=133 * MB), run("jpeg", "vips resize", "1", peak=66 * MB)],
         "memory, jpeg-precise"),
        ("linear time 1.5x the default path's", [run("jpeg-linear", "axiswarp", "1", wall=1.5),
                                                 run("jpeg", "axiswarp", "1")],
         [run("jpeg-linear", "axiswarp", "1", wall=1.51), run("jpeg", "axiswarp", "1")], "time, jpeg-linear"),
        ("tall image within 10%", [run("tiff8-tall", "axiswarp", "1", peak=110 * MB), run("tiff8", "axiswarp", "1")],
         [run("tiff8-tall", "axiswarp", "1", peak=111 * MB), run("tiff8", "axiswarp", "1")], "memory, 20000x80000"),
        ("system time 15% of wall", [run("tiff8", "axiswarp", "1", wall=2.0, system=0.3)],
         [run("tiff8", "axiswarp", "1", wall=2.0, system=0.31)], "system time, tiff8"),
    ]

    def test_met_at_the_bound_and_not_past_it(self):
        for what, at, past, start in self.CASES:
            with self.subTest(what):
                self.assertIs(verdict(at, start), True)
                self.assertIs(verdict(past, start), False)

    def test_each_thread_count_against_its_own(self):
        # One thread slower than vips on one thread, every core faster than vips on every core;
        # either against the other thread count would be judged the other way.
        cmds = [run("tiff16", "axiswarp", "1", wall=2.0), run("tiff16", "vips resize", "1", wall=1.0),
                run("tiff16", "axiswarp", "all", wall=2.5), run("tiff16", "vips resize", "all", wall=3.0)]
        self.assertIs(verdict(cmds, "time, tiff16, 1 thread"), False)
        self.assertIs(verdict(cmds, "time, tiff16, all"), True)

    def test_a_baseline_is_not_judged(self):
        cmds = [run("tiff16", "baseline", "1", peak=4000 * MB, system=0.9)]
        self.assertEqual(wr.target_lines(cmds), [])


class Bytes(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)

    def file(self, name, data):
        # A new name each time: filecmp caches verdicts by name, size and time.
        path = os.path.join(self.work.name, f"{name}-{len(os.listdir(self.work.name))}")
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, ns=(0, 0))  # same size and time: only the bytes can tell the files apart
        return path

    def test_two_cores_needs_speed_and_equal_bytes(self):
        one = self.file("one", b"\x01\x02\x03")
        for what, wall_two, data, met in [("1.6x, same bytes", 1.0, b"\x01\x02\x03", True),
                                          ("1.59x, same bytes", 1.6 / 1.59, b"\x01\x02\x03", False),
                                          ("1.6x, one byte differs", 1.0, b"\x01\x02\x04", False)]:
            with self.subTest(what):
                cmds = [run("jpeg", "axiswarp", "1", wall=1.6, out=one),
                        run("jpeg", "axiswarp", "2", wall=wall_two, out=self.file("two", data))]
                self.assertIs(verdict(cmds, "two cores, jpeg"), met)

    def test_jobs_and_baseline_outputs_compared(self):
        for what, two, old, expected in [("all equal", b"ab", b"ab", [True, True]),
                                         ("jobs 2 differs", b"aB", b"ab", [False, True]),
                                         ("baseline differs", b"ab", b"ba", [True, False])]:
            with self.subTest(what):
                cmds = [run("png", "axiswarp", "1", out=self.file("1", b"ab")),
                        run("png", "axiswarp", "2", out=self.file("2", two)),
                        run("png", "baseline", "1", out=self.file("old", old))]
                self.assertEqual([same for same, _ in wr.identity_checks(cmds, self.work.name)], expected)


if __name__ == "__main__":
    unittest.main()
