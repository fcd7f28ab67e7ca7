// Uninstal.exe: removes an installed application by taking back, newest
// first, every change its uninstall log records; then removes the log, the
// uninstall data file and the folders left empty. Started with the command
// line that the installation registered (UninstallString). What is in use
// goes at the next restart; what cannot go even then stays in the log, and
// the application in the list of installed programs, for another run.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/shareddlls.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "forms/forms.h"
#include "install/journalfile.h"
#include "install/restartreplace.h"
#include "run/globals.h"
#include "setupdata/win32file.h"
#include "undo/replay.h"
#include "undo/undolog.h"
#include "uninstaller/uninstform.h"
#include "uninstaller/uninstlogic.h"

namespace {

// Exit codes.
constexpr int kRemoved = 0;     // everything taken back
constexpr int kRefused = 1;     // bad command line or log; nothing changed
constexpr int kDeclined = 2;    // the user answered No; nothing changed
constexpr int kLeftovers = 3;   // removed, but items stay or wait for the restart

// What a record stands for, kept to check after the replay (which frees the
// records as it goes), with its bytes to write it back.
struct TRecorded {
  size_t index;  // its place in the log
  uint8_t kind;
  uint32_t param;
  std::string s0, s1;
  std::string data;
};

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The form paths are compared in: full, "." and ".." resolved, capitals.
std::string PathKey(const std::string& path) {
  std::string s = ResolveDotParts(path);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}
using TPathSet = std::set<std::string>;  // of PathKey

// What a folder that is still there holds, below it too, by why it is there.
struct TFolderContents {
  int kept = 0;       // shared files that stay on purpose
  int atRestart = 0;  // files deleted when Windows restarts
  int inLog = 0;      // files still named in the log (and the log itself)
  int other = 0;      // anything else: not installed with the application
};

void Survey(const std::string& folder, const TPathSet& kept, const TPathSet& atRestart,
            const TPathSet& inLog, TFolderContents& c) {
  WIN32_FIND_DATAA fd;
  TFindHandle find(FindFirstFileA((EnsureTrailingBackslash(folder) + "*").c_str(), &fd));
  if (!find) return;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = EnsureTrailingBackslash(folder) + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Survey(path, kept, atRestart, inLog, c);
      continue;
    }
    const std::string key = PathKey(path);
    ++(kept.count(key) ? c.kept : atRestart.count(key) ? c.atRestart : inLog.count(key) ? c.inLog : c.other);
  } while (FindNextFileA(find.get(), &fd));
}

