#include "pdf_send.h"

namespace tomeva::tool {

// A tool built without the platform has no conversation client: nobody can be reached.
HighlightOutcome SendHighlight(const std::string&) { return HighlightOutcome::kNoServer; }

}  // namespace tomeva::tool
