// Uncommitted batches: documents that are stored and committed but that no search finds until
// their batch is published.
//
// A batch is listed, while it waits, in the index's metadata (kPendingBatchesKey): its name and
// the term its documents carry, kBatchTermPrefix and a random tag drawn when the batch is first
// given a document. Every search excludes the documents of the batches listed as of its revision.
// Publishing takes the batch off the list; its documents are not written again (Xapian would read
// every position list of a document to change any term of it), and they keep their batch term,
// which no later batch draws again. A batch document holds its key as every document does
// (KeyTerm); an insert tells the waiting document of a key from the visible one by its batch term.
//
// Indexes written by earlier versions marked a waiting document with kHiddenTerm, named its batch
// by BatchTerm and held its key as PendingKeyTerm; publishing rewrote the document without them.
// Such documents are still excluded from searches and published, discarded and listed by name.
//
// These terms begin with an upper-case ASCII letter that no other term of the index begins with:
// content terms are lower case, digits, marks or non-ASCII; field terms begin with "Z", keys with
// "Q".
#ifndef TOMEVA_KMS_BATCH_H_
#define TOMEVA_KMS_BATCH_H_

#include <xapian.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva::kms {

// The batches waiting for publication: lines "TERM TAB NAME".
inline constexpr char kPendingBatchesKey[] = "tomeva.batches";
// Begins the term of a batch's documents, followed by its tag (16 hexadecimal digits).
inline constexpr char kBatchTermPrefix[] = "S";

// Earlier versions' marks (see above).
inline constexpr char kHiddenTerm[] = "H";
inline constexpr char kBatchPrefix[] = "B";
inline constexpr char kPendingKeyPrefix[] = "K";

// Longest batch name, in bytes, so that its term stays within Xapian's term size.
inline constexpr size_t kMaxBatchNameBytes = 200;
// Most bytes of the list of waiting batches, as stored or as an index server sends it.
inline constexpr size_t kMaxBatchListBytes = 1024 * 1024;

// True for a name a batch may have: not empty, at most kMaxBatchNameBytes, no tab or line break.
bool IsValidBatchName(std::string_view name);

std::string BatchTerm(std::string_view name);
std::string PendingKeyTerm(std::string_view key);

// The list of waiting batches of one revision of an index.
class PendingBatches {
 public:
  // Reads the list from `db`'s metadata. Throws Xapian::DatabaseCorruptError when it is longer
  // than kMaxBatchListBytes or holds a line that is not a term and a valid name.
  static PendingBatches Load(const Xapian::Database& db);
  std::string Serialize() const;

  // The term of the batch `name`, or "" when it is not waiting.
  std::string TermOf(std::string_view name) const;
  // Lists `name` with a tag that `db` holds no term of; returns its term.
  std::string Add(std::string_view name, const Xapian::Database& db);
  void Remove(std::string_view name);

  bool empty() const { return by_name_.empty(); }
  const std::map<std::string, std::string>& by_name() const { return by_name_; }
  // The batch terms, for excluding their documents.
  std::vector<std::string> Terms() const;
  // True when one of the terms in [begin, end) is the term of a waiting batch.
  bool HoldsAny(Xapian::TermIterator begin, const Xapian::TermIterator& end) const;

 private:
  std::map<std::string, std::string> by_name_;  // name → term
  std::map<std::string, std::string> by_term_;  // term → name
};

// `query` restricted to the documents that are in no waiting batch: `hidden` holds the terms of
// the waiting batches (PendingBatches::Terms). Earlier versions' waiting documents are excluded
// too; Xapian drops a NOT whose term has no postings once it finds the list empty, so on an index
// with nothing waiting the exclusion costs next to nothing.
Xapian::Query VisibleOnly(const Xapian::Query& query, const std::vector<std::string>& hidden);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_BATCH_H_
