#include "base/file_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/fault_injection.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"

namespace tomeva {
namespace {

// Streams `in` into `out`; false on a read or write error.
bool CopyStream(int in, int out) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (!WriteAll(out, std::string_view(buffer.data(), static_cast<size_t>(n)))) return false;
  }
}

// Opens a regular file to copy from, never through a link: `name` below the open folder `dir_fd`
// (AT_FDCWD: a path). O_NONBLOCK so that a FIFO put in its place does not wait for a writer; -1
// for anything but a regular file.
int OpenSourceAt(int dir_fd, const std::string& name) {
  int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Copies the open file `in` (closed here) to `target` through a flushed temporary file renamed
// over it.
bool CopyOpenedFile(int in, std::string_view target) {
  const std::string to = ResolvePath(target);
  const std::string dir = DirName(to);
  std::string tmpl = JoinPath(dir.empty() ? "." : dir, "." + BaseName(to) + ".copyXXXXXX");
  std::vector<char> tmp(tmpl.begin(), tmpl.end());
  tmp.push_back('\0');
  int out = ::mkstemp(tmp.data());
  if (out < 0) {
    ::close(in);
    return false;
  }
  ::fchmod(out, 0644);
  // Flushed before the rename: a copy that replaced a file is complete on disk, so a book's
  // files can be relied on before its catalogue entry is written.
  bool ok = CopyStream(in, out) && ::fsync(out) == 0;
  ok = ::close(out) == 0 && ok;
  ::close(in);
  if (ok && ::rename(tmp.data(), to.c_str()) == 0) return true;
  ::unlink(tmp.data());
  return false;
}

}  // namespace

bool IsPlainFolderName(std::string_view name) {
  if (name.empty() || name == ".") return false;
  if (name.find("..") != std::string_view::npos) return false;
  if (!IsValidGbk(name)) return false;
  for (size_t pos = 0; pos < name.size();) {
    size_t len = GbkCharLen(name, pos);
    if (len == 1) {
      unsigned char c = static_cast<unsigned char>(name[pos]);
      if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == kGbkStandIn) {
        return false;
      }
    }
    pos += len;
  }
  return true;
}

bool IsPlainRelativePath(std::string_view path) {
  // Checked first: the walk below takes a lone lead byte and a "/" after it for one character.
  if (!IsValidGbk(path)) return false;
  size_t start = 0;
  for (size_t pos = 0; pos <= path.size();) {
    const bool end = pos == path.size();
    const size_t len = end ? 1 : GbkCharLen(path, pos);
    if (end || (len == 1 && (path[pos] == '/' || path[pos] == '\\'))) {
      // An empty component (leading, trailing or doubled separator) fails here too.
      if (!IsPlainFolderName(path.substr(start, pos - start))) return false;
      start = pos + 1;
    }
    pos += len;
  }
  return true;
}

bool CopyFileReplacing(std::string_view source, std::string_view target) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  int in = OpenSourceAt(AT_FDCWD, ResolvePath(source));
  if (in < 0) return false;
  return CopyOpenedFile(in, target);
}

bool CopyFileReplacing(const OpenFolder& folder, std::string_view name, std::string_view target) {
  if (InjectedFault(FaultSite::kFileWrite, name)) return false;
  if (!folder.is_open() || name.empty() || name.find('/') != std::string_view::npos) return false;
  int in = OpenSourceAt(folder.fd(), std::string(name));
  if (in < 0) return false;
  return CopyOpenedFile(in, target);
}

bool CopyFileNoOverwrite(std::string_view source, std::string_view target) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  int in = OpenSourceAt(AT_FDCWD, ResolvePath(source));
  if (in < 0) return false;
  const std::string to = ResolvePath(target);
  // O_EXCL: a file that appears between the caller's check and this open is still kept.
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = CopyStream(in, out);
  ok = ::close(out) == 0 && ok;
  ::close(in);
  if (!ok) ::unlink(to.c_str());
  return ok;
}

