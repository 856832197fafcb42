#include "core/library/chapter.h"

#include <gtest/gtest.h>

#include <string>

#include "core/base/gbk.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::ReadUtf8;
using testing::TempDir;
using testing::WriteGbk;

constexpr char kToc[] =
    "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n"
    "<book pdf=\"838.pdf\">\r\n"
    "<dir name=\"卷一\" htm=\"v1.htm\">\r\n"
    "  <record title=\"静夜思\">book_1.xml</record>\r\n"
    "  <record title=\"春晓\" pdf=\"s\\chun.pdf\" htm=\"p\\chun.htm\">book_2.xml</record>\r\n"
    "</dir>\r\n"
    "<dir name=\"卷二\" htm=\"HOME.HTM\" pdf=\"v2.pdf\">\r\n"
    "  <dir name=\"\"><record title=\"\">book_3.xml</record></dir>\r\n"
    "</dir>\r\n"
    "</book>";

TEST(ChapterTest, NodesInheritPageAndPdfFromTheDeepestElementThatNamesThem) {
  TempDir dir;
  const std::string book = dir / "7";
  WriteGbk(JoinPath(book, "chapter.xml"), kToc);
  struct Case {
    NodePath path;
    std::string page;  // relative to the temp folder
    std::string pdf;
  } cases[] = {
      {{}, "home.htm", "7/838.pdf"},
      {{0}, "7/v1.htm", "7/838.pdf"},
      {{0, 0}, "7/v1.htm", "7/838.pdf"},
      {{0, 1}, "7/p\\chun.htm", "7/s\\chun.pdf"},
      {{1}, "home.htm", "7/v2.pdf"},  // home.htm in capitals is the library's start page
      {{1, 0, 0}, "home.htm", "7/v2.pdf"},
      {{2}, "home.htm", ""},  // no such node
      {{0, 5}, "home.htm", ""},
      {{-1}, "home.htm", ""},
  };
  for (const Case& c : cases) {
    std::string where = ::testing::PrintToString(c.path);
    EXPECT_EQ(GetNodePage(dir.path(), book, c.path), dir / c.page) << where;
    EXPECT_EQ(GetNodePdf(book, c.path), c.pdf.empty() ? "" : dir / c.pdf) << where;
  }
}

TEST(ChapterTest, LabelsFallBackToMissingName) {
  CXmlDocument doc;
  ASSERT_EQ(doc.ParseText(Utf8ToGbk(kToc)), 1);
  CXmlNode* first = FindChapterNode(doc.root(), {0});
  CXmlNode* record = FindChapterNode(doc.root(), {0, 1});
  CXmlNode* unnamed = FindChapterNode(doc.root(), {1, 0});
  CXmlNode* untitled = FindChapterNode(doc.root(), {1, 0, 0});
  ASSERT_TRUE(first && record && unnamed && untitled);
  EXPECT_EQ(GbkToUtf8(ChapterNodeLabel(*first)), "卷一");
  EXPECT_EQ(GbkToUtf8(ChapterNodeLabel(*record)), "春晓");
  EXPECT_EQ(GbkToUtf8(ChapterNodeLabel(*unnamed)), "缺名字");
  EXPECT_EQ(GbkToUtf8(ChapterNodeLabel(*untitled)), "缺名字");
  EXPECT_EQ(FindChapterNode(doc.root(), {0, 2}), nullptr);
}

TEST(ChapterTest, MissingTableOfContentsIsGeneratedFromTheRecordFiles) {
  TempDir dir;
  const std::string book = dir / "3";
  WriteGbk(JoinPath(book, "838.pdf"), "%PDF");
  WriteGbk(JoinPath(book, "book_2.xml"),
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n\t<FdName>春晓</FdName>\n</record>\n");
  WriteGbk(JoinPath(book, "book_1.xml"),
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n\t<FdAuthor>李白</FdAuthor>\n"
           "\t<FdName>静夜思</FdName>\n</record>\n");
  WriteGbk(JoinPath(book, "book_9.xml"), "not xml");
  WriteGbk(JoinPath(book, "book_5.xml"),
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n"
           "\t<FdName>说\"道\"&gt;R&amp;D</FdName>\n</record>\n");
  WriteGbk(JoinPath(book, "notes.xml"), "<?xml version=\"1.0\"?><r/>");
  MakeDirectories(JoinPath(book, "book_dir.xml"));

  CXmlDocument toc;
  ASSERT_EQ(CreateChapterXml(book, &toc), 1);
  EXPECT_EQ(ReadUtf8(JoinPath(book, "chapter.xml")),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book pdf=\"838.pdf\">\r\n"
            "<record title=\"静夜思\">book_1.xml</record>\r\n"
            "<record title=\"春晓\">book_2.xml</record>\r\n"
            "<record title=\"说＂道＂＞R&D\">book_5.xml</record>\r\n"
            "<record title=\"\">book_9.xml</record>\r\n"
            "</book>");
  // A title with quotes or ">" keeps its record.
  CXmlNode* quoted = toc.root().first_child()->next_sibling()->next_sibling();
  ASSERT_NE(quoted, nullptr);
  EXPECT_EQ(GbkToUtf8(quoted->text()), "book_5.xml");
  EXPECT_EQ(GbkToUtf8(ChapterNodeLabel(*quoted)), "说＂道＂＞R&D");
  for (NodePath path : {NodePath{}, NodePath{0}, NodePath{1}}) {
    EXPECT_EQ(GetNodePdf(book, path), JoinPath(book, "838.pdf"));
  }
}

TEST(ChapterTest, FolderWithoutRecordsGetsAnEmptyTableOfContents) {
  TempDir dir;
  MakeDirectories(dir / "4");
  CXmlDocument toc;
  ASSERT_EQ(CreateChapterXml(dir / "4", &toc), 1);
  EXPECT_EQ(ReadUtf8(dir / "4/chapter.xml"),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book >\r\n</book>");
  EXPECT_EQ(toc.root().first_child(), nullptr);
  EXPECT_EQ(GetNodePdf(dir / "4", {}), "");
}

TEST(ChapterTest, ExistingTableOfContentsIsUsedAndABrokenOneIsKeptAside) {
  TempDir dir;
  const std::string book = dir / "5";
  WriteGbk(JoinPath(book, "chapter.xml"), kToc);
  CXmlDocument toc;
  ASSERT_EQ(CreateChapterXml(book, &toc), 1);
  EXPECT_EQ(ReadUtf8(JoinPath(book, "chapter.xml")), kToc);  // loaded, not rewritten

  const std::string broken = "<book><dir name=\"手写目录\">";  // no declaration: does not load
  WriteGbk(JoinPath(book, "chapter.xml"), broken);
  ASSERT_EQ(CreateChapterXml(book, &toc), 1);
  EXPECT_EQ(ReadUtf8(JoinPath(book, "chapter.xml.bak")), broken);
  EXPECT_NE(ReadUtf8(JoinPath(book, "chapter.xml")), broken);
}

}  // namespace
}  // namespace tomeva
