// The recovery of the journals that killed runs left behind (Uninstal.exe
// links only this half; the writer is in journalfile.cpp).
#include "install/journalfile.h"

#include <windows.h>

#include <vector>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/shareddlls.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "install/restartreplace.h"
#include "run/globals.h"

namespace {

constexpr const char* kJournalPattern = "QVJ?????.JNL";

std::string TempFolder() {
  char buf[MAX_PATH + 1] = "";
  const DWORD n = GetTempPathA(sizeof buf, buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

void ShowUndoError(const std::string& message) {
  const std::string text = message + ".";
  MessageBoxA(nullptr, text.c_str(), "Uninstall", MB_OK | MB_ICONERROR);
}

void DeleteIfThere(const std::string& path) {
  if (!FileExists(path)) return;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileA(path.c_str())) ScheduleRestartDelete(path);
}

// Puts one note back (the notes are applied newest first, after the
// replay); raises with the user's text when a file cannot be put back.
void UndoNote(const TJournalRecord& n) {
  switch (n.Type) {
    case jrTempFile:
    case jrNewFile:
      DeleteIfThere(n.Path);
      break;
    case jrCreating: {
      // Killed around the creation: made and still empty, or never made
      // (then an empty file of that name is the only thing that could go).
      WIN32_FIND_DATAA fd;
      const HANDLE find = FindFirstFileA(n.Path.c_str(), &fd);
      if (find == INVALID_HANDLE_VALUE) break;
      FindClose(find);
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && fd.nFileSizeLow == 0 && fd.nFileSizeHigh == 0)
        DeleteIfThere(n.Path);
      break;
    }
    case jrRestartReplace:
      if (FileExists(n.Path)) CancelRestartReplace(n.Path);
      break;
    case jrSharedCount: {
      TRegKey key = OpenSharedDllsKey();
      if (n.Existed)
        RegSetValueExA(key.get(), n.Path.c_str(), 0, n.ValueType, reinterpret_cast<const BYTE*>(n.Data.data()),
                       static_cast<DWORD>(n.Data.size()));
      else
        RegDeleteValueA(key.get(), n.Path.c_str());
      break;
    }
    case jrSafetyCopy:
      // Moved aside, so the new file (if any) makes way for the old one.
      if (FileExists(n.Other)) {
        SetFileAttributesA(n.Path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(n.Path.c_str());
        if (!MoveFileA(n.Other.c_str(), n.Path.c_str())) RaiseLastIOError("restoring", n.Path);
      }
      [[fallthrough]];
    case jrAttributes:
      if (n.Attributes != 0xFFFFFFFFu && FileExists(n.Path) && !SetFileAttributesA(n.Path.c_str(), n.Attributes))
        RaiseLastIOError("restoring the attributes of", n.Path);
      break;
    default:
      break;
  }
}

// Takes back (or finishes) the run of one journal. A record that cannot be
// taken back is shown in the replay's style and the rest go on; the journal
// goes all the same (another try would only ask again).
bool Recover(const TJournalContents& contents) {
  const TJournalPlan plan = PlanRecovery(contents);
  if (plan.Ended || plan.Steps.empty()) return true;
  if (plan.Committed) {
    // The uninstall log is there: only the safety copies were left to go.
    for (const TJournalRecord& n : plan.Steps)
      if (n.Type == jrSafetyCopy) DeleteIfThere(n.Other);
    return true;
  }
  ShowMessageBoxStr(InterruptedInstallationText(contents.Header.AppName), "Setup", mbkInformation, MB_OK);
  // Each run of change-log records between two notes is one replay.
  for (size_t i = 0; i < plan.Steps.size();) {
    if (plan.Steps[i].Type != jrUndo) {
      try {
        UndoNote(plan.Steps[i]);
      } catch (const EAbort&) {
      } catch (const Exception& e) {
        ShowUndoError(e.Message());
      }
      ++i;
      continue;
    }
    size_t end = i;
    while (end < plan.Steps.size() && plan.Steps[end].Type == jrUndo) ++end;
    TUndoChanges log;
    log.AppName = contents.Header.AppName;
    for (size_t j = end; j-- > i;)
      log.AppendRaw(plan.Steps[j].Kind, plan.Steps[j].Data.data(), plan.Steps[j].Param,
                    static_cast<uint16_t>(plan.Steps[j].Data.size()));
    try {
      log.Replay(false);
    } catch (const EAbort&) {
    } catch (const Exception& e) {
      // The DDE client could not start: this part was not undone.
      ShowUndoError(e.Message());
    }
    i = end;
  }
  return true;
}

std::vector<uint8_t> ReadWhole(HANDLE h) {
  std::vector<uint8_t> bytes;
  uint8_t buf[16384];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) bytes.insert(bytes.end(), buf, buf + got);
  return bytes;
}

}  // namespace

std::vector<std::string> JournalFolders() {
  std::vector<std::string> dirs;
  dirs.push_back(EnsureTrailingBackslash(WinDir.empty() ? QueryWindowsDir() : WinDir));
  const std::string temp = TempFolder();
  if (!temp.empty() && lstrcmpiA(EnsureTrailingBackslash(temp).c_str(), dirs[0].c_str()) != 0)
    dirs.push_back(EnsureTrailingBackslash(temp));
  return dirs;
}


std::string InterruptedInstallationText(const std::string& app_name) {
  return Format("A previous installation of %s was interrupted. Setup will now undo the changes it made.",
                app_name.c_str());
}

// ---- recovery ---------------------------------------------------------------

int RecoverInterruptedInstallations(const std::function<bool(const TJournalHeader&)>& which) {
  int recovered = 0;
  for (const std::string& dir : JournalFolders()) {
    std::vector<std::string> names;
    {
      WIN32_FIND_DATAA fd;
      TFindHandle find(FindFirstFileA((dir + kJournalPattern).c_str(), &fd));
      if (!find) continue;
      do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(dir + fd.cFileName);
      } while (FindNextFileA(find.get(), &fd));
    }
    for (const std::string& name : names) {
      // Held without sharing: its own run still writing it, or another run
      // taking it back, makes this open fail.
      TFileHandle h(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!h) continue;
      const std::vector<uint8_t> bytes = ReadWhole(h.get());
      const TJournalContents contents = ReadJournal(bytes.data(), bytes.size());
      // Without a whole header the run had made no change yet.
      if (contents.HasHeader) {
        if (which && !which(contents.Header)) continue;
        if (!Recover(contents)) continue;
        ++recovered;
      }
      h.reset();
      DeleteFileA(name.c_str());
    }
  }
  return recovered;
}
