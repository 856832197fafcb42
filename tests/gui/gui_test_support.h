// Plumbing shared by the window tests: the program's folders and a fresh sample installation for
// each test, an application whose messages are recorded instead of shown, a wait for its first
// page, and a synchronous way to run a script in the web view's page.
#ifndef TOMEVA_TESTS_GUI_GUI_TEST_SUPPORT_H_
#define TOMEVA_TESTS_GUI_GUI_TEST_SUPPORT_H_

#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>
#include <QWebEngineView>

#include "gui/app/tomeva_app.h"
#include "gui/views/more_html_view.h"

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

// Points the program's folders (TOMEVA_REGISTRY_DIR, _RUNTIME_DIR, _DESKTOP_DIR, _PROGRAMS_DIR
// and _SYSTEM_DIR) at new folders inside `temp`, private to the user as the program wants its
// runtime folder. False, with a warning naming the folder, when one cannot be made so.
bool UseFoldersIn(const QTemporaryDir& temp);

// Makes a sample installation in `folder` with the sample maker, `options` given after the
// folder. False, with a warning, when the maker fails or does not end in time.
bool MakeSample(const QString& folder, const QStringList& options = {});

// The installer's step for a sample made by the sample maker: its viewer page becomes the PDF
// viewer in the registry of TOMEVA_REGISTRY_DIR, which each test points at a folder of its own.
// True when the maker wrote it.
bool RegisterSampleViewer(const QString& sample);

// The installation the program is started in: MakeSample, RegisterSampleViewer, and `folder`
// made the working directory. False, with a warning naming the step, when one fails.
bool InstallSample(const QString& folder, const QStringList& options = {});

// Waits until `view` has shown its first page (the application shows one at start-up); true at
// once when it has, false when none came in time.
bool WaitForFirstPage(CMoreHtmlView* view);

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
