// The engine's term scheme: how text (UTF-8) becomes positional terms, for documents and for
// queries alike. Both sides use the same tokeniser, so that a query phrase finds exactly the
// records whose text holds it. Every token has a position:
//   - a run of letters and digits other than CJK is one lower-cased word term at its position;
//   - a run of white space or punctuation advances the position by one more, so that a phrase
//     never matches across it;
//   - a CJK character is a unigram term without position (it answers one-character queries);
//     at its position stands the pair of it and the next character ("中国") when that is a CJK
//     character too. Where a character touches a word, the character with a mark stands there
//     as well: "年$" before a word, "^年" after one, so that "第3章" is "第$ 3 ^章".
// A phrase of CJK characters is then an exact phrase of its pairs: fewer position checks than
// one per character, on lists far shorter than a common character's.
//
// Indexes written before pairs carried positions (TermScheme::kCharPositions) put the position
// on each character and keep the pairs without positions; queries on them are built that way.
// Full-width ASCII forms count as their ASCII letters. Terms of a field other than "content"
// carry that field's prefix (see field_registry.h).
//
// The folding scheme (TermScheme::kFolded) lays terms out as the pair scheme does, and also:
//   - reads every character through the fold table (fold.h), so that simplified and traditional
//     forms are one term, in documents and queries alike;
//   - indexes symbols (circled and parenthesised numbers, Roman numerals, units, arrows: the
//     general categories So, Sm, Sc, Sk, No and Nl outside ASCII, and the units ‰ ‱ ′ ″) as
//     characters, paired with their neighbours like CJK characters;
//   - knows which characters it cannot index (private use, unassigned, controls, marks, the
//     replacement character): in a document they separate like punctuation, but a query word or
//     phrase holding one matches nothing, rather than more than it holds.
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

// How an index lays out its CJK terms; kept in the index so that queries match the documents.
enum class TermScheme {
  kCharPositions = 1,  // characters at positions, pairs without (older indexes)
  kPairPositions = 2,  // pairs and run markers at positions, characters without
  kFolded = 3,         // as kPairPositions, simplified/traditional folded, symbols indexed
};
inline constexpr TermScheme kCurrentTermScheme = TermScheme::kFolded;

// True for the schemes that fold and index symbols.
inline bool Folds(TermScheme scheme) { return scheme == TermScheme::kFolded; }

struct Token {
  std::string text;  // UTF-8: the lower-cased word, or the one character (CJK or symbol)
  bool cjk = false;  // a character token: paired with its neighbours
  uint32_t pos = 0;
};

// Splits UTF-8 text into tokens as `scheme` reads it, positions counting from `first_pos`. Bytes
// that are not valid UTF-8 act as separators. `unindexed`, when given, is set to true when the
// text holds a character the scheme cannot index (only the folding scheme tells). Never throws
// (beyond std::bad_alloc).
std::vector<Token> Tokenize(std::string_view utf8, uint32_t first_pos = 1,
                            TermScheme scheme = kCurrentTermScheme, bool* unindexed = nullptr);

// True for the code points that the tokeniser treats as CJK characters.
bool IsCjkCodePoint(char32_t c);

// True for the symbols that the folding scheme indexes as characters.
bool IsIndexedSymbol(char32_t c);

// The text as `scheme` reads it before splitting: each character folded (see fold.h) and
// full-width ASCII forms as ASCII; unchanged for the schemes that do not fold.
std::string FoldForScheme(std::string_view utf8, TermScheme scheme);

// Adds the terms of `utf8` under `prefix` to `doc`, positions from `*next_pos`; on return
// `*next_pos` is past the last position used plus a gap, so that a second value of the same field
// does not join the first in a phrase.
void IndexText(std::string_view utf8, const std::string& prefix, TermScheme scheme,
               uint32_t* next_pos, Xapian::Document* doc);

// The query for a phrase of text under `prefix`: a single term (one token, or the pair of two
// adjacent CJK characters), or an exact phrase, which matches exactly the texts holding the
// phrase. When the phrase spans separators its parts must appear in order within the same span
// (so "a b" also finds "ab"); in the pair scheme a lone CJK character between separators is only
// required somewhere in the text. Returns false when the text has no terms (only punctuation or
// space). In the folding scheme a text holding a character that cannot be indexed gives
// Xapian::Query::MatchNothing (and true).
bool PhraseQuery(std::string_view utf8, const std::string& prefix, TermScheme scheme,
                 Xapian::Query* query);

// The term of a whole, untokenised value (trimmed, cut to the term size limit).
std::string WholeValueTerm(std::string_view utf8, const std::string& prefix);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_TERMS_H_
