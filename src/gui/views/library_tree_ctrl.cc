#include "gui/views/library_tree_ctrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

#include "gui/frame/gbk_text.h"

namespace tomeva::gui {
namespace {

constexpr int kHandleRole = Qt::UserRole;

bool SameShape(const TreeItemList& a, const TreeItemList& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].label != b[i].label || a[i].data != b[i].data || a[i].parent != b[i].parent ||
        a[i].tooltip != b[i].tooltip) {
      return false;
    }
  }
  return true;
}

}  // namespace

CLibraryTreeCtrl::CLibraryTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("libraryTree"));
  header()->hide();
  setColumnCount(1);
  setRootIsDecorated(true);  // buttons and lines at the root
  setSelectionMode(QAbstractItemView::SingleSelection);
  setMouseTracking(true);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
            if (programmatic_) return;
            const int handle = HandleOf(current);
            emit itemSelected(handle, handle >= 0 ? shown_[handle].data : 0);
          });
}

int CLibraryTreeCtrl::HandleOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return -1;
  bool ok = false;
  int handle = item->data(0, kHandleRole).toInt(&ok);
  return ok && handle >= 0 && handle < static_cast<int>(made_.size()) ? handle : -1;
}

QTreeWidgetItem* CLibraryTreeCtrl::ItemOf(int handle) const {
  return handle >= 0 && handle < static_cast<int>(made_.size()) ? made_[handle] : nullptr;
}

void CLibraryTreeCtrl::SelectQuietly(int handle) {
  programmatic_ = true;
  QTreeWidgetItem* item = ItemOf(handle);
  setCurrentItem(item);
  if (item == nullptr) clearSelection();
  programmatic_ = false;
}

void CLibraryTreeCtrl::SetItems(const TreeItemList& items) {
  int selected = -1;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].selected) selected = static_cast<int>(i);
  }
  if (SameShape(items, shown_)) {
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].expanded && !shown_[i].expanded) made_[i]->setExpanded(true);
    }
    shown_ = items;
    SelectQuietly(selected);
    return;
  }
  programmatic_ = true;
  setUpdatesEnabled(false);
  clear();
  made_.clear();
  made_.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const TreeItem& item = items[i];
    QTreeWidgetItem* parent = ItemOf(item.parent);
    auto* w = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    w->setText(0, FromGbk(item.label));
    if (!item.tooltip.empty()) w->setToolTip(0, FromGbk(item.tooltip));
    w->setData(0, kHandleRole, static_cast<int>(i));
    made_.push_back(w);
  }
  // Expanding after all children exist: an item without children yet would not open.
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].expanded) made_[i]->setExpanded(true);
  }
  shown_ = items;
  setUpdatesEnabled(true);
  programmatic_ = false;
  SelectQuietly(selected);
  scrollToTop();
}

void CLibraryTreeCtrl::PostSelect(int item) {
  QPointer<CLibraryTreeCtrl> self(this);
  QTimer::singleShot(0, this, [self, item] {
    if (self == nullptr) return;
    QTreeWidgetItem* target = self->ItemOf(item);
    if (target != nullptr && target == self->currentItem()) {
      // Already the current item: the tree would report no change, but the posted selection
      // must still show the item's page.
      emit self->itemSelected(item, self->shown_[item].data);
      return;
    }
    self->setCurrentItem(target);
    if (target == nullptr) {
      self->clearSelection();
    } else {
      self->scrollToItem(target);
    }
  });
}

void CLibraryTreeCtrl::keyPressEvent(QKeyEvent* event) {
  if (key_handler_ && key_handler_(event->key())) {
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void CLibraryTreeCtrl::mouseMoveEvent(QMouseEvent* event) {
  // The hand over items that open a page of their own: below the top level, with a data word.
  const int handle = HandleOf(itemAt(event->position().toPoint()));
  const bool hand = handle >= 0 && shown_[handle].parent >= 0 && shown_[handle].data != 0;
  if (hand) {
    viewport()->setCursor(Qt::PointingHandCursor);
  } else {
    viewport()->unsetCursor();
  }
  QTreeWidget::mouseMoveEvent(event);
}

void CLibraryTreeCtrl::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit plainClick();
}

}  // namespace tomeva::gui
