// The block reader against blocks made by the script writer and by hand.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "setupdata/zlibblock.h"
#include "tests/testdata.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {

sw::Bytes Pattern(size_t n, uint32_t seed = 1) { return testdata::Mixed(n, seed, 64); }

// Reads one block of n bytes into a buffer with guard bytes on both sides
// and checks that the guards survive.
std::vector<uint8_t> ReadGuarded(TFile& f, uint32_t n) {
  std::vector<uint8_t> area(n + 64, 0xCC);
  ReadBlock(f, area.data() + 32, n);
  for (size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(area[i], 0xCC) << "write before the area";
    EXPECT_EQ(area[n + 32 + i], 0xCC) << "write past the area";
  }
  return std::vector<uint8_t>(area.begin() + 32, area.begin() + 32 + n);
}

}  // namespace

TEST(ReadBlock, StoredAndCompressedBlocksOfManySizes) {
  for (bool compress : {false, true}) {
    for (size_t n : {size_t(0), size_t(1), size_t(337), size_t(31999), size_t(32000), size_t(32001),
                     size_t(100000), size_t(250000)}) {
      sw::Bytes data = Pattern(n, static_cast<uint32_t>(n));
      TMemoryFile f(sw::EncodeBlock(data, compress));
      EXPECT_EQ(ReadGuarded(f, static_cast<uint32_t>(n)), data) << n << " compress=" << compress;
      EXPECT_EQ(f.Position(), f.Size()) << "the block is consumed exactly";
    }
  }
}

TEST(ReadBlock, HighlyCompressibleDataAcrossManyOutputBuffers) {
  // A megabyte of zeros compresses to about a kilobyte: inflate consumes the
  // whole input while output is still pending, and the output must be
  // drained all the same.
  sw::Bytes zeros(1 << 20, 0);
  TMemoryFile f(sw::EncodeBlock(zeros, true));
  EXPECT_EQ(ReadGuarded(f, static_cast<uint32_t>(zeros.size())), zeros);
}

TEST(ReadBlock, TwoConsecutiveBlocksLeaveTheFileAtTheSecondHeader) {
  sw::Bytes a = Pattern(40000, 3), b = Pattern(500, 4);
  sw::Bytes file = sw::EncodeBlock(a, true);
  size_t first = file.size();
  sw::Bytes second = sw::EncodeBlock(b, false);
  file.insert(file.end(), second.begin(), second.end());
  TMemoryFile f(file);
  EXPECT_EQ(ReadGuarded(f, 40000), a);
  EXPECT_EQ(f.Position(), static_cast<int64_t>(first));
  EXPECT_EQ(ReadGuarded(f, 500), b);
}

TEST(ReadBlock, EveryFaultRaisesDataErrorAndNothingIsWrittenPastN) {
  using F = sw::BlockFault;
  for (bool compress : {true, false}) {
    for (F fault : {F::WrongSizeField, F::ChangedHeaderByte, F::TruncatedStream, F::ExtraOutput,
                    F::WrongDataChecksum, F::TrailingBytes}) {
      if (!compress && (fault == F::ExtraOutput || fault == F::TrailingBytes)) continue;
      sw::Bytes data = Pattern(70000, 9);
      sw::Bytes block = sw::EncodeBlock(data, compress, 9, fault);
      // A truncated stored block runs into the end of the file instead.
      if (!compress && fault == F::TruncatedStream) {
        TMemoryFile f(block);
        std::vector<uint8_t> area(70000);
        EXPECT_THROW(ReadBlock(f, area.data(), 70000), EInOutError);
        continue;
      }
      TMemoryFile f(block);
      std::vector<uint8_t> area(70000 + 64, 0xCC);
      try {
        ReadBlock(f, area.data() + 32, 70000);
        ADD_FAILURE() << "no error for fault " << static_cast<int>(fault);
      } catch (const EZlibDataError& e) {
        EXPECT_STREQ(e.what(), "zlib: Compressed data is corrupted");
      }
      for (size_t i = 0; i < 32; ++i) {
        ASSERT_EQ(area[i], 0xCC);
        ASSERT_EQ(area[70000 + 32 + i], 0xCC) << "fault " << static_cast<int>(fault);
      }
    }
  }
}

TEST(ReadBlock, SizeFieldMustEqualTheRequestedCount) {
  sw::Bytes data = Pattern(100);
  TMemoryFile f(sw::EncodeBlock(data, true));
  std::vector<uint8_t> area(101);
  EXPECT_THROW(ReadBlock(f, area.data(), 101), EZlibDataError);
  f.Seek(0);
  EXPECT_THROW(ReadBlock(f, area.data(), 99), EZlibDataError);
}

