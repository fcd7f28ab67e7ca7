#include "tools/scriptwriter/scriptwriter.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace sw {

const uint8_t kDiskFileID[8] = {'q', 'd', 's', 'k', 'a', '3', '2', 0x1A};
const uint8_t kFileDataMarker[4] = {'z', 'l', 'b', 0x1A};
static const uint8_t kScriptID[8] = {'q', 'z', '1', '0', '0', 'a', 'e', 0x1A};

namespace {

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Adler(const uint8_t* data, size_t size) {
  uLong a = adler32(0L, Z_NULL, 0);
  while (size > 0) {
    uInt piece = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    a = adler32(a, data, piece);
    data += piece;
    size -= piece;
  }
  return static_cast<uint32_t>(a);
}

Bytes Compress(const uint8_t* data, size_t size, int level) {
  uLongf bound = compressBound(static_cast<uLong>(size));
  Bytes out(bound);
  if (compress2(out.data(), &bound, data, static_cast<uLong>(size), level) != Z_OK)
    throw std::runtime_error("zlib compression failed");
  out.resize(bound);
  return out;
}

// A string field of width bytes: a length byte and the characters.
void PutString(uint8_t* raw, size_t offset, size_t width, const std::string& value,
               const char* record, const char* field) {
  if (value.size() > width - 1)
    throw EFieldError(record, field,
                      "\"" + value + "\" is " + std::to_string(value.size()) +
                          " characters long; the field holds at most " +
                          std::to_string(width - 1));
  raw[offset] = static_cast<uint8_t>(value.size());
  std::memcpy(raw + offset + 1, value.data(), value.size());
}

// A character array of width bytes: characters up to a 0 byte, or width
// characters without one.
void PutChars(uint8_t* raw, size_t offset, size_t width, const std::string& value,
              const char* record, const char* field) {
  if (value.size() > width)
    throw EFieldError(record, field,
                      "\"" + value + "\" is " + std::to_string(value.size()) +
                          " characters long; the field holds at most " + std::to_string(width));
  if (value.find('\0') != std::string::npos)
    throw EFieldError(record, field, "contains a NUL character");
  std::memcpy(raw + offset, value.data(), value.size());
}

}  // namespace

Bytes EncodeBlock(const uint8_t* data, size_t size, bool compress, int level, BlockFault fault) {
  Bytes payload;
  int32_t compressed_size = -1;
  uint32_t declared = static_cast<uint32_t>(size);
  if (compress) {
    if (fault == BlockFault::ExtraOutput) {
      Bytes more(data, data + size);
      const char extra[] = "and some more bytes";
      more.insert(more.end(), extra, extra + sizeof extra);
      payload = Compress(more.data(), more.size(), level);
    } else {
      payload = Compress(data, size, level);
    }
    if (fault == BlockFault::TruncatedStream) payload.resize(payload.size() / 2);
    if (fault == BlockFault::TrailingBytes) payload.insert(payload.end(), {0, 0, 0, 0});
    compressed_size = static_cast<int32_t>(payload.size());
  } else {
    payload.assign(data, data + size);
    if (fault == BlockFault::TruncatedStream) payload.resize(payload.size() / 2);
  }
  uint32_t checksum = Adler(data, size);
  if (fault == BlockFault::WrongDataChecksum) checksum += 1;
  if (fault == BlockFault::WrongSizeField) declared += 1;

  Bytes block(16);
  PutLE32(&block[4], static_cast<uint32_t>(compressed_size));
  PutLE32(&block[8], declared);
  PutLE32(&block[12], checksum);
  // The header checksum covers the next twelve bytes.
  PutLE32(&block[0], Adler(&block[4], 12));
  if (fault == BlockFault::ChangedHeaderByte) block[9] ^= 0x01;
  block.insert(block.end(), payload.begin(), payload.end());
  return block;
}

