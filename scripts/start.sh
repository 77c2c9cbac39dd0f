#!/usr/bin/env bash
# Installs what is missing, builds Tessary in Release and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$(nproc)"

if [ -x build/release/app/tessary ]; then
  exec build/release/app/tessary "$@"
fi
echo "Tessary's engine is built (build/release); the application window is not part of this build yet."
