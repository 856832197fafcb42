// A station's index server that is down, goes away in the middle of a search, or accepts and then
// never answers gives the reader the server's failure within the time-out and an empty result,
// and the next search after the server is back works without restarting the station. A station
// never writes: every writing call, and the import of new books, is refused naming the server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "base/texts.h"
#include "core/engine/result_set.h"
#include "core/import/book_import.h"
#include "core/views/page_render.h"
#include "engine_kms/kms_engine.h"
#include "kms/kms.h"
#include "kms_test_util.h"
#include "remote_test_server.h"
#include "support/temp_dir.h"

namespace tomeva::kms_test {
namespace {

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

std::string LastErrorU() { return GbkToUtf8(KMS_Last_Error()); }

double SecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class RemoteFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TOMEVA_KMS_REMOTE_TIMEOUT_MS", "800", 1);
    served_ = dir_ / "served";
    station_ = dir_ / "station";
    ASSERT_EQ(BuildIndex(served_, bench::GenerateCorpus(1000, 7)), 0) << KMS_Last_Error();
    server_ = std::make_unique<IndexServer>(served_);
    ASSERT_TRUE(server_->Start()) << "xapian-tcpsrv does not start";
    ASSERT_TRUE(MakeStation(station_, server_->StubLine()));
  }
  void TearDown() override { ::unsetenv("TOMEVA_KMS_REMOTE_TIMEOUT_MS"); }

  // The result set's search of "人", its total and failure.
  SearchFailure SearchFails(int* total) {
    CResultSet rs(engine_, {station_}, 1, kQueryNatural);
    rs.Search(G("人"), "content", "");
    *total = rs.GetTotalCount();
    return rs.failure();
  }

  KmsEngine engine_;
  testing::TempDir dir_;
  std::string served_, station_;
  std::unique_ptr<IndexServer> server_;
};

TEST_F(RemoteFailureTest, AKilledServerIsToldAsTheServersAndTheNextSearchReconnects) {
  const int hits = CountU(station_, "人");
  ASSERT_GT(hits, 60);
  server_->Kill();

  int total = -1;
  const SearchFailure failure = SearchFails(&total);
  EXPECT_EQ(total, 0);
  ASSERT_TRUE(failure.failed);
  EXPECT_EQ(failure.index_path, station_);
  EXPECT_EQ(failure.server, server_->Name());
  const std::string message = TextWith(kTextIndexServerUnreachable, server_->Name());
  EXPECT_EQ(failure.reason.rfind(message, 0), 0u) << GbkToUtf8(failure.reason);
  const std::string page = IndexFailurePage(failure.index_path, failure.reason);
  EXPECT_NE(page.find(message), std::string::npos);
  EXPECT_EQ(page.find(G("索引需要重建")), std::string::npos);  // the index is not damaged

  ASSERT_TRUE(server_->Start());
  EXPECT_EQ(CountU(station_, "人"), hits);
  EXPECT_FALSE(SearchFails(&total).failed);
  EXPECT_EQ(total, hits);
}

TEST_F(RemoteFailureTest, AServerDownFromTheStartFailsAtOnce) {
  server_->Kill();
  const std::string down = dir_ / "down";
  ASSERT_TRUE(MakeStation(down, "remote 127.0.0.1:" + std::to_string(FreeLocalPort()) + "\n"));
  KmsSearch* s = nullptr;
  const double seconds = SecondsOf([&] { s = KMS_Search(down.c_str(), "x", "gb2312", nullptr); });
  EXPECT_EQ(s, nullptr);
  EXPECT_LT(seconds, 1.0);
  EXPECT_NE(LastErrorU().find("的索引服务器无法连接"), std::string::npos) << LastErrorU();
}

TEST_F(RemoteFailureTest, AServerGoneBetweenTheSearchAndItsPagesFailsThePagesOnly) {
  KmsSearch* s = KMS_Search(station_.c_str(), G("人").c_str(), "gb2312", nullptr);
  ASSERT_NE(s, nullptr) << LastErrorU();
  ASSERT_GT(KMS_HitCount(s), 60);
  server_->Kill();
  // The documents of the first window and the ranking of the next one both need the server.
  EXPECT_EQ(KMS_Hit(s, 0), nullptr);
  EXPECT_EQ(KMS_Hit(s, 65), nullptr);
  EXPECT_NE(LastErrorU().find("的索引服务器无法连接"), std::string::npos) << LastErrorU();
  KMS_ClearSearch(s);

  ASSERT_TRUE(server_->Start());
  s = KMS_Search(station_.c_str(), G("人").c_str(), "gb2312", nullptr);
  ASSERT_NE(s, nullptr) << LastErrorU();
  EXPECT_NE(KMS_Hit(s, 65), nullptr) << LastErrorU();
  KMS_ClearSearch(s);
}

