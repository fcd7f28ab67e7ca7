// The file system controls, the folder chooser and the next-disk prompt on
// Wine with a display. The prefix has extra drives (see CMakeLists.txt):
// a: floppy, d: hard disk "Data Disk", e: CD-ROM "QV CD", n: network "Net
// Label", r: RAM disk "Ram Label", k: a hard disk whose directory does not
// exist (not ready).
//
// The controls live in this process; modal dialogs are driven by a second
// thread through the UI driver while the test thread runs the dialog's loop.
// That thread only reads and acts; the test thread asserts afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "forms/controls.h"
#include "forms/forms.h"
#include "fsctl/choosedir.h"
#include "fsctl/fsctrls.h"
#include "install/newdisk.h"
#include "tests/winebench/qvtest.h"
#include "uidriver.h"
#include "wizard/wizardlogic.h"

namespace {

constexpr DWORD kWait = 15000;

void MakeDir(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

void WriteFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

std::string CurrentDir() {
  char buf[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, buf);
  return std::string(buf, n < MAX_PATH ? n : 0);
}

// Runs the driving half of a test on its own thread. A failure there ends
// the process with the reason: the test thread may sit in a modal loop that
// nothing else would end.
class TDriver {
 public:
  explicit TDriver(std::function<void()> f) : f_(std::move(f)) {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  ~TDriver() { Join(); }
  void Join() {
    if (!thread_) return;
    if (WaitForSingleObject(thread_, 60000) != WAIT_OBJECT_0) {
      std::fprintf(stderr, "driver thread did not end\n");
      TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread_);
    thread_ = nullptr;
  }

 private:
  static DWORD WINAPI Run(void* p) {
    auto* d = static_cast<TDriver*>(p);
    try {
      d->f_();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "driver failed: %s\n", e.what());
      std::fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 3);
    }
    return 0;
  }
  std::function<void()> f_;
  HANDLE thread_ = nullptr;
};

HWND WaitForOwnWindow(const std::string& caption) {
  qvui::WindowQuery q;
  q.caption = caption;
  q.pid = GetCurrentProcessId();
  return qvui::WaitForWindow(q, kWait);
}

// A window disabled under a modal window is enabled again by the side that
// showed it, after the modal window has gone: wait for that.
void WaitEnabled(HWND wnd) {
  if (wnd && !qvui::WaitUntil([&] { return !IsWindow(wnd) || IsWindowEnabled(wnd); }, kWait))
    throw std::runtime_error("window stays disabled: " + qvui::GetText(wnd));
}

// Waits for one of our message boxes, notes it, presses button and waits
// until the window below it takes input again.
qvui::MessageBoxInfo AnswerBox(const std::string& caption, const std::string& button, HWND below = nullptr) {
  HWND box = qvui::WaitForMessageBox(caption, kWait, GetCurrentProcessId());
  qvui::MessageBoxInfo info = qvui::ReadMessageBox(box);
  qvui::AnswerMessageBox(box, button);
  if (!qvui::WaitForWindowGone(box, kWait)) throw std::runtime_error("message box stays");
  WaitEnabled(below);
  return info;
}

HWND ChildOfClass(HWND parent, const std::string& class_name) {
  for (const qvui::ControlInfo& c : qvui::Controls(parent))
    if (lstrcmpiA(c.class_name.c_str(), class_name.c_str()) == 0) return c.hwnd;
  throw std::runtime_error("no " + class_name + " in\n" + qvui::ListControls(parent));
}

std::string ListText(HWND list, int index) {
  const LRESULT n = SendMessageA(list, LB_GETTEXTLEN, index, 0);
  if (n < 0) return std::string();
  std::string s(static_cast<size_t>(n) + 1, '\0');
  SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&s[0]));
  s.resize(static_cast<size_t>(n));
  return s;
}

// A double click on a list item, as the list reports it to its parent.
void DoubleClickItem(HWND list, int index) {
  SendMessageA(list, LB_SETCURSEL, index, 0);
  PostMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_DBLCLK),
               reinterpret_cast<LPARAM>(list));
}

int ListIndexOf(HWND list, const std::string& text) {
  return static_cast<int>(SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str())));
}

// SetFocus works only for the calling thread's windows: join the input of
// the window's thread for the moment.
void FocusFromOtherThread(HWND wnd) {
  const DWORD target = GetWindowThreadProcessId(wnd, nullptr);
  AttachThreadInput(GetCurrentThreadId(), target, TRUE);
  SetFocus(wnd);
  AttachThreadInput(GetCurrentThreadId(), target, FALSE);
}

