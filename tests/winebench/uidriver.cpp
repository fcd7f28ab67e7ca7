#include "uidriver.h"

#include "qvtest.h"

#include <functional>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace qvui {

namespace {

// Messages to another process go through SendMessageTimeout so that a hung
// target turns into an error instead of a hung test.
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;
// How long a message box's icon may take to appear on the screen.
constexpr DWORD kIconWaitMs = 5000;

std::string Hex(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string LastErrorText(DWORD err) {
  char buf[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           err, 0, buf, sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = 0;
  char code[32];
  std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(err));
  return n ? std::string(code) + ": " + buf : std::string(code);
}

[[noreturn]] void Fail(const std::string& msg) { throw std::runtime_error(msg); }

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, const char* what) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs,
                           &result)) {
    Fail(std::string(what) + " to window " + Hex(hwnd) + " failed or timed out (" +
         LastErrorText(GetLastError()) + ")");
  }
  return static_cast<LRESULT>(result);
}

std::string ClassOf(HWND hwnd) {
  char buf[256] = "";
  int n = GetClassNameA(hwnd, buf, sizeof buf);
  return std::string(buf, n > 0 ? n : 0);
}

// The caption of a top-level window from the system's copy of it: does not
// send a message, so a hung window cannot stop a listing.
std::string CaptionOf(HWND hwnd) {
  char buf[512] = "";
  int n = GetWindowTextA(hwnd, buf, sizeof buf);
  return std::string(buf, n > 0 ? n : 0);
}

bool Matches(const WindowQuery& q, HWND hwnd) {
  if (hwnd == q.exclude) return false;
  if (q.visible_only && !IsWindowVisible(hwnd)) return false;
  if (q.pid) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != q.pid) return false;
  }
  if (!q.class_name.empty() && lstrcmpiA(ClassOf(hwnd).c_str(), q.class_name.c_str()) != 0)
    return false;
  if (!q.caption.empty() && CaptionOf(hwnd) != q.caption) return false;
  return true;
}

// An enumeration callback (CALLBACK: stdcall on i686, so not a lambda).
BOOL CALLBACK CollectHandle(HWND h, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
  return TRUE;
}

std::vector<HWND> TopLevelHandles() {
  std::vector<HWND> out;
  EnumWindows(CollectHandle, reinterpret_cast<LPARAM>(&out));
  return out;
}

std::vector<HWND> ChildHandles(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(parent, CollectHandle, reinterpret_cast<LPARAM>(&out));
  return out;
}

bool IsCheckable(LONG style) {
  switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- processes ------------------------------------------------------------

UiProcess::UiProcess(const std::string& cmdline, const std::string& cwd) : cmdline_(cmdline) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::vector<char> buf(cmdline.begin(), cmdline.end());
  buf.push_back('\0');
  if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &si, &pi_)) {
    DWORD err = GetLastError();
    pi_ = PROCESS_INFORMATION{};
    Fail("CreateProcess failed for " + cmdline + " (" + LastErrorText(err) + ")");
  }
}

UiProcess::~UiProcess() { Release(); }

UiProcess::UiProcess(UiProcess&& other) noexcept
    : cmdline_(std::move(other.cmdline_)), pi_(other.pi_) {
  other.pi_ = PROCESS_INFORMATION{};
}

UiProcess& UiProcess::operator=(UiProcess&& other) noexcept {
  if (this != &other) {
    Release();
    cmdline_ = std::move(other.cmdline_);
    pi_ = other.pi_;
    other.pi_ = PROCESS_INFORMATION{};
  }
  return *this;
}

void UiProcess::Release() noexcept {
  if (pi_.hProcess) {
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(pi_.hProcess, 1);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
  }
  if (pi_.hThread) CloseHandle(pi_.hThread);
  pi_ = PROCESS_INFORMATION{};
}

