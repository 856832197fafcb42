#include "gui/views/tomeva_view.h"

#include <QFile>
#include <QPainter>
#include <QPdfDocument>
#include <QPointer>
#include <QPrinter>
#include <QTimer>
#include <algorithm>

#include "base/file_util.h"
#include "core/doc/tomeva_doc.h"
#include "gui/common/local_content_guard.h"
#include "gui/frame/gbk_text.h"
#include "gui/frame/main_frame.h"

namespace tomeva::gui {
namespace {

// Pages of a PDF are drawn as pictures at no more than this resolution: enough for paper, and a
// page at a printer's full resolution would take hundreds of megabytes.
constexpr double kMaxPdfRenderDpi = 300.0;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Where a print goes, for the messages: the output file, else the printer's name.
QString PrinterTarget(const QPrinter* printer) {
  return printer->outputFileName().isEmpty() ? printer->printerName() : printer->outputFileName();
}

// A record file's name as the document takes it: "book_" + anything + ".xml", letters in any case.
bool IsRecordFileLink(const QUrl& url) {
  const QString name = url.fileName();
  return name.startsWith(QLatin1String("book_"), Qt::CaseInsensitive) &&
         name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive);
}

}  // namespace

CTomevaView::CTomevaView(QWidget* parent) : CMoreHtmlView(parent) {
  setObjectName(QStringLiteral("CTomevaView"));
  connect(this, &CMoreHtmlView::pageButtonClicked, this, [this](const QString& id) {
    if (doc_ != nullptr) doc_->OnPageButtonClick(ToGbk(id));
  });
}

CTomevaView::~CTomevaView() {
  OnClose();
  if (doc_ != nullptr) doc_->AttachHtmlView(nullptr);
}

void CTomevaView::SetDocument(CTomevaDoc* doc) {
  if (doc_ != nullptr) doc_->AttachHtmlView(nullptr);
  doc_ = doc;
  if (doc_ != nullptr) doc_->AttachHtmlView(this);
}

void CTomevaView::OnInitialUpdate() {
  if (doc_ == nullptr) return;
  doc_->OnHtmlViewInitialUpdate();
  doc_->RenderPage();
}

void CTomevaView::ScrollToTop() {
  if (has_document()) RunInAppWorld(QStringLiteral("window.scrollTo(0, 0);"));
}

void CTomevaView::OnClose() {
  if (closed_) return;
  closed_ = true;
  if (doc_ != nullptr) doc_->OnHtmlViewDestroy();
}

bool CTomevaView::OnBeforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type,
                                   bool is_main_frame) {
  if (is_main_frame && doc_ != nullptr && url.isLocalFile() && IsRecordFileLink(url) &&
      guard()->roots().MayName(url.toLocalFile())) {
    // The document selects the record (or shows it in place of a hit's); nothing is loaded.
    doc_->OnBeforeNavigate(ToGbk(url.toLocalFile()));
    if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->UpdateCommandUi();
    return false;
  }
  // Only targets inside the library go on to the document; the rest never reach it.
  if (!CMoreHtmlView::OnBeforeNavigate(url, type, is_main_frame)) return false;
  if (!is_main_frame || doc_ == nullptr) return true;
  // A file is named by its path, as the program itself names the pages it loads; the viewer
  // page stands for the PDF it shows.
  const QUrl shown = DocumentUrl(pdf_viewer_path(), url);
  const std::string location =
      ToGbk(shown.isLocalFile() ? shown.toLocalFile() : shown.toString());
  const bool go = doc_->OnBeforeNavigate(location);
  // A recorded link enables the back command; the frame's buttons follow.
  if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->UpdateCommandUi();
  if (go && url == shown && url.isLocalFile() && !pdf_viewer_path().empty() &&
      url.path().endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
    // A followed link to a PDF: the engine would only download it. The document shows it in the
    // viewer page, once this navigation has been turned down.
    QPointer<CTomevaView> self(this);
    QTimer::singleShot(0, this, [self, location] {
      if (!self.isNull() && self->doc_ != nullptr) self->doc_->ShowLinkedPdf(location);
    });
    return false;
  }
  return go;
}

void CTomevaView::Navigate(const std::string& location) {
  // The start page that a PDF leaves through may still be loading; its end, even cut short by
  // this navigation, must not render the record page over the page asked for now.
  render_after_load_ = false;
  CMoreHtmlView::Navigate(location);
}

