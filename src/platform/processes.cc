#include "platform/processes.h"

#include <dirent.h>
#include <signal.h>
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

std::string ExeName(const std::string& proc_entry) {
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
  return LastPart(target);
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
    processes.push_back({static_cast<pid_t>(pid), ExeName(entry), Arg0Name(entry)});
  }
  ::closedir(dir);
  return processes;
}

int KillProcessByName(std::string_view name) {
  if (name.empty()) return 0;
  const pid_t self = ::getpid();
  int signalled = 0;
  for (const ProcessEntry& p : ListProcesses()) {
    if (p.pid == self) continue;
    if (p.exe_name != name && p.arg0_name != name) continue;
    if (::kill(p.pid, SIGKILL) == 0) ++signalled;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return signalled;
}

}  // namespace tomeva::platform
