// The hidden browser of the version check: a web page that is never shown, in a profile of its
// own that keeps nothing (no history, no HTTP cache, no cookies on disk), driven through core's
// BrowserDriver so that the attempts and waits are core's (core/update/version_check.h).
//
// Every wait runs a local event loop that takes no user input: the main window keeps painting
// while the page is read, but cannot be used until the check is over.
//
// Threads: the user-interface thread.
#ifndef TOMEVA_GUI_APP_PAGE_FETCHER_H_
#define TOMEVA_GUI_APP_PAGE_FETCHER_H_

#include <memory>
#include <optional>
#include <string>

#include "core/update/version_check.h"

class QWebEnginePage;
class QWebEngineProfile;

namespace tomeva::gui {

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
  std::unique_ptr<QWebEngineProfile> profile_;
  std::unique_ptr<QWebEnginePage> page_;
  bool busy_ = false;
  bool loaded_ = false;  // the last load finished with a document
};

// The text of the page at `url` (GBK) read by a hidden browser with `timing`'s attempts and
// waits; "" when it could not be read.
std::string FetchPageText(const std::string& url, const PageFetchTiming& timing = {});

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_PAGE_FETCHER_H_
