#!/usr/bin/env bash
# Builds the i486 tool chain that the i686 build links with, from Debian's
# sources: a cross GCC 12 for i686-w64-mingw32 whose code defaults to
# -march=i486, with its libgcc and libstdc++; the mingw-w64 start-up code and
# libraries with crtdll.dll as the C library (msvcrt.dll is not part of
# Windows 95 nor of NT 3.51); and zlib. Debian's own mingw-w64 compiler and
# libraries are built for the Pentium Pro (cmov, fcomi), which a 486, a
# Pentium or a K6 cannot run.
#
# Its libstdc++ is configured against msvcrt.dll ($PREFIX/msvcrt), the C
# library of the test programs and tools, so that its headers offer the
# whole C99 library; the shipped programs link crtdll.dll.
#
# The result lands in $QV_I486_ROOT/<key> (default /var/cache/quorvel-i486),
# where <key> is a hash of this script and of the versions of every input, and
# $QV_I486_ROOT/current points at it; cmake/mingw-i686.cmake uses `current`.
# A tree that is already there for the same key is kept: a second run costs
# nothing. Needs root (or sudo) for the packages and source packages only.
#
#   scripts/build-i486-runtime.sh          build unless the cache holds it
#   scripts/build-i486-runtime.sh --key    print the key and the path, build nothing
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ROOT=${QV_I486_ROOT:-/var/cache/quorvel-i486}
JOBS=${QV_I486_JOBS:-$(nproc)}
TARGET=i686-w64-mingw32
# Source packages of Debian 12, pinned so that the key names exactly what was built.
MINGW_SRC=mingw-w64=10.0.0-3
ZLIB_SRC=zlib=1:1.2.13.dfsg-1
BUILD_PACKAGES=(gcc-12-source libgmp-dev libmpfr-dev libmpc-dev flex bison xz-utils bzip2 patch
                g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

versions() {
  dpkg-query -W -f='${Package} ${Version}\n' gcc-12-source binutils-mingw-w64-i686 \
    gcc-mingw-w64-i686-win32 mingw-w64-common mingw-w64-i686-dev 2>/dev/null || true
  echo "$MINGW_SRC $ZLIB_SRC"
}
# The key: the script's commands (comments and blank lines left out) and the inputs' versions.
key() { { grep -v '^[[:space:]]*\(#.*\)\?$' "$0"; versions; } | sha256sum | cut -c1-16; }

if [ "${1:-}" = "--key" ]; then
  k=$(key); echo "$k $ROOT/$k"; exit 0
fi

missing=()
for p in "${BUILD_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-i486-runtime: installing ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

KEY=$(key)
PREFIX=$ROOT/$KEY
if [ -f "$PREFIX/.complete" ]; then
  $SUDO mkdir -p "$ROOT"; $SUDO ln -sfn "$KEY" "$ROOT/current"
  echo "build-i486-runtime: cached in $PREFIX"
  exit 0
fi

start=$SECONDS
lap() { echo "build-i486-runtime: $1 done at $((SECONDS - start)) s"; }
$SUDO mkdir -p "$ROOT"
[ -z "$SUDO" ] || $SUDO chown "$(id -u):$(id -g)" "$ROOT"
# QV_I486_WORK=DIR keeps the work tree and resumes a build that stopped at
# the stage that failed (each stage leaves a stamp there); otherwise the work
# tree is temporary and every stage runs.
if [ -n "${QV_I486_WORK:-}" ]; then
  WORK=$QV_I486_WORK; mkdir -p "$WORK"
else
  rm -rf "$PREFIX"
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/qv-i486.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
fi
done_stage() { [ -f "$WORK/stamp-$1" ]; }
stamp() { touch "$WORK/stamp-$1"; lap "$1"; }
LOG=$WORK/log
mkdir -p "$LOG"
run() {  # run NAME CMD...: the command's output goes to a log, shown when it fails
  local name=$1; shift
  if ! "$@" >"$LOG/$name.log" 2>&1; then
    echo "build-i486-runtime: $name failed; the end of its log:" >&2
    tail -n 60 "$LOG/$name.log" >&2
    exit 1
  fi
}

if ! done_stage sources; then
# The source packages, from Debian's deb-src index (added for this if absent).
SRCLIST=/etc/apt/sources.list.d/quorvel-deb-src.sources
if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  $SUDO tee "$SRCLIST" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $SUDO apt-get update >/dev/null
fi
(cd "$WORK" && run apt-source apt-get source --download-only "$MINGW_SRC" "$ZLIB_SRC")
tar -C "$WORK" -xf "$WORK"/mingw-w64_*.orig.tar.bz2
tar -C "$WORK" -xf "$WORK"/zlib_*.orig.tar.*
tar -C "$WORK" -xf /usr/src/gcc-12/gcc-12.*-dfsg.tar.xz
# Debian's source has no GFDL manuals: generate the hook documentation from its template.
patch -d "$WORK"/gcc-12.* -p2 < /usr/src/gcc-12/patches/gcc-gfdl-build.diff >/dev/null
stamp sources
fi
MINGW=$(echo "$WORK"/mingw-w64-v*)
ZLIB=$(find "$WORK" -maxdepth 1 -type d -name 'zlib-*' | head -n 1)
GCC=$(echo "$WORK"/gcc-12.*)
SYSROOT=$PREFIX/sysroot

if ! done_stage sysroot; then
# The target's system tree: Debian's mingw-w64 headers (the same release as the
# libraries built below); /mingw is where GCC's mingw configuration looks.
rm -rf "$SYSROOT"; mkdir -p "$SYSROOT/lib"
cp -rL /usr/$TARGET/include "$SYSROOT/include"
rm -f "$SYSROOT"/include/zlib.h "$SYSROOT"/include/zconf.h
ln -s . "$SYSROOT/mingw"
stamp sysroot
fi

if ! done_stage crt; then
# mingw-w64's start-up code and libraries (libmsvcrt.a is crtdll's import
# library and its helpers), compiled for the i486 by Debian's compiler.
mkdir -p "$WORK/crt" && cd "$WORK/crt"
run crt-configure "$MINGW/mingw-w64-crt/configure" --host=$TARGET --prefix="$SYSROOT" \
  --enable-lib32 --disable-lib64 --with-default-msvcrt=crtdll \
  CC=$TARGET-gcc CFLAGS='-Os -march=i486 -ffunction-sections -fdata-sections' CCASFLAGS='-march=i486'
run crt-make make -j"$JOBS"
run crt-install make install
stamp crt
fi

# GCC: the compiler, then libgcc and libstdc++ built by it (-Os, sections of
# their own so that the link drops what the program does not use).
if ! done_stage compiler; then
mkdir -p "$WORK/gcc" && cd "$WORK/gcc"
run gcc-configure "$GCC/configure" --target=$TARGET --prefix="$PREFIX" \
  --with-sysroot="$SYSROOT" --with-native-system-header-dir=/include \
  --with-arch=i486 --with-tune=generic --enable-languages=c,c++ \
  --enable-threads=win32 --disable-sjlj-exceptions --with-dwarf2 \
  --disable-multilib --disable-nls --disable-lto --disable-plugin --disable-shared --enable-static \
  --disable-libgomp --disable-libssp --disable-libquadmath --disable-libatomic --disable-libvtv \
  --disable-libsanitizer --disable-libstdcxx-pch --disable-libstdcxx-verbose --enable-fully-dynamic-string \
  --disable-werror --disable-bootstrap --with-system-zlib --without-isl \
  --with-as=/usr/bin/$TARGET-as --with-ld=/usr/bin/$TARGET-ld \
  CFLAGS='-O1 -g0' CXXFLAGS='-O1 -g0' \
  CFLAGS_FOR_TARGET='-Os -g0 -ffunction-sections -fdata-sections' \
  CXXFLAGS_FOR_TARGET='-Os -g0 -ffunction-sections -fdata-sections'
run gcc-make-compiler make -j"$JOBS" all-gcc
stamp compiler
fi
if ! done_stage libs; then
cd "$WORK/gcc"
# libstdc++'s configuration links its probes against msvcrt.dll, the C
# library of the test programs and tools (crtdll.dll lacks _atoi64, _wfopen
# and the like, and the probes would switch off C99 and wide-name support).
# What a shipped program then uses that crtdll.dll lacks fails its link.
mkdir -p "$PREFIX/msvcrt"
ln -sfn ../sysroot/lib/libmsvcrt-os.a "$PREFIX/msvcrt/libmsvcrt.a"
# std::random_device is built without its rdrand and rdseed sources, whose
# code needs a later processor (a string member of the library links it
# into every program).
run gcc-make-libs make -j"$JOBS" LDFLAGS_FOR_TARGET="-L$PREFIX/msvcrt" ac_cv_x86_rdrand=no ac_cv_x86_rdseed=no \
  all-target-libgcc all-target-libstdc++-v3
run gcc-install make install-gcc install-target-libgcc install-target-libstdc++-v3
stamp libs
fi

if ! done_stage zlib; then
# zlib's library, compiled by the new compiler (Debian's source has no
# Windows makefile; the library is its C files).
cd "$ZLIB"
for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
         inftrees trees uncompr zutil; do
  run zlib-$f "$PREFIX/bin/$TARGET-gcc" -Os -ffunction-sections -fdata-sections -c $f.c -o $f.o
done
rm -f libz.a && $TARGET-ar rcs libz.a ./*.o
cp zlib.h zconf.h "$SYSROOT/include/"
cp libz.a "$SYSROOT/lib/"
stamp zlib
fi

versions > "$PREFIX/.inputs"
touch "$PREFIX/.complete"
ln -sfn "$KEY" "$ROOT/current"
echo "build-i486-runtime: built $PREFIX in $((SECONDS - start)) s"
