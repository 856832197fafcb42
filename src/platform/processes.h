// The process table (environment.h's ProcDir()) and ending processes by executable name.
#ifndef TOMEVA_PLATFORM_PROCESSES_H_
#define TOMEVA_PLATFORM_PROCESSES_H_

#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace tomeva::platform {

struct ProcessEntry {
  pid_t pid;
  // Executable file names the process goes by: the name of its program file, and the last part
  // of its first argument (which may be a Windows-style path with "\"). Either may be empty.
  std::string exe_name;
  std::string arg0_name;
};

// Every process visible in the process table; empty when it cannot be read.
std::vector<ProcessEntry> ListProcesses();

// Ends (SIGKILL) every process other than this one whose executable file name equals `name`
// exactly (bytes, case-sensitive), then waits 100 ms so that the files they held are released.
// A process that may not be ended is left running. Returns the number of processes signalled.
int KillProcessByName(std::string_view name);

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_PROCESSES_H_