void WaitForText(HWND control, const std::string& text) {
  if (!qvui::WaitUntil([&] { return qvui::GetText(control) == text; }, kWait))
    throw std::runtime_error("text stays \"" + qvui::GetText(control) + "\", expected \"" + text + "\"");
}

// The geometry of a control in its parent's client area.
struct TGeometry {
  int left, top, width, height;
  bool operator==(const TGeometry& o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};
std::ostream& operator<<(std::ostream& os, const TGeometry& g) {
  return os << g.left << "," << g.top << " " << g.width << "x" << g.height;
}
TGeometry GeometryOf(HWND control) {
  const RECT r = qvui::ReadControl(control).client;
  return TGeometry{r.left, r.top, r.right - r.left, r.bottom - r.top};
}
SIZE ClientSize(HWND wnd) {
  RECT r{};
  GetClientRect(wnd, &r);
  return SIZE{r.right, r.bottom};
}

// A form holding the controls under test.
class THostForm : public forms::TForm {
 public:
  THostForm() {
    forms::TFormArgs args;
    args.caption = "FsHost";
    args.client_width = 420;
    args.client_height = 300;
    args.font = forms::TFontSpec::Pixels("MS Sans Serif", 11);
    CreateForm(args);
    const forms::TLayoutItem layout[] = {
        {&Drives, {8, 8, 180, 22}},
        {&Folders, {8, 40, 180, 200}},
        {&Path, {8, 250, 0, 16}, "", 0, 0, &kArial},
    };
    CreateControls(layout);
    Drives.SetDirList(&Folders);
    Folders.OnChange = [this] { ++changes; };
    Show();
  }
  static const forms::TFontSpec kArial;
  TNewDriveComboBox Drives;
  TNewDirectoryListBox Folders;
  TNewPathLabel Path;
  int changes = 0;
};
const forms::TFontSpec THostForm::kArial = forms::TFontSpec::Points("Arial", 8);

// The user picks the drive item whose text starts with prefix.
void PickDrive(TNewDriveComboBox& box, const std::string& prefix) {
  int index = -1;
  for (int i = 0; i < box.Count(); ++i)
    if (box.ItemText(i).compare(0, prefix.size(), prefix) == 0) index = i;
  ASSERT_GE(index, 0) << prefix;
  box.SetItemIndex(index);
  SendMessageA(GetParent(box.Handle()), WM_COMMAND, MAKEWPARAM(box.Id(), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(box.Handle()));
}

void DoubleClick(TNewDirectoryListBox& list, int index) {
  list.SetItemIndex(index);
  SendMessageA(GetParent(list.Handle()), WM_COMMAND, MAKEWPARAM(list.Id(), LBN_DBLCLK),
               reinterpret_cast<LPARAM>(list.Handle()));
}

std::vector<std::string> ItemTexts(const forms::TItemList& list) {
  std::vector<std::string> v;
  for (int i = 0; i < list.Count(); ++i) v.push_back(list.ItemText(i));
  return v;
}
std::vector<int> ItemKinds(const forms::TItemList& list) {
  std::vector<int> v;
  for (int i = 0; i < list.Count(); ++i) v.push_back(static_cast<int>(list.ItemData(i)));
  return v;
}

}  // namespace

TEST(FsControls, DriveBoxListsThePrefixDrivesWithTheirKindsAndLabels) {
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
  THostForm host;
  const std::vector<std::string> lower = ItemTexts(host.Drives);
  const std::vector<std::string> expected = {"a:",          "c: ",          "d: data disk", "e: qv cd", "k: ",
                                             "n: net label", "r: ram label", "z: "};
  EXPECT_EQ(lower, expected);
  // Floppy, hard disk, network, CD-ROM, RAM disk; a drive without its
  // directory is a hard disk.
  EXPECT_EQ(ItemKinds(host.Drives), (std::vector<int>{0, 1, 1, 3, 1, 2, 4, 1}));
  EXPECT_EQ(host.Drives.SelectedDrive(), 'c');
  EXPECT_EQ(host.Drives.ItemText(host.Drives.ItemIndex()), "c: ");
  EXPECT_EQ(host.Folders.CurrentDirectory(), "C:\\");

  host.Drives.SetTextCase(tcUpperCase);
  const std::vector<std::string> upper = {"A:",          "C: ",          "D: DATA DISK", "E: QV CD", "K: ",
                                          "N: NET LABEL", "R: RAM LABEL", "Z: "};
  EXPECT_EQ(ItemTexts(host.Drives), upper);
  EXPECT_EQ(host.Drives.SelectedDrive(), 'C');
  EXPECT_EQ(host.Drives.ItemText(host.Drives.ItemIndex()), "C: ");
  // Items are at least 16 pixels high, the list's at least 15.
  EXPECT_GE(SendMessageA(host.Drives.Handle(), CB_GETITEMHEIGHT, 0, 0), 16);
  EXPECT_GE(SendMessageA(host.Folders.Handle(), LB_GETITEMHEIGHT, 0, 0), 15);
}

TEST(FsControls, ChoosingADriveAndDoubleClickingFoldersMoveTheList) {
  for (const char* d : {"D:\\Sub1", "D:\\Sub1\\Deep", "D:\\alpha", "D:\\Gone", "D:\\WINDOWS"}) MakeDir(d);
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows"));
  THostForm host;
  EXPECT_EQ(host.Folders.CurrentDirectory(), "C:\\windows");
  ASSERT_GE(host.Folders.Count(), 2);
  EXPECT_EQ(host.Folders.ItemText(0), "C:\\");
  EXPECT_EQ(host.Folders.ItemText(1), "windows");
  EXPECT_EQ(host.Folders.ItemIndex(), 1);

  PickDrive(host.Drives, "d:");
  EXPECT_EQ(host.changes, 1);
  EXPECT_EQ(host.Folders.CurrentDirectory(), "D:\\");
  EXPECT_EQ(CurrentDir(), "D:\\");
  EXPECT_EQ(ItemTexts(host.Folders), (std::vector<std::string>{"D:\\", "alpha", "Gone", "Sub1", "WINDOWS"}));
  EXPECT_EQ(ItemKinds(host.Folders), (std::vector<int>{2, 0, 0, 0, 0}));
  EXPECT_EQ(host.Folders.ItemIndex(), 0);
  {
    // The pictures (13 rows) stand on the item's background: their
    // bottom-left pixel's colour is replaced by the list's colour, or by the
    // highlight for the selected item; the outline stays black. The current
    // item is drawn at 4, its subfolders one step further right at 8.
    UpdateWindow(host.Folders.Handle());
    HDC dc = GetDC(host.Folders.Handle());
    RECT current{}, sub{};
    SendMessageA(host.Folders.Handle(), LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&current));
    SendMessageA(host.Folders.Handle(), LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&sub));
    const int top0 = (current.top + current.bottom - 13) / 2, top1 = (sub.top + sub.bottom - 13) / 2;
    EXPECT_EQ(GetPixel(dc, 4, top0 + 12), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(GetPixel(dc, 8, top1 + 12), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(GetPixel(dc, 8, top1 + 4), RGB(0, 0, 0));
    ReleaseDC(host.Folders.Handle(), dc);
  }

  DoubleClick(host.Folders, 3);
  EXPECT_EQ(host.changes, 2);
  EXPECT_EQ(host.Folders.CurrentDirectory(), "D:\\Sub1");
  EXPECT_EQ(ItemTexts(host.Folders), (std::vector<std::string>{"D:\\", "Sub1", "Deep"}));
  EXPECT_EQ(ItemKinds(host.Folders), (std::vector<int>{1, 2, 0}));

  // The current item: nothing happens.
  DoubleClick(host.Folders, 1);
  EXPECT_EQ(host.changes, 2);

  // Enter on a subfolder opens it (through the form's key routing).
  host.Folders.SetItemIndex(2);
  host.Folders.SetFocus();
  PostMessageA(host.Folders.Handle(), WM_KEYDOWN, VK_RETURN, 0);
  forms::ProcessMessages();
  EXPECT_EQ(host.Folders.CurrentDirectory(), "D:\\Sub1\\Deep");
  EXPECT_EQ(host.changes, 3);

  // An ancestor: up to it.
  DoubleClick(host.Folders, 0);
  EXPECT_EQ(host.Folders.CurrentDirectory(), "D:\\");
  EXPECT_EQ(host.changes, 4);

  // A folder removed between listing and opening: a message, the list stays.
  ASSERT_TRUE(RemoveDirectoryA("D:\\Gone"));
  qvui::MessageBoxInfo gone;
  {
    TDriver driver([&] { gone = AnswerBox("Error", "OK"); });
    DoubleClick(host.Folders, 2);
  }
  EXPECT_NE(gone.text.find("D:\\Gone"), std::string::npos) << gone.text;
  EXPECT_EQ(gone.icon, qvui::MessageBoxIcon::kHand);
  EXPECT_EQ(host.Folders.CurrentDirectory(), "D:\\");
  EXPECT_EQ(host.Folders.ItemText(2), "Gone");
  EXPECT_EQ(host.changes, 4);
  EXPECT_EQ(CurrentDir(), "D:\\");

  // A drive that is not ready: a message, the box selects nothing, the list
  // stays where it was.
  qvui::MessageBoxInfo not_ready;
  {
    TDriver driver([&] { not_ready = AnswerBox("Error", "OK"); });
    PickDrive(host.Drives, "k:");
  }
  EXPECT_NE(not_ready.text.find("K:"), std::string::npos) << not_ready.text;
  EXPECT_NE(not_ready.text.find("I/O error"), std::string::npos) << not_ready.text;
  EXPECT_EQ(host.Drives.ItemIndex(), -1);
  EXPECT_EQ(host.Drives.SelectedDrive(), 'd');
  EXPECT_EQ(host.Folders.CurrentDirectory(), "D:\\");
  EXPECT_EQ(host.changes, 4);

  // A path on another drive moves the drive box too, with one change.
  host.Folders.GoToDirectory("C:\\windows\\system32");
  EXPECT_EQ(host.Folders.CurrentDirectory(), "C:\\windows\\system32");
  EXPECT_EQ(host.Drives.SelectedDrive(), 'c');
  EXPECT_EQ(host.Drives.ItemText(host.Drives.ItemIndex()), "c: ");
  EXPECT_EQ(host.changes, 5);
  EXPECT_EQ(host.Folders.FolderItemPath(1), "C:\\windows");

  // A path longer than the program's buffers is refused, nothing moves.
  EXPECT_THROW(host.Folders.GoToDirectory("C:\\" + std::string(300, 'x')), EFolderError);
  EXPECT_THROW(host.Folders.GoToDirectory("D:\\no such folder"), EFolderError);
  EXPECT_EQ(host.Folders.CurrentDirectory(), "C:\\windows\\system32");
  EXPECT_EQ(host.Drives.SelectedDrive(), 'c');
  EXPECT_EQ(host.changes, 5);
}

TEST(FsControls, PathLabelShortensThePathToItsWidth) {
  THostForm host;
  const std::string path =
      "C:\\Program Files\\Quorvel Sample Application\\Data Files\\Shared Components\\setup.dat";
  // The forms of the path the label may draw, longest first.
  const std::vector<std::string> forms_of_path = {
      path,
      "C:\\...\\Quorvel Sample Application\\Data Files\\Shared Components\\setup.dat",
      "C:\\...\\Data Files\\Shared Components\\setup.dat",
      "C:\\...\\Shared Components\\setup.dat",
      "C:\\...\\setup.dat",
      "...\\setup.dat",
      "setup.dat",
  };
  HDC dc = GetDC(host.Path.Handle());
  HGDIOBJ old = SelectObject(dc, forms::GetFont(THostForm::kArial));
  auto width_of = [dc](const std::string& s) {
    SIZE size{};
    GetTextExtentPoint32A(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return static_cast<int>(size.cx);
  };
  for (int width : {297, 200, 120, 60, 10}) {
    SetWindowPos(host.Path.Handle(), nullptr, 0, 0, width, 16, SWP_NOMOVE | SWP_NOZORDER);
    host.Path.SetText(path);
    std::string expected = forms_of_path.back();
    for (const std::string& f : forms_of_path)
      if (width_of(f) <= width) {
        expected = f;
        break;
      }
    EXPECT_EQ(host.Path.DisplayText(), expected) << "width " << width;
    EXPECT_EQ(host.Path.Text(), path);
  }
  EXPECT_GT(width_of(path), 297);  // the path does not fit the install window's label

  // What is on the screen is the shortened text: the label's pixels equal
  // the shortened text drawn on the label's colour.
  SetWindowPos(host.Path.Handle(), nullptr, 0, 0, 297, 16, SWP_NOMOVE | SWP_NOZORDER);
  host.Path.SetText(path);
  host.Path.Repaint();
  const std::string shown = host.Path.DisplayText();
  EXPECT_NE(shown, path);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP ref = CreateCompatibleBitmap(dc, 297, 16);
  HGDIOBJ old_ref = SelectObject(mem, ref);
  RECT rc{0, 0, 297, 16};
  FillRect(mem, &rc, GetSysColorBrush(COLOR_BTNFACE));
  SelectObject(mem, forms::GetFont(THostForm::kArial));
  SetBkMode(mem, TRANSPARENT);
  SetTextColor(mem, GetSysColor(COLOR_BTNTEXT));
  DrawTextA(mem, shown.c_str(), -1, &rc, DT_EXPANDTABS | DT_NOPREFIX | DT_LEFT);
  int differing = 0, ink = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 297; ++x) {
      const COLORREF want = GetPixel(mem, x, y);
      if (GetPixel(dc, x, y) != want) ++differing;
      if (want != GetSysColor(COLOR_BTNFACE)) ++ink;
    }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(ink, 50);
  // Disabled: the same text in the shadow colour over a highlight copy one
  // pixel down and right.
  host.Path.SetEnabled(false);
  host.Path.Repaint();
  int shadow = 0, highlight = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 297; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      shadow += c == GetSysColor(COLOR_BTNSHADOW);
      highlight += c == GetSysColor(COLOR_BTNHIGHLIGHT);
    }
  EXPECT_GT(shadow, 50);
  EXPECT_GT(highlight, 10);
  EXPECT_EQ(host.Path.DisplayText(), shown);
  host.Path.SetEnabled(true);
  SelectObject(mem, old_ref);
  DeleteObject(ref);
  DeleteDC(mem);
  SelectObject(dc, old);
  ReleaseDC(host.Path.Handle(), dc);

