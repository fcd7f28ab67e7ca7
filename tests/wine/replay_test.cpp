// The undo replay on real machine state under Wine: directories, files,
// help indexes, SharedDLLs counts, a self-registering DLL, INI entries,
// registry keys and values, Program Manager groups and items in our own
// server, and shell notifications. Runs with a display (message boxes,
// and DDE between processes).
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/shareddlls.h"
#include "dde/dde.h"
#include "dde/progman.h"
#include "tests/wine/box_answerer.h"
#include "tests/wine/dde_testserver.h"
#include "uidriver.h"
#include "undo/replay.h"
#include "undo/undolog.h"

using qvtest::BoxAnswerer;
using qvtest::FileThere;
using qvtest::ReadWholeFile;
using qvtest::TestProgman;
using qvtest::TmpDir;
using qvtest::WriteWholeFile;

namespace {

const char* kRegBase = "Software\\QvReplayTest";
const char* kRegBaseLM = "Software\\QvReplayTestLM";
constexpr uint32_t kHKCU = 0x80000001u;
constexpr uint32_t kHKLM = 0x80000002u;

HKEY Root(uint32_t r) { return RootKeyFromParam(r); }

void SetValue(uint32_t root, const std::string& key, const std::string& name, DWORD type,
              const void* data, DWORD size) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(Root(root), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr),
            ERROR_SUCCESS);
  if (!name.empty() || data != nullptr) {
    ASSERT_EQ(RegSetValueExA(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  RegCloseKey(k);
}
void SetSz(uint32_t root, const std::string& key, const std::string& name, const std::string& v) {
  SetValue(root, key, name, REG_SZ, v.c_str(), static_cast<DWORD>(v.size() + 1));
}
void SetDword(uint32_t root, const std::string& key, const std::string& name, DWORD v) {
  SetValue(root, key, name, REG_DWORD, &v, sizeof v);
}
void MakeKey(uint32_t root, const std::string& key) { SetValue(root, key, "", 0, nullptr, 0); }

// A readable dump of a registry key: every subkey, value, type and data.
void DumpKey(HKEY root, const std::string& path, std::string& out) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
  out += "[" + path + "]\n";
  std::vector<std::string> lines;
  for (DWORD i = 0;; ++i) {
    char name[512];
    BYTE data[1024];
    DWORD nlen = sizeof name, dlen = sizeof data, type = 0;
    if (RegEnumValueA(k, i, name, &nlen, nullptr, &type, data, &dlen) != ERROR_SUCCESS) break;
    std::string line = std::string(name, nlen) + " type " + std::to_string(type) + " =";
    for (DWORD b = 0; b < dlen; ++b) line += " " + std::to_string(data[b]);
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  for (auto& l : lines) out += l + "\n";
  std::vector<std::string> subs;
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD nlen = sizeof name;
    if (RegEnumKeyExA(k, i, name, &nlen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    subs.emplace_back(name, nlen);
  }
  RegCloseKey(k);
  std::sort(subs.begin(), subs.end());
  for (auto& s : subs) DumpKey(root, path + "\\" + s, out);
}

// Every file and directory below dir, sorted.
void ListTree(const std::string& dir, std::vector<std::string>& out) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string n = fd.cFileName;
    if (n == "." || n == "..") continue;
    std::string p = dir + "\\" + n;
    bool is_dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.push_back(p + (is_dir ? "\\" : " " + ReadWholeFile(p)));
    if (is_dir) ListTree(p, out);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  std::sort(out.begin(), out.end());
}

struct Paths {
  std::string root;  // the scratch area of this test
  explicit Paths(const std::string& tag) : root(TmpDir() + tag) {
    CreateDirectoryA(root.c_str(), nullptr);
  }
  std::string operator()(const std::string& rel) const { return root + "\\" + rel; }
};

std::string Snapshot(const Paths& p, const std::vector<std::string>& shared, TestProgman* pm) {
  std::string s;
  std::vector<std::string> files;
  ListTree(p.root, files);
  for (auto& f : files) s += f + "\n";
  DumpKey(HKEY_CURRENT_USER, kRegBase, s);
  DumpKey(HKEY_LOCAL_MACHINE, kRegBaseLM, s);
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_READ, &k) == ERROR_SUCCESS) {
    for (auto& name : shared) {
      BYTE data[64];
      DWORD type = 0, len = sizeof data;
      if (RegQueryValueExA(k, name.c_str(), nullptr, &type, data, &len) == ERROR_SUCCESS) {
        s += "shared " + name + " type " + std::to_string(type) + " =";
        for (DWORD b = 0; b < len; ++b) s += " " + std::to_string(data[b]);
        s += "\n";
      }
    }
    RegCloseKey(k);
  }
  if (pm != nullptr) s += pm->Snapshot().Save();
  return s;
}

