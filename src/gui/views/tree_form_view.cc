#include "gui/views/tree_form_view.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "gui/frame/gbk_text.h"
#include "gui/frame/main_frame.h"
#include "gui/views/book_list_ctrl.h"
#include "gui/views/library_tree_ctrl.h"
#include "gui/views/pager_strip.h"
#include "gui/views/splitter_bar.h"

namespace tomeva::gui {

CTreeFormView::CTreeFormView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CTreeFormView"));
  // The tree is the first child: whoever looks for the pane's tree finds it before the list.
  tree_ = new CLibraryTreeCtrl(this);
  pager_ = new CPagerStrip(this);
  bar_ = new CSplitterBar(this);
  books_ = new CBookListCtrl(this);
  bar_->SetControls({tree_}, {books_});
  bar_->hide();
  books_->hide();

  connect(tree_, &CLibraryTreeCtrl::itemSelected, this, [this](int item, qlonglong data) {
    if (doc_ == nullptr) return;
    doc_->OnTreeSelectionChanged(item, data);
    RefreshCommands();
  });
  connect(tree_, &CLibraryTreeCtrl::plainClick, this, [this] {
    if (doc_ == nullptr) return;
    doc_->OnTreeClick();
    RefreshCommands();
  });
  tree_->set_key_handler([this](int key) { return OnTreeKey(key); });
  connect(pager_, &CPagerStrip::cellClicked, this, [this](int cell) { OnPagerCell(cell); });
  connect(pager_, &CPagerStrip::statusText, this, [this](const QString& text) {
    if (auto* frame = qobject_cast<QMainWindow*>(window())) frame->statusBar()->showMessage(text);
  });
  connect(books_, &CBookListCtrl::rowChosen, this, [this](int row) {
    if (doc_ != nullptr) doc_->ShowBookResults(row);
  });
  // After a drag the pager strip stays right under the tree.
  connect(bar_, &CSplitterBar::moved, this,
          [this](int, int) { pager_->move(0, tree_->geometry().bottom() + 1); });
}

CTreeFormView::~CTreeFormView() {
  if (doc_ != nullptr) doc_->AttachTreeView(nullptr);
}

void CTreeFormView::SetDocument(CTomevaDoc* doc) {
  if (doc_ != nullptr) doc_->AttachTreeView(nullptr);
  doc_ = doc;
  if (doc_ == nullptr) return;
  doc_->AttachTreeView(this);
  std::vector<std::string> names;
  for (int k = 1; k <= doc_->catalogue().book_count(); ++k) {
    names.push_back(doc_->catalogue().BookName(k));
  }
  books_->SetBooks(names);
  ShowBookList(doc_->switches().book_search);
  // The first update builds the library tree.
  doc_->UpdateAllViews();
}

void CTreeFormView::DeleteAllItems() { tree_->SetItems({}); }

void CTreeFormView::ShowBookList(bool show) {
  book_list_shown_ = show;
  LayOut();
}

bool CTreeFormView::GetBookCheck(int row) { return books_->RowChecked(row); }

void CTreeFormView::SetBookCheck(int row, bool checked) { books_->SetRowChecked(row, checked); }

void CTreeFormView::SetBookCounts(const std::vector<int>& counts) { books_->SetCounts(counts); }

void CTreeFormView::OnDocumentUpdate() {}

void CTreeFormView::SetItems(const TreeItemList& items) { tree_->SetItems(items); }

void CTreeFormView::PostSelectItem(int item) { tree_->PostSelect(item); }

void CTreeFormView::ShowMessage(const std::string& text) {
  const QString message = FromGbk(text);
  if (message_sink_) {
    message_sink_(message);
    return;
  }
  QMessageBox::information(this, window()->windowTitle(), message);
}

bool CTreeFormView::OnTreeKey(int key) {
  // In the library the tree handles its keys itself; in search mode the keys move the cursor
  // and every other key is swallowed.
  if (doc_ == nullptr || !doc_->switches().search_mode) return false;
  switch (key) {
    case Qt::Key_PageUp:
      doc_->MoveRecordCursor(CursorMove::kPreviousPage);
      break;
    case Qt::Key_PageDown:
      doc_->MoveRecordCursor(CursorMove::kNextPage);
      break;
    case Qt::Key_End:
      doc_->MoveRecordCursor(CursorMove::kLastPage);
      break;
    case Qt::Key_Home:
      doc_->MoveRecordCursor(CursorMove::kFirstPage);
      break;
    case Qt::Key_Up:
      doc_->MoveRecordCursor(CursorMove::kPreviousRecord);
      break;
    case Qt::Key_Down:
      doc_->MoveRecordCursor(CursorMove::kNextRecord);
      break;
    default:
      break;
  }
  RefreshCommands();
  return true;
}

void CTreeFormView::OnPagerCell(int cell) {
  if (doc_ == nullptr) return;
  if (cell >= 0 && cell <= 5) {
    doc_->MoveRecordCursor(static_cast<CursorMove>(cell));
  } else if (cell == 6) {
    doc_->OnShowPdf(/*from_pager=*/true);
  }
  RefreshCommands();
}

void CTreeFormView::RefreshCommands() {
  // Pages shown from the tree change what the back command can do; the frame's buttons follow.
  if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->UpdateCommandUi();
}

void CTreeFormView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void CTreeFormView::LayOut() {
  // With the book list: the tree ends 232 pixels above the bottom, the pager strip takes 32 of
  // them and the splitter bar and the list share the remaining 200, so that nothing overlaps.
  const int w = width();
  const int h = height();
  const int below = book_list_shown_ ? kBookListHeight : 0;
  const int tree_height = std::max(h - below - kPagerCellSize, 0);
  tree_->setGeometry(0, 0, w, tree_height);
  pager_->move(0, tree_height);
  bar_->setVisible(book_list_shown_);
  books_->setVisible(book_list_shown_);
  if (book_list_shown_) {
    const int bar_top = tree_height + kPagerCellSize;
    bar_->setGeometry(0, bar_top, w, CSplitterBar::kThickness);
    books_->setGeometry(0, bar_top + CSplitterBar::kThickness, w,
                        std::max(h - bar_top - CSplitterBar::kThickness, 0));
  }
  update();
}

}  // namespace tomeva::gui
