// Replacing and deleting files at the next restart, for files in use: the
// file step's restart replacement and the safety copies that cannot be
// deleted at once.
#pragma once
#include <string>

// Replaces destination by temporary at the next restart: MoveFileEx on
// Windows NT, WININIT.INI's [rename] section on the Windows 95 family. Sets
// NeedsRestart. Raises the failure of either.
void ScheduleRestartReplace(const std::string& temporary, const std::string& destination);

// Deletes path at the next restart: MoveFileEx without a target on Windows
// NT, "NUL=file" in WININIT.INI on the Windows 95 family. Failures are
// ignored (only a leftover file is at stake).
void ScheduleRestartDelete(const std::string& path);
