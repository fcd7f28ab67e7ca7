// The build tool: descriptions, refusals with their places, the PE version
// reader, and distributions that the setup data reader accepts.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "setupdata/script.h"
#include "tests/native/tempdir_fixture.h"
#include "tools/qvbuild/description.h"
#include "loader/attachment.h"
#include "tools/qvbuild/distribution.h"
#include "tools/qvbuild/media.h"
#include "tools/qvbuild/pefile.h"

namespace fs = std::filesystem;
using namespace qvbuild;

namespace {

using testdata::ReadAll;
using testdata::WriteWholeFile;

class TempDirTest : public testfiles::TempDirTest {
 protected:
  // Everything in the directory, temporary names included.
  std::vector<std::string> Listing(const std::string& sub) const {
    std::vector<std::string> names;
    if (!fs::exists(dir_ / sub)) return names;
    for (auto& e : fs::directory_iterator(dir_ / sub)) names.push_back(e.path().filename().string());
    return names;
  }
};

const std::string kSampleDir = std::string(QV_SOURCE_DIR) + "/samples/sample-app/";

}  // namespace

TEST(PEVersion, ReadsTheFixedFileInfoOfPE32AndPE32Plus) {
  auto dll = ReadAll(kSampleDir + "SAMPLE.DLL");  // x86_64
  auto exe = ReadAll(kSampleDir + "SAMPLE.EXE");  // i686
  ASSERT_FALSE(dll.empty());
  ASSERT_FALSE(exe.empty());
  MemorySource d(dll.data(), dll.size()), e(exe.data(), exe.size());
  FileVersion vd = ReadPEFileVersion(d), ve = ReadPEFileVersion(e);
  ASSERT_TRUE(vd.Present);
  EXPECT_EQ(vd.MS, 0x00020005u);
  EXPECT_EQ(vd.LS, 0x00000011u);
  ASSERT_TRUE(ve.Present);
  EXPECT_EQ(FormatFileVersion(ve.MS, ve.LS), "1.0.0.3");

  auto text = ReadAll(kSampleDir + "README.TXT");
  MemorySource t(text.data(), text.size());
  FileVersion vt = ReadPEFileVersion(t);
  EXPECT_FALSE(vt.Present);
  EXPECT_EQ(vt.MS, 0xFFFFFFFFu);
  EXPECT_EQ(vt.LS, 0xFFFFFFFFu);
}

TEST(PEVersion, DamagedFilesNeverReadOutOfBounds) {
  auto dll = ReadAll(kSampleDir + "SAMPLE.DLL");
  ASSERT_FALSE(dll.empty());
  // Every truncation: the version is found only when the resource is whole.
  size_t found_from = dll.size() + 1;
  for (size_t n = 0; n <= dll.size(); ++n) {
    std::vector<uint8_t> cut(dll.begin(), dll.begin() + static_cast<long>(n));
    MemorySource s(cut.data(), cut.size());
    if (ReadPEFileVersion(s).Present && found_from > n) found_from = n;
  }
  EXPECT_LT(found_from, dll.size() + 1);
  EXPECT_GT(found_from, 0x1000u) << "the resource section starts at 0x1000";
  // Random damage to the headers and the resource section (ASan watches).
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bad = dll;
    for (int k = 0; k < 4; ++k) {
      size_t at = rng() % 2 ? rng() % 0x400 : 0x1000 + rng() % 0x230;
      bad[at] = static_cast<uint8_t>(rng());
    }
    MemorySource s(bad.data(), bad.size());
    FileVersion v = ReadPEFileVersion(s);
    if (!v.Present) {
      EXPECT_EQ(v.MS, 0xFFFFFFFFu);
    }
  }
}

