// A small program with several top-level windows that shows a message box on
// command, for msgbox_test to drive from outside:
//   "QvMain"      the main window (the boxes' owner); its "Result" label
//                 shows "result N" with the button of the last box
//   "QvSecond"    holds an edit control that has the focus
//   "QvDisabled"  disabled from the start
//   "QvTopmost"   stay-on-top
// Posting kCmdShow to QvMain with wParam = kind and lParam = caption mode
// (0 null, 1 empty, 2 "Given Caption", 3 formatted, 4 null after taking the
// keyboard focus away) | flags << 8 shows a box
// with the text "Box text" ("Box text no. 42" when formatted). WM_CLOSE on QvMain ends the program.
//
//   msgbox_target.exe [ACTIVATIONLOG]
// Once every window and control exists and the edit control has the focus,
// the program signals the event "QvMsgboxTargetReady.<pid>". With
// ACTIVATIONLOG, every activation of one of its windows appends the window's
// caption and a line feed to that file.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/msgbox.h"

namespace {

constexpr UINT kCmdShow = WM_APP + 1;
HWND g_result = nullptr;
std::string g_log;

void LogActivation(HWND wnd) {
  if (g_log.empty()) return;
  char caption[64] = "";
  GetWindowTextA(wnd, caption, sizeof caption);
  if (FILE* f = std::fopen(g_log.c_str(), "ab")) {
    std::fprintf(f, "%s\n", caption);
    std::fclose(f);
  }
}

LRESULT CALLBACK FormProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ACTIVATE && LOWORD(wp) != WA_INACTIVE) LogActivation(wnd);
  return DefWindowProcA(wnd, msg, wp, lp);
}

LRESULT CALLBACK MainProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kCmdShow: {
      const int mode = static_cast<int>(lp & 0xFF);
      const UINT flags = static_cast<UINT>(lp >> 8);
      const char* caption = mode == 0 || mode == 4 ? nullptr : mode == 1 ? "" : "Given Caption";
      // Without a focused control nothing is given the focus afterwards, so
      // only the box's own re-activation makes the active window active again.
      if (mode == 4) SetFocus(nullptr);
      // Longer than any "result N", so a reader polling the text never gets
      // a length from this one and the characters of the next.
      SetWindowTextA(g_result, "showing the box");
      const MessageBoxKind kind = static_cast<MessageBoxKind>(wp);
      // Mode 3: the formatting form, with an empty caption.
      const int r = mode == 3 ? ShowMessageBoxFmt("Box %s no. %d", "", kind, flags, "text", 42)
                              : ShowAppMessageBox("Box text", caption, kind, flags);
      char buf[32];
      wsprintfA(buf, "result %d", r);
      SetWindowTextA(g_result, buf);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return FormProc(wnd, msg, wp, lp);
}

HWND MakeForm(const char* caption, int x, int y, DWORD ex_style) {
  return CreateWindowExA(ex_style, "QvTargetForm", caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y,
                         300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int) {
  if (__argc > 1) g_log = __argv[1];
  WNDCLASSA wc{};
  wc.lpfnWndProc = FormProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "QvTargetForm";
  RegisterClassA(&wc);
  wc.lpfnWndProc = MainProc;
  wc.lpszClassName = "QvTargetMain";
  RegisterClassA(&wc);

  HWND main = CreateWindowExA(0, "QvTargetMain", "QvMain", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                              10, 300, 200, nullptr, nullptr, inst, nullptr);
  g_result = CreateWindowExA(0, "STATIC", "Result", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, main,
                             nullptr, inst, nullptr);
  SetMessageBoxOwner(main);

  HWND disabled = MakeForm("QvDisabled", 650, 10, 0);
  EnableWindow(disabled, FALSE);
  MakeForm("QvTopmost", 330, 300, WS_EX_TOPMOST);
  HWND second = MakeForm("QvSecond", 330, 10, 0);
  HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "focus here", WS_CHILD | WS_VISIBLE, 10,
                              10, 200, 24, second, reinterpret_cast<HMENU>(100), inst, nullptr);
  CreateWindowExA(0, "BUTTON", "Other", WS_CHILD | WS_VISIBLE, 10, 50, 100, 24, second,
                  reinterpret_cast<HMENU>(101), inst, nullptr);
  SetActiveWindow(second);
  SetFocus(edit);

  char ready[64];
  wsprintfA(ready, "QvMsgboxTargetReady.%lu", GetCurrentProcessId());
  HANDLE ready_event = CreateEventA(nullptr, TRUE, FALSE, ready);
  if (ready_event) SetEvent(ready_event);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (ready_event) CloseHandle(ready_event);
  return 0;
}
