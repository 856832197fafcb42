// Keyword location and marking. `getKeywords` splits the engine's keyword string into the fixed
// keyword table that result sets keep; `HighLightKeyWords` finds every occurrence of any keyword in
// a GBK text and either marks them all (positions mode, which drives the PDF highlighter) or builds
// a snippet of at most three marked passages with context (snippet mode, used on record pages).
//
// Matching works on whole characters: a byte of 0x80 or above starts a double-byte character that
// takes the next byte with it, so a keyword never matches from the middle of a character. ASCII
// letters compare without regard to case; the bytes of double-byte characters compare exactly.
// When several keywords start at the same character the one listed first wins, the search resumes
// one character after each match start (so matches may overlap), and matches that overlap or touch
// are merged into one.
//
// All functions are thread-safe (no shared state) and accept any bytes: texts of any size, keywords
// with stray lead bytes or bytes that are not GBK. None of them throws.
#ifndef TOMEVA_CORE_ENGINE_HIGHLIGHT_H_
#define TOMEVA_CORE_ENGINE_HIGHLIGHT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tomeva {

// Sizes of the keyword table shared by result sets and the PDF highlighter.
inline constexpr int kMaxKeywords = 100;
inline constexpr int kKeywordEntrySize = 101;  // at most 100 bytes plus the terminator
// Room the callers of HighLightKeyWords give for reported matches.
inline constexpr int kMaxReportedMatches = 500;

// Splits the NUL-terminated `text` at every space, "&" and "|" into consecutive entries of
// `entries` and returns how many were written; 0 for a null or empty text. Two delimiters in a row
// give an empty keyword; a delimiter at the very end gives none after it (and is overwritten with a
// NUL). A double-byte character is kept whole even when its second byte equals "|". The caller
// provides kMaxKeywords entries: keywords beyond that are dropped, and a keyword longer than 100
// bytes is cut to at most 100 bytes on a character boundary. Every written entry is NUL-terminated.
int getKeywords(char* text, char (*entries)[kKeywordEntrySize]);

// Finds the first `count` keywords of `keywords` (clamped to 0..kMaxKeywords, each read up to its
// NUL or 100 bytes and lower-cased in place) in the NUL-terminated `text` and stores in `*result` a
// new NUL-terminated text allocated with malloc, which the caller releases with free (null when
// the allocation fails; nothing is stored when `result` is null).
//   positions_mode != 0: the result is the whole text with every occurrence marked as
//     "<font color=red><b>" ... "</b></font>"; the first kMaxReportedMatches merged matches are
//     reported.
//   positions_mode == 0: the result is a snippet of the (at most three) longest matches in text
//     order with up to 50 bytes of context each, "......" where text is left out; without a match
//     it is the text itself, or its first 100 bytes and "......" when longer.
// skip_tags != 0 ignores matches that lie inside an HTML tag. When `starts`, `lengths` and
// `match_count` are all non-null they receive the reported matches (byte offset and byte length, in
// text order) and their number; the arrays must have room for kMaxReportedMatches entries. A null
// `text` is taken as empty.
void HighLightKeyWords(char* text, char (*keywords)[kKeywordEntrySize], int count,
                       int positions_mode, char** result, int skip_tags, int* starts, int* lengths,
                       int* match_count);

// Splits an engine keyword string like getKeywords (bytes up to the first NUL): at most
// kMaxKeywords keywords of at most 100 bytes each, empty keywords included.
std::vector<std::string> SplitKeywords(std::string_view engine_keywords);

struct HighlightResult {
  std::string text;                          // marked text or snippet
  std::vector<std::pair<int, int>> matches;  // reported matches: byte start, byte length
};

// No limit on the number of matches.
inline constexpr size_t kAllMatches = static_cast<size_t>(-1);

// The C++ form of HighLightKeyWords over the bytes of `text` up to its first NUL. Keywords are
// taken up to their first NUL, cut to 100 characters, and only the first kMaxKeywords are used.
// In positions mode every occurrence is marked and reported unless `match_limit` is given, which
// caps the number of occurrences accepted (before merging). Snippet mode chooses among the first
// kMaxReportedMatches occurrences, as the C function does. Matches that end beyond INT_MAX bytes
// are not reported.
HighlightResult MarkKeywords(std::string_view text, const std::vector<std::string>& keywords,
                                  bool positions_mode, bool skip_tags,
                                  size_t match_limit = kAllMatches);

// How occurrences are searched. Both give the same matches; kCharTable converts the text into one
// code per character and runs Boyer–Moore with a bad-character table classed by first byte and a
// strong good-suffix table, kByteScan scans the bytes directly with a two-byte filter and checks
// character boundaries, which avoids the per-character arrays on large texts. kAuto picks
// kCharTable for texts below kByteScanThreshold bytes.
enum class MatchEngine { kAuto, kCharTable, kByteScan };
inline constexpr size_t kByteScanThreshold = 64 * 1024;

// A located match, byte offsets in the text: [start, end).
struct KeywordMatch {
  size_t start;
  size_t end;
  bool operator==(const KeywordMatch&) const = default;
};

// The locating step alone: every accepted occurrence (at most `accept_limit`), overlaps merged, in
// text order. Keywords are prepared as in MarkKeywords.
std::vector<KeywordMatch> FindKeywordMatches(std::string_view text,
                                             const std::vector<std::string>& keywords,
                                             bool skip_tags, size_t accept_limit = kAllMatches,
                                             MatchEngine engine = MatchEngine::kAuto);

}  // namespace tomeva

#endif  // TOMEVA_CORE_ENGINE_HIGHLIGHT_H_
