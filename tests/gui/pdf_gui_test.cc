// A hit's PDF in the real window: the PDF command and the pager's PDF cell show the hit's PDF in
// the viewer page in the right-hand view, the highlighter sends the query's words through the
// viewer host to the plug-in, and the words come up marked with the first mark in view; in the
// library the book's PDF is shown without marks. A screenshot goes to
// <build>/screenshots/pdf-highlight.png.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWebEngineSettings>
#include <atomic>
#include <memory>
#include <thread>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/engine/highlight.h"
#include "core/pdf/highlight_client.h"
#include "gui/app/tomeva_app.h"
#include "gui/frame/main_frame.h"
#include "gui/views/library_tree_ctrl.h"
#include "gui/views/pager_strip.h"
#include "gui/views/pdf_viewer_host.h"
#include "gui/views/tomeva_view.h"
#include "gui/views/tree_form_view.h"
#include "gui_test_support.h"
#include "platform/linux_platform.h"

namespace tomeva::gui {
namespace {

using testing::RunJs;
using testing::TestApp;

constexpr int kTimeoutMs = 60000;
// The pager's last cell opens the PDF.
constexpr int kPdfCell = 6;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The first mark's text, or "" while the page has none or the mark is not inside the visible
// part of the pages' box.
constexpr char kFirstMarkInView[] = R"JS(
(function () {
  var m = document.querySelector('mark.hilite');
  var box = document.getElementById('pages');
  if (!m || !box) return '';
  var r = m.getBoundingClientRect(), b = box.getBoundingClientRect();
  if (r.height <= 0 || r.top < b.top || r.bottom > b.bottom) return '';
  return m.textContent;
})()
)JS";

}  // namespace

class PdfGuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void pdfCommandShowsTheHitsPdfWithItsWordsMarked();
  void pagerCellShowsItAgainMarked();
  void secondHighlightReplacesTheFirstAlsoAfterAZoom();
  void pdfCommandWhileTheStartPageLoadsWins();
  void libraryBookPdfIsShownWithoutMarks();
  void everyOpenerMarksTheWordsAndLeavesTheNextPageWhole();
  void cleanupTestCase();

 private:
  CMainFrame* frame() { return app_->main_frame(); }
  CTomevaView* view() { return frame()->html_view(); }
  CLibraryTreeCtrl* tree() { return frame()->tree_view()->tree(); }
  CTomevaDoc* doc() { return app_->document(); }
  int Marks() {
    return RunJs(view(), QStringLiteral("document.querySelectorAll('mark.hilite').length"))
        .toInt();
  }
  QString FirstMarkInView() { return RunJs(view(), QString::fromLatin1(kFirstMarkInView)).toString(); }
  // The viewer page's URL for the PDF the document opened last.
  QUrl ExpectedViewerUrl() {
    return CMoreHtmlView::ViewerUrl(doc()->settings().pdf_viewer_path,
                                    CMoreHtmlView::LocationUrl(doc()->browse().current_pdf_path));
  }
  // Waits until the page holds at least one mark and the first is in view; its text then.
  QString WaitForMarkInView();
  // Types `query` into the query box and runs it.
  void Search(const QString& query);
  // Sends `words` (UTF-8, as the highlighter takes them) for the PDF shown now, from a worker
  // as the highlighter sends them, and waits for the plug-in's answer: its status.
  QString HighlightShownPdf(const char* words);
  // Waits until the viewer page has loaded `pdf` and its plug-in has answered the highlight
  // the opener started (or, with `marked` false, until a while has passed without marks);
  // the number of marks then, every one holding only characters of `words`.
  int WaitForViewerMarks(const std::string& pdf, bool marked, const QString& words);
  // Waits for the page that follows a PDF: a page of its own, with nothing of the viewer page
  // (its script, its page box) in it, and still so a while later.
  void WaitForPageOfItsOwn();
  QTreeWidgetItem* RecordItem(const std::string& file);
  void Click(QTreeWidgetItem* item);
  bool IsQueryCharacters(const QString& text) {
    if (text.isEmpty()) return false;
    for (QChar c : text) {
      if (!query_.contains(c)) return false;
    }
    return true;
  }

  QTemporaryDir temp_;
  std::unique_ptr<TestApp> app_;
  QStringList messages_;  // what the tree pane told the user
  const QString query_ = U("明月");
};

