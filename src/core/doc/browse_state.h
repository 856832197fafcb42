// What library browsing shows: the tree the view shows in browsing mode, its selection, the node
// the pages follow, the page flags, and the record a record link asked for (which, in search
// mode, replaces the hit's own until the tree is clicked).
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_DOC_BROWSE_STATE_H_
#define TOMEVA_CORE_DOC_BROWSE_STATE_H_

#include <string>

#include "core/library/catalogue.h"
#include "core/views/library_tree.h"

namespace tomeva {

struct BrowseState {
  LibraryTree library;
  int selected_item = -1;  // position in library.items, -1 = none
  long long current_node_data = 0;
  bool show_home = true;            // the start page (or the product page) rather than a node's
  bool product_page = false;        // with show_home: the product page
  std::string current_record_text;  // "" = none
  // The PDF last resolved for opening ("" when none was found) and the words to mark in it (none
  // in the library); going back to a PDF marks them again.
  std::string current_pdf_path;
  std::vector<std::string> current_pdf_keywords;

  // The library tree built again from `catalogue`, with no selection and the start page to show:
  // the user (or a posted selection) makes the next selection.
  void Rebuild(const Catalogue& catalogue) {
    show_home = true;
    product_page = false;
    selected_item = -1;
    library = BuildLibraryTree(catalogue);
  }
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_BROWSE_STATE_H_
