// Start-up to the shown main window with a library of 49 books (all the catalogue keeps) against
// an empty library. The sample maker writes both libraries once; then the real program is
// started on each in turn, off screen, with folders of its own for the registry and the runtime
// files, and TOMEVA_REPORT_SHOWN set: the program writes the milliseconds from its process's
// start to the shown window and ends before the version check. Two figures per start: that
// reported time, and the wall-clock time of the whole process (spawn to exit). The first start of
// each library is not counted: the 49-book one imports its two waiting books there, and both warm
// the file cache. Starts alternate between the libraries, so that a busy machine weighs on both
// alike; medians are compared. Prints the ratio 49 books / empty; the target is at most 1.5.
// Both figures hold the start-up's fixed pause (kStartupPauseMs), which no library size changes;
// the ratio of what is left without it is printed too, as the part of the start that does grow.
// The reported time counts in the kernel's clock ticks (10 ms on most systems).
//
// TOMEVA_BENCH_ROUNDS sets the counted starts per library (default 7). Exits non-zero, naming
// the cause, when a library cannot be made, a start does not report within kStartTimeout, the
// program fails, or the libraries do not hold the books they should.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/file_util.h"
#include "core/app/startup_sequence.h"
#include "core/library/catalogue.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr auto kMakeTimeout = std::chrono::seconds(300);
constexpr int kBooks = tomeva::kMaxCatalogueBooks;
constexpr double kTarget = 1.5;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "bench_startup: %s\n", message.c_str());
  std::exit(1);
}

int Rounds() {
  const char* n = std::getenv("TOMEVA_BENCH_ROUNDS");
  return n != nullptr && std::atoi(n) > 0 ? std::atoi(n) : 7;
}

// The process's environment without any TOMEVA_ setting (a switch of the caller's must not change
// what is measured), with `extra` ("NAME=value") added.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name.starts_with("TOMEVA_")) continue;
    bool replaced = false;
    for (const std::string& x : extra) replaced |= x.substr(0, x.find('=')) == name;
    if (!replaced) env.push_back(std::move(entry));
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

struct Finished {
  bool in_time = false;
  int status = 0;  // waitpid's status
  double wall_ms = 0;
};

