// Checks what the runner promises a Windows test program: the reported
// Windows version, the environment variables, the arguments, the working
// directory, a fresh prefix and (with DISPLAY) the X screen.
//
// Expected values come in through the environment:
//   QV_EXPECT_VERSION   "major.minor.platform", e.g. "4.0.1" for win95
//   QV_EXPECT_DISPLAY   "1" when the test was registered with DISPLAY
//   QV_EXPECT_ARGS      the arguments after the program name, joined by '|'
//   QV_BENCH_PROBE      must arrive exactly as "two words=and more"
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_args;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

bool IsDirectory(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(BenchVersion, GetVersionExReportsTheConfiguredWindows) {
  std::string expect = Env("QV_EXPECT_VERSION");
  ASSERT_FALSE(expect.empty()) << "QV_EXPECT_VERSION not set";
  unsigned major = 0, minor = 0, platform = 0;
  ASSERT_EQ(std::sscanf(expect.c_str(), "%u.%u.%u", &major, &minor, &platform), 3) << expect;

  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  ASSERT_TRUE(GetVersionExA(&vi));
  std::printf("GetVersionEx: %lu.%lu build %lu platform %lu\n", vi.dwMajorVersion,
              vi.dwMinorVersion, vi.dwBuildNumber, vi.dwPlatformId);
  EXPECT_EQ(vi.dwMajorVersion, major);
  EXPECT_EQ(vi.dwMinorVersion, minor);
  EXPECT_EQ(vi.dwPlatformId, platform);

  // GetVersion packs the same facts: low byte major, next byte minor, top bit
  // set on the Windows 95 family.
  DWORD v = GetVersion();
  EXPECT_EQ(LOBYTE(LOWORD(v)), major);
  EXPECT_EQ(HIBYTE(LOWORD(v)), minor);
  EXPECT_EQ((v & 0x80000000u) != 0, platform == VER_PLATFORM_WIN32_WINDOWS);
}

TEST(BenchEnvironment, BuildDirIsTheDirectoryOfTheTestPrograms) {
  std::string dir = Env("QV_BUILD_DIR_WIN");
  ASSERT_GE(dir.size(), 4u);
  EXPECT_EQ(dir.substr(0, 3), "Z:\\");
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_TRUE(IsDirectory(dir)) << dir;

  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::string selfdir(self, n);
  selfdir.erase(selfdir.find_last_of('\\') + 1);
  EXPECT_EQ(lstrcmpiA(selfdir.c_str(), dir.c_str()), 0) << selfdir << " vs " << dir;
}

TEST(BenchEnvironment, ScratchDirIsFreshWritableAndTheWorkingDirectory) {
  std::string tmp = Env("QV_TEST_TMP_WIN");
  std::string unixTmp = Env("QV_TEST_TMP");
  ASSERT_FALSE(tmp.empty());
  ASSERT_FALSE(unixTmp.empty());
  EXPECT_EQ(unixTmp[0], '/');
  ASSERT_TRUE(IsDirectory(tmp)) << tmp;

  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((tmp + "*").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  int entries = 0;
  do {
    std::string name = fd.cFileName;
    if (name != "." && name != "..") ++entries;
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  EXPECT_EQ(entries, 0) << "scratch directory not empty";

  char cwd[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, cwd);
  ASSERT_GT(n, 0u);
  std::string cwds(cwd, n);
  if (cwds.back() != '\\') cwds += '\\';
  EXPECT_EQ(lstrcmpiA(cwds.c_str(), tmp.c_str()), 0) << cwds;

  std::string file = tmp + "probe.txt";
  HANDLE f = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  EXPECT_TRUE(DeleteFileA(file.c_str()));
}

TEST(BenchEnvironment, PrefixIsFresh) {
  // Every run starts from a copy of the template: a marker left by an earlier
  // run (or by a test running at the same time) must not be there.
  const char* marker = "C:\\qv-bench-marker.txt";
  EXPECT_EQ(GetFileAttributesA(marker), INVALID_FILE_ATTRIBUTES) << "prefix was reused";
  HANDLE f = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  char windir[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windir, MAX_PATH), 0u);
  EXPECT_EQ(lstrcmpiA(windir, "C:\\windows"), 0) << windir;
}

TEST(BenchEnvironment, ArgumentsAndEnvironmentArriveUnchanged) {
  std::string joined;
  for (size_t i = 0; i < g_args.size(); ++i) joined += (i ? "|" : "") + g_args[i];
  EXPECT_EQ(joined, Env("QV_EXPECT_ARGS"));
  EXPECT_EQ(Env("QV_BENCH_PROBE"), "two words=and more");
  EXPECT_EQ(Env("WINEDEBUG"), "-all");
}

TEST(BenchEnvironment, DisplayOnlyWhenAskedFor) {
  bool want = Env("QV_EXPECT_DISPLAY") == "1";
  EXPECT_EQ(!Env("DISPLAY").empty(), want) << "DISPLAY=" << Env("DISPLAY");
  if (want) {
    // The runner's Xvfb screen.
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) g_args.push_back(argv[i]);
  return RUN_ALL_TESTS();
}
