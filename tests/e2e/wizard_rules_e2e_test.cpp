// The rules of the run seen from outside: leaving at every page in every
// way (and during copying) leaves the machine as it was; each validation
// message of the destination and program folder pages; the finished page's
// choices (no icons, the common-controls update, the restart); the
// background window's gradient, title, About item and key press.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "e2e_support.h"
#include "snapshot.h"

using namespace qvui;
using namespace e2e;

namespace {

const char* const kExitText =
    "Setup is not complete. If you quit now, the program will not be installed.\r\n\r\nYou may "
    "run the Setup program again at a another time to complete the installation.\r\n\r\nExit "
    "Setup?";
const std::string kApp = "C:\\Program Files\\Brisk Paint";

// A small product with a licence and an information text.
sw::ScriptBuilder Quick() {
  sw::ScriptBuilder b;
  b.Header.ApplicationName = "Brisk Paint";
  b.Header.ApplicationVersionName = "Brisk Paint 1.2";
  b.Header.BackgroundSubtitle = "Painting made quick";
  b.Header.DefaultDirectory = "Brisk Paint";
  b.Header.DefaultProgramFolder = "Brisk Paint";
  b.Header.MinNTVersionMajor = 3;
  b.Header.MinNTVersionMinor = 51;
  b.Header.BackgroundColor = 0x0040C080;  // red 0x80, green 0xC0, blue 0x40
  b.Header.Flags = 0x04;                  // icons may be left out
  b.LicenseText = "Licence of Brisk Paint";
  b.InfoBeforeText = "Before you install Brisk Paint";
  b.Dirs = {{"{app}\\Brushes"}};
  sw::FileSpec exe;
  exe.DestName = "{app}\\BRISK.EXE";
  exe.Contents = sw::Bytes(5000, 'x');
  b.Files = {exe};
  b.Icons = {{"Brisk Paint", "{app}\\BRISK.EXE", "", "{app}", "", 0}};
  return b;
}

void PostKey(HWND wnd, WPARAM key) { PostMessageA(wnd, WM_KEYDOWN, key, 1); }

// Walks from Welcome to the page with the given number (0 to 5).
void WalkTo(SetupRun& s, HWND w, int page) {
  static const char* const captions[] = {"Welcome", "Software License Agreement", "Information",
                                         "Choose Destination Location", "Select Program Folder",
                                         "Start Copying Files"};
  for (int p = 1; p <= page; ++p) {
    ClickButton(w, p == 2 ? "Yes" : "Next >");
    if (p == 4) s.Answer("Folder Does Not Exist", "Yes");
    s.ExpectPage(w, captions[p]);
  }
}

std::vector<qvsnap::IgnoreRule> SetupChurn() {
  return {{"C:\\users\\*\\Temp*", "Wine's temporary files of the started programs"},
          {"HKCU\\Software\\Wine\\Temporary System Parameters*",
           "user32 of a newly started program stores the mouse settings there"}};
}

}  // namespace

// Every page, and every way of closing: the question comes, No keeps the
// page, Yes ends the program with nothing changed on the machine.
TEST(Exit, AtEveryPageInEveryWay) {
  const std::string dist = MakeDistribution("exit", Quick());
  struct Way {
    int page;
    const char* first;   // answered No
    const char* second;  // answered Yes
  } ways[] = {
      {0, "cancel", "esc"},         {1, "no", "close box"},       {2, "background", "cancel"},
      {3, "system menu", "cancel"}, {4, "esc", "background"},     {5, "cancel", "close box"},
  };
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
  for (const Way& way : ways) {
    SCOPED_TRACE("page " + std::to_string(way.page));
    SetupRun s(dist);
    HWND bg = s.Background();
    HWND w = s.WaitPage("Welcome");
    WalkTo(s, w, way.page);
    const std::string caption = GetText(w);
    for (const char* how : {way.first, way.second}) {
      const std::string h = how;
      if (h == "cancel") ClickButton(w, "Cancel");
      if (h == "no") ClickButton(w, "No");
      if (h == "esc") PostKey(w, VK_ESCAPE);
      if (h == "close box") PostClose(w);
      if (h == "system menu") PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
      if (h == "background") PostClose(bg);
      const bool last = how == way.second;
      MessageBoxInfo box = s.Answer("Exit Setup", last ? "Yes" : "No");
      EXPECT_EQ(box.text, kExitText) << how;
      EXPECT_EQ(box.icon, MessageBoxIcon::kQuestion) << how;
      if (!last) {
        EXPECT_TRUE(WaitCaption(w, caption)) << how;
        EXPECT_TRUE(IsWindowVisible(bg));
      }
    }
    EXPECT_EQ(s.ExitCode(), 1u);
  }
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(), SetupChurn()), std::vector<std::string>{});
}

