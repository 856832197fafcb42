// Locating the PDF of a search hit's record, and the keyword string the PDF highlighter is given.
// Paths and texts are GBK. Functions read files only; they keep no state and may run on any
// thread.
#ifndef TOMEVA_CORE_PDF_RECORD_PDF_H_
#define TOMEVA_CORE_PDF_RECORD_PDF_H_

#include <string>
#include <string_view>
#include <vector>

#include "core/xml/xml_document.h"

namespace tomeva {

// Keywords of a result set that the PDF highlighter is given.
inline constexpr int kPdfKeywordCount = 13;

// The PDF of the record `record` (a parsed record text with `FdCat` and `FdName`), or "" when it
// has none:
//  1. the first `book` child of app_dir/bookconfig.xml (scrambled) whose `category` equals the
//     record's `FdCat` text exactly gives the book folder app_dir/<dir>; a `dir` that is not a
//     plain relative path gives no PDF;
//  2. the first record file (book_*.xml, any case, in listing order) of that folder whose
//     `FdName` text equals the record's exactly is the record's file;
//  3. in the folder's chapter.xml, the first `Record` element (depth first, document order, tag
//     and text compared without regard to ASCII case) naming that file gives the PDF: the `pdf`
//     of the deepest element on its way from the root (itself included) that has a non-empty
//     one, resolved inside the book folder (ResolvePageInside of base/path_guard.h); a
//     value that leads out of the book's folder gives "".
// A catalogue, record file or chapter.xml that is missing or does not load gives "" as well, and
// so does a table of contents that no longer names the file: no guessed PDF is ever opened.
std::string GetRecordPdf(CXmlDocument& record, std::string_view app_dir);

// The words a PDF of a result set's hit is marked with: the first kPdfKeywordCount keywords in
// reverse order (the last taken first).
std::vector<std::string> PdfKeywords(const std::vector<std::string>& keywords);

}  // namespace tomeva

#endif  // TOMEVA_CORE_PDF_RECORD_PDF_H_
