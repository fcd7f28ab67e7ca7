// The Win32 operations behind the installation steps: directories, finding
// the disk data files, and the file rules' machine work (versions,
// self-registration, shared counts, replacement at restart).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "install/installcontext.h"

// Creates path and any missing parents; a drive ("C:") is never created.
// Raises "Setup was unable to create the Folder - %s".
void CreateDirectoryTree(const std::string& path);

// The full path of disk data file n: looked for beside CurrentDiskDir and
// SourceDir, then as ..\DISKn\SETUP.n relative to each; else the next-disk
// prompt, whose directory becomes CurrentDiskDir (a cancel raises the
// silent abort). Without a prompt the first candidate is returned, so that
// opening it reports the file layer's error.
std::string FindDiskFile(TInstallContext& ctx, int32_t disk);

// The version numbers of a file's version resource; false when it has none.
bool GetFileVersionNumbers(const std::string& path, uint32_t& ms, uint32_t& ls);

// Calls the file's DllRegisterServer; on failure asks Abort/Retry/Ignore
// (Abort raises the silent abort).
void RegisterServer(const std::string& path);

// One more user in the file's SharedDLLs count, kept in the value's own
// type (text, binary or DWORD). Raises "Error opening registry key: %s".
void IncrementSharedCount(const std::string& path, bool existed);

// Replaces destination by temporary at the next restart: MoveFileEx on
// Windows NT, WININIT.INI's [rename] section on the Windows 95 family. Sets
// NeedsRestart.
void ScheduleRestartReplace(const std::string& temporary, const std::string& destination);

// Takes back a replacement waiting for the restart: the temporary file goes
// and its rename with it (on Windows NT a rename of a file that is no longer
// there does nothing; on the Windows 95 family its line leaves WININIT.INI
// too). False when the rename still waits: WININIT.INI cannot be rewritten
// (the temporary file then stays), or on NT the temporary file cannot be
// deleted. WinDir must be set.
bool CancelRestartReplace(const std::string& temporary);

// Deletes path at the next restart: MoveFileEx without a target on Windows
// NT (a folder goes then only when it is empty), "NUL=file" in WININIT.INI
// on the Windows 95 family (files only). WinDir must be set. False when it
// could not be scheduled.
bool ScheduleRestartDelete(const std::string& path);

// After the rollback's replay: puts every replaced file back from its safety
// copy (renamed over the destination) and its attributes, newest first. A
// failure is shown in the rollback's style (caption "Uninstall", the message
// and ".") and the rest go on; a safety copy that cannot be put back stays.
void RestoreReplacedFiles(std::vector<TReplacedFile>& replaced);

// After a successful installation (and its uninstall log): deletes the
// safety copies; one that cannot be deleted is deleted at the next restart.
void DeleteSafetyCopies(TInstallContext& ctx);
