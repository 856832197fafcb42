#include "core/engine/highlight.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tomeva {
namespace {

const std::string kOpen = "<font color=red><b>";
const std::string kClose = "</b></font>";
std::string Marked(const std::string& s) { return kOpen + s + kClose; }

// GBK bytes of the characters used below.
const std::string kZhong = "\xD6\xD0";  // 中
const std::string kGuo = "\xB9\xFA";    // 国
const std::string kRen = "\xC8\xCB";    // 人
const std::string kMin = "\xC3\xF1";    // 民
const std::string kMei = "\xC3\xC0";    // 美
const std::string kZhongGuo = kZhong + kGuo;

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// ---- An independent all-occurrences reference ----

struct Char {
  std::string bytes;   // as in the text
  std::string folded;  // ASCII letters lower-cased
  size_t offset;
};

std::vector<Char> Chars(const std::string& s) {
  std::vector<Char> out;
  for (size_t p = 0; p < s.size();) {
    size_t w = (static_cast<unsigned char>(s[p]) >= 0x80 && p + 1 < s.size()) ? 2 : 1;
    std::string b = s.substr(p, w);
    std::string f = b;
    if (w == 1 && f[0] >= 'A' && f[0] <= 'Z') f[0] = static_cast<char>(f[0] - 'A' + 'a');
    out.push_back({b, f, p});
    p += w;
  }
  return out;
}

// Every character position where some keyword occurs, the first listed keyword winning; matches
// inside a tag dropped when asked; at most `limit` taken; overlapping or touching ones merged.
std::vector<KeywordMatch> Reference(const std::string& text, const std::vector<std::string>& kws,
                                    bool skip_tags, size_t limit) {
  std::vector<Char> t = Chars(text);
  std::vector<KeywordMatch> found;
  for (size_t i = 0; i < t.size() && found.size() < limit; ++i) {
    for (const std::string& kw : kws) {
      std::vector<Char> k = Chars(kw);
      if (k.empty() || i + k.size() > t.size()) continue;
      bool same = true;
      for (size_t j = 0; j < k.size() && same; ++j) same = t[i + j].folded == k[j].folded;
      if (!same) continue;
      size_t end = i + k.size() < t.size() ? t[i + k.size()].offset : text.size();
      bool inside = false;
      if (skip_tags) {
        for (size_t lt = i; lt-- > 0;) {
          if (t[lt].bytes != "<") continue;
          for (size_t gt = lt; gt < t.size(); ++gt) {
            if (t[gt].bytes == ">") {
              inside = t[gt].offset >= end;
              break;
            }
          }
          break;
        }
      }
      if (!inside) found.push_back({t[i].offset, end});
      break;
    }
  }
  std::vector<KeywordMatch> merged;
  for (const KeywordMatch& m : found) {
    if (!merged.empty() && merged.back().end >= m.start) {
      merged.back().end = std::max(merged.back().end, m.end);
    } else {
      merged.push_back(m);
    }
  }
  return merged;
}

// Pieces of texts: mixed-case ASCII, tag brackets, double-byte characters (two with an ASCII
// second byte, "丂" as 0x81 0x41 / 0x81 0x61) and bytes that are not GBK.
const std::vector<std::string> kPieces = {"a",        "b",        "A",    "B",    "ab", " ",
                                          "<",        ">",        "1",    kZhong, kGuo, kRen,
                                          "\x81\x41", "\x81\x61", "\x80", "\xFF"};

std::string RandomText(std::mt19937& rng, int max_pieces) {
  std::string s;
  int n = std::uniform_int_distribution<int>(0, max_pieces)(rng);
  for (int i = 0; i < n; ++i) s += kPieces[rng() % kPieces.size()];
  return s;
}

TEST(HighlightProperty, BothEnginesFindWhatThePlainSearchFinds) {
  std::mt19937 rng(20240601);
  for (int round = 0; round < 10000; ++round) {
    const std::string text = RandomText(rng, round % 10 == 0 ? 120 : 30);
    std::vector<std::string> kws;
    const int nk = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < nk; ++k) {
      std::string kw;
      if (!text.empty() && rng() % 3 != 0) {
        // A byte range of the text: may start or end inside a character, may get its case changed.
        size_t a = rng() % text.size();
        kw = text.substr(a, 1 + rng() % 6);
        for (char& c : kw) {
          if (rng() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
      } else {
        kw = RandomText(rng, 3);
      }
      kws.push_back(kw);
    }
    const bool skip_tags = rng() % 2;
    const size_t limit = rng() % 5 == 0 ? 1 + rng() % 4 : kAllMatches;
    const auto expected = Reference(text, kws, skip_tags, limit);
    SCOPED_TRACE(testing::Message() << "round " << round);
    EXPECT_EQ(FindKeywordMatches(text, kws, skip_tags, limit, MatchEngine::kCharTable), expected);
    EXPECT_EQ(FindKeywordMatches(text, kws, skip_tags, limit, MatchEngine::kByteScan), expected);

    // Positions mode marks exactly these matches.
    const HighlightResult r = MarkKeywords(text, kws, true, skip_tags);
    const auto all = Reference(text, kws, skip_tags, kAllMatches);
    std::string marked;
    size_t copied = 0;
    ASSERT_EQ(r.matches.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(r.matches[i], std::make_pair(static_cast<int>(all[i].start),
                                             static_cast<int>(all[i].end - all[i].start)));
      marked += text.substr(copied, all[i].start - copied) +
                Marked(text.substr(all[i].start, all[i].end - all[i].start));
      copied = all[i].end;
    }
    EXPECT_EQ(r.text, marked + text.substr(copied));
  }
}

TEST(HighlightProperty, LargeTextsAcrossScanBlocks) {
  // Texts of several hundred kilobytes, so that matches straddle the blocks the byte scan works
  // in, with sparse and dense keywords.
  std::mt19937 rng(7);
  for (int round = 0; round < 6; ++round) {
    std::string text;
    while (text.size() < 300 * 1024) text += RandomText(rng, 40) + kZhongGuo + "AbA";
    const std::vector<std::string> kws =
        round % 2 ? std::vector<std::string>{"b", kGuo + "ab", "\x81\x41"}
                  : std::vector<std::string>{kZhongGuo + "a", "a<", kRen + kRen, "BA"};
    const bool skip_tags = round >= 3;
    const auto expected = Reference(text, kws, skip_tags, kAllMatches);
    EXPECT_EQ(FindKeywordMatches(text, kws, skip_tags, kAllMatches, MatchEngine::kByteScan),
              expected);
    EXPECT_EQ(FindKeywordMatches(text, kws, skip_tags, kAllMatches, MatchEngine::kCharTable),
              expected);
    EXPECT_EQ(FindKeywordMatches(text, kws, skip_tags, 777, MatchEngine::kByteScan),
              Reference(text, kws, skip_tags, 777));
  }
}

TEST(HighlightPositions, PinnedCases) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> keywords;
    bool skip_tags;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"case ignored, text kept", "a WORD here", {"Word"}, false, "a " + Marked("WORD") + " here"},
      {"first keyword wins a tie",
       kZhongGuo + kRen,
       {kZhongGuo, kZhongGuo + kRen},
       false,
       Marked(kZhongGuo) + kRen},
      {"overlaps merge",
       kZhongGuo + kRen + kMin,
       {kZhongGuo + kRen, kGuo},
       false,
       Marked(kZhongGuo + kRen) + kMin},
      {"touching matches merge", "abab", {"ab"}, false, Marked("abab")},
      {"no match inside a character",
       "\x81\x41"
       "A",
       {"a"},
       false,
       "\x81\x41" + Marked("A")},
      {"second byte not case-folded", "\x81\x41", {"\x81\x61"}, false, "\x81\x41"},
      {"matches inside a tag skipped",
       "<a title=\"" + kZhongGuo + "\">" + kZhongGuo + "</a>",
       {kZhongGuo},
       true,
       "<a title=\"" + kZhongGuo + "\">" + Marked(kZhongGuo) + "</a>"},
      {"tag seen across a character with ASCII second byte",
       "<\x81\x41" + kZhongGuo + ">",
       {kZhongGuo},
       true,
       "<\x81\x41" + kZhongGuo + ">"},
      {"unclosed tag does not hide",
       "<a " + kZhongGuo,
       {kZhongGuo},
       true,
       "<a " + Marked(kZhongGuo)},
      {"lone lead byte matches only at the end",
       "x\xB0\xA1x\xB0",
       {"x\xB0"},
       false,
       "x\xB0\xA1" + Marked("x\xB0")},
      {"text ends at NUL", std::string("ab\0ab", 5), {"ab"}, false, Marked("ab")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MarkKeywords(c.text, c.keywords, true, c.skip_tags).text, c.expected) << c.name;
  }
}

