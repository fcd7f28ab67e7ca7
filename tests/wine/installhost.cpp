// The installation test host: loads a setup script as setup.exe's startup
// does, shows the real install window over an owner window, and runs the
// installation with the choices the wizard would have made. Tests start it,
// drive its windows and questions through the UI driver, and check the
// machine afterwards.
//
//   installhost.exe --app DIR [--source DIR | --sl FILE SCRIPTOFS DATAOFS]
//                   [--group NAME] [--noicons] [--result FILE]
//                   [--pause-when TEXT [--pause-nth K]] [--trace FILE]
//                   [--fail-dde] [--fail-uninstall-string]
//
// --source DIR      SETUP.0 lies in DIR, the disk data files beside it
//                   (default: the working directory), as for setup.exe
//                   started from DIR.
// --sl ...          the /SL layout: the script at SCRIPTOFS of FILE, the
//                   file data at DATAOFS (0: disk data files beside FILE).
// --app DIR         the destination folder ({app}).
// --group NAME      the program group; --noicons ticks "Don't create any
//                   Program Icons".
// --result FILE     after a successful installation: lines "installed",
//                   "needsrestart 0|1", "instcheck 0|1".
// --pause-when TEXT at the K-th check point (default the first) whose
//                   "status|file" (the status text and the file shown) is
//                   TEXT, the host writes that line into "paused" in the
//                   working directory and keeps the windows live until
//                   "resume" appears there; then the check point runs (a
//                   cancel confirmed meanwhile aborts the installation).
//                   "Copying Program files...|" is the check point after
//                   the last file; a file's first one follows its first
//                   read of compressed data, its last one follows the file.
// --trace FILE      one line per check point: "status|file|position".
// --fail-dde        the first DDE client made (TDDE) cannot start, as when
//                   DDEML refuses to initialise.
// --fail-uninstall-string  writing the Uninstall key's UninstallString
//                   value fails.
// --timing FILE     after a successful installation, figures of the file
//                   step for the benchmarks: "copy_ms" (from its status text
//                   to the end of its last file), "checkpoints" (CheckCancel
//                   calls in it), "max_gap_ms" and "max_gap_at" (the longest
//                   time without a CheckCancel in it, and the check point
//                   that ended it), "in_checkcancel_ms", "in_progress_ms"
//                   and "in_filename_ms" (time spent inside the install
//                   window's CheckCancel, progress bar and file name label
//                   calls during the step), "peak_working_set_kb", and per
//                   part of the step (a sub-step of the file rules or a
//                   window call, its time without the parts inside it)
//                   "part.NAME CALLS MS", blanks in NAME as "_".
//
// Exit code: 0 after a successful installation; 1 after a failure or a
// cancel (shown and rolled back by the install window); 2 for a wrong
// command line or a script that cannot be loaded (the reason on stderr and
// in a message box).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "forms/forms.h"
#include "install/installform.h"
#include "dde/dde.h"
#include "install/newdisk.h"
#include "install/uninstreg.h"
#include "main/systemfacts.h"
#include "run/globals.h"
#include "setupdata/win32file.h"

namespace {

// Posted by the install window's onDone, as the background window does.
constexpr UINT kWmInstalled = WM_APP + 2;

struct THostOptions {
  std::string Source;
  bool SL = false;
  std::string SLFile;
  int32_t ScriptOffset = 0, DataOffset = 0;
  std::string App, Group, Result, Trace, Timing;
  bool NoIcons = false;
  std::string PauseWhen;
  int PauseNth = 1;
};

THostOptions g_opt;

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr, "installhost: %s\n", why.c_str());
  MessageBoxA(nullptr, why.c_str(), "installhost", MB_OK);
  std::exit(2);
}

void AppendLine(const std::string& file, const std::string& line) {
  if (file.empty()) return;
  FILE* f = std::fopen(file.c_str(), "ab");
  if (!f) return;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

bool Exists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

double NowMs() {
  LARGE_INTEGER now, freq;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&freq);
  return static_cast<double>(now.QuadPart) * 1e3 / static_cast<double>(freq.QuadPart);
}

// The file step's figures for --timing, and the clock of its parts.
struct TCopyTiming : TStepClock {
  bool in_step = false;
  double start = 0, end = 0, last = 0, max_gap = 0;
  long checkpoints = 0;
  std::string max_gap_at;
  struct TPart {
    long calls = 0;
    double ms = 0;
  };
  std::map<std::string, TPart> parts;
  struct TOpen {
    const char* part;
    double start, inner;
  };
  std::vector<TOpen> open;

