// Qt's own texts in Chinese: the buttons of message boxes, the print and page setup dialogs, the
// context menus of text fields. Every program of ours installs them before it builds a window,
// so that nothing the user sees is in English.
//
// Threads: the user-interface thread, once the application object exists.
#ifndef TOMEVA_GUI_COMMON_QT_TRANSLATIONS_H_
#define TOMEVA_GUI_COMMON_QT_TRANSLATIONS_H_

#include <QString>

namespace tomeva::gui {

// Loads Qt's simplified Chinese catalogues (qtbase, and the web engine's where installed) from
// Qt's translations folder and installs them in the application. The translators live as long
// as the application. False when qtbase's catalogue could not be loaded (the desktop package of
// Qt's translations is missing): Qt's texts then stay English, and `*missing`, if given, names
// the file that was looked for.
bool InstallQtChinese(QString* missing = nullptr);
// The same with the catalogues looked for in `folder`.
bool InstallQtChineseFrom(const QString& folder, QString* missing = nullptr);

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_COMMON_QT_TRANSLATIONS_H_
