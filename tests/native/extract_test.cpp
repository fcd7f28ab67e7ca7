// Extraction of file data across disk data files, against distributions made
// by the script writer, with every situation of the failure table.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/exceptions.h"
#include "install/extract.h"
#include "setupdata/script.h"
#include "setupdata/zlibblock.h"
#include "tests/testdata.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {

const char kCorrupted[] = "The source file is corrupted";

sw::FileSpec File(size_t n, uint8_t seed) {
  sw::FileSpec f =
      testdata::FileEntry("{app}\\F" + std::to_string(seed), testdata::Mixed(n, seed, 700));
  return f;
}

class TTestProgress : public TInstallProgress {
 public:
  void SetStatusText(const std::string&) override {}
  void SetFileNameText(const std::string&) override {}
  void AddProgress(uint32_t amount) override {
    position += amount;
    largest_step = std::max(largest_step, amount);
  }
  uint32_t ProgressPosition() const override { return position; }
  void SetProgressPosition(uint32_t p) override { position = p; }
  void CheckCancel() override {
    ++checks;
    if (cancel_at != 0 && checks == cancel_at) throw EAbort();
  }
  uint32_t position = 0, largest_step = 0;
  int checks = 0, cancel_at = 0;
};

class TBytesSink : public TFileSink {
 public:
  void Write(const void* data, uint32_t count) override {
    auto* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + count);
  }
  sw::Bytes bytes;
};

// A built distribution loaded back as setup.exe loads it.
struct TDistribution {
  sw::BuildResult built;
  SetupScript script;
  std::vector<int32_t> opened;  // disks opened through the finder

  explicit TDistribution(const sw::ScriptBuilder& b, const sw::BuildOptions& o = {}) : built(b.Build(o)) {
    TMemoryFile f(built.Script);
    LoadSetupScript(f, built.ScriptOffset, script);
  }
  std::unique_ptr<TFile> Disk(int32_t n) {
    if (built.DataOffset != 0) return std::make_unique<TMemoryFile>(built.Script, "SETUP.BIN");
    if (n < 1 || static_cast<size_t>(n) > built.Disks.size()) throw EInOutError("no disk " + std::to_string(n));
    return std::make_unique<TMemoryFile>(built.Disks[n - 1], "SETUP." + std::to_string(n));
  }
  // The disk data file open after the last extraction: the next one whose
  // data starts on it reads on from it without its header, as the file
  // step keeps it.
  std::unique_ptr<TFile> open_disk;
  bool source_left_open = false;  // a failed extraction handed its source back
  // Extracts file i; the disks after the first come through the finder.
  sw::Bytes Extract(size_t i, TTestProgress& progress, const SetupFileEntry* entry = nullptr,
                    const SetupFileLocationEntry* location = nullptr) {
    const SetupFileEntry& e = entry ? *entry : script.FileEntries[i];
    const SetupFileLocationEntry& l = location ? *location : script.FileLocationEntries[i];
    TBytesSink sink;
    const bool kept = open_disk && open_disk->Name() == Disk(l.FirstDisk())->Name();
    std::unique_ptr<TFile> source = kept ? std::move(open_disk) : Disk(l.FirstDisk());
    open_disk.reset();
    try {
      ExtractFileData(source, kept, built.DataOffset, e, l, sink, progress, [this](int32_t n) {
        opened.push_back(n);
        return Disk(n);
      });
    } catch (...) {
      source_left_open = source != nullptr;
      throw;
    }
    open_disk = std::move(source);
    return sink.bytes;
  }
  std::string FailureOf(size_t i, TTestProgress& progress, const SetupFileEntry* entry = nullptr,
                        const SetupFileLocationEntry* location = nullptr) {
    const uint32_t before = progress.position;
    try {
      Extract(i, progress, entry, location);
    } catch (const Exception& e) {
      EXPECT_EQ(progress.position, before) << "the bar returns to where it stood";
      EXPECT_FALSE(source_left_open) << "a failed extraction closes its source";
      return e.Message();
    }
    return "(no failure)";
  }
};

