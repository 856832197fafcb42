#include "platform/download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "base/fault_injection.h"
#include "base/file_util.h"
#include "base/gbk.h"

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
  const std::string& path() const { return path_; }

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

// Runs the transfer of `address`, handing each piece of the body to `sink` (which answers false
// to end it); true when the whole body arrived under the options' limits. `*over_https` tells
// whether the address and every redirect taken were https.
bool Transfer(const QUrl& address, const DownloadOptions& options,
              const std::function<bool(const QByteArray&)>& sink, bool* over_https) {
  *over_https = false;
  const QString scheme = address.scheme().toLower();
  if (!address.isValid() || (scheme != QLatin1String("http") &&
                             scheme != QLatin1String("https") &&
                             scheme != QLatin1String("file"))) {
    return false;
  }
  if (scheme == QLatin1String("file") && !options.file_folder.empty()) {
    const QString host = address.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
      return false;
    }
    std::string bytes;
    if (!ReadFileInside(QFile::encodeName(address.toLocalFile()).toStdString(),
                        options.file_folder, options.max_bytes, &bytes)) {
      return false;
    }
    return sink(QByteArray::fromStdString(bytes));
  }
  QNetworkAccessManager network;
  QNetworkRequest request(address);
  // Each redirect is judged below: only https to https keeps the transfer under TLS with a
  // verified certificate all the way.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::UserVerifiedRedirectPolicy);
  // Always the server's present file: an updater is never taken from a cache.
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                       QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setTransferTimeout(options.stall_timeout_ms);
  QNetworkReply* reply = network.get(request);

  bool refused = false;  // a redirect, a length over the limit, a piece the sink did not take
  int64_t received = 0;
  QObject::connect(reply, &QNetworkReply::redirected, reply, [&](const QUrl& target) {
    if (scheme == QLatin1String("https") && target.scheme().toLower() == QLatin1String("https")) {
      emit reply->redirectAllowed();
      return;
    }
    refused = true;
    reply->abort();
  });
  QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
    bool known = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && length > options.max_bytes) {
      refused = true;
      reply->abort();
    }
  });
  auto take = [&] {
    const QByteArray chunk = reply->readAll();
    if (refused || chunk.isEmpty()) return;
    received += chunk.size();
    if (received > options.max_bytes || !sink(chunk)) {
      refused = true;
      reply->abort();
    }
  };
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer deadline;
  deadline.setSingleShot(true);
  bool late = false;
  QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
    late = true;
    reply->abort();
  });
  if (!reply->isFinished()) {
    deadline.start(options.deadline_ms);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  deadline.stop();
  if (reply->isOpen()) take();  // what arrived with the end of the transfer

  bool ok = !refused && !late && reply->error() == QNetworkReply::NoError;
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  // Only an HTTP transfer has a status; a redirect that was not followed is not the file either.
  if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) ok = false;
  *over_https = ok && scheme == QLatin1String("https") &&
                reply->url().scheme().toLower() == QLatin1String("https");
  delete reply;
  return ok;
}

QUrl AddressOf(const std::string& url) {
  return QUrl(QString::fromStdString(GbkToUtf8(url)));
}

// `path` with trailing "/" removed (but "/" itself kept).
std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Whether `path` is `folder` or lies below it, comparing whole components.
bool IsAtOrBelow(std::string_view path, std::string_view folder) {
  if (folder == "/") return !path.empty() && path.front() == '/';
  return path == folder || (path.size() > folder.size() &&
                            path.substr(0, folder.size()) == folder && path[folder.size()] == '/');
}

std::optional<std::string> RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

}  // namespace

bool ReadFileInside(const std::string& path, const std::string& folder, int64_t max_bytes,
                    std::string* bytes) {
  bytes->clear();
  if (path.empty() || path.front() != '/' || path.back() == '/') return false;
  for (size_t start = 1; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part = std::string_view(path).substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  const std::optional<std::string> root = RealPath(folder);
  if (!root.has_value()) return false;
  const std::string written = WithoutTrailingSlash(folder);
  const size_t slash = path.rfind('/');
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  // As written, so that an address through some link to the library (/proc/self/cwd/...) is not
  // taken for one in it; and as resolved, so that a link in the library leads nowhere else.
  if (!IsAtOrBelow(parent, written) && !IsAtOrBelow(parent, *root)) return false;
  const std::optional<std::string> real_parent = RealPath(parent);
  if (!real_parent.has_value() || !IsAtOrBelow(*real_parent, *root)) return false;
  const std::string name = path.substr(slash + 1);
  const int dir = ::open(real_parent->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return false;
  // Not blocked by a FIFO, not led elsewhere by a link: only the regular file itself is read.
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  ::close(dir);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= max_bytes;
  char buffer[1 << 16];
  while (ok) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    bytes->append(buffer, static_cast<size_t>(got));
    // A file that grows while it is read is cut off here, not read without end.
    ok = static_cast<int64_t>(bytes->size()) <= max_bytes;
  }
  ::close(fd);
  if (!ok) bytes->clear();
  return ok;
}

bool DownloadToFile(const std::string& url, const std::string& path,
                    const DownloadOptions& options, const DownloadCheck& check) {
  const QUrl address = AddressOf(url);
  if (!address.isValid() || address.scheme().isEmpty()) return false;
  const std::string target = ResolvePath(path);
  PartFile part(target);
  if (!part.is_open()) return false;
  bool over_https = false;
  if (!Transfer(address, options, [&](const QByteArray& chunk) { return part.Write(chunk); },
                &over_https)) {
    return false;
  }
  if (check && !check(part.path(), over_https)) return false;
  return part.Publish(target);
}

bool DownloadToMemory(const std::string& url, std::string* bytes, const DownloadOptions& options,
                      bool* over_https_out) {
  bytes->clear();
  bool over_https = false;
  const bool ok = Transfer(
      AddressOf(url), options,
      [&](const QByteArray& chunk) {
        bytes->append(chunk.constData(), static_cast<size_t>(chunk.size()));
        return true;
      },
      &over_https);
  if (!ok) bytes->clear();
  if (over_https_out != nullptr) *over_https_out = over_https;
  return ok;
}

}  // namespace tomeva::platform
