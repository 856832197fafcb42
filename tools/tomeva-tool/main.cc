// tomeva-tool: the maintainer's command-line tool over core and the engine.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_io.h"

int main(int argc, char** argv) {
  using tomeva::tool::Registry;
  auto usage = [] {
    std::fprintf(stderr, "usage: tomeva-tool COMMAND [ARGS]\ncommands:\n");
    for (const auto& c : Registry()) std::fprintf(stderr, "  %s %s\n", c.name, c.usage);
  };
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    usage();
    return argc < 2 ? 2 : 0;
  }
  for (const auto& c : Registry()) {
    if (std::strcmp(argv[1], c.name) == 0) {
      std::vector<std::string> args(argv + 2, argv + argc);
      return c.fn(args);
    }
  }
  std::fprintf(stderr, "tomeva-tool: unknown command %s\n", argv[1]);
  usage();
  return 2;
}
