// The one GBK (code page 936) codec of the system. Every text inside core is a GBK byte string;
// conversion to and from UTF-8 happens only at the borders (the GUI, the engine, the tools).
#ifndef TOMEVA_BASE_GBK_H_
#define TOMEVA_BASE_GBK_H_

#include <string>
#include <string_view>

namespace tomeva {

// Converts GBK bytes to UTF-8. Bytes that are not valid GBK become U+FFFD each; a NUL byte is kept.
// Never fails and never throws. Thread-safe.
std::string GbkToUtf8(std::string_view gbk);

// Converts UTF-8 to GBK. A character that GBK cannot hold, or a byte that is not valid UTF-8,
// becomes "?". Never fails and never throws. Thread-safe.
std::string Utf8ToGbk(std::string_view utf8);

// True when `utf8` is well-formed UTF-8.
bool IsValidUtf8(std::string_view utf8);

}  // namespace tomeva

#endif  // TOMEVA_BASE_GBK_H_
