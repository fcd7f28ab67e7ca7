// The copy phase under Wine: a distribution of 2,000 files of mixed data
// (about 200 MB) on one disk, installed by the real driver in the install
// window of the installation test host, timed from the file step's status
// text to the end of its last file; beside it, in the same run, a bare loop
// that inflates the same streams into files with 32000-byte reads and
// nothing else. Then the peak working set of the host installing one 1 GB
// file against one 1 MB file.
//
//   copy_bench.exe [rounds] [--no-memory] [--files N]
//
// --files N installs the first N files only (to try a change quickly; the
// figures to quote are the full 2,000). Besides both sides and their ratio
// it prints where the file step's time went, part by part (the host's
// clock: each sub-step of the file rules and each window call, without the
// parts inside it, "inflate and checksum" being what extraction does
// itself), and the longest time between two check points.
//
// Run under Wine with a display (the install window):
//   tests/benchmarks/wine-bench.sh --display build/win64 copy_bench
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/testdata.h"
#include "tests/wine/installhost_client.h"
#include "tools/scriptwriter/scriptwriter.h"
#include "uidriver.h"

namespace {

constexpr uint32_t kChunk = 32000;

double NowMs() {
  LARGE_INTEGER now, freq;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&freq);
  return static_cast<double>(now.QuadPart) * 1e3 / static_cast<double>(freq.QuadPart);
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "copy_bench: %s\n", why.c_str());
  std::exit(1);
}

void WriteAll(HANDLE h, const void* data, size_t n) {
  DWORD written = 0;
  if (!WriteFile(h, data, static_cast<DWORD>(n), &written, nullptr) || written != n)
    Fail("write failed");
}

// Writes SETUP.0 and SETUP.1 into dir, streaming every file's data through
// deflate so that no file is held whole.
std::vector<sw::FileData> MakeDistribution(const std::string& dir, const std::vector<uint32_t>& sizes,
                                           int level) {
  qvhost::MakeDirs(dir);
  const std::string disk = dir + "\\SETUP.1";
  HANDLE h = CreateFileA(disk.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("cannot create " + disk);
  uint8_t header[12] = {};
  std::copy(sw::kDiskFileID, sw::kDiskFileID + 8, header);
  WriteAll(h, header, sizeof header);
  uint64_t offset = sizeof header;
  std::vector<sw::FileData> files;
  std::vector<uint8_t> in(1 << 16), out(1 << 17);
  sw::ScriptBuilder b;
  b.Header.ApplicationName = "Copy Benchmark";
  for (size_t i = 0; i < sizes.size(); ++i) {
    sw::FileData d;
    d.Size = sizes[i];
    d.FirstDisk = d.LastDisk = 1;
    d.StartOffset = static_cast<int32_t>(offset);
    WriteAll(h, sw::kFileDataMarker, 4);
    offset += 4;
    z_stream z{};
    deflateInit(&z, level);
    testdata::TFill gen(static_cast<uint32_t>(i + 1), 900);  // as the engine scenarios
    uint32_t adler = 1, left = sizes[i];
    int flush;
    do {
      const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(in.size()));
      gen.Next(in.data(), n);
      adler = static_cast<uint32_t>(adler32(adler, in.data(), n));
      left -= n;
      flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
      z.next_in = in.data();
      z.avail_in = n;
      do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, flush);
        const size_t produced = out.size() - z.avail_out;
        WriteAll(h, out.data(), produced);
        d.CompressedSize += static_cast<uint32_t>(produced);
      } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    d.Checksum = adler;
    offset += d.CompressedSize;
    if (offset > 0x7FFFFFFFu) Fail("the distribution does not fit one disk data file");
    files.push_back(d);
    sw::FileSpec f;
    f.DestName = "{app}\\f" + std::to_string(i) + ".dat";
    f.SourceTimeLow = 0xD53E8000u;  // 1999
    f.SourceTimeHigh = 0x01BE3F00u;
    b.Files.push_back(f);
  }
  const uint32_t total = static_cast<uint32_t>(offset);
  const uint8_t le[4] = {static_cast<uint8_t>(total), static_cast<uint8_t>(total >> 8),
                         static_cast<uint8_t>(total >> 16), static_cast<uint8_t>(total >> 24)};
  SetFilePointer(h, 8, nullptr, FILE_BEGIN);
  WriteAll(h, le, 4);
  CloseHandle(h);
  sw::WriteFileBytes(dir + "\\SETUP.0", b.EncodeScript(files));
  return files;
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA fd;
  HANDLE f = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (f != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(f, &fd));
    FindClose(f);
  }
  RemoveDirectoryA(dir.c_str());
}

