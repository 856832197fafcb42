// The window's desktop commands on the sample installation: help starts the help viewer as a
// program of its own on the installed guide, the publisher's button starts the browser window on
// the publisher's page, printing puts the right-hand page or the whole shown PDF into a PDF file
// with the page layout chosen in the page setup, a print that cannot be written is told, and
// Qt's own texts (message box buttons, the About box) are Chinese.
//
// The companion programs report what they showed to a file and end (TOMEVA_HELP_REPORT,
// TOMEVA_BROWSER_REPORT); the print goes to a file without its dialog (TOMEVA_PRINT_TO). The test
// runs from the program's own folder, where the program looks for its companion programs.
#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "base/file_util.h"
#include "base/mbstring.h"
#include "base/texts.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/settings/settings.h"
#include "gui/app/tomeva_app.h"
#include "gui/common/qt_translations.h"
#include "gui/frame/main_frame.h"
#include "gui/views/library_tree_ctrl.h"
#include "gui/views/tomeva_view.h"
#include "gui/views/tree_form_view.h"
#include "gui_test_support.h"

namespace tomeva::gui {
namespace {

using testing::RunJs;
using testing::TestApp;

constexpr int kTimeoutMs = 60000;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Keeps the picture a companion program saved beside its report as build/screenshots/`name`.
void KeepPicture(const QString& report, const char* name) {
  const QString dir = QStringLiteral(TOMEVA_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  const QString target = dir + QLatin1Char('/') + QString::fromLatin1(name);
  QFile::remove(target);
  QFile::copy(report + QStringLiteral(".png"), target);
}

// The report file a companion program wrote, as "key: value" lines and the lines after
// "contents:"; empty when it did not appear in time.
struct Report {
  QMap<QString, QString> values;
  QStringList contents;
};

Report WaitForReport(const QString& path) {
  Report report;
  QDeadlineTimer deadline(kTimeoutMs);
  while (!QFileInfo::exists(path) && !deadline.hasExpired()) QTest::qWait(100);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return report;
  bool in_contents = false;
  for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
    if (in_contents) {
      if (!line.isEmpty()) report.contents << line;
      continue;
    }
    if (line == QStringLiteral("contents:")) {
      in_contents = true;
      continue;
    }
    const int colon = line.indexOf(QStringLiteral(": "));
    if (colon > 0) report.values[line.left(colon)] = line.mid(colon + 2);
  }
  return report;
}

// All the text of a PDF file, page by page.
QStringList PdfPageTexts(const QString& path) {
  QPdfDocument pdf;
  QStringList pages;
  if (pdf.load(path) != QPdfDocument::Error::None) return pages;
  for (int i = 0; i < pdf.pageCount(); ++i) pages << pdf.getAllText(i).text();
  return pages;
}

// Runs `inspect` on the next modal dialog once it is open, while a command's exec() waits.
void WhenModalOpens(std::function<void(QWidget*)> inspect) {
  auto poll = std::make_shared<std::function<void(int)>>();
  *poll = [poll, inspect](int left) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr || left == 0) {
      inspect(modal);
      return;
    }
    QTimer::singleShot(50, [poll, left] { (*poll)(left - 1); });
  };
  QTimer::singleShot(50, [poll] { (*poll)(kTimeoutMs / 50); });
}

}  // namespace

class DesktopGuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void qtTextsAreChinese();
  void aboutBoxShowsTheWholeTitle();
  void helpStartsTheHelpViewerOnTheGuide();
  void helpViewerTellsAMissingGuide();
  void helpGuideScriptsReachNothingOutside();
  void publisherButtonOpensTheBrowserWindowOnThePublishersPage();
  void browserWindowTellsAPageThatCannotLoad();
  void printPutsTheShownPageIntoTheFile();
  void pageSetupIsKeptForTheNextPrint();
  void printOfAShownPdfHasAllItsPages();
  void aPrintThatCannotBeWrittenIsTold();
  void pdfPrintFailuresNameTheFile();
  void onePrintAtATime();
  void companionProgramsRefuseAMissingArgument();
  void cleanupTestCase();

 private:
  CMainFrame* frame() { return app_->main_frame(); }
  CTomevaView* view() { return frame()->html_view(); }
  CTomevaDoc* doc() { return app_->document(); }
  CLibraryTreeCtrl* tree() { return frame()->tree_view()->tree(); }
  QString Temp(const char* name) { return temp_.filePath(QString::fromLatin1(name)); }
  // Prints through the command to `file`; true when the view said the print succeeded.
  bool PrintTo(const QString& file);
  void Search(const QString& query);

  QTemporaryDir temp_;
  QString sample_;
  std::unique_ptr<TestApp> app_;
  QStringList messages_;  // what the frame and the tree pane told the user
};

void DesktopGuiTest::initTestCase() {
  QVERIFY(temp_.isValid());
  QVERIFY(testing::UseFoldersIn(temp_));
  // The companion programs are beside this test, as they are beside the program.
  QVERIFY(QFileInfo::exists(QCoreApplication::applicationDirPath() + "/tomeva-help"));
  QVERIFY(QFileInfo::exists(QCoreApplication::applicationDirPath() + "/tomeva-browser"));
  // The translations are installed as the program's main does, before the first window.
  QString missing;
  QVERIFY2(InstallQtChinese(&missing), qPrintable(missing));

  sample_ = temp_.filePath(QStringLiteral("sample"));
  QVERIFY(testing::InstallSample(sample_));
  app_ = std::make_unique<TestApp>();
  QVERIFY(app_->InitInstance());
  frame()->set_message_sink([this](const QString& text) { messages_.append(text); });
  frame()->tree_view()->set_message_sink([this](const QString& text) { messages_.append(text); });
  QVERIFY(testing::WaitForFirstPage(view()));
}

void DesktopGuiTest::qtTextsAreChinese() {
  // Without the catalogues Qt's texts stay English, and the file looked for is named.
  QString missing;
  QVERIFY(!InstallQtChineseFrom(Temp("no-translations"), &missing));
  QCOMPARE(missing, Temp("no-translations") + QStringLiteral("/qtbase_zh_CN.qm"));
  QMessageBox box(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"),
                  QMessageBox::Ok | QMessageBox::Cancel);
  QCOMPARE(box.button(QMessageBox::Ok)->text(), U("确定"));
  QCOMPARE(box.button(QMessageBox::Cancel)->text(), U("取消"));
  QLineEdit edit;
  // A text field's own menu: "Select All" in Chinese.
  std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (QAction* act : menu->actions()) texts << act->text();
  QVERIFY2(texts.join(QLatin1Char('|')).contains(U("全选")), qPrintable(texts.join('|')));
}

void DesktopGuiTest::aboutBoxShowsTheWholeTitle() {
  const QString title = QString::fromUtf8(TextUtf8(kTextAppTitle));
  QString shown_text, ok_text, window_title;
  int width = 0;
  WhenModalOpens([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) return;
    shown_text = box->text();
    window_title = box->windowTitle();
    width = box->width();
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok_text = ok->text();
    QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
    box->grab().save(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/about-box.png"));
    box->accept();
  });
  frame()->RouteCommand(kCmdAbout);
  QCOMPARE(window_title, title);
  QVERIFY2(shown_text.contains(title), qPrintable(shown_text));
  // The version as the product writes it, on its own line: "V4.0.0.1", no word before it.
  QVERIFY2(shown_text.contains(QStringLiteral("<p>V4.0.0.1</p>")), qPrintable(shown_text));
  QCOMPARE(ok_text, U("确定"));
  // Wide enough for the whole title in the title bar's (bold) font.
  QFont bold = frame()->font();
  bold.setBold(true);
  QVERIFY2(width > QFontMetrics(bold).horizontalAdvance(title) + 100,
           qPrintable(QString::number(width)));
}

