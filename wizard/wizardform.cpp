#include "wizard/wizardform.h"

#include "common/msgbox.h"
#include "common/syshelpers.h"
#include "resources/resource_ids.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "wizard/grouplist.h"

using namespace forms;

namespace {

const TFontSpec kFormFont = TFontSpec::Pixels("Arial", 11);
const TFontSpec kHeadingFont = TFontSpec::Pixels("Arial", 16).Bold();
const TFontSpec kNextFont = TFontSpec::Pixels("Arial", 11).Bold();
const TFontSpec kNoIconsFont = TFontSpec::Pixels("MS Sans Serif", 11).Colored(RGB(128, 0, 0));

// Options of the memos: read-only, button face, a vertical scroll bar.
constexpr uint32_t kMemo = coReadOnly | coVScroll | coButtonFace;

// Edit controls break lines only at CR LF: a lone LF of a script text
// becomes CR LF.
std::string MemoText(const TScriptText& text) {
  std::string s;
  if (text.empty()) return s;
  const char* p = text.data();  // ends in its 0 byte
  for (; *p; ++p) {
    if (*p == '\n' && (s.empty() || s.back() != '\r')) s += '\r';
    s += *p;
  }
  return s;
}

// Whether a control was made visible (its own state, whatever its page).
bool Shown(const TControl& c) {
  return c.Handle() && (GetWindowLongA(c.Handle(), GWL_STYLE) & WS_VISIBLE);
}

HICON AppIcon() { return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP)); }
HICON PageIcon(int id) { return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)); }

}  // namespace

HBRUSH TGroupListBox::CtlColor(HDC dc) {
  const int colour = Enabled() ? COLOR_WINDOW : COLOR_BTNFACE;
  SetBkColor(dc, GetSysColor(colour));
  return GetSysColorBrush(colour);
}

