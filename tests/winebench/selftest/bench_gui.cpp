// A small GUI program for the UI driver's self-test: a window with an edit,
// buttons, a check box, a hidden and a disabled control, and a message box on
// a button press.
//
//   bench_gui.exe [/box=hand|question|exclamation|asterisk|none] [/tool]
//
// "Show Box" shows MessageBoxA(main, "You typed: <edit text>", "Bench Box")
// with the icon of /box and its buttons:
//   hand: Abort/Retry/Ignore, question: Yes/No, exclamation: OK/Cancel,
//   asterisk: OK, none: Retry/Cancel.
// The answer is shown in the status label ("Answer: <id>").
// "Done" ends the program with exit code  answer * 10 + (check box checked).
// /tool also opens a topmost window "Bench Tool".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum : int {
  kIdLabel = 100,
  kIdEdit = 101,
  kIdShowBox = 102,
  kIdDone = 103,
  kIdCheck = 104,
  kIdDisabled = 105,
  kIdEcho = 106,
  kIdStatus = 107,
  kIdHidden = 108,
};

UINT g_box_style = MB_YESNO | MB_ICONQUESTION;
int g_answer = 0;
int g_exit_code = 0;
HINSTANCE g_inst;

std::string TextOf(HWND h) {
  char buf[512];
  int n = GetWindowTextA(h, buf, sizeof buf);
  return std::string(buf, n > 0 ? n : 0);
}

HWND Child(HWND parent, const char* cls, const char* text, DWORD style, int x, int y, int w, int h,
           int id) {
  return CreateWindowExA(0, cls, text, WS_CHILD | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_inst, nullptr);
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      Child(hwnd, "Static", "&Name:", WS_VISIBLE, 10, 12, 60, 20, kIdLabel);
      Child(hwnd, "Edit", "initial", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 80, 10,
            200, 22, kIdEdit);
      Child(hwnd, "Static", "Echo: initial", WS_VISIBLE, 10, 40, 300, 20, kIdEcho);
      Child(hwnd, "Button", "&Remember me", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 10, 70, 150,
            22, kIdCheck);
      Child(hwnd, "Button", "&Show Box", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 10, 110, 90, 26,
            kIdShowBox);
      Child(hwnd, "Button", "&Done", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 110, 110, 90, 26,
            kIdDone);
      Child(hwnd, "Button", "Disabled", WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON, 210, 110, 90, 26,
            kIdDisabled);
      Child(hwnd, "Static", "Answer: none", WS_VISIBLE, 10, 150, 200, 20, kIdStatus);
      Child(hwnd, "Static", "Hidden", 0, 10, 180, 100, 20, kIdHidden);
      return 0;
    case WM_COMMAND: {
      int id = LOWORD(wp), code = HIWORD(wp);
      if (id == kIdEdit && code == EN_CHANGE) {
        SetDlgItemTextA(hwnd, kIdEcho, ("Echo: " + TextOf(GetDlgItem(hwnd, kIdEdit))).c_str());
      } else if (id == kIdShowBox && code == BN_CLICKED) {
        std::string text = "You typed: " + TextOf(GetDlgItem(hwnd, kIdEdit));
        g_answer = MessageBoxA(hwnd, text.c_str(), "Bench Box", g_box_style);
        char status[64];
        std::snprintf(status, sizeof status, "Answer: %d", g_answer);
        SetDlgItemTextA(hwnd, kIdStatus, status);
      } else if (id == kIdDone && code == BN_CLICKED) {
        g_exit_code = g_answer * 10 + (IsDlgButtonChecked(hwnd, kIdCheck) == BST_CHECKED ? 1 : 0);
        DestroyWindow(hwnd);
      }
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(g_exit_code);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

bool HasArg(const char* cmdline, const char* arg) { return std::strstr(cmdline, arg) != nullptr; }

}  // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR cmdline, int show) {
  g_inst = inst;
  if (HasArg(cmdline, "/box=hand")) g_box_style = MB_ABORTRETRYIGNORE | MB_ICONHAND;
  if (HasArg(cmdline, "/box=question")) g_box_style = MB_YESNO | MB_ICONQUESTION;
  if (HasArg(cmdline, "/box=exclamation")) g_box_style = MB_OKCANCEL | MB_ICONEXCLAMATION;
  if (HasArg(cmdline, "/box=asterisk")) g_box_style = MB_OK | MB_ICONASTERISK;
  if (HasArg(cmdline, "/box=none")) g_box_style = MB_RETRYCANCEL;

  WNDCLASSA wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "QvBenchMain";
  RegisterClassA(&wc);
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "QvBenchTool";
  RegisterClassA(&wc);

  HWND main = CreateWindowExA(0, "QvBenchMain", "Bench Window", WS_OVERLAPPEDWINDOW, 50, 50, 400,
                              260, nullptr, nullptr, inst, nullptr);
  ShowWindow(main, show);
  UpdateWindow(main);
  SetFocus(GetDlgItem(main, kIdEdit));
  if (HasArg(cmdline, "/tool")) {
    HWND tool = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "QvBenchTool", "Bench Tool",
                                WS_POPUP | WS_CAPTION, 600, 50, 200, 100, nullptr, nullptr, inst,
                                nullptr);
    ShowWindow(tool, SW_SHOWNOACTIVATE);
  }

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}
