// The INI, registry and program icon steps on real Wine state, called
// directly with a test-side progress: what they write (read back through
// Wine's own profile, registry and shell link functions), the log records
// they leave, their questions, cancel and Abort with rollback, and the
// uninstall of their records.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "install/icons.h"
#include "install/inireg.h"
#include "install/installcontext.h"
#include "install/journalfile.h"
#include "run/globals.h"
#include "snapshot.h"
#include "tests/testdata.h"
#include "tests/wine/box_answerer.h"
#include "tests/wine/dde_testserver.h"
#include "tests/wine/entries_testutil.h"
#include "tests/winebench/shellevents.h"
#include "tools/scriptwriter/scriptwriter.h"
#include "undo/journal.h"
#include "undo/undolog.h"

using qvtest::BoxAnswerer;
using qvtest::FileThere;
using qvtest::ReadWholeFile;
using qvtest::TmpDir;
using qventries::IniGet;
using qventries::Reg;
using qventries::ShellFolder;

namespace {

constexpr uint32_t kHKCR = 0x80000000u, kHKCU = 0x80000001u, kHKLM = 0x80000002u,
                   kHKU = 0x80000003u, kHKPD = 0x80000004u, kHKCC = 0x80000005u;
const char* const kRetrySentence =
    "Click Retry to try again, Ignore to skip this entry, or Abort to cancel installation.";

// The install window as the steps see it: counts the check points and the
// progress, and cancels at the chosen check point.
class TestProgress : public TInstallProgress {
 public:
  uint64_t progress = 0;
  int checks = 0;
  int cancel_at = 0;  // 0: never
  void SetStatusText(const std::string&) override {}
  void SetFileNameText(const std::string&) override {}
  void AddProgress(uint32_t amount) override { progress += amount; }
  uint32_t ProgressPosition() const override { return static_cast<uint32_t>(progress); }
  void SetProgressPosition(uint32_t position) override { progress = position; }
  void CheckCancel() override {
    if (++checks == cancel_at) throw EAbort();
  }
};

struct StepRun {
  TInstallTransaction transaction;
  TUndoChanges& log = transaction.Log();
  TestProgress progress;
  TInstallContext ctx{transaction, progress};
};

// The log as "kind:s0|s1|s2:param" lines (strings as the record holds them).
std::vector<std::string> Records(const TUndoChanges& log) {
  std::vector<std::string> out;
  for (const UndoRecord* r = log.First(); r != nullptr; r = r->Next) {
    std::string s = std::to_string(r->Kind) + ":";
    const char* p = r->Data();
    for (uint16_t i = 0; i < r->DataLength; ++i) s += p[i] == '\0' ? '|' : p[i];
    char param[16];
    snprintf(param, sizeof param, ":%X", static_cast<unsigned>(r->Param));
    out.push_back(s + param);
  }
  return out;
}

template <typename Rec>
Rec FromBytes(const sw::Bytes& b) {
  Rec r;
  std::copy(b.begin(), b.end(), r.Raw);
  return r;
}
void AddIni(const std::string& file, const std::string& section, const std::string& key,
            const std::string& value, uint8_t flags) {
  Script.IniEntries.push_back(
      FromBytes<SetupIniEntry>(sw::EncodeIniEntry({file, section, key, value, flags})));
}
void AddReg(const sw::RegistrySpec& r) {
  Script.RegistryEntries.push_back(FromBytes<SetupRegistryEntry>(sw::EncodeRegistryEntry(r)));
}
void AddIcon(const sw::IconSpec& i) {
  Script.IconEntries.push_back(FromBytes<SetupIconEntry>(sw::EncodeIconEntry(i)));
}

bool FolderExistsForTest(const std::string& p) {
  DWORD a = GetFileAttributesA(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HKEY RootOf(uint32_t r) { return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<int32_t>(r))); }

bool KeyExists(uint32_t root, const std::string& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(RootOf(root), key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// "type:bytes" of a value, or "" when it is missing.
std::string RegGet(uint32_t root, const std::string& key, const std::string& name) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(RootOf(root), key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "";
  BYTE data[600];
  DWORD type = 0, len = sizeof data;
  LONG res = RegQueryValueExA(k, name.c_str(), nullptr, &type, data, &len);
  RegCloseKey(k);
  if (res != ERROR_SUCCESS) return "";
  return std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), len);
}

void RegPut(uint32_t root, const std::string& key, const std::string& name, const std::string& v) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(RootOf(root), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                 static_cast<DWORD>(v.size() + 1));
  RegCloseKey(k);
}

class EntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Script = SetupScript();
    app_ = TmpDir() + "App " + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(app_.c_str(), nullptr);
    AppDir = app_;
    SourceDir = TmpDir() + "src";
    WinDir = "C:\\windows";
    SystemDir = "C:\\windows\\system32";
    GroupName = "Qv Group";
    IsAdmin = false;
  }
  std::string app_;
};

