// Plumbing shared by the window tests: an application whose messages are recorded instead of
// shown, and a synchronous way to run a script in the web view's page.
#ifndef TOMEVA_TESTS_GUI_GUI_TEST_SUPPORT_H_
#define TOMEVA_TESTS_GUI_GUI_TEST_SUPPORT_H_

#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QWebEngineView>

#include "gui/app/tomeva_app.h"

namespace tomeva::gui::testing {

// Long enough for a loaded two-core machine; waits end early on the awaited signal.
inline constexpr int kGuiTimeoutMs = 60000;

// Messages are recorded instead of shown: a modal box would wait for a user.
class TestApp : public CTomevaApp {
 protected:
  void PresentMessage(const QString& text) override { recorded.append(text); }

 public:
  QStringList recorded;
};

// The installer's step for a sample made by the sample maker: its viewer page becomes the PDF
// viewer in the registry of TOMEVA_REGISTRY_DIR, which each test points at a folder of its own.
// True when the maker wrote it.
inline bool RegisterSampleViewer(const QString& sample) {
  QProcess maker;
  maker.start(QStringLiteral(TOMEVA_SAMPLE_MAKER), {QStringLiteral("--register-viewer"), sample});
  return maker.waitForFinished(60000) && maker.exitStatus() == QProcess::NormalExit &&
         maker.exitCode() == 0;
}

// Runs a script in the page's main world and returns its result (invalid on time-out).
inline QVariant RunJs(QWebEngineView* view, const QString& script) {
  QVariant result;
  QEventLoop loop;
  bool done = false;
  view->page()->runJavaScript(script, [&](const QVariant& v) {
    result = v;
    done = true;
    loop.quit();
  });
  QTimer::singleShot(kGuiTimeoutMs, &loop, &QEventLoop::quit);
  if (!done) loop.exec();
  return result;
}

}  // namespace tomeva::gui::testing

#endif  // TOMEVA_TESTS_GUI_GUI_TEST_SUPPORT_H_
