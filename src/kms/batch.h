// Uncommitted batches: documents that are stored and committed but that no search finds until
// their batch is published. A batch document carries two boolean terms, kHiddenTerm and
// BatchTerm(name); every search excludes kHiddenTerm, and publishing removes both terms. A batch
// document's key is held as PendingKeyTerm instead of KeyTerm, so that it replaces the batch
// document of the same key but leaves the visible one until the batch is published.
//
// The terms begin with an upper-case ASCII letter that no other term of the index begins with:
// content terms are lower case, digits, marks or non-ASCII; field terms begin with "Z", keys with
// "Q".
#ifndef TOMEVA_KMS_BATCH_H_
#define TOMEVA_KMS_BATCH_H_

#include <xapian.h>

#include <string>
#include <string_view>

namespace tomeva::kms {

// Held by every document of a batch that is not published yet.
inline constexpr char kHiddenTerm[] = "H";
// Begins the term naming a document's batch, followed by the name's bytes.
inline constexpr char kBatchPrefix[] = "B";
// Begins the key term of a batch document (KeyTerm with this letter instead of "Q").
inline constexpr char kPendingKeyPrefix[] = "K";

// Longest batch name, in bytes, so that its term stays within Xapian's term size.
inline constexpr size_t kMaxBatchNameBytes = 200;

// True for a name a batch may have: not empty, at most kMaxBatchNameBytes, no tab or line break.
bool IsValidBatchName(std::string_view name);

std::string BatchTerm(std::string_view name);
std::string PendingKeyTerm(std::string_view key);
// The key term a pending key term becomes when its batch is published.
std::string PublishedKeyTerm(std::string_view pending_key_term);

// `query` restricted to documents that are not in an unpublished batch. On an index without
// batches the exclusion costs next to nothing: Xapian drops a NOT whose term has no postings
// once it finds the list empty.
Xapian::Query VisibleOnly(const Xapian::Query& query);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_BATCH_H_