// A run killed around a CREATE_NEW: the journal names the file before the
// call, and a name that was taken is withdrawn right after it. Recovery
// deletes a file named so only while it is empty (the run made it and was
// killed before it wrote), never one found taken, and the file noted once
// made whatever it holds.
TEST_F(EntriesTest, RecoveryDeletesOnlyTheFilesTheKilledRunMade) {
  const std::string made = app_ + "\\MADE.BIN", full = app_ + "\\FULL.BIN", taken = app_ + "\\TAKEN.BIN",
                    written = app_ + "\\WRITTEN.BIN";
  ASSERT_TRUE(testdata::WriteWholeFile(made, ""));
  ASSERT_TRUE(testdata::WriteWholeFile(full, "the user's"));
  ASSERT_TRUE(testdata::WriteWholeFile(taken, ""));
  ASSERT_TRUE(testdata::WriteWholeFile(written, "half of it"));
  TJournalHeader h;
  h.AppName = "Killed";
  h.AppDir = app_;
  h.ProcessId = 0x7FFFFFF0u;
  std::string journal = EncodeJournalStart(h);
  auto note = [&](uint8_t type, const std::string& path) {
    TJournalRecord r;
    r.Type = type;
    r.Path = path;
    journal += EncodeJournalFrame(r);
  };
  note(jrCreating, taken);
  note(jrWithdraw, "");
  note(jrCreating, written);
  note(jrNewFile, written);
  note(jrCreating, full);  // killed here: the name taken, or the file the user's
  note(jrCreating, made);  // killed here: made, nothing written yet
  const std::string name = WinDir + "\\QVJ99998.JNL";
  ASSERT_TRUE(testdata::WriteWholeFile(name, journal));
  BoxAnswerer boxes("Setup", {"OK"});
  EXPECT_EQ(RecoverInterruptedInstallations([&](const TJournalHeader& j) { return j.AppDir == app_; }), 1);
  EXPECT_EQ(boxes.Finish().size(), 1u);
  EXPECT_FALSE(FileExists(made));
  EXPECT_FALSE(FileExists(written));
  EXPECT_TRUE(FileExists(full));
  EXPECT_TRUE(FileExists(taken));
  EXPECT_FALSE(FileExists(name));
}

// Every INI flag, WIN.INI for an empty file name, constants in every text,
// a write that fails (the file name is a directory) answered Retry and
// then Ignore, texts that would not read back refused the same way, a check
// point after every entry, the records, and the uninstall of the records.
TEST_F(EntriesTest, IniEntriesWriteRecordAskAndUninstallWhatTheFlagsSay) {
  const std::string ini = app_ + "\\app.ini";
  const std::string dir_ini = app_ + "\\dir.ini";
  ASSERT_TRUE(CreateDirectoryA(dir_ini.c_str(), nullptr));
  AddIni("{app}\\app.ini", "Paths", "Home", "{app}\\bin", 0x01);
  AddIni("{app}\\app.ini", "{app}", "k{win}", "v", 0x02);
  AddIni("", "QvEntriesTest", "Key", "{sys}", 0x03);
  AddIni("{app}\\app.ini", "Paths", "Plain", "x", 0x00);
  AddIni("{app}\\dir.ini", "S", "K", "V", 0x01);
  AddIni("{app}\\app.ini", "Paths", "a=b", "v", 0x01);
  AddIni("{app}\\app.ini", "Br]acket", "K", "v", 0x01);
  AddIni("{app}\\app.ini", "Paths", "Last", "end", 0x02);

  StepRun run;
  BoxAnswerer boxes("Error", {"Retry", "Ignore", "Ignore", "Ignore"});
  CreateIniEntries(run.ctx);
  const auto& seen = boxes.Finish();

  EXPECT_EQ(IniGet(ini, "Paths", "Home"), app_ + "\\bin");
  EXPECT_EQ(IniGet(ini, app_, "kC:\\windows"), "v");
  EXPECT_EQ(IniGet("", "QvEntriesTest", "Key"), "C:\\windows\\system32");
  EXPECT_EQ(IniGet(ini, "Paths", "Plain"), "x");
  EXPECT_EQ(IniGet(ini, "Paths", "Last"), "end");
  EXPECT_EQ(IniGet(ini, "Paths", "a"), "<none>");   // not written as a=b=v
  EXPECT_EQ(IniGet(ini, "Br", "K"), "<none>");
  const std::string q = "Error creating INI entry in file " + dir_ini + "\r\n\r\n" + kRetrySentence;
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].text, q);
  EXPECT_EQ(seen[1].text, q);
  EXPECT_EQ(seen[0].icon, qvui::MessageBoxIcon::kExclamation);
  EXPECT_EQ(seen[0].buttons, (std::vector<std::string>{"Abort", "Retry", "Ignore"}));
  EXPECT_EQ(seen[2].text, "Error creating INI entry in file " + ini + "\r\n\r\n" + kRetrySentence);
  EXPECT_EQ(run.progress.checks, 8);
  EXPECT_EQ(run.progress.progress, 1000u);
  EXPECT_EQ(Records(run.log),
            (std::vector<std::string>{"3:" + ini + "|Paths|Home|:0", "4:" + ini + "|" + app_ + "|:0",
                                      "3:|QvEntriesTest|Key|:0", "4:" + ini + "|Paths|:0"}));

  // Uninstall without the last record: a key another program added to the
  // section stays, and so do the entries without a flag.
  WritePrivateProfileStringA("Paths", "Other", "1", ini.c_str());
  run.log.FreeRecord(run.log.Last());
  EXPECT_TRUE(run.log.Replay(true));
  EXPECT_EQ(IniGet(ini, "Paths", "Home"), "<none>");
  EXPECT_EQ(IniGet(ini, "Paths", "Other"), "1");
  EXPECT_EQ(IniGet(ini, "Paths", "Plain"), "x");
  EXPECT_EQ(IniGet(ini, app_, "kC:\\windows"), "<none>");
  EXPECT_EQ(IniGet("", "QvEntriesTest", "Key"), "<none>");
  EXPECT_EQ(ReadWholeFile("C:\\windows\\win.ini").find("QvEntriesTest"), std::string::npos);
}

