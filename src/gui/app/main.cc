// The desktop program. It runs in its library folder: the working directory when that is a
// library, else the one found or made as gui/app/library_location.h describes (`tomeva [DIR]`).
//
// TOMEVA_SCREENSHOT=path makes the program save a picture of its main window to `path` once the
// window is shown and its first page has loaded, print the path, and end (used where there is
// no display to look at, under a virtual X server).
// TOMEVA_REPORT_SHOWN=path is the start-up benchmark's hook: the milliseconds from the process's
// start to the shown main window are written to `path`, and the program ends before the version
// check (CTomevaApp::ShowMainFrame).
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "base/file_util.h"
#include "gui/app/library_location.h"
#include "gui/app/tomeva_app.h"
#include "gui/common/web_engine_bootstrap.h"
#include "gui/frame/main_frame.h"
#include "gui/views/tomeva_view.h"

namespace {

constexpr int kScreenshotTimeoutMs = 20000;

void ScheduleScreenshot(tomeva::gui::CTomevaApp& app, const QString& path) {
  tomeva::gui::CMainFrame* frame = app.main_frame();
  auto shoot = [frame, path] {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    bool ok = frame->grab().save(&buffer, "PNG") &&
              tomeva::ReplaceFileAtomically(path.toStdString(),
                                            std::string_view(png.constData(), png.size()));
    std::printf("%s %s\n", ok ? "screenshot:" : "screenshot failed:", qPrintable(path));
    std::fflush(stdout);
    QApplication::quit();
  };
  auto* once = new QObject(frame);
  QObject::connect(frame->html_view(), &tomeva::gui::CMoreHtmlView::documentComplete, once,
                   [once, shoot] {
                     // Let the page paint before the picture is taken.
                     QTimer::singleShot(500, shoot);
                     delete once;
                   });
  QTimer::singleShot(kScreenshotTimeoutMs, frame, shoot);
}

// The window icon and the menu entry the desktop matches the windows with.
void SetProgramIcon() {
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tomeva.tomeva"));
  const QString png =
      QDir(tomeva::gui::ProgramDataFolder()).filePath(QStringLiteral("icons/tomeva.png"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tomeva"), QIcon(png)));
}

}  // namespace

int main(int argc, char** argv) {
  // Book pages run their own scripts: the engine gets no way to the network of its own. Qt's
  // texts are Chinese before the first window: the start-up's message boxes show Chinese buttons.
  const auto qt_app =
      tomeva::gui::MakeWebEngineApplication(argc, argv, tomeva::gui::EngineNetwork::kClosed);

  SetProgramIcon();
  if (!tomeva::gui::EnterLibrary(QCoreApplication::arguments())) return 1;
  tomeva::gui::RegisterViewerIfMissing();

  tomeva::gui::CTomevaApp app;
  if (!app.InitInstance()) return app.exit_code();

  if (const char* shot = std::getenv("TOMEVA_SCREENSHOT"); shot != nullptr && *shot != '\0') {
    ScheduleScreenshot(app, QString::fromLocal8Bit(shot));
  }
  if (std::getenv("TOMEVA_STARTUP_TIMING") != nullptr) {
    for (const auto& [step, ms] : app.startup_log()) {
      std::fprintf(stderr, "startup %s %lld ms\n", qPrintable(step), static_cast<long long>(ms));
    }
  }
  QApplication::exec();
  return app.ExitInstance();
}
