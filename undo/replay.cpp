// Takes back the recorded changes, newest first.
#include "undo/replay.h"

#include <shlobj.h>

#include <functional>
#include <memory>
#include <vector>

#include "common/dllentry.h"
#include "common/exceptions.h"
#include "common/shareddlls.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "dde/dde.h"
#include "dde/progman.h"
#include "undo/undolog.h"

namespace {

// The file name with its extension (the text from the last dot of the last
// path component on) replaced by ext.
std::string ChangeFileExt(const std::string& file, const std::string& ext) {
  size_t slash = file.find_last_of("\\:");
  size_t dot = file.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return file + ext;
  return file.substr(0, dot) + ext;
}

std::string FileExt(const std::string& file) {
  size_t slash = file.find_last_of("\\:");
  size_t dot = file.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return file.substr(dot);
}

// A subkey path that names a key below the root, not the root itself.
bool NamesSubkey(const std::string& subkey) {
  return subkey.find_first_not_of('\\') != std::string::npos;
}

// Deletes the section from the INI file, or from WIN.INI when the file name
// is empty. The file itself stays, also when nothing is left in it.
void DeleteIniSection(const std::string& section, const std::string& ini_file) {
  if (ini_file.empty())
    WriteProfileStringA(section.c_str(), nullptr, nullptr);
  else
    WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, ini_file.c_str());
}

// The working state of one replay.
class TReplay {
 public:
  TReplay(bool uninstall_mode, const std::function<void(const std::string&)>& kept,
          const std::function<bool(const std::string&)>& not_deleted)
      : uninstall_mode_(uninstall_mode), kept_(kept), not_deleted_(not_deleted) {}
  ~TReplay() {
    if (!dde_) return;
    if (conv_open_) dde_->Disconnect(conv_);
    dde_->FreeStringHandle(service_);
  }
  TReplay(const TReplay&) = delete;
  TReplay& operator=(const TReplay&) = delete;

  bool result = true;

  void Handle(const UndoRecord& rec) {
    switch (rec.Kind) {
      case ukRemoveDir: RemoveDir(rec); break;
      case ukDeleteFile: DeleteFileRecord(rec); break;
      case ukProgmanEntry: ProgmanEntry(rec); break;
      case ukIniValue: IniValue(rec); break;
      case ukIniSection: DeleteIniSection(rec.String(1), rec.String(0)); break;
      case ukRegKeyTree: RegKeyTree(rec); break;
      case ukRegKeyIfEmpty:
      case ukRegValue: RegKeyIfEmpty(rec); break;
      case ukShellNotify:
        ShellChangeNotify(static_cast<LONG>(rec.Param), SHCNF_PATHA | SHCNF_FLUSH, rec.String(0));
        break;
      default: break;  // unknown kinds are skipped
    }
  }

 private:
  void RemoveDir(const UndoRecord& rec) {
    std::string dir = rec.String(0);
    if (!FolderExists(dir)) return;
    // Never stand inside the directory being removed.
    SetCurrentDirectoryA(dir.substr(0, 3).c_str());
    if (!RemoveDirectoryA(dir.c_str())) {
      result = false;
      return;
    }
    if (rec.Param & 1) ShellChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, dir);
  }

  void DeleteHelp(const std::string& file, bool notify) {
    if (DeleteFileAndHelpIndex(file, notify)) return;
    if (uninstall_mode_ && not_deleted_ && not_deleted_(file)) return;
    result = false;
  }

  void DeleteFileRecord(const UndoRecord& rec) {
    std::string file = rec.String(0);
    std::string target = rec.String(1);
    if (uninstall_mode_ || target.empty()) target = file;
    uint32_t p = rec.Param;
    bool notify = (p & dfNotifyShell) != 0;
    if (!uninstall_mode_ && (p & dfExistedBefore)) {
      if (p & dfSharedFile) DecrementSharedCount(file);
      if (target != file) DeleteHelp(target, notify);  // the pending temporary file
      return;
    }
    if (p & dfSharedFile) {
      if (!DecrementSharedCount(file)) return Kept(file);
      if (!FileExists(target)) return;
      if (uninstall_mode_ &&
          MessageBoxA(nullptr, RemoveSharedFileQuestion(file).c_str(), "Remove Shared File?",
                      MB_YESNO | MB_ICONQUESTION) != IDYES)
        return Kept(file);
    }
    if ((p & dfRegisteredServer) && target == file) {
      if (!UnregisterServer(file)) result = false;
    }
    if (uninstall_mode_ || (p & dfUninstallOnly) == 0) DeleteHelp(target, notify);
  }

  void Kept(const std::string& file) {
    if (uninstall_mode_ && kept_) kept_(file);
  }

  void ProgmanEntry(const UndoRecord& rec) {
    std::string group = rec.String(0);
    std::string item = rec.String(1);
    // The DDE client starts with the first Program Manager record: a
    // replay without one never needs DDE, and one that cannot start fails
    // this record only (the next such record tries again).
    if (!dde_) dde_ = std::make_unique<TDDE>();
    TDDE& dde = *dde_;
    if (!conv_open_) {
      if (service_ == nullptr) service_ = dde.CreateStringHandle(ProgmanService);
      try {
        conv_ = dde.Connect(service_, service_);
      } catch (...) {
        dde.FreeStringHandle(service_);  // the next record starts afresh
        throw;
      }
      conv_open_ = true;
    }
    if (group != last_group_) {
      if (!dde.Execute(conv_, ProgmanShowGroupCommand(group), true)) {
        result = false;
        return;
      }
      last_group_ = group;
    }
    if (!item.empty()) {
      dde.Execute(conv_, ProgmanDeleteItemCommand(item), false);
      return;
    }
    // The record stands for the group: delete it only when it is empty.
    HSZ item_handle = dde.CreateStringHandle(group);
    HDDEDATA data = nullptr;
    try {
      const BYTE* bytes = nullptr;
      DWORD size = 0;
      dde.Request(conv_, item_handle, CF_TEXT, data, bytes, size);
      if (ProgmanGroupIsEmpty(reinterpret_cast<const char*>(bytes), size))
        dde.Execute(conv_, ProgmanDeleteGroupCommand(group), false);
    } catch (...) {
      dde.UnaccessData(data);
      dde.FreeStringHandle(item_handle);
      throw;
    }
    dde.UnaccessData(data);
    dde.FreeStringHandle(item_handle);
  }

  void IniValue(const UndoRecord& rec) {
    std::string ini = rec.String(0), section = rec.String(1), key = rec.String(2);
    if (ini.empty())
      WriteProfileStringA(section.c_str(), key.c_str(), nullptr);
    else
      WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, ini.c_str());
    if (IsIniSectionEmpty(section, ini)) DeleteIniSection(section, ini);
  }

  void RegKeyTree(const UndoRecord& rec) {
    HKEY root = RootKeyFromParam(rec.Param);
    std::string subkey = rec.String(0);
    if (root == nullptr || !MayDeleteKeyTree(rec.Param, subkey)) {
      result = false;  // the root itself, or a key every program shares
      return;
    }
    {
      TRegKey k;
      if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return;
    }
    if (!DeleteRegKeyTree(root, subkey)) result = false;
  }

  void RegKeyIfEmpty(const UndoRecord& rec) {
    HKEY root = RootKeyFromParam(rec.Param);
    std::string subkey = rec.String(0);
    if (root == nullptr || !NamesSubkey(subkey)) {
      result = false;
      return;
    }
    TRegKey k;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, k.put()) !=
        ERROR_SUCCESS)
      return;
    if (rec.Kind == ukRegValue) {
      std::string value = rec.String(1);
      if (RegValuePresent(k.get(), value) && RegDeleteValueA(k.get(), value.c_str()) != ERROR_SUCCESS)
        result = false;
    }
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyA(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      result = false;
      return;
    }
    k.reset();
    if (subkeys == 0 && values == 0 && !DeleteRegKeyTree(root, subkey)) result = false;
  }

  std::unique_ptr<TDDE> dde_;
  bool uninstall_mode_;
  const std::function<void(const std::string&)>& kept_;
  const std::function<bool(const std::string&)>& not_deleted_;
  bool conv_open_ = false;
  HSZ service_ = nullptr;
  HCONV conv_ = nullptr;
  std::string last_group_;
};

}  // namespace

