#!/bin/sh
# Runs a Windows-side benchmark under Wine for both builds, the x86_64 one
# (BUILD/bin) and the shipped i686 one (the win32 build beside it), each in a
# prefix of its own made by the test bench's runner (which also tears it
# down). A build that is not there is named and left out.
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
status=0
for arch in x64 x86; do
  if [ "$arch" = x64 ]; then bin="$build/bin"; else bin="$(dirname "$build")/win32/bin"; fi
  if [ ! -f "$bin/$exe.exe" ]; then
    echo "wine-bench: no $arch build of $exe in $bin"
    continue
  fi
  echo "wine-bench: $exe, $arch build"
  python3 "$runner" --root "$build" --name "bench.$exe.$arch" --arch "$arch" --bindir "$bin" \
    --exe "$bin/$exe.exe" ${QV_BENCH_DISPLAY:+--display} --timeout 3600 -- "$@" || status=1
done
exit $status
