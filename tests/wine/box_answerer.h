// Answers the message boxes that the test program itself shows (its main
// thread blocks in them) from a second thread, and keeps what they said.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "uidriver.h"

namespace qvtest {

// Answers the message boxes of this process that carry caption, in turn
// with the given buttons (then "OK"), and keeps what they said.
class BoxAnswerer {
 public:
  BoxAnswerer(std::string caption, std::vector<std::string> answers)
      : caption_(std::move(caption)), answers_(std::move(answers)) {
    thread_ = CreateThread(nullptr, 0, &BoxAnswerer::Run, this, 0, nullptr);
  }
  ~BoxAnswerer() { Finish(); }
  // From now on, once an answered box is gone, presses Enter on target (a
  // key posted while a box is up goes to the box's own loop).
  void EnterAfterEachBox(HWND target) { InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&enter_after_), target); }
  // Stops looking for boxes; returns what was seen.
  const std::vector<qvui::MessageBoxInfo>& Finish() {
    if (thread_ != nullptr) {
      InterlockedExchange(&stop_, 1);
      // The thread reads this object: it must have ended before it goes.
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
    return seen_;
  }

 private:
  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<BoxAnswerer*>(p);
    // Polled without waiting calls that list the windows when none comes:
    // a listing asks every window of this process for its text, and the
    // main thread, waiting in Finish, would answer no more.
    qvui::WindowQuery q;
    q.caption = self->caption_;
    q.class_name = "#32770";
    q.pid = GetCurrentProcessId();
    while (InterlockedCompareExchange(&self->stop_, 0, 0) == 0) {
      HWND box = qvui::FindTopLevel(q);
      if (box == nullptr) {
        Sleep(20);
        continue;
      }
      self->seen_.push_back(qvui::ReadMessageBox(box));
      size_t i = self->seen_.size() - 1;
      qvui::AnswerMessageBox(box, i < self->answers_.size() ? self->answers_[i] : "OK");
      qvui::WaitForWindowGone(box, 5000);
      if (HWND target = self->enter_after_) PostMessageA(target, WM_KEYDOWN, VK_RETURN, 0);
    }
    return 0;
  }
  std::string caption_;
  std::vector<std::string> answers_;
  std::vector<qvui::MessageBoxInfo> seen_;
  volatile LONG stop_ = 0;
  HWND volatile enter_after_ = nullptr;
  HANDLE thread_ = nullptr;
};

}  // namespace qvtest
