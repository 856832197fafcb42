#include "gui/app/copy_dlg.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QVBoxLayout>
#include <thread>

#include "gui/frame/gbk_text.h"

namespace tomeva::gui {
namespace {

// The migration's user interface, called on the worker; each call runs on the user-interface
// thread and returns when it is done there.
class BridgeUi : public MigrationUi {
 public:
  BridgeUi(QObject* ui_object, CCopyDlg* dialog,
           const std::function<void(const QString&)>& show_message)
      : ui_object_(ui_object), dialog_(dialog), show_message_(show_message) {}

  void ShowMessage(const std::string& text) override {
    QString message = FromGbk(text);
    OnUiThread([this, message] { show_message_(message); });
  }
  void ShowCopyProgress() override { OnUiThread([this] { dialog_->show(); }); }
  void CloseCopyProgress() override { OnUiThread([this] { dialog_->close(); }); }
  void Report(const std::string& message) override { ShowMessage(message); }

 private:
  void OnUiThread(const std::function<void()>& fn) {
    QMetaObject::invokeMethod(ui_object_, fn, Qt::BlockingQueuedConnection);
  }

  QObject* ui_object_;
  CCopyDlg* dialog_;
  const std::function<void(const QString&)>& show_message_;
};

}  // namespace

CCopyDlg::CCopyDlg(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("CCopyDlg"));
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(this);
  auto* inner = new QVBoxLayout(group);
  inner->addWidget(new QLabel(QStringLiteral("正在并入,请稍候... ..."), group));
  layout->addWidget(group);
}

int RunMigration(const std::string& app_dir, const std::string& old, Platform& platform,
                 const std::function<void(const QString&)>& show_message) {
  CCopyDlg dialog;
  QObject ui_object;
  BridgeUi ui(&ui_object, &dialog, show_message);
  QEventLoop loop;
  int staged = 0;
  std::thread worker([&] {
    staged = MigrateOlderInstallation(app_dir, old, platform, ui);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  return staged;
}

}  // namespace tomeva::gui
