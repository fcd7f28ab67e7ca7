// Answers the message boxes that the test program itself shows (its main
// thread blocks in them) from a second thread, and keeps what they said.
#pragma once
#include <windows.h>

#include <exception>
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
    while (InterlockedCompareExchange(&self->stop_, 0, 0) == 0) {
      HWND box = nullptr;
      try {
        box = qvui::WaitForMessageBox(self->caption_, 200, GetCurrentProcessId());
      } catch (const std::exception&) {
        // none yet
      }
      if (box == nullptr) continue;
      self->seen_.push_back(qvui::ReadMessageBox(box));
      size_t i = self->seen_.size() - 1;
      qvui::AnswerMessageBox(box, i < self->answers_.size() ? self->answers_[i] : "OK");
      qvui::WaitForWindowGone(box, 5000);
    }
    return 0;
  }
  std::string caption_;
  std::vector<std::string> answers_;
  std::vector<qvui::MessageBoxInfo> seen_;
  volatile LONG stop_ = 0;
  HANDLE thread_ = nullptr;
};

}  // namespace qvtest
