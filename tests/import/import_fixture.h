// An installation folder in a temporary folder, with helpers to put a catalogue, fragments and
// new books into it and to look at the result of an import.
#ifndef TOMEVA_TESTS_IMPORT_IMPORT_FIXTURE_H_
#define TOMEVA_TESTS_IMPORT_IMPORT_FIXTURE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/xml/text_scrambler.h"
#include "core/xml/xml_document.h"
#include "engine_kms/kms_engine.h"
#include "support/temp_dir.h"

namespace tomeva::testing {

// The engine the imports write with and the checks search with.
inline Engine& LibraryEngine() {
  static KmsEngine engine;
  return engine;
}

class Installation {
 public:
  // The installation is the folder "app" inside a temporary folder of its own, so that tests can
  // see anything written beside it.
  Installation() { MakeDirectories(dir_); }
  const std::string& dir() const { return dir_; }
  const std::string& parent() const { return parent_.path(); }
  std::string operator/(const std::string& name) const { return JoinPath(dir_, name); }

  // Writes bookconfig.xml (scrambled) holding `books` (UTF-8 mark-up) and the closing tag.
  void WriteCatalogue(const std::string& books_utf8, bool with_end = true) {
    WriteScrambledFile(*this / "bookconfig.xml",
                       Utf8ToGbk("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n" +
                                 books_utf8 + (with_end ? "</books>" : "")));
  }

  // A fragment Update/bookconfig<dir>.xml for one book; `version` "" = older record format.
  void WriteFragment(const std::string& dir, const std::string& name_utf8,
                     const std::string& version = "2.0") {
    std::string root = version.empty() ? "<books>" : "<books version=\"" + version + "\">";
    MakeDirectories(*this / "Update");
    WriteScrambledFile(*this / ("Update/bookconfig" + dir + ".xml"),
                       Utf8ToGbk("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n" + root +
                                 "\r\n<book dir=\"" + dir + "\" name=\"" + name_utf8 +
                                 "\"/>\r\n</books>"));
  }

  // A record file in the newer format under Update/<dir>.
  void WriteRecord(const std::string& dir, int n, const std::string& title_utf8,
                   const std::string& author_utf8, const std::string& content_utf8) {
    Write("Update/" + dir + "/book_" + std::to_string(n) + ".xml",
          "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n\t<FdName>" + title_utf8 +
              "</FdName>\n\t<FdAuthor>" + author_utf8 + "</FdAuthor>\n\t<FdContent>" +
              content_utf8 + "</FdContent>\n\t<KeyWords>kw</KeyWords>\n</record>\n");
  }

  void Write(const std::string& relative, const std::string& utf8) {
    MakeDirectories(DirName(*this / relative));
    ReplaceFileAtomically(*this / relative, Utf8ToGbk(utf8));
  }

  std::string Read(const std::string& relative) const {
    std::string bytes;
    ReadWholeFile(*this / relative, &bytes);
    return GbkToUtf8(bytes);
  }

  std::string CatalogueText() const {
    std::string plain;
    ReadScrambledFile(*this / "bookconfig.xml", &plain);
    return GbkToUtf8(plain);
  }

  // (dir, category) of every book of the catalogue with this name.
  std::vector<std::pair<std::string, std::string>> BooksNamed(const std::string& name_utf8) const {
    CXmlDocument doc;
    doc.Load(*this / "bookconfig.xml", 1);
    std::vector<std::string> raw;
    doc.GetAttributeStrings("book", &raw);
    std::vector<std::pair<std::string, std::string>> found;
    for (const std::string& text : raw) {
      AttributeMap a;
      ParseAttributes(text, &a);
      if (a["name"] == Utf8ToGbk(name_utf8)) found.emplace_back(a["dir"], a["category"]);
    }
    return found;
  }

  int HitCount(const std::string& query_utf8) const {
    const std::string index = *this / "SearchDB";
    const std::string query = Utf8ToGbk(query_utf8);
    std::string reason;
    std::unique_ptr<IndexSearch> search =
        LibraryEngine().SearchIndex(index, query, "content", &reason);
    return search != nullptr ? search->HitCount() : -1;
  }

 private:
  TempDir parent_;
  const std::string dir_ = parent_ / "app";
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_IMPORT_IMPORT_FIXTURE_H_
