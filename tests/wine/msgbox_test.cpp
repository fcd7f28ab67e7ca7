// Drives msgbox_target.exe from outside: the captions and icons of the kinds,
// and what the box does to the program's other windows while it is up.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/winebench/qvtest.h"
#include "uidriver.h"

namespace {

using namespace qvui;

constexpr UINT kCmdShow = WM_APP + 1;
constexpr DWORD kWait = 10000;

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = qvtest::TmpDir() + "activations.log";
    DeleteFileA(log_.c_str());
    proc_ = std::make_unique<UiProcess>(BinPath("msgbox_target.exe") + " \"" + log_ + "\"");
    // The target says when every window and control exists.
    ASSERT_TRUE(WaitForEvent("QvMsgboxTargetReady." + std::to_string(proc_->Pid()), kWait))
        << "the target did not get ready; its windows:\n" << ListTopLevelWindows(proc_->Pid());
    main_ = Wait("QvMain");
    second_ = Wait("QvSecond");
    disabled_ = Wait("QvDisabled");
    topmost_ = Wait("QvTopmost");
    edit_ = ControlById(second_, 100);
    result_ = ControlByText(main_, "Result", "Static");
    ASSERT_TRUE(WaitUntil([&] { return FocusedWindow(main_) == edit_; }, kWait))
        << "the edit control never had the focus";
  }
  void TearDown() override {
    if (proc_ && proc_->Running()) {
      PostClose(main_);
      proc_->WaitForExit(5000);
    }
  }
  HWND Wait(const std::string& caption) {
    WindowQuery q;
    q.caption = caption;
    q.pid = proc_->Pid();
    return WaitForWindow(q, kWait);
  }
  // Shows a box; returns it once it is up.
  HWND Show(int kind, int caption_mode, const std::string& expect_caption, UINT flags = 0) {
    PostMessageA(main_, kCmdShow, static_cast<WPARAM>(kind),
                 static_cast<LPARAM>(caption_mode | (flags << 8)));
    return WaitForMessageBox(expect_caption, kWait, proc_->Pid());
  }
  std::string WaitResult() {
    std::string r;
    WaitUntil(
        [&] {
          r = GetText(result_);
          return r.rfind("result ", 0) == 0;
        },
        kWait);
    return r;
  }

  // The windows the target activated, in order, one caption per line.
  std::string Activations() { return qvtest::ReadWholeFile(log_); }
  // Polls a condition on the target's windows, which Wine's X11 driver may
  // change a moment after the action that caused it.
  static bool Eventually(const std::function<bool()>& cond) { return WaitUntil(cond, kWait); }

  std::string log_;
  std::unique_ptr<UiProcess> proc_;
  HWND main_ = nullptr, second_ = nullptr, disabled_ = nullptr, topmost_ = nullptr;
  HWND edit_ = nullptr, result_ = nullptr;
};

TEST_F(MessageBoxTest, DefaultCaptionsAndIconsPerKind) {
  struct {
    int kind;
    const char* caption;
    MessageBoxIcon icon;
  } const kinds[] = {{0, "Information", MessageBoxIcon::kAsterisk},
                     {1, "Confirm", MessageBoxIcon::kQuestion},
                     {2, "Error", MessageBoxIcon::kExclamation},
                     {3, "Error", MessageBoxIcon::kHand}};
  for (const auto& k : kinds) {
    for (int mode : {0, 1}) {  // null caption, empty caption
      SCOPED_TRACE(std::string(k.caption) + (mode ? " (empty caption)" : " (null caption)"));
      SetWindowTextA(result_, "Result");
      HWND box = Show(k.kind, mode, k.caption);
      MessageBoxInfo info = ReadMessageBox(box);
      EXPECT_EQ(info.caption, k.caption);
      EXPECT_EQ(info.text, "Box text");
      EXPECT_EQ(IconName(info.icon), std::string(IconName(k.icon)));
      EXPECT_EQ(info.buttons, std::vector<std::string>{"OK"});
      EXPECT_EQ(GetState(box).owner, main_);
      AnswerMessageBox(box, "OK");
      EXPECT_EQ(WaitResult(), "result 1");
    }
  }
}

