// Drives bench_gui.exe through the UI driver, from outside, as the end-to-end
// scenarios drive setup.exe.
#include "uidriver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvui;

namespace {

constexpr DWORD kWait = 15000;

std::string GuiCommand(const std::string& args = "") {
  return BinPath("bench_gui.exe") + (args.empty() ? "" : " " + args);
}

// A started bench_gui with its main window found.
struct Gui {
  explicit Gui(const std::string& args = "") : proc(GuiCommand(args)) {
    WindowQuery q;
    q.caption = "Bench Window";
    q.class_name = "QvBenchMain";
    q.pid = proc.Pid();
    main = WaitForWindow(q, kWait);
  }
  HWND Ctl(int id) const { return ControlById(main, id); }
  std::string Text(int id) const { return GetText(Ctl(id)); }

  UiProcess proc;
  HWND main = nullptr;
};

bool WaitForText(HWND h, const std::string& want) {
  return WaitUntil([&] { return GetText(h) == want; }, kWait);
}

TEST(UiDriverControls, ReadsTextClassIdStateAndGeometry) {
  Gui gui;
  std::vector<ControlInfo> controls = Controls(gui.main);
  ASSERT_EQ(controls.size(), 9u) << ListControls(gui.main);

  ControlInfo edit = ReadControl(gui.Ctl(101));
  EXPECT_EQ(edit.class_name, "Edit");
  EXPECT_EQ(edit.text, "initial");
  EXPECT_EQ(edit.id, 101);
  EXPECT_TRUE(edit.visible);
  EXPECT_TRUE(edit.enabled);
  EXPECT_EQ(edit.checked, -1);
  EXPECT_EQ(edit.parent, gui.main);
  // Created at (80,10) size 200x22 in the main window's client area.
  EXPECT_EQ(edit.client.left, 80);
  EXPECT_EQ(edit.client.top, 10);
  EXPECT_EQ(edit.client.right - edit.client.left, 200);
  EXPECT_EQ(edit.client.bottom - edit.client.top, 22);
  POINT origin = {0, 0};
  ClientToScreen(gui.main, &origin);
  EXPECT_EQ(edit.screen.left, origin.x + 80);
  EXPECT_EQ(edit.screen.top, origin.y + 10);

  ControlInfo label = ReadControl(gui.Ctl(100));
  EXPECT_EQ(label.class_name, "Static");
  EXPECT_EQ(label.text, "&Name:");
  EXPECT_EQ(ControlByText(gui.main, "Name:", "Static"), label.hwnd);

  ControlInfo check = ReadControl(ButtonByCaption(gui.main, "Remember me"));
  EXPECT_EQ(check.id, 104);
  EXPECT_EQ(check.checked, BST_UNCHECKED);

  ControlInfo disabled = ReadControl(gui.Ctl(105));
  EXPECT_TRUE(disabled.visible);
  EXPECT_FALSE(disabled.enabled);
  EXPECT_EQ(disabled.checked, -1);  // a push button has no check state

  ControlInfo hidden = ReadControl(gui.Ctl(108));
  EXPECT_FALSE(hidden.visible);
  EXPECT_EQ(hidden.text, "Hidden");

  try {
    ControlById(gui.main, 999);
    ADD_FAILURE() << "no exception for a missing id";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("no control with id 999"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("\"&Show Box\""), std::string::npos) << e.what();
  }
}

TEST(UiDriverInput, TypesClicksAndRefusesWhatAUserCouldNotClick) {
  Gui gui;
  HWND edit = gui.Ctl(101);
  SetEditText(edit, "hello world");
  EXPECT_EQ(GetText(edit), "hello world");
  // The program saw EN_CHANGE and mirrored the text.
  EXPECT_TRUE(WaitForText(gui.Ctl(106), "Echo: hello world")) << gui.Text(106);

  TypeChars(edit, ", again");
  EXPECT_TRUE(WaitForText(edit, "hello world, again")) << GetText(edit);
  EXPECT_TRUE(WaitForText(gui.Ctl(106), "Echo: hello world, again")) << gui.Text(106);

  HWND check = gui.Ctl(104);
  ClickButton(gui.main, "Remember me");
  EXPECT_TRUE(WaitUntil([&] { return ReadControl(check).checked == BST_CHECKED; }, kWait));
  ClickButton(gui.main, "&Remember me");
  EXPECT_TRUE(WaitUntil([&] { return ReadControl(check).checked == BST_UNCHECKED; }, kWait));

  try {
    ClickButtonById(gui.main, 105);
    ADD_FAILURE() << "clicked a disabled button";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("is disabled"), std::string::npos) << e.what();
  }
  try {
    ClickButton(gui.main, "No Such Button");
    ADD_FAILURE() << "clicked a missing button";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("no Button \"No Such Button\""), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("\"&Done\""), std::string::npos) << e.what();
  }

  // Done by WM_COMMAND: exit code = answer 0 * 10 + unchecked.
  ClickButton(gui.main, "Done", ClickBy::kCommand);
  EXPECT_EQ(gui.proc.WaitForExitCode(kWait), 0u);
}

