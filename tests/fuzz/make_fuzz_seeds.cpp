// Writes the fuzz targets' starting corpora, each into DIR/<target>, with
// the project's own writers: scripts and disk data files by the script
// writer, uninstall logs by the change log's writer, distributions by
// qvbuild, descriptions as the samples and the docs write them.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/fuzzparts.h"
#include "tests/testdata.h"
#include "tools/qvbuild/description.h"
#include "tools/qvbuild/distribution.h"
#include "tools/scriptwriter/scriptwriter.h"
#include "undo/undolog.h"

namespace {

std::string Mkdir(const std::string& dir) {
  const std::string mk = "mkdir -p '" + dir + "'";
  if (std::system(mk.c_str()) != 0) std::exit(1);
  return dir;
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) { sw::WriteFileBytes(path, bytes); }

std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

void ScriptSeeds(const std::string& dir) {
  for (int variant = 0; variant < 4; ++variant) {
    sw::ScriptBuilder b;
    b.Header.ApplicationName = "Fuzz";
    b.Header.Flags = static_cast<uint8_t>(variant * 6);
    if (variant & 1) b.LicenseText = "Licence\r\n";
    b.Dirs = {{"{app}\\D"}};
    sw::FileSpec f = testdata::FileEntry("{app}\\F.TXT", sw::Bytes(100 + variant * 50, 'x'));
    b.Files = {f};
    b.Icons = {{"I", "{app}\\F.TXT", "", "{app}", "", 0}};
    b.Inis = {{"", "S", "K", "V", 1}};
    sw::RegistrySpec r;
    r.SubKey = "Software\\F";
    r.ValueType = static_cast<uint8_t>(variant);
    r.BinaryData = {1, 2, 3};
    r.StringData = "s";
    b.Registry = {r};
    b.UninstallDeletes = {{"{app}\\X"}};
    b.Runs = {{"{app}\\F.TXT", "", 0}};
    sw::BuildOptions o;
    o.Compress = variant != 2;
    Write(dir + "/seed" + std::to_string(variant), b.Build(o).Script);
  }
}

void UndoLogSeeds(const std::string& dir) {
  for (int variant = 0; variant < 3; ++variant) {
    TUndoChanges log;
    log.AppName = "Fuzz " + std::to_string(variant);
    log.AdminFlag = static_cast<uint8_t>(variant & 1);
    if (variant > 0) {
      log.AppendStrings(ukRemoveDir, {"C:\\Fuzz"}, 1);
      log.AppendStrings(ukDeleteFile, {"C:\\Fuzz\\A.EXE", ""}, dfNotifyShell);
      log.AppendStrings(ukDeleteFile, {"C:\\WINDOWS\\SYSTEM\\F.DLL", "C:\\Fuzz\\F.BAK"},
                        dfExistedBefore | dfSharedFile | dfRegisteredServer);
      log.AppendStrings(ukProgmanEntry, {"Fuzz", "Fuzz App"}, 0);
      log.AppendStrings(ukIniValue, {"C:\\WINDOWS\\FUZZ.INI", "S", "K"}, 0);
      log.AppendStrings(ukIniSection, {"", "Fuzz"}, 0);
    }
    if (variant > 1) {
      log.AppendStrings(ukRegKeyTree, {"Software\\Fuzz\\App"}, 0x80000002u);
      log.AppendStrings(ukRegKeyIfEmpty, {"Software\\Fuzz"}, 0x80000001u);
      log.AppendStrings(ukRegValue, {"Software\\Fuzz\\App", "Path"}, 0x80000002u);
      log.AppendStrings(ukShellNotify, {"C:\\Fuzz"}, 2);
    }
    log.WriteLogFile(dir + "/UNINST1." + std::to_string(variant));
  }
}

// One seed per file of a distribution: the entry's fields, then its disks.
void ExtractSeeds(const std::string& dir) {
  int seed = 0;
  for (uint32_t disk_size : {0u, 160u, 700u}) {
    for (bool single : {false, true}) {
      if (single && disk_size) continue;
      sw::ScriptBuilder b = testdata::Product("Fuzz", "1");
      b.Files = {testdata::FileEntry("{app}\\A", testdata::Mixed(300, 1, 40)),
                 testdata::FileEntry("{app}\\B", testdata::Noise(200, 2)),
                 testdata::FileEntry("{app}\\C", sw::Bytes())};
      sw::BuildOptions o;
      o.DiskSize = disk_size;
      o.SingleFile = single;
      const sw::BuildResult r = b.Build(o);
      for (const sw::FileData& f : r.Files) {
        std::vector<uint8_t> params;
        for (uint32_t v : {static_cast<uint32_t>(f.FirstDisk), static_cast<uint32_t>(f.LastDisk),
                           static_cast<uint32_t>(f.StartOffset), f.Size, f.CompressedSize, f.Checksum,
                           r.DataOffset})
          fuzzparts::PutLE32(params, v);
        std::vector<std::vector<uint8_t>> parts = {params};
        if (single)
          parts.push_back(r.Script);
        else
          parts.insert(parts.end(), r.Disks.begin(), r.Disks.end());
        Write(dir + "/file" + std::to_string(seed++), fuzzparts::Join(parts));
      }
    }
  }
}

// A small description of every kind of entry; its files have the names of
// the sample application's, so that it also reads beside those.
const char kDescription[] = R"({
  "appName": "Fuzz", "appVersionName": "Fuzz 1.0", "defaultDir": "Fuzz", "defaultGroup": "Fuzz",
  "licenseFile": "LICENSE.TXT", "minWindowsVersion": "4.0", "minNTVersion": "3.51",
  "backgroundColor": "COLOR_BACKGROUND", "flags": ["uninstallable", "allowNoIcons"],
  "dirs": [{ "name": "{app}\\Data" }],
  "files": [{ "source": "README.TXT", "dest": "{app}\\A.TXT", "flags": ["readme"] },
            { "source": "SAMPLE.INI", "dest": "{sys}\\B.DLL", "copyMode": "onlyIfDoesntExist",
              "flags": ["sharedFile"] }],
  "icons": [{ "name": "Fuzz", "file": "{app}\\A.TXT", "iconIndex": 2 }],
  "ini": [{ "file": "{win}\\F.INI", "section": "S", "key": "K", "value": "{app}" }],
  "registry": [{ "root": "HKLM", "subkey": "Software\\Fuzz", "valueName": "V", "type": "binary",
                 "data": "01 ff" },
               { "root": "HKCU", "subkey": "Software\\Fuzz", "valueName": "N", "type": "number", "data": 7 }],
  "uninstallDelete": [{ "path": "{app}\\Data\\F.LOG" }],
  "run": [{ "file": "{app}\\A.TXT", "parameters": "/x", "flags": ["noWait"] }]
})";

