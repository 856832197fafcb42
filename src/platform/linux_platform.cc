#include "platform/linux_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "core/base/file_util.h"
#include "core/base/gbk.h"
#include "platform/dde.h"
#include "platform/environment.h"
#include "platform/processes.h"
#include "platform/single_instance.h"

namespace tomeva::platform {
namespace {

QString FromGbk(const std::string& gbk) { return QString::fromStdString(GbkToUtf8(gbk)); }

// A GBK path as the file system spells it: "\" and letter case resolved as for every file access.
QString LocalPath(const std::string& gbk_path) {
  return QFile::decodeName(QByteArray::fromStdString(ResolvePath(gbk_path)));
}

// The desktop's handler is a program of its own; started detached so that the program never
// waits for the viewer or browser it opened.
bool StartOpener(const QString& target) {
  return QProcess::startDetached(QFile::decodeName(QByteArray::fromStdString(OpenerProgram())),
                                 {target});
}

}  // namespace

LinuxPlatform::LinuxPlatform() = default;
LinuxPlatform::~LinuxPlatform() = default;

bool LinuxPlatform::RunCommandLine(const std::string& command_line, const std::string& dir) {
  QStringList parts = QProcess::splitCommand(FromGbk(command_line));
  if (parts.isEmpty()) return false;
  const QString program = parts.takeFirst();
  const QString work_dir = dir.empty() ? QDir::currentPath() : LocalPath(dir);
  return QProcess::startDetached(program, parts, work_dir);
}

int LinuxPlatform::Wait(const std::string& command_line, int show, uint32_t timeout_seconds,
                        const std::string& dir) {
  (void)show;
  (void)timeout_seconds;
  RunCommandLine(command_line, dir);
  return 1;
}

bool LinuxPlatform::RunCommandLineTitled(const std::string& command_line) {
  return RunCommandLine(command_line, std::string());
}

std::string LinuxPlatform::CompanionProgram(std::string_view name) {
  const QByteArray dir = QFile::encodeName(QCoreApplication::applicationDirPath());
  return JoinPath(dir.toStdString(), std::string(name));
}

void LinuxPlatform::KillProcessByName(std::string_view name) { platform::KillProcessByName(name); }

bool LinuxPlatform::OpenDocument(const std::string& path) {
  return StartOpener(QDir::current().absoluteFilePath(LocalPath(path)));
}

bool LinuxPlatform::OpenInBrowserWindow(const std::string& url) { return StartOpener(FromGbk(url)); }

std::string LinuxPlatform::DesktopFolder() { return DesktopDir(); }
std::string LinuxPlatform::ProgramsFolder() { return ProgramsDir(); }
std::string LinuxPlatform::SystemFolder() { return SystemDir(); }

InstanceGuardResult LinuxPlatform::AcquireSingleInstance(const std::string& name,
                                                         std::function<void()> on_raise_request,
                                                         std::string* failure) {
  auto guard = std::make_unique<SingleInstanceGuard>(
      FromGbk(name), QFile::decodeName(QByteArray::fromStdString(RuntimeDir())));
  const InstanceGuardResult result = guard->Acquire(failure);
  // A lock held without its server still keeps later starts out, so it lives as long as this
  // object; a guard that holds nothing is dropped.
  if (!guard->held()) return result;
  QObject::connect(guard.get(), &SingleInstanceGuard::raiseRequested, guard.get(),
                   [callback = std::move(on_raise_request)] {
                     if (callback) callback();
                   });
  guard_ = std::move(guard);
  return result;
}

DdeResult LinuxPlatform::DdeExecute(const std::string& service, const std::string& topic,
                                    const std::string& data, int timeout_ms) {
  // A client per transaction: it holds nothing, and the worker that calls this shares nothing.
  return DdeExecuteOnce(DdeClient(), service, topic, data, timeout_ms);
}

}  // namespace tomeva::platform
