// The whole run as a user sees it: setup.exe started on a distribution,
// walked through the background window, every wizard page, the install
// window and the finished page with the UI driver, and the machine checked
// afterwards. Each scenario's Windows version is set by its ctest entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "tests/winebench/qvtest.h"

using namespace qvui;
using namespace e2e;

namespace {

// Where the product installs by default: the Program Files folder of this
// build's registry view.
const std::string kPF = qvtest::ProgramFilesDir();

// The product of the scenarios: a licence, both information texts, a
// README, a larger data file (so the install window stays a moment), an
// icon, and four run entries that tell through the probe log how they ran.
sw::ScriptBuilder Typical() {
  sw::ScriptBuilder b = testdata::Product("Quill Notes", "2.5");
  b.Header.BackgroundSubtitle = "Notes for everyone";
  b.Header.MinWindowsVersionMajor = 4;
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.BackgroundColor = 0x00800000;  // blue 128
  b.Header.Flags = 0x02 | 0x04;           // uninstallable, icons may be left out
  b.LicenseText = "QUILL NOTES LICENCE\nYou may use this program.\n";
  b.InfoBeforeText = "Read this before installing.";
  b.InfoAfterText = "Read this after installing.";
  b.Dirs = {{"{app}\\Data"}};
  sw::FileSpec exe = testdata::FileEntry("{app}\\QUILL.EXE", BuildProgram("runprobe.exe"));
  sw::FileSpec readme;
  readme.DestName = "{app}\\README.QVR";
  readme.FileFlags = 0x20;  // the README
  readme.Contents = sw::Bytes(3000, 'r');
  sw::FileSpec data =
      testdata::FileEntry("{app}\\Data\\BIG.DAT", testdata::Noise(6 * 1024 * 1024, 12345));
  b.Files = {exe, readme, data};
  b.Icons = {{"Quill Notes", "{app}\\QUILL.EXE", "", "{app}", "", 0}};
  b.Runs = {
      {"{app}\\QUILL.EXE", "--name run1 --touch \"{app}\\run1.done\"", 0},
      {"{app}\\missing.exe", "", 0},
      {"{app}\\QUILL.EXE", "--name run3 --wait-for \"{app}\\run4.started\"", 0x01},
      {"{app}\\QUILL.EXE",
       "--name run4 --seen \"{app}\\run1.done\" --touch \"{app}\\run4.started\"", 0},
  };
  return b;
}

uint32_t KB(const sw::ScriptBuilder& b) {
  uint32_t total = 0;
  for (const sw::FileSpec& f : b.Files) total += static_cast<uint32_t>(f.Contents.size());
  return total / 1024;
}

std::string SystemText(DWORD code) {
  char buf[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf, nullptr);
  std::string s(buf, n);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

void SetRegString(HKEY root, const std::string& key, const std::string& name,
                  const std::string& value) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
}

std::string RegString(HKEY root, const std::string& key, const std::string& name) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "";
  char buf[1024] = "";
  DWORD size = sizeof buf, type = 0;
  LONG r = RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? std::string(buf) : "";
}

// README.QVR files open with the probe, which notes the file it was given.
void RegisterReadmeAssociation() {
  SetRegString(HKEY_CLASSES_ROOT, ".qvr", "", "QvReadme");
  SetRegString(HKEY_CLASSES_ROOT, "QvReadme\\shell\\open\\command", "",
               qvtest::BinDir() + "runprobe.exe --name readme \"%1\"");
}

// A program group that exists before the run, in both Programs folders.
void MakeExistingGroup() {
  for (const std::string& dir : ProgramsFolders())
    CreateDirectoryA((dir + "\\Existing Group").c_str(), nullptr);
}

std::vector<std::string> ListItems(HWND list) {
  std::vector<std::string> items;
  const int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    // Wine copies only the first character of an ANSI LB_GETTEXT across
    // processes: the text is read wide and converted here.
    wchar_t wide[512] = L"";
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
    char buf[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
    items.push_back(buf);
  }
  return items;
}

HWND VisibleOfClass(HWND wizard, const std::string& cls) {
  for (const ControlInfo& c : Controls(wizard))
    if (c.visible && lstrcmpiA(c.class_name.c_str(), cls.c_str()) == 0) return c.hwnd;
  throw std::runtime_error("no visible " + cls + "\n" + ListControls(wizard));
}

bool ButtonEnabled(HWND wizard, const std::string& caption) {
  return IsWindowEnabled(ButtonByCaption(wizard, caption)) != FALSE;
}

// The install window: the program's other window captioned "Setup", or
// nullptr.
HWND FindInstallWindow(SetupRun& s) {
  WindowQuery q;
  q.caption = "Setup";
  q.pid = s.Pid();
  q.exclude = s.Background();
  return FindTopLevel(q);
}