void DesktopGuiTest::helpStartsTheHelpViewerOnTheGuide() {
  const QString report_path = Temp("help-report.txt");
  qputenv("TOMEVA_HELP_REPORT", report_path.toLocal8Bit());
  QElapsedTimer clock;
  clock.start();
  frame()->RouteCommand(kCmdHelp);
  const Report report = WaitForReport(report_path);
  qInfo("help command to the viewer's report: %lld ms", static_cast<long long>(clock.elapsed()));
  qunsetenv("TOMEVA_HELP_REPORT");
  QVERIFY(QFileInfo::exists(report_path + QStringLiteral(".png")));
  KeepPicture(report_path, "help-viewer.png");
  // The viewer ran as its own program (it wrote the report), on the guide of the `path` folder.
  QCOMPARE(report.values.value(QStringLiteral("title")), U("Tomeva 使用说明"));
  QVERIFY(report.values.value(QStringLiteral("sections")).toInt() >= 20);
  QCOMPARE(report.values.value(QStringLiteral("last section in view")), QStringLiteral("yes"));
  // The contents list nests the sections under the guide's title, and names the topics.
  QVERIFY(!report.contents.isEmpty());
  QCOMPARE(report.contents.first(), U("Tomeva 使用说明"));
  for (const char* topic : {"  浏览书库", "    三种查询模式", "    查询语言", "    范围：按字段检索",
                            "    分类：只检索选定的书", "    历史", "  PDF 原件", "  导入新书",
                            "    字体大小", "  打印"}) {
    QVERIFY2(report.contents.contains(U(topic)), topic);
  }
  QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
}

void DesktopGuiTest::helpViewerTellsAMissingGuide() {
  const struct {
    const char* name;
    QString guide;
    QString report;
    int exit_code;
  } cases[] = {
      {"missing guide", Temp("none/Tomeva.htm"), Temp("missing-report.txt"), 1},
      {"report cannot be written", sample_ + "/help/Tomeva.htm", Temp("none/report.txt"), 2},
  };
  for (const auto& c : cases) {
    QProcess help;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TOMEVA_HELP_REPORT"), c.report);
    help.setProcessEnvironment(env);
    help.start(QCoreApplication::applicationDirPath() + "/tomeva-help", {c.guide});
    QVERIFY2(help.waitForFinished(kTimeoutMs), c.name);
    QCOMPARE(help.exitCode(), c.exit_code);
    if (c.exit_code == 1) {
      const Report report = WaitForReport(c.report);
      QCOMPARE(report.values.value(QStringLiteral("sections")), QStringLiteral("0"));
      QVERIFY(report.contents.isEmpty());
    } else {
      QVERIFY2(help.readAllStandardError().contains("cannot write"), c.name);
    }
  }
}

// The guide is a page from the installation: its script runs (the contents show what it found)
// but can neither read a file outside nor reach a server.
void DesktopGuiTest::helpGuideScriptsReachNothingOutside() {
  QTcpServer server;
  QVERIFY(server.listen(QHostAddress::LocalHost));
  int contacts = 0;
  connect(&server, &QTcpServer::newConnection, this, [&] {
    while (server.nextPendingConnection() != nullptr) ++contacts;
  });
  const QString guide = sample_ + "/help/hostile.htm";
  {
    QFile file(guide);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral(
                   "<html><head><meta charset='utf-8'><title>guide</title></head><body>"
                   "<h1>Guide</h1><script>var r = 'refused';"
                   "try { var x = new XMLHttpRequest(); x.open('GET', 'file:///etc/passwd', false);"
                   " x.send(); r = 'leaked ' + x.responseText.length; } catch (e) {}"
                   "try { new WebSocket('ws://127.0.0.1:%1/help'); } catch (e) {}"
                   "fetch('http://127.0.0.1:%1/help').catch(function () {});"
                   "var h = document.createElement('h2'); h.textContent = r;"
                   " document.body.appendChild(h);</script></body></html>")
                   .arg(server.serverPort())
                   .toUtf8());
  }
  const QString report_path = Temp("hostile-help.txt");
  QProcess help;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TOMEVA_HELP_REPORT"), report_path);
  help.setProcessEnvironment(env);
  help.setWorkingDirectory(sample_);
  help.start(QCoreApplication::applicationDirPath() + "/tomeva-help", {guide});
  QVERIFY(help.waitForFinished(kTimeoutMs));
  QCOMPARE(help.exitCode(), 0);
  const Report report = WaitForReport(report_path);
  QCOMPARE(report.contents, QStringList({QStringLiteral("Guide"), QStringLiteral("  refused")}));
  QTest::qWait(300);
  QCOMPARE(contacts, 0);
}

