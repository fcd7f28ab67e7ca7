// Forms, the message loop and the base of the controls.
#include "forms/forms.h"

#include <commctrl.h>

#include <map>
#include <new>
#include <tuple>
#include <vector>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "forms/placement.h"

namespace forms {

namespace {

const char kFormClass[] = "TQvForm";
const char kContainerClass[] = "TQvContainer";
// Window properties that lead from a window to its object.
const char kFormProp[] = "QvForm";
const char kControlProp[] = "QvControl";

bool g_terminated = false;
int g_quit_code = 0;
// The control whose window is being created: WM_MEASUREITEM arrives during
// CreateWindowEx, before the window is known to be ours.
TControl* g_creating = nullptr;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

std::string ClassOf(HWND wnd) {
  char buf[64];
  const int n = GetClassNameA(wnd, buf, sizeof buf);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// The top-level window that wnd lies in: up through the parents while the
// window is a child (GetParent of a top-level window is its owner).
HWND RootWindow(HWND wnd) {
  while (wnd && (GetWindowLongA(wnd, GWL_STYLE) & WS_CHILD)) {
    HWND parent = GetParent(wnd);
    if (!parent) break;
    wnd = parent;
  }
  return wnd;
}

bool Usable(TControl* c) {
  return c && c->Handle() && IsWindowVisible(c->Handle()) && IsWindowEnabled(c->Handle());
}

bool IsPushButton(HWND wnd) {
  if (lstrcmpiA(ClassOf(wnd).c_str(), "Button") != 0) return false;
  const LONG type = GetWindowLongA(wnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

LRESULT CALLBACK ContainerProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NEXTDLGCTL:
      // A multi-line edit on a page asks for the next control (Tab): the
      // form decides.
      return SendMessageA(RootWindow(wnd), msg, wp, lp);
    case WM_CLOSE:
      // Esc in a multi-line edit posts this to its parent: a page is never
      // closed by its controls.
      return 0;
  }
  try {
    LRESULT result = 0;
    if (ReflectToControl(wnd, msg, wp, lp, result)) return result;
  } catch (...) {
    HandleException();
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = TForm::FormProcAddress();
  wc.hInstance = Instance();
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  if (!RegisterClassA(&wc)) throw Exception("Cannot register the window class of the forms");
  wc.lpfnWndProc = ContainerProc;
  wc.lpszClassName = kContainerClass;
  if (!RegisterClassA(&wc)) throw Exception("Cannot register the window class of the forms");
  done = true;
}

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(wnd);
  return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// Fonts

int TFontSpec::LogicalHeight() const {
  if (pixels > 0) return -pixels;
  TWindowDC screen(nullptr);
  return -MulDiv(points, GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
}

HFONT GetFont(const TFontSpec& font_spec) {
  using TKey = std::tuple<std::string, int, bool, bool>;
  static std::map<TKey, TFont> cache;
  const int height = font_spec.LogicalHeight();
  const TKey key{font_spec.face, height, font_spec.bold, font_spec.italic};
  auto it = cache.find(key);
  if (it != cache.end()) return it->second.get();
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = font_spec.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = font_spec.italic ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  lstrcpynA(lf.lfFaceName, font_spec.face.c_str(), LF_FACESIZE);
  TFont font(CreateFontIndirectA(&lf));
  HFONT h = font.get();
  if (h) cache.emplace(key, std::move(font));
  return h ? h : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// ---------------------------------------------------------------------------
// The message loop

void InitControls() {
  static bool done = false;
  if (done) return;
  InitCommonControls();
  RegisterClasses();
  done = true;
}

void ProcessMessage(MSG& msg) {
  if (msg.hwnd) {
    HWND root = RootWindow(msg.hwnd);
    if (TForm* form = FormOfWindow(root)) {
      // A button pressed by key runs its handler here, outside any window
      // procedure: the same barrier as theirs.
      try {
        if (form->RouteKey(msg)) return;
      } catch (...) {
        HandleException();
        return;
      }
      if (IsDialogMessageA(root, &msg)) return;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Kept for the loop that waits for it.
      g_terminated = true;
      g_quit_code = static_cast<int>(msg.wParam);
      PostQuitMessage(g_quit_code);
      return;
    }
    ProcessMessage(msg);
  }
}

bool HandleMessage() {
  MSG msg;
  const BOOL r = GetMessageA(&msg, nullptr, 0, 0);
  if (r == 0 || r == -1) {
    g_terminated = true;
    if (r == 0) g_quit_code = static_cast<int>(msg.wParam);
    PostQuitMessage(g_quit_code);
    return false;
  }
  ProcessMessage(msg);
  return true;
}

int Run() {
  MSG msg;
  for (;;) {
    const BOOL r = GetMessageA(&msg, nullptr, 0, 0);
    if (r == 0) {
      g_quit_code = static_cast<int>(msg.wParam);
      break;
    }
    if (r == -1) break;
    ProcessMessage(msg);
  }
  g_terminated = true;
  return g_quit_code;
}

void Terminate(int code) {
  g_terminated = true;
  g_quit_code = code;
  PostQuitMessage(code);
}

bool Terminated() { return g_terminated; }

void ShowException(const std::exception& e) {
  ShowMessageBoxStr(e.what(), "Setup", mbkStop, MB_OK);
}

void HandleException() {
  try {
    throw;
  } catch (const EAbort&) {
    // The silent abort is never shown.
  } catch (const std::bad_alloc&) {
    ShowException(EOutOfMemory());
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(Exception("An unexpected error occurred."));
  }
}

TForm* FormOfWindow(HWND wnd) {
  if (!wnd) return nullptr;
  HWND root = RootWindow(wnd);
  return root ? static_cast<TForm*>(GetPropA(root, kFormProp)) : nullptr;
}

TControl* ControlOfWindow(HWND wnd) {
  return wnd ? static_cast<TControl*>(GetPropA(wnd, kControlProp)) : nullptr;
}

const char* ContainerClassName() {
  RegisterClasses();
  return kContainerClass;
}

bool ReflectToControl(HWND parent, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND:
      if (TControl* c = ControlOfWindow(reinterpret_cast<HWND>(lp))) {
        c->Command(HIWORD(wp));
        result = 0;
        return true;
      }
      return false;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (TControl* c = ControlOfWindow(hdr->hwndFrom)) {
        result = c->Notify(hdr);
        return true;
      }
      return false;
    }
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      if (dis->CtlType == ODT_MENU) return false;
      if (TControl* c = ControlOfWindow(dis->hwndItem)) {
        c->DrawItem(dis);
        result = TRUE;
        return true;
      }
      return false;
    }
    case WM_MEASUREITEM: {
      auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      if (mis->CtlType == ODT_MENU) return false;
      TControl* c = g_creating;
      if (!c) c = ControlOfWindow(GetDlgItem(parent, static_cast<int>(mis->CtlID)));
      if (c) {
        c->MeasureItem(mis);
        result = TRUE;
        return true;
      }
      return false;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      if (TControl* c = ControlOfWindow(reinterpret_cast<HWND>(lp))) {
        if (HBRUSH brush = c->CtlColor(reinterpret_cast<HDC>(wp))) {
          result = reinterpret_cast<LRESULT>(brush);
          return true;
        }
      }
      return false;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Controls

TControl::~TControl() {
  if (!wnd_) return;
  // The window goes without this object: no message reaches it any more.
  RemovePropA(wnd_.get(), kControlProp);
  if (old_proc_)
    SetWindowLongPtrA(wnd_.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old_proc_));
  wnd_.reset();
}

int TControl::Id() const { return wnd_ ? GetDlgCtrlID(wnd_.get()) : 0; }

std::string TControl::Text() const {
  if (!wnd_) return std::string();
  const int len = GetWindowTextLengthA(wnd_.get());
  std::string s(static_cast<size_t>(len) + 1, '\0');
  const int n = GetWindowTextA(wnd_.get(), &s[0], len + 1);
  s.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return s;
}

void TControl::SetText(const std::string& text) { SetWindowTextA(wnd_.get(), text.c_str()); }

bool TControl::Visible() const { return wnd_ && IsWindowVisible(wnd_.get()); }

void TControl::SetVisible(bool visible) {
  ShowWindow(wnd_.get(), visible ? SW_SHOWNA : SW_HIDE);
}

bool TControl::Enabled() const { return wnd_ && IsWindowEnabled(wnd_.get()); }

void TControl::SetEnabled(bool enabled) { EnableWindow(wnd_.get(), enabled ? TRUE : FALSE); }

void TControl::SetFocus() { ::SetFocus(wnd_.get()); }

void TControl::Repaint() {
  InvalidateRect(wnd_.get(), nullptr, TRUE);
  UpdateWindow(wnd_.get());
}

void TControl::SetFont(const TFontSpec& font) {
  font_ = font;
  SendMessageA(wnd_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(GetFont(font_)), TRUE);
}

RECT TControl::BoundsRect() const {
  RECT r{};
  GetWindowRect(wnd_.get(), &r);
  MapWindowPoints(nullptr, GetParent(wnd_.get()), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HBRUSH TControl::CtlColor(HDC dc) {
  if (font_.color == CLR_INVALID) return nullptr;
  SetTextColor(dc, font_.color);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return GetSysColorBrush(COLOR_BTNFACE);
}

LRESULT TControl::CallDefault(UINT msg, WPARAM wp, LPARAM lp) {
  return CallWindowProcA(old_proc_, wnd_.get(), msg, wp, lp);
}

void TControl::CreateWindowOf(const char* class_name, const TControlArgs& args, DWORD style,
                              DWORD ex_style) {
  if (!args.parent) throw Exception(std::string("A control of class ") + class_name + " has no parent");
  form_ = args.parent->ContainerForm();
  font_ = args.font ? *args.font : form_->FormFont();
  const POINT origin = args.parent->ContainerOrigin();
  style |= WS_CHILD | args.style;
  if (!(args.options & coHidden)) style |= WS_VISIBLE;
  if (args.options & coDisabled) style |= WS_DISABLED;
  if (args.options & coNoTabStop) style &= ~static_cast<DWORD>(WS_TABSTOP);
  const int id = form_->NextControlId();
  g_creating = this;
  HWND wnd = CreateWindowExA(ex_style | args.ex_style, class_name, args.text.c_str(), style,
                             args.bounds.left + origin.x, args.bounds.top + origin.y,
                             args.bounds.width, args.bounds.height, args.parent->ContainerHandle(),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
  g_creating = nullptr;
  if (!wnd) throw Exception(std::string("Cannot create a window of class ") + class_name);
  wnd_.reset(wnd);
  SetPropA(wnd, kControlProp, this);
  old_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlProc)));
  SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont(font_)), FALSE);
}

LRESULT CALLBACK TControl::ControlProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  TControl* c = ControlOfWindow(wnd);
  if (!c) return DefWindowProcA(wnd, msg, wp, lp);
  try {
    LRESULT result = 0;
    if (c->HandleMessage(msg, wp, lp, result)) return result;
  } catch (...) {
    HandleException();
    if (msg != WM_NCDESTROY) return 0;
  }
  const WNDPROC old = c->old_proc_;
  if (msg == WM_NCDESTROY) {
    // The parent took the window down before the object: let go of it.
    RemovePropA(wnd, kControlProp);
    SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    c->wnd_.release();
  }
  return CallWindowProcA(old, wnd, msg, wp, lp);
}

// ---------------------------------------------------------------------------
// Forms

TForm::TForm() { InitControls(); }

TForm::~TForm() {
  if (!wnd_) return;
  RemovePropA(wnd_.get(), kFormProp);
  wnd_.reset();
}

WNDPROC TForm::FormProcAddress() { return FormProc; }

void TForm::CreateForm(const TFormArgs& args) {
  InitControls();
  font_ = args.font;
  main_form_ = args.main_form;
  DWORD style = 0, ex_style = WS_EX_CONTROLPARENT;
  switch (args.border) {
    case TBorderStyle::Dialog:
      style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
      ex_style |= WS_EX_DLGMODALFRAME;
      break;
    case TBorderStyle::Sizeable:
      style = WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS;
      break;
    case TBorderStyle::None:
      style = WS_POPUP | WS_CLIPSIBLINGS;
      break;
  }
  if (args.stay_on_top) ex_style |= WS_EX_TOPMOST;
  RECT r{0, 0, args.client_width, args.client_height};
  AdjustWindowRectEx(&r, style, FALSE, ex_style);
  HWND wnd = CreateWindowExA(ex_style, kFormClass, args.caption.c_str(), style, 0, 0,
                             r.right - r.left, r.bottom - r.top, args.owner, nullptr, Instance(),
                             this);
  if (!wnd) throw Exception("Cannot create the window \"" + args.caption + "\"");
  wnd_.reset(wnd);
}

void TForm::CreateControls(const TLayoutItem* items, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const TLayoutItem& item = items[i];
    TControlArgs args;
    args.parent = item.parent ? item.parent : this;
    args.bounds = item.bounds;
    args.text = item.text ? item.text : "";
    args.options = item.options;
    args.value = item.value;
    args.font = item.font;
    item.control->Create(args);
  }
}

std::string TForm::Caption() const {
  char buf[512];
  const int n = GetWindowTextA(wnd_.get(), buf, sizeof buf);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

void TForm::SetCaption(const std::string& caption) { SetWindowTextA(wnd_.get(), caption.c_str()); }

void TForm::SetBounds(int left, int top, int width, int height) {
  SetWindowPos(wnd_.get(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::CentreOverClientArea(HWND over) {
  // The work area: the screen less the task bar; the whole screen where the
  // system knows no work area (NT 3.51 answers SPI_GETWORKAREA with FALSE).
  RECT work{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || work.right <= work.left || work.bottom <= work.top)
    work = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT client = work;
  if (over) {
    GetClientRect(over, &client);
    MapWindowPoints(over, nullptr, reinterpret_cast<POINT*>(&client), 2);
  }
  const RECT r = WindowRect();
  const int width = r.right - r.left, height = r.bottom - r.top;
  int left = 0, top = 0;
  CentreOver(TScreenRect{client.left, client.top, client.right, client.bottom},
             TScreenRect{work.left, work.top, work.right, work.bottom}, width, height, left, top);
  SetBounds(left, top, width, height);
}

RECT TForm::WindowRect() const {
  RECT r{};
  GetWindowRect(wnd_.get(), &r);
  return r;
}

void TForm::Show() {
  if (Visible()) {
    BringToFront();
    return;
  }
  FormShow();
  ShowWindow(wnd_.get(), SW_SHOW);
}

void TForm::Hide() { ShowWindow(wnd_.get(), SW_HIDE); }

bool TForm::Visible() const { return wnd_ && IsWindowVisible(wnd_.get()); }

void TForm::BringToFront() {
  SetWindowPos(wnd_.get(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(wnd_.get());
}

int TForm::ShowModal() {
  if (modal_ || Visible()) throw Exception("Cannot make a visible window modal");
  HWND active = GetActiveWindow();
  std::vector<TDisabledWindow> disabled;
  {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
    disabled.reserve(windows.size());
    for (HWND w : windows) {
      if (w == wnd_.get() || !IsWindowVisible(w) || !IsWindowEnabled(w)) continue;
      EnableWindow(w, FALSE);
      disabled.emplace_back(w);
    }
  }
  modal_ = true;
  modal_result_ = mrNone;
  // Whatever ends the loop: the other windows come back, this one goes.
  struct TModalEnd {
    TForm& form;
    std::vector<TDisabledWindow>& disabled;
    HWND active;
    ~TModalEnd() {
      form.modal_ = false;
      disabled.clear();
      form.Hide();
      if (active && IsWindow(active)) SetActiveWindow(active);
    }
  } end{*this, disabled, active};
  Show();
  while (modal_result_ == mrNone) {
    if (!forms::HandleMessage()) {
      modal_result_ = mrCancel;
      break;
    }
    if (modal_result_ == mrNone) continue;
    // The close query runs outside any window procedure: a failure there
    // is shown like one in a handler, and the form stays.
    try {
      CloseModal();
    } catch (...) {
      modal_result_ = mrNone;
      HandleException();
    }
  }
  return modal_result_;
}

void TForm::CloseModal() {
  if (FormCloseQuery())
    FormClose();
  else
    modal_result_ = mrNone;
}

void TForm::Close() {
  if (modal_) {
    modal_result_ = mrCancel;
    return;
  }
  if (!FormCloseQuery()) return;
  FormClose();
  Hide();
  if (main_form_) Terminate(0);
}

bool TForm::RouteKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  if (msg.wParam != VK_ESCAPE && msg.wParam != VK_RETURN) return false;
  if (GetKeyState(VK_MENU) < 0) return false;
  HWND focus = GetFocus();
  // The key closes an open drop-down list first.
  HWND combo = focus;
  if (combo && lstrcmpiA(ClassOf(combo).c_str(), "ComboBox") != 0) combo = GetParent(combo);
  if (combo && lstrcmpiA(ClassOf(combo).c_str(), "ComboBox") == 0 &&
      SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0))
    return false;
  if (msg.wParam == VK_ESCAPE) {
    if (!Usable(cancel_button_)) return false;
    cancel_button_->Click();
    return true;
  }
  TControl* focused = ControlOfWindow(focus);
  if (focused && focused->WantsReturn()) return false;
  if (focused && IsPushButton(focus) && Usable(focused)) {
    focused->Click();
    return true;
  }
  if (!Usable(default_button_)) return false;
  default_button_->Click();
  return true;
}

void TForm::RealizePalette(bool background) {
  HPALETTE palette = Palette();
  if (!palette) return;
  TWindowDC dc(wnd_.get());
  HPALETTE old = SelectPalette(dc.get(), palette, background ? TRUE : FALSE);
  const UINT changed = ::RealizePalette(dc.get());
  SelectPalette(dc.get(), old, TRUE);
  if (changed) InvalidateRect(wnd_.get(), nullptr, TRUE);
}

LRESULT CALLBACK TForm::FormProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetPropA(wnd, kFormProp, cs->lpCreateParams);
  }
  auto* form = static_cast<TForm*>(GetPropA(wnd, kFormProp));
  if (!form) return DefWindowProcA(wnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    // Taken down from outside (its owner went first): let go of it.
    RemovePropA(wnd, kFormProp);
    form->wnd_.release();
    return DefWindowProcA(wnd, msg, wp, lp);
  }
  try {
    return form->WndProc(wnd, msg, wp, lp);
  } catch (...) {
    HandleException();
    return 0;
  }
}

LRESULT TForm::WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (HandleMessage(msg, wp, lp, result)) return result;
  if (ReflectToControl(wnd, msg, wp, lp, result)) return result;
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_COMMAND:
      // IDOK / IDCANCEL from the dialog manager: Enter and Esc are routed
      // to the buttons before it sees them.
      return 0;
    case WM_NEXTDLGCTL: {
      // Tab in a multi-line edit: the edit asks its parent to move on.
      HWND next = LOWORD(lp) ? reinterpret_cast<HWND>(wp)
                             : GetNextDlgTabItem(wnd, GetFocus(), wp != 0 ? TRUE : FALSE);
      if (next) {
        ::SetFocus(next);
        if (SendMessageA(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
          SendMessageA(next, EM_SETSEL, 0, -1);
      }
      return 0;
    }
    case DM_GETDEFID:
      if (default_button_ && default_button_->Handle())
        return MAKELRESULT(default_button_->Id(), DC_HASDEFID);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(wnd, focus)) saved_focus_ = focus;
      } else if (!HIWORD(wp)) {
        RestoreFocus();
      }
      return 0;
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    case WM_QUERYNEWPALETTE:
      if (!Palette()) break;
      RealizePalette(false);
      return TRUE;
    case WM_PALETTECHANGED:
      if (reinterpret_cast<HWND>(wp) != wnd) RealizePalette(true);
      return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

void TForm::RestoreFocus() {
  HWND wnd = wnd_.get();
  if (saved_focus_ && IsWindow(saved_focus_) && IsChild(wnd, saved_focus_) &&
      IsWindowVisible(saved_focus_) && IsWindowEnabled(saved_focus_)) {
    ::SetFocus(saved_focus_);
    return;
  }
  // The first control in the tab order, or the form itself when it has
  // none (so that its keys reach it).
  HWND first = GetNextDlgTabItem(wnd, nullptr, FALSE);
  ::SetFocus(first ? first : wnd);
}

}  // namespace forms
