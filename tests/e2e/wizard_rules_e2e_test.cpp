// The rules of the run seen from outside: leaving at every page in every
// way (and during copying) leaves the machine as it was; each validation
// message of the destination and program folder pages; the finished page's
// choices (no icons, the common-controls update, the restart); the
// background window's gradient, title, About item and key press.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/winebench/qvtest.h"

#include "e2e_support.h"
#include "snapshot.h"

using namespace qvui;
using namespace e2e;

namespace {

const std::string kApp = qvtest::ProgramFilesDir() + "\\Brisk Paint";

// A small product with a licence and an information text.
sw::ScriptBuilder Quick() {
  sw::ScriptBuilder b = testdata::Product("Brisk Paint", "1.2");
  b.Header.BackgroundSubtitle = "Painting made quick";
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.BackgroundColor = 0x0040C080;  // red 0x80, green 0xC0, blue 0x40
  b.Header.Flags = 0x04;                  // icons may be left out
  b.LicenseText = "Licence of Brisk Paint";
  b.InfoBeforeText = "Before you install Brisk Paint";
  b.Dirs = {{"{app}\\Brushes"}};
  sw::FileSpec exe = testdata::FileEntry("{app}\\BRISK.EXE", sw::Bytes(5000, 'x'));
  b.Files = {exe};
  b.Icons = {{"Brisk Paint", "{app}\\BRISK.EXE", "", "{app}", "", 0}};
  return b;
}

void PostKey(HWND wnd, WPARAM key) { PostMessageA(wnd, WM_KEYDOWN, key, 1); }

// Walks from Welcome to the page with the given number (0 to 5).
void WalkTo(SetupRun& s, HWND w, int page, bool folder_exists = false) {
  static const char* const captions[] = {"Welcome", "Software License Agreement", "Information",
                                         "Choose Destination Location", "Select Program Folder",
                                         "Start Copying Files"};
  for (int p = 1; p <= page; ++p) {
    ClickButton(w, p == 2 ? "Yes" : "Next >");
    if (p == 4 && !folder_exists) s.Answer("Folder Does Not Exist", "Yes");
    s.ExpectPage(w, captions[p]);
  }
}

std::vector<qvsnap::IgnoreRule> SetupChurn() {
  return {{"C:\\users\\*\\Temp*", "Wine's temporary files of the started programs"},
          {"HKCU\\Software\\Wine\\Temporary System Parameters*",
           "user32 of a newly started program stores the mouse settings there"}};
}

}  // namespace

// Every page, and every way of closing: the question comes, No keeps the
// page, Yes ends the program with nothing changed on the machine.
TEST(Exit, AtEveryPageInEveryWay) {
  const std::string dist = MakeDistribution("exit", Quick());
  struct Way {
    int page;
    const char* first;   // answered No
    const char* second;  // answered Yes
  } ways[] = {
      {0, "cancel", "esc"},         {1, "no", "close box"},       {2, "background", "cancel"},
      {3, "system menu", "cancel"}, {4, "esc", "background"},     {5, "cancel", "close box"},
  };
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
  for (const Way& way : ways) {
    SCOPED_TRACE("page " + std::to_string(way.page));
    SetupRun s(dist);
    HWND bg = s.Background();
    HWND w = s.WaitPage("Welcome");
    WalkTo(s, w, way.page);
    const std::string caption = GetText(w);
    for (const char* how : {way.first, way.second}) {
      const std::string h = how;
      if (h == "cancel") ClickButton(w, "Cancel");
      if (h == "no") ClickButton(w, "No");
      if (h == "esc") PostKey(w, VK_ESCAPE);
      if (h == "close box") PostClose(w);
      if (h == "system menu") PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
      if (h == "background") PostClose(bg);
      const bool last = how == way.second;
      MessageBoxInfo box = s.Answer("Exit Setup", last ? "Yes" : "No");
      EXPECT_EQ(box.text, kExitText) << how;
      EXPECT_EQ(box.icon, MessageBoxIcon::kQuestion) << how;
      if (!last) {
        EXPECT_TRUE(WaitCaption(w, caption)) << how;
        EXPECT_TRUE(IsWindowVisible(bg));
      }
    }
    EXPECT_EQ(s.ExitCode(), 1u);
  }
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(), SetupChurn()), std::vector<std::string>{});
}

