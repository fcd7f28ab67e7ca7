// Uninstal.exe driven from outside on real machine state: an installation
// made here (files, a folder made on the way, a help index, a file that
// existed before, shared files with counts, a self-registering DLL, WIN.INI
// entries, registry keys and values, the uninstall registration, a Start
// Menu group with a shortcut, or under nt351 Program Manager items in our
// own server) and its log written by the project's own log code. Every bad
// command line and damaged log is refused with its message and leaves the
// machine as it was; No changes nothing; Yes takes everything back to the
// snapshot taken before the installation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/winhandles.h"
#include "qvtest.h"
#include "tests/wine/dde_testserver.h"
#include "snapshot.h"
#include "uidriver.h"
#include "undo/undolog.h"

using qvtest::FileThere;
using qvtest::ReadWholeFile;
using qvtest::WriteWholeFile;
using ::testing::IsEmpty;

namespace {

const std::string kAppName = "QvUninst 1.0";
const std::string kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QvUninst 1.0_qv1";
const char* kSharedKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr uint32_t kHKCU = 0x80000001u;
constexpr uint32_t kHKLM = 0x80000002u;

std::string WinDir() {
  char buf[MAX_PATH] = {};
  GetWindowsDirectoryA(buf, MAX_PATH);
  return buf;
}
std::string SysDir() {
  char buf[MAX_PATH] = {};
  GetSystemDirectoryA(buf, MAX_PATH);
  return buf;
}
std::string ProgramsDir() {
  char buf[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, buf, CSIDL_PROGRAMS, FALSE);
  return buf;
}

void SetString(HKEY root, const std::string& key, const char* name, const std::string& value) {
  TRegKey k;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(),
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}
void SetCount(const std::string& file, DWORD count) {
  TRegKey k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            k.put(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k.get(), file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                 sizeof count);
}

std::string ShortName(const std::string& path) {
  char buf[MAX_PATH] = {};
  GetShortPathNameA(path.c_str(), buf, MAX_PATH);
  return buf;
}

// A shortcut made the way the icon step makes one.
void MakeLink(const std::string& lnk, const std::string& target) {
  TComInit com;
  TComPtr<IShellLinkA> link;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IShellLinkA, link.put_void())));
  link->SetPath(target.c_str());
  TComPtr<IPersistFile> file;
  ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.put_void())));
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, lnk.c_str(), -1, wide, MAX_PATH);
  ASSERT_TRUE(SUCCEEDED(file->Save(wide, TRUE)));
}

// Under nt351 the installation makes Program Manager items (in our own
// server), registers no uninstaller and counts no shared files.
bool Nt351() { return qvtest::EnvOr("QV_VERSION", "") == "nt351"; }

struct TInstalled {
  std::string app, dataFile, logFile, uninstallString;
  std::string keptShared, goneShared, otherShared, appShared, existed, selfReg;
};

