// The main job's user: starts setup.exe of a distribution, accepts every
// page of the wizard as a person would (licence Yes, the proposed folder and
// group, Next, Finish), takes a screenshot of each page, and then prints
// where the installation put its files, links, registry values and log.
// With a program named, that program of the directory is started instead
// of setup.exe (the single-file setup, which starts setup.exe itself), and
// no screenshots are taken.
//
//   mainjob_driver <distribution directory> [program]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "tests/winebench/qvtest.h"

using namespace qvui;
using namespace e2e;

namespace {

void Say(const std::string& s) {
  std::printf("main job: %s\n", s.c_str());
  std::fflush(stdout);
}

bool g_shots = true;

void Shot(const std::string& name, HWND settle_on = nullptr) {
  if (g_shots) Screenshot(name, settle_on);
}

// The registry view read: the 32-bit product writes HKLM\Software into the
// 32-bit view, the x86_64 build into the native one.
REGSAM g_view = 0;

std::string RegText(HKEY root, const std::string& key, const std::string& name, bool* found) {
  HKEY k;
  *found = false;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | g_view, &k) != ERROR_SUCCESS) return "";
  BYTE buf[1024];
  DWORD size = sizeof buf, type = 0;
  LONG r = RegQueryValueExA(k, name.c_str(), nullptr, &type, buf, &size);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS) return "";
  *found = true;
  if (type == REG_SZ || type == REG_EXPAND_SZ) return std::string(reinterpret_cast<char*>(buf));
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(buf));
  std::string hex;
  char b[4];
  for (DWORD i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, "%02x ", buf[i]);
    hex += b;
  }
  return hex;
}

void ListKeyValues(HKEY root, const char* root_name, const std::string& key) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | g_view, &k) != ERROR_SUCCESS) return;
  Say(std::string("  ") + root_name + "\\" + key +
      (g_view == KEY_WOW64_32KEY ? " (32-bit view)" : ""));
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumValueA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    bool found = false;
    Say(std::string("    ") + (name[0] ? name : "(default)") + " = " +
        RegText(root, key, name, &found));
  }
  RegCloseKey(k);
}

void ListUninstallKeys() {
  const std::string base = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, base.c_str(), 0, KEY_READ | g_view, &k) != ERROR_SUCCESS)
    return;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumKeyExA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::string sub = name;
    if (sub.find("_qv") != std::string::npos) ListKeyValues(HKEY_LOCAL_MACHINE, "HKLM", base + "\\" + sub);
  }
  RegCloseKey(k);
}

