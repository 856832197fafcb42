#include "core/engine/keyword_forms.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "base/mbstring.h"
#include "core/engine/engine.h"

namespace tomeva {
namespace {

// `text` without its mark-up.
std::string WithoutTags(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  bool in_tag = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (in_tag) {
      if (c == '>') in_tag = false;
      continue;
    }
    if (c == '<') {
      in_tag = true;
      continue;
    }
    // A double-byte character is kept whole: its second byte may look like "<" or ">".
    const size_t width = c >= 0x81 && i + 1 < text.size() ? 2 : 1;
    plain.append(text.substr(i, width));
    i += width - 1;
  }
  return plain;
}

// A text (without its mark-up, for a page), folded by the engine, with the map back.
struct FoldedPage {
  std::string plain;
  FoldedText text;
  bool ok = false;
};

// The engine's folded form of `text`; false when it could not fold or its map back is not one
// offset per folded byte and one more.
bool Fold(Engine& engine, std::string_view text, FoldedText* folded) {
  std::optional<FoldedText> result = engine.Fold(text);
  if (!result || result->offsets.size() != result->folded.size() + 1) return false;
  *folded = std::move(*result);
  return true;
}

FoldedPage FoldPage(Engine& engine, std::string_view text, bool markup) {
  FoldedPage page;
  // The engine folds up to a NUL byte; a record never holds one, but a page file might.
  text = text.substr(0, text.find('\0'));
  page.plain = markup ? WithoutTags(text) : std::string(text);
  page.ok = Fold(engine, page.plain, &page.text);
  return page;
}

std::vector<std::string> FormsOn(Engine& engine, const FoldedPage& page, const std::string& key) {
  if (key.empty()) return {};
  FoldedText key_text;
  if (!page.ok || !Fold(engine, key, &key_text) || key_text.folded.empty()) return {key};
  const std::string& folded_key = key_text.folded;
  // The keyword itself comes first, as the pages always marked it; a form that differs from one
  // already listed only in the case of its letters is left out, since the page's marking
  // ignores that case.
  std::vector<std::string> forms = {key};
  std::vector<std::string> seen = {ToLowerAscii(key)};
  const std::string& folded = page.text.folded;
  const std::vector<int>& offsets = page.text.offsets;
  for (size_t at = MbFind(folded, folded_key, 0); at != std::string::npos;
       at = MbFind(folded, folded_key, at + folded_key.size())) {
    const size_t begin = static_cast<size_t>(offsets[at]);
    const size_t end = static_cast<size_t>(offsets[at + folded_key.size()]);
    if (begin >= end || end > page.plain.size()) continue;
    // The page marks text, which holds the form without the mark-up that may split it.
    std::string form = page.plain.substr(begin, end - begin);
    std::string lower = ToLowerAscii(form);
    if (std::find(seen.begin(), seen.end(), lower) != seen.end()) continue;
    seen.push_back(std::move(lower));
    forms.push_back(std::move(form));
  }
  return forms;
}

}  // namespace

std::vector<std::vector<std::string>> KeywordFormsIn(Engine* engine,
                                                     const std::vector<std::string>& keywords,
                                                     std::string_view text, bool markup) {
  std::vector<std::vector<std::string>> forms;
  forms.reserve(keywords.size());
  if (engine == nullptr) {
    for (const std::string& key : keywords) {
      forms.push_back(key.empty() ? std::vector<std::string>{} : std::vector<std::string>{key});
    }
    return forms;
  }
  // Folded once for all the keywords: a page or a text copy may run to megabytes.
  const FoldedPage page = FoldPage(*engine, text, markup);
  for (const std::string& key : keywords) forms.push_back(FormsOn(*engine, page, key));
  return forms;
}

std::vector<std::string> WidenKeywords(Engine* engine, const std::vector<std::string>& keywords,
                                       std::string_view text) {
  std::vector<std::string> words;
  for (const std::string& word : keywords) {
    if (!word.empty()) words.push_back(word);
  }
  if (words.empty() || engine == nullptr) return keywords;
  std::vector<std::string> widened;
  for (std::vector<std::string>& forms : KeywordFormsIn(engine, words, text, false)) {
    for (std::string& form : forms) widened.push_back(std::move(form));
  }
  return widened;
}

}  // namespace tomeva
