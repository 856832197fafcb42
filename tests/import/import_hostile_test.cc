// Book packages made by someone else: a fragment whose folder names the installation's own files,
// another book or a place outside the library, and packages holding symbolic links. None of them
// may change the index, the catalogue or another book; each book stays waiting and the user is
// told which book and why.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/fault_injection.h"
#include "base/gbk.h"
#include "core/import/book_import.h"
#include "import_fixture.h"
#include "support/recording_sinks.h"

namespace tomeva {
namespace {

using testing::Installation;
using testing::LibraryEngine;
using testing::RecordingImportSink;
using testing::ReadUtf8;
using testing::TempDir;
using testing::WriteGbk;

// Every entry under `root` (links as links, never followed) with its contents: files by their
// bytes, links by their target, folders by their name only.
void Snapshot(const std::string& root, const std::string& relative,
              std::map<std::string, std::string>* out) {
  for (const std::string& name : ListDirectory(JoinPath(root, relative))) {
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    const std::string path = JoinPath(root, rel);
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
      (*out)[rel] = "link " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (S_ISDIR(st.st_mode)) {
      (*out)[rel] = "folder";
      Snapshot(root, rel, out);
    } else {
      std::string bytes;
      ReadWholeFile(path, &bytes);
      (*out)[rel] = "file " + bytes;
    }
  }
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  Snapshot(root, "", &entries);
  return entries;
}

// A fragment in Update/ naming one book, its folder written as given (any bytes).
void WriteRawFragment(const Installation& app, const std::string& file, const std::string& dir,
                      const std::string& name_utf8) {
  MakeDirectories(app / "Update");
  WriteScrambledFile(app / ("Update/" + file),
                     "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books version=\"2.0\">\r\n"
                     "<book dir=\"" + dir + "\" name=\"" + Utf8ToGbk(name_utf8) +
                         "\"/>\r\n</books>");
}

// An installation with book 1 (甲, imported, so that the index holds its records), a catalogue
// entry for a book whose folder Books\Seven is not on disk, a folder "lost" that no book names,
// a folder "planted" that is a link to `outside`, and System.xml naming the index folder
// data\idx.
void Populate(Installation& app, const std::string& outside) {
  app.WriteCatalogue("");
  app.WriteFragment("1", "甲");
  app.WriteRecord("1", 1, "静夜思", "李白", "床前明月光");
  app.WriteRecord("1", 2, "春晓", "孟浩然", "春眠不觉晓");
  ASSERT_EQ(RunBookImport(LibraryEngine(), app.dir(), nullptr).books_imported, 1);
  ASSERT_EQ(ClearImportLeftovers(app.dir()), 1);
  std::string catalogue = app.CatalogueText();
  catalogue.replace(catalogue.find("</books>"), 8,
                    "<book dir=\"Books\\Seven\"  category=\"7\"   name=\"乙\" ver=\"2.0\"/>\r\n"
                    "</books>");
  WriteScrambledFile(app / "bookconfig.xml", Utf8ToGbk(catalogue));
  app.Write("System.xml", "<?xml version=\"1.0\"?>\n<config><SearchDataDir>.\\data\\idx"
                          "</SearchDataDir></config>\n");
  MakeDirectories(app / "lost");
  ASSERT_EQ(::symlink(outside.c_str(), (app / "planted").c_str()), 0);
}

TEST(ImportHostileTest, RefusedFoldersLeaveEverythingAsItWasAndSayWhy) {
  const std::string not_plain = "不是书库中一个简单的文件夹名";
  const std::string reserved = "是本程序自己的文件或文件夹";
  const std::string in_catalogue = "与书目中已有的书的文件夹相同或相重叠";
  const std::string exists = "在书库中已经存在";
  const std::string link = "经过一个符号链接或不是文件夹";
  struct Case {
    const char* what;
    std::string dir;
    std::string reason;
    bool package;  // the package has a folder Update/<dir> of its own
  } cases[] = {
      {"the index folder", "SearchDB", reserved, true},
      {"the index folder in another case", "searchdb", reserved, true},
      {"the index folder written the Windows way, inside", "SEARCHDB\\sub", reserved, true},
      {"the Update folder", "Update", reserved, true},
      {"the viewer's folder", "viewer", reserved, true},
      {"the help", "Help", reserved, true},
      {"the catalogue file", "bookconfig.xml", reserved, true},
      {"the index folder System.xml names", "Data", reserved, true},
      {"inside the index folder System.xml names", "data/IDX/x", reserved, true},
      {"an existing book's folder", "1", in_catalogue, true},
      {"inside an existing book's folder", "1\\pages", in_catalogue, true},
      {"a folder the catalogue names, not on disk", "books/seven", in_catalogue, true},
      {"a folder holding a book the catalogue names", "BOOKS", in_catalogue, true},
      {"a folder already in the installation", "lost", exists, true},
      {"a link planted in the installation", "planted", link, true},
      {"a link planted in the installation, below", "planted/x", link, true},
      {"up", "..", not_plain, false},
      {"up through a folder", "a/../..", not_plain, false},
      {"an absolute path", "/tmp/evil", not_plain, false},
      {"a control character", "a\x01" "b", not_plain, false},
      {"empty", "", not_plain, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Installation app;
    TempDir outside;
    Populate(app, outside.path());
    if (HasFatalFailure()) return;
    WriteRawFragment(app, "bookconfig_hostile.xml", c.dir, "敌书");
    if (c.package) {
      // What the package would put there: a record, and a stub that names another index server.
      app.WriteRecord(NormalizeSeparators(c.dir), 1, "敌", "某", "敌书正文");
      app.Write("Update/" + NormalizeSeparators(c.dir) + "/XAPIANDB", "remote tcpsrv evil:1\n");
    }
    const int book1_hits = app.HitCount("明月");
    ASSERT_EQ(book1_hits, 1);
    const auto before = Snapshot(app.parent());
    const auto outside_before = Snapshot(outside.path());

    RecordingImportSink sink;
    const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);

    EXPECT_EQ(result.books_imported, 0);
    EXPECT_EQ(result.books_failed, 1);
    EXPECT_FALSE(result.library_changed);
    // Nothing changed anywhere: the catalogue, the index, book 1, the package waiting in
    // Update/, and whatever lies outside.
    EXPECT_EQ(Snapshot(app.parent()), before);
    EXPECT_EQ(Snapshot(outside.path()), outside_before);
    EXPECT_EQ(app.HitCount("明月"), book1_hits);
    EXPECT_EQ(app.HitCount("敌书"), 0);
    EXPECT_EQ(app.BooksNamed("敌书").size(), 0u);
    EXPECT_TRUE(FileExists(app / "Update/bookconfig_hostile.xml"));
    // Told once, by the book's name and the reason.
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_NE(sink.reports[0].find("新书“敌书”"), std::string::npos) << sink.reports[0];
    EXPECT_NE(sink.reports[0].find(c.reason), std::string::npos) << sink.reports[0];
    EXPECT_EQ(sink.reports[0].find('\x01'), std::string::npos);
    EXPECT_EQ(sink.finished, 1);
  }
}

// A package whose own folder in Update/ is a link is not read at all.
TEST(ImportHostileTest, PackageFolderThatIsALinkIsNotRead) {
  Installation app;
  TempDir outside;
  Populate(app, outside.path());
  WriteGbk(outside / "elsewhere/book_1.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record><FdName>外</FdName>"
           "<FdContent>外泄正文</FdContent></record>\n");
  WriteGbk(outside / "elsewhere/private.txt", "private");
  ASSERT_EQ(::symlink((outside / "elsewhere").c_str(), (app / "Update/30").c_str()), 0);
  app.WriteFragment("30", "外书");
  std::string catalogue_before;
  ReadWholeFile(app / "bookconfig.xml", &catalogue_before);

  const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
  EXPECT_EQ(result.books_imported, 0);
  EXPECT_EQ(result.books_failed, 1);
  std::string catalogue_after;
  ReadWholeFile(app / "bookconfig.xml", &catalogue_after);
  EXPECT_EQ(catalogue_after, catalogue_before);
  EXPECT_FALSE(DirectoryExists(app / "30"));
  EXPECT_EQ(app.HitCount("外泄"), 0);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_NE(GbkToUtf8(result.messages[0]).find("新书“外书”的文件夹“Update/30”经过一个符号链接"),
            std::string::npos)
      << GbkToUtf8(result.messages[0]);
  EXPECT_EQ(ReadUtf8(outside / "elsewhere/private.txt"), "private");
}

// Links inside a package, at any depth, are neither read, indexed nor copied; the book goes in
// without them and the user is told which were left out.
TEST(ImportHostileTest, LinksInsideAPackageAreSkippedAndNamed) {
  Installation app;
  TempDir outside;
  app.WriteCatalogue("");
  app.WriteFragment("30", "新书");
  app.WriteRecord("30", 1, "静夜思", "李白", "床前明月光");
  app.Write("Update/30/cover.jpg", "jpeg");
  app.Write("Update/30/pages/p.htm", "<p>1</p>");
  WriteGbk(outside / "book_9.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record><FdName>外</FdName>"
           "<FdContent>外泄正文</FdContent></record>\n");
  WriteGbk(outside / "secrets/key.txt", "key");
  ASSERT_EQ(::symlink("/etc/passwd", (app / "Update/30/passwd").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "book_9.xml").c_str(), (app / "Update/30/book_2.xml").c_str()),
            0);
  ASSERT_EQ(::symlink((outside / "secrets").c_str(), (app / "Update/30/pages/more").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "secrets").c_str(), (app / "Update/30/folder").c_str()), 0);

