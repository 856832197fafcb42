#include "core/doc/result_places.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tomeva {
namespace {

class CountOnly : public SearchResults {
 public:
  explicit CountOnly(int total) : total_(total) {}
  int GetTotalCount() const override { return total_; }
  SearchHit GetHit(int) override { return {}; }
  const std::vector<std::string>& keywords() const override { return keywords_; }

 private:
  int total_;
  std::vector<std::string> keywords_;
};

TEST(ResultPlaces, CountsAndTheFirstBookWithHitsLookOnlyAtTheBooksAsked) {
  // Places 0..3 hold: nothing, no hits, 7 hits, a negative count; the last place 12 hits.
  ResultPlaces places;
  places.set_place(1, std::make_shared<CountOnly>(0));
  places.set_place(2, std::make_shared<CountOnly>(7));
  places.set_place(3, std::make_shared<CountOnly>(-1));
  places.set_place(kBookPlaces - 1, std::make_shared<CountOnly>(12));
  places.set_place(kBookPlaces, std::make_shared<CountOnly>(99));  // no such place: ignored
  places.set_place(-1, std::make_shared<CountOnly>(99));
  const struct {
    int books;
    std::vector<int> counts;
    int first_total;  // -1 = none with hits
  } cases[] = {
      {0, {}, -1},
      {2, {0, 0}, -1},
      {4, {0, 0, 7, 0}, 7},
      {-5, {}, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(places.Counts(c.books), c.counts) << c.books;
    auto first = places.FirstWithHits(c.books);
    EXPECT_EQ(first != nullptr ? first->GetTotalCount() : -1, c.first_total) << c.books;
  }
  // More books than places: the places stop at kBookPlaces.
  const std::vector<int> all = places.Counts(kBookPlaces + 10);
  ASSERT_EQ(all.size(), static_cast<size_t>(kBookPlaces));
  EXPECT_EQ(all.back(), 12);
}

TEST(ResultPlaces, SelectRemembersTheRowAndReleaseEmptiesEverything) {
  ResultPlaces places;
  auto shared = std::make_shared<CountOnly>(5);
  places.set_place(4, shared);
  places.set_current(shared);
  const struct {
    int position;
    bool found;
  } cases[] = {{4, true}, {5, false}, {-1, false}, {kBookPlaces, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(places.Select(c.position) != nullptr, c.found) << c.position;
    EXPECT_EQ(places.selected_position(), c.position);
    EXPECT_EQ(places.place(c.position) != nullptr, c.found) << c.position;
  }
  places.Release();
  EXPECT_EQ(places.current(), nullptr);
  EXPECT_EQ(places.place(4), nullptr);
  // The result shared by the current one and a place was released by both.
  EXPECT_EQ(shared.use_count(), 1);
}

}  // namespace
}  // namespace tomeva
