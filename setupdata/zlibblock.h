// The checksummed block format and the decompression engine under it.
//
// A block is: header checksum (Adler-32 of the next twelve bytes), compressed
// size (-1 = stored), size, data checksum (Adler-32 of the yielded bytes),
// then the data: one complete zlib stream, or the raw bytes when stored.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/exceptions.h"
#include "setupdata/filestream.h"

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

class EZlibDataError : public EZlibError {
 public:
  EZlibDataError() : EZlibError("zlib: Compressed data is corrupted") {}
};

class EZlibInternalError : public EZlibError {
 public:
  explicit EZlibInternalError(int code);
  int Code() const { return code_; }

 private:
  int code_;
};

constexpr uint32_t kDecompressBufferSize = 32000;
constexpr size_t kBlockHeaderSize = 16;

// read(buffer, capacity, context) -> bytes put into buffer; 0 = input exhausted.
using TDecompressRead = uint32_t (*)(void* buffer, uint32_t capacity, void* context);
// write(buffer, count, context) -> how many of the count bytes were accepted.
using TDecompressWrite = uint32_t (*)(const void* buffer, uint32_t count, void* context);

// Inflates one zlib stream fed by read into write. True when the input was
// exhausted exactly at the stream's end (checksum then holds the Adler-32 of
// all output); false as soon as write accepts fewer bytes than offered.
// Raises EZlibDataError on corrupt data: inflate's data error, a request for
// a preset dictionary (a damaged header), data after the end of the stream,
// and input that runs out before the stream's end (its trailer is then never
// checked). EZlibInternalError on any other unexpected zlib code;
// EOutOfMemory when zlib runs out of memory.
bool DecompressStream(TDecompressRead read, TDecompressWrite write, void* context,
                      uint32_t& checksum);

// Reads one block of exactly n bytes from the file's current position into
// destination and leaves the file just after the block. Raises EZlibDataError
// when the block is not a valid block of n bytes (a stream that yields fewer
// bytes, or whose end does not fall exactly at the compressed size, is not);
// file errors pass unchanged.
void ReadBlock(TFile& file, void* destination, uint32_t n);

// Reads and checks one block of n bytes like ReadBlock, but keeps none of its
// bytes: for judging a block too large to be given a destination.
void CheckBlock(TFile& file, uint32_t n);

// Reads only a block's 16 header bytes and checks the header checksum. On
// success returns true and fills the sizes, and rewinds the file to where it
// was, so that a caller can judge the declared size before allocating.
bool PeekBlockHeader(TFile& file, int32_t& compressed_size, uint32_t& size);

uint32_t Adler32(uint32_t adler, const void* data, size_t size);
