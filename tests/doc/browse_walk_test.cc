// A walk through the sample library with fake windows: books, sections and records chosen in the
// tree, a record link and an ordinary link followed in the page, three steps back and home; the
// page shown and the page-back stack are checked at every step. Then damaged library data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "base/texts.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/settings/settings.h"
#include "fakes.h"

namespace tomeva {
namespace {

using testing::FakeFrame;
using testing::FakeHtmlView;
using testing::FakeTreeView;

// The browser hands every navigation it starts to the document first, as the real view does.
class NavigatingHtmlView : public FakeHtmlView {
 public:
  void Navigate(const std::string& location) override {
    if (doc == nullptr || doc->OnBeforeNavigate(location)) FakeHtmlView::Navigate(location);
  }
  CTomevaDoc* doc = nullptr;
};

std::string MakeSample() {
  char name[] = "/tmp/tomeva-walk-XXXXXX";
  std::string dir = ::mkdtemp(name);
  std::string out = dir + "/lib";
  std::string command = std::string("'") + MAKE_SAMPLE_LIBRARY + "' '" + out + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return out;
}

class BrowseWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeSample();
    Settings settings;
    settings.app_dir = root_ + "/";
    settings.ebook_dir = ApplyDotRule(".", settings.app_dir);
    lib_ = settings.ebook_dir;
    doc_ = std::make_unique<CTomevaDoc>(settings);
    CXmlDocument system_xml;
    ASSERT_EQ(system_xml.Load(JoinPath(root_, "System.xml")), 1);
    doc_->set_link_settings(ReadLinkSettings(system_xml));
    html_.doc = doc_.get();
    doc_->AttachHtmlView(&html_);
    doc_->AttachTreeView(&tree_);
    doc_->AttachFrame(&frame_);
    doc_->UpdateAllViews();
  }
  void TearDown() override {
    doc_.reset();
    DeleteTree(DirName(root_));
    RemoveDirectory(DirName(root_));
  }

  // The item of the tree whose label (UTF-8) is `label`, the n-th such from the top.
  int Item(const char* label, int nth = 0) {
    for (size_t i = 0; i < tree_.items.size(); ++i) {
      if (GbkToUtf8(tree_.items[i].label) == label && nth-- == 0) return static_cast<int>(i);
    }
    ADD_FAILURE() << "no item " << label;
    return -1;
  }
  int RecordItem(int book, const std::string& file) {
    for (size_t i = 0; i < tree_.items.size(); ++i) {
      auto it = doc_->browse().library.record_map.find(std::to_string(tree_.items[i].data));
      if ((tree_.items[i].data & 0xFFFF) == book && it != doc_->browse().library.record_map.end() &&
          it->second == file) {
        return static_cast<int>(i);
      }
    }
    ADD_FAILURE() << "no record item " << file;
    return -1;
  }
  // What the user does: chooses an item.
  void Select(int item) { doc_->OnTreeSelectionChanged(item, tree_.items[item].data); }
  // The tree delivers the selections posted to it.
  void DeliverPosted() {
    std::vector<int> posted;
    posted.swap(tree_.posted_selections);
    for (int item : posted) {
      if (item < 0) {
        doc_->OnTreeSelectionChanged(-1, 0);
      } else {
        Select(item);
      }
    }
  }
  std::vector<PageBackEntry> Stack() { return doc_->page_stack().entries(); }
  std::string LastNavigated() { return html_.navigated.empty() ? "" : html_.navigated.back(); }
  std::string P(const std::string& rel) { return JoinPath(lib_, rel); }

  std::string root_;
  std::string lib_;
  NavigatingHtmlView html_;
  FakeTreeView tree_;
  FakeFrame frame_;
  std::unique_ptr<CTomevaDoc> doc_;
};

