// What the installation steps need of the install window and of the rest of
// the run, gathered in one place so that each step (directories, files,
// icons, INI and registry entries, uninstall registration) takes one
// argument and can be driven by the real install window or by a test host.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/transaction.h"
#include "setupdata/filestream.h"

// The install window as the steps see it. TInstallForm implements it.
class TInstallProgress {
 public:
  virtual ~TInstallProgress() = default;
  // StatusLabel: the current step's text, repainted at once.
  virtual void SetStatusText(const std::string& text) = 0;
  // FilenameLabel: the file being installed (shortened to fit by the
  // label), repainted at once; empty clears it.
  virtual void SetFileNameText(const std::string& path) = 0;
  // ProgressGauge: moves the bar by amount (32-bit range) and repaints it.
  virtual void AddProgress(uint32_t amount) = 0;
  // ProgressGauge's position, and setting it back (a failed extraction
  // returns the bar to where it stood before the file), repainted at once.
  virtual uint32_t ProgressPosition() const = 0;
  virtual void SetProgressPosition(uint32_t position) = 0;
  // Raises the silent abort (EAbort) when the user confirmed cancelling;
  // otherwise processes pending window messages and tests again.
  virtual void CheckCancel() = 0;
};

// Where the file step's time goes, for the benchmarks: the parts of the
// step (a sub-step of the file rules, a window call) open and close as
// they run, nested; the clock keeps each part's time without the parts
// inside it. setup.exe has none: the step then pays one null test a part.
class TStepClock {
 public:
  virtual ~TStepClock() = default;
  virtual void Begin(const char* part) = 0;
  virtual void End() = 0;
};

// Times the scope it lives in as one call of part.
class TTimedPart {
 public:
  TTimedPart(TStepClock* clock, const char* part) : clock_(clock) {
    if (clock_) clock_->Begin(part);
  }
  ~TTimedPart() {
    if (clock_) clock_->End();
  }
  TTimedPart(const TTimedPart&) = delete;
  TTimedPart& operator=(const TTimedPart&) = delete;

 private:
  TStepClock* clock_;
};

// The next-disk prompt: (disk number, disk data file name, initial
// directory) -> true and the chosen directory (with a trailing backslash)
// when the user pressed OK; false when the user cancelled.
using TPromptForDisk =
    std::function<bool(int disk, const std::string& file_name, const std::string& initial_dir, std::string& dir)>;

// One installation's shared state. The driver owns it for one run.
struct TInstallContext {
  TInstallContext(TInstallTransaction& transaction, TInstallProgress& progress)
      : Transaction(transaction), Log(transaction.Log()), Journal(transaction.Journal()), Progress(progress) {}

  // The installation's transaction: the file step keeps its safety copies
  // there, the driver commits it at the end, the install window rolls it
  // back after a failure. Log is its change log, which every step appends
  // to.
  TInstallTransaction& Transaction;
  TUndoChanges& Log;
  // The transaction's journal on disk: each step says there what it is
  // about to change before it changes it (Intend, the Note calls).
  TInstallJournal& Journal;
  TInstallProgress& Progress;

  // Wizard choices as the background window copied them (also in the
  // globals AppDir, GroupName and NoIcons).
  bool NoIconsChecked = false;

  // The uninstall file template ("<app>\UNINST%s.nnn"), filled by
  // ReserveUninstallFiles; empty when the script is not uninstallable.
  std::string UninstallFileTemplate;

  // The directory in which the last disk data file was found; starts as
  // SourceDir for each file step.
  std::string CurrentDiskDir;

  // The disk data file that the file step keeps open from one file to the
  // next (its header checked when it was opened) and its path; closed
  // before the next-disk prompt and when the step ends.
  std::unique_ptr<TFile> OpenDiskFile;
  std::string OpenDiskPath;

  // Set by the file step when it installs a file whose name contains
  // "40comupd.exe" (the background window's hidden YesLabel marker).
  std::function<void()> MarkCommonControlsUpdate;

  // The next-disk dialog; when empty, a missing disk data file is reported
  // as the file layer's error instead of asking.
  TPromptForDisk PromptForDisk;

  // The benchmarks' clock (TStepClock); none in setup.exe.
  TStepClock* Clock = nullptr;
};
