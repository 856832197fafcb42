#include "base/file_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "base/fault_injection.h"
#include "base/mbstring.h"

namespace tomeva {
namespace {

bool Exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

std::string NormalizeSeparators(std::string_view path) {
  std::string out(path);
  for (size_t pos = 0; pos < out.size(); pos += GbkCharLen(out, pos)) {
    if (out[pos] == '\\') out[pos] = '/';
  }
  return out;
}

std::string ResolvePath(std::string_view path) {
  std::string norm = NormalizeSeparators(path);
  if (norm.empty() || Exists(norm)) return norm;
  // Walk the components; keep the exact name where it exists, otherwise look for a
  // case-insensitive match among the parent's entries.
  std::string resolved;
  size_t pos = 0;
  if (norm[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= norm.size()) {
    size_t slash = norm.find('/', pos);
    if (slash == std::string::npos) slash = norm.size();
    std::string comp = norm.substr(pos, slash - pos);
    if (!comp.empty()) {
      std::string parent = resolved.empty() ? "." : resolved;
      std::string candidate = resolved.empty() ? comp : JoinPath(resolved, comp);
      if (!Exists(candidate)) {
        bool found = false;
        if (comp != "." && comp != "..") {
          for (const std::string& name : ListDirectory(parent)) {
            if (EqualsNoCase(name, comp)) {
              candidate = resolved.empty() ? name : JoinPath(resolved, name);
              found = true;
              break;
            }
          }
        }
        if (!found) return norm;
      }
      resolved = candidate;
    }
    pos = slash + 1;
  }
  return resolved.empty() ? norm : resolved;
}

size_t LastSeparator(std::string_view path) {
  size_t a = MbFindLastChar(path, '/');
  size_t b = MbFindLastChar(path, '\\');
  if (a == kNpos) return b;
  if (b == kNpos) return a;
  return std::max(a, b);
}

std::string BaseName(std::string_view path) {
  size_t sep = LastSeparator(path);
  return std::string(sep == kNpos ? path : path.substr(sep + 1));
}

std::string DirName(std::string_view path) {
  size_t sep = LastSeparator(path);
  return sep == kNpos ? std::string() : std::string(path.substr(0, sep));
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string out(dir);
  if (LastSeparator(out) != out.size() - 1) out += '/';
  out.append(name);
  return out;
}

bool FileExists(std::string_view path) {
  struct stat st;
  return ::stat(ResolvePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(std::string_view path) {
  struct stat st;
  return ::stat(ResolvePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// Reads the open descriptor `fd` (closed here) as ReadWholeFile promises: a regular file only, up
// to `max_bytes`, else nothing. errno says why on failure.
bool ReadOpenedFile(int fd, std::string* out, size_t max_bytes) {
  auto fail = [fd, out](int error) {
    ::close(fd);
    out->clear();
    out->shrink_to_fit();
    errno = error;
    return false;
  };
  struct stat st;
  if (::fstat(fd, &st) != 0) return fail(errno);
  if (!S_ISREG(st.st_mode)) return fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > max_bytes) {
    return fail(EFBIG);
  }
  // The file was opened with O_NONBLOCK, so that a FIFO did not wait for a writer; a regular
  // file is read as usual.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(errno);
  // Read straight into the string: a PDF's text copy runs to megabytes, and a second copy through
  // a buffer would cost as much as the read. The size is only a first guess: a file that grows
  // or shrinks meanwhile is read to its end all the same, up to the cap. One byte more than the
  // cap is asked for, so that a file grown past it is seen and refused.
  const size_t want = max_bytes < SIZE_MAX ? max_bytes + 1 : max_bytes;
  size_t size = 0;
  out->resize(std::min(want, st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : size_t{65536}));
  for (;;) {
    if (size == out->size()) {
      if (size >= want) break;
      out->resize(std::min(want, out->size() * 2));
    }
    ssize_t n = ::read(fd, out->data() + size, out->size() - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (n == 0) break;
    size += static_cast<size_t>(n);
  }
  if (size > max_bytes) return fail(EFBIG);
  ::close(fd);
  out->resize(size);
  return true;
}

// One entry name, as openat takes it below a folder: no separator, not "." or "..".
bool IsEntryName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// Opens the folder `name` below the open folder `dir_fd` without following a link; when the exact
// name is missing, an entry of that name in another ASCII case. -1 with errno on failure.
int OpenFolderEntry(int dir_fd, const std::string& name) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir_fd, name.c_str(), flags);
  if (fd >= 0 || errno != ENOENT) return fd;
  const int listing = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return -1;
  DIR* d = ::fdopendir(listing);
  if (d == nullptr) {
    ::close(listing);
    return -1;
  }
  std::string match;
  while (dirent* e = ::readdir(d)) {
    if (EqualsNoCase(e->d_name, name)) {
      match = e->d_name;
      break;
    }
  }
  ::closedir(d);
  if (match.empty()) {
    errno = ENOENT;
    return -1;
  }
  return ::openat(dir_fd, match.c_str(), flags);
}

}  // namespace

bool ReadWholeFile(std::string_view path, std::string* out, size_t max_bytes) {
  out->clear();
  if (InjectedFault(FaultSite::kFileRead)) return false;
  std::string p = ResolvePath(path);
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for ever. It is
  // cleared again once the file is known to be a regular one.
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  return ReadOpenedFile(fd, out, max_bytes);
}

bool ReadWholeFileNoFollow(std::string_view path, std::string* out, size_t max_bytes) {
  out->clear();
  if (InjectedFault(FaultSite::kFileRead, BaseName(path))) return false;
  std::string p = ResolvePath(path);
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  return ReadOpenedFile(fd, out, max_bytes);
}

bool OpenFolder::Open(std::string_view root, std::string_view relative) {
  Close();
  const std::string r = ResolvePath(root.empty() ? std::string_view(".") : root);
  int fd = ::open(r.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const std::string rel = NormalizeSeparators(relative);
  for (size_t pos = 0; pos <= rel.size();) {
    size_t slash = rel.find('/', pos);
    if (slash == std::string::npos) slash = rel.size();
    const std::string comp = rel.substr(pos, slash - pos);
    pos = slash + 1;
    if (comp.empty() || comp == ".") continue;
    int next = -1;
    if (comp == "..") {
      errno = EINVAL;
    } else {
      next = OpenFolderEntry(fd, comp);
    }
    const int error = errno;
    ::close(fd);
    if (next < 0) {
      errno = error;
      return false;
    }
    fd = next;
  }
  fd_ = fd;
  return true;
}

bool OpenFolder::OpenChild(const OpenFolder& parent, std::string_view name) {
  Close();
  if (!parent.is_open() || !IsEntryName(name)) {
    errno = EINVAL;
    return false;
  }
  fd_ = ::openat(parent.fd(), std::string(name).c_str(),
                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return fd_ >= 0;
}

void OpenFolder::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

bool ListOpenFolder(const OpenFolder& folder, std::vector<std::string>* names) {
  names->clear();
  if (!folder.is_open()) return false;
  // A descriptor of its own: a listing never shares its position with another one.
  const int fd = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* d = ::fdopendir(fd);
  if (d == nullptr) {
    ::close(fd);
    return false;
  }
  errno = 0;
  while (dirent* e = ::readdir(d)) {
    const std::string_view n = e->d_name;
    if (n != "." && n != "..") names->emplace_back(n);
    errno = 0;
  }
  const bool ok = errno == 0;
  ::closedir(d);
  std::sort(names->begin(), names->end());
  return ok;
}

int EntryTypeAt(const OpenFolder& folder, std::string_view name) {
  struct stat st;
  if (!folder.is_open() || !IsEntryName(name) ||
      ::fstatat(folder.fd(), std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return -1;
  }
  return static_cast<int>(st.st_mode & S_IFMT);
}

bool ReadWholeFileAt(const OpenFolder& folder, std::string_view name, std::string* out,
                     size_t max_bytes) {
  out->clear();
  if (InjectedFault(FaultSite::kFileRead, name)) return false;
  if (!folder.is_open() || !IsEntryName(name)) {
    errno = EINVAL;
    return false;
  }
  int fd = ::openat(folder.fd(), std::string(name).c_str(),
                    O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  return ReadOpenedFile(fd, out, max_bytes);
}

bool ReplaceFileAtomically(std::string_view path, std::string_view bytes,
                           const WriteOptions& options) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  std::string target;
  if (options.resolve_case) {
    target = ResolvePath(path);
  } else {
    std::string norm = NormalizeSeparators(path);
    std::string folder = DirName(norm);
    target = folder.empty() ? norm : JoinPath(ResolvePath(folder), BaseName(norm));
  }
  std::string dir = DirName(target);
  std::string tmpl = JoinPath(dir.empty() ? "." : dir, "." + BaseName(target) + ".tmpXXXXXX");
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  // Keep the old file's permissions where there is one; mkstemp creates with 0600.
  struct stat st;
  mode_t mode = 0644;
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
  ::fchmod(fd, mode);
  bool ok = WriteAll(fd, bytes) && (!options.sync || ::fsync(fd) == 0);
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(name.data(), target.c_str()) == 0) {
    if (!options.sync) return true;
    // Make the rename itself durable.
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      ::fsync(dfd);
      ::close(dfd);
    }
    return true;
  }
  ::unlink(name.data());
  return false;
}

bool CreateFileExclusively(std::string_view path, std::string_view bytes) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  const std::string target(path);
  const std::string tmp = target + ".new." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  // link(2), unlike rename(2), refuses to replace an existing name.
  ok = ok && ::link(tmp.c_str(), target.c_str()) == 0;
  ::unlink(tmp.c_str());
  return ok;
}

bool RenamePath(std::string_view from, std::string_view to) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  return ::rename(std::string(from).c_str(), std::string(to).c_str()) == 0;
}

bool FlushFileSystem(std::string_view dir) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  int fd = ::open(std::string(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::syncfs(fd) == 0;
  ::close(fd);
  return ok;
}

bool MakeDirectories(std::string_view path) {
  if (InjectedFault(FaultSite::kFileWrite)) return false;
  std::string p = ResolvePath(path);
  if (p.empty()) return false;
  for (size_t pos = 1; pos <= p.size(); ++pos) {
    if (pos == p.size() || p[pos] == '/') {
      std::string part = p.substr(0, pos);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return DirectoryExists(p);
}

std::vector<std::string> ListDirectory(std::string_view path) {
  std::vector<std::string> names;
  std::string p = path.empty() ? std::string(".") : NormalizeSeparators(path);
  DIR* d = ::opendir(p.c_str());
  if (d == nullptr) return names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(std::move(n));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool FileLock::TryLock(std::string_view path) {
  if (InjectedFault(FaultSite::kLock)) return false;
  Unlock();
  int fd = ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::Unlock() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor of the open file releases the lock
  fd_ = -1;
}

}  // namespace tomeva
