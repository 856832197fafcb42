// Simplified and traditional characters read as one: each character of the fold table (built
// with the engine from ICU's Traditional-Simplified transliterator over every GBK character)
// stands for its simplified form, character by character. Folding never changes the number of
// characters, so a folded text's characters line up with the original's.
#ifndef TOMEVA_KMS_FOLD_H_
#define TOMEVA_KMS_FOLD_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva::kms {

struct FoldPair {
  char32_t from;  // a traditional form
  char32_t to;    // its simplified form, itself never a `from`
};

// The whole table, sorted by `from`.
std::span<const FoldPair> FoldPairs();

// The simplified form of `c`, or `c` itself.
char32_t FoldHan(char32_t c);

// True when `c` is one side of a pair: a query holding it also finds other forms.
bool HasOtherForms(char32_t c);

// A GBK text folded as the current term scheme reads it (simplified and traditional characters
// as one, full-width ASCII forms as ASCII, ASCII letters in lower case), with, for each byte of
// the result and one past its end, the offset in `gbk` of the character it came from.
struct FoldedText {
  std::string gbk;
  std::vector<int> source_offsets;  // gbk.size() + 1 entries
};
FoldedText FoldGbkText(std::string_view gbk);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_FOLD_H_