TWizardForm::TWizardForm(HWND owner) : owner_(owner) {
  TFormArgs f;
  f.caption = kWizardPages[wpWelcome].Caption;
  f.client_width = 480;
  f.client_height = 309;
  f.border = TBorderStyle::Dialog;
  f.owner = owner;
  f.font = kFormFont;
  CreateForm(f);

  // The window: the outer pages, then the foot. Creation order is tab order.
  const TLayoutItem window[] = {
      {&Notebook1, {8, 0, 472, 264}, "", 0, 4},
      {&Label10, {8, 264, 0, 0}, "", coDisabled | coNoPrefix},
      {&Bevel3, {8, 272, 464, 5}, "", coTopLine},
      {&BackButton, {230, 280, 75, 23}, SBackCaption},
      {&NextButton, {304, 280, 75, 23}, "&Next >", coDefault, 0, &kNextFont},
      {&CancelButton, {400, 280, 75, 23}, "Cancel", coCancel},
  };
  CreateControls(window);

  TContainer* outer0 = Notebook1.Page(0);
  const TLayoutItem outer_page0[] = {
      {&Bevel1, {6, 6, 123, 250}, "", 0, 0, nullptr, outer0},
      {&Image4, {8, 8, 119, 246}, "", 0, 0, nullptr, outer0},
      {&Notebook2, {130, 0, 342, 264}, "", 0, 5, nullptr, outer0},
  };
  CreateControls(outer_page0);

  TContainer* welcome = Notebook2.Page(0);
  TContainer* dir = Notebook2.Page(1);
  TContainer* group = Notebook2.Page(2);
  TContainer* finished = Notebook2.Page(3);
  TContainer* ready = Notebook2.Page(4);
  TContainer* licence = Notebook1.Page(1);
  TContainer* before = Notebook1.Page(2);
  TContainer* after = Notebook1.Page(3);
  // The Don't-create-icons box is placed where the mouse reaches it: below a
  // shortened group list, only when the script allows leaving icons out.
  const bool no_icons_allowed = (Script.Header.Flags() & hfAllowNoIcons) != 0;
  const int list_height = no_icons_allowed ? 114 : 136;

  const TLayoutItem pages[] = {
      // Welcome.
      {&Image8, {8, 8, 32, 32}, "", 0, 0, nullptr, welcome},
      {&WelcomeHeading, {48, 16, 0, 0}, kWizardPages[wpWelcome].Heading, 0, 0, &kHeadingFont, welcome},
      {&Label1, {8, 48, 330, 49}, "", coWordWrap | coNoPrefix, 0, nullptr, welcome},
      {&Label2, {8, 120, 330, 73}, "", coWordWrap | coNoPrefix, 0, nullptr, welcome},
      {&Label3, {8, 216, 330, 27}, "", coWordWrap, 0, nullptr, welcome},
      // Choose Destination Location.
      {&Image5, {8, 8, 32, 32}, "", 0, 0, nullptr, dir},
      {&DirHeading, {48, 16, 0, 0}, kWizardPages[wpSelectDir].Heading, 0, 0, &kHeadingFont, dir},
      {&SelectFolderLabel, {8, 48, 329, 0}, "", coWordWrap, 0, nullptr, dir},
      {&Label6, {8, 72, 329, 0}, "To install to this folder, click Next.", coWordWrap, 0, nullptr, dir},
      {&Label12, {8, 96, 329, 0},
       "If you wish to install to a different folder, click Browse and select another folder.",
       coWordWrap, 0, nullptr, dir},
      {&Label13, {8, 136, 329, 0},
       "You can choose not to install this program by clicking Cancel and exit Setup.", coWordWrap,
       0, nullptr, dir},
      {&DiskSpaceLabel, {8, 174, 329, 0}, "", coWordWrap, 0, nullptr, dir},
      {&GroupBox1, {8, 208, 329, 49}, "Installation Folder", 0, 0, nullptr, dir},
      // Select Program Folder.
      {&Image6, {8, 8, 32, 32}, "", 0, 0, nullptr, group},
      {&GroupHeading, {48, 16, 0, 0}, kWizardPages[wpSelectProgramGroup].Heading, 0, 0,
       &kHeadingFont, group},
      {&IconsLabel, {8, 48, 329, 41},
       "Setup will add Program Icons to the Program Folder listed below. You may type a new "
       "Folder name, or select one from the existing Folders list. Click Next to continue.",
       coWordWrap, 0, nullptr, group},
      {&GroupEdit, {8, 96, 329, 22}, "", 0, 63, nullptr, group},
      {&GroupList, {8, 120, 329, list_height}, "", coSorted | coVScroll, 0, nullptr, group},
      {&NoIconsCheck, {8, 240, 329, 17}, "Don't create any Program Icons", coHidden, 0,
       &kNoIconsFont, group},
      // Setup Complete.
      {&Image7, {8, 8, 32, 32}, "", 0, 0, nullptr, finished},
      {&FinishedHeading, {48, 16, 0, 0}, kWizardPages[wpFinished].Heading, 0, 0, &kHeadingFont,
       finished},
      {&FinishedLabel, {8, 48, 330, 57}, "", coWordWrap, 0, nullptr, finished},
      {&InstCheck, {24, 104, 300, 17}, "Install Comctl32.Dll Update after Setup.",
       coHidden | coChecked, 0, nullptr, finished},
      {&ShowReadmeCheck, {24, 128, 300, 17}, "Yes, I would like to view the Readme file",
       coHidden | coChecked, 0, nullptr, finished},
      {&YesRadio, {24, 128, 300, 17}, "&Yes, restart my computer now",
       coHidden | coChecked | coGroup, 0, nullptr, finished},
      {&NoRadio, {24, 152, 300, 17}, "&No, I will restart my computer later", coHidden, 0, nullptr,
       finished},
      {&Label16, {8, 232, 0, 0}, "Click Finish to complete Setup.", 0, 0, nullptr, finished},
      // Ready To Install.
      {&Image3, {8, 8, 32, 32}, "", 0, 0, nullptr, ready},
      {&ReadyHeading, {48, 16, 0, 0}, kWizardPages[wpReady].Heading, 0, 0, &kHeadingFont, ready},
      {&Label15, {8, 48, 329, 41},
       "Setup has enough information to start copying the Program Files. If you want to review "
       "or change any settings, click Back. If you are satisfied with the settings, click Next to "
       "begin copying files.",
       coWordWrap, 0, nullptr, ready},
      // Software License Agreement.
      {&Image1, {8, 8, 32, 32}, "", 0, 0, nullptr, licence},
      {&LicenseLabel1, {48, 8, 417, 33}, "", coWordWrap, 0, nullptr, licence},
      {&LicenseMemo, {8, 48, 457, 169}, "", kMemo, 0, nullptr, licence},
      {&LicenseLabel2, {8, 224, 457, 39}, "", coWordWrap, 0, nullptr, licence},
      // Information before.
      {&Bevel2, {6, 6, 123, 250}, "", 0, 0, nullptr, before},
      {&Image2, {8, 8, 119, 246}, "", 0, 0, nullptr, before},
      {&InfoBeforeHeading, {136, 16, 0, 0}, kWizardPages[wpInfoBefore].Heading, 0, 0,
       &kHeadingFont, before},
      {&InfoBeforeMemo, {136, 48, 329, 207}, "", kMemo, 0, nullptr, before},
      // Information after.
      {&Bevel4, {6, 6, 123, 250}, "", 0, 0, nullptr, after},
      {&Image9, {8, 8, 119, 246}, "", 0, 0, nullptr, after},
      {&InfoAfterHeading, {136, 16, 0, 0}, kWizardPages[wpInfoAfter].Heading, 0, 0, &kHeadingFont,
       after},
      {&InfoAfterMemo, {136, 48, 329, 209}, "", kMemo, 0, nullptr, after},
  };
  CreateControls(pages);
  const TLayoutItem folder_box[] = {
      {&DirEdit, {8, 19, 242, 22}, "", 0, 63, nullptr, &GroupBox1},
      {&Button1, {256, 19, 65, 22}, "B&rowse...", 0, 0, nullptr, &GroupBox1},
  };
  CreateControls(folder_box);

  BackButton.onClick = [this] { BackButtonClick(); };
  NextButton.onClick = [this] { NextButtonClick(); };
  CancelButton.onClick = [this] { CancelButtonClick(); };
  Button1.onClick = [this] { Button1Click(); };
  GroupEdit.onChange = [this] { GroupEditChange(); };
  GroupList.onClick = [this] { GroupListClick(); };
  NoIconsCheck.onClick = [this] { NoIconsCheckClick(); };
  FormCreate();
}

