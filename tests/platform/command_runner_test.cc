#include "platform/command_runner.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/platform/command_line.h"
#include "platform/exported_wait.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

using Clock = std::chrono::steady_clock;
using testing::TempDir;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Polls `done` every 10 ms for at most `seconds`.
bool WaitFor(const std::function<bool()>& done, double seconds) {
  const Clock::time_point start = Clock::now();
  while (!done() && SecondsSince(start) < seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

std::string ReadText(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return bytes;
}

std::string Real(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

std::string Link(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string("(none)");
}

// A `sh -c SCRIPT` command line; the script's $1 is `arg` (when given).
std::string Shell(const std::string& script, const std::string& arg = std::string()) {
  std::vector<std::string> words = {"sh", "-c", script};
  if (!arg.empty()) words.insert(words.end(), {"sh", arg});
  return JoinCommandLine(words);
}

// The process state letter from /proc/PID/stat ('Z' for a zombie), 0 once it is gone.
char ProcessState(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const size_t paren = stat.rfind(')');
  return paren == std::string::npos || paren + 2 >= stat.size() ? 0 : stat[paren + 2];
}

// Fields of /proc/PID/stat after the command name: [0] state, [3] session, [4] tty.
std::vector<std::string> StatFields(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  std::vector<std::string> fields;
  size_t pos = stat.rfind(')') + 2;
  while (pos < stat.size()) {
    size_t end = stat.find(' ', pos);
    if (end == std::string::npos) end = stat.size();
    fields.push_back(stat.substr(pos, end - pos));
    pos = end + 1;
  }
  return fields;
}

// Waits until the process `pid` is gone from the process table; a zombie (ended, not reaped)
// is still there.
void ExpectReaped(pid_t pid) {
  EXPECT_TRUE(WaitFor([&] { return ProcessState(pid) == 0; }, 2))
      << "process " << pid << " still there in state " << ProcessState(pid);
}

class CommandRunnerTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

// Whatever keeps a program from starting ends the wait at once, with 1.
TEST_F(CommandRunnerTest, AWaitForAProgramThatCannotStartEndsAtOnce) {
  const struct {
    const char* name;
    std::string command_line;
    std::string dir;
  } cases[] = {
      {"no such program on the path", "tomeva-no-such-program --now", ""},
      {"no such program file", "/no/such/program", ""},
      {"not executable", JoinCommandLine({dir_ / "plain.txt"}), ""},
      {"empty command line", "", ""},
      {"open quote", "sh -c 'true", ""},
      {"no such folder", "sh -c true", dir_ / "missing"},
  };
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "plain.txt", "text"));
  for (const auto& c : cases) {
    for (int show : {0, 1}) {
      const Clock::time_point start = Clock::now();
      EXPECT_EQ(WaitForCommandLine(c.command_line, show, 10, c.dir), 1) << c.name;
      EXPECT_LT(SecondsSince(start), 1.0) << c.name;
    }
    EXPECT_FALSE(StartCommandLine(c.command_line, {false, c.dir})) << c.name;
  }
}

// Within its limit (or without one) the wait lasts as long as the program, in the folder given.
TEST_F(CommandRunnerTest, AWaitLastsUntilTheProgramEndsInItsFolder) {
  ASSERT_TRUE(MakeDirectories(dir_ / Utf8ToGbk("工作 Work")));
  const struct {
    const char* name;
    uint32_t limit;
    std::string dir;       // as passed
    std::string expected;  // where the program ran
  } cases[] = {
      {"limit", 10, dir_ / Utf8ToGbk("工作 Work"), Real(dir_ / Utf8ToGbk("工作 Work"))},
      {"no limit", kWaitWithoutLimit, dir_ / Utf8ToGbk("工作 Work"),
       Real(dir_ / Utf8ToGbk("工作 Work"))},
      {"\\ and letter case resolved", 10, dir_.path() + "\\" + Utf8ToGbk("工作 WORK"),
       Real(dir_ / Utf8ToGbk("工作 Work"))},
      {"our own folder", 10, "", Real(".")},
  };
  for (const auto& c : cases) {
    const std::string where = dir_ / "where.txt";
    RemoveFile(where);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitForCommandLine(Shell("sleep 0.3; pwd > \"$1\"", where), 0, c.limit, c.dir), 1)
        << c.name;
    EXPECT_GE(SecondsSince(start), 0.3) << c.name;
    // Already there when the wait ends: the program had ended.
    EXPECT_EQ(ReadText(where), c.expected + "\n") << c.name;
  }
}

