// Runs the sample library generator into temporary folders and checks what it wrote with core's
// own readers and the engine: the catalogue and fragments unscramble and parse, the tables of
// contents name files that exist, every PDF has its text copy, the record files carry their
// book's category and format, and the index answers searches with the counts the record files
// give.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QString>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/library/catalogue.h"
#include "core/settings/settings.h"
#include "core/update/updater_manifest.h"
#include "core/xml/text_scrambler.h"
#include "core/xml/xml_document.h"
#include "engine_kms/kms_engine.h"
#include "platform/ini_registry.h"
#include "platform/signify.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

namespace fs = std::filesystem;

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

// Runs the generator; returns its exit status (or -1 when it could not be run).
int RunGenerator(const std::string& args) {
  std::string command = std::string("'") + MAKE_SAMPLE_LIBRARY + "' " + args + " >/dev/null 2>&1";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Book {
  std::string folder;  // relative to the installation folder
  std::string dir;
  std::string category;
};

const std::vector<Book>& AllBooks() {
  static const std::vector<Book> books = {
      {"1", "1", "3"}, {"2", "2", "13"}, {"Update/3", "3", ""}, {"Update/4", "4", ""}};
  return books;
}

std::vector<std::string> RecordFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const std::string& name : ListDirectory(folder)) {
    if (StartsWith(name, "book_") && EndsWith(name, ".xml")) files.push_back(name);
  }
  return files;
}

// Every element below `node`, depth first in document order.
void Walk(CXmlNode* node, std::vector<CXmlNode*>* out) {
  for (CXmlNode* child = node->first_child(); child; child = child->next_sibling()) {
    out->push_back(child);
    Walk(child, out);
  }
}

std::string Attr(const CXmlNode* node, const std::string& name) {
  auto it = node->attributes().find(name);
  return it == node->attributes().end() ? std::string() : it->second;
}

class SampleLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = std::make_unique<testing::TempDir>();
    out_ = *temp_ / "lib";
    status_ = RunGenerator("'" + out_ + "'");
  }
  static void TearDownTestSuite() { temp_.reset(); }
  void SetUp() override { ASSERT_EQ(status_, 0) << "the generator failed"; }

  static std::string Path(const std::string& relative) { return out_ + "/" + relative; }

  static inline std::unique_ptr<testing::TempDir> temp_;
  static inline std::string out_;
  static inline int status_ = -1;
};

TEST_F(SampleLibraryTest, CatalogueListsTheInstalledBooksWithTheirLabels) {
  std::string plain;
  ASSERT_TRUE(ReadScrambledFile(Path("bookconfig.xml"), &plain));
  ASSERT_TRUE(StartsWith(plain, "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"));
  // The import appends new entries in front of this tag, so it must close the text.
  ASSERT_TRUE(EndsWith(plain, "\r\n</books>"));
  CXmlDocument doc;
  ASSERT_EQ(doc.Load(Path("bookconfig.xml"), 1), 1);
  std::vector<std::string> entries;
  doc.GetAttributeStrings("book", &entries);
  ASSERT_EQ(entries.size(), 2u);
  std::set<std::string> categories;
  for (size_t i = 0; i < entries.size(); ++i) {
    AttributeMap attributes;
    ParseAttributes(entries[i], &attributes);
    EXPECT_EQ(attributes["dir"], AllBooks()[i].dir);
    EXPECT_EQ(attributes["category"], AllBooks()[i].category);
    EXPECT_FALSE(attributes["name"].empty());
    categories.insert(attributes["category"]);
  }
  EXPECT_EQ(categories.size(), 2u);
  std::vector<std::string> labels;
  doc.GetAttributeStrings("Xml2HtmlTags", &labels);
  std::map<std::string, std::vector<std::string>> tags_by_category;
  for (const std::string& text : labels) {
    AttributeMap a;
    ParseAttributes(text, &a);
    EXPECT_FALSE(a["html_tag"].empty());
    tags_by_category[a["category"]].push_back(a["xml_tag"]);
  }
  const std::vector<std::string> expected = {"FdName", "FdAuthor", "KeyWords", "FdContent",
                                             "FdImgInfo"};
  EXPECT_EQ(tags_by_category["3"], expected);
  EXPECT_EQ(tags_by_category["13"], expected);
}

