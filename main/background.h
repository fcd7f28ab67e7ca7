// The background window's rules that need no operating system: the gradient
// palette and bands, the colour scaling, the run-entry command line and the
// close query. Portable: no <windows.h>; the Win32 side is main/mainform.*.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// The private step message of the background window (WM_USER + 0xF3C).
constexpr unsigned WM_SETUPSTEP = 0x133C;

// The steps of the run, in order: each WM_SETUPSTEP leaves one and enters
// the next. Starting holds until the first activation posts the first step.
enum class TSetupStep : uint8_t {
  Starting = 0,
  Wizard = 1,        // the wizard's pages before the installation
  Installing = 2,    // the install window
  FinishedPage = 3,  // the wizard again: information after, finished page
  Closing = 4,       // the window closes and the run ends
};

// System menu commands appended at creation.
constexpr unsigned kAboutSeparatorCommand = 9998;
constexpr unsigned kAboutCommand = 9999;

// Number of gradient bands and palette entries.
constexpr int kGradientBands = 64;

// The factor of band (and palette entry) i, 0 to 63: (4 * i) xor 0xFF,
// which is 255 - 4 * i.
uint8_t GradientFactor(int i);

// A script colour as RGB (red in the low byte): values with the top bit
// set name a system colour by the index in their low byte, which
// sys_color looks up; other values are taken as they are.
uint32_t ResolveColor(int32_t color, const std::function<uint32_t(int index)>& sys_color);

// Each of the red, green and blue bytes b becomes b * f / 255 (truncated);
// the fourth byte is kept.
uint32_t ScaleColor(uint32_t rgb, uint8_t f);

// The first row of band i for a client height h: h * i / 63 rounded to the
// nearest integer (half away from zero), as a multiply-then-divide. Band i
// covers the rows from GradientBandTop(h, i) up to GradientBandTop(h, i + 1).
int GradientBandTop(int h, int i);

// The command line of a run entry: the file name through QuoteIfHasSpace,
// one space, then the parameters (the space also when they are empty).
std::string RunEntryCommandLine(const std::string& file_name, const std::string& parameters);

// The message of a run entry that cannot be started: %s the command line,
// %d the system error code, %s the system's text for it.
extern const char* const SRunProgramError;
// The README that the shell could not open.
extern const char* const SReadmeOpenError;
// A restart that Windows refused.
extern const char* const SRestartFailed;

// What the background window answers a close request.
enum class TMainCloseAnswer {
  Refuse,                 // run entries are being executed
  RefuseAndCloseInstall,  // the install window decides (its cancel question)
  AskConfirmExit,         // allowed only when the user confirms the exit
  Allow,
};
TMainCloseAnswer MainCloseAnswer(bool busy_running, TSetupStep step, bool install_window_exists);