// A result set keeps its search between pages: a server restarted meanwhile is searched again for
// the next page, which finds its hits as before; a server gone by then makes the page the
// failure that names it, not a page without hits.
TEST_F(RemoteFailureTest, AResultsNextPageSurvivesARestartAndToldWhenTheServerIsGone) {
  for (const bool back : {true, false}) {
    SCOPED_TRACE(back ? "restarted" : "gone");
    CResultSet rs(engine_, {station_}, 1, kQueryNatural);
    rs.Search(G("人"), "content", "");
    const int total = rs.GetTotalCount();
    ASSERT_GT(total, 70);
    server_->Kill();
    if (back) {
      ASSERT_TRUE(server_->Start());
    }
    rs.FetchPage(7);  // past the engine's first window of 60 hits
    if (back) {
      EXPECT_FALSE(rs.failure().failed) << GbkToUtf8(rs.failure().reason);
      EXPECT_EQ(rs.GetTotalCount(), total);
      EXPECT_EQ(rs.hits().size(), 10u);
    } else {
      EXPECT_TRUE(rs.failure().failed);
      EXPECT_EQ(rs.failure().server, server_->Name());
      EXPECT_EQ(rs.GetTotalCount(), 0);
      EXPECT_TRUE(rs.hits().empty());
      ASSERT_TRUE(server_->Start());
    }
  }
}

TEST_F(RemoteFailureTest, AServerThatAcceptsButNeverAnswersTimesOut) {
  SilentListener silent;
  ASSERT_GT(silent.port(), 0);
  const std::string mute = dir_ / "mute";
  ASSERT_TRUE(MakeStation(mute, "remote 127.0.0.1:" + std::to_string(silent.port()) + "\n"));
  KmsSearch* s = nullptr;
  const double seconds = SecondsOf([&] { s = KMS_Search(mute.c_str(), "x", "gb2312", nullptr); });
  EXPECT_EQ(s, nullptr);
  EXPECT_GE(seconds, 0.7);  // it waited for the answer…
  EXPECT_LT(seconds, 3.0);  // …no longer than the time-out allows
  EXPECT_NE(LastErrorU().find("的索引服务器无法连接"), std::string::npos) << LastErrorU();
}

TEST_F(RemoteFailureTest, AServerThatStopsAnsweringTimesOutAndIsUsedAgainWhenItAnswers) {
  const int hits = CountU(station_, "人");
  ASSERT_GT(hits, 0);
  server_->Freeze();
  int result = 0;
  const double seconds = SecondsOf([&] { result = CountU(station_, "人"); });
  EXPECT_EQ(result, -1);
  // The kept connection's reopen and then a new connection's greeting, each within 0.8 s.
  EXPECT_LT(seconds, 4.0);
  server_->Thaw();
  EXPECT_EQ(CountU(station_, "人"), hits);
}

TEST_F(RemoteFailureTest, AStationRefusesEveryWriteNamingTheServer) {
  const std::string refusal = "保存在索引服务器" + server_->Name() + "上";
  KmsDocument* doc = KMS_New_Document();
  KMS_Add_Field(doc, "content", G("明月").c_str(), "gb2312", 1, 1, 1);
  struct Case {
    const char* what;
    std::function<int()> call;
  };
  const Case cases[] = {
      {"open to insert", [&] { return KMS_Open(station_.c_str(), 1); }},
      {"open to optimise", [&] { return KMS_Open(station_.c_str(), 0); }},
      {"optimise", [&] { return KMS_Optimize(station_.c_str()); }},
      {"insert", [&] { return KMS_Insert_Document(station_.c_str(), doc); }},
      {"publish", [&] { return KMS_Publish_Batch(station_.c_str(), "b"); }},
      {"discard", [&] { return KMS_Discard_Batch(station_.c_str(), "b"); }},
      {"reindex", [&] { return KMS_Reindex(station_.c_str()); }},
  };
  for (const Case& c : cases) {
    EXPECT_NE(c.call(), 0) << c.what;
    EXPECT_NE(LastErrorU().find(refusal), std::string::npos) << c.what << ": " << LastErrorU();
  }
  KMS_Free_Document(doc);
  // Nothing was written beside the stub, and the index on the server is as it was.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(station_)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"XAPIANDB"});
  EXPECT_EQ(CountU(station_, "明月"), CountU(served_, "明月"));
}