TEST_F(SampleLibraryTest, SettingsFilesHoldTheirValues) {
  const struct {
    const char* file;
    const char* element;
    std::string value;  // GBK
  } cases[] = {
      {"System.xml", "EBookDir", "."},
      {"System.xml", "path", "./help"},
      {"System.xml", "SearchDataDir", "./SearchDB"},
      {"System.xml", "KEY_FIELD1", G("标题")},
      {"System.xml", "KEY_FIELD2", G("作者")},
      {"System.xml", "KEY_FIELD3", G("内容摘要")},
      {"System.xml", "KEY_FIELD4", ""},
      {"System.xml", "user", "reader"},
      {"SearchResultConfig.xml", "bodybkcolor", "#fdfaf2"},
  };
  for (const auto& c : cases) {
    CXmlDocument doc;
    ASSERT_EQ(doc.Load(Path(c.file)), 1) << c.file;
    EXPECT_EQ(doc.GetText(c.element), c.value) << c.file << " " << c.element;
  }
  CXmlDocument system(Path("System.xml"));
  EXPECT_TRUE(StartsWith(system.GetText("URLBase"), "http://"));
  EXPECT_FALSE(system.GetText("URLBase2").empty());
  CXmlDocument contact(Path("ContactInfo.xml"));
  // The version check reads the sample's own page, which lists no version to update.
  EXPECT_EQ(Trim(contact.GetText("CheckVersionUrl")), "file://" + Path("version.xml"));
  CXmlDocument versions(Path("version.xml"));
  std::vector<std::string> updates;
  versions.GetAttributeStrings("update", &updates);
  EXPECT_FALSE(updates.empty());
  for (const std::string& update : updates) {
    EXPECT_EQ(update.find("\"4.0.0.1\""), std::string::npos) << update;
  }
  // The frame mark-up is stored in the escaped form and names pictures of the library folder.
  CXmlDocument config(Path("SearchResultConfig.xml"));
  for (const char* element : {"bodytop", "bodybottom"}) {
    std::string text = config.GetText(element);
    EXPECT_NE(text.find("@&lt@"), std::string::npos) << element;
    EXPECT_NE(text.find("@&gt@"), std::string::npos) << element;
    EXPECT_EQ(text.find('<'), std::string::npos) << element;
    size_t at = text.find("@@dir@@");
    ASSERT_NE(at, std::string::npos) << element;
    std::string picture = text.substr(at + 7, text.find('"', at) - at - 7);
    EXPECT_TRUE(FileExists(Path(picture))) << picture;
  }
  EXPECT_FALSE(config.GetText("style").empty());
  EXPECT_TRUE(FileExists(Path("home.htm")));
  EXPECT_TRUE(FileExists(Path("Tomeva.htm")));
  // The guide in the `path` folder, apart from the product page; the publisher's own page.
  EXPECT_TRUE(FileExists(Path("help/Tomeva.htm")));
  EXPECT_TRUE(FileExists(Path("publisher.htm")));
}

TEST_F(SampleLibraryTest, TablesOfContentsNameExistingRecordsPagesAndPdfs) {
  for (const Book& book : AllBooks()) {
    SCOPED_TRACE(book.folder);
    const std::string folder = Path(book.folder);
    CXmlDocument chapter;
    ASSERT_EQ(chapter.Load(JoinPath(folder, "chapter.xml")), 1);
    EXPECT_EQ(chapter.root().tag(), "book");
    EXPECT_EQ(Attr(&chapter.root(), "pdf"), "838.pdf");
    std::vector<CXmlNode*> nodes = {&chapter.root()};
    Walk(&chapter.root(), &nodes);
    std::vector<std::string> listed;
    int sections = 0, sections_with_pdf = 0;
    for (CXmlNode* node : nodes) {
      std::string htm = Attr(node, "htm"), pdf = Attr(node, "pdf");
      if (!htm.empty() && !EqualsNoCase(htm, "home.htm")) {
        EXPECT_TRUE(FileExists(JoinPath(folder, htm))) << htm;
      }
      if (!pdf.empty()) {
        EXPECT_TRUE(FileExists(JoinPath(folder, pdf))) << pdf;
      }
      if (EqualsNoCase(node->tag(), "record")) {
        EXPECT_FALSE(Attr(node, "title").empty());
        listed.push_back(node->text());
      } else if (EqualsNoCase(node->tag(), "dir")) {
        ++sections;
        EXPECT_FALSE(Attr(node, "name").empty());
        sections_with_pdf += !pdf.empty();
      }
    }
    EXPECT_GT(sections, 0);
    EXPECT_GT(sections_with_pdf, 0) << "no section carries a PDF of its own";
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, RecordFiles(folder)) << "chapter.xml and the record files disagree";
  }
}

