#include "uninstaller/uninstform.h"

#include "uninstaller/uninstlogic.h"

TUninstallForm::TUninstallForm(const std::string& appName) {
  forms::TFormArgs args;
  args.caption = kUninstallCaption;
  args.client_width = 330;
  args.client_height = 64;
  args.border = forms::TBorderStyle::Dialog;
  args.font = forms::TFontSpec::Points("Arial", 8);
  CreateForm(args);
  const forms::TLayoutItem layout[] = {
      {&StatusLabel, {8, 10, 314, 16}, "", forms::coNoPrefix},
      {&ProgressGauge, {8, 34, 314, 15}},
  };
  CreateControls(layout);
  FormCreate(appName);
}

void TUninstallForm::FormCreate(const std::string& appName) {
  StatusLabel.SetText(RemovingText(appName));
  // Centred on the screen's work area.
  CentreOverClientArea(nullptr);
}

void TUninstallForm::SetProgress(size_t done, size_t total) {
  ProgressGauge.SetMax(total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total));
  ProgressGauge.SetPosition(static_cast<uint32_t>(done));
}
