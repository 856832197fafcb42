// One search: the query rewritten by query mode, its highlight keywords, how the engine read it,
// and the hits served a page of 10 at a time. Each index is searched once, when the search runs;
// its ranked hits are then read page by page without searching again. Not shared between threads.
#ifndef TOMEVA_CORE_ENGINE_RESULT_SET_H_
#define TOMEVA_CORE_ENGINE_RESULT_SET_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/engine.h"

namespace tomeva {

class CResultSet : public SearchResults {
 public:
  static constexpr int kPageSize = 10;
  static constexpr int kMaxIndexes = 10;
  static constexpr int kMaxKeywords = 100;
  static constexpr size_t kMaxKeywordBytes = 100;

  // Index paths beyond kMaxIndexes are ignored. `engine` must outlive the result set.
  CResultSet(Engine& engine, std::vector<std::string> index_paths, int multi_index,
             int query_mode);

  // Prepares the query, extracts its keywords, runs it on every index (restricted by `condition`
  // when that is not empty) and fetches page 0. Always true; an index that cannot be searched
  // adds no hits and is recorded in failure().
  bool Search(std::string_view query, std::string_view field, std::string_view condition);

  // Holds page `page` (10 hits) of the searches run. Always true.
  bool FetchPage(int page);

  // Hit n from 0 over all pages; fetches its page when needed. Out of range: an empty hit.
  SearchHit GetHit(int n) override;

  int GetTotalCount() const override;

  // The first index the search could not run on, or that stopped answering before a page was
  // read (failed = false when every index answered). The hits and the total then count only the
  // indexes that answered.
  const SearchFailure& failure() const override { return failure_; }
  // How the first index reads the query, asked of the engine the first time it is wanted (a
  // page fetch does not need it).
  const QueryReading& reading() const override;

  // The query as rewritten for the mode; `rewritten` tells whether it changed.
  std::string PrepareQuery(std::string_view query, bool* rewritten) const;
  // Fills the keyword array; for an engine-split query, `query` becomes the keyword conjunction.
  void ExtractKeywords(std::string* query, bool rewritten);

  const std::vector<std::string>& keywords() const override { return keywords_; }
  const std::string& expression() const { return expression_; }
  const std::string& default_field() const { return default_field_; }
  int current_page() const { return current_page_; }
  int query_mode() const { return query_mode_; }
  void set_query_mode(int mode) { query_mode_ = mode; }
  const std::vector<SearchHit>& hits() const { return hits_; }
  const std::vector<std::string>& index_paths() const { return index_paths_; }

 private:
  // Records the failure of `index` with the engine's `reason`.
  void Fail(const std::string& index, std::string reason);

  Engine& engine_;
  std::vector<std::string> keywords_;
  int multi_index_;
  int query_mode_;
  int page_size_ = kPageSize;
  int hit_counts_[kMaxIndexes] = {};
  int current_page_ = -1;
  std::vector<std::string> index_paths_;
  // One per index path; null where the index could not be searched.
  std::vector<std::unique_ptr<IndexSearch>> searches_;
  std::string expression_;
  std::string default_field_;
  std::vector<SearchHit> hits_;
  SearchFailure failure_;
  mutable std::optional<QueryReading> reading_;
};

// The category number of an "f15" value: its leading decimal digits, 0 when there are none.
int ParseCategory(const char* value);

}  // namespace tomeva

#endif  // TOMEVA_CORE_ENGINE_RESULT_SET_H_
