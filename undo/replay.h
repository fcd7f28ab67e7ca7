// The undo replay: TUndoChanges::Replay (declared in undolog.h) and the
// operations it uses on the machine. Win32 only.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/syshelpers.h"  // RootKeyFromParam

// Lowers the SharedDLLs count of file by one. True when it reached zero
// and the value was deleted; false when the count is still above zero or
// the file has no count. A count that cannot be read is taken as 2 and
// written back as REG_DWORD. Raises "Error opening registry key: %s" when
// the key can be neither opened nor created.
bool DecrementSharedCount(const std::string& file);

// Calls the file's DllUnregisterServer. True when the library loaded, the
// entry point was found and it returned a non-negative result.
bool UnregisterServer(const std::string& file);

// Deletes file (with the ".GID" and ".FTS" files of a ".HLP" help file) and,
// when notify is set, tells the shell. False only when file exists and
// cannot be deleted.
bool DeleteFileAndHelpIndex(const std::string& file, bool notify);

// True when the section of the INI file (WIN.INI when ini_file is empty)
// holds no keys.
bool IsIniSectionEmpty(const std::string& section, const std::string& ini_file);

// The text of the question asked before a shared file is removed.
std::string RemoveSharedFileQuestion(const std::string& file);