void CTomevaView::OnDocumentComplete(bool ok) {
  CMoreHtmlView::OnDocumentComplete(ok);
  if (render_after_load_ && doc_ != nullptr) {
    render_after_load_ = false;
    doc_->RenderPage();
  }
}

}  // namespace tomeva::gui

namespace tomeva::gui {

QString CTomevaView::ShownPdfFile() const {
  const QUrl shown = DocumentUrl(pdf_viewer_path(), url());
  if (!shown.isLocalFile()) return QString();
  const QString file = shown.toLocalFile();
  return file.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive) ? file : QString();
}

bool CTomevaView::PrintPdfFile(const QString& file, QPrinter* printer, QString* failure) {
  QPdfDocument pdf;
  if (pdf.load(file) != QPdfDocument::Error::None || pdf.pageCount() <= 0) {
    *failure = U("无法读取PDF文件：") + file;
    return false;
  }
  QPainter painter;
  if (!painter.begin(printer)) {
    *failure = U("无法打开打印机或打印文件：") + PrinterTarget(printer);
    return false;
  }
  const double device_dpi = printer->resolution();
  const double render_dpi = std::min(device_dpi, kMaxPdfRenderDpi);
  for (int page = 0; page < pdf.pageCount(); ++page) {
    if (page > 0 && !printer->newPage()) {
      *failure = U("无法打印第%1页：").arg(page + 1) + PrinterTarget(printer);
      painter.end();
      return false;
    }
    // Points to the printer's pixels, scaled down where the page is larger than the paper.
    const QSizeF points = pdf.pagePointSize(page);
    const QRect area = painter.viewport();
    if (points.isEmpty() || area.isEmpty()) continue;
    const double scale = std::min({device_dpi / 72.0, area.width() / points.width(),
                                   area.height() / points.height()});
    const QSize target = (points * scale).toSize();
    const QSize picture = (points * (render_dpi / 72.0)).toSize();
    QImage image = pdf.render(page, picture);
    if (image.isNull()) {
      *failure = U("无法绘制PDF文件的第%1页：").arg(page + 1) + file;
      painter.end();
      return false;
    }
    painter.drawImage(QRect(area.topLeft(), target), image);
  }
  if (!painter.end()) {
    *failure = U("无法完成打印：") + PrinterTarget(printer);
    return false;
  }
  return true;
}

void CTomevaView::Print(QPrinter* printer) {
  if (!CanPrint()) {
    // Told after the caller has returned, as a finished print would be.
    const QString why = printing_ ? U("上一个打印任务尚未完成。") : U("没有可打印的页面。");
    QTimer::singleShot(0, this, [this, why] { emit printDone(false, why); });
    return;
  }
  const QString pdf = ShownPdfFile();
  if (!pdf.isEmpty()) {
    QString failure;
    const bool ok = PrintPdfFile(pdf, printer, &failure);
    QTimer::singleShot(0, this, [this, ok, failure] { emit printDone(ok, failure); });
    return;
  }
  printing_ = true;
  if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
    // Printed to a PDF file, the page is written by the engine itself: its text stays text
    // (the printer path below draws the pages as pictures), in the chosen layout.
    const QString target = printer->outputFileName();
    // The page may end with the view (the window closing) before the engine answers.
    QPointer<CTomevaView> self(this);
    page()->printToPdf(
        [self, this, target](const QByteArray& pdf) {
          if (self.isNull()) return;
          printing_ = false;
          if (pdf.isEmpty()) {
            emit printDone(false, U("无法生成本页的打印内容：") + target);
            return;
          }
          const bool written = ReplaceFileAtomically(QFile::encodeName(target).toStdString(),
                                                     std::string_view(pdf.constData(), pdf.size()));
          emit printDone(written, written ? QString() : U("无法写入打印文件：") + target);
        },
        printer->pageLayout(), printer->pageRanges());
    return;
  }
  auto* once = new QObject(this);
  connect(this, &QWebEngineView::printFinished, once, [this, once, printer](bool ok) {
    printing_ = false;
    delete once;
    emit printDone(ok, ok ? QString() : U("无法打印本页：") + PrinterTarget(printer));
  });
  QWebEngineView::print(printer);
}

}  // namespace tomeva::gui
