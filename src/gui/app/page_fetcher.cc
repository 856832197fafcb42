#include "gui/app/page_fetcher.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <memory>
#include <utility>

#include "base/gbk.h"
#include "core/update/page_text.h"
#include "platform/download.h"

namespace tomeva::gui {
namespace {

void RunLocalLoop(QEventLoop& loop, int milliseconds) {
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(milliseconds);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// The file a file: address names, as the file system spells it; empty for an address of another
// machine.
std::string LocalPathOf(const QUrl& address) {
  const QString host = address.host();
  if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
    return std::string();
  }
  return QFile::encodeName(address.toLocalFile()).toStdString();
}

}  // namespace

PageFetcher::PageFetcher(std::string library_dir)
    : library_dir_(std::move(library_dir)),
      network_(std::make_unique<QNetworkAccessManager>()),
      deadline_(std::make_unique<QTimer>()) {
  deadline_->setSingleShot(true);
}

PageFetcher::~PageFetcher() { Close(); }

bool PageFetcher::Navigate(const std::string& url) {
  const QUrl address(QString::fromStdString(GbkToUtf8(url)));
  const QString scheme = address.scheme().toLower();
  if (network_ == nullptr || !address.isValid()) return false;
  DropTransfer();
  busy_ = false;
  loaded_ = false;
  body_.clear();
  content_type_.clear();
  name_ = address.fileName();
  scheme_ = scheme;
  if (scheme == QLatin1String("file")) {
    // Read at once, and only from inside the library: the address comes from the library's own
    // settings, which anyone who wrote the library wrote.
    std::string bytes;
    if (!platform::ReadFileInside(LocalPathOf(address), library_dir_, kMaxPageBytes, &bytes)) {
      return false;
    }
    body_ = QByteArray::fromStdString(bytes);
    loaded_ = true;
    return true;
  }
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return false;

  QNetworkRequest request(address);
  // Each redirect is judged below: an http page could be sent anywhere, and an https page must
  // not leave TLS, since the version check trusts an https page's updater address.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::UserVerifiedRedirectPolicy);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setTransferTimeout(kPageStallMs);
  refused_ = false;
  busy_ = true;
  QNetworkReply* reply = network_->get(request);
  reply_ = reply;
  QObject::connect(reply, &QNetworkReply::redirected, reply, [this, reply](const QUrl& target) {
    if (scheme_ == QLatin1String("https") && target.scheme().toLower() == QLatin1String("https")) {
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
  loaded_ = !refused_ && reply->error() == QNetworkReply::NoError &&
            body_.size() <= kMaxPageBytes &&
            (!status.isValid() || (status.toInt() >= 200 && status.toInt() <= 299));
  busy_ = false;
  if (loaded_) {
    content_type_ = reply->header(QNetworkRequest::ContentTypeHeader).toString();
  } else {
    body_.clear();
  }
  reply->deleteLater();
}

bool PageFetcher::IsBusy() { return busy_; }

void PageFetcher::Stop() {
  if (reply_ == nullptr) return;
  DropTransfer();
  busy_ = false;
  loaded_ = false;
  body_.clear();
}

std::optional<std::string> PageFetcher::ReadBodyText() {
  if (busy_ || !loaded_) return std::nullopt;
  return VersionPageText(std::string_view(body_.constData(), static_cast<size_t>(body_.size())),
                         content_type_.toStdString(), name_.toStdString());
}

void PageFetcher::Sleep(int milliseconds) {
  QEventLoop loop;
  RunLocalLoop(loop, milliseconds);
}

void PageFetcher::Close() {
  if (deadline_ != nullptr) DropTransfer();
  network_.reset();
}

std::string FetchPageText(const std::string& url, const std::string& library_dir,
                          const PageFetchTiming& timing) {
  PageFetcher reader(library_dir);
  return tomeva::FetchPageText(reader, url, timing);
}

}  // namespace tomeva::gui
