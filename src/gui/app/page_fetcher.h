// The reader of the version check: it fetches the version page's bytes and reads their text
// without ever running the page (core/update/page_text.h), driven through core's BrowserDriver so
// that the attempts and waits are core's (core/update/version_check.h). No web page and no web
// engine take part: the page is outside input, and a page that ran could read the user's files
// and name an address that carries them away.
//
// An http or https page is fetched with Qt's network classes under the download's rules: http,
// https or file addresses only; a redirect only from https to https; nothing read from or written
// to a cache; given up when no data comes for kPageStallMs or the page is not whole after
// kPageDeadlineMs; refused when larger than kMaxPageBytes; an HTTP error status is no page. A
// file: address is read only when it names a regular file inside the library folder, reached
// without a link (platform::ReadFileInside); any other is refused without reading. A fetch that
// fails leaves the attempt without a page.
//
// Every wait runs a local event loop that takes no user input: the main window keeps painting
// while the page is read, but cannot be used until the check is over.
//
// Threads: the user-interface thread.
#ifndef TOMEVA_GUI_APP_PAGE_FETCHER_H_
#define TOMEVA_GUI_APP_PAGE_FETCHER_H_

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "core/update/version_check.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace tomeva::gui {

inline constexpr int kPageStallMs = 30000;
inline constexpr int kPageDeadlineMs = 60000;
// A version page is a few lines; nothing near this is one.
inline constexpr qint64 kMaxPageBytes = 512 * 1024;

class PageFetcher : public BrowserDriver {
 public:
  // `library_dir`: the library folder (a plain path), the only place a file: page may lie.
  explicit PageFetcher(std::string library_dir);
  ~PageFetcher() override;
  PageFetcher(const PageFetcher&) = delete;
  PageFetcher& operator=(const PageFetcher&) = delete;

  // False for an address that is not http, https or file, and for a file: address that is
  // refused (see above) or cannot be read.
  bool Navigate(const std::string& url) override;
  bool IsBusy() override;
  void Stop() override;
  // The page's text as VersionPageText reads it from the bytes, the reply's type and the
  // address's file name.
  std::optional<std::string> ReadBodyText() override;
  void Sleep(int milliseconds) override;
  void Close() override;

 private:
  // Ends the transfer under way, if any, without it counting as finished.
  void DropTransfer();
  // The transfer has ended: the attempt has its page, or ends without one.
  void TransferFinished();

  std::string library_dir_;
  std::unique_ptr<QNetworkAccessManager> network_;
  QPointer<QNetworkReply> reply_;
  std::unique_ptr<QTimer> deadline_;
  QByteArray body_;
  QString scheme_;        // of the address asked for
  QString content_type_;  // the reply's Content-Type; empty for a file
  QString name_;          // the file name the address ends in
  bool refused_ = false;  // a redirect not followed, a page over the limit, the deadline
  bool busy_ = false;
  bool loaded_ = false;  // the last fetch brought a whole page
};

// The text of the page at `url` (GBK) read with `timing`'s attempts and waits, a file: page only
// from inside `library_dir`; "" when it could not be read.
std::string FetchPageText(const std::string& url, const std::string& library_dir,
                          const PageFetchTiming& timing = {});

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_PAGE_FETCHER_H_
