// What the main frame is built from: the popups of the document menu and of the menu shown
// without a document, the nine buttons of the command toolbar and the texts of the
// advanced-search bar. Texts are UTF-8, for the GUI border; "&" marks the mnemonic letter and
// "\t" separates a shortcut shown at the item's right.
#ifndef TOMEVA_CORE_DOC_COMMAND_TABLE_H_
#define TOMEVA_CORE_DOC_COMMAND_TABLE_H_

#include <string>
#include <vector>

namespace tomeva {

// Enabling and check mark of a command, as the document's update handler decides them.
struct CommandState {
  bool enabled = true;
  bool checked = false;
};

// One menu item: a command (id > 0) or a sub-menu (id 0, with children).
struct MenuItem {
  int id = 0;
  std::string text;
  std::vector<MenuItem> children;
};

// A top-level popup with its items, in order.
struct MenuPopup {
  std::string title;
  std::vector<MenuItem> items;
};

// One button of the command toolbar.
struct ToolbarButton {
  int id;
  std::string label;    // shown to the right of the image
  std::string tip;      // status text and tooltip, separated by "\n"
  bool drop_down;       // drawn with an arrow that opens a menu
};

// The menu shown while the document is open (five popups).
const std::vector<MenuPopup>& DocumentMenu();
// The menu shown without a document (three popups).
const std::vector<MenuPopup>& NoDocumentMenu();
// The nine command toolbar buttons, in order.
const std::vector<ToolbarButton>& CommandToolbarButtons();

// Text of status pane 129 for a query mode (0, 1, 2); "" for any other value.
std::string QueryModePaneTextUtf8(int mode);

// Status text of a command: the part of its string before "\n", "" when it has none.
std::string CommandStatusTextUtf8(int id);

// The field box's status and tooltip text, and the labels left and right of it.
std::string FieldBoxTipUtf8();
std::string LabelInUtf8();       // "在" and one space
std::string LabelInFieldUtf8();  // "中查询 " and three spaces

}  // namespace tomeva

#endif  // TOMEVA_CORE_DOC_COMMAND_TABLE_H_
