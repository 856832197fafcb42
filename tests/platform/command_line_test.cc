#include "core/platform/command_line.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/gbk.h"

namespace tomeva {
namespace {

using Words = std::vector<std::string>;

Words SplitOk(std::string_view line) {
  Words words{"left over"};
  EXPECT_TRUE(SplitCommandLine(line, &words)) << line;
  return words;
}

// "\x95\x5C" is a GBK character whose trail byte is "\".
const std::string kBackslashTrail = "\x95\x5C";

TEST(SplitCommandLineTest, WordsFollowTheShellsQuotingWithoutExpansion) {
  const struct {
    const char* name;
    std::string line;
    Words words;
  } cases[] = {
      {"empty", "", {}},
      {"blanks only", " \t\r\n ", {}},
      {"plain words, any blanks between", "  prog\t-a  b\nc ", {"prog", "-a", "b", "c"}},
      {"single quotes keep everything", R"(p 'a b\c "d"')", {"p", R"(a b\c "d")"}},
      {"double quotes with their four escapes", R"(p "a \"b\" \\ \$ \` \n")",
       {"p", R"(a "b" \ $ ` \n)"}},
      {"backslash outside quotes", R"(p a\ b \'c\" \\)", {"p", "a b", "'c\"", "\\"}},
      {"a backslash at the end is kept", R"(p a\)", {"p", "a\\"}},
      {"touching parts form one word", R"(a'b c'"d"e)", {"ab cde"}},
      {"empty quotes are an empty word", R"(p '' "" x)", {"p", "", "", "x"}},
      {"nothing is expanded", "echo $HOME * ~ a;b|c &", {"echo", "$HOME", "*", "~", "a;b|c", "&"}},
      {"Chinese words", Utf8ToGbk("阅读器 \"书 名\""), {Utf8ToGbk("阅读器"), Utf8ToGbk("书 名")}},
      // The character's trail byte is not an escape: the space and quotes after it keep theirs.
      {"trail byte \\ outside quotes", "a" + kBackslashTrail + " b", {"a" + kBackslashTrail, "b"}},
      {"trail byte \\ in double quotes", "\"a" + kBackslashTrail + "\" b",
       {"a" + kBackslashTrail, "b"}},
      {"escaped character with trail byte \\", "\\" + kBackslashTrail + "x",
       {kBackslashTrail + "x"}},
      // A lead byte before a quote is a byte of its own, not the start of a character.
      {"lead byte before a closing quote", "'\x81' b", {"\x81", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitOk(c.line), c.words) << c.name;
}

TEST(SplitCommandLineTest, AnOpenQuoteIsRefused) {
  for (const std::string line : {"p 'a b", "p \"a b", "p \"a \\\"", "'"}) {
    Words words{"left over"};
    EXPECT_FALSE(SplitCommandLine(line, &words)) << line;
    EXPECT_TRUE(words.empty()) << line;
  }
}

TEST(QuoteArgumentTest, PlainWordsStayAsTheyAreOthersAreQuoted) {
  const struct {
    std::string word;
    std::string quoted;
  } cases[] = {
      {"/usr/bin/sort", "/usr/bin/sort"},
      {"--key=a,b+c@d%", "--key=a,b+c@d%"},
      {Utf8ToGbk("书名.pdf"), Utf8ToGbk("书名.pdf")},
      {"", "''"},
      {"a b", "'a b'"},
      {"it's", R"('it'\''s')"},
      {"$HOME", "'$HOME'"},
      {"\x81", "'\x81'"},  // a lone lead byte is no character
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteArgument(c.word), c.quoted) << c.word;
}

// Whatever the bytes of two words, quoting and joining them and splitting the line gives them
// back: the guarantee the platform relies on when it builds a command line from a path.
TEST(QuoteArgumentTest, SplittingAJoinedLineGivesTheWordsBack) {
  std::mt19937 random(20240601);
  // Bytes that matter most: quotes, "\", blanks, lead bytes, trail bytes and plain letters.
  const std::string alphabet = std::string("'\"\\ \t\n$a-") + "\x81\x95\xFE\x40\x5C\x7F\xFF" +
                               std::string(1, '\0');
  auto random_word = [&] {
    std::string word;
    const size_t length = random() % 8;
    for (size_t i = 0; i < length; ++i) {
      word.push_back(random() % 2 ? alphabet[random() % alphabet.size()]
                                  : static_cast<char>(random() % 256));
    }
    return word;
  };
  for (int round = 0; round < 20000; ++round) {
    const Words words = {random_word(), random_word()};
    const std::string line = QuoteArgument(words[0]) + " " + QuoteArgument(words[1]);
    Words back;
    ASSERT_TRUE(SplitCommandLine(line, &back)) << testing::PrintToString(line);
    ASSERT_EQ(back, words) << testing::PrintToString(line);
    ASSERT_EQ(JoinCommandLine(words), line);
  }
}

TEST(WaitTimeLimitTest, SecondsInMillisecondsOrNoLimit) {
  using std::chrono::milliseconds;
  EXPECT_EQ(WaitTimeLimit(0), milliseconds(0));
  EXPECT_EQ(WaitTimeLimit(3), milliseconds(3000));
  EXPECT_EQ(WaitTimeLimit(100), milliseconds(100000));
  // Beyond what 32 bits of milliseconds hold: kept, not wrapped round.
  EXPECT_EQ(WaitTimeLimit(4294968), milliseconds(4294968000LL));
  EXPECT_EQ(WaitTimeLimit(4294967294u), milliseconds(4294967294000LL));
  EXPECT_EQ(WaitTimeLimit(kWaitWithoutLimit), std::nullopt);
}

}  // namespace
}  // namespace tomeva