  // A path that fits, and one without a folder part, are drawn unchanged.
  host.Path.SetText("C:\\a\\b.txt");
  EXPECT_EQ(host.Path.DisplayText(), "C:\\a\\b.txt");
  SetWindowPos(host.Path.Handle(), nullptr, 0, 0, 5, 16, SWP_NOMOVE | SWP_NOZORDER);
  host.Path.SetText("setup&data.bin");
  EXPECT_EQ(host.Path.DisplayText(), "setup&data.bin");
}

namespace {

struct TChooserView {
  std::string prompt, edit, current_item, caption;
  SIZE client{};
  std::vector<std::pair<std::string, TGeometry>> controls;
};

TChooserView ReadChooser(HWND dlg) {
  TChooserView v;
  v.caption = qvui::GetText(dlg);
  v.client = ClientSize(dlg);
  HWND list = ChildOfClass(dlg, "ListBox");
  v.current_item = ListText(list, static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0)));
  v.edit = qvui::GetText(ChildOfClass(dlg, "Edit"));
  for (const qvui::ControlInfo& c : qvui::Controls(dlg)) {
    if (!c.visible) continue;
    const std::string key = c.class_name + ":" + c.text;
    v.controls.emplace_back(key, GeometryOf(c.hwnd));
    if (c.class_name == "Static" && c.client.top == 8) v.prompt = c.text;
  }
  return v;
}

