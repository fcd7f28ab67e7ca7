#include "undo/journal.h"

#include <cstring>

const char kJournalID[8] = {'q', 'v', 'j', 'r', 'n', 'l', '1', 0x1A};

uint32_t Crc32(const void* data, size_t size, uint32_t crc) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TJournalRecord JournalUndoRecord(uint8_t kind, const std::vector<std::string>& strings, uint32_t param) {
  TJournalRecord r;
  r.Type = jrUndo;
  r.Kind = kind;
  r.Param = param;
  for (const std::string& s : strings) {
    r.Data += s;
    r.Data += '\0';
  }
  // Cut as the change log cuts it, so that the two compare equal.
  if (r.Data.size() > kMaxUndoDataLength) {
    r.Data.resize(kMaxUndoDataLength);
    r.Data.back() = '\0';
  }
  return r;
}

TJournalRecord JournalUndoRecord(const UndoRecord& record) {
  TJournalRecord r;
  r.Type = jrUndo;
  r.Kind = record.Kind;
  r.Param = record.Param;
  r.Data.assign(record.Data(), record.DataLength);
  return r;
}

namespace {

void Put(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(static_cast<uint8_t>(v >> (8 * i)));
}

// Strings are a 16-bit length and the bytes; longer ones are cut (no path
// comes near it).
void PutString(std::string& out, const std::string& s) {
  const size_t n = s.size() > 0xFFFF ? 0xFFFF : s.size();
  Put(out, n, 2);
  out.append(s, 0, n);
}

std::string Payload(const TJournalRecord& r) {
  std::string p(1, static_cast<char>(r.Type));
  switch (r.Type) {
    case jrUndo:
      Put(p, r.Kind, 1);
      Put(p, r.Param, 4);
      PutString(p, r.Data);
      break;
    case jrTempFile:
    case jrNewFile:
    case jrCreating:
      PutString(p, r.Path);
      break;
    case jrSafetyCopy:
      PutString(p, r.Path);
      PutString(p, r.Other);
      Put(p, r.Attributes, 4);
      break;
    case jrAttributes:
      PutString(p, r.Path);
      Put(p, r.Attributes, 4);
      break;
    case jrRestartReplace:
      PutString(p, r.Path);
      PutString(p, r.Other);
      break;
    case jrSharedCount:
      PutString(p, r.Path);
      Put(p, r.Existed ? 1 : 0, 1);
      Put(p, r.ValueType, 4);
      PutString(p, r.Data);
      break;
    default:  // jrWithdraw, jrCommitted, jrEnded: the type alone
      break;
  }
  return p;
}

std::string Frame(const std::string& payload) {
  std::string f;
  Put(f, payload.size(), 4);
  Put(f, Crc32(payload.data(), payload.size(), Crc32(f.data(), 4)), 4);
  return f + payload;
}

// Reads a payload field by field; any read past its end, or bytes left
// over, make it bad.
class TPayloadReader {
 public:
  TPayloadReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && at_ == n_; }
  uint64_t Number(int bytes) {
    if (!ok_ || n_ - at_ < static_cast<size_t>(bytes)) return ok_ = false, 0;
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p_[at_ + static_cast<size_t>(i)];
    at_ += static_cast<size_t>(bytes);
    return v;
  }
  std::string String() {
    const size_t len = static_cast<size_t>(Number(2));
    if (!ok_ || n_ - at_ < len) return ok_ = false, std::string();
    std::string s(reinterpret_cast<const char*>(p_ + at_), len);
    at_ += len;
    return s;
  }
  // A path: not empty, no NUL.
  std::string Path() {
    std::string s = String();
    if (s.empty() || s.find('\0') != std::string::npos) ok_ = false;
    return s;
  }

 private:
  const uint8_t* p_;
  size_t n_, at_ = 0;
  bool ok_ = true;
};

