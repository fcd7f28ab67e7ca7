// Startup: runs before any window exists and fills in the global setup
// state. Every failure it reports shows one message box and raises the
// silent abort (EAbort); other failures escape to the program entry.
#pragma once

void Startup();

// Shows a startup failure (stop icon, caption "Error", no owner) and raises
// the silent abort.
[[noreturn]] void StartupFail(const char* message);
