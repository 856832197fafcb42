#include "gui/views/tomeva_view.h"

#include "core/doc/tomeva_doc.h"
#include "gui/frame/gbk_text.h"

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

void CTomevaView::OnClose() {
  if (closed_) return;
  closed_ = true;
  if (doc_ != nullptr) doc_->OnHtmlViewDestroy();
}

void CTomevaView::OnDocumentComplete(bool ok) {
  CMoreHtmlView::OnDocumentComplete(ok);
  if (render_after_load_ && doc_ != nullptr) {
    render_after_load_ = false;
    doc_->RenderPage();
  }
}

}  // namespace tomeva::gui
