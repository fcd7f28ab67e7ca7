// Machine-state snapshots of a Wine prefix and their differences (snapshot.h).
// The change time that keys the hash cache needs GetFileInformationByHandleEx,
// which the project's Windows NT 4 target level hides.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include "snapshot.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "qvtest.h"

namespace qvsnap {
namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

uint64_t ToU64(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// ---- contents hash ----------------------------------------------------------

// A fast 64-bit hash of a byte stream, fed in pieces (8-byte words with a
// multiply-rotate mix; enough to tell any changed contents).
class Hasher {
 public:
  void Add(const unsigned char* p, size_t n) {
    length_ += n;
    while (n > 0 && fill_ > 0) {
      Byte(*p++);
      --n;
    }
    while (n >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      Word(w);
      p += 8;
      n -= 8;
    }
    while (n > 0) {
      Byte(*p++);
      --n;
    }
  }
  uint64_t Final() {
    if (fill_ > 0) Word(pending_);
    uint64_t h = h_ ^ length_;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
  }

 private:
  void Word(uint64_t w) {
    w *= 0x87c37b91114253d5ULL;
    w = (w << 31) | (w >> 33);
    h_ ^= w * 0x4cf5ad432745937fULL;
    h_ = ((h_ << 27) | (h_ >> 37)) * 5 + 0x52dce729;
  }
  void Byte(unsigned char b) {
    pending_ |= static_cast<uint64_t>(b) << (8 * fill_);
    if (++fill_ == 8) {
      Word(pending_);
      pending_ = 0;
      fill_ = 0;
    }
  }
  uint64_t h_ = 0x9368e53c2f6af274ULL;
  uint64_t length_ = 0;
  uint64_t pending_ = 0;
  unsigned fill_ = 0;
};

struct CacheEntry {
  uint64_t size, lastWrite, change, hash;
};
std::map<std::string, CacheEntry>& HashCache() {
  static std::map<std::string, CacheEntry> cache;
  return cache;
}

bool IsIniName(const std::string& name) {
  return name.size() > 4 && Upper(name.substr(name.size() - 4)) == ".INI";
}

// C:\WINDOWS\SYSWOW64 (upper case) in a 32-bit process on 64-bit Windows,
// else "".
std::string Wow64SystemDirectory() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto is_wow64 = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
  BOOL wow64 = FALSE;
  if (!is_wow64 || !is_wow64(GetCurrentProcess(), &wow64) || !wow64) return "";
  char dir[MAX_PATH] = "";
  GetWindowsDirectoryA(dir, sizeof dir);
  return Upper(std::string(dir) + "\\SYSWOW64");
}

class Walker {
 public:
  Walker(const SnapshotOptions& o, Snapshot& s) : options_(o), snap_(s), buffer_(1 << 20) {}

  void WalkRoot(std::string root) {
    while (root.size() > 3 && root.back() == '\\') root.pop_back();
    DWORD attr = GetFileAttributesA(root.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY))
      throw std::runtime_error("snapshot: cannot read the directory " + root);
    if (root.back() != '\\') root += '\\';
    Walk(root);
  }

 private:
  bool Skipped(const std::string& dir) const {
    // A 32-bit program on 64-bit Windows (the i686 build in the test
    // prefix) reads the 32-bit system directory as system32 too: walked
    // once, under the name it uses.
    static const std::string wow64_system = Wow64SystemDirectory();
    if (!wow64_system.empty() && Upper(dir) == wow64_system) return true;
    for (const std::string& p : options_.skipDirectories)
      if (WildcardMatch(p, dir)) return true;
    return false;
  }

