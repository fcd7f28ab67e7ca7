#!/usr/bin/env bash
# The main job: builds setup.exe and the authoring tool, builds the sample
# installation from samples/sample-app/sample.json, and runs setup.exe on it
# under wine64 in a prefix of its own; then reports what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake --preset native >/dev/null && cmake --build --preset native --target qvbuild qvinspect
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target setup

job="$root/build/mainjob"
rm -rf "$job/disk" && mkdir -p "$job/disk"
build/native/bin/qvbuild samples/sample-app/sample.json -o "$job/disk"
build/native/bin/qvinspect --verify "$job/disk/SETUP.0" > "$job/inspect.json"
cp build/win64/bin/setup.exe "$job/disk/"

export WINEPREFIX="$job/prefix" WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1
fi
# Wine's helper processes are started detached so that they do not hold
# this script's output open.
"$WINESERVER" -p </dev/null >/dev/null 2>&1 &
"$WINE" wineboot </dev/null >/dev/null 2>&1
cleanup() { "$WINESERVER" -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

echo "main job: the distribution as the inspection tool reads it (first lines of $job/inspect.json):"
head -n 20 "$job/inspect.json"
echo "main job: distribution in $job/disk:"
ls -l "$job/disk"
set +e
unset DISPLAY
timeout 120 "$WINE" "$job/disk/setup.exe" </dev/null
code=$?
set -e
echo "main job: setup.exe exited with code $code"
if [ "$code" -eq 0 ]; then
  echo "main job: the setup script was found, validated and loaded, and the Windows version accepted."
else
  echo "main job: setup.exe refused the distribution (see the message it showed)." >&2
fi
exit "$code"
