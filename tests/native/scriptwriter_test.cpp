// The script writer's disk layouts, checked independently of the product's
// reader (a layout both got wrong the same way would pass every extraction
// test), and its refusal to cut a value short.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "setupdata/zlibblock.h"
#include "tests/testdata.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {
sw::FileSpec File(size_t n, uint8_t seed) {
  sw::FileSpec f = testdata::FileEntry("{app}\\F" + std::to_string(seed), testdata::Noise(n, seed));
  return f;
}
}  // namespace

TEST(ScriptWriter, DiskAndSingleFileLayouts) {
  sw::ScriptBuilder b;
  b.Files = {File(5000, 1), File(12000, 2), File(10, 3)};
  sw::BuildOptions o;
  o.DiskSize = 4096;
  sw::BuildResult r = b.Build(o);
  ASSERT_GE(r.Disks.size(), 4u);
  for (const auto& disk : r.Disks) {
    EXPECT_LE(disk.size(), 4096u);
    EXPECT_EQ(std::memcmp(disk.data(), sw::kDiskFileID, 8), 0);
    EXPECT_EQ(disk[8] | disk[9] << 8 | disk[10] << 16 | disk[11] << 24, static_cast<int>(disk.size()))
        << "total size field";
  }
  // Each stream reassembled from its disks inflates to the file.
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

  // A disk with fewer than four bytes left after a stream: the next marker
  // starts the next disk instead of being split.
  b.Files = {File(3000, 1), File(100, 2)};
  o.DiskSize = 12 + 4 + b.Build().Files[0].CompressedSize + 2;
  r = b.Build(o);
  EXPECT_EQ(r.Files[1].FirstDisk, 2);
  EXPECT_EQ(r.Files[1].StartOffset, 12);

  // The single file: the data after the script, each marker in its place.
  o = sw::BuildOptions();
  o.SingleFile = true;
  o.ScriptOffset = 40000;
  r = b.Build(o);
  EXPECT_TRUE(r.Disks.empty());
  EXPECT_GT(r.DataOffset, 40000u);
  for (const auto& d : r.Files)
    EXPECT_EQ(std::memcmp(&r.Script[r.DataOffset + static_cast<uint32_t>(d.StartOffset)], sw::kFileDataMarker, 4), 0);
}

TEST(ScriptWriter, RefusesValuesThatDoNotFit) {
  sw::ScriptBuilder b;
  b.Header.ApplicationName = std::string(64, 'a');
  EXPECT_THROW(b.Build(), sw::EFieldError);
  b.Header.ApplicationName = std::string(63, 'a');
  sw::RegistrySpec r;
  r.ValueType = 3;
  r.BinaryData.resize(253);
  b.Registry = {r};
  EXPECT_THROW(b.Build(), sw::EFieldError);
  b.Registry[0].BinaryData.resize(252);
  EXPECT_NO_THROW(b.Build());
}
