#!/usr/bin/env python3
"""Before and after: runs Process, Mesh > Repair or the Save STL check over a corpus of foreign
parts and the generated test shapes with two builds, and prints one table with every case that
got worse or better, then the peer benchmarks of both side by side.

    compare.py BEFORE AFTER [-j N] [--quick] [--route process|repair|check]
               [--corpus prusa,cgal,assimp,cura|both|all] [--sizes own,40,2] ...
    compare.py BUILD [...]       one build alone: its table with each case's faults
    compare.py BUILD --baseline FILE [--write-baseline FILE] [...]
                                 one build against a committed baseline of the columns that
                                 do not depend on the machine; exits 1 when any case differs

Process runs in one grid of settings at --size; Repair and the check run each corpus part at
each of --sizes ("own": the file's own size) and the generated shapes at theirs. BEFORE and
AFTER are build folders (holding the route's runner under tools/) or commits of this
repository. A commit is checked out as a git worktree in the cache, given the runners' sources
from this tree when it lacks them, configured (Release, ccache) and only the runner and the
peer benchmarks are built. The corpus is fetched once into the cache (~/.cache/tessary-compare
or $TESSARY_COMPARE_CACHE) with `apt-get download` and `dpkg-deb -x`. --rows writes every row
as a JSON line. Only the standard library is used.
"""

import argparse
import concurrent.futures
import json
import os
import queue
import re
import resource
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_ROOT = os.path.dirname(os.path.dirname(HERE))
# The runner of each route, its folder under tools/, and the CMake lines that build it in a tree
# that lacks them (as tools/CMakeLists.txt has them); both runners compile the shared loader.
RUNNERS = {"process": "process_corpus", "repair": "repair_corpus", "check": "repair_corpus"}
SHARED_SOURCE = "corpus_part"
RUNNER_CMAKE = {
    "process_corpus": "add_executable(process_corpus process_corpus/process_corpus.cpp corpus_part/corpus_part.cpp)\n"
                      "target_link_libraries(process_corpus PRIVATE tessary_pipeline tessary_test_support)\n",
    "repair_corpus": "add_executable(repair_corpus repair_corpus/repair_corpus.cpp corpus_part/corpus_part.cpp\n"
                     "  ${PROJECT_SOURCE_DIR}/app/workflow/dialogs/export_check.cpp)\n"
                     "target_link_libraries(repair_corpus PRIVATE tessary_document tessary_test_support)\n",
}
FIX_ROUTES = ("repair", "check")
PEER_BENCHMARKS = ["stl_peers_bench", "simplify_peers_bench", "search_peers_bench"]

# What counts as a change worth a marker: a volume moved by more than this share of its own, a
# time longer by more than this factor and by more than this many milliseconds (shorter runs
# are mostly start-up noise).
VOLUME_SHARE = 0.05
TIME_FACTOR = 1.5
TIME_FLOOR_MS = 500.0

# A case marked only for its time is run again this many times, both builds, keeping each
# build's shortest time: the same build against itself on a busy machine marked 6 of 1,440
# cases slower by up to 1.7 times without it.
RETIME_ROUNDS = 2

VERDICT_RANK = {"Good": 0, "Usable with care": 1, "Unsuitable": 2}

# Repair and the check: a volume moved by more than this share of the part's own, and a largest
# corner move longer by more than this share of the other build's and by more than this many mm
# (relaxing moves corners by float steps that differ between builds without meaning anything).
FIX_VOLUME_SHARE = 0.01
CORNER_MOVE_SHARE = 0.1
CORNER_MOVE_FLOOR_MM = 0.001

# The outcomes in which Repair and the check gave a part.
FIX_DONE = {"repair": ("replaced", "unchanged"), "check": ("completed",)}

# A length or volume printed as nothing ("0.0 mm", "0.00 mm", "0.00 mm3"): a text about a hole
# or a change the part has shows enough digits to tell it from nothing.
ZERO_MILLIMETRES = re.compile(r"(?<![0-9.])-?0\.0+ mm")

# The moves a Repair or check text owns up to: the furthest move it quotes, a corner it left off
# what is written, a side of a body it moved.
QUOTED_MOVE = re.compile(r"(?:moved the surface at most|left a corner of a body|moved a side of a body by) "
                         r"([0-9]+(?:\.[0-9]+)?) mm")

# ---------------------------------------------------------------------------------------------
# The grid


def settings_grid(quick):
    """Both relief modes, outer and all surfaces, two triangle sizes, simplify on and off; the
    quick grid keeps one triangle size."""
    sizes = [0.4] if quick else [0.3, 0.5]
    grid = []
    for mode in ("solid", "vertex"):
        for surfaces in ("all", "outer"):
            for size in sizes:
                for simplify in ("on", "off"):
                    grid.append({"mode": mode, "surfaces": surfaces, "triangle": size, "simplify": simplify})
    return grid


def settings_text(s):
    if s.get("route") in FIX_ROUTES:
        return "%s %s" % (s["route"], s["size"] if s["size"] == "own" else "%gmm" % float(s["size"]))
    return "%s/%s/%gmm/%s" % (s["mode"], s["surfaces"], s["triangle"], "simplify" if s["simplify"] == "on" else "plain")


def parse_sizes(text):
    """"own,40,2" -> ["own", 40.0, 2.0]; a size that is neither "own" nor above zero is refused."""
    sizes = []
    for word in text.split(","):
        word = word.strip()
        if word == "own":
            sizes.append("own")
            continue
        try:
            size = float(word)
        except ValueError:
            size = 0.0
        if not size > 0.0:
            raise argparse.ArgumentTypeError("a size is \"own\" or mm above zero, not %r" % word)
        sizes.append(size)
    if not sizes:
        raise argparse.ArgumentTypeError("no size given")
    return sizes


