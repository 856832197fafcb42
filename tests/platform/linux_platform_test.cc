#include "platform/linux_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <memory>
#include <string>

#include "base/file_util.h"
#include "base/gbk.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

using testing::TempDir;

// Runs the event loop until `done` holds or five seconds pass.
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  return done();
}

std::string Real(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

std::string ReadText(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return bytes;
}

class LinuxPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "linux_platform_test";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
    ::setenv("TOMEVA_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    ::setenv("TOMEVA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    // The desktop's handler is replaced by a script that writes down what it was asked to open.
    const std::string opener = dir_ / "opener.sh";
    ASSERT_TRUE(ReplaceFileAtomically(
        opener, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + (dir_ / "opened.tmp") + "\"\nmv \"" +
                    (dir_ / "opened.tmp") + "\" \"" + (dir_ / "opened") + "\"\n"));
    ::chmod(opener.c_str(), 0755);
    ::setenv("TOMEVA_OPENER", opener.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("TOMEVA_OPENER"); }

  std::string Opened() {
    const std::string file = dir_ / "opened";
    if (!WaitFor([&] { return FileExists(file); })) return "(nothing opened)";
    return ReadText(file);
  }

  TempDir dir_;
};

// A command line starts in the folder it names (the present one when none), its quoted parts
// kept together; one that cannot start reports it.
TEST_F(LinuxPlatformTest, RunCommandLineStartsInTheFolderOrReportsFailure) {
  LinuxPlatform platform;
  MakeDirectories(dir_ / "work dir");
  ASSERT_TRUE(platform.RunCommandLine("sh -c \"pwd > where.txt\"", dir_ / "work dir"));
  const std::string where = dir_ / "work dir/where.txt";
  ASSERT_TRUE(WaitFor([&] { return FileExists(where) && !ReadText(where).empty(); }));
  EXPECT_EQ(ReadText(where), Real(dir_ / "work dir") + "\n");

  EXPECT_FALSE(platform.RunCommandLine("", ""));
  EXPECT_FALSE(platform.RunCommandLine("/no/such/program --now", ""));
}

// Documents are handed to the desktop's handler by absolute path, addresses as they are (GBK in,
// the handler gets UTF-8).
TEST_F(LinuxPlatformTest, DocumentsAndAddressesGoToTheDesktopsHandler) {
  LinuxPlatform platform;
  ASSERT_TRUE(platform.OpenInBrowserWindow(Utf8ToGbk("https://lumq.example/书")));
  EXPECT_EQ(Opened(), "https://lumq.example/书");
  RemoveFile(dir_ / "opened");
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "Help.htm", "<html></html>"));
  ASSERT_TRUE(platform.OpenDocument(dir_ / "Help.htm"));
  EXPECT_EQ(Opened(), dir_ / "Help.htm");
}

