// Program icons, INI and registry entries through the real install window
// (installhost.exe): a product installed with its group, items, INI and
// registry entries, the questions answered through the window's boxes,
// the progress bar's range and position read from the window, the
// uninstall log, "Don't create any Program Icons", and the rollback of a
// confirmed cancel after an INI entry and of Abort on a registry entry.
#include <gtest/gtest.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "snapshot.h"
#include "tests/wine/dde_testserver.h"
#include "tests/wine/entries_testutil.h"
#include "tests/wine/installhost_client.h"

using namespace qvhost;
using qventries::IniGet;
using qventries::Reg;
using qventries::ShellFolder;

namespace {

const char kRetrySentence[] =
    "Click Retry to try again, Ignore to skip this entry, or Abort to cancel installation.";
const char kApp[] = "C:\\QvEntries App";
constexpr uint32_t kHKCU = 0x80000001u, kHKLM = 0x80000002u, kHKPD = 0x80000004u;

std::string Quote(const std::string& s) { return "\"" + s + "\""; }
bool Version4() { return (GetVersion() & 0xFF) >= 4; }

// The Programs folder of the installation: the user under Wine has the
// rights of an administrator, so the common folder when the registry names
// one.
std::string ProgramsFolder() {
  const std::string common = ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs");
  return common.empty() ? ShellFolder(HKEY_CURRENT_USER, "Programs") : common;
}

// Wine's menu builder notes every Start Menu link it sees in its own key
// and keeps the note after the link is gone.
const std::vector<qvsnap::IgnoreRule> kKept = {
    {"HKCU\\Software\\Wine\\MenuFiles*", "Wine's menu builder notes each Start Menu link it sees "
                                           "and keeps the note after the link is deleted"},
    {"HKCU\\Software\\Wine\\Temporary System Parameters*",
     "Wine keeps the mouse parameters there once a program asks for them"}};

// The product: one file, two icons, INI entries (the second aimed at a
// directory, so that it fails) and registry entries (the third under a
// root Wine opens no key in). Every entry carries an uninstall flag.
sw::ScriptBuilder Product() {
  sw::ScriptBuilder b = testdata::Product("Entries App", "1.0");
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.Flags = 0x02;  // uninstallable
  sw::FileSpec f = testdata::FileEntry("{app}\\APP.EXE", Mixed(20000, 7));
  b.Files = {f};
  b.Icons = {{"Entries App", "{app}\\APP.EXE", "/start", "{app}", "{app}\\APP.EXE", 1},
             {"Read Me", "{win}\\notepad.exe", "{app}\\README.TXT", "", "", 0}};
  b.Inis = {{"{app}\\APP.INI", "Setup", "Path", "{app}", 0x01},
            {"{app}\\ISDIR.INI", "Setup", "Key", "v", 0x01},
            {"{win}\\QVENTRIES.INI", "{app}", "Installed", "1", 0x02}};
  b.Registry = {Reg(kHKCU, "Software\\QvEntriesHost", "Path", 1, 0x01, "{app}"),
                Reg(kHKLM, "Software\\QvEntriesHost\\Tree", "", 0, 0x02),
                Reg(kHKPD, "Software\\QvEntriesHost", "Perf", 1, 0x01, "x"),
                Reg(kHKCU, "Software\\QvEntriesHost\\Empty", "", 0, 0x01)};
  return b;
}

// At the pause, the install window's progress bar: (position, maximum).
std::pair<uint32_t, uint32_t> ReadBar(const Host& host) {
  HWND bar = nullptr;
  for (const qvui::WindowInfo& w : qvui::TopLevelWindows(host.Process().Pid(), true)) {
    bar = FindWindowExA(w.hwnd, nullptr, PROGRESS_CLASSA, nullptr);
    if (bar != nullptr) break;
  }
  if (bar == nullptr) return {0, 0};
  return {static_cast<uint32_t>(SendMessageA(bar, PBM_GETPOS, 0, 0)),
          static_cast<uint32_t>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0))};
}

// The Describe() lines of the records of these kinds, in log order.
std::vector<std::string> EntryRecords(const UninstallLog& log) {
  std::vector<std::string> out;
  for (const LogRecord& r : log.records)
    if ((r.kind >= 2 && r.kind != 5) || (r.kind == 5 && r.strings[0].find("Uninstall") == std::string::npos) ||
        (r.kind == 0 && r.param == 1) || (r.kind == 1 && r.param == 0x10))
      out.push_back(Describe(r));
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

}  // namespace