  // dir ends with a backslash.
  void Walk(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;  // unreadable: recorded as empty
    std::vector<std::string> subdirs;
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      FileState f;
      f.path = dir + name;
      f.directory = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      f.link = (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      f.attributes = fd.dwFileAttributes;
      f.creation = fd.ftCreationTime;
      f.lastWrite = fd.ftLastWriteTime;
      if (!f.directory) {
        f.size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        f.ini = IsIniName(name);
        if (!f.link) ReadFile(f);
      } else if (!f.link && !Skipped(f.path)) {
        subdirs.push_back(f.path);
      }
      snap_.files.emplace(Upper(f.path), std::move(f));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    for (const std::string& s : subdirs) Walk(s + "\\");
  }

  void ReadFile(FileState& f) {
    HANDLE h = CreateFileA(f.path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      // Held without sharing (a file in use): size, times and attributes
      // still count.
      return;
    }
    FILE_BASIC_INFO bi{};
    if (GetFileInformationByHandleEx(h, FileBasicInfo, &bi, sizeof bi))
      f.changeTime = static_cast<uint64_t>(bi.ChangeTime.QuadPart);
    BY_HANDLE_FILE_INFORMATION hi{};
    if (GetFileInformationByHandle(h, &hi)) f.links = hi.nNumberOfLinks;
    if (f.size > options_.hashLimit && !f.ini) {
      CloseHandle(h);
      return;
    }
    const std::string key = Upper(f.path);
    auto& cache = HashCache();
    auto it = cache.find(key);
    // A module shared by hard links (see Differ::File) keeps its cached hash while
    // its size and write time stay; its change time follows other prefixes.
    if (!f.ini && f.changeTime != 0 && it != cache.end() && it->second.size == f.size &&
        it->second.lastWrite == ToU64(f.lastWrite) &&
        (it->second.change == f.changeTime || f.links > 1)) {
      f.hash = it->second.hash;
      f.hashed = true;
      ++snap_.filesHashedFromCache;
      CloseHandle(h);
      return;
    }
    Hasher hasher;
    DWORD got = 0;
    while (::ReadFile(h, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr) &&
           got > 0) {
      hasher.Add(buffer_.data(), got);
      snap_.bytesHashed += got;
      if (f.ini && f.text.size() < (4u << 20))
        f.text.append(reinterpret_cast<const char*>(buffer_.data()), got);
    }
    CloseHandle(h);
    f.hash = hasher.Final();
    f.hashed = true;
    if (f.changeTime != 0) cache[key] = {f.size, ToU64(f.lastWrite), f.changeTime, f.hash};
  }

  const SnapshotOptions& options_;
  Snapshot& snap_;
  std::vector<unsigned char> buffer_;
};

// ---- registry ---------------------------------------------------------------

// Reads one key (already open) and its subkeys; links are recorded as such.
void ReadKey(HKEY key, const std::string& path, Snapshot& snap, int depth) {
  RegKeyState state;
  state.path = path;
  DWORD maxName = 0, maxData = 0, subkeys = 0, maxSub = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, nullptr,
                       &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
    snap.keys.emplace(Upper(path), std::move(state));
    return;
  }
  std::vector<char> name(maxName + 2);
  std::vector<unsigned char> data(maxData + 2);
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size()), dataLen = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG r = RegEnumValueA(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
    if (r == ERROR_MORE_DATA) {  // grew meanwhile: ask again with room
      name.resize(name.size() * 2 + 256);
      data.resize(data.size() * 2 + 4096);
      --i;
      continue;
    }
    if (r != ERROR_SUCCESS) break;
    RegValueState v;
    v.name.assign(name.data(), nameLen);
    v.type = type;
    v.data.assign(reinterpret_cast<const char*>(data.data()), dataLen);
    state.values.emplace(Upper(v.name), std::move(v));
  }
  auto link = state.values.find("SYMBOLICLINKVALUE");
  if (link != state.values.end() && link->second.type == REG_LINK) state.link = true;
  snap.keys.emplace(Upper(path), state);
  if (state.link || depth > 64) return;

  std::vector<std::string> names;
  std::vector<char> sub(maxSub + 2);
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(sub.size());
    LONG r = RegEnumKeyExA(key, i, sub.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_MORE_DATA) {
      sub.resize(sub.size() * 2 + 256);
      --i;
      continue;
    }
    if (r != ERROR_SUCCESS) break;
    names.emplace_back(sub.data(), len);
  }
  for (const std::string& n : names) {
    HKEY child = nullptr;
    if (RegOpenKeyExA(key, n.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &child) != ERROR_SUCCESS)
      continue;
    ReadKey(child, path + "\\" + n, snap, depth + 1);
    RegCloseKey(child);
  }
}

