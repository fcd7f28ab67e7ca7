// The keyboard routing of the windowing layer, in process: the keys are
// posted to the focused control and go through the layer's message loop as
// a user's would.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "forms/controls.h"
#include "tests/wine/box_answerer.h"

namespace {

using namespace forms;

// A form laid out like the wizard's licence page: a read-only memo on a
// page of a notebook, an edit, a memo that keeps Enter, and the buttons.
class TKeysForm : public TForm {
 public:
  TNotebook Pages;
  TMemo ReadOnlyMemo;
  TEdit Edit;
  TMemo NotesMemo;
  TButton BackButton, NextButton, CancelButton;
  int back = 0, next = 0, cancel = 0;

  TKeysForm() {
    TFormArgs args;
    args.caption = "Keys";
    args.client_width = 320;
    args.client_height = 240;
    CreateForm(args);
    const TLayoutItem layout[] = {
        {&Pages, {0, 0, 320, 200}, "", 0, 2},
        {&BackButton, {8, 208, 75, 23}, "< &Back"},
        {&NextButton, {88, 208, 75, 23}, "&Next >", coDefault},
        {&CancelButton, {168, 208, 75, 23}, "Cancel", coCancel},
    };
    CreateControls(layout);
    const TLayoutItem page[] = {
        {&ReadOnlyMemo, {8, 8, 300, 80}, "one\r\ntwo", coReadOnly | coVScroll, 0, nullptr,
         Pages.Page(0)},
        {&Edit, {8, 96, 300, 22}, "edit", 0, 0, nullptr, Pages.Page(0)},
        {&NotesMemo, {8, 124, 300, 60}, "", coWantReturn, 0, nullptr, Pages.Page(0)},
    };
    CreateControls(page);
    BackButton.onClick = [this] { ++back; };
    NextButton.onClick = [this] { ++next; };
    CancelButton.onClick = [this] { ++cancel; };
  }
};

void Press(TControl& focus, WPARAM key) {
  focus.SetFocus();
  ProcessMessages();
  PostMessageA(focus.Handle(), WM_KEYDOWN, key, 0);
  ProcessMessages();
}

TEST(FormKeys, TabEnterAndEscReachTheRightControls) {
  TKeysForm form;
  form.Show();
  ProcessMessages();

  // Tab leaves a read-only memo for the next control in the layout order.
  Press(form.ReadOnlyMemo, VK_TAB);
  EXPECT_EQ(GetFocus(), form.Edit.Handle());

  // Enter in a memo without coWantReturn, and in an edit, presses the
  // default button.
  Press(form.ReadOnlyMemo, VK_RETURN);
  Press(form.Edit, VK_RETURN);
  EXPECT_EQ(form.next, 2);

  // A memo with coWantReturn keeps Enter (a new line), the buttons stay.
  form.NotesMemo.SetText("ab");
  SendMessageA(form.NotesMemo.Handle(), EM_SETSEL, 1, 1);
  Press(form.NotesMemo, VK_RETURN);
  EXPECT_EQ(form.next, 2);
  EXPECT_EQ(form.NotesMemo.Text(), "a\r\nb");

  // Enter on a focused push button presses that button, not the default.
  Press(form.BackButton, VK_RETURN);
  EXPECT_EQ(form.back, 1);
  EXPECT_EQ(form.next, 2);

  // Esc presses the cancel button wherever the focus is; a disabled cancel
  // button is not pressed, and the page holding the memo survives the
  // close request the memo then sends.
  Press(form.ReadOnlyMemo, VK_ESCAPE);
  EXPECT_EQ(form.cancel, 1);
  form.CancelButton.SetEnabled(false);
  Press(form.ReadOnlyMemo, VK_ESCAPE);
  EXPECT_EQ(form.cancel, 1);
  EXPECT_TRUE(IsWindow(form.Pages.Page(0)->ContainerHandle()));
  EXPECT_TRUE(form.ReadOnlyMemo.Visible());
  EXPECT_TRUE(form.Visible());
}

// A modal form whose OK button is the default; its close query fails the
// first time.
class TModalForm : public TForm {
 public:
  TButton OkButton;
  int queries = 0;

  TModalForm() {
    TFormArgs args;
    args.caption = "Modal";
    args.client_width = 200;
    args.client_height = 80;
    CreateForm(args);
    const TLayoutItem layout[] = {{&OkButton, {60, 40, 75, 23}, "OK", coDefault, mrOk}};
    CreateControls(layout);
  }
  bool FormCloseQuery() override {
    if (queries++ == 0) throw Exception("Not yet");
    return true;
  }
};

// What Enter and Esc run stands behind the same barrier as what a mouse
// click runs: a failure in the button's handler, or in a modal form's
// close query, is shown in the exception box and the forms go on.
TEST(FormKeys, FailuresOfWhatAKeyRunsAreShownAndTheFormsGoOn) {
  qvtest::BoxAnswerer boxes("Setup", {});
  TKeysForm form;
  form.NextButton.onClick = [&form] {
    ++form.next;
    throw Exception("Next failed");
  };
  form.CancelButton.onClick = [&form] {
    ++form.cancel;
    throw std::runtime_error("Cancel failed");
  };
  form.Show();
  ProcessMessages();
  EXPECT_NO_THROW(Press(form.Edit, VK_RETURN));
  EXPECT_NO_THROW(Press(form.Edit, VK_ESCAPE));
  EXPECT_EQ(form.next, 1);
  EXPECT_EQ(form.cancel, 1);
  EXPECT_TRUE(form.Visible());

  // Enter: the close query fails and the form stays; Enter again closes it.
  TModalForm modal;
  boxes.EnterAfterEachBox(modal.OkButton.Handle());
  PostMessageA(modal.OkButton.Handle(), WM_KEYDOWN, VK_RETURN, 0);
  int result = mrNone;
  EXPECT_NO_THROW(result = modal.ShowModal());
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(modal.queries, 2);

  std::vector<std::string> shown;
  for (const qvui::MessageBoxInfo& box : boxes.Finish()) shown.push_back(box.text);
  EXPECT_EQ(shown, (std::vector<std::string>{"Next failed", "Cancel failed", "Not yet"}));
}

}  // namespace
