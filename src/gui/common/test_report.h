// The report a companion program (the help viewer, the browser window) writes for the window
// tests instead of staying on screen: where there is no one to look at the window, the tests read
// what it showed from a file named by an environment variable, and the program then ends.
#ifndef TOMEVA_GUI_COMMON_TEST_REPORT_H_
#define TOMEVA_GUI_COMMON_TEST_REPORT_H_

#include <QString>
#include <QStringList>

class QWidget;

namespace tomeva::gui {

// The path named by the environment variable `variable`, or "" when it is unset or empty.
QString TestReportPath(const char* variable);

// Writes `lines` (UTF-8, one per line) to `path`, replacing the file whole. False, with a line on
// standard error naming the file, when it cannot be written.
bool WriteTestReport(const QString& path, const QStringList& lines);

// Writes a picture of `window` (PNG) to `path` + ".png", replacing the file whole. False, with a
// line on standard error naming the file, when it cannot be written.
bool WriteTestPicture(QWidget* window, const QString& path);

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_COMMON_TEST_REPORT_H_
