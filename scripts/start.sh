#!/usr/bin/env bash
# Installs what is missing, builds Tessary in Release (the program only: no tests, no
# benchmarks) and starts it; arguments go to the program (a part or project to open).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/app -DCMAKE_BUILD_TYPE=Release -DTESSARY_BUILD_TESTS=OFF -DTESSARY_BUILD_BENCH=OFF
cmake --build build/app -j"$(nproc)"

if [ ! -x build/app/app/tessary ]; then
  echo "The build made no program (build/app/app/tessary is missing)." >&2
  exit 1
fi
exec build/app/app/tessary "$@"
