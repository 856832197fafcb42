// The library tree as an item list: books, tables of contents, data words, the record map, and
// what bad library data does to it.
#include "core/views/library_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/library/catalogue.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::TempDir;
using testing::WriteGbk;
using testing::WriteScrambledGbk;

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n";

std::string Record(const std::string& title) {
  return std::string(kDecl) + "<record><FdName>" + title + "</FdName></record>";
}

// A small library with one good book and several damaged ones.
class LibraryTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteScrambledGbk(dir_ / "bookconfig.xml",
                      std::string(kDecl) +
                          "<books>\r\n"
                          "<book dir=\"a\" category=\"3\" name=\"甲书\"/>\r\n"
                          "<book dir=\"missing\" category=\"4\" name=\"无目录\"/>\r\n"
                          "<book dir=\"c\" category=\"5\" name=\"\"/>\r\n"
                          "<book category=\"6\" name=\"无文件夹\"/>\r\n"
                          "<book dir=\"e\" category=\"7\" name=\"坏目录\"/>\r\n"
                          "</books>");
    WriteGbk(dir_ / "a/chapter.xml",
             std::string(kDecl) +
                 "<book htm=\"index.htm\" pdf=\"838.pdf\">\r\n"
                 "<dir name=\"卷一\" htm=\"j1.htm\" pdf=\"j1.pdf\">\r\n"
                 "  <record title=\"春晓\">book_0001.xml</record>\r\n"
                 "  <record title=\"\">BOOK_0002.XML</record>\r\n"
                 "  <dir name=\"\"><record title=\"静夜思\" "
                 "pdf=\"own.pdf\">book_0003.xml</record></dir>\r\n"
                 "</dir>\r\n"
                 "<dir name=\"卷二\"><record title=\"登高\">book_0004.xml</record></dir>\r\n"
                 "</book>");
    WriteGbk(dir_ / "c/chapter.xml",
             std::string(kDecl) + "<book><record title=\"x\">book_0001.xml</record></book>");
    // Book e's table of contents does not parse; its records are there.
    WriteGbk(dir_ / "e/chapter.xml", std::string(kDecl) + "<book><dir name=\"坏\"></book>");
    WriteGbk(dir_ / "e/book_0001.xml", Record("甲"));
    WriteGbk(dir_ / "e/book_0002.xml", Record("乙"));
    ASSERT_TRUE(catalogue_.LoadCatalogue(dir_.path()));
  }

  std::vector<std::string> Labels(const TreeItemList& items) {
    std::vector<std::string> labels;
    for (const TreeItem& item : items) labels.push_back(GbkToUtf8(item.label));
    return labels;
  }

  TempDir dir_;
  Catalogue catalogue_;
};

TEST_F(LibraryTreeTest, ItemsLabelsParentsAndDataWords) {
  LibraryTree tree = BuildLibraryTree(catalogue_);
  const std::vector<std::string> labels = {"Lumq图书数据库V4.0",
                                           "甲书",
                                           "卷一",
                                           "春晓",
                                           "缺名字",
                                           "缺名字",
                                           "静夜思",
                                           "卷二",
                                           "登高",
                                           "坏目录",
                                           "甲",
                                           "乙",
                                           "欢迎使用Lumq数据库系统",
                                           "产品说明"};
  ASSERT_EQ(Labels(tree.items), labels);
  const std::vector<int> parents = {-1, 0, 1, 2, 2, 2, 5, 1, 7, 0, 9, 9, -1, -1};
  for (size_t i = 0; i < parents.size(); ++i) EXPECT_EQ(tree.items[i].parent, parents[i]) << i;
  EXPECT_TRUE(tree.items[0].expanded);
  EXPECT_EQ(tree.items[0].data, 0);
  EXPECT_EQ(tree.items[1].data, 1);
  EXPECT_EQ(tree.items[9].data, 5);
  EXPECT_EQ(tree.items[12].data, kDataWelcome);
  EXPECT_EQ(tree.items[13].data, kDataProduct);
  EXPECT_EQ(tree.items[12].image, kImageInfoItem);
  EXPECT_EQ(tree.items[13].selected_image, kImageInfoItemSelected);
  EXPECT_EQ(tree.items[3].image, -1);
  // Sections carry serial 0; leaves consecutive serials; the low 16 bits are the book.
  for (int section : {2, 5, 7}) EXPECT_EQ(tree.items[section].data, 1) << section;
  const long long first = tree.items[3].data >> 16;
  EXPECT_GT(first, 0);
  const std::vector<int> leaves = {3, 4, 6, 8};
  for (size_t i = 0; i < leaves.size(); ++i) {
    EXPECT_EQ(tree.items[leaves[i]].data, (first + static_cast<long long>(i)) * 65536 + 1);
  }
  EXPECT_EQ(tree.items[10].data & 0xFFFF, 5);
  EXPECT_EQ(tree.record_map.at(std::to_string(tree.items[4].data)), "BOOK_0002.XML");
  EXPECT_EQ(tree.record_map.at(std::to_string(tree.items[11].data)), "book_0002.xml");
  EXPECT_EQ(tree.record_map.size(), 6u);
}

TEST_F(LibraryTreeTest, BrokenTableOfContentsIsRegeneratedAndKeptAside) {
  BuildLibraryTree(catalogue_);
  EXPECT_TRUE(FileExists(dir_ / "e/chapter.xml.bak"));
  CXmlDocument chapter;
  EXPECT_EQ(chapter.Load(dir_ / "e/chapter.xml"), 1);
}