bool MakeFolderInAppDir(std::string_view app_dir, std::string_view relative,
                        std::string* resolved) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  if (!IsPlainRelativePath(relative)) return false;
  std::string path = ResolvePath(app_dir);
  const std::string rel = NormalizeSeparators(relative);
  for (size_t pos = 0; pos <= rel.size();) {
    size_t slash = rel.find('/', pos);
    if (slash == std::string::npos) slash = rel.size();
    const std::string comp = rel.substr(pos, slash - pos);
    pos = slash + 1;
    std::string next = JoinPath(path, comp);
    struct stat st;
    if (::lstat(next.c_str(), &st) != 0) {
      for (const std::string& name : ListDirectory(path)) {
        if (EqualsNoCase(name, comp)) {
          next = JoinPath(path, name);
          break;
        }
      }
    }
    if (::lstat(next.c_str(), &st) != 0) {
      // mkdir never follows a link: should one appear meanwhile it fails with EEXIST, and the
      // lstat below refuses it.
      if (::mkdir(next.c_str(), 0755) != 0 && errno != EEXIST) return false;
      if (::lstat(next.c_str(), &st) != 0) return false;
    }
    if (!S_ISDIR(st.st_mode)) return false;  // a link, a file, a device
    path = std::move(next);
  }
  if (resolved != nullptr) *resolved = path;
  return true;
}

bool HasNoLinkBelow(std::string_view root, std::string_view relative) {
  std::string path = ResolvePath(root);
  const std::string rel = NormalizeSeparators(relative);
  for (size_t pos = 0; pos <= rel.size();) {
    size_t slash = rel.find('/', pos);
    if (slash == std::string::npos) slash = rel.size();
    const std::string comp = rel.substr(pos, slash - pos);
    pos = slash + 1;
    if (comp.empty() || comp == ".") continue;
    std::string next = JoinPath(path, comp);
    struct stat st;
    if (::lstat(next.c_str(), &st) != 0) {
      bool found = false;
      for (const std::string& name : ListDirectory(path)) {
        if (EqualsNoCase(name, comp)) {
          next = JoinPath(path, name);
          found = true;
          break;
        }
      }
      if (!found || ::lstat(next.c_str(), &st) != 0) return true;  // the rest does not exist
    }
    if (!S_ISDIR(st.st_mode)) return false;
    path = std::move(next);
  }
  return true;
}

bool CopyTreeIntoAppDir(std::string_view app_dir, std::string_view source,
                        std::string_view relative_target,
                        std::vector<std::string>* links_skipped) {
  // A source that cannot be opened as a folder fails the copy below, after the target folder is
  // made, as a source that cannot be listed always has.
  OpenFolder folder;
  folder.Open(source);
  return CopyTreeIntoAppDir(app_dir, folder, relative_target, links_skipped);
}

bool CopyTreeIntoAppDir(std::string_view app_dir, const OpenFolder& source,
                        std::string_view relative_target, std::vector<std::string>* links_skipped) {
  std::string resolved_target;
  if (!MakeFolderInAppDir(app_dir, relative_target, &resolved_target)) return false;
  std::vector<std::string> names;
  bool ok = ListOpenFolder(source, &names);
  for (const std::string& name : names) {
    const int type = EntryTypeAt(source, name);
    if (type < 0) {
      ok = false;
    } else if (type == S_IFDIR) {
      // Opened from the folder just listed and not through a link: one swapped in since the look
      // above fails the copy.
      OpenFolder child;
      ok = child.OpenChild(source, name) &&
           CopyTreeIntoAppDir(app_dir, child, JoinPath(relative_target, name), links_skipped) && ok;
    } else if (type == S_IFREG) {
      ok = CopyFileReplacing(source, name, JoinPath(resolved_target, name)) && ok;
    } else if (type == S_IFLNK) {
      // A link in a book package could name any file of this machine: it is not followed, and
      // the caller tells the user which were left out.
      if (links_skipped != nullptr) links_skipped->push_back(JoinPath(relative_target, name));
    }
    // Devices, FIFOs and sockets are not part of a book and are left out.
  }
  return ok;
}

bool DeleteTree(std::string_view directory) {
  const std::string dir = ResolvePath(directory);
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  bool ok = true;
  for (const std::string& name : ListDirectory(dir)) {
    const std::string path = JoinPath(dir, name);
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ok = DeleteTree(path) && ok;
      ok = (::rmdir(path.c_str()) == 0) && ok;
    } else {
      ok = (::unlink(path.c_str()) == 0 || errno == ENOENT) && ok;
    }
  }
  return ok;
}

bool RemoveDirectory(std::string_view directory) {
  const std::string dir = ResolvePath(directory);
  return ::rmdir(dir.c_str()) == 0 || errno == ENOENT;
}

bool RemoveFile(std::string_view path) {
  const std::string p = ResolvePath(path);
  return ::unlink(p.c_str()) == 0 || errno == ENOENT;
}

}  // namespace tomeva
