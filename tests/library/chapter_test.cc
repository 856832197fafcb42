#include "core/library/chapter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/fault_injection.h"
#include "base/gbk.h"
#include "base/mbstring.h"
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
      {{0, 1}, "7/p/chun.htm", "7/s/chun.pdf"},  // "\\" read as a separator
      {{1}, "home.htm", "7/v2.pdf"},             // home.htm in capitals is the library's start page
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

// chapter.xml comes with a book package: a page or PDF it names outside the book's folder is
// neither shown nor opened. The node falls back to the start page (as for a missing page) and has
// no PDF.
TEST(ChapterTest, PagesAndPdfsOutsideTheBookFolderAreRefused) {
  TempDir dir;
  const std::string book = dir / "7";
  WriteGbk(dir / "secret.htm", "secret");
  WriteGbk(book + "/in/ok.htm", "ok");
  WriteGbk(book + "/in/ok.pdf", "%PDF");
  ASSERT_EQ(::symlink("/etc", (book + "/etc").c_str()), 0);
  struct Case {
    const char* value;
    bool inside;
  } cases[] = {
      {"in/ok.htm", true},
      {"IN\\OK.htm", true},
      {"in/ok.htm#part2", true},
      {"../../../../etc/passwd", false},
      {"..\\secret.htm", false},
      {"in/../../secret.htm", false},
      {"/etc/passwd", false},
      {"C:\\boot.ini", false},
      {"file:///etc/passwd", false},
      {"etc/passwd", false},  // a link in the book that leads out of it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    WriteGbk(JoinPath(book, "chapter.xml"),
             std::string("<?xml version=\"1.0\" encoding=\"GB2312\"?><book>"
                         "<dir name=\"x\" htm=\"") +
                 c.value + "\" pdf=\"" + c.value + "\"/></book>");
    const std::string page = GetNodePage(dir.path(), book, {0});
    const std::string pdf = GetNodePdf(book, {0});
    if (c.inside) {
      EXPECT_TRUE(StartsWith(page, book + "/")) << page;
      EXPECT_TRUE(StartsWith(pdf, book + "/")) << pdf;
    } else {
      EXPECT_EQ(page, "");
      EXPECT_EQ(pdf, "");
    }
  }
}

// A page or PDF name holding a byte that is not GBK is refused, not used as the reader repaired
// it ("in\x81/ok.htm" would be "in?/ok.htm": the page "in" with a query); it hides the values
// above it. Other values of the element stay usable, and so does a "?" that was written.
TEST(ChapterTest, PageAndPdfNamesWithBytesThatAreNotGbkAreRefused) {
  TempDir dir;
  const std::string book = dir / "7";
  WriteGbk(book + "/in/ok.htm", "ok");
  WriteGbk(book + "/in/ok.pdf", "%PDF");
  WriteGbk(book + "/v1", "a page the repaired name would lead to");
  struct Case {
    const char* what;
    std::string element;
    std::string page;  // "" = none; else relative to the book
    std::string pdf;
  } cases[] = {
      {"valid names", "<dir name=\"x\" htm=\"in/ok.htm\" pdf=\"in/ok.pdf\"/>", "in/ok.htm",
       "in/ok.pdf"},
      {"a lone lead byte hiding a slash", "<dir name=\"x\" htm=\"in\x81/ok.htm\"/>", "", "838.pdf"},
      {"a lone lead byte before the extension", "<dir name=\"x\" htm=\"v1\x81.htm\"/>", "",
       "838.pdf"},
      {"a lone lead byte before the end of the value",
       "<dir name=\"x\" htm=\"in/ok.htm\" pdf=\"in/ok\x81\"/>", "in/ok.htm", ""},
      {"a repaired label leaves the names usable",
       "<dir name=\"x\x81\" htm=\"in/ok.htm\" pdf=\"in/ok.pdf\"/>", "in/ok.htm", "in/ok.pdf"},
      {"a written question mark is a query", "<dir name=\"x\" htm=\"in/ok.htm?p=1\"/>",
       "in/ok.htm?p=1", "838.pdf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(
        ReplaceFileAtomically(JoinPath(book, "chapter.xml"),
                              "<?xml version=\"1.0\" encoding=\"GB2312\"?><book pdf=\"838.pdf\">" +
                                  c.element + "</book>"));
    EXPECT_EQ(GetNodePage(dir.path(), book, {0}), c.page.empty() ? "" : JoinPath(book, c.page));
    EXPECT_EQ(GetNodePdf(book, {0}), c.pdf.empty() ? "" : JoinPath(book, c.pdf));
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

// Drives a rewrite of a damaged chapter.xml through each of its file writes failing in turn,
// once and for good (a full disk), and then lets the next start run without a fault.
class ChapterRewriteFaultTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearFaults(); }

  // A book folder with one record and a hand-written table of contents that does not load.
  std::string MakeBook(const TempDir& dir) {
    const std::string book = dir / "7";
    WriteGbk(
        JoinPath(book, "book_1.xml"),
        "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record><FdName>静夜思</FdName></record>");
    WriteGbk(JoinPath(book, "chapter.xml"), kDamaged);
    return book;
  }

  // What must hold after any run: the hand-written file is in chapter.xml or chapter.xml.bak,
  // and chapter.xml is either that file or a table of contents that loads.
  void CheckNothingLost(const std::string& book) {
    const std::string current = ReadUtf8(JoinPath(book, "chapter.xml"));
    const std::string aside = ReadUtf8(JoinPath(book, "chapter.xml.bak"));
    EXPECT_TRUE(current == kDamaged || aside == kDamaged) << current << " / " << aside;
    if (current != kDamaged) {
      CXmlDocument reloaded;
      EXPECT_EQ(reloaded.Load(JoinPath(book, "chapter.xml")), 1) << current;
    }
  }

  static constexpr char kDamaged[] = "<book><dir name=\"手写目录\">";
};

