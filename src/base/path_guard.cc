#include "base/path_guard.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "base/file_util.h"

namespace tomeva {
namespace {

bool HasControlByte(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The components of a "/"-separated path with "." and empty ones left out and each ".." taking
// the one before it away. False when a ".." has nothing left to take: the name climbs out.
// ("/" and "." cannot be GBK trail bytes, so a byte-wise split is safe after the separators have
// been normalised.)
bool LexicalComponents(std::string_view path, std::vector<std::string>* out) {
  out->clear();
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(pos, slash - pos);
    if (part == "..") {
      if (out->empty()) return false;
      out->pop_back();
    } else if (!part.empty() && part != ".") {
      out->emplace_back(part);
    }
    pos = slash + 1;
  }
  return true;
}

std::string JoinComponents(const std::vector<std::string>& parts, size_t from = 0) {
  std::string joined;
  for (size_t i = from; i < parts.size(); ++i) {
    if (!joined.empty()) joined += '/';
    joined += parts[i];
  }
  return joined;
}

std::optional<std::string> RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}

// The real path of `path`; for a name that does not exist, the real path of its deepest existing
// folder with the missing rest appended. A link whose target is missing is refused: it would lead
// wherever it points as soon as something appears there.
std::optional<std::string> RealPathLenient(const std::string& path) {
  if (auto real = RealPath(path)) return real;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return std::nullopt;  // there, but not resolvable
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    auto cwd = RealPath(".");
    if (!cwd) return std::nullopt;
    return *cwd + "/" + path;
  }
  const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  auto real_parent = RealPathLenient(parent);
  if (!real_parent) return std::nullopt;
  const std::string name = path.substr(slash + 1);
  if (name.empty()) return real_parent;
  return (*real_parent == "/" ? "" : *real_parent) + "/" + name;
}

// True when `real` is `base` or lies below it (both real paths).
bool Within(const std::string& real, const std::string& base) {
  if (real == base) return true;
  if (base == "/") return true;
  return real.size() > base.size() && real.compare(0, base.size(), base) == 0 &&
         real[base.size()] == '/';
}

// The setting a station's owner writes; TOMEVA_LIBRARY_ROOTS_FILE points tests elsewhere.
constexpr char kLibraryRootsFile[] = "/etc/tomeva/library-roots";
constexpr char kLibraryRootsVariable[] = "TOMEVA_LIBRARY_ROOTS_FILE";

// The system's own folders: what is in them is the machine's, never a library's.
constexpr std::string_view kSystemFolders[] = {"/etc",  "/proc", "/sys", "/dev",  "/usr", "/var",
                                               "/boot", "/run",  "/bin", "/sbin", "/root"};

std::mutex roots_mutex;
bool roots_loaded = false;              // guarded by roots_mutex
std::vector<std::string> chosen_roots;  // guarded by roots_mutex

// True when `ancestor` is `path` or one of its ancestors (both absolute and clean).
bool IsAncestorOrSelf(std::string_view ancestor, std::string_view path) {
  return Within(std::string(path), std::string(ancestor));
}

// /lib and its kin (/lib32, /lib64, /libx32, /libo32): "lib", then optionally one letter and
// digits. A folder such as /library is not one of them.
bool IsLibraryFolderOfTheSystem(std::string_view name) {
  if (name.substr(0, 3) != "lib") return false;
  std::string_view rest = name.substr(3);
  if (rest.empty()) return true;
  if (rest[0] >= 'a' && rest[0] <= 'z') rest.remove_prefix(1);
  return !rest.empty() &&
         std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* entry = ::getpwuid(::geteuid());
    home = entry != nullptr ? entry->pw_dir : nullptr;
  }
  if (home == nullptr || *home == '\0') return std::string();
  return RealPath(home).value_or(std::string(home));
}

std::vector<std::string> UsableRoots(const std::vector<std::string>& folders) {
  std::vector<std::string> usable;
  for (const std::string& folder : folders) {
    if (folder.empty() || folder[0] != '/' || HasControlByte(folder)) continue;
    // Judged by what the folder is now; a folder not there yet (a share not mounted) by its name.
    if (!MayHoldLibrary(RealPath(folder).value_or(folder))) continue;
    usable.push_back(folder);
  }
  return usable;
}

std::optional<std::string> Resolve(std::string_view root, std::string_view relative, bool library) {
  if (HasControlByte(relative) || HasControlByte(root)) return std::nullopt;
  const std::string norm = NormalizeSeparators(relative);
  if (norm.empty() || norm[0] == '/' || norm.find(':') != std::string::npos) return std::nullopt;
  std::vector<std::string> parts;
  if (!LexicalComponents(norm, &parts) || parts.empty()) return std::nullopt;

  const std::string root_path = ResolvePath(root);
  auto root_real = RealPath(root_path.empty() ? std::string(".") : root_path);
  if (!root_real) return std::nullopt;
  const std::string resolved = ResolvePath(JoinPath(root_path, JoinComponents(parts)));

  std::string base = *root_real;
  if (library) {
    // The top-level entry the name starts with decides: on a station it is a link to the shared
    // library's entry of that name. When it does not exist, neither does the name, and the
    // root's own real path decides.
    if (auto top = RealPath(ResolvePath(JoinPath(root_path, parts[0])))) {
      if (!IsAllowedTopLevelTarget(*top, *root_real)) return std::nullopt;
      base = *top;
    }
  }
  auto real = RealPathLenient(resolved);
  if (!real || !Within(*real, base)) return std::nullopt;
  return resolved;
}

}  // namespace