// The whole product through the install window (the failing INI entry
// retried until it succeeds, the failing registry entry ignored), then the
// same product with
// "Don't create any Program Icons" ticked into another folder.
TEST(EntriesInstall, IconsIniAndRegistryThroughTheInstallWindow) {
  const bool shell = Version4();
  qvtest::TestProgman pm("hostpm");
  if (!shell) ASSERT_TRUE(pm.Start());
  const std::string dist = TestTmp() + "dist";
  const sw::BuildResult built = WriteDistribution(Product(), sw::BuildOptions(), dist);
  const uint32_t files_share = built.Files[0].CompressedSize;
  const std::string app = kApp;
  MakeDirs(app + "\\ISDIR.INI");

  Host host("--source " + Quote(dist) + " --app " + Quote(app) + " --group \"Qv Host Group\"" +
                " --pause-when \"Creating registry entries...|\" --trace " +
                Quote(TestTmp() + "trace1.txt"),
            TestTmp() + "run1");
  const std::string ini_question =
      "Error creating INI entry in file " + app + "\\ISDIR.INI\r\n\r\n" + kRetrySentence;
  // Retry is the default button of the question.
  std::string default_button;
  const HWND box = qvui::WaitForMessageBox("Error", kBoxWait, host.Process().Pid());
  for (const qvui::ControlInfo& c : qvui::Controls(box))
    if (c.class_name == "Button" && (c.style & 0x0F) == BS_DEFPUSHBUTTON) default_button = c.text;
  EXPECT_EQ(default_button, "&Retry");
  EXPECT_EQ(host.Answer("Error", ini_question, "Retry").icon, qvui::MessageBoxIcon::kExclamation);
  // Retry repeats the entry: once the directory is gone (removed while the
  // second question is up) the write succeeds.
  qvui::WaitForMessageBox("Error", kBoxWait, host.Process().Pid());
  ASSERT_TRUE(RemoveDirectoryA((app + "\\ISDIR.INI").c_str()));
  host.Answer("Error", ini_question, "Retry");
  host.Answer("Error",
              std::string("Error creating registry key: Software\\QvEntriesHost.\r\n\r\n") +
                  kRetrySentence,
              "Ignore");
  EXPECT_EQ(host.WaitPaused(), "Creating registry entries...|");
  const auto bar = ReadBar(host);
  EXPECT_EQ(bar.first, files_share + 2000 + 1000 + 1000);
  EXPECT_EQ(bar.second, bar.first);
  host.Resume();
  ASSERT_EQ(host.ExitCode(), 0u);

  // The check points: one after each INI entry, under its status text.
  const std::string trace = ReadFacts(TestTmp() + "trace1.txt").bytes;
  const std::string icons_done = std::to_string(files_share + 2000);
  EXPECT_NE(trace.find("Creating INI entries...||" + icons_done + "\n"
                       "Creating INI entries...||" + icons_done + "\n"
                       "Creating INI entries...||" + icons_done + "\n"
                       "Creating INI entries...||" + std::to_string(files_share + 3000) + "\n"),
            std::string::npos)
      << trace;

  EXPECT_EQ(IniGet(app + "\\APP.INI", "Setup", "Path"), app);
  EXPECT_EQ(IniGet(app + "\\ISDIR.INI", "Setup", "Key"), "v");
  EXPECT_EQ(IniGet("C:\\windows\\QVENTRIES.INI", app, "Installed"), "1");
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, "Software\\QvEntriesHost", "Path").data, app + '\0');
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\QvEntriesHost\\Tree"));
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, "Software\\QvEntriesHost\\Empty"));

  const std::string programs = ProgramsFolder();
  const std::string group = programs + "\\Qv Host Group";
  std::vector<std::string> expected;
  if (shell) {
    EXPECT_TRUE(ReadFacts(group + "\\Entries App.lnk").exists);
    EXPECT_TRUE(ReadFacts(group + "\\Read Me.lnk").exists);
    expected = {"kind 8 param 0x1000 \"" + programs + "\"", "kind 0 param 0x1 \"" + group + "\"",
                "kind 1 param 0x10 \"" + group + "\\Entries App.lnk\"",
                "kind 1 param 0x10 \"" + group + "\\Read Me.lnk\""};
  } else {
    PmItem it;
    ASSERT_TRUE(pm.FindItem("Qv Host Group", "Entries App", it));
    EXPECT_EQ(it.CommandLine, "\"" + app + "\\APP.EXE\" /start");
    EXPECT_EQ(it.DefDir, app);
    EXPECT_EQ(it.IconPath + "," + it.IconIndex, app + "\\APP.EXE,1");
    ASSERT_TRUE(pm.FindItem("Qv Host Group", "Read Me", it));
    EXPECT_EQ(it.CommandLine, "C:\\windows\\notepad.exe " + app + "\\README.TXT");
    expected = {"kind 2 param 0x0 \"Qv Host Group\" \"\"",
                "kind 2 param 0x0 \"Qv Host Group\" \"Entries App\"",
                "kind 2 param 0x0 \"Qv Host Group\" \"Read Me\""};
  }
  for (const std::string& s :
       {"kind 3 param 0x0 \"" + app + "\\APP.INI\" \"Setup\" \"Path\"",
        "kind 3 param 0x0 \"" + app + "\\ISDIR.INI\" \"Setup\" \"Key\"",
        "kind 4 param 0x0 \"C:\\windows\\QVENTRIES.INI\" \"" + app + "\"",
        std::string("kind 7 param 0x80000001 \"Software\\QvEntriesHost\" \"Path\""),
        // The key made on the way to the tree's key, to go when empty.
        std::string("kind 6 param 0x80000002 \"Software\\QvEntriesHost\""),
        std::string("kind 5 param 0x80000002 \"Software\\QvEntriesHost\\Tree\""),
        std::string("kind 6 param 0x80000001 \"Software\\QvEntriesHost\\Empty\"")})
    expected.push_back(s);
  const std::vector<std::string> got = EntryRecords(ReadUninstallLog(app + "\\UNINST1.000"));
  ASSERT_GE(got.size(), expected.size());
  // The uninstall-delete and other records of the driver come after ours.
  EXPECT_EQ(Joined(std::vector<std::string>(got.begin(), got.begin() + expected.size())),
            Joined(expected));

  // "Don't create any Program Icons": no icon step, and the bar ends short
  // of its maximum by the icons' share.
  const std::string app2 = std::string(kApp) + " 2";
  Host noicons("--source " + Quote(dist) + " --app " + Quote(app2) +
                   " --group \"Qv No Icons\" --noicons --pause-when \"Creating registry entries...|\"",
               TestTmp() + "run2");
  noicons.Answer("Error", "", "Ignore");  // the registry root
  EXPECT_EQ(noicons.WaitPaused(), "Creating registry entries...|");
  const auto bar2 = ReadBar(noicons);
  EXPECT_EQ(bar2.second, bar.second);
  EXPECT_EQ(bar2.first, bar2.second - 2000);
  noicons.Resume();
  ASSERT_EQ(noicons.ExitCode(), 0u);
  if (shell) EXPECT_FALSE(ReadFacts(programs + "\\Qv No Icons").exists);
  if (!shell) EXPECT_FALSE(pm.HasGroup("Qv No Icons"));
  EXPECT_EQ(IniGet(app2 + "\\APP.INI", "Setup", "Path"), app2);
  if (!shell) EXPECT_TRUE(pm.Stop());
}

