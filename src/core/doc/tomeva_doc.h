// CTomevaDoc: the one document. It holds what the windows share (switches, results, settings, the
// record cursor, query history and page-back stack), handles the commands sent to it by id and
// redraws its views. Views and frame are reached through core/doc/view_interfaces.h, attached
// after construction and detached (null) before they go. User-interface thread only.
#ifndef TOMEVA_CORE_DOC_TOMEVA_DOC_H_
#define TOMEVA_CORE_DOC_TOMEVA_DOC_H_

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/doc/browse_state.h"
#include "core/doc/command_table.h"
#include "core/doc/doc_switches.h"
#include "core/doc/page_stack.h"
#include "core/doc/query_history.h"
#include "core/doc/record_cursor.h"
#include "core/doc/result_places.h"
#include "core/doc/view_interfaces.h"
#include "core/engine/engine.h"
#include "core/library/catalogue.h"
#include "core/pdf/highlight_client.h"
#include "core/platform/platform.h"
#include "core/settings/settings.h"
#include "core/views/page_render.h"
#include "core/views/result_tree.h"

namespace tomeva {

class CTomevaDoc {
 public:
  explicit CTomevaDoc(Settings settings);
  // Runs the exit command (`EndFlash` in the `path` folder, in the current folder when that one
  // is missing) when set and a platform is attached.
  ~CTomevaDoc();
  CTomevaDoc(const CTomevaDoc&) = delete;
  CTomevaDoc& operator=(const CTomevaDoc&) = delete;

  void AttachHtmlView(IHtmlView* view) { html_ = view; }
  void AttachTreeView(ITreeView* view) { tree_ = view; }
  void AttachFrame(IFrameControls* frame) { frame_ = frame; }
  void AttachPlatform(Platform* platform) { platform_ = platform; }
  void AttachHighlighter(PdfHighlighter* highlighter) { highlighter_ = highlighter; }
  // The engine every search runs on and whose folding finds the other forms of the marked words
  // (null: searches find nothing and words are marked as typed). Must outlive the document.
  void AttachEngine(Engine* engine) { engine_ = engine; }
  void set_link_settings(LinkSettings links) { pages_.links = std::move(links); }

  // True when the document owns `id` (even if it then does nothing); false for the frame's and
  // the application's commands and unknown ids. The update fills `state` for the ids it owns.
  bool OnCommand(int id);
  bool OnUpdateCommand(int id, CommandState* state) const;
  // Redraws the tree view (in browsing mode from a rebuilt library tree), then the HTML view.
  // `update_tree` false leaves the tree as it is (the tree asked, or going back re-shows a record).
  void UpdateAllViews(bool update_tree = true);
  // What the HTML view shows on an update; in browsing mode the library's start page.
  void RenderPage();
  // First show: remember the browser's text size, apply the document's; destroy: put it back.
  void OnHtmlViewInitialUpdate();
  void OnHtmlViewDestroy();
  // A hooked page button was clicked: "B0".."B3" move the record cursor; any id redraws.
  void OnPageButtonClick(const std::string& element_id);
  // Command 57357 (or the pager's PDF cell, which skips the checks): shows the selected node's or
  // hit's PDF and starts its highlight, or says why it cannot.
  void OnShowPdf(bool from_pager = false);
  // The tree's selection changed to `item` (position in the shown list, -1 = none; `data` its data
  // word). A plain click makes a record shown from a record link give way to the hit's.
  void OnTreeSelectionChanged(int item, long long data);
  void OnTreeClick();
  // The HTML view is about to load `location` (an absolute path for a local file, else the
  // address, GBK); false cancels. A local path outside the installation and library folders
  // (IsLibraryLocation) is refused, and so is every address that is neither a local path nor
  // http(s): those are left to the view, which opens them in the browser window or not at all.
  // Record files (book_*.xml) are shown as records instead; a followed link goes on the page-back
  // stack.
  bool OnBeforeNavigate(const std::string& location);
  // The user followed a link to the PDF at `location` (recorded by OnBeforeNavigate, which let
  // it go): it is shown in the viewer and becomes the document's current PDF, marked with the
  // current search's words in search mode.
  void ShowLinkedPdf(const std::string& location);
  // True when the absolute path `path` lies inside the installation folder or the library folder
  // (IsInsideLibrary of base/path_guard.h: links resolved, a station's top-level links
  // followed, nothing else). The views ask this before any page reaches a local file.
  bool IsLibraryLocation(std::string_view path) const;
  // `address` as the program opens it outside the view (in the browser window): a full-text link
  // of a record page gets the System.xml user name and password (CredentialedAddress of
  // core/views/page_render.h); every other address comes back unchanged.
  std::string OpenedAddress(std::string_view address) const;
  // Book list row `position` chosen: its result, if any, becomes current at its first hit.
  void ShowBookResults(int position);
  // The pager cells and keys: moves the cursor and redraws while the current result has hits.
  bool MoveRecordCursor(CursorMove move);
  // The current result's first keywords in every form `page_text` holds (and the typed run in
  // the first keyword's colour), now and again after the next load.
  void PaintKeywords(const std::string& page_text);

  // What the user must be told once about the library as found (books left out, a catalogue that
  // does not load), GBK, in order; the call empties the list.
  std::vector<std::string> TakeStartNotices() { return std::exchange(start_notices_, {}); }

  const ResultPlaces& results() const { return results_; }
  const RecordCursor& cursor() const { return cursor_; }
  const QueryHistory& history() const { return history_; }
  const PageStack& page_stack() const { return page_stack_; }
  const BrowseState& browse() const { return browse_; }
  const Catalogue& catalogue() const { return catalogue_; }
  const Settings& settings() const { return settings_; }
  const DocSwitches& switches() const { return switches_; }

 private:
  void RunSearch();  // search_commands.cc
  void BackToPreviousQuery();
  void ReplayHistoryEntry(int id);
  void RestoreQueryControls(const QueryHistoryEntry& entry);
  void ToggleAdvancedSearch();
  void ToggleBookSearch();
  // Makes `result` current (null = none) at its first hit, resets the hit marker and redraws.
  void SetCurrentResult(std::shared_ptr<SearchResults> result);
  void RenderSearchPage();
  void ResetHitMarker();  // the next tree update rebuilds the hit list
  void GoHome();          // browse_commands.cc
  void GoBack();
  void RenderBrowsingPage();
  // The words to mark in the PDF `pdf` when it is shown again or from a link.
  std::vector<std::string> PdfWordsFor(const std::string& pdf) const;
  // `pdf` has been navigated to: the view leaves it through a page of its own, and its words are
  // marked again.
  void HighlightShownPdf(const std::string& pdf);
  void SetZoomLevel(int id);  // view_commands.cc
  void ShowHelp();
  void OpenPublisherSite();
  void ShowGeneratedPage(const RecordPage& page);  // tomeva_doc.cc

  Settings settings_;
  IHtmlView* html_ = nullptr;
  ITreeView* tree_ = nullptr;
  IFrameControls* frame_ = nullptr;
  Platform* platform_ = nullptr;           // null: no exit command, help or web site
  PdfHighlighter* highlighter_ = nullptr;  // null: PDFs are shown without their words marked
  Engine* engine_ = nullptr;
  Catalogue catalogue_;
  PageResources pages_;  // what every record page is rendered with
  DocSwitches switches_;
  ResultPlaces results_;
  RecordCursor cursor_;
  QueryHistory history_;
  ResultTree result_tree_;  // the hit list of the tree in search mode
  BrowseState browse_;
  PageStack page_stack_;
  std::vector<std::string> start_notices_;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_TOMEVA_DOC_H_
