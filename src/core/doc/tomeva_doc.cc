// The document's construction, the dispatch of its commands and their enabling, and what the
// commands of every group share.
#include "core/doc/tomeva_doc.h"

#include "base/file_util.h"
#include "base/texts.h"
#include "core/doc/command_ids.h"

namespace tomeva {

CTomevaDoc::CTomevaDoc(Settings settings) : settings_(std::move(settings)) {
  // Without its catalogue the library shows as an empty tree and a book-restricted search has no
  // book to run in; without its overflow books they are simply missing. Either way the user
  // would not know why, so it is said once the window shows.
  if (!catalogue_.LoadCatalogue(settings_.ebook_dir)) {
    start_notices_.push_back(
        TextWith(kTextCatalogueNotLoaded, JoinPath(settings_.ebook_dir, "bookconfig.xml")));
  } else if (std::string overflow = catalogue_.OverflowMessage(); !overflow.empty()) {
    start_notices_.push_back(std::move(overflow));
  }
  pages_.config =
      LoadResultPageConfig(settings_.app_dir + "SearchResultConfig.xml", settings_.ebook_dir);
  pages_.labels = LoadFieldLabels(catalogue_.document());
  pages_.library_dir = settings_.ebook_dir;
  pages_.app_dir = settings_.app_dir;
}

CTomevaDoc::~CTomevaDoc() {
  // The installation's exit program (for example a closing animation) runs as the document goes.
  if (platform_ != nullptr && !settings_.exit_command.empty()) {
    // The `path` folder is where it runs when there is one; a folder that is missing is no
    // reason to leave the program out, which then runs in the current folder.
    const std::string& dir = settings_.exit_dir;
    platform_->Wait(settings_.exit_command, 1, 100, DirectoryExists(dir) ? dir : std::string());
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
      switches_.query_mode = static_cast<QueryMode>(id - kCmdModeExact);
      return true;
    case kCmdHelp:
      ShowHelp();
      return true;
    case kCmdPublisherSite:
      OpenPublisherSite();
      return true;
    case kCmdHookPageButtons:
      if (html_ != nullptr) html_->HookPageButtons();
      return true;
    case kCmdHome:
      GoHome();
      return true;
    case kCmdBack:
      GoBack();
      return true;
    case kCmdPdf:
      OnShowPdf();
      return true;
    default:
      return false;
  }
}

bool CTomevaDoc::OnUpdateCommand(int id, CommandState* state) const {
  if (id >= kCmdModeExact && id <= kCmdModeAuto) {
    state->enabled = true;
    state->checked = id == kCmdModeExact + static_cast<int>(switches_.query_mode);
    return true;
  }
  if (id >= kCmdZoomSmallest && id <= kCmdZoomLargest) {
    state->enabled = true;
    state->checked = id == kCmdZoomSmallest + switches_.zoom_level;
    return true;
  }
  if (id >= kCmdHistoryFirst && id <= kCmdHistoryLast) {
    state->enabled = true;
    state->checked = false;
    return true;
  }
  switch (id) {
    case kCmdAdvancedSearch:
      *state = {true, switches_.advanced_search};
      return true;
    case kCmdBookSearch:
      *state = {true, switches_.book_search};
      return true;
    case kCmdBackToQuery:
      *state = {!history_.empty(), false};
      return true;
    case kCmdHome:
      *state = {switches_.search_mode, false};
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

void CTomevaDoc::ShowGeneratedPage(const RecordPage& page) {
  html_->SetBodyAttribute("BGCOLOR", pages_.config.bodybkcolor);
  html_->SetStyleSheet(pages_.config.style);
  html_->ShowHtml(page.html);
}

}  // namespace tomeva