// Closing during copying: the file step holds on a question of its own
// (an existing file to be confirmed), the program then waits in that box, so
// the closes arrive while the copy is in progress, without a race. Closing
// the background window asks through the install window, No goes on; the
// install window's close box asks again, Yes cancels: after the file's
// question the installation stops and everything is taken back.
TEST(Exit, DuringCopying) {
  sw::ScriptBuilder b = Quick();
  sw::FileSpec confirm;
  confirm.DestName = "{app}\\CONFIRM.DAT";
  confirm.FileFlags = 0x01;  // confirm overwrite
  confirm.Contents = sw::Bytes(100000, 'n');
  b.Files.push_back(confirm);
  const std::string dist = MakeDistribution("copying", b);
  CreateDirectoryA(kApp.c_str(), nullptr);
  sw::WriteFileBytes(kApp + "\\CONFIRM.DAT", sw::Bytes(10, 'o'));
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
  SetupRun s(dist);
  HWND bg = s.Background();
  HWND w = s.WaitPage("Welcome");
  WalkTo(s, w, 5, true);
  ClickButton(w, "Next >");
  HWND overwrite = WaitForMessageBox("Confirm", kTimeout, s.Pid());
  EXPECT_EQ(ReadMessageBox(overwrite).text,
            kApp + "\\CONFIRM.DAT\r\nThe file already exists.\r\n\r\nWould you like Setup to "
                   "overwrite it?");
  WindowQuery q;
  q.caption = "Setup";
  q.pid = s.Pid();
  q.exclude = bg;
  HWND install = WaitForWindow(q, kTimeout);
  EXPECT_EQ(GetState(install).owner, bg);
  s.Control(install, "Copying Program files...");
  Screenshot("copying-install-window", install);
  PostClose(bg);
  EXPECT_EQ(s.Answer("Exit Setup", "No").text, kExitText);
  PostClose(install);  // its own close box
  EXPECT_EQ(s.Answer("Exit Setup", "Yes").text, kExitText);
  EXPECT_TRUE(IsWindow(install));
  WaitEnabled(overwrite);  // the Exit Setup box had disabled it
  AnswerMessageBox(overwrite, "No");
  EXPECT_EQ(s.ExitCode(), 1u);
  EXPECT_FALSE(Exists(kApp + "\\BRISK.EXE"));
  EXPECT_EQ(ReadText(kApp + "\\CONFIRM.DAT"), "oooooooooo");
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(), SetupChurn()), std::vector<std::string>{});
}