TEST(Description, VersionsColoursAndTimes) {
  uint8_t ma = 0, mi = 0;
  ASSERT_TRUE(ParseWindowsVersion("3.51", ma, mi));
  EXPECT_EQ(ma, 3);
  EXPECT_EQ(mi, 51);
  ASSERT_TRUE(ParseWindowsVersion("4.1", ma, mi));  // as the refusal prints 4.10
  EXPECT_EQ(mi, 10);
  EXPECT_EQ(FormatRequiredVersion(ma, mi), "4.1");
  ASSERT_TRUE(ParseWindowsVersion("4.05", ma, mi));
  EXPECT_EQ(mi, 5);
  ASSERT_TRUE(ParseWindowsVersion("0", ma, mi));
  EXPECT_EQ(ma, 0);
  for (const char* bad : {"", "4.", ".5", "4.100", "x", "4.0.1", "256.0", "-4.0"})
    EXPECT_FALSE(ParseWindowsVersion(bad, ma, mi)) << bad;

  auto color = [](const std::string& c) {
    return ParseDescription("{\"appName\":\"A\",\"backgroundColor\":\"" + c + "\"}", "t.json", "")
        .Builder.Header.BackgroundColor;
  };
  EXPECT_EQ(color("#0000FF"), 0x00FF0000);  // blue: red is the low byte
  EXPECT_EQ(color("#123456"), 0x00563412);
  EXPECT_EQ(static_cast<uint32_t>(color("COLOR_BTNFACE")), 0x8000000Fu);
  EXPECT_EQ(static_cast<uint32_t>(color("system:1")), 0x80000001u);
  EXPECT_THROW(color("#12345"), EDescriptionError);
  EXPECT_THROW(color("COLOR_NOPE"), EDescriptionError);

  EXPECT_EQ(UnixTimeToFileTime(0, 0), 116444736000000000ull);
  EXPECT_EQ(UnixTimeToFileTime(1, 500), 116444736010000005ull);
}

TEST(Description, TranslatesNamesFlagsAndRegistryValues) {
  Description d = ParseDescription(R"({
    "appName": "Caf\u00e9", "flags": ["uninstallable", "solidBackground"],
    "minWindowsVersion": "4.10", "minNTVersion": "0",
    "registry": [
      {"root": "HKCR", "subkey": ".smp"},
      {"root": "HKEY_USERS", "subkey": "K", "type": "number", "data": 4294967295},
      {"root": "HKEY_CURRENT_CONFIG", "subkey": "K", "type": "binary", "data": "00 ff,7A"}
    ],
    "run": [{"file": "{app}\\A.EXE", "parameters": "/x", "flags": ["noWait"]}],
    "ini": [{"section": "S", "key": "K", "flags": ["uninstallDeleteEntry", "uninstallDeleteSection"]}]
  })", "t.json", "");
  const sw::ScriptBuilder& b = d.Builder;
  EXPECT_EQ(b.Header.ApplicationName, "Caf\xE9");
  EXPECT_EQ(b.Header.ApplicationVersionName, "Caf\xE9");
  EXPECT_EQ(b.Header.Flags, 0x12);
  EXPECT_EQ(b.Header.MinWindowsVersionMinor, 10);
  EXPECT_EQ(b.Header.MinNTVersionMajor, 0);
  ASSERT_EQ(b.Registry.size(), 3u);
  EXPECT_EQ(b.Registry[0].RootKey, 0x80000000u);
  EXPECT_EQ(b.Registry[0].ValueType, 0);
  EXPECT_EQ(b.Registry[1].RootKey, 0x80000003u);
  EXPECT_EQ(b.Registry[1].NumberData, -1);
  EXPECT_EQ(b.Registry[2].RootKey, 0x80000005u);
  EXPECT_EQ(b.Registry[2].BinaryData, (sw::Bytes{0x00, 0xFF, 0x7A}));
  EXPECT_EQ(b.Runs.at(0).RunFlags, 0x01);
  EXPECT_EQ(b.Inis.at(0).IniFlags, 0x03);
  EXPECT_EQ(b.Inis.at(0).IniFileName, "");
}

class DescriptionFaults : public TempDirTest {};