void TWizardForm::FormCreate() {
  Label10.SetText(SetupNameLabel(Script.Header.ApplicationName()));

  TBitmap side(static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr),
                                               MAKEINTRESOURCEA(IDB_WIZARD_SIDE), IMAGE_BITMAP, 0,
                                               0, LR_DEFAULTCOLOR)));
  Image4.SetBitmap(std::move(side));
  Image2.SetBitmapRef(Image4.Bitmap());
  Image9.SetBitmapRef(Image4.Bitmap());
  Image1.SetIcon(AppIcon());
  Image7.SetIcon(AppIcon());
  Image8.SetIcon(AppIcon());
  Image3.SetIcon(PageIcon(IDI_PAGE_READY));
  Image5.SetIcon(PageIcon(IDI_PAGE_FOLDER));
  Image6.SetIcon(PageIcon(IDI_PAGE_GROUP));

  if (!Script.LicenseText.empty()) LicenseMemo.SetText(MemoText(Script.LicenseText));
  if (!Script.InfoBeforeText.empty()) InfoBeforeMemo.SetText(MemoText(Script.InfoBeforeText));
  if (!Script.InfoAfterText.empty()) InfoAfterMemo.SetText(MemoText(Script.InfoAfterText));

  CentreOverClientArea(owner_);

  DirEdit.SetMaxLength(63);

  // The texts with placeholders. The Welcome texts are filled in before the
  // page is first seen.
  Label1.SetText(ReplacePlaceholders(SWelcomeText1));
  Label2.SetText(ReplacePlaceholders(SWelcomeText2));
  LicenseLabel1.SetText(ReplacePlaceholders(SLicenseLabel1));
  LicenseLabel2.SetText(ReplacePlaceholders(SLicenseLabel2));
  DiskSpaceLabel.SetText(ReplacePlaceholders(SDiskSpaceLabel));
  FinishedLabel.SetText(ReplacePlaceholders(FinishedText(IconsNeeded)));
  SelectFolderLabel.SetText(ReplacePlaceholders(SelectFolderText(IsVersion4Shell())));
}

