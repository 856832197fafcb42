// The engine's parts below the C API: the tokeniser's positions, the field table and the stored
// data format.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "kms/document.h"
#include "kms/field_registry.h"
#include "kms/index_store.h"
#include "kms/query_parser.h"
#include "kms/terms.h"
#include "support/temp_dir.h"

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

// An in-memory database of the texts, one document each, in the content field.
Xapian::WritableDatabase MemoryIndex(const std::vector<std::string>& texts, TermScheme scheme) {
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  for (const auto& t : texts) {
    Xapian::Document d;
    uint32_t pos = 1;
    IndexText(t, "", scheme, &pos, &d);
    db.add_document(d);
  }
  return db;
}

// Phrase queries against a small in-memory database, in both term schemes: a phrase without
// separators finds exactly the texts holding it. One with a separator keeps its parts in order
// within the same span, so it also finds the text without the separator; in the pair scheme a
// lone character between separators only has to be in the text.
TEST(PhraseQueryTest, MatchesExactlyTheTextsHoldingThePhrase) {
  const std::vector<std::string> texts = {
      "一二三四五", "一二 三四五", "三四五一二", "一二一二一", "abc一二",   "abc 一二",
      "一",         "2008年代",    "第3章一",    "年3月",      "x第3章二y", "章 3"};
  struct Case {
    std::string phrase;
    int chars, pairs;  // hits with character positions, with pair positions; -1: no terms
  };
  const std::vector<Case> cases = {
      {"一", 8, 8},
      {"一二", 6, 6},
      {"一二三", 1, 1},
      {"二三四五", 1, 1},
      {"一二一", 1, 1},
      {"一二一二一", 1, 1},
      {"二一二", 1, 1},
      {"五一", 1, 1},
      {"二三四五一", 0, 0},
      {"abc一二", 1, 1},
      {"abc 一二", 2, 2},
      {"，", -1, -1},
      {"2008年", 1, 1},  // a character after digits
      {"08年", 0, 0},    // digits are one word
      {"第3章", 2, 2},   // characters on both sides of digits
      {"3章", 2, 2},
      {"3章一", 1, 1},
      {"年3", 1, 1},  // a character before digits
      {"章二y", 1, 1},
      {"x第", 1, 1},
      {"三 五", 3, 3},
      {"年 月", 1, 1},
      {"二 三", 2, 3},  // lone characters between separators
      {"三 一", 0, 3},
      {"3 章", 2, 3},
      {"章 3", 1, 3},
  };
  for (TermScheme scheme :
       {TermScheme::kCharPositions, TermScheme::kPairPositions, TermScheme::kFolded}) {
    SCOPED_TRACE(static_cast<int>(scheme));
    Xapian::WritableDatabase db = MemoryIndex(texts, scheme);
    for (const Case& c : cases) {
      int n = scheme == TermScheme::kCharPositions ? c.chars : c.pairs;
      Xapian::Query q;
      bool has_terms = PhraseQuery(c.phrase, "", scheme, &q);
      ASSERT_EQ(has_terms, n >= 0) << c.phrase;
      if (!has_terms) continue;
      Xapian::Enquire e(db);
      e.set_query(q);
      EXPECT_EQ(e.get_mset(0, 20, db.get_doccount()).get_matches_estimated(),
                static_cast<Xapian::doccount>(n))
          << c.phrase;
    }
  }
}

