// Script loading against its floor, on a script of 10,000 file entries
// (20,001 blocks: the header, the file entries and their locations).
//
// load:  LoadSetupScript through the program's own file layer (TWin32File in
//        the Windows build, run under Wine; TStdioFile natively).
// floor: the file read whole with one call, then for each block only what it
//        needs: Adler-32 of the 12 header bytes, inflateInit_/inflate/
//        inflateEnd of its stream into one reused buffer, Adler-32 of the
//        data.
// Both sides run alternately in the same process; the best round of each
// is printed with their ratio.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "setupdata/script.h"
#include "tests/testdata.h"
#include "tools/scriptwriter/scriptwriter.h"

#ifdef _WIN32
#include "setupdata/win32file.h"
using TBenchFile = TWin32File;
#else
using TBenchFile = TStdioFile;
#endif

namespace {

// Natively the thread's processor time in milliseconds: on a machine shared
// with other work, far steadier than the wall clock. Under Wine the thread
// times move in steps of a clock tick, too coarse for one round, so the
// performance counter (wall clock) serves there. The best of many rounds is
// taken either way.
double NowMs() {
#ifdef _WIN32
  LARGE_INTEGER now, freq;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&freq);
  return static_cast<double>(now.QuadPart) * 1e3 / static_cast<double>(freq.QuadPart);
#else
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
#endif
}

#ifdef _WIN32
const char* const kClock = "wall";
#else
const char* const kClock = "CPU";
#endif

uint32_t LE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The whole file with one read call (the C library's in both builds).
std::vector<uint8_t> ReadWhole(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) std::abort();
  std::fseek(f, 0, SEEK_END);
  std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
  return bytes;
}

// Returns the number of blocks seen, so that the work cannot be left out.
size_t Floor(const std::string& path, std::vector<uint8_t>& out) {
  std::vector<uint8_t> bytes = ReadWhole(path);
  size_t pos = 8, blocks = 0;
  uint32_t sink = 0;
  while (pos + 16 <= bytes.size()) {
    const uint8_t* h = bytes.data() + pos;
    sink ^= static_cast<uint32_t>(adler32(1, h + 4, 12));
    int32_t compressed = static_cast<int32_t>(LE32(h + 4));
    uint32_t size = LE32(h + 8);
    pos += 16;
    if (compressed < 0 || size > out.size()) std::abort();  // the bench script is compressed
    z_stream s{};
    inflateInit_(&s, ZLIB_VERSION, static_cast<int>(sizeof s));
    s.next_in = bytes.data() + pos;
    s.avail_in = static_cast<uInt>(compressed);
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    if (inflate(&s, Z_FINISH) != Z_STREAM_END) std::abort();
    inflateEnd(&s);
    sink ^= static_cast<uint32_t>(adler32(1, out.data(), size));
    pos += static_cast<size_t>(compressed);
    ++blocks;
  }
  return blocks + (sink == 0x12345678u);
}

size_t Load(const std::string& path) {
  TBenchFile f(path);
  SetupScript s;
  LoadSetupScript(f, 0, s);
  return 1 + s.FileEntries.size() + s.FileLocationEntries.size();
}

}  // namespace

int main(int argc, char** argv) {
  const int kFiles = 10000;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
  sw::ScriptBuilder b;
  b.Header.ApplicationName = "Benchmark";
  for (int i = 0; i < kFiles; ++i) {
    sw::FileSpec f = testdata::FileEntry(
        "{app}\\dir" + std::to_string(i % 50) + "\\file" + std::to_string(i) + ".dat",
        sw::Bytes(16, static_cast<uint8_t>(i)));
    b.Files.push_back(std::move(f));
  }
  sw::Bytes script = b.Build().Script;
  const std::string path = "script_load_bench.SETUP.0";
  sw::WriteFileBytes(path, script);

  std::vector<uint8_t> out(32000);
  double best_load = 1e30, best_floor = 1e30;
  size_t loaded = 0, walked = 0;
  for (int round = 0; round < rounds; ++round) {
    double t0 = NowMs();
    loaded = Load(path);
    double t1 = NowMs();
    walked = Floor(path, out);
    double t2 = NowMs();
    best_load = std::min(best_load, t1 - t0);
    best_floor = std::min(best_floor, t2 - t1);
  }
  std::remove(path.c_str());
  if (loaded != walked) {
    std::printf("the two sides saw different block counts: %zu, %zu\n", loaded, walked);
    return 1;
  }
#ifdef _WIN32
  const char* layer = "TWin32File";
#else
  const char* layer = "TStdioFile";
#endif
  std::printf("script: %zu bytes, %zu blocks (%d file entries)\n", script.size(), loaded, kFiles);
  std::printf("load through %s (best of %d): %.2f ms %s\n", layer, rounds, best_load, kClock);
  std::printf("floor (best of %d):              %.2f ms %s\n", rounds, best_floor, kClock);
  std::printf("ratio load/floor: %.2f\n", best_load / best_floor);
  return 0;
}
