// Starting other programs: the one place of the program that creates processes. Plain POSIX
// (posix_spawn, pipes, waitpid), no Qt, so that the tool and the exported functions use the same
// code as the platform.
//
// A program is started from a command line (GBK, split into words by core/platform/
// command_line.h) or from its words. The first word names the program: looked up on PATH when it
// holds no "/", otherwise taken as a path from the working directory the program starts in. The
// words are handed to the program as the bytes they are, the bytes that name files on disk.
// Nothing but standard input, output and error is inherited; the environment is ours.
//
//   shown:  standard input, output and error are ours (the terminal we run in, if any).
//   hidden: standard input, output and error on /dev/null, and a session of its own, so the
//           program has no controlling terminal and never reads from or writes to ours.
//
// Every program started is reaped when it ends, by a thread that waits for it (Wait's worker, or
// a reaper thread of its own for a program nobody waits for), so none is left as a zombie.
// Thread-safe: any thread may start programs at any time.
#ifndef TOMEVA_PLATFORM_COMMAND_RUNNER_H_
#define TOMEVA_PLATFORM_COMMAND_RUNNER_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tomeva::platform {

struct StartOptions {
  bool shown = false;
  // The folder the program starts in (GBK, "\" accepted, letter case resolved as for every file
  // access); our own working directory when empty. A folder that does not exist fails the start.
  std::string dir;
};

// Starts the program `words` names, without waiting. Returns its process id, or -1 with the
// reason (an errno value) in `*error` when it could not be started (no words, no such program,
// not executable, no such folder). The caller must reap the process (waitpid).
pid_t SpawnProgram(const std::vector<std::string>& words, const StartOptions& options,
                   int* error);

// Starts the program and leaves it running: a thread of its own reaps it when it ends. False
// when it could not be started.
bool StartProgram(const std::vector<std::string>& words, const StartOptions& options);
// As StartProgram, from a command line; false also when the line has no words or an open quote.
bool StartCommandLine(const std::string& command_line, const StartOptions& options);

// Starts `command_line` in `dir` shown (`show` != 0) or hidden, on a worker thread of its own,
// and blocks the caller until the program has ended or the time-out has passed (WaitTimeLimit:
// kWaitWithoutLimit waits without limit). At the time-out the caller goes on and the program
// keeps running; the worker keeps waiting for it and reaps it. A program that cannot be started
// ends the wait at once. Returns 1 once the wait is over, whichever way; 0 only when the worker
// could not be set up (no memory, no thread).
int WaitForCommandLine(const std::string& command_line, int show, uint32_t timeout_seconds,
                       const std::string& dir);

// What CaptureCommandLineOutput came to, beyond its result of 1.
struct CaptureReport {
  bool started = false;          // the program could be started
  bool output_complete = false;  // the file was created and everything read was written to it
  uint64_t bytes_read = 0;       // read from the program's output, written or not
};

// Starts `command_line` hidden in our working directory with its standard output and standard
// error both on one pipe (so the file keeps the order the program wrote them in) and its standard
// input on an empty pipe that is at its end at once, copies everything read from the pipe into
// `output_path` (GBK; created, or truncated when it exists) in blocks of at most 4096 bytes, and
// waits without limit for the program to end. The file is created even when the program cannot
// be started (it stays empty). When the file cannot be created or a write fails, copying ends
// but the pipe is still read to its end and the rest discarded: a program whose output nobody
// reads would block on the full pipe and never end, and the wait would never end either.
// Returns 1. `report`, when not null, says what happened.
int CaptureCommandLineOutput(const std::string& command_line, const std::string& output_path,
                             CaptureReport* report = nullptr);

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_COMMAND_RUNNER_H_