TEST_F(RemoteFailureTest, AStationsImportLeavesTheNewBooksWaiting) {
  const std::string app = dir_ / "app";
  ASSERT_TRUE(MakeStation(app + "/SearchDB", server_->StubLine()));
  const std::string fragment = app + "/Update/bookconfig5.xml";
  testing::WriteGbk(fragment, "<books><book dir=\"5\" name=\"新书\"/></books>");
  testing::WriteGbk(app + "/Update/5/book_1.xml", "<record/>");

  const ImportResult result = RunBookImport(engine_, app, nullptr);
  EXPECT_EQ(result.books_imported, 0);
  EXPECT_EQ(result.books_failed, 1);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(result.messages[0], TextWith(kTextImportOnIndexServer, server_->Name()));
  EXPECT_TRUE(std::filesystem::exists(fragment));
  EXPECT_TRUE(std::filesystem::exists(app + "/Update/5/book_1.xml"));
  EXPECT_FALSE(std::filesystem::exists(app + "/5"));
}

// A record's data is never megabytes: a server sending such a document gets a reason, not a copy
// of it in every page, and the other hits of the search still read. A local index keeps any size.
TEST_F(RemoteFailureTest, AnOversizedDocumentFromTheServerIsRefused) {
  const std::string big = dir_ / "big", station = dir_ / "bigstation";
  ASSERT_EQ(KMS_Open(big.c_str(), 1), 0) << LastErrorU();
  for (const size_t bytes : {size_t{100}, size_t{9} << 20}) {
    KmsDocument* d = KMS_New_Document();
    KMS_Add_Field(d, "xml", std::string(bytes, 'x').c_str(), "gb2312", 1, 0, 0);
    KMS_Add_Field(d, "content", "bigtest", "gb2312", 1, 1, 1);
    ASSERT_EQ(KMS_Insert_Document(big.c_str(), d), 0) << LastErrorU();
    KMS_Free_Document(d);
  }
  ASSERT_EQ(KMS_Close(big.c_str()), 0) << LastErrorU();
  IndexServer server(big);
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(MakeStation(station, server.StubLine()));

  KmsSearch* s = KMS_Search(station.c_str(), "bigtest", "gb2312", nullptr);
  ASSERT_NE(s, nullptr) << LastErrorU();
  ASSERT_EQ(KMS_HitCount(s), 2);
  int read = 0, refused = 0;
  for (int i = 0; i < 2; ++i) {
    if (KmsHit* hit = KMS_Hit(s, i)) {
      char* xml = KMS_Get_Field(hit, "xml", "gb2312");
      EXPECT_EQ(std::string(xml), std::string(100, 'x'));
      KMS_Free_Field(xml);
      ++read;
    } else {
      EXPECT_NE(LastErrorU().find("字节，超过8388608字节的上限"), std::string::npos)
          << LastErrorU();
      ++refused;
    }
  }
  EXPECT_EQ(read, 1);
  EXPECT_EQ(refused, 1);
  KMS_ClearSearch(s);
  EXPECT_EQ(HitXml(big, "bigtest", 2).size(), 2u);
}

// A station's stub names servers only: more than the engine searches at once, or a line that
// would have Xapian start a program, and it is not a station (nor anything else).
TEST_F(RemoteFailureTest, AStationStubOfTooManyServersOrAProgramIsRefused) {
  std::string many;
  for (int i = 0; i < 17; ++i) many += server_->StubLine() + "\n";
  const std::vector<std::pair<std::string, std::string>> stubs = {
      {many, "不是本程序写的"},
      {server_->StubLine() + "\nremote :/bin/true\n", "不是本程序写的"},
      {"remote bad host:" + std::to_string(server_->port()) + "\n", "不是本程序写的"},
      {"tcp 127.0.0.1;true " + std::to_string(server_->port()) + "\n", "不是本程序写的"},
  };
  int n = 0;
  for (const auto& [stub, says] : stubs) {
    const std::string station = dir_ / ("refused" + std::to_string(++n));
    ASSERT_TRUE(MakeStation(station, stub));
    EXPECT_EQ(KMS_Index_Server(station.c_str()), nullptr) << stub;
    EXPECT_EQ(CountU(station, "人"), -1) << stub;
    EXPECT_NE(LastErrorU().find(says), std::string::npos) << LastErrorU();
  }
  // Sixteen parts are a station still.
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += server_->StubLine() + "\n";
  const std::string station = dir_ / "sixteen";
  ASSERT_TRUE(MakeStation(station, sixteen));
  char* name = KMS_Index_Server(station.c_str());
  EXPECT_NE(name, nullptr);
  KMS_Free_Field(name);
}

}  // namespace
}  // namespace tomeva::kms_test
