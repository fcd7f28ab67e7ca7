// What the setup scenarios share: distributions built with the script
// writer, setup.exe started with the probe log, the wizard's pages waited
// for by caption, the screen read by pixel and saved as PNG screenshots.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/scriptwriter/scriptwriter.h"
#include "uidriver.h"

namespace e2e {

constexpr DWORD kTimeout = 30000;

// The "Exit Setup" question, as the user reads it.
inline constexpr const char* kExitText =
    "Setup is not complete. If you quit now, the program will not be installed.\r\n\r\nYou may "
    "run the Setup program again at a another time to complete the installation.\r\n\r\nExit "
    "Setup?";

// The scratch directory of the test (Windows path, no trailing backslash).
std::string TestDir();
std::string Quote(const std::string& s);

// A directory <scratch>\name with setup.exe, SETUP.0 and the disk data
// files of the script. Returns its path.
std::string MakeDistribution(const std::string& name, const sw::ScriptBuilder& script,
                             const sw::BuildOptions& options = sw::BuildOptions());
// The bytes of a program of the build (bin directory), e.g. runprobe.exe.
sw::Bytes BuildProgram(const std::string& exe);

bool Exists(const std::string& path);
std::string ReadText(const std::string& path);  // "" when missing
// A window disabled under a message box is enabled again by its owner's
// side once the box has returned: waits for that (throws after kTimeout).
void WaitEnabled(HWND wnd);
// Every file and folder below dir, relative, sorted ("sub\file").
std::vector<std::string> ListTree(const std::string& dir);

// The Start Menu Programs folders (the user's and all users'), as the
// registry's Shell Folders name them.
std::vector<std::string> ProgramsFolders();

// The probe log the run-entry programs append to (QV_PROBE_LOG).
std::string ProbeLog();
std::vector<std::string> ProbeLines();

// setup.exe of a distribution, started with the probe log in its
// environment.
class SetupRun {
 public:
  explicit SetupRun(const std::string& dist_dir, const std::string& args = "");
  // A setup.exe that another program starts (the single-file setup's
  // loader, run with this command line): the windows are setup.exe's, found
  // by the background window's caption; the exit code is the starter's.
  struct StartedBy {
    std::string cmdline;
  };
  explicit SetupRun(const StartedBy& starter);
  qvui::UiProcess& Process() { return process_; }
  DWORD Pid() const;
  // The background window ("Setup", maximized) and the wizard (by its page
  // caption).
  HWND Background();
  HWND WaitPage(const std::string& caption, DWORD timeout = kTimeout);
  // The wizard's current page caption, once it is the given one.
  void ExpectPage(HWND wizard, const std::string& caption);
  // A control of the wizard by its text (accelerators ignored) or class.
  HWND Control(HWND wizard, const std::string& text, const std::string& cls = "");
  // The message box with this caption: read, then answered.
  qvui::MessageBoxInfo Answer(const std::string& caption, const std::string& button);
  DWORD ExitCode(DWORD timeout = kTimeout) { return process_.WaitForExitCode(timeout); }

 private:
  qvui::UiProcess process_;
  bool started_by_ = false;
  mutable DWORD ui_pid_ = 0;
  HWND background_ = nullptr;
};

// Waits until the wizard shows the page with this caption (the wizard
// window keeps its handle across pages).
bool WaitCaption(HWND wizard, const std::string& caption, DWORD timeout = kTimeout);
// The edit control that is a descendant of the wizard with the given
// client position (pages hold several edits).
HWND EditAt(HWND wizard, int visible_index);
// Welcome, destination (at_destination may change it first; the folder is
// created when asked), program folder, ready: Next on each, so that the
// installation starts. Returns the wizard.
HWND WalkToInstallation(SetupRun& s, const std::function<void(HWND wizard)>& at_destination = nullptr);

// Maps a drive letter to a Unix directory the way winecfg does (Wine's mount
// manager, IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE), so that the drive exists for
// every program of the prefix; an empty path removes the letter. Throws
// when the mount manager refuses.
void DefineUnixDrive(char letter, const std::string& unix_path);

// ---- the screen -------------------------------------------------------------

struct Pixels {
  int width = 0, height = 0;
  std::vector<DWORD> px;  // 0x00RRGGBB, top row first
  DWORD At(int x, int y) const { return px[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};
Pixels CaptureScreen(const RECT& r);
Pixels CaptureWholeScreen();
// Waits (with a deadline) until the screen at (x, y) has the colour rgb
// (0x00RRGGBB); false on timeout.
bool WaitPixel(int x, int y, DWORD rgb, DWORD timeout = kTimeout);
// The whole screen as <build>\screenshots\<name>.png, once the window is
// drawn (its client corner in the dialog colour, at most 10 s) and its area
// has stopped changing (two equal reads 100 ms apart, at most 3 s).
void Screenshot(const std::string& name, HWND settle_on = nullptr);
void SavePng(const std::string& path, const Pixels& p);

}  // namespace e2e
