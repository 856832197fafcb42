#include "base/mbstring.h"

#include <gtest/gtest.h>

#include "base/gbk.h"

namespace tomeva {
namespace {

// "文" is D6 B8? No: use a character whose trail byte is an ASCII letter or "\" to prove that a
// search never matches inside a double-byte character. 0x8141 has trail byte 'A'; 0x955C ("昞" in
// GBK) has trail byte '\'.
const std::string kTrailA = "\x81\x41";
const std::string kTrailBackslash = "\x95\x5C";

TEST(MbFind, NeverMatchesInsideADoubleByteCharacter) {
  struct Case {
    std::string text, needle;
    size_t from, want;
  };
  const Case cases[] = {
      {kTrailA + "A", "A", 0, 2},
      {kTrailA, "A", 0, kNpos},
      {kTrailBackslash + "\\", "\\", 0, 2},
      {"abcabc", "bc", 0, 1},
      {"abcabc", "bc", 2, 4},
      {"abc", "", 1, 1},
      {"abc", "x", 0, kNpos},
      {"ab", "abc", 0, kNpos},
      {Utf8ToGbk("中国人民"), Utf8ToGbk("人民"), 0, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MbFind(c.text, c.needle, c.from), c.want) << c.text << " / " << c.needle;
  }
}

TEST(MbFindNoCase, FoldsOnlySingleByteLetters) {
  EXPECT_EQ(MbFindNoCase("a WORD here", "word"), 2u);
  EXPECT_EQ(MbFindNoCase(kTrailA, "a"), kNpos);
  EXPECT_EQ(MbFindNoCase("x" + kTrailA + "a", "A"), 3u);
  EXPECT_TRUE(EqualsNoCase("Item", "item"));
  EXPECT_FALSE(EqualsNoCase("\x81\x41", "\x81\x61"));  // trail bytes compare exactly
  EXPECT_EQ(ToLowerAscii("AbC" + kTrailA), "abc" + kTrailA);
}

TEST(MbString, TrimReplaceSplit) {
  EXPECT_EQ(Trim(" \t\r\n\v\fx y \n"), "x y");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x "), "  x");
  EXPECT_EQ(ReplaceAll("a&b&&c", "&", "&amp;"), "a&amp;b&amp;&amp;c");
  EXPECT_EQ(ReplaceAll(kTrailBackslash + "\\", "\\", "/"), kTrailBackslash + "/");
  EXPECT_EQ(Split("a--b", "-"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Split("", "-"), (std::vector<std::string>{""}));
  EXPECT_EQ(MbFindLastChar("a/b" + kTrailBackslash, '\\'), kNpos);
}

TEST(MbString, BoundaryNeverSplitsACharacter) {
  std::string text = "a" + Utf8ToGbk("中国");  // a, then two 2-byte characters
  EXPECT_EQ(GbkBoundaryAtOrBefore(text, 0), 0u);
  EXPECT_EQ(GbkBoundaryAtOrBefore(text, 2), 1u);
  EXPECT_EQ(GbkBoundaryAtOrBefore(text, 3), 3u);
  EXPECT_EQ(GbkBoundaryAtOrBefore(text, 4), 3u);
  EXPECT_EQ(GbkBoundaryAtOrBefore(text, 99), 5u);
}

}  // namespace
}  // namespace tomeva
