#include "setupdata/zlibblock.h"

#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/strutil.h"

EZlibInternalError::EZlibInternalError(int code)
    : EZlibError(Format("zlib: Internal error. Code %d", code)), code_(code) {}

uint32_t Adler32(uint32_t adler, const void* data, size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  // zlib takes a 32-bit length; feed large areas in pieces.
  while (size > 0) {
    uInt piece = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    adler = static_cast<uint32_t>(adler32(adler, p, piece));
    p += piece;
    size -= piece;
  }
  return adler;
}

namespace {

// zlib's memory comes from the program's own allocator; a failure is
// reported to zlib as a null result.
voidpf ZAlloc(voidpf, uInt items, uInt size) {
  if (size != 0 && items > static_cast<uInt>(-1) / size) return Z_NULL;
  return std::malloc(static_cast<size_t>(items) * size);
}
void ZFree(voidpf, voidpf address) { std::free(address); }

// The engine context: the zlib stream and the two buffers. A script is some
// twenty thousand small blocks, so one context is kept between calls and
// reset rather than made and destroyed for every block; a call that finds
// the spare taken (a call inside a read or write routine) makes its own.
struct EngineContext {
  z_stream stream{};
  bool initialised = false;
  uint8_t in[kDecompressBufferSize];
  uint8_t out[kDecompressBufferSize];
  ~EngineContext() {
    if (initialised) inflateEnd(&stream);
  }
};

class SpareContext {
 public:
  ~SpareContext() { delete spare_.exchange(nullptr); }
  EngineContext* Take() { return spare_.exchange(nullptr); }
  void GiveBack(EngineContext* ctx) {
    EngineContext* none = nullptr;
    if (!spare_.compare_exchange_strong(none, ctx)) delete ctx;
  }

 private:
  std::atomic<EngineContext*> spare_{nullptr};
};
SpareContext g_spare;

// Holds a context for one call and hands it back afterwards, whatever the
// state its stream is left in: the next call resets it.
class ContextLease {
 public:
  ContextLease() : ctx_(g_spare.Take()) {
    if (ctx_ == nullptr) ctx_ = new EngineContext;
  }
  ~ContextLease() { g_spare.GiveBack(ctx_); }
  ContextLease(const ContextLease&) = delete;
  ContextLease& operator=(const ContextLease&) = delete;
  EngineContext& operator*() const { return *ctx_; }

 private:
  EngineContext* ctx_;
};

void RaiseFor(int code) {
  // No stream of ours uses a preset dictionary: asking for one means a
  // damaged zlib header.
  if (code == Z_DATA_ERROR || code == Z_NEED_DICT) throw EZlibDataError();
  if (code == Z_MEM_ERROR) throw EOutOfMemory();
  throw EZlibInternalError(code);
}

}  // namespace

