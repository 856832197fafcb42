// `kms-search INDEX EXPR [--field F] [--first N] [--count M] [--expr-file F]`: runs a query on an
// index and prints {"count":…,"hits":[{"xml":…,"f15":…},…]}; `kms-keywords QUERY` prints the
// engine's keywords of a query text; `optimize INDEX` compacts an index in place.
#include <cstdio>
#include <string>
#include <vector>

#include "core/base/gbk.h"
#include "kms/kms.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

std::string FieldJson(KmsHit* hit, const char* name) {
  char* value = KMS_Get_Field(hit, name, "gb2312");
  std::string out = value ? JsonGbk(value) : "null";
  KMS_Free_Field(value);
  return out;
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
  KMS_Init();
  KmsSearch* s = KMS_Search(a.positional[0].c_str(), expr.c_str(), "gb2312", field.c_str());
  if (s == nullptr) {
    // Kept apart from a search without hits: a damaged index must not read as "count 0".
    const char* reason = KMS_Last_Error();
    return Failure("cannot search the index " + a.positional[0] + ": " +
                   GbkToUtf8(reason != nullptr && *reason != '\0' ? reason : "no reason given"));
  }
  int total = KMS_HitCount(s);
  std::string out = "{\"count\":" + std::to_string(total) + ",\"hits\":[";
  for (long long i = first; i < total && i < first + count; ++i) {
    KmsHit* hit = KMS_Hit(s, static_cast<int>(i));
    if (hit == nullptr) break;
    if (i > first) out += ",";
    out += "{\"xml\":" + FieldJson(hit, "xml") + ",\"f15\":" + FieldJson(hit, "f15") + "}";
  }
  out += "]}\n";
  KMS_ClearSearch(s);
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
  char* words = KMS_Get_Keywords(query.c_str(), "gb2312");
  std::printf("{\"keywords\":%s}\n", JsonGbk(words ? words : "").c_str());
  KMS_Free_Keywords(words);
  return 0;
}

int RunOptimize(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 1) return UsageError("usage: optimize INDEX");
  const char* index = a.positional[0].c_str();
  KMS_Init();
  // An index that does not open is reported rather than created empty by the optimiser.
  KmsSearch* probe = KMS_Search(index, "", "gb2312", nullptr);
  if (probe == nullptr) {
    return Failure(std::string("no index at ") + index + ": " + GbkToUtf8(KMS_Last_Error()));
  }
  KMS_ClearSearch(probe);
  if (KMS_Open(index, 0) != 0) return Failure(GbkToUtf8(KMS_Last_Error()));
  const bool optimized = KMS_Optimize(index) == 0;
  const std::string reason = GbkToUtf8(KMS_Last_Error());
  if (KMS_Close(index) != 0) return Failure(GbkToUtf8(KMS_Last_Error()));
  return optimized ? 0 : Failure(reason);
}

CommandRegistrar search_reg("kms-search",
                            "INDEX EXPR|--expr-file F [--field F] [--first N] [--count M]",
                            &RunSearch);
CommandRegistrar keywords_reg("kms-keywords", "QUERY|--query-file F", &RunKeywords);
CommandRegistrar optimize_reg("optimize", "INDEX", &RunOptimize);

}  // namespace
}  // namespace tomeva::tool
