// The document's library browsing: the library tree and its selection, the pages of library
// nodes and tree records, record links inside pages, the page-back stack with its command, and
// the way home from search mode.
#include <limits>
#include <optional>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/path_guard.h"
#include "base/texts.h"
#include "core/doc/tomeva_doc.h"
#include "core/pdf/record_pdf.h"
#include "core/views/library_tree.h"
#include "core/views/page_render.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

// A record file's name: "book_" + anything + ".xml", letters in any case.
bool IsRecordFileName(std::string_view name) {
  const std::string lower = ToLowerAscii(name);
  const size_t dot = lower.rfind('.');
  return StartsWith(lower, "book_") && dot != std::string::npos && lower.substr(dot + 1) == "xml";
}

// "http:" or "https:" at the start of `location` (any case).
bool IsWebAddress(std::string_view location) {
  const size_t colon = location.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string scheme = ToLowerAscii(location.substr(0, colon));
  return scheme == "http" || scheme == "https";
}

// The page was recorded by the caller; the navigation it starts must not be recorded again.
void NavigateRecorded(PageStack& stack, IHtmlView& html, const std::string& location) {
  stack.set_link_recording(false);
  html.Navigate(location);
}

// A location that names a PDF: ".pdf" at its end, in any case, after at least one character.
bool IsPdfLocation(std::string_view location) {
  return location.size() >= 5 && EqualsNoCase(location.substr(location.size() - 4), ".pdf");
}

}  // namespace

std::vector<std::string> CTomevaDoc::PdfWordsFor(const std::string& pdf) const {
  // The library has no words to mark. In search mode the PDF opened last keeps the words it was
  // opened with; any other gets the current search's.
  const SearchResults* current = results_.current();
  if (!switches_.search_mode) return {};
  if (!pdf.empty() && pdf == browse_.current_pdf_path) return browse_.current_pdf_keywords;
  return current != nullptr ? PdfKeywords(current->keywords()) : std::vector<std::string>();
}

void CTomevaDoc::HighlightShownPdf(const std::string& pdf) {
  // The viewer drops its marks when its document is left, so a PDF shown again gets its words
  // again; the view leaves the viewer through a page of its own before the next record.
  html_->set_pdf_shown(true);
  if (highlighter_ != nullptr) {
    highlighter_->StartHighlight(settings_.pdf_viewer_path, pdf, PdfWordsFor(pdf));
  }
}

void CTomevaDoc::ShowLinkedPdf(const std::string& location) {
  if (html_ == nullptr) return;
  // The link was recorded when it was followed; the viewer's load that shows it is not.
  page_stack_.set_link_recording(false);
  html_->Navigate(location);
  std::vector<std::string> words = PdfWordsFor(location);
  browse_.current_pdf_path = location;
  browse_.current_pdf_keywords = std::move(words);
  HighlightShownPdf(location);
}

void CTomevaDoc::RenderBrowsingPage() {
  const int selected = browse_.selected_item;
  if (browse_.show_home) {
    const std::string page =
        JoinPath(settings_.ebook_dir, browse_.product_page ? "Tomeva.htm" : "home.htm");
    page_stack_.PushPage(kPageLibrary, page, selected);
    NavigateRecorded(page_stack_, *html_, page);
    return;
  }
  const long long item_data = browse_.current_node_data;
  if ((item_data >> 16) == 0) {
    // A book or a section: its page from the table of contents; the start page when that page
    // is not in the library, rather than the browser's error page.
    std::string page = NodePageOf(catalogue_, browse_.library.items, selected);
    if (!FileExists(page)) page = JoinPath(settings_.ebook_dir, "home.htm");
    page_stack_.PushPage(kPageLibrary, page, selected);
    NavigateRecorded(page_stack_, *html_, page);
    if (IsPdfLocation(page)) html_->set_pdf_shown(true);
    return;
  }
  const int k = static_cast<int>(item_data & 0xFFFF);
  const bool known_book = k >= 1 && k <= static_cast<int>(catalogue_.rows().size());
  const std::string folder = known_book ? catalogue_.rows()[k - 1].folder : std::string();
  const int category = known_book ? CategoryNumber(catalogue_.rows()[k - 1].category) : -1;
  const auto& record_map = browse_.library.record_map;
  auto it = record_map.find(std::to_string(item_data));
  const std::string file = it != record_map.end() ? it->second : std::string();
  const std::string book = JoinPath(settings_.ebook_dir, folder);
  // The record's file name comes from the book's chapter.xml: one that leads out of the book's
  // folder is never read, and is reported as a missing record file.
  const std::optional<std::string> inside = ResolveInside(book, file);
  const std::string path = inside ? *inside : JoinPath(book, file);
  page_stack_.PushPage(kPageTreeRecord, path, selected);

  CXmlDocument record;
  if (!file.empty()) {
    // A record file that is missing or does not parse would render as an empty table, which
    // reads as an empty record; the page says which file it is instead.
    const bool missing = !inside || !FileExists(path);
    if (missing || record.Load(path) != 1) {
      RecordPage problem;
      problem.generated = true;
      problem.html = RecordFileProblemPage(
          missing ? RecordFileProblem::kMissing : RecordFileProblem::kBroken, path);
      ShowGeneratedPage(problem);
      html_->ScrollToTop();
      return;
    }
  }
  // A page file that is missing is named on a page of its own rather than replaced by the start
  // page, which would look as if nothing were wrong.
  RecordPage page = ReplaceMissingPageFile(
      RenderBrowseRecord(record, category, folder, pages_.Context(false)));
  if (page.generated) {
    ShowGeneratedPage(page);
    // The page replaces the body of one that may have been scrolled.
    html_->ScrollToTop();
    return;
  }
  NavigateRecorded(page_stack_, *html_, page.location);
  if (page.is_pdf) {
    html_->set_pdf_shown(true);
    // Started without words, for its check that a viewer is installed to show the PDF.
    if (highlighter_ != nullptr) {
      highlighter_->StartHighlight(settings_.pdf_viewer_path, page.location, {});
    }
  }
}

