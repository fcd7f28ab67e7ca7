#include "run/globals.h"

#include "common/strutil.h"

bool ScriptSwitch = false;
std::string ScriptFileName;
int32_t ScriptOffset = 0;
int32_t DataOffset = 0;
std::string SourceDir;
SetupScript Script;
bool NeedsRestart = false;
bool IconsNeeded = false;
uint32_t TotalFileSize = 0;
bool RestartRequested = false;
std::string WinDir;
std::string SystemDir;
std::string ProgramFilesDir;
bool IsAdmin = false;
std::string AppDir;
std::string GroupName;
bool NoIcons = false;
std::string ReadmeFile;

TCommandLine ParseSetupCommandLine(const std::string& program_path, int argc,
                                   const char* const* args) {
  TCommandLine cl;
  if (argc == 4 && std::string(args[0]) == "/SL") {
    cl.ScriptSwitch = true;
    cl.ScriptFileName = args[1];
    cl.SourceDir = ExtractFilePath(cl.ScriptFileName);
    cl.ScriptOffset = StrToInt(args[2]);
    cl.DataOffset = StrToInt(args[3]);
  } else {
    cl.SourceDir = ExtractFilePath(program_path);
  }
  return cl;
}

std::string SourceDirFrom(const std::string& dir) {
  if (dir.size() >= 2 && dir.back() == '\\' && dir[dir.size() - 2] != ':')
    return dir.substr(0, dir.size() - 1);
  return dir;
}

TRunningVersion JudgeRunningVersion(bool version_ex_ok, uint32_t platform_id, uint32_t version) {
  TRunningVersion r;
  r.Major = static_cast<uint8_t>(version & 0xFF);
  r.Minor = static_cast<uint8_t>((version >> 8) & 0xFF);
  if (version_ex_ok) {
    r.IsNT = platform_id == 2;
    r.IsWin32s = platform_id == 0;
  } else {
    bool not_nt = (version & 0x80000000u) != 0;
    r.IsNT = !not_nt;
    r.IsWin32s = not_nt && r.Major < 4;
  }
  return r;
}
