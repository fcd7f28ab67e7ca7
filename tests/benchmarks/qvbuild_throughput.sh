#!/bin/sh
# qvbuild's throughput on 200 MB of mixed files (text-like, random, zeros,
# executable-like), beside gzip -6 on the same bytes at the same zlib level.
# Not part of the test run. Use an optimised build of qvbuild, e.g.
#   cmake -S . -B build/c-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF
#   cmake --build build/c-bench --target qvbuild
#   tests/benchmarks/qvbuild_throughput.sh build/c-bench/bin/qvbuild [MB] [WORKDIR]
set -eu
QVBUILD=$1
MB=${2:-200}
WORK=${3:-${TMPDIR:-/tmp}/qvbuild-bench.$$}
mkdir -p "$WORK/src"
trap 'rm -rf "$WORK"' EXIT

python3 - "$WORK/src" "$MB" <<'PY'
import os, random, sys
out, mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(42)
words = [''.join(rng.choice('etaoinshrdlucmfwypvbgkjqxz') for _ in range(rng.randint(2, 9)))
         for _ in range(3000)]
quarter = mb * (1 << 20) // 4
files = []
def put(name, data):
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
    files.append(name)
n = 0
size = 0
while size < quarter:  # text-like
    lines = []
    total = 0
    while total < 4 << 20:
        line = ' '.join(rng.choice(words) for _ in range(rng.randint(4, 14))) + '\r\n'
        lines.append(line); total += len(line)
    data = ''.join(lines).encode()
    data = data[:quarter - size]; put('TEXT%d.TXT' % n, data); size += len(data); n += 1
size = 0
while size < quarter:  # random
    data = rng.randbytes(8 << 20)
    data = data[:quarter - size]; put('RAND%d.BIN' % n, data); size += len(data); n += 1
size = 0
while size < quarter:  # zeros
    data = bytes(16 << 20)
    data = data[:quarter - size]; put('ZERO%d.DAT' % n, data); size += len(data); n += 1
size = 0
ops = [bytes([0x55, 0x8B, 0xEC]), bytes([0x8B, 0x45]), bytes([0xE8]), bytes([0xC3]),
       bytes([0x89, 0x45]), bytes([0x83, 0xC4]), bytes([0x6A]), bytes([0xFF, 0x15])]
while size < quarter:  # executable-like: opcodes, small operands, tables
    parts = []
    total = 0
    while total < 4 << 20:
        op = rng.choice(ops)
        arg = rng.getrandbits(8 * rng.choice([1, 1, 2, 4])).to_bytes(4, 'little')[:rng.choice([1, 2, 4])]
        parts.append(op + arg); total += len(op) + len(arg)
        if rng.random() < 0.01:
            parts.append(bytes(rng.randint(16, 256))); total += len(parts[-1])
    data = b''.join(parts)
    data = data[:quarter - size]; put('CODE%d.EXE' % n, data); size += len(data); n += 1
import json
desc = {"appName": "Benchmark", "files": [
    {"source": "src/" + f, "dest": "{app}\\" + f} for f in files]}
with open(os.path.join(out, '..', 'bench.json'), 'w') as f:
    json.dump(desc, f)
PY

BYTES=$(cat "$WORK"/src/* | wc -c)
now() { date +%s.%N; }
sync
T0=$(now)
"$QVBUILD" "$WORK/bench.json" -o "$WORK/out" --level 6 >/dev/null
T1=$(now)
OUTBYTES=$(cat "$WORK"/out/SETUP.* | wc -c)
T2=$(now)
cat "$WORK"/src/* | gzip -6 -c >"$WORK/all.gz"
T3=$(now)
GZBYTES=$(wc -c <"$WORK/all.gz")

python3 - "$BYTES" "$T0" "$T1" "$T2" "$T3" "$OUTBYTES" "$GZBYTES" <<'PY'
import sys
b, t0, t1, t2, t3, ob, gb = sys.argv[1:]
b, ob, gb = int(b), int(ob), int(gb)
q, g = float(t1) - float(t0), float(t3) - float(t2)
mb = b / (1 << 20)
print("input            %.1f MB (text-like, random, zeros, executable-like)" % mb)
print("qvbuild --level 6 %6.2f s  %7.1f MB/s  output %.1f MB (%.1f %%)" % (q, mb / q, ob / (1 << 20), 100.0 * ob / b))
print("gzip -6           %6.2f s  %7.1f MB/s  output %.1f MB (%.1f %%)" % (g, mb / g, gb / (1 << 20), 100.0 * gb / b))
print("throughput ratio qvbuild / gzip: %.2f" % (g / q))
PY
