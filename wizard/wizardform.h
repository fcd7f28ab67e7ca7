// The wizard: Welcome, licence, information, destination folder, program
// folder and Ready pages before the installation, the information-after and
// finished pages after it. The background window creates it, shows it
// without making it modal and reads its choices when the wizard says it is
// done (onDone: Next on Ready, Finish on the finished page).
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "forms/controls.h"
#include "forms/forms.h"
#include "wizard/wizardlogic.h"

// The program group list: the window colour while enabled, the button
// face while "Don't create any Program Icons" disables it.
class TGroupListBox : public forms::TListBox {
 public:
  HBRUSH CtlColor(HDC dc) override;
};

// What the user chose before the installation.
struct TWizardChoices {
  std::string AppDir;     // the destination folder (DirEdit)
  std::string GroupName;  // the program folder (GroupEdit)
  bool NoIcons = false;   // "Don't create any Program Icons"
};

// What the user chose on the finished page.
struct TFinishedChoices {
  bool RestartNow = false;  // "Yes, restart my computer now"
  bool ViewReadme = false;  // "Yes, I would like to view the Readme file"
};

class TWizardForm : public forms::TForm {
 public:
  // owner: the background window, over which the wizard is centred.
  explicit TWizardForm(HWND owner);

  // Set by the background window: the wizard has closed itself after Next
  // on the Ready page or Finish on the finished page, and the run goes on.
  std::function<void()> onDone;
  // Asks the background window to close (its close query decides) and
  // tells whether it accepted (its Closing flag): the user closed the wizard.
  std::function<bool()> onRequestAppClose;
  // The folder chooser behind Browse: called with the DirEdit text, the
  // default directory to append and the prompt; true (and the chosen path in
  // dir) unless the user cancelled. Browse does nothing while it is unset.
  std::function<bool(std::string& dir, const std::string& append_name, const std::string& prompt)>
      onBrowse;

  // Page numbers as in TWizardPage.
  int CurPage = wpWelcome;
  bool ShownOnce = false;

  void UpdatePage();

  // The choices of the pages before the installation (read when the wizard
  // is done with them).
  TWizardChoices Choices() const;
  // Shows or hides the offer to install the common-controls update on the
  // finished page.
  void ShowInstCheck(bool visible);
  // Shows the wizard again on the page after the installation (information
  // after, or the finished page): with ask_restart the restart question and
  // its two answers, else with offer_readme the README box.
  void ShowFinishedPage(bool ask_restart, bool offer_readme);
  // The finished page's answers.
  TFinishedChoices FinishedChoices() const;
  // Closes the wizard without asking the background window (its own close
  // is under way, or the wizard is done).
  void CloseWithoutAsking();

  // Controls, named as the design names them. The page containers first.
  forms::TNotebook Notebook1;
  forms::TBevel Bevel1;
  forms::TImage Image4;
  forms::TNotebook Notebook2;
  // Notebook2 page 0: Welcome.
  forms::TImage Image8;
  forms::TLabel WelcomeHeading;
  forms::TLabel Label1;
  forms::TLabel Label2;
  forms::TLabel Label3;
  // Notebook2 page 1: Choose Destination Location.
  forms::TImage Image5;
  forms::TLabel DirHeading;
  forms::TLabel SelectFolderLabel;
  forms::TLabel Label6;
  forms::TLabel Label12;
  forms::TLabel Label13;
  forms::TLabel DiskSpaceLabel;
  forms::TGroupBox GroupBox1;
  forms::TEdit DirEdit;
  forms::TButton Button1;
  // Notebook2 page 2: Select Program Folder.
  forms::TImage Image6;
  forms::TLabel GroupHeading;
  forms::TLabel IconsLabel;
  forms::TEdit GroupEdit;
  TGroupListBox GroupList;
  forms::TCheckBox NoIconsCheck;
  // Notebook2 page 3: Setup Complete.
  forms::TImage Image7;
  forms::TLabel FinishedHeading;
  forms::TLabel FinishedLabel;
  forms::TCheckBox InstCheck;
  forms::TCheckBox ShowReadmeCheck;
  forms::TRadioButton YesRadio;
  forms::TRadioButton NoRadio;
  forms::TLabel Label16;
  // Notebook2 page 4: Ready To Install.
  forms::TImage Image3;
  forms::TLabel ReadyHeading;
  forms::TLabel Label15;
  // Notebook1 page 1: licence.
  forms::TImage Image1;
  forms::TLabel LicenseLabel1;
  forms::TMemo LicenseMemo;
  forms::TLabel LicenseLabel2;
  // Notebook1 page 2: information before.
  forms::TBevel Bevel2;
  forms::TImage Image2;
  forms::TLabel InfoBeforeHeading;
  forms::TMemo InfoBeforeMemo;
  // Notebook1 page 3: information after.
  forms::TBevel Bevel4;
  forms::TImage Image9;
  forms::TLabel InfoAfterHeading;
  forms::TMemo InfoAfterMemo;
  // The foot of the window.
  forms::TLabel Label10;
  forms::TBevel Bevel3;
  forms::TButton BackButton;
  forms::TButton NextButton;
  forms::TButton CancelButton;

 protected:
  void FormCreate();
  void FormShow() override;
  bool FormCloseQuery() override;

  void NextButtonClick();
  void BackButtonClick();
  void CancelButtonClick();
  void Button1Click();
  void GroupEditChange();
  void GroupListClick();
  void NoIconsCheckClick();
  void FillGroupList();

 private:
  TWizardTexts Texts() const;
  bool ValidateDirPage();
  bool ValidateGroupPage();
  void SetFocusTo(TFocusTarget target);

  HWND owner_;
  bool internal_close_ = false;
};
