#include "gui/app/desktop_services.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUrl>

#include "core/base/file_util.h"
#include "gui/frame/gbk_text.h"

namespace tomeva::gui {

bool DesktopServices::RunCommandLine(const std::string& command_line, const std::string& dir) {
  QStringList parts = QProcess::splitCommand(FromGbk(command_line));
  if (parts.isEmpty()) return false;
  QString program = parts.takeFirst();
  QString work_dir = dir.empty() ? QDir::currentPath() : QFile::decodeName(ResolvePath(dir).c_str());
  return QProcess::startDetached(program, parts, work_dir);
}

bool DesktopServices::OpenDocument(const std::string& path) {
  QString file = QDir::current().absoluteFilePath(QFile::decodeName(ResolvePath(path).c_str()));
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

bool DesktopServices::OpenInBrowserWindow(const std::string& url) {
  return QDesktopServices::openUrl(QUrl(FromGbk(url)));
}

}  // namespace tomeva::gui
