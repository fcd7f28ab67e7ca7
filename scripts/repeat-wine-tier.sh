#!/usr/bin/env bash
# Runs the whole Wine and e2e tier (both builds) N times in a row with
# ctest -j2, optionally under load: with --load, a -j2 build of the win32
# preset without ccache runs beside it the whole time, in a build directory
# of its own. Prints each run's result and, at the end, the count of runs and
# of failed runs. Builds win64 and win32 first.
#   scripts/repeat-wine-tier.sh [--load] N
set -euo pipefail
cd "$(dirname "$0")/.."
load=0
if [ "${1:-}" = "--load" ]; then load=1; shift; fi
n=${1:?usage: scripts/repeat-wine-tier.sh [--load] N}
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
loader=""
if [ "$load" -eq 1 ]; then
  cmake -S . -B build/loadbuild -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  # A session of its own, so that the whole group (with the compilers) can
  # be ended by its id at the end.
  setsid bash -c 'while true; do
      ninja -C build/loadbuild -t clean >/dev/null
      CCACHE_DISABLE=1 ninja -C build/loadbuild -j2 >/dev/null 2>&1 || true
    done' &
  loader=$!
  trap 'kill -- -"$loader" 2>/dev/null || true; wait "$loader" 2>/dev/null || true' EXIT
fi
failed=0
mkdir -p build/repeat
for i in $(seq 1 "$n"); do
  start=$SECONDS
  if ctest --test-dir build/win64 -j2 --output-on-failure >"build/repeat/run$i.log" 2>&1; then
    echo "repeat: run $i passed in $((SECONDS - start)) s"
  else
    failed=$((failed + 1))
    echo "repeat: run $i FAILED in $((SECONDS - start)) s:"
    grep -E '\*\*\*(Failed|Timeout|Exception)' "build/repeat/run$i.log" || true
  fi
done
echo "repeat: $n runs of the Wine tier, $failed failed$([ "$load" -eq 1 ] && echo ', under a -j2 build')"
[ "$failed" -eq 0 ]
