// CMoreHtmlView: the web view the program puts its own content into. It shows generated pages
// (also written to "sr.htm" in the user's runtime folder, readable by the user alone), sets the
// page body's attributes and the page's style sheet, marks keywords in the shown page, and keeps
// keyword marks asked for while a page loads until that load completes. Page scripts never see
// the program's helpers: they run in a separate script world, and clicks on paging buttons come
// back through a web channel.
//
// A PDF is shown in the PDF viewer page (the installation's viewer path) rather than by the web
// engine, whose own viewer cannot mark words: navigating to a PDF loads the viewer page with the
// PDF's file URL as its `file` parameter. Without a viewer path the PDF is loaded as it is.
//
// What is shown comes from outside (book pages, record pages, PDFs), so the view keeps it to the
// library: its profile's LocalContentGuard refuses every request that is not for a page's kind of
// file inside the installation (with its linked book folders), for a file of the viewer page's
// folder or the viewer's system folders, and refuses the installation's own files (settings,
// catalogue, index, the registry and runtime folders); the navigation hook lets a page go only to
// such a file. A web address is handed to the web link opener (the browser window) instead only
// when it is the address of the link the user has just activated, as it stood when the user
// pressed it (a script in the program's own world reports trusted clicks on links); an address a
// script made, even during the user's click, opens nothing. Every other target (data:,
// javascript:, a file outside, another scheme) is refused.
//
// Threads: the user-interface thread only, except IsShowingPdf.
#ifndef TOMEVA_GUI_VIEWS_MORE_HTML_VIEW_H_
#define TOMEVA_GUI_VIEWS_MORE_HTML_VIEW_H_

#include <QElapsedTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/doc/view_interfaces.h"

class QWebChannel;

namespace tomeva::gui {

class CMoreHtmlView;
class LocalContentGuard;

// Text zoom factors of the levels 0 (smallest) .. 4 (largest).
inline constexpr double kZoomFactors[5] = {0.75, 0.9, 1.0, 1.2, 1.4};

// The page hands every navigation to its view before it happens.
class HookedPage : public QWebEnginePage {
  Q_OBJECT
 public:
  HookedPage(QWebEngineProfile* profile, CMoreHtmlView* view);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool is_main_frame) override;

 private:
  CMoreHtmlView* view_;
};

// Receives the clicks of hooked page buttons from the page's script world.
class PageButtonSink : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  Q_INVOKABLE void click(const QString& element_id) { emit clicked(element_id); }
  // The user activated the link to `href` (its address when the user pressed it).
  Q_INVOKABLE void linkClicked(const QString& href) { emit linkActivated(href); }
 signals:
  void clicked(const QString& element_id);
  void linkActivated(const QString& href);
};

class CMoreHtmlView : public QWebEngineView, public IHtmlView {
  Q_OBJECT
 public:
  explicit CMoreHtmlView(QWidget* parent = nullptr);
  ~CMoreHtmlView() override;

  int ShowHtml(const std::string& text) override;
  int SetBodyAttribute(const std::string& name, const std::string& value) override;
  int SetStyleSheet(const std::string& text) override;
  void HighlightInPage(const std::string& keyword, const std::string& colour,
                       bool remember) override;
  void Navigate(const std::string& location) override;
  void SetZoom(int level) override;
  int QueryZoom() override;
  void HookPageButtons() override;
  bool pdf_shown() const override { return pdf_shown_; }
  void set_pdf_shown(bool shown) override { pdf_shown_ = shown; }

  const std::string& current_html() const { return current_html_; }
  const std::string& style_sheet() const { return style_sheet_; }
  // Recorded body attributes, oldest first; one value per name, the newest given.
  const std::vector<std::pair<std::string, std::string>>& body_attributes() const {
    return body_attributes_;
  }
  size_t pending_mark_count() const { return pending_keywords_.size(); }
  bool has_document() const { return has_document_; }

