// What the tests of the icon, INI and registry steps read back through
// Wine's own functions, and the registry entries they describe.
#pragma once
#include <windows.h>

#include <string>

#include "tools/scriptwriter/scriptwriter.h"

namespace qventries {

// A value of HKLM or HKCU "...\Explorer\Shell Folders" ("Programs",
// "Common Programs"), or empty.
inline std::string ShellFolder(HKEY root, const char* name) {
  HKEY k = nullptr;
  char buf[MAX_PATH] = "";
  DWORD len = sizeof buf;
  if (RegOpenKeyExA(root, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                    KEY_READ, &k) == ERROR_SUCCESS) {
    RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &len);
    RegCloseKey(k);
  }
  return buf;
}

// An INI value as Windows reads it (WIN.INI for an empty file name), or
// "<none>".
inline std::string IniGet(const std::string& file, const std::string& section,
                          const std::string& key) {
  char buf[512];
  if (file.empty())
    GetProfileStringA(section.c_str(), key.c_str(), "<none>", buf, sizeof buf);
  else
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<none>", buf, sizeof buf, file.c_str());
  return buf;
}

inline sw::RegistrySpec Reg(uint32_t root, const std::string& key, const std::string& name,
                            uint8_t type, uint8_t flags, const std::string& text = "") {
  sw::RegistrySpec r;
  r.RootKey = root;
  r.SubKey = key;
  r.ValueName = name;
  r.ValueType = type;
  r.RegFlags = flags;
  r.StringData = text;
  return r;
}

}  // namespace qventries
