// `kms-search INDEX EXPR [--field F] [--first N] [--count M] [--expr-file F]`: runs a query on an
// index and prints {"count":…,"hits":[{"xml":…,"f15":…},…]}; `kms-keywords QUERY` prints the
// engine's keywords of a query text; `optimize INDEX` compacts an index in place.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "engine_kms/kms_engine.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

std::string FieldJson(const std::optional<std::string>& value) {
  return value ? JsonGbk(*value) : "null";
}

int RunSearch(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {"--field", "--first", "--count", "--expr-file"}, {});
  if (!a.error.empty()) return UsageError(a.error);
  bool from_file = a.Has("--expr-file");
  if (a.positional.size() != (from_file ? 1u : 2u)) {
    return UsageError(
        "usage: kms-search INDEX EXPR|--expr-file F [--field F] [--first N] "
        "[--count M]");
  }
  std::string expr;
  if (from_file) {
    if (!ReadInputFile(a.Get("--expr-file"), &expr)) return 1;
  } else {
    expr = ArgToGbk(a.positional[1]);
  }
  long long first = 0, count = 10;
  if (a.Has("--first") && (!ParseInt(a.Get("--first"), &first) || first < 0)) {
    return UsageError("--first needs a number >= 0");
  }
  if (a.Has("--count") && (!ParseInt(a.Get("--count"), &count) || count < 0)) {
    return UsageError("--count needs a number >= 0");
  }
  std::string field = ArgToGbk(a.Get("--field", "content"));
  KmsEngine engine;
  std::string reason;
  std::unique_ptr<IndexSearch> s = engine.SearchIndex(a.positional[0], expr, field, &reason);
  if (s == nullptr) {
    // Kept apart from a search without hits: a damaged index must not read as "count 0".
    return Failure("cannot search the index " + a.positional[0] + ": " +
                   GbkToUtf8(!reason.empty() ? reason : "no reason given"));
  }
  int total = s->HitCount();
  std::string out = "{\"count\":" + std::to_string(total) + ",\"hits\":[";
  for (long long i = first; i < total && i < first + count; ++i) {
    std::optional<std::string> xml = s->Field(static_cast<int>(i), "xml");
    std::optional<std::string> f15 = s->Field(static_cast<int>(i), "f15");
    // Every record stores its text: a hit with neither field could not be read at all.
    if (!xml && !f15) break;
    if (i > first) out += ",";
    out += "{\"xml\":" + FieldJson(xml) + ",\"f15\":" + FieldJson(f15) + "}";
  }
  out += "]}\n";
  std::fputs(out.c_str(), stdout);
  return 0;
}

int RunKeywords(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {"--query-file"}, {});
  if (!a.error.empty()) return UsageError(a.error);
  std::string query;
  if (a.Has("--query-file")) {
    if (!a.positional.empty() || !ReadInputFile(a.Get("--query-file"), &query)) {
      return a.positional.empty() ? 1 : UsageError("usage: kms-keywords QUERY|--query-file F");
    }
  } else if (a.positional.size() == 1) {
    query = ArgToGbk(a.positional[0]);
  } else {
    return UsageError("usage: kms-keywords QUERY|--query-file F");
  }
  std::string words;
  for (const std::string& word : KmsEngine().QueryWords(query).value_or(std::vector<std::string>())) {
    words += (words.empty() ? "" : " ") + word;
  }
  std::printf("{\"keywords\":%s}\n", JsonGbk(words).c_str());
  return 0;
}

int RunOptimize(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 1) return UsageError("usage: optimize INDEX");
  const std::string& index = a.positional[0];
  KmsEngine engine;
  std::string reason;
  // An index that does not open is reported rather than created empty by the optimiser.
  if (engine.SearchIndex(index, "", "content", &reason) == nullptr) {
    return Failure("no index at " + index + ": " + GbkToUtf8(reason));
  }
  if (!engine.OpenIndex(index, 0, &reason)) return Failure(GbkToUtf8(reason));
  const bool optimized = engine.OptimizeIndex(index, &reason);
  std::string close_reason;
  if (!engine.CloseIndex(index, &close_reason)) return Failure(GbkToUtf8(close_reason));
  return optimized ? 0 : Failure(GbkToUtf8(reason));
}

CommandRegistrar search_reg("kms-search",
                            "INDEX EXPR|--expr-file F [--field F] [--first N] [--count M]",
                            &RunSearch);
CommandRegistrar keywords_reg("kms-keywords", "QUERY|--query-file F", &RunKeywords);
CommandRegistrar optimize_reg("optimize", "INDEX", &RunOptimize);

}  // namespace
}  // namespace tomeva::tool
