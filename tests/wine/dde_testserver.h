// Starts and stops our Program Manager (qvprogman.exe) for a test, and reads
// the state file it keeps.
#pragma once
#include <windows.h>
#include <ddeml.h>

#include <cstdlib>
#include <string>

#include "dde/dde.h"
#include "dde/progman.h"
#include "tests/winebench/qvtest.h"
#include "tools/progman/pmstate.h"

namespace qvtest {

// With a display, Wine's desktop process serves "PROGMAN" too. DdeConnect
// takes the first server to answer its broadcast, and the broadcast goes
// through the top-level windows from the top of the z-order, where a newly
// created window goes. So our server, started once the desktop serves, is
// the one that answers. Waits up to timeout_ms for the desktop's server;
// false when none answered (no display, or no desktop yet).
inline HDDEDATA CALLBACK NoDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                       ULONG_PTR) {
  return nullptr;
}
inline bool WaitForWineProgman(DWORD timeout_ms) {
  DWORD inst = 0;
  if (DdeInitializeA(&inst, NoDdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return false;
  HSZ service = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
  bool up = false;
  const DWORD start = GetTickCount();
  while (!up && GetTickCount() - start < timeout_ms) {
    if (HCONV conv = DdeConnect(inst, service, service, nullptr)) {
      DdeDisconnect(conv);
      up = true;
    } else {
      Sleep(100);
    }
  }
  DdeFreeStringHandle(inst, service);
  DdeUninitialize(inst);
  return up;
}

// One run of our Program Manager with its own state file in the scratch
// directory.
class TestProgman {
 public:
  explicit TestProgman(const std::string& tag)
      : state_(TmpDir() + tag + ".state.ini"), ready_(TmpDir() + tag + ".ready") {}
  ~TestProgman() { Stop(); }
  TestProgman(const TestProgman&) = delete;
  TestProgman& operator=(const TestProgman&) = delete;

  const std::string& StateFile() const { return state_; }
  // What the server logged: one line per transaction and its answer.
  std::string Log() const { return ReadWholeFile(state_ + ".log"); }

  // Starts the server (with seed as its initial state when not empty) and
  // waits until it answers initiates. With delay_ms, it waits that long
  // before it answers each execute. False when it does not come up.
  bool Start(const std::string& seed = "", DWORD delay_ms = 0) {
    // With a display, Wine's desktop must be serving before ours starts
    // (see WaitForWineProgman).
    if (!EnvOr("DISPLAY", "").empty()) WaitForWineProgman(30000);
    DeleteFileA(ready_.c_str());
    if (!seed.empty()) WriteWholeFile(state_, seed);
    std::string cmd = "\"" + BinDir() + "qvprogman.exe\" \"" + state_ + "\" \"" + ready_ + "\"";
    if (delay_ms) cmd += " " + std::to_string(delay_ms);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    for (int i = 0; i < 300; ++i) {
      if (FileThere(ready_)) return true;
      if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
  }

  // True when conversation is with this server (not with Wine's desktop).
  bool Serves(HCONV conversation) const {
    CONVINFO ci = {};
    ci.cb = sizeof ci;
    if (!DdeQueryConvInfo(conversation, QID_SYNC, &ci)) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(ci.hwndPartner, &pid);
    return pid != 0 && pid == pid_;
  }

  // Closes this server's hidden window and waits for it to end. True when
  // it ended by itself.
  bool Stop() {
    if (process_ == nullptr) return true;
    if (HWND w = Window()) PostMessageA(w, WM_CLOSE, 0, 0);
    bool clean = WaitForSingleObject(process_, 10000) == WAIT_OBJECT_0;
    if (!clean) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
    return clean;
  }

  // The groups and items as the server last saved them.
  PmState Snapshot() const {
    PmState st;
    st.Load(ReadWholeFile(state_));
    return st;
  }
  // Number of items of the group, -1 when there is no such group.
  int ItemCount(const std::string& group) const {
    PmState st = Snapshot();
    const PmGroup* g = st.FindGroup(group);
    return g == nullptr ? -1 : static_cast<int>(g->Items.size());
  }
  bool HasGroup(const std::string& group) const { return ItemCount(group) >= 0; }
  // Copies the item called item of group into out; false when there is none.
  bool FindItem(const std::string& group, const std::string& item, PmItem& out) const {
    PmState st = Snapshot();
    PmGroup* g = st.FindGroup(group);
    if (g == nullptr) return false;
    for (const auto& it : g->Items)
      if (it.Name == item) {
        out = it;
        return true;
      }
    return false;
  }

 private:
  // The server's hidden window: the one of class "QvProgmanServer" that
  // belongs to this process.
  HWND Window() const {
    for (HWND w = FindWindowExA(nullptr, nullptr, "QvProgmanServer", nullptr); w != nullptr;
         w = FindWindowExA(nullptr, w, "QvProgmanServer", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == pid_) return w;
    }
    return nullptr;
  }

  std::string state_, ready_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// A client conversation with "PROGMAN" through TDDE, released in the
// reverse order of creation.
struct Conversation {
  TDDE dde;
  HSZ service = nullptr;
  HCONV conv = nullptr;
  Conversation() {
    service = dde.CreateStringHandle(ProgmanService);
    conv = dde.Connect(service, service);
  }
  ~Conversation() {
    dde.Disconnect(conv);
    dde.FreeStringHandle(service);
  }
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  bool Exec(const std::string& cmd, bool allow = true) { return dde.Execute(conv, cmd, allow); }
  // The CF_TEXT reply to a request, up to its first NUL; raises as TDDE does.
  std::string Request(const std::string& item) {
    HSZ h = dde.CreateStringHandle(item);
    HDDEDATA data = nullptr;
    std::string text;
    try {
      const BYTE* bytes = nullptr;
      DWORD size = 0;
      dde.Request(conv, h, CF_TEXT, data, bytes, size);
      const char* p = reinterpret_cast<const char*>(bytes);
      size_t n = 0;
      while (n < size && p[n] != '\0') ++n;
      text.assign(p, n);
    } catch (...) {
      dde.UnaccessData(data);
      dde.FreeStringHandle(h);
      throw;
    }
    dde.UnaccessData(data);
    dde.FreeStringHandle(h);
    return text;
  }
};

}  // namespace qvtest
