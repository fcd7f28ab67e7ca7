#include "main/globals.h"

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
