// A book's table of contents, chapter.xml in the book folder: which page and which PDF a node
// shows, and the generation of a table of contents for a folder that has none. A node is
// addressed by its path of 0-based child positions from the root element (the empty path is the
// book itself), in the order the tree shows the elements.
#ifndef TOMEVA_CORE_LIBRARY_CHAPTER_H_
#define TOMEVA_CORE_LIBRARY_CHAPTER_H_

#include <string>
#include <string_view>
#include <vector>

#include "core/xml/xml_document.h"

namespace tomeva {

using NodePath = std::vector<int>;

// The element at `path` under `root`, or null when a position does not exist.
CXmlNode* FindChapterNode(CXmlNode& root, const NodePath& path);

// The `htm` / `pdf` value that the node inherits: the value of the deepest element on the way
// from the root to the node (the node included) where it is non-empty. `htm` starts from
// "home.htm" when the root has none; `pdf` from "". Null when the path does not exist. A value
// that held a byte that was not GBK (NameAttribute of core/xml) is refused: it still hides the
// values above it, and gives no page and no PDF.
struct InheritedValues {
  std::string htm;
  std::string pdf;
  bool htm_refused = false;
  bool pdf_refused = false;
};
bool InheritNodeValues(CXmlNode& root, const NodePath& path, InheritedValues* out);

// The page and PDF for inherited values: library_dir/home.htm for an `htm` of "home.htm" (any
// case), else book_folder/<htm>; book_folder/<pdf>, or "" when there is no `pdf` or it is
// refused (a refused `htm` gives "" as well). A value is
// resolved with ResolvePageInside (base/path_guard.h): "\" and letter case as the file
// helpers take them, a "#" or "?" part kept; a value that would lead out of the book's folder
// (an absolute path, a drive or scheme, a ".." above the folder, a link out of it) gives "", so
// that no file outside the book is ever shown or opened for it.
std::string NodePageOf(std::string_view library_dir, std::string_view book_folder,
                       const InheritedValues& values);
std::string NodePdfOf(std::string_view book_folder, const InheritedValues& values);

// The page a node shows: library_dir/home.htm when the inherited `htm` is "home.htm" (any case),
// when chapter.xml cannot be loaded or when the path does not exist; otherwise
// book_folder/<htm>, or "" when that value leads out of the book's folder (see NodePageOf).
std::string GetNodePage(std::string_view library_dir, std::string_view book_folder,
                        const NodePath& path);

// The PDF a node opens: book_folder/<pdf>, or "" when no element on its way names one,
// chapter.xml cannot be loaded or the value leads out of the book's folder.
std::string GetNodePdf(std::string_view book_folder, const NodePath& path);

// The label of a table-of-contents element: `name` of a section, `title` of a record, "缺名字"
// when that comes out empty.
std::string ChapterNodeLabel(const CXmlNode& node);

// The table of contents generated for a book folder: the root carries pdf="838.pdf" when the
// folder holds a file of that name, and one `record` element per record file (book_*.xml, in
// listing order) titled with the file's first FdName text.
std::string BuildChapterXmlText(std::string_view book_folder);

// Loads book_folder/chapter.xml into `doc`; when it is missing or damaged (read, but does not
// load), generates the table of contents and puts that into `doc`. A chapter.xml that cannot be
// read at all is left alone and `doc` is left empty (returns 0): it is not known to be damaged.
// The generated table goes to disk as chapter.xml, a damaged one being first copied to
// chapter.xml.bak (replacing an older one), so that a hand-written table of contents with one
// mistake in it is not lost: at every moment the folder holds it as chapter.xml or as
// chapter.xml.bak. When a write fails, chapter.xml stays as it was and `doc` still holds the
// generated table. Returns 1 when `doc` holds a table of contents afterwards.
int CreateChapterXml(std::string_view book_folder, CXmlDocument* doc);

}  // namespace tomeva

#endif  // TOMEVA_CORE_LIBRARY_CHAPTER_H_
