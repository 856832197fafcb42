// The page-back stack: every library page, tree record page and followed link the right-hand view
// showed, the last entry being the page shown now, each with the tree item that was selected when
// it was recorded. Two flags steer recording: push suppression (the next push is skipped, used
// while going back re-shows a page) and link recording (a navigation the browser starts by itself
// is recorded while it is set; the program clears it before each navigation it records itself).
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_CORE_DOC_PAGE_STACK_H_
#define TOMEVA_CORE_DOC_PAGE_STACK_H_

#include <string>
#include <vector>

namespace tomeva {

enum PageKind : int {
  kPageTreeRecord = 0,  // a record page of the library tree (location = the record file)
  kPageLibrary = 1,     // the start page, the product page or a tree node's page
  kPageLink = 2,        // a page reached by following a link inside the browser
};

inline constexpr int kNoTreeItem = -1;

struct PageBackEntry {
  int kind = kPageLibrary;
  std::string location;
  int tree_item = kNoTreeItem;  // position in the tree's item list, kNoTreeItem for none

  bool operator==(const PageBackEntry&) const = default;
};

class PageStack {
 public:
  // Appends an entry, unless push suppression is set: then the flag is cleared and nothing is
  // recorded. Returns true when the entry was appended.
  bool PushPage(int kind, std::string location, int tree_item);
  // Removes the page shown now and returns the entry before it (which stays and becomes the
  // page shown now). Only valid with size() >= 2; otherwise nothing changes and an empty entry
  // is returned.
  PageBackEntry Pop();
  void Clear() { entries_.clear(); }

  int size() const { return static_cast<int>(entries_.size()); }
  bool can_go_back() const { return entries_.size() >= 2; }
  const std::vector<PageBackEntry>& entries() const { return entries_; }

  bool push_suppressed() const { return push_suppressed_; }
  void set_push_suppressed(bool on) { push_suppressed_ = on; }
  bool link_recording() const { return link_recording_; }
  void set_link_recording(bool on) { link_recording_ = on; }

 private:
  std::vector<PageBackEntry> entries_;
  bool push_suppressed_ = false;
  bool link_recording_ = true;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_PAGE_STACK_H_