// Each message of the destination and program folder pages once, with the
// text as typed (trimmed) left in the edit and the page kept.
TEST(Validation, DestinationAndGroupMessages) {
  sw::ScriptBuilder b = Quick();
  b.LicenseText.clear();
  b.InfoBeforeText.clear();
  const std::string dist = MakeDistribution("validation", b);
  CreateDirectoryA("C:\\Existing", nullptr);
  SetupRun s(dist);
  HWND w = s.WaitPage("Welcome");
  ClickButton(w, "Next >");
  // Without licence and information the destination follows Welcome, and
  // Back returns there.
  s.ExpectPage(w, "Choose Destination Location");
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Welcome");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  HWND dir = EditAt(w, 0);
  struct Case {
    const char* typed;
    const char* kept;
    const char* message;
  } cases[] = {
      {"  C:\\A\\\\B  ", "C:\\A\\\\B",
       "Setup cannot install to a UNC pathname. If you are trying to install to a network, you "
       "will need to map a network drive."},
      {"C:\\", "C:\\", "You must enter a full path with drive letter; for example:\r\nC:\\APP"},
      {"C:\\A,B", "C:\\A,B",
       "The directory name cannot include any of the following characters after the "
       "colon:\r\n\r\n/ : * ? \" < > | ,"},
      {"1:\\APP", "1:\\APP", "The drive you selected does not exist. Please select another."},
  };
  for (const Case& c : cases) {
    SetEditText(dir, c.typed);
    ClickButton(w, "Next >");
    MessageBoxInfo box = s.Answer("Error", "OK");
    EXPECT_EQ(box.text, c.message) << c.typed;
    EXPECT_EQ(box.icon, MessageBoxIcon::kExclamation) << c.typed;
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(GetText(dir), c.kept) << c.typed;
    s.ExpectPage(w, "Choose Destination Location");
  }
  // A drive with no free space at all: Q: stands for /proc.
  DefineUnixDrive('Q', "/proc");
  SetEditText(dir, "Q:\\APP\\");
  ClickButton(w, "Next >");
  const std::string space =
      "Setup requires at least 4 KB of free space to install, but the selected drive only has 0 KB "
      "available.\r\n\r\nDo you want to continue anyway?";
  MessageBoxInfo q1 = s.Answer("Not Enough Disk Space", "No");
  EXPECT_EQ(q1.text, space);
  EXPECT_EQ(q1.icon, MessageBoxIcon::kQuestion);
  EXPECT_EQ(GetText(dir), "Q:\\APP");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Not Enough Disk Space", "Yes").text, space);
  EXPECT_EQ(s.Answer("Folder Does Not Exist", "No").text,
            "The Installation Folder 'Q:\\APP' does not exist. \r\n\r\nDo you wish Setup to create "
            "it for you?");
  s.ExpectPage(w, "Choose Destination Location");
  DefineUnixDrive('Q', "");
  // A drive letter with nothing behind it.
  SetEditText(dir, "Q:\\APP");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Error", "OK").text,
            "The drive you selected does not exist. Please select another.");
  // An existing folder asks nothing; its trailing backslash goes.
  SetEditText(dir, "C:\\Existing\\");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Select Program Folder");
  HWND group = EditAt(w, 0);
  SetEditText(group, "   ");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Error", "OK").text, "You must enter a group name.");
  EXPECT_EQ(GetText(group), "");
  SetEditText(group, " Tools/Paint ");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Error", "OK").text,
            "The group name cannot include any of the following characters:\r\n\r\n\\ / : * ? \" "
            "< > | ,");
  EXPECT_EQ(GetText(group), "Tools/Paint");
  SetEditText(group, "Paint");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  ClickButton(w, "< Back");
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Choose Destination Location");
  EXPECT_EQ(GetText(dir), "C:\\Existing");
  ClickButton(w, "Cancel");
  s.Answer("Exit Setup", "Yes");
  EXPECT_EQ(s.ExitCode(), 1u);
  EXPECT_EQ(ListTree("C:\\Existing"), std::vector<std::string>{});
}

namespace {
// Walks a script without texts to the finished page with the proposed
// folder and group; returns the wizard.
HWND InstallToFinished(SetupRun& s, bool tick_no_icons) {
  HWND w = s.WaitPage("Welcome");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  ClickButton(w, "Next >");
  s.Answer("Folder Does Not Exist", "Yes");
  s.ExpectPage(w, "Select Program Folder");
  if (tick_no_icons) {
    HWND group = EditAt(w, 0);
    HWND list = nullptr;
    for (const ControlInfo& c : Controls(w))
      if (c.visible && c.class_name == "ListBox") list = c.hwnd;
    HWND no_icons = s.Control(w, "Don't create any Program Icons", "Button");
    EXPECT_TRUE(IsWindowVisible(no_icons));
    EXPECT_TRUE(IsWindowEnabled(group));
    Click(no_icons);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(group) && !IsWindowEnabled(list); },
                          kTimeout));
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);
    // Both are grey: the edit's and the list's empty area in the button
    // face colour.
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const DWORD face_rgb = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
    RECT lr{}, er{};
    GetWindowRect(list, &lr);
    GetWindowRect(group, &er);
    EXPECT_TRUE(WaitPixel(lr.right - 24, lr.bottom - 6, face_rgb));
    EXPECT_TRUE(WaitPixel(er.right - 6, (er.top + er.bottom) / 2, face_rgb));
    // No group name is asked for while no icons are made.
    SetEditText(group, "");
  }
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Setup Complete");
  // Without an information text after installing there is no page to go
  // back to.
  EXPECT_FALSE(IsWindowEnabled(ButtonByCaption(w, "< Back")));
  EXPECT_FALSE(IsWindowEnabled(ButtonByCaption(w, "Cancel")));
  return w;
}
}  // namespace

