"""The before-and-after comparison: how two rows are judged, how a run without a row is read,
the grid, and the runner itself on small parts whose answer is known (run with the runner's
path as the first argument; without it those cases are skipped)."""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "compare"))
import compare  # noqa: E402

RUNNER = None
REPAIR_RUNNER = None

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


# A repaired part as a Repair row gives it: closed, manifold, outward, nothing moved.
FIXED = {"route": "repair", "outcome": "replaced", "bodies_before": 3, "bodies_after": 3, "bodies_gone": 0,
         "volume_before": 1000.0, "volume_after": 1000.0, "closed_before": True, "closed": True, "manifold": True,
         "outward": True, "open_edges": 0, "nonmanifold_edges": 0, "winding_conflicts": 0, "corner_move": 0.0, "crossings": 0, "info_kind": 0, "info": "Repaired: ...",
         "verdict": "Good", "second_changed": False, "ms": 2000.0}
CHECKED = dict({k: v for k, v in FIXED.items() if k not in ("crossings", "info_kind", "info", "verdict", "second_changed")},
               route="check", outcome="completed", crossing_triangles=0, passed=True,
               headline="Ready to save: no problems found.")


def fixed(base=FIXED, **fields):
    row = dict(base)
    row.update(fields)
    return row


class CompareRepairAndCheckRows(unittest.TestCase):
    def test_each_change_is_marked_on_the_right_side(self):
        cases = [
            ("the same repair", FIXED, FIXED, [], []),
            ("failed where it repaired", FIXED, {"outcome": "crashed"}, ["replaced -> crashed"], []),
            ("left as it was, as before", fixed(outcome="unchanged"), FIXED, [], []),
            ("inside out under a green box", FIXED, fixed(outward=False, volume_after=-1000.0),
             ["green box over faults False -> True", "outward True -> False"], []),
            ("turned outward", fixed(info_kind=1, outward=False, volume_after=-1000.0), fixed(info_kind=1), [],
             ["outward False -> True"]),
            ("a body removed", FIXED, fixed(bodies_gone=1), ["bodies removed 0 -> 1"], []),
            # Welded or split pieces change the count, not what is there.
            ("bodies joined by a weld", FIXED, fixed(bodies_after=1), [], []),
            ("volume moved past the share", FIXED, fixed(volume_after=980.0), ["volume moved 0.0% -> 2.0%"], []),
            ("volume moved within the share", FIXED, fixed(volume_after=995.0), [], []),
            ("volume of an open input", fixed(closed_before=False), fixed(closed_before=False, volume_after=10.0), [], []),
            ("corner moved further", FIXED, fixed(corner_move=0.5), ["corner move 0 -> 0.5 mm"], []),
            ("corner moved by float noise", fixed(corner_move=0.5), fixed(corner_move=0.5004), [], []),
            ("a second repair changes it", FIXED, fixed(second_changed=True),
             ["second Repair changes it False -> True"], []),
            ("slower past the rule", FIXED, fixed(ms=4000.0), ["time 2000 -> 4000 ms"], []),
            ("check: a passed headline turned to problems", CHECKED,
             fixed(CHECKED, passed=False, headline="1 problem found: 4 open edges."), ["passed True -> False"], []),
            ("check: \"Ready to save\" over crossings", CHECKED, fixed(CHECKED, crossing_triangles=2),
             ["\"Ready to save\" with faults False -> True", "crossing 0 -> 2"], []),
            ("check: \"Ready to save\" over open edges", fixed(CHECKED, passed=False, headline="1 problem found", closed=False),
             fixed(CHECKED, closed=False, open_edges=4), ["\"Ready to save\" with faults False -> True"],
             ["passed False -> True"]),
            # Bodies touching at a corner (pinched, not manifold) are read by a slicer as written.
            ("check: \"Ready to save\" over bodies touching at a corner", CHECKED, fixed(CHECKED, manifold=False),
             ["manifold True -> False"], []),
        ]
        for name, before, after, worse, better in cases:
            with self.subTest(name):
                self.assertEqual(compare.compare_rows(before, after), (worse, better))

    def test_a_row_alone_names_its_faults(self):
        cases = [
            ("sound", FIXED, []),
            ("left open under a green box that claims nothing done",
             fixed(outcome="unchanged", closed_before=False, closed=False, open_edges=4), []),
            ("a second repair changes it, nothing said of 10.00 mm", fixed(second_changed=True, info="holes 10.00 mm across"),
             ["second Repair changes it"]),
            ("a hole of 0.00 mm", fixed(CHECKED, report="left 5 holes open (largest 0.00 mm across)"), ["says 0.00 mm"]),
            ("holes of 0.0 mm", fixed(info="4 holes up to 0.0 mm across"), ["says 0.00 mm"]),
            ("a hole of 0.05 mm", fixed(info="4 holes up to 0.05 mm across"), []),
            ("a volume of 0.00 mm3", fixed(CHECKED, headline="1 problem found: 47.5% (0.00 to 0.00 mm3)."),
             ["says 0.00 mm"]),
            ("open where it was closed", fixed(CHECKED, passed=False, headline="1 problem found", closed=False),
             ["no longer closed"]),
            ("\"Ready to save\" over crossings", fixed(CHECKED, crossing_triangles=2), ["\"Ready to save\" with faults"]),
            ("a crumb removed", fixed(bodies_gone=1), ["bodies removed: 1 of 3"]),
            ("timed out", {"route": "check", "outcome": "timed out"}, ["timed out"]),
            # The part's corners measured against what was written, against the move the text quotes.
            ("check: corners within the quoted move",
             fixed(CHECKED, corner_loss=0.843, report="ok the fixes ..., and moved the surface at most 0.84 mm, where"), []),
            ("check: a plate's corners cut away under a small quote",
             fixed(CHECKED, corner_loss=21.31, report="ok the fixes ..., and moved the surface at most 0.84 mm, where"),
             ["corners lost past the quoted move: 21.31 mm, quoted 0.84 mm"]),
            ("check: a corner named past the rule", fixed(CHECKED, passed=False, corner_loss=21.31,
             report="problem the fixes left a corner of a body 21.31 mm from what is written, 4.6% of"), []),
            ("repair: a box that says nothing moved", fixed(corner_loss=0.5),
             ["corners lost past the quoted move: 0.5 mm, quoted 0 mm"]),
            ("repair: a box naming the side moved", fixed(info_kind=1, corner_loss=0.87,
             info="the fixes moved a side of a body by 0.87 mm along x"), []),
            ("repair: not measured", fixed(corner_loss=-1.0), []),
        ]
        for name, row, faults in cases:
            with self.subTest(name):
                self.assertEqual(compare.row_faults(row), faults)


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