TEST_F(LibraryTreeTest, RebuildGivesSameLabelsButNewSerials) {
  LibraryTree first = BuildLibraryTree(catalogue_);
  LibraryTree second = BuildLibraryTree(catalogue_);
  EXPECT_EQ(Labels(first.items), Labels(second.items));
  EXPECT_NE(first.items[3].data, second.items[3].data);
  EXPECT_EQ(second.record_map.count(std::to_string(first.items[3].data)), 0u);
  EXPECT_EQ(second.record_map.size(), first.record_map.size());
}

TEST_F(LibraryTreeTest, FindRecordItemSearchesFromTheBookOnward) {
  LibraryTree tree = BuildLibraryTree(catalogue_);
  struct Case {
    int start;
    const char* file;
    int expected;
  };
  const Case cases[] = {
      {1, "book_0001.xml", 3},  {1, "book_0002.xml", 4},  // case ignored
      {1, "BOOK_0003.xml", 6},  {1, "book_0004.xml", 8},
      {9, "book_0001.xml", 10},  // the later book has its own book_0001
      {9, "book_0004.xml", -1},  // only following siblings, not earlier books
      {7, "book_0003.xml", -1},  // from 卷二 on: 卷一 is before it
      {1, "book_0099.xml", -1}, {-1, "book_0001.xml", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindRecordItem(tree, c.start, c.file), c.expected) << c.start << " " << c.file;
  }
}

TEST_F(LibraryTreeTest, BookItemOfWalksUpOrFallsBackToTheFirstBook) {
  LibraryTree tree = BuildLibraryTree(catalogue_);
  const std::vector<std::pair<int, int>> cases = {{6, 1}, {1, 1},  {11, 9},
                                                  {0, 1}, {12, 1}, {-1, 1}};
  for (auto [item, book] : cases) EXPECT_EQ(BookItemOf(tree.items, item), book) << item;
  EXPECT_EQ(BookItemOf({}, 0), -1);
}

TEST_F(LibraryTreeTest, NodePagesAndPdfsInherit) {
  LibraryTree tree = BuildLibraryTree(catalogue_);
  const std::string a = JoinPath(dir_.path(), "a");
  struct Case {
    int item;
    std::string page;
    std::string pdf;
  };
  const Case cases[] = {
      {1, JoinPath(a, "index.htm"), JoinPath(a, "838.pdf")},
      {2, JoinPath(a, "j1.htm"), JoinPath(a, "j1.pdf")},
      {3, JoinPath(a, "j1.htm"), JoinPath(a, "j1.pdf")},
      {6, JoinPath(a, "j1.htm"), JoinPath(a, "own.pdf")},
      {8, JoinPath(a, "index.htm"), JoinPath(a, "838.pdf")},
      // The generated table of contents has no page: the library's start page.
      {10, JoinPath(dir_.path(), "home.htm"), ""},
      {0, JoinPath(dir_.path(), "home.htm"), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NodePageOf(catalogue_, tree.items, c.item), c.page) << c.item;
    EXPECT_EQ(NodePdfOf(catalogue_, tree.items, c.item), c.pdf) << c.item;
  }
  // A table of contents that vanished: start page, no PDF.
  ASSERT_EQ(std::remove((dir_ / "a/chapter.xml").c_str()), 0);
  EXPECT_EQ(NodePageOf(catalogue_, tree.items, 3), JoinPath(dir_.path(), "home.htm"));
  EXPECT_EQ(NodePdfOf(catalogue_, tree.items, 3), "");
}

TEST(LibraryTreeFoldersTest, BooksInSubFoldersAndLinkedFoldersAreShownOthersLeftOut) {
  // A library written on Windows keeps books in sub-folders; a folder link inside the library
  // is used like a folder. Paths that leave the library give no item.
  TempDir dir, elsewhere;
  WriteScrambledGbk(dir / "bookconfig.xml",
                    std::string(kDecl) +
                        "<books>\r\n"
                        "<book dir=\"books\\tang\" category=\"1\" name=\"唐\"/>\r\n"
                        "<book dir=\"books/song\" category=\"2\" name=\"宋\"/>\r\n"
                        "<book dir=\"linked\" category=\"3\" name=\"链接\"/>\r\n"
                        "<book dir=\"books\\..\\..\\outside\" category=\"4\" name=\"外一\"/>\r\n"
                        "<book dir=\"" +
                        elsewhere.path() +
                        "\" category=\"5\" name=\"外二\"/>\r\n"
                        "</books>");
  WriteGbk(dir / "books/tang/book_1.xml", Record("静夜思"));
  WriteGbk(dir / "books/song/book_1.xml", Record("水调歌头"));
  WriteGbk(elsewhere / "book_1.xml", Record("登高"));
  WriteGbk(dir / "outside/book_1.xml", Record("不该出现"));
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), (dir / "linked").c_str()), 0);
  Catalogue catalogue;
  ASSERT_TRUE(catalogue.LoadCatalogue(dir.path()));

  LibraryTree tree = BuildLibraryTree(catalogue);
  std::vector<std::string> labels;
  for (const TreeItem& item : tree.items) labels.push_back(GbkToUtf8(item.label));
  EXPECT_EQ(labels,
            (std::vector<std::string>{"Lumq图书数据库V4.0", "唐", "静夜思", "宋", "水调歌头",
                                      "链接", "登高", "欢迎使用Lumq数据库系统", "产品说明"}));
  EXPECT_EQ(tree.items[5].data, 3);
  // Each book's generated table of contents went into its own folder.
  EXPECT_TRUE(FileExists(dir / "books/tang/chapter.xml"));
  EXPECT_TRUE(FileExists(elsewhere / "chapter.xml"));
  EXPECT_FALSE(FileExists(dir / "outside/chapter.xml"));
}

}  // namespace
}  // namespace tomeva
