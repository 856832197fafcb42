// The fixed command ids of the program (menus, toolbars, the Enter accelerator, history items)
// and the ids of the query-bar controls. The numbers are part of the program's behaviour: the
// history drop-down computes item ids from them, and stored keyboard habits depend on them.
#ifndef TOMEVA_CORE_DOC_COMMAND_IDS_H_
#define TOMEVA_CORE_DOC_COMMAND_IDS_H_

namespace tomeva {

enum CommandId : int {
  kCmdSearch = 32760,           // run the search (also Enter in the query box)
  kCmdBackToQuery = 32763,      // back to the previous query; drop-down with the history
  kCmdHookPageButtons = 32765,  // hook the page buttons B0..B3 of the shown page again
  kCmdAdvancedSearch = 32778,   // advanced-search bar on/off
  kCmdZoomSmallest = 32780,     // text size 0 ("特小") .. 4 ("特大")
  kCmdZoomSmall = 32781,
  kCmdZoomMedium = 32782,
  kCmdZoomLarge = 32783,
  kCmdZoomLargest = 32784,
  kCmdBookSearch = 32788,       // search restricted to the checked books on/off
  kCmdHome = 32789,             // back to the library's start page
  kCmdFieldButton = 32791,      // the advanced-search bar's own button; it has no handler
  kCmdModeExact = 32801,        // query mode 0
  kCmdModeNatural = 32802,      // query mode 1
  kCmdModeAuto = 32803,         // query mode 2
  kCmdHistoryFirst = 32900,     // history entry 0 (the newest) ..
  kCmdHistoryLast = 32924,      // .. history entry 24
  kCmdPdf = 57357,              // show the hit's PDF
  kCmdBack = 57358,             // back to the previous page
  kCmdPublisherSite = 57359,    // the publisher's web site in the desktop's browser
  kCmdPrintSetup = 57606,
  kCmdPrint = 57607,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdHelp = 57670,
  kCmdViewToolbar = 59392,
  kCmdViewStatusBar = 59393,
};

// Controls of the query bar and the advanced-search bar, and the status pane of the query mode.
enum ControlId : int {
  kIdQueryBox = 126,
  kIdModePane = 129,
  kIdCommandToolbar = 130,
  kIdAdvancedToolbar = 139,
  kIdLabelIn = 601,
  kIdLabelInField = 606,
  kIdFieldBox = 32768,
};

inline constexpr int kHistoryMenuMax = kCmdHistoryLast - kCmdHistoryFirst + 1;  // 25
inline constexpr int kZoomLevels = 5;
inline constexpr int kQueryBoxMaxChars = 100;

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_COMMAND_IDS_H_
