#!/usr/bin/env bash
# Makes the small screenshots that README.md shows: runs the typical nt40
# scenario of the shipped i686 build (which saves every page at 1024x768 into
# build/win32/screenshots) and shrinks three of them into docs/screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target wizard_e2e setup runprobe
cmake --build --preset win32 --target wizard_e2e setup runprobe
ctest --test-dir build/win64 -R '^e2e\.wizard\.nt40\.x86$' --output-on-failure
mkdir -p docs/screenshots
for shot in nt40-1-welcome nt40-4-destination nt40-9-finished; do
  convert "build/win32/screenshots/$shot.png" -resize 50% -colors 64 "PNG8:docs/screenshots/$shot.png"
done
ls -l docs/screenshots
