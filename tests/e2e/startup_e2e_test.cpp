// setup.exe's startup seen from outside: each refusal in its message box,
// the /SL command line, and a good script that reaches the wizard. The
// reported Windows version is set per ctest entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tools/scriptwriter/scriptwriter.h"
#include "tests/winebench/qvtest.h"
#include "uidriver.h"

using namespace qvui;

namespace {

constexpr DWORD kTimeout = 20000;

// A distribution directory of its own with a copy of setup.exe.
std::string MakeDist(const std::string& name) {
  std::string dir = qvtest::TmpDir() + name;
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string exe = qvtest::BinDir() + "setup.exe";
  if (!CopyFileA(exe.c_str(), (dir + "\\setup.exe").c_str(), FALSE))
    throw std::runtime_error("cannot copy " + exe);
  return dir;
}

sw::ScriptBuilder Script(uint8_t win_major = 4, uint8_t win_minor = 0, uint8_t nt_major = 3,
                         uint8_t nt_minor = 51) {
  sw::ScriptBuilder b = testdata::Product("Startup Test", "1.0");
  b.Header.MinWindowsVersionMajor = win_major;
  b.Header.MinWindowsVersionMinor = win_minor;
  b.Header.MinNTVersionMajor = nt_major;
  b.Header.MinNTVersionMinor = nt_minor;
  b.LicenseText = "Licence";
  b.Dirs = {{"{app}"}};
  sw::FileSpec f = testdata::FileEntry("{app}\\README.TXT", sw::Bytes(1000, 'r'));
  b.Files = {f};
  return b;
}

std::string DistWith(const std::string& name, const sw::ScriptBuilder& b,
                     const sw::BuildOptions& o = sw::BuildOptions()) {
  std::string dir = MakeDist(name);
  sw::BuildResult r = b.Build(o);
  sw::WriteFileBytes(dir + "\\SETUP.0", r.Script);
  return dir;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Runs setup.exe and expects one box with the given caption and text, the
// stop icon and an OK button; OK ends the process with the given exit code.
void ExpectBox(const std::string& cmdline, const std::string& caption, const std::string& text,
               DWORD exit_code, bool text_is_prefix = false) {
  UiProcess p(cmdline);
  HWND box = WaitForMessageBox(caption, kTimeout, p.Pid());
  MessageBoxInfo info = ReadMessageBox(box);
  if (text_is_prefix)
    EXPECT_EQ(info.text.substr(0, text.size()), text) << info.Describe();
  else
    EXPECT_EQ(info.text, text) << info.Describe();
  EXPECT_EQ(info.icon, MessageBoxIcon::kHand) << info.Describe();
  EXPECT_EQ(info.buttons, std::vector<std::string>{"OK"}) << info.Describe();
  // No other window: the box has no owner and nothing else exists yet.
  for (const WindowInfo& w : TopLevelWindows(p.Pid(), true))
    EXPECT_EQ(w.hwnd, box) << "unexpected window " << w.caption << " (" << w.class_name << ")";
  AnswerMessageBox(box, "OK");
  EXPECT_EQ(p.WaitForExitCode(kTimeout), exit_code);
}

void ExpectStartupError(const std::string& dir, const std::string& text,
                        const std::string& args = "") {
  ExpectBox(Quote(dir + "\\setup.exe") + args, "Error", text, 1);
}

// A good start: the wizard's Welcome page appears and no message box;
// leaving there through the exit question ends the process with exit code 1
// (the run did not complete).
void ExpectCleanExit(const std::string& cmdline) {
  UiProcess p(cmdline);
  WindowQuery q;
  q.caption = "Welcome";
  q.pid = p.Pid();
  HWND wizard = WaitForWindow(q, kTimeout);
  for (const WindowInfo& w : TopLevelWindows(p.Pid(), true))
    EXPECT_NE(w.class_name, "#32770") << "unexpected box " << w.caption;
  ClickButton(wizard, "Cancel");
  AnswerMessageBox(WaitForMessageBox("Exit Setup", kTimeout, p.Pid()), "Yes");
  EXPECT_EQ(p.WaitForExitCode(kTimeout), 1u);
}

const char* const kNotFound =
    "The Setup Script File, which is required by Setup, was not found. If problem presists, "
    "please contact the Program Vendor.";
const char* const kIdMismatch =
    "The setup files are corrupted, or are incompatible with this version of Setup. Please "
    "correct the problem or obtain a new copy of the program.";
const char* const kCorrupted = "The setup files are corrupted. Please obtain a new copy of the program.";

}  // namespace

TEST(Startup, MissingScriptWrongIdAndCorruptBlocks) {
  ExpectStartupError(MakeDist("missing"), kNotFound);

  sw::BuildOptions wrong_id;
  wrong_id.WrongScriptID = true;
  ExpectStartupError(DistWith("wrongid", Script(), wrong_id), kIdMismatch);

  // The header block, read before the version check, and the last record
  // (a file location), read after it. Every other corruption is the
  // loader's and the block reader's to find (their native tests): all of it
  // is the same data error here.
  for (int block : {0, 4}) {
    sw::BuildOptions o;
    o.Fault = block == 0 ? sw::BlockFault::ChangedHeaderByte : sw::BlockFault::WrongDataChecksum;
    o.FaultBlock = block;
    ExpectStartupError(DistWith("corrupt" + std::to_string(block), Script(), o), kCorrupted);
  }
}

TEST(Startup, ScriptEndingInsideABlockIsAnInputOutputError) {
  std::string dir = MakeDist("truncated");
  sw::Bytes script = Script().Build().Script;
  script.resize(script.size() - 5);
  sw::WriteFileBytes(dir + "\\SETUP.0", script);
  // The general error report: caption "Setup", the failure's own text.
  ExpectBox(Quote(dir + "\\setup.exe"), "Setup", "Read beyond end of file", 2, true);
}

TEST(Startup, GoodScriptReachesTheWizard) {
  std::string dir = DistWith("good", Script());
  ExpectCleanExit(Quote(dir + "\\setup.exe"));
}

TEST(Startup, ScriptInsideALargerFileWithSl) {
  sw::BuildOptions o;
  o.SingleFile = true;
  o.ScriptOffset = 40000;
  std::string dir = MakeDist("sl");
  sw::BuildResult r = Script().Build(o);
  sw::WriteFileBytes(dir + "\\BIG.BIN", r.Script);
  const std::string exe = Quote(dir + "\\setup.exe");
  const std::string big = Quote(dir + "\\BIG.BIN");
  // No SETUP.0 beside the program: only the /SL file can satisfy it.
  ExpectCleanExit(exe + " /SL " + big + " 40000 " + std::to_string(r.DataOffset));
  // The ID is expected exactly at the offset.
  ExpectStartupError(dir, kIdMismatch, " /SL " + big + " 39999 0");
  ExpectStartupError(dir, kIdMismatch, " /SL " + big + " 0 0");
  // A missing /SL file and an offset that is not a number: the general
  // error report.
  ExpectBox(exe + " /SL " + Quote(dir + "\\NONE.BIN") + " 0 0", "Setup", "I/O error", 2, true);
  ExpectBox(exe + " /SL " + big + " 4x0 0", "Setup", "'4x0' is not a valid integer value", 2);
}

TEST(Startup, CommandLinesOtherThanSlWithThreeArgumentsAreIgnored) {
  sw::BuildOptions o;
  o.SingleFile = true;
  o.ScriptOffset = 40000;
  std::string dir = MakeDist("ignored");
  sw::WriteFileBytes(dir + "\\BIG.BIN", Script().Build(o).Script);
  const std::string big = Quote(dir + "\\BIG.BIN");
  // Without SETUP.0 beside the program each of these asks for it.
  for (const std::string& args :
       {" /sl " + big + " 40000 0", " /SL " + big + " 40000", " /SL " + big + " 40000 0 0",
        " -SL " + big + " 40000 0", std::string(" /SL")})
    ExpectStartupError(dir, kNotFound, args);
  // With SETUP.0 beside it, the ignored arguments do not matter.
  sw::WriteFileBytes(dir + "\\SETUP.0", Script().Build().Script);
  ExpectCleanExit(Quote(dir + "\\setup.exe") + " /sl " + big + " x y");
}

// ---- Windows NT (default 6.1, nt351, nt40) --------------------------------

TEST(Nt, RefusedWhenTheScriptExcludesNt) {
  ExpectStartupError(DistWith("nont", Script(4, 0, 0, 0)), "This program will not run on Windows NT.");
}

TEST(Nt, RequiresANewerNt) {
  ExpectStartupError(DistWith("nt9", Script(4, 0, 9, 0)),
                     "This program requires Windows NT version 9.0 or later.");
  // The 95-family minimum plays no part on NT.
  ExpectCleanExit(Quote(DistWith("ntok", Script(0, 0, 3, 51)) + "\\setup.exe"));
}

TEST(Nt351, RequiresNt4) {
  ExpectStartupError(DistWith("nt40", Script(4, 0, 4, 0)),
                     "This program requires Windows NT version 4.0 or later.");
}

TEST(Nt40, MinorVersionsAreCompared) {
  ExpectStartupError(DistWith("nt410", Script(4, 0, 4, 10)),
                     "This program requires Windows NT version 4.1 or later.");
  ExpectCleanExit(Quote(DistWith("nt400", Script(4, 0, 4, 0)) + "\\setup.exe"));
}

// ---- Windows 95 family (win95 4.0, win98 4.10) ----------------------------

TEST(Win95Family, RefusedWhenTheScriptWantsNt) {
  ExpectStartupError(DistWith("ntonly", Script(0, 0, 4, 0)), "This program must be run on Windows NT.");
  ExpectStartupError(DistWith("w5", Script(5, 0, 4, 0)),
                     "This program requires Windows version 5.0 or later.");
  // The NT minimum plays no part on the 95 family.
  ExpectCleanExit(Quote(DistWith("w40", Script(4, 0, 9, 0)) + "\\setup.exe"));
}

TEST(Win95, RequiresWindows98) {
  ExpectStartupError(DistWith("w410", Script(4, 10, 4, 0)),
                     "This program requires Windows version 4.1 or later.");
}

TEST(Win98, MinorVersionsAreCompared) {
  ExpectCleanExit(Quote(DistWith("w410ok", Script(4, 10, 4, 0)) + "\\setup.exe"));
  ExpectStartupError(DistWith("w411", Script(4, 11, 4, 0)),
                     "This program requires Windows version 4.11 or later.");
}
