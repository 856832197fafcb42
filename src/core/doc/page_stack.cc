#include "core/doc/page_stack.h"

#include <utility>

namespace tomeva {

bool PageStack::PushPage(int kind, std::string location, int tree_item) {
  if (push_suppressed_) {
    push_suppressed_ = false;
    return false;
  }
  entries_.push_back({kind, std::move(location), tree_item});
  return true;
}

PageBackEntry PageStack::Pop() {
  if (entries_.size() < 2) return {};
  entries_.pop_back();
  return entries_.back();
}

}  // namespace tomeva