TEST_F(SampleLibraryTest, EveryPdfHasItsGbkTextCopy) {
  int pdfs = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out_)) {
    if (entry.path().extension() != ".pdf") continue;
    ++pdfs;
    std::string pdf_path = entry.path().string();
    std::string pdf, text;
    ASSERT_TRUE(ReadWholeFile(pdf_path, &pdf));
    EXPECT_TRUE(StartsWith(pdf, "%PDF-")) << pdf_path;
    ASSERT_TRUE(ReadWholeFile(pdf_path.substr(0, pdf_path.size() - 3) + "txt", &text)) << pdf_path;
    ASSERT_FALSE(text.empty());
    // Each page's lines end with CR LF and the page with a form feed.
    EXPECT_TRUE(EndsWith(text, "\r\n\f")) << pdf_path;
    EXPECT_EQ(text.find("\f\f"), std::string::npos) << pdf_path;
    // GBK that survives the round trip through UTF-8 unchanged, and no stand-in characters.
    std::string utf8 = GbkToUtf8(text);
    EXPECT_EQ(Utf8ToGbk(utf8), text) << pdf_path;
    EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos) << pdf_path;
    EXPECT_EQ(text.find('?'), std::string::npos) << pdf_path;
  }
  EXPECT_GT(pdfs, 30);
}

// The text copy is what the highlighter matches against, so it must hold exactly the text the
// PDF shows (compared without white space, which text extraction does not keep faithfully), page
// by page: the viewer's plug-in looks for a run on the page its form feeds give it.
TEST_F(SampleLibraryTest, PdfTextEqualsItsTextCopy) {
  static int argc = 1;
  static char name[] = "sample_library_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app =
      QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
  (void)app;
  auto squeeze = [](const QString& text) {
    QString out;
    for (QChar c : text) {
      if (!c.isSpace()) out += c;
    }
    return out;
  };
  int checked = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out_)) {
    if (entry.path().extension() != ".pdf") continue;
    std::string pdf_path = entry.path().string();
    QPdfDocument doc;
    ASSERT_EQ(doc.load(QString::fromStdString(pdf_path)), QPdfDocument::Error::None) << pdf_path;
    std::string copy;
    ASSERT_TRUE(ReadWholeFile(pdf_path.substr(0, pdf_path.size() - 3) + "txt", &copy));
    const QStringList pages = QString::fromStdString(GbkToUtf8(copy)).split(QChar('\f'));
    // The copy ends with a form feed, so the split gives one empty piece after the last page.
    ASSERT_EQ(pages.size(), doc.pageCount() + 1) << pdf_path;
    for (int page = 0; page < doc.pageCount(); ++page) {
      EXPECT_EQ(squeeze(doc.getAllText(page).text()), squeeze(pages[page]))
          << pdf_path << " page " << page + 1;
    }
    ++checked;
  }
  EXPECT_GT(checked, 30);
}

// The installer's part for the PDF viewer: the viewer page with an empty plug_ins/ folder, and
// the plug-in in the installation folder, which the start-up then copies next to the page.
TEST_F(SampleLibraryTest, ViewerIsInstalledWithItsPluginReadyToCopy) {
  for (const char* name : {"viewer.html", "viewer.js", "viewer.css"}) {
    std::string shipped, installed;
    ASSERT_TRUE(ReadWholeFile(std::string(TOMEVA_VIEWER_SOURCE_DIR "/") + name, &shipped));
    ASSERT_TRUE(ReadWholeFile(Path("viewer/") + name, &installed)) << name;
    EXPECT_TRUE(installed == shipped) << name;
  }
  std::string plugin, installed_plugin;
  ASSERT_TRUE(ReadWholeFile(TOMEVA_VIEWER_SOURCE_DIR "/plugin/VazeZududi.js", &plugin));
  ASSERT_TRUE(ReadWholeFile(Path(kPluginFileName), &installed_plugin));
  EXPECT_TRUE(installed_plugin == plugin);
  ASSERT_TRUE(fs::is_directory(Path("viewer/plug_ins")));
  EXPECT_TRUE(fs::is_empty(Path("viewer/plug_ins")));

  // On a copy, so that the other tests see the folder as written.
  const std::string copy = *temp_ / "installed";
  fs::create_directories(copy);
  fs::copy(Path("viewer"), copy + "/viewer", fs::copy_options::recursive);
  fs::copy(Path(kPluginFileName), copy + "/" + kPluginFileName);
  EXPECT_TRUE(InstallViewerPlugin(copy + "/viewer/viewer.html", copy + "/"));
  std::string copied;
  ASSERT_TRUE(ReadWholeFile(copy + "/viewer/plug_ins/" + kPluginFileName, &copied));
  EXPECT_TRUE(copied == plugin);
  std::error_code ec;
  fs::remove_all(copy, ec);
}

