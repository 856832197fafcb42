// What the program's own web pages may reach. Book pages, record pages and PDFs come from outside
// (book packages, record files, publishers): their scripts run, but they must neither read the
// user's files nor the installation's own, nor send anything off the machine.
//
// LocalRoots is the set of folders whose files our pages may read, of two kinds:
//  - library folders: the installation folder, the targets of its top-level links that lead into
//    it or into a library root the machine's owner chose (base/path_guard.h,
//    IsAllowedTopLevelTarget: a reading-room station links the shared library's entries there;
//    a link such as "etc -> /etc" counts for nothing), and further folders of pages (the guide's
//    folder). From these a page reads only what pages are made of: pages, pictures, styles,
//    scripts, fonts, sound and video, PDFs and their text copies (IsPageFileKind, by the name's
//    extension, for the name asked for and the file it really is). Never the installation's own
//    entries at the top of a library (IsInstallationEntry: its settings, catalogue, key, index
//    and waiting books), without regard to ASCII case, whether asked for by the name in the
//    installation or by the real path of the entry: at the top of a library folder, of a chosen
//    library root, or of a linked folder that holds a System.xml (a whole library linked in).
//  - the program's own folders (the PDF viewer page's folder, the read-only system folders of
//    pdf.js and the character maps): every file in them.
// Folders given to DenyFolder (the index, the registry and runtime folders) are refused wherever
// they lie. A path counts by its real path (links resolved, as the file system resolves them)
// and, for the installation's entries, also by the name it was asked for.
//
// LocalContentGuard is a request interceptor for a profile: every request of every page and
// worker of that profile passes it, the main frame's navigation included. It lets through files
// LocalRoots::MayRead allows, the program's own resources (qrc:), about: pages, blob: objects
// made by a local page and the pages the program puts up itself (setHtml); it refuses everything
// else: http, https, ws, wss, ftp, data frames, other files, and any other scheme. (The engine
// reads data: images and fetches in the page itself: they reach nothing outside.) Installed
// with InstallOn, it also sets the profile's defaults for its pages (no remote access from local
// pages, no windows opened by script, no clipboard access by script, no plug-ins).
//
// Threads: the user-interface thread, except Contains, MayRead, MayName and IsAllowedRequest,
// which may be called from any thread.
#ifndef TOMEVA_GUI_COMMON_LOCAL_CONTENT_GUARD_H_
#define TOMEVA_GUI_COMMON_LOCAL_CONTENT_GUARD_H_

#include <QElapsedTimer>
#include <QList>
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
  // The installation folder (a library folder whose top-level links are followed as above); may
  // be given as any path and is kept as its real path, skipped when it does not exist or is "/".
  void SetInstallation(const QString& folder);
  // A further library folder (the guide's): read by the same rules as the installation.
  void AddLibraryFolder(const QString& folder);
  // A folder of the program's own, every file of which a page may read.
  void AddFolder(const QString& folder);
  // A folder nothing is read from, even inside a root, except the files directly in it that
  // `except` names. A folder that is a root or holds one is left out: it would shut the library
  // out (an index kept in the installation folder itself); the kinds of file keep its files out.
  void DenyFolder(const QString& folder, const QStringList& except = {});
  // True when the file at `path` (absolute) lies inside a root of either kind. A path that does
  // not exist is judged by its nearest existing parent folder.
  bool Contains(const QString& path) const;
  // True when a page may read the file at `path` (absolute): inside a root, and not refused by
  // the rules of its kind of root or by a denied folder.
  bool MayRead(const QString& path) const;
  // As MayRead without the kinds of file: a file of the library that a link may name for the
  // program to read itself (a record file, whose link selects the record), never a page's.
  bool MayName(const QString& path) const;
  // Looks at the installation's top-level links again (a folder linked after the start).
  void Refresh();
  // The real paths of the roots of both kinds (top-level links to files included).
  QStringList roots() const;

  // The real path of `path` (absolute): links resolved up to its nearest existing parent, the
  // rest appended as written, "." and ".." taken out first. "" for a relative path.
  static QString RealPath(const QString& path);
  // True when a file named `name` is of a kind a page loads from a library folder (by its
  // extension, ASCII case ignored).
  static bool IsPageFileKind(const QString& name);
  // True when `name` (a top-level entry of a library folder, ASCII case ignored) is one of the
  // installation's own: System.xml, ContactInfo.xml, SearchResultConfig.xml, bookconfig.xml,
  // version.xml, temp.xml, update.pub, sr.htm, SearchDB, Update.
  static bool IsInstallationEntry(const QString& name);

 private:
  struct Denied {
    QString real;
    QStringList except;
  };
  bool ContainsLocked(const QString& real) const;
  bool RefusedByNameLocked(const QString& lexical, const QString& real) const;
  void RebuildLocked();

  mutable std::mutex mutex_;
  QString installation_;           // as given
  QStringList library_folders_;    // as given
  QStringList folders_;            // as given
  QList<Denied> denied_given_;     // as given
  QString installation_absolute_;  // the installation as given, made absolute and clean
  QStringList library_roots_;      // real paths
  QStringList library_files_;      // real paths: top-level links to files
  // Real paths of the folders whose top-level entries are a library's own: the library folders,
  // the chosen library roots and linked folders that hold a System.xml (not a linked book).
  QStringList top_roots_;
  QStringList program_roots_;  // real paths
  QList<Denied> denied_;       // real paths
};

class LocalContentGuard : public QWebEngineUrlRequestInterceptor {
  Q_OBJECT
 public:
  explicit LocalContentGuard(QObject* parent = nullptr);

  void interceptRequest(QWebEngineUrlRequestInfo& info) override;

  LocalRoots& roots() { return roots_; }
  // Requests refused so far (for the tests and the log).
  int refused() const { return refused_.load(); }

  // True when a request for `url` may go out of a page of ours (a file: LocalRoots::MayRead).
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