struct BoxCase {
  const char* kind;
  MessageBoxIcon icon;
  std::vector<std::string> buttons;
  const char* press;
  int answer;  // the id MessageBox returns for that button
};

class UiDriverMessageBox : public testing::TestWithParam<BoxCase> {};

TEST_P(UiDriverMessageBox, ReadsTextIconAndButtonsAndAnswers) {
  const BoxCase& c = GetParam();
  Gui gui(std::string("/box=") + c.kind);
  SetEditText(gui.Ctl(101), std::string("text for ") + c.kind);
  ClickButton(gui.main, "Show Box");

  HWND box = WaitForMessageBox("Bench Box", kWait, gui.proc.Pid());
  MessageBoxInfo info = ReadMessageBox(box);
  EXPECT_EQ(info.caption, "Bench Box");
  EXPECT_EQ(info.text, std::string("You typed: text for ") + c.kind) << info.Describe();
  EXPECT_EQ(info.icon, c.icon) << info.Describe();
  EXPECT_EQ(info.buttons, c.buttons) << info.Describe();

  // The box is modal: its owner is disabled and cannot be clicked meanwhile.
  EXPECT_FALSE(GetState(gui.main).enabled);
  EXPECT_EQ(GetState(box).owner, gui.main);
  EXPECT_THROW(ClickButton(gui.main, "Done"), std::runtime_error);
  EXPECT_THROW(AnswerMessageBox(box, "Maybe"), std::runtime_error);

  AnswerMessageBox(box, c.press);
  EXPECT_TRUE(WaitForWindowGone(box, kWait));
  EXPECT_TRUE(WaitForText(gui.Ctl(107), "Answer: " + std::to_string(c.answer))) << gui.Text(107);
  EXPECT_TRUE(WaitUntil([&] { return GetState(gui.main).enabled; }, kWait));

  ClickButton(gui.main, "Remember me");
  EXPECT_TRUE(WaitUntil([&] { return ReadControl(gui.Ctl(104)).checked == BST_CHECKED; }, kWait));
  ClickButton(gui.main, "Done");
  EXPECT_EQ(gui.proc.WaitForExitCode(kWait), static_cast<DWORD>(c.answer * 10 + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UiDriverMessageBox,
    testing::Values(
        BoxCase{"hand", MessageBoxIcon::kHand, {"Abort", "Retry", "Ignore"}, "Retry", IDRETRY},
        BoxCase{"question", MessageBoxIcon::kQuestion, {"Yes", "No"}, "No", IDNO},
        BoxCase{"exclamation", MessageBoxIcon::kExclamation, {"OK", "Cancel"}, "Cancel", IDCANCEL},
        BoxCase{"asterisk", MessageBoxIcon::kAsterisk, {"OK"}, "OK", IDOK},
        BoxCase{"none", MessageBoxIcon::kNone, {"Retry", "Cancel"}, "Retry", IDRETRY}),
    [](const testing::TestParamInfo<BoxCase>& p) { return std::string(p.param.kind); });

TEST(UiDriverState, TopmostZOrderAndFocus) {
  Gui gui("/tool");
  WindowQuery q;
  q.caption = "Bench Tool";
  q.pid = gui.proc.Pid();
  HWND tool = WaitForWindow(q, kWait);

  EXPECT_TRUE(GetState(tool).topmost);
  EXPECT_FALSE(GetState(gui.main).topmost);
  EXPECT_TRUE(GetState(gui.main).visible);
  EXPECT_TRUE(GetState(gui.main).enabled);
  EXPECT_TRUE(IsAbove(tool, gui.main));
  EXPECT_FALSE(IsAbove(gui.main, tool));
  // Siblings: the edit was created before the check box, so it is above it.
  EXPECT_TRUE(IsAbove(gui.Ctl(101), gui.Ctl(104)));
  EXPECT_THROW(IsAbove(gui.Ctl(101), tool), std::runtime_error);

  EXPECT_TRUE(WaitUntil([&] { return FocusedWindow(gui.main) == gui.Ctl(101); }, kWait))
      << "focus is on " << ReadControl(FocusedWindow(gui.main)).Describe();
  EXPECT_EQ(ActiveWindow(gui.main), gui.main);

  gui.proc.Terminate(7);
  EXPECT_FALSE(gui.proc.Running());
  EXPECT_EQ(gui.proc.ExitCode(), 7u);
  EXPECT_FALSE(GetState(tool).exists);
}

TEST(UiDriverWindows, AMissingWindowListsTheWindowsThatExist) {
  Gui gui;
  WindowQuery q;
  q.caption = "No Such Window";
  try {
    WaitForWindow(q, 300);
    ADD_FAILURE() << "found a window that does not exist";
  } catch (const std::runtime_error& e) {
    std::string msg = e.what();
    EXPECT_NE(msg.find("no top-level window caption \"No Such Window\" appeared within 300 ms"),
              std::string::npos)
        << msg;
    EXPECT_NE(msg.find("\"Bench Window\" class \"QvBenchMain\" pid " +
                       std::to_string(gui.proc.Pid()) + " visible"),
              std::string::npos)
        << msg;
  }

  // The window exists, but not for another process id.
  WindowQuery other;
  other.caption = "Bench Window";
  other.pid = GetCurrentProcessId();
  EXPECT_EQ(FindTopLevel(other), nullptr);
  EXPECT_THROW(WaitForWindow(other, 100), std::runtime_error);
  other.pid = 0;
  EXPECT_EQ(FindTopLevel(other), gui.main);
}

TEST(UiDriverProcess, ExitCodesTimeoutsAndStartFailures) {
  Gui gui;
  EXPECT_TRUE(gui.proc.Running());
  EXPECT_THROW(gui.proc.ExitCode(), std::runtime_error);
  try {
    gui.proc.WaitForExitCode(200);
    ADD_FAILURE() << "a running process reported an exit code";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("did not end within 200 ms"), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("\"Bench Window\""), std::string::npos) << e.what();
  }
  PostClose(gui.main);
  EXPECT_EQ(gui.proc.WaitForExitCode(kWait), 0u);

  try {
    UiProcess missing(BinPath("no-such-program.exe"));
    ADD_FAILURE() << "started a program that does not exist";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("CreateProcess failed"), std::string::npos) << e.what();
  }
}

TEST(UiDriverText, StripAcceleratorKeepsDoubledAmpersands) {
  EXPECT_EQ(StripAccelerator("&Next >"), "Next >");
  EXPECT_EQ(StripAccelerator("Save && E&xit"), "Save & Exit");
  EXPECT_EQ(StripAccelerator("trailing&"), "trailing");
}

}  // namespace
