#include "base/mbstring.h"

#include <cstring>

namespace tomeva {
namespace {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Compares `needle` against `text` at `pos`, folding ASCII case only for bytes that are
// single-byte characters of the needle (a double-byte character's trail byte compares exactly).
bool MatchNoCaseAt(std::string_view text, size_t pos, std::string_view needle) {
  size_t i = 0;
  while (i < needle.size()) {
    if (IsGbkLead(static_cast<unsigned char>(needle[i])) && i + 1 < needle.size()) {
      if (text[pos + i] != needle[i] || text[pos + i + 1] != needle[i + 1]) return false;
      i += 2;
    } else {
      if (LowerAscii(text[pos + i]) != LowerAscii(needle[i])) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace

size_t GbkBoundaryAtOrBefore(std::string_view text, size_t limit) {
  if (limit >= text.size()) return text.size();
  size_t pos = 0;
  while (pos < limit) {
    size_t len = GbkCharLen(text, pos);
    if (pos + len > limit) break;
    pos += len;
  }
  return pos;
}

size_t MbFind(std::string_view text, std::string_view needle, size_t from) {
  if (from > text.size()) return kNpos;
  if (needle.empty()) return from;
  const size_t n = needle.size();
  const char first = needle[0];
  size_t pos = from;
  while (pos + n <= text.size()) {
    // Jump with memchr to the next candidate byte, then walk character boundaries up to it.
    const void* hit = std::memchr(text.data() + pos, first, text.size() - n + 1 - pos);
    if (hit == nullptr) return kNpos;
    size_t cand = static_cast<const char*>(hit) - text.data();
    while (pos < cand) pos += GbkCharLen(text, pos);
    if (pos == cand) {
      if (std::memcmp(text.data() + pos, needle.data(), n) == 0) return pos;
      pos += GbkCharLen(text, pos);
    }
    // pos > cand: the candidate byte was the trail byte of a double-byte character; go on.
  }
  return kNpos;
}

size_t MbFindNoCase(std::string_view text, std::string_view needle, size_t from) {
  if (from > text.size()) return kNpos;
  if (needle.empty()) return from;
  const size_t n = needle.size();
  for (size_t pos = from; pos + n <= text.size(); pos += GbkCharLen(text, pos)) {
    if (MatchNoCaseAt(text, pos, needle)) return pos;
  }
  return kNpos;
}

size_t MbFindChar(std::string_view text, char c, size_t from) {
  return MbFind(text, std::string_view(&c, 1), from);
}

size_t MbFindLastChar(std::string_view text, char c) {
  size_t last = kNpos;
  for (size_t pos = 0; pos < text.size(); pos += GbkCharLen(text, pos)) {
    if (text[pos] == c) last = pos;
  }
  return last;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && MatchNoCaseAt(a, 0, b);
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (size_t pos = 0; pos < out.size(); pos += GbkCharLen(out, pos)) {
    out[pos] = LowerAscii(out[pos]);
  }
  return out;
}

std::string_view TrimView(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsSpaceByte(text[b])) ++b;
  while (e > b && IsSpaceByte(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

std::string TrimLeft(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && IsSpaceByte(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  size_t e = text.size();
  while (e > 0 && IsSpaceByte(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = MbFind(text, from, pos);
    if (hit == kNpos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::vector<std::string> Split(std::string_view text, std::string_view sep) {
  std::vector<std::string> parts;
  if (sep.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  size_t pos = 0;
  for (;;) {
    size_t hit = MbFind(text, sep, pos);
    if (hit == kNpos) break;
    parts.emplace_back(text.substr(pos, hit - pos));
    pos = hit + sep.size();
  }
  parts.emplace_back(text.substr(pos));
  return parts;
}

}  // namespace tomeva
