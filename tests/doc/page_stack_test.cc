#include "core/doc/page_stack.h"

#include <gtest/gtest.h>

namespace tomeva {
namespace {

TEST(PageStack, SuppressedPushIsSkippedOnceAndPopKeepsThePageBefore) {
  PageStack stack;
  EXPECT_TRUE(stack.link_recording());
  EXPECT_TRUE(stack.PushPage(kPageLibrary, "home", kNoTreeItem));
  EXPECT_FALSE(stack.can_go_back());
  stack.set_push_suppressed(true);
  EXPECT_FALSE(stack.PushPage(kPageLink, "skipped", 3));
  EXPECT_FALSE(stack.push_suppressed());
  EXPECT_TRUE(stack.PushPage(kPageTreeRecord, "r.xml", 4));
  EXPECT_TRUE(stack.PushPage(kPageLink, "l.htm", 4));
  ASSERT_EQ(stack.size(), 3);
  EXPECT_EQ(stack.Pop(), (PageBackEntry{kPageTreeRecord, "r.xml", 4}));
  EXPECT_EQ(stack.Pop(), (PageBackEntry{kPageLibrary, "home", kNoTreeItem}));
  // One entry left: nothing to go back to, and popping changes nothing.
  EXPECT_EQ(stack.Pop(), PageBackEntry{});
  EXPECT_EQ(stack.size(), 1);
}

}  // namespace
}  // namespace tomeva