// Texts mixing characters, words, digits and separators against a brute-force phrase match on
// their tokens: a phrase without separators finds exactly the texts holding its tokens at
// consecutive positions, and one with separators at least those holding them at the same gaps.
TEST(PhraseQueryTest, MixedScriptPhrasesMatchLikeABruteForceScan) {
  const std::vector<std::string> alphabet = {"一", "二", "三", "四", "a", "b", "1", " ", "，"};
  std::mt19937 rng(11);
  auto random_text = [&](size_t max_len) {
    std::string t;
    size_t len = 1 + rng() % max_len;
    for (size_t i = 0; i < len; ++i) t += alphabet[rng() % alphabet.size()];
    return t;
  };
  std::vector<std::vector<Token>> docs;
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) {
    texts.push_back(random_text(24));
    docs.push_back(Tokenize(texts.back()));
  }
  auto holds = [](const std::vector<Token>& doc, const std::vector<Token>& q) {
    for (size_t j = 0; j + q.size() <= doc.size(); ++j) {
      bool ok = true;
      for (size_t k = 0; ok && k < q.size(); ++k) {
        ok = doc[j + k].text == q[k].text &&
             doc[j + k].pos - doc[j].pos == q[k].pos - q[0].pos;
      }
      if (ok) return true;
    }
    return false;
  };
  for (TermScheme scheme :
       {TermScheme::kCharPositions, TermScheme::kPairPositions, TermScheme::kFolded}) {
    SCOPED_TRACE(static_cast<int>(scheme));
    Xapian::WritableDatabase db = MemoryIndex(texts, scheme);
    for (int i = 0; i < 400; ++i) {
      std::string phrase = random_text(6);
      std::vector<Token> q = Tokenize(phrase);
      Xapian::Query query;
      if (!PhraseQuery(phrase, "", scheme, &query)) continue;
      bool gaps = q.back().pos - q.front().pos + 1 != q.size();
      Xapian::doccount expected = 0;
      for (const auto& doc : docs) expected += holds(doc, q) ? 1 : 0;
      Xapian::Enquire e(db);
      e.set_query(query);
      Xapian::doccount found = e.get_mset(0, 10, db.get_doccount()).get_matches_estimated();
      if (gaps) {
        EXPECT_GE(found, expected) << phrase;
      } else {
        EXPECT_EQ(found, expected) << phrase;
      }
    }
  }
}

// Long runs of few distinct characters, where a phrase can slip against itself: every phrase of
// 2 to 9 characters finds exactly the texts that hold it, in both schemes.
TEST(PhraseQueryTest, RunsOfRepeatedCharactersMatchExactly) {
  const std::vector<std::string> alphabet = {"一", "二", "三"};
  std::mt19937 rng(5);
  auto random_run = [&](size_t len) {
    std::string t;
    for (size_t i = 0; i < len; ++i) t += alphabet[rng() % alphabet.size()];
    return t;
  };
  std::vector<std::string> texts;
  for (int i = 0; i < 200; ++i) texts.push_back(random_run(3 + rng() % 14) + "，" + random_run(6));
  for (TermScheme scheme :
       {TermScheme::kCharPositions, TermScheme::kPairPositions, TermScheme::kFolded}) {
    SCOPED_TRACE(static_cast<int>(scheme));
    Xapian::WritableDatabase db = MemoryIndex(texts, scheme);
    for (int i = 0; i < 300; ++i) {
      std::string phrase = random_run(2 + rng() % 8);
      Xapian::doccount expected = 0;
      for (const auto& t : texts) expected += t.find(phrase) != std::string::npos ? 1 : 0;
      Xapian::Query query;
      ASSERT_TRUE(PhraseQuery(phrase, "", scheme, &query));
      Xapian::Enquire e(db);
      e.set_query(query);
      EXPECT_EQ(e.get_mset(0, 10, db.get_doccount()).get_matches_estimated(), expected) << phrase;
    }
  }
}

