// What the runner promises a Windows test program, where a broken promise
// would let a product test pass or fail for the wrong reason: the Windows
// version it asked for, the caption buttons' font (screenshots), setup.exe and the helper programs of its own build
// (not the other build's), a prefix and a scratch directory that no earlier
// run has touched and, run as two halves at once (concurrent_check.py), neither
// half seeing the other's files, windows or display.
//
//   QV_EXPECT_VERSION   "major.minor.platform", e.g. "4.0.1" for win95
//   QV_PAIR_SELF, QV_PAIR_PEER   "a" and "b" (or the other way round), and
//   QV_PAIR_DIR_WIN     the directory the halves meet in: the concurrency check only
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/winebench/qvtest.h"

namespace {

using qvtest::EnvOr;
using qvtest::FileThere;

// Waits up to a minute for a file the other half writes, serving this
// half's window meanwhile.
bool WaitForFile(const std::string& path) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(50)) {
    if (FileThere(path)) return true;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  return false;
}

int CALLBACK CountFace(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
  ++*reinterpret_cast<int*>(found);
  return 1;
}

TEST(Bench, VersionFreshPrefixAndScratchDirectory) {
  unsigned major = 0, minor = 0, platform = 0;
  ASSERT_EQ(std::sscanf(EnvOr("QV_EXPECT_VERSION", "").c_str(), "%u.%u.%u", &major, &minor, &platform), 3);
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  ASSERT_TRUE(GetVersionExA(&vi));
  EXPECT_EQ(vi.dwMajorVersion, major);
  EXPECT_EQ(vi.dwMinorVersion, minor);
  EXPECT_EQ(vi.dwPlatformId, platform);
  // GetVersion packs the same: low byte major, next byte minor, top bit set
  // on the Windows 95 family.
  const DWORD v = GetVersion();
  EXPECT_EQ(LOBYTE(LOWORD(v)), major);
  EXPECT_EQ(HIBYTE(LOWORD(v)), minor);
  EXPECT_EQ((v & 0x80000000u) != 0, platform == VER_PLATFORM_WIN32_WINDOWS);

  // Marlett is there: Wine draws the caption buttons with it, and without it
  // they show as the letters 0, 1, 2 and r.
  LOGFONTA marlett{};
  marlett.lfCharSet = DEFAULT_CHARSET;
  lstrcpyA(marlett.lfFaceName, "Marlett");
  int found = 0;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExA(screen, &marlett, CountFace, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  EXPECT_GT(found, 0) << "no Marlett in the prefix";

  // QV_BUILD_DIR_WIN is the directory of this very program.
  char self_path[MAX_PATH];
  const DWORD len = GetModuleFileNameA(nullptr, self_path, MAX_PATH);
  std::string self_dir(self_path, len < MAX_PATH ? len : 0);
  self_dir.erase(self_dir.find_last_of('\\') + 1);
  EXPECT_EQ(lstrcmpiA(self_dir.c_str(), qvtest::BinDir().c_str()), 0) << self_dir;

  // Every run starts from a copy of the template: a marker left by an
  // earlier run is not there.
  const std::string self = EnvOr("QV_PAIR_SELF", "");
  const std::string marker = "C:\\qv-bench-" + (self.empty() ? "marker" : self) + ".txt";
  EXPECT_FALSE(FileThere(marker)) << "prefix was reused";
  ASSERT_TRUE(qvtest::WriteWholeFile(marker, "x"));

  // The scratch directory is empty and the working directory.
  const std::string tmp = qvtest::TmpDir();
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((tmp + "*").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << tmp;
  int entries = 0;
  do {
    const std::string name = fd.cFileName;
    entries += name != "." && name != "..";
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  EXPECT_EQ(entries, 0) << "scratch directory not empty";
  char cwd[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, cwd);
  std::string cwds(cwd, n < MAX_PATH ? n : 0);
  if (cwds.empty() || cwds.back() != '\\') cwds += '\\';
  EXPECT_EQ(lstrcmpiA(cwds.c_str(), tmp.c_str()), 0) << cwds;

  if (self.empty()) return;
  // The concurrency check: both halves running at once, each with a window
  // of its own, see nothing of the other.
  const std::string peer = EnvOr("QV_PAIR_PEER", ""), dir = EnvOr("QV_PAIR_DIR_WIN", "");
  const std::string caption = "Pair " + self;
  HWND w = CreateWindowExA(0, "Static", caption.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                           200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(w, nullptr);
  const std::string display = EnvOr("DISPLAY", "");
  ASSERT_FALSE(display.empty());
  ASSERT_TRUE(qvtest::WriteWholeFile(dir + self + ".tmp", display));
  ASSERT_TRUE(MoveFileA((dir + self + ".tmp").c_str(), (dir + self + ".ready").c_str()));
  ASSERT_TRUE(WaitForFile(dir + peer + ".ready")) << "the other half never started";
  EXPECT_NE(qvtest::ReadWholeFile(dir + peer + ".ready"), display) << "both halves got one display";
  EXPECT_FALSE(FileThere("C:\\qv-bench-" + peer + ".txt")) << "the prefixes are shared";
  EXPECT_EQ(FindWindowA(nullptr, ("Pair " + peer).c_str()), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, caption.c_str()), w);
  // Stay until the peer has checked too, so that neither half's teardown
  // disturbs the other's checks.
  ASSERT_TRUE(qvtest::WriteWholeFile(dir + self + ".done", "done"));
  EXPECT_TRUE(WaitForFile(dir + peer + ".done"));
  DestroyWindow(w);
}

}  // namespace
