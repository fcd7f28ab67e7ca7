// Calls into foreign code (a DLL's DllRegisterServer or DllUnregisterServer)
// so that an exception which nothing inside handles, an access violation for
// instance, ends the call with a failure result instead of ending setup.exe.
// Exceptions that the foreign code raises and catches itself are left alone:
// the guard acts only where the process would otherwise die.
#pragma once
#include <windows.h>

// A DLL entry point of the registration kind: no arguments, a status result.
using TStatusProc = HRESULT(WINAPI*)();

struct TGuardedResult {
  bool Completed = false;   // the call returned normally
  HRESULT Status = 0;       // its result when Completed
  DWORD FaultCode = 0;      // the exception code when not Completed
  void* FaultAddress = nullptr;
};

// Calls proc on this thread under the guard. Guards may nest; a fault on
// another thread is not taken for one of this call.
TGuardedResult CallGuarded(TStatusProc proc);

// The same for a call of our own that goes into foreign code (LoadLibrary
// and FreeLibrary run the DLL's DllMain): proc(context) under the guard.
using TContextProc = HRESULT (*)(void* context);
TGuardedResult CallGuarded(TContextProc proc, void* context);
