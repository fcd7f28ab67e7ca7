// The machine-state snapshot: an idle prefix shows no difference, every kind
// of change is named once, and a change taken back leaves none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "snapshot.h"
#include "tests/winebench/qvtest.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

void WriteFileText(const std::string& path, const std::string& text) {
  ASSERT_TRUE(qvtest::WriteWholeFile(path, text)) << path;
}

FILETIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME st{year, month, 0, day, hour, minute, second, 0};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

void SetTimes(const std::string& path, const FILETIME& creation, const FILETIME& write) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  EXPECT_TRUE(SetFileTime(h, &creation, nullptr, &write));
  CloseHandle(h);
}

void SetValue(HKEY root, const char* key, const char* name, DWORD type, const std::string& data) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

void DeleteValue(HKEY root, const char* key, const char* name) {
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(k, name), ERROR_SUCCESS);
  RegCloseKey(k);
}

const std::string kDir = "C:\\snaptest";

// Wine itself changes nothing that the rules of WineChurn() do not name, also
// with its services and the desktop running; a second snapshot comes from
// the hash cache. Prints both timings for the README.
TEST(Snapshot, IdlePrefixShowsNoDifferenceAndTheSecondSnapshotIsCached) {
  qvsnap::Snapshot first = qvsnap::TakeSnapshot();
  std::printf("first snapshot:  %s\n", first.Summary().c_str());
  // A window comes and goes (with a display: Wine's desktop process starts),
  // and a program of Wine's own runs.
  HWND wnd = CreateWindowExA(0, "STATIC", "snapshot", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                             200, 100, nullptr, nullptr, nullptr, nullptr);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  if (wnd) DestroyWindow(wnd);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  char cmd[] = "cmd.exe /c exit 0";
  ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  qvsnap::Snapshot second = qvsnap::TakeSnapshot();
  std::printf("second snapshot: %s\n", second.Summary().c_str());
  for (const std::string& d : qvsnap::Diff(first, second, {}, false))
    std::printf("  churn without rules: %s\n", d.c_str());
  EXPECT_THAT(qvsnap::Diff(first, second), IsEmpty());
  // The whole drive: about 1,640 files, or 1,000 for the i686 build, which
  // walks the 32-bit system directory once (as system32).
  EXPECT_GT(first.files.size(), sizeof(void*) == 4 ? 900u : 1000u);
  EXPECT_GT(first.keys.size(), 100u);
  EXPECT_GT(second.filesHashedFromCache, first.files.size() / 2);

  // The registry read through one saved copy per root equals the key-by-key
  // enumeration, value for value, apart from the volatile keys (they live
  // until the next restart and are never saved; Wine keeps these).
  EXPECT_EQ(first.registryRootsSaved, 2u);
  qvsnap::SnapshotOptions enumerate;
  enumerate.fileRoots.clear();
  enumerate.registryMethod = qvsnap::RegistryMethod::kEnumerate;
  qvsnap::Snapshot byEnumeration = qvsnap::TakeSnapshot(enumerate);
  std::printf("by enumeration:  %s\n", byEnumeration.Summary().c_str());
  EXPECT_EQ(byEnumeration.registryRootsSaved, 0u);
  qvsnap::Snapshot registryOnly = second;
  registryOnly.files.clear();
  const char* volatileReason = "volatile: not in a saved copy";
  EXPECT_THAT(qvsnap::Diff(byEnumeration, registryOnly,
                           {{"HKCU\\Software\\Wine\\Fonts\\Cache", volatileReason},
                            {"HKCU\\Software\\Wine\\Temporary System Parameters*", volatileReason},
                            {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards*",
                             volatileReason}},
                           false),
              IsEmpty());

  // The user's folders that Wine links to the Unix home are recorded as
  // links and never walked.
  char profile[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH), 0u);
  std::string desktop = std::string(profile) + "\\Desktop";
  std::string key;
  for (char c : desktop) key += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  auto it = first.files.find(key);
  ASSERT_NE(it, first.files.end()) << desktop;
  EXPECT_TRUE(it->second.link);
  auto below = first.files.lower_bound(key + "\\");
  EXPECT_TRUE(below == first.files.end() || below->first.compare(0, key.size() + 1, key + "\\") != 0)
      << below->first;
}

