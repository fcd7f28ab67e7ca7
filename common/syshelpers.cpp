#include "common/syshelpers.h"

#include <vector>

#include "common/winhandles.h"

namespace {

const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// 2 = not asked yet, 0 = false, 1 = true.
uint8_t version4_shell = 2;

uint8_t MajorVersion() { return static_cast<uint8_t>(GetVersion() & 0xFF); }

std::string ReadStringUnder(HKEY root, const char* path, const char* name) {
  std::string s;
  TRegKey key;
  if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return s;
  if (!ReadRegString(key.get(), name, s)) s.clear();
  return s;
}

}  // namespace

bool FolderExists(const std::string& path) {
  const std::string p = IsDriveRoot(path) ? path : StripTrailingBackslash(path);
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  const DWORD attr = GetFileAttributesA(p.c_str());
  SetErrorMode(old_mode);
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& path) {
  const DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileOrDirExists(const std::string& path) {
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  const DWORD attr = GetFileAttributesA(path.c_str());
  SetErrorMode(old_mode);
  return attr != INVALID_FILE_ATTRIBUTES;
}

bool WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file_name) {
  if (!file_name.empty())
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                      file_name.c_str()) != FALSE;
  return WriteProfileStringA(section.c_str(), key.c_str(), value.c_str()) != FALSE;
}

std::string ToShortPathName(const std::string& path) {
  std::vector<char> buf(MAX_PATH);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD n =
        GetShortPathNameA(path.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return path;
    if (n < buf.size()) return std::string(buf.data(), n);
    // The buffer was too small: n is the size needed, NUL included. A path
    // that changed between the calls can ask again.
    buf.resize(n + 1);
  }
  return path;
}

std::string FullPathName(const std::string& path) {
  char buf[MAX_PATH + 1];
  char* file_part = nullptr;
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, &file_part);
  return n == 0 || n >= sizeof buf ? path : std::string(buf, n);
}

std::string QueryWindowsDir() {
  char buf[MAX_PATH + 1];
  const UINT n = GetWindowsDirectoryA(buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buf, n);
}

std::string QuerySystemDir() {
  char buf[MAX_PATH + 1];
  const UINT n = GetSystemDirectoryA(buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buf, n);
}

bool IsWindowsNT() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool IsVersion4Shell() {
  if (version4_shell == 2) version4_shell = MajorVersion() >= 4 ? 1 : 0;
  return version4_shell == 1;
}

void ShellChangeNotify(LONG event, UINT flags, const std::string& path) {
  using TNotifyProc = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
  // The library stays loaded for the rest of the run.
  static const TNotifyProc notify = [] {
    HMODULE shell = LoadLibraryA("shell32.dll");
    return shell ? reinterpret_cast<TNotifyProc>(
                       reinterpret_cast<void*>(GetProcAddress(shell, "SHChangeNotify")))
                 : nullptr;
  }();
  if (notify) notify(event, flags, path.c_str(), nullptr);
}

bool QueryAdminRights() {
  if (!IsWindowsNT()) return true;
  SC_HANDLE h = OpenSCManagerA(nullptr, nullptr, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
  if (!h) return false;
  CloseServiceHandle(h);
  return true;
}

bool ReadRegString(HKEY key, const std::string& name, std::string& s) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  if (size < 2) {
    s.clear();
    return true;
  }
  // Room for the size the value reported, plus a NUL of our own for data
  // that was stored without one.
  std::vector<char> buf(size + 1, '\0');
  DWORD got = size;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                       &got) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    s.clear();
    return false;
  }
  // The text ends at its first NUL (normally the last of the size bytes).
  size_t len = 0;
  while (len < got && buf[len] != '\0') ++len;
  s.assign(buf.data(), len);
  return true;
}

bool RegValuePresent(HKEY key, const std::string& name) {
  return RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool DeleteRegKeyTree(HKEY parent, const std::string& sub_key) {
  // The subkeys are removed first, deepest first, on every platform. On
  // Windows NT RegDeleteKey refuses a key that has subkeys; the Windows 95
  // family's takes them along, but Wine's emulation of it gives up on a key
  // with several subkeys, and removing them first gives the same result.
  {
    TRegKey key;
    if (RegOpenKeyExA(parent, sub_key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                      key.put()) != ERROR_SUCCESS)
      return false;
    DWORD max_len = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, &max_len, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      if (max_len < 1) max_len = 1;
      std::vector<char> name(max_len + 1);
      DWORD index = 0;
      for (;;) {
        DWORD len = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key.get(), index, name.data(), &len, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
          break;
        // A subkey that stays is stepped over; a deleted one shifts the rest.
        if (!DeleteRegKeyTree(key.get(), std::string(name.data(), len))) ++index;
      }
    }
  }
  return RegDeleteKeyA(parent, sub_key.c_str()) == ERROR_SUCCESS;
}

std::string GetProgramsFolder(bool common, bool add_backslash) {
  if (MajorVersion() < 4) return std::string();
  std::string s;
  if (common) s = ReadStringUnder(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Programs");
  if (s.empty()) s = ReadStringUnder(HKEY_CURRENT_USER, kShellFoldersKey, "Programs");
  if (!s.empty() && add_backslash) s = EnsureTrailingBackslash(s);
  return s;
}

std::string GetProgramFilesFolder(bool add_backslash) {
  std::string s = ReadStringUnder(HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProgramFilesDir");
  if (!s.empty() && add_backslash) s = EnsureTrailingBackslash(s);
  return s;
}

HKEY RootKeyFromParam(uint32_t param) {
  // The predefined roots are small negative handle values: sign-extend the
  // 32-bit value to the width of a handle.
  if (param < 0x80000000u || param > 0x80000006u) return nullptr;
  return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<int32_t>(param)));
}
