// A test DLL whose entry points misbehave in the ways a careless
// self-registering DLL can: a write to address 0 (also under a handler of
// its own that lets it pass), an exception of its own that it raises and
// leaves unhandled, and one that it throws and catches itself (which must
// not count as a failure).
#include <windows.h>

#include <stdexcept>

namespace {
volatile int* volatile g_nowhere = nullptr;

#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(volatile int depth) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + pad[0];
}
}  // namespace

extern "C" {
__declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  *g_nowhere = 1;
  return S_OK;
}
__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  *g_nowhere = 2;
  return S_OK;
}
__declspec(dllexport) HRESULT WINAPI RaiseOwnException() {
  RaiseException(0xE0517001u, 0, 0, nullptr);
  return S_OK;
}
__declspec(dllexport) HRESULT WINAPI ThrowAndCatch() {
  try {
    throw std::runtime_error("handled inside");
  } catch (const std::exception&) {
    return static_cast<HRESULT>(0x00000007);
  }
}
__declspec(dllexport) HRESULT WINAPI ReturnFailure() { return static_cast<HRESULT>(0x80004005u); }
__declspec(dllexport) HRESULT WINAPI OverflowStack() { return Recurse(0); }
#if defined(__i386__)
// A handler of its own (the i686 chain of handler records) that lets every
// exception pass on, still registered when the write to address 0 leaves.
static EXCEPTION_DISPOSITION __cdecl PassOn(EXCEPTION_RECORD*, void*, CONTEXT*, void*) {
  return ExceptionContinueSearch;
}
__declspec(dllexport) HRESULT WINAPI FaultUnderOwnHandler() {
  NT_TIB* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  EXCEPTION_REGISTRATION_RECORD own;
  own.Next = tib->ExceptionList;
  own.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(PassOn);
  tib->ExceptionList = &own;
  *g_nowhere = 3;
  tib->ExceptionList = own.Next;
  return S_OK;
}
#endif
}
