// PdfViewerHost: serves the highlight conversation ("HiliteService", topic "PageNumber") for the
// viewer page shown in the right-hand view. The highlight plug-in lives in that page's script and
// cannot listen on a socket itself, so the host takes each execute transaction and hands its data
// to the plug-in's `hiliteService.execute`. The data is handed over only to a viewer page whose
// plug-in has been loaded; the host waits a bounded time for that, with the event loop running,
// and otherwise refuses the transaction, which the sender then reports.
//
// Threads: the user-interface thread only (the conversation is served on its event loop).
#ifndef TOMEVA_GUI_VIEWS_PDF_VIEWER_HOST_H_
#define TOMEVA_GUI_VIEWS_PDF_VIEWER_HOST_H_

#include <QPointer>
#include <QString>
#include <memory>
#include <string>

#include "gui/views/more_html_view.h"

namespace tomeva::platform {
class DdeServer;
}

namespace tomeva::gui {

class PdfViewerHost {
 public:
  // How long one transaction may wait for the plug-in; below the sender's time-out, so that a
  // refusal reaches it as a refusal.
  static constexpr int kPluginWaitMs = 10000;

  // `runtime_dir` "" = the platform's runtime folder.
  explicit PdfViewerHost(CMoreHtmlView* view, std::string runtime_dir = std::string());
  ~PdfViewerHost();
  PdfViewerHost(const PdfViewerHost&) = delete;
  PdfViewerHost& operator=(const PdfViewerHost&) = delete;

  // Registers the conversation. False with `*failure` (may be null) set when another server
  // holds it or the socket cannot be made.
  bool Register(std::string* failure);

  // Hands `data` to the plug-in of the shown viewer page: true once `hiliteService.execute` was
  // called with it, false when no viewer page with its plug-in appeared within `wait_ms`.
  bool HandOver(const std::string& data, int wait_ms);

  // The script that calls the plug-in with `data` when it is there; it gives true when it did.
  static QString ExecuteScript(const std::string& data);

  int handed_over() const { return handed_over_; }

 private:
  QPointer<CMoreHtmlView> view_;
  std::string runtime_dir_;
  std::unique_ptr<platform::DdeServer> server_;
  int handed_over_ = 0;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_PDF_VIEWER_HOST_H_
