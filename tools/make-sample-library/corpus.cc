#include "tools/make-sample-library/corpus.h"

#include <string>

#include "base/file_util.h"
#include "base/gbk.h"

namespace tomeva::sample {
namespace {

constexpr std::string_view kIdeographicSpace = "\u3000";

// Trims ASCII white space and ideographic spaces from both ends of a UTF-8 line.
std::string_view TrimUtf8(std::string_view s) {
  for (;;) {
    if (!s.empty() &&
        (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
      s.remove_prefix(1);
    } else if (s.starts_with(kIdeographicSpace)) {
      s.remove_prefix(kIdeographicSpace.size());
    } else {
      break;
    }
  }
  for (;;) {
    if (!s.empty() &&
        (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
      s.remove_suffix(1);
    } else if (s.ends_with(kIdeographicSpace)) {
      s.remove_suffix(kIdeographicSpace.size());
    } else {
      break;
    }
  }
  return s;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Appends body lines, keeping one "" between stanzas and none at either end. A few entries of
// the classic wrap each body line in the heading's marks ("《詩經‧ line》"); those are unwrapped.
void CollectBody(const std::vector<std::string_view>& lines, size_t first, Poem* poem) {
  constexpr std::string_view kWrapOpen = "《詩經\u2027", kWrapClose = "》";
  for (size_t i = first; i < lines.size(); ++i) {
    std::string_view line = TrimUtf8(lines[i]);
    if (line.starts_with(kWrapOpen) && line.ends_with(kWrapClose)) {
      line = TrimUtf8(
          line.substr(kWrapOpen.size(), line.size() - kWrapOpen.size() - kWrapClose.size()));
    }
    if (line.empty()) {
      if (!poem->lines.empty() && !poem->lines.back().empty()) poem->lines.emplace_back();
    } else {
      poem->lines.push_back(CorpusTextToGbk(line));
    }
  }
  while (!poem->lines.empty() && poem->lines.back().empty()) poem->lines.pop_back();
}

// Text between the first "《" and the following "》"; `rest` gets what follows the "》".
bool TakeBracketed(std::string_view line, std::string_view* inner, std::string_view* rest) {
  constexpr std::string_view kOpen = "《", kClose = "》";
  size_t open = line.find(kOpen);
  if (open == std::string_view::npos) return false;
  size_t close = line.find(kClose, open + kOpen.size());
  if (close == std::string_view::npos) return false;
  *inner = TrimUtf8(line.substr(open + kOpen.size(), close - open - kOpen.size()));
  *rest = TrimUtf8(line.substr(close + kClose.size()));
  return !inner->empty();
}

}  // namespace

std::string CorpusTextToGbk(std::string_view utf8) {
  std::string cleaned;
  cleaned.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0xF0 && i + 4 <= utf8.size()) {
      cleaned += "\u25A1";  // a white square stands in for a rare character GBK lacks
      i += 4;
    } else if (utf8.substr(i).starts_with("\u30FB") || utf8.substr(i).starts_with("\u2027")) {
      cleaned += "\u00B7";
      i += 3;
    } else {
      cleaned += utf8[i];
      ++i;
    }
  }
  return Utf8ToGbk(cleaned);
}

std::vector<std::string> SplitFortuneEntries(std::string_view text) {
  // Colour escapes (ESC [ digits/semicolons m) go first, so that headings compare plainly.
  std::string plain;
  plain.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      size_t j = i + 2;
      while (j < text.size() && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';')) ++j;
      if (j < text.size() && text[j] == 'm') {
        i = j;
        continue;
      }
    }
    plain += text[i];
  }
  std::vector<std::string> entries;
  std::string current;
  for (std::string_view line : SplitLines(plain)) {
    if (TrimUtf8(line) == "%") {
      entries.push_back(std::move(current));
      current.clear();
    } else {
      current.append(line);
      current += '\n';
    }
  }
  if (!TrimUtf8(current).empty()) entries.push_back(std::move(current));
  return entries;
}

bool ParseAnthologyEntry(std::string_view entry, Poem* poem) {
  *poem = Poem();
  std::vector<std::string_view> lines = SplitLines(entry);
  size_t i = 0;
  while (i < lines.size() && TrimUtf8(lines[i]).empty()) ++i;
  if (i + 1 >= lines.size()) return false;
  std::string_view inner, note;
  if (!TakeBracketed(lines[i], &inner, &note)) return false;
  poem->title = CorpusTextToGbk(std::string(inner) + std::string(note));
  std::string_view author = TrimUtf8(lines[i + 1]);
  for (std::string_view label : {"作者：", "作者:"}) {
    if (author.starts_with(label)) {
      author.remove_prefix(label.size());
      break;
    }
  }
  if (size_t dates = author.find("（"); dates != std::string_view::npos) {
    author = author.substr(0, dates);
  }
  poem->author = CorpusTextToGbk(TrimUtf8(author));
  CollectBody(lines, i + 2, poem);
  return !poem->lines.empty();
}

bool ParseClassicEntry(std::string_view entry, Poem* poem) {
  *poem = Poem();
  std::vector<std::string_view> lines = SplitLines(entry);
  size_t i = 0;
  while (i < lines.size() && TrimUtf8(lines[i]).empty()) ++i;
  if (i >= lines.size()) return false;
  std::string_view inner, note;
  if (!TakeBracketed(lines[i], &inner, &note) || !inner.starts_with("詩經")) return false;
  std::vector<std::string_view> parts;
  constexpr std::string_view kDot = "\u2027";
  size_t start = 0;
  for (;;) {
    size_t dot = inner.find(kDot, start);
    parts.push_back(TrimUtf8(
        inner.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start)));
    if (dot == std::string_view::npos) break;
    start = dot + kDot.size();
  }
  if (parts.size() < 3) return false;
  poem->part = CorpusTextToGbk(parts[1]);
  if (parts.size() >= 4) {
    std::string_view group = parts[2];
    // One heading names its state "邶风" where all others write "邶".
    if (parts[1] == "國風" && group.ends_with("风"))
      group.remove_suffix(std::string_view("风").size());
    poem->group = CorpusTextToGbk(group);
  }
  poem->title = CorpusTextToGbk(parts.back());
  poem->author = CorpusTextToGbk("佚名");
  CollectBody(lines, i + 1, poem);
  return !poem->lines.empty() && !poem->title.empty();
}

std::vector<Poem> ReadPoems(const std::string& path, bool (*parse)(std::string_view, Poem*)) {
  std::string text;
  std::vector<Poem> poems;
  if (!ReadWholeFile(path, &text)) return poems;
  for (const std::string& entry : SplitFortuneEntries(text)) {
    Poem poem;
    if (parse(entry, &poem)) poems.push_back(std::move(poem));
  }
  return poems;
}

}  // namespace tomeva::sample