class Baseline(unittest.TestCase):
    def test_every_lasting_difference_fails_and_time_does_not(self):
        cache = "/cache"
        settings = {"mode": "solid", "surfaces": "all", "triangle": 0.4, "simplify": "on"}
        cases = [("/cache/packages/cura/a.stl", settings), ("gen:box", settings)]
        base = compare.baseline_rows("process", cases, [dict(GOOD), dict(GOOD)], cache)
        self.assertEqual(sorted(base), ["gen:box | solid/all/0.4mm/simplify",
                                        "packages/cura/a.stl | solid/all/0.4mm/simplify"])
        rows = [
            ("the same again, slower", dict(GOOD, ms=GOOD["ms"] * 9), 0),
            ("a volume past its ninth digit", dict(GOOD, volume=GOOD["volume"] * (1 + 1e-7)), 1),
            ("a triangle more", dict(GOOD, triangles=GOOD["triangles"] + 1), 1),
            ("a crossing", dict(GOOD, crossing_triangles=2), 1),
            ("a body more", dict(GOOD, bodies=2), 1),
            ("another verdict", dict(GOOD, verdict="Unsuitable"), 1),
            ("a problem more under the same verdict", dict(GOOD, problems=1), 1),
            ("crashed", {"outcome": "crashed", "reason": "exit -11"}, 1),
        ]
        for name, row, differing in rows:
            with self.subTest(name):
                found = compare.baseline_rows("process", cases, [row, dict(GOOD)], cache)
                self.assertEqual(len(compare.baseline_differences(base, found)), differing)
        with self.subTest("a case missing and one new"):
            found = compare.baseline_rows("process", [cases[0], ("gen:ball", settings)], [dict(GOOD)] * 2, cache)
            lines = compare.baseline_differences(base, found)
            self.assertEqual(len(lines), 2)
            self.assertTrue(any("not run" in line for line in lines))
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "baseline.jsonl")
            compare.write_baseline(path, base)
            self.assertEqual(compare.read_baseline(path), base)


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

    def test_repair_and_check_take_each_file_at_each_size_and_each_shape_once(self):
        cases = compare.fix_cases("check", ["a.stl", "b.off"], ["gen:cube"], compare.parse_sizes("own,40,2"))
        self.assertEqual(len(cases), 2 * 3 + 1)
        self.assertEqual(len({(part, compare.settings_text(s)) for part, s in cases}), len(cases))
        self.assertEqual(compare.settings_text(cases[-1][1]), "check own")
        for bad in ("0", "-2", "forty", ""):
            with self.assertRaises(argparse.ArgumentTypeError):
                compare.parse_sizes(bad)

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


