// CChildFrame: the document's window inside the main frame, split into the library tree on the
// left (232 pixels) and the HTML view taking the rest; neither pane goes below 10 pixels.
#ifndef TOMEVA_GUI_FRAME_CHILD_FRAME_H_
#define TOMEVA_GUI_FRAME_CHILD_FRAME_H_

#include <QSplitter>

namespace tomeva::gui {

class CTomevaView;
class CTreeFormView;

inline constexpr int kLeftPaneWidth = 232;
inline constexpr int kPaneMinimum = 10;

class CChildFrame : public QSplitter {
  Q_OBJECT
 public:
  explicit CChildFrame(QWidget* parent = nullptr);

  CTreeFormView* tree_view() const { return tree_; }
  CTomevaView* html_view() const { return html_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  CTreeFormView* tree_;
  CTomevaView* html_;
  bool user_moved_ = false;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_FRAME_CHILD_FRAME_H_
