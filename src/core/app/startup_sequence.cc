#include "core/app/startup_sequence.h"

#include "base/gbk.h"
#include "base/texts.h"
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

  std::string failure;
  switch (host.AcquireSingleInstance(SingleInstanceName(), &failure)) {
    case InstanceGuardResult::kAcquired:
      break;
    case InstanceGuardResult::kHeldElsewhere:
      host.ShowMessage(TextUtf8(kTextOneInstance));
      return result;
    case InstanceGuardResult::kFailed:
      // The start goes on unguarded. The guard mostly spares the user a second window of the
      // same station: the import of new books takes a lock of its own per library, the engine
      // one per index, and the catalogue is only ever replaced whole, so a second instance can
      // at worst repeat the start-up maintenance, not tear a file. Ending here instead would
      // shut the user out of the whole library over a runtime folder they often cannot mend.
      host.ShowMessage(GbkToUtf8(TextWith(kTextGuardFailed, failure)));
      break;
  }

  std::string old_folder = host.OlderInstallationFolder();
  if (!old_folder.empty()) host.MigrateOlderInstallation(old_folder);
  if (host.HasPendingCatalogue()) host.ImportPendingBooks();
  host.MoveSpecialBookLast();

  if (!host.CreateMainFrame() || !host.CreateDocument()) return result;
  host.ShowMainFrame();
  // Told once the window is there, so that the user sees what the message is about.
  for (const std::string& notice : host.TakeDocumentNotices()) {
    host.ShowMessage(GbkToUtf8(notice));
  }
  if (!host.CheckForUpdate(result.check_version_url)) return result;
  host.InitIndexLibrary();
  result.run = true;
  return result;
}

}  // namespace tomeva
