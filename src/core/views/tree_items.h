// Items of the left-hand tree as a plain list, built by the core and shown
// by whatever tree widget the program uses. The library-mode tree and the
// search-mode result list both produce this shape, so one widget shows both.

#ifndef TOMEVA_CORE_VIEWS_TREE_ITEMS_H_
#define TOMEVA_CORE_VIEWS_TREE_ITEMS_H_

#include <string>
#include <vector>

namespace tomeva {

struct TreeItem {
  std::string label;        // GBK text shown for the item
  long long data = 0;       // the item's data word
  int parent = -1;          // index of the parent item in the list, -1 = root
  int image = 0;            // image index when not selected
  int selected_image = 0;   // image index when selected
  bool expanded = false;    // shown opened
  bool selected = false;    // the selected item (at most one)
  std::string tooltip;      // GBK text shown while the pointer rests on the item; "" = none
};

using TreeItemList = std::vector<TreeItem>;

}  // namespace tomeva

#endif  // TOMEVA_CORE_VIEWS_TREE_ITEMS_H_
