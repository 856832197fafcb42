// The words of a query text, for highlighting: ICU's dictionary-based word breaking (Chinese
// words, not n-grams), without white space, punctuation, the connectives AND, OR and NOT (any
// case) and field names written before ":".
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