// Makes the changes an installation of kAppName makes, recording each as
// the installation steps record it, and writes the log.
void Install(TInstalled& in) {
  TUndoChanges log;
  log.AppName = kAppName;
  log.AdminFlag = 1;
  in.app = std::string("C:\\Program Files\\QvUninst");
  ASSERT_TRUE(CreateDirectoryA(in.app.c_str(), nullptr));
  log.AppendStrings(ukRemoveDir, {in.app}, 0);
  ASSERT_TRUE(CreateDirectoryA((in.app + "\\data").c_str(), nullptr));
  log.AppendStrings(ukRemoveDir, {in.app + "\\data"}, 0);
  // Uninstall registration.
  in.dataFile = in.app + "\\UNINST0.000";
  in.logFile = in.app + "\\UNINST1.000";
  ASSERT_TRUE(WriteWholeFile(in.dataFile, ""));
  log.AppendStrings(ukDeleteFile, {in.dataFile, ""}, 0);
  in.uninstallString =
      "\"" + WinDir() + "\\Uninstal.exe\" /U \"" + in.dataFile + "\" \"" + in.logFile + "\"";
  if (!Nt351()) {
    SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", kAppName);
    SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", in.uninstallString);
    log.AppendStrings(ukRegKeyTree, {kUninstallKey}, kHKLM);
  }
  // Files: one in folders made on the way (not recorded), a help file whose
  // index appears later, a file that was there before, a self-registering
  // DLL, shared files.
  ASSERT_TRUE(CreateDirectoryA((in.app + "\\bin").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((in.app + "\\bin\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(in.app + "\\bin\\sub\\tool.dat", "tool"));
  log.AppendStrings(ukDeleteFile, {in.app + "\\bin\\sub\\tool.dat", ""}, 0);
  ASSERT_TRUE(WriteWholeFile(in.app + "\\data\\readme.txt", "read me"));
  log.AppendStrings(ukDeleteFile, {in.app + "\\data\\readme.txt", ""}, 0);
  ASSERT_TRUE(WriteWholeFile(in.app + "\\prog.hlp", "help"));
  log.AppendStrings(ukDeleteFile, {in.app + "\\prog.hlp", ""}, 0);
  // A file the user will have in use, in a folder made on the way; a file
  // the user made read-only.
  ASSERT_TRUE(CreateDirectoryA((in.app + "\\lib").c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(in.app + "\\lib\\busy.dll", "busy"));
  log.AppendStrings(ukDeleteFile, {in.app + "\\lib\\busy.dll", ""}, 0);
  ASSERT_TRUE(WriteWholeFile(in.app + "\\ro.txt", "read-only"));
  ASSERT_TRUE(SetFileAttributesA((in.app + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  log.AppendStrings(ukDeleteFile, {in.app + "\\ro.txt", ""}, 0);
  // A file replaced at the next restart, which has not come yet: the new
  // contents wait under a temporary name (MoveFileEx on NT, WININIT.INI's
  // rename section with short names on the Windows 95 family).
  const std::string held = in.app + "\\held.dll", temp = in.app + "\\qv000001.tmp";
  ASSERT_TRUE(WriteWholeFile(held, "old held"));
  ASSERT_TRUE(WriteWholeFile(temp, "new held"));
  if ((GetVersion() & 0x80000000u) == 0)
    ASSERT_TRUE(MoveFileExA(temp.c_str(), held.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
  else
    ASSERT_TRUE(WriteWholeFile(WinDir() + "\\WININIT.INI", "[rename]\r\n" + ShortName(held) + "=" + ShortName(temp) + "\r\n"));
  log.AppendStrings(ukDeleteFile, {held, temp}, dfExistedBefore);
  // A file out of the application folder by "..", into a folder of another
  // product's.
  ASSERT_TRUE(WriteWholeFile(in.app + "\\..\\QvShared\\qvs.dll", "beside"));
  log.AppendStrings(ukDeleteFile, {in.app + "\\..\\QvShared\\qvs.dll", ""}, 0);
  ASSERT_TRUE(WriteWholeFile(in.existed, "new version"));
  log.AppendStrings(ukDeleteFile, {in.existed, ""}, dfExistedBefore);
  in.selfReg = in.app + "\\selfreg.dll";
  ASSERT_TRUE(CopyFileA((qvtest::BinDir() + "engine_testdll.dll").c_str(), in.selfReg.c_str(), FALSE));
  {
    TLibrary lib(LoadLibraryA(in.selfReg.c_str()));
    ASSERT_TRUE(lib);
    auto reg = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(lib.get(), "DllRegisterServer")));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
  }
  log.AppendStrings(ukDeleteFile, {in.selfReg, ""}, dfRegisteredServer);
  if (!Nt351()) {
    for (const std::string* f : {&in.keptShared, &in.goneShared}) {
      ASSERT_TRUE(WriteWholeFile(*f, "shared"));
      SetCount(*f, 1);
      log.AppendStrings(ukDeleteFile, {*f, ""}, dfSharedFile);
    }
    SetCount(in.otherShared, 2);  // another product counts it too
    log.AppendStrings(ukDeleteFile, {in.otherShared, ""}, dfSharedFile);
    // A shared file in the application folder, which the user keeps.
    in.appShared = in.app + "\\bin\\appshared.dll";
    ASSERT_TRUE(WriteWholeFile(in.appShared, "shared here"));
    SetCount(in.appShared, 1);
    log.AppendStrings(ukDeleteFile, {in.appShared, ""}, dfSharedFile);
    // Program icons on the version-4 shell.
    const std::string group = ProgramsDir() + "\\QvUninst";
    log.AppendStrings(ukShellNotify, {ProgramsDir()}, SHCNE_UPDATEDIR);
    ASSERT_TRUE(CreateDirectoryA(group.c_str(), nullptr));
    log.AppendStrings(ukRemoveDir, {group}, 1);
    MakeLink(group + "\\Read Me.lnk", in.app + "\\data\\readme.txt");
    log.AppendStrings(ukDeleteFile, {group + "\\Read Me.lnk", ""}, dfNotifyShell);
  } else {
    // Program Manager: a group of its own with two items.
    qvtest::Conversation pm;
    ASSERT_TRUE(pm.Exec("[CreateGroup(\"QvUninst\")][ShowGroup(\"QvUninst\",1)]", false));
    log.AppendStrings(ukProgmanEntry, {"QvUninst", ""}, 0);
    for (const char* item : {"Read Me", "Tool"}) {
      ASSERT_TRUE(pm.Exec("[AddItem(" + in.app + "\\data\\readme.txt,\"" + item + "\",,)]", false));
      log.AppendStrings(ukProgmanEntry, {"QvUninst", item}, 0);
    }
  }
  // INI entries in WIN.INI: a key, and a section of its own.
  WriteProfileStringA("Extensions", "qvu", (in.app + "\\prog.exe ^.qvu").c_str());
  log.AppendStrings(ukIniValue, {"", "Extensions", "qvu"}, 0);
  WriteProfileStringA("QvUninst", "Path", in.app.c_str());
  log.AppendStrings(ukIniSection, {"", "QvUninst"}, 0);
  // Registry entries: a tree, a value in a key of its own and that key's
  // parent, made on the way and recorded to go when empty.
  SetString(HKEY_LOCAL_MACHINE, "Software\\QvUninst\\Settings\\Deep", "Level", "3");
  log.AppendStrings(ukRegKeyTree, {"Software\\QvUninst"}, kHKLM);
  log.AppendStrings(ukRegKeyIfEmpty, {"Software\\QvUninst"}, kHKCU);
  SetString(HKEY_CURRENT_USER, "Software\\QvUninst\\Window", "Left", "10");
  log.AppendStrings(ukRegValue, {"Software\\QvUninst\\Window", "Left"}, kHKCU);
  // What the program did on its own after the installation: a help index.
  ASSERT_TRUE(WriteWholeFile(in.app + "\\prog.GID", "index"));
  log.WriteLogFile(in.logFile);
}

struct TRun {
  qvui::MessageBoxInfo box;
  DWORD exitCode = 0;
};

// Starts cmdline, answers its one box with OK and returns what it said.
TRun RunRefused(const std::string& cmdline) {
  std::printf("run: %s\n", cmdline.c_str());
  std::fflush(stdout);
  qvui::UiProcess p(cmdline);
  TRun run;
  HWND box = qvui::WaitForMessageBox("Uninstall", 20000, p.Pid());
  run.box = qvui::ReadMessageBox(box);
  qvui::AnswerMessageBox(box, "OK");
  run.exitCode = p.WaitForExitCode(20000);
  return run;
}

bool IsNT() { return (GetVersion() & 0x80000000u) == 0; }

const char* kSessionManager = "System\\CurrentControlSet\\Control\\Session Manager";

// A registry value's type and bytes; found false when it is not there.
struct TRawValue {
  bool found = false;
  DWORD type = 0;
  std::string data;
};
TRawValue ReadRaw(HKEY root, const std::string& key, const char* name) {
  TRawValue v;
  TRegKey k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExA(k.get(), name, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
  v.data.resize(size);
  if (RegQueryValueExA(k.get(), name, nullptr, &v.type, reinterpret_cast<BYTE*>(&v.data[0]), &size) != ERROR_SUCCESS)
    return v;
  v.data.resize(size);
  v.found = true;
  return v;
}
void WriteRaw(HKEY root, const std::string& key, const char* name, const TRawValue& v) {
  TRegKey k;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr),
            ERROR_SUCCESS);
  if (v.found)
    RegSetValueExA(k.get(), name, 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                   static_cast<DWORD>(v.data.size()));
  else
    RegDeleteValueA(k.get(), name);
}

// A log's records, one line each: kind, parameter, first string.
std::string LogLines(const std::string& path) {
  TUndoChanges log;
  log.ReadLogFile(path);
  std::string s = log.AppName + " " + std::to_string(log.AdminFlag) + "\n";
  for (const UndoRecord* r = log.First(); r; r = r->Next)
    s += std::to_string(r->Kind) + " " + std::to_string(r->Param) + " " + r->String(0) + "\n";
  return s;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

const std::string kNothing = "\r\n\r\nNothing was removed.";

TEST(Uninstaller, RefusesBadInputAndOtherwiseTakesTheInstallationBack) {
  TInstalled in;
  in.existed = WinDir() + "\\qvuexist.txt";
  in.keptShared = SysDir() + "\\qvukeep.dll";
  in.goneShared = SysDir() + "\\qvugone.dll";
  in.otherShared = SysDir() + "\\qvuother.dll";
  const bool leftover = qvtest::EnvOr("QV_VERSION", "") == "win95";
  const std::string marker = qvtest::TmpDir() + "selfreg.log";
  SetEnvironmentVariableA("QV_SELFREG_MARKER", marker.c_str());
  // The machine before: the uninstaller from an earlier installation, a
  // file the installation will replace, a shared file of another product,
  // another product's empty folder beside the application folder.
  ASSERT_TRUE(CopyFileA((qvtest::BinDir() + "Uninstal.exe").c_str(),
                        (WinDir() + "\\Uninstal.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteWholeFile(in.existed, "old version"));
  ASSERT_TRUE(WriteWholeFile(in.otherShared, "other"));
  ASSERT_TRUE(CreateDirectoryA("C:\\Program Files\\QvShared", nullptr));
  SetCount(in.otherShared, 1);
  qvtest::TestProgman progman("uninst");
  if (Nt351())
    ASSERT_TRUE(progman.Start("[Groups]\r\nCount=1\r\n1=Existing\r\n[Group1]\r\nName=Existing\r\n"
                              "Items=1\r\nName1=Old\r\nCommand1=OLD.EXE\r\n"));
  const std::string groupsBefore = Nt351() ? progman.Snapshot().Save() : "";
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
  std::printf("snapshot: %s\n", before.Summary().c_str());

  Install(in);
  ASSERT_FALSE(HasFailure());
  if (Nt351()) ASSERT_EQ(progman.ItemCount("QvUninst"), 2);  // our server got them
  const qvsnap::Snapshot installed = qvsnap::TakeSnapshot();
  ASSERT_GT(qvsnap::Diff(before, installed).size(), 20u);
  const std::string program = "\"" + WinDir() + "\\Uninstal.exe\"";

  // Command lines other than the registered one.
  const std::string badText =
      "Uninstal.exe was started with a command line it cannot use.\r\n\r\n"
      "It removes an installed application and expects the command line that the installation "
      "registered:\r\n\r\n"
      "Uninstal.exe /U \"<folder>\\UNINST0.nnn\" \"<folder>\\UNINST1.nnn\"\r\n\r\n"
      "Start it from the list of installed programs. Nothing was removed.";
  for (const std::string& args : std::vector<std::string>{
           "", " /U", " /U " + in.dataFile + " " + in.logFile,
           " /U \"" + in.logFile + "\" \"" + in.dataFile + "\"",
           " /U \"" + in.dataFile + "\" \"" + in.app + "\\UNINST1.001\"",
           " /X \"" + in.dataFile + "\" \"" + in.logFile + "\"",
           " /U \"" + in.dataFile + "\" \"" + in.logFile + "\" /S"}) {
    SCOPED_TRACE(args);
    TRun run = RunRefused(program + args);
    EXPECT_EQ(run.box.text, badText);
    EXPECT_EQ(run.box.icon, qvui::MessageBoxIcon::kHand);
    EXPECT_EQ(run.box.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(run.exitCode, 1u);
  }

  const std::string inUse = "The uninstall log file is in use:\r\n\r\n" + in.logFile +
                            "\r\n\r\nThe application is being removed already, or another program "
                            "holds the file. Nothing was removed.";

  // Logs that cannot be used, each in place of the real one.
  const std::string good = ReadWholeFile(in.logFile);
  ASSERT_GT(good.size(), 78u);
  // 25 records; under nt351 no registration, shared files or shell link
  // records (-8), and three Program Manager records (+3).
  const std::string n = Nt351() ? "20" : "25";
  std::string otherFormat = good, zeros = good, badKind = good;
  otherFormat[0] = 'X';
  std::fill(zeros.begin(), zeros.begin() + 78, '\0');
  badKind[78 + 12] = 42;  // the first record's kind
  struct TBadLog {
    std::string bytes, says;
  } badLogs[] = {
      {},  // a hostile log, made below
      {"", "The uninstall log file is incomplete:\r\n\r\n" + in.logFile + "\r\n\r\n(the file is empty)" + kNothing},
      {otherFormat, "The uninstall log file is not an uninstall log:\r\n\r\n" + in.logFile +
                        "\r\n\r\n(it is not an uninstall log)" + kNothing},
      {good.substr(0, good.size() - 3), "The uninstall log file is incomplete:\r\n\r\n" + in.logFile +
                                            "\r\n\r\n(it ends in the middle of record " + n + " of " + n + ")" + kNothing},
      {good + "x", "The uninstall log file is damaged:\r\n\r\n" + in.logFile +
                       "\r\n\r\n(1 bytes follow its last record (it declares " + n + " records))" + kNothing},
      {zeros, "The uninstall log file is damaged:\r\n\r\n" + in.logFile +
                  "\r\n\r\n(its header was never written (the installation stopped while writing "
                  "it))" + kNothing},
      {badKind, "The uninstall log file is damaged:\r\n\r\n" + in.logFile +
                    "\r\n\r\n(record 1 is of an unknown kind (42))" + kNothing},
  };
  {
    // Well framed, but asking for harm: a file without a full path, which
    // would be looked for in the current directory.
    TUndoChanges hostile;
    hostile.AppName = kAppName;
    hostile.AppendStrings(ukDeleteFile, {"WIN.INI", ""}, 0);
    const std::string path = qvtest::TmpDir() + "hostile.log";
    hostile.WriteLogFile(path);
    badLogs[0] = {ReadWholeFile(path), "The uninstall log file is damaged:\r\n\r\n" + in.logFile +
                                           "\r\n\r\n(record 1 names \"WIN.INI\", which is not a full path)" + kNothing};
  }
  for (const TBadLog& bad : badLogs) {
    SCOPED_TRACE(bad.says);
    ASSERT_TRUE(WriteWholeFile(in.logFile, bad.bytes));
    TRun run = RunRefused(in.uninstallString);
    EXPECT_EQ(run.box.text, bad.says);
    EXPECT_EQ(run.box.icon, qvui::MessageBoxIcon::kHand);
    EXPECT_EQ(run.exitCode, 1u);
  }
  if (sizeof(void*) == 4) {
    // The 32-bit build: a log too large for the memory of the program (1.9
    // GB, sparse) gets a message, not the end of the program.
    TFileHandle big(CreateFileA(in.logFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(big);
    ASSERT_NE(SetFilePointer(big.get(), 1900000000, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    ASSERT_TRUE(SetEndOfFile(big.get()));
    big.reset();
    TRun run = RunRefused(in.uninstallString);
    EXPECT_EQ(run.box.text, "The uninstall log file could not be read:\r\n\r\n" + in.logFile +
                                "\r\n\r\nOut of memory" + kNothing);
    EXPECT_EQ(run.exitCode, 1u);
  }
  ASSERT_TRUE(WriteWholeFile(in.logFile, good));
  {
    // A log another program holds without sharing.
    TFileHandle lock(CreateFileA(in.logFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    TRun run = RunRefused(in.uninstallString);
    EXPECT_EQ(run.box.text, inUse);
    EXPECT_EQ(run.exitCode, 1u);
  }
  {
    // A log that is not there.
    const std::string away = in.app + "\\moved.away";
    ASSERT_TRUE(MoveFileA(in.logFile.c_str(), away.c_str()));
    TRun run = RunRefused(in.uninstallString);
    EXPECT_EQ(run.box.text, "The uninstall log file was not found:\r\n\r\n" + in.logFile +
                                "\r\n\r\nThe application may already have been removed. Nothing was removed.");
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_TRUE(MoveFileA(away.c_str(), in.logFile.c_str()));
  }
  // The log file was rewritten with the same bytes: only its times differ.
  EXPECT_EQ(Joined(qvsnap::Diff(installed, qvsnap::TakeSnapshot(),
                                {{in.logFile, "rewritten with the same bytes by this test"}})),
            "");

  const std::string confirm = "Remove " + kAppName +
                              " from this computer?\r\n\r\nThis takes away its files, program icons "
                              "and settings.";
  {
    // No, the default button: nothing changes.
    qvui::UiProcess p(in.uninstallString);
    HWND box = qvui::WaitForMessageBox("Uninstall", 20000, p.Pid());
    qvui::MessageBoxInfo info = qvui::ReadMessageBox(box);
    EXPECT_EQ(info.text, confirm);
    EXPECT_EQ(info.icon, qvui::MessageBoxIcon::kQuestion);
    EXPECT_EQ(info.buttons, (std::vector<std::string>{"Yes", "No"}));
    bool noIsDefault = false;
    for (const qvui::ControlInfo& c : qvui::Controls(box))
      if (qvui::StripAccelerator(c.text) == "No") noIsDefault = (c.style & 0xF) == BS_DEFPUSHBUTTON;
    EXPECT_TRUE(noIsDefault);
    qvui::AnswerMessageBox(box, "No");
    EXPECT_EQ(p.WaitForExitCode(20000), 2u);
  }
  EXPECT_EQ(Joined(qvsnap::Diff(installed, qvsnap::TakeSnapshot(),
                                {{in.logFile, "rewritten with the same bytes by this test"}})),
            "");

  // The first removal: a file is in use, and the system takes no deletion
  // for the restart (on NT a pending-renames value of another type, which
  // MoveFileEx will not add to; on the Windows 95 family WININIT.INI held
  // open, so that it cannot be rewritten).
  const std::string busy = in.app + "\\lib\\busy.dll";
  const std::string held = in.app + "\\held.dll", temp = in.app + "\\qv000001.tmp";
  const std::string wininit = WinDir() + "\\WININIT.INI";
  TFileHandle busyHeld(CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(busyHeld);
  const TRawValue pending = ReadRaw(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
  TFileHandle wininitHeld;
  if (IsNT()) {
    TRawValue other;
    other.found = true;
    other.type = REG_DWORD;
    other.data = std::string(4, '\0');
    WriteRaw(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", other);
  } else {
    wininitHeld.reset(CreateFileA(wininit.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(wininitHeld);
  }
  auto finalBox = [&](qvui::UiProcess& p) {
    HWND done = qvui::WaitForMessageBox("Uninstall", 30000, p.Pid());
    qvui::MessageBoxInfo info = qvui::ReadMessageBox(done);
    qvui::AnswerMessageBox(done, "OK");
    return info;
  };
  {
    // Yes: the progress window while the replay runs, the shared-file
    // questions (keep two, remove the other), then the report: the folders
    // that hold a kept file are the user's choice, not leftovers; the file
    // in use stays in the log, and the application in the list of
    // installed programs. Under win95 the user has put a file of their own
    // into the data folder: that folder and the application folder stay.
    if (leftover) ASSERT_TRUE(WriteWholeFile(in.app + "\\data\\notes.txt", "mine"));
    qvui::UiProcess p(in.uninstallString);
    HWND confirmBox = qvui::WaitForMessageBox("Uninstall", 20000, p.Pid());
    // A second Remove while the first waits: only one may run on the log.
    TRun second = RunRefused(in.uninstallString);
    EXPECT_EQ(second.box.text, inUse);
    EXPECT_EQ(second.exitCode, 1u);
    qvui::AnswerMessageBox(confirmBox, "Yes");
    ASSERT_TRUE(qvui::WaitForWindowGone(confirmBox, 10000));
    std::vector<std::string> asked;
    for (int i = 0; i < (Nt351() ? 0 : 3); ++i) {
      HWND box = qvui::WaitForMessageBox("Remove Shared File?", 30000, p.Pid());
      const std::string text = qvui::ReadMessageBox(box).text;
      asked.push_back(text);
      if (i == 0) {
        qvui::WindowQuery q;
        q.caption = "Uninstall";
        q.pid = p.Pid();
        q.exclude = box;
        HWND progress = qvui::WaitForWindow(q, 5000);
        bool label = false, bar = false;
        for (const qvui::ControlInfo& c : qvui::Controls(progress)) {
          label = label || c.text == "Removing " + kAppName + "...";
          bar = bar || qvui::StripAccelerator(c.class_name) == "msctls_progress32";
        }
        EXPECT_TRUE(label) << qvui::ListControls(progress);
        EXPECT_TRUE(bar) << qvui::ListControls(progress);
      }
      const bool keep = text.find(in.keptShared) != std::string::npos || text.find(in.appShared) != std::string::npos;
      qvui::AnswerMessageBox(box, keep ? "No" : "Yes");
      ASSERT_TRUE(qvui::WaitForWindowGone(box, 10000));
    }
    if (!Nt351()) {
      // Newest first: the one recorded last is asked about first.
      ASSERT_EQ(asked.size(), 3u);
      EXPECT_NE(asked[0].find(in.appShared), std::string::npos) << asked[0];
      EXPECT_NE(asked[1].find(in.goneShared), std::string::npos) << asked[1];
      EXPECT_NE(asked[2].find(in.keptShared), std::string::npos) << asked[2];
    }
    const qvui::MessageBoxInfo info = finalBox(p);
    // On the Windows 95 family the held WININIT.INI keeps the replacement
    // waiting too: the replaced file would come back.
    std::string says = kAppName + " was not removed completely.\r\n\r\nThese items could not be removed:\r\n\r\n" +
                       (IsNT() ? "" : held + "\r\n") + busy +
                       "\r\n\r\nIt stays in the list of installed programs: close the programs that may use "
                       "them, then start the removal from there again.";
    if (leftover)
      says += "\r\n\r\nThese folders stay, as they hold files that were not installed with it; you can "
              "remove them yourself:\r\n\r\n" + in.app + "\\data\r\n" + in.app;
    EXPECT_EQ(info.text, says);
    EXPECT_EQ(info.icon, qvui::MessageBoxIcon::kExclamation);
    EXPECT_EQ(p.WaitForExitCode(20000), 3u);
  }
  // The log holds what another run has to do: the entry, the file in use
  // and, so that they are known again, the shared files kept whose counts
  // are gone. The read-only file went.
  EXPECT_FALSE(FileThere(in.app + "\\ro.txt"));
  const std::string keyLine = Nt351() ? "" : "5 " + std::to_string(kHKLM) + " " + kUninstallKey + "\n";
  const std::string keptLines = Nt351() ? "" : "1 4 " + in.keptShared + "\n1 4 " + in.appShared + "\n";
  const std::string heldLine = IsNT() ? "" : "1 1 " + held + "\n";
  EXPECT_EQ(LogLines(in.logFile), kAppName + " 1\n" + keyLine + "1 0 " + busy + "\n" + heldLine + keptLines);
  EXPECT_FALSE(FileThere(held));
  EXPECT_EQ(FileThere(temp), !IsNT());
  if (!Nt351()) {
    TRegKey key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), 0, KEY_QUERY_VALUE, key.put()), ERROR_SUCCESS);
  }
  if (leftover) {
    // Only the user's file kept them.
    EXPECT_TRUE(DeleteFileA((in.app + "\\data\\notes.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryA((in.app + "\\data").c_str()));
  }

  // The second removal, the file still in use, the restart's deletions
  // taken again: the file goes at the restart, and on NT its folder (and
  // the application folder when nothing else holds it) after it; the
  // Windows 95 family deletes no folder then.
  if (IsNT())
    WriteRaw(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", pending);
  else
    wininitHeld.reset();
  {
    qvui::UiProcess p(in.uninstallString);
    HWND confirmBox = qvui::WaitForMessageBox("Uninstall", 20000, p.Pid());
    qvui::AnswerMessageBox(confirmBox, "Yes");
    ASSERT_TRUE(qvui::WaitForWindowGone(confirmBox, 10000));
    const qvui::MessageBoxInfo info = finalBox(p);
    std::string says = kAppName + " was removed from this computer.\r\n\r\nThese items are in use and will be "
                                  "removed when Windows restarts:\r\n\r\n" + busy;
    if (IsNT()) says += "\r\n" + in.app + "\\lib" + (Nt351() ? "\r\n" + in.app : "");
    if (!IsNT())
      says += "\r\n\r\nThese folders will be empty after the restart; you can remove them then:\r\n\r\n" +
              in.app + "\\lib";
    EXPECT_EQ(info.text, says);
    EXPECT_EQ(p.WaitForExitCode(20000), 3u);
  }
  // The replaced file cannot come back: its temporary file is gone (the
  // rename on NT then does nothing), and on the 95 family its line too.
  EXPECT_FALSE(FileThere(in.logFile));
  EXPECT_FALSE(FileThere(held));
  EXPECT_FALSE(FileThere(temp));
  if (IsNT()) {
    const std::string z(1, '\0');
    std::string want = "\\??\\" + temp + z + "!\\??\\" + held + z + "\\??\\" + busy + z + z + "\\??\\" +
                       in.app + "\\lib" + z + z;
    if (Nt351()) want += "\\??\\" + in.app + z + z;
    EXPECT_EQ(ReadRaw(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations").data, want + z);
  } else {
    EXPECT_EQ(ReadWholeFile(wininit), "[rename]\r\nNUL=" + ShortName(busy) + "\r\n");
  }
  // What the restart does.
  busyHeld.reset();
  EXPECT_TRUE(DeleteFileA(busy.c_str()));
  EXPECT_TRUE(RemoveDirectoryA((in.app + "\\lib").c_str()));
  if (Nt351()) EXPECT_TRUE(RemoveDirectoryA(in.app.c_str()));
  if (IsNT())
    WriteRaw(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", pending);
  else
    EXPECT_TRUE(DeleteFileA(wininit.c_str()));
  EXPECT_EQ(ReadWholeFile(marker), "register\nunregister\n");
  if (Nt351()) {
    // Our Program Manager holds what it held before: the group went once its
    // items had gone, the other group stays.
    EXPECT_EQ(progman.Snapshot().Save(), groupsBefore);
    EXPECT_NE(progman.Log().find("DeleteGroup"), std::string::npos) << progman.Log();
  }
  EXPECT_EQ(Joined(qvsnap::Diff(
                before, qvsnap::TakeSnapshot(),
                {{in.keptShared, "a shared file the user chose to keep (its count is gone)"},
                 {in.app + "\\bin\\appshared.dll", "a shared file the user chose to keep"},
                 {in.app + "\\bin", "holds the shared file the user chose to keep"},
                 {in.app, "holds the folder of the shared file the user chose to keep"},
                 {in.existed, "a file the installation replaced goes with it; its old "
                              "contents were never kept"},
                 {"C:\\windows\\win.ini", "rewritten by the profile functions; its sections and "
                                          "keys are compared"},
                 {"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Extensions",
                  "WIN.INI [Extensions] is mapped to this key; deleting the section's last key "
                  "leaves it empty"}})),
            "");

  EXPECT_TRUE(RemoveDirectoryA("C:\\Program Files\\QvShared"));

  // A second run on the same log: it is gone.
  TRun again = RunRefused(in.uninstallString);
  EXPECT_EQ(again.box.text, "The uninstall log file was not found:\r\n\r\n" + in.logFile +
                                "\r\n\r\nThe application may already have been removed. Nothing was removed.");
  EXPECT_EQ(again.exitCode, 1u);
  SetEnvironmentVariableA("QV_SELFREG_MARKER", nullptr);
}

// A user without administrator rights on NT (this prefix runs without its
// service control manager, so OpenSCManager fails as it fails for such a
// user) may not remove what an administrator installed: refused before the
// question, nothing changed. An installation made by a user is asked about
// as ever.
TEST(UninstallerRights, AnAdministratorsInstallationIsRefusedToOtherUsers) {
  const std::string app = "C:\\QvUser";
  ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
  const std::string file = app + "\\file.txt", logFile = app + "\\UNINST1.000";
  ASSERT_TRUE(WriteWholeFile(file, "mine"));
  const std::string cmdline =
      "\"" + qvtest::BinDir() + "Uninstal.exe\" /U \"" + app + "\\UNINST0.000\" \"" + logFile + "\"";
  for (const uint8_t admin : {1, 0}) {
    TUndoChanges log;
    log.AppName = kAppName;
    log.AdminFlag = admin;
    log.AppendStrings(ukDeleteFile, {file, ""}, 0);
    log.WriteLogFile(logFile);
    qvui::UiProcess p(cmdline);
    HWND box = qvui::WaitForMessageBox("Uninstall", 20000, p.Pid());
    const qvui::MessageBoxInfo info = qvui::ReadMessageBox(box);
    if (admin) {
      EXPECT_EQ(info.text, kAppName + " was installed by a user with administrative rights, and only such "
                                      "a user can remove it: it changed files and settings that belong to "
                                      "the whole computer.\r\n\r\nLog on as an administrator and start the "
                                      "removal again. Nothing was removed.");
      EXPECT_EQ(info.icon, qvui::MessageBoxIcon::kHand);
      qvui::AnswerMessageBox(box, "OK");
      EXPECT_EQ(p.WaitForExitCode(20000), 1u);
    } else {
      EXPECT_EQ(info.text.rfind("Remove " + kAppName + " from this computer?", 0), 0u) << info.text;
      qvui::AnswerMessageBox(box, "No");
      EXPECT_EQ(p.WaitForExitCode(20000), 2u);
    }
    EXPECT_TRUE(FileThere(file));
    EXPECT_TRUE(FileThere(logFile));
  }
}

}  // namespace
