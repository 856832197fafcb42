// CBookListCtrl: the list of the catalogue's books under the tree, in report style: a check box
// and the book's name ("类别", 160 pixels), and its hit count ("数量", 40 pixels, right-aligned).
// Every row starts checked. A check box over the first column's header checks or unchecks all
// rows; so does a click on that header. A click on a row outside its check box chooses the row.
#ifndef TOMEVA_GUI_VIEWS_BOOK_LIST_CTRL_H_
#define TOMEVA_GUI_VIEWS_BOOK_LIST_CTRL_H_

#include <QTreeWidget>
#include <string>
#include <vector>

class QCheckBox;

namespace tomeva::gui {

class CBookListCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CBookListCtrl(QWidget* parent = nullptr);

  // One row per book name (GBK); an empty name shows as "No Title". Rows start checked with
  // the count 0.
  void SetBooks(const std::vector<std::string>& names);
  bool RowChecked(int row) const;
  void SetRowChecked(int row, bool checked);
  void SetCounts(const std::vector<int>& counts);
  bool select_all() const { return select_all_; }
  // What a click on the first column's header does: all rows to the inverted select-all state.
  void ToggleSelectAll();
  QCheckBox* header_box() const { return header_box_; }

 signals:
  void rowChosen(int row);

 private:
  QCheckBox* header_box_;
  bool select_all_ = true;
  Qt::CheckState pressed_state_ = Qt::Unchecked;
  QTreeWidgetItem* pressed_item_ = nullptr;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_BOOK_LIST_CTRL_H_
