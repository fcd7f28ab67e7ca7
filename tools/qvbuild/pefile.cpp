#include "tools/qvbuild/pefile.h"

#include <cstring>
#include <vector>

namespace qvbuild {

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n) std::memcpy(buffer, data_ + offset, n);
  return true;
}

bool StdioSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (offset > 0x7FFFFFFFu) return false;  // beyond what fseek takes portably
  if (std::fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(buffer, 1, n, f_) == n;
}

std::string FormatFileVersion(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

namespace {

constexpr uint32_t kRTVersion = 16;
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr size_t kMaxSections = 96;  // the PE loader's own limit
constexpr uint32_t kMaxDirEntries = 4096;

struct Reader {
  ByteSource& src;
  bool U16(uint64_t off, uint32_t& v) {
    uint8_t b[2];
    if (!src.ReadAt(off, b, 2)) return false;
    v = b[0] | static_cast<uint32_t>(b[1]) << 8;
    return true;
  }
  bool U32(uint64_t off, uint32_t& v) {
    uint8_t b[4];
    if (!src.ReadAt(off, b, 4)) return false;
    v = b[0] | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
        static_cast<uint32_t>(b[3]) << 24;
    return true;
  }
};

struct Section {
  uint32_t VirtualAddress, VirtualSize, RawSize, RawPointer;
};

// Maps a relative virtual address range to a file offset; false when the
// range does not lie wholly inside one section's raw data.
bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint32_t size,
                 uint64_t& offset) {
  for (const Section& s : sections) {
    uint64_t extent = s.VirtualSize ? (s.VirtualSize < s.RawSize ? s.VirtualSize : s.RawSize)
                                    : s.RawSize;
    if (rva >= s.VirtualAddress && static_cast<uint64_t>(rva) + size <= s.VirtualAddress + extent) {
      offset = static_cast<uint64_t>(s.RawPointer) + (rva - s.VirtualAddress);
      return true;
    }
  }
  return false;
}

// Finds the entry with the given id in a resource directory, or the first
// entry of any kind when id is negative. Returns its OffsetToData field.
bool FindDirEntry(Reader& r, uint64_t dir, int64_t id, uint32_t& offset_to_data) {
  uint32_t named, ids;
  if (!r.U16(dir + 12, named) || !r.U16(dir + 14, ids)) return false;
  uint32_t total = named + ids;
  if (total > kMaxDirEntries) return false;
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t name, data;
    if (!r.U32(dir + 16 + 8ull * i, name) || !r.U32(dir + 20 + 8ull * i, data)) return false;
    bool is_id = (name & 0x80000000u) == 0;
    if (id < 0 || (is_id && name == static_cast<uint32_t>(id))) {
      offset_to_data = data;
      return true;
    }
  }
  return false;
}

}  // namespace

FileVersion ReadPEFileVersion(ByteSource& src) {
  FileVersion none;
  Reader r{src};
  uint32_t mz, lfanew;
  if (!r.U16(0, mz) || mz != 0x5A4D || !r.U32(0x3C, lfanew)) return none;
  uint32_t pe;
  if (!r.U32(lfanew, pe) || pe != 0x00004550u) return none;
  uint64_t coff = static_cast<uint64_t>(lfanew) + 4;
  uint32_t nsections, opt_size;
  if (!r.U16(coff + 2, nsections) || !r.U16(coff + 16, opt_size)) return none;
  if (nsections == 0 || nsections > kMaxSections) return none;
  uint64_t opt = coff + 20;
  uint32_t magic;
  if (!r.U16(opt, magic)) return none;
  uint64_t count_at, dirs_at;
  if (magic == 0x10B) {
    count_at = 92;
    dirs_at = 96;
  } else if (magic == 0x20B) {
    count_at = 108;
    dirs_at = 112;
  } else {
    return none;
  }
  uint32_t ndirs;
  if (!r.U32(opt + count_at, ndirs) || ndirs < 3) return none;
  // The resource directory is data directory 2; it must lie inside the
  // optional header that the COFF header declares.
  if (dirs_at + 3 * 8 > opt_size) return none;
  uint32_t res_rva, res_size;
  if (!r.U32(opt + dirs_at + 16, res_rva) || !r.U32(opt + dirs_at + 20, res_size)) return none;
  if (res_rva == 0 || res_size < 16) return none;

  std::vector<Section> sections;
  uint64_t table = opt + opt_size;
  for (uint32_t i = 0; i < nsections; ++i) {
    uint64_t s = table + 40ull * i;
    Section sec;
    if (!r.U32(s + 8, sec.VirtualSize) || !r.U32(s + 12, sec.VirtualAddress) ||
        !r.U32(s + 16, sec.RawSize) || !r.U32(s + 20, sec.RawPointer))
      return none;
    sections.push_back(sec);
  }
  uint64_t res;
  if (!RvaToOffset(sections, res_rva, 16, res)) return none;
  // Offsets inside the resource tree count from its root; each must stay
  // inside the declared resource directory.
  auto sub = [&](uint32_t off_to_data, bool want_dir, uint64_t& out) {
    bool is_dir = (off_to_data & 0x80000000u) != 0;
    if (is_dir != want_dir) return false;
    uint32_t rel = off_to_data & 0x7FFFFFFFu;
    if (static_cast<uint64_t>(rel) + 16 > res_size) return false;
    out = res + rel;
    return true;
  };
  uint32_t e;
  uint64_t level2, level3, data_entry;
  if (!FindDirEntry(r, res, kRTVersion, e) || !sub(e, true, level2)) return none;
  if (!FindDirEntry(r, level2, -1, e) || !sub(e, true, level3)) return none;
  if (!FindDirEntry(r, level3, -1, e) || !sub(e, false, data_entry)) return none;
  uint32_t data_rva, data_size;
  if (!r.U32(data_entry, data_rva) || !r.U32(data_entry + 4, data_size)) return none;
  if (data_size < 6 + 32 + 52) return none;
  uint64_t vi;
  if (!RvaToOffset(sections, data_rva, data_size, vi)) return none;

  // VS_VERSIONINFO: wLength, wValueLength, wType, the key "VS_VERSION_INFO"
  // in UTF-16 with its terminator, padding to a 32-bit boundary, then the
  // VS_FIXEDFILEINFO.
  uint32_t length, value_length;
  if (!r.U16(vi, length) || !r.U16(vi + 2, value_length)) return none;
  if (length > data_size || value_length < 52) return none;
  static const char kKey[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof kKey; ++i) {
    uint32_t ch;
    if (!r.U16(vi + 6 + 2 * i, ch) || ch != static_cast<uint8_t>(kKey[i])) return none;
  }
  uint64_t fixed_rel = (6 + 2 * sizeof kKey + 3) & ~uint64_t{3};
  if (fixed_rel + 52 > length) return none;
  uint64_t fixed = vi + fixed_rel;
  uint32_t signature, ms, ls;
  if (!r.U32(fixed, signature) || signature != kFixedFileInfoSignature) return none;
  if (!r.U32(fixed + 8, ms) || !r.U32(fixed + 12, ls)) return none;
  FileVersion v;
  v.Present = true;
  v.MS = ms;
  v.LS = ls;
  return v;
}

}  // namespace qvbuild
