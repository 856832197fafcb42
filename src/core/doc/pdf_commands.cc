// Opening the PDF of what is selected: the hit's record in search mode, the tree node in the
// library. The PDF is shown in the HTML view; its words are marked by the highlighter's worker.
#include "base/file_util.h"
#include "base/texts.h"
#include "core/doc/tomeva_doc.h"
#include "core/pdf/record_pdf.h"
#include "core/xml/xml_document.h"

namespace tomeva {

void CTomevaDoc::OnShowPdf(bool from_pager) {
  // The pager cell is there whatever is selected, so it skips the checks the command makes
  // before it looks for a PDF; it still says why none can be opened.
  auto tell = [this](int text) {
    if (tree_ != nullptr) tree_->ShowMessage(Text(text));
  };
  const std::string& viewer = settings_.pdf_viewer_path;
  if (!from_pager && viewer.empty()) return;
  std::vector<std::string> keywords;
  if (switches_.search_mode) {
    SearchResults* current = results_.current();
    if (!from_pager) {
      if (current == nullptr || current->GetTotalCount() <= 0) return;
      // The hit list selects the cursor's hit by itself after every search and move; only a
      // choice of the user is reported, so both count.
      if (browse_.selected_item < 0 && !result_tree_.HasSelectedItem()) {
        return tell(kTextSelectRecordFirst);
      }
    }
    CXmlDocument record;
    const std::string xml = current != nullptr ? current->GetHit(cursor_.record_index()).xml : "";
    if (record.ParseText(xml) != 1 && !from_pager) return;
    browse_.current_pdf_path = GetRecordPdf(record, settings_.app_dir);
    if (current != nullptr) keywords = PdfKeywords(current->keywords());
  } else {
    if (!from_pager && browse_.selected_item < 0) return tell(kTextSelectNodeFirst);
    const int k = static_cast<int>(browse_.current_node_data & 0xFFFF);
    if (k == 0 || k == 0xFFFF) return tell(kTextSelectBookFirst);
    browse_.current_pdf_path = NodePdfOf(catalogue_, browse_.library.items, browse_.selected_item);
  }
  browse_.current_pdf_keywords = keywords;
  const std::string& pdf = browse_.current_pdf_path;
  if (pdf.empty()) return tell(kTextNoPdf);
  if (html_ != nullptr) {
    // Recorded like a followed link, so that going back returns to the PDF; the navigation it
    // starts is then not recorded a second time.
    page_stack_.PushPage(kPageLink, pdf, browse_.selected_item);
    page_stack_.set_link_recording(false);
    html_->set_pdf_shown(true);
    html_->Navigate(pdf);
  }
  // A missing file is still navigated to, so the view says what is wrong; there is nothing in
  // it to mark.
  if (FileExists(pdf) && highlighter_ != nullptr)
    highlighter_->StartHighlight(viewer, pdf, keywords);
}

}  // namespace tomeva
