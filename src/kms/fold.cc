#include "kms/fold.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>

#include "base/gbk.h"

namespace tomeva::kms {
namespace {

constexpr FoldPair kPairs[] = {
#include "kms/fold_table.inc"
};

// The simplified forms that some traditional form folds to, sorted, for HasOtherForms.
const std::vector<char32_t>& Targets() {
  static const std::vector<char32_t>* targets = [] {
    auto* v = new std::vector<char32_t>();
    for (const FoldPair& p : kPairs) v->push_back(p.to);
    std::sort(v->begin(), v->end());
    v->erase(std::unique(v->begin(), v->end()), v->end());
    return v;
  }();
  return *targets;
}

// Bytes of the GBK character at `i`: two for a lead byte followed by a trail byte, else one.
size_t GbkCharLength(std::string_view s, size_t i) {
  unsigned char lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x81 || lead == 0xFF || i + 1 >= s.size()) return 1;
  unsigned char trail = static_cast<unsigned char>(s[i + 1]);
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

char32_t DecodeUtf8One(std::string_view u) {
  if (u.empty()) return 0xFFFD;
  unsigned char c = static_cast<unsigned char>(u[0]);
  if (c < 0x80) return c;
  size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  if (u.size() < len) return 0xFFFD;
  char32_t cp = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(u[k]) & 0x3F);
  return cp;
}

std::string EncodeUtf8One(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

}  // namespace

std::span<const FoldPair> FoldPairs() { return kPairs; }

char32_t FoldHan(char32_t c) {
  if (c < kPairs[0].from) return c;  // ASCII, Latin, kana and most symbols come before any pair
  auto it = std::lower_bound(std::begin(kPairs), std::end(kPairs), c,
                             [](const FoldPair& p, char32_t v) { return p.from < v; });
  return it != std::end(kPairs) && it->from == c ? it->to : c;
}

bool HasOtherForms(char32_t c) {
  if (FoldHan(c) != c) return true;
  const std::vector<char32_t>& t = Targets();
  return std::binary_search(t.begin(), t.end(), c);
}

FoldedText FoldGbkText(std::string_view gbk) {
  FoldedText out;
  out.gbk.reserve(gbk.size());
  out.source_offsets.reserve(gbk.size() + 1);
  for (size_t i = 0; i < gbk.size();) {
    size_t len = GbkCharLength(gbk, i);
    std::string_view ch = gbk.substr(i, len);
    std::string folded(ch);
    if (len == 1) {
      char c = ch[0];
      if (c >= 'A' && c <= 'Z') folded[0] = static_cast<char>(c - 'A' + 'a');
    } else {
      char32_t cp = DecodeUtf8One(GbkToUtf8(ch));
      char32_t f = cp;
      if (f >= 0xFF01 && f <= 0xFF5E) f -= 0xFEE0;  // full-width ASCII forms
      f = FoldHan(f);
      f = static_cast<char32_t>(u_tolower(static_cast<UChar32>(f)));
      if (f != cp && cp != 0xFFFD) {
        std::string back = Utf8ToGbk(EncodeUtf8One(f));
        // Every fold target is a GBK character; a lower-case form GBK lacks keeps the original.
        if (back != "?" || f == '?') folded = back;
      }
    }
    for (size_t k = 0; k < folded.size(); ++k) out.source_offsets.push_back(static_cast<int>(i));
    out.gbk += folded;
    i += len;
  }
  out.source_offsets.push_back(static_cast<int>(gbk.size()));
  return out;
}

}  // namespace tomeva::kms
