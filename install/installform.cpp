#include "install/installform.h"

#include <new>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "install/steps.h"
#include "run/confirmexit.h"
#include "run/globals.h"

uint32_t InstallProgressMaximum(const SetupScript& script) {
  uint64_t sum = 0;
  for (const SetupFileEntry& file : script.FileEntries)
    sum += static_cast<uint32_t>(file.CompressedSize());
  const SetupHeader& h = script.Header;
  if (h.IconEntryCount() > 0) sum += 1000ull * static_cast<uint32_t>(h.IconEntryCount());
  if (h.IniEntryCount() != 0) sum += 1000;
  if (h.RegistryEntryCount() != 0) sum += 1000;
  return sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
}

TInstallForm::TInstallForm(HWND owner) : owner_(owner) {
  forms::TFormArgs args;
  args.caption = "Setup";
  args.client_width = 389;
  args.client_height = 140;
  args.border = forms::TBorderStyle::Dialog;
  args.owner = owner;
  args.font = forms::TFontSpec::Points("Arial", 8);
  CreateForm(args);
  const forms::TLayoutItem layout[] = {
      {&Animate1, {8, 8, 272, 60}},
      {&StatusLabel, {8, 80, 297, 16}, "", forms::coNoPrefix},
      {&FilenameLabel, {8, 96, 297, 16}, "", forms::coNoPrefix},
      {&ProgressGauge, {8, 112, 297, 15}},
      {&CancelButton, {312, 111, 73, 23}, "Cancel", forms::coCancel, forms::mrCancel},
  };
  CreateControls(layout);
  CancelButton.onClick = [this] { CancelButtonClick(); };
  FormCreate();
}

// FormDestroy: the transaction goes with the form.
TInstallForm::~TInstallForm() = default;

void TInstallForm::FormCreate() {
  SetCaption("Setup");
  CentreOverClientArea(owner_);

  CancelButton.SetText("Cancel");
  ProgressGauge.SetMax(InstallProgressMaximum(Script));
  transaction_ = std::make_unique<TInstallTransaction>();
  transaction_->Log().AppName = Script.Header.ApplicationName();
  transaction_->Log().AdminFlag = IsAdmin ? 1 : 0;

  // The copy clip to its frame 26, for ever. A system whose clip is
  // shorter (Wine's has two frames) plays the whole clip instead.
  if (Animate1.OpenCommonAvi(forms::TAnimate::aviCopyFile) && !Animate1.Play(0, 26, -1))
    Animate1.Play(0, -1, -1);
}

void TInstallForm::CancelButtonClick() { Close(); }

bool TInstallForm::FormCloseQuery() {
  if (InstallDone) return true;
  if (ConfirmExit()) CancelRequested = true;
  return false;
}

void TInstallForm::CheckCancel() {
  transaction_->Journal().Flush();
  if (CancelRequested) throw EAbort();
  DrawChanges(false);
  // Check points come every few milliseconds while data is read. The queue
  // is looked at when kQueueTestInterval has passed since the last look
  // (before that, the check point costs the tick count); its state is one
  // call, and a round of PeekMessage follows only when something waits
  // (input, a repaint, a timer, a message sent or posted).
  const DWORD now = GetTickCount();
  if (queue_tested_ && now - queue_tested_at_ < kQueueTestInterval) return;
  queue_tested_ = true;
  queue_tested_at_ = now;
  bool waiting;
  {
    TTimedPart timed(StepClock, "queue test");
    waiting = HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0;
  }
  if (waiting) {
    TTimedPart timed(StepClock, "window messages");
    forms::ProcessMessages();
  }
  if (CancelRequested) throw EAbort();
}

