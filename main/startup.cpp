#include "main/startup.h"

#include <windows.h>

#include <cstdlib>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "install/journalfile.h"
#include "main/systemfacts.h"
#include "run/globals.h"
#include "setupdata/win32file.h"
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


TRunningVersion RunningVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  bool ok = GetVersionExA(&info) != FALSE;
  return JudgeRunningVersion(ok, info.dwPlatformId, GetVersion());
}

}  // namespace

void Startup() {
  const TRunningVersion running = RunningVersion();
  if (running.IsWin32s) StartupFail(SWin32sNotSupported);

  // The temporary names start from a random number.
  SYSTEMTIME now;
  GetSystemTime(&now);
  const unsigned clock = ((now.wDay * 24u + now.wHour) * 60u + now.wMinute) * 60000u +
                         now.wSecond * 1000u + now.wMilliseconds;
  std::srand(clock ^ GetTickCount());

  // An installation that was killed is taken back before anything else.
  WinDir = QueryWindowsDir();
  RecoverInterruptedInstallations();

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
    if (!FileExists(script_path)) StartupFail(SScriptNotFound);
  }

  {
    TWin32File file(script_path);  // closed on every path
    try {
      LoadSetupScript(file, ScriptOffset, Script, [&](const SetupHeader& header) {
        std::string refusal =
            CheckWindowsVersion(header, running.IsNT, running.Major, running.Minor);
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
