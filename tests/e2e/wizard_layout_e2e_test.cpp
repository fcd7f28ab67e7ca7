// The wizard's layout read from the running program: on every page, each
// control's class, text, position and size (relative to its page),
// visibility, enabled state and the tab order, against the design's
// tables with its texts written out here, placeholders replaced.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "tests/winebench/qvtest.h"

using namespace qvui;
using namespace e2e;

namespace {

constexpr int kAny = -1;

struct Expect {
  const char* cls;   // "Static", "Button", "Edit", "ListBox"
  std::string text;  // "" for controls without text (pictures, lines, memos)
  int left, top, width, height;  // kAny: not fixed (labels sized to their text)
  bool visible = true;
  bool enabled = true;
};

std::string Describe(const Expect& e) {
  std::ostringstream o;
  o << e.cls << " \"" << e.text << "\" at " << e.left << "," << e.top;
  return o.str();
}

// Finds the control of the expectation (class, text when given, position)
// and checks the rest; fails listing the wizard's controls otherwise.
void CheckControl(HWND wizard, const Expect& e) {
  auto fits = [](int got, int want) { return want == kAny || got == want; };
  const ControlInfo* candidate = nullptr;
  const std::vector<ControlInfo> controls = Controls(wizard);
  for (const ControlInfo& c : controls) {
    if (lstrcmpiA(c.class_name.c_str(), e.cls) != 0 || c.visible != e.visible) continue;
    if (!e.text.empty() && c.text != e.text) continue;
    if (!fits(c.client.left, e.left) || !fits(c.client.top, e.top)) continue;
    candidate = &c;
    if (fits(c.client.right - c.client.left, e.width) &&
        fits(c.client.bottom - c.client.top, e.height)) {
      EXPECT_EQ(c.enabled, e.enabled) << Describe(e);
      return;
    }
  }
  if (candidate)
    ADD_FAILURE() << Describe(e) << ": size " << candidate->client.right - candidate->client.left << " x "
                  << candidate->client.bottom - candidate->client.top << ", expected " << e.width << " x "
                  << e.height;
  else
    ADD_FAILURE() << "no " << (e.visible ? "visible " : "hidden ") << Describe(e) << " among\n"
                  << ListControls(wizard);
}

// The foot of every page and the outer page container.
std::vector<Expect> Foot(bool back_enabled, const std::string& next, const std::string& cancel,
                         bool cancel_enabled) {
  return {
      {"Static", "Quill Notes Setup", 8, 264, kAny, kAny, true, false},
      // Bevel3, a line along the top of 464 x 5: Wine's etched static
      // draws it 2 pixels wider than asked.
      {"Static", "", 8, 272, kAny, kAny},
      {"Button", "< &Back", 230, 280, 75, 23, true, back_enabled},
      {"Button", next, 304, 280, 75, 23},
      {"Button", cancel, 400, 280, 75, 23, true, cancel_enabled},
  };
}

// The tab order from the first tab stop, by texts (class for text-less
// controls).
std::vector<std::string> TabOrder(HWND wizard) {
  std::vector<std::string> order;
  HWND first = GetNextDlgTabItem(wizard, nullptr, FALSE);
  HWND h = first;
  for (int i = 0; h && i < 30; ++i) {
    const ControlInfo c = ReadControl(h);
    order.push_back(c.text.empty() ? c.class_name : c.text);
    h = GetNextDlgTabItem(wizard, h, FALSE);
    if (h == first) break;
  }
  return order;
}

void CheckPage(HWND w, const std::string& caption, const std::vector<Expect>& page,
               const std::vector<Expect>& foot, const std::vector<std::string>& tabs) {
  SCOPED_TRACE(caption);
  EXPECT_EQ(GetText(w), caption);
  for (const Expect& e : foot) CheckControl(w, e);
  for (const Expect& e : page) CheckControl(w, e);
  EXPECT_EQ(TabOrder(w), tabs);
}

sw::ScriptBuilder LayoutScript() {
  sw::ScriptBuilder b = testdata::Product("Quill Notes", "2.5");
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.LicenseText = "Licence";
  b.InfoBeforeText = "Before";
  b.InfoAfterText = "After";
  sw::FileSpec readme;
  readme.DestName = "{app}\\README.TXT";
  readme.FileFlags = 0x20;
  readme.Contents = sw::Bytes(4096, 'r');
  b.Files = {readme};
  return b;
}

}  // namespace

