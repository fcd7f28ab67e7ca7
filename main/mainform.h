// The background window: covers the screen with the gradient and the
// application's name, owns the wizard and the install window, and runs the
// whole setup as a small state machine advanced by WM_SETUPSTEP (TSetupStep):
// Starting -> Wizard -> Installing -> FinishedPage -> Closing.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "common/winhandles.h"
#include "forms/controls.h"
#include "forms/forms.h"
#include "main/background.h"

class TWizardForm;
class TInstallForm;
class TAboutForm;

class TMainForm : public forms::TForm {
 public:
  TMainForm();
  ~TMainForm() override;

  // The About box shown by the system menu's About item (created by the
  // program entry after this window).
  TAboutForm* AboutForm = nullptr;

  TSetupStep Step = TSetupStep::Starting;
  bool Closing = false;
  bool Minimized = false;
  bool BusyRunning = false;
  // Whether the installation has been done (the finished pages were
  // reached; closing them ends the run without the finishing actions).
  bool Completed() const { return Step >= TSetupStep::FinishedPage; }

  // Invisible marker: "Installed" once the common-controls update program
  // was installed.
  forms::TLabel YesLabel;

  std::unique_ptr<TWizardForm> Wizard;
  std::unique_ptr<TInstallForm> InstallForm;

  HPALETTE Palette() const { return palette_.get(); }

 protected:
  void FormCreate();
  bool FormCloseQuery() override;
  void FormClose() override;
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void Paint();
  void SetupStep();
  void LeaveStep(TSetupStep step);
  void EnterStep(TSetupStep step);
  void RunEntries();
  void PrepareFinishedPage();
  void FinishedPageDone();
  void BringOwnedWindowToTop();
  void RestoreApplication();

  TPalette palette_;
  uint32_t color_ = 0;  // the background colour as RGB
  bool activated_once_ = false;
};