// ---- registry through one saved copy ----------------------------------------
//
// Enumerating a tree costs one wineserver round trip per key and value
// (about 5 s for HKLM\Software). RegSaveKey has the server write the whole
// tree at once, in Wine's text format:
//   [Relative\\Key\\Path] 1796723560        a key (one without values but
//   #time=1dd86f9dce28542                    with subkeys is left out)
//   @="text"  "Name"=str(2):"%x%\0"  "D"=dword:00000010
//   "B"=hex:01,02,<backslash>                 (continued on the next line)
//     03
// Strings are UTF-16 with C escapes (\\ \" \n \0 \x263a, octal below 32).

bool EnableBackupPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return false;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &tp.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
            GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads an escaped string from text[pos] up to the unescaped delimiter;
// pos ends after the delimiter. False when the delimiter is missing.
bool UnescapeW(const std::string& text, size_t& pos, char delim, std::wstring& out) {
  out.clear();
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == delim) return true;
    if (c != '\\') {
      out += static_cast<wchar_t>(static_cast<unsigned char>(c));
      continue;
    }
    if (pos >= text.size()) return false;
    char e = text[pos++];
    switch (e) {
      case 'a': out += L'\a'; break;
      case 'b': out += L'\b'; break;
      case 't': out += L'\t'; break;
      case 'n': out += L'\n'; break;
      case 'v': out += L'\v'; break;
      case 'f': out += L'\f'; break;
      case 'r': out += L'\r'; break;
      case 'e': out += L'\x1b'; break;
      case 'x': {
        unsigned v = 0;
        int n = 0;
        while (n < 4 && pos < text.size() && HexDigit(text[pos]) >= 0) {
          v = v * 16 + static_cast<unsigned>(HexDigit(text[pos++]));
          ++n;
        }
        out += static_cast<wchar_t>(v);
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          unsigned v = static_cast<unsigned>(e - '0');
          for (int n = 1; n < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7'; ++n)
            v = v * 8 + static_cast<unsigned>(text[pos++] - '0');
          out += static_cast<wchar_t>(v);
        } else {
          out += static_cast<wchar_t>(static_cast<unsigned char>(e));  // \\ \" \]
        }
    }
  }
  return false;
}

// UTF-16 to the ANSI code page, as the "A" registry functions hand it out
// (embedded zeros kept).
std::string Narrow(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

// Parses one value line (continuations joined). False: not understood.
bool ParseValueLine(const std::string& line, RegValueState& v) {
  size_t pos = 0;
  std::wstring w;
  if (line[0] == '@') {
    pos = 1;
    v.name.clear();
  } else {
    pos = 1;
    if (!UnescapeW(line, pos, '"', w)) return false;
    v.name = Narrow(w);
  }
  if (pos >= line.size() || line[pos++] != '=') return false;
  std::string rest = line.substr(pos);
  auto hexBytes = [&](size_t from) {
    std::string data;
    int hi = -1;
    for (size_t i = from; i < rest.size(); ++i) {
      int d = HexDigit(rest[i]);
      if (d < 0) continue;  // commas, continuation backslashes, blanks
      if (hi < 0) {
        hi = d;
      } else {
        data += static_cast<char>(hi * 16 + d);
        hi = -1;
      }
    }
    return data;
  };
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 1;
    if (!UnescapeW(rest, p, '"', w)) return false;
    v.type = REG_SZ;
    v.data = Narrow(w + L'\0');
  } else if (rest.compare(0, 4, "str(") == 0) {
    size_t close = rest.find("):\"");
    if (close == std::string::npos) return false;
    v.type = static_cast<DWORD>(std::strtoul(rest.c_str() + 4, nullptr, 16));
    size_t p = close + 3;
    if (!UnescapeW(rest, p, '"', w)) return false;
    v.data = Narrow(w + L'\0');
  } else if (rest.compare(0, 6, "dword:") == 0) {
    unsigned long d = std::strtoul(rest.c_str() + 6, nullptr, 16);
    v.type = REG_DWORD;
    v.data.clear();
    for (int i = 0; i < 4; ++i) v.data += static_cast<char>((d >> (8 * i)) & 0xff);
  } else if (rest.compare(0, 4, "hex:") == 0) {
    v.type = REG_BINARY;
    v.data = hexBytes(4);
  } else if (rest.compare(0, 4, "hex(") == 0) {
    size_t close = rest.find("):");
    if (close == std::string::npos) return false;
    v.type = static_cast<DWORD>(std::strtoul(rest.c_str() + 4, nullptr, 16));
    v.data = hexBytes(close + 2);
    // A string type in hex: the "A" functions hand it out converted.
    if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) &&
        v.data.size() % 2 == 0) {
      std::wstring ws(v.data.size() / 2, L'\0');
      for (size_t i = 0; i < ws.size(); ++i)
        ws[i] = static_cast<wchar_t>(static_cast<unsigned char>(v.data[2 * i]) |
                                     (static_cast<unsigned char>(v.data[2 * i + 1]) << 8));
      v.data = Narrow(ws);
    }
  } else {
    return false;
  }
  return true;
}

