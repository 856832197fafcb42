// A catalogue file as read from disk: arbitrary bytes are unscrambled with the catalogue keys and
// parsed; the catalogue reader's look-ups then run on the result.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/xml/text_scrambler.h"
#include "core/xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tomeva::CTextScrambler scrambler(bytes.data(), tomeva::CatalogueKey1(), tomeva::CatalogueKey2(),
                                   bytes.size(), 0);
  scrambler.Unscramble();
  std::string plain(scrambler.plain(), scrambler.length());
  // The transform is its own inverse: anything else is a fault worth stopping on.
  if (tomeva::ScrambleCatalogueText(plain) != bytes) std::abort();
  tomeva::CXmlDocument doc;
  doc.ParseText(scrambler.plain());  // as a C string: a NUL ends it
  std::vector<std::string> books;
  doc.GetAttributeStrings("book", &books);
  tomeva::AttributeMap map;
  for (const std::string& attrs : books) tomeva::ParseAttributes(attrs, &map);
  std::vector<std::string> labels;
  doc.GetTexts("label", "", "", &labels);
  return 0;
}