bool UiProcess::Running() const {
  return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

bool UiProcess::WaitForExit(DWORD timeout_ms) const {
  if (!pi_.hProcess) Fail("no process");
  return WaitForSingleObject(pi_.hProcess, timeout_ms) == WAIT_OBJECT_0;
}

DWORD UiProcess::ExitCode() const {
  if (Running()) Fail("process " + std::to_string(Pid()) + " (" + cmdline_ + ") is still running");
  DWORD code = 0;
  if (!pi_.hProcess || !GetExitCodeProcess(pi_.hProcess, &code))
    Fail("cannot read the exit code of " + cmdline_);
  return code;
}

DWORD UiProcess::WaitForExitCode(DWORD timeout_ms) const {
  if (!WaitForExit(timeout_ms)) {
    Fail("process " + std::to_string(Pid()) + " (" + cmdline_ + ") did not end within " +
         std::to_string(timeout_ms) + " ms; its windows:\n" + ListTopLevelWindows(Pid()));
  }
  return ExitCode();
}

void UiProcess::Terminate(UINT exit_code) {
  if (Running()) {
    TerminateProcess(pi_.hProcess, exit_code);
    WaitForSingleObject(pi_.hProcess, 5000);
  }
}

std::string BinPath(const std::string& exe) {
  std::string dir = qvtest::EnvOr("QV_BUILD_DIR_WIN", "");
  if (dir.empty()) Fail("QV_BUILD_DIR_WIN is not set (run the test through qv_wine_test)");
  if (dir.back() != '\\') dir += '\\';
  return "\"" + dir + exe + "\"";
}

// ---- finding windows ------------------------------------------------------

std::string WindowQuery::Describe() const {
  std::string s = "top-level window";
  if (!caption.empty()) s += " caption " + Quote(caption);
  if (!class_name.empty()) s += " class " + Quote(class_name);
  if (pid) s += " of pid " + std::to_string(pid);
  if (!visible_only) s += " (visible or not)";
  return s;
}

WindowInfo Describe(HWND hwnd) {
  WindowInfo w;
  w.hwnd = hwnd;
  w.caption = CaptionOf(hwnd);
  w.class_name = ClassOf(hwnd);
  w.thread_id = GetWindowThreadProcessId(hwnd, &w.pid);
  w.visible = IsWindowVisible(hwnd) != FALSE;
  w.enabled = IsWindowEnabled(hwnd) != FALSE;
  return w;
}

std::vector<WindowInfo> TopLevelWindows(DWORD pid, bool visible_only) {
  std::vector<WindowInfo> out;
  for (HWND h : TopLevelHandles()) {
    WindowInfo w = Describe(h);
    if (pid && w.pid != pid) continue;
    if (visible_only && !w.visible) continue;
    out.push_back(std::move(w));
  }
  return out;
}

std::string ListTopLevelWindows(DWORD pid) {
  std::string s;
  for (const WindowInfo& w : TopLevelWindows(pid, false)) {
    s += "  " + Hex(w.hwnd) + " " + Quote(w.caption) + " class " + Quote(w.class_name) +
         " pid " + std::to_string(w.pid) + (w.visible ? " visible" : " hidden") +
         (w.enabled ? "" : " disabled") + "\n";
  }
  return s.empty() ? "  (none)\n" : s;
}

HWND FindTopLevel(const WindowQuery& q) {
  for (HWND h : TopLevelHandles())
    if (Matches(q, h)) return h;
  return nullptr;
}

bool WaitUntil(const std::function<bool()>& cond, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (cond()) return true;
    if (GetTickCount() - start >= timeout_ms) return cond();
    Sleep(20);
  }
}

bool WaitForEvent(const std::string& name, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  HANDLE event = nullptr;
  WaitUntil([&] { return (event = OpenEventA(SYNCHRONIZE, FALSE, name.c_str())) != nullptr; },
            timeout_ms);
  if (!event) return false;
  const DWORD spent = GetTickCount() - start;
  const bool set =
      WaitForSingleObject(event, spent < timeout_ms ? timeout_ms - spent : 0) == WAIT_OBJECT_0;
  CloseHandle(event);
  return set;
}

HWND WaitForWindow(const WindowQuery& q, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND h = FindTopLevel(q)) return h;
    if (GetTickCount() - start >= timeout_ms) break;
    Sleep(kPollMs);
  }
  Fail("no " + q.Describe() + " appeared within " + std::to_string(timeout_ms) +
       " ms; the top-level windows are:\n" + ListTopLevelWindows());
}

