// The background window's gradient and run-entry rules and the wizard's
// page, button and validation rules, with the user-visible texts written
// out as the design gives them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forms/placement.h"
#include "main/background.h"
#include "wizard/wizardlogic.h"

TEST(Background, GradientBandsAndColours) {
  // A client height of 630 gives band i the rows 10 i to 10 (i + 1).
  for (int i = 0; i <= 64; ++i) EXPECT_EQ(GradientBandTop(630, i), 10 * i) << i;
  // Rounding to the nearest row: 768 * 1 / 63 = 12.19, 768 * 5 / 63 = 60.95.
  EXPECT_EQ(GradientBandTop(768, 1), 12);
  EXPECT_EQ(GradientBandTop(768, 5), 61);
  EXPECT_EQ(GradientBandTop(768, 63), 768);  // the last band lies below the area
  EXPECT_EQ(GradientFactor(0), 255);
  EXPECT_EQ(GradientFactor(1), 251);
  EXPECT_EQ(GradientFactor(62), 7);
  EXPECT_EQ(GradientFactor(63), 3);
  // Truncating division per byte; the fourth byte stays.
  EXPECT_EQ(ScaleColor(0x00FF8001, 251), 0x00FB7D00u);
  EXPECT_EQ(ScaleColor(0x02FFFFFF, 7), 0x02070707u);
  EXPECT_EQ(ScaleColor(0x00800000, 255), 0x00800000u);
  // System colours are looked up before scaling; plain RGB is kept.
  std::vector<int> asked;
  auto sys = [&](int index) {
    asked.push_back(index);
    return 0x00C0C0C0u;
  };
  EXPECT_EQ(ResolveColor(static_cast<int32_t>(0x8000000F), sys), 0x00C0C0C0u);
  EXPECT_EQ(ResolveColor(0x00123456, sys), 0x00123456u);
  EXPECT_EQ(asked, std::vector<int>{15});
}

TEST(Background, RunEntryCommandLineAndCloseQuery) {
  EXPECT_EQ(RunEntryCommandLine("C:\\App\\prog.exe", ""), "C:\\App\\prog.exe ");
  EXPECT_EQ(RunEntryCommandLine(" C:\\My App\\prog.exe ", "/a b"), "\"C:\\My App\\prog.exe\" /a b");
  EXPECT_EQ(RunEntryCommandLine("\"C:\\My App\\p.exe\"", "x"), "\"C:\\My App\\p.exe\" x");

  EXPECT_EQ(MainCloseAnswer(true, TSetupStep::FinishedPage, false), TMainCloseAnswer::Refuse);
  EXPECT_EQ(MainCloseAnswer(false, TSetupStep::Installing, true), TMainCloseAnswer::RefuseAndCloseInstall);
  EXPECT_EQ(MainCloseAnswer(false, TSetupStep::Installing, false), TMainCloseAnswer::AskConfirmExit);
  EXPECT_EQ(MainCloseAnswer(false, TSetupStep::Starting, false), TMainCloseAnswer::AskConfirmExit);
  EXPECT_EQ(MainCloseAnswer(false, TSetupStep::Wizard, false), TMainCloseAnswer::AskConfirmExit);
  EXPECT_EQ(MainCloseAnswer(false, TSetupStep::FinishedPage, false), TMainCloseAnswer::Allow);
  EXPECT_EQ(MainCloseAnswer(false, TSetupStep::Closing, false), TMainCloseAnswer::Allow);
}

TEST(WizardPages, NextAndBackSkipOnlyTheMissingTexts) {
  const TWizardTexts none, all{true, true, true}, licence{true, false, false};
  // Without licence and information: Welcome -> destination, and back.
  EXPECT_EQ(PageAfter(0, none), 3);
  EXPECT_EQ(PageBefore(3, none), 0);
  EXPECT_EQ(PageAfter(3, none), 4);  // the program folder page is always shown
  EXPECT_EQ(PageAfter(4, none), 5);
  EXPECT_EQ(PageBefore(0, none), 0);
  // Every text: each page in turn.
  for (int p = 0; p < 5; ++p) EXPECT_EQ(PageAfter(p, all), p + 1);
  for (int p = 1; p < 6; ++p) EXPECT_EQ(PageBefore(p, all), p - 1);
  EXPECT_EQ(PageAfter(6, all), 7);
  EXPECT_EQ(PageBefore(7, all), 6);
  EXPECT_EQ(PageAfter(1, licence), 3);
  EXPECT_EQ(PageBefore(3, licence), 1);
  EXPECT_TRUE(NextEndsStep(5));
  EXPECT_TRUE(NextEndsStep(7));
  EXPECT_FALSE(NextEndsStep(6));
  EXPECT_FALSE(NextEndsStep(4));
}

