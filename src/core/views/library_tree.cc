#include "core/views/library_tree.h"

#include <atomic>

#include "base/file_util.h"
#include "base/mbstring.h"
#include "base/texts.h"
#include "core/library/catalogue.h"
#include "core/library/chapter.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

std::atomic<long long> g_leaf_serial{0};

int AddItem(TreeItemList* items, std::string label, long long data, int parent, int image = -1,
            int selected_image = -1) {
  TreeItem item;
  item.label = label.empty() ? Text(kTextNoName) : std::move(label);
  item.data = data;
  item.parent = parent;
  item.image = image;
  item.selected_image = selected_image;
  items->push_back(std::move(item));
  return static_cast<int>(items->size()) - 1;
}

// Sibling nodes are walked in a loop and only nesting recurses, so the depth is that of the
// table of contents, which the XML reader bounds.
void InsertChapterItems(CXmlNode* node, int parent, int k, LibraryTree* tree) {
  for (; node != nullptr; node = node->next_sibling()) {
    const bool has_children = node->first_child() != nullptr;
    const long long serial = has_children ? 0 : NextLeafSerial();
    const long long data = serial * 65536 + k;
    if (EqualsNoCase(node->tag(), "record")) {
      tree->record_map[std::to_string(data)] = node->text();
    }
    int item = AddItem(&tree->items, ChapterNodeLabel(*node), data, parent);
    if (has_children) InsertChapterItems(node->first_child(), item, k, tree);
  }
}

}  // namespace

long long NextLeafSerial() { return ++g_leaf_serial; }

LibraryTree BuildLibraryTree(const Catalogue& catalogue) {
  LibraryTree tree;
  const int root = AddItem(&tree.items, Text(kTextAppTitle), kDataTitleRoot, -1);
  tree.items[root].expanded = true;
  for (int k = 1; k <= catalogue.book_count(); ++k) {
    const std::string folder = catalogue.BookFolder(k);
    if (folder.empty() || !DirectoryExists(folder)) continue;
    // A book without a name has no item to hang its table of contents on: it is left out.
    const std::string name = catalogue.BookName(k);
    if (name.empty()) continue;
    const int book = AddItem(&tree.items, name, k, root);
    CXmlDocument chapter;
    if (CreateChapterXml(folder, &chapter) != 1) continue;
    if (CXmlNode* first = chapter.root().first_child()) {
      InsertChapterItems(first, book, k, &tree);
    }
  }
  AddItem(&tree.items, Text(kTextWelcome), kDataWelcome, -1, kImageInfoItem,
          kImageInfoItemSelected);
  AddItem(&tree.items, Text(kTextProductItem), kDataProduct, -1, kImageInfoItem,
          kImageInfoItemSelected);
  return tree;
}

int FindRecordItem(const LibraryTree& tree, int start, std::string_view file_name) {
  const TreeItemList& items = tree.items;
  if (start < 0 || start >= static_cast<int>(items.size())) return -1;
  // Items are stored in depth-first order, so the item, its subtree and the subtrees of its
  // following siblings are the items from `start` up to the first one that leaves the parent.
  const int parent = items[start].parent;
  for (int i = start; i < static_cast<int>(items.size()); ++i) {
    if (i > start) {
      // Stop once the walk has left the parent's subtree.
      int p = items[i].parent;
      while (p != -1 && p != parent) p = items[p].parent;
      if (p != parent) break;
    }
    auto it = tree.record_map.find(std::to_string(items[i].data));
    if (items[i].data >> 16 != 0 && it != tree.record_map.end() &&
        EqualsNoCase(it->second, file_name)) {
      return i;
    }
  }
  return -1;
}

int BookItemOf(const TreeItemList& items, int item) {
  const int n = static_cast<int>(items.size());
  if (n == 0) return -1;
  int current = item;
  if (current >= 0 && current < n) {
    while (current != -1 && items[current].parent != -1 &&
           items[items[current].parent].parent != -1) {
      current = items[current].parent;
    }
    if (current != -1 && items[current].parent == 0) return current;
  }
  // Nothing below a book is selected: start at the first book.
  for (int i = 0; i < n; ++i) {
    if (items[i].parent == 0) return i;
  }
  return -1;
}

int PreviousSiblingCount(const TreeItemList& items, int item) {
  int count = 0;
  for (int i = 0; i < item; ++i) {
    if (items[i].parent == items[item].parent) ++count;
  }
  return count;
}

NodePath ChapterPathOf(const TreeItemList& items, int item) {
  NodePath path;
  int current = item;
  while (current >= 0 && items[current].parent > 0) {
    path.insert(path.begin(), PreviousSiblingCount(items, current));
    current = items[current].parent;
  }
  return path;
}

std::string NodePageOf(const Catalogue& catalogue, const TreeItemList& items, int item) {
  if (item < 0 || item >= static_cast<int>(items.size())) {
    return JoinPath(catalogue.library_dir(), "home.htm");
  }
  const int k = static_cast<int>(items[item].data & 0xFFFF);
  return catalogue.GetNodePage(k, ChapterPathOf(items, item));
}

std::string NodePdfOf(const Catalogue& catalogue, const TreeItemList& items, int item) {
  if (item <= 0 || item >= static_cast<int>(items.size()) || items[item].parent == -1) {
    return std::string();
  }
  const int k = static_cast<int>(items[item].data & 0xFFFF);
  return catalogue.GetNodePdf(k, ChapterPathOf(items, item));
}

}  // namespace tomeva
