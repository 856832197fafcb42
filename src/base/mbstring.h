// Multibyte-aware string helpers for GBK byte strings. A GBK double-byte character is a lead
// byte 0x81..0xFE followed by a trail byte; its trail byte may equal an ASCII letter or "\", so
// every search here steps over whole characters and never matches inside one. Every parser of
// the system uses these instead of raw std::string searches.
#ifndef TOMEVA_BASE_MBSTRING_H_
#define TOMEVA_BASE_MBSTRING_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

inline constexpr size_t kNpos = std::string_view::npos;

// True for a GBK lead byte (0x81..0xFE).
inline bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Length in bytes of the character starting at `pos`: 2 for a lead byte followed by a byte,
// otherwise 1 (a lead byte at the very end counts as one byte). It expects valid GBK (gbk.h,
// RepairGbk): on a lone lead byte it takes the next byte, even a "<" or a quote, into the
// character, where the web view's decoder keeps that byte as itself. Text from outside is
// repaired where it enters, so no parser sees such a byte.
inline size_t GbkCharLen(std::string_view text, size_t pos) {
  return (IsGbkLead(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) ? 2 : 1;
}

// Largest character boundary that is <= `limit`, scanning from the start of `text`.
size_t GbkBoundaryAtOrBefore(std::string_view text, size_t limit);

// True for the white space the parsers trim: space, tab, CR, LF, vertical tab, form feed.
inline bool IsSpaceByte(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Finds `needle` in `text` at a character boundary at or after `from` (which must itself be a
// boundary). Returns kNpos when absent. An empty needle is found at `from` when from <= size.
size_t MbFind(std::string_view text, std::string_view needle, size_t from = 0);

// As MbFind, but ASCII letters compare without regard to case.
size_t MbFindNoCase(std::string_view text, std::string_view needle, size_t from = 0);

// Finds the single-byte character `c` (< 0x80) at a character boundary at or after `from`.
size_t MbFindChar(std::string_view text, char c, size_t from = 0);

// Last occurrence of `c` (< 0x80) at a character boundary, or kNpos.
size_t MbFindLastChar(std::string_view text, char c);

// Equality ignoring the case of ASCII letters (bytes of double-byte characters compare exactly).
bool EqualsNoCase(std::string_view a, std::string_view b);

// Lower-cases the ASCII letters of single-byte characters; double-byte characters are kept.
std::string ToLowerAscii(std::string_view text);

// Removes leading / trailing white space (IsSpaceByte).
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// Replaces every occurrence of `from` (found with MbFind, left to right, not overlapping) with
// `to`. An empty `from` leaves the text unchanged.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Splits at every occurrence of `sep` (MbFind); always returns at least one part.
std::vector<std::string> Split(std::string_view text, std::string_view sep);

// True when `text` ends / starts with `suffix` / `prefix` (bytes compared exactly).
inline bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}
inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace tomeva

#endif  // TOMEVA_BASE_MBSTRING_H_
