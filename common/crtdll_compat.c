/* The names that the i686 build's C++ and mingw run time asks of the C
   library and that crtdll.dll, the C library of every Win32 system, does not
   export under them. msvcrt.dll, which has them all, is missing from
   Windows 95 and NT 3.51. Linked into every program of that build. */
#include <windows.h>
#include <errno.h>
#include <io.h>

/* The POSIX names of two low-level file calls (libstdc++'s random_device). */
int close(int fd) { return _close(fd); }
int read(int fd, void *buffer, unsigned int count) { return _read(fd, buffer, count); }

/* 64-bit file length of a C run-time descriptor (mingw's fseeko64). */
__int64 _filelengthi64(int fd) {
  HANDLE h = (HANDLE)_get_osfhandle(fd);
  DWORD high = 0, low;
  if (h == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  low = GetFileSize(h, &high);
  if (low == 0xFFFFFFFFu && GetLastError() != NO_ERROR) {
    errno = EBADF;
    return -1;
  }
  return ((__int64)high << 32) | low;
}

/* rand_s: the system's random source where ADVAPI32 has it (RtlGenRandom,
   exported as SystemFunction036 from Windows XP on); elsewhere the call fails
   with EINVAL, so a std::random_device reports that it has no source. */
typedef BOOLEAN(WINAPI *GenRandomFn)(PVOID, ULONG);
static int __cdecl compat_rand_s(unsigned int *value) {
  static GenRandomFn gen;
  static int looked;
  if (!value) return EINVAL;
  if (!looked) {
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    if (advapi) gen = (GenRandomFn)(void (*)(void))GetProcAddress(advapi, "SystemFunction036");
    looked = 1;
  }
  if (!gen || !gen(value, sizeof *value)) {
    *value = 0;
    return EINVAL;
  }
  return 0;
}
/* Callers reach rand_s through its import slot, as for any DLL function. */
int(__cdecl *compat_rand_s_slot)(unsigned int *) __asm__("__imp__rand_s") = compat_rand_s;
