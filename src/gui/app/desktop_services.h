// The desktop services the document uses, on Linux: detached processes and the desktop's
// handlers for files and web addresses.
#ifndef TOMEVA_GUI_APP_DESKTOP_SERVICES_H_
#define TOMEVA_GUI_APP_DESKTOP_SERVICES_H_

#include "core/doc/view_interfaces.h"

namespace tomeva::gui {

class DesktopServices : public IDesktopServices {
 public:
  bool RunCommandLine(const std::string& command_line, const std::string& dir) override;
  bool OpenDocument(const std::string& path) override;
  bool OpenInBrowserWindow(const std::string& url) override;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_DESKTOP_SERVICES_H_