  RecordingImportSink sink;
  const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);

  EXPECT_EQ(result.books_imported, 1);
  EXPECT_EQ(app.HitCount("明月"), 1);
  EXPECT_EQ(app.HitCount("外泄"), 0);
  EXPECT_EQ(app.Read("30/cover.jpg"), "jpeg");
  EXPECT_EQ(app.Read("30/pages/p.htm"), "<p>1</p>");
  // Nothing of what the links name is in the library: no copy, no link.
  auto library = Snapshot(app / "30");
  EXPECT_EQ(library, (std::map<std::string, std::string>{
                         {"book_1.xml", library["book_1.xml"]},
                         {"cover.jpg", "file jpeg"},
                         {"pages", "folder"},
                         {"pages/p.htm", "file <p>1</p>"}}));
  ASSERT_EQ(sink.reports.size(), 1u);
  EXPECT_EQ(sink.reports[0],
            "新书“新书”中的符号链接没有被跟随，也没有复制：Update/30/book_2.xml, "
            "Update/30/folder, Update/30/pages/more, Update/30/passwd");
  EXPECT_EQ(ReadUtf8(outside / "secrets/key.txt"), "key");
}

// Thousands of links would make a message no one reads: the first twenty are named, and the count.
TEST(ImportHostileTest, ManyLinksAreNamedByTheFirstOnesAndCounted) {
  Installation app;
  app.WriteCatalogue("");
  app.WriteFragment("30", "新书");
  app.WriteRecord("30", 1, "静夜思", "李白", "床前明月光");
  for (int i = 10; i < 35; ++i) {
    const std::string link = app / ("Update/30/l" + std::to_string(i));
    ASSERT_EQ(::symlink("/etc/passwd", link.c_str()), 0);
  }
  RecordingImportSink sink;
  EXPECT_EQ(RunBookImport(LibraryEngine(), app.dir(), &sink).books_imported, 1);
  ASSERT_EQ(sink.reports.size(), 1u);
  const std::string& report = sink.reports[0];
  EXPECT_NE(report.find("Update/30/l10, "), std::string::npos) << report;
  EXPECT_NE(report.find("Update/30/l29, ... (25)"), std::string::npos) << report;
  EXPECT_EQ(report.find("l30"), std::string::npos) << report;
  EXPECT_EQ(ListDirectory(app / "30"), std::vector<std::string>{"book_1.xml"});
}

