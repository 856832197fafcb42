#include "gui/frame/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QGridLayout>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstdlib>

#include "base/texts.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "gui/frame/child_frame.h"
#include "gui/frame/gbk_text.h"
#include "gui/frame/toolbar_icons.h"
#include "gui/views/tomeva_view.h"
#include "gui/views/tree_form_view.h"

namespace tomeva::gui {
namespace {

// Labels of the advanced-search bar are 7 pixels wide per byte of their (GBK) text.
QLabel* MakeBarLabel(const std::string& utf8, int id, QWidget* parent) {
  auto* label = new QLabel(FromUtf8(utf8), parent);
  label->setObjectName(QStringLiteral("label%1").arg(id));
  label->setAlignment(Qt::AlignCenter);
  label->setFixedSize(7 * static_cast<int>(Utf8ToGbk(utf8).size()), 24);
  return label;
}

// "status\ntooltip" -> the two parts.
std::pair<QString, QString> SplitTip(const std::string& tip) {
  size_t nl = tip.find('\n');
  if (nl == std::string::npos) return {FromUtf8(tip), FromUtf8(tip)};
  return {FromUtf8(tip.substr(0, nl)), FromUtf8(tip.substr(nl + 1))};
}

}  // namespace

CMainFrame::CMainFrame(std::vector<std::string> key_field_names, QWidget* parent)
    : QMainWindow(parent), key_field_names_(std::move(key_field_names)) {
  setObjectName(QStringLiteral("CMainFrame"));
  setWindowTitle(QString::fromUtf8(TextUtf8(kTextAppTitle)));
  setMinimumSize(kFrameMinimum, kFrameMinimum);

  BuildStatusBar();
  BuildQueryBar();
  addToolBarBreak(Qt::TopToolBarArea);
  BuildAdvancedBar();
  advanced_bar_->hide();
  BuildMenu(NoDocumentMenu());

  // The frame's accelerator: Enter runs the search, wherever the focus is in the window.
  for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] { RouteCommand(kCmdSearch); });
  }
}

CMainFrame::~CMainFrame() { DetachDocument(); }

QAction* CMainFrame::MakeAction(int id) {
  auto it = actions_.find(id);
  if (it != actions_.end()) return it->second;
  auto* act = new QAction(this);
  act->setData(id);
  act->setObjectName(QStringLiteral("cmd%1").arg(id));
  std::string status = CommandStatusTextUtf8(id);
  if (!status.empty()) act->setStatusTip(FromUtf8(status));
  QIcon icon = ToolbarIcon(id);
  if (!icon.isNull()) act->setIcon(icon);
  connect(act, &QAction::triggered, this, [this, id] { RouteCommand(id); });
  // The menu names Ctrl+P beside the print command; the key works wherever the focus is.
  if (id == kCmdPrint) act->setShortcut(QKeySequence::Print);
  actions_[id] = act;
  return act;
}

QAction* CMainFrame::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::AddMenuItems(QMenu* menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    if (item.id == 0) {
      QMenu* sub = menu->addMenu(FromUtf8(item.text));
      connect(sub, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
      AddMenuItems(sub, item.children);
      continue;
    }
    QAction* act = MakeAction(item.id);
    act->setText(FromUtf8(item.text));
    menu->addAction(act);
  }
}

void CMainFrame::BuildMenu(const std::vector<MenuPopup>& popups) {
  menuBar()->clear();
  for (const MenuPopup& popup : popups) {
    QMenu* menu = menuBar()->addMenu(FromUtf8(popup.title));
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
    AddMenuItems(menu, popup.items);
  }
  // Commands whose state is a check mark show it in the menu and as a pressed button.
  for (int id : {int(kCmdAdvancedSearch), int(kCmdBookSearch), int(kCmdViewToolbar),
                 int(kCmdViewStatusBar), int(kCmdModeExact), int(kCmdModeNatural),
                 int(kCmdModeAuto), int(kCmdZoomSmallest), int(kCmdZoomSmall),
                 int(kCmdZoomMedium), int(kCmdZoomLarge), int(kCmdZoomLargest)}) {
    if (QAction* act = action(id)) act->setCheckable(true);
  }
  UpdateCommandUi();
}