// "Don't create any Program Icons" ticked: no group, no link. The
// distribution holds 40comupd.exe, so the finished page offers the update,
// ticked, and Finish starts it from the destination folder.
TEST(Finish, NoIconsAndCommonControlsUpdate) {
  sw::ScriptBuilder b = Quick();
  b.LicenseText.clear();
  b.InfoBeforeText.clear();
  sw::FileSpec update = testdata::FileEntry("{app}\\40comupd.exe", BuildProgram("runprobe.exe"));
  b.Files.push_back(update);
  const std::string dist = MakeDistribution("noicons", b);
  SetupRun s(dist);
  HWND w = InstallToFinished(s, true);
  s.Control(w, "Setup has finished installing Brisk Paint on your computer. You may now launch "
               "the program by clicking the program icons created.");
  HWND inst = s.Control(w, "Install Comctl32.Dll Update after Setup.", "Button");
  EXPECT_TRUE(IsWindowVisible(inst));
  EXPECT_EQ(SendMessageA(inst, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(IsWindowVisible(s.Control(w, "Yes, I would like to view the Readme file")));
  EXPECT_FALSE(IsWindowVisible(s.Control(w, "Yes, restart my computer now")));
  Screenshot("finished-update-offered", w);
  ClickButton(w, "Finish");
  EXPECT_EQ(s.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([] { return !ProbeLines().empty(); }, kTimeout));
  EXPECT_EQ(ProbeLines(), std::vector<std::string>{"probe arg=/r:n arg=/q:a"});
  EXPECT_TRUE(Exists(kApp + "\\BRISK.EXE"));
  const std::vector<std::string> programs = ProgramsFolders();
  EXPECT_FALSE(programs.empty());
  for (const std::string& p : programs) EXPECT_FALSE(Exists(p + "\\Brisk Paint")) << p;
}

namespace {
// A window of the test's own, to see what the session end sends.
struct SessionWatch {
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_QUERYENDSESSION) ++queries;
    if (m == WM_ENDSESSION) ++ends;
    if (m == WM_QUERYENDSESSION) return TRUE;
    return DefWindowProcA(h, m, wp, lp);
  }
  static int queries, ends;
};
int SessionWatch::queries = 0;
int SessionWatch::ends = 0;

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}
}  // namespace

