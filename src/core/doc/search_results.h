// The results of one search as the document uses them, and the engine that produces them. The
// document runs its searches through a SearchRunner attached by the program (the engine's
// CResultSet behind it); without one, every search finds nothing. Keeping the engine behind this
// seam lets the document, and its tests, be built without the engine library.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_DOC_SEARCH_RESULTS_H_
#define TOMEVA_CORE_DOC_SEARCH_RESULTS_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/engine/result_set.h"

namespace tomeva {

class SearchResults {
 public:
  virtual ~SearchResults() = default;
  // Total hits as the engine reports them (a negative count means none).
  virtual int GetTotalCount() const = 0;
  // Hit n (0-based) of the whole result; an empty hit when out of range.
  virtual SearchHit GetHit(int n) = 0;
  // The words to mark in the pages, in the engine's order.
  virtual const std::vector<std::string>& keywords() const = 0;
  // `keyword` and the other forms of it that `text` holds (traditional or simplified, full
  // width), for the page's byte-exact marking. Results of no engine know no other forms.
  virtual std::vector<std::string> FormsIn(const std::string& keyword,
                                           const std::string& text) const {
    return {keyword};
  }
  // How the engine read the query (GBK lines; see the engine's query reading); "" when unknown.
  virtual const std::string& reading() const {
    static const std::string none;
    return none;
  }
  // The words as typed that the engine ranks first where they stand together; "" when none.
  virtual std::string typed_run() const { return std::string(); }
  // Set when an index could not be searched (see CResultSet::failure): the count then says
  // nothing about whether the library holds the words. Results of no engine never fail.
  virtual const SearchFailure& failure() const {
    static const SearchFailure none;
    return none;
  }
};

// Runs one search: the query as typed, the index field, the condition placed in front of the
// query ("" = none) and the query mode. Never null results when the runner is set.
using SearchRunner = std::function<std::unique_ptr<SearchResults>(
    const std::string& query, const std::string& field, const std::string& condition,
    QueryMode query_mode)>;

// The engine's runner: a CResultSet over `index_paths` with the multi-index switch on.
SearchRunner MakeEngineSearchRunner(std::vector<std::string> index_paths);

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_SEARCH_RESULTS_H_
