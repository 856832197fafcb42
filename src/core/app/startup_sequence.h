// The program's start-up order, kept apart from the windows so that it can be checked without
// them. The application object implements IStartupHost; RunStartupSequence calls its steps in
// the one order the program relies on: the library is brought into order (older installation,
// pending books, catalogue order) before any window exists, the main window is visible before
// the version check, and the engine is initialised last.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_APP_STARTUP_SEQUENCE_H_
#define TOMEVA_CORE_APP_STARTUP_SEQUENCE_H_

#include <string>
#include <vector>

#include "core/platform/platform.h"

namespace tomeva {

class IStartupHost {
 public:
  virtual ~IStartupHost() = default;

  // The process's working directory ("" when it cannot be read).
  virtual std::string CurrentDirectory() = 0;
  virtual void Sleep(int milliseconds) = 0;
  // Takes the single-instance guard named `name`, with the answers of
  // Platform::AcquireSingleInstance: on kFailed, `*failure` (GBK) names the folder and says why.
  virtual InstanceGuardResult AcquireSingleInstance(const std::string& name,
                                                    std::string* failure) = 0;
  // A plain modal message box (UTF-8 text).
  virtual void ShowMessage(const std::string& utf8_text) = 0;
  // The folder of an older installation, "" when there is none.
  virtual std::string OlderInstallationFolder() = 0;
  virtual void MigrateOlderInstallation(const std::string& old_folder) = 0;
  virtual bool HasPendingCatalogue() = 0;
  // Shows the import dialog, which imports the pending books on its worker, and returns when
  // the worker has signalled its completion.
  virtual void ImportPendingBooks() = 0;
  virtual void MoveSpecialBookLast() = 0;
  // Creates the main frame (which loads System.xml). False ends the start.
  virtual bool CreateMainFrame() = 0;
  // Creates the document (its settings load) and its child frame with both views.
  virtual bool CreateDocument() = 0;
  // Shows the main frame maximised and gives the keyboard focus to the query box.
  virtual void ShowMainFrame() = 0;
  // What the document found wrong in the library as it loaded (GBK, one text per thing): books
  // the catalogue left out, a catalogue that does not load. Each is handed out once; later calls
  // return only what was found since.
  virtual std::vector<std::string> TakeDocumentNotices() = 0;
  // The version check against `check_version_url`. False when it started an updater and the
  // program must end now.
  virtual bool CheckForUpdate(const std::string& check_version_url) = 0;
  // Readies the engine for the searches to come; its result is not examined.
  virtual void InitIndexLibrary() = 0;
};

struct StartupResult {
  bool run = false;      // enter the event loop
  int exit_code = 0;     // when not running
  std::string app_dir;   // working directory with a trailing separator
  std::string check_version_url;
};

// The pause at start, in milliseconds.
inline constexpr int kStartupPauseMs = 500;

// The single-instance guard's name: the application title's first line and " Class" (GBK).
std::string SingleInstanceName();

// Runs the start-up steps in order. Ends early (run = false) when another instance runs, when
// the main frame or the document cannot be created, or when the version check ends the program.
// A guard that fails for any other reason is reported and the start goes on without it. Once the
// main window shows, the document's notices are shown, each in a message box of its own.
StartupResult RunStartupSequence(IStartupHost& host);

}  // namespace tomeva

#endif  // TOMEVA_CORE_APP_STARTUP_SEQUENCE_H_
