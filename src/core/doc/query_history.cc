#include "core/doc/query_history.h"

#include <algorithm>

#include "base/gbk.h"

namespace tomeva {

bool QueryHistoryEntry::SameQueryAs(const QueryHistoryEntry& other) const {
  return query == other.query && field_flag == other.field_flag &&
         field_label == other.field_label && book_flag == other.book_flag &&
         book_checks == other.book_checks;
}

std::string FieldNameForLabel(const std::string& label) {
  static const std::pair<const char*, const char*> kFields[] = {
      {"标题", "title"}, {"作者", "author"}, {"内容摘要", "KeyWords"}};
  for (const auto& [utf8_label, field] : kFields) {
    if (label == Utf8ToGbk(utf8_label)) return field;
  }
  return "content";
}

void QueryHistory::Record(const QueryHistoryEntry& entry) {
  auto same = std::find_if(entries_.begin(), entries_.end(),
                           [&](const QueryHistoryEntry& e) { return e.SameQueryAs(entry); });
  if (same != entries_.end()) entries_.erase(same);
  while (size() >= kMaxEntries) entries_.pop_front();
  entries_.push_back(entry);
}

std::vector<std::pair<int, std::string>> QueryHistory::MenuItems() const {
  std::vector<std::pair<int, std::string>> items;
  int k = 0;
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it, ++k) {
    std::string text = it->query;
    if (it->field_flag || it->book_flag) text += "(*)";
    items.emplace_back(kCmdHistoryFirst + k, std::move(text));
  }
  return items;
}

const QueryHistoryEntry* QueryHistory::EntryForCommand(int command_id) const {
  if (command_id < kCmdHistoryFirst || command_id > kCmdHistoryLast) return nullptr;
  // Item 0 is the newest entry.
  const int p = size() - 1 - (command_id - kCmdHistoryFirst);
  return p >= 0 && p < size() ? &entries_[p] : nullptr;
}

}  // namespace tomeva
