// The engine's term scheme: how text (UTF-8) becomes positional terms, for documents and for
// queries alike. Both sides use the same tokeniser, so that a query phrase finds exactly the
// records whose text holds it:
//   - a CJK character is a unigram term at its own position, and two adjacent CJK characters
//     also make a bigram term, which has no position (it narrows phrase matches and answers
//     two-character queries by itself);
//   - a run of other letters and digits is one lower-cased word term at one position;
//   - a run of white space or punctuation advances the position by one more, so that a phrase
//     never matches across it.
// Full-width ASCII forms count as their ASCII letters. Terms of a field other than "content"
// carry that field's prefix (see field_registry.h).
#ifndef TOMEVA_KMS_TERMS_H_
#define TOMEVA_KMS_TERMS_H_

#include <xapian.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva::kms {

// Longest word term kept, in bytes; longer words are cut (on a character boundary), the same way
// in documents and queries, so the cut cannot lose a match.
inline constexpr size_t kMaxWordBytes = 120;

struct Token {
  std::string text;  // UTF-8: the lower-cased word, or the one CJK character
  bool cjk = false;
  uint32_t pos = 0;
};

// Splits UTF-8 text into tokens, positions counting from `first_pos`. Bytes that are not valid
// UTF-8 act as separators. Never throws (beyond std::bad_alloc).
std::vector<Token> Tokenize(std::string_view utf8, uint32_t first_pos = 1);

// True for the code points that the tokeniser treats as CJK characters.
bool IsCjkCodePoint(char32_t c);

// Adds the terms of `utf8` under `prefix` to `doc`, positions from `*next_pos`; on return
// `*next_pos` is past the last position used plus a gap, so that a second value of the same field
// does not join the first in a phrase.
void IndexText(std::string_view utf8, const std::string& prefix, uint32_t* next_pos,
               Xapian::Document* doc);

// The query for a phrase of text under `prefix`: a single term (one token, or a bigram for two
// adjacent CJK characters), or an exact phrase of its tokens together with its bigrams, which
// matches exactly the texts holding the phrase. When the phrase spans separators its tokens must
// appear in order within the same span (so "a b" also finds "ab"). Returns false when the text
// has no terms (only punctuation or space).
bool PhraseQuery(std::string_view utf8, const std::string& prefix, Xapian::Query* query);

// The term of a whole, untokenised value (trimmed, cut to the term size limit).
std::string WholeValueTerm(std::string_view utf8, const std::string& prefix);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_TERMS_H_