// Abort on a failing INI entry ends the step at once; a confirmed cancel
// at the check point after an entry does too, after recording it. The
// rollback then takes every written key and section back; the INI file
// made for them stays, empty.
TEST_F(EntriesTest, IniAbortAndCancelStopTheStepAndRollBack) {
  const std::string ini = app_ + "\\app.ini";
  qvsnap::SnapshotOptions opt;
  opt.fileRoots = {app_};
  opt.registryRoots = {};
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot(opt);
  const std::vector<std::string> left = {"file added: " + ini + " (0 bytes)"};
  AddIni("{app}\\app.ini", "One", "K", "1", 0x01);
  AddIni("{app}\\app.ini", "Two", "K", "2", 0x02);
  AddIni("{app}\\app.ini", "Three", "K=", "3", 0x01);
  AddIni("{app}\\app.ini", "Four", "K", "4", 0x01);
  {
    StepRun run;
    run.progress.cancel_at = 2;
    EXPECT_THROW(CreateIniEntries(run.ctx), EAbort);
    EXPECT_EQ(IniGet(ini, "Two", "K"), "2");
    EXPECT_EQ(IniGet(ini, "Four", "K"), "<none>");
    EXPECT_EQ(Records(run.log).size(), 2u);
    EXPECT_EQ(run.progress.progress, 0u);
    EXPECT_TRUE(run.log.Replay(false));
    EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), left);
  }
  {
    StepRun run;
    BoxAnswerer boxes("Error", {"Abort"});
    EXPECT_THROW(CreateIniEntries(run.ctx), EAbort);
    EXPECT_EQ(boxes.Finish().size(), 1u);
    EXPECT_EQ(run.progress.checks, 2);  // no check point after the aborted entry
    EXPECT_EQ(IniGet(ini, "Four", "K"), "<none>");
    EXPECT_TRUE(run.log.Replay(false));
    EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), left);
  }
}