TEST_F(SampleLibraryTest, RecordFilesCarryTheirBookCategoryAndFormat) {
  for (const Book& book : AllBooks()) {
    SCOPED_TRACE(book.folder);
    const bool older = book.dir == "4";
    int links = 0, pictures = 0;
    std::vector<std::string> files = RecordFiles(Path(book.folder));
    ASSERT_GT(files.size(), 50u);
    for (const std::string& name : files) {
      CXmlDocument record;
      ASSERT_EQ(record.Load(JoinPath(Path(book.folder), name)), 1) << name;
      EXPECT_EQ(record.root().tag(), "record");
      if (older) {
        EXPECT_FALSE(record.GetText("f0").empty()) << name;
        EXPECT_FALSE(record.GetText("f5").empty()) << name;
        EXPECT_EQ(record.GetText("f15"), book.dir) << name;
        EXPECT_TRUE(record.GetText("FdName").empty()) << name;
        pictures += !record.GetText("f2").empty();
        continue;
      }
      EXPECT_FALSE(record.GetText("FdName").empty()) << name;
      EXPECT_FALSE(record.GetText("FdContent").empty()) << name;
      // Installed records carry their book's category; waiting ones get it at import.
      EXPECT_EQ(record.GetText("FdCat"), book.category) << name;
      links += !record.GetText("FdLink").empty();
      pictures += !record.GetText("FdImgInfo").empty();
    }
    EXPECT_GT(links + pictures, 0);
    EXPECT_GT(pictures, 0);
  }
}

TEST_F(SampleLibraryTest, WaitingBooksHaveScrambledFragmentsNamingTheirFormat) {
  const struct {
    const char* fragment;
    const char* dir;
    const char* version;
  } cases[] = {{"Update/bookconfig3.xml", "3", "2.0"}, {"Update/bookconfig4.xml", "4", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fragment);
    std::string raw;
    ASSERT_TRUE(ReadWholeFile(Path(c.fragment), &raw));
    EXPECT_EQ(raw.find("<books"), std::string::npos) << "the fragment is not scrambled";
    CXmlDocument doc;
    ASSERT_EQ(doc.Load(Path(c.fragment), 1), 1);
    EXPECT_EQ(Attr(&doc.root(), "version"), c.version);
    std::vector<std::string> books;
    doc.GetAttributeStrings("book", &books);
    ASSERT_EQ(books.size(), 1u);
    AttributeMap a;
    ParseAttributes(books[0], &a);
    EXPECT_EQ(a["dir"], c.dir);
    EXPECT_FALSE(a["name"].empty());
    EXPECT_TRUE(DirectoryExists(Path(std::string("Update/") + c.dir)));
  }
  EXPECT_FALSE(FileExists(Path("temp.xml")));
}

// Number of installed records whose indexed text (title, author, body, summary, category)
// contains `word`, by reading the record files of the book folders `folders`.
int CountRecordsHolding(const std::string& root, const std::string& word,
                        const std::vector<std::string>& folders = {"1", "2"}) {
  int count = 0;
  for (const std::string& folder : folders) {
    for (const std::string& name : RecordFiles(JoinPath(root, folder))) {
      CXmlDocument record;
      if (record.Load(JoinPath(JoinPath(root, folder), name)) != 1) continue;
      std::string text;
      for (const char* field : {"FdName", "FdAuthor", "FdContent", "KeyWords", "FdCat"}) {
        text += record.GetText(field) + "\n";
      }
      count += MbFind(text, word) != std::string::npos;
    }
  }
  return count;
}

int HitCount(const std::string& index, const std::string& query) {
  std::string reason;
  std::unique_ptr<IndexSearch> search = KmsEngine().SearchIndex(index, query, "content", &reason);
  return search != nullptr ? search->HitCount() : -1;
}

