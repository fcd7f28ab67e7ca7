// The installation driver: the steps in the order it runs them, each from
// its own file (directories.h, uninstreg.h, installfiles.h, icons.h,
// inireg.h), on one context.
#pragma once
#include "install/installcontext.h"

// Runs every step in order, writes the uninstall log when the script is
// uninstallable and discards the in-memory log. Each step raises the silent
// abort (EAbort) when the user chose Abort or confirmed a cancel, and
// Exception for a failure that ends the installation; the caller (the
// install window) reports the failure and rolls back.
void RunInstallationSteps(TInstallContext& ctx);
