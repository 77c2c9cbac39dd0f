#!/usr/bin/env bash
# Installs the Debian packages Tessary builds and tests with, skipping those already present.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache git
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libtbb-dev
  libpng-dev libjpeg-dev libtiff-dev libgif-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq -o DPkg::Lock::Timeout=300
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
