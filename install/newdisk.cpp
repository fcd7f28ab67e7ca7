#include "install/newdisk.h"

#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "fsctl/choosedir.h"
#include "install/newdisktext.h"
#include "run/confirmexit.h"

namespace {

const forms::TFontSpec kPathLabelFont = forms::TFontSpec::Points("MS Sans Serif", 8);

// The full path of a relative or dotted path (".." resolved), or empty when
// it would not fit MAX_PATH characters.
std::string FullPath(const std::string& path) {
  char buf[MAX_PATH];
  char* name = nullptr;
  const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, buf, &name);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buf, n);
}

bool FileExistsQuiet(const std::string& path) {
  // An empty drive answers false here instead of a system box: the prompt
  // explains what is missing itself.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  const DWORD attr = GetFileAttributesA(path.c_str());
  SetErrorMode(old_mode);
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

TNewDiskForm::TNewDiskForm(HWND owner) {
  forms::TFormArgs args;
  args.client_width = 377;
  args.client_height = 169;
  args.border = forms::TBorderStyle::Dialog;
  args.owner = owner;
  args.font = forms::TFontSpec::Points("Arial", 8).Colored(RGB(0, 0, 0));
  CreateForm(args);
  // Creation order is tab order: PathEdit, BrowseButton, OKButton,
  // CancelButton; PathLabel just before PathEdit so its '&' focuses it.
  const forms::TLayoutItem layout[] = {
      {&SelectDiskLabel, {72, 8, 297, 72}, "", forms::coWordWrap},
      {&Image1, {8, 8, 48, 48}, "", forms::coTransparent},
      {&PathLabel, {8, 80, 0, 0}, "", 0, 0, &kPathLabelFont},
      {&PathEdit, {8, 96, 281, 22}},
      {&BrowseButton, {296, 95, 73, 23}},
      {&OKButton, {216, 137, 73, 23}, "", forms::coDefault, forms::mrOk},
      {&CancelButton, {296, 137, 73, 23}, "", forms::coCancel, forms::mrCancel},
  };
  CreateControls(layout);
  Image1.SetBitmap(TBitmap(LoadBitmapA(GetModuleHandleA(nullptr), "NEWDISK")));
  BrowseButton.onClick = [this] { BrowseButtonClick(); };
  FormCreate();
  // Centred on the screen.
  CentreOverClientArea(nullptr);
}

void TNewDiskForm::FormCreate() {
  SetCaption("Please Insert the Next Disk");
  PathLabel.SetText("&Path:");
  BrowseButton.SetText("&Browse...");
  OKButton.SetText("OK");
  CancelButton.SetText("Cancel");
}

std::string TNewDiskForm::CandidatePath() const { return FullPath(NewDiskCandidate(PathEdit.Text(), Filename)); }

bool TNewDiskForm::FormCloseQuery() {
  if (ModalResult() == forms::mrOk) {
    const std::string full = CandidatePath();
    if (!full.empty() && FileExistsQuiet(full)) return true;
    // A path too long for the program's buffers is named as typed.
    const std::string dir = full.empty() ? ExtractFilePath(NewDiskCandidate(PathEdit.Text(), Filename))
                                         : ExtractFilePath(full);
    ShowMessageBoxStr(NewDiskNotFoundText(Filename, dir, DirectoryWord(IsVersion4Shell())), "", mbkWarning,
                      MB_OK);
    return false;
  }
  return ConfirmExit();
}

void TNewDiskForm::BrowseButtonClick() {
  std::string path;
  if (BrowseForFolder(Handle(), kNextDiskBrowsePrompt, Trim(PathEdit.Text()), "", path)) PathEdit.SetText(path);
}

bool PromptForDisk(int disk, const std::string& file_name, const std::string& initial_dir, std::string& dir) {
  TNewDiskForm form(GetActiveWindow());
  form.Filename = file_name;
  form.SelectDiskLabel.SetText(NewDiskPromptText(disk, DirectoryWord(IsVersion4Shell())));
  form.PathEdit.SetText(initial_dir);
  if (form.ShowModal() != forms::mrOk) return false;
  dir = ExtractFilePath(form.CandidatePath());
  return true;
}