void Exec(const std::string& cmd) { qvtest::Conversation().Exec(cmd, false); }

std::string SelfRegDll() { return qvtest::BinDir() + "engine_testdll.dll"; }

void CopyTo(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

DWORD SharedType(const std::string& file, std::string& data) {
  HKEY k = nullptr;
  data.clear();
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return 0;
  BYTE b[64];
  DWORD type = 0, len = sizeof b;
  LONG r = RegQueryValueExA(k, file.c_str(), nullptr, &type, b, &len);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS) return 0;
  data.assign(reinterpret_cast<char*>(b), len);
  return type;
}

// Every test leaves the prefix as it found it: its registry keys, the
// SharedDLLs counts of its scratch files and the self-registration marker
// variable go, whatever the test did or where it failed.
class Replay : public ::testing::Test {
 protected:
  void TearDown() override {
    SetEnvironmentVariableA("QV_SELFREG_MARKER", nullptr);
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
      return;
    std::vector<std::string> ours;
    const std::string scratch = TmpDir();
    for (DWORD i = 0;; ++i) {
      char name[1024];
      DWORD len = sizeof name;
      if (RegEnumValueA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      if (std::string(name, len).compare(0, scratch.size(), scratch) == 0) ours.emplace_back(name, len);
    }
    for (const std::string& name : ours) RegDeleteValueA(k, name.c_str());
    RegCloseKey(k);
  }
  qvtest::TRegKeyGuard user_keys_{HKEY_CURRENT_USER, kRegBase};
  qvtest::TRegKeyGuard machine_keys_{HKEY_LOCAL_MACHINE, kRegBaseLM};
};

}  // namespace

