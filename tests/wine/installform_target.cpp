// A small program that shows the install window over an owner form, the way
// the background window does, for installform_test to drive from outside.
//   installform_target.exe run    the steps set the texts and half the
//                                 progress, create a folder and record it,
//                                 mark the common-controls update, then run
//                                 check points until the file "go" appears
//                                 in the working directory
//   installform_target.exe fail   the same folder, then a failure
//   installform_target.exe nomemory   the same with exhausted memory
//   installform_target.exe modal  the install window shown modally, already
//                                 done (Esc closes it without a question)
// WM_APP + 1 posted to the owner makes its handler raise an exception.
// The owner form "QvOwner" writes what reached it into "result.txt":
// "animation playing|still", "instcheck 0|1", "setupstep", "modal N ...". The exit code is the message
// loop's (0 after the step, 1 after a failed or cancelled installation).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "forms/forms.h"
#include "install/installform.h"
#include "install/steps.h"
#include "run/globals.h"

namespace {

std::string g_mode;
// Posted by the install window's onDone, as the background window posts its
// step.
constexpr UINT kWmSetupStep = WM_APP + 2;
const char kMadeDir[] = "made";

void Note(const std::string& line) {
  FILE* f = std::fopen("result.txt", "a");
  if (!f) return;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

std::string FullPath(const char* name) {
  char buf[MAX_PATH];
  const DWORD n = GetFullPathNameA(name, sizeof buf, buf, nullptr);
  return std::string(buf, n < sizeof buf ? n : 0);
}

// A script whose progress range is beyond 16 bits: 170000 compressed
// bytes, two icons (2000), INI entries (1000), no registry entries.
void MakeScript() {
  auto put32 = [](uint8_t* raw, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) raw[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const char name[] = "Forms Test App";
  Script.Header.Raw[0] = sizeof name - 1;
  std::memcpy(Script.Header.Raw + 1, name, sizeof name - 1);
  put32(Script.Header.Raw, 296, 2);  // IconEntryCount
  put32(Script.Header.Raw, 300, 3);  // IniEntryCount
  put32(Script.Header.Raw, 304, 0);  // RegistryEntryCount
  for (uint32_t size : {100000u, 50000u, 20000u}) {
    SetupFileEntry e;
    put32(e.Raw, 84, size);
    Script.FileEntries.push_back(e);
  }
  IsAdmin = true;
}

class TOwnerForm : public forms::TForm {
 public:
  TOwnerForm() {
    forms::TFormArgs args;
    args.caption = "QvOwner";
    args.client_width = 600;
    args.client_height = 400;
    args.border = forms::TBorderStyle::Sizeable;
    args.main_form = true;
    CreateForm(args);
    SetBounds(40, 30, 640, 450);
  }

 protected:
  bool HandleMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) override {
    if (msg == WM_APP) {
      Start();
      result = 0;
      return true;
    }
    if (msg == WM_APP + 1) throw Exception("A handler failed on purpose");
    if (msg == kWmSetupStep) {
      // The install window closed itself before it told us.
      Note(install_ && !install_->Visible() ? "setupstep" : "setupstep while visible");
      install_.reset();
      Close();
      result = 0;
      return true;
    }
    return false;
  }

 private:
  void Start() {
    install_ = std::make_unique<TInstallForm>(Handle());
    install_->onDone = [this] { PostMessageA(Handle(), kWmSetupStep, 0, 0); };
    install_->onSetInstCheckVisible = [](bool visible) {
      Note(visible ? "instcheck 1" : "instcheck 0");
    };
    if (g_mode == "modal") {
      install_->InstallDone = true;
      const int r = install_->ShowModal();
      Note("modal " + std::to_string(r) +
           (IsWindowEnabled(Handle()) ? " owner enabled" : " owner disabled"));
      Close();
      return;
    }
    install_->Show();
    Note(install_->Animate1.Playing() ? "animation playing" : "animation still");
    install_->RunInstallation();
  }

  std::unique_ptr<TInstallForm> install_;
};

}  // namespace

// The steps as this program plays them.
void RunInstallationSteps(TInstallContext& ctx) {
  ctx.Progress.SetStatusText("Creating Folders...");
  const std::string dir = FullPath(kMadeDir);
  CreateDirectoryA(dir.c_str(), nullptr);
  ctx.Log.AppendStrings(ukRemoveDir, {dir}, 0);
  ctx.Progress.CheckCancel();
  if (g_mode == "fail") throw Exception("Setup was unable to create the Folder - C:\\nowhere");
  if (g_mode == "nomemory") throw std::bad_alloc();
  ctx.Progress.SetStatusText("Copying Program files...");
  ctx.Progress.SetFileNameText("C:\\Program Files\\Forms Test\\data.bin");
  ctx.Progress.AddProgress(86500);
  if (ctx.MarkCommonControlsUpdate) ctx.MarkCommonControlsUpdate();
  while (GetFileAttributesA("go") == INVALID_FILE_ATTRIBUTES) {
    ctx.Progress.CheckCancel();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  ctx.Progress.SetFileNameText("");
  ctx.Log.DiscardAll();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdline, int) {
  g_mode = cmdline ? cmdline : "";
  MakeScript();
  TOwnerForm owner;
  SetMessageBoxOwner(owner.Handle());
  owner.Show();
  PostMessageA(owner.Handle(), WM_APP, 0, 0);
  return forms::Run();
}
