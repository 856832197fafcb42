// The engine's parts below the C API: the tokeniser's positions, the field table and the stored
// data format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kms/document.h"
#include "kms/field_registry.h"
#include "kms/query_parser.h"
#include "kms/terms.h"

namespace tomeva::kms {
namespace {

std::string Render(const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& t : tokens) {
    if (!out.empty()) out += ' ';
    out += t.text + "@" + std::to_string(t.pos);
  }
  return out;
}

TEST(TokenizeTest, PositionsAndGaps) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"中国", "中@1 国@2"},
      {"中，国", "中@1 国@3"},      // punctuation keeps phrases apart
      {"中 ，\n 国", "中@1 国@3"},  // a run of separators is one gap
      {"Hello World", "hello@1 world@3"},
      {"abc中国def", "abc@1 中@2 国@3 def@4"},  // script changes need no separator
      {"ＡＢＣ１２３", "abc123@1"},             // full-width forms are ASCII
      {"f15 13", "f15@1 13@3"},
      {"  ", ""},
      {"\xFF\xFE"
       "a",
       "a@1"},  // malformed UTF-8 is a separator
      {"Ünïcode café", "ünïcode@1 café@3"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Render(Tokenize(in)), out) << in;
  std::string long_word(500, 'x');
  ASSERT_EQ(Tokenize(long_word).size(), 1u);
  EXPECT_EQ(Tokenize(long_word)[0].text.size(), kMaxWordBytes);
}

// Phrase queries against a small in-memory database: a phrase without separators finds exactly the
// texts holding it; one with a separator keeps its terms in order within the same span, so it
// also finds the text without the separator.
TEST(PhraseQueryTest, MatchesExactlyTheTextsHoldingThePhrase) {
  const std::vector<std::string> texts = {"一二三四五", "一二 三四五", "三四五一二", "一二一二一",
                                          "abc一二",    "abc 一二",    "一"};
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  for (const auto& t : texts) {
    Xapian::Document d;
    uint32_t pos = 1;
    IndexText(t, "", &pos, &d);
    db.add_document(d);
  }
  const std::vector<std::pair<std::string, int>> cases = {
      {"一", 7},         {"一二", 6},   {"一二三", 1}, {"二三四五", 1}, {"一二一", 1},
      {"一二一二一", 1}, {"二一二", 1}, {"五一", 1},   {"abc一二", 1},  {"abc 一二", 2},
      {"二 三", 2},      {"三 一", 0},  {"，", -1},
  };
  for (const auto& [phrase, n] : cases) {
    Xapian::Query q;
    bool has_terms = PhraseQuery(phrase, "", &q);
    ASSERT_EQ(has_terms, n >= 0) << phrase;
    if (!has_terms) continue;
    Xapian::Enquire e(db);
    e.set_query(q);
    EXPECT_EQ(e.get_mset(0, 10, db.get_doccount()).get_matches_estimated(),
              static_cast<Xapian::doccount>(n))
        << phrase;
  }
}

TEST(FieldRegistryTest, ResolvesExactNamesFirstThenWithoutCase) {
  FieldRegistry r;
  bool added = false;
  r.Intern("content", true, &added);
  EXPECT_TRUE(added);
  EXPECT_EQ(r.Intern("title", true, &added).prefix, "Z1:");
  r.Intern("KeyWords", true, &added);
  r.Intern("keywords", true, &added);
  r.Intern("f15", false, &added);
  EXPECT_EQ(r.Intern("title", true, &added).prefix, "Z1:");
  EXPECT_FALSE(added);
  FieldRegistry back = FieldRegistry::Parse(r.Serialize());
  struct Case {
    const char* name;
    std::vector<std::string> prefixes;
  };
  const std::vector<Case> cases = {
      {"title", {"Z1:"}},
      {"TITLE", {"Z1:"}},
      {"KeyWords", {"Z2:"}},
      {"keywords", {"Z3:"}},
      {"KEYWORDS", {"Z2:", "Z3:"}},
      {"content", {""}},
      {"Content", {""}},
      {"nope", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const FieldInfo& f : back.Resolve(c.name)) got.push_back(f.prefix);
    EXPECT_EQ(got, c.prefixes) << c.name;
  }
  EXPECT_FALSE(back.Resolve("f15")[0].tokenized);
  // An index without any content field still answers unprefixed queries.
  EXPECT_EQ(FieldRegistry().Resolve("content").size(), 1u);
}

TEST(StoredFieldsTest, FindsValuesAndSurvivesDamagedData) {
  PendingDocument p;
  p.fields = {{"xml", "<r/>", true, false, false},
              {"Title", "t1", true, true, true},
              {"title", "t2", true, true, true},
              {"skip", "s", false, true, true}};
  FieldRegistry r;
  bool changed = false;
  Xapian::Document d = BuildDocument(p, &r, &changed);
  EXPECT_TRUE(changed);
  std::string data = d.get_data();
  EXPECT_EQ(FindStoredField(data, "xml"), "<r/>");
  EXPECT_EQ(FindStoredField(data, "title"), "t2");  // exact name wins
  EXPECT_EQ(FindStoredField(data, "TITLE"), "t1");  // else the first without regard to case
  EXPECT_EQ(FindStoredField(data, "skip"), std::nullopt);
  for (size_t cut = 0; cut < data.size(); ++cut) {
    FindStoredField(data.substr(0, cut), "title");  // must not read past the end
  }
  EXPECT_EQ(FindStoredField("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", "x"), std::nullopt);
  EXPECT_LE(KeyTerm(std::string(1000, 'k')).size(), 240u);
  EXPECT_NE(KeyTerm(std::string(1000, 'k')), KeyTerm(std::string(999, 'k') + "j"));
}

TEST(QueryParserTest, DeepNestingAndLongInputParse) {
  FieldRegistry r;
  for (const std::string& q :
       {std::string(10000, '('), std::string(10000, ')'), std::string(5000, ':'),
        std::string("a:") + std::string(3000, 'b') + ":c", std::string(3000, '"')}) {
    Xapian::Query parsed = ParseQuery(q, "", r);
    (void)parsed.get_description();
  }
  // Unknown fields match nothing, content terms something.
  EXPECT_TRUE(ParseQuery("zz:a", "", r).empty());
  EXPECT_FALSE(ParseQuery("a", "", r).empty());
  EXPECT_TRUE(ParseQuery("AND OR", "", r).empty());
}

}  // namespace
}  // namespace tomeva::kms
