#include "tests/wine/installhost_client.h"

#include <cstring>
#include <stdexcept>

namespace qvhost {

std::string TestTmp() {
  std::string s = qvui::GetEnv("QV_TEST_TMP_WIN");
  if (s.empty()) s = ".\\";
  if (s.back() != '\\') s += '\\';
  return s;
}

void MakeDirs(const std::string& dir) {
  for (size_t i = 3; i <= dir.size(); ++i)
    if (i == dir.size() || dir[i] == '\\') CreateDirectoryA(dir.substr(0, i).c_str(), nullptr);
}

sw::BuildResult WriteDistribution(const sw::ScriptBuilder& b, const sw::BuildOptions& o,
                                  const std::string& dir, const std::vector<std::string>& disk_dirs,
                                  const std::string& file_name) {
  sw::BuildResult r = b.Build(o);
  MakeDirs(dir);
  if (o.SingleFile) {
    sw::WriteFileBytes(dir + "\\" + file_name, r.Script);
    return r;
  }
  sw::WriteFileBytes(dir + "\\SETUP.0", r.Script);
  for (size_t n = 1; n <= r.Disks.size(); ++n) {
    std::string d = n < disk_dirs.size() && !disk_dirs[n].empty() ? disk_dirs[n] : dir;
    MakeDirs(d);
    sw::WriteFileBytes(d + "\\SETUP." + std::to_string(n), r.Disks[n - 1]);
  }
  return r;
}

void FileTimeOf(int year, int month, int day, uint32_t& low, uint32_t& high) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = 10;
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  low = ft.dwLowDateTime;
  high = ft.dwHighDateTime;
}

sw::Bytes Contents(size_t n, uint32_t seed) {
  sw::Bytes b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i)
    b[i] = (i / 900) % 2 ? static_cast<uint8_t>(seed + i / 900)
                         : static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  return b;
}

Host::Host(const std::string& args, const std::string& cwd)
    : cwd_((MakeDirs(cwd), cwd)), proc_(qvui::BinPath("installhost.exe") + " " + args, cwd) {}

qvui::MessageBoxInfo Host::Answer(const std::string& caption, const std::string& text,
                                  const std::string& button) {
  HWND box = qvui::WaitForMessageBox(caption, kBoxWait, proc_.Pid());
  qvui::MessageBoxInfo info = qvui::ReadMessageBox(box);
  if (!text.empty() && info.text != text)
    throw std::runtime_error("box \"" + caption + "\" says \"" + info.text + "\", expected \"" +
                             text + "\"");
  qvui::AnswerMessageBox(box, button);
  qvui::WaitForWindowGone(box, kBoxWait);
  return info;
}

std::string Host::WaitPaused() {
  const std::string paused = cwd_ + "\\paused";
  if (!qvui::WaitUntil([&] { return GetFileAttributesA(paused.c_str()) != INVALID_FILE_ATTRIBUTES; },
                       kBoxWait))
    throw std::runtime_error("the host did not pause");
  // The line is written at once with the file; read until it is complete.
  std::string line;
  qvui::WaitUntil([&] {
    line = ReadFacts(paused).bytes;
    return !line.empty() && line.back() == '\n';
  }, kBoxWait);
  if (!line.empty()) line.pop_back();
  return line;
}

void Host::CancelWhilePaused() {
  qvui::WindowQuery q;
  q.caption = "Setup";
  q.pid = proc_.Pid();
  HWND form = qvui::WaitForWindow(q, kBoxWait);
  qvui::ClickButton(form, "Cancel");
  Answer("Exit Setup", "", "Yes");
  Resume();
}

void Host::Resume() {
  HANDLE h = CreateFileA((cwd_ + "\\resume").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

DWORD Host::ExitCode() {
  if (!proc_.WaitForExit(kExitWait)) {
    // Name what it is waiting for: the texts of its message boxes.
    std::string boxes;
    for (const qvui::WindowInfo& w : qvui::TopLevelWindows(proc_.Pid(), true))
      if (w.class_name == "#32770") boxes += "\n  " + qvui::ReadMessageBox(w.hwnd).Describe();
    throw std::runtime_error("the host did not end; its boxes:" + boxes);
  }
  return proc_.ExitCode();
}

FileFacts ReadFacts(const std::string& path) {
  FileFacts f;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return f;
  f.exists = true;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) f.bytes.append(buf, got);
  FILETIME access;
  GetFileTime(h, &f.created, &access, &f.written);
  CloseHandle(h);
  f.attributes = GetFileAttributesA(path.c_str());
  return f;
}

bool SameTime(const FILETIME& t, uint32_t low, uint32_t high) {
  return t.dwLowDateTime == low && t.dwHighDateTime == high;
}

RegValue ReadRegValue(HKEY root, const std::string& key, const std::string& name) {
  RegValue v;
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExA(k, name.c_str(), nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    v.data.resize(size);
    if (RegQueryValueExA(k, name.c_str(), nullptr, &v.type,
                         reinterpret_cast<BYTE*>(v.data.empty() ? nullptr : &v.data[0]), &size) ==
        ERROR_SUCCESS) {
      v.exists = true;
      v.data.resize(size);
    }
  }
  RegCloseKey(k);
  return v;
}

bool RegKeyExists(HKEY root, const std::string& key) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

UninstallLog ReadUninstallLog(const std::string& path) {
  UninstallLog log;
  const std::string b = ReadFacts(path).bytes;
  auto u8 = [&](size_t o) { return static_cast<uint8_t>(b[o]); };
  auto le32 = [&](size_t o) {
    return u8(o) | (uint32_t(u8(o + 1)) << 8) | (uint32_t(u8(o + 2)) << 16) | (uint32_t(u8(o + 3)) << 24);
  };
  if (b.size() < 78 || std::memcmp(b.data(), "uqz100a\x1A", 8) != 0) return log;
  const size_t count = u8(8) | (u8(9) << 8);
  log.app_name = b.substr(11, u8(10));
  log.admin = u8(74);
  size_t at = 78;
  bool links_ok = true;
  for (size_t i = 0; i < count; ++i) {
    if (at + 15 > b.size()) return log;
    LogRecord r;
    const bool first = i == 0, last = i + 1 == count;
    links_ok = links_ok && ((le32(at) == 0) == first) && ((le32(at + 4) == 0) == last);
    r.param = le32(at + 8);
    r.kind = u8(at + 12);
    const size_t n = u8(at + 13) | (u8(at + 14) << 8);
    if (at + 15 + n > b.size()) return log;
    std::string data = b.substr(at + 15, n);
    size_t s = 0;
    while (s < data.size()) {
      size_t z = data.find('\0', s);
      if (z == std::string::npos) return log;
      r.strings.push_back(data.substr(s, z - s));
      s = z + 1;
    }
    log.records.push_back(r);
    at += 15 + n;
  }
  log.valid = links_ok && at == b.size();
  return log;
}

std::string Describe(const LogRecord& r) {
  std::string s = "kind " + std::to_string(r.kind) + " param 0x";
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", r.param);
  s += hex;
  for (const auto& x : r.strings) s += " \"" + x + "\"";
  return s;
}

std::vector<std::string> FilesMatching(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\" + pattern).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

}  // namespace qvhost
