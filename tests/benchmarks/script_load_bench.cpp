// Loads a script with 10,000 file entries and prints the load time beside
// the time of reading the same bytes raw, as a ratio.
#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "setupdata/script.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {
double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}
}  // namespace

int main(int argc, char** argv) {
  const int kFiles = 10000;
  const int kRounds = argc > 1 ? std::atoi(argv[1]) : 20;
  sw::ScriptBuilder b;
  b.Header.ApplicationName = "Benchmark";
  for (int i = 0; i < kFiles; ++i) {
    sw::FileSpec f;
    f.DestName = "{app}\\dir" + std::to_string(i % 50) + "\\file" + std::to_string(i) + ".dat";
    f.Contents = sw::Bytes(16, static_cast<uint8_t>(i));
    b.Files.push_back(std::move(f));
  }
  sw::Bytes script = b.Build().Script;
  const std::string path = "script_load_bench.SETUP.0";
  sw::WriteFileBytes(path, script);

  double best_load = 1e9, best_raw = 1e9;
  size_t entries = 0;
  std::vector<uint8_t> raw(script.size());
  for (int round = 0; round < kRounds; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    {
      TStdioFile f(path);
      SetupScript s;
      LoadSetupScript(f, 0, s);
      entries = s.FileEntries.size() + s.FileLocationEntries.size();
    }
    auto t1 = std::chrono::steady_clock::now();
    {
      TStdioFile f(path);
      f.ReadExact(raw.data(), raw.size());
    }
    auto t2 = std::chrono::steady_clock::now();
    best_load = std::min(best_load, Seconds(t0, t1));
    best_raw = std::min(best_raw, Seconds(t1, t2));
  }
  std::remove(path.c_str());
  std::printf("script: %zu bytes, %d file entries (%zu records with locations)\n", script.size(),
              kFiles, entries);
  std::printf("load (best of %d): %.3f ms\n", kRounds, best_load * 1e3);
  std::printf("raw read (best of %d): %.3f ms\n", kRounds, best_raw * 1e3);
  std::printf("ratio load/raw: %.1f\n", best_load / best_raw);
  return 0;
}
