#include "core/doc/record_cursor.h"

#include <algorithm>

#include "core/engine/result_set.h"

namespace tomeva {

void RecordCursor::SetHitTotal(int total) {
  hit_total_ = std::max(total, 0);
  page_index_ = 0;
  record_index_ = 0;
}

int RecordCursor::reachable() const { return std::min(hit_total_, kReachableHits); }

void RecordCursor::Move(CursorMove move) {
  const int n = reachable();
  if (n == 0) return;
  constexpr int kPage = CResultSet::kPageSize;
  switch (move) {
    case CursorMove::kFirstPage:
      page_index_ = 0;
      record_index_ = 0;
      break;
    case CursorMove::kPreviousPage:
      // Both step back a page independently: from the last, partial page the record lands a
      // page's length before, not on the previous page's first hit.
      page_index_ = std::max(page_index_ - 1, 0);
      record_index_ = std::max(record_index_ - kPage, 0);
      break;
    case CursorMove::kPreviousRecord:
      record_index_ = std::max(record_index_ - 1, 0);
      page_index_ = record_index_ / kPage;
      break;
    case CursorMove::kNextRecord:
      record_index_ = std::min(record_index_ + 1, n - 1);
      page_index_ = record_index_ / kPage;
      break;
    case CursorMove::kNextPage:
      page_index_ = std::min(page_index_ + 1, (n - 1) / kPage);
      record_index_ = std::min(record_index_ + kPage, n - 1);
      break;
    case CursorMove::kLastPage:
      record_index_ = n - 1;
      page_index_ = (n - 1) / kPage;
      break;
  }
}

}  // namespace tomeva
