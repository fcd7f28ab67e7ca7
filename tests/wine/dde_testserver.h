// Starts and stops our Program Manager (qvprogman.exe) for a test, and reads
// the state file it keeps.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tools/progman/pmstate.h"

namespace qvtest {

inline std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

inline std::string BinDir() { return EnvOr("QV_BUILD_DIR_WIN", ".\\"); }
inline std::string TmpDir() { return EnvOr("QV_TEST_TMP_WIN", ".\\"); }

inline bool FileThere(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadWholeFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string s;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) s.append(buf, got);
  CloseHandle(h);
  return s;
}

inline void WriteWholeFile(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  CloseHandle(h);
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

  // Starts the server (with seed as its initial state when not empty) and
  // waits until it has registered "PROGMAN". False when it does not come up.
  bool Start(const std::string& seed = "") {
    DeleteFileA(ready_.c_str());
    if (!seed.empty()) WriteWholeFile(state_, seed);
    std::string cmd = "\"" + BinDir() + "qvprogman.exe\" \"" + state_ + "\" \"" + ready_ + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    for (int i = 0; i < 300; ++i) {
      if (FileThere(ready_)) return true;
      if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
  }

  // Closes the server's hidden window and waits for it to end. True when it
  // ended by itself.
  bool Stop() {
    if (process_ == nullptr) return true;
    HWND w = FindWindowA("QvProgmanServer", nullptr);
    if (w != nullptr) PostMessageA(w, WM_CLOSE, 0, 0);
    bool clean = WaitForSingleObject(process_, 10000) == WAIT_OBJECT_0;
    if (!clean) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
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
  std::string state_, ready_;
  HANDLE process_ = nullptr;
};

}  // namespace qvtest
