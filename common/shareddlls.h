// The shared-file counts under HKLM\...\SharedDLLs: one value per file,
// named by its full path, counting the installed products that use it. The
// file step adds a user and the replay takes one away, both through these
// three calls, so that every kind of value is read and written alike.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/winhandles.h"

// The key, under HKEY_LOCAL_MACHINE.
constexpr const char* SharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Opens the key for reading and writing, creating it when it is missing.
// Raises "Error opening registry key: %s" when it can be neither.
TRegKey OpenSharedDllsKey();

// A file's count as its value holds it.
struct TSharedCount {
  bool Exists = false;    // the key has a value for the file
  bool Readable = false;  // that value holds a count: a decimal text, 1 to 4
                          // bytes of binary data or a four-byte DWORD
  int32_t Count = 0;      // the count when Readable
  DWORD Type = REG_DWORD; // the type it is written back in: a readable text
                          // or binary count keeps its type, anything else
                          // becomes a DWORD
};
TSharedCount ReadSharedCount(HKEY key, const std::string& file);

// Writes count in type: REG_SZ as decimal text, any other type as four
// little-endian bytes.
void WriteSharedCount(HKEY key, const std::string& file, uint32_t count, DWORD type);
