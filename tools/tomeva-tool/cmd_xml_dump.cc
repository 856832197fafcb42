// Subcommand `xml-dump FILE [--scrambled]`: the tree the XML reader builds from a file, as JSON:
// {"loaded":0|1,"version":...,"encoding":...,"root":NODE} with
// NODE = {"tag","leaf","attrtext","attrs":{...},"text","children":[NODE...]}.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/xml/xml_document.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

void AppendNode(const CXmlNode& node, std::string* out) {
  out->append("{\"tag\":").append(JsonGbk(node.tag()));
  out->append(",\"leaf\":").append(std::to_string(node.leaf()));
  out->append(",\"attrtext\":").append(JsonGbk(node.attribute_text()));
  // Sorted by name, so that the output of one file is always the same.
  std::vector<std::pair<std::string, std::string>> attrs(node.attributes().begin(),
                                                         node.attributes().end());
  std::sort(attrs.begin(), attrs.end());
  out->append(",\"attrs\":{");
  for (size_t i = 0; i < attrs.size(); ++i) {
    if (i > 0) out->append(",");
    out->append(JsonGbk(attrs[i].first)).append(":").append(JsonGbk(attrs[i].second));
  }
  out->append("},\"text\":").append(JsonGbk(node.text()));
  out->append(",\"children\":[");
  for (const CXmlNode* c = node.first_child(); c != nullptr; c = c->next_sibling()) {
    if (c != node.first_child()) out->append(",");
    AppendNode(*c, out);  // depth is bounded by the reader's nesting limit
  }
  out->append("]}");
}

int RunXmlDump(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {"--scrambled"});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 1) return UsageError("usage: xml-dump FILE [--scrambled]");
  CXmlDocument doc;
  int loaded = doc.Load(a.positional[0], a.Has("--scrambled") ? 1 : 0);
  std::string out = "{\"loaded\":" + std::to_string(loaded);
  out.append(",\"version\":").append(JsonGbk(doc.version()));
  out.append(",\"encoding\":").append(JsonGbk(doc.encoding()));
  out.append(",\"root\":");
  AppendNode(doc.root(), &out);
  out.append("}\n");
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

CommandRegistrar reg("xml-dump", "FILE [--scrambled]  (the parsed tree as JSON)", &RunXmlDump);

}  // namespace
}  // namespace tomeva::tool
