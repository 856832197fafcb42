// Simplified and traditional forms, symbols and typed-word ranking through the C API, against
// real indexes: recall against a brute-force scan of folded texts, an index of the previous term
// scheme answering as it did until KMS_Reindex brings it up to date, the ranking of the records
// that hold the typed words together, and the reading and folding calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "kms/fold.h"
#include "kms/kms.h"
#include "kms_test_util.h"
#include "support/temp_dir.h"

namespace tomeva::kms_test {
namespace {

using testing::TempDir;

std::string Utf8(char32_t c) {
  std::string out;
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  out += static_cast<char>(0xE0 | (c >> 12));
  out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (c & 0x3F));
  return out;
}

// The units records are made of: characters with other forms (both forms of fold pairs), plain
// characters, symbols, words and separators. Query runs are drawn from characters and symbols.
struct Alphabet {
  std::vector<std::string> chars;                         // characters and symbols
  std::map<std::string, std::string> fold;                // each form to its folded form
  std::map<std::string, std::vector<std::string>> forms;  // folded form to every form
  std::vector<std::string> others = {"3", "12", "ab", "，", " "};
  std::set<std::string> symbols = {"①", "②", "Ⅷ", "℃", "‰", "㎡", "→", "×"};

  Alphabet() {
    auto pairs = kms::FoldPairs();
    for (size_t i = 0; i < pairs.size(); i += pairs.size() / 30) {
      std::string from = Utf8(pairs[i].from), to = Utf8(pairs[i].to);
      if (fold.count(to) == 0) {
        chars.push_back(to);
        fold[to] = to;
        forms[to].push_back(to);
      }
      chars.push_back(from);
      fold[from] = to;
      forms[to].push_back(from);
    }
    std::vector<std::string> plain(symbols.begin(), symbols.end());
    for (const char* c : {"中", "山", "一"}) plain.push_back(c);
    for (const std::string& c : plain) {
      chars.push_back(c);
      fold[c] = c;
      forms[c].push_back(c);
    }
  }