TEST_F(DescriptionFaults, NameTheFileTheEntryAndTheField) {
  struct Case {
    const char* json;
    const char* place;
    const char* what;
  } cases[] = {
      {R"({"appName":"A","colour":"#000000"})", "t.json: colour:", "unknown key"},
      {R"({"appName":"A","":"x"})", "t.json: \"\":", "unknown key"},
      {R"({"appName":"A","flags":["uninstalable"]})", "t.json: flags:", "unknown flag \"uninstalable\""},
      {R"({"appName":"A","dirs":[{"name":"{app}\\x"},{"name":"{app}\\y","mode":1}]})", "t.json: dirs[1].mode:", "unknown key"},
      {R"({"appName":"A","run":[{"file":"x","flags":["wait"]}]})", "t.json: run[0].flags:", "unknown flag"},
      {R"({"appName":"A","icons":[{"name":"N","file":"F","iconFile":"0123456789012345678901234567890123456789012345678901234567890123"}]})",
       "t.json: icons[0].iconFile:", "at most 63"},
      {R"({"appName":"0123456789012345678901234567890123456789012345678901234567890123"})",
       "t.json: appName:", "64 characters long; the field holds at most 63"},
      {R"({"appName":"A","registry":[{"root":"HKLM","subkey":"K","type":"binary","data":")"
       "000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f"
       "000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f"
       "000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f"
       "000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f"
       "00\"}]}", "t.json: registry[0].data:", "binary value of 257 bytes; at most 252"},
      {R"({"appName":"A","registry":[{"root":"HKXX","subkey":"K"}]})", "t.json: registry[0].root:", "unknown registry root"},
      {R"({"appName":"A","registry":[{"root":"HKLM","subkey":"K","type":"dword"}]})", "t.json: registry[0].type:", "unknown name \"dword\""},
      {R"({"appName":"A","registry":[{"root":"HKLM","subkey":"K","type":"binary","data":"0g"}]})", "t.json: registry[0].data:", "not hex"},
      {R"({"appName":"A","files":[{"source":"NOPE.BIN","dest":"{app}\\N"}]})", "t.json: files[0].source:", "not found"},
      {R"({"appName":"A","files":[{"source":"t.json","dest":"{app}\\N","copyMode":"newer"}]})", "t.json: files[0].copyMode:", "unknown name"},
      {R"({"appName":"A","minNTVersion":"four"})", "t.json: minNTVersion:", "must be a version"},
      {R"({"appName":"A","licenseFile":"NOLICENCE.TXT"})", "t.json: licenseFile:", "cannot read"},
      {R"({"appName":"\u4e2d"})", "t.json: appName:", "not representable"},
      {R"({"appName":"A",)", "t.json:", "not valid JSON"},
      {R"({"appName":"A","icons":[{"name":"I","file":"F","iconIndex":4719.86E131529541268359}]})", "t.json:",
       "not valid JSON"},
      {R"({"subtitle":"A"})", "t.json: appName:", "missing"},
      {R"({"appName":"A","uninstaller":"t.json"})", "t.json: uninstaller:", "needs the flag \"uninstallable\""},
      {R"({"appName":"A","flags":["uninstallable"],"uninstaller":"NOPE.EXE"})", "t.json: uninstaller:", "not found"},
      {R"({"appName":"A","flags":["uninstallable"],"uninstaller":3})", "t.json: uninstaller:", "must be the path"},
      // What would do harm at the user's machine: a shared key deleted by
      // every uninstallation, a destination that depends on the current
      // directory, constants setup.exe does not know, "..", two entries
      // for one destination.
      {R"({"appName":"A","registry":[{"root":"HKLM","subkey":"Software\\Vendor"},
          {"root":"HKLM","subkey":"Software","flags":["uninstallDeleteKey"]}]})",
       "t.json: registry[1].subkey:", "uninstallDeleteKey would delete \"Software\" with all it holds"},
      {R"({"appName":"A","registry":[{"root":"HKCU","subkey":"Software\\Microsoft\\Windows\\CurrentVersion\\Run","flags":["uninstallDeleteKey"]}]})",
       "t.json: registry[0].subkey:", "must not be a key that every program shares"},
      {R"({"appName":"A","files":[{"source":"t.json","dest":"X.EXE"}]})", "t.json: files[0].dest:",
       "\"X.EXE\" is not a full path: it must start with {app}, {win}, {sys}, {src}, a drive"},
      {R"({"appName":"A","files":[{"source":"t.json","dest":"{App}\\X.EXE"}]})", "t.json: files[0].dest:",
       "unknown constant \"{App}\" (the constants are {app}, {win}, {sys} and {src}, in small letters)"},
      {R"({"appName":"A","dirs":[{"name":"{pf}\\Vendor"}]})", "t.json: dirs[0].name:", "unknown constant \"{pf}\""},
      {R"({"appName":"A","icons":[{"name":"N","file":"{app}\\A.EXE","workingDir":"{App}"}]})",
       "t.json: icons[0].workingDir:", "unknown constant \"{App}\""},
      {R"({"appName":"A","uninstallDelete":[{"path":"{app}\\..\\Shared\\x.dll"}]})", "t.json: uninstallDelete[0].path:",
       "climbs out of its folder with \"..\""},
      {R"({"appName":"A","uninstallDelete":[{"path":"\\\\server"}]})", "t.json: uninstallDelete[0].path:", "is not a full path"},
      {R"({"appName":"A","files":[{"source":"t.json","dest":"{app}\\A.TXT"},{"source":"t.json","dest":"{sys}\\B"},
          {"source":"t.json","dest":"{sys}\\C"},{"source":"t.json","dest":"{app}\\a.txt"}]})",
       "t.json: files[3].dest:", "\"{app}\\a.txt\" is also the destination of files[0]"},
      {R"({"appName":"A","flags":["uninstallable"],"files":[{"source":"t.json","dest":"{win}\\UNINSTAL.EXE"}],
          "uninstaller":"t.json"})", "t.json: uninstaller:", "is also the destination of files[0]"},
      // A key given twice: the parser would keep the second silently.
      {R"({"appName":"A","files":[],"subtitle":"S","files":[]})", "t.json: files:", "the key appears twice in one object"},
      {R"({"appName":"A","dirs":[{"name":"{app}"}],"files":[{"source":"t.json","dest":"{app}\\a"},
          {"source":"t.json","dest":"{app}\\b","source":"t.json"}]})", "t.json: files[1].source:", "appears twice"},
      // Text files the script's single-byte texts cannot hold.
      {R"({"appName":"A","licenseFile":"euro.txt"})", "t.json: licenseFile:", "euro.txt\" holds the character U+20AC"},
      {R"({"appName":"A","infoBeforeFile":"badbom.txt"})", "t.json: infoBeforeFile:", "begins as UTF-8 but is not UTF-8"},
  };
  std::string base = dir_.string() + "/";
  WriteWholeFile(base + "t.json", "{}");  // an existing source for the copy-mode case
  WriteWholeFile(base + "euro.txt", "10 \xE2\x82\xAC");
  WriteWholeFile(base + "badbom.txt", "\xEF\xBB\xBF(c) \xA9");
  // UTF-8 texts with and without a byte-order mark are converted; a text
  // that is not UTF-8 is single-byte already.
  WriteWholeFile(base + "bom.txt", "\xEF\xBB\xBF\xE2\x80\xA6 \xC2\xA9 Caf\xC3\xA9");
  WriteWholeFile(base + "utf8.txt", "na\xC3\xAFve\r\n");
  WriteWholeFile(base + "ansi.txt", "(c) \xA9 1998");
  const Description texts = ParseDescription(
      R"({"appName":"A","licenseFile":"utf8.txt","infoBeforeFile":"ansi.txt"})",
      "t.json", base);
  EXPECT_EQ(texts.Builder.LicenseText, "na\xEFve\r\n");
  EXPECT_EQ(texts.Builder.InfoBeforeText, "(c) \xA9 1998");
  try {
    ParseDescription(R"({"appName":"A","infoAfterFile":"bom.txt"})", "t.json", base);
    ADD_FAILURE() << "an ellipsis (U+2026) was converted";
  } catch (const EDescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("U+2026"), std::string::npos) << e.what();
  }
  WriteWholeFile(base + "bom.txt", "\xEF\xBB\xBF\xC2\xA9 Caf\xC3\xA9");
  EXPECT_EQ(ParseDescription(R"({"appName":"A","infoAfterFile":"bom.txt"})", "t.json", base).Builder.InfoAfterText,
            "\xA9 Caf\xE9");
  // 252 bytes fit exactly, 253 do not.
  std::string hex252;
  for (int i = 0; i < 252; ++i) hex252 += "ab";
  auto reg = [](const std::string& hex) {
    return R"({"appName":"A","registry":[{"root":"HKLM","subkey":"K","type":"binary","data":")" +
           hex + "\"}]}";
  };
  EXPECT_EQ(ParseDescription(reg(hex252), "t.json", "").Builder.Registry[0].BinaryData.size(), 252u);
  // Full paths of every kind, keys that are an application's own, a
  // CLSID in a registry value: accepted.
  const Description ok = ParseDescription(R"({"appName":"A","flags":["uninstallable"],
    "dirs":[{"name":"{app}"},{"name":"C:\\Data"},{"name":"\\\\srv\\share\\App"},{"name":"{src}\\x..y"}],
    "registry":[{"root":"HKCR","subkey":".smp","flags":["uninstallDeleteKey"]},
                {"root":"HKLM","subkey":"Software\\Vendor","type":"string","data":"{00021401-0000-0000-C000-000000000046}",
                 "flags":["uninstallDeleteKey"]},
                {"root":"HKLM","subkey":"Software","flags":["uninstallDeleteValue"]},
                {"root":"HKLM","subkey":"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\A.EXE",
                 "flags":["uninstallDeleteKey"]}],
    "files":[{"source":"t.json","dest":"{sys}\\A.DLL"},{"source":"t.json","flags":["uninstallDataFile"]},
             {"source":"t.json","flags":["uninstallDataFile"]}],
    "uninstaller":"t.json"})", "t.json", base);
  EXPECT_EQ(ok.Builder.Dirs.size(), 4u);
  EXPECT_EQ(ok.Builder.Files.size(), 4u);
  EXPECT_THROW(ParseDescription(reg(hex252 + "cd"), "t.json", ""), EDescriptionError);
  for (const Case& c : cases) {
    try {
      ParseDescription(c.json, "t.json", base);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const EDescriptionError& e) {
      std::string m = e.what();
      EXPECT_EQ(m.rfind(c.place, 0), 0u) << m;
      EXPECT_NE(m.find(c.what), std::string::npos) << m;
    }
  }
}

