// The words of a query text, for highlighting and for the conjunction the automatic and natural
// modes search: ICU's dictionary-based word breaking (Chinese words, not n-grams), without white
// space, punctuation, the connectives AND, OR and NOT (any case) and field names written before
// ":". The symbols the engine indexes (see IsIndexedSymbol in terms.h: ①, ⅰ, ℃, ㎡, →) are kept,
// each joined to the word or character it touches ("第①章", "温度 30℃"), the way the engine binds
// them; punctuation it does not index (，。！ § ※) is dropped.
#ifndef TOMEVA_KMS_KEYWORDS_H_
#define TOMEVA_KMS_KEYWORDS_H_

#include <string>
#include <string_view>

namespace tomeva::kms {

// UTF-8 in, the words joined by single spaces out. Thread-safe; never throws (beyond
// std::bad_alloc); an empty string when ICU cannot segment.
std::string ExtractKeywords(std::string_view utf8);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_KEYWORDS_H_
