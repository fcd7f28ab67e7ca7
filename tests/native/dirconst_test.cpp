#include "run/dirconst.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "run/globals.h"

namespace {

class DirConstants : public ::testing::Test {
 protected:
  void SetUp() override {
    SourceDir = "D:\\Setup";
    AppDir = "C:\\Program Files\\App";
    WinDir = "C:\\WINDOWS";
    SystemDir = "C:\\WINDOWS\\SYSTEM";
  }
  void TearDown() override { SourceDir = AppDir = WinDir = SystemDir = ""; }
};

TEST_F(DirConstants, AllFourWithAndWithoutBackslash) {
  EXPECT_EQ(ExpandDirConstants("{src}\\SETUP.1"), "D:\\Setup\\SETUP.1");
  EXPECT_EQ(ExpandDirConstants("{app}\\a.exe {win}\\b.ini {sys}\\c.dll"),
            "C:\\Program Files\\App\\a.exe C:\\WINDOWS\\b.ini C:\\WINDOWS\\SYSTEM\\c.dll");
  EXPECT_EQ(ExpandDirConstants("{app}{app}"), "C:\\Program Files\\AppC:\\Program Files\\App");
  EXPECT_EQ(ExpandDirConstants("x{src}y"), "xD:\\Setupy");
}

TEST_F(DirConstants, DriveRootGivesOneBackslash) {
  // Each of the four constants, holding a drive root that ends in a
  // backslash of its own.
  struct {
    std::string* dir;
    const char* constant;
  } const constants[] = {
      {&SourceDir, "{src}"}, {&AppDir, "{app}"}, {&WinDir, "{win}"}, {&SystemDir, "{sys}"}};
  for (const auto& c : constants) {
    SCOPED_TRACE(c.constant);
    const std::string saved = *c.dir;
    *c.dir = "A:\\";
    const std::string k = c.constant;
    EXPECT_EQ(ExpandDirConstants(k + "\\SETUP.1"), "A:\\SETUP.1");
    EXPECT_EQ(ExpandDirConstants(k), "A:\\");
    EXPECT_EQ(ExpandDirConstants(k + "\\\\x"), "A:\\\\x");
    EXPECT_EQ(ExpandDirConstants("x=" + k + "\\a;" + k + "\\b"), "x=A:\\a;A:\\b");
    *c.dir = saved;
  }
}

TEST_F(DirConstants, EmptyAppStaysEmpty) {
  AppDir = "";
  EXPECT_EQ(ExpandDirConstants("{app}\\x"), "x");
  EXPECT_EQ(ExpandDirConstants("{app}"), "");
}

TEST_F(DirConstants, AppBackslashSys) {
  // Pass 2 takes "{app}\", pass 8 the bare {sys}: no backslash is added.
  EXPECT_EQ(ExpandDirConstants("{app}\\{sys}"), "C:\\Program Files\\App\\C:\\WINDOWS\\SYSTEM");
}

TEST_F(DirConstants, CaseAndOtherBracesUntouched) {
  EXPECT_EQ(ExpandDirConstants("{SRC}\\x {foo} {app"), "{SRC}\\x {foo} {app");
  EXPECT_EQ(ExpandDirConstants(""), "");
}

TEST_F(DirConstants, PassOrderAndValuesHoldingConstants) {
  // A value holding a constant is not expanded by its own pass, but a later
  // pass sees it: {src} holds "{win}", which pass 7 then expands.
  SourceDir = "{win}";
  EXPECT_EQ(ExpandDirConstants("{src}"), "C:\\WINDOWS");
  // Pass 1 leaves "{win}\" behind and pass 3 expands it.
  EXPECT_EQ(ExpandDirConstants("{src}\\a"), "C:\\WINDOWS\\a");
  // A later constant is never re-expanded into an earlier one: {sys} holds
  // "{app}", but the passes for {app} have already run.
  SourceDir = "D:\\Setup";
  SystemDir = "{app}";
  EXPECT_EQ(ExpandDirConstants("{sys}"), "{app}");
  // The backslash forms all run before the bare forms: {app} holds "{src}\"
  // (pass 2), which no later backslash pass expands, but pass 5 expands the
  // bare "{src}" it leaves, followed by the backslash.
  AppDir = "{src}";
  EXPECT_EQ(ExpandDirConstants("{app}\\x"), "D:\\Setup\\x");
}

TEST(Placeholders, NameVersionAndKb) {
  SetupHeader& h = Script.Header;
  const std::string name = "My [kb] App";
  const std::string ver = "My App 1.0";
  h.Raw[0] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), h.Raw + 1);
  h.Raw[64] = static_cast<uint8_t>(ver.size());
  std::copy(ver.begin(), ver.end(), h.Raw + 65);

  TotalFileSize = 2047;
  EXPECT_EQ(ReplacePlaceholders("[name] / [name/ver] / [kb] KB / [NAME] [kb"),
            "My 1 App / My App 1.0 / 1 KB / [NAME] [kb");
  // "[kb]" is computed each time.
  TotalFileSize = 5u * 1024 * 1024 + 1023;
  EXPECT_EQ(ReplacePlaceholders("[kb]"), "5120");
  TotalFileSize = 0xFFFFFFFFu;
  EXPECT_EQ(ReplacePlaceholders("[kb]"), "4194303");

  // An inserted [name] holding "[name]" is not rescanned by its own pass.
  const std::string self = "[name]";
  h.Raw[0] = static_cast<uint8_t>(self.size());
  std::copy(self.begin(), self.end(), h.Raw + 1);
  EXPECT_EQ(ReplacePlaceholders("[name]"), "[name]");
  Script.Header = SetupHeader{};
  TotalFileSize = 0;
}

