#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the three presets
# (native with ASan/UBSan, win64, win32) and runs every tier with ctest:
# native unit tests, then the Win32 tests and end-to-end scenarios under
# Wine, each once for the x86_64 build (NAME.x64) and once for the shipped
# i686 build (NAME.x86); both halves are registered in build/win64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in native win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
status=0
start=$SECONDS
ctest --test-dir build/native -j2 --output-on-failure || status=1
native=$((SECONDS - start))
start=$SECONDS
ctest --test-dir build/win64 -j2 --output-on-failure || status=1
wine=$((SECONDS - start))
echo "test-all: native tier ${native} s, Wine and e2e tiers (x64 and x86) ${wine} s"
exit $status
