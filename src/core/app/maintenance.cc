#include "core/app/maintenance.h"

#include <pwd.h>
#include <sys/types.h>

#include <cstdlib>
#include <set>

#include "core/base/file_tree.h"
#include "core/base/file_util.h"
#include "core/base/mbstring.h"
#include "core/base/texts.h"
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
  const std::string update = JoinPath(app, "Update");
  ui.ShowMessage(Text(kTextMigrationNotice));

  platform.KillProcessByName("Harbexon.exe");
  platform.KillProcessByName("start.exe");
  platform.KillProcessByName("end.exe");

  // The older catalogue is staged under a bookconfig<N>.xml name that no pending fragment uses,
  // so that a fragment already waiting there is never overwritten and then deleted.
  MakeDirectories(update);
  int n = CountPendingCatalogues(app);
  std::string staged;
  for (;; ++n) {
    staged = JoinPath(update, "bookconfig" + std::to_string(n) + ".xml");
    if (!FileExists(staged) && !DirectoryExists(staged)) break;
  }
  CopyFileReplacing(JoinPath(old_dir, "bookconfig.xml"), staged);
  CXmlDocument older;
  older.Load(staged);

  ui.ShowCopyProgress();
  int staged_books = 0;
  for (CXmlNode* book = older.root().first_child(); book != nullptr;
       book = book->next_sibling()) {
    const std::string dir = AttributeOf(*book, "dir");
    if (dir.empty()) continue;
    if (!IsPlainFolderName(dir)) {
      ui.Report(TextWith(kTextBadBookDir, dir));
      continue;
    }
    if (DirectoryExists(JoinPath(app, dir)) || DirectoryExists(JoinPath(update, dir))) continue;
    MakeDirectories(JoinPath(update, dir));
    CopyTreeIntoAppDir(app, JoinPath(old_dir, dir), JoinPath("Update", dir));
    if (WriteScrambledFile(JoinPath(update, "bookconfig" + dir + ".xml"),
                           BuildFragmentText(dir, AttributeOf(*book, "name")))) {
      ++staged_books;
    }
  }
  ui.CloseCopyProgress();
  RemoveFile(staged);

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
  if (IsDeletableOlderInstallation(old_dir, app)) {
    DeleteTree(old_dir);
    RemoveDirectory(old_dir);
  } else if (DirectoryExists(old_dir)) {
    ui.Report(TextWith(kTextOldInstallationKept, old_dir));
  }
  const std::string system = platform.SystemFolder();
  if (!system.empty()) RemoveFile(JoinPath(system, "kestcore.dll"));
  platform.registry().DeleteKey(RegRoot::kLocalMachine, kRegOldInstallation);
  platform.registry().DeleteKey(RegRoot::kLocalMachine, kRegOldUninstall);
  return staged_books;
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
