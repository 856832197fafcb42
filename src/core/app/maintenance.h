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

// Takes over the books of the older installation `old` (staged in Update/ with a one-book
// fragment each, for the import to merge), then removes its shortcut, program menu folder, shared
// engine file, registry keys and — only when IsDeletableOlderInstallation — the folder itself.
// Catalogue `dir` values that are not one plain folder name are reported and skipped. Every step
// ignores its own failure. Returns the number of books staged.
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
