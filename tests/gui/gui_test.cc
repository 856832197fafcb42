// The desktop program started on a fresh copy of the sample installation: start-up order with the
// pending books imported, single instance, the frame's menus, bars and panes, and the HTML view's
// page operations. Screenshots of the main window go to <build>/screenshots/.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/xml/xml_document.h"
#include "gui/app/tomeva_app.h"
#include "gui/frame/child_frame.h"
#include "gui/frame/main_frame.h"
#include "gui/views/tomeva_view.h"
#include "gui_test_support.h"
#include "platform/single_instance.h"

namespace tomeva::gui {
namespace {

using testing::RunJs;
using testing::TestApp;

constexpr int kLoadTimeoutMs = 60000;

// Loads a page and waits until the view's own handling of that page's load is done. A load of
// an earlier command that the navigation interrupts also reports its end; it is passed over.
bool LoadAndWait(CMoreHtmlView* view, const std::string& path) {
  const QUrl target = CMoreHtmlView::LocationUrl(path);
  QSignalSpy spy(view, &CMoreHtmlView::documentComplete);
  view->Navigate(path);
  QDeadlineTimer deadline(kLoadTimeoutMs);
  while (!deadline.hasExpired()) {
    if (!spy.isEmpty() && spy.last().at(0).toBool() && view->url() == target) return true;
    spy.wait(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
  }
  return false;
}

void WriteFile(const QString& path, const std::string& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void startupImportsPendingBooksBeforeTheMainWindow();
  void screenshots();
  void secondStartIsRefusedAndRaisesTheFirst();
  void menusHoldTheFixedIdsAndTexts();
  void commandToolbarHoldsNineButtonsWithLabels();
  void fieldBoxListsTheConfiguredFieldsAndBarToggles();
  void modePaneFollowsTheQueryMode();
  void enterInQueryBoxRunsTheSearchCommand();
  void queryBoxRefusesMoreThan100Characters();
  void historyDropDownListsTheNewestQueries();
  void showHtmlAppliesBodyAttributeAndStyle();
  void everyOccurrenceIsMarked();
  void rememberedMarksApplyAtTheNextLoadOnly();
  void pageButtonClicksReachTheView();
  void zoomIsRestoredOnClose();
  void cleanupTestCase();

 private:
  CMainFrame* frame() { return app_->main_frame(); }
  CTomevaView* view() { return app_->main_frame()->html_view(); }

  QTemporaryDir temp_;
  QString sample_;
  std::unique_ptr<TestApp> app_;
};

void GuiTest::initTestCase() {
  QVERIFY(temp_.isValid());
  QVERIFY(testing::UseFoldersIn(temp_));
  sample_ = temp_.filePath(QStringLiteral("sample"));
  QVERIFY(testing::InstallSample(sample_));
  // Pages of the installation: the view shows no file outside it or the library.
  WriteFile(QDir(sample_).filePath(QStringLiteral("first.htm")),
            Utf8ToGbk("<html><head><meta charset='gb2312'></head><body>"
                      "<p>春风 又 春风</p></body></html>"));
  WriteFile(QDir(sample_).filePath(QStringLiteral("second.htm")),
            Utf8ToGbk("<html><head><meta charset='gb2312'></head><body>"
                      "<p>春风 再 春风 春风</p></body></html>"));
  QVERIFY(QFile::exists(QStringLiteral("Update/bookconfig3.xml")) ||
          !QDir(QStringLiteral("Update")).entryList({QStringLiteral("bookconfig*.xml")}).isEmpty());

  app_ = std::make_unique<TestApp>();
  QVERIFY(app_->InitInstance());
  QVERIFY(frame() != nullptr);
  // The first page (the library's start page) has loaded.
  if (!view()->has_document()) {
    QSignalSpy spy(view(), &CMoreHtmlView::documentComplete);
    QVERIFY(spy.wait(kLoadTimeoutMs));
  }
}

void GuiTest::startupImportsPendingBooksBeforeTheMainWindow() {
  std::vector<QString> steps;
  for (const auto& [step, ms] : app_->startup_log()) steps.push_back(step);
  const std::vector<QString> expected = {QStringLiteral("import-dialog-shown"),
                                         QStringLiteral("import-finished"),
                                         QStringLiteral("main-window-shown")};
  QCOMPARE(steps, expected);
  QVERIFY(app_->recorded.isEmpty());

  // Both waiting books are in the catalogue now, and nothing waits any more.
  CXmlDocument catalogue;
  QCOMPARE(catalogue.Load("bookconfig.xml", 1), 1);
  std::vector<std::string> names;
  catalogue.GetTexts("book", {}, {}, &names);
  std::vector<std::string> attrs;
  catalogue.GetAttributeStrings("book", &attrs);
  QString all;
  for (const std::string& a : attrs) all += QString::fromStdString(GbkToUtf8(a));
  QVERIFY2(all.contains(U("诗经·国风")), qPrintable(all));
  QVERIFY2(all.contains(U("诗经·雅颂")), qPrintable(all));
  QVERIFY(QDir(QStringLiteral("Update"))
              .entryList({QStringLiteral("bookconfig*.xml")}, QDir::Files)
              .isEmpty());

  QVERIFY(frame()->isVisible());
  QVERIFY(frame()->windowState() & Qt::WindowMaximized);
  QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), frame()->query_box(), 10000);
  QCOMPARE(frame()->windowTitle(), U("Lumq图书数据库V4.0"));
  QCOMPARE(frame()->minimumSize(), QSize(400, 400));
  // The child frame: library tree 232 pixels, the HTML view the rest.
  QList<int> sizes = frame()->child_frame()->sizes();
  QCOMPARE(sizes.size(), 2);
  QCOMPARE(sizes[0], 232);
  QVERIFY(sizes[1] > 10);
}

void GuiTest::secondStartIsRefusedAndRaisesTheFirst() {
  QSignalSpy raise(app_->guard(), &platform::SingleInstanceGuard::raiseRequested);
  TestApp second;
  QVERIFY(!second.InitInstance());
  QCOMPARE(second.recorded, QStringList{QStringLiteral("Cannot run more than one instance.")});
  QVERIFY(second.main_frame() == nullptr);
  QVERIFY(raise.wait(10000));
}

void GuiTest::menusHoldTheFixedIdsAndTexts() {
  struct Item {
    int id;
    const char* text;
  };
  struct Popup {
    const char* title;
    std::vector<Item> items;  // id 0: a sub-menu, its items follow in `sub`
    std::vector<Item> sub;
  };
  const std::vector<Popup> expected = {
      {"文件(&F)",
       {{kCmdPrint, "打印(&P)\tCtrl+P"}, {kCmdPrintSetup, "打印设置(&R)"}, {kCmdExit, "退出(&X)"}},
       {}},
      {"命令(&C)", {{kCmdSearch, "检索(&L)"}, {kCmdBackToQuery, "回到上一条查询(&B)"}}, {}},
      {"查看(&V)",
       {{kCmdViewToolbar, "工具(&T)"}, {kCmdViewStatusBar, "状态条(&S)"}, {0, "字体"}},
       {{kCmdZoomLargest, "特大"},
        {kCmdZoomLarge, "大"},
        {kCmdZoomMedium, "中"},
        {kCmdZoomSmall, "小"},
        {kCmdZoomSmallest, "特小"}}},
      {"查询模式(&S)",
       {{kCmdModeExact, "精确匹配(&M)"},
        {kCmdModeNatural, "自然语言(&N)"},
        {kCmdModeAuto, "自动模式(&A)"}},
       {}},
      {"帮助(&H)", {{kCmdAbout, "关于...(&A)"}, {kCmdHelp, "帮助"}}, {}},
  };
  QList<QAction*> popups = frame()->menuBar()->actions();
  QCOMPARE(popups.size(), static_cast<qsizetype>(expected.size()));
  for (size_t p = 0; p < expected.size(); ++p) {
    QCOMPARE(popups[p]->text(), U(expected[p].title));
    QList<QAction*> items = popups[p]->menu()->actions();
    QCOMPARE(items.size(), static_cast<qsizetype>(expected[p].items.size()));
    for (qsizetype i = 0; i < items.size(); ++i) {
      QCOMPARE(items[i]->text(), U(expected[p].items[i].text));
      if (expected[p].items[i].id == 0) {
        QList<QAction*> sub = items[i]->menu()->actions();
        QCOMPARE(sub.size(), static_cast<qsizetype>(expected[p].sub.size()));
        for (qsizetype k = 0; k < sub.size(); ++k) {
          QCOMPARE(sub[k]->data().toInt(), expected[p].sub[k].id);
          QCOMPARE(sub[k]->text(), U(expected[p].sub[k].text));
        }
      } else {
        QCOMPARE(items[i]->data().toInt(), expected[p].items[i].id);
      }
    }
  }
  // Check marks from the document: automatic mode, medium text size.
  QVERIFY(frame()->action(kCmdModeAuto)->isChecked());
  QVERIFY(!frame()->action(kCmdModeExact)->isChecked());
  QVERIFY(frame()->action(kCmdZoomMedium)->isChecked());
  QVERIFY(!frame()->action(kCmdBackToQuery)->isEnabled() || !app_->document()->history().empty());
}

void GuiTest::commandToolbarHoldsNineButtonsWithLabels() {
  const struct {
    int id;
    const char* label;
    const char* tip;
  } expected[] = {
      {kCmdSearch, "检索", "检索"},
      {kCmdBookSearch, "分类", "按类别查询"},
      {kCmdAdvancedSearch, "范围", "高级查询"},
      {kCmdBackToQuery, "历史", "回到上一条查询"},
      {kCmdHome, "首页", "回首页"},
      {kCmdHelp, "帮助", "帮助"},
      {kCmdPdf, "PDF档", "显示原始PDF文件"},
      {kCmdBack, "后退", "回到上一页"},
      {kCmdPublisherSite, "出版社", "访问LUMQ网站"},
  };
  QToolBar* bar = frame()->command_toolbar();
  QCOMPARE(bar->iconSize(), QSize(32, 32));
  QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
  QList<QAction*> actions = bar->actions();
  QCOMPARE(actions.size(), 9);
  for (int i = 0; i < 9; ++i) {
    QCOMPARE(actions[i]->data().toInt(), expected[i].id);
    QCOMPARE(actions[i]->iconText(), U(expected[i].label));
    QCOMPARE(actions[i]->toolTip(), U(expected[i].tip));
    QVERIFY(!actions[i]->icon().pixmap(32, 32).isNull());
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(actions[i]));
    QVERIFY(button != nullptr);
    QCOMPARE(button->popupMode() == QToolButton::MenuButtonPopup,
             expected[i].id == kCmdBackToQuery);
  }
  // The images are distinct drawings.
  QCOMPARE(
      actions[0]->icon().pixmap(32, 32).toImage() == actions[4]->icon().pixmap(32, 32).toImage(),
      false);
}