// A fragment names one book in a few lines; one past the small-file cap is not read (it could
// be any size), and waits with the user told.
TEST(ImportHostileTest, OversizedFragmentIsNotReadAndWaits) {
  Installation app;
  app.WriteCatalogue("");
  app.WriteRecord("30", 1, "静夜思", "李白", "床前明月光");
  MakeDirectories(app / "Update");
  const std::string fragment = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books version=\"2.0\">"
                               "<book dir=\"30\" name=\"new\"/></books>";
  ASSERT_TRUE(WriteScrambledFile(app / "Update/bookconfig30.xml",
                                 fragment + std::string(kSmallFileLimit, ' ')));
  const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
  EXPECT_EQ(result.books_imported, 0);
  EXPECT_EQ(result.books_failed, 1);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_NE(result.messages[0].find("bookconfig30.xml"), std::string::npos);
  EXPECT_TRUE(FileExists(app / "Update/bookconfig30.xml"));
  EXPECT_FALSE(DirectoryExists(app / "30"));
  // The same fragment within the cap goes in.
  ASSERT_TRUE(WriteScrambledFile(app / "Update/bookconfig30.xml", fragment));
  EXPECT_EQ(RunBookImport(LibraryEngine(), app.dir(), nullptr).books_imported, 1);
}

