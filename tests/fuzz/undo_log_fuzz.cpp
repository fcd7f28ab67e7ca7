// Feeds arbitrary bytes to the uninstaller's reading of its log. A log is
// either read whole, every record as the file holds it, and written back
// byte for byte (the link areas only say whether a neighbour is there), or
// refused with EUndoLogError, leaving the list empty.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "undo/undolog.h"

namespace {

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "undo_log_fuzz: %s\n", what);
  std::abort();
}

class TMemoryLogOutput : public TLogOutput {
 public:
  explicit TMemoryLogOutput(std::vector<uint8_t>& out) : out_(out) {}
  void Write(const void* data, size_t count) override {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < count; ++i) {
      if (at_ < out_.size())
        out_[at_] = p[i];
      else
        out_.push_back(p[i]);
      ++at_;
    }
  }
  void SeekToStart() override { at_ = 0; }
  void Close() override {}

 private:
  std::vector<uint8_t>& out_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TUndoChanges log;
  try {
    log.ReadLogData(data, size);
  } catch (const EUndoLogError&) {
    Require(!log.First() && !log.Last() && log.Count() == 0, "a refused log left records behind");
    Require(log.AppName.empty() && log.AdminFlag == 0, "a refused log left its name or flag behind");
    return 0;
  }
  // Read whole: as many records as the header counts, each with the file's
  // own parameter, kind and data.
  Require(size >= kUndoLogHeaderSize, "a log shorter than its header was read");
  Require(log.Count() == static_cast<size_t>(data[8] | data[9] << 8), "the record count differs from the header");
  std::vector<uint8_t> expected(data, data + size);
  size_t pos = kUndoLogHeaderSize;
  size_t n = 0;
  for (const UndoRecord* r = log.First(); r; r = r->Next, ++n) {
    Require(pos + kUndoRecordHeadSize + r->DataLength <= size, "a record runs past the file");
    const uint8_t* head = data + pos;
    Require(r->Param == static_cast<uint32_t>(head[8] | head[9] << 8 | head[10] << 16 | uint32_t(head[11]) << 24),
            "a record's parameter differs from the file");
    Require(r->Kind == head[12] && r->DataLength == (head[13] | head[14] << 8), "a record's kind or length differs");
    Require(r->DataLength == 0 || std::memcmp(r->Data(), head + kUndoRecordHeadSize, r->DataLength) == 0,
            "a record's data differs from the file");
    Require((r->Prev != nullptr) == (n > 0) && (r->Next != nullptr) == (n + 1 < log.Count()),
            "the list's links do not match the record's place");
    for (int link = 0; link < 2; ++link) {
      const bool set = head[4 * link] | head[4 * link + 1] | head[4 * link + 2] | head[4 * link + 3];
      std::memset(&expected[pos + 4 * link], 0, 4);
      expected[pos + 4 * link] = set ? 1 : 0;
    }
    pos += kUndoRecordHeadSize + r->DataLength;
  }
  Require(n == log.Count() && pos == size, "the records do not cover the file");
  std::vector<uint8_t> written;
  log.WriteLogFile("UNINST1.000", [&written](const std::string&) {
    return std::unique_ptr<TLogOutput>(new TMemoryLogOutput(written));
  });
  Require(written == expected, "the log written back differs from the log read");
  return 0;
}
