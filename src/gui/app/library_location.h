// Where the program finds its library and its own files, before the start-up sequence runs.
//
// The program runs in its library folder (the working directory is the installation folder of
// the start-up sequence). Started from the desktop's menu the working directory is usually the
// home folder, so the library is looked for, in this order:
//   1. the folder given on the command line (`tomeva DIR`);
//   2. the working directory, when it holds System.xml (how the program has always been started);
//   3. the one folder named in /etc/tomeva/library (a reading room's shared library;
//      $TOMEVA_SYSTEM_LIBRARY_FILE names another file);
//   4. the user's own library, $XDG_DATA_HOME/tomeva;
//   5. the user is asked: create the library of step 4 (through `tomeva-tool init`), choose a
//      library folder, or quit.
// A folder named in 1 or 3 that is not a library is told to the user, who is then asked as in 5.
// A folder is a library when it holds System.xml.
//
// The data folder (viewer page, plug-in, guide, icons) is $TOMEVA_DATA_DIR, else the build
// tree's copy when the program runs from its build, else the installed one.
//
// Threads: the user-interface thread, after QApplication exists and before CTomevaApp runs.
#ifndef TOMEVA_GUI_APP_LIBRARY_LOCATION_H_
#define TOMEVA_GUI_APP_LIBRARY_LOCATION_H_

#include <QString>
#include <QStringList>

namespace tomeva::gui {

// True when `dir` holds a library (its System.xml).
bool IsLibraryFolder(const QString& dir);

// The folder of the user's own library: $XDG_DATA_HOME/tomeva.
QString UserLibraryFolder();

// The program's data folder (see above), without a trailing "/".
QString ProgramDataFolder();

// Finds the library as above and makes it the working directory. `arguments` are the program's
// arguments after Qt took its own (the first is the program). False when there is none to open:
// the user quit, or a library could not be made or entered (the user has been told).
bool EnterLibrary(const QStringList& arguments);

// When this user's registry names no PDF viewer yet (a library made by someone else, such as a
// reading room's), the data folder's viewer page is registered, as `tomeva-tool init` does.
void RegisterViewerIfMissing();

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_LIBRARY_LOCATION_H_
