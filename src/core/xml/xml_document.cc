#include "core/xml/xml_document.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/xml/text_scrambler.h"

namespace tomeva {
namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();
constexpr uint32_t kNoMatch = std::numeric_limits<uint32_t>::max();

// The first byte equal to `c` in [from, end), character boundaries aside. Inline rather than
// memchr: the distances between mark-up characters are mostly a few dozen bytes, where the
// library call costs more than the search.
inline size_t FindByte(const char* data, char c, size_t from, size_t end) {
  size_t q = from;
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(c);
  for (; q + 16 <= end; q += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + q));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, needle));
    if (mask != 0) return q + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; q < end; ++q) {
    if (data[q] == c) return q;
  }
  return kNone;
}

// FindByte over a text followed by at least 16 readable bytes (the padding of a parse store):
// every block is read whole and the hits past `end` are dropped.
inline size_t FindBytePadded(const char* data, char c, size_t from, size_t end) {
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(c);
  for (size_t q = from; q < end; q += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + q));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, needle));
    if (mask != 0) {
      const size_t hit = q + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
      return hit < end ? hit : kNone;
    }
  }
  return kNone;
#else
  return FindByte(data, c, from, end);
#endif
}

// Finds the single-byte mark-up character `c` at a character boundary in [from, end); `from`
// must be a boundary. Mark-up characters are below 0x40 and so never the trail byte of a valid
// double-byte character; a byte is only hidden when the walk from `from` pairs it with a lead
// byte in front of it, which happens exactly when an odd run of lead-range bytes precedes it.
// A byte search plus that parity check gives the same answer as stepping character by
// character.
// `padded`: `s` is followed by the padding of a parse store.
inline size_t FindMarkup(std::string_view s, char c, size_t from, size_t end, bool padded = false) {
  size_t pos = from;
  while (pos < end) {
    const size_t cand = padded ? FindBytePadded(s.data(), c, pos, end) : FindByte(s.data(), c, pos, end);
    if (cand == kNone) return kNone;
    size_t run_start = cand;
    while (run_start > pos && IsGbkLead(static_cast<unsigned char>(s[run_start - 1]))) {
      --run_start;
    }
    if (((cand - run_start) & 1) == 0) return cand;
    pos = cand + 1;  // `cand` was the trail byte of the pair ending here
  }
  return kNone;
}

// The first occurrence of `needle` (whose first byte is ASCII) at a character boundary at or
// after the boundary `from`, as MbFind finds it. `s` lies in the text of a parse store, which
// is followed by its padding.
size_t FindAtBoundary(std::string_view s, std::string_view needle, size_t from) {
  size_t pos = from;
  while (pos + needle.size() <= s.size()) {
    size_t cand = FindMarkup(s, needle[0], pos, s.size() - needle.size() + 1, true);
    if (cand == kNone) return kNone;
    size_t i = 1;
    while (i < needle.size() && s[cand + i] == needle[i]) ++i;
    if (i == needle.size()) return cand;
    pos = cand + 1;  // an ASCII byte is a character of its own
  }
  return kNone;
}

// IsSpaceByte, with the common answer first.
inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' ' && IsSpaceByte(c); }

