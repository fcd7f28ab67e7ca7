#include "main/completion.h"

#include <shellapi.h>

#include <cctype>

#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "install/restartreplace.h"
#include "main/background.h"
#include "run/globals.h"

bool RunProgram(const std::string& file_name, const std::string& parameters, bool wait,
                const std::function<void()>& process_messages) {
  const std::string cmdline = RunEntryCommandLine(file_name, parameters);
  std::string buf = cmdline;  // CreateProcessA may write into it
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &buf[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    const DWORD code = GetLastError();
    ShowMessageBoxFmt(SRunProgramError, "", mbkStop, MB_OK, cmdline.c_str(),
                      static_cast<int>(code), SystemErrorText(code).c_str());
    return false;
  }
  TKernelHandle process(pi.hProcess);
  TKernelHandle thread(pi.hThread);
  thread.reset();
  if (wait) {
    HANDLE h = process.get();
    if (process_messages) process_messages();
    while (MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      if (process_messages) process_messages();
    }
  }
  return true;
}

bool OpenReadme(HWND owner, const std::string& file) {
  HINSTANCE r = ShellExecuteA(owner, nullptr, file.c_str(), nullptr, nullptr, SW_SHOW);
  // ShellExecute answers more than 32 on success; 32 itself is a failure
  // (SE_ERR_DLLNOTFOUND).
  if (reinterpret_cast<INT_PTR>(r) <= 32) {
    ShowMessageBoxStr(SReadmeOpenError, "", mbkStop, MB_OK);
    return false;
  }
  return true;
}

void LeaveLoaderCopyToTheRestart() {
  if (!ScriptSwitch) return;
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  const std::string exe(path, n);
  const std::string folder = StripTrailingBackslash(ExtractFilePath(exe));
  const std::string name = folder.substr(folder.find_last_of('\\') + 1);
  // The loader's name for its folder: QVS, five hexadecimal digits, .TMP.
  bool loaders = name.size() == 12 && lstrcmpiA(name.substr(0, 3).c_str(), "QVS") == 0 &&
                 lstrcmpiA(name.substr(8).c_str(), ".TMP") == 0;
  for (size_t i = 3; loaders && i < 8; ++i) loaders = std::isxdigit(static_cast<unsigned char>(name[i])) != 0;
  if (!loaders) return;
  ScheduleRestartDelete(exe);
  if (IsWindowsNT()) ScheduleRestartDelete(folder);
}

bool RestartWindows() {
  bool may_ask = true;
  if (IsWindowsNT()) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
      may_ask = false;
    } else {
      TKernelHandle token(raw);
      TOKEN_PRIVILEGES tp{};
      LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid);
      tp.PrivilegeCount = 1;
      tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr);
      if (GetLastError() != ERROR_SUCCESS) may_ask = false;
    }
  }
  if (may_ask && ExitWindowsEx(EWX_REBOOT, 0)) return true;
  MessageBoxA(nullptr, SRestartFailed, nullptr, MB_OK | MB_ICONWARNING);
  return false;
}
