// A self-registering test DLL. DllRegisterServer appends "register" to the
// file named by QV_SELFREG_MARKER and answers as QV_SELFREG_MODE says: "ok"
// (or unset) S_OK; "fail" E_FAIL; "failonce" E_FAIL the first time (it notes
// "failed" in the marker file), then S_OK. DllUnregisterServer appends
// "unregister".
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/winebench/qvtest.h"

namespace {
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
