// A self-registering test DLL: DllUnregisterServer (and DllRegisterServer)
// append a line to the file named by the environment variable
// QV_SELFREG_MARKER, so that a test can see that they were called.
#include <windows.h>

#include <cstdio>

namespace {
HRESULT Mark(const char* what) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("QV_SELFREG_MARKER", path, sizeof path);
  if (n == 0 || n >= sizeof path) return E_FAIL;
  FILE* f = std::fopen(path, "ab");
  if (f == nullptr) return E_FAIL;
  std::fprintf(f, "%s\n", what);
  std::fclose(f);
  return S_OK;
}
}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return Mark("register"); }
extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return Mark("unregister"); }
