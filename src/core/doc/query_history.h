// The query history: the searches run, oldest first, each with the controls that shaped it, and
// the items of the history drop-down that replay them (command ids kCmdHistoryFirst.. , the
// newest first).
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_DOC_QUERY_HISTORY_H_
#define TOMEVA_CORE_DOC_QUERY_HISTORY_H_

#include <array>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "core/doc/command_ids.h"
#include "core/engine/result_set.h"
#include "core/library/catalogue.h"

namespace tomeva {

// One query of the history.
struct QueryHistoryEntry {
  QueryMode query_mode = kQueryAuto;
  std::string query;        // exactly as typed (GBK)
  bool field_flag = false;  // the advanced-search bar was shown with a non-empty field label
  std::string field_label;  // the label when field_flag, else ""
  bool book_flag = false;   // the search was restricted to checked books
  std::array<bool, kBookPlaces> book_checks{};  // the checks when book_flag, else all false

  // Equal in everything but the query mode: the same query asked again.
  bool SameQueryAs(const QueryHistoryEntry& other) const;
};

// The index field a field label searches: "标题" title, "作者" author, "内容摘要" KeyWords,
// anything else content. GBK in and out.
std::string FieldNameForLabel(const std::string& label);

class QueryHistory {
 public:
  // One drop-down item per entry kept.
  static constexpr int kMaxEntries = kHistoryMenuMax;

  // Records `entry` as the newest: an older entry of the same query is removed first, and the
  // oldest ones are dropped so that at most kMaxEntries remain.
  void Record(const QueryHistoryEntry& entry);
  // The drop-down's items: (command id, text), newest first; the text is the query followed by
  // "(*)" when it carried a field or book restriction. GBK.
  std::vector<std::pair<int, std::string>> MenuItems() const;
  // The entry of drop-down item `command_id`; null when no entry has that item.
  const QueryHistoryEntry* EntryForCommand(int command_id) const;

  const std::deque<QueryHistoryEntry>& entries() const { return entries_; }
  int size() const { return static_cast<int>(entries_.size()); }
  bool empty() const { return entries_.empty(); }

 private:
  std::deque<QueryHistoryEntry> entries_;  // oldest first
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_QUERY_HISTORY_H_
