#include "tools/qvbuild/description.h"

#include "common/pathutil.h"
#include "undo/undolog.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace qvbuild {

using nlohmann::json;

const std::vector<FlagName> kHeaderFlagNames = {
    {"uninstallable", 0x02}, {"allowNoIcons", 0x04}, {"alwaysRestart", 0x08},
    {"solidBackground", 0x10}};
const std::vector<FlagName> kFileFlagNames = {
    {"confirmOverwrite", 0x01}, {"uninstallNeverRemove", 0x02}, {"restartReplace", 0x04},
    {"registerServer", 0x08},   {"sharedFile", 0x10},           {"readme", 0x20},
    {"uninstallDataFile", 0x40}};
const std::vector<FlagName> kIniFlagNames = {{"uninstallDeleteEntry", 0x01},
                                             {"uninstallDeleteSection", 0x02}};
const std::vector<FlagName> kRegistryFlagNames = {{"uninstallDeleteValue", 0x01},
                                                  {"uninstallDeleteKey", 0x02}};
const std::vector<FlagName> kRunFlagNames = {{"noWait", 0x01}};
const std::vector<const char*> kCopyModeNames = {"normal", "onlyIfDoesntExist",
                                                 "alwaysOverwrite", "keepNewer"};
const std::vector<const char*> kValueTypeNames = {"none", "string", "number", "binary"};
const std::vector<const char*> kRootKeyNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
const std::vector<const char*> kSystemColorNames = {
    "COLOR_SCROLLBAR",     "COLOR_BACKGROUND",    "COLOR_ACTIVECAPTION", "COLOR_INACTIVECAPTION",
    "COLOR_MENU",          "COLOR_WINDOW",        "COLOR_WINDOWFRAME",   "COLOR_MENUTEXT",
    "COLOR_WINDOWTEXT",    "COLOR_CAPTIONTEXT",   "COLOR_ACTIVEBORDER",  "COLOR_INACTIVEBORDER",
    "COLOR_APPWORKSPACE",  "COLOR_HIGHLIGHT",     "COLOR_HIGHLIGHTTEXT", "COLOR_BTNFACE",
    "COLOR_BTNSHADOW",     "COLOR_GRAYTEXT",      "COLOR_BTNTEXT",       "COLOR_INACTIVECAPTIONTEXT",
    "COLOR_BTNHIGHLIGHT",  "COLOR_3DDKSHADOW",    "COLOR_3DLIGHT",       "COLOR_INFOTEXT",
    "COLOR_INFOBK"};

bool ParseWindowsVersion(const std::string& text, uint8_t& major, uint8_t& minor) {
  size_t dot = text.find('.');
  std::string a = text.substr(0, dot);
  std::string b = dot == std::string::npos ? "0" : text.substr(dot + 1);
  auto digits = [](const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if (!digits(a) || !digits(b) || a.size() > 3 || b.size() > 2) return false;
  int ma = std::stoi(a);
  int mi = std::stoi(b);
  if (b.size() == 1) mi *= 10;
  if (ma > 255) return false;
  major = static_cast<uint8_t>(ma);
  minor = static_cast<uint8_t>(mi);
  return true;
}

namespace {

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

std::string JoinPath(const std::string& base, const std::string& rel) {
  if (rel.empty() || base.empty()) return rel;
  if (rel[0] == '/' || rel[0] == '\\' || (rel.size() > 1 && rel[1] == ':')) return rel;
  char last = base.back();
  if (last == '/' || last == '\\') return base + rel;
  return base + "/" + rel;
}

// UTF-8 to the script's single-byte characters (one byte per code point up
// to U+00FF, as far as the ANSI code page agrees). Invalid: not UTF-8 at
// all; Unrepresentable: a code point above U+00FF (the first one in bad).
enum class TUtf8Result { Ok, Invalid, Unrepresentable };
TUtf8Result Utf8ToSingleByte(const std::string& utf8, std::string& out, uint32_t& bad) {
  out.clear();
  TUtf8Result result = TUtf8Result::Ok;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > utf8.size()) return TUtf8Result::Invalid;
    uint32_t cp = n == 1 ? c : c & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
      if ((cc & 0xC0) != 0x80) return TUtf8Result::Invalid;
      cp = cp << 6 | (cc & 0x3Fu);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return TUtf8Result::Invalid;
    if (cp > 0xFF && result == TUtf8Result::Ok) {
      result = TUtf8Result::Unrepresentable;
      bad = cp;
    }
    out += static_cast<char>(cp);
    i += n;
  }
  return result;
}

