// A killed installation is taken back by the next start. A product with
// files on two disks, a replaced older file, a shared file, a link, INI and
// registry entries is installed through the wizard and killed from outside
// (TerminateProcess) at eleven points spread over the run, found by
// watching the journal grow (or by the box that stops the run there); each
// time setup.exe (once Uninstal.exe) is started again, tells about the
// interrupted installation, takes it back, and the machine equals its
// snapshot from before the first run. A second setup.exe started while one
// is installing leaves that one's journal alone. The last run completes.
//
// The test holds the uninstall log's name open from early in each killed
// run: the log cannot be written, so no run can end before its kill.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "snapshot.h"
#include "tests/winebench/qvtest.h"
#include "undo/journal.h"

using namespace qvui;
using namespace e2e;

namespace {

const char* const kApp = "Killed Test";

std::string WinDir() { return qvtest::EnvOr("WINDIR", "C:\\windows"); }
std::string AppDir() { return qvtest::ProgramFilesDir() + "\\" + kApp; }

sw::ScriptBuilder Product() {
  sw::ScriptBuilder b = testdata::Product(kApp, "1.0");
  b.Header.Flags = 0x02;  // uninstallable
  b.Dirs = {{"{app}\\Data"}};
  b.Files = {
      testdata::FileEntry("{win}\\QVOLDER.DLL", testdata::Noise(30 * 1024, 13), 0x01, 2),  // asks, replaces
      testdata::FileEntry("{app}\\ONE.BIN", testdata::Noise(400 * 1024, 11)),
      testdata::FileEntry("{app}\\Data\\TWO.BIN", testdata::Noise(700 * 1024, 12)),  // disks 1 and 2
      testdata::FileEntry("{sys}\\QVSHARE.DLL", testdata::Noise(20 * 1024, 14), 0x10),   // shared
      testdata::FileEntry("{app}\\THREE.BIN", testdata::Noise(200 * 1024, 15)),
  };
  b.Icons = {{kApp, "{app}\\ONE.BIN", "", "{app}", "", 0}};
  for (int i = 0; i < 4; ++i)
    b.Inis.push_back({"{win}\\QVKILLED.INI", "Settings", "Key" + std::to_string(i), "{app}", 0x01});
  for (int i = 0; i < 4; ++i) {
    sw::RegistrySpec r;
    r.SubKey = "Software\\QvKilled\\Settings";
    r.ValueName = "Value" + std::to_string(i);
    r.ValueType = 1;
    r.StringData = "{app}";
    r.RegFlags = i == 0 ? 0x02 : 0x01;
    b.Registry.push_back(r);
  }
  sw::RegistrySpec top;
  top.SubKey = "Software\\QvKilled";
  top.RegFlags = 0x02;
  b.Registry.insert(b.Registry.begin(), top);
  return b;
}

// The journal of the running installation as it stands now (no records
// when there is none).
std::vector<TJournalRecord> JournalNow() {
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((WinDir() + "\\QVJ?????.JNL").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return {};
  FindClose(find);
  const std::string text = testdata::ReadWholeFile(WinDir() + "\\" + fd.cFileName);
  return ReadJournal(reinterpret_cast<const uint8_t*>(text.data()), text.size()).Records;
}

bool HasJournal() {
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((WinDir() + "\\QVJ?????.JNL").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && lstrcmpiA(s.c_str() + s.size() - tail.size(), tail.c_str()) == 0;
}

// The nth record (from 1) of the type whose first path ends in tail.
std::function<bool(const std::vector<TJournalRecord>&)> Nth(uint8_t type, int nth, const std::string& tail = "") {
  return [=](const std::vector<TJournalRecord>& rs) {
    int n = 0;
    for (const TJournalRecord& r : rs) {
      const std::string path = r.Type == jrUndo ? std::string(r.Data.c_str()) : r.Path;
      if (r.Type == type && EndsWith(path, tail) && ++n == nth) return true;
    }
    return false;
  };
}
std::function<bool(const std::vector<TJournalRecord>&)> Undo(uint8_t kind) {
  return [=](const std::vector<TJournalRecord>& rs) {
    for (const TJournalRecord& r : rs)
      if (r.Type == jrUndo && r.Kind == kind) return true;
    return false;
  };
}

struct TKillPoint {
  const char* name;
  std::function<bool(const std::vector<TJournalRecord>&)> when;  // empty: at a box
  const char* box_text = nullptr;  // the box the run stops at, when it is the point
};

HWND OwnBox(DWORD pid, const std::string& caption) {
  WindowQuery q;
  q.caption = caption;
  q.class_name = "#32770";
  q.pid = pid;
  return FindTopLevel(q);
}

// The one box of a start that finds the killed run's journal.
void ExpectRecoveryBox(DWORD pid) {
  HWND box = WaitForMessageBox("Setup", kTimeout, pid);
  const MessageBoxInfo info = ReadMessageBox(box);
  EXPECT_EQ(info.text, std::string("A previous installation of ") + kApp +
                           " was interrupted. Setup will now undo the changes it made.");
  AnswerMessageBox(box, "OK");
}

void JournalScenario() {
  const std::string win = WinDir();
  const std::string app = AppDir();
  sw::BuildOptions o;
  o.DiskSize = 800 * 1024;
  const std::string dist = MakeDistribution("killed", Product(), o);
  ASSERT_TRUE(Exists(dist + "\\SETUP.2")) << "the files do not span two disks";
  // The machine before: the older file that the run replaces, the
  // uninstaller the Uninstall entry names, the shared counts' key.
  ASSERT_TRUE(testdata::WriteWholeFile(win + "\\QVOLDER.DLL", "the older file"));
  ASSERT_TRUE(CopyFileA((qvtest::BinDir() + "Uninstal.exe").c_str(), (win + "\\Uninstal.exe").c_str(), FALSE));
  HKEY shared = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &shared, nullptr);
  RegCloseKey(shared);
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot();

  const std::vector<TKillPoint> points = {
      {"before the first file, at its overwrite question", nullptr, "already exists"},
      {"moving the older file aside", Nth(jrSafetyCopy, 1)},
      {"inside a new file's stream, written in its place", Nth(jrNewFile, 1, "ONE.BIN")},
      {"between two files", Nth(jrUndo, 1, "ONE.BIN")},
      {"inside the stream across the disks", Nth(jrNewFile, 1, "TWO.BIN")},
      {"counting the shared file", Nth(jrSharedCount, 1)},
      {"between the last two files", Nth(jrUndo, 1, "QVSHARE.DLL")},
      {"making the link", Nth(jrUndo, 1, ".lnk")},
      {"writing the INI entries", Undo(ukIniValue)},
      {"writing the registry entries (Uninstal.exe takes it back)", Undo(ukRegValue)},
      {"just before the uninstall log is written", nullptr, "UNINST1.000"},
  };
  bool recovery_expected = false;
  for (const TKillPoint& point : points) {
    SCOPED_TRACE(point.name);
    SetupRun s(dist);
    if (&point != &points.front()) {
      // The last run taken back (by this start, or by Uninstal.exe).
      if (recovery_expected) ExpectRecoveryBox(s.Pid());
      s.WaitPage("Welcome");
      std::string diff;
      for (const std::string& d : qvsnap::Diff(before, qvsnap::TakeSnapshot(),
                                               {{"HKCU\\Software\\Wine\\Temporary System Parameters*",
                                                 "Wine's user32 keeps its session's system parameters there"}}))
        if (d != "file added: " + win + "\\QVKILLED.INI (0 bytes)")  // as a rollback leaves it
          diff += d + "\n";
      EXPECT_EQ(diff, "");
      EXPECT_FALSE(HasJournal());
    }
    WalkToInstallation(s);

    HANDLE held = INVALID_HANDLE_VALUE;
    bool killed = false;
    std::string landed;
    const DWORD start = GetTickCount();
    while (!killed && GetTickCount() - start < 120000) {
      ASSERT_TRUE(s.Process().Running()) << "the run ended before its kill";
      const std::vector<TJournalRecord> rs = JournalNow();
      if (held == INVALID_HANDLE_VALUE && Nth(jrUndo, 1, "UNINST0.000")(rs))
        held = CreateFileA((app + "\\UNINST1.000").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      if (point.when && held != INVALID_HANDLE_VALUE && point.when(rs)) {
        s.Process().Terminate(9);
        killed = true;
        const std::vector<TJournalRecord> after = JournalNow();
        landed = std::to_string(after.size()) + " records, the last of type " +
                 std::to_string(after.empty() ? -1 : after.back().Type);
        break;
      }
      for (const char* caption : {"Confirm", "Setup"}) {
        HWND box = OwnBox(s.Pid(), caption);
        if (!box) continue;
        const MessageBoxInfo info = ReadMessageBox(box);
        if (point.box_text && info.text.find(point.box_text) != std::string::npos) {
          if (std::string(point.box_text) == "UNINST1.000") {
            // A second setup.exe meanwhile leaves the running one's
            // journal alone: no box, its own wizard.
            const size_t records = JournalNow().size();
            SetupRun second(dist);
            HWND w = second.WaitPage("Welcome");
            EXPECT_EQ(OwnBox(second.Pid(), "Setup"), nullptr);
            EXPECT_EQ(JournalNow().size(), records);
            ClickButton(w, "Cancel");
            second.Answer("Exit Setup", "Yes");
            EXPECT_EQ(second.ExitCode(), 1u);
          }
          s.Process().Terminate(9);
          killed = true;
          landed = std::string("at the box \"") + info.text.substr(0, 60) + "\"";
        } else if (std::string(caption) == "Confirm") {
          AnswerMessageBox(box, "Yes");
          WaitForWindowGone(box, kTimeout);
        } else {
          FAIL() << "unexpected box: " << info.text;
        }
        break;
      }
    }
    ASSERT_TRUE(killed) << "never reached";
    std::printf("killed %s: %s\n", point.name, landed.c_str());
    ASSERT_TRUE(HasJournal());
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    DeleteFileA((app + "\\UNINST1.000").c_str());

    if (std::string(point.name).find("Uninstal.exe") != std::string::npos) {
      // The uninstaller, started by the Uninstall entry the run made, takes
      // the run back and has nothing else to remove.
      UiProcess u("\"" + win + "\\Uninstal.exe\" /U \"" + app + "\\UNINST0.000\" \"" + app + "\\UNINST1.000\"");
      ExpectRecoveryBox(u.Pid());
      EXPECT_EQ(u.WaitForExitCode(kTimeout), 0u);
      EXPECT_FALSE(HasJournal());
      EXPECT_FALSE(Exists(app));
      recovery_expected = false;
    } else {
      recovery_expected = true;
    }
  }

  // The last start takes the last run back and completes.
  SetupRun s(dist);
  ExpectRecoveryBox(s.Pid());
  WalkToInstallation(s);
  s.Answer("Confirm", "Yes");
  HWND w = s.WaitPage("Setup Complete", 120000);
  ClickButton(w, "Finish");
  EXPECT_EQ(s.ExitCode(), 0u);
  EXPECT_FALSE(HasJournal());
  EXPECT_TRUE(Exists(app + "\\UNINST1.000"));
  const sw::Bytes two = testdata::Noise(700 * 1024, 12);
  EXPECT_TRUE(ReadText(app + "\\Data\\TWO.BIN") == std::string(two.begin(), two.end()));
  EXPECT_EQ(ReadText(win + "\\QVOLDER.DLL").size(), 30u * 1024);
}

}  // namespace

TEST(Journal, Nt40) { JournalScenario(); }
TEST(Journal, Win95) { JournalScenario(); }
