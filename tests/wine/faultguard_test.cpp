// The fault guard under Wine, with a real DLL whose entry points write to
// address 0, raise an exception of their own, overflow the stack, or throw
// and catch a C++ exception inside.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/faultguard.h"
#include "common/winhandles.h"
#include "tests/winebench/qvtest.h"
#include "undo/replay.h"

namespace {

std::string FaultingDll() { return qvtest::BinDir() + "faulting_selfreg.dll"; }

TStatusProc Entry(HMODULE lib, const char* name) {
  auto p = reinterpret_cast<TStatusProc>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
  EXPECT_NE(p, nullptr) << name;
  return p;
}

TStatusProc g_inner = nullptr;
TGuardedResult g_inner_result;

HRESULT WINAPI GuardInsideGuard() {
  g_inner_result = CallGuarded(g_inner);
  return static_cast<HRESULT>(42);
}

LONG WINAPI SentinelFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

}  // namespace

TEST(FaultGuard, FaultsInForeignCodeBecomeFailuresAndTheProgramGoesOn) {
  TLibrary lib(LoadLibraryA(FaultingDll().c_str()));
  ASSERT_TRUE(lib) << FaultingDll();
  LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(SentinelFilter);

  // Locals of the caller keep their values across a fault.
  volatile int kept = 1234;
  TGuardedResult r = CallGuarded(Entry(lib.get(), "DllRegisterServer"));
  EXPECT_FALSE(r.Completed);
  EXPECT_EQ(r.FaultCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
  EXPECT_NE(r.FaultAddress, nullptr);
  EXPECT_EQ(kept, 1234);

  // Many faults in a row: the stack does not drift, nothing leaks a frame.
  for (int i = 0; i < 300; ++i) {
    TGuardedResult again = CallGuarded(Entry(lib.get(), "DllUnregisterServer"));
    ASSERT_FALSE(again.Completed) << i;
    ASSERT_EQ(again.FaultCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << i;
  }

  // An exception of the DLL's own that nothing catches.
  r = CallGuarded(Entry(lib.get(), "RaiseOwnException"));
  EXPECT_FALSE(r.Completed);
  EXPECT_EQ(r.FaultCode, 0xE0517001u);

  // Exceptions the foreign code handles itself are its own business.
  r = CallGuarded(Entry(lib.get(), "ThrowAndCatch"));
  EXPECT_TRUE(r.Completed);
  EXPECT_EQ(r.Status, 7);
  r = CallGuarded(Entry(lib.get(), "ReturnFailure"));
  EXPECT_TRUE(r.Completed);
  EXPECT_EQ(static_cast<uint32_t>(r.Status), 0x80004005u);

  // A guard inside a guard: the inner one takes the fault, the outer call
  // returns normally.
  g_inner = Entry(lib.get(), "DllRegisterServer");
  r = CallGuarded(GuardInsideGuard);
  EXPECT_TRUE(r.Completed);
  EXPECT_EQ(r.Status, 42);
  EXPECT_FALSE(g_inner_result.Completed);
  EXPECT_EQ(g_inner_result.FaultCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

#if defined(__i386__)
  // A fault that leaves a handler of the DLL's own registered: the chain of
  // handler records starts where it started before the call.
  NT_TIB* const tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  EXCEPTION_REGISTRATION_RECORD* const chain = tib->ExceptionList;
  r = CallGuarded(Entry(lib.get(), "FaultUnderOwnHandler"));
  EXPECT_FALSE(r.Completed);
  EXPECT_EQ(tib->ExceptionList, chain);
#endif

  // The filter in place before the guards is in place again.
  EXPECT_EQ(SetUnhandledExceptionFilter(before), SentinelFilter);

  // C++ exceptions of our own still work after all this.
  EXPECT_THROW(throw std::runtime_error("ours"), std::runtime_error);
}

TEST(FaultGuard, StackOverflowInForeignCodeIsAFailure) {
  TLibrary lib(LoadLibraryA(FaultingDll().c_str()));
  ASSERT_TRUE(lib);
  TGuardedResult r = CallGuarded(Entry(lib.get(), "OverflowStack"));
  EXPECT_FALSE(r.Completed);
  EXPECT_EQ(r.FaultCode, static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW));
}

// The replay's unregistration: a crash inside DllUnregisterServer is a
// failed unregistration, not the end of the program.
TEST(FaultGuard, UnregisterServerOfACrashingDllFails) {
  EXPECT_FALSE(UnregisterServer(FaultingDll()));
  EXPECT_FALSE(UnregisterServer(qvtest::BinDir() + "no_such_library.dll"));
  // The library is freed again after the fault.
  EXPECT_EQ(GetModuleHandleA(FaultingDll().c_str()), nullptr);
}
