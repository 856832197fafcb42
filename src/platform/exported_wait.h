// The two functions the program's executable exports, under these names and in the global
// namespace, for modules loaded into the process: a module declares them as they are here and
// calls them, and the dynamic loader finds them in the executable (exported_wait.list names
// them, and only them, for the linker). Nothing inside the program calls them; it uses the
// command runner they stand for.
#ifndef TOMEVA_PLATFORM_EXPORTED_WAIT_H_
#define TOMEVA_PLATFORM_EXPORTED_WAIT_H_

#include <string>

// Starts `command_line` (GBK) in the process's current directory, shown (`show` != 0) or hidden,
// and waits until it has ended or `timeout_seconds` have passed (4294967295: no limit); the
// program keeps running after a time-out. 1 once the wait is over, also when the program could
// not be started; 0 when the wait could not be set up. (command_runner.h: WaitForCommandLine.)
int Wait(const std::string& command_line, int show, unsigned int timeout_seconds);

// Runs `command_line` (GBK) hidden in the current directory, storing everything it writes to its
// standard output and standard error, in order, in the file `output_path` (GBK; created or
// truncated), and waits for it without limit. Returns 1. A null argument counts as an empty
// text. (command_runner.h: CaptureCommandLineOutput.)
int WaitResult(const char* command_line, const char* output_path);

#endif  // TOMEVA_PLATFORM_EXPORTED_WAIT_H_
