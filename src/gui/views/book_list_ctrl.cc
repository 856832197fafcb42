#include "gui/views/book_list_ctrl.h"

#include <QCheckBox>
#include <QHeaderView>

#include "gui/frame/gbk_text.h"

namespace tomeva::gui {

CBookListCtrl::CBookListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("bookList"));
  setColumnCount(2);
  setHeaderLabels({QStringLiteral("类别"), QStringLiteral("数量")});
  headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  header()->setStretchLastSection(false);
  header()->resizeSection(0, 160);
  header()->resizeSection(1, 40);
  header()->setSectionsClickable(true);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setTextElideMode(Qt::ElideRight);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // The header's box sits at (4, 2)-(15, 13), over the first column's title.
  header_box_ = new QCheckBox(header()->viewport());
  header_box_->setObjectName(QStringLiteral("bookListAll"));
  header_box_->setGeometry(4, 2, 12, 12);
  header_box_->setChecked(true);
  header_box_->setFocusPolicy(Qt::NoFocus);
  headerItem()->setText(0, QStringLiteral("     类别"));
  connect(header_box_, &QCheckBox::clicked, this, [this] { ToggleSelectAll(); });
  connect(header(), &QHeaderView::sectionClicked, this, [this](int section) {
    if (section == 0) ToggleSelectAll();
  });
  // A press on the check box changes the check only; a click anywhere else chooses the row.
  connect(this, &QTreeWidget::itemPressed, this, [this](QTreeWidgetItem* item, int) {
    pressed_item_ = item;
    pressed_state_ = item->checkState(0);
  });
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    const bool check_changed = item == pressed_item_ && item->checkState(0) != pressed_state_;
    pressed_item_ = nullptr;
    if (!check_changed) emit rowChosen(indexOfTopLevelItem(item));
  });
}

void CBookListCtrl::SetBooks(const std::vector<std::string>& names) {
  clear();
  for (const std::string& name : names) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, name.empty() ? QStringLiteral("No Title") : FromGbk(name));
    item->setText(1, QStringLiteral("0"));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Checked);
  }
  select_all_ = true;
  header_box_->setChecked(true);
}

bool CBookListCtrl::RowChecked(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item != nullptr && item->checkState(0) == Qt::Checked;
}

void CBookListCtrl::SetRowChecked(int row, bool checked) {
  if (QTreeWidgetItem* item = topLevelItem(row)) {
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
  }
}

void CBookListCtrl::SetCounts(const std::vector<int>& counts) {
  for (int i = 0; i < static_cast<int>(counts.size()) && i < topLevelItemCount(); ++i) {
    topLevelItem(i)->setText(1, QString::number(counts[i]));
  }
}

void CBookListCtrl::ToggleSelectAll() {
  select_all_ = !select_all_;
  header_box_->setChecked(select_all_);
  for (int i = 0; i < topLevelItemCount(); ++i) SetRowChecked(i, select_all_);
}

}  // namespace tomeva::gui
