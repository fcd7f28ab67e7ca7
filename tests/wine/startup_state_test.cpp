// Startup run in this process, then the global state it leaves read back:
// the command line, the script with its texts and lists, the values derived
// from them and the system facts. The whole-process behaviour (messages,
// exit codes) is in tests/e2e/startup_e2e_test.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "main/startup.h"
#include "run/globals.h"
#include "tests/winebench/qvtest.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {

// Startup reads the process's command line (__argc, __argv); this one is
// "/SL FILE SCRIPTOFFSET DATAOFFSET".
void RunStartupWith(const std::string& file, const char* script_offset, const char* data_offset) {
  static std::string program = "startup_state_tests.exe";
  static std::string name;
  name = file;
  static char* argv[6];
  argv[0] = &program[0];
  argv[1] = const_cast<char*>("/SL");
  argv[2] = &name[0];
  argv[3] = const_cast<char*>(script_offset);
  argv[4] = const_cast<char*>(data_offset);
  argv[5] = nullptr;
  const int saved_argc = __argc;
  char** const saved_argv = __argv;
  __argc = 5;
  __argv = argv;
  Startup();
  __argc = saved_argc;
  __argv = saved_argv;
}

}  // namespace

TEST(StartupState, EveryGlobalValueAfterASuccessfulStart) {
  sw::ScriptBuilder b = testdata::Product("State App", "3.1");
  b.Header.MinWindowsVersionMajor = 4;
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.Flags = hfAlwaysRestart;  // not uninstallable: IconsNeeded comes from the icon
  b.LicenseText = "Licence";
  b.InfoBeforeText = "Before";
  b.Dirs = {{"{app}\\Data"}};
  sw::FileSpec f1, f2;
  f1.DestName = "{app}\\ONE.EXE";
  f1.Contents = sw::Bytes(3000, 'a');
  f2.DestName = "{app}\\TWO.DAT";
  f2.Contents = sw::Bytes(1234, 'b');
  b.Files = {f1, f2};
  b.Icons = {{"State App", "{app}\\ONE.EXE", "", "", "", 0}};
  b.Runs = {{"{app}\\ONE.EXE", "/x", 0}};
  sw::BuildOptions o;
  o.SingleFile = true;
  o.ScriptOffset = 4000;
  const sw::BuildResult r = b.Build(o);
  const std::string dir = qvtest::TmpDir() + "src dir";
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  const std::string file = dir + "\\PACKED.BIN";
  sw::WriteFileBytes(file, r.Script);

  RunStartupWith(file, "4000", std::to_string(r.DataOffset).c_str());

  EXPECT_TRUE(ScriptSwitch);
  EXPECT_EQ(ScriptFileName, file);
  EXPECT_EQ(ScriptOffset, 4000);
  EXPECT_EQ(DataOffset, static_cast<int32_t>(r.DataOffset));
  EXPECT_EQ(SourceDir, dir);  // the file's directory, without its backslash
  EXPECT_EQ(Script.Header.ApplicationName(), "State App");
  EXPECT_EQ(Script.Header.ApplicationVersionName(), "State App 3.1");
  EXPECT_EQ(std::string(Script.LicenseText.data()), "Licence");
  EXPECT_EQ(Script.LicenseText.size(), 8u);  // the text and its 0 byte
  EXPECT_EQ(std::string(Script.InfoBeforeText.data()), "Before");
  EXPECT_TRUE(Script.InfoAfterText.empty());
  EXPECT_EQ(Script.DirEntries.size(), 1u);
  ASSERT_EQ(Script.FileEntries.size(), 2u);
  EXPECT_EQ(Script.FileEntries[1].DestName(), "{app}\\TWO.DAT");
  EXPECT_EQ(Script.FileLocationEntries.size(), 2u);
  EXPECT_EQ(Script.IconEntries.size(), 1u);
  EXPECT_TRUE(Script.IniEntries.empty());
  EXPECT_TRUE(Script.RegistryEntries.empty());
  EXPECT_TRUE(Script.UninstallDeleteEntries.empty());
  EXPECT_EQ(Script.RunEntries.size(), 1u);
  EXPECT_TRUE(NeedsRestart);
  EXPECT_TRUE(IconsNeeded);
  EXPECT_EQ(TotalFileSize, 4234u);
  EXPECT_FALSE(RestartRequested);
  // The system facts, the last step.
  EXPECT_EQ(WinDir, "C:\\windows");
  EXPECT_EQ(SystemDir, "C:\\windows\\system32");
  EXPECT_EQ(ProgramFilesDir, qvtest::ProgramFilesDir() + "\\");
  // Administrator unless the service control manager refuses to open on NT
  // (the prefixes registered with NO_SERVICES say which answer they expect).
  EXPECT_EQ(IsAdmin, qvtest::EnvOr("QV_EXPECT_ADMIN", "1") != "0");
  // Nothing of the wizard's yet.
  EXPECT_EQ(AppDir, "");
  EXPECT_EQ(GroupName, "");
}
