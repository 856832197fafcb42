#include "core/doc/result_places.h"

#include <algorithm>

namespace tomeva {

SearchResults* ResultPlaces::place(int place) const {
  if (place < 0 || place >= kBookPlaces) return nullptr;
  return places_[place].get();
}

void ResultPlaces::set_place(int place, std::shared_ptr<SearchResults> result) {
  if (place >= 0 && place < kBookPlaces) places_[place] = std::move(result);
}

std::shared_ptr<SearchResults> ResultPlaces::Select(int position) {
  selected_position_ = position;
  if (position < 0 || position >= kBookPlaces) return nullptr;
  return places_[position];
}

std::shared_ptr<SearchResults> ResultPlaces::FirstWithHits(int books) const {
  const int n = std::min(books, kBookPlaces);
  for (int i = 0; i < n; ++i) {
    if (places_[i] != nullptr && places_[i]->GetTotalCount() > 0) return places_[i];
  }
  return nullptr;
}

std::shared_ptr<SearchResults> ResultPlaces::FirstFailed(int books) const {
  const int n = std::min(books, kBookPlaces);
  for (int i = 0; i < n; ++i) {
    if (places_[i] != nullptr && places_[i]->failure().failed) return places_[i];
  }
  return nullptr;
}

std::vector<int> ResultPlaces::Counts(int books) const {
  const int n = std::clamp(books, 0, kBookPlaces);
  std::vector<int> counts(n, 0);
  for (int i = 0; i < n; ++i) {
    if (places_[i] != nullptr) counts[i] = std::max(places_[i]->GetTotalCount(), 0);
  }
  return counts;
}

void ResultPlaces::Release() {
  for (auto& place : places_) place.reset();
  current_.reset();
}

}  // namespace tomeva
