#include "core/update/page_text.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "base/gbk.h"

namespace tomeva {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }

// HTML's white space: space, tab, line feed, form feed, carriage return.
bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view TrimHtmlSpace(std::string_view text) {
  while (!text.empty() && IsHtmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsHtmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

void AppendUtf8(uint32_t code, std::string* out) {
  // What the HTML parser puts in place of a character reference that names no character.
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

struct NamedEntity {
  std::string_view name;
  uint32_t code;
  bool without_semicolon;  // also recognised without its ";", as browsers do for these
};

// The entities a version page plausibly writes. A no-break space is a plain space here: GBK has
// no character for it, and the text is read as XML, not laid out.
constexpr NamedEntity kEntities[] = {
    {"amp", '&', true},        {"lt", '<', true},        {"gt", '>', true},
    {"quot", '"', true},       {"apos", '\'', false},    {"nbsp", ' ', true},
    {"copy", 0xA9, true},      {"reg", 0xAE, true},      {"middot", 0xB7, true},
    {"times", 0xD7, true},     {"divide", 0xF7, true},   {"deg", 0xB0, true},
    {"plusmn", 0xB1, true},    {"sect", 0xA7, true},     {"yen", 0xA5, true},
    {"ndash", 0x2013, false},  {"mdash", 0x2014, false}, {"lsquo", 0x2018, false},
    {"rsquo", 0x2019, false},  {"ldquo", 0x201C, false}, {"rdquo", 0x201D, false},
    {"hellip", 0x2026, false}, {"bull", 0x2022, false},
};

// Decodes the character reference at text[*at] == '&' into `out`, moving *at past it; a "&"
// that starts no known reference is taken as itself.
void DecodeReference(std::string_view text, size_t* at, std::string* out) {
  size_t i = *at + 1;
  if (i < text.size() && text[i] == '#') {
    ++i;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const size_t digits_start = i;
    uint32_t code = 0;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      uint32_t digit;
      if (IsAsciiDigit(c)) {
        digit = static_cast<uint32_t>(c - '0');
      } else if (hex && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') {
        digit = static_cast<uint32_t>(LowerAscii(c) - 'a' + 10);
      } else {
        break;
      }
      // Past the last character the value no longer matters: it names none.
      code = std::min<uint32_t>(code * (hex ? 16 : 10) + digit, 0x110000);
    }
    if (i == digits_start) {
      out->push_back('&');
      ++*at;
      return;
    }
    if (i < text.size() && text[i] == ';') ++i;
    AppendUtf8(code, out);
    *at = i;
    return;
  }
  size_t end = i;
  while (end < text.size() && IsAsciiAlnum(text[end])) ++end;
  const std::string_view name = text.substr(i, end - i);
  const bool semicolon = end < text.size() && text[end] == ';';
  for (const NamedEntity& entity : kEntities) {
    if (name != entity.name || (!semicolon && !entity.without_semicolon)) continue;
    AppendUtf8(entity.code, out);
    *at = end + (semicolon ? 1 : 0);
    return;
  }
  out->push_back('&');
  ++*at;
}

// The text being shown, as the browser's innerText builds it: runs of text, with the line breaks
// that block elements ask for collapsed into the largest count asked for at that place, and none
// at the start or the end.
class ShownText {
 public:
  // Text of the document; `preformatted` keeps its white space, `raw` its character references.
  void Text(std::string_view run, bool preformatted, bool raw = false) {
    std::string decoded;
    for (size_t i = 0; i < run.size();) {
      if (run[i] == '&' && !raw) {
        DecodeReference(run, &i, &decoded);
      } else {
        decoded.push_back(run[i++]);
      }
    }
    if (preformatted) {
      for (char c : decoded) Put(c);
      return;
    }
    for (char c : decoded) {
      if (IsHtmlSpace(c)) {
        pending_space_ = true;
        continue;
      }
      if (pending_space_ && !at_line_start_) Put(' ');
      pending_space_ = false;
      Put(c);
    }
  }
  // A block's edge: at least `count` line breaks before the next text.
  void Break(int count) {
    pending_breaks_ = std::max(pending_breaks_, count);
    pending_space_ = false;
  }
  // <br>: a line break of its own.
  void LineBreak() {
    pending_space_ = false;
    Put('\n');
  }
  // A table cell after another on its line.
  void CellSeparator() {
    if (!at_line_start_ && pending_breaks_ == 0) {
      pending_space_ = false;
      Put('\t');
    }
  }
  std::string Take() { return std::move(out_); }

 private:
  void Put(char c) {
    if (pending_breaks_ > 0) {
      if (!out_.empty()) out_.append(static_cast<size_t>(pending_breaks_), '\n');
      pending_breaks_ = 0;
      at_line_start_ = true;
    }
    out_.push_back(c);
    at_line_start_ = c == '\n';
  }

  std::string out_;
  int pending_breaks_ = 0;
  bool pending_space_ = false;
  bool at_line_start_ = true;
};

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements whose content is not shown, and which the parser reads as raw text up to their end
// tag (a "<" inside them starts no element).
bool IsHiddenRawText(std::string_view name) {
  return IsOneOf(
      name, {"script", "style", "title", "textarea", "iframe", "noembed", "noframes", "noscript"});
}

bool IsBlock(std::string_view name) {
  return IsOneOf(name,
                 {"address",  "article",    "aside",  "blockquote", "body",    "caption", "center",
                  "dd",       "details",    "dialog", "dir",        "div",     "dl",      "dt",
                  "fieldset", "figcaption", "figure", "footer",     "form",    "h1",      "h2",
                  "h3",       "h4",         "h5",     "h6",         "header",  "hgroup",  "hr",
                  "html",     "legend",     "li",     "listing",    "main",    "menu",    "nav",
                  "ol",       "plaintext",  "pre",    "section",    "summary", "table",   "tr",
                  "ul",       "xmp"});
}

bool IsPreformatted(std::string_view name) { return IsOneOf(name, {"pre", "listing", "xmp"}); }

// The position after the next ">" at or after `from` outside quotes, or the text's end.
size_t SkipTagRest(std::string_view text, size_t from) {
  char quote = 0;
  for (size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      // Quotes only delimit an attribute's value, right after its "=".
      size_t before = i;
      while (before > from && IsHtmlSpace(text[before - 1])) --before;
      if (before > from && text[before - 1] == '=') quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return text.size();
}

// The end of a raw text element `name` whose content starts at `from`: the position of its end
// tag "</name" (followed by white space, "/" or ">"), or the text's end.
size_t FindRawTextEnd(std::string_view text, size_t from, std::string_view name) {
  for (size_t i = text.find("</", from); i != std::string_view::npos; i = text.find("</", i + 2)) {
    const size_t after = i + 2 + name.size();
    if (!StartsWithNoCase(text.substr(i + 2), name)) continue;
    if (after == text.size() || IsHtmlSpace(text[after]) || text[after] == '/' ||
        text[after] == '>') {
      return i;
    }
  }
  return text.size();
}

// The HTML parser's line ends: CR LF and a lone CR become LF.
std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

enum class Charset { kGbk, kUtf8, kUtf16 };

Charset CharsetNamed(std::string_view name) {
  const std::string lower = LowerAscii(TrimHtmlSpace(name));
  if (lower == "utf-8" || lower == "utf8") return Charset::kUtf8;
  if (lower.rfind("utf-16", 0) == 0) return Charset::kUtf16;
  return Charset::kGbk;
}

// The value of the parameter `key` ("charset") in `text` ("text/html; charset=utf-8" or a meta
// element's content), without quotes; "" when there is none.
std::string ParameterValue(std::string_view text, std::string_view key) {
  const std::string lower = LowerAscii(text);
  for (size_t at = lower.find(key); at != std::string::npos; at = lower.find(key, at + 1)) {
    size_t i = at + key.size();
    while (i < lower.size() && IsHtmlSpace(lower[i])) ++i;
    if (i >= lower.size() || lower[i] != '=') continue;
    ++i;
    while (i < lower.size() && IsHtmlSpace(lower[i])) ++i;
    if (i < lower.size() && (lower[i] == '"' || lower[i] == '\'')) ++i;
    const size_t start = i;
    while (i < lower.size() && (IsAsciiAlnum(lower[i]) || lower[i] == '-' || lower[i] == '_' ||
                                lower[i] == '.' || lower[i] == ':')) {
      ++i;
    }
    if (i > start) return std::string(text.substr(start, i - start));
  }
  return std::string();
}

// The character set an HTML document declares in a <meta> element within its first 1024 bytes,
// as browsers look for it before they parse; "" when none does.
std::string DeclaredHtmlCharset(std::string_view bytes) {
  const std::string_view head = bytes.substr(0, 1024);
  for (size_t at = 0; (at = LowerAscii(head).find("<meta", at)) != std::string::npos;) {
    const size_t end = SkipTagRest(head, at + 5);
    const std::string charset = ParameterValue(head.substr(at, end - at), "charset");
    if (!charset.empty()) return charset;
    at = end;
  }
  return std::string();
}

// The encoding an XML declaration names; "" when there is none.
std::string DeclaredXmlEncoding(std::string_view bytes) {
  if (!StartsWithNoCase(TrimHtmlSpace(bytes.substr(0, 1024)), "<?xml")) return std::string();
  const std::string_view head = bytes.substr(0, bytes.find("?>"));
  return ParameterValue(head, "encoding");
}

std::string_view ContentTypeMedia(std::string_view content_type) {
  return TrimHtmlSpace(content_type.substr(0, content_type.find(';')));
}

}  // namespace

PageKind KindOfPage(std::string_view content_type, std::string_view name, std::string_view bytes) {
  const std::string media = LowerAscii(ContentTypeMedia(content_type));
  if (media == "text/html" || media == "application/xhtml+xml") return PageKind::kHtml;
  if (media == "text/xml" || media == "application/xml" ||
      (media.size() > 4 && media.compare(media.size() - 4, 4, "+xml") == 0)) {
    return PageKind::kXml;
  }
  if (media == "text/plain") return PageKind::kPlainText;
  if (EndsWithNoCase(name, ".xml")) return PageKind::kXml;
  if (EndsWithNoCase(name, ".htm") || EndsWithNoCase(name, ".html") ||
      EndsWithNoCase(name, ".xhtml")) {
    return PageKind::kHtml;
  }
  if (EndsWithNoCase(name, ".txt")) return PageKind::kPlainText;
  std::string_view start = bytes;
  if (start.substr(0, kUtf8Bom.size()) == kUtf8Bom) start.remove_prefix(kUtf8Bom.size());
  start = TrimHtmlSpace(start.substr(0, 1024));
  if (StartsWithNoCase(start, "<?xml")) return PageKind::kXml;
  if (!start.empty() && start.front() == '<') return PageKind::kHtml;
  return PageKind::kPlainText;
}

std::string HtmlShownText(std::string_view html) {
  const std::string text = NormalizeLineEnds(html);
  ShownText shown;
  int preformatted = 0;  // depth of open <pre>, <listing>, <xmp>
  int template_depth = 0;
  bool drop_newline = false;  // the line feed right after <pre> is not content
  size_t i = 0;
  auto text_run = [&](size_t from, size_t to, bool keep_space, bool raw = false) {
    std::string_view run = std::string_view(text).substr(from, to - from);
    if (drop_newline && !run.empty() && run.front() == '\n') run.remove_prefix(1);
    drop_newline = false;
    if (template_depth == 0) shown.Text(run, keep_space, raw);
  };
  while (i < text.size()) {
    const size_t open = text.find('<', i);
    const size_t stop = open == std::string::npos ? text.size() : open;
    if (stop > i) text_run(i, stop, preformatted > 0);
    if (open == std::string::npos) break;
    i = open;
    const std::string_view rest = std::string_view(text).substr(i);
    if (rest.substr(0, 4) == "<!--") {
      const size_t end = text.find("-->", i + 4);
      i = end == std::string::npos ? text.size() : end + 3;
      continue;
    }
    if (rest.size() >= 2 && (rest[1] == '!' || rest[1] == '?')) {
      i = SkipTagRest(text, i + 2);
      continue;
    }
    drop_newline = false;
    const bool closing = rest.size() >= 2 && rest[1] == '/';
    const size_t name_start = i + (closing ? 2 : 1);
    if (name_start >= text.size() || !IsAsciiAlpha(text[name_start])) {
      if (closing) {
        // "</>" is dropped, "</ x>" is a comment: neither is text.
        i = SkipTagRest(text, name_start);
        continue;
      }
      // A "<" that starts no tag is text.
      text_run(i, i + 1, preformatted > 0);
      ++i;
      continue;
    }
    size_t name_end = name_start;
    while (name_end < text.size() && !IsHtmlSpace(text[name_end]) && text[name_end] != '/' &&
           text[name_end] != '>') {
      ++name_end;
    }
    const std::string name =
        LowerAscii(std::string_view(text).substr(name_start, name_end - name_start));
    const size_t tag_end = SkipTagRest(text, name_end);
    // A tag the document ends inside is no tag.
    if (tag_end == text.size() && text.back() != '>') break;
    i = tag_end;
    if (closing) {
      if (name == "template") {
        if (template_depth > 0) --template_depth;
      } else if (template_depth > 0) {
        // Nothing inside a template is shown.
      } else if (name == "p") {
        shown.Break(2);
      } else if (name == "br") {
        shown.LineBreak();  // "</br>" is read as "<br>"
      } else if (IsBlock(name)) {
        if (IsPreformatted(name) && preformatted > 0) --preformatted;
        shown.Break(1);
      }
      continue;
    }
    if (IsHiddenRawText(name)) {
      const size_t end = FindRawTextEnd(text, i, name);
      i = end == text.size() ? end : SkipTagRest(text, end + 2);
      continue;
    }
    if (name == "template") {
      ++template_depth;
      continue;
    }
    if (name == "plaintext") {
      // Everything after it is its text, shown as it is.
      if (template_depth == 0) shown.Break(1);
      text_run(i, text.size(), true, true);
      break;
    }
    if (name == "xmp") {
      // Raw text, shown as it is: a "<" inside starts no element.
      const size_t end = FindRawTextEnd(text, i, name);
      if (template_depth == 0) shown.Break(1);
      drop_newline = true;
      text_run(i, end, true, true);
      if (template_depth == 0) shown.Break(1);
      i = end == text.size() ? end : SkipTagRest(text, end + 2);
      continue;
    }
    if (template_depth > 0) continue;
    if (name == "br") {
      shown.LineBreak();
    } else if (name == "p") {
      shown.Break(2);
    } else if (name == "td" || name == "th") {
      shown.CellSeparator();
    } else if (IsBlock(name)) {
      shown.Break(1);
      if (IsPreformatted(name)) {
        ++preformatted;
        drop_newline = true;
      }
    }
  }
  return shown.Take();
}

std::string VersionPageText(std::string_view bytes, std::string_view content_type,
                            std::string_view name) {
  const PageKind kind = KindOfPage(content_type, name, bytes);
  Charset charset = Charset::kGbk;
  const std::string named = ParameterValue(content_type, "charset");
  if (!named.empty()) {
    charset = CharsetNamed(named);
  } else if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    charset = Charset::kUtf8;
  } else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    charset = Charset::kUtf16;
  } else if (kind == PageKind::kXml) {
    charset = CharsetNamed(DeclaredXmlEncoding(bytes));
  } else if (kind == PageKind::kHtml) {
    charset = CharsetNamed(DeclaredHtmlCharset(bytes));
  }
  if (charset == Charset::kUtf16) return std::string();
  if (charset == Charset::kUtf8 && bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    bytes.remove_prefix(kUtf8Bom.size());
  }
  switch (kind) {
    case PageKind::kXml: {
      std::string xml = charset == Charset::kUtf8 ? Utf8ToGbk(bytes) : std::string(bytes);
      // The reader wants the declaration first; a page served as XML without one is XML still.
      if (!StartsWithNoCase(TrimHtmlSpace(std::string_view(xml).substr(0, 1024)), "<?xml")) {
        xml = "<?xml version=\"1.0\"?>\r\n" + xml;
      }
      return xml;
    }
    case PageKind::kHtml:
      return Utf8ToGbk(
          HtmlShownText(charset == Charset::kUtf8 ? std::string(bytes) : GbkToUtf8(bytes)));
    case PageKind::kPlainText:
      break;
  }
  return charset == Charset::kUtf8 ? Utf8ToGbk(bytes) : std::string(bytes);
}

}  // namespace tomeva
