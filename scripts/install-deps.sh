#!/usr/bin/env bash
# Installs the Debian packages Tessary builds and tests with, skipping those already present.
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config ccache git
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libtbb-dev
  libpng-dev libjpeg-dev libtiff-dev libgif-dev
  clang libclang-rt-14-dev
  libwxgtk3.2-dev libepoxy-dev libegl-dev libgl1-mesa-dri libegl-mesa0
  xvfb xauth x11-apps fonts-dejavu-core locales
  # a window manager, so a window test can start the program as a desktop does
  openbox
  # makes the user manual, Tessary_Manual.pdf, at build time; the build goes on without it
  ruby-asciidoctor-pdf
  # xdg-open, which hands the manual to the desktop's PDF reader
  xdg-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# The number tests run once under a German locale, whose decimal comma must not leak in, and
# read the marks of a French one, whose decimal comma comes with thousands grouped by a space.
ensure_locale() {
  local name generated=0
  for name in de_DE fr_FR; do
    if ! locale -a 2>/dev/null | grep -qi "^${name}\.utf-\?8$"; then
      "${sudo_cmd[@]}" sed -i "s/^# *${name}.UTF-8 UTF-8/${name}.UTF-8 UTF-8/" /etc/locale.gen
      grep -q "^${name}.UTF-8 UTF-8" /etc/locale.gen || echo "${name}.UTF-8 UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
      generated=1
    fi
  done
  if [ "$generated" -eq 1 ]; then "${sudo_cmd[@]}" locale-gen >/dev/null; fi
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq -o DPkg::Lock::Timeout=300
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
ensure_locale
