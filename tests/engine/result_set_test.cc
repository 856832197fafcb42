#include "core/engine/result_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "engine_kms/kms_engine.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

KmsEngine& TheEngine() {
  static KmsEngine engine;
  return engine;
}

// Inserts a document of `fields` (stored, searchable, split into words; "xml" only stored) into
// the open writer of `index`.
bool Insert(const std::string& index, const std::vector<std::pair<std::string, std::string>>& fields) {
  IndexDocument doc;
  for (const auto& [name, value] : fields) {
    const bool text = name == "xml";
    doc.fields.push_back({name, value, true, !text, !text});
  }
  std::string reason;
  return TheEngine().InsertDocument(index, doc, &reason);
}

TEST(PrepareQuery, RewritesByMode) {
  struct Case {
    int mode;
    std::string query, want;
    bool rewritten;
  };
  const Case cases[] = {
      {kQueryExact, G("  中国  历史 "), G("\"中国\" AND \"历史\""), true},
      {kQueryExact, "a b c", "\"a\" AND \"b\" AND \"c\"", true},
      {kQueryExact, "", "", false},
      {kQueryExact, "   ", "", true},
      {kQueryNatural, G("中国 OR 历史"), G("中国 OR 历史"), false},
      {kQueryAuto, G("中国"), G("\"中国\""), true},
      {kQueryAuto, G("中 国"), G("\"中 国\""), true},   // 5 bytes, spaces included
      {kQueryAuto, G("中国历"), G("\"中国历\""), true},  // 6 bytes
      {kQueryAuto, G("中国历史"), G("中国历史"), false},  // 8 bytes: unchanged
      {kQueryAuto, "", "", false},
  };
  for (const Case& c : cases) {
    CResultSet rs(TheEngine(), {}, 1, c.mode);
    bool rewritten = !c.rewritten;
    EXPECT_EQ(rs.PrepareQuery(c.query, &rewritten), c.want) << GbkToUtf8(c.query);
    EXPECT_EQ(rewritten, c.rewritten) << GbkToUtf8(c.query);
  }
}

TEST(ExtractKeywords, RewrittenQueriesSplitLocallyWithTheConnective) {
  CResultSet rs(TheEngine(), {}, 1, kQueryExact);
  bool rewritten = false;
  std::string q = rs.PrepareQuery(G("  中国  历史 "), &rewritten);
  rs.ExtractKeywords(&q, rewritten);
  EXPECT_EQ(rs.keywords(), (std::vector<std::string>{G("中国"), "AND", G("历史")}));
  EXPECT_EQ(q, G("\"中国\" AND \"历史\""));
}

TEST(ParseCategory, LeadingDigitsOnly) {
  EXPECT_EQ(ParseCategory("13"), 13);
  EXPECT_EQ(ParseCategory("7abc"), 7);
  EXPECT_EQ(ParseCategory("abc"), 0);
  EXPECT_EQ(ParseCategory(nullptr), 0);
  EXPECT_EQ(ParseCategory("99999999999999999999"), 2147483647);
}

// A real index of 25 records: record i has title "第i首", category 3 for even i and 13 for odd i;
// records 0..24 all contain 明月, records 0..6 also contain 故乡.
class ResultSetIndexTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir();
    index_ = new std::string(*dir_ / "SearchDB");
    TheEngine().OpenIndex(*index_, 1, nullptr);
    for (int i = 0; i < 25; ++i) {
      std::string title = G("第") + std::to_string(i) + G("首");
      std::string body = G(i < 7 ? "举头望明月，低头思故乡" : "明月几时有");
      std::string cat = i % 2 ? "13" : "3";
      std::string xml = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n\t<FdName>" +
                        title + "</FdName>\n</record>\n";
      ASSERT_TRUE(Insert(*index_, {{"xml", xml},
                                   {"content", title + "\n" + body + "\n" + cat + "\n"},
                                   {"title", title},
                                   {"f15", cat}}));
    }
    TheEngine().CloseIndex(*index_, nullptr);
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete index_;
  }
  static testing::TempDir* dir_;
  static std::string* index_;
};
testing::TempDir* ResultSetIndexTest::dir_ = nullptr;
std::string* ResultSetIndexTest::index_ = nullptr;

TEST_F(ResultSetIndexTest, PagesAreFetchedOnDemandAndTotalsAreExact) {
  CResultSet rs(TheEngine(), {*index_}, 1, kQueryAuto);
  rs.Search(G("明月"), "content", "");
  EXPECT_EQ(rs.expression(), G("content:\"明月\""));
  EXPECT_EQ(rs.keywords(), std::vector<std::string>{G("明月")});
  EXPECT_EQ(rs.GetTotalCount(), 25);
  EXPECT_EQ(rs.current_page(), 0);
  EXPECT_EQ(rs.hits().size(), 10u);
  std::vector<std::string> seen;
  for (int n : {0, 9, 10, 3, 24}) {
    SearchHit hit = rs.GetHit(n);
    EXPECT_EQ(rs.current_page(), n / 10) << n;
    EXPECT_NE(hit.xml.find("<FdName>"), std::string::npos);
    EXPECT_TRUE(hit.category == 3 || hit.category == 13);
  }
  EXPECT_EQ(rs.hits().size(), 5u);  // the last page holds the remaining five
  // Every hit appears exactly once over the pages.
  for (int n = 0; n < 25; ++n) seen.push_back(rs.GetHit(n).xml);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
}