class Distribution : public TempDirTest {};

// The uninstaller's entry: {win}\Uninstal.exe after the product's files,
// copied only over an older version (keepNewer) and never removed, with the
// version of the program's own resource; the command line points it at
// another build of the program.
TEST_F(Distribution, UninstallerEntryCarriesItsVersionAndIsKeptByUninstallations) {
  WriteWholeFile(P("d.json"), R"({"appName":"A","flags":["uninstallable"],
    "files":[{"source":"a.txt","dest":"{app}\\a.txt"}],
    "uninstaller":")" + kSampleDir + R"(SAMPLE.EXE"})");
  WriteWholeFile(P("a.txt"), "a");
  Description d = LoadDescription(P("d.json"));
  ASSERT_EQ(d.Builder.Files.size(), 2u);
  EXPECT_EQ(d.UninstallerIndex, 1);
  const sw::FileSpec& u = d.Builder.Files[1];
  EXPECT_EQ(u.DestName, "{win}\\Uninstal.exe");
  EXPECT_EQ(u.CopyMode, 3);
  EXPECT_EQ(u.FileFlags, 0x02);
  DistributionOptions o;
  o.OutDir = P("out");
  DistributionResult r = BuildDistribution(d, o);
  ASSERT_EQ(r.FileSpecs.size(), 2u);
  EXPECT_EQ(r.FileSpecs[1].FileVersionMS, 0x00010000);  // SAMPLE.EXE is 1.0.0.3
  EXPECT_EQ(r.FileSpecs[1].FileVersionLS, 0x00000003);

  // Pointed at another file: the same entry, another source.
  SetUninstaller(d, kSampleDir + "SAMPLE.DLL");
  ASSERT_EQ(d.Builder.Files.size(), 2u);
  EXPECT_EQ(d.Sources[1], kSampleDir + "SAMPLE.DLL");
  EXPECT_THROW(SetUninstaller(d, P("missing.exe")), EDescriptionError);
}

