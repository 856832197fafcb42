#include "core/app/maintenance.h"

#include <pwd.h>
#include <sys/types.h>

#include <cstdlib>
#include <set>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/mbstring.h"
#include "base/texts.h"
#include "core/import/book_import.h"
#include "core/library/catalogue_edit.h"
#include "core/xml/text_scrambler.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

std::string RealPath(std::string_view path) {
  std::string p = ResolvePath(path);
  char* real = ::realpath(p.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string out(real);
  std::free(real);
  return out;
}

// `dir` equals `other` or is one of its ancestors (both real paths).
bool IsSameOrAncestor(const std::string& dir, const std::string& other) {
  if (dir == other) return true;
  if (dir == "/") return true;
  return other.size() > dir.size() && StartsWith(other, dir) && other[dir.size()] == '/';
}

std::set<std::string> HomeFolders() {
  std::set<std::string> homes;
  if (const char* home = std::getenv("HOME")) {
    std::string real = RealPath(home);
    if (!real.empty()) homes.insert(real);
  }
  ::setpwent();
  while (passwd* entry = ::getpwent()) {
    if (entry->pw_dir == nullptr) continue;
    std::string real = RealPath(entry->pw_dir);
    if (!real.empty()) homes.insert(real);
  }
  ::endpwent();
  return homes;
}

std::string AttributeOf(const CXmlNode& node, const char* name) {
  auto it = node.attributes().find(name);
  return it == node.attributes().end() ? std::string() : it->second;
}

// What taking over the older installation's books came to.
struct TakeOver {
  bool catalogue_read = false;
  // Every book is in the library, waiting whole in Update/, or had no files to take.
  bool all_taken = true;
  // Something failed to be written: another start may succeed where this one did not.
  bool retry_may_help = false;
  int staged = 0;  // books staged by this run

  bool complete() const { return catalogue_read && all_taken; }
  void Failed(bool write_failed) {
    all_taken = false;
    retry_may_help = retry_may_help || write_failed;
  }
};

// The name of the book for a message: its catalogue name, or its folder when it has none.
std::string BookLabel(const std::string& name, const std::string& dir) {
  return name.empty() ? dir : name;
}

// Removes a folder this run made in Update/ and could not finish, so that it is not taken for a
// book waiting there. False when some of it is still there.
bool RemoveStagedFolder(const std::string& path) {
  if (!DirectoryExists(path)) return true;
  const std::string resolved = ResolvePath(path);
  return DeleteTree(resolved) && RemoveDirectory(resolved);
}

// Writes the book's fragment under a bookconfig*.xml name that nothing in Update/ has yet, so
// that a fragment already waiting there is never replaced. A folder path gives a flat name
// ("books\tang" -> bookconfigbooks_tang.xml).
bool CreateFragment(const std::string& update, const std::string& dir, const std::string& name) {
  std::string flat = NormalizeSeparators(dir);
  for (char& c : flat) {
    if (c == '/') c = '_';  // "/" is never the trail byte of a GBK character
  }
  const std::string bytes = ScrambleCatalogueText(BuildFragmentText(dir, name));
  for (int n = 1; n <= 1000; ++n) {
    const std::string file =
        JoinPath(update, "bookconfig" + flat + (n == 1 ? "" : "_" + std::to_string(n)) + ".xml");
    if (FileExists(file) || DirectoryExists(file)) continue;
    if (CreateFileExclusively(file, bytes)) return true;
    // Only a name taken in the meantime is worth another try.
    if (!FileExists(file)) return false;
  }
  return false;
}

// Stages one book of the older installation: its folder is copied to Update/<dir>.migrating,
// renamed to Update/<dir> once whole, and then its fragment is written. The rename makes
// Update/<dir> appear complete or not at all, so a later start that finds it takes it for a
// book waiting whole; a copy cut short by a crash stays under the staging name and is redone.
void StageBook(const std::string& app, const std::string& old_dir, const std::string& dir,
               const std::string& name, MigrationUi& ui, TakeOver* take_over) {
  const std::string update = JoinPath(app, "Update");
  const std::string source = JoinPath(old_dir, dir);
  const std::string label = BookLabel(name, dir);
  if (!DirectoryExists(source)) {
    if (FileExists(source)) {
      // Something is there that is not a book folder; it is not copied, so it must stay.
      ui.Report(TextWith(kTextOlderBookNotCopied, {label, dir}));
      take_over->Failed(false);
    } else {
      ui.Report(TextWith(kTextOlderBookMissing, {label, dir}));
    }
    return;
  }
  const std::string relative = NormalizeSeparators(dir);
  const std::string staging_relative = JoinPath("Update", relative + ".migrating");
  const std::string staging = JoinPath(app, staging_relative);
  bool whole = RemoveStagedFolder(staging) && CopyTreeIntoAppDir(app, source, staging_relative);
  if (whole) {
    const std::string staged = ResolvePath(staging);
    // Renamed within the folder the copy went to, whatever case its parents have on disk.
    whole = RenamePath(staged, JoinPath(DirName(staged), BaseName(relative)));
  }
  if (!whole) {
    RemoveStagedFolder(staging);
    ui.Report(TextWith(kTextOlderBookNotCopied, {label, dir}));
    take_over->Failed(true);
    return;
  }
  if (!CreateFragment(update, dir, name)) {
    // Without its fragment the folder would wait in Update/ for nothing, and a later start
    // would take it for staged: it goes, and the book stays in the older folder.
    RemoveStagedFolder(JoinPath(update, dir));
    ui.Report(TextWith(kTextOlderBookNotCopied, {label, dir}));
    take_over->Failed(true);
    return;
  }
  ++take_over->staged;
}

// Reads the older catalogue through a copy in Update/ and stages each of its books that the
// library does not have yet.
TakeOver TakeOverBooks(const std::string& app, const std::string& old_dir, MigrationUi& ui) {
  TakeOver take_over;
  const std::string update = JoinPath(app, "Update");
  const std::string catalogue = JoinPath(old_dir, "bookconfig.xml");
  // The copy's name is not a fragment's (bookconfig*.xml): should a start stop before it is
  // removed, the import does not take the older catalogue for a book waiting.
  const std::string copy = JoinPath(update, "older-bookconfig.xml");
  if (!MakeDirectories(update) || !CopyFileReplacing(catalogue, copy)) {
    ui.Report(TextWith(kTextOlderCatalogueNotCopied, catalogue));
    take_over.Failed(true);
    return take_over;
  }
  std::string text;
  CXmlDocument older;
  const bool read = ReadWholeFile(copy, &text);
  // A catalogue cut short parses in part; a book it still names is not worth the risk that
  // the rest of the list is lost, so a catalogue that does not parse whole stages nothing.
  if (!read || older.ParseText(text) != 1) {
    ui.Report(TextWith(kTextOlderCatalogueUnreadable, catalogue));
    take_over.Failed(!read);
    RemoveFile(copy);
    return take_over;
  }
  take_over.catalogue_read = true;
  // Every child element of the older catalogue names a book, whatever its tag.
  for (CXmlNode* book = older.root().first_child(); book != nullptr; book = book->next_sibling()) {
    const std::string dir = AttributeOf(*book, "dir");
    if (dir.empty()) continue;
    if (!IsPlainRelativePath(dir)) {
      // Such a folder may even lie inside the older installation: it is not copied, so the
      // installation is not deleted either.
      ui.Report(TextWith(kTextBadBookDir, dir));
      take_over.Failed(false);
      continue;
    }
    // Already in the library, or already waiting for the import.
    if (DirectoryExists(JoinPath(app, dir)) || DirectoryExists(JoinPath(update, dir))) continue;
    StageBook(app, old_dir, dir, AttributeOf(*book, "name"), ui, &take_over);
  }
  // A copy left behind is not a fragment and is replaced by the next migration.
  RemoveFile(copy);
  return take_over;
}

}  // namespace

