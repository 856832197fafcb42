// The poems the sample library is made of, read from the Chinese fortune files (UTF-8, entries
// separated by "%" lines, colour escapes around the heading lines) and handed out as GBK.
#ifndef TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_CORPUS_H_
#define TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_CORPUS_H_

#include <string>
#include <string_view>
#include <vector>

namespace tomeva::sample {

// One poem; every text is GBK.
struct Poem {
  std::string title;   // without the 《》 marks
  std::string author;  // without the "作者：" label and life dates; "佚名" for the classics
  std::string part;    // classics only: the part ("國風", "小雅", ...)
  std::string group;   // classics only: the state or decade ("周南", "鹿鳴之什", ...)
  std::vector<std::string> lines;  // body lines, trimmed; a single "" marks a stanza break
};

// Entries of a fortune file: the text between "%" lines, colour escapes removed.
std::vector<std::string> SplitFortuneEntries(std::string_view utf8_file_text);

// Parses an entry of the Tang or Song anthology: a heading line with the title in 《》 (optionally
// after a "题目:" label and followed by a note such as "二首"), an author line "作者：name" or
// "作者:name（dates）", then the body. False when the entry has no title or no body.
bool ParseAnthologyEntry(std::string_view utf8_entry, Poem* poem);

// Parses an entry of the classic of poetry: a heading 《詩經‧ part‧ group‧ title》 and an
// indented body. False for entries of any other kind.
bool ParseClassicEntry(std::string_view utf8_entry, Poem* poem);

// Reads every poem of a fortune file with `parse`; an empty list when the file cannot be read.
std::vector<Poem> ReadPoems(const std::string& path, bool (*parse)(std::string_view, Poem*));

// Maps UTF-8 text to GBK, first replacing the characters the code page lacks that the corpus is
// known to use (the middle dots U+30FB and U+2027 become U+00B7; characters outside the basic
// plane become U+25A1), so that nothing of a poem turns into "?".
std::string CorpusTextToGbk(std::string_view utf8);

}  // namespace tomeva::sample

#endif  // TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_CORPUS_H_