void CTomevaDoc::OnTreeSelectionChanged(int item, long long data) {
  if (item < 0) {
    browse_.selected_item = -1;
    browse_.show_home = true;
    browse_.product_page = false;
    UpdateAllViews(false);
    return;
  }
  // The book line under a hit is part of that hit: choosing it must not show the first hit.
  if (switches_.search_mode) data = result_tree_.HitDataOf(item, data);
  browse_.selected_item = item;
  browse_.current_record_text.clear();
  browse_.product_page = false;
  if (data == kDataTitleRoot || data == kDataWelcome || data == kDataProduct) {
    browse_.show_home = true;
    browse_.current_node_data = 0;
    cursor_.set_record_index(0);
    if (data == kDataProduct && !switches_.search_mode) browse_.product_page = true;
  } else {
    // In search mode the data is the hit number; in the library a node's data word, whose
    // record index is never used there.
    cursor_.set_record_index(
        data - 1 <= std::numeric_limits<int>::max() ? static_cast<int>(data - 1) : 0);
    browse_.current_node_data = data;
    browse_.show_home = false;
  }
  UpdateAllViews(false);
}

void CTomevaDoc::OnTreeClick() {
  if (browse_.current_record_text.empty()) return;
  browse_.current_record_text.clear();
  UpdateAllViews(false);
}

bool CTomevaDoc::IsLibraryLocation(std::string_view path) const {
  return IsInsideLibrary({settings_.app_dir, settings_.ebook_dir}, path);
}

std::string CTomevaDoc::OpenedAddress(std::string_view address) const {
  return CredentialedAddress(pages_.links, address);
}

bool CTomevaDoc::OnBeforeNavigate(const std::string& location) {
  // A page of a book may name any file; the view shows only the installation's and the
  // library's. Web addresses are the view's to route (to the browser window); every other kind
  // of address is no page of the library.
  if (location.empty() || location[0] != '/') {
    if (!IsWebAddress(location)) return false;
  } else if (!IsLibraryLocation(location)) {
    return false;
  }
  const std::string name = BaseName(location);
  if (IsRecordFileName(name)) {
    if (switches_.search_mode) {
      // The linked record replaces the hit's own until the tree is clicked.
      std::string text;
      ReadWholeFile(location, &text);
      RepairGbk(&text);  // a record file of a book: outside text
      browse_.current_record_text = std::move(text);
      UpdateAllViews();
    } else if (tree_ != nullptr) {
      const int book = BookItemOf(browse_.library.items, browse_.selected_item);
      const int found = FindRecordItem(browse_.library, book, name);
      if (found >= 0) {
        tree_->PostSelectItem(found);
      } else {
        tree_->ShowMessage(Text(kTextLinkTargetMissing));
      }
    }
    return false;
  }
  if (page_stack_.link_recording()) {
    page_stack_.PushPage(kPageLink, location, browse_.selected_item);
  } else {
    page_stack_.set_link_recording(true);
  }
  return true;
}

void CTomevaDoc::GoHome() {
  if (!switches_.search_mode) {
    if (html_ != nullptr) RenderPage();
    return;
  }
  switches_.search_mode = false;
  browse_.selected_item = -1;
  if (tree_ != nullptr) tree_->DeleteAllItems();
  if (html_ != nullptr) html_->ShowHtml("");
  UpdateAllViews();
}

void CTomevaDoc::GoBack() {
  if (!page_stack_.can_go_back() || html_ == nullptr) return;
  page_stack_.set_push_suppressed(true);
  const PageBackEntry entry = page_stack_.Pop();
  if (entry.kind == kPageLink) {
    page_stack_.set_push_suppressed(false);
    NavigateRecorded(page_stack_, *html_, entry.location);
    if (IsPdfLocation(entry.location)) HighlightShownPdf(entry.location);
    return;
  }
  if (entry.tree_item != browse_.selected_item) {
    // The tree selects the entry's item and its page is shown through the selection; the
    // suppression keeps that page from being recorded twice.
    if (tree_ != nullptr) {
      tree_->PostSelectItem(entry.tree_item);
    } else {
      page_stack_.set_push_suppressed(false);
    }
    return;
  }
  if (entry.tree_item == kNoTreeItem) {
    page_stack_.set_push_suppressed(false);
    NavigateRecorded(page_stack_, *html_, JoinPath(settings_.ebook_dir, "home.htm"));
    return;
  }
  if (entry.kind == kPageLibrary) {
    page_stack_.set_push_suppressed(false);
    NavigateRecorded(page_stack_, *html_, entry.location);
    if (IsPdfLocation(entry.location)) HighlightShownPdf(entry.location);
    return;
  }
  // The record of the selected item is generated again; its push is the one suppressed. A
  // generated page starts no navigation, so link recording stays as it is: the next followed
  // link is recorded.
  UpdateAllViews(false);
}

}  // namespace tomeva