// Each root the script can name, each value type, constants expanded in
// names and strings but never in DWORD or binary data, both uninstall flags
// and the rule when both are set, subkeys that name no key below a root and
// roots that are none (each asked about and skipped with Ignore, nothing
// written into a root), the entries after them still written; then the
// uninstall of the records, which leaves what other programs added.
TEST_F(EntriesTest, RegistryEntriesWriteRecordRefuseBadKeysAndUninstallWhatTheFlagsSay) {
  sw::RegistrySpec str = Reg(kHKCU, "Software\\QvEntries\\Values", "Str{app}", 1, 0x01);
  str.StringData = "{app}\\x;{sys}";
  AddReg(str);
  sw::RegistrySpec dw = Reg(kHKLM, "Software\\QvEntriesLM", "Dw", 2, 0x01);
  dw.NumberData = 0x7B707061;  // the bytes "app{": never expanded
  AddReg(dw);
  sw::RegistrySpec bin = Reg(kHKCR, "QvEntries.Test", "Bin", 3, 0x02);
  bin.BinaryData = {'{', 'a', 'p', 'p', '}', 0, 0xFF};
  AddReg(bin);
  AddReg(Reg(kHKCU, "Software\\QvEntries\\Empty", "ignored", 0, 0x01));
  AddReg(Reg(kHKU, ".DEFAULT\\Software\\QvEntries", "Zero", 3, 0x03));
  sw::RegistrySpec cc = Reg(kHKCC, "Software\\QvEntries", "", 1, 0x00);
  cc.StringData = "default";
  AddReg(cc);
  AddReg(Reg(kHKCU, "", "Bad", 1, 0x01));
  AddReg(Reg(kHKCU, "\\\\", "Bad", 1, 0x01));
  AddReg(Reg(kHKPD, "Software\\QvEntries", "Perf", 1, 0x01));  // Wine opens nothing there
  AddReg(Reg(0x00012345u, "Software\\QvEntries", "NoRoot", 1, 0x01));
  sw::RegistrySpec after = Reg(kHKCU, "Software\\QvEntries\\Values", "After", 1, 0x01);
  after.StringData = "{src}";
  AddReg(after);
  AddReg(Reg(kHKCU, "Software\\QvEntries\\Odd", "V", 0, 0x01));
  Script.RegistryEntries.back().Raw[436] = 7;  // a type the authoring tool never writes

  StepRun run;
  BoxAnswerer boxes("Error", {"Ignore", "Ignore", "Retry", "Ignore", "Ignore"});
  CreateRegistryEntries(run.ctx);
  const auto& seen = boxes.Finish();

  EXPECT_EQ(RegGet(kHKCU, "Software\\QvEntries\\Values", "Str" + app_),
            "1:" + app_ + "\\x;C:\\windows\\system32" + std::string(1, '\0'));
  EXPECT_EQ(RegGet(kHKLM, "Software\\QvEntriesLM", "Dw"), "4:app{");
  EXPECT_EQ(RegGet(kHKCR, "QvEntries.Test", "Bin"), "3:" + std::string("{app}\0\xFF", 7));
  EXPECT_EQ(RegGet(kHKLM, "Software\\Classes\\QvEntries.Test", "Bin").size(), 9u);
  EXPECT_TRUE(KeyExists(kHKCU, "Software\\QvEntries\\Empty"));
  EXPECT_EQ(RegGet(kHKCU, "Software\\QvEntries\\Empty", "ignored"), "");
  EXPECT_EQ(RegGet(kHKU, ".DEFAULT\\Software\\QvEntries", "Zero"), "3:");
  EXPECT_EQ(RegGet(kHKCC, "Software\\QvEntries", ""), "1:default" + std::string(1, '\0'));
  EXPECT_EQ(RegGet(kHKCU, "", "Bad"), "");
  EXPECT_EQ(RegGet(kHKCU, "Software\\QvEntries\\Values", "After"),
            "1:" + SourceDir + std::string(1, '\0'));
  EXPECT_TRUE(KeyExists(kHKCU, "Software\\QvEntries\\Odd"));
  EXPECT_EQ(RegGet(kHKCU, "Software\\QvEntries\\Odd", "V"), "");

  std::vector<std::string> texts;
  for (const auto& b : seen) texts.push_back(b.text);
  auto q = [](const std::string& m) { return m + ".\r\n\r\n" + kRetrySentence; };
  EXPECT_EQ(texts, (std::vector<std::string>{
                       q("Error creating registry key: "), q("Error creating registry key: \\\\"),
                       q("Error creating registry key: Software\\QvEntries"),
                       q("Error creating registry key: Software\\QvEntries"),
                       q("Error creating registry key: Software\\QvEntries")}));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].icon, qvui::MessageBoxIcon::kExclamation);
  EXPECT_EQ(run.progress.checks, 0);
  EXPECT_EQ(run.progress.progress, 1000u);
  EXPECT_EQ(Records(run.log),
            (std::vector<std::string>{
                "6:Software\\QvEntries|:80000001",  // made on the way: goes when empty
                "7:Software\\QvEntries\\Values|Str" + app_ + "|:80000001",
                "7:Software\\QvEntriesLM|Dw|:80000002", "5:QvEntries.Test|:80000000",
                "6:Software\\QvEntries\\Empty|:80000001",
                "7:.DEFAULT\\Software\\QvEntries|Zero|:80000003",
                "7:Software\\QvEntries\\Values|After|:80000001",
                "6:Software\\QvEntries\\Odd|:80000001"}));

  // Other programs add to the same keys before the uninstall.
  RegPut(kHKCU, "Software\\QvEntries\\Values", "Foreign", "stays");
  RegPut(kHKCU, "Software\\QvEntries\\Empty", "Gained", "stays");
  RegPut(kHKCR, "QvEntries.Test\\Sub\\Deeper", "x", "goes with the tree");
  RegPut(kHKCR, "QvEntries.Test\\Sub2", "y", "goes with the tree");
  EXPECT_TRUE(run.log.Replay(true));
  EXPECT_EQ(RegGet(kHKCU, "Software\\QvEntries\\Values", "Str" + app_), "");
  EXPECT_EQ(RegGet(kHKCU, "Software\\QvEntries\\Values", "After"), "");
  EXPECT_EQ(RegGet(kHKCU, "Software\\QvEntries\\Values", "Foreign"), "1:stays" + std::string(1, '\0'));
  EXPECT_FALSE(KeyExists(kHKLM, "Software\\QvEntriesLM"));
  EXPECT_FALSE(KeyExists(kHKCR, "QvEntries.Test"));
  EXPECT_TRUE(KeyExists(kHKCU, "Software\\QvEntries\\Empty"));
  EXPECT_FALSE(KeyExists(kHKCU, "Software\\QvEntries\\Odd"));
  EXPECT_FALSE(KeyExists(kHKU, ".DEFAULT\\Software\\QvEntries"));
  EXPECT_EQ(RegGet(kHKCC, "Software\\QvEntries", ""), "1:default" + std::string(1, '\0'));
}

