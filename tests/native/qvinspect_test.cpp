// Round trips through qvbuild and qvinspect, and the inspection's findings
// for every fault the script writer can make.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "setupdata/script.h"
#include "tools/qvbuild/description.h"
#include "tools/qvbuild/distribution.h"
#include "tests/native/tempdir_fixture.h"
#include "tools/inspect/inspect.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

using testdata::ReadAll;
using testdata::WriteWholeFile;

class Inspect : public testfiles::TempDirTest {
 protected:
  // Builds d into out, inspects it, and checks that the inspection
  // describes the same installation; returns the inspection.
  json RoundTrip(const qvbuild::Description& d, qvbuild::DistributionOptions o) {
    o.Verify = qvinspect::VerifyDistribution;  // as qvbuild does
    qvbuild::DistributionResult r = qvbuild::BuildDistribution(d, o);
    std::string script = r.Written.at(0);
    std::vector<std::string> args = {script, "--verify"};
    if (o.SingleFile) {
      args = {script, "--offset", std::to_string(r.ScriptOffset), "--data-offset",
              std::to_string(r.DataOffset)};
    }
    std::string out, err;
    EXPECT_EQ(qvinspect::RunInspect(args, out, err), 0) << err;
    json j = json::parse(out);
    const sw::ScriptBuilder& b = d.Builder;
    EXPECT_EQ(j["header"]["appName"], b.Header.ApplicationName);
    EXPECT_EQ(j["header"]["defaultGroup"], b.Header.DefaultProgramFolder);
    EXPECT_EQ(j["texts"]["licenseSize"], b.LicenseText.size());
    EXPECT_EQ(j["texts"]["infoBeforeSize"], b.InfoBeforeText.size());
    EXPECT_EQ(j["verify"]["ok"], true);
    EXPECT_EQ(j["dirs"].size(), b.Dirs.size());
    EXPECT_EQ(j["icons"].size(), b.Icons.size());
    EXPECT_EQ(j["ini"].size(), b.Inis.size());
    EXPECT_EQ(j["registry"].size(), b.Registry.size());
    EXPECT_EQ(j["uninstallDelete"].size(), b.UninstallDeletes.size());
    EXPECT_EQ(j["run"].size(), b.Runs.size());
    EXPECT_EQ(j["files"].size(), b.Files.size());
    for (size_t i = 0; i < b.Files.size() && i < j["files"].size(); ++i) {
      auto bytes = ReadAll(d.Sources[i]);
      uint32_t adler = static_cast<uint32_t>(
          adler32(adler32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size())));
      const json& f = j["files"][i];
      EXPECT_EQ(f["dest"], b.Files[i].DestName);
      EXPECT_EQ(f["size"], bytes.size());
      EXPECT_EQ(f["checksum"], adler);
      EXPECT_EQ(f["compressedSize"], r.Files[i].CompressedSize);
      EXPECT_EQ(f["firstDisk"], r.Files[i].FirstDisk);
      EXPECT_EQ(f["lastDisk"], r.Files[i].LastDisk);
      EXPECT_EQ(j["verify"]["files"][i]["checksum"], adler);
    }
    // Compared with the description as JSON: every record, name for name.
    return j;
  }
};

const std::string kSample = std::string(QV_SOURCE_DIR) + "/samples/sample-app/sample.json";

}  // namespace

