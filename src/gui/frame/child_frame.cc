#include "gui/frame/child_frame.h"

#include <QResizeEvent>

#include "gui/views/tomeva_view.h"
#include "gui/views/tree_form_view.h"

namespace tomeva::gui {

CChildFrame::CChildFrame(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
  setObjectName(QStringLiteral("CChildFrame"));
  setChildrenCollapsible(false);
  tree_ = new CTreeFormView(this);
  html_ = new CTomevaView(this);
  tree_->setMinimumWidth(kPaneMinimum);
  html_->setMinimumWidth(kPaneMinimum);
  addWidget(tree_);
  addWidget(html_);
  setStretchFactor(0, 0);
  setStretchFactor(1, 1);
  connect(this, &QSplitter::splitterMoved, this, [this] { user_moved_ = true; });
}

void CChildFrame::resizeEvent(QResizeEvent* event) {
  QSplitter::resizeEvent(event);
  // The left column keeps its fixed width until the user drags the bar.
  if (!user_moved_) {
    int rest = std::max(event->size().width() - kLeftPaneWidth - handleWidth(), kPaneMinimum);
    setSizes({kLeftPaneWidth, rest});
  }
}

}  // namespace tomeva::gui