// Adds the keys of a saved tree below rootPath; false when the file is not
// in the expected format (the caller then enumerates).
bool ParseSavedTree(const std::string& text, const std::string& rootPath, Snapshot& snap) {
  if (text.compare(0, 23, "WINE REGISTRY Version 2") != 0) return false;
  std::map<std::string, RegKeyState> keys;
  auto ensure = [&](const std::string& path) -> RegKeyState& {
    std::string upper = Upper(path);
    auto it = keys.find(upper);
    if (it == keys.end()) {
      it = keys.emplace(upper, RegKeyState()).first;
      it->second.path = path;
    }
    return it->second;
  };
  ensure(rootPath);
  RegKeyState* cur = nullptr;
  size_t pos = text.find('\n');  // after the format line
  while (pos != std::string::npos && pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    // Hex data continues on the next line after a trailing backslash.
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
           pos < text.size()) {
      line.pop_back();
      eol = text.find('\n', pos);
      if (eol == std::string::npos) eol = text.size();
      line += text.substr(pos, eol - pos);
      pos = eol + 1;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t p = 1;
      std::wstring w;
      if (!UnescapeW(line, p, ']', w)) return false;
      std::string rel = Narrow(w);
      std::string path = rel.empty() ? rootPath : rootPath + "\\" + rel;
      cur = &ensure(path);
      // Keys without values are left out of the file when they have
      // subkeys: every ancestor exists.
      for (size_t b = path.rfind('\\'); b != std::string::npos && b > rootPath.size();
           b = path.rfind('\\', b - 1))
        ensure(path.substr(0, b));
      continue;
    }
    if (line[0] == '#') {
      if (line == "#link" && cur) cur->link = true;
      continue;
    }
    if (!cur || (line[0] != '"' && line[0] != '@')) return false;
    RegValueState v;
    if (!ParseValueLine(line, v)) return false;
    cur->values.emplace(Upper(v.name), std::move(v));
  }
  for (auto& k : keys) snap.keys.insert(std::move(k));
  return true;
}

// The whole tree below key through RegSaveKey into a file of the scratch
// directory; false when Wine refuses (then the caller enumerates).
bool ReadSavedTree(HKEY key, const std::string& rootPath, Snapshot& snap) {
  static const bool privilege = EnableBackupPrivilege();
  if (!privilege) return false;
  char temp[MAX_PATH] = {};
  const DWORD n = GetTempPathA(MAX_PATH, temp);
  std::string dir = qvtest::EnvOr("QV_TEST_TMP_WIN", n != 0 && n < MAX_PATH ? temp : ".\\");
  if (dir.back() != '\\') dir += '\\';
  static unsigned counter = 0;
  std::string file = dir + "qvsnap" +
                     std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) +
                     ".reg";
  DeleteFileA(file.c_str());
  if (RegSaveKeyA(key, file.c_str(), nullptr) != ERROR_SUCCESS) {
    DeleteFileA(file.c_str());
    return false;
  }
  const std::string text = qvtest::ReadWholeFile(file);
  DeleteFileA(file.c_str());
  Snapshot parsed;
  if (!ParseSavedTree(text, rootPath, parsed)) return false;
  for (auto& k : parsed.keys) snap.keys.insert(std::move(k));
  ++snap.registryRootsSaved;
  return true;
}