// White space as TrimView strips it; inline here because every tag text is trimmed.
std::string_view TrimSpace(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpaceByte(s[b])) ++b;
  while (e > b && IsSpaceByte(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The element name of a trimmed tag text: the part before the first space.
std::string_view TagName(std::string_view tag_text) {
  size_t sp = FindMarkup(tag_text, ' ', 0, tag_text.size());
  return sp == kNone ? tag_text : tag_text.substr(0, sp);
}

bool EndsWithSlash(std::string_view tag_text) {
  return !tag_text.empty() && tag_text.back() == '/';
}

std::string DecodeEntities(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string(text);
  // Three whole-text passes in this order, so "&amp;lt;" ends up as "<" as stored files expect.
  std::string out = ReplaceAll(text, "&amp;", "&");
  out = ReplaceAll(out, "&lt;", "<");
  return ReplaceAll(out, "&gt;", ">");
}

// The literal end-tag scan over [from, end) of `s`. `work` (when given) receives the bytes
// scanned. Returns the absolute position or kNone.
size_t ScanCloseTag(std::string_view s, size_t from, size_t end, std::string_view tag, int depth,
                    size_t* work) {
  const std::string slash_tag = "/" + std::string(tag);
  const std::string tag_slash = std::string(tag) + "/";
  bool seen = false;
  size_t pos = from;
  size_t lt = kNone;
  std::string_view tag_text;
  for (;;) {
    lt = FindMarkup(s, '<', pos, end);
    size_t gt = lt == kNone ? kNone : FindMarkup(s, '>', lt + 1, end);
    if (gt == kNone) {
      if (work != nullptr) *work += end - from;
      return kNone;
    }
    tag_text = TrimSpace(s.substr(lt + 1, gt - lt - 1));
    std::string_view name = TagName(tag_text);
    if (EqualsNoCase(name, tag)) {
      if (!EndsWithSlash(tag_text)) ++depth;
      seen = true;
    } else if (EqualsNoCase(name, tag_slash)) {
      seen = true;
    } else if (EqualsNoCase(name, slash_tag)) {
      --depth;
      seen = true;
    }
    pos = gt + 1;
    if (depth == 0 && seen) break;
  }
  if (work != nullptr) *work += pos - from;
  std::string rebuilt;
  rebuilt.reserve(tag_text.size() + 2);
  rebuilt.append("<").append(tag_text).append(">");
  size_t found = MbFind(s.substr(0, end), rebuilt, lt);
  if (work != nullptr) *work += (found == kNone ? end : found) - lt;
  return found;
}

// Positions of end tags in a text, so that StripChildElements finds "</name>" without scanning
// the rest of the text once per start tag. Keyed by the bytes from "</" through the next ">".
class CloseTagIndex {
 public:
  explicit CloseTagIndex(std::string_view s) {
    size_t pos = 0;
    for (;;) {
      size_t lt = FindMarkup(s, '<', pos, s.size());
      if (lt == kNone) break;
      pos = lt + 1;
      if (lt + 1 >= s.size() || s[lt + 1] != '/') continue;
      const void* gt = std::memchr(s.data() + lt + 2, '>', s.size() - lt - 2);
      if (gt == nullptr) continue;
      size_t len = static_cast<size_t>(static_cast<const char*>(gt) - s.data()) + 1 - lt;
      positions_[s.substr(lt, len)].push_back(lt);
    }
  }
  // First boundary occurrence of `close` (whose only ">" is its last byte) at or after `from`.
  size_t Find(std::string_view close, size_t from) const {
    auto it = positions_.find(close);
    if (it == positions_.end()) return kNone;
    auto p = std::lower_bound(it->second.begin(), it->second.end(), from);
    return p == it->second.end() ? kNone : *p;
  }

 private:
  std::unordered_map<std::string_view, std::vector<size_t>> positions_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

// The text of one parse and the nodes built from it. Nodes are made in blocks: a table of
// contents has thousands of them, and one allocation each dominated the parse.
struct XmlParseStore {
  static constexpr size_t kBlockNodes = 64;
  struct Block {
    alignas(CXmlNode) unsigned char storage[kBlockNodes * sizeof(CXmlNode)];
  };
  CXmlNode* NewNode() {
    if (used == kBlockNodes) {
      ++block;
      used = 0;
    }
    if (block == blocks.size()) blocks.push_back(std::unique_ptr<Block>(new Block));
    CXmlNode* node = new (blocks[block]->storage + sizeof(CXmlNode) * used++) CXmlNode;
    node->pooled_ = true;
    return node;
  }
  size_t Footprint() const { return buffer.capacity() + blocks.size() * sizeof(Block); }

  // The text to parse, followed in `buffer` by kTextPadding zero bytes so that the tag scan can
  // read whole blocks without checking for the end first. The text comes from outside: every byte
  // that is not GBK is replaced first (RepairGbk), so that no scan below takes a "<", ">", quote
  // or separator after a lone lead byte for part of a character where the web view sees it.
  static constexpr size_t kTextPadding = 16;
  void SetText(std::string_view text) {
    buffer.reserve(text.size() + kTextPadding);
    buffer.assign(text);
    Repair();
  }
  void SetText(std::string&& text) {
    buffer = std::move(text);
    Repair();
  }
  void Repair() {
    repaired.clear();
    RepairGbk(&buffer, &repaired);
    buffer.append(kTextPadding, '\0');
  }
  // True when a byte in [begin, end) of the text was put in by the repair.
  bool RepairedIn(size_t begin, size_t end) const {
    auto it = std::lower_bound(repaired.begin(), repaired.end(), begin);
    return it != repaired.end() && *it < end;
  }
  std::string_view text() const {
    return std::string_view(buffer).substr(0, buffer.size() - kTextPadding);
  }

  std::string buffer;
  std::vector<size_t> repaired;  // offsets of the bytes the repair replaced, ascending
  std::vector<std::unique_ptr<Block>> blocks;
  size_t block = 0;  // the block the next node goes into
  size_t used = 0;   // nodes made in that block
};

namespace {

// Stores of finished parses, kept per thread for the next parse: record files are read by the
// thousand, one after the other, and fresh memory for each (the text copy, the node blocks) cost
// more in page faults than the parse itself. Only ordinary sizes are kept.
constexpr size_t kKeptStores = 2;
constexpr size_t kKeptStoreBytes = 4u << 20;
thread_local bool t_store_pool_gone = false;  // no destructor: readable at thread exit
struct StorePool {
  ~StorePool() { t_store_pool_gone = true; }
  std::unique_ptr<XmlParseStore> stores[kKeptStores];
};
thread_local StorePool t_store_pool;

std::unique_ptr<XmlParseStore> TakeStore() {
  if (!t_store_pool_gone) {
    for (std::unique_ptr<XmlParseStore>& kept : t_store_pool.stores) {
      if (kept != nullptr) return std::move(kept);
    }
  }
  return std::make_unique<XmlParseStore>();
}

// `store` holds no live node any more.
void GiveBackStore(std::unique_ptr<XmlParseStore> store) {
  if (store == nullptr || t_store_pool_gone || store->Footprint() > kKeptStoreBytes) return;
  store->buffer.clear();
  store->repaired.clear();
  store->block = store->used = 0;
  for (std::unique_ptr<XmlParseStore>& kept : t_store_pool.stores) {
    if (kept == nullptr) {
      kept = std::move(store);
      return;
    }
  }
}

}  // namespace

namespace {

// Element names compare without ASCII case; this table gives each name (as EqualsNoCase sees it)
// a number for one parse. Open addressing over views into the parsed text; the slots of earlier
// parses are told apart by their generation, so a new parse does not wipe the table.
class NameTable {
 public:
  void Reset() {
    if (slots_.empty()) slots_.resize(64);
    if (++generation_ == 0) {
      for (Slot& slot : slots_) slot.generation = 0;
      generation_ = 1;
    }
    count_ = 0;
  }
  // The number of `name`; a new name gets `next_id` when `insert`, else kNoMatch is returned.
  uint32_t Find(std::string_view name, bool insert, uint32_t next_id) {
    const uint64_t hash = FoldHash(name);
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.generation != generation_) {
        if (!insert) return kNoMatch;
        slot = {name, hash, next_id, generation_};
        if (++count_ * 2 > slots_.size()) Grow();
        return next_id;
      }
      if (slot.hash == hash && EqualsNoCase(slot.name, name)) return slot.id;
    }
  }

 private:
  struct Slot {
    std::string_view name;
    uint64_t hash;
    uint32_t id;
    uint32_t generation;
  };
  // FNV-1a over the bytes with single-byte ASCII letters folded, stepping over double-byte
  // characters as EqualsNoCase does.
  static uint64_t FoldHash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < s.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (IsGbkLead(c) && i + 1 < s.size()) {
        h = (h ^ c) * 1099511628211ull;
        c = static_cast<unsigned char>(s[++i]);
      } else if (c >= 'A' && c <= 'Z') {
        c = static_cast<unsigned char>(c + 32);
      }
      h = (h ^ c) * 1099511628211ull;
    }
    return h;
  }
  void Grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.size() * 2, Slot{});
    const uint32_t generation = generation_;
    generation_ = 1;
    for (Slot& slot : slots_) slot.generation = 0;
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.generation != generation) continue;
      size_t i = slot.hash & mask;
      while (slots_[i].generation == generation_) i = (i + 1) & mask;
      slots_[i] = slot;
      slots_[i].generation = generation_;
    }
  }

  std::vector<Slot> slots_;
  uint32_t generation_ = 0;
  size_t count_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The parser. It follows the reader's textual rules (first "<", first ">" after it, end tag by
