#include "core/doc/search_results.h"

#include <utility>

#include "core/engine/keyword_forms.h"

namespace tomeva {
namespace {

class EngineResults : public SearchResults {
 public:
  EngineResults(const std::vector<std::string>& index_paths, int query_mode)
      : results_(index_paths, 1, query_mode) {}

  void Search(const std::string& query, const std::string& field, const std::string& condition) {
    results_.Search(query, field, condition);
    reading_ = QueryReading(results_.index_paths(), results_.expression(),
                            results_.default_field());
  }
  std::vector<std::string> FormsIn(const std::string& keyword,
                                   const std::string& text) const override {
    return KeywordFormsIn(keyword, text);
  }
  const std::string& reading() const override { return reading_; }
  std::string typed_run() const override { return TypedRunOf(reading_); }
  int GetTotalCount() const override { return results_.GetTotalCount(); }
  SearchHit GetHit(int n) override { return results_.GetHit(n); }
  const std::vector<std::string>& keywords() const override { return results_.keywords(); }
  const SearchFailure& failure() const override { return results_.failure(); }

 private:
  CResultSet results_;
  std::string reading_;
};

}  // namespace

SearchRunner MakeEngineSearchRunner(std::vector<std::string> index_paths) {
  return [paths = std::move(index_paths)](const std::string& query, const std::string& field,
                                          const std::string& condition, QueryMode query_mode) {
    auto results = std::make_unique<EngineResults>(paths, query_mode);
    results->Search(query, field, condition);
    return std::unique_ptr<SearchResults>(std::move(results));
  };
}

}  // namespace tomeva