  std::string Fold(const std::vector<std::string>& units) const {
    std::string out;
    for (const auto& u : units) {
      auto it = fold.find(u);
      out += it == fold.end() ? u : it->second;
    }
    return out;
  }
  // The same characters, each in one of its forms at random.
  std::string Reform(const std::vector<std::string>& units, std::mt19937* rng) const {
    std::string out;
    for (const auto& u : units) {
      const auto& f = forms.at(fold.at(u));
      out += f[(*rng)() % f.size()];
    }
    return out;
  }
};

struct Record {
  std::vector<std::string> content, title;
};

std::vector<std::string> RandomUnits(const Alphabet& a, size_t n, std::mt19937* rng) {
  std::vector<std::string> out;
  for (size_t i = 0; i < n; ++i) {
    out.push_back((*rng)() % 5 == 0 ? a.others[(*rng)() % a.others.size()]
                                    : a.chars[(*rng)() % a.chars.size()]);
  }
  return out;
}

std::string Join(const std::vector<std::string>& units) {
  std::string out;
  for (const auto& u : units) out += u;
  return out;
}

int InsertUnits(const std::string& index, const Record& r, int id, bool store_content = true) {
  KmsDocument* d = KMS_New_Document();
  KMS_Add_Field(d, "xml", XmlOf(id).c_str(), "gb2312", 1, 0, 0);
  KMS_Add_Field(d, "content", Utf8ToGbk(Join(r.content)).c_str(), "gb2312", store_content ? 1 : 0,
                1, 1);
  KMS_Add_Field(d, "title", Utf8ToGbk(Join(r.title)).c_str(), "gb2312", 1, 1, 1);
  KMS_Add_Field(d, "f15", "1", "gb2312", 1, 1, 1);
  int rc = KMS_Insert_Document(index.c_str(), d);
  KMS_Free_Document(d);
  return rc;
}

// Builds an index of the records, in the previous term scheme when `old_scheme`.
int BuildUnits(const std::string& index, const std::vector<Record>& records, bool old_scheme) {
  if (old_scheme) setenv("TOMEVA_KMS_TERM_SCHEME", "2", 1);
  int rc = KMS_Open(index.c_str(), 1);
  for (size_t i = 0; i < records.size() && rc == 0; ++i) {
    rc = InsertUnits(index, records[i], static_cast<int>(i));
  }
  int closed = KMS_Close(index.c_str());
  unsetenv("TOMEVA_KMS_TERM_SCHEME");
  return rc != 0 ? rc : closed;
}

std::string Reading(const std::string& index, const std::string& utf8_query) {
  char* r = KMS_Query_Reading(index.c_str(), Utf8ToGbk(utf8_query).c_str(), "gb2312", "content");
  std::string out = r != nullptr ? GbkToUtf8(r) : "(null)";
  KMS_Free_Field(r);
  return out;
}

struct Query {
  std::string text;              // as sent
  std::string typed;             // the run as typed
  std::vector<std::string> run;  // its characters, as drawn
  bool in_title = false;
  bool symbols = false;  // holds a symbol
};

class FoldedRecallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(20261208);
    for (int i = 0; i < 400; ++i) {
      records_.push_back({RandomUnits(alphabet_, 10 + rng() % 40, &rng),
                          RandomUnits(alphabet_, 2 + rng() % 8, &rng)});
    }
    for (int round = 0; round < 5000 && queries_.size() < 330; ++round) {
      Query q;
      q.in_title = round % 3 == 2;
      size_t len = 1 + round % 6;
      if (round % 5 == 4) {
        for (size_t k = 0; k < len; ++k) {
          q.run.push_back(alphabet_.chars[rng() % alphabet_.chars.size()]);
        }
      } else {
        const Record& r = records_[rng() % records_.size()];
        const auto& units = q.in_title ? r.title : r.content;
        if (units.size() < len) continue;
        size_t start = rng() % (units.size() - len + 1);
        q.run.assign(units.begin() + start, units.begin() + start + len);
        if (std::any_of(q.run.begin(), q.run.end(),
                        [&](const std::string& u) { return alphabet_.fold.count(u) == 0; })) {
          continue;  // a word or separator: runs are of characters and symbols
        }
      }
      for (const auto& u : q.run) q.symbols = q.symbols || alphabet_.symbols.count(u) != 0;
      q.typed = alphabet_.Reform(q.run, &rng);
      q.text = q.in_title  ? "title:\"" + q.typed + "\""
               : round % 2 ? q.typed
                           : "\"" + q.typed + "\"";
      queries_.push_back(q);
    }
  }

  // Records whose field text holds the run: folded when `folded`, else exactly as typed.
  int Brute(const Query& q, bool folded) const {
    std::string needle = folded ? alphabet_.Fold(q.run) : q.typed;
    int n = 0;
    for (const Record& r : records_) {
      const auto& units = q.in_title ? r.title : r.content;
      std::string text = folded ? alphabet_.Fold(units) : Join(units);
      n += text.find(needle) != std::string::npos ? 1 : 0;
    }
    return n;
  }

  Alphabet alphabet_;
  std::vector<Record> records_;
  std::vector<Query> queries_;
};