// Abort on a failing registry entry ends the step at once; the rollback
// then leaves the registry as it was before the step.
TEST_F(EntriesTest, RegistryAbortRollsBackToTheStateBefore) {
  qvsnap::SnapshotOptions opt;
  opt.fileRoots = {app_};
  opt.registryRoots = {{HKEY_CURRENT_USER, "HKCU", "Software"}};
  RegPut(kHKCU, "Software\\QvAbort\\Kept", "Before", "1");
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot(opt);

  sw::RegistrySpec a = Reg(kHKCU, "Software\\QvAbort\\Kept", "New", 1, 0x01);
  a.StringData = "{app}";
  AddReg(a);
  AddReg(Reg(kHKCU, "Software\\QvAbort\\Tree\\Deep", "D", 2, 0x02));
  AddReg(Reg(kHKCU, "Software\\QvAbort\\KeyOnly", "", 0, 0x01));
  AddReg(Reg(kHKCU, "", "Bad", 1, 0x01));
  AddReg(Reg(kHKCU, "Software\\QvAbort\\Never", "N", 1, 0x01));
  StepRun run;
  BoxAnswerer boxes("Error", {"Abort"});
  EXPECT_THROW(CreateRegistryEntries(run.ctx), EAbort);
  EXPECT_EQ(boxes.Finish().size(), 1u);
  EXPECT_FALSE(KeyExists(kHKCU, "Software\\QvAbort\\Never"));
  // The key that the tree's entry made on the way is recorded too.
  EXPECT_EQ(Records(run.log)[1], "6:Software\\QvAbort\\Tree|:80000001");
  EXPECT_EQ(Records(run.log).size(), 4u);
  EXPECT_TRUE(KeyExists(kHKCU, "Software\\QvAbort\\Tree\\Deep"));
  EXPECT_TRUE(run.log.Replay(false));
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), std::vector<std::string>{});
}

// An original whose replacement failed twice over (the new file could not
// take its place, and the original could not go back either, here because
// a folder took the name meanwhile) is never deleted: a commit puts it back
// once the name is free, else leaves it under its temporary name; a
// rollback puts it back as any other.
TEST_F(EntriesTest, AnOriginalThatCouldNotGoBackIsNeverDeleted) {
  const std::string dest = app_ + "\\orig.txt";
  auto strand = [&](TInstallTransaction& t) {
    EXPECT_TRUE(qvtest::WriteWholeFile(dest, "original"));
    const std::string safety = t.MoveAside(dest, GetFileAttributesA(dest.c_str()));
    EXPECT_FALSE(safety.empty());
    EXPECT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
    EXPECT_FALSE(t.PutBackLast());
    return safety;
  };
  {
    TInstallTransaction t;
    strand(t);
    RemoveDirectoryA(dest.c_str());
    t.Commit("");
    EXPECT_EQ(ReadWholeFile(dest), "original") << "commit with the name free";
  }
  {
    TInstallTransaction t;
    DeleteFileA(dest.c_str());
    const std::string safety = strand(t);
    t.Commit("");
    EXPECT_EQ(ReadWholeFile(safety), "original") << "commit with the name taken";
    RemoveDirectoryA(dest.c_str());
    DeleteFileA(safety.c_str());
  }
  {
    TInstallTransaction t;
    strand(t);
    RemoveDirectoryA(dest.c_str());
    t.Rollback();
    EXPECT_EQ(ReadWholeFile(dest), "original") << "rollback";
  }
}

// A link's fields as IShellLinkA reads them back.
struct LinkFields {
  std::string path, args, dir, icon, description;
  int icon_index = -1;
};
LinkFields ReadLink(const std::string& file) {
  LinkFields f;
  IShellLinkA* link = nullptr;
  IPersistFile* pf = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return f;
  std::wstring w(file.begin(), file.end());
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf))) &&
      SUCCEEDED(pf->Load(w.c_str(), STGM_READ))) {
    char buf[MAX_PATH];
    if (SUCCEEDED(link->GetPath(buf, sizeof buf, nullptr, 0))) f.path = buf;
    if (SUCCEEDED(link->GetArguments(buf, sizeof buf))) f.args = buf;
    if (SUCCEEDED(link->GetWorkingDirectory(buf, sizeof buf))) f.dir = buf;
    if (SUCCEEDED(link->GetIconLocation(buf, sizeof buf, &f.icon_index))) f.icon = buf;
    if (SUCCEEDED(link->GetDescription(buf, sizeof buf))) f.description = buf;
  }
  if (pf != nullptr) pf->Release();
  link->Release();
  return f;
}

void AddTwoIcons() {
  AddIcon({"My App", "{app}\\app.exe", "/x {app}", "{app}", "{sys}\\shell32.dll", 3});
  AddIcon({"Readme", "{win}\\notepad.exe", "", "", "", 0});
}

// Wine's shell starts winemenubuilder.exe for every link saved below the
// Start Menu, and that helper opens the link without delete sharing to read
// it; it may still be at work when the save has returned. A rollback that
// deletes the links waits until no such helper runs, or the delete fails
// with a sharing violation now and then.
bool WaitForLinkReaders() {
  return qvui::WaitUntil([] {
    TFileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.valid()) return false;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32First(snap.get(), &pe); ok; ok = Process32Next(snap.get(), &pe))
      if (lstrcmpiA(pe.szExeFile, "winemenubuilder.exe") == 0) return false;
    return true;
  }, 60000);
}

