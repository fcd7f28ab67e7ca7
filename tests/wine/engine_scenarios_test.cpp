// Installations through the real install window (installhost.exe), under the
// Windows version of the ctest entry: a multi-disk product and the /SL
// layout, every branch of the file rules with its questions, replacement
// of files in use at the next restart, uninstall registration, and the
// rollback after cancels and failures. Each scenario checks the machine
// afterwards; the texts expected are the installer's own sentences.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "setupdata/records.h"
#include "snapshot.h"
#include "tests/wine/installhost_client.h"
#include "tests/winebench/qvtest.h"

using namespace qvhost;

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kNotComplete[] = "Setup was not complete.\r\n\r\nPlease correct the problem and run Setup again.";
const char kRetryTail[] =
    "\r\n\n\nClick Retry to try again, Ignore to skip this file (not recommended), or Abort to cancel "
    "installation.";
const char kCorrupted[] = "The source file is corrupted";

constexpr uint8_t kUninstallable = 0x02;

bool IsNT() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExA(&v);
  return v.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
bool Version4() { return (GetVersion() & 0xFF) >= 4; }

std::string WinDir() {
  char b[MAX_PATH];
  GetWindowsDirectoryA(b, sizeof b);
  return b;
}
std::string SysDir() {
  char b[MAX_PATH];
  GetSystemDirectoryA(b, sizeof b);
  return b;
}

std::string Bin(const std::string& name) { return qvtest::BinDir() + name; }

// Whole files, read and written (tests/testdata.h).
constexpr auto ReadAll = &qvtest::ReadWholeFile;
constexpr auto WriteAll = &qvtest::WriteWholeFile;

sw::FileSpec Entry(const std::string& dest, const sw::Bytes& contents, uint8_t flags = 0,
                  uint8_t mode = 0) {
  sw::FileSpec f = testdata::FileEntry(dest, contents, flags, mode);
  FileTimeOf(2001, 2, 3, f.SourceTimeLow, f.SourceTimeHigh);
  return f;
}

sw::Bytes Bytes(const std::string& s) { return sw::Bytes(s.begin(), s.end()); }
std::string Str(const sw::Bytes& b) { return std::string(b.begin(), b.end()); }

sw::ScriptBuilder Product(const std::string& name, uint8_t flags) {
  sw::ScriptBuilder b = testdata::Product(name, "1.0");
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.Flags = flags;
  return b;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

void SetTime(const std::string& path, const FILETIME& t) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  SetFileTime(h, &t, nullptr, &t);
  CloseHandle(h);
}

FILETIME Shifted(uint32_t low, uint32_t high, int64_t days) {
  uint64_t v = (uint64_t(high) << 32 | low) + days * 864000000000LL;
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(v);
  t.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return t;
}

void SetRegValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                 const std::string& data) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
  RegCloseKey(k);
}

