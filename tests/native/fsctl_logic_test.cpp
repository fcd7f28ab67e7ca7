// The file system controls' rules and the next-disk prompt's texts, without
// Windows: the path label's shortening, the folder list's tree, the drive
// box's texts.
#include <gtest/gtest.h>

#include "fsctl/folderlogic.h"
#include "fsctl/pathfit.h"
#include "install/newdisktext.h"

namespace {
// One pixel per character keeps the widths readable.
int CharCount(const std::string& s) { return static_cast<int>(s.size()); }

bool LeadByte81(unsigned char c) { return c == 0x81; }
}  // namespace

TEST(PathLabel, ShortensFolderByFolderUntilThePathFits) {
  const std::string path = "C:\\Program Files\\Sample\\Data\\setup.dat";  // 38 characters
  EXPECT_EQ(FitPathToWidth(path, CharCount, 38), path);
  EXPECT_EQ(FitPathToWidth(path, CharCount, 1000), path);
  EXPECT_EQ(FitPathToWidth(path, CharCount, 37), "C:\\...\\Sample\\Data\\setup.dat");
  EXPECT_EQ(FitPathToWidth(path, CharCount, 28), "C:\\...\\Sample\\Data\\setup.dat");
  EXPECT_EQ(FitPathToWidth(path, CharCount, 27), "C:\\...\\Data\\setup.dat");
  EXPECT_EQ(FitPathToWidth(path, CharCount, 20), "C:\\...\\setup.dat");
  EXPECT_EQ(FitPathToWidth(path, CharCount, 15), "...\\setup.dat");
  EXPECT_EQ(FitPathToWidth(path, CharCount, 12), "setup.dat");
  // Only the name left: drawn even though it is still too wide.
  EXPECT_EQ(FitPathToWidth(path, CharCount, 3), "setup.dat");
  EXPECT_EQ(FitPathToWidth(path, CharCount, -5), "setup.dat");
}

TEST(PathLabel, EdgesOfTheRule) {
  // No folder part: never shortened, not even measured twice.
  int calls = 0;
  auto counting = [&calls](const std::string& s) {
    ++calls;
    return CharCount(s);
  };
  EXPECT_EQ(FitPathToWidth("setup.dat", counting, 2), "setup.dat");
  EXPECT_LE(calls, 1);
  EXPECT_EQ(FitPathToWidth("", CharCount, 0), "");

  // A file in the root: the single backslash goes first, then the drive.
  EXPECT_EQ(FitPathToWidth("C:\\setup.dat", CharCount, 11), "C:setup.dat");
  EXPECT_EQ(FitPathToWidth("C:\\setup.dat", CharCount, 10), "setup.dat");
  // Drive and colon without a backslash.
  EXPECT_EQ(FitPathToWidth("C:setup.dat", CharCount, 10), "setup.dat");
  // A relative folder.
  EXPECT_EQ(FitPathToWidth("Data\\setup.dat", CharCount, 13), "...\\setup.dat");
  EXPECT_EQ(FitPathToWidth("Data\\setup.dat", CharCount, 12), "setup.dat");
  // A network path: the first pass is no narrower, later passes drop the
  // server and the share, and the rule still ends at the name.
  const std::string unc = "\\\\srv\\pub\\dir\\f.txt";
  EXPECT_EQ(FitPathToWidth(unc, CharCount, 19), unc);
  EXPECT_EQ(FitPathToWidth(unc, CharCount, 18), "\\...\\pub\\dir\\f.txt");
  EXPECT_EQ(FitPathToWidth(unc, CharCount, 17), "\\...\\dir\\f.txt");
  EXPECT_EQ(FitPathToWidth(unc, CharCount, 13), "\\...\\f.txt");
  EXPECT_EQ(FitPathToWidth(unc, CharCount, 9), "...\\f.txt");
  EXPECT_EQ(FitPathToWidth(unc, CharCount, 8), "f.txt");
  // A path far over 260 characters ends at its name without trouble.
  std::string deep = "C:";
  for (int i = 0; i < 100; ++i) deep += "\\folder";
  deep += "\\x.bin";
  EXPECT_EQ(FitPathToWidth(deep, CharCount, 16), "C:\\...\\x.bin");

  std::string part = "\\";
  ElideFirstDirectory(part);
  EXPECT_EQ(part, "");
  part = "\\A\\B\\";
  ElideFirstDirectory(part);
  EXPECT_EQ(part, "\\...\\B\\");
  ElideFirstDirectory(part);
  EXPECT_EQ(part, "\\...\\");
  part = "A\\";
  ElideFirstDirectory(part);
  EXPECT_EQ(part, "...\\");
  ElideFirstDirectory(part);
  EXPECT_EQ(part, "");
  part = "\\noslash";
  ElideFirstDirectory(part);
  EXPECT_EQ(part, "\\");
}