QString PdfGuiTest::WaitForMarkInView() {
  QDeadlineTimer deadline(kTimeoutMs);
  QString text;
  while (!deadline.hasExpired()) {
    text = FirstMarkInView();
    if (!text.isEmpty()) return text;
    QTest::qWait(50);
  }
  qWarning() << "no mark in view; plug-in:"
             << RunJs(view(), QStringLiteral("window.hiliteService ?"
                                             " JSON.stringify(hiliteService.last) : 'none'"));
  return text;
}

void PdfGuiTest::Search(const QString& query) {
  frame()->activateWindow();
  QLineEdit* box = frame()->query_box();
  box->setFocus();
  box->clear();
  for (QChar c : query) QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), {});
  QTest::keyClick(box, Qt::Key_Return);
}

QString PdfGuiTest::HighlightShownPdf(const char* words) {
  const std::string pdf = doc()->browse().current_pdf_path;
  RunJs(view(), QStringLiteral("hiliteService.last = {status: 'sent'}; true"));
  platform::LinuxPlatform platform;
  const std::vector<std::string> keywords = SplitKeywords(Utf8ToGbk(words));
  std::atomic<int> outcome{-1};
  std::thread sender([&] {
    outcome = static_cast<int>(HighlightInViewer(platform, pdf, keywords, nullptr));
  });
  QDeadlineTimer deadline(kTimeoutMs);
  QString status;
  while (!deadline.hasExpired()) {
    status = RunJs(view(), QStringLiteral("hiliteService.last.status")).toString();
    if (outcome.load() >= 0 && status != QLatin1String("sent") &&
        status != QLatin1String("busy")) {
      break;
    }
    QTest::qWait(50);
  }
  sender.join();
  if (status == QLatin1String("failed")) {
    qWarning() << "plug-in:" << RunJs(view(), QStringLiteral("hiliteService.last.error"));
  }
  return status;
}

int PdfGuiTest::WaitForViewerMarks(const std::string& pdf, bool marked, const QString& words) {
  QDeadlineTimer deadline(kTimeoutMs);
  while (!deadline.hasExpired() &&
         !(view()->IsShowingPdf(pdf) &&
           RunJs(view(), QStringLiteral("!!(window.pdfViewer && pdfViewer.loaded &&"
                                        " pdfViewer.pluginLoaded)"))
               .toBool())) {
    QTest::qWait(50);
  }
  if (!view()->IsShowingPdf(pdf)) {
    qWarning("the viewer does not show %s", pdf.c_str());
    return -1;
  }
  if (marked) {
    if (WaitForMarkInView().isEmpty()) return 0;
  } else {
    QTest::qWait(1000);
  }
  const bool only_words =
      RunJs(view(), QStringLiteral("Array.from(document.querySelectorAll('mark.hilite'))"
                                   ".every(m => Array.from(m.textContent).every(c => %1.includes(c)))")
                        .arg(CMoreHtmlView::JsString(words)))
          .toBool();
  if (!only_words) return -1;
  return Marks();
}

void PdfGuiTest::WaitForPageOfItsOwn() {
  const QString own = QStringLiteral(
      "!window.pdfViewer && !window.hiliteService && !document.getElementById('pages') &&"
      " !!document.body && document.body.innerText.trim().length > 0");
  auto shown = [&] {
    return !view()->viewer_page_shown() && !view()->render_after_load() &&
           !view()->page()->isLoading() && RunJs(view(), own).toBool();
  };
  QTRY_VERIFY_WITH_TIMEOUT(shown(), kTimeoutMs);
  // Long enough for a render that was waiting to put the record into the wrong page.
  QTest::qWait(800);
  QVERIFY(shown());
}

QTreeWidgetItem* PdfGuiTest::RecordItem(const std::string& file) {
  const auto& items = tree()->items();
  for (size_t i = 0; i < items.size(); ++i) {
    auto it = doc()->browse().library.record_map.find(std::to_string(items[i].data));
    if ((items[i].data & 0xFFFF) == 1 && it != doc()->browse().library.record_map.end() &&
        it->second == file) {
      return tree()->ItemOf(static_cast<int>(i));
    }
  }
  return nullptr;
}

void PdfGuiTest::Click(QTreeWidgetItem* item) {
  QVERIFY(item != nullptr);
  tree()->scrollToItem(item);
  QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(item).center());
}

