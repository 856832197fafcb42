#include "core/import/book_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "import_fixture.h"
#include "support/recording_sinks.h"

namespace tomeva {
namespace {

using testing::Installation;
using testing::LibraryEngine;
using testing::RecordingImportSink;

constexpr char kThreeBooks[] =
    "<book dir=\"1\" category=\"1\" name=\"甲\"/>\r\n"
    "<book dir=\"2\" category=\"2\" name=\"乙\"/>\r\n"
    "<book dir=\"4\" category=\"4\" name=\"丁\"/>\r\n";

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(BookImportTest, NewBookIsIndexedCopiedAndAddedWithTheFirstFreeCategory) {
  Installation app;
  app.WriteCatalogue(kThreeBooks);
  app.WriteFragment("30", "新书");
  app.WriteRecord("30", 1, "静夜思 &amp; &lt;月&gt;", "李白", "床前明月光");
  app.WriteRecord("30", 2, "春晓", "孟浩然", "春眠不觉晓");
  app.Write("Update/30/cover.jpg", "jpeg");
  app.Write("Update/30/pages/p1.htm", "<p>1</p>");
  app.Write("Update/30/book_bad.xml", "not a record");

  RecordingImportSink sink;
  ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);

  EXPECT_EQ(result.books_imported, 1);
  EXPECT_TRUE(result.library_changed);
  // The file that is not a record is left out, and the user is told which one.
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(GbkToUtf8(result.messages[0]), "新书“新书”中的文件book_bad.xml不是有效的记录，已跳过这个文件。");
  EXPECT_EQ(sink.finished, 1);
  EXPECT_TRUE(Contains(sink.statuses, "找到新书"));
  EXPECT_TRUE(Contains(sink.statuses, "正在分析新书的记录..."));
  EXPECT_TRUE(Contains(sink.statuses, "正在建立索引..."));
  EXPECT_EQ(sink.statuses.back(), "导入完成！请单击确定打开程序。");
  EXPECT_EQ(sink.ranges, std::vector<int>{2});
  EXPECT_EQ(sink.last_position, 2);

  EXPECT_EQ(app.CatalogueText(),
            std::string("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n") + kThreeBooks +
                "<book dir=\"30\"  category=\"3\"   name=\"新书\" ver=\"2.0\"/>\r\n"
                "<Xml2HtmlTags category=\"3\" xml_tag=\"FdName\" html_tag=\"题名\"/>\r\n"
                "<Xml2HtmlTags category=\"3\" xml_tag=\"FdAuthor\" html_tag=\"作者\"/>\r\n"
                "<Xml2HtmlTags category=\"3\" xml_tag=\"KeyWords\" html_tag=\"内容摘要\"/>\r\n"
                "<Xml2HtmlTags category=\"3\" xml_tag=\"FdContent\" html_tag=\"内容\"/>\r\n"
                "<Xml2HtmlTags category=\"3\" xml_tag=\"FdImgInfo\" html_tag=\"附图信息\"/>\r\n"
                "</books>");
  EXPECT_EQ(app.Read("30/book_1.xml"),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n"
            "\t<FdName>静夜思 &amp; &lt;月&gt;</FdName>\n\t<FdAuthor>李白</FdAuthor>\n"
            "\t<FdContent>床前明月光</FdContent>\n\t<KeyWords>kw</KeyWords>\n"
            "\t<FdCat>3</FdCat>\n</record>\n");
  EXPECT_EQ(app.Read("30/cover.jpg"), "jpeg");
  EXPECT_EQ(app.Read("30/pages/p1.htm"), "<p>1</p>");
  EXPECT_FALSE(FileExists(app / "30/book_bad.xml"));
  EXPECT_EQ(app.HitCount("f15:3"), 2);
  EXPECT_EQ(app.HitCount("春眠"), 1);
  // Update/30 is emptied but kept; the fragment, its marker and temp.xml are gone; the old
  // contents wait aside until the leftovers are cleared.
  EXPECT_TRUE(DirectoryExists(app / "Update/30"));
  EXPECT_TRUE(ListDirectory(app / "Update/30").empty());
  EXPECT_EQ(ListDirectory(app / "Update"), (std::vector<std::string>{".cleared-30", "30"}));
  EXPECT_FALSE(FileExists(app / "temp.xml"));
  EXPECT_EQ(ClearImportLeftovers(app.dir()), 1);
  EXPECT_EQ(ListDirectory(app / "Update"), std::vector<std::string>{"30"});
}

TEST(BookImportTest, OlderRecordFormatUsesItsOwnFieldsAndFolder) {
  Installation app;
  app.WriteCatalogue("");
  app.WriteFragment("8", "旧书", "");
  const std::string head = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>";
  app.Write("Update/8/book_1.xml",
            head + "<f0>旧题</f0><f5>旧文</f5><f2>图一</f2><f15>9</f15><FdAuthor>忽略</FdAuthor></record>");
  app.Write("Update/8/book_2.xml", head + "<f0>无目录</f0></record>");
  app.Write("Update/8/book_3.xml", head + "<f0>坏目录</f0><f15>../x</f15></record>");

  RecordingImportSink sink;
  ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);
  EXPECT_EQ(result.books_imported, 1);
  EXPECT_EQ(app.Read("9/book_1.xml"),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n\t<FdName>旧题</FdName>\n"
            "\t<FdContent>旧文</FdContent>\n\t<FdImgInfo>图一**</FdImgInfo>\n"
            "\t<FdCat>1</FdCat>\n</record>\n");
  EXPECT_FALSE(FileExists(app / "8/book_2.xml"));
  EXPECT_FALSE(FileExists(app / "8/book_3.xml"));
  EXPECT_EQ(app.HitCount("f15:1"), 1);
  ASSERT_EQ(result.messages.size(), 1u);  // the refused record folder
  EXPECT_NE(GbkToUtf8(result.messages[0]).find("book_3.xml"), std::string::npos);
  EXPECT_EQ(ListDirectory(app.parent()), std::vector<std::string>{"app"});
}

