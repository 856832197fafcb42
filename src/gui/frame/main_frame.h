// CMainFrame: the main window. It owns System.xml for the whole run and carries the controls
// through which the user states a query: the query bar (query box and the command toolbar), the
// advanced-search bar with the field box (hidden until asked for), and the status bar whose pane
// 129 shows the query mode. Every command (menu, toolbar, Enter, history item) is routed by its
// id to the document first; the frame handles the few that are its own (exit, about, bars,
// printing what the right-hand view shows and the page setup kept for the next print).
// Enabling and check marks are asked from the document after every command and before a menu
// opens.
//
// Threads: the user-interface thread only.
#ifndef TOMEVA_GUI_FRAME_MAIN_FRAME_H_
#define TOMEVA_GUI_FRAME_MAIN_FRAME_H_

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/doc/command_table.h"
#include "core/doc/view_interfaces.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QToolBar;
class QToolButton;

namespace tomeva {
class CTomevaDoc;
}

namespace tomeva::gui {

class CChildFrame;
class CTomevaView;
class CTreeFormView;

inline constexpr int kFrameMinimum = 400;
inline constexpr int kFieldBoxWidth = 100;
inline constexpr int kFieldListHeight = 150;

class CMainFrame : public QMainWindow, public IFrameControls {
  Q_OBJECT
 public:
  // Builds the bars, with `key_field_names` (GBK, System.xml's advanced-search fields) in the
  // field box; the menu is the one shown without a document until SetDocument.
  explicit CMainFrame(std::vector<std::string> key_field_names, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Attaches the document: document menu, child frame with both views, initial update.
  void SetDocument(CTomevaDoc* doc);
  void DetachDocument();

  // Runs command `id`: the document first, then the frame's own commands.
  void RouteCommand(int id);
  // Asks the document for the enabling and check marks of every command, and sets pane 129.
  void UpdateCommandUi();
  // The printer the print and page setup commands use; its page layout is kept for the next
  // print. Created on first use.
  QPrinter* printer();
  // Where the frame's own messages (a print that failed) go instead of a message box; the window
  // tests record them. Empty = a message box.
  void set_message_sink(std::function<void(const QString&)> sink) {
    message_sink_ = std::move(sink);
  }

  // Test hook: with TOMEVA_PRINT_TO=path.pdf in the environment, the print command prints to
  // that PDF file without asking for a printer (there is no one to answer the dialog).
  static constexpr char kPrintToVariable[] = "TOMEVA_PRINT_TO";

  // Brings the window to the front (another start asked for it).
  void RaiseWindow();
  void FocusQueryBox();

  // IFrameControls
  std::string GetQueryText() override;
  void SetQueryText(const std::string& text) override;
  void SelectAllQueryText() override;
  std::string GetFieldText() override;
  void SetFieldText(const std::string& text) override;
  void ShowAdvancedBar(bool show) override;
  void PostCommand(int id) override;
  void ShowStatusText(const std::string& text) override;

  QAction* action(int id) const;
  QLineEdit* query_box() const { return query_box_; }
  QComboBox* field_box() const { return field_box_; }
  QToolBar* query_bar() const { return query_bar_; }
  QToolBar* command_toolbar() const { return command_toolbar_; }
  QToolBar* advanced_bar() const { return advanced_bar_; }
  QLabel* mode_pane() const { return mode_pane_; }
  QMenu* history_menu() const { return history_menu_; }
  CChildFrame* child_frame() const { return child_; }
  CTomevaView* html_view() const;
  CTreeFormView* tree_view() const;

 signals:
  // A command id reached the frame's router (before it is handled).
  void commandRouted(int id);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The query box's paging keys (Page Up/Down, Ctrl+Home/End) page through the hits as in the
  // tree, so that the reader need not leave the box after a search.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* MakeAction(int id);
  void BuildMenu(const std::vector<MenuPopup>& popups);
  void AddMenuItems(QMenu* menu, const std::vector<MenuItem>& items);
  void BuildStatusBar();
  void BuildQueryBar();
  void BuildAdvancedBar();
  void FillHistoryMenu();
  bool HandleFrameCommand(int id);
  void ShowAbout();
  void PrintView();
  void SetUpPage();
  void ShowFrameMessage(const QString& text);

  std::vector<std::string> key_field_names_;
  CTomevaDoc* doc_ = nullptr;
  std::map<int, QAction*> actions_;
  QLineEdit* query_box_ = nullptr;
  QComboBox* field_box_ = nullptr;
  QToolBar* query_bar_ = nullptr;
  QToolBar* command_toolbar_ = nullptr;
  QToolBar* advanced_bar_ = nullptr;
  QLabel* mode_pane_ = nullptr;
  QMenu* history_menu_ = nullptr;
  CChildFrame* child_ = nullptr;
  std::unique_ptr<QPrinter> printer_;
  std::function<void(const QString&)> message_sink_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_FRAME_MAIN_FRAME_H_
