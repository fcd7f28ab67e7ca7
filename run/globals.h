// The global setup state: written by startup, read everywhere for the rest
// of the run. Portable: no <windows.h>.
#pragma once
#include <cstdint>
#include <string>

#include "setupdata/script.h"

// Command line and script location.
extern bool ScriptSwitch;
extern std::string ScriptFileName;
extern int32_t ScriptOffset;
extern int32_t DataOffset;
extern std::string SourceDir;

// The setup script: header, texts and the eight entry lists.
extern SetupScript Script;

extern bool NeedsRestart;
extern bool IconsNeeded;
extern uint32_t TotalFileSize;
extern bool RestartRequested;

// System facts, filled in by the last step of startup.
extern std::string WinDir;
extern std::string SystemDir;
extern std::string ProgramFilesDir;
extern bool IsAdmin;

// Wizard choices, copied by the background window when the wizard is done.
extern std::string AppDir;
extern std::string GroupName;
extern bool NoIcons;
extern std::string ReadmeFile;

// The command line as startup sees it.
struct TCommandLine {
  bool ScriptSwitch = false;
  std::string ScriptFileName;
  int32_t ScriptOffset = 0;
  int32_t DataOffset = 0;
  std::string SourceDir;  // before the trailing backslash is removed
};

// args are the arguments after the program name. Exactly four arguments
// whose first is "/SL" (case-sensitive) select the script switch; anything
// else is ignored and the source directory is the program's own. Raises
// EConvertError for a /SL offset that is not a decimal integer.
TCommandLine ParseSetupCommandLine(const std::string& program_path, int argc,
                                   const char* const* args);

// The source directory without its trailing backslash, unless it is shorter
// than two characters or the backslash follows a colon (a drive root).
std::string SourceDirFrom(const std::string& dir);

// The running platform as startup judges it.
struct TRunningVersion {
  bool IsNT = false;
  bool IsWin32s = false;
  uint8_t Major = 0;
  uint8_t Minor = 0;
};

// From GetVersionExA's answer (version_ex_ok false when the call failed;
// platform_id its dwPlatformId: 0 Win32s, 1 the Windows 95 family, 2 NT) and
// GetVersion's result: major version in the low byte, minor in the next,
// bit 31 set outside NT. When GetVersionExA fails, its zeroed platform id
// says nothing; the platform is then told from GetVersion alone (Win32s
// reports bit 31 with a major version below 4).
TRunningVersion JudgeRunningVersion(bool version_ex_ok, uint32_t platform_id, uint32_t version);
