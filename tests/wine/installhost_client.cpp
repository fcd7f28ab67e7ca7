#include "tests/wine/installhost_client.h"

#include <commctrl.h>

#include <cstring>
#include <stdexcept>

#include "common/exceptions.h"
#include "tests/winebench/qvtest.h"
#include "undo/undolog.h"

namespace qvhost {

std::string TestTmp() {
  std::string s = qvtest::TmpDir();
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

Host::Host(const std::string& args, const std::string& cwd)
    : cwd_((MakeDirs(cwd), cwd)), proc_(qvui::BinPath("installhost.exe") + " " + args, cwd) {}

qvui::MessageBoxInfo Host::Answer(const std::string& caption, const std::string& text,
                                  const std::string& button, const char* shown_file) {
  HWND box = qvui::WaitForMessageBox(caption, kBoxWait, proc_.Pid());
  qvui::MessageBoxInfo info = qvui::ReadMessageBox(box);
  if (!text.empty() && info.text != text)
    throw std::runtime_error("box \"" + caption + "\" says \"" + info.text + "\", expected \"" +
                             text + "\"");
  if (shown_file && ShownFileName() != shown_file)
    throw std::runtime_error("under the box \"" + caption + "\" the install window shows \"" +
                             ShownFileName() + "\", expected \"" + shown_file + "\"");
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

namespace {
// The install window's control of this class at this top in its client area.
HWND InstallControl(const qvui::UiProcess& proc, const char* class_name, int top) {
  qvui::WindowQuery q;
  q.caption = "Setup";
  q.pid = proc.Pid();
  HWND form = qvui::WaitForWindow(q, kBoxWait);
  for (const qvui::ControlInfo& c : qvui::Controls(form))
    if (lstrcmpiA(c.class_name.c_str(), class_name) == 0 && c.client.top == top) return c.hwnd;
  throw std::runtime_error(std::string("the install window has no ") + class_name);
}
}  // namespace

std::string Host::ShownFileName() {
  HWND label = InstallControl(proc_, "Static", 96);
  char text[512] = {};
  SendMessageTimeoutA(label, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      kBoxWait, nullptr);
  return text;
}

std::pair<LRESULT, LRESULT> Host::BarPositionAndRange() {
  HWND bar = InstallControl(proc_, "msctls_progress32", 112);
  return {SendMessageA(bar, PBM_GETPOS, 0, 0), SendMessageA(bar, PBM_GETRANGE, FALSE, 0)};
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
  // Read back by the project's own reader, which checks the whole file.
  UninstallLog log;
  TUndoChanges changes;
  try {
    changes.ReadLogFile(path);
  } catch (const Exception&) {
    return log;
  }
  log.valid = true;
  log.app_name = changes.AppName;
  log.admin = changes.AdminFlag;
  for (const UndoRecord* rec = changes.First(); rec; rec = rec->Next) {
    LogRecord r;
    r.kind = rec->Kind;
    r.param = rec->Param;
    const std::string data(rec->Data(), rec->DataLength);
    for (size_t s = 0; s < data.size();) {
      const size_t z = data.find('\0', s);
      r.strings.push_back(data.substr(s, z - s));
      s = z == std::string::npos ? data.size() : z + 1;
    }
    log.records.push_back(r);
  }
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
