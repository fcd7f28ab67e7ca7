#include "common/msgbox.h"

#include <cstdarg>
#include <utility>
#include <vector>

#include "common/strutil.h"
#include "common/winhandles.h"
#include "resources/resource_ids.h"

namespace {

HWND box_owner = nullptr;
TBeforeMessageBox before_box;

struct TKindInfo {
  UINT icon;
  UINT caption_id;
};

TKindInfo KindInfo(MessageBoxKind kind) {
  switch (kind) {
    case mbkInformation:
      return {MB_ICONINFORMATION, IDS_CAPTION_INFORMATION};
    case mbkQuestion:
      return {MB_ICONQUESTION, IDS_CAPTION_CONFIRM};
    case mbkWarning:
      return {MB_ICONEXCLAMATION, IDS_CAPTION_WARNING};
    case mbkStop:
    default:
      return {MB_ICONHAND, IDS_CAPTION_ERROR};
  }
}

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(wnd);
  return TRUE;
}

// A stay-on-top window moved down for the box: stays on top again when the
// owner goes (TDisabledWindow does the same for the disabled ones).
struct TopmostAgainTraits {
  static HWND Invalid() { return nullptr; }
  static void Close(HWND form) {
    if (IsWindow(form))
      SetWindowPos(form, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  }
};
using TLoweredForm = TUniqueHandle<HWND, TopmostAgainTraits>;

// What a box changed, put back also when showing the box fails. The lists
// are reserved before the first change, so nothing throws once windows
// have been changed.
class TFormsInert {
 public:
  TFormsInert() : focus_(GetFocus()) {
    std::vector<HWND> forms;
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&forms));
    disabled_.reserve(forms.size());
    topmost_.reserve(forms.size());
    for (HWND form : forms) {
      if (IsWindowEnabled(form)) {
        EnableWindow(form, FALSE);
        disabled_.emplace_back(form);
      }
      if (IsWindowVisible(form) && (GetWindowLongPtrA(form, GWL_EXSTYLE) & WS_EX_TOPMOST)) {
        SetWindowPos(form, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
        SetWindowPos(form, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
        topmost_.emplace_back(form);
      }
    }
  }
  ~TFormsInert() {
    // Stay-on-top first, then enabled, then the focus.
    topmost_.clear();
    disabled_.clear();
    if (focus_ && IsWindow(focus_)) SetFocus(focus_);
  }
  TFormsInert(const TFormsInert&) = delete;
  TFormsInert& operator=(const TFormsInert&) = delete;

 private:
  HWND focus_;
  std::vector<TDisabledWindow> disabled_;
  std::vector<TLoweredForm> topmost_;
};

// The box itself: owned by the main window, the active window activated
// again afterwards.
int ApplicationMessageBox(const char* text, const char* caption, UINT style) {
  HWND active = GetActiveWindow();
  HWND owner = box_owner && IsWindow(box_owner) ? box_owner : nullptr;
  const int result = MessageBoxA(owner, text, caption, style);
  if (active && IsWindow(active)) SetActiveWindow(active);
  return result;
}

}  // namespace

void SetMessageBoxOwner(HWND owner) { box_owner = owner; }
TBeforeMessageBox SetBeforeMessageBox(TBeforeMessageBox hook) {
  std::swap(before_box, hook);
  return hook;
}
HWND MessageBoxOwner() { return box_owner; }

std::string DefaultMessageBoxCaption(MessageBoxKind kind) {
  char buf[256];
  const int n = LoadStringA(GetModuleHandleA(nullptr), KindInfo(kind).caption_id, buf, sizeof buf);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

int ShowAppMessageBox(const char* text, const char* caption, MessageBoxKind kind, UINT flags) {
  if (before_box.Run) before_box.Run(before_box.Context);
  TFormsInert inert;
  std::string default_caption;
  if (!caption || !*caption) {
    default_caption = DefaultMessageBoxCaption(kind);
    caption = default_caption.c_str();
  }
  return ApplicationMessageBox(text ? text : "", caption, KindInfo(kind).icon | flags);
}

int ShowMessageBoxStr(const std::string& text, const std::string& caption, MessageBoxKind kind,
                      UINT flags) {
  return ShowAppMessageBox(text.c_str(), caption.c_str(), kind, flags);
}

int ShowMessageBoxFmt(const char* fmt, const std::string& caption, MessageBoxKind kind, UINT flags,
                      ...) {
  va_list args;
  va_start(args, flags);
  const std::string text = FormatV(fmt, args);
  va_end(args);
  return ShowMessageBoxStr(text, caption, kind, flags);
}
