// Forced into every GoogleTest compile of the Windows builds.
//
// The default mingw-w64 compilers use the win32 thread model, whose
// libstdc++ (GCC 12) has no std::mutex or std::condition_variable. GoogleTest
// does all its own locking with Win32 critical sections, except for the small
// Notification class; this supplies that class on a Win32 event, and
// GTEST_HAS_NOTIFICATION_ tells gtest-port.h to use it.
#pragma once
#ifdef __cplusplus
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
#endif