TEST_F(Inspect, SampleRoundTripKeepsEveryNameFlagAndValue) {
  qvbuild::Description d = qvbuild::LoadDescription(kSample);
  qvbuild::DistributionOptions o;
  o.OutDir = P("out");
  json j = RoundTrip(d, o);
  // The inspection uses the description's own keys: each record of the
  // description reappears with the same values.
  std::ifstream in(kSample);
  json desc = json::parse(in);
  EXPECT_EQ(j["header"]["minNTVersion"], desc["minNTVersion"]);
  EXPECT_EQ(j["header"]["minWindowsVersion"], desc["minWindowsVersion"]);
  EXPECT_EQ(j["header"]["backgroundColor"], desc["backgroundColor"]);
  EXPECT_EQ(j["header"]["flags"], desc["flags"]);
  for (const char* list : {"dirs", "icons", "ini", "registry", "uninstallDelete", "run"})
    for (size_t i = 0; i < desc[list].size(); ++i)
      for (auto& kv : desc[list][i].items()) {
        json got = j[list][i][kv.key()];
        if (kv.key() == "root") {  // short names come back long
          EXPECT_EQ(std::string(got).find("HKEY_"), 0u);
          continue;
        }
        EXPECT_EQ(got, kv.value()) << list << "[" << i << "]." << kv.key();
      }
  for (size_t i = 0; i < desc["files"].size(); ++i) {
    EXPECT_EQ(j["files"][i]["dest"], desc["files"][i]["dest"]);
    if (desc["files"][i].contains("flags")) {
      // Flags print in bit order; compare as sets.
      auto a = j["files"][i]["flags"].get<std::vector<std::string>>();
      auto e = desc["files"][i]["flags"].get<std::vector<std::string>>();
      std::sort(a.begin(), a.end());
      std::sort(e.begin(), e.end());
      EXPECT_EQ(a, e);
    }
  }
  EXPECT_EQ(j["files"][0]["version"], "1.0.0.3");
  EXPECT_EQ(j["files"][1]["version"], nullptr);
  EXPECT_EQ(j["files"][3]["version"], "2.5.0.17");
  EXPECT_EQ(j["files"][2]["copyMode"], "onlyIfDoesntExist");
  // The source time is the file's last-write time as a FILETIME.
  struct stat st;
  ASSERT_EQ(stat(d.Sources[1].c_str(), &st), 0);
  uint64_t ft = qvbuild::UnixTimeToFileTime(st.st_mtime, static_cast<uint32_t>(st.st_mtim.tv_nsec));
  EXPECT_EQ(j["files"][1]["sourceTime"]["low"], static_cast<uint32_t>(ft));
  EXPECT_EQ(j["files"][1]["sourceTime"]["high"], static_cast<uint32_t>(ft >> 32));
}

