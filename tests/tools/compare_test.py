"""The before-and-after comparison: how two rows are judged, how a run without a row is read,
the grid, and the runner itself on small parts whose answer is known (run with the runner's
path as the first argument; without it those cases are skipped)."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "compare"))
import compare  # noqa: E402

RUNNER = None

GOOD = {"outcome": "published", "triangles": 1000, "crossing_triangles": 0, "closed": True, "manifold": True,
        "outward": True, "volume": 64000.0, "verdict": "Good", "ms": 2000.0}


def changed(**fields):
    row = dict(GOOD)
    row.update(fields)
    return row


class CompareRows(unittest.TestCase):
    def test_each_change_is_marked_on_the_right_side(self):
        cases = [
            ("the same run", GOOD, GOOD, [], []),
            ("refused where it passed", GOOD, {"outcome": "refused", "reason": "open"}, ["published -> refused"], []),
            ("passes where it was refused", {"outcome": "refused"}, GOOD, [], ["refused -> published"]),
            ("timed out where it passed", GOOD, {"outcome": "timed out"}, ["published -> timed out"], []),
            ("both refused, for other reasons", {"outcome": "refused", "reason": "a"},
             {"outcome": "failed", "reason": "b"}, [], []),
            ("more crossing triangles", GOOD, changed(crossing_triangles=4), ["crossing 0 -> 4"], []),
            ("fewer crossing triangles", changed(crossing_triangles=4), GOOD, [], ["crossing 4 -> 0"]),
            ("crossings not checked on one side", changed(crossing_triangles=-1), changed(crossing_triangles=9), [], []),
            ("opened", GOOD, changed(closed=False), ["closed True -> False"], []),
            ("turned inside out", GOOD, changed(outward=False), ["outward True -> False"], []),
            ("verdict downgraded", GOOD, changed(verdict="Usable with care"), ["verdict Good -> Usable with care"], []),
            ("verdict upgraded", changed(verdict="Unsuitable"), GOOD, [], ["verdict Unsuitable -> Good"]),
            ("verdict lost", GOOD, changed(verdict="not checked"), ["verdict Good -> not checked"], []),
            ("volume within the share", GOOD, changed(volume=64000.0 * (1 + 0.9 * compare.VOLUME_SHARE)), [], []),
            ("volume beyond the share", GOOD, changed(volume=50000.0), ["volume 64000.0 -> 50000.0"], []),
            ("much slower", GOOD, changed(ms=4000.0), ["time 2000 -> 4000 ms"], []),
            ("much faster", changed(ms=4000.0), GOOD, [], ["time 4000 -> 2000 ms"]),
            ("slower by a factor, but only by noise", changed(ms=100.0), changed(ms=400.0), [], []),
            ("slower, not by the factor", GOOD, changed(ms=2900.0), [], []),
        ]
        for name, before, after, worse, better in cases:
            with self.subTest(name):
                self.assertEqual(compare.compare_rows(before, after), (worse, better))


class TimingAgain(unittest.TestCase):
    def test_only_a_difference_in_time_is_timed_again(self):
        cases = [
            ("the same run", GOOD, GOOD, False),
            ("slower only", GOOD, changed(ms=4000.0), True),
            ("faster only", changed(ms=4000.0), GOOD, True),
            ("slower and opened", GOOD, changed(ms=4000.0, closed=False), False),
            ("refused", GOOD, {"outcome": "refused"}, False),
        ]
        for name, before, after, again in cases:
            with self.subTest(name):
                self.assertEqual(compare.differs_in_time(before, after), again)

    def test_the_shorter_of_two_equal_runs_is_kept(self):
        cases = [
            ("shorter again", changed(ms=4000.0), GOOD, 2000.0),
            ("longer again", GOOD, changed(ms=4000.0), 2000.0),
            ("another result again", changed(ms=4000.0), changed(ms=10.0, triangles=7), 4000.0),
        ]
        for name, first, second, ms in cases:
            with self.subTest(name):
                self.assertEqual(compare.faster_of(first, second)["ms"], ms)


class PeerEntries(unittest.TestCase):
    def test_the_fastest_run_of_a_peer_case_is_kept(self):
        fast, slow = {"real_time": 10.0, "ratio": 0.5}, {"real_time": 20.0, "ratio": 1.5}
        cases = [
            ("first run", None, slow, slow),
            ("faster again", slow, fast, fast),
            ("slower again", fast, slow, fast),
            ("failed again", fast, "failed: timed out", fast),
            ("ran after a failure", "failed: timed out", slow, slow),
            ("not built either time", "not built", "not built", "not built"),
        ]
        for name, kept, entry, expected in cases:
            with self.subTest(name):
                self.assertEqual(compare.faster_peer_entry(kept, entry), expected)


class ParseRow(unittest.TestCase):
    def test_a_run_is_read_from_its_line_or_from_how_it_ended(self):
        line = json.dumps(GOOD)
        cases = [
            ("the row after other output", "progress\n" + line + "\n", 0, "", "published"),
            ("no row, killed", "", -9, "", "out of memory"),
            ("no row, bad_alloc", "", -6, "terminate called after throwing an instance of 'std::bad_alloc'",
             "out of memory"),
            ("no row, segfault", "", -11, "", "crashed"),
            ("a cut-off row", '{"outcome": "publ', -11, "", "crashed"),
        ]
        for name, stdout, code, stderr, outcome in cases:
            with self.subTest(name):
                self.assertEqual(compare.parse_row(stdout, code, stderr)["outcome"], outcome)


class Grid(unittest.TestCase):
    def test_the_grid_covers_every_setting_once(self):
        for quick, sizes in ((False, 2), (True, 1)):
            grid = compare.settings_grid(quick)
            self.assertEqual(len(grid), 2 * 2 * sizes * 2)
            self.assertEqual(len({compare.settings_text(s) for s in grid}), len(grid))

    def test_quick_takes_every_fourth_part_of_the_same_order(self):
        parts = ["p%02d" % i for i in range(10)]
        self.assertEqual(compare.pick_parts(reversed(parts), True), ["p00", "p04", "p08"])
        self.assertEqual(compare.pick_parts(parts, False), parts)

    def test_cores_are_shared_out_without_overlap(self):
        for jobs in (1, 3, 64):
            slots = compare.core_slots(jobs)
            cores = [c for slot in slots for c in slot]
            self.assertEqual(sorted(cores), sorted(os.sched_getaffinity(0)))
            self.assertTrue(all(slots))


class RunnerSource(unittest.TestCase):
    def test_an_older_tree_gets_the_current_runners_once(self):
        own_lines = "add_executable(process_corpus process_corpus/process_corpus.cpp)\n"
        cases = [
            # name, the process runner's source already there, the folders the commit holds,
            # CMake lines
            ("a tree without the runners", None, set(), "add_executable(render_shots x.cpp)\n"),
            ("a copy left by an earlier run", "// out of date\n", set(), own_lines),
            ("a tree with its own process runner only", "// its own\n", {"process_corpus"}, own_lines),
            ("a tree with every runner", "// its own\n", {"process_corpus", "repair_corpus", "corpus_part"},
             own_lines + compare.RUNNER_CMAKE["repair_corpus"]),
        ]
        for name, there, held, lists in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as tree:
                os.makedirs(os.path.join(tree, "tools"))
                with open(os.path.join(tree, "tools", "CMakeLists.txt"), "w") as f:
                    f.write(lists)
                if there is not None:
                    os.makedirs(os.path.join(tree, "tools", "process_corpus"))
                    with open(os.path.join(tree, "tools", "process_corpus", "process_corpus.cpp"), "w") as f:
                        f.write(there)
                compare.give_runner_source(tree, held)
                compare.give_runner_source(tree, held)
                with open(os.path.join(tree, "tools", "CMakeLists.txt")) as f:
                    text = f.read()
                for runner in ("process_corpus", "repair_corpus"):
                    self.assertEqual(text.count("add_executable(%s " % runner), 1, runner)
                with open(os.path.join(tree, "tools", "process_corpus", "process_corpus.cpp")) as f:
                    source = f.read()
                self.assertEqual(source == there, "process_corpus" in held)
                # Whatever the tree held, a runner copied in finds the loader it compiles.
                if held != {"process_corpus", "repair_corpus", "corpus_part"}:
                    self.assertTrue(os.path.isfile(os.path.join(tree, "tools", "corpus_part", "corpus_part.cpp")))
                    self.assertTrue(os.path.isfile(os.path.join(tree, "tools", "repair_corpus", "repair_corpus.cpp")))


# A 1 x 2 x 4 box as OFF: scaled to 40 mm its volume is 10 x 20 x 40 mm before the relief.
BOX_OFF = """OFF
8 6 0
0 0 0
1 0 0
1 2 0
0 2 0
0 0 4
1 0 4
1 2 4
0 2 4
4 0 3 2 1
4 4 5 6 7
4 0 1 5 4
4 1 2 6 5
4 2 3 7 6
4 3 0 4 7
"""


@unittest.skipIf(RUNNER is None and len(sys.argv) < 2, "no runner given")
class Runner(unittest.TestCase):
    def run_part(self, text, suffix=".off", *extra):
        with tempfile.NamedTemporaryFile("w", suffix=suffix, delete=False) as f:
            f.write(text)
        try:
            done = subprocess.run([RUNNER, "--triangle", "0.5", "--simplify", "off"] + list(extra) + [f.name],
                                  capture_output=True, text=True, timeout=600)
        finally:
            os.unlink(f.name)
        return compare.parse_row(done.stdout, done.returncode, done.stderr)

    def test_a_box_is_scaled_processed_and_measured(self):
        row = self.run_part(BOX_OFF)
        self.assertEqual(row["outcome"], "published", row)
        self.assertTrue(row["closed"] and row["manifold"] and row["outward"], row)
        self.assertEqual(row["crossing_triangles"], 0)
        self.assertEqual(row["source_triangles"], 12)
        # A relief of 1 mm about the middle level moves the 2,800 mm2 of surface by at most half a mm.
        self.assertAlmostEqual(row["volume"], 8000.0, delta=0.6 * 2800.0)

    def test_comments_are_read_past(self):
        row = self.run_part("# written by a tool\n" + BOX_OFF.replace("0 0 0\n", "0 0 0 # the origin\n", 1))
        self.assertEqual(row["outcome"], "published", row)

    def test_damaged_files_are_unreadable_with_a_reason(self):
        cases = [
            ("counts beyond the vertices", BOX_OFF.replace("8 6 0", "80 6 0"), "ends inside its vertices"),
            ("a face naming a missing vertex", BOX_OFF.replace("4 4 5 6 7", "4 4 5 6 70"), "missing vertex"),
            ("a face of two corners", BOX_OFF.replace("4 4 5 6 7", "2 4 5"), "unreadable"),
            ("not OFF at all", "solid nothing\n", "not an OFF file"),
        ]
        for name, text, says in cases:
            with self.subTest(name):
                row = self.run_part(text)
                self.assertEqual(row["outcome"], "unreadable")
                self.assertIn(says, row["reason"])

    def test_every_generated_part_is_known(self):
        listed = subprocess.run([RUNNER, "--list-gen"], capture_output=True, text=True).stdout.split()
        self.assertIn("gen:cube-with-hollow", listed)
        row = compare.parse_row(subprocess.run([RUNNER, "gen:no-such-part"], capture_output=True, text=True).stdout, 0)
        self.assertEqual(row["outcome"], "unreadable")


if __name__ == "__main__":
    if len(sys.argv) > 1 and os.path.isfile(sys.argv[-1]):
        RUNNER = sys.argv.pop()
    unittest.main()
