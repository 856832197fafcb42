// Failures of the engine reach the caller: a status or NULL, and a reason in KMS_Last_Error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/gbk.h"
#include "kms/kms.h"
#include "kms_test_util.h"
#include "support/temp_dir.h"

namespace tomeva::kms_test {
namespace {

using testing::TempDir;

// The calling thread's reason, as UTF-8.
std::string Reason() { return GbkToUtf8(KMS_Last_Error()); }

// True when the reason holds every one of `parts` (UTF-8).
::testing::AssertionResult ReasonSays(const std::vector<std::string>& parts) {
  std::string reason = Reason();
  for (const std::string& part : parts) {
    if (reason.find(part) == std::string::npos) {
      return ::testing::AssertionFailure()
             << "reason \"" << reason << "\" lacks \"" << part << "\"";
    }
  }
  if (reason.find('\n') != std::string::npos) {
    return ::testing::AssertionFailure() << "reason \"" << reason << "\" is not one line";
  }
  return ::testing::AssertionSuccess();
}

// An index of `n` records each holding "allrec".
void BuildSmall(const std::string& index, int n) {
  ASSERT_EQ(KMS_Open(index.c_str(), 1), 0) << Reason();
  auto records = bench::GenerateCorpus(n, 5);
  for (int i = 0; i < n; ++i) {
    records[i].title = "allrec";
    ASSERT_EQ(InsertRecord(index, records[i], i), 0) << Reason();
  }
  ASSERT_EQ(KMS_Close(index.c_str()), 0) << Reason();
}

// Another process holding the index's write lock through the engine, from construction until
// destruction.
class LockHolder {
 public:
  explicit LockHolder(const std::string& index) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      char status = KMS_Open(index.c_str(), 1) == 0 ? 'y' : 'n';
      if (::write(ready[1], &status, 1) != 1) ::_exit(2);
      char c;
      while (::read(release[0], &c, 1) > 0) {
      }
      ::_exit(KMS_Close(index.c_str()) == 0 ? 0 : 1);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char status = 0;
    locked_ = ::read(ready[0], &status, 1) == 1 && status == 'y';
    ::close(ready[0]);
  }
  ~LockHolder() { Release(); }

  bool locked() const { return locked_; }

