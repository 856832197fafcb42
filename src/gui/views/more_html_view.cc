#include "gui/views/more_html_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrlQuery>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <cmath>

#include "base/file_util.h"
#include "gui/common/local_content_guard.h"
#include "gui/frame/gbk_text.h"
#include "platform/environment.h"

namespace tomeva::gui {
namespace {

// The program's scripts run in their own world: the page's scripts can neither call the sink
// nor replace the helpers.
constexpr quint32 kAppWorld = QWebEngineScript::ApplicationWorld;

// Wraps every occurrence of a keyword in the text of the body in a FONT element with white text
// on the given background. Matching ignores letter case, as the browser's own find does; text
// inside earlier marks is searched as well. A word that inline mark-up splits (<b>明</b>月) is
// found too: the text of a line is read across inline elements, and each piece of a match gets a
// mark of its own. A block, a line break, an image or a script ends the line, so that a word is
// never made of the end of one cell and the start of the next.
constexpr char kHighlightScript[] = R"JS(
(function (kw, colour) {
  if (!kw || !document.body) return 0;
  var lower = kw.toLowerCase();
  var fold = lower.length === kw.length;
  var want = fold ? lower : kw;
  var inline = function (el) {
    if (el.nodeName === 'BR' || el.nodeName === 'IMG' || el.nodeName === 'SCRIPT' ||
        el.nodeName === 'STYLE' || el.nodeName === 'TEXTAREA') return false;
    var display = getComputedStyle(el).display;
    return display === 'inline' || display === 'contents';
  };
  var blockOf = function (node) {
    var el = node.parentNode;
    while (el && el !== document.body && inline(el)) el = el.parentNode;
    return el;
  };
  // The lines: runs of text nodes in one block, with no other element than inline ones between.
  var lines = [];
  var line = null;
  var walker = document.createTreeWalker(document.body,
                                         NodeFilter.SHOW_TEXT | NodeFilter.SHOW_ELEMENT, null);
  while (walker.nextNode()) {
    var node = walker.currentNode;
    if (node.nodeType === 1) {
      if (!inline(node)) line = null;
      continue;
    }
    var parent = node.parentNode;
    if (!parent || parent.nodeName === 'SCRIPT' || parent.nodeName === 'STYLE') {
      line = null;
      continue;
    }
    var block = blockOf(node);
    if (!line || line.block !== block) {
      line = {block: block, nodes: []};
      lines.push(line);
    }
    line.nodes.push(node);
  }
  var count = 0;
  lines.forEach(function (l) {
    var text = l.nodes.map(function (n) { return n.data; }).join('');
    var hay = fold ? text.toLowerCase() : text;
    var starts = [];
    for (var i = hay.indexOf(want); i >= 0; i = hay.indexOf(want, i + kw.length)) starts.push(i);
    if (!starts.length) return;
    var offsets = [];
    var at = 0;
    l.nodes.forEach(function (n) { offsets.push(at); at += n.data.length; });
    // From the last match back, and in a match from its last piece back, so that splitting a
    // text node never moves a piece still to be marked.
    for (var m = starts.length - 1; m >= 0; --m) {
      var from = starts[m], to = starts[m] + kw.length;
      for (var k = l.nodes.length - 1; k >= 0; --k) {
        var n = l.nodes[k], begin = offsets[k], end = begin + n.data.length;
        if (end <= from || begin >= to) continue;
        var piece = n;
        var a = Math.max(from, begin) - begin, b = Math.min(to, end) - begin;
        if (a > 0) piece = piece.splitText(a);
        if (b - a < piece.data.length) piece.splitText(b - a);
        var font = document.createElement('font');
        font.setAttribute('color', 'white');
        font.style.backgroundColor = colour;
        piece.parentNode.replaceChild(font, piece);
        font.appendChild(piece);
      }
      ++count;
    }
  });
  return count;
})
)JS";

// Connects the sink to every button or input element whose id contains B0..B3, once per
// element: hooking again after a re-render must not make one click move twice.
constexpr char kHookScript[] = R"JS(
(function () {
  var all = document.getElementsByTagName('*');
  var hooked = 0;
  for (var i = 0; i < all.length; ++i) {
    var e = all[i];
    var id = e.id || '';
    if (!/B[0-3]/.test(id)) continue;
    if (e.tagName !== 'BUTTON' && e.tagName !== 'INPUT') continue;
    if (e.__tomevaHooked) continue;
    e.__tomevaHooked = true;
    e.addEventListener('click', function (ev) {
      if (window.__tomevaSink) window.__tomevaSink.click(ev.currentTarget.id || '');
    });
    ++hooked;
  }
  return hooked;
})()
)JS";