TEST_F(ChapterRewriteFaultTest, EveryFailedWriteLeavesTheOldFileAndTheNextStartFinishes) {
  int writes = 0;
  {
    TempDir dir;
    const std::string book = MakeBook(dir);
    ArmFault(FaultSite::kFileWrite, 0, 0);
    CXmlDocument toc;
    ASSERT_EQ(CreateChapterXml(book, &toc), 1);
    writes = FaultSiteCalls(FaultSite::kFileWrite);
    ClearFaults();
  }
  // Setting the file aside and writing the new one.
  ASSERT_EQ(writes, 2);
  for (bool sticky : {false, true}) {
    for (int n = 1; n <= writes; ++n) {
      SCOPED_TRACE(::testing::Message() << "write " << n << (sticky ? " and later" : ""));
      TempDir dir;
      const std::string book = MakeBook(dir);
      ArmFault(FaultSite::kFileWrite, n, ENOSPC, sticky);
      CXmlDocument toc;
      // The book still shows its records while the disk refuses the new file.
      EXPECT_EQ(CreateChapterXml(book, &toc), 1);
      ClearFaults();
      ASSERT_NE(toc.root().first_child(), nullptr);
      EXPECT_EQ(GbkToUtf8(ChapterNodeLabel(*toc.root().first_child())), "静夜思");
      CheckNothingLost(book);
      // The next start, with room on the disk.
      CXmlDocument again;
      EXPECT_EQ(CreateChapterXml(book, &again), 1);
      CheckNothingLost(book);
      EXPECT_EQ(ReadUtf8(JoinPath(book, "chapter.xml.bak")), kDamaged);
      EXPECT_NE(ReadUtf8(JoinPath(book, "chapter.xml")), kDamaged);
    }
  }
}

TEST_F(ChapterRewriteFaultTest, AFileThatCannotBeReadIsNeitherReplacedNorSetAside) {
  // A good table of contents on a disk that fails a read is not damaged.
  TempDir dir;
  const std::string book = dir / "8";
  WriteGbk(JoinPath(book, "chapter.xml"), kToc);
  WriteGbk(JoinPath(book, "chapter.xml.bak"), "an older one");
  ArmFault(FaultSite::kFileRead, 1, EIO);
  CXmlDocument toc;
  EXPECT_EQ(CreateChapterXml(book, &toc), 0);
  ClearFaults();
  EXPECT_EQ(toc.root().first_child(), nullptr);
  EXPECT_EQ(ReadUtf8(JoinPath(book, "chapter.xml")), kToc);
  EXPECT_EQ(ReadUtf8(JoinPath(book, "chapter.xml.bak")), "an older one");
  EXPECT_EQ(CreateChapterXml(book, &toc), 1);
  EXPECT_EQ(GbkToUtf8(ChapterNodeLabel(*toc.root().first_child())), "卷一");

  // Every read of a damaged file's rewrite failing in turn: whatever the generated table could
  // or could not see, the hand-written file is kept.
  int reads = 0;
  {
    TempDir counted;
    const std::string damaged = MakeBook(counted);
    ArmFault(FaultSite::kFileRead, 0, 0);
    CreateChapterXml(damaged, &toc);
    reads = FaultSiteCalls(FaultSite::kFileRead);
    ClearFaults();
  }
  ASSERT_GE(reads, 2);  // chapter.xml and the record file
  for (int n = 1; n <= reads; ++n) {
    SCOPED_TRACE(::testing::Message() << "read " << n);
    TempDir each;
    const std::string damaged = MakeBook(each);
    ArmFault(FaultSite::kFileRead, n, EIO);
    CreateChapterXml(damaged, &toc);
    ClearFaults();
    CheckNothingLost(damaged);
  }
}

}  // namespace
}  // namespace tomeva