Bytes EncodeHeader(const HeaderSpec& h, const int32_t counts[7], const int32_t text_sizes[3]) {
  Bytes raw(337);
  const char* r = "header";
  PutString(raw.data(), 0, 64, h.ApplicationName, r, "ApplicationName");
  PutString(raw.data(), 64, 64, h.ApplicationVersionName, r, "ApplicationVersionName");
  PutString(raw.data(), 128, 64, h.BackgroundSubtitle, r, "BackgroundSubtitle");
  PutString(raw.data(), 192, 48, h.DefaultDirectory, r, "DefaultDirectory");
  PutString(raw.data(), 240, 48, h.DefaultProgramFolder, r, "DefaultProgramFolder");
  for (int i = 0; i < 7; ++i) PutLE32(&raw[288 + 4 * i], static_cast<uint32_t>(counts[i]));
  for (int i = 0; i < 3; ++i) PutLE32(&raw[316 + 4 * i], static_cast<uint32_t>(text_sizes[i]));
  raw[328] = h.MinWindowsVersionMajor;
  raw[329] = h.MinWindowsVersionMinor;
  raw[330] = h.MinNTVersionMajor;
  raw[331] = h.MinNTVersionMinor;
  PutLE32(&raw[332], static_cast<uint32_t>(h.BackgroundColor));
  raw[336] = h.Flags;
  return raw;
}

Bytes EncodeDirEntry(const DirSpec& d) {
  Bytes raw(48);
  PutString(raw.data(), 0, 48, d.DirName, "dir", "DirName");
  return raw;
}

Bytes EncodeFileEntry(const FileSpec& f, const FileData& d) {
  Bytes raw(94);
  PutString(raw.data(), 0, 64, f.DestName, "file", "DestName");
  PutLE32(&raw[64], f.SourceTimeLow);
  PutLE32(&raw[68], f.SourceTimeHigh);
  PutLE32(&raw[72], static_cast<uint32_t>(f.FileVersionMS));
  PutLE32(&raw[76], static_cast<uint32_t>(f.FileVersionLS));
  PutLE32(&raw[80], d.Size);
  PutLE32(&raw[84], d.CompressedSize);
  PutLE32(&raw[88], d.Checksum);
  raw[92] = f.CopyMode;
  raw[93] = f.FileFlags;
  return raw;
}

Bytes EncodeFileLocationEntry(const FileData& d) {
  Bytes raw(12);
  PutLE32(&raw[0], static_cast<uint32_t>(d.FirstDisk));
  PutLE32(&raw[4], static_cast<uint32_t>(d.LastDisk));
  PutLE32(&raw[8], static_cast<uint32_t>(d.StartOffset));
  return raw;
}

Bytes EncodeIconEntry(const IconSpec& i) {
  Bytes raw(356);
  const char* r = "icon";
  PutString(raw.data(), 0, 48, i.IconName, r, "IconName");
  PutString(raw.data(), 48, 64, i.FileName, r, "FileName");
  PutString(raw.data(), 112, 128, i.Parameters, r, "Parameters");
  PutString(raw.data(), 240, 48, i.WorkingDir, r, "WorkingDir");
  PutString(raw.data(), 288, 64, i.IconFile, r, "IconFile");
  PutLE32(&raw[352], static_cast<uint32_t>(i.IconIndex));
  return raw;
}

Bytes EncodeIniEntry(const IniSpec& i) {
  Bytes raw(289);
  const char* r = "ini";
  PutString(raw.data(), 0, 64, i.IniFileName, r, "IniFileName");
  PutString(raw.data(), 64, 48, i.Section, r, "Section");
  PutString(raw.data(), 112, 48, i.Key, r, "Key");
  PutString(raw.data(), 160, 128, i.Value, r, "Value");
  raw[288] = i.IniFlags;
  return raw;
}

