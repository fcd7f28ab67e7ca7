// Reads the file version from the version resource of a PE file (an .exe or
// .dll for Windows): DOS header, PE header, section table, the resource
// directory down to RT_VERSION, and the VS_VERSIONINFO block with its
// fixed file information. Every offset is checked against the file's size
// before it is read, so a damaged or hostile file gives "no version", never
// a read out of bounds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qvbuild {

// Random access to the bytes of a file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// Reads through an open stdio file (not owned).
class StdioSource : public ByteSource {
 public:
  StdioSource(std::FILE* f, uint64_t size) : f_(f), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  std::FILE* f_;
  uint64_t size_;
};

struct FileVersion {
  bool Present = false;
  uint32_t MS = 0xFFFFFFFFu;  // dwFileVersionMS
  uint32_t LS = 0xFFFFFFFFu;  // dwFileVersionLS
};

// The version of the fixed file information, or Present = false (and -1,
// -1) when the file is not a PE file or has no valid version resource.
FileVersion ReadPEFileVersion(ByteSource& source);

// "1.2.3.4" for a version.
std::string FormatFileVersion(uint32_t ms, uint32_t ls);

}  // namespace qvbuild