def fix_cases(route, files, generated, sizes):
    """Each file at each size, each generated shape once at its own."""
    cases = [(part, {"route": route, "size": size}) for part in files for size in sizes]
    return cases + [(part, {"route": route, "size": "own"}) for part in generated]


def pick_parts(parts, quick):
    """Every part, or every fourth in a quick run (sorted, so both builds see the same ones)."""
    parts = sorted(parts)
    return parts[::4] if quick else parts


# ---------------------------------------------------------------------------------------------
# Rows and their comparison


def parse_row(stdout, returncode, stderr=""):
    """The runner's JSON line, or a row saying how the run ended without one."""
    for line in reversed(stdout.splitlines()):
        line = line.strip()
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                break
    if "bad_alloc" in stderr or "out of memory" in stderr.lower() or returncode == -signal.SIGKILL:
        return {"outcome": "out of memory", "reason": "killed or out of memory (exit %s)" % returncode}
    tail = stderr.strip().splitlines()[-1:] if stderr.strip() else []
    return {"outcome": "crashed", "reason": "exit %s %s" % (returncode, " ".join(tail))}


def published(row):
    return row.get("outcome") == "published"


def row_route(*rows):
    """The route the rows came from; a row of a run that ended without a line names none."""
    for row in rows:
        if row.get("route"):
            return row["route"]
    return "process"


def fix_done(row, route):
    return row.get("outcome") in FIX_DONE.get(route, ())


def shortened(text, length=70):
    text = (text or "").replace("\n", " ").replace("\r", "")
    return text[:length - 3] + "..." if len(text) > length else text


def describe(row, route=None):
    """One cell of the table: what the run gave."""
    route = route or row_route(row)
    if route in FIX_ROUTES:
        return describe_fix(row, route)
    if not published(row):
        reason = (row.get("reason") or "").replace("\n", " ")
        if len(reason) > 70:
            reason = reason[:67] + "..."
        return "%s: %s" % (row.get("outcome", "?"), reason) if reason else row.get("outcome", "?")
    flags = "".join(
        letter for letter, key in (("C", "closed"), ("M", "manifold"), ("O", "outward")) if row.get(key))
    crossing = row.get("crossing_triangles", -1)
    return "%d tri, %s x, %s, vol %.1f, %s, %.0f ms" % (
        row.get("triangles", 0), crossing if crossing >= 0 else "?", flags or "-", row.get("volume", 0.0),
        row.get("verdict", "?"), row.get("ms", 0.0))


def describe_fix(row, route):
    """A cell of a Repair or check row: bodies, flags, volume, corner move, what it said, time."""
    if not fix_done(row, route):
        reason = shortened(row.get("reason"))
        return "%s: %s" % (row.get("outcome", "?"), reason) if reason else row.get("outcome", "?")
    flags = "".join(
        letter for letter, key in (("C", "closed"), ("M", "manifold"), ("O", "outward")) if row.get(key))
    text = "%s, %d tri, bodies %d->%d, %s, vol %.6g->%.6g, move %.4g, loss %.4g" % (
        row["outcome"], row.get("triangles", 0), row.get("bodies_before", 0), row.get("bodies_after", 0),
        flags or "-", row.get("volume_before", 0.0), row.get("volume_after", 0.0), row.get("corner_move", 0.0),
        row.get("corner_loss", 0.0))
    if route == "repair":
        text += ", %s x, box %s \"%s\", %s" % (row.get("crossings", "?"), row.get("info_kind", "?"),
                                              shortened(row.get("info"), 60), row.get("verdict", "?"))
        if row.get("second_changed"):
            text += ", 2nd: \"%s\"" % shortened(row.get("second_info"), 60)
    else:
        crossing = row.get("crossing_triangles", -1)
        text += ", %s x, \"%s\"" % (crossing if crossing >= 0 else "?", shortened(row.get("headline"), 90))
    return text + ", %.0f ms" % row.get("ms", 0.0)


def volume_moved(row):
    """The share by which the part's enclosed volume (either way out) moved from the input's;
    nothing for an input that was not closed, whose volume means nothing."""
    if not row.get("closed_before"):
        return 0.0
    before, after = abs(row.get("volume_before", 0.0)), abs(row.get("volume_after", 0.0))
    if before == 0.0:
        return 0.0 if after == 0.0 else float("inf")
    return abs(after - before) / before


def inside_out(row):
    """Closed and enclosing less than nothing, or so by the validation's rule."""
    return bool(row.get("inside_out")) or (bool(row.get("closed")) and row.get("volume_after", 0.0) < 0.0)


def fault_free(row):
    """No open or non-manifold edge, no two triangles wound against each other, not inside out.
    Bodies touching at a corner are no fault: a slicer reads them as written."""
    if "open_edges" in row:
        edges_sound = not (row["open_edges"] or row.get("nonmanifold_edges") or row.get("winding_conflicts"))
    else:
        edges_sound = bool(row.get("closed")) and bool(row.get("manifold"))
    return edges_sound and not inside_out(row)


def false_ready(row):
    """The check says "Ready to save" on a mesh with crossings, open or non-manifold edges, or
    inside out."""
    return (row.get("headline") or "").startswith("Ready to save") and (
        row.get("crossing_triangles", 0) > 0 or not fault_free(row))


def false_green(row):
    """Repair replaced the part under a green box, leaving it open, non-manifold, inside out or
    with triangles facing against their body. (A green box over a part Repair left as it was
    claims nothing done.)"""
    return row.get("outcome") == "replaced" and row.get("info_kind") == 0 and (
        not fault_free(row) or row.get("reversed_triangles", 0) > 0)


