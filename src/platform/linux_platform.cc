#include "platform/linux_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdlib>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/platform/command_line.h"
#include "platform/command_runner.h"
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

static_assert(Platform::kWaitForever == kWaitWithoutLimit);

// The desktop's handler is a program of its own, started hidden and not waited for, so that the
// program never waits for the viewer or browser it opened. `target` as the handler takes it.
bool StartOpener(const std::string& target) {
  return StartProgram({OpenerProgram(), target}, StartOptions{});
}

}  // namespace

LinuxPlatform::LinuxPlatform() = default;
LinuxPlatform::~LinuxPlatform() = default;

bool LinuxPlatform::RunCommandLine(const std::string& command_line, const std::string& dir) {
  return StartCommandLine(command_line, StartOptions{false, dir});
}

int LinuxPlatform::Wait(const std::string& command_line, int show, uint32_t timeout_seconds,
                        const std::string& dir) {
  return WaitForCommandLine(command_line, show, timeout_seconds, dir);
}

// Started shown. A Linux program has no title of its own that a starter could set (a terminal
// takes its title from what runs in it), so the command line is not shown anywhere.
bool LinuxPlatform::RunCommandLineTitled(const std::string& command_line) {
  return StartCommandLine(command_line, StartOptions{true, std::string()});
}

std::string LinuxPlatform::CompanionProgram(std::string_view name) {
  const QByteArray dir = QFile::encodeName(QCoreApplication::applicationDirPath());
  return JoinPath(dir.toStdString(), std::string(name));
}

void LinuxPlatform::KillProcessByName(std::string_view name, const std::string& folder) {
  platform::KillProcessByName(name, ResolvePath(folder));
}

bool LinuxPlatform::OpenDocument(const std::string& path) {
  return StartOpener(QFile::encodeName(QDir::current().absoluteFilePath(LocalPath(path)))
                         .toStdString());
}

// The address goes as UTF-8, as every program takes a text argument. Our browser window is the
// program "tomeva-browser" beside this one; a test's TOMEVA_OPENER takes its place, to see what
// would be opened.
bool LinuxPlatform::OpenInBrowserWindow(const std::string& url) {
  const char* opener = std::getenv("TOMEVA_OPENER");
  if (opener != nullptr && *opener != '\0') return StartOpener(GbkToUtf8(url));
  return StartProgram({CompanionProgram("tomeva-browser"), GbkToUtf8(url)}, StartOptions{});
}

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
