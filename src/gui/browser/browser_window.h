// BrowserWindow: the program's own browser window (tomeva-browser), in which the publisher's site
// and other addresses the program hands out are opened. A top-level web view with back, forward
// and reload, the address shown above the page and the page's title as the window's title.
// Links that would open a new window open in this one.
//
// The window shows the web, not the user's files: it opens only http:// and https:// addresses
// and the installation's own publisher.htm (the installation being the working directory). Any
// other address (another file, data:, javascript:, ...) is refused with a page saying so, and a
// page cannot lead the window to one either.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_GUI_BROWSER_BROWSER_WINDOW_H_
#define TOMEVA_GUI_BROWSER_BROWSER_WINDOW_H_

#include <QMainWindow>
#include <QUrl>

class QLineEdit;
class QWebEngineView;

namespace tomeva::gui {

class BrowserWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit BrowserWindow(QWidget* parent = nullptr);

  // Loads `url`; the window's title follows the page's. An address the window does not open
  // is refused: the page tells why, and false is returned.
  bool Open(const QUrl& url);
  QWebEngineView* view() const { return view_; }

  // What the program is given on its command line: an address with a scheme as it is, anything
  // else a file path relative to `working_dir`.
  static QUrl UrlFromArgument(const QString& argument, const QString& working_dir);
  // True when the window opens `url`: a web address, or the file `installation`/publisher.htm.
  static bool IsOpenable(const QUrl& url, const QString& installation);

 private:
  QWebEngineView* view_ = nullptr;
  QLineEdit* address_ = nullptr;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_BROWSER_BROWSER_WINDOW_H_