void GuiTest::fieldBoxListsTheConfiguredFieldsAndBarToggles() {
  QComboBox* box = frame()->field_box();
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  QCOMPARE(items, (QStringList{U("标题"), U("作者"), U("内容摘要")}));
  QCOMPARE(box->width(), 100);
  QVERIFY(frame()->advanced_bar()->isHidden());
  QCOMPARE(frame()->findChild<QLabel*>(QStringLiteral("label601"))->text(), U("在 "));
  QCOMPARE(frame()->findChild<QLabel*>(QStringLiteral("label606"))->text(), U("中查询    "));

  frame()->action(kCmdAdvancedSearch)->trigger();
  QVERIFY(!frame()->advanced_bar()->isHidden());
  QVERIFY(frame()->action(kCmdAdvancedSearch)->isChecked());
  box->setEditText(U("作者"));
  frame()->action(kCmdAdvancedSearch)->trigger();
  QVERIFY(frame()->advanced_bar()->isHidden());
  QVERIFY(!frame()->action(kCmdAdvancedSearch)->isChecked());
  QCOMPARE(box->currentText(), QString());
}

void GuiTest::modePaneFollowsTheQueryMode() {
  const struct {
    int command;
    const char* pane;
  } cases[] = {
      {kCmdModeNatural, "自然语言"}, {kCmdModeExact, "精准匹配"}, {kCmdModeAuto, "自动模式"}};
  QCOMPARE(frame()->mode_pane()->text(), U("自动模式"));
  for (const auto& c : cases) {
    frame()->action(c.command)->trigger();
    QCOMPARE(frame()->mode_pane()->text(), U(c.pane));
    QVERIFY(frame()->action(c.command)->isChecked());
  }
}

