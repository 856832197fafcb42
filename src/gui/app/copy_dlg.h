// CCopyDlg and the migration of an older installation. The migration's file work runs on a
// worker thread while the user-interface thread keeps the copy-progress window painted; the
// migration's messages and the window's showing and closing are carried to the user-interface
// thread and waited for there.
#ifndef TOMEVA_GUI_APP_COPY_DLG_H_
#define TOMEVA_GUI_APP_COPY_DLG_H_

#include <QDialog>
#include <QStringList>
#include <functional>
#include <string>

#include "core/app/maintenance.h"

namespace tomeva::gui {

class CCopyDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CCopyDlg(QWidget* parent = nullptr);
};

// Runs MigrateOlderInstallation(app_dir, old, platform) on a worker and returns when it has
// ended. `show_message` shows a modal message (UTF-8) on the user-interface thread. Returns the
// number of books staged for the import.
int RunMigration(const std::string& app_dir, const std::string& old, Platform& platform,
                 const std::function<void(const QString&)>& show_message);

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_COPY_DLG_H_
