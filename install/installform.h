// The install window: status texts, the file being installed, the progress
// bar and Cancel while the installation steps run; it owns the
// installation's transaction, asks before cancelling, and on failure
// reports, rolls back and ends the program.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/controls.h"
#include "forms/forms.h"
#include "fsctl/fsctrls.h"
#include "install/installcontext.h"
#include "setupdata/script.h"

// The program's exit code after a failed or cancelled installation (the
// install window ends the message loop with it after the rollback).
constexpr int kInstallFailedExitCode = 1;

// The progress range of a script: the compressed sizes of every file entry,
// 1000 per icon entry, and 1000 each for the INI and the registry step when
// the script has such entries. A sum beyond 32 bits is held at the 32-bit
// maximum.
uint32_t InstallProgressMaximum(const SetupScript& script);

class TInstallForm : public forms::TForm, public TInstallProgress {
 public:
  // owner: the background window (centring, ownership).
  explicit TInstallForm(HWND owner);
  ~TInstallForm() override;  // FormDestroy: frees the transaction

  forms::TAnimate Animate1;
  forms::TLabel StatusLabel;
  TNewPathLabel FilenameLabel;  // the path shortened with "...\" to fit
  forms::TProgressBar ProgressGauge;
  forms::TButton CancelButton;

  bool InstallDone = false;
  bool CancelRequested = false;
  TUndoChanges& Log() { return transaction_->Log(); }

  // Set by the owner before RunInstallation:
  // the file step found the common-controls update program (the background
  // window's YesLabel gets "Installed");
  std::function<void()> onMarkCommonControlsUpdate;
  // whether that marker is set (read at the end; when not set, the form
  // remembers whether onMarkCommonControlsUpdate was called);
  std::function<bool()> onCommonControlsUpdateMarked;
  // shows or hides the wizard's InstCheck after a successful installation;
  std::function<void(bool visible)> onSetInstCheckVisible;
  // the next-disk dialog handed to extraction;
  TPromptForDisk PromptForDisk;
  // the installation is done and this window closed: the owner goes on.
  std::function<void()> onDone;
  // The benchmarks' breakdown of the file step (none in setup.exe).
  TStepClock* StepClock = nullptr;

  // Runs every installation step. On success: InstallDone, the InstCheck
  // visibility, the window closed and onDone called. On
  // failure or a confirmed cancel: the error (unless the user aborted), the
  // rollback, and the end of the message loop with kInstallFailedExitCode.
  // The library's exceptions count as failures (exhausted memory shown as
  // "Out of memory"). Returns either way.
  void RunInstallation();

  // TInstallProgress. The file name and the bar are drawn when what they
  // show changes, at most every kDrawInterval milliseconds (under Wine one
  // drawing of both costs 5 to 15 ms, so 30 a second would take a quarter
  // of the copy's time): a change that comes sooner is held and drawn at
  // the first check point or change due, before any message box or the
  // next-disk prompt, and before the label is cleared (so the last file's
  // name and the bar's last position are shown before the file step ends).
  // ProgressPosition is the position set, drawn or not. CheckCancel looks
  // at the queue at most every kQueueTestInterval milliseconds and runs a
  // round of window messages only when some wait, so that a check point
  // with nothing waiting costs next to nothing; a confirmed cancel is acted
  // on at the very next check point.
  static constexpr DWORD kDrawInterval = 100;
  static constexpr DWORD kQueueTestInterval = 10;
  void SetStatusText(const std::string& text) override;
  void SetFileNameText(const std::string& path) override;
  void AddProgress(uint32_t amount) override;
  uint32_t ProgressPosition() const override;
  void SetProgressPosition(uint32_t position) override;
  void CheckCancel() override;

 protected:
  void FormCreate();
  bool FormCloseQuery() override;
  void CancelButtonClick();
  // Draws the file name and the bar if they changed and the last drawing is
  // at least kDrawInterval old (always when now is true).
  void DrawChanges(bool now);

 private:
  void Fail(const Exception* error);
  void MoveBar(uint64_t position);  // clamped to the range

  HWND owner_;
  std::unique_ptr<TInstallTransaction> transaction_;
  bool update_marked_ = false;
  std::string name_;  // the file name set, drawn or not
  bool name_changed_ = false, bar_changed_ = false;
  uint32_t position_ = 0;  // the bar's position set, drawn or not
  DWORD drawn_at_ = 0;     // GetTickCount of the last drawing
  bool drawn_ = false;     // anything drawn yet
  DWORD queue_tested_at_ = 0;  // GetTickCount of the last look at the queue
  bool queue_tested_ = false;
};