  // Lets the child close its writer and waits for it; true when it committed cleanly.
  bool Release() {
    if (pid_ <= 0) return false;
    ::close(release_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

int InsertWord(const std::string& index, const char* word, const char* batch = nullptr) {
  KmsDocument* d = KMS_New_Document();
  KMS_Add_Field(d, "content", word, "gb2312", 1, 1, 1);
  int rc = batch != nullptr ? KMS_Set_Batch(d, batch) : 0;
  if (rc == 0) rc = KMS_Insert_Document(index.c_str(), d);
  KMS_Free_Document(d);
  return rc;
}

TEST(KmsFailureTest, AWriteLockOfAnotherProcessRefusesEveryWriterWithItsReason) {
  TempDir dir;
  const std::string index = dir / "SearchDB";
  BuildSmall(index, 3);
  LockHolder holder(index);
  ASSERT_TRUE(holder.locked());
  struct Case {
    const char* call;
    std::function<int()> run;
  };
  const std::vector<Case> cases = {
      {"open to insert", [&] { return KMS_Open(index.c_str(), 1); }},
      {"open to optimise", [&] { return KMS_Open(index.c_str(), 0); }},
      {"insert", [&] { return InsertWord(index, "more"); }},
      {"optimize", [&] { return KMS_Optimize(index.c_str()); }},
      {"publish", [&] { return KMS_Publish_Batch(index.c_str(), "b"); }},
      {"discard", [&] { return KMS_Discard_Batch(index.c_str(), "b"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_NE(c.run(), 0);
    EXPECT_TRUE(ReasonSays({"索引" + index + "被另一个程序锁定"}));
    // The refused open left nothing open to close.
    EXPECT_NE(KMS_Close(index.c_str()), 0);
    EXPECT_TRUE(ReasonSays({"索引" + index + "没有打开"}));
  }
  // Readers never wait for the writer.
  EXPECT_EQ(CountU(index, "allrec"), 3);
  char* batches = KMS_Get_Batches(index.c_str());
  ASSERT_NE(batches, nullptr) << Reason();
  EXPECT_STREQ(batches, "");
  KMS_Free_Field(batches);
  // Once the other process lets go, this one writes.
  ASSERT_TRUE(holder.Release());
  ASSERT_EQ(KMS_Open(index.c_str(), 1), 0) << Reason();
  ASSERT_EQ(InsertWord(index, "allrec"), 0) << Reason();
  ASSERT_EQ(KMS_Close(index.c_str()), 0) << Reason();
  EXPECT_EQ(CountU(index, "allrec"), 4);
}

TEST(KmsFailureTest, AFolderThatCannotBeMadeIsReportedByWritersAndSearches) {
  TempDir dir;
  std::ofstream(dir / "file") << "not a folder";
  const std::string index = dir / "file/SearchDB";
  EXPECT_NE(KMS_Open(index.c_str(), 1), 0);
  EXPECT_TRUE(ReasonSays({"无法创建索引" + index}));
  EXPECT_NE(InsertWord(index, "a"), 0);
  EXPECT_TRUE(ReasonSays({"无法创建索引" + index}));
  EXPECT_EQ(KMS_Search(index.c_str(), "a", "gb2312", nullptr), nullptr);
  EXPECT_TRUE(ReasonSays({"索引" + index + "不存在"}));
}

TEST(KmsFailureTest, ACommitThatFailsIsReportedAndReleasesTheWriter) {
  TempDir dir;
  const std::string index = dir / "SearchDB";
  BuildSmall(index, 2);
  ASSERT_EQ(KMS_Open(index.c_str(), 1), 0) << Reason();
  ASSERT_EQ(InsertWord(index, "lost"), 0) << Reason();
  // The generation goes away under the writer, as on a disk that fails.
  for (const auto& e : std::filesystem::directory_iterator(index)) {
    if (e.is_directory()) std::filesystem::remove_all(e.path());
  }
  EXPECT_NE(KMS_Close(index.c_str()), 0);
  EXPECT_TRUE(ReasonSays({"索引" + index + "提交失败"}));
  EXPECT_NE(KMS_Close(index.c_str()), 0);
  EXPECT_TRUE(ReasonSays({"没有打开"}));
  // What is left names a generation that is not there: damaged, not missing.
  EXPECT_EQ(KMS_Search(index.c_str(), "lost", "gb2312", nullptr), nullptr);
  EXPECT_TRUE(ReasonSays({"索引" + index}));
  EXPECT_FALSE(ReasonSays({"不存在"}));
}

// The files of the index's current generation.
std::string Generation(const std::string& index) {
  std::ifstream stub(index + "/XAPIANDB");
  std::string backend, name;
  stub >> backend >> name;
  return index + "/" + name;
}

void Overwrite(const std::string& path, const std::string& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(0);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(KmsFailureTest, ADamagedIndexGivesNullWithAReasonUnlikeASearchWithoutHits) {
  struct Case {
    const char* damage;
    std::function<void(const std::string& index)> apply;
  };
  const std::vector<Case> cases = {
      {"version file truncated",
       [](const std::string& index) {
         std::filesystem::resize_file(Generation(index) + "/iamglass", 10);
       }},
      {"posting lists overwritten",
       [](const std::string& index) {
         std::string file = Generation(index) + "/postlist.glass";
         Overwrite(file, std::string(std::filesystem::file_size(file), '\x5A'));
       }},
      {"stub names no generation",
       [](const std::string& index) { std::ofstream(index + "/XAPIANDB") << "glass nothing\n"; }},
      {"generation removed",
       [](const std::string& index) { std::filesystem::remove_all(Generation(index)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    TempDir dir;
    const std::string healthy = dir / "Healthy", damaged = dir / "Damaged";
    BuildSmall(healthy, 20);
    BuildSmall(damaged, 20);
    KmsSearch* none = KMS_Search(healthy.c_str(), "nosuchword", "gb2312", nullptr);
    ASSERT_NE(none, nullptr) << Reason();
    EXPECT_EQ(KMS_HitCount(none), 0);
    KMS_ClearSearch(none);

    c.apply(damaged);
    EXPECT_EQ(KMS_Search(damaged.c_str(), "allrec", "gb2312", nullptr), nullptr);
    EXPECT_TRUE(ReasonSays({"索引" + damaged}));
    EXPECT_FALSE(ReasonSays({"不存在"}));
    EXPECT_EQ(KMS_Get_Batches(damaged.c_str()), nullptr);
    EXPECT_TRUE(ReasonSays({"索引" + damaged}));
    EXPECT_EQ(CountU(healthy, "allrec"), 20);
  }
}

TEST(KmsFailureTest, TheReasonBelongsToTheThreadAndOutlivesSuccessfulCalls) {
  TempDir dir;
  const std::string missing = dir / "none";
  ASSERT_EQ(KMS_Search(missing.c_str(), "a", "gb2312", nullptr), nullptr);
  const std::string reason = Reason();
  EXPECT_TRUE(ReasonSays({"索引" + missing + "不存在"}));
  std::string other = "unset";
  std::thread([&] { other = KMS_Last_Error(); }).join();
  EXPECT_EQ(other, "");
  ASSERT_EQ(InsertWord(dir / "SearchDB", "a"), 0);
  EXPECT_EQ(Reason(), reason);
}

TEST(KmsFailureTest, BadArgumentsGiveAReason) {
  KmsDocument* d = KMS_New_Document();
  struct Case {
    const char* call;
    std::function<int()> run;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"open without a path", [] { return KMS_Open(nullptr, 1); }, "没有给出索引文件夹"},
      {"close without a path", [] { return KMS_Close(""); }, "没有给出索引文件夹"},
      {"optimize without a path", [] { return KMS_Optimize(""); }, "没有给出索引文件夹"},
      {"insert without a document", [] { return KMS_Insert_Document("/tmp/x", nullptr); },
       "参数无效"},
      {"field without a name", [&] { return KMS_Add_Field(d, "", "v", "gb2312", 1, 1, 1); },
       "参数无效"},
      {"key of no document", [] { return KMS_Set_Key(nullptr, "k"); }, "参数无效"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_NE(c.run(), 0);
    EXPECT_TRUE(ReasonSays({c.says}));
  }
  KMS_Free_Document(d);
}

}  // namespace
}  // namespace tomeva::kms_test
