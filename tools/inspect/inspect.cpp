#include "tools/inspect/inspect.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "loader/attachment.h"
#include "setupdata/zlibblock.h"
#include "tools/qvbuild/description.h"
#include "tools/qvbuild/pefile.h"

namespace qvinspect {

using json = nlohmann::ordered_json;

namespace {

const char kSourceCorrupted[] = "The source file is corrupted";
const uint8_t kDiskID[8] = {'q', 'd', 's', 'k', 'a', '3', '2', 0x1A};
const uint8_t kMarker[4] = {'z', 'l', 'b', 0x1A};

// Script texts are single-byte; JSON wants UTF-8.
std::string Utf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

json Flags(uint8_t value, const std::vector<qvbuild::FlagName>& names) {
  json a = json::array();
  uint8_t known = 0;
  for (const auto& n : names) {
    known |= n.Mask;
    if (value & n.Mask) a.push_back(n.Name);
  }
  for (int bit = 0; bit < 8; ++bit)
    if ((value & ~known) & (1 << bit)) {
      char b[8];
      std::snprintf(b, sizeof b, "0x%02X", 1 << bit);
      a.push_back(b);  // a bit without a name: shown, so nothing is hidden
    }
  return a;
}

json Name(size_t index, const std::vector<const char*>& names) {
  if (index < names.size()) return names[index];
  return index;
}

std::string Color(int32_t c) {
  uint32_t v = static_cast<uint32_t>(c);
  char b[32];
  if (v & 0x80000000u) {
    uint32_t index = v & 0xFF;
    if (index < qvbuild::kSystemColorNames.size() && (v & 0x7FFFFF00u) == 0)
      return qvbuild::kSystemColorNames[index];
    std::snprintf(b, sizeof b, "system:%u", index);
    return b;
  }
  std::snprintf(b, sizeof b, "#%02X%02X%02X", v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF);
  return b;
}

std::string FileTimeText(uint32_t low, uint32_t high) {
  uint64_t ft = static_cast<uint64_t>(high) << 32 | low;
  int64_t secs = static_cast<int64_t>(ft / 10000000u) - 11644473600;
  std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
#if defined(_WIN32)
  if (gmtime_s(&tm, &t) != 0) return "";
#else
  if (!gmtime_r(&t, &tm)) return "";
#endif
  char b[32];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
  return b;
}

std::string Version(uint8_t major, uint8_t minor) {
  return FormatRequiredVersion(major, minor);
}

}  // namespace

void LoadScriptFile(const std::string& path, int64_t offset, SetupScript& script) {
  try {
    TStdioFile file(path);
    LoadScript(file, offset, script);
  } catch (const Exception& e) {
    throw EScriptFault(e.Message());
  }
}

void LoadScript(TFile& file, int64_t offset, SetupScript& script) {
  try {
    LoadSetupScript(file, offset, script);
  } catch (const EScriptIDMismatch&) {
    throw EScriptFault(SScriptIDMismatch);
  } catch (const EZlibDataError&) {
    throw EScriptFault(SScriptCorrupted);
  } catch (const Exception& e) {
    throw EScriptFault(e.Message());
  }
}

json ScriptToJson(const SetupScript& s) {
  const SetupHeader& h = s.Header;
  json j;
  json hj;
  hj["appName"] = Utf8(h.ApplicationName());
  hj["appVersionName"] = Utf8(h.ApplicationVersionName());
  hj["subtitle"] = Utf8(h.BackgroundSubtitle());
  hj["defaultDir"] = Utf8(h.DefaultDirectory());
  hj["defaultGroup"] = Utf8(h.DefaultProgramFolder());
  hj["minWindowsVersion"] = Version(h.MinWindowsVersionMajor(), h.MinWindowsVersionMinor());
  hj["minNTVersion"] = Version(h.MinNTVersionMajor(), h.MinNTVersionMinor());
  hj["backgroundColor"] = Color(h.BackgroundColor());
  hj["flags"] = Flags(h.Flags(), qvbuild::kHeaderFlagNames);
  j["header"] = hj;
  j["texts"] = {{"licenseSize", h.LicenseTextSize()},
                {"infoBeforeSize", h.InfoBeforeTextSize()},
                {"infoAfterSize", h.InfoAfterTextSize()}};
  j["totalFileSize"] = s.TotalFileSize();

  json dirs = json::array();
  for (const auto& d : s.DirEntries) dirs.push_back({{"name", Utf8(d.DirName())}});
  j["dirs"] = dirs;

  json files = json::array();
  for (size_t i = 0; i < s.FileEntries.size(); ++i) {
    const SetupFileEntry& f = s.FileEntries[i];
    json e;
    e["dest"] = Utf8(f.DestName());
    e["copyMode"] = Name(f.CopyMode(), qvbuild::kCopyModeNames);
    e["flags"] = Flags(f.FileFlags(), qvbuild::kFileFlagNames);
    e["size"] = f.Size();
    e["compressedSize"] = f.CompressedSize();
    e["checksum"] = f.Checksum();
    uint32_t ms = static_cast<uint32_t>(f.FileVersionMS());
    uint32_t ls = static_cast<uint32_t>(f.FileVersionLS());
    if (ms == 0xFFFFFFFFu && ls == 0xFFFFFFFFu)
      e["version"] = nullptr;
    else
      e["version"] = qvbuild::FormatFileVersion(ms, ls);
    e["sourceTime"] = {{"low", f.SourceTimeLow()},
                       {"high", f.SourceTimeHigh()},
                       {"utc", FileTimeText(f.SourceTimeLow(), f.SourceTimeHigh())}};
    if (i < s.FileLocationEntries.size()) {
      const SetupFileLocationEntry& l = s.FileLocationEntries[i];
      e["firstDisk"] = l.FirstDisk();
      e["lastDisk"] = l.LastDisk();
      e["startOffset"] = l.StartOffset();
    }
    files.push_back(e);
  }
  j["files"] = files;

  json icons = json::array();
  for (const auto& i : s.IconEntries)
    icons.push_back({{"name", Utf8(i.IconName())},
                     {"file", Utf8(i.FileName())},
                     {"parameters", Utf8(i.Parameters())},
                     {"workingDir", Utf8(i.WorkingDir())},
                     {"iconFile", Utf8(i.IconFile())},
                     {"iconIndex", i.IconIndex()}});
  j["icons"] = icons;

  json inis = json::array();
  for (const auto& i : s.IniEntries)
    inis.push_back({{"file", Utf8(i.IniFileName())},
                    {"section", Utf8(i.Section())},
                    {"key", Utf8(i.Key())},
                    {"value", Utf8(i.Value())},
                    {"flags", Flags(i.IniFlags(), qvbuild::kIniFlagNames)}});
  j["ini"] = inis;

  json regs = json::array();
  for (const auto& r : s.RegistryEntries) {
    json e;
    uint32_t root = r.RootKey();
    if (root >= 0x80000000u && root - 0x80000000u < qvbuild::kRootKeyNames.size())
      e["root"] = qvbuild::kRootKeyNames[root - 0x80000000u];
    else
      e["root"] = root;
    e["subkey"] = Utf8(r.SubKey());
    e["valueName"] = Utf8(r.ValueName());
    e["type"] = Name(r.ValueType(), qvbuild::kValueTypeNames);
    switch (r.ValueType()) {
      case rtString:
        e["data"] = Utf8(r.StringData());
        break;
      case rtDWord:
        e["data"] = static_cast<uint32_t>(r.NumberData());
        break;
      case rtBinary: {
        std::string hex;
        for (size_t k = 0; k < r.BinaryLength(); ++k) {
          char b[4];
          std::snprintf(b, sizeof b, "%s%02x", k ? " " : "", r.BinaryData()[k]);
          hex += b;
        }
        e["data"] = hex;
        break;
      }
      default:
        break;
    }
    e["flags"] = Flags(r.RegFlags(), qvbuild::kRegistryFlagNames);
    regs.push_back(e);
  }
  j["registry"] = regs;

  json dels = json::array();
  for (const auto& u : s.UninstallDeleteEntries) dels.push_back({{"path", Utf8(u.DeletePath())}});
  j["uninstallDelete"] = dels;

  json runs = json::array();
  for (const auto& r : s.RunEntries)
    runs.push_back({{"file", Utf8(r.FileName())},
                    {"parameters", Utf8(r.Parameters())},
                    {"flags", Flags(r.RunFlags(), qvbuild::kRunFlagNames)}});
  j["run"] = runs;
  return j;
}

namespace {

// A fault of the file data: the message setup.exe shows, and where.
class EDataFault : public std::runtime_error {
 public:
  EDataFault(const std::string& detail) : std::runtime_error(detail) {}
};

std::string DiskPath(const std::string& dir, int n) {
  std::string name = "SETUP." + std::to_string(n);
  if (dir.empty()) return name;
  char last = dir.back();
  return dir + (last == '/' || last == '\\' ? "" : "/") + name;
}

bool Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Checks disk data file f (named path; null when it is not there) by its
// 12-byte header; throws EDataFault.
void CheckDisk(TFile* f, const std::string& path) {
  if (!f) throw EDataFault(path + ": disk data file not found");
  uint8_t header[12];
  if (f->Size() < 12) throw EDataFault(path + ": shorter than its 12-byte header");
  f->ReadExact(header, 12);
  if (std::memcmp(header, kDiskID, 8) != 0)
    throw EDataFault(path + ": " + kSourceCorrupted + " (wrong disk file ID)");
  uint32_t total = header[8] | header[9] << 8 | header[10] << 16 |
                   static_cast<uint32_t>(header[11]) << 24;
  if (static_cast<int64_t>(total) != f->Size())
    throw EDataFault(path + ": " + kSourceCorrupted + " (total size field " +
                     std::to_string(total) + ", file size " + std::to_string(f->Size()) + ")");
}

std::unique_ptr<TFile> OpenDisk(const TDataFiles& files, int n) {
  std::unique_ptr<TFile> f = files.OpenDisk(n);
  CheckDisk(f.get(), files.DiskName(n));
  return f;
}

struct Span {
  const TDataFiles* files = nullptr;
  std::unique_ptr<TFile> owned;  // the disk now open (disk data files)
  TFile* file = nullptr;
  int current = 0, last = 0;
  int64_t bytes_left = 0, expected = 0, written = 0;
  std::string reason;
};

uint32_t SpanRead(void* buffer, uint32_t capacity, void* context) {
  Span& s = *static_cast<Span*>(context);
  int64_t want = s.bytes_left < capacity ? s.bytes_left : capacity;
  uint32_t result = static_cast<uint32_t>(want);
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (want != 0) {
    size_t got = s.file->ReadSome(p, static_cast<size_t>(want));
    s.bytes_left -= static_cast<int64_t>(got);
    if (static_cast<int64_t>(got) == want) break;
    want -= static_cast<int64_t>(got);
    p += got;
    if (s.current == s.last) {
      s.reason = "the stream ends before its compressed size on disk " + std::to_string(s.current);
      throw Exception(kSourceCorrupted);
    }
    ++s.current;
    s.owned = OpenDisk(*s.files, s.current);
    s.file = s.owned.get();
  }
  return result;
}

uint32_t BoundedWrite(const void*, uint32_t count, void* context) {
  Span& s = *static_cast<Span*>(context);
  if (s.written + count > s.expected) {
    s.reason = "the stream yields more than the file's size";
    throw Exception(kSourceCorrupted);
  }
  s.written += count;
  return count;
}

}  // namespace

VerifyResult VerifyData(const SetupScript& s, const std::string& script_path,
                        const std::string& dir, uint32_t data_offset) {
  TDataFiles files;
  files.ScriptName = script_path;
  files.OpenScript = [&script_path] { return std::make_unique<TStdioFile>(script_path); };
  files.DiskName = [&dir](int n) { return DiskPath(dir, n); };
  files.OpenDisk = [&dir](int n) -> std::unique_ptr<TFile> {
    const std::string path = DiskPath(dir, n);
    if (!Exists(path)) return nullptr;
    return std::make_unique<TStdioFile>(path);
  };
  return VerifyData(s, files, data_offset);
}

VerifyResult VerifyData(const SetupScript& s, const TDataFiles& data, uint32_t data_offset) {
  VerifyResult r;
  bool embedded = data_offset != 0;
  json disks = json::array();
  int max_disk = 0;
  for (const auto& l : s.FileLocationEntries)
    if (l.LastDisk() > max_disk) max_disk = l.LastDisk();
  // The disks are checked from the first for as long as they are there;
  // the first one missing is the last listed. A last disk far beyond the
  // data (a damaged entry says 2147483647) costs one fault, not one per
  // disk; a file that starts on a later disk finds it missing itself.
  std::vector<bool> disk_ok(1, true);
  if (!embedded) {
    for (int n = 1; n <= max_disk; ++n) {
      json dj = {{"name", "SETUP." + std::to_string(n)}};
      bool ok = true, missing = false;
      try {
        const std::unique_ptr<TFile> f = data.OpenDisk(n);
        missing = !f;
        CheckDisk(f.get(), data.DiskName(n));
        dj["size"] = f->Size();
      } catch (const std::exception& e) {
        ok = false;
        r.Faults.push_back(e.what());
      }
      dj["ok"] = ok;
      disk_ok.push_back(ok);
      disks.push_back(dj);
      if (missing) break;
    }
  }
  r.Report["disks"] = disks;

  json files = json::array();
  for (size_t i = 0; i < s.FileEntries.size(); ++i) {
    const SetupFileEntry& f = s.FileEntries[i];
    const SetupFileLocationEntry& l = s.FileLocationEntries[i];
    std::string entry = "files[" + std::to_string(i) + "] (" + Utf8(f.DestName()) + ")";
    std::string source = embedded ? data.ScriptName : data.DiskName(l.FirstDisk());
    json fj = {{"index", i}, {"dest", Utf8(f.DestName())}};
    Span span;
    span.files = &data;
    try {
      if (l.FirstDisk() < 1 || l.LastDisk() < l.FirstDisk() || l.StartOffset() < 0 ||
          f.Size() < 0 || f.CompressedSize() < 0)
        throw EDataFault(source + ": " + entry + ": " + kSourceCorrupted +
                         " (impossible location or sizes)");
      if (!embedded && static_cast<size_t>(l.FirstDisk()) < disk_ok.size() &&
          !disk_ok[static_cast<size_t>(l.FirstDisk())])
        throw EDataFault(source + ": " + entry + ": not checked, its disk data file is faulty");
      span.owned = embedded ? data.OpenScript() : OpenDisk(data, l.FirstDisk());
      span.file = span.owned.get();
      int64_t pos = static_cast<int64_t>(data_offset) + l.StartOffset();
      uint8_t marker[4];
      if (pos + 4 > span.file->Size() ||
          (span.file->Seek(pos), span.file->ReadExact(marker, 4), std::memcmp(marker, kMarker, 4) != 0))
        throw EDataFault(source + ": " + entry + ": " + kSourceCorrupted +
                         " (no file data marker at offset " + std::to_string(pos) + ")");
      span.current = l.FirstDisk();
      span.last = l.LastDisk();
      span.bytes_left = f.CompressedSize();
      span.expected = f.Size();
      uint32_t checksum = 0;
      bool done;
      try {
        done = DecompressStream(SpanRead, BoundedWrite, &span, checksum);
      } catch (const EZlibDataError&) {
        throw EDataFault(source + ": " + entry + ": " + kSourceCorrupted + " (corrupt zlib stream)");
      } catch (const EDataFault& e) {  // a later disk of the stream
        throw EDataFault(std::string(e.what()) + " (while reading " + entry + ")");
      } catch (const EZlibInternalError& e) {
        throw EDataFault(source + ": " + entry + ": " + e.what());
      } catch (const Exception& e) {
        throw EDataFault(source + ": " + entry + ": " + e.Message() +
                         (span.reason.empty() ? "" : " (" + span.reason + ")"));
      }
      if (!done || span.written != f.Size())
        throw EDataFault(source + ": " + entry + ": " + kSourceCorrupted + " (" +
                         std::to_string(span.written) + " bytes decompressed, " +
                         std::to_string(f.Size()) + " expected)");
      if (checksum != f.Checksum()) {
        char b[96];
        std::snprintf(b, sizeof b, " (Adler-32 %08X, expected %08X)", checksum, f.Checksum());
        throw EDataFault(source + ": " + entry + ": " + kSourceCorrupted + b);
      }
      fj["ok"] = true;
      fj["size"] = span.written;
      fj["checksum"] = checksum;
    } catch (const EDataFault& e) {
      fj["ok"] = false;
      fj["fault"] = e.what();
      r.Faults.push_back(e.what());
    } catch (const Exception& e) {  // file layer: a read past the end, ...
      std::string msg = source + ": " + entry + ": " + e.Message();
      fj["ok"] = false;
      fj["fault"] = msg;
      r.Faults.push_back(msg);
    }
    files.push_back(fj);
  }
  r.Report["files"] = files;
  r.Report["ok"] = r.Ok();
  return r;
}

namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AttachmentInfo ReadAttachment(const std::string& path) {
  AttachmentInfo info;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return info;
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{f};
  if (std::fseek(f, 0, SEEK_END) != 0) return info;
  const long size = std::ftell(f);
  uint8_t trailer[QV_TRAILER_SIZE];
  if (size < static_cast<long>(QV_TRAILER_SIZE) || std::fseek(f, size - QV_TRAILER_SIZE, SEEK_SET) != 0 ||
      std::fread(trailer, 1, sizeof trailer, f) != sizeof trailer)
    return info;
  TAttachment a{};
  const uint32_t size32 = size > 0x7FFFFFFFL ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
  switch (CheckAttachmentTrailer(trailer, size32, &a)) {
    case acMissing: return info;
    case acChecksum: info.Found = true; info.Fault = "the attachment's trailer is damaged (its checksum is wrong)"; return info;
    case acSize:
      info.Found = true;
      info.Fault = "the file is " + std::to_string(size) + " bytes long, its attachment's trailer says " +
                   std::to_string(a.FileSize) + " (cut short or padded)";
      return info;
    case acLayout: info.Found = true; info.Fault = "the attachment's trailer places its parts out of order"; return info;
    case acOk: break;
  }
  info.Found = true;
  info.SetupOffset = a.SetupOffset;
  info.SetupSize = a.SetupSize;
  info.ScriptOffset = a.ScriptOffset;
  info.DataOffset = a.DataOffset;
  uint32_t adler = 1;
  uint8_t buf[65536];
  std::fseek(f, static_cast<long>(a.SetupOffset), SEEK_SET);
  for (uint32_t left = a.SetupSize; left > 0;) {
    const size_t n = std::fread(buf, 1, left < sizeof buf ? left : sizeof buf, f);
    if (n == 0) break;
    adler = QvAdler32(adler, buf, static_cast<uint32_t>(n));
    left -= static_cast<uint32_t>(n);
  }
  if (adler != a.SetupChecksum) info.Fault = "the setup.exe it carries is damaged (its Adler-32 is wrong)";
  return info;
}

void VerifyDistribution(const std::string& script_path, uint32_t script_offset, uint32_t data_offset) {
  const AttachmentInfo a = ReadAttachment(script_path);
  if (a.Found && !a.Fault.empty()) throw EScriptFault(script_path + ": " + a.Fault);
  if (a.Found && (a.ScriptOffset != script_offset || a.DataOffset != data_offset))
    throw EScriptFault(script_path + ": the attachment's trailer names other offsets than the build's");
  SetupScript script;
  LoadScriptFile(script_path, script_offset, script);
  const VerifyResult v = VerifyData(script, script_path, DirectoryOf(script_path), data_offset);
  std::string faults;
  for (const std::string& f : v.Faults) faults += (faults.empty() ? "" : "; ") + f;
  if (!v.Ok()) throw EScriptFault(faults);
}

namespace {

bool ParseUInt(const std::string& s, uint64_t max, uint64_t& v) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 12)
    return false;
  v = std::stoull(s);
  return v <= max;
}

