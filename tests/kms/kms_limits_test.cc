// What an expression or an index folder can make the engine do is bounded: an expression past its
// limits is refused at once with a reason, the longest one the program builds still searches, and
// an index folder whose stub (or generation) is not the engine's own is refused without Xapian
// reading it, so no program it names is started.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "kms/kms.h"
#include "kms_test_util.h"
#include "support/temp_dir.h"

namespace tomeva::kms_test {
namespace {

using testing::TempDir;

std::string Reason() { return GbkToUtf8(KMS_Last_Error()); }

std::string Repeat(const std::string& unit, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

double SecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class KmsLimitsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    records_ = new std::vector<bench::CorpusRecord>(bench::GenerateCorpus(200, 3));
    for (size_t i = 0; i < records_->size(); ++i) (*records_)[i].title = "allrec";
    ASSERT_EQ(BuildIndex(index(), *records_), 0) << Reason();
  }
  static void TearDownTestSuite() {
    delete records_;
    delete dir_;
  }
  static std::string index() { return *dir_ / "SearchDB"; }

  static TempDir* dir_;
  static std::vector<bench::CorpusRecord>* records_;
};

TempDir* KmsLimitsTest::dir_ = nullptr;
std::vector<bench::CorpusRecord>* KmsLimitsTest::records_ = nullptr;

// Each hostile expression is answered at once by NULL and a reason naming the limit, from every
// entry point that takes an expression; none costs seconds (the bound is generous on purpose).
TEST_F(KmsLimitsTest, HostileExpressionsAreRefusedQuicklyWithAReason) {
  const std::string han = Utf8ToGbk("中");
  struct Case {
    const char* what;
    std::string gbk;
    const char* says;  // UTF-8
  };
  const std::vector<Case> cases = {
      {"20,000 ORs", "a" + Repeat(" OR a", 20000), "检索式太长，超过65536字节"},
      {"20,000 ANDs", "a" + Repeat(" AND a", 20000), "检索式太长，超过65536字节"},
      {"10,000 ORs", "a" + Repeat(" OR a", 10000), "连接词和括号超过2048个"},
      {"20,000 implicit ANDs", Repeat("a ", 20000), "连接词和括号超过2048个"},
      {"100,000 brackets", std::string(100000, '('), "检索式太长，超过65536字节"},
      {"40 nested brackets", std::string(40, '(') + "a", "括号套叠超过32层"},
      {"a long quoted run", "\"" + Repeat(han, 5000) + "\"", "检索词超过2048个"},
      {"a megabyte", std::string(1 << 20, 'a'), "检索式太长"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const double seconds = SecondsOf(
        [&] { EXPECT_EQ(KMS_Search(index().c_str(), c.gbk.c_str(), "gb2312", nullptr), nullptr); });
    EXPECT_LT(seconds, 2.0);
    const std::string reason = Reason();
    EXPECT_NE(reason.find(c.says), std::string::npos) << reason;
    EXPECT_NE(reason.find("索引" + index() + "检索失败"), std::string::npos) << reason;
    EXPECT_EQ(KMS_Query_Reading(index().c_str(), c.gbk.c_str(), "gb2312", nullptr), nullptr);
    EXPECT_NE(Reason().find(c.says), std::string::npos) << Reason();
  }
  // Keywords are refused only for what is longer than any search takes.
  char* words = KMS_Get_Keywords(std::string(100000, 'a').c_str(), "gb2312");
  EXPECT_EQ(words, nullptr);
  EXPECT_NE(Reason().find("检索式太长"), std::string::npos) << Reason();
  KMS_Free_Keywords(words);
  words = KMS_Get_Keywords(("a" + Repeat(" OR a", 5000)).c_str(), "gb2312");
  ASSERT_NE(words, nullptr);
  EXPECT_EQ(std::string(words).size(), 5001u * 2 - 1);
  KMS_Free_Keywords(words);
}

// The longest expression the program builds — a book restriction, the field and a query box of
// 100 characters, each a keyword joined by AND — searches and counts as a short one does; so does
// an expression of 2,000 words, under the limits.
TEST_F(KmsLimitsTest, TheLongestExpressionsOfTheProgramStillSearch) {
  const std::string category = (*records_)[0].category;
  int in_category = 0;
  for (const auto& r : *records_) in_category += r.category == category;
  const std::string built = "f15:\"" + category + "\" AND title:allrec" + Repeat(" AND allrec", 99);
  EXPECT_EQ(Count(index(), built, "title"), in_category) << Reason();
  const std::string exact =
      "f15:\"" + category + "\" AND title:\"allrec\"" + Repeat(" AND \"allrec\"", 49);
  EXPECT_EQ(Count(index(), exact, "title"), in_category) << Reason();
  double seconds = SecondsOf([&] {
    EXPECT_EQ(Count(index(), "allrec" + Repeat(" OR nosuchword", 1000), "title"),
              static_cast<int>(records_->size()))
        << Reason();
    EXPECT_EQ(Count(index(), Repeat("allrec ", 2000), "title"), static_cast<int>(records_->size()))
        << Reason();
  });
  EXPECT_LT(seconds, 5.0);
}

// What a program would leave when it runs.
class Marker {
 public:
  explicit Marker(const std::string& path) : path_(path) {}
  bool Exists() const { return std::filesystem::exists(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A program that leaves `marker` when it runs (Xapian splits a stub's arguments at spaces, so a
// script stands for "sh -c ...").
std::string MarkingProgram(const std::string& path, const std::string& marker) {
  WriteFile(path, "#!/bin/sh\ntouch '" + marker + "'\nexit 1\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

int InsertWord(const std::string& index, const char* word) {
  KmsDocument* d = KMS_New_Document();
  KMS_Add_Field(d, "content", word, "gb2312", 1, 1, 1);
  const int rc = KMS_Insert_Document(index.c_str(), d);
  KMS_Free_Document(d);
  return rc;
}

// Stubs of every form Xapian reads but the engine does not write: each refused by every call
// that opens the folder, with a reason naming the index and the stub, and the program it names
// never started.
TEST(KmsStubTest, StubsTheEngineDidNotWriteAreRefusedAndStartNothing) {
  TempDir dir;
  const std::string outside = dir / "Outside";
  ASSERT_EQ(InsertRecord(outside, bench::GenerateCorpus(1, 1)[0], 0), 0) << Reason();
  struct Case {
    const char* what;
    // Makes the index folder `index`; `program` leaves the marker when it runs.
    std::function<void(const std::string& index, const std::string& program)> make;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"prog",
       [&](const std::string& index, const std::string& program) {
         WriteFile(index + "/XAPIANDB", "prog " + program + "\n");
       },
       "不是本程序写的（prog /"},
      {"remote program",
       [&](const std::string& index, const std::string& program) {
         WriteFile(index + "/XAPIANDB", "remote :" + program + "\n");
       },
       "不是本程序写的（remote :/"},
      {"remote program after a server",
       [&](const std::string& index, const std::string& program) {
         WriteFile(index + "/XAPIANDB", "remote 127.0.0.1:1\nremote :" + program + "\n");
       },
       "不是本程序写的"},
      {"auto /etc",
       [&](const std::string& index, const std::string&) {
         WriteFile(index + "/XAPIANDB", "auto /etc\n");
       },
       "不是本程序写的（auto /etc）"},
      {"glass outside the folder",
       [&](const std::string& index, const std::string&) {
         WriteFile(index + "/XAPIANDB", "glass " + outside + "/gen.1\n");
       },
       "不是本程序写的（glass /"},
      {"a generation name with ..",
       [&](const std::string& index, const std::string&) {
         WriteFile(index + "/XAPIANDB", "glass gen.1/../../Outside/gen.1\n");
       },
       "不是本程序写的（glass gen.1/../"},
      {"another backend naming a generation that holds a stub",
       [&](const std::string& index, const std::string& program) {
         std::filesystem::create_directories(index + "/gen.1");
         WriteFile(index + "/XAPIANDB", "chert gen.1\n");
         WriteFile(index + "/gen.1/XAPIANDB", "remote :" + program + "\n");
       },
       "不是本程序写的（chert gen.1）"},
      {"inmemory",
       [&](const std::string& index, const std::string&) {
         WriteFile(index + "/XAPIANDB", "inmemory\n");
       },
       "不是本程序写的（inmemory）"},
      {"a second line after the generation",
       [&](const std::string& index, const std::string& program) {
         WriteFile(index + "/XAPIANDB", "glass gen.1\nprog " + program + "\n");
       },
       "不是本程序写的（glass gen.1）"},
      {"empty",
       [&](const std::string& index, const std::string&) { WriteFile(index + "/XAPIANDB", ""); },
       "是空的或读不出"},
      // The engine's own line, but the generation holds a stub of its own instead of a database.
      {"a stub inside the generation",
       [&](const std::string& index, const std::string& program) {
         std::filesystem::create_directories(index + "/gen.1");
         WriteFile(index + "/XAPIANDB", "glass gen.1\n");
         WriteFile(index + "/gen.1/XAPIANDB", "remote :" + program + "\n");
       },
       "无法打开"},
      {"a generation linked elsewhere",
       [&](const std::string& index, const std::string&) {
         std::filesystem::create_directory_symlink(outside + "/gen.1", index + "/gen.1");
         WriteFile(index + "/XAPIANDB", "glass gen.1\n");
       },
       "无法打开"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string index = dir / ("Index" + std::to_string(++n));
    Marker marker(dir / ("marker" + std::to_string(n)));
    std::filesystem::create_directories(index);
    c.make(index, MarkingProgram(dir / ("program" + std::to_string(n)), marker.path()));
    EXPECT_EQ(KMS_Search(index.c_str(), "a", "gb2312", nullptr), nullptr);
    EXPECT_NE(Reason().find("索引" + index), std::string::npos) << Reason();
    EXPECT_NE(Reason().find(c.says), std::string::npos) << Reason();
    EXPECT_EQ(KMS_Query_Reading(index.c_str(), "a", "gb2312", nullptr), nullptr);
    EXPECT_EQ(KMS_Get_Batches(index.c_str()), nullptr);
    EXPECT_NE(KMS_Open(index.c_str(), 1), 0);
    EXPECT_NE(Reason().find("索引" + index), std::string::npos) << Reason();
    EXPECT_NE(InsertWord(index, "a"), 0);
    EXPECT_NE(KMS_Optimize(index.c_str()), 0);
    EXPECT_NE(KMS_Reindex(index.c_str()), 0);
    EXPECT_EQ(KMS_Index_Server(index.c_str()), nullptr);
    ::usleep(100 * 1000);  // a started program would have run by now
    EXPECT_FALSE(marker.Exists()) << "the stub's program ran";
  }
  // The folder the stubs pointed at is untouched and still answers.
  EXPECT_EQ(Count(outside, "nosuchword"), 0) << Reason();
}

}  // namespace
}  // namespace tomeva::kms_test