bool WaitForWindowGone(HWND hwnd, DWORD timeout_ms) {
  return WaitUntil([hwnd] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); }, timeout_ms);
}

// ---- controls -------------------------------------------------------------

std::string StripAccelerator(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

std::string GetText(HWND hwnd) {
  // The text may grow between the length query and the read: read into a
  // buffer with room to spare and retry with a larger one while the text
  // fills it completely.
  LRESULT len = Send(hwnd, WM_GETTEXTLENGTH, 0, 0, "WM_GETTEXTLENGTH");
  if (len < 0) len = 0;
  size_t size = static_cast<size_t>(len) + 256;
  for (;;) {
    std::vector<char> buf(size, '\0');
    LRESULT n = Send(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), "WM_GETTEXT");
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) + 1 < buf.size() || size >= (1u << 24))
      return std::string(buf.data(), std::min(static_cast<size_t>(n), buf.size() - 1));
    size *= 4;
  }
}

ControlInfo ReadControl(HWND hwnd) {
  if (!IsWindow(hwnd)) Fail("window " + Hex(hwnd) + " does not exist");
  ControlInfo c;
  c.hwnd = hwnd;
  c.parent = GetParent(hwnd);
  c.class_name = ClassOf(hwnd);
  c.id = GetDlgCtrlID(hwnd);
  c.style = GetWindowLongA(hwnd, GWL_STYLE);
  c.visible = IsWindowVisible(hwnd) != FALSE;
  c.enabled = IsWindowEnabled(hwnd) != FALSE;
  c.text = GetText(hwnd);
  if (lstrcmpiA(c.class_name.c_str(), "Button") == 0 && IsCheckable(c.style))
    c.checked = static_cast<int>(Send(hwnd, BM_GETCHECK, 0, 0, "BM_GETCHECK"));
  GetWindowRect(hwnd, &c.screen);
  c.client = c.screen;
  MapWindowPoints(HWND_DESKTOP, c.parent, reinterpret_cast<POINT*>(&c.client), 2);
  return c;
}

std::string ControlInfo::Describe() const {
  char geo[96];
  std::snprintf(geo, sizeof geo, " at (%ld,%ld)-(%ld,%ld)", client.left, client.top, client.right,
                client.bottom);
  std::string s = "id " + std::to_string(id) + " " + class_name + " " + Quote(text) + geo;
  if (!visible) s += " hidden";
  if (!enabled) s += " disabled";
  if (checked >= 0) s += checked == BST_CHECKED ? " checked" : checked ? " indeterminate" : " unchecked";
  return s;
}

std::vector<ControlInfo> Controls(HWND parent) {
  std::vector<ControlInfo> out;
  for (HWND h : ChildHandles(parent))
    if (IsWindow(h)) out.push_back(ReadControl(h));
  return out;
}

std::string ListControls(HWND parent) {
  std::string s;
  for (const ControlInfo& c : Controls(parent)) s += "  " + c.Describe() + "\n";
  return s.empty() ? "  (no controls)\n" : s;
}

HWND ControlById(HWND parent, int id) {
  for (HWND h : ChildHandles(parent))
    if (GetDlgCtrlID(h) == id) return h;
  Fail("window " + Quote(CaptionOf(parent)) + " has no control with id " + std::to_string(id) +
       "; its controls:\n" + ListControls(parent));
}

HWND ControlByText(HWND parent, const std::string& text, const std::string& class_name) {
  const std::string want = StripAccelerator(text);
  HWND hidden_match = nullptr;
  for (HWND h : ChildHandles(parent)) {
    if (!class_name.empty() && lstrcmpiA(ClassOf(h).c_str(), class_name.c_str()) != 0) continue;
    if (StripAccelerator(GetText(h)) != want) continue;
    if (IsWindowVisible(h)) return h;
    if (!hidden_match) hidden_match = h;
  }
  if (hidden_match) return hidden_match;
  Fail("window " + Quote(CaptionOf(parent)) + " has no " +
       (class_name.empty() ? std::string("control") : class_name) + " " + Quote(text) +
       "; its controls:\n" + ListControls(parent));
}