TEST_F(Inspect, RoundTripAcrossManyDisksAndInTheSingleFile) {
  fs::create_directories(P("src"));
  const sw::Bytes noise = testdata::Noise(20000, 3);
  std::string random(noise.begin(), noise.end()), text, zeros(9000, '\0');
  while (text.size() < 30000) text += "line " + std::to_string(text.size()) + " of some text\r\n";
  WriteWholeFile(P("src/R.BIN"), random);
  WriteWholeFile(P("src/T.TXT"), text);
  WriteWholeFile(P("src/Z.BIN"), zeros);
  WriteWholeFile(P("src/E.TXT"), "");
  WriteWholeFile(P("d.json"), R"({"appName":"Spanning","licenseFile":"src/T.TXT","files":[
      {"source":"src/R.BIN","dest":"{app}\\R.BIN"},
      {"source":"src/E.TXT","dest":"{app}\\E.TXT"},
      {"source":"src/T.TXT","dest":"{app}\\T.TXT","flags":["readme"]},
      {"source":"src/Z.BIN","dest":"{sys}\\Z.BIN","copyMode":"keepNewer"},
      {"source":"src/R.BIN","dest":"{win}\\R2.BIN","flags":["sharedFile"]}]})");
  qvbuild::Description d = qvbuild::LoadDescription(P("d.json"));

  qvbuild::DistributionOptions o;
  o.OutDir = P("disks");
  o.DiskSize = 4096;
  json j = RoundTrip(d, o);
  size_t disks = j["verify"]["disks"].size();
  EXPECT_GE(disks, 10u);
  for (const auto& disk : j["verify"]["disks"]) EXPECT_LE(disk["size"].get<int>(), 4096);
  EXPECT_LT(j["files"][0]["firstDisk"], j["files"][0]["lastDisk"]);
  EXPECT_EQ(j["files"][1]["size"], 0);

  // Exactly filled disks: a size that makes a stream end at a disk's end.
  o.OutDir = P("exact");
  o.DiskSize = 12 + 4 + 1;
  RoundTrip(d, o);

  // The single file, under the name the build once gave its temporary
  // data file.
  o.OutDir = P("single");
  o.DiskSize = 0;
  o.SingleFile = true;
  o.SingleFileName = "data";
  o.ScriptOffset = 5000;
  json s = RoundTrip(d, o);
  EXPECT_EQ(s["script"]["offset"], 5000);
  EXPECT_TRUE(s["verify"]["disks"].empty());
  EXPECT_FALSE(fs::exists(P("single/SETUP.1")));
  EXPECT_EQ(std::vector<std::string>{"data"}, [&] {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(P("single"))) names.push_back(e.path().filename().string());
    return names;
  }());

  // An output that does not read back is never moved into place.
  o.OutDir = P("damaged");
  o.SingleFile = false;
  o.ScriptOffset = 0;
  o.DiskSize = 4096;
  o.Verify = [](const std::string& script, uint32_t script_offset, uint32_t data_offset) {
    const std::string disk = script.substr(0, script.size() - 1) + "3";
    std::fstream f(disk, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    f.put('\x55');
    f.close();
    qvinspect::VerifyDistribution(script, script_offset, data_offset);
  };
  try {
    qvbuild::BuildDistribution(d, o);
    ADD_FAILURE() << "a damaged output was built";
  } catch (const qvinspect::EScriptFault& e) {
    EXPECT_NE(std::string(e.what()).find("files[0] ({app}\\R.BIN): The source file is corrupted"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::is_empty(P("damaged")));
}

namespace {

sw::ScriptBuilder SmallScript() {
  sw::ScriptBuilder b;
  b.Header.ApplicationName = "Faults";
  b.LicenseText = "licence";
  b.Dirs = {{"{app}\\D"}};
  for (int i = 0; i < 3; ++i) {
    sw::FileSpec f = testdata::FileEntry(
        "{app}\\F" + std::to_string(i),
        testdata::Noise(6000 + 1000 * static_cast<size_t>(i), static_cast<uint32_t>(i + 1)));
    b.Files.push_back(f);
  }
  b.Runs = {{"{app}\\F0", "", 0}};
  return b;
}

}  // namespace

TEST_F(Inspect, FindsEveryScriptFaultWithTheStartupMessage) {
  // Every kind of block fault is the block reader's to find (its tests
  // have the whole table); here one corrupt block gives the startup's
  // message, and so do the other two script faults.
  sw::ScriptBuilder b = SmallScript();
  {
    sw::BuildOptions o;
    o.Fault = sw::BlockFault::WrongDataChecksum;
    o.FaultBlock = 4;  // a file entry
    sw::WriteFileBytes(P("BAD.0"), b.Build(o).Script);
    std::string out, err;
    EXPECT_EQ(qvinspect::RunInspect({P("BAD.0")}, out, err), 1);
    EXPECT_NE(err.find("The setup files are corrupted. Please obtain a new copy of the program."),
              std::string::npos)
        << err;
    EXPECT_TRUE(out.empty());
  }
  sw::BuildOptions o;
  o.WrongScriptID = true;
  sw::WriteFileBytes(P("ID.0"), b.Build(o).Script);
  std::string out, err;
  EXPECT_EQ(qvinspect::RunInspect({P("ID.0")}, out, err), 1);
  EXPECT_NE(err.find(
                "The setup files are corrupted, or are incompatible with this version of Setup. "
                "Please correct the problem or obtain a new copy of the program."), std::string::npos) << err;

  // A script cut short: the file layer's message, still an error status.
  sw::Bytes good = b.Build().Script;
  good.resize(good.size() - 10);
  sw::WriteFileBytes(P("CUT.0"), good);
  err.clear();
  EXPECT_EQ(qvinspect::RunInspect({P("CUT.0")}, out, err), 1);
  EXPECT_NE(err.find("Read beyond end of file"), std::string::npos) << err;
}

TEST_F(Inspect, FindsEveryDiskFaultNamingTheFileAndEntry) {
  struct Case {
    sw::DiskFault fault;
    const char* detail;
  } cases[] = {{sw::DiskFault::WrongDiskID, "wrong disk file ID"},
               {sw::DiskFault::WrongTotalSize, "total size field"},
               {sw::DiskFault::WrongMarker, "no file data marker"},
               {sw::DiskFault::WrongFileChecksum, "Adler-32"},
               {sw::DiskFault::TruncatedDisk, "total size field"}};
  sw::ScriptBuilder b = SmallScript();
  int n = 0;
  for (const Case& c : cases)
    for (uint32_t disk_size : {0u, 5000u}) {
      fs::path dir = dir_ / ("d" + std::to_string(n++));
      fs::create_directories(dir);
      sw::BuildOptions o;
      o.DiskSize = disk_size;
      o.Disk = c.fault;
      sw::BuildResult r = b.Build(o);
      sw::WriteFileBytes((dir / "SETUP.0").string(), r.Script);
      for (size_t k = 0; k < r.Disks.size(); ++k)
        sw::WriteFileBytes((dir / ("SETUP." + std::to_string(k + 1))).string(), r.Disks[k]);
      std::string out, err;
      EXPECT_EQ(qvinspect::RunInspect({(dir / "SETUP.0").string(), "--verify"}, out, err), 1)
          << c.detail;
      EXPECT_NE(err.find("The source file is corrupted"), std::string::npos) << err;
      EXPECT_NE(err.find(c.detail), std::string::npos) << err;
      EXPECT_NE(err.find("SETUP."), std::string::npos) << err;
      if (c.fault == sw::DiskFault::WrongMarker || c.fault == sw::DiskFault::WrongFileChecksum) {
        EXPECT_NE(err.find("files[0] ({app}\\F0)"), std::string::npos) << err;
      }
      // The script itself is fine and still printed.
      EXPECT_EQ(json::parse(out)["verify"]["ok"], false);
    }
  // The single-file layout: marker and checksum faults in the data area.
  for (sw::DiskFault fault : {sw::DiskFault::WrongMarker, sw::DiskFault::WrongFileChecksum}) {
    sw::BuildOptions o;
    o.SingleFile = true;
    o.ScriptOffset = 300;
    o.Disk = fault;
    sw::BuildResult r = b.Build(o);
    std::string path = P("single" + std::to_string(static_cast<int>(fault)));
    sw::WriteFileBytes(path, r.Script);
    std::string out, err;
    EXPECT_EQ(qvinspect::RunInspect({path, "--offset", "300", "--data-offset",
                                     std::to_string(r.DataOffset)},
                                    out, err),
              1);
    EXPECT_NE(err.find("files[0] ({app}\\F0): The source file is corrupted"), std::string::npos) << err;
  }
  // A missing second disk, and a stream whose last disk is claimed too early.
  {
    fs::path dir = dir_ / "missing";
    fs::create_directories(dir);
    sw::BuildOptions o;
    o.DiskSize = 5000;
    sw::BuildResult r = b.Build(o);
    ASSERT_GE(r.Disks.size(), 3u);
    sw::WriteFileBytes((dir / "SETUP.0").string(), r.Script);
    sw::WriteFileBytes((dir / "SETUP.1").string(), r.Disks[0]);
    std::string out, err;
    EXPECT_EQ(qvinspect::RunInspect({(dir / "SETUP.0").string(), "--verify"}, out, err), 1);
    EXPECT_NE(err.find("SETUP.2: disk data file not found"), std::string::npos) << err;
    // A damaged last disk of 2147483647: the disks are listed up to the
    // first missing one, which is one fault, not one per disk.
    SetupScript script;
    qvinspect::LoadScriptFile((dir / "SETUP.0").string(), 0, script);
    for (int i = 0; i < 4; ++i) script.FileLocationEntries[0].Raw[4 + i] = i < 3 ? 0xFF : 0x7F;
    ASSERT_EQ(script.FileLocationEntries[0].LastDisk(), 2147483647);
    const qvinspect::VerifyResult v = qvinspect::VerifyData(script, (dir / "SETUP.0").string(), dir.string(), 0);
    EXPECT_EQ(v.Report["disks"].size(), 2u);
    EXPECT_LT(v.Faults.size(), 10u);
  }
}

TEST_F(Inspect, RefusesBadArguments) {
  std::string out, err;
  EXPECT_EQ(qvinspect::RunInspect({}, out, err), 2);
  EXPECT_EQ(qvinspect::RunInspect({"x", "--offset"}, out, err), 2);
  EXPECT_EQ(qvinspect::RunInspect({"x", "--offset", "-1"}, out, err), 2);
  EXPECT_EQ(qvinspect::RunInspect({"x", "--bogus"}, out, err), 2);
  err.clear();
  EXPECT_EQ(qvinspect::RunInspect({P("no-such-file")}, out, err), 1);
  EXPECT_FALSE(err.empty());
}
