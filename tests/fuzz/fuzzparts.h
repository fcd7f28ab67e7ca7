// Inputs of the fuzz targets that read several files at once: the files
// one after the other, each but the last followed by the separator, so that
// the fuzzer's mutations keep most of the layout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzzparts {

constexpr char kSeparator[] = "#qvpart#";
constexpr size_t kSeparatorSize = sizeof kSeparator - 1;

inline std::vector<std::vector<uint8_t>> Split(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> parts;
  size_t start = 0;
  for (size_t i = 0; i + kSeparatorSize <= size;) {
    if (std::memcmp(data + i, kSeparator, kSeparatorSize) == 0) {
      parts.emplace_back(data + start, data + i);
      i += kSeparatorSize;
      start = i;
    } else {
      ++i;
    }
  }
  parts.emplace_back(data + start, data + size);
  return parts;
}

inline std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out.insert(out.end(), kSeparator, kSeparator + kSeparatorSize);
    out.insert(out.end(), parts[i].begin(), parts[i].end());
  }
  return out;
}

inline uint32_t LE32(const std::vector<uint8_t>& p, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(at + i < p.size() ? p[at + i] : 0) << (8 * i);
  return v;
}

inline void PutLE32(std::vector<uint8_t>& p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace fuzzparts