// An index written before the term scheme was recorded keeps answering exactly, and documents
// added to it later are written in its scheme; a new index records the current one.
TEST(TermSchemeTest, OlderIndexesKeepTheirScheme) {
  testing::TempDir root;
  std::string index = root / "SearchDB";
  auto count = [&](const std::string& utf8) {
    std::unique_ptr<PooledReader> reader = PooledReader::Acquire(index);
    if (!reader) return -1;
    Xapian::Enquire e(reader->db());
    e.set_query(ParseQuery(utf8, "", reader->fields()));
    return static_cast<int>(e.get_mset(0, 10, reader->db().get_doccount()).get_matches_estimated());
  };
  auto insert = [&](IndexWriter* w, const std::string& utf8) {
    PendingDocument p;
    p.fields.push_back({"content", Utf8ToGbk(utf8), false, true, true});
    bool changed = false;
    w->Insert(BuildDocument(p, &w->fields(), &changed), "");
    if (changed) w->MarkFieldsChanged();
  };
  {
    IndexWriter w(index);  // creates the index
  }
  {
    // Rewrite it as an older version did: character positions, no scheme entry.
    Xapian::WritableDatabase db(*CurrentGeneration(index), Xapian::DB_OPEN);
    db.set_metadata(kTermSchemeKey, "");
    db.set_metadata(kFieldsKey, "content\t\tt\n");
    for (const std::string text : {"一二三四五", "中国历史", "2008年代"}) {
      Xapian::Document d;
      uint32_t pos = 1;
      IndexText(text, "", TermScheme::kCharPositions, &pos, &d);
      db.add_document(d);
    }
    db.commit();
  }
  {
    IndexWriter w(index);
    EXPECT_EQ(w.fields().scheme(), TermScheme::kCharPositions);
    insert(&w, "三四五六七");
    w.Commit();
  }
  const std::vector<std::pair<std::string, int>> cases = {
      {"三四五", 2}, {"国历史", 1}, {"2008年", 1}, {"五六七", 1}, {"三 五", 2}, {"四", 2}};
  for (const auto& [q, n] : cases) EXPECT_EQ(count(q), n) << q;

  std::string fresh = root / "Fresh";
  {
    IndexWriter w(fresh);
    insert(&w, "一二三四五");
    w.Commit();
  }
  Xapian::Database db(*CurrentGeneration(fresh));
  EXPECT_EQ(db.get_metadata(kTermSchemeKey), std::to_string(static_cast<int>(kCurrentTermScheme)));
  EXPECT_EQ(LoadFieldRegistry(db).scheme(), kCurrentTermScheme);
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

TEST(QueryParserTest, LongInputWithinTheLimitsParses) {
  FieldRegistry r;
  for (const std::string& q :
       {std::string(2000, ')'), std::string(2000, ':'), std::string(32, '(') + "a",
        std::string("a:") + std::string(3000, 'b') + ":c", std::string(2000, '"')}) {
    Xapian::Query parsed = ParseQuery(q, "", r);
    (void)parsed.get_description();
  }
  // Unknown fields match nothing, content terms something.
  EXPECT_TRUE(ParseQuery("zz:a", "", r).empty());
  EXPECT_FALSE(ParseQuery("a", "", r).empty());
  EXPECT_TRUE(ParseQuery("AND OR", "", r).empty());
}

std::string Repeat(const std::string& unit, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

// Each limit refuses what passes it, and names itself; what stays within it parses.
TEST(QueryParserTest, ExpressionsPastALimitAreRefusedNamingIt) {
  FieldRegistry r;
  struct Case {
    const char* what;
    std::string query;
    std::optional<QueryRefused::Limit> refused;
  };
  const std::string han = "\xE4\xB8\xAD";  // 中
  const std::vector<Case> cases = {
      {"20,000 ORs", "a" + Repeat(" OR a", 20000), QueryRefused::Limit::kBytes},
      {"10,000 ORs", "a" + Repeat(" OR a", 10000), QueryRefused::Limit::kLexemes},
      {"20,000 ANDs", "a" + Repeat(" AND a", 20000), QueryRefused::Limit::kBytes},
      {"10,000 ANDs", "a" + Repeat(" AND a", 10000), QueryRefused::Limit::kLexemes},
      {"20,000 implicit ANDs", Repeat("a ", 20000), QueryRefused::Limit::kLexemes},
      {"100,000 brackets", std::string(100000, '('), QueryRefused::Limit::kBytes},
      {"60,000 brackets", std::string(60000, '('), QueryRefused::Limit::kLexemes},
      {"33 nested brackets", std::string(33, '(') + "a", QueryRefused::Limit::kDepth},
      {"32 nested brackets", std::string(32, '(') + "a", std::nullopt},
      {"a long quoted run", "\"" + Repeat(han, 3000) + "\"", QueryRefused::Limit::kTerms},
      {"a long unquoted run", Repeat(han, 3000), QueryRefused::Limit::kTerms},
      {"many short phrases", Repeat("\"" + han + han + han + "\" ", 1500),
       QueryRefused::Limit::kTerms},
      {"1,000 ORs", "a" + Repeat(" OR a", 1000), std::nullopt},
      {"2,000 words", Repeat("a ", 2000), std::nullopt},
      {"2,049 words", Repeat("a ", 2049), QueryRefused::Limit::kLexemes},
      {"64 KiB exactly", std::string(kMaxExpressionBytes, ' '), std::nullopt},
      {"a byte more", std::string(kMaxExpressionBytes + 1, ' '), QueryRefused::Limit::kBytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      ParseQuery(c.query, "", r);
      EXPECT_FALSE(c.refused.has_value()) << "was not refused";
    } catch (const QueryRefused& e) {
      ASSERT_TRUE(c.refused.has_value()) << "refused";
      EXPECT_EQ(e.limit(), *c.refused);
    }
  }
}

// A chain of one connective is one n-ary query, whatever its length, and the readable text is
// that of the chain read left to right, brackets where connectives change.
TEST(QueryParserTest, ChainsAreFlatAndReadAsBefore) {
  FieldRegistry r;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a b NOT c d", "((content:a AND content:b) AND NOT content:c) AND content:d"},
      {"(a OR b) c", "(content:a OR content:b) AND content:c"},
      {"a (b OR c)", "content:a AND (content:b OR content:c)"},
      {"a NOT (b c)", "content:a AND NOT (content:b AND content:c)"},
      {"((a OR b) c) OR d", "((content:a OR content:b) AND content:c) OR content:d"},
      {"d OR ((a OR b) c)", "content:d OR ((content:a OR content:b) AND content:c)"},
      {"NOT b a", "content:a"},  // a leading NOT is dropped
      {"a NOT b NOT c", "(content:a AND NOT content:b) AND NOT content:c"},
      {"a ) b", "content:a AND content:b"},
      {"a OR b OR c", "content:a OR content:b OR content:c"},
  };
  for (const auto& [query, expression] : cases) {
    EXPECT_EQ(ParseQueryFull(query, "", r).expression, expression) << query;
  }
  Xapian::Query ors = ParseQuery("a" + Repeat(" OR a", 999), "", r);
  EXPECT_EQ(ors.get_type(), Xapian::Query::OP_OR);
  EXPECT_EQ(ors.get_num_subqueries(), 1000u);
  Xapian::Query ands = ParseQuery("a" + Repeat(" b", 999) + " NOT c NOT d", "", r);
  EXPECT_EQ(ands.get_type(), Xapian::Query::OP_AND_NOT);
  ASSERT_EQ(ands.get_num_subqueries(), 3u);
  EXPECT_EQ(ands.get_subquery(0).get_num_subqueries(), 1000u);
}

// A field table no index of the engine has (an index server may send any) is refused before a
// query looks words up in it.
TEST(FieldRegistryTest, AnOversizedFieldTableIsRefused) {
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  std::string table;
  for (int i = 0; table.size() <= kMaxFieldTableBytes; ++i) {
    table += "f" + std::to_string(i) + "\tZ" + std::to_string(i) + ":\tt\n";
  }
  db.set_metadata(kFieldsKey, table);
  EXPECT_THROW(LoadFieldRegistry(db), Xapian::DatabaseCorruptError);
  db.set_metadata(kFieldsKey, table.substr(0, kMaxFieldTableBytes / 2));
  EXPECT_NO_THROW(LoadFieldRegistry(db));
}

// Xapian's own stub opener is what would start the program: the same stub handed to it does, so
// the engine's refusals of such stubs (kms_limits_test) are its own doing, not a program that
// cannot run here.
TEST(IndexStubTest, XapianItselfWouldStartTheStubsProgram) {
  testing::TempDir dir;
  const std::string marker = dir / "marker";
  const std::string program = dir / "program";
  std::ofstream(program) << "#!/bin/sh\ntouch '" << marker << "'\nexit 1\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  std::ofstream(dir / "XAPIANDB") << "remote :" << program << "\n";
  try {
    Xapian::Database db(dir / "XAPIANDB");
  } catch (const Xapian::Error&) {
    // The program is not a server: the connection fails after it ran.
  }
  for (int i = 0; i < 50 && !std::filesystem::exists(marker); ++i) ::usleep(20 * 1000);
  EXPECT_TRUE(std::filesystem::exists(marker));
}

}  // namespace
}  // namespace tomeva::kms