def says_zero_millimetres(row):
    return any(ZERO_MILLIMETRES.search(row.get(key) or "") for key in ("headline", "report", "info"))


def quoted_move(row, route):
    """The furthest move a row's text owns up to, in mm, and the slack its rounding leaves (half
    a unit of the last digit printed): the check's "moved the surface at most", a corner or a
    side it names past its rule; Repair's box and summary the same."""
    text = (row.get("report") if route == "check" else "%s\n%s" % (row.get("info") or "", row.get("summary") or "")) or ""
    quoted, slack = 0.0, 0.0
    for match in QUOTED_MOVE.finditer(text):
        digits = match.group(1)
        value = float(digits)
        if value >= quoted:
            decimals = len(digits.split(".")[1]) if "." in digits else 0
            quoted, slack = value, 0.5 * 10.0 ** -decimals
    return quoted, slack


def loss_past_quote(row, route):
    """The part's corners lie further from what was written than the text says anything moved:
    the largest distance of a corner of the part from what is left of its body, against the
    furthest move the row's text owns up to. None when within it or not measured."""
    loss = row.get("corner_loss")
    if loss is None or loss < 0.0:
        return None
    quoted, slack = quoted_move(row, route)
    return (loss, quoted) if loss > quoted + slack else None


def bodies_lost(row):
    """The part's bodies a fix took away: counted by the runner where it can tell them from
    bodies a weld joined, else the fall in the count."""
    if "bodies_gone" in row:
        return row["bodies_gone"]
    return max(0, row.get("bodies_before", 0) - row.get("bodies_after", 0))


def row_faults(row, route=None):
    """What is wrong with one row on its own, whatever another build did: short labels, each
    its kind before any colon."""
    route = route or row_route(row)
    if route not in FIX_ROUTES:
        return []
    if not fix_done(row, route):
        return [row.get("outcome", "?")]
    faults = []
    if route == "repair" and false_green(row):
        faults.append("green box over faults")
    if route == "check" and false_ready(row):
        faults.append("\"Ready to save\" with faults")
    if inside_out(row):
        faults.append("inside out")
    for key in ("closed", "manifold"):
        if row.get(key + "_before") and not row.get(key):
            faults.append("no longer " + key)
    if row.get("second_changed"):
        faults.append("second Repair changes it")
    if says_zero_millimetres(row):
        faults.append("says 0.00 mm")
    if volume_moved(row) > FIX_VOLUME_SHARE:
        faults.append("volume moved: %.1f%%" % (100.0 * volume_moved(row)))
    if bodies_lost(row):
        faults.append("bodies removed: %d of %d" % (bodies_lost(row), row.get("bodies_before", 0)))
    past = loss_past_quote(row, route)
    if past:
        faults.append("corners lost past the quoted move: %.4g mm, quoted %.4g mm" % past)
    return faults


def compare_fix_rows(before, after, route):
    """compare_rows for Repair and the check."""
    worse, better = [], []

    def judge(got_worse, got_better, text):
        if got_worse:
            worse.append(text)
        elif got_better:
            better.append(text)

    b_done, a_done = fix_done(before, route), fix_done(after, route)
    if b_done != a_done:
        judge(b_done, a_done, "%s -> %s" % (before.get("outcome", "?"), after.get("outcome", "?")))
        return worse, better
    if not b_done:
        return worse, better
    # The gravest first: a text that calls a faulty part good.
    if route == "check":
        judge(false_ready(after) and not false_ready(before), false_ready(before) and not false_ready(after),
              "\"Ready to save\" with faults %s -> %s" % (false_ready(before), false_ready(after)))
    else:
        judge(false_green(after) and not false_green(before), false_green(before) and not false_green(after),
              "green box over faults %s -> %s" % (false_green(before), false_green(after)))
    for key in ("closed", "manifold", "outward"):
        judge(before.get(key) and not after.get(key), after.get(key) and not before.get(key),
              "%s %s -> %s" % (key, bool(before.get(key)), bool(after.get(key))))
    lost = [bodies_lost(row) for row in (before, after)]
    judge(lost[1] > lost[0], lost[1] < lost[0], "bodies removed %d -> %d" % tuple(lost))
    b_vol, a_vol = volume_moved(before), volume_moved(after)
    judge(a_vol > FIX_VOLUME_SHARE and (b_vol <= FIX_VOLUME_SHARE or a_vol - b_vol > FIX_VOLUME_SHARE),
          b_vol > FIX_VOLUME_SHARE and (a_vol <= FIX_VOLUME_SHARE or b_vol - a_vol > FIX_VOLUME_SHARE),
          "volume moved %.1f%% -> %.1f%%" % (100.0 * b_vol, 100.0 * a_vol))
    b_move, a_move = before.get("corner_move", 0.0), after.get("corner_move", 0.0)
    judge(a_move - b_move > max(CORNER_MOVE_FLOOR_MM, CORNER_MOVE_SHARE * b_move),
          b_move - a_move > max(CORNER_MOVE_FLOOR_MM, CORNER_MOVE_SHARE * a_move),
          "corner move %.4g -> %.4g mm" % (b_move, a_move))
    crossing_key = "crossing_triangles" if route == "check" else "crossings"
    b_cross, a_cross = before.get(crossing_key, -1), after.get(crossing_key, -1)
    if b_cross >= 0 and a_cross >= 0:
        judge(a_cross > b_cross, a_cross < b_cross, "crossing %d -> %d" % (b_cross, a_cross))
    if route == "check":
        judge(before.get("passed") and not after.get("passed"), after.get("passed") and not before.get("passed"),
              "passed %s -> %s" % (bool(before.get("passed")), bool(after.get("passed"))))
    else:
        b_rank = VERDICT_RANK.get(before.get("verdict"), len(VERDICT_RANK))
        a_rank = VERDICT_RANK.get(after.get("verdict"), len(VERDICT_RANK))
        judge(a_rank > b_rank, a_rank < b_rank, "verdict %s -> %s" % (before.get("verdict"), after.get("verdict")))
        judge(after.get("second_changed") and not before.get("second_changed"),
              before.get("second_changed") and not after.get("second_changed"),
              "second Repair changes it %s -> %s" % (bool(before.get("second_changed")), bool(after.get("second_changed"))))
    judge_time(before, after, judge)
    return worse, better


