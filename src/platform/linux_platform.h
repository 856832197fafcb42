// The platform on Linux: the INI registry, programs started through the command runner of
// command_runner.h (the only way the program starts one), the desktop's handler (xdg-open) for
// documents, our browser window program for web addresses, /proc for ending programs, the
// folders of environment.h, and the single-instance guard of single_instance.h.
//
// Threads: the user-interface thread, except KillProcessByName and DdeExecute (any thread). The
// guard's raise requests arrive through the Qt event loop of the thread that acquired it.
#ifndef TOMEVA_PLATFORM_LINUX_PLATFORM_H_
#define TOMEVA_PLATFORM_LINUX_PLATFORM_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/platform/platform.h"
#include "platform/ini_registry.h"

namespace tomeva::platform {

class SingleInstanceGuard;

class LinuxPlatform : public Platform {
 public:
  LinuxPlatform();
  ~LinuxPlatform() override;

  Registry& registry() override { return registry_; }
  bool RunCommandLine(const std::string& command_line, const std::string& dir) override;
  int Wait(const std::string& command_line, int show, uint32_t timeout_seconds,
           const std::string& dir) override;
  bool RunCommandLineTitled(const std::string& command_line) override;
  // Beside the executable that is running (QCoreApplication::applicationDirPath()).
  std::string CompanionProgram(std::string_view name) override;
  // Through processes.h, with `folder` resolved as every file access resolves a GBK path.
  void KillProcessByName(std::string_view name, const std::string& folder) override;
  // The desktop's handler (OpenerProgram()) with the absolute path.
  bool OpenDocument(const std::string& path) override;
  // CompanionProgram("tomeva-browser") with the address (UTF-8) as its one argument; false while
  // that program is not there. With TOMEVA_OPENER set, that program instead.
  bool OpenInBrowserWindow(const std::string& url) override;
  std::string DesktopFolder() override;
  std::string ProgramsFolder() override;
  std::string SystemFolder() override;
  InstanceGuardResult AcquireSingleInstance(const std::string& name,
                                            std::function<void()> on_raise_request,
                                            std::string* failure) override;
  // Through the conversation client of dde.h, with servers looked up in the runtime folder.
  DdeResult DdeExecute(const std::string& service, const std::string& topic,
                       const std::string& data, int timeout_ms) override;

  // The guard taken by AcquireSingleInstance: null before, when another instance holds it, or
  // when nothing of it could be taken; kept when only its local server failed.
  SingleInstanceGuard* guard() const { return guard_.get(); }

 private:
  IniRegistry registry_;
  std::unique_ptr<SingleInstanceGuard> guard_;
};

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_LINUX_PLATFORM_H_
