#include "kms/terms.h"

#include <unicode/uchar.h>

#include "kms/fold.h"

namespace tomeva::kms {
namespace {

// Decodes one UTF-8 sequence at `*i`; returns U+FFFD (and advances one byte) on a malformed one.
char32_t NextCodePoint(std::string_view s, size_t* i) {
  unsigned char c = static_cast<unsigned char>(s[*i]);
  if (c < 0x80) {
    ++*i;
    return c;
  }
  size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (len == 0 || c > 0xF4 || *i + len > s.size()) {
    ++*i;
    return 0xFFFD;
  }
  char32_t cp = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    unsigned char t = static_cast<unsigned char>(s[*i + k]);
    if ((t & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (t & 0x3F);
  }
  *i += len;
  return cp;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsWordCodePoint(char32_t c) {
  if (c < 0x80) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  }
  return u_isalnum(static_cast<UChar32>(c)) != 0;
}

// Xapian refuses terms longer than this (prefix included).
constexpr size_t kMaxTermBytes = 240;

// Cuts `s` to at most `limit` bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string* s, size_t limit) {
  if (s->size() <= limit) return;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>((*s)[end]) & 0xC0) == 0x80) --end;
  s->resize(end);
}

bool AdjacentCjk(const std::vector<Token>& tokens, size_t i) {
  return tokens[i].cjk && i + 1 < tokens.size() && tokens[i + 1].cjk &&
         tokens[i + 1].pos == tokens[i].pos + 1;
}

}  // namespace

bool IsCjkCodePoint(char32_t c) {
  return (c >= 0x2E80 && c <= 0x2FDF) ||  // radicals
         (c >= 0x3005 && c <= 0x3007) ||  // iteration mark, closing mark, ideographic zero
         (c >= 0x3021 && c <= 0x3029) ||  // Hangzhou numerals
         (c >= 0x3040 && c <= 0x30FF) ||  // kana
         (c >= 0x3100 && c <= 0x31BF) ||  // bopomofo, Hangul compatibility jamo
         (c >= 0x31F0 && c <= 0x31FF) ||  // kana extensions
         (c >= 0x3400 && c <= 0x4DBF) ||  // extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||  // unified ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||  // Hangul syllables
         (c >= 0xF900 && c <= 0xFAFF) ||  // compatibility ideographs
         (c >= 0x20000 && c <= 0x3FFFF);  // supplementary ideographs
}

bool IsIndexedSymbol(char32_t c) {
  if (c < 0x80 || c == 0xFFFD) return false;
  if (c >= 0x2030 && c <= 0x2033) return true;  // ‰ ‱ ′ ″: units, though Unicode calls them Po
  constexpr uint32_t kMask =
      U_GC_SO_MASK | U_GC_SM_MASK | U_GC_SC_MASK | U_GC_SK_MASK | U_GC_NO_MASK | U_GC_NL_MASK;
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & kMask) != 0;
}

namespace {

// Characters the folding scheme neither indexes nor reads as a separator: what they are is not
// known (private use, unassigned, the replacement of bytes that were not text) or they only
// modify a neighbour (marks, format and control characters other than white space).
bool IsUnindexable(char32_t c) {
  if (c == 0xFFFD) return true;
  if (c < 0x80) return false;
  constexpr uint32_t kMask = U_GC_CO_MASK | U_GC_CN_MASK | U_GC_CS_MASK | U_GC_CF_MASK |
                             U_GC_CC_MASK | U_GC_MN_MASK | U_GC_MC_MASK | U_GC_ME_MASK;
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & kMask) != 0 &&
         !u_isspace(static_cast<UChar32>(c));
}

char32_t FoldCodePoint(char32_t c, bool fold) {
  if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFEE0;  // full-width ASCII forms
  return fold ? FoldHan(c) : c;
}

}  // namespace

std::string FoldForScheme(std::string_view utf8, TermScheme scheme) {
  std::string out;
  out.reserve(utf8.size());
  const bool fold = Folds(scheme);
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    char32_t c = NextCodePoint(utf8, &i);
    char32_t f = FoldCodePoint(c, fold);
    if (f == c) {
      out.append(utf8.substr(start, i - start));
    } else {
      AppendUtf8(f, &out);
    }
  }
  return out;
}

