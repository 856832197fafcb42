// The document's search commands: running a search from the query bar, the query history's
// replay, the switches that shape the next search, the per-book results and the record cursor's
// moves from the tree.
#include <algorithm>

#include "core/base/texts.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/views/page_render.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

// The engine condition that keeps a search inside one book: its category as a quoted phrase.
std::string BookFilter(const std::string& category) { return "f15:\"" + category + "\""; }

}  // namespace

void CTomevaDoc::RunSearch() {
  if (frame_ == nullptr) return;
  // A new search starts a new walk: the pages shown before it cannot be gone back to.
  page_stack_.Clear();
  frame_->SelectAllQueryText();
  QueryHistoryEntry entry;
  entry.query_mode = query_mode_;
  entry.query = frame_->GetQueryText();
  std::string field = "content";
  if (advanced_search_) {
    entry.field_label = frame_->GetFieldText();
    entry.field_flag = !entry.field_label.empty();
    field = FieldNameForLabel(entry.field_label);
  }
  if (book_search_) {
    bool any = false;
    for (int i = 0; i < kBookPlaces; ++i) {
      entry.book_checks[i] = tree_ != nullptr && tree_->GetBookCheck(i);
      any = any || entry.book_checks[i];
    }
    // Restricted to books but none chosen: no search, nothing changes.
    if (!any) return;
    entry.book_flag = true;
  }
  RecordQuery(entry);
  ResetHitMarker();
  if (tree_ != nullptr) tree_->DeleteAllItems();
  if (html_ != nullptr) html_->ShowHtml(Text(kTextSearching));
  search_mode_ = true;
  ReleaseResults();

  if (entry.book_flag) {
    // The book list's rows, the places and the history's checks all stop at kBookPlaces.
    const int n = std::min(catalogue_.book_count(), kBookPlaces);
    for (int i = 0; i < n; ++i) {
      if (!entry.book_checks[i]) continue;
      book_results_[i] = Search(entry.query, field, BookFilter(catalogue_.rows()[i].category));
    }
    // The first book with hits is shown. When none has any, the views are still redrawn once so
    // that the page leaves "检索中…" for the no-result message.
    std::shared_ptr<SearchResults> first;
    for (int i = 0; i < n && first == nullptr; ++i) {
      if (book_results_[i] != nullptr && book_results_[i]->GetTotalCount() > 0) {
        first = book_results_[i];
      }
    }
    SetCurrentResult(std::move(first));
    if (tree_ != nullptr) tree_->SetBookCounts(BookCounts());
  } else {
    SetCurrentResult(Search(entry.query, field, ""));
  }
  last_query_ = entry.query;
}

std::shared_ptr<SearchResults> CTomevaDoc::Search(const std::string& query,
                                                  const std::string& field,
                                                  const std::string& condition) {
  if (!search_runner_) return nullptr;
  return search_runner_(query, field, condition, query_mode_);
}

void CTomevaDoc::ResetHitMarker() {
  result_tree_.ResetHitMarker();
  result_items_.clear();
  if (tree_ != nullptr) tree_->ResetHitMarker();
}

void CTomevaDoc::UpdateResultTree() {
  ResultTreeUpdate update = result_tree_.Update(SearchTreeSource());
  if (update.rebuild) {
    result_items_ = std::move(update.items);
  } else {
    int position = 0;
    for (TreeItem& item : result_items_) {
      item.selected = item.parent == 0 && position++ == update.select_position;
    }
  }
  tree_->SetItems(result_items_);
}

void CTomevaDoc::ReleaseResults() {
  for (auto& place : book_results_) place.reset();
  current_.reset();
  hit_total_ = 0;
}

void CTomevaDoc::SetCurrentResult(std::shared_ptr<SearchResults> result) {
  current_ = std::move(result);
  SetHitTotal(current_ != nullptr ? current_->GetTotalCount() : 0);
  ResetHitMarker();
  UpdateAllViews();
}

SearchResults* CTomevaDoc::book_result(int place) const {
  if (place < 0 || place >= kBookPlaces) return nullptr;
  return book_results_[place].get();
}

std::vector<int> CTomevaDoc::BookCounts() const {
  const int n = std::min(catalogue_.book_count(), kBookPlaces);
  std::vector<int> counts(n, 0);
  for (int i = 0; i < n; ++i) {
    if (book_results_[i] != nullptr) counts[i] = std::max(book_results_[i]->GetTotalCount(), 0);
  }
  return counts;
}

void CTomevaDoc::ShowBookResults(int position) {
  selected_book_position_ = position;
  if (position < 0 || position >= kBookPlaces || book_results_[position] == nullptr) return;
  SetCurrentResult(book_results_[position]);
}

ResultTreeSource CTomevaDoc::SearchTreeSource() {
  ResultTreeSource source;
  if (frame_ != nullptr) source.query_text = frame_->GetQueryText();
  source.total = current_ != nullptr ? std::max(current_->GetTotalCount(), 0) : 0;
  SearchResults* result = current_.get();
  source.hit = [result](int n) { return result != nullptr ? result->GetHit(n) : SearchHit{}; };
  const Catalogue* catalogue = &catalogue_;
  source.book_name = [catalogue](int category) {
    int position = catalogue->FindBookByCategory(category);
    return position >= 0 ? catalogue->BookName(position + 1) : std::string();
  };
  source.page_index = page_index_;
  source.record_index = record_index_;
  return source;
}

