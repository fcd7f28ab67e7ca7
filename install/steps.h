// The installation steps, in the order the driver runs them. Each takes the
// installation's context; each raises the silent abort (EAbort) when the
// user chose Abort or confirmed a cancel, and Exception for a failure that
// ends the installation.
#pragma once
#include "install/installcontext.h"

// Directories: {app} and every directory entry, recorded for removal.
void CreateDirectories(TInstallContext& ctx);
// Uninstall registration: the UNINST0.nnn data file and the Uninstall key.
void ReserveUninstallFiles(TInstallContext& ctx);
void RegisterUninstaller(TInstallContext& ctx);
// Every file entry: extraction from the disk data files and the file rules.
void InstallFiles(TInstallContext& ctx);
// The program group and its items (shell links or Program Manager).
void CreateProgramIcons(TInstallContext& ctx);
// The script's INI and registry entries.
void CreateIniEntries(TInstallContext& ctx);
void CreateRegistryEntries(TInstallContext& ctx);
// The uninstall-delete entries, recorded only.
void RecordUninstallDeletes(TInstallContext& ctx);

// Runs every step in order, writes the uninstall log when the script is
// uninstallable and discards the in-memory log. Raises like the steps; the
// caller (the install window) reports the failure and rolls back.
void RunInstallationSteps(TInstallContext& ctx);
