#include "platform/processes.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/environment.h"

namespace tomeva::platform {
namespace {

std::string LastPart(const std::string& path) {
  size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string ExePath(const std::string& proc_entry) {
  std::string link = proc_entry + "/exe";
  char buffer[4096];
  ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  std::string target(buffer, static_cast<size_t>(n));
  // A program file replaced while running reads as "name (deleted)".
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.size() > kDeleted.size() &&
      target.compare(target.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    target.resize(target.size() - kDeleted.size());
  }
  return target;
}

// `path` made absolute and free of links, "." and ".."; empty when it does not resolve.
std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string resolved(real);
  std::free(real);
  return resolved;
}

// Whether the program file `exe_path` lies inside the resolved folder `real_folder`. The kernel
// gives the program's path already resolved; a file gone since (deleted or replaced) cannot be
// resolved again, and is judged by that path as the kernel gave it.
bool InsideFolder(const std::string& exe_path, const std::string& real_folder) {
  if (exe_path.empty() || real_folder.empty()) return false;
  std::string real = RealPath(exe_path);
  if (real.empty()) real = exe_path;
  const std::string prefix = real_folder == "/" ? real_folder : real_folder + "/";
  return real.size() > prefix.size() && real.compare(0, prefix.size(), prefix) == 0;
}

std::string Arg0Name(const std::string& proc_entry) {
  std::ifstream in(proc_entry + "/cmdline", std::ios::binary);
  std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t nul = cmdline.find('\0');
  if (nul != std::string::npos) cmdline.resize(nul);
  return LastPart(cmdline);
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> processes;
  const std::string proc = ProcDir();
  DIR* dir = ::opendir(proc.c_str());
  if (dir == nullptr) return processes;
  while (dirent* e = ::readdir(dir)) {
    char* end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0' || pid <= 0) continue;
    const std::string entry = proc + "/" + e->d_name;
    struct stat owner;
    const uid_t uid = ::stat(entry.c_str(), &owner) == 0 ? owner.st_uid : static_cast<uid_t>(-1);
    std::string exe_path = ExePath(entry);
    std::string exe_name = LastPart(exe_path);
    processes.push_back(
        {static_cast<pid_t>(pid), uid, std::move(exe_path), std::move(exe_name), Arg0Name(entry)});
  }
  ::closedir(dir);
  return processes;
}

int KillProcessByName(std::string_view name, const std::string& folder) {
  if (name.empty()) return 0;
  struct stat found;
  const std::string real_folder = RealPath(folder);
  if (real_folder.empty() || ::stat(real_folder.c_str(), &found) != 0 || !S_ISDIR(found.st_mode)) {
    return 0;
  }
  const pid_t self = ::getpid();
  const uid_t user = ::getuid();
  int signalled = 0;
  for (const ProcessEntry& p : ListProcesses()) {
    if (p.pid == self) continue;
    // Only the older installation's own programs, run by this user: a program of the same name
    // elsewhere, or another user's, is none of the migration's business (and as root it could
    // otherwise end anyone's).
    if (p.uid != user) continue;
    if (!InsideFolder(p.exe_path, real_folder)) continue;
    if (p.exe_name != name && p.arg0_name != name) continue;
    if (::kill(p.pid, SIGKILL) == 0) ++signalled;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return signalled;
}

}  // namespace tomeva::platform
