// Win32 helpers for folders, the registry, INI files and the platform. None
// of them raises or shows a window: failures come back as false or as an
// empty string. All Windows calls are the "A" variants.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/pathutil.h"

// True when path names an existing directory. A trailing backslash is
// ignored (a drive root is tested as it is). The critical-error box of an
// empty removable drive is suppressed for the duration of the call.
bool FolderExists(const std::string& path);

// True when path names an existing file (not a directory).
bool FileExists(const std::string& path);

// True when any file or directory of that name exists.
bool FileOrDirExists(const std::string& path);

// WritePrivateProfileString into file_name, or WriteProfileString (WIN.INI)
// when file_name is empty. True when Windows reports success.
bool WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file_name);

// The short (8.3) form of path, or path unchanged when Windows has none.
std::string ToShortPathName(const std::string& path);

// The full form of path, ".." resolved; path unchanged when Windows has
// none (or it does not fit MAX_PATH).
std::string FullPathName(const std::string& path);

// The Windows and system directories as Windows reports them; empty when
// the call fails.
std::string QueryWindowsDir();
std::string QuerySystemDir();

// The platform reported by GetVersionEx is Windows NT.
bool IsWindowsNT();

// The major version (low byte of GetVersion) is 4 or more. Asked once; the
// answer is kept for the rest of the run.
bool IsVersion4Shell();

// SHChangeNotify(event, flags, path, nullptr) through the entry point of
// shell32.dll, looked up once; nothing happens where the shell has none
// (the shell of Windows NT 3.51).
void ShellChangeNotify(LONG event, UINT flags, const std::string& path);

// Windows 95 family: always true. Windows NT: the service control manager
// opens with read, write and execute access.
bool QueryAdminRights();

// Reads a REG_SZ or REG_EXPAND_SZ value (the latter unexpanded) into s.
// False, with s untouched, for a missing value or another type; a value of
// fewer than two bytes gives true and an empty s.
bool ReadRegString(HKEY key, const std::string& name, std::string& s);

// True when the value exists under key (any type).
bool RegValuePresent(HKEY key, const std::string& name);

// Deletes parent\sub_key with all its subkeys. True when the key itself was
// deleted; subkeys that could not be deleted are left in place.
bool DeleteRegKeyTree(HKEY parent, const std::string& sub_key);

// The Start Menu Programs folder: with common, the all-users folder when
// the registry names one, else the user's own; empty below version 4 or
// when the registry names none.
std::string GetProgramsFolder(bool common, bool add_backslash);

// The ProgramFilesDir value of HKLM\Software\Microsoft\Windows\CurrentVersion,
// or empty.
std::string GetProgramFilesFolder(bool add_backslash);

// The predefined root key (HKEY_CLASSES_ROOT ... HKEY_DYN_DATA) that a
// 32-bit value of the script or the log names, or nullptr for any other
// value.
HKEY RootKeyFromParam(uint32_t param);
