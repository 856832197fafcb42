// CLibraryTreeCtrl: the tree control of the left pane. It shows a plain item list from the core
// (positions in the list are the item handles), reports only the selections a user makes (mouse,
// keyboard) or that were posted to it, shows the hand cursor over items that open something, and
// lets its owner take keys before the tree handles them.
#ifndef TOMEVA_GUI_VIEWS_LIBRARY_TREE_CTRL_H_
#define TOMEVA_GUI_VIEWS_LIBRARY_TREE_CTRL_H_

#include <QTreeWidget>
#include <functional>
#include <vector>

#include "core/views/tree_items.h"

namespace tomeva::gui {

class CLibraryTreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CLibraryTreeCtrl(QWidget* parent = nullptr);

  // Shows `items`. A list of the same items as shown only moves the selection. The selection
  // made here is the program's: it is not reported.
  void SetItems(const TreeItemList& items);
  // Selects `item` (-1 = none) once control returns to the event loop, reported like a user's.
  void PostSelect(int item);
  // The handle of a widget item (-1 for none) and the widget item of a handle (null if none).
  int HandleOf(const QTreeWidgetItem* item) const;
  QTreeWidgetItem* ItemOf(int handle) const;
  const TreeItemList& items() const { return shown_; }
  // Keys go to `handler` first; when it returns true the tree does nothing with them.
  void set_key_handler(std::function<bool(int key)> handler) { key_handler_ = std::move(handler); }

 signals:
  void itemSelected(int item, qlonglong data);
  void plainClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void SelectQuietly(int handle);

  TreeItemList shown_;
  std::vector<QTreeWidgetItem*> made_;
  bool programmatic_ = false;
  std::function<bool(int)> key_handler_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_LIBRARY_TREE_CTRL_H_