// Next until the page with the caption shows, for pages that need no choice.
HWND Page(SetupRun& s, HWND w, const std::string& caption) {
  s.ExpectPage(w, caption);
  Say("page \"" + caption + "\"");
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: mainjob_driver <distribution directory> [program]\n");
    return 2;
  }
  g_shots = argc == 2;
  try {
    // A README.TXT opens with the shell's association; a fresh Wine prefix
    // has the txtfile class but no .txt extension mapped to it.
    bool have_txt = false;
    RegText(HKEY_CLASSES_ROOT, ".txt", "", &have_txt);
    if (!have_txt) {
      HKEY k;
      if (RegCreateKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, nullptr, 0, KEY_WRITE, nullptr, &k,
                          nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("txtfile"), 8);
        RegCloseKey(k);
        Say(".txt files made to open with the txtfile class (Notepad), as on a desktop");
      }
    }
    SetupRun s = argc == 2 ? SetupRun(argv[1])
                           : SetupRun(SetupRun::StartedBy{"\"" + std::string(argv[1]) + "\\" + argv[2] + "\""});
    std::string app;
    HWND w = s.WaitPage("Welcome");
    Say("page \"Welcome\"");
    Shot("mainjob-1-welcome", w);
    ClickButton(w, "Next >");
    for (int guard = 0; guard < 10; ++guard) {
      const std::string caption = GetText(w);
      if (caption == "Software License Agreement") {
        Shot("mainjob-2-license", w);
        Say("page \"" + caption + "\": Yes");
        ClickButton(w, "Yes");
      } else if (caption == "Information") {
        Shot("mainjob-3-information", w);
        Say("page \"" + caption + "\": Next");
        ClickButton(w, "Next >");
      } else if (caption == "Choose Destination Location") {
        Shot("mainjob-4-destination", w);
        app = GetText(EditAt(w, 0));
        Say("page \"" + caption + "\": " + app);
        ClickButton(w, "Next >");
        // The proposed folder does not exist yet: Setup asks.
        if (WaitUntil([&] { return FindTopLevel([&] {
                                  WindowQuery q;
                                  q.caption = "Folder Does Not Exist";
                                  q.pid = s.Pid();
                                  return q;
                                }()) != nullptr || GetText(w) != caption; },
                      kTimeout) &&
            GetText(w) == caption) {
          s.Answer("Folder Does Not Exist", "Yes");
        }
      } else if (caption == "Select Program Folder") {
        Shot("mainjob-5-program-folder", w);
        Say("page \"" + caption + "\": " + GetText(EditAt(w, 0)));
        ClickButton(w, "Next >");
      } else if (caption == "Start Copying Files") {
        Shot("mainjob-6-ready", w);
        Say("page \"" + caption + "\": Next, the installation runs");
        ClickButton(w, "Next >");
        break;
      }
      const std::string before = caption;
      WaitUntil([&] { return GetText(w) != before || !IsWindowVisible(w); }, kTimeout);
    }
    WindowQuery q;
    q.caption = "Setup";
    q.pid = s.Pid();
    q.exclude = s.Background();
    HWND install = FindTopLevel(q);
    if (install) Shot("mainjob-7-installing");
    // After the installation: the information page, then the finished page.
    WaitUntil([&] {
      const std::string c = GetText(w);
      return IsWindowVisible(w) && (c == "Information" || c == "Setup Complete");
    }, 120000);
    if (GetText(w) == "Information") {
      Page(s, w, "Information");
      Shot("mainjob-8-information-after", w);
      ClickButton(w, "Next >");
    }
    Page(s, w, "Setup Complete");
    Shot("mainjob-9-finished", w);
    // A restart is never chosen here: the job must not end the session.
    HWND no = ControlByText(w, "No, I will restart my computer later");
    if (IsWindowVisible(no)) {
      Click(no);
      Say("restart: the installation asks for one; \"later\" chosen");
    }
    ClickButton(w, "Finish");
    // A message box on the way out (a README the shell cannot open) is
    // shown in the output and answered.
    for (;;) {
      HWND box = nullptr;
      WaitUntil([&] {
        WindowQuery b;
        b.class_name = "#32770";
        b.pid = s.Pid();
        box = FindTopLevel(b);
        return box != nullptr || !s.Process().Running();
      }, 60000);
      if (!box) break;
      const MessageBoxInfo info = ReadMessageBox(box);
      Say("message box \"" + info.caption + "\": " + info.text);
      AnswerMessageBox(box, info.buttons.empty() ? "OK" : info.buttons.back());
      WaitForWindowGone(box, kTimeout);
    }
    const DWORD code = s.ExitCode(60000);
    Say("setup.exe ended with exit code " + std::to_string(code));

    // Where everything went.
    bool found = false;
    Say("files in " + app + ":");
    for (const std::string& f : ListTree(app)) Say("  " + app + "\\" + f);
    const std::string sys = qvtest::EnvOr("WINDIR", "") + "\\system32\\SAMPLE.DLL";
    if (Exists(sys)) Say("shared file: " + sys);
    for (const auto& where : {std::make_pair(HKEY_CURRENT_USER, "Programs"),
                              std::make_pair(HKEY_LOCAL_MACHINE, "Common Programs")}) {
      const std::string programs =
          RegText(where.first, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                  where.second, &found);
      if (programs.empty()) continue;
      for (const std::string& f : ListTree(programs))
        if (f.size() > 4 && f.substr(f.size() - 4) == ".lnk") Say("link: " + programs + "\\" + f);
    }
    Say("registry values of the sample:");
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
      g_view = view;
      ListKeyValues(HKEY_LOCAL_MACHINE, "HKLM", "Software\\Sample Vendor\\Sample App");
    }
    g_view = 0;
    ListKeyValues(HKEY_CURRENT_USER, "HKCU", "Software\\Sample Vendor\\Sample App");
    Say("uninstall registration:");
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
      g_view = view;
      ListUninstallKeys();
    }
    g_view = 0;
    const std::string ini = qvtest::EnvOr("WINDIR", "").empty() ? "C:\\windows" : qvtest::EnvOr("WINDIR", "");
    Say("INI file " + ini + "\\SAMPLE.INI:");
    const std::string ini_text = ReadText(ini + "\\SAMPLE.INI");
    size_t start = 0;
    while (start < ini_text.size()) {
      size_t end = ini_text.find('\n', start);
      if (end == std::string::npos) end = ini_text.size();
      std::string line = ini_text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Say("  " + line);
      start = end + 1;
    }
    for (const std::string& f : ListTree(app))
      if (f.compare(0, 7, "UNINST1") == 0) Say("uninstall log: " + app + "\\" + f);
    return code == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "main job: %s\n", e.what());
    return 1;
  }
}
