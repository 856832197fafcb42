// The tool's end of the viewer's highlight conversation. Built on the platform's conversation
// client where the tool is built with the platform; without it every send says kNoServer.
#ifndef TOMEVA_TOOLS_TOMEVA_TOOL_PDF_SEND_H_
#define TOMEVA_TOOLS_TOMEVA_TOOL_PDF_SEND_H_

#include <string>

#include "core/pdf/highlight_client.h"

namespace tomeva::tool {

// Sends `execute_data` as one execute transaction to the highlight service, with the desktop
// program's time-out. kSent, kNoServer, kRefused or kTimedOut.
HighlightOutcome SendHighlight(const std::string& execute_data);

}  // namespace tomeva::tool

#endif  // TOMEVA_TOOLS_TOMEVA_TOOL_PDF_SEND_H_
