#include "core/views/result_tree.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "base/mbstring.h"
#include "base/texts.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

// printf with a fixed text of the program's own as the format.
template <typename... Args>
std::string Format(const std::string& format, Args... args) {
  std::vector<char> buffer(format.size() + 64);
  int n = std::snprintf(buffer.data(), buffer.size(), format.c_str(), args...);
  if (n < 0) return std::string();
  return std::string(buffer.data(), std::min<size_t>(static_cast<size_t>(n), buffer.size() - 1));
}

}  // namespace

std::string ResultTreeHeader(const std::string& query_text, int total, int page_index) {
  const int n = std::max(total, 0);
  const int first = CResultSet::kPageSize * page_index;
  const int last = std::min(n, CResultSet::kPageSize * (page_index + 1));
  // A cut in the middle of a double-byte character would leave half a character that the
  // tree would show as garbage, so the cut moves back to the character's start.
  std::string header = query_text.substr(
      0,
      GbkBoundaryAtOrBefore(query_text, std::min(query_text.size(), ResultTree::kMaxQueryBytes)));
  if (n < CResultSet::kPageSize) {
    header += Format(Text(kTextHitsFew), n);
  } else {
    header += Format(Text(kTextHitsOfMany), n, first + 1, last);
  }
  return header;
}

TreeItemList BuildResultTree(const ResultTreeSource& source) {
  TreeItemList items;
  const int n = std::max(source.total, 0);
  if (n == 0) return items;
  const int first = CResultSet::kPageSize * source.page_index;
  const int last = std::min(n, CResultSet::kPageSize * (source.page_index + 1));

  TreeItem header;
  header.label = ResultTreeHeader(source.query_text, n, source.page_index);
  header.data = 0;
  header.image = header.selected_image = -1;
  header.expanded = true;
  // The pane is often narrower than the header: its whole text, and how the query was read, are
  // a pointer's rest away.
  header.tooltip = header.label;
  if (!source.reading.empty()) header.tooltip += "\n" + source.reading;
  items.push_back(header);

  for (int i = first; i < last; ++i) {
    SearchHit hit = source.hit ? source.hit(i) : SearchHit{};
    CXmlDocument record;
    record.ParseText(hit.xml);
    std::string title = record.GetText("FdName");
    if (title.empty()) title = record.GetText("f0");
    // Records written by this library carry the poet as FdAuthor; AU is the older name.
    std::string author = record.GetText("AU");
    if (author.empty()) author = record.GetText("FdAuthor");
    std::string book = source.book_name ? source.book_name(hit.category) : std::string();

    TreeItem item;
    item.label = Format(std::string("%d. "), i + 1);
    if (title.empty()) {
      item.label += Text(kTextUntitled);
    } else {
      item.label += title;
      if (!author.empty()) item.label += "-" + author;
    }
    item.data = i + 1;
    item.parent = 0;
    item.image = item.selected_image = -1;
    item.expanded = true;
    item.selected = i == source.record_index;
    items.push_back(item);

    if (!title.empty() && !book.empty()) {
      TreeItem child;
      child.label = book;
      child.data = 0;
      child.parent = static_cast<int>(items.size()) - 1;
      child.image = child.selected_image = -1;
      items.push_back(child);
    }
  }
  return items;
}

ResultTreeUpdate ResultTree::Update(const ResultTreeSource& source) {
  ResultTreeUpdate update;
  if (hit_marker_ == source.page_index) {
    update.rebuild = false;
    update.select_position = source.record_index - CResultSet::kPageSize * source.page_index;
    return update;
  }
  update.rebuild = true;
  update.items = BuildResultTree(source);
  if (!update.items.empty()) hit_marker_ = source.page_index;
  return update;
}

const TreeItemList& ResultTree::Show(const ResultTreeSource& source) {
  ResultTreeUpdate update = Update(source);
  if (update.rebuild) {
    items_ = std::move(update.items);
    return items_;
  }
  int position = 0;
  for (TreeItem& item : items_) {
    item.selected = item.parent == 0 && position++ == update.select_position;
  }
  return items_;
}

}  // namespace tomeva
