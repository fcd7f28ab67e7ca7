// The test side of the installation test host (installhost.exe): writing a
// distribution made with the script writer, starting the host on it,
// answering its questions, and reading back what it left on the machine.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/testdata.h"
#include "tools/scriptwriter/scriptwriter.h"
#include "uidriver.h"

namespace qvhost {

constexpr DWORD kBoxWait = 30000;
constexpr DWORD kExitWait = 60000;

// QV_TEST_TMP_WIN with a trailing backslash.
std::string TestTmp();

// Creates dir and its parents.
void MakeDirs(const std::string& dir);

// Writes SETUP.0 and the disk data files into dir (disk n goes into
// disk_dirs[n] when given there, else into dir); the single-file layout
// into dir\file_name. Returns the build result.
sw::BuildResult WriteDistribution(const sw::ScriptBuilder& b, const sw::BuildOptions& o,
                                  const std::string& dir,
                                  const std::vector<std::string>& disk_dirs = {},
                                  const std::string& file_name = "SETUP.BIN");

// A FILETIME as (low, high) from a calendar date (UTC).
void FileTimeOf(int year, int month, int day, uint32_t& low, uint32_t& high);

// Contents of n bytes: noise and runs, different per seed.
using testdata::Mixed;

// A running installhost.exe.
class Host {
 public:
  // args after the program name; cwd: the host's working directory (the
  // pause files lie there), created when missing.
  Host(const std::string& args, const std::string& cwd);
  const qvui::UiProcess& Process() const { return proc_; }
  // Waits for the next box with this caption, checks its text (when not
  // empty) and, when shown_file is given, that the install window's file
  // name label shows it under the box; answers it. Returns what the box
  // showed.
  qvui::MessageBoxInfo Answer(const std::string& caption, const std::string& text,
                              const std::string& button, const char* shown_file = nullptr);
  // The install window's file name label and its bar (position and range
  // as the control holds them).
  std::string ShownFileName();
  std::pair<LRESULT, LRESULT> BarPositionAndRange();
  // Waits for the pause file and returns its line (status|file).
  std::string WaitPaused();
  // Clicks the install window's Cancel and confirms with Yes, then resumes.
  void CancelWhilePaused();
  void Resume();
  DWORD ExitCode();

 private:
  std::string cwd_;
  qvui::UiProcess proc_;
};

// Facts of a file on the machine.
struct FileFacts {
  bool exists = false;
  std::string bytes;
  FILETIME created{}, written{};
  DWORD attributes = 0;
};
FileFacts ReadFacts(const std::string& path);
bool SameTime(const FILETIME& t, uint32_t low, uint32_t high);

// A registry value: its type and bytes; exists false when missing.
struct RegValue {
  bool exists = false;
  DWORD type = 0;
  std::string data;
};
RegValue ReadRegValue(HKEY root, const std::string& key, const std::string& name);
bool RegKeyExists(HKEY root, const std::string& key);

// One record of an uninstall log file.
struct LogRecord {
  uint8_t kind = 0;
  uint32_t param = 0;
  std::vector<std::string> strings;
  bool operator==(const LogRecord& o) const {
    return kind == o.kind && param == o.param && strings == o.strings;
  }
};
struct UninstallLog {
  bool valid = false;  // the project's reader accepted the whole file
  std::string app_name;
  uint8_t admin = 0;
  std::vector<LogRecord> records;
};
UninstallLog ReadUninstallLog(const std::string& path);
std::string Describe(const LogRecord& r);

// Names of the files in dir matching pattern (e.g. "qv*.tmp").
std::vector<std::string> FilesMatching(const std::string& dir, const std::string& pattern);

}  // namespace qvhost