HWND ButtonByCaption(HWND parent, const std::string& caption) {
  return ControlByText(parent, caption, "Button");
}

// ---- input ----------------------------------------------------------------

void SetEditText(HWND edit, const std::string& text) {
  if (!IsWindowEnabled(edit)) Fail("control " + Hex(edit) + " is disabled");
  if (!Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), "WM_SETTEXT"))
    Fail("the control " + Hex(edit) + " refused WM_SETTEXT");
}

void TypeChars(HWND edit, const std::string& text) {
  if (!IsWindowEnabled(edit)) Fail("control " + Hex(edit) + " is disabled");
  // The caret goes to the end first, so the characters are appended.
  LRESULT len = Send(edit, WM_GETTEXTLENGTH, 0, 0, "WM_GETTEXTLENGTH");
  Send(edit, EM_SETSEL, static_cast<WPARAM>(len), len, "EM_SETSEL");
  for (unsigned char ch : text) {
    if (!PostMessageA(edit, WM_CHAR, ch, 1))
      Fail("cannot post WM_CHAR to " + Hex(edit) + " (" + LastErrorText(GetLastError()) + ")");
  }
}

void Click(HWND button, ClickBy how) {
  if (!IsWindow(button)) Fail("button " + Hex(button) + " does not exist");
  const std::string what = "button " + Quote(GetText(button));
  if (!IsWindowVisible(button)) Fail(what + " is hidden and cannot be clicked");
  if (!IsWindowEnabled(button)) Fail(what + " is disabled and cannot be clicked");
  HWND root = GetAncestor(button, GA_ROOT);
  // A box that has just gone gives its owner back a moment later (after
  // its own call returns): a disabled window is given that moment.
  for (int waited = 0; root && !IsWindowEnabled(root) && waited < 5000; waited += 20) Sleep(20);
  if (root && !IsWindowEnabled(root))
    Fail(what + " is in the disabled window " + Quote(CaptionOf(root)) + " and cannot be clicked");
  BOOL ok;
  if (how == ClickBy::kBmClick) {
    ok = PostMessageA(button, BM_CLICK, 0, 0);
  } else {
    ok = PostMessageA(GetParent(button), WM_COMMAND,
                      MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                      reinterpret_cast<LPARAM>(button));
  }
  if (!ok) Fail("cannot post the click to " + what + " (" + LastErrorText(GetLastError()) + ")");
}

void ClickButton(HWND parent, const std::string& caption, ClickBy how) {
  Click(ButtonByCaption(parent, caption), how);
}

void ClickButtonById(HWND parent, int id, ClickBy how) { Click(ControlById(parent, id), how); }

void PostClose(HWND hwnd) {
  if (!PostMessageA(hwnd, WM_CLOSE, 0, 0))
    Fail("cannot post WM_CLOSE to " + Hex(hwnd) + " (" + LastErrorText(GetLastError()) + ")");
}

// ---- message boxes --------------------------------------------------------

const char* IconName(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::kNone: return "none";
    case MessageBoxIcon::kHand: return "hand";
    case MessageBoxIcon::kQuestion: return "question";
    case MessageBoxIcon::kExclamation: return "exclamation";
    case MessageBoxIcon::kAsterisk: return "asterisk";
    case MessageBoxIcon::kUnknown: return "unknown";
  }
  return "?";
}

std::string MessageBoxInfo::Describe() const {
  std::string s = "message box " + Quote(caption) + " text " + Quote(text) + " icon " +
                  IconName(icon) + " buttons";
  for (const std::string& b : buttons) s += " [" + b + "]";
  return s;
}

HWND WaitForMessageBox(const std::string& caption, DWORD timeout_ms, DWORD pid) {
  WindowQuery q;
  q.caption = caption;
  q.class_name = "#32770";
  q.pid = pid;
  return WaitForWindow(q, timeout_ms);
}

