// The next-disk prompt: asks for the disk that holds a missing disk data
// file, lets the user type or browse for its folder, closes with OK only when
// the file is there and with Cancel only after the "Exit Setup" question.
#pragma once
#include <windows.h>

#include <string>

#include "forms/controls.h"
#include "forms/forms.h"

class TNewDiskForm : public forms::TForm {
 public:
  explicit TNewDiskForm(HWND owner);

  forms::TLabel SelectDiskLabel;
  forms::TImage Image1;
  forms::TLabel PathLabel;
  forms::TEdit PathEdit;
  forms::TButton BrowseButton;
  forms::TButton OKButton;
  forms::TButton CancelButton;

  // The disk data file looked for (SETUP.2 and the like).
  std::string Filename;

  // The full path that OK checks: the path field without blanks around it,
  // a trailing backslash, the file name, made full. Empty when that path
  // does not fit the 260-character buffers of the program.
  std::string CandidatePath() const;

 protected:
  void FormCreate();
  bool FormCloseQuery() override;
  void BrowseButtonClick();
};

// Shows the prompt for disk (file_name not found), starting with
// initial_dir in the path field. True with the directory that holds the
// file (with a trailing backslash) when the user pressed OK; false when the
// user cancelled. Matches TPromptForDisk.
bool PromptForDisk(int disk, const std::string& file_name, const std::string& initial_dir, std::string& dir);
