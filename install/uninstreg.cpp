// Uninstall registration: the uninstall data file's number, the entry in
// the system's list of uninstallable programs, and the uninstall-delete
// records.
#include "install/uninstreg.h"

#include <windows.h>

#include "common/exceptions.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "install/filerules.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "undo/undolog.h"

namespace {

// True when a file (hidden and system files included, directories not)
// matches the wildcard pattern.
bool AnyFileMatches(const std::string& pattern) {
  WIN32_FIND_DATAA fd;
  TFindHandle find(FindFirstFileA(pattern.c_str(), &fd));
  if (!find) return false;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  } while (FindNextFileA(find.get(), &fd));
  return false;
}

void SetStringValue(HKEY key, const char* name, const std::string& value, const std::string& key_path) {
  if (FailNextUninstallStringWrite && std::string(name) == "UninstallString") {
    FailNextUninstallStringWrite = false;
    throw Exception(Format(SRegWriteFailedFmt, key_path.c_str()));
  }
  if (RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
    throw Exception(Format(SRegWriteFailedFmt, key_path.c_str()));
}

}  // namespace

bool FailNextUninstallStringWrite = false;

void ReserveUninstallFiles(TInstallContext& ctx) {
  for (int i = 0; i <= 999; ++i) {
    const std::string file_template = UninstallFileTemplate(AppDir, i);
    if (AnyFileMatches(UninstallFileName(file_template, '?'))) continue;
    const std::string name = UninstallFileName(file_template, '0');
    ctx.Journal.Intend(ukDeleteFile, {name, ""}, 0);
    TFileHandle f(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) RaiseLastIOError("creating", name);
    f.reset();
    ctx.Log.AppendStrings(ukDeleteFile, {name, ""}, 0);
    ctx.Transaction.NoteCreated(name);  // the file step writes it without a safety copy
    ctx.UninstallFileTemplate = file_template;
    return;
  }
  throw Exception(STooManyFiles);
}

void RegisterUninstaller(TInstallContext& ctx) {
  if (!IsVersion4Shell()) return;
  // Creating a subkey needs KEY_CREATE_SUB_KEY on the parent (Windows NT
  // checks it); querying the names needs KEY_QUERY_VALUE.
  TRegKey uninstall;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SUninstallKeyPath, 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY, nullptr, uninstall.put(),
                      nullptr) != ERROR_SUCCESS)
    return;
  const std::string app = Script.Header.ApplicationVersionName();
  std::string name;
  for (int n = 1;; ++n) {
    name = UninstallKeyName(app, n);
    TRegKey existing;
    if (RegOpenKeyExA(uninstall.get(), name.c_str(), 0, KEY_QUERY_VALUE, existing.put()) !=
        ERROR_SUCCESS)
      break;
  }
  const std::string full = std::string(SUninstallKeyPath) + "\\" + name;
  ctx.Journal.Intend(ukRegKeyTree, {full}, 0x80000002u);
  TRegKey key;
  if (RegCreateKeyExA(uninstall.get(), name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    throw Exception(Format(SRegCreateFailedFmt, full.c_str()));
  // Recorded as soon as it exists: a value that cannot be written must not
  // leave a half-made entry in the list of installed programs.
  ctx.Log.AppendStrings(ukRegKeyTree, {full}, 0x80000002u);
  SetStringValue(key.get(), "DisplayName", app, full);
  SetStringValue(key.get(), "UninstallString",
                 UninstallCommandLine(WinDir, ctx.UninstallFileTemplate), full);
}

void RecordUninstallDeletes(TInstallContext& ctx) {
  for (const SetupUninstallDeleteEntry& u : Script.UninstallDeleteEntries)
    ctx.Log.AppendStrings(ukDeleteFile, {ExpandDirConstants(u.DeletePath()), ""}, dfUninstallOnly);
}
