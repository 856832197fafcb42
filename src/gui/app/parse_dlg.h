// CParseDlg: the import dialog shown at start while the books waiting in Update/ are imported.
// It starts the import on its own worker thread when it is shown, shows the worker's status
// line, second line and progress, and closes itself when the worker ends; Wait() then blocks
// until the worker has signalled its completion.
#ifndef TOMEVA_GUI_APP_PARSE_DLG_H_
#define TOMEVA_GUI_APP_PARSE_DLG_H_

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <thread>

#include "core/import/book_import.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tomeva::gui {

class CParseDlg : public QDialog {
  Q_OBJECT
 public:
  // Imports into `app_dir` through `engine`, which must outlive the dialog.
  CParseDlg(std::string app_dir, Engine* engine, QWidget* parent = nullptr);
  ~CParseDlg() override;

  // Blocks until the worker has ended (the completion event). Returns at once when no worker
  // was started.
  void Wait();

  const ImportResult& result() const { return result_; }
  // Problems the worker reported (UTF-8), in order.
  const QStringList& reports() const { return reports_; }
  QLabel* status_line() const { return status_; }
  QLabel* detail_line() const { return detail_; }
  QProgressBar* progress() const { return progress_; }

 signals:
  void statusChanged(const QString& text);
  void detailChanged(const QString& text);
  void rangeChanged(int upper);
  void positionChanged(int position);
  void reported(const QString& message);
  void finished(int books_imported);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  class Sink;
  void StartWorker();

  std::string app_dir_;
  Engine* engine_;
  QLabel* status_;
  QLabel* detail_;
  QProgressBar* progress_;
  QPushButton* ok_;
  std::unique_ptr<Sink> sink_;
  std::thread worker_;
  bool done_ = false;
  ImportResult result_;
  QStringList reports_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_APP_PARSE_DLG_H_