TEST(FolderList, TreeOfAFolderOnADrive) {
  const std::string cur = "C:\\Program Files\\Sample";
  auto items = BuildFolderItems(cur, {"zeta", "Alpha", "beta", "Beta2"}, AsciiCompareText);
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0].Name, "C:\\");
  EXPECT_EQ(items[0].Kind, fkAncestor);
  EXPECT_EQ(items[1].Name, "Program Files");
  EXPECT_EQ(items[1].Kind, fkAncestor);
  EXPECT_EQ(items[2].Name, "Sample");
  EXPECT_EQ(items[2].Kind, fkCurrent);
  EXPECT_EQ(CurrentItemIndex(items), 2);
  const char* sorted[] = {"Alpha", "beta", "Beta2", "zeta"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(items[3 + i].Name, sorted[i]);
    EXPECT_EQ(items[3 + i].Kind, fkSubfolder);
  }

  EXPECT_EQ(FolderItemPath(items, 0, cur, nullptr), "C:\\");
  EXPECT_EQ(FolderItemPath(items, 1, cur, nullptr), "C:\\Program Files");
  EXPECT_EQ(FolderItemPath(items, 2, cur, nullptr), cur);
  EXPECT_EQ(FolderItemPath(items, 3, cur, nullptr), "C:\\Program Files\\Sample\\Alpha");
  EXPECT_EQ(FolderItemPath(items, 7, cur, nullptr), "");
  EXPECT_EQ(FolderItemPath(items, -1, cur, nullptr), "");

  // The tree steps 4 pixels per level; subfolders one step right of the
  // current item.
  EXPECT_EQ(FolderItemIndent(items, 0, cur, nullptr), 4);
  EXPECT_EQ(FolderItemIndent(items, 1, cur, nullptr), 8);
  EXPECT_EQ(FolderItemIndent(items, 2, cur, nullptr), 12);
  EXPECT_EQ(FolderItemIndent(items, 5, cur, nullptr), 16);

  // The root alone: one current item, subfolders indented by 8.
  auto root = BuildFolderItems("C:\\", {"WINDOWS"}, AsciiCompareText);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].Name, "C:\\");
  EXPECT_EQ(root[0].Kind, fkCurrent);
  EXPECT_EQ(FolderItemIndent(root, 1, "C:\\", nullptr), 8);
  EXPECT_EQ(FolderItemPath(root, 0, "C:\\", nullptr), "C:\\");
  EXPECT_EQ(FolderItemPath(root, 1, "C:\\", nullptr), "C:\\WINDOWS");
}

TEST(FolderList, TreeOfANetworkFolderAndDepths) {
  const std::string cur = "\\\\srv\\pub\\Tools\\Sub";
  auto items = BuildFolderItems(cur, {"x"}, AsciiCompareText);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].Name, "\\\\srv\\pub\\");
  EXPECT_EQ(items[0].Kind, fkAncestor);
  EXPECT_EQ(items[1].Name, "Tools");
  EXPECT_EQ(items[1].Kind, fkAncestor);
  EXPECT_EQ(items[2].Name, "Sub");
  EXPECT_EQ(items[2].Kind, fkCurrent);
  EXPECT_EQ(FolderItemPath(items, 0, cur, nullptr), "\\\\srv\\pub\\");
  EXPECT_EQ(FolderItemPath(items, 1, cur, nullptr), "\\\\srv\\pub\\Tools");
  EXPECT_EQ(FolderItemPath(items, 3, cur, nullptr), cur + "\\x");
  EXPECT_EQ(FolderItemIndent(items, 3, cur, nullptr), 4 + 4 * 3);

  auto share = BuildFolderItems("\\\\srv\\pub", {}, AsciiCompareText);
  ASSERT_EQ(share.size(), 1u);
  EXPECT_EQ(share[0].Name, "\\\\srv\\pub\\");
  EXPECT_EQ(share[0].Kind, fkCurrent);

  EXPECT_EQ(ExtractFileDrive("C:\\a"), "C:");
  EXPECT_EQ(ExtractFileDrive("\\\\srv\\pub\\a\\b"), "\\\\srv\\pub");
  EXPECT_EQ(ExtractFileDrive("\\\\srv"), "\\\\srv");
  EXPECT_EQ(ExtractFileDrive("\\a"), "");

  EXPECT_EQ(DirectoryDepth("C:\\", nullptr), 1);
  EXPECT_EQ(DirectoryDepth("C:\\A", nullptr), 2);
  EXPECT_EQ(DirectoryDepth("C:\\A\\", nullptr), 2);
  EXPECT_EQ(DirectoryDepth("\\\\srv\\pub", nullptr), 1);
  EXPECT_EQ(DirectoryDepth("\\\\srv\\pub\\A", nullptr), 2);
  // A double-byte character whose trail byte is 0x5C is no backslash.
  const std::string dbcs = "C:\\\x81\\A";
  EXPECT_EQ(DirectoryDepth(dbcs, LeadByte81), 2);
  EXPECT_EQ(DirectoryDepth(dbcs, nullptr), 3);
  const std::string dbcs_cur = "C:\\\x81\\X\\Y";
  std::vector<TFolderItem> tree = {{"C:\\", fkAncestor}, {"\x81\\X", fkAncestor}, {"Y", fkCurrent}};
  EXPECT_EQ(FolderItemPath(tree, 1, dbcs_cur, LeadByte81), "C:\\\x81\\X");
}