void DesktopGuiTest::publisherButtonOpensTheBrowserWindowOnThePublishersPage() {
  const QString report_path = Temp("browser-report.txt");
  qputenv("TOMEVA_BROWSER_REPORT", report_path.toLocal8Bit());
  QElapsedTimer clock;
  clock.start();
  frame()->action(kCmdPublisherSite)->trigger();
  const Report report = WaitForReport(report_path);
  qInfo("publisher command to the browser's report: %lld ms", static_cast<long long>(clock.elapsed()));
  qunsetenv("TOMEVA_BROWSER_REPORT");
  QVERIFY(QFileInfo::exists(report_path + QStringLiteral(".png")));
  KeepPicture(report_path, "publisher-page.png");
  const QUrl url(report.values.value(QStringLiteral("url")));
  QVERIFY2(url.isLocalFile(), qPrintable(url.toString()));
  QCOMPARE(QFileInfo(url.toLocalFile()).canonicalFilePath(),
           QFileInfo(sample_ + "/publisher.htm").canonicalFilePath());
  QCOMPARE(report.values.value(QStringLiteral("loaded")), QStringLiteral("yes"));
  QCOMPARE(report.values.value(QStringLiteral("title")), U("关于出版者"));
  QVERIFY(report.values.value(QStringLiteral("text")).contains(U("如何获得新书")));
}

