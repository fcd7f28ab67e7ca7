#include "install/directories.h"

#include <windows.h>

#include <functional>
#include <vector>

#include "common/exceptions.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "install/filerules.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "undo/undolog.h"

void CreateDirectoryTree(const std::string& path, const std::function<void(const std::string&)>& created) {
  const std::string p = StripTrailingBackslash(path);
  if (p.size() <= 2 || FolderExists(p)) return;
  const std::string parent = ExtractFilePath(p);
  if (parent == p) return;
  CreateDirectoryTree(parent, created);
  if (!CreateDirectoryA(p.c_str(), nullptr)) throw Exception(Format(SCreateFolderFailedFmt, p.c_str()));
  if (created) created(p);
}

namespace {

// Creates path and records it for removal, after every folder made on the
// way to it (outermost first, so that the replay removes the deepest
// first). A folder that was there already is not the installation's. The
// journal names each folder before it is made.
void CreateRecordedDirectory(TInstallContext& ctx, const std::string& path) {
  const std::string own = StripTrailingBackslash(path);
  std::vector<std::string> missing;  // innermost first
  for (std::string p = own; p.size() > 2 && !FolderExists(p);) {
    missing.push_back(p);
    const std::string parent = ExtractFilePath(p);
    if (parent == p) break;
    p = StripTrailingBackslash(parent);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (*it == own) break;
    ctx.Journal.Intend(ukRemoveDir, {*it}, 0);
    CreateDirectoryTree(*it);
    ctx.Log.AppendStrings(ukRemoveDir, {*it}, 0);
  }
  ctx.Journal.Intend(ukRemoveDir, {path}, 0);
  CreateDirectoryTree(path);
  ctx.Log.AppendStrings(ukRemoveDir, {path}, 0);
}

}  // namespace

void CreateDirectories(TInstallContext& ctx) {
  CreateRecordedDirectory(ctx, AppDir);
  for (const SetupDirEntry& d : Script.DirEntries) CreateRecordedDirectory(ctx, ExpandDirConstants(d.DirName()));
}