void GuiTest::enterInQueryBoxRunsTheSearchCommand() {
  QSignalSpy routed(frame(), &CMainFrame::commandRouted);
  frame()->activateWindow();
  frame()->query_box()->setFocus();
  frame()->query_box()->clear();
  frame()->query_box()->setText(U("明月"));
  QTest::keyClicks(frame()->query_box(), QStringLiteral(" moon"));
  QTest::keyClick(frame()->query_box(), Qt::Key_Return);
  QCOMPARE(routed.count(), 1);
  QCOMPARE(routed.at(0).at(0).toInt(), kCmdSearch);
}

void GuiTest::queryBoxRefusesMoreThan100Characters() {
  QLineEdit* box = frame()->query_box();
  box->clear();
  box->setFocus();
  QTest::keyClicks(box, QString(120, QLatin1Char('x')));
  QCOMPARE(box->text().size(), 100);
  box->clear();
}

void GuiTest::historyDropDownListsTheNewestQueries() {
  CTomevaDoc* doc = app_->document();
  // Searches restricted to books need a checked book; without the restriction they are recorded.
  if (doc->switches().book_search) frame()->RouteCommand(kCmdBookSearch);
  for (int i = 0; i < 30; ++i) {
    frame()->query_box()->setText(QStringLiteral("q%1").arg(i));
    frame()->RouteCommand(kCmdSearch);
  }
  QVERIFY(frame()->action(kCmdBackToQuery)->isEnabled());
  QMenu* menu = frame()->history_menu();
  emit menu->aboutToShow();
  QList<QAction*> items = menu->actions();
  QCOMPARE(items.size(), 25);
  for (int k = 0; k < 25; ++k) {
    QCOMPARE(items[k]->data().toInt(), kCmdHistoryFirst + k);
    QCOMPARE(items[k]->text(), QStringLiteral("q%1").arg(29 - k));
  }
  // A query with "&" is listed as typed, not with a shortcut letter made of it.
  frame()->query_box()->setText(QStringLiteral("A&B <i>"));
  frame()->RouteCommand(kCmdSearch);
  emit menu->aboutToShow();
  QCOMPARE(menu->actions().value(0)->iconText(), QStringLiteral("A&B <i>"));
  frame()->RouteCommand(kCmdHome);  // back to the library
  frame()->RouteCommand(kCmdBookSearch);
  QVERIFY(doc->switches().book_search);
}

