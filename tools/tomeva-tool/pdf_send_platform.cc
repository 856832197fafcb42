#include "pdf_send.h"
#include "platform/dde.h"

namespace tomeva::tool {

HighlightOutcome SendHighlight(const std::string& execute_data) {
  switch (platform::DdeExecuteOnce(platform::DdeClient(), kHighlightService, kHighlightTopic,
                                   execute_data, kHighlightTimeoutMs)) {
    case DdeResult::kDone: return HighlightOutcome::kSent;
    case DdeResult::kNoServer: return HighlightOutcome::kNoServer;
    case DdeResult::kRefused: return HighlightOutcome::kRefused;
    case DdeResult::kTimedOut: return HighlightOutcome::kTimedOut;
    case DdeResult::kBusy: return HighlightOutcome::kBusy;
  }
  return HighlightOutcome::kRefused;
}

}  // namespace tomeva::tool