TEST_F(SampleLibraryTest, IndexAnswersSearchesWithTheRecordFilesCounts) {
  const std::string index = Path("SearchDB");
  for (const char* utf8 : {"明月", "长安", "春风", "故人", "李白", "杜甫"}) {
    std::string word = G(utf8);
    int expected = CountRecordsHolding(out_, word);
    EXPECT_GT(expected, 0) << utf8;
    EXPECT_EQ(HitCount(index, word), expected) << utf8;
  }
  // Category 3 must not match the records of category 13.
  EXPECT_EQ(HitCount(index, "f15:3"), static_cast<int>(RecordFiles(Path("1")).size()));
  EXPECT_EQ(HitCount(index, "f15:13"), static_cast<int>(RecordFiles(Path("2")).size()));
}

// The publisher's part: the updater with a manifest naming it, its digest and a version newer
// than any installation of the sample has, both signed with the sample's key, which lies with
// the publisher's files and not in the installation (the program reads no key in a library).
TEST_F(SampleLibraryTest, UpdaterComesWithASignedManifestAndNoKeyInTheInstallation) {
  EXPECT_FALSE(fs::exists(Path("update.pub")));
  std::string key, manifest_text;
  ASSERT_TRUE(ReadWholeFile(Path("updates/update.pub"), &key));
  ASSERT_TRUE(ReadWholeFile(Path("updates/setup.sh.manifest"), &manifest_text));
  const std::optional<UpdaterManifest> manifest = ParseUpdaterManifest(manifest_text);
  ASSERT_TRUE(manifest.has_value()) << manifest_text;
  EXPECT_EQ(manifest->file, "setup.sh");
  EXPECT_EQ(manifest->sha256, platform::Sha256OfFile(Path("updates/setup.sh")));
  for (const char* installed : {"4.0.0.1", "3.9.0.0"}) {
    EXPECT_GT(CompareVersions(*ParseVersion(manifest->version), *ParseVersion(installed)), 0);
  }
  for (const char* file : {"updates/setup.sh", "updates/setup.sh.manifest"}) {
    std::string bytes, signature;
    ASSERT_TRUE(ReadWholeFile(Path(file), &bytes));
    ASSERT_TRUE(ReadWholeFile(Path(file) + ".sig", &signature));
    EXPECT_EQ(platform::VerifySignify(bytes, signature, key), platform::SignifyResult::kGood)
        << file;
  }
  // The installer's step puts the key where the program looks: the user's configuration folder.
  testing::TempDir config;
  ASSERT_EQ(setenv("TOMEVA_USER_CONFIG_DIR", (config / "tomeva").c_str(), 1), 0);
  EXPECT_EQ(RunGenerator("--install-update-key '" + out_ + "'"), 0);
  std::string installed_key;
  EXPECT_TRUE(ReadWholeFile(config / "tomeva/update.pub", &installed_key));
  EXPECT_EQ(installed_key, key);
  // A folder without the publisher's key installs nothing.
  EXPECT_EQ(RunGenerator("--install-update-key '" + (config / "none") + "'"), 1);
  EXPECT_EQ(ListDirectory(config / "tomeva"), std::vector<std::string>{"update.pub"});
  unsetenv("TOMEVA_USER_CONFIG_DIR");
}

TEST_F(SampleLibraryTest, SecondRunWritesTheSameBytesOutsideTheIndex) {
  std::string other = *temp_ / "again";
  ASSERT_EQ(RunGenerator("'" + other + "'"), 0);
  auto files_of = [](const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      std::string rel = fs::relative(entry.path(), root).string();
      if (!entry.is_regular_file() || StartsWith(rel, "SearchDB")) continue;
      ReadWholeFile(entry.path().string(), &files[rel]);
    }
    return files;
  };
  std::map<std::string, std::string> first = files_of(out_), second = files_of(other);
  ASSERT_EQ(first.size(), second.size());
  // ContactInfo.xml and version.xml address the sample's own files by its absolute folder; the
  // rest is equal.
  auto without_folder = [](std::string text, const std::string& folder) {
    for (size_t at; (at = text.find(folder)) != std::string::npos;) {
      text.replace(at, folder.size(), "@");
    }
    return text;
  };
  for (const char* file : {"ContactInfo.xml", "version.xml"}) {
    first[file] = without_folder(first[file], out_);
    second[file] = without_folder(second[file], other);
  }
  // Each sample gets an update key of its own (its secret half never written), so the key and
  // the signatures differ from run to run.
  for (const char* file :
       {"updates/update.pub", "updates/setup.sh.sig", "updates/setup.sh.manifest.sig"}) {
    EXPECT_NE(first[file], second[file]) << file;
    first.erase(file);
    second.erase(file);
  }
  for (const auto& [rel, bytes] : first) {
    auto it = second.find(rel);
    ASSERT_NE(it, second.end()) << rel;
    EXPECT_TRUE(it->second == bytes) << rel << " differs between runs";
  }
  std::error_code ec;
  fs::remove_all(other, ec);
}