void GuiTest::showHtmlAppliesBodyAttributeAndStyle() {
  CMoreHtmlView* v = view();
  // A settled page: no load of an earlier command may replace what is shown here.
  QVERIFY(LoadAndWait(v, QDir(sample_).filePath(QStringLiteral("first.htm")).toStdString()));
  const std::string page = Utf8ToGbk("<p id='t'>第一段</p>");
  // A copy left readable by others from before is replaced by one for the user alone.
  const QString scratch_path = temp_.filePath(QStringLiteral("runtime/sr.htm"));
  QFile::remove(scratch_path);
  {
    QFile old(scratch_path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    QVERIFY(old.setPermissions(old.permissions() | QFile::ReadGroup | QFile::ReadOther));
  }
  QCOMPARE(v->ShowHtml(page), 1);
  QTRY_COMPARE_WITH_TIMEOUT(
      RunJs(v, QStringLiteral("document.getElementById('t') ? "
                              "document.getElementById('t').textContent : ''"))
          .toString(),
      U("第一段"), 10000);
  // The scratch copy is the user's alone, in the runtime folder, not in the installation.
  QFile scratch(scratch_path);
  QVERIFY(scratch.open(QIODevice::ReadOnly));
  QCOMPARE(scratch.readAll().toStdString(), page);
  QCOMPARE(scratch.permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ReadOwner |
                                     QFile::WriteOwner),
           QFileDevice::Permissions());
  QVERIFY(!QFile::exists(QStringLiteral("sr.htm")));
  scratch.close();
  // In a runtime folder others may write to there is no copy, and the page is still shown.
  QFile::remove(scratch_path);
  const QString runtime = temp_.filePath(QStringLiteral("runtime"));
  const QFileDevice::Permissions private_mode = QFileInfo(runtime).permissions();
  QVERIFY(QFile::setPermissions(runtime, private_mode | QFile::WriteOther | QFile::WriteGroup));
  QCOMPARE(v->ShowHtml(Utf8ToGbk("<p id='t'>第二段</p>")), 1);
  QVERIFY(QFile::setPermissions(runtime, private_mode));
  QTRY_COMPARE_WITH_TIMEOUT(
      RunJs(v, QStringLiteral("document.getElementById('t') ? "
                              "document.getElementById('t').textContent : ''"))
          .toString(),
      U("第二段"), 10000);
  QVERIFY(!QFile::exists(scratch_path));
  QCOMPARE(v->ShowHtml(page), 1);
  QVERIFY(QFile::exists(scratch_path));

  QCOMPARE(v->SetBodyAttribute("BGCOLOR", "#123456"), 1);
  QCOMPARE(v->SetBodyAttribute("BGCOLOR", "#abcdef"), 1);
  QCOMPARE(RunJs(v, QStringLiteral("document.body.getAttribute('bgcolor')")).toString(),
           QStringLiteral("#abcdef"));
  QCOMPARE(v->body_attributes().size(), size_t{1});

  QCOMPARE(v->SetStyleSheet("p { color: rgb(255, 0, 0); }"), 1);
  QCOMPARE(
      RunJs(v, QStringLiteral("getComputedStyle(document.getElementById('t')).color")).toString(),
      QStringLiteral("rgb(255, 0, 0)"));
}