// A confirmed cancel at the check point after the first INI entry, and
// Abort on the failing registry entry: the machine is as it was before,
// but for the INI files, left empty.
TEST(EntriesRollback, CancelAfterAnIniEntryAndAbortOnARegistryEntry) {
  qvtest::TestProgman pm("rollbackpm");
  if (!Version4()) ASSERT_TRUE(pm.Start());
  const std::string dist = TestTmp() + "dist";
  WriteDistribution(Product(), sw::BuildOptions(), dist);
  MakeDirs(std::string(kApp) + "\\ISDIR.INI");
  qvsnap::SnapshotOptions opt;
  opt.skipDirectories = {"C:\\windows\\system32", "C:\\windows\\syswow64", "C:\\windows\\winsxs"};
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot(opt);
  const std::string pm_before = ReadFacts(pm.StateFile()).bytes;

  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    std::string args = "--source " + Quote(dist) + " --app " + Quote(kApp) + " --group \"Qv RB\"";
    if (run == 1) args += " --pause-when \"Creating INI entries...|\"";
    Host host(args, TestTmp() + "rb" + std::to_string(run));
    if (run == 1) {
      host.WaitPaused();
      host.CancelWhilePaused();
    } else {
      host.Answer("Error", "", "Ignore");  // the INI entry aimed at a directory
      host.Answer("Error", "Error creating registry key: Software\\QvEntriesHost.\r\n\r\n" +
                               std::string(kRetrySentence),
                  "Abort");
    }
    EXPECT_EQ(host.ExitCode(), 1u);
    // The rollback takes the entries back, not the INI files: the profile
    // functions leave a file empty when its last section goes.
    std::string left = "file added: " + std::string(kApp) + "\\APP.INI (0 bytes)\n";
    if (run == 2) left += "file added: C:\\windows\\QVENTRIES.INI (0 bytes)\n";
    EXPECT_EQ(Joined(qvsnap::Diff(before, qvsnap::TakeSnapshot(opt), kKept)), left);
    if (!Version4()) EXPECT_EQ(ReadFacts(pm.StateFile()).bytes, pm_before);
  }
  if (!Version4()) EXPECT_TRUE(pm.Stop());
}

