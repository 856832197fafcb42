// The library-mode tree as a plain item list: the title root, one item per book with its table of
// contents below it, the welcome item and the product item. Item data words: 0 title root,
// -1 welcome, -2 product, k (1-based book number) a book, leaf serial * 65536 + k a chapter node
// (serial 0 for a section, a fresh process-wide serial for every childless node).
//
// Item handles are positions in the list. Building reads the catalogue and each book's
// chapter.xml (generating a missing one); it never changes the working directory.
#ifndef TOMEVA_CORE_VIEWS_LIBRARY_TREE_H_
#define TOMEVA_CORE_VIEWS_LIBRARY_TREE_H_

#include <map>
#include <string>
#include <string_view>

#include "core/library/chapter.h"
#include "core/views/tree_items.h"

namespace tomeva {

class Catalogue;

inline constexpr long long kDataTitleRoot = 0;
inline constexpr long long kDataWelcome = -1;
inline constexpr long long kDataProduct = -2;
// Image numbers of the welcome and product items; every other item has -1.
inline constexpr int kImageInfoItem = 34;
inline constexpr int kImageInfoItemSelected = 35;

struct LibraryTree {
  TreeItemList items;
  // Record map: decimal text of a record leaf's data word -> the record file name.
  std::map<std::string, std::string> record_map;
};

// Builds the whole library tree. A book whose folder is missing (or unusable), or whose entry has
// no name, is left out; a book whose chapter.xml is missing or does not load gets a generated
// one. The title root is expanded.
LibraryTree BuildLibraryTree(const Catalogue& catalogue);

// The next process-wide leaf serial (1, 2, ...). Data words are 64-bit, so a library with more
// than 32767 leaves still gives every leaf its own positive data word.
long long NextLeafSerial();

// Depth-first from `start` (the item, its children, then its following siblings and their
// subtrees) for the item whose record-map value equals `file_name` without regard to ASCII case;
// -1 when none.
int FindRecordItem(const LibraryTree& tree, int start, std::string_view file_name);

// The top-level book item that holds `item` (walking up until the parent is the title root); the
// first book item when `item` is the title root or not below a book; -1 when there is none.
int BookItemOf(const TreeItemList& items, int item);

// Child positions of `item` from below the title root downward: the book's own position among
// the title root's children is left out, so the empty path is the book itself.
NodePath ChapterPathOf(const TreeItemList& items, int item);

// The page of a book or section item: the node page of its book (see Catalogue::GetNodePage).
std::string NodePageOf(const Catalogue& catalogue, const TreeItemList& items, int item);

// The PDF of a tree item (empty for the title root or an item outside the library).
std::string NodePdfOf(const Catalogue& catalogue, const TreeItemList& items, int item);

// Number of items before `item` with the same parent.
int PreviousSiblingCount(const TreeItemList& items, int item);

}  // namespace tomeva

#endif  // TOMEVA_CORE_VIEWS_LIBRARY_TREE_H_