// The control whose "class:text" is key; a key ending in ':' matches any text.
TGeometry Find(const TChooserView& v, const std::string& key) {
  for (const auto& c : v.controls)
    if (c.first == key || (key.back() == ':' && c.first.compare(0, key.size(), key) == 0)) return c.second;
  return TGeometry{-1, -1, -1, -1};
}

// Browse on the destination page, as the background window wires it for the
// wizard: the DirEdit text in, the script's default directory appended to
// every folder picked.
bool BrowseForInstallFolder(std::string& dir_edit, const std::string& default_directory) {
  return BrowseForFolder(nullptr, SBrowsePrompt, dir_edit, default_directory, dir_edit);
}

}  // namespace

TEST(FolderChooser, DestinationBrowseKeepsStateAndReturnsThePath) {
  MakeDir("C:\\qvtest");
  MakeDir("C:\\qvtest\\start");
  MakeDir("C:\\qvtest\\start\\sub");
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\qvtest\\start"));
  // Made at program start: the list shows the folder the program started in.
  CreateChooseDirForm(nullptr);
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows"));

  // OK without touching anything: the caller's text comes back unchanged.
  std::string dir = "C:\\Program Files\\My App";
  TChooserView first;
  {
    TDriver driver([&] {
      HWND dlg = WaitForOwnWindow("Select Folder");
      first = ReadChooser(dlg);
      e2e::Screenshot("folder-chooser", dlg);
      qvui::ClickButton(dlg, "OK");
    });
    EXPECT_TRUE(BrowseForInstallFolder(dir, "My App"));
  }
  EXPECT_EQ(dir, "C:\\Program Files\\My App");
  EXPECT_EQ(first.caption, "Select Folder");
  EXPECT_EQ(first.client.cx, 232);
  EXPECT_EQ(first.client.cy, 275);
  EXPECT_EQ(first.prompt, "Please choose the Installation Folder and click OK to continue.");
  EXPECT_EQ(first.edit, "C:\\Program Files\\My App");
  EXPECT_EQ(first.current_item, "start");
  EXPECT_EQ(Find(first, "Static:Please choose the Installation Folder and click OK to continue."),
            (TGeometry{8, 8, 217, 33}));
  EXPECT_EQ(Find(first, "Edit:C:\\Program Files\\My App"), (TGeometry{8, 64, 217, 21}));
  EXPECT_EQ(Find(first, "ListBox:"), (TGeometry{8, 112, 137, 110}));
  EXPECT_EQ(Find(first, "Button:OK"), (TGeometry{152, 112, 75, 25}));
  EXPECT_EQ(Find(first, "Button:Cancel"), (TGeometry{152, 144, 75, 25}));
  EXPECT_EQ(Find(first, "Static:&Path:").top, 48);
  EXPECT_EQ(Find(first, "Static:Available &Folders:").top, 96);
  EXPECT_EQ(Find(first, "Static:Dri&ves:").top, 232);
  EXPECT_EQ(Find(first, "ComboBox:").left, 8);
  EXPECT_EQ(Find(first, "ComboBox:").top, 248);
  EXPECT_EQ(Find(first, "ComboBox:").width, 137);

  // Picking folders: the name to append follows each, the root included;
  // Enter in the list opens a folder and leaves the dialog open.
  std::string at_root, in_sub;
  {
    TDriver driver([&] {
      HWND dlg = WaitForOwnWindow("Select Folder");
      HWND list = ChildOfClass(dlg, "ListBox");
      HWND edit = ChildOfClass(dlg, "Edit");
      DoubleClickItem(list, 0);
      WaitForText(edit, "C:\\My App");
      at_root = qvui::GetText(edit);
      DoubleClickItem(list, ListIndexOf(list, "qvtest"));
      WaitForText(edit, "C:\\qvtest\\My App");
      SendMessageA(list, LB_SETCURSEL, ListIndexOf(list, "start"), 0);
      FocusFromOtherThread(list);
      PostMessageA(list, WM_KEYDOWN, VK_RETURN, 0);
      WaitForText(edit, "C:\\qvtest\\start\\My App");
      DoubleClickItem(list, ListIndexOf(list, "sub"));
      WaitForText(edit, "C:\\qvtest\\start\\sub\\My App");
      in_sub = qvui::GetText(edit);
      qvui::ClickButton(dlg, "OK");
    });
    EXPECT_TRUE(BrowseForInstallFolder(dir, "My App"));
  }
  EXPECT_EQ(at_root, "C:\\My App");
  EXPECT_EQ(dir, "C:\\qvtest\\start\\sub\\My App");
  // The list leaves the process in the folder it showed last.
  EXPECT_EQ(CurrentDir(), "C:\\qvtest\\start\\sub");

  // Cancel, Esc and the close box all cancel; the caller keeps its text.
  // The dialog opens where it was left, with the caller's text.
  std::vector<TChooserView> reopened;
  for (int how = 0; how < 3; ++how) {
    std::string kept = "C:\\Kept";
    TDriver driver([&] {
      HWND dlg = WaitForOwnWindow("Select Folder");
      reopened.push_back(ReadChooser(dlg));
      HWND edit = ChildOfClass(dlg, "Edit");
      qvui::SetEditText(edit, "D:\\typed but cancelled");
      if (how == 0) qvui::ClickButton(dlg, "Cancel");
      if (how == 1) PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
      if (how == 2) qvui::PostClose(dlg);
    });
    EXPECT_FALSE(BrowseForInstallFolder(kept, "My App"));
    EXPECT_EQ(kept, "C:\\Kept");
  }
  ASSERT_EQ(reopened.size(), 3u);
  EXPECT_EQ(reopened[0].current_item, "sub");
  EXPECT_EQ(reopened[0].edit, "C:\\Kept");

  // A typed path is returned as typed, checked by nobody.
  {
    TDriver driver([&] {
      HWND dlg = WaitForOwnWindow("Select Folder");
      qvui::SetEditText(ChildOfClass(dlg, "Edit"), "Q:\\does\\not exist");
      qvui::ClickButton(dlg, "OK");
    });
    EXPECT_TRUE(BrowseForInstallFolder(dir, "My App"));
  }
  EXPECT_EQ(dir, "Q:\\does\\not exist");
}

