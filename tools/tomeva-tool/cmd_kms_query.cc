// `search INDEX QUERY [--mode 0|1|2] [--field F] [--cond C] [--hit N]`: a search as the program
// runs it (query mode, keywords, paging), printing the page that holds hit N.
#include <cstdio>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/engine/result_set.h"
#include "engine_kms/kms_engine.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

int RunSearch(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {"--mode", "--field", "--cond", "--hit", "--query-file"}, {});
  if (!a.error.empty()) return UsageError(a.error);
  std::string query;
  if (a.Has("--query-file")) {
    if (a.positional.size() != 1) return UsageError("usage: search INDEX --query-file F ...");
    if (!ReadInputFile(a.Get("--query-file"), &query)) return 1;
  } else if (a.positional.size() == 2) {
    query = ArgToGbk(a.positional[1]);
  } else {
    return UsageError(
        "usage: search INDEX QUERY [--mode 0|1|2] [--field F] [--cond C] [--hit N]");
  }
  long long mode = 0, hit = 0;
  if (!ParseInt(a.Get("--mode", "0"), &mode) || mode < 0 || mode > 2) {
    return UsageError("--mode must be 0 (exact), 1 (natural) or 2 (automatic)");
  }
  if (!ParseInt(a.Get("--hit", "0"), &hit) || hit < 0 || hit > 1000000000) {
    return UsageError("--hit must be a hit number from 0");
  }
  KmsEngine engine;
  CResultSet results(engine, {a.positional[0]}, 1, static_cast<int>(mode));
  results.Search(query, ArgToGbk(a.Get("--field", "content")), ArgToGbk(a.Get("--cond", "")));
  if (results.failure().failed) {
    // A search that did not run is not one without hits: no "total":0 for it.
    const SearchFailure& failure = results.failure();
    return Failure("cannot search the index " + failure.index_path + ": " +
                   GbkToUtf8(failure.reason.empty() ? "no reason given" : failure.reason));
  }
  const int total = results.GetTotalCount();
  const int page = static_cast<int>(hit / CResultSet::kPageSize);
  if (hit < total && page != results.current_page()) results.FetchPage(page);

  std::string out = "{\"expression\":" + JsonGbk(results.expression()) + ",\"keywords\":[";
  for (size_t i = 0; i < results.keywords().size(); ++i) {
    if (i) out += ',';
    out += JsonGbk(results.keywords()[i]);
  }
  out += "],\"total\":" + std::to_string(total) +
         ",\"page\":" + std::to_string(results.current_page()) + ",\"hits\":[";
  const auto& hits = results.hits();
  for (size_t i = 0; i < hits.size(); ++i) {
    if (i) out += ',';
    out += "{\"number\":" + std::to_string(results.current_page() * CResultSet::kPageSize +
                                           static_cast<int>(i)) +
           ",\"category\":" + std::to_string(hits[i].category) +
           ",\"xml\":" + JsonGbk(hits[i].xml) + "}";
  }
  out += "]}";
  std::puts(out.c_str());
  return 0;
}

CommandRegistrar search_cmd(
    "search", "INDEX QUERY [--mode 0|1|2] [--field F] [--cond C] [--hit N]   a paged search",
    &RunSearch);

}  // namespace
}  // namespace tomeva::tool
