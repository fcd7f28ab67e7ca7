// From the start of setup.exe to the wizard's Welcome page drawn on the
// screen, for a script of 10,000 file entries beside one of 10, measured in
// the same run under Wine with a display (wall clock, median of the rounds).
// The difference should be the loading of the larger script and little
// else. Not a test: it prints figures.
//
//   tests/benchmarks/wine-bench.sh build/win64 welcome_bench [rounds]
//   (with QV_BENCH_DISPLAY=1: the Welcome page needs a display)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/winebench/qvtest.h"
#include "tools/scriptwriter/scriptwriter.h"
#include "uidriver.h"

namespace {

std::string Dir(const std::string& name) { return qvtest::TmpDir() + name; }

// A distribution of count small files (one disk).
std::string MakeDist(const std::string& name, int count) {
  sw::ScriptBuilder b = testdata::Product("Bench", "1.0");
  b.Header.MinNTVersionMajor = 3;
  b.Header.BackgroundColor = 0x00000080;  // dark red: the side picture's blue stands out
  for (int i = 0; i < count; ++i) {
    sw::FileSpec f = testdata::FileEntry("{app}\\F" + std::to_string(i) + ".DAT",
                                         sw::Bytes(64, static_cast<uint8_t>(i)));
    b.Files.push_back(f);
  }
  const std::string dir = Dir(name);
  CreateDirectoryA(dir.c_str(), nullptr);
  sw::BuildResult r = b.Build();
  sw::WriteFileBytes(dir + "\\SETUP.0", r.Script);
  for (size_t i = 0; i < r.Disks.size(); ++i)
    sw::WriteFileBytes(dir + "\\SETUP." + std::to_string(i + 1), r.Disks[i]);
  std::string exe = qvtest::BinDir() + "setup.exe";
  CopyFileA(exe.c_str(), (dir + "\\setup.exe").c_str(), FALSE);
  return dir;
}

double Now() {
  static LARGE_INTEGER f = [] {
    LARGE_INTEGER x;
    QueryPerformanceFrequency(&x);
    return x;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

DWORD ScreenPixel(int x, int y) {
  HDC dc = GetDC(nullptr);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(nullptr, dc);
  return c;
}

// Seconds from CreateProcess to the Welcome page drawn: the wizard window
// visible and its side picture (blue at its top-left) on the screen.
double g_window_seen = 0;  // of the last run: when the wizard window existed

double TimeToWelcome(const std::string& dist) {
  const double start = Now();
  qvui::UiProcess p("\"" + dist + "\\setup.exe\"");
  HWND w = nullptr;
  for (;;) {
    if (!w) {
      qvui::WindowQuery q;
      q.caption = "Welcome";
      q.pid = p.Pid();
      w = qvui::FindTopLevel(q);
      if (w) g_window_seen = Now() - start;
    }
    if (w) {
      POINT pt{8 + 8 + 4, 8 + 4};  // inside the picture, page-relative (8, 8)
      ClientToScreen(w, &pt);
      if (ScreenPixel(pt.x, pt.y) == RGB(0, 0, 255)) break;
    }
    if (Now() - start > 120) throw std::runtime_error("no Welcome page within 120 s");
    Sleep(1);
  }
  const double t = Now() - start;
  p.Terminate();
  return t;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  try {
    const std::string small = MakeDist("small", 10);
    const std::string large = MakeDist("large", 10000);
    TimeToWelcome(small);  // the first start of a prefix pays for Wine's own start-up
    std::vector<double> ts, tl, ws, wl;
    for (int i = 0; i < rounds; ++i) {
      ts.push_back(TimeToWelcome(small));
      ws.push_back(g_window_seen);
      tl.push_back(TimeToWelcome(large));
      wl.push_back(g_window_seen);
    }
    const double ms = Median(ts) * 1000, ml = Median(tl) * 1000;
    std::printf("start to Welcome drawn, median of %d rounds under Wine:\n", rounds);
    std::printf("  10-file script:     %8.1f ms (the wizard window existed after %.1f ms)\n", ms,
                Median(ws) * 1000);
    std::printf("  10,000-file script: %8.1f ms (the wizard window existed after %.1f ms)\n", ml,
                Median(wl) * 1000);
    std::printf("  difference:         %8.1f ms (%.2fx)\n", ml - ms, ml / ms);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "welcome_bench: %s\n", e.what());
    return 1;
  }
}