class ShellIconsTest : public EntriesTest {
 protected:
  void SetUp() override {
    EntriesTest::SetUp();
    CoInitialize(nullptr);
    WriteWholeFile(app_ + "\\app.exe", "MZ");
  }
  void TearDown() override { CoUninitialize(); }
  static void WriteWholeFile(const std::string& p, const std::string& t) { qvtest::WriteWholeFile(p, t); }
};

// On the version-4 shell: the group folder below the user's Programs
// folder (the common one for an administrator on NT), one link per entry
// with every field, the records with the shell notifications, a folder that
// existed kept and recorded, and the rollback that leaves the Start Menu as
// it was.
TEST_F(ShellIconsTest, LinksInTheGroupFolderRecordedAndRolledBack) {
  const bool nt = (GetVersion() & 0x80000000u) == 0;
  for (bool admin : {false, true}) {
    SCOPED_TRACE(admin ? "administrator" : "user");
    if (admin && !nt) continue;  // the 95 family has no common folders of its own
    IsAdmin = admin;
    const std::string programs = admin ? ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs")
                                       : ShellFolder(HKEY_CURRENT_USER, "Programs");
    ASSERT_FALSE(programs.empty());
    qvsnap::SnapshotOptions opt;
    opt.fileRoots = {programs};
    opt.registryRoots = {};
    const qvsnap::Snapshot before = qvsnap::TakeSnapshot(opt);
    Script.IconEntries.clear();
    AddTwoIcons();
    StepRun run;
    qvtest::ShellEvents shell;
    ASSERT_TRUE(shell.Registered());
    CreateProgramIcons(run.ctx);

    const std::string group = programs + "\\Qv Group";
    const std::string link1 = group + "\\My App.lnk";
    const std::string link2 = group + "\\Readme.lnk";
    // The shell hears of the new folder, each link and the Programs folder.
    EXPECT_EQ(shell.Take(), (std::vector<std::string>{"MKDIR " + group, "CREATE " + link1,
                                                      "CREATE " + link2, "UPDATEDIR " + programs}));
    LinkFields f = ReadLink(link1);
    EXPECT_EQ(f.path, app_ + "\\app.exe");
    EXPECT_EQ(f.args, "/x " + app_);
    EXPECT_EQ(f.dir, app_);
    EXPECT_EQ(f.icon, "C:\\windows\\system32\\shell32.dll");
    EXPECT_EQ(f.icon_index, 3);
    EXPECT_EQ(f.description, "My App");
    f = ReadLink(link2);
    EXPECT_EQ(f.path, "C:\\windows\\notepad.exe");
    EXPECT_EQ(f.args, "");
    EXPECT_EQ(f.dir, "");
    EXPECT_EQ(f.icon, "");
    EXPECT_EQ(f.description, "Readme");
    EXPECT_EQ(run.progress.progress, 2000u);
    EXPECT_EQ(run.progress.checks, 0);
    EXPECT_EQ(Records(run.log),
              (std::vector<std::string>{"8:" + programs + "|:1000", "0:" + group + "|:1",
                                        "1:" + link1 + "|:10", "1:" + link2 + "|:10"}));
    ASSERT_TRUE(WaitForLinkReaders());
    EXPECT_TRUE(run.log.Replay(false));
    // ... and of their removal, newest first.
    EXPECT_EQ(shell.Take(), (std::vector<std::string>{"DELETE " + link2, "DELETE " + link1,
                                                      "RMDIR " + group, "UPDATEDIR " + programs}));
    EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), std::vector<std::string>{});

    // A group folder that exists is used as it is, still recorded, and
    // stays after the rollback with what was in it before.
    ASSERT_TRUE(CreateDirectoryA(group.c_str(), nullptr));
    qvtest::WriteWholeFile(group + "\\Other.lnk", "not ours");
    const qvsnap::Snapshot with_folder = qvsnap::TakeSnapshot(opt);
    StepRun again;
    CreateProgramIcons(again.ctx);
    EXPECT_EQ(Records(again.log).size(), 4u);
    EXPECT_EQ(Records(again.log)[1], "0:" + group + "|:1");
    EXPECT_EQ(ReadLink(link2).path, "C:\\windows\\notepad.exe");
    ASSERT_TRUE(WaitForLinkReaders());
    EXPECT_FALSE(again.log.Replay(false));  // the folder is not empty: it stays
    EXPECT_EQ(qvsnap::Diff(with_folder, qvsnap::TakeSnapshot(opt)), std::vector<std::string>{});
    DeleteFileA((group + "\\Other.lnk").c_str());
    RemoveDirectoryA(group.c_str());
  }
}

