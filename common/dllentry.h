// Calling a DLL's registration entry point (DllRegisterServer when the file
// step registers a file, DllUnregisterServer when the replay takes that
// back): load the library, find the entry point, call it, free the library,
// the three calls into the DLL's code (its DllMain runs on load and free)
// each under the fault guard.
#pragma once
#include <cstdint>
#include <string>

// How far the call came.
enum class TDllCallStage {
  NotLoaded,   // the library could not be loaded (or crashed while loading)
  Loaded,      // it has no such entry point
  EntryFound,  // the entry point did not return: it crashed or raised
  Returned,    // the entry point returned Result
};

struct TDllEntryCall {
  TDllCallStage Stage = TDllCallStage::NotLoaded;
  // Returned: the entry point's result. EntryFound: the code of the fault
  // that ended the call (0 for an exception of the language).
  int32_t Result = 0;
};

// Calls the entry point named entry (no arguments, a status result) of the
// DLL at path.
TDllEntryCall CallDllEntryPoint(const std::string& path, const char* entry);
