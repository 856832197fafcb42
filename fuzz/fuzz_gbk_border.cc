// The border where text from outside becomes GBK that core may parse: arbitrary bytes are
// repaired (base/gbk.h) and the repair's promises are checked against a walk of its own; the
// repaired text then goes through the record filter and the escaper, whose outputs must be valid
// GBK too, and the filter's output is read as the web view's tokenizer reads it: no tag may carry
// an event attribute ("on..."). Any broken promise aborts, so the fuzzer reports it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/gbk.h"
#include "core/views/markup_filter.h"
#include "core/views/page_render.h"
#include "core/xml/xml_document.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

// Whether each byte of `in` is invalid, by a walk written apart from the one in base/gbk.cc: a
// byte up to 0x80 stands alone, 0xFF never stands, a lead byte 0x81..0xFE stands with a trail
// byte after it and is invalid without one (the byte after it is then judged afresh).
std::vector<bool> InvalidBytes(std::string_view in) {
  std::vector<bool> bad(in.size(), false);
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c <= 0x80) {
      ++i;
    } else if (c != 0xFF && i + 1 < in.size() && IsTrail(static_cast<unsigned char>(in[i + 1]))) {
      i += 2;
    } else {
      bad[i++] = true;
    }
  }
  return bad;
}

// Length of the character at `i` of valid GBK, as the web view's decoder reads it.
size_t CharLen(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  return c >= 0x81 && c <= 0xFE && i + 1 < s.size() ? 2 : 1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool StartsWithOn(std::string_view name) {
  return name.size() >= 2 && (name[0] == 'o' || name[0] == 'O') &&
         (name[1] == 'n' || name[1] == 'N');
}

// Reads `html` as the tokenizer of the HTML standard reads a page's body (data, tag, attribute
// and comment states; no element of the filter's output switches to raw text), one decoded
// character at a time. True when no start tag has an attribute whose name starts with "on".
bool NoEventAttribute(std::string_view html) {
  const size_t n = html.size();
  size_t p = 0;
  auto skip_to = [&](char c) {
    while (p < n && html[p] != c) p += CharLen(html, p);
    if (p < n) ++p;
  };
  while (p < n) {
    if (html[p] != '<') {
      p += CharLen(html, p);
      continue;
    }
    ++p;
    if (p >= n) break;
    if (html.substr(p, 3) == "!--") {
      // A comment ends at the first "-->" (or "--!>"); the filter never writes one.
      const size_t end = html.find("--", p + 3);
      p = end == std::string_view::npos ? n : end;
      skip_to('>');
      continue;
    }
    if (html[p] == '!' || html[p] == '?') {
      skip_to('>');
      continue;
    }
    const bool end_tag = html[p] == '/';
    if (end_tag) ++p;
    if (p >= n || !IsAlpha(html[p])) {
      if (end_tag && p < n && html[p] != '>') skip_to('>');
      continue;
    }
    while (p < n && !IsSpace(html[p]) && html[p] != '/' && html[p] != '>') p += CharLen(html, p);
    // Attributes, until the tag's ">".
    while (p < n && html[p] != '>') {
      if (IsSpace(html[p]) || html[p] == '/') {
        ++p;
        continue;
      }
      const size_t name_start = p;
      p += CharLen(html, p);  // a first "=" belongs to the name
      while (p < n && !IsSpace(html[p]) && html[p] != '/' && html[p] != '>' && html[p] != '=') {
        p += CharLen(html, p);
      }
      if (!end_tag && StartsWithOn(html.substr(name_start, p - name_start))) return false;
      while (p < n && IsSpace(html[p])) ++p;
      if (p >= n || html[p] != '=') continue;
      ++p;
      while (p < n && IsSpace(html[p])) ++p;
      if (p < n && (html[p] == '"' || html[p] == '\'')) {
        const char quote = html[p++];
        skip_to(quote);
      } else {
        while (p < n && !IsSpace(html[p]) && html[p] != '>') p += CharLen(html, p);
      }
    }
    if (p < n) ++p;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);

  // The repair: same length, valid, only the invalid bytes changed (each to the stand-in, at the
  // offsets it reports), idempotent, and the copy and in-place forms agree.
  std::string repaired(in);
  std::vector<size_t> positions;
  const size_t count = tomeva::RepairGbk(&repaired, &positions);
  Check(repaired.size() == in.size(), "repair keeps the length");
  Check(tomeva::IsValidGbk(repaired), "repaired text is valid");
  Check(tomeva::FindInvalidGbk(in) == (positions.empty() ? std::string_view::npos : positions[0]),
        "first invalid byte is the first one repaired");
  const std::vector<bool> bad = InvalidBytes(in);
  size_t changed = 0;
  size_t next_position = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    if (bad[i]) {
      Check(repaired[i] == tomeva::kGbkStandIn, "an invalid byte becomes the stand-in");
      Check(next_position < positions.size() && positions[next_position++] == i,
            "the offsets name the replaced bytes");
    } else {
      Check(repaired[i] == in[i], "valid characters are kept");
    }
    changed += repaired[i] != in[i];
  }
  Check(next_position == positions.size(), "no offset beyond the replaced bytes");
  Check(count == positions.size() && count == changed, "count equals the bytes changed");
  Check(tomeva::IsValidGbk(in) == (count == 0), "valid text is never changed");
  std::string again = repaired;
  Check(tomeva::RepairGbk(&again) == 0 && again == repaired, "repair is idempotent");
  Check(tomeva::ValidGbk(in) == repaired, "copy and in-place repair agree");

  // The filter and the escaper give valid GBK, and the same for the text as for its repair.
  const std::vector<std::string> roots = {"/library", "/app"};
  const std::string filtered = tomeva::FilterMarkup(repaired, roots);
  Check(tomeva::IsValidGbk(filtered), "filter output is valid");
  Check(tomeva::FilterMarkup(in, roots) == filtered, "filter repairs its input first");
  Check(NoEventAttribute(filtered), "no event attribute in the filter's output");
  const std::string escaped = tomeva::EscapeHtml(in);
  Check(tomeva::IsValidGbk(escaped), "escaper output is valid");
  Check(escaped.find_first_of("<>\"'") == std::string::npos, "escaper leaves no mark-up byte");

  // The XML reader sees the repaired text only: every string it hands out is valid.
  tomeva::CXmlDocument doc;
  doc.ParseText(in);
  std::vector<tomeva::CXmlNode*> stack = {&doc.root()};
  size_t visited = 0;
  while (!stack.empty() && visited < 10000) {
    tomeva::CXmlNode* node = stack.back();
    stack.pop_back();
    ++visited;
    Check(tomeva::IsValidGbk(node->tag()) && tomeva::IsValidGbk(node->text()) &&
              tomeva::IsValidGbk(node->attribute_text()),
          "the reader hands out valid GBK");
    for (tomeva::CXmlNode* c = node->first_child(); c != nullptr; c = c->next_sibling()) {
      stack.push_back(c);
    }
  }
  return 0;
}