def run_repair_runner(text, *arguments):
    with tempfile.NamedTemporaryFile("w", suffix=".off", delete=False) as f:
        f.write(text)
    try:
        done = subprocess.run([REPAIR_RUNNER] + list(arguments) + [f.name], capture_output=True, text=True,
                              timeout=600)
    finally:
        os.unlink(f.name)
    return [json.loads(line) for line in done.stdout.splitlines() if line.startswith("{")]


class RepairRunner(unittest.TestCase):
    def setUp(self):
        if REPAIR_RUNNER is None:
            self.skipTest("no repair runner given")

    def test_repair_and_check_of_a_sound_box_change_nothing(self):
        repair, check = run_repair_runner(BOX_OFF, "--route", "both", "--twice")
        self.assertEqual((repair["route"], repair["outcome"], repair["size"]), ("repair", "unchanged", 40), repair)
        # Validation found nothing, so the menu never ran the job: a box, and no repair log.
        self.assertEqual((repair["info_kind"], repair["summary"]), (0, ""), repair)
        self.assertEqual((repair["corner_move"], repair["corner_loss"], repair["bodies_gone"], repair["second_changed"]),
                         (0, 0, 0, False))
        self.assertEqual(check["corner_loss"], 0, check)
        self.assertEqual((check["route"], check["outcome"], check["passed"]), ("check", "completed", True), check)
        self.assertTrue(check["headline"].startswith("Ready to save"), check)
        # 10 x 20 x 40 mm, the box scaled to 40 mm.
        self.assertAlmostEqual(check["volume_after"], 8000.0, places=6)

    def test_a_small_hole_is_closed_between_the_corners_there(self):
        # The top taken away and the part at 2 mm: 0.5 x 1 x 2 mm, its 0.5 x 1 mm hole closed by
        # two triangles over its four corners.
        open_box = BOX_OFF.replace("8 6 0", "8 5 0").replace("4 4 5 6 7\n", "")
        for size, volume in (("2", 1.0), ("own", 8.0)):
            with self.subTest(size):
                (row,) = run_repair_runner(open_box, "--route", "repair", "--size", size)
                self.assertEqual(row["size"], 2 if size == "2" else "own")
                if size == "2":
                    self.assertEqual(row["outcome"], "replaced", row)
                    self.assertTrue(row["info"] and row["summary"].startswith("Repair"), row)
                    self.assertTrue(row["closed"] and row["manifold"] and row["outward"], row)
                    self.assertEqual((row["corner_move"], row["corner_loss"]), (0, 0))
                    self.assertAlmostEqual(row["volume_after"], volume, places=6)
                else:
                    self.assertFalse(row["closed_before"])
                    self.assertEqual(row["source_triangles"], 10)


if __name__ == "__main__":
    # The runners' paths, when given, end the arguments: the Process runner, then the repair runner.
    while len(sys.argv) > 1 and os.path.isfile(sys.argv[-1]):
        path = sys.argv.pop()
        if "repair_corpus" in os.path.basename(path):
            REPAIR_RUNNER = path
        else:
            RUNNER = path
    unittest.main()
