// The folding term scheme below the C API: the generated fold table, the tokeniser's symbols and
// unindexable characters, phrases with symbols, how a query is read (its typed run included),
// and the rebuilding of a document from its stored fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/gbk.h"
#include "kms/document.h"
#include "kms/fold.h"
#include "kms/query_parser.h"
#include "kms/reindex.h"
#include "kms/terms.h"

namespace tomeva::kms {
namespace {

std::string Render(const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& t : tokens)
    out += (out.empty() ? "" : " ") + t.text + "@" + std::to_string(t.pos);
  return out;
}

char32_t First(const std::string& utf8) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8.data());
  if (s[0] < 0x80) return s[0];
  if (s[0] < 0xE0) return ((s[0] & 0x1F) << 6) | (s[1] & 0x3F);
  return ((s[0] & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
}

TEST(FoldTableTest, IsSortedWithFixedPointsAndKnownPairs) {
  std::span<const FoldPair> pairs = FoldPairs();
  ASSERT_GT(pairs.size(), 2000u);
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(pairs[i - 1].from, pairs[i].from);
    }
    EXPECT_NE(pairs[i].from, pairs[i].to);
    EXPECT_EQ(FoldHan(pairs[i].to), pairs[i].to) << static_cast<uint32_t>(pairs[i].from);
    // Both forms are GBK characters, so that a folded GBK text stays GBK.
    std::u32string both = {pairs[i].from, pairs[i].to};
    for (char32_t c : both) {
      std::string u8;
      u8 += static_cast<char>(0xE0 | (c >> 12));
      u8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      u8 += static_cast<char>(0x80 | (c & 0x3F));
      ASSERT_EQ(Utf8ToGbk(u8).size(), 2u) << static_cast<uint32_t>(c);
    }
  }
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"爾", "尔"}, {"孫", "孙"}, {"發", "发"}, {"髮", "发"}, {"國", "国"},
      {"尔", "尔"}, {"中", "中"}, {"a", "a"},   {"①", "①"},   {"「", "「"}};
  for (const auto& [from, to] : cases) {
    EXPECT_EQ(static_cast<uint32_t>(FoldHan(First(from))), static_cast<uint32_t>(First(to)))
        << from;
  }
  EXPECT_TRUE(HasOtherForms(First("尔")));
  EXPECT_TRUE(HasOtherForms(First("爾")));
  EXPECT_FALSE(HasOtherForms(First("中")));
}

TEST(TokenizeTest, FoldingSchemeFoldsAndIndexesSymbols) {
  struct Case {
    std::string text, folded, pairs;  // tokens in the folding scheme, and in the pair scheme
    bool unindexed;
  };
  const std::vector<Case> cases = {
      {"宜爾子孫", "宜@1 尔@2 子@3 孙@4", "宜@1 爾@2 子@3 孫@4", false},
      {"见图①", "见@1 图@2 ①@3", "见@1 图@2", false},
      {"第Ⅷ章", "第@1 Ⅷ@2 章@3", "第@1 章@3", false},
      {"3℃", "3@1 ℃@2", "3@1", false},
      {"增长5‰", "增@1 长@2 5@3 ‰@4", "增@1 长@2 5@3", false},
      {"50㎡→", "50@1 ㎡@2 →@3", "50@1", false},
      {"Ａ＋Ｂ", "a@1 b@3", "a@1 b@3", false},  // ASCII symbols stay separators
      {"中，国", "中@1 国@3", "中@1 国@3", false},
      {"中\xEE\x80\x80国", "中@1 国@3", "中@1 国@3", true},  // private use
      {"中\xEF\xBF\xBD国", "中@1 国@3", "中@1 国@3", true},  // bytes that were not text
  };
  for (const Case& c : cases) {
    bool unindexed = false;
    EXPECT_EQ(Render(Tokenize(c.text, 1, TermScheme::kFolded, &unindexed)), c.folded) << c.text;
    EXPECT_EQ(unindexed, c.unindexed) << c.text;
    unindexed = false;
    EXPECT_EQ(Render(Tokenize(c.text, 1, TermScheme::kPairPositions, &unindexed)), c.pairs);
    EXPECT_FALSE(unindexed) << "only the folding scheme tells";
  }
}

Xapian::doccount Hits(const Xapian::Database& db, const Xapian::Query& q) {
  Xapian::Enquire e(db);
  e.set_query(q);
  return e.get_mset(0, 10, db.get_doccount()).get_matches_estimated();
}

// Symbols and unindexable characters in phrases: the folding scheme keeps every symbol, and a
// phrase holding a character it cannot index finds nothing; the pair scheme keeps answering as
// it did, dropping both.
TEST(PhraseQueryTest, SymbolsCountAndUnindexableCharactersMatchNothing) {
  const std::vector<std::string> texts = {"见图①所示", "见图②", "宜爾子孫",        "宜尔子孙兮",
                                          "气温3℃",    "中国",  "中\xEE\x80\x80国"};
  struct Case {
    std::string phrase;
    int folded, pairs;
  };
  const std::vector<Case> cases = {
      {"图②", 1, 2},
      {"图①所", 1, 1},
      {"①", 1, -1},
      {"宜尔子孙", 2, 1},
      {"宜爾子孫", 2, 1},
      {"爾子", 2, 1},
      {"3℃", 1, 1},
      {"温3℃", 1, 1},
      {"中\xEE\x80\x80国", 0, 2},  // the pair scheme reads it as "中 国"
  };
  for (TermScheme scheme : {TermScheme::kPairPositions, TermScheme::kFolded}) {
    Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
    for (const auto& t : texts) {
      Xapian::Document d;
      uint32_t pos = 1;
      IndexText(t, "", scheme, &pos, &d);
      db.add_document(d);
    }
    for (const Case& c : cases) {
      int want = scheme == TermScheme::kFolded ? c.folded : c.pairs;
      Xapian::Query q;
      ASSERT_EQ(PhraseQuery(c.phrase, "", scheme, &q), want >= 0) << c.phrase;
      if (want >= 0) {
        EXPECT_EQ(Hits(db, q), static_cast<Xapian::doccount>(want)) << c.phrase;
      }
    }
  }
}

