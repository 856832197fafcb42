#include "core/app/startup_sequence.h"

#include "core/base/texts.h"
#include "core/settings/settings.h"

namespace tomeva {

std::string SingleInstanceName() {
  const std::string& title = Text(kTextAppTitle);
  return title.substr(0, title.find('\n')) + " Class";
}

StartupResult RunStartupSequence(IStartupHost& host) {
  StartupResult result;
  result.app_dir = host.CurrentDirectory();
  if (!result.app_dir.empty() && result.app_dir.back() != '/' && result.app_dir.back() != '\\') {
    result.app_dir += '/';
  }
  host.Sleep(kStartupPauseMs);
  result.check_version_url = ReadCheckVersionUrl(result.app_dir);

  if (!host.AcquireSingleInstance(SingleInstanceName())) {
    host.ShowMessage(TextUtf8(kTextOneInstance));
    return result;
  }

  std::string old_folder = host.OlderInstallationFolder();
  if (!old_folder.empty()) host.MigrateOlderInstallation(old_folder);
  if (host.HasPendingCatalogue()) host.ImportPendingBooks();
  host.MoveSpecialBookLast();

  if (!host.CreateMainFrame() || !host.CreateDocument()) return result;
  host.ShowMainFrame();
  if (!host.CheckForUpdate(result.check_version_url)) return result;
  host.InitIndexLibrary();
  result.run = true;
  return result;
}

}  // namespace tomeva
