#include "undo/undolog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/exceptions.h"
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
