// The record cursor of the current search result: the page of hits the tree shows and the hit
// the page shows, both counted within the whole result (page p holds the CResultSet::kPageSize
// hits from p * CResultSet::kPageSize). Only the first kReachableHits hits can be reached.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_DOC_RECORD_CURSOR_H_
#define TOMEVA_CORE_DOC_RECORD_CURSOR_H_

namespace tomeva {

// The six moves of the record cursor, in the order of the tree's pager cells 0..5.
enum class CursorMove {
  kFirstPage,
  kPreviousPage,
  kPreviousRecord,
  kNextRecord,
  kNextPage,
  kLastPage
};

class RecordCursor {
 public:
  // How many hits of a result can be reached, however many it has.
  static constexpr int kReachableHits = 200;

  // A result became current with `total` hits (a negative total counts as none): the cursor
  // goes to its first hit.
  void SetHitTotal(int total);
  // Moves within the reachable hits, never past the first or the last of them. Without a
  // reachable hit the cursor stays where it is.
  void Move(CursorMove move);
  // The hit the tree selected within the page it shows; the page stays as it is.
  void set_record_index(int record) { record_index_ = record; }

  int hit_total() const { return hit_total_; }
  // min(hit total, kReachableHits).
  int reachable() const;
  int page_index() const { return page_index_; }
  int record_index() const { return record_index_; }

 private:
  int hit_total_ = 0;
  int page_index_ = 0;
  int record_index_ = 0;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_RECORD_CURSOR_H_
