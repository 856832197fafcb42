// Writers and readers at once, and processes killed in the middle of a build or an optimise.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
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

// Every record of these tests holds the word "every" and its own word "recN".
int InsertNumbered(const std::string& index, int i) {
  KmsDocument* d = KMS_New_Document();
  std::string text = "every rec" + std::to_string(i) + " \xB9\xB2";  // 共
  KMS_Add_Field(d, "xml", XmlOf(i).c_str(), "gb2312", 1, 0, 0);
  KMS_Add_Field(d, "content", text.c_str(), "gb2312", 1, 1, 1);
  int rc = KMS_Insert_Document(index.c_str(), d);
  KMS_Free_Document(d);
  return rc;
}

// Sets the commit interval for the duration of a test.
class CommitEvery {
 public:
  explicit CommitEvery(int n) { ::setenv("TOMEVA_KMS_COMMIT_EVERY", std::to_string(n).c_str(), 1); }
  ~CommitEvery() { ::unsetenv("TOMEVA_KMS_COMMIT_EVERY"); }
};

TEST(KmsDurabilityTest, SearchesDuringABuildSeeWholeCommitsOnly) {
  TempDir dir;
  CommitEvery every(100);
  const int kDocs = 3000;
  ASSERT_EQ(KMS_Open(dir.path().c_str(), 1), 0);
  ASSERT_EQ(InsertNumbered(dir.path(), 0), 0);
  std::atomic<bool> done{false};
  std::atomic<int> searches{0};
  std::vector<std::string> failures;
  std::thread reader([&] {
    int last = 0;
    while (!done) {
      int n = Count(dir.path(), "every");
      if (n < 0 || n % 100 != 0 || n < last) failures.push_back(std::to_string(n));
      last = n > 0 ? n : last;
      ++searches;
    }
  });
  for (int i = 1; i < kDocs; ++i) ASSERT_EQ(InsertNumbered(dir.path(), i), 0);
  done = true;
  reader.join();
  ASSERT_EQ(KMS_Close(dir.path().c_str()), 0);
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_GT(searches.load(), 0);
  EXPECT_EQ(Count(dir.path(), "every"), kDocs);
}

// Forks a child that runs `work` and reports progress numbers on a pipe; kills it with SIGKILL
// after `delay` and returns the last number it reported (-1 when none).
template <typename Work>
int RunAndKill(std::chrono::milliseconds delay, Work work) {
  int fds[2];
  if (::pipe(fds) != 0) return -2;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    work([&](int n) {
      if (::write(fds[1], &n, sizeof n) != sizeof n) ::_exit(3);
    });
    ::_exit(0);
  }
  ::close(fds[1]);
  std::this_thread::sleep_for(delay);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  int last = -1, n;
  while (::read(fds[0], &n, sizeof n) == sizeof n) last = n;
  ::close(fds[0]);
  return last;
}

TEST(KmsDurabilityTest, KilledBuildKeepsEveryCommittedRecord) {
  std::mt19937 rng(std::random_device{}());
  CommitEvery every(50);
  for (int round = 0; round < 4; ++round) {
    TempDir dir;
    int delay = 20 + static_cast<int>(rng() % 400);
    int reported = RunAndKill(std::chrono::milliseconds(delay), [&](auto report) {
      if (KMS_Open(dir.path().c_str(), 1) != 0) return;
      for (int i = 0;; ++i) {
        if (InsertNumbered(dir.path(), i) != 0) return;
        report(i + 1);
      }
    });
    SCOPED_TRACE("killed after " + std::to_string(delay) + " ms, " + std::to_string(reported) +
                 " inserted");
    if (reported < 0) continue;  // killed before the index existed; nothing was promised
    int n = Count(dir.path(), "every");
    ASSERT_GE(n, reported / 50 * 50);
    ASSERT_LE(n, reported + 1);
    // What is there is the beginning of the build, every record whole.
    for (int i : {0, n / 2, n - 1}) {
      if (n == 0) break;
      EXPECT_EQ(HitXml(dir.path(), "rec" + std::to_string(i), 2),
                std::vector<std::string>{XmlOf(i)});
    }
    EXPECT_EQ(CountU(dir.path(), "rec" + std::to_string(n)), 0);
    // The index takes a writer again and goes on.
    ASSERT_EQ(InsertNumbered(dir.path(), n), 0);
    EXPECT_EQ(Count(dir.path(), "every"), n + 1);
  }
}

TEST(KmsDurabilityTest, OptimizeKeepsEveryRecordWhileSearchesGoOn) {
  TempDir dir;
  const int kDocs = 2000;
  ASSERT_EQ(KMS_Open(dir.path().c_str(), 1), 0);
  for (int i = 0; i < kDocs; ++i) ASSERT_EQ(InsertNumbered(dir.path(), i), 0);
  ASSERT_EQ(KMS_Close(dir.path().c_str()), 0);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, searches{0};
  std::thread reader([&] {
    while (!done) {
      if (Count(dir.path(), "every") != kDocs) ++bad;
      std::vector<std::string> hit = HitXml(dir.path(), "rec1234", 1);
      if (hit != std::vector<std::string>{XmlOf(1234)}) ++bad;
      ++searches;
    }
  });
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(KMS_Open(dir.path().c_str(), 0), 0) << KMS_Last_Error();
    ASSERT_EQ(KMS_Optimize(dir.path().c_str()), 0) << KMS_Last_Error();
    ASSERT_EQ(KMS_Close(dir.path().c_str()), 0) << KMS_Last_Error();
  }
  ASSERT_EQ(KMS_Optimize(dir.path().c_str()), 0);  // also without an explicit Open
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(searches.load(), 0);
  EXPECT_EQ(Count(dir.path(), "every"), kDocs);
  // One generation is left beside the stub.
  int generations = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    generations += e.is_directory();
  }
  EXPECT_EQ(generations, 1);
}

TEST(KmsDurabilityTest, KilledOptimizeLeavesAWholeIndex) {
  TempDir dir;
  const int kDocs = 3000;
  ASSERT_EQ(KMS_Open(dir.path().c_str(), 1), 0);
  for (int i = 0; i < kDocs; ++i) ASSERT_EQ(InsertNumbered(dir.path(), i), 0);
  ASSERT_EQ(KMS_Close(dir.path().c_str()), 0);
  std::mt19937 rng(std::random_device{}());
  for (int round = 0; round < 5; ++round) {
    int delay = 5 + static_cast<int>(rng() % 300);
    RunAndKill(std::chrono::milliseconds(delay), [&](auto report) {
      for (int k = 0;; ++k) {
        if (KMS_Open(dir.path().c_str(), 0) != 0) return;
        int optimized = KMS_Optimize(dir.path().c_str());
        if (KMS_Close(dir.path().c_str()) != 0 || optimized != 0) return;
        report(k);
      }
    });
    ASSERT_EQ(Count(dir.path(), "every"), kDocs) << "round " << round;
    EXPECT_EQ(HitXml(dir.path(), "rec2999", 1), std::vector<std::string>{XmlOf(2999)});
  }
  // A writer cleans up what an interrupted compaction left.
  ASSERT_EQ(KMS_Open(dir.path().c_str(), 1), 0);
  ASSERT_EQ(KMS_Close(dir.path().c_str()), 0);
  int generations = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    generations += e.is_directory();
  }
  EXPECT_EQ(generations, 1);
}

}  // namespace
}  // namespace tomeva::kms_test
