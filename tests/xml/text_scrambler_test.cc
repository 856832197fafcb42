#include "core/xml/text_scrambler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"

namespace tomeva {
namespace {

TEST(TextScramblerTest, KeysAreTheGbkPhrases) {
  EXPECT_EQ(CatalogueKey1().size(), 20u);
  EXPECT_EQ(CatalogueKey2().size(), 24u);
  // GBK codes of the first and last characters, so that a wrong code page cannot pass.
  EXPECT_EQ(CatalogueKey1().substr(0, 4), "\xC7\xE0\xB5\xC6");  // 青灯
  EXPECT_EQ(CatalogueKey1().substr(18), "\xA1\xA3");            // 。
  EXPECT_EQ(CatalogueKey2().substr(0, 4), "\xC9\xBD\xBC\xE4");  // 山间
  EXPECT_EQ(CatalogueKey2().substr(22), "\xA1\xA3");
}

TEST(TextScramblerTest, KnownBytesOfAScrambledDeclaration) {
  // "<?" at positions 0 and 1: '<' ^ C7 ^ C9 ^ 0 and '?' ^ E0 ^ BD ^ 1.
  std::string s = ScrambleCatalogueText("<?");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(s[0]), 0x3C ^ 0xC7 ^ 0xC9);
  EXPECT_EQ(static_cast<unsigned char>(s[1]), 0x3F ^ 0xE0 ^ 0xBD ^ 0x01);
}

TEST(TextScramblerTest, RoundTripsRestoreEveryByte) {
  std::mt19937 rng(11);
  std::string random(5000, '\0');
  for (char& c : random) c = static_cast<char>(rng());
  const std::vector<std::string> inputs = {
      std::string(),
      std::string(1, '\0'),
      std::string("a\0b\0\0c", 6),
      Utf8ToGbk("<?xml version=\"1.0\" encoding=\"GB2312\"?><books><book name=\"诗经\"/></books>"),
      std::string(255, 'x'),
      std::string(257, 'y'),
      random,
  };
  for (const std::string& in : inputs) {
    SCOPED_TRACE(in.size());
    std::string scrambled = ScrambleCatalogueText(in);
    ASSERT_EQ(scrambled.size(), in.size());
    if (in.size() > 2) {
      EXPECT_NE(scrambled, in);
    }
    EXPECT_EQ(UnscrambleCatalogueText(scrambled), in);

    // The object form, as a reader and a writer use it.
    CTextScrambler writer(in.data(), CatalogueKey1(), CatalogueKey2(), in.size(), 1);
    writer.Scramble();
    ASSERT_EQ(std::string(writer.scrambled(), writer.length()), scrambled);
    CTextScrambler reader(scrambled.data(), CatalogueKey1(), CatalogueKey2(), scrambled.size(), 0);
    reader.Unscramble();
    EXPECT_EQ(std::string(reader.plain(), reader.length()), in);
    EXPECT_EQ(reader.plain()[reader.length()], '\0');
  }
}

TEST(TextScramblerTest, PadRepeatsOnlyWithTheCombinedPeriod) {
  // The scrambled form of zeros is the pad itself. Key bytes repeat every 20 and 24 bytes and the
  // position byte every 256, so the pad repeats every 3840 bytes and at no shorter period that
  // leaves one of them out.
  const std::string pad = ScrambleCatalogueText(std::string(3840 * 2, '\0'));
  EXPECT_EQ(pad.substr(0, 3840), pad.substr(3840));
  for (size_t period : {20u, 24u, 120u, 256u, 1280u, 1920u}) {
    SCOPED_TRACE(period);
    EXPECT_NE(pad.substr(0, 3840), pad.substr(period, 3840));
  }
  // With empty keys only the position byte remains: position 256 uses the byte of position 0.
  std::string zeros(300, '\0');
  CTextScrambler bare(zeros.data(), "", "", zeros.size(), 1);
  bare.Scramble();
  EXPECT_EQ(bare.scrambled()[256], bare.scrambled()[0]);
  EXPECT_EQ(static_cast<unsigned char>(bare.scrambled()[299]), 299 % 256);
}

TEST(TextScramblerTest, ZeroLengthAndEmbeddedNul) {
  CTextScrambler empty(nullptr, CatalogueKey1(), CatalogueKey2(), 0, 0);
  empty.Unscramble();
  ASSERT_NE(empty.plain(), nullptr);
  EXPECT_STREQ(empty.plain(), "");

  const std::string text("<a>1</a>\0tail", 13);
  std::string scrambled = ScrambleCatalogueText(text);
  CTextScrambler reader(scrambled.data(), CatalogueKey1(), CatalogueKey2(), scrambled.size(), 0);
  reader.Unscramble();
  EXPECT_STREQ(reader.plain(), "<a>1</a>");  // as a C string the text ends at the NUL
  EXPECT_EQ(std::memcmp(reader.plain(), text.data(), text.size()), 0);
}

TEST(TextScramblerTest, FilesAreWrittenAndReadWhole) {
  auto dir = std::filesystem::temp_directory_path() /
             ("tomeva_scrambler_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "bookconfig.xml").string();
  const std::string text = Utf8ToGbk("<?xml version=\"1.0\"?><books><book name=\"楚辞\"/></books>");

  ASSERT_TRUE(WriteScrambledFile(path, text));
  std::string raw;
  ASSERT_TRUE(ReadWholeFile(path, &raw));
  EXPECT_EQ(raw, ScrambleCatalogueText(text));  // no header, same length
  std::string plain;
  ASSERT_TRUE(ReadScrambledFile(path, &plain));
  EXPECT_EQ(plain, text);

  // Rewriting with a shorter text leaves no tail of the old one.
  ASSERT_TRUE(WriteScrambledFile(path, "<?xml?><books/>"));
  ASSERT_TRUE(ReadScrambledFile(path, &plain));
  EXPECT_EQ(plain, "<?xml?><books/>");

  EXPECT_FALSE(ReadScrambledFile((dir / "missing.xml").string(), &plain));
  EXPECT_TRUE(plain.empty());
  // A folder that does not exist: the write fails and reports it.
  EXPECT_FALSE(WriteScrambledFile((dir / "no" / "such" / "x.xml").string(), text));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tomeva
