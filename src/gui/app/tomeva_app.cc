#include "gui/app/tomeva_app.h"

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "base/file_util.h"
#include "base/texts.h"
#include "core/app/maintenance.h"
#include "core/doc/tomeva_doc.h"
#include "core/import/book_import.h"
#include "core/pdf/highlight_client.h"
#include "core/settings/settings.h"
#include "core/update/version_check.h"
#include "core/views/page_render.h"
#include "engine_kms/kms_engine.h"
#include "gui/app/copy_dlg.h"
#include "gui/app/page_fetcher.h"
#include "gui/app/parse_dlg.h"
#include "gui/common/local_content_guard.h"
#include "gui/frame/gbk_text.h"
#include "gui/frame/main_frame.h"
#include "gui/views/pdf_viewer_host.h"
#include "gui/views/tomeva_view.h"
#include "platform/download.h"
#include "platform/environment.h"
#include "platform/linux_platform.h"
#include "platform/signify.h"
#include "platform/single_instance.h"

namespace tomeva::gui {
namespace {

// TOMEVA_REPORT_SHOWN=<file> is a measuring hook for the start-up benchmark: once the main window
// is shown, the milliseconds since the process began are written to <file> (a decimal number and
// a line end) and the start ends there, as if the window had been closed at once. The version
// check with its page fetch is left out of the figure. Null when the hook is off.
const char* ReportShownPath() {
  const char* path = std::getenv("TOMEVA_REPORT_SHOWN");
  return path != nullptr && *path != '\0' ? path : nullptr;
}

// Milliseconds since the kernel started this process, so that loading the program and its
// libraries counts too; -1 when /proc cannot tell.
long long MillisecondsSinceProcessStart() {
  std::ifstream file("/proc/self/stat");
  std::string stat;
  if (!std::getline(file, stat)) return -1;
  // The program's name, in parentheses, may hold blanks: fields are counted after the last ')'.
  // The first field after it is the state (3rd); the start time is the 22nd, in clock ticks
  // since boot.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long ticks = 0;
  timespec now{};
  const long ticks_per_second = sysconf(_SC_CLK_TCK);
  if (!(fields >> ticks) || ticks_per_second <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0) {
    return -1;
  }
  const long long now_ms = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  return now_ms - static_cast<long long>(ticks * 1000 / ticks_per_second);
}

}  // namespace

CTomevaApp::CTomevaApp()
    : platform_(std::make_unique<platform::LinuxPlatform>()),
      engine_(std::make_unique<KmsEngine>()) {
  clock_.start();
}

CTomevaApp::~CTomevaApp() { ExitInstance(); }

bool CTomevaApp::InitInstance() {
  result_ = RunStartupSequence(*this);
  return result_.run;
}

int CTomevaApp::ExitInstance() {
  // The highlight workers end first: they ask the view whether their PDF is shown. Then the
  // conversation goes, whose server hands data to the view.
  if (doc_ != nullptr) doc_->AttachHighlighter(nullptr);
  highlighter_.reset();
  viewer_host_.reset();
  // Then the frame (its views restore the browser's text size and let go of the
  // document); then the document, whose destruction runs the exit command.
  frame_.reset();
  doc_.reset();
  return result_.exit_code;
}

void CTomevaApp::Log(const QString& step) { log_.emplace_back(step, clock_.elapsed()); }

std::string CTomevaApp::CurrentDirectory() { return QDir::currentPath().toStdString(); }

void CTomevaApp::Sleep(int milliseconds) { QThread::msleep(milliseconds); }

platform::SingleInstanceGuard* CTomevaApp::guard() const { return platform_->guard(); }

InstanceGuardResult CTomevaApp::AcquireSingleInstance(const std::string& name,
                                                      std::string* failure) {
  return platform_->AcquireSingleInstance(
      name,
      [this] {
        if (frame_ != nullptr) frame_->RaiseWindow();
      },
      failure);
}

void CTomevaApp::ShowMessage(const std::string& utf8_text) {
  PresentMessage(QString::fromStdString(utf8_text));
}

void CTomevaApp::PresentMessage(const QString& text) {
  messages_.append(text);
  // Plain text: a message naming a folder or file must show the name as it is, even one that
  // looks like mark-up.
  QMessageBox box(QMessageBox::Information, QString::fromUtf8(TextUtf8(kTextAppTitle)), text,
                  QMessageBox::Ok, frame_.get());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::string CTomevaApp::OlderInstallationFolder() {
  return ReadOlderInstallationPath(platform_->registry());
}

void CTomevaApp::MigrateOlderInstallation(const std::string& old_folder) {
  RunMigration(result_.app_dir, old_folder, *platform_,
               [this](const QString& message) { PresentMessage(message); });
}

bool CTomevaApp::HasPendingCatalogue() { return tomeva::HasPendingCatalogue(result_.app_dir); }

void CTomevaApp::ImportPendingBooks() {
  CParseDlg dialog(result_.app_dir, engine_.get());
  Log(QStringLiteral("import-dialog-shown"));
  dialog.exec();
  dialog.Wait();
  Log(QStringLiteral("import-finished"));
  for (const QString& report : dialog.reports()) PresentMessage(report);
}

void CTomevaApp::MoveSpecialBookLast() { tomeva::MoveSpecialBookLast(result_.app_dir); }

bool CTomevaApp::CreateMainFrame() {
  // Opened by its relative name: the installation folder is the working directory. A missing
  // System.xml leaves its values empty.
  system_xml_.Load("System.xml", 0, kSmallFileLimit);
  frame_ = std::make_unique<CMainFrame>(ReadKeyFieldNames(system_xml_));
  return true;
}

bool CTomevaApp::CreateDocument() {
  Settings settings = LoadSettings(platform_->registry(), CurrentApplicationDirectory(), &system_xml_);
  doc_ = std::make_unique<CTomevaDoc>(std::move(settings));
  doc_->AttachPlatform(platform_.get());
  // The searches run on the installation's index; the hit pages link to the online full text
  // named in System.xml.
  doc_->AttachEngine(engine_.get());
  doc_->set_link_settings(ReadLinkSettings(system_xml_));
  frame_->SetDocument(doc_.get());
  AttachPdfViewer();
  return true;
}

void CTomevaApp::AttachPdfViewer() {
  CTomevaView* view = frame_->html_view();
  if (view == nullptr) return;
  view->set_pdf_viewer_path(doc_->settings().pdf_viewer_path);
  // The index is the program's, whatever System.xml calls its folder: no page reads it.
  if (!doc_->settings().index_dir.empty()) {
    view->guard()->roots().DenyFolder(
        QFile::decodeName(ResolvePath(doc_->settings().index_dir).c_str()));
  }
  // A web link the user clicks in a book's page opens in the browser window; a link out of the
  // library is refused, and the user is told either way when nothing opens. Told after the
  // click has been handled, as the page's navigation must not wait for a message box.
  auto tell_later = [this](const QString& text) {
    QMetaObject::invokeMethod(this, [this, text] { PresentMessage(text); }, Qt::QueuedConnection);
  };
  view->set_web_link_opener([this, tell_later](const QUrl& url) {
    // A full-text link of the library gets its user name and password only here, on its way to
    // the browser window: the page itself never carries them.
    const std::string address =
        doc_->OpenedAddress(url.toString(QUrl::FullyEncoded).toStdString());
    if (!platform_->OpenInBrowserWindow(address)) {
      tell_later(QString::fromUtf8("无法打开浏览器窗口：") + url.toDisplayString().left(200));
    }
  });
  connect(view, &CMoreHtmlView::userLinkRefused, this, [tell_later](const QUrl& url) {
    tell_later(QString::fromUtf8("此链接指向书库以外的位置，不能打开：") +
         url.toDisplayString().left(200));
  });
  viewer_host_ = std::make_unique<PdfViewerHost>(view);
  std::string failure;
  // Without the conversation PDFs are still shown; the highlighter tells the user that the
  // viewer cannot be reached when it tries.
  if (!viewer_host_->Register(&failure)) {
    qWarning("PDF highlight service not registered: %s", failure.c_str());
  }
  // Runs on a worker: only the view's guarded flag is read. The highlighter goes before the
  // view (ExitInstance), so the view is there for every call.
  auto shown = [view](const std::string& pdf_path) { return view->IsShowingPdf(pdf_path); };
  auto tell = [this](const std::string& message) {
    // Shown on the user-interface thread, after the command that started the worker.
    QMetaObject::invokeMethod(
        this, [this, text = FromGbk(message)] { PresentMessage(text); }, Qt::QueuedConnection);
  };
  // The view is asked often: the page is usually shown well within a second.
  PdfHighlighter::Wait wait;
  wait.poll = std::chrono::milliseconds(100);
  wait.max_polls = 300;
  highlighter_ = std::make_unique<PdfHighlighter>(platform_.get(), shown, tell, wait);
  // The PDF is marked in every form of the words its text copy holds, as the pages are.
  highlighter_->AttachEngine(engine_.get());
  doc_->AttachHighlighter(highlighter_.get());
}

void CTomevaApp::ShowMainFrame() {
  // Without a window manager "maximised" changes nothing; the screen's size is given first.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    frame_->setGeometry(screen->availableGeometry());
  }
  frame_->showMaximized();
  frame_->FocusQueryBox();
  Log(QStringLiteral("main-window-shown"));
  if (const char* report = ReportShownPath()) {
    const long long ms = MillisecondsSinceProcessStart();
    if (ms < 0 || !ReplaceFileAtomically(report, std::to_string(ms) + "\n")) {
      std::fprintf(stderr, "cannot report the shown window's time to %s\n", report);
    }
  }
  // The files of books imported at start were moved aside rather than deleted, so that the
  // window did not wait for them; they go now, in the background. Cut short by an early exit,
  // the rest simply goes at the next start.
  std::thread([dir = result_.app_dir] { ClearImportLeftovers(dir); }).detach();
}

std::vector<std::string> CTomevaApp::TakeDocumentNotices() {
  return doc_ != nullptr ? doc_->TakeStartNotices() : std::vector<std::string>();
}

bool CTomevaApp::CheckForUpdate(const std::string& check_version_url) {
  // The start-up measurement ends with the shown window (see ReportShownPath).
  if (ReportShownPath() != nullptr) return false;
  // The desktop's side of the check: the page's reader, the download, the signature and digest
  // checks, the installed update keys, the message box, the updater's start and the immediate
  // end of the process.
  class Services : public UpdateServices {
   public:
    explicit Services(CTomevaApp* app) : app_(app) {}
    std::string FetchPageText(const std::string& url) override {
      // A file: page is read only from inside the library, the folder the program runs in.
      return gui::FetchPageText(url, CurrentApplicationDirectory());
    }
    bool DownloadToFile(const std::string& url, const std::string& path,
                        const Acceptor& accept) override {
      // A file: updater, like a file: page, only from inside the library.
      platform::DownloadOptions options;
      options.file_folder = CurrentApplicationDirectory();
      return platform::DownloadToFile(url, path, options, accept);
    }
    std::optional<std::string> FetchSmallFile(const std::string& url, bool* over_https) override {
      // A manifest is four short lines, a signature file two.
      platform::DownloadOptions options;
      options.max_bytes = static_cast<int64_t>(kMaxManifestBytes);
      options.deadline_ms = 30000;
      options.file_folder = CurrentApplicationDirectory();
      std::string bytes;
      if (!platform::DownloadToMemory(url, &bytes, options, over_https)) return std::nullopt;
      return bytes;
    }
    UpdaterSignature VerifySignature(std::string_view message, const std::string& signature,
                                     const std::string& public_key) override {
      switch (platform::VerifySignify(message, signature, public_key)) {
        case platform::SignifyResult::kGood:
          return UpdaterSignature::kGood;
        case platform::SignifyResult::kOtherKey:
          return UpdaterSignature::kOtherKey;
        case platform::SignifyResult::kMalformedKey:
          return UpdaterSignature::kBadKey;
        case platform::SignifyResult::kMalformedSignature:
          return UpdaterSignature::kMalformed;
        case platform::SignifyResult::kBadSignature:
        case platform::SignifyResult::kUnreadableFile:
          break;
      }
      return UpdaterSignature::kBad;
    }
    std::optional<std::string> FileSha256(const std::string& path) override {
      return platform::Sha256OfFile(path);
    }
    std::vector<std::string> UpdateKeyFiles() override { return platform::UpdateKeyFiles(); }
    void ShowMessage(const std::string& text) override {
      // TOMEVA_ACCEPT_MESSAGES: the window tests that run the program as a process of its own
      // have no one to answer the box; it is answered for them once shown, and its text printed.
      QTimer answer;
      if (std::getenv("TOMEVA_ACCEPT_MESSAGES") != nullptr) {
        QObject::connect(&answer, &QTimer::timeout, [&answer] {
          auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
          if (box == nullptr) return;
          std::fprintf(stderr, "message accepted: %s\n", box->text().toUtf8().constData());
          answer.stop();
          box->accept();
        });
        answer.start(100);
      }
      app_->PresentMessage(FromGbk(text));
    }
    int Wait(const std::string& command_line, int show, uint32_t timeout_seconds) override {
      return app_->platform_->Wait(command_line, show, timeout_seconds, std::string());
    }
    void ExitProcess(int code) override {
      // The log is all that is written on the way out: no window, document or engine is shut.
      app_->Log(QStringLiteral("updater-started"));
      if (std::getenv("TOMEVA_STARTUP_TIMING") != nullptr) {
        for (const auto& [step, ms] : app_->log_) {
          std::fprintf(stderr, "startup %s %lld ms\n", qPrintable(step),
                       static_cast<long long>(ms));
        }
      }
      std::fflush(nullptr);
      _exit(code);
    }

   private:
    CTomevaApp* app_;
  };
  Services services(this);
  // The updater goes into the installation folder by its full path, so that it is started from
  // there and not looked up among the system's programs.
  return tomeva::CheckForUpdate(platform_->registry(), CurrentApplicationDirectory(),
                                check_version_url, services);
}

// The engine library was initialised when the application made its engine (KmsEngine).
void CTomevaApp::InitIndexLibrary() {}

}  // namespace tomeva::gui
