// qvprogman: a Program Manager DDE server (service and topic "PROGMAN").
// It speaks the DDE window-message protocol itself (WM_DDE_INITIATE,
// EXECUTE, REQUEST, TERMINATE) from its hidden window.
//
//   qvprogman.exe STATEFILE [READYFILE [DELAYMS]]
//
// Loads its groups and items from STATEFILE (an INI-style text, see
// docs/progman-peers.md) when it exists, rewrites it after every change,
// and creates READYFILE once the service is registered. It ends on WM_CLOSE
// to its hidden window (class "QvProgmanServer") and when the named event
// "QvProgmanStop" is signalled. With DELAYMS it answers every execute only
// after that many milliseconds (a slow Program Manager, for the client's
// time-out).
#include <windows.h>
#include <dde.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <string>

#include "tools/progman/pmstate.h"

namespace {

PmState g_state;
std::string g_state_file;
DWORD g_execute_delay_ms = 0;

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

// Every transaction and its answer go to STATEFILE.log, for the tests and
// for anyone wondering what a program sent.
void LogLine(const std::string& line) {
  if (g_state_file.empty()) return;
  FILE* f = std::fopen((g_state_file + ".log").c_str(), "ab");
  if (f == nullptr) return;
  std::fprintf(f, "%s\r\n", line.c_str());
  std::fclose(f);
}

std::string AtomText(ATOM a) {
  char buf[256];
  UINT n = GlobalGetAtomNameA(a, buf, sizeof buf);
  return std::string(buf, n);
}

// The conversations: the clients' windows that initiated one with us.
std::vector<HWND> g_clients;

bool IsClient(HWND w) { return std::find(g_clients.begin(), g_clients.end(), w) != g_clients.end(); }

void Ack(HWND server, HWND client, WORD status, UINT_PTR hi) {
  if (!PostMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(server),
                    PackDDElParam(WM_DDE_ACK, status, hi)))
    LogLine("cannot post an acknowledgement");
}

void OnInitiate(HWND server, HWND client, LPARAM lp) {
  ATOM app = LOWORD(lp), topic = HIWORD(lp);
  // Service and topic "PROGMAN"; a null atom stands for any.
  bool app_ok = app == 0 || lstrcmpiA(AtomText(app).c_str(), "PROGMAN") == 0;
  bool topic_ok = topic == 0 || lstrcmpiA(AtomText(topic).c_str(), "PROGMAN") == 0;
  if (!app_ok || !topic_ok) return;
  ATOM a = GlobalAddAtomA("PROGMAN");
  ATOM t = GlobalAddAtomA("PROGMAN");
  if (!IsClient(client)) g_clients.push_back(client);
  SendMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(server), MAKELPARAM(a, t));
}

void OnExecute(HWND server, HWND client, LPARAM lp) {
  HGLOBAL commands = reinterpret_cast<HGLOBAL>(lp);
  std::string text;
  if (const char* p = static_cast<const char*>(GlobalLock(commands))) {
    SIZE_T size = GlobalSize(commands);
    size_t n = 0;
    while (n < size && p[n] != '\0') ++n;
    text.assign(p, n);
    GlobalUnlock(commands);
  }
  if (g_execute_delay_ms) Sleep(g_execute_delay_ms);
  bool ok = IsClient(client) && g_state.Execute(text);
  if (ok) SaveState();
  LogLine((ok ? "EXECUTE OK " : "EXECUTE REFUSED ") + text);
  // The client frees the command memory when it gets the acknowledgement.
  Ack(server, client, ok ? 0x8000 : 0, reinterpret_cast<UINT_PTR>(commands));
}

void OnRequest(HWND server, HWND client, LPARAM lp) {
  UINT format = LOWORD(lp);
  ATOM item_atom = HIWORD(lp);
  std::string item = AtomText(item_atom);
  std::string reply;
  if (!IsClient(client) || format != CF_TEXT || !g_state.Request(item, reply)) {
    LogLine("REQUEST REFUSED " + item);
    Ack(server, client, 0, item_atom);
    return;
  }
  LogLine("REQUEST OK " + item);
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEDATA) + reply.size() + 1);
  DDEDATA* d = mem ? static_cast<DDEDATA*>(GlobalLock(mem)) : nullptr;
  if (d == nullptr) {
    if (mem) GlobalFree(mem);
    Ack(server, client, 0, item_atom);
    return;
  }
  std::memset(d, 0, sizeof(DDEDATA));
  d->fResponse = 1;
  d->fRelease = 1;  // the client frees it
  d->cfFormat = CF_TEXT;
  std::memcpy(d->Value, reply.c_str(), reply.size() + 1);
  GlobalUnlock(mem);
  if (!PostMessageA(client, WM_DDE_DATA, reinterpret_cast<WPARAM>(server),
                    PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(mem), item_atom)))
    GlobalFree(mem);
}

void TerminateAll(HWND server) {
  for (HWND c : g_clients) PostMessageA(c, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(server), 0);
  g_clients.clear();
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  HWND client = reinterpret_cast<HWND>(wp);
  switch (msg) {
    case WM_DDE_INITIATE:
      OnInitiate(wnd, client, lp);
      return 0;
    case WM_DDE_EXECUTE:
      OnExecute(wnd, client, lp);
      return 0;
    case WM_DDE_REQUEST:
      OnRequest(wnd, client, lp);
      return 0;
    case WM_DDE_ADVISE:
    case WM_DDE_UNADVISE:
    case WM_DDE_POKE: {
      // Not served. The atom stays the client's to free with the negative
      // acknowledgement.
      UINT_PTR lo = 0, hi = 0;
      UnpackDDElParam(msg, lp, &lo, &hi);
      FreeDDElParam(msg, lp);
      Ack(wnd, client, 0, hi);
      return 0;
    }
    case WM_DDE_TERMINATE:
      if (IsClient(client)) {
        g_clients.erase(std::find(g_clients.begin(), g_clients.end(), client));
        PostMessageA(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(wnd), 0);
      }
      return 0;
    case WM_CLOSE:
      TerminateAll(wnd);
      DestroyWindow(wnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(wnd, msg, wp, lp);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 2) {
    MessageBoxA(nullptr, "Usage: qvprogman STATEFILE [READYFILE [DELAYMS]]", "Program Manager",
                MB_OK | MB_ICONERROR);
    return 2;
  }
  g_state_file = __argv[1];
  std::string ready_file = __argc > 2 ? __argv[2] : "";
  if (__argc > 3) g_execute_delay_ms = static_cast<DWORD>(std::strtoul(__argv[3], nullptr, 10));
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
  if (wnd == nullptr) return 3;
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "QvProgmanStop");

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
  if (IsWindow(wnd)) {
    TerminateAll(wnd);
    DestroyWindow(wnd);
  }
  CloseHandle(stop);
  return 0;
}
