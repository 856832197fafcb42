// Browsing the sample library in the real window: the tree's items and cursor, the pager strip,
// the book list and the splitter bar, and a walk (book, section, record, record link, ordinary
// link, back three times, home) checked on the web view and the tree's selection. A screenshot of
// a generated record page goes to <build>/screenshots/record-page.png.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "base/file_util.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "gui/app/tomeva_app.h"
#include "gui/frame/child_frame.h"
#include "gui/frame/main_frame.h"
#include "gui/views/book_list_ctrl.h"
#include "gui/views/library_tree_ctrl.h"
#include "gui/views/pager_strip.h"
#include "gui/views/splitter_bar.h"
#include "gui/views/tomeva_view.h"
#include "gui/views/tree_form_view.h"
#include "gui_test_support.h"

namespace tomeva::gui {
namespace {

using testing::RunJs;
using testing::TestApp;

constexpr int kTimeoutMs = 60000;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QString BodyText(QWebEngineView* view) {
  return RunJs(view, QStringLiteral("document.body ? document.body.innerText : ''")).toString();
}

}  // namespace

class BrowseGuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void treeShowsTheLibrary();
  void handCursorOverItemsThatOpenSomething();
  void pagerCellsHitOnlyTheirMiddle();
  void pagerHoverShowsTheCellText();
  void bookListRowsColumnsAndHeaderBox();
  void layoutAndSplitterBar();
  void walkThroughTheLibraryBackAndHome();
  void cleanupTestCase();

 private:
  CMainFrame* frame() { return app_->main_frame(); }
  CTomevaView* view() { return frame()->html_view(); }
  CTreeFormView* pane() { return frame()->tree_view(); }
  CLibraryTreeCtrl* tree() { return pane()->tree(); }
  QTreeWidgetItem* Find(const char* label);
  QTreeWidgetItem* RecordItem(const std::string& file);
  void Click(QTreeWidgetItem* item);
  bool WaitForLoad(QSignalSpy* spy, const std::string& path);
  bool WaitForText(const QString& text);
  std::string Lib(const std::string& rel) {
    return JoinPath(app_->document()->settings().ebook_dir, rel);
  }

  QTemporaryDir temp_;
  std::unique_ptr<TestApp> app_;
  QStringList messages_;
};

void BrowseGuiTest::initTestCase() {
  QVERIFY(temp_.isValid());
  QVERIFY(testing::UseFoldersIn(temp_));
  const QString sample = temp_.filePath(QStringLiteral("sample"));
  QVERIFY(testing::InstallSample(sample));
  app_ = std::make_unique<TestApp>();
  QVERIFY(app_->InitInstance());
  QVERIFY(frame() != nullptr);
  pane()->set_message_sink([this](const QString& text) { messages_.append(text); });
  QVERIFY(testing::WaitForFirstPage(view()));
}

