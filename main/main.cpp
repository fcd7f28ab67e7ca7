// Program entry of setup.exe.
#include <windows.h>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "forms/forms.h"
#include "fsctl/choosedir.h"
#include "main/completion.h"
#include "main/mainform.h"
#include "main/startup.h"
#include "run/globals.h"
#include "wizard/aboutform.h"

// Exit codes: 0 the installation was done; 1 the run ended through the
// silent abort (after the message that explains it), a cancelled or failed
// installation, or the user leaving before the installation; 2 an
// unexpected failure reported by the general error report.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* const kTitle = "Setup";
  try {
    Startup();
  } catch (const EAbort&) {
    return 1;
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), kTitle, MB_OK | MB_ICONSTOP);
    return 2;
  }
  int code = 0;
  bool completed = false;
  try {
    forms::ProcessMessages();
    TMainForm main_form;
    SetMessageBoxOwner(main_form.Handle());
    TAboutForm about(main_form.Handle());
    main_form.AboutForm = &about;
    // The folder chooser first shows the folder the program started in.
    CreateChooseDirForm(main_form.Handle());
    ShowWindow(main_form.Handle(), SW_SHOWMAXIMIZED);
    code = forms::Run();
    completed = main_form.Completed();
    SetMessageBoxOwner(nullptr);
  } catch (const EAbort&) {
    return 1;
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), kTitle, MB_OK | MB_ICONSTOP);
    return 2;
  }
  if (RestartRequested) {
    LeaveLoaderCopyToTheRestart();
    RestartWindows();
  }
  if (code == 0 && !completed) code = 1;
  return code;
}
