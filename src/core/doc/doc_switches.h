// The document's switches: what the next search is shaped by and how the pages are shown. Plain
// values; the document changes them through its commands, the frame and the tests read them.
#ifndef TOMEVA_CORE_DOC_DOC_SWITCHES_H_
#define TOMEVA_CORE_DOC_DOC_SWITCHES_H_

#include "core/engine/result_set.h"

namespace tomeva {

struct DocSwitches {
  QueryMode query_mode = kQueryAuto;
  int zoom_level = 2;            // the text size chosen, 0 (smallest) .. 4 (largest)
  int initial_browser_zoom = 2;  // the browser's own text size, put back when the view goes
  bool advanced_search = false;  // the advanced-search bar is shown
  bool book_search = true;       // searches are restricted to the checked books
  bool search_mode = false;      // the views show search results, not the library
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_DOC_SWITCHES_H_
