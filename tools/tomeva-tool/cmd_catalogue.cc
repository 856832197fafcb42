// `catalogue DIR`: the books, categories and result-page labels of an installation, as JSON.
// `toc DIR BOOK`: a book's table of contents with each node's page and PDF, as JSON. BOOK is the
// book number or the book's name. A book without chapter.xml shows the table of contents the
// program would generate for it (nothing is written).
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/mbstring.h"
#include "core/library/catalogue.h"
#include "core/library/chapter.h"
#include "core/settings/settings.h"
#include "core/xml/xml_document.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

// The library folder of an installation: System.xml's EBookDir with the "." rule, or the
// installation folder itself when there is none.
std::string LibraryDirOf(const std::string& install_dir) {
  std::string app_dir = install_dir;
  if (app_dir.empty() || LastSeparator(app_dir) != app_dir.size() - 1) app_dir += '/';
  CXmlDocument system_xml;
  if (system_xml.Load(app_dir + "System.xml")) {
    std::string ebook = ApplyDotRule(ReadSettingText(system_xml, "EBookDir"), app_dir);
    if (!ebook.empty()) {
      std::string library = ResolvePath(ebook);
      // "." names the installation folder itself.
      while (library.size() > 2 && EndsWith(library, "/.")) library.resize(library.size() - 2);
      return library;
    }
  }
  return ResolvePath(install_dir);
}

std::string Attr(const AttributeMap& map, const char* name) {
  auto it = map.find(name);
  return it == map.end() ? std::string() : it->second;
}

int RunCatalogue(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 1) return UsageError("usage: catalogue DIR");
  const std::string library = LibraryDirOf(a.positional[0]);
  Catalogue catalogue;
  if (!catalogue.LoadCatalogue(library)) {
    return Failure("cannot load " + JoinPath(library, "bookconfig.xml"));
  }
  std::string out = "{\"library\":" + JsonUtf8(library) + ",\"books\":[";
  for (int k = 1; k <= catalogue.book_count(); ++k) {
    AttributeMap attributes;
    ParseAttributes(catalogue.entries()[k - 1], &attributes);
    if (k > 1) out += ',';
    out += "{\"number\":" + std::to_string(k) + ",\"name\":" + JsonGbk(Attr(attributes, "name")) +
           ",\"dir\":" + JsonGbk(Attr(attributes, "dir")) +
           ",\"category\":" + JsonGbk(Attr(attributes, "category")) +
           ",\"folder\":" + JsonGbk(catalogue.BookFolder(k)) + "}";
  }
  out += "],\"categories\":{";
  std::vector<std::string> tags;
  catalogue.document().GetAttributeStrings("Xml2HtmlTags", &tags);
  std::map<int, std::vector<std::pair<std::string, std::string>>> labels;
  for (const std::string& text : tags) {
    AttributeMap attributes;
    ParseAttributes(text, &attributes);
    labels[CategoryNumber(Attr(attributes, "category"))].emplace_back(
        Attr(attributes, "xml_tag"), Attr(attributes, "html_tag"));
  }
  bool first = true;
  for (const auto& [category, list] : labels) {
    if (!first) out += ',';
    first = false;
    const int book = catalogue.FindBookByCategory(category);
    out += "\"" + std::to_string(category) + "\":{\"book\":" +
           std::to_string(book < 0 ? 0 : book + 1) + ",\"labels\":[";
    for (size_t i = 0; i < list.size(); ++i) {
      if (i > 0) out += ',';
      out += "{\"xml_tag\":" + JsonGbk(list[i].first) + ",\"html_tag\":" +
             JsonGbk(list[i].second) + "}";
    }
    out += "]}";
  }
  out += "},\"left_out\":" + std::to_string(catalogue.overflow_count());
  if (catalogue.overflow_count() > 0) out += ",\"message\":" + JsonGbk(catalogue.OverflowMessage());
  out += "}\n";
  std::fputs(out.c_str(), stdout);
  return 0;
}

void AppendNode(CXmlNode& root, CXmlNode& node, NodePath& path, const std::string& library,
                const std::string& folder, std::string* out) {
  InheritedValues values;
  InheritNodeValues(root, path, &values);
  *out += "{\"path\":[";
  for (size_t i = 0; i < path.size(); ++i) *out += (i ? "," : "") + std::to_string(path[i]);
  *out += "],\"tag\":" + JsonGbk(node.tag());
  if (!path.empty()) *out += ",\"label\":" + JsonGbk(ChapterNodeLabel(node));
  if (EqualsNoCase(node.tag(), "record")) *out += ",\"record\":" + JsonGbk(Trim(node.text()));
  *out += ",\"page\":" + JsonGbk(NodePageOf(library, folder, values)) +
          ",\"pdf\":" + JsonGbk(NodePdfOf(folder, values)) + ",\"children\":[";
  int i = 0;
  for (CXmlNode* child = node.first_child(); child != nullptr; child = child->next_sibling(), ++i) {
    if (i > 0) *out += ',';
    path.push_back(i);
    AppendNode(root, *child, path, library, folder, out);
    path.pop_back();
  }
  *out += "]}";
}

int RunToc(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 2) return UsageError("usage: toc DIR BOOK");
  const std::string library = LibraryDirOf(a.positional[0]);
  Catalogue catalogue;
  if (!catalogue.LoadCatalogue(library)) {
    return Failure("cannot load " + JoinPath(library, "bookconfig.xml"));
  }
  long long number = 0;
  int k = 0;
  if (ParseInt(a.positional[1], &number)) {
    k = static_cast<int>(number);
  } else {
    const std::string name = ArgToGbk(a.positional[1]);
    for (int i = 1; i <= catalogue.book_count(); ++i) {
      if (catalogue.BookName(i) == name) k = i;
    }
  }
  const std::string folder = catalogue.BookFolder(k);
  if (folder.empty()) return Failure("no book " + a.positional[1] + " with a folder");
  CXmlDocument toc;
  bool generated = false;
  if (!toc.Load(JoinPath(folder, "chapter.xml"))) {
    generated = true;
    if (!toc.ParseText(BuildChapterXmlText(folder))) return Failure("cannot read the book folder");
  }
  NodePath path;
  std::string out = "{\"book\":" + std::to_string(k) + ",\"name\":" +
                    JsonGbk(catalogue.BookName(k)) + ",\"folder\":" + JsonGbk(folder) +
                    ",\"generated\":" + (generated ? "true" : "false") + ",\"root\":";
  AppendNode(toc.root(), toc.root(), path, library, folder, &out);
  out += "}\n";
  std::fputs(out.c_str(), stdout);
  return 0;
}

CommandRegistrar catalogue_cmd("catalogue", "DIR   books, categories and labels as JSON",
                               &RunCatalogue);
CommandRegistrar toc_cmd("toc", "DIR BOOK   table of contents with pages and PDFs as JSON",
                         &RunToc);

}  // namespace
}  // namespace tomeva::tool
