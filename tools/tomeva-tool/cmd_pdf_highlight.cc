// pdf-highlight: what the PDF highlighter would send to the viewer for a PDF and a keyword
// string, computed from the PDF's text copy beside it. Nothing is written and nothing is sent:
// the conversation with the viewer belongs to the desktop program's platform, which the tool
// does not have.
#include <cstdio>
#include <string>
#include <vector>

#include "core/pdf/highlight_client.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

int PdfHighlightCommand(const std::vector<std::string>& args) {
  ParsedArgs parsed = ParseArgs(args, {}, {});
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (parsed.positional.size() != 2) return UsageError("usage: pdf-highlight PDF KEYWORDS");
  const std::string& pdf = parsed.positional[0];
  std::string text;
  if (!ReadInputFile(PdfCompanionPath(pdf, "txt"), &text)) return 1;
  const PdfHighlightData data = ComputeHighlightData(text, ArgToGbk(parsed.positional[1]));
  std::string out = "{\"matches\":" + std::to_string(data.matches) +
                    ",\"count\":" + std::to_string(data.count) + ",\"values\":[";
  for (size_t i = 0; i < data.values.size(); ++i) {
    out += (i ? "," : "") + std::to_string(data.values[i]);
  }
  std::printf("%s]}\n", out.c_str());
  return 0;
}

CommandRegistrar pdf_highlight_reg("pdf-highlight", "PDF KEYWORDS", &PdfHighlightCommand);

}  // namespace
}  // namespace tomeva::tool
