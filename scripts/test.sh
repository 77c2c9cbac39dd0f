#!/usr/bin/env bash
# Installs what is missing, builds Tessary and runs every test: a Release build (g++) with all
# tests, then one clang build with AddressSanitizer and UndefinedBehaviorSanitizer that runs
# the same tests and a short libFuzzer run of every reader of outside bytes. The fuzz targets
# share that build's objects, so the engine is compiled twice, not three times.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
stage_name=""
stage_start=$SECONDS
stage() {
  if [ -n "$stage_name" ]; then
    printf '== %s: %d s\n' "$stage_name" $((SECONDS - stage_start))
  fi
  stage_name=$1
  stage_start=$SECONDS
  if [ -n "$stage_name" ]; then echo "== $stage_name"; fi
}

x11_screen="-screen 0 1600x1000x24 +extension GLX"

# Every test that needs no display runs side by side; those that drive real windows (label
# "x11") run one at a time under a virtual X server. Two displays at once (ctest's resource
# spec, tests/support/x11_display.sh) are not used here: window tests of one program share files
# beside it, and the manual's tests failed when two ran at once. The window tests spend much of
# their time starting the toolkit and waiting for the X server, so the two streams run at the
# same time; the window tests' output is kept in the build folder (x11-tests.log) and shown
# after both. With a second argument, that command runs after the plain tests while the window
# tests go on. run_tests BUILD [COMMAND...]
run_tests() {
  local build=$1
  shift
  local x11=""
  if ctest --test-dir "$build" -N -L x11 | grep -q 'Total Tests: [1-9]'; then
    xvfb-run -a -s "$x11_screen" \
      ctest --test-dir "$build" --output-on-failure -L x11 > "$build/x11-tests.log" 2>&1 &
    x11=$!
  fi
  local failed=0 start=$SECONDS
  ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE x11 || failed=1
  printf '== tests without a display: %d s\n' $((SECONDS - start))
  if [ $# -gt 0 ]; then
    start=$SECONDS
    "$@" || failed=1
    printf '== %s: %d s\n' "$*" $((SECONDS - start))
  fi
  if [ -n "$x11" ]; then
    if ! wait "$x11"; then
      cat "$build/x11-tests.log"
      # LeakSanitizer's own tracer can crash at exit while the toolkit's and Mesa's threads
      # wind down ("Tracer caught signal 11"), after the test itself passed. Only then are the
      # failed window tests run once more; any other failure stands.
      if grep -q "LeakSanitizer has encountered a fatal error" "$build/x11-tests.log"; then
        echo "== LeakSanitizer's tracer crashed at exit: the failed window tests run again"
        # The names come from this run's own log: the other stream shares ctest's record of
        # failed tests.
        local names
        names=$(sed -n '/The following tests FAILED:/,$p' "$build/x11-tests.log" |
                sed -n 's/^[[:space:]]*[0-9]\+ - \([^ ]\+\) (.*$/\1/p' | paste -sd'|')
        if [ -n "$names" ]; then
          xvfb-run -a -s "$x11_screen" \
            ctest --test-dir "$build" --output-on-failure -L x11 -R "^($names)\$" || failed=1
        else
          failed=1
        fi
      else
        failed=1
      fi
    else
      cat "$build/x11-tests.log"
    fi
  fi
  return "$failed"
}

# Ninja when installed: a new build folder is made for it; one made before keeps its generator.
generator() {
  if command -v ninja > /dev/null && [ ! -f "$1/CMakeCache.txt" ]; then echo "-GNinja"; fi
}

stage "Release build"
cmake $(generator build/release) -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$jobs"

# The sanitizer build starts now at idle priority: it takes only the processor time the Release
# tests and the comparison leave unused (the window tests leave much of it) and has all of it
# once they end. The comparison runs while the window tests go on.
mkdir -p build/sanitize
chrt --idle 0 bash -c '
  CC=clang CXX=clang++ cmake $1 -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DTESSARY_SANITIZE=ON -DTESSARY_FUZZ=ON -DTESSARY_BUILD_BENCH=OFF &&
  cmake --build build/sanitize -j"$2"' sanitizer-build "$(generator build/sanitize)" "$jobs" \
  > build/sanitize-build.log 2>&1 &
sanitizer_build=$!

stage "Release tests, then the comparison against the committed baseline"
release_failed=0
run_tests build/release bash scripts/compare-baseline.sh build/release || release_failed=1

stage "Sanitizer build (what the Release stage left of it)"
sanitizer_built=0
wait "$sanitizer_build" && sanitizer_built=1
cat build/sanitize-build.log
if [ "$release_failed" -ne 0 ] || [ "$sanitizer_built" -ne 1 ]; then exit 1; fi

stage "Sanitizer tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
run_tests build/sanitize

# Fuzzing: the targets run side by side, and each gets the time that keeps the whole stage
# within three minutes however many targets there are, at most a minute each
# (TESSARY_FUZZ_SECONDS sets the time per target for longer runs by hand).
targets=()
for target in build/sanitize/fuzz/*_fuzz; do
  [ -x "$target" ] && targets+=("$target")
done
parallel=$(( jobs < 4 ? jobs : 4 ))
batches=$(( (${#targets[@]} + parallel - 1) / parallel ))
fuzz_seconds=${TESSARY_FUZZ_SECONDS:-$(( batches > 0 ? 180 / batches : 60 ))}
if [ -z "${TESSARY_FUZZ_SECONDS:-}" ] && [ "$fuzz_seconds" -gt 60 ]; then fuzz_seconds=60; fi
stage "Fuzzing (${#targets[@]} targets, ${fuzz_seconds} s each, ${parallel} at a time)"

fuzz_one() {
  local target=$1 name corpus
  name=$(basename "$target")
  corpus="build/sanitize/corpus/$name"
  mkdir -p "$corpus"
  local seeds=()
  if [ -d "fuzz/seeds/$name" ]; then seeds=("fuzz/seeds/$name"); fi
  "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 \
    "$corpus" "${seeds[@]}" > "build/sanitize/$name.log" 2>&1
}

failed=0
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz_one "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
for target in "${targets[@]}"; do
  name=$(basename "$target")
  echo "-- $name"
  tail -n 12 "build/sanitize/$name.log"
done
if [ "$failed" -ne 0 ]; then
  echo "A fuzz target stopped on a fault; its log is above and in build/sanitize."
  exit 1
fi

stage ""
echo "== Test lines against code lines"
bash scripts/test-ratio.sh