TEST(SampleLibraryScaling, RecordsOptionScalesTheTangAnthology) {
  testing::TempDir dir;
  const std::string temp = dir.path();
  ASSERT_EQ(RunGenerator("'" + temp + "/lib' --records 750"), 0);
  std::vector<std::string> files = RecordFiles(temp + "/lib/1");
  EXPECT_EQ(files.size(), 750u);
  // The 313 poems are repeated; each repetition is marked on the title.
  std::map<std::string, int> repetitions;
  for (const std::string& name : files) {
    CXmlDocument record(temp + "/lib/1/" + name);
    std::string title = GbkToUtf8(record.GetText("FdName"));
    size_t open = title.rfind("（");
    repetitions[open == std::string::npos ? "" : title.substr(open)]++;
  }
  EXPECT_EQ(repetitions["（2）"], 313);
  EXPECT_EQ(repetitions["（3）"], 750 - 2 * 313);
  EXPECT_EQ(HitCount(temp + "/lib/SearchDB", "f15:3"), 750);
  // Section PDFs stop after the first volumes; the rest inherit the whole-book PDF.
  EXPECT_EQ(RecordFiles(temp + "/lib/2").size(), 96u);
  EXPECT_EQ(ListDirectory(temp + "/lib/1/pdf").size(), 16u);  // 8 PDFs with their copies
}