// Tells the view which link the user clicked, with its address as it stood when the user pressed
// the button: a trusted click on an <a> or <area> whose address did not change between the press
// and the click. (Enter never reaches a page: it is the window's search key.) Registered before any script of the page, in the capture phase of the
// window, so it runs before the page's own handlers; a page's script cannot raise a trusted
// event, and it cannot reach this world. A frame's clicks go through the top page's sink (the
// frames of a library page are files of the library, one origin with it).
constexpr char kLinkRecorderScript[] = R"JS(
(function () {
  if (window.__tomevaLinks) return;
  window.__tomevaLinks = true;
  var pressed = null;
  var linkIn = function (ev) {
    var path = ev.composedPath();
    for (var i = 0; i < path.length; ++i) {
      var n = path[i];
      if ((n instanceof HTMLAnchorElement || n instanceof HTMLAreaElement) &&
          n.hasAttribute('href')) return n;
    }
    return null;
  };
  var press = function (ev) {
    var link = ev.isTrusted ? linkIn(ev) : null;
    pressed = link ? {link: link, href: link.href} : null;
  };
  var sink = function () {
    if (window.__tomevaSink) return window.__tomevaSink;
    try { return window.top.__tomevaSink || null; } catch (e) { return null; }
  };
  window.addEventListener('mousedown', press, true);
  window.addEventListener('click', function (ev) {
    var p = pressed;
    pressed = null;
    if (!ev.isTrusted || !p) return;
    var link = linkIn(ev);
    if (link !== p.link || link.href !== p.href) return;
    var s = sink();
    if (s) s.linkClicked(p.href);
  }, true);
})();
)JS";

QString ChannelBootstrap() {
  QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  QString script;
  if (file.open(QIODevice::ReadOnly)) script = QString::fromUtf8(file.readAll());
  script += QStringLiteral(
      "\nnew QWebChannel(qt.webChannelTransport, function (ch) {"
      " window.__tomevaSink = ch.objects.sink; });\n");
  return script;
}

// The viewer page's absolute path as Qt spells it.
QString ViewerFilePath(const std::string& viewer_path) {
  return QDir::cleanPath(
      QDir::current().absoluteFilePath(QFile::decodeName(ResolvePath(viewer_path).c_str())));
}

// A link the page asks to follow and the link the user activated are taken for one when they
// name the same address and each came no longer ago than this.
constexpr qint64 kUserLinkMs = 1000;