// ---- differences ------------------------------------------------------------

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string TimeText(const FILETIME& ft) {
  SYSTEMTIME st{};
  if (!FileTimeToSystemTime(&ft, &st)) return "(invalid time)";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%07u", st.wYear, st.wMonth,
                st.wDay, st.wHour, st.wMinute, st.wSecond,
                static_cast<unsigned>(ToU64(ft) % 10000000u));
  return buf;
}

std::string AttributeText(DWORD a) {
  std::string s;
  if (a & FILE_ATTRIBUTE_READONLY) s += 'R';
  if (a & FILE_ATTRIBUTE_HIDDEN) s += 'H';
  if (a & FILE_ATTRIBUTE_SYSTEM) s += 'S';
  if (a & FILE_ATTRIBUTE_ARCHIVE) s += 'A';
  char buf[16];
  std::snprintf(buf, sizeof buf, "%s0x%lx", s.empty() ? "" : " ", static_cast<unsigned long>(a));
  return s + buf;
}

std::string TypeName(DWORD t) {
  switch (t) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "type " + std::to_string(t);
  }
}

std::string ValueText(const RegValueState& v) {
  std::string s = TypeName(v.type) + " ";
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) &&
      std::none_of(v.data.begin(), v.data.end(),
                   [](char c) { return static_cast<unsigned char>(c) < 32 && c != 0; })) {
    std::string t = v.data;
    while (!t.empty() && t.back() == '\0') t.pop_back();
    std::replace(t.begin(), t.end(), '\0', '|');
    return s + Quote(t);
  }
  if (v.type == REG_DWORD && v.data.size() == 4) {
    uint32_t d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", d);
    return s + buf;
  }
  s += "[" + std::to_string(v.data.size()) + " bytes]";
  for (size_t i = 0; i < v.data.size() && i < 32; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, " %02x", static_cast<unsigned char>(v.data[i]));
    s += buf;
  }
  if (v.data.size() > 32) s += " ...";
  return s;
}

// An INI file as the profile functions read it: sections in order, keys with
// their values (trimmed); the first of repeated sections or keys counts.
struct IniKey {
  std::string name, value;
};
struct IniSection {
  std::string name;
  std::map<std::string, IniKey> keys;  // by upper-cased name
};
std::map<std::string, IniSection> ParseIni(const std::string& text) {
  std::map<std::string, IniSection> out;
  IniSection* cur = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = Trim(text.substr(pos, eol - pos));
    pos = eol + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos
                                                                        : close - 1));
      auto it = out.find(Upper(name));
      if (it == out.end()) it = out.emplace(Upper(name), IniSection{name, {}}).first;
      cur = &it->second;
      continue;
    }
    if (!cur) {
      auto it = out.find("");
      if (it == out.end()) it = out.emplace("", IniSection{"", {}}).first;
      cur = &it->second;
    }
    size_t eq = line.find('=');
    IniKey k{Trim(line.substr(0, eq)),
             eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1))};
    cur->keys.emplace(Upper(k.name), k);
  }
  return out;
}

class Differ {
 public:
  Differ(const std::vector<IgnoreRule>& ignore, bool churn) {
    rules_ = ignore;
    if (churn) rules_.insert(rules_.end(), WineChurn().begin(), WineChurn().end());
  }
  std::vector<std::string> out;

  void Add(const std::string& subject, const std::string& line) {
    for (const IgnoreRule& r : rules_)
      if (WildcardMatch(r.pattern, subject)) return;
    out.push_back(line);
  }

  void Files(const Snapshot& a, const Snapshot& b) {
    Merge(a.files, b.files, [&](const FileState* x, const FileState* y) {
      if (!x) {
        Add(y->path, std::string(y->directory ? "directory added: " : "file added: ") + y->path +
                         (y->directory ? "" : " (" + std::to_string(y->size) + " bytes)"));
      } else if (!y) {
        Add(x->path, std::string(x->directory ? "directory removed: " : "file removed: ") +
                         x->path);
      } else {
        File(*x, *y);
      }
    });
  }

