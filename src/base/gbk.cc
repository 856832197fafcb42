#include "base/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace tomeva {
namespace {

// One conversion with iconv; on an invalid or incomplete sequence the offending input byte is
// skipped and `replacement` is written, so that no caller ever loses the rest of a text.
std::string Convert(const char* to, const char* from, std::string_view in,
                    std::string_view replacement) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  out.reserve(in.size() * 3 / 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char buffer[4096];
  while (src_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, dst - buffer);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: replace one byte (or one UTF-8 sequence) and go on.
    size_t skip = 1;
    if (std::string_view(from) == "UTF-8") {
      unsigned char c = static_cast<unsigned char>(*src);
      if (c >= 0xC2 && c <= 0xF4) {
        size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        skip = 1;
        while (skip < want && skip < src_left &&
               (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80) {
          ++skip;
        }
      }
    }
    if (skip > src_left) skip = src_left;
    src += skip;
    src_left -= skip;
    out.append(replacement);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* dst = buffer;
  size_t dst_left = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &dst_left);
  out.append(buffer, dst - buffer);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD"); }

std::string Utf8ToGbk(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8, "?"); }

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
             : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

namespace {

inline bool IsTrail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
}

// Length of the valid character at `i`, or 0 when the byte there is invalid.
inline size_t ValidCharLen(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c <= 0x80) return 1;
  if (c == 0xFF) return 0;
  return (i + 1 < s.size() && IsTrail(static_cast<unsigned char>(s[i + 1]))) ? 2 : 0;
}

}  // namespace

size_t FindInvalidGbk(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t n = ValidCharLen(text, i);
    if (n == 0) return i;
    i += n;
  }
  return std::string_view::npos;
}

namespace {

size_t Repair(std::string* text, std::vector<size_t>* positions) {
  size_t i = FindInvalidGbk(*text);
  if (i == std::string_view::npos) return 0;
  size_t replaced = 0;
  while (i < text->size()) {
    const size_t n = ValidCharLen(*text, i);
    if (n == 0) {
      (*text)[i] = kGbkStandIn;
      if (positions != nullptr) positions->push_back(i);
      ++replaced;
      ++i;
    } else {
      i += n;
    }
  }
  return replaced;
}

}  // namespace

size_t RepairGbk(std::string* text) { return Repair(text, nullptr); }

size_t RepairGbk(std::string* text, std::vector<size_t>* positions) {
  return Repair(text, positions);
}

std::string ValidGbk(std::string_view text) {
  std::string out(text);
  RepairGbk(&out);
  return out;
}

}  // namespace tomeva
