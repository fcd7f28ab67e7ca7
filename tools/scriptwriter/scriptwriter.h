// The script writer: makes setup scripts (SETUP.0), disk data files
// (SETUP.1 ... SETUP.n) and the single-file layout, byte for byte in the
// formats setup.exe reads. Portable. It can also produce faults on purpose,
// for tests of the reader.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sw {

using Bytes = std::vector<uint8_t>;

// A field value that does not fit its field. Never truncated silently.
class EFieldError : public std::runtime_error {
 public:
  EFieldError(std::string record, std::string field, std::string detail)
      : std::runtime_error(record + "." + field + ": " + detail),
        record_(std::move(record)), field_(std::move(field)) {}
  const std::string& Record() const { return record_; }
  const std::string& Field() const { return field_; }

 private:
  std::string record_, field_;
};

enum class BlockFault {
  None,
  WrongSizeField,     // the size field is one more than the data
  ChangedHeaderByte,  // one byte of the twelve checksummed header bytes changed
  TruncatedStream,    // the zlib stream is cut short (compressed size adjusted)
  ExtraOutput,        // the stream yields more bytes than the size field says
  WrongDataChecksum,  // the data checksum is off by one
  TrailingBytes,      // bytes after the end of the zlib stream inside the block
};

// Encodes one block of the given data: compressed as one zlib stream at the
// given level, or stored (compressed size -1).
Bytes EncodeBlock(const uint8_t* data, size_t size, bool compress, int level = 9,
                  BlockFault fault = BlockFault::None);
inline Bytes EncodeBlock(const Bytes& data, bool compress, int level = 9,
                         BlockFault fault = BlockFault::None) {
  return EncodeBlock(data.data(), data.size(), compress, level, fault);
}

struct HeaderSpec {
  std::string ApplicationName;
  std::string ApplicationVersionName;
  std::string BackgroundSubtitle;
  std::string DefaultDirectory;
  std::string DefaultProgramFolder;
  uint8_t MinWindowsVersionMajor = 4, MinWindowsVersionMinor = 0;
  uint8_t MinNTVersionMajor = 4, MinNTVersionMinor = 0;
  int32_t BackgroundColor = 0x00800000;  // RGB with red in the low byte
  uint8_t Flags = 0;
};

struct DirSpec {
  std::string DirName;
};

struct FileSpec {
  std::string DestName;
  uint32_t SourceTimeLow = 0, SourceTimeHigh = 0;
  int32_t FileVersionMS = -1, FileVersionLS = -1;
  uint8_t CopyMode = 0;
  uint8_t FileFlags = 0;
  Bytes Contents;
};

struct IconSpec {
  std::string IconName, FileName, Parameters, WorkingDir, IconFile;
  int32_t IconIndex = 0;
};

struct IniSpec {
  std::string IniFileName, Section, Key, Value;
  uint8_t IniFlags = 0;
};

struct RegistrySpec {
  uint32_t RootKey = 0x80000002u;
  std::string SubKey, ValueName;
  uint8_t ValueType = 0;  // 0 key only, 1 string, 2 number, 3 binary
  std::string StringData;
  int32_t NumberData = 0;
  Bytes BinaryData;
  uint8_t RegFlags = 0;
};

struct UninstallDeleteSpec {
  std::string DeletePath;
};

struct RunSpec {
  std::string FileName, Parameters;
  uint8_t RunFlags = 0;
};

// Record encoders; each raises EFieldError for a value that does not fit.
Bytes EncodeHeader(const HeaderSpec& h, const int32_t counts[7], const int32_t text_sizes[3]);
Bytes EncodeDirEntry(const DirSpec& d);
Bytes EncodeIconEntry(const IconSpec& i);
Bytes EncodeIniEntry(const IniSpec& i);
Bytes EncodeRegistryEntry(const RegistrySpec& r);
Bytes EncodeUninstallDeleteEntry(const UninstallDeleteSpec& u);
Bytes EncodeRunEntry(const RunSpec& r);

struct FileData {
  uint32_t Size = 0;
  uint32_t CompressedSize = 0;
  uint32_t Checksum = 0;
  int32_t FirstDisk = 0, LastDisk = 0, StartOffset = 0;
};
Bytes EncodeFileEntry(const FileSpec& f, const FileData& d);
Bytes EncodeFileLocationEntry(const FileData& d);

// Faults of the disk data files.
enum class DiskFault {
  None,
  WrongDiskID,       // the first disk's ID changed
  WrongTotalSize,    // the first disk's total size field one too large
  WrongMarker,       // the first file's marker changed
  WrongFileChecksum, // the first file entry's Adler-32 off by one
  TruncatedDisk,     // the last disk data file cut short by 100 bytes
};

struct BuildOptions {
  bool Compress = true;  // blocks of the script compressed (else stored)
  int Level = 9;         // zlib level of blocks and file streams
  // 0: one disk data file. Otherwise the largest size of a disk data file.
  uint32_t DiskSize = 0;
  // The block fault and the index of the block it applies to (0 = header,
  // then texts and records in file order).
  BlockFault Fault = BlockFault::None;
  int FaultBlock = 0;
  bool WrongScriptID = false;
  DiskFault Disk = DiskFault::None;
  // Single-file layout: the script at ScriptOffset (preceded by filler
  // bytes) and the file data at the first offset after the script rounded up
  // to DataAlign; markers lie at DataOffset plus their location offset.
  bool SingleFile = false;
  uint32_t ScriptOffset = 0;
  uint32_t DataAlign = 16;
};

struct BuildResult {
  Bytes Script;              // SETUP.0, or the whole single file
  std::vector<Bytes> Disks;  // SETUP.1 ... (empty in the single-file layout)
  uint32_t ScriptOffset = 0;
  uint32_t DataOffset = 0;   // single-file layout only
  std::vector<FileData> Files;
};

class ScriptBuilder {
 public:
  HeaderSpec Header;
  std::string LicenseText, InfoBeforeText, InfoAfterText;
  std::vector<DirSpec> Dirs;
  std::vector<FileSpec> Files;
  std::vector<IconSpec> Icons;
  std::vector<IniSpec> Inis;
  std::vector<RegistrySpec> Registry;
  std::vector<UninstallDeleteSpec> UninstallDeletes;
  std::vector<RunSpec> Runs;

  // Raises EFieldError for a field that does not fit and std::runtime_error
  // for a disk size too small to hold a file's marker.
  BuildResult Build(const BuildOptions& options = BuildOptions()) const;

  // Only the script (SETUP.0, or the single file's script part with its
  // filler, without the data), for file data laid out elsewhere, e.g. by a
  // writer that streams the files to disk. files is indexed like Files; the
  // Contents of Files are not used. Honours Compress, Level, Fault,
  // FaultBlock, WrongScriptID, SingleFile and ScriptOffset.
  Bytes EncodeScript(const std::vector<FileData>& files,
                     const BuildOptions& options = BuildOptions()) const;
};

// The disk file ID and the file data marker.
extern const uint8_t kDiskFileID[8];
extern const uint8_t kFileDataMarker[4];

// Writes bytes to a file; raises std::runtime_error on failure.
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace sw
