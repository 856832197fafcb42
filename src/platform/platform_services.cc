#include "platform/platform_services.h"

#include "platform/environment.h"
#include "platform/processes.h"

namespace tomeva::platform {

void LinuxPlatformServices::KillProcessByName(std::string_view name) {
  platform::KillProcessByName(name);
}

std::string LinuxPlatformServices::DesktopFolder() { return DesktopDir(); }
std::string LinuxPlatformServices::ProgramsFolder() { return ProgramsDir(); }
std::string LinuxPlatformServices::SystemFolder() { return SystemDir(); }

}  // namespace tomeva::platform