// The bare loop: each file's stream inflated to its own file, 32000 bytes
// read at a time, nothing checked.
double BareLoop(const std::string& dist, const std::vector<sw::FileData>& files,
                const std::string& outdir) {
  qvhost::MakeDirs(outdir);
  std::vector<uint8_t> in(kChunk), out(kChunk);
  const std::string disk = dist + "\\SETUP.1";
  const double t0 = NowMs();
  for (size_t i = 0; i < files.size(); ++i) {
    HANDLE src = CreateFileA(disk.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE dst = CreateFileA((outdir + "\\f" + std::to_string(i) + ".dat").c_str(), GENERIC_WRITE, 0,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (src == INVALID_HANDLE_VALUE || dst == INVALID_HANDLE_VALUE) Fail("bare loop: open failed");
    SetFilePointer(src, files[i].StartOffset + 4, nullptr, FILE_BEGIN);
    z_stream z{};
    inflateInit(&z);
    uint32_t left = files[i].CompressedSize;
    int code = Z_OK;
    while (left > 0 && code != Z_STREAM_END) {
      DWORD got = 0;
      ReadFile(src, in.data(), std::min(left, kChunk), &got, nullptr);
      if (got == 0) Fail("bare loop: short read");
      left -= got;
      z.next_in = in.data();
      z.avail_in = got;
      do {
        z.next_out = out.data();
        z.avail_out = kChunk;
        code = inflate(&z, Z_PARTIAL_FLUSH);
        if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR) Fail("bare loop: inflate");
        WriteAll(dst, out.data(), kChunk - z.avail_out);
      } while (z.avail_out == 0 && code != Z_STREAM_END);
    }
    inflateEnd(&z);
    CloseHandle(dst);
    CloseHandle(src);
  }
  return NowMs() - t0;
}

// Runs the host on dist into app and returns its --timing figures.
std::map<std::string, std::string> RunHost(const std::string& dist, const std::string& app,
                                           const std::string& work) {
  qvhost::MakeDirs(work);
  const std::string timing = work + "\\timing.txt";
  DeleteFileA(timing.c_str());
  qvui::UiProcess host(qvui::BinPath("installhost.exe") + " --source \"" + dist + "\" --app \"" + app +
                           "\" --noicons --timing \"" + timing + "\"",
                       work);
  const DWORD code = host.WaitForExitCode(30 * 60 * 1000);
  if (code != 0) Fail("the install host ended with " + std::to_string(code));
  std::map<std::string, std::string> figures;
  FILE* f = std::fopen(timing.c_str(), "rb");
  if (f == nullptr) Fail("no timing file");
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const size_t sp = s.find(' ');
    if (sp != std::string::npos) figures[s.substr(0, sp)] = s.substr(sp + 1);
  }
  std::fclose(f);
  return figures;
}

