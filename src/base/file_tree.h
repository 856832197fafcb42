// File-tree operations of the application: copying a book's folder into the installation and
// emptying folders. Paths are GBK byte strings; "\" is accepted as a separator and paths are
// resolved as base/file_util resolves them. Symbolic links are never followed: a link met
// while copying is left out, a link met while deleting is removed itself, never its target.
#ifndef TOMEVA_BASE_FILE_TREE_H_
#define TOMEVA_BASE_FILE_TREE_H_

#include <string>
#include <string_view>
#include <vector>

#include "base/file_util.h"

namespace tomeva {

// True when `name` can be used as one folder inside the library: valid GBK (base/gbk.h), not
// empty, no "/" or "\", no ":" (a drive), no "?", no "..", no control byte. Every `dir` value
// read from a fragment in Update/ is checked with this (a catalogue's with IsPlainRelativePath)
// before it is joined to a path, so that no such value can make the system copy, write or delete
// outside the library. A byte that is not GBK could hide a separator after it from this check;
// "?" is what the XML reader puts in place of such a byte (and no file name written on Windows
// holds one), so a name it repaired is refused here, never used as repaired.
bool IsPlainFolderName(std::string_view name);

// True when `path` leads to a folder inside the library through plain folder names only: one or
// more components, each IsPlainFolderName, joined by single "/" or "\" (GBK-aware: a "\" that is
// the trail byte of a character is part of that character). Libraries written on Windows keep
// books in sub-folders such as "books\tang". Refused: a path that is not valid GBK, the empty
// path, a leading separator (an absolute path), an empty component (a trailing or doubled
// separator), "." and "..", ":" (a drive), "?" and control bytes anywhere.
//
// The check reads the text only, never the disk, so a folder link inside the library is used like
// any folder for reading: an owner may keep some books on another disk that way. Writing or
// deleting through one is what could harm, and the helpers below never do it: a delete removes a
// link itself, never its target, a copy leaves out the links it meets inside its source, and a
// copy refuses a target folder reached through a link.
bool IsPlainRelativePath(std::string_view path);

// Copies one file's bytes, replacing the target. The copy goes to a temporary file in the target
// folder that is flushed to disk and renamed over the target, so a target is never left
// half-written. True on success.
bool CopyFileReplacing(std::string_view source, std::string_view target);
// The same for the entry `name` of an open folder, opened from it without following a link (a
// link put in place of the file after the caller looked at it fails the copy). A fault point of
// the writes (FaultSite::kFileWrite, named by `name`).
bool CopyFileReplacing(const OpenFolder& folder, std::string_view name, std::string_view target);

// Copies one file only when the target does not exist (an existing file, even one created
// meanwhile, is never overwritten). True when the copy was made.
bool CopyFileNoOverwrite(std::string_view source, std::string_view target);

// Makes sure that app_dir/relative is a folder reached from app_dir through real folders only:
// each component is looked up as ResolvePath does (ASCII case ignored when the exact name is
// missing) and created when missing; an existing component that is a symbolic link, a file or
// anything but a folder is a failure, so that nothing written below the result can land outside
// the installation. `relative` must be IsPlainRelativePath. On success `*resolved` (may be null)
// gets the folder's path as it is on disk.
bool MakeFolderInAppDir(std::string_view app_dir, std::string_view relative,
                        std::string* resolved = nullptr);

// True when every component of `relative` below `root` that exists is a real folder (no symbolic
// link, no file): what MakeFolderInAppDir would accept, without creating anything. Components are
// looked up as ResolvePath does.
bool HasNoLinkBelow(std::string_view root, std::string_view relative);

// For each entry of `source`: a folder is created as app_dir/relative_target/<name> and copied
// recursively; a regular file is copied to app_dir/relative_target/<name>, replacing it. The
// target folder itself is created when missing (MakeFolderInAppDir: never through a link).
// Symbolic links in the source, at any depth, are neither followed nor copied; when
// `links_skipped` is given, each one's path relative_target/<...>/<name> is added to it. Devices,
// FIFOs and sockets are left out silently. Returns true when every other entry was copied; a
// source folder (at any depth) that cannot be listed, or a target that passes a link, is a
// failure, never an empty folder.
bool CopyTreeIntoAppDir(std::string_view app_dir, std::string_view source,
                        std::string_view relative_target,
                        std::vector<std::string>* links_skipped = nullptr);
// The same from an open folder (base/file_util.h): every entry, at any depth, is looked at and
// opened from the folder it lies in, never by its path again, so a file or folder swapped for a
// link after it was looked at fails the copy instead of bringing in what the link names.
bool CopyTreeIntoAppDir(std::string_view app_dir, const OpenFolder& source,
                        std::string_view relative_target,
                        std::vector<std::string>* links_skipped = nullptr);

// Removes everything inside `directory` (files, links, folders with their contents); the folder
// itself stays for the caller to remove. True when it is empty afterwards.
bool DeleteTree(std::string_view directory);

// Removes an (empty) folder. True when it is gone.
bool RemoveDirectory(std::string_view directory);

// Removes a file. True when it is gone (also when it never existed).
bool RemoveFile(std::string_view path);

}  // namespace tomeva

#endif  // TOMEVA_BASE_FILE_TREE_H_