def judge_time(before, after, judge):
    b_ms, a_ms = before.get("ms", 0.0), after.get("ms", 0.0)
    judge(a_ms > TIME_FACTOR * b_ms and a_ms - b_ms > TIME_FLOOR_MS,
          b_ms > TIME_FACTOR * a_ms and b_ms - a_ms > TIME_FLOOR_MS, "time %.0f -> %.0f ms" % (b_ms, a_ms))


def compare_rows(before, after, route=None):
    """The ways `after` is worse and better than `before`: two lists of short reasons."""
    route = route or row_route(before, after)
    if route in FIX_ROUTES:
        return compare_fix_rows(before, after, route)
    worse, better = [], []

    def judge(got_worse, got_better, text):
        if got_worse:
            worse.append(text)
        elif got_better:
            better.append(text)

    if published(before) != published(after):
        judge(published(before), published(after),
              "%s -> %s" % (before.get("outcome", "?"), after.get("outcome", "?")))
        return worse, better
    if not published(before):
        return worse, better
    b_cross, a_cross = before.get("crossing_triangles", -1), after.get("crossing_triangles", -1)
    if b_cross >= 0 and a_cross >= 0:
        judge(a_cross > b_cross, a_cross < b_cross, "crossing %d -> %d" % (b_cross, a_cross))
    for key in ("closed", "manifold", "outward"):
        judge(before.get(key) and not after.get(key), after.get(key) and not before.get(key),
              "%s %s -> %s" % (key, bool(before.get(key)), bool(after.get(key))))
    b_rank = VERDICT_RANK.get(before.get("verdict"), len(VERDICT_RANK))
    a_rank = VERDICT_RANK.get(after.get("verdict"), len(VERDICT_RANK))
    judge(a_rank > b_rank, a_rank < b_rank, "verdict %s -> %s" % (before.get("verdict"), after.get("verdict")))
    b_vol, a_vol = before.get("volume", 0.0), after.get("volume", 0.0)
    if abs(a_vol - b_vol) > VOLUME_SHARE * abs(b_vol):
        worse.append("volume %.1f -> %.1f" % (b_vol, a_vol))
    judge_time(before, after, judge)
    return worse, better


# ---------------------------------------------------------------------------------------------
# The corpus


def cache_folder():
    return os.environ.get("TESSARY_COMPARE_CACHE") or os.path.join(os.path.expanduser("~"), ".cache", "tessary-compare")


def unpack_package(package, cache):
    """The package's files, downloaded and unpacked once into the cache."""
    target = os.path.join(cache, "packages", package)
    if os.path.isdir(target):
        return target
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with tempfile.TemporaryDirectory(dir=cache) as work:
        download = subprocess.run(["apt-get", "download", package], cwd=work, capture_output=True, text=True)
        if download.returncode != 0:
            raise RuntimeError("apt-get download %s failed: %s" % (package, download.stderr.strip()))
        debs = [f for f in os.listdir(work) if f.endswith(".deb")]
        if not debs:
            raise RuntimeError("apt-get download %s gave no package" % package)
        unpacked = os.path.join(work, "root")
        subprocess.run(["dpkg-deb", "-x", os.path.join(work, debs[0]), unpacked], check=True)
        os.rename(unpacked, target)
    return target


def files_under(folder, suffix):
    found = []
    for root, _, names in os.walk(folder):
        found.extend(os.path.join(root, n) for n in names if n.lower().endswith(suffix))
    return sorted(found)


def prusa_corpus(cache):
    """The STL shapes gallery and printer beds the slicer package ships."""
    return files_under(unpack_package("prusa-slicer", cache), ".stl")


def assimp_corpus(cache):
    """The STL test models of the asset importer (its models/STL folder)."""
    package = unpack_package("assimp-testmodels", cache)
    return files_under(os.path.join(package, "usr", "share", "assimp", "models", "STL"), ".stl")


def cura_corpus(cache):
    """The printer beds and shapes of the other slicer's resources (resources/meshes)."""
    package = unpack_package("cura", cache)
    return files_under(os.path.join(package, "usr", "share", "cura", "resources", "meshes"), ".stl")


def cgal_corpus(cache):
    """The OFF meshes of CGAL's demo data (data/meshes in data.tar.gz of libcgal-demo)."""
    meshes = os.path.join(cache, "cgal-meshes")
    if not os.path.isdir(meshes):
        package = unpack_package("libcgal-demo", cache)
        archives = [f for f in files_under(package, ".tar.gz") if os.path.basename(f) == "data.tar.gz"]
        if not archives:
            raise RuntimeError("libcgal-demo holds no data.tar.gz")
        os.makedirs(meshes + ".part", exist_ok=True)
        with tarfile.open(archives[0]) as archive:
            for member in archive.getmembers():
                if member.isfile() and "/meshes/" in member.name and member.name.endswith(".off"):
                    member.name = os.path.basename(member.name)
                    archive.extract(member, meshes + ".part")
        os.rename(meshes + ".part", meshes)
    return files_under(meshes, ".off")