std::string Dword(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

LogRecord Rec(uint8_t kind, uint32_t param, std::vector<std::string> strings) {
  LogRecord r;
  r.kind = kind;
  r.param = param;
  r.strings = std::move(strings);
  return r;
}

void ExpectLog(const UninstallLog& log, const std::vector<LogRecord>& expected) {
  ASSERT_TRUE(log.valid);
  std::string got, want;
  for (const auto& r : log.records) got += Describe(r) + "\n";
  for (const auto& r : expected) want += Describe(r) + "\n";
  EXPECT_EQ(got, want);
}

// No temporary file of the installer is left in these directories.
void ExpectNoTemporaries(const std::vector<std::string>& dirs) {
  for (const auto& d : dirs) EXPECT_EQ(FilesMatching(d, "qv*.tmp"), std::vector<std::string>{}) << d;
}

// The machine as a rollback must leave it: every file on drive C:, the
// uninstall and shared-file keys, the pending renames.
qvsnap::Snapshot MachineState() {
  qvsnap::SnapshotOptions o;
  o.registryRoots = {{HKEY_LOCAL_MACHINE, "HKLM", "Software\\Microsoft\\Windows\\CurrentVersion"},
                     {HKEY_LOCAL_MACHINE, "HKLM", kSessionManager}};
  return qvsnap::TakeSnapshot(o);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

}  // namespace

// A product on three disks: SETUP.1 and SETUP.3 beside SETUP.0, SETUP.2 as
// ..\DISK2\SETUP.2. Directories, every file byte for byte with its time,
// the uninstall data file, the common-controls marker, the uninstall
// registration with its numbering, and the log read back record for record.
// On Windows NT 3.51 the same without the Uninstall key and shared counts.
TEST(Install, MultiDiskProductWithUninstallRegistration) {
  const std::string app = "C:\\QvEngine App";
  const std::string src = TestTmp() + "dist\\DISK1";
  sw::ScriptBuilder b = Product("Engine App", kUninstallable);
  b.Dirs = {{"{app}\\Data"}, {"{app}\\Sub\\Deep"}};
  b.Files = {Entry("{app}\\BIG1.BIN", Mixed(90000, 1)),
             Entry("{app}\\Data\\MID.BIN", Mixed(40000, 2)),
             Entry("{app}\\Sub\\Deep\\SMALL.TXT", Bytes("small text")),
             Entry("{app}\\40ComUpd.Exe", Mixed(3000, 3)),
             Entry("", Mixed(500, 4), 0x40),
             Entry("{sys}\\QVSHARED.DLL", Mixed(2000, 5), 0x10),
             Entry("{app}\\KEEP.BIN", Mixed(100, 6), 0x02),
             Entry("{app}\\Sub\\LAST.BIN", Mixed(30000, 7))};
  b.UninstallDeletes = {{"{app}\\Data\\RUNTIME.LOG"}};
  sw::BuildOptions o;
  o.DiskSize = 30000;
  std::vector<std::string> disk_dirs(8);
  disk_dirs[2] = TestTmp() + "dist\\DISK2";
  const sw::BuildResult built = WriteDistribution(b, o, src, disk_dirs);
  ASSERT_GE(built.Disks.size(), 3u);

  // Number 000 is taken by a lone log file, 001 by a hidden data file; an
  // earlier registration of the same version name exists.
  MakeDirs(app);
  WriteAll(app + "\\UNINST1.000", "old log");
  WriteAll(app + "\\UNINST0.001", "");
  SetFileAttributesA((app + "\\UNINST0.001").c_str(), FILE_ATTRIBUTE_HIDDEN);
  const std::string key1 = std::string(kUninstallKey) + "\\Engine App 1.0_qv1";
  SetRegValue(HKEY_LOCAL_MACHINE, key1, "DisplayName", REG_SZ, std::string("earlier", 8));

  const std::string result = TestTmp() + "result1.txt";
  Host host("--source " + Quote(src) + " --app " + Quote(app) + " --noicons --result " + Quote(result),
            TestTmp() + "run1");
  ASSERT_EQ(host.ExitCode(), 0u);
  EXPECT_EQ(ReadAll(result), "installed\nneedsrestart 0\ninstcheck 1\n");

  const std::string dests[] = {app + "\\BIG1.BIN",      app + "\\Data\\MID.BIN",
                               app + "\\Sub\\Deep\\SMALL.TXT", app + "\\40ComUpd.Exe",
                               app + "\\UNINST0.002",   SysDir() + "\\QVSHARED.DLL",
                               app + "\\KEEP.BIN",      app + "\\Sub\\LAST.BIN"};
  for (size_t i = 0; i < b.Files.size(); ++i) {
    FileFacts f = ReadFacts(dests[i]);
    ASSERT_TRUE(f.exists) << dests[i];
    EXPECT_TRUE(f.bytes == Str(b.Files[i].Contents)) << dests[i];
    EXPECT_TRUE(SameTime(f.written, b.Files[i].SourceTimeLow, b.Files[i].SourceTimeHigh)) << dests[i];
    EXPECT_TRUE(SameTime(f.created, b.Files[i].SourceTimeLow, b.Files[i].SourceTimeHigh)) << dests[i];
    EXPECT_EQ(f.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u)
        << dests[i];
  }
  EXPECT_EQ(ReadAll(app + "\\UNINST1.000"), "old log");
  ExpectNoTemporaries({app, app + "\\Data", app + "\\Sub", app + "\\Sub\\Deep", SysDir()});

  const std::string key2 = std::string(kUninstallKey) + "\\Engine App 1.0_qv2";
  const bool v4 = Version4();
  std::vector<LogRecord> expected = {Rec(0, 0, {app}), Rec(0, 0, {app + "\\Data"}),
                                     Rec(0, 0, {app + "\\Sub"}), Rec(0, 0, {app + "\\Sub\\Deep"}),
                                     Rec(1, 0, {app + "\\UNINST0.002", ""})};
  if (v4) expected.push_back(Rec(5, 0x80000002u, {key2}));
  for (size_t i : {0, 1, 2, 3}) expected.push_back(Rec(1, 0, {dests[i], ""}));
  if (v4) expected.push_back(Rec(1, 0x04, {dests[5], ""}));
  expected.push_back(Rec(1, 0, {dests[7], ""}));
  expected.push_back(Rec(1, 0x02, {app + "\\Data\\RUNTIME.LOG", ""}));
  const UninstallLog log = ReadUninstallLog(app + "\\UNINST1.002");
  EXPECT_EQ(log.app_name, "Engine App");
  ExpectLog(log, expected);

  const RegValue name = ReadRegValue(HKEY_LOCAL_MACHINE, key2, "DisplayName");
  const RegValue cmd = ReadRegValue(HKEY_LOCAL_MACHINE, key2, "UninstallString");
  const RegValue count = ReadRegValue(HKEY_LOCAL_MACHINE, kSharedDlls, dests[5]);
  if (v4) {
    EXPECT_EQ(name.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(name.data, std::string("Engine App 1.0", 15));
    EXPECT_EQ(cmd.data, "\"" + WinDir() + "\\Uninstal.exe\" /U \"" + app + "\\UNINST0.002\" \"" + app +
                            "\\UNINST1.002\"" + std::string(1, '\0'));
    EXPECT_EQ(count.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(count.data, Dword(1));
  } else {
    EXPECT_FALSE(name.exists);
    EXPECT_FALSE(count.exists);
  }
}

// Disks 2 and 3 in a folder of their own, the later ones in its sibling
// folders DISKn: the next-disk prompt asks for disk 2 once; disk 3 is then
// found in the folder the user named, the later disks as ..\\DISKn\\SETUP.n
// from there.
TEST(Install, NextDiskPromptAndTheFolderItNames) {
  const std::string app = "C:\\QvNextDisk";
  sw::ScriptBuilder b = Product("Disk App", 0);
  b.Files = {Entry("{app}\\ONE.BIN", Mixed(60000, 31)), Entry("{app}\\TWO.BIN", Mixed(50000, 32)),
             Entry("{app}\\FOUR.BIN", Mixed(60000, 33)), Entry("{app}\\THREE.TXT", Bytes("three"))};
  sw::BuildOptions o;
  o.DiskSize = 15000;
  const std::string media = TestTmp() + "media\\";
  const std::string other = media + "DISK2";
  std::vector<std::string> disk_dirs(30, "");
  disk_dirs[2] = disk_dirs[3] = other;
  for (size_t n = 4; n < disk_dirs.size(); ++n) disk_dirs[n] = media + "DISK" + std::to_string(n);
  const sw::BuildResult built = WriteDistribution(b, o, TestTmp() + "nextdisk", disk_dirs);
  ASSERT_GE(built.Disks.size(), 4u);
  ASSERT_LT(built.Disks.size(), disk_dirs.size());
  Host host("--source " + Quote(TestTmp() + "nextdisk") + " --app " + Quote(app), TestTmp() + "runnext");
  qvui::WindowQuery q;
  q.caption = "Please Insert the Next Disk";
  q.pid = host.Process().Pid();
  HWND prompt = qvui::WaitForWindow(q, kBoxWait);
  HWND edit = nullptr;
  for (const qvui::ControlInfo& c : qvui::Controls(prompt))
    if (c.class_name == "Edit") edit = c.hwnd;
  ASSERT_NE(edit, nullptr) << qvui::ListControls(prompt);
  qvui::SetEditText(edit, other);
  qvui::ClickButton(prompt, "OK");
  ASSERT_EQ(host.ExitCode(), 0u);
  for (size_t i = 0; i < b.Files.size(); ++i)
    EXPECT_TRUE(ReadAll(app + "\\" + b.Files[i].DestName.substr(6)) == Str(b.Files[i].Contents)) << i;
}

// A stream that ends exactly at the end of its disk, whose location allows
// it to go on to disk 2: disk 2 is never asked for (there is none).
TEST(Install, StreamEndingAtTheEndOfADiskAsksForNoMore) {
  const std::string app = "C:\\QvExactEnd";
  sw::ScriptBuilder b = Product("Exact App", 0);
  b.Files = {Entry("{app}\\EXACT.BIN", Mixed(50000, 41))};
  sw::BuildOptions o;
  o.DiskSize = 12 + 4 + b.Build().Files[0].CompressedSize;
  sw::BuildResult r = b.Build(o);
  ASSERT_EQ(r.Disks.size(), 1u);
  ASSERT_EQ(r.Disks[0].size(), o.DiskSize);
  std::vector<sw::FileData> files = r.Files;
  files[0].LastDisk = 2;
  const std::string dist = TestTmp() + "exact";
  MakeDirs(dist);
  sw::WriteFileBytes(dist + "\\SETUP.0", b.EncodeScript(files, o));
  sw::WriteFileBytes(dist + "\\SETUP.1", r.Disks[0]);
  Host host("--source " + Quote(dist) + " --app " + Quote(app), TestTmp() + "runexact");
  ASSERT_EQ(host.ExitCode(), 0u);
  EXPECT_TRUE(ReadAll(app + "\\EXACT.BIN") == Str(b.Files[0].Contents));
}

// A damaged disk 2, mended while the question is up: Retry extracts the file
// again from its first disk, and the progress bar, set back after the
// failure, ends at the sum of the compressed sizes.
TEST(Install, RetryAfterADamagedDiskWasMended) {
  const std::string app = "C:\\QvRetry";
  sw::ScriptBuilder b = Product("Retry App", 0);
  b.Files = {Entry("{app}\\A.TXT", Bytes("a")), Entry("{app}\\BIG.BIN", Mixed(90000, 51))};
  sw::BuildOptions o;
  o.DiskSize = 30000;
  const std::string dist = TestTmp() + "retry";
  const sw::BuildResult built = WriteDistribution(b, o, dist);
  ASSERT_GE(built.Disks.size(), 2u);
  sw::Bytes bad = built.Disks[1];
  bad[100] ^= 0x10;
  sw::WriteFileBytes(dist + "\\SETUP.2", bad);
  const std::string trace = TestTmp() + "retry_trace.txt";
  Host host("--source " + Quote(dist) + " --app " + Quote(app) + " --trace " + Quote(trace),
            TestTmp() + "runretry");
  HWND box = qvui::WaitForMessageBox(app + "\\BIG.BIN", kBoxWait, host.Process().Pid());
  EXPECT_EQ(qvui::ReadMessageBox(box).text,
            "An error occured while trying to copy a file.\r\n\r\n" + std::string(kCorrupted) + kRetryTail);
  sw::WriteFileBytes(dist + "\\SETUP.2", built.Disks[1]);
  qvui::AnswerMessageBox(box, "Retry");
  ASSERT_EQ(host.ExitCode(), 0u);
  EXPECT_TRUE(ReadAll(app + "\\BIG.BIN") == Str(b.Files[1].Contents));
  ExpectNoTemporaries({app});
  // The last check point follows the file step; its position is the whole
  // compressed size, counted once.
  const std::string lines = ReadAll(trace);
  const size_t last = lines.rfind('|', lines.size() - 2);
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(lines.substr(last + 1),
            std::to_string(built.Files[0].CompressedSize + built.Files[1].CompressedSize) + "\n");
}

// The /SL layout: script and data in one file behind 4096 filler bytes.
// The data of a file after a skipped one is still found.
TEST(Install, SingleFileLayout) {
  const std::string app = "C:\\QvEngineSL";
  sw::ScriptBuilder b = Product("SL App", 0);
  b.Files = {Entry("{app}\\A.BIN", Mixed(70000, 11)), Entry("", Bytes("u"), 0x40),
             Entry("{app}\\B.TXT", Bytes("b"))};
  sw::BuildOptions o;
  o.SingleFile = true;
  o.ScriptOffset = 4096;
  const sw::BuildResult built = WriteDistribution(b, o, TestTmp() + "sl", {}, "APP.BIN");
  ASSERT_NE(built.DataOffset, 0u);
  Host host("--sl " + Quote(TestTmp() + "sl\\APP.BIN") + " 4096 " + std::to_string(built.DataOffset) +
                " --app " + Quote(app),
            TestTmp() + "runsl");
  // An uninstall data file in a script without uninstall support has no
  // name: asked about, and nothing is written anywhere.
  host.Answer("Error",
              "The uninstall data file has no name: the setup script does not register an uninstaller" +
                  std::string(kRetryTail),
              "Ignore");
  ASSERT_EQ(host.ExitCode(), 0u);
  ExpectNoTemporaries({TestTmp() + "runsl", app});
  EXPECT_TRUE(ReadAll(app + "\\A.BIN") == Str(b.Files[0].Contents));
  EXPECT_EQ(ReadAll(app + "\\B.TXT"), "b");
  EXPECT_TRUE(FilesMatching(app, "UNINST*").empty()) << "not uninstallable: no uninstall files";
}

// Every branch of the file rules once, with the questions answered through
// the UI driver, self-registration, shared counts in their three types,
// and the file-error sentences; then the log's records.
TEST(Install, FileRulesAndQuestions) {
  const std::string app = "C:\\QvRules";
  const std::string verdll = ReadAll(Bin("engine_verdll.dll"));
  const std::string regdll = ReadAll(Bin("engine_testdll.dll"));
  const std::string faultdll = ReadAll(Bin("faulting_selfreg.dll"));
  ASSERT_FALSE(faultdll.empty());
  ASSERT_FALSE(verdll.empty());
  ASSERT_FALSE(regdll.empty());
  const std::string marker = TestTmp() + "selfreg.txt";
  SetEnvironmentVariableA("QV_SELFREG_MARKER", marker.c_str());
  SetEnvironmentVariableA("QV_SELFREG_MODE", "failonce");

  sw::ScriptBuilder b = Product("Rules App", kUninstallable);
  auto versioned = [&](const std::string& name, uint32_t ms, uint32_t ls, uint8_t mode) {
    sw::FileSpec f = Entry("{app}\\" + name, Mixed(4000, static_cast<uint32_t>(name.size())), 0, mode);
    f.FileVersionMS = static_cast<int32_t>(ms);
    f.FileVersionLS = static_cast<int32_t>(ls);
    return f;
  };
  const uint32_t kMS = 0x00010002, kLS = 0x00030004;  // 1.2.3.4, as engine_verdll.dll
  b.Files = {
      Entry("{app}\\ONLY.TXT", Bytes("new only"), 0, 1),   // 0 kept: exists
      versioned("NEWER.DLL", kMS, kLS - 1, 0),            // 1 asks; No installs
      versioned("KEEPNEW.DLL", kMS, kLS - 1, 3),          // 2 kept silently
      versioned("SAMETIME.DLL", kMS, kLS, 0),             // 3 kept silently
      versioned("LATER.DLL", kMS, kLS, 0),                // 4 asks; Yes keeps
      versioned("EARLIER.DLL", kMS, kLS, 0),              // 5 replaced
      versioned("NOVER.DLL", 0xFFFFFFFFu, 0xFFFFFFFFu, 0),  // 6 replaced
      Entry("{app}\\CONFIRM.TXT", Bytes("confirmed"), 0x01),  // 7 asks; No keeps
      Entry("{app}\\RO1.TXT", Bytes("ro1 new")),           // 8 read-only; Retry
      Entry("{app}\\RO2.TXT", Bytes("ro2 new")),           // 9 read-only; Ignore
      versioned("ALWAYS.DLL", kMS, kLS - 1, 2),           // 10 replaced
      Entry("{app}\\SELFREG.DLL", Bytes(regdll), 0x08),    // 11 fails once; Retry
      Entry("{app}\\NOEXP.DLL", Bytes(verdll), 0x08),      // 12 no export; Ignore
      Entry("{app}\\NOTDLL.TXT", Bytes("text"), 0x08),     // 13 not loadable; Ignore
      Entry("{app}\\SH_TXT.DLL", Bytes("s1"), 0x10),       // 14 "3" -> "4"
      Entry("{app}\\SH_BIN.DLL", Bytes("s2"), 0x10),       // 15 05 00 -> 6 binary
      Entry("{app}\\SH_DW.DLL", Bytes("s3"), 0x10),        // 16 7 -> 8
      Entry("{app}\\SH_EX.DLL", Bytes("s4"), 0x10),        // 17 existed: 2
      Entry("{app}\\SH_NEW.DLL", Bytes("s5"), 0x10),       // 18 new: 1
      Entry("{app}\\NODIR\\X.TXT", Bytes("x")),            // 19 folder missing
      Entry("{app}\\ISDIR", Bytes("d")),                   // 20 a directory
      Entry("{app}\\FAULT.DLL", Bytes(faultdll), 0x08),    // 21 crashes; Ignore
  };
  WriteDistribution(b, sw::BuildOptions(), TestTmp() + "rules", {});

  MakeDirs(app + "\\ISDIR");
  const uint32_t tl = b.Files[3].SourceTimeLow, th = b.Files[3].SourceTimeHigh;
  WriteAll(app + "\\ONLY.TXT", "old only");
  for (const char* n : {"NEWER.DLL", "KEEPNEW.DLL", "SAMETIME.DLL", "LATER.DLL", "EARLIER.DLL",
                        "NOVER.DLL", "ALWAYS.DLL"})
    WriteAll(app + "\\" + n, verdll);
  SetTime(app + "\\SAMETIME.DLL", Shifted(tl, th, 0));
  SetTime(app + "\\LATER.DLL", Shifted(tl, th, 1));
  SetTime(app + "\\EARLIER.DLL", Shifted(tl, th, -1));
  SetTime(app + "\\NOVER.DLL", Shifted(tl, th, 5));
  WriteAll(app + "\\CONFIRM.TXT", "old confirm");
  WriteAll(app + "\\RO1.TXT", "ro1 old");
  WriteAll(app + "\\RO2.TXT", "ro2 old");
  SetFileAttributesA((app + "\\RO1.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((app + "\\RO2.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
  for (const char* n : {"SH_TXT.DLL", "SH_BIN.DLL", "SH_DW.DLL", "SH_EX.DLL"}) WriteAll(app + "\\" + n, "old");
  SetRegValue(HKEY_LOCAL_MACHINE, kSharedDlls, app + "\\SH_TXT.DLL", REG_SZ, std::string("3", 2));
  SetRegValue(HKEY_LOCAL_MACHINE, kSharedDlls, app + "\\SH_BIN.DLL", REG_BINARY, std::string("\x05\x00", 2));
  SetRegValue(HKEY_LOCAL_MACHINE, kSharedDlls, app + "\\SH_DW.DLL", REG_DWORD, Dword(7));

  Host host("--source " + Quote(TestTmp() + "rules") + " --app " + Quote(app) + " --noicons", TestTmp() + "runrules");
  const std::string newer =
      "Existing file is newer than the one Setup is trying to install. It is recommended that you keep "
      "the existing file.\r\n\r\nDo you want to keep the existing file?";
  // Each question comes up over its own file's name, however soon after the
  // one before it (the window draws names only every so often).
  const std::string newer_dll = app + "\\NEWER.DLL", confirm_txt = app + "\\CONFIRM.TXT";
  const std::string ro1 = app + "\\RO1.TXT", nodir = app + "\\NODIR\\X.TXT";
  qvui::MessageBoxInfo box = host.Answer(newer_dll, newer, "No", newer_dll.c_str());
  EXPECT_EQ(box.icon, qvui::MessageBoxIcon::kExclamation);
  EXPECT_EQ(box.buttons, (std::vector<std::string>{"Yes", "No"}));
  host.Answer(app + "\\LATER.DLL", newer, "Yes");
  box = host.Answer("Confirm",
                    app + "\\CONFIRM.TXT\r\nThe file already exists.\r\n\r\nWould you like Setup to overwrite it?",
                    "No", confirm_txt.c_str());
  EXPECT_EQ(box.icon, qvui::MessageBoxIcon::kQuestion);
  const std::string readonly =
      "The existing file is marked as read-only.\r\n\r\nClick Retry to remove the read-only setting and "
      "try again, Ignore to skip this file, or Abort to cancel installation.";
  box = host.Answer(ro1, readonly, "Retry", ro1.c_str());
  EXPECT_EQ(box.buttons, (std::vector<std::string>{"Abort", "Retry", "Ignore"}));
  EXPECT_EQ(box.icon, qvui::MessageBoxIcon::kExclamation);
  host.Answer(app + "\\RO2.TXT", readonly, "Ignore");
  const std::string reg_tail =
      "\r\n\r\nClick Retry to try again, Ignore to proceed anyway (not recommended), or Abort to cancel "
      "installation.";
  box = host.Answer("Error",
                    app + "\\SELFREG.DLL\r\nUnable to register the DLL/OCX. (DllRegisterServer returned "
                          "-2147467259)" + reg_tail,
                    "Retry");
  EXPECT_EQ(box.icon, qvui::MessageBoxIcon::kExclamation);
  host.Answer("Error",
              app + "\\NOEXP.DLL\r\nUnable to register the DLL/OCX. (DllRegisterServer export not found)" +
                  reg_tail,
              "Ignore");
  host.Answer("Error", app + "\\NOTDLL.TXT\r\nUnable to register the DLL/OCX. (LoadLibrary failed)" + reg_tail,
              "Ignore");
  box = host.Answer(nodir, "", "Ignore", nodir.c_str());
  const std::string create_ctx =
      "An error occured while trying to create a file in the destination directory.\r\n\r\n";
  EXPECT_EQ(box.text.substr(0, create_ctx.size()), create_ctx) << box.text;
  EXPECT_GE(box.text.size(), std::string(kRetryTail).size());
  EXPECT_EQ(box.text.substr(box.text.size() - std::string(kRetryTail).size()), kRetryTail);
  box = host.Answer(app + "\\ISDIR", "", "Ignore");
  const std::string rename_ctx =
      "An error occured while trying to rename a file in the destination directory.\r\n\r\n";
  EXPECT_EQ(box.text.substr(0, rename_ctx.size()), rename_ctx) << box.text;
  // A write to address 0 inside DllRegisterServer: the access violation's
  // code (0xC0000005) is shown as the result.
  host.Answer("Error",
              app + "\\FAULT.DLL\r\nUnable to register the DLL/OCX. (DllRegisterServer returned -1073741819)" +
                  reg_tail,
              "Ignore");
  ASSERT_EQ(host.ExitCode(), 0u);

  auto contents = [&](size_t i) { return Str(b.Files[i].Contents); };
  EXPECT_EQ(ReadAll(app + "\\ONLY.TXT"), "old only");
  EXPECT_TRUE(ReadAll(app + "\\NEWER.DLL") == contents(1));
  EXPECT_TRUE(ReadAll(app + "\\KEEPNEW.DLL") == verdll);
  EXPECT_TRUE(ReadAll(app + "\\SAMETIME.DLL") == verdll);
  EXPECT_TRUE(ReadAll(app + "\\LATER.DLL") == verdll);
  EXPECT_TRUE(ReadAll(app + "\\EARLIER.DLL") == contents(5));
  EXPECT_TRUE(ReadAll(app + "\\NOVER.DLL") == contents(6));
  EXPECT_EQ(ReadAll(app + "\\CONFIRM.TXT"), "old confirm");
  EXPECT_EQ(ReadAll(app + "\\RO1.TXT"), "ro1 new");
  EXPECT_EQ(ReadFacts(app + "\\RO1.TXT").attributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(ReadAll(app + "\\RO2.TXT"), "ro2 old");
  EXPECT_NE(ReadFacts(app + "\\RO2.TXT").attributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(ReadAll(app + "\\ALWAYS.DLL") == contents(10));
  EXPECT_EQ(ReadAll(marker), "failed\nregister\n");
  EXPECT_FALSE(ReadFacts(app + "\\NODIR").exists);
  EXPECT_EQ(GetFileAttributesA((app + "\\ISDIR").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  ExpectNoTemporaries({app, app + "\\ISDIR"});

  auto shared = [&](const char* n) { return ReadRegValue(HKEY_LOCAL_MACHINE, kSharedDlls, app + "\\" + n); };
  EXPECT_EQ(shared("SH_TXT.DLL").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(shared("SH_TXT.DLL").data, std::string("4", 2));
  EXPECT_EQ(shared("SH_BIN.DLL").type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(shared("SH_BIN.DLL").data, Dword(6));
  EXPECT_EQ(shared("SH_DW.DLL").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(shared("SH_DW.DLL").data, Dword(8));
  EXPECT_EQ(shared("SH_EX.DLL").data, Dword(2));
  EXPECT_EQ(shared("SH_NEW.DLL").data, Dword(1));
  EXPECT_EQ(shared("SH_NEW.DLL").type, static_cast<DWORD>(REG_DWORD));

  const std::string key = std::string(kUninstallKey) + "\\Rules App 1.0_qv1";
  std::vector<LogRecord> expected = {Rec(0, 0, {app}), Rec(1, 0, {app + "\\UNINST0.000", ""}),
                                     Rec(5, 0x80000002u, {key})};
  for (size_t i : {1, 5, 6, 8, 10}) expected.push_back(Rec(1, 0x01, {app + "\\" + b.Files[i].DestName.substr(6), ""}));
  for (size_t i : {11, 12, 13}) expected.push_back(Rec(1, 0x08, {app + "\\" + b.Files[i].DestName.substr(6), ""}));
  for (size_t i = 14; i <= 18; ++i) expected.push_back(Rec(1, 0x04, {app + "\\" + b.Files[i].DestName.substr(6), ""}));
  expected.push_back(Rec(1, 0x08, {app + "\\FAULT.DLL", ""}));
  ExpectLog(ReadUninstallLog(app + "\\UNINST1.000"), expected);
}

// Files in use, held open by this process or loaded as libraries by
// another one (which Windows NT lets rename, but neither delete nor open
// for writing): with the restart flag the replacement waits for the
// restart (MoveFileEx on Windows NT, WININIT.INI's rename section with
// short names on the Windows 95 family), without it the deletion error is
// asked.
TEST(Install, FilesInUseAreReplacedAtRestart) {
  const std::string app = "C:\\QvRestart Dir";
  const std::string marker = TestTmp() + "selfreg_restart.txt";
  SetEnvironmentVariableA("QV_SELFREG_MARKER", marker.c_str());
  SetEnvironmentVariableA("QV_SELFREG_MODE", "ok");
  sw::ScriptBuilder b = Product("Restart App", kUninstallable);
  const std::string verdll = ReadAll(Bin("engine_verdll.dll")), regdll = ReadAll(Bin("engine_testdll.dll"));
  b.Files = {Entry("{app}\\HELD.DLL", Bytes("new held"), 0x04 | 0x08 | 0x10),
             Entry("{app}\\HELD2.DLL", Bytes("new held2")), Entry("{app}\\LOADED.DLL", Bytes(regdll), 0x04 | 0x08),
             Entry("{app}\\LOADED2.DLL", Bytes("new loaded2"))};
  WriteDistribution(b, sw::BuildOptions(), TestTmp() + "restart", {});
  MakeDirs(app);
  WriteAll(app + "\\HELD.DLL", "old held");
  WriteAll(app + "\\HELD2.DLL", "old held2");
  WriteAll(app + "\\LOADED.DLL", verdll);
  WriteAll(app + "\\LOADED2.DLL", verdll);
  const std::string wininit = WinDir() + "\\WININIT.INI";
  if (!IsNT()) WriteAll(wininit, "[Other]\r\nkey=value\r\n[rename]\r\nNUL=C:\\GONE.TMP\r\n[Last]\r\nk=v\r\n");

  // Held open by this process, without sharing: neither can be deleted.
  HANDLE held = CreateFileA((app + "\\HELD.DLL").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE held2 = CreateFileA((app + "\\HELD2.DLL").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_NE(held2, INVALID_HANDLE_VALUE);
  // Loaded by programs that run on.
  const std::string release = TestTmp() + "release_loaded";
  std::vector<std::unique_ptr<qvui::UiProcess>> holders;
  for (const char* n : {"LOADED.DLL", "LOADED2.DLL"}) {
    const std::string ready = TestTmp() + n + ".ready";
    holders.push_back(std::make_unique<qvui::UiProcess>(Quote(Bin("dllholder.exe")) + " " + Quote(app + "\\" + n) +
                                                        " " + Quote(ready) + " " + Quote(release)));
    for (int i = 0; i < 500 && !ReadFacts(ready).exists; ++i) Sleep(20);
    ASSERT_TRUE(ReadFacts(ready).exists) << n;
  }
  const std::string result = TestTmp() + "result_restart.txt";
  Host host("--source " + Quote(TestTmp() + "restart") + " --app " + Quote(app) + " --noicons --result " + Quote(result),
            TestTmp() + "runrestart");
  const std::string ctx = "An error occured while trying to delete the existing file.\r\n\r\n";
  for (const char* n : {"HELD2.DLL", "LOADED2.DLL"}) {
    const qvui::MessageBoxInfo box = host.Answer(app + "\\" + n, "", "Ignore");
    EXPECT_EQ(box.text.substr(0, ctx.size()), ctx) << box.text;
  }
  ASSERT_EQ(host.ExitCode(), 0u);
  CloseHandle(held);
  CloseHandle(held2);
  WriteAll(release, "");
  for (auto& h : holders) EXPECT_EQ(h->WaitForExitCode(kExitWait), 0u);
  EXPECT_EQ(ReadAll(result), "installed\nneedsrestart 1\ninstcheck 0\n");
  EXPECT_EQ(ReadAll(app + "\\HELD.DLL"), "old held");
  EXPECT_EQ(ReadAll(app + "\\HELD2.DLL"), "old held2");
  EXPECT_TRUE(ReadAll(app + "\\LOADED.DLL") == verdll);
  EXPECT_TRUE(ReadAll(app + "\\LOADED2.DLL") == verdll);
  EXPECT_FALSE(ReadFacts(marker).exists) << "a file waiting for the restart is not registered";

  const UninstallLog log = ReadUninstallLog(app + "\\UNINST1.000");
  ASSERT_TRUE(log.valid);
  ASSERT_EQ(log.records.size(), 5u);
  const LogRecord& shared = log.records[3];
  const LogRecord& loaded = log.records[4];
  ASSERT_EQ(shared.strings.size(), 2u);
  ASSERT_EQ(loaded.strings.size(), 2u);
  const std::string temp = shared.strings[1], temp3 = loaded.strings[1];
  EXPECT_EQ(Describe(shared), Describe(Rec(1, 0x04 | 0x08, {app + "\\HELD.DLL", temp})));
  EXPECT_EQ(Describe(loaded), Describe(Rec(1, 0x01 | 0x08, {app + "\\LOADED.DLL", temp3})));
  ASSERT_EQ(temp.substr(0, app.size() + 3), app + "\\qv") << temp;
  ASSERT_EQ(temp3.substr(0, app.size() + 3), app + "\\qv") << temp3;
  EXPECT_EQ(ReadAll(temp), "new held") << "the temporary file waits in the destination's folder";
  EXPECT_TRUE(ReadAll(temp3) == regdll);
  // Only those two wait: no old library was moved aside to be deleted later.
  std::vector<std::string> waiting = FilesMatching(app, "qv*.tmp"), names;
  for (const std::string* t : {&temp, &temp3}) names.push_back(t->substr(app.size() + 1));
  std::sort(waiting.begin(), waiting.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(waiting, names);
  EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kSharedDlls, app + "\\HELD.DLL").data, Dword(2));

  if (IsNT()) {
    // What Wine records for MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT.
    const RegValue pending = ReadRegValue(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
    ASSERT_TRUE(pending.exists);
    EXPECT_EQ(pending.type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(pending.data, "\\??\\" + temp + std::string(1, '\0') + "!\\??\\" + app + "\\HELD.DLL" +
                                std::string(1, '\0') + "\\??\\" + temp3 + std::string(1, '\0') + "!\\??\\" + app +
                                "\\LOADED.DLL" + std::string(2, '\0'))
        << "as recorded by this Wine";
  } else {
    auto line = [](const std::string& dest, const std::string& tmp) {
      char short_dest[MAX_PATH], short_temp[MAX_PATH];
      GetShortPathNameA(dest.c_str(), short_dest, sizeof short_dest);
      GetShortPathNameA(tmp.c_str(), short_temp, sizeof short_temp);
      EXPECT_NE(std::string(short_dest), dest) << "a short name exists";
      return std::string(short_dest) + "=" + short_temp + "\r\n";
    };
    EXPECT_EQ(ReadAll(wininit), "[Other]\r\nkey=value\r\n[rename]\r\nNUL=C:\\GONE.TMP\r\n" +
                                    line(app + "\\HELD.DLL", temp) + line(app + "\\LOADED.DLL", temp3) +
                                    "[Last]\r\nk=v\r\n");
    ExpectNoTemporaries({WinDir()});
  }
}

// Rollback: the snapshot after a cancel or an injected failure equals the
// one before the run, apart from the differences kept on purpose below. The
// application folder exists before and holds a file, so the rollback keeps
// it; no run replaces an existing file (a replaced file is not restored by
// the rollback yet, which is being mended on its own).
TEST(Install, RollbackAfterCancelsAndFailures) {
  const std::string app = "C:\\QvRollback";
  const std::string regdll = ReadAll(Bin("engine_testdll.dll"));
  SetEnvironmentVariableA("QV_SELFREG_MARKER", (TestTmp() + "selfreg_rb.txt").c_str());
  SetEnvironmentVariableA("QV_SELFREG_MODE", "fail");
  MakeDirs(app);
  WriteAll(app + "\\USER.TXT", "the user's own file");
  WriteAll(app + "\\RO.TXT", "read-only");
  SetFileAttributesA((app + "\\RO.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
  SetRegValue(HKEY_LOCAL_MACHINE, kSharedDlls, app + "\\OTHER.DLL", REG_DWORD, Dword(3));


  // The product: a directory, a shared file, a small file, a file spanning
  // disks 1 to 3, then the questions that can be answered with Abort.
  auto product = [&](int variant) {
    sw::ScriptBuilder b = Product("Rollback App", kUninstallable);
    b.Dirs = {{"{app}\\Data"}, {"C:\\QvRollbackElse\\Deep"}};
    b.Files = {Entry("{app}\\SHARED.DLL", Bytes("shared new"), 0x10), Entry("{app}\\A.TXT", Bytes("a")),
               Entry("{app}\\Data\\B.BIN", Mixed(120000, 21)), Entry("{app}\\C.TXT", Bytes("c"))};
    if (variant == 1) b.Files.push_back(Entry("{app}\\RO.TXT", Bytes("ro new")));
    if (variant == 2) b.Files.push_back(Entry("{app}\\SELF.DLL", Bytes(regdll), 0x08));
    if (variant == 3) b.Files.push_back(Entry("{app}\\NODIR\\X.TXT", Bytes("x")));
    if (variant == 4) b.Dirs.push_back({"{app}\\USER.TXT\\Sub"});
    if (variant == 5) {
      // Self-registering DLLs that crash in DllMain: when loaded, when freed.
      b.Files.push_back(Entry("{app}\\FAULTATT.DLL", Bytes(regdll), 0x08));
      b.Files.push_back(Entry("{app}\\FAULTDET.DLL", Bytes(regdll), 0x08));
      b.Files.push_back(Entry("{app}\\RO.TXT", Bytes("ro new")));
    }
    return b;
  };
  int run = 0;
  std::string host_options;  // added to the next runs' command line
  auto install = [&](int variant, sw::DiskFault fault, const std::function<void(sw::BuildResult&)>& damage,
                     const std::string& pause_when, int nth, const std::function<void(Host&)>& drive) {
    ++run;
    const std::string dist = TestTmp() + "rb" + std::to_string(run);
    sw::BuildOptions o;
    o.DiskSize = 50000;
    o.Disk = fault;
    sw::BuildResult r = product(variant).Build(o);
    if (damage) damage(r);
    MakeDirs(dist);
    sw::WriteFileBytes(dist + "\\SETUP.0", r.Script);
    for (size_t n = 0; n < r.Disks.size(); ++n)
      sw::WriteFileBytes(dist + "\\SETUP." + std::to_string(n + 1), r.Disks[n]);
    std::string args = "--source " + Quote(dist) + " --app " + Quote(app) + host_options;
    if (!pause_when.empty())
      args += " --pause-when " + Quote(pause_when) + " --pause-nth " + std::to_string(nth);
    const qvsnap::Snapshot before = MachineState();
    Host host(args, dist + "\\run");
    drive(host);
    EXPECT_EQ(host.ExitCode(), 1u) << "run " << run;
    EXPECT_EQ(Joined(qvsnap::Diff(before, MachineState(), {})), "") << "run " << run;
  };
  const auto none = std::function<void(sw::BuildResult&)>();
  auto cancel = [](Host& h) {
    h.WaitPaused();
    h.CancelWhilePaused();
  };
  auto question = [&](const std::string& caption, const std::string& text) {
    return [=](Host& h) { h.Answer(caption, text, "Abort"); };
  };
  const std::string copying = "Copying Program files...|";
  const std::string corrupted = "An error occured while trying to copy a file.\r\n\r\n" + std::string(kCorrupted) + kRetryTail;

  // A confirmed cancel between steps, after a file, after a compressed read.
  // Between steps, the bar stands full for the files (the last change is
  // drawn before the file name is cleared) and the name is gone.
  install(0, sw::DiskFault::None, none, copying, 1, [](Host& h) {
    h.WaitPaused();
    const auto [position, range] = h.BarPositionAndRange();
    EXPECT_EQ(position, range);
    EXPECT_EQ(h.ShownFileName(), "");
    h.CancelWhilePaused();
  });
  install(0, sw::DiskFault::None, none, copying + app + "\\A.TXT", 3, cancel);
  install(0, sw::DiskFault::None, none, copying + app + "\\Data\\B.BIN", 1, cancel);
  // Damaged data (a changed byte on disk 2), asked about, then Abort. Every
  // other damage is the same question: extraction's native test has them all.
  install(
      0, sw::DiskFault::None, [](sw::BuildResult& r) { r.Disks[1][20] ^= 0x20; }, "", 1,
      question(app + "\\Data\\B.BIN", corrupted));
  // Abort in the read-only and the registration questions; an unwritable
  // destination.
  install(1, sw::DiskFault::None, none, "", 1,
          question(app + "\\RO.TXT",
                   "The existing file is marked as read-only.\r\n\r\nClick Retry to remove the read-only "
                   "setting and try again, Ignore to skip this file, or Abort to cancel installation."));
  install(2, sw::DiskFault::None, none, "", 1, [&](Host& h) {
    const qvui::MessageBoxInfo box = h.Answer("Error", "", "Abort");
    EXPECT_NE(box.text.find("(DllRegisterServer returned -2147467259)"), std::string::npos) << box.text;
  });
  install(3, sw::DiskFault::None, none, "", 1, question(app + "\\NODIR\\X.TXT", ""));
  // A folder that cannot be created: the message, "Setup was not
  // complete...", the rollback.
  install(4, sw::DiskFault::None, none, "", 1, [&](Host& h) {
    const qvui::MessageBoxInfo box =
        h.Answer("Setup", "Setup was unable to create the Folder - " + app + "\\USER.TXT", "OK");
    EXPECT_EQ(box.icon, qvui::MessageBoxIcon::kHand);
    h.Answer("Error", kNotComplete, "OK");
  });
  // DLLs that crash in DllMain, in the registration and in the replay's
  // unregistration: the one that crashes when loaded is not loaded, the
  // other one's crash when freed is no failure; Abort later.
  const std::string reg_tail =
      "\r\n\r\nClick Retry to try again, Ignore to proceed anyway (not recommended), or Abort to cancel "
      "installation.";
  install(5, sw::DiskFault::None, none, "", 1, [&](Host& h) {
    h.Answer("Error", app + "\\FAULTATT.DLL\r\nUnable to register the DLL/OCX. (LoadLibrary failed)" + reg_tail,
             "Ignore");
    h.Answer("Error",
             app + "\\FAULTDET.DLL\r\nUnable to register the DLL/OCX. (DllRegisterServer returned "
                   "-2147467259)" + reg_tail,
             "Ignore");
    h.Answer(app + "\\RO.TXT", "", "Abort");
  });
  // The Uninstall key's second value cannot be written: the key made for
  // it goes with the rollback.
  if (Version4()) {
    host_options = " --fail-uninstall-string";
    install(0, sw::DiskFault::None, none, "", 1, [&](Host& h) {
      const qvui::MessageBoxInfo box = h.Answer("Setup", "", "OK");
      const std::string key = std::string("Error writing to registry key: ") + kUninstallKey + "\\Rollback App 1.0_qv";
      EXPECT_EQ(box.text.rfind(key, 0), 0u) << box.text;
      h.Answer("Error", kNotComplete, "OK");
    });
    host_options.clear();
  }
  // Every uninstall number taken.
  for (int i = 0; i < 1000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "\\UNINST%c.%03d", i % 2 ? '0' : '1', i);
    WriteAll(app + name, "");
  }
  install(0, sw::DiskFault::None, none, "", 1, [&](Host& h) {
    h.Answer("Setup", "Unable to create a file in the destination directory because it contains too many files",
             "OK");
    h.Answer("Error", kNotComplete, "OK");
  });
}

// Files the installation replaced come back on rollback: a newer version
// over an older one, copy mode "always" over an older time, a read-only
// file after Retry. A cancel during the fourth file, a corrupt byte in the
// fourth file's stream, and an existing file that cannot be moved aside
// each end in a rollback that leaves the machine as it was, replaced files
// included (bytes, times, attributes). A successful run leaves no safety
// copy and the uninstall log the file step always wrote.
TEST(Install, RollbackRestoresReplacedFiles) {
  const std::string app = "C:\\QvReplace";
  const std::string verdll = ReadAll(Bin("engine_verdll.dll"));  // version 1.2.3.4
  const std::string ro_text =
      "The existing file is marked as read-only.\r\n\r\nClick Retry to remove the read-only "
      "setting and try again, Ignore to skip this file, or Abort to cancel installation.";
  sw::ScriptBuilder b = Product("Replace App", kUninstallable);
  b.Files = {Entry("{app}\\V.DLL", Bytes("version 2 of the library")),
             Entry("{app}\\T.TXT", Bytes("new t"), 0, cmAlwaysOverwrite),
             Entry("{app}\\RO.TXT", Bytes("new read-only")),
             Entry("{app}\\BIG.BIN", Mixed(120000, 33))};
  b.Files[0].FileVersionMS = 0x00020000;
  b.Files[0].FileVersionLS = 0;
  sw::BuildResult built = b.Build();

  // The machine before each run: the three files with times of their own.
  auto prepare = [&] {
    MakeDirs(app);
    for (const char* f : {"V.DLL", "T.TXT", "RO.TXT", "BIG.BIN"}) {
      SetFileAttributesA((app + "\\" + f).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA((app + "\\" + f).c_str());
    }
    for (const auto& u : FilesMatching(app, "UNINST*")) DeleteFileA((app + "\\" + u).c_str());
    WriteAll(app + "\\V.DLL", verdll);
    WriteAll(app + "\\T.TXT", "old t");
    WriteAll(app + "\\RO.TXT", "old read-only");
    SetTime(app + "\\V.DLL", Shifted(0xD53E8000u, 0x01BE3F00u, 10));
    SetTime(app + "\\T.TXT", Shifted(0xD53E8000u, 0x01BE3F00u, -400));
    SetTime(app + "\\RO.TXT", Shifted(0xD53E8000u, 0x01BE3F00u, 20));
    SetFileAttributesA((app + "\\RO.TXT").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  };
  int run = 0;
  auto install = [&](const sw::BuildResult& r, const std::string& pause_when,
                     const std::string& options = "") {
    const std::string dist = TestTmp() + "replace" + std::to_string(++run);
    MakeDirs(dist);
    sw::WriteFileBytes(dist + "\\SETUP.0", r.Script);
    sw::WriteFileBytes(dist + "\\SETUP.1", r.Disks[0]);
    std::string args = "--source " + Quote(dist) + " --app " + Quote(app) + " --noicons" + options;
    if (!pause_when.empty()) args += " --pause-when " + Quote(pause_when);
    return std::make_unique<Host>(args, dist + "\\run");
  };
  const std::string copying = "Copying Program files...|";

  // A confirmed cancel after the third file, during the fourth.
  prepare();
  qvsnap::Snapshot before = MachineState();
  {
    auto host = install(built, copying + app + "\\BIG.BIN");
    host->Answer(app + "\\RO.TXT", ro_text, "Retry");
    host->WaitPaused();
    EXPECT_EQ(ReadAll(app + "\\RO.TXT"), "new read-only") << "the third file is in place";
    host->CancelWhilePaused();
    EXPECT_EQ(host->ExitCode(), 1u);
  }
  EXPECT_EQ(Joined(qvsnap::Diff(before, MachineState(), {})), "") << "cancel";
  EXPECT_EQ(ReadAll(app + "\\V.DLL"), verdll);
  ExpectNoTemporaries({app});

  // A changed byte in the fourth file's stream: the question, Abort.
  sw::BuildResult damaged = built;
  damaged.Disks[0][static_cast<size_t>(built.Files[3].StartOffset) + 4 + 500] ^= 0x20;
  {
    auto host = install(damaged, "");
    host->Answer(app + "\\RO.TXT", ro_text, "Retry");
    host->Answer(app + "\\BIG.BIN",
                 "An error occured while trying to copy a file.\r\n\r\n" + std::string(kCorrupted) +
                     kRetryTail,
                 "Abort");
    EXPECT_EQ(host->ExitCode(), 1u);
  }
  EXPECT_EQ(Joined(qvsnap::Diff(before, MachineState(), {})), "") << "corrupt stream";
  ExpectNoTemporaries({app});

  // The same when DDE cannot start: the rollback needs none (no Program
  // Manager record), puts the files back and ends the program.
  {
    auto host = install(damaged, "", " --fail-dde");
    host->Answer(app + "\\RO.TXT", ro_text, "Retry");
    host->Answer(app + "\\BIG.BIN", "", "Abort");
    EXPECT_EQ(host->ExitCode(), 1u);
  }
  EXPECT_EQ(Joined(qvsnap::Diff(before, MachineState(), {})), "") << "no DDE";
  ExpectNoTemporaries({app});

  // An existing file that cannot be moved aside (held open without sharing):
  // the file step's question, Abort; nothing lost.
  {
    HANDLE held = CreateFileA((app + "\\T.TXT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto host = install(built, "");
    const qvui::MessageBoxInfo box = host->Answer(app + "\\T.TXT", "", "Abort");
    EXPECT_EQ(box.text.rfind("An error occured while trying to delete the existing file.", 0), 0u)
        << box.text;
    EXPECT_EQ(host->ExitCode(), 1u);
    CloseHandle(held);
  }
  EXPECT_EQ(Joined(qvsnap::Diff(before, MachineState(), {})), "") << "refused move aside";
  ExpectNoTemporaries({app});

  // Success: the new files, no safety copy left, the log as always.
  {
    auto host = install(built, "");
    host->Answer(app + "\\RO.TXT", ro_text, "Retry");
    EXPECT_EQ(host->ExitCode(), 0u);
  }
  EXPECT_EQ(ReadAll(app + "\\V.DLL"), "version 2 of the library");
  EXPECT_EQ(ReadAll(app + "\\T.TXT"), "new t");
  EXPECT_EQ(ReadAll(app + "\\RO.TXT"), "new read-only");
  ExpectNoTemporaries({app});
  // The records of the directory and the files; the Uninstall key's record
  // (named as the earlier runs left the numbering) is not this test's.
  UninstallLog log = ReadUninstallLog(app + "\\UNINST1.000");
  log.records.erase(std::remove_if(log.records.begin(), log.records.end(),
                                   [](const LogRecord& r) { return r.kind == 5; }),
                    log.records.end());
  std::vector<LogRecord> expected = {Rec(0, 0, {app}), Rec(1, 0, {app + "\\UNINST0.000", ""})};
  for (const char* f : {"V.DLL", "T.TXT", "RO.TXT"})
    expected.push_back(Rec(1, 0x01, {app + "\\" + f, ""}));  // existed before
  expected.push_back(Rec(1, 0, {app + "\\BIG.BIN", ""}));
  ExpectLog(log, expected);
}

// A script that leaves texts empty (no application name; a directory entry
// and an uninstall-delete entry that expand to nothing) installs, and
// Uninstal.exe takes it away again from the log it left, calling it by its
// folder's name.
TEST(Install, ProductWithEmptyTextsIsRemovable) {
  const std::string app = "C:\\QvNameless";
  sw::ScriptBuilder b = Product("", kUninstallable);
  b.Header.ApplicationVersionName = "Nameless 1.0";
  b.Dirs = {{""}};
  b.Files = {Entry("{app}\\A.TXT", Bytes("a"))};
  b.UninstallDeletes = {{""}};
  WriteDistribution(b, sw::BuildOptions(), TestTmp() + "nameless", {});
  const qvsnap::Snapshot before = MachineState();
  {
    Host host("--source " + Quote(TestTmp() + "nameless") + " --app " + Quote(app) + " --noicons",
              TestTmp() + "runnameless");
    ASSERT_EQ(host.ExitCode(), 0u);
  }
  EXPECT_EQ(ReadUninstallLog(app + "\\UNINST1.000").app_name, "");
  qvui::UiProcess u(Quote(Bin("Uninstal.exe")) + " /U " + Quote(app + "\\UNINST0.000") + " " +
                    Quote(app + "\\UNINST1.000"));
  HWND box = qvui::WaitForMessageBox("Uninstall", kBoxWait, u.Pid());
  const std::string asked = qvui::ReadMessageBox(box).text;
  EXPECT_EQ(asked.rfind("Remove QvNameless from this computer?", 0), 0u) << asked;
  qvui::AnswerMessageBox(box, "Yes");
  ASSERT_TRUE(qvui::WaitForWindowGone(box, kBoxWait));
  box = qvui::WaitForMessageBox("Uninstall", kBoxWait, u.Pid());
  EXPECT_EQ(qvui::ReadMessageBox(box).text, "QvNameless was removed from this computer.");
  qvui::AnswerMessageBox(box, "OK");
  EXPECT_EQ(u.WaitForExitCode(kExitWait), 0u);
  EXPECT_EQ(Joined(qvsnap::Diff(before, MachineState(), {})), "");
}

// A first installation into folders that are not there yet ({app} one level
// below a new folder), with a directory entry two levels below {app}, the
// same destination written twice, the uninstall data file, and a value in a
// vendor key of its own. A cancel after the registry step leaves no folder,
// file or key behind, so that the next installation takes the same
// uninstall number; that one records every folder and key it made on the
// way, and Uninstal.exe then takes them all away again.
TEST(Install, FirstInstallationLeavesNothingAfterRollbackOrUninstall) {
  const std::string top = "C:\\QvWalk", app = top + "\\Walk App";
  const std::string vendor = "Software\\QvWalk Vendor", key = vendor + "\\Walk App";
  sw::ScriptBuilder b = Product("Walk App", kUninstallable);
  b.Dirs = {{"{app}\\data\\cache"}};
  b.Files = {Entry("{app}\\A.TXT", Bytes("first")), Entry("", Bytes("data file"), 0x40),
             Entry("{app}\\A.TXT", Bytes("second")), Entry("{app}\\data\\B.BIN", Mixed(20000, 61))};
  sw::RegistrySpec value;
  value.RootKey = 0x80000001u;
  value.SubKey = key;
  value.ValueName = "Path";
  value.ValueType = 1;
  value.StringData = "{app}";
  value.RegFlags = 0x01;
  b.Registry = {value};
  WriteDistribution(b, sw::BuildOptions(), TestTmp() + "walk", {});
  const std::string args = "--source " + Quote(TestTmp() + "walk") + " --app " + Quote(app) + " --noicons";
  ASSERT_FALSE(ReadFacts(top).exists);

  const qvsnap::Snapshot before = MachineState();
  {
    Host host(args + " --pause-when " + Quote("Creating registry entries...|"), TestTmp() + "walk1");
    host.WaitPaused();
    ASSERT_TRUE(RegKeyExists(HKEY_CURRENT_USER, key));
    EXPECT_EQ(ReadAll(app + "\\A.TXT"), "second");
    host.CancelWhilePaused();
    EXPECT_EQ(host.ExitCode(), 1u);
  }
  EXPECT_EQ(Joined(qvsnap::Diff(before, MachineState(), {})), "") << "cancel";
  EXPECT_FALSE(ReadFacts(top).exists);
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, vendor));

  {
    Host host(args, TestTmp() + "walk2");
    ASSERT_EQ(host.ExitCode(), 0u);
  }
  EXPECT_EQ(ReadAll(app + "\\A.TXT"), "second");
  EXPECT_EQ(ReadAll(app + "\\UNINST0.000"), "data file");
  ExpectNoTemporaries({app});
  UninstallLog log = ReadUninstallLog(app + "\\UNINST1.000");
  log.records.erase(std::remove_if(log.records.begin(), log.records.end(),
                                   [](const LogRecord& r) { return r.kind == 5; }),
                    log.records.end());
  ExpectLog(log, {Rec(0, 0, {top}), Rec(0, 0, {app}), Rec(0, 0, {app + "\\data"}),
                  Rec(0, 0, {app + "\\data\\cache"}), Rec(1, 0, {app + "\\UNINST0.000", ""}),
                  Rec(1, 0, {app + "\\A.TXT", ""}), Rec(1, 0x01, {app + "\\A.TXT", ""}),
                  Rec(1, 0, {app + "\\data\\B.BIN", ""}), Rec(6, 0x80000001u, {vendor}),
                  Rec(7, 0x80000001u, {key, "Path"})});

  qvui::UiProcess u(Quote(Bin("Uninstal.exe")) + " /U " + Quote(app + "\\UNINST0.000") + " " +
                    Quote(app + "\\UNINST1.000"));
  HWND confirm = qvui::WaitForMessageBox("Uninstall", kBoxWait, u.Pid());
  qvui::AnswerMessageBox(confirm, "Yes");
  ASSERT_TRUE(qvui::WaitForWindowGone(confirm, kBoxWait));
  HWND done = qvui::WaitForMessageBox("Uninstall", kExitWait, u.Pid());
  EXPECT_EQ(qvui::ReadMessageBox(done).text, "Walk App was removed from this computer.");
  qvui::AnswerMessageBox(done, "OK");
  EXPECT_EQ(u.WaitForExitCode(kExitWait), 0u);
  EXPECT_FALSE(ReadFacts(top).exists);
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, vendor));
}
