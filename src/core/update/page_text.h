// The version page's text, read from the bytes the server sent (docs/formats/version-page.md,
// "Reading the page"). The page is outside input and is never run: nothing here executes a
// script, follows a link or loads anything a page refers to. An XML page gives its source, an
// HTML page the text a browser shows as its body, a plain text page its text.
//
// Threads: any thread; nothing is shared.
#ifndef TOMEVA_CORE_UPDATE_PAGE_TEXT_H_
#define TOMEVA_CORE_UPDATE_PAGE_TEXT_H_

#include <string>
#include <string_view>

namespace tomeva {

// What kind of document the fetched bytes are.
enum class PageKind { kXml, kHtml, kPlainText };

// The kind of the page whose reply type is `content_type` (the Content-Type header as sent; ""
// when there is none, as for a file), whose address ends in the file name `name`, and whose
// bytes are `bytes`. A type that says XML (text/xml, application/xml, any other "+xml" but
// XHTML), HTML (text/html, application/xhtml+xml) or plain text decides; without one, the name's
// extension (.xml; .htm, .html, .xhtml; .txt) decides, and without that the bytes: a document
// that begins with "<?xml" is XML, one that begins with "<" HTML, anything else plain text.
PageKind KindOfPage(std::string_view content_type, std::string_view name, std::string_view bytes);

// The text a browser shows as the body of the HTML document `html` (UTF-8), returned as UTF-8:
// the text of the elements, with entities decoded; white space collapsed to single spaces except
// inside <pre>, <listing>, <xmp> and <plaintext>; a line break for <br> and around block
// elements, an empty line around paragraphs, a tab between table cells; nothing of comments,
// <script>, <style>, <title>, <template>, <noscript>, <textarea>, <iframe>, <noembed> and
// <noframes>. Line ends come out as "\n". Any input is accepted; time and memory are linear in its
// length.
std::string HtmlShownText(std::string_view html);

// The version page's text as the version check parses it, GBK. `bytes` are the page as fetched;
// `content_type` and `name` as for KindOfPage. The character set is the one the type names
// ("charset="), else a byte order mark, else the one the document declares (an XML declaration's
// encoding, an HTML <meta> charset in its first 1024 bytes), else GBK; UTF-8 is converted to GBK,
// every other name is read as GBK (ASCII being part of it). A page in UTF-16 gives "". An XML page
// gives its source, with an XML declaration put in front when it has none; an HTML page
// HtmlShownText; a plain text page its text.
std::string VersionPageText(std::string_view bytes, std::string_view content_type,
                            std::string_view name);

}  // namespace tomeva

#endif  // TOMEVA_CORE_UPDATE_PAGE_TEXT_H_
