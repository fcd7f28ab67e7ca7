// qvprogman: a Program Manager DDE server (service and topic "PROGMAN").
//
//   qvprogman.exe STATEFILE [READYFILE]
//
// Loads its groups and items from STATEFILE (an INI-style text, see
// docs/progman-peers.md) when it exists, rewrites it after every change,
// and creates READYFILE once the service is registered. It ends on WM_CLOSE
// to its hidden window (class "QvProgmanServer") and when the named event
// "QvProgmanStop" is signalled.
#include <windows.h>
#include <ddeml.h>

#include <cstdio>
#include <string>

#include "tools/progman/pmstate.h"

namespace {

DWORD g_inst = 0;
HSZ g_service = nullptr;
PmState g_state;
std::string g_state_file;

void SaveState() {
  if (g_state_file.empty()) return;
  std::string tmp = g_state_file + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) return;
  std::string text = g_state.Save();
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok) MoveFileExA(tmp.c_str(), g_state_file.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void LoadState() {
  FILE* f = std::fopen(g_state_file.c_str(), "rb");
  if (f == nullptr) return;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  g_state.Load(text);
}

std::string StringOf(HSZ h) {
  char buf[512];
  DWORD n = DdeQueryStringA(g_inst, h, buf, sizeof buf, CP_WINANSI);
  return std::string(buf, n);
}

HDDEDATA CALLBACK ServerCallback(UINT type, UINT fmt, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                 ULONG_PTR, ULONG_PTR) {
  switch (type) {
    case XTYP_CONNECT:
      // hsz1 is the topic, hsz2 the service.
      return reinterpret_cast<HDDEDATA>(
          static_cast<ULONG_PTR>(DdeCmpStringHandles(hsz1, g_service) == 0));
    case XTYP_WILDCONNECT:
      return nullptr;
    case XTYP_EXECUTE: {
      DWORD size = DdeGetData(data, nullptr, 0, 0);
      std::string text(size, '\0');
      if (size > 0) DdeGetData(data, reinterpret_cast<LPBYTE>(&text[0]), size, 0);
      size_t nul = text.find('\0');
      if (nul != std::string::npos) text.resize(nul);
      bool ok = g_state.Execute(text);
      if (ok) SaveState();
      return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(ok ? DDE_FACK : DDE_FNOTPROCESSED));
    }
    case XTYP_REQUEST: {
      if (fmt != CF_TEXT) return nullptr;
      std::string reply;
      if (!g_state.Request(StringOf(hsz2), reply)) return nullptr;
      return DdeCreateDataHandle(g_inst, reinterpret_cast<LPBYTE>(&reply[0]),
                                 static_cast<DWORD>(reply.size() + 1), 0, hsz2, CF_TEXT, 0);
    }
    default:
      return nullptr;
  }
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE) {
    DestroyWindow(wnd);
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 2) {
    MessageBoxA(nullptr, "Usage: qvprogman STATEFILE [READYFILE]", "Program Manager",
                MB_OK | MB_ICONERROR);
    return 2;
  }
  g_state_file = __argv[1];
  std::string ready_file = __argc > 2 ? __argv[2] : "";
  char windir[MAX_PATH] = "C:\\WINDOWS";
  GetWindowsDirectoryA(windir, sizeof windir);
  g_state = PmState(windir);
  LoadState();

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.lpszClassName = "QvProgmanServer";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowA("QvProgmanServer", "Program Manager", WS_OVERLAPPED, 0, 0, 0, 0,
                           nullptr, nullptr, instance, nullptr);
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "QvProgmanStop");

  if (DdeInitializeA(&g_inst, ServerCallback,
                     APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_POKES | CBF_SKIP_REGISTRATIONS |
                         CBF_SKIP_UNREGISTRATIONS,
                     0) != DMLERR_NO_ERROR)
    return 3;
  g_service = DdeCreateStringHandleA(g_inst, "PROGMAN", CP_WINANSI);
  if (g_service == nullptr || DdeNameService(g_inst, g_service, nullptr, DNS_REGISTER) == nullptr)
    return 4;
  SaveState();
  if (!ready_file.empty()) {
    FILE* f = std::fopen(ready_file.c_str(), "wb");
    if (f != nullptr) std::fclose(f);
  }

  bool running = true;
  while (running) {
    DWORD w = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
    if (w == WAIT_OBJECT_0) break;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        running = false;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  DdeNameService(g_inst, g_service, nullptr, DNS_UNREGISTER);
  DdeFreeStringHandle(g_inst, g_service);
  DdeUninitialize(g_inst);
  if (IsWindow(wnd)) DestroyWindow(wnd);
  CloseHandle(stop);
  return 0;
}
