// The hidden browser of the version check: a web page that is never shown, in a profile of its
// own that keeps nothing (no history, no HTTP cache, no cookies on disk), driven through core's
// BrowserDriver so that the attempts and waits are core's (core/update/version_check.h).
//
// The web engine of the program reaches no network (gui/common/engine_network.h), so the page's
// bytes are fetched with Qt's network classes and then handed to the hidden page as the document
// of its address, which the page renders as it would have rendered the server's reply. The
// transfer takes the download's rules: http, https or file addresses only; a redirect only from
// https to https; given up when no data comes for kPageStallMs or the page is not whole after
// kPageDeadlineMs; refused when larger than kMaxPageBytes. A transfer that fails leaves the
// attempt without a document. The page's own scripts run; what else it asks for on the network
// (images, scripts, frames) is not fetched.
//
// Every wait runs a local event loop that takes no user input: the main window keeps painting
// while the page is read, but cannot be used until the check is over.
//
// Threads: the user-interface thread.
#ifndef TOMEVA_GUI_APP_PAGE_FETCHER_H_
#define TOMEVA_GUI_APP_PAGE_FETCHER_H_

#include <QByteArray>
#include <QPointer>
#include <QUrl>
#include <memory>
#include <optional>
#include <string>

#include "core/update/version_check.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QWebEnginePage;
class QWebEngineProfile;

namespace tomeva::gui {

inline constexpr int kPageStallMs = 30000;
inline constexpr int kPageDeadlineMs = 60000;
// The page is handed to the engine as a data address, whose length the engine limits (2 MiB,
// percent-encoded: up to three characters a byte).
inline constexpr qint64 kMaxPageBytes = 512 * 1024;

class PageFetcher : public BrowserDriver {
 public:
  PageFetcher();
  ~PageFetcher() override;
  PageFetcher(const PageFetcher&) = delete;
  PageFetcher& operator=(const PageFetcher&) = delete;

  bool Navigate(const std::string& url) override;
  bool IsBusy() override;
  void Stop() override;
  // An HTML page gives its body's text as shown. An XML page gives its XML source, with an XML
  // declaration put in front when the source has none, so that it parses as the XML it is:
  // the browser shows an XML file in a viewer of its own, whose shown text is not the file.
  std::optional<std::string> ReadBodyText() override;
  void Sleep(int milliseconds) override;
  void Close() override;

 private:
  // Ends the transfer under way, if any, without it counting as finished.
  void DropTransfer();
  // The transfer has ended: its page goes to the engine, or the attempt ends without one.
  void TransferFinished();

  std::unique_ptr<QNetworkAccessManager> network_;
  std::unique_ptr<QWebEngineProfile> profile_;
  std::unique_ptr<QWebEnginePage> page_;
  QPointer<QNetworkReply> reply_;
  std::unique_ptr<QTimer> deadline_;
  QByteArray body_;
  QString scheme_;       // of the address asked for
  bool refused_ = false;  // a redirect not followed, a page over the limit, the deadline
  bool busy_ = false;
  bool loaded_ = false;  // the last load finished with a document
};

// The text of the page at `url` (GBK) read by a hidden browser with `timing`'s attempts and
// waits; "" when it could not be read.
std::string FetchPageText(const std::string& url, const PageFetchTiming& timing = {});

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_PAGE_FETCHER_H_
