// The system helpers and the system facts against the real API, under the
// Windows version named by QV_VERSION (win95, win98, nt351, nt40, win2k,
// default), which must match the version the prefix reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/strutil.h"
#include "common/syshelpers.h"
#include "main/systemfacts.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "tests/winebench/qvtest.h"

namespace {

std::string Env(const char* name) { return qvtest::EnvOr(name, ""); }

struct TExpected {
  bool nt;
  bool v4_shell;
};

TExpected Expected() {
  const std::string v = Env("QV_VERSION");
  if (v == "win95" || v == "win98") return {false, true};
  if (v == "nt351") return {true, false};
  return {true, true};  // nt40, win2k, default
}

std::string Scratch() {
  std::string dir = Env("QV_TEST_TMP_WIN");
  return EnsureTrailingBackslash(dir);
}

void WriteFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  CloseHandle(h);
}

// A scratch key under HKCU, removed again by the test.
class RegKeyTest : public ::testing::Test {
 protected:
  static constexpr const char* kBase = "Software\\QvHelperTest";
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kBase, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    DeleteRegKeyTree(HKEY_CURRENT_USER, kBase);
  }
  void Set(const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  void Create(const std::string& sub) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(key_, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS)
        << sub;
    DWORD v = 7;
    RegSetValueExA(k, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof v);
    RegCloseKey(k);
  }
  bool Exists(const std::string& sub) {
    HKEY k;
    if (RegOpenKeyExA(key_, sub.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
  }
  HKEY key_ = nullptr;
};

TEST(Platform, VersionTestsMatchTheReportedWindows) {
  ASSERT_FALSE(Env("QV_VERSION").empty()) << "QV_VERSION not set";
  const TExpected e = Expected();
  EXPECT_EQ(IsWindowsNT(), e.nt);
  EXPECT_EQ(IsVersion4Shell(), e.v4_shell);
  EXPECT_EQ(IsVersion4Shell(), e.v4_shell);  // the kept answer
  // The Windows 95 family has no access control: always an administrator.
  // Wine's user may open the service manager with full access on NT.
  EXPECT_TRUE(QueryAdminRights());
}

TEST(Folders, FolderExists) {
  const std::string dir = Scratch() + "sub dir";
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  WriteFile(dir + "\\file.txt");
  EXPECT_TRUE(FolderExists(dir));
  EXPECT_TRUE(FolderExists(dir + "\\"));
  EXPECT_FALSE(FolderExists(dir + "\\file.txt"));
  EXPECT_FALSE(FolderExists(dir + "\\file.txt\\"));
  EXPECT_FALSE(FolderExists(dir + "\\missing"));
  EXPECT_FALSE(FolderExists(""));
  EXPECT_TRUE(FolderExists("C:\\"));
  EXPECT_TRUE(FolderExists(QueryWindowsDir() + "\\"));

  // A drive letter with nothing behind it: false, and the process error
  // mode is what it was before (no critical-error box can have come up).
  char letter = 0;
  const DWORD drives = GetLogicalDrives();
  for (char c = 'Q'; c <= 'Y' && !letter; ++c)
    if (!(drives & (1u << (c - 'A')))) letter = c;
  ASSERT_NE(letter, 0);
  const std::string root = std::string(1, letter) + ":\\";
  SetErrorMode(SEM_NOOPENFILEERRORBOX);
  EXPECT_FALSE(FolderExists(root));
  EXPECT_FALSE(FolderExists(root + "dir\\"));
  EXPECT_EQ(SetErrorMode(0), static_cast<UINT>(SEM_NOOPENFILEERRORBOX));
}

TEST(Folders, WindowsAndSystemDirectories) {
  EXPECT_EQ(QueryWindowsDir(), "C:\\windows");
  EXPECT_EQ(QuerySystemDir(), "C:\\windows\\system32");
}

TEST(Folders, ToShortPathName) {
  const std::string dir = Scratch() + "A Long Directory Name";
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  const std::string file = dir + "\\a long file name.text";
  WriteFile(file);
  const std::string s = ToShortPathName(file);
  EXPECT_NE(s, file);
  EXPECT_NE(s.find('~'), std::string::npos) << s;
  EXPECT_EQ(s.find(' '), std::string::npos) << s;
  // The short name names the same file.
  EXPECT_NE(GetFileAttributesA(s.c_str()), INVALID_FILE_ATTRIBUTES);
  // No such file: the path comes back as it was.
  const std::string missing = dir + "\\not there at all.text";
  EXPECT_EQ(ToShortPathName(missing), missing);
}

TEST(Ini, WriteIniValue) {
  const std::string ini = Scratch() + "test.ini";
  EXPECT_TRUE(WriteIniValue("Sec", "Key", "Value 1", ini));
  char buf[64];
  GetPrivateProfileStringA("Sec", "Key", "", buf, sizeof buf, ini.c_str());
  EXPECT_STREQ(buf, "Value 1");
  // No file name: WIN.INI.
  EXPECT_TRUE(WriteIniValue("QvHelperTest", "K", "in win.ini", ""));
  GetProfileStringA("QvHelperTest", "K", "", buf, sizeof buf);
  EXPECT_STREQ(buf, "in win.ini");
  WriteProfileStringA("QvHelperTest", nullptr, nullptr);
}

TEST_F(RegKeyTest, ReadRegString) {
  std::string s = "untouched";
  Set("nul only", REG_SZ, "", 1);
  EXPECT_TRUE(ReadRegString(key_, "nul only", s));
  EXPECT_EQ(s, "");

  s = "untouched";
  Set("zero bytes", REG_SZ, "", 0);
  EXPECT_TRUE(ReadRegString(key_, "zero bytes", s));
  EXPECT_EQ(s, "");

  Set("text", REG_SZ, "C:\\Program Files", 17);
  EXPECT_TRUE(ReadRegString(key_, "text", s));
  EXPECT_EQ(s, "C:\\Program Files");

  // Stored without its NUL: every stored character is kept.
  Set("no nul", REG_SZ, "abc", 3);
  EXPECT_TRUE(ReadRegString(key_, "no nul", s));
  EXPECT_EQ(s, "abc");

  Set("expand", REG_EXPAND_SZ, "%WINDIR%\\x", 11);
  EXPECT_TRUE(ReadRegString(key_, "expand", s));
  EXPECT_EQ(s, "%WINDIR%\\x");

  s = "untouched";
  DWORD dw = 0x41414141;
  Set("dword", REG_DWORD, &dw, sizeof dw);
  EXPECT_FALSE(ReadRegString(key_, "dword", s));
  Set("binary", REG_BINARY, "ab\0", 3);
  EXPECT_FALSE(ReadRegString(key_, "binary", s));
  EXPECT_FALSE(ReadRegString(key_, "missing", s));
  EXPECT_EQ(s, "untouched");
}

TEST_F(RegKeyTest, RegValuePresent) {
  DWORD dw = 1;
  Set("dword", REG_DWORD, &dw, sizeof dw);
  Set("empty", REG_SZ, "", 1);
  EXPECT_TRUE(RegValuePresent(key_, "dword"));
  EXPECT_TRUE(RegValuePresent(key_, "empty"));
  EXPECT_FALSE(RegValuePresent(key_, "missing"));
  EXPECT_FALSE(RegValuePresent(key_, ""));  // no default value set
  Set("", REG_SZ, "d", 2);
  EXPECT_TRUE(RegValuePresent(key_, ""));
}

TEST_F(RegKeyTest, DeleteRegKeyTreeNested) {
  Create("Tree\\A\\A1\\A11");
  Create("Tree\\A\\A2");
  Create("Tree\\B");
  Create("Tree\\C\\C1");
  Create("Sibling");
  Set("kept", REG_SZ, "x", 2);
  EXPECT_TRUE(DeleteRegKeyTree(key_, "Tree"));
  EXPECT_FALSE(Exists("Tree"));
  EXPECT_TRUE(Exists("Sibling"));
  EXPECT_TRUE(RegValuePresent(key_, "kept"));
  // A key that is not there.
  EXPECT_FALSE(DeleteRegKeyTree(key_, "Tree"));
  EXPECT_FALSE(DeleteRegKeyTree(key_, "Nothing\\Deeper"));
  // A key path of several levels: only the last level goes.
  Create("P\\Q\\R");
  EXPECT_TRUE(DeleteRegKeyTree(key_, "P\\Q"));
  EXPECT_TRUE(Exists("P"));
  EXPECT_FALSE(Exists("P\\Q"));
  // A leaf key.
  EXPECT_TRUE(DeleteRegKeyTree(key_, "Sibling"));
  EXPECT_FALSE(Exists("Sibling"));
}

TEST_F(RegKeyTest, PlainRegDeleteKeyRefusesSubkeysOnNT) {
  // Why DeleteRegKeyTree removes the subkeys itself. (With the Windows 95
  // family setting, Wine 8's RegDeleteKey takes along a single chain of
  // subkeys but stops at a key with several, so there is no behaviour to
  // rely on there either.)
  if (!Expected().nt) GTEST_SKIP() << "Windows 95 family";
  Create("Parent\\Child\\Grandchild");
  EXPECT_NE(RegDeleteKeyA(key_, "Parent"), ERROR_SUCCESS);
  EXPECT_TRUE(Exists("Parent\\Child\\Grandchild"));
}

TEST_F(RegKeyTest, DeleteRegKeyTreeUnderAPredefinedRoot) {
  Create("Root\\X\\Y");
  EXPECT_TRUE(DeleteRegKeyTree(HKEY_CURRENT_USER, std::string(kBase) + "\\Root"));
  EXPECT_FALSE(Exists("Root"));
}

using qvtest::TSavedValue;

// A 32-bit program in a 64-bit prefix reads the registry's 32-bit view, as
// on 64-bit Windows: ProgramFilesDir is the folder of 32-bit programs there.
const std::string kProgramFiles =
    sizeof(void*) == 4 ? "C:\\Program Files (x86)" : "C:\\Program Files";

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

TEST(Folders, GetProgramsFolder) {
  TSavedValue common(HKEY_LOCAL_MACHINE, kShellFolders, "Common Programs");
  TSavedValue user(HKEY_CURRENT_USER, kShellFolders, "Programs");
  common.Set("C:\\All\\Programs");
  user.Set("C:\\Me\\Programs");
  if (!Expected().v4_shell) {
    // Below version 4 there is no Start Menu, whatever the registry holds.
    EXPECT_EQ(GetProgramsFolder(true, true), "");
    EXPECT_EQ(GetProgramsFolder(false, false), "");
    return;
  }
  EXPECT_EQ(GetProgramsFolder(true, false), "C:\\All\\Programs");
  EXPECT_EQ(GetProgramsFolder(true, true), "C:\\All\\Programs\\");
  EXPECT_EQ(GetProgramsFolder(false, true), "C:\\Me\\Programs\\");
  user.Set("C:\\Me\\Programs\\");
  EXPECT_EQ(GetProgramsFolder(false, true), "C:\\Me\\Programs\\");
  // The common value empty or missing: the user's folder.
  common.Set("");
  EXPECT_EQ(GetProgramsFolder(true, false), "C:\\Me\\Programs\\");
  common.Delete();
  EXPECT_EQ(GetProgramsFolder(true, true), "C:\\Me\\Programs\\");
  user.Delete();
  EXPECT_EQ(GetProgramsFolder(true, true), "");
  EXPECT_EQ(GetProgramsFolder(false, true), "");
}

TEST(Folders, GetProgramFilesFolder) {
  TSavedValue pf(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                 "ProgramFilesDir");
  ASSERT_TRUE(pf.Had());
  EXPECT_EQ(pf.Value(), kProgramFiles);
  EXPECT_EQ(GetProgramFilesFolder(false), kProgramFiles);
  EXPECT_EQ(GetProgramFilesFolder(true), kProgramFiles + "\\");
  pf.Set("");
  EXPECT_EQ(GetProgramFilesFolder(true), "");
  pf.Delete();
  EXPECT_EQ(GetProgramFilesFolder(true), "");
}

TEST(SystemFacts, RealMachine) {
  GatherSystemFacts();
  EXPECT_EQ(WinDir, "C:\\windows");
  EXPECT_EQ(SystemDir, "C:\\windows\\system32");
  EXPECT_EQ(ProgramFilesDir, kProgramFiles + "\\");
  EXPECT_TRUE(IsAdmin);
}

TEST(SystemFacts, SystemDirectoryOutsideWindows) {
  const std::string win = QueryWindowsDir();
  // Writable: kept, and the test file is gone again.
  const std::string sys = Scratch() + "sys";
  ASSERT_TRUE(CreateDirectoryA(sys.c_str(), nullptr));
  GatherSystemFactsFrom(win, sys);
  EXPECT_EQ(WinDir, win);
  EXPECT_EQ(SystemDir, sys);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((sys + "\\*.tmp").c_str(), &fd);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "left behind: " << fd.cFileName;
  if (h != INVALID_HANDLE_VALUE) FindClose(h);

  // Missing, a file in the way, a drive that is not there: the Windows
  // directory instead.
  GatherSystemFactsFrom(win, Scratch() + "missing");
  EXPECT_EQ(SystemDir, win);
  WriteFile(Scratch() + "a file");
  GatherSystemFactsFrom(win, Scratch() + "a file");
  EXPECT_EQ(SystemDir, win);
  GatherSystemFactsFrom(win, "Q:\\SYSTEM");
  EXPECT_EQ(SystemDir, win);
  EXPECT_EQ(ProgramFilesDir, kProgramFiles + "\\");
}

TEST(SystemFacts, SystemDirectoryInsideWindowsIsNotTested) {
  // Inside the Windows directory (a substring, letter case as given): no
  // test, so even a missing directory is kept.
  const std::string win = Scratch() + "win";
  GatherSystemFactsFrom(win, win + "\\SYSTEM");
  EXPECT_EQ(SystemDir, win + "\\SYSTEM");
  // The search is case-sensitive: a differently cased path is tested.
  std::string upper = win;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (upper != win) {
    GatherSystemFactsFrom(win, upper + "\\SYSTEM");
    EXPECT_EQ(SystemDir, win);
  }
}

TEST(TempNames, FileSystemExistenceTest) {
  const std::string dir = Scratch() + "tmpnames";
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  const std::string a = NewTempFileName(dir);
  ASSERT_EQ(a.substr(0, dir.size() + 3), dir + "\\qv");
  EXPECT_EQ(a.size(), dir.size() + 1 + 12);
  EXPECT_EQ(GetFileAttributesA(a.c_str()), INVALID_FILE_ATTRIBUTES);  // not created
  // With the first candidate taken, the next is chosen.
  WriteFile(dir + "\\qv000001.tmp");
  CreateDirectoryA((dir + "\\qv000002.tmp").c_str(), nullptr);
  EXPECT_EQ(NewTempFileName(dir, FileOrDirExists, 0), dir + "\\qv000003.tmp");
  EXPECT_TRUE(DirectoryWritable(dir));
  EXPECT_FALSE(DirectoryWritable(dir + "\\nope"));
}

// Format through the C library of the build (crtdll.dll for the shipped
// programs): the conversions the program's texts use, and texts that fill
// the first buffer exactly, overflow it, or are much longer.
TEST(Text, FormatConversionsAndLongTexts) {
  EXPECT_EQ(Format("%s_qv%d|%.3d|%u|%lu|0x%08lx|qv%.6X.tmp|%x|%-3s|%c", "App 1.0", -7, 5, 4000000000u,
                   4000000001ul, 0xC0FFEEul, 0xABCDu, 255u, "a", 'z'),
            "App 1.0_qv-7|005|4000000000|4000000001|0x00c0ffee|qv00ABCD.tmp|ff|a  |z");
  for (size_t length : {255u, 256u, 257u, 5000u}) {
    const std::string text(length, 'p');
    EXPECT_EQ(Format("%s", text.c_str()), text) << length;
    EXPECT_EQ(Format("[%s]", text.c_str()), "[" + text + "]") << length;
  }
  EXPECT_EQ(Format("%s", ""), "");
}

}  // namespace
