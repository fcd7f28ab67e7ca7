// Feeds arbitrary bytes to the installation journal's reader. It must never
// crash, hang or read out of bounds, and every record it returns must be one
// it read whole: the record encoded again is byte for byte the frame at the
// place it names, the frames follow each other without a gap, and none lies
// past the input's end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "undo/journal.h"

namespace {

void Check(const uint8_t* data, size_t size) {
  const TJournalContents c = ReadJournal(data, size);
  if (!c.HasHeader) {
    if (!c.Records.empty()) std::abort();
    return;
  }
  const std::string start = EncodeJournalStart(c.Header);
  if (start.size() > size || std::memcmp(start.data(), data, start.size()) != 0) std::abort();
  size_t at = start.size();
  for (const TJournalRecord& r : c.Records) {
    if (r.Offset != at || r.Size > size - at) std::abort();
    const std::string frame = EncodeJournalFrame(r);
    if (frame.size() != r.Size || std::memcmp(frame.data(), data + at, frame.size()) != 0) std::abort();
    at += r.Size;
  }
  if (c.Used != at || c.Whole != (at == size)) std::abort();
  (void)PlanRecovery(c);
}

void PutLE32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

}  // namespace

// The input as it is, then the input cut into payloads that are framed with
// their right lengths and checksums behind the ID (so that the payload
// parser is reached without a seed corpus), the last byte choosing where
// the result is cut.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(data, size);
  std::string framed(kJournalID, sizeof kJournalID);
  size_t at = 0;
  while (at < size) {
    const size_t n = 1 + data[at] % 48;
    ++at;
    const size_t take = n < size - at ? n : size - at;
    std::string payload(reinterpret_cast<const char*>(data + at), take);
    at += take;
    if (framed.size() == sizeof kJournalID && !payload.empty()) payload[0] = 0;  // the header's type
    std::string head;
    PutLE32(head, static_cast<uint32_t>(payload.size()));
    PutLE32(head, Crc32(payload.data(), payload.size(), Crc32(head.data(), 4)));
    framed += head + payload;
  }
  const size_t cut = size > 0 ? framed.size() - (data[size - 1] % 16 < framed.size() ? data[size - 1] % 16 : 0)
                              : framed.size();
  Check(reinterpret_cast<const uint8_t*>(framed.data()), cut);
  return 0;
}