QTreeWidgetItem* BrowseGuiTest::Find(const char* label) {
  QList<QTreeWidgetItem*> found =
      tree()->findItems(U(label), Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

QTreeWidgetItem* BrowseGuiTest::RecordItem(const std::string& file) {
  const auto& items = tree()->items();
  for (size_t i = 0; i < items.size(); ++i) {
    auto it = app_->document()->browse().library.record_map.find(std::to_string(items[i].data));
    if ((items[i].data & 0xFFFF) == 1 &&
        it != app_->document()->browse().library.record_map.end() && it->second == file) {
      return tree()->ItemOf(static_cast<int>(i));
    }
  }
  return nullptr;
}

void BrowseGuiTest::Click(QTreeWidgetItem* item) {
  QVERIFY(item != nullptr);
  tree()->scrollToItem(item);
  QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(item).center());
}

bool BrowseGuiTest::WaitForLoad(QSignalSpy* spy, const std::string& path) {
  const QUrl target = CMoreHtmlView::LocationUrl(path);
  QDeadlineTimer deadline(kTimeoutMs);
  while (!deadline.hasExpired()) {
    if (!spy->isEmpty() && spy->last().at(0).toBool() && view()->url() == target) return true;
    spy->wait(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
  }
  qWarning() << "waited for" << target << "but have" << view()->url();
  return false;
}

bool BrowseGuiTest::WaitForText(const QString& text) {
  QDeadlineTimer deadline(kTimeoutMs);
  while (!deadline.hasExpired()) {
    if (BodyText(view()).contains(text)) return true;
    QTest::qWait(100);
  }
  qWarning() << "page text lacks" << text;
  return false;
}

void BrowseGuiTest::treeShowsTheLibrary() {
  // The title root with the four books (two installed, two imported at start), then the
  // welcome and product items.
  QCOMPARE(tree()->topLevelItemCount(), 3);
  QTreeWidgetItem* root = tree()->topLevelItem(0);
  QCOMPARE(root->text(0), U("Lumq图书数据库V4.0"));
  QVERIFY(root->isExpanded());
  QStringList books;
  for (int i = 0; i < root->childCount(); ++i) books << root->child(i)->text(0);
  QCOMPARE(books, (QStringList{U("唐诗三百首"), U("宋诗一百首"), U("诗经·国风"), U("诗经·雅颂")}));
  QCOMPARE(tree()->topLevelItem(1)->text(0), U("欢迎使用Lumq数据库系统"));
  QCOMPARE(tree()->topLevelItem(2)->text(0), U("产品说明"));
  // Every record of the sample is in the tree: 313 + 96 + 159 + 151.
  QCOMPARE(app_->document()->browse().library.record_map.size(), size_t{719});
  QCOMPARE(view()->url(), CMoreHtmlView::LocationUrl(Lib("home.htm")));
}

void BrowseGuiTest::handCursorOverItemsThatOpenSomething() {
  struct Case {
    QTreeWidgetItem* item;
    bool hand;
  };
  const Case cases[] = {{Find("唐诗三百首"), true},
                        {tree()->topLevelItem(0), false},
                        {tree()->topLevelItem(1), false}};
  for (const Case& c : cases) {
    QVERIFY(c.item != nullptr);
    tree()->scrollToItem(c.item);
    QTest::mouseMove(tree()->viewport(), tree()->visualItemRect(c.item).center());
    QTRY_COMPARE_WITH_TIMEOUT(tree()->viewport()->cursor().shape() == Qt::PointingHandCursor,
                              c.hand, 5000);
  }
}

void BrowseGuiTest::pagerCellsHitOnlyTheirMiddle() {
  const QRect area(0, 0, kPagerWidth, kPagerCellSize);
  struct Case {
    QPoint point;
    int cell;
  };
  const Case cases[] = {
      {{5, 16}, -1},  {{10, 16}, -1}, {{11, 16}, 0},   {{21, 16}, 0},  {{22, 16}, -1},
      {{43, 16}, 1},  {{11, 10}, -1}, {{11, 11}, 0},   {{11, 21}, 0},  {{11, 22}, -1},
      {{203, 16}, 6}, {{213, 16}, 6}, {{214, 16}, -1}, {{30, 16}, -1},
  };
  for (const Case& c : cases) QCOMPARE(CPagerStrip::HitCell(area, c.point), c.cell);
  // An area placed elsewhere: the same points moved with it.
  QCOMPARE(CPagerStrip::HitCell(area.translated(100, 50), QPoint(111, 66)), 0);
}

void BrowseGuiTest::pagerHoverShowsTheCellText() {
  CPagerStrip* pager = pane()->pager();
  QCOMPARE(pager->size(), QSize(224, 32));
  const QString texts[] = {U("开始页"), U("上一页"), U("上一条"), U("下一条"),
                           U("下一页"), U("最后页"), QString()};
  for (int i = 0; i < kPagerCells; ++i) {
    QTest::mouseMove(pager, QPoint(16 + 32 * i, 16));
    QTRY_COMPARE_WITH_TIMEOUT(pager->hover(), i, 5000);
    QCOMPARE(frame()->statusBar()->currentMessage(), texts[i]);
  }
  // Without hits the paging cells change nothing.
  const int record = app_->document()->cursor().record_index();
  QTest::mouseClick(pager, Qt::LeftButton, {}, QPoint(16 + 32 * 3, 16));
  QCOMPARE(app_->document()->cursor().record_index(), record);
  QTest::mouseMove(pager, QPoint(2, 2));
  QTRY_COMPARE_WITH_TIMEOUT(pager->hover(), -1, 5000);
}

void BrowseGuiTest::bookListRowsColumnsAndHeaderBox() {
  CBookListCtrl* list = pane()->book_list();
  QCOMPARE(list->topLevelItemCount(), 4);
  QCOMPARE(list->header()->sectionSize(0), 160);
  QCOMPARE(list->header()->sectionSize(1), 40);
  QVERIFY(list->headerItem()->text(0).contains(U("类别")));
  QCOMPARE(list->headerItem()->text(1), U("数量"));
  QCOMPARE(list->topLevelItem(2)->text(0), U("诗经·国风"));
  QCOMPARE(list->topLevelItem(2)->text(1), QStringLiteral("0"));
  QCOMPARE(list->header_box()->geometry(), QRect(4, 2, 12, 12));
  for (int i = 0; i < 4; ++i) QVERIFY(pane()->GetBookCheck(i));
  QVERIFY(!pane()->GetBookCheck(4));
  // The first header click unchecks every row, the second checks them again.
  for (bool expected : {false, true}) {
    const QRect section(list->header()->sectionViewportPosition(0) + 40, 0, 10,
                        list->header()->height());
    QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {}, section.center());
    QCOMPARE(list->header_box()->isChecked(), expected);
    for (int i = 0; i < 4; ++i) QCOMPARE(pane()->GetBookCheck(i), expected);
  }
  pane()->SetBookCounts({7, 0, 12});
  QCOMPARE(list->topLevelItem(2)->text(1), QStringLiteral("12"));
  pane()->SetBookCounts({0, 0, 0, 0});
}

void BrowseGuiTest::layoutAndSplitterBar() {
  CTreeFormView* p = pane();
  p->ShowBookList(true);
  const int h = p->height();
  QVERIFY2(h > 400, qPrintable(QString::number(h)));
  QCOMPARE(tree()->geometry(), QRect(0, 0, p->width(), h - 232));
  QCOMPARE(p->pager()->pos(), QPoint(0, h - 232));
  QCOMPARE(p->splitter_bar()->geometry(), QRect(0, h - 200, p->width(), 8));
  QCOMPARE(p->book_list()->geometry(), QRect(0, h - 192, p->width(), 192));

  // Dragging the bar up by 100: the tree ends 33 pixels above it, the list starts 1 under it.
  CSplitterBar* bar = p->splitter_bar();
  QSignalSpy moved(bar, &CSplitterBar::moved);
  const int top = bar->y();
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(20, 4));
  QVERIFY(bar->dragging());
  QTest::mouseMove(bar, QPoint(20, 4 - 100));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(20, 4 - 100));
  QCOMPARE(bar->y(), top - 100);
  QCOMPARE(tree()->geometry().bottom() + 1, bar->y() - 33);
  QCOMPARE(p->book_list()->geometry().top(), bar->y() + 8 + 1);
  QCOMPARE(moved.size(), 1);
  QCOMPARE(moved.at(0).at(0).toInt(), -100);

  // A drag far down stops where the list keeps 30 pixels; Escape ends a drag without a change.
  int min_top = 0;
  int max_top = 0;
  QVERIFY(bar->DragRange(&min_top, &max_top));
  QCOMPARE(min_top, 30);
  QCOMPARE(max_top + 8, p->book_list()->geometry().bottom() + 1 - 30);
  const int before = bar->y();
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(20, 4));
  QTest::mouseMove(bar, QPoint(20, 4 + 5000));
  QTest::keyClick(bar, Qt::Key_Escape);
  QVERIFY(!bar->dragging());
  QCOMPARE(bar->y(), before);

  // The next resize restores the fixed layout; without the list the tree reaches the pager.
  p->resize(p->width(), h + 1);
  p->resize(p->width(), h);
  QCOMPARE(tree()->geometry(), QRect(0, 0, p->width(), h - 232));
  p->ShowBookList(false);
  QCOMPARE(tree()->geometry(), QRect(0, 0, p->width(), h - 32));
  QVERIFY(!p->book_list()->isVisible());
  p->ShowBookList(true);
}