  void Keys(const Snapshot& a, const Snapshot& b) {
    Merge(a.keys, b.keys, [&](const RegKeyState* x, const RegKeyState* y) {
      if (!x) Add(y->path, "key added: " + y->path);
      if (!y) Add(x->path, "key removed: " + x->path);
      static const RegKeyState kEmpty;
      const RegKeyState& before = x ? *x : kEmpty;
      const RegKeyState& after = y ? *y : kEmpty;
      const std::string& path = y ? y->path : x->path;
      Merge(before.values, after.values, [&](const RegValueState* v, const RegValueState* w) {
        std::string subject = path + " [" + (v ? v->name : w->name) + "]";
        if (!v)
          Add(subject, "value added: " + subject + " = " + ValueText(*w));
        else if (!w)
          Add(subject, "value removed: " + subject + " (was " + ValueText(*v) + ")");
        else if (v->type != w->type || v->data != w->data)
          Add(subject, "value changed: " + subject + ": " + ValueText(*v) + " -> " +
                           ValueText(*w));
      });
    });
  }

 private:
  template <typename Map, typename F>
  static void Merge(const Map& a, const Map& b, F f) {
    auto i = a.begin();
    auto j = b.begin();
    while (i != a.end() || j != b.end()) {
      if (j == b.end() || (i != a.end() && i->first < j->first)) {
        f(&i->second, nullptr);
        ++i;
      } else if (i == a.end() || j->first < i->first) {
        f(nullptr, &j->second);
        ++j;
      } else {
        f(&i->second, &j->second);
        ++i;
        ++j;
      }
    }
  }

  void File(const FileState& x, const FileState& y) {
    std::vector<std::string> what;
    if (x.directory != y.directory) {
      what.push_back(x.directory ? "directory -> file" : "file -> directory");
    } else if (!x.directory) {
      bool iniKeys = x.ini && y.ini && x.hashed && y.hashed && x.hash != y.hash;
      // A file with several names is one of Wine's modules that the bench
      // links into every test's prefix: its change time moves whenever
      // another test's prefix is made or removed. Nothing writes it in
      // place; a file put over it is a new file with one name, and counts.
      const bool shared_module = x.links > 1 && y.links > 1;
      if (x.hashed && y.hashed) {
        if (x.hash != y.hash && !iniKeys) what.push_back("contents");
      } else if (x.changeTime == 0 || (x.changeTime != y.changeTime && !shared_module)) {
        what.push_back("contents may differ (not hashed; its change time moved)");
      }
      if (x.size != y.size)
        what.push_back("size " + std::to_string(x.size) + " -> " + std::to_string(y.size));
      if (CompareFileTime(&x.lastWrite, &y.lastWrite) != 0)
        what.push_back("last write " + TimeText(x.lastWrite) + " -> " + TimeText(y.lastWrite));
      if (iniKeys) Ini(x, y);
    }
    // A directory's times follow every entry added to or removed from it
    // (Wine derives a directory's creation time from its change time), and
    // those entries are reported themselves.
    if (!x.directory && CompareFileTime(&x.creation, &y.creation) != 0)
      what.push_back("creation " + TimeText(x.creation) + " -> " + TimeText(y.creation));
    if (x.attributes != y.attributes)
      what.push_back("attributes " + AttributeText(x.attributes) + " -> " +
                     AttributeText(y.attributes));
    if (what.empty()) return;
    std::string line = (x.directory ? "directory changed: " : "file changed: ") + y.path + ":";
    for (size_t i = 0; i < what.size(); ++i) line += (i ? ", " : " ") + what[i];
    Add(y.path, line);
  }