// One object of the description being read: reports faults with its place
// and refuses keys that nobody asked for.
class Obj {
 public:
  Obj(const std::string& file, std::string where, const json& j)
      : file_(file), where_(std::move(where)), j_(j) {
    if (!j_.is_object()) Fail("", "must be a JSON object");
  }

  [[noreturn]] void Fail(const std::string& key, const std::string& msg) const {
    std::string place = where_;
    if (!key.empty()) place += (place.empty() ? "" : ".") + key;
    throw EDescriptionError(file_ + ": " + (place.empty() ? "" : place + ": ") + msg);
  }

  const json* Get(const std::string& key) {
    known_.push_back(key);
    auto it = j_.find(key);
    return it == j_.end() || it->is_null() ? nullptr : &*it;
  }

  // A single-byte text: UTF-8 in the description, one byte per character
  // (Latin-1, as far as the ANSI code page agrees) in the script.
  std::string Text(const std::string& key, size_t max_len, bool required = false) {
    const json* v = Get(key);
    if (!v) {
      if (required) Fail(key, "missing");
      return std::string();
    }
    if (!v->is_string()) Fail(key, "must be a string");
    std::string out = ToAnsi(key, v->get<std::string>());
    if (out.size() > max_len)
      Fail(key, "\"" + v->get<std::string>() + "\" is " + std::to_string(out.size()) +
                    " characters long; the field holds at most " + std::to_string(max_len));
    return out;
  }

  int64_t Integer(const std::string& key, int64_t lo, int64_t hi, int64_t def) {
    const json* v = Get(key);
    if (!v) return def;
    if (!v->is_number_integer()) Fail(key, "must be an integer");
    int64_t n = v->is_number_unsigned() && v->get<uint64_t>() > 0x7FFFFFFFFFFFFFFFull
                    ? hi + 1
                    : v->get<int64_t>();
    if (n < lo || n > hi)
      Fail(key, std::to_string(n) + " is out of range " + std::to_string(lo) + " to " +
                    std::to_string(hi));
    return n;
  }

  uint8_t Flags(const std::string& key, const std::vector<FlagName>& names) {
    const json* v = Get(key);
    if (!v) return 0;
    if (!v->is_array()) Fail(key, "must be an array of flag names");
    uint8_t mask = 0;
    for (size_t i = 0; i < v->size(); ++i) {
      const json& f = (*v)[i];
      if (!f.is_string()) Fail(key, "must be an array of flag names");
      bool found = false;
      for (const FlagName& n : names)
        if (f.get<std::string>() == n.Name) {
          mask |= n.Mask;
          found = true;
        }
      if (!found) {
        std::string list;
        for (const FlagName& n : names) list += std::string(list.empty() ? "" : ", ") + n.Name;
        Fail(key, "unknown flag \"" + f.get<std::string>() + "\" (known: " + list + ")");
      }
    }
    return mask;
  }

  size_t Choice(const std::string& key, const std::vector<const char*>& names, size_t def) {
    const json* v = Get(key);
    if (!v) return def;
    if (!v->is_string()) Fail(key, "must be a string");
    for (size_t i = 0; i < names.size(); ++i)
      if (v->get<std::string>() == names[i]) return i;
    std::string list;
    for (const char* n : names) list += std::string(list.empty() ? "" : ", ") + n;
    Fail(key, "unknown name \"" + v->get<std::string>() + "\" (known: " + list + ")");
  }

  // Refuses the keys that were never asked for.
  void Done() const {
    for (auto it = j_.begin(); it != j_.end(); ++it) {
      bool known = false;
      for (const std::string& k : known_) known = known || k == it.key();
      // An empty name is shown as "" (else the message would name no key).
      if (!known) Fail(it.key().empty() ? "\"\"" : it.key(), "unknown key");
    }
  }

  std::string ToAnsi(const std::string& key, const std::string& utf8) const {
    std::string out;
    uint32_t bad = 0;
    if (Utf8ToSingleByte(utf8, out, bad) != TUtf8Result::Ok)
      Fail(key, "character not representable in a single-byte text");
    if (out.find('\0') != std::string::npos) Fail(key, "contains a NUL character");
    return out;
  }

  const std::string& Where() const { return where_; }

 private:
  const std::string& file_;
  std::string where_;
  const json& j_;
  std::vector<std::string> known_;
};

