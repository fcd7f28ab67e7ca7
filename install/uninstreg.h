// The uninstall registration steps: the uninstall data file UNINST0.nnn and
// the Uninstall key (before the files), and the uninstall-delete entries
// (after everything else), which are only recorded.
#pragma once
#include "install/installcontext.h"

void ReserveUninstallFiles(TInstallContext& ctx);
void RegisterUninstaller(TInstallContext& ctx);
// Test hook: when set, the next write of the UninstallString value fails as
// a write the registry refuses. Reset by that write.
extern bool FailNextUninstallStringWrite;
void RecordUninstallDeletes(TInstallContext& ctx);
