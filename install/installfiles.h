// The file step: every file entry extracted from the disk data files and
// put in place by the file rules, and the machine work of those rules
// (finding the disk data files, versions, self-registration, shared counts,
// replacement at restart).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "install/installcontext.h"

void InstallFiles(TInstallContext& ctx);

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