void TWizardForm::FormShow() {
  if (ShownOnce) return;
  ShownOnce = true;
  DirEdit.SetText(InitialDestination(ProgramFilesDir, Script.Header.DefaultDirectory()));
  GroupEdit.SetText(Script.Header.DefaultProgramFolder());
  NoIconsCheck.SetVisible((Script.Header.Flags() & hfAllowNoIcons) != 0);
  CurPage = wpWelcome;
  UpdatePage();
  FillGroupList();
}

TWizardTexts TWizardForm::Texts() const {
  TWizardTexts t;
  t.License = !Script.LicenseText.empty();
  t.InfoBefore = !Script.InfoBeforeText.empty();
  t.InfoAfter = !Script.InfoAfterText.empty();
  return t;
}

void TWizardForm::UpdatePage() {
  const TWizardPageInfo& page = kWizardPages[CurPage];
  Notebook1.SetActivePage(page.Notebook1Page);
  if (page.Notebook2Page >= 0) Notebook2.SetActivePage(page.Notebook2Page);
  const TPageButtons b = PageButtons(CurPage, Texts());
  BackButton.SetEnabled(b.BackEnabled);
  CancelButton.SetEnabled(b.CancelEnabled);
  BackButton.SetText(SBackCaption);
  NextButton.SetText(b.NextCaption);
  CancelButton.SetText(b.CancelCaption);
  SetCaption(page.Caption);
  TFocusState s;
  s.NoIconsTicked = NoIconsCheck.Checked();
  s.ReadmeShown = Shown(ShowReadmeCheck);
  s.YesShown = Shown(YesRadio);
  s.YesSelected = YesRadio.Checked();
  s.NoShown = Shown(NoRadio);
  s.NoSelected = NoRadio.Checked();
  SetFocusTo(PageFocus(CurPage, s));
}

void TWizardForm::SetFocusTo(TFocusTarget target) {
  TControl* c = nullptr;
  switch (target) {
    case TFocusTarget::None: return;
    case TFocusTarget::LicenseMemo: c = &LicenseMemo; break;
    case TFocusTarget::InfoBeforeMemo: c = &InfoBeforeMemo; break;
    case TFocusTarget::DirEdit: c = &DirEdit; break;
    case TFocusTarget::NoIconsCheck: c = &NoIconsCheck; break;
    case TFocusTarget::GroupEdit: c = &GroupEdit; break;
    case TFocusTarget::InfoAfterMemo: c = &InfoAfterMemo; break;
    case TFocusTarget::ShowReadmeCheck: c = &ShowReadmeCheck; break;
    case TFocusTarget::YesRadio: c = &YesRadio; break;
    case TFocusTarget::NoRadio: c = &NoRadio; break;
    case TFocusTarget::NextButton: c = &NextButton; break;
  }
  c->SetFocus();
}

bool TWizardForm::ValidateDirPage() {
  TDestinationMachine m;
  m.DriveFreeSpace = GetDriveFreeSpace;
  m.FolderExists = FolderExists;
  m.Warn = [](const std::string& text) { ShowMessageBoxStr(text, "", mbkWarning, MB_OK); };
  m.Ask = [](const std::string& text, const std::string& caption, bool default_no) {
    const UINT flags = MB_YESNO | (default_no ? MB_DEFBUTTON2 : 0);
    return ShowMessageBoxStr(text, caption, mbkQuestion, flags) == IDYES;
  };
  m.WriteBack = [this](const std::string& dir) { DirEdit.SetText(dir); };
  std::string dir = DirEdit.Text();
  return ValidateDestination(dir, TotalFileSize, m);
}

