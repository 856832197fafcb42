#include "core/pdf/record_pdf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/gbk.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::TempDir;
using testing::WriteGbk;
using testing::WriteScrambledGbk;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n";

void WriteRecord(const std::string& path, const std::string& category, const std::string& title) {
  WriteGbk(path, std::string(kDeclaration) + "<record><FdCat>" + category + "</FdCat><FdName>" +
                     title + "</FdName></record>");
}

// A library in the application folder: book 7 in "tang" with a table of contents whose records
// sit at several depths, and book 8 in "song" without one.
class RecordPdfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteScrambledGbk(app_ / "bookconfig.xml",
                      std::string(kDeclaration) +
                          "<books><book name=\"宋\" dir=\"song\" category=\"8\"/>"
                          "<book name=\"唐\" dir=\"tang\" category=\"7\"/>"
                          "<book name=\"外\" dir=\"../out\" category=\"9\"/></books>");
    WriteRecord(app_ / "tang/book_1.xml", "7", "静夜思");
    WriteRecord(app_ / "tang/BOOK_2.XML", "7", "春晓");
    WriteRecord(app_ / "tang/book_3.xml", "7", "登高");
    WriteRecord(app_ / "tang/book_4.xml", "7", "登高");  // same title as book_3
    WriteRecord(app_ / "tang/book_5.xml", "7", "无目");  // not in the table of contents
    WriteRecord(app_ / "tang/book_6.xml", "7", "后记");
    MakeDirectories(app_ / "tang/book_0.xml");  // a folder, not a record file
    WriteGbk(app_ / "tang/chapter.xml",
             std::string(kDeclaration) +
                 "<book pdf=\"whole.pdf\">\r\n"
                 " <record title=\"静夜思\">book_1.xml</record>\r\n"
                 " <dir name=\"卷一\" pdf=\"juan1.pdf\">\r\n"
                 "  <dir name=\"上\"><dir name=\"甲\">\r\n"
                 "   <Record title=\"春晓\">book_2.xml</Record>\r\n"
                 "  </dir></dir>\r\n"
                 "  <record title=\"登高\" pdf=\"d3.pdf\">book_3.xml</record>\r\n"
                 "  <record title=\"登高\" pdf=\"d4.pdf\">book_4.xml</record>\r\n"
                 " </dir>\r\n"
                 " <record title=\"后记\">book_6.xml</record>\r\n"
                 "</book>");
    WriteRecord(app_ / "song/book_1.xml", "8", "水调歌头");
    WriteRecord(app_ / "out/book_1.xml", "9", "外书");
  }

  std::string PdfOf(const std::string& category, const std::string& title) {
    CXmlDocument record;
    EXPECT_EQ(record.ParseText(Utf8ToGbk(std::string(kDeclaration) + "<record><FdCat>" + category +
                                         "</FdCat><FdName>" + title + "</FdName></record>")),
              1);
    return GbkToUtf8(GetRecordPdf(record, app_.path() + "/"));
  }

  TempDir app_;
};

TEST_F(RecordPdfTest, FindsTheDeepestPdfOnTheRecordsWay) {
  struct Case {
    const char* category;
    const char* title;
    std::string pdf;  // under the application folder, "" for none
  } cases[] = {
      {"7", "静夜思", "tang/whole.pdf"},  // only the root names one
      {"7", "春晓", "tang/juan1.pdf"},    // three levels deep, the section's, not the root's
      {"7", "登高", "tang/d3.pdf"},       // two files of that title: the one listed first
      {"7", "后记", "tang/whole.pdf"},    // after a section: its PDF is not inherited
      {"7", "无目", ""},                  // the table of contents does not name its file
      {"7", "不存在", ""},                // no record file of that title
      {"07", "静夜思", ""},               // categories compare as written
      {"5", "静夜思", ""},                // no book of that category
      {"8", "水调歌头", ""},              // book without chapter.xml
      {"9", "外书", ""},                  // a folder outside the library is never opened
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PdfOf(c.category, c.title), c.pdf.empty() ? "" : app_ / c.pdf)
        << c.category << " " << c.title;
  }
}

// The table of contents comes with the book: a PDF it names outside the book's folder is never
// opened, even one inside another book.
TEST_F(RecordPdfTest, PdfsOutsideTheBookFolderAreNone) {
  struct Case {
    const char* value;
    std::string pdf;  // under the application folder, "" for none
  } cases[] = {
      {"s\\j1.pdf", "tang/s/j1.pdf"},
      {"j1.pdf#page=2", "tang/j1.pdf#page=2"},
      {"../../../../etc/hostname", ""},
      {"..\\song\\x.pdf", ""},
      {"/etc/hostname", ""},
      {"file:///etc/hostname", ""},
  };
  for (const Case& c : cases) {
    WriteGbk(app_ / "tang/chapter.xml", std::string(kDeclaration) + "<book pdf=\"" + c.value +
                                            "\"><record>book_1.xml</record></book>");
    EXPECT_EQ(PdfOf("7", "静夜思"), c.pdf.empty() ? "" : app_ / c.pdf) << c.value;
  }
}

// A PDF name holding a byte that is not GBK is refused, not opened as the reader repaired it,
// and the record does not fall back to the PDF an element further up names.
TEST_F(RecordPdfTest, PdfNameWithAByteThatIsNotGbkIsNone) {
  for (const std::string& value : {std::string("d\x81.pdf"), std::string("s\x81/d.pdf")}) {
    ASSERT_TRUE(ReplaceFileAtomically(app_ / "tang/chapter.xml",
                                      std::string(kDeclaration) +
                                          "<book pdf=\"whole.pdf\"><record pdf=\"" + value +
                                          "\">book_1.xml</record></book>"));
    EXPECT_EQ(PdfOf("7", "静夜思"), "") << value;
  }
}

TEST_F(RecordPdfTest, MissingCatalogueGivesNoPdf) {
  RemoveFile(app_ / "bookconfig.xml");
  EXPECT_EQ(PdfOf("7", "静夜思"), "");
}

TEST(PdfKeywordsTest, TakesTheFirstThirteenInReverseOrder) {
  using V = std::vector<std::string>;
  V twenty;
  for (int i = 1; i <= 20; ++i) twenty.push_back("k" + std::to_string(i));
  EXPECT_EQ(PdfKeywords(twenty),
            (V{"k13", "k12", "k11", "k10", "k9", "k8", "k7", "k6", "k5", "k4", "k3", "k2", "k1"}));
  EXPECT_EQ(PdfKeywords({"a", "", "c"}), (V{"c", "", "a"}));
  EXPECT_EQ(PdfKeywords({"a"}), V{"a"});
  EXPECT_EQ(PdfKeywords({}), V{});
}

}  // namespace
}  // namespace tomeva
