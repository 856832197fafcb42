#include "core/doc/record_cursor.h"

#include <vector>

#include <gtest/gtest.h>

namespace tomeva {
namespace {

using M = CursorMove;

TEST(RecordCursor, MovesStayWithinTheReachableHits) {
  const struct {
    int total;
    int start_record;  // reached by kNextRecord steps
    M move;
    int page;
    int record;
  } cases[] = {
      // A last page of five hits: the next page stops at the last hit, the previous page goes
      // back a page's length from there.
      {35, 0, M::kNextPage, 1, 10},
      {35, 10, M::kNextPage, 2, 20},
      {35, 30, M::kNextPage, 3, 34},
      {35, 34, M::kPreviousPage, 2, 24},
      {35, 34, M::kLastPage, 3, 34},
      {35, 10, M::kPreviousRecord, 0, 9},
      {35, 9, M::kNextRecord, 1, 10},
      {35, 0, M::kPreviousRecord, 0, 0},
      {35, 0, M::kPreviousPage, 0, 0},
      {35, 17, M::kFirstPage, 0, 0},
      // Exactly one page: no page past it.
      {10, 3, M::kNextPage, 0, 9},
      {10, 9, M::kNextRecord, 0, 9},
      {10, 0, M::kLastPage, 0, 9},
      {1, 0, M::kLastPage, 0, 0},
      // More hits than can be reached: the 200th is the last.
      {500, 0, M::kLastPage, 19, 199},
      {500, 199, M::kNextRecord, 19, 199},
      {500, 195, M::kNextPage, 19, 199},
      {200, 0, M::kLastPage, 19, 199},
      {201, 0, M::kLastPage, 19, 199},
      // No hits: nothing to move to.
      {0, 0, M::kNextPage, 0, 0},
      {0, 0, M::kNextRecord, 0, 0},
      {0, 0, M::kLastPage, 0, 0},
      {-1, 0, M::kLastPage, 0, 0},
  };
  for (const auto& c : cases) {
    RecordCursor cursor;
    cursor.SetHitTotal(c.total);
    for (int i = 0; i < c.start_record; ++i) cursor.Move(M::kNextRecord);
    ASSERT_EQ(cursor.record_index(), c.start_record) << c.total;
    cursor.Move(c.move);
    EXPECT_EQ(cursor.page_index(), c.page)
        << c.total << " from " << c.start_record << " move " << static_cast<int>(c.move);
    EXPECT_EQ(cursor.record_index(), c.record)
        << c.total << " from " << c.start_record << " move " << static_cast<int>(c.move);
  }
}

TEST(RecordCursor, NewTotalResetsTheCursorAndCountsTheReachableHits) {
  const struct {
    int total;
    int hit_total;
    int reachable;
  } cases[] = {{35, 35, 35}, {500, 500, 200}, {0, 0, 0}, {-3, 0, 0}};
  for (const auto& c : cases) {
    RecordCursor cursor;
    cursor.SetHitTotal(300);
    cursor.Move(M::kLastPage);
    cursor.SetHitTotal(c.total);
    EXPECT_EQ(cursor.hit_total(), c.hit_total) << c.total;
    EXPECT_EQ(cursor.reachable(), c.reachable) << c.total;
    EXPECT_EQ(cursor.page_index(), 0) << c.total;
    EXPECT_EQ(cursor.record_index(), 0) << c.total;
  }
}

TEST(RecordCursor, TreeSelectionMovesTheRecordWithinTheShownPage) {
  RecordCursor cursor;
  cursor.SetHitTotal(35);
  cursor.Move(M::kNextPage);
  cursor.set_record_index(14);
  EXPECT_EQ(cursor.page_index(), 1);
  EXPECT_EQ(cursor.record_index(), 14);
  cursor.Move(M::kNextRecord);
  EXPECT_EQ(cursor.record_index(), 15);
}

}  // namespace
}  // namespace tomeva
