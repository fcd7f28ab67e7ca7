// Replacing and deleting files at the next restart, for files in use: the
// file step's restart replacement and the safety copies that cannot be
// deleted at once.
#pragma once
#include <string>

// Replaces destination by temporary at the next restart: MoveFileEx on
// Windows NT, WININIT.INI's [rename] section on the Windows 95 family. Sets
// NeedsRestart. Raises the failure of either.
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
