#include "kms/batch.h"

#include <cstdio>
#include <random>

#include "base/mbstring.h"
#include "kms/document.h"

namespace tomeva::kms {
namespace {

constexpr size_t kTagDigits = 16;

bool IsBatchTerm(std::string_view term) {
  if (term.size() != 1 + kTagDigits || !StartsWith(term, kBatchTermPrefix)) return false;
  for (char c : term.substr(1)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string RandomBatchTerm() {
  // Tags are drawn, not counted: the parts of a station are written apart, and a search over all
  // of them excludes every part's waiting batches by their terms.
  static thread_local std::mt19937_64 rng{(static_cast<uint64_t>(std::random_device{}()) << 32) ^
                                          std::random_device{}()};
  char buf[kTagDigits + 1];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
  return kBatchTermPrefix + std::string(buf);
}

}  // namespace

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

PendingBatches PendingBatches::Load(const Xapian::Database& db) {
  const std::string text = db.get_metadata(kPendingBatchesKey);
  if (text.size() > kMaxBatchListBytes) {
    throw Xapian::DatabaseCorruptError("the list of batches is longer than " +
                                       std::to_string(kMaxBatchListBytes) + " bytes");
  }
  PendingBatches batches;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
      throw Xapian::DatabaseCorruptError("the list of batches does not end with a line break");
    }
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const size_t tab = line.find('\t');
    const std::string_view term = line.substr(0, tab);
    const std::string_view name =
        tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
    // A line that cannot be read would leave a batch's documents in every search.
    if (!IsBatchTerm(term) || !IsValidBatchName(name) ||
        batches.by_term_.count(std::string(term)) || batches.by_name_.count(std::string(name))) {
      throw Xapian::DatabaseCorruptError("the list of batches holds a line that is not a batch");
    }
    batches.by_name_.emplace(name, term);
    batches.by_term_.emplace(term, name);
  }
  return batches;
}

std::string PendingBatches::Serialize() const {
  std::string text;
  for (const auto& [name, term] : by_name_) text += term + "\t" + name + "\n";
  return text;
}

std::string PendingBatches::TermOf(std::string_view name) const {
  auto it = by_name_.find(std::string(name));
  return it == by_name_.end() ? std::string() : it->second;
}

std::string PendingBatches::Add(std::string_view name, const Xapian::Database& db) {
  std::string existing = TermOf(name);
  if (!existing.empty()) return existing;
  if (Serialize().size() + 2 + kTagDigits + name.size() > kMaxBatchListBytes) {
    throw Xapian::InvalidOperationError("too many batches wait for publication");
  }
  std::string term;
  do {
    term = RandomBatchTerm();
  } while (by_term_.count(term) || db.term_exists(term));
  by_name_.emplace(name, term);
  by_term_.emplace(term, name);
  return term;
}

void PendingBatches::Remove(std::string_view name) {
  auto it = by_name_.find(std::string(name));
  if (it == by_name_.end()) return;
  by_term_.erase(it->second);
  by_name_.erase(it);
}

std::vector<std::string> PendingBatches::Terms() const {
  std::vector<std::string> terms;
  for (const auto& [term, name] : by_term_) terms.push_back(term);
  return terms;
}

bool PendingBatches::HoldsAny(Xapian::TermIterator t, const Xapian::TermIterator& end) const {
  if (by_term_.empty()) return false;
  for (t.skip_to(kBatchTermPrefix); t != end; ++t) {
    const std::string term = *t;
    if (!StartsWith(term, kBatchTermPrefix)) break;
    if (by_term_.count(term)) return true;
  }
  return false;
}

Xapian::Query VisibleOnly(const Xapian::Query& query, const std::vector<std::string>& hidden) {
  std::vector<Xapian::Query> marks{Xapian::Query(kHiddenTerm)};
  for (const std::string& term : hidden) marks.emplace_back(term);
  return Xapian::Query(Xapian::Query::OP_AND_NOT, query,
                       Xapian::Query(Xapian::Query::OP_OR, marks.begin(), marks.end()));
}

}  // namespace tomeva::kms
