// The folder chooser behind both Browse buttons (the destination page and
// the next-disk prompt): a drive box and a folder list linked together, and
// the path field that is the dialog's result. Created once and kept, so its
// controls show the folder of the last use; it checks nothing itself.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "forms/controls.h"
#include "forms/forms.h"
#include "fsctl/fsctrls.h"

class TChooseDirForm : public forms::TForm {
 public:
  // owner: the background window (or none).
  explicit TChooseDirForm(HWND owner);

  forms::TLabel Label1;  // the prompt, set by the caller
  forms::TLabel Label4;
  forms::TEdit TheEdit;  // the result
  forms::TLabel Label3;
  TNewDirectoryListBox NewDirectoryListBox1;
  forms::TLabel Label2;
  TNewDriveComboBox NewDriveComboBox1;
  forms::TButton Button1;
  forms::TButton Button2;
  forms::TLabel CreateName;  // hidden: the name appended to every folder picked

 protected:
  // The system colours reach top-level windows only: the drive box and the
  // folder list hear of them from here and prepare their pictures again.
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void NewDirectoryListBox1Change();
};

// The program's one folder chooser. CreateChooseDirForm makes it (at start,
// beside the background window, so that it first shows the folder the
// program started in); ChooseDirForm makes it on first use if that has not
// happened.
TChooseDirForm& CreateChooseDirForm(HWND owner);
TChooseDirForm& ChooseDirForm();

// Shows the chooser centred over from (the window whose Browse opened it)
// with start in its path field, create_name as the name to append and prompt
// above; true and the path field's text in result unless the user cancelled.
bool BrowseForFolder(HWND from, const std::string& prompt, const std::string& start,
                     const std::string& create_name, std::string& result);
