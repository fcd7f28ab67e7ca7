#include "install/directories.h"

#include <windows.h>

#include "common/exceptions.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "install/filerules.h"
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
  ctx.Journal.Intend(ukRemoveDir, {AppDir}, 0);
  CreateDirectoryTree(AppDir);
  ctx.Log.AppendStrings(ukRemoveDir, {AppDir}, 0);
  for (const SetupDirEntry& d : Script.DirEntries) {
    const std::string path = ExpandDirConstants(d.DirName());
    ctx.Journal.Intend(ukRemoveDir, {path}, 0);
    CreateDirectoryTree(path);
    ctx.Log.AppendStrings(ukRemoveDir, {path}, 0);
  }
}
