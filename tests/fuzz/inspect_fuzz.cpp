// Feeds arbitrary distributions to qvinspect. Input: the parts of
// fuzzparts.h; the first holds the script offset and the data offset (32
// bits each), the second the script's file, the next ones SETUP.1, SETUP.2
// ... A script is either refused with EScriptFault or shown as JSON; its
// verification names the data file of every fault, and says a file is
// sound exactly when setup.exe's extraction yields it (same size and
// Adler-32), for every file whose location and sizes are possible.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "install/extract.h"
#include "setupdata/zlibblock.h"
#include "tests/fuzz/fuzzparts.h"
#include "tools/inspect/inspect.h"

namespace {

void Require(bool ok, const char* what, const std::string& detail = "") {
  if (ok) return;
  std::fprintf(stderr, "inspect_fuzz: %s %s\n", what, detail.c_str());
  std::abort();
}

class TNoProgress : public TInstallProgress {
 public:
  void SetStatusText(const std::string&) override {}
  void SetFileNameText(const std::string&) override {}
  void AddProgress(uint32_t) override {}
  uint32_t ProgressPosition() const override { return 0; }
  void SetProgressPosition(uint32_t) override {}
  void CheckCancel() override {}
};

class TChecksumSink : public TFileSink {
 public:
  void Write(const void* data, uint32_t count) override {
    adler = Adler32(adler, data, count);
    size += count;
  }
  uint32_t adler = 1;
  int64_t size = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::vector<uint8_t>> parts = fuzzparts::Split(data, size);
  if (parts.size() < 2) return 0;
  const uint32_t script_offset = fuzzparts::LE32(parts[0], 0);
  const uint32_t data_offset = fuzzparts::LE32(parts[0], 4);
  SetupScript script;
  try {
    TMemoryFile file(parts[1], "SETUP.0");
    qvinspect::LoadScript(file, script_offset, script);
  } catch (const qvinspect::EScriptFault&) {
    return 0;
  }
  (void)qvinspect::ScriptToJson(script).dump(2);

  auto disk = [&parts](int n) -> std::unique_ptr<TFile> {
    if (n < 1 || static_cast<size_t>(n) + 1 >= parts.size()) return nullptr;
    return std::make_unique<TMemoryFile>(parts[static_cast<size_t>(n) + 1], "SETUP." + std::to_string(n));
  };
  qvinspect::TDataFiles files;
  files.ScriptName = "SETUP.0";
  files.OpenScript = [&parts] { return std::make_unique<TMemoryFile>(parts[1], "SETUP.0"); };
  files.DiskName = [](int n) { return "SETUP." + std::to_string(n); };
  files.OpenDisk = disk;
  const qvinspect::VerifyResult v = qvinspect::VerifyData(script, files, data_offset);
  (void)v.Report.dump(2);
  for (const std::string& fault : v.Faults)
    Require(fault.compare(0, 6, "SETUP.") == 0, "a fault that names no data file:", fault);

  const auto& reports = v.Report["files"];
  Require(reports.size() == script.FileEntries.size(), "not every file was verified");
  for (size_t i = 0; i < script.FileEntries.size(); ++i) {
    const SetupFileEntry& f = script.FileEntries[i];
    const SetupFileLocationEntry& l = script.FileLocationEntries[i];
    const bool sound = reports[i]["ok"].get<bool>();
    bool extracted = false;
    TChecksumSink sink;
    TNoProgress progress;
    std::unique_ptr<TFile> first = data_offset != 0 ? files.OpenScript() : disk(l.FirstDisk());
    if (first) {
      try {
        ExtractFileData(first, false, data_offset, f, l, sink, progress, [&disk](int32_t n) {
          std::unique_ptr<TFile> next = disk(n);
          if (!next) throw EAbort();  // the user cancels the next-disk prompt
          return next;
        });
        extracted = true;
      } catch (const Exception&) {
      }
    }
    const std::string entry = "files[" + std::to_string(i) + "]";
    if (sound)
      Require(extracted && sink.size == f.Size() && sink.adler == f.Checksum(),
              "verified as sound but setup cannot extract it:", entry);
    const bool possible = l.FirstDisk() >= 1 && l.LastDisk() >= l.FirstDisk() && l.StartOffset() >= 0;
    if (extracted && possible) Require(sound, "setup extracts it but the verification finds a fault:", entry);
  }
  return 0;
}
