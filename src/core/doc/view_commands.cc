// The document's view commands: the redrawing of its views, the text size, the page buttons of
// generated pages, the help and the publisher's site.
#include <algorithm>

#include "base/file_util.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/platform/command_line.h"
#include "core/settings/settings.h"

namespace tomeva {
namespace {

// The help viewer shipped beside the program, and the guide it shows.
constexpr char kHelpViewer[] = "tomeva-help";
constexpr char kHelpFileName[] = "Tomeva.htm";

// What the hit list shows: the query box's text and the cursor's page of `result` (null = none).
// The source reads the result; it is used before the next command changes that.
ResultTreeSource HitListSource(IFrameControls* frame, SearchResults* result,
                               const Catalogue& catalogue, const RecordCursor& cursor) {
  ResultTreeSource source;
  if (frame != nullptr) source.query_text = frame->GetQueryText();
  source.total = result != nullptr ? std::max(result->GetTotalCount(), 0) : 0;
  source.hit = [result](int n) { return result != nullptr ? result->GetHit(n) : SearchHit{}; };
  source.book_name = [&catalogue](int category) {
    int position = catalogue.FindBookByCategory(category);
    return position >= 0 ? catalogue.BookName(position + 1) : std::string();
  };
  if (result != nullptr) source.reading = result->reading().text;
  source.page_index = cursor.page_index();
  source.record_index = cursor.record_index();
  return source;
}

}  // namespace

void CTomevaDoc::UpdateAllViews(bool update_tree) {
  if (tree_ != nullptr && update_tree) {
    if (!switches_.search_mode) {
      browse_.Rebuild(catalogue_);
      tree_->SetItems(browse_.library.items);
    } else {
      tree_->SetItems(
          result_tree_.Show(HitListSource(frame_, results_.current(), catalogue_, cursor_)));
    }
    tree_->OnDocumentUpdate();
  }
  if (html_ != nullptr) RenderPage();
}

void CTomevaDoc::RenderPage() {
  if (html_ == nullptr) return;
  if (html_->pdf_shown()) {
    // A PDF leaves the view through the start page; the page asked for is rendered once that
    // has loaded. The start page is only a way through: it is not recorded as a followed link.
    page_stack_.set_link_recording(false);
    html_->Navigate(JoinPath(settings_.ebook_dir, "home.htm"));
    html_->set_pdf_shown(false);
    html_->set_render_after_load(true);
    return;
  }
  if (switches_.search_mode) {
    RenderSearchPage();
    return;
  }
  RenderBrowsingPage();
}

void CTomevaDoc::OnHtmlViewInitialUpdate() {
  if (html_ == nullptr) return;
  switches_.initial_browser_zoom = html_->QueryZoom();
  html_->SetZoom(switches_.zoom_level);
}

void CTomevaDoc::OnHtmlViewDestroy() {
  if (html_ != nullptr) html_->SetZoom(switches_.initial_browser_zoom);
}

void CTomevaDoc::SetZoomLevel(int id) {
  if (id == kCmdZoomSmallest + switches_.zoom_level) return;
  switches_.zoom_level = id - kCmdZoomSmallest;
  if (html_ != nullptr) html_->SetZoom(switches_.zoom_level);
}

void CTomevaDoc::OnPageButtonClick(const std::string& element_id) {
  static const std::pair<const char*, CursorMove> kButtons[] = {
      {"B0", CursorMove::kPreviousPage},
      {"B1", CursorMove::kPreviousRecord},
      {"B2", CursorMove::kNextRecord},
      {"B3", CursorMove::kNextPage},
  };
  for (const auto& [id, move] : kButtons) {
    if (element_id == id) cursor_.Move(move);
  }
  UpdateAllViews();
}

void CTomevaDoc::ShowHelp() {
  if (platform_ == nullptr) return;
  // The guide is shipped as HTML in the `path` folder. Neither the file nor the viewer is
  // checked, and the viewer is not waited for: a failed start shows nothing.
  const std::string command_line =
      QuoteArgument(platform_->CompanionProgram(kHelpViewer)) + " " +
      QuoteArgument(JoinPath(settings_.exit_dir, kHelpFileName));
  platform_->RunCommandLineTitled(command_line);
}

void CTomevaDoc::OpenPublisherSite() {
  // Read when asked rather than at start: the address is needed once in a while, if at all.
  if (platform_ != nullptr) platform_->OpenInBrowserWindow(PublisherSiteAddress(settings_.app_dir));
}

}  // namespace tomeva
