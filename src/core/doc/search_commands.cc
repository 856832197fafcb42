// The document's search commands: running a search from the query bar, the query history's
// replay, the switches that shape the next search, the per-book results and the record cursor's
// moves from the tree.
#include <algorithm>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/texts.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/engine/keyword_forms.h"
#include "core/pdf/record_pdf.h"
#include "core/views/page_render.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

// The lines of `text` on one line, two spaces apart.
std::string OneLine(const std::string& text) {
  std::string line;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) line += (line.empty() ? "" : "  ") + text.substr(start, end - start);
    start = end + 1;
  }
  return line;
}

// The engine condition that keeps a search inside one book: its category as a quoted phrase.
std::string BookFilter(const std::string& category) { return "f15:\"" + category + "\""; }

}  // namespace

void CTomevaDoc::RunSearch() {
  if (frame_ == nullptr) return;
  // A new search starts a new walk: the pages shown before it cannot be gone back to.
  page_stack_.Clear();
  frame_->SelectAllQueryText();
  QueryHistoryEntry entry;
  entry.query_mode = switches_.query_mode;
  entry.query = frame_->GetQueryText();
  std::string field = "content";
  if (switches_.advanced_search) {
    entry.field_label = frame_->GetFieldText();
    entry.field_flag = !entry.field_label.empty();
    field = FieldNameForLabel(entry.field_label);
  }
  if (switches_.book_search) {
    bool any = false;
    for (int i = 0; i < kBookPlaces; ++i) {
      entry.book_checks[i] = tree_ != nullptr && tree_->GetBookCheck(i);
      any = any || entry.book_checks[i];
    }
    // Restricted to books but none chosen: no search, and the user is told why nothing happens.
    if (!any) {
      if (tree_ != nullptr) tree_->ShowMessage(Text(kTextSelectBooksFirst));
      return;
    }
    entry.book_flag = true;
  }
  history_.Record(entry);
  ResetHitMarker();
  if (tree_ != nullptr) tree_->DeleteAllItems();
  if (html_ != nullptr) html_->ShowHtml(Text(kTextSearching));
  switches_.search_mode = true;
  results_.Release();

  auto search = [&](const std::string& condition) -> std::shared_ptr<SearchResults> {
    if (engine_ == nullptr) return nullptr;
    return engine_->Search({settings_.index_dir},
                           {entry.query, field, condition, switches_.query_mode});
  };
  if (entry.book_flag) {
    // The book list's rows, the places and the history's checks all stop at kBookPlaces.
    const int n = std::min(catalogue_.book_count(), kBookPlaces);
    for (int i = 0; i < n; ++i) {
      if (!entry.book_checks[i]) continue;
      results_.set_place(i, search(BookFilter(catalogue_.rows()[i].category)));
    }
    // The first book with hits is shown. When none has any, the views are still redrawn once so
    // that the page leaves "检索中…": for the failure of a search that could not run, else for
    // the no-result message.
    std::shared_ptr<SearchResults> shown = results_.FirstWithHits(n);
    if (shown == nullptr) shown = results_.FirstFailed(n);
    SetCurrentResult(std::move(shown));
    if (tree_ != nullptr) tree_->SetBookCounts(results_.Counts(catalogue_.book_count()));
  } else {
    SetCurrentResult(search(""));
  }
  // How the query was read, on one line: the reader sees which words, fields and phrases ran.
  if (results_.current() != nullptr) {
    frame_->ShowStatusText(OneLine(results_.current()->reading().text));
  }
}

void CTomevaDoc::ResetHitMarker() {
  result_tree_.ResetHitMarker();
  if (tree_ != nullptr) tree_->ResetHitMarker();
}

void CTomevaDoc::SetCurrentResult(std::shared_ptr<SearchResults> result) {
  results_.set_current(std::move(result));
  SearchResults* current = results_.current();
  cursor_.SetHitTotal(current != nullptr ? current->GetTotalCount() : 0);
  ResetHitMarker();
  UpdateAllViews();
}

void CTomevaDoc::ShowBookResults(int position) {
  std::shared_ptr<SearchResults> result = results_.Select(position);
  if (result != nullptr) SetCurrentResult(std::move(result));
}

bool CTomevaDoc::MoveRecordCursor(CursorMove move) {
  SearchResults* current = results_.current();
  if (current == nullptr || current->GetTotalCount() <= 0) return false;
  cursor_.Move(move);
  UpdateAllViews();
  return true;
}

void CTomevaDoc::RestoreQueryControls(const QueryHistoryEntry& entry) {
  frame_->SetQueryText(entry.query);
  if (switches_.advanced_search != entry.field_flag) ToggleAdvancedSearch();
  if (entry.field_flag) frame_->SetFieldText(entry.field_label);
  if (switches_.book_search != entry.book_flag) ToggleBookSearch();
  if (entry.book_flag && tree_ != nullptr) {
    for (int i = 0; i < kBookPlaces; ++i) tree_->SetBookCheck(i, entry.book_checks[i]);
  }
}