CORPORA = {"prusa": prusa_corpus, "cgal": cgal_corpus, "assimp": assimp_corpus, "cura": cura_corpus}
CORPUS_GROUPS = {"both": ["prusa", "cgal"], "all": sorted(CORPORA), "none": []}


def parse_corpora(text):
    """"prusa,cgal" -> ["prusa", "cgal"]; "both" is prusa and cgal, "all" every corpus."""
    names = []
    for word in text.split(","):
        word = word.strip()
        if word not in CORPORA and word not in CORPUS_GROUPS:
            raise argparse.ArgumentTypeError("no corpus %r (%s)" % (word, ", ".join(sorted(CORPORA) + sorted(CORPUS_GROUPS))))
        names += CORPUS_GROUPS.get(word, [word])
    return sorted(set(names), key=names.index)


# ---------------------------------------------------------------------------------------------
# Builds


def is_build_folder(path):
    return os.path.isdir(path) and os.path.isfile(os.path.join(path, "CMakeCache.txt"))


def git(repo, *args):
    return subprocess.run(["git", "-C", repo] + list(args), check=True, capture_output=True, text=True).stdout.strip()


def tracked_sources(tree):
    """The runner and shared-source folders under tools/ that the commit checked out in `tree`
    holds itself."""
    held = set()
    for folder in list(RUNNER_CMAKE) + [SHARED_SOURCE]:
        source = "tools/%s/%s.cpp" % (folder, folder)
        if subprocess.run(["git", "-C", tree, "ls-files", "--error-unmatch", source], capture_output=True).returncode == 0:
            held.add(folder)
    return held


def give_runner_source(tree, held):
    """Copies each runner and the loader they share into an older tree that lacks them (over a
    copy left by an earlier run, which may be out of date), with the runners' CMake lines. A
    runner the tree holds keeps its own source and lines."""
    for folder in list(RUNNER_CMAKE) + [SHARED_SOURCE]:
        if folder not in held:
            shutil.copytree(os.path.join(SOURCE_ROOT, "tools", folder), os.path.join(tree, "tools", folder),
                            dirs_exist_ok=True)
    lists = os.path.join(tree, "tools", "CMakeLists.txt")
    with open(lists) as f:
        text = f.read()
    for runner, lines in RUNNER_CMAKE.items():
        if "add_executable(%s " % runner not in text:
            text += "\n" + lines
    with open(lists, "w") as f:
        f.write(text)


def build_commit(repo, commit, cache, jobs, peers, runner, log):
    """A Release build of `runner` (and the peer benchmarks) at `commit`; its build folder."""
    sha = git(repo, "rev-parse", "--verify", commit + "^{commit}")
    tree = os.path.join(cache, "trees", sha[:12])
    # Inside the tree, with ccache's base folder at the tree, so that the compile lines of two
    # commits match and an unchanged file is compiled once for all of them.
    build = os.path.join(tree, "build", "release")
    if not os.path.isdir(tree):
        os.makedirs(os.path.dirname(tree), exist_ok=True)
        git(repo, "worktree", "add", "--detach", tree, sha)
    give_runner_source(tree, tracked_sources(tree))
    configure = ["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DTESSARY_BENCH_PEERS=%s" % ("ON" if peers else "OFF")]
    targets = [runner] + (PEER_BENCHMARKS if peers else [])
    log("building %s (%s) in %s" % (commit, sha[:12], build))
    env = dict(os.environ, CCACHE_BASEDIR=tree)
    with open(os.path.join(cache, "build-%s.log" % sha[:12]), "w") as out:
        subprocess.run(configure, check=True, stdout=out, stderr=subprocess.STDOUT, env=env)
        subprocess.run(["cmake", "--build", build, "-j%d" % jobs, "--target"] + targets, check=True, stdout=out,
                       stderr=subprocess.STDOUT, env=env)
    return build


def resolve_build(given, repo, cache, jobs, peers, runner, log):
    if is_build_folder(given):
        if not os.path.isfile(os.path.join(given, "tools", runner)):
            raise SystemExit("%s has no tools/%s: build its target %s, or give a commit" % (given, runner, runner))
        return os.path.abspath(given)
    return build_commit(repo, given, cache, jobs, peers, runner, log)


# ---------------------------------------------------------------------------------------------
# Running the grid


