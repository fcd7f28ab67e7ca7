// The INI, registry and program icon steps on real Wine state, called
// directly with a test-side progress: what they write (read back through
// Wine's own profile, registry and shell link functions), the log records
// they leave, their questions, cancel and Abort with rollback, and the
// uninstall of their records.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/exceptions.h"
#include "install/installcontext.h"
#include "install/steps.h"
#include "main/globals.h"
#include "snapshot.h"
#include "tests/wine/box_answerer.h"
#include "tests/wine/dde_testserver.h"
#include "tools/scriptwriter/scriptwriter.h"
#include "undo/undolog.h"

using qvtest::BoxAnswerer;
using qvtest::FileThere;
using qvtest::ReadWholeFile;
using qvtest::TmpDir;

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
  TUndoChanges log;
  TestProgress progress;
  TInstallContext ctx{log, progress};
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

std::string IniGet(const std::string& file, const std::string& section, const std::string& key) {
  char buf[512];
  if (file.empty())
    GetProfileStringA(section.c_str(), key.c_str(), "<none>", buf, sizeof buf);
  else
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<none>", buf, sizeof buf,
                             file.c_str());
  return buf;
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
// rollback then takes every written key and section back, and the INI file
// that was made for them.
TEST_F(EntriesTest, IniAbortAndCancelStopTheStepAndRollBack) {
  const std::string ini = app_ + "\\app.ini";
  qvsnap::SnapshotOptions opt;
  opt.fileRoots = {app_};
  opt.registryRoots = {};
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot(opt);
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
    EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), std::vector<std::string>{});
  }
  {
    StepRun run;
    BoxAnswerer boxes("Error", {"Abort"});
    EXPECT_THROW(CreateIniEntries(run.ctx), EAbort);
    EXPECT_EQ(boxes.Finish().size(), 1u);
    EXPECT_EQ(run.progress.checks, 2);  // no check point after the aborted entry
    EXPECT_EQ(IniGet(ini, "Four", "K"), "<none>");
    EXPECT_TRUE(run.log.Replay(false));
    EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt)), std::vector<std::string>{});
  }
}

sw::RegistrySpec Reg(uint32_t root, const std::string& key, const std::string& name, uint8_t type,
                     uint8_t flags) {
  sw::RegistrySpec r;
  r.RootKey = root;
  r.SubKey = key;
  r.ValueName = name;
  r.ValueType = type;
  r.RegFlags = flags;
  return r;
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
  EXPECT_EQ(Records(run.log).size(), 3u);
  EXPECT_TRUE(KeyExists(kHKCU, "Software\\QvAbort\\Tree\\Deep"));
  EXPECT_TRUE(run.log.Replay(false));
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt),
                         {{"HKCU\\Software\\QvAbort\\Tree",
                           "the entry's key tree goes, but the parent that it made on the way "
                           "is not recorded"}}),
            std::vector<std::string>{});
}

}  // namespace
