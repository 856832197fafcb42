#include "gui/common/test_report.h"

#include <QSaveFile>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace tomeva::gui {

QString TestReportPath(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? QString::fromLocal8Bit(value) : QString();
}

bool WriteTestReport(const QString& path, const QStringList& lines) {
  QSaveFile file(path);
  bool ok = file.open(QIODevice::WriteOnly);
  for (const QString& line : lines) {
    if (!ok) break;
    const QByteArray bytes = line.toUtf8() + '\n';
    ok = file.write(bytes) == bytes.size();
  }
  ok = ok && file.commit();
  if (!ok) {
    std::fprintf(stderr, "cannot write the report %s: %s\n", qPrintable(path),
                 qPrintable(file.errorString()));
  }
  return ok;
}

bool WriteTestPicture(QWidget* window, const QString& path) {
  QSaveFile file(path + QStringLiteral(".png"));
  const bool ok =
      file.open(QIODevice::WriteOnly) && window->grab().save(&file, "PNG") && file.commit();
  if (!ok) std::fprintf(stderr, "cannot write the picture %s.png\n", qPrintable(path));
  return ok;
}

}  // namespace tomeva::gui
