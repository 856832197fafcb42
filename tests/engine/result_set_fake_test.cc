// Result sets over an engine of the test's making: each index is searched once per search and
// read page by page, failures name the index (and its server), the reading comes as data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/gbk.h"
#include "base/texts.h"
#include "core/engine/result_set.h"
#include "support/fake_engine.h"

namespace tomeva {
namespace {

using testing::FakeEngine;

// `n` records "r<first>".."r<first + n - 1>" of category `category`.
std::vector<FakeEngine::Record> Records(int first, int n, const std::string& category) {
  std::vector<FakeEngine::Record> records;
  for (int i = first; i < first + n; ++i) {
    records.push_back({{"xml", "r" + std::to_string(i)}, {"f15", category}});
  }
  return records;
}

// Three indexes of 7, 0 and 8 hits give one result of 15 over two pages; walking every hit
// back and forth searches each index once and reads the query once.
TEST(ResultSetOverAnEngine, PagesReadTheSearchesRunOnce) {
  FakeEngine engine;
  engine.indexes = {{"a", Records(0, 7, "3")}, {"b", {}}, {"c", Records(7, 8, "13x")}};
  engine.reading.typed_run = "typed";
  CResultSet rs(engine, {"a", "b", "c"}, 1, kQueryNatural);
  rs.Search("w1 w2", "content", "f15:\"3\"");
  EXPECT_EQ(rs.expression(), "f15:\"3\" AND content:w1 AND w2");
  EXPECT_EQ(rs.keywords(), (std::vector<std::string>{"w1", "w2"}));
  EXPECT_EQ(rs.GetTotalCount(), 15);
  for (int n : {0, 14, 3, 10, 7, 6, 9}) {
    const SearchHit hit = rs.GetHit(n);
    EXPECT_EQ(hit.xml, "r" + std::to_string(n));
    EXPECT_EQ(hit.category, n < 7 ? 3 : 13) << n;
  }
  EXPECT_TRUE(rs.GetHit(15).xml.empty());
  EXPECT_TRUE(rs.GetHit(-1).xml.empty());
  EXPECT_EQ(engine.searched,
            (std::vector<std::string>{"a|f15:\"3\" AND content:w1 AND w2|content",
                                      "b|f15:\"3\" AND content:w1 AND w2|content",
                                      "c|f15:\"3\" AND content:w1 AND w2|content"}));
  EXPECT_TRUE(engine.read_queries.empty());  // nobody asked yet
  EXPECT_EQ(rs.reading().typed_run, "typed");
  EXPECT_EQ(rs.reading().typed_run, "typed");
  EXPECT_EQ(engine.read_queries,
            std::vector<std::string>{"a|f15:\"3\" AND content:w1 AND w2|content"});
  EXPECT_FALSE(rs.failure().failed);
}

// A hit whose record text cannot be read is left out of its page and of the total.
TEST(ResultSetOverAnEngine, HitsWithoutTheirRecordAreLeftOut) {
  FakeEngine engine;
  std::vector<FakeEngine::Record> records = Records(0, 5, "1");
  records[2].erase("xml");
  engine.indexes = {{"a", records}};
  CResultSet rs(engine, {"a"}, 1, kQueryExact);
  rs.Search("w", "content", "");
  EXPECT_EQ(rs.GetTotalCount(), 4);
  ASSERT_EQ(rs.hits().size(), 4u);
  EXPECT_EQ(rs.hits()[2].xml, "r3");
}

// An index that cannot be searched is the result's failure, with the engine's reason, and the
// server named when the index is kept on one; the indexes that answered still count.
TEST(ResultSetOverAnEngine, AnIndexThatCannotBeSearchedIsNamed) {
  const struct {
    const char* name;
    std::vector<std::string> paths;
    std::string server;
    bool failed;
    std::string failed_path;
    int total;
  } cases[] = {
      {"all answer", {"a"}, "", false, "", 3},
      {"missing after a sound one", {"a", "gone", "lost"}, "", true, "gone", 3},
      {"kept on a server", {"gone"}, "host:1", true, "gone", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEngine engine;
    engine.indexes = {{"a", Records(0, 3, "1")}};
    if (!c.server.empty()) engine.servers = {{"gone", c.server}};
    CResultSet rs(engine, c.paths, 1, kQueryAuto);
    rs.Search("w", "content", "");
    EXPECT_EQ(rs.GetTotalCount(), c.total);
    EXPECT_EQ(rs.failure().failed, c.failed);
    EXPECT_EQ(rs.failure().index_path, c.failed_path);
    EXPECT_EQ(rs.failure().server, c.server);
    if (!c.failed) continue;
    const std::string reason = "no index " + c.failed_path;
    EXPECT_EQ(rs.failure().reason,
              c.server.empty() ? reason
                               : TextWith(kTextIndexServerUnreachable, c.server) + " (" + reason +
                                     ")");
  }
}

// An index that stops answering after the search ran adds nothing to the next page and becomes
// the result's failure; the others still count.
TEST(ResultSetOverAnEngine, AnIndexLostBetweenPagesIsTheFailure) {
  FakeEngine engine;
  engine.indexes = {{"a", Records(0, 7, "1")}, {"c", Records(7, 8, "1")}};
  CResultSet rs(engine, {"a", "c"}, 1, kQueryExact);
  rs.Search("w", "content", "");
  EXPECT_EQ(rs.GetTotalCount(), 15);
  EXPECT_FALSE(rs.failure().failed);
  engine.lost = {"c"};
  rs.FetchPage(0);
  EXPECT_EQ(rs.GetTotalCount(), 7);
  EXPECT_EQ(rs.hits().size(), 7u);
  EXPECT_TRUE(rs.failure().failed);
  EXPECT_EQ(rs.failure().index_path, "c");
  EXPECT_EQ(rs.failure().reason, "lost c");
}

// A query the engine has no words for (past its limits) is searched as typed, so that the
// engine refuses it with its reason instead of running an empty query.
TEST(ResultSetOverAnEngine, AQueryWithoutWordsIsSearchedAsTyped) {
  FakeEngine engine;
  engine.indexes = {{"a", Records(0, 1, "1")}};
  engine.max_query = 4;
  CResultSet rs(engine, {"a"}, 1, kQueryNatural);
  rs.Search("w1 w2", "content", "");
  EXPECT_EQ(rs.expression(), "content:w1 w2");
  EXPECT_TRUE(rs.keywords().empty());
}

// The engine's own Search is a result set of the request over the indexes given.
TEST(ResultSetOverAnEngine, EngineSearchRunsTheRequest) {
  FakeEngine engine;
  engine.indexes = {{"a", Records(0, 12, "1")}};
  const std::unique_ptr<SearchResults> results =
      engine.Search({"a"}, {"w", "title", "f15:\"1\"", kQueryExact});
  EXPECT_EQ(results->GetTotalCount(), 12);
  EXPECT_EQ(results->keywords(), std::vector<std::string>{"w"});
  EXPECT_EQ(engine.searched, std::vector<std::string>{"a|f15:\"1\" AND title:\"w\"|title"});
}

}  // namespace
}  // namespace tomeva
