// The records of the setup script, held whole as read. Every accessor reads
// its field by offset, byte by byte and little-endian, and never reads past
// the field: a string field's length byte is clamped to the field's width
// minus one, and a binary registry length to the 252 bytes its area holds.
// Valid() tells whether every length byte is within its bounds; the loader
// rejects records that are not.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace rec {
std::string StringField(const uint8_t* raw, size_t offset, size_t width);
bool StringFieldValid(const uint8_t* raw, size_t offset, size_t width);
std::string CharArrayField(const uint8_t* raw, size_t offset, size_t width);
int32_t Int32Field(const uint8_t* raw, size_t offset);
uint32_t UInt32Field(const uint8_t* raw, size_t offset);
}  // namespace rec

// Header flags.
constexpr uint8_t hfUninstallable = 0x02;
constexpr uint8_t hfAllowNoIcons = 0x04;
constexpr uint8_t hfAlwaysRestart = 0x08;
constexpr uint8_t hfSolidBackground = 0x10;

// File entry flags.
constexpr uint8_t ffConfirmOverwrite = 0x01;
constexpr uint8_t ffUninstallNeverRemove = 0x02;
constexpr uint8_t ffRestartReplace = 0x04;
constexpr uint8_t ffRegisterServer = 0x08;
constexpr uint8_t ffSharedFile = 0x10;
constexpr uint8_t ffReadme = 0x20;
constexpr uint8_t ffUninstallDataFile = 0x40;

// File copy modes.
constexpr uint8_t cmNormal = 0;
constexpr uint8_t cmOnlyIfDoesntExist = 1;
constexpr uint8_t cmAlwaysOverwrite = 2;
constexpr uint8_t cmKeepNewer = 3;

// INI entry flags.
constexpr uint8_t ifUninstallDeleteEntry = 0x01;
constexpr uint8_t ifUninstallDeleteSection = 0x02;

// Registry value types and flags.
constexpr uint8_t rtNone = 0;
constexpr uint8_t rtString = 1;
constexpr uint8_t rtDWord = 2;
constexpr uint8_t rtBinary = 3;
constexpr uint8_t rfUninstallDeleteValue = 0x01;
constexpr uint8_t rfUninstallDeleteKey = 0x02;
constexpr size_t kMaxRegBinaryLength = 252;

// Run entry flags.
constexpr uint8_t runNoWait = 0x01;

#define QV_STRING(Name, Off, Width) \
  std::string Name() const { return rec::StringField(Raw, Off, Width); }
#define QV_INT32(Name, Off) \
  int32_t Name() const { return rec::Int32Field(Raw, Off); }
#define QV_BYTE(Name, Off) \
  uint8_t Name() const { return Raw[Off]; }

struct SetupHeader {
  static constexpr size_t RecordSize = 337;
  uint8_t Raw[RecordSize] = {};
  QV_STRING(ApplicationName, 0, 64)
  QV_STRING(ApplicationVersionName, 64, 64)
  QV_STRING(BackgroundSubtitle, 128, 64)
  QV_STRING(DefaultDirectory, 192, 48)
  QV_STRING(DefaultProgramFolder, 240, 48)
  QV_INT32(DirEntryCount, 288)
  QV_INT32(FileEntryCount, 292)
  QV_INT32(IconEntryCount, 296)
  QV_INT32(IniEntryCount, 300)
  QV_INT32(RegistryEntryCount, 304)
  QV_INT32(UninstallDeleteEntryCount, 308)
  QV_INT32(RunEntryCount, 312)
  QV_INT32(LicenseTextSize, 316)
  QV_INT32(InfoBeforeTextSize, 320)
  QV_INT32(InfoAfterTextSize, 324)
  QV_BYTE(MinWindowsVersionMajor, 328)
  QV_BYTE(MinWindowsVersionMinor, 329)
  QV_BYTE(MinNTVersionMajor, 330)
  QV_BYTE(MinNTVersionMinor, 331)
  QV_INT32(BackgroundColor, 332)
  QV_BYTE(Flags, 336)
  bool Valid() const;
};

struct SetupDirEntry {
  static constexpr size_t RecordSize = 48;
  uint8_t Raw[RecordSize] = {};
  QV_STRING(DirName, 0, 48)
  bool Valid() const;
};

struct SetupFileEntry {
  static constexpr size_t RecordSize = 94;
  uint8_t Raw[RecordSize] = {};
  QV_STRING(DestName, 0, 64)
  uint32_t SourceTimeLow() const { return rec::UInt32Field(Raw, 64); }
  uint32_t SourceTimeHigh() const { return rec::UInt32Field(Raw, 68); }
  QV_INT32(FileVersionMS, 72)
  QV_INT32(FileVersionLS, 76)
  QV_INT32(Size, 80)
  QV_INT32(CompressedSize, 84)
  uint32_t Checksum() const { return rec::UInt32Field(Raw, 88); }
  QV_BYTE(CopyMode, 92)
  QV_BYTE(FileFlags, 93)
  bool Valid() const;
};

struct SetupFileLocationEntry {
  static constexpr size_t RecordSize = 12;
  uint8_t Raw[RecordSize] = {};
  QV_INT32(FirstDisk, 0)
  QV_INT32(LastDisk, 4)
  QV_INT32(StartOffset, 8)
  bool Valid() const { return true; }
};

struct SetupIconEntry {
  static constexpr size_t RecordSize = 356;
  uint8_t Raw[RecordSize] = {};
  QV_STRING(IconName, 0, 48)
  QV_STRING(FileName, 48, 64)
  QV_STRING(Parameters, 112, 128)
  QV_STRING(WorkingDir, 240, 48)
  QV_STRING(IconFile, 288, 64)
  QV_INT32(IconIndex, 352)
  bool Valid() const;
};

struct SetupIniEntry {
  static constexpr size_t RecordSize = 289;
  uint8_t Raw[RecordSize] = {};
  QV_STRING(IniFileName, 0, 64)
  QV_STRING(Section, 64, 48)
  QV_STRING(Key, 112, 48)
  QV_STRING(Value, 160, 128)
  QV_BYTE(IniFlags, 288)
  bool Valid() const;
};

struct SetupRegistryEntry {
  static constexpr size_t RecordSize = 438;
  uint8_t Raw[RecordSize] = {};
  uint32_t RootKey() const { return rec::UInt32Field(Raw, 0); }
  std::string SubKey() const { return rec::CharArrayField(Raw, 4, 128); }
  std::string ValueName() const { return rec::CharArrayField(Raw, 132, 48); }
  // Type 1: the string data (a 256-byte character array).
  std::string StringData() const { return rec::CharArrayField(Raw, 180, 256); }
  // Type 2: the number.
  int32_t NumberData() const { return rec::Int32Field(Raw, 180); }
  // Type 3: the binary data (length byte at 180, data from 184).
  size_t BinaryLength() const;
  const uint8_t* BinaryData() const { return Raw + 184; }
  QV_BYTE(ValueType, 436)
  QV_BYTE(RegFlags, 437)
  bool Valid() const;
};

struct SetupUninstallDeleteEntry {
  static constexpr size_t RecordSize = 64;
  uint8_t Raw[RecordSize] = {};
  QV_STRING(DeletePath, 0, 64)
  bool Valid() const;
};

struct SetupRunEntry {
  static constexpr size_t RecordSize = 193;
  uint8_t Raw[RecordSize] = {};
  QV_STRING(FileName, 0, 64)
  QV_STRING(Parameters, 64, 128)
  QV_BYTE(RunFlags, 192)
  bool Valid() const;
};

#undef QV_STRING
#undef QV_INT32
#undef QV_BYTE
