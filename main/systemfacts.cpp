#include "main/systemfacts.h"

#include <windows.h>

#include "common/exceptions.h"
#include "common/syshelpers.h"
#include "run/dirconst.h"
#include "run/globals.h"

bool DirectoryWritable(const std::string& dir) {
  std::string name;
  try {
    name = NewTempFileName(dir);
  } catch (const Exception&) {
    return false;
  }
  // CREATE_NEW: a file that appeared since the name was chosen is left alone.
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool closed = CloseHandle(h) != FALSE;
  const bool deleted = DeleteFileA(name.c_str()) != FALSE;
  return closed && deleted;
}

void GatherSystemFactsFrom(const std::string& win_dir, const std::string& sys_dir) {
  WinDir = win_dir;
  SystemDir = sys_dir;
  // A system directory elsewhere (a shared network copy) may be read-only;
  // then the system files go to the Windows directory.
  if (SystemDir.find(WinDir) == std::string::npos && !DirectoryWritable(SystemDir))
    SystemDir = WinDir;
  ProgramFilesDir = GetProgramFilesFolder(true);
  IsAdmin = QueryAdminRights();
}

void GatherSystemFacts() { GatherSystemFactsFrom(QueryWindowsDir(), QuerySystemDir()); }
