// The rules of the icon, INI and registry steps that need no Windows: the
// log record each entry leaves, the texts refused before they reach an INI
// file or Program Manager, and the texts of the questions.
#include <gtest/gtest.h>

#include "install/entryrules.h"
#include "setupdata/records.h"
#include "undo/undolog.h"

namespace {

using Strings = std::vector<std::string>;

TEST(EntryRules, IniFlagsChooseTheRecordAndDeleteEntryWinsOverDeleteSection) {
  TUndoAppend r;
  EXPECT_FALSE(IniEntryUndo(0, "a.ini", "S", "K", r));
  EXPECT_FALSE(IniEntryUndo(0xFC, "a.ini", "S", "K", r));  // other bits: no effect
  ASSERT_TRUE(IniEntryUndo(ifUninstallDeleteEntry, "", "S", "K", r));
  EXPECT_EQ(r.Kind, ukIniValue);
  EXPECT_EQ(r.Strings, (Strings{"", "S", "K"}));
  EXPECT_EQ(r.Param, 0u);
  ASSERT_TRUE(IniEntryUndo(ifUninstallDeleteSection, "a.ini", "S", "K", r));
  EXPECT_EQ(r.Kind, ukIniSection);
  EXPECT_EQ(r.Strings, (Strings{"a.ini", "S"}));
  ASSERT_TRUE(IniEntryUndo(ifUninstallDeleteEntry | ifUninstallDeleteSection, "a.ini", "S", "K", r));
  EXPECT_EQ(r.Kind, ukIniValue);
}

TEST(EntryRules, RegistryFlagsAndTypeChooseTheRecordWithTheRootAsParameter) {
  TUndoAppend r;
  EXPECT_FALSE(RegistryEntryUndo(0, 1, 0x80000001u, "K", "V", r));
  for (uint8_t type : {1, 2, 3}) {
    ASSERT_TRUE(RegistryEntryUndo(rfUninstallDeleteValue, type, 0x80000001u, "K", "V", r));
    EXPECT_EQ(r.Kind, ukRegValue);
    EXPECT_EQ(r.Strings, (Strings{"K", "V"}));
    EXPECT_EQ(r.Param, 0x80000001u);
  }
  // A key-only entry, and a type that writes nothing, take back only an
  // empty key; never a value of that name that someone else wrote.
  for (uint8_t type : {0, 4, 255}) {
    ASSERT_TRUE(RegistryEntryUndo(rfUninstallDeleteValue, type, 0x80000002u, "K", "V", r));
    EXPECT_EQ(r.Kind, ukRegKeyIfEmpty);
    EXPECT_EQ(r.Strings, (Strings{"K"}));
    EXPECT_EQ(r.Param, 0x80000002u);
  }
  ASSERT_TRUE(RegistryEntryUndo(rfUninstallDeleteKey, 1, 0x80000000u, "K", "V", r));
  EXPECT_EQ(r.Kind, ukRegKeyTree);
  EXPECT_EQ(r.Strings, (Strings{"K"}));
  ASSERT_TRUE(RegistryEntryUndo(rfUninstallDeleteValue | rfUninstallDeleteKey, 2, 0x80000002u, "K", "V", r));
  EXPECT_EQ(r.Kind, ukRegValue);
}

TEST(EntryRules, OnlyKeysBelowAPredefinedRootAreWritable) {
  for (const char* s : {"", "\\", "\\\\\\\\"}) EXPECT_FALSE(SubKeyNamesKeyBelowRoot(s)) << s;
  for (const char* s : {"a", "\\a", "Software\\X\\"}) EXPECT_TRUE(SubKeyNamesKeyBelowRoot(s)) << s;
  EXPECT_FALSE(IsPredefinedRootKey(0));
  EXPECT_FALSE(IsPredefinedRootKey(0x7FFFFFFFu));
  EXPECT_TRUE(IsPredefinedRootKey(0x80000000u));
  EXPECT_TRUE(IsPredefinedRootKey(0x80000006u));
  EXPECT_FALSE(IsPredefinedRootKey(0x80000007u));
  EXPECT_EQ(RegistryKeysOnTheWay("Software\\Vendor\\App\\"), (Strings{"Software", "Software\\Vendor"}));
  EXPECT_EQ(RegistryKeysOnTheWay("\\A\\\\B"), (Strings{"\\A"}));
  for (const char* s : {"", "\\", "App", "App\\", "\\App"}) EXPECT_EQ(RegistryKeysOnTheWay(s), Strings{}) << s;
}

TEST(EntryRules, IniTextsThatWouldNotReadBackAsWrittenAreRefused) {
  EXPECT_TRUE(IniEntryWritable("Section", "Key", "a=b [c] ;d"));
  EXPECT_TRUE(IniEntryWritable("", "Key", ""));
  EXPECT_TRUE(IniEntryWritable("[x", "K[e]y", "v"));
  EXPECT_FALSE(IniEntryWritable("Sec]tion", "Key", "v"));
  EXPECT_FALSE(IniEntryWritable("S", "a=b", "v"));
  EXPECT_FALSE(IniEntryWritable("S", "", "v"));
  EXPECT_FALSE(IniEntryWritable("S", "[K]", "v"));
  EXPECT_FALSE(IniEntryWritable("S", ";K", "v"));
  EXPECT_FALSE(IniEntryWritable("S", "K", "v\r\n[Other]"));
  EXPECT_FALSE(IniEntryWritable("S\n", "K", "v"));
  EXPECT_FALSE(IniEntryWritable("S", "K\r", "v"));
}

TEST(EntryRules, QuestionTextsAndLinkNames) {
  EXPECT_EQ(IniEntryErrorQuestion("C:\\x.ini"),
            "Error creating INI entry in file C:\\x.ini\r\n\r\nClick Retry to try again, Ignore to "
            "skip this entry, or Abort to cancel installation.");
  EXPECT_EQ(IniEntryErrorQuestion(""),
            "Error creating INI entry in file \r\n\r\nClick Retry to try again, Ignore to "
            "skip this entry, or Abort to cancel installation.");
  EXPECT_EQ(RegistryEntryErrorQuestion("Error creating registry key: Software\\X"),
            "Error creating registry key: Software\\X.\r\n\r\nClick Retry to try again, Ignore "
            "to skip this entry, or Abort to cancel installation.");
  EXPECT_STREQ(SErrorCreatingRegKey, "Error creating registry key: %s");
  EXPECT_STREQ(SErrorWritingRegKey, "Error writing to registry key: %s");
  EXPECT_EQ(ShellLinkFileName("C:\\P\\G", "My App"), "C:\\P\\G\\My App.lnk");
}

TEST(EntryRules, ProgmanTextsThatWouldChangeTheCommandAreRefused) {
  EXPECT_TRUE(ProgmanItemTextsSafe("Group (x)", "Item, 2", {"\"C:\\a b\\x.exe\"", "/a,b", "", ""}));
  // Inside the quotes "[" and "]" are plain characters.
  EXPECT_TRUE(ProgmanItemTextsSafe("Tools [beta]", "Run ]now[", {"x.exe"}));
  EXPECT_FALSE(ProgmanItemTextsSafe("G\"", "I", {}));
  EXPECT_FALSE(ProgmanItemTextsSafe("G", "I\")][DeleteGroup(\"Main", {}));
  EXPECT_FALSE(ProgmanItemTextsSafe("G", "I\r\nJ", {}));
  EXPECT_FALSE(ProgmanItemTextsSafe("G\n", "I", {}));
  EXPECT_FALSE(ProgmanItemTextsSafe("G", "I", {"x.exe)][DeleteGroup(Main)"}));
  EXPECT_FALSE(ProgmanItemTextsSafe("G", "I", {"x.exe", "a\r\nb"}));
}

}  // namespace