// Runs `argv` in `cwd` with `env`, its output into `log`, in a process group of its own; a
// program not ended within `timeout` is killed with its whole group.
Finished Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& cwd, const std::string& log, Clock::duration timeout) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0 || posix_spawnattr_init(&attr) != 0 ||
      posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str()) != 0 ||
      posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0644) != 0 ||
      posix_spawn_file_actions_adddup2(&actions, 1, 2) != 0 ||
      posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP) != 0 ||
      posix_spawnattr_setpgroup(&attr, 0) != 0) {
    Die("cannot prepare the start of " + argv[0]);
  }
  Finished done;
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) Die("cannot start " + argv[0] + ": " + std::strerror(spawned));
  for (;;) {
    const pid_t ended = waitpid(pid, &done.status, WNOHANG);
    if (ended == pid) break;
    if (ended < 0) Die("lost the process of " + argv[0]);
    if (Clock::now() - start > timeout) {
      kill(-pid, SIGKILL);
      waitpid(pid, &done.status, 0);
      return done;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  done.wall_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  done.in_time = true;
  // Helpers of the web engine left behind would weigh on the next start.
  kill(-pid, SIGKILL);
  return done;
}

std::string LogTail(const std::string& log) {
  std::string text;
  tomeva::ReadWholeFile(log, &text);
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

// One library: its installation folder and the folders of the platform the program uses.
class Library {
 public:
  Library(const std::string& root, const std::string& name) : dir_(root + "/" + name) {
    for (const char* var : {"REGISTRY", "RUNTIME", "DESKTOP", "PROGRAMS", "SYSTEM"}) {
      std::string folder = dir_ + ".env/" + var;
      if (!tomeva::MakeDirectories(folder)) Die("cannot create " + folder);
      ::chmod(folder.c_str(), 0700);  // a runtime folder is used only when private to the user
      platform_env_.push_back(std::string("TOMEVA_") + var + "_DIR=" + folder);
    }
    log_ = dir_ + ".log";
    report_ = dir_ + ".shown";
  }

  // Writes the library with the maker's `options`, then the viewer's path into its registry, as
  // the installer would.
  void Make(const std::vector<std::string>& options) {
    const std::string log = dir_ + ".make.log";
    std::vector<std::string> argv = {MAKE_SAMPLE_LIBRARY, dir_};
    argv.insert(argv.end(), options.begin(), options.end());
    const std::vector<std::string> env = Environment(platform_env_);
    for (const auto& args : {argv, std::vector<std::string>{MAKE_SAMPLE_LIBRARY,
                                                            "--register-viewer", dir_}}) {
      Finished made = Run(args, env, "/", log, kMakeTimeout);
      if (!made.in_time || !WIFEXITED(made.status) || WEXITSTATUS(made.status) != 0) {
        Die("the sample maker failed on " + dir_ + ":\n" + LogTail(log));
      }
    }
  }

  // Starts the program once; its reported milliseconds to the shown window and the process's.
  std::pair<double, double> Start() {
    // The log keeps this start's output only, for the message when it fails.
    std::remove(report_.c_str());
    std::remove(log_.c_str());
    std::vector<std::string> extra = platform_env_;
    extra.insert(extra.end(), {"QT_QPA_PLATFORM=offscreen", "QTWEBENGINE_DISABLE_SANDBOX=1",
                               "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu",
                               "TOMEVA_REPORT_SHOWN=" + report_});
    Finished run = Run({TOMEVA_PROGRAM}, Environment(extra), dir_, log_, kStartTimeout);
    if (!run.in_time) {
      Die("the program on " + dir_ + " did not end within " +
          std::to_string(std::chrono::seconds(kStartTimeout).count()) + " s:\n" + LogTail(log_));
    }
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
      Die("the program on " + dir_ + " failed (status " + std::to_string(run.status) + "):\n" +
          LogTail(log_));
    }
    std::string text;
    char* end = nullptr;
    if (!tomeva::ReadWholeFile(report_, &text)) {
      Die("the program on " + dir_ + " ended without reporting its shown window:\n" +
          LogTail(log_));
    }
    const double shown = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || shown <= 0) Die("bad report from " + dir_ + ": " + text);
    return {shown, run.wall_ms};
  }

  // Books of its catalogue as the program loads it, and whether books still wait for import.
  int BookCount() const {
    tomeva::Catalogue catalogue;
    if (!catalogue.LoadCatalogue(dir_)) Die("cannot load the catalogue of " + dir_);
    return catalogue.book_count();
  }
  bool HasWaitingBooks() const {
    for (const std::string& name : tomeva::ListDirectory(dir_ + "/Update")) {
      if (name.starts_with("bookconfig")) return true;
    }
    return false;
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_, log_, report_;
  std::vector<std::string> platform_env_;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Samples {
  std::vector<double> shown, wall;
};

void PrintRow(const char* name, const Samples& s) {
  std::printf("%-10s shown: median %7.1f ms (min %7.1f)   process: median %7.1f ms (min %7.1f)\n",
              name, Median(s.shown), *std::min_element(s.shown.begin(), s.shown.end()),
              Median(s.wall), *std::min_element(s.wall.begin(), s.wall.end()));
}

}  // namespace

int main() {
  char pattern[] = "/tmp/tomeva-bench-startup-XXXXXX";
  if (mkdtemp(pattern) == nullptr) Die("cannot create a temporary folder");
  const std::string root = pattern;

  Library full(root, "books"), empty(root, "empty");
  const auto making = Clock::now();
  full.Make({"--books", std::to_string(kBooks)});
  empty.Make({"--empty"});
  std::printf("libraries made in %.1f s\n",
              std::chrono::duration<double>(Clock::now() - making).count());

  full.Start();
  empty.Start();
  if (full.HasWaitingBooks() || full.BookCount() != kBooks) {
    Die(full.dir() + " holds " + std::to_string(full.BookCount()) + " books after its first start, " +
        "not " + std::to_string(kBooks));
  }
  if (empty.BookCount() != 0) Die(empty.dir() + " is not empty");

  const int rounds = Rounds();
  Samples with_books, without;
  for (int i = 0; i < rounds; ++i) {
    // ABBA order: neither library always goes first.
    Library* order[2] = {&full, &empty};
    if (i % 2) std::swap(order[0], order[1]);
    for (Library* library : order) {
      auto [shown, wall] = library->Start();
      Samples& s = library == &full ? with_books : without;
      s.shown.push_back(shown);
      s.wall.push_back(wall);
    }
  }

  std::printf("start-up to the shown main window, %d starts each (off screen)\n", rounds);
  PrintRow("49 books", with_books);
  PrintRow("empty", without);
  const double shown_ratio = Median(with_books.shown) / Median(without.shown);
  const double wall_ratio = Median(with_books.wall) / Median(without.wall);
  std::printf("ratio 49 books / empty: shown %.2fx, process %.2fx (target <= %.1fx: %s)\n",
              shown_ratio, wall_ratio, kTarget,
              std::max(shown_ratio, wall_ratio) <= kTarget ? "met" : "NOT MET");

  const double pause = tomeva::kStartupPauseMs;
  std::printf("without the start's fixed pause of %.0f ms: shown %.2fx, process %.2fx\n", pause,
              (Median(with_books.shown) - pause) / (Median(without.shown) - pause),
              (Median(with_books.wall) - pause) / (Median(without.wall) - pause));

  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