  void Ini(const FileState& x, const FileState& y) {
    auto a = ParseIni(x.text);
    auto b = ParseIni(y.text);
    bool differs = false;
    Merge(a, b, [&](const IniSection* s, const IniSection* t) {
      std::string sub = y.path + " [" + (s ? s->name : t->name) + "]";
      if (!s) Add(sub, "ini section added: " + sub);
      if (!t) Add(sub, "ini section removed: " + sub);
      differs = differs || !s || !t;
      static const IniSection kEmpty;
      Merge(s ? s->keys : kEmpty.keys, t ? t->keys : kEmpty.keys,
            [&](const IniKey* k, const IniKey* l) {
              std::string subject = sub + " " + (k ? k->name : l->name);
              if (!k)
                Add(subject, "ini key added: " + subject + " = " + Quote(l->value));
              else if (!l)
                Add(subject, "ini key removed: " + subject + " (was " + Quote(k->value) + ")");
              else if (k->value != l->value)
                Add(subject, "ini key changed: " + subject + ": " + Quote(k->value) + " -> " +
                                 Quote(l->value));
              else
                return;
              differs = true;
            });
    });
    if (!differs) Add(y.path, "file changed: " + y.path + ": contents (no section or key differs)");
  }

  std::vector<IgnoreRule> rules_;
};

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& text) {
  // Iterative match with backtracking to the last '*'.
  size_t p = 0, t = 0, star = std::string::npos, mark = 0;
  auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || up(pattern[p]) == up(text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Snapshot TakeSnapshot(const SnapshotOptions& options) {
  auto start = std::chrono::steady_clock::now();
  Snapshot snap;
  Walker walker(options, snap);
  for (const std::string& root : options.fileRoots) walker.WalkRoot(root);
  auto files = std::chrono::steady_clock::now();
  snap.registryRootsTotal = options.registryRoots.size();
  for (const RegistryRoot& r : options.registryRoots) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(r.root, r.subkey.empty() ? nullptr : r.subkey.c_str(), 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
      throw std::runtime_error("snapshot: cannot open the registry key " + r.name + "\\" +
                               r.subkey);
    const std::string path = r.subkey.empty() ? r.name : r.name + "\\" + r.subkey;
    if (options.registryMethod == RegistryMethod::kEnumerate ||
        !ReadSavedTree(key, path, snap))
      ReadKey(key, path, snap, 0);
    RegCloseKey(key);
  }
  snap.fileSeconds = std::chrono::duration<double>(files - start).count();
  snap.registrySeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - files).count();
  return snap;
}

std::string Snapshot::Summary() const {
  size_t dirs = 0, values = 0;
  for (const auto& f : files) dirs += f.second.directory;
  for (const auto& k : keys) values += k.second.values.size();
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "%zu files, %zu directories, %zu keys, %zu values; %.1f MB hashed, %llu files "
                "from the cache; files %.3f s, registry %.3f s (%u of %zu roots saved)",
                files.size() - dirs, dirs, keys.size(), values, bytesHashed / 1048576.0,
                static_cast<unsigned long long>(filesHashedFromCache), fileSeconds,
                registrySeconds, registryRootsSaved, registryRootsTotal);
  return buf;
}

std::vector<std::string> Diff(const Snapshot& before, const Snapshot& after,
                              const std::vector<IgnoreRule>& ignore, bool withWineChurn) {
  for (const IgnoreRule& r : ignore)
    if (r.reason.empty())
      throw std::invalid_argument("snapshot: the ignore rule " + r.pattern + " has no reason");
  Differ d(ignore, withWineChurn);
  d.Files(before, after);
  d.Keys(before, after);
  return d.out;
}

// Measured on Wine 8 (winebench.snapshot, nt40 with a display and win95
// without): between two snapshots of a booted prefix, with a window shown and
// closed and cmd.exe run in between, nothing changes under C:\,
// HKLM\Software or HKCU\Software. Wine's own writes happen while the prefix
// boots (wineboot, before any test program) and in files outside drive_c
// (system.reg, user.reg), and a snapshot records no key timestamps and no
// access times. What Wine does by itself in answer to a program's change:
const std::vector<IgnoreRule>& WineChurn() {
  static const std::vector<IgnoreRule> rules = {
      {"HKCU\\Software\\Wine\\MenuFiles*",
       "a Start Menu shortcut makes Wine's menu builder write Linux menu entries "
       "(outside the prefix) and record them here; the records stay when the "
       "shortcut goes"},
  };
  return rules;
}

}  // namespace qvsnap