namespace {

// Which system icon an icon control shows. Icon handles belong to the process
// that loaded them (under Wine the box's LoadIcon(NULL, IDI_HAND) handle
// differs from ours), so handles are not compared; instead the pixels on the
// screen are compared with each system icon drawn here on the box's
// background, until they match or for at most kIconWaitMs: a covered box
// reads as kUnknown.
MessageBoxIcon IdentifyIcon(HWND icon_control);

}  // namespace

MessageBoxInfo ReadMessageBox(HWND box) {
  if (!IsWindow(box)) Fail("message box " + Hex(box) + " does not exist");
  MessageBoxInfo m;
  m.hwnd = box;
  m.caption = CaptionOf(box);
  m.topmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  std::vector<ControlInfo> controls = Controls(box);
  const ControlInfo* text = nullptr;
  HWND icon = nullptr;
  std::vector<const ControlInfo*> buttons;
  for (const ControlInfo& c : controls) {
    if (lstrcmpiA(c.class_name.c_str(), "Static") == 0) {
      if ((c.style & SS_TYPEMASK) == SS_ICON) {
        if (c.visible) icon = c.hwnd;
      } else if (c.id == 0xFFFF) {
        text = &c;  // the message text's static has the id 0xFFFF
      } else if (!text || (text->id != 0xFFFF && c.text.size() > text->text.size())) {
        text = &c;
      }
    } else if (lstrcmpiA(c.class_name.c_str(), "Button") == 0 && c.visible) {
      buttons.push_back(&c);
    }
  }
  if (text) m.text = text->text;
  std::sort(buttons.begin(), buttons.end(), [](const ControlInfo* a, const ControlInfo* b) {
    return a->screen.left < b->screen.left;
  });
  for (const ControlInfo* b : buttons) m.buttons.push_back(StripAccelerator(b->text));
  m.icon = icon ? IdentifyIcon(icon) : MessageBoxIcon::kNone;
  return m;
}

void AnswerMessageBox(HWND box, const std::string& button) {
  const std::string want = StripAccelerator(button);
  for (HWND h : ChildHandles(box)) {
    if (lstrcmpiA(ClassOf(h).c_str(), "Button") != 0 || !IsWindowVisible(h)) continue;
    if (StripAccelerator(GetText(h)) == want) {
      Click(h);
      return;
    }
  }
  Fail("no button " + Quote(button) + " in the " + ReadMessageBox(box).Describe());
}

namespace {

// Paints into a w x h 32-bit BGRX bitmap (paint gets a memory DC selected
// with it and the screen DC) and returns its pixels, top row first.
std::vector<DWORD> PaintPixels(int w, int h, const std::function<void(HDC mem, HDC screen)>& paint) {
  std::vector<DWORD> px;
  if (w <= 0 || h <= 0) return px;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp && bits) {
    HGDIOBJ old = SelectObject(mem, bmp);
    paint(mem, screen);
    GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(bits);
    px.assign(p, p + static_cast<size_t>(w) * h);
    SelectObject(mem, old);
  }
  if (bmp) DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return px;
}

}  // namespace