TEST_F(Distribution, FailedBuildLeavesNoOutputThatLooksComplete) {
  // A first, good build; then a build that fails half way (second file
  // vanished after the description was read) must neither leave its own
  // pieces nor a mix with the old ones.
  const sw::Bytes noise = testdata::Noise(3000, 1);
  WriteWholeFile(P("A.TXT"), std::string(noise.begin(), noise.end()));
  WriteWholeFile(P("B.TXT"), "bbb");
  WriteWholeFile(P("d.json"), R"({"appName":"A","files":[{"source":"A.TXT","dest":"{app}\\A"},
                                                    {"source":"B.TXT","dest":"{app}\\B"}]})");
  DistributionOptions o;
  o.OutDir = P("out");
  o.DiskSize = 1000;
  Description d = LoadDescription(P("d.json"));
  DistributionResult r = BuildDistribution(d, o);
  ASSERT_GE(r.Written.size(), 1u + 4u);  // 3000 bytes of noise need four disks of 1000
  auto old_script = ReadAll(P("out/SETUP.0"));
  fs::remove(P("B.TXT"));
  try {
    BuildDistribution(d, o);
    ADD_FAILURE() << "built without B.TXT";
  } catch (const EDescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("d.json: files[1].source"), std::string::npos) << e.what();
  }
  auto names = Listing("out");
  for (const auto& n : names) EXPECT_EQ(n.find(".qvbuild"), std::string::npos) << n;
  // Nothing was moved: the earlier build stands whole.
  EXPECT_EQ(names.size(), r.Written.size());
  EXPECT_EQ(ReadAll(P("out/SETUP.0")), old_script);

  // Options that cannot work are refused before anything is read or
  // written, naming the option.
  WriteWholeFile(P("B.TXT"), "bbb");
  o.OutDir = P("out2");
  struct TOption {
    uint32_t disk_size, script_offset;
    bool single;
    const char* says;
  } options[] = {
      {16, 0, false, "--disk-size: 16 bytes is too small: a disk data file holds its 12-byte header, a "
                     "file's 4-byte marker and at least one byte of data (at least 17)"},
      {0, 4096, false, "--script-offset needs --single-file"},
      {0, 0x40000001u, true, "--script-offset: 1073741825 is more than 1073741824 (1 GB), the most room a "
                             "loader program may take"},
  };
  for (const TOption& t : options) {
    o.DiskSize = t.disk_size;
    o.ScriptOffset = t.script_offset;
    o.SingleFile = t.single;
    try {
      BuildDistribution(d, o);
      ADD_FAILURE() << "built with " << t.says;
    } catch (const EOptionError& e) {
      EXPECT_EQ(std::string(e.what()), t.says);
    }
  }
  EXPECT_FALSE(fs::exists(P("out2")));
}