// counting same-named tags) but finds every tag once: the tags from the start of the element
// text are listed in order, and each start tag is paired with its end tag through one stack per
// name. A scan that starts where a listed tag starts or where one ends sees exactly the listed
// tags, so its answer can be read from the list; any other scan (only after an end tag written
// in an unusual way) is done literally and paid from the work allowance.
class XmlTreeBuilder {
 public:
  XmlTreeBuilder(XmlParseStore* store, size_t start);
  ~XmlTreeBuilder();
  int ParseElement(CXmlNode* node, size_t begin, size_t end, size_t hint, int level);

 private:
  // A tag as the scan sees it, with its trimmed text [text_begin, text_end) and its name
  // [text_begin, name_end), worked out once here for the scans and the node.
  struct Token {
    uint32_t lt;
    uint32_t gt;
    uint32_t match;  // index of the end tag closing this start tag, or kNoMatch
    uint32_t text_begin;
    uint32_t text_end;
    uint32_t name_end;
    uint32_t flags;  // a full word: 32-byte tokens index with a shift
  };
  enum : uint8_t { kClean = 1 };  // the tag text has no white space inside its brackets

  struct Tag {
    size_t lt;
    size_t gt;
    size_t tok;  // index of the listed tag, or kNone for a tag found by a literal scan
  };
  struct ChildSpan {
    size_t begin;
    size_t end;
    size_t tok;
  };
  // Working memory kept per thread between parses, so that the many small record files parsed
  // in a row do not allocate it again each time.
  struct Scratch {
    std::unique_ptr<Token[]> tokens;  // filled by ListTags, not initialised beyond that
    size_t token_capacity = 0;
    NameTable names;
    std::vector<std::vector<uint32_t>> open;  // per name: start tags not yet closed
    std::vector<uint32_t> open_stack;         // all start tags not yet closed, innermost last
    std::vector<ChildSpan> spans;
  };
  static Scratch& ThreadScratch() {
    thread_local Scratch scratch;
    return scratch;
  }