void CMainFrame::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  mode_pane_ = new QLabel(FromUtf8(QueryModePaneTextUtf8(2)), bar);
  mode_pane_->setObjectName(QStringLiteral("pane%1").arg(kIdModePane));
  bar->addPermanentWidget(mode_pane_);
  for (const char* lock : {"CAP", "NUM", "SCRL"}) {
    auto* label = new QLabel(QString::fromLatin1(lock), bar);
    label->setObjectName(QStringLiteral("lock%1").arg(QString::fromLatin1(lock)));
    label->setEnabled(false);
    bar->addPermanentWidget(label);
  }
}

void CMainFrame::BuildQueryBar() {
  query_bar_ = new QToolBar(QStringLiteral("Querybar"), this);
  query_bar_->setObjectName(QStringLiteral("Querybar"));
  query_bar_->setMovable(false);

  auto* band_text = new QLabel(QString::fromUtf8(TextUtf8(kTextQueryBand)), query_bar_);
  band_text->setObjectName(QStringLiteral("queryBandLabel"));
  query_bar_->addWidget(band_text);

  query_box_ = new QLineEdit(query_bar_);
  query_box_->setObjectName(QStringLiteral("queryBox"));
  query_box_->setMaxLength(kQueryBoxMaxChars);
  query_box_->setMinimumSize(80, 20);
  query_box_->setFixedWidth(200);
  auto [status, tip] = SplitTip(TextUtf8(kTextQueryBoxTip));
  query_box_->setStatusTip(status);
  query_box_->setToolTip(tip);
  query_box_->installEventFilter(this);
  query_bar_->addWidget(query_box_);

  command_toolbar_ = new QToolBar(query_bar_);
  command_toolbar_->setObjectName(QStringLiteral("toolbar%1").arg(kIdCommandToolbar));
  command_toolbar_->setIconSize(QSize(kToolbarImageSize, kToolbarImageSize));
  command_toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  for (const ToolbarButton& b : CommandToolbarButtons()) {
    QAction* act = MakeAction(b.id);
    act->setIconText(FromUtf8(b.label));
    if (act->text().isEmpty()) act->setText(FromUtf8(b.label));
    auto [bstatus, btip] = SplitTip(b.tip);
    act->setStatusTip(bstatus);
    act->setToolTip(btip);
    command_toolbar_->addAction(act);
    if (b.drop_down) {
      auto* button = qobject_cast<QToolButton*>(command_toolbar_->widgetForAction(act));
      history_menu_ = new QMenu(this);
      history_menu_->setObjectName(QStringLiteral("historyMenu"));
      connect(history_menu_, &QMenu::aboutToShow, this, &CMainFrame::FillHistoryMenu);
      if (button != nullptr) {
        button->setMenu(history_menu_);
        button->setPopupMode(QToolButton::MenuButtonPopup);
      }
    }
  }
  query_bar_->addWidget(command_toolbar_);
  addToolBar(Qt::TopToolBarArea, query_bar_);
}

void CMainFrame::BuildAdvancedBar() {
  advanced_bar_ = new QToolBar(QStringLiteral("Advanced"), this);
  advanced_bar_->setObjectName(QStringLiteral("toolbar%1").arg(kIdAdvancedToolbar));
  advanced_bar_->setIconSize(QSize(kToolbarImageSize, kToolbarImageSize));
  advanced_bar_->addWidget(MakeBarLabel(LabelInUtf8(), kIdLabelIn, advanced_bar_));

  field_box_ = new QComboBox(advanced_bar_);
  field_box_->setObjectName(QStringLiteral("fieldBox"));
  field_box_->setEditable(true);
  field_box_->setFixedWidth(kFieldBoxWidth);
  field_box_->view()->setMaximumHeight(kFieldListHeight);
  auto [status, tip] = SplitTip(FieldBoxTipUtf8());
  field_box_->setStatusTip(status);
  field_box_->setToolTip(tip);
  for (const std::string& name : key_field_names_) field_box_->addItem(FromGbk(name));
  field_box_->setCurrentIndex(-1);
  field_box_->setEditText(QString());
  advanced_bar_->addWidget(field_box_);

  advanced_bar_->addWidget(MakeBarLabel(LabelInFieldUtf8(), kIdLabelInField, advanced_bar_));
  QAction* button = MakeAction(kCmdFieldButton);
  button->setText(QString::fromUtf8(TextUtf8(kTextQueryBand)));
  advanced_bar_->addAction(button);
  addToolBar(Qt::TopToolBarArea, advanced_bar_);
}

