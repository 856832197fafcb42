#include "gui/common/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tomeva::gui {

bool InstallQtChinese(QString* missing) {
  return InstallQtChineseFrom(QLibraryInfo::path(QLibraryInfo::TranslationsPath), missing);
}

bool InstallQtChineseFrom(const QString& folder, QString* missing) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return false;
  // The program's own texts are Chinese whatever the desktop's language: Qt's must match them,
  // and numbers and dates in Qt's dialogs follow too.
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  QLocale::setDefault(chinese);
  bool base_loaded = false;
  for (const char* catalogue : {"qtbase", "qtwebengine"}) {
    auto* translator = new QTranslator(app);
    if (translator->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"), folder) &&
        QCoreApplication::installTranslator(translator)) {
      if (QLatin1String(catalogue) == QLatin1String("qtbase")) base_loaded = true;
      continue;
    }
    delete translator;
    if (QLatin1String(catalogue) == QLatin1String("qtbase") && missing != nullptr) {
      *missing = folder + QStringLiteral("/qtbase_zh_CN.qm");
    }
  }
  return base_loaded;
}

}  // namespace tomeva::gui