std::vector<Token> Tokenize(std::string_view utf8, uint32_t first_pos, TermScheme scheme,
                            bool* unindexed) {
  const bool fold = Folds(scheme);
  std::vector<Token> tokens;
  uint32_t pos = first_pos;
  bool gap = false;
  std::string word;
  auto emit = [&](std::string text, bool cjk) {
    if (gap && !tokens.empty()) ++pos;
    gap = false;
    tokens.push_back({std::move(text), cjk, pos++});
  };
  auto flush_word = [&] {
    if (word.empty()) return;
    CutUtf8(&word, kMaxWordBytes);
    emit(std::move(word), false);
    word.clear();
  };
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t c = FoldCodePoint(NextCodePoint(utf8, &i), fold);
    if (IsCjkCodePoint(c) || (fold && IsIndexedSymbol(c))) {
      flush_word();
      std::string ch;
      AppendUtf8(c, &ch);
      emit(std::move(ch), true);
    } else if (IsWordCodePoint(c)) {
      AppendUtf8(static_cast<char32_t>(u_tolower(static_cast<UChar32>(c))), &word);
    } else {
      if (fold && unindexed != nullptr && IsUnindexable(c)) *unindexed = true;
      flush_word();
      gap = true;
    }
  }
  flush_word();
  return tokens;
}

namespace {

// The marks of a character standing directly before or after a word; neither occurs in a token.
constexpr char kBeforeWordMark[] = "$";
constexpr char kAfterWordMark[] = "^";

bool AdjacentWord(const std::vector<Token>& tokens, size_t i) {
  return i + 1 < tokens.size() && !tokens[i + 1].cjk && tokens[i + 1].pos == tokens[i].pos + 1;
}

bool FollowsAdjacentCjk(const std::vector<Token>& tokens, size_t i) {
  return i > 0 && AdjacentCjk(tokens, i - 1);
}

bool FollowsAdjacentWord(const std::vector<Token>& tokens, size_t i) {
  return i > 0 && !tokens[i - 1].cjk && tokens[i - 1].pos + 1 == tokens[i].pos;
}

void IndexCharPositions(const std::vector<Token>& tokens, const std::string& prefix,
                        Xapian::Document* doc) {
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    doc->add_posting(prefix + t.text, t.pos);
    if (AdjacentCjk(tokens, i)) doc->add_term(prefix + t.text + tokens[i + 1].text);
  }
}

void IndexPairPositions(const std::vector<Token>& tokens, const std::string& prefix,
                        Xapian::Document* doc) {
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (!t.cjk) {
      doc->add_posting(prefix + t.text, t.pos);
      continue;
    }
    doc->add_term(prefix + t.text);
    if (AdjacentCjk(tokens, i)) {
      doc->add_posting(prefix + t.text + tokens[i + 1].text, t.pos);
    } else if (AdjacentWord(tokens, i)) {
      doc->add_posting(prefix + t.text + kBeforeWordMark, t.pos);
    }
    if (FollowsAdjacentWord(tokens, i)) doc->add_posting(prefix + kAfterWordMark + t.text, t.pos);
  }
}

// Older indexes: an exact phrase of the characters, narrowed by the AND of its pairs.
Xapian::Query CharPositionsPhrase(const std::vector<Token>& tokens, const std::string& prefix) {
  std::vector<Xapian::Query> pairs;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (AdjacentCjk(tokens, i)) pairs.emplace_back(prefix + tokens[i].text + tokens[i + 1].text);
  }
  if (tokens.size() == 2 && pairs.size() == 1) return pairs[0];
  std::vector<Xapian::Query> unigrams;
  unigrams.reserve(tokens.size());
  for (const Token& t : tokens) unigrams.emplace_back(prefix + t.text);
  Xapian::termpos window = tokens.back().pos - tokens.front().pos + 1;
  Xapian::Query phrase(Xapian::Query::OP_PHRASE, unigrams.begin(), unigrams.end(), window);
  if (pairs.empty()) return phrase;
  Xapian::Query filter(Xapian::Query::OP_AND, pairs.begin(), pairs.end());
  return Xapian::Query(Xapian::Query::OP_AND, filter, phrase);
}

