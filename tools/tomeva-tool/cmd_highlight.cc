// keywords / highlight: the keyword splitting and marking of result pages and the PDF highlighter,
// on texts given as files of raw GBK bytes.
#include <cstdio>
#include <string>
#include <vector>

#include "core/engine/highlight.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

int KeywordsCommand(const std::vector<std::string>& args) {
  ParsedArgs parsed = ParseArgs(args, {"--file"}, {});
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (!parsed.Has("--file") || !parsed.positional.empty()) {
    return UsageError("usage: keywords --file F");
  }
  std::string text;
  if (!ReadInputFile(parsed.Get("--file"), &text)) return 1;
  const std::vector<std::string> keywords = SplitKeywords(text);
  std::string out = "{\"count\":" + std::to_string(keywords.size()) + ",\"keywords\":[";
  for (size_t i = 0; i < keywords.size(); ++i) out += (i ? "," : "") + JsonGbk(keywords[i]);
  std::printf("%s]}\n", out.c_str());
  return 0;
}

int HighlightCommand(const std::vector<std::string>& args) {
  ParsedArgs parsed = ParseArgs(args, {"--file", "--keyword-file"}, {"--snippet", "--skip-tags"});
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (!parsed.Has("--file"))
    return UsageError(
        "usage: highlight --file TEXT [--snippet] "
        "[--skip-tags] [--keyword-file F]... KEYWORD...");
  std::string text;
  if (!ReadInputFile(parsed.Get("--file"), &text)) return 1;
  std::vector<std::string> keywords;
  for (const std::string& arg : parsed.positional) keywords.push_back(ArgToGbk(arg));
  auto files = parsed.options.find("--keyword-file");
  if (files != parsed.options.end()) {
    for (const std::string& path : files->second) {
      std::string keyword;
      if (!ReadInputFile(path, &keyword)) return 1;
      keywords.push_back(keyword);
    }
  }
  const HighlightResult result =
      MarkKeywords(text, keywords, !parsed.Has("--snippet"), parsed.Has("--skip-tags"));
  std::string out = "{\"result\":" + JsonGbk(result.text) + ",\"matches\":[";
  for (size_t i = 0; i < result.matches.size(); ++i) {
    out += (i ? ",{\"start\":" : "{\"start\":") + std::to_string(result.matches[i].first) +
           ",\"length\":" + std::to_string(result.matches[i].second) + "}";
  }
  std::printf("%s]}\n", out.c_str());
  return 0;
}

CommandRegistrar keywords_reg("keywords", "--file F", &KeywordsCommand);
CommandRegistrar highlight_reg("highlight",
                               "--file TEXT [--snippet] [--skip-tags] [--keyword-file F]... "
                               "KEYWORD...",
                               &HighlightCommand);

}  // namespace
}  // namespace tomeva::tool