std::string RemoveSharedFileQuestion(const std::string& file) {
  return "The system indicates that the following shared file is no longer in use by any "
         "programs. Would you like Uninstall to remove this shared file?\r\n\r\n" +
         file +
         "\r\n\r\nIf any programs are still using this file and it is removed, those programs "
         "may not function properly. If you are unsure, choose No. Leaving the file on your "
         "system will not cause any harm.";
}

bool DecrementSharedCount(const std::string& file) {
  TRegKey k = OpenSharedDllsKey();
  const TSharedCount c = ReadSharedCount(k.get(), file);
  if (!c.Exists) return false;
  const int64_t count = static_cast<int64_t>(c.Readable ? c.Count : 2) - 1;
  if (count <= 0) {
    RegDeleteValueA(k.get(), file.c_str());
    return true;
  }
  WriteSharedCount(k.get(), file, static_cast<uint32_t>(count), c.Type);
  return false;
}

bool UnregisterServer(const std::string& file) {
  // A crash inside the DLL is a failed unregistration like any other.
  const TDllEntryCall call = CallDllEntryPoint(file, "DllUnregisterServer");
  return call.Stage == TDllCallStage::Returned && call.Result >= 0;
}

bool DeleteFileAndHelpIndex(const std::string& file, bool notify) {
  if (lstrcmpiA(FileExt(file).c_str(), ".HLP") == 0) {
    DeleteFileA(ChangeFileExt(file, ".GID").c_str());
    DeleteFileA(ChangeFileExt(file, ".FTS").c_str());
  }
  if (!FileExists(file)) return true;
  if (!DeleteFileA(file.c_str())) return false;
  if (notify) ShellChangeNotify(SHCNE_DELETE, SHCNF_PATHA, file);
  return true;
}

bool IsIniSectionEmpty(const std::string& section, const std::string& ini_file) {
  char buf[256];
  buf[0] = '\0';
  if (ini_file.empty())
    GetProfileStringA(section.c_str(), nullptr, nullptr, buf, sizeof buf);
  else
    GetPrivateProfileStringA(section.c_str(), nullptr, nullptr, buf, sizeof buf,
                             ini_file.c_str());
  return buf[0] == '\0';
}

bool TUndoChanges::Replay(bool UninstallMode) {
  TReplay replay(UninstallMode, OnSharedFileKept, OnFileNotDeleted);
  UndoRecord* rec = last_;
  const size_t total = count_;
  size_t done = 0;
  while (rec != nullptr) {
    UndoRecord* prev = rec->Prev;
    try {
      replay.Handle(*rec);
    } catch (const EAbort&) {
      replay.result = false;
    } catch (const Exception& e) {
      replay.result = false;
      std::string text = e.Message() + ".";
      MessageBoxA(nullptr, text.c_str(), "Uninstall", MB_OK | MB_ICONERROR);
    }
    FreeRecord(rec);
    rec = prev;
    if (OnReplayProgress) OnReplayProgress(++done, total);
  }
  first_ = nullptr;
  return replay.result;
}