// Wait blocks until the program has ended, in the folder given; the titled start shows the
// program (our standard output is its own) and does not wait.
TEST_F(LinuxPlatformTest, WaitAndTheTitledStartRunTheCommandLine) {
  LinuxPlatform platform;
  MakeDirectories(dir_ / "work dir");
  EXPECT_EQ(platform.Wait("sh -c \"sleep 0.2; pwd > where.txt\"", 0, 10, dir_ / "work dir"), 1);
  EXPECT_EQ(ReadText(dir_ / "work dir/where.txt"), Real(dir_ / "work dir") + "\n");
  EXPECT_EQ(platform.Wait("/no/such/program", 1, Platform::kWaitForever, ""), 1);

  const std::string out = dir_ / "titled.txt";
  ASSERT_TRUE(platform.RunCommandLineTitled(
      "sh -c 'o=$(readlink /proc/$$/fd/1); echo \"$o\" > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"' sh '" + out + "'"));
  ASSERT_TRUE(WaitFor([&] { return FileExists(out); }));
  char ours[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/fd/1", ours, sizeof ours - 1), 0);
  EXPECT_EQ(ReadText(out), std::string(ours) + "\n");
  EXPECT_FALSE(platform.RunCommandLineTitled("/no/such/program"));
}

// Without a test's opener an address goes to our browser window program, as its one argument;
// while that program is not there, nothing is opened and the call says so.
TEST_F(LinuxPlatformTest, AddressesGoToOurBrowserWindowProgram) {
  ::unsetenv("TOMEVA_OPENER");
  LinuxPlatform platform;
  const std::string browser = platform.CompanionProgram("tomeva-browser");
  ASSERT_FALSE(FileExists(browser)) << "a browser program where the test expects none";
  EXPECT_FALSE(platform.OpenInBrowserWindow("https://lumq.example/"));

  const std::string opened = dir_ / "opened";
  ASSERT_TRUE(ReplaceFileAtomically(
      browser, "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"" + opened + ".tmp\"\nmv \"" +
                   opened + ".tmp\" \"" + opened + "\"\n"));
  ::chmod(browser.c_str(), 0755);
  const bool started = platform.OpenInBrowserWindow(Utf8ToGbk("https://lumq.example/书 名"));
  const std::string got = Opened();
  RemoveFile(browser);
  EXPECT_TRUE(started);
  EXPECT_EQ(got, "1|https://lumq.example/书 名");
}

constexpr auto kAcquired = InstanceGuardResult::kAcquired;
constexpr auto kHeldElsewhere = InstanceGuardResult::kHeldElsewhere;
constexpr auto kFailed = InstanceGuardResult::kFailed;

// The lock file in the runtime folder `run` ("" when there is none).
std::string LockFileIn(const std::string& run) {
  for (const std::string& file : ListDirectory(run)) {
    if (file.size() > 5 && file.compare(file.size() - 5, 5, ".lock") == 0) return run + "/" + file;
  }
  return std::string();
}

// The lock file of a guard name in the runtime folder `run`, found by taking the guard once.
std::string LockFileOf(const std::string& run, const std::string& name) {
  LinuxPlatform probe;
  if (probe.AcquireSingleInstance(name, [] {}, nullptr) != kAcquired) return std::string();
  return LockFileIn(run);
}

// Dates a file back, as a lock file left behind some time ago would be.
void MakeOld(const std::string& path) {
  const struct timespec times[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// The first holder of a name keeps it; a second start is refused and asks the first to raise its
// window; once the first is gone the name is free again.
TEST_F(LinuxPlatformTest, SingleInstanceGuardRefusesASecondStartAndRaisesTheFirst) {
  int raised = 0;
  auto first = std::make_unique<LinuxPlatform>();
  ASSERT_EQ(first->AcquireSingleInstance(Utf8ToGbk("书库 Class"), [&] { ++raised; }, nullptr),
            kAcquired);
  {
    LinuxPlatform second;
    std::string failure = "untouched";
    EXPECT_EQ(second.AcquireSingleInstance(Utf8ToGbk("书库 Class"), [] {}, &failure),
              kHeldElsewhere);
    EXPECT_EQ(failure, "untouched");
    EXPECT_EQ(second.guard(), nullptr);
  }
  EXPECT_TRUE(WaitFor([&] { return raised == 1; }));
  // However long the first has held it, it is never taken for a leftover.
  MakeOld(LockFileIn(dir_ / "run"));
  {
    LinuxPlatform second;
    EXPECT_EQ(second.AcquireSingleInstance(Utf8ToGbk("书库 Class"), [] {}, nullptr),
              kHeldElsewhere);
  }
  LinuxPlatform other_name;
  EXPECT_EQ(other_name.AcquireSingleInstance("other Class", [] {}, nullptr), kAcquired);
  first.reset();
  LinuxPlatform next;
  EXPECT_EQ(next.AcquireSingleInstance(Utf8ToGbk("书库 Class"), [] {}, nullptr), kAcquired);
}

// A guard that cannot be set up is reported as such, with the runtime folder named; only a live
// holder is ever taken for another instance.
TEST_F(LinuxPlatformTest, AGuardThatCannotBeSetUpIsAFailureNamingTheFolder) {
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "plain-file", "not a folder"));
  const std::string long_run = dir_ / std::string(120, 'r');  // too long a name for a socket
  const std::string lock_dir_run = dir_ / "lock-is-a-folder";
  const struct {
    const char* name;
    std::string run;
    std::string reason;  // UTF-8, with the folder in place of %s
    bool lock_kept;      // later starts are refused all the same
  } cases[] = {
      {"runtime folder below a file", dir_ / "plain-file/run",
       "无法创建运行文件夹“" + (dir_ / "plain-file/run") + "”，不能阻止同时再运行一个本程序",
       false},
      {"runtime folder is a file", dir_ / "plain-file",
       "无法创建运行文件夹“" + (dir_ / "plain-file") + "”，不能阻止同时再运行一个本程序", false},
      {"socket cannot listen", long_run,
       "无法在运行文件夹“" + long_run + "”中建立本地连接，再启动本程序时不能唤出这个窗口", true},
      {"lock file is a folder", lock_dir_run,
       "运行文件夹“" + lock_dir_run + "”中留有已结束的本程序的锁文件而无法删除", false},
  };
  {
    ::setenv("TOMEVA_RUNTIME_DIR", lock_dir_run.c_str(), 1);
    const std::string lock = LockFileOf(lock_dir_run, "folder Class");
    ASSERT_FALSE(lock.empty());
    ASSERT_TRUE(MakeDirectories(lock + "/inside"));
  }
  for (const auto& c : cases) {
    ::setenv("TOMEVA_RUNTIME_DIR", c.run.c_str(), 1);
    const std::string name = c.run == lock_dir_run ? "folder Class" : "any Class";
    LinuxPlatform platform;
    std::string failure;
    EXPECT_EQ(platform.AcquireSingleInstance(name, [] {}, &failure), kFailed) << c.name;
    EXPECT_EQ(GbkToUtf8(failure).rfind(c.reason, 0), 0u) << c.name << ": " << GbkToUtf8(failure);
    EXPECT_EQ(platform.guard() != nullptr, c.lock_kept) << c.name;
    LinuxPlatform later;
    EXPECT_EQ(later.AcquireSingleInstance(name, [] {}, nullptr),
              c.lock_kept ? kHeldElsewhere : kFailed)
        << c.name;
  }
}

// The guard's lock file left behind by an instance that is gone never blocks the next start,
// whatever state it was left in.
TEST_F(LinuxPlatformTest, ALockLeftByAnInstanceThatIsGoneIsTakenOver) {
  const std::string run = dir_ / "run";
  const std::string name = Utf8ToGbk("书库 Class");
  const std::string lock = LockFileOf(run, name);
  ASSERT_FALSE(lock.empty());
  std::string live_content;  // a lock file naming this (running) process as its holder
  {
    LinuxPlatform holder;
    ASSERT_EQ(holder.AcquireSingleInstance(name, [] {}, nullptr), kAcquired);
    ASSERT_TRUE(ReadWholeFile(lock, &live_content));
  }
  const struct {
    const char* name;
    std::function<void()> leave;
  } cases[] = {
      {"holder killed",
       [&] {
         int ready[2];
         ASSERT_EQ(::pipe(ready), 0);
         const pid_t child = ::fork();
         ASSERT_GE(child, 0);
         if (child == 0) {
           LinuxPlatform held;
           const bool ok = held.AcquireSingleInstance(name, [] {}, nullptr) == kAcquired;
           (void)!::write(ready[1], ok ? "1" : "0", 1);
           ::pause();
           ::_exit(0);
         }
         ::close(ready[1]);
         char answer = 0;
         ASSERT_EQ(::read(ready[0], &answer, 1), 1);
         ::close(ready[0]);
         ASSERT_EQ(answer, '1');
         ::kill(child, SIGKILL);
         ::waitpid(child, nullptr, 0);
         ASSERT_TRUE(FileExists(lock));
       }},
      {"holder killed while writing it",
       [&] {
         ASSERT_TRUE(ReplaceFileAtomically(lock, ""));
         MakeOld(lock);
       }},
      {"its pid now a live process of the same name",
       [&] {
         ASSERT_TRUE(ReplaceFileAtomically(lock, live_content));
         MakeOld(lock);
       }},
  };
  for (const auto& c : cases) {
    c.leave();
    LinuxPlatform next;
    std::string failure;
    EXPECT_EQ(next.AcquireSingleInstance(name, [] {}, &failure), kAcquired)
        << c.name << ": " << GbkToUtf8(failure);
    EXPECT_NE(next.guard(), nullptr) << c.name;
    // And it is a real guard again: the start after it is refused.
    LinuxPlatform second;
    EXPECT_EQ(second.AcquireSingleInstance(name, [] {}, nullptr), kHeldElsewhere) << c.name;
  }
}

}  // namespace
}  // namespace tomeva::platform
