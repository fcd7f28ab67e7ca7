// The file rules' decisions and texts, WININIT.INI's rename section and the
// uninstall names.
#include <gtest/gtest.h>

#include "install/filerules.h"

TEST(FileRules, VersionsThenTimesDecideAboutAnExistingFile) {
  int time_asked = 0;
  auto time = [&](TTimeOrder t) {
    return [&time_asked, t] {
      ++time_asked;
      return t;
    };
  };
  // Unsigned comparison, MS first.
  EXPECT_EQ(CompareWithExisting(1, 0, 2, 0, time(TTimeOrder::Equal)), TExistingVerdict::ExistingNewer);
  EXPECT_EQ(CompareWithExisting(2, 0, 1, 0xFFFFFFFF, time(TTimeOrder::Equal)), TExistingVerdict::GoOn);
  EXPECT_EQ(CompareWithExisting(0x80000000u, 0, 0x7FFFFFFF, 0, time(TTimeOrder::Equal)), TExistingVerdict::GoOn);
  EXPECT_EQ(CompareWithExisting(1, 1, 1, 0x80000000u, time(TTimeOrder::Equal)), TExistingVerdict::ExistingNewer);
  EXPECT_EQ(time_asked, 0) << "the time is read only for equal versions";
  EXPECT_EQ(CompareWithExisting(1, 2, 1, 2, time(TTimeOrder::Equal)), TExistingVerdict::Keep);
  EXPECT_EQ(CompareWithExisting(1, 2, 1, 2, time(TTimeOrder::ExistingLater)), TExistingVerdict::ExistingNewer);
  EXPECT_EQ(CompareWithExisting(1, 2, 1, 2, time(TTimeOrder::ExistingEarlier)), TExistingVerdict::GoOn);
  EXPECT_EQ(CompareWithExisting(1, 2, 1, 2, time(TTimeOrder::Unavailable)), TExistingVerdict::GoOn);
  EXPECT_EQ(time_asked, 4);
}

TEST(FileRules, SharedCountsCountAnExistingFileAsOneUser) {
  EXPECT_EQ(NextSharedCount(0, false), 1u);
  EXPECT_EQ(NextSharedCount(0, true), 2u);
  EXPECT_EQ(NextSharedCount(3, true), 4u);
  EXPECT_EQ(NextSharedCount(-7, false), 1u);
  EXPECT_EQ(NextSharedCount(-7, true), 2u);
  EXPECT_EQ(NextSharedCount(0x7FFFFFFF, false), 0x80000000u);
}

TEST(FileRules, QuestionAndErrorTexts) {
  EXPECT_EQ(FileErrorQuestionText("An error occured while trying to copy a file.", "The source file is corrupted"),
            "An error occured while trying to copy a file.\r\n\r\nThe source file is corrupted\r\n\n\n"
            "Click Retry to try again, Ignore to skip this file (not recommended), or Abort to cancel installation.");
  EXPECT_EQ(FileErrorQuestionText("", "E"),
            "E\r\n\n\nClick Retry to try again, Ignore to skip this file (not recommended), or Abort to cancel installation.");
  const std::string tail =
      "\r\n\r\nClick Retry to try again, Ignore to proceed anyway (not recommended), or Abort to cancel installation.";
  EXPECT_EQ(RegisterServerQuestionText("C:\\A.DLL", rsNotLoaded, 0),
            "C:\\A.DLL\r\nUnable to register the DLL/OCX. (LoadLibrary failed)" + tail);
  EXPECT_EQ(RegisterServerQuestionText("C:\\A.DLL", rsLoaded, 0),
            "C:\\A.DLL\r\nUnable to register the DLL/OCX. (DllRegisterServer export not found)" + tail);
  EXPECT_EQ(RegisterServerQuestionText("C:\\A.DLL", rsExportFound, static_cast<int32_t>(0x80004005u)),
            "C:\\A.DLL\r\nUnable to register the DLL/OCX. (DllRegisterServer returned -2147467259)" + tail);
  EXPECT_TRUE(IsCommonControlsUpdate("C:\\x\\40ComUpd.EXE"));
  EXPECT_TRUE(IsCommonControlsUpdate("C:\\x\\my40COMUPD.exe.bak"));
  EXPECT_FALSE(IsCommonControlsUpdate("C:\\40comupd.exe\\other.exe"));
}

