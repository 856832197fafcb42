// What the program's own web pages may reach. Book pages, record pages and PDFs come from outside
// (book packages, record files, publishers): their scripts run, but they must neither read the
// user's files nor send anything off the machine.
//
// LocalRoots is the set of folders whose files our pages may read: the installation folder, the
// folders its top-level entries link to (a reading-room station links the shared library's book
// folders there), and folders added by the program (the PDF viewer page's folder, the read-only
// system folders of pdf.js and the character maps). A path is inside when its real path (links
// resolved, as the file system resolves them) lies in the real path of a root.
//
// LocalContentGuard is a request interceptor for a profile: every request of every page and
// worker of that profile passes it. It lets through files inside the roots, the program's own
// resources (qrc:), about: pages, blob: objects made by a local page and the pages the program
// puts up itself (setHtml); it refuses everything else: http, https, ws, wss, ftp, data frames,
// files outside the roots, and any other scheme. (The engine reads data: images and fetches in
// the page itself: they reach nothing outside.) Installed
// with InstallOn, it also sets the profile's defaults for its pages (no remote access from local
// pages, no windows opened by script, no clipboard access by script, no plug-ins).
//
// Threads: the user-interface thread, except Contains and IsAllowedRequest, which may be called
// from any thread.
#ifndef TOMEVA_GUI_COMMON_LOCAL_CONTENT_GUARD_H_
#define TOMEVA_GUI_COMMON_LOCAL_CONTENT_GUARD_H_

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>
#include <atomic>
#include <mutex>

class QWebEngineProfile;

namespace tomeva::gui {

// The read-only system folders the PDF viewer page loads pdf.js, its fonts and the Chinese
// character maps from.
QStringList ViewerSystemFolders();

class LocalRoots {
 public:
  // The installation folder (its top-level links are followed) and further folders; each may be
  // given as any path, is kept as its real path, and is skipped when it does not exist or is "/".
  void SetInstallation(const QString& folder);
  void AddFolder(const QString& folder);
  // True when the file at `path` (absolute) lies inside a root. A path that does not exist is
  // judged by its nearest existing parent folder.
  bool Contains(const QString& path) const;
  // Looks at the installation's top-level links again (a folder linked after the start).
  void Refresh();
  QStringList roots() const;

  // The real path of `path` (absolute): links resolved up to its nearest existing parent, the
  // rest appended as written, "." and ".." taken out first. "" for a relative path.
  static QString RealPath(const QString& path);

 private:
  bool ContainsLocked(const QString& real) const;
  void RebuildLocked();

  mutable std::mutex mutex_;
  QString installation_;  // as given
  QStringList folders_;   // as given
  QStringList roots_;     // real paths
};

class LocalContentGuard : public QWebEngineUrlRequestInterceptor {
  Q_OBJECT
 public:
  explicit LocalContentGuard(QObject* parent = nullptr);

  void interceptRequest(QWebEngineUrlRequestInfo& info) override;

  LocalRoots& roots() { return roots_; }
  // Requests refused so far (for the tests and the log).
  int refused() const { return refused_.load(); }

  // True when a request for `url` may go out of a page of ours.
  static bool IsAllowedRequest(const QUrl& url, const LocalRoots& roots);

  // The guard of `profile`, made, installed and the profile's page defaults set on the first
  // call; the profile owns it. `installation` is the installation folder (the latest call's).
  static LocalContentGuard* InstallOn(QWebEngineProfile* profile, const QString& installation);

 private:
  LocalRoots roots_;
  std::atomic<int> refused_{0};
  QElapsedTimer last_refresh_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_COMMON_LOCAL_CONTENT_GUARD_H_
