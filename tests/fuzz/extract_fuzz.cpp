// Feeds arbitrary disk data files and file entries to the extraction of one
// file. Input: the parts of fuzzparts.h; the first holds the entry's fields
// (first disk, last disk, offset, size, compressed size, Adler-32, 32 bits
// each) and the data offset (0: disk data files; otherwise the data lies in
// the first disk's part, which then has no header); part n is SETUP.n.
// Extraction either yields exactly the declared size with the declared
// Adler-32 and moves the progress bar by the compressed size, or raises
// "The source file is corrupted", the file layer's error or the user's
// cancel, with the bar back where it stood. It never writes beyond the
// declared size and asks only for the disks after the first, in order, up
// to the last.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "install/extract.h"
#include "install/filerules.h"
#include "setupdata/zlibblock.h"
#include "tests/fuzz/fuzzparts.h"

namespace {

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "extract_fuzz: %s\n", what);
  std::abort();
}

void PutField(uint8_t* raw, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) raw[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

class TFuzzProgress : public TInstallProgress {
 public:
  void SetStatusText(const std::string&) override {}
  void SetFileNameText(const std::string&) override {}
  void AddProgress(uint32_t amount) override { position += amount; }
  uint32_t ProgressPosition() const override { return position; }
  void SetProgressPosition(uint32_t p) override { position = p; }
  void CheckCancel() override {}
  uint32_t position = 0;
};

class TBoundedSink : public TFileSink {
 public:
  explicit TBoundedSink(int64_t declared) : declared_(declared) {}
  void Write(const void* data, uint32_t count) override {
    Require(static_cast<int64_t>(bytes.size()) + count <= declared_, "written beyond the declared size");
    const auto* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + count);
  }
  std::vector<uint8_t> bytes;

 private:
  int64_t declared_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::vector<uint8_t>> parts = fuzzparts::Split(data, size);
  const std::vector<uint8_t>& params = parts[0];
  SetupFileLocationEntry location;
  SetupFileEntry file;
  for (size_t i = 0; i < 3; ++i) PutField(location.Raw, 4 * i, fuzzparts::LE32(params, 4 * i));
  PutField(file.Raw, 80, fuzzparts::LE32(params, 12));  // Size
  PutField(file.Raw, 84, fuzzparts::LE32(params, 16));  // CompressedSize
  PutField(file.Raw, 88, fuzzparts::LE32(params, 20));  // Checksum
  const uint32_t data_offset = fuzzparts::LE32(params, 24);
  const int32_t first = location.FirstDisk(), last = location.LastDisk();
  // The caller finds the first disk before it extracts.
  if (first < 1 || static_cast<size_t>(first) >= parts.size()) return 0;

  std::vector<int32_t> asked;
  bool cancelled = false;
  TOpenDisk open_disk = [&](int32_t disk) -> std::unique_ptr<TFile> {
    asked.push_back(disk);
    Require(disk > first && disk <= last, "asked for a disk outside the file's range");
    Require(disk == first + static_cast<int32_t>(asked.size()), "asked for the disks out of order");
    if (static_cast<size_t>(disk) >= parts.size()) {
      cancelled = true;  // the user cancels the next-disk prompt
      throw EAbort();
    }
    return std::make_unique<TMemoryFile>(parts[static_cast<size_t>(disk)], "SETUP." + std::to_string(disk));
  };

  TFuzzProgress progress;
  progress.position = 1000;
  TBoundedSink sink(file.Size());
  try {
    std::unique_ptr<TFile> source = std::make_unique<TMemoryFile>(parts[static_cast<size_t>(first)]);
    ExtractFileData(source, false, data_offset, file, location, sink, progress, open_disk);
  } catch (const EAbort&) {
    Require(cancelled, "a cancel that nobody asked for");
    Require(progress.position == 1000, "the progress bar was not set back");
    return 0;
  } catch (const EInOutError&) {
    Require(progress.position == 1000, "the progress bar was not set back");
    return 0;
  } catch (const EZlibInternalError& e) {
    std::fprintf(stderr, "extract_fuzz: %s\n", e.Message().c_str());
    Require(false, "a zlib failure other than corrupt data");
  } catch (const Exception& e) {
    Require(e.Message() == SSourceCorrupted, "a failure other than the corrupted-file error");
    Require(progress.position == 1000, "the progress bar was not set back");
    return 0;
  }
  Require(static_cast<int64_t>(sink.bytes.size()) == file.Size(), "the extracted size differs from the entry's");
  Require(Adler32(1, sink.bytes.data(), sink.bytes.size()) == file.Checksum(), "the Adler-32 differs from the entry's");
  Require(progress.position == 1000 + static_cast<uint32_t>(file.CompressedSize()),
          "the progress bar did not move by the compressed size");
  return 0;
}