TEST(Layout, EveryPageAgainstTheTables) {
  SetupRun s(MakeDistribution("layout", LayoutScript()));
  HWND w = s.WaitPage("Welcome");
  RECT client{};
  GetClientRect(w, &client);
  EXPECT_EQ(client.right, 480);
  EXPECT_EQ(client.bottom, 309);
  const LONG style = GetWindowLongA(w, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  const std::vector<Expect> foot = Foot(true, "&Next >", "Cancel", true);
  const std::vector<std::string> nav = {"< &Back", "&Next >", "Cancel"};
  CheckPage(w, "Welcome",
            {{"Static", "", 8, 8, 119, 246},
             {"Static", "", 8, 8, 32, 32},
             {"Static", "Welcome!", 48, 16, kAny, kAny},
             {"Static",
              "Welcome to the Quill Notes setup program. This will install Quill Notes 2.5 on your "
              "computer.\r\n\r\n",
              8, 48, 330, 49},
             {"Static",
              "It is strongly recommended that you exit all Windows Programs before running this "
              "Setup Program.\r\n\r\nClick Cancel to quit Setup and then close any programs you "
              "have running. Click Next to continue with the Setup Program.",
              8, 120, 330, 73},
             {"Static", "", 8, 216, 330, 27}},
            Foot(false, "&Next >", "Cancel", true), {"&Next >", "Cancel"});

  ClickButton(w, "Next >");
  s.ExpectPage(w, "Software License Agreement");
  CheckPage(w, "Software License Agreement",
            {{"Static", "", 8, 8, 32, 32},
             {"Static",
              "Please read the following License Agreement. Use the scroll bar or press the Page "
              "Down key to view the rest of the agreement.",
              48, 8, 417, 33},
             {"Edit", "Licence", 8, 48, 457, 169},
             {"Static",
              "Do you accept all the terms of this License Agreement? If you choose No, Setup will "
              "close. To install Quill Notes, you must accept this agreement.",
              8, 224, 457, 39}},
            Foot(true, "&Yes", "&No", true), {"Licence", "< &Back", "&Yes", "&No"});
  HWND memo = ControlByText(w, "Licence", "Edit");
  EXPECT_TRUE(GetWindowLongA(memo, GWL_STYLE) & ES_READONLY);
  EXPECT_TRUE(GetWindowLongA(memo, GWL_STYLE) & WS_VSCROLL);
  EXPECT_EQ(FocusedWindow(w), memo);

  ClickButton(w, "Yes");
  s.ExpectPage(w, "Information");
  CheckPage(w, "Information",
            {{"Static", "", 8, 8, 119, 246},
             {"Static", "Readme Information", 136, 16, kAny, kAny},
             {"Edit", "Before", 136, 48, 329, 207}},
            foot, {"Before", "< &Back", "&Next >", "Cancel"});

  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  CheckPage(w, "Choose Destination Location",
            {{"Static", "", 8, 8, 32, 32},
             {"Static", "Installation Folder", 48, 16, kAny, kAny},
             {"Static", "Setup will install Quill Notes in the following folder.", 8, 48, 329, kAny},
             {"Static", "To install to this folder, click Next.", 8, 72, 329, kAny},
             {"Static",
              "If you wish to install to a different folder, click Browse and select another "
              "folder.",
              8, 96, 329, kAny},
             {"Static",
              "You can choose not to install this program by clicking Cancel and exit Setup.", 8,
              136, 329, kAny},
             {"Static", "The program requires at least 4 KB of disk space.", 8, 174, 329, kAny},
             {"Button", "Installation Folder", 8, 208, 329, 49},
             {"Edit", (qvtest::ProgramFilesDir() + "\\Quill Notes"), 16, 227, 242, 22},
             {"Button", "B&rowse...", 264, 227, 65, 22}},
            foot, {(qvtest::ProgramFilesDir() + "\\Quill Notes"), "B&rowse...", "< &Back", "&Next >", "Cancel"});
  EXPECT_EQ(SendMessageA(EditAt(w, 0), EM_GETLIMITTEXT, 0, 0), 63);
  EXPECT_EQ(FocusedWindow(w), EditAt(w, 0));

  ClickButton(w, "Next >");
  s.Answer("Folder Does Not Exist", "Yes");
  s.ExpectPage(w, "Select Program Folder");
  CheckPage(w, "Select Program Folder",
            {{"Static", "", 8, 8, 32, 32},
             {"Static", "Select Program Folder", 48, 16, kAny, kAny},
             {"Static",
              "Setup will add Program Icons to the Program Folder listed below. You may type a new "
              "Folder name, or select one from the existing Folders list. Click Next to continue.",
              8, 48, 329, 41},
             {"Edit", "Quill Notes", 8, 96, 329, 22},
             {"ListBox", "", 8, 120, 329, 136},
             {"Button", "Don't create any Program Icons", 8, kAny, kAny, kAny, false}},
            foot, {"Quill Notes", "ListBox", "< &Back", "&Next >", "Cancel"});
  EXPECT_EQ(SendMessageA(EditAt(w, 0), EM_GETLIMITTEXT, 0, 0), 63);
  EXPECT_TRUE(GetWindowLongA(ControlByText(w, "", "ListBox"), GWL_STYLE) & LBS_SORT);

  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  CheckPage(w, "Start Copying Files",
            {{"Static", "", 8, 8, 32, 32},
             {"Static", "Ready To Install", 48, 16, kAny, kAny},
             {"Static",
              "Setup has enough information to start copying the Program Files. If you want to "
              "review or change any settings, click Back. If you are satisfied with the settings, "
              "click Next to begin copying files.",
              8, 48, 329, 41}},
            foot, nav);

  ClickButton(w, "Next >");
  s.ExpectPage(w, "Information");
  CheckPage(w, "Information",
            {{"Static", "", 8, 8, 119, 246},
             {"Static", "Program Information", 136, 16, kAny, kAny},
             {"Edit", "After", 136, 48, 329, 209}},
            Foot(false, "&Next >", "Cancel", false), {"After", "&Next >"});

  ClickButton(w, "Next >");
  s.ExpectPage(w, "Setup Complete");
  CheckPage(w, "Setup Complete",
            {{"Static", "", 8, 8, 32, 32},
             {"Static", "Installation Completed!", 48, 16, kAny, kAny},
             {"Static", "Setup has finished installing Quill Notes on your computer.", 8, 48, 330, 57},
             {"Button", "Install Comctl32.Dll Update after Setup.", 24, 104, kAny, kAny, false},
             {"Button", "Yes, I would like to view the Readme file", 24, 128, kAny, kAny},
             {"Button", "&Yes, restart my computer now", 24, 128, kAny, kAny, false},
             {"Button", "&No, I will restart my computer later", 24, 152, kAny, kAny, false},
             {"Static", "Click Finish to complete Setup.", 8, 232, kAny, kAny}},
            Foot(true, "&Finish", "Cancel", false),
            {"Yes, I would like to view the Readme file", "< &Back", "&Finish"});
  EXPECT_EQ(FocusedWindow(w), ControlByText(w, "Yes, I would like to view the Readme file"));
  Click(ControlByText(w, "Yes, I would like to view the Readme file"));
  ClickButton(w, "Finish");
  EXPECT_EQ(s.ExitCode(), 0u);
}
