// HelpWindow: the help viewer (tomeva-help). The user's guide, an HTML file shipped with the
// program, on the right; on the left its contents, a tree built from the page's headings (h1 to
// h4, nested by level). Choosing an entry scrolls the page to that section. Everything is read
// from local files: no network is needed.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_GUI_HELP_HELP_WINDOW_H_
#define TOMEVA_GUI_HELP_HELP_WINDOW_H_

#include <QMainWindow>
#include <QString>
#include <QStringList>

class QTreeWidget;
class QTreeWidgetItem;
class QWebEngineView;

namespace tomeva::gui {

// One heading of the guide, as the contents list shows it.
struct HelpSection {
  int level = 1;    // 1 .. 4, from h1 .. h4
  QString title;    // the heading's text
  QString anchor;   // the heading's element id (given one when it had none)
};

class HelpWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows the guide at `path` (a file path). A file that does not exist is told in the page,
  // with its name, and the contents stay empty; contentsReady(false) follows.
  void Open(const QString& path);

  QTreeWidget* contents() const { return contents_; }
  QWebEngineView* view() const { return view_; }
  const QList<HelpSection>& sections() const { return sections_; }
  // The contents as indented lines: two spaces per level below the first, then the title.
  QStringList ContentsLines() const;
  // Scrolls the page to the section of `item` (what a click on it does).
  void ShowSection(QTreeWidgetItem* item);

  // Builds the nested items of `sections` under `tree`: an entry goes under the nearest earlier
  // one of a lower level; a first entry deeper than the ones before it goes where it can.
  static void FillContents(QTreeWidget* tree, const QList<HelpSection>& sections);

 signals:
  // The guide has loaded and the contents list is built (`ok`), or the guide could not be shown.
  void contentsReady(bool ok);

 private:
  void ReadHeadings();

  QTreeWidget* contents_ = nullptr;
  QWebEngineView* view_ = nullptr;
  QList<HelpSection> sections_;
  bool guide_loading_ = false;  // the guide itself is loading, not the page telling it is missing
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_HELP_HELP_WINDOW_H_