// A script that always needs a restart: the finished page asks, the README
// is not offered; Yes makes setup.exe ask Windows to reboot after its
// window has closed. Wine answers with an end of the session (every
// top-level window is asked WM_QUERYENDSESSION and told WM_ENDSESSION) and
// restarts nothing: this test program lives on.
TEST(Finish, RestartQuestionYes) {
  sw::ScriptBuilder b = Quick();
  b.LicenseText.clear();
  b.InfoBeforeText.clear();
  b.Header.Flags |= 0x08;  // always restart
  sw::FileSpec readme;
  readme.DestName = "{app}\\README.TXT";
  readme.FileFlags = 0x20;
  readme.Contents = sw::Bytes(10, 'r');
  b.Files.push_back(readme);
  const std::string dist = MakeDistribution("restart", b);

  WNDCLASSA wc{};
  wc.lpfnWndProc = SessionWatch::Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "QvSessionWatch";
  RegisterClassA(&wc);
  HWND watch = CreateWindowA("QvSessionWatch", "session watch", WS_OVERLAPPED, 0, 0, 10, 10,
                             nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(watch, nullptr);

  SetupRun s(dist);
  HWND w = InstallToFinished(s, false);
  s.Control(w, "Setup has made changes to your computer and you are advised to restart your "
               "computer now. Would you like to do it now?");
  HWND yes = s.Control(w, "Yes, restart my computer now", "Button");
  HWND no = s.Control(w, "No, I will restart my computer later", "Button");
  EXPECT_TRUE(IsWindowVisible(yes));
  EXPECT_TRUE(IsWindowVisible(no));
  EXPECT_EQ(SendMessageA(yes, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(no, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_FALSE(IsWindowVisible(s.Control(w, "Yes, I would like to view the Readme file")));
  EXPECT_EQ(FocusedWindow(w), yes);
  Screenshot("finished-restart", w);
  ClickButton(w, "Finish");
  bool box = false;
  EXPECT_TRUE(WaitUntil([&] {
    Pump();
    WindowQuery q;
    q.class_name = "#32770";
    q.pid = s.Pid();
    HWND b = FindTopLevel(q);
    if (b) {
      box = true;
      ADD_FAILURE() << "restart refused: " << ReadMessageBox(b).Describe();
      AnswerMessageBox(b, "OK");
    }
    return !s.Process().Running();
  }, kTimeout));
  EXPECT_FALSE(box);
  EXPECT_EQ(s.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([] {
    Pump();
    return SessionWatch::ends > 0;
  }, kTimeout));
  EXPECT_GT(SessionWatch::queries, 0);
  DestroyWindow(watch);
}

namespace {
// The colour of a pixel for a script colour (red in the low byte) scaled by
// f as the gradient does, in the screen's 0xRRGGBB.
DWORD Scaled(DWORD script_rgb, int f) {
  const DWORD r = (script_rgb & 0xFF) * f / 255, g = ((script_rgb >> 8) & 0xFF) * f / 255,
              b = ((script_rgb >> 16) & 0xFF) * f / 255;
  return (r << 16) | (g << 8) | b;
}

RECT ClientOnScreen(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  POINT tl{r.left, r.top}, br{r.right, r.bottom};
  ClientToScreen(w, &tl);
  ClientToScreen(w, &br);
  return RECT{tl.x, tl.y, br.x, br.y};
}

bool HasColour(const Pixels& p, DWORD rgb) {
  for (DWORD c : p.px)
    if ((c & 0xFFFFFF) == rgb) return true;
  return false;
}
}  // namespace

// The gradient: 64 bands of H/63 rows from the full colour down; the title
// and subtitle in white over a black shadow; the About item of the system
// menu; a key press on the background brings the wizard forward. Then the
// solid background in a system colour.
TEST(Background, GradientTitleAboutAndKeys) {
  sw::ScriptBuilder b = Quick();
  const std::string dist = MakeDistribution("background", b);
  {
    SetupRun s(dist);
    HWND bg = s.Background();
    HWND w = s.WaitPage("Welcome");
    const RECT c = ClientOnScreen(bg);
    const int h = c.bottom - c.top, x = c.right - 3;
    EXPECT_EQ(c.right - c.left, GetSystemMetrics(SM_CXSCREEN));
    for (int band : {0, 31, 62}) {
      const int top = c.top + MulDiv(h, band, 63), bottom = c.top + MulDiv(h, band + 1, 63);
      const DWORD want = Scaled(0x0040C080, 255 - 4 * band);
      EXPECT_TRUE(WaitPixel(x, top, want)) << "band " << band;
      EXPECT_TRUE(WaitPixel(x, (top + bottom) / 2, want)) << "band " << band;
      EXPECT_TRUE(WaitPixel(x, std::min<int>(bottom, c.bottom) - 1, want)) << "band " << band;
      if (band > 0) {
        EXPECT_TRUE(WaitPixel(x, top - 1, Scaled(0x0040C080, 255 - 4 * (band - 1))));
      }
    }
    // The title (25 points) and the subtitle below it, each white over black.
    const Pixels title = CaptureScreen(RECT{c.left + 9, c.top + 9, c.left + 260, c.top + 50});
    EXPECT_TRUE(HasColour(title, 0xFFFFFF));
    EXPECT_TRUE(HasColour(title, 0x000000));
    const Pixels subtitle = CaptureScreen(RECT{c.left + 11, c.top + 50, c.left + 200, c.top + 66});
    EXPECT_TRUE(HasColour(subtitle, 0xFFFFFF));
    EXPECT_TRUE(HasColour(subtitle, 0x000000));
    Screenshot("background-gradient", w);

    // About: a command value with more bits than 9999 is not the item.
    PostMessageA(bg, WM_SYSCOMMAND, 9999 | 0x10000, 0);
    PostMessageA(bg, WM_SYSCOMMAND, 9999, 0);
    HWND about = s.WaitPage("About Quorvel");
    EXPECT_EQ(GetState(about).owner, bg);
    s.Control(about, "QuorvelR");
    s.Control(about, "Version 2.00.312");
    RECT ac{};
    GetClientRect(about, &ac);
    EXPECT_EQ(ac.right, 344);
    EXPECT_EQ(ac.bottom, 113);
    EXPECT_FALSE(IsWindowEnabled(w));  // modal
    ClickButton(about, "OK");
    EXPECT_TRUE(WaitForWindowGone(about, kTimeout));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(w) != FALSE; }, kTimeout));
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(bg, WM_NULL, 0, 0, SMTO_NORMAL, kTimeout, &ignored);
    EXPECT_FALSE(IsWindowVisible(about));

    // A key on the background: the wizard comes to the front.
    // Closing the About box hands the activation back to the wizard a
    // moment later, which can undo a single request: ask until it holds.
    ASSERT_TRUE(WaitUntil(
        [&] {
          if (ActiveWindow(bg) == bg) return true;
          SetForegroundWindow(bg);
          return false;
        },
        kTimeout));
    PostKey(bg, 'A');
    EXPECT_TRUE(WaitUntil([&] { return ActiveWindow(bg) == w; }, kTimeout));
    ClickButton(w, "Cancel");
    s.Answer("Exit Setup", "Yes");
    EXPECT_EQ(s.ExitCode(), 1u);
  }
  {
    b.Header.Flags |= 0x10;                  // solid
    b.Header.BackgroundColor = 0x8000000D;   // the system colour COLOR_HIGHLIGHT
    SetupRun s(MakeDistribution("solid", b));
    HWND bg = s.Background();
    s.WaitPage("Welcome");
    const RECT c = ClientOnScreen(bg);
    const COLORREF sys = GetSysColor(COLOR_HIGHLIGHT);
    const DWORD want = (GetRValue(sys) << 16) | (GetGValue(sys) << 8) | GetBValue(sys);
    for (int y : {c.top + 1, (c.top + c.bottom) / 2, c.bottom - 1})
      EXPECT_TRUE(WaitPixel(c.right - 3, y, want)) << y;
    PostClose(bg);
    s.Answer("Exit Setup", "Yes");
    EXPECT_EQ(s.ExitCode(), 1u);
  }
}

// While a run entry is waited for, closing the background window is
// refused without a question; once the finished page shows, its close box
// ends the program at once (the installation is done: exit code 0), without
// the finishing actions.
TEST(Finish, ClosingWhileRunEntriesRunThenOnTheFinishedPage) {
  sw::ScriptBuilder b = Quick();
  b.LicenseText.clear();
  b.InfoBeforeText.clear();
  sw::FileSpec exe = testdata::FileEntry("{app}\\WAIT.EXE", BuildProgram("runprobe.exe"));
  b.Files.push_back(exe);
  b.Runs = {{"{app}\\WAIT.EXE",
             "--name wait --announce \"{app}\\started.flag\" --wait-for \"{app}\\go.flag\"", 0}};
  SetupRun s(MakeDistribution("busy", b));
  HWND bg = s.Background();
  HWND w = WalkToInstallation(s);
  ASSERT_TRUE(WaitUntil([] { return Exists(kApp + "\\started.flag"); }, kTimeout));
  PostClose(bg);
  PostMessageA(bg, WM_SYSCOMMAND, SC_CLOSE, 0);
  // setup.exe handles its messages while it waits: each sent message is
  // handled inside one PeekMessage, which then returns the next posted one,
  // so after three round trips both closes have been handled (and refused:
  // otherwise the program would end instead of showing the finished page).
  for (int i = 0; i < 3; ++i) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(bg, WM_NULL, 0, 0, SMTO_NORMAL, kTimeout, &ignored);
  }
  HANDLE go = CreateFileA((kApp + "\\go.flag").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          0, nullptr);
  CloseHandle(go);
  bool asked = false;
  EXPECT_TRUE(WaitUntil([&] {
    WindowQuery q;
    q.class_name = "#32770";
    q.pid = s.Pid();
    if (FindTopLevel(q)) asked = true;
    return asked || (IsWindowVisible(w) && GetText(w) == "Setup Complete");
  }, kTimeout));
  EXPECT_FALSE(asked);
  EXPECT_EQ(ProbeLines(), std::vector<std::string>{"wait waited=yes"});
  PostClose(w);
  EXPECT_EQ(s.ExitCode(), 0u);
}
