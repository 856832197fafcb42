// CTreeFormView: the left-hand pane. For now it holds the library tree's title item and the
// (hidden) book list; the library tree itself, the hit list and the pager strip fill it later.
#ifndef TOMEVA_GUI_VIEWS_TREE_FORM_VIEW_H_
#define TOMEVA_GUI_VIEWS_TREE_FORM_VIEW_H_

#include <QWidget>
#include <map>

#include "core/doc/view_interfaces.h"

class QTreeWidget;
class QListWidget;

namespace tomeva {
class CTomevaDoc;
}

namespace tomeva::gui {

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

 private:
  CTomevaDoc* doc_ = nullptr;
  QTreeWidget* tree_;
  QListWidget* books_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_TREE_FORM_VIEW_H_