std::string ReadTextFile(Obj& o, const std::string& key, const std::string& base) {
  const json* v = o.Get(key);
  if (!v) return std::string();
  if (!v->is_string()) o.Fail(key, "must be a file name");
  std::string path = JoinPath(base, v->get<std::string>());
  std::ifstream in(path, std::ios::binary);
  if (!in) o.Fail(key, "cannot read the text file \"" + path + "\"");
  std::ostringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  if (text.size() > 0x7FFFFFF0u) o.Fail(key, "text file too large");
  // Shown as it is by the wizard, in the ANSI code page: a UTF-8 text (with
  // or without its byte-order mark) is converted; a text that is not UTF-8
  // is taken to be single-byte already.
  const bool bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (bom) text.erase(0, 3);
  std::string converted;
  uint32_t bad = 0;
  switch (Utf8ToSingleByte(text, converted, bad)) {
    case TUtf8Result::Ok:
      return converted;
    case TUtf8Result::Invalid:
      if (bom) o.Fail(key, "the text file \"" + path + "\" begins as UTF-8 but is not UTF-8");
      return text;
    case TUtf8Result::Unrepresentable: {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(bad));
      o.Fail(key, "the text file \"" + path + "\" holds the character " + code +
                      ", which the script's single-byte texts cannot hold");
    }
  }
  return text;
}

void ReadVersion(Obj& o, const std::string& key, uint8_t& major, uint8_t& minor) {
  const json* v = o.Get(key);
  if (!v) return;  // keep the default
  if (!v->is_string() || !ParseWindowsVersion(v->get<std::string>(), major, minor))
    o.Fail(key, "must be a version such as \"4.0\" or \"3.51\" (\"0\" refuses that family)");
}

int32_t ReadColor(Obj& o, const std::string& key, int32_t def) {
  const json* v = o.Get(key);
  if (!v) return def;
  if (v->is_number_integer()) {
    int64_t n = v->get<int64_t>();
    if (n < 0 || n > 0x00FFFFFF) o.Fail(key, "an RGB number must be 0 to 0xFFFFFF");
    return static_cast<int32_t>(n);
  }
  if (!v->is_string()) o.Fail(key, "must be \"#RRGGBB\", a COLOR_... name or \"system:N\"");
  std::string s = v->get<std::string>();
  if (s.size() == 7 && s[0] == '#') {
    uint32_t rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
      char c = s[i];
      int d = c >= '0' && c <= '9' ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) o.Fail(key, "\"" + s + "\" is not a colour \"#RRGGBB\"");
      rgb = rgb << 4 | static_cast<uint32_t>(d);
    }
    // Stored with red in the low byte.
    uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    return static_cast<int32_t>(r | g << 8 | b << 16);
  }
  int index = -1;
  if (s.rfind("system:", 0) == 0) {
    std::string n = s.substr(7);
    if (!n.empty() && n.size() <= 3 && n.find_first_not_of("0123456789") == std::string::npos)
      index = std::stoi(n);
    if (index > 255) index = -1;
  } else {
    for (size_t i = 0; i < kSystemColorNames.size(); ++i)
      if (s == kSystemColorNames[i]) index = static_cast<int>(i);
  }
  if (index < 0) o.Fail(key, "unknown colour \"" + s + "\"");
  return static_cast<int32_t>(0x80000000u | static_cast<uint32_t>(index));
}

const json* List(Obj& o, const std::string& key) {
  const json* v = o.Get(key);
  if (v && !v->is_array()) o.Fail(key, "must be an array");
  return v;
}

std::string Place(const std::string& list, size_t i) { return list + "[" + std::to_string(i) + "]"; }

// A parser callback that refuses an object holding a key twice (the
// parser would keep the second silently), naming its place.
json::parser_callback_t DuplicateKeyRefuser(const std::string& name) {
  struct TFrame {
    bool array = false;
    size_t index = 0;
    std::string key;
    std::set<std::string> keys;
  };
  auto stack = std::make_shared<std::vector<TFrame>>();
  return [stack, name](int, json::parse_event_t event, json& parsed) {
    std::vector<TFrame>& st = *stack;
    auto next_element = [&st] {
      if (!st.empty() && st.back().array) ++st.back().index;
    };
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        st.emplace_back();
        st.back().array = event == json::parse_event_t::array_start;
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        if (!st.empty()) st.pop_back();
        next_element();
        break;
      case json::parse_event_t::value:
        next_element();
        break;
      case json::parse_event_t::key: {
        const std::string key = parsed.get<std::string>();
        if (!st.empty() && !st.back().keys.insert(key).second) {
          std::string place;
          for (size_t i = 0; i + 1 < st.size(); ++i)
            place += st[i].array ? "[" + std::to_string(st[i].index) + "]"
                                 : (place.empty() ? "" : ".") + st[i].key;
          place += (place.empty() ? "" : ".") + key;
          throw EDescriptionError(name + ": " + place +
                                  ": the key appears twice in one object (the second would replace the first)");
        }
        if (!st.empty()) st.back().key = key;
        break;
      }
    }
    return true;
  };
}

