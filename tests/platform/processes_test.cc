#include "platform/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

// Starts a copy of /bin/sleep under a name no other process has.
pid_t StartNamedSleeper(const std::string& program) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

bool Exited(pid_t pid, int* status) {
  for (int i = 0; i < 50; ++i) {
    if (::waitpid(pid, status, WNOHANG) == pid) return true;
    ::usleep(20000);
  }
  return false;
}

TEST(ProcessesTest, KillsExactlyTheProcessesOfThatName) {
  char name[] = "/tmp/tomeva-proc-XXXXXX";
  const std::string dir = ::mkdtemp(name);
  const std::string victim = dir + "/tvictim" + std::to_string(::getpid()) + ".exe";
  // In a folder of its own: file look-ups ignore case, the process table must not.
  MakeDirectories(dir + "/other");
  const std::string bystander = dir + "/other/Tvictim" + std::to_string(::getpid()) + ".exe";
  ASSERT_TRUE(CopyFileReplacing("/bin/sleep", victim));
  ASSERT_TRUE(CopyFileReplacing("/bin/sleep", bystander));
  ::chmod(victim.c_str(), 0755);
  ::chmod(bystander.c_str(), 0755);
  pid_t a = StartNamedSleeper(victim);
  pid_t b = StartNamedSleeper(victim);
  pid_t c = StartNamedSleeper(bystander);
  ::usleep(200000);

  bool listed = false;
  for (const ProcessEntry& p : ListProcesses()) listed = listed || p.pid == a;
  EXPECT_TRUE(listed);

  EXPECT_EQ(KillProcessByName(BaseName(victim), dir), 2);
  int status = 0;
  ASSERT_TRUE(Exited(a, &status));
  EXPECT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(Exited(b, &status));
  EXPECT_FALSE(Exited(c, &status)) << "a name differing in case must not match";
  EXPECT_EQ(KillProcessByName("no-such-program.exe", dir), 0);
  ::kill(c, SIGKILL);
  ::waitpid(c, &status, 0);
  DeleteTree(dir);
  RemoveDirectory(dir);
}

// A process table of our own (TOMEVA_PROC_DIR) in which a live child of this test appears as
// whatever program, first argument and owner a case gives it; the child is what gets the signal.
class FakeProcessTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDirectories(root_ / "old"));
    ASSERT_TRUE(MakeDirectories(root_ / "old-2"));
    ASSERT_TRUE(MakeDirectories(root_ / "elsewhere"));
    ASSERT_EQ(::symlink((root_ / "old").c_str(), (root_ / "link-to-old").c_str()), 0);
    for (const char* file : {"old/Harbexon.exe", "old/wrapper", "old/other.exe",
                             "old-2/Harbexon.exe", "elsewhere/Harbexon.exe"}) {
      ASSERT_TRUE(ReplaceFileAtomically(root_ / file, "program"));
    }
  }
  void TearDown() override { ::unsetenv("TOMEVA_PROC_DIR"); }

  tomeva::testing::TempDir root_;
};

TEST_F(FakeProcessTableTest, EndsOnlyThisUsersProgramsInsideTheOlderFolder) {
  const struct {
    const char* name;
    std::string exe;     // the exe link's target; "" for none (unreadable)
    std::string arg0;    // the first argument in cmdline
    bool other_user;     // the entry belongs to another user (needs root to arrange)
    std::string folder;  // the older installation's folder as the migration gives it
    bool ended;
  } cases[] = {
      {"its program inside the folder", root_ / "old/Harbexon.exe", "Harbexon.exe", false,
       root_ / "old", true},
      {"reached through a link to the folder", root_ / "link-to-old/Harbexon.exe", "x", false,
       root_ / "old", true},
      {"folder given through a link", root_ / "old/Harbexon.exe", "x", false,
       root_ / "link-to-old", true},
      {"named by its first argument", root_ / "old/wrapper", "C:\\Old\\Harbexon.exe", false,
       root_ / "old", true},
      {"program file deleted since", root_ / "old/Harbexon.exe (deleted)", "x", false,
       root_ / "old", true},
      {"same name elsewhere", root_ / "elsewhere/Harbexon.exe", "Harbexon.exe", false,
       root_ / "old", false},
      {"a folder whose name begins like it", root_ / "old-2/Harbexon.exe", "Harbexon.exe", false,
       root_ / "old", false},
      {"first argument naming it, program elsewhere", "/bin/sleep", "C:\\Old\\Harbexon.exe",
       false, root_ / "old", false},
      {"another program in the folder", root_ / "old/other.exe", "other.exe", false,
       root_ / "old", false},
      {"program cannot be read", "", "Harbexon.exe", false, root_ / "old", false},
      {"another user's", root_ / "old/Harbexon.exe", "Harbexon.exe", true, root_ / "old", false},
      {"folder missing", root_ / "old/Harbexon.exe", "Harbexon.exe", false, root_ / "gone",
       false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.other_user && ::geteuid() != 0) {
      std::printf("skipped (needs root): %s\n", c.name);
      continue;
    }
    const std::string proc = root_ / ("proc" + std::to_string(index++));
    ::setenv("TOMEVA_PROC_DIR", proc.c_str(), 1);
    const pid_t child = StartNamedSleeper("/bin/sleep");
    ASSERT_GT(child, 0);
    const std::string entry = proc + "/" + std::to_string(child);
    ASSERT_TRUE(MakeDirectories(entry));
    if (!c.exe.empty()) {
      ASSERT_EQ(::symlink(c.exe.c_str(), (entry + "/exe").c_str()), 0);
    }
    ASSERT_TRUE(ReplaceFileAtomically(entry + "/cmdline", c.arg0 + std::string("\0" "30\0", 4)));
    if (c.other_user) {
      ASSERT_EQ(::chown(entry.c_str(), 65534, 65534), 0);
    }

    EXPECT_EQ(KillProcessByName("Harbexon.exe", c.folder), c.ended ? 1 : 0);
    int status = 0;
    EXPECT_EQ(Exited(child, &status), c.ended);
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
}

}  // namespace
}  // namespace tomeva::platform
