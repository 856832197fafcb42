// Shared plumbing of tomeva-tool: the command registry, argument parsing, and JSON output.
// Texts inside the system are GBK; the terminal is UTF-8. A text the user passes on the command
// line is taken as UTF-8 and converted; a text that must arrive byte for byte comes from a file of
// raw GBK bytes instead. JSON output holds UTF-8 strings.
#ifndef TOMEVA_TOOLS_TOMEVA_TOOL_TOOL_IO_H_
#define TOMEVA_TOOLS_TOMEVA_TOOL_TOOL_IO_H_

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva::tool {

// A subcommand: gets the arguments after its name, returns the process exit code.
using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;
  CommandFn fn;
};

// Every registered subcommand, in registration order.
std::vector<Command>& Registry();

// Registers a subcommand at static-initialisation time (one object per cmd_*.cc file).
struct CommandRegistrar {
  CommandRegistrar(const char* name, const char* usage, CommandFn fn);
};

// Arguments split into positionals, options with a value (--name VALUE) and flags (--name).
struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> options;  // repeated options keep every value
  std::set<std::string> flags;
  std::string error;  // non-empty when an option lacked its value or was unknown

  bool Has(const std::string& name) const { return flags.count(name) || options.count(name); }
  // Last value of an option, or `fallback`.
  std::string Get(const std::string& name, const std::string& fallback = "") const;
};

ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::set<std::string>& value_options,
                     const std::set<std::string>& flag_options);

// Parses a whole decimal integer; false on anything else.
bool ParseInt(const std::string& text, long long* value);

// Reads a file as raw bytes (GBK texts are passed this way). Prints a message and returns false
// when it cannot be read.
bool ReadInputFile(const std::string& path, std::string* bytes);

// A command-line text as GBK: the argument is taken as UTF-8.
std::string ArgToGbk(const std::string& utf8_arg);

// JSON string literal (with quotes) of a GBK text / of a UTF-8 text.
std::string JsonGbk(std::string_view gbk);
std::string JsonUtf8(std::string_view utf8);

// Prints a message on stderr and returns the exit code 2 (usage) or 1 (failure).
int UsageError(const std::string& message);
int Failure(const std::string& message);

}  // namespace tomeva::tool

#endif  // TOMEVA_TOOLS_TOMEVA_TOOL_TOOL_IO_H_
