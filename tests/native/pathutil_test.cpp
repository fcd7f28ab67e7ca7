#include "common/pathutil.h"

#include <gtest/gtest.h>

TEST(PathUtil, TrailingBackslash) {
  EXPECT_EQ(EnsureTrailingBackslash(""), "");
  EXPECT_EQ(EnsureTrailingBackslash("C:\\a"), "C:\\a\\");
  EXPECT_EQ(EnsureTrailingBackslash("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(EnsureTrailingBackslash("C:"), "C:\\");

  EXPECT_EQ(StripTrailingBackslash(""), "");
  EXPECT_EQ(StripTrailingBackslash("C:\\"), "C:");
  EXPECT_EQ(StripTrailingBackslash("\\"), "");
  EXPECT_EQ(StripTrailingBackslash("C:\\a\\\\"), "C:\\a\\");
  EXPECT_EQ(StripTrailingBackslash("C:\\a"), "C:\\a");

  EXPECT_EQ(StripTrailingBackslashExceptRoot("C:\\"), "C:\\");
  EXPECT_EQ(StripTrailingBackslashExceptRoot("\\"), "\\");
  EXPECT_EQ(StripTrailingBackslashExceptRoot(""), "");
  EXPECT_EQ(StripTrailingBackslashExceptRoot("C:\\a\\\\"), "C:\\a\\");
  EXPECT_EQ(StripTrailingBackslashExceptRoot("C:\\a\\"), "C:\\a");
  EXPECT_EQ(StripTrailingBackslashExceptRoot("\\\\srv\\share\\"), "\\\\srv\\share");

  EXPECT_TRUE(IsDriveRoot("C:\\"));
  EXPECT_TRUE(IsDriveRoot(":\\"));
  EXPECT_FALSE(IsDriveRoot("C:"));
  EXPECT_FALSE(IsDriveRoot("\\"));
  EXPECT_FALSE(IsDriveRoot("C:\\a\\"));
}

TEST(PathUtil, QuoteIfHasSpace) {
  EXPECT_EQ(QuoteIfHasSpace("  C:\\Program Files\\a.exe \t\r\n"), "\"C:\\Program Files\\a.exe\"");
  EXPECT_EQ(QuoteIfHasSpace(" C:\\a.exe "), "C:\\a.exe");
  EXPECT_EQ(QuoteIfHasSpace("\"C:\\Program Files\\a.exe\""), "\"C:\\Program Files\\a.exe\"");
  // Opens with a quote but does not close with one: quoted again.
  EXPECT_EQ(QuoteIfHasSpace("\"C:\\Program Files\\a.exe\" /x"),
            "\"\"C:\\Program Files\\a.exe\" /x\"");
  EXPECT_EQ(QuoteIfHasSpace(""), "");
  EXPECT_EQ(QuoteIfHasSpace("   "), "");
  EXPECT_EQ(QuoteIfHasSpace("\""), "\"");
  EXPECT_EQ(QuoteIfHasSpace("a b"), "\"a b\"");
  // Characters above 127 are not blanks.
  EXPECT_EQ(QuoteIfHasSpace("\xE9t\xE9"), "\xE9t\xE9");
}

TEST(PathUtil, ReplaceSubstrings) {
  std::string s = "aaa";
  ReplaceSubstrings(s, "a", "aa");
  EXPECT_EQ(s, "aaaaaa");  // inserted text is not rescanned

  s = "aaa";
  ReplaceSubstrings(s, "A", "x");
  EXPECT_EQ(s, "aaa");

  s = "abab";
  ReplaceSubstrings(s, "", "x");
  EXPECT_EQ(s, "abab");

  s = "xabcabx";
  ReplaceSubstrings(s, "ab", "");
  EXPECT_EQ(s, "xcx");

  // A replacement that forms a new match with the text after it is not
  // matched again either.
  s = "{a}}";
  ReplaceSubstrings(s, "{a}", "{a");
  EXPECT_EQ(s, "{a}");

  s = "abc";
  ReplaceSubstrings(s, "abcd", "x");
  EXPECT_EQ(s, "abc");
  ReplaceSubstrings(s, "abc", "");
  EXPECT_EQ(s, "");

  s = "xxx";
  ReplaceSubstrings(s, "xx", "y");
  EXPECT_EQ(s, "yx");
}
