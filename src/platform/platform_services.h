// The desktop services of the start-up maintenance on Linux: the INI registry, /proc, and the
// folders of environment.h.
#ifndef TOMEVA_PLATFORM_PLATFORM_SERVICES_H_
#define TOMEVA_PLATFORM_PLATFORM_SERVICES_H_

#include <string>
#include <string_view>

#include "core/app/maintenance.h"
#include "platform/ini_registry.h"

namespace tomeva::platform {

class LinuxPlatformServices : public PlatformServices {
 public:
  Registry& registry() override { return registry_; }
  void KillProcessByName(std::string_view name) override;
  std::string DesktopFolder() override;
  std::string ProgramsFolder() override;
  std::string SystemFolder() override;

 private:
  IniRegistry registry_;
};

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_PLATFORM_SERVICES_H_