std::optional<std::string> ResolveInside(std::string_view root, std::string_view relative) {
  return Resolve(root, relative, false);
}

std::optional<std::string> ResolveInsideLibrary(std::string_view library_root,
                                                std::string_view relative) {
  return Resolve(library_root, relative, true);
}

std::optional<std::string> ResolvePageInside(std::string_view root, std::string_view relative,
                                             bool library) {
  // "#" and "?" are below 0x40, so neither is ever the trail byte of a GBK character.
  const size_t cut = relative.find_first_of("#?");
  const std::string_view file = relative.substr(0, cut);
  auto resolved = Resolve(root, file, library);
  if (!resolved) return std::nullopt;
  if (cut != std::string_view::npos) resolved->append(relative.substr(cut));
  return resolved;
}

bool IsInsideLibrary(const std::vector<std::string>& roots, std::string_view path) {
  if (path.empty() || path[0] != '/' || HasControlByte(path)) return false;
  std::vector<std::string> parts;
  if (!LexicalComponents(path, &parts) || parts.empty()) return false;
  const std::string lexical = "/" + JoinComponents(parts);

  bool under_a_root = false;
  for (const std::string& root : roots) {
    if (root.empty() || HasControlByte(root)) continue;
    std::vector<std::string> root_parts;
    const std::string root_norm = NormalizeSeparators(root);
    if (root_norm[0] != '/' || !LexicalComponents(root_norm, &root_parts)) continue;
    auto root_real = RealPath(root_norm);
    if (!root_real) continue;
    std::vector<std::string> real_parts;
    LexicalComponents(*root_real, &real_parts);
    // The path as the program names its pages: under the root as written, or as resolved.
    for (const std::vector<std::string>* prefix : {&root_parts, &real_parts}) {
      if (parts.size() <= prefix->size()) continue;
      if (!std::equal(prefix->begin(), prefix->end(), parts.begin())) continue;
      under_a_root = true;
      if (ResolveInsideLibrary("/" + JoinComponents(*prefix),
                               JoinComponents(parts, prefix->size())))
        return true;
    }
  }
  // Under a root by name but refused there: a link inside a book that leads out of it.
  if (under_a_root) return false;
  // A path that names the shared library's own files directly (a page's address as the file
  // system resolved it): inside when it really lies under a root or under the target of one of
  // the root's top-level links.
  auto real = RealPathLenient(lexical);
  if (!real) return false;
  for (const std::string& root : roots) {
    if (root.empty()) continue;
    auto root_real = RealPath(NormalizeSeparators(root));
    if (!root_real) continue;
    if (Within(*real, *root_real)) return true;
    for (const std::string& name : ListDirectory(*root_real)) {
      const std::string entry = JoinPath(*root_real, name);
      struct stat st;
      if (::lstat(entry.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
      auto target = RealPath(entry);
      if (target && Within(*real, *target) && IsAllowedTopLevelTarget(*target, *root_real)) {
        return true;
      }
    }
  }
  return false;
}

std::vector<std::string> LoadChosenLibraryRoots() {
  const char* named = std::getenv(kLibraryRootsVariable);
  const std::string file = named != nullptr && *named != '\0' ? named : kLibraryRootsFile;
  std::string text;
  if (!ReadWholeFile(file, &text, kSmallFileLimit)) return {};
  std::vector<std::string> folders;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    folders.push_back(line.substr(first));
  }
  return UsableRoots(folders);
}

std::vector<std::string> ChosenLibraryRoots() {
  std::lock_guard<std::mutex> lock(roots_mutex);
  if (!roots_loaded) {
    chosen_roots = LoadChosenLibraryRoots();
    roots_loaded = true;
  }
  return chosen_roots;
}

void SetChosenLibraryRoots(const std::vector<std::string>& folders) {
  std::vector<std::string> usable = UsableRoots(folders);
  std::lock_guard<std::mutex> lock(roots_mutex);
  chosen_roots = std::move(usable);
  roots_loaded = true;
}

bool MayHoldLibrary(std::string_view real) {
  if (real.empty() || real[0] != '/' || HasControlByte(real)) return false;
  std::vector<std::string> parts;
  if (!LexicalComponents(real, &parts) || parts.empty()) return false;  // "/" itself
  const std::string path = "/" + JoinComponents(parts);
  for (std::string_view system : kSystemFolders) {
    if (IsAncestorOrSelf(path, system) || IsAncestorOrSelf(system, path)) return false;
  }
  if (IsLibraryFolderOfTheSystem(parts[0])) return false;
  // The users' folders themselves: a choice there would hand a page everything in them.
  if (IsAncestorOrSelf(path, "/home")) return false;
  const std::string home = HomeFolder();
  return home.empty() || !IsAncestorOrSelf(path, home);
}

bool IsAllowedTopLevelTarget(std::string_view target_real, std::string_view library_real) {
  const std::string target(target_real);
  if (!library_real.empty() && Within(target, std::string(library_real))) return true;
  if (!MayHoldLibrary(target)) return false;
  for (const std::string& root : ChosenLibraryRoots()) {
    auto root_real = RealPath(root);
    if (root_real && MayHoldLibrary(*root_real) && Within(target, *root_real)) return true;
  }
  return false;
}

}  // namespace tomeva