TEST_F(BrowseWalkTest, WalkThroughTheLibraryAndBack) {
  // Start: the library tree and the start page.
  ASSERT_GT(tree_.items.size(), 400u);
  EXPECT_EQ(GbkToUtf8(tree_.items[0].label), "Lumq图书数据库V4.0");
  EXPECT_EQ(GbkToUtf8(tree_.items.back().label), "产品说明");
  EXPECT_EQ(LastNavigated(), P("home.htm"));
  using E = PageBackEntry;
  std::vector<E> stack = {{kPageLibrary, P("home.htm"), -1}};
  EXPECT_EQ(Stack(), stack);
  EXPECT_EQ(doc_->page_stack().link_recording(), true);
  CommandState back;
  doc_->OnUpdateCommand(kCmdBack, &back);
  EXPECT_FALSE(back.enabled);

  const int book = Item("唐诗三百首");
  const int volume = Item("卷一");
  const int rec1 = RecordItem(1, "book_0001.xml");
  const int rec6 = RecordItem(1, "book_0006.xml");
  const int updates = tree_.updates;

  Select(book);
  EXPECT_EQ(LastNavigated(), P("1/index.htm"));
  stack.push_back({kPageLibrary, P("1/index.htm"), book});
  EXPECT_EQ(Stack(), stack);
  EXPECT_EQ(tree_.updates, updates);  // the tree asked: it is not rebuilt

  Select(volume);
  EXPECT_EQ(LastNavigated(), P("1/juan0001.htm"));
  stack.push_back({kPageLibrary, P("1/juan0001.htm"), volume});
  EXPECT_EQ(Stack(), stack);

  const size_t navigations = html_.navigated.size();
  Select(rec1);
  EXPECT_EQ(html_.navigated.size(), navigations);  // a generated page, no navigation
  ASSERT_FALSE(html_.shown.empty());
  EXPECT_NE(GbkToUtf8(html_.shown.back()).find("感遇·其一"), std::string::npos);
  EXPECT_NE(GbkToUtf8(html_.shown.back()).find("<p></p><center><table"), std::string::npos);
  EXPECT_EQ(html_.scrolls_to_top, 1);
  stack.push_back({kPageTreeRecord, P("1/book_0001.xml"), rec1});
  EXPECT_EQ(Stack(), stack);
  doc_->OnUpdateCommand(kCmdBack, &back);
  EXPECT_TRUE(back.enabled);

  // A link to a record file selects the record's item instead of loading the file.
  EXPECT_FALSE(doc_->OnBeforeNavigate(P("1/BOOK_0006.XML")));
  EXPECT_EQ(tree_.posted_selections, std::vector<int>{rec6});
  DeliverPosted();
  EXPECT_NE(GbkToUtf8(html_.shown.back()).find("图片3"), std::string::npos);
  stack.push_back({kPageTreeRecord, P("1/book_0006.xml"), rec6});
  EXPECT_EQ(Stack(), stack);

  // An ordinary link is followed and recorded.
  EXPECT_TRUE(doc_->OnBeforeNavigate(P("1/changan.htm")));
  stack.push_back({kPageLink, P("1/changan.htm"), rec6});
  EXPECT_EQ(Stack(), stack);

  // Back 1: the record page of the item that is still selected is generated again.
  const size_t shown = html_.shown.size();
  doc_->OnCommand(kCmdBack);
  EXPECT_TRUE(tree_.posted_selections.empty());
  EXPECT_EQ(html_.shown.size(), shown + 1);
  EXPECT_NE(GbkToUtf8(html_.shown.back()).find("图片3"), std::string::npos);
  stack.pop_back();
  EXPECT_EQ(Stack(), stack);
  EXPECT_FALSE(doc_->page_stack().push_suppressed());

  // Back 2: another item's record page: the tree selects that item, nothing is recorded twice.
  doc_->OnCommand(kCmdBack);
  EXPECT_EQ(tree_.posted_selections, std::vector<int>{rec1});
  DeliverPosted();
  EXPECT_EQ(doc_->browse().selected_item, rec1);
  EXPECT_NE(GbkToUtf8(html_.shown.back()).find("感遇·其一"), std::string::npos);
  stack.pop_back();
  EXPECT_EQ(Stack(), stack);

  // Back 3: the volume's page.
  doc_->OnCommand(kCmdBack);
  DeliverPosted();
  EXPECT_EQ(LastNavigated(), P("1/juan0001.htm"));
  EXPECT_EQ(doc_->browse().selected_item, volume);
  stack.pop_back();
  EXPECT_EQ(Stack(), stack);
  EXPECT_TRUE(doc_->page_stack().link_recording());

  // A link followed now is recorded (the program's own navigation did not use up the flag).
  EXPECT_TRUE(doc_->OnBeforeNavigate(P("1/juan0001_01.htm")));
  stack.push_back({kPageLink, P("1/juan0001_01.htm"), volume});
  EXPECT_EQ(Stack(), stack);

  // Home: the command is for leaving search mode; in the library it only redraws the page.
  CommandState home;
  doc_->OnUpdateCommand(kCmdHome, &home);
  EXPECT_FALSE(home.enabled);
  // The welcome item and the product item show the start page and the product page.
  Select(Item("欢迎使用Lumq数据库系统"));
  EXPECT_EQ(LastNavigated(), P("home.htm"));
  EXPECT_TRUE(doc_->browse().show_home);
  Select(Item("产品说明"));
  EXPECT_EQ(LastNavigated(), P("Tomeva.htm"));
  EXPECT_TRUE(doc_->browse().product_page);
  stack.push_back({kPageLibrary, P("home.htm"), Item("欢迎使用Lumq数据库系统")});
  stack.push_back({kPageLibrary, P("Tomeva.htm"), Item("产品说明")});
  EXPECT_EQ(Stack(), stack);
  // Back to the start page: its item is re-selected in the tree.
  doc_->OnCommand(kCmdBack);
  DeliverPosted();
  EXPECT_EQ(LastNavigated(), P("home.htm"));
  EXPECT_FALSE(doc_->browse().product_page);
  stack.pop_back();
  EXPECT_EQ(Stack(), stack);
}