double Number(const std::map<std::string, std::string>& m, const char* key) {
  auto it = m.find(key);
  if (it == m.end()) Fail(std::string("no figure ") + key);
  return std::atof(it->second.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 2;
  bool memory = true;
  uint32_t count = 2000;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--no-memory")
      memory = false;
    else if (std::string(argv[i]) == "--files" && i + 1 < argc)
      count = static_cast<uint32_t>(std::max(1, std::atoi(argv[++i])));
    else
      rounds = std::max(1, std::atoi(argv[i]));
  }
  const std::string root = qvhost::TestTmp();

  // 2,000 files from 2 KB to about 198 KB, 200 MB in all.
  std::vector<uint32_t> sizes;
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    sizes.push_back(2048 + (i * 7919u) % 204800u);
    total += sizes.back();
  }
  const std::string dist = root + "copy";
  const double made = NowMs();
  std::vector<sw::FileData> files = MakeDistribution(dist, sizes, 6);
  uint64_t compressed = 0;
  for (const auto& f : files) compressed += f.CompressedSize;
  std::printf("distribution: %zu files, %.1f MB, %.1f MB compressed (made in %.1f s)\n", files.size(),
              total / 1048576.0, compressed / 1048576.0, (NowMs() - made) / 1e3);

  // Each round runs both sides, one after the other, so that both see the
  // same load of the machine; every round is printed, and the best of each.
  double best_bare = 1e30, best_host = 1e30, gap = 0;
  std::map<std::string, std::string> best;
  std::vector<double> ratios;
  for (int r = 0; r < rounds; ++r) {
    const double bare = BareLoop(dist, files, root + "bare");
    RemoveTree(root + "bare");
    auto figures = RunHost(dist, root + "app", root + "host");
    const double ms = Number(figures, "copy_ms");
    std::printf("round %d: driver %.0f ms, bare loop %.0f ms, ratio %.2f, longest gap %.2f ms\n", r + 1,
                ms, bare, ms / bare, Number(figures, "max_gap_ms"));
    ratios.push_back(ms / bare);
    best_bare = std::min(best_bare, bare);
    if (ms < best_host) {
      best_host = ms;
      best = figures;
    }
    gap = std::max(gap, Number(figures, "max_gap_ms"));
    RemoveTree(root + "app");
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("file step, real driver in the install window (best of %d): %.0f ms\n", rounds, best_host);
  std::printf("bare inflate loop, 32000-byte reads (best of %d):          %.0f ms\n", rounds, best_bare);
  std::printf("ratio driver/bare: %.2f (best against best); per round from %.2f to %.2f\n",
              best_host / best_bare, ratios.front(), ratios.back());
  std::printf("where the driver's time went (its best round), part by part:\n");
  std::printf("  %-30s %8s %10s %10s\n", "part", "calls", "ms", "ms/file");
  double parts = 0;
  for (const auto& [key, value] : best) {
    if (key.rfind("part.", 0) != 0) continue;
    std::string name = key.substr(5);
    std::replace(name.begin(), name.end(), '_', ' ');
    long calls = 0;
    double ms = 0;
    std::sscanf(value.c_str(), "%ld %lf", &calls, &ms);
    parts += ms;
    std::printf("  %-30s %8ld %10.1f %10.3f\n", name.c_str(), calls, ms, ms / files.size());
  }
  std::printf("  %-30s %8s %10.1f %10.3f\n", "(between the parts)", "", best_host - parts,
              (best_host - parts) / files.size());
  std::printf("CheckCancel: %.0f calls in the file step, longest gap %.2f ms in the best round "
              "(ended at \"%s\"), %.2f ms in any round\n",
              Number(best, "checkpoints"), Number(best, "max_gap_ms"), best["max_gap_at"].c_str(), gap);
  RemoveTree(dist);

  if (memory) {
    const uint32_t sizes_mb[] = {1, 1024};
    double peak[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      const std::string d = root + "mem" + std::to_string(sizes_mb[k]);
      MakeDistribution(d, {sizes_mb[k] * 1048576u}, 1);
      auto figures = RunHost(d, root + "memapp", root + "memhost");
      peak[k] = Number(figures, "peak_working_set_kb");
      RemoveTree(root + "memapp");
      RemoveTree(d);
    }
    std::printf("peak working set of the host: one 1 MB file %.0f KB, one 1 GB file %.0f KB "
                "(difference %.0f KB)\n",
                peak[0], peak[1], peak[1] - peak[0]);
  }
  return 0;
}
