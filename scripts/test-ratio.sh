#!/usr/bin/env bash
# Prints how many lines of tests stand against how many lines of code, per source folder and
# in total: non-blank, non-comment C++ lines. The habit is a quarter to a third.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  local files
  files=$(find "$@" \( -name '*.cpp' -o -name '*.h' \) -type f 2>/dev/null || true)
  if [ -z "$files" ]; then echo 0; return; fi
  # shellcheck disable=SC2086
  cat $files | grep -v '^[[:space:]]*$' | grep -cv '^[[:space:]]*//' || true
}

ratio() { awk -v t="$1" -v c="$2" 'BEGIN { if (c > 0) printf "%.2f", t / c; else printf "-" }'; }

printf '%-24s %8s %8s %6s\n' "folder" "tests" "code" "ratio"
total_tests=0
total_code=0
for dir in $(find engine platform app -mindepth 0 -maxdepth 1 -type d 2>/dev/null | sort); do
  case "$dir" in engine|app) continue ;; esac
  code=$(count "$dir")
  tests=$(count "tests/$dir")
  [ "$code" -gt 0 ] || [ "$tests" -gt 0 ] || continue
  printf '%-24s %8d %8d %6s\n' "$dir" "$tests" "$code" "$(ratio "$tests" "$code")"
  total_tests=$((total_tests + tests))
  total_code=$((total_code + code))
done
support=$(count tests/support)
printf '%-24s %8d %8s %6s\n' "tests/support" "$support" "" ""
total_tests=$((total_tests + support))
printf '%-24s %8d %8d %6s\n' "total" "$total_tests" "$total_code" "$(ratio "$total_tests" "$total_code")"