void GuiTest::everyOccurrenceIsMarked() {
  CMoreHtmlView* v = view();
  QVERIFY(LoadAndWait(v, QDir(sample_).filePath(QStringLiteral("first.htm")).toStdString()));
  QCOMPARE(v->ShowHtml(Utf8ToGbk("<p>明月 x 明月<b>明月</b> 月明</p>")), 1);
  v->HighlightInPage(Utf8ToGbk("明月"), "red", false);
  QVariant marks = RunJs(
      v,
      QStringLiteral(
          "Array.from(document.getElementsByTagName('font')).map(function (f) {"
          " return f.textContent + '|' + f.getAttribute('color') + '|' + f.style.backgroundColor;"
          " }).join(',')"));
  QCOMPARE(marks.toString(), U("明月|white|red,明月|white|red,明月|white|red"));
  QCOMPARE(v->pending_mark_count(), size_t{0});

  // A word split by inline mark-up is marked piece by piece; a line break, a block or a cell
  // between its characters keeps it from being a word.
  const struct {
    const char* html;
    const char* marked;  // the marks' texts, joined by ","
  } cases[] = {
      {"<p><b>明</b>月 x <i>明<u>月</u></i></p>", "明,月,明,月"},
      {"<p>明<br>月</p><div>明</div>月<table><tr><td>明</td><td>月</td></tr></table>", ""},
      {"<p>明月<b>明</b>月明<span>月</span></p>", "明月,明,月,明,月"},
  };
  for (const auto& c : cases) {
    QCOMPARE(v->ShowHtml(Utf8ToGbk(c.html)), 1);
    v->HighlightInPage(Utf8ToGbk("明月"), "red", false);
    QCOMPARE(RunJs(v, QStringLiteral("Array.from(document.querySelectorAll('font[color=white]'))"
                                     ".map(f => f.textContent).join(',')"))
                 .toString(),
             U(c.marked));
  }

  // While a PDF is shown nothing is marked and nothing is kept for later.
  v->set_pdf_shown(true);
  v->HighlightInPage(Utf8ToGbk("月明"), "blue", true);
  QCOMPARE(v->pending_mark_count(), size_t{0});
  v->set_pdf_shown(false);
}

void GuiTest::rememberedMarksApplyAtTheNextLoadOnly() {
  CMoreHtmlView* v = view();
  const QString first = QDir(sample_).filePath(QStringLiteral("first.htm"));
  const QString second = QDir(sample_).filePath(QStringLiteral("second.htm"));
  QString count = QStringLiteral("document.getElementsByTagName('font').length");

  v->HighlightInPage(Utf8ToGbk("春风"), "green", true);
  QCOMPARE(v->pending_mark_count(), size_t{1});
  // A load that fails does not use the marks up: they wait for a page that arrives.
  QSignalSpy failed(v, &CMoreHtmlView::documentComplete);
  v->Navigate(QDir(sample_).filePath(QStringLiteral("missing.htm")).toStdString());
  QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty() && !failed.last().at(0).toBool(), kLoadTimeoutMs);
  QCOMPARE(v->pending_mark_count(), size_t{1});
  QVERIFY(LoadAndWait(v, first.toStdString()));
  QCOMPARE(RunJs(v, count).toInt(), 2);
  QCOMPARE(v->pending_mark_count(), size_t{0});
  QVERIFY(LoadAndWait(v, second.toStdString()));
  QCOMPARE(RunJs(v, count).toInt(), 0);
}

