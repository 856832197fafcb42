// Every folder of the desktop environment the platform layer uses, from one place. Each can be
// pointed elsewhere with an environment variable, so that tests run in temporary folders:
//
//   TOMEVA_REGISTRY_DIR  registry files HKLM.ini, HKCU.ini  ($XDG_CONFIG_HOME/Tomeva/registry)
//   TOMEVA_RUNTIME_DIR   lock files and local sockets        ($XDG_RUNTIME_DIR/tomeva, else
//                                                            /tmp/tomeva-<uid>)
//   TOMEVA_DESKTOP_DIR   the user's desktop                  (XDG desktop folder)
//   TOMEVA_PROGRAMS_DIR  the menu of installed programs      ($XDG_DATA_HOME/applications)
//   TOMEVA_SYSTEM_DIR    shared engine files                 ($XDG_DATA_HOME/Tomeva/system)
//   TOMEVA_PROC_DIR      the process table                   (/proc)
//   TOMEVA_OPENER        the program that opens a file or address with the desktop's handler
//                        (xdg-open); a test points it at a script that records its argument
//   TOMEVA_PACKAGE_CONFIG_DIR  what the package installs for the program (/usr/share/tomeva)
//   TOMEVA_SITE_CONFIG_DIR     what the administrator sets for every user (/etc/tomeva)
//   TOMEVA_USER_CONFIG_DIR     what the user sets ($XDG_CONFIG_HOME/tomeva, by default
//                              ~/.config/tomeva)
//
// Paths are returned as the file system spells them, without a trailing "/". Thread-safe.
#ifndef TOMEVA_PLATFORM_ENVIRONMENT_H_
#define TOMEVA_PLATFORM_ENVIRONMENT_H_

#include <string>
#include <vector>

namespace tomeva::platform {

std::string RegistryDir();
std::string RuntimeDir();
std::string DesktopDir();
std::string ProgramsDir();
std::string SystemDir();
std::string ProcDir();
std::string OpenerProgram();
std::string PackageConfigDir();
std::string SiteConfigDir();
std::string UserConfigDir();

// The name of the updater's trust anchor, a signify public key (docs/formats/version-page.md).
inline constexpr char kUpdateKeyName[] = "update.pub";

// Where an update key may be installed, in this order: by the package, by the administrator, by
// the user (kUpdateKeyName in each of the three folders above). Never a file inside a library: a
// library is copied and shared, and whoever writes it would sign the updaters that run. The
// files need not exist; one that exists but that a user other than its owner could change, or
// whose owner is neither the administrator nor this user, or that lies in a folder so open, is
// left out.
std::vector<std::string> UpdateKeyFiles();

// Whether the runtime folder can hold what only this user may reach (the single-instance lock,
// the conversations' sockets). A folder another user can write to, or one that is not what it
// seems (a link to somewhere else), would let that user hold the lock so that no instance starts,
// or register a conversation's socket first and pose as its server.
enum class RuntimeFolder {
  kPrivate,      // a folder of this user's own, not a link, with mode 0700
  kCannotMake,   // missing and cannot be created, or a file (not a folder or link) in the way
  kNotPrivate,   // there, but a link, another user's, or open to others
};

// True when `dir`, as lstat sees it (a symbolic link is not followed), is a folder owned by this
// process's user with mode 0700: no access for group or others. Otherwise false, with `*why`
// (may be null; English, one phrase) saying what is wrong. Creates nothing.
bool CheckPrivateFolder(const std::string& dir, std::string* why);

// Creates `dir` when missing, with mode 0700 (its missing parents with the default mode), then
// checks it as CheckPrivateFolder does. A folder of this user's found there that no one else
// could write into (mode 0755, as older versions left it) is closed to others (0700) and used;
// any other folder found there is judged as it is and never changed: loosened by someone else,
// it may hold what they put there. `*why` (may be null) is set
// unless the answer is kPrivate. Any thread.
RuntimeFolder PrepareRuntimeFolder(const std::string& dir, std::string* why);

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_ENVIRONMENT_H_