// Rollback of a whole installation: afterwards the machine is as before.
TEST_F(Replay, RollbackRestoresTheMachine) {
  Paths p("rollback");
  TestProgman pm("rollback");
  ASSERT_TRUE(pm.Start(
      "[Groups]\r\nCount=1\r\n1=Existing\r\n[Group1]\r\nName=Existing\r\nItems=1\r\n"
      "Name1=Old\r\nCommand1=OLD.EXE\r\n"));
  std::string marker = p("selfreg.log");
  SetEnvironmentVariableA("QV_SELFREG_MARKER", marker.c_str());

  // The machine before the installation.
  WriteWholeFile(p("existed.txt"), "old contents");
  WriteWholeFile(p("uonly.dat"), "kept on rollback");
  CreateDirectoryA(p("shared").c_str(), nullptr);
  WriteWholeFile(p("shared\\exshared.dll"), "existing shared");
  // Shared files another product installed: their counts stay above zero.
  WriteWholeFile(p("shared\\sz.dll"), "sz");
  WriteWholeFile(p("shared\\bin4.dll"), "bin4");
  WriteWholeFile(p("test.ini"), "[Keep]\r\na=1\r\n[Shared]\r\nother=1\r\n");
  SetSz(kHKLM, SharedDllsKey, p("shared\\sz.dll"), "2");
  const BYTE four[4] = {4, 0, 0, 0};
  SetValue(kHKLM, SharedDllsKey, p("shared\\bin4.dll"), REG_BINARY, four, 4);
  SetDword(kHKLM, SharedDllsKey, p("shared\\exshared.dll"), 1);
  SetSz(kHKCU, std::string(kRegBase) + "\\NotEmpty", "keep", "1");
  std::vector<std::string> shared = {p("shared\\sz.dll"), p("shared\\bin4.dll"),
                                     p("shared\\bin1.dll"), p("shared\\dw.dll"),
                                     p("shared\\exshared.dll")};
  std::string before = Snapshot(p, shared, &pm);

  // The installation, recording as it goes.
  TUndoChanges log;
  std::string app = p("app");
  CreateDirectoryA(app.c_str(), nullptr);
  log.AppendStrings(ukRemoveDir, {app}, 0);
  CreateDirectoryA(p("app\\sub").c_str(), nullptr);
  log.AppendStrings(ukRemoveDir, {p("app\\sub")}, 1);
  WriteWholeFile(p("app\\sub\\prog.exe"), "program");
  log.AppendStrings(ukDeleteFile, {p("app\\sub\\prog.exe"), ""}, dfNotifyShell);
  WriteWholeFile(p("app\\help.hlp"), "help");
  WriteWholeFile(p("app\\help.GID"), "gid");
  WriteWholeFile(p("app\\help.fts"), "fts");
  log.AppendStrings(ukDeleteFile, {p("app\\help.hlp"), ""}, 0);
  // In use: the new version waits in a temporary file for the restart.
  WriteWholeFile(p("app\\~qv0001.tmp"), "new contents");
  log.AppendStrings(ukDeleteFile, {p("existed.txt"), p("app\\~qv0001.tmp")}, dfExistedBefore);
  CopyTo(SelfRegDll(), p("app\\selfreg.dll"));
  log.AppendStrings(ukDeleteFile, {p("app\\selfreg.dll"), ""}, dfRegisteredServer);
  // Shared files: counts raised, in each stored form.
  SetSz(kHKLM, SharedDllsKey, p("shared\\sz.dll"), "3");
  WriteWholeFile(p("shared\\sz.dll"), "sz");
  const BYTE five[4] = {5, 0, 0, 0}, one[1] = {1};
  SetValue(kHKLM, SharedDllsKey, p("shared\\bin4.dll"), REG_BINARY, five, 4);
  WriteWholeFile(p("shared\\bin4.dll"), "bin4");
  SetValue(kHKLM, SharedDllsKey, p("shared\\bin1.dll"), REG_BINARY, one, 1);
  WriteWholeFile(p("shared\\bin1.dll"), "bin1");
  SetDword(kHKLM, SharedDllsKey, p("shared\\dw.dll"), 1);
  WriteWholeFile(p("shared\\dw.dll"), "dw");
  SetDword(kHKLM, SharedDllsKey, p("shared\\exshared.dll"), 2);
  for (const char* f : {"sz", "bin4", "bin1", "dw"})
    log.AppendStrings(ukDeleteFile, {p(std::string("shared\\") + f + ".dll"), ""}, dfSharedFile);
  log.AppendStrings(ukDeleteFile, {p("shared\\exshared.dll"), ""}, dfSharedFile | dfExistedBefore);
  // Program Manager.
  Exec("[CreateGroup(\"QvApp\")][ShowGroup(\"QvApp\",1)]");
  log.AppendStrings(ukProgmanEntry, {"QvApp", ""}, 0);
  Exec("[AddItem(" + p("app\\sub\\prog.exe") + ",\"Prog\",,)]");
  log.AppendStrings(ukProgmanEntry, {"QvApp", "Prog"}, 0);
  Exec("[AddItem(C:\\HELP.EXE,\"Help\",,)]");
  log.AppendStrings(ukProgmanEntry, {"QvApp", "Help"}, 0);
  // INI entries.
  WritePrivateProfileStringA("Mine", "k", "v", p("test.ini").c_str());
  log.AppendStrings(ukIniValue, {p("test.ini"), "Mine", "k"}, 0);
  WritePrivateProfileStringA("Shared", "k", "v", p("test.ini").c_str());
  log.AppendStrings(ukIniValue, {p("test.ini"), "Shared", "k"}, 0);
  WritePrivateProfileStringA("Whole", "x", "1", p("test.ini").c_str());
  WritePrivateProfileStringA("Whole", "y", "2", p("test.ini").c_str());
  log.AppendStrings(ukIniSection, {p("test.ini"), "Whole"}, 0);
  // Registry entries.
  std::string tree = std::string(kRegBase) + "\\Tree";
  SetSz(kHKCU, tree + "\\Sub\\Deeper", "v", "1");
  log.AppendStrings(ukRegKeyTree, {tree}, kHKCU);
  SetSz(kHKLM, std::string(kRegBaseLM) + "\\Product", "Path", app);
  log.AppendStrings(ukRegKeyTree, {kRegBaseLM}, kHKLM);
  SetSz(kHKCU, std::string(kRegBase) + "\\Val", "v", "x");
  log.AppendStrings(ukRegValue, {std::string(kRegBase) + "\\Val", "v"}, kHKCU);
  MakeKey(kHKCU, std::string(kRegBase) + "\\ValGone");  // its value is already gone
  log.AppendStrings(ukRegValue, {std::string(kRegBase) + "\\ValGone", "v"}, kHKCU);
  log.AppendStrings(ukRegKeyIfEmpty, {std::string(kRegBase) + "\\NotEmpty"}, kHKCU);
  MakeKey(kHKCU, std::string(kRegBase) + "\\Empty");
  log.AppendStrings(ukRegKeyIfEmpty, {std::string(kRegBase) + "\\Empty"}, kHKCU);
  // A shell notification, the uninstall-only entry and a kind from a later
  // version.
  log.AppendStrings(ukShellNotify, {p.root}, SHCNE_UPDATEDIR);
  log.AppendStrings(ukDeleteFile, {p("uonly.dat"), ""}, dfUninstallOnly);
  log.AppendStrings(9, {p("uonly.dat")}, 0);

  ASSERT_NE(Snapshot(p, shared, &pm), before);
  BoxAnswerer boxes("Uninstall", {});
  EXPECT_TRUE(log.Replay(false));
  EXPECT_TRUE(boxes.Finish().empty()) << boxes.Finish().at(0).text;
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_EQ(log.First(), nullptr);
  EXPECT_EQ(log.Last(), nullptr);

  // The unregistration was called; its log is the one file not there before.
  EXPECT_EQ(ReadWholeFile(marker), "unregister\n");
  DeleteFileA(marker.c_str());
  EXPECT_EQ(Snapshot(p, shared, &pm), before);
  EXPECT_EQ(ReadWholeFile(p("existed.txt")), "old contents");
  EXPECT_TRUE(FileThere(p("uonly.dat")));

  // A second replay has nothing left to do.
  EXPECT_TRUE(log.Replay(false));
  EXPECT_EQ(Snapshot(p, shared, &pm), before);
}

