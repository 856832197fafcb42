#include "kms/keywords.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>
#include <mutex>

#include "core/base/mbstring.h"

namespace tomeva::kms {
namespace {

// Building a word iterator loads the dictionaries; clone one prototype instead.
std::unique_ptr<icu::BreakIterator> NewWordIterator() {
  static std::mutex mutex;
  static icu::BreakIterator* prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    icu::BreakIterator* it =
        icu::BreakIterator::createWordInstance(icu::Locale::getChinese(), status);
    if (U_FAILURE(status)) {
      delete it;
      return static_cast<icu::BreakIterator*>(nullptr);
    }
    return it;
  }();
  if (prototype == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  return std::unique_ptr<icu::BreakIterator>(prototype->clone());
}

bool IsAsciiIdentifier(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return !(s[0] >= '0' && s[0] <= '9');
}

}  // namespace

std::string ExtractKeywords(std::string_view utf8) {
  std::unique_ptr<icu::BreakIterator> it = NewWordIterator();
  if (!it) return "";
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  it->setText(text);
  std::string out;
  int32_t start = it->first();
  for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
    // Status below UBRK_WORD_NONE_LIMIT: spaces, punctuation and symbols.
    if (it->getRuleStatus() < UBRK_WORD_NONE_LIMIT) continue;
    std::string word;
    text.tempSubStringBetween(start, end).toUTF8String(word);
    if (EqualsNoCase(word, "AND") || EqualsNoCase(word, "OR") || EqualsNoCase(word, "NOT"))
      continue;
    // "title:" in a query names a field; it is not a word to look for.
    if (end < text.length() && text.charAt(end) == u':' && IsAsciiIdentifier(word)) continue;
    if (!out.empty()) out += ' ';
    out += word;
  }
  return out;
}

}  // namespace tomeva::kms
