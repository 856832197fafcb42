#include "kms/keywords.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>
#include <mutex>
#include <vector>

#include "base/mbstring.h"
#include "kms/terms.h"

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

// A symbol the engine indexes as a character. Full-width ASCII forms are read as their ASCII
// character, which is never one.
bool IsSymbol(char32_t c) { return !(c >= 0xFF01 && c <= 0xFF5E) && IsIndexedSymbol(c); }

// A kept stretch of the query: [begin, end) in UTF-16 units.
struct Piece {
  int32_t begin, end;
};

}  // namespace

std::string ExtractKeywords(std::string_view utf8) {
  std::unique_ptr<icu::BreakIterator> it = NewWordIterator();
  if (!it) return "";
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  it->setText(text);
  std::vector<Piece> pieces;
  int32_t start = it->first();
  for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
    // Status below UBRK_WORD_NONE_LIMIT: spaces, punctuation and symbols. Of these only the
    // symbols the engine indexes are kept, each character a piece of its own.
    if (it->getRuleStatus() < UBRK_WORD_NONE_LIMIT) {
      for (int32_t i = start; i < end;) {
        const int32_t at = i;
        const char32_t c = static_cast<char32_t>(text.char32At(i));
        i = text.moveIndex32(i, 1);
        if (IsSymbol(c)) pieces.push_back({at, i});
      }
      continue;
    }
    std::string word;
    text.tempSubStringBetween(start, end).toUTF8String(word);
    if (EqualsNoCase(word, "AND") || EqualsNoCase(word, "OR") || EqualsNoCase(word, "NOT"))
      continue;
    // "title:" in a query names a field; it is not a word to look for.
    if (end < text.length() && text.charAt(end) == u':' && IsAsciiIdentifier(word)) continue;
    pieces.push_back({start, end});
  }
  // The engine binds a symbol to the character or word right beside it ("第①章" is the pairs 第①
  // and ①章, "30℃" the word 30 and ℃ marked as following a word): a symbol and what touches it
  // are one keyword, so that the search holds them together as typed and the painted keyword
  // includes the symbol. Words touching only words stay apart, as words.
  std::string out;
  int32_t last_end = -1;
  char32_t last_char = 0;
  for (const Piece& p : pieces) {
    const char32_t first = static_cast<char32_t>(text.char32At(p.begin));
    const bool joined = p.begin == last_end && (IsSymbol(last_char) || IsSymbol(first));
    if (!out.empty() && !joined) out += ' ';
    text.tempSubStringBetween(p.begin, p.end).toUTF8String(out);
    last_end = p.end;
    last_char = static_cast<char32_t>(text.char32At(text.moveIndex32(p.end, -1)));
  }
  return out;
}

}  // namespace tomeva::kms
