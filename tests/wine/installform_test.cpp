// Drives the install window of installform_target.exe from outside: its
// window and controls, the progress range beyond 16 bits, Cancel and Esc
// through the exit question, the success report to the owner, the failure
// report with rollback, and modal showing.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/winebench/qvtest.h"
#include "uidriver.h"

namespace {

using namespace qvui;

constexpr DWORD kWait = 15000;
const char kExitQuestion[] =
    "Setup is not complete. If you quit now, the program will not be installed.\r\n\r\n"
    "You may run the Setup program again at a another time to complete the installation."
    "\r\n\r\nExit Setup?";

std::string Tmp(const std::string& name) { return qvtest::TmpDir() + name; }

// How far along its width a progress bar is drawn in the highlight colour:
// the rightmost such pixel of the middle row, as a fraction of the width.
double DrawnFraction(HWND bar) {
  RECT r{};
  GetWindowRect(bar, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(mem, bitmap);
  BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  const COLORREF fill = GetSysColor(COLOR_HIGHLIGHT);
  int rightmost = -1;
  for (int x = 0; x < width; ++x)
    if (GetPixel(mem, x, height / 2) == fill) rightmost = x;
  SelectObject(mem, old);
  DeleteObject(bitmap);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return static_cast<double>(rightmost + 1) / width;
}

bool Exists(const std::string& name) {
  return GetFileAttributesA(Tmp(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadResult() {
  std::ifstream in(Tmp("result.txt"));
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class InstallFormTest : public ::testing::Test {
 protected:
  void Start(const std::string& mode) {
    DeleteFileA(Tmp("result.txt").c_str());
    DeleteFileA(Tmp("go").c_str());
    RemoveDirectoryA(Tmp("made").c_str());
    proc_ = std::make_unique<UiProcess>(BinPath("installform_target.exe") + " " + mode);
    owner_ = Wait("QvOwner");
    install_ = Wait("Setup");
  }
  HWND Wait(const std::string& caption) {
    WindowQuery q;
    q.caption = caption;
    q.pid = proc_->Pid();
    return WaitForWindow(q, kWait);
  }
  HWND Control(const char* class_name) {
    for (const ControlInfo& c : Controls(install_))
      if (lstrcmpiA(c.class_name.c_str(), class_name) == 0) return c.hwnd;
    ADD_FAILURE() << "no " << class_name << " in\n" << ListControls(install_);
    return nullptr;
  }
  // The steps have set the copying texts and then moved the bar.
  void WaitForCopying() {
    HWND gauge = Control("msctls_progress32");
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(gauge, PBM_GETPOS, 0, 0) != 0; }, kWait))
        << ListControls(install_);
  }
  // The box has gone before its caller enables the windows again.
  bool WaitEnabled(HWND wnd) {
    return WaitUntil([&] { return GetState(wnd).enabled; }, kWait);
  }
  enum class By { kButton, kEscape, kCloseBox };
  // Asks to cancel, checks the question, answers.
  void AskToCancel(By by, const std::string& answer) {
    ASSERT_TRUE(WaitEnabled(install_)) << "still inert after an earlier box";
    if (by == By::kEscape)
      PostMessageA(ButtonByCaption(install_, "Cancel"), WM_KEYDOWN, VK_ESCAPE, 0);
    else if (by == By::kCloseBox)
      PostClose(install_);
    else
      ClickButton(install_, "Cancel");
    HWND box = WaitForMessageBox("Exit Setup", kWait, proc_->Pid());
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, kExitQuestion);
    EXPECT_EQ(info.icon, MessageBoxIcon::kQuestion) << info.Describe();
    EXPECT_EQ(info.buttons, (std::vector<std::string>{"Yes", "No"}));
    HWND no = ButtonByCaption(box, "No");
    EXPECT_EQ(GetWindowLongA(no, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "No is the default";
    EXPECT_TRUE(WaitUntil([&] { return FocusedWindow(box) == no; }, kWait)) << "No has the focus";
    EXPECT_FALSE(GetState(install_).enabled) << "the install window is inert under the question";
    AnswerMessageBox(box, answer);
    EXPECT_TRUE(WaitForWindowGone(box, kWait));
  }
  void TearDown() override {
    if (proc_ && proc_->Running()) proc_->Terminate();
  }

  std::unique_ptr<UiProcess> proc_;
  HWND owner_ = nullptr;
  HWND install_ = nullptr;
};

// The window as laid out, the progress range, Cancel, Esc and the close box
// answered No,
// an exception in a handler shown, then the installation goes on to its end
// and tells the owner.
TEST_F(InstallFormTest, ShowsProgressAsksBeforeCancellingAndReportsSuccess) {
  Start("run");
  WaitForCopying();

  RECT client{};
  GetClientRect(install_, &client);
  EXPECT_EQ(client.right, 389);
  EXPECT_EQ(client.bottom, 140);
  const LONG style = GetWindowLongA(install_, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_TRUE(GetWindowLongA(install_, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  EXPECT_EQ(GetState(install_).owner, owner_);
  // Centred over the owner's client area, halves truncated.
  RECT oc{}, w{};
  GetClientRect(owner_, &oc);
  MapWindowPoints(owner_, nullptr, reinterpret_cast<POINT*>(&oc), 2);
  GetWindowRect(install_, &w);
  EXPECT_EQ(w.left, (oc.left + oc.right) / 2 - (w.right - w.left) / 2);
  EXPECT_EQ(w.top, (oc.top + oc.bottom) / 2 - (w.bottom - w.top) / 2);

  struct Expected {
    const char* class_name;
    RECT rect;  // left, top, right, bottom in the client area
    const char* text;
  };
  const Expected expected[] = {
      {"SysAnimate32", {8, 8, 280, 68}, nullptr},
      {"Static", {8, 80, 305, 96}, "Copying Program files..."},
      {"Static", {8, 96, 305, 112}, "C:\\Program Files\\Forms Test\\data.bin"},
      {"msctls_progress32", {8, 112, 305, 127}, nullptr},
      {"Button", {312, 111, 385, 134}, "Cancel"},
  };
  const std::vector<ControlInfo> controls = Controls(install_);
  ASSERT_EQ(controls.size(), 5u) << ListControls(install_);
  for (size_t i = 0; i < 5; ++i) {
    const ControlInfo& c = controls[i];
    EXPECT_EQ(c.class_name, expected[i].class_name) << c.Describe();
    EXPECT_TRUE(EqualRect(&c.client, &expected[i].rect)) << c.Describe();
    if (expected[i].text) {
      EXPECT_EQ(c.text, expected[i].text);
    }
  }

  // 100000 + 50000 + 20000 compressed, 2 icons, INI entries, no registry:
  // 173000, given to the control in 15 bits (shifted right by 3), as every
  // version of the control takes it; the position goes with the same shift.
  HWND gauge = Control("msctls_progress32");
  EXPECT_EQ(SendMessageA(gauge, PBM_GETRANGE, FALSE, 0), 173000 >> 3);
  EXPECT_EQ(SendMessageA(gauge, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(gauge, PBM_GETPOS, 0, 0), 86500 >> 3);
  // Half the range is half the bar.
  double drawn = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        drawn = DrawnFraction(gauge);
        return drawn > 0.4 && drawn < 0.6;
      },
      kWait))
      << "drawn to " << drawn << " of the width";

  AskToCancel(By::kButton, "No");
  AskToCancel(By::kEscape, "No");
  AskToCancel(By::kCloseBox, "No");
  // An exception out of a handler that runs inside a check point is shown
  // and the installation goes on.
  PostMessageA(owner_, WM_APP + 1, 0, 0);
  HWND box = WaitForMessageBox("Setup", kWait, proc_->Pid());
  const MessageBoxInfo info = ReadMessageBox(box);
  EXPECT_EQ(info.text, "A handler failed on purpose");
  EXPECT_EQ(info.icon, MessageBoxIcon::kHand) << info.Describe();
  AnswerMessageBox(box, "OK");
  EXPECT_TRUE(WaitEnabled(install_));
  EXPECT_TRUE(GetState(install_).visible);
  EXPECT_TRUE(proc_->Running());

  std::ofstream(Tmp("go")).put('x');
  EXPECT_EQ(proc_->WaitForExitCode(kWait), 0u);
  EXPECT_EQ(ReadResult(), "animation playing\ninstcheck 1\nsetupstep\n");
  EXPECT_TRUE(Exists("made")) << "a successful installation keeps its changes";
}

// Esc answered Yes: the next check point aborts silently, the recorded
// folder is taken back, the owner hears nothing, the exit code is 1.
TEST_F(InstallFormTest, ConfirmedCancelRollsBackSilently) {
  Start("run");
  WaitForCopying();
  ASSERT_TRUE(Exists("made"));
  AskToCancel(By::kEscape, "Yes");
  EXPECT_EQ(proc_->WaitForExitCode(kWait), 1u) << ListTopLevelWindows(proc_->Pid());
  EXPECT_FALSE(Exists("made"));
  EXPECT_EQ(ReadResult(), "animation playing\n");
}

// A failing step: its message, then "Setup was not complete...", then the
// rollback and exit code 1; exhausted memory in a step is such a failure.
TEST_F(InstallFormTest, FailureIsReportedThenRolledBack) {
  const struct {
    const char* mode;
    const char* message;
  } failures[] = {
      {"fail", "Setup was unable to create the Folder - C:\\nowhere"},
      {"nomemory", "Out of memory"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.mode);
    Start(f.mode);
    HWND box = WaitForMessageBox("Setup", kWait, proc_->Pid());
    MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, f.message);
    EXPECT_EQ(info.icon, MessageBoxIcon::kHand) << info.Describe();
    EXPECT_EQ(info.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(Exists("made")) << "rolled back only after the messages";
    AnswerMessageBox(box, "OK");

    box = WaitForMessageBox("Error", kWait, proc_->Pid());
    info = ReadMessageBox(box);
    EXPECT_EQ(info.text,
              "Setup was not complete.\r\n\r\nPlease correct the problem and run Setup again.");
    EXPECT_EQ(info.icon, MessageBoxIcon::kHand) << info.Describe();
    EXPECT_EQ(info.buttons, std::vector<std::string>{"OK"});
    AnswerMessageBox(box, "OK");

    EXPECT_EQ(proc_->WaitForExitCode(kWait), 1u) << ListTopLevelWindows(proc_->Pid());
    EXPECT_FALSE(Exists("made"));
    EXPECT_EQ(ReadResult(), "animation playing\n");
  }
}

// Shown modally, the form disables its owner until it closes; Esc presses
// the cancel button, whose modal result ends the modal loop.
TEST_F(InstallFormTest, ModalShowingDisablesTheOwnerUntilClosed) {
  Start("modal");
  EXPECT_TRUE(WaitUntil([&] { return !GetState(owner_).enabled; }, kWait));
  EXPECT_TRUE(GetState(install_).visible);
  EXPECT_TRUE(GetState(install_).enabled);
  PostMessageA(ButtonByCaption(install_, "Cancel"), WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(proc_->WaitForExitCode(kWait), 0u);
  EXPECT_EQ(ReadResult(), "modal 2 owner enabled\n");
}

}  // namespace
