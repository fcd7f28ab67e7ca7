#include "setupdata/win32file.h"

#include <cstring>

#include "common/exceptions.h"
#include "common/syserror.h"

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

size_t TWin32File::ReadDirect(void* buffer, size_t count) {
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
  handle_pos_ += static_cast<int64_t>(total);
  return total;
}

size_t TWin32File::ReadSome(void* buffer, size_t count) {
  auto* p = static_cast<char*>(buffer);
  size_t total = 0;
  while (count > 0) {
    if (ahead_pos_ < ahead_len_) {
      size_t n = ahead_len_ - ahead_pos_;
      if (n > count) n = count;
      std::memcpy(p, ahead_.get() + ahead_pos_, n);
      ahead_pos_ += n;
      p += n;
      count -= n;
      total += n;
      continue;
    }
    // The buffer is used up; it no longer describes the bytes before the
    // handle's position once the handle moves on.
    ahead_pos_ = ahead_len_ = 0;
    if (count >= kDirectRead) return total + ReadDirect(p, count);
    if (!ahead_) ahead_.reset(new char[kReadAhead]);
    ahead_len_ = ReadDirect(ahead_.get(), kReadAhead);
    if (ahead_len_ == 0) break;  // the end of the file
  }
  return total;
}

void TWin32File::Seek(int64_t position) {
  if (position < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    RaiseIO("positioning", path_);
  }
  // Inside what the read-ahead buffer holds: no system call.
  int64_t ahead_start = handle_pos_ - static_cast<int64_t>(ahead_len_);
  if (position >= ahead_start && position <= handle_pos_) {
    ahead_pos_ = static_cast<size_t>(position - ahead_start);
    return;
  }
  ahead_pos_ = ahead_len_ = 0;
  LONG high = static_cast<LONG>(position >> 32);
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(h_, static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) RaiseIO("positioning", path_);
  handle_pos_ = position;
}

int64_t TWin32File::Position() {
  return handle_pos_ - static_cast<int64_t>(ahead_len_ - ahead_pos_);
}

int64_t TWin32File::Size() {
  DWORD high = 0;
  DWORD low = GetFileSize(h_, &high);
  return (static_cast<int64_t>(high) << 32) | low;
}
