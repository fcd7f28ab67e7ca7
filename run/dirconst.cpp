#include "run/dirconst.h"

#include <cstdlib>

#include "common/exceptions.h"
#include "common/pathutil.h"
#include "common/strutil.h"
#include "run/globals.h"

const char* const STooManyFiles =
    "Unable to create a file in the destination directory because it contains too many files";

std::string ExpandDirConstants(const std::string& text) {
  std::string s = text;
  // The forms followed by a backslash come first, with values that end in
  // one, so a drive root never gives two backslashes.
  ReplaceSubstrings(s, "{src}\\", EnsureTrailingBackslash(SourceDir));
  ReplaceSubstrings(s, "{app}\\", EnsureTrailingBackslash(AppDir));
  ReplaceSubstrings(s, "{win}\\", EnsureTrailingBackslash(WinDir));
  ReplaceSubstrings(s, "{sys}\\", EnsureTrailingBackslash(SystemDir));
  ReplaceSubstrings(s, "{src}", SourceDir);
  ReplaceSubstrings(s, "{app}", AppDir);
  ReplaceSubstrings(s, "{win}", WinDir);
  ReplaceSubstrings(s, "{sys}", SystemDir);
  return s;
}

std::string ReplacePlaceholders(const std::string& text) {
  std::string s = text;
  ReplaceSubstrings(s, "[name]", Script.Header.ApplicationName());
  ReplaceSubstrings(s, "[name/ver]", Script.Header.ApplicationVersionName());
  ReplaceSubstrings(s, "[kb]", std::to_string(TotalFileSize / 1024));
  return s;
}

uint32_t RandomTempStart() {
  // rand() may give as few as 15 bits; two calls cover the 24 bits.
  const uint32_t hi = static_cast<uint32_t>(std::rand()) & 0x7FFF;
  const uint32_t lo = static_cast<uint32_t>(std::rand()) & 0x7FFF;
  return ((hi << 15) | lo) & kMaxTempNumber;
}

std::string NewTempFileName(const std::string& directory, const TNameExists& exists,
                            uint32_t start, uint32_t last_number) {
  const std::string dir = EnsureTrailingBackslash(directory);
  last_number &= kMaxTempNumber;
  start = start & kMaxTempNumber;
  if (start > last_number) start %= last_number + 1;
  uint32_t n = start;
  for (;;) {
    n = n == last_number ? 0 : n + 1;
    if (n == start) throw Exception(STooManyFiles);
    std::string candidate = dir + Format("qv%.6X.tmp", static_cast<unsigned>(n));
    if (!exists(candidate)) return candidate;
  }
}

std::string NewTempFileName(const std::string& directory, const TNameExists& exists) {
  return NewTempFileName(directory, exists, RandomTempStart());
}