// A run of L >= 4 adjacent characters as pairs at offsets 0, 2, 4, ... and L - 2, in order within
// L - 1 positions, instead of all L - 1 pairs at consecutive positions: half the posting lists
// to walk, which is most of a phrase's cost. It is still exact: were a pair nearer to the one
// before it than in the phrase, the character they would share stands at two neighbouring
// places of the phrase, and the cover is only used where those two differ. Every pair between
// two matched ones exists in the text too, since positions without a separator between them
// hold adjacent characters. False when the tokens are not such a run.
bool RunCover(const std::vector<Token>& tokens, const std::string& prefix, Xapian::Query* query) {
  const size_t n = tokens.size();
  if (n < 4) return false;
  for (size_t i = 0; i + 1 < n; ++i) {
    if (!AdjacentCjk(tokens, i)) return false;
  }
  std::vector<Xapian::Query> parts;
  for (size_t i = 0;; i += 2) {
    if (i + 2 >= n) i = n - 2;  // the last pair, overlapping the one before when L is odd
    if (i >= 2 && i % 2 == 0 && tokens[i - 1].text == tokens[i].text) return false;
    parts.emplace_back(prefix + tokens[i].text + tokens[i + 1].text);
    if (i == n - 2) break;
  }
  *query = Xapian::Query(Xapian::Query::OP_PHRASE, parts.begin(), parts.end(),
                         static_cast<Xapian::termcount>(n - 1));
  return true;
}

// Each token position of the phrase gets the term that must stand there in a matching text:
// a word, the pair a character makes with the next, or a character with the mark of the word
// beside it. The last character of a run needs no term of its own when the pair before it holds
// it. A character with separators (or the phrase's ends) on both sides has no positioned term
// in the text to stand for it: it is only required somewhere in the text, so such a phrase may
// find more than it holds but never less.
Xapian::Query PairPositionsPhrase(const std::vector<Token>& tokens, const std::string& prefix) {
  if (Xapian::Query cover; RunCover(tokens, prefix, &cover)) return cover;
  std::vector<Xapian::Query> parts, loose;
  Xapian::termpos first = 0, last = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    Xapian::Query part;
    if (!t.cjk) {
      part = Xapian::Query(prefix + t.text);
    } else if (AdjacentCjk(tokens, i)) {
      part = Xapian::Query(prefix + t.text + tokens[i + 1].text);
    } else if (AdjacentWord(tokens, i)) {
      part = Xapian::Query(prefix + t.text + kBeforeWordMark);
    } else if (FollowsAdjacentCjk(tokens, i)) {
      continue;
    } else if (FollowsAdjacentWord(tokens, i)) {
      part = Xapian::Query(prefix + kAfterWordMark + t.text);
    } else {
      loose.emplace_back(prefix + t.text);
      continue;
    }
    if (parts.empty()) first = t.pos;
    last = t.pos;
    parts.push_back(std::move(part));
  }
  Xapian::Query query;
  if (parts.size() == 1) {
    query = parts[0];
  } else if (parts.size() > 1) {
    query = Xapian::Query(Xapian::Query::OP_PHRASE, parts.begin(), parts.end(), last - first + 1);
  }
  if (loose.empty()) return query;
  // One AND of them all: a phrase of many spaced characters must not become a nest as deep.
  if (!query.empty()) loose.insert(loose.begin(), std::move(query));
  return loose.size() == 1 ? loose.front()
                           : Xapian::Query(Xapian::Query::OP_AND, loose.begin(), loose.end());
}

}  // namespace

void IndexText(std::string_view utf8, const std::string& prefix, TermScheme scheme,
               uint32_t* next_pos, Xapian::Document* doc) {
  std::vector<Token> tokens = Tokenize(utf8, *next_pos, scheme);
  if (scheme == TermScheme::kCharPositions) {
    IndexCharPositions(tokens, prefix, doc);
  } else {
    IndexPairPositions(tokens, prefix, doc);
  }
  if (!tokens.empty()) *next_pos = tokens.back().pos + 2;
}

bool PhraseQuery(std::string_view utf8, const std::string& prefix, TermScheme scheme,
                 Xapian::Query* query) {
  bool unindexed = false;
  std::vector<Token> tokens = Tokenize(utf8, 1, scheme, &unindexed);
  if (unindexed) {
    // Read as a separator it would let the phrase match texts that do not hold it.
    *query = Xapian::Query::MatchNothing;
    return true;
  }
  if (tokens.empty()) return false;
  if (tokens.size() == 1) {
    *query = Xapian::Query(prefix + tokens[0].text);
  } else if (scheme == TermScheme::kCharPositions) {
    *query = CharPositionsPhrase(tokens, prefix);
  } else {
    *query = PairPositionsPhrase(tokens, prefix);
  }
  return true;
}

std::string WholeValueTerm(std::string_view utf8, const std::string& prefix) {
  size_t b = 0, e = utf8.size();
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (b < e && space(utf8[b])) ++b;
  while (e > b && space(utf8[e - 1])) --e;
  std::string term = prefix + std::string(utf8.substr(b, e - b));
  CutUtf8(&term, kMaxTermBytes);
  return term;
}

}  // namespace tomeva::kms