TEST(HighlightSnippet, PinnedCases) {
  const std::string far = Repeat("-", 60);
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> keywords;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"match at byte 0: no leading context",
       "Word one two",
       {"word"},
       Marked("Word") + " one......"},
      {"close matches repeat the bytes between",
       kZhongGuo + "abcde" + kMei + kGuo,
       {kZhongGuo, kMei + kGuo},
       Marked(kZhongGuo) + "abcde......abcde" + Marked(kMei + kGuo)},
      {"leading context starts at a break",
       "lorem ipsum dolor sit amet consectetur adipiscing "
       "elit sed do eiusmod KEY",
       {"key"},
       "...... amet consectetur adipiscing elit sed do eiusmod " + Marked("KEY")},
      {"leading context keeps characters whole",
       Repeat(kZhong, 40) + "z" + kMei + kGuo,
       {kMei + kGuo},
       "......" + Repeat(kZhong, 24) + "z" + Marked(kMei + kGuo)},
      {"trailing context keeps characters whole",
       kMei + kGuo + "z" + Repeat(kZhong, 40) + "end",
       {kMei + kGuo},
       Marked(kMei + kGuo) + "z" + Repeat(kZhong, 24) + "......"},
      {"no match, short text", "short", {"zz"}, "short"},
      {"no match, long text",
       Repeat("0123456789", 25),
       {"zz"},
       Repeat("0123456789", 10) + "......"},
      {"no match, excerpt keeps characters whole",
       "x" + Repeat(kZhong, 60),
       {"zz"},
       "x" + Repeat(kZhong, 49) + "......"},
      {"three longest of five, in text order",
       "ab" + far + "cdefgh" + far + "ijkl" + far + "mnopqr" + far + "st",
       {"ab", "cdefgh", "ijkl", "mnopqr", "st"},
       "......" + far.substr(10) + Marked("cdefgh") + far.substr(10) + "............" +
           far.substr(10) + Marked("ijkl") + far.substr(10) + "............" + far.substr(10) +
           Marked("mnopqr") + far.substr(10) + "......"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MarkKeywords(c.text, c.keywords, false, false).text, c.expected) << c.name;
  }
}

