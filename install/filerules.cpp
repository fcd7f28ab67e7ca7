#include "install/filerules.h"

#include <cctype>

#include "common/pathutil.h"
#include "common/strutil.h"

const char* const SCtxReadExisting = "An error occured while trying to read the existing file.";
const char* const SCtxChangeAttributes =
    "An error occured while trying to change the attributes of the existing file.";
const char* const SCtxCreateTemp =
    "An error occured while trying to create a file in the destination directory.";
const char* const SCtxReadSource = "An error occured while trying to read the source file.";
const char* const SCtxCopy = "An error occured while trying to copy a file.";
const char* const SCtxDeleteExisting = "An error occured while trying to delete the existing file.";
const char* const SCtxRestartReplace = "RestartReplace failed.";
const char* const SCtxRename =
    "An error occured while trying to rename a file in the destination directory.";

const char* const SExistingNewerQuestion =
    "Existing file is newer than the one Setup is trying to install. It is recommended that "
    "you keep the existing file.\r\n\r\nDo you want to keep the existing file?";
const char* const SOverwriteQuestionFmt =
    "%s\r\nThe file already exists.\r\n\r\nWould you like Setup to overwrite it?";
const char* const SReadOnlyQuestion =
    "The existing file is marked as read-only.\r\n\r\nClick Retry to remove the read-only "
    "setting and try again, Ignore to skip this file, or Abort to cancel installation.";

const char* const SSourceCorrupted = "The source file is corrupted";
const char* const SCreateFolderFailedFmt = "Setup was unable to create the Folder - %s";
const char* const SRegOpenFailedFmt = "Error opening registry key: %s";
const char* const SRegCreateFailedFmt = "Error creating registry key: %s";
const char* const SRegWriteFailedFmt = "Error writing to registry key: %s";
const char* const SMoveFileExFailedFmt = "MoveFileEx failed; code %d.";

const char* const SStatusCreatingFolders = "Creating Folders...";
const char* const SStatusCopying = "Copying Program files...";
const char* const SStatusIcons = "Creating Program icons...";
const char* const SStatusIni = "Creating INI entries...";
const char* const SStatusRegistry = "Creating registry entries...";
const char* const SStatusUninstall = "Creating Uninstall information...";

const char* const SUninstallKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string FileErrorQuestionText(const std::string& context, const std::string& error) {
  std::string text;
  if (!context.empty()) text = context + "\r\n\r\n";
  // The line breaks after the error text are as the installer has always
  // shown them: a CR LF, then two bare LFs.
  return text + error + "\r\n\n\n" +
         "Click Retry to try again, Ignore to skip this file (not recommended), or Abort to "
         "cancel installation.";
}

std::string RegisterServerQuestionText(const std::string& path, TRegisterStatus status,
                                       int32_t result) {
  std::string reason;
  switch (status) {
    case rsNotLoaded: reason = "LoadLibrary failed"; break;
    case rsLoaded: reason = "DllRegisterServer export not found"; break;
    default: reason = Format("DllRegisterServer returned %d", static_cast<int>(result)); break;
  }
  return Format("%s\r\nUnable to register the DLL/OCX. (%s)", path.c_str(), reason.c_str()) +
         "\r\n\r\n" +
         "Click Retry to try again, Ignore to proceed anyway (not recommended), or Abort to "
         "cancel installation.";
}

TExistingVerdict CompareWithExisting(uint32_t entry_ms, uint32_t entry_ls, uint32_t existing_ms,
                                     uint32_t existing_ls,
                                     const std::function<TTimeOrder()>& existing_time) {
  const uint64_t entry = (static_cast<uint64_t>(entry_ms) << 32) | entry_ls;
  const uint64_t existing = (static_cast<uint64_t>(existing_ms) << 32) | existing_ls;
  if (entry < existing) return TExistingVerdict::ExistingNewer;
  if (entry > existing) return TExistingVerdict::GoOn;
  switch (existing_time()) {
    case TTimeOrder::Equal: return TExistingVerdict::Keep;
    case TTimeOrder::ExistingLater: return TExistingVerdict::ExistingNewer;
    default: return TExistingVerdict::GoOn;
  }
}

uint32_t NextSharedCount(int64_t count, bool existed) {
  if (count < 0) count = 0;
  if (count == 0 && existed) count = 1;
  return static_cast<uint32_t>(count + 1);
}

bool IsCommonControlsUpdate(const std::string& path) {
  const size_t cut = path.find_last_of("\\:");
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name.find("40comupd.exe") != std::string::npos;
}

namespace {

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool IsSectionHeader(const std::string& line) {
  const std::string t = TrimBlanks(line);
  return !t.empty() && t[0] == '[';
}

bool IsRenameHeader(const std::string& line) {
  static const char kRename[] = "[rename]";
  if (line.size() != sizeof kRename - 1) return false;
  for (size_t i = 0; i < line.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != kRename[i]) return false;
  return true;
}

}  // namespace

std::vector<std::string> AddWininitRename(const std::vector<std::string>* old_lines,
                                          const std::string& entry) {
  std::vector<std::string> out;
  bool in_rename = false, seen_rename = false;
  size_t i = 0;
  std::string held;
  bool have_held = false;
  if (old_lines) {
    for (; i < old_lines->size(); ++i) {
      const std::string& line = (*old_lines)[i];
      if (IsSectionHeader(line)) {
        if (in_rename) {
          held = line;
          have_held = true;
          ++i;
          break;
        }
        if (IsRenameHeader(line)) in_rename = seen_rename = true;
      }
      out.push_back(line);
    }
  }
  if (!seen_rename) out.push_back("[rename]");
  out.push_back(entry);
  if (old_lines) {
    if (have_held) out.push_back(held);
    for (; i < old_lines->size(); ++i) out.push_back((*old_lines)[i]);
  }
  return out;
}

std::vector<std::string> RemoveWininitRenames(const std::vector<std::string>& lines, const std::string& source) {
  auto upper = [](std::string t) {
    for (char& c : t)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return t;
  };
  const std::string want = upper(Trim(source));
  std::vector<std::string> out;
  bool in_rename = false;
  for (const std::string& line : lines) {
    if (IsSectionHeader(line)) in_rename = IsRenameHeader(line);
    const size_t eq = line.find('=');
    if (in_rename && eq != std::string::npos && upper(Trim(line.substr(eq + 1))) == want) continue;
    out.push_back(line);
  }
  return out;
}

std::string UninstallFileTemplate(const std::string& app_dir, int n) {
  return EnsureTrailingBackslash(app_dir) + "UNINST%s." + Format("%.3d", n);
}

std::string UninstallFileName(const std::string& file_template, char c) {
  std::string s = file_template;
  // The last "%s": the directory part may hold one of its own.
  const size_t at = s.rfind("%s");
  if (at != std::string::npos) s.replace(at, 2, std::string(1, c));
  return s;
}

std::string UninstallKeyName(const std::string& app_version_name, int n) {
  return Format("%s_qv%d", app_version_name.c_str(), n);
}

std::string UninstallCommandLine(const std::string& win_dir, const std::string& file_template) {
  return Format("\"%s\" /U \"%s\" \"%s\"", (EnsureTrailingBackslash(win_dir) + "Uninstal.exe").c_str(),
                UninstallFileName(file_template, '0').c_str(),
                UninstallFileName(file_template, '1').c_str());
}