void CMainFrame::SetDocument(CTomevaDoc* doc) {
  DetachDocument();
  doc_ = doc;
  if (doc_ == nullptr) return;
  BuildMenu(DocumentMenu());
  if (child_ == nullptr) {
    child_ = new CChildFrame(this);
    setCentralWidget(child_);
    // Printing becomes possible once the view has a page.
    connect(child_->html_view(), &CMoreHtmlView::documentComplete, this,
            &CMainFrame::UpdateCommandUi);
    connect(child_->html_view(), &CTomevaView::printDone, this,
            [this](bool ok, const QString& failure) {
              UpdateCommandUi();
              if (!ok) ShowFrameMessage(failure);
            });
  }
  doc_->AttachFrame(this);
  child_->tree_view()->SetDocument(doc_);
  child_->html_view()->SetDocument(doc_);
  child_->html_view()->OnInitialUpdate();
  UpdateCommandUi();
}

void CMainFrame::DetachDocument() {
  if (doc_ == nullptr) return;
  if (child_ != nullptr) {
    child_->html_view()->OnClose();
    child_->html_view()->SetDocument(nullptr);
    child_->tree_view()->SetDocument(nullptr);
  }
  doc_->AttachFrame(nullptr);
  doc_ = nullptr;
}

CTomevaView* CMainFrame::html_view() const { return child_ ? child_->html_view() : nullptr; }
CTreeFormView* CMainFrame::tree_view() const { return child_ ? child_->tree_view() : nullptr; }

void CMainFrame::RouteCommand(int id) {
  emit commandRouted(id);
  bool handled = doc_ != nullptr && doc_->OnCommand(id);
  if (!handled) HandleFrameCommand(id);
  UpdateCommandUi();
}

bool CMainFrame::HandleFrameCommand(int id) {
  switch (id) {
    case kCmdExit:
      close();
      return true;
    case kCmdAbout:
      ShowAbout();
      return true;
    case kCmdPrint:
      PrintView();
      return true;
    case kCmdPrintSetup:
      SetUpPage();
      return true;
    case kCmdViewToolbar:
      query_bar_->setVisible(!query_bar_->isVisible());
      return true;
    case kCmdViewStatusBar:
      statusBar()->setVisible(!statusBar()->isVisible());
      return true;
    default:
      return false;
  }
}

void CMainFrame::UpdateCommandUi() {
  for (auto& [id, act] : actions_) {
    CommandState state;
    if (doc_ != nullptr && doc_->OnUpdateCommand(id, &state)) {
      act->setEnabled(state.enabled);
      if (act->isCheckable()) act->setChecked(state.checked);
      continue;
    }
    switch (id) {
      case kCmdViewToolbar:
        act->setEnabled(true);
        act->setChecked(!query_bar_->isHidden());
        break;
      case kCmdViewStatusBar:
        act->setEnabled(true);
        act->setChecked(!statusBar()->isHidden());
        break;
      case kCmdExit:
      case kCmdAbout:
        act->setEnabled(true);
        break;
      case kCmdPrint:
      case kCmdPrintSetup:
        // Something to print: a page loaded in the right-hand view, no print under way.
        act->setEnabled(html_view() != nullptr && html_view()->CanPrint());
        break;
      default:
        // A command nobody handles is shown disabled.
        act->setEnabled(false);
        if (act->isCheckable()) act->setChecked(false);
    }
  }
  if (doc_ != nullptr) mode_pane_->setText(FromUtf8(QueryModePaneTextUtf8(doc_->switches().query_mode)));
}

