#include "core/library/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/library/catalogue_edit.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::TempDir;
using testing::WriteGbk;
using testing::WriteScrambledGbk;

std::string CatalogueText(const std::string& books) {
  return "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n" + books + "</books>";
}

std::string Book(const std::string& dir, const std::string& category, const std::string& name) {
  return "<book dir=\"" + dir + "\" category=\"" + category + "\" name=\"" + name + "\"/>\r\n";
}

TEST(CatalogueTest, RowsStayAlignedWithEntriesWhenAnEntryLacksAttributes) {
  TempDir dir;
  WriteScrambledGbk(dir / "bookconfig.xml",
                    CatalogueText(Book("10", "3", "唐诗") + "<book dir=\"11\" name=\"无类别\"/>\r\n" +
                              Book("12", "7a", "宋词") + Book("../x", "9", "坏目录")));
  Catalogue catalogue;
  ASSERT_TRUE(catalogue.LoadCatalogue(dir.path()));
  ASSERT_EQ(catalogue.book_count(), 4);
  ASSERT_EQ(catalogue.rows().size(), 4u);
  EXPECT_EQ(GbkToUtf8(catalogue.BookName(3)), "宋词");

  struct Case {
    int category;
    int expected_index;
  } cases[] = {{3, 0}, {7, 2}, {9, 3}, {0, -1}, {11, -1}, {4, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(catalogue.FindBookByCategory(c.category), c.expected_index) << c.category;
  }
  EXPECT_EQ(catalogue.BookFolder(1), dir / "10");
  EXPECT_EQ(catalogue.BookFolder(2), "");  // no category: no row, but book 3 keeps its own
  EXPECT_EQ(catalogue.BookFolder(3), dir / "12");
  EXPECT_EQ(catalogue.BookFolder(4), "");  // not one plain folder name
  EXPECT_EQ(catalogue.BookFolder(0), "");
  EXPECT_EQ(catalogue.BookFolder(5), "");
  EXPECT_EQ(catalogue.overflow_count(), 0);
  EXPECT_EQ(catalogue.OverflowMessage(), "");
  // Node look-ups go through the book's own folder; a book without one shows the start page.
  WriteGbk(dir / "12/chapter.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book pdf=\"838.pdf\" htm=\"i.htm\">"
           "<dir name=\"a\" pdf=\"a.pdf\"/></book>");
  EXPECT_EQ(catalogue.GetNodePage(3, {}), dir / "12/i.htm");
  EXPECT_EQ(catalogue.GetNodePdf(3, {0}), dir / "12/a.pdf");
  EXPECT_EQ(catalogue.GetNodePage(2, {}), dir / "home.htm");
  EXPECT_EQ(catalogue.GetNodePdf(4, {}), "");
}

TEST(CatalogueTest, MoreThanFortyNineBooksAreCutFromTheEndButNeverTheProductBook) {
  // Books are named after their 1-based position in the file; the product book is "P".
  struct Case {
    const char* name;
    int books;                           // book elements in the file
    int special_at;                      // position of the dir="99999" entry, 0 for none
    std::vector<std::string> kept_tail;  // names of the last three books kept
    int overflow;
  } cases[] = {
      {"exactly full, product last", 49, 49, {"47", "48", "P"}, 0},
      {"one over, product last", 50, 50, {"47", "48", "P"}, 1},
      {"three over, product last", 52, 52, {"47", "48", "P"}, 3},
      {"product in the middle is kept in place", 52, 10, {"47", "48", "49"}, 3},
      {"product just past the limit", 52, 50, {"47", "48", "P"}, 3},
      {"product 49th", 52, 49, {"47", "48", "P"}, 3},
      {"no product", 52, 0, {"47", "48", "49"}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string books;
    for (int i = 1; i <= c.books; ++i) {
      books += i == c.special_at
                   ? Book("99999", "49", "P")
                   : Book(std::to_string(100 + i), std::to_string(i), std::to_string(i));
    }
    WriteScrambledGbk(dir / "bookconfig.xml", CatalogueText(books));
    Catalogue catalogue;
    ASSERT_TRUE(catalogue.LoadCatalogue(dir.path()));
    ASSERT_EQ(catalogue.book_count(), std::min(c.books, kMaxCatalogueBooks));
    ASSERT_EQ(catalogue.rows().size(), catalogue.entries().size());
    const int n = catalogue.book_count();
    std::vector<std::string> tail;
    for (int k = n - 2; k <= n; ++k) tail.push_back(GbkToUtf8(catalogue.BookName(k)));
    EXPECT_EQ(tail, c.kept_tail);
    EXPECT_EQ(catalogue.overflow_count(), c.overflow);
    if (c.special_at != 0) {
      // The product book keeps its own row, whichever place it took.
      int k = 1;
      while (k <= n && catalogue.BookName(k) != "P") ++k;
      ASSERT_LE(k, n);
      EXPECT_EQ(catalogue.BookFolder(k), dir / "99999");
      EXPECT_EQ(catalogue.rows()[k - 1].category, "49");
    }
    EXPECT_EQ(catalogue.BookFolder(n + 1), "");
    const std::string message = GbkToUtf8(catalogue.OverflowMessage());
    if (c.overflow == 0) {
      EXPECT_EQ(message, "");
    } else {
      // The user learns how many books the file has, the limit, and how many are not shown.
      EXPECT_EQ(message, "书目文件中有" + std::to_string(c.books) +
                             "本书，超过了49本的上限，排在后面的" + std::to_string(c.overflow) +
                             "本书没有显示。");
    }
  }
}

TEST(CatalogueTest, BookFoldersMayBeRelativePathsInsideTheLibrary) {
  TempDir dir;
  struct Case {
    const char* dir;
    const char* folder;  // BookFolder relative to the library, "" for none
  } cases[] = {
      {"books\\tang", "books/tang"},
      {"books/song", "books/song"},
      {"12", "12"},
      {"books\\..\\..\\x", ""},
      {"/abs", ""},
      {"C:\\books", ""},
  };
  std::string books;
  int category = 1;
  for (const Case& c : cases) books += Book(c.dir, std::to_string(category++), "b");
  WriteScrambledGbk(dir / "bookconfig.xml", CatalogueText(books));
  Catalogue catalogue;
  ASSERT_TRUE(catalogue.LoadCatalogue(dir.path()));
  ASSERT_EQ(catalogue.book_count(), static_cast<int>(std::size(cases)));
  for (int k = 1; k <= catalogue.book_count(); ++k) {
    const Case& c = cases[k - 1];
    const std::string expected = *c.folder ? dir / Utf8ToGbk(c.folder) : "";
    EXPECT_EQ(catalogue.BookFolder(k), expected) << c.dir;
    // The row never hands out a folder that BookFolder refuses, and keeps the category.
    EXPECT_EQ(catalogue.rows()[k - 1].folder.empty(), expected.empty()) << c.dir;
    EXPECT_EQ(catalogue.rows()[k - 1].category, std::to_string(k)) << c.dir;
  }
  // Pages of a book in a sub-folder come from its own folder.
  WriteGbk(dir / "books/tang/chapter.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book htm=\"i.htm\" pdf=\"t.pdf\"/>");
  EXPECT_EQ(catalogue.GetNodePage(1, {}), dir / "books/tang/i.htm");
  EXPECT_EQ(catalogue.GetNodePdf(1, {}), dir / "books/tang/t.pdf");
}

TEST(CatalogueTest, MissingOrUnscrambledCatalogueGivesNoBooks) {
  TempDir dir;
  Catalogue catalogue;
  EXPECT_FALSE(catalogue.LoadCatalogue(dir.path()));
  EXPECT_EQ(catalogue.book_count(), 0);
  WriteGbk(dir / "bookconfig.xml", CatalogueText(Book("1", "1", "a")));  // plain, not scrambled
  EXPECT_FALSE(catalogue.LoadCatalogue(dir.path()));
  EXPECT_EQ(catalogue.book_count(), 0);
  EXPECT_EQ(catalogue.FindBookByCategory(1), -1);
}

TEST(CatalogueTest, CategoryNumberReadsLeadingDigits) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {{"7", 7}, {"7a", 7}, {" 12", 12}, {"a7", 0}, {"", 0}, {"-3", -3},
               {"99999999999999", 2147483647}};
  for (const Case& c : cases) EXPECT_EQ(CategoryNumber(c.text), c.expected) << c.text;
}

TEST(CatalogueEditTest, AppendedEntryFollowsTheTextBeforeTheEnd) {
  std::string before = Utf8ToGbk(CatalogueText(Book("1", "1", "甲")) + "\r\n<!-- after -->");
  std::optional<std::string> text = AppendBookEntry(before, "5", 2, Utf8ToGbk("新书"));
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(GbkToUtf8(*text),
            CatalogueText(Book("1", "1", "甲")).substr(0, CatalogueText(Book("1", "1", "甲")).size() - 8) +
                "<book dir=\"5\"  category=\"2\"   name=\"新书\" ver=\"2.0\"/>\r\n"
                "<Xml2HtmlTags category=\"2\" xml_tag=\"FdName\" html_tag=\"题名\"/>\r\n"
                "<Xml2HtmlTags category=\"2\" xml_tag=\"FdAuthor\" html_tag=\"作者\"/>\r\n"
                "<Xml2HtmlTags category=\"2\" xml_tag=\"KeyWords\" html_tag=\"内容摘要\"/>\r\n"
                "<Xml2HtmlTags category=\"2\" xml_tag=\"FdContent\" html_tag=\"内容\"/>\r\n"
                "<Xml2HtmlTags category=\"2\" xml_tag=\"FdImgInfo\" html_tag=\"附图信息\"/>\r\n"
                "</books>");
  EXPECT_FALSE(AppendBookEntry("<books><book dir=\"1\"/>", "5", 2, "x").has_value());
}

TEST(CatalogueEditTest, SpecialBookMovesToTheEnd) {
  struct Case {
    const char* name;
    std::string in;
    std::optional<std::string> out;
  } cases[] = {
      {"middle", "<books>\r\n<book dir=\"1\"/>\r\n<book dir=\"99999\" name=\"s\"/>\r\n"
                 "<book dir=\"2\"/>\r\n</books>tail",
       "<books>\r\n<book dir=\"1\"/>\r\n\r\n<book dir=\"2\"/>\r\n"
       "<book dir=\"99999\" name=\"s\"/></books>"},
      {"attributes before dir are dropped",
       "<books><book name=\"s\" dir=\"99999\" category=\"3\"/><book dir=\"2\"/></books>",
       "<books><book dir=\"2\"/><book dir=\"99999\" category=\"3\"/></books>"},
      {"already last is stable",
       "<books>\r\n<book dir=\"1\"/>\r\n<book dir=\"99999\"/></books>",
       "<books>\r\n<book dir=\"1\"/>\r\n<book dir=\"99999\"/></books>"},
      {"no special entry", "<books><book dir=\"1\"/></books>", std::nullopt},
      {"no end of list", "<books><book dir=\"99999\"/>", std::nullopt},
      {"no end of element", "<books><book dir=\"99999\"></books>", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MoveSpecialBookLastText(c.in), c.out) << c.name;
  }
}

TEST(CatalogueEditTest, FreeCategoryIsTheSmallestUnused) {
  struct Case {
    std::string books;
    int expected;
  } cases[] = {
      {"", 1},
      {Book("1", "1", "a") + Book("2", "2", "b") + Book("4", "4", "c"), 3},
      {Book("1", "01", "a"), 1},  // compared as text
      {"<Book dir=\"1\" category=\"1\" name=\"a\"/>", 1},  // tag must be exactly "book"
  };
  for (const Case& c : cases) {
    CXmlDocument doc;
    ASSERT_EQ(doc.ParseText(CatalogueText(c.books)), 1);
    EXPECT_EQ(ChooseFreeCategory(doc), c.expected) << c.books;
  }
  std::string all;
  for (int i = 1; i <= 49; ++i) all += Book(std::to_string(i), std::to_string(i), "x");
  CXmlDocument full;
  ASSERT_EQ(full.ParseText(CatalogueText(all)), 1);
  EXPECT_EQ(ChooseFreeCategory(full), 50);
  EXPECT_EQ(CountCatalogueBooks(full), 49);
}

}  // namespace
}  // namespace tomeva