  void ListTags();
  void PairByName(bool slash_names_only);
  std::string_view TokenName(const Token& t) const {
    return src_.substr(t.text_begin, t.name_end - t.text_begin);
  }
  bool TokenOpens(const Token& t) const {  // a tag text not ending in "/"
    return t.text_end > t.text_begin && src_[t.text_end - 1] != '/';
  }
  size_t SyncToken(size_t cur) const;
  bool NextTag(size_t cur, size_t end, size_t hint, Tag* out) {
    if (hint == kNone) return NextTagSlow(cur, end, out);
    if (hint >= ntok_ || tok_[hint].gt >= end) return false;
    *out = {tok_[hint].lt, tok_[hint].gt, hint};
    return true;
  }
  bool NextTagSlow(size_t cur, size_t end, Tag* out);
  size_t CloseTagPos(const Tag& start, std::string_view tag, size_t end, bool own) {
    if (start.tok != kNone) {
      const uint32_t m = tok_[start.tok].match;
      if (m == kNoMatch || tok_[m].gt >= end) return kNone;
      if (tok_[m].flags & kClean) return tok_[m].lt;
    }
    return CloseTagPosSlow(start, tag, end, own);
  }
  size_t CloseTagPosSlow(const Tag& start, std::string_view tag, size_t end, bool own);
  // The trimmed tag text of `t` and its name.
  void TagParts(const Tag& t, std::string_view* text, std::string_view* name) const {
    if (t.tok != kNone) {
      const Token& k = tok_[t.tok];
      *text = src_.substr(k.text_begin, k.text_end - k.text_begin);
      *name = text->substr(0, k.name_end - k.text_begin);
    } else {
      *text = TrimSpace(src_.substr(t.lt + 1, t.gt - t.lt - 1));
      *name = TagName(*text);
    }
  }
  bool Spend(size_t bytes) {
    spent_ += bytes;
    return spent_ <= allowance_;
  }

  XmlParseStore* store_;
  std::string_view src_;
  size_t start_;
  Scratch& scratch_;
  // The listed tags, in the order of the text.
  Token* tok_ = nullptr;
  size_t ntok_ = 0;
  size_t spent_ = 0;
  size_t allowance_;
};

XmlTreeBuilder::XmlTreeBuilder(XmlParseStore* store, size_t start)
    : store_(store),
      src_(store->text()),
      start_(start),
      scratch_(ThreadScratch()) {
  allowance_ = 16 * (src_.size() - std::min(start, src_.size())) + (1u << 20);
  ListTags();
}

XmlTreeBuilder::~XmlTreeBuilder() {
  // Keep the scratch of ordinary files; give back what a huge one took.
  constexpr size_t kKeepTokens = 1u << 16;
  if (scratch_.token_capacity > kKeepTokens) {
    scratch_.tokens.reset();
    scratch_.token_capacity = 0;
  }
  if (scratch_.open.size() > kKeepTokens) std::vector<std::vector<uint32_t>>().swap(scratch_.open);
  if (scratch_.spans.capacity() > kKeepTokens) std::vector<ChildSpan>().swap(scratch_.spans);
}

// Element names compare as EqualsNoCase does; the same bytes are the usual case. Both names lie
// in the text of a parse store, followed by its padding.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
#if defined(__SSE2__)
  if (a.size() <= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data()));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data()));
    const unsigned equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    const unsigned wanted = (1u << a.size()) - 1;
    if ((equal & wanted) == wanted) return true;
    return EqualsNoCase(a, b);
  }
#endif
  return std::memcmp(a.data(), b.data(), a.size()) == 0 || EqualsNoCase(a, b);
}

void XmlTreeBuilder::ListTags() {
  // Each tag's end tag is the next tag that closes its name (an end tag "/x" closes the innermost
  // open "x"): the per-name nesting the literal scan counts. In the usual file that is the
  // innermost open tag of all, or one a few entries down, so one stack of open tags answers it
  // while the tags are listed. Names beginning with "/" (opened by every end tag, closed only by
  // tags such as "//x") are paired afterwards, and only when such a tag appears; a stack whose
  // answer lies deeper than kStackScan entries gives way to pairing by name as well.
  constexpr size_t kStackScan = 32;
  std::vector<uint32_t>& stack = scratch_.open_stack;
  stack.clear();
  bool slash_closers = false;
  bool stack_gave_up = false;

  Token* tokens = scratch_.tokens.get();
  size_t capacity = scratch_.token_capacity;
  size_t count = 0;

  const char* const data = src_.data();
  const size_t size = src_.size();
  size_t pos = start_;
  for (;;) {
    const size_t lt = FindMarkup(src_, '<', pos, size, true);
    if (lt == kNone) break;
    const size_t gt = FindMarkup(src_, '>', lt + 1, size, true);
    if (gt == kNone) break;
    pos = gt + 1;
    size_t text_begin = lt + 1;
    size_t text_end = gt;
    while (text_begin < text_end && IsBlank(data[text_begin])) ++text_begin;
    while (text_end > text_begin && IsBlank(data[text_end - 1])) --text_end;
    // The name runs to the first space.
    const size_t space = FindMarkup(src_, ' ', text_begin, text_end, true);
    const size_t name_end = space == kNone ? text_end : space;
    if (count == capacity) {
      capacity = std::max<size_t>(64, capacity * 2);
      std::unique_ptr<Token[]> grown(new Token[capacity]);
      if (count != 0) std::memcpy(grown.get(), tokens, count * sizeof(Token));
      scratch_.tokens = std::move(grown);
      scratch_.token_capacity = capacity;
      tokens = scratch_.tokens.get();
    }
    const uint32_t index = static_cast<uint32_t>(count);
    const bool clean = text_begin == lt + 1 && text_end == gt;
    tokens[count++] = {static_cast<uint32_t>(lt), static_cast<uint32_t>(gt), kNoMatch,
                       static_cast<uint32_t>(text_begin), static_cast<uint32_t>(text_end),
                       static_cast<uint32_t>(name_end), static_cast<uint32_t>(clean ? kClean : 0)};
    if (stack_gave_up) continue;
    const std::string_view name(data + text_begin, name_end - text_begin);
    // The scan tests "x/" before "/x", and the two are the same name when x is empty or all
    // slashes: such a tag only counts as seen.
    if (name.size() > 1 && name[0] == '/' &&
        (name[1] != '/' || name.find_first_not_of('/') != std::string_view::npos)) {
      const std::string_view closes = name.substr(1);
      if (closes[0] == '/') {
        slash_closers = true;
      } else {
        size_t depth = 0;
        size_t i = stack.size();
        while (i > 0 && depth < kStackScan) {
          --i;
          ++depth;
          if (SameName(TokenName(tokens[stack[i]]), closes)) {
            tokens[stack[i]].match = index;
            stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(i));
            i = kNone;
            break;
          }
        }
        if (i != kNone && i > 0) stack_gave_up = true;  // deeper than the scan looks
      }
    }
    if (!name.empty() && name[0] != '/' && src_[text_end - 1] != '/') stack.push_back(index);
  }
  tok_ = tokens;
  ntok_ = count;
  if (stack_gave_up) {
    for (size_t i = 0; i < count; ++i) tokens[i].match = kNoMatch;
    PairByName(false);
  } else if (slash_closers) {
    PairByName(true);
  }
}

