// One set of owners for Win32 handles: each closes its handle on every path,
// also when an exception passes. Move-only; get() lends the handle, release()
// gives it up. Use these instead of a close call at the end of a function.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <utility>

// A handle closed by a function of the form BOOL/LONG Close(H), with an
// "invalid" value that is never closed.
template <typename H, typename Traits>
class TUniqueHandle {
 public:
  TUniqueHandle() noexcept : h_(Traits::Invalid()) {}
  explicit TUniqueHandle(H h) noexcept : h_(h) {}
  ~TUniqueHandle() { reset(); }
  TUniqueHandle(TUniqueHandle&& o) noexcept : h_(o.release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;

  H get() const noexcept { return h_; }
  bool valid() const noexcept { return h_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }
  H release() noexcept { return std::exchange(h_, Traits::Invalid()); }
  void reset(H h = Traits::Invalid()) noexcept {
    if (valid()) Traits::Close(h_);
    h_ = h;
  }
  // For out-parameters: closes what is held and lends the slot.
  H* put() noexcept {
    reset();
    return &h_;
  }

 private:
  H h_;
};

namespace winhandle_traits {
// CreateFile and FindFirstFile answer INVALID_HANDLE_VALUE on failure.
struct File {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
// Processes, threads, events, mappings answer NULL on failure.
struct Kernel {
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct Find {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct RegKey {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY h) { RegCloseKey(h); }
};
struct Library {
  static HMODULE Invalid() { return nullptr; }
  static void Close(HMODULE h) { FreeLibrary(h); }
};
template <typename G>
struct Gdi {
  static G Invalid() { return nullptr; }
  static void Close(G h) { DeleteObject(reinterpret_cast<HGDIOBJ>(h)); }
};
struct Window {
  static HWND Invalid() { return nullptr; }
  static void Close(HWND h) { DestroyWindow(h); }
};
struct Menu {
  static HMENU Invalid() { return nullptr; }
  static void Close(HMENU h) { DestroyMenu(h); }
};
// A window disabled for a while (under a modal form or a message box).
struct DisabledWindow {
  static HWND Invalid() { return nullptr; }
  static void Close(HWND h) {
    if (IsWindow(h)) EnableWindow(h, TRUE);
  }
};
}  // namespace winhandle_traits

using TFileHandle = TUniqueHandle<HANDLE, winhandle_traits::File>;
using TKernelHandle = TUniqueHandle<HANDLE, winhandle_traits::Kernel>;
using TFindHandle = TUniqueHandle<HANDLE, winhandle_traits::Find>;
// Never put a predefined root (HKEY_LOCAL_MACHINE ...) into a TRegKey.
using TRegKey = TUniqueHandle<HKEY, winhandle_traits::RegKey>;
using TLibrary = TUniqueHandle<HMODULE, winhandle_traits::Library>;
using TFont = TUniqueHandle<HFONT, winhandle_traits::Gdi<HFONT>>;
using TBrush = TUniqueHandle<HBRUSH, winhandle_traits::Gdi<HBRUSH>>;
using TPen = TUniqueHandle<HPEN, winhandle_traits::Gdi<HPEN>>;
using TBitmap = TUniqueHandle<HBITMAP, winhandle_traits::Gdi<HBITMAP>>;
using TPalette = TUniqueHandle<HPALETTE, winhandle_traits::Gdi<HPALETTE>>;
using TRegion = TUniqueHandle<HRGN, winhandle_traits::Gdi<HRGN>>;
using TWindowHandle = TUniqueHandle<HWND, winhandle_traits::Window>;
using TMenuHandle = TUniqueHandle<HMENU, winhandle_traits::Menu>;
// Holds a window that was disabled and enables it again when it goes.
using TDisabledWindow = TUniqueHandle<HWND, winhandle_traits::DisabledWindow>;

// A device context from GetDC, released to its window.
class TWindowDC {
 public:
  explicit TWindowDC(HWND wnd) noexcept : wnd_(wnd), dc_(GetDC(wnd)) {}
  ~TWindowDC() {
    if (dc_) ReleaseDC(wnd_, dc_);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC get() const noexcept { return dc_; }

 private:
  HWND wnd_;
  HDC dc_;
};

// A memory DC from CreateCompatibleDC.
class TMemoryDC {
 public:
  explicit TMemoryDC(HDC like) noexcept : dc_(CreateCompatibleDC(like)) {}
  ~TMemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  TMemoryDC(const TMemoryDC&) = delete;
  TMemoryDC& operator=(const TMemoryDC&) = delete;
  HDC get() const noexcept { return dc_; }

 private:
  HDC dc_;
};

// Selects an object into a DC and selects the previous one back.
class TSelectObject {
 public:
  TSelectObject(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
  ~TSelectObject() {
    if (old_) SelectObject(dc_, old_);
  }
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A COM interface pointer, released once.
template <typename I>
class TComPtr {
 public:
  TComPtr() noexcept = default;
  ~TComPtr() { reset(); }
  TComPtr(TComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  TComPtr& operator=(TComPtr&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;

  I* get() const noexcept { return p_; }
  I* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  // For CoCreateInstance and QueryInterface.
  I** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

 private:
  I* p_ = nullptr;
};

// CoInitialize for the scope, uninitialised only when it succeeded.
class TComInit {
 public:
  TComInit() noexcept : hr_(CoInitialize(nullptr)) {}
  ~TComInit() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  TComInit(const TComInit&) = delete;
  TComInit& operator=(const TComInit&) = delete;
  bool ok() const noexcept { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};
