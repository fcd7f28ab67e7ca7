// A self-registering test DLL. DllRegisterServer appends "register" to the
// file named by QV_SELFREG_MARKER and answers as QV_SELFREG_MODE says: "ok"
// (or unset) S_OK; "fail" E_FAIL; "failonce" E_FAIL the first time (it notes
// "failed" in the marker file), then S_OK. DllUnregisterServer appends
// "unregister".
//
// Named FAULTATT*.DLL, its DllMain writes to address 0 when the library is
// loaded; named FAULTDET*.DLL, when FreeLibrary unloads it (not when the
// process ends): a DLL that crashes in its start-up or clean-up code.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/winebench/qvtest.h"

namespace {
volatile int* volatile g_nowhere = nullptr;

std::string Marker() { return qvtest::EnvOr("QV_SELFREG_MARKER", ""); }

void Mark(const char* what) {
  FILE* f = std::fopen(Marker().c_str(), "ab");
  if (!f) return;
  std::fprintf(f, "%s\n", what);
  std::fclose(f);
}
}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  const std::string mode = qvtest::EnvOr("QV_SELFREG_MODE", "ok");
  if (mode == "fail") return E_FAIL;
  if (mode == "failonce" && qvtest::ReadWholeFile(Marker()).find("failed") == std::string::npos) {
    Mark("failed");
    return E_FAIL;
  }
  Mark("register");
  return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  Mark("unregister");
  return S_OK;
}

static void Crash(int how) { *g_nowhere = how; }

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(self, path, sizeof path);
  const char* base = path + (n < sizeof path ? n : 0);
  while (base > path && base[-1] != '\\' && base[-1] != '/') --base;
  if (reason == DLL_PROCESS_ATTACH && _strnicmp(base, "FAULTATT", 8) == 0) Crash(1);
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && _strnicmp(base, "FAULTDET", 8) == 0)
    Crash(2);
  return TRUE;
}
