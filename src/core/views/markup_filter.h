// The allow-list that every generated record page passes through before it is shown. Record
// values are mark-up by design (a field's "&lt" becomes "<"), and they come with book packages from
// outside: what a record page needs stays (text formatting, fonts and colours, tables, lists,
// headings, pictures and links into the library or to web sites), everything that could run
// script, load a frame or leave the library goes.
//
// The filter reads the mark-up and writes it out again in a canonical form, so that what the web
// view parses is exactly what the filter decided on:
//  - text: "<" and ">" that do not start or end a kept tag become "&lt;" and "&gt;"; character
//    references are left as they are (they cannot open a tag);
//  - a kept tag is written as "<name attr=value ...>" (or ".../>"), with the tag's and the
//    attributes' names and the quote characters as written, one space between attributes, so that
//    the program's own mark-up comes out byte for byte as it went in;
//  - an attribute value is put in the quotes it had (unquoted only when it holds nothing but
//    letters, digits and "#%._:/+,-"); a quote inside it becomes a character reference;
//  - addresses (href, src, background) and style values are read with their character references
//    decoded (a reference the filter cannot decode drops the attribute) and written decoded;
//  - dropped tags: every tag not on the list (its content stays, as text and kept tags), comments,
//    "<!...>" and "<?...>" (embed, frame, form, input fields, meta, link and base among them);
//    dropped with everything inside them: script, style, iframe, frameset, object, applet, svg,
//    math, template, noscript, noembed, noframes, xmp, textarea, title, select, plaintext (to
//    the end of the text);
//  - dropped attributes: every attribute not on the list (every on* among them), an address whose
//    scheme is not http, https or file (src and background: not file), a file: address or absolute
//    path outside `local_roots` (IsInsideLibrary of base/path_guard.h), a relative address
//    with a ".." step or starting with "//", a style that could load or run anything (url,
//    expression, import, escapes ...), an input or button whose type is not "button".
// The program's frame mark-up (SearchResultConfig.xml's bodytop and bodybottom, with the paging
// buttons B0..B3 as <input type=button id=B0 ...>) passes the list unchanged and is filtered with
// the record: a record's link list (FdLink) can put a record's text into it.
//
// GBK in and out: the bytes that structure mark-up ("<>\"'=/&" and white space) are all below 0x40
// and so never the trail byte of a double-byte character; text is walked one character at a time.
// A byte that is not GBK (base/gbk.h) is replaced by "?" before the walk, as the web view's
// decoder would see it: one character, the byte after it judged on its own. The output is valid
// GBK.
// Never fails; any input gives a page. Thread-safe (no state).
#ifndef TOMEVA_CORE_VIEWS_MARKUP_FILTER_H_
#define TOMEVA_CORE_VIEWS_MARKUP_FILTER_H_

#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

// `markup` with only what the list above keeps. `local_roots`: the folders whose files a page may
// name (the library folder and the installation folder); empty entries are skipped.
std::string FilterMarkup(std::string_view markup, const std::vector<std::string>& local_roots);

// True when `address` (character references already decoded) may stand in a kept href (`web`
// true: http and https allowed) or src or background (`web` false: a picture or background comes
// from the library only, never from the network): see above.
bool IsAllowedPageAddress(std::string_view address, const std::vector<std::string>& local_roots,
                          bool web);

}  // namespace tomeva

#endif  // TOMEVA_CORE_VIEWS_MARKUP_FILTER_H_
