#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the three presets
# (native with ASan/UBSan, win64, win32) and runs every tier with ctest:
# native unit tests, then the Win32 tests and end-to-end scenarios under
# wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in native win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
status=0
ctest --test-dir build/native -j2 --output-on-failure || status=1
ctest --test-dir build/win64 -j2 --output-on-failure || status=1
exit $status