// The folder holds only what its owner put there: a folder others can write to could get a
// link or a file of theirs in place of the page.
bool IsPrivateFolder(const std::string& dir) {
  struct stat st;
  return !dir.empty() && ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

// Writes `bytes` to `path` readable and writable by the user alone, replacing the file whole.
bool WritePrivateFile(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, bytes);
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

HookedPage::HookedPage(QWebEngineProfile* profile, CMoreHtmlView* view)
    : QWebEnginePage(profile, view), view_(view) {}

bool HookedPage::acceptNavigationRequest(const QUrl& url, NavigationType type,
                                         bool is_main_frame) {
  return view_->OnBeforeNavigate(url, type, is_main_frame);
}

CMoreHtmlView::CMoreHtmlView(QWidget* parent) : QWebEngineView(parent) {
  // The installation folder is the working directory.
  guard_ = LocalContentGuard::InstallOn(QWebEngineProfile::defaultProfile(), QDir::currentPath());
  auto* page = new HookedPage(QWebEngineProfile::defaultProfile(), this);
  setPage(page);
  // The engine's own PDF viewer would take over PDFs that the viewer page is to show, and it
  // cannot mark words.
  page->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  page->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  // Pages from outside: no windows, no clipboard, nothing remote from a local page.
  page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  page->settings()->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  // The user's registry and the runtime folder are the program's, wherever they lie; the scratch
  // copy of the shown page is the shown page.
  guard_->roots().DenyFolder(QFile::decodeName(platform::RegistryDir().c_str()));
  guard_->roots().DenyFolder(QFile::decodeName(platform::RuntimeDir().c_str()),
                             {QStringLiteral("sr.htm")});
  sink_ = new PageButtonSink(this);
  channel_ = new QWebChannel(this);
  channel_->registerObject(QStringLiteral("sink"), sink_);
  page->setWebChannel(channel_, kAppWorld);

  QWebEngineScript bootstrap;
  bootstrap.setName(QStringLiteral("tomeva-sink"));
  bootstrap.setSourceCode(ChannelBootstrap());
  bootstrap.setInjectionPoint(QWebEngineScript::DocumentCreation);
  bootstrap.setWorldId(kAppWorld);
  bootstrap.setRunsOnSubFrames(false);
  page->scripts().insert(bootstrap);

  QWebEngineScript recorder;
  recorder.setName(QStringLiteral("tomeva-links"));
  recorder.setSourceCode(QString::fromLatin1(kLinkRecorderScript));
  recorder.setInjectionPoint(QWebEngineScript::DocumentCreation);
  recorder.setWorldId(kAppWorld);
  recorder.setRunsOnSubFrames(true);
  page->scripts().insert(recorder);

  connect(sink_, &PageButtonSink::clicked, this, &CMoreHtmlView::pageButtonClicked);
  connect(sink_, &PageButtonSink::linkActivated, this, [this](const QString& href) {
    clicked_link_ = QUrl::fromEncoded(href.toUtf8());
    clicked_since_.start();
    MatchUserLink();
  });
  connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
    if (ok && !viewer_location_.empty() &&
        url().adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment) ==
            QUrl::fromLocalFile(ViewerFilePath(pdf_viewer_path_))) {
      std::lock_guard<std::mutex> lock(shown_mutex_);
      shown_pdf_ = viewer_location_;
    }
    OnDocumentComplete(ok);
    emit documentComplete(ok);
  });
}

CMoreHtmlView::~CMoreHtmlView() = default;

void CMoreHtmlView::set_pdf_viewer_path(const std::string& path) {
  pdf_viewer_path_ = path;
  if (!path.empty() && guard_ != nullptr) {
    guard_->roots().AddFolder(QFileInfo(ViewerFilePath(path)).absolutePath());
  }
}

std::string CMoreHtmlView::ScratchPagePath() { return platform::RuntimeDir() + "/sr.htm"; }

QString CMoreHtmlView::JsString(const QString& text) {
  QString out;
  out.reserve(text.size() + 2);
  out += QLatin1Char('"');
  for (QChar c : text) {
    switch (c.unicode()) {
      case '"': out += QLatin1String("\\\""); break;
      case '\\': out += QLatin1String("\\\\"); break;
      case '\n': out += QLatin1String("\\n"); break;
      case '\r': out += QLatin1String("\\r"); break;
      case 0x2028: out += QLatin1String("\\u2028"); break;
      case 0x2029: out += QLatin1String("\\u2029"); break;
      default:
        if (c.unicode() < 0x20) {
          out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
          out += c;
        }
    }
  }
  out += QLatin1Char('"');
  return out;
}

QUrl CMoreHtmlView::LocationUrl(const std::string& location) {
  QString text = FromGbk(location);
  QUrl url(text);
  // One letter before ":" is a drive, not a scheme.
  if (url.isValid() && url.scheme().size() > 1) return url;
  std::string resolved = ResolvePath(location);
  return QUrl::fromLocalFile(
      QDir::cleanPath(QDir::current().absoluteFilePath(QFile::decodeName(resolved.c_str()))));
}

