#!/usr/bin/env python3
"""Before and after: runs Process over a corpus of foreign parts and the generated test shapes
with two builds, in one grid of settings, and prints one table with every case that got worse
or better, then the peer benchmarks of both side by side.

    compare.py BEFORE AFTER [-j N] [--quick] [--corpus prusa|cgal|both] ...

BEFORE and AFTER are build folders (holding tools/process_corpus) or commits of this
repository. A commit is checked out as a git worktree in the cache, given the runner's source
from this tree when it lacks it, configured (Release, ccache) and only the runner and the peer
benchmarks are built. The corpus is fetched once into the cache (~/.cache/tessary-compare or
$TESSARY_COMPARE_CACHE) with `apt-get download` and `dpkg-deb -x`. Only the standard library
is used.
"""

import argparse
import concurrent.futures
import json
import os
import queue
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
RUNNER = os.path.join("tools", "process_corpus")
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
    return "%s/%s/%gmm/%s" % (s["mode"], s["surfaces"], s["triangle"], "simplify" if s["simplify"] == "on" else "plain")


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


def describe(row):
    """One cell of the table: what the run gave."""
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


def compare_rows(before, after):
    """The ways `after` is worse and better than `before`: two lists of short reasons."""
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
    b_ms, a_ms = before.get("ms", 0.0), after.get("ms", 0.0)
    judge(a_ms > TIME_FACTOR * b_ms and a_ms - b_ms > TIME_FLOOR_MS,
          b_ms > TIME_FACTOR * a_ms and b_ms - a_ms > TIME_FLOOR_MS, "time %.0f -> %.0f ms" % (b_ms, a_ms))
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


# ---------------------------------------------------------------------------------------------
# Builds


def is_build_folder(path):
    return os.path.isdir(path) and os.path.isfile(os.path.join(path, "CMakeCache.txt"))


def git(repo, *args):
    return subprocess.run(["git", "-C", repo] + list(args), check=True, capture_output=True, text=True).stdout.strip()


def tracks_runner(tree):
    """Whether the commit checked out in `tree` holds the runner itself."""
    return subprocess.run(["git", "-C", tree, "ls-files", "--error-unmatch", "tools/process_corpus/process_corpus.cpp"],
                          capture_output=True).returncode == 0


def give_runner_source(tree, has_own):
    """Copies the runner into an older tree that lacks it (over a copy left by an earlier run,
    which may be out of date), with its CMake lines."""
    if not has_own:
        shutil.copytree(os.path.join(SOURCE_ROOT, "tools", "process_corpus"),
                        os.path.join(tree, "tools", "process_corpus"), dirs_exist_ok=True)
    lists = os.path.join(tree, "tools", "CMakeLists.txt")
    with open(lists) as f:
        text = f.read()
    if "process_corpus" not in text:
        with open(lists, "a") as f:
            f.write("\nadd_executable(process_corpus process_corpus/process_corpus.cpp)\n"
                    "target_link_libraries(process_corpus PRIVATE tessary_pipeline tessary_test_support)\n")


def build_commit(repo, commit, cache, jobs, peers, log):
    """A Release build of the runner (and the peer benchmarks) at `commit`; its build folder."""
    sha = git(repo, "rev-parse", "--verify", commit + "^{commit}")
    tree = os.path.join(cache, "trees", sha[:12])
    # Inside the tree, with ccache's base folder at the tree, so that the compile lines of two
    # commits match and an unchanged file is compiled once for all of them.
    build = os.path.join(tree, "build", "release")
    if not os.path.isdir(tree):
        os.makedirs(os.path.dirname(tree), exist_ok=True)
        git(repo, "worktree", "add", "--detach", tree, sha)
    give_runner_source(tree, tracks_runner(tree))
    configure = ["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DTESSARY_BENCH_PEERS=%s" % ("ON" if peers else "OFF")]
    targets = ["process_corpus"] + (PEER_BENCHMARKS if peers else [])
    log("building %s (%s) in %s" % (commit, sha[:12], build))
    env = dict(os.environ, CCACHE_BASEDIR=tree)
    with open(os.path.join(cache, "build-%s.log" % sha[:12]), "w") as out:
        subprocess.run(configure, check=True, stdout=out, stderr=subprocess.STDOUT, env=env)
        subprocess.run(["cmake", "--build", build, "-j%d" % jobs, "--target"] + targets, check=True, stdout=out,
                       stderr=subprocess.STDOUT, env=env)
    return build


def resolve_build(given, repo, cache, jobs, peers, log):
    if is_build_folder(given):
        if not os.path.isfile(os.path.join(given, RUNNER)):
            raise SystemExit("%s has no %s: build its target process_corpus, or give a commit" % (given, RUNNER))
        return os.path.abspath(given)
    return build_commit(repo, given, cache, jobs, peers, log)


# ---------------------------------------------------------------------------------------------
# Running the grid


