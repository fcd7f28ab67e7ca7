#include "main/systemfacts.h"

#include <windows.h>

#include "main/globals.h"

// Only the Windows and system directories so far; the writable test, the
// Program Files directory and the administrator test come with the common
// helpers.
void GatherSystemFacts() {
  char buf[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryA(buf, sizeof buf);
  WinDir.assign(buf, n < sizeof buf ? n : 0);
  n = GetSystemDirectoryA(buf, sizeof buf);
  SystemDir.assign(buf, n < sizeof buf ? n : 0);
}