// A group name whose first level does not exist cannot be made: the step
// fails with the folder's message, and the rollback leaves nothing.
TEST_F(ShellIconsTest, NestedGroupWithoutItsParentFailsAndRollsBack) {
  const std::string programs = ShellFolder(HKEY_CURRENT_USER, "Programs");
  GroupName = "Qv Missing\\Utilities";
  AddTwoIcons();
  qvsnap::SnapshotOptions opt;
  opt.fileRoots = {programs};
  opt.registryRoots = {};
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot(opt);
  StepRun run;
  try {
    CreateProgramIcons(run.ctx);
    ADD_FAILURE() << "no failure";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Setup was unable to create the Folder - " + programs + "\\Qv Missing\\Utilities");
  }
  EXPECT_EQ(Records(run.log), (std::vector<std::string>{"8:" + programs + "|:1000"}));
  EXPECT_TRUE(run.log.Replay(false));
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), std::vector<std::string>{});

  // A group without a name would be the Programs folder itself: refused.
  GroupName = "";
  StepRun no_name;
  EXPECT_THROW(CreateProgramIcons(no_name.ctx), Exception);
  EXPECT_EQ(Records(no_name.log), (std::vector<std::string>{"8:" + programs + "|:1000"}));
  EXPECT_TRUE(no_name.log.Replay(false));
  EXPECT_TRUE(FolderExistsForTest(programs));

  // A link that cannot be saved (its name points into a folder that does
  // not exist, or holds a character that file names cannot) is left out,
  // and out of the log; the others are made.
  GroupName = "Qv Group";
  Script.IconEntries.clear();
  AddIcon({"No\\Such", "{win}\\notepad.exe", "", "", "", 0});
  AddIcon({"Readme", "{win}\\notepad.exe", "", "", "", 0});
  AddIcon({"Bad|Name", "{win}\\notepad.exe", "", "", "", 0});
  StepRun link_fails;
  CreateProgramIcons(link_fails.ctx);
  const std::string group = programs + "\\Qv Group";
  EXPECT_EQ(Records(link_fails.log),
            (std::vector<std::string>{"8:" + programs + "|:1000", "0:" + group + "|:1",
                                      "1:" + group + "\\Readme.lnk|:10"}));
  EXPECT_TRUE(FileThere(group + "\\Readme.lnk"));
  EXPECT_EQ(link_fails.progress.progress, 3000u);
  ASSERT_TRUE(WaitForLinkReaders());
  EXPECT_TRUE(link_fails.log.Replay(false));
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), std::vector<std::string>{});
}

// Before the version-4 shell: the group and its items in Program Manager
// (our own server), every field as the server stored it, the program and
// working directory quoted for their spaces and the icon file not, a
// second run replacing the items instead of adding them again, and the
// rollback of the second run's records.
TEST_F(EntriesTest, OurProgmanGroupAndItemsReplacedOnASecondRunAndRolledBack) {
  qvtest::TestProgman pm("entries");
  ASSERT_TRUE(pm.Start());
  AddIcon({"My App", "C:\\Program Files\\Qv App\\app.exe", "/x {app}", "C:\\Program Files\\Qv App",
           "C:\\Program Files\\Qv App\\icons.dll", 2});
  AddIcon({"Readme", "{win}\\notepad.exe", "", "", "", 0});
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    StepRun run;
    CreateProgramIcons(run.ctx);
    EXPECT_EQ(run.progress.progress, 2000u);
    EXPECT_EQ(Records(run.log),
              (std::vector<std::string>{"2:Qv Group||:0", "2:Qv Group|My App|:0",
                                        "2:Qv Group|Readme|:0"}));
    ASSERT_EQ(pm.ItemCount("Qv Group"), 2);
    PmItem it;
    ASSERT_TRUE(pm.FindItem("Qv Group", "My App", it));
    EXPECT_EQ(it.CommandLine, "\"C:\\Program Files\\Qv App\\app.exe\" /x " + app_);
    EXPECT_EQ(it.IconPath, "C:\\Program Files\\Qv App\\icons.dll");
    EXPECT_EQ(it.IconIndex, "2");
    EXPECT_EQ(it.DefDir, "C:\\Program Files\\Qv App");
    EXPECT_EQ(it.XPos + it.YPos, "");
    ASSERT_TRUE(pm.FindItem("Qv Group", "Readme", it));
    EXPECT_EQ(it.CommandLine, "C:\\windows\\notepad.exe");
    EXPECT_EQ(it.IconPath + it.IconIndex + it.DefDir, "");
    if (pass == 2) {
      EXPECT_TRUE(run.log.Replay(false));
      EXPECT_FALSE(pm.HasGroup("Qv Group"));
    }
  }
  const std::string log = ReadWholeFile(pm.StateFile() + ".log");
  EXPECT_NE(log.find("[AddItem(\"C:\\Program Files\\Qv App\\app.exe\" /x " + app_ +
                     ",\"My App\",C:\\Program Files\\Qv App\\icons.dll,2,,,\"C:\\Program "
                     "Files\\Qv App\")]"),
            std::string::npos);
  EXPECT_NE(log.find("[AddItem(C:\\windows\\notepad.exe,\"Readme\",,)]"), std::string::npos);
  EXPECT_NE(log.find("[ReplaceItem(\"My App\")]"), std::string::npos);

  // "[" and "]" inside the quoted names are sent, read and taken back as
  // they stand.
  GroupName = "Qv [Tools]";
  Script.IconEntries.clear();
  AddIcon({"Run ]now[", "{win}\\notepad.exe", "", "", "", 0});
  StepRun brackets;
  CreateProgramIcons(brackets.ctx);
  EXPECT_EQ(Records(brackets.log),
            (std::vector<std::string>{"2:Qv [Tools]||:0", "2:Qv [Tools]|Run ]now[|:0"}));
  PmItem bracketed;
  EXPECT_TRUE(pm.FindItem("Qv [Tools]", "Run ]now[", bracketed));
  EXPECT_TRUE(brackets.log.Replay(false));
  EXPECT_FALSE(pm.HasGroup("Qv [Tools]"));
  GroupName = "Qv Group";

  // An item name that would end its quotes early is never sent.
  Script.IconEntries.clear();
  AddIcon({"Bad\")][DeleteGroup(\"Main", "C:\\x.exe", "", "", "", 0});
  StepRun bad;
  EXPECT_THROW(CreateProgramIcons(bad.ctx), Exception);
  EXPECT_EQ(Records(bad.log), (std::vector<std::string>{"2:Qv Group||:0"}));
  EXPECT_EQ(ReadWholeFile(pm.StateFile() + ".log").find("DeleteGroup(\"Main"), std::string::npos);
  bad.log.Replay(false);
  EXPECT_TRUE(pm.Stop());
}

