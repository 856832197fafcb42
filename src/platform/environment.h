// Every folder of the desktop environment the platform layer uses, from one place. Each can be
// pointed elsewhere with an environment variable, so that tests run in temporary folders:
//
//   TOMEVA_REGISTRY_DIR  registry files HKLM.ini, HKCU.ini  ($XDG_CONFIG_HOME/Tomeva/registry)
//   TOMEVA_RUNTIME_DIR   lock files and local sockets        ($XDG_RUNTIME_DIR/tomeva, else /tmp)
//   TOMEVA_DESKTOP_DIR   the user's desktop                  (XDG desktop folder)
//   TOMEVA_PROGRAMS_DIR  the menu of installed programs      ($XDG_DATA_HOME/applications)
//   TOMEVA_SYSTEM_DIR    shared engine files                 ($XDG_DATA_HOME/Tomeva/system)
//   TOMEVA_PROC_DIR      the process table                   (/proc)
//   TOMEVA_OPENER        the program that opens a file or address with the desktop's handler
//                        (xdg-open); a test points it at a script that records its argument
//
// Paths are returned as the file system spells them, without a trailing "/". Thread-safe.
#ifndef TOMEVA_PLATFORM_ENVIRONMENT_H_
#define TOMEVA_PLATFORM_ENVIRONMENT_H_

#include <string>

namespace tomeva::platform {

std::string RegistryDir();
std::string RuntimeDir();
std::string DesktopDir();
std::string ProgramsDir();
std::string SystemDir();
std::string ProcDir();
std::string OpenerProgram();

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_ENVIRONMENT_H_
