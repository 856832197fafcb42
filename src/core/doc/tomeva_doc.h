// CTomevaDoc: the one document of the program. It holds the state shared by the windows (query
// mode, text size, the search switches, the query history, the record cursor, the settings),
// handles the commands that reach it by id, answers the enabling and check marks of those
// commands, and tells its views to redraw. It never includes a window header: the views and the
// frame are reached through the interfaces of core/doc/view_interfaces.h, attached after
// construction and detached (set to null) before they are destroyed.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_DOC_TOMEVA_DOC_H_
#define TOMEVA_CORE_DOC_TOMEVA_DOC_H_

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/doc/page_stack.h"
#include "core/doc/search_results.h"
#include "core/doc/view_interfaces.h"
#include "core/library/catalogue.h"
#include "core/settings/settings.h"
#include "core/views/library_tree.h"
#include "core/views/page_render.h"
#include "core/views/result_tree.h"

namespace tomeva {

// Enabling and check mark of a command, as its update handler decides them.
struct CommandState {
  bool enabled = true;
  bool checked = false;
};

inline constexpr int kBookPlaces = 50;

// The six moves of the record cursor, in the order of the tree's pager cells 0..5.
enum class CursorMove {
  kFirstPage,
  kPreviousPage,
  kPreviousRecord,
  kNextRecord,
  kNextPage,
  kLastPage
};

// One query of the history.
struct QueryHistoryEntry {
  int query_mode = 2;
  std::string query;        // exactly as typed (GBK)
  bool field_flag = false;  // the advanced-search bar was shown with a non-empty field label
  std::string field_label;  // the label when field_flag, else ""
  bool book_flag = false;   // the search was restricted to checked books
  std::array<bool, kBookPlaces> book_checks{};  // the checks when book_flag, else all false

  // Equal in everything but the query mode: the same query asked again.
  bool SameQueryAs(const QueryHistoryEntry& other) const;
};

class CTomevaDoc {
 public:
  static constexpr int kHistoryMax = 25;
  static constexpr int kPageSize = 10;
  static constexpr int kReachableHits = 200;  // only the first 200 hits of a result are reachable
  // Opened by command 57359; the publisher's home page.
  static constexpr char kPublisherHomePage[] = "https://lumq.example/";

  explicit CTomevaDoc(Settings settings);
  // Runs the configured exit command (`EndFlash` in the `path` folder) when one is set and the
  // desktop services are attached.
  ~CTomevaDoc();
  CTomevaDoc(const CTomevaDoc&) = delete;
  CTomevaDoc& operator=(const CTomevaDoc&) = delete;

  void AttachHtmlView(IHtmlView* view) { html_ = view; }
  void AttachTreeView(ITreeView* view) { tree_ = view; }
  void AttachFrame(IFrameControls* frame) { frame_ = frame; }
  void AttachDesktop(IDesktopServices* desktop) { desktop_ = desktop; }

  // Handles a command. True when the document owns the id (even if the handler then did
  // nothing); false for the commands of the frame and the application (print, exit, about,
  // tool and status bars) and unknown ids.
  bool OnCommand(int id);
  // Fills `state` for the ids the document owns and returns true; false (state untouched)
  // otherwise.
  bool OnUpdateCommand(int id, CommandState* state) const;

  // Tells the tree view and then the HTML view to redraw from the document's state. In browsing
  // mode the library tree is rebuilt first. `update_tree` false leaves the tree as it is (the
  // tree itself asked for the update, or going back re-shows a record of the shown tree).
  void UpdateAllViews(bool update_tree = true);

  // The HTML view was shown for the first time: remember the browser's own text size, then
  // apply the document's level.
  void OnHtmlViewInitialUpdate();
  // The HTML view is being destroyed: leave the browser's text size as it was found.
  void OnHtmlViewDestroy();
  // What the HTML view shows on an update. In browsing mode the library's start page.
  void RenderPage();
  // A click on a hooked page button with the element id `element_id`: "B0".."B3" move the
  // record cursor; any id redraws the views.
  void OnPageButtonClick(const std::string& element_id);

  // Library browsing (browse_commands.cc).
  // The tree's selection changed by mouse, keyboard or a posted selection: `item` is the
  // position in the shown item list (-1 = none) and `data` its data word.
  void OnTreeSelectionChanged(int item, long long data);
  // A plain click in the tree: a record shown from a record link gives way to the hit's own.
  void OnTreeClick();
  // The HTML view is about to load `location` (a file path or URL, GBK) in its main frame.
  // Record files (book_*.xml) are not loaded but shown as records; a followed link is recorded
  // on the page-back stack. False cancels the navigation.
  bool OnBeforeNavigate(const std::string& location);
  const TreeItemList& library_items() const { return library_.items; }
  const std::map<std::string, std::string>& record_map() const { return library_.record_map; }
  const PageStack& page_stack() const { return page_stack_; }
  int selected_item() const { return selected_item_; }
  long long current_node_data() const { return current_node_data_; }
  bool show_home() const { return show_home_; }
  bool product_page() const { return product_page_; }
  const std::string& current_record_text() const { return current_record_text_; }

  // Records a query as the newest history entry: an older entry of the same query is removed
  // first, and the oldest ones are dropped so that at most kHistoryMax remain.
  void RecordQuery(const QueryHistoryEntry& entry);
  // The items of the history drop-down: (command id, text), newest first, at most 25; the text
  // is the query followed by "(*)" when it carried a field or book restriction. GBK.
  std::vector<std::pair<int, std::string>> HistoryMenu() const;

