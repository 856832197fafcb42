#include "platform/command_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "base/file_util.h"
#include "core/platform/command_line.h"

extern char** environ;

namespace tomeva::platform {
namespace {

// Descriptors a capturing start puts on the program's standard input, output and error.
struct Redirect {
  int input;
  int output;  // both standard output and standard error
};

// posix_spawn's attribute and file-action objects, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    attr_ok_ = ::posix_spawnattr_init(&attr_) == 0;
    actions_ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attr_ok_) ::posix_spawnattr_destroy(&attr_);
    if (actions_ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Fills both objects; an errno value, 0 when all went well.
  int Prepare(const StartOptions& options, const Redirect* redirect, const std::string& dir) {
    if (!attr_ok_ || !actions_ok_) return ENOMEM;
    // The program starts with no signal blocked and every signal at its default, whatever the
    // starting thread blocks or this program ignores (a started shell must see SIGPIPE).
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (!options.shown) flags |= POSIX_SPAWN_SETSID;
    int rc = ::posix_spawnattr_setflags(&attr_, flags);
    if (rc == 0) rc = ::posix_spawnattr_setsigmask(&attr_, &none);
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&attr_, &all);
    if (rc == 0 && !dir.empty()) rc = ::posix_spawn_file_actions_addchdir_np(&actions_, dir.c_str());
    if (rc == 0 && redirect != nullptr) {
      rc = ::posix_spawn_file_actions_adddup2(&actions_, redirect->input, STDIN_FILENO);
      if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions_, redirect->output, STDOUT_FILENO);
      if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions_, redirect->output, STDERR_FILENO);
    } else if (rc == 0 && !options.shown) {
      rc = ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
      if (rc == 0) {
        rc = ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
      }
      if (rc == 0) {
        rc = ::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
      }
    }
    // Nothing beyond standard input, output and error is inherited: a descriptor some other
    // part of the program left without close-on-exec (a socket, a lock file, another start's
    // pipe) must not stay open in a program that may outlive us.
    if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    return rc;
  }

  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
  bool attr_ok_ = false;
  bool actions_ok_ = false;
};

pid_t Spawn(const std::vector<std::string>& words, const StartOptions& options,
            const Redirect* redirect, int* error) {
  *error = 0;
  if (words.empty() || words[0].empty()) {
    *error = ENOENT;
    return -1;
  }
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  SpawnSetup setup;
  const std::string dir = options.dir.empty() ? std::string() : ResolvePath(options.dir);
  int rc = setup.Prepare(options, redirect, dir);
  pid_t pid = -1;
  // posix_spawnp reports a program that cannot be found or run (and a folder that cannot be
  // entered) as its result, and reaps the child that failed.
  if (rc == 0) rc = ::posix_spawnp(&pid, argv[0], setup.actions(), setup.attr(), argv.data(), environ);
  if (rc != 0) {
    *error = rc;
    return -1;
  }
  return pid;
}

// Blocks until the child `pid` has ended and reaps it.
void WaitForExit(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// The completion event of one Wait: signalled once by the worker, waited for by the caller. Held
// by both through a shared pointer, so that it lives until the later of the two is done with it.
class CompletionEvent {
 public:
  void Signal() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    done_.notify_all();
  }
  // Waits until signalled or `limit` has passed (nullopt: no limit).
  void WaitFor(std::optional<std::chrono::milliseconds> limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (limit) {
      done_.wait_for(lock, *limit, [this] { return signalled_; });
    } else {
      done_.wait(lock, [this] { return signalled_; });
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool signalled_ = false;
};

// The record Wait hands to its worker; the worker owns it from then on.
struct CommandJob {
  std::string command_line;
  int show;
  std::string dir;
  std::shared_ptr<CompletionEvent> done;
};

void RunJob(std::unique_ptr<CommandJob> job) {
  std::vector<std::string> words;
  pid_t pid = -1;
  if (SplitCommandLine(job->command_line, &words)) {
    int error = 0;
    pid = Spawn(words, StartOptions{job->show != 0, job->dir}, nullptr, &error);
  }
  if (pid > 0) WaitForExit(pid);
  // Also when nothing was started, so that the caller goes on at once.
  job->done->Signal();
}

}  // namespace

pid_t SpawnProgram(const std::vector<std::string>& words, const StartOptions& options,
                   int* error) {
  return Spawn(words, options, nullptr, error);
}

bool StartProgram(const std::vector<std::string>& words, const StartOptions& options) {
  int error = 0;
  const pid_t pid = Spawn(words, options, nullptr, &error);
  if (pid < 0) return false;
  try {
    std::thread([pid] { WaitForExit(pid); }).detach();
  } catch (const std::system_error&) {
    // No thread to reap it: the program runs all the same and stays a zombie from its end until
    // ours. Not a failure of the start.
  }
  return true;
}

bool StartCommandLine(const std::string& command_line, const StartOptions& options) {
  std::vector<std::string> words;
  if (!SplitCommandLine(command_line, &words)) return false;
  return StartProgram(words, options);
}

int WaitForCommandLine(const std::string& command_line, int show, uint32_t timeout_seconds,
                       const std::string& dir) {
  std::shared_ptr<CompletionEvent> done;
  try {
    done = std::make_shared<CompletionEvent>();
    auto job = std::make_unique<CommandJob>(CommandJob{command_line, show, dir, done});
    std::thread(RunJob, std::move(job)).detach();
  } catch (const std::bad_alloc&) {
    return 0;
  } catch (const std::system_error&) {
    return 0;
  }
  done->WaitFor(WaitTimeLimit(timeout_seconds));
  return 1;
}

int CaptureCommandLineOutput(const std::string& command_line, const std::string& output_path,
                             CaptureReport* report) {
  CaptureReport outcome;
  int output[2] = {-1, -1};
  int input[2] = {-1, -1};
  pid_t pid = -1;
  std::vector<std::string> words;
  if (::pipe2(output, O_CLOEXEC) == 0 && ::pipe2(input, O_CLOEXEC) == 0 &&
      SplitCommandLine(command_line, &words)) {
    const Redirect redirect{input[0], output[1]};
    int error = 0;
    pid = Spawn(words, StartOptions{false, std::string()}, &redirect, &error);
  }
  outcome.started = pid > 0;
  // Only the program holds the pipes' other ends now: the output pipe reads as ended once the
  // program (and whatever it started) has closed it. The input pipe is at its end at once, so a
  // program that reads its input finds none rather than waiting for some that never comes.
  CloseFd(&output[1]);
  CloseFd(&input[0]);
  CloseFd(&input[1]);

  int file = ::open(ResolvePath(output_path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                    0666);
  bool written = file >= 0;
  if (output[0] >= 0) {
    char block[4096];
    for (;;) {
      const ssize_t n = ::read(output[0], block, sizeof block);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      outcome.bytes_read += static_cast<uint64_t>(n);
      if (written && !WriteAll(file, std::string_view(block, static_cast<size_t>(n)))) {
        written = false;
      }
    }
  }
  if (file >= 0 && ::close(file) != 0) written = false;
  outcome.output_complete = written;
  if (pid > 0) WaitForExit(pid);
  CloseFd(&output[0]);
  if (report != nullptr) *report = outcome;
  return 1;
}

}  // namespace tomeva::platform