// Counts that are not numbers are taken as 2; the file stays.
TEST_F(Replay, SharedCountsThatCannotBeRead) {
  Paths p("junk");
  std::vector<std::pair<std::string, std::pair<DWORD, std::string>>> junk = {
      {"text.dll", {REG_SZ, std::string("abc", 4)}},
      {"multi.dll", {REG_MULTI_SZ, std::string("1\0\0", 3)}},
      {"bin5.dll", {REG_BINARY, std::string("\1\0\0\0\0", 5)}},
      {"short.dll", {REG_DWORD, std::string("\1\0", 2)}},
  };
  TUndoChanges log;
  for (auto& j : junk) {
    std::string f = p(j.first);
    WriteWholeFile(f, "x");
    SetValue(kHKLM, SharedDllsKey, f, j.second.first, j.second.second.data(),
             static_cast<DWORD>(j.second.second.size()));
    log.AppendStrings(ukDeleteFile, {f, ""}, dfSharedFile);
  }
  EXPECT_TRUE(log.Replay(false));
  for (auto& j : junk) {
    std::string data;
    EXPECT_EQ(SharedType(p(j.first), data), static_cast<DWORD>(REG_DWORD)) << j.first;
    EXPECT_EQ(data, std::string("\1\0\0\0", 4)) << j.first;
    EXPECT_TRUE(FileThere(p(j.first))) << j.first;
  }
  // No count at all: the file is not the replay's to delete.
  WriteWholeFile(p("nocount.dll"), "x");
  log.AppendStrings(ukDeleteFile, {p("nocount.dll"), ""}, dfSharedFile);
  EXPECT_TRUE(log.Replay(false));
  EXPECT_TRUE(FileThere(p("nocount.dll")));
}

