// The file-copying step and the machine work of the file rules.
#include "install/installfiles.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "common/exceptions.h"
#include "common/faultguard.h"
#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "common/win32file.h"
#include "common/winhandles.h"
#include "install/extract.h"
#include "install/filerules.h"
#include "install/steps.h"
#include "main/dirconst.h"
#include "main/globals.h"
#include "undo/replay.h"
#include "undo/undolog.h"

namespace {

// The full path, ".." resolved; the path itself when Windows has none.
std::string FullPathName(const std::string& path) {
  char buf[MAX_PATH + 1];
  char* file_part = nullptr;
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, &file_part);
  return n == 0 || n >= sizeof buf ? path : std::string(buf, n);
}

}  // namespace

std::string FindDiskFile(TInstallContext& ctx, int32_t disk) {
  const std::string name = Format("SETUP.%d", static_cast<int>(disk));
  const std::string alternative =
      Format("..\\DISK%d\\SETUP.%d", static_cast<int>(disk), static_cast<int>(disk));
  const std::string candidates[] = {
      EnsureTrailingBackslash(ctx.CurrentDiskDir) + name,
      EnsureTrailingBackslash(SourceDir) + name,
      FullPathName(EnsureTrailingBackslash(ctx.CurrentDiskDir) + alternative),
      FullPathName(EnsureTrailingBackslash(SourceDir) + alternative),
  };
  for (const std::string& c : candidates)
    if (FileExists(c)) return c;
  if (!ctx.PromptForDisk) return candidates[0];
  std::string dir;
  if (!ctx.PromptForDisk(disk, name, SourceDir, dir)) throw EAbort();
  ctx.CurrentDiskDir = dir;
  return EnsureTrailingBackslash(dir) + name;
}

bool GetFileVersionNumbers(const std::string& path, uint32_t& ms, uint32_t& ls) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) return false;
  std::vector<char> info(size);
  if (!GetFileVersionInfoA(path.c_str(), handle, size, info.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  char root[] = "\\";
  if (!VerQueryValueA(info.data(), root, reinterpret_cast<void**>(&fixed), &len) || !fixed ||
      len < sizeof(VS_FIXEDFILEINFO))
    return false;
  ms = fixed->dwFileVersionMS;
  ls = fixed->dwFileVersionLS;
  return true;
}

namespace {

// One registration try; returns how far it came and the DLL's result.
TRegisterStatus TryRegisterServer(const std::string& path, int32_t& result) {
  TRegisterStatus status = rsNotLoaded;
  try {
    TLibrary lib(LoadLibraryA(path.c_str()));
    if (!lib) return status;
    status = rsLoaded;
    auto entry = reinterpret_cast<TStatusProc>(
        reinterpret_cast<void*>(GetProcAddress(lib.get(), "DllRegisterServer")));
    if (!entry) return status;
    status = rsExportFound;
    // A crash inside the DLL is a failed registration; the status stays,
    // and the fault's code stands for the result it never returned.
    const TGuardedResult r = CallGuarded(entry);
    if (!r.Completed) {
      result = static_cast<int32_t>(r.FaultCode);
      return status;
    }
    result = static_cast<int32_t>(r.Status);
    if (result >= 0) status = rsRegistered;
  } catch (...) {
    // Whatever the DLL raised is a failed registration.
  }
  return status;
}

}  // namespace

void RegisterServer(const std::string& path) {
  for (;;) {
    int32_t result = 0;
    const TRegisterStatus status = TryRegisterServer(path, result);
    if (status == rsRegistered) return;
    const int answer = ShowMessageBoxStr(RegisterServerQuestionText(path, status, result), "",
                                         mbkWarning, MB_ABORTRETRYIGNORE);
    if (answer == IDABORT) throw EAbort();
    if (answer != IDRETRY) return;
  }
}

void IncrementSharedCount(const std::string& path, bool existed) {
  TRegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    throw Exception(Format(SRegOpenFailedFmt, SharedDllsKey));
  int64_t count = 0;
  DWORD type = REG_DWORD;
  DWORD found_type = 0, size = 0;
  if (RegQueryValueExA(key.get(), path.c_str(), nullptr, &found_type, nullptr, &size) ==
      ERROR_SUCCESS) {
    if (found_type == REG_SZ) {
      std::string text;
      if (ReadRegString(key.get(), path, text)) {
        try {
          count = StrToInt(text);
          type = REG_SZ;
        } catch (const EConvertError&) {
          count = 0;
        }
      }
    } else if (found_type == REG_BINARY && size >= 1 && size <= 4) {
      uint8_t b[4] = {0, 0, 0, 0};
      DWORD n = size;
      if (RegQueryValueExA(key.get(), path.c_str(), nullptr, nullptr, b, &n) == ERROR_SUCCESS) {
        count = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24));
        type = REG_BINARY;
      }
    } else if (found_type == REG_DWORD) {
      uint8_t b[4] = {0, 0, 0, 0};
      DWORD n = sizeof b;
      if (RegQueryValueExA(key.get(), path.c_str(), nullptr, nullptr, b, &n) == ERROR_SUCCESS)
        count = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24));
    }
  }
  const uint32_t next = NextSharedCount(count, existed);
  if (type == REG_SZ) {
    const std::string text = Format("%u", static_cast<unsigned>(next));
    RegSetValueExA(key.get(), path.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
  } else {
    const uint8_t b[4] = {static_cast<uint8_t>(next), static_cast<uint8_t>(next >> 8),
                          static_cast<uint8_t>(next >> 16), static_cast<uint8_t>(next >> 24)};
    RegSetValueExA(key.get(), path.c_str(), 0, type, b, sizeof b);
  }
}

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

