// The file layer on Win32: an untyped byte file opened for reading only.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "setupdata/filestream.h"

// Small reads (a block's 16 header bytes, a record's few dozen compressed
// bytes) are served from a read-ahead buffer, so that a script of twenty
// thousand blocks costs a few dozen system calls instead of forty thousand;
// large reads go straight to the caller's buffer. What the caller sees is
// the same either way.
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
  static constexpr size_t kReadAhead = 64 * 1024;
  // Reads at least this large bypass the read-ahead buffer.
  static constexpr size_t kDirectRead = 16 * 1024;
  // Reads from the handle at handle_pos_ until count bytes or the file's end.
  size_t ReadDirect(void* buffer, size_t count);

  HANDLE h_ = INVALID_HANDLE_VALUE;
  std::string path_;
  std::unique_ptr<char[]> ahead_;
  size_t ahead_pos_ = 0;   // next unread byte in ahead_
  size_t ahead_len_ = 0;   // bytes held in ahead_
  int64_t handle_pos_ = 0; // the handle's position: just after ahead_'s bytes
};
