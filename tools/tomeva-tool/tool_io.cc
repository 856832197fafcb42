#include "tool_io.h"

#include <cstdio>
#include <cerrno>
#include <cstdlib>

#include "base/file_util.h"
#include "base/gbk.h"

namespace tomeva::tool {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

CommandRegistrar::CommandRegistrar(const char* name, const char* usage, CommandFn fn) {
  Registry().push_back({name, usage, fn});
}

std::string ParsedArgs::Get(const std::string& name, const std::string& fallback) const {
  auto it = options.find(name);
  return (it == options.end() || it->second.empty()) ? fallback : it->second.back();
}

ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::set<std::string>& value_options,
                     const std::set<std::string>& flag_options) {
  ParsedArgs parsed;
  bool only_positional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (only_positional || a.size() < 3 || a.compare(0, 2, "--") != 0) {
      if (a == "--") {
        only_positional = true;
        continue;
      }
      parsed.positional.push_back(a);
    } else if (value_options.count(a)) {
      if (i + 1 >= args.size()) {
        parsed.error = "option " + a + " needs a value";
        return parsed;
      }
      parsed.options[a].push_back(args[++i]);
    } else if (flag_options.count(a)) {
      parsed.flags.insert(a);
    } else {
      parsed.error = "unknown option " + a;
      return parsed;
    }
  }
  return parsed;
}

bool ParseInt(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *value = v;
  return true;
}

bool ReadInputFile(const std::string& path, std::string* bytes) {
  if (!ReadWholeFile(path, bytes)) {
    std::fprintf(stderr, "tomeva-tool: cannot read %s\n", path.c_str());
    return false;
  }
  return true;
}

std::string ArgToGbk(const std::string& utf8_arg) { return Utf8ToGbk(utf8_arg); }

std::string JsonUtf8(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string JsonGbk(std::string_view gbk) { return JsonUtf8(GbkToUtf8(gbk)); }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tomeva-tool: %s\n", message.c_str());
  return 2;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "tomeva-tool: %s\n", message.c_str());
  return 1;
}

}  // namespace tomeva::tool
