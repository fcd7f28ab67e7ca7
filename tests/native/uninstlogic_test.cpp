#include "uninstaller/uninstlogic.h"

#include <gtest/gtest.h>

namespace {

TEST(UninstallCommandLine, AcceptsExactlyTheRegisteredForm) {
  TUninstallCommand c;
  ASSERT_TRUE(ParseUninstallCommandLine(
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\My App\\UNINST0.004\" \"C:\\My App\\UNINST1.004\"", c));
  EXPECT_EQ(c.DataFile, "C:\\My App\\UNINST0.004");
  EXPECT_EQ(c.LogFile, "C:\\My App\\UNINST1.004");
  EXPECT_EQ(c.AppDir, "C:\\My App");
  // The program unquoted (a shell may start it so), /u, letter case of the
  // names, a trailing blank, a network path, a drive root.
  ASSERT_TRUE(ParseUninstallCommandLine(
      "C:\\WINDOWS\\UNINSTAL.EXE /u \"\\\\srv\\share\\App\\uninst0.000\" \"\\\\SRV\\share\\app\\UNINST1.000\" ", c));
  EXPECT_EQ(c.AppDir, "\\\\SRV\\share\\app");
  ASSERT_TRUE(ParseUninstallCommandLine("\"U.exe\" /U \"D:\\UNINST0.999\" \"D:\\UNINST1.999\"", c));
  EXPECT_EQ(c.AppDir, "D:\\");

  const char* refused[] = {
      "",
      "\"C:\\WINDOWS\\Uninstal.exe\"",
      "\"C:\\WINDOWS\\Uninstal.exe\" /U",
      "\"C:\\WINDOWS\\Uninstal.exe\" /X \"C:\\A\\UNINST0.000\" \"C:\\A\\UNINST1.000\"",
      "\"C:\\WINDOWS\\Uninstal.exe\" /U C:\\A\\UNINST0.000 C:\\A\\UNINST1.000",        // unquoted
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\UNINST0.000\"",                       // one file
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\UNINST0.000\" \"C:\\A\\UNINST1.000",  // open quote
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\UNINST0.000\" \"C:\\A\\UNINST1.000\" x",
      "\"C:\\WINDOWS\\Uninstal.exe\"  /U \"C:\\A\\UNINST0.000\" \"C:\\A\\UNINST1.000\"",  // two blanks
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\UNINST1.000\" \"C:\\A\\UNINST0.000\"",   // swapped
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\UNINST0.000\" \"C:\\B\\UNINST1.000\"",   // two folders
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\UNINST0.000\" \"C:\\A\\UNINST1.001\"",   // two numbers
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"A\\UNINST0.000\" \"A\\UNINST1.000\"",           // relative
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\setup.log\" \"C:\\A\\UNINST1.000\"",     // other name
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\A\\UNINST0.00x\" \"C:\\A\\UNINST1.00x\"",
      "\"C:\\WINDOWS\\Uninstal.exe\" /U \"\" \"\"",
  };
  for (const char* cmdline : refused) EXPECT_FALSE(ParseUninstallCommandLine(cmdline, c)) << cmdline;
}

TEST(UninstallTidying, FoldersOnTheWayBelowTheApplicationFolderDeepestFirst) {
  TUndoChanges log;
  log.AppendStrings(ukRemoveDir, {"C:\\App"}, 0);
  log.AppendStrings(ukRemoveDir, {"C:\\App\\data\\x\\y"}, 0);         // data, x made on the way
  log.AppendStrings(ukDeleteFile, {"C:\\App\\UNINST0.000", ""}, 0);
  log.AppendStrings(ukDeleteFile, {"C:\\app\\bin\\sub\\a.dll", ""}, 0);  // bin, sub made on the way
  log.AppendStrings(ukDeleteFile, {"C:\\WINDOWS\\system32\\s.dll", ""}, dfSharedFile);
  log.AppendStrings(ukRemoveDir, {"C:\\Application"}, 0);             // not below C:\App
  log.AppendStrings(ukRegKeyTree, {"Software\\App\\x"}, 0x80000002u);
  // ".." and "." resolved: out of the folder, and back into it.
  log.AppendStrings(ukDeleteFile, {"C:\\App\\..\\Shared\\x.dll", ""}, 0);
  log.AppendStrings(ukDeleteFile, {"C:\\App\\data\\..\\..\\..\\y.dll", ""}, 0);
  log.AppendStrings(ukDeleteFile, {"C:\\App\\.\\lib\\..\\doc\\\\z.txt", ""}, 0);
  const std::vector<std::string> want = {"C:\\App\\data\\x\\y", "C:\\App\\data\\x",
                                         "C:\\app\\bin\\sub", "C:\\App\\data", "C:\\app\\bin",
                                         "C:\\App\\doc"};
  EXPECT_EQ(FoldersOnTheWay(log, "C:\\App"), want);
  EXPECT_EQ(FoldersOnTheWay(log, "C:\\App\\"), want);
  EXPECT_EQ(FoldersOnTheWay(log, "C:\\Other\\..\\App\\."), want);
  EXPECT_TRUE(FoldersOnTheWay(log, "D:\\Other").empty());
}

TEST(UninstallTidying, OnlyBelowAnApplicationFolderOfItsOwn) {
  const std::string win = "C:\\WINDOWS", sys = "C:\\WINDOWS\\SYSTEM32";
  EXPECT_TRUE(IsOwnApplicationFolder("C:\\Program Files\\App", win, sys));
  EXPECT_TRUE(IsOwnApplicationFolder("C:\\WINDOWS\\App", win, sys));
  EXPECT_TRUE(IsOwnApplicationFolder("\\\\srv\\share\\App", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("C:\\", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("D:", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("\\\\srv\\share", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("\\\\srv\\share\\", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("c:\\windows\\", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("C:\\Windows\\System32", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("C:\\App\\..", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("C:\\WINDOWS\\App\\..\\.", win, sys));
  EXPECT_FALSE(IsOwnApplicationFolder("\\\\srv\\share\\App\\..", win, sys));
}

// A log without an application name: the texts name its folder.
TEST(UninstallTexts, AnApplicationWithoutANameIsCalledByItsFolder) {
  EXPECT_EQ(AppNameForTexts("Walk App", "C:\\Other"), "Walk App");
  EXPECT_EQ(AppNameForTexts("", "C:\\Program Files\\Walk App"), "Walk App");
  EXPECT_EQ(AppNameForTexts("", "C:\\"), "C:\\");
  EXPECT_EQ(ConfirmText(AppNameForTexts("", "D:\\Tools\\")).rfind("Remove Tools from", 0), 0u);
}

}  // namespace
