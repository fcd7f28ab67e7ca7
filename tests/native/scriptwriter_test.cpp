// The script writer's disk layouts and its refusals.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "setupdata/zlibblock.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {
uint32_t LE32(const sw::Bytes& b, size_t off) {
  return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | static_cast<uint32_t>(b[off + 3]) << 24;
}
sw::FileSpec File(size_t n, uint8_t seed) {
  sw::FileSpec f;
  f.DestName = "{app}\\F" + std::to_string(seed);
  f.Contents.resize(n);
  uint32_t x = seed;
  for (auto& c : f.Contents) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  return f;
}
}  // namespace

TEST(ScriptWriter, SpansStreamsAcrossDisks) {
  sw::ScriptBuilder b;
  b.Files = {File(5000, 1), File(12000, 2), File(10, 3)};
  sw::BuildOptions o;
  o.DiskSize = 4096;
  sw::BuildResult r = b.Build(o);
  ASSERT_GE(r.Disks.size(), 4u);
  for (const auto& disk : r.Disks) {
    EXPECT_LE(disk.size(), 4096u);
    EXPECT_EQ(std::memcmp(disk.data(), sw::kDiskFileID, 8), 0);
    EXPECT_EQ(LE32(disk, 8), disk.size()) << "total size field";
  }
  // Reassemble each stream from its disks and check it inflates to the file.
  for (size_t i = 0; i < b.Files.size(); ++i) {
    const sw::FileData& d = r.Files[i];
    const sw::Bytes& first = r.Disks[static_cast<size_t>(d.FirstDisk - 1)];
    ASSERT_LE(static_cast<size_t>(d.StartOffset) + 4, first.size()) << "marker inside the first disk";
    EXPECT_EQ(std::memcmp(&first[static_cast<size_t>(d.StartOffset)], sw::kFileDataMarker, 4), 0);
    sw::Bytes stream(first.begin() + d.StartOffset + 4, first.end());
    for (int disk = d.FirstDisk + 1; disk <= d.LastDisk; ++disk) {
      const sw::Bytes& next = r.Disks[static_cast<size_t>(disk - 1)];
      stream.insert(stream.end(), next.begin() + 12, next.end());
    }
    ASSERT_GE(stream.size(), d.CompressedSize);
    stream.resize(d.CompressedSize);
    sw::Bytes out(b.Files[i].Contents.size() + 1);
    uLongf out_size = static_cast<uLongf>(out.size());
    ASSERT_EQ(uncompress(out.data(), &out_size, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
    out.resize(out_size);
    EXPECT_EQ(out, b.Files[i].Contents);
    EXPECT_EQ(d.Checksum, Adler32(1, b.Files[i].Contents.data(), b.Files[i].Contents.size()));
  }
}

TEST(ScriptWriter, MarkerNeverSplitsAndTooSmallDisksAreRefused) {
  sw::ScriptBuilder b;
  b.Files = {File(3000, 1), File(100, 2)};
  // Find a disk size at which the first stream leaves fewer than 4 bytes.
  sw::BuildResult probe = b.Build();
  uint32_t end_of_first = 12 + 4 + probe.Files[0].CompressedSize;
  sw::BuildOptions o;
  o.DiskSize = end_of_first + 2;
  sw::BuildResult r = b.Build(o);
  EXPECT_EQ(r.Files[1].FirstDisk, 2);
  EXPECT_EQ(r.Files[1].StartOffset, 12);
  o.DiskSize = 16;
  EXPECT_THROW(b.Build(o), std::runtime_error);
}

TEST(ScriptWriter, RefusesValuesThatDoNotFit) {
  sw::ScriptBuilder b;
  b.Header.ApplicationName = std::string(64, 'a');
  try {
    b.Build();
    FAIL();
  } catch (const sw::EFieldError& e) {
    EXPECT_EQ(e.Field(), "ApplicationName");
    EXPECT_NE(std::string(e.what()).find("at most 63"), std::string::npos);
  }
  b.Header.ApplicationName = std::string(63, 'a');
  EXPECT_NO_THROW(b.Build());
  sw::RegistrySpec r;
  r.ValueType = 3;
  r.BinaryData.resize(253);
  b.Registry = {r};
  EXPECT_THROW(b.Build(), sw::EFieldError);
  b.Registry[0].BinaryData.resize(252);
  b.Registry[0].SubKey = std::string(129, 'k');
  EXPECT_THROW(b.Build(), sw::EFieldError);
}

TEST(ScriptWriter, SingleFileLayoutPlacesDataAfterTheScript) {
  sw::ScriptBuilder b;
  b.Files = {File(1000, 1), File(2000, 2)};
  sw::BuildOptions o;
  o.SingleFile = true;
  o.ScriptOffset = 40000;
  sw::BuildResult r = b.Build(o);
  EXPECT_TRUE(r.Disks.empty());
  EXPECT_GT(r.DataOffset, 40000u);
  for (const auto& d : r.Files)
    EXPECT_EQ(std::memcmp(&r.Script[r.DataOffset + static_cast<uint32_t>(d.StartOffset)], sw::kFileDataMarker, 4), 0);
}
