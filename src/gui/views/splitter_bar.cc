#include "gui/views/splitter_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <algorithm>

namespace tomeva::gui {

// The message id the bar's move is reported with, kept as the bar's id.
constexpr int kSplitterBarId = 1026;

CSplitterBar::CSplitterBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("splitterBar"));
  setCursor(Qt::SplitVCursor);
  setFixedHeight(kThickness);
  setFocusPolicy(Qt::ClickFocus);
}

void CSplitterBar::SetControls(std::vector<QWidget*> above, std::vector<QWidget*> below,
                               int min_above, int min_below) {
  above_ = std::move(above);
  below_ = std::move(below);
  min_above_ = min_above;
  min_below_ = min_below;
}

bool CSplitterBar::DragRange(int* min_top, int* max_top) const {
  const QWidget* parent = parentWidget();
  if (parent == nullptr) return false;
  int upper = parent->rect().top() + min_above_;
  for (const QWidget* w : above_) upper = std::max(upper, w->geometry().top() + min_above_);
  // The bar's bottom may not pass the lowest limit; its top is the bottom minus its height.
  int lower = parent->rect().bottom() + 1 - min_below_;
  for (const QWidget* w : below_) lower = std::min(lower, w->geometry().bottom() + 1 - min_below_);
  *min_top = upper;
  *max_top = lower - height();
  return *max_top >= *min_top;
}

void CSplitterBar::mousePressEvent(QMouseEvent* event) {
  if (dragging_) {
    if (event->button() == Qt::RightButton) EndDrag(false);
    return;
  }
  if (event->button() != Qt::LeftButton || QWidget::mouseGrabber() != nullptr) return;
  if (!DragRange(&min_top_, &max_top_)) return;
  dragging_ = true;
  grab_offset_ = event->position().toPoint().y();
  outline_top_ = y();
  if (outline_ == nullptr) outline_ = new QRubberBand(QRubberBand::Rectangle, parentWidget());
  outline_->setGeometry(geometry());
  outline_->show();
  grabMouse();
  grabKeyboard();
}

void CSplitterBar::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  const int wanted = mapToParent(event->position().toPoint()).y() - grab_offset_;
  outline_top_ = std::clamp(wanted, min_top_, max_top_);
  outline_->setGeometry(x(), outline_top_, width(), height());
}

void CSplitterBar::mouseReleaseEvent(QMouseEvent* event) {
  if (dragging_ && event->button() == Qt::LeftButton) EndDrag(true);
}

void CSplitterBar::keyPressEvent(QKeyEvent* event) {
  if (dragging_ && event->key() == Qt::Key_Escape) {
    EndDrag(false);
    return;
  }
  QWidget::keyPressEvent(event);
}

void CSplitterBar::EndDrag(bool apply) {
  dragging_ = false;
  releaseMouse();
  releaseKeyboard();
  if (outline_ != nullptr) outline_->hide();
  const int delta = outline_top_ - y();
  if (!apply || delta == 0) return;
  move(x(), outline_top_);
  for (QWidget* w : above_) {
    QRect r = w->geometry();
    r.setBottom(outline_top_ - 33 - 1);
    w->setGeometry(r);
  }
  for (QWidget* w : below_) {
    QRect r = w->geometry();
    r.setTop(outline_top_ + height() + 1);
    w->setGeometry(r);
  }
  if (parentWidget() != nullptr) parentWidget()->update();
  emit moved(delta, kSplitterBarId);
}

void CSplitterBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().button());
  p.setPen(palette().light().color());
  p.drawLine(0, 1, width(), 1);
  p.setPen(palette().dark().color());
  p.drawLine(0, height() - 2, width(), height() - 2);
}

}  // namespace tomeva::gui
