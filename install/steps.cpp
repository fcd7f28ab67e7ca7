// The installation driver's sequence and its own steps: directories and the
// uninstall-delete records.
#include "install/steps.h"

#include <windows.h>

#include "common/exceptions.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "install/filerules.h"
#include "install/installfiles.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "undo/undolog.h"

void CreateDirectoryTree(const std::string& path) {
  const std::string p = StripTrailingBackslash(path);
  if (p.size() <= 2 || FolderExists(p)) return;
  const std::string parent = ExtractFilePath(p);
  if (parent == p) return;
  CreateDirectoryTree(parent);
  if (!CreateDirectoryA(p.c_str(), nullptr)) throw Exception(Format(SCreateFolderFailedFmt, p.c_str()));
}

void CreateDirectories(TInstallContext& ctx) {
  CreateDirectoryTree(AppDir);
  ctx.Log.AppendStrings(ukRemoveDir, {AppDir}, 0);
  for (const SetupDirEntry& d : Script.DirEntries) {
    const std::string path = ExpandDirConstants(d.DirName());
    CreateDirectoryTree(path);
    ctx.Log.AppendStrings(ukRemoveDir, {path}, 0);
  }
}

void RecordUninstallDeletes(TInstallContext& ctx) {
  for (const SetupUninstallDeleteEntry& u : Script.UninstallDeleteEntries)
    ctx.Log.AppendStrings(ukDeleteFile, {ExpandDirConstants(u.DeletePath()), ""}, dfUninstallOnly);
}

void RunInstallationSteps(TInstallContext& ctx) {
  TInstallProgress& p = ctx.Progress;
  const SetupHeader& h = Script.Header;
  const bool uninstallable = (h.Flags() & hfUninstallable) != 0;

  p.SetStatusText(SStatusCreatingFolders);
  CreateDirectories(ctx);
  if (uninstallable) {
    ReserveUninstallFiles(ctx);
    RegisterUninstaller(ctx);
  }

  p.SetStatusText(SStatusCopying);
  InstallFiles(ctx);
  p.SetFileNameText("");
  p.CheckCancel();

  if (!ctx.NoIconsChecked && IconsNeeded) {
    p.SetStatusText(SStatusIcons);
    CreateProgramIcons(ctx);
  }
  p.CheckCancel();
  if (h.IniEntryCount() != 0) {
    p.SetStatusText(SStatusIni);
    CreateIniEntries(ctx);
  }
  p.CheckCancel();
  if (h.RegistryEntryCount() != 0) {
    p.SetStatusText(SStatusRegistry);
    CreateRegistryEntries(ctx);
  }
  p.CheckCancel();
  RecordUninstallDeletes(ctx);
  p.CheckCancel();

  if (uninstallable) {
    p.SetStatusText(SStatusUninstall);
    ctx.Log.WriteLogFile(UninstallFileName(ctx.UninstallFileTemplate, '1'));
  }
  // Nothing can be taken back from here on: the replaced files' safety
  // copies go.
  DeleteSafetyCopies(ctx);
  ctx.Log.DiscardAll();
}
