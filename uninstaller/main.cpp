// Uninstal.exe: removes an installed application by taking back, newest
// first, every change its uninstall log records; then removes the log, the
// uninstall data file and the folders left empty. Started with the command
// line that the installation registered (UninstallString).
#include <windows.h>

#include <new>
#include <set>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/syshelpers.h"
#include "common/win32file.h"
#include "common/winhandles.h"
#include "forms/forms.h"
#include "undo/undolog.h"
#include "uninstaller/uninstform.h"
#include "uninstaller/uninstlogic.h"

namespace {

// Exit codes.
constexpr int kRemoved = 0;     // everything taken back
constexpr int kRefused = 1;     // bad command line or log; nothing changed
constexpr int kDeclined = 2;    // the user answered No; nothing changed
constexpr int kLeftovers = 3;   // removed, but some items stayed

// What a record stands for, kept to check after the replay (which frees the
// records as it goes).
struct TRecorded {
  uint8_t kind;
  uint32_t param;
  std::string s0, s1;
};

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The shared files that stay on purpose (other programs count them, or the
// user chose to keep them), by their full paths in capitals.
using TKeptFiles = std::set<std::string>;

// How many kept files the folder holds, below it too; -1 when it holds
// anything else.
int KeptFilesIn(const std::string& folder, const TKeptFiles& kept) {
  WIN32_FIND_DATAA fd;
  TFindHandle find(FindFirstFileA((EnsureTrailingBackslash(folder) + "*").c_str(), &fd));
  if (!find) return -1;
  int count = 0;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = EnsureTrailingBackslash(folder) + name;
    const int n = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                      ? KeptFilesIn(path, kept)
                      : (kept.count(Upper(ResolveDotParts(path))) ? 1 : -1);
    if (n < 0) return -1;
    count += n;
  } while (FindNextFileA(find.get(), &fd));
  return count;
}

// A folder still there that is not a leftover: it holds kept files and
// nothing else.
bool HoldsOnlyKeptFiles(const std::string& folder, const TKeptFiles& kept) {
  return !kept.empty() && KeptFilesIn(folder, kept) > 0;
}

// What the replay and the tidying could not take away: files and folders
// still there (shared files excepted: their count or the user kept them,
// and so folders that hold nothing but such files), registry keys and
// values still there.
std::vector<std::string> Leftovers(const std::vector<TRecorded>& recorded,
                                   const std::vector<std::string>& extra, const TKeptFiles& kept) {
  std::vector<std::string> items;
  auto add = [&](const std::string& item) {
    for (const std::string& i : items)
      if (lstrcmpiA(i.c_str(), item.c_str()) == 0) return;
    items.push_back(item);
  };
  for (auto it = recorded.rbegin(); it != recorded.rend(); ++it) {
    const TRecorded& r = *it;
    switch (r.kind) {
      case ukDeleteFile:
        if (!(r.param & dfSharedFile) && PathExists(r.s0)) add(r.s0);
        break;
      case ukRemoveDir:
        if (FolderExists(r.s0) && !HoldsOnlyKeptFiles(r.s0, kept)) add(r.s0);
        break;
      case ukRegKeyTree: {
        TRegKey key;
        if (RegOpenKeyExA(RootKeyFromParam(r.param), r.s0.c_str(), 0, KEY_QUERY_VALUE, key.put()) ==
            ERROR_SUCCESS)
          add(RootKeyName(r.param) + "\\" + r.s0);
        break;
      }
      case ukRegValue: {
        TRegKey key;
        if (RegOpenKeyExA(RootKeyFromParam(r.param), r.s0.c_str(), 0, KEY_QUERY_VALUE, key.put()) ==
                ERROR_SUCCESS &&
            RegValuePresent(key.get(), r.s1))
          add(RootKeyName(r.param) + "\\" + r.s0 + " [" + r.s1 + "]");
        break;
      }
      default:
        break;
    }
  }
  for (const std::string& e : extra)
    if (PathExists(e) && !(FolderExists(e) && HoldsOnlyKeptFiles(e, kept))) add(e);
  return items;
}

// The uninstall log, held open without sharing from its first read to the
// end of the run: a second Uninstal.exe started on the same log (a double
// click on Remove) is refused instead of taking every change back again.
class THeldLog {
 public:
  explicit THeldLog(const std::string& path) : path_(path) {}

  // False when the file cannot be opened: another run (or program) holds
  // it, or another reason, in text.
  bool Open(bool& in_use, std::string& error) {
    file_.reset(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_ && GetLastError() == ERROR_ACCESS_DENIED)  // a read-only log
      file_.reset(CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
    if (file_) return true;
    in_use = GetLastError() == ERROR_SHARING_VIOLATION;
    try {
      RaiseLastIOError("opening", path_);
    } catch (const EInOutError& e) {
      error = e.Message();
    }
    return false;
  }

  // The whole file; raises EInOutError.
  std::vector<uint8_t> ReadAll() {
    const DWORD size = GetFileSize(file_.get(), nullptr);
    if (size == INVALID_FILE_SIZE) RaiseLastIOError("reading", path_);
    std::vector<uint8_t> bytes(size);
    DWORD got = 0;
    if (size > 0 && (!ReadFile(file_.get(), bytes.data(), size, &got, nullptr) || got != size))
      RaiseLastIOError("reading", path_);
    return bytes;
  }

  // Empties the file, lets go of it and deletes it. A run started in the
  // moment between finds an empty log and refuses it.
  void Delete() {
    SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file_.get());
    file_.reset();
    DeleteFileA(path_.c_str());
  }

