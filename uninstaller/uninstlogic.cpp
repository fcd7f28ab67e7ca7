#include "uninstaller/uninstlogic.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "common/pathutil.h"
#include "common/strutil.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// A quoted argument at pos (which must be a double quote); pos ends after
// the closing quote. False when there is no closing quote or it is empty.
bool Quoted(const std::string& s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  const size_t close = s.find('"', pos + 1);
  if (close == std::string::npos || close == pos + 1) return false;
  out = s.substr(pos + 1, close - pos - 1);
  pos = close + 1;
  return true;
}

// Splits "<dir>\UNINSTd.nnn" into dir and nnn; false for another name.
bool SplitUninstallName(const std::string& path, char digit, std::string& dir, std::string& number) {
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return false;
  const std::string name = Upper(path.substr(slash + 1));
  if (name.size() != 11 || name.compare(0, 6, "UNINST") != 0 || name[6] != digit || name[7] != '.')
    return false;
  for (int i = 8; i < 11; ++i)
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  dir = path.substr(0, slash);
  number = name.substr(8);
  return true;
}

}  // namespace

bool ParseUninstallCommandLine(const std::string& cmdline, TUninstallCommand& out) {
  size_t pos = 0;
  // The program itself: quoted, or up to the first blank.
  if (!cmdline.empty() && cmdline[0] == '"') {
    std::string program;
    if (!Quoted(cmdline, pos, program)) return false;
  } else {
    pos = cmdline.find(' ');
    if (pos == std::string::npos) return false;
  }
  if (cmdline.compare(pos, 4, " /U ") != 0 && cmdline.compare(pos, 4, " /u ") != 0) return false;
  pos += 4;
  std::string data, log;
  if (!Quoted(cmdline, pos, data)) return false;
  if (pos >= cmdline.size() || cmdline[pos] != ' ') return false;
  ++pos;
  if (!Quoted(cmdline, pos, log)) return false;
  // Nothing may follow but trailing blanks (some shells add one).
  if (cmdline.find_first_not_of(' ', pos) != std::string::npos) return false;

  std::string dataDir, dataNumber, logDir, logNumber;
  if (!IsFullPath(data) || !IsFullPath(log) || !SplitUninstallName(data, '0', dataDir, dataNumber) ||
      !SplitUninstallName(log, '1', logDir, logNumber) || Upper(dataDir) != Upper(logDir) ||
      dataNumber != logNumber)
    return false;
  out.DataFile = data;
  out.LogFile = log;
  out.AppDir = logDir.size() == 2 ? logDir + "\\" : logDir;  // "C:" is the root "C:\"
  return true;
}

std::vector<std::string> FoldersOnTheWay(const TUndoChanges& log, const std::string& appDir) {
  // Full paths compared, "." and ".." resolved: "C:\App\..\Shared" is not
  // below "C:\App".
  const std::string base = Upper(EnsureTrailingBackslash(ResolveDotParts(appDir)));
  std::set<std::string> seen;
  std::vector<std::string> folders;
  auto below = [&](const std::string& p) {
    return p.size() >= base.size() && Upper(p.substr(0, base.size())) == base;
  };
  for (const UndoRecord* r = log.First(); r; r = r->Next) {
    if (r->Kind != ukDeleteFile && r->Kind != ukRemoveDir) continue;
    std::string path = ResolveDotParts(r->String(0));
    while (!path.empty() && path.back() == '\\') path.pop_back();
    // A recorded folder counts itself (the replay leaves it when a folder
    // made on the way into it was still there); a file counts its folder.
    if (r->Kind == ukDeleteFile) {
      const size_t slash = path.rfind('\\');
      path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    while (below(path)) {
      if (seen.insert(Upper(path)).second) folders.push_back(path);
      const size_t slash = path.rfind('\\');
      if (slash == std::string::npos) break;
      path = path.substr(0, slash);
    }
  }
  // Deepest first: more backslashes first, then the order found.
  std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '\\') > std::count(b.begin(), b.end(), '\\');
  });
  return folders;
}

bool IsOwnApplicationFolder(const std::string& appDir, const std::string& windowsDir,
                            const std::string& systemDir) {
  auto norm = [](std::string p) {
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return Upper(p);
  };
  const std::string app = norm(ResolveDotParts(appDir));
  // "C:" (a drive root) or "\\server\share" (a share's root).
  if (app.size() <= 2) return false;
  if (app.compare(0, 2, "\\\\") == 0 && std::count(app.begin(), app.end(), '\\') <= 3) return false;
  return app != norm(ResolveDotParts(windowsDir)) && app != norm(ResolveDotParts(systemDir));
}

