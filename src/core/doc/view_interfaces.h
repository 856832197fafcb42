// The document talks to the windows only through these interfaces. The GUI implements them with
// widgets; tests implement them with fakes. Every text crossing them is GBK. All calls are made
// on the user-interface thread.
#ifndef TOMEVA_CORE_DOC_VIEW_INTERFACES_H_
#define TOMEVA_CORE_DOC_VIEW_INTERFACES_H_

#include <string>
#include <vector>

#include "core/views/tree_items.h"

namespace tomeva {

// The right-hand web view.
class IHtmlView {
 public:
  virtual ~IHtmlView() = default;

  // Shows a generated page: remembers it, writes it to "sr.htm" in the user's runtime folder and
  // puts it into the loaded page's body. 1 when a page was there to take it, else 0.
  virtual int ShowHtml(const std::string& text) = 0;
  // Records a body attribute and applies the recorded ones to the shown page. 1 when applied.
  virtual int SetBodyAttribute(const std::string& name, const std::string& value) = 0;
  // Sets the shown page's style sheet text. 1 when applied.
  virtual int SetStyleSheet(const std::string& text) = 0;
  // Marks every occurrence of `keyword` in the shown page with white text on `colour`; with
  // `remember` the mark is also applied once more when the next page load completes. Does
  // nothing while a PDF is shown.
  virtual void HighlightInPage(const std::string& keyword, const std::string& colour,
                               bool remember) = 0;
  // Loads a file path or URL. A path is taken relative to the working directory. A render that
  // waits for the present load (set_render_after_load) is dropped: the page asked for now is
  // what the user wants to see, and the render would replace it.
  virtual void Navigate(const std::string& location) = 0;
  // The browser's text size: a level 0 (smallest) .. 4 (largest).
  virtual void SetZoom(int level) = 0;
  // The level nearest to the browser's present text size.
  virtual int QueryZoom() = 0;
  // Connects the click sink to the paging buttons B0..B3 of the shown page.
  virtual void HookPageButtons() = 0;
  virtual bool pdf_shown() const = 0;
  virtual void set_pdf_shown(bool shown) = 0;
  // With `on`, the document's page is rendered again once the next page load has completed.
  virtual void set_render_after_load(bool on) {}
  // Scrolls the shown page to its top (a generated page replaces the body of a page that may
  // have been scrolled).
  virtual void ScrollToTop() {}
};

// The left-hand library tree with its book list.
class ITreeView {
 public:
  virtual ~ITreeView() = default;
  virtual void DeleteAllItems() = 0;
  virtual void ResetHitMarker() = 0;
  virtual void ShowBookList(bool show) = 0;
  // Check boxes of the book list's rows; rows that do not exist read as unchecked.
  virtual bool GetBookCheck(int row) = 0;
  virtual void SetBookCheck(int row, bool checked) = 0;
  virtual void SetBookCounts(const std::vector<int>& counts) = 0;
  // Redraw from the document's state.
  virtual void OnDocumentUpdate() = 0;
  // Shows exactly `items` (positions in the list are the item handles). The item flagged
  // selected becomes the current one; that is the program's selection and is not reported back.
  virtual void SetItems(const TreeItemList& items) = 0;
  // After the present command is handled, selects item `item` (-1 = none) as if the user had
  // chosen it: the document's OnTreeSelectionChanged runs with it.
  virtual void PostSelectItem(int item) = 0;
  // Tells the user something in a modal message box.
  virtual void ShowMessage(const std::string& text) = 0;
};

// The main frame's query controls.
class IFrameControls {
 public:
  virtual ~IFrameControls() = default;
  virtual std::string GetQueryText() = 0;
  virtual void SetQueryText(const std::string& text) = 0;
  // Selects the whole query text and scrolls the caret into view.
  virtual void SelectAllQueryText() = 0;
  virtual std::string GetFieldText() = 0;
  virtual void SetFieldText(const std::string& text) = 0;
  virtual void ShowAdvancedBar(bool show) = 0;
  // Runs a command after the present one has been handled.
  virtual void PostCommand(int id) = 0;
  // Shows a line (GBK) in the status bar's message pane until the next message replaces it.
  virtual void ShowStatusText(const std::string& text) {}
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_VIEW_INTERFACES_H_
