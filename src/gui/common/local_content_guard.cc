#include "gui/common/local_content_guard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <algorithm>
#include <string>

#include "base/path_guard.h"

namespace tomeva::gui {
namespace {

// A refused file is looked for again in links made since the last look, at most this often: a
// page asking for many missing files must not make every request list the installation folder.
constexpr qint64 kRefreshIntervalMs = 1000;

// What pages are made of. Everything else a library holds is the program's to read (record
// files, tables of contents, the catalogue, settings) or nobody's business of a page's.
constexpr const char* kPageFileKinds[] = {
    // pages and styles
    "htm", "html", "xhtml", "xht", "shtml", "css",
    // scripts
    "js", "mjs",
    // pictures
    "png", "jpg", "jpeg", "jpe", "jfif", "gif", "bmp", "webp", "svg", "svgz", "ico", "tif", "tiff",
    "avif", "apng",
    // fonts
    "woff", "woff2", "ttf", "otf", "eot", "ttc",
    // sound and video
    "mp3", "m4a", "aac", "oga", "ogg", "opus", "wav", "flac", "mp4", "m4v", "webm", "ogv",
    // PDFs and the text copies the viewer's plug-in marks them by
    "pdf", "txt"};

// The installation's own top-level entries: settings (System.xml holds the full-text site's user
// name and password), the catalogue, the updaters' key, the index, the books waiting for import,
// the scratch files. The program reads them itself; no page needs them.
constexpr const char* kInstallationEntries[] = {
    "System.xml",     "ContactInfo.xml", "SearchResultConfig.xml",
    "bookconfig.xml", "version.xml",     "temp.xml",
    "update.pub",     "sr.htm",          "SearchDB",
    "Update"};

bool IsUnder(const QString& real, const QString& root) {
  if (root == QLatin1String("/")) return real.startsWith(QLatin1Char('/'));
  return real == root || (real.startsWith(root) && real.size() > root.size() &&
                          real.at(root.size()) == QLatin1Char('/'));
}

// The first component of `path` below `root` ("" for the root itself or a path not below it).
QString TopLevelName(const QString& path, const QString& root) {
  if (!IsUnder(path, root) || path.size() <= root.size() + 1) return QString();
  const QString rest = path.mid(root == QLatin1String("/") ? 1 : root.size() + 1);
  return rest.section(QLatin1Char('/'), 0, 0);
}

std::string LocalBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// True when the folder holds a library's settings (System.xml, in any letter case).
bool HoldsSettings(const QString& folder) {
  return !QDir(folder)
              .entryList({QStringLiteral("System.xml")}, QDir::Files | QDir::Hidden | QDir::System)
              .isEmpty();
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

bool LocalRoots::IsPageFileKind(const QString& name) {
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || name.indexOf(QLatin1Char('/'), dot) >= 0) return false;
  const QString extension = name.mid(dot + 1);
  for (const char* kind : kPageFileKinds) {
    if (extension.compare(QLatin1String(kind), Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

bool LocalRoots::IsInstallationEntry(const QString& name) {
  for (const char* entry : kInstallationEntries) {
    if (name.compare(QLatin1String(entry), Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

void LocalRoots::SetInstallation(const QString& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  installation_ = folder;
  RebuildLocked();
}

void LocalRoots::AddLibraryFolder(const QString& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (library_folders_.contains(folder)) return;
  library_folders_.append(folder);
  RebuildLocked();
}

void LocalRoots::AddFolder(const QString& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (folders_.contains(folder)) return;
  folders_.append(folder);
  RebuildLocked();
}

void LocalRoots::DenyFolder(const QString& folder, const QStringList& except) {
  std::lock_guard<std::mutex> lock(mutex_);
  denied_given_.append({folder, except});
  RebuildLocked();
}

void LocalRoots::Refresh() {
  std::lock_guard<std::mutex> lock(mutex_);
  RebuildLocked();
}

QStringList LocalRoots::roots() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return library_roots_ + library_files_ + program_roots_;
}

void LocalRoots::RebuildLocked() {
  library_roots_.clear();
  library_files_.clear();
  top_roots_.clear();
  program_roots_.clear();
  denied_.clear();
  installation_absolute_.clear();
  // The whole file system is never a root, whatever a link names.
  auto real_folder = [](const QString& path) {
    const QString real = RealPath(QDir(path).absolutePath());
    if (real.isEmpty() || real == QLatin1String("/") || !QFileInfo(real).isDir()) return QString();
    return real;
  };
  auto add = [](QStringList* list, const QString& real) {
    if (!real.isEmpty() && !list->contains(real)) list->append(real);
  };
  if (!installation_.isEmpty()) {
    const QString installation_real = real_folder(installation_);
    if (!installation_real.isEmpty()) {
      installation_absolute_ = QDir::cleanPath(QDir(installation_).absolutePath());
      add(&library_roots_, installation_real);
      add(&top_roots_, installation_real);
      const QFileInfoList entries =
          QDir(installation_)
              .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
      for (const QFileInfo& entry : entries) {
        // A station links the shared library's settings too: those stay the program's.
        if (!entry.isSymLink() || IsInstallationEntry(entry.fileName())) continue;
        const QString target = RealPath(entry.absoluteFilePath());
        if (target.isEmpty() || !QFileInfo::exists(target) ||
            !IsAllowedTopLevelTarget(LocalBytes(target), LocalBytes(installation_real))) {
          continue;
        }
        if (QFileInfo(target).isDir()) {
          add(&library_roots_, real_folder(target));
          // A whole library linked in (not one of its books) has the installation's entries too.
          if (HoldsSettings(target)) add(&top_roots_, real_folder(target));
        } else if (IsPageFileKind(entry.fileName()) && IsPageFileKind(target) &&
                   !IsInstallationEntry(QFileInfo(target).fileName())) {
          add(&library_files_, target);
        }
      }
    }
  }
  for (const QString& folder : library_folders_) {
    add(&library_roots_, real_folder(folder));
    add(&top_roots_, real_folder(folder));
  }
  for (const std::string& chosen : ChosenLibraryRoots()) {
    add(&top_roots_, real_folder(QFile::decodeName(chosen.c_str())));
  }
  for (const QString& folder : folders_) add(&program_roots_, real_folder(folder));
  const QStringList all = library_roots_ + library_files_ + program_roots_;
  for (const Denied& given : denied_given_) {
    const QString real = RealPath(QDir(given.real).absolutePath());
    if (real.isEmpty()) continue;
    const bool holds_a_root = std::any_of(all.begin(), all.end(),
                                          [&](const QString& root) { return IsUnder(root, real); });
    if (!holds_a_root) denied_.append({real, given.except});
  }
}

bool LocalRoots::ContainsLocked(const QString& real) const {
  if (real.isEmpty()) return false;
  for (const QStringList* roots : {&library_roots_, &program_roots_}) {
    for (const QString& root : *roots) {
      if (IsUnder(real, root)) return true;
    }
  }
  return library_files_.contains(real);
}

bool LocalRoots::Contains(const QString& path) const {
  const QString real = RealPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  return ContainsLocked(real);
}

bool LocalRoots::RefusedByNameLocked(const QString& lexical, const QString& real) const {
  for (const Denied& denied : denied_) {
    if (!IsUnder(real, denied.real)) continue;
    const int slash = real.lastIndexOf(QLatin1Char('/'));
    if (real.left(slash) == denied.real && denied.except.contains(real.mid(slash + 1))) continue;
    return true;
  }
  // By the name asked for: a station's entry may be a link to the shared library's file.
  if (!installation_absolute_.isEmpty() &&
      IsInstallationEntry(TopLevelName(lexical, installation_absolute_))) {
    return true;
  }
  // By what the file is: a library's own entry, reached by its name or through a link.
  for (const QString& root : top_roots_) {
    if (IsInstallationEntry(TopLevelName(real, root))) return true;
  }
  return false;
}

bool LocalRoots::MayName(const QString& path) const {
  const QString real = RealPath(path);
  if (real.isEmpty()) return false;
  const QString lexical = QDir::cleanPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  return !RefusedByNameLocked(lexical, real) && ContainsLocked(real);
}

bool LocalRoots::MayRead(const QString& path) const {
  const QString real = RealPath(path);
  if (real.isEmpty()) return false;
  const QString lexical = QDir::cleanPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  if (RefusedByNameLocked(lexical, real)) return false;
  for (const QString& root : program_roots_) {
    if (IsUnder(real, root)) return true;
  }
  // The name asked for and the file it is must both be of a page's kinds: a page named "a.htm"
  // that is a link to a record file stays a record file.
  if (!IsPageFileKind(lexical.section(QLatin1Char('/'), -1)) ||
      !IsPageFileKind(real.section(QLatin1Char('/'), -1))) {
    return false;
  }
  if (library_files_.contains(real)) return true;
  for (const QString& root : library_roots_) {
    if (IsUnder(real, root)) return true;
  }
  return false;
}

LocalContentGuard::LocalContentGuard(QObject* parent) : QWebEngineUrlRequestInterceptor(parent) {
  last_refresh_.start();
}

bool LocalContentGuard::IsAllowedRequest(const QUrl& url, const LocalRoots& roots) {
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("file")) {
    // A file on another host is a network share: never ours.
    return (url.host().isEmpty() || url.host() == QLatin1String("localhost")) &&
           roots.MayRead(url.toLocalFile());
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
