#include "undo/undolog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "common/exceptions.h"
#include "common/pathutil.h"
#include "common/strutil.h"

const char kUndoLogID[8] = {'u', 'q', 'z', '1', '0', '0', 'a', 0x1A};

std::string UndoRecord::String(int n) const {
  const char* p = Data();
  const char* end = p + DataLength;
  for (; n > 0 && p < end; --n) {
    const void* nul = std::memchr(p, 0, static_cast<size_t>(end - p));
    if (!nul) return std::string();
    p = static_cast<const char*>(nul) + 1;
  }
  if (n > 0 || p >= end) return std::string();
  const void* nul = std::memchr(p, 0, static_cast<size_t>(end - p));
  return std::string(p, nul ? static_cast<const char*>(nul) : end);
}

TUndoChanges::~TUndoChanges() { DiscardAll(); }

void TUndoChanges::AppendRaw(uint8_t kind, const void* data, uint32_t param, uint16_t size) {
  const uint16_t kept = size > kMaxUndoDataLength ? kMaxUndoDataLength : size;
  void* block = std::calloc(1, sizeof(UndoRecord) + kept);
  if (!block) throw EOutOfMemory();
  auto* r = new (block) UndoRecord{};
  r->Param = param;
  r->Kind = kind;
  r->DataLength = kept;
  char* dest = reinterpret_cast<char*>(r + 1);
  if (kept > 0) {
    std::memcpy(dest, data, kept);
    // Cut data still ends in a NUL, so its last string stays terminated.
    if (kept < size) dest[kept - 1] = '\0';
  }
  r->Prev = last_;
  r->Next = nullptr;
  if (last_)
    last_->Next = r;
  else
    first_ = r;
  last_ = r;
  ++count_;
  if (OnAppend) OnAppend(*r);
}

void TUndoChanges::AppendStrings(uint8_t kind, const std::vector<std::string>& strings,
                                 uint32_t param) {
  std::string block;
  for (const std::string& s : strings) {
    block += s;
    block += '\0';
  }
  // A block too long for the 16-bit size is cut like any over-long data
  // instead of wrapping round to a short one.
  const size_t size = block.size() > 0xFFFF ? 0xFFFF : block.size();
  AppendRaw(kind, block.data(), param, static_cast<uint16_t>(size));
}

void TUndoChanges::FreeRecord(UndoRecord* record) {
  if (record->Prev)
    record->Prev->Next = record->Next;
  else
    first_ = record->Next;
  if (record->Next)
    record->Next->Prev = record->Prev;
  else
    last_ = record->Prev;
  --count_;
  record->~UndoRecord();
  std::free(record);
}

void TUndoChanges::DiscardAll() {
  UndoRecord* r = first_;
  while (r) {
    UndoRecord* next = r->Next;
    r->~UndoRecord();
    std::free(r);
    r = next;
  }
  first_ = last_ = nullptr;
  count_ = 0;
  AppName.clear();
  AdminFlag = 0;
}

