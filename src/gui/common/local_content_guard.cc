#include "gui/common/local_content_guard.h"

#include <QDir>
#include <QFileInfo>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>

namespace tomeva::gui {
namespace {

// A refused file is looked for again in links made since the last look, at most this often: a
// page asking for many missing files must not make every request list the installation folder.
constexpr qint64 kRefreshIntervalMs = 1000;

bool IsUnder(const QString& real, const QString& root) {
  return real == root || (real.startsWith(root) && real.at(root.size()) == QLatin1Char('/'));
}

}  // namespace

QStringList ViewerSystemFolders() {
  return {QStringLiteral("/usr/share/javascript/pdf"), QStringLiteral("/usr/share/poppler/cMap")};
}

QString LocalRoots::RealPath(const QString& path) {
  if (!QDir::isAbsolutePath(path)) return QString();
  QString existing = QDir::cleanPath(path);
  QStringList rest;
  // A dangling link counts as missing: what it names is judged by the folder holding it.
  while (!QFileInfo::exists(existing)) {
    const int slash = existing.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0) {
      rest.prepend(existing.mid(1));
      existing = QStringLiteral("/");
      break;
    }
    rest.prepend(existing.mid(slash + 1));
    existing.truncate(slash);
  }
  QString real = QFileInfo(existing).canonicalFilePath();
  if (real.isEmpty()) return QString();
  for (const QString& name : rest) {
    if (name.isEmpty()) continue;
    if (!real.endsWith(QLatin1Char('/'))) real += QLatin1Char('/');
    real += name;
  }
  return real;
}

void LocalRoots::SetInstallation(const QString& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  installation_ = folder;
  RebuildLocked();
}

void LocalRoots::AddFolder(const QString& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (folders_.contains(folder)) return;
  folders_.append(folder);
  RebuildLocked();
}

void LocalRoots::Refresh() {
  std::lock_guard<std::mutex> lock(mutex_);
  RebuildLocked();
}

QStringList LocalRoots::roots() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return roots_;
}

void LocalRoots::RebuildLocked() {
  roots_.clear();
  auto add = [this](const QString& path) {
    const QString real = RealPath(QDir(path).absolutePath());
    // The whole file system is never a root, whatever a link names.
    if (real.isEmpty() || real == QLatin1String("/") || !QFileInfo(real).isDir()) return;
    if (!roots_.contains(real)) roots_.append(real);
  };
  if (!installation_.isEmpty()) {
    add(installation_);
    const QFileInfoList entries =
        QDir(installation_)
            .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
      if (entry.isSymLink()) add(entry.absoluteFilePath());
    }
  }
  for (const QString& folder : folders_) add(folder);
}

bool LocalRoots::ContainsLocked(const QString& real) const {
  if (real.isEmpty()) return false;
  for (const QString& root : roots_) {
    if (IsUnder(real, root)) return true;
  }
  return false;
}

bool LocalRoots::Contains(const QString& path) const {
  const QString real = RealPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  return ContainsLocked(real);
}

LocalContentGuard::LocalContentGuard(QObject* parent) : QWebEngineUrlRequestInterceptor(parent) {
  last_refresh_.start();
}

bool LocalContentGuard::IsAllowedRequest(const QUrl& url, const LocalRoots& roots) {
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("file")) {
    // A file on another host is a network share: never ours.
    return (url.host().isEmpty() || url.host() == QLatin1String("localhost")) &&
           roots.Contains(url.toLocalFile());
  }
  // The program's own resources and blank pages read nothing of the user's.
  if (scheme == QLatin1String("qrc") || scheme == QLatin1String("about")) return true;
  if (scheme == QLatin1String("blob")) {
    // A blob is named after the page that made it: only those of local pages.
    const QString origin = url.path();
    return origin.startsWith(QLatin1String("file:")) || origin.startsWith(QLatin1String("null/"));
  }
  return false;
}

void LocalContentGuard::interceptRequest(QWebEngineUrlRequestInfo& info) {
  const QUrl url = info.requestUrl();
  if (IsAllowedRequest(url, roots_)) return;
  // A page the program itself puts up (setHtml) is a data: address typed into the main frame; a
  // page cannot do that (the engine never lets a page's own script take the main frame to data:).
  if (url.scheme() == QLatin1String("data") &&
      info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame &&
      info.navigationType() == QWebEngineUrlRequestInfo::NavigationTypeTyped) {
    return;
  }
  if (url.isLocalFile() && last_refresh_.elapsed() >= kRefreshIntervalMs) {
    // A book folder linked into the installation since the last look is the library's too.
    last_refresh_.restart();
    roots_.Refresh();
    if (IsAllowedRequest(url, roots_)) return;
  }
  ++refused_;
  info.block(true);
}

LocalContentGuard* LocalContentGuard::InstallOn(QWebEngineProfile* profile,
                                                const QString& installation) {
  if (auto* guard = profile->findChild<LocalContentGuard*>(QString(), Qt::FindDirectChildrenOnly)) {
    guard->roots().SetInstallation(installation);
    return guard;
  }
  auto* guard = new LocalContentGuard(profile);
  guard->roots().SetInstallation(installation);
  for (const QString& folder : ViewerSystemFolders()) guard->roots().AddFolder(folder);
  profile->setUrlRequestInterceptor(guard);
  // The pages of the profile start from these; a page may still change its own.
  QWebEngineSettings* settings = profile->settings();
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
  settings->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
  settings->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
  settings->setAttribute(QWebEngineSettings::AllowGeolocationOnInsecureOrigins, false);
  settings->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
  settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
  settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  return guard;
}

}  // namespace tomeva::gui
