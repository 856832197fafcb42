#include "platform/download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <cerrno>
#include <string_view>
#include <vector>

#include "core/base/fault_injection.h"
#include "core/base/file_util.h"
#include "core/base/gbk.h"

namespace tomeva::platform {
namespace {

// The temporary file the download is written to; removed unless it was renamed into place.
class PartFile {
 public:
  explicit PartFile(const std::string& target) {
    const std::string dir = DirName(target);
    std::string name = JoinPath(dir.empty() ? "." : dir, "." + BaseName(target) + ".partXXXXXX");
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (InjectedFault(FaultSite::kFileWrite)) return;
    fd_ = ::mkstemp(buffer.data());
    if (fd_ >= 0) path_ = buffer.data();
  }
  ~PartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool is_open() const { return fd_ >= 0; }

  bool Write(const QByteArray& bytes) {
    if (InjectedFault(FaultSite::kFileWrite)) return false;
    return WriteAll(fd_, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  }

  // Gives the file its run bits, flushes and closes it, and renames it over `target`.
  bool Publish(const std::string& target) {
    if (InjectedFault(FaultSite::kFileWrite)) return false;
    bool ok = ::fchmod(fd_, 0755) == 0 && ::fsync(fd_) == 0;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    if (!ok || !RenamePath(path_, target)) return false;
    path_.clear();
    return true;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

bool DownloadToFile(const std::string& url, const std::string& path,
                    const DownloadOptions& options) {
  const QUrl address(QString::fromStdString(GbkToUtf8(url)));
  if (!address.isValid() || address.scheme().isEmpty()) return false;
  const std::string target = ResolvePath(path);
  PartFile part(target);
  if (!part.is_open()) return false;

  QNetworkAccessManager network;
  QNetworkRequest request(address);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  // Always the server's present file: an updater is never taken from a cache.
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                       QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setTransferTimeout(options.stall_timeout_ms);
  QNetworkReply* reply = network.get(request);

  bool write_failed = false;
  auto take = [&] {
    const QByteArray chunk = reply->readAll();
    if (write_failed || chunk.isEmpty()) return;
    if (!part.Write(chunk)) {
      write_failed = true;
      reply->abort();
    }
  };
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (reply->isOpen()) take();  // what arrived with the end of the transfer

  bool ok = !write_failed && reply->error() == QNetworkReply::NoError;
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  // Only an HTTP transfer has a status; a redirect that was not followed is not the file either.
  if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) ok = false;
  delete reply;
  return ok && part.Publish(target);
}

}  // namespace tomeva::platform