bool TWizardForm::ValidateGroupPage() {
  std::string group = GroupEdit.Text();
  const std::string error = CheckGroupName(group);
  GroupEdit.SetText(group);
  if (error.empty()) return true;
  ShowMessageBoxStr(error, "", mbkWarning, MB_OK);
  return false;
}

void TWizardForm::NextButtonClick() {
  if (CurPage == wpSelectDir && !ValidateDirPage()) return;
  if (CurPage == wpSelectProgramGroup && !NoIconsCheck.Checked() && !ValidateGroupPage()) return;
  if (CurPage == wpFinished && Shown(InstCheck) && InstCheck.Checked())
    WinExec(CommonControlsUpdateCommand(DirEdit.Text()).c_str(), SW_SHOWNORMAL);
  if (NextEndsStep(CurPage)) {
    CloseWithoutAsking();
    if (onDone) onDone();
    return;
  }
  CurPage = PageAfter(CurPage, Texts());
  UpdatePage();
}

void TWizardForm::BackButtonClick() {
  if (CurPage == wpWelcome) return;
  CurPage = PageBefore(CurPage, Texts());
  UpdatePage();
}

void TWizardForm::CancelButtonClick() { Close(); }

bool TWizardForm::FormCloseQuery() {
  if (internal_close_) return true;
  internal_close_ = true;
  const bool closing = onRequestAppClose ? onRequestAppClose() : true;
  internal_close_ = false;
  return closing;
}

void TWizardForm::CloseWithoutAsking() {
  internal_close_ = true;
  Close();
  internal_close_ = false;
}

TWizardChoices TWizardForm::Choices() const {
  TWizardChoices c;
  c.AppDir = DirEdit.Text();
  c.GroupName = GroupEdit.Text();
  c.NoIcons = NoIconsCheck.Checked();
  return c;
}

void TWizardForm::ShowInstCheck(bool visible) { InstCheck.SetVisible(visible); }

void TWizardForm::ShowFinishedPage(bool ask_restart, bool offer_readme) {
  if (ask_restart) {
    FinishedLabel.SetText(ReplacePlaceholders(SRestartQuestion));
    YesRadio.SetVisible(true);
    NoRadio.SetVisible(true);
  } else if (offer_readme) {
    ShowReadmeCheck.SetVisible(true);
  }
  CurPage = Script.InfoAfterText.empty() ? wpFinished : wpInfoAfter;
  UpdatePage();
  Show();
}

TFinishedChoices TWizardForm::FinishedChoices() const {
  TFinishedChoices c;
  c.RestartNow = YesRadio.Checked();
  c.ViewReadme = ShowReadmeCheck.Checked();
  return c;
}

void TWizardForm::Button1Click() {
  if (!onBrowse) return;
  std::string dir = DirEdit.Text();
  if (onBrowse(dir, Script.Header.DefaultDirectory(), SBrowsePrompt)) DirEdit.SetText(dir);
}

void TWizardForm::GroupEditChange() {
  const int index = GroupList.IndexOfText(GroupEdit.Text());
  if (index == GroupList.ItemIndex()) return;
  auto handler = std::move(GroupList.onClick);
  GroupList.onClick = nullptr;
  GroupList.SetItemIndex(index);
  GroupList.onClick = std::move(handler);
}

void TWizardForm::GroupListClick() {
  const int index = GroupList.ItemIndex();
  if (index < 0) return;
  auto handler = std::move(GroupEdit.onChange);
  GroupEdit.onChange = nullptr;
  GroupEdit.SetText(GroupList.ItemText(index));
  GroupEdit.onChange = std::move(handler);
}

void TWizardForm::NoIconsCheckClick() {
  const bool enabled = !NoIconsCheck.Checked();
  GroupEdit.SetEnabled(enabled);
  GroupEdit.SetButtonFace(!enabled);
  GroupList.SetEnabled(enabled);
  if (!enabled) GroupList.SetItemIndex(-1);
  InvalidateRect(GroupList.Handle(), nullptr, TRUE);
}

void TWizardForm::FillGroupList() {
  GroupList.SetRedraw(false);
  for (const std::string& g : ListProgramGroups(IsAdmin)) GroupList.Add(g);
  GroupList.SetRedraw(true);
}
