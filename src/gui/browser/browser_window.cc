#include "gui/browser/browser_window.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QStyle>
#include <QToolBar>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "core/settings/settings.h"

namespace tomeva::gui {
namespace {

bool IsWebScheme(const QString& scheme) {
  return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// The page telling that `url` is not opened here: plain text, no script.
QString RefusalPage(const QUrl& url) {
  const QString address = url.toDisplayString().left(200).toHtmlEscaped();
  return QString::fromUtf8(
             "<html><head><meta charset=\"utf-8\"><title>无法打开此地址</title></head><body>"
             "<h3>浏览器窗口不打开此地址</h3><p>%1</p>"
             "<p>浏览器窗口只打开 http:// 和 https:// 网址，以及安装文件夹中的出版者页面"
             " publisher.htm。</p></body></html>")
      .arg(address);
}

// A page that opens the windows it asks for in itself (the browser window is one window) and
// lets its frames go only where the window may go.
class SingleWindowPage : public QWebEnginePage {
 public:
  explicit SingleWindowPage(QObject* parent) : QWebEnginePage(parent) {
    connect(this, &QWebEnginePage::loadFinished, this, [this] { own_page_ = false; });
  }
  // The next main-frame load is the window's own refusal page.
  void AllowOwnPage() { own_page_ = true; }

 protected:
  QWebEnginePage* createWindow(WebWindowType) override { return this; }
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool is_main_frame) override {
    if (is_main_frame && own_page_) {
      own_page_ = false;
      return url.scheme() == QLatin1String("data");
    }
    if (is_main_frame) return BrowserWindow::IsOpenable(url, QDir::currentPath());
    // A web page's frames may be made of about:blank, data: and blob: too; never of a file.
    const QString scheme = url.scheme().toLower();
    return scheme != QLatin1String("file") && scheme != QLatin1String("javascript");
  }

 private:
  bool own_page_ = false;
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

bool BrowserWindow::Open(const QUrl& url) {
  address_->setText(url.toDisplayString());
  if (!IsOpenable(url, QDir::currentPath())) {
    setWindowTitle(QString::fromUtf8("无法打开此地址"));
    static_cast<SingleWindowPage*>(view_->page())->AllowOwnPage();
    view_->setHtml(RefusalPage(url));
    return false;
  }
  setWindowTitle(url.toDisplayString());
  view_->load(url);
  return true;
}

bool BrowserWindow::IsOpenable(const QUrl& url, const QString& installation) {
  if (!url.isValid()) return false;
  const QString scheme = url.scheme().toLower();
  if (IsWebScheme(scheme)) return !url.host().isEmpty();
  // The program's own page for an installation that names no publisher: a data: address that
  // only the program builds, compared whole.
  if (scheme == QLatin1String("data")) {
    return url == QUrl(QString::fromStdString(NoPublisherSitePage()));
  }
  if (scheme != QLatin1String("file") || !url.isLocalFile()) return false;
  const QFileInfo file(url.toLocalFile());
  if (file.fileName().compare(QLatin1String("publisher.htm"), Qt::CaseInsensitive) != 0) {
    return false;
  }
  // The installation's own page: the same file as the one in the installation folder, links
  // resolved on both sides.
  const QString real = file.canonicalFilePath();
  if (real.isEmpty() || !file.isFile()) return false;
  const QFileInfoList entries = QDir(installation).entryInfoList(QDir::Files);
  for (const QFileInfo& entry : entries) {
    if (entry.fileName().compare(QLatin1String("publisher.htm"), Qt::CaseInsensitive) == 0 &&
        entry.canonicalFilePath() == real) {
      return true;
    }
  }
  return false;
}

QUrl BrowserWindow::UrlFromArgument(const QString& argument, const QString& working_dir) {
  const QUrl url(argument);
  // One letter before ":" is a drive, not a scheme.
  if (url.isValid() && url.scheme().size() > 1) return url;
  return QUrl::fromUserInput(argument, working_dir, QUrl::AssumeLocalFile);
}

}  // namespace tomeva::gui
