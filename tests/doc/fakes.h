// Fake windows for the document's tests: they record what the document asked of them.
#ifndef TOMEVA_TESTS_DOC_FAKES_H_
#define TOMEVA_TESTS_DOC_FAKES_H_

#include <map>
#include <string>
#include <vector>

#include "core/doc/view_interfaces.h"

namespace tomeva::testing {

class FakeHtmlView : public IHtmlView {
 public:
  int ShowHtml(const std::string& text) override {
    shown.push_back(text);
    return 1;
  }
  int SetBodyAttribute(const std::string&, const std::string&) override { return 1; }
  int SetStyleSheet(const std::string&) override { return 1; }
  void HighlightInPage(const std::string& keyword, const std::string& colour, bool) override {
    marks.push_back(keyword + "@" + colour);
  }
  void Navigate(const std::string& location) override {
    navigated.push_back(location);
    render_after_load = false;
  }
  void SetZoom(int level) override {
    zoom_calls.push_back(level);
    browser_zoom = level;
  }
  int QueryZoom() override { return browser_zoom; }
  void HookPageButtons() override { ++hooks; }
  bool pdf_shown() const override { return pdf; }
  void set_pdf_shown(bool shown) override { pdf = shown; }
  void set_render_after_load(bool on) override { render_after_load = on; }
  void ScrollToTop() override { ++scrolls_to_top; }

  std::vector<std::string> shown;
  std::vector<std::string> navigated;
  std::vector<std::string> marks;  // "keyword@colour", in the order painted
  std::vector<int> zoom_calls;
  int browser_zoom = 2;
  int hooks = 0;
  bool pdf = false;
  bool render_after_load = false;
  int scrolls_to_top = 0;
};

class FakeTreeView : public ITreeView {
 public:
  void DeleteAllItems() override { ++deletes; }
  void ResetHitMarker() override {}
  void ShowBookList(bool show) override { book_list_shown = show; }
  bool GetBookCheck(int row) override { return checks[row]; }
  void SetBookCheck(int row, bool checked) override { checks[row] = checked; }
  void SetBookCounts(const std::vector<int>&) override {}
  void OnDocumentUpdate() override { ++updates; }
  void SetItems(const TreeItemList& list) override { items = list; }
  void PostSelectItem(int item) override { posted_selections.push_back(item); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }

  std::map<int, bool> checks;
  TreeItemList items;
  std::vector<int> posted_selections;  // waiting to be delivered by the test
  std::vector<std::string> messages;
  bool book_list_shown = false;
  int deletes = 0;
  int updates = 0;
};

class FakeFrame : public IFrameControls {
 public:
  std::string GetQueryText() override { return query; }
  void SetQueryText(const std::string& text) override { query = text; }
  void SelectAllQueryText() override { ++select_alls; }
  std::string GetFieldText() override { return field; }
  void ShowStatusText(const std::string& text) override { statuses.push_back(text); }
  void SetFieldText(const std::string& text) override { field = text; }
  void ShowAdvancedBar(bool show) override { bar_shown = show; }
  void PostCommand(int id) override { posted.push_back(id); }

  std::string query;
  std::string field;
  bool bar_shown = false;
  int select_alls = 0;
  std::vector<int> posted;
  std::vector<std::string> statuses;  // status bar lines, in order
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_DOC_FAKES_H_