void DesktopGuiTest::browserWindowTellsAPageThatCannotLoad() {
  // A file other than the installation's publisher.htm, a data: page and a javascript: address
  // are refused: the window says so (the report's page) and shows nothing of theirs.
  QVERIFY(QDir().mkpath(Temp("other")));
  {
    QFile other(Temp("other/publisher.htm"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("<html><body>other publisher</body></html>");
  }
  const struct {
    const char* name;
    QString address;
    QString report;
    int exit_code;
    bool refused;
  } cases[] = {
      {"page missing", QStringLiteral("http://127.0.0.1:1/none.htm"), Temp("missing-page.txt"), 1,
       false},
      {"report cannot be written", sample_ + "/publisher.htm", Temp("none/report.txt"), 2, false},
      {"a file outside", QStringLiteral("file:///etc/passwd"), Temp("file.txt"), 0, true},
      {"a path outside", QStringLiteral("/etc/passwd"), Temp("path.txt"), 0, true},
      {"another publisher.htm", Temp("other/publisher.htm"), Temp("other.txt"), 0, true},
      // Shown, its text would read "data page"; its address (which the refusal names) does not.
      {"a data: page", QStringLiteral("data:text/html,<title>data</title><p>data<b></b> page</p>"),
       Temp("data.txt"), 0, true},
      {"a javascript: address", QStringLiteral("javascript:while(true){}"), Temp("js.txt"), 0,
       true},
      // The program's own page for an installation without a publisher is shown, not refused.
      {"the program's no-publisher page", QString::fromStdString(NoPublisherSitePage()),
       Temp("no-publisher.txt"), 0, false},
  };
  for (const auto& c : cases) {
    QProcess browser;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TOMEVA_BROWSER_REPORT"), c.report);
    browser.setProcessEnvironment(env);
    browser.setWorkingDirectory(sample_);
    browser.start(QCoreApplication::applicationDirPath() + "/tomeva-browser", {c.address});
    QVERIFY2(browser.waitForFinished(kTimeoutMs), c.name);
    QCOMPARE(browser.exitCode(), c.exit_code);
    if (c.exit_code == 1) {
      QCOMPARE(WaitForReport(c.report).values.value(QStringLiteral("loaded")),
               QStringLiteral("no"));
    }
    if (!c.refused && c.exit_code == 0) {
      QVERIFY2(WaitForReport(c.report)
                   .values.value(QStringLiteral("text"))
                   .contains(U("本书库没有登记出版社的网址")),
               c.name);
    }
    if (c.refused) {
      const Report report = WaitForReport(c.report);
      QCOMPARE(report.values.value(QStringLiteral("title")), U("无法打开此地址"));
      const QString text = report.values.value(QStringLiteral("text"));
      QVERIFY2(text.contains(U("浏览器窗口不打开此地址")), c.name);
      QVERIFY2(!text.contains(QStringLiteral("root:")) && !text.contains(QStringLiteral("data page")) &&
                   !text.contains(QStringLiteral("other publisher")),
               c.name);
    }
  }
}

void DesktopGuiTest::Search(const QString& query) {
  frame()->query_box()->setText(query);
  frame()->RouteCommand(kCmdSearch);
  QVERIFY(doc()->results().current() != nullptr);
  QVERIFY(doc()->results().current()->GetTotalCount() > 0);
  QTRY_VERIFY_WITH_TIMEOUT(!view()->page()->isLoading(), kTimeoutMs);
}

bool DesktopGuiTest::PrintTo(const QString& file) {
  qputenv(CMainFrame::kPrintToVariable, file.toLocal8Bit());
  QSignalSpy done(view(), &CTomevaView::printDone);
  QElapsedTimer clock;
  clock.start();
  frame()->RouteCommand(kCmdPrint);
  const bool finished = done.count() > 0 || done.wait(kTimeoutMs);
  qInfo("print to %s: %lld ms, %lld bytes", qPrintable(QFileInfo(file).fileName()),
        static_cast<long long>(clock.elapsed()), static_cast<long long>(QFileInfo(file).size()));
  qunsetenv(CMainFrame::kPrintToVariable);
  return finished && done.first().at(0).toBool();
}

void DesktopGuiTest::printPutsTheShownPageIntoTheFile() {
  Search(U("明月"));
  // What the record page shows: its words must be in the printed file.
  const QString shown = RunJs(view(), QStringLiteral("document.body.innerText")).toString();
  QVERIFY2(shown.contains(U("明月")), qPrintable(shown.left(200)));
  QVERIFY(frame()->action(kCmdPrint)->isEnabled());
  QVERIFY(frame()->action(kCmdPrintSetup)->isEnabled());

  const QString file = Temp("page.pdf");
  qputenv(CMainFrame::kPrintToVariable, file.toLocal8Bit());
  QSignalSpy done(view(), &CTomevaView::printDone);
  frame()->RouteCommand(kCmdPrint);
  // One print at a time: the command is off while the engine prints.
  QVERIFY(!frame()->action(kCmdPrint)->isEnabled());
  QVERIFY(done.wait(kTimeoutMs));
  qunsetenv(CMainFrame::kPrintToVariable);
  QVERIFY2(done.first().at(0).toBool(), qPrintable(done.first().at(1).toString()));
  QVERIFY(frame()->action(kCmdPrint)->isEnabled());

  const QString printed = PdfPageTexts(file).join(QString()).simplified().remove(QLatin1Char(' '));
  QVERIFY2(printed.contains(U("明月")), qPrintable(printed.left(300) + QStringLiteral(" | ") + shown.left(300)));
  // Each line of the page's text is in the print (spaces and line ends aside).
  int lines = 0;
  for (QString line : shown.split(QLatin1Char('\n'))) {
    line = line.simplified().remove(QLatin1Char(' '));
    if (line.size() < 2) continue;
    QVERIFY2(printed.contains(line), qPrintable(line));
    ++lines;
  }
  QVERIFY(lines >= 3);
  QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
}

void DesktopGuiTest::pageSetupIsKeptForTheNextPrint() {
  QString title;
  bool landscape_chosen = false;
  WhenModalOpens([&](QWidget* modal) {
    auto* dialog = qobject_cast<QPageSetupDialog*>(modal);
    if (dialog == nullptr) return;
    title = dialog->windowTitle();
    if (auto* landscape = dialog->findChild<QRadioButton*>(QStringLiteral("landscape"))) {
      landscape->click();
      landscape_chosen = true;
    }
    dialog->accept();
  });
  frame()->RouteCommand(kCmdPrintSetup);
  QCOMPARE(title, U("打印设置"));
  QVERIFY(landscape_chosen);

  const QString file = Temp("landscape.pdf");
  QVERIFY(PrintTo(file));
  QPdfDocument pdf;
  QCOMPARE(pdf.load(file), QPdfDocument::Error::None);
  QVERIFY(pdf.pageCount() >= 1);
  const QSizeF size = pdf.pagePointSize(0);
  QVERIFY2(size.width() > size.height(),
           qPrintable(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height())));
  // Back to portrait for the tests after this one.
  frame()->printer()->setPageOrientation(QPageLayout::Portrait);
}

void DesktopGuiTest::printOfAShownPdfHasAllItsPages() {
  // The hit's PDF in the viewer page, which draws only the pages in view.
  QTRY_VERIFY_WITH_TIMEOUT(tree()->topLevelItemCount() == 1, kTimeoutMs);
  frame()->action(kCmdPdf)->trigger();
  const std::string pdf_path = doc()->browse().current_pdf_path;
  QVERIFY2(EndsWith(pdf_path, ".pdf"), pdf_path.c_str());
  QTRY_VERIFY_WITH_TIMEOUT(view()->IsShowingPdf(pdf_path), kTimeoutMs);
  const QString source = QFileInfo(QString::fromStdString(ResolvePath(pdf_path))).absoluteFilePath();
  QCOMPARE(QFileInfo(view()->ShownPdfFile()).canonicalFilePath(),
           QFileInfo(source).canonicalFilePath());
  QPdfDocument original;
  QCOMPARE(original.load(source), QPdfDocument::Error::None);
  QVERIFY(original.pageCount() > 1);

  const QString file = Temp("shown-pdf.pdf");
  QVERIFY(PrintTo(file));
  QPdfDocument printed;
  QCOMPARE(printed.load(file), QPdfDocument::Error::None);
  QCOMPARE(printed.pageCount(), original.pageCount());
  qInfo("shown PDF printed whole: %d pages", printed.pageCount());
  // Every page was drawn: none of them is blank.
  for (int page : {0, printed.pageCount() - 1}) {
    const QImage image = printed.render(page, QSize(200, 280));
    QVERIFY(!image.isNull());
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.alpha() > 0 && c.lightness() < 128) ++dark;
      }
    }
    QVERIFY2(dark > 50, qPrintable(QStringLiteral("page %1: %2 dark pixels").arg(page).arg(dark)));
  }
  QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
}

