// Searching in the real window: a Chinese query typed into the query box and Enter, the hit list
// in the tree, the hit's record page with its keywords painted, Page Down in the tree and the
// page's own "next record" button. A screenshot of a result page goes to
// <build>/screenshots/search-result.png.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QStatusBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "base/gbk.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "gui/app/tomeva_app.h"
#include "gui/frame/main_frame.h"
#include "gui/views/tomeva_view.h"
#include "gui/views/tree_form_view.h"
#include "gui_test_support.h"

namespace tomeva::gui {
namespace {

using testing::RunJs;
using testing::TestApp;

constexpr int kTimeoutMs = 60000;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The page's text once the page holds `needle` (scripts that put the page in run one after the
// other, so a page that shows the text has its marks too once a later script has answered).
QString WaitForPageText(QWebEngineView* view, const QString& needle) {
  QDeadlineTimer deadline(kTimeoutMs);
  QString text;
  while (!deadline.hasExpired()) {
    text = RunJs(view, QStringLiteral("document.body ? document.body.innerText : ''")).toString();
    if (text.contains(needle)) return text;
    QTest::qWait(100);
  }
  return text;
}

}  // namespace

class SearchGuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void enterRunsTheTypedQuery();
  void pagingKeysWorkFromTheQueryBox();
  void pageDownInTheTreeShowsTheNextPage();
  void nextRecordButtonInThePageMovesOneHit();
  void bookLineUnderAHitSelectsThatHit();
  void simplifiedQueryFindsAndPaintsTraditionalText();
  void cleanupTestCase();

 private:
  CMainFrame* frame() { return app_->main_frame(); }
  CTomevaView* view() { return app_->main_frame()->html_view(); }
  QTreeWidget* tree() { return frame()->tree_view()->findChild<QTreeWidget*>(); }
  CTomevaDoc* doc() { return app_->document(); }
  // The header the tree must show for the current result and page.
  QString ExpectedHeader(int first, int last) {
    return query_ + U("(查询得到 %1 条结果，显示 %2 到 %3 )")
                        .arg(doc()->results().current()->GetTotalCount())
                        .arg(first)
                        .arg(last);
  }
  // Number of painted keyword marks in the page.
  int Marks() {
    return RunJs(view(), QStringLiteral("document.querySelectorAll('font[color=white]').length"))
        .toInt();
  }

  QTemporaryDir temp_;
  std::unique_ptr<TestApp> app_;
  const QString query_ = U("不知");
};

void SearchGuiTest::initTestCase() {
  QVERIFY(temp_.isValid());
  QVERIFY(testing::UseFoldersIn(temp_));
  QString sample = temp_.filePath(QStringLiteral("sample"));
  QVERIFY(testing::InstallSample(sample));
  // The result pages of this installation carry the four paging buttons in their top mark-up.
  QFile config(QStringLiteral("SearchResultConfig.xml"));
  QVERIFY(config.open(QIODevice::ReadOnly));
  QByteArray text = config.readAll();
  config.close();
  const QByteArray buttons =
      "@&lt@input type=button id=B0 value=B0@&gt@@&lt@input type=button id=B1 value=B1@&gt@"
      "@&lt@input type=button id=B2 value=B2@&gt@@&lt@input type=button id=B3 value=B3@&gt@";
  QVERIFY(text.contains("</bodytop>"));
  // The sample carries its own buttons with Chinese captions; these plain ones replace them so
  // that the test can name what it clicks.
  text.replace(QByteArray("id=B"), QByteArray("id=P"));
  text.replace("</bodytop>", buttons + "</bodytop>");
  QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
  config.write(text);
  config.close();

  app_ = std::make_unique<TestApp>();
  QVERIFY(app_->InitInstance());
  QVERIFY(testing::WaitForFirstPage(view()));
  if (doc()->switches().book_search) frame()->RouteCommand(kCmdBookSearch);
  QVERIFY(tree() != nullptr);
}