TEST(FileRules, WininitRenameSectionGainsTheEntryLast) {
  const std::string e = "C:\\WINDOWS\\SYSTEM\\A.DLL=C:\\WINDOWS\\SYSTEM\\QV00A3F2.TMP";
  using L = std::vector<std::string>;
  EXPECT_EQ(AddWininitRename(nullptr, e), (L{"[rename]", e}));
  const L empty;
  EXPECT_EQ(AddWininitRename(&empty, e), (L{"[rename]", e}));
  // The rename section in the middle: the entry goes after its lines, the
  // next header follows; the header is matched ignoring case.
  const L mid{"; c", "[Other]", "a=b", "[ReNaMe]", "NUL=C:\\X.TMP", "", "  [Last] ", "k=v"};
  EXPECT_EQ(AddWininitRename(&mid, e),
            (L{"; c", "[Other]", "a=b", "[ReNaMe]", "NUL=C:\\X.TMP", "", e, "  [Last] ", "k=v"}));
  // At the end of the file.
  const L end{"[x]", "[rename]", "A=B"};
  EXPECT_EQ(AddWininitRename(&end, e), (L{"[x]", "[rename]", "A=B", e}));
  // No rename section: a new one at the end. A header with blanks around it
  // is a header, but not the rename section (that must match as read).
  const L none{"[x]", "y=z", " [rename]"};
  EXPECT_EQ(AddWininitRename(&none, e), (L{"[x]", "y=z", " [rename]", "[rename]", e}));
}

// A replacement taken back: its line goes from the rename sections only,
// found by the temporary file it renames.
TEST(FileRules, WininitRenameOfATemporaryFileIsTakenOut) {
  using L = std::vector<std::string>;
  const L lines{"[Other]", "C:\\A.DLL=C:\\QV0001.TMP", "[rename]", "NUL=C:\\X.TMP",
                "C:\\A.DLL=C:\\QV0001.TMP", " c:\\b.dll = c:\\qv0001.tmp ", "C:\\C.DLL=C:\\QV0002.TMP",
                "[Last]", "C:\\A.DLL=C:\\QV0001.TMP"};
  EXPECT_EQ(RemoveWininitRenames(lines, "C:\\QV0001.TMP"),
            (L{"[Other]", "C:\\A.DLL=C:\\QV0001.TMP", "[rename]", "NUL=C:\\X.TMP", "C:\\C.DLL=C:\\QV0002.TMP",
               "[Last]", "C:\\A.DLL=C:\\QV0001.TMP"}));
  EXPECT_EQ(RemoveWininitRenames(lines, "C:\\QV0009.TMP"), lines);
}

TEST(FileRules, UninstallNames) {
  const std::string t = UninstallFileTemplate("C:\\App", 4);
  EXPECT_EQ(t, "C:\\App\\UNINST%s.004");
  EXPECT_EQ(UninstallFileTemplate("C:\\", 999), "C:\\UNINST%s.999");
  EXPECT_EQ(UninstallFileName(t, '?'), "C:\\App\\UNINST?.004");
  EXPECT_EQ(UninstallFileName("C:\\100%s\\UNINST%s.000", '0'), "C:\\100%s\\UNINST0.000");
  EXPECT_EQ(UninstallKeyName("My App 1.0", 1), "My App 1.0_qv1");
  EXPECT_EQ(UninstallKeyName("%d %s", 12), "%d %s_qv12");
  EXPECT_EQ(UninstallCommandLine("C:\\WINDOWS", t),
            "\"C:\\WINDOWS\\Uninstal.exe\" /U \"C:\\App\\UNINST0.004\" \"C:\\App\\UNINST1.004\"");
}