Bytes EncodeRegistryEntry(const RegistrySpec& e) {
  Bytes raw(438);
  const char* r = "registry";
  PutLE32(&raw[0], e.RootKey);
  PutChars(raw.data(), 4, 128, e.SubKey, r, "SubKey");
  PutChars(raw.data(), 132, 48, e.ValueName, r, "ValueName");
  switch (e.ValueType) {
    case 0:
      break;
    case 1:
      PutChars(raw.data(), 180, 256, e.StringData, r, "ValueData");
      break;
    case 2:
      PutLE32(&raw[180], static_cast<uint32_t>(e.NumberData));
      break;
    case 3:
      if (e.BinaryData.size() > 252)
        throw EFieldError(r, "ValueData",
                          "binary value of " + std::to_string(e.BinaryData.size()) +
                              " bytes; at most 252 bytes fit");
      raw[180] = static_cast<uint8_t>(e.BinaryData.size());
      if (!e.BinaryData.empty()) std::memcpy(&raw[184], e.BinaryData.data(), e.BinaryData.size());
      break;
    default:
      throw EFieldError(r, "ValueType", "unknown value type " + std::to_string(e.ValueType));
  }
  raw[436] = e.ValueType;
  raw[437] = e.RegFlags;
  return raw;
}

Bytes EncodeUninstallDeleteEntry(const UninstallDeleteSpec& u) {
  Bytes raw(64);
  PutString(raw.data(), 0, 64, u.DeletePath, "uninstalldelete", "DeletePath");
  return raw;
}

Bytes EncodeRunEntry(const RunSpec& e) {
  Bytes raw(193);
  PutString(raw.data(), 0, 64, e.FileName, "run", "FileName");
  PutString(raw.data(), 64, 128, e.Parameters, "run", "Parameters");
  raw[192] = e.RunFlags;
  return raw;
}

namespace {

// Lays the file streams out over disk data files of at most disk_size
// bytes each (0: one disk), or into one data area for the single-file layout.
class DiskLayout {
 public:
  DiskLayout(uint32_t disk_size, bool single) : disk_size_(disk_size), single_(single) {
    if (single_) {
      disks_.emplace_back();
    } else {
      NewDisk();
    }
  }

  void AddFile(const Bytes& stream, FileData& d) {
    if (!single_ && disk_size_ != 0) {
      if (disk_size_ < 12 + 4 + 1)
        throw std::runtime_error("disk size " + std::to_string(disk_size_) +
                                 " is too small for a file data marker");
      // The marker always lies wholly inside the file's first disk.
      if (Current().size() + 4 > disk_size_) NewDisk();
    }
    d.FirstDisk = static_cast<int32_t>(disks_.size());
    d.StartOffset = static_cast<int32_t>(Current().size());
    Current().insert(Current().end(), kFileDataMarker, kFileDataMarker + 4);
    size_t pos = 0;
    while (pos < stream.size()) {
      if (!single_ && disk_size_ != 0 && Current().size() >= disk_size_) NewDisk();
      size_t room = stream.size() - pos;
      if (!single_ && disk_size_ != 0) {
        size_t left = disk_size_ - Current().size();
        if (left < room) room = left;
      }
      Current().insert(Current().end(), stream.begin() + static_cast<long>(pos),
                       stream.begin() + static_cast<long>(pos + room));
      pos += room;
    }
    d.LastDisk = static_cast<int32_t>(disks_.size());
  }

  std::vector<Bytes> Finish() {
    if (!single_)
      for (auto& disk : disks_) PutLE32(&disk[8], static_cast<uint32_t>(disk.size()));
    return std::move(disks_);
  }

 private:
  Bytes& Current() { return disks_.back(); }
  void NewDisk() {
    disks_.emplace_back(kDiskFileID, kDiskFileID + 8);
    disks_.back().resize(12);
  }

  uint32_t disk_size_;
  bool single_;
  std::vector<Bytes> disks_;
};

}  // namespace

