#include "common/dllentry.h"

#include <windows.h>

#include "common/faultguard.h"

namespace {

// Loading and freeing run the DLL's own code (its DllMain) as much as the
// entry point does: each of the three steps is a guarded call.
struct TLoad {
  const char* path;
  HMODULE lib;
};

HRESULT GuardedLoad(void* context) {
  TLoad* load = static_cast<TLoad*>(context);
  load->lib = LoadLibraryA(load->path);
  return 0;
}

HRESULT GuardedFree(void* context) {
  FreeLibrary(static_cast<HMODULE>(context));
  return 0;
}

}  // namespace

TDllEntryCall CallDllEntryPoint(const std::string& path, const char* entry) {
  TDllEntryCall call;
  TLoad load{path.c_str(), nullptr};
  // A library whose start-up crashes is one that could not be loaded; the
  // loader keeps what it made of it.
  if (!CallGuarded(GuardedLoad, &load).Completed || load.lib == nullptr) return call;
  call.Stage = TDllCallStage::Loaded;
  auto proc = reinterpret_cast<TStatusProc>(reinterpret_cast<void*>(GetProcAddress(load.lib, entry)));
  if (proc) {
    call.Stage = TDllCallStage::EntryFound;
    try {
      // A crash inside the DLL ends the call; the fault's code stands for
      // the result it never returned.
      const TGuardedResult r = CallGuarded(proc);
      if (r.Completed) {
        call.Result = static_cast<int32_t>(r.Status);
        call.Stage = TDllCallStage::Returned;
      } else {
        call.Result = static_cast<int32_t>(r.FaultCode);
      }
    } catch (...) {
      // Whatever the DLL raised is a failed call.
    }
  }
  // A crash in the DLL's clean-up changes nothing of what the call did.
  CallGuarded(GuardedFree, load.lib);
  return call;
}