void SearchGuiTest::enterRunsTheTypedQuery() {
  frame()->activateWindow();
  QLineEdit* box = frame()->query_box();
  box->setFocus();
  box->clear();
  // Typed one character at a time, as an input method hands Chinese characters to the box.
  for (QChar c : query_) QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), {});
  QCOMPARE(box->text(), query_);
  QTest::keyClick(box, Qt::Key_Return);
  QVERIFY(doc()->switches().search_mode);
  QVERIFY(doc()->results().current() != nullptr);
  QVERIFY(doc()->results().current()->GetTotalCount() > 20);

  // The tree: the count header and the first ten hits, numbered, the first one selected.
  QCOMPARE(tree()->topLevelItemCount(), 1);
  QTreeWidgetItem* header = tree()->topLevelItem(0);
  QCOMPARE(header->text(0), ExpectedHeader(1, 10));
  QCOMPARE(header->childCount(), 10);
  for (int i = 0; i < 10; ++i) {
    QVERIFY2(header->child(i)->text(0).startsWith(QStringLiteral("%1. ").arg(i + 1)),
             qPrintable(header->child(i)->text(0)));
  }
  QCOMPARE(tree()->currentItem(), header->child(0));

  // The page: the first hit's record with its number, the query painted wherever it occurs.
  QString title = header->child(0)->text(0).mid(3).section(QLatin1Char('-'), 0, 0);
  QString page = WaitForPageText(view(), title);
  QVERIFY2(page.contains(title), qPrintable(page));
  QVERIFY2(page.contains(QStringLiteral("1.")), qPrintable(page));
  QVERIFY2(page.contains(query_), qPrintable(page));
  QTRY_VERIFY_WITH_TIMEOUT(Marks() > 0, 20000);
  QCOMPARE(RunJs(view(), QStringLiteral("document.querySelector('font[color=white]').textContent"))
               .toString(),
           query_);

  QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
  QTest::qWait(300);
  QImage shot = frame()->grab().toImage();
  QVERIFY(!shot.isNull());
  QVERIFY(shot.save(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/search-result.png")));
}

// After Enter the focus stays in the query box: the paging keys work from there too.
void SearchGuiTest::pagingKeysWorkFromTheQueryBox() {
  QLineEdit* box = frame()->query_box();
  box->setFocus();
  const int total = doc()->results().current()->GetTotalCount();
  const int last = (total - 1) / 10;
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int page;
  } keys[] = {{Qt::Key_PageDown, {}, 1},
              {Qt::Key_PageUp, {}, 0},
              {Qt::Key_End, Qt::ControlModifier, last},
              {Qt::Key_Home, Qt::ControlModifier, 0}};
  for (const auto& k : keys) {
    QTest::keyClick(box, k.key, k.modifiers);
    QCOMPARE(doc()->cursor().page_index(), k.page);
    // The last page is shown at its last hit, the others at their first.
    QCOMPARE(doc()->cursor().record_index(), k.page == last ? total - 1 : k.page * 10);
  }
  // Home and End without Ctrl stay the box's own: the caret moves, the hits do not.
  QTest::keyClick(box, Qt::Key_End);
  QCOMPARE(box->cursorPosition(), box->text().size());
  QCOMPARE(doc()->cursor().page_index(), 0);
}

void SearchGuiTest::pageDownInTheTreeShowsTheNextPage() {
  // The reader had scrolled down the first hit; the next one starts at its top. The padding
  // outside the body outlives the page's replacement, so that the next page is long enough to
  // keep a scroll position of 400 if nothing reset it.
  QTRY_VERIFY_WITH_TIMEOUT(
      RunJs(view(), QStringLiteral("document.documentElement.style.paddingBottom = '3000px';"
                                   " window.scrollTo(0, 400); window.scrollY == 400"))
          .toBool(),
      20000);
  tree()->setFocus();
  QTest::keyClick(tree(), Qt::Key_PageDown);
  QCOMPARE(doc()->cursor().page_index(), 1);
  QCOMPARE(doc()->cursor().record_index(), 10);
  QTreeWidgetItem* header = tree()->topLevelItem(0);
  QCOMPARE(header->text(0), ExpectedHeader(11, 20));
  QVERIFY(header->child(0)->text(0).startsWith(QStringLiteral("11. ")));
  QCOMPARE(tree()->currentItem(), header->child(0));
  QString page = WaitForPageText(view(), QStringLiteral("11."));
  QVERIFY2(page.contains(QStringLiteral("11.")), qPrintable(page));
  QTRY_COMPARE_WITH_TIMEOUT(RunJs(view(), QStringLiteral("window.scrollY")).toInt(), 0, 20000);
  RunJs(view(), QStringLiteral("document.documentElement.style.paddingBottom = ''; 1"));
  // Keys that move nothing in search mode are swallowed: the tree's own selection stays.
  QTest::keyClick(tree(), Qt::Key_Right);
  QCOMPARE(doc()->cursor().record_index(), 10);
  QCOMPARE(tree()->currentItem(), header->child(0));
}