// Pairs start and end tags through one stack per name: every tag not ending in "/" opens its own
// name, even "/x" or "!--", as the scan counts them. With `slash_names_only`, only names that
// begin with "/" (the rest is paired already).
void XmlTreeBuilder::PairByName(bool slash_names_only) {
  NameTable& names = scratch_.names;
  names.Reset();
  std::vector<std::vector<uint32_t>>& open = scratch_.open;
  uint32_t name_count = 0;
  for (uint32_t index = 0; index < ntok_; ++index) {
    const Token& t = tok_[index];
    const std::string_view name = TokenName(t);
    if (name.size() > 1 && name[0] == '/' && name.find_first_not_of('/') != std::string_view::npos &&
        (!slash_names_only || name[1] == '/')) {
      uint32_t id = names.Find(name.substr(1), false, 0);
      if (id != kNoMatch && !open[id].empty()) {
        tok_[open[id].back()].match = index;
        open[id].pop_back();
      }
    }
    if (TokenOpens(t) && (!slash_names_only || (!name.empty() && name[0] == '/'))) {
      uint32_t id = names.Find(name, true, name_count);
      if (id == name_count) {
        if (open.size() <= id) open.emplace_back();
        open[id].clear();
        ++name_count;
      }
      open[id].push_back(index);
    }
  }
}

// Index of the first listed tag at or after `cur` when a scan from `cur` sees the listed tags
// (cur is the start of the list, a listed "<", or just after a listed ">"); kNone otherwise.
size_t XmlTreeBuilder::SyncToken(size_t cur) const {
  auto it = std::lower_bound(tok_, tok_ + ntok_, cur,
                             [](const Token& t, size_t p) { return t.lt < p; });
  size_t i = static_cast<size_t>(it - tok_);
  if (cur == start_) return i;
  if (i < ntok_ && tok_[i].lt == cur) return i;
  if (i > 0 && static_cast<size_t>(tok_[i - 1].gt) + 1 == cur) return i;
  return kNone;
}

// The next "<" in [cur, end) and the first ">" after it. `hint` is the index of the listed tag a
// scan from `cur` sees first, when the caller knows it.
bool XmlTreeBuilder::NextTagSlow(size_t cur, size_t end, Tag* out) {
  size_t i = SyncToken(cur);
  if (i != kNone) {
    if (i >= ntok_ || tok_[i].gt >= end) return false;
    *out = {tok_[i].lt, tok_[i].gt, i};
    return true;
  }
  size_t lt = FindMarkup(src_, '<', cur, end);
  size_t gt = lt == kNone ? kNone : FindMarkup(src_, '>', lt + 1, end);
  if (!Spend((gt == kNone ? end : gt) - cur) || gt == kNone) return false;
  // A "<" that starts a listed tag is that tag: the scans from it agree from there on.
  size_t tok = SyncToken(lt);
  if (tok != kNone && (tok >= ntok_ || tok_[tok].lt != lt)) tok = kNone;
  *out = {lt, gt, tok};
  return true;
}

// Where the end tag of the element whose start tag is `start` lies within [.., end), as
// FindCloseTag reports it: scanning the element's own text (own: after the start tag, depth 1)
// or its parent's content (from the start tag, depth 0). Both stop at the same end tag.
size_t XmlTreeBuilder::CloseTagPosSlow(const Tag& start, std::string_view tag, size_t end,
                                       bool own) {
  if (start.tok == kNone) {
    size_t work = 0;
    size_t found = own ? ScanCloseTag(src_, start.gt + 1, end, tag, 1, &work)
                       : ScanCloseTag(src_, start.lt, end, tag, 0, &work);
    return Spend(work) ? found : kNone;
  }
  uint32_t m = tok_[start.tok].match;
  if (m == kNoMatch || tok_[m].gt >= end) return kNone;
  const Token& close = tok_[m];
  if (close.flags & kClean) return close.lt;
  // "</a >": the rebuilt "</a>" is looked for from the end tag's "<" on.
  std::string rebuilt =
      "<" + std::string(TrimSpace(src_.substr(close.lt + 1, close.gt - close.lt - 1))) + ">";
  size_t found = MbFind(src_.substr(0, end), rebuilt, close.lt);
  return Spend((found == kNone ? end : found) - close.lt) ? found : kNone;
}

