// The task-modal message box through which questions and errors reach the
// user: every other top-level window of the program is disabled while it is
// up, and stay-on-top windows are moved below it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

enum MessageBoxKind : uint8_t {
  mbkInformation = 0,  // MB_ICONINFORMATION, "Information"
  mbkQuestion = 1,     // MB_ICONQUESTION, "Confirm"
  mbkWarning = 2,      // MB_ICONEXCLAMATION, "Error"
  mbkStop = 3,         // MB_ICONHAND, "Error"
};

// The owner of the boxes (the program's main window); none until set.
void SetMessageBoxOwner(HWND owner);
HWND MessageBoxOwner();

// Runs before every box is shown (nothing until set): a window that draws
// its changes only every so often draws what it holds back, so that a box
// appears over the state that led to it. Returns the hook set before. (A
// plain function and its context: this sits in every shipped program.)
struct TBeforeMessageBox {
  void (*Run)(void* context) = nullptr;
  void* Context = nullptr;
};
TBeforeMessageBox SetBeforeMessageBox(TBeforeMessageBox hook);

// The default caption of a kind, from the program's string resources. A
// kind above 3 gets the caption and icon of mbkStop.
std::string DefaultMessageBoxCaption(MessageBoxKind kind);

// Shows the box; caption may be null or empty for the kind's default.
// Returns the button identifier (IDOK ... IDNO).
int ShowAppMessageBox(const char* text, const char* caption, MessageBoxKind kind, UINT flags);
int ShowMessageBoxStr(const std::string& text, const std::string& caption, MessageBoxKind kind,
                      UINT flags);
// Formats fmt (printf style) with the arguments after flags.
int ShowMessageBoxFmt(const char* fmt, const std::string& caption, MessageBoxKind kind, UINT flags,
                      ...) __attribute__((format(printf, 1, 5)));
