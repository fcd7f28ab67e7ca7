// The file-copying step and the machine work of the file rules.
#include "install/installfiles.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "common/dllentry.h"
#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/shareddlls.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "install/extract.h"
#include "install/filerules.h"
#include "install/restartreplace.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "setupdata/win32file.h"
#include "undo/undolog.h"

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
  // The user may change disks now: nothing stays open on the old one.
  ctx.OpenDiskFile.reset();
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

// One registration try; returns how far it came and the DLL's result (the
// fault's code when it crashed).
TRegisterStatus TryRegisterServer(const std::string& path, int32_t& result) {
  const TDllEntryCall call = CallDllEntryPoint(path, "DllRegisterServer");
  result = call.Result;
  switch (call.Stage) {
    case TDllCallStage::NotLoaded: return rsNotLoaded;
    case TDllCallStage::Loaded: return rsLoaded;
    case TDllCallStage::EntryFound: break;
    case TDllCallStage::Returned: return result >= 0 ? rsRegistered : rsExportFound;
  }
  return rsExportFound;
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
  TRegKey key = OpenSharedDllsKey();
  const TSharedCount c = ReadSharedCount(key.get(), path);
  WriteSharedCount(key.get(), path, NextSharedCount(c.Readable ? c.Count : 0, existed), c.Type);
}

namespace {

// The destination file written through a handle.
class TWin32FileSink : public TFileSink {
 public:
  TWin32FileSink(HANDLE h, const std::string& path, TStepClock* clock)
      : h_(h), path_(path), clock_(clock) {}
  void Write(const void* data, uint32_t count) override {
    TTimedPart timed(clock_, "write");
    DWORD written = 0;
    if (!WriteFile(h_, data, count, &written, nullptr) || written != count)
      RaiseLastIOError("writing", path_);
  }

