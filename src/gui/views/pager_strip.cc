#include "gui/views/pager_strip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "base/texts.h"

namespace tomeva::gui {
namespace {

// The strip's background, the colour the cell images are masked with.
const QColor kMaskColour(196, 216, 241);

// Triangles pointing left (-1) or right (+1), `count` of them, with an optional bar at the end.
void DrawArrows(QPainter* p, int direction, int count, bool bar, const QColor& colour) {
  p->setBrush(colour);
  p->setPen(Qt::NoPen);
  const int width = 8;
  const int total = count * width + (bar ? 3 : 0);
  int x = (kPagerCellSize - total) / 2;
  if (bar && direction < 0) {
    p->drawRect(x, 10, 2, 12);
    x += 3;
  }
  for (int i = 0; i < count; ++i) {
    QPainterPath path;
    if (direction < 0) {
      path.moveTo(x, 16);
      path.lineTo(x + width, 9);
      path.lineTo(x + width, 23);
    } else {
      path.moveTo(x + width, 16);
      path.lineTo(x, 9);
      path.lineTo(x, 23);
    }
    path.closeSubpath();
    p->drawPath(path);
    x += width;
  }
  if (bar && direction > 0) p->drawRect(x + 1, 10, 2, 12);
}

QPixmap DrawCell(int cell, bool hot) {
  QPixmap pixmap(kPagerCellSize, kPagerCellSize);
  pixmap.fill(kMaskColour);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink = hot ? QColor(230, 110, 0) : QColor(25, 65, 165);
  if (hot) {
    p.setPen(QColor(25, 65, 165));
    p.setBrush(QColor(255, 244, 200));
    p.drawRoundedRect(QRectF(2.5, 2.5, 27, 27), 4, 4);
  }
  switch (cell) {
    case 0:
      DrawArrows(&p, -1, 1, true, ink);
      break;
    case 1:
      DrawArrows(&p, -1, 2, false, ink);
      break;
    case 2:
      DrawArrows(&p, -1, 1, false, ink);
      break;
    case 3:
      DrawArrows(&p, +1, 1, false, ink);
      break;
    case 4:
      DrawArrows(&p, +1, 2, false, ink);
      break;
    case 5:
      DrawArrows(&p, +1, 1, true, ink);
      break;
    default: {
      // A page with a folded corner and "PDF" on it.
      p.setPen(QPen(ink, 1.5));
      p.setBrush(Qt::white);
      QPainterPath page;
      page.moveTo(9, 5);
      page.lineTo(19, 5);
      page.lineTo(24, 10);
      page.lineTo(24, 27);
      page.lineTo(9, 27);
      page.closeSubpath();
      p.drawPath(page);
      QFont font = p.font();
      font.setPixelSize(7);
      font.setBold(true);
      p.setFont(font);
      p.setPen(QColor(200, 30, 30));
      p.drawText(QRect(9, 13, 15, 10), Qt::AlignCenter, QStringLiteral("PDF"));
      break;
    }
  }
  return pixmap;
}

}  // namespace

CPagerStrip::CPagerStrip(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pagerStrip"));
  setFixedSize(kPagerWidth, kPagerCellSize);
  setMouseTracking(true);
  for (int i = 0; i < kPagerCells; ++i) {
    normal_[i] = DrawCell(i, false);
    hot_[i] = DrawCell(i, true);
  }
}

int CPagerStrip::HitCell(const QRect& area, const QPoint& point) {
  const int left = area.left();
  const int right = area.left() + area.width();
  const int top = area.top();
  const int bottom = area.top() + area.height();
  const int x = point.x();
  const int y = point.y();
  if (!(y > top + 10 && y < bottom - 10)) return -1;
  if (!(x > left + 10 && x < right - 10)) return -1;
  for (int i = 0; i < kPagerCells; ++i) {
    if (x > left + 10 + kPagerCellSize * i && x < left + 22 + kPagerCellSize * i) return i;
  }
  return -1;
}

QString CPagerStrip::CellText(int cell) {
  if (cell < 0 || cell > 5) return QString();
  return QString::fromUtf8(TextUtf8(kTextPagerFirst + cell));
}

void CPagerStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kMaskColour);
  for (int i = 0; i < kPagerCells; ++i) {
    const int x = kPagerCellSize * i;
    if (i == hover_) {
      const int shift = pressed_ ? 2 : 0;
      p.drawPixmap(x + shift, shift, hot_[i]);
    } else {
      p.drawPixmap(x, 0, normal_[i]);
    }
  }
}

void CPagerStrip::SetHover(int cell, bool pressed) {
  if (cell == hover_ && pressed == pressed_) return;
  hover_ = cell;
  pressed_ = pressed;
  update();
}

void CPagerStrip::mouseMoveEvent(QMouseEvent* event) {
  const int cell = HitCell(rect(), event->position().toPoint());
  // Pressed only while the left button alone is down.
  SetHover(cell, cell >= 0 && event->buttons() == Qt::LeftButton);
  emit statusText(CellText(cell));
}

void CPagerStrip::mousePressEvent(QMouseEvent* event) {
  const int cell = HitCell(rect(), event->position().toPoint());
  if (cell < 0) return;
  SetHover(cell, event->button() == Qt::LeftButton);
}

void CPagerStrip::mouseReleaseEvent(QMouseEvent* event) {
  const int cell = HitCell(rect(), event->position().toPoint());
  SetHover(cell, false);
  if (cell >= 0 && event->button() == Qt::LeftButton) emit cellClicked(cell);
}

void CPagerStrip::leaveEvent(QEvent*) {
  SetHover(-1, false);
  emit statusText(QString());
}

}  // namespace tomeva::gui
