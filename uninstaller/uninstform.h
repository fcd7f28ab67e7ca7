// The small window that shows how far the removal has come.
#pragma once
#include <cstddef>
#include <string>

#include "forms/controls.h"
#include "forms/forms.h"

class TUninstallForm : public forms::TForm {
 public:
  explicit TUninstallForm(const std::string& appName);
  // Records done of total; repaints the bar at once.
  void SetProgress(size_t done, size_t total);

  forms::TLabel StatusLabel;
  forms::TProgressBar ProgressGauge;

 private:
  void FormCreate(const std::string& appName);
  // Removal cannot be stopped half-way: the close box does nothing.
  bool FormCloseQuery() override { return false; }
};
