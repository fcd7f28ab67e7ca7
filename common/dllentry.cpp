#include "common/dllentry.h"

#include <windows.h>

#include "common/faultguard.h"
#include "common/winhandles.h"

TDllEntryCall CallDllEntryPoint(const std::string& path, const char* entry) {
  TDllEntryCall call;
  TLibrary lib(LoadLibraryA(path.c_str()));
  if (!lib) return call;
  call.Stage = TDllCallStage::Loaded;
  auto proc = reinterpret_cast<TStatusProc>(reinterpret_cast<void*>(GetProcAddress(lib.get(), entry)));
  if (!proc) return call;
  call.Stage = TDllCallStage::EntryFound;
  try {
    // A crash inside the DLL ends the call; the fault's code stands for the
    // result it never returned.
    const TGuardedResult r = CallGuarded(proc);
    if (!r.Completed) {
      call.Result = static_cast<int32_t>(r.FaultCode);
      return call;
    }
    call.Result = static_cast<int32_t>(r.Status);
    call.Stage = TDllCallStage::Returned;
  } catch (...) {
    // Whatever the DLL raised is a failed call.
  }
  return call;
}
