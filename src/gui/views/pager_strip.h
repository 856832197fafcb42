// CPagerStrip: the seven 32 x 32 picture buttons under the tree: first page, previous page,
// previous hit, next hit, next page, last page, and the PDF. The cell under the mouse is drawn
// from the hot images (2 pixels down and right while the left button holds it) and its text goes
// to the status bar; releasing the button over a cell reports the cell.
#ifndef TOMEVA_GUI_VIEWS_PAGER_STRIP_H_
#define TOMEVA_GUI_VIEWS_PAGER_STRIP_H_

#include <QPixmap>
#include <QWidget>
#include <array>

namespace tomeva::gui {

inline constexpr int kPagerCells = 7;
inline constexpr int kPagerCellSize = 32;
inline constexpr int kPagerWidth = kPagerCells * kPagerCellSize;  // 224

class CPagerStrip : public QWidget {
  Q_OBJECT
 public:
  explicit CPagerStrip(QWidget* parent = nullptr);

  // The cell a point hits inside `area` (the strip's rectangle, right and bottom edges
  // exclusive): strictly inside the band 10 pixels in from the top and bottom, strictly between
  // 10 and 22 pixels into the cell, and strictly inside 10 pixels from the area's sides; -1 for
  // none.
  static int HitCell(const QRect& area, const QPoint& point);
  // The status bar text of a cell (GBK texts 57348..57353 for cells 0..5, else empty).
  static QString CellText(int cell);

  int hover() const { return hover_; }
  bool pressed() const { return pressed_; }

 signals:
  void cellClicked(int cell);
  void statusText(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void SetHover(int cell, bool pressed);

  std::array<QPixmap, kPagerCells> normal_;
  std::array<QPixmap, kPagerCells> hot_;
  int hover_ = -1;
  bool pressed_ = false;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_PAGER_STRIP_H_
