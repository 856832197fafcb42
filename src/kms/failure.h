// The reasons the engine's C functions give for their failures (KMS_Last_Error): one line of GBK
// that names the index folder as the caller gave it and says what went wrong in words a
// librarian can act on, followed by Xapian's own message where it adds something.
#ifndef TOMEVA_KMS_FAILURE_H_
#define TOMEVA_KMS_FAILURE_H_

#include <string>
#include <string_view>

namespace tomeva::kms {

// What a failing call was doing, for the reasons that do not say it by themselves.
enum class Action {
  kOpen,
  kCommit,
  kOptimize,
  kInsert,
  kSearch,
  kPublish,
  kDiscard,
  kListBatches,
  kReindex,
};

// The reason for the exception being handled; call only inside a catch block. `index_path` is
// shown as given (GBK); `batch`, when not empty, is named too. A lock held by another process,
// a folder that cannot be created, a damaged index and an index that does not open each have
// their own words; anything else is "<index><action>失败：<Xapian's description>".
std::string DescribeCurrentException(std::string_view index_path, Action action,
                                     std::string_view batch = {});

// Reasons without an exception.
std::string NoIndexPathReason();
std::string MissingIndexReason(std::string_view index_path);
std::string NotOpenReason(std::string_view index_path);
// `what_utf8`: which argument, in fixed words.
std::string BadArgumentReason(std::string_view what_utf8);

class QueryRefused;
// Why an expression was not searched: which of its limits it passed (no index named).
std::string QueryRefusedReason(const QueryRefused& refused);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_FAILURE_H_