// The screen DC reads what is on the display, whichever process drew it.
std::vector<DWORD> ScreenPixels(const RECT& r) {
  return PaintPixels(r.right - r.left, r.bottom - r.top, [&](HDC mem, HDC screen) {
    BitBlt(mem, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
  });
}

namespace {


// Draws a system icon the way an SS_ICON static does (at the control's
// top-left corner, in the icon's default size) on the given background.
std::vector<DWORD> RenderIcon(LPCSTR which, int w, int h, COLORREF background) {
  HICON icon = LoadIconA(nullptr, which);
  if (!icon) return {};
  return PaintPixels(w, h, [&](HDC mem, HDC) {
    RECT all = {0, 0, w, h};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(mem, &all, brush);
    DeleteObject(brush);
    DrawIconEx(mem, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
  });
}

MessageBoxIcon IdentifyIcon(HWND icon_control) {
  // An icon control without an icon (a box without an icon style).
  HICON handle = reinterpret_cast<HICON>(Send(icon_control, STM_GETICON, 0, 0, "STM_GETICON"));
  if (!handle) return MessageBoxIcon::kNone;
  RECT r;
  GetWindowRect(icon_control, &r);
  int w = std::min<int>(r.right - r.left, GetSystemMetrics(SM_CXICON));
  int h = std::min<int>(r.bottom - r.top, GetSystemMetrics(SM_CYICON));
  r.right = r.left + w;
  r.bottom = r.top + h;
  // A message sent to the box is handled before its WM_PAINT, so no round
  // trip proves that the icon is on the screen yet: read the screen until
  // it shows one of the system icons, for at most kIconWaitMs.
  const COLORREF face = GetSysColor(COLOR_BTNFACE);  // a box paints its icon on it
  static const struct {
    LPCSTR id;
    MessageBoxIcon icon;
  } kIcons[] = {{IDI_HAND, MessageBoxIcon::kHand},
                {IDI_QUESTION, MessageBoxIcon::kQuestion},
                {IDI_EXCLAMATION, MessageBoxIcon::kExclamation},
                {IDI_ASTERISK, MessageBoxIcon::kAsterisk}};
  std::vector<std::vector<DWORD>> rendered;
  for (const auto& k : kIcons) rendered.push_back(RenderIcon(k.id, w, h, face));
  MessageBoxIcon found = MessageBoxIcon::kUnknown;
  WaitUntil(
      [&] {
        std::vector<DWORD> shown = ScreenPixels(r);
        size_t best_diff = shown.size() + 1;
        for (size_t k = 0; k < rendered.size(); ++k) {
          if (shown.empty() || rendered[k].size() != shown.size()) continue;
          size_t diff = 0;
          for (size_t i = 0; i < shown.size(); ++i)
            if ((rendered[k][i] & 0xFFFFFF) != (shown[i] & 0xFFFFFF)) ++diff;
          if (diff < best_diff) {
            best_diff = diff;
            found = kIcons[k].icon;
          }
        }
        // Exact rendering is expected; allow a few pixels for an anti-aliased edge.
        if (best_diff * 20 > shown.size()) found = MessageBoxIcon::kUnknown;
        return found != MessageBoxIcon::kUnknown;
      },
      kIconWaitMs);
  return found;
}

}  // namespace

// ---- window state ---------------------------------------------------------

WindowState GetState(HWND hwnd) {
  WindowState s;
  s.exists = IsWindow(hwnd) != FALSE;
  if (!s.exists) return s;
  s.visible = IsWindowVisible(hwnd) != FALSE;
  s.enabled = IsWindowEnabled(hwnd) != FALSE;
  s.topmost = (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  s.minimized = IsIconic(hwnd) != FALSE;
  s.maximized = IsZoomed(hwnd) != FALSE;
  s.owner = GetWindow(hwnd, GW_OWNER);
  return s;
}

bool IsAbove(HWND a, HWND b) {
  if (a == b) Fail("IsAbove: the same window twice");
  // The list can change while it is walked (a window raised by the
  // target), so walks that meet neither window from the other are repeated
  // for a moment before the two are taken to be in different lists.
  const DWORD start = GetTickCount();
  do {
    for (HWND h = GetWindow(a, GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT))
      if (h == b) return true;
    for (HWND h = GetWindow(b, GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT))
      if (h == a) return false;
    Sleep(20);
  } while (GetTickCount() - start < 2000);
  Fail("IsAbove: windows " + Hex(a) + " and " + Hex(b) + " are not in one z-order list");
}

namespace {

bool ThreadInfo(HWND any, GUITHREADINFO* gi) {
  DWORD tid = GetWindowThreadProcessId(any, nullptr);
  if (!tid) Fail("window " + Hex(any) + " does not exist");
  *gi = GUITHREADINFO{};
  gi->cbSize = sizeof *gi;
  return GetGUIThreadInfo(tid, gi) != FALSE;
}

}  // namespace

HWND FocusedWindow(HWND any_window_of_the_thread) {
  GUITHREADINFO gi;
  return ThreadInfo(any_window_of_the_thread, &gi) ? gi.hwndFocus : nullptr;
}

HWND ActiveWindow(HWND any_window_of_the_thread) {
  GUITHREADINFO gi;
  return ThreadInfo(any_window_of_the_thread, &gi) ? gi.hwndActive : nullptr;
}

}  // namespace qvui