const char* const kConstants[] = {"{app}", "{win}", "{sys}", "{src}"};

// Every "{" of a text that setup.exe expands must open one of the four
// directory constants; anything else ({App}, {pf}) would stay as it is.
void CheckConstants(const Obj& o, const std::string& key, const std::string& text) {
  for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1)) {
    bool known = false;
    for (const char* c : kConstants) known = known || text.compare(at, 5, c) == 0;
    if (!known) {
      const size_t close = text.find('}', at);
      const std::string name = text.substr(at, close == std::string::npos ? 1 : close - at + 1);
      o.Fail(key, "unknown constant \"" + name +
                      "\" (the constants are {app}, {win}, {sys} and {src}, in small letters)");
    }
  }
}

// A path that setup.exe creates or deletes: a full path that starts with a
// directory constant, a drive ("C:\\") or a network share
// ("\\\\server\\share"), and never climbs out of it with "..". A plain name
// would land in whatever the current directory is at the user's machine.
void CheckPath(const Obj& o, const std::string& key, const std::string& path) {
  CheckConstants(o, key, path);
  bool full = false;
  for (const char* c : kConstants)
    full = full || (path.compare(0, 5, c) == 0 && (path.size() == 5 || path[5] == '\\'));
  if (!full && !IsFullPath(path))
    o.Fail(key, "\"" + path + "\" is not a full path: it must start with {app}, {win}, {sys}, {src}, "
                "a drive (\"C:\\\") or a network share (\"\\\\server\\share\")");
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of("\\/", start);
    if (path.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0 &&
        (end == std::string::npos ? path.size() - start : end - start) == 2)
      o.Fail(key, "\"" + path + "\" climbs out of its folder with \"..\"");
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Two entries installing the same destination (letter case does not count
// on the user's machine): the second would replace the first.
void CheckDuplicateDestinations(const Description& d) {
  const std::vector<sw::FileSpec>& files = d.Builder.Files;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].FileFlags & 0x40) continue;  // the uninstall data file has a name of its own
    for (size_t j = 0; j < i; ++j) {
      if ((files[j].FileFlags & 0x40) || UpperAscii(files[i].DestName) != UpperAscii(files[j].DestName))
        continue;
      const std::string place = static_cast<int>(i) == d.UninstallerIndex ? "uninstaller" : Place("files", i) + ".dest";
      throw EDescriptionError(d.Path + ": " + place + ": \"" + files[i].DestName +
                              "\" is also the destination of " + Place("files", j));
    }
  }
}

}  // namespace

