// The forms of a query's words that a record holds: what the pages mark. The engine folds
// traditional and simplified characters, full-width letters and digits, and letter case as one; the marks themselves stay byte-exact (MarkKeywords, the page's marking), so every form
// a record holds is handed to them on its own.
//
// Texts are GBK. Any thread the engine may be called on; nothing is kept between calls.
#ifndef TOMEVA_CORE_ENGINE_KEYWORD_FORMS_H_
#define TOMEVA_CORE_ENGINE_KEYWORD_FORMS_H_

#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

class Engine;

// For each of `keywords`: the keyword, then every other text of `text` that folds to what the
// keyword folds to, in order of first occurrence; texts that differ only in the case of ASCII
// letters count as one. The text is folded once for all the keywords. With `markup`, mark-up
// (from "<" to ">") is read as nothing, so a word that tags split ("<b>明</b>月") is found as
// "明月". An empty keyword has no forms; without an engine, or when it cannot fold, each keyword
// is its only form.
std::vector<std::vector<std::string>> KeywordFormsIn(Engine* engine,
                                                     const std::vector<std::string>& keywords,
                                                     std::string_view text, bool markup);

// The words of `keywords` that are not empty, each followed by the other forms of it that the
// plain text `text` holds: the words of the PDF highlight, widened over the PDF's text copy.
// `keywords` as they are without an engine, or when none of them has a byte.
std::vector<std::string> WidenKeywords(Engine* engine, const std::vector<std::string>& keywords,
                                       std::string_view text);

}  // namespace tomeva

#endif  // TOMEVA_CORE_ENGINE_KEYWORD_FORMS_H_
