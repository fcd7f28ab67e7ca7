#include "setupdata/script.h"

#include "common/strutil.h"
#include "setupdata/zlibblock.h"

const uint8_t kSetupScriptID[8] = {'q', 'z', '1', '0', '0', 'a', 'e', 0x1A};

const char* const SWin32sNotSupported = "This program will not run on Win32s.";
const char* const SScriptNotFound =
    "The Setup Script File, which is required by Setup, was not found. If problem presists, "
    "please contact the Program Vendor.";
const char* const SScriptIDMismatch =
    "The setup files are corrupted, or are incompatible with this version of Setup. Please "
    "correct the problem or obtain a new copy of the program.";
const char* const SScriptCorrupted =
    "The setup files are corrupted. Please obtain a new copy of the program.";
const char* const SNotOnWindowsNT = "This program will not run on Windows NT.";
const char* const SRequiresWindowsNT = "This program requires Windows NT version %s or later.";
const char* const SMustBeWindowsNT = "This program must be run on Windows NT.";
const char* const SRequiresWindows = "This program requires Windows version %s or later.";

uint32_t SetupScript::TotalFileSize() const {
  uint32_t total = 0;
  for (const auto& f : FileEntries) total += static_cast<uint32_t>(f.Size());
  return total;
}

bool SetupScript::IconsNeeded() const {
  return (Header.Flags() & hfUninstallable) != 0 || !IconEntries.empty();
}

namespace {

// deflate cannot expand data by more than about 1032:1; a declared size
// beyond that (plus the stream's own overhead) is not a block of this file.
constexpr uint64_t kMaxInflateRatio = 1032;

void ReadText(TFile& file, int32_t size, TScriptText& text) {
  text.clear();
  if (size == 0) return;
  if (size < 0) throw EZlibDataError();
  // Judge the declared size before allocating for it.
  int32_t compressed_size;
  uint32_t block_size;
  if (!PeekBlockHeader(file, compressed_size, block_size) ||
      block_size != static_cast<uint32_t>(size))
    throw EZlibDataError();
  uint64_t remaining = static_cast<uint64_t>(file.Size() - file.Position()) - kBlockHeaderSize;
  uint64_t data_bytes = compressed_size == -1 ? static_cast<uint64_t>(size)
                                              : static_cast<uint64_t>(compressed_size);
  if (compressed_size < -1) throw EZlibDataError();
  if (data_bytes > remaining) {
    // The file ends inside this text. When what is there is already corrupt,
    // that is the damage to report; otherwise the read past the end is.
    // Checked without a destination, so a forged size allocates nothing.
    CheckBlock(file, static_cast<uint32_t>(size));
    throw EInOutError("Read beyond end of file: " + file.Name());
  }
  if (compressed_size != -1 && static_cast<uint64_t>(size) > data_bytes * kMaxInflateRatio + 64)
    throw EZlibDataError();
  text.resize(static_cast<size_t>(size) + 1);
  text[static_cast<size_t>(size)] = 0;
  ReadBlock(file, text.data(), static_cast<uint32_t>(size));
}

template <typename Record>
void ReadList(TFile& file, int32_t count, std::vector<Record>& list) {
  list.clear();
  if (count <= 0) return;
  // Room for every record at once, but never for more blocks than the rest
  // of the file can hold: a damaged count must not allocate for itself.
  int64_t left = file.Size() - file.Position();
  int64_t fit = left > 0 ? left / static_cast<int64_t>(kBlockHeaderSize) : 0;
  list.reserve(static_cast<size_t>(count < fit ? count : fit));
  for (int32_t i = 0; i < count; ++i) {
    list.emplace_back();
    Record& r = list.back();
    ReadBlock(file, r.Raw, Record::RecordSize);
    if (!r.Valid()) throw EZlibDataError();
  }
}

}  // namespace

void LoadSetupScript(TFile& file, int64_t offset, SetupScript& s,
                     const std::function<void(const SetupHeader&)>& check_header) {
  file.Seek(offset);
  uint8_t id[8];
  file.ReadExact(id, sizeof id);
  for (size_t i = 0; i < sizeof id; ++i)
    if (id[i] != kSetupScriptID[i]) throw EScriptIDMismatch();

  ReadBlock(file, s.Header.Raw, SetupHeader::RecordSize);
  if (!s.Header.Valid()) throw EZlibDataError();
  if (check_header) check_header(s.Header);

  const SetupHeader& h = s.Header;
  ReadText(file, h.LicenseTextSize(), s.LicenseText);
  ReadText(file, h.InfoBeforeTextSize(), s.InfoBeforeText);
  ReadText(file, h.InfoAfterTextSize(), s.InfoAfterText);

  ReadList(file, h.DirEntryCount(), s.DirEntries);
  ReadList(file, h.FileEntryCount(), s.FileEntries);
  ReadList(file, h.FileEntryCount(), s.FileLocationEntries);
  ReadList(file, h.IconEntryCount(), s.IconEntries);
  ReadList(file, h.IniEntryCount(), s.IniEntries);
  ReadList(file, h.RegistryEntryCount(), s.RegistryEntries);
  ReadList(file, h.UninstallDeleteEntryCount(), s.UninstallDeleteEntries);
  ReadList(file, h.RunEntryCount(), s.RunEntries);
}

std::string FormatRequiredVersion(uint8_t major, uint8_t minor) {
  std::string minor_text = Format("%.2d", minor);
  while (!minor_text.empty() && minor_text.back() == '0') minor_text.pop_back();
  // A whole version (minor 0) would otherwise end with the point.
  if (minor_text.empty()) minor_text = "0";
  return Format("%d.%s", major, minor_text.c_str());
}

namespace {
bool Below(uint8_t major, uint8_t minor, uint8_t req_major, uint8_t req_minor) {
  return major < req_major || (major == req_major && minor < req_minor);
}
}  // namespace

std::string CheckWindowsVersion(const SetupHeader& h, bool is_nt, uint8_t major, uint8_t minor) {
  if (is_nt) {
    if (h.MinNTVersionMajor() == 0) return SNotOnWindowsNT;
    if (Below(major, minor, h.MinNTVersionMajor(), h.MinNTVersionMinor()))
      return Format(SRequiresWindowsNT,
                    FormatRequiredVersion(h.MinNTVersionMajor(), h.MinNTVersionMinor()).c_str());
  } else {
    if (h.MinWindowsVersionMajor() == 0) return SMustBeWindowsNT;
    if (Below(major, minor, h.MinWindowsVersionMajor(), h.MinWindowsVersionMinor()))
      return Format(SRequiresWindows, FormatRequiredVersion(h.MinWindowsVersionMajor(),
                                                            h.MinWindowsVersionMinor())
                                          .c_str());
  }
  return std::string();
}