TEST(WizardPages, CaptionsButtonsAndFocus) {
  const char* captions[] = {"Welcome", "Software License Agreement", "Information",
                            "Choose Destination Location", "Select Program Folder",
                            "Start Copying Files", "Information", "Setup Complete"};
  const int nb2[] = {0, -1, -1, 1, 2, 4, -1, 3};
  const int nb1[] = {0, 1, 2, 0, 0, 0, 3, 0};
  for (int p = 0; p < kWizardPageCount; ++p) {
    EXPECT_STREQ(kWizardPages[p].Caption, captions[p]);
    EXPECT_EQ(kWizardPages[p].Notebook1Page, nb1[p]);
    EXPECT_EQ(kWizardPages[p].Notebook2Page, nb2[p]);
  }
  EXPECT_EQ(kWizardPages[1].Heading, nullptr);

  const TWizardTexts with_after{false, false, true}, none;
  struct Row {
    int page;
    bool back;
    std::string next, cancel;
    bool cancel_enabled;
  } rows[] = {{0, false, "&Next >", "Cancel", true}, {1, true, "&Yes", "&No", true},
              {2, true, "&Next >", "Cancel", true},  {3, true, "&Next >", "Cancel", true},
              {4, true, "&Next >", "Cancel", true},  {5, true, "&Next >", "Cancel", true},
              {6, false, "&Next >", "Cancel", false}, {7, true, "&Finish", "Cancel", false}};
  for (const Row& r : rows) {
    TPageButtons b = PageButtons(r.page, with_after);
    EXPECT_EQ(b.BackEnabled, r.back) << r.page;
    EXPECT_EQ(b.NextCaption, r.next) << r.page;
    EXPECT_EQ(b.CancelCaption, r.cancel) << r.page;
    EXPECT_EQ(b.CancelEnabled, r.cancel_enabled) << r.page;
  }
  EXPECT_FALSE(PageButtons(7, none).BackEnabled);
  EXPECT_STREQ(SBackCaption, "< &Back");

  TFocusState s;
  EXPECT_EQ(PageFocus(0, s), TFocusTarget::None);
  EXPECT_EQ(PageFocus(5, s), TFocusTarget::None);
  EXPECT_EQ(PageFocus(4, s), TFocusTarget::GroupEdit);
  s.NoIconsTicked = true;
  EXPECT_EQ(PageFocus(4, s), TFocusTarget::NoIconsCheck);
  EXPECT_EQ(PageFocus(7, s), TFocusTarget::NextButton);
  s.YesShown = s.NoShown = true;
  s.NoSelected = true;
  EXPECT_EQ(PageFocus(7, s), TFocusTarget::NoRadio);
  s.YesSelected = true;
  s.NoSelected = false;
  EXPECT_EQ(PageFocus(7, s), TFocusTarget::YesRadio);
  s.ReadmeShown = true;
  EXPECT_EQ(PageFocus(7, s), TFocusTarget::ShowReadmeCheck);
}

namespace {
// The machine behind the destination page: drives C and D, folders that
// exist, and the boxes the page shows (answered from a queue).
struct FakeMachine {
  uint32_t free_c = 100u * 1024 * 1024;
  std::vector<std::string> folders = {"C:\\APP"};
  std::vector<std::string> shown;  // "W:text" or "Q:caption:default:text"
  std::vector<bool> answers;
  TDestinationMachine Get() {
    TDestinationMachine m;
    m.DriveFreeSpace = [this](char l, uint32_t& f) {
      if (l == 'C' || l == 'c') {
        f = free_c;
        return true;
      }
      return false;
    };
    m.FolderExists = [this](const std::string& d) {
      for (auto& f : folders)
        if (f == d) return true;
      return false;
    };
    m.Warn = [this](const std::string& t) { shown.push_back("W:" + t); };
    m.Ask = [this](const std::string& t, const std::string& c, bool default_no) {
      shown.push_back("Q:" + c + ":" + (default_no ? "No" : "Yes") + ":" + t);
      bool a = answers.empty() ? false : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      return a;
    };
    return m;
  }
};
}  // namespace

TEST(WizardValidation, DestinationMessagesAndWriteBack) {
  const std::string unc = "W:Setup cannot install to a UNC pathname. If you are trying to install "
                          "to a network, you will need to map a network drive.";
  const std::string full = "W:You must enter a full path with drive letter; for example:\r\nC:\\APP";
  const std::string chars = "W:The directory name cannot include any of the following characters "
                            "after the colon:\r\n\r\n/ : * ? \" < > | ,";
  const std::string drive = "W:The drive you selected does not exist. Please select another.";
  struct Case {
    std::string in, out, message;
    bool ok;
  } cases[] = {
      {"C:\\", "C:\\", full, false},
      {"  C:\\APP\\ \t", "C:\\APP", "", true},
      {"C:\\A\\\\B", "C:\\A\\\\B", unc, false},
      {"\\\\server\\share", "\\\\server\\share", unc, false},
      {"C:\\A,B", "C:\\A,B", chars, false},
      {"C:\\A:B", "C:\\A:B", chars, false},
      {"1:\\APP", "1:\\APP", drive, false},
      {"Q:\\APP", "Q:\\APP", drive, false},
      {"APP", "APP", full, false},
      {" C:APP\\x", "C:APP\\x", full, false},
      {"c:\\app", "c:\\app", "", true},  // the folder test is the machine's (here: missing)
  };
  for (const Case& c : cases) {
    FakeMachine fm;
    fm.folders.push_back("c:\\app");
    std::string dir = c.in;
    EXPECT_EQ(ValidateDestination(dir, 1000, fm.Get()), c.ok) << c.in;
    EXPECT_EQ(dir, c.out) << c.in;
    if (c.message.empty())
      EXPECT_TRUE(fm.shown.empty()) << c.in;
    else
      EXPECT_EQ(fm.shown, std::vector<std::string>{c.message}) << c.in;
  }
}

