#!/usr/bin/env bash
# Installs what is missing, builds Tessary in Release (the program only: no tests, no
# benchmarks) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/app -DCMAKE_BUILD_TYPE=Release -DTESSARY_BUILD_TESTS=OFF -DTESSARY_BUILD_BENCH=OFF
cmake --build build/app -j"$(nproc)"

if [ -x build/app/app/tessary ]; then
  exec build/app/app/tessary "$@"
fi
echo "Built the engine libraries in build/app (mesh, textures, remesh, displacement, platform)."
echo "The application window is not part of this build yet, so there is nothing to start."