// Uninstalling: the rollback-only rules do not apply, and a shared file
// whose count reaches zero goes only when the user says Yes.
TEST_F(Replay, UninstallAsksBeforeRemovingSharedFiles) {
  Paths p("uninst");
  std::string marker = p("selfreg.log");
  SetEnvironmentVariableA("QV_SELFREG_MARKER", marker.c_str());
  TUndoChanges log;
  for (const char* f : {"yes.dll", "no.dll"}) {
    WriteWholeFile(p(f), "shared");
    SetDword(kHKLM, SharedDllsKey, p(f), 1);
  }
  CopyTo(SelfRegDll(), p("reg.dll"));
  SetDword(kHKLM, SharedDllsKey, p("reg.dll"), 1);
  WriteWholeFile(p("existed.txt"), "x");
  WriteWholeFile(p("~pending.tmp"), "x");
  WriteWholeFile(p("uonly.dat"), "x");
  log.AppendStrings(ukDeleteFile, {p("existed.txt"), p("~pending.tmp")}, dfExistedBefore);
  log.AppendStrings(ukDeleteFile, {p("uonly.dat"), ""}, dfUninstallOnly);
  log.AppendStrings(ukDeleteFile, {p("reg.dll"), ""}, dfSharedFile | dfRegisteredServer);
  log.AppendStrings(ukDeleteFile, {p("no.dll"), ""}, dfSharedFile);
  log.AppendStrings(ukDeleteFile, {p("yes.dll"), ""}, dfSharedFile);

  BoxAnswerer boxes("Remove Shared File?", {"Yes", "No", "Yes"});
  EXPECT_TRUE(log.Replay(true));
  const auto& seen = boxes.Finish();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].text,
            "The system indicates that the following shared file is no longer in use by any "
            "programs. Would you like Uninstall to remove this shared file?\r\n\r\n" +
                p("yes.dll") +
                "\r\n\r\nIf any programs are still using this file and it is removed, those "
                "programs may not function properly. If you are unsure, choose No. Leaving the "
                "file on your system will not cause any harm.");
  EXPECT_EQ(seen[0].icon, qvui::MessageBoxIcon::kQuestion);
  EXPECT_EQ(seen[0].buttons, (std::vector<std::string>{"Yes", "No"}));
  EXPECT_NE(seen[1].text.find(p("no.dll")), std::string::npos);
  EXPECT_NE(seen[2].text.find(p("reg.dll")), std::string::npos);
  EXPECT_FALSE(FileThere(p("yes.dll")));
  EXPECT_TRUE(FileThere(p("no.dll")));
  std::string data;
  EXPECT_EQ(SharedType(p("no.dll"), data), 0u);  // the count is gone either way
  EXPECT_FALSE(FileThere(p("reg.dll")));
  EXPECT_EQ(ReadWholeFile(marker), "unregister\n");
  EXPECT_FALSE(FileThere(p("uonly.dat")));
  EXPECT_FALSE(FileThere(p("existed.txt")));
  EXPECT_TRUE(FileThere(p("~pending.tmp")));  // uninstalling takes the file itself
}

