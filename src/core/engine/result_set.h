// One search: the query rewritten by query mode, its highlight keywords, and the hits served a
// page of 10 at a time. Pages are fetched by searching the indexes again, so the total is
// recomputed at every fetch. Not shared between threads.
#ifndef TOMEVA_CORE_ENGINE_RESULT_SET_H_
#define TOMEVA_CORE_ENGINE_RESULT_SET_H_

#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

enum QueryMode : int {
  kQueryExact = 0,    // every word quoted, joined by AND
  kQueryNatural = 1,  // as typed; keywords from the engine
  kQueryAuto = 2,     // up to three Chinese characters quoted as a whole
};

// One hit: the record text (root `record`, one element per field) and its category number.
struct SearchHit {
  std::string xml;
  int category = 0;
};

// An index that a search could not run on: missing, unreadable or damaged, or kept on an index
// server that could not be reached. Such a search is not one without hits: it did not happen.
struct SearchFailure {
  bool failed = false;
  std::string index_path;  // the index that could not be opened, as given
  // The engine's reason (GBK, one line; may be empty). For an index kept on an index server:
  // kTextIndexServerUnreachable naming the server, then the engine's reason in brackets.
  std::string reason;
  std::string server;  // "HOST:PORT" of that index server; empty for a local index
};

class CResultSet {
 public:
  static constexpr int kPageSize = 10;
  static constexpr int kMaxIndexes = 10;
  static constexpr int kMaxKeywords = 100;
  static constexpr size_t kMaxKeywordBytes = 100;

  // Index paths beyond kMaxIndexes are ignored.
  CResultSet(std::vector<std::string> index_paths, int multi_index, int query_mode);

  // Prepares the query, extracts its keywords, runs it (restricted by `condition` when that is not
  // empty) and fetches page 0. Always true.
  bool Search(std::string_view query, std::string_view field, std::string_view condition);

  // Searches every index again and holds page `page` (10 hits). Always true; an index that
  // cannot be opened adds no hits and is recorded in failure().
  bool FetchPage(int page);

  // Hit n from 0 over all pages; fetches its page when needed. Out of range: an empty hit.
  SearchHit GetHit(int n);

  int GetTotalCount() const;

  // The first index the last fetch could not search (failed = false when it searched them all).
  // The hits and the total then count only the indexes that answered.
  const SearchFailure& failure() const { return failure_; }

  // The query as rewritten for the mode; `rewritten` tells whether it changed.
  std::string PrepareQuery(std::string_view query, bool* rewritten) const;
  // Fills the keyword array; for an engine-split query, `query` becomes the keyword conjunction.
  void ExtractKeywords(std::string* query, bool rewritten);

  const std::vector<std::string>& keywords() const { return keywords_; }
  const std::string& expression() const { return expression_; }
  const std::string& default_field() const { return default_field_; }
  int current_page() const { return current_page_; }
  int query_mode() const { return query_mode_; }
  void set_query_mode(int mode) { query_mode_ = mode; }
  const std::vector<SearchHit>& hits() const { return hits_; }
  const std::vector<std::string>& index_paths() const { return index_paths_; }

 private:
  std::vector<std::string> keywords_;
  int multi_index_;
  int query_mode_;
  int page_size_ = kPageSize;
  int hit_counts_[kMaxIndexes] = {};
  int current_page_ = -1;
  std::vector<std::string> index_paths_;
  std::string expression_;
  std::string default_field_;
  std::vector<SearchHit> hits_;
  SearchFailure failure_;
};

// The category number of an "f15" value: its leading decimal digits, 0 when there are none.
int ParseCategory(const char* value);

}  // namespace tomeva

#endif  // TOMEVA_CORE_ENGINE_RESULT_SET_H_
