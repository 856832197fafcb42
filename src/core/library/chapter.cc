#include "core/library/chapter.h"

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/path_guard.h"
#include "base/texts.h"

namespace tomeva {
namespace {

std::string AttributeOf(const CXmlNode& node, const char* name) {
  auto it = node.attributes().find(name);
  return it == node.attributes().end() ? std::string() : it->second;
}

bool IsRecordFileName(std::string_view name) {
  std::string lower = ToLowerAscii(name);
  return StartsWith(lower, "book_") && EndsWith(lower, ".xml");
}

// Loads book_folder/chapter.xml as it is; false when it is missing, unreadable or damaged.
bool LoadChapter(std::string_view book_folder, CXmlDocument* doc) {
  return doc->Load(JoinPath(book_folder, "chapter.xml")) == 1;
}

}  // namespace

CXmlNode* FindChapterNode(CXmlNode& root, const NodePath& path) {
  CXmlNode* node = &root;
  for (int position : path) {
    if (position < 0) return nullptr;
    CXmlNode* child = node->first_child();
    for (int i = 0; child != nullptr && i < position; ++i) child = child->next_sibling();
    if (child == nullptr) return nullptr;
    node = child;
  }
  return node;
}

namespace {

// Takes the node's value of a file-naming attribute when it has a non-empty one; a refused one
// (a byte that was not GBK) is taken too, marked, so that it hides the values above it.
void InheritName(const CXmlNode& node, const char* name, std::string* value, bool* refused) {
  const std::optional<std::string> own = NameAttribute(node, name);
  const std::string shown = own ? *own : AttributeOf(node, name);
  if (shown.empty()) return;
  *value = shown;
  *refused = !own;
}

}  // namespace

bool InheritNodeValues(CXmlNode& root, const NodePath& path, InheritedValues* out) {
  *out = InheritedValues();
  InheritName(root, "htm", &out->htm, &out->htm_refused);
  if (out->htm.empty()) out->htm = "home.htm";
  InheritName(root, "pdf", &out->pdf, &out->pdf_refused);
  CXmlNode* node = &root;
  for (int position : path) {
    if (position < 0) return false;
    CXmlNode* child = node->first_child();
    for (int i = 0; child != nullptr && i < position; ++i) child = child->next_sibling();
    if (child == nullptr) return false;
    node = child;
    InheritName(*node, "htm", &out->htm, &out->htm_refused);
    InheritName(*node, "pdf", &out->pdf, &out->pdf_refused);
  }
  return true;
}

std::string NodePageOf(std::string_view library_dir, std::string_view book_folder,
                       const InheritedValues& values) {
  if (values.htm_refused) return std::string();
  if (EqualsNoCase(values.htm, "home.htm")) return JoinPath(library_dir, "home.htm");
  // chapter.xml comes with the book: a page it names outside the book's folder is no page.
  return ResolvePageInside(book_folder, values.htm).value_or(std::string());
}

std::string NodePdfOf(std::string_view book_folder, const InheritedValues& values) {
  if (values.pdf.empty() || values.pdf_refused) return std::string();
  return ResolvePageInside(book_folder, values.pdf).value_or(std::string());
}

std::string GetNodePage(std::string_view library_dir, std::string_view book_folder,
                        const NodePath& path) {
  const std::string start_page = JoinPath(library_dir, "home.htm");
  CXmlDocument doc;
  if (!LoadChapter(book_folder, &doc)) return start_page;
  InheritedValues values;
  if (!InheritNodeValues(doc.root(), path, &values)) return start_page;
  return NodePageOf(library_dir, book_folder, values);
}

std::string GetNodePdf(std::string_view book_folder, const NodePath& path) {
  CXmlDocument doc;
  if (!LoadChapter(book_folder, &doc)) return std::string();
  InheritedValues values;
  if (!InheritNodeValues(doc.root(), path, &values)) return std::string();
  return NodePdfOf(book_folder, values);
}

std::string ChapterNodeLabel(const CXmlNode& node) {
  std::string label;
  if (EqualsNoCase(node.tag(), "record")) {
    label = AttributeOf(node, "title");
  } else if (EqualsNoCase(node.tag(), "dir")) {
    label = AttributeOf(node, "name");
  }
  return label.empty() ? Text(kTextNoName) : label;
}

std::string BuildChapterXmlText(std::string_view book_folder) {
  const std::string folder = ResolvePath(book_folder);
  std::vector<std::string> names = ListDirectory(folder);
  std::string text = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book ";
  for (const std::string& name : names) {
    if (EqualsNoCase(name, "838.pdf") && FileExists(JoinPath(folder, name))) {
      text += "pdf=\"838.pdf\"";
      break;
    }
  }
  text += ">\r\n";
  for (const std::string& name : names) {
    // A file name that is not GBK could only be written into the table repaired, as the name
    // of another file.
    if (!IsRecordFileName(name) || !IsValidGbk(name)) continue;
    const std::string path = JoinPath(folder, name);
    if (!FileExists(path)) continue;
    CXmlDocument record;
    std::string title;
    if (record.Load(path)) title = record.GetText("FdName");
    // Attribute values are read back as written, up to the next quote, and a ">" ends the start
    // tag: either would cut the label and lose the record's file name. Their full-width forms
    // read the same to a user. (Neither byte can be the second byte of a GBK character.)
    title = ReplaceAll(ReplaceAll(title, "\"", "\xA3\xA2"), ">", "\xA3\xBE");
    text += "<record title=\"";
    text += title;
    text += "\">";
    text += name;
    text += "</record>\r\n";
  }
  text += "</book>";
  return text;
}

int CreateChapterXml(std::string_view book_folder, CXmlDocument* doc) {
  const std::string path = ResolvePath(JoinPath(book_folder, "chapter.xml"));
  const bool exists = FileExists(path);
  if (exists) {
    std::string bytes;
    // A file that cannot be read is not known to be damaged: it may be a good, hand-written
    // table of contents on a disk that failed for a moment. It is left alone.
    if (!ReadWholeFile(path, &bytes)) {
      doc->root().Clear();
      return 0;
    }
    if (doc->ParseText(bytes) == 1) return 1;
  }
  const std::string text = BuildChapterXmlText(book_folder);
  // Only a table of contents that loads goes to disk: the next start would take any other for
  // damaged and move it over the .bak that holds the hand-written one.
  if (doc->ParseText(text) != 1) return 0;
  // The damaged file is copied aside before it is replaced, and the replacement is atomic, so
  // the folder holds it as chapter.xml or as chapter.xml.bak at every moment. When either write
  // fails, chapter.xml stays as it was and the generated table is shown without being kept; the
  // next start tries again.
  if (exists && !CopyFileReplacing(path, path + ".bak")) return 1;
  ReplaceFileAtomically(path, text);
  return 1;
}

}  // namespace tomeva
