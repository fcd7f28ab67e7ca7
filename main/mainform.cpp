#include "main/mainform.h"

#include <vector>

#include "common/msgbox.h"
#include "fsctl/choosedir.h"
#include "install/installform.h"
#include "install/newdisk.h"
#include "main/completion.h"
#include "run/confirmexit.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "wizard/aboutform.h"
#include "wizard/wizardform.h"

using namespace forms;

namespace {

const char* const SInstalledMarker = "Installed";

struct TOwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwnedWindow(HWND wnd, LPARAM lp) {
  auto* s = reinterpret_cast<TOwnedSearch*>(lp);
  if (GetWindow(wnd, GW_OWNER) == s->owner && IsWindowVisible(wnd)) {
    s->found = wnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

TMainForm::TMainForm() {
  TFormArgs f;
  f.caption = "Setup";
  f.client_width = GetSystemMetrics(SM_CXSCREEN);
  f.client_height = GetSystemMetrics(SM_CYSCREEN);
  f.border = TBorderStyle::Sizeable;
  f.main_form = true;
  CreateForm(f);
  const TLayoutItem layout[] = {
      {&YesLabel, {0, 0, 1, 1}, "", coHidden},
  };
  CreateControls(layout);
  onQueryPalette = [this] { return palette_.get(); };
  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate() {
  SetBounds(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  HMENU menu = GetSystemMenu(Handle(), FALSE);
  AppendMenuA(menu, MF_SEPARATOR, kAboutSeparatorCommand, nullptr);
  AppendMenuA(menu, MF_STRING, kAboutCommand, "&About Quorvel...");

  color_ = ResolveColor(Script.Header.BackgroundColor(),
                        [](int index) { return static_cast<uint32_t>(GetSysColor(index)); });
  if (!(Script.Header.Flags() & hfSolidBackground)) {
    std::vector<BYTE> buf(sizeof(LOGPALETTE) + (kGradientBands - 1) * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = kGradientBands;
    for (int i = 0; i < kGradientBands; ++i) {
      const uint32_t c = ScaleColor(color_, GradientFactor(i));
      lp->palPalEntry[i].peRed = static_cast<BYTE>(c & 0xFF);
      lp->palPalEntry[i].peGreen = static_cast<BYTE>((c >> 8) & 0xFF);
      lp->palPalEntry[i].peBlue = static_cast<BYTE>((c >> 16) & 0xFF);
      lp->palPalEntry[i].peFlags = 0;
    }
    palette_.reset(CreatePalette(lp));
  }
}

void TMainForm::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(Handle(), &ps);
  HPALETTE old_palette = nullptr;
  if (palette_) {
    old_palette = SelectPalette(dc, palette_.get(), FALSE);
    ::RealizePalette(dc);
  }
  RECT client{};
  GetClientRect(Handle(), &client);
  if (!palette_) {
    TBrush brush(CreateSolidBrush(color_ & 0x00FFFFFF));
    FillRect(dc, &client, brush.get());
  } else {
    const int h = client.bottom - client.top;
    for (int i = 0; i < kGradientBands; ++i) {
      RECT band{client.left, GradientBandTop(h, i), client.right, GradientBandTop(h, i + 1)};
      const uint32_t c = ScaleColor(color_, GradientFactor(i));
      TBrush brush(CreateSolidBrush((c & 0x00FFFFFF) | 0x02000000));
      FillRect(dc, &band, brush.get());
    }
  }
  SetBkMode(dc, TRANSPARENT);
  TFontSpec title = TFontSpec::Points("Times New Roman", 25);
  title.bold = true;
  title.italic = true;
  {
    TSelectObject font(dc, GetFont(title));
    SetTextAlign(dc, TA_TOP | TA_LEFT);
    const std::string name = Script.Header.ApplicationName();
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, 12, 12, name.data(), static_cast<int>(name.size()));
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 9, 9, name.data(), static_cast<int>(name.size()));
  }
  {
    TSelectObject font(dc, GetFont(TFontSpec::Points("Arial", 8)));
    SetTextAlign(dc, TA_BOTTOM | TA_LEFT);
    const std::string subtitle = Script.Header.BackgroundSubtitle();
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, 12, 65, subtitle.data(), static_cast<int>(subtitle.size()));
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 11, 64, subtitle.data(), static_cast<int>(subtitle.size()));
  }
  if (palette_) SelectPalette(dc, old_palette, TRUE);
  EndPaint(Handle(), &ps);
}

bool TMainForm::HandleMessage(UINT msg, WPARAM wp, LPARAM /*lp*/, LRESULT& result) {
  switch (msg) {
    case WM_ERASEBKGND:
      result = 0;
      return true;
    case WM_PAINT:
      Paint();
      result = 0;
      return true;
    case WM_SIZE:
      InvalidateRect(Handle(), nullptr, FALSE);
      if (wp == SIZE_MINIMIZED) {
        // Windows hides the owned forms with their owner and shows them
        // again on restore.
        Minimized = true;
      } else if (wp == SIZE_RESTORED || wp == SIZE_MAXIMIZED) {
        Minimized = false;
      }
      return false;
    case WM_GETDLGCODE:
      result = DLGC_WANTTAB;
      return true;
    case WM_ACTIVATEAPP:
      if (wp && palette_) InvalidateRect(Handle(), nullptr, FALSE);
      return false;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE && !activated_once_) {
        activated_once_ = true;
        Step = TSetupStep::Starting;
        // Posted, not sent: the wizard is made once this activation is
        // over. Made and activated inside it, the wizard could end up
        // below this window, which goes on being raised afterwards.
        PostMessageA(Handle(), WM_SETUPSTEP, 0, 0);
      }
      return false;
    case WM_KEYDOWN:
      BringOwnedWindowToTop();
      result = 0;
      return true;
    case WM_SYSCOMMAND:
      if (wp == kAboutCommand && AboutForm) AboutForm->ShowModal();
      return false;  // every system command goes on to the default handling
    case WM_SETUPSTEP:
      SetupStep();
      result = 0;
      return true;
  }
  return false;
}