QUrl CMoreHtmlView::ViewerUrl(const std::string& viewer_path, const QUrl& pdf_url) {
  QUrl url = QUrl::fromLocalFile(ViewerFilePath(viewer_path));
  // Encoded once more as a query value: the page decodes it once and gets the file URL back,
  // whatever characters the PDF's path holds.
  url.setQuery(QStringLiteral("file=") +
                   QString::fromLatin1(QUrl::toPercentEncoding(pdf_url.toString(QUrl::FullyEncoded))),
               QUrl::StrictMode);
  return url;
}

QUrl CMoreHtmlView::DocumentUrl(const std::string& viewer_path, const QUrl& url) {
  if (viewer_path.empty() || !url.isLocalFile() ||
      url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment) !=
          QUrl::fromLocalFile(ViewerFilePath(viewer_path))) {
    return url;
  }
  const QUrlQuery query(url);
  if (!query.hasQueryItem(QStringLiteral("file"))) return url;
  return QUrl(query.queryItemValue(QStringLiteral("file"), QUrl::FullyDecoded));
}

bool CMoreHtmlView::IsShowingPdf(const std::string& pdf_location) const {
  std::lock_guard<std::mutex> lock(shown_mutex_);
  return !shown_pdf_.empty() && shown_pdf_ == pdf_location;
}

void CMoreHtmlView::RunInAppWorld(const QString& script) { page()->runJavaScript(script, kAppWorld); }

int CMoreHtmlView::ShowHtml(const std::string& text) {
  current_html_ = text;
  // A scratch copy of the shown page, rewritten with every page, for the user alone: a record
  // page may hold what others must not read. Without a private runtime folder there is no copy;
  // the page is still shown.
  const std::string runtime = platform::RuntimeDir();
  if (!IsPrivateFolder(runtime)) {
    qWarning("no scratch copy of the shown page: %s is not a folder of the user's alone",
             runtime.c_str());
  } else if (!WritePrivateFile(ScratchPagePath(), text)) {
    qWarning("no scratch copy of the shown page: %s cannot be written", ScratchPagePath().c_str());
  }
  if (!has_document_) return 0;
  // The page's body is replaced: a PDF that the viewer page showed is gone with it.
  {
    std::lock_guard<std::mutex> lock(shown_mutex_);
    shown_pdf_.clear();
  }
  viewer_location_.clear();
  RunInAppWorld(QStringLiteral("if (document.body) document.body.innerHTML = %1;")
                    .arg(JsString(FromGbk(text))));
  return 1;
}

int CMoreHtmlView::SetBodyAttribute(const std::string& name, const std::string& value) {
  if (!name.empty()) {
    // One value per name, the newest: a new colour must win over an old one, and a page that
    // is re-rendered all day must not collect one entry per render.
    std::erase_if(body_attributes_, [&](const auto& a) { return a.first == name; });
    body_attributes_.emplace_back(name, value);
  }
  if (!has_document_) return 0;
  ApplyBodyAttributes();
  return 1;
}

void CMoreHtmlView::ApplyBodyAttributes() {
  QString script = QStringLiteral("if (document.body) {");
  for (const auto& [name, value] : body_attributes_) {
    script += QStringLiteral("try { document.body.setAttribute(%1, %2); } catch (e) {}")
                  .arg(JsString(FromGbk(name)), JsString(FromGbk(value)));
  }
  script += QLatin1Char('}');
  RunInAppWorld(script);
}

int CMoreHtmlView::SetStyleSheet(const std::string& text) {
  style_sheet_ = text;
  if (!has_document_) return 0;
  RunInAppWorld(
      QStringLiteral("(function (css) { var s = document.querySelector('style');"
                     " if (!s) { s = document.createElement('style');"
                     " (document.head || document.documentElement).appendChild(s); }"
                     " s.textContent = css; })(%1);")
          .arg(JsString(FromGbk(text))));
  return 1;
}

