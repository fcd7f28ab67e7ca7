// The file system controls: the drive box (TNewDriveComboBox), the folder
// list (TNewDirectoryListBox) and the path label (TNewPathLabel). Owner-drawn
// standard controls of the windowing layer; the rules they follow without
// Windows are in folderlogic.h and pathfit.h.
//
// The folder list works through the process's current directory: every move
// changes it and leaves it there.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/winhandles.h"
#include "forms/controls.h"
#include "fsctl/folderlogic.h"

class TNewDirectoryListBox;

// A folder or drive that cannot be entered: the system's text, the code.
class EFolderError : public EInOutError {
 public:
  EFolderError(const std::string& path, DWORD code);
  DWORD Code() const { return code_; }

 private:
  DWORD code_;
};

// The images of one control: for kind k and state s (0 normal, 1 selected)
// the entry k x 2 + s. Made from the program's bitmap resources with their
// transparent colour (the bottom-left pixel) replaced by the background.
class TKindImages {
 public:
  // names: the resource names of the kinds, in kind order, without "95".
  void Load(const std::vector<const char*>& names, COLORREF normal_back);
  HBITMAP Image(int kind, bool selected) const;
  SIZE ImageSize(int kind) const;
  void Clear() { images_.clear(); }

 private:
  std::vector<TBitmap> images_;
  std::vector<SIZE> sizes_;
};

// Shows an error of a control's handler to the user; the dialog around the
// control stays open.
void ShowControlError(const std::exception& e);

class TNewDriveComboBox : public forms::TComboBox {
 public:
  TNewDriveComboBox();
  ~TNewDriveComboBox() override;

  // The height and the owner-draw options come from the control; args.value
  // is ignored.
  void Create(const forms::TControlArgs& args) override;

  TNewDirectoryListBox* DirList() const { return dir_list_; }
  // Links both ways; nullptr unlinks.
  void SetDirList(TNewDirectoryListBox* list);
  TNewTextCase TextCase() const { return text_case_; }
  void SetTextCase(TNewTextCase text_case);
  // The selected drive letter in the case of TextCase; 0 for none.
  char SelectedDrive() const { return selected_drive_; }
  // Selects a drive (0: none) and moves the linked list to it. Raises
  // EFolderError when the list cannot go there; the selection is then what
  // it was.
  void SelectDrive(char letter);
  // Fired after every change made through SelectDrive.
  std::function<void()> OnChange;

  void RebuildDriveList();

  void Command(WORD code) override;
  void DrawItem(DRAWITEMSTRUCT* dis) override;
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  friend class TNewDirectoryListBox;
  // Shows letter as selected without moving the list or firing OnChange.
  void ShowDrive(char letter);
  int IndexOfDrive(char letter) const;
  void LoadDriveImages();
  void UpdateItemHeight();

  TNewDirectoryListBox* dir_list_ = nullptr;
  TNewTextCase text_case_ = tcLowerCase;
  char selected_drive_ = 0;
  TKindImages images_;
};

class TNewDirectoryListBox : public forms::TListBox {
 public:
  TNewDirectoryListBox();
  ~TNewDirectoryListBox() override;

  // The height and the owner-draw options come from the control; args.value
  // is ignored.
  void Create(const forms::TControlArgs& args) override;

  const std::string& CurrentDirectory() const { return current_dir_; }
  // The label that shows CurrentDirectory; nullptr for none. The label must
  // outlive the link (forms hold both as members).
  void SetDirLabel(forms::TLabel* label);
  TNewDriveComboBox* DriveBox() const { return drive_box_; }
  bool VolumeKeepsCase() const { return keeps_case_; }
  bool VolumeCaseSensitive() const { return case_sensitive_; }

  // Moves to a folder; raises EFolderError when it cannot be entered, and
  // then keeps the folder and items it had.
  void GoToDirectory(const std::string& path);
  // Moves to the current folder of a drive (0: none).
  void GoToDrive(char letter);
  // GoToDirectory with the selected item's path (double click, Enter).
  void OpenSelectedFolder();
  std::string FolderItemPath(int index) const;
  const std::vector<TFolderItem>& Items() const { return items_; }

  void RebuildFolderList();
  // Fired after every change of CurrentDirectory.
  std::function<void()> OnChange;

  void Command(WORD code) override;
  void DrawItem(DRAWITEMSTRUCT* dis) override;
  bool WantsReturn() const override { return true; }
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  friend class TNewDriveComboBox;
  void LoadFolderImages();
  void UpdateItemHeight();
  void SignalChange();
  void EnterDirectory(const std::string& folder);

  std::string current_dir_;
  forms::TLabel* dir_label_ = nullptr;
  TNewDriveComboBox* drive_box_ = nullptr;
  bool keeps_case_ = false;
  bool case_sensitive_ = false;
  bool setting_directory_ = false;
  std::vector<TFolderItem> items_;
  TKindImages images_;
};

// A label whose caption is a full path and which draws it shortened with
// "...\" to fit its width (FitPathToWidth). It never sizes itself and never
// treats '&' as an accelerator prefix.
class TNewPathLabel : public forms::TLabel {
 public:
  void Create(const forms::TControlArgs& args) override;
  // What the label draws now (for its own width and font).
  std::string DisplayText() const;
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void Paint(HDC dc);
  bool word_wrap_ = false;
  UINT align_ = DT_LEFT;
};

// The split of a target path for the folder list: drive letter (0 for none),
// folder part, name part (empty when the last component is a folder). Uses
// and restores the process's current directory; raises EFolderError for a
// folder that cannot be entered.
struct TSplitPath {
  char Drive = 0;
  std::string Folder;
  std::string Name;
};
TSplitPath SplitTargetPath(const std::string& path);