void BrowseGuiTest::walkThroughTheLibraryBackAndHome() {
  CTomevaDoc* doc = app_->document();
  QSignalSpy loads(view(), &CMoreHtmlView::documentComplete);

  // A book: its page.
  Click(Find("唐诗三百首"));
  QVERIFY(WaitForLoad(&loads, Lib("1/index.htm")));
  QCOMPARE(tree()->currentItem(), Find("唐诗三百首"));

  // A section: its page.
  Click(Find("卷一"));
  QVERIFY(WaitForLoad(&loads, Lib("1/juan0001.htm")));

  // A record leaf: the generated record page.
  QTreeWidgetItem* rec1 = RecordItem("book_0001.xml");
  QTreeWidgetItem* rec6 = RecordItem("book_0006.xml");
  QVERIFY(rec1 != nullptr && rec6 != nullptr);
  tree()->expandItem(rec1->parent());
  RunJs(view(),
        QStringLiteral("document.body.style.minHeight = '5000px'; window.scrollTo(0, 900);"));
  QTRY_VERIFY_WITH_TIMEOUT(RunJs(view(), QStringLiteral("window.scrollY")).toInt() > 0, 10000);
  Click(rec1);
  QVERIFY(WaitForText(U("感遇·其一")));
  // The record page starts at its top, whatever the page before it was scrolled to.
  QTRY_COMPARE_WITH_TIMEOUT(RunJs(view(), QStringLiteral("window.scrollY")).toInt(), 0, 10000);
  QVERIFY(BodyText(view()).contains(U("张九龄")));
  QCOMPARE(doc->page_stack().size(), 4);

  // A link to a record file inside the page selects that record in the tree.
  RunJs(view(), QStringLiteral("var a = document.createElement('a'); a.id = 'reclink';"
                               " a.href = 'book_0006.xml'; a.textContent = 'x';"
                               " document.body.appendChild(a); a.click();"));
  QTRY_COMPARE_WITH_TIMEOUT(tree()->currentItem(), rec6, kTimeoutMs);
  QVERIFY(WaitForText(U("渭川田家")));
  QVERIFY(BodyText(view()).contains(U("图片3")));
  QCOMPARE(doc->page_stack().size(), 5);
  QVERIFY(messages_.isEmpty());

  // The screenshot of the generated record page, once its pictures are there.
  QTRY_VERIFY_WITH_TIMEOUT(
      RunJs(view(), QStringLiteral("Array.from(document.images).every(i => i.complete && "
                                   "i.naturalWidth > 0)"))
          .toBool(),
      kTimeoutMs);
  QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
  QTest::qWait(300);
  QImage shot = frame()->grab().toImage();
  QVERIFY(shot.save(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/record-page.png")));

  // A link to a record the tree does not hold is refused with the message.
  RunJs(view(), QStringLiteral("var b = document.createElement('a');"
                               " b.href = 'book_9999.xml'; document.body.appendChild(b);"
                               " b.click();"));
  QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, kTimeoutMs);
  QCOMPARE(messages_.at(0), U("链接目的记录不存在！"));

  // An ordinary link (the second picture's) is followed and recorded.
  loads.clear();
  RunJs(view(), QStringLiteral("document.querySelector('a[href$=\"juan0001.htm\"]').click();"));
  QVERIFY(WaitForLoad(&loads, Lib("1/juan0001.htm")));
  QCOMPARE(doc->page_stack().size(), 6);
  QCOMPARE(doc->page_stack().entries().back().kind, static_cast<int>(kPageLink));

  QAction* back = frame()->action(kCmdBack);
  QVERIFY(back != nullptr);
  QVERIFY(back->isEnabled());
  // Back 1: the record page of the item still selected.
  back->trigger();
  QVERIFY(WaitForText(U("渭川田家")));
  QCOMPARE(tree()->currentItem(), rec6);
  QCOMPARE(doc->page_stack().size(), 5);
  // Back 2: the first record; the tree selects it.
  back->trigger();
  QTRY_COMPARE_WITH_TIMEOUT(tree()->currentItem(), rec1, kTimeoutMs);
  QVERIFY(WaitForText(U("感遇·其一")));
  QCOMPARE(doc->page_stack().size(), 4);
  // Back 3: the section's page with the section selected.
  loads.clear();
  back->trigger();
  QTRY_COMPARE_WITH_TIMEOUT(tree()->currentItem(), Find("卷一"), kTimeoutMs);
  QVERIFY(WaitForLoad(&loads, Lib("1/juan0001.htm")));
  QCOMPARE(doc->page_stack().size(), 3);

  // Home: after a search the home command brings back the library and its start page.
  QAction* home = frame()->action(kCmdHome);
  QVERIFY(home != nullptr);
  frame()->query_box()->setText(U("明月"));
  frame()->action(kCmdSearch)->trigger();
  QTRY_VERIFY_WITH_TIMEOUT(doc->switches().search_mode && tree()->topLevelItemCount() == 1, kTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(home->isEnabled(), 5000);
  loads.clear();
  home->trigger();
  QVERIFY(WaitForLoad(&loads, Lib("home.htm")));
  QVERIFY(!doc->switches().search_mode);
  QCOMPARE(tree()->topLevelItemCount(), 3);
  QCOMPARE(tree()->topLevelItem(0)->text(0), U("Lumq图书数据库V4.0"));
}

void BrowseGuiTest::cleanupTestCase() {
  if (app_) app_->ExitInstance();
  app_.reset();
}

}  // namespace tomeva::gui

QTEST_MAIN(tomeva::gui::BrowseGuiTest)
#include "browse_gui_test.moc"
