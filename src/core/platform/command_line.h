// Command lines: the one text (GBK) that names a program and its arguments, as the settings
// (the exit command), the updater and the exported Wait hand it over, and the list of words a
// program is started with. The rules are those of a POSIX shell without its expansions, so a
// line that works typed into a shell gives the same words here:
//
//   - white space (space, tab, CR, LF, VT, FF) outside quotes separates words;
//   - '...' keeps everything inside as it is ("\" too); a ' cannot occur inside;
//   - "..." keeps everything inside except that \" \\ \$ \` stand for the second character; any
//     other "\" inside is kept;
//   - outside quotes "\" makes the next character plain (a space, a quote, a "\"); a "\" at the
//     very end is kept;
//   - quoted and plain parts that touch form one word: a'b c'"d" is the word "ab cd", and '' is
//     an empty word;
//   - $, *, ?, ~, ;, |, & and the like are ordinary characters: nothing is expanded or run.
//
// A GBK double-byte character (a lead byte 0x81..0xFE and a trail byte 0x40..0xFE other than
// 0x7F) is one unit everywhere: its trail byte may be "\" (0x5C) and is then never an escape, so
// a path such as "\x95\x5C.txt" keeps its character. The trail range excludes the space and the
// quotes, so no other byte changes meaning inside a character.
#ifndef TOMEVA_CORE_PLATFORM_COMMAND_LINE_H_
#define TOMEVA_CORE_PLATFORM_COMMAND_LINE_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

// The words of `command_line`. False, with `*words` empty, when a quote is left open (the line
// names no program one could be sure of); an empty or all-blank line gives true and no words.
bool SplitCommandLine(std::string_view command_line, std::vector<std::string>* words);

// `word` written so that SplitCommandLine reads it back as exactly one word, whatever its bytes:
// unchanged when it is made only of letters, digits, GBK characters and _-./=:,+@% ; otherwise
// in single quotes, a ' inside written as '\''. The empty word is ''.
std::string QuoteArgument(std::string_view word);

// The words quoted with QuoteArgument and joined with single spaces.
std::string JoinCommandLine(const std::vector<std::string>& words);

// The time-out of Wait in seconds that means "no limit" (the largest 32-bit unsigned value).
inline constexpr uint32_t kWaitWithoutLimit = 4294967295u;

// How long Wait blocks its caller for a time-out of `timeout_seconds`: that many seconds in
// milliseconds, or no limit (nullopt) for kWaitWithoutLimit. The product is taken in 64 bits, so
// a long time-out is kept in full rather than wrapped round to a short one.
std::optional<std::chrono::milliseconds> WaitTimeLimit(uint32_t timeout_seconds);

}  // namespace tomeva

#endif  // TOMEVA_CORE_PLATFORM_COMMAND_LINE_H_