  void Begin(const char* part) override { open.push_back({part, NowMs(), 0}); }
  void End() override {
    const TOpen o = open.back();
    open.pop_back();
    const double elapsed = NowMs() - o.start;
    if (!open.empty()) open.back().inner += elapsed;
    if (!in_step) return;
    TPart& p = parts[o.part];
    ++p.calls;
    p.ms += elapsed - o.inner;
  }
  double PartMs(const char* part) const {
    auto it = parts.find(part);
    return it == parts.end() ? 0 : it->second.ms;
  }

  void Status(const std::string& text) {
    in_step = text == "Copying Program files...";
    if (in_step) start = last = NowMs();
  }
  void FileName(const std::string& path) {
    if (in_step && path.empty()) {  // the driver clears it after the last file
      end = NowMs();
      in_step = false;
    }
  }
  void CheckPoint(const std::string& where) {
    if (!in_step) return;
    const double now = NowMs();
    if (now - last > max_gap) {
      max_gap = now - last;
      max_gap_at = where;
    }
    last = now;
    ++checkpoints;
  }
  void Write(const std::string& file) const {
    PROCESS_MEMORY_COUNTERS mem{};
    mem.cb = sizeof mem;
    GetProcessMemoryInfo(GetCurrentProcess(), &mem, sizeof mem);
    AppendLine(file, Format("copy_ms %.1f", end - start));
    AppendLine(file, Format("checkpoints %ld", checkpoints));
    AppendLine(file, Format("max_gap_ms %.2f", max_gap));
    AppendLine(file, "max_gap_at " + max_gap_at);
    AppendLine(file, Format("in_checkcancel_ms %.1f", PartMs("check points")));
    AppendLine(file, Format("in_progress_ms %.1f", PartMs("progress bar")));
    AppendLine(file, Format("in_filename_ms %.1f", PartMs("file name label")));
    for (const auto& [name, p] : parts) {
      std::string key = name;
      for (char& c : key)
        if (c == ' ') c = '_';
      AppendLine(file, Format("part.%s %ld %.1f", key.c_str(), p.calls, p.ms));
    }
    AppendLine(file, Format("peak_working_set_kb %lu",
                            static_cast<unsigned long>(mem.PeakWorkingSetSize / 1024)));
  }
};
TCopyTiming g_timing;

// The install window with the host's check-point hooks.
class THostInstallForm : public TInstallForm {
 public:
  using TInstallForm::TInstallForm;
  void SetStatusText(const std::string& text) override {
    status_ = text;
    g_timing.Status(text);
    TInstallForm::SetStatusText(text);
  }
  void SetFileNameText(const std::string& path) override {
    file_ = path;
    g_timing.FileName(path);
    TTimedPart timed(&g_timing, "file name label");
    TInstallForm::SetFileNameText(path);
  }
  void AddProgress(uint32_t amount) override {
    TTimedPart timed(&g_timing, "progress bar");
    TInstallForm::AddProgress(amount);
  }
  void CheckCancel() override {
    const std::string where = status_ + "|" + file_;
    g_timing.CheckPoint(where);
    AppendLine(g_opt.Trace, Format("%s|%u", where.c_str(), static_cast<unsigned>(ProgressPosition())));
    if (!g_opt.PauseWhen.empty() && where == g_opt.PauseWhen && ++matches_ == g_opt.PauseNth) {
      DrawChanges(true);  // the window shows what the run has reached while it waits
      AppendLine("paused", where);
      while (!Exists("resume")) {
        forms::ProcessMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      }
    }
    TTimedPart timed(&g_timing, "check points");
    TInstallForm::CheckCancel();
  }

 private:
  int matches_ = 0;
  std::string status_, file_;
};

// The owner: the background window's part in the installation.
class THostOwner : public forms::TForm {
 public:
  THostOwner() {
    forms::TFormArgs args;
    args.caption = "QvInstallHost";
    args.client_width = 800;
    args.client_height = 600;
    args.main_form = true;
    CreateForm(args);
    SetBounds(0, 0, 820, 640);
  }