// Closing the background window while files are copied asks through the
// install window; No goes on, Cancel then Yes takes everything back.
TEST(Exit, DuringCopying) {
  sw::ScriptBuilder b = Quick();
  sw::FileSpec big;
  big.DestName = "{app}\\Brushes\\BRUSHES.DAT";
  big.Contents.resize(48 * 1024 * 1024);
  uint32_t x = 7;
  for (uint8_t& c : big.Contents) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  b.Files.push_back(big);
  const std::string dist = MakeDistribution("copying", b);
  const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
  SetupRun s(dist);
  HWND bg = s.Background();
  HWND w = s.WaitPage("Welcome");
  WalkTo(s, w, 5);
  ClickButton(w, "Next >");
  WindowQuery q;
  q.caption = "Setup";
  q.pid = s.Pid();
  q.exclude = bg;
  HWND install = WaitForWindow(q, kTimeout);
  PostClose(bg);
  EXPECT_EQ(s.Answer("Exit Setup", "No").text, kExitText);
  EXPECT_TRUE(IsWindowVisible(install));
  Screenshot("copying-install-window", install);
  ClickButton(install, "Cancel");
  EXPECT_EQ(s.Answer("Exit Setup", "Yes").text, kExitText);
  EXPECT_EQ(s.ExitCode(), 1u);
  EXPECT_FALSE(Exists(kApp));
  EXPECT_EQ(qvsnap::Diff(before, qvsnap::TakeSnapshot(), SetupChurn()), std::vector<std::string>{});
}

// Each message of the destination and program folder pages once, with the
// text as typed (trimmed) left in the edit and the page kept.
TEST(Validation, DestinationAndGroupMessages) {
  sw::ScriptBuilder b = Quick();
  b.LicenseText.clear();
  b.InfoBeforeText.clear();
  const std::string dist = MakeDistribution("validation", b);
  CreateDirectoryA("C:\\Existing", nullptr);
  SetupRun s(dist);
  HWND w = s.WaitPage("Welcome");
  ClickButton(w, "Next >");
  // Without licence and information the destination follows Welcome, and
  // Back returns there.
  s.ExpectPage(w, "Choose Destination Location");
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Welcome");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Choose Destination Location");
  HWND dir = EditAt(w, 0);
  struct Case {
    const char* typed;
    const char* kept;
    const char* message;
  } cases[] = {
      {"  C:\\A\\\\B  ", "C:\\A\\\\B",
       "Setup cannot install to a UNC pathname. If you are trying to install to a network, you "
       "will need to map a network drive."},
      {"C:\\", "C:\\", "You must enter a full path with drive letter; for example:\r\nC:\\APP"},
      {"C:\\A,B", "C:\\A,B",
       "The directory name cannot include any of the following characters after the "
       "colon:\r\n\r\n/ : * ? \" < > | ,"},
      {"1:\\APP", "1:\\APP", "The drive you selected does not exist. Please select another."},
  };
  for (const Case& c : cases) {
    SetEditText(dir, c.typed);
    ClickButton(w, "Next >");
    MessageBoxInfo box = s.Answer("Error", "OK");
    EXPECT_EQ(box.text, c.message) << c.typed;
    EXPECT_EQ(box.icon, MessageBoxIcon::kExclamation) << c.typed;
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(GetText(dir), c.kept) << c.typed;
    s.ExpectPage(w, "Choose Destination Location");
  }
  // A drive with no free space at all: Q: stands for /proc.
  DefineUnixDrive('Q', "/proc");
  SetEditText(dir, "Q:\\APP\\");
  ClickButton(w, "Next >");
  const std::string space =
      "Setup requires at least 4 KB of free space to install, but the selected drive only has 0 KB "
      "available.\r\n\r\nDo you want to continue anyway?";
  MessageBoxInfo q1 = s.Answer("Not Enough Disk Space", "No");
  EXPECT_EQ(q1.text, space);
  EXPECT_EQ(q1.icon, MessageBoxIcon::kQuestion);
  EXPECT_EQ(GetText(dir), "Q:\\APP");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Not Enough Disk Space", "Yes").text, space);
  EXPECT_EQ(s.Answer("Folder Does Not Exist", "No").text,
            "The Installation Folder 'Q:\\APP' does not exist. \r\n\r\nDo you wish Setup to create "
            "it for you?");
  s.ExpectPage(w, "Choose Destination Location");
  DefineUnixDrive('Q', "");
  // A drive letter with nothing behind it.
  SetEditText(dir, "Q:\\APP");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Error", "OK").text,
            "The drive you selected does not exist. Please select another.");
  // An existing folder asks nothing; its trailing backslash goes.
  SetEditText(dir, "C:\\Existing\\");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Select Program Folder");
  HWND group = EditAt(w, 0);
  SetEditText(group, "   ");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Error", "OK").text, "You must enter a group name.");
  EXPECT_EQ(GetText(group), "");
  SetEditText(group, " Tools/Paint ");
  ClickButton(w, "Next >");
  EXPECT_EQ(s.Answer("Error", "OK").text,
            "The group name cannot include any of the following characters:\r\n\r\n\\ / : * ? \" "
            "< > | ,");
  EXPECT_EQ(GetText(group), "Tools/Paint");
  SetEditText(group, "Paint");
  ClickButton(w, "Next >");
  s.ExpectPage(w, "Start Copying Files");
  ClickButton(w, "< Back");
  ClickButton(w, "< Back");
  s.ExpectPage(w, "Choose Destination Location");
  EXPECT_EQ(GetText(dir), "C:\\Existing");
  ClickButton(w, "Cancel");
  s.Answer("Exit Setup", "Yes");
  EXPECT_EQ(s.ExitCode(), 1u);
  EXPECT_EQ(ListTree("C:\\Existing"), std::vector<std::string>{});
}
