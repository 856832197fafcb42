// Subcommands `wait CMDLINE SHOW TIMEOUT` and `wait-result CMDLINE OUT`: the program's Wait and
// WaitResult, run from the terminal, for maintainers checking an exit command or an updater's
// command line and for tests. CMDLINE is taken as UTF-8 and handed on as GBK, as the program
// hands on System.xml's; OUT is a path as given. Prints
//   {"result":1,"seconds":3.01}
// with what the call returned and how long it took; wait-result adds whether the program
// started, whether everything it printed was stored, and how many bytes it printed. Exit code 0
// when the call did what it was asked, 1 when Wait could not be set up, the program could not be
// started or its output could not be stored.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/command_runner.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int RunWait(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  long long show = 0;
  long long timeout = 0;
  if (a.positional.size() != 3 || !ParseInt(a.positional[1], &show) ||
      !ParseInt(a.positional[2], &timeout) || timeout < 0 || timeout > 4294967295LL) {
    return UsageError("usage: wait CMDLINE SHOW TIMEOUT  (TIMEOUT 0..4294967295 seconds)");
  }
  const Clock::time_point start = Clock::now();
  const int result = platform::WaitForCommandLine(
      ArgToGbk(a.positional[0]), show != 0 ? 1 : 0, static_cast<uint32_t>(timeout), std::string());
  std::printf("{\"result\":%d,\"seconds\":%.2f}\n", result, SecondsSince(start));
  return result == 1 ? 0 : Failure("the wait could not be set up");
}

int RunWaitResult(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 2) return UsageError("usage: wait-result CMDLINE OUT");
  const Clock::time_point start = Clock::now();
  platform::CaptureReport report;
  const int result =
      platform::CaptureCommandLineOutput(ArgToGbk(a.positional[0]), a.positional[1], &report);
  std::printf(
      "{\"result\":%d,\"seconds\":%.2f,\"started\":%s,\"output_complete\":%s,\"bytes\":%llu}\n",
      result, SecondsSince(start), report.started ? "true" : "false",
      report.output_complete ? "true" : "false",
      static_cast<unsigned long long>(report.bytes_read));
  if (!report.started) return Failure("the program could not be started");
  if (!report.output_complete) return Failure("cannot write " + a.positional[1]);
  return 0;
}

CommandRegistrar wait_reg("wait", "CMDLINE SHOW TIMEOUT  (run a command line, wait at most "
                          "TIMEOUT seconds; 4294967295: no limit)", &RunWait);
CommandRegistrar wait_result_reg("wait-result", "CMDLINE OUT  (run a command line hidden, store "
                                 "its output in OUT)", &RunWaitResult);

}  // namespace
}  // namespace tomeva::tool