// Files, directories, attributes, times, INI sections and keys, registry keys
// and values of each type: each change is one line, and taking every change
// back gives an empty difference again.
TEST(Snapshot, NamesEveryChangeAndNoneOnceTakenBack) {
  const FILETIME t1 = Time(1997, 5, 3, 10, 20, 30);
  const FILETIME t2 = Time(1998, 1, 2, 3, 4, 5);
  ASSERT_TRUE(CreateDirectoryA(kDir.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((kDir + "\\keep").c_str(), nullptr));
  WriteFileText(kDir + "\\a.txt", "hello world");
  WriteFileText(kDir + "\\b.txt", "to be removed");
  WriteFileText(kDir + "\\t.txt", "times");
  SetTimes(kDir + "\\a.txt", t1, t1);
  SetTimes(kDir + "\\b.txt", t1, t1);
  SetTimes(kDir + "\\t.txt", t1, t1);
  WritePrivateProfileStringA("One", "Keep", "k", (kDir + "\\x.ini").c_str());
  WritePrivateProfileStringA("One", "Change", "before", (kDir + "\\x.ini").c_str());
  WritePrivateProfileStringA("One", "Remove", "r", (kDir + "\\x.ini").c_str());
  WritePrivateProfileStringA("Gone", "G", "g", (kDir + "\\x.ini").c_str());
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Str", REG_SZ, std::string("text", 5));
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Gone", REG_DWORD, std::string("\1\0\0\0", 4));
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap\\Old", "", REG_SZ, std::string("d", 2));
  SetValue(HKEY_LOCAL_MACHINE, "Software\\QvSnap", "Bin", REG_BINARY, std::string("\1\2", 2));

  qvsnap::Snapshot before = qvsnap::TakeSnapshot();
  // Files.
  WriteFileText(kDir + "\\a.txt", "HELLO world");  // same size, same times
  SetTimes(kDir + "\\a.txt", t1, t1);
  DeleteFileA((kDir + "\\b.txt").c_str());
  WriteFileText(kDir + "\\c.txt", "new");
  SetTimes(kDir + "\\t.txt", t2, t2);
  SetFileAttributesA((kDir + "\\keep").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((kDir + "\\t.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(CreateDirectoryA((kDir + "\\sub").c_str(), nullptr));
  // INI.
  const std::string ini = kDir + "\\x.ini";
  WritePrivateProfileStringA("One", "Change", "after", ini.c_str());
  WritePrivateProfileStringA("One", "Remove", nullptr, ini.c_str());
  WritePrivateProfileStringA("One", "Added", "a", ini.c_str());
  WritePrivateProfileStringA("Gone", nullptr, nullptr, ini.c_str());
  WritePrivateProfileStringA("New", "N", "n", ini.c_str());
  FILETIME iniTime{};
  {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(ini.c_str(), &fd);
    FindClose(h);
    iniTime = fd.ftLastWriteTime;
  }
  SetTimes(ini, before.files.at("C:\\SNAPTEST\\X.INI").creation,
           before.files.at("C:\\SNAPTEST\\X.INI").lastWrite);
  // Registry.
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Str", REG_EXPAND_SZ, std::string("text", 5));
  DeleteValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Gone");
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QvSnap\\Old"), ERROR_SUCCESS);
  SetValue(HKEY_LOCAL_MACHINE, "Software\\QvSnap\\New", "D", REG_DWORD, std::string("\x10\0\0\0", 4));
  SetValue(HKEY_LOCAL_MACHINE, "Software\\QvSnap", "Bin", REG_BINARY, std::string());
  qvsnap::Snapshot after = qvsnap::TakeSnapshot();

  std::vector<std::string> diff = qvsnap::Diff(before, after);
  EXPECT_THAT(diff, UnorderedElementsAreArray(std::vector<std::string>{
      "file changed: C:\\snaptest\\a.txt: contents",
      "file removed: C:\\snaptest\\b.txt",
      "file added: C:\\snaptest\\c.txt (3 bytes)",
      "directory changed: C:\\snaptest\\keep: attributes 0x10 -> H 0x12",
      "directory added: C:\\snaptest\\sub",
      "file changed: C:\\snaptest\\t.txt: last write 1997-05-03 10:20:30.0000000 -> "
      "1998-01-02 03:04:05.0000000, creation 1997-05-03 10:20:30.0000000 -> "
      "1998-01-02 03:04:05.0000000, attributes A 0x20 -> RA 0x21",
      "file changed: C:\\snaptest\\x.ini: size 53 -> 50",
      "ini key added: C:\\snaptest\\x.ini [One] Added = \"a\"",
      "ini key changed: C:\\snaptest\\x.ini [One] Change: \"before\" -> \"after\"",
      "ini key removed: C:\\snaptest\\x.ini [One] Remove (was \"r\")",
      "ini section removed: C:\\snaptest\\x.ini [Gone]",
      "ini key removed: C:\\snaptest\\x.ini [Gone] G (was \"g\")",
      "ini section added: C:\\snaptest\\x.ini [New]",
      "ini key added: C:\\snaptest\\x.ini [New] N = \"n\"",
      "key removed: HKCU\\Software\\QvSnap\\Old",
      "value removed: HKCU\\Software\\QvSnap\\Old [] (was REG_SZ \"d\")",
      "value removed: HKCU\\Software\\QvSnap [Gone] (was REG_DWORD 0x00000001)",
      "value added: HKCU\\Software\\QvSnap [Multi] = REG_MULTI_SZ \"a|b\"",
      "value changed: HKCU\\Software\\QvSnap [Str]: REG_SZ \"text\" -> REG_EXPAND_SZ \"text\"",
      "value changed: HKLM\\Software\\QvSnap [Bin]: REG_BINARY [2 bytes] 01 02 -> "
      "REG_BINARY [0 bytes]",
      "key added: HKLM\\Software\\QvSnap\\New",
      "value added: HKLM\\Software\\QvSnap\\New [D] = REG_DWORD 0x00000010",
  })) << "INI written at " << iniTime.dwLowDateTime;

  // Rules leave out what they match, and each must carry its reason.
  std::vector<std::string> kept = qvsnap::Diff(
      before, after,
      {{"C:\\snaptest\\x.ini*", "written by the test"}, {"HK??\\software\\qvsnap*", "ditto"}});
  EXPECT_EQ(kept.size(), 6u);
  EXPECT_THAT(kept, Contains(HasSubstr("b.txt")));
  EXPECT_THROW(qvsnap::Diff(before, after, {{"C:\\*", ""}}), std::invalid_argument);

  // Everything back as it was.
  WriteFileText(kDir + "\\a.txt", "hello world");
  SetTimes(kDir + "\\a.txt", t1, t1);
  WriteFileText(kDir + "\\b.txt", "to be removed");
  SetTimes(kDir + "\\b.txt", t1, t1);
  DeleteFileA((kDir + "\\c.txt").c_str());
  SetFileAttributesA((kDir + "\\t.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE);
  SetTimes(kDir + "\\t.txt", t1, t1);
  SetFileAttributesA((kDir + "\\keep").c_str(), FILE_ATTRIBUTE_DIRECTORY);
  RemoveDirectoryA((kDir + "\\sub").c_str());
  DeleteFileA(ini.c_str());
  WritePrivateProfileStringA("One", "Keep", "k", ini.c_str());
  WritePrivateProfileStringA("One", "Change", "before", ini.c_str());
  WritePrivateProfileStringA("One", "Remove", "r", ini.c_str());
  WritePrivateProfileStringA("Gone", "G", "g", ini.c_str());
  SetTimes(ini, before.files.at("C:\\SNAPTEST\\X.INI").creation,
           before.files.at("C:\\SNAPTEST\\X.INI").lastWrite);
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Str", REG_SZ, std::string("text", 5));
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Gone", REG_DWORD, std::string("\1\0\0\0", 4));
  DeleteValue(HKEY_CURRENT_USER, "Software\\QvSnap", "Multi");
  SetValue(HKEY_CURRENT_USER, "Software\\QvSnap\\Old", "", REG_SZ, std::string("d", 2));
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\QvSnap\\New"), ERROR_SUCCESS);
  SetValue(HKEY_LOCAL_MACHINE, "Software\\QvSnap", "Bin", REG_BINARY, std::string("\1\2", 2));
  qvsnap::Snapshot restored = qvsnap::TakeSnapshot();
  EXPECT_THAT(qvsnap::Diff(before, restored), IsEmpty());
}

// A file above the hash limit counts as changed only when its change time
// moves; roots are parameters (one directory, no registry: a fast snapshot).
TEST(Snapshot, LargeFilesAreComparedByChangeTime) {
  const std::string dir = "C:\\snapbig";
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  const std::string big(5000, 'x');
  WriteFileText(dir + "\\same.bin", big);
  WriteFileText(dir + "\\touched.bin", big);
  const FILETIME t1 = Time(1997, 5, 3, 10, 20, 30);
  SetTimes(dir + "\\touched.bin", t1, t1);
  // A skipped directory is recorded, its contents are not.
  ASSERT_TRUE(CreateDirectoryA((dir + "\\skipped").c_str(), nullptr));
  WriteFileText(dir + "\\skipped\\inside.txt", "x");
  qvsnap::SnapshotOptions o;
  o.fileRoots = {dir};
  o.registryRoots.clear();
  o.skipDirectories = {"*\\SKIPPED"};
  o.hashLimit = 1000;
  qvsnap::Snapshot before = qvsnap::TakeSnapshot(o);
  EXPECT_EQ(before.files.size(), 3u);
  EXPECT_EQ(before.files.count("C:\\SNAPBIG\\SKIPPED"), 1u);
  EXPECT_EQ(before.keys.size(), 0u);
  EXPECT_EQ(before.bytesHashed, 0u);
  // Same bytes, times set back; written again until the coarse change-time
  // clock has moved on.
  qvsnap::Snapshot after;
  for (DWORD deadline = GetTickCount() + 5000; GetTickCount() < deadline;) {
    WriteFileText(dir + "\\touched.bin", big);
    SetTimes(dir + "\\touched.bin", t1, t1);
    after = qvsnap::TakeSnapshot(o);
    if (after.files.at("C:\\SNAPBIG\\TOUCHED.BIN").changeTime !=
        before.files.at("C:\\SNAPBIG\\TOUCHED.BIN").changeTime)
      break;
  }
  EXPECT_THAT(qvsnap::Diff(before, after),
              UnorderedElementsAreArray(std::vector<std::string>{
                  "file changed: C:\\snapbig\\touched.bin: contents may differ (not hashed; its "
                  "change time moved)"}));
}

TEST(Snapshot, WildcardsMatchWholeSubjectsWithoutCase) {
  EXPECT_TRUE(qvsnap::WildcardMatch("C:\\windows\\temp\\*", "c:\\WINDOWS\\Temp\\x\\y.tmp"));
  EXPECT_TRUE(qvsnap::WildcardMatch("*.in?", "C:\\a.ini"));
  EXPECT_TRUE(qvsnap::WildcardMatch("HKCU\\*\\[Name]", "HKCU\\Software\\X\\[name]"));
  EXPECT_FALSE(qvsnap::WildcardMatch("C:\\windows\\temp\\*", "C:\\windows\\temporary"));
  EXPECT_FALSE(qvsnap::WildcardMatch("C:\\a", "C:\\ab"));
  EXPECT_FALSE(qvsnap::WildcardMatch("*.ini", "C:\\a.ini.bak"));
}

}  // namespace
