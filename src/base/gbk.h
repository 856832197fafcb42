// The one GBK (code page 936) codec of the system. Every text inside core is a GBK byte string;
// conversion to and from UTF-8 happens only at the borders (the GUI, the engine, the tools).
#ifndef TOMEVA_BASE_GBK_H_
#define TOMEVA_BASE_GBK_H_

#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

// Converts GBK bytes to UTF-8. Bytes that are not valid GBK become U+FFFD each; a NUL byte is kept.
// Never fails and never throws. Thread-safe.
std::string GbkToUtf8(std::string_view gbk);

// Converts UTF-8 to GBK. A character that GBK cannot hold, or a byte that is not valid UTF-8,
// becomes "?". Never fails and never throws. Thread-safe.
std::string Utf8ToGbk(std::string_view utf8);

// True when `utf8` is well-formed UTF-8.
bool IsValidUtf8(std::string_view utf8);

// The validation of GBK text from outside. A GBK text is single bytes 0x00..0x80 and pairs of a
// lead byte 0x81..0xFE and a trail byte 0x40..0x7E or 0x80..0xFE. (0x80 alone is the euro sign
// of code page 936: the codec writes it for U+20AC and the web view's decoder reads it as one
// character, as every parser here does.) Every other byte (a lead byte followed by anything else
// or by nothing, a lone 0xFF) is invalid: the web view's decoder would turn it into a
// replacement character and keep the byte after it, so a "<" or a quote behind a lone lead byte
// would end the character for the browser but not for our parsers.
//
// The byte put in place of each invalid byte: an ASCII character that mark-up gives no meaning,
// that every decoder reads alike, and that cannot join the byte after it into a character.
// (Names and paths with an invalid byte are refused rather than repaired: "?" means something in
// an address.)
inline constexpr char kGbkStandIn = '?';

// The offset of the first invalid byte of `text`, or npos when the whole text is valid GBK.
size_t FindInvalidGbk(std::string_view text);
inline bool IsValidGbk(std::string_view text) {
  return FindInvalidGbk(text) == std::string_view::npos;
}

// Replaces every invalid byte of `text` with kGbkStandIn, in place; a valid pair is never split
// and the byte after an invalid lead byte is judged afresh (so "\x81<" becomes "?<", whose "<"
// the mark-up filter then sees). Returns the number of bytes replaced. Runs in one pass, without
// allocating when nothing is invalid. Every text that comes from outside (record files,
// catalogue fragments, chapter.xml, settings files, text copies, remote records) passes here
// before any parser sees it.
size_t RepairGbk(std::string* text);
// As above; `positions` (not null) gets the offset of each byte replaced, ascending, appended to
// what it holds. A reader that must refuse a name holding a replaced byte, rather than use it as
// repaired, keeps them.
size_t RepairGbk(std::string* text, std::vector<size_t>* positions);

// As RepairGbk, on a copy.
std::string ValidGbk(std::string_view text);

}  // namespace tomeva

#endif  // TOMEVA_BASE_GBK_H_
