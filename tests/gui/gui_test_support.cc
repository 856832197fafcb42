#include "gui_test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtDebug>

namespace tomeva::gui::testing {
namespace {

// The sample maker with `arguments`; false, with a warning, unless it ended well in time.
bool RunSampleMaker(const QStringList& arguments, int timeout_ms) {
  QProcess maker;
  maker.start(QStringLiteral(TOMEVA_SAMPLE_MAKER), arguments);
  if (!maker.waitForFinished(timeout_ms)) {
    qWarning() << "the sample maker did not end:" << arguments << maker.errorString();
    maker.kill();
    maker.waitForFinished();
    return false;
  }
  if (maker.exitStatus() != QProcess::NormalExit || maker.exitCode() != 0) {
    qWarning() << "the sample maker failed:" << arguments << "exit code" << maker.exitCode()
               << maker.readAllStandardError();
    return false;
  }
  return true;
}

}  // namespace

bool UseFoldersIn(const QTemporaryDir& temp) {
  for (const char* var : {"REGISTRY", "RUNTIME", "DESKTOP", "PROGRAMS", "SYSTEM"}) {
    const QString dir = temp.filePath(QString::fromLatin1(var).toLower());
    if (!QDir().mkpath(dir) ||
        !QFile::setPermissions(
            dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
      qWarning() << "cannot make the private folder" << dir;
      return false;
    }
    qputenv(QByteArray("TOMEVA_") + var + "_DIR", dir.toLocal8Bit());
  }
  return true;
}

bool MakeSample(const QString& folder, const QStringList& options) {
  // A large sample (timing runs) takes minutes on a loaded machine.
  return RunSampleMaker(QStringList{folder} + options, 600000);
}

bool RegisterSampleViewer(const QString& sample) {
  return RunSampleMaker({QStringLiteral("--register-viewer"), sample}, 60000);
}

bool InstallSample(const QString& folder, const QStringList& options) {
  if (!MakeSample(folder, options) || !RegisterSampleViewer(folder)) return false;
  if (!QDir::setCurrent(folder)) {
    qWarning() << "cannot work in the sample" << folder;
    return false;
  }
  return true;
}

bool WaitForFirstPage(CMoreHtmlView* view) {
  if (view->has_document()) return true;
  QSignalSpy spy(view, &CMoreHtmlView::documentComplete);
  return spy.wait(kGuiTimeoutMs);
}

}  // namespace tomeva::gui::testing
