#include "fsctl/choosedir.h"

#include "common/pathutil.h"

namespace {
std::unique_ptr<TChooseDirForm> g_choose_dir;
}

TChooseDirForm::TChooseDirForm(HWND owner) {
  forms::TFormArgs args;
  args.caption = "Select Folder";
  args.client_width = 232;
  args.client_height = 275;
  args.border = forms::TBorderStyle::Dialog;
  args.owner = owner;
  args.font = forms::TFontSpec::Pixels("MS Sans Serif", 11);
  CreateForm(args);
  const forms::TLayoutItem layout[] = {
      {&Label1, {8, 8, 217, 33}, "", forms::coWordWrap},
      {&Label4, {8, 48, 0, 0}, "&Path:"},
      {&TheEdit, {8, 64, 217, 21}},
      {&Label3, {8, 96, 0, 0}, "Available &Folders:"},
      {&NewDirectoryListBox1, {8, 112, 137, 110}},
      {&Label2, {8, 232, 0, 0}, "Dri&ves:"},
      {&NewDriveComboBox1, {8, 248, 137, 22}},
      {&Button1, {152, 112, 75, 25}, "OK", forms::coDefault, forms::mrOk},
      {&Button2, {152, 144, 75, 25}, "Cancel", forms::coCancel, forms::mrCancel},
      {&CreateName, {0, 0, 0, 0}, "", forms::coHidden | forms::coNoPrefix},
  };
  CreateControls(layout);
  NewDriveComboBox1.SetDirList(&NewDirectoryListBox1);
  NewDirectoryListBox1.OnChange = [this] { NewDirectoryListBox1Change(); };
}

void TChooseDirForm::NewDirectoryListBox1Change() {
  const std::string dir = NewDirectoryListBox1.CurrentDirectory();
  const std::string name = CreateName.Text();
  TheEdit.SetText(name.empty() ? dir : EnsureTrailingBackslash(dir) + name);
}

bool TChooseDirForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT&) {
  if (msg == WM_SYSCOLORCHANGE) {
    SendMessageA(NewDriveComboBox1.Handle(), msg, wp, lp);
    SendMessageA(NewDirectoryListBox1.Handle(), msg, wp, lp);
  }
  return false;
}

TChooseDirForm& CreateChooseDirForm(HWND owner) {
  if (!g_choose_dir) g_choose_dir = std::make_unique<TChooseDirForm>(owner);
  return *g_choose_dir;
}

TChooseDirForm& ChooseDirForm() { return CreateChooseDirForm(nullptr); }

bool BrowseForFolder(HWND from, const std::string& prompt, const std::string& start,
                     const std::string& create_name, std::string& result) {
  TChooseDirForm& form = ChooseDirForm();
  form.TheEdit.SetText(start);
  form.CreateName.SetText(create_name);
  form.Label1.SetText(prompt);
  form.CentreOverClientArea(from);
  if (form.ShowModal() == forms::mrCancel) return false;
  result = form.TheEdit.Text();
  return true;
}
