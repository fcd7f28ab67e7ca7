/* The attachment of the single-file setup: the loader program, then
 * setup.exe, the setup script and the file data, then a 36-byte trailer at
 * the very end of the file that says where each lies:
 *
 *   offset  width  field
 *    0       8     the ID "qvsfx10" followed by 0x1A
 *    8       4     offset of setup.exe in the file
 *   12       4     size of setup.exe
 *   16       4     Adler-32 of setup.exe
 *   20       4     offset of the setup script (the /SL script offset)
 *   24       4     offset of the file data (the /SL data offset)
 *   28       4     size of the whole file, trailer included
 *   32       4     Adler-32 of the 32 bytes before it
 *
 * Integers are little-endian. Freestanding C: the loader has no C library,
 * and the authoring tools build the same code. */
#ifndef QV_LOADER_ATTACHMENT_H
#define QV_LOADER_ATTACHMENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QV_TRAILER_SIZE 36u
/* The file data is read by setup.exe with 32-bit signed offsets. */
#define QV_ATTACHMENT_MAX_SIZE 0x7FFFFFFFu

typedef struct {
  uint32_t SetupOffset, SetupSize, SetupChecksum;
  uint32_t ScriptOffset, DataOffset;
  uint32_t FileSize;
} TAttachment;

typedef enum {
  acOk = 0,
  acMissing,   /* no trailer: a file too short or without the ID */
  acChecksum,  /* the trailer's own checksum is wrong */
  acSize,      /* the file is not as long as the trailer says (cut short or padded) */
  acLayout     /* the parts do not lie in order inside the file */
} TAttachmentCheck;

/* Adler-32 continued from adler (1 for a start). */
uint32_t QvAdler32(uint32_t adler, const uint8_t* p, uint32_t n);

void EncodeAttachmentTrailer(const TAttachment* a, uint8_t out[QV_TRAILER_SIZE]);

/* Reads the trailer (the last QV_TRAILER_SIZE bytes of a file of file_size
 * bytes) into *a and judges it. */
TAttachmentCheck CheckAttachmentTrailer(const uint8_t trailer[QV_TRAILER_SIZE], uint32_t file_size,
                                        TAttachment* a);

#ifdef __cplusplus
}
#endif

#endif
