#include "install/journalfile.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "common/exceptions.h"
#include "common/shareddlls.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/winhandles.h"

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

void* TInstallJournal::CreateNew(const std::string& path) {
  WithdrawPending();
  Write(Note(jrCreating, path));
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    TJournalRecord w;
    w.Type = jrWithdraw;
    Write(w);  // nothing between: the withdrawal names the record before it
    SetLastError(code);
  }
  return h;
}

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
