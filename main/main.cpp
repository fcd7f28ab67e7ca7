// Program entry of setup.exe.
#include <windows.h>

#include "common/exceptions.h"
#include "main/startup.h"

// Exit codes: 0 success, 1 the run ended through the silent abort (after the
// message that explains it, or a cancel), 2 an unexpected failure reported
// by the general error report.
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
  // The background window, the folder chooser and the About dialog, and the
  // message loop, come here.
  return 0;
}
