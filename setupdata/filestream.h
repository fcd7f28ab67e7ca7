// The file layer under the block reader: an untyped byte file that reads
// exactly the number of bytes asked for or raises EInOutError.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class TFile {
 public:
  virtual ~TFile() = default;
  // Reads up to count bytes; returns how many were read (fewer only at the
  // end of the file). Raises EInOutError on a failing read.
  virtual size_t ReadSome(void* buffer, size_t count) = 0;
  // Positions the file; raises EInOutError when that is not possible.
  virtual void Seek(int64_t position) = 0;
  virtual int64_t Position() = 0;
  virtual int64_t Size() = 0;
  // Name used in error messages.
  virtual std::string Name() const = 0;

  // Reads exactly count bytes or raises EInOutError ("Read beyond end of
  // file" for a file that ends early).
  void ReadExact(void* buffer, size_t count);
};

// A file held in memory: used by the tests, the fuzzer and the tools.
class TMemoryFile : public TFile {
 public:
  explicit TMemoryFile(std::vector<uint8_t> data, std::string name = "<memory>")
      : data_(std::move(data)), name_(std::move(name)) {}
  TMemoryFile(const uint8_t* data, size_t size, std::string name = "<memory>")
      : data_(data, data + size), name_(std::move(name)) {}
  size_t ReadSome(void* buffer, size_t count) override;
  void Seek(int64_t position) override;
  int64_t Position() override { return static_cast<int64_t>(pos_); }
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  std::string Name() const override { return name_; }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
  std::string name_;
};

// A file read through the C library (portable tools and native tests).
class TStdioFile : public TFile {
 public:
  // Opens for reading only; raises EInOutError when the file cannot be opened.
  explicit TStdioFile(const std::string& path);
  ~TStdioFile() override;
  TStdioFile(const TStdioFile&) = delete;
  TStdioFile& operator=(const TStdioFile&) = delete;
  size_t ReadSome(void* buffer, size_t count) override;
  void Seek(int64_t position) override;
  int64_t Position() override;
  int64_t Size() override;
  std::string Name() const override { return path_; }

 private:
  std::FILE* f_ = nullptr;
  std::string path_;
};
