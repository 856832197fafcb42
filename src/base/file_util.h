// File helpers. Every file access of core goes through these. Paths are GBK byte strings as the
// library's files hold them; "\" is accepted as a separator (data written on Windows), and a path
// that does not exist exactly is resolved component by component without regard to ASCII case,
// because libraries are authored on case-insensitive file systems.
#ifndef TOMEVA_BASE_FILE_UTIL_H_
#define TOMEVA_BASE_FILE_UTIL_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

// Turns every "\" into "/". GBK-aware: a "\" that is the trail byte of a double-byte character
// is left alone.
std::string NormalizeSeparators(std::string_view path);

// The path to use on disk for `path`: separators normalised; if that does not exist, each
// component is looked up in its parent folder without regard to ASCII case. When some component
// cannot be found, the normalised path is returned unchanged (so that a create still goes there).
std::string ResolvePath(std::string_view path);

// Position of the last "/" or "\" in `path` (GBK-aware), or kNpos.
size_t LastSeparator(std::string_view path);

// Text after the last separator / before it (without it).
std::string BaseName(std::string_view path);
std::string DirName(std::string_view path);

// Joins a folder and a name with "/" unless the folder already ends in a separator.
std::string JoinPath(std::string_view dir, std::string_view name);

bool FileExists(std::string_view path);       // a regular file (after ResolvePath)
bool DirectoryExists(std::string_view path);  // a folder (after ResolvePath)

// Size caps for ReadWholeFile. The large one bounds files that legitimately run to many
// megabytes (record files, a PDF's text copy); the small one is for files that only ever hold a
// few lines (settings files, an index folder's stub), so that a planted giant costs nothing.
inline constexpr size_t kLargeFileLimit = size_t{512} << 20;  // 512 MiB
inline constexpr size_t kSmallFileLimit = size_t{1} << 20;    // 1 MiB

// Reads the whole file into `out` as bytes. Only a regular file is read: a folder, a FIFO, a
// device or a link to one (say /dev/zero) is refused without waiting for a writer or reading
// without end. A file of more than `max_bytes` bytes (also one that grows past it while being
// read) is refused whole, never read in part. Returns false (and leaves `out` empty) when the
// file cannot be opened or read, or is refused.
bool ReadWholeFile(std::string_view path, std::string* out, size_t max_bytes = kLargeFileLimit);

// As ReadWholeFile, but a symbolic link as the file itself is refused (errno ELOOP) rather than
// followed: for files a caller has looked at with lstat and must not read from elsewhere. The
// folders on the way are looked up as ReadWholeFile looks them up.
bool ReadWholeFileNoFollow(std::string_view path, std::string* out,
                           size_t max_bytes = kLargeFileLimit);

// A folder held open, so that what is read below it comes from the folder that was checked: a
// link or another folder put in its place by its path afterwards (a rename, a swap) changes
// nothing for the reads through it, and the entries are opened from it without following a
// link. Book packages in Update/ are read this way. Not copyable; closed by the destructor.
class OpenFolder {
 public:
  OpenFolder() = default;
  ~OpenFolder() { Close(); }
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;

  // Opens `root` (resolved as ResolvePath does; a link there is followed: it is the caller's own
  // folder), then each component of `relative` ("/" or "" between them, looked up without
  // regard to ASCII case when the exact name is missing) without following a link. False, with
  // errno ELOOP or ENOTDIR for a component that is a link or no folder and ENOENT for a missing
  // one, when the folder could not be opened so; EINVAL for a ".." component.
  bool Open(std::string_view root, std::string_view relative = {});
  // Opens the entry `name` (one name, no separator) of `parent` as a folder, not following a
  // link. False as Open.
  bool OpenChild(const OpenFolder& parent, std::string_view name);
  void Close();

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The names of the entries of an open folder (without "." and ".."), sorted by byte value. False
// when the folder cannot be read to its end, so that an unreadable folder is not taken for an
// empty one.
bool ListOpenFolder(const OpenFolder& folder, std::vector<std::string>* names);

// What lstat says the entry `name` of `folder` is (S_IFREG, S_IFDIR, S_IFLNK ...), or -1 when it
// cannot be looked at.
int EntryTypeAt(const OpenFolder& folder, std::string_view name);

// ReadWholeFile of the entry `name` (one name, no separator) of `folder`, opened from the open
// folder and never through a link: a link there, also one put in place of the file after the
// caller looked at it, is refused with errno ELOOP. The guarantees of ReadWholeFile hold: only a
// regular file, refused whole past `max_bytes`. A fault point of the reads (FaultSite::kFileRead,
// named by `name`).
bool ReadWholeFileAt(const OpenFolder& folder, std::string_view name, std::string* out,
                     size_t max_bytes = kLargeFileLimit);

struct WriteOptions {
  // Flush the file and its folder to disk before returning. Without it the replacement is still
  // atomic for every reader and against a killed process, only not against a power loss; bulk
  // writers (one record file per record) leave it off, since two disk flushes per file would
  // dominate an index build.
  bool sync = true;
  // Look the file name up without regard to ASCII case when the exact name does not exist. The
  // folder is always resolved so. Writers of files they name themselves turn this off: a lookup
  // lists the folder, which makes creating n new files in one folder cost n^2.
  bool resolve_case = true;
};

// Replaces the file's contents atomically: writes a temporary file in the same folder and renames
// it over `path`. Either the old or the new contents are there at every moment. Returns false,
// leaving the old file untouched, on any failure.
bool ReplaceFileAtomically(std::string_view path, std::string_view bytes,
                           const WriteOptions& options = {});

// Writes all of `bytes` to the open descriptor, going on after short writes and interruptions.
bool WriteAll(int fd, std::string_view bytes);

// Creates `path` holding `bytes`, flushed to disk, only when nothing of that name exists: the file
// appears whole or not at all, and of two processes creating it at once exactly one succeeds.
// False when the name exists already or on any failure. The path is used as given.
bool CreateFileExclusively(std::string_view path, std::string_view bytes);

// Renames a file or folder within one file system, replacing a file of the new name. False when
// it could not be renamed. Paths are used as given.
bool RenamePath(std::string_view from, std::string_view to);

// Flushes every written file of the file system that holds `dir` to disk. One call before a
// commit replaces a flush per file. False when it could not.
bool FlushFileSystem(std::string_view dir);

// Creates the folder and its missing parents. True when it exists afterwards.
bool MakeDirectories(std::string_view path);

// Names (not paths) of the entries of a folder, sorted by byte value; empty when unreadable.
std::vector<std::string> ListDirectory(std::string_view path);

// An exclusive advisory lock on an existing file or folder, held until destruction. Nothing is
// written, and the system drops the lock when the holding process ends, however it ends, so a
// killed holder never leaves it stuck. Locks are per lock object: a second lock on the same path
// fails even in the same process.
class FileLock {
 public:
  // Takes the lock without waiting: true when this object now holds it.
  bool TryLock(std::string_view path);
  void Unlock();
  bool held() const { return fd_ >= 0; }

  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace tomeva

#endif  // TOMEVA_BASE_FILE_UTIL_H_