void TInstallForm::DrawChanges(bool now) {
  if (!name_changed_ && !bar_changed_) return;
  const DWORD tick = GetTickCount();
  if (!now && drawn_ && tick - drawn_at_ < kDrawInterval) return;
  drawn_ = true;
  drawn_at_ = tick;
  if (name_changed_) {
    TTimedPart timed(StepClock, "drawing name");
    name_changed_ = false;
    FilenameLabel.SetText(name_);
    FilenameLabel.Repaint();
  }
  if (bar_changed_) {
    TTimedPart timed(StepClock, "drawing bar");
    bar_changed_ = false;
    ProgressGauge.SetPosition(position_);  // draws only when a pixel changes
  }
}

void TInstallForm::SetStatusText(const std::string& text) {
  DrawChanges(true);
  StatusLabel.SetText(text);
  StatusLabel.Repaint();
}

void TInstallForm::SetFileNameText(const std::string& path) {
  if (path.empty()) DrawChanges(true);  // the last name, and the bar, before the label goes blank
  if (path != name_) {
    name_ = path;
    name_changed_ = true;
  }
  DrawChanges(path.empty());
}

void TInstallForm::AddProgress(uint32_t amount) {
  MoveBar(static_cast<uint64_t>(position_) + amount);
}

uint32_t TInstallForm::ProgressPosition() const { return position_; }

void TInstallForm::SetProgressPosition(uint32_t position) { MoveBar(position); }

void TInstallForm::MoveBar(uint64_t position) {
  const uint32_t max = ProgressGauge.Max();
  const uint32_t clamped = position > max ? max : static_cast<uint32_t>(position);
  if (clamped != position_) {
    position_ = clamped;
    bar_changed_ = true;
  }
  DrawChanges(false);
}

void TInstallForm::RunInstallation() {
  try {
    auto mark = [this] {
      update_marked_ = true;
      if (onMarkCommonControlsUpdate) onMarkCommonControlsUpdate();
    };
    // A question or the next-disk prompt comes up over the file and the bar
    // as they stand.
    struct TBoxHook {
      TBeforeMessageBox before;
      ~TBoxHook() { SetBeforeMessageBox(before); }
    } hook{SetBeforeMessageBox({[](void* form) { static_cast<TInstallForm*>(form)->DrawChanges(true); }, this})};
    TInstallContext ctx(*transaction_, *this);
    ctx.NoIconsChecked = NoIcons;
    ctx.MarkCommonControlsUpdate = mark;
    if (PromptForDisk)
      ctx.PromptForDisk = [this](int disk, const std::string& name, const std::string& initial,
                                 std::string& dir) {
        DrawChanges(true);
        return PromptForDisk(disk, name, initial, dir);
      };
    ctx.Clock = StepClock;
    RunInstallationSteps(ctx);
  } catch (const EAbort&) {
    Fail(nullptr);
    return;
  } catch (const Exception& e) {
    Fail(&e);
    return;
  } catch (const std::bad_alloc&) {
    // The library's failures are the program's own to the user: shown, and
    // everything taken back.
    const EOutOfMemory e;
    Fail(&e);
    return;
  } catch (const std::exception& e) {
    const Exception error(e.what());
    Fail(&error);
    return;
  }
  InstallDone = true;
  const bool marked = onCommonControlsUpdateMarked ? onCommonControlsUpdateMarked() : update_marked_;
  if (onSetInstCheckVisible) onSetInstCheckVisible(marked);
  Close();
  if (onDone) onDone();
}

// The failure handling: error is nullptr for the silent abort.
void TInstallForm::Fail(const Exception* error) {
  DrawChanges(true);
  if (error) {
    forms::ShowException(*error);
    ShowMessageBoxStr("Setup was not complete.\r\n\r\nPlease correct the problem and run Setup again.",
                      "", mbkStop, MB_OK);
  }
  // The program ends whatever the rollback meets: a window that may not
  // close and has nothing left to do would keep the user waiting for ever.
  try {
    transaction_->Rollback();
  } catch (...) {
    Hide();
    forms::Terminate(kInstallFailedExitCode);
    throw;
  }
  Hide();
  forms::Terminate(kInstallFailedExitCode);
}
