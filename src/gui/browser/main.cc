// tomeva-browser URL: the program's browser window, showing URL (a web address, a file:// address
// or a file path). It stays open until the user closes it; the program that started it does not
// wait for it.
//
// TOMEVA_BROWSER_REPORT=path (for the window tests): once the first page has loaded, the program
// writes to `path` the lines "url: ...", "title: ...", "loaded: yes|no" and "text: " followed by
// the page's text on one line, and a picture of the window to `path`.png, and ends: 0 when the
// page loaded, 1 when it did not, 2 when the report could not be written.
#include <QApplication>
#include <QTimer>
#include <QDir>
#include <QWebEngineView>
#include <cstdio>
#include <memory>

#include "gui/browser/browser_window.h"
#include "gui/common/test_report.h"
#include "gui/common/web_engine_bootstrap.h"

namespace {

constexpr char kReportVariable[] = "TOMEVA_BROWSER_REPORT";
constexpr int kPaintSettleMs = 500;

// Reports the first load of `window` to `path` and ends the program.
void ReportFirstLoad(tomeva::gui::BrowserWindow* window, const QString& path) {
  QWebEngineView* view = window->view();
  auto reported = std::make_shared<bool>(false);
  QObject::connect(view, &QWebEngineView::loadFinished, window, [=](bool ok) {
    if (*reported) return;
    *reported = true;
    // The page is given a moment to paint before its picture is taken.
    QTimer::singleShot(kPaintSettleMs, window, [=] {
      view->page()->toPlainText([window, view, path, ok](const QString& text) {
        QString flat = text;
        flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
        const QStringList lines = {
            QStringLiteral("url: ") + view->url().toString(),
            QStringLiteral("title: ") + window->windowTitle(),
            QStringLiteral("loaded: ") + (ok ? QStringLiteral("yes") : QStringLiteral("no")),
            QStringLiteral("text: ") + flat.simplified()};
        const bool written = tomeva::gui::WriteTestPicture(window, path) &&
                             tomeva::gui::WriteTestReport(path, lines);
        QCoreApplication::exit(!written ? 2 : ok ? 0 : 1);
      });
    });
  });
}

}  // namespace

int main(int argc, char** argv) {
  // The browser window shows the web: its engine keeps its own way to the network.
  const auto app =
      tomeva::gui::MakeWebEngineApplication(argc, argv, tomeva::gui::EngineNetwork::kOpen);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() != 2 || args[1].isEmpty()) {
    std::fputs("usage: tomeva-browser URL\n", stderr);
    return 2;
  }
  tomeva::gui::BrowserWindow window;
  const QString report = tomeva::gui::TestReportPath(kReportVariable);
  if (!report.isEmpty()) ReportFirstLoad(&window, report);
  window.Open(tomeva::gui::BrowserWindow::UrlFromArgument(args[1], QDir::currentPath()));
  window.show();
  return QApplication::exec();
}
