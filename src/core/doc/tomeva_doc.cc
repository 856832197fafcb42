#include "core/doc/tomeva_doc.h"

#include <algorithm>

#include "core/base/file_util.h"
#include "core/base/gbk.h"
#include "core/base/texts.h"
#include "core/doc/command_ids.h"

namespace tomeva {

bool QueryHistoryEntry::SameQueryAs(const QueryHistoryEntry& other) const {
  return query == other.query && field_flag == other.field_flag &&
         field_label == other.field_label && book_flag == other.book_flag &&
         book_checks == other.book_checks;
}

CTomevaDoc::CTomevaDoc(Settings settings) : settings_(std::move(settings)) {
  catalogue_.LoadCatalogue(settings_.ebook_dir);
  page_config_ = LoadResultPageConfig(settings_.app_dir + "SearchResultConfig.xml",
                                      settings_.ebook_dir);
  field_labels_ = LoadFieldLabels(catalogue_.document());
}

CTomevaDoc::~CTomevaDoc() {
  // The installation's exit program (for example a closing animation) runs as the document goes.
  if (desktop_ != nullptr && !settings_.exit_command.empty()) {
    desktop_->RunCommandLine(settings_.exit_command, settings_.exit_dir);
  }
}

bool CTomevaDoc::OnCommand(int id) {
  if (id >= kCmdHistoryFirst && id <= kCmdHistoryLast) {
    ReplayHistoryEntry(id);
    return true;
  }
  if (id >= kCmdZoomSmallest && id <= kCmdZoomLargest) {
    SetZoomLevel(id);
    return true;
  }
  switch (id) {
    case kCmdSearch:
      RunSearch();
      return true;
    case kCmdBackToQuery:
      BackToPreviousQuery();
      return true;
    case kCmdAdvancedSearch:
      ToggleAdvancedSearch();
      return true;
    case kCmdBookSearch:
      ToggleBookSearch();
      return true;
    case kCmdModeExact:
    case kCmdModeNatural:
    case kCmdModeAuto:
      SetQueryMode(id);
      return true;
    case kCmdHelp:
      ShowHelp();
      return true;
    case kCmdPublisherSite:
      OpenPublisherSite();
      return true;
    case kCmdHookPageButtons:
      HookPageButtons();
      return true;
    case kCmdHome:
      GoHome();
      return true;
    case kCmdBack:
      GoBack();
      return true;
    case kCmdPdf:
      // Page-back history and PDF opening arrive with result navigation; until then the
      // commands are owned here and change nothing.
      return true;
    default:
      return false;
  }
}

bool CTomevaDoc::OnUpdateCommand(int id, CommandState* state) const {
  if (id >= kCmdModeExact && id <= kCmdModeAuto) {
    state->enabled = true;
    state->checked = id == kCmdModeExact + query_mode_;
    return true;
  }
  if (id >= kCmdZoomSmallest && id <= kCmdZoomLargest) {
    state->enabled = true;
    state->checked = id == kCmdZoomSmallest + zoom_level_;
    return true;
  }
  if (id >= kCmdHistoryFirst && id <= kCmdHistoryLast) {
    state->enabled = true;
    state->checked = false;
    return true;
  }
  switch (id) {
    case kCmdAdvancedSearch:
      *state = {true, advanced_search_};
      return true;
    case kCmdBookSearch:
      *state = {true, book_search_};
      return true;
    case kCmdBackToQuery:
      *state = {!history_.empty(), false};
      return true;
    case kCmdHome:
      *state = {search_mode_, false};
      return true;
    case kCmdBack:
      *state = {page_stack_.can_go_back(), false};
      return true;
    case kCmdSearch:
    case kCmdHookPageButtons:
    case kCmdHelp:
    case kCmdPublisherSite:
    case kCmdPdf:
      *state = {true, false};
      return true;
    default:
      return false;
  }
}

void CTomevaDoc::UpdateAllViews(bool update_tree) {
  if (tree_ != nullptr && update_tree) {
    if (!search_mode_) {
      RebuildLibraryTree();
      tree_->SetItems(library_.items);
    } else {
      UpdateResultTree();
    }
    tree_->OnDocumentUpdate();
  }
  if (html_ != nullptr) RenderPage();
}

void CTomevaDoc::OnHtmlViewInitialUpdate() {
  if (html_ == nullptr) return;
  initial_browser_zoom_ = html_->QueryZoom();
  html_->SetZoom(zoom_level_);
}

void CTomevaDoc::OnHtmlViewDestroy() {
  if (html_ != nullptr) html_->SetZoom(initial_browser_zoom_);
}

void CTomevaDoc::RenderPage() {
  if (html_ == nullptr) return;
  if (html_->pdf_shown()) {
    // A PDF leaves the view through the start page; the page asked for is rendered once that
    // has loaded.
    html_->Navigate(JoinPath(settings_.ebook_dir, "home.htm"));
    html_->set_pdf_shown(false);
    html_->set_render_after_load(true);
    return;
  }
  if (search_mode_) {
    RenderSearchPage();
    return;
  }
  RenderBrowsingPage();
}

void CTomevaDoc::OnPageButtonClick(const std::string& element_id) {
  if (element_id == "B0") {
    PreviousPage();
  } else if (element_id == "B1") {
    PreviousRecord();
  } else if (element_id == "B2") {
    NextRecord();
  } else if (element_id == "B3") {
    NextPage();
  }
  UpdateAllViews();
}

void CTomevaDoc::RecordQuery(const QueryHistoryEntry& entry) {
  auto same = std::find_if(history_.begin(), history_.end(),
                           [&](const QueryHistoryEntry& e) { return e.SameQueryAs(entry); });
  if (same != history_.end()) history_.erase(same);
  while (history_.size() >= static_cast<size_t>(kHistoryMax)) history_.pop_front();
  history_.push_back(entry);
}

std::vector<std::pair<int, std::string>> CTomevaDoc::HistoryMenu() const {
  std::vector<std::pair<int, std::string>> items;
  int k = 0;
  for (auto it = history_.rbegin(); it != history_.rend() && k < kHistoryMenuMax; ++it, ++k) {
    std::string text = it->query;
    if (it->field_flag || it->book_flag) text += "(*)";
    items.emplace_back(kCmdHistoryFirst + k, std::move(text));
  }
  return items;
}

int CTomevaDoc::ReachableCount() const { return std::min(std::max(hit_total_, 0), kReachableHits); }

void CTomevaDoc::SetHitTotal(int total) {
  hit_total_ = std::max(total, 0);
  page_index_ = 0;
  record_index_ = 0;
}

// Without a reachable hit there is nothing to move to; the cursor stays where it is.
void CTomevaDoc::FirstPage() {
  if (ReachableCount() == 0) return;
  page_index_ = 0;
  record_index_ = 0;
}

void CTomevaDoc::PreviousPage() {
  if (ReachableCount() == 0) return;
  page_index_ = std::max(page_index_ - 1, 0);
  record_index_ = std::max(record_index_ - kPageSize, 0);
}

void CTomevaDoc::PreviousRecord() {
  if (ReachableCount() == 0) return;
  record_index_ = std::max(record_index_ - 1, 0);
  page_index_ = record_index_ / kPageSize;
}

void CTomevaDoc::NextRecord() {
  int n = ReachableCount();
  if (n == 0) return;
  record_index_ = std::min(record_index_ + 1, n - 1);
  page_index_ = record_index_ / kPageSize;
}

void CTomevaDoc::NextPage() {
  int n = ReachableCount();
  if (n == 0) return;
  page_index_ = std::min(page_index_ + 1, (n - 1) / kPageSize);
  record_index_ = std::min(record_index_ + kPageSize, n - 1);
}

void CTomevaDoc::LastPage() {
  int n = ReachableCount();
  if (n == 0) return;
  record_index_ = n - 1;
  page_index_ = (n - 1) / kPageSize;
}

std::string CTomevaDoc::FieldNameForLabel(const std::string& label) {
  static const std::pair<const char*, const char*> kFields[] = {
      {"标题", "title"}, {"作者", "author"}, {"内容摘要", "KeyWords"}};
  for (const auto& [utf8_label, field] : kFields) {
    if (label == Utf8ToGbk(utf8_label)) return field;
  }
  return "content";
}

std::string CTomevaDoc::HelpFilePath() const {
  // The help is shipped as HTML beside the program's files in the `path` folder.
  return JoinPath(settings_.exit_dir, "Tomeva.htm");
}

void CTomevaDoc::ShowHelp() {
  // Neither the file nor the viewer is checked: a failed start shows nothing.
  if (desktop_ != nullptr) desktop_->OpenDocument(HelpFilePath());
}

void CTomevaDoc::OpenPublisherSite() {
  if (desktop_ != nullptr) desktop_->OpenInBrowserWindow(kPublisherHomePage);
}

void CTomevaDoc::HookPageButtons() {
  if (html_ != nullptr) html_->HookPageButtons();
}

void CTomevaDoc::GoHome() {
  if (!search_mode_) {
    if (html_ != nullptr) RenderPage();
    return;
  }
  search_mode_ = false;
  selected_item_ = -1;
  if (tree_ != nullptr) tree_->DeleteAllItems();
  if (html_ != nullptr) html_->ShowHtml("");
  UpdateAllViews();
}

}  // namespace tomeva
