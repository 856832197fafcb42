// The document's library browsing: the library tree and its selection, the pages of library
// nodes and tree records, record links inside pages, and the page-back stack with its command.
#include <limits>

#include "core/base/file_util.h"
#include "core/base/mbstring.h"
#include "core/base/texts.h"
#include "core/doc/tomeva_doc.h"
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

}  // namespace

void CTomevaDoc::RebuildLibraryTree() {
  show_home_ = true;
  product_page_ = false;
  // The rebuilt tree has no selection until the user (or a posted selection) makes one.
  selected_item_ = -1;
  library_ = BuildLibraryTree(catalogue_);
}

void CTomevaDoc::NavigateRecorded(const std::string& location) {
  // The page was recorded by the caller; the navigation it starts must not be recorded again.
  page_stack_.set_link_recording(false);
  html_->Navigate(location);
}

void CTomevaDoc::RenderBrowsingPage() {
  if (show_home_) {
    const std::string page =
        JoinPath(settings_.ebook_dir, product_page_ ? "Tomeva.htm" : "home.htm");
    page_stack_.PushPage(kPageLibrary, page, selected_item_);
    NavigateRecorded(page);
    return;
  }
  RenderBrowsePage(current_node_data_);
}

void CTomevaDoc::RenderBrowsePage(long long item_data) {
  if ((item_data >> 16) == 0) {
    // A book or a section: its page from the table of contents; the start page when that page
    // is not in the library, rather than the browser's error page.
    std::string page = NodePageOf(catalogue_, library_.items, selected_item_);
    if (!FileExists(page)) page = JoinPath(settings_.ebook_dir, "home.htm");
    page_stack_.PushPage(kPageLibrary, page, selected_item_);
    NavigateRecorded(page);
    return;
  }
  const int k = static_cast<int>(item_data & 0xFFFF);
  const bool known_book = k >= 1 && k <= static_cast<int>(catalogue_.rows().size());
  const std::string folder = known_book ? catalogue_.rows()[k - 1].folder : std::string();
  const int category = known_book ? CategoryNumber(catalogue_.rows()[k - 1].category) : -1;
  auto it = library_.record_map.find(std::to_string(item_data));
  const std::string file = it != library_.record_map.end() ? it->second : std::string();
  const std::string path = JoinPath(JoinPath(settings_.ebook_dir, folder), file);
  page_stack_.PushPage(kPageTreeRecord, path, selected_item_);

  // A record file that is missing or does not parse gives an empty table.
  CXmlDocument record;
  if (!file.empty()) record.Load(path);
  RenderContext ctx;
  ctx.config = &page_config_;
  ctx.labels = &field_labels_;
  ctx.links = link_settings_;
  ctx.library_dir = settings_.ebook_dir;
  ctx.app_dir = settings_.app_dir;
  ctx.search_mode = false;
  RecordPage page = RenderBrowseRecord(record, category, folder, ctx);
  if (page.generated) {
    html_->SetBodyAttribute("BGCOLOR", page_config_.bodybkcolor);
    html_->SetStyleSheet(page_config_.style);
    html_->ShowHtml(page.html);
    html_->ScrollToTop();
    return;
  }
  // A named page that is missing shows the start page; a PDF is handed to the view as it is.
  if (!page.is_pdf && !EndsWith(ToLowerAscii(page.location), ".pdf") &&
      !FileExists(page.location)) {
    page.location = JoinPath(settings_.ebook_dir, "home.htm");
  }
  NavigateRecorded(page.location);
}

void CTomevaDoc::OnTreeSelectionChanged(int item, long long data) {
  if (item < 0) {
    selected_item_ = -1;
    show_home_ = true;
    product_page_ = false;
    UpdateAllViews(false);
    return;
  }
  selected_item_ = item;
  current_record_text_.clear();
  product_page_ = false;
  if (data == kDataTitleRoot || data == kDataWelcome || data == kDataProduct) {
    show_home_ = true;
    current_node_data_ = 0;
    record_index_ = 0;
    if (data == kDataProduct && !search_mode_) product_page_ = true;
  } else {
    // In search mode the data is the hit number; in the library a node's data word, whose
    // record index is never used there.
    record_index_ = data - 1 <= std::numeric_limits<int>::max() ? static_cast<int>(data - 1) : 0;
    current_node_data_ = data;
    show_home_ = false;
  }
  UpdateAllViews(false);
}

void CTomevaDoc::OnTreeClick() {
  if (current_record_text_.empty()) return;
  current_record_text_.clear();
  UpdateAllViews(false);
}

bool CTomevaDoc::OnBeforeNavigate(const std::string& location) {
  const std::string name = BaseName(location);
  if (IsRecordFileName(name)) {
    if (search_mode_) {
      // The linked record replaces the hit's own until the tree is clicked.
      std::string text;
      ReadWholeFile(location, &text);
      current_record_text_ = std::move(text);
      UpdateAllViews();
    } else if (tree_ != nullptr) {
      const int book = BookItemOf(library_.items, selected_item_);
      const int found = FindRecordItem(library_, book, name);
      if (found >= 0) {
        tree_->PostSelectItem(found);
      } else {
        tree_->ShowMessage(Text(kTextLinkTargetMissing));
      }
    }
    return false;
  }
  if (page_stack_.link_recording()) {
    page_stack_.PushPage(kPageLink, location, selected_item_);
  } else {
    page_stack_.set_link_recording(true);
  }
  return true;
}

void CTomevaDoc::GoBack() {
  if (!page_stack_.can_go_back() || html_ == nullptr) return;
  page_stack_.set_push_suppressed(true);
  const PageBackEntry entry = page_stack_.Pop();
  if (entry.kind == kPageLink) {
    page_stack_.set_push_suppressed(false);
    NavigateRecorded(entry.location);
    return;
  }
  if (entry.tree_item != selected_item_) {
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
    NavigateRecorded(JoinPath(settings_.ebook_dir, "home.htm"));
    return;
  }
  if (entry.kind == kPageLibrary) {
    page_stack_.set_push_suppressed(false);
    NavigateRecorded(entry.location);
    return;
  }
  // The record of the selected item is generated again; its push is the one suppressed. A
  // generated page starts no navigation, so link recording stays as it is: the next followed
  // link is recorded.
  UpdateAllViews(false);
}

}  // namespace tomeva
