#include "platform/environment.h"

#include <unistd.h>

#include <QStandardPaths>
#include <QString>
#include <cstdlib>

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

}  // namespace tomeva::platform
