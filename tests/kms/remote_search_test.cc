// A station searching through Xapian's xapian-tcpsrv answers exactly as the index does where it is
// kept: the same totals, hits and pages for every query mode, field and book restriction; several
// index paths, local and remote, sum as one; the server's new records and optimised generations
// are seen without restarting anything.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/engine/result_set.h"
#include "engine_kms/kms_engine.h"
#include "kms/kms.h"
#include "kms_test_util.h"
#include "remote_test_server.h"
#include "support/temp_dir.h"

namespace tomeva::kms_test {
namespace {

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

// Every page of a search, hit by hit, with the total at each page.
struct Pages {
  std::vector<int> totals;
  std::vector<std::string> hits;  // xml and category of every hit, in order
  bool failed = false;
};

Pages AllPages(const std::vector<std::string>& indexes, int mode, const std::string& query,
               const std::string& field, const std::string& condition) {
  Pages pages;
  KmsEngine engine;
  CResultSet rs(engine, indexes, 1, mode);
  rs.Search(query, field, condition);
  const int total = rs.GetTotalCount();
  const int last = total == 0 ? 0 : (total - 1) / CResultSet::kPageSize;
  for (int page = 0; page <= last; ++page) {
    rs.FetchPage(page);
    pages.failed = pages.failed || rs.failure().failed;
    pages.totals.push_back(rs.GetTotalCount());
    for (const SearchHit& hit : rs.hits()) {
      pages.hits.push_back(hit.xml + "#" + std::to_string(hit.category));
    }
  }
  return pages;
}

class RemoteSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    records_ = bench::GenerateCorpus(1500, 20261208);
    ASSERT_EQ(records_.size(), 1500u) << "the fortunes-zh corpus is missing";
    local_ = dir_ / "local";
    served_ = dir_ / "served";
    station_ = dir_ / "station";
    ASSERT_EQ(BuildIndex(local_, records_), 0) << KMS_Last_Error();
    std::filesystem::copy(local_, served_, std::filesystem::copy_options::recursive);
    server_ = std::make_unique<IndexServer>(served_);
    ASSERT_TRUE(server_->Start()) << "xapian-tcpsrv does not start";
    ASSERT_TRUE(MakeStation(station_, server_->StubLine()));
  }

  testing::TempDir dir_;
  std::vector<bench::CorpusRecord> records_;
  std::string local_, served_, station_;
  std::unique_ptr<IndexServer> server_;
};

struct Query {
  std::string text, field, condition;  // GBK
};

// One query of each kind: characters, words, phrases, AND, OR, NOT, fields and books.
std::vector<Query> EveryKindOfQuery(const std::vector<bench::CorpusRecord>& records) {
  return {
      {G("人"), "content", ""},
      {G("不"), "content", "f15:\"3\""},
      {G("春风"), "content", ""},
      {G("明月"), "content", ""},
      {G("天下"), "content", "f15:\"12\" OR f15:\"13\""},
      {records[5].author, "author", ""},
      {G("一 OR 二"), "content", ""},
      {G("山 水"), "content", ""},
      {G("人 NOT 天"), "content", ""},
      {G("人"), "title", ""},
      {G("\"明月\" OR 春风"), "content", ""},
      {G("人间 OR 天上"), "content", ""},
  };
}

TEST_F(RemoteSearchTest, EveryModeFieldAndBookGivesTheSamePagesAsTheLocalIndex) {
  const std::vector<Query> queries = EveryKindOfQuery(records_);
  int searched_with_hits = 0;
  int paged_beyond_the_first_window = 0;
  for (const Query& q : queries) {
    for (int mode : {kQueryExact, kQueryNatural, kQueryAuto}) {
      SCOPED_TRACE(GbkToUtf8(q.text) + " mode " + std::to_string(mode));
      const Pages local = AllPages({local_}, mode, q.text, q.field, q.condition);
      const Pages remote = AllPages({station_}, mode, q.text, q.field, q.condition);
      EXPECT_FALSE(local.failed);
      EXPECT_FALSE(remote.failed);
      EXPECT_EQ(remote.totals, local.totals);
      EXPECT_EQ(remote.hits, local.hits);
      if (!local.hits.empty()) ++searched_with_hits;
      if (local.hits.size() > 60) ++paged_beyond_the_first_window;
    }
  }
  // The comparison means something only when the queries find records, many pages of some.
  EXPECT_GE(searched_with_hits, 26);
  EXPECT_GE(paged_beyond_the_first_window, 8);
}

