// The shell's change notifications as Windows delivers them: a hidden window
// of the test registers for every event below the desktop, and Take() hands
// over what arrived, one "EVENT path" line each, in order. Wine keeps the
// registrations of a process in that process, so this sees what the code
// under test, running in the same process, sends through SHChangeNotify.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace qvtest {

class ShellEvents {
 public:
  ShellEvents() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QvShellEvents";
    RegisterClassA(&wc);  // fails harmlessly when an earlier recorder registered it
    wnd_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
    SetWindowLongPtrA(wnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    LPITEMIDLIST desktop = nullptr;
    SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop);
    SHChangeNotifyEntry entry{desktop, TRUE};
    id_ = SHChangeNotifyRegister(wnd_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                 SHCNE_ALLEVENTS, kMessage, 1, &entry);
    CoTaskMemFree(desktop);
  }
  ~ShellEvents() {
    if (id_) SHChangeNotifyDeregister(id_);
    DestroyWindow(wnd_);
  }
  ShellEvents(const ShellEvents&) = delete;
  ShellEvents& operator=(const ShellEvents&) = delete;

  bool Registered() const { return wnd_ && id_; }

  // Everything delivered so far (messages still queued are handled first),
  // and then forgotten.
  std::vector<std::string> Take() {
    MSG m;
    while (PeekMessageA(&m, wnd_, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    std::vector<std::string> out;
    out.swap(events_);
    return out;
  }

 private:
  static constexpr UINT kMessage = WM_APP + 77;

  static std::string EventName(LONG e) {
    switch (e) {
      case SHCNE_CREATE: return "CREATE";
      case SHCNE_DELETE: return "DELETE";
      case SHCNE_MKDIR: return "MKDIR";
      case SHCNE_RMDIR: return "RMDIR";
      case SHCNE_UPDATEDIR: return "UPDATEDIR";
      case SHCNE_UPDATEITEM: return "UPDATEITEM";
      case SHCNE_ASSOCCHANGED: return "ASSOCCHANGED";
      default: {
        char buf[16];
        wsprintfA(buf, "0x%lX", static_cast<unsigned long>(e));
        return buf;
      }
    }
  }

  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != kMessage) return DefWindowProcA(wnd, msg, wp, lp);
    auto* self = reinterpret_cast<ShellEvents*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    PIDLIST_ABSOLUTE* pidls = nullptr;
    LONG event = 0;
    HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wp), static_cast<DWORD>(lp),
                                            &pidls, &event);
    if (!lock || !self) return 0;
    char path[MAX_PATH] = "";
    if (pidls && pidls[0]) SHGetPathFromIDListA(pidls[0], path);
    self->events_.push_back(EventName(event & ~SHCNE_INTERRUPT) + " " + path);
    SHChangeNotification_Unlock(lock);
    return 0;
  }

  HWND wnd_ = nullptr;
  ULONG id_ = 0;
  std::vector<std::string> events_;
};

}  // namespace qvtest