Description ParseDescription(const std::string& text, const std::string& name,
                             const std::string& base) {
  json root;
  try {
    root = json::parse(text, DuplicateKeyRefuser(name));
  } catch (const json::exception& e) {
    // A syntax error, or a number beyond what JSON's numbers hold.
    throw EDescriptionError(name + ": not valid JSON: " + e.what());
  }
  Description d;
  d.Path = name;
  sw::ScriptBuilder& b = d.Builder;
  Obj top(name, "", root);
  b.Header.ApplicationName = top.Text("appName", 63, true);
  b.Header.ApplicationVersionName = top.Text("appVersionName", 63);
  if (b.Header.ApplicationVersionName.empty()) b.Header.ApplicationVersionName = b.Header.ApplicationName;
  b.Header.BackgroundSubtitle = top.Text("subtitle", 63);
  b.Header.DefaultDirectory = top.Text("defaultDir", 47);
  b.Header.DefaultProgramFolder = top.Text("defaultGroup", 47);
  b.LicenseText = ReadTextFile(top, "licenseFile", base);
  b.InfoBeforeText = ReadTextFile(top, "infoBeforeFile", base);
  b.InfoAfterText = ReadTextFile(top, "infoAfterFile", base);
  ReadVersion(top, "minWindowsVersion", b.Header.MinWindowsVersionMajor,
              b.Header.MinWindowsVersionMinor);
  ReadVersion(top, "minNTVersion", b.Header.MinNTVersionMajor, b.Header.MinNTVersionMinor);
  b.Header.BackgroundColor = ReadColor(top, "backgroundColor", 0x00800000);
  b.Header.Flags = top.Flags("flags", kHeaderFlagNames);

  if (const json* l = List(top, "dirs"))
    for (size_t i = 0; i < l->size(); ++i) {
      Obj o(name, Place("dirs", i), (*l)[i]);
      b.Dirs.push_back({o.Text("name", 47, true)});
      CheckPath(o, "name", b.Dirs.back().DirName);
      o.Done();
    }
  if (const json* l = List(top, "files"))
    for (size_t i = 0; i < l->size(); ++i) {
      Obj o(name, Place("files", i), (*l)[i]);
      sw::FileSpec f;
      const json* src = o.Get("source");
      if (!src || !src->is_string()) o.Fail("source", "missing (the file to install)");
      std::string path = JoinPath(base, src->get<std::string>());
      if (!FileExists(path)) o.Fail("source", "source file \"" + path + "\" not found");
      f.FileFlags = o.Flags("flags", kFileFlagNames);
      f.DestName = o.Text("dest", 63, (f.FileFlags & 0x40) == 0);
      if ((f.FileFlags & 0x40) == 0) CheckPath(o, "dest", f.DestName);
      f.CopyMode = static_cast<uint8_t>(o.Choice("copyMode", kCopyModeNames, 0));
      o.Done();
      b.Files.push_back(f);
      d.Sources.push_back(path);
    }
  if (const json* u = top.Get("uninstaller")) {
    if (!u->is_string() || u->get<std::string>().empty())
      top.Fail("uninstaller", "must be the path of Uninstal.exe");
    if ((b.Header.Flags & 0x02) == 0)
      top.Fail("uninstaller", "needs the flag \"uninstallable\"");
    const std::string path = JoinPath(base, u->get<std::string>());
    if (!FileExists(path)) top.Fail("uninstaller", "file \"" + path + "\" not found");
    SetUninstaller(d, path);
  }
  if (const json* l = List(top, "icons"))
    for (size_t i = 0; i < l->size(); ++i) {
      Obj o(name, Place("icons", i), (*l)[i]);
      sw::IconSpec ic;
      ic.IconName = o.Text("name", 47, true);
      ic.FileName = o.Text("file", 63, true);
      ic.Parameters = o.Text("parameters", 127);
      ic.WorkingDir = o.Text("workingDir", 47);
      ic.IconFile = o.Text("iconFile", 63);
      ic.IconIndex = static_cast<int32_t>(o.Integer("iconIndex", INT32_MIN, INT32_MAX, 0));
      CheckConstants(o, "file", ic.FileName);
      CheckConstants(o, "workingDir", ic.WorkingDir);
      CheckConstants(o, "iconFile", ic.IconFile);
      o.Done();
      b.Icons.push_back(ic);
    }
  if (const json* l = List(top, "ini"))
    for (size_t i = 0; i < l->size(); ++i) {
      Obj o(name, Place("ini", i), (*l)[i]);
      sw::IniSpec e;
      e.IniFileName = o.Text("file", 63);
      CheckConstants(o, "file", e.IniFileName);
      e.Section = o.Text("section", 47, true);
      e.Key = o.Text("key", 47, true);
      e.Value = o.Text("value", 127);
      e.IniFlags = o.Flags("flags", kIniFlagNames);
      o.Done();
      b.Inis.push_back(e);
    }
  if (const json* l = List(top, "registry"))
    for (size_t i = 0; i < l->size(); ++i) {
      Obj o(name, Place("registry", i), (*l)[i]);
      sw::RegistrySpec e;
      const json* root_key = o.Get("root");
      if (!root_key || !root_key->is_string()) o.Fail("root", "missing (e.g. \"HKLM\")");
      static const char* const kShort[] = {"HKCR", "HKCU", "HKLM", "HKU", "", "HKCC", ""};
      std::string rk = root_key->get<std::string>();
      int index = -1;
      for (size_t k = 0; k < kRootKeyNames.size(); ++k)
        if (rk == kRootKeyNames[k] || (kShort[k][0] && rk == kShort[k])) index = static_cast<int>(k);
      if (index < 0) o.Fail("root", "unknown registry root \"" + rk + "\"");
      e.RootKey = 0x80000000u + static_cast<uint32_t>(index);
      // Character arrays: the full width is usable, no length byte.
      e.SubKey = o.Text("subkey", 128, true);
      e.ValueName = o.Text("valueName", 48);
      e.ValueType = static_cast<uint8_t>(o.Choice("type", kValueTypeNames, 0));
      const json* data = o.Get("data");
      switch (e.ValueType) {
        case 0:
          if (data) o.Fail("data", "a value of type \"none\" has no data");
          break;
        case 1:
          e.StringData = o.Text("data", 256);
          break;
        case 2:
          e.NumberData = static_cast<int32_t>(
              static_cast<uint32_t>(o.Integer("data", INT32_MIN, 0xFFFFFFFFll, 0)));
          break;
        case 3: {
          if (data && !data->is_string()) o.Fail("data", "must be hex bytes, e.g. \"01 ff 3a\"");
          std::string hex = data ? data->get<std::string>() : std::string();
          std::string digits;
          for (char c : hex)
            if (c != ' ' && c != ',' && c != ':') digits += c;
          if (digits.size() % 2) o.Fail("data", "odd number of hex digits");
          for (size_t k = 0; k < digits.size(); k += 2) {
            unsigned v = 0;
            for (size_t m = 0; m < 2; ++m) {
              char c = digits[k + m];
              int dv = c >= '0' && c <= '9' ? c - '0'
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
              if (dv < 0) o.Fail("data", "\"" + hex + "\" is not hex bytes");
              v = v << 4 | static_cast<unsigned>(dv);
            }
            e.BinaryData.push_back(static_cast<uint8_t>(v));
          }
          if (e.BinaryData.size() > 252)
            o.Fail("data", "binary value of " + std::to_string(e.BinaryData.size()) +
                               " bytes; at most 252 bytes fit");
          break;
        }
      }
      e.RegFlags = o.Flags("flags", kRegistryFlagNames);
      // The uninstallation deletes this key with all it holds.
      if ((e.RegFlags & 0x03) == 0x02 && !MayDeleteKeyTree(e.RootKey, e.SubKey))
        o.Fail("subkey", "uninstallDeleteKey would delete \"" + e.SubKey +
                             "\" with all it holds: the key to delete needs at least two parts below "
                             "its root (\"Software\\Vendor\") and must not be a key that every program "
                             "shares");
      o.Done();
      b.Registry.push_back(e);
    }
  if (const json* l = List(top, "uninstallDelete"))
    for (size_t i = 0; i < l->size(); ++i) {
      Obj o(name, Place("uninstallDelete", i), (*l)[i]);
      b.UninstallDeletes.push_back({o.Text("path", 63, true)});
      CheckPath(o, "path", b.UninstallDeletes.back().DeletePath);
      o.Done();
    }
  if (const json* l = List(top, "run"))
    for (size_t i = 0; i < l->size(); ++i) {
      Obj o(name, Place("run", i), (*l)[i]);
      sw::RunSpec e;
      e.FileName = o.Text("file", 63, true);
      CheckConstants(o, "file", e.FileName);
      e.Parameters = o.Text("parameters", 127);
      e.RunFlags = o.Flags("flags", kRunFlagNames);
      o.Done();
      b.Runs.push_back(e);
    }
  top.Done();
  CheckDuplicateDestinations(d);
  return d;
}

void SetUninstaller(Description& d, const std::string& source_path) {
  if ((d.Builder.Header.Flags & 0x02) == 0)
    throw EDescriptionError(d.Path + ": uninstaller: needs the flag \"uninstallable\"");
  if (!FileExists(source_path))
    throw EDescriptionError(d.Path + ": uninstaller: file \"" + source_path + "\" not found");
  if (d.UninstallerIndex >= 0) {
    d.Sources[static_cast<size_t>(d.UninstallerIndex)] = source_path;
    return;
  }
  sw::FileSpec f;
  f.DestName = kUninstallerDest;
  f.CopyMode = 3;     // keepNewer: only over an older version
  f.FileFlags = 0x02;  // uninstallNeverRemove: shared by every product
  d.UninstallerIndex = static_cast<int>(d.Builder.Files.size());
  d.Builder.Files.push_back(f);
  d.Sources.push_back(source_path);
  CheckDuplicateDestinations(d);
}

Description LoadDescription(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EDescriptionError(path + ": cannot read the description file");
  std::ostringstream ss;
  ss << in.rdbuf();
  std::string base;
  size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos) base = path.substr(0, slash + 1);
  return ParseDescription(ss.str(), path, base);
}

}  // namespace qvbuild
