// The destination page's Browse and the next-disk prompt in a real
// installation: setup.exe on a distribution
// spanning five disks, whose disks 2 to 5 lie in a folder of their own (not
// beside setup.exe, not in ..\DISK2). Cancelling the prompt ends the run
// silently with everything taken back; browsing to that folder carries the
// installation through the later disks without asking again. The Windows
// version (and so the "folder"/"directory" word) comes from the ctest entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "e2e_support.h"
#include "tests/winebench/qvtest.h"
#include "snapshot.h"

using namespace qvui;
using namespace e2e;

namespace {

const char* const kPromptCaption = "Please Insert the Next Disk";

// Three files of incompressible data, 640 KB in all, over disks of 160 KB.
sw::ScriptBuilder Spanned() {
  sw::ScriptBuilder b = testdata::Product("Span Test", "1.0");
  b.Header.MinWindowsVersionMajor = 4;
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.BackgroundColor = 0x00800000;
  b.Header.Flags = 0x02;  // uninstallable
  b.Dirs = {{"{app}\\Data"}};
  const char* names[] = {"{app}\\ONE.BIN", "{app}\\Data\\TWO.BIN", "{app}\\THREE.BIN"};
  const size_t sizes[] = {100 * 1024, 300 * 1024, 240 * 1024};
  for (int i = 0; i < 3; ++i) {
    sw::FileSpec f =
        testdata::FileEntry(names[i], testdata::Noise(sizes[i], 77u + static_cast<uint32_t>(i)));
    b.Files.push_back(f);
  }
  return b;
}

// The distribution with disks 2 and later moved into <scratch>\elsewhere.
struct TDist {
  std::string dir, elsewhere;
  size_t disks = 0;
};
TDist MakeSpannedDistribution(const std::string& name) {
  sw::BuildOptions o;
  o.DiskSize = 160 * 1024;
  TDist d;
  d.dir = MakeDistribution(name, Spanned(), o);
  d.elsewhere = TestDir() + "\\" + name + "-elsewhere";
  CreateDirectoryA(d.elsewhere.c_str(), nullptr);
  for (size_t n = 2;; ++n) {
    const std::string file = "\\SETUP." + std::to_string(n);
    if (!Exists(d.dir + file)) break;
    if (!MoveFileA((d.dir + file).c_str(), (d.elsewhere + file).c_str()))
      throw std::runtime_error("cannot move " + file);
    d.disks = n;
  }
  return d;
}

// The list box's items, read wide (Wine copies one character of an ANSI
// LB_GETTEXT across processes).
int ListIndexOf(HWND list, const std::string& text) {
  const int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t wide[512] = L"";
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
    char buf[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
    if (lstrcmpiA(buf, text.c_str()) == 0) return i;
  }
  throw std::runtime_error("no item " + text + " in the folder list");
}

HWND ChildOfClass(HWND parent, const std::string& class_name) {
  for (const ControlInfo& c : Controls(parent))
    if (lstrcmpiA(c.class_name.c_str(), class_name.c_str()) == 0) return c.hwnd;
  throw std::runtime_error("no " + class_name + " in\n" + ListControls(parent));
}

HWND WaitOwn(SetupRun& s, const std::string& caption) {
  WindowQuery q;
  q.caption = caption;
  q.pid = s.Pid();
  return WaitForWindow(q, kTimeout);
}

// Where form stands against the client area of over: centred (each half
// truncated toward zero, as the forms place themselves) is {0, 0}.
POINT OffCentre(HWND form, HWND over) {
  RECT c{}, r{};
  GetClientRect(over, &c);
  MapWindowPoints(over, nullptr, reinterpret_cast<POINT*>(&c), 2);
  GetWindowRect(form, &r);
  return POINT{r.left - ((c.left + c.right) / 2 - (r.right - r.left) / 2),
               r.top - ((c.top + c.bottom) / 2 - (r.bottom - r.top) / 2)};
}

// What Browse on the destination page showed and left in DirEdit.
struct TBrowseView {
  std::string prompt, start_edit, after_cancel, picked, dir_after_pick, reopened_edit, reopened_item, dir_after_typed;
  POINT off_centre{-1, -1};  // the chooser against the wizard
};

std::string SelectedItem(HWND list) {
  const int i = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
  wchar_t wide[512] = L"";
  SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
  char buf[1024] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
  return buf;
}

// Browse three times: cancelled; the root of the list's drive picked; a
// path typed (the installation folder again).
TBrowseView BrowseFromDestination(SetupRun& s, HWND w, const std::string& shot) {
  TBrowseView v;
  HWND dir_edit = EditAt(w, 0);
  ClickButton(w, "Browse...");
  HWND chooser = s.WaitPage("Select Folder");
  HWND edit = ChildOfClass(chooser, "Edit");
  HWND list = ChildOfClass(chooser, "ListBox");
  for (const ControlInfo& c : Controls(chooser))
    if (c.class_name == "Static" && c.client.top == 8) v.prompt = c.text;
  v.start_edit = GetText(edit);
  v.off_centre = OffCentre(chooser, w);
  Screenshot(shot, chooser);
  SetEditText(edit, "C:\\Cancelled");
  ClickButton(chooser, "Cancel");
  WaitForWindowGone(chooser, kTimeout);
  WaitEnabled(w);
  v.after_cancel = GetText(dir_edit);

  ClickButton(w, "Browse...");
  chooser = s.WaitPage("Select Folder");
  SendMessageA(list, LB_SETCURSEL, 0, 0);
  PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
  WaitUntil([&] { return SendMessageA(list, LB_GETCOUNT, 0, 0) > 0 && SendMessageA(list, LB_GETCURSEL, 0, 0) == 0 &&
                         GetText(edit) != v.start_edit; },
            kTimeout);
  v.picked = GetText(edit);
  ClickButton(chooser, "OK");
  WaitForWindowGone(chooser, kTimeout);
  WaitUntil([&] { return GetText(dir_edit) == v.picked; }, kTimeout);
  v.dir_after_pick = GetText(dir_edit);

  WaitEnabled(w);
  ClickButton(w, "Browse...");
  chooser = s.WaitPage("Select Folder");
  v.reopened_edit = GetText(edit);
  v.reopened_item = SelectedItem(list);
  SetEditText(edit, (qvtest::ProgramFilesDir() + "\\Span Test"));
  ClickButton(chooser, "OK");
  WaitForWindowGone(chooser, kTimeout);
  WaitUntil([&] { return GetText(dir_edit) == (qvtest::ProgramFilesDir() + "\\Span Test"); }, kTimeout);
  v.dir_after_typed = GetText(dir_edit);
  WaitEnabled(w);
  return v;
}

// The walk to the installation, with the destination page's Browse used
// first.
HWND WalkToInstallationBrowsing(SetupRun& s, TBrowseView* browse, const std::string& shot) {
  return WalkToInstallation(s, [&](HWND w) { *browse = BrowseFromDestination(s, w, shot); });
}

struct TPromptView {
  std::string label, path;
  SIZE client{};
};
TPromptView ReadPrompt(HWND dlg) {
  TPromptView v;
  RECT r{};
  GetClientRect(dlg, &r);
  v.client = SIZE{r.right, r.bottom};
  v.path = GetText(ChildOfClass(dlg, "Edit"));
  for (const ControlInfo& c : Controls(dlg))
    if (c.class_name == "Static" && c.client.left == 72) v.label = c.text;
  return v;
}

std::string PromptText(int disk, const std::string& word) {
  return "Please insert Disk " + std::to_string(disk) +
         " and click OK.\r\n\r\nIf the files on this disk can be found in a " + word +
         " other than the one displayed below, enter the correct path or click Browse.";
}

// Waits for the finished page; counts the next-disk prompts on the way.
void FinishWithoutPrompt(SetupRun& s, HWND w) {
  bool asked = false;
  EXPECT_TRUE(WaitUntil(
      [&] {
        WindowQuery q;
        q.caption = kPromptCaption;
        q.pid = s.Pid();
        if (FindTopLevel(q)) asked = true;
        return asked || GetText(w) == "Setup Complete";
      },
      180000));
  EXPECT_FALSE(asked) << "a next-disk prompt";
  s.ExpectPage(w, "Setup Complete");
  ClickButton(w, "Finish");
}

void NextDiskScenario(const std::string& word, const std::string& shot) {
  const std::string app = (qvtest::ProgramFilesDir() + "\\Span Test");

  // Cancel in the prompt, confirmed: no message, everything taken back.
  {
    const TDist d = MakeSpannedDistribution("cancelled");
    ASSERT_GE(d.disks, 4u);
    const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
    SetupRun s(d.dir);
    TBrowseView b;
    WalkToInstallationBrowsing(s, &b, shot + "-chooser");
    EXPECT_EQ(b.prompt, "Please choose the Installation Folder and click OK to continue.");
    EXPECT_EQ(b.start_edit, app);
    EXPECT_EQ(b.after_cancel, app);
    // The list started in the folder setup.exe was started in (on Z:); its
    // root picked, with the default directory name appended.
    EXPECT_EQ(b.picked, "Z:\\Span Test");
    EXPECT_EQ(b.dir_after_pick, "Z:\\Span Test");
    EXPECT_EQ(b.reopened_edit, "Z:\\Span Test");  // the caller's text
    EXPECT_EQ(b.reopened_item, "Z:\\");            // the folder of the last use
    EXPECT_EQ(b.dir_after_typed, app);
    EXPECT_EQ(b.off_centre.x, 0);
    EXPECT_EQ(b.off_centre.y, 0);
    HWND prompt = WaitOwn(s, kPromptCaption);
    const TPromptView v = ReadPrompt(prompt);
    EXPECT_EQ(v.label, PromptText(2, word));
    EXPECT_EQ(v.path, d.dir);  // the setup's own folder
    EXPECT_EQ(v.client.cx, 377);
    EXPECT_EQ(v.client.cy, 169);
    EXPECT_TRUE(Exists(app));  // the installation had begun
    ClickButton(prompt, "Cancel");
    const MessageBoxInfo no = s.Answer("Exit Setup", "No");
    EXPECT_EQ(no.text, kExitText);
    EXPECT_TRUE(IsWindowVisible(prompt));
    WaitEnabled(prompt);
    ClickButton(prompt, "Cancel");
    s.Answer("Exit Setup", "Yes");
    EXPECT_EQ(s.ExitCode(), 1u);
    const std::vector<qvsnap::IgnoreRule> wine_own = {
        {"HKCU\\Software\\Wine\\Temporary System Parameters*",
         "Wine's user32 keeps its session's system parameters there; setup writes none"}};
    EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(), wine_own), std::vector<std::string>{});
    EXPECT_FALSE(Exists(app));
  }

  // A wrong folder is refused; the folder browsed to is taken, and the later
  // disks are found there.
  const TDist d = MakeSpannedDistribution("spanned");
  SetupRun s(d.dir);
  HWND w = WalkToInstallation(s);
  HWND prompt = WaitOwn(s, kPromptCaption);
  Screenshot(shot, prompt);
  ClickButton(prompt, "OK");
  const MessageBoxInfo refused = s.Answer("Error", "OK");
  EXPECT_EQ(refused.text, "The file \"SETUP.2\" could not be located in \"" + d.dir +
                              "\". Please insert the correct disk or select another " + word + ".");
  EXPECT_EQ(refused.icon, MessageBoxIcon::kExclamation);
  EXPECT_TRUE(IsWindowVisible(prompt));

  WaitEnabled(prompt);
  ClickButton(prompt, "Browse...");
  HWND chooser = WaitOwn(s, "Select Folder");
  // The chooser over the prompt, the prompt on the screen.
  const POINT chooser_off = OffCentre(chooser, prompt), prompt_off = OffCentre(prompt, GetDesktopWindow());
  EXPECT_EQ(chooser_off.x, 0);
  EXPECT_EQ(chooser_off.y, 0);
  EXPECT_EQ(prompt_off.x, 0);
  EXPECT_EQ(prompt_off.y, 0);
  HWND chooser_edit = ChildOfClass(chooser, "Edit");
  EXPECT_EQ(GetText(chooser_edit), d.dir);
  // The list starts in the folder setup.exe was started in (the scratch
  // directory), which holds the "elsewhere" folder.
  HWND list = ChildOfClass(chooser, "ListBox");
  const std::string folder = d.elsewhere.substr(d.elsewhere.rfind('\\') + 1);
  SendMessageA(list, LB_SETCURSEL, ListIndexOf(list, folder), 0);
  PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
  EXPECT_TRUE(WaitUntil([&] { return lstrcmpiA(GetText(chooser_edit).c_str(), d.elsewhere.c_str()) == 0; },
                        kTimeout))
      << GetText(chooser_edit);
  ClickButton(chooser, "OK");
  WaitEnabled(prompt);
  HWND edit = ChildOfClass(prompt, "Edit");
  EXPECT_TRUE(WaitUntil([&] { return lstrcmpiA(GetText(edit).c_str(), d.elsewhere.c_str()) == 0; }, kTimeout))
      << GetText(edit);
  ClickButton(prompt, "OK");
  EXPECT_TRUE(WaitForWindowGone(prompt, kTimeout));

  // Disks 3 and later come from the same folder without another prompt.
  FinishWithoutPrompt(s, w);
  EXPECT_EQ(s.ExitCode(), 0u);

  const sw::ScriptBuilder script = Spanned();
  const char* installed[] = {"\\ONE.BIN", "\\Data\\TWO.BIN", "\\THREE.BIN"};
  for (int i = 0; i < 3; ++i) {
    const std::string got = ReadText(app + installed[i]);
    const sw::Bytes& want = script.Files[static_cast<size_t>(i)].Contents;
    EXPECT_TRUE(got == std::string(want.begin(), want.end())) << installed[i] << ": " << got.size() << " bytes";
  }
}

}  // namespace

