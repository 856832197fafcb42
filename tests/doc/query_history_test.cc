#include "core/doc/query_history.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/gbk.h"
#include "core/doc/command_ids.h"

namespace tomeva {
namespace {

QueryHistoryEntry Entry(const std::string& query, QueryMode mode = kQueryAuto) {
  QueryHistoryEntry entry;
  entry.query = query;
  entry.query_mode = mode;
  return entry;
}

std::vector<std::string> Queries(const QueryHistory& history) {
  std::vector<std::string> queries;
  for (const QueryHistoryEntry& e : history.entries()) queries.push_back(e.query);
  return queries;
}

TEST(FieldNameForLabel, FieldLabelsMapToIndexFields) {
  const struct {
    const char* label;
    const char* field;
  } cases[] = {{"标题", "title"},   {"作者", "author"}, {"内容摘要", "KeyWords"},
               {"内容", "content"}, {"", "content"},    {"title", "content"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FieldNameForLabel(Utf8ToGbk(c.label)), c.field) << c.label;
  }
}

TEST(QueryHistory, SameQueryIgnoresOnlyTheMode) {
  QueryHistoryEntry base = Entry("q");
  base.book_flag = true;
  base.book_checks[3] = true;
  const struct {
    const char* what;
    void (*change)(QueryHistoryEntry*);
    bool same;
  } cases[] = {
      {"mode", [](QueryHistoryEntry* e) { e->query_mode = kQueryExact; }, true},
      {"query", [](QueryHistoryEntry* e) { e->query = "r"; }, false},
      {"field flag", [](QueryHistoryEntry* e) { e->field_flag = true; }, false},
      {"field label", [](QueryHistoryEntry* e) { e->field_label = "x"; }, false},
      {"book flag", [](QueryHistoryEntry* e) { e->book_flag = false; }, false},
      {"first check", [](QueryHistoryEntry* e) { e->book_checks[0] = true; }, false},
      {"last check", [](QueryHistoryEntry* e) { e->book_checks[kBookPlaces - 1] = true; }, false},
  };
  for (const auto& c : cases) {
    QueryHistoryEntry other = base;
    c.change(&other);
    EXPECT_EQ(base.SameQueryAs(other), c.same) << c.what;
    EXPECT_EQ(other.SameQueryAs(base), c.same) << c.what;
  }
}

TEST(QueryHistory, RecordMovesARepeatedQueryToTheEndAndKeepsTheNewest25) {
  const struct {
    std::vector<std::string> recorded;
    std::vector<std::string> kept;  // oldest first
  } cases[] = {
      {{"a", "b", "c"}, {"a", "b", "c"}},
      {{"a", "b", "a"}, {"b", "a"}},
      {{"a", "a", "a"}, {"a"}},
      {{"a", "b", "c", "b"}, {"a", "c", "b"}},
  };
  for (const auto& c : cases) {
    QueryHistory history;
    for (const std::string& q : c.recorded) history.Record(Entry(q));
    EXPECT_EQ(Queries(history), c.kept);
  }

  QueryHistory history;
  for (int i = 0; i < 30; ++i) history.Record(Entry("q" + std::to_string(i)));
  ASSERT_EQ(history.size(), QueryHistory::kMaxEntries);
  EXPECT_EQ(history.entries().front().query, "q5");
  EXPECT_EQ(history.entries().back().query, "q29");
  // A repeat of a kept query while full drops nothing else.
  history.Record(Entry("q10", kQueryNatural));
  EXPECT_EQ(history.size(), QueryHistory::kMaxEntries);
  EXPECT_EQ(history.entries().front().query, "q5");
  EXPECT_EQ(history.entries().back().query, "q10");
  EXPECT_EQ(history.entries().back().query_mode, kQueryNatural);
}

TEST(QueryHistory, MenuListsTheNewestFirstAndMarksRestrictedQueries) {
  QueryHistory history;
  EXPECT_TRUE(history.MenuItems().empty());
  QueryHistoryEntry fielded = Entry("titled");
  fielded.field_flag = true;
  fielded.field_label = "label";
  QueryHistoryEntry booked = Entry("booked");
  booked.book_flag = true;
  history.Record(Entry("plain"));
  history.Record(fielded);
  history.Record(booked);
  const std::vector<std::pair<int, std::string>> want = {
      {kCmdHistoryFirst, "booked(*)"},
      {kCmdHistoryFirst + 1, "titled(*)"},
      {kCmdHistoryFirst + 2, "plain"},
  };
  EXPECT_EQ(history.MenuItems(), want);
}

TEST(QueryHistory, EachMenuItemLeadsToItsEntry) {
  QueryHistory history;
  for (const char* q : {"old", "mid", "new"}) history.Record(Entry(q));
  const struct {
    int id;
    const char* query;  // nullptr = no entry
  } cases[] = {
      {kCmdHistoryFirst, "new"},      {kCmdHistoryFirst + 1, "mid"},
      {kCmdHistoryFirst + 2, "old"},  {kCmdHistoryFirst + 3, nullptr},
      {kCmdHistoryLast, nullptr},     {kCmdHistoryFirst - 1, nullptr},
      {kCmdHistoryLast + 1, nullptr}, {0, nullptr},
  };
  for (const auto& c : cases) {
    const QueryHistoryEntry* entry = history.EntryForCommand(c.id);
    if (c.query == nullptr) {
      EXPECT_EQ(entry, nullptr) << c.id;
    } else {
      ASSERT_NE(entry, nullptr) << c.id;
      EXPECT_EQ(entry->query, c.query) << c.id;
    }
  }
  // Every item the menu offers leads to the entry it names.
  for (const auto& [id, text] : history.MenuItems()) {
    ASSERT_NE(history.EntryForCommand(id), nullptr) << id;
    EXPECT_EQ(history.EntryForCommand(id)->query, text) << id;
  }
}

}  // namespace
}  // namespace tomeva
