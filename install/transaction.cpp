#include "install/transaction.h"

#include <windows.h>

#include "common/exceptions.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "install/restartreplace.h"
#include "run/dirconst.h"

namespace {

// A path as the file system tells files apart: in full, letter case ignored.
std::string PathKey(const std::string& path) {
  std::string key = FullPathName(path);
  if (!key.empty()) CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
  return key;
}

}  // namespace

void TInstallTransaction::StartJournal(const std::string& app_name, const std::string& app_dir) {
  if (journal_.Open(app_name, app_dir))
    log_.OnAppend = [this](const UndoRecord& r) { journal_.Appended(r); };
}

std::string TInstallTransaction::MoveAside(const std::string& dest, uint32_t attributes) {
  const std::string safety = NewTempFileName(ExtractFilePath(FullPathName(dest)));
  journal_.NoteSafetyCopy(dest, safety, attributes);
  if (!MoveFileA(dest.c_str(), safety.c_str())) return std::string();
  replaced_.push_back(TReplacedFile{dest, safety, attributes});
  own_.insert(PathKey(dest));
  return safety;
}

bool TInstallTransaction::PutBackLast() {
  TReplacedFile& r = replaced_.back();
  if (!MoveFileA(r.SafetyCopy.c_str(), r.Dest.c_str())) {
    r.Replaced = false;
    return false;
  }
  own_.erase(PathKey(r.Dest));
  replaced_.pop_back();
  return true;
}

void TInstallTransaction::NoteCreated(const std::string& file) { own_.insert(PathKey(file)); }

bool TInstallTransaction::IsOwnFile(const std::string& file) const {
  return own_.count(PathKey(file)) != 0;
}

void TInstallTransaction::RecordAttributes(const std::string& dest, uint32_t attributes) {
  journal_.NoteAttributes(dest, attributes);
  replaced_.push_back(TReplacedFile{dest, std::string(), attributes});
}

void TInstallTransaction::Commit(const std::string& log_file) {
  if (!log_file.empty()) log_.WriteLogFile(log_file);
  journal_.Committed();
  // Nothing can be taken back from here on: the replaced files' safety
  // copies go.
  for (const TReplacedFile& r : replaced_) {
    if (r.SafetyCopy.empty()) continue;
    // An original that nothing replaced goes back to its name if it can,
    // else it stays under its temporary one.
    if (!r.Replaced) {
      MoveFileA(r.SafetyCopy.c_str(), r.Dest.c_str());
      continue;
    }
    SetFileAttributesA(r.SafetyCopy.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Only a leftover copy is at stake when even that fails.
    if (!DeleteFileA(r.SafetyCopy.c_str())) ScheduleRestartDelete(r.SafetyCopy);
  }
  replaced_.clear();
  own_.clear();
  log_.DiscardAll();
  journal_.End();
}

namespace {
void ShowRollbackError(const std::string& message) {
  const std::string text = message + ".";
  MessageBoxA(nullptr, text.c_str(), "Uninstall", MB_OK | MB_ICONERROR);
}
}  // namespace

void TInstallTransaction::Rollback() {
  // The replay shows and passes over what fails in a record; whatever else
  // leaves it must not keep the replaced files from going back.
  try {
    log_.Replay(false);
  } catch (const std::exception& e) {
    ShowRollbackError(e.what());
  }
  for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it) {
    try {
      if (!it->SafetyCopy.empty()) {
        // The new file (which the replay keeps, as the destination existed
        // before) makes way; if it cannot, the rename reports it.
        SetFileAttributesA(it->Dest.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(it->Dest.c_str());
        if (!MoveFileA(it->SafetyCopy.c_str(), it->Dest.c_str()))
          RaiseLastIOError("restoring", it->Dest);
      }
      if (it->Attributes != TReplacedFile::kAttributesUnchanged && FileExists(it->Dest) &&
          !SetFileAttributesA(it->Dest.c_str(), it->Attributes))
        RaiseLastIOError("restoring the attributes of", it->Dest);
    } catch (const Exception& e) {
      ShowRollbackError(e.Message());
    }
  }
  replaced_.clear();
  own_.clear();
  journal_.End();
}
