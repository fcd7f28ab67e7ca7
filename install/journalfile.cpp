#include "install/journalfile.h"

#include <windows.h>

#include <cstdlib>
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

// The folders a journal may be in, the first one preferred.
std::vector<std::string> JournalFolders() {
  std::vector<std::string> dirs;
  dirs.push_back(EnsureTrailingBackslash(WinDir.empty() ? QueryWindowsDir() : WinDir));
  const std::string temp = TempFolder();
  if (!temp.empty() && lstrcmpiA(EnsureTrailingBackslash(temp).c_str(), dirs[0].c_str()) != 0)
    dirs.push_back(EnsureTrailingBackslash(temp));
  return dirs;
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

std::string InterruptedInstallationText(const std::string& app_name) {
  return Format("A previous installation of %s was interrupted. Setup will now undo the changes it made.",
                app_name.c_str());
}

// ---- writing ----------------------------------------------------------------

TInstallJournal::~TInstallJournal() {
  if (file_) CloseHandle(static_cast<HANDLE>(file_));
}

bool TInstallJournal::Open(const std::string& app_name, const std::string& app_dir) {
  TJournalHeader header;
  header.AppName = app_name;
  header.AppDir = app_dir;
  header.ProcessId = GetCurrentProcessId();
  // GetSystemTimeAsFileTime is missing from the NT 3.51 and 4.0 exports.
  SYSTEMTIME system_now;
  GetSystemTime(&system_now);
  FILETIME now{};
  SystemTimeToFileTime(&system_now, &now);
  header.Started = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  const std::string start = EncodeJournalStart(header);
  for (const std::string& dir : JournalFolders()) {
    // A name left by a killed run is taken back by the next start, not
    // reused: CREATE_NEW moves on to the next number.
    const unsigned first = static_cast<unsigned>(header.ProcessId + static_cast<unsigned>(std::rand()));
    for (unsigned i = 0; i < 100; ++i) {
      const std::string name = dir + Format("QVJ%05u.JNL", (first + i * 7919u) % 100000u);
      HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
        break;  // this folder cannot be written
      }
      DWORD written = 0;
      if (!WriteFile(h, start.data(), static_cast<DWORD>(start.size()), &written, nullptr) ||
          written != start.size() || !FlushFileBuffers(h)) {
        CloseHandle(h);
        DeleteFileA(name.c_str());
        break;
      }
      file_ = h;
      name_ = name;
      return true;
    }
  }
  return false;
}

void TInstallJournal::Write(const TJournalRecord& record) {
  if (!file_) return;
  const std::string frame = EncodeJournalFrame(record);
  DWORD written = 0;
  if (!WriteFile(static_cast<HANDLE>(file_), frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr) ||
      written != frame.size())
    RaiseLastIOError("writing", name_);
  dirty_ = true;
}

void TInstallJournal::WithdrawPending() {
  if (pending_.empty()) return;
  pending_.clear();
  TJournalRecord w;
  w.Type = jrWithdraw;
  Write(w);
}

void TInstallJournal::Intend(uint8_t kind, const std::vector<std::string>& strings, uint32_t param) {
  if (!file_) return;
  const TJournalRecord r = JournalUndoRecord(kind, strings, param);
  const std::string frame = EncodeJournalFrame(r);
  if (frame == pending_) return;  // the same change tried again
  WithdrawPending();
  Write(r);
  pending_ = frame;
}

void TInstallJournal::Appended(const UndoRecord& record) {
  if (!file_) return;
  const TJournalRecord r = JournalUndoRecord(record);
  if (!pending_.empty() && EncodeJournalFrame(r) == pending_) {
    pending_.clear();
    return;
  }
  WithdrawPending();
  Write(r);
}

namespace {
TJournalRecord Note(uint8_t type, const std::string& path, const std::string& other = std::string(),
                    uint32_t attributes = 0xFFFFFFFFu) {
  TJournalRecord r;
  r.Type = type;
  r.Path = path;
  r.Other = other;
  r.Attributes = attributes;
  return r;
}
}  // namespace

void TInstallJournal::NoteTempFile(const std::string& path) {
  WithdrawPending();
  Write(Note(jrTempFile, path));
}

void TInstallJournal::NoteNewFile(const std::string& path) {
  WithdrawPending();
  Write(Note(jrNewFile, path));
}

void TInstallJournal::NoteSafetyCopy(const std::string& dest, const std::string& aside, uint32_t attributes) {
  WithdrawPending();
  Write(Note(jrSafetyCopy, dest, aside, attributes));
  FlushNow();
}

void TInstallJournal::NoteAttributes(const std::string& dest, uint32_t attributes) {
  WithdrawPending();
  Write(Note(jrAttributes, dest, std::string(), attributes));
  FlushNow();
}

void TInstallJournal::NoteRestartReplace(const std::string& temporary, const std::string& dest) {
  WithdrawPending();
  Write(Note(jrRestartReplace, temporary, dest));
  FlushNow();
}

void TInstallJournal::NoteSharedCount(const std::string& path) {
  if (!file_) return;
  WithdrawPending();
  TJournalRecord r = Note(jrSharedCount, path);
  TRegKey key;
  DWORD type = 0, size = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS &&
      RegQueryValueExA(key.get(), path.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      size <= 0xFFFF) {
    std::string data(size, '\0');
    if (RegQueryValueExA(key.get(), path.c_str(), nullptr, &type,
                         size ? reinterpret_cast<BYTE*>(&data[0]) : nullptr, &size) == ERROR_SUCCESS) {
      data.resize(size);
      r.Existed = true;
      r.ValueType = type;
      r.Data = data;
    }
  }
  Write(r);
  FlushNow();
}

void TInstallJournal::Flush() {
  if (!file_) return;
  WithdrawPending();
  if (dirty_ && GetTickCount() - flushed_at_ >= kFlushInterval) FlushNow();
}

void TInstallJournal::FlushNow() {
  if (!file_ || !dirty_) return;
  FlushFileBuffers(static_cast<HANDLE>(file_));
  dirty_ = false;
  flushed_at_ = GetTickCount();
}

void TInstallJournal::Committed() {
  if (!file_) return;
  WithdrawPending();
  TJournalRecord r;
  r.Type = jrCommitted;
  Write(r);
  FlushNow();
}

void TInstallJournal::End() {
  if (!file_) return;
  pending_.clear();
  // Marked first: a run that opens it in the moment between closing and
  // deleting finds nothing to do.
  TJournalRecord r;
  r.Type = jrEnded;
  try {
    Write(r);
    FlushNow();
  } catch (const Exception&) {
    // it goes all the same
  }
  CloseHandle(static_cast<HANDLE>(file_));
  file_ = nullptr;
  DeleteFileA(name_.c_str());
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