void CMoreHtmlView::HighlightInPage(const std::string& keyword, const std::string& colour,
                                    bool remember) {
  if (pdf_shown_) return;
  marks_applied_ = false;
  if (remember) {
    pending_keywords_.push_back(keyword);
    pending_colours_.push_back(colour);
  }
  if (keyword.empty()) return;
  RunInAppWorld(QString::fromLatin1(kHighlightScript) +
                QStringLiteral("(%1, %2);").arg(JsString(FromGbk(keyword)),
                                                JsString(FromGbk(colour))));
}

void CMoreHtmlView::Navigate(const std::string& location) {
  const QUrl url = LocationUrl(location);
  {
    std::lock_guard<std::mutex> lock(shown_mutex_);
    shown_pdf_.clear();
  }
  if (!pdf_viewer_path_.empty() && url.isLocalFile() &&
      url.path().endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
    viewer_location_ = location;
    // However it was opened, the next generated page must not be put into the viewer page.
    pdf_shown_ = true;
    load(ViewerUrl(pdf_viewer_path_, url));
    return;
  }
  viewer_location_.clear();
  load(url);
}

void CMoreHtmlView::SetZoom(int level) {
  if (level < 0 || level > 4) return;
  setZoomFactor(kZoomFactors[level]);
}

int CMoreHtmlView::QueryZoom() {
  int best = 2;
  double factor = zoomFactor();
  for (int i = 0; i < 5; ++i) {
    if (std::abs(kZoomFactors[i] - factor) < std::abs(kZoomFactors[best] - factor)) best = i;
  }
  return best;
}

void CMoreHtmlView::HookPageButtons() {
  if (!has_document_) return;
  RunInAppWorld(QString::fromLatin1(kHookScript));
}

bool CMoreHtmlView::OnBeforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type,
                                     bool) {
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("file") &&
      LocalContentGuard::IsAllowedRequest(url, guard_->roots())) {
    return true;
  }
  if (scheme == QLatin1String("about") &&
      (url.path() == QLatin1String("blank") || url.path() == QLatin1String("srcdoc"))) {
    return true;
  }
  // The engine (Qt 6.4) reports as a link click every navigation a page starts from a link or a
  // script, also a location set by the page's mousedown or click handler and a link its script
  // clicks: the type says nothing of who chose the address. What counts is that the address is
  // the one of the link the user activated (MatchUserLink), told before or after this.
  if (type == QWebEnginePage::NavigationTypeLinkClicked) {
    asked_link_ = url;
    asked_since_.start();
    MatchUserLink();
  } else {
    qWarning("navigation refused: %s", qPrintable(url.toDisplayString().left(200)));
  }
  return false;
}

void CMoreHtmlView::MatchUserLink() {
  for (QElapsedTimer* since : {&asked_since_, &clicked_since_}) {
    if (since->isValid() && since->elapsed() > kUserLinkMs) since->invalidate();
  }
  if (!asked_since_.isValid() || !clicked_since_.isValid() || asked_link_ != clicked_link_) return;
  // One click follows one link once.
  asked_since_.invalidate();
  clicked_since_.invalidate();
  const QUrl url = asked_link_;
  const QString scheme = url.scheme().toLower();
  if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) && web_link_opener_) {
    // The web is shown in the browser window, never in a view that can read library files.
    web_link_opener_(url);
  } else {
    qWarning("link refused: %s", qPrintable(url.toDisplayString().left(200)));
    emit userLinkRefused(url);
  }
}

void CMoreHtmlView::OnDocumentComplete(bool ok) {
  // A load that ends without success was mostly interrupted by the next navigation: the marks
  // kept for "the next page" belong to that one, not to what is on screen now.
  if (ok && !marks_applied_) {
    std::vector<std::string> keywords;
    std::vector<std::string> colours;
    keywords.swap(pending_keywords_);
    colours.swap(pending_colours_);
    for (size_t i = 0; i < keywords.size(); ++i) HighlightInPage(keywords[i], colours[i], false);
    marks_applied_ = true;
  }
  has_document_ = true;
}

}  // namespace tomeva::gui