void PdfGuiTest::initTestCase() {
  QVERIFY(temp_.isValid());
  QVERIFY(testing::UseFoldersIn(temp_));
  const QString sample = temp_.filePath(QStringLiteral("sample"));
  // More of the maker's options for timing runs (make pdf-timing asks for a 300-page PDF).
  const QStringList maker_options = QString::fromLocal8Bit(qgetenv("TOMEVA_PDF_TEST_SAMPLE_ARGS"))
                                        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
  QVERIFY(testing::InstallSample(sample, maker_options));
  // The maker ships the plug-in beside the viewer, not in it: start-up installs it.
  QVERIFY(!QFileInfo::exists(QStringLiteral("viewer/plug_ins/VazeZududi.api")));

  app_ = std::make_unique<TestApp>();
  QVERIFY(app_->InitInstance());
  QCOMPARE(QString::fromStdString(doc()->settings().pdf_viewer_path),
           QDir(sample).absoluteFilePath(QStringLiteral("viewer/viewer.html")));
  QVERIFY(QFileInfo::exists(QStringLiteral("viewer/plug_ins/VazeZududi.api")));
  QVERIFY(app_->viewer_host() != nullptr);
  frame()->tree_view()->set_message_sink([this](const QString& text) { messages_.append(text); });
  QVERIFY(testing::WaitForFirstPage(view()));
  // The engine's own PDF viewer stays off: only the viewer page can mark words.
  QVERIFY(!view()->page()->settings()->testAttribute(QWebEngineSettings::PdfViewerEnabled));
  QVERIFY(!view()->page()->settings()->testAttribute(QWebEngineSettings::PluginsEnabled));
}