TEST(FolderList, LetterCaseOfFolderNames) {
  const auto& rules = AsciiCaseRules();
  // A volume that keeps case: all-capital names are lowered, others kept.
  EXPECT_EQ(FolderDisplayText("WINDOWS", true, false, rules), "windows");
  EXPECT_EQ(FolderDisplayText("PROGRA~1", true, false, rules), "progra~1");
  EXPECT_EQ(FolderDisplayText("Program Files", true, false, rules), "Program Files");
  EXPECT_EQ(FolderDisplayText("C:\\", true, false, rules), "C:\\");
  // Case-sensitive: shown as stored.
  EXPECT_EQ(FolderDisplayText("WINDOWS", true, true, rules), "WINDOWS");
  // A volume that keeps no case: everything lowered, the root too.
  EXPECT_EQ(FolderDisplayText("C:\\", false, false, rules), "c:\\");
  EXPECT_EQ(FolderDisplayText("Program Files", false, false, rules), "program files");
  EXPECT_EQ(FolderDisplayText("", false, false, rules), "");
}

TEST(DriveBox, ItemTextsPerKindAndCase) {
  EXPECT_EQ(DriveKindFromType(2), dkFloppy);
  EXPECT_EQ(DriveKindFromType(3), dkHard);
  EXPECT_EQ(DriveKindFromType(4), dkNetwork);
  EXPECT_EQ(DriveKindFromType(5), dkCDROM);
  EXPECT_EQ(DriveKindFromType(6), dkRAM);
  EXPECT_EQ(DriveKindFromType(0), dkHard);  // unknown
  EXPECT_EQ(DriveKindFromType(1), dkHard);  // no root directory

  const auto& rules = AsciiCaseRules();
  EXPECT_EQ(DriveItemText('a', dkFloppy, "ignored"), "a:");
  EXPECT_EQ(DriveItemText('C', dkHard, DriveLabelCase('C', "Data", rules)), "C: DATA");
  EXPECT_EQ(DriveItemText('c', dkHard, DriveLabelCase('c', "Data", rules)), "c: data");
  EXPECT_EQ(DriveItemText('d', dkCDROM, ""), "d: ");
  EXPECT_EQ(DriveItemText('n', dkNetwork, DriveLabelCase('n', "\\\\Srv\\Pub", rules)), "n: \\\\srv\\pub");
  EXPECT_EQ(DriveItemText('R', dkRAM, DriveLabelCase('R', "ram", rules)), "R: RAM");
}

TEST(NextDiskPrompt, TextsAndTheFileLookedFor) {
  EXPECT_EQ(DirectoryWord(true), "folder");
  EXPECT_EQ(DirectoryWord(false), "directory");
  EXPECT_EQ(NewDiskPromptText(2, "folder"),
            "Please insert Disk 2 and click OK.\r\n\r\nIf the files on this disk can be found in a folder other "
            "than the one displayed below, enter the correct path or click Browse.");
  EXPECT_EQ(NewDiskPromptText(13, "directory"),
            "Please insert Disk 13 and click OK.\r\n\r\nIf the files on this disk can be found in a directory other "
            "than the one displayed below, enter the correct path or click Browse.");
  EXPECT_EQ(NewDiskNotFoundText("SETUP.2", "C:\\Disks\\Two\\", "folder"),
            "The file \"SETUP.2\" could not be located in \"C:\\Disks\\Two\". Please insert the correct disk or "
            "select another folder.");
  EXPECT_EQ(NewDiskNotFoundText("SETUP.3", "A:\\", "directory"),
            "The file \"SETUP.3\" could not be located in \"A:\\\". Please insert the correct disk or select "
            "another directory.");

  EXPECT_EQ(NewDiskCandidate("  C:\\Disks \t", "SETUP.2"), "C:\\Disks\\SETUP.2");
  EXPECT_EQ(NewDiskCandidate("C:\\Disks\\", "SETUP.2"), "C:\\Disks\\SETUP.2");
  EXPECT_EQ(NewDiskCandidate("A:", "SETUP.2"), "A:\\SETUP.2");
  // Blanks only: the bare name, which the dialog resolves against the
  // current folder.
  EXPECT_EQ(NewDiskCandidate("   ", "SETUP.2"), "SETUP.2");
}