int XmlTreeBuilder::ParseElement(CXmlNode* node, size_t begin, size_t end, size_t hint, int level) {
  // `node` is fresh: the root was cleared by ParseStore, children were just made.
  if (level > kMaxXmlDepth) return 0;
  Tag start;
  if (!NextTag(begin, end, hint, &start)) return 0;
  std::string_view tag_text, tag;
  TagParts(start, &tag_text, &tag);
  if (tag_text.empty()) return 1;
  node->tag_view_ = tag;
  if (tag.size() < tag_text.size()) node->attribute_view_ = tag_text.substr(tag.size() + 1);
  const bool repairs = !store_->repaired.empty();
  if (repairs && store_->RepairedIn(start.lt, start.gt)) {
    node->repaired_ |= CXmlNode::kRepairedStartTag;
  }
  if (EndsWithSlash(tag_text)) return 1;

  size_t close = CloseTagPos(start, tag, end, /*own=*/true);
  if (close == kNone) return 0;
  const size_t content_begin = start.gt + 1;
  node->text_view_ = src_.substr(content_begin, close - content_begin);
  if (repairs && store_->RepairedIn(content_begin, close)) {
    node->repaired_ |= CXmlNode::kRepairedText;
  }
  // The first "<" after a listed tag starts the next listed tag, if there is one.
  const bool has_markup =
      start.tok != kNone
          ? start.tok + 1 < ntok_ && tok_[start.tok + 1].lt < close
          : FindMarkup(src_, '<', content_begin, close) != kNone;
  if (!has_markup) return 1;
  node->leaf_ = 0;

  // Split the content into child element texts first, then parse each, as the reader always has
  // (a failing child therefore leaves its earlier siblings linked).
  std::vector<ChildSpan>& spans = scratch_.spans;  // shared by all levels: indices, not references
  const size_t first_span = spans.size();
  size_t cur = content_begin;
  size_t next_hint = start.tok == kNone ? kNone : start.tok + 1;
  while (cur < close) {
    Tag t;
    if (!NextTag(cur, close, next_hint, &t)) break;
    std::string_view child_text, child_tag;
    TagParts(t, &child_text, &child_tag);
    const size_t after_tag_hint = t.tok == kNone ? kNone : t.tok + 1;
    if (StartsWith(child_text, "!--")) {  // a comment ends at its first ">"
      cur = t.gt + 1;
      next_hint = after_tag_hint;
      continue;
    }
    if (EndsWithSlash(child_text)) {
      spans.push_back({t.lt, t.gt + 1, t.tok});
      cur = t.gt + 1;
      next_hint = after_tag_hint;
      continue;
    }
    size_t child_close = CloseTagPos(t, child_tag, close, /*own=*/false);
    if (child_close == kNone) {
      spans.resize(first_span);
      return 0;
    }
    size_t child_end = std::min(child_close + child_tag.size() + 3, close);
    spans.push_back({t.lt, child_end, t.tok});
    cur = child_end;
    next_hint = kNone;
    if (t.tok != kNone) {
      uint32_t m = tok_[t.tok].match;
      if (m != kNoMatch && static_cast<size_t>(tok_[m].gt) + 1 == child_end) next_hint = m + 1;
    }
  }
  const size_t last_span = spans.size();
  int result = 1;
  for (size_t i = first_span; i < last_span; ++i) {
    const ChildSpan span = spans[i];
    CXmlNode* child = store_->NewNode();
    if (!ParseElement(child, span.begin, span.end, span.tok, level + 1)) {
      child->~CXmlNode();
      result = 0;
      break;
    }
    node->AppendChild(child);
  }
  spans.resize(first_span);
  return result;
}

// ---------------------------------------------------------------------------------------------

CXmlNode::CXmlNode() = default;

struct CXmlNode::Strings {
  enum : uint8_t { kTag = 1, kText = 2, kAttributeText = 4, kAttributes = 8 };
  uint8_t ready = 0;
  std::string tag;
  std::string text;
  std::string attribute_text;
  AttributeMap attributes;
};

CXmlNode::~CXmlNode() {
  if (previous_sibling_ != nullptr) previous_sibling_->next_sibling_ = next_sibling_;
  if (next_sibling_ != nullptr) next_sibling_->previous_sibling_ = previous_sibling_;
  DeleteChildren();
  GiveBackStore(std::move(store_));  // after the children: they live in it
}

void CXmlNode::DeleteChildren() {
  CXmlNode* child = first_child_;
  first_child_ = last_child_ = nullptr;
  while (child != nullptr) {
    CXmlNode* next = child->next_sibling_;
    child->previous_sibling_ = child->next_sibling_ = nullptr;
    if (child->pooled_) {
      // Its memory belongs to the store of the parse that made it, where it was made as a
      // CXmlNode. A node that owns nothing (the usual leaf) has nothing to undo.
      if (child->first_child_ != nullptr || child->strings_ != nullptr || child->store_ != nullptr) {
        child->CXmlNode::~CXmlNode();
      }
    } else {
      delete child;
    }
    child = next;
  }
}