  // Search results. The current result is what the result pages and the tree show (null = none);
  // the per-book places are filled by a search restricted to books. The document owns them all.
  SearchResults* current_result() const { return current_.get(); }
  SearchResults* book_result(int place) const;
  // The user chose row `position` of the book list: its result (when the last book-restricted
  // search made one) becomes current with the cursor on its first hit, and the views redraw.
  void ShowBookResults(int position);
  int selected_book_position() const { return selected_book_position_; }
  // What the tree shows in search mode: the query box's text and the current result's page. The
  // source reads the current result; use it before the next command changes that.
  ResultTreeSource SearchTreeSource();
  // The pager cells 0..5 and the keys of the tree in search mode: moves the cursor and redraws
  // the views, but only while a current result with hits exists. True when it acted.
  bool MoveRecordCursor(CursorMove move);
  // Paints the current result's first 13 keywords into the shown page, each in its colour, and
  // asks the view to paint them again after the next load.
  void PaintKeywords();
  // The engine the searches run on (see core/doc/search_results.h); none = nothing is found.
  void set_search_runner(SearchRunner runner) { search_runner_ = std::move(runner); }
  // The online full-text link settings of System.xml, which the main frame holds.
  void set_link_settings(LinkSettings links) { link_settings_ = std::move(links); }
  // The catalogue the book-restricted search and the hit list's book names come from.
  Catalogue& catalogue() { return catalogue_; }
  const Catalogue& catalogue() const { return catalogue_; }

  // Record cursor (page index, record index within the whole result). `SetHitTotal` is called
  // when a result becomes current; it resets the cursor.
  void SetHitTotal(int total);
  void FirstPage();
  void PreviousPage();
  void PreviousRecord();
  void NextRecord();
  void NextPage();
  void LastPage();

  // The index field a field label searches: "标题" title, "作者" author, "内容摘要" KeyWords,
  // anything else content. GBK in and out.
  static std::string FieldNameForLabel(const std::string& label);
  // The help file opened by command 57670.
  std::string HelpFilePath() const;

  int query_mode() const { return query_mode_; }
  int zoom_level() const { return zoom_level_; }
  int initial_browser_zoom() const { return initial_browser_zoom_; }
  bool advanced_search() const { return advanced_search_; }
  bool book_search() const { return book_search_; }
  bool search_mode() const { return search_mode_; }
  int page_index() const { return page_index_; }
  int record_index() const { return record_index_; }
  const std::deque<QueryHistoryEntry>& history() const { return history_; }
  const std::string& last_query() const { return last_query_; }
  const Settings& settings() const { return settings_; }

 private:
  void RunSearch();
  void BackToPreviousQuery();
  void ReplayHistoryEntry(int id);
  void RestoreQueryControls(const QueryHistoryEntry& entry);
  void ToggleAdvancedSearch();
  void ToggleBookSearch();
  void SetQueryMode(int id);
  void SetZoomLevel(int id);
  void ShowHelp();
  void OpenPublisherSite();
  void HookPageButtons();
  void GoHome();
  void GoBack();
  void RebuildLibraryTree();
  void RenderBrowsingPage();
  void RenderBrowsePage(long long item_data);
  void NavigateRecorded(const std::string& location);
  int ReachableCount() const;
  // Makes `result` current (null = none): cursor on the first hit, hit marker reset, views
  // redrawn.
  void SetCurrentResult(std::shared_ptr<SearchResults> result);
  std::shared_ptr<SearchResults> Search(const std::string& query, const std::string& field,
                                        const std::string& condition);
  void ReleaseResults();
  std::vector<int> BookCounts() const;
  void RenderSearchPage();
  // Search mode: shows the cursor's page of hits in the tree, or only moves the selection when
  // that page is shown already.
  void UpdateResultTree();
  // The next tree update rebuilds the hit list.
  void ResetHitMarker();

  Settings settings_;
  IHtmlView* html_ = nullptr;
  ITreeView* tree_ = nullptr;
  IFrameControls* frame_ = nullptr;
  IDesktopServices* desktop_ = nullptr;

  int query_mode_ = 2;
  int zoom_level_ = 2;
  int initial_browser_zoom_ = 2;
  bool advanced_search_ = false;
  bool book_search_ = true;
  bool search_mode_ = false;
  int hit_total_ = 0;
  int page_index_ = 0;
  int record_index_ = 0;
  std::deque<QueryHistoryEntry> history_;  // oldest first
  std::string last_query_;
  // Library browsing: the tree the view shows in browsing mode, its selected item, the node the
  // pages follow, the page flags and the record a record link asked for.
  LibraryTree library_;
  int selected_item_ = -1;
  long long current_node_data_ = 0;
  bool show_home_ = true;
  bool product_page_ = false;
  std::string current_record_text_;
  PageStack page_stack_;
  Catalogue catalogue_;
  SearchRunner search_runner_;
  ResultPageConfig page_config_;
  FieldLabels field_labels_;
  LinkSettings link_settings_;
  // A result that is current and also in a place is shared, so it is released once.
  std::shared_ptr<SearchResults> current_;
  std::array<std::shared_ptr<SearchResults>, kBookPlaces> book_results_;
  int selected_book_position_ = -1;
  // The hit list the tree shows in search mode, and the page it shows (its hit marker).
  ResultTree result_tree_;
  TreeItemList result_items_;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_TOMEVA_DOC_H_