TEST_F(BrowseWalkTest, PdfInTheViewGivesWayToTheStartPageFirst) {
  Select(Item("卷一"));
  html_.pdf = true;
  doc_->UpdateAllViews(false);
  EXPECT_EQ(LastNavigated(), P("home.htm"));
  EXPECT_FALSE(html_.pdf);
  EXPECT_TRUE(html_.render_after_load);
  // Once the start page has loaded, the view renders the page of the selection.
  doc_->RenderPage();
  EXPECT_EQ(LastNavigated(), P("1/juan0001.htm"));
}

TEST_F(BrowseWalkTest, RecordLinkWithoutItemTellsTheUser) {
  Select(RecordItem(1, "book_0001.xml"));
  const size_t depth = Stack().size();
  EXPECT_FALSE(doc_->OnBeforeNavigate(P("1/book_9999.xml")));
  EXPECT_TRUE(tree_.posted_selections.empty());
  ASSERT_EQ(tree_.messages.size(), 1u);
  EXPECT_EQ(GbkToUtf8(tree_.messages[0]), "链接目的记录不存在！");
  EXPECT_EQ(Stack().size(), depth);
  // The search runs from the selected record's book onward: from the second book a record
  // that only the first book holds is not found; from the title root it starts at the first.
  Select(RecordItem(2, "book_0001.xml"));
  EXPECT_FALSE(doc_->OnBeforeNavigate(P("1/book_0200.xml")));
  EXPECT_TRUE(tree_.posted_selections.empty());
  EXPECT_EQ(tree_.messages.size(), 2u);
  Select(0);
  EXPECT_FALSE(doc_->OnBeforeNavigate(P("1/book_0200.xml")));
  EXPECT_EQ(tree_.posted_selections, std::vector<int>{RecordItem(1, "book_0200.xml")});
}

TEST_F(BrowseWalkTest, DamagedLibraryDataShowsStartPageOrNamesTheFile) {
  // A record file gone: the record's page says which file is missing, not an empty table.
  ASSERT_EQ(std::remove(P("1/book_0010.xml").c_str()), 0);
  Select(RecordItem(1, "book_0010.xml"));
  EXPECT_EQ(html_.shown.back(),
            RecordFileProblemPage(RecordFileProblem::kMissing, P("1/book_0010.xml")));
  // A section's page file gone, and a record's named page gone: the start page.
  ASSERT_EQ(std::remove(P("1/juan0002.htm").c_str()), 0);
  Select(Item("卷二"));
  EXPECT_EQ(LastNavigated(), P("home.htm"));
  Select(RecordItem(2, "book_0001.xml"));
  EXPECT_EQ(LastNavigated(), P("2/poem_0001.htm"));
  ASSERT_EQ(std::remove(P("2/poem_0001.htm").c_str()), 0);
  Select(Item("卷二"));
  Select(RecordItem(2, "book_0001.xml"));
  EXPECT_EQ(LastNavigated(), P("home.htm"));
  // The table of contents vanished: the node's page is the start page.
  const int group = Item("第一组");
  ASSERT_EQ(std::remove(P("2/chapter.xml").c_str()), 0);
  Select(group);
  EXPECT_EQ(LastNavigated(), P("home.htm"));
  // A table of contents that does not parse is regenerated on the next build (and kept aside).
  ASSERT_TRUE(ReplaceFileAtomically(P("1/chapter.xml"), "<?xml version=\"1.0\"?><book><dir>"));
  doc_->UpdateAllViews();
  EXPECT_TRUE(FileExists(P("1/chapter.xml.bak")));
  EXPECT_GE(RecordItem(1, "book_0001.xml"), 0);
  // A catalogue entry whose folder is missing: the book is left out, the others stay.
  DeleteTree(P("2"));
  RemoveDirectory(P("2"));
  doc_->UpdateAllViews();
  for (const TreeItem& item : tree_.items) EXPECT_NE(GbkToUtf8(item.label), "宋诗一百首");
  EXPECT_EQ(GbkToUtf8(tree_.items[1].label), "唐诗三百首");
}

}  // namespace
}  // namespace tomeva