// Libraries of other sizes, as the start-up benchmark makes them: the catalogue lists the
// installed books with categories of their own, every book folder is complete, the index finds
// each book's records by its category, and a library without books opens with an empty catalogue
// and an empty index.
TEST(SampleLibraryBooks, BooksOptionMakesCompleteLibrariesOfEverySize) {
  testing::TempDir dir;
  const struct {
    const char* args;
    std::vector<std::string> installed;  // folders, in catalogue order
    std::vector<std::string> waiting;    // folders in Update/
  } cases[] = {
      {"--empty", {}, {}},
      {"--books 2", {"1", "2"}, {}},
      {"--books 7", {"1", "2", "5", "6", "7"}, {"3", "4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string lib = dir.path() + "/" + std::to_string(&c - cases);
    ASSERT_EQ(RunGenerator("'" + lib + "' " + c.args), 0);
    Catalogue catalogue;
    ASSERT_TRUE(catalogue.LoadCatalogue(lib));
    ASSERT_EQ(catalogue.book_count(), static_cast<int>(c.installed.size()));
    std::set<std::string> categories, names;
    for (int k = 1; k <= catalogue.book_count(); ++k) {
      const BookRow& row = catalogue.rows()[k - 1];
      const std::string& folder = c.installed[k - 1];
      SCOPED_TRACE(folder);
      EXPECT_EQ(row.folder, folder);
      EXPECT_TRUE(categories.insert(row.category).second) << "category " << row.category;
      EXPECT_TRUE(names.insert(catalogue.BookName(k)).second);
      const std::vector<std::string> files = RecordFiles(JoinPath(lib, folder));
      ASSERT_FALSE(files.empty());
      EXPECT_TRUE(FileExists(JoinPath(lib, folder + "/chapter.xml")));
      EXPECT_EQ(HitCount(lib + "/SearchDB", "f15:" + row.category),
                static_cast<int>(files.size()));
    }
    // The index holds the installed records and nothing else, and answers on an empty library.
    const std::string word = G("明月");
    EXPECT_EQ(HitCount(lib + "/SearchDB", word), CountRecordsHolding(lib, word, c.installed));
    std::vector<std::string> waiting;
    for (const std::string& name : ListDirectory(lib + "/Update")) {
      if (StartsWith(name, "bookconfig")) waiting.push_back(name.substr(10, name.size() - 14));
    }
    std::sort(waiting.begin(), waiting.end());
    EXPECT_EQ(waiting, c.waiting);
    EXPECT_TRUE(FileExists(lib + "/System.xml"));
    EXPECT_TRUE(FileExists(lib + "/home.htm"));
  }
}

// `make run` makes the sample in a folder beside its place and renames it into place: every
// absolute path its settings give (the version page and the publisher's page, the updater the
// version page names, the viewer page in the registry) names a file of the folder the program
// runs in, not of the temporary folder that is gone.
TEST(SampleLibraryRunScript, SettingsNameFilesOfTheFolderTheSampleIsRenamedTo) {
  testing::TempDir dir;
  const std::string sample = dir / "sample";
  const std::string registry = dir / "registry";
  const std::string config = dir / "config";
  ASSERT_EQ(setenv("TOMEVA_REGISTRY_DIR", registry.c_str(), 1), 0);
  ASSERT_EQ(setenv("TOMEVA_USER_CONFIG_DIR", config.c_str(), 1), 0);
  const std::string command = std::string("'") + RUN_SAMPLE_SCRIPT + "' '" + TOMEVA_BINARY_DIR +
                              "' '" + sample + "' --prepare-only >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  unsetenv("TOMEVA_REGISTRY_DIR");
  unsetenv("TOMEVA_USER_CONFIG_DIR");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  ASSERT_FALSE(fs::exists(sample + ".tmp"));

  // Every element text of the settings that is an absolute path or a file address.
  std::vector<std::string> paths;
  for (const char* file : {"ContactInfo.xml", "version.xml", "System.xml"}) {
    CXmlDocument doc(sample + "/" + file);
    std::vector<CXmlNode*> nodes;
    Walk(&doc.root(), &nodes);
    for (CXmlNode* node : nodes) {
      std::string text = node->text();
      text.erase(0, text.find_first_not_of(" \t\r\n"));
      text.erase(text.find_last_not_of(" \t\r\n") + 1);
      if (StartsWith(text, "file://")) text.erase(0, 7);
      if (StartsWith(text, "/")) paths.push_back(text);
    }
  }
  EXPECT_EQ(paths.size(), 3u);  // the version page, the publisher's page, the updater
  // The viewer page the installer step wrote into the registry.
  platform::IniRegistry reg(registry);
  const std::string viewer = reg.ReadRegString(RegRoot::kLocalMachine, kRegAppPathsReader, "", "");
  EXPECT_EQ(viewer, sample + "/viewer/viewer.html");
  paths.push_back(viewer);
  for (const std::string& path : paths) {
    EXPECT_TRUE(StartsWith(path, sample + "/")) << path;
    EXPECT_TRUE(FileExists(path)) << path;
  }
  // The sample publisher's update key, installed as the user's.
  std::string key, installed_key;
  EXPECT_TRUE(ReadWholeFile(sample + "/updates/update.pub", &key));
  EXPECT_TRUE(ReadWholeFile(config + "/update.pub", &installed_key));
  EXPECT_EQ(installed_key, key);
}

TEST(SampleLibraryArguments, BadArgumentsAreRefusedWithoutWriting) {
  testing::TempDir dir;
  const std::string temp = dir.path();
  ASSERT_TRUE(MakeDirectories(temp + "/busy"));
  ASSERT_TRUE(ReplaceFileAtomically(temp + "/busy/keep.txt", "x"));
  const struct {
    std::string args;
    int status;
  } cases[] = {
      {"", 2},
      {"'" + temp + "/a' --records 0", 2},
      {"'" + temp + "/a' --records many", 2},
      {"'" + temp + "/a' --records", 2},
      {"'" + temp + "/a' --unknown", 2},
      {"'" + temp + "/a' --books 0", 2},
      {"'" + temp + "/a' --books 201", 2},
      {"'" + temp + "/a' --books", 2},
      {"'" + temp + "/a' --empty --books 5", 2},
      {"'" + temp + "/busy'", 1},
      {"'" + temp + "/a' --fortunes '" + temp + "/none'", 1},
      {"'" + temp + "/a' --guide '" + temp + "/none'", 1},
      {"'" + temp + "/b' --guide '" + temp + "/busy'", 1},  // a folder without Tomeva.htm
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunGenerator(c.args), c.status) << c.args;
    EXPECT_FALSE(fs::exists(temp + "/a/bookconfig.xml")) << c.args;
  }
  EXPECT_EQ(ListDirectory(temp + "/busy"), std::vector<std::string>{"keep.txt"});
}

}  // namespace
}  // namespace tomeva
