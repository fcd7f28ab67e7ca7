#include "main/background.h"

#include "common/pathutil.h"

const char* const SRunProgramError = "Unable to execute file:\r\n%s\r\n\r\nError #%d: %s";
const char* const SReadmeOpenError = "An error occurred while trying to open the README file.";
const char* const SRestartFailed =
    "Setup was unable to restart the computer. Please do this manually.";

uint8_t GradientFactor(int i) { return static_cast<uint8_t>((4 * i) ^ 0xFF); }

uint32_t ResolveColor(int32_t color, const std::function<uint32_t(int index)>& sys_color) {
  if (color < 0) return sys_color(color & 0xFF);
  return static_cast<uint32_t>(color);
}

uint32_t ScaleColor(uint32_t rgb, uint8_t f) {
  uint32_t out = rgb & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t b = (rgb >> shift) & 0xFF;
    out |= (b * f / 255) << shift;
  }
  return out;
}

int GradientBandTop(int h, int i) {
  // MulDiv(h, i, 63): the exact quotient rounded half away from zero.
  const int64_t num = static_cast<int64_t>(h) * i;
  const int64_t q = (num >= 0 ? num + 31 : num - 31) / 63;
  return static_cast<int>(q);
}

std::string RunEntryCommandLine(const std::string& file_name, const std::string& parameters) {
  return QuoteIfHasSpace(file_name) + " " + parameters;
}

TMainCloseAnswer MainCloseAnswer(bool busy_running, TSetupStep step, bool install_window_exists) {
  if (busy_running) return TMainCloseAnswer::Refuse;
  if (step == TSetupStep::Installing && install_window_exists)
    return TMainCloseAnswer::RefuseAndCloseInstall;
  if (step < TSetupStep::FinishedPage) return TMainCloseAnswer::AskConfirmExit;
  return TMainCloseAnswer::Allow;
}
