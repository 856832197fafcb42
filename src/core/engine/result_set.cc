#include "core/engine/result_set.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "base/mbstring.h"
#include "base/texts.h"
#include "core/engine/highlight.h"

namespace tomeva {
namespace {

// Strips every leading and trailing double quote.
std::string StripQuotes(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == '"') ++b;
  while (e > b && s[e - 1] == '"') --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace

int ParseCategory(const char* value) {
  if (value == nullptr) return 0;
  long long n = 0;
  for (const char* p = value; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > INT_MAX) return INT_MAX;  // an absurd category must not wrap to a real one
  }
  return static_cast<int>(n);
}

std::unique_ptr<SearchResults> Engine::Search(const std::vector<std::string>& index_paths,
                                              const SearchRequest& request) {
  auto results = std::make_unique<CResultSet>(*this, index_paths, 1, request.mode);
  results->Search(request.query, request.field, request.condition);
  return results;
}

CResultSet::CResultSet(Engine& engine, std::vector<std::string> index_paths, int multi_index,
                       int query_mode)
    : engine_(engine),
      multi_index_(multi_index),
      query_mode_(query_mode),
      index_paths_(std::move(index_paths)) {
  if (index_paths_.size() > static_cast<size_t>(kMaxIndexes)) index_paths_.resize(kMaxIndexes);
}

std::string CResultSet::PrepareQuery(std::string_view query, bool* rewritten) const {
  *rewritten = false;
  switch (query_mode_) {
    case kQueryExact: {
      std::string out;
      for (const std::string& word : Split(query, " ")) {
        if (word.empty()) continue;
        if (!out.empty()) out += " AND ";
        out += '"' + word + '"';
      }
      *rewritten = out != query;
      return out;
    }
    case kQueryAuto:
      if (!query.empty() && query.size() <= 6) {
        *rewritten = true;
        return '"' + std::string(query) + '"';
      }
      return std::string(query);
    default:
      return std::string(query);
  }
}

void CResultSet::ExtractKeywords(std::string* query, bool rewritten) {
  keywords_.clear();
  if (rewritten) {
    for (const std::string& piece : Split(*query, " ")) {
      keywords_.push_back(StripQuotes(Trim(piece)));
    }
    return;
  }
  std::optional<std::vector<std::string>> engine = engine_.QueryWords(*query);
  // The engine refuses a text past its limits: the query is then searched as typed, so that the
  // search itself is refused with the engine's reason instead of running as an empty query.
  if (!engine) return;
  std::string words;
  for (const std::string& word : *engine) words += (words.empty() ? "" : " ") + word;
  // Character-aware, so that the trail byte of a Chinese character never reads as "O" or "r".
  if (MbFind(*query, "OR") == kNpos && MbFind(*query, "or") == kNpos &&
      MbFindChar(*query, '"') == kNpos) {
    *query = ReplaceAll(words, " ", " AND ");
  }
  keywords_ = SplitKeywords(words);
}

bool CResultSet::Search(std::string_view query, std::string_view field,
                        std::string_view condition) {
  current_page_ = -1;
  std::fill(std::begin(hit_counts_), std::end(hit_counts_), 0);
  bool rewritten = false;
  std::string prepared = PrepareQuery(query, &rewritten);
  ExtractKeywords(&prepared, rewritten);
  expression_ = std::string(field) + ":" + prepared;
  if (!condition.empty()) expression_ = std::string(condition) + " AND " + expression_;
  default_field_ = std::string(field);
  searches_.clear();
  failure_ = SearchFailure();
  for (const std::string& index : index_paths_) {
    std::string reason;
    searches_.push_back(engine_.SearchIndex(index, expression_, default_field_, &reason));
    // Kept apart from an empty result, so that a damaged index is never told as "nothing found".
    if (searches_.back() == nullptr && !failure_.failed) Fail(index, std::move(reason));
  }
  reading_.reset();
  FetchPage(0);
  return true;
}

bool CResultSet::FetchPage(int page) {
  current_page_ = page;
  hits_.clear();
  const long long window_begin = static_cast<long long>(page) * page_size_;
  const long long window_end = window_begin + page_size_;
  long long total = 0;
  for (size_t i = 0; i < searches_.size(); ++i) {
    hit_counts_[i] = 0;
    IndexSearch* search = searches_[i].get();
    if (search == nullptr) continue;
    const size_t page_hits = hits_.size();
    const int n = search->HitCount();
    int skipped = 0;
    if (window_begin < total + n && total < window_end) {
      long long j = std::max<long long>(window_begin - total, 0);
      for (; j < n && static_cast<long long>(hits_.size()) + window_begin < window_end; ++j) {
        std::optional<std::string> xml = search->Field(static_cast<int>(j), "xml");
        if (!xml) {
          ++skipped;
          continue;
        }
        std::optional<std::string> category = search->Field(static_cast<int>(j), "f15");
        hits_.push_back({std::move(*xml), ParseCategory(category ? category->c_str() : nullptr)});
      }
    }
    if (std::optional<std::string> reason = search->Lost()) {
      // The index stopped answering since the search ran: it adds nothing, as an index that
      // could not be searched at all, and the reader is told why.
      hits_.resize(page_hits);
      if (!failure_.failed) Fail(index_paths_[i], std::move(*reason));
      continue;
    }
    hit_counts_[i] = n - skipped;
    total += hit_counts_[i];
  }
  return true;
}

void CResultSet::Fail(const std::string& index, std::string reason) {
  failure_ = {true, index, std::move(reason), engine_.IndexServer(index)};
  // A station's index is kept on an index server: the reader is told which one to check.
  if (!failure_.server.empty()) {
    failure_.reason =
        TextWith(kTextIndexServerUnreachable, failure_.server) + " (" + failure_.reason + ")";
  }
}

const QueryReading& CResultSet::reading() const {
  if (!reading_ && !searches_.empty() && searches_.front() != nullptr) {
    // The first index's search read the expression when it ran: no second reading.
    reading_ = searches_.front()->Reading();
  }
  if (!reading_) {
    reading_ = index_paths_.empty()
                   ? QueryReading()
                   : engine_.ReadQuery(index_paths_.front(), expression_, default_field_)
                         .value_or(QueryReading());
  }
  return *reading_;
}

SearchHit CResultSet::GetHit(int n) {
  if (n < 0) return {};
  const int page = n / page_size_;
  if (page != current_page_) FetchPage(page);
  const size_t at = static_cast<size_t>(n - page * page_size_);
  return at < hits_.size() ? hits_[at] : SearchHit{};
}

int CResultSet::GetTotalCount() const {
  long long total = 0;
  for (size_t i = 0; i < index_paths_.size(); ++i) total += hit_counts_[i];
  return static_cast<int>(std::min<long long>(total, INT_MAX));
}

}  // namespace tomeva