TEST_F(ResultSetIndexTest, ConditionRestrictsToTheExactCategory) {
  CResultSet rs(TheEngine(), {*index_}, 1, kQueryExact);
  rs.Search(G("故乡"), "content", "f15:\"3\"");
  EXPECT_EQ(rs.expression(), G("f15:\"3\" AND content:\"故乡\""));
  EXPECT_EQ(rs.GetTotalCount(), 4);  // records 0, 2, 4, 6
  for (const SearchHit& h : rs.hits()) EXPECT_EQ(h.category, 3);
}

TEST_F(ResultSetIndexTest, SeveralIndexesAreSummedAndMissingOnesCountZero) {
  CResultSet rs(TheEngine(), {*index_, *dir_ / "absent", *index_}, 1, kQueryAuto);
  rs.Search(G("故乡"), "content", "");
  EXPECT_EQ(rs.GetTotalCount(), 14);
  // Page 1 spans the end of the first index and the start of the third.
  rs.FetchPage(1);
  EXPECT_EQ(rs.hits().size(), 4u);
  CResultSet none(TheEngine(), {*index_}, 1, kQueryAuto);
  none.Search(G("长江"), "content", "");
  EXPECT_EQ(none.GetTotalCount(), 0);
  EXPECT_TRUE(none.hits().empty());
  EXPECT_FALSE(none.failure().failed);  // a search that ran and found nothing
}

// An index that cannot be opened is a failure naming it, with the engine's reason, and never a
// search without hits; indexes beside it still answer.
TEST_F(ResultSetIndexTest, AnIndexThatCannotBeOpenedIsAFailureNotZeroHits) {
  // A real index whose every file is then overwritten with garbage.
  const std::string damaged = *dir_ / "Damaged";
  ASSERT_TRUE(TheEngine().OpenIndex(damaged, 1, nullptr));
  ASSERT_TRUE(Insert(damaged, {{"content", G("明月")}}));
  ASSERT_TRUE(TheEngine().CloseIndex(damaged, nullptr));
  int overwritten = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(damaged)) {
    if (!entry.is_regular_file()) continue;
    std::ofstream(entry.path(), std::ios::binary | std::ios::trunc) << std::string(
        static_cast<size_t>(std::max<std::uintmax_t>(entry.file_size(), 64)), '\xA5');
    ++overwritten;
  }
  ASSERT_GT(overwritten, 1);

  const struct {
    const char* name;
    std::vector<std::string> indexes;
    std::string failed;  // the index named by the failure ("" = none)
    int total;
  } cases[] = {
      {"sound", {*index_}, "", 25},
      {"missing", {*dir_ / "absent"}, *dir_ / "absent", 0},
      {"damaged", {damaged}, damaged, 0},
      {"damaged beside a sound one", {damaged, *index_}, damaged, 25},
  };
  for (const auto& c : cases) {
    CResultSet rs(TheEngine(), c.indexes, 1, kQueryAuto);
    rs.Search(G("明月"), "content", "");
    EXPECT_EQ(rs.GetTotalCount(), c.total) << c.name;
    EXPECT_EQ(rs.failure().failed, !c.failed.empty()) << c.name;
    EXPECT_EQ(rs.failure().index_path, c.failed) << c.name;
    EXPECT_EQ(rs.failure().reason.empty(), c.failed.empty())
        << c.name << ": " << GbkToUtf8(rs.failure().reason);
    // The failure stays with the result's later pages.
    rs.FetchPage(1);
    EXPECT_EQ(rs.failure().index_path, c.failed) << c.name;
  }
}

TEST_F(ResultSetIndexTest, NaturalQueriesBecomeTheKeywordConjunction) {
  CResultSet rs(TheEngine(), {*index_}, 1, kQueryNatural);
  rs.Search(G("明月故乡"), "content", "");
  EXPECT_EQ(rs.GetTotalCount(), 7);
  EXPECT_EQ(rs.expression(), G("content:明月 AND 故乡"));
  EXPECT_EQ(rs.keywords(), (std::vector<std::string>{G("明月"), G("故乡")}));
  // With OR the query goes to the engine unchanged, keywords still come from it.
  CResultSet with_or(TheEngine(), {*index_}, 1, kQueryNatural);
  with_or.Search(G("故乡 OR 几时"), "content", "");
  EXPECT_EQ(with_or.expression(), G("content:故乡 OR 几时"));
  EXPECT_EQ(with_or.GetTotalCount(), 25);
}