TEST(ReadBlock, HeaderIsCheckedBeforeAnyDataIsRead) {
  sw::Bytes data = Pattern(1000);
  for (int byte = 4; byte < 16; ++byte) {
    sw::Bytes block = sw::EncodeBlock(data, true);
    block[static_cast<size_t>(byte)] ^= 0x40;
    // Drop the data: only the header is there, so any read of data would be
    // an input/output error, not the data error.
    block.resize(16);
    TMemoryFile f(block);
    std::vector<uint8_t> area(1000);
    EXPECT_THROW(ReadBlock(f, area.data(), 1000), EZlibDataError) << "byte " << byte;
  }
}

TEST(ReadBlock, StoredBlockChecksumIsVerified) {
  sw::Bytes data = Pattern(500);
  sw::Bytes block = sw::EncodeBlock(data, false);
  block[16 + 250] ^= 1;
  TMemoryFile f(block);
  std::vector<uint8_t> area(500);
  EXPECT_THROW(ReadBlock(f, area.data(), 500), EZlibDataError);
}

TEST(ReadBlock, FileEndingInsideABlockIsAnInputOutputError) {
  sw::Bytes data = Pattern(5000);
  sw::Bytes block = sw::EncodeBlock(data, true);
  for (size_t cut : {size_t(3), size_t(15), size_t(16), block.size() / 2, block.size() - 1}) {
    TMemoryFile f(sw::Bytes(block.begin(), block.begin() + static_cast<long>(cut)));
    std::vector<uint8_t> area(5000);
    EXPECT_THROW(ReadBlock(f, area.data(), 5000), EInOutError) << cut;
  }
}

TEST(ReadBlock, NegativeCompressedSizeOtherThanStoredIsCorrupt) {
  sw::Bytes block(16, 0);
  testdata::PutLE32(block, 4, 0xFFFFFFFEu);
  block[8] = 10;
  testdata::PutLE32(block, 0, Adler32(1, &block[4], 12));
  TMemoryFile f(block);
  uint8_t area[10];
  EXPECT_THROW(ReadBlock(f, area, 10), EZlibDataError);
}

TEST(ReadBlock, CorruptDeflateDataIsDataError) {
  sw::Bytes data = Pattern(20000);
  sw::Bytes block = sw::EncodeBlock(data, true);
  for (size_t i = 18; i < block.size() - 4; i += 97) block[i] ^= 0xA5;
  TMemoryFile f(block);
  std::vector<uint8_t> area(20000);
  EXPECT_THROW(ReadBlock(f, area.data(), 20000), EZlibDataError);
}

namespace {
struct Feed {
  const sw::Bytes* in;
  size_t pos = 0;
  size_t chunk;
  sw::Bytes out;
  size_t limit;
};
uint32_t FeedRead(void* buf, uint32_t cap, void* ctx) {
  auto* f = static_cast<Feed*>(ctx);
  size_t n = std::min<size_t>({cap, f->chunk, f->in->size() - f->pos});
  std::memcpy(buf, f->in->data() + f->pos, n);
  f->pos += n;
  return static_cast<uint32_t>(n);
}
uint32_t FeedWrite(const void* buf, uint32_t count, void* ctx) {
  auto* f = static_cast<Feed*>(ctx);
  size_t n = std::min<size_t>(count, f->limit - f->out.size());
  f->out.insert(f->out.end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + n);
  return static_cast<uint32_t>(n);
}
}  // namespace

TEST(DecompressStream, ChecksumAndOutputWithSmallReads) {
  sw::Bytes data = Pattern(300000, 5);
  uLongf bound = compressBound(static_cast<uLong>(data.size()));
  sw::Bytes z(bound);
  ASSERT_EQ(compress2(z.data(), &bound, data.data(), static_cast<uLong>(data.size()), 6), Z_OK);
  z.resize(bound);
  for (size_t chunk : {size_t(1), size_t(777), size_t(32000)}) {
    Feed feed{&z, 0, chunk, {}, SIZE_MAX};
    uint32_t checksum = 0;
    ASSERT_TRUE(DecompressStream(FeedRead, FeedWrite, &feed, checksum));
    EXPECT_EQ(feed.out, data);
    EXPECT_EQ(checksum, Adler32(1, data.data(), data.size()));
  }
  Feed limited{&z, 0, 32000, {}, 1000};
  uint32_t checksum = 12345;
  EXPECT_FALSE(DecompressStream(FeedRead, FeedWrite, &limited, checksum));
  EXPECT_EQ(checksum, 12345u) << "the checksum is not set when the output overflows";
  EXPECT_EQ(limited.out.size(), 1000u);
}

