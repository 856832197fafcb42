#include "kms/terms.h"

#include <unicode/uchar.h>

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

std::vector<Token> Tokenize(std::string_view utf8, uint32_t first_pos) {
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
    char32_t c = NextCodePoint(utf8, &i);
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width ASCII forms
    if (IsCjkCodePoint(c)) {
      flush_word();
      std::string ch;
      AppendUtf8(c, &ch);
      emit(std::move(ch), true);
    } else if (IsWordCodePoint(c)) {
      AppendUtf8(static_cast<char32_t>(u_tolower(static_cast<UChar32>(c))), &word);
    } else {
      flush_word();
      gap = true;
    }
  }
  flush_word();
  return tokens;
}

void IndexText(std::string_view utf8, const std::string& prefix, uint32_t* next_pos,
               Xapian::Document* doc) {
  std::vector<Token> tokens = Tokenize(utf8, *next_pos);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    doc->add_posting(prefix + t.text, t.pos);
    // Bigrams carry no positions: phrases are checked on the unigrams, and the bigrams only
    // narrow the candidates (and answer two-character queries alone). Positions for them would
    // double the index and halve the build speed for nothing.
    if (AdjacentCjk(tokens, i)) doc->add_term(prefix + t.text + tokens[i + 1].text);
  }
  if (!tokens.empty()) *next_pos = tokens.back().pos + 2;
}

bool PhraseQuery(std::string_view utf8, const std::string& prefix, Xapian::Query* query) {
  std::vector<Token> tokens = Tokenize(utf8);
  if (tokens.empty()) return false;
  if (tokens.size() == 1) {
    *query = Xapian::Query(prefix + tokens[0].text);
    return true;
  }
  std::vector<Xapian::Query> bigrams;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (AdjacentCjk(tokens, i)) bigrams.emplace_back(prefix + tokens[i].text + tokens[i + 1].text);
  }
  if (tokens.size() == 2 && bigrams.size() == 1) {
    *query = bigrams[0];  // a bigram exists exactly where the two characters are adjacent
    return true;
  }
  std::vector<Xapian::Query> unigrams;
  unigrams.reserve(tokens.size());
  for (const Token& t : tokens) unigrams.emplace_back(prefix + t.text);
  // Tokens on consecutive positions make an exact phrase; a phrase that spans a separator keeps
  // the order of its tokens within the same span of positions.
  Xapian::termpos window = tokens.back().pos - tokens.front().pos + 1;
  Xapian::Query phrase(Xapian::Query::OP_PHRASE, unigrams.begin(), unigrams.end(), window);
  if (bigrams.empty()) {
    *query = phrase;
  } else {
    // The phrase alone decides the match; its bigrams are rarer than its characters and let the
    // match skip to the few documents worth checking positions in.
    Xapian::Query filter(Xapian::Query::OP_AND, bigrams.begin(), bigrams.end());
    *query = Xapian::Query(Xapian::Query::OP_AND, filter, phrase);
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
