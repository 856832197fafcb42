// CTomevaApp: the application object. It runs the start-up sequence (core/app/startup_sequence.h)
// with the desktop's stand-ins: the single-instance guard, the start-up maintenance of the
// installation with its dialogs, the main frame, the document, the version check and the
// engine's initialisation; at exit it closes the document, whose destruction runs the exit
// command. It also keeps a log of the start-up's visible steps with their times, for the
// start-up measurements and the tests.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_GUI_APP_TOMEVA_APP_H_
#define TOMEVA_GUI_APP_TOMEVA_APP_H_

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/app/startup_sequence.h"
#include "core/xml/xml_document.h"

namespace tomeva {
class CTomevaDoc;
class Engine;
class PdfHighlighter;
namespace platform {
class LinuxPlatform;
class SingleInstanceGuard;
}  // namespace platform
}  // namespace tomeva

namespace tomeva::gui {

class CMainFrame;
class PdfViewerHost;

class CTomevaApp : public QObject, public IStartupHost {
  Q_OBJECT
 public:
  CTomevaApp();
  ~CTomevaApp() override;

  // The start-up sequence. True: enter the event loop; false: end with exit_code().
  bool InitInstance();
  // Closes the main window and the document (running the exit command). Returns the exit code.
  int ExitInstance();

  int exit_code() const { return result_.exit_code; }
  const StartupResult& startup() const { return result_; }
  CMainFrame* main_frame() const { return frame_.get(); }
  CTomevaDoc* document() const { return doc_.get(); }
  // Serves the viewer page's highlight conversation; null before the document exists.
  PdfViewerHost* viewer_host() const { return viewer_host_.get(); }
  // The single-instance guard, once taken.
  platform::SingleInstanceGuard* guard() const;
  // The visible start-up steps in order, each with the milliseconds since the start:
  // "import-dialog-shown", "import-finished", "main-window-shown", ...; "updater-started" last
  // when the version check ends the program (then written to standard error on the way out
  // when TOMEVA_STARTUP_TIMING is set).
  const std::vector<std::pair<QString, qint64>>& startup_log() const { return log_; }
  // Messages shown to the user, in order (UTF-8).
  const QStringList& messages() const { return messages_; }

  // IStartupHost
  std::string CurrentDirectory() override;
  void Sleep(int milliseconds) override;
  InstanceGuardResult AcquireSingleInstance(const std::string& name, std::string* failure) override;
  void ShowMessage(const std::string& utf8_text) override;
  std::string OlderInstallationFolder() override;
  void MigrateOlderInstallation(const std::string& old_folder) override;
  bool HasPendingCatalogue() override;
  void ImportPendingBooks() override;
  void MoveSpecialBookLast() override;
  bool CreateMainFrame() override;
  bool CreateDocument() override;
  void ShowMainFrame() override;
  std::vector<std::string> TakeDocumentNotices() override;
  bool CheckForUpdate(const std::string& check_version_url) override;
  void InitIndexLibrary() override;

 protected:
  // Shows a modal message box; the tests replace it.
  virtual void PresentMessage(const QString& text);

 private:
  void Log(const QString& step);
  // The PDF viewer in the right-hand view: the view shows PDFs in the viewer page, the host
  // serves the page's highlight conversation and the document's highlighter sends to it.
  void AttachPdfViewer();

  QElapsedTimer clock_;
  StartupResult result_;
  std::unique_ptr<platform::LinuxPlatform> platform_;
  // The engine the document searches, the highlighter folds and the import writes with; made
  // with the application, as the document is created before the engine's start-up step.
  std::unique_ptr<Engine> engine_;
  // System.xml of the installation, loaded with the main frame; the document's settings, the
  // field box and the hit pages' online links are read from it.
  CXmlDocument system_xml_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CTomevaDoc> doc_;
  std::unique_ptr<PdfViewerHost> viewer_host_;
  // Its workers ask the view and use the platform: destroyed before either.
  std::unique_ptr<PdfHighlighter> highlighter_;
  std::vector<std::pair<QString, qint64>> log_;
  QStringList messages_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_TOMEVA_APP_H_
