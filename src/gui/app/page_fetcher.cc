#include "gui/app/page_fetcher.h"

#include <QEventLoop>
#include <QMimeDatabase>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <memory>

#include "base/gbk.h"

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

// The type of the page as the engine is to read it: the server's type with its character set (the
// rest of the header could break the data address), else what the address's name and the bytes
// look like (a file: address has no header).
QString MimeTypeOf(const QNetworkReply& reply, const QByteArray& body) {
  static const QRegularExpression kType(
      QStringLiteral("^[A-Za-z0-9!#$&^_.+-]+/[A-Za-z0-9!#$&^_.+-]+$"));
  static const QRegularExpression kCharset(QStringLiteral("^[A-Za-z0-9_.:+-]+$"));
  const QStringList parts =
      reply.header(QNetworkRequest::ContentTypeHeader).toString().split(QLatin1Char(';'));
  const QString type = parts.value(0).trimmed().toLower();
  if (!kType.match(type).hasMatch()) {
    return QMimeDatabase().mimeTypeForFileNameAndData(reply.url().fileName(), body).name();
  }
  for (qsizetype i = 1; i < parts.size(); ++i) {
    const QString parameter = parts[i].trimmed();
    if (!parameter.startsWith(QLatin1String("charset="), Qt::CaseInsensitive)) continue;
    QString charset = parameter.mid(8);
    charset.remove(QLatin1Char('"'));
    if (kCharset.match(charset).hasMatch()) return type + QStringLiteral(";charset=") + charset;
  }
  return type;
}

void RunLocalLoop(QEventLoop& loop, int milliseconds) {
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(milliseconds);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

PageFetcher::PageFetcher()
    : network_(std::make_unique<QNetworkAccessManager>()),
      profile_(std::make_unique<QWebEngineProfile>()),
      deadline_(std::make_unique<QTimer>()) {
  // A profile without a storage name keeps nothing on disk; the cache is off besides, so that
  // every reading asks the server and nothing of it is written.
  profile_->setHttpCacheType(QWebEngineProfile::NoCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  deadline_->setSingleShot(true);
}

PageFetcher::~PageFetcher() { Close(); }

bool PageFetcher::Navigate(const std::string& url) {
  const QUrl address(QString::fromStdString(GbkToUtf8(url)));
  const QString scheme = address.scheme().toLower();
  if (profile_ == nullptr || !address.isValid() ||
      (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
       scheme != QLatin1String("file"))) {
    return false;
  }
  DropTransfer();
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

  QNetworkRequest request(address);
  // Each redirect is judged below: an http page could be sent anywhere, and an https page must
  // not leave TLS, since the version check trusts an https page's updater address.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::UserVerifiedRedirectPolicy);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                       QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setTransferTimeout(kPageStallMs);
  scheme_ = scheme;
  refused_ = false;
  body_.clear();
  QNetworkReply* reply = network_->get(request);
  reply_ = reply;
  QObject::connect(reply, &QNetworkReply::redirected, reply, [this, reply](const QUrl& target) {
    if (scheme_ == QLatin1String("https") &&
        target.scheme().toLower() == QLatin1String("https")) {
      emit reply->redirectAllowed();
      return;
    }
    refused_ = true;
    reply->abort();
  });
  QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [this, reply] {
    bool known = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && length > kMaxPageBytes) {
      refused_ = true;
      reply->abort();
    }
  });
  QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, reply] {
    if (refused_) return;
    body_ += reply->readAll();
    if (body_.size() > kMaxPageBytes) {
      refused_ = true;
      reply->abort();
    }
  });
  QObject::connect(reply, &QNetworkReply::finished, reply, [this] { TransferFinished(); });
  QObject::connect(deadline_.get(), &QTimer::timeout, reply, [this, reply] {
    refused_ = true;
    reply->abort();
  });
  deadline_->start(kPageDeadlineMs);
  return true;
}

void PageFetcher::DropTransfer() {
  deadline_->stop();
  if (reply_ == nullptr) return;
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  // Its end is no longer awaited.
  QObject::disconnect(reply, nullptr, nullptr, nullptr);
  QObject::disconnect(deadline_.get(), nullptr, reply, nullptr);
  reply->abort();
  reply->deleteLater();
}

void PageFetcher::TransferFinished() {
  QNetworkReply* reply = reply_;
  if (reply == nullptr) return;
  reply_ = nullptr;
  deadline_->stop();
  QObject::disconnect(deadline_.get(), nullptr, reply, nullptr);
  if (!refused_ && reply->isOpen()) body_ += reply->readAll();
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  // A redirect not followed, an error page, or a page cut short is not the version page.
  const bool whole = !refused_ && reply->error() == QNetworkReply::NoError &&
                     body_.size() <= kMaxPageBytes &&
                     (!status.isValid() || (status.toInt() >= 200 && status.toInt() <= 299));
  if (whole && page_ != nullptr) {
    // The page's own address stays its address: relative links and the page's scripts see it
    // as the engine would have shown it.
    page_->setContent(body_, MimeTypeOf(*reply, body_), reply->url());
  } else {
    busy_ = false;
    loaded_ = false;
  }
  body_.clear();
  reply->deleteLater();
}

bool PageFetcher::IsBusy() { return page_ != nullptr && busy_; }

void PageFetcher::Stop() {
  if (reply_ != nullptr) {
    DropTransfer();
    busy_ = false;
    loaded_ = false;
  }
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
  if (deadline_ != nullptr) DropTransfer();
  // The page goes before its profile.
  page_.reset();
  profile_.reset();
  network_.reset();
}

std::string FetchPageText(const std::string& url, const PageFetchTiming& timing) {
  PageFetcher browser;
  return tomeva::FetchPageText(browser, url, timing);
}

}  // namespace tomeva::gui
