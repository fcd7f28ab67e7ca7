// The UI driver's readings that product tests rely on to tell one state from
// another: a driver that read every control as enabled, visible or
// unchecked, clicked a button a user could not click, found a window of
// another process, ordered windows wrongly or read a wrong exit code would
// let those tests pass for the wrong reason. The windows are this program's
// own; the message boxes' texts, icons and buttons are read in msgbox_test,
// where each kind shows a different icon.
#include "uidriver.h"

#include <gtest/gtest.h>

#include <string>

using namespace qvui;

namespace {

HWND Child(HWND parent, const char* cls, const char* text, DWORD style, int y, int id) {
  return CreateWindowExA(0, cls, text, WS_CHILD | style, 10, y, 150, 22, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

TEST(UiDriver, TellsStatesApartAndRefusesWhatAUserCouldNotDo) {
  HWND main = CreateWindowExA(0, "#32770", "Driver Main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                              300, 250, nullptr, nullptr, nullptr, nullptr);
  HWND tool = CreateWindowExA(WS_EX_TOPMOST, "#32770", "Driver Tool", WS_POPUP | WS_CAPTION | WS_VISIBLE,
                              400, 50, 200, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(main && tool);
  HWND on = Child(main, "Button", "&On", WS_VISIBLE | BS_AUTOCHECKBOX, 10, 101);
  Child(main, "Button", "Off", WS_VISIBLE | BS_AUTOCHECKBOX, 40, 102);
  Child(main, "Button", "Dis&abled", WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON, 70, 103);
  Child(main, "Button", "Hidden", BS_PUSHBUTTON, 100, 104);
  Child(main, "Button", "Save && E&xit", WS_VISIBLE | BS_PUSHBUTTON, 130, 105);
  SendMessageA(on, BM_SETCHECK, BST_CHECKED, 0);

  EXPECT_EQ(ReadControl(ControlById(main, 101)).checked, BST_CHECKED);
  EXPECT_EQ(ReadControl(ButtonByCaption(main, "Off")).checked, BST_UNCHECKED);
  const ControlInfo disabled = ReadControl(ButtonByCaption(main, "Disabled"));
  EXPECT_TRUE(disabled.visible);
  EXPECT_FALSE(disabled.enabled);
  EXPECT_EQ(disabled.checked, -1) << "a push button has no check state";
  const ControlInfo hidden = ReadControl(ControlById(main, 104));
  EXPECT_FALSE(hidden.visible);
  EXPECT_EQ(hidden.text, "Hidden");
  EXPECT_EQ(ButtonByCaption(main, "Save && Exit"), ControlById(main, 105));
  EXPECT_THROW(ClickButton(main, "Disabled"), std::runtime_error);
  EXPECT_THROW(ClickButton(main, "Hidden"), std::runtime_error);
  EnableWindow(main, FALSE);  // as under a modal box
  EXPECT_THROW(ClickButton(main, "Save && Exit"), std::runtime_error);
  EnableWindow(main, TRUE);

  EXPECT_TRUE(GetState(tool).topmost);
  EXPECT_FALSE(GetState(main).topmost);
  EXPECT_TRUE(IsAbove(tool, main));
  EXPECT_FALSE(IsAbove(main, tool));

  WindowQuery q;
  q.caption = "Driver Main";
  q.pid = GetCurrentProcessId();
  EXPECT_EQ(FindTopLevel(q), main);
  q.pid = GetCurrentProcessId() + 4;
  EXPECT_EQ(FindTopLevel(q), nullptr) << "a window of another process";
  DestroyWindow(tool);
  DestroyWindow(main);

  for (DWORD code : {0u, 7u}) {
    UiProcess cmd("cmd.exe /c exit " + std::to_string(code));
    EXPECT_EQ(cmd.WaitForExitCode(30000), code);
  }
}

}  // namespace
