#include "core/engine/keyword_forms.h"

#include <algorithm>

#include "core/base/gbk.h"
#include "core/base/mbstring.h"
#include "kms/kms.h"

namespace tomeva {
namespace {

constexpr char kCharset[] = "GBK";

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

// The engine's folded form of `text`, with the offset in `text` of each folded byte (and last
// text.size()). False when the engine could not fold it.
bool Fold(const std::string& text, std::string* folded, std::vector<int>* offsets) {
  int* raw_offsets = nullptr;
  char* raw = KMS_Fold_Text(text.c_str(), kCharset, offsets != nullptr ? &raw_offsets : nullptr);
  if (raw == nullptr) return false;
  folded->assign(raw);
  if (offsets != nullptr && raw_offsets != nullptr) {
    offsets->assign(raw_offsets, raw_offsets + folded->size() + 1);
  }
  KMS_Free_Field(raw);
  if (raw_offsets != nullptr) KMS_Free_Offsets(raw_offsets);
  return offsets == nullptr || offsets->size() == folded->size() + 1;
}

// A text (without its mark-up, for a page), folded by the engine, with the map back.
struct FoldedText {
  std::string plain;
  std::string folded;
  std::vector<int> offsets;
  bool ok = false;
};

FoldedText FoldText(std::string_view text, bool markup) {
  FoldedText page;
  // The engine folds up to a NUL byte; a record never holds one, but a page file might.
  text = text.substr(0, text.find('\0'));
  page.plain = markup ? WithoutTags(text) : std::string(text);
  page.ok = Fold(page.plain, &page.folded, &page.offsets);
  return page;
}

std::vector<std::string> FormsOn(const FoldedText& page, const std::string& key) {
  if (key.empty()) return {};
  std::string folded_key;
  if (!page.ok || !Fold(key, &folded_key, nullptr) || folded_key.empty()) return {key};
  // The keyword itself comes first, as the pages always marked it; a form that differs from one
  // already listed only in the case of its letters is left out, since the page's marking
  // ignores that case.
  std::vector<std::string> forms = {key};
  std::vector<std::string> seen = {ToLowerAscii(key)};
  for (size_t at = MbFind(page.folded, folded_key, 0); at != std::string::npos;
       at = MbFind(page.folded, folded_key, at + folded_key.size())) {
    const size_t begin = static_cast<size_t>(page.offsets[at]);
    const size_t end = static_cast<size_t>(page.offsets[at + folded_key.size()]);
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

std::vector<std::string> KeywordFormsIn(std::string_view keyword, std::string_view text) {
  if (keyword.empty()) return {};
  return FormsOn(FoldText(text, /*markup=*/true), std::string(keyword));
}

std::string WidenKeywords(const std::string& keywords, std::string_view text) {
  std::vector<std::string> words;
  for (size_t start = 0; start < keywords.size();) {
    size_t end = keywords.find(' ', start);
    if (end == std::string::npos) end = keywords.size();
    if (end > start) words.push_back(keywords.substr(start, end - start));
    start = end + 1;
  }
  if (words.empty()) return keywords;
  // Folded once for all the words: a text copy may run to megabytes.
  const FoldedText page = FoldText(text, /*markup=*/false);
  std::string widened;
  for (const std::string& word : words) {
    for (const std::string& form : FormsOn(page, word)) {
      widened += (widened.empty() ? "" : " ") + form;
    }
  }
  return widened;
}

std::string QueryReading(const std::vector<std::string>& index_paths, std::string_view expression,
                         std::string_view default_field) {
  if (index_paths.empty()) return std::string();
  const std::string query(expression), field(default_field);
  char* raw = KMS_Query_Reading(index_paths.front().c_str(), query.c_str(), kCharset,
                                field.c_str());
  if (raw == nullptr) return std::string();
  std::string reading(raw);
  KMS_Free_Field(raw);
  return reading;
}

std::string TypedRunOf(std::string_view reading) {
  const std::string label = Utf8ToGbk("优先：");
  size_t at = reading.find(label);
  if (at == std::string_view::npos) return std::string();
  const size_t line_end = reading.find('\n', at);
  const std::string_view line = reading.substr(at, line_end == std::string_view::npos
                                                       ? std::string_view::npos
                                                       : line_end - at);
  const size_t open = line.find('"');
  const size_t close = line.rfind('"');
  if (open == std::string_view::npos || close <= open) return std::string();
  return std::string(line.substr(open + 1, close - open - 1));
}

}  // namespace tomeva
