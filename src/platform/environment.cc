#include "platform/environment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tomeva::platform {
namespace {

// The variable's value when set and not empty.
bool FromEnv(const char* name, std::string* out) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return false;
  *out = value;
  while (out->size() > 1 && out->back() == '/') out->pop_back();
  return true;
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != '\0' ? std::string(home) : std::string("/tmp");
}

std::string XdgDir(const char* variable, const char* fallback_below_home) {
  std::string dir;
  if (FromEnv(variable, &dir)) return dir;
  return HomeDir() + "/" + fallback_below_home;
}

}  // namespace

std::string RegistryDir() {
  std::string dir;
  if (FromEnv("TOMEVA_REGISTRY_DIR", &dir)) return dir;
  return XdgDir("XDG_CONFIG_HOME", ".config") + "/Tomeva/registry";
}

std::string RuntimeDir() {
  std::string dir;
  if (FromEnv("TOMEVA_RUNTIME_DIR", &dir)) return dir;
  if (FromEnv("XDG_RUNTIME_DIR", &dir)) return dir + "/tomeva";
  return "/tmp/tomeva-" + std::to_string(::getuid());
}

std::string DesktopDir() {
  std::string dir;
  if (FromEnv("TOMEVA_DESKTOP_DIR", &dir)) return dir;
  // Reads the user's XDG folder settings (user-dirs.dirs), falling back to ~/Desktop.
  QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!desktop.isEmpty()) return desktop.toStdString();
  return HomeDir() + "/Desktop";
}

std::string ProgramsDir() {
  std::string dir;
  if (FromEnv("TOMEVA_PROGRAMS_DIR", &dir)) return dir;
  return XdgDir("XDG_DATA_HOME", ".local/share") + "/applications";
}

std::string SystemDir() {
  std::string dir;
  if (FromEnv("TOMEVA_SYSTEM_DIR", &dir)) return dir;
  return XdgDir("XDG_DATA_HOME", ".local/share") + "/Tomeva/system";
}

std::string ProcDir() {
  std::string dir;
  if (FromEnv("TOMEVA_PROC_DIR", &dir)) return dir;
  return "/proc";
}

std::string OpenerProgram() {
  std::string program;
  if (FromEnv("TOMEVA_OPENER", &program)) return program;
  return "xdg-open";
}

std::string PackageConfigDir() {
  std::string dir;
  if (FromEnv("TOMEVA_PACKAGE_CONFIG_DIR", &dir)) return dir;
  return "/usr/share/tomeva";
}

std::string SiteConfigDir() {
  std::string dir;
  if (FromEnv("TOMEVA_SITE_CONFIG_DIR", &dir)) return dir;
  return "/etc/tomeva";
}

std::string UserConfigDir() {
  std::string dir;
  if (FromEnv("TOMEVA_USER_CONFIG_DIR", &dir)) return dir;
  return XdgDir("XDG_CONFIG_HOME", ".config") + "/tomeva";
}

namespace {

// Whether `path` (a file or folder, links followed) can be changed only by its owner, and that
// owner is the administrator or this user.
bool OnlyTrustedCanWrite(const std::string& path) {
  struct stat found;
  if (::stat(path.c_str(), &found) != 0) return false;
  if (found.st_uid != 0 && found.st_uid != ::geteuid()) return false;
  return (found.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::vector<std::string> UpdateKeyFiles() {
  std::vector<std::string> files;
  for (const std::string& dir : {PackageConfigDir(), SiteConfigDir(), UserConfigDir()}) {
    const std::string file = dir + "/" + kUpdateKeyName;
    // A key that someone else could have put there or changed vouches for nothing: whoever
    // writes the key signs the updaters that run.
    struct stat found;
    if (::stat(file.c_str(), &found) == 0 &&
        (!OnlyTrustedCanWrite(file) || !OnlyTrustedCanWrite(dir))) {
      continue;
    }
    files.push_back(file);
  }
  return files;
}

bool CheckPrivateFolder(const std::string& dir, std::string* why) {
  auto refuse = [why](std::string reason) {
    if (why != nullptr) *why = std::move(reason);
    return false;
  };
  struct stat found;
  if (::lstat(dir.c_str(), &found) != 0) return refuse(std::strerror(errno));
  if (S_ISLNK(found.st_mode)) return refuse("a symbolic link, not a folder");
  if (!S_ISDIR(found.st_mode)) return refuse("not a folder");
  if (found.st_uid != ::geteuid()) {
    return refuse("owned by user " + std::to_string(found.st_uid) + ", not by this user (" +
                  std::to_string(::geteuid()) + ")");
  }
  if ((found.st_mode & 07777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(found.st_mode & 07777));
    return refuse(std::string("mode ") + mode + ", not 0700");
  }
  return true;
}

RuntimeFolder PrepareRuntimeFolder(const std::string& dir, std::string* why) {
  struct stat found;
  if (::lstat(dir.c_str(), &found) != 0) {
    if (errno != ENOENT) {
      if (why != nullptr) *why = std::strerror(errno);
      return RuntimeFolder::kCannotMake;
    }
    std::error_code error;
    const std::filesystem::path parent = std::filesystem::path(dir).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    // Made with no access for others from the start, so that no one can slip anything in before
    // it is checked. EEXIST: another start made it meanwhile; it is judged like any found there.
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      if (why != nullptr) *why = std::strerror(errno);
      return RuntimeFolder::kCannotMake;
    }
  } else if (!S_ISDIR(found.st_mode) && !S_ISLNK(found.st_mode)) {
    if (why != nullptr) *why = "a file that is not a folder is in the way";
    return RuntimeFolder::kCannotMake;
  } else if (S_ISDIR(found.st_mode) && found.st_uid == ::geteuid() &&
             (found.st_mode & (S_IWGRP | S_IWOTH)) == 0 && (found.st_mode & 07777) != 0700) {
    // Older versions made the folder with mode 0755. No one else could put anything into a
    // folder of ours that only we may write, so it is closed to others and used; a folder that
    // others could write into is left as it is and refused below. The mode is changed through
    // the folder itself, so that a link swapped in meanwhile is not followed.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      struct stat opened;
      if (::fstat(fd, &opened) == 0 && opened.st_ino == found.st_ino &&
          opened.st_dev == found.st_dev) {
        ::fchmod(fd, 0700);
      }
      ::close(fd);
    }
  }
  return CheckPrivateFolder(dir, why) ? RuntimeFolder::kPrivate : RuntimeFolder::kNotPrivate;
}

}  // namespace tomeva::platform