// The folder an interrupted import of this very book made is used again (its marker says so);
// the same folder without the marker is someone else's and refused.
TEST(ImportHostileTest, FolderOfAnInterruptedImportOfTheSameBookIsUsedAgain) {
  for (const bool marker : {true, false}) {
    SCOPED_TRACE(marker ? "with its marker" : "without a marker");
    Installation app;
    app.WriteCatalogue("");
    app.WriteFragment("30", "新书");
    app.WriteRecord("30", 1, "静夜思", "李白", "床前明月光");
    app.Write("30/book_1.xml", "half written");
    if (marker) app.Write("Update/30.imported", "30");
    const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
    EXPECT_EQ(result.books_imported, marker ? 1 : 0);
    EXPECT_EQ(app.HitCount("明月") > 0, marker);
    EXPECT_EQ(app.BooksNamed("新书").size(), marker ? 1u : 0u);
    EXPECT_EQ(app.Read("30/book_1.xml") == "half written", !marker);
    EXPECT_EQ(FileExists(app / "Update/bookconfig30.xml"), !marker);
  }
}

// Even in the folder an interrupted import made, a link planted since never takes the copy
// outside: the book fails, says so, and waits.
TEST(ImportHostileTest, LinkPlantedInTheBooksOwnFolderIsNotWrittenThrough) {
  Installation app;
  TempDir outside;
  app.WriteCatalogue("");
  app.WriteFragment("30", "新书");
  app.WriteRecord("30", 1, "静夜思", "李白", "床前明月光");
  app.Write("Update/30/pages/p.htm", "<p>1</p>");
  app.Write("Update/30.imported", "30");
  MakeDirectories(app / "30");
  ASSERT_EQ(::symlink(outside.path().c_str(), (app / "30/pages").c_str()), 0);
  const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
  EXPECT_EQ(result.books_imported, 0);
  EXPECT_EQ(result.books_failed, 1);
  EXPECT_TRUE(ListDirectory(outside.path()).empty());
  EXPECT_TRUE(app.BooksNamed("新书").empty());
  EXPECT_LE(app.HitCount("明月"), 0);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_NE(GbkToUtf8(result.messages[0]).find("新书“新书”"), std::string::npos);
  EXPECT_TRUE(FileExists(app / "Update/30/pages/p.htm"));
}

// An older-format record names its own folder (f15): one of the installation's, or another
// book's, is refused for that record, so that it cannot overwrite book 1's record file or write
// into the index folder.
TEST(ImportHostileTest, OlderRecordCannotNameAnotherBooksFolder) {
  Installation app;
  TempDir outside;
  Populate(app, outside.path());
  const std::string book1_record = app.Read("1/book_1.xml");
  app.WriteFragment("8", "旧书", "");
  const std::string head = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>";
  app.Write("Update/8/book_1.xml", head + "<f0>占</f0><f5>占位正文</f5><f15>1</f15></record>");
  app.Write("Update/8/book_2.xml", head + "<f0>库</f0><f5>库位正文</f5><f15>SearchDB</f15></record>");
  app.Write("Update/8/book_3.xml", head + "<f0>好</f0><f5>好的正文</f5><f15>8</f15></record>");

  RecordingImportSink sink;
  const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);
  EXPECT_EQ(result.books_imported, 1);
  EXPECT_EQ(app.Read("1/book_1.xml"), book1_record);
  EXPECT_FALSE(FileExists(app / "SearchDB/book_2.xml"));
  EXPECT_EQ(app.HitCount("占位"), 0);
  EXPECT_EQ(app.HitCount("库位"), 0);
  EXPECT_EQ(app.HitCount("好的"), 1);
  ASSERT_EQ(sink.reports.size(), 2u);
  EXPECT_NE(sink.reports[0].find("book_1.xml要放进文件夹“1”"), std::string::npos) << sink.reports[0];
  EXPECT_NE(sink.reports[1].find("book_2.xml要放进文件夹“SearchDB”"), std::string::npos)
      << sink.reports[1];
}

