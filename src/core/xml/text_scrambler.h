// The keyed byte transform of the library's catalogue files (bookconfig.xml and the one-book
// fragments in Update/). Byte i becomes key1[i % 20] ^ key2[i % 24] ^ byte ^ (i % 256); the
// transform is its own inverse. Scrambled files carry no header and are as long as the text.
#ifndef TOMEVA_CORE_XML_TEXT_SCRAMBLER_H_
#define TOMEVA_CORE_XML_TEXT_SCRAMBLER_H_

#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

class CTextScrambler {
 public:
  // Borrows `input` (`length` bytes) as the plain buffer when `direction` is 1 (scramble) or as
  // the scrambled buffer otherwise (unscramble), and allocates the other buffer (length + 1
  // bytes, NUL-terminated, when unscrambling). Keys are byte strings; empty keys act as zeros.
  // `input` must outlive the object; the allocated buffer lives as long as the object.
  CTextScrambler(const char* input, std::string_view key1, std::string_view key2, size_t length,
                 int direction);

  // Fills the scrambled buffer from the plain one (scramble direction only; otherwise no-op).
  void Scramble();
  // Fills the plain buffer from the scrambled one and NUL-terminates it (unscramble direction
  // only; otherwise no-op).
  void Unscramble();

  const char* plain() const { return plain_; }
  const char* scrambled() const { return scrambled_; }
  size_t length() const { return length_; }

 private:
  std::string key1_;
  std::string key2_;
  size_t length_;
  int direction_;
  std::vector<char> own_;  // the buffer this object allocated
  const char* plain_ = nullptr;
  const char* scrambled_ = nullptr;
};

// The two fixed key phrases of the catalogue files, as GBK bytes (20 and 24 bytes).
const std::string& CatalogueKey1();
const std::string& CatalogueKey2();

// Convenience: the transform of `bytes` with the catalogue keys (scramble and unscramble are the
// same operation).
std::string ScrambleCatalogueText(std::string_view bytes);
std::string UnscrambleCatalogueText(std::string_view bytes);

// Reads and unscrambles a catalogue file; false (and `plain` empty) when it cannot be read. All
// bytes are returned, a NUL included (a parse of the text stops there; an edit keeps the rest),
// each byte that is not GBK replaced by "?" as the XML reader replaces it (base/gbk.h RepairGbk),
// so that an edit finds "</books>" or an entry where the reader does.
bool ReadScrambledFile(std::string_view path, std::string* plain);
// Scrambles `plain` and replaces the file atomically; false (old file intact) on failure.
bool WriteScrambledFile(std::string_view path, std::string_view plain);

}  // namespace tomeva

#endif  // TOMEVA_CORE_XML_TEXT_SCRAMBLER_H_