bool CTomevaDoc::MoveRecordCursor(CursorMove move) {
  if (current_ == nullptr || current_->GetTotalCount() <= 0) return false;
  switch (move) {
    case CursorMove::kFirstPage:
      FirstPage();
      break;
    case CursorMove::kPreviousPage:
      PreviousPage();
      break;
    case CursorMove::kPreviousRecord:
      PreviousRecord();
      break;
    case CursorMove::kNextRecord:
      NextRecord();
      break;
    case CursorMove::kNextPage:
      NextPage();
      break;
    case CursorMove::kLastPage:
      LastPage();
      break;
  }
  UpdateAllViews();
  return true;
}

void CTomevaDoc::RestoreQueryControls(const QueryHistoryEntry& entry) {
  frame_->SetQueryText(entry.query);
  if (advanced_search_ != entry.field_flag) ToggleAdvancedSearch();
  if (entry.field_flag) frame_->SetFieldText(entry.field_label);
  if (book_search_ != entry.book_flag) ToggleBookSearch();
  if (entry.book_flag && tree_ != nullptr) {
    for (int i = 0; i < kBookPlaces; ++i) tree_->SetBookCheck(i, entry.book_checks[i]);
  }
}

void CTomevaDoc::BackToPreviousQuery() {
  if (history_.size() < 2 || frame_ == nullptr) return;
  QueryHistoryEntry entry = history_[history_.size() - 2];
  query_mode_ = entry.query_mode;
  RestoreQueryControls(entry);
  RunSearch();
}

void CTomevaDoc::ReplayHistoryEntry(int id) {
  int count = static_cast<int>(history_.size());
  int p = count - 1 - (id - kCmdHistoryFirst);
  if (p < 0 || p >= count || frame_ == nullptr) return;
  QueryHistoryEntry entry = history_[p];
  RestoreQueryControls(entry);
  frame_->PostCommand(kCmdSearch);
}

void CTomevaDoc::ToggleAdvancedSearch() {
  advanced_search_ = !advanced_search_;
  if (frame_ == nullptr) return;
  frame_->ShowAdvancedBar(advanced_search_);
  if (!advanced_search_) frame_->SetFieldText("");
}

void CTomevaDoc::ToggleBookSearch() {
  book_search_ = !book_search_;
  if (tree_ == nullptr) return;
  tree_->ShowBookList(book_search_);
  for (int i = 0; i < kBookPlaces; ++i) tree_->SetBookCheck(i, true);
  // The list shows what the last book-restricted search found per book (0 where none ran).
  tree_->SetBookCounts(BookCounts());
}

void CTomevaDoc::SetQueryMode(int id) { query_mode_ = id - kCmdModeExact; }

void CTomevaDoc::SetZoomLevel(int id) {
  if (id == kCmdZoomSmallest + zoom_level_) return;
  zoom_level_ = id - kCmdZoomSmallest;
  if (html_ != nullptr) html_->SetZoom(zoom_level_);
}

void CTomevaDoc::RenderSearchPage() {
  if (current_ == nullptr || current_->GetTotalCount() <= 0) {
    html_->ShowHtml(
        NoResultPage(advanced_search_, frame_ != nullptr ? frame_->GetQueryText() : ""));
    return;
  }
  SearchHit hit = current_->GetHit(record_index_);
  CXmlDocument record;
  // A record that a record link in the page asked for is shown in place of the hit's own.
  record.ParseText(current_record_text_.empty() ? hit.xml : current_record_text_);
  const int book = catalogue_.FindBookByCategory(hit.category);
  const std::string folder = book >= 0 ? catalogue_.rows()[book].folder : std::string();
  RenderContext ctx;
  ctx.config = &page_config_;
  ctx.labels = &field_labels_;
  ctx.links = link_settings_;
  ctx.library_dir = settings_.ebook_dir;
  ctx.app_dir = settings_.app_dir;
  ctx.search_mode = true;
  ctx.record_index = record_index_;
  RecordPage page = RenderSearchRecord(record, hit.category, folder, ctx);
  if (page.generated) {
    html_->SetBodyAttribute("BGCOLOR", page_config_.bodybkcolor);
    html_->SetStyleSheet(page_config_.style);
    html_->ShowHtml(page.html);
  } else {
    html_->Navigate(page.location);
  }
  // A PDF carries no page to paint; its words are marked by the PDF viewer.
  if (!page.is_pdf) PaintKeywords();
  html_->HookPageButtons();
}

void CTomevaDoc::PaintKeywords() {
  if (html_ == nullptr || current_ == nullptr) return;
  const std::vector<std::string>& keywords = current_->keywords();
  const int n = std::min(static_cast<int>(keywords.size()), kPaintedKeywords);
  // From the last painted keyword back to the first, as the marks are laid on the page.
  for (int k = n - 1; k >= 0; --k) {
    html_->HighlightInPage(keywords[k], kKeywordColours[k], true);
  }
}

}  // namespace tomeva
