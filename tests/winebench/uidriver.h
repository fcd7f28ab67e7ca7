// Drives the windows of another process from outside, the way a user (or an
// automation tool) would: start the program, wait for its windows, read their
// controls, type, click and answer message boxes, and read its exit code.
//
// Everything here works across processes with the "A" API only. Failures
// throw std::runtime_error carrying a diagnostic text (for a missing window:
// the list of the top-level windows that do exist), so a GoogleTest program
// reports them as they are.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvui {

// ---- processes ------------------------------------------------------------

// A process started with CreateProcessA. The destructor terminates it when it
// is still running (so a failed test leaves nothing behind) and closes the
// handles.
class UiProcess {
 public:
  // cmdline is passed to CreateProcessA as is (quote the program path when it
  // has spaces); cwd may be empty for the caller's current directory.
  explicit UiProcess(const std::string& cmdline, const std::string& cwd = "");
  ~UiProcess();
  UiProcess(const UiProcess&) = delete;
  UiProcess& operator=(const UiProcess&) = delete;
  UiProcess(UiProcess&& other) noexcept;
  UiProcess& operator=(UiProcess&& other) noexcept;

  DWORD Pid() const { return pi_.dwProcessId; }
  DWORD MainThreadId() const { return pi_.dwThreadId; }
  HANDLE Handle() const { return pi_.hProcess; }
  const std::string& CommandLine() const { return cmdline_; }

  bool Running() const;
  // True when the process ended within timeout_ms.
  bool WaitForExit(DWORD timeout_ms) const;
  // The exit code of an ended process; throws while it still runs.
  DWORD ExitCode() const;
  // WaitForExit, then ExitCode; throws when the process does not end in time.
  DWORD WaitForExitCode(DWORD timeout_ms) const;
  // Ends the process (no-op when it has ended) and waits for it.
  void Terminate(UINT exit_code = 1);

 private:
  void Release() noexcept;
  std::string cmdline_;
  PROCESS_INFORMATION pi_{};
};

// The quoted full path of a program in the build's bin directory
// (QV_BUILD_DIR_WIN), e.g. BinPath("setup.exe").
std::string BinPath(const std::string& exe);

// ---- finding windows ------------------------------------------------------

struct WindowQuery {
  std::string caption;     // exact window text; empty = any
  std::string class_name;  // exact class name (case-insensitive); empty = any
  DWORD pid = 0;           // owning process; 0 = any
  bool visible_only = true;
  HWND exclude = nullptr;  // a window to skip (e.g. one already found)

  std::string Describe() const;
};

struct WindowInfo {
  HWND hwnd = nullptr;
  std::string caption;
  std::string class_name;
  DWORD pid = 0;
  DWORD thread_id = 0;
  bool visible = false;
  bool enabled = false;
};

WindowInfo Describe(HWND hwnd);
// All top-level windows, top of the z-order first (optionally of one process).
std::vector<WindowInfo> TopLevelWindows(DWORD pid = 0, bool visible_only = false);
// One line per top-level window: handle, caption, class, pid, flags.
std::string ListTopLevelWindows(DWORD pid = 0);

// The first matching top-level window, or nullptr (no waiting).
HWND FindTopLevel(const WindowQuery& q);
// Polls every 50 ms until a matching top-level window exists. Throws after
// timeout_ms with the query and the list of the windows that exist.
HWND WaitForWindow(const WindowQuery& q, DWORD timeout_ms);
// Waits until hwnd is destroyed or hidden; false on timeout.
bool WaitForWindowGone(HWND hwnd, DWORD timeout_ms);
// Polls cond every 20 ms; false when it has not become true within timeout_ms.
bool WaitUntil(const std::function<bool()>& cond, DWORD timeout_ms);
// Waits until the named event exists and is signalled (a target program
// says so when all its windows exist); false on timeout.
bool WaitForEvent(const std::string& name, DWORD timeout_ms);

// ---- controls -------------------------------------------------------------

struct ControlInfo {
  HWND hwnd = nullptr;
  HWND parent = nullptr;
  std::string text;        // WM_GETTEXT
  std::string class_name;  // e.g. "Button", "Edit", "Static"
  int id = 0;              // GetDlgCtrlID
  LONG style = 0;
  bool visible = false;    // IsWindowVisible (the control and its parents)
  bool enabled = false;    // IsWindowEnabled
  int checked = -1;        // BM_GETCHECK for check boxes and radio buttons, else -1
  RECT screen{};           // GetWindowRect, screen coordinates
  RECT client{};           // the same rectangle in the parent's client coordinates

