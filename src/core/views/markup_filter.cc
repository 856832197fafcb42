#include "core/views/markup_filter.h"

#include <cctype>
#include <set>
#include <utility>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/path_guard.h"

namespace tomeva {
namespace {

using Names = std::set<std::string, std::less<>>;

// What a record page is made of: the tags the library's records, the result-page frame and the
// program's own record table use.
const Names& KeptTags() {
  static const Names tags = {
      "a",       "abbr",   "address", "b",      "big", "blockquote", "br",    "button",
      "caption", "center", "cite",    "code",   "col", "colgroup",   "dd",    "del",
      "dfn",     "div",    "dl",      "dt",     "em",  "font",       "h1",    "h2",
      "h3",      "h4",     "h5",      "h6",     "hr",  "i",          "image", "img",
      "input",   "ins",    "kbd",     "label",  "li",  "nobr",       "ol",    "p",
      "pre",     "q",      "rb",      "rp",     "rt",  "ruby",       "s",     "samp",
      "small",   "span",   "strike",  "strong", "sub", "sup",        "table", "tbody",
      "td",      "tfoot",  "th",      "thead",  "tr",  "tt",         "u",     "ul",
      "var",     "wbr",    "weird",
  };
  return tags;
}

// Elements whose content is code, a document of its own or a control: dropped whole.
const Names& DroppedWithContent() {
  // (embed and frame have no content: like every tag off the list, they are simply left out.)
  static const Names tags = {"script", "style",    "iframe",   "frameset", "object",   "applet",
                             "svg",    "math",     "template", "noscript", "noembed",  "noframes",
                             "xmp",    "textarea", "title",    "select",   "plaintext"};
  return tags;
}

// Of those, the ones the web view reads as raw text up to their end tag (no nesting).
const Names& RawText() {
  static const Names tags = {"script",   "style", "iframe",   "noscript", "noembed",
                             "noframes", "xmp",   "textarea", "title"};
  return tags;
}

const Names& KeptAttributes() {
  static const Names names = {
      "align",
      "alt",
      "background",
      "bgcolor",
      "border",
      "bordercolor",
      "bordercolordark",
      "bordercolorlight",
      "cellpadding",
      "cellspacing",
      "class",
      "clear",
      "color",
      "cols",
      "colspan",
      "dir",
      "face",
      "frame",
      "headers",
      "height",
      "href",
      "hspace",
      "id",
      "lang",
      "name",
      "noshade",
      "nowrap",
      "rows",
      "rowspan",
      "rules",
      "scope",
      "size",
      "span",
      "src",
      "start",
      "style",
      "summary",
      "target",
      "title",
      "type",
      "valign",
      "value",
      "vspace",
      "width",
  };
  return names;
}

bool IsAddressAttribute(std::string_view name) {
  return name == "href" || name == "src" || name == "background";
}

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }
bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
int HexValue(char c) {
  return IsAsciiDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : c - 'A' + 10;
}

struct Attribute {
  std::string name;
  std::string value;
  char quote = 0;  // '"', '\'' or 0 (unquoted or no value)
  bool has_value = false;
};

struct Tag {
  std::string name;  // as written
  std::vector<Attribute> attributes;
  bool self_closing = false;
  size_t end = 0;  // just after its ">"
};

// Reads the tag whose name starts at `pos` (just after "<" or "</") as the web view's tokenizer
// does. False when the text ends inside the tag: the view drops such a tag, and so does the
// filter, with the rest of the text.
bool ReadTag(std::string_view text, size_t pos, Tag* tag) {
  const size_t n = text.size();
  size_t p = pos;
  while (p < n && !IsHtmlSpace(text[p]) && text[p] != '/' && text[p] != '>') ++p;
  tag->name.assign(text.substr(pos, p - pos));
  while (true) {
    while (p < n && IsHtmlSpace(text[p])) ++p;
    if (p >= n) return false;
    if (text[p] == '>') {
      tag->end = p + 1;
      return true;
    }
    if (text[p] == '/') {
      if (p + 1 < n && text[p + 1] == '>') {
        tag->self_closing = true;
        tag->end = p + 2;
        return true;
      }
      ++p;
      continue;
    }
    Attribute attribute;
    const size_t name_start = p++;  // a first "=" is part of the name
    while (p < n && !IsHtmlSpace(text[p]) && text[p] != '/' && text[p] != '>' && text[p] != '=')
      ++p;
    attribute.name.assign(text.substr(name_start, p - name_start));
    size_t q = p;
    while (q < n && IsHtmlSpace(text[q])) ++q;
    if (q < n && text[q] == '=') {
      p = q + 1;
      while (p < n && IsHtmlSpace(text[p])) ++p;
      if (p >= n) return false;
      attribute.has_value = true;
      if (text[p] == '"' || text[p] == '\'') {
        const char quote = text[p];
        const size_t close = text.find(quote, p + 1);
        if (close == std::string_view::npos) return false;
        attribute.quote = quote;
        attribute.value.assign(text.substr(p + 1, close - p - 1));
        p = close + 1;
      } else {
        const size_t start = p;
        while (p < n && !IsHtmlSpace(text[p]) && text[p] != '>') ++p;
        attribute.value.assign(text.substr(start, p - start));
      }
    }
    tag->attributes.push_back(std::move(attribute));
  }
}

// The character references a page address or style may hold, by name.
const char* NamedReference(std::string_view name) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"amp", "&"},    {"AMP", "&"},      {"lt", "<"},     {"LT", "<"},     {"gt", ">"},
      {"GT", ">"},     {"quot", "\""},    {"QUOT", "\""},  {"apos", "'"},   {"colon", ":"},
      {"Tab", "\t"},   {"NewLine", "\n"}, {"sol", "/"},    {"bsol", "\\"},  {"period", "."},
      {"lpar", "("},   {"rpar", ")"},     {"num", "#"},    {"percnt", "%"}, {"quest", "?"},
      {"equals", "="}, {"plus", "+"},     {"comma", ","},  {"lowbar", "_"}, {"excl", "!"},
      {"dollar", "$"}, {"semi", ";"},     {"commat", "@"}, {"ast", "*"},
  };
  for (const auto& [entity, value] : kNames) {
    if (name == entity) return value;
  }
  return nullptr;
}

