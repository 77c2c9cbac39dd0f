#!/usr/bin/env bash
# The quick comparison grid (Process, Mesh > Repair and the Save STL check over every fourth part
# of the foreign corpus and the generated shapes) on a Release build, against the baseline
# committed in tests/baseline: outcome, triangles, crossings, closedness, bodies, volume and
# verdict or headline, row by row. Any difference fails. A change that alters a result updates
# the baseline in the same commit (`--write`) and says why in its message.
#
#   bash scripts/compare-baseline.sh [BUILD] [--write]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
write=0
for arg in "$@"; do
  case "$arg" in
    --write) write=1 ;;
    *) build=$arg ;;
  esac
done
jobs=$(nproc)
# A fixed address-space limit per case, whatever the machine has free: Process reads that limit
# when it judges memory, so the same limit gives the same outcome everywhere.
memory_mb=4096
failed=0
for route in process repair check; do
  file="tests/baseline/compare-$route.jsonl"
  if [ "$write" -eq 1 ]; then
    flags=(--write-baseline "$file")
  else
    flags=(--baseline "$file")
  fi
  python3 tools/compare/compare.py "$build" --route "$route" --quick --corpus all --no-peers \
    -j "$jobs" --memory "$memory_mb" --timeout 600 "${flags[@]}" > "$build/compare-$route.txt" 2> "$build/compare-$route.log" ||
    failed=1
  sed -n '/^against the baseline/,$p' "$build/compare-$route.txt" | grep -v '^wall time' || true
  grep '^wall time' "$build/compare-$route.txt" | sed "s/^/$route: /" || true
done
exit "$failed"
