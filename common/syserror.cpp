#include "common/syserror.h"

#include "common/exceptions.h"
#include "common/strutil.h"

std::string SystemErrorText(DWORD code) {
  char* buf = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<char*>(&buf), 0, nullptr);
  std::string text = n && buf ? Trim(std::string(buf, n)) : std::string();
  if (buf) LocalFree(buf);
  return text;
}

std::string SysErrorMessage(DWORD code) {
  std::string s = SystemErrorText(code);
  while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
  if (s.empty()) s = Format("System error, code %lu", static_cast<unsigned long>(code));
  return s;
}

void RaiseLastIOError(const std::string& what, const std::string& path) {
  DWORD code = GetLastError();
  throw EInOutError(Format("I/O error %lu %s \"%s\": %s", static_cast<unsigned long>(code),
                           what.c_str(), path.c_str(), SysErrorMessage(code).c_str()));
}