TEST_F(MessageBoxTest, GivenCaptionIsKeptAndButtonsComeBack) {
  HWND box = Show(1, 2, "Given Caption", MB_YESNO | MB_DEFBUTTON2);
  MessageBoxInfo info = ReadMessageBox(box);
  EXPECT_EQ(IconName(info.icon), std::string(IconName(MessageBoxIcon::kQuestion)));
  EXPECT_EQ(info.buttons, (std::vector<std::string>{"Yes", "No"}));
  AnswerMessageBox(box, "No");
  EXPECT_EQ(WaitResult(), "result 7");

  box = Show(3, 2, "Given Caption", MB_ABORTRETRYIGNORE);
  EXPECT_EQ(ReadMessageBox(box).buttons, (std::vector<std::string>{"Abort", "Retry", "Ignore"}));
  AnswerMessageBox(box, "Retry");
  EXPECT_EQ(WaitResult(), "result 4");
}

TEST_F(MessageBoxTest, FormattedText) {
  HWND box = Show(2, 3, "Error", MB_YESNO);
  MessageBoxInfo info = ReadMessageBox(box);
  EXPECT_EQ(info.text, "Box text no. 42");
  EXPECT_EQ(IconName(info.icon), std::string(IconName(MessageBoxIcon::kExclamation)));
  AnswerMessageBox(box, "Yes");
  EXPECT_EQ(WaitResult(), "result 6");
}

TEST_F(MessageBoxTest, OtherWindowsAreInertWhileTheBoxIsUp) {
  ASSERT_TRUE(GetState(topmost_).topmost);
  ASSERT_FALSE(GetState(disabled_).enabled);
  ASSERT_TRUE(Eventually([&] { return ActiveWindow(main_) == second_; }));
  HWND box = Show(2, 0, "Error");
  const size_t before_answer = Activations().size();
  // Every other window of the program is disabled; the stay-on-top one is
  // no longer stay-on-top and lies below the box.
  EXPECT_FALSE(GetState(main_).enabled);
  EXPECT_FALSE(GetState(second_).enabled);
  EXPECT_FALSE(GetState(disabled_).enabled);
  EXPECT_FALSE(GetState(topmost_).topmost);
  EXPECT_TRUE(GetState(topmost_).visible);
  EXPECT_TRUE(Eventually([&] { return IsAbove(box, topmost_); }));
  EXPECT_TRUE(GetState(box).enabled);

  AnswerMessageBox(box, "OK");
  ASSERT_EQ(WaitResult(), "result 1");
  // Afterwards: enabled again, except the one that was disabled before;
  // stay-on-top again; the window that was active before is activated again
  // (not the box's owner, QvMain), and the focus is back in the edit control.
  EXPECT_TRUE(GetState(main_).enabled);
  EXPECT_TRUE(GetState(second_).enabled);
  EXPECT_FALSE(GetState(disabled_).enabled);
  EXPECT_TRUE(GetState(topmost_).topmost);
  EXPECT_TRUE(Eventually([&] { return FocusedWindow(main_) == edit_; }))
      << "focus on " << ReadControl(FocusedWindow(main_)).Describe();
  EXPECT_TRUE(Eventually([&] { return ActiveWindow(main_) == second_; }))
      << "active: " << Describe(ActiveWindow(main_)).caption;
  EXPECT_TRUE(Eventually([&] {
    const std::string after = Activations().substr(before_answer);
    return after.size() >= 9 && after.compare(after.size() - 9, 9, "QvSecond\n") == 0;
  })) << "activations after the box was up:\n"
      << Activations().substr(before_answer);

  // A second box works the same way from the restored state.
  box = Show(0, 0, "Information");
  EXPECT_FALSE(GetState(second_).enabled);
  AnswerMessageBox(box, "OK");
  ASSERT_EQ(WaitResult(), "result 1");
  EXPECT_TRUE(GetState(second_).enabled);
  EXPECT_TRUE(Eventually([&] { return FocusedWindow(main_) == edit_; }));
  EXPECT_TRUE(Eventually([&] { return ActiveWindow(main_) == second_; }));

  // Without a focused control, the window that was active is still made
  // active again.
  box = Show(2, 4, "Error");
  const size_t before_second = Activations().size();
  AnswerMessageBox(box, "OK");
  ASSERT_EQ(WaitResult(), "result 1");
  EXPECT_TRUE(Eventually([&] { return ActiveWindow(main_) == second_; }))
      << "active: " << Describe(ActiveWindow(main_)).caption << "; activations:\n"
      << Activations().substr(before_second);
}

}  // namespace
