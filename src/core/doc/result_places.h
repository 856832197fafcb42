// The results the document owns between searches. Holding results needs no engine: they come
// from the Engine the document is given (core/engine/engine.h).
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_DOC_RESULT_PLACES_H_
#define TOMEVA_CORE_DOC_RESULT_PLACES_H_

#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "core/engine/engine.h"
#include "core/library/catalogue.h"

namespace tomeva {

// The results the document owns: the current one (what the result pages and the tree show) and
// one place per book list row, filled by a search restricted to books. A result that is current
// and also in a place is shared, so it is released once.
class ResultPlaces {
 public:
  SearchResults* current() const { return current_.get(); }
  // The result in `place`; null when the place is empty or outside 0..kBookPlaces - 1.
  SearchResults* place(int place) const;
  // The book list row chosen last (-1 = none), whether or not its place holds a result.
  int selected_position() const { return selected_position_; }

  void set_current(std::shared_ptr<SearchResults> result) { current_ = std::move(result); }
  // Ignored outside 0..kBookPlaces - 1.
  void set_place(int place, std::shared_ptr<SearchResults> result);
  // Row `position` was chosen: remembers it and returns its place's result (null when none).
  std::shared_ptr<SearchResults> Select(int position);
  // The first of the places 0..books-1 whose result has hits; null when none has.
  std::shared_ptr<SearchResults> FirstWithHits(int books) const;
  // The first of the places 0..books-1 whose search failed; null when none did.
  std::shared_ptr<SearchResults> FirstFailed(int books) const;
  // The hit counts of the places 0..books-1 (at most kBookPlaces of them): 0 for an empty place.
  std::vector<int> Counts(int books) const;
  // Empties every place and the current result.
  void Release();

 private:
  std::shared_ptr<SearchResults> current_;
  std::array<std::shared_ptr<SearchResults>, kBookPlaces> places_;
  int selected_position_ = -1;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_RESULT_PLACES_H_