  std::string Describe() const;
};

// Reads one control.
ControlInfo ReadControl(HWND hwnd);
// Every descendant control of a window, in EnumChildWindows order.
std::vector<ControlInfo> Controls(HWND parent);
std::string ListControls(HWND parent);

// Caption comparison ignores '&' accelerator marks ("&Next >" matches
// "Next >"); "&&" stands for a literal '&'.
std::string StripAccelerator(const std::string& caption);

// Controls by id or by caption (class may be empty = any); throw with the list
// of the window's controls when there is none.
HWND ControlById(HWND parent, int id);
HWND ControlByText(HWND parent, const std::string& text, const std::string& class_name = "");
HWND ButtonByCaption(HWND parent, const std::string& caption);

// WM_GETTEXT through SendMessageTimeout (a hung target cannot hang the test).
std::string GetText(HWND hwnd);

// ---- input ----------------------------------------------------------------

// Replaces an edit control's text with WM_SETTEXT; the edit control itself
// notifies its parent with EN_CHANGE, as for a user's typing.
void SetEditText(HWND edit, const std::string& text);
// Types text into an edit control character by character (posted WM_CHAR),
// after the text already there. Returns at once; the characters arrive
// asynchronously: wait for their effect.
void TypeChars(HWND edit, const std::string& text);

enum class ClickBy {
  kBmClick,  // BM_CLICK posted to the button: press and release, as a mouse click
  kCommand,  // WM_COMMAND BN_CLICKED posted to the parent (the button's state stays)
};
// Clicks a button. Throws when it is disabled or hidden (a user could not click
// it). The click is posted: it returns before the target has handled it, so a
// click that opens a modal message box does not block the test.
void Click(HWND button, ClickBy how = ClickBy::kBmClick);
void ClickButton(HWND parent, const std::string& caption, ClickBy how = ClickBy::kBmClick);
void ClickButtonById(HWND parent, int id, ClickBy how = ClickBy::kBmClick);
// Posts WM_CLOSE (the title bar's close box, or Alt+F4).
void PostClose(HWND hwnd);

// ---- message boxes --------------------------------------------------------

enum class MessageBoxIcon { kNone, kHand, kQuestion, kExclamation, kAsterisk, kUnknown };
const char* IconName(MessageBoxIcon icon);

struct MessageBoxInfo {
  HWND hwnd = nullptr;
  std::string caption;
  std::string text;
  MessageBoxIcon icon = MessageBoxIcon::kNone;
  std::vector<std::string> buttons;  // captions without '&', left to right
  bool topmost = false;

  std::string Describe() const;
};

// A visible message box (dialog class "#32770") with this caption; pid 0 = any.
HWND WaitForMessageBox(const std::string& caption, DWORD timeout_ms, DWORD pid = 0);
MessageBoxInfo ReadMessageBox(HWND box);
// Presses one of the box's buttons by caption ("OK", "Yes", "No", "Abort",
// "Retry", "Ignore", "Cancel"); throws, listing the buttons, when it has none.
void AnswerMessageBox(HWND box, const std::string& button);

// ---- window state ---------------------------------------------------------

// The screen's pixels in a rectangle (0x00RRGGBB, top row first).
std::vector<DWORD> ScreenPixels(const RECT& r);

struct WindowState {
  bool exists = false;
  bool visible = false;
  bool enabled = false;
  bool topmost = false;    // WS_EX_TOPMOST
  bool minimized = false;
  bool maximized = false;
  HWND owner = nullptr;    // GW_OWNER
};
WindowState GetState(HWND hwnd);
// True when a is above b in the z-order (both top-level, or siblings).
// Throws when they are not in the same z-order list.
bool IsAbove(HWND a, HWND b);
// The window with the keyboard focus in the thread that owns hwnd
// (GetGUIThreadInfo), or nullptr.
HWND FocusedWindow(HWND any_window_of_the_thread);
// The active window of that thread, or nullptr.
HWND ActiveWindow(HWND any_window_of_the_thread);

}  // namespace qvui
