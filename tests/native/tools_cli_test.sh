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
# The media. Stand-ins for setup.exe and the loader: the tools only copy
# them. Floppies of 720K: three disks, each image listed by mtools with its
# label and files, every file read back through the FAT equal to its folder's.
command -v mdir >/dev/null || fail "mtools is not installed (scripts/install-deps.sh)"
head -c 300000 /dev/urandom >"$WORK/SETUP.EXE" && head -c 3000 /dev/urandom >"$WORK/LOADER.EXE"
mkdir -p "$WORK/src" && head -c 1500000 /dev/urandom >"$WORK/src/BIG.BIN"
printf '{"appName":"Media App","files":[{"source":"BIG.BIN","dest":"{app}\\\\BIG.BIN"}]}' \
  >"$WORK/src/media.json"
"$QVBUILD" "$WORK/src/media.json" -o "$WORK/media" --media floppy --media cd --media single \
  --floppy 720K --setup "$WORK/SETUP.EXE" --loader "$WORK/LOADER.EXE" >"$WORK/media.log" ||
  fail "media build: $(cat "$WORK/media.log")"
grep -q "^3 disks of 720K" "$WORK/media.log" || fail "not three disks: $(cat "$WORK/media.log")"
for n in 1 2 3; do
  img="$WORK/media/DISK$n.IMG"
  [ "$(stat -c %s "$img")" = 737280 ] || fail "DISK$n.IMG is not a 720K image"
  mdir -i "$img" :: >"$WORK/mdir$n.txt" 2>&1 || fail "mdir DISK$n.IMG: $(cat "$WORK/mdir$n.txt")"
  grep -q "Volume in drive : is MEDIA APP $n" "$WORK/mdir$n.txt" || fail "label of disk $n: $(cat "$WORK/mdir$n.txt")"
  for f in "$WORK/media/DISK$n"/*; do
    mcopy -n -i "$img" "::$(basename "$f")" "$WORK/back" && cmp -s "$f" "$WORK/back" ||
      fail "DISK$n.IMG: $(basename "$f") differs from its folder's"
  done
  # Every file fits its disk with the clusters rounded up: 713 of 1024 bytes.
  used=0
  for f in "$WORK/media/DISK$n"/*; do used=$((used + ($(stat -c %s "$f") + 1023) / 1024)); done
  [ "$used" -le 713 ] || fail "disk $n needs $used clusters"
done
[ "$(ls "$WORK/media/DISK1")" = "$(printf 'SETUP.0\nSETUP.1\nSETUP.EXE')" ] || fail "disk 1: $(ls "$WORK/media/DISK1")"
[ "$(ls "$WORK/media/DISK3")" = "SETUP.3" ] || fail "disk 3: $(ls "$WORK/media/DISK3")"
cp "$WORK/media/DISK2/SETUP.2" "$WORK/media/DISK1/" && cp "$WORK/media/DISK3/SETUP.3" "$WORK/media/DISK1/" &&
  "$QVINSPECT" "$WORK/media/DISK1/SETUP.0" --verify >/dev/null || fail "verify the disks"
if command -v xorriso >/dev/null; then
  xorriso -indev "$WORK/media/CD.ISO" -find /DISK2 -name SETUP.2 2>/dev/null | grep -q "DISK2/SETUP.2" ||
    fail "CD.ISO lacks DISK2/SETUP.2"
fi
# The single file: found by its trailer; a changed byte of the setup.exe it
# carries, or of the trailer, is refused.
"$QVINSPECT" "$WORK/media/SETUP.EXE" --verify >"$WORK/single.json" || fail "verify the single file"
grep -q '"setupOffset": 3000' "$WORK/single.json" || fail "attachment: $(head -c 400 "$WORK/single.json")"
cp "$WORK/media/SETUP.EXE" "$WORK/bad.exe" && printf 'X' | dd of="$WORK/bad.exe" bs=1 seek=5000 conv=notrunc 2>/dev/null
"$QVINSPECT" "$WORK/bad.exe" --verify >/dev/null 2>"$WORK/bad.err"
[ $? -eq 1 ] && grep -q "the setup.exe it carries is damaged" "$WORK/bad.err" || fail "damaged: $(cat "$WORK/bad.err")"
head -c -1 "$WORK/media/SETUP.EXE" >"$WORK/short.exe"
"$QVINSPECT" "$WORK/short.exe" --verify >/dev/null 2>&1 && fail "a single file cut short is accepted"
# setup.exe and SETUP.0 too large for the first disk: refused with the sizes.
head -c 740000 /dev/zero >"$WORK/HUGE.EXE"
"$QVBUILD" "$WORK/src/media.json" -o "$WORK/huge" --media floppy --floppy 720K --setup "$WORK/HUGE.EXE" \
  2>"$WORK/huge.err"
[ $? -eq 1 ] || fail "a setup.exe larger than the disk is not refused"
grep -q "setup.exe (740000 bytes) and SETUP.0 (about [0-9]* bytes) do not fit on the first disk of 720K" \
  "$WORK/huge.err" || fail "message: $(cat "$WORK/huge.err")"
"$QVBUILD" "$WORK/src/media.json" -o "$WORK/huge" --media floppy --floppy 360K 2>"$WORK/size.err"
[ $? -eq 2 ] && grep -q "the sizes are 1.44M, 1.2M, 720K, 2.88M" "$WORK/size.err" || fail "size: $(cat "$WORK/size.err")"
echo "all passed"
rm -rf "$WORK"