bool DecompressStream(TDecompressRead read, TDecompressWrite write, void* context,
                      uint32_t& checksum) {
  ContextLease lease;
  EngineContext& ctx = *lease;
  int code;
  if (ctx.initialised) {
    code = inflateReset(&ctx.stream);
    if (code != Z_OK) throw EZlibInternalError(code);
  } else {
    ctx.stream = z_stream{};
    ctx.stream.zalloc = ZAlloc;
    ctx.stream.zfree = ZFree;
    ctx.stream.opaque = Z_NULL;
    code = inflateInit_(&ctx.stream, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
    if (code != Z_OK) {
      if (code == Z_MEM_ERROR) throw EOutOfMemory();
      throw EZlibInternalError(code);
    }
    ctx.initialised = true;
  }

  ctx.stream.next_in = ctx.in;
  ctx.stream.avail_in = 0;  // nothing left over from an earlier call
  uint32_t adler = 1;
  bool stream_ended = false;
  // True while inflate may still hold output it could not place because the
  // output buffer was full; such output is drained even when no input is left.
  bool output_pending = false;
  for (;;) {
    if (ctx.stream.avail_in == 0 && !output_pending) {
      uint32_t got = read(ctx.in, kDecompressBufferSize, context);
      if (got == 0) break;
      if (got > kDecompressBufferSize) throw EZlibInternalError(Z_STREAM_ERROR);
      if (stream_ended) throw EZlibDataError();  // bytes after the stream's end
      ctx.stream.next_in = ctx.in;
      ctx.stream.avail_in = got;
    } else if (ctx.stream.avail_in != 0 && stream_ended) {
      throw EZlibDataError();
    }
    ctx.stream.next_out = ctx.out;
    ctx.stream.avail_out = kDecompressBufferSize;
    code = inflate(&ctx.stream, Z_PARTIAL_FLUSH);
    if (code == Z_BUF_ERROR && ctx.stream.avail_in == 0 && output_pending) {
      // Nothing was pending after all; go back to reading input.
      output_pending = false;
      continue;
    }
    if (code != Z_OK && code != Z_STREAM_END) RaiseFor(code);
    if (code == Z_STREAM_END) stream_ended = true;
    uint32_t produced = kDecompressBufferSize - ctx.stream.avail_out;
    output_pending = !stream_ended && ctx.stream.avail_out == 0;
    if (write(ctx.out, produced, context) < produced) return false;
    adler = Adler32(adler, ctx.out, produced);
  }

  // The input ran out before the stream's end: the trailer was never seen,
  // so nothing vouches for what was produced.
  if (!stream_ended) throw EZlibDataError();
  checksum = adler;
  return true;
}

namespace {

struct BlockRun {
  TFile* file;
  uint8_t* destination;  // null: the bytes are checked and dropped
  int32_t input_remaining;
  int32_t output_remaining;
};

uint32_t BlockRead(void* buffer, uint32_t capacity, void* context) {
  auto* run = static_cast<BlockRun*>(context);
  uint32_t n = capacity;
  if (static_cast<uint32_t>(run->input_remaining) < n) n = static_cast<uint32_t>(run->input_remaining);
  if (n == 0) return 0;
  if (run->destination == nullptr) {
    // Checking only: inflate whatever the file still holds, so that damage
    // before its end is found, and fail at the end itself.
    size_t got = run->file->ReadSome(buffer, n);
    if (got == 0) throw EInOutError("Read beyond end of file: " + run->file->Name());
    n = static_cast<uint32_t>(got);
  } else {
    run->file->ReadExact(buffer, n);
  }
  run->input_remaining -= static_cast<int32_t>(n);
  return n;
}

uint32_t BlockWrite(const void* buffer, uint32_t count, void* context) {
  auto* run = static_cast<BlockRun*>(context);
  uint32_t n = count;
  if (static_cast<uint32_t>(run->output_remaining) < n) n = static_cast<uint32_t>(run->output_remaining);
  if (run->destination != nullptr) {
    if (n) std::memcpy(run->destination, buffer, n);
    run->destination += n;
  }
  run->output_remaining -= static_cast<int32_t>(n);
  return n;
}

uint32_t GetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool PeekBlockHeader(TFile& file, int32_t& compressed_size, uint32_t& size) {
  int64_t here = file.Position();
  uint8_t header[kBlockHeaderSize];
  file.ReadExact(header, sizeof header);
  file.Seek(here);
  if (Adler32(1, header + 4, 12) != GetLE32(header)) return false;
  compressed_size = static_cast<int32_t>(GetLE32(header + 4));
  size = GetLE32(header + 8);
  return true;
}

namespace {

// ReadBlock, with a null destination for a block whose bytes are only checked.
void ReadBlockTo(TFile& file, uint8_t* destination, uint32_t n) {
  uint8_t header[kBlockHeaderSize];
  file.ReadExact(header, sizeof header);
  // The header checksum covers the next twelve bytes.
  if (GetLE32(header + 8) != n || Adler32(1, header + 4, 12) != GetLE32(header))
    throw EZlibDataError();
  int32_t compressed_size = static_cast<int32_t>(GetLE32(header + 4));
  uint32_t data_checksum = GetLE32(header + 12);
  uint32_t computed;
  if (compressed_size == -1) {
    if (destination == nullptr) {
      computed = 1;
      uint8_t piece[4096];
      for (uint32_t left = n; left > 0;) {
        uint32_t k = left < sizeof piece ? left : static_cast<uint32_t>(sizeof piece);
        file.ReadExact(piece, k);
        computed = Adler32(computed, piece, k);
        left -= k;
      }
    } else {
      file.ReadExact(destination, n);
      computed = Adler32(1, destination, n);
    }
  } else {
    // Any other negative size cannot describe data; it is as corrupt as a
    // wrong checksum.
    if (compressed_size < 0 || n > 0x7FFFFFFFu) throw EZlibDataError();
    BlockRun run{&file, destination, compressed_size, static_cast<int32_t>(n)};
    if (!DecompressStream(BlockRead, BlockWrite, &run, computed)) throw EZlibDataError();
    // A stream that ends early leaves part of the destination as it was.
    if (run.output_remaining != 0) throw EZlibDataError();
  }
  if (computed != data_checksum) throw EZlibDataError();
}

}  // namespace

void ReadBlock(TFile& file, void* destination, uint32_t n) {
  ReadBlockTo(file, static_cast<uint8_t*>(destination), n);
}

void CheckBlock(TFile& file, uint32_t n) { ReadBlockTo(file, nullptr, n); }