 private:
  HANDLE h_;
  std::string path_;
  TStepClock* clock_;
};

// The working state of one file's attempts.
struct TFileAttempt {
  std::string Dest;
  bool Existed = false;
  std::string TempName;
  bool TempCreated = false;
  // A destination that did not exist is made in its place at once and
  // written there (TempName is then the destination itself): the journal
  // names it first, so a killed run's recovery deletes it. This spares the
  // temporary name and the rename, each a folder lookup.
  bool Direct = false;
  TFileHandle DirectHandle;
  bool Extracted = false;
  bool RestartReplaced = false;
  std::string Context;
  // The destination's attributes when the file step first saw it, and
  // whether a change of them has been recorded for the rollback.
  uint32_t OriginalAttributes = TReplacedFile::kAttributesUnchanged;
  bool AttributesRecorded = false;
};

void DeleteLeftoverTemp(TFileAttempt& a) {
  a.DirectHandle.reset();
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

// ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED when the existing file is
// in use and cannot be opened for writing, else 0. Windows NT lets a loaded
// DLL or a running program be renamed, though it can be neither deleted nor
// written: only this tells it from a file that may go.
DWORD InUseError(const std::string& path) {
  TFileHandle probe(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (probe) return 0;
  const DWORD code = GetLastError();
  return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ? code : 0;
}

// Takes the existing destination out of the way: a file of this run's own
// goes at once, any other is moved aside as a safety copy for the rollback.
// Returns 0 or the error code; safety is the copy's name, if one was made.
DWORD RemoveExisting(TInstallContext& ctx, TFileAttempt& a, std::string& safety) {
  if (const DWORD in_use = InUseError(a.Dest)) return in_use;
  if (ctx.Transaction.IsOwnFile(a.Dest)) {
    SetFileAttributesA(a.Dest.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(a.Dest.c_str()) ? 0 : GetLastError();
  }
  safety = ctx.Transaction.MoveAside(a.Dest, a.OriginalAttributes);
  return safety.empty() ? GetLastError() : 0;
}

// Puts the finished temporary file in the destination's place: the existing
// file is taken out of the way, or, when it is in use and the entry allows
// it, replaced at the next restart; then the temporary file is renamed.
void ReplaceWithNewFile(TInstallContext& ctx, TFileAttempt& a, uint8_t flags) {
  std::string safety;
  if (a.Existed) {
    a.Context = SCtxDeleteExisting;
    DWORD code;
    {
      TTimedPart timed(ctx.Clock, "safety copy");
      code = RemoveExisting(ctx, a, safety);
    }
    if (code != 0) {
      if ((flags & ffRestartReplace) && (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)) {
        a.Context = SCtxRestartReplace;
        ctx.Journal.NoteRestartReplace(a.TempName, a.Dest);
        ScheduleRestartReplace(a.TempName, a.Dest);
        a.RestartReplaced = true;
        a.TempCreated = false;  // it waits for the restart
      } else {
        SetLastError(code);
        RaiseLastIOError("deleting", a.Dest);
      }
    }
  }
  if (a.Direct) {
    a.TempCreated = false;
    a.TempName.clear();
    ctx.Transaction.NoteCreated(a.Dest);
  } else if (!a.RestartReplaced) {
    a.Context = SCtxRename;
    if (!a.Existed && !(flags & ffUninstallNeverRemove)) ctx.Journal.NoteNewFile(a.Dest);
    TTimedPart timed(ctx.Clock, "rename");
    if (!MoveFileA(a.TempName.c_str(), a.Dest.c_str())) {
      const DWORD code = GetLastError();
      // The old file goes straight back; the question that follows may
      // well be answered with Ignore.
      if (!safety.empty()) ctx.Transaction.PutBackLast();
      SetLastError(code);
      RaiseLastIOError("renaming", a.TempName);
    }
    a.TempCreated = false;
    a.TempName.clear();
    if (!a.Existed) ctx.Transaction.NoteCreated(a.Dest);
  }
}

// Writes the file under a temporary name beside the destination.
void CopyToTemporary(TInstallContext& ctx, TFileAttempt& a, const SetupFileEntry& entry,
                     const SetupFileLocationEntry& location) {
  std::string source_path;
  {
    TTimedPart timed(ctx.Clock, "find disk file");
    source_path = DataOffset != 0 ? ScriptFileName : FindDiskFile(ctx, location.FirstDisk());
  }

  // The temporary name is taken by creating the file (CREATE_NEW): one
  // system call both tests the name and takes it. A name that is taken goes
  // to the next; any other failure is the creation's error, unless the name
  // turns out to exist all the same (a folder of that name).
  a.Context = SCtxCreateTemp;
  TFileHandle temp;
  DWORD create_error = NO_ERROR;
  if (a.Direct) {
    temp = std::move(a.DirectHandle);
  } else {
    {
      TTimedPart timed(ctx.Clock, "create temporary");
      a.TempName = NewTempFileName(ExtractFilePath(FullPathName(a.Dest)), [&](const std::string& name) {
        temp.reset(ctx.Journal.CreateNew(name));
        if (temp) return false;
        create_error = GetLastError();
        return create_error == ERROR_FILE_EXISTS || create_error == ERROR_ALREADY_EXISTS ||
               FileOrDirExists(name);
      });
    }
    if (!temp) {
      SetLastError(create_error);
      RaiseLastIOError("creating", a.TempName);
    }
    // The journal names the temporary file once it is ours (a name tried
    // and found taken belongs to someone else) and before anything is
    // written.
    ctx.Journal.NoteTempFile(a.TempName);
    a.TempCreated = true;
  }

  // The disk data file stays open from one file to the next while the
  // files' data lie on it, its header checked once when it was opened. A
  // failed extraction closes it, so that a Retry opens and checks it again.
  a.Context = SCtxReadSource;
  std::unique_ptr<TFile> source;
  std::string source_now = source_path;  // the disk data file open at the end
  const bool checked = ctx.OpenDiskFile && ctx.OpenDiskPath == source_path;
  {
    TTimedPart timed(ctx.Clock, "open disk data file");
    if (checked) {
      source = std::move(ctx.OpenDiskFile);
    } else {
      ctx.OpenDiskFile.reset();
      source = std::make_unique<TWin32File>(source_path);
    }
  }

  a.Context = SCtxCopy;
  TWin32FileSink sink(temp.get(), a.TempName, ctx.Clock);
  a.Extracted = true;
  try {
    TTimedPart timed(ctx.Clock, "inflate and checksum");
    ExtractFileData(source, checked, DataOffset, entry, location, sink, ctx.Progress,
                    [&ctx, &source_now](int32_t disk) -> std::unique_ptr<TFile> {
                      source_now = FindDiskFile(ctx, disk);
                      return std::make_unique<TWin32File>(source_now);
                    },
                    ctx.Clock);
  } catch (...) {
    a.Extracted = false;
    throw;
  }
  ctx.OpenDiskFile = std::move(source);
  ctx.OpenDiskPath = source_now;
  FILETIME t;
  t.dwLowDateTime = entry.SourceTimeLow();
  t.dwHighDateTime = entry.SourceTimeHigh();
  {
    TTimedPart timed(ctx.Clock, "times");
    if (!SetFileTime(temp.get(), &t, nullptr, &t)) RaiseLastIOError("setting the time of", a.TempName);
  }
  TTimedPart timed(ctx.Clock, "close");
  temp.reset();
}

// The existence check of a destination that may be written in its place:
// creating it (CREATE_NEW) both finds that no file has the name and takes
// it, in one lookup. Only with a journal, which names the file before a
// byte is written (a killed run leaves no half file that nobody takes
// back), and never for a file kept at the uninstall or the uninstall data
// file. Any failure (the name exists, the folder is missing, the name is
// not valid) leaves the destination to the existence check and the
// temporary name, with their own errors.
bool TryCreateInPlace(TInstallContext& ctx, TFileAttempt& a, uint8_t flags) {
  if (!ctx.Journal.IsOpen() || (flags & (ffUninstallDataFile | ffUninstallNeverRemove))) return false;
  a.DirectHandle.reset(ctx.Journal.CreateNew(a.Dest));
  if (!a.DirectHandle) return false;
  a.TempName = a.Dest;
  a.TempCreated = true;  // from here a failure deletes it, also the journal's
  ctx.Journal.NoteNewFile(a.Dest);
  return true;
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
    {
      TTimedPart timed(ctx.Clock, "existence check");
      a.Dest = (flags & ffUninstallDataFile) ? UninstallFileName(ctx.UninstallFileTemplate, '0')
                                             : ExpandDirConstants(entry.DestName());
      a.Direct = TryCreateInPlace(ctx, a, flags);
      if (a.Direct) {
        a.Existed = false;
      } else {
        const DWORD found = GetFileAttributesA(a.Dest.c_str());  // as FileExists, in one call
        a.Existed = found != INVALID_FILE_ATTRIBUTES && !(found & FILE_ATTRIBUTE_DIRECTORY);
        if (a.Existed && a.OriginalAttributes == TReplacedFile::kAttributesUnchanged)
          a.OriginalAttributes = found;
      }
    }
    if (IsCommonControlsUpdate(a.Dest) && ctx.MarkCommonControlsUpdate) ctx.MarkCommonControlsUpdate();
    ctx.Progress.SetFileNameText(a.Dest);
    if (!a.Existed) break;

    if (mode == cmOnlyIfDoesntExist) {
      keep = true;
      break;
    }
    a.Context = SCtxReadExisting;
    uint32_t ms = 0, ls = 0;
    bool has_versions = false;
    if (mode != cmAlwaysOverwrite && static_cast<uint32_t>(entry.FileVersionMS()) != 0xFFFFFFFFu) {
      TTimedPart timed(ctx.Clock, "version check");
      has_versions = GetFileVersionNumbers(a.Dest, ms, ls);
    }
    if (has_versions) {
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
    DWORD attr;
    {
      TTimedPart timed(ctx.Clock, "attributes");
      attr = GetFileAttributesA(a.Dest.c_str());
    }
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY)) {
      const int answer = ShowMessageBoxStr(SReadOnlyQuestion, a.Dest, mbkWarning,
                                           MB_ABORTRETRYIGNORE | MB_DEFBUTTON2);
      if (answer == IDABORT) throw EAbort();
      if (answer == IDRETRY) {
        if (!a.AttributesRecorded) {
          ctx.Transaction.RecordAttributes(a.Dest, a.OriginalAttributes);
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
    TTimedPart timed(ctx.Clock, "log record");
    if (!(flags & (ffUninstallDataFile | ffUninstallNeverRemove | ffSharedFile)))
      ctx.Log.AppendStrings(ukDeleteFile, {a.Dest, a.TempName},
                            (a.Existed ? dfExistedBefore : 0) |
                                ((flags & ffRegisterServer) ? dfRegisteredServer : 0));
  }
  if ((flags & ffRegisterServer) && !a.RestartReplaced) {
    a.Context.clear();
    TTimedPart timed(ctx.Clock, "self-registration");
    RegisterServer(a.Dest);
  }
  if ((flags & ffSharedFile) && IsVersion4Shell()) {
    a.Context.clear();
    ctx.Journal.NoteSharedCount(a.Dest);
    TTimedPart timed(ctx.Clock, "shared count and log record");
    IncrementSharedCount(a.Dest, a.Existed);
    ctx.Log.AppendStrings(ukDeleteFile, {a.Dest, a.TempName},
                          dfSharedFile | ((flags & ffRegisterServer) ? dfRegisteredServer : 0));
  }
}

}  // namespace

void InstallFiles(TInstallContext& ctx) {
  ctx.CurrentDiskDir = SourceDir;
  // The disk data file kept open from file to file is closed when the step
  // ends, either way.
  struct TCloseDisk {
    TInstallContext& ctx;
    ~TCloseDisk() { ctx.OpenDiskFile.reset(); }
  } close_disk{ctx};
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