// At the time-out the caller goes on while the program runs on to its end; the worker that
// still waits for it reaps it then.
TEST_F(CommandRunnerTest, AtTheTimeOutTheProgramRunsOnAndIsReapedWhenItEnds) {
  const std::string pid_file = dir_ / "pid";
  const std::string line =
      Shell("echo $$ > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"; sleep 3.5; touch \"$1.done\"", pid_file);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(WaitForCommandLine(line, 0, 3, ""), 1);
  const double waited = SecondsSince(start);
  EXPECT_GE(waited, 2.95);
  EXPECT_LT(waited, 3.4);
  EXPECT_FALSE(FileExists(pid_file + ".done"));
  ASSERT_TRUE(FileExists(pid_file));
  const pid_t pid = std::stoi(ReadText(pid_file));
  EXPECT_NE(ProcessState(pid), 0) << "the program must still be running";
  EXPECT_TRUE(WaitFor([&] { return FileExists(pid_file + ".done"); }, 3));
  ExpectReaped(pid);
}

// A program nobody waits for is reaped too.
TEST_F(CommandRunnerTest, AProgramStartedWithoutWaitingIsReaped) {
  const std::string pid_file = dir_ / "pid";
  for (bool shown : {false, true}) {
    RemoveFile(pid_file);
    ASSERT_TRUE(StartCommandLine(Shell("echo $$ > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"", pid_file),
                                 {shown, ""}));
    ASSERT_TRUE(WaitFor([&] { return FileExists(pid_file); }, 3));
    ExpectReaped(std::stoi(ReadText(pid_file)));
  }
}

// Hidden: no terminal (a session of its own) and /dev/null for standard input, output and error.
// Shown: ours. Either way no other descriptor of ours is inherited.
TEST_F(CommandRunnerTest, HiddenProgramsHaveNoTerminalAndNothingOfOursIsInherited) {
  // A descriptor left without close-on-exec, as another part of a program might.
  const int leaked = ::open((dir_ / "leaked").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(leaked, 3);
  const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (bool shown : {false, true}) {
    int error = 0;
    const pid_t pid = SpawnProgram({"sleep", "5"}, {shown, ""}, &error);
    ASSERT_GT(pid, 0) << error;
    const std::string fd = "/proc/" + std::to_string(pid) + "/fd/";
    for (int n : {0, 1, 2}) {
      EXPECT_EQ(Link(fd + std::to_string(n)), shown ? Link(self + std::to_string(n)) : "/dev/null")
          << "shown " << shown << " fd " << n;
    }
    EXPECT_EQ(ListDirectory(fd), (std::vector<std::string>{"0", "1", "2"})) << "shown " << shown;
    const std::vector<std::string> stat = StatFields(pid);
    ASSERT_GT(stat.size(), 4u);
    if (shown) {
      EXPECT_EQ(stat[3], std::to_string(::getsid(0)));
    } else {
      EXPECT_EQ(stat[3], std::to_string(pid)) << "a session of its own";
      EXPECT_EQ(stat[4], "0") << "no controlling terminal";
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  ::close(leaked);
  int error = 0;
  EXPECT_EQ(SpawnProgram({"tomeva-no-such-program"}, {}, &error), -1);
  EXPECT_EQ(error, ENOENT);
}

// Everything the program writes, to standard output and error alike, in the order written; the
// file is made also when there is nothing to store or nothing could be started; a file that
// cannot be written still lets the program run to its end, and the wait lasts until then.
TEST_F(CommandRunnerTest, CapturedOutputIsStoredWholeAndInOrder) {
  std::string interleaved;
  for (int i = 0; i < 1500; ++i) {
    interleaved += "out " + std::to_string(i) + "\nerr " + std::to_string(i) + "\n";
  }
  ASSERT_GT(interleaved.size(), 4096u * 4);
  const std::string big = "head -c 200000 /dev/zero | tr '\\0' x; sleep 0.2; touch \"$1\"";
  const std::string marker = dir_ / "ended";
  const struct {
    const char* name;
    std::string command_line;
    std::string output;  // path
    bool started;
    bool complete;
    std::string stored;  // "-": no file
    uint64_t bytes_read;
  } cases[] = {
      {"nothing printed", "sh -c true", dir_ / "empty.txt", true, true, "", 0},
      {"out and err interleaved",
       Shell("i=0; while [ $i -lt 1500 ]; do echo \"out $i\"; echo \"err $i\" >&2; "
             "i=$((i+1)); done"),
       dir_ / "both.txt", true, true, interleaved, interleaved.size()},
      {"input is at its end at once", Shell("cat; echo end"), dir_ / "input.txt", true, true,
       "end\n", 4},
      {"bytes kept as they are", Shell("printf '\\225\\134 \\0'"), dir_ / "bytes.txt", true,
       true, std::string("\x95\x5C \0", 4), 4},
      {"no such program", "tomeva-no-such-program", dir_ / "none.txt", false, true, "", 0},
      {"folder missing", Shell(big, marker), dir_ / "missing/out.txt", true, false, "-", 200000},
      {"disk full", Shell(big, marker), "/dev/full", true, false, "-", 200000},
  };
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "empty.txt", "old contents"));
  for (const auto& c : cases) {
    RemoveFile(marker);
    CaptureReport report;
    EXPECT_EQ(CaptureCommandLineOutput(c.command_line, c.output, &report), 1) << c.name;
    EXPECT_EQ(report.started, c.started) << c.name;
    EXPECT_EQ(report.output_complete, c.complete) << c.name;
    EXPECT_EQ(report.bytes_read, c.bytes_read) << c.name;
    if (c.stored == "-") {
      EXPECT_FALSE(FileExists(c.output) && c.output != "/dev/full") << c.name;
      EXPECT_TRUE(FileExists(marker)) << c.name << ": the wait ended before the program";
    } else {
      ASSERT_TRUE(FileExists(c.output)) << c.name;
      EXPECT_EQ(ReadText(c.output), c.stored) << c.name;
    }
  }
}

// Wait with room for small allocations only, not for a worker thread's stack; ends the process
// with 0 when it said so with 0. The program it would start touches the file named by
// TOMEVA_TEST_MARKER: the death test's child runs the case afresh, with a temporary folder of its
// own, so the parent names the file it looks at.
[[noreturn]] void WaitWithoutRoomForAThread() {
  const char* marker = std::getenv("TOMEVA_TEST_MARKER");
  if (marker == nullptr) ::_exit(2);
  const std::string command_line = Shell("touch \"$1\"", marker);
  long pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) ::_exit(3);
  std::fclose(statm);
  const rlim_t room = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (1 << 20);
  const struct rlimit limit = {room, room};
  if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(4);
  const int result = WaitForCommandLine(command_line, 0, 5, "");
  ::_exit(result == 0 ? 0 : 10 + result);
}

// The worker thread cannot be had: Wait says so with 0 and starts nothing.
TEST_F(CommandRunnerTest, AWaitThatCannotBeSetUpIsZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string started = dir_ / "started";
  ::setenv("TOMEVA_TEST_MARKER", started.c_str(), 1);
  EXPECT_EXIT(WaitWithoutRoomForAThread(), ::testing::ExitedWithCode(0), "");
  ::unsetenv("TOMEVA_TEST_MARKER");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(FileExists(started));
}

// A module loaded into the process finds Wait and WaitResult in the executable, as an outside
// module would, and they do what the runner does, in the current directory.
TEST_F(CommandRunnerTest, ExportedFunctionsServeALoadedModule) {
  void* self = ::dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  EXPECT_NE(::dlsym(self, "_Z4WaitRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEij"),
            nullptr);
  EXPECT_NE(::dlsym(self, "_Z10WaitResultPKcS0_"), nullptr);
  // Nothing else of the runner is exported.
  EXPECT_EQ(::dlsym(self, "_ZN6tomeva8platform18WaitForCommandLineERKNSt7__cxx1112basic_"
                          "stringIcSt11char_traitsIcESaIcEEEijS8_"),
            nullptr);
  ::dlclose(self);

  void* module = ::dlopen(TOMEVA_WAIT_CALLER_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << ::dlerror();
  using CallWait = int (*)(const char*, int, unsigned int);
  using CallWaitResult = int (*)(const char*, const char*);
  auto call_wait = reinterpret_cast<CallWait>(::dlsym(module, "CallWait"));
  auto call_wait_result = reinterpret_cast<CallWaitResult>(::dlsym(module, "CallWaitResult"));
  ASSERT_NE(call_wait, nullptr);
  ASSERT_NE(call_wait_result, nullptr);

  const std::string before = Real(".");
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(call_wait(Shell("sleep 0.2; pwd > where.txt").c_str(), 0, 10), 1);
  EXPECT_GE(SecondsSince(start), 0.2);
  EXPECT_EQ(ReadText(dir_ / "where.txt"), Real(dir_.path()) + "\n");
  EXPECT_EQ(call_wait_result(Shell("echo out; echo err >&2; pwd").c_str(), "result.txt"), 1);
  EXPECT_EQ(ReadText(dir_ / "result.txt"), "out\nerr\n" + Real(dir_.path()) + "\n");
  EXPECT_EQ(call_wait_result(nullptr, nullptr), 1);
  ASSERT_EQ(::chdir(before.c_str()), 0);
  ::dlclose(module);
}

}  // namespace
}  // namespace tomeva::platform