TEST(BookImportTest, TwoFragmentsGetConsecutiveCategories) {
  Installation app;
  app.WriteCatalogue(kThreeBooks);
  app.WriteFragment("31", "一");
  app.WriteRecord("31", 1, "a", "b", "c");
  app.WriteFragment("32", "二");
  app.WriteRecord("32", 1, "d", "e", "f");
  app.WriteRecord("32", 2, "g", "h", "i");
  ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
  EXPECT_EQ(result.books_imported, 2);
  EXPECT_EQ(app.BooksNamed("一"), (std::vector<std::pair<std::string, std::string>>{{"31", "3"}}));
  EXPECT_EQ(app.BooksNamed("二"), (std::vector<std::pair<std::string, std::string>>{{"32", "5"}}));
  EXPECT_EQ(app.HitCount("f15:3"), 1);
  EXPECT_EQ(app.HitCount("f15:5"), 2);
}

// Books that must not be imported now leave the catalogue byte for byte as it was and keep
// their fragment and files in Update/ for a later start.
TEST(BookImportTest, RefusedBooksChangeNothing) {
  struct Case {
    const char* name;
    std::string catalogue_books;
    bool catalogue_end;
    std::string dir;
    std::string book_name;
    bool reported;
  } cases[] = {
      {"name already in the catalogue", kThreeBooks, true, "40", "乙", false},
      {"catalogue without </books>", kThreeBooks, false, "40", "新", true},
      {"catalogue full", "", true, "40", "新", true},
      {"folder name with ..", kThreeBooks, true, "..", "新", true},
      {"folder name with a separator", kThreeBooks, true, "a\\..\\..\\b", "新", true},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation app;
    if (std::string(c.name) == "catalogue full") {
      for (int i = 1; i <= 49; ++i) {
        c.catalogue_books += "<book dir=\"" + std::to_string(i) + "\" category=\"" +
                             std::to_string(i) + "\" name=\"b" + std::to_string(i) + "\"/>\r\n";
      }
    }
    app.WriteCatalogue(c.catalogue_books, c.catalogue_end);
    app.WriteFragment("40", c.book_name);
    if (c.dir != "40") {
      // The fragment names a folder outside the library.
      app.Write("Update/bookconfig40.xml", "");
      WriteScrambledFile(app / "Update/bookconfig40.xml",
                         Utf8ToGbk("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books version=\"2\">"
                                   "<book dir=\"" + c.dir + "\" name=\"" + c.book_name +
                                   "\"/></books>"));
    }
    app.WriteRecord("40", 1, "t", "a", "c");
    std::string before;
    ReadWholeFile(app / "bookconfig.xml", &before);
    const std::vector<std::string> outside_before = ListDirectory(app.parent());

    RecordingImportSink sink;
    ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);

    std::string after;
    ReadWholeFile(app / "bookconfig.xml", &after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(result.books_imported, 0);
    EXPECT_FALSE(result.library_changed);
    EXPECT_EQ(sink.finished, 1);
    EXPECT_FALSE(Contains(sink.statuses, "导入完成！请单击确定打开程序。"));
    EXPECT_EQ(sink.reports.size(), c.reported ? 1u : 0u);
    EXPECT_TRUE(FileExists(app / "Update/bookconfig40.xml"));
    EXPECT_TRUE(FileExists(app / "Update/40/book_1.xml"));
    EXPECT_FALSE(DirectoryExists(app / "40"));
    EXPECT_EQ(ListDirectory(app.parent()), outside_before);
  }
}

