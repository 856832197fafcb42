#include "core/pdf/record_pdf.h"

#include <algorithm>
#include <optional>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/mbstring.h"
#include "base/path_guard.h"

namespace tomeva {
namespace {

std::string AttributeOf(const CXmlNode& node, const char* name) {
  auto it = node.attributes().find(name);
  return it == node.attributes().end() ? std::string() : it->second;
}

// The catalogue entry of category `category`, compared as written: the record carries the text
// the import copied from the catalogue, so a number read leniently could pick another book.
std::string BookFolderOfCategory(std::string_view app_dir, const std::string& category) {
  CXmlDocument catalogue;
  if (catalogue.Load(JoinPath(app_dir, "bookconfig.xml"), 1) != 1) return std::string();
  for (CXmlNode* node = catalogue.root().first_child(); node != nullptr;
       node = node->next_sibling()) {
    if (!EqualsNoCase(node->tag(), "book")) continue;
    auto it = node->attributes().find("category");
    if (it == node->attributes().end() || it->second != category) continue;
    const std::string dir = AttributeOf(*node, "dir");
    // A folder that could lead out of the library is never opened.
    if (!IsPlainRelativePath(dir)) return std::string();
    return JoinPath(app_dir, NormalizeSeparators(dir));
  }
  return std::string();
}

// The name of the first record file of `folder` whose title is `title`, "" when none is.
std::string RecordFileOfTitle(const std::string& folder, const std::string& title) {
  const std::string resolved = ResolvePath(folder);
  for (const std::string& name : ListDirectory(resolved)) {
    const std::string lower = ToLowerAscii(name);
    if (!StartsWith(lower, "book_") || !EndsWith(lower, ".xml")) continue;
    const std::string path = JoinPath(resolved, name);
    if (!FileExists(path)) continue;  // a folder of that name
    CXmlDocument record;
    if (record.Load(path) != 1) continue;
    if (record.GetText("FdName") == title) return name;
  }
  return std::string();
}

// Depth-first search for the `Record` element naming `file`; `pdfs` holds the `pdf` values of the
// elements on the way, the found one last; a value that held a byte that was not GBK is there as
// nullopt (refused).
bool FindRecordElement(const CXmlNode& node, const std::string& file,
                       std::vector<std::optional<std::string>>* pdfs) {
  pdfs->push_back(NameAttribute(node, "pdf"));
  if (EqualsNoCase(node.tag(), "Record") && EqualsNoCase(node.text(), file)) return true;
  for (const CXmlNode* child = node.first_child(); child != nullptr;
       child = child->next_sibling()) {
    if (FindRecordElement(*child, file, pdfs)) return true;
  }
  pdfs->pop_back();
  return false;
}

}  // namespace

std::string GetRecordPdf(CXmlDocument& record, std::string_view app_dir) {
  const std::string category = record.GetText("FdCat");
  const std::string title = record.GetText("FdName");
  const std::string folder = BookFolderOfCategory(app_dir, category);
  if (folder.empty()) return std::string();
  const std::string file = RecordFileOfTitle(folder, title);
  if (file.empty()) return std::string();
  CXmlDocument chapter;
  if (chapter.Load(JoinPath(folder, "chapter.xml")) != 1) return std::string();
  std::vector<std::optional<std::string>> pdfs;
  if (!FindRecordElement(chapter.root(), file, &pdfs)) return std::string();
  auto deepest = std::find_if(pdfs.rbegin(), pdfs.rend(),
                              [](const auto& pdf) { return !pdf || !pdf->empty(); });
  // A refused name is no PDF; it does not fall back to one named further up either.
  if (deepest == pdfs.rend() || !*deepest) return std::string();
  // The table of contents comes with the book: a PDF it names outside the book's folder is none.
  return ResolvePageInside(folder, **deepest).value_or(std::string());
}

std::vector<std::string> PdfKeywords(const std::vector<std::string>& keywords) {
  const size_t taken = std::min(keywords.size(), static_cast<size_t>(kPdfKeywordCount));
  return std::vector<std::string>(keywords.rend() - taken, keywords.rend());
}

}  // namespace tomeva
