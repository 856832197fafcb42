#include "gui/browser/browser_window.h"

#include <QAction>
#include <QLineEdit>
#include <QStyle>
#include <QToolBar>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace tomeva::gui {
namespace {

// A page that opens the windows it asks for in itself: the browser window is one window.
class SingleWindowPage : public QWebEnginePage {
 public:
  using QWebEnginePage::QWebEnginePage;

 protected:
  QWebEnginePage* createWindow(WebWindowType) override { return this; }
};

}  // namespace

BrowserWindow::BrowserWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("BrowserWindow"));
  view_ = new QWebEngineView(this);
  view_->setPage(new SingleWindowPage(view_));
  setCentralWidget(view_);

  auto* bar = new QToolBar(this);
  bar->setObjectName(QStringLiteral("navigation"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  auto add = [&](QWebEnginePage::WebAction action, QStyle::StandardPixmap icon,
                 const char* text, const char* name) {
    QAction* act = view_->pageAction(action);
    act->setIcon(style()->standardIcon(icon));
    act->setText(QString::fromUtf8(text));
    act->setObjectName(QString::fromLatin1(name));
    bar->addAction(act);
  };
  add(QWebEnginePage::Back, QStyle::SP_ArrowBack, "后退", "back");
  add(QWebEnginePage::Forward, QStyle::SP_ArrowForward, "前进", "forward");
  add(QWebEnginePage::Reload, QStyle::SP_BrowserReload, "刷新", "reload");
  address_ = new QLineEdit(bar);
  address_->setObjectName(QStringLiteral("address"));
  address_->setReadOnly(true);
  bar->addWidget(address_);
  addToolBar(Qt::TopToolBarArea, bar);

  connect(view_, &QWebEngineView::titleChanged, this, [this](const QString& title) {
    setWindowTitle(title.isEmpty() ? view_->url().toDisplayString() : title);
  });
  connect(view_, &QWebEngineView::urlChanged, this, [this](const QUrl& url) {
    address_->setText(url.toDisplayString());
    if (view_->title().isEmpty()) setWindowTitle(url.toDisplayString());
  });
  resize(1024, 720);
}

void BrowserWindow::Open(const QUrl& url) {
  setWindowTitle(url.toDisplayString());
  address_->setText(url.toDisplayString());
  view_->load(url);
}

QUrl BrowserWindow::UrlFromArgument(const QString& argument, const QString& working_dir) {
  const QUrl url(argument);
  // One letter before ":" is a drive, not a scheme.
  if (url.isValid() && url.scheme().size() > 1) return url;
  return QUrl::fromUserInput(argument, working_dir, QUrl::AssumeLocalFile);
}

}  // namespace tomeva::gui