std::string ReadOlderInstallationPath(Registry& registry) {
  return registry.ReadRegString(RegRoot::kLocalMachine, kRegOldInstallation, "AppPath", "");
}

bool IsDeletableOlderInstallation(std::string_view old, std::string_view app_dir) {
  const std::string real_old = RealPath(old);
  if (real_old.empty() || real_old == "/") return false;
  if (!DirectoryExists(real_old) || !FileExists(JoinPath(real_old, "bookconfig.xml"))) return false;
  const std::string real_app = RealPath(app_dir);
  if (real_app.empty() || IsSameOrAncestor(real_old, real_app)) return false;
  if (HomeFolders().count(real_old)) return false;
  return true;
}

int MigrateOlderInstallation(std::string_view app_dir, std::string_view old,
                             Platform& platform, MigrationUi& ui) {
  const std::string app(app_dir);
  const std::string old_dir(old);
  ui.ShowMessage(Text(kTextMigrationNotice));

  // Only the older installation's own programs: a program of the same name elsewhere, or another
  // user's, keeps running.
  platform.KillProcessByName("Harbexon.exe", old_dir);
  platform.KillProcessByName("start.exe", old_dir);
  platform.KillProcessByName("end.exe", old_dir);

  ui.ShowCopyProgress();
  TakeOver take_over;
  // A folder without a catalogue is not recognisably an older installation: nothing is taken
  // from it, and the check before deleting keeps it.
  if (FileExists(JoinPath(old_dir, "bookconfig.xml"))) {
    take_over = TakeOverBooks(app, old_dir, ui);
  }
  ui.CloseCopyProgress();

  // Names of the desktop's own files are UTF-8.
  const std::string desktop = platform.DesktopFolder();
  if (!desktop.empty()) {
    RemoveFile(JoinPath(desktop, "Lumq数据库系统.lnk"));
  }
  const std::string programs = platform.ProgramsFolder();
  if (!programs.empty()) {
    const std::string menu = JoinPath(programs, "Lumq书局");
    if (DirectoryExists(menu)) {
      DeleteTree(menu);
      RemoveDirectory(menu);
    }
  }
  // The shortcut, the menu and the engine file above belong to the older program, not to its
  // books: one left behind costs nothing, so their removal is not checked. The older folder is
  // another matter: it goes only when every book in it is in the library or waiting whole in
  // Update/.
  if (!DirectoryExists(old_dir)) {
    // Nothing there to keep or delete.
  } else if (!IsDeletableOlderInstallation(old_dir, app)) {
    ui.Report(TextWith(kTextOldInstallationKept, old_dir));
  } else if (!take_over.complete()) {
    ui.Report(TextWith(
        take_over.retry_may_help ? kTextOlderInstallationRetry : kTextOlderInstallationIncomplete,
        old_dir));
  } else if (!DeleteTree(old_dir) || !RemoveDirectory(old_dir)) {
    ui.Report(TextWith(kTextOlderInstallationNotRemoved, old_dir));
  }
  const std::string system = platform.SystemFolder();
  if (!system.empty()) RemoveFile(JoinPath(system, "kestcore.dll"));
  // The registry entry is what makes the next start migrate again. It stays while another try
  // could take over what a failed write left behind; a damaged catalogue or a refused folder
  // would fail the same way at every start, so then it goes and the folder stays for the user.
  // A key that cannot be deleted only means one more migration that finds nothing to do.
  if (!take_over.retry_may_help) {
    platform.registry().DeleteKey(RegRoot::kLocalMachine, kRegOldInstallation);
    platform.registry().DeleteKey(RegRoot::kLocalMachine, kRegOldUninstall);
  }
  return take_over.staged;
}

int CountPendingCatalogues(std::string_view app_dir) {
  return static_cast<int>(ListPendingCatalogues(app_dir).size());
}

bool HasPendingCatalogue(std::string_view app_dir) {
  return !ListPendingCatalogues(app_dir).empty();
}

bool DirectoryExistsInAppDir(std::string_view app_dir, std::string_view relative) {
  return DirectoryExists(JoinPath(app_dir, relative));
}

bool MoveSpecialBookLast(std::string_view app_dir) {
  const std::string path = JoinPath(app_dir, "bookconfig.xml");
  std::string plain;
  if (!ReadScrambledFile(path, &plain)) return false;
  // The text ends at its first NUL, as the reader of the catalogue sees it.
  size_t nul = plain.find('\0');
  if (nul != std::string::npos) plain.resize(nul);
  std::optional<std::string> moved = MoveSpecialBookLastText(plain);
  if (!moved) return false;
  if (*moved == plain) return true;
  return WriteScrambledFile(path, *moved);
}

}  // namespace tomeva