void PutLE32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

}  // namespace

TEST(Extraction, StreamsContinueAcrossDisksAndMoveTheBarByCompressedBytes) {
  sw::ScriptBuilder b;
  b.Files = {File(70000, 1), File(150000, 2), File(3, 3)};
  sw::BuildOptions o;
  o.DiskSize = 40000;
  TDistribution d(b, o);
  ASSERT_GE(d.built.Disks.size(), 3u);
  TTestProgress progress;
  uint32_t compressed = 0;
  for (size_t i = 0; i < b.Files.size(); ++i) {
    EXPECT_EQ(d.Extract(i, progress), b.Files[i].Contents) << "file " << i;
    compressed += d.built.Files[i].CompressedSize;
    // Handed back: the disk on which the stream ended.
    ASSERT_TRUE(d.open_disk);
    EXPECT_EQ(d.open_disk->Name(), "SETUP." + std::to_string(d.built.Files[i].LastDisk));
  }
  EXPECT_EQ(progress.position, compressed);
  EXPECT_LE(progress.largest_step, 32000u) << "a check point after every 32000 bytes at most";
  EXPECT_GE(progress.checks, static_cast<int>(compressed / 32000));
  // Each disk after a file's first was asked for once, in order.
  std::vector<int32_t> expected;
  for (const auto& f : d.built.Files)
    for (int32_t n = f.FirstDisk + 1; n <= f.LastDisk; ++n) expected.push_back(n);
  EXPECT_EQ(d.opened, expected);
  EXPECT_FALSE(expected.empty());
}

TEST(Extraction, StreamEndingAtTheEndOfADiskNeverAsksForTheNext) {
  sw::ScriptBuilder b;
  b.Files = {File(20000, 4), File(500, 5)};
  const uint32_t c1 = b.Build().Files[0].CompressedSize;
  sw::BuildOptions o;
  o.DiskSize = 12 + 4 + c1;  // file 1 fills disk 1 exactly
  TDistribution d(b, o);
  ASSERT_EQ(d.built.Disks.size(), 2u);
  ASSERT_EQ(d.built.Disks[0].size(), o.DiskSize);
  TTestProgress progress;
  EXPECT_EQ(d.Extract(0, progress), b.Files[0].Contents);
  EXPECT_TRUE(d.opened.empty());
  EXPECT_EQ(d.Extract(1, progress), b.Files[1].Contents);
}

TEST(Extraction, EmbeddedDataReadsNoDiskHeader) {
  sw::ScriptBuilder b;
  b.Files = {File(40000, 6), File(10, 7)};
  sw::BuildOptions o;
  o.SingleFile = true;
  o.ScriptOffset = 777;
  TDistribution d(b, o);
  ASSERT_NE(d.built.DataOffset, 0u);
  TTestProgress progress;
  EXPECT_EQ(d.Extract(0, progress), b.Files[0].Contents);
  EXPECT_EQ(d.Extract(1, progress), b.Files[1].Contents);
}

