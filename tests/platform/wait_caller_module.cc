// A module as an outside one would be written: it declares the program's two exported functions
// itself, links nothing of the program, and finds them in the executable that loads it.
#include <string>

int Wait(const std::string& command_line, int show, unsigned int timeout_seconds);
int WaitResult(const char* command_line, const char* output_path);

extern "C" __attribute__((visibility("default"))) int CallWait(const char* command_line,
                                                                int show,
                                                                unsigned int timeout_seconds) {
  return Wait(command_line, show, timeout_seconds);
}

extern "C" __attribute__((visibility("default"))) int CallWaitResult(const char* command_line,
                                                                      const char* output_path) {
  return WaitResult(command_line, output_path);
}
