#include "gui/views/tomeva_view.h"

#include "core/doc/tomeva_doc.h"
#include "gui/frame/gbk_text.h"
#include "gui/frame/main_frame.h"

namespace tomeva::gui {

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
  if (!is_main_frame || doc_ == nullptr) {
    return CMoreHtmlView::OnBeforeNavigate(url, type, is_main_frame);
  }
  // A file is named by its path, as the program itself names the pages it loads; the viewer
  // page stands for the PDF it shows.
  const QUrl shown = DocumentUrl(pdf_viewer_path(), url);
  const std::string location =
      ToGbk(shown.isLocalFile() ? shown.toLocalFile() : shown.toString());
  const bool go = doc_->OnBeforeNavigate(location);
  // A recorded link enables the back command; the frame's buttons follow.
  if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->UpdateCommandUi();
  return go;
}

void CTomevaView::OnDocumentComplete(bool ok) {
  CMoreHtmlView::OnDocumentComplete(ok);
  if (render_after_load_ && doc_ != nullptr) {
    render_after_load_ = false;
    doc_->RenderPage();
  }
}

}  // namespace tomeva::gui