 protected:
  bool HandleMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) override {
    if (msg == WM_APP) {
      install_ = std::make_unique<THostInstallForm>(Handle());
      install_->onMarkCommonControlsUpdate = [this] { marker_ = true; };
      install_->onCommonControlsUpdateMarked = [this] { return marker_; };
      install_->onSetInstCheckVisible = [this](bool visible) { instcheck_ = visible; };
      install_->PromptForDisk = PromptForDisk;
      install_->onDone = [this] { PostMessageA(Handle(), kWmInstalled, 0, 0); };
      if (!g_opt.Timing.empty()) install_->StepClock = &g_timing;
      install_->Show();
      install_->RunInstallation();
      result = 0;
      return true;
    }
    if (msg == kWmInstalled) {
      AppendLine(g_opt.Result, "installed");
      AppendLine(g_opt.Result, Format("needsrestart %d", NeedsRestart ? 1 : 0));
      AppendLine(g_opt.Result, Format("instcheck %d", instcheck_ ? 1 : 0));
      if (!g_opt.Timing.empty()) g_timing.Write(g_opt.Timing);
      install_.reset();
      Close();
      result = 0;
      return true;
    }
    return false;
  }

 private:
  std::unique_ptr<THostInstallForm> install_;
  bool marker_ = false;
  bool instcheck_ = false;
};

void ParseOptions() {
  std::vector<std::string> a(__argv + 1, __argv + __argc);
  for (size_t i = 0; i < a.size(); ++i) {
    auto next = [&]() -> std::string {
      if (i + 1 >= a.size()) Usage(a[i] + " needs a value");
      return a[++i];
    };
    if (a[i] == "--source") {
      g_opt.Source = next();
    } else if (a[i] == "--sl") {
      g_opt.SL = true;
      g_opt.SLFile = next();
      g_opt.ScriptOffset = StrToInt(next());
      g_opt.DataOffset = StrToInt(next());
    } else if (a[i] == "--app") {
      g_opt.App = next();
    } else if (a[i] == "--group") {
      g_opt.Group = next();
    } else if (a[i] == "--noicons") {
      g_opt.NoIcons = true;
    } else if (a[i] == "--result") {
      g_opt.Result = next();
    } else if (a[i] == "--timing") {
      g_opt.Timing = next();
    } else if (a[i] == "--trace") {
      g_opt.Trace = next();
    } else if (a[i] == "--pause-when") {
      g_opt.PauseWhen = next();
    } else if (a[i] == "--pause-nth") {
      g_opt.PauseNth = StrToInt(next());
    } else if (a[i] == "--fail-dde") {
      TDDE::FailNextInitialize = true;
    } else if (a[i] == "--fail-uninstall-string") {
      FailNextUninstallStringWrite = true;
    } else {
      Usage("unknown option " + a[i]);
    }
  }
  if (g_opt.App.empty()) Usage("--app is required");
}

std::string FullPath(const std::string& path) {
  char buf[MAX_PATH + 1];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
  return n == 0 || n >= sizeof buf ? path : std::string(buf, n);
}

// The global state as startup leaves it.
void LoadScript() {
  std::srand(static_cast<unsigned>(std::time(nullptr)) ^ GetTickCount());
  std::string script_path;
  if (g_opt.SL) {
    ScriptSwitch = true;
    ScriptFileName = FullPath(g_opt.SLFile);
    ScriptOffset = g_opt.ScriptOffset;
    DataOffset = g_opt.DataOffset;
    script_path = ScriptFileName;
    SourceDir = SourceDirFrom(ExtractFilePath(ScriptFileName));
  } else {
    const std::string dir = FullPath(g_opt.Source.empty() ? "." : g_opt.Source);
    SourceDir = SourceDirFrom(dir);
    script_path = EnsureTrailingBackslash(dir) + "SETUP.0";
  }
  try {
    TWin32File file(script_path);
    LoadSetupScript(file, ScriptOffset, Script);
  } catch (const Exception& e) {
    Usage("cannot load " + script_path + ": " + e.Message());
  }
  NeedsRestart = (Script.Header.Flags() & hfAlwaysRestart) != 0;
  IconsNeeded = Script.IconsNeeded();
  TotalFileSize = Script.TotalFileSize();
  GatherSystemFacts();
  AppDir = g_opt.App;
  GroupName = g_opt.Group;
  NoIcons = g_opt.NoIcons;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ParseOptions();
  LoadScript();
  forms::InitControls();
  THostOwner owner;
  SetMessageBoxOwner(owner.Handle());
  owner.Show();
  PostMessageA(owner.Handle(), WM_APP, 0, 0);
  return forms::Run();
}
