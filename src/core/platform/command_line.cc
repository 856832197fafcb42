#include "core/platform/command_line.h"

#include "base/mbstring.h"

namespace tomeva {
namespace {

// 2 when a GBK double-byte character starts at `pos`, else 1. Stricter than GbkCharLen: the
// trail byte must be one GBK allows, so that a lead byte followed by a quote or a space (bytes
// that are not text) never hides that quote or space.
size_t UnitLength(std::string_view text, size_t pos) {
  if (!IsGbkLead(static_cast<unsigned char>(text[pos])) || pos + 1 >= text.size()) return 1;
  const auto trail = static_cast<unsigned char>(text[pos + 1]);
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

bool IsPlainByte(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("_-./=:,+@%").find(c) != std::string_view::npos;
}

}  // namespace

bool SplitCommandLine(std::string_view line, std::vector<std::string>* words) {
  words->clear();
  std::string word;
  bool in_word = false;  // a word has begun (it may still be empty: '')
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (IsSpaceByte(c)) {
      if (in_word) words->push_back(std::move(word));
      word.clear();
      in_word = false;
      ++i;
      continue;
    }
    in_word = true;
    if (c == '\'') {
      size_t j = i + 1;
      while (j < line.size() && line[j] != '\'') j += UnitLength(line, j);
      if (j >= line.size()) {
        words->clear();
        return false;
      }
      word.append(line.substr(i + 1, j - i - 1));
      i = j + 1;
    } else if (c == '"') {
      size_t j = i + 1;
      for (;;) {
        if (j >= line.size()) {
          words->clear();
          return false;
        }
        const char d = line[j];
        if (d == '"') break;
        if (d == '\\' && j + 1 < line.size() &&
            std::string_view("\"\\$`").find(line[j + 1]) != std::string_view::npos) {
          word.push_back(line[j + 1]);
          j += 2;
          continue;
        }
        const size_t n = UnitLength(line, j);
        word.append(line.substr(j, n));
        j += n;
      }
      i = j + 1;
    } else if (c == '\\') {
      if (i + 1 >= line.size()) {
        word.push_back('\\');
        ++i;
      } else {
        const size_t n = UnitLength(line, i + 1);
        word.append(line.substr(i + 1, n));
        i += 1 + n;
      }
    } else {
      const size_t n = UnitLength(line, i);
      word.append(line.substr(i, n));
      i += n;
    }
  }
  if (in_word) words->push_back(std::move(word));
  return true;
}

std::string QuoteArgument(std::string_view word) {
  bool plain = !word.empty();
  for (size_t i = 0; plain && i < word.size();) {
    const size_t n = UnitLength(word, i);
    plain = n == 2 || IsPlainByte(word[i]);
    i += n;
  }
  if (plain) return std::string(word);
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

std::string JoinCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line.push_back(' ');
    line += QuoteArgument(word);
  }
  return line;
}

std::optional<std::chrono::milliseconds> WaitTimeLimit(uint32_t timeout_seconds) {
  if (timeout_seconds == kWaitWithoutLimit) return std::nullopt;
  return std::chrono::milliseconds(static_cast<int64_t>(timeout_seconds) * 1000);
}

}  // namespace tomeva