 private:
  std::string path_;
  TFileHandle file_;
};

int Refuse(const std::string& text) {
  ShowMessageBoxStr(text, kUninstallCaption, mbkStop, MB_OK);
  return kRefused;
}

int RunUninstall(const std::string& cmdline) {
  TUninstallCommand cmd;
  if (!ParseUninstallCommandLine(cmdline, cmd)) return Refuse(BadCommandLineText());
  const DWORD attr = GetFileAttributesA(cmd.LogFile.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY))
    return Refuse(LogMissingText(cmd.LogFile));

  THeldLog held(cmd.LogFile);
  bool inUse = false;
  std::string openError;
  if (!held.Open(inUse, openError))
    return Refuse(inUse ? LogInUseText(cmd.LogFile) : LogUnreadableText(cmd.LogFile, openError));
  TUndoChanges log;
  try {
    const std::vector<uint8_t> bytes = held.ReadAll();
    log.ReadLogData(bytes.data(), bytes.size());
  } catch (const EUndoLogError& e) {
    return Refuse(LogDamagedText(cmd.LogFile, e));
  } catch (const EInOutError& e) {
    return Refuse(LogUnreadableText(cmd.LogFile, e.Message()));
  } catch (const EOutOfMemory& e) {
    return Refuse(LogUnreadableText(cmd.LogFile, e.Message()));
  } catch (const std::bad_alloc&) {
    return Refuse(LogUnreadableText(cmd.LogFile, EOutOfMemory().Message()));
  }
  const std::string appName = log.AppName;
  // An administrator's installation changed what belongs to the whole
  // computer (HKEY_LOCAL_MACHINE, shared files, system files): another
  // user could take back only part of it.
  if (log.AdminFlag && !QueryAdminRights()) return Refuse(NotAdministratorText(appName));
  if (ShowMessageBoxStr(ConfirmText(appName), kUninstallCaption, mbkQuestion,
                        MB_YESNO | MB_DEFBUTTON2) != IDYES)
    return kDeclined;

  std::vector<TRecorded> recorded;
  for (const UndoRecord* r = log.First(); r; r = r->Next)
    recorded.push_back({r->Kind, r->Param, r->String(0), r->String(1)});
  // The folders made on the way go only from an application folder of its
  // own: never below a drive root or the Windows or system folder, where an
  // empty folder may well be the system's.
  char windows[MAX_PATH] = {}, system[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  GetSystemDirectoryA(system, MAX_PATH);
  const bool ownFolder = IsOwnApplicationFolder(cmd.AppDir, windows, system);
  const std::vector<std::string> onTheWay =
      ownFolder ? FoldersOnTheWay(log, cmd.AppDir) : std::vector<std::string>();
  // Never inside a folder that is to go.
  if (windows[0]) SetCurrentDirectoryA(windows);

  TKeptFiles kept;
  {
    TUninstallForm form(appName);
    form.Show();
    forms::ProcessMessages();
    log.OnReplayProgress = [&form](size_t done, size_t total) {
      form.SetProgress(done, total);
      forms::ProcessMessages();
    };
    log.OnSharedFileKept = [&kept](const std::string& file) { kept.insert(Upper(ResolveDotParts(file))); };
    log.Replay(true);
    log.OnReplayProgress = nullptr;

    DeleteFileA(cmd.DataFile.c_str());
    held.Delete();
    // Empty folders only: RemoveDirectory refuses any other.
    for (const std::string& folder : onTheWay) RemoveDirectoryA(folder.c_str());
    if (ownFolder) RemoveDirectoryA(cmd.AppDir.c_str());
  }

  std::vector<std::string> extra = onTheWay;
  extra.insert(extra.begin(), {cmd.LogFile, cmd.DataFile});
  if (ownFolder) extra.push_back(cmd.AppDir);
  const std::vector<std::string> left = Leftovers(recorded, extra, kept);
  if (!left.empty()) {
    ShowMessageBoxStr(LeftoverText(appName, left), kUninstallCaption, mbkWarning, MB_OK);
    return kLeftovers;
  }
  ShowMessageBoxStr(DoneText(appName), kUninstallCaption, mbkInformation, MB_OK);
  return kRemoved;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    return RunUninstall(GetCommandLineA());
  } catch (const Exception& e) {
    // The DDE client that cannot start, a window that cannot be made.
    MessageBoxA(nullptr, (e.Message() + ".").c_str(), kUninstallCaption, MB_OK | MB_ICONERROR);
  } catch (const std::bad_alloc&) {
    MessageBoxA(nullptr, (EOutOfMemory().Message() + ".").c_str(), kUninstallCaption, MB_OK | MB_ICONERROR);
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, (std::string(e.what()) + ".").c_str(), kUninstallCaption, MB_OK | MB_ICONERROR);
  }
  return kRefused;
}