// A record whose handling raises: one box, the replay goes on, false.
TEST_F(Replay, ErrorGuardShowsOneBoxAndGoesOn) {
  Paths p("guard");
  TestProgman pm("guard");
  ASSERT_TRUE(pm.Start("[Groups]\r\nCount=1\r\n1=G\r\n[Group1]\r\nName=G\r\nItems=0\r\n"));
  TUndoChanges log;
  CreateDirectoryA(p("dir").c_str(), nullptr);
  WriteWholeFile(p("dir\\older.txt"), "x");
  WriteWholeFile(p("newer.txt"), "x");
  log.AppendStrings(ukRemoveDir, {p("dir")}, 0);
  log.AppendStrings(ukDeleteFile, {p("dir\\older.txt"), ""}, 0);
  log.AppendStrings(ukProgmanEntry, {"NoSuchGroup", "Item"}, 0);  // ShowGroup refused: no box
  log.AppendStrings(ukProgmanEntry, {"G", "NoSuchItem"}, 0);      // DeleteItem refused: raises
  log.AppendStrings(ukDeleteFile, {p("newer.txt"), ""}, 0);
  BoxAnswerer boxes("Uninstall", {});
  EXPECT_FALSE(log.Replay(false));
  const auto& seen = boxes.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "DDE: Command was not successful.");
  EXPECT_EQ(seen[0].icon, qvui::MessageBoxIcon::kHand);
  EXPECT_EQ(seen[0].buttons, std::vector<std::string>{"OK"});
  EXPECT_FALSE(FileThere(p("newer.txt")));
  EXPECT_FALSE(FileThere(p("dir")));
  EXPECT_TRUE(pm.HasGroup("G"));
  // Nothing is left for a second replay.
  EXPECT_TRUE(log.Replay(false));
}

// A group whose description the server will not give: the request error is
// shown, the items before it were still deleted.
TEST_F(Replay, GroupRecordWithItemsLeft) {
  TestProgman pm("groupleft");
  ASSERT_TRUE(pm.Start(
      "[Groups]\r\nCount=1\r\n1=G\r\n[Group1]\r\nName=G\r\nItems=2\r\nName1=Mine\r\n"
      "Command1=A.EXE\r\nName2=Theirs\r\nCommand2=B.EXE\r\n"));
  TUndoChanges log;
  log.AppendStrings(ukProgmanEntry, {"G", ""}, 0);
  log.AppendStrings(ukProgmanEntry, {"G", "Mine"}, 0);
  BoxAnswerer boxes("Uninstall", {});
  EXPECT_TRUE(log.Replay(false));
  EXPECT_TRUE(boxes.Finish().empty());
  EXPECT_EQ(pm.ItemCount("G"), 1);  // the group still holds another item: it stays
}

// The DDE client starts at the first Program Manager record: when it
// cannot, that record fails with its box, the next one starts it again, and
// every other record is still taken back.
TEST_F(Replay, DdeThatCannotStartFailsOnlyTheRecordThatNeedsIt) {
  Paths p("init");
  TestProgman pm("init");
  ASSERT_TRUE(pm.Start("[Groups]\r\nCount=1\r\n1=G\r\n[Group1]\r\nName=G\r\nItems=1\r\nName1=Mine\r\n"
                       "Command1=A.EXE\r\n"));
  WriteWholeFile(p("older.txt"), "x");
  WriteWholeFile(p("newer.txt"), "x");
  TUndoChanges log;
  log.AppendStrings(ukDeleteFile, {p("older.txt"), ""}, 0);
  log.AppendStrings(ukProgmanEntry, {"G", "Mine"}, 0);
  log.AppendStrings(ukProgmanEntry, {"G", "Mine"}, 0);
  log.AppendStrings(ukDeleteFile, {p("newer.txt"), ""}, 0);
  TDDE::FailNextInitialize = true;
  BoxAnswerer boxes("Uninstall", {});
  EXPECT_FALSE(log.Replay(false));
  const auto& seen = boxes.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "DDE: Unable to initialize DDE (code: 16390).");
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_FALSE(FileThere(p("older.txt")));
  EXPECT_FALSE(FileThere(p("newer.txt")));
  EXPECT_EQ(pm.ItemCount("G"), 0);  // the second record's client started
  // A replay without Program Manager records starts no DDE client at all.
  TDDE::FailNextInitialize = true;
  WriteWholeFile(p("alone.txt"), "x");
  log.AppendStrings(ukDeleteFile, {p("alone.txt"), ""}, 0);
  EXPECT_TRUE(log.Replay(false));
  EXPECT_FALSE(FileThere(p("alone.txt")));
  EXPECT_TRUE(TDDE::FailNextInitialize);
  TDDE::FailNextInitialize = false;
}