void CTomevaDoc::BackToPreviousQuery() {
  if (history_.size() < 2 || frame_ == nullptr) return;
  // A copy: the search below records the entry again and so moves it.
  const QueryHistoryEntry entry = history_.entries()[history_.size() - 2];
  switches_.query_mode = entry.query_mode;
  RestoreQueryControls(entry);
  RunSearch();
}

void CTomevaDoc::ReplayHistoryEntry(int id) {
  const QueryHistoryEntry* entry = history_.EntryForCommand(id);
  if (entry == nullptr || frame_ == nullptr) return;
  RestoreQueryControls(*entry);
  frame_->PostCommand(kCmdSearch);
}

void CTomevaDoc::ToggleAdvancedSearch() {
  switches_.advanced_search = !switches_.advanced_search;
  if (frame_ == nullptr) return;
  frame_->ShowAdvancedBar(switches_.advanced_search);
  if (!switches_.advanced_search) frame_->SetFieldText("");
}

void CTomevaDoc::ToggleBookSearch() {
  switches_.book_search = !switches_.book_search;
  if (tree_ == nullptr) return;
  tree_->ShowBookList(switches_.book_search);
  for (int i = 0; i < kBookPlaces; ++i) tree_->SetBookCheck(i, true);
  // The list shows what the last book-restricted search found per book (0 where none ran).
  tree_->SetBookCounts(results_.Counts(catalogue_.book_count()));
}

void CTomevaDoc::RenderSearchPage() {
  SearchResults* current = results_.current();
  if (current != nullptr && current->failure().failed && current->GetTotalCount() <= 0) {
    // The search did not run: saying that nothing was found would be false.
    const SearchFailure& failure = current->failure();
    html_->ShowHtml(IndexFailurePage(failure.index_path, failure.reason));
    return;
  }
  if (current == nullptr || current->GetTotalCount() <= 0) {
    html_->ShowHtml(
        NoResultPage(switches_.advanced_search, frame_ != nullptr ? frame_->GetQueryText() : ""));
    return;
  }
  const int record_index = cursor_.record_index();
  SearchHit hit = current->GetHit(record_index);
  CXmlDocument record;
  // A record that a record link in the page asked for is shown in place of the hit's own.
  const std::string& linked = browse_.current_record_text;
  record.ParseText(linked.empty() ? hit.xml : linked);
  const int book = catalogue_.FindBookByCategory(hit.category);
  const std::string folder = book >= 0 ? catalogue_.rows()[book].folder : std::string();
  const RecordPage page = ReplaceMissingPageFile(
      RenderSearchRecord(record, hit.category, folder, pages_.Context(true, record_index)));
  if (page.generated) {
    ShowGeneratedPage(page);
    // The page replaces the body of one that may have been scrolled: a hit starts at its top.
    html_->ScrollToTop();
  } else {
    html_->Navigate(page.location);
  }
  if (page.is_pdf) {
    // A hit whose page is a PDF: the viewer marks the hit's words in it, and the PDF becomes the
    // one the document keeps, so that going back to it marks them again. The view leaves the
    // viewer through a page of its own before it shows the next record.
    browse_.current_pdf_path = page.location;
    browse_.current_pdf_keywords = PdfKeywords(current->keywords());
    html_->set_pdf_shown(true);
    if (highlighter_ != nullptr) {
      highlighter_->StartHighlight(settings_.pdf_viewer_path, browse_.current_pdf_path,
                                   browse_.current_pdf_keywords);
    }
  } else {
    std::string text = page.html;
    if (!page.generated && !ReadWholeFile(page.location, &text)) text.clear();
    // A book's own page is outside text; the keyword forms are looked for in valid GBK only.
    RepairGbk(&text);
    PaintKeywords(text);
  }
  html_->HookPageButtons();
}

void CTomevaDoc::PaintKeywords(const std::string& page_text) {
  SearchResults* current = results_.current();
  if (html_ == nullptr || current == nullptr) return;
  const std::vector<std::string>& keywords = current->keywords();
  const size_t n = std::min(keywords.size(), static_cast<size_t>(kPaintedKeywords));
  if (n == 0) return;
  // The painted keywords and the typed run last, their forms found with one fold of the page.
  std::vector<std::string> words(keywords.begin(), keywords.begin() + n);
  words.push_back(current->reading().typed_run);
  const std::vector<std::vector<std::string>> forms =
      KeywordFormsIn(engine_, words, page_text, /*markup=*/true);
  // From the last painted keyword back to the first, as the marks are laid on the page; each in
  // every form the page holds, since a traditional or full-width form is as much a hit.
  for (size_t k = n; k-- > 0;) {
    for (const std::string& form : forms[k]) {
      html_->HighlightInPage(form, kKeywordColours[k], true);
    }
  }
  // The words as typed, where they stand together, are laid over their marks last, in the first
  // keyword's colour: the run reads as one mark, the words elsewhere keep theirs.
  for (const std::string& form : forms[n]) html_->HighlightInPage(form, kKeywordColours[0], true);
}

}  // namespace tomeva
