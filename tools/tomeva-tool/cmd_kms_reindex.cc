// `reindex INDEX`: writes an index again in the engine's current term scheme from what its
// records store, so that an index built by an earlier version finds simplified and traditional
// forms and symbols as a new one does. The index keeps answering as before until the new
// generation is swapped in whole; a failure leaves it as it was and says why.
#include <cstdio>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "engine_kms/kms_engine.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

int RunReindex(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 1) return UsageError("usage: reindex INDEX");
  const std::string& index = a.positional[0];
  KmsEngine engine;
  std::string reason;
  if (!engine.ReindexIndex(index, &reason)) {
    return Failure("cannot reindex " + index + ": " + GbkToUtf8(reason));
  }
  std::printf("{\"reindexed\":%s}\n", JsonUtf8(index).c_str());
  return 0;
}

CommandRegistrar reindex_reg("reindex", "INDEX   write the index again in the current term scheme",
                             &RunReindex);

}  // namespace
}  // namespace tomeva::tool