// `value` with its character references decoded as the web view decodes them in an attribute.
// False when it holds one that the filter does not decode to the same thing for certain (an
// unknown name, a character beyond ASCII, a control character): the attribute is then dropped
// rather than judged on a text the view would read otherwise.
bool DecodeReferences(std::string_view value, std::string* out) {
  out->clear();
  const size_t n = value.size();
  for (size_t i = 0; i < n;) {
    const size_t len = GbkCharLen(value, i);
    if (value[i] != '&' || i + 1 >= n) {
      out->append(value.substr(i, len));
      i += len;
      continue;
    }
    if (value[i + 1] == '#') {
      size_t j = i + 2;
      const bool hex = j < n && (value[j] == 'x' || value[j] == 'X');
      if (hex) ++j;
      const size_t digits = j;
      long code = 0;
      while (j < n && (hex ? IsHexDigit(value[j]) : IsAsciiDigit(value[j]))) {
        if (code < 0x110000) code = code * (hex ? 16 : 10) + HexValue(value[j]);
        ++j;
      }
      if (j == digits) {  // "&#" without digits is text
        out->push_back('&');
        ++i;
        continue;
      }
      if (j < n && value[j] == ';') ++j;
      const bool text_control = code == '\t' || code == '\n' || code == '\r';
      if (code >= 0x7F || (code < 0x20 && !text_control)) return false;
      out->push_back(static_cast<char>(code));
      i = j;
      continue;
    }
    if (!IsAsciiAlpha(value[i + 1])) {
      out->push_back('&');
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < n && IsAsciiAlnum(value[j])) ++j;
    if (j < n && value[j] == ';') {
      const char* decoded = NamedReference(value.substr(i + 1, j - i - 1));
      if (decoded == nullptr) return false;
      out->append(decoded);
      i = j + 1;
      continue;
    }
    // Without ";" and followed by "=" a name is never a reference in an attribute (a query
    // string's "&name=value"); otherwise the view may read an old reference without ";".
    if (j < n && value[j] == '=') {
      out->append(value.substr(i, j - i));
      i = j;
      continue;
    }
    return false;
  }
  return true;
}

// "%XX" decoded as the view decodes a path: false for a control byte.
bool PercentDecode(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
      c = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    }
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
    out->push_back(c);
  }
  return true;
}

bool IsAllowedStyle(std::string_view style) {
  const std::string lower = ToLowerAscii(style);
  // Anything that loads, runs or hides a word from this check (escapes, comments) goes.
  for (const char* bad : {"url", "expression", "import", "script", "behavior", "binding", "image",
                          "@", "\\", "/*", "&", "<", "element"}) {
    if (lower.find(bad) != std::string::npos) return false;
  }
  return true;
}