void CMainFrame::ShowAbout() {
  const QString title = QString::fromUtf8(TextUtf8(kTextAppTitle));
  QMessageBox box(QMessageBox::Information, title, QString(), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("aboutBox"));
  box.setTextFormat(Qt::RichText);
  // The version is the project's one number (CMakeLists.txt), as the package's is.
  box.setText(QStringLiteral("<p><b>%1</b></p><p>V%2</p>")
                  .arg(title.toHtmlEscaped(), QStringLiteral(TOMEVA_VERSION)));
  // A message box is as wide as its text, and the window's title bar then elides the title:
  // the box is made wide enough for the title in the title bar's font, with room for the
  // bar's buttons.
  QFont bar_font = box.font();
  bar_font.setBold(true);
  const int needed = QFontMetrics(bar_font).horizontalAdvance(title) + 160;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(needed, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.exec();
}

QPrinter* CMainFrame::printer() {
  if (printer_ == nullptr) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return printer_.get();
}

void CMainFrame::PrintView() {
  CTomevaView* view = html_view();
  if (view == nullptr || !view->CanPrint()) return;
  QPrinter* target = printer();
  if (const char* file = std::getenv(kPrintToVariable); file != nullptr && *file != '\0') {
    target->setOutputFormat(QPrinter::PdfFormat);
    target->setOutputFileName(QString::fromLocal8Bit(file));
  } else {
    QPrintDialog dialog(target, this);
    dialog.setWindowTitle(QString::fromUtf8("打印"));
    if (dialog.exec() != QDialog::Accepted) return;
  }
  view->Print(target);
  UpdateCommandUi();
}

void CMainFrame::SetUpPage() {
  QPageSetupDialog dialog(printer(), this);
  dialog.setObjectName(QStringLiteral("pageSetupDialog"));
  dialog.setWindowTitle(QString::fromUtf8("打印设置"));
  dialog.exec();
}

void CMainFrame::ShowFrameMessage(const QString& text) {
  if (message_sink_) {
    message_sink_(text);
    return;
  }
  QMessageBox::warning(this, QString::fromUtf8(TextUtf8(kTextAppTitle)), text);
}

void CMainFrame::FillHistoryMenu() {
  history_menu_->clear();
  if (doc_ == nullptr) return;
  auto items = doc_->history().MenuItems();
  if (items.empty()) {
    // Nothing to offer: the menu closes again at once.
    QTimer::singleShot(0, history_menu_, &QMenu::close);
    return;
  }
  for (const auto& [id, text] : items) {
    // A menu takes "&" as the mark of a shortcut letter; a query is shown as it was typed.
    QString label = FromGbk(text);
    label.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* act = history_menu_->addAction(label);
    act->setData(id);
    int command = id;
    connect(act, &QAction::triggered, this, [this, command] { RouteCommand(command); });
  }
}

void CMainFrame::RaiseWindow() {
  if (isMinimized()) showMaximized();
  show();
  raise();
  activateWindow();
}

void CMainFrame::FocusQueryBox() {
  activateWindow();
  query_box_->setFocus(Qt::OtherFocusReason);
}

std::string CMainFrame::GetQueryText() { return ToGbk(query_box_->text()); }

void CMainFrame::SetQueryText(const std::string& text) { query_box_->setText(FromGbk(text)); }

void CMainFrame::SelectAllQueryText() {
  // Typing then replaces the old query; the caret ends at the text's end, in view.
  query_box_->selectAll();
}

std::string CMainFrame::GetFieldText() { return ToGbk(field_box_->currentText()); }

void CMainFrame::SetFieldText(const std::string& text) {
  field_box_->setEditText(FromGbk(text));
}

void CMainFrame::ShowAdvancedBar(bool show) { advanced_bar_->setVisible(show); }

void CMainFrame::PostCommand(int id) {
  QMetaObject::invokeMethod(this, [this, id] { RouteCommand(id); }, Qt::QueuedConnection);
}

void CMainFrame::ShowStatusText(const std::string& text) {
  statusBar()->showMessage(FromGbk(text));
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == query_box_ && event->type() == QEvent::KeyPress && tree_view() != nullptr) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool ctrl = key->modifiers() & Qt::ControlModifier;
    int tree_key = 0;
    if (key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown) tree_key = key->key();
    if (ctrl && (key->key() == Qt::Key_Home || key->key() == Qt::Key_End)) tree_key = key->key();
    // Outside search mode the tree takes no paging key, and the box keeps its own.
    if (tree_key != 0 && tree_view()->OnTreeKey(tree_key)) return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // The browser's text size goes back to what it was before the program changed it.
  if (child_ != nullptr) child_->html_view()->OnClose();
  QMainWindow::closeEvent(event);
}

}  // namespace tomeva::gui