FieldRegistry Fields(TermScheme scheme) {
  FieldRegistry r;
  bool added;
  for (const char* name : {"content", "title", "f15"}) r.Intern(name, true, &added);
  r.Intern("isbn", false, &added);
  r.set_scheme(scheme);
  return r;
}

// How queries are read: the expression, the phrases, the typed run that ranks first (only for a
// conjunction of two or more bare words of the default field) and the words folding widens.
TEST(QueryReadingTest, ExpressionPhrasesTypedRunAndWidening) {
  struct Case {
    std::string query, default_field, expression, phrases, typed_run, widened;
  };
  const std::vector<Case> cases = {
      {"content:白 AND 日 AND 依 AND 山", "content",
       "content:白 AND content:日 AND content:依 AND content:山", "", "content:\"白日依山\"", ""},
      {"f15:\"3\" AND title:白日 AND 依山", "title",
       "f15:\"3\" AND title:\"白日\" AND title:\"依山\"", "title:\"白日\" title:\"依山\"",
       "title:\"白日依山\"", ""},
      {"\"白日\" AND \"依山\"", "content", "content:\"白日\" AND content:\"依山\"",
       "content:\"白日\" content:\"依山\"", "", ""},
      {"白日 OR 依山", "content", "content:\"白日\" OR content:\"依山\"",
       "content:\"白日\" content:\"依山\"", "", ""},
      {"python 编程", "content", "content:python AND content:\"编程\"", "content:\"编程\"",
       "content:\"python 编程\"", "编程"},
      {"宜爾子孫 NOT (图① OR isbn:7-5)", "content",
       "content:\"宜尔子孙\" AND NOT (content:\"图①\" OR isbn:7-5)",
       "content:\"宜尔子孙\" content:\"图①\"", "", "宜爾子孫→宜尔子孙|图①"},
      {"title:中 nosuch:x", "content", "title:中 AND nosuch:x（索引无此字段）", "", "", ""},
  };
  FieldRegistry fields = Fields(TermScheme::kFolded);
  for (const Case& c : cases) {
    ParsedQuery p = ParseQueryFull(c.query, c.default_field, fields);
    EXPECT_EQ(p.expression, c.expression) << c.query;
    std::string phrases;
    for (const auto& s : p.phrases) phrases += (phrases.empty() ? "" : " ") + s;
    EXPECT_EQ(phrases, c.phrases) << c.query;
    EXPECT_EQ(p.typed_run, c.typed_run) << c.query;
    std::string widened;
    for (const auto& s : p.widened) widened += (widened.empty() ? "" : "|") + s;
    EXPECT_EQ(widened, c.widened) << c.query;
  }
  ParsedQuery bad = ParseQueryFull("中\xEE\x80\x80国", "content", fields);
  EXPECT_TRUE(bad.unindexable);
  // An index of the pair scheme is read as it always was: no folding, no typed run.
  ParsedQuery old =
      ParseQueryFull("content:宜爾 AND 子孫", "content", Fields(TermScheme::kPairPositions));
  EXPECT_TRUE(old.widened.empty());
  EXPECT_TRUE(old.typed_run.empty());
}

// A rebuilt document has the terms a new insert of its stored fields would have, keeps its key
// and data, and a document whose searchable field was not stored cannot be rebuilt.
TEST(RebuildDocumentTest, RebuildsFromStoredFieldsOrRefuses) {
  FieldRegistry fields = Fields(TermScheme::kPairPositions);
  PendingDocument pending;
  pending.fields = {{"content", Utf8ToGbk("宜爾子孫"), true, true, true},
                    {"title", Utf8ToGbk("詩經"), true, true, true},
                    {"isbn", "7-5", true, true, false}};
  pending.key = "k1";
  bool changed = false;
  Xapian::Document old = BuildDocument(pending, &fields, &changed);
  Xapian::Document rebuilt = RebuildDocument(old, 1, fields, TermScheme::kFolded);
  FieldRegistry folded = fields;
  folded.set_scheme(TermScheme::kFolded);
  Xapian::Document fresh = BuildDocument(pending, &folded, &changed);
  auto terms = [](const Xapian::Document& d) {
    std::string out;
    for (auto t = d.termlist_begin(); t != d.termlist_end(); ++t) {
      out += *t + ":";
      for (auto p = t.positionlist_begin(); p != t.positionlist_end(); ++p)
        out += std::to_string(*p);
      out += " ";
    }
    return out;
  };
  EXPECT_EQ(terms(rebuilt), terms(fresh));
  EXPECT_NE(terms(rebuilt).find("尔子"), std::string::npos);
  EXPECT_EQ(rebuilt.get_data(), old.get_data());

  // Each way a document can lack what rebuilding needs.
  PendingDocument unstored;
  unstored.fields = {{"content", Utf8ToGbk("中国"), false, true, true}};
  Xapian::Document no_value = BuildDocument(unstored, &fields, &changed);
  Xapian::Document damaged = old;
  damaged.set_data(
      "\x05"
      "ab");
  Xapian::Document stray;
  stray.add_term("Zqq");
  for (const Xapian::Document& d : {no_value, damaged, stray}) {
    EXPECT_THROW(RebuildDocument(d, 7, fields, TermScheme::kFolded), RebuildError);
  }
}

}  // namespace
}  // namespace tomeva::kms
