// The Win32 file layer with its read-ahead buffer against the in-memory file
// as the model: the same random reads and seeks must give the same bytes,
// counts and positions, whatever is served from the buffer.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "setupdata/win32file.h"
#include "tests/winebench/qvtest.h"

TEST(Win32File, ReadsAndSeeksAgreeWithTheModelFile) {
  std::mt19937 rng(20261208);
  const std::vector<uint8_t> data = testdata::Noise(300000, 20261208);
  const std::string path = qvtest::TmpDir() + "readahead.bin";
  ASSERT_TRUE(qvtest::WriteWholeFile(path, std::string(data.begin(), data.end())));
  TWin32File file(path);
  TMemoryFile model(data);
  EXPECT_EQ(file.Size(), 300000);
  const size_t sizes[] = {1, 4, 12, 16, 94, 1000, 16383, 16384, 32000, 70000, 200000};
  std::vector<uint8_t> got(200000), want(200000);
  for (int step = 0; step < 3000; ++step) {
    int op = static_cast<int>(rng() % 10);
    if (op < 2) {
      // Seeks near the position (inside the buffer, either way), anywhere,
      // to the end and past it.
      int64_t to;
      switch (rng() % 4) {
        case 0: to = model.Position() - static_cast<int64_t>(rng() % 70000); break;
        case 1: to = model.Position() + static_cast<int64_t>(rng() % 70000); break;
        case 2: to = static_cast<int64_t>(rng() % 300000); break;
        default: to = 300000 + static_cast<int64_t>(rng() % 3); break;
      }
      if (to < 0) to = 0;
      file.Seek(to);
      model.Seek(to);
    } else {
      size_t n = sizes[rng() % (sizeof sizes / sizeof sizes[0])];
      size_t a = file.ReadSome(got.data(), n);
      size_t b = model.ReadSome(want.data(), n);
      ASSERT_EQ(a, b) << "step " << step << " read " << n;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(a), want.begin()))
          << "step " << step;
    }
    ASSERT_EQ(file.Position(), model.Position()) << "step " << step;
  }
  // Reading exactly to the end, then past it.
  file.Seek(300000 - 10);
  uint8_t tail[10];
  file.ReadExact(tail, 10);
  EXPECT_EQ(tail[9], data[299999]);
  EXPECT_EQ(file.ReadSome(tail, 10), 0u);
  file.Seek(300000 - 5);
  EXPECT_THROW(file.ReadExact(tail, 10), EInOutError);
  EXPECT_THROW(file.Seek(-1), EInOutError);
}