// A local index ranked in parts on several threads gives exactly the pages, counts and order of
// one ranking, for every kind of query and mode, however many parts.
TEST_F(RemoteSearchTest, RankingOnEveryCoreGivesThePagesOfOneRanking) {
  struct Env {
    ~Env() {
      ::unsetenv("TOMEVA_KMS_SEARCH_THREADS");
      ::unsetenv("TOMEVA_KMS_SEARCH_PART_POSTINGS");
    }
  } restore;
  ::setenv("TOMEVA_KMS_SEARCH_PART_POSTINGS", "1", 1);
  int compared = 0;
  for (const Query& q : EveryKindOfQuery(records_)) {
    for (int mode : {kQueryExact, kQueryNatural}) {
      SCOPED_TRACE(GbkToUtf8(q.text) + " mode " + std::to_string(mode));
      ::setenv("TOMEVA_KMS_SEARCH_THREADS", "1", 1);
      const Pages one = AllPages({local_}, mode, q.text, q.field, q.condition);
      ASSERT_FALSE(one.failed);
      for (const char* threads : {"2", "3", "7"}) {
        ::setenv("TOMEVA_KMS_SEARCH_THREADS", threads, 1);
        const Pages parts = AllPages({local_}, mode, q.text, q.field, q.condition);
        EXPECT_FALSE(parts.failed) << threads;
        EXPECT_EQ(parts.totals, one.totals) << threads;
        EXPECT_EQ(parts.hits, one.hits) << threads;
      }
      if (one.hits.size() > 60) ++compared;
    }
  }
  EXPECT_GE(compared, 6);  // the comparison means something only with pages past the first window
}

TEST_F(RemoteSearchTest, FieldTableBatchesAndQueryReadingComeFromTheServer) {
  for (const char* query : {"title:人 AND 明月", "author:\"杜甫\"", "f15:\"3\" AND 山"}) {
    char* local = KMS_Query_Reading(local_.c_str(), G(query).c_str(), "gb2312", nullptr);
    char* remote = KMS_Query_Reading(station_.c_str(), G(query).c_str(), "gb2312", nullptr);
    ASSERT_NE(local, nullptr);
    ASSERT_NE(remote, nullptr) << GbkToUtf8(KMS_Last_Error());
    EXPECT_EQ(std::string(remote), std::string(local)) << query;
    KMS_Free_Field(local);
    KMS_Free_Field(remote);
  }
  char* batches = KMS_Get_Batches(station_.c_str());
  ASSERT_NE(batches, nullptr) << GbkToUtf8(KMS_Last_Error());
  EXPECT_STREQ(batches, "");
  KMS_Free_Field(batches);
  // Stored fields of a hit.
  KmsSearch* s = KMS_Search(station_.c_str(), G("明月").c_str(), "gb2312", nullptr);
  ASSERT_NE(s, nullptr);
  KmsHit* hit = KMS_Hit(s, 0);
  ASSERT_NE(hit, nullptr);
  char* author = KMS_Get_Field(hit, "author", "gb2312");
  ASSERT_NE(author, nullptr);
  EXPECT_FALSE(std::string(author).empty());
  KMS_Free_Field(author);
  KMS_ClearSearch(s);
}

TEST_F(RemoteSearchTest, LocalAndRemoteIndexesAreSearchedAsOne) {
  const Pages one = AllPages({local_}, kQueryNatural, G("明月"), "content", "");
  const Pages both = AllPages({local_, station_}, kQueryNatural, G("明月"), "content", "");
  ASSERT_FALSE(one.totals.empty());
  ASSERT_GT(one.totals[0], 0);
  EXPECT_FALSE(both.failed);
  EXPECT_EQ(both.totals[0], 2 * one.totals[0]);
  // The local index's hits first, then the same hits again from the server.
  std::vector<std::string> twice = one.hits;
  twice.insert(twice.end(), one.hits.begin(), one.hits.end());
  EXPECT_EQ(both.hits, twice);
}

TEST_F(RemoteSearchTest, AStubListingPartsSearchesThemAsOne) {
  const std::string parts = dir_ / "parts";
  ASSERT_TRUE(MakeStation(parts, "# two parts\n" + server_->StubLine() + server_->StubLine()));
  const int one = CountU(station_, "明月");
  ASSERT_GT(one, 0);
  EXPECT_EQ(CountU(parts, "明月"), 2 * one);
}

// Each part of a station lists its own waiting batches: a search over the parts finds none of
// them, and a batch published in one part is found through the station at its next search.
TEST_F(RemoteSearchTest, WaitingBatchesOfEveryPartStayHidden) {
  auto insert = [](const std::string& index, const char* text, const char* batch) {
    KmsDocument* d = KMS_New_Document();
    int rc = KMS_Add_Field(d, "content", G(text).c_str(), "gb2312", 1, 1, 1);
    if (rc == 0 && batch != nullptr) rc = KMS_Set_Batch(d, batch);
    if (rc == 0) rc = KMS_Insert_Document(index.c_str(), d);
    KMS_Free_Document(d);
    return rc;
  };
  const std::string one = dir_ / "one";
  const std::string two = dir_ / "two";
  for (const std::string& part : {one, two}) {
    ASSERT_EQ(insert(part, "松间明月", nullptr), 0) << KMS_Last_Error();
    ASSERT_EQ(insert(part, "明月清泉", "book"), 0) << KMS_Last_Error();
  }
  ASSERT_EQ(insert(two, "明月几时有", "other"), 0) << KMS_Last_Error();
  IndexServer first(one), second(two);
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  const std::string parts = dir_ / "parts";
  ASSERT_TRUE(MakeStation(parts, first.StubLine() + second.StubLine()));
  EXPECT_EQ(CountU(parts, "明月"), 2);
  ASSERT_EQ(KMS_Publish_Batch(two.c_str(), "book"), 0) << KMS_Last_Error();
  EXPECT_EQ(CountU(parts, "明月"), 3);
  EXPECT_EQ(CountU(parts, "几时"), 0);
}

