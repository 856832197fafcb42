// The process table (environment.h's ProcDir()) and ending the processes of an older
// installation.
#ifndef TOMEVA_PLATFORM_PROCESSES_H_
#define TOMEVA_PLATFORM_PROCESSES_H_

#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace tomeva::platform {

struct ProcessEntry {
  pid_t pid;
  // The owner of the process's entry in the process table (its user); -1 when it cannot be read.
  uid_t uid;
  // Where its program file is (the target of the exe link, without " (deleted)"); empty when it
  // cannot be read (another user's process, a kernel thread).
  std::string exe_path;
  // Executable file names the process goes by: the name of its program file, and the last part
  // of its first argument (which may be a Windows-style path with "\"). Either may be empty.
  std::string exe_name;
  std::string arg0_name;
};

// Every process visible in the process table; empty when it cannot be read.
std::vector<ProcessEntry> ListProcesses();

// Ends (SIGKILL) every process other than this one that
//   - belongs to this user (its process-table entry is owned by getuid()),
//   - runs a program file that lies inside `folder` (both compared after realpath, so that a
//     link on either side does not matter and "/a/old-2" is not inside "/a/old"), and
//   - goes by the executable file name `name` exactly (bytes, case-sensitive),
// then waits 100 ms so that the files they held are released. Nothing is ended when `name` is
// empty or `folder` does not resolve to a folder. A process that may not be ended is left
// running. Returns the number of processes signalled.
int KillProcessByName(std::string_view name, const std::string& folder);

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_PROCESSES_H_
