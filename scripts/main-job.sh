#!/usr/bin/env bash
# The main job: builds setup.exe (the shipped 32-bit product, i686) and the
# authoring tool, builds the sample installation from
# samples/sample-app/sample.json, and installs it under Wine in a prefix of
# its own through the real wizard, driven from outside by
# tests/e2e/mainjob_driver (no input from the person running it). The
# sample ships as 1.44M floppy images: their files are copied out with
# mtools into a folder that the prefix has as floppy drive A:, and setup.exe
# runs from there. Then it tells where the files, links, registry values,
# uninstall log and the screenshots went, and runs the single-file setup
# once more in a prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake --preset native >/dev/null && cmake --build --preset native --target qvbuild qvinspect
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target mainjob_driver setup
cmake --preset win32 >/dev/null && cmake --build --preset win32 --target setup uninstal loader

job="$root/build/mainjob"
rm -rf "$job" && mkdir -p "$job"
# The 32-bit product when this machine runs 32-bit Windows programs (wine32),
# else the x86_64 build.
bin=build/win32/bin
if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  echo "main job: wine32 is not installed; the x86_64 setup.exe is used instead"
  bin=build/win64/bin
fi
# The sample names the uninstaller kept beside it; this build's own goes in.
build/native/bin/qvbuild samples/sample-app/sample.json -o "$job/media" \
  --uninstaller build/win32/bin/Uninstal.exe --media floppy --media single --floppy 1.44M \
  --setup "$bin/setup.exe" --loader "$bin/Loader.exe"
build/native/bin/qvinspect --verify "$job/media/DISK1/SETUP.0" > "$job/inspect.json"
echo "main job: the distribution as the inspection tool reads it (first lines of $job/inspect.json):"
head -n 20 "$job/inspect.json"
echo "main job: setup.exe is $(file -b "$bin/setup.exe" | cut -d, -f1); the floppy images:"
mkdir -p "$job/disk"
for img in "$job"/media/DISK*.IMG; do
  mdir -i "$img" :: | sed 's/^/  /'
  mcopy -n -i "$img" '::*' "$job/disk/"
done

# One Wine prefix (nt40) with a 1024x768 Xvfb display of its own, kept
# after the run so that the installation can be looked at.
disk_win="A:"
shots="$root/build/win64/screenshots"
rm -f "$shots"/mainjob-*.png
set +e
python3 tests/winebench/winerun.py --root build/win64 --name mainjob --version nt40 --display \
  --keep --timeout 300 --drive "A:floppy:$job/disk" --exe build/win64/bin/mainjob_driver.exe "$disk_win"
code=$?
echo "main job: the single-file setup $job/media/SETUP.EXE ($(stat -c %s "$job/media/SETUP.EXE") bytes), once:"
single_win="Z:$(echo "$job/media" | tr / '\\')"
python3 tests/winebench/winerun.py --root build/win64 --name mainjob-single --version nt40 --display \
  --timeout 300 --exe build/win64/bin/mainjob_driver.exe "$single_win" SETUP.EXE | grep -E 'ended with|files in|^main job:   C:'
single=${PIPESTATUS[0]}
set -e
prefix="$root/build/win64/wineprefixes/mainjob"
echo "main job: the Wine prefix is $prefix (C: is $prefix/drive_c)"
echo "main job: the installed folder as Linux sees it:"
find "$prefix/drive_c" -path '*/Sample App*' 2>/dev/null | sed 's/^/  /' || true
echo "main job: screenshots of every page in $shots:"
ls "$shots"/mainjob-*.png 2>/dev/null | sed 's/^/  /' || true
if [ "$code" -eq 0 ]; then
  echo "main job: the sample product was installed through the wizard from the floppy on A:."
else
  echo "main job: the installation did not complete (exit code $code)." >&2
fi
if [ "$single" -eq 0 ]; then
  echo "main job: the single-file setup installed the sample too."
else
  echo "main job: the single-file setup did not complete (exit code $single)." >&2
  [ "$code" -ne 0 ] || code=$single
fi
exit "$code"
