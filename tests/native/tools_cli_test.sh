#!/bin/sh
# Runs the real qvbuild and qvinspect: the sample as one disk, on floppies
# and as a single file, and the exit status and message of a bad description.
# usage: tools_cli_test.sh QVBUILD QVINSPECT SOURCE_DIR WORK_DIR
set -u
QVBUILD=$1 QVINSPECT=$2 SRC=$3 WORK=$4
rm -rf "$WORK" && mkdir -p "$WORK" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

"$QVBUILD" "$SRC/samples/sample-app/sample.json" -o "$WORK/one" >"$WORK/one.log" || fail "build"
"$QVINSPECT" "$WORK/one/SETUP.0" --verify >"$WORK/one.json" || fail "verify one disk"
grep -q '"appName": "Sample App"' "$WORK/one.json" || fail "inspection lacks the name"

"$QVBUILD" "$SRC/samples/sample-app/sample.json" -o "$WORK/floppy" --disk-size 400 --level 6 \
  >/dev/null || fail "build on small disks"
[ -f "$WORK/floppy/SETUP.3" ] || fail "no third disk"
"$QVINSPECT" "$WORK/floppy/SETUP.0" --verify >/dev/null || fail "verify disks"

"$QVBUILD" "$SRC/samples/sample-app/sample.json" -o "$WORK/sl" --single-file SAMPLE.BIN \
  --script-offset 4096 >"$WORK/sl.log" || fail "build single file"
SO=$(sed -n 's/^script offset: //p' "$WORK/sl.log")
DO=$(sed -n 's/^data offset: //p' "$WORK/sl.log")
[ "$SO" = 4096 ] || fail "script offset $SO"
"$QVINSPECT" "$WORK/sl/SAMPLE.BIN" --offset "$SO" --data-offset "$DO" >/dev/null || fail "verify single"

# A corrupted disk: the message setup.exe would show, and status 1.
printf 'X' | dd of="$WORK/floppy/SETUP.2" bs=1 seek=20 conv=notrunc 2>/dev/null
"$QVINSPECT" "$WORK/floppy/SETUP.0" --verify >/dev/null 2>"$WORK/bad.err"
[ $? -eq 1 ] || fail "corrupt disk not refused"
grep -q "The source file is corrupted" "$WORK/bad.err" || fail "message: $(cat "$WORK/bad.err")"

# A bad description: status 1, the place named, and no output left.
printf '{"appName":"A","files":[{"source":"nope.bin","dest":"x"}]}' >"$WORK/bad.json"
"$QVBUILD" "$WORK/bad.json" -o "$WORK/badout" 2>"$WORK/badbuild.err"
[ $? -eq 1 ] || fail "bad description not refused"
grep -q "bad.json: files\[0\].source: source file" "$WORK/badbuild.err" || fail "message: $(cat "$WORK/badbuild.err")"
[ -z "$(ls -A "$WORK/badout" 2>/dev/null)" ] || fail "output left behind"
# A file over 2 GB (sparse) is refused before any of it is compressed: with
# room for only 1 MB of output the reason still comes, not a write failure.
truncate -s 2147483648 "$WORK/big.bin" || fail "truncate"
printf '{"appName":"A","files":[{"source":"big.bin","dest":"{app}\\\\big.bin"}]}' >"$WORK/big.json"
(ulimit -f 2048; exec "$QVBUILD" "$WORK/big.json" -o "$WORK/bigout" --level 0) 2>"$WORK/big.err"
rc=$?
[ $rc -eq 1 ] || fail "a file over 2 GB: status $rc"
grep -q 'big.json: files\[0\].source: ".*big.bin" is 2147483648 bytes long' "$WORK/big.err" ||
  fail "message: $(cat "$WORK/big.err")"
rm -f "$WORK/big.bin"

"$QVBUILD" 2>/dev/null; [ $? -eq 2 ] || fail "usage status"
# Options that cannot work: refused as a wrong command line, naming the
# option, also without files, before a 2 GB filler is made.
printf '{"appName":"A"}' >"$WORK/nofiles.json"
"$QVBUILD" "$WORK/nofiles.json" -o "$WORK/opt" --disk-size 10 2>"$WORK/opt.err"
[ $? -eq 2 ] || fail "--disk-size 10 not refused"
grep -q -- "--disk-size: 10 bytes is too small" "$WORK/opt.err" || fail "message: $(cat "$WORK/opt.err")"
"$QVBUILD" "$WORK/nofiles.json" -o "$WORK/opt" --single-file X --script-offset 2147483647 2>"$WORK/opt.err"
[ $? -eq 2 ] || fail "--script-offset 2147483647 not refused"
grep -q -- "--script-offset: 2147483647 is more than" "$WORK/opt.err" || fail "message: $(cat "$WORK/opt.err")"
[ ! -e "$WORK/opt" ] || fail "output made for a wrong option"
"$QVBUILD" "$SRC/samples/sample-app/sample.json" -o "$WORK/slsub" --single-file sub/X.BIN 2>"$WORK/slsub.err"
[ $? -eq 2 ] || fail "a single-file name with a folder not refused"
grep -q -- "--single-file: \"sub/X.BIN\" must be a file name without a folder" "$WORK/slsub.err" ||
  fail "message: $(cat "$WORK/slsub.err")"
echo "all passed"
rm -rf "$WORK"
