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