  // The JavaScript string literal of `text` (quoted, escaped).
  static QString JsString(const QString& text);
  // The URL a location of the system names: an address with a scheme as it is, anything else a
  // file path relative to the working directory.
  static QUrl LocationUrl(const std::string& location);

  // The viewer page that shows PDFs (GBK path; "" = PDFs are loaded as they are). Its folder
  // becomes one the pages may read.
  void set_pdf_viewer_path(const std::string& path);
  const std::string& pdf_viewer_path() const { return pdf_viewer_path_; }
  // The viewer page's URL showing the PDF at `pdf_url`.
  static QUrl ViewerUrl(const std::string& viewer_path, const QUrl& pdf_url);
  // The document a URL shows: for the viewer page (`viewer_path`) with a `file` parameter, that
  // file's URL; any other URL as it is.
  static QUrl DocumentUrl(const std::string& viewer_path, const QUrl& url);
  // True once the viewer page that was loaded for `pdf_location` (as given to Navigate) has
  // finished loading and nothing else was navigated to since. Any thread.
  bool IsShowingPdf(const std::string& pdf_location) const;
  // True while the viewer page is the shown page (loaded or loading).
  bool viewer_page_shown() const { return !viewer_location_.empty(); }

  // Called by the page before every navigation, in every frame; false cancels it. Only a file
  // the guard lets pages read (and about:blank) goes through. A refused link navigation whose
  // address is that of the link the user has just activated (reported before or after it, each
  // within a second, used once) is an http(s) one given to the web link opener, or else told
  // with userLinkRefused; anything else is refused without a word to the user.
  virtual bool OnBeforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type,
                                bool is_main_frame);

  // Where web addresses the user clicks are opened (the browser window); unset, they are only
  // refused.
  void set_web_link_opener(std::function<void(const QUrl&)> opener) {
    web_link_opener_ = std::move(opener);
  }
  // The guard of the view's profile.
  LocalContentGuard* guard() const { return guard_; }
  // The scratch copy of the shown page: "sr.htm" in the runtime folder.
  static std::string ScratchPagePath();

 signals:
  // A page load ended and the view's own handling of it is done.
  void documentComplete(bool ok);
  // A hooked page button was clicked.
  void pageButtonClicked(const QString& element_id);
  // A link the user has just clicked was refused: it leads outside the library (a file outside,
  // data:, javascript:, another scheme), or to the web with no browser window to open it in.
  void userLinkRefused(const QUrl& url);

 protected:
  virtual void OnDocumentComplete(bool ok);
  void RunInAppWorld(const QString& script);

 private:
  void ApplyBodyAttributes();
  // Follows the link the page asked for when it is the one the user activated (see
  // OnBeforeNavigate); forgets either when it is more than kUserLinkMs old.
  void MatchUserLink();

  std::string current_html_;
  std::string style_sheet_;
  std::vector<std::pair<std::string, std::string>> body_attributes_;
  std::vector<std::string> pending_keywords_;
  std::vector<std::string> pending_colours_;
  bool marks_applied_ = false;
  bool pdf_shown_ = false;
  bool has_document_ = false;
  std::string pdf_viewer_path_;
  std::string viewer_location_;  // the PDF the viewer page was last loaded for; "" = none
  mutable std::mutex shown_mutex_;
  std::string shown_pdf_;  // guarded: the PDF whose viewer page has finished loading
  PageButtonSink* sink_ = nullptr;
  QWebChannel* channel_ = nullptr;
  LocalContentGuard* guard_ = nullptr;
  std::function<void(const QUrl&)> web_link_opener_;
  QUrl asked_link_;              // the last link navigation a page asked for
  QElapsedTimer asked_since_;    // invalid when none waits
  QUrl clicked_link_;            // the last link the user activated, as the page reported it
  QElapsedTimer clicked_since_;  // invalid when none waits
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_MORE_HTML_VIEW_H_