void SearchGuiTest::nextRecordButtonInThePageMovesOneHit() {
  QSignalSpy clicks(view(), &CMoreHtmlView::pageButtonClicked);
  // The buttons are hooked once the page and its channel to the program are up.
  QTRY_VERIFY_WITH_TIMEOUT(
      (RunJs(view(), QStringLiteral("var b = document.getElementById('B2'); b && b.click(); 1")),
       clicks.count() > 0),
      30000);
  QCOMPARE(clicks.first().at(0).toString(), QStringLiteral("B2"));
  // Retries above may have clicked more than once; each click is one record further.
  const int moved = clicks.count();
  QCOMPARE(doc()->cursor().record_index(), 10 + moved);
  QTreeWidgetItem* header = tree()->topLevelItem(0);
  QCOMPARE(tree()->currentItem(), header->child(moved));
  QString number = QStringLiteral("%1.").arg(11 + moved);
  QString page = WaitForPageText(view(), number);
  QVERIFY2(page.contains(number), qPrintable(page));
  QTRY_VERIFY_WITH_TIMEOUT(Marks() > 0, 20000);
}

// The line under a hit names its book; choosing it shows that hit, not the first one.
void SearchGuiTest::bookLineUnderAHitSelectsThatHit() {
  QTreeWidgetItem* header = tree()->topLevelItem(0);
  int hit = -1;
  for (int i = header->childCount() - 1; i >= 0 && hit < 0; --i) {
    if (header->child(i)->childCount() > 0 && tree()->currentItem() != header->child(i)) hit = i;
  }
  QVERIFY(hit >= 0);
  QTreeWidgetItem* line = header->child(hit)->child(0);
  tree()->scrollToItem(line);
  QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(line).center());
  QTRY_COMPARE_WITH_TIMEOUT(doc()->cursor().record_index(), 10 + hit, 20000);
  const QString number = QStringLiteral("%1.").arg(11 + hit);
  QString page = WaitForPageText(view(), number);
  QVERIFY2(page.contains(number), qPrintable(page));
}

// The sample's odes are written in traditional characters; a reader types simplified. The
// traditional text is found and painted, and the program says how it read the query.
void SearchGuiTest::simplifiedQueryFindsAndPaintsTraditionalText() {
  QLineEdit* box = frame()->query_box();
  box->setFocus();
  box->clear();
  const QString query = QStringLiteral("宜尔子孙");
  for (QChar c : query) QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), {});
  QTest::keyClick(box, Qt::Key_Return);
  QVERIFY(doc()->results().current() != nullptr);
  QVERIFY(doc()->results().current()->GetTotalCount() > 0);
  WaitForPageText(view(), QStringLiteral("宜爾子孫"));
  const QString marked = QStringLiteral(
      "Array.from(document.querySelectorAll('font[color=white]')).map(f => f.textContent)"
      ".join('')");
  QTRY_VERIFY_WITH_TIMEOUT(RunJs(view(), marked).toString().contains(QStringLiteral("爾")),
                           20000);
  const QString marks = RunJs(view(), marked).toString();
  for (QChar c : QStringLiteral("宜爾子孫")) QVERIFY2(marks.contains(c), qPrintable(marks));

  QTreeWidgetItem* header = tree()->topLevelItem(0);
  QVERIFY2(header->toolTip(0).startsWith(header->text(0)), qPrintable(header->toolTip(0)));
  QVERIFY2(header->toolTip(0).contains(QStringLiteral("繁简通查")), qPrintable(header->toolTip(0)));
  const QString status = frame()->statusBar()->currentMessage();
  QVERIFY2(status.contains(QStringLiteral("表达式：")) && status.contains(QStringLiteral("繁简通查")),
           qPrintable(status));

  QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
  QTest::qWait(300);
  QVERIFY(frame()->grab().save(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/search-folded.png")));
}

void SearchGuiTest::cleanupTestCase() {
  if (app_) app_->ExitInstance();
  app_.reset();
  QDir::setCurrent(QDir::tempPath());
}

}  // namespace tomeva::gui

int main(int argc, char** argv) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  tomeva::gui::SearchGuiTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "search_gui_test.moc"
