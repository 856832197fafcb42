// CTreeFormView: the left-hand pane. The tree shows the item list the document gives it (the
// library, or in search mode a page of hits); under it the pager strip, and while the search is
// restricted to books, the splitter bar and the book list. The view forwards the user's
// selections, clicks, keys (search mode) and pager cells to the document.
#ifndef TOMEVA_GUI_VIEWS_TREE_FORM_VIEW_H_
#define TOMEVA_GUI_VIEWS_TREE_FORM_VIEW_H_

#include <QWidget>

#include "core/doc/view_interfaces.h"

namespace tomeva {
class CTomevaDoc;
}

namespace tomeva::gui {

class CBookListCtrl;
class CLibraryTreeCtrl;
class CPagerStrip;
class CSplitterBar;

// Heights of the layout under the tree.
inline constexpr int kBookListHeight = 200;

class CTreeFormView : public QWidget, public ITreeView {
  Q_OBJECT
 public:
  explicit CTreeFormView(QWidget* parent = nullptr);
  ~CTreeFormView() override;

  void SetDocument(CTomevaDoc* doc);

  void DeleteAllItems() override;
  void ResetHitMarker() override {}
  void ShowBookList(bool show) override;
  bool GetBookCheck(int row) override;
  void SetBookCheck(int row, bool checked) override;
  void SetBookCounts(const std::vector<int>& counts) override;
  void OnDocumentUpdate() override;
  void SetItems(const TreeItemList& items) override;
  void PostSelectItem(int item) override;
  void ShowMessage(const std::string& text) override;

  CLibraryTreeCtrl* tree() const { return tree_; }
  CPagerStrip* pager() const { return pager_; }
  CBookListCtrl* book_list() const { return books_; }
  CSplitterBar* splitter_bar() const { return bar_; }
  bool book_list_shown() const { return book_list_shown_; }
  // A key of the tree's in search mode (the paging keys, Up, Down), which moves the cursor and is
  // taken whatever it is; false in the library, where the tree handles its keys itself. The
  // query box hands its paging keys here too.
  bool OnTreeKey(int key);
  // Messages are shown in a modal box; tests record them instead.
  void set_message_sink(std::function<void(const QString&)> sink) { message_sink_ = sink; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayOut();
  void OnPagerCell(int cell);
  void RefreshCommands();

  CTomevaDoc* doc_ = nullptr;
  CLibraryTreeCtrl* tree_;
  CPagerStrip* pager_;
  CSplitterBar* bar_;
  CBookListCtrl* books_;
  bool book_list_shown_ = false;
  std::function<void(const QString&)> message_sink_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_TREE_FORM_VIEW_H_