TEST(NextDisk, Nt40) { NextDiskScenario("folder", "next-disk-e2e-nt40"); }
TEST(NextDisk, Nt351) { NextDiskScenario("directory", "next-disk-e2e-nt351"); }

// ---- the media qvbuild makes ------------------------------------------------

namespace {

DWORD RunToEnd(const std::string& cmdline) {
  UiProcess p(cmdline);
  return p.WaitForExitCode(240000);
}

// A product of incompressible files, total bytes in all, described for
// qvbuild in <scratch>\name; returns the description's path.
std::string WriteMediaProduct(const std::string& name, size_t total) {
  const std::string dir = TestDir() + "\\" + name;
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string files;
  const size_t part = total / 3;
  for (int i = 0; i < 3; ++i) {
    const std::string file = std::string("PART") + static_cast<char>('1' + i) + ".BIN";
    const sw::Bytes b = testdata::Noise(i < 2 ? part : total - 2 * part, 300u + static_cast<uint32_t>(i));
    EXPECT_TRUE(qvtest::WriteWholeFile(dir + "\\" + file, std::string(b.begin(), b.end())));
    files += std::string(i ? "," : "") + "{\"source\":\"" + file + "\",\"dest\":\"{app}\\\\" + file + "\"}";
  }
  const std::string json = dir + "\\media.json";
  EXPECT_TRUE(qvtest::WriteWholeFile(
      json, "{\"appName\":\"Media Test\",\"defaultDir\":\"Media Test\",\"defaultGroup\":\"Media Test\","
            "\"minNTVersion\":\"3.51\",\"files\":[" + files + "]}"));
  return json;
}

// setup.exe of this build without its debugging information.
std::string StrippedSetup() { return qvtest::BinDir() + "stripped\\setup.exe"; }

// qvbuild.exe of this build with setup.exe of this build; true when it succeeds.
bool QvBuild(const std::string& json, const std::string& out, const std::string& options) {
  return RunToEnd(BinPath("qvbuild.exe") + " " + Quote(json) + " -o " + Quote(out) + " --level 0 --setup " +
                  Quote(StrippedSetup()) + " " + options) == 0;
}

void ExpectInstalledParts(const std::string& source_dir, const std::string& app) {
  for (const char* f : {"\\PART1.BIN", "\\PART2.BIN", "\\PART3.BIN"})
    EXPECT_TRUE(Exists(app + f) && ReadText(app + f) == ReadText(source_dir + f)) << app << f;
}

// Welcome, the destination typed, the program folder, ready: installing.
HWND WalkTo(SetupRun& s, const std::string& app) {
  return WalkToInstallation(s, [&](HWND w) { SetEditText(EditAt(w, 0), app); });
}

void CopyFolder(const std::string& from, const std::string& to) {
  for (const std::string& f : ListTree(from))
    ASSERT_TRUE(CopyFileA((from + "\\" + f).c_str(), (to + "\\" + f).c_str(), FALSE)) << f;
}

// The loader's temporary folders (QVS*.TMP) in the temporary folder.
std::vector<std::string> LoaderFolders() {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  std::vector<std::string> found;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((std::string(temp) + "QVS*.TMP").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return found;
  do found.push_back(fd.cFileName);
  while (FindNextFileA(h, &fd));
  FindClose(h);
  return found;
}

}  // namespace

// Floppies: disk 1 copied onto drive A: (a floppy drive mapped to a folder
// of the scratch directory), the folder's contents swapped for the next
// disk at each prompt; then the same disks as the CD tree, with no prompt.
TEST(Media, FloppiesAskForEachDiskAndTheCdTreeForNone) {
  // The disk format by the size of this build's setup.exe (the x86_64 one
  // is larger).
  const bool small = testdata::ReadAll(StrippedSetup()).size() < 1000000;
  const std::string format = small ? "1.44M" : "2.88M";
  const size_t capacity = small ? 1457664 : 2931712;
  const std::string json = WriteMediaProduct("mediasrc", 2 * capacity + 100000);
  const std::string src = TestDir() + "\\mediasrc", dist = TestDir() + "\\media";
  ASSERT_TRUE(QvBuild(json, dist, "--media floppy --media cd --floppy " + format));
  EXPECT_EQ(ListTree(dist + "\\DISK1"), (std::vector<std::string>{"SETUP.0", "SETUP.1", "SETUP.EXE"}));
  EXPECT_EQ(ListTree(dist + "\\DISK3"), std::vector<std::string>{"SETUP.3"});
  EXPECT_FALSE(Exists(dist + "\\DISK4"));
  EXPECT_TRUE(Exists(dist + "\\DISK1.IMG") && Exists(dist + "\\DISK3.IMG"));

  const std::string a = "A:";
  ASSERT_TRUE(Exists(a + "\\")) << "no drive A:";
  EXPECT_EQ(GetDriveTypeA("A:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
  CopyFolder(dist + "\\DISK1", a);
  const std::string app = qvtest::ProgramFilesDir() + "\\Media Test";
  {
    SetupRun s(a);
    HWND w = WalkTo(s, app);
    for (int disk = 2; disk <= 3; ++disk) {
      HWND prompt = WaitOwn(s, kPromptCaption);
      const TPromptView v = ReadPrompt(prompt);
      EXPECT_EQ(v.label, PromptText(disk, "folder"));
      EXPECT_EQ(v.path, "A:\\");
      // The disk in the drive is changed: what the folder held goes (the
      // running setup.exe may stay, as Windows keeps it in use), the next
      // disk's files come in.
      for (const std::string& f : ListTree(a)) DeleteFileA((a + "\\" + f).c_str());
      EXPECT_FALSE(Exists(a + "\\SETUP." + std::to_string(disk - 1)));
      if (disk == 2)
        std::printf("the running SETUP.EXE on A: %s\n", Exists(a + "\\SETUP.EXE") ? "stays (in use)" : "was deleted");
      CopyFolder(dist + "\\DISK" + std::to_string(disk), a);
      ClickButton(prompt, "OK");
      ASSERT_TRUE(WaitForWindowGone(prompt, kTimeout));
    }
    FinishWithoutPrompt(s, w);
    EXPECT_EQ(s.ExitCode(), 0u);
  }
  ExpectInstalledParts(src, app);

  const std::string cd_app = "C:\\Media From CD";
  SetupRun s(dist + "\\DISK1");
  FinishWithoutPrompt(s, WalkTo(s, cd_app));
  EXPECT_EQ(s.ExitCode(), 0u);
  ExpectInstalledParts(src, cd_app);
}

// The single-file setup: the loader writes setup.exe into a folder of its
// own, which is gone afterwards, and ends with its exit code (0 after an
// installation, 1 when the user leaves). A damaged or missing attachment is
// refused with a message and exit code 1, before setup.exe runs.
TEST(Media, SingleFileInstallsAndPassesTheExitCodeThrough) {
  const std::string json = WriteMediaProduct("singlesrc", 300000);
  // A folder with a space, as "My Documents" on Windows 95.
  const std::string src = TestDir() + "\\singlesrc", dist = TestDir() + "\\single dist";
  const std::string loader = qvtest::BinDir() + "Loader.exe";
  ASSERT_TRUE(QvBuild(json, dist, "--media single --loader " + Quote(loader)));
  const std::string exe = dist + "\\SETUP.EXE";
  ASSERT_TRUE(Exists(exe));
  const std::vector<std::string> before = LoaderFolders();
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  std::printf("the temporary folder: %s\n", temp);
  const std::string app = "C:\\Media Single";
  {
    SetupRun s(SetupRun::StartedBy{Quote(exe)});
    FinishWithoutPrompt(s, WalkTo(s, app));
    EXPECT_EQ(s.ExitCode(60000), 0u);
  }
  ExpectInstalledParts(src, app);
  EXPECT_EQ(LoaderFolders(), before);
  {
    SetupRun s(SetupRun::StartedBy{Quote(exe)});
    HWND w = s.WaitPage("Welcome");
    ClickButton(w, "Cancel");
    s.Answer("Exit Setup", "Yes");
    EXPECT_EQ(s.ExitCode(60000), 1u);
  }
  EXPECT_EQ(LoaderFolders(), before);
  {
    // A product that asks for a restart: Finish restarts, which on a real
    // system ends the loader before it tidies up, so setup.exe leaves its
    // copy (and on NT the folder) to the restart. Wine only ends the
    // session, and the loader tidies up all the same.
    std::string text = ReadText(json);
    const size_t at = text.find("\"files\"");
    ASSERT_NE(at, std::string::npos);
    text.insert(at, "\"flags\":[\"alwaysRestart\"],");
    const std::string restart_json = src + "\\restart.json", restart_dist = TestDir() + "\\restart dist";
    ASSERT_TRUE(qvtest::WriteWholeFile(restart_json, text));
    ASSERT_TRUE(QvBuild(restart_json, restart_dist, "--media single --loader " + Quote(loader)));
    SetupRun s(SetupRun::StartedBy{Quote(restart_dist + "\\SETUP.EXE")});
    FinishWithoutPrompt(s, WalkTo(s, "C:\\Media Restart"));
    EXPECT_EQ(s.ExitCode(60000), 0u);
    const bool nt = (GetVersion() & 0x80000000u) == 0;
    std::string pending;
    if (nt) {
      HKEY key;
      ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                              KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
      char data[4096] = "";
      DWORD size = sizeof data;
      if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                           &size) == ERROR_SUCCESS)
        for (DWORD i = 0; i < size; ++i) pending += data[i] ? data[i] : '|';
      RegDeleteValueA(key, "PendingFileRenameOperations");
      RegCloseKey(key);
    } else {
      pending = ReadText(qvtest::EnvOr("WINDIR", "C:\\windows") + "\\WININIT.INI");
      DeleteFileA((qvtest::EnvOr("WINDIR", "C:\\windows") + "\\WININIT.INI").c_str());
    }
    for (char& c : pending) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const size_t folder = pending.find("\\QVS");
    ASSERT_NE(folder, std::string::npos) << pending;
    const std::string name = pending.substr(folder + 1, 12);
    if (nt)  // the file, then the folder, each with no new name
      EXPECT_NE(pending.find(name + "\\SETUP.EXE||\\??\\"), std::string::npos) << pending;
    else
      EXPECT_NE(pending.find("NUL="), std::string::npos) << pending;
    EXPECT_NE(pending.find(nt ? name + "||" : name + "\\SETUP.EXE"), std::string::npos) << pending;
  }
  EXPECT_EQ(LoaderFolders(), before);

  const std::string whole = ReadText(exe);
  ASSERT_GT(whole.size(), 36u);
  EXPECT_EQ(whole.compare(0, ReadText(loader).size(), ReadText(loader)), 0) << "the loader first";
  EXPECT_EQ(whole.find(ReadText(StrippedSetup())), ReadText(loader).size()) << "then setup.exe";
  const uint8_t* t = reinterpret_cast<const uint8_t*>(whole.data()) + whole.size() - 36;
  const uint32_t setup_offset = t[8] | t[9] << 8 | t[10] << 16 | static_cast<uint32_t>(t[11]) << 24;
  std::string damaged = whole;
  damaged[setup_offset + 5000] = static_cast<char>(damaged[setup_offset + 5000] ^ 0x5A);
  struct Case {
    std::string name, contents, text;
  };
  const std::string kDamagedText =
      "The setup files attached to this program are damaged. Please obtain a new copy of the program.";
  const std::string kMissingText =
      "The setup files attached to this program are missing or incomplete. Please obtain a new copy of the "
      "program.";
  const Case cases[] = {
      {"DAMAGED.EXE", damaged, kDamagedText},
      {"SHORT.EXE", whole.substr(0, whole.size() - 1000), kMissingText},
      {"BARE.EXE", ReadText(loader), kMissingText},
  };
  for (const Case& c : cases) {
    const std::string path = TestDir() + "\\" + c.name;
    ASSERT_TRUE(qvtest::WriteWholeFile(path, c.contents));
    UiProcess p(Quote(path));
    HWND box = WaitForMessageBox("Setup", kTimeout, p.Pid());
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, c.text) << c.name;
    EXPECT_EQ(info.icon, MessageBoxIcon::kHand) << c.name;
    AnswerMessageBox(box, "OK");
    EXPECT_EQ(p.WaitForExitCode(kTimeout), 1u) << c.name;
  }
  EXPECT_EQ(LoaderFolders(), before);
}
