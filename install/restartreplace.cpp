// Replacing and deleting files at the next restart: MoveFileEx on Windows
// NT, WININIT.INI's [rename] section on the Windows 95 family.
#include "install/restartreplace.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "install/filerules.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "setupdata/win32file.h"

namespace {

std::vector<std::string> ReadTextLines(const std::string& path) {
  TWin32File f(path);
  std::string all(static_cast<size_t>(f.Size()), '\0');
  if (!all.empty()) f.ReadExact(&all[0], all.size());
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    std::string line = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

void WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
  TFileHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) RaiseLastIOError("creating", path);
  std::string all;
  for (const std::string& l : lines) all += l + "\r\n";
  DWORD written = 0;
  if (!WriteFile(f.get(), all.data(), static_cast<DWORD>(all.size()), &written, nullptr) ||
      written != all.size())
    RaiseLastIOError("writing", path);
}

std::string WininitPath() { return EnsureTrailingBackslash(WinDir) + "WININIT.INI"; }

// Writes WININIT.INI as edit makes it from the old lines (null when there is
// no file). The old file is renamed aside while the new one is written;
// when writing fails, it is put back, so that the renames already waiting
// for the restart are never lost.
void EditWininit(const std::function<std::vector<std::string>(const std::vector<std::string>*)>& edit) {
  const std::string path = WininitPath();
  std::string old_copy;
  std::vector<std::string> old_lines;
  if (FileExists(path)) {
    old_copy = NewTempFileName(WinDir);
    if (!MoveFileA(path.c_str(), old_copy.c_str())) RaiseLastIOError("renaming", path);
  }
  try {
    if (!old_copy.empty()) old_lines = ReadTextLines(old_copy);
    WriteTextLines(path, edit(old_copy.empty() ? nullptr : &old_lines));
  } catch (...) {
    if (!old_copy.empty()) {
      DeleteFileA(path.c_str());
      MoveFileA(old_copy.c_str(), path.c_str());
    }
    throw;
  }
  if (!old_copy.empty()) DeleteFileA(old_copy.c_str());
}

// Adds entry to WININIT.INI's [rename] section.
void AddWininitEntry(const std::string& entry) {
  EditWininit([&entry](const std::vector<std::string>* old_lines) { return AddWininitRename(old_lines, entry); });
}

// "destination=temporary" with short names.
void AddWininitRenameEntry(const std::string& temporary, const std::string& destination) {
  AddWininitEntry(ToShortPathName(destination) + "=" + ToShortPathName(temporary));
}

}  // namespace

bool ScheduleRestartDelete(const std::string& path) {
  if (IsWindowsNT()) return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
  try {
    AddWininitEntry("NUL=" + ToShortPathName(path));
    return true;
  } catch (const Exception&) {
    return false;
  }
}

bool CancelRestartReplace(const std::string& temporary) {
  if (!IsWindowsNT() && FileExists(WininitPath())) {
    const std::string source = ToShortPathName(temporary);
    try {
      EditWininit([&source](const std::vector<std::string>* old_lines) {
        return RemoveWininitRenames(*old_lines, source);
      });
    } catch (const Exception&) {
      return false;  // the rename still waits: the temporary file stays for another try
    }
  }
  SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(temporary.c_str())) return true;
  // Windows NT renames it all the same; the 95 family's rename is gone.
  return !IsWindowsNT() && ScheduleRestartDelete(temporary);
}

void ScheduleRestartReplace(const std::string& temporary, const std::string& destination) {
  NeedsRestart = true;
  if (IsWindowsNT()) {
    if (!MoveFileExA(temporary.c_str(), destination.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
      throw Exception(Format(SMoveFileExFailedFmt, static_cast<int>(GetLastError())));
    return;
  }
  AddWininitRenameEntry(temporary, destination);
}
