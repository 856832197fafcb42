// The left-hand tree in search mode: one page of hits under a header that names the query and
// the number of hits. The document owns a ResultTree (it carries the hit marker, the page the
// tree shows now, and the items shown) and asks it what to show on every update.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_VIEWS_RESULT_TREE_H_
#define TOMEVA_CORE_VIEWS_RESULT_TREE_H_

#include <functional>
#include <string>

#include "core/engine/result_set.h"
#include "core/views/tree_items.h"

namespace tomeva {

// What the result tree reads from the document.
struct ResultTreeSource {
  // The query box's text (GBK); only its first 100 bytes appear in the header, cut at a
  // character boundary.
  std::string query_text;
  // The current result's total hit count; 0 (or less) when there is no current result.
  int total = 0;
  // Hit n of the whole result (record text and category number).
  std::function<SearchHit(int n)> hit;
  // The name of the book that holds a category number; "" when no book does.
  std::function<std::string(int category)> book_name;
  int page_index = 0;
  int record_index = 0;
  // How the engine read the query (GBK lines); shown with the header's whole text when the
  // pointer rests on the header.
  std::string reading;
};

// What the tree widget is to do.
struct ResultTreeUpdate {
  // True: replace every item by `items` (an empty list empties the tree). False: the shown
  // page stays; select the header's child at `select_position` (none when out of range).
  bool rebuild = true;
  TreeItemList items;
  int select_position = -1;
};

class ResultTree {
 public:
  static constexpr size_t kMaxQueryBytes = 100;

  // The next update rebuilds the tree whatever page it shows; the shown items are forgotten.
  void ResetHitMarker() {
    hit_marker_ = -1;
    items_.clear();
  }
  int hit_marker() const { return hit_marker_; }

  // Decides what the tree shows for the document's state: the items of the cursor's page with
  // the current hit selected, or, when that page is shown already, only the new selection. A
  // source without hits empties the tree (unless its page is already the shown one) and leaves
  // the marker as it was.
  ResultTreeUpdate Update(const ResultTreeSource& source);
  // Update applied to the items shown: a rebuild replaces them; otherwise only the selection
  // moves, to the header's child at the update's position. Returns the items to show.
  const TreeItemList& Show(const ResultTreeSource& source);
  // The data word that item `item` of the items shown stands for: its own `data`, except for the
  // book line under a hit (data 0), which stands for that hit. `data` when `item` is not shown.
  long long HitDataOf(int item, long long data) const {
    if (data != 0 || item < 0 || item >= static_cast<int>(items_.size())) return data;
    const int parent = items_[item].parent;
    return parent >= 0 && items_[parent].parent >= 0 ? items_[parent].data : data;
  }
  // True when the items shown have a selected one: the tree selects the cursor's hit itself,
  // without reporting it, so this is what "a hit is selected" means in the tree.
  bool HasSelectedItem() const {
    for (const TreeItem& item : items_) {
      if (item.selected) return true;
    }
    return false;
  }

 private:
  int hit_marker_ = -1;
  TreeItemList items_;
};

// The items of one page of hits: the header (data 0, expanded) and per hit an item labelled
// "%d. " + title ["-" + author] (data = 1-based hit number, expanded, selected when it is the
// current record) with its book's name as a child (data 0) when title and book name are both
// known. Title: `FdName`, else `f0`, else "无题"; author: `AU`, else `FdAuthor`.
TreeItemList BuildResultTree(const ResultTreeSource& source);

// The header text: the query (at most 100 bytes) followed by "(查询得到 N 条结果 )" below ten
// hits, else "(查询得到 N 条结果，显示 first 到 last )". GBK.
std::string ResultTreeHeader(const std::string& query_text, int total, int page_index);

}  // namespace tomeva

#endif  // TOMEVA_CORE_VIEWS_RESULT_TREE_H_