bool IsSafeUnquoted(std::string_view value) {
  if (value.empty()) return false;
  for (char c : value) {
    if (!IsAsciiAlnum(c) && std::string_view("#%._:/+,-").find(c) == std::string_view::npos)
      return false;
  }
  return true;
}

// One kept attribute as the page gets it. `decoded`: the value is the decoded form, whose "&" must
// be written as a reference again.
void AppendAttribute(const Attribute& attribute, std::string_view value, bool decoded,
                     std::string* out) {
  *out += ' ';
  *out += attribute.name;
  if (!attribute.has_value) return;
  *out += '=';
  char quote = attribute.quote;
  if (quote == 0) {
    if (!decoded && IsSafeUnquoted(value)) {
      out->append(value);
      return;
    }
    if (decoded && IsSafeUnquoted(value) && value.find('&') == std::string_view::npos) {
      out->append(value);
      return;
    }
    quote = '"';
  }
  *out += quote;
  for (size_t i = 0; i < value.size();) {
    const size_t len = GbkCharLen(value, i);
    const char c = value[i];
    if (len == 1 && c == quote) {
      *out += quote == '"' ? "&quot;" : "&#39;";
    } else if (len == 1 && c == '&' && decoded) {
      *out += "&amp;";
    } else {
      out->append(value.substr(i, len));
    }
    i += len;
  }
  *out += quote;
}

// Where the element `name` (lower case) that starts before `from` ends: just after its end tag,
// or the end of the text when it has none.
size_t EndOfDroppedElement(std::string_view text, const std::string& name, size_t from) {
  const size_t n = text.size();
  if (name == "plaintext") return n;
  const bool raw = RawText().count(name) != 0;
  int depth = 1;
  for (size_t p = text.find('<', from); p != std::string_view::npos; p = text.find('<', p + 1)) {
    const bool closing = p + 1 < n && text[p + 1] == '/';
    const size_t at = p + (closing ? 2 : 1);
    if (at + name.size() > n) break;
    if (!EqualsNoCase(text.substr(at, name.size()), name)) continue;
    const size_t after = at + name.size();
    if (after < n && !IsHtmlSpace(text[after]) && text[after] != '/' && text[after] != '>')
      continue;
    if (!closing) {
      if (!raw) ++depth;
      continue;
    }
    if (--depth > 0) continue;
    Tag end;
    return ReadTag(text, at, &end) ? end.end : n;
  }
  return n;
}

class Filter {
 public:
  Filter(std::string_view text, const std::vector<std::string>& roots)
      : text_(text), roots_(roots) {}

  std::string Run() {
    const size_t n = text_.size();
    size_t p = 0;
    while (p < n) {
      const char c = text_[p];
      if (c == '<') {
        p = Markup(p);
        continue;
      }
      if (c == '>') {
        out_ += "&gt;";
        ++p;
        continue;
      }
      if (c == '\0') {
        ++p;
        continue;
      }
      const size_t len = GbkCharLen(text_, p);
      out_.append(text_.substr(p, len));
      p += len;
    }
    return std::move(out_);
  }

 private:
  // Handles the "<" at `p`; returns where the text goes on.
  size_t Markup(size_t p) {
    const size_t n = text_.size();
    if (p + 1 >= n) {
      out_ += "&lt;";
      return p + 1;
    }
    const char next = text_[p + 1];
    if (next == '!' && text_.substr(p, 4) == "<!--") {
      const size_t end = text_.find("-->", p + 2);
      return end == std::string_view::npos ? n : end + 3;
    }
    if (next == '!' || next == '?') return SkipPast('>', p);
    if (next == '/') {
      if (p + 2 < n && IsAsciiAlpha(text_[p + 2])) return EndTag(p + 2);
      return SkipPast('>', p);  // "</>" or a bogus comment
    }
    if (!IsAsciiAlpha(next)) {
      out_ += "&lt;";
      return p + 1;
    }
    return StartTag(p + 1);
  }

  size_t SkipPast(char c, size_t p) const {
    const size_t end = text_.find(c, p);
    return end == std::string_view::npos ? text_.size() : end + 1;
  }

  size_t EndTag(size_t name_at) {
    Tag tag;
    if (!ReadTag(text_, name_at, &tag)) return text_.size();
    const std::string name = ToLowerAscii(tag.name);
    if (KeptTags().count(name) != 0) out_ += "</" + tag.name + ">";
    return tag.end;
  }