void CXmlNode::Clear() {
  tag_view_ = text_view_ = attribute_view_ = {};
  strings_.reset();
  leaf_ = 1;
  repaired_ = 0;
  DeleteChildren();
  previous_sibling_ = next_sibling_ = nullptr;
  GiveBackStore(std::move(store_));  // after the children: they live in it
}

void CXmlNode::AppendChild(CXmlNode* child) {
  child->previous_sibling_ = last_child_;
  child->next_sibling_ = nullptr;
  if (last_child_ != nullptr) {
    last_child_->next_sibling_ = child;
  } else {
    first_child_ = child;
  }
  last_child_ = child;
}

int CXmlNode::Parse(std::string_view text) {
  // Copied first: `text` may be this node's own text, which the parse clears.
  std::unique_ptr<XmlParseStore> store = TakeStore();
  store->SetText(text);
  return ParseStore(std::move(store), 0);
}

int CXmlNode::ParseStore(std::unique_ptr<XmlParseStore> store, size_t start) {
  Clear();
  if (store->text().size() >= kNoMatch) return 0;  // beyond the 32-bit tag positions
  XmlTreeBuilder builder(store.get(), start);
  // The store is the node's before the parse so that the views and children are never without it.
  store_ = std::move(store);
  // The first listed tag is the one a scan from `start` sees first.
  return builder.ParseElement(this, start, store_->text().size(), 0, 1);
}

CXmlNode::Strings& CXmlNode::strings() const {
  if (strings_ == nullptr) strings_ = std::make_unique<Strings>();
  return *strings_;
}

const std::string& CXmlNode::tag() const {
  Strings& s = strings();
  if (!(s.ready & Strings::kTag)) {
    s.tag.assign(tag_view_);
    s.ready |= Strings::kTag;
  }
  return s.tag;
}

const std::string& CXmlNode::text() const {
  Strings& s = strings();
  if (!(s.ready & Strings::kText)) {
    s.text = leaf_ ? DecodeEntities(text_view_) : std::string(text_view_);
    s.ready |= Strings::kText;
  }
  return s.text;
}

const std::string& CXmlNode::attribute_text() const {
  Strings& s = strings();
  if (!(s.ready & Strings::kAttributeText)) {
    s.attribute_text.assign(attribute_view_);
    s.ready |= Strings::kAttributeText;
  }
  return s.attribute_text;
}

const AttributeMap& CXmlNode::attributes() const {
  Strings& s = strings();
  if (!(s.ready & Strings::kAttributes)) {
    ParseAttributes(attribute_view_, &s.attributes);
    s.ready |= Strings::kAttributes;
  }
  return s.attributes;
}

void CXmlNode::FindNodes(std::string_view tag, int kind, std::vector<CXmlNode*>* list,
                         std::string_view attr_name, std::string_view attr_value) {
  FindNodesImpl(tag, kind, list, attr_name, attr_value);
}

void CXmlNode::FindNodesImpl(std::string_view tag, int kind, std::vector<CXmlNode*>* list,
                             std::string_view attr_name, std::string_view attr_value) {
  // The view is valid whether or not the string was made yet; a cleared node has an empty one.
  bool match = EqualsNoCase(tag_view_, tag) && (kind == 0   ? leaf_ == 0
                                                : kind == 1 ? leaf_ == 1
                                                            : true);
  if (match && !attr_name.empty()) {
    const AttributeMap& attrs = attributes();
    auto it = attrs.find(std::string(attr_name));
    match = it != attrs.end() && it->second == attr_value;
  }
  if (match) {
    list->push_back(this);
    return;
  }
  for (CXmlNode* child = first_child_; child != nullptr; child = child->next_sibling_) {
    child->FindNodesImpl(tag, kind, list, attr_name, attr_value);
  }
}

// ---------------------------------------------------------------------------------------------

CXmlDocument::CXmlDocument(std::string_view path) { Load(path); }

int CXmlDocument::Load(std::string_view path, int scrambled, size_t max_bytes) {
  root_.Clear();
  path_.assign(path);
  version_.clear();
  encoding_.clear();
  std::string bytes;
  if (!ReadWholeFile(path, &bytes, max_bytes)) return 0;
  if (scrambled != 0) bytes = UnscrambleCatalogueText(bytes);
  if (size_t nul = bytes.find('\0'); nul != std::string::npos) bytes.resize(nul);
  std::unique_ptr<XmlParseStore> store = TakeStore();
  store->SetText(std::move(bytes));
  return ParseStore(std::move(store));
}

int CXmlDocument::ParseText(std::string_view text) {
  // As with a file, a NUL byte ends the text.
  text = text.substr(0, text.find('\0'));
  // Copied before the document is cleared: `text` may be one of its own strings.
  std::unique_ptr<XmlParseStore> store = TakeStore();
  store->SetText(text);
  return ParseStore(std::move(store));
}

