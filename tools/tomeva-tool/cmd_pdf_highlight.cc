// pdf-highlight: what the PDF highlighter does for a PDF and a keyword string, without a window.
// It reads the PDF's text copy, matches the keywords and writes the position file beside the PDF
// as the desktop program does; with --send it also hands the data to the viewer's highlight
// service, so that the conversation can be checked with a viewer of one's own.
#include <cstdio>
#include <string>
#include <vector>

#include "core/engine/highlight.h"
#include "core/pdf/highlight_client.h"
#include "pdf_send.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

const char* OutcomeName(HighlightOutcome outcome) {
  switch (outcome) {
    case HighlightOutcome::kSent: return "sent";
    case HighlightOutcome::kNoText: return "no text copy";
    case HighlightOutcome::kNoMatch: return "no match";
    case HighlightOutcome::kPositionFileFailed: return "position file not written";
    case HighlightOutcome::kNoServer: return "no server";
    case HighlightOutcome::kRefused: return "refused";
    case HighlightOutcome::kTimedOut: return "timed out";
    case HighlightOutcome::kBusy: return "busy: too many conversations open";
  }
  return "refused";
}

int PdfHighlightCommand(const std::vector<std::string>& args) {
  ParsedArgs parsed = ParseArgs(args, {}, {"--send"});
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (parsed.positional.size() != 2) return UsageError("usage: pdf-highlight PDF KEYWORDS [--send]");
  const std::string pdf = ArgToGbk(parsed.positional[0]);
  std::string told;
  const HighlightMessageSink tell = [&told](const std::string& message) { told = message; };

  PdfHighlightData data;
  HighlightOutcome outcome = HighlightOutcome::kNoMatch;
  // The keyword string is read as the plug-in's keyword table reads it: words apart by spaces,
  // "&" and "|".
  const bool ready =
      PrepareHighlight(pdf, SplitKeywords(ArgToGbk(parsed.positional[1])), tell, &data, &outcome);
  if (!ready && outcome == HighlightOutcome::kNoText) {
    std::fprintf(stderr, "cannot read %s\n", PdfCompanionPath(parsed.positional[0], "txt").c_str());
    return 1;
  }
  if (ready && parsed.Has("--send")) outcome = SendHighlight(data.ExecuteData());

  std::string out = "{\"matches\":" + std::to_string(data.matches) +
                    ",\"count\":" + std::to_string(data.count) + ",\"values\":[";
  // The values as sent: the first `count` values of the position file, after the header.
  for (int i = 0; i < data.count && i < static_cast<int>(data.values.size()); ++i) {
    out += (i ? "," : "") + std::to_string(data.values[i]);
  }
  out += "]";
  if (parsed.Has("--send")) out += std::string(",\"sent\":\"") + OutcomeName(outcome) + "\"";
  if (!told.empty()) out += ",\"message\":" + JsonGbk(told);
  std::printf("%s}\n", out.c_str());
  if (!ready) return outcome == HighlightOutcome::kNoMatch ? 0 : 1;
  return !parsed.Has("--send") || outcome == HighlightOutcome::kSent ? 0 : 1;
}

CommandRegistrar pdf_highlight_reg("pdf-highlight", "PDF KEYWORDS [--send]", &PdfHighlightCommand);

}  // namespace
}  // namespace tomeva::tool
