#include "core/engine/highlight.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/mbstring.h"

namespace tomeva {
namespace {

constexpr std::string_view kOpenMark = "<font color=red><b>";
constexpr std::string_view kCloseMark = "</b></font>";
constexpr std::string_view kEllipsis = "......";
constexpr size_t kContextBytes = 50;
constexpr size_t kExcerptBytes = 100;
constexpr size_t kMaxKeywordChars = 100;
constexpr size_t kMaxKeywordBytes = kKeywordEntrySize - 1;
constexpr size_t kNone = static_cast<size_t>(-1);
constexpr size_t kNotSearched = kNone - 1;

inline unsigned char ByteAt(std::string_view s, size_t i) {
  return static_cast<unsigned char>(s[i]);
}

// Width of the character starting at `pos`: a byte of 0x80 or above takes the next byte with it,
// except at the very end where it stands alone.
inline size_t CharWidth(std::string_view s, size_t pos) {
  return (ByteAt(s, pos) >= 0x80 && pos + 1 < s.size()) ? 2 : 1;
}

inline bool IsAsciiLetter(unsigned char c) {
  return c < 0x80 && (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

inline unsigned char LowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// A byte below 0x80 always ends a character (it is a character of its own or the second byte of
// one), so the position after it is a character boundary; from there on, bytes of 0x80 or above
// pair up. That lets a boundary be decided by looking back only to the last byte below 0x80.
bool IsBoundary(std::string_view s, size_t pos) {
  if (pos == 0 || pos >= s.size()) return true;
  size_t q = pos;
  while (q > 0 && ByteAt(s, q - 1) >= 0x80) --q;
  return (pos - q) % 2 == 0;
}

// IsBoundary for positions asked in nondecreasing order: remembers where the current run of bytes
// of 0x80 or above began, so text without any ASCII costs linear time instead of quadratic.
class BoundaryCursor {
 public:
  explicit BoundaryCursor(std::string_view s) : s_(s) {}

  bool IsAt(size_t pos) {
    if (pos >= s_.size()) return true;
    const bool forward = pos >= known_pos_;
    const size_t floor = forward ? known_pos_ : 0;
    size_t q = pos;
    while (q > floor && ByteAt(s_, q - 1) >= 0x80) --q;
    const size_t run_start = (forward && q == floor) ? known_run_start_ : q;
    known_pos_ = pos;
    known_run_start_ = run_start;
    return (pos - run_start) % 2 == 0;
  }

 private:
  std::string_view s_;
  size_t known_pos_ = 0;
  size_t known_run_start_ = 0;
};

size_t AlignForward(std::string_view s, size_t pos) { return IsBoundary(s, pos) ? pos : pos + 1; }
size_t AlignBackward(std::string_view s, size_t pos) { return IsBoundary(s, pos) ? pos : pos - 1; }

// A keyword ready for matching: lower-cased bytes, its characters as codes (single byte: the
// byte; double byte: first × 256 + second; a lone lead byte at the end: lead × 256), and for each
// byte whether it is a single-byte letter, which is where case is ignored.
struct PreparedKeyword {
  std::string lowered;
  std::vector<int> codes;
  std::vector<unsigned char> fold;
  bool ends_with_lone_lead = false;
};

PreparedKeyword PrepareKeyword(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  PreparedKeyword k;
  size_t p = 0;
  while (p < raw.size() && k.codes.size() < kMaxKeywordChars) {
    const unsigned char b = ByteAt(raw, p);
    if (b < 0x80) {
      k.lowered += static_cast<char>(LowerAscii(b));
      k.codes.push_back(LowerAscii(b));
      k.fold.push_back(IsAsciiLetter(b) ? 1 : 0);
      ++p;
    } else if (p + 1 < raw.size()) {
      k.lowered.append(raw.substr(p, 2));
      k.codes.push_back(b * 256 + ByteAt(raw, p + 1));
      k.fold.insert(k.fold.end(), {0, 0});
      p += 2;
    } else {
      // Cannot match inside a text, where the next byte would complete the character; only a text
      // ending in the same lone byte matches.
      k.lowered += static_cast<char>(b);
      k.codes.push_back(b * 256);
      k.fold.push_back(0);
      k.ends_with_lone_lead = true;
      ++p;
    }
  }
  return k;
}

std::vector<PreparedKeyword> PrepareKeywords(const std::vector<std::string>& keywords) {
  std::vector<PreparedKeyword> prepared;
  const size_t n = std::min(keywords.size(), static_cast<size_t>(kMaxKeywords));
  prepared.reserve(n);
  for (size_t i = 0; i < n; ++i) prepared.push_back(PrepareKeyword(keywords[i]));
  return prepared;
}

// ---- Engine 1: Boyer–Moore over character codes ----

// The text as character codes with each character's byte offset; offsets has one more entry, the
// text length, so a match's end offset is offsets[start + m].
struct CharArray {
  std::vector<int> codes;
  std::vector<size_t> offsets;
};

CharArray ToCharArray(std::string_view text) {
  CharArray a;
  a.codes.reserve(text.size());
  a.offsets.reserve(text.size() + 1);
  size_t p = 0;
  while (p < text.size()) {
    const unsigned char b = ByteAt(text, p);
    a.offsets.push_back(p);
    if (b < 0x80) {
      a.codes.push_back(LowerAscii(b));
      ++p;
    } else if (p + 1 < text.size()) {
      a.codes.push_back(b * 256 + ByteAt(text, p + 1));
      p += 2;
    } else {
      a.codes.push_back(b * 256);
      ++p;
    }
  }
  a.offsets.push_back(text.size());
  return a;
}

// Double-byte characters share the table entry of their first byte, so the table stays at 256
// entries; the shift it gives is never longer than the true one, only sometimes shorter.
inline int CharClass(int code) { return code < 256 ? code : code >> 8; }

class CharTableSearcher {
 public:
  CharTableSearcher(const CharArray& text, const PreparedKeyword& keyword)
      : text_(text), pattern_(keyword.codes) {
    const int m = static_cast<int>(pattern_.size());
    if (m == 0) return;
    std::fill(std::begin(bad_), std::end(bad_), m);
    for (int j = 0; j + 1 < m; ++j) bad_[CharClass(pattern_[j])] = m - 1 - j;

    // Strong good-suffix shifts from the border table: first the shifts where the suffix recurs
    // preceded by a different character, then the remaining entries from the widest border.
    good_.assign(m + 1, 0);
    std::vector<int> border(m + 1);
    int i = m;
    int j = m + 1;
    border[i] = j;
    while (i > 0) {
      while (j <= m && pattern_[i - 1] != pattern_[j - 1]) {
        if (good_[j] == 0) good_[j] = j - i;
        j = border[j];
      }
      --i;
      --j;
      border[i] = j;
    }
    j = border[0];
    for (i = 0; i <= m; ++i) {
      if (good_[i] == 0) good_[i] = j;
      if (i == j) j = border[j];
    }
  }

  // Leftmost occurrence starting at a character whose byte offset is at or after `from` (itself a
  // character boundary), as a byte offset; kNone when there is none.
  size_t Find(size_t from) const {
    const size_t m = pattern_.size();
    const size_t n = text_.codes.size();
    if (m == 0) return kNone;
    size_t i =
        std::lower_bound(text_.offsets.begin(), text_.offsets.end(), from) - text_.offsets.begin();
    while (i + m <= n) {
      int j = static_cast<int>(m) - 1;
      while (j >= 0 && pattern_[j] == text_.codes[i + j]) --j;
      if (j < 0) return text_.offsets[i];
      const int bad_shift = bad_[CharClass(text_.codes[i + j])] - static_cast<int>(m) + 1 + j;
      i += static_cast<size_t>(std::max(good_[j + 1], bad_shift));
    }
    return kNone;
  }

 private:
  const CharArray& text_;
  const std::vector<int>& pattern_;
  int bad_[256];
  std::vector<int> good_;
};

// ---- Engine 2: byte scan with a two-byte filter ----

typedef unsigned char Bytes16 __attribute__((vector_size(16)));

inline Bytes16 Splat(unsigned char b) {
  Bytes16 v;
  std::memset(&v, b, sizeof v);
  return v;
}

class ByteScanSearcher {
 public:
  ByteScanSearcher(std::string_view text, const PreparedKeyword& keyword)
      : text_(text), keyword_(keyword), boundaries_(text) {
    const size_t m = keyword_.lowered.size();
    if (m == 0) return;
    // The filter looks at the first and the last byte of the keyword at once; a letter is compared
    // with its case bit forced, which lets both cases through (the exact check follows).
    last_offset_ = m - 1;
    first_ = ByteAt(keyword_.lowered, 0);
    last_ = ByteAt(keyword_.lowered, last_offset_);
    first_case_ = keyword_.fold[0] ? 0x20 : 0;
    last_case_ = keyword_.fold[last_offset_] ? 0x20 : 0;
  }

  // Leftmost occurrence at or after `from` (a character boundary) that starts before `before`.
  size_t Find(size_t from, size_t before = kNone) {
    const size_t m = keyword_.lowered.size();
    const size_t size = text_.size();
    if (m == 0 || size < m || before == 0) return kNone;
    const size_t last_start = std::min(size - m, before - 1);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(text_.data());
    const Bytes16 first = Splat(first_), last = Splat(last_);
    const Bytes16 first_case = Splat(first_case_), last_case = Splat(last_case_);
    auto hits_at = [&](size_t at) {
      Bytes16 a, b;
      std::memcpy(&a, data + at, sizeof a);
      std::memcpy(&b, data + at + last_offset_, sizeof b);
      return ((a | first_case) == first) & ((b | last_case) == last);
    };
    // Checks the positions of one 16-byte mask in order; each passing position is one 0xFF byte.
    auto first_match = [&](size_t at, const auto& hits) {
      uint64_t halves[2];
      std::memcpy(halves, &hits, sizeof halves);
      for (int h = 0; h < 2; ++h) {
        uint64_t bits = halves[h];
        while (bits != 0) {
          const int lane_bit = std::countr_zero(bits) & ~7;
          bits &= ~(uint64_t{0xFF} << lane_bit);
          const size_t candidate = at + h * 8 + lane_bit / 8;
          if (candidate > last_start) return kNone - 1;
          if (MatchesAt(candidate)) return candidate;
        }
      }
      return kNone;
    };
    size_t pos = from;
    // Four masks are tested together, since most blocks of 64 positions have no candidate.
    while (pos <= last_start && pos + last_offset_ + 4 * sizeof(Bytes16) <= size) {
      const auto h0 = hits_at(pos), h1 = hits_at(pos + 16), h2 = hits_at(pos + 32),
                 h3 = hits_at(pos + 48);
      const auto any = h0 | h1 | h2 | h3;
      uint64_t halves[2];
      std::memcpy(halves, &any, sizeof halves);
      if ((halves[0] | halves[1]) != 0) {
        for (const auto* h : {&h0, &h1, &h2, &h3}) {
          const size_t found = first_match(pos, *h);
          if (found == kNone - 1) return kNone;
          if (found != kNone) return found;
          pos += sizeof(Bytes16);
        }
      } else {
        pos += 4 * sizeof(Bytes16);
      }
    }
    while (pos <= last_start && pos + last_offset_ + sizeof(Bytes16) <= size) {
      const size_t found = first_match(pos, hits_at(pos));
      if (found == kNone - 1) return kNone;
      if (found != kNone) return found;
      pos += sizeof(Bytes16);
    }
    for (; pos <= last_start; ++pos) {
      if ((data[pos] | first_case_) == first_ && (data[pos + last_offset_] | last_case_) == last_ &&
          MatchesAt(pos)) {
        return pos;
      }
    }
    return kNone;
  }

 private:
  bool MatchesAt(size_t pos) {
    const std::string& k = keyword_.lowered;
    for (size_t i = 0; i < k.size(); ++i) {
      unsigned char t = ByteAt(text_, pos + i);
      if (keyword_.fold[i]) t = LowerAscii(t);
      if (t != static_cast<unsigned char>(k[i])) return false;
    }
    // Equal bytes from a character boundary are equal characters, except that a keyword ending in
    // a lone lead byte only matches where the text ends too.
    if (keyword_.ends_with_lone_lead && pos + k.size() != text_.size()) return false;
    return boundaries_.IsAt(pos);
  }

  std::string_view text_;
  const PreparedKeyword& keyword_;
  BoundaryCursor boundaries_;
  size_t last_offset_ = 0;
  unsigned char first_ = 0, last_ = 0, first_case_ = 0, last_case_ = 0;
};

// Decides whether a match lies inside an HTML tag: the nearest "<" before its start opens a tag
// whose first ">" comes at or after the match's end. Only "<" and ">" that are characters of their
// own count. Matches must be asked in increasing order of start, which keeps the scans linear.
class TagTracker {
 public:
  explicit TagTracker(std::string_view text)
      : text_(text), lt_boundaries_(text), gt_boundaries_(text) {}

  bool Inside(size_t start, size_t end) {
    while (scanned_ < start) {
      const void* hit = std::memchr(text_.data() + scanned_, '<', start - scanned_);
      if (hit == nullptr) {
        scanned_ = start;
        break;
      }
      const size_t q = static_cast<const char*>(hit) - text_.data();
      if (lt_boundaries_.IsAt(q)) last_lt_ = q;
      scanned_ = q + 1;
    }
    if (last_lt_ == kNone) return false;
    // The first ">" after an earlier "<" is still the first one after a later "<" it follows.
    if (gt_ == kNotSearched || (gt_ != kNone && gt_ < last_lt_)) gt_ = FindGt(last_lt_);
    return gt_ != kNone && gt_ >= end;
  }

 private:
  size_t FindGt(size_t from) {
    while (from < text_.size()) {
      const void* hit = std::memchr(text_.data() + from, '>', text_.size() - from);
      if (hit == nullptr) return kNone;
      const size_t q = static_cast<const char*>(hit) - text_.data();
      if (gt_boundaries_.IsAt(q)) return q;
      from = q + 1;
    }
    return kNone;
  }

  std::string_view text_;
  BoundaryCursor lt_boundaries_;
  BoundaryCursor gt_boundaries_;
  size_t scanned_ = 0;
  size_t last_lt_ = kNone;
  size_t gt_ = kNotSearched;
};

// The search loop shared by both engines. Each keyword keeps its next occurrence and is searched
// again only once the search start has passed it; the smallest occurrence wins, the first keyword
// on a tie, and the search resumes one character after the chosen start.
template <typename Searcher>
std::vector<KeywordMatch> AcceptMatches(std::string_view text,
                                        const std::vector<PreparedKeyword>& keywords,
                                        std::vector<Searcher>& searchers, bool skip_tags,
                                        size_t accept_limit) {
  std::vector<KeywordMatch> accepted;
  std::vector<size_t> next(keywords.size(), kNotSearched);
  TagTracker tags(text);
  size_t search_start = 0;
  while (accepted.size() < accept_limit) {
    size_t best = kNone;
    size_t best_keyword = 0;
    for (size_t k = 0; k < keywords.size(); ++k) {
      if (next[k] == kNotSearched || (next[k] != kNone && next[k] < search_start)) {
        next[k] = searchers[k].Find(search_start);
      }
      if (next[k] < best) {
        best = next[k];
        best_keyword = k;
      }
    }
    if (best == kNone) break;
    const size_t end = best + keywords[best_keyword].lowered.size();
    search_start = best + CharWidth(text, best);
    if (skip_tags && tags.Inside(best, end)) continue;
    accepted.push_back({best, end});
  }
  return accepted;
}

// The same choice as AcceptMatches, made a block of text at a time: every keyword is searched
// through the block while it is in cache, each start position keeps the first keyword found
// there, and the positions are then taken in order. A position passed by the one-character
// restart is always a later start, so no occurrence is lost or taken twice.
std::vector<KeywordMatch> AcceptMatchesByBlocks(std::string_view text,
                                                const std::vector<PreparedKeyword>& keywords,
                                                std::vector<ByteScanSearcher>& searchers,
                                                bool skip_tags, size_t accept_limit) {
  constexpr size_t kBlock = 64 * 1024;
  constexpr unsigned char kFree = 0xFF;  // keyword numbers stay below kMaxKeywords
  std::vector<KeywordMatch> accepted;
  std::vector<unsigned char> owner(kBlock, kFree);
  std::vector<uint32_t> found;
  TagTracker tags(text);
  for (size_t block = 0; block < text.size() && accepted.size() < accept_limit; block += kBlock) {
    const size_t block_end = std::min(block + kBlock, text.size());
    found.clear();
    for (size_t k = 0; k < keywords.size(); ++k) {
      for (size_t pos = searchers[k].Find(block, block_end); pos != kNone;
           pos = searchers[k].Find(pos + CharWidth(text, pos), block_end)) {
        if (owner[pos - block] == kFree) {
          owner[pos - block] = static_cast<unsigned char>(k);
          found.push_back(static_cast<uint32_t>(pos - block));
        }
      }
    }
    // Dense blocks are walked in order instead of sorted.
    if (found.size() > kBlock / 32) {
      found.clear();
      for (size_t i = 0; i < block_end - block; ++i) {
        if (owner[i] != kFree) found.push_back(static_cast<uint32_t>(i));
      }
    } else if (keywords.size() > 1) {
      std::sort(found.begin(), found.end());
    }
    for (uint32_t rel : found) {
      const size_t start = block + rel;
      const size_t end = start + keywords[owner[rel]].lowered.size();
      owner[rel] = kFree;
      if (accepted.size() == accept_limit) continue;
      if (skip_tags && tags.Inside(start, end)) continue;
      accepted.push_back({start, end});
    }
  }
  return accepted;
}

std::vector<KeywordMatch> MergeOverlaps(const std::vector<KeywordMatch>& accepted) {
  std::vector<KeywordMatch> merged;
  for (const KeywordMatch& m : accepted) {
    if (!merged.empty() && merged.back().end >= m.start) {
      merged.back().end = std::max(merged.back().end, m.end);
    } else {
      merged.push_back(m);
    }
  }
  return merged;
}

std::vector<KeywordMatch> Locate(std::string_view text,
                                 const std::vector<PreparedKeyword>& keywords, bool skip_tags,
                                 size_t accept_limit, MatchEngine engine) {
  if (engine == MatchEngine::kAuto) {
    engine = text.size() < kByteScanThreshold ? MatchEngine::kCharTable : MatchEngine::kByteScan;
  }
  std::vector<KeywordMatch> accepted;
  if (engine == MatchEngine::kCharTable) {
    const CharArray chars = ToCharArray(text);
    std::vector<CharTableSearcher> searchers;
    searchers.reserve(keywords.size());
    for (const PreparedKeyword& k : keywords) searchers.emplace_back(chars, k);
    accepted = AcceptMatches(text, keywords, searchers, skip_tags, accept_limit);
  } else {
    std::vector<ByteScanSearcher> searchers;
    searchers.reserve(keywords.size());
    for (const PreparedKeyword& k : keywords) searchers.emplace_back(text, k);
    accepted = AcceptMatchesByBlocks(text, keywords, searchers, skip_tags, accept_limit);
  }
  return MergeOverlaps(accepted);
}

// Snippet mode shows the three longest matches, in text order. The exchange order is kept so
// that among equally long matches the same ones are chosen as before.
std::vector<KeywordMatch> ChooseSnippetMatches(std::vector<KeywordMatch> matches) {
  if (matches.size() <= 2) return matches;
  auto length = [](const KeywordMatch& m) { return m.end - m.start; };
  for (size_t f = 0; f < 3; ++f) {
    for (size_t g = f + 1; g < matches.size(); ++g) {
      if (length(matches[g]) > length(matches[f])) std::swap(matches[f], matches[g]);
    }
  }
  matches.resize(3);
  for (size_t f = 0; f < matches.size(); ++f) {
    for (size_t g = f + 1; g < matches.size(); ++g) {
      if (matches[g].start < matches[f].start) std::swap(matches[f], matches[g]);
    }
  }
  return matches;
}

void AppendMarked(std::string& out, std::string_view text, const KeywordMatch& m) {
  out += kOpenMark;
  out.append(text.substr(m.start, m.end - m.start));
  out += kCloseMark;
}

size_t MarkedSize(std::string_view text, const std::vector<KeywordMatch>& matches) {
  return text.size() + matches.size() * (kOpenMark.size() + kCloseMark.size());
}

// Writes the text with every match marked to `out`, which has room for MarkedSize bytes.
void MarkAllInto(std::string_view text, const std::vector<KeywordMatch>& matches, char* out) {
  auto put = [&out](std::string_view piece) {
    std::memcpy(out, piece.data(), piece.size());
    out += piece.size();
  };
  size_t copied = 0;
  for (const KeywordMatch& m : matches) {
    put(text.substr(copied, m.start - copied));
    put(kOpenMark);
    put(text.substr(m.start, m.end - m.start));
    put(kCloseMark);
    copied = m.end;
  }
  put(text.substr(copied));
}

std::string MarkAll(std::string_view text, const std::vector<KeywordMatch>& matches) {
  std::string out(MarkedSize(text, matches), '\0');
  MarkAllInto(text, matches, out.data());
  return out;
}

// A context edge is a single-byte character that is not a letter, so that contexts do not begin
// or end in the middle of an English word. Double-byte characters are never edges.
inline bool IsContextEdge(std::string_view text, size_t pos) {
  const unsigned char b = ByteAt(text, pos);
  return b < 0x80 && !IsAsciiLetter(b);
}

std::string BuildSnippet(std::string_view text, const std::vector<KeywordMatch>& matches) {
  if (matches.empty()) {
    if (text.size() <= kExcerptBytes) return std::string(text);
    std::string out(text.substr(0, AlignBackward(text, kExcerptBytes)));
    out += kEllipsis;
    return out;
  }
  std::string out;
  size_t copied = 0;
  size_t previous_end = 0;
  for (size_t f = 0; f < matches.size(); ++f) {
    const size_t g = matches[f].start;
    const size_t h = matches[f].end;
    if (g > 0) {
      if (g > kContextBytes && g - kContextBytes > copied) {
        const size_t c = AlignForward(text, g - kContextBytes);
        size_t edge = c;
        for (size_t q = c; q < g; q += CharWidth(text, q)) {
          if (IsContextEdge(text, q)) {
            edge = q;
            break;
          }
        }
        copied = edge;
      }
      const bool gap = f == 0 ? copied > 0 : copied > previous_end;
      if (gap) out += kEllipsis;
      out.append(text.substr(copied, g - copied));
    }
    AppendMarked(out, text, matches[f]);
    copied = h;
    previous_end = h;

    // The trailing context stops before the next match; after the last one it never takes the
    // text's final byte.
    const size_t limit = f + 1 < matches.size() ? matches[f + 1].start : text.size() - 1;
    size_t m = std::min(h + kContextBytes, limit);
    if (h < m) {
      m = AlignBackward(text, m);
      size_t end = m;
      for (size_t q = h; q <= m && q < text.size(); q += CharWidth(text, q)) {
        if (IsContextEdge(text, q)) end = q;
      }
      if (h < end) {
        out.append(text.substr(h, end - h));
        out += kEllipsis;
      }
    }
  }
  return out;
}

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

size_t SnippetAcceptLimit(size_t match_limit) {
  return std::min(match_limit, static_cast<size_t>(kMaxReportedMatches));
}

// Cut of a keyword to at most kMaxKeywordBytes bytes without splitting a character.
size_t KeywordCut(const char* s, size_t len) {
  if (len <= kMaxKeywordBytes) return len;
  std::string_view v(s, len);
  size_t p = 0;
  while (p < len) {
    const size_t w = CharWidth(v, p);
    if (p + w > kMaxKeywordBytes) break;
    p += w;
  }
  return p;
}

inline bool IsKeywordDelimiter(char c) { return c == ' ' || c == '&' || c == '|'; }

inline bool IsGbkTrail(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

}  // namespace

int getKeywords(char* text, char (*entries)[kKeywordEntrySize]) {
  if (text == nullptr || entries == nullptr || text[0] == '\0') return 0;
  int written = 0;
  auto emit = [&](size_t begin, size_t end) {
    if (written >= kMaxKeywords) return;
    const size_t len = KeywordCut(text + begin, end - begin);
    std::memcpy(entries[written], text + begin, len);
    entries[written][len] = '\0';
    ++written;
  };
  size_t begin = 0;
  size_t i = 0;
  while (text[i] != '\0') {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // A whole double-byte character is stepped over, so a second byte equal to "|" does not
    // split it.
    if (IsGbkLead(c) && IsGbkTrail(static_cast<unsigned char>(text[i + 1]))) {
      i += 2;
      continue;
    }
    if (IsKeywordDelimiter(text[i])) {
      emit(begin, i);
      if (text[i + 1] == '\0') {
        text[i] = '\0';
        return written;
      }
      begin = i + 1;
    }
    ++i;
  }
  if (i > begin) emit(begin, i);
  return written;
}

void HighLightKeyWords(char* text, char (*keywords)[kKeywordEntrySize], int count,
                       int positions_mode, char** result, int skip_tags, int* starts, int* lengths,
                       int* match_count) {
  const std::string_view body = text != nullptr ? std::string_view(text) : std::string_view();
  const int n = keywords != nullptr ? std::clamp(count, 0, kMaxKeywords) : 0;
  std::vector<PreparedKeyword> prepared;
  prepared.reserve(n);
  for (int i = 0; i < n; ++i) {
    const size_t len = strnlen(keywords[i], kMaxKeywordBytes);
    prepared.push_back(PrepareKeyword(std::string_view(keywords[i], len)));
    // Callers read the keywords back in the form they were matched in.
    std::memcpy(keywords[i], prepared.back().lowered.data(), prepared.back().lowered.size());
  }
  std::vector<KeywordMatch> matches =
      Locate(body, prepared, skip_tags != 0,
             positions_mode ? kAllMatches : SnippetAcceptLimit(kAllMatches), MatchEngine::kAuto);
  if (!positions_mode) matches = ChooseSnippetMatches(std::move(matches));

  if (starts != nullptr && lengths != nullptr && match_count != nullptr) {
    int reported = 0;
    for (const KeywordMatch& m : matches) {
      if (reported == kMaxReportedMatches || m.end > static_cast<size_t>(INT_MAX)) break;
      starts[reported] = static_cast<int>(m.start);
      lengths[reported] = static_cast<int>(m.end - m.start);
      ++reported;
    }
    *match_count = reported;
  }
  if (result != nullptr) {
    // Positions mode writes straight into the caller's buffer: the marked text of a large PDF
    // text is tens of megabytes.
    const std::string snippet = positions_mode ? std::string() : BuildSnippet(body, matches);
    const size_t size = positions_mode ? MarkedSize(body, matches) : snippet.size();
    char* buffer = static_cast<char*>(std::malloc(size + 1));
    if (buffer != nullptr) {
      if (positions_mode) {
        MarkAllInto(body, matches, buffer);
      } else {
        std::memcpy(buffer, snippet.data(), size);
      }
      buffer[size] = '\0';
    }
    *result = buffer;
  }
}

std::vector<std::string> SplitKeywords(std::string_view engine_keywords) {
  std::string buffer(UpToNul(engine_keywords));
  auto entries = std::make_unique<char[][kKeywordEntrySize]>(kMaxKeywords);
  const int n = getKeywords(buffer.data(), entries.get());
  std::vector<std::string> keywords;
  keywords.reserve(n);
  for (int i = 0; i < n; ++i) keywords.emplace_back(entries[i]);
  return keywords;
}

HighlightResult MarkKeywords(std::string_view text, const std::vector<std::string>& keywords,
                                  bool positions_mode, bool skip_tags, size_t match_limit) {
  text = UpToNul(text);
  std::vector<KeywordMatch> matches =
      Locate(text, PrepareKeywords(keywords), skip_tags,
             positions_mode ? match_limit : SnippetAcceptLimit(match_limit), MatchEngine::kAuto);
  HighlightResult result;
  if (positions_mode) {
    result.text = MarkAll(text, matches);
  } else {
    matches = ChooseSnippetMatches(std::move(matches));
    result.text = BuildSnippet(text, matches);
  }
  result.matches.reserve(matches.size());
  for (const KeywordMatch& m : matches) {
    if (m.end > static_cast<size_t>(INT_MAX)) break;
    result.matches.emplace_back(static_cast<int>(m.start), static_cast<int>(m.end - m.start));
  }
  return result;
}

std::vector<KeywordMatch> FindKeywordMatches(std::string_view text,
                                             const std::vector<std::string>& keywords,
                                             bool skip_tags, size_t accept_limit,
                                             MatchEngine engine) {
  return Locate(UpToNul(text), PrepareKeywords(keywords), skip_tags, accept_limit, engine);
}

}  // namespace tomeva
