// A self-registering test DLL for the file rules. DllRegisterServer appends
// "register" to the file named by QV_SELFREG_MARKER and answers as
// QV_SELFREG_MODE says: "ok" (or unset) S_OK; "fail" E_FAIL; "failonce"
// E_FAIL the first time (it notes "failed" in the marker file), then S_OK.
// DllUnregisterServer appends "unregister".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {
std::string Env(const char* name) {
  char buf[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n == 0 || n >= sizeof buf ? std::string() : std::string(buf, n);
}

std::string ReadMarker() {
  std::string s;
  FILE* f = std::fopen(Env("QV_SELFREG_MARKER").c_str(), "rb");
  if (!f) return s;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

void Mark(const char* what) {
  FILE* f = std::fopen(Env("QV_SELFREG_MARKER").c_str(), "ab");
  if (!f) return;
  std::fprintf(f, "%s\n", what);
  std::fclose(f);
}
}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  const std::string mode = Env("QV_SELFREG_MODE");
  if (mode == "fail") return E_FAIL;
  if (mode == "failonce" && ReadMarker().find("failed") == std::string::npos) {
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
