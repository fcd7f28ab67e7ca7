#!/usr/bin/env bash
# The main job: builds setup.exe (the shipped 32-bit product, i686) and the
# authoring tool, builds the sample installation from
# samples/sample-app/sample.json, and installs it under Wine in a prefix of
# its own through the real wizard, driven from outside by
# tests/e2e/mainjob_driver (no input from the person running it). Then it
# tells where the files, links, registry values, uninstall log and the
# screenshots went.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake --preset native >/dev/null && cmake --build --preset native --target qvbuild qvinspect
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target mainjob_driver setup
cmake --preset win32 >/dev/null && cmake --build --preset win32 --target setup uninstal

job="$root/build/mainjob"
rm -rf "$job/disk" && mkdir -p "$job/disk"
# The sample names the uninstaller kept beside it; this build's own goes in.
build/native/bin/qvbuild samples/sample-app/sample.json -o "$job/disk" \
  --uninstaller build/win32/bin/Uninstal.exe
build/native/bin/qvinspect --verify "$job/disk/SETUP.0" > "$job/inspect.json"
echo "main job: the distribution as the inspection tool reads it (first lines of $job/inspect.json):"
head -n 20 "$job/inspect.json"

# The 32-bit product when this machine runs 32-bit Windows programs (wine32),
# else the x86_64 build.
product=build/win32/bin/setup.exe
if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  echo "main job: wine32 is not installed; the x86_64 setup.exe is used instead"
  product=build/win64/bin/setup.exe
fi
cp "$product" "$job/disk/setup.exe"
echo "main job: distribution in $job/disk ($(file -b "$job/disk/setup.exe" | cut -d, -f1)):"
ls -l "$job/disk"

# One Wine prefix (nt40) with a 1024x768 Xvfb display of its own, kept
# after the run so that the installation can be looked at.
disk_win="Z:$(echo "$job/disk" | tr / '\\')"
shots="$root/build/win64/screenshots"
rm -f "$shots"/mainjob-*.png
set +e
python3 tests/winebench/winerun.py --root build/win64 --name mainjob --version nt40 --display \
  --keep --timeout 300 --exe build/win64/bin/mainjob_driver.exe "$disk_win"
code=$?
set -e
prefix="$root/build/win64/wineprefixes/mainjob"
echo "main job: the Wine prefix is $prefix (C: is $prefix/drive_c)"
echo "main job: the installed folder as Linux sees it:"
find "$prefix/drive_c" -path '*/Sample App*' 2>/dev/null | sed 's/^/  /' || true
echo "main job: screenshots of every page in $shots:"
ls "$shots"/mainjob-*.png 2>/dev/null | sed 's/^/  /' || true
if [ "$code" -eq 0 ]; then
  echo "main job: the sample product was installed through the wizard."
else
  echo "main job: the installation did not complete (exit code $code)." >&2
fi
exit "$code"
