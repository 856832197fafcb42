// CSplitterBar: the horizontal bar between the tree (with the pager strip under it) and the book
// list. Dragging it with the left button moves an outline within limits that keep every control
// above and below at least 30 pixels high; Escape or the right button cancels. When released
// somewhere else, the controls above end 33 pixels above the bar (room for the pager strip), the
// controls below start 1 pixel under it, and `moved` reports the distance.
#ifndef TOMEVA_GUI_VIEWS_SPLITTER_BAR_H_
#define TOMEVA_GUI_VIEWS_SPLITTER_BAR_H_

#include <QWidget>
#include <vector>

class QRubberBand;

namespace tomeva::gui {

class CSplitterBar : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kThickness = 8;

  explicit CSplitterBar(QWidget* parent = nullptr);

  void SetControls(std::vector<QWidget*> above, std::vector<QWidget*> below, int min_above = 30,
                   int min_below = 30);
  // The range the bar's top may take during a drag, in the parent's coordinates; false when the
  // limits leave no room.
  bool DragRange(int* min_top, int* max_top) const;
  bool dragging() const { return dragging_; }

 signals:
  void moved(int delta, int bar_id);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void EndDrag(bool apply);

  std::vector<QWidget*> above_;
  std::vector<QWidget*> below_;
  int min_above_ = 30;
  int min_below_ = 30;
  bool dragging_ = false;
  int grab_offset_ = 0;
  int min_top_ = 0;
  int max_top_ = 0;
  int outline_top_ = 0;
  QRubberBand* outline_ = nullptr;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_SPLITTER_BAR_H_