const char* const kUninstallCaption = "Uninstall";

std::string BadCommandLineText() {
  return "Uninstal.exe was started with a command line it cannot use.\r\n\r\n"
         "It removes an installed application and expects the command line that the "
         "installation registered:\r\n\r\n"
         "Uninstal.exe /U \"<folder>\\UNINST0.nnn\" \"<folder>\\UNINST1.nnn\"\r\n\r\n"
         "Start it from the list of installed programs. Nothing was removed.";
}

std::string LogMissingText(const std::string& logFile) {
  return "The uninstall log file was not found:\r\n\r\n" + logFile +
         "\r\n\r\nThe application may already have been removed. Nothing was removed.";
}

std::string LogUnreadableText(const std::string& logFile, const std::string& error) {
  return "The uninstall log file could not be read:\r\n\r\n" + logFile + "\r\n\r\n" + error +
         "\r\n\r\nNothing was removed.";
}

std::string LogInUseText(const std::string& logFile) {
  return "The uninstall log file is in use:\r\n\r\n" + logFile +
         "\r\n\r\nThe application is being removed already, or another program holds the file. "
         "Nothing was removed.";
}

std::string LogDamagedText(const std::string& logFile, const EUndoLogError& e) {
  const char* what = e.Kind() == EUndoLogError::kNotALog ? "is not an uninstall log"
                     : e.Kind() == EUndoLogError::kTruncated ? "is incomplete"
                                                              : "is damaged";
  return "The uninstall log file " + std::string(what) + ":\r\n\r\n" + logFile + "\r\n\r\n" +
         "(" + e.Message() + ")\r\n\r\nNothing was removed.";
}

std::string AppNameForTexts(const std::string& logName, const std::string& appDir) {
  if (!logName.empty()) return logName;
  std::string dir = appDir;
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  const size_t slash = dir.find_last_of("\\:");
  const std::string last = slash == std::string::npos ? dir : dir.substr(slash + 1);
  return last.empty() ? appDir : last;
}

std::string NotAdministratorText(const std::string& appName) {
  return appName + " was installed by a user with administrative rights, and only such a user can "
                   "remove it: it changed files and settings that belong to the whole computer.\r\n\r\n"
                   "Log on as an administrator and start the removal again. Nothing was removed.";
}

std::string ConfirmText(const std::string& appName) {
  return "Remove " + appName + " from this computer?\r\n\r\n"
         "This takes away its files, program icons and settings.";
}

std::string RemovingText(const std::string& appName) { return "Removing " + appName + "..."; }

namespace {

// One item a line, at most 20 of them.
std::string ItemList(const std::vector<std::string>& items) {
  std::string text;
  const size_t shown = items.size() > 20 ? 20 : items.size();
  for (size_t i = 0; i < shown; ++i) text += (i ? "\r\n" : "") + items[i];
  if (items.size() > shown)
    text += Format("\r\nand %lu more", static_cast<unsigned long>(items.size() - shown));
  return text;
}

}  // namespace

bool IsUninstallRegistration(uint8_t kind, uint32_t param, const std::string& subkey) {
  static const std::string kBase = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\";
  return kind == ukRegKeyTree && param == 0x80000002u && subkey.size() > kBase.size() &&
         Upper(subkey.substr(0, kBase.size())) == kBase;
}

std::string OutcomeText(const std::string& appName, const TRemovalOutcome& o) {
  std::string text = appName + (o.NotRemoved.empty() && o.LogError.empty() ? " was removed from this computer."
                                                                           : " was not removed completely.");
  if (!o.AtRestart.empty())
    text += "\r\n\r\nThese items are in use and will be removed when Windows restarts:\r\n\r\n" +
            ItemList(o.AtRestart);
  if (!o.EmptyAfterRestart.empty())
    text += "\r\n\r\nThese folders will be empty after the restart; you can remove them then:\r\n\r\n" +
            ItemList(o.EmptyAfterRestart);
  if (!o.NotRemoved.empty())
    text += "\r\n\r\nThese items could not be removed:\r\n\r\n" + ItemList(o.NotRemoved) +
            "\r\n\r\nIt stays in the list of installed programs: close the programs that may use "
            "them, then start the removal from there again.";
  if (!o.Stay.empty())
    text += "\r\n\r\nThese folders stay, as they hold files that were not installed with it; you can "
            "remove them yourself:\r\n\r\n" + ItemList(o.Stay);
  if (!o.LogError.empty()) text += "\r\n\r\nThe uninstall log could not be written again: " + o.LogError;
  return text;
}
