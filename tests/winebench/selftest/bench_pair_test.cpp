// One half of the concurrency check: two copies run at the same time, each in
// its own prefix with its own X display and Windows version, and meet in a
// shared directory.
//
//   QV_PAIR_SELF / QV_PAIR_PEER   "a" and "b" (or the other way round)
//   QV_PAIR_DIR_WIN               the shared directory (Z:\ form, trailing '\')
//   QV_EXPECT_VERSION             "major.minor.platform" of this half
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(BenchPair, BothHalvesRunAtOnceWithoutSharingAnything) {
  const std::string self = Env("QV_PAIR_SELF"), peer = Env("QV_PAIR_PEER");
  const std::string dir = Env("QV_PAIR_DIR_WIN");
  ASSERT_FALSE(self.empty());
  ASSERT_FALSE(peer.empty());
  ASSERT_FALSE(dir.empty());

  // A marker in this prefix's C: drive; the peer writes its own in its prefix.
  std::string mine = "C:\\pair-" + self + ".txt", theirs = "C:\\pair-" + peer + ".txt";
  std::ofstream(mine) << self;
  ASSERT_TRUE(Exists(mine));

  // A window of this half's own.
  std::string caption = "Pair " + self;
  HWND w = CreateWindowExA(0, "Static", caption.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                           200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(w, nullptr);

  {
    std::ofstream ready(dir + self + ".tmp");
    ready << Env("DISPLAY") << "\n";
  }
  ASSERT_TRUE(MoveFileA((dir + self + ".tmp").c_str(), (dir + self + ".ready").c_str()));

  // Wait for the other half: the check starts both together, so it must come.
  std::string peer_ready = dir + peer + ".ready";
  DWORD start = GetTickCount();
  while (!Exists(peer_ready) && GetTickCount() - start < 60000) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(50);
  }
  ASSERT_TRUE(Exists(peer_ready)) << "the other half never started";

  // Both are running now: nothing of the other is visible here.
  std::string peer_display = ReadFile(peer_ready);
  EXPECT_FALSE(Env("DISPLAY").empty());
  EXPECT_NE(peer_display, Env("DISPLAY") + "\n") << "both halves got display " << Env("DISPLAY");
  EXPECT_FALSE(Exists(theirs)) << "the prefixes are shared";
  EXPECT_EQ(FindWindowA(nullptr, ("Pair " + peer).c_str()), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, caption.c_str()), w);

  unsigned major = 0, minor = 0, platform = 0;
  ASSERT_EQ(std::sscanf(Env("QV_EXPECT_VERSION").c_str(), "%u.%u.%u", &major, &minor, &platform), 3);
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  ASSERT_TRUE(GetVersionExA(&vi));
  EXPECT_EQ(vi.dwMajorVersion, major);
  EXPECT_EQ(vi.dwMinorVersion, minor);
  EXPECT_EQ(vi.dwPlatformId, platform);

  // Stay until the peer has checked too, so neither half's teardown can
  // disturb the other's checks.
  std::ofstream(dir + self + ".done") << "done";
  start = GetTickCount();
  while (!Exists(dir + peer + ".done") && GetTickCount() - start < 60000) Sleep(50);
  EXPECT_TRUE(Exists(dir + peer + ".done"));
  DestroyWindow(w);
}

}  // namespace