namespace {
sw::Bytes Deflate(const sw::Bytes& data) {
  uLongf bound = compressBound(static_cast<uLong>(data.size()));
  sw::Bytes z(bound);
  EXPECT_EQ(compress2(z.data(), &bound, data.data(), static_cast<uLong>(data.size()), 6), Z_OK);
  z.resize(bound);
  return z;
}
// A block around a given zlib payload, with a header that is internally
// sound: any fault lies in the payload or in what the sizes claim.
sw::Bytes BlockAround(const sw::Bytes& payload, uint32_t declared, uint32_t data_checksum) {
  sw::Bytes b(16);
  testdata::PutLE32(b, 4, static_cast<uint32_t>(payload.size()));
  testdata::PutLE32(b, 8, declared);
  testdata::PutLE32(b, 12, data_checksum);
  testdata::PutLE32(b, 0, static_cast<uint32_t>(adler32(1, b.data() + 4, 12)));
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
// Runs raw inflate over a stream: true when it yields all of expected and
// still waits for more input (the stream never reaches its end).
bool YieldsAllWithoutEnding(const sw::Bytes& z, const sw::Bytes& expected) {
  z_stream s{};
  if (inflateInit(&s) != Z_OK) return false;
  sw::Bytes out(expected.size() + 1024);
  s.next_in = const_cast<Bytef*>(z.data());
  s.avail_in = static_cast<uInt>(z.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  int code = inflate(&s, Z_NO_FLUSH);
  bool never_ends = (code == Z_OK || code == Z_BUF_ERROR) && s.avail_in == 0 &&
                    s.total_out == expected.size() &&
                    std::equal(expected.begin(), expected.end(), out.begin());
  inflateEnd(&s);
  return never_ends;
}
}  // namespace

// What a block must be beyond its checksums: a stream that yields exactly
// the block's size and ends exactly at the compressed size, with no
// dictionary. Each of these passed the checksums before.
TEST(ReadBlock, StreamsThatYieldTooLittleNeverEndOrWantADictionaryAreCorrupt) {
  // A 330-byte record declared as 337, its checksum made over the 330
  // bytes: the last seven bytes of the destination would be left as they were.
  sw::Bytes short_record = Pattern(330, 9);
  TMemoryFile forged(BlockAround(Deflate(short_record), 337,
                                 Adler32(1, short_record.data(), short_record.size())));
  std::vector<uint8_t> area(337, 0);
  EXPECT_THROW(ReadBlock(forged, area.data(), 337), EZlibDataError);

  // One bit flipped in the first deflate byte (the last-block bit): the
  // data come out whole, the stream never ends and its trailer is never
  // checked. The content is chosen so that raw inflate shows exactly that.
  bool found = false;
  for (uint32_t seed = 0; seed < 64 && !found; ++seed) {
    sw::Bytes data = Pattern(1000 + seed, seed);
    sw::Bytes z = Deflate(data);
    z[2] ^= 0x01;
    if (!YieldsAllWithoutEnding(z, data)) continue;
    found = true;
    TMemoryFile f(BlockAround(z, static_cast<uint32_t>(data.size()),
                              Adler32(1, data.data(), data.size())));
    std::vector<uint8_t> out(data.size());
    EXPECT_THROW(ReadBlock(f, out.data(), static_cast<uint32_t>(data.size())), EZlibDataError)
        << "seed " << seed;
  }
  ASSERT_TRUE(found) << "no content gave a stream that never ends";

  // The preset-dictionary bit set in the zlib header (its check bits
  // mended): inflate asks for a dictionary. Corrupt data for the block
  // reader and for the engine itself, which file extraction drives.
  sw::Bytes data = Pattern(5000, 11);
  sw::Bytes z = Deflate(data);
  z[1] = static_cast<uint8_t>((z[1] | 0x20) & 0xE0);
  z[1] = static_cast<uint8_t>(z[1] + (31 - (z[0] * 256 + z[1]) % 31) % 31);
  ASSERT_EQ((z[0] * 256 + z[1]) % 31, 0);
  TMemoryFile dict(BlockAround(z, 5000, Adler32(1, data.data(), data.size())));
  std::vector<uint8_t> out(5000);
  EXPECT_THROW(ReadBlock(dict, out.data(), 5000), EZlibDataError);
  Feed feed{&z, 0, 32000, {}, SIZE_MAX};
  uint32_t checksum = 0;
  EXPECT_THROW(DecompressStream(FeedRead, FeedWrite, &feed, checksum), EZlibDataError);

  // The engine on its own: input that runs out before the stream's end.
  sw::Bytes whole = Deflate(data);
  sw::Bytes cut(whole.begin(), whole.end() - 2);
  Feed short_feed{&cut, 0, 32000, {}, SIZE_MAX};
  EXPECT_THROW(DecompressStream(FeedRead, FeedWrite, &short_feed, checksum), EZlibDataError);

  // The engine keeps its context between calls: after failures half-way
  // through streams, the next stream starts clean.
  Feed good{&whole, 0, 1000, {}, SIZE_MAX};
  ASSERT_TRUE(DecompressStream(FeedRead, FeedWrite, &good, checksum));
  EXPECT_EQ(good.out, data);
  EXPECT_EQ(checksum, Adler32(1, data.data(), data.size()));
}
