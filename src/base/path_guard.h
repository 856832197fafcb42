// Keeping names from library files inside the library. A chapter.xml `htm` or `pdf`, a record's
// `FdHtmlFile`, a link a page follows: each is outside input that names a file, and each is turned
// into a path only through these functions, which refuse a name that would lead elsewhere.
//
// Paths are GBK byte strings; "\" is accepted as a separator and a component is looked up without
// regard to ASCII case, as the file helpers do. Nothing here writes; every function may run on any
// thread.
//
// Two kinds of root:
//  - a book's folder (ResolveInside): everything must stay under the folder's real path, so a
//    symbolic link inside a book that points out of it is refused. The book folder itself may be a
//    link (its real path is the root).
//  - the library or installation folder (ResolveInsideLibrary, IsInsideLibrary): a reading-room
//    station's installation folder holds symbolic links to the top-level entries of a shared
//    library, so there a name is inside when it stays under the real path of the root's top-level
//    entry it starts with (a book folder, home.htm, ...). Those top-level links are made by whoever
//    set up the station; a book package cannot add one (the import leaves links out). A library
//    copied from elsewhere can hold one all the same, so a top-level link counts only when it
//    leads into the library folder itself or into a library root the machine's owner chose
//    (IsAllowedTopLevelTarget below); any other (say "etc -> /etc") leads nowhere.
//
// Missing files: a name that is lexically inside and whose deepest existing folder is really
// inside is accepted even when the file itself does not exist, so that callers can still say
// "this page is missing" for it. A root that does not exist accepts nothing.
#ifndef TOMEVA_BASE_PATH_GUARD_H_
#define TOMEVA_BASE_PATH_GUARD_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

// The path of `relative` under the folder `root`, as the file helpers would open it (separators
// normalised, letter case resolved where the exact name does not exist), or nullopt when
// `relative` is refused:
//  - empty, or naming the root itself ("", ".", "a/..");
//  - absolute ("/x", "\x", "\\server\share");
//  - holding ":" anywhere (a drive letter "C:", a scheme "file:", "http:", "javascript:");
//  - holding a control byte (below 0x20, or 0x7F; NUL included);
//  - a ".." that climbs above `root` ("../x", "a/../../x"), counted lexically; a ".." inside the
//    name that stays below the root is allowed ("a/../b" is "b");
//  - its real path (symbolic links resolved; for a missing file, that of its deepest existing
//    folder) not under the real path of `root`.
std::optional<std::string> ResolveInside(std::string_view root, std::string_view relative);

// As ResolveInside with `library_root` as the root, except that the real-path test is made against
// the real path of the root's top-level entry that `relative` starts with (see above); a name
// through a top-level link whose target IsAllowedTopLevelTarget refuses is refused.
std::optional<std::string> ResolveInsideLibrary(std::string_view library_root,
                                                std::string_view relative);

// As ResolveInside (or, with `library`, ResolveInsideLibrary) for a page address that may carry a
// "#fragment" or "?query": the part from the first "#" or "?" is left out of the check and put
// back after the resolved path unchanged.
std::optional<std::string> ResolvePageInside(std::string_view root, std::string_view relative,
                                             bool library = false);

// True when the absolute path `path` (a page the web view is about to show, a file a link names)
// lies inside one of `roots` (the installation folder and the library folder; empty roots are
// skipped) by the library rule above. `path` is normalised lexically first ("." and ".." taken
// out); a "#" or "?" part is not allowed here (pass a file path). False for a relative path, a
// control byte or a path that leaves every root. This is the one question a view asks before it
// lets a page or link reach a local file.
bool IsInsideLibrary(const std::vector<std::string>& roots, std::string_view path);

// The library roots: folders the machine's owner chose as holding libraries (a reading room's
// shared folder, mounted on each station), one absolute path per line in the file named by
// $TOMEVA_LIBRARY_ROOTS_FILE, else /etc/tomeva/library-roots. Blank lines and lines that begin
// with "#" are skipped, as are relative paths and folders that MayHoldLibrary refuses. Read on the
// first call of ChosenLibraryRoots unless SetChosenLibraryRoots came first; a missing or
// unreadable file means none (every top-level link then has to stay inside its library).
std::vector<std::string> LoadChosenLibraryRoots();
// The library roots in use (as given, not resolved: a share mounted later counts once it is
// there). Any thread.
std::vector<std::string> ChosenLibraryRoots();
// Replaces the library roots in use (for tests). The folders are filtered as
// LoadChosenLibraryRoots filters the file's lines. Any thread.
void SetChosenLibraryRoots(const std::vector<std::string>& folders);

// False for the folders no library may be or hold, so that no choice and no link can open them
// to a page: "/", the system's folders and everything in them (/etc, /proc, /sys, /dev, /usr,
// /var, /boot, /run, /bin, /sbin, /lib*, /root), /home and the user's home folder themselves
// ($HOME; the folders in them are the user's to choose), and every ancestor of one of these. `real`
// is a real path (links resolved); a relative path is refused.
bool MayHoldLibrary(std::string_view real);

// True when a top-level link of the library folder whose real path is `library_real` may lead to
// `target_real` (the link's real path): the target lies inside the library folder itself, or
// inside one of the chosen library roots (each taken by its real path) and MayHoldLibrary allows
// it. Any thread.
bool IsAllowedTopLevelTarget(std::string_view target_real, std::string_view library_real);

}  // namespace tomeva

#endif  // TOMEVA_BASE_PATH_GUARD_H_