TEST(WizardValidation, DestinationQuestionsFreeSpaceThenMissingFolder) {
  const std::string space =
      "Q:Not Enough Disk Space:No:Setup requires at least 2048 KB of free space to install, but "
      "the selected drive only has 1023 KB available.\r\n\r\nDo you want to continue anyway?";
  const std::string missing =
      "Q:Folder Does Not Exist:Yes:The Installation Folder 'C:\\NEW' does not exist. \r\n\r\nDo "
      "you wish Setup to create it for you?";
  {  // Short space answered No: the page stays, already without the backslash.
    FakeMachine fm;
    fm.free_c = 1023 * 1024 + 1000;
    std::string dir = "C:\\NEW\\";
    EXPECT_FALSE(ValidateDestination(dir, 2048 * 1024 + 5, fm.Get()));
    EXPECT_EQ(dir, "C:\\NEW");
    EXPECT_EQ(fm.shown, std::vector<std::string>{space});
  }
  {  // Yes, then the missing folder: Yes goes on, No stays.
    for (bool second : {true, false}) {
      FakeMachine fm;
      fm.free_c = 1023 * 1024;
      fm.answers = {true, second};
      std::string dir = "C:\\NEW";
      EXPECT_EQ(ValidateDestination(dir, 2048 * 1024, fm.Get()), second);
      EXPECT_EQ(fm.shown, (std::vector<std::string>{space, missing}));
    }
  }
  {  // Exactly enough space asks nothing.
    FakeMachine fm;
    fm.free_c = 5000;
    std::string dir = "C:\\APP";
    EXPECT_TRUE(ValidateDestination(dir, 5000, fm.Get()));
    EXPECT_TRUE(fm.shown.empty());
  }
}

TEST(WizardValidation, GroupNames) {
  const std::string bad = "The group name cannot include any of the following characters:"
                          "\r\n\r\n\\ / : * ? \" < > | ,";
  std::string g = "  My Group \r\n";
  EXPECT_EQ(CheckGroupName(g), "");
  EXPECT_EQ(g, "My Group");
  g = " \t ";
  EXPECT_EQ(CheckGroupName(g), "You must enter a group name.");
  EXPECT_EQ(g, "");
  for (const char* s : {"A\\B", "A/B", "A:B", "A*B", "A?B", "A\"B", "A<B", "A>B", "A|B", "A,B"}) {
    g = s;
    EXPECT_EQ(CheckGroupName(g), bad) << s;
  }
}

TEST(WizardTexts, LabelsAndCommands) {
  EXPECT_EQ(SetupNameLabel("Sample"), "Sample Setup");
  EXPECT_EQ(SetupNameLabel(std::string(64, 'x')), std::string(64, 'x') + " Setup");
  EXPECT_EQ(SetupNameLabel(std::string(66, 'x')), std::string(66, 'x') + " Set");
  EXPECT_EQ(SelectFolderText(true), "Setup will install [name] in the following folder.");
  EXPECT_EQ(SelectFolderText(false), "Setup will install [name] in the following directory.");
  EXPECT_EQ(FinishedText(false), "Setup has finished installing [name] on your computer.");
  EXPECT_EQ(FinishedText(true),
            "Setup has finished installing [name] on your computer. You may now launch the "
            "program by clicking the program icons created.");
  EXPECT_EQ(CommonControlsUpdateCommand("C:\\App"), "C:\\App\\40Comupd.Exe /r:n /q:a");
  EXPECT_EQ(CommonControlsUpdateCommand("C:\\App\\"), "C:\\App\\40Comupd.Exe /r:n /q:a");
  EXPECT_EQ(InitialDestination("C:\\Program Files\\", "Sample"), "C:\\Program Files\\Sample");
  EXPECT_EQ(InitialDestination("", "Sample"), "Sample");
  int l = 0, t = 0;
  const TScreenRect screen{0, 0, 1024, 768};
  CentreOver(screen, screen, 486, 335, l, t);
  EXPECT_EQ(l, 512 - 243);
  EXPECT_EQ(t, 384 - 167);
  CentreOver(TScreenRect{0, 0, 100, 50}, screen, 487, 336, l, t);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(t, 0);
  // Over a window near an edge of the work area: pulled inside it.
  const TScreenRect work{0, 28, 1024, 768};
  CentreOver(TScreenRect{900, 0, 1100, 100}, work, 238, 300, l, t);
  EXPECT_EQ(l, 1024 - 238);
  EXPECT_EQ(t, 28);
  CentreOver(TScreenRect{-50, 700, 50, 800}, work, 238, 300, l, t);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(t, 768 - 300);
  // Larger than the work area: its top-left corner stays in it.
  CentreOver(screen, work, 1200, 900, l, t);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(t, 28);
}
