#include "core/engine/keyword_forms.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "engine_kms/kms_engine.h"
#include "support/fake_engine.h"

namespace tomeva {
namespace {

std::string G(const std::string& utf8) { return Utf8ToGbk(utf8); }

// The forms of one keyword in a page, as the engine folds them.
std::vector<std::string> KeywordFormsIn(const std::string& keyword, const std::string& page) {
  static KmsEngine engine;
  return tomeva::KeywordFormsIn(&engine, {keyword}, page, /*markup=*/true).front();
}

std::vector<std::string> Utf8(const std::vector<std::string>& gbk) {
  std::vector<std::string> out;
  for (const std::string& s : gbk) out.push_back(GbkToUtf8(s));
  return out;
}

TEST(KeywordFormsTest, EveryFormThePageHoldsAfterTheKeywordItself) {
  const struct {
    const char* keyword;
    const char* text;
    std::vector<std::string> forms;
  } cases[] = {
      {"宜尔子孙", "<p>宜爾子孫，宜尔子孙。</p>", {"宜尔子孙", "宜爾子孫"}},
      {"宜爾子孫", "<p>宜尔子孙</p>", {"宜爾子孫", "宜尔子孙"}},
      // Split by mark-up: the page's text holds it whole.
      {"明月", "<b>明</b>月 <i>明</i><u>月</u>", {"明月"}},
      {"长安", "<b>長</b>安", {"长安", "長安"}},
      // Full width and letter case: one form per spelling the page's marking tells apart.
      {"abc", "ＡＢＣ abc ABC Ａbc", {"abc", "ＡＢＣ", "Ａbc"}},
      {"图①", "图① 圖① 图②", {"图①", "圖①"}},
      {"门", "<門>", {"门"}},  // inside a tag: not text
      {"无此", "别的文字", {"无此"}},
      {"", "文字", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8(KeywordFormsIn(G(c.keyword), G(c.text))), c.forms) << c.keyword << " in "
                                                                        << c.text;
  }
}

// Texts made of runs in random simplified and traditional forms among other words: the forms
// found are exactly the spellings put in, wherever they stand, whatever surrounds them.
TEST(KeywordFormsTest, FindsExactlyTheSpellingsPutIntoRandomTexts) {
  // Each character with its other form.
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"国", "國"}, {"书", "書"}, {"门", "門"}, {"长", "長"}, {"孙", "孫"}, {"尔", "爾"}};
  const std::vector<std::string> filler = {"春", "江", "花", "月", "夜", "，", "<b>", "</b>", "a"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    // A keyword of two or three of the characters, in simplified form.
    std::vector<int> chars;
    const int length = 2 + static_cast<int>(random() % 2);
    for (int i = 0; i < length; ++i) chars.push_back(static_cast<int>(random() % pairs.size()));
    std::string keyword;
    for (int c : chars) keyword += pairs[c].first;
    std::string text;
    std::set<std::string> put;
    const int runs = static_cast<int>(random() % 4);
    for (int r = 0; r < runs; ++r) {
      for (int f = static_cast<int>(random() % 3); f > 0; --f) text += filler[random() % 9];
      std::string spelling;
      for (int c : chars) spelling += random() % 2 ? pairs[c].second : pairs[c].first;
      text += spelling;
      put.insert(spelling);
    }
    text += filler[random() % 5];
    const std::vector<std::string> forms = KeywordFormsIn(G(keyword), G(text));
    ASSERT_FALSE(forms.empty());
    EXPECT_EQ(GbkToUtf8(forms[0]), keyword);
    std::set<std::string> found(forms.begin() + 1, forms.end());
    put.erase(keyword);
    std::set<std::string> want;
    for (const std::string& s : put) want.insert(G(s));
    EXPECT_EQ(found, want) << text;
    EXPECT_EQ(forms.size(), found.size() + 1) << "a form listed twice in " << text;
  }
}

// The PDF's words widened over its text copy: plain text, so "<" is a character.
TEST(KeywordFormsTest, WidenKeywordsAddsTheFormsOfTheTextCopy) {
  using V = std::vector<std::string>;
  const struct {
    V keywords;
    const char* text;
    V widened;
  } cases[] = {
      {{"宜尔", "子孙"}, "宜爾子孫，振振兮", {"宜尔", "宜爾", "子孙", "子孫"}},
      {{"门"}, "<門>", {"门", "門"}},
      {{"明月", ""}, "床前明月光", {"明月"}},  // an empty word has no forms
      {{""}, "文字", {""}},                     // nothing to widen: as it was
      {{}, "文字", {}},
  };
  KmsEngine engine;
  for (const auto& c : cases) {
    V keywords;
    for (const std::string& k : c.keywords) keywords.push_back(G(k));
    EXPECT_EQ(Utf8(WidenKeywords(&engine, keywords, G(c.text))), c.widened) << c.text;
    // Without an engine the words go as they are.
    EXPECT_EQ(WidenKeywords(nullptr, keywords, G(c.text)), keywords);
  }
}

// Several keywords are looked for in one fold of the page, each keyword folded once; an empty
// keyword has no forms, and without an engine each keyword is its only form.
TEST(KeywordFormsTest, OneFoldOfThePageServesEveryKeyword) {
  testing::FakeEngine engine;
  engine.folds = {{'z', 'x'}, {'w', 'y'}};
  const std::vector<std::string> keywords = {"x", "", "y", "q"};
  const std::string page = "<p title=\"z\">x z</p> Y w";
  const std::vector<std::vector<std::string>> forms =
      tomeva::KeywordFormsIn(&engine, keywords, page, /*markup=*/true);
  const std::vector<std::vector<std::string>> want = {{"x", "z"}, {}, {"y", "w"}, {"q"}};
  EXPECT_EQ(forms, want);
  EXPECT_EQ(engine.fold_calls, 4);  // the page, then x, y and q
  const std::vector<std::vector<std::string>> as_typed = {{"x"}, {}, {"y"}, {"q"}};
  EXPECT_EQ(tomeva::KeywordFormsIn(nullptr, keywords, page, true), as_typed);
}

}  // namespace
}  // namespace tomeva
