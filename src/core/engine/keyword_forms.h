// The forms of a query's words that a record holds, and how the engine read a query: what the
// pages mark and what the window tells the reader after a search. Both ask the engine, which
// folds traditional and simplified characters, full-width letters and digits, and letter case
// as one; the marks themselves stay byte-exact (MarkKeywords, the page's marking), so every form
// a record holds is handed to them on its own.
//
// Texts are GBK. Any thread; nothing is kept between calls.
#ifndef TOMEVA_CORE_ENGINE_KEYWORD_FORMS_H_
#define TOMEVA_CORE_ENGINE_KEYWORD_FORMS_H_

#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

// `keyword`, then every other text of `text` that folds to what `keyword` folds to, in order of
// first occurrence; texts that differ only in the case of ASCII letters count as one. Mark-up
// (from "<" to ">") is read as nothing, so a word that tags split ("<b>明</b>月") is found as
// "明月". Empty for an empty keyword; just `keyword` when the engine cannot fold.
std::vector<std::string> KeywordFormsIn(std::string_view keyword, std::string_view text);

// `keywords` (apart by single spaces) with, after each, the other forms of it that the plain text
// `text` holds, apart by spaces: the keyword string for the PDF highlight, widened over the PDF's
// text copy.
std::string WidenKeywords(const std::string& keywords, std::string_view text);

// How the first index of `index_paths` reads `expression` with `default_field`: the engine's
// lines (表达式, 字段, 短语, 优先, 繁简通查, ...). "" when there is no index or it cannot be
// opened.
std::string QueryReading(const std::vector<std::string>& index_paths, std::string_view expression,
                         std::string_view default_field);

// The run that the reading ranks first (its "优先" line, the text between the quotes); "" when
// there is none.
std::string TypedRunOf(std::string_view reading);

}  // namespace tomeva

#endif  // TOMEVA_CORE_ENGINE_KEYWORD_FORMS_H_
