#include "main/startup.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/strutil.h"
#include "common/win32file.h"
#include "main/globals.h"
#include "main/systemfacts.h"
#include "setupdata/zlibblock.h"

void StartupFail(const char* message) {
  // No window exists yet: the box has no owner; mbkStop gives the stop icon
  // and the caption "Error".
  ShowMessageBoxStr(message, "", mbkStop, MB_OK);
  throw EAbort();
}

namespace {

std::string ProgramPath() {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return std::string(buf, n < sizeof buf ? n : 0);
}

bool FileExistsA(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

struct TRunningVersion {
  bool is_nt;
  bool is_win32s;
  uint8_t major;
  uint8_t minor;
};

TRunningVersion RunningVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  // The low 16 bits of the version number: major in the low byte, minor in
  // the high byte.
  DWORD v = GetVersion();
  return TRunningVersion{info.dwPlatformId == VER_PLATFORM_WIN32_NT,
                         info.dwPlatformId == VER_PLATFORM_WIN32s,
                         static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>((v >> 8) & 0xFF)};
}

}  // namespace

void Startup() {
  const TRunningVersion running = RunningVersion();
  if (running.is_win32s) StartupFail(SWin32sNotSupported);

  // The temporary names start from a random number.
  std::srand(static_cast<unsigned>(std::time(nullptr)) ^ GetTickCount());

  const std::string program_path = ProgramPath();
  TCommandLine cl = ParseSetupCommandLine(program_path, __argc > 0 ? __argc - 1 : 0,
                                          __argc > 0 ? __argv + 1 : __argv);
  ScriptSwitch = cl.ScriptSwitch;
  ScriptFileName = cl.ScriptFileName;
  ScriptOffset = cl.ScriptOffset;
  DataOffset = cl.DataOffset;
  SourceDir = SourceDirFrom(cl.SourceDir);

  std::string script_path;
  if (ScriptSwitch) {
    script_path = ScriptFileName;
  } else {
    script_path = ExtractFilePath(program_path) + "SETUP.0";
    if (!FileExistsA(script_path)) StartupFail(SScriptNotFound);
  }

  {
    TWin32File file(script_path);  // closed on every path
    try {
      LoadSetupScript(file, ScriptOffset, Script, [&](const SetupHeader& header) {
        std::string refusal =
            CheckWindowsVersion(header, running.is_nt, running.major, running.minor);
        if (!refusal.empty()) StartupFail(refusal.c_str());
      });
    } catch (const EScriptIDMismatch&) {
      StartupFail(SScriptIDMismatch);
    } catch (const EZlibDataError&) {
      StartupFail(SScriptCorrupted);
    }
  }

  NeedsRestart = (Script.Header.Flags() & hfAlwaysRestart) != 0;
  IconsNeeded = Script.IconsNeeded();
  TotalFileSize = Script.TotalFileSize();

  GatherSystemFacts();
}
