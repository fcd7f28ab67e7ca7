#!/bin/sh
# Runs a Windows-side benchmark of the win64 build under Wine, in a prefix of
# its own made by the test bench's runner (which also tears it down).
#   tests/benchmarks/wine-bench.sh [--display] build/win64 script_load_bench [args...]
# --display (or QV_BENCH_DISPLAY=1) gives the program a display (for
# benchmarks of windows).
set -e
if [ "$1" = "--display" ]; then
  QV_BENCH_DISPLAY=1
  shift
fi
build=$(cd "$1" && pwd)
exe=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../winebench/winerun.py"
python3 "$runner" --root "$build" --make-template
exec python3 "$runner" --root "$build" --name "bench.$exe" --exe "$build/bin/$exe.exe" \
  ${QV_BENCH_DISPLAY:+--display} \
  --timeout 3600 -- "$@"