void TMainForm::BringOwnedWindowToTop() {
  TOwnedSearch s{Handle(), nullptr};
  EnumWindows(FindOwnedWindow, reinterpret_cast<LPARAM>(&s));
  if (s.found) {
    SetWindowPos(s.found, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(s.found);
  }
}

void TMainForm::RestoreApplication() {
  if (IsIconic(Handle())) ShowWindow(Handle(), SW_RESTORE);
}

void TMainForm::SetupStep() {
  // Closing is the last step: nothing follows it.
  if (Step == TSetupStep::Closing) return;
  LeaveStep(Step);
  Step = static_cast<TSetupStep>(static_cast<uint8_t>(Step) + 1);
  EnterStep(Step);
}

void TMainForm::LeaveStep(TSetupStep step) {
  switch (step) {
    case TSetupStep::Wizard: {
      const TWizardChoices choices = Wizard->Choices();
      AppDir = choices.AppDir;
      GroupName = choices.GroupName;
      NoIcons = choices.NoIcons;
      break;
    }
    case TSetupStep::Installing:
      InstallForm.reset();
      RunEntries();
      break;
    case TSetupStep::FinishedPage:
      FinishedPageDone();
      break;
    case TSetupStep::Starting:
    case TSetupStep::Closing:
      break;
  }
}

void TMainForm::EnterStep(TSetupStep step) {
  switch (step) {
    case TSetupStep::Wizard:
      RestoreApplication();
      Wizard = std::make_unique<TWizardForm>(Handle());
      Wizard->onQueryPalette = [this] { return palette_.get(); };
      Wizard->onDone = [this] { PostMessageA(Handle(), WM_SETUPSTEP, 0, 0); };
      Wizard->onRequestAppClose = [this] {
        Close();
        return Closing;
      };
      Wizard->onBrowse = [this](std::string& dir, const std::string& append_name, const std::string& prompt) {
        return BrowseForFolder(Wizard->Handle(), prompt, dir, append_name, dir);
      };
      Wizard->Show();
      break;
    case TSetupStep::Installing: {
      RestoreApplication();
      UpdateWindow(Handle());
      InstallForm = std::make_unique<TInstallForm>(Handle());
      InstallForm->onQueryPalette = [this] { return palette_.get(); };
      InstallForm->onMarkCommonControlsUpdate = [this] { YesLabel.SetText(SInstalledMarker); };
      InstallForm->onCommonControlsUpdateMarked = [this] {
        return YesLabel.Text() == SInstalledMarker;
      };
      InstallForm->onSetInstCheckVisible = [this](bool visible) { Wizard->ShowInstCheck(visible); };
      InstallForm->PromptForDisk = PromptForDisk;
      InstallForm->onDone = [this] { PostMessageA(Handle(), WM_SETUPSTEP, 0, 0); };
      InstallForm->Show();
      InstallForm->RunInstallation();
      break;
    }
    case TSetupStep::FinishedPage:
      RestoreApplication();
      UpdateWindow(Handle());
      PrepareFinishedPage();
      break;
    case TSetupStep::Closing:
      Close();
      break;
    case TSetupStep::Starting:
      break;
  }
}

void TMainForm::RunEntries() {
  if (Script.RunEntries.empty()) return;
  BusyRunning = true;
  struct TClearBusy {
    bool& busy;
    ~TClearBusy() { busy = false; }
  } clear{BusyRunning};
  for (const SetupRunEntry& e : Script.RunEntries) {
    RunProgram(ExpandDirConstants(e.FileName()), ExpandDirConstants(e.Parameters()),
               !(e.RunFlags() & runNoWait), [] { ProcessMessages(); });
  }
  BusyRunning = false;
  SetForegroundWindow(Handle());
}

void TMainForm::PrepareFinishedPage() {
  bool offer_readme = false;
  if (!NeedsRestart) {
    for (const SetupFileEntry& f : Script.FileEntries) {
      if (f.FileFlags() & ffReadme) {
        offer_readme = true;
        ReadmeFile = ExpandDirConstants(f.DestName());
        break;
      }
    }
  }
  Wizard->ShowFinishedPage(NeedsRestart, offer_readme);
}

void TMainForm::FinishedPageDone() {
  const TFinishedChoices choices = Wizard->FinishedChoices();
  if (NeedsRestart) {
    RestartRequested = choices.RestartNow;
  } else if (!ReadmeFile.empty() && choices.ViewReadme) {
    OpenReadme(Handle(), ReadmeFile);
  }
}

bool TMainForm::FormCloseQuery() {
  switch (MainCloseAnswer(BusyRunning, Step, InstallForm != nullptr)) {
    case TMainCloseAnswer::Refuse:
      return false;
    case TMainCloseAnswer::RefuseAndCloseInstall:
      InstallForm->Close();
      return false;
    case TMainCloseAnswer::AskConfirmExit:
      return ConfirmExit();
    case TMainCloseAnswer::Allow:
      return true;
  }
  return false;
}

void TMainForm::FormClose() {
  Closing = true;
  if (Wizard && Wizard->Visible()) Wizard->CloseWithoutAsking();
}