  size_t StartTag(size_t name_at) {
    Tag tag;
    if (!ReadTag(text_, name_at, &tag)) return text_.size();
    const std::string name = ToLowerAscii(tag.name);
    if (DroppedWithContent().count(name) != 0) return EndOfDroppedElement(text_, name, tag.end);
    if (KeptTags().count(name) == 0) return tag.end;
    std::string written = "<" + tag.name;
    Names seen;
    for (const Attribute& attribute : tag.attributes) {
      const std::string attr = ToLowerAscii(attribute.name);
      // The view keeps the first of two attributes of one name.
      if (!seen.insert(attr).second) continue;
      if (KeptAttributes().count(attr) == 0) continue;
      if (attr == "type" && (name == "input" || name == "button")) continue;  // written below
      if (IsAddressAttribute(attr) || attr == "style") {
        std::string decoded;
        if (!DecodeReferences(attribute.value, &decoded)) continue;
        // A link may lead to a web site (the browser window opens it); what the page loads
        // itself comes from the library only.
        if (attr == "style" ? !IsAllowedStyle(decoded)
                            : !IsAllowedPageAddress(decoded, roots_, attr == "href"))
          continue;
        AppendAttribute(attribute, decoded, true, &written);
        continue;
      }
      AppendAttribute(attribute, attribute.value, false, &written);
    }
    if (name == "input" || name == "button") {
      // Only a plain button (the paging buttons): no field, no submission, no picture.
      const Attribute* type = nullptr;
      for (const Attribute& attribute : tag.attributes) {
        if (EqualsNoCase(attribute.name, "type")) {
          type = &attribute;
          break;
        }
      }
      if (type == nullptr || !EqualsNoCase(Trim(type->value), "button")) return tag.end;
      const size_t name_end = 1 + tag.name.size();
      std::string with_type = written.substr(0, name_end);
      AppendAttribute(*type, type->value, false, &with_type);
      written = with_type + written.substr(name_end);
    }
    written += tag.self_closing ? "/>" : ">";
    out_ += written;
    return tag.end;
  }

  std::string_view text_;
  const std::vector<std::string>& roots_;
  std::string out_;
};

}  // namespace

bool IsAllowedPageAddress(std::string_view address, const std::vector<std::string>& local_roots,
                          bool web) {
  // The view drops tabs and line breaks anywhere in an address and spaces and controls around it.
  std::string cleaned;
  for (char c : address) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
    cleaned.push_back(c);
  }
  std::string a = NormalizeSeparators(Trim(cleaned));
  const size_t stop = a.find_first_of(":/?#");
  if (stop != std::string::npos && a[stop] == ':') {
    const std::string scheme = ToLowerAscii(a.substr(0, stop));
    if (scheme == "http" || scheme == "https") return web;
    if (scheme != "file") return false;
    std::string rest = a.substr(stop + 1);
    if (StartsWith(rest, "//")) {
      const size_t slash = rest.find('/', 2);
      const std::string host = rest.substr(2, slash == std::string::npos ? slash : slash - 2);
      if (!host.empty() && !EqualsNoCase(host, "localhost")) return false;
      rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    }
    std::string path;
    if (!PercentDecode(rest.substr(0, rest.find_first_of("?#")), &path)) return false;
    return IsInsideLibrary(local_roots, NormalizeSeparators(path));
  }
  const std::string reference = a.substr(0, a.find_first_of("?#"));
  if (reference.empty()) return true;             // "#part" or "?query" of the page itself
  if (StartsWith(reference, "//")) return false;  // another host
  std::string path;
  if (!PercentDecode(reference, &path)) return false;
  path = NormalizeSeparators(path);
  if (path[0] == '/') return IsInsideLibrary(local_roots, path);
  // Relative to whichever page of the library is shown: it may go down, never up.
  for (const std::string& step : Split(path, "/")) {
    if (step == "..") return false;
  }
  return true;
}

std::string FilterMarkup(std::string_view markup, const std::vector<std::string>& local_roots) {
  // The text is walked a character at a time: a lone lead byte would take the "<" or the quote
  // after it into its character, where the web view keeps that byte as itself. Texts from outside
  // are repaired where they are read; this is the last line, and costs no copy for valid text.
  if (IsValidGbk(markup)) return Filter(markup, local_roots).Run();
  const std::string valid = ValidGbk(markup);
  return Filter(valid, local_roots).Run();
}

}  // namespace tomeva
