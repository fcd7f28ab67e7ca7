// The destination page's Browse and the next-disk prompt in a real
// installation: setup.exe on a distribution
// spanning five disks, whose disks 2 to 5 lie in a folder of their own (not
// beside setup.exe, not in ..\DISK2). Cancelling the prompt ends the run
// silently with everything taken back; browsing to that folder carries the
// installation through the later disks without asking again. The Windows
// version (and so the "folder"/"directory" word) comes from the ctest entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "e2e_support.h"
#include "tests/winebench/qvtest.h"
#include "snapshot.h"

using namespace qvui;
using namespace e2e;

namespace {

const char* const kPromptCaption = "Please Insert the Next Disk";

// Three files of incompressible data, 640 KB in all, over disks of 160 KB.
sw::ScriptBuilder Spanned() {
  sw::ScriptBuilder b = testdata::Product("Span Test", "1.0");
  b.Header.MinWindowsVersionMajor = 4;
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.BackgroundColor = 0x00800000;
  b.Header.Flags = 0x02;  // uninstallable
  b.Dirs = {{"{app}\\Data"}};
  const char* names[] = {"{app}\\ONE.BIN", "{app}\\Data\\TWO.BIN", "{app}\\THREE.BIN"};
  const size_t sizes[] = {100 * 1024, 300 * 1024, 240 * 1024};
  for (int i = 0; i < 3; ++i) {
    sw::FileSpec f =
        testdata::FileEntry(names[i], testdata::Noise(sizes[i], 77u + static_cast<uint32_t>(i)));
    b.Files.push_back(f);
  }
  return b;
}

// The distribution with disks 2 and later moved into <scratch>\elsewhere.
struct TDist {
  std::string dir, elsewhere;
  size_t disks = 0;
};
TDist MakeSpannedDistribution(const std::string& name) {
  sw::BuildOptions o;
  o.DiskSize = 160 * 1024;
  TDist d;
  d.dir = MakeDistribution(name, Spanned(), o);
  d.elsewhere = TestDir() + "\\" + name + "-elsewhere";
  CreateDirectoryA(d.elsewhere.c_str(), nullptr);
  for (size_t n = 2;; ++n) {
    const std::string file = "\\SETUP." + std::to_string(n);
    if (!Exists(d.dir + file)) break;
    if (!MoveFileA((d.dir + file).c_str(), (d.elsewhere + file).c_str()))
      throw std::runtime_error("cannot move " + file);
    d.disks = n;
  }
  return d;
}

// The list box's items, read wide (Wine copies one character of an ANSI
// LB_GETTEXT across processes).
int ListIndexOf(HWND list, const std::string& text) {
  const int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t wide[512] = L"";
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
    char buf[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
    if (lstrcmpiA(buf, text.c_str()) == 0) return i;
  }
  throw std::runtime_error("no item " + text + " in the folder list");
}

HWND ChildOfClass(HWND parent, const std::string& class_name) {
  for (const ControlInfo& c : Controls(parent))
    if (lstrcmpiA(c.class_name.c_str(), class_name.c_str()) == 0) return c.hwnd;
  throw std::runtime_error("no " + class_name + " in\n" + ListControls(parent));
}

HWND WaitOwn(SetupRun& s, const std::string& caption) {
  WindowQuery q;
  q.caption = caption;
  q.pid = s.Pid();
  return WaitForWindow(q, kTimeout);
}

// Where form stands against the client area of over: centred (each half
// truncated toward zero, as the forms place themselves) is {0, 0}.
POINT OffCentre(HWND form, HWND over) {
  RECT c{}, r{};
  GetClientRect(over, &c);
  MapWindowPoints(over, nullptr, reinterpret_cast<POINT*>(&c), 2);
  GetWindowRect(form, &r);
  return POINT{r.left - ((c.left + c.right) / 2 - (r.right - r.left) / 2),
               r.top - ((c.top + c.bottom) / 2 - (r.bottom - r.top) / 2)};
}

// What Browse on the destination page showed and left in DirEdit.
struct TBrowseView {
  std::string prompt, start_edit, after_cancel, picked, dir_after_pick, reopened_edit, reopened_item, dir_after_typed;
  POINT off_centre{-1, -1};  // the chooser against the wizard
};

std::string SelectedItem(HWND list) {
  const int i = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
  wchar_t wide[512] = L"";
  SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
  char buf[1024] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
  return buf;
}

// Browse three times: cancelled; the root of the list's drive picked; a
// path typed (the installation folder again).
TBrowseView BrowseFromDestination(SetupRun& s, HWND w, const std::string& shot) {
  TBrowseView v;
  HWND dir_edit = EditAt(w, 0);
  ClickButton(w, "Browse...");
  HWND chooser = s.WaitPage("Select Folder");
  HWND edit = ChildOfClass(chooser, "Edit");
  HWND list = ChildOfClass(chooser, "ListBox");
  for (const ControlInfo& c : Controls(chooser))
    if (c.class_name == "Static" && c.client.top == 8) v.prompt = c.text;
  v.start_edit = GetText(edit);
  v.off_centre = OffCentre(chooser, w);
  Screenshot(shot, chooser);
  SetEditText(edit, "C:\\Cancelled");
  ClickButton(chooser, "Cancel");
  WaitForWindowGone(chooser, kTimeout);
  WaitEnabled(w);
  v.after_cancel = GetText(dir_edit);

  ClickButton(w, "Browse...");
  chooser = s.WaitPage("Select Folder");
  SendMessageA(list, LB_SETCURSEL, 0, 0);
  PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
  WaitUntil([&] { return SendMessageA(list, LB_GETCOUNT, 0, 0) > 0 && SendMessageA(list, LB_GETCURSEL, 0, 0) == 0 &&
                         GetText(edit) != v.start_edit; },
            kTimeout);
  v.picked = GetText(edit);
  ClickButton(chooser, "OK");
  WaitForWindowGone(chooser, kTimeout);
  WaitUntil([&] { return GetText(dir_edit) == v.picked; }, kTimeout);
  v.dir_after_pick = GetText(dir_edit);

  WaitEnabled(w);
  ClickButton(w, "Browse...");
  chooser = s.WaitPage("Select Folder");
  v.reopened_edit = GetText(edit);
  v.reopened_item = SelectedItem(list);
  SetEditText(edit, (qvtest::ProgramFilesDir() + "\\Span Test"));
  ClickButton(chooser, "OK");
  WaitForWindowGone(chooser, kTimeout);
  WaitUntil([&] { return GetText(dir_edit) == (qvtest::ProgramFilesDir() + "\\Span Test"); }, kTimeout);
  v.dir_after_typed = GetText(dir_edit);
  WaitEnabled(w);
  return v;
}

// Welcome, destination (created when asked), program folder, ready: the
// installation starts. With browse set, the destination page's Browse is
// used first.
HWND WalkToInstallation(SetupRun& s, TBrowseView* browse = nullptr, const std::string& shot = "") {
  HWND w = s.WaitPage("Welcome");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  if (browse) *browse = BrowseFromDestination(s, w, shot);
  ClickButton(w, "Next >");
  s.Answer("Folder Does Not Exist", "Yes");
  s.ExpectPage(w, "Select Program Folder");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  ClickButton(w, "Next >");
  return w;
}

struct TPromptView {
  std::string label, path;
  SIZE client{};
};
TPromptView ReadPrompt(HWND dlg) {
  TPromptView v;
  RECT r{};
  GetClientRect(dlg, &r);
  v.client = SIZE{r.right, r.bottom};
  v.path = GetText(ChildOfClass(dlg, "Edit"));
  for (const ControlInfo& c : Controls(dlg))
    if (c.class_name == "Static" && c.client.left == 72) v.label = c.text;
  return v;
}

std::string PromptText(int disk, const std::string& word) {
  return "Please insert Disk " + std::to_string(disk) +
         " and click OK.\r\n\r\nIf the files on this disk can be found in a " + word +
         " other than the one displayed below, enter the correct path or click Browse.";
}

void NextDiskScenario(const std::string& word, const std::string& shot) {
  const std::string app = (qvtest::ProgramFilesDir() + "\\Span Test");

  // Cancel in the prompt, confirmed: no message, everything taken back.
  {
    const TDist d = MakeSpannedDistribution("cancelled");
    ASSERT_GE(d.disks, 4u);
    const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
    SetupRun s(d.dir);
    TBrowseView b;
    WalkToInstallation(s, &b, shot + "-chooser");
    EXPECT_EQ(b.prompt, "Please choose the Installation Folder and click OK to continue.");
    EXPECT_EQ(b.start_edit, app);
    EXPECT_EQ(b.after_cancel, app);
    // The list started in the folder setup.exe was started in (on Z:); its
    // root picked, with the default directory name appended.
    EXPECT_EQ(b.picked, "Z:\\Span Test");
    EXPECT_EQ(b.dir_after_pick, "Z:\\Span Test");
    EXPECT_EQ(b.reopened_edit, "Z:\\Span Test");  // the caller's text
    EXPECT_EQ(b.reopened_item, "Z:\\");            // the folder of the last use
    EXPECT_EQ(b.dir_after_typed, app);
    EXPECT_EQ(b.off_centre.x, 0);
    EXPECT_EQ(b.off_centre.y, 0);
    HWND prompt = WaitOwn(s, kPromptCaption);
    const TPromptView v = ReadPrompt(prompt);
    EXPECT_EQ(v.label, PromptText(2, word));
    EXPECT_EQ(v.path, d.dir);  // the setup's own folder
    EXPECT_EQ(v.client.cx, 377);
    EXPECT_EQ(v.client.cy, 169);
    EXPECT_TRUE(Exists(app));  // the installation had begun
    ClickButton(prompt, "Cancel");
    const MessageBoxInfo no = s.Answer("Exit Setup", "No");
    EXPECT_EQ(no.text, kExitText);
    EXPECT_TRUE(IsWindowVisible(prompt));
    WaitEnabled(prompt);
    ClickButton(prompt, "Cancel");
    s.Answer("Exit Setup", "Yes");
    EXPECT_EQ(s.ExitCode(), 1u);
    const std::vector<qvsnap::IgnoreRule> wine_own = {
        {"HKCU\\Software\\Wine\\Temporary System Parameters*",
         "Wine's user32 keeps its session's system parameters there; setup writes none"}};
    EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(), wine_own), std::vector<std::string>{});
    EXPECT_FALSE(Exists(app));
  }

  // A wrong folder is refused; the folder browsed to is taken, and the later
  // disks are found there.
  const TDist d = MakeSpannedDistribution("spanned");
  SetupRun s(d.dir);
  HWND w = WalkToInstallation(s);
  HWND prompt = WaitOwn(s, kPromptCaption);
  Screenshot(shot, prompt);
  ClickButton(prompt, "OK");
  const MessageBoxInfo refused = s.Answer("Error", "OK");
  EXPECT_EQ(refused.text, "The file \"SETUP.2\" could not be located in \"" + d.dir +
                              "\". Please insert the correct disk or select another " + word + ".");
  EXPECT_EQ(refused.icon, MessageBoxIcon::kExclamation);
  EXPECT_TRUE(IsWindowVisible(prompt));

  WaitEnabled(prompt);
  ClickButton(prompt, "Browse...");
  HWND chooser = WaitOwn(s, "Select Folder");
  // The chooser over the prompt, the prompt on the screen.
  const POINT chooser_off = OffCentre(chooser, prompt), prompt_off = OffCentre(prompt, GetDesktopWindow());
  EXPECT_EQ(chooser_off.x, 0);
  EXPECT_EQ(chooser_off.y, 0);
  EXPECT_EQ(prompt_off.x, 0);
  EXPECT_EQ(prompt_off.y, 0);
  HWND chooser_edit = ChildOfClass(chooser, "Edit");
  EXPECT_EQ(GetText(chooser_edit), d.dir);
  // The list starts in the folder setup.exe was started in (the scratch
  // directory), which holds the "elsewhere" folder.
  HWND list = ChildOfClass(chooser, "ListBox");
  const std::string folder = d.elsewhere.substr(d.elsewhere.rfind('\\') + 1);
  SendMessageA(list, LB_SETCURSEL, ListIndexOf(list, folder), 0);
  PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
  EXPECT_TRUE(WaitUntil([&] { return lstrcmpiA(GetText(chooser_edit).c_str(), d.elsewhere.c_str()) == 0; },
                        kTimeout))
      << GetText(chooser_edit);
  ClickButton(chooser, "OK");
  WaitEnabled(prompt);
  HWND edit = ChildOfClass(prompt, "Edit");
  EXPECT_TRUE(WaitUntil([&] { return lstrcmpiA(GetText(edit).c_str(), d.elsewhere.c_str()) == 0; }, kTimeout))
      << GetText(edit);
  ClickButton(prompt, "OK");
  EXPECT_TRUE(WaitForWindowGone(prompt, kTimeout));

  // Disks 3 and later come from the same folder without another prompt.
  bool asked_again = false;
  EXPECT_TRUE(WaitUntil(
      [&] {
        WindowQuery q;
        q.caption = kPromptCaption;
        q.pid = s.Pid();
        if (FindTopLevel(q)) asked_again = true;
        return asked_again || GetText(w) == "Setup Complete";
      },
      120000));
  EXPECT_FALSE(asked_again);
  s.ExpectPage(w, "Setup Complete");
  ClickButton(w, "Finish");
  EXPECT_EQ(s.ExitCode(), 0u);

  const sw::ScriptBuilder script = Spanned();
  const char* installed[] = {"\\ONE.BIN", "\\Data\\TWO.BIN", "\\THREE.BIN"};
  for (int i = 0; i < 3; ++i) {
    const std::string got = ReadText(app + installed[i]);
    const sw::Bytes& want = script.Files[static_cast<size_t>(i)].Contents;
    EXPECT_TRUE(got == std::string(want.begin(), want.end())) << installed[i] << ": " << got.size() << " bytes";
  }
}

}  // namespace

TEST(NextDisk, Nt40) { NextDiskScenario("folder", "next-disk-e2e-nt40"); }
TEST(NextDisk, Nt351) { NextDiskScenario("directory", "next-disk-e2e-nt351"); }
