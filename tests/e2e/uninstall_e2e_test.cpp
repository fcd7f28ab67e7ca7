// The sample product installed through the wizard and removed again: the
// distribution is built by qvbuild from samples/sample-app/sample.json with
// this build's Uninstal.exe, setup.exe is driven through every page with the
// proposed choices, then the command line of the Uninstall key's
// UninstallString is run and answered. The machine afterwards equals its
// snapshot before the installation, apart from what stays on purpose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"
#include "snapshot.h"
#include "tests/winebench/qvtest.h"

using namespace qvui;
using namespace e2e;

namespace {

const char* kUninstallBase = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Runs a program of the build to its end; its exit code.
DWORD RunToEnd(const std::string& cmdline) {
  UiProcess p(cmdline);
  return p.WaitForExitCode(120000);
}

std::string RegString(HKEY root, const std::string& key, const char* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "";
  char buf[1024] = {};
  DWORD size = sizeof buf - 1, type = 0;
  LONG r = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  return r == ERROR_SUCCESS && type == REG_SZ ? std::string(buf) : std::string();
}

// The sample's Uninstall key (the first "Sample App 1.0_qvN").
std::string SampleUninstallKey() {
  for (int n = 1; n < 10; ++n) {
    const std::string key = std::string(kUninstallBase) + "\\Sample App 1.0_qv" + std::to_string(n);
    if (!RegString(HKEY_LOCAL_MACHINE, key, "UninstallString").empty()) return key;
  }
  return "";
}

void InstallThroughTheWizard(const std::string& dist) {
  SetupRun s(dist);
  HWND w = s.WaitPage("Welcome");
  ClickButton(w, "Next >");
  ASSERT_TRUE(WaitUntil([&] { return GetText(w) != "Welcome"; }, kTimeout));
  for (int guard = 0; guard < 10; ++guard) {
    const std::string caption = GetText(w);
    if (caption == "Software License Agreement") {
      ClickButton(w, "Yes");
    } else if (caption == "Choose Destination Location") {
      ClickButton(w, "Next >");
      // The proposed folder does not exist yet: Setup asks.
      WaitUntil([&] {
        WindowQuery q;
        q.caption = "Folder Does Not Exist";
        q.pid = s.Pid();
        return FindTopLevel(q) != nullptr || GetText(w) != caption;
      }, kTimeout);
      if (GetText(w) == caption) s.Answer("Folder Does Not Exist", "Yes");
    } else if (caption == "Start Copying Files") {
      ClickButton(w, "Next >");
      break;
    } else {
      ClickButton(w, "Next >");
    }
    const std::string before = caption;
    ASSERT_TRUE(WaitUntil([&] { return GetText(w) != before || !IsWindowVisible(w); }, kTimeout))
        << "stuck on " << before;
  }
  ASSERT_TRUE(WaitUntil([&] {
    const std::string c = GetText(w);
    return IsWindowVisible(w) && (c == "Information" || c == "Setup Complete");
  }, 180000)) << GetText(w);
  if (GetText(w) == "Information") {
    ClickButton(w, "Next >");
    ASSERT_TRUE(WaitCaption(w, "Setup Complete"));
  }
  // The README is not opened: no viewer of Wine's stays behind.
  HWND readme = s.Control(w, "Yes, I would like to view the Readme file");
  if (IsWindowVisible(readme) && ReadControl(readme).checked == 1) Click(readme);
  ClickButton(w, "Finish");
  EXPECT_EQ(s.ExitCode(60000), 0u);
  // The run entry started the sample's program, which says hello: answered,
  // and gone, so that its file is not in use.
  WindowQuery hello;
  hello.caption = "Sample App";
  hello.class_name = "#32770";
  HWND box = WaitForWindow(hello, 60000);
  AnswerMessageBox(box, "OK");
  ASSERT_TRUE(WaitForWindowGone(box, kTimeout));
}

TEST(Uninstall, SampleInstalledThroughTheWizardLeavesOnlyItsIniFileEmpty) {
  const std::string src = "Z:" + qvtest::EnvOr("QV_SOURCE_DIR", "");
  const std::string dist = TestDir() + "\\dist";
  ASSERT_EQ(RunToEnd(BinPath("qvbuild.exe") + " \"" + src + "/samples/sample-app/sample.json\" -o " +
                     Quote(dist) + " --uninstaller " + BinPath("Uninstal.exe")),
            0u);
  ASSERT_TRUE(CopyFileA((qvtest::BinDir() + "setup.exe").c_str(),
                        (dist + "\\setup.exe").c_str(), FALSE));

  const qvsnap::Snapshot before = qvsnap::TakeSnapshot();
  InstallThroughTheWizard(dist);
  ASSERT_FALSE(HasFailure());
  const qvsnap::Snapshot installed = qvsnap::TakeSnapshot();
  const std::vector<std::string> added = qvsnap::Diff(before, installed);
  std::printf("the installation changed %zu things\n", added.size());
  EXPECT_GT(added.size(), 10u);

  const std::string key = SampleUninstallKey();
  ASSERT_FALSE(key.empty()) << "no Uninstall key of the sample";
  const std::string cmdline = RegString(HKEY_LOCAL_MACHINE, key, "UninstallString");
  std::printf("UninstallString: %s\n", cmdline.c_str());
  std::string windir = qvtest::EnvOr("WINDIR", "");
  EXPECT_EQ(cmdline.rfind("\"" + windir + "\\Uninstal.exe\" /U \"", 0), 0u) << cmdline;

  UiProcess u(cmdline);
  HWND confirm = WaitForMessageBox("Uninstall", kTimeout, u.Pid());
  EXPECT_EQ(ReadMessageBox(confirm).text,
            "Remove Sample App from this computer?\r\n\r\nThis takes away its files, program "
            "icons and settings.");
  AnswerMessageBox(confirm, "Yes");
  ASSERT_TRUE(WaitForWindowGone(confirm, kTimeout));
  // SAMPLE.DLL is a shared file no other product counts: the question, Yes.
  HWND shared = WaitForMessageBox("Remove Shared File?", 60000, u.Pid());
  EXPECT_THAT(ReadMessageBox(shared).text, ::testing::HasSubstr("SAMPLE.DLL"));
  AnswerMessageBox(shared, "Yes");
  ASSERT_TRUE(WaitForWindowGone(shared, kTimeout));
  HWND done = WaitForMessageBox("Uninstall", 60000, u.Pid());
  EXPECT_EQ(ReadMessageBox(done).text, "Sample App was removed from this computer.");
  AnswerMessageBox(done, "OK");
  EXPECT_EQ(u.WaitForExitCode(kTimeout), 0u);

  std::string diff;
  for (const std::string& d : qvsnap::Diff(
           before, qvsnap::TakeSnapshot(),
           {{windir + "\\Uninstal.exe",
             "kept on purpose: the uninstaller every product's Uninstall entry names"},
            {"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
             "the shared-file counts' key, made for the first shared file, stays: "
             "only its value goes"}}))
    diff += d + "\n";
  // The uninstaller takes the INI entry's section back, not the file: the
  // profile functions leave SAMPLE.INI empty.
  EXPECT_EQ(diff, "file added: " + windir + "\\SAMPLE.INI (0 bytes)\n");
}

}  // namespace