TEST_F(RemoteSearchTest, PartsWithDifferentFieldTablesAreRefused) {
  // The same fields met in another order get other prefixes: one query cannot serve both.
  const std::string other = dir_ / "other";
  KmsDocument* d = KMS_New_Document();
  KMS_Add_Field(d, "author", G("李白").c_str(), "gb2312", 1, 1, 1);
  KMS_Add_Field(d, "title", G("明月").c_str(), "gb2312", 1, 1, 1);
  ASSERT_EQ(KMS_Insert_Document(other.c_str(), d), 0) << KMS_Last_Error();
  KMS_Free_Document(d);
  IndexServer second(other);
  ASSERT_TRUE(second.Start());
  const std::string parts = dir_ / "parts";
  ASSERT_TRUE(MakeStation(parts, server_->StubLine() + second.StubLine()));
  EXPECT_EQ(CountU(parts, "明月"), -1);
  EXPECT_NE(std::string(KMS_Last_Error()).find("have different field tables"), std::string::npos)
      << GbkToUtf8(KMS_Last_Error());
  EXPECT_NE(std::string(KMS_Last_Error()).find(second.Name()), std::string::npos);
}

TEST_F(RemoteSearchTest, NewRecordsAndAnOptimisedGenerationAreSeenWithoutRestarting) {
  const std::string held = "独一无二的远程新记录";
  const int before = CountU(station_, "明月");
  ASSERT_GT(before, 0);
  EXPECT_EQ(CountU(station_, held), 0);

  // Written where the index is kept, while the station keeps its connections.
  bench::CorpusRecord added = records_[0];
  added.title = G("远程新书");
  added.body = G(held.c_str()) + "\n" + G("明月");
  ASSERT_EQ(InsertRecord(served_, added, 900001), 0) << KMS_Last_Error();
  EXPECT_EQ(CountU(station_, held), 1);
  EXPECT_EQ(CountU(station_, "明月"), before + 1);

  // An optimise swaps the generation the server serves; the server is not restarted.
  ASSERT_EQ(KMS_Open(served_.c_str(), 0), 0) << KMS_Last_Error();
  ASSERT_EQ(KMS_Optimize(served_.c_str()), 0) << KMS_Last_Error();
  ASSERT_EQ(KMS_Close(served_.c_str()), 0) << KMS_Last_Error();
  EXPECT_FALSE(std::filesystem::exists(served_ + "/gen.1"));
  EXPECT_EQ(CountU(station_, held), 1);
  EXPECT_EQ(CountU(station_, "明月"), before + 1);
  EXPECT_EQ(HitXml(station_, held, 1), std::vector<std::string>{XmlOf(900001)});
}

TEST(RemoteStub, KmsIndexServerNamesTheServerOfAStationStubOnly) {
  struct Case {
    const char* stub;
    const char* server;  // nullptr: not a station
  };
  const Case cases[] = {
      {"remote 10.0.0.5:7000\n", "10.0.0.5:7000"},
      {"# reading room\n\nremote lib-server:33333\r\n", "lib-server:33333"},
      {"tcp 10.0.0.5 7000\n", "10.0.0.5:7000"},
      {"remote [::1]:7000\n", "[::1]:7000"},
      {"remote a:1\nremote b:2\n", "a:1, b:2"},
      {"glass gen.3\n", nullptr},
      {"remote :xapian-progsrv /srv/SearchDB\n", nullptr},
      {"remote host:0\n", nullptr},
      {"remote host:70000\n", nullptr},
      {"remote host\n", nullptr},
      {"tcp host\n", nullptr},
      {"remote a:1\nglass gen.1\n", nullptr},
      {"", nullptr},
  };
  testing::TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = dir / ("s" + std::to_string(n++));
    ASSERT_TRUE(MakeStation(folder, c.stub));
    char* server = KMS_Index_Server(folder.c_str());
    if (c.server == nullptr) {
      EXPECT_EQ(server, nullptr) << c.stub;
    } else {
      ASSERT_NE(server, nullptr) << c.stub;
      EXPECT_STREQ(server, c.server);
    }
    KMS_Free_Field(server);
  }
  EXPECT_EQ(KMS_Index_Server((dir / "no-index").c_str()), nullptr);
}

}  // namespace
}  // namespace tomeva::kms_test