// A library written elsewhere may keep a book in a sub-folder ("books\tang", as the migration
// stages it): the book goes in there, and its Update folder is emptied as any other.
TEST(BookImportTest, BookInASubFolderGoesInThere) {
  Installation app;
  app.WriteCatalogue(kThreeBooks);
  MakeDirectories(app / "Update");
  WriteScrambledFile(app / "Update/bookconfig_tang.xml",
                     Utf8ToGbk("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n"
                               "<books version=\"2.0\">\r\n<book dir=\"books\\tang\" "
                               "name=\"唐诗\"/>\r\n</books>"));
  app.WriteRecord("books/tang", 1, "静夜思", "李白", "床前明月光");
  app.Write("Update/books/tang/838.pdf", "%PDF");

  const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
  EXPECT_EQ(result.books_imported, 1);
  EXPECT_TRUE(result.messages.empty()) << GbkToUtf8(result.messages.front());
  const auto entries = app.BooksNamed("唐诗");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, "books\\tang");
  EXPECT_EQ(app.HitCount("床前明月光"), 1);
  EXPECT_TRUE(FileExists(app / "books/tang/book_1.xml"));
  EXPECT_EQ(app.Read("books/tang/838.pdf"), "%PDF");
  EXPECT_FALSE(FileExists(app / "Update/bookconfig_tang.xml"));
  EXPECT_TRUE(ListDirectory(app / "Update/books/tang").empty());
  // A second run finds nothing left to do and leaves the book once.
  EXPECT_EQ(RunBookImport(LibraryEngine(), app.dir(), nullptr).books_imported, 0);
  EXPECT_EQ(app.BooksNamed("唐诗").size(), 1u);
}

// While another program imports into the same library, a second import and the clean-up of
// leftovers touch nothing; once it is done the books go in.
TEST(BookImportTest, AnImportAlreadyRunningKeepsTheNextOneOut) {
  Installation app;
  app.WriteCatalogue(kThreeBooks);
  app.WriteFragment("31", "一");
  app.WriteRecord("31", 1, "a", "b", "c");
  MakeDirectories(app / "Update/.cleared-9");
  std::string before;
  ReadWholeFile(app / "bookconfig.xml", &before);

  FileLock other;
  ASSERT_TRUE(other.TryLock(app / "Update"));
  RecordingImportSink sink;
  ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);
  EXPECT_EQ(result.books_imported, 0);
  EXPECT_EQ(sink.finished, 1);
  ASSERT_EQ(sink.reports.size(), 1u);
  EXPECT_NE(sink.reports[0].find("另一个程序正在向本书库导入新书"), std::string::npos);
  std::string after;
  ReadWholeFile(app / "bookconfig.xml", &after);
  EXPECT_EQ(after, before);
  EXPECT_TRUE(FileExists(app / "Update/bookconfig31.xml"));
  EXPECT_EQ(ClearImportLeftovers(app.dir()), 0);
  EXPECT_TRUE(DirectoryExists(app / "Update/.cleared-9"));

  other.Unlock();
  EXPECT_EQ(RunBookImport(LibraryEngine(), app.dir(), nullptr).books_imported, 1);
  EXPECT_EQ(app.BooksNamed("一").size(), 1u);
  EXPECT_EQ(ClearImportLeftovers(app.dir()), 2);  // ours, and the one the import left
}

TEST(BookImportTest, NothingPendingFinishesAtOnce) {
  Installation app;
  app.WriteCatalogue(kThreeBooks);
  RecordingImportSink sink;
  ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);
  EXPECT_EQ(sink.finished, 1);
  EXPECT_TRUE(sink.statuses.empty());
  EXPECT_FALSE(result.library_changed);
}

}  // namespace
}  // namespace tomeva