TEST(Extraction, EveryDamageIsTheCorruptedSourceWithTheBarSetBack) {
  sw::ScriptBuilder b;
  b.Files = {File(60000, 8), File(2000, 9)};
  sw::BuildOptions o;
  o.DiskSize = 30000;
  TTestProgress progress;
  progress.position = 1234;

  // Faults the writer makes on purpose.
  for (sw::DiskFault fault : {sw::DiskFault::WrongDiskID, sw::DiskFault::WrongTotalSize,
                              sw::DiskFault::WrongMarker, sw::DiskFault::WrongFileChecksum}) {
    o.Disk = fault;
    TDistribution d(b, o);
    EXPECT_EQ(d.FailureOf(0, progress), kCorrupted) << static_cast<int>(fault);
  }
  o.Disk = sw::DiskFault::TruncatedDisk;  // the last disk: total size differs
  {
    TDistribution d(b, o);
    EXPECT_EQ(d.FailureOf(0, progress), kCorrupted);
    EXPECT_EQ(d.opened.size(), d.built.Disks.size() - 1);
  }
  o.Disk = sw::DiskFault::None;
  TDistribution d(b, o);
  ASSERT_GT(d.script.FileLocationEntries[0].LastDisk(), d.script.FileLocationEntries[0].FirstDisk());

  // A changed byte inside the stream on disk 2.
  {
    TDistribution bad(b, o);
    bad.built.Disks[1][12] ^= 0x55;  // the first byte after the header
    EXPECT_EQ(bad.FailureOf(0, progress), kCorrupted);
  }
  // A last disk equal to the first while the stream goes on: no request for
  // another disk; a last disk below the first likewise.
  for (int32_t last : {1, 0, -5}) {
    SetupFileLocationEntry loc = d.script.FileLocationEntries[0];
    PutLE32(loc.Raw + 4, static_cast<uint32_t>(last));
    d.opened.clear();
    EXPECT_EQ(d.FailureOf(0, progress, nullptr, &loc), kCorrupted);
    EXPECT_TRUE(d.opened.empty());
  }
  // The stream yields more than the entry's size: nothing beyond the size
  // is written.
  {
    SetupFileEntry e = d.script.FileEntries[1];
    PutLE32(e.Raw + 80, 1000);
    TBytesSink sink;
    auto source = d.Disk(d.script.FileLocationEntries[1].FirstDisk());
    EXPECT_THROW(ExtractFileData(source, false, 0, e, d.script.FileLocationEntries[1], sink, progress,
                                 nullptr),
                 Exception);
    EXPECT_LE(sink.bytes.size(), 1000u);
    EXPECT_EQ(d.FailureOf(1, progress, &e), kCorrupted);
  }
  // A size larger than the stream yields, a wrong checksum, negative sizes,
  // a compressed size larger than the data on the last disk.
  for (auto patch : std::vector<std::pair<size_t, uint32_t>>{
           {80, 2001}, {88, 12345}, {80, 0xFFFFFFFFu}, {84, 0xFFFFFF00u},
           {84, d.built.Files[1].CompressedSize + 50}}) {
    SetupFileEntry e = d.script.FileEntries[1];
    PutLE32(e.Raw + patch.first, patch.second);
    EXPECT_EQ(d.FailureOf(1, progress, &e), kCorrupted) << patch.first << "=" << patch.second;
  }
  // A marker offset pointing elsewhere.
  {
    SetupFileLocationEntry loc = d.script.FileLocationEntries[1];
    PutLE32(loc.Raw + 8, static_cast<uint32_t>(loc.StartOffset() + 1));
    EXPECT_EQ(d.FailureOf(1, progress, nullptr, &loc), kCorrupted);
  }
  EXPECT_EQ(progress.position, 1234u);
}

TEST(Extraction, FileLayerErrorsAndTheSilentAbortPassUnchanged) {
  sw::ScriptBuilder b;
  b.Files = {File(100000, 10)};
  sw::BuildOptions o;
  o.DiskSize = 50000;
  TDistribution d(b, o);
  TTestProgress progress;
  // A disk data file shorter than its header.
  d.built.Disks[1].resize(6);
  try {
    d.Extract(0, progress);
    FAIL() << "no failure";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("Read beyond end of file"), std::string::npos) << e.what();
  }
  EXPECT_EQ(progress.position, 0u);
  // A cancel at the second check point: the silent abort, the bar set back.
  TDistribution good(b, o);
  progress.cancel_at = 2;
  progress.checks = 0;
  EXPECT_THROW(good.Extract(0, progress), EAbort);
  EXPECT_EQ(progress.checks, 2);
  EXPECT_EQ(progress.position, 0u);
}