void DesktopGuiTest::aPrintThatCannotBeWrittenIsTold() {
  // The shown PDF first, then the web page: both ways of printing tell the user.
  const QString unwritable = Temp("none/print.pdf");
  QVERIFY(!view()->ShownPdfFile().isEmpty());
  QVERIFY(!PrintTo(unwritable));
  QCOMPARE(messages_.size(), 1);
  QVERIFY2(messages_.last().contains(unwritable), qPrintable(messages_.last()));

  frame()->RouteCommand(kCmdHome);
  QTRY_VERIFY_WITH_TIMEOUT(view()->ShownPdfFile().isEmpty() && !view()->page()->isLoading() &&
                               !view()->render_after_load(),
                           kTimeoutMs);
  QVERIFY(!PrintTo(unwritable));
  QCOMPARE(messages_.size(), 2);
  QVERIFY2(messages_.last().contains(unwritable), qPrintable(messages_.last()));
  QVERIFY(!QFileInfo::exists(unwritable));
  // The next print works again.
  QVERIFY(frame()->action(kCmdPrint)->isEnabled());
  QVERIFY(PrintTo(Temp("after-failure.pdf")));
  QCOMPARE(messages_.size(), 2);
}

void DesktopGuiTest::pdfPrintFailuresNameTheFile() {
  const QString broken = Temp("broken.pdf");
  QFile file(broken);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QVERIFY(file.write("%PDF-1.4 this is not a PDF\n") > 0);
  file.close();
  const QString good = sample_ + "/pdf/unembedded.pdf";
  const struct {
    const char* name;
    QString pdf;
    QString output;
    QString named;  // what the message must name
  } cases[] = {
      {"damaged PDF", broken, Temp("out1.pdf"), broken},
      {"missing PDF", Temp("none.pdf"), Temp("out2.pdf"), Temp("none.pdf")},
      {"output cannot be written", good, Temp("none/out3.pdf"), Temp("none/out3.pdf")},
  };
  for (const auto& c : cases) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(c.output);
    QString failure;
    QVERIFY2(!CTomevaView::PrintPdfFile(c.pdf, &printer, &failure), c.name);
    QVERIFY2(failure.contains(c.named), qPrintable(failure));
  }
  // The same printer and a readable PDF: one page printed.
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(Temp("out4.pdf"));
  QString failure;
  QVERIFY2(CTomevaView::PrintPdfFile(good, &printer, &failure), qPrintable(failure));
  QPdfDocument printed;
  QCOMPARE(printed.load(Temp("out4.pdf")), QPdfDocument::Error::None);
  QCOMPARE(printed.pageCount(), 1);
}