namespace {

void PutLE(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class TStdioLogOutput : public TLogOutput {
 public:
  explicit TStdioLogOutput(const std::string& name) : name_(name) {
    f_ = std::fopen(name.c_str(), "wb");
    if (!f_) Fail("creating");
  }
  ~TStdioLogOutput() override {
    if (f_) std::fclose(f_);
  }
  void Write(const void* data, size_t count) override {
    if (count > 0 && std::fwrite(data, 1, count, f_) != count) Fail("writing");
  }
  void SeekToStart() override {
    if (std::fseek(f_, 0, SEEK_SET) != 0) Fail("positioning");
  }
  void Close() override {
    std::FILE* f = f_;
    f_ = nullptr;
    if (f && std::fclose(f) != 0) Fail("closing");
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    const int code = errno;
    throw EInOutError(Format("I/O error %d %s \"%s\": %s", code, what, name_.c_str(),
                             std::strerror(code)));
  }
  std::FILE* f_ = nullptr;
  std::string name_;
};

}  // namespace

std::unique_ptr<TLogOutput> CreateStdioLogOutput(const std::string& name) {
  return std::make_unique<TStdioLogOutput>(name);
}

void TUndoChanges::WriteLogFile(const std::string& name) {
  WriteLogFile(name, CreateStdioLogOutput);
}

void TUndoChanges::WriteLogFile(const std::string& name, const TLogOutputFactory& create) {
  // The uninstaller reads exactly as many records as the header counts; a
  // count that wrapped round would lose the rest without a word.
  if (count_ > 0xFFFF)
    throw Exception(Format("The uninstall log cannot hold %lu entries", static_cast<unsigned long>(count_)));

  std::unique_ptr<TLogOutput> out = create(name);
  try {
    uint8_t header[kUndoLogHeaderSize] = {};
    out->Write(header, sizeof header);

    uint16_t count = 0;
    std::vector<uint8_t> buf;
    for (const UndoRecord* r = first_; r; r = r->Next) {
      buf.assign(kUndoRecordHeadSize + r->DataLength, 0);
      // The link areas only say whether there is a record before and after.
      PutLE(&buf[0], r->Prev ? 1 : 0, 4);
      PutLE(&buf[4], r->Next ? 1 : 0, 4);
      PutLE(&buf[8], r->Param, 4);
      buf[12] = r->Kind;
      PutLE(&buf[13], r->DataLength, 2);
      if (r->DataLength) std::memcpy(&buf[kUndoRecordHeadSize], r->Data(), r->DataLength);
      out->Write(buf.data(), buf.size());
      ++count;
    }

    std::memcpy(header, kUndoLogID, sizeof kUndoLogID);
    PutLE(&header[8], count, 2);
    const size_t len = AppName.size() > 63 ? 63 : AppName.size();
    header[10] = static_cast<uint8_t>(len);
    std::memcpy(&header[11], AppName.data(), len);
    header[74] = AdminFlag ? 1 : 0;
    out->SeekToStart();
    out->Write(header, sizeof header);
  } catch (...) {
    try {
      out->Close();
    } catch (const Exception&) {
      // the first failure is the one reported
    }
    throw;
  }
  out->Close();
}

// ---- what an uninstallation may delete ---------------------------------------

bool MayDeleteKeyTree(uint32_t root, const std::string& subkey) {
  std::vector<std::string> parts;
  if (root == 0x80000000u) parts = {"SOFTWARE", "CLASSES"};  // HKEY_CLASSES_ROOT
  std::string part;
  for (const char c : subkey + "\\") {
    if (c != '\\') {
      part += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    } else if (!part.empty()) {
      parts.push_back(part);
      part.clear();
    }
  }
  if (root == 0x80000003u) {  // HKEY_USERS: the user's own key comes first
    if (parts.empty()) return false;
    parts.erase(parts.begin());
  }
  if (parts.size() < 2) return false;
  auto starts = [&parts](std::initializer_list<const char*> prefix) {
    if (parts.size() < prefix.size()) return false;
    size_t i = 0;
    for (const char* p : prefix)
      if (parts[i++] != p) return false;
    return true;
  };
  const size_t n = parts.size();
  if (starts({"SOFTWARE", "MICROSOFT"}) && n <= 5 &&
      (n == 2 || parts[2] == "WINDOWS" || parts[2] == "WINDOWS NT") &&
      (n <= 3 || parts[3] == "CURRENTVERSION"))
    return false;  // up to the keys right below CurrentVersion
  if (starts({"SYSTEM", "CURRENTCONTROLSET"}) && n <= 3) return false;
  if (starts({"SOFTWARE", "CLASSES"})) {
    if (n == 2) return false;
    if (n == 3)
      for (const char* k : {"CLSID", "INTERFACE", "TYPELIB", "APPID", "*", "FOLDER", "DIRECTORY", "DRIVE"})
        if (parts[2] == k) return false;
  }
  return true;
}

// ---- reading a log back -------------------------------------------------------

namespace {

uint32_t GetLE(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// The strings each kind needs (the replay reads them). A file record's
// second string may be absent: the shortcut records carry the link alone.
int StringsNeeded(uint8_t kind) {
  static const int kNeeded[] = {1, 1, 2, 3, 2, 1, 1, 2, 1};
  return kind <= ukShellNotify ? kNeeded[kind] : 0;
}

bool IsRootKeyParam(uint32_t param) { return param >= 0x80000000u && param <= 0x80000006u; }

[[noreturn]] void Damaged(const std::string& what) {
  throw EUndoLogError(EUndoLogError::kDamaged, what);
}
[[noreturn]] void Truncated(const std::string& what) {
  throw EUndoLogError(EUndoLogError::kTruncated, what);
}

// The nth NUL-terminated string of a record's data (the data ends in a NUL).
std::string NthString(const char* data, uint16_t length, int n) {
  size_t at = 0;
  for (; n > 0 && at < length; --n) at += std::strlen(data + at) + 1;
  return at < length ? std::string(data + at) : std::string();
}

// What a log may not ask of the uninstaller, however well framed: a file or
// folder named without a full path (it would be looked for in the current
// directory), a registry tree that every program shares, Program Manager
// names that would end the command they are put into.
void CheckRecordMeaning(unsigned n, uint8_t kind, uint32_t param, const char* d, uint16_t length) {
  auto full_path = [n](const std::string& path) {
    if (!path.empty() && !IsFullPath(path)) Damaged(Format("record %u names \"%s\", which is not a full path", n, path.c_str()));
  };
  switch (kind) {
    case ukRemoveDir:
      full_path(NthString(d, length, 0));
      break;
    case ukDeleteFile: {
      full_path(NthString(d, length, 0));
      const std::string second = NthString(d, length, 1);
      if (!second.empty()) full_path(second);
      break;
    }
    case ukRegKeyTree: {
      const std::string key = NthString(d, length, 0);
      if (!MayDeleteKeyTree(param, key))
        Damaged(Format("record %u would delete the registry key %s\\%s with all it holds, a key that "
                       "every program shares",
                       n, RootKeyName(param).c_str(), key.c_str()));
      break;
    }
    case ukProgmanEntry:
      for (int i = 0; i < 2; ++i) {
        const std::string name = NthString(d, length, i);
        // The names go between double quotes: only a quote or a line
        // break would end them early.
        if (name.find_first_of("\"\r\n") != std::string::npos)
          Damaged(Format("record %u names the Program Manager %s \"%s\", which holds \" or a line break", n,
                         i == 0 ? "group" : "item", name.c_str()));
      }
      break;
    default:
      break;
  }
}

}  // namespace

std::string RootKeyName(uint32_t root) {
  static const char* const kNames[] = {"HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
                                       "HKEY_USERS",            "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG",
                                       "HKEY_DYN_DATA"};
  return IsRootKeyParam(root) ? kNames[root - 0x80000000u] : Format("0x%08lx", static_cast<unsigned long>(root));
}

void TUndoChanges::ReadLogData(const uint8_t* data, size_t size) {
  if (first_) throw Exception("ReadLogData needs an empty list");
  // The ID first: a file of another kind is told as such, also when short.
  const size_t idBytes = size < sizeof kUndoLogID ? size : sizeof kUndoLogID;
  if (size == 0) Truncated("the file is empty");
  bool zeros = true;
  for (size_t i = 0; i < idBytes; ++i) zeros = zeros && data[i] == 0;
  if (zeros && size >= sizeof kUndoLogID)
    Damaged("its header was never written (the installation stopped while writing it)");
  if (std::memcmp(data, kUndoLogID, idBytes) != 0)
    throw EUndoLogError(EUndoLogError::kNotALog, "it is not an uninstall log");
  if (size < kUndoLogHeaderSize)
    Truncated(Format("it ends inside its header (%lu of %lu bytes)", static_cast<unsigned long>(size),
                     static_cast<unsigned long>(kUndoLogHeaderSize)));

  const unsigned count = GetLE(data + 8, 2);
  // A script may leave the application without a name; its log is still
  // the installation's.
  const unsigned nameLength = data[10];
  if (nameLength > 63) Damaged(Format("its application name is %u characters long (63 at most)", nameLength));
  for (unsigned i = 0; i < nameLength; ++i)
    if (data[11 + i] < 32) Damaged("its application name holds a control character");
  for (unsigned i = 11 + nameLength; i < 74; ++i)
    if (data[i] != 0) Damaged("the bytes after its application name are not zero");
  if (data[74] > 1) Damaged(Format("its administrator flag is %u (0 or 1)", data[74]));
  if (data[75] || data[76] || data[77]) Damaged("the last bytes of its header are not zero");

  // Every record is checked before any is kept.
  struct TSpan {
    size_t offset;
    uint32_t param;
    uint8_t kind;
    uint16_t length;
  };
  std::vector<TSpan> spans;
  spans.reserve(count);
  size_t pos = kUndoLogHeaderSize;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned n = i + 1;
    if (size - pos < kUndoRecordHeadSize)
      Truncated(Format("it ends in the middle of record %u of %u", n, count));
    const uint8_t* head = data + pos;
    const bool firstLink = GetLE(head, 4) != 0, secondLink = GetLE(head + 4, 4) != 0;
    if (firstLink != (i > 0) || secondLink != (n < count))
      Damaged(Format("the links of record %u of %u do not match its place", n, count));
    const uint32_t param = GetLE(head + 8, 4);
    const uint8_t kind = head[12];
    const uint16_t length = static_cast<uint16_t>(GetLE(head + 13, 2));
    if (kind > ukShellNotify) Damaged(Format("record %u is of an unknown kind (%u)", n, kind));
    if (length > kMaxUndoDataLength)
      Damaged(Format("record %u declares %u data bytes (%u at most)", n, length, kMaxUndoDataLength));
    if (size - pos - kUndoRecordHeadSize < length)
      Truncated(Format("it ends in the middle of record %u of %u", n, count));
    const uint8_t* d = head + kUndoRecordHeadSize;
    if (length > 0 && d[length - 1] != 0) Damaged(Format("the last string of record %u is not terminated", n));
    int strings = 0;
    for (uint16_t j = 0; j < length; ++j) strings += d[j] == 0;
    if (strings < StringsNeeded(kind))
      Damaged(Format("record %u holds %d strings where its kind needs %d", n, strings, StringsNeeded(kind)));
    if ((kind == ukRegKeyTree || kind == ukRegKeyIfEmpty || kind == ukRegValue) && !IsRootKeyParam(param))
      Damaged(Format("record %u names no registry root (0x%08lx)", n, static_cast<unsigned long>(param)));
    // A folder or file record without a path (a directory or delete entry
    // whose text expanded to nothing) asks for nothing and is kept as it
    // is; a registry record without a key would name its root.
    if ((kind == ukRegKeyTree || kind == ukRegKeyIfEmpty || kind == ukRegValue) && d[0] == 0)
      Damaged(Format("record %u names no registry key", n));
    CheckRecordMeaning(n, kind, param, reinterpret_cast<const char*>(d), length);
    spans.push_back({pos + kUndoRecordHeadSize, param, kind, length});
    pos += kUndoRecordHeadSize + length;
  }
  if (pos != size)
    Damaged(Format("%lu bytes follow its last record (it declares %u records)",
                   static_cast<unsigned long>(size - pos), count));

  AppName.assign(reinterpret_cast<const char*>(data + 11), nameLength);
  AdminFlag = data[74];
  try {
    for (const TSpan& sp : spans) AppendRaw(sp.kind, data + sp.offset, sp.param, sp.length);
  } catch (...) {
    DiscardAll();
    throw;
  }
}

void TUndoChanges::ReadLogFile(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) {
    const int code = errno;
    throw EInOutError(Format("I/O error %d opening \"%s\": %s", code, name.c_str(), std::strerror(code)));
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + got);
  const bool failed = std::ferror(f) != 0;
  const int code = errno;
  std::fclose(f);
  if (failed)
    throw EInOutError(Format("I/O error %d reading \"%s\": %s", code, name.c_str(), std::strerror(code)));
  ReadLogData(bytes.data(), bytes.size());
}
