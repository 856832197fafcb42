#include "gui/app/parse_dlg.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "gui/frame/gbk_text.h"

namespace tomeva::gui {

// Runs on the worker: every call becomes a queued signal to the dialog on the user-interface
// thread, so the worker never touches a widget.
class CParseDlg::Sink : public ImportStatusSink {
 public:
  explicit Sink(CParseDlg* dlg) : dlg_(dlg) {}
  void SetRange(int upper) override { emit dlg_->rangeChanged(upper); }
  void SetPosition(int position) override { emit dlg_->positionChanged(position); }
  void SetStatus(const std::string& text) override { emit dlg_->statusChanged(FromGbk(text)); }
  void SetDetail(const std::string& text) override { emit dlg_->detailChanged(FromGbk(text)); }
  void Report(const std::string& message) override { emit dlg_->reported(FromGbk(message)); }
  void Finished(const ImportResult& result) override {
    dlg_->result_ = result;
    emit dlg_->finished(result.books_imported);
  }

 private:
  CParseDlg* dlg_;
};

CParseDlg::CParseDlg(std::string app_dir, Engine* engine, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      app_dir_(std::move(app_dir)),
      engine_(engine) {
  setObjectName(QStringLiteral("CParseDlg"));
  setModal(true);
  // 254 x 84 dialog units of the dialog's font.
  setFixedSize(381, 137);
  auto* layout = new QGridLayout(this);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status1022"));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress1023"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  detail_ = new QLabel(this);
  detail_->setObjectName(QStringLiteral("detail1024"));
  ok_ = new QPushButton(QStringLiteral("确定"), this);
  ok_->setObjectName(QStringLiteral("ok1"));
  ok_->setEnabled(false);
  layout->addWidget(status_, 0, 0, 1, 2);
  layout->addWidget(progress_, 1, 0, 1, 2);
  layout->addWidget(detail_, 2, 0);
  layout->addWidget(ok_, 2, 1);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  // Queued: the signals are emitted on the worker.
  connect(this, &CParseDlg::statusChanged, status_, &QLabel::setText, Qt::QueuedConnection);
  connect(this, &CParseDlg::detailChanged, detail_, &QLabel::setText, Qt::QueuedConnection);
  connect(this, &CParseDlg::rangeChanged, this,
          [this](int upper) { progress_->setRange(0, std::max(upper, 1)); }, Qt::QueuedConnection);
  connect(this, &CParseDlg::positionChanged, progress_, &QProgressBar::setValue,
          Qt::QueuedConnection);
  connect(this, &CParseDlg::reported, this, [this](const QString& m) { reports_.append(m); },
          Qt::QueuedConnection);
  connect(this, &CParseDlg::finished, this, [this](int) {
    ok_->setEnabled(true);
    done_ = true;
    accept();  // closes without waiting for the user
  }, Qt::QueuedConnection);
}

CParseDlg::~CParseDlg() { Wait(); }

void CParseDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!worker_.joinable() && !done_) StartWorker();
}

void CParseDlg::closeEvent(QCloseEvent* event) {
  // The import is not interrupted from the window; it ends by itself.
  if (!done_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CParseDlg::reject() {
  if (done_) QDialog::reject();
}

void CParseDlg::StartWorker() {
  sink_ = std::make_unique<Sink>(this);
  worker_ = std::thread([this] { RunBookImport(*engine_, app_dir_, sink_.get()); });
}

void CParseDlg::Wait() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace tomeva::gui