// A source that another program writes to while qvbuild compresses it is
// refused instead of shipping half old, half new.
TEST_F(Distribution, SourceWrittenToWhileItIsReadIsRefused) {
  const sw::Bytes noise = testdata::Noise(24u << 20, 5);
  WriteWholeFile(P("BIG.BIN"), std::string(noise.begin(), noise.end()));
  WriteWholeFile(P("d.json"), R"({"appName":"A","files":[{"source":"BIG.BIN","dest":"{app}\\BIG.BIN"}]})");
  const Description d = LoadDescription(P("d.json"));
  DistributionOptions o;
  o.OutDir = P("out");
  fs::create_directories(o.OutDir);
  // Once the first megabyte of output is written, the first byte changes.
  std::atomic<bool> stop{false}, written{false};
  std::thread other([&] {
    while (!stop && !written) {
      std::error_code ec;
      for (fs::recursive_directory_iterator it(o.OutDir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() == "SETUP.1" && fs::file_size(it->path(), ec) > (1u << 20) && !ec) {
          std::fstream f(P("BIG.BIN"), std::ios::in | std::ios::out | std::ios::binary);
          f.put(static_cast<char>(noise[0] ^ 0xFF));
          written = true;
          break;
        }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  try {
    BuildDistribution(d, o);
    ADD_FAILURE() << "built from a file that changed while it was read";
  } catch (const EDescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("d.json: files[0].source: \"" + P("BIG.BIN") +
                                         "\" changed while it was read"),
              std::string::npos)
        << e.what();
  }
  stop = true;
  other.join();
  EXPECT_TRUE(written) << "the file was not written to during the build";
  EXPECT_TRUE(fs::is_empty(o.OutDir));
}

// The floppy formats' room after their file system, the labels that name
// product and disk, and the single file's trailer: every fault it can have
// is told apart, and Adler-32 agrees with zlib's.
TEST(Media, FormatsLabelsAndTheSingleFileTrailer) {
  const struct { const char* name; uint32_t clusters, capacity; } formats[] = {
      {"1.44M", 2847, 1457664}, {"1.2M", 2371, 1213952}, {"720K", 713, 730112}, {"2.88M", 2863, 2931712}};
  for (const auto& f : formats) {
    const FloppyFormat* ff = FindFloppyFormat(f.name);
    ASSERT_NE(ff, nullptr) << f.name;
    EXPECT_EQ(ff->DataClusters(), f.clusters) << f.name;
    EXPECT_EQ(ff->Capacity(), f.capacity) << f.name;
    // The FAT holds an entry for every cluster and the two reserved ones.
    EXPECT_GE(ff->SectorsPerFat * 512 * 2, (ff->DataClusters() + 2) * 3) << f.name;
  }
  EXPECT_EQ(FindFloppyFormat("360K"), nullptr);
  EXPECT_EQ(VolumeLabel("Media App", 1), "MEDIA APP 1");
  EXPECT_EQ(VolumeLabel("Sample App", 2), "SAMPLEAPP 2");
  EXPECT_EQ(VolumeLabel("Quorvel Office Suite", 12), "QUORVELO 12");
  EXPECT_EQ(VolumeLabel("\xE9t\xE9 / *", 3), "T 3");
  EXPECT_EQ(VolumeLabel("", 1), "DISK 1");

  const sw::Bytes data = testdata::Noise(70000, 5);
  EXPECT_EQ(QvAdler32(1, data.data(), static_cast<uint32_t>(data.size())),
            adler32(1, data.data(), static_cast<uInt>(data.size())));
  const TAttachment good{4096, 50000, 0x12345678, 54096, 60000, 100036};
  uint8_t t[QV_TRAILER_SIZE];
  EncodeAttachmentTrailer(&good, t);
  TAttachment a{};
  EXPECT_EQ(CheckAttachmentTrailer(t, 100036, &a), acOk);
  EXPECT_EQ(a.ScriptOffset, 54096u);
  EXPECT_EQ(a.DataOffset, 60000u);
  EXPECT_EQ(CheckAttachmentTrailer(t, 100035, &a), acSize);
  EXPECT_EQ(CheckAttachmentTrailer(t, 20, &a), acMissing);
  uint8_t bad[QV_TRAILER_SIZE];
  std::memcpy(bad, t, sizeof bad);
  bad[0] ^= 1;
  EXPECT_EQ(CheckAttachmentTrailer(bad, 100036, &a), acMissing);
  std::memcpy(bad, t, sizeof bad);
  bad[21] ^= 1;
  EXPECT_EQ(CheckAttachmentTrailer(bad, 100036, &a), acChecksum);
  for (TAttachment out_of_order : {TAttachment{4096, 60000, 0, 54096, 60000, 100036},   // setup.exe runs into the script
                                   TAttachment{16, 50000, 0, 54096, 60000, 100036},     // no room for a loader
                                   TAttachment{4096, 50000, 0, 54096, 100020, 100036}}) {  // data inside the trailer
    EncodeAttachmentTrailer(&out_of_order, bad);
    EXPECT_EQ(CheckAttachmentTrailer(bad, 100036, &a), acLayout);
  }
}