// A byte that is not GBK in a fragment's folder or book name: a lone lead byte took the quote or
// the "/" after it into its character for the reader of old, so a folder such as `A\x81" name=`
// went into the catalogue with a raw quote, or a "/" slipped past the plain-name check. The
// reader now replaces the byte; the name is refused, the book waits, nothing changes.
TEST(ImportHostileTest, FolderOrBookNameWithBytesThatAreNotGbkIsRefusedAndWaits) {
  const struct {
    const char* what;
    std::string dir;
    std::string name;
  } cases[] = {
      {"before the folder's closing quote", "A\x81", Utf8ToGbk("敌书")},
      {"hiding a slash in the folder", "A\x81/x", Utf8ToGbk("敌书")},
      {"before the name's closing quote", "30", Utf8ToGbk("敌书") + "\xD6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation app;
    TempDir outside;
    Populate(app, outside.path());
    if (HasFatalFailure()) return;
    MakeDirectories(app / "Update");
    ASSERT_TRUE(WriteScrambledFile(
        app / "Update/bookconfig_hostile.xml",
        "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books version=\"2.0\">\r\n<book dir=\"" +
            c.dir + "\" name=\"" + c.name + "\"/>\r\n</books>"));
    app.WriteRecord(c.dir, 1, "敌", "某", "敌书正文");
    const auto before = Snapshot(app.parent());

    RecordingImportSink sink;
    const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);

    EXPECT_EQ(result.books_imported, 0);
    EXPECT_EQ(result.books_failed, 1);
    EXPECT_FALSE(result.library_changed);
    EXPECT_EQ(Snapshot(app.parent()), before);  // the catalogue among the rest
    EXPECT_EQ(app.HitCount("敌书"), 0);
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_NE(sink.reports[0].find("新书“敌书"), std::string::npos) << sink.reports[0];
    EXPECT_NE(sink.reports[0].find("不是GBK文字的字节"), std::string::npos) << sink.reports[0];
  }
}

// Inside a package: a record whose own file name, or whose page file (FdHtmlFile), holds a byte
// that is not GBK is left out with the user told; a record text with one goes in repaired.
TEST(ImportHostileTest, RecordNamesWithBytesThatAreNotGbkAreLeftOutTextsRepaired) {
  Installation app;
  app.WriteCatalogue("");
  app.WriteFragment("30", "新书");
  app.WriteRecord("30", 1, "静夜思", "李白", "床前明月光");
  const std::string head =
      Utf8ToGbk("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record><FdName>题</FdName>");
  ASSERT_TRUE(ReplaceFileAtomically(app / "Update/30/book_2.xml",
                                    head + Utf8ToGbk("<FdContent>页面正文</FdContent>") +
                                        "<FdHtmlFile>p\x81.htm</FdHtmlFile></record>"));
  ASSERT_TRUE(ReplaceFileAtomically(app / "Update/30/book_\x81.xml",
                                    head + Utf8ToGbk("<FdContent>怪名正文</FdContent></record>")));
  ASSERT_TRUE(ReplaceFileAtomically(app / "Update/30/book_3.xml",
                                    head + "<FdContent>" + Utf8ToGbk("春眠") + " \x81 " +
                                        Utf8ToGbk("不觉晓") + "</FdContent></record>"));

  RecordingImportSink sink;
  const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), &sink);

  EXPECT_EQ(result.books_imported, 1);
  EXPECT_EQ(app.HitCount("明月"), 1);
  EXPECT_EQ(app.HitCount("页面正文"), 0);
  EXPECT_EQ(app.HitCount("怪名正文"), 0);
  EXPECT_EQ(app.HitCount("不觉晓"), 1);
  EXPECT_EQ(ListDirectory(app / "30"), (std::vector<std::string>{"book_1.xml", "book_3.xml"}));
  std::string record;
  ASSERT_TRUE(ReadWholeFile(app / "30/book_3.xml", &record));
  EXPECT_TRUE(IsValidGbk(record));
  EXPECT_NE(record.find(" ? "), std::string::npos);
  ASSERT_EQ(sink.reports.size(), 2u);
  EXPECT_NE(sink.reports[0].find("book_2.xml"), std::string::npos) << sink.reports[0];
  EXPECT_NE(sink.reports[1].find("book_?.xml"), std::string::npos) << sink.reports[1];
  for (const std::string& report : sink.reports) {
    EXPECT_NE(report.find("不是GBK文字的字节，已跳过这条记录"), std::string::npos) << report;
  }
}