TEST_F(FoldedRecallTest, CountsEqualFoldedBruteForceOldSchemeAsBeforeReindexBringsItUp) {
  ASSERT_GE(queries_.size(), 300u);
  TempDir dir;
  const std::string folded = dir.path() + "/folded", old = dir.path() + "/old";
  ASSERT_EQ(BuildUnits(folded, records_, false), 0) << KMS_Last_Error();
  ASSERT_EQ(BuildUnits(old, records_, true), 0) << KMS_Last_Error();

  int differ = 0;
  for (const Query& q : queries_) {
    ASSERT_EQ(CountU(folded, q.text), Brute(q, true)) << q.text;
    // The previous scheme: exact forms, symbols dropped (so only runs without them are exact).
    if (!q.symbols) {
      ASSERT_EQ(CountU(old, q.text), Brute(q, false)) << q.text;
      differ += Brute(q, false) != Brute(q, true) ? 1 : 0;
    }
  }
  EXPECT_GT(differ, 30) << "the queries must tell folded from exact forms";
  EXPECT_EQ(Reading(old, "宜爾子孫").find("繁简通查"), std::string::npos);

  ASSERT_EQ(KMS_Reindex(old.c_str()), 0) << KMS_Last_Error();
  EXPECT_EQ(CountU(old, "f15:\"1\""), static_cast<int>(records_.size()));
  for (const Query& q : queries_) ASSERT_EQ(CountU(old, q.text), Brute(q, true)) << q.text;
  EXPECT_NE(Reading(old, "宜爾子孫").find("繁简通查"), std::string::npos);
  // Every record is there with its stored fields.
  std::vector<std::string> xml = HitXml(old, "f15:\"1\"", static_cast<int>(records_.size()));
  std::vector<std::string> all;
  for (size_t i = 0; i < records_.size(); ++i) all.push_back(XmlOf(static_cast<int>(i)));
  std::sort(xml.begin(), xml.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(xml, all);
}

TEST(SymbolPhraseTest, APhraseNeverDropsASymbolOrAnUnindexableCharacter) {
  TempDir dir;
  const std::vector<std::string> texts = {"如图①所示", "如图③", "气温3℃", "增长5‰", "中国"};
  struct Case {
    std::string query;
    int folded, old;
  };
  const std::vector<Case> cases = {
      {"\"图②\"", 0, 2}, {"图①", 1, 2}, {"①", 1, 0},    {"\"3℃\"", 1, 1},
      {"℃", 1, 0},       {"5‰", 1, 1},  {"长5‰", 1, 1}, {"Ⅷ", 0, 0},
  };
  // Bytes GBK does not define (its user area) cannot be indexed: the phrase finds nothing,
  // where the previous scheme read them as a space and found more than the phrase.
  const std::string undefined = Utf8ToGbk("\"中") + "\xAA\xA1" + Utf8ToGbk("国\"");
  for (bool old_scheme : {false, true}) {
    std::string index = dir.path() + (old_scheme ? "/old" : "/new");
    std::vector<Record> records;
    for (const auto& t : texts) records.push_back({{t}, {"题"}});
    ASSERT_EQ(BuildUnits(index, records, old_scheme), 0);
    for (const Case& c : cases) {
      EXPECT_EQ(CountU(index, c.query), old_scheme ? c.old : c.folded) << c.query << old_scheme;
    }
    EXPECT_EQ(Count(index, undefined), old_scheme ? 1 : 0);
  }
  char* r = KMS_Query_Reading((dir.path() + "/new").c_str(), undefined.c_str(), "gb2312", nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_NE(GbkToUtf8(r).find("不能检索"), std::string::npos) << GbkToUtf8(r);
  KMS_Free_Field(r);
}

TEST(ReindexTest, ARecordThatCannotBeRebuiltLeavesTheIndexAsItWas) {
  TempDir dir;
  const std::string index = dir.path() + "/idx";
  setenv("TOMEVA_KMS_TERM_SCHEME", "2", 1);
  ASSERT_EQ(KMS_Open(index.c_str(), 1), 0);
  ASSERT_EQ(InsertUnits(index, {{"宜爾子孫"}, {"詩"}}, 0), 0);
  ASSERT_EQ(InsertUnits(index, {{"國風"}, {"詩"}}, 1, /*store_content=*/false), 0);
  ASSERT_EQ(KMS_Close(index.c_str()), 0);
  unsetenv("TOMEVA_KMS_TERM_SCHEME");

  EXPECT_NE(KMS_Reindex(index.c_str()), 0);
  std::string reason = GbkToUtf8(KMS_Last_Error());
  EXPECT_NE(reason.find("重建"), std::string::npos) << reason;
  EXPECT_NE(reason.find("content"), std::string::npos) << reason;
  // Still the previous scheme, every record still found.
  EXPECT_EQ(CountU(index, "宜爾子孫"), 1);
  EXPECT_EQ(CountU(index, "宜尔子孙"), 0);
  EXPECT_EQ(CountU(index, "国风"), 0);
  EXPECT_EQ(CountU(index, "國風"), 1);
  EXPECT_EQ(CountU(index, "title:詩"), 2);

  EXPECT_NE(KMS_Reindex((dir.path() + "/none").c_str()), 0);
  EXPECT_NE(GbkToUtf8(KMS_Last_Error()).find("不存在"), std::string::npos);
  EXPECT_EQ(KMS_Query_Reading((dir.path() + "/none").c_str(), "a", "gb2312", nullptr), nullptr);
}

// The expression CResultSet sends in the automatic and natural modes for a typed text longer than
// three characters: its keywords joined by AND, in the field.
std::string ModeExpression(const std::string& gbk_typed) {
  char* words = KMS_Get_Keywords(gbk_typed.c_str(), "gb2312");
  std::string expr = "content:";
  std::string w = words != nullptr ? words : "";
  KMS_Free_Keywords(words);
  for (size_t i = 0, start = 0; i <= w.size(); ++i) {
    if (i == w.size() || w[i] == ' ') {
      if (i > start) expr += (expr.size() > 8 ? " AND " : "") + w.substr(start, i - start);
      start = i + 1;
    }
  }
  return expr;
}

TEST(TypedRunRankingTest, RecordsHoldingTheTypedRunComeFirstWithTheSameHits) {
  TempDir dir;
  std::vector<bench::CorpusRecord> records = bench::GenerateCorpus(2000, 20261208);
  ASSERT_EQ(records.size(), 2000u) << "fortune files missing";
  ASSERT_EQ(BuildIndex(dir.path(), records), 0) << KMS_Last_Error();
  std::vector<std::string> contents;
  for (const auto& r : records) contents.push_back(FoldU(GbkToUtf8(ContentOf(r))));

  std::mt19937 rng(3);
  int runs = 0, separated = 0;
  for (int attempt = 0; attempt < 2000 && runs < 30; ++attempt) {
    // A run of 4 to 7 Chinese characters from a record.
    const std::string& t = contents[rng() % contents.size()];
    size_t len = 4 + runs % 4;
    if (t.size() < len * 3) continue;
    size_t start = rng() % (t.size() - len * 3 + 1);
    start -= start % 3;
    std::string run = t.substr(start, len * 3);
    bool han = true;
    for (size_t i = 0; i < run.size(); i += 3) {
      unsigned char c = static_cast<unsigned char>(run[i]);
      han =
          han && c >= 0xE4 && c <= 0xE9 && (static_cast<unsigned char>(run[i + 1]) & 0xC0) == 0x80;
    }
    if (!han || run.size() != len * 3) continue;
    ++runs;
    // Automatic: typed as one run; natural: typed with a space in the middle.
    std::string spaced = run.substr(0, (len / 2) * 3) + " " + run.substr((len / 2) * 3);
    for (const std::string& typed : {run, spaced}) {
      std::string expr = ModeExpression(Utf8ToGbk(typed));
      std::vector<std::string> words;
      for (size_t p = 8, q; p < expr.size(); p = q + 5) {
        q = expr.find(" AND ", p);
        if (q == std::string::npos) q = expr.size();
        words.push_back(GbkToUtf8(expr.substr(p, q - p)));
      }
      std::set<int> expected;
      std::set<int> holders;
      for (size_t i = 0; i < contents.size(); ++i) {
        bool all = true;
        for (const auto& w : words) all = all && contents[i].find(FoldU(w)) != std::string::npos;
        if (all) expected.insert(static_cast<int>(i));
        if (contents[i].find(run) != std::string::npos) holders.insert(static_cast<int>(i));
      }
      KmsSearch* s = KMS_Search(dir.path().c_str(), expr.c_str(), "gb2312", "content");
      ASSERT_NE(s, nullptr);
      const int n = KMS_HitCount(s);
      ASSERT_EQ(n, static_cast<int>(expected.size())) << typed;
      std::set<int> got;
      bool past_holders = false;
      for (int i = 0; i < n; ++i) {
        char* xml = KMS_Get_Field(KMS_Hit(s, i), "xml", "gb2312");
        ASSERT_NE(xml, nullptr);
        int id = std::atoi(std::string(xml).substr(std::string("<record><id>").size()).c_str());
        KMS_Free_Field(xml);
        got.insert(id);
        bool holds = holders.count(id) != 0;
        ASSERT_FALSE(holds && past_holders) << typed << " hit " << i;
        past_holders = past_holders || !holds;
      }
      KMS_ClearSearch(s);
      EXPECT_EQ(got, expected) << typed;
      separated += expected.size() > holders.size() ? 1 : 0;
    }
  }
  EXPECT_EQ(runs, 30);
  EXPECT_GT(separated, 5) << "too few runs whose words also stand apart to test the ranking";
}

TEST(FoldTextTest, FoldsWithOffsetsBackToTheOriginal) {
  struct Case {
    std::string text, folded;
    std::vector<int> offsets;
  };
  const std::string g = Utf8ToGbk("中");
  const std::vector<Case> cases = {
      {Utf8ToGbk("宜爾子孫"), Utf8ToGbk("宜尔子孙"), {0, 0, 2, 2, 4, 4, 6, 6, 8}},
      {Utf8ToGbk("ＡＢc國"), Utf8ToGbk("abc国"), {0, 2, 4, 5, 5, 7}},
      {"X\xFF" + g, "x\xFF" + g, {0, 1, 2, 2, 4}},  // a byte that is not GBK stays as it is
      {"", "", {0}},
  };
  for (const Case& c : cases) {
    int* offsets = nullptr;
    char* out = KMS_Fold_Text(c.text.c_str(), "gb2312", &offsets);
    ASSERT_NE(out, nullptr);
    ASSERT_NE(offsets, nullptr);
    std::string gbk = out;
    EXPECT_EQ(gbk, c.folded) << GbkToUtf8(c.text);
    EXPECT_EQ(std::vector<int>(offsets, offsets + gbk.size() + 1), c.offsets) << GbkToUtf8(c.text);
    KMS_Free_Field(out);
    KMS_Free_Offsets(offsets);
  }
}

}  // namespace
}  // namespace tomeva::kms_test