// Every text as long as its field holds, so that one more character is a
// single mutation away.
std::string LongestDescription() {
  auto t = [](size_t n, char c = 'x') { return "\"" + std::string(n, c) + "\""; };
  auto path = [](size_t n) { return "\"{app}\\\\" + std::string(n - 6, 'p') + "\""; };
  std::string binary;
  for (int i = 0; i < 252; ++i) binary += i ? " 0f" : "0f";
  return "{\"appName\": " + t(63) + ", \"appVersionName\": " + t(63) + ", \"subtitle\": " + t(63) +
         ", \"defaultDir\": " + t(47) + ", \"defaultGroup\": " + t(47) + ", \"dirs\": [{\"name\": " + path(47) +
         "}], \"files\": [{\"source\": \"README.TXT\", \"dest\": " + path(63) + "}], \"icons\": [{\"name\": " + t(47) +
         ", \"file\": " + path(63) + ", \"parameters\": " + t(127) + ", \"workingDir\": " + path(47) +
         ", \"iconFile\": " + path(63) + "}], \"ini\": [{\"file\": " + path(63) + ", \"section\": " + t(47) +
         ", \"key\": " + t(47) + ", \"value\": " + t(127) + "}], \"registry\": [{\"root\": \"HKLM\", \"subkey\": " +
         t(128) + ", \"valueName\": " + t(48) + ", \"type\": \"string\", \"data\": " + t(256) +
         "}, {\"root\": \"HKCU\", \"subkey\": \"S\", \"type\": \"binary\", \"data\": \"" + binary +
         "\"}], \"uninstallDelete\": [{\"path\": " + path(63) + "}], \"run\": [{\"file\": " + path(63) +
         ", \"parameters\": " + t(127) + "}]}";
}

void DistributionSeeds(const std::string& description_dir, const std::string& inspect_dir,
                       const std::string& work) {
  Mkdir(work);
  sw::WriteFileBytes(work + "/LICENSE.TXT", Text("Licence\r\n"));
  sw::WriteFileBytes(work + "/README.TXT", testdata::Mixed(400, 3, 30));
  sw::WriteFileBytes(work + "/SAMPLE.INI", testdata::Noise(150, 4));
  Write(description_dir + "/fuzz.json", Text(kDescription));
  Write(description_dir + "/minimal.json", Text(R"({"appName": "A"})"));
  Write(description_dir + "/longest.json", Text(LongestDescription()));
  const std::string sample = testdata::ReadWholeFile(QV_SOURCE_DIR "/samples/sample-app/sample.json");
  Write(description_dir + "/sample.json", Text(sample));

  const qvbuild::Description d = qvbuild::ParseDescription(kDescription, "fuzz.json", work);
  int seed = 0;
  for (uint32_t disk_size : {0u, 200u}) {
    for (bool single : {false, true}) {
      if (single && disk_size) continue;
      qvbuild::DistributionOptions o;
      o.OutDir = work + "/out" + std::to_string(seed);
      o.DiskSize = disk_size;
      o.SingleFile = single;
      o.ScriptOffset = single ? 16 : 0;
      const qvbuild::DistributionResult r = qvbuild::BuildDistribution(d, o);
      std::vector<uint8_t> params;
      fuzzparts::PutLE32(params, r.ScriptOffset);
      fuzzparts::PutLE32(params, r.DataOffset);
      std::vector<std::vector<uint8_t>> parts = {params};
      for (const std::string& path : r.Written) parts.push_back(testdata::ReadAll(path));
      Write(inspect_dir + "/dist" + std::to_string(seed++), fuzzparts::Join(parts));
    }
  }
  const std::string rm = "rm -rf '" + work + "'";
  if (std::system(rm.c_str()) != 0) std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  try {
    ScriptSeeds(Mkdir(dir + "/script_loader_fuzz"));
    UndoLogSeeds(Mkdir(dir + "/undo_log_fuzz"));
    ExtractSeeds(Mkdir(dir + "/extract_fuzz"));
    DistributionSeeds(Mkdir(dir + "/description_fuzz"), Mkdir(dir + "/inspect_fuzz"), dir + "/.work");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
