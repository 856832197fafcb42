#include "gui/app/page_fetcher.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <memory>

#include "core/base/gbk.h"

namespace tomeva::gui {
namespace {

// Longest wait for the page to hand its text over once it has loaded.
constexpr int kReadTimeoutMs = 5000;

// A page that never opens a dialog: the check is invisible, and a script's alert must not stop
// the start of the program.
class SilentPage : public QWebEnginePage {
 public:
  explicit SilentPage(QWebEngineProfile* profile) : QWebEnginePage(profile) {}

 protected:
  void javaScriptAlert(const QUrl&, const QString&) override {}
  bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
    return false;
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}
};

// The page's text as [is_xml, text]. Chromium shows an XML file in a viewer of its own: its shown
// text is the viewer's, and `document.body` may be null, so an XML document gives its source,
// which the version check parses as XML. (The source comes without the file's XML declaration.)
// Every other page gives its body's text as shown, "" without a body.
constexpr char kReadScript[] = R"JS(
(function () {
  var type = document.contentType || '';
  if (/[\/+]xml$/.test(type) && type !== 'application/xhtml+xml') {
    return [true, new XMLSerializer().serializeToString(document)];
  }
  return [false, document.body ? document.body.innerText : ''];
})()
)JS";

void RunLocalLoop(QEventLoop& loop, int milliseconds) {
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(milliseconds);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

PageFetcher::PageFetcher() : profile_(std::make_unique<QWebEngineProfile>()) {
  // A profile without a storage name keeps nothing on disk; the cache is off besides, so that
  // every reading asks the server and nothing of it is written.
  profile_->setHttpCacheType(QWebEngineProfile::NoCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
}

PageFetcher::~PageFetcher() { Close(); }

bool PageFetcher::Navigate(const std::string& url) {
  const QUrl address(QString::fromStdString(GbkToUtf8(url)));
  if (profile_ == nullptr || !address.isValid() || address.scheme().isEmpty()) return false;
  // A fresh page for each attempt, so that the end of a stopped earlier load cannot be taken
  // for the end of this one. Nothing else of a page is kept between attempts.
  page_ = std::make_unique<SilentPage>(profile_.get());
  // The page's icon is never shown: it is not asked for.
  page_->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
  busy_ = true;
  loaded_ = false;
  QObject::connect(page_.get(), &QWebEnginePage::loadFinished, page_.get(), [this](bool ok) {
    busy_ = false;
    loaded_ = ok;
  });
  page_->load(address);
  return true;
}

bool PageFetcher::IsBusy() { return page_ != nullptr && busy_; }

void PageFetcher::Stop() {
  if (page_ != nullptr) page_->triggerAction(QWebEnginePage::Stop);
}

std::optional<std::string> PageFetcher::ReadBodyText() {
  if (page_ == nullptr || busy_ || !loaded_) return std::nullopt;
  // Shared with the callback, which may still come after a reading that gave up waiting.
  struct Reading {
    QVariant result;
    bool answered = false;
    QEventLoop* loop = nullptr;
  };
  auto reading = std::make_shared<Reading>();
  QEventLoop loop;
  reading->loop = &loop;
  // In a world of its own: the page's scripts cannot change what the reading sees.
  page_->runJavaScript(QString::fromLatin1(kReadScript), QWebEngineScript::ApplicationWorld,
                       [reading](const QVariant& value) {
                         reading->result = value;
                         reading->answered = true;
                         if (reading->loop != nullptr) reading->loop->quit();
                       });
  if (!reading->answered) RunLocalLoop(loop, kReadTimeoutMs);
  reading->loop = nullptr;
  const QVariantList parts = reading->result.toList();
  if (!reading->answered || parts.size() != 2) return std::nullopt;
  std::string text = Utf8ToGbk(parts[1].toString().toStdString());
  if (parts[0].toBool() && text.compare(0, 5, "<?xml") != 0) {
    text = "<?xml version=\"1.0\"?>\r\n" + text;
  }
  return text;
}

void PageFetcher::Sleep(int milliseconds) {
  QEventLoop loop;
  RunLocalLoop(loop, milliseconds);
}

void PageFetcher::Close() {
  // The page goes before its profile.
  page_.reset();
  profile_.reset();
}

std::string FetchPageText(const std::string& url, const PageFetchTiming& timing) {
  PageFetcher browser;
  return tomeva::FetchPageText(browser, url, timing);
}

}  // namespace tomeva::gui
