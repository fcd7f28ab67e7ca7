// The file layer on Win32: an untyped byte file opened for reading only.
#pragma once
#include <windows.h>

#include <string>

#include "setupdata/filestream.h"

class TWin32File : public TFile {
 public:
  // Opens path for reading only (sharing read access); raises EInOutError
  // with the system's error text when it cannot be opened.
  explicit TWin32File(const std::string& path);
  ~TWin32File() override;
  TWin32File(const TWin32File&) = delete;
  TWin32File& operator=(const TWin32File&) = delete;
  size_t ReadSome(void* buffer, size_t count) override;
  void Seek(int64_t position) override;
  int64_t Position() override;
  int64_t Size() override;
  std::string Name() const override { return path_; }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
  std::string path_;
};

// The system's text for an error code, without the trailing line break.
std::string SysErrorMessage(DWORD code);

// Raises EInOutError for GetLastError's code: "I/O error <code> <what>
// \"<path>\": <system text>".
[[noreturn]] void RaiseLastIOError(const std::string& what, const std::string& path);