// Newest first: links before their group folder, files before their
// directory; a directory holding something else stays, without a message.
TEST_F(Replay, NewestFirstAndDirectoriesThatStay) {
  Paths p("order");
  TUndoChanges log;
  std::string programs = p("Programs");
  CreateDirectoryA(programs.c_str(), nullptr);
  log.AppendStrings(ukShellNotify, {programs}, SHCNE_UPDATEDIR);
  std::string group = programs + "\\My Group";
  CreateDirectoryA(group.c_str(), nullptr);
  log.AppendStrings(ukRemoveDir, {group}, 1);
  for (const char* l : {"One.lnk", "Two.lnk"}) {
    WriteWholeFile(group + "\\" + l, "link");
    log.AppendStrings(ukDeleteFile, {group + "\\" + l, ""}, dfNotifyShell);
  }
  std::string busy = p("busy");
  CreateDirectoryA(busy.c_str(), nullptr);
  log.AppendStrings(ukRemoveDir, {busy}, 0);
  WriteWholeFile(busy + "\\mine.txt", "x");
  log.AppendStrings(ukDeleteFile, {busy + "\\mine.txt", ""}, 0);
  WriteWholeFile(busy + "\\foreign.txt", "not ours");

  BoxAnswerer boxes("Uninstall", {});
  EXPECT_FALSE(log.Replay(false));
  EXPECT_TRUE(boxes.Finish().empty());
  EXPECT_FALSE(FileThere(group));
  EXPECT_TRUE(FileThere(programs));
  EXPECT_TRUE(FileThere(busy + "\\foreign.txt"));
  EXPECT_FALSE(FileThere(busy + "\\mine.txt"));
}

// A key-tree record never deletes a root, nor a key that every program
// shares, from whatever log it comes.
TEST_F(Replay, RegistryTreesOfEveryProgramAreNeverDeleted) {
  SetSz(kHKCU, std::string(kRegBase) + "\\Guard", "v", "1");
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  SetSz(kHKCU, run, "QvReplayGuard", "guard.exe");
  TUndoChanges log;
  log.AppendStrings(ukRegKeyTree, {""}, kHKCU);
  log.AppendStrings(ukRegKeyTree, {"\\"}, kHKCU);
  log.AppendStrings(ukRegKeyTree, {std::string(kRegBase)}, 0x12345678u);
  log.AppendStrings(ukRegKeyTree, {"Software"}, kHKCU);
  log.AppendStrings(ukRegKeyTree, {run + "\\"}, kHKCU);
  EXPECT_FALSE(log.Replay(false));
  {
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, run.c_str(), 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(k, "QvReplayGuard", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    RegDeleteValueA(k, "QvReplayGuard");
    RegCloseKey(k);
  }
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kRegBase) + "\\Guard").c_str(), 0,
                          KEY_READ, &k),
            ERROR_SUCCESS);
  if (k) RegCloseKey(k);
  log.AppendStrings(ukRegKeyTree, {kRegBase}, kHKCU);
  EXPECT_TRUE(log.Replay(false));
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kRegBase, 0, KEY_READ, &k), ERROR_SUCCESS);
}
