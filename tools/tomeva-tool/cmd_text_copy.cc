// text-copy: makes the text copy that lies beside a PDF, the text the highlighter matches
// keywords in and the viewer's plug-in maps back to the pages (docs/formats/pdf-highlight.md).
#include <cstdio>
#include <string>
#include <vector>

#include "core/pdf/highlight_client.h"
#include "text_copy.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

int TextCopyCommand(const std::vector<std::string>& args) {
  ParsedArgs parsed = ParseArgs(args, {"--layout"}, {});
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (parsed.positional.empty() || parsed.positional.size() > 2) {
    return UsageError("usage: text-copy PDF [OUT] [--layout raw|physical]");
  }
  const std::string layout_name = parsed.Get("--layout", "raw");
  TextLayout layout = TextLayout::kRaw;
  if (layout_name == "physical") {
    layout = TextLayout::kPhysical;
  } else if (layout_name != "raw") {
    return UsageError("--layout is raw or physical, not " + layout_name);
  }
  const std::string& pdf = parsed.positional[0];
  // The name the highlighter and the viewer look for, computed on the path's bytes as they do.
  const std::string out =
      parsed.positional.size() == 2 ? parsed.positional[1] : PdfCompanionPath(pdf, "txt");
  const TextCopyResult result = WriteTextCopy(pdf, out, layout);
  if (!result.ok) return Failure("text-copy: " + result.error);
  std::string json = "{\"pages\":" + std::to_string(result.pages) +
                     ",\"bytes\":" + std::to_string(result.text.size()) +
                     ",\"replaced\":" + std::to_string(result.replaced);
  if (result.unreadable_pages > 0) {
    std::fprintf(stderr,
                 "tomeva-tool: text-copy: %d page(s) of %s could not be read and are left "
                 "empty\n",
                 result.unreadable_pages, pdf.c_str());
    json += ",\"unreadable_pages\":" + std::to_string(result.unreadable_pages);
  }
  std::printf("%s}\n", json.c_str());
  return 0;
}

CommandRegistrar text_copy_reg("text-copy", "PDF [OUT] [--layout raw|physical]", &TextCopyCommand);

}  // namespace
}  // namespace tomeva::tool