TEST(TempNames, FirstCandidateAfterStart) {
  std::vector<std::string> asked;
  auto none = [&](const std::string& p) {
    asked.push_back(p);
    return false;
  };
  EXPECT_EQ(NewTempFileName("C:\\dir", none, 0xA3F1), "C:\\dir\\qv00A3F2.tmp");
  EXPECT_EQ(NewTempFileName("C:\\dir\\", none, 0xA3F1), "C:\\dir\\qv00A3F2.tmp");
  EXPECT_EQ(NewTempFileName("", none, 0), "qv000001.tmp");
  EXPECT_EQ(NewTempFileName("C:\\", none, 0xFFFFFF), "C:\\qv000000.tmp");
  EXPECT_EQ(NewTempFileName("C:\\", none, 0xABCDEE), "C:\\qvABCDEF.tmp");
  EXPECT_EQ(asked.size(), 5u);
}

TEST(TempNames, SkipsExistingAndWraps) {
  std::vector<std::string> asked;
  std::set<std::string> existing = {"X\\qvFFFFFE.tmp", "X\\qvFFFFFF.tmp", "X\\qv000000.tmp"};
  auto exists = [&](const std::string& p) {
    asked.push_back(p);
    return existing.count(p) > 0;
  };
  EXPECT_EQ(NewTempFileName("X", exists, 0xFFFFFD), "X\\qv000001.tmp");
  EXPECT_EQ(asked, (std::vector<std::string>{"X\\qvFFFFFE.tmp", "X\\qvFFFFFF.tmp",
                                             "X\\qv000000.tmp", "X\\qv000001.tmp"}));
}

TEST(TempNames, EveryNameTakenFailsWithoutTryingStart) {
  // Every name exists except the start's own, which is never tried: the
  // sweep fails after every other number of the name space (16,777,215 in
  // the real one; 0 to 0x1FF here, so 511), each tried once, in order,
  // wrapping to 0.
  std::vector<std::string> asked;
  auto all_but_start = [&](const std::string& p) {
    asked.push_back(p);
    return p != "D:\\full\\qv000123.tmp";
  };
  try {
    NewTempFileName("D:\\full", all_but_start, 0x123, 0x1FF);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(),
                 "Unable to create a file in the destination directory because it contains too "
                 "many files");
  }
  ASSERT_EQ(asked.size(), 0x1FFu);
  EXPECT_EQ(asked.front(), "D:\\full\\qv000124.tmp");
  EXPECT_EQ(asked[0x1FF - 0x124], "D:\\full\\qv0001FF.tmp");
  EXPECT_EQ(asked[0x1FF - 0x123], "D:\\full\\qv000000.tmp");
  EXPECT_EQ(asked.back(), "D:\\full\\qv000122.tmp");
  EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()).size(), asked.size());
}

TEST(TempNames, RandomStartCoversTheRange) {
  std::srand(12345);
  uint32_t lo = 0xFFFFFF, hi = 0, orbits = 0;
  for (int i = 0; i < 20000; ++i) {
    const uint32_t n = RandomTempStart();
    ASSERT_LE(n, 0xFFFFFFu);
    lo = std::min(lo, n);
    hi = std::max(hi, n);
    orbits |= n;
  }
  EXPECT_LT(lo, 0x10000u);
  EXPECT_GT(hi, 0xFF0000u);
  EXPECT_EQ(orbits, 0xFFFFFFu);  // every one of the 24 bits occurs
}

}  // namespace
