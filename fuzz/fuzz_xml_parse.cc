// Feeds arbitrary bytes to the XML reader as a document held in memory, then runs the look-ups
// and the helpers that callers apply to what it returns.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  tomeva::CXmlDocument doc;
  doc.ParseText(text);
  // The root's own tag as a query reaches the deepest matching paths.
  std::string root_tag = doc.root().tag();
  std::vector<tomeva::CXmlNode*> nodes;
  doc.root().FindNodes(root_tag, 2, &nodes);
  for (tomeva::CXmlNode* node : nodes) {
    for (const tomeva::CXmlNode* c = node->first_child(); c != nullptr; c = c->next_sibling()) {
      tomeva::StripChildElements(c->text());
      std::vector<std::string> attrs;
      doc.GetAttributeStrings(
          c->tag(), &attrs, "name",
          c->attributes().count("name") ? c->attributes().at("name") : std::string());
    }
  }
  doc.GetText("record");
  tomeva::StripChildElements(text);
  tomeva::AttributeMap map;
  tomeva::ParseAttributes(text, &map);
  tomeva::FindCloseTag(root_tag, text, 1);
  return 0;
}