TEST(NextDiskPrompt, AsksForTheDiskUntilTheFileIsThere) {
  const std::string word = qvtest::EnvOr("QV_WORD", "");
  ASSERT_FALSE(word.empty());
  MakeDir("C:\\disks");
  MakeDir("C:\\disks\\two");
  WriteFile("C:\\disks\\two\\SETUP.2", "disk two");
  WriteFile("D:\\SETUP.2", "disk two at a root");
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\disks"));

  struct TView {
    std::string caption, label, path_label, edit, browse, ok, cancel;
    SIZE client{};
    RECT window{};
    TGeometry label_g{}, image_g{}, edit_g{}, browse_g{}, ok_g{}, cancel_g{}, path_label_g{};
    std::vector<qvui::MessageBoxInfo> boxes;
    std::string edit_after_no, chooser_prompt, chooser_edit, edit_after_browse, edit_after_cancelled_browse;
  } v;
  std::string dir;
  bool ok = false;
  {
    TDriver driver([&] {
      HWND dlg = WaitForOwnWindow("Please Insert the Next Disk");
      v.caption = qvui::GetText(dlg);
      v.client = ClientSize(dlg);
      GetWindowRect(dlg, &v.window);
      for (const qvui::ControlInfo& c : qvui::Controls(dlg)) {
        const TGeometry g = GeometryOf(c.hwnd);
        if (c.class_name == "Edit") {
          v.edit = c.text;
          v.edit_g = g;
        } else if (c.class_name == "Button") {
          if (qvui::StripAccelerator(c.text) == "Browse...") v.browse = c.text, v.browse_g = g;
          if (c.text == "OK") v.ok = c.text, v.ok_g = g;
          if (c.text == "Cancel") v.cancel = c.text, v.cancel_g = g;
        } else if (c.class_name == "Static") {
          if (g.left == 72) v.label = c.text, v.label_g = g;
          if (g.left == 8 && g.top == 8) v.image_g = g;
          if (g.top == 80) v.path_label = c.text, v.path_label_g = g;
        }
      }
      e2e::Screenshot("next-disk-" + word, dlg);
      HWND edit = ChildOfClass(dlg, "Edit");
      // The file is not in the folder shown.
      qvui::ClickButton(dlg, "OK");
      v.boxes.push_back(AnswerBox("Error", "OK", dlg));
      // Blanks only: the bare name, looked for in the current folder.
      qvui::SetEditText(edit, "   ");
      qvui::ClickButton(dlg, "OK");
      v.boxes.push_back(AnswerBox("Error", "OK", dlg));
      // Longer than the program's buffers.
      qvui::SetEditText(edit, "C:\\" + std::string(300, 'y'));
      qvui::ClickButton(dlg, "OK");
      v.boxes.push_back(AnswerBox("Error", "OK", dlg));
      // Cancel answered No: the dialog stays with its path.
      qvui::SetEditText(edit, "C:\\nowhere\\");
      qvui::ClickButton(dlg, "Cancel");
      v.boxes.push_back(AnswerBox("Exit Setup", "No", dlg));
      v.edit_after_no = qvui::GetText(edit);
      // Browse, cancelled: the path stays.
      qvui::SetEditText(edit, "  C:\\disks  ");
      qvui::ClickButton(dlg, "Browse...");
      HWND chooser = WaitForOwnWindow("Select Folder");
      qvui::ClickButton(chooser, "Cancel");
      WaitEnabled(dlg);
      v.edit_after_cancelled_browse = qvui::GetText(edit);
      // Browse: the chooser starts with the trimmed path; a folder picked in
      // it is taken as it is, nothing appended.
      qvui::ClickButton(dlg, "Browse...");
      chooser = WaitForOwnWindow("Select Folder");
      TChooserView cv = ReadChooser(chooser);
      v.chooser_prompt = cv.prompt;
      v.chooser_edit = cv.edit;
      HWND list = ChildOfClass(chooser, "ListBox");
      HWND chooser_edit = ChildOfClass(chooser, "Edit");
      DoubleClickItem(list, 0);
      WaitForText(chooser_edit, "C:\\");
      DoubleClickItem(list, ListIndexOf(list, "disks"));
      WaitForText(chooser_edit, "C:\\disks");
      DoubleClickItem(list, ListIndexOf(list, "two"));
      WaitForText(chooser_edit, "C:\\disks\\two");
      qvui::ClickButton(chooser, "OK");
      WaitEnabled(dlg);
      WaitForText(edit, "C:\\disks\\two");
      v.edit_after_browse = qvui::GetText(edit);
      // Blanks around and a ".." are accepted.
      qvui::SetEditText(edit, "  C:\\disks\\..\\disks\\two  ");
      qvui::ClickButton(dlg, "OK");
    });
    ok = PromptForDisk(2, "SETUP.2", "C:\\nowhere\\", dir);
  }
  EXPECT_TRUE(ok);
  EXPECT_EQ(dir, "C:\\disks\\two\\");

  EXPECT_EQ(v.caption, "Please Insert the Next Disk");
  EXPECT_EQ(v.client.cx, 377);
  EXPECT_EQ(v.client.cy, 169);
  // Centred on the 1024 x 768 screen.
  EXPECT_LE(std::abs((v.window.left + v.window.right) / 2 - 512), 1);
  EXPECT_LE(std::abs((v.window.top + v.window.bottom) / 2 - 384), 1);
  EXPECT_EQ(v.label, "Please insert Disk 2 and click OK.\r\n\r\nIf the files on this disk can be found in a " + word +
                         " other than the one displayed below, enter the correct path or click Browse.");
  EXPECT_EQ(v.label_g, (TGeometry{72, 8, 297, 72}));
  EXPECT_EQ(v.image_g, (TGeometry{8, 8, 48, 48}));
  EXPECT_EQ(v.path_label, "&Path:");
  EXPECT_EQ(v.path_label_g.left, 8);
  EXPECT_EQ(v.edit, "C:\\nowhere\\");
  EXPECT_EQ(v.edit_g, (TGeometry{8, 96, 281, 22}));
  EXPECT_EQ(v.browse, "&Browse...");
  EXPECT_EQ(v.browse_g, (TGeometry{296, 95, 73, 23}));
  EXPECT_EQ(v.ok_g, (TGeometry{216, 137, 73, 23}));
  EXPECT_EQ(v.cancel_g, (TGeometry{296, 137, 73, 23}));

  ASSERT_EQ(v.boxes.size(), 4u);
  const std::string tail = ". Please insert the correct disk or select another " + word + ".";
  EXPECT_EQ(v.boxes[0].text, "The file \"SETUP.2\" could not be located in \"C:\\nowhere\"" + tail);
  EXPECT_EQ(v.boxes[0].icon, qvui::MessageBoxIcon::kExclamation);
  EXPECT_EQ(v.boxes[0].buttons, (std::vector<std::string>{"OK"}));
  EXPECT_EQ(v.boxes[1].text, "The file \"SETUP.2\" could not be located in \"C:\\disks\"" + tail);
  EXPECT_EQ(v.boxes[2].text, "The file \"SETUP.2\" could not be located in \"C:\\" + std::string(300, 'y') + "\"" +
                                 tail);
  EXPECT_EQ(v.boxes[3].text,
            "Setup is not complete. If you quit now, the program will not be installed.\r\n\r\nYou may run the "
            "Setup program again at a another time to complete the installation.\r\n\r\nExit Setup?");
  EXPECT_EQ(v.boxes[3].buttons, (std::vector<std::string>{"Yes", "No"}));
  EXPECT_EQ(v.edit_after_no, "C:\\nowhere\\");
  EXPECT_EQ(v.edit_after_cancelled_browse, "  C:\\disks  ");
  EXPECT_EQ(v.chooser_prompt, "Please specify the location of the Next Disk and click OK to continue.");
  EXPECT_EQ(v.chooser_edit, "C:\\disks");
  EXPECT_EQ(v.edit_after_browse, "C:\\disks\\two");

  // A drive typed as "D:" is its root; Cancel confirmed ends the prompt.
  std::vector<qvui::MessageBoxInfo> boxes;
  {
    TDriver driver([&] {
      HWND dlg = WaitForOwnWindow("Please Insert the Next Disk");
      qvui::ClickButton(dlg, "OK");
      boxes.push_back(AnswerBox("Error", "OK", dlg));
      PostMessageA(ChildOfClass(dlg, "Edit"), WM_KEYDOWN, VK_ESCAPE, 0);
      boxes.push_back(AnswerBox("Exit Setup", "Yes", dlg));
    });
    std::string untouched = "unchanged";
    EXPECT_FALSE(PromptForDisk(3, "SETUP.3", "D:", untouched));
    EXPECT_EQ(untouched, "unchanged");
  }
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "The file \"SETUP.3\" could not be located in \"D:\\\"" + tail);
  {
    TDriver driver([&] {
      HWND dlg = WaitForOwnWindow("Please Insert the Next Disk");
      qvui::ClickButton(dlg, "OK");
    });
    EXPECT_TRUE(PromptForDisk(2, "SETUP.2", "D:", dir));
  }
  EXPECT_EQ(dir, "D:\\");
}
