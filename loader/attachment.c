#include "loader/attachment.h"

static const uint8_t kTrailerID[8] = {'q', 'v', 's', 'f', 'x', '1', '0', 0x1A};

uint32_t QvAdler32(uint32_t adler, const uint8_t* p, uint32_t n) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (n > 0) {
    /* 5552 bytes is the most that cannot overflow b before the modulo. */
    uint32_t k = n < 5552 ? n : 5552;
    n -= k;
    while (k-- > 0) {
      a += *p++;
      b += a;
    }
    a %= 65521;
    b %= 65521;
  }
  return (b << 16) | a;
}

static void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

static uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void EncodeAttachmentTrailer(const TAttachment* a, uint8_t out[QV_TRAILER_SIZE]) {
  int i;
  for (i = 0; i < 8; ++i) out[i] = kTrailerID[i];
  Put32(out + 8, a->SetupOffset);
  Put32(out + 12, a->SetupSize);
  Put32(out + 16, a->SetupChecksum);
  Put32(out + 20, a->ScriptOffset);
  Put32(out + 24, a->DataOffset);
  Put32(out + 28, a->FileSize);
  Put32(out + 32, QvAdler32(1, out, 32));
}

TAttachmentCheck CheckAttachmentTrailer(const uint8_t trailer[QV_TRAILER_SIZE], uint32_t file_size,
                                        TAttachment* a) {
  int i;
  uint64_t setup_end;
  if (file_size < QV_TRAILER_SIZE) return acMissing;
  for (i = 0; i < 8; ++i)
    if (trailer[i] != kTrailerID[i]) return acMissing;
  if (Get32(trailer + 32) != QvAdler32(1, trailer, 32)) return acChecksum;
  a->SetupOffset = Get32(trailer + 8);
  a->SetupSize = Get32(trailer + 12);
  a->SetupChecksum = Get32(trailer + 16);
  a->ScriptOffset = Get32(trailer + 20);
  a->DataOffset = Get32(trailer + 24);
  a->FileSize = Get32(trailer + 28);
  if (a->FileSize != file_size) return acSize;
  /* The loader comes first (at least a DOS header), then setup.exe, the
   * script and the data, all before the trailer and below 2 GB. */
  setup_end = (uint64_t)a->SetupOffset + a->SetupSize;
  if (file_size > QV_ATTACHMENT_MAX_SIZE || a->SetupOffset < 64 || a->SetupSize == 0 ||
      setup_end > a->ScriptOffset || a->ScriptOffset >= a->DataOffset ||
      a->DataOffset > file_size - QV_TRAILER_SIZE)
    return acLayout;
  return acOk;
}