// Wine's desktop as an independent Program Manager (docs/progman-peers.md):
// it takes the group and plain items and makes them links in its Start
// Menu; it refuses an item with a quoted program path and arguments, which
// fails the step; its refusal of the group request leaves the group after
// the rollback, with the message the replay shows for it.
TEST_F(ShellIconsTest, WineDesktopProgmanTakesPlainItemsAndRefusesQuotedOnes) {
  ASSERT_TRUE(qvtest::WaitForWineProgman(30000));
  GroupName = "Qv Desktop Group";
  AddIcon({"Pad", "{win}\\notepad.exe", "", "", "", 0});
  StepRun run;
  CreateProgramIcons(run.ctx);
  EXPECT_EQ(Records(run.log), (std::vector<std::string>{"2:Qv Desktop Group||:0",
                                                        "2:Qv Desktop Group|Pad|:0"}));
  const std::string folder = ShellFolder(HKEY_CURRENT_USER, "Programs") + "\\Qv Desktop Group";
  EXPECT_TRUE(FileThere(folder + "\\Pad.lnk"));
  EXPECT_EQ(ReadLink(folder + "\\Pad.lnk").path, "C:\\windows\\notepad.exe");

  AddIcon({"Full", "C:\\Program Files\\x.exe", "/a", "C:\\Program Files", "{win}\\notepad.exe", 1});
  StepRun refused;
  try {
    CreateProgramIcons(refused.ctx);
    ADD_FAILURE() << "no failure";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "DDE: Command was not successful");
  }
  EXPECT_EQ(Records(refused.log).size(), 2u);  // the group and Pad again
  BoxAnswerer boxes("Uninstall", {});
  EXPECT_FALSE(refused.log.Replay(false));
  const auto& seen = boxes.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "DDE: Error during request transaction (code: 16393).");
  EXPECT_FALSE(FileThere(folder + "\\Pad.lnk"));
  EXPECT_TRUE(FolderExistsForTest(folder));
}

// Every text at the longest its field holds (a string field one less than
// its width, a character array its whole width without a NUL) is written
// whole.
TEST_F(EntriesTest, TextsAtTheirFieldsFullLengthAreWrittenWhole) {
  const std::string file = "C:\\" + std::string(56, 'f') + ".ini";  // 63 characters
  const std::string section(47, 's'), key(47, 'k'), value(127, 'v');
  AddIni(file, section, key, value, 0x01);
  const std::string sub_key = "Software\\QvMax\\" + std::string(128 - 15, 'x');
  sw::RegistrySpec r = Reg(kHKCU, sub_key, std::string(48, 'n'), 1, 0x01);
  r.StringData = std::string(256, 'd');
  AddReg(r);
  ASSERT_EQ(Script.RegistryEntries[0].SubKey().size(), 128u);
  StepRun run;
  CreateIniEntries(run.ctx);
  CreateRegistryEntries(run.ctx);
  EXPECT_EQ(IniGet(file, section, key), value);
  EXPECT_EQ(RegGet(kHKCU, sub_key, std::string(48, 'n')), "1:" + std::string(256, 'd') + '\0');
  EXPECT_EQ(Records(run.log), (std::vector<std::string>{
                                  "3:" + file + "|" + section + "|" + key + "|:0",
                                  "6:Software\\QvMax|:80000001", "7:" + sub_key + "|" + std::string(48, 'n') + "|:80000001"}));
  EXPECT_TRUE(run.log.Replay(true));
  EXPECT_TRUE(FileThere(file));  // the INI file stays, empty
  EXPECT_EQ(ReadWholeFile(file), "");
  EXPECT_FALSE(KeyExists(kHKCU, sub_key));
  EXPECT_FALSE(KeyExists(kHKCU, "Software\\QvMax"));
}

}  // namespace
