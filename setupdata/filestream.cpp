#include "setupdata/filestream.h"

#include <cstring>

#include "common/exceptions.h"

void TFile::ReadExact(void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    size_t got = ReadSome(p, count);
    if (got == 0) throw EInOutError("Read beyond end of file: " + Name());
    p += got;
    count -= got;
  }
}

size_t TMemoryFile::ReadSome(void* buffer, size_t count) {
  size_t avail = pos_ < data_.size() ? data_.size() - pos_ : 0;
  size_t n = count < avail ? count : avail;
  if (n) std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

void TMemoryFile::Seek(int64_t position) {
  if (position < 0) throw EInOutError("Seek error: " + name_);
  pos_ = static_cast<size_t>(position);
}

TStdioFile::TStdioFile(const std::string& path) : path_(path) {
  f_ = std::fopen(path.c_str(), "rb");
  if (!f_) throw EInOutError("File not found: " + path);
}

TStdioFile::~TStdioFile() {
  if (f_) std::fclose(f_);
}

size_t TStdioFile::ReadSome(void* buffer, size_t count) {
  size_t got = std::fread(buffer, 1, count, f_);
  if (got < count && std::ferror(f_)) throw EInOutError("Read error: " + path_);
  return got;
}

void TStdioFile::Seek(int64_t position) {
  if (position < 0 || fseeko(f_, static_cast<off_t>(position), SEEK_SET) != 0)
    throw EInOutError("Seek error: " + path_);
}

int64_t TStdioFile::Position() { return static_cast<int64_t>(ftello(f_)); }

int64_t TStdioFile::Size() {
  off_t here = ftello(f_);
  fseeko(f_, 0, SEEK_END);
  off_t size = ftello(f_);
  fseeko(f_, here, SEEK_SET);
  return static_cast<int64_t>(size);
}