void PdfGuiTest::pdfCommandShowsTheHitsPdfWithItsWordsMarked() {
  frame()->activateWindow();
  QLineEdit* box = frame()->query_box();
  box->setFocus();
  box->clear();
  for (QChar c : query_) QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), {});
  QTest::keyClick(box, Qt::Key_Return);
  QVERIFY(doc()->switches().search_mode);
  QVERIFY(doc()->results().current() != nullptr);
  QVERIFY(doc()->results().current()->GetTotalCount() > 0);
  // A hit is chosen in the tree, as the command asks of the user (the second: the first is
  // current already, and clicking it changes nothing).
  QTRY_VERIFY_WITH_TIMEOUT(tree()->topLevelItemCount() == 1, kTimeoutMs);
  QTreeWidgetItem* hit = tree()->topLevelItem(0)->child(1);
  QVERIFY(hit != nullptr);
  tree()->scrollToItem(hit);
  QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(hit).center());
  QTRY_VERIFY_WITH_TIMEOUT(doc()->browse().selected_item >= 0, kTimeoutMs);

  QElapsedTimer clock;
  clock.start();
  frame()->action(kCmdPdf)->trigger();
  const std::string pdf = doc()->browse().current_pdf_path;
  QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join(QLatin1Char('\n'))));
  QVERIFY2(EndsWith(pdf, ".pdf"),
           doc()->results().current()->GetHit(doc()->cursor().record_index()).xml.c_str());
  QVERIFY(FileExists(pdf));
  const QString first = WaitForMarkInView();
  const qint64 elapsed = clock.elapsed();
  QVERIFY2(IsQueryCharacters(first), qPrintable(first));
  qInfo("PDF command to the first mark in view: %lld ms (%s)", elapsed, pdf.c_str());
  QCOMPARE(view()->url(), ExpectedViewerUrl());
  QVERIFY(view()->IsShowingPdf(pdf));
  // Every mark holds the query's characters only, and there are as many as the plug-in found.
  QVERIFY(RunJs(view(), QStringLiteral("Array.from(document.querySelectorAll('mark.hilite'))"
                                       ".every(m => /^[明月]+$/.test(m.textContent))"))
              .toBool());
  QCOMPARE(RunJs(view(), QStringLiteral("hiliteService.last.status")).toString(),
           QStringLiteral("done"));
  QVERIFY(RunJs(view(), QStringLiteral("hiliteService.last.found")).toInt() > 0);
  QCOMPARE(app_->viewer_host()->handed_over(), 1);
  QVERIFY2(app_->recorded.isEmpty(), qPrintable(app_->recorded.join(QLatin1Char('\n'))));

  QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
  QTest::qWait(300);
  QImage shot = frame()->grab().toImage();
  QVERIFY(!shot.isNull());
  QVERIFY(shot.save(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/pdf-highlight.png")));
}

void PdfGuiTest::pagerCellShowsItAgainMarked() {
  // A mark left over from the page before must not pass for a new one.
  QVERIFY(RunJs(view(), QStringLiteral("window.__before = true; true")).toBool());
  const int handed = app_->viewer_host()->handed_over();
  CPagerStrip* pager = frame()->tree_view()->pager();
  QTest::mouseClick(pager, Qt::LeftButton, {}, QPoint(16 + 32 * kPdfCell, 16));
  QTRY_VERIFY_WITH_TIMEOUT(!RunJs(view(), QStringLiteral("!!window.__before")).toBool(),
                           kTimeoutMs);
  QVERIFY(IsQueryCharacters(WaitForMarkInView()));
  QCOMPARE(view()->url(), ExpectedViewerUrl());
  QCOMPARE(app_->viewer_host()->handed_over(), handed + 1);
}

// A second highlight on the shown PDF replaces the first: it takes the place of marks that share
// a text item, and no mark of the first comes back when the pages are drawn again at another
// size.
void PdfGuiTest::secondHighlightReplacesTheFirstAlsoAfterAZoom() {
  QVERIFY(view()->IsShowingPdf(doc()->browse().current_pdf_path));
  // A text item of the first page with three different characters or more: its first and last
  // are marked first (two marks in one item, the case that failed), then its middle one alone.
  const QStringList chars =
      RunJs(view(), QStringLiteral(
                        "(function () { var divs = pdfViewer.textDivs(1) || [];"
                        " for (var d of divs) { var t = Array.from(d.textContent.trim());"
                        " if (t.length >= 3 && new Set(t).size === t.length &&"
                        " t.every(c => /[\u4e00-\u9fff]/.test(c)))"
                        " return [t[0], t[t.length - 1], t[1]]; } return []; })()"))
          .toStringList();
  QCOMPARE(chars.size(), 3);
  const QByteArray both = (chars[0] + QLatin1Char(' ') + chars[1]).toUtf8();
  QCOMPARE(HighlightShownPdf(both.constData()), QStringLiteral("done"));
  QTRY_VERIFY_WITH_TIMEOUT(RunJs(view(), QStringLiteral(
                                             "Array.from(new Set(Array.from(document."
                                             "querySelectorAll('mark.hilite')).map(m =>"
                                             " m.parentNode))).some(s =>"
                                             " s.querySelectorAll('mark.hilite').length >= 2)"))
                               .toBool(),
                           kTimeoutMs);
  const QByteArray middle = chars[2].toUtf8();
  QCOMPARE(HighlightShownPdf(middle.constData()), QStringLiteral("done"));
  const QString only_middle =
      QStringLiteral("document.querySelectorAll('mark.hilite').length > 0 &&"
                     " Array.from(document.querySelectorAll('mark.hilite')).every(m =>"
                     " Array.from(m.textContent).every(c => c === %1))")
          .arg(CMoreHtmlView::JsString(chars[2]));
  QTRY_VERIFY_WITH_TIMEOUT(RunJs(view(), only_middle).toBool(), kTimeoutMs);
  // A zoom draws every page again, each with the marks the plug-in keeps for it.
  const double scale = RunJs(view(), QStringLiteral("pdfViewer.scale")).toDouble();
  RunJs(view(), QStringLiteral("pdfViewer.setScale(pdfViewer.scale * 1.25); true"));
  QTRY_VERIFY_WITH_TIMEOUT(RunJs(view(), QStringLiteral("pdfViewer.scale")).toDouble() > scale,
                           kTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(RunJs(view(), only_middle).toBool(), kTimeoutMs);
  QTest::qWait(1000);
  QVERIFY(RunJs(view(), only_middle).toBool());
  RunJs(view(), QStringLiteral("pdfViewer.setScale(%1); true").arg(scale));
}

// The next record leaves the PDF through the start page and renders the record once that has
// loaded; a PDF command given before then is what the user sees, not the record page.
void PdfGuiTest::pdfCommandWhileTheStartPageLoadsWins() {
  QVERIFY(view()->viewer_page_shown());
  doc()->OnPageButtonClick("B2");
  QVERIFY(view()->render_after_load());
  frame()->action(kCmdPdf)->trigger();
  const std::string pdf = doc()->browse().current_pdf_path;
  QVERIFY(EndsWith(pdf, ".pdf"));
  QTRY_VERIFY_WITH_TIMEOUT(view()->IsShowingPdf(pdf), kTimeoutMs);
  QVERIFY(IsQueryCharacters(WaitForMarkInView()));
  // Long enough for a cut-short start page to have rendered the record over the PDF.
  QTest::qWait(1500);
  QVERIFY(!view()->render_after_load());
  QVERIFY(view()->IsShowingPdf(pdf));
  QCOMPARE(view()->url(), ExpectedViewerUrl());
}

void PdfGuiTest::libraryBookPdfIsShownWithoutMarks() {
  frame()->RouteCommand(kCmdHome);
  QVERIFY(!doc()->switches().search_mode);
  // The PDF leaves the view through the start page, and the library's page comes after it.
  QTRY_VERIFY_WITH_TIMEOUT(!view()->viewer_page_shown() && !view()->render_after_load(),
                           kTimeoutMs);
  QList<QTreeWidgetItem*> found =
      tree()->findItems(U("唐诗三百首"), Qt::MatchExactly | Qt::MatchRecursive);
  QVERIFY(!found.isEmpty());
  tree()->scrollToItem(found.first());
  QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {},
                    tree()->visualItemRect(found.first()).center());
  QTRY_COMPARE_WITH_TIMEOUT(tree()->currentItem(), found.first(), kTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(!view()->render_after_load() && !view()->page()->isLoading(), kTimeoutMs);

  const int handed = app_->viewer_host()->handed_over();
  // With the book's page shown there is no plug-in to take the data: refused after the wait.
  QVERIFY(!app_->viewer_host()->HandOver(std::string("\x80\x80\0\0", 4), 300));
  QCOMPARE(app_->viewer_host()->handed_over(), handed);
  QElapsedTimer opening;
  opening.start();
  frame()->action(kCmdPdf)->trigger();
  const std::string pdf = doc()->browse().current_pdf_path;
  // The book's own PDF, the whole anthology: the largest of the sample.
  QVERIFY2(EndsWith(pdf, "1/838.pdf"), pdf.c_str());
  QTRY_VERIFY_WITH_TIMEOUT(view()->IsShowingPdf(pdf), kTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(
      RunJs(view(), QStringLiteral("!!(window.pdfViewer && pdfViewer.loaded &&"
                                   " pdfViewer.pluginLoaded)"))
          .toBool(),
      kTimeoutMs);
  qInfo("largest PDF (%d pages), PDF command to the document shown: %lld ms",
        RunJs(view(), QStringLiteral("pdfViewer.pageCount")).toInt(), opening.elapsed());
  QCOMPARE(view()->url(), ExpectedViewerUrl());
  QTest::qWait(500);
  QCOMPARE(Marks(), 0);
  QCOMPARE(RunJs(view(), QStringLiteral("hiliteService.last.status")).toString(),
           QStringLiteral("idle"));
  QCOMPARE(app_->viewer_host()->handed_over(), handed);

  // The same highlight the command sends for a hit, now on this largest PDF, from a worker
  // through the conversation as the highlighter sends it: how long until the first mark shows.
  platform::LinuxPlatform platform;
  const std::vector<std::string> keywords = {Utf8ToGbk("明月")};
  std::atomic<int> outcome{-1};
  QElapsedTimer clock;
  clock.start();
  std::thread sender([&] {
    outcome = static_cast<int>(HighlightInViewer(platform, pdf, keywords, nullptr));
  });
  const QString first = WaitForMarkInView();
  const qint64 elapsed = clock.elapsed();
  QTRY_VERIFY_WITH_TIMEOUT(outcome.load() >= 0, kTimeoutMs);
  sender.join();
  QCOMPARE(outcome.load(), static_cast<int>(HighlightOutcome::kSent));
  QVERIFY2(IsQueryCharacters(first), qPrintable(first));
  qInfo("largest PDF, execute to the first mark in view: %lld ms", elapsed);
}

// Every way into a PDF, and after each the next page: the words are marked in search mode (the
// library has none), and the page that follows is a page of its own, never drawn into the
// viewer page.
void PdfGuiTest::everyOpenerMarksTheWordsAndLeavesTheNextPageWhole() {
  const QString words = U("孰云");
  // A hit whose page is a PDF: 梦李白·其二, whose page is its volume's PDF.
  Search(words);
  QVERIFY(doc()->switches().search_mode);
  QTRY_VERIFY_WITH_TIMEOUT(EndsWith(doc()->browse().current_pdf_path, "pdf/juan0001.pdf"),
                           kTimeoutMs);
  const std::string juan = doc()->browse().current_pdf_path;
  QVERIFY(WaitForViewerMarks(juan, true, words) > 0);
  QVERIFY(doc()->results().current()->GetTotalCount() >= 2);
  // The next hit (下一条).
  doc()->OnPageButtonClick("B2");
  WaitForPageOfItsOwn();

  // The PDF command and the pager's PDF cell on the first hit (shown again: its page is the
  // PDF), each followed by the next hit.
  for (bool pager : {false, true}) {
    doc()->OnPageButtonClick("B1");
    QVERIFY(WaitForViewerMarks(juan, true, words) > 0);
    // Marks of the page before must not pass for the command's.
    QVERIFY(RunJs(view(), QStringLiteral("window.__before = true; true")).toBool());
    if (pager) {
      CPagerStrip* strip = frame()->tree_view()->pager();
      QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(16 + 32 * kPdfCell, 16));
    } else {
      frame()->action(kCmdPdf)->trigger();
    }
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join(QLatin1Char('\n'))));
    const std::string pdf = doc()->browse().current_pdf_path;
    QVERIFY2(EndsWith(pdf, ".pdf"), pdf.c_str());
    QTRY_VERIFY_WITH_TIMEOUT(!RunJs(view(), QStringLiteral("!!window.__before")).toBool(),
                             kTimeoutMs);
    QVERIFY(WaitForViewerMarks(pdf, true, words) > 0);
    doc()->OnPageButtonClick("B2");
    WaitForPageOfItsOwn();
  }

  // A page linking a PDF: the followed link shows it in the viewer with the search's words.
  const QString book =
      QDir::cleanPath(QFileInfo(QFileInfo(QString::fromStdString(juan)).path()).path());
  const QString linking = QDir(book).filePath(QStringLiteral("links-to-pdf.htm"));
  {
    QFile page(linking);
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><body><p><a id=\"pdf\" href=\"pdf/juan0001.pdf\">PDF</a></p></body></html>");
  }
  view()->Navigate(linking.toStdString());
  QTRY_VERIFY_WITH_TIMEOUT(view()->url() == QUrl::fromLocalFile(linking) &&
                               !view()->page()->isLoading(),
                           kTimeoutMs);
  RunJs(view(), QStringLiteral("document.getElementById('pdf').click(); true"));
  // Followed links are named by their clean paths.
  const std::string linked = QDir(book).filePath(QStringLiteral("pdf/juan0001.pdf")).toStdString();
  QVERIFY(WaitForViewerMarks(linked, true, words) > 0);
  QCOMPARE(doc()->browse().current_pdf_path, linked);

  // Back: to the page with the link, and on to the hit's PDF, marked again; then the next hit.
  QVERIFY(doc()->page_stack().can_go_back());
  frame()->RouteCommand(kCmdBack);
  QTRY_VERIFY_WITH_TIMEOUT(view()->url() == QUrl::fromLocalFile(linking), kTimeoutMs);
  WaitForPageOfItsOwn();
  QVERIFY(doc()->page_stack().can_go_back());
  frame()->RouteCommand(kCmdBack);
  QVERIFY(WaitForViewerMarks(linked, true, words) > 0);
  doc()->OnPageButtonClick("B2");
  WaitForPageOfItsOwn();

  // The library: a record whose page is a PDF, shown without marks, then the next record.
  frame()->RouteCommand(kCmdHome);
  QVERIFY(!doc()->switches().search_mode);
  WaitForPageOfItsOwn();
  QTreeWidgetItem* record = nullptr;
  QTRY_VERIFY_WITH_TIMEOUT((record = RecordItem("book_0002.xml")) != nullptr, kTimeoutMs);
  Click(record);
  QCOMPARE(WaitForViewerMarks(juan, false, words), 0);
  Click(RecordItem("book_0003.xml"));
  WaitForPageOfItsOwn();
}

void PdfGuiTest::cleanupTestCase() {
  if (app_ != nullptr) app_->ExitInstance();
  app_.reset();
}

}  // namespace tomeva::gui

QTEST_MAIN(tomeva::gui::PdfGuiTest)
#include "pdf_gui_test.moc"
