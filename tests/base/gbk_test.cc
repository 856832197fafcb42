#include "base/gbk.h"

#include <gtest/gtest.h>

#include "base/texts.h"

namespace tomeva {
namespace {

TEST(GbkCodec, RoundTripsChineseAndAscii) {
  const std::string utf8 = "中国历史 ABC abc 123 ，。";
  std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.size(), 25u);  // six double-byte characters and 13 ASCII bytes
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToGbk("中"), "\xD6\xD0");
}

TEST(GbkCodec, InvalidInputIsReplacedNotDropped) {
  struct Case {
    std::string gbk;
    std::string utf8;
  };
  const Case cases[] = {
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},    // 0xFF is never a GBK byte
      {"a\xD6", "a\xEF\xBF\xBD"},             // lead byte at the end
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8);
  EXPECT_EQ(Utf8ToGbk("x\xC3(y"), "x?(y");           // broken UTF-8 sequence
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80z"), "?z");  // emoji has no GBK form
}

// Each invalid byte becomes the stand-in and the byte after it is judged afresh, so that no byte
// a browser keeps as itself ("<", a quote, "/") is hidden inside a character by our parsers.
TEST(GbkValidation, RepairsEveryInvalidByteAndKeepsEveryValidPair) {
  struct Case {
    std::string in;
    std::string out;  // "" = unchanged
    size_t first_invalid;
  };
  const size_t kValid = std::string_view::npos;
  const Case cases[] = {
      {"plain ASCII <b>", "", kValid},
      {"\xD6\xD0\x81\x40\xFE\xFE\x81\x7E\x81\x80", "", kValid},  // edges of both trail ranges
      {"PWN \x81<img src=x onerror=y>", "PWN ?<img src=x onerror=y>", 4},
      {"title=x\x81\"onerror=1", "title=x?\"onerror=1", 7},
      {"A\x81/x", "A?/x", 1},
      {"\x81\x7F", "?\x7F", 0},               // DEL is no trail byte
      {"\x81\x30\x81\x30", "?0?0", 0},        // a four-byte sequence is not GBK
      {"\x80\xFF", "\x80?", 1},               // 0x80 alone is the euro sign; 0xFF is nothing
      {"end\xD6", "end?", 3},                 // lead byte at the very end
      {"\x81\xFF\xD6\xD0", "??\xD6\xD0", 0},  // the pair after them is kept
      {"\xFF\xD6\xD0", "?\xD6\xD0", 0},
      {"\x80<b>", "", kValid},  // the euro sign never takes the byte after it
      {std::string("a\0\x81", 3), std::string("a\0?", 3), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const std::string want = c.out.empty() ? c.in : c.out;
    EXPECT_EQ(FindInvalidGbk(c.in), c.first_invalid);
    EXPECT_EQ(ValidGbk(c.in), want);
    std::string repaired = c.in;
    size_t changed = 0;
    for (size_t i = 0; i < want.size(); ++i) changed += repaired[i] != want[i];
    EXPECT_EQ(RepairGbk(&repaired), changed);
    EXPECT_EQ(repaired, want);
    // The offsets a reader keeps to refuse names: exactly the bytes that differ.
    std::string again = c.in;
    std::vector<size_t> positions;
    RepairGbk(&again, &positions);
    std::vector<size_t> differing;
    for (size_t i = 0; i < want.size(); ++i) {
      if (c.in[i] != want[i]) differing.push_back(i);
    }
    EXPECT_EQ(positions, differing);
    EXPECT_TRUE(IsValidGbk(repaired));
    EXPECT_EQ(IsValidGbk(c.in), c.out.empty());
  }
}

TEST(FixedTexts, AreGbkAndKnown) {
  EXPECT_EQ(GbkToUtf8(Text(kTextUntitled)), "无题");
  EXPECT_EQ(GbkToUtf8(Text(kTextAppTitle)), "Lumq图书数据库V4.0");
  EXPECT_EQ(Text(-5), "");
}

// A folder or file name put into a message is text, never a format: a "%" in it stays as it is.
TEST(FixedTexts, TextWithPutsTheArgumentInAsItIs) {
  const std::string kept = TextWith(kTextOldInstallationKept, "/opt/100%s%d");
  EXPECT_EQ(GbkToUtf8(kept), "“/opt/100%s%d”看起来不是较老版本的安装文件夹，没有删除它。");
  EXPECT_EQ(GbkToUtf8(TextWith(kTextBadRecordDir, "")), "记录文件中的文件夹名不是一个简单的文件夹名，已跳过这条记录。");
  EXPECT_EQ(TextWith(-5, "x"), "");
  // Two places: a "%s" inside the first argument is not taken for the second place.
  EXPECT_EQ(GbkToUtf8(TextWith(kTextBookIndexFailed, {Utf8ToGbk("%s诗"), Utf8ToGbk("磁盘已满")})),
            "新书“%s诗”没能编入索引（磁盘已满），没有导入，下次启动时将重新导入。");
}

}  // namespace
}  // namespace tomeva