// A text past the engine's limits is not read as an empty query that finds nothing without a
// word: the search is refused, with the engine's reason for the user.
TEST_F(ResultSetIndexTest, AQueryPastTheEnginesLimitsIsRefusedWithItsReason) {
  std::string endless;
  while (endless.size() < 70000) endless += G("明月 ");
  for (int mode : {kQueryNatural, kQueryAuto}) {
    CResultSet rs(TheEngine(), {*index_}, 1, mode);
    rs.Search(endless, "content", "");
    EXPECT_TRUE(rs.failure().failed) << mode;
    EXPECT_FALSE(rs.failure().reason.empty()) << mode;
    EXPECT_EQ(rs.GetTotalCount(), 0) << mode;
  }
}

// Symbols the engine indexes (①, ⅰ, ℃) are searched in every mode: the natural and automatic
// modes keep them in their keywords, bound to what they touch, so they find what the exact mode
// finds for a symbol and its neighbours; punctuation the engine does not index (§, ※, ，。！) is
// dropped alike in every mode.
TEST(ResultSetSymbolsTest, EveryModeFindsAndPaintsTheSymbols) {
  testing::TempDir dir;
  const std::string index = dir / "SearchDB";
  ASSERT_TRUE(TheEngine().OpenIndex(index, 1, nullptr));
  const char* bodies[] = {
      "第①章 历史",      // 0
      "第②章 温度30℃以上",  // 1
      "第三章①",         // 2: 第, 章 and ① but not 第①章
      "ⅰ 引言",          // 3
      "见§3说明",        // 4
      "注※重要",         // 5
      "温度30度",         // 6: 温度 and 30 without ℃
      "温度升至30℃",      // 7: 温度 and 30℃ apart
  };
  for (int i = 0; i < 8; ++i) {
    const std::string xml = "<record><FdName>r" + std::to_string(i) + "</FdName></record>";
    ASSERT_TRUE(Insert(index, {{"xml", xml}, {"content", G(bodies[i])}}));
  }
  ASSERT_TRUE(TheEngine().CloseIndex(index, nullptr));

  using Hits = std::vector<int>;
  const struct {
    const char* query;
    Hits exact, natural, automatic;  // records found
    std::vector<std::string> natural_keywords;
  } cases[] = {
      {"①", {0, 2}, {0, 2}, {0, 2}, {"①"}},
      {"第①章", {0}, {0}, {0}, {"第①章"}},
      {"ⅰ", {3}, {3}, {3}, {"ⅰ"}},
      // Natural reading: 温度 and 30℃ as words, the record holding the run as typed first.
      {"温度30℃", {1}, {1, 7}, {1, 7}, {"温度", "30℃"}},
      {"第①章，历史。", {0}, {0}, {0}, {"第①章", "历史"}},
      {"§3", {4}, {4}, {4}, {"3"}},
      {"※", {}, {}, {}, {}},
      {"，。！", {}, {}, {}, {}},
  };
  for (const auto& c : cases) {
    for (const auto& [mode, want] : {std::pair{kQueryExact, c.exact},
                                     std::pair{kQueryNatural, c.natural},
                                     std::pair{kQueryAuto, c.automatic}}) {
      const std::string label = std::string(c.query) + " mode " + std::to_string(mode);
      CResultSet rs(TheEngine(), {index}, 1, mode);
      rs.Search(G(c.query), "content", "");
      EXPECT_FALSE(rs.failure().failed) << label;
      EXPECT_EQ(rs.GetTotalCount(), static_cast<int>(want.size())) << label;
      Hits got;
      for (int n = 0; n < rs.GetTotalCount(); ++n) {
        const std::string xml = rs.GetHit(n).xml;
        const size_t at = xml.find("<FdName>r");
        ASSERT_NE(at, std::string::npos) << label;
        got.push_back(xml[at + 9] - '0');
      }
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, want) << label;
      // The automatic mode reads a text of more than six bytes as the natural mode does.
      if (mode == kQueryNatural || (mode == kQueryAuto && G(c.query).size() > 6)) {
        std::vector<std::string> keywords;
        for (const std::string& k : rs.keywords()) keywords.push_back(GbkToUtf8(k));
        EXPECT_EQ(keywords, c.natural_keywords) << label;
      }
    }
  }
  // Where the natural reading finds more, the record holding the typed text comes first.
  CResultSet natural(TheEngine(), {index}, 1, kQueryNatural);
  natural.Search(G("温度30℃"), "content", "");
  EXPECT_NE(natural.GetHit(0).xml.find("<FdName>r1<"), std::string::npos);
}

}  // namespace
}  // namespace tomeva
