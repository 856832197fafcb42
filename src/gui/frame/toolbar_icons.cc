#include "gui/frame/toolbar_icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include "core/doc/command_ids.h"

namespace tomeva::gui {
namespace {

struct Palette {
  QColor ink;
  QColor fill;
  QColor accent;
};

void DrawMagnifier(QPainter& p, const Palette& c) {
  p.setPen(QPen(c.ink, 3));
  p.setBrush(c.fill);
  p.drawEllipse(QRectF(4, 4, 17, 17));
  p.setPen(QPen(c.accent, 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(19, 19), QPointF(28, 28));
}

void DrawBooks(QPainter& p, const Palette& c) {
  const QColor covers[3] = {c.accent, c.fill, c.ink};
  for (int i = 0; i < 3; ++i) {
    p.setPen(QPen(c.ink, 1.5));
    p.setBrush(covers[i]);
    p.drawRect(QRectF(5 + i * 8, 6 + (i == 1 ? 3 : 0), 7, 22 - (i == 1 ? 3 : 0)));
  }
  p.setPen(QPen(c.ink, 2));
  p.drawLine(QPointF(3, 29), QPointF(29, 29));
}

void DrawFunnel(QPainter& p, const Palette& c) {
  QPainterPath path;
  path.moveTo(4, 5);
  path.lineTo(28, 5);
  path.lineTo(18, 17);
  path.lineTo(18, 27);
  path.lineTo(14, 29);
  path.lineTo(14, 17);
  path.closeSubpath();
  p.setPen(QPen(c.ink, 2));
  p.setBrush(c.accent);
  p.drawPath(path);
}

void DrawClock(QPainter& p, const Palette& c) {
  p.setPen(QPen(c.ink, 2.5));
  p.setBrush(c.fill);
  p.drawEllipse(QRectF(4, 4, 24, 24));
  p.setPen(QPen(c.accent, 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(16, 16), QPointF(16, 8));
  p.drawLine(QPointF(16, 16), QPointF(22, 19));
}

void DrawHouse(QPainter& p, const Palette& c) {
  QPainterPath roof;
  roof.moveTo(3, 16);
  roof.lineTo(16, 4);
  roof.lineTo(29, 16);
  roof.closeSubpath();
  p.setPen(QPen(c.ink, 2));
  p.setBrush(c.accent);
  p.drawPath(roof);
  p.setBrush(c.fill);
  p.drawRect(QRectF(7, 16, 18, 12));
  p.setBrush(c.ink);
  p.drawRect(QRectF(14, 20, 5, 8));
}

void DrawQuestion(QPainter& p, const Palette& c) {
  p.setPen(QPen(c.ink, 2));
  p.setBrush(c.accent);
  p.drawEllipse(QRectF(3, 3, 26, 26));
  QFont font;
  font.setPixelSize(20);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
}

void DrawPdf(QPainter& p, const Palette& c) {
  QPainterPath sheet;
  sheet.moveTo(6, 3);
  sheet.lineTo(20, 3);
  sheet.lineTo(27, 10);
  sheet.lineTo(27, 29);
  sheet.lineTo(6, 29);
  sheet.closeSubpath();
  p.setPen(QPen(c.ink, 1.5));
  p.setBrush(Qt::white);
  p.drawPath(sheet);
  p.setBrush(QColor(200, 30, 30));
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(3, 14, 22, 10));
  QFont font;
  font.setPixelSize(9);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(3, 14, 22, 10), Qt::AlignCenter, QStringLiteral("PDF"));
}

void DrawBackArrow(QPainter& p, const Palette& c) {
  QPainterPath arrow;
  arrow.moveTo(3, 16);
  arrow.lineTo(15, 5);
  arrow.lineTo(15, 11);
  arrow.lineTo(28, 11);
  arrow.lineTo(28, 21);
  arrow.lineTo(15, 21);
  arrow.lineTo(15, 27);
  arrow.closeSubpath();
  p.setPen(QPen(c.ink, 2));
  p.setBrush(c.accent);
  p.drawPath(arrow);
}

void DrawGlobe(QPainter& p, const Palette& c) {
  p.setPen(QPen(c.ink, 2));
  p.setBrush(c.fill);
  p.drawEllipse(QRectF(3, 3, 26, 26));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(c.accent, 1.8));
  p.drawEllipse(QRectF(10, 3, 12, 26));
  p.drawLine(QPointF(3, 16), QPointF(29, 16));
  p.drawLine(QPointF(5.5, 10), QPointF(26.5, 10));
  p.drawLine(QPointF(5.5, 22), QPointF(26.5, 22));
}

}  // namespace

QPixmap DrawToolbarImage(int command_id, bool hot) {
  QPixmap pixmap(kToolbarImageSize, kToolbarImageSize);
  pixmap.fill(Qt::transparent);
  Palette c = hot ? Palette{QColor(10, 40, 120), QColor(200, 230, 255), QColor(255, 140, 0)}
                  : Palette{QColor(30, 50, 90), QColor(225, 232, 245), QColor(40, 110, 200)};
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (command_id) {
    case kCmdSearch:
    case kCmdFieldButton:
      DrawMagnifier(p, c);
      break;
    case kCmdBookSearch:
      DrawBooks(p, c);
      break;
    case kCmdAdvancedSearch:
      DrawFunnel(p, c);
      break;
    case kCmdBackToQuery:
      DrawClock(p, c);
      break;
    case kCmdHome:
      DrawHouse(p, c);
      break;
    case kCmdHelp:
      DrawQuestion(p, c);
      break;
    case kCmdPdf:
      DrawPdf(p, c);
      break;
    case kCmdBack:
      DrawBackArrow(p, c);
      break;
    case kCmdPublisherSite:
      DrawGlobe(p, c);
      break;
    default:
      p.end();
      return QPixmap();
  }
  return pixmap;
}

QIcon ToolbarIcon(int command_id) {
  QIcon icon;
  QPixmap normal = DrawToolbarImage(command_id, false);
  if (normal.isNull()) return icon;
  icon.addPixmap(normal, QIcon::Normal);
  icon.addPixmap(DrawToolbarImage(command_id, true), QIcon::Active);
  return icon;
}

}  // namespace tomeva::gui