namespace {

// The destination file written through a handle.
class TWin32FileSink : public TFileSink {
 public:
  TWin32FileSink(HANDLE h, const std::string& path) : h_(h), path_(path) {}
  void Write(const void* data, uint32_t count) override {
    DWORD written = 0;
    if (!WriteFile(h_, data, count, &written, nullptr) || written != count)
      RaiseLastIOError("writing", path_);
  }

 private:
  HANDLE h_;
  std::string path_;
};

// The working state of one file's attempts.
struct TFileAttempt {
  std::string Dest;
  bool Existed = false;
  std::string TempName;
  bool TempCreated = false;
  bool Extracted = false;
  bool RestartReplaced = false;
  std::string Context;
  // The destination's attributes when the file step first saw it, and
  // whether a change of them has been recorded for the rollback.
  uint32_t OriginalAttributes = TReplacedFile::kAttributesUnchanged;
  bool AttributesRecorded = false;
};

void DeleteLeftoverTemp(TFileAttempt& a) {
  if (a.TempCreated) {
    DeleteFileA(a.TempName.c_str());
    a.TempCreated = false;
    a.TempName.clear();
  }
}

// How the existing destination's last-write time compares with the entry's.
TTimeOrder ExistingTimeOrder(const std::string& dest, const FILETIME& source_time) {
  WIN32_FIND_DATAA fd;
  TFindHandle find(FindFirstFileA(dest.c_str(), &fd));
  if (!find || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return TTimeOrder::Unavailable;
  const LONG c = CompareFileTime(&fd.ftLastWriteTime, &source_time);
  return c == 0 ? TTimeOrder::Equal : c > 0 ? TTimeOrder::ExistingLater : TTimeOrder::ExistingEarlier;
}

// Puts the finished temporary file in the destination's place: the existing
// file is moved aside as a safety copy for the rollback (or deleted when
// there is nowhere to keep one), or, when it is in use and the entry allows
// it, replaced at the next restart; then the temporary file is renamed.
void ReplaceWithNewFile(TInstallContext& ctx, TFileAttempt& a, uint8_t flags) {
  std::string safety;
  if (a.Existed) {
    a.Context = SCtxDeleteExisting;
    bool gone;
    if (ctx.Replaced) {
      safety = NewTempFileName(ExtractFilePath(FullPathName(a.Dest)));
      gone = MoveFileA(a.Dest.c_str(), safety.c_str()) != FALSE;
      if (gone)
        ctx.Replaced->push_back(TReplacedFile{a.Dest, safety, a.OriginalAttributes});
      else
        safety.clear();
    } else {
      gone = DeleteFileA(a.Dest.c_str()) != FALSE;
    }
    if (!gone) {
      const DWORD code = GetLastError();
      if ((flags & ffRestartReplace) && (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)) {
        a.Context = SCtxRestartReplace;
        ScheduleRestartReplace(a.TempName, a.Dest);
        a.RestartReplaced = true;
        a.TempCreated = false;  // it waits for the restart
      } else {
        SetLastError(code);
        RaiseLastIOError("deleting", a.Dest);
      }
    }
  }
  if (!a.RestartReplaced) {
    a.Context = SCtxRename;
    if (!MoveFileA(a.TempName.c_str(), a.Dest.c_str())) {
      const DWORD code = GetLastError();
      // The old file goes straight back; the question that follows may
      // well be answered with Ignore.
      if (!safety.empty() && MoveFileA(safety.c_str(), a.Dest.c_str())) ctx.Replaced->pop_back();
      SetLastError(code);
      RaiseLastIOError("renaming", a.TempName);
    }
    a.TempCreated = false;
    a.TempName.clear();
  }
}

// Writes the file under a temporary name beside the destination.
void CopyToTemporary(TInstallContext& ctx, TFileAttempt& a, const SetupFileEntry& entry,
                     const SetupFileLocationEntry& location) {
  const std::string source_path =
      DataOffset != 0 ? ScriptFileName : FindDiskFile(ctx, location.FirstDisk());

  a.Context = SCtxCreateTemp;
  a.TempName = NewTempFileName(ExtractFilePath(FullPathName(a.Dest)));
  TFileHandle temp(CreateFileA(a.TempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!temp) RaiseLastIOError("creating", a.TempName);
  a.TempCreated = true;

  a.Context = SCtxReadSource;
  auto source = std::make_unique<TWin32File>(source_path);

  a.Context = SCtxCopy;
  TWin32FileSink sink(temp.get(), a.TempName);
  a.Extracted = true;
  try {
    ExtractFileData(std::move(source), DataOffset, entry, location, sink, ctx.Progress,
                    [&ctx](int32_t disk) -> std::unique_ptr<TFile> {
                      return std::make_unique<TWin32File>(FindDiskFile(ctx, disk));
                    });
  } catch (...) {
    a.Extracted = false;
    throw;
  }
  FILETIME t;
  t.dwLowDateTime = entry.SourceTimeLow();
  t.dwHighDateTime = entry.SourceTimeHigh();
  if (!SetFileTime(temp.get(), &t, nullptr, &t)) RaiseLastIOError("setting the time of", a.TempName);
}

// One attempt at one file; raises to the per-file question.
void RunAttempt(TInstallContext& ctx, TFileAttempt& a, const SetupFileEntry& entry,
                const SetupFileLocationEntry& location) {
  const uint8_t flags = entry.FileFlags();
  const uint8_t mode = entry.CopyMode();
  bool keep = false;
  for (;;) {  // the read-only question's Retry starts again here
    a.Context.clear();
    a.Extracted = a.RestartReplaced = false;
    DeleteLeftoverTemp(a);
    // The uninstall data file has a name only in an uninstallable script;
    // without one there is no destination to write.
    if ((flags & ffUninstallDataFile) && ctx.UninstallFileTemplate.empty())
      throw Exception("The uninstall data file has no name: the setup script does not register an uninstaller");
    a.Dest = (flags & ffUninstallDataFile) ? UninstallFileName(ctx.UninstallFileTemplate, '0')
                                           : ExpandDirConstants(entry.DestName());
    a.Existed = FileExists(a.Dest);
    if (a.Existed && a.OriginalAttributes == TReplacedFile::kAttributesUnchanged)
      a.OriginalAttributes = GetFileAttributesA(a.Dest.c_str());
    if (IsCommonControlsUpdate(a.Dest) && ctx.MarkCommonControlsUpdate) ctx.MarkCommonControlsUpdate();
    ctx.Progress.SetFileNameText(a.Dest);
    if (!a.Existed) break;

    if (mode == cmOnlyIfDoesntExist) {
      keep = true;
      break;
    }
    a.Context = SCtxReadExisting;
    uint32_t ms = 0, ls = 0;
    if (mode != cmAlwaysOverwrite && static_cast<uint32_t>(entry.FileVersionMS()) != 0xFFFFFFFFu &&
        GetFileVersionNumbers(a.Dest, ms, ls)) {
      FILETIME source_time;
      source_time.dwLowDateTime = entry.SourceTimeLow();
      source_time.dwHighDateTime = entry.SourceTimeHigh();
      const TExistingVerdict verdict = CompareWithExisting(
          static_cast<uint32_t>(entry.FileVersionMS()), static_cast<uint32_t>(entry.FileVersionLS()),
          ms, ls, [&] { return ExistingTimeOrder(a.Dest, source_time); });
      if (verdict == TExistingVerdict::Keep) {
        keep = true;
        break;
      }
      if (verdict == TExistingVerdict::ExistingNewer &&
          (mode == cmKeepNewer ||
           ShowMessageBoxStr(SExistingNewerQuestion, a.Dest, mbkWarning, MB_YESNO) == IDYES)) {
        keep = true;
        break;
      }
    }
    if ((flags & ffConfirmOverwrite) &&
        ShowMessageBoxFmt(SOverwriteQuestionFmt, "", mbkQuestion, MB_YESNO, a.Dest.c_str()) != IDYES) {
      keep = true;
      break;
    }
    const DWORD attr = GetFileAttributesA(a.Dest.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY)) {
      const int answer = ShowMessageBoxStr(SReadOnlyQuestion, a.Dest, mbkWarning,
                                           MB_ABORTRETRYIGNORE | MB_DEFBUTTON2);
      if (answer == IDABORT) throw EAbort();
      if (answer == IDRETRY) {
        if (ctx.Replaced && !a.AttributesRecorded) {
          ctx.Replaced->push_back(TReplacedFile{a.Dest, std::string(), a.OriginalAttributes});
          a.AttributesRecorded = true;
        }
        a.Context = SCtxChangeAttributes;
        SetFileAttributesA(a.Dest.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);
        continue;
      }
      keep = true;
    }
    break;
  }

  if (!keep) {
    CopyToTemporary(ctx, a, entry, location);
    ReplaceWithNewFile(ctx, a, flags);
    a.Context.clear();
    if (!(flags & (ffUninstallDataFile | ffUninstallNeverRemove | ffSharedFile)))
      ctx.Log.AppendStrings(ukDeleteFile, {a.Dest, a.TempName},
                            (a.Existed ? dfExistedBefore : 0) |
                                ((flags & ffRegisterServer) ? dfRegisteredServer : 0));
  }
  if ((flags & ffRegisterServer) && !a.RestartReplaced) {
    a.Context.clear();
    RegisterServer(a.Dest);
  }
  if ((flags & ffSharedFile) && IsVersion4Shell()) {
    a.Context.clear();
    IncrementSharedCount(a.Dest, a.Existed);
    ctx.Log.AppendStrings(ukDeleteFile, {a.Dest, a.TempName},
                          dfSharedFile | ((flags & ffRegisterServer) ? dfRegisteredServer : 0));
  }
}

}  // namespace

void InstallFiles(TInstallContext& ctx) {
  ctx.CurrentDiskDir = SourceDir;
  const auto& files = Script.FileEntries;
  const auto& locations = Script.FileLocationEntries;
  for (size_t i = 0; i < files.size() && i < locations.size(); ++i) {
    TFileAttempt a;
    for (;;) {
      std::string error;
      bool failed = false;
      try {
        RunAttempt(ctx, a, files[i], locations[i]);
      } catch (const EAbort&) {
        DeleteLeftoverTemp(a);
        throw;
      } catch (const Exception& e) {
        error = e.Message();
        failed = true;
      } catch (...) {
        DeleteLeftoverTemp(a);
        throw;
      }
      DeleteLeftoverTemp(a);
      if (!failed) break;
      const int answer = ShowMessageBoxStr(FileErrorQuestionText(a.Context, error), a.Dest,
                                           mbkWarning, MB_ABORTRETRYIGNORE | MB_DEFBUTTON2);
      if (answer == IDABORT) throw EAbort();
      if (answer != IDRETRY) break;
    }
    if (!a.Extracted && files[i].CompressedSize() > 0)
      ctx.Progress.AddProgress(static_cast<uint32_t>(files[i].CompressedSize()));
    ctx.Progress.CheckCancel();
  }
}

void RestoreReplacedFiles(std::vector<TReplacedFile>& replaced) {
  for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
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
      const std::string text = e.Message() + ".";
      MessageBoxA(nullptr, text.c_str(), "Uninstall", MB_OK | MB_ICONERROR);
    }
  }
  replaced.clear();
}

void DeleteSafetyCopies(TInstallContext& ctx) {
  if (!ctx.Replaced) return;
  for (const TReplacedFile& r : *ctx.Replaced) {
    if (r.SafetyCopy.empty()) continue;
    SetFileAttributesA(r.SafetyCopy.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Only a leftover copy is at stake when even that fails.
    if (!DeleteFileA(r.SafetyCopy.c_str())) ScheduleRestartDelete(r.SafetyCopy);
  }
  ctx.Replaced->clear();
}