def core_slots(jobs):
    """The processor numbers each of `jobs` parallel cases is pinned to, shared out evenly."""
    cores = sorted(os.sched_getaffinity(0))
    jobs = max(1, min(jobs, len(cores)))
    return [cores[k * len(cores) // jobs:(k + 1) * len(cores) // jobs] for k in range(jobs)]


def run_case(build, part, settings, size, timeout, memory_mb, cores):
    command = [os.path.join(build, RUNNER), "--size", str(size), "--mode", settings["mode"], "--surfaces",
               settings["surfaces"], "--triangle", str(settings["triangle"]), "--simplify", settings["simplify"], part]
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
    """Every case with both builds, each pair run back to back so that both meet the same load."""
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
    pairs = [[results[(i, 0)], results[(i, 1)]] for i in range(len(cases))]
    for round_number in range(1, RETIME_ROUNDS + 1):
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
    same = {k: v for k, v in first.items() if k != "ms"} == {k: v for k, v in second.items() if k != "ms"}
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
    """The peer benchmarks of both builds, in the order before, after, after, before, ... so that
    neither always runs first on a machine warming up; each case keeps its fastest run."""
    kept = [{}, {}]
    for round_number in range(rounds):
        order = (0, 1) if round_number % 2 == 0 else (1, 0)
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
        worse, better = compare_rows(before, after)
        mark = ("WORSE: " + "; ".join(worse)) if worse else ("better: " + "; ".join(better)) if better else ""
        better_count += bool(better) and not worse
        line = "%s\t%s\t%s\t%s\t%s\n" % (os.path.basename(part), settings_text(settings), describe(before),
                                          describe(after), mark)
        out.write(line)
        if worse:
            worse_lines.append(line)
    out.write("\nworse cases (%d):\n%s" % (len(worse_lines), "".join(worse_lines) or "none\n"))
    return len(worse_lines), better_count


def summarise(pairs):
    """Counts of each outcome for each side, for the closing lines."""
    counts = [{}, {}]
    for pair in pairs:
        for side, row in enumerate(pair):
            counts[side][row.get("outcome", "?")] = counts[side].get(row.get("outcome", "?"), 0) + 1
    return counts


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("before", help="build folder or commit")
    parser.add_argument("after", help="build folder or commit")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1, help="cases run at once")
    parser.add_argument("--quick", action="store_true", help="every fourth part, one triangle size")
    parser.add_argument("--corpus", choices=("prusa", "cgal", "both", "none"), default="prusa")
    parser.add_argument("--parts", nargs="*", default=None, help="these files instead of a fetched corpus")
    parser.add_argument("--no-gen", action="store_true", help="leave out the generated test shapes")
    parser.add_argument("--no-peers", action="store_true", help="leave out the peer benchmarks")
    parser.add_argument("--size", type=float, default=40.0, help="largest extent of a corpus part, mm")
    parser.add_argument("--timeout", type=int, default=300, help="seconds a case may take")
    parser.add_argument("--memory", type=int, default=None, help="MB of address space a case may use")
    parser.add_argument("--build-jobs", type=int, default=None, help="compile jobs when building a commit")
    parser.add_argument("--repo", default=SOURCE_ROOT, help="repository the commits are taken from")
    parser.add_argument("--output", default=None, help="also write the table (TSV) here")
    args = parser.parse_args(argv)
    if args.memory is None:
        args.memory = default_memory_mb(args.jobs)
    started = time.time()
    log = lambda text: sys.stderr.write("[%5.0f s] %s\n" % (time.time() - started, text))
    cache = cache_folder()
    os.makedirs(cache, exist_ok=True)

    builds = [resolve_build(given, args.repo, cache, args.build_jobs or args.jobs, not args.no_peers, log)
              for given in (args.before, args.after)]
    parts = gather_parts(args, builds[1], cache)
    cases = [(part, s) for part in parts for s in settings_grid(args.quick)]
    log("%d parts x %d settings = %d cases, %d at once" % (len(parts), len(settings_grid(args.quick)), len(cases),
                                                           args.jobs))
    pairs = run_grid(builds, cases, args, log)
    outputs = [sys.stdout] + ([open(args.output, "w")] if args.output else [])
    for out in outputs:
        worse, better = print_table(cases, pairs, out)
        counts = summarise(pairs)
        out.write("\n%d cases: %d worse, %d better\nbefore: %s\nafter:  %s\n" % (
            len(cases), worse, better, json.dumps(counts[0], sort_keys=True), json.dumps(counts[1], sort_keys=True)))
    grid_seconds = time.time() - started
    if not args.no_peers:
        log("peer benchmarks")
        peers = run_peers_both(builds, args.timeout, 1 if args.quick else 2)
        for out in outputs:
            out.write("\npeer benchmark\tbefore\tafter\n")
            for name in sorted(set(peers[0]) | set(peers[1])):
                out.write("%s\t%s\t%s\n" % (name, peer_cell(peers[0].get(name, "-")), peer_cell(peers[1].get(name, "-"))))
    for out in outputs:
        out.write("\nwall time: grid %.0f s, in all %.0f s\n" % (grid_seconds, time.time() - started))
    return 0


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


def gather_parts(args, after_build, cache):
    parts = []
    if args.parts:
        parts += [os.path.abspath(p) for p in args.parts]
    else:
        if args.corpus in ("prusa", "both"):
            parts += prusa_corpus(cache)
        if args.corpus in ("cgal", "both"):
            parts += cgal_corpus(cache)
    parts = pick_parts(parts, args.quick)
    if not args.no_gen:
        listed = subprocess.run([os.path.join(after_build, RUNNER), "--list-gen"], capture_output=True, text=True)
        parts += pick_parts(listed.stdout.split(), args.quick)
    return parts


if __name__ == "__main__":
    sys.exit(main())