// Someone who can write into Update/ renames a link over a file, or over the package folder,
// while the import runs: after the import looked at it and before it reads it (the fault seam's
// action does it at exactly that point). The import reads only what it looked at: a file that
// became a link fails the book, which waits; the folder it opened is read whatever now stands
// under its name. The outside text is in neither the index nor the book's folder.
TEST(ImportHostileTest, FileSwappedForALinkAfterItWasLookedAtIsNeverRead) {
  enum Swap { kRecord, kPage, kFolder };
  const struct {
    const char* what;
    FaultSite site;
    const char* at;  // the entry the swap waits for
    Swap swap;
    const char* reason;  // nullptr: the book goes in, from the folder that was looked at
  } cases[] = {
      {"a record, between the look and the read", FaultSite::kFileRead, "book_1.xml", kRecord,
       "在导入过程中被换成了符号链接"},
      {"a page, between the look and the copy", FaultSite::kFileWrite, "p.htm", kPage,
       "的文件没有全部复制成功"},
      {"the package folder, between the look and the read", FaultSite::kFileRead, "book_1.xml",
       kFolder, nullptr},
  };
  const std::string leaked = Utf8ToGbk("外泄");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation app;
    TempDir outside;
    app.WriteCatalogue("");
    app.WriteFragment("30", "新书");
    app.WriteRecord("30", 1, "静夜思", "李白", "床前明月光");
    app.Write("Update/30/p.htm", "<p>书页</p>");
    const std::string secret =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record><FdName>外</FdName>"
        "<FdContent>外泄正文</FdContent></record>\n";
    WriteGbk(outside / "book_1.xml", secret);
    WriteGbk(outside / "p.htm", "外泄正文");
    WriteGbk(outside / "pkg/book_1.xml", secret);
    WriteGbk(outside / "pkg/p.htm", "外泄正文");
    std::string catalogue_before;
    ReadWholeFile(app / "bookconfig.xml", &catalogue_before);

    const std::string package = app / "Update/30";
    bool swapped = false;
    SetFaultAction(c.site, [&](std::string_view what) {
      if (swapped || what != c.at) return;
      swapped = true;
      bool done = false;
      if (c.swap == kFolder) {
        done = ::rename(package.c_str(), (package + ".moved").c_str()) == 0 &&
               ::symlink((outside / "pkg").c_str(), package.c_str()) == 0;
      } else {
        // A link made beside the file and renamed over it: the file is replaced in one step.
        const std::string link = JoinPath(package, ".swap");
        done = ::symlink((outside / c.at).c_str(), link.c_str()) == 0 &&
               ::rename(link.c_str(), JoinPath(package, c.at).c_str()) == 0;
      }
      if (!done) ADD_FAILURE() << "the swap failed";
    });
    const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
    ClearFaults();

    EXPECT_TRUE(swapped);
    EXPECT_LE(app.HitCount("外泄"), 0);  // -1: no index was made
    for (const auto& [entry, content] : Snapshot(app / "30")) {
      EXPECT_EQ(content.find(leaked), std::string::npos) << entry;
    }
    std::string catalogue_after;
    ReadWholeFile(app / "bookconfig.xml", &catalogue_after);
    if (c.reason == nullptr) {
      EXPECT_EQ(result.books_imported, 1);
      EXPECT_EQ(app.HitCount("明月"), 1);
      EXPECT_EQ(app.Read("30/p.htm"), "<p>书页</p>");
    } else {
      EXPECT_EQ(result.books_imported, 0);
      EXPECT_EQ(result.books_failed, 1);
      EXPECT_EQ(catalogue_after, catalogue_before);
      EXPECT_LE(app.HitCount("明月"), 0);
      EXPECT_TRUE(FileExists(app / "Update/bookconfig30.xml"));
      ASSERT_EQ(result.messages.size(), 1u);
      EXPECT_NE(GbkToUtf8(result.messages[0]).find(c.reason), std::string::npos)
          << GbkToUtf8(result.messages[0]);
    }
    EXPECT_EQ(ReadUtf8(outside / "pkg/p.htm"), "外泄正文");
  }
}

}  // namespace
}  // namespace tomeva
