// Test data, whole files and hand-made scripts: one copy for every test
// program (native, Windows-side, fuzzing, benchmarks). Portable, header only.
#pragma once
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tools/scriptwriter/scriptwriter.h"

namespace testdata {

// File contents made byte by byte, the same for the same seed: with run 0
// noise (the high byte of a linear congruential generator), which does not
// compress; otherwise runs of `run` bytes, by turns noise and one repeated
// byte, which compress, but not to nothing. Large files are made piece by
// piece without being held whole.
class TFill {
 public:
  explicit TFill(uint32_t seed, size_t run = 0) : seed_(seed), x_(seed * 2654435761u + 1), run_(run) {}
  uint8_t Next() {
    const uint64_t i = i_++;
    if (run_ != 0 && (i / run_) % 2 != 0) return static_cast<uint8_t>(seed_ + i / run_);
    x_ = x_ * 1103515245u + 12345u;
    return static_cast<uint8_t>(x_ >> 24);
  }
  void Next(uint8_t* out, size_t n) {
    for (size_t k = 0; k < n; ++k) out[k] = Next();
  }

 private:
  uint32_t seed_, x_;
  size_t run_;
  uint64_t i_ = 0;
};

inline sw::Bytes Noise(size_t n, uint32_t seed) {
  sw::Bytes b(n);
  TFill(seed).Next(b.data(), n);
  return b;
}

inline sw::Bytes Mixed(size_t n, uint32_t seed, size_t run = 900) {
  sw::Bytes b(n);
  TFill(seed, run).Next(b.data(), n);
  return b;
}

// A file entry of a script: destination, contents, flags, copy mode.
inline sw::FileSpec FileEntry(const std::string& dest, sw::Bytes contents, uint8_t flags = 0,
                              uint8_t copy_mode = 0) {
  sw::FileSpec f;
  f.DestName = dest;
  f.Contents = std::move(contents);
  f.FileFlags = flags;
  f.CopyMode = copy_mode;
  return f;
}

// A product called name: "name version" is its version name, and name its
// default folder and program group.
inline sw::ScriptBuilder Product(const std::string& name, const std::string& version) {
  sw::ScriptBuilder b;
  b.Header.ApplicationName = name;
  b.Header.ApplicationVersionName = name + " " + version;
  b.Header.DefaultDirectory = name;
  b.Header.DefaultProgramFolder = name;
  return b;
}

// The whole file, empty when it cannot be opened. Opened shared, so a file
// another process is writing can be read too.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline sw::Bytes ReadAll(const std::string& path) {
  const std::string s = ReadWholeFile(path);
  return sw::Bytes(s.begin(), s.end());
}

// Creates or replaces the file; false when it cannot be written completely.
inline bool WriteWholeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
}

inline void PutLE32(sw::Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A script made of raw records: the script ID, then the header record and
// each further record in a compressed block of its own, as the loader reads
// them. For headers and records that the script writer would refuse.
inline sw::Bytes ScriptOfRecords(const sw::Bytes& header, const std::vector<sw::Bytes>& records = {}) {
  sw::Bytes out = {'q', 'z', '1', '0', '0', 'a', 'e', 0x1A};
  auto add = [&out](const sw::Bytes& record) {
    const sw::Bytes b = sw::EncodeBlock(record, true);
    out.insert(out.end(), b.begin(), b.end());
  };
  add(header);
  for (const sw::Bytes& r : records) add(r);
  return out;
}

// The header record of an empty script with one little-endian field changed
// (a count at 288..312, a text size at 316..324).
inline sw::Bytes HeaderWith(int offset, int32_t value) {
  const int32_t counts[7] = {}, sizes[3] = {};
  sw::Bytes h = sw::EncodeHeader(sw::HeaderSpec(), counts, sizes);
  PutLE32(h, static_cast<size_t>(offset), static_cast<uint32_t>(value));
  return h;
}

}  // namespace testdata
