#include "gui/views/tree_form_view.h"

#include <QHeaderView>
#include <QListWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/base/gbk.h"
#include "core/base/texts.h"
#include "core/doc/tomeva_doc.h"

namespace tomeva::gui {

CTreeFormView::CTreeFormView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CTreeFormView"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("libraryTree"));
  tree_->header()->hide();
  books_ = new QListWidget(this);
  books_->setObjectName(QStringLiteral("bookList"));
  books_->hide();
  layout->addWidget(tree_, 1);
  layout->addWidget(books_);
}

CTreeFormView::~CTreeFormView() {
  if (doc_ != nullptr) doc_->AttachTreeView(nullptr);
}

void CTreeFormView::SetDocument(CTomevaDoc* doc) {
  if (doc_ != nullptr) doc_->AttachTreeView(nullptr);
  doc_ = doc;
  if (doc_ != nullptr) doc_->AttachTreeView(this);
  OnDocumentUpdate();
}

void CTreeFormView::DeleteAllItems() { tree_->clear(); }

void CTreeFormView::ShowBookList(bool show) { books_->setVisible(show && books_->count() > 0); }

bool CTreeFormView::GetBookCheck(int row) {
  QListWidgetItem* item = books_->item(row);
  return item != nullptr && item->checkState() == Qt::Checked;
}

void CTreeFormView::SetBookCheck(int row, bool checked) {
  if (QListWidgetItem* item = books_->item(row)) {
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  }
}

void CTreeFormView::SetBookCounts(const std::vector<int>&) {}

void CTreeFormView::SetItems(const TreeItemList& items) {
  tree_->clear();
  std::vector<QTreeWidgetItem*> made;
  for (const TreeItem& item : items) {
    QTreeWidgetItem* parent = item.parent >= 0 && item.parent < static_cast<int>(made.size())
                                  ? made[item.parent]
                                  : nullptr;
    auto* w = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
    w->setText(0, QString::fromStdString(GbkToUtf8(item.label)));
    made.push_back(w);
  }
}

void CTreeFormView::PostSelectItem(int) {}

void CTreeFormView::ShowMessage(const std::string&) {}

void CTreeFormView::OnDocumentUpdate() {
  if (doc_ == nullptr || doc_->search_mode()) return;
  if (tree_->topLevelItemCount() == 0) {
    auto* root = new QTreeWidgetItem(tree_, {QString::fromUtf8(TextUtf8(kTextWelcome))});
    tree_->setCurrentItem(root);
  }
}

}  // namespace tomeva::gui
