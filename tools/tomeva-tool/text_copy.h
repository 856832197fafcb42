// The text copy of a PDF: the GBK text that lies beside a PDF (its path with "txt" for the last
// three characters) and that the highlighter matches keywords in and the viewer's plug-in maps
// back to the pages. Maintainers make it with `tomeva-tool text-copy`; the format is described in
// docs/formats/pdf-highlight.md.
//
// What a text copy holds, page after page: the page's text in reading order, then one form feed
// (0x0C), so that page N's text is what follows the (N-1)th form feed and no other form feed
// occurs. A line break between two CJK characters (Han, kana, hangul, bopomofo) is dropped with
// the spaces around it, so that a word the PDF breaks across lines is found whole; other line
// breaks stay. A character GBK lacks is replaced by a stand-in GBK has (its compatibility form,
// its traditional or simplified form, the letter without its accents, a like punctuation mark),
// else by "?", and counted; so are control characters other than tab and line break, which would
// otherwise cut the text (NUL) or shift the pages (form feed).
#ifndef TOMEVA_TOOLS_TOMEVA_TOOL_TEXT_COPY_H_
#define TOMEVA_TOOLS_TOMEVA_TOOL_TEXT_COPY_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tomeva::tool {

// How the extractor orders a page's text. kRaw keeps the order in which the PDF draws it (the
// order the viewer's text layer has); kPhysical lays the page out line by line as it looks.
enum class TextLayout { kRaw, kPhysical };

// Turns one page's text (UTF-16, as the extractor gives it; a lone surrogate counts as a
// character GBK lacks) into GBK: lines joined and stand-ins put in as described above. Adds the
// number of replaced characters to `*replaced`. No form feed is appended. Thread-compatible: a
// converter caches what it learned about each character, so give each thread its own.
class PageTextConverter {
 public:
  PageTextConverter();
  ~PageTextConverter();
  PageTextConverter(const PageTextConverter&) = delete;
  PageTextConverter& operator=(const PageTextConverter&) = delete;

  std::string Convert(std::u16string_view page_text, int* replaced);

 private:
  struct Cache;
  std::unique_ptr<Cache> cache_;
};

struct TextCopyResult {
  bool ok = false;
  std::string error;  // when !ok: why, in words for the maintainer (UTF-8)
  std::string text;   // when ok: the text copy's GBK bytes
  int pages = 0;
  int replaced = 0;          // characters replaced by a stand-in or "?"
  int unreadable_pages = 0;  // pages the PDF holds but that could not be read: left empty
};

// Makes the text copy of the PDF whose bytes are `pdf`. Refuses (ok false, error set) data that
// is not a PDF or is damaged beyond reading, a PDF without a page, and one that needs a password
// to be opened; never throws. A page that cannot be read is left empty and counted.
TextCopyResult MakeTextCopy(std::string_view pdf, TextLayout layout = TextLayout::kRaw);

// Reads the PDF at `pdf_path` and replaces `out_path` atomically with its text copy: on any
// failure (the PDF missing, unreadable, damaged or locked, the copy not writable) `out_path` is
// left as it was and `error` says why. Paths are looked up as the file helpers do ("\" as a
// separator, ASCII case ignored when the exact name is missing). Refuses an `out_path` that is
// the PDF itself.
TextCopyResult WriteTextCopy(const std::string& pdf_path, const std::string& out_path,
                             TextLayout layout = TextLayout::kRaw);

}  // namespace tomeva::tool

#endif  // TOMEVA_TOOLS_TOMEVA_TOOL_TEXT_COPY_H_
