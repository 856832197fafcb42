// tomeva-help FILE: the help viewer, showing the user's guide FILE (an HTML file) with its
// contents list. Started by the program's help command as a program of its own, not waited for.
//
// TOMEVA_HELP_REPORT=path (for the window tests): once the contents list is built, the viewer
// scrolls to the last section as a click on it would, then writes to `path` the lines
// "title: ...", "sections: N", "last section in view: yes|no", "contents:" and the contents list
// (two spaces per level), and a picture of the window to `path`.png, and ends: 0 when the guide
// was shown with its contents, 1 when it could not be, 2 when the report could not be written.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <cstdio>

#include "gui/common/local_content_guard.h"
#include "gui/common/test_report.h"
#include "gui/common/web_engine_bootstrap.h"
#include "gui/help/help_window.h"

namespace {

constexpr char kReportVariable[] = "TOMEVA_HELP_REPORT";
// Scrolling is asynchronous in the page: it is looked at after this pause.
constexpr int kScrollSettleMs = 300;

// The last item of the contents in tree order (the deepest last one).
QTreeWidgetItem* LastItem(QTreeWidget* tree) {
  if (tree->topLevelItemCount() == 0) return nullptr;
  QTreeWidgetItem* item = tree->topLevelItem(tree->topLevelItemCount() - 1);
  while (item->childCount() > 0) item = item->child(item->childCount() - 1);
  return item;
}

void Finish(tomeva::gui::HelpWindow* window, const QString& path, bool ok, bool in_view) {
  QStringList lines = {
      QStringLiteral("title: ") + window->windowTitle(),
      QStringLiteral("sections: %1").arg(window->sections().size()),
      QStringLiteral("last section in view: ") +
          (in_view ? QStringLiteral("yes") : QStringLiteral("no")),
      QStringLiteral("contents:")};
  lines << window->ContentsLines();
  const bool written = tomeva::gui::WriteTestPicture(window, path) &&
                       tomeva::gui::WriteTestReport(path, lines);
  QCoreApplication::exit(!written ? 2 : ok ? 0 : 1);
}

void ReportContents(tomeva::gui::HelpWindow* window, const QString& path) {
  QObject::connect(window, &tomeva::gui::HelpWindow::contentsReady, window, [=](bool ok) {
    QTreeWidgetItem* last = ok ? LastItem(window->contents()) : nullptr;
    if (last == nullptr) {
      Finish(window, path, false, false);
      return;
    }
    window->ShowSection(last);
    QTimer::singleShot(kScrollSettleMs, window, [=] {
      const QString anchor = window->sections().last().anchor;
      window->view()->page()->runJavaScript(
          QStringLiteral("(function (e) { if (!e) return false;"
                         " var r = e.getBoundingClientRect();"
                         " return window.scrollY > 0 && r.top >= 0 && r.top < window.innerHeight;"
                         " })(document.getElementById('%1'))")
              .arg(anchor),
          [=](const QVariant& in_view) { Finish(window, path, true, in_view.toBool()); });
    });
  });
}

}  // namespace

int main(int argc, char** argv) {
  // The guide's pages may run scripts: the engine gets no way to the network of its own.
  const auto app =
      tomeva::gui::MakeWebEngineApplication(argc, argv, tomeva::gui::EngineNetwork::kClosed);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() != 2 || args[1].isEmpty()) {
    std::fputs("usage: tomeva-help FILE\n", stderr);
    return 2;
  }
  // The guide and what it shows come from the installation; its pages reach nothing else. The
  // guide's folder is named by the library's System.xml: its files are read as a library's.
  auto* guard = tomeva::gui::LocalContentGuard::InstallOn(QWebEngineProfile::defaultProfile(),
                                                          QDir::currentPath());
  guard->roots().AddLibraryFolder(QFileInfo(args[1]).absolutePath());
  tomeva::gui::HelpWindow window;
  const QString report = tomeva::gui::TestReportPath(kReportVariable);
  if (!report.isEmpty()) ReportContents(&window, report);
  window.Open(args[1]);
  window.show();
  return QApplication::exec();
}