bool ParseRecord(const uint8_t* p, size_t n, TJournalRecord& r) {
  TPayloadReader in(p, n);
  r.Type = static_cast<uint8_t>(in.Number(1));
  switch (r.Type) {
    case jrUndo:
      r.Kind = static_cast<uint8_t>(in.Number(1));
      r.Param = static_cast<uint32_t>(in.Number(4));
      r.Data = in.String();
      // As the change log holds them: NUL-terminated strings, of a known kind.
      if (r.Kind > ukShellNotify || r.Data.size() > kMaxUndoDataLength ||
          (!r.Data.empty() && r.Data.back() != '\0'))
        return false;
      break;
    case jrTempFile:
    case jrNewFile:
    case jrCreating:
      r.Path = in.Path();
      break;
    case jrSafetyCopy:
      r.Path = in.Path();
      r.Other = in.Path();
      r.Attributes = static_cast<uint32_t>(in.Number(4));
      break;
    case jrAttributes:
      r.Path = in.Path();
      r.Attributes = static_cast<uint32_t>(in.Number(4));
      break;
    case jrRestartReplace:
      r.Path = in.Path();
      r.Other = in.Path();
      break;
    case jrSharedCount: {
      r.Path = in.Path();
      const uint64_t existed = in.Number(1);
      r.ValueType = static_cast<uint32_t>(in.Number(4));
      r.Data = in.String();
      if (existed > 1) return false;
      r.Existed = existed == 1;
      break;
    }
    case jrWithdraw:
    case jrCommitted:
    case jrEnded:
      break;
    default:
      return false;
  }
  return in.AtEnd();
}

bool ParseHeader(const uint8_t* p, size_t n, TJournalHeader& h) {
  TPayloadReader in(p, n);
  if (in.Number(1) != jrHeader) return false;
  h.ProcessId = static_cast<uint32_t>(in.Number(4));
  h.Started = in.Number(8);
  h.AppName = in.String();
  h.AppDir = in.String();
  return in.AtEnd();
}

// The payload of the frame at data[at], when the frame is whole and its
// checksum holds.
bool NextFrame(const uint8_t* data, size_t size, size_t at, const uint8_t*& payload, size_t& length) {
  if (size - at < kJournalFrameHeadSize) return false;
  const uint8_t* head = data + at;
  const uint32_t n = static_cast<uint32_t>(head[0] | head[1] << 8 | head[2] << 16) |
                     static_cast<uint32_t>(head[3]) << 24;
  const uint32_t crc = static_cast<uint32_t>(head[4] | head[5] << 8 | head[6] << 16) |
                       static_cast<uint32_t>(head[7]) << 24;
  if (n == 0 || n > kMaxJournalPayload || size - at - kJournalFrameHeadSize < n) return false;
  payload = head + kJournalFrameHeadSize;
  length = n;
  return Crc32(payload, n, Crc32(head, 4)) == crc;
}

}  // namespace

std::string EncodeJournalStart(const TJournalHeader& header) {
  std::string p(1, static_cast<char>(jrHeader));
  Put(p, header.ProcessId, 4);
  Put(p, header.Started, 8);
  PutString(p, header.AppName);
  PutString(p, header.AppDir);
  return std::string(kJournalID, sizeof kJournalID) + Frame(p);
}

std::string EncodeJournalFrame(const TJournalRecord& record) { return Frame(Payload(record)); }

TJournalContents ReadJournal(const uint8_t* data, size_t size) {
  TJournalContents c;
  if (size < sizeof kJournalID || std::memcmp(data, kJournalID, sizeof kJournalID) != 0) return c;
  size_t at = sizeof kJournalID;
  const uint8_t* payload = nullptr;
  size_t length = 0;
  if (!NextFrame(data, size, at, payload, length) || !ParseHeader(payload, length, c.Header)) return c;
  c.HasHeader = true;
  at += kJournalFrameHeadSize + length;
  for (;;) {
    TJournalRecord r;
    if (!NextFrame(data, size, at, payload, length) || !ParseRecord(payload, length, r)) break;
    r.Offset = at;
    r.Size = kJournalFrameHeadSize + length;
    c.Records.push_back(r);
    at += r.Size;
  }
  c.Used = at;
  c.Whole = at == size;
  return c;
}

TJournalPlan PlanRecovery(const TJournalContents& contents) {
  TJournalPlan plan;
  std::vector<TJournalRecord> steps;
  for (size_t i = 0; i < contents.Records.size(); ++i) {
    const TJournalRecord& r = contents.Records[i];
    switch (r.Type) {
      case jrWithdraw:
        // Only ever written right after the intended record or the
        // creation it withdraws.
        if (i > 0 && (contents.Records[i - 1].Type == jrUndo || contents.Records[i - 1].Type == jrCreating))
          steps.pop_back();
        break;
      case jrCommitted:
        plan.Committed = true;
        break;
      case jrEnded:
        plan.Ended = true;
        break;
      default:
        steps.push_back(r);
        break;
    }
  }
  plan.Steps.assign(steps.rbegin(), steps.rend());
  return plan;
}