void DesktopGuiTest::onePrintAtATime() {
  QVERIFY(view()->ShownPdfFile().isEmpty());
  QVERIFY(view()->CanPrint());
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(Temp("first.pdf"));
  QSignalSpy done(view(), &CTomevaView::printDone);
  view()->Print(&printer);
  QVERIFY(!view()->CanPrint());
  // A second print while the first is under way is refused and told, the first goes on.
  view()->Print(&printer);
  QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, kTimeoutMs);
  int refused = 0, printed = 0;
  for (const QList<QVariant>& signal : done) {
    if (signal.at(0).toBool()) {
      ++printed;
    } else {
      ++refused;
      QCOMPARE(signal.at(1).toString(), U("上一个打印任务尚未完成。"));
    }
  }
  QCOMPARE(printed, 1);
  QCOMPARE(refused, 1);
  QVERIFY(QFileInfo(Temp("first.pdf")).size() > 0);
  QVERIFY(view()->CanPrint());
}

void DesktopGuiTest::companionProgramsRefuseAMissingArgument() {
  for (const char* program : {"/tomeva-help", "/tomeva-browser"}) {
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + QString::fromLatin1(program), {});
    QVERIFY2(process.waitForFinished(kTimeoutMs), program);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY2(process.readAllStandardError().contains("usage:"), program);
  }
}

void DesktopGuiTest::cleanupTestCase() { app_.reset(); }

}  // namespace tomeva::gui

QTEST_MAIN(tomeva::gui::DesktopGuiTest)
#include "desktop_gui_test.moc"