TEST(HighlightC, ReportsThroughArraysAndMallocedResult) {
  // 600 occurrences: all are marked, the arrays get the first 500.
  std::string text = Repeat(kZhongGuo + " ", 600);
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  char keywords[kMaxKeywords][kKeywordEntrySize] = {};
  std::strcpy(keywords[0], kZhongGuo.c_str());
  std::strcpy(keywords[1], "XYZ");
  std::vector<int> starts(kMaxReportedMatches), lengths(kMaxReportedMatches);
  int count = -1;
  char* result = nullptr;
  HighLightKeyWords(buffer.data(), keywords, 2, 1, &result, 0, starts.data(), lengths.data(),
                    &count);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(std::string(result), Repeat(Marked(kZhongGuo) + " ", 600));
  std::free(result);
  EXPECT_EQ(count, kMaxReportedMatches);
  EXPECT_EQ(starts[499], 499 * 5);
  EXPECT_EQ(lengths[499], 4);
  EXPECT_STREQ(keywords[1], "xyz");  // lower-cased in place

  // Snippet mode reports the chosen matches; count beyond the table and a null text are safe.
  std::string word = "a Word b";
  HighLightKeyWords(word.data(), keywords, 1000, 0, &result, 0, starts.data(), lengths.data(),
                    &count);
  EXPECT_EQ(count, 0);
  EXPECT_STREQ(result, "a Word b");
  std::free(result);
  HighLightKeyWords(nullptr, keywords, -3, 0, &result, 1, nullptr, nullptr, nullptr);
  EXPECT_STREQ(result, "");
  std::free(result);

  // An entry without a terminator is read up to 100 bytes.
  std::memset(keywords[0], 'q', kKeywordEntrySize);
  std::string qs = Repeat("q", 120);
  HighLightKeyWords(qs.data(), keywords, 1, 1, nullptr, 0, starts.data(), lengths.data(), &count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(lengths[0], 120);  // 21 overlapping 100-byte matches merge into one
}

TEST(HighlightWrapper, MatchLimitAndLongKeywords) {
  const std::string text = Repeat("ab ", 700);
  EXPECT_EQ(MarkKeywords(text, {"AB"}, true, false).matches.size(), 700u);
  EXPECT_EQ(MarkKeywords(text, {"ab"}, true, false, 3).matches.size(), 3u);
  // Keywords are cut to 100 characters: a 101-character keyword matches a 100-character text.
  const std::string hundred = Repeat(kZhong, 100);
  EXPECT_EQ(MarkKeywords(hundred, {hundred + kZhong}, true, false).matches.size(), 1u);
  // Only the first 100 keywords are used.
  std::vector<std::string> many(100, "zz");
  many.push_back("ab");
  EXPECT_TRUE(MarkKeywords(text, many, true, false).matches.empty());
}

TEST(GetKeywords, SplitsAtSpaceAmpersandBar) {
  struct Case {
    std::string text;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"a b", {"a", "b"}},
      {"a  b", {"a", "", "b"}},
      {"a b ", {"a", "b"}},
      {"", {}},
      {" a", {"", "a"}},
      {"a&b|c", {"a", "b", "c"}},
      // 0x81 0x7C is one character whose second byte equals "|".
      {"x\x81|y|z", {"x\x81|y", "z"}},
      {kZhongGuo + " " + kRen, {kZhongGuo, kRen}},
      {"a" + Repeat(kZhong, 75), {"a" + Repeat(kZhong, 49)}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitKeywords(c.text), c.expected) << c.text;
  }
  // The C form: a trailing delimiter is cut off the text; entries beyond 100 are dropped.
  char text[] = "a b ";
  char entries[kMaxKeywords][kKeywordEntrySize];
  EXPECT_EQ(getKeywords(text, entries), 2);
  EXPECT_STREQ(text, "a b");
  EXPECT_EQ(getKeywords(nullptr, entries), 0);
  std::string many = Repeat("k ", 150) + "last";
  EXPECT_EQ(getKeywords(many.data(), entries), kMaxKeywords);
  EXPECT_STREQ(entries[99], "k");
}

}  // namespace
}  // namespace tomeva
