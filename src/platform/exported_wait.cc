// Compiled into each executable that links tomeva_wait_exports, so that the definitions are
// part of the executable itself, where the dynamic list can export them.
#include "platform/exported_wait.h"

#include "platform/command_runner.h"

int Wait(const std::string& command_line, int show, unsigned int timeout_seconds) {
  return tomeva::platform::WaitForCommandLine(command_line, show, timeout_seconds,
                                              std::string());
}

int WaitResult(const char* command_line, const char* output_path) {
  return tomeva::platform::CaptureCommandLineOutput(command_line ? command_line : "",
                                                    output_path ? output_path : "");
}
