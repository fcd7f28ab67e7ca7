#include "e2e_support.h"

#include <winioctl.h>
#include <zlib.h>

#include <cstring>

#include <algorithm>
#include <stdexcept>

#include "tests/winebench/qvtest.h"

using namespace qvui;

namespace e2e {

std::string TestDir() {
  std::string d = qvtest::TmpDir();
  while (!d.empty() && d.back() == '\\') d.pop_back();
  return d;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

namespace {
std::string BinDir() {
  std::string d = qvtest::BinDir();
  while (!d.empty() && d.back() == '\\') d.pop_back();
  return d;
}

void ListInto(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    out.push_back(rel + name);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListInto(dir + "\\" + name, rel + name + "\\", out);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
}
}  // namespace

std::string MakeDistribution(const std::string& name, const sw::ScriptBuilder& script,
                             const sw::BuildOptions& options) {
  const std::string dir = TestDir() + "\\" + name;
  CreateDirectoryA(dir.c_str(), nullptr);
  if (!CopyFileA((BinDir() + "\\setup.exe").c_str(), (dir + "\\setup.exe").c_str(), FALSE))
    throw std::runtime_error("cannot copy setup.exe into " + dir);
  sw::BuildResult r = script.Build(options);
  sw::WriteFileBytes(dir + "\\SETUP.0", r.Script);
  for (size_t i = 0; i < r.Disks.size(); ++i)
    sw::WriteFileBytes(dir + "\\SETUP." + std::to_string(i + 1), r.Disks[i]);
  return dir;
}

sw::Bytes BuildProgram(const std::string& exe) {
  sw::Bytes b = testdata::ReadAll(BinDir() + "\\" + exe);
  if (b.empty()) throw std::runtime_error("cannot read " + exe);
  return b;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadText(const std::string& path) {
  sw::Bytes b = testdata::ReadAll(path);
  return std::string(b.begin(), b.end());
}

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> out;
  ListInto(dir, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> ProgramsFolders() {
  std::vector<std::string> out;
  const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  for (const auto& where : {std::make_pair(HKEY_CURRENT_USER, "Programs"),
                            std::make_pair(HKEY_LOCAL_MACHINE, "Common Programs")}) {
    HKEY k;
    if (RegOpenKeyExA(where.first, key, 0, KEY_READ, &k) != ERROR_SUCCESS) continue;
    char buf[MAX_PATH] = "";
    DWORD size = sizeof buf;
    if (RegQueryValueExA(k, where.second, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) ==
            ERROR_SUCCESS &&
        buf[0])
      out.push_back(buf);
    RegCloseKey(k);
  }
  return out;
}

std::string ProbeLog() { return TestDir() + "\\probe.log"; }

std::vector<std::string> ProbeLines() {
  std::vector<std::string> lines;
  const std::string text = ReadText(ProbeLog());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

namespace {
std::string StartWithProbeLog(const std::string& dist, const std::string& args) {
  SetEnvironmentVariableA("QV_PROBE_LOG", ProbeLog().c_str());
  return Quote(dist + "\\setup.exe") + args;
}
}  // namespace

SetupRun::SetupRun(const std::string& dist_dir, const std::string& args)
    : process_(StartWithProbeLog(dist_dir, args)) {}

SetupRun::SetupRun(const StartedBy& starter) : process_(starter.cmdline), started_by_(true) {}

DWORD SetupRun::Pid() const {
  if (!started_by_) return process_.Pid();
  if (ui_pid_ == 0) {
    WindowQuery q;
    q.caption = "Setup";
    HWND w = WaitForWindow(q, kTimeout);
    GetWindowThreadProcessId(w, &ui_pid_);
  }
  return ui_pid_;
}

HWND SetupRun::Background() {
  if (!background_) {
    WindowQuery q;
    q.caption = "Setup";
    q.pid = Pid();
    background_ = WaitForWindow(q, kTimeout);
  }
  return background_;
}

HWND SetupRun::WaitPage(const std::string& caption, DWORD timeout) {
  WindowQuery q;
  q.caption = caption;
  q.pid = Pid();
  return WaitForWindow(q, timeout);
}

void SetupRun::ExpectPage(HWND wizard, const std::string& caption) {
  if (!WaitCaption(wizard, caption))
    throw std::runtime_error("the wizard shows \"" + GetText(wizard) + "\", not \"" + caption +
                             "\"");
}

HWND SetupRun::Control(HWND wizard, const std::string& text, const std::string& cls) {
  return ControlByText(wizard, text, cls);
}

MessageBoxInfo SetupRun::Answer(const std::string& caption, const std::string& button) {
  HWND box = WaitForMessageBox(caption, kTimeout, Pid());
  MessageBoxInfo info = ReadMessageBox(box);
  AnswerMessageBox(box, button);
  if (!WaitForWindowGone(box, kTimeout)) throw std::runtime_error("the box stays: " + caption);
  return info;
}

bool WaitCaption(HWND wizard, const std::string& caption, DWORD timeout) {
  return WaitUntil([&] { return IsWindowVisible(wizard) && GetText(wizard) == caption; }, timeout);
}

HWND WalkToInstallation(SetupRun& s, const std::function<void(HWND wizard)>& at_destination) {
  HWND w = s.WaitPage("Welcome");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  if (at_destination) at_destination(w);
  ClickButton(w, "Next >");
  s.Answer("Folder Does Not Exist", "Yes");
  s.ExpectPage(w, "Select Program Folder");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  ClickButton(w, "Next >");
  return w;
}

HWND EditAt(HWND wizard, int visible_index) {
  int n = 0;
  for (const ControlInfo& c : Controls(wizard)) {
    if (lstrcmpiA(c.class_name.c_str(), "Edit") != 0 || !c.visible) continue;
    if (n++ == visible_index) return c.hwnd;
  }
  throw std::runtime_error("no visible edit #" + std::to_string(visible_index) + "\n" +
                           ListControls(wizard));
}

namespace {
// Wine's mount manager request (include/ddk/mountmgr.h of Wine).
struct TMountmgrUnixDrive {
  ULONG size;
  ULONG type;
  ULONG fs_type;
  DWORD serial;
  ULONGLONG unix_dev;
  WCHAR letter;
  USHORT mount_point_offset;
  USHORT device_offset;
  USHORT label_offset;
};
const DWORD kDefineUnixDrive =
    CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
}  // namespace

void DefineUnixDrive(char letter, const std::string& unix_path) {
  HANDLE mgr = CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (mgr == INVALID_HANDLE_VALUE) throw std::runtime_error("no mount manager");
  std::vector<char> buf(sizeof(TMountmgrUnixDrive) + unix_path.size() + 1);
  auto* d = reinterpret_cast<TMountmgrUnixDrive*>(buf.data());
  d->type = DRIVE_FIXED;
  d->letter = static_cast<WCHAR>(letter | 0x20);
  if (!unix_path.empty()) {
    d->mount_point_offset = sizeof(TMountmgrUnixDrive);
    std::memcpy(buf.data() + sizeof(TMountmgrUnixDrive), unix_path.c_str(), unix_path.size() + 1);
  } else {
    buf.resize(sizeof(TMountmgrUnixDrive));
  }
  d->size = static_cast<ULONG>(buf.size());
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(mgr, kDefineUnixDrive, buf.data(), static_cast<DWORD>(buf.size()),
                                  nullptr, 0, &got, nullptr);
  CloseHandle(mgr);
  if (!ok) throw std::runtime_error("the mount manager refused drive " + std::string(1, letter));
}

// ---- the screen -------------------------------------------------------------

Pixels CaptureScreen(const RECT& r) {
  Pixels p;
  p.width = r.right - r.left;
  p.height = r.bottom - r.top;
  p.px = ScreenPixels(r);
  return p;
}

Pixels CaptureWholeScreen() {
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return CaptureScreen(r);
}

bool WaitPixel(int x, int y, DWORD rgb, DWORD timeout) {
  return WaitUntil([&] {
    RECT r{x, y, x + 1, y + 1};
    Pixels p = CaptureScreen(r);
    return !p.px.empty() && p.At(0, 0) == rgb;
  }, timeout);
}

void Screenshot(const std::string& name, HWND settle_on) {
  if (settle_on) {
    // Drawn at all: the client area's corner shows the dialog colour.
    POINT corner{1, 1};
    ClientToScreen(settle_on, &corner);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    WaitPixel(corner.x, corner.y,
              (static_cast<DWORD>(GetRValue(face)) << 16) | (GetGValue(face) << 8) | GetBValue(face),
              10000);
    RECT r{};
    GetWindowRect(settle_on, &r);
    std::vector<DWORD> last;
    WaitUntil([&] {
      std::vector<DWORD> now = CaptureScreen(r).px;
      const bool same = !last.empty() && now == last;
      last = std::move(now);
      if (!same) Sleep(100);
      return same;
    }, 3000);
  }
  const std::string dir = BinDir() + "\\..\\screenshots";
  CreateDirectoryA(dir.c_str(), nullptr);
  SavePng(dir + "\\" + name + ".png", CaptureWholeScreen());
}

namespace {
void PutChunk(sw::Bytes& out, const char* type, const sw::Bytes& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(n >> s));
  sw::Bytes body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  const uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(crc >> s));
}
}  // namespace

void SavePng(const std::string& path, const Pixels& p) {
  sw::Bytes raw;
  raw.reserve(static_cast<size_t>(p.height) * (p.width * 3 + 1));
  for (int y = 0; y < p.height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < p.width; ++x) {
      const DWORD c = p.At(x, y);
      raw.push_back(static_cast<uint8_t>(c >> 16));
      raw.push_back(static_cast<uint8_t>(c >> 8));
      raw.push_back(static_cast<uint8_t>(c));
    }
  }
  uLongf zsize = compressBound(static_cast<uLong>(raw.size()));
  sw::Bytes z(zsize);
  compress2(z.data(), &zsize, raw.data(), static_cast<uLong>(raw.size()), 6);
  z.resize(zsize);
  sw::Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  sw::Bytes ihdr;
  for (uint32_t v : {static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height)})
    for (int s = 24; s >= 0; s -= 8) ihdr.push_back(static_cast<uint8_t>(v >> s));
  for (uint8_t b : {8, 2, 0, 0, 0}) ihdr.push_back(b);  // 8-bit RGB
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", {});
  sw::WriteFileBytes(path, png);
}

void WaitEnabled(HWND wnd) {
  if (!qvui::WaitUntil([&] { return IsWindowEnabled(wnd) != FALSE; }, kTimeout))
    throw std::runtime_error("window stays disabled: " + qvui::GetText(wnd));
}

}  // namespace e2e
