// Subcommands `scramble IN OUT` and `unscramble IN OUT`: the catalogue transform on raw bytes, for
// maintainers who edit a library's bookconfig.xml by hand. The output replaces OUT atomically.
#include <string>
#include <vector>

#include "base/file_util.h"
#include "core/xml/text_scrambler.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

int Transform(const std::vector<std::string>& args, const char* name) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 2) return UsageError(std::string("usage: ") + name + " IN OUT");
  std::string bytes;
  if (!ReadInputFile(a.positional[0], &bytes)) return 1;
  // The transform is its own inverse; the two names only say which way the maintainer means.
  if (!ReplaceFileAtomically(a.positional[1], ScrambleCatalogueText(bytes))) {
    return Failure("cannot write " + a.positional[1]);
  }
  return 0;
}

int RunScramble(const std::vector<std::string>& args) { return Transform(args, "scramble"); }
int RunUnscramble(const std::vector<std::string>& args) { return Transform(args, "unscramble"); }

CommandRegistrar scramble_reg("scramble", "IN OUT  (scramble a catalogue file)", &RunScramble);
CommandRegistrar unscramble_reg("unscramble", "IN OUT  (unscramble a catalogue file)",
                                &RunUnscramble);

}  // namespace
}  // namespace tomeva::tool
