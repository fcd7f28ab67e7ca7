#include "common/win32file.h"

#include "common/exceptions.h"
#include "common/strutil.h"

std::string SysErrorMessage(DWORD code) {
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf, nullptr);
  std::string s(buf, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
    s.pop_back();
  if (s.empty()) s = Format("System error, code %lu", static_cast<unsigned long>(code));
  return s;
}

void RaiseLastIOError(const std::string& what, const std::string& path) {
  DWORD code = GetLastError();
  throw EInOutError(Format("I/O error %lu %s \"%s\": %s", static_cast<unsigned long>(code),
                           what.c_str(), path.c_str(), SysErrorMessage(code).c_str()));
}

namespace {
[[noreturn]] void RaiseIO(const std::string& what, const std::string& path) {
  RaiseLastIOError(what, path);
}
}  // namespace

TWin32File::TWin32File(const std::string& path) : path_(path) {
  h_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h_ == INVALID_HANDLE_VALUE) RaiseIO("opening", path);
}

TWin32File::~TWin32File() {
  if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
}

size_t TWin32File::ReadSome(void* buffer, size_t count) {
  auto* p = static_cast<char*>(buffer);
  size_t total = 0;
  while (count > 0) {
    DWORD piece = count > 0x10000000u ? 0x10000000u : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(h_, p, piece, &got, nullptr)) RaiseIO("reading", path_);
    if (got == 0) break;
    total += got;
    p += got;
    count -= got;
  }
  return total;
}

void TWin32File::Seek(int64_t position) {
  if (position < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    RaiseIO("positioning", path_);
  }
  LONG high = static_cast<LONG>(position >> 32);
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(h_, static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) RaiseIO("positioning", path_);
}

int64_t TWin32File::Position() {
  LONG high = 0;
  DWORD low = SetFilePointer(h_, 0, &high, FILE_CURRENT);
  return (static_cast<int64_t>(high) << 32) | low;
}

int64_t TWin32File::Size() {
  DWORD high = 0;
  DWORD low = GetFileSize(h_, &high);
  return (static_cast<int64_t>(high) << 32) | low;
}
