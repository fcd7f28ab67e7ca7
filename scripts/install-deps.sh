#!/usr/bin/env bash
# Installs every Debian package that the build and the tests need. Idempotent:
# packages already present are left as they are. Needs root (or sudo).
# wine32:i386 runs the i686 build (the product as shipped) beside wine64; it
# needs the i386 architecture, which this script adds.
set -euo pipefail
PACKAGES=(
  cmake ninja-build g++ pkg-config
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev
  zlib1g-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  wine64 wine32:i386 xvfb xauth x11-utils imagemagick
  fonts-liberation  # metric twins of Arial and Times New Roman, which Wine uses for them
  fonts-wine        # Wine's Marlett, which draws the title-bar buttons (winerun.py puts it in each prefix)
  nlohmann-json3-dev
  mtools            # lists and reads the floppy images qvbuild writes (tests, main job)
  xorriso           # qvbuild --media cd makes CD.ISO with it
  clang-14 libclang-rt-14-dev
  python3
)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture (for wine32:i386)"
  $SUDO dpkg --add-architecture i386
fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package is installed"
else
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The i486 tool chain of the i686 build, from Debian's sources; kept in a
# cache keyed by its inputs, so this costs nothing when it is there (about
# 22 minutes of processor time, 15 to 45 minutes on a 2-core machine, when
# it is not: docs/target-systems.md).
"$(dirname "$0")/build-i486-runtime.sh"