def core_slots(jobs):
    """The processor numbers each of `jobs` parallel cases is pinned to, shared out evenly."""
    cores = sorted(os.sched_getaffinity(0))
    jobs = max(1, min(jobs, len(cores)))
    return [cores[k * len(cores) // jobs:(k + 1) * len(cores) // jobs] for k in range(jobs)]


def case_command(build, part, settings, size):
    """The runner's command line for one case; `size` is Process's (a fix route carries its own)."""
    route = settings.get("route", "process")
    runner = os.path.join(build, "tools", RUNNERS[route])
    if route in FIX_ROUTES:
        size_text = settings["size"] if settings["size"] == "own" else "%g" % float(settings["size"])
        return [runner, "--route", route, "--size", size_text] + (["--twice"] if route == "repair" else []) + [part]
    return [runner, "--size", str(size), "--mode", settings["mode"], "--surfaces", settings["surfaces"],
            "--triangle", str(settings["triangle"]), "--simplify", settings["simplify"], part]


def run_case(build, part, settings, size, timeout, memory_mb, cores):
    row = run_command(case_command(build, part, settings, size), timeout, memory_mb, cores)
    if settings.get("route") in FIX_ROUTES:
        row.setdefault("route", settings["route"])
    return row


def run_command(command, timeout, memory_mb, cores):
    if shutil.which("taskset"):
        command = ["taskset", "-c", ",".join(map(str, cores))] + command

    def limit_memory():
        limit = memory_mb * 1024 * 1024
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               preexec_fn=limit_memory, start_new_session=True)
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        return {"outcome": "timed out", "reason": "no answer in %d s" % timeout}
    return parse_row(stdout, process.returncode, stderr)


def run_grid(builds, cases, args, log):
    """Every case with each build (one or two), each pair run back to back so that both meet the
    same load; with two, a case marked only for its time is timed again."""
    slots = queue.Queue()
    for slot in core_slots(args.jobs):
        slots.put(slot)

    def task(build, case):
        cores = slots.get()
        try:
            return run_case(build, case[0], case[1], args.size, args.timeout, args.memory, cores)
        finally:
            slots.put(cores)

    def run_all(indices, label):
        results = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = {}
            for i in indices:
                for side, build in enumerate(builds):
                    futures[pool.submit(task, build, cases[i])] = (i, side)
            done = 0
            for future in concurrent.futures.as_completed(futures):
                results[futures[future]] = future.result()
                done += 1
                if done % 100 == 0 or done == len(futures):
                    log("%s: %d of %d runs done" % (label, done, len(futures)))
        return results

    results = run_all(range(len(cases)), "grid")
    pairs = [[results[(i, side)] for side in range(len(builds))] for i in range(len(cases))]
    for round_number in range(1, RETIME_ROUNDS + 1 if len(builds) == 2 else 1):
        again = [i for i, pair in enumerate(pairs) if differs_in_time(*pair)]
        if not again:
            break
        results = run_all(again, "timing again (%d)" % round_number)
        for i in again:
            for side in (0, 1):
                pairs[i][side] = faster_of(pairs[i][side], results[(i, side)])
    return [tuple(pair) for pair in pairs]


def differs_in_time(before, after):
    """Marked only for its time, which on a busy machine may be noise: worth timing again."""
    worse, better = compare_rows(before, after)
    marks = worse + better
    return bool(marks) and all(mark.startswith("time ") for mark in marks)


def faster_of(first, second):
    """The run with the shorter time when both gave the same result; else the first."""
    same = {k: v for k, v in first.items() if not k.endswith("ms")} == {
        k: v for k, v in second.items() if not k.endswith("ms")}
    return second if same and second.get("ms", 0.0) < first.get("ms", 0.0) else first


# ---------------------------------------------------------------------------------------------
# Peer benchmarks


def run_peers(build, timeout):
    """Each peer benchmark's cases: ours in ms, the peer's ratio, or why there is none."""
    found = {}
    for name in PEER_BENCHMARKS:
        program = os.path.join(build, "bench", name)
        if not os.path.isfile(program):
            found[name] = "not built"
            continue
        try:
            done = subprocess.run([program, "--benchmark_format=json"], capture_output=True, text=True,
                                  timeout=timeout)
            for bench in json.loads(done.stdout).get("benchmarks", []):
                found["%s %s" % (name, bench["name"])] = bench
        except (subprocess.TimeoutExpired, ValueError) as error:
            found[name] = "failed: %s" % error
    return found


def run_peers_both(builds, timeout, rounds):
    """The peer benchmarks of both builds (or the one), in the order before, after, after,
    before, ... so that neither always runs first on a machine warming up; each case keeps its
    fastest run."""
    kept = [{} for _ in builds]
    for round_number in range(rounds):
        order = range(len(builds)) if round_number % 2 == 0 else reversed(range(len(builds)))
        for side in order:
            for name, entry in run_peers(builds[side], timeout).items():
                kept[side][name] = faster_peer_entry(kept[side].get(name), entry)
    return kept


def faster_peer_entry(kept, entry):
    if not isinstance(kept, dict):
        return entry if isinstance(entry, dict) or kept is None else kept
    if isinstance(entry, dict) and entry.get("real_time", 0.0) < kept.get("real_time", 0.0):
        return entry
    return kept


def peer_cell(entry):
    if isinstance(entry, str):
        return entry
    text = "%.1f %s" % (entry.get("real_time", 0.0), entry.get("time_unit", ""))
    if "ratio" in entry:
        text += ", %.2fx peer" % entry["ratio"]
    return text


# ---------------------------------------------------------------------------------------------
# The report


def print_table(cases, pairs, out):
    """Every case, then the worse ones again on their own; the counts of worse and better."""
    worse_lines = []
    better_count = 0
    out.write("case\tsettings\tbefore\tafter\tmark\n")
    for (part, settings), (before, after) in zip(cases, pairs):
        route = settings.get("route", "process")
        worse, better = compare_rows(before, after, route)
        mark = ("WORSE: " + "; ".join(worse)) if worse else ("better: " + "; ".join(better)) if better else ""
        better_count += bool(better) and not worse
        line = "%s\t%s\t%s\t%s\t%s\n" % (os.path.basename(part), settings_text(settings), describe(before, route),
                                          describe(after, route), mark)
        out.write(line)
        if worse:
            worse_lines.append(line)
    out.write("\nworse cases (%d):\n%s" % (len(worse_lines), "".join(worse_lines) or "none\n"))
    return len(worse_lines), better_count


def print_single_table(cases, rows, out):
    """One build alone: every case with what it gave and its faults."""
    out.write("case\tsettings\tresult\tfaults\n")
    for (part, settings), (row,) in zip(cases, rows):
        route = settings.get("route", "process")
        out.write("%s\t%s\t%s\t%s\n" % (os.path.basename(part), settings_text(settings), describe(row, route),
                                         "; ".join(row_faults(row, route))))


def fault_family(label):
    """A fault label without its figures, for counting: "volume moved: 3.2%" -> "volume moved"."""
    return label.split(":")[0]


def print_fault_summary(cases, pairs, labels, out, slowest=10):
    """For each build: how many cases have each fault, and its slowest cases."""
    for side, label in enumerate(labels):
        counts = {}
        for (part, settings), pair in zip(cases, pairs):
            for fault in row_faults(pair[side], settings.get("route", "process")):
                counts[fault_family(fault)] = counts.get(fault_family(fault), 0) + 1
        out.write("\n%s: cases with each fault\n" % label)
        for fault in sorted(counts, key=lambda f: (-counts[f], f)):
            out.write("  %5d  %s\n" % (counts[fault], fault))
        if not counts:
            out.write("  none\n")
        timed = sorted(((pair[side].get("ms", 0.0), part, settings) for (part, settings), pair in zip(cases, pairs)),
                       key=lambda t: -t[0])[:slowest]
        out.write("%s: slowest cases\n" % label)
        for ms, part, settings in timed:
            out.write("  %10.0f ms  %s %s\n" % (ms, os.path.basename(part), settings_text(settings)))


def write_rows(path, cases, pairs, labels):
    """Every row as a JSON line, with its case, settings and build."""
    with open(path, "w") as f:
        for (part, settings), pair in zip(cases, pairs):
            for label, row in zip(labels, pair):
                f.write(json.dumps(dict(row, case=part, settings=settings, build=label), sort_keys=True) + "\n")


# ---------------------------------------------------------------------------------------------
# The committed baseline: the columns that do not depend on the machine or its load, one JSON
# line per case, compared row by row so that CI fails on any case whose result changed.

BASELINE_COLUMNS = {
    "process": ("outcome", "triangles", "crossing_triangles", "closed", "manifold", "outward", "bodies",
                "volume", "verdict", "problems", "fold_triangles"),
    "repair": ("outcome", "triangles", "crossing_triangles", "closed", "manifold", "outward", "bodies_before",
               "bodies_after", "volume_after", "corner_loss", "headline"),
}
BASELINE_COLUMNS["check"] = BASELINE_COLUMNS["repair"]


def baseline_key(part, settings, cache):
    """A case's name that is the same on every machine: the part under the cache, its settings."""
    name = part
    if not part.startswith("gen:"):
        name = os.path.relpath(part, cache) if os.path.isabs(part) and part.startswith(cache) else os.path.basename(part)
    return "%s | %s" % (name, settings_text(settings))


def baseline_value(column, value):
    """Volumes to nine significant digits (the runner prints ten), everything else as it is."""
    if column.startswith("volume") and isinstance(value, (int, float)):
        return float("%.9g" % value)
    if column == "corner_loss" and isinstance(value, (int, float)):
        return float("%.6g" % value)
    return value


def baseline_rows(route, cases, rows, cache):
    columns = BASELINE_COLUMNS[route]
    found = {}
    for (part, settings), row in zip(cases, rows):
        found[baseline_key(part, settings, cache)] = {c: baseline_value(c, row.get(c)) for c in columns}
    return found


def write_baseline(path, found):
    with open(path, "w") as f:
        for key in sorted(found):
            f.write(json.dumps(dict(found[key], case=key), sort_keys=True) + "\n")


def read_baseline(path):
    found = {}
    with open(path) as f:
        for line in f:
            if line.strip():
                row = json.loads(line)
                found[row.pop("case")] = row
    return found


def baseline_differences(expected, found):
    """One line per case that differs from the baseline, is missing from the run or is new."""
    lines = []
    for key in sorted(set(expected) | set(found)):
        if key not in found:
            lines.append("%s: in the baseline, not run" % key)
        elif key not in expected:
            lines.append("%s: run, not in the baseline" % key)
        else:
            changed = ["%s %s -> %s" % (c, json.dumps(expected[key].get(c)), json.dumps(found[key].get(c)))
                       for c in sorted(set(expected[key]) | set(found[key])) if expected[key].get(c) != found[key].get(c)]
            if changed:
                lines.append("%s: %s" % (key, "; ".join(changed)))
    return lines


def summarise(pairs):
    """Counts of each outcome for each side, for the closing lines."""
    counts = [{} for _ in (pairs[0] if pairs else [])]
    for pair in pairs:
        for side, row in enumerate(pair):
            counts[side][row.get("outcome", "?")] = counts[side].get(row.get("outcome", "?"), 0) + 1
    return counts


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("before", help="build folder or commit")
    parser.add_argument("after", nargs="?", default=None, help="build folder or commit; without it the one build alone")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1, help="cases run at once")
    parser.add_argument("--quick", action="store_true", help="every fourth part, one triangle size")
    parser.add_argument("--route", choices=("process",) + FIX_ROUTES, default="process",
                        help="Process in its grid of settings, Mesh > Repair, or the Save STL check")
    parser.add_argument("--corpus", type=parse_corpora, default=["prusa"],
                        help="corpora joined by commas: %s; both = prusa,cgal; all; none" % ", ".join(sorted(CORPORA)))
    parser.add_argument("--parts", nargs="*", default=None, help="these files instead of a fetched corpus")
    parser.add_argument("--no-gen", action="store_true", help="leave out the generated test shapes")
    parser.add_argument("--no-peers", action="store_true", help="leave out the peer benchmarks")
    parser.add_argument("--size", type=float, default=40.0, help="Process: largest extent of a corpus part, mm")
    parser.add_argument("--sizes", type=parse_sizes, default=["own", 40.0, 2.0],
                        help="Repair and check: each corpus part at each of these (own: as written)")
    parser.add_argument("--timeout", type=int, default=300, help="seconds a case may take")
    parser.add_argument("--memory", type=int, default=None, help="MB of address space a case may use")
    parser.add_argument("--build-jobs", type=int, default=None, help="compile jobs when building a commit")
    parser.add_argument("--repo", default=SOURCE_ROOT, help="repository the commits are taken from")
    parser.add_argument("--output", default=None, help="also write the table (TSV) here")
    parser.add_argument("--rows", default=None, help="write every row as a JSON line here")
    parser.add_argument("--baseline", default=None,
                        help="one build: fail when a case's lasting columns differ from this file's")
    parser.add_argument("--write-baseline", default=None, help="one build: write its lasting columns here")
    args = parser.parse_args(argv)
    if (args.baseline or args.write_baseline) and args.after:
        parser.error("--baseline and --write-baseline take one build")
    if args.memory is None:
        args.memory = default_memory_mb(args.jobs)
    started = time.time()
    log = lambda text: sys.stderr.write("[%5.0f s] %s\n" % (time.time() - started, text))
    cache = cache_folder()
    os.makedirs(cache, exist_ok=True)

    given = [args.before] + ([args.after] if args.after else [])
    labels = ["before", "after"] if args.after else ["only"]
    runner = RUNNERS[args.route]
    builds = [resolve_build(g, args.repo, cache, args.build_jobs or args.jobs, not args.no_peers, runner, log)
              for g in given]
    files, generated = gather_parts(args, builds[-1], runner, cache)
    if args.route in FIX_ROUTES:
        cases = fix_cases(args.route, files, generated, args.sizes)
        log("%d files x %d sizes and %d generated shapes = %d cases, %d at once" % (
            len(files), len(args.sizes), len(generated), len(cases), args.jobs))
    else:
        cases = [(part, s) for part in files + generated for s in settings_grid(args.quick)]
        log("%d parts x %d settings = %d cases, %d at once" % (len(files) + len(generated),
                                                               len(settings_grid(args.quick)), len(cases), args.jobs))
    pairs = run_grid(builds, cases, args, log)
    if args.rows:
        write_rows(args.rows, cases, pairs, given)
    outputs = [sys.stdout] + ([open(args.output, "w")] if args.output else [])
    for out in outputs:
        counts = summarise(pairs)
        if len(builds) == 1:
            print_single_table(cases, pairs, out)
            out.write("\n%d cases\n%s\n" % (len(cases), json.dumps(counts[0], sort_keys=True)))
        else:
            worse, better = print_table(cases, pairs, out)
            out.write("\n%d cases: %d worse, %d better\nbefore: %s\nafter:  %s\n" % (
                len(cases), worse, better, json.dumps(counts[0], sort_keys=True), json.dumps(counts[1], sort_keys=True)))
        if args.route in FIX_ROUTES:
            print_fault_summary(cases, pairs, labels, out)
    grid_seconds = time.time() - started
    status = 0
    if args.baseline or args.write_baseline:
        found = baseline_rows(args.route, cases, [pair[0] for pair in pairs], cache)
        if args.write_baseline:
            write_baseline(args.write_baseline, found)
        if args.baseline:
            differences = baseline_differences(read_baseline(args.baseline), found)
            for out in outputs:
                out.write("\nagainst the baseline %s: %d of %d cases differ\n" % (
                    args.baseline, len(differences), len(found)))
                for line in differences:
                    out.write("  %s\n" % line)
            status = 1 if differences else 0
            # A row whose part's corners lie further from what was written than its text says
            # anything moved fails, whatever the baseline holds.
            past = [(baseline_key(part, settings, cache), loss_past_quote(pair[0], args.route))
                    for (part, settings), pair in zip(cases, pairs)] if args.route in FIX_ROUTES else []
            past = [(key, figures) for key, figures in past if figures]
            for out in outputs if args.route in FIX_ROUTES else []:
                out.write("corners lost past the quoted move: %d of %d cases\n" % (len(past), len(found)))
                for key, figures in past:
                    out.write("  %s: %.4g mm, quoted %.4g mm\n" % ((key,) + figures))
            if past:
                status = 1
    if not args.no_peers:
        log("peer benchmarks")
        peers = run_peers_both(builds, args.timeout, 1 if args.quick else 2)
        for out in outputs:
            out.write("\npeer benchmark\t%s\n" % "\t".join(labels))
            for name in sorted(set().union(*peers)):
                out.write("%s\t%s\n" % (name, "\t".join(peer_cell(side.get(name, "-")) for side in peers)))
    for out in outputs:
        out.write("\nwall time: grid %.0f s, in all %.0f s\n" % (grid_seconds, time.time() - started))
    return status


def default_memory_mb(jobs):
    """A share of the memory free now for each case at once, between 1.5 and 8 GB."""
    available = 8192
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    available = int(line.split()[1]) // 1024
    except OSError:
        pass
    return int(min(8192, max(1536, 0.8 * available / max(1, jobs))))


def gather_parts(args, after_build, runner, cache):
    """The corpus files (or --parts) and the generated shapes the runner lists, each sorted."""
    files = []
    if args.parts:
        files += [os.path.abspath(p) for p in args.parts]
    else:
        for name in args.corpus:
            files += CORPORA[name](cache)
    generated = []
    if not args.no_gen:
        listed = subprocess.run([os.path.join(after_build, "tools", runner), "--list-gen"], capture_output=True,
                                text=True)
        generated = pick_parts(listed.stdout.split(), args.quick)
    return pick_parts(files, args.quick), generated


if __name__ == "__main__":
    sys.exit(main())