bool ProbeSaw(const std::string& prefix) {
  for (const std::string& l : ProbeLines())
    if (l.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

// The typical installation, walked page by page in both directions. The
// version decides the "folder"/"directory" wording and where the groups
// come from (the Programs folder, or Program Manager on NT 3.51).
void TypicalInstallation(const std::string& shot_prefix, bool version4) {
  RegisterReadmeAssociation();
  MakeExistingGroup();
  const sw::ScriptBuilder script = Typical();
  const std::string dist = MakeDistribution("typical", script);
  SetupRun s(dist);
  const HWND bg = s.Background();
  EXPECT_TRUE(GetState(bg).maximized);
  HWND w = s.WaitPage("Welcome");
  EXPECT_EQ(GetState(w).owner, bg);
  // The wizard stays above the background: read once the two windows have
  // settled (the background is still being activated around the wizard).
  // (A walk of the list while it changes may miss both: read it again.)
  EXPECT_TRUE(WaitUntil([&] {
    try {
      return IsAbove(w, bg);
    } catch (const std::runtime_error&) {
      return false;
    }
  }, kTimeout)) << ListTopLevelWindows(s.Pid());
  s.Control(w, "Welcome!");
  s.Control(w, "Welcome to the Quill Notes setup program. This will install Quill Notes 2.5 on "
               "your computer.\r\n\r\n");
  s.Control(w, "Quill Notes Setup");
  EXPECT_FALSE(ButtonEnabled(w, "< Back"));
  EXPECT_TRUE(ButtonEnabled(w, "Cancel"));
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "1-welcome", w);

  // The licence: No leads to the exit question, and No there keeps the page.
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Software License Agreement");
  s.Control(w, "Do you accept all the terms of this License Agreement? If you choose No, Setup "
               "will close. To install Quill Notes, you must accept this agreement.");
  EXPECT_EQ(GetText(VisibleOfClass(w, "Edit")),
            "QUILL NOTES LICENCE\r\nYou may use this program.\r\n");
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "2-license", w);
  ClickButton(w, "No");
  MessageBoxInfo exit_box = s.Answer("Exit Setup", "No");
  EXPECT_EQ(exit_box.text, kExitText);
  EXPECT_EQ(exit_box.icon, MessageBoxIcon::kQuestion);
  EXPECT_EQ(exit_box.buttons, (std::vector<std::string>{"Yes", "No"}));
  s.ExpectPage(w, "Software License Agreement");
  ClickButton(w, "Yes");
  s.ExpectPage(w, "Information");
  s.Control(w, "Readme Information");
  EXPECT_EQ(GetText(VisibleOfClass(w, "Edit")), "Read this before installing.");
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "3-information", w);
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  const HWND dir_edit = EditAt(w, 0);
  EXPECT_EQ(GetText(dir_edit), kPF + "\\Quill Notes");
  // The path reads from its beginning: the caret at the start, and the
  // first character shown is the first of the path.
  EXPECT_EQ(SendMessageA(dir_edit, EM_GETSEL, 0, 0), 0);
  EXPECT_EQ(SendMessageA(dir_edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  s.Control(w, std::string("Setup will install Quill Notes in the following ") +
                   (version4 ? "folder." : "directory."));
  s.Control(w, "The program requires at least " + std::to_string(KB(script)) +
                   " KB of disk space.");
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "4-destination", w);

  // Back through the texts to the licence, and forward again.
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Information");
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Software License Agreement");
  ClickButton(w, "Yes");
  s.ExpectPage(w, "Information");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  ClickButton(w, "Next >");
  MessageBoxInfo missing = s.Answer("Folder Does Not Exist", "Yes");
  EXPECT_EQ(missing.text, "The Installation Folder '" + kPF + "\\Quill Notes' does not "
                          "exist. \r\n\r\nDo you wish Setup to create it for you?");
  EXPECT_EQ(missing.icon, MessageBoxIcon::kQuestion);
  EXPECT_FALSE(Exists(kPF + "\\Quill Notes"));  // nothing created yet

  // The program folder: the default group, the existing groups listed; a
  // typed name in another case selects its entry, a click copies it.
  s.ExpectPage(w, "Select Program Folder");
  HWND group = EditAt(w, 0);
  HWND list = VisibleOfClass(w, "ListBox");
  EXPECT_EQ(GetText(group), "Quill Notes");
  const std::vector<std::string> groups = ListItems(list);
  EXPECT_TRUE(std::find(groups.begin(), groups.end(), "Existing Group") != groups.end())
      << "groups listed: " << ::testing::PrintToString(groups);
  EXPECT_TRUE(std::is_sorted(groups.begin(), groups.end(), [](const std::string& a,
                                                             const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) < 0;
  }));
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "5-program-folder", w);
  SetEditText(group, "EXISTING group");
  const int existing = static_cast<int>(
      std::find(groups.begin(), groups.end(), "Existing Group") - groups.begin());
  EXPECT_TRUE(WaitUntil([&] { return SendMessageA(list, LB_GETCURSEL, 0, 0) == existing; }, kTimeout));
  SetEditText(group, "Quill Notes Group");
  EXPECT_TRUE(WaitUntil([&] { return SendMessageA(list, LB_GETCURSEL, 0, 0) == LB_ERR; }, kTimeout));
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  s.Control(w, "Ready To Install");
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "6-ready", w);
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Select Program Folder");
  EXPECT_EQ(GetText(EditAt(w, 0)), "Quill Notes Group");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  ClickButton(w, "Next >");

  // The install window while it copies; then the run entries, the second of
  // which cannot start.
  // The copy may end before the window is seen (the closing scenarios hold
  // it with a question and check it there): it is shot when it is.
  HWND install = nullptr;
  WaitUntil([&] {
    install = FindInstallWindow(s);
    WindowQuery box;
    box.caption = "Error";
    box.pid = s.Pid();
    return install != nullptr || FindTopLevel(box) != nullptr;
  }, kTimeout);
  if (install && !shot_prefix.empty()) Screenshot(shot_prefix + "7-installing");
  MessageBoxInfo run_error = s.Answer("Error", "OK");
  // The file name is quoted (it holds spaces), then one space, then the
  // empty parameters.
  EXPECT_EQ(run_error.text, "Unable to execute file:\r\n\"" + kPF + "\\Quill "
                            "Notes\\missing.exe\" \r\n\r\nError #2: " + SystemText(2));
  EXPECT_EQ(run_error.icon, MessageBoxIcon::kHand);

  // Information after: no way back, no cancel.
  s.ExpectPage(w, "Information");
  s.Control(w, "Program Information");
  EXPECT_EQ(GetText(VisibleOfClass(w, "Edit")), "Read this after installing.");
  EXPECT_FALSE(ButtonEnabled(w, "< Back"));
  EXPECT_FALSE(ButtonEnabled(w, "Cancel"));
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "8-information-after", w);
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Setup Complete");
  s.Control(w, "Setup has finished installing Quill Notes on your computer. You may now launch "
               "the program by clicking the program icons created.");
  HWND readme = s.Control(w, "Yes, I would like to view the Readme file");
  EXPECT_TRUE(IsWindowVisible(readme));
  EXPECT_EQ(SendMessageA(readme, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(IsWindowVisible(s.Control(w, "Install Comctl32.Dll Update after Setup.")));
  EXPECT_FALSE(IsWindowVisible(s.Control(w, "Yes, restart my computer now")));
  EXPECT_TRUE(ButtonEnabled(w, "< Back"));
  EXPECT_FALSE(ButtonEnabled(w, "Cancel"));
  if (!shot_prefix.empty()) Screenshot(shot_prefix + "9-finished", w);
  // Back to the information page and forward.
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Information");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Setup Complete");

  // The run entries: run1 was waited for before run4 started; run3 was not
  // waited for (it waits for run4 itself).
  EXPECT_TRUE(WaitUntil([] { return ProbeSaw("run3"); }, kTimeout));
  ClickButton(w, "Finish");
  EXPECT_EQ(s.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([] { return ProbeSaw("readme"); }, kTimeout));
  const std::vector<std::string> lines = ProbeLines();
  std::vector<std::string> expected = {"run1", "run4 seen=yes", "run3 waited=yes",
                                       "readme arg=" + kPF + "\\Quill Notes\\README.QVR"};
  EXPECT_EQ(lines, expected);

  // The machine: the files, the uninstall log, the registration and the
  // program group with its link.
  const std::string app = kPF + "\\Quill Notes";
  std::vector<std::string> tree = ListTree(app);
  for (const char* f : {"QUILL.EXE", "README.QVR", "Data", "Data\\BIG.DAT", "UNINST0.000",
                        "UNINST1.000", "run1.done", "run4.started"})
    EXPECT_TRUE(std::find(tree.begin(), tree.end(), f) != tree.end()) << f;
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quill Notes 2.5_qv1";
  // Registered in the Uninstall list only with a version 4 shell.
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, "UninstallString").empty(), !version4);
  bool link = false;
  for (const std::string& dir : ProgramsFolders())
    if (Exists(dir + "\\Quill Notes Group\\Quill Notes.lnk")) link = true;
  EXPECT_TRUE(link);
}

}  // namespace

TEST(Typical, Nt40) { TypicalInstallation("nt40-", true); }
TEST(Typical, Win95) { TypicalInstallation("", true); }
TEST(Typical, Nt351) { TypicalInstallation("nt351-", false); }
