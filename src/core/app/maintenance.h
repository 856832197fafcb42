// The start-up maintenance of the installation, run once per start before the main window: take
// over the books of an older installation, find the books waiting in Update/, and keep the entry
// of the book folder 99999 last in the catalogue. `app_dir` is the installation folder.
#ifndef TOMEVA_CORE_APP_MAINTENANCE_H_
#define TOMEVA_CORE_APP_MAINTENANCE_H_

#include <string>
#include <string_view>

#include "core/platform/platform.h"
#include "core/settings/registry.h"

namespace tomeva {

// Registry key of an older installation and the value with its folder (HKLM).
inline constexpr char kRegOldInstallation[] = "SOFTWARE\\Norvalex\\ovrn";
inline constexpr char kRegOldUninstall[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvalex\\ovrn";

// What the user sees during the migration. Called on the thread running the migration.
class MigrationUi {
 public:
  virtual ~MigrationUi() = default;
  // A modal message with the information icon (GBK).
  virtual void ShowMessage(const std::string& text) = 0;
  // The copy-progress window, shown while books are copied and closed afterwards.
  virtual void ShowCopyProgress() = 0;
  virtual void CloseCopyProgress() = 0;
  // A problem the user is told about without stopping the migration (GBK).
  virtual void Report(const std::string& message) = 0;
};

// The older installation's folder from the registry, "" when there is none.
std::string ReadOlderInstallationPath(Registry& registry);

// True when `old` plainly is an older installation that may be deleted: it exists, holds a
// bookconfig.xml file, and is neither the root, a home folder, the installation folder nor one of
// the installation folder's ancestors (compared after resolving links).
bool IsDeletableOlderInstallation(std::string_view old, std::string_view app_dir);

// Takes over the books of the older installation `old`, then removes its shortcut, program menu
// folder, shared engine file and registry keys, and perhaps the folder itself.
//
// The older catalogue (old/bookconfig.xml, plain text) is read through a copy in Update/. Each
// book it names (any child element with a `dir`) that is neither in the installation nor
// waiting in Update/ is staged: its folder is copied whole to Update/<dir> and a one-book
// fragment naming it is written under a bookconfig*.xml name no file in Update/ has, so no
// pending fragment is ever replaced. `dir` may be a relative path of plain folder names (see
// IsPlainRelativePath); any other is reported and the book is not staged.
//
// The folder `old` is deleted only when its catalogue was read whole, every book in it is in the
// installation or waiting whole in Update/ (a book whose folder does not exist has nothing to
// take and is only reported), and IsDeletableOlderInstallation holds. Otherwise it stays with
// all its books and the user is told, book by book, what was not taken over and why, then that
// the folder was kept (ui.Report). When a write failed (a full disk, a folder that cannot be
// written) the registry keys stay too, so that the next start tries again; books staged by this
// run are then found waiting and not copied twice. Nothing here writes the installation's own
// catalogue. Returns the number of books staged by this run.
int MigrateOlderInstallation(std::string_view app_dir, std::string_view old,
                             Platform& platform, MigrationUi& ui);

// Number of files app_dir/Update/bookconfig*.xml (folders not counted).
int CountPendingCatalogues(std::string_view app_dir);
// True when at least one such file exists: the import has work to do.
bool HasPendingCatalogue(std::string_view app_dir);
// True when app_dir/relative is an existing folder.
bool DirectoryExistsInAppDir(std::string_view app_dir, std::string_view relative);

// Moves the catalogue entry with dir="99999" to the end of the book list of
// app_dir/bookconfig.xml, replacing the file atomically. False (file untouched) when the catalogue
// cannot be read, has no such entry or is incomplete, or cannot be written.
bool MoveSpecialBookLast(std::string_view app_dir);

}  // namespace tomeva

#endif  // TOMEVA_CORE_APP_MAINTENANCE_H_
