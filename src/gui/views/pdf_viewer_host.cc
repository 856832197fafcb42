#include "gui/views/pdf_viewer_host.h"

#include <algorithm>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include "core/pdf/highlight_client.h"
#include "platform/dde.h"

namespace tomeva::gui {

PdfViewerHost::PdfViewerHost(CMoreHtmlView* view, std::string runtime_dir)
    : view_(view), runtime_dir_(std::move(runtime_dir)) {}

PdfViewerHost::~PdfViewerHost() = default;

bool PdfViewerHost::Register(std::string* failure) {
  if (server_ == nullptr) {
    auto handler = [this](const std::string& data) { return HandOver(data, kPluginWaitMs); };
    server_ = runtime_dir_.empty()
                  ? std::make_unique<platform::DdeServer>(kHighlightService, kHighlightTopic,
                                                          handler)
                  : std::make_unique<platform::DdeServer>(kHighlightService, kHighlightTopic,
                                                          handler, runtime_dir_);
  }
  return server_->Register(failure);
}

QString PdfViewerHost::ExecuteScript(const std::string& data) {
  QString bytes;
  bytes.reserve(static_cast<qsizetype>(data.size()) * 4 + 2);
  bytes += QLatin1Char('[');
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) bytes += QLatin1Char(',');
    bytes += QString::number(static_cast<unsigned char>(data[i]));
  }
  bytes += QLatin1Char(']');
  // The plug-in's work goes on after the call returns (it reads the text copy and draws pages);
  // what it came to is left in hiliteService.last.
  return QStringLiteral(
             "(function (bytes) {"
             " if (!window.hiliteService) return false;"
             " window.hiliteService.execute(bytes); return true; })(%1)")
      .arg(bytes);
}

bool PdfViewerHost::HandOver(const std::string& data, int wait_ms) {
  // Shared with the script's callback, which may come after this call has given up.
  struct Answer {
    bool answered = false;
    bool taken = false;
    QEventLoop* loop = nullptr;
  };
  QDeadlineTimer deadline(wait_ms);
  const QString script = ExecuteScript(data);
  while (view_ != nullptr && !deadline.hasExpired()) {
    if (view_->viewer_page_shown()) {
      // One try: the script tells whether the plug-in was there to take the data.
      auto answer = std::make_shared<Answer>();
      QEventLoop loop;
      answer->loop = &loop;
      view_->page()->runJavaScript(script, QWebEngineScript::MainWorld,
                                   [answer](const QVariant& result) {
                                     answer->answered = true;
                                     answer->taken = result.toBool();
                                     if (answer->loop != nullptr) answer->loop->quit();
                                   });
      QTimer::singleShot(std::max<qint64>(deadline.remainingTime(), 0), &loop,
                         &QEventLoop::quit);
      if (!answer->answered) loop.exec();
      answer->loop = nullptr;
      if (answer->taken) {
        ++handed_over_;
        return true;
      }
      if (!answer->answered) return false;
    }
    QEventLoop pause;
    QTimer::singleShot(50, &pause, &QEventLoop::quit);
    pause.exec();
  }
  return false;
}

}  // namespace tomeva::gui
