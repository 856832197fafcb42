#include "core/xml/text_scrambler.h"

#include <cstring>

#include "base/file_util.h"
#include "base/gbk.h"

namespace tomeva {
namespace {

// output[i] = key1[i % len1] ^ key2[i % len2] ^ input[i] ^ (i % 256). Counters instead of
// divisions keep a large catalogue cheap.
void Transform(const char* in, char* out, size_t length, std::string_view key1,
               std::string_view key2) {
  size_t k1 = 0;
  size_t k2 = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char b = static_cast<unsigned char>(in[i]) ^ static_cast<unsigned char>(i & 0xFF);
    if (!key1.empty()) {
      b ^= static_cast<unsigned char>(key1[k1]);
      if (++k1 == key1.size()) k1 = 0;
    }
    if (!key2.empty()) {
      b ^= static_cast<unsigned char>(key2[k2]);
      if (++k2 == key2.size()) k2 = 0;
    }
    out[i] = static_cast<char>(b);
  }
}

}  // namespace

CTextScrambler::CTextScrambler(const char* input, std::string_view key1, std::string_view key2,
                               size_t length, int direction)
    : key1_(key1), key2_(key2), length_(length), direction_(direction) {
  if (direction_ == 1) {
    own_.assign(length_ > 0 ? length_ : 1, '\0');
    plain_ = input;
    scrambled_ = own_.data();
  } else {
    own_.assign(length_ + 1, '\0');
    scrambled_ = input;
    plain_ = own_.data();
  }
}

void CTextScrambler::Scramble() {
  // Only the buffer this object allocated is ever written; the borrowed one stays untouched.
  if (direction_ != 1 || length_ == 0) return;
  Transform(plain_, own_.data(), length_, key1_, key2_);
}

void CTextScrambler::Unscramble() {
  if (direction_ == 1) return;
  if (length_ > 0) Transform(scrambled_, own_.data(), length_, key1_, key2_);
  own_[length_] = '\0';
}

const std::string& CatalogueKey1() {
  static const std::string key = Utf8ToGbk("青灯照夜，白露沾衣。");
  return key;
}

const std::string& CatalogueKey2() {
  static const std::string key = Utf8ToGbk("山间松风起，林下竹影斜。");
  return key;
}

std::string ScrambleCatalogueText(std::string_view bytes) {
  std::string out(bytes.size(), '\0');
  Transform(bytes.data(), out.data(), bytes.size(), CatalogueKey1(), CatalogueKey2());
  return out;
}

std::string UnscrambleCatalogueText(std::string_view bytes) { return ScrambleCatalogueText(bytes); }

bool ReadScrambledFile(std::string_view path, std::string* plain) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) {
    plain->clear();
    return false;
  }
  *plain = UnscrambleCatalogueText(bytes);
  // The catalogue's text is edited as text (an entry added before "</books>", one moved) and
  // written back: the edits find their marks as the reader does, on valid GBK only.
  RepairGbk(plain);
  return true;
}

bool WriteScrambledFile(std::string_view path, std::string_view plain) {
  return ReplaceFileAtomically(path, ScrambleCatalogueText(plain));
}

}  // namespace tomeva
