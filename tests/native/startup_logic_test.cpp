// The portable parts of startup: command line, source directory, the
// version check and its messages.
#include <gtest/gtest.h>

#include "run/globals.h"
#include "setupdata/script.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {
TCommandLine Parse(std::vector<const char*> args) {
  return ParseSetupCommandLine("C:\\DISK1\\SETUP.EXE", static_cast<int>(args.size()), args.data());
}
}  // namespace

TEST(CommandLine, OnlyExactlyFourArgumentsWithSlSelectTheScript) {
  TCommandLine cl = Parse({"/SL", "D:\\INST\\BIG.EXE", "40000", "123456"});
  EXPECT_TRUE(cl.ScriptSwitch);
  EXPECT_EQ(cl.ScriptFileName, "D:\\INST\\BIG.EXE");
  EXPECT_EQ(cl.SourceDir, "D:\\INST\\");
  EXPECT_EQ(cl.ScriptOffset, 40000);
  EXPECT_EQ(cl.DataOffset, 123456);
  for (auto args : std::vector<std::vector<const char*>>{
           {}, {"/sl", "x", "1", "2"}, {"/SL", "x", "1"}, {"/SL", "x", "1", "2", "3"}, {"SL", "x", "1", "2"}}) {
    TCommandLine other = Parse(args);
    EXPECT_FALSE(other.ScriptSwitch);
    EXPECT_EQ(other.SourceDir, "C:\\DISK1\\");
    EXPECT_EQ(other.ScriptOffset, 0);
  }
  EXPECT_THROW(Parse({"/SL", "x", "12a", "0"}), EConvertError);
  EXPECT_THROW(Parse({"/SL", "x", "0", ""}), EConvertError);
  EXPECT_THROW(Parse({"/SL", "x", "99999999999", "0"}), EConvertError);
  EXPECT_EQ(Parse({"/SL", "x", "-5", "+7"}).ScriptOffset, -5);
}

TEST(CommandLine, SourceDirKeepsTheBackslashOfADriveRootOnly) {
  EXPECT_EQ(SourceDirFrom("C:\\DISK1\\"), "C:\\DISK1");
  EXPECT_EQ(SourceDirFrom("A:\\"), "A:\\");
  EXPECT_EQ(SourceDirFrom("\\"), "\\");
  EXPECT_EQ(SourceDirFrom(""), "");
  EXPECT_EQ(SourceDirFrom("\\\\server\\share\\"), "\\\\server\\share");
}

TEST(VersionCheck, FormatsTheRequiredVersion) {
  EXPECT_EQ(FormatRequiredVersion(4, 10), "4.1");
  EXPECT_EQ(FormatRequiredVersion(4, 5), "4.05");
  EXPECT_EQ(FormatRequiredVersion(3, 51), "3.51");
  EXPECT_EQ(FormatRequiredVersion(4, 0), "4.0");
  EXPECT_EQ(FormatRequiredVersion(5, 100), "5.1");
  EXPECT_EQ(FormatRequiredVersion(4, 255), "4.255");
}

TEST(VersionCheck, RefusalsPerFamily) {
  auto header = [](uint8_t wmaj, uint8_t wmin, uint8_t nmaj, uint8_t nmin) {
    sw::HeaderSpec h;
    h.MinWindowsVersionMajor = wmaj;
    h.MinWindowsVersionMinor = wmin;
    h.MinNTVersionMajor = nmaj;
    h.MinNTVersionMinor = nmin;
    const int32_t counts[7] = {}, sizes[3] = {};
    sw::Bytes raw = sw::EncodeHeader(h, counts, sizes);
    SetupHeader out;
    std::copy(raw.begin(), raw.end(), out.Raw);
    return out;
  };
  EXPECT_EQ(CheckWindowsVersion(header(4, 0, 4, 10), true, 4, 0),
            "This program requires Windows NT version 4.1 or later.");
  EXPECT_EQ(CheckWindowsVersion(header(4, 0, 4, 0), true, 4, 0), "");
  EXPECT_EQ(CheckWindowsVersion(header(4, 0, 4, 0), true, 3, 51),
            "This program requires Windows NT version 4.0 or later.");
  EXPECT_EQ(CheckWindowsVersion(header(4, 0, 3, 51), true, 3, 51), "");
  EXPECT_EQ(CheckWindowsVersion(header(4, 0, 0, 0), true, 6, 1), "This program will not run on Windows NT.");
  EXPECT_EQ(CheckWindowsVersion(header(0, 0, 4, 0), false, 4, 10), "This program must be run on Windows NT.");
  EXPECT_EQ(CheckWindowsVersion(header(4, 0, 4, 0), false, 4, 10), "");
  EXPECT_EQ(CheckWindowsVersion(header(4, 10, 4, 0), false, 4, 0),
            "This program requires Windows version 4.1 or later.");
  EXPECT_EQ(CheckWindowsVersion(header(4, 5, 4, 0), false, 4, 0),
            "This program requires Windows version 4.05 or later.");
  // The NT minimum does not matter on the 95 family, nor the reverse.
  EXPECT_EQ(CheckWindowsVersion(header(4, 0, 9, 0), false, 4, 0), "");
  EXPECT_EQ(CheckWindowsVersion(header(9, 0, 4, 0), true, 4, 0), "");
}

TEST(TotalFileSize, WrapsModulo2To32) {
  SetupScript s;
  for (uint32_t size : {0xFFFFFFF0u, 0x20u, 0x7u}) {
    SetupFileEntry e;
    for (int i = 0; i < 4; ++i) e.Raw[80 + i] = static_cast<uint8_t>(size >> (8 * i));
    s.FileEntries.push_back(e);
  }
  EXPECT_EQ(s.TotalFileSize(), 0x17u);
}

// GetVersionExA's platform id decides; when that call fails, its zeroed
// platform id must not read as Win32s, and GetVersion alone tells.
TEST(RunningVersion, PlatformFromGetVersionExOrElseFromGetVersion) {
  struct Case {
    bool ex_ok;
    uint32_t platform, version;
    bool nt, win32s;
    int major, minor;
  } cases[] = {
      {true, 2, 0x05650004u, true, false, 4, 0},    // NT 4.0
      {true, 1, 0xC0000004u | (10u << 8), false, false, 4, 10},  // Windows 98
      {true, 0, 0x80000A03u, false, true, 3, 10},   // Win32s on Windows 3.1
      {false, 0, 0x05650004u, true, false, 4, 0},   // failed call on NT 4.0
      {false, 0, 0xC0000004u, false, false, 4, 0},  // failed call on Windows 95
      {false, 0, 0x80000A03u, false, true, 3, 10},  // failed call on Win32s
  };
  for (const Case& c : cases) {
    TRunningVersion v = JudgeRunningVersion(c.ex_ok, c.platform, c.version);
    EXPECT_EQ(v.IsNT, c.nt) << std::hex << c.version << " ex_ok " << c.ex_ok;
    EXPECT_EQ(v.IsWin32s, c.win32s) << std::hex << c.version << " ex_ok " << c.ex_ok;
    EXPECT_EQ(v.Major, c.major);
    EXPECT_EQ(v.Minor, c.minor);
  }
}