// Writes the log through the handle that holds it.
class THeldLogOutput : public TLogOutput {
 public:
  THeldLogOutput(HANDLE file, const std::string& path) : file_(file), path_(path) {}
  void Write(const void* data, size_t count) override {
    DWORD written = 0;
    if (!WriteFile(file_, data, static_cast<DWORD>(count), &written, nullptr) || written != count)
      RaiseLastIOError("writing", path_);
  }
  void SeekToStart() override {
    if (SetFilePointer(file_, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
      RaiseLastIOError("positioning", path_);
  }
  void Close() override {}  // the handle stays held

 private:
  HANDLE file_;
  std::string path_;
};

// The uninstall log, held open without sharing from its first read to the
// end of the run: a second Uninstal.exe started on the same log (a double
// click on Remove) is refused instead of taking every change back again.
class THeldLog {
 public:
  explicit THeldLog(const std::string& path) : path_(path) {}

  // False when the file cannot be opened: another run (or program) holds
  // it, or another reason, in text.
  bool Open(bool& in_use, std::string& error) {
    const DWORD attr = GetFileAttributesA(path_.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY))
      SetFileAttributesA(path_.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);  // it is written again or deleted
    file_.reset(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
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

  // Replaces the log by the one given; raises EInOutError.
  void Rewrite(TUndoChanges& log) {
    if (SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(file_.get()))
      RaiseLastIOError("writing", path_);
    HANDLE file = file_.get();
    const std::string path = path_;
    log.WriteLogFile(path_, [file, path](const std::string&) -> std::unique_ptr<TLogOutput> {
      return std::make_unique<THeldLogOutput>(file, path);
    });
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
  // An installation of this product that was killed is taken back first;
  // when it was the first one, nothing is left to uninstall.
  WinDir = QueryWindowsDir();
  const int recovered = RecoverInterruptedInstallations(
      [&cmd](const TJournalHeader& h) {
        return PathKey(StripTrailingBackslash(h.AppDir)) == PathKey(StripTrailingBackslash(cmd.AppDir));
      });
  const DWORD attr = GetFileAttributesA(cmd.LogFile.c_str());
  if (recovered > 0 && attr == INVALID_FILE_ATTRIBUTES) return kRemoved;
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
  const std::string appName = AppNameForTexts(log.AppName, cmd.AppDir);
  // An administrator's installation changed what belongs to the whole
  // computer (HKEY_LOCAL_MACHINE, shared files, system files): another
  // user could take back only part of it.
  if (log.AdminFlag && !QueryAdminRights()) return Refuse(NotAdministratorText(appName));
  if (ShowMessageBoxStr(ConfirmText(appName), kUninstallCaption, mbkQuestion,
                        MB_YESNO | MB_DEFBUTTON2) != IDYES)
    return kDeclined;

  WinDir = QueryWindowsDir();  // for WININIT.INI
  // Every record as it was; the application's entry in the list of
  // installed programs is taken out of the replay: it goes last.
  std::vector<TRecorded> recorded, registration;
  {
    size_t index = 0;
    for (UndoRecord* r = log.First(); r;) {
      UndoRecord* next = r->Next;
      TRecorded rec{index++, r->Kind, r->Param, r->String(0), r->String(1), std::string(r->Data(), r->DataLength)};
      if (IsUninstallRegistration(r->Kind, r->Param, rec.s0)) {
        registration.push_back(rec);
        log.FreeRecord(r);
      } else {
        recorded.push_back(rec);
      }
      r = next;
    }
  }
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

  TRemovalOutcome outcome;
  TPathSet kept, atRestart;
  auto deleteAtRestart = [&](const std::string& path) {
    if (!ScheduleRestartDelete(path)) return false;
    outcome.AtRestart.push_back(path);
    atRestart.insert(PathKey(path));
    return true;
  };
  {
    TUninstallForm form(appName);
    form.Show();
    forms::ProcessMessages();
    log.OnReplayProgress = [&form](size_t done, size_t total) {
      form.SetProgress(done, total);
      forms::ProcessMessages();
    };
    log.OnSharedFileKept = [&kept](const std::string& file) { kept.insert(PathKey(file)); };
    // A read-only file goes all the same (it was installed with the
    // application); one in use goes at the restart.
    log.OnFileNotDeleted = [&](const std::string& file) {
      const DWORD a = GetFileAttributesA(file.c_str());
      if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return false;
      if ((a & FILE_ATTRIBUTE_READONLY) && SetFileAttributesA(file.c_str(), a & ~FILE_ATTRIBUTE_READONLY) &&
          DeleteFileA(file.c_str()))
        return true;
      return deleteAtRestart(file);
    };
    log.Replay(true);
    log.OnReplayProgress = nullptr;
  }
  DeleteFileA(cmd.DataFile.c_str());

  // What is still there, newest first: it stays in the log for another run.
  std::vector<TRecorded> again, keptRecords;
  TPathSet inLog;
  for (auto it = recorded.rbegin(); it != recorded.rend(); ++it) {
    const TRecorded& r = *it;
    // A kept shared file whose count is gone goes along, so that another
    // run knows it again; one that other programs count does not (another
    // run would lower their count).
    if (r.kind == ukDeleteFile && (r.param & dfSharedFile) && kept.count(PathKey(r.s0)) && PathExists(r.s0)) {
      TRegKey key;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
          !RegValuePresent(key.get(), r.s0))
        keptRecords.push_back(r);
      continue;
    }
    std::string item;
    // A replacement still waiting for the restart would bring the file
    // back: its temporary file goes, and its rename with it.
    const bool pending = r.kind == ukDeleteFile && !r.s1.empty() && r.s1 != r.s0 && !kept.count(PathKey(r.s0)) &&
                         FileExists(r.s1);
    if (pending && !CancelRestartReplace(r.s1)) {
      item = r.s0;
      inLog.insert(PathKey(r.s0));
      inLog.insert(PathKey(r.s1));
    } else if (r.kind == ukDeleteFile && PathExists(r.s0) && !FolderExists(r.s0) && !kept.count(PathKey(r.s0)) &&
               !atRestart.count(PathKey(r.s0))) {
      item = r.s0;
      inLog.insert(PathKey(r.s0));
    } else if (r.kind == ukRegKeyTree || r.kind == ukRegValue) {
      TRegKey key;
      if (RegOpenKeyExA(RootKeyFromParam(r.param), r.s0.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS &&
          (r.kind == ukRegKeyTree || RegValuePresent(key.get(), r.s1)))
        item = RootKeyName(r.param) + "\\" + r.s0 + (r.kind == ukRegValue ? " [" + r.s1 + "]" : "");
    }
    if (item.empty()) continue;
    outcome.NotRemoved.push_back(item);
    TRecorded back = r;
    // The count was taken and the library unregistered: the next run only
    // deletes the file.
    if (back.kind == ukDeleteFile) back.param &= ~(dfSharedFile | dfRegisteredServer);
    again.push_back(back);
  }
  if (!again.empty()) again.insert(again.end(), keptRecords.begin(), keptRecords.end());
  // The entry in the list of installed programs goes only with the rest.
  for (const TRecorded& r : registration) {
    if (!again.empty()) {
      again.push_back(r);
      continue;
    }
    bool there;
    {
      TRegKey key;
      there = RegOpenKeyExA(HKEY_LOCAL_MACHINE, r.s0.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
    }
    if (there && !DeleteRegKeyTree(HKEY_LOCAL_MACHINE, r.s0)) {
      outcome.NotRemoved.push_back(RootKeyName(r.param) + "\\" + r.s0);
      again.push_back(r);
    }
  }
  if (again.empty()) {
    held.Delete();
  } else {
    std::sort(again.begin(), again.end(), [](const TRecorded& a, const TRecorded& b) { return a.index < b.index; });
    TUndoChanges rest;
    rest.AppName = log.AppName;
    rest.AdminFlag = log.AdminFlag;
    for (const TRecorded& r : again)
      rest.AppendRaw(r.kind, r.data.data(), r.param, static_cast<uint16_t>(r.data.size()));
    try {
      held.Rewrite(rest);
    } catch (const EInOutError& e) {
      outcome.LogError = e.Message();
    }
    inLog.insert(PathKey(cmd.LogFile));
  }

  // The folders: empty ones go now; one the restart empties goes then (on
  // Windows NT; the Windows 95 family deletes no folder then); one holding
  // files that were not installed with it stays.
  for (const std::string& folder : onTheWay) RemoveDirectoryA(folder.c_str());
  if (ownFolder) RemoveDirectoryA(cmd.AppDir.c_str());
  // A recorded folder that held the application folder (one the
  // installation made on its way there) could not go during the replay:
  // it goes now when it is empty, the deepest first.
  for (auto it = recorded.rbegin(); it != recorded.rend(); ++it)
    if (it->kind == ukRemoveDir) RemoveDirectoryA(it->s0.c_str());
  std::vector<std::string> folders;
  TPathSet seen;
  auto addFolder = [&](const std::string& f) {
    if (FolderExists(f) && seen.insert(PathKey(f)).second) folders.push_back(f);
  };
  for (auto it = recorded.rbegin(); it != recorded.rend(); ++it)
    if (it->kind == ukRemoveDir) addFolder(it->s0);
  for (const std::string& f : onTheWay) addFolder(f);
  if (ownFolder) addFolder(cmd.AppDir);
  std::vector<std::string> emptiedByRestart;
  for (const std::string& f : folders) {
    TFolderContents c;
    Survey(f, kept, atRestart, inLog, c);
    if (c.other > 0 || c.kept + c.atRestart + c.inLog == 0)
      outcome.Stay.push_back(f);
    else if (c.atRestart > 0 && c.kept == 0 && c.inLog == 0)
      emptiedByRestart.push_back(f);
  }
  // Deepest first, after the files in them.
  std::stable_sort(emptiedByRestart.begin(), emptiedByRestart.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '\\') > std::count(b.begin(), b.end(), '\\');
  });
  for (const std::string& f : emptiedByRestart)
    if (!IsWindowsNT() || !deleteAtRestart(f)) outcome.EmptyAfterRestart.push_back(f);

  if (outcome.Complete()) {
    ShowMessageBoxStr(OutcomeText(appName, outcome), kUninstallCaption, mbkInformation, MB_OK);
    return kRemoved;
  }
  ShowMessageBoxStr(OutcomeText(appName, outcome), kUninstallCaption, mbkWarning, MB_OK);
  return kLeftovers;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    return RunUninstall(GetCommandLineA());
  } catch (const Exception& e) {
    // A window that cannot be made.
    MessageBoxA(nullptr, (e.Message() + ".").c_str(), kUninstallCaption, MB_OK | MB_ICONERROR);
  } catch (const std::bad_alloc&) {
    MessageBoxA(nullptr, (EOutOfMemory().Message() + ".").c_str(), kUninstallCaption, MB_OK | MB_ICONERROR);
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, (std::string(e.what()) + ".").c_str(), kUninstallCaption, MB_OK | MB_ICONERROR);
  }
  return kRefused;
}
