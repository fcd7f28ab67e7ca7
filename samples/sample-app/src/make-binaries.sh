#!/bin/sh
# Regenerates the sample binaries. ../SAMPLE.DLL: a tiny shared DLL with a version
# resource (file version 2.5.0.17), with the mingw-w64 cross tools.
set -e
cd "$(dirname "$0")"
x86_64-w64-mingw32-windres shared.rc -O coff -o shared.res.o
x86_64-w64-mingw32-gcc -shared -nostdlib -s -O2 -o ../SAMPLE.DLL shared.c shared.res.o \
  -Wl,--entry=DllMain -Wl,--no-insert-timestamp -lkernel32
rm -f shared.res.o
# ../SAMPLE.EXE: a tiny 32-bit program with file version 1.0.0.3.
i686-w64-mingw32-windres app.rc -O coff -o app.res.o
i686-w64-mingw32-gcc -nostdlib -s -O2 -mwindows -o ../SAMPLE.EXE app.c app.res.o \
  -Wl,--entry=_Start@0 -Wl,--no-insert-timestamp -lkernel32 -luser32
rm -f app.res.o
# ../Uninstal.exe: the project's own uninstaller (i686, stripped), from a
# build of the win32 preset; qvbuild --uninstaller can point at a newer one.
i686-w64-mingw32-strip -o ../Uninstal.exe ../../../build/win32/bin/Uninstal.exe