int CXmlDocument::ParseStore(std::unique_ptr<XmlParseStore> store) {
  version_.clear();
  encoding_.clear();
  root_.Clear();
  std::string_view text = store->text();
  const size_t open = FindAtBoundary(text, "<?", 0);
  const size_t close = FindAtBoundary(text, "?>", 0);
  if (open == kNone || close == kNone) {
    GiveBackStore(std::move(store));
    return 0;
  }
  std::string_view decl;
  if (close >= open + 2) decl = text.substr(open + 2, close - open - 2);
  auto read_value = [decl](std::string_view name, std::string* value) {
    size_t at = FindAtBoundary(decl, name, 0);
    if (at == kNone || at == 0) return;
    std::string_view rest = decl.substr(at + name.size());
    size_t quote = FindMarkup(rest, '"', 0, rest.size(), true);
    value->assign(quote == kNone || quote == 0 ? rest : rest.substr(0, quote));
  };
  read_value("version=\"", &version_);
  read_value("encoding=\"", &encoding_);
  return root_.ParseStore(std::move(store), close + 2);
}

std::string CXmlDocument::GetText(std::string_view tag, std::string_view attr_name,
                                  std::string_view attr_value) {
  std::vector<CXmlNode*> nodes;
  root_.FindNodes(tag, 2, &nodes, attr_name, attr_value);
  return nodes.empty() ? std::string() : nodes.front()->text();
}

void CXmlDocument::GetTexts(std::string_view tag, std::string_view attr_name,
                            std::string_view attr_value, std::vector<std::string>* list) {
  std::vector<CXmlNode*> nodes;
  root_.FindNodes(tag, 2, &nodes, attr_name, attr_value);
  for (CXmlNode* node : nodes) list->push_back(node->text());
}

void CXmlDocument::GetAttributeStrings(std::string_view tag, std::vector<std::string>* list,
                                       std::string_view attr_name, std::string_view attr_value) {
  std::vector<CXmlNode*> nodes;
  root_.FindNodes(tag, 2, &nodes, attr_name, attr_value);
  for (CXmlNode* node : nodes) list->push_back(node->attribute_text());
}

// ---------------------------------------------------------------------------------------------

std::optional<std::string> NameAttribute(const CXmlNode& node, std::string_view name) {
  const AttributeMap& attributes = node.attributes();
  auto it = attributes.find(std::string(name));
  if (it == attributes.end()) return std::string();
  // Only a stand-in can mark a replaced byte; a value without one was not touched.
  if (node.start_tag_repaired() && it->second.find(kGbkStandIn) != std::string::npos) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<std::string> NameText(const CXmlNode& node) {
  const std::string& text = node.text();
  if (node.text_repaired() && text.find(kGbkStandIn) != std::string::npos) return std::nullopt;
  return text;
}

void ParseAttributes(std::string_view attribute_text, AttributeMap* map) {
  map->clear();
  std::string_view rest = attribute_text;
  while (!rest.empty() && IsSpaceByte(rest.front())) rest.remove_prefix(1);
  for (;;) {
    size_t eq = MbFind(rest, "=\"");
    if (eq == kNpos) break;
    size_t quote = MbFindChar(rest, '"', eq + 2);
    if (quote == kNpos) break;
    std::string_view name = rest.substr(0, eq);
    while (!name.empty() && IsSpaceByte(name.back())) name.remove_suffix(1);
    (*map)[std::string(name)] = std::string(rest.substr(eq + 2, quote - eq - 2));
    rest.remove_prefix(quote + 1);
    while (!rest.empty() && IsSpaceByte(rest.front())) rest.remove_prefix(1);
  }
}

std::string StripChildElements(std::string_view text) {
  size_t lt = FindMarkup(text, '<', 0, text.size());
  if (lt == kNone || FindMarkup(text, '>', lt + 1, text.size()) == kNone) {
    return std::string(text);
  }
  // Small texts (the usual case) are searched directly; large ones through an index of their
  // end tags, so that many unclosed start tags do not each scan the rest of the text.
  constexpr size_t kIndexFrom = 4096;
  std::unique_ptr<CloseTagIndex> index;
  if (text.size() >= kIndexFrom) index = std::make_unique<CloseTagIndex>(text);
  std::string result;
  result.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    lt = FindMarkup(text, '<', pos, text.size());
    if (lt == kNone) break;
    size_t gt = FindMarkup(text, '>', lt + 1, text.size());
    if (gt == kNone) break;
    result.append(text.substr(pos, lt - pos));
    std::string_view tag_text = TrimSpace(text.substr(lt + 1, gt - lt - 1));
    pos = gt + 1;
    if (tag_text.empty() || EndsWithSlash(tag_text)) continue;
    std::string close = "</" + std::string(TagName(tag_text)) + ">";
    size_t found;
    if (index != nullptr && close.find('>') == close.size() - 1) {
      found = index->Find(close, pos);
    } else {
      found = MbFind(text, close, pos);
    }
    if (found != kNone) pos = found + close.size();
  }
  result.append(text.substr(pos));
  return result;
}

int FindCloseTag(std::string_view tag, std::string_view text, int depth) {
  if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return -1;
  size_t found = ScanCloseTag(text, 0, text.size(), tag, depth, nullptr);
  return found == kNone ? -1 : static_cast<int>(found);
}

}  // namespace tomeva
