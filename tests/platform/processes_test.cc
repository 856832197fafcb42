#include "platform/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "core/base/file_tree.h"
#include "core/base/file_util.h"

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

  EXPECT_EQ(KillProcessByName(BaseName(victim)), 2);
  int status = 0;
  ASSERT_TRUE(Exited(a, &status));
  EXPECT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(Exited(b, &status));
  EXPECT_FALSE(Exited(c, &status)) << "a name differing in case must not match";
  EXPECT_EQ(KillProcessByName("no-such-program.exe"), 0);
  ::kill(c, SIGKILL);
  ::waitpid(c, &status, 0);
  DeleteTree(dir);
  RemoveDirectory(dir);
}

}  // namespace
}  // namespace tomeva::platform
