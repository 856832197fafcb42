#include "kms/batch.h"

#include "kms/document.h"

namespace tomeva::kms {

bool IsValidBatchName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxBatchNameBytes &&
         name.find_first_of("\t\r\n") == std::string_view::npos;
}

std::string BatchTerm(std::string_view name) { return kBatchPrefix + std::string(name); }

std::string PendingKeyTerm(std::string_view key) {
  // The same key term with its letter changed keeps the rule for long keys in one place.
  std::string term = KeyTerm(key);
  term.replace(0, 1, kPendingKeyPrefix);
  return term;
}

std::string PublishedKeyTerm(std::string_view pending_key_term) {
  std::string term(pending_key_term);
  term.replace(0, 1, kKeyPrefix);
  return term;
}

Xapian::Query VisibleOnly(const Xapian::Query& query) {
  return Xapian::Query(Xapian::Query::OP_AND_NOT, query, Xapian::Query(kHiddenTerm));
}

}  // namespace tomeva::kms