Bytes ScriptBuilder::EncodeScript(const std::vector<FileData>& files,
                                  const BuildOptions& o) const {
  if (files.size() != Files.size())
    throw std::runtime_error("file data given for " + std::to_string(files.size()) +
                             " files, the script has " + std::to_string(Files.size()));
  std::vector<Bytes> items;
  const int32_t counts[7] = {
      static_cast<int32_t>(Dirs.size()),  static_cast<int32_t>(Files.size()),
      static_cast<int32_t>(Icons.size()), static_cast<int32_t>(Inis.size()),
      static_cast<int32_t>(Registry.size()), static_cast<int32_t>(UninstallDeletes.size()),
      static_cast<int32_t>(Runs.size())};
  const int32_t sizes[3] = {static_cast<int32_t>(LicenseText.size()),
                            static_cast<int32_t>(InfoBeforeText.size()),
                            static_cast<int32_t>(InfoAfterText.size())};
  items.push_back(EncodeHeader(Header, counts, sizes));
  for (const std::string* t : {&LicenseText, &InfoBeforeText, &InfoAfterText})
    if (!t->empty()) items.emplace_back(t->begin(), t->end());
  for (const auto& d : Dirs) items.push_back(EncodeDirEntry(d));
  for (size_t i = 0; i < Files.size(); ++i) items.push_back(EncodeFileEntry(Files[i], files[i]));
  for (const auto& d : files) items.push_back(EncodeFileLocationEntry(d));
  for (const auto& i : Icons) items.push_back(EncodeIconEntry(i));
  for (const auto& i : Inis) items.push_back(EncodeIniEntry(i));
  for (const auto& r : Registry) items.push_back(EncodeRegistryEntry(r));
  for (const auto& u : UninstallDeletes) items.push_back(EncodeUninstallDeleteEntry(u));
  for (const auto& r : Runs) items.push_back(EncodeRunEntry(r));

  Bytes script;
  if (o.SingleFile) {
    // Filler before the script stands for the loader that carries it.
    script.resize(o.ScriptOffset);
    for (size_t i = 0; i < script.size(); ++i) script[i] = static_cast<uint8_t>(i * 7 + 1);
  }
  script.insert(script.end(), kScriptID, kScriptID + 8);
  if (o.WrongScriptID) script[script.size() - 2] ^= 0x20;
  for (size_t i = 0; i < items.size(); ++i) {
    BlockFault fault = static_cast<int>(i) == o.FaultBlock ? o.Fault : BlockFault::None;
    Bytes block = EncodeBlock(items[i], o.Compress, o.Level, fault);
    script.insert(script.end(), block.begin(), block.end());
  }

  return script;
}

BuildResult ScriptBuilder::Build(const BuildOptions& o) const {
  BuildResult result;
  DiskLayout layout(o.DiskSize, o.SingleFile);
  for (const auto& f : Files) {
    FileData d;
    d.Size = static_cast<uint32_t>(f.Contents.size());
    d.Checksum = Adler(f.Contents.data(), f.Contents.size());
    Bytes stream = Compress(f.Contents.data(), f.Contents.size(), o.Level);
    d.CompressedSize = static_cast<uint32_t>(stream.size());
    layout.AddFile(stream, d);
    result.Files.push_back(d);
  }
  std::vector<Bytes> data = layout.Finish();

  if (o.Disk == DiskFault::WrongFileChecksum && !result.Files.empty())
    result.Files[0].Checksum += 1;

  result.Script = EncodeScript(result.Files, o);
  if (o.SingleFile) result.ScriptOffset = o.ScriptOffset;
  Bytes& script = result.Script;

  if (o.SingleFile) {
    size_t align = o.DataAlign ? o.DataAlign : 1;
    size_t data_offset = (script.size() + align - 1) / align * align;
    script.resize(data_offset, 0);
    result.DataOffset = static_cast<uint32_t>(data_offset);
    script.insert(script.end(), data[0].begin(), data[0].end());
    if (o.Disk == DiskFault::WrongMarker && !result.Files.empty())
      script[data_offset + static_cast<size_t>(result.Files[0].StartOffset)] ^= 0x01;
  } else {
    if (o.Disk == DiskFault::WrongDiskID) data[0][1] ^= 0x01;
    if (o.Disk == DiskFault::WrongTotalSize) PutLE32(&data[0][8], static_cast<uint32_t>(data[0].size() + 1));
    if (o.Disk == DiskFault::WrongMarker && !result.Files.empty())
      data[static_cast<size_t>(result.Files[0].FirstDisk - 1)]
          [static_cast<size_t>(result.Files[0].StartOffset)] ^= 0x01;
    if (o.Disk == DiskFault::TruncatedDisk)
      data.back().resize(data.back().size() > 112 ? data.back().size() - 100 : 12);
    result.Disks = std::move(data);
  }
  return result;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  size_t n = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
  bool ok = n == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::remove(path.c_str());
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace sw