void GuiTest::pageButtonClicksReachTheView() {
  CMoreHtmlView* v = view();
  QVERIFY(LoadAndWait(v, QDir(sample_).filePath(QStringLiteral("first.htm")).toStdString()));
  // In search mode a click re-renders the result page in place; in browsing mode it would
  // bring the start page back and take the buttons away.
  CTomevaDoc* doc = app_->document();
  if (doc->switches().book_search) frame()->RouteCommand(kCmdBookSearch);
  frame()->query_box()->setText(QStringLiteral("buttons"));
  frame()->RouteCommand(kCmdSearch);
  QVERIFY(doc->switches().search_mode);
  const std::string buttons =
      "<input type='button' id='B2' value='next'>"
      "<input type='button' id='B1x' value='other'>"
      "<span id='B3'>not a button</span>";
  QCOMPARE(v->ShowHtml(buttons), 1);
  v->HookPageButtons();
  v->HookPageButtons();  // hooking twice must not double the clicks
  QSignalSpy clicks(v, &CMoreHtmlView::pageButtonClicked);
  // The channel to the sink is set up asynchronously after the page was created.
  QTRY_VERIFY_WITH_TIMEOUT(
      (RunJs(v, QStringLiteral("document.getElementById('B2').click(); 1")), clicks.count() > 0),
      20000);
  QTest::qWait(300);  // clicks of the retries above still on their way
  clicks.clear();
  // Every click redraws the search's own page (here the no-result page); the buttons are put
  // back for the clicks counted below.
  QCOMPARE(v->ShowHtml(buttons), 1);
  v->HookPageButtons();
  RunJs(v, QStringLiteral("document.getElementById('B2').click();"
                          "document.getElementById('B1x').click();"
                          "document.getElementById('B3').click(); 1"));
  QTRY_COMPARE_WITH_TIMEOUT(clicks.count(), 2, 10000);
  QTest::qWait(200);
  QCOMPARE(clicks.count(), 2);
  QCOMPARE(clicks.at(0).at(0).toString(), QStringLiteral("B2"));
  QCOMPARE(clicks.at(1).at(0).toString(), QStringLiteral("B1x"));
  frame()->RouteCommand(kCmdHome);
  frame()->RouteCommand(kCmdBookSearch);
  QVERIFY(!doc->switches().search_mode);
  QVERIFY(doc->switches().book_search);
}

void GuiTest::screenshots() {
  QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
  // Back to the start page for the picture.
  QVERIFY(LoadAndWait(view(), JoinPath(app_->document()->settings().ebook_dir, "home.htm")));
  QTest::qWait(300);
  QImage start = frame()->grab().toImage();
  QVERIFY(!start.isNull());
  QVERIFY(start.save(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/main-window.png")));

  frame()->action(kCmdAdvancedSearch)->trigger();
  QTest::qWait(300);
  QImage advanced = frame()->grab().toImage();
  QVERIFY(advanced.save(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/main-window-advanced.png")));
  frame()->action(kCmdAdvancedSearch)->trigger();
  QVERIFY(start != advanced);
}

void GuiTest::zoomIsRestoredOnClose() {
  CMoreHtmlView* v = view();
  QCOMPARE(app_->document()->switches().initial_browser_zoom, 2);
  QCOMPARE(v->zoomFactor(), 1.0);
  frame()->action(kCmdZoomLargest)->trigger();
  QCOMPARE(v->zoomFactor(), 1.4);
  QVERIFY(frame()->action(kCmdZoomLargest)->isChecked());
  frame()->close();
  QCOMPARE(v->zoomFactor(), 1.0);
}

void GuiTest::cleanupTestCase() {
  if (app_) app_->ExitInstance();
  app_.reset();
  QDir::setCurrent(QDir::tempPath());
}

}  // namespace tomeva::gui

int main(int argc, char** argv) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  tomeva::gui::GuiTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "gui_test.moc"
