// The program icon step: the program group and one item per icon entry,
// as a folder of shell links below the Start Menu Programs folder on the
// version-4 shell, or as a Program Manager group through DDE before it.
// Every group, folder and item is recorded for removal.
#include "install/icons.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "common/exceptions.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "dde/dde.h"
#include "dde/progman.h"
#include "install/entryrules.h"
#include "install/filerules.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "undo/undolog.h"

namespace {

constexpr uint32_t kIconProgress = 1000;

std::wstring Widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], n);
  w.resize(w.size() - 1);
  return w;
}

// Writes one shell link; false when it could not be saved. The link
// object's setters are not checked. A link that cannot be saved (its name
// holds a character that file names cannot) is no reason to take the whole
// installation back: the caller leaves it out, and out of the log.
bool CreateShellLink(const std::string& link_file, const std::string& description,
                     const std::string& target, const std::string& parameters,
                     const std::string& working_dir, const std::string& icon_file,
                     int32_t icon_index) {
  TComPtr<IShellLinkA> link;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                link.put_void());
  if (FAILED(hr) || !link)
    throw Exception(Format("Unable to create the shell link object (code: %d)",
                           static_cast<int>(hr)));
  link->SetPath(target.c_str());
  link->SetArguments(parameters.c_str());
  if (!working_dir.empty()) link->SetWorkingDirectory(working_dir.c_str());
  if (!icon_file.empty()) link->SetIconLocation(icon_file.c_str(), icon_index);
  link->SetDescription(description.c_str());

  TComPtr<IPersistFile> file;
  hr = link->QueryInterface(IID_IPersistFile, file.put_void());
  if (FAILED(hr) || !file)
    throw Exception(Format("Unable to obtain the shell link's file interface (code: %d)",
                           static_cast<int>(hr)));
  return SUCCEEDED(file->Save(Widen(link_file).c_str(), TRUE)) && FileOrDirExists(link_file);
}

// One icon entry with its texts expanded.
struct TIconTexts {
  std::string Name, FileName, Parameters, WorkingDir, IconFile;
  int32_t IconIndex;
};

TIconTexts Expanded(const SetupIconEntry& e) {
  return {ExpandDirConstants(e.IconName()),   ExpandDirConstants(e.FileName()),
          ExpandDirConstants(e.Parameters()), ExpandDirConstants(e.WorkingDir()),
          ExpandDirConstants(e.IconFile()),   e.IconIndex()};
}

// The shell case: the group folder below the Programs folder.
void CreateShellIcons(TInstallContext& ctx, const std::string& programs) {
  ctx.Log.AppendStrings(ukShellNotify, {programs}, SHCNE_UPDATEDIR);
  const std::string group_folder = EnsureTrailingBackslash(programs) + GroupName;
  TComInit com;
  try {
    // A group must be a folder of its own: without a name the Programs
    // folder itself would be recorded, and taken away with the group.
    if (GroupName.find_first_not_of('\\') == std::string::npos)
      throw Exception(Format(SCreateFolderFailedFmt, group_folder.c_str()));
    ctx.Journal.Intend(ukRemoveDir, {group_folder}, 1);
    if (!FolderExists(group_folder)) {
      // One level only: a group whose parent folder is missing fails.
      if (!CreateDirectoryA(group_folder.c_str(), nullptr))
        throw Exception(Format(SCreateFolderFailedFmt, group_folder.c_str()));
      ShellChangeNotify(SHCNE_MKDIR, SHCNF_PATHA, group_folder);
    }
    ctx.Log.AppendStrings(ukRemoveDir, {group_folder}, 1);

    for (const SetupIconEntry& e : Script.IconEntries) {
      const TIconTexts t = Expanded(e);
      const std::string link_file = ShellLinkFileName(group_folder, t.Name);
      ctx.Journal.Intend(ukDeleteFile, {link_file}, dfNotifyShell);
      if (CreateShellLink(link_file, t.Name, t.FileName, t.Parameters, t.WorkingDir, t.IconFile,
                          t.IconIndex)) {
        ShellChangeNotify(SHCNE_CREATE, SHCNF_PATHA, link_file);
        ctx.Log.AppendStrings(ukDeleteFile, {link_file}, dfNotifyShell);
      }
      ctx.Progress.AddProgress(kIconProgress);
    }
  } catch (...) {
    ShellChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA | SHCNF_FLUSH, programs);
    throw;
  }
  ShellChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA | SHCNF_FLUSH, programs);
}

// The Program Manager case: the group and its items through DDE.
void CreateProgmanIcons(TInstallContext& ctx, TDDE& dde) {
  TDDEStringHandle service(dde, ProgmanService);
  TDDEConversation conv(dde, service.get(), service.get());
  if (!ProgmanItemTextsSafe(GroupName, "", {}))
    throw Exception(Format(SUnableToCreateIcon, GroupName.c_str()));
  ctx.Journal.Intend(ukProgmanEntry, {GroupName, ""}, 0);
  dde.Execute(conv.get(), ProgmanCreateGroupCommand(GroupName), false);
  dde.Execute(conv.get(), ProgmanShowGroupCommand(GroupName), false);
  ctx.Log.AppendStrings(ukProgmanEntry, {GroupName, ""}, 0);

  for (const SetupIconEntry& e : Script.IconEntries) {
    const TIconTexts t = Expanded(e);
    const std::string command = QuoteIfHasSpace(t.FileName);
    const std::string working_dir = QuoteIfHasSpace(t.WorkingDir);
    // The names go between double quotes and ']' ends a command: texts
    // that would change what Program Manager is told are refused.
    if (!ProgmanItemTextsSafe(GroupName, t.Name, {command, t.Parameters, t.IconFile, working_dir}))
      throw Exception(Format(SUnableToCreateIcon, t.Name.c_str()));
    // An item of that name, if any, gives its place to the next one added.
    ctx.Journal.Intend(ukProgmanEntry, {GroupName, t.Name}, 0);
    dde.Execute(conv.get(), ProgmanReplaceItemCommand(t.Name), true);
    dde.Execute(conv.get(),
                ProgmanAddItemCommand(command, t.Parameters, t.Name, t.IconFile, t.IconIndex,
                                      working_dir),
                false);
    ctx.Log.AppendStrings(ukProgmanEntry, {GroupName, t.Name}, 0);
    ctx.Progress.AddProgress(kIconProgress);
  }
}

}  // namespace

void CreateProgramIcons(TInstallContext& ctx) {
  const std::string programs = GetProgramsFolder(IsAdmin, false);
  TDDE dde;
  if (!programs.empty())
    CreateShellIcons(ctx, programs);
  else
    CreateProgmanIcons(ctx, dde);
}