const char kUsage[] =
    "usage: qvinspect SETUP.0 [--offset N] [--verify] [--data-offset N]\n"
    "  A single-file setup (qvbuild --media single) names its own offsets.\n"
    "  --offset N        the script starts at byte N of the file (single-file layout)\n"
    "  --verify          check the disk data files beside the script (SETUP.1 ...)\n"
    "  --data-offset N   the file data lies in the same file from byte N (single-file layout)\n";

}  // namespace

int RunInspect(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::string path;
  uint64_t offset = 0, data_offset = 0;
  bool verify = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--offset" || a == "--data-offset") {
      uint64_t v;
      if (i + 1 >= args.size() || !ParseUInt(args[i + 1], 0x7FFFFFFFu, v)) {
        err = "qvinspect: " + a + " needs an offset in bytes\n";
        return 2;
      }
      (a == "--offset" ? offset : data_offset) = v;
      ++i;
    } else if (a == "--verify") {
      verify = true;
    } else if (a == "-h" || a == "--help") {
      out = kUsage;
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      err = "qvinspect: unknown option " + a + "\n" + kUsage;
      return 2;
    } else if (path.empty()) {
      path = a;
    } else {
      err = "qvinspect: more than one script given\n";
      return 2;
    }
  }
  if (path.empty()) {
    err = kUsage;
    return 2;
  }
  if (data_offset != 0) verify = true;
  // A single-file setup says itself where its script and data lie.
  const AttachmentInfo attachment = ReadAttachment(path);
  if (attachment.Found) {
    if (!attachment.Fault.empty()) {
      err = "qvinspect: " + path + ": " + attachment.Fault + "\n";
      return 1;
    }
    if (offset == 0 && data_offset == 0) {
      offset = attachment.ScriptOffset;
      data_offset = attachment.DataOffset;
    }
  }
  SetupScript script;
  try {
    LoadScriptFile(path, static_cast<int64_t>(offset), script);
  } catch (const EScriptFault& e) {
    err = "qvinspect: " + path + ": " + e.what() + "\n";
    return 1;
  }
  json j;
  j["script"] = {{"file", path}, {"offset", offset}};
  if (attachment.Found)
    j["attachment"] = {{"setupOffset", attachment.SetupOffset}, {"setupSize", attachment.SetupSize},
                       {"scriptOffset", attachment.ScriptOffset}, {"dataOffset", attachment.DataOffset}};
  json body = ScriptToJson(script);
  for (auto it = body.begin(); it != body.end(); ++it) j[it.key()] = it.value();
  int status = 0;
  if (verify) {
    VerifyResult v = VerifyData(script, path, DirectoryOf(path), static_cast<uint32_t>(data_offset));
    j["verify"] = v.Report;
    for (const std::string& f : v.Faults) err += "qvinspect: " + f + "\n";
    if (!v.Ok()) status = 1;
  }
  out = j.dump(2) + "\n";
  return status;
}

}  // namespace qvinspect
