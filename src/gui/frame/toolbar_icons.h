// The 32 x 32 images of the command toolbar, drawn at start: one per button, a normal and a
// brighter "hot" form for the button under the mouse.
#ifndef TOMEVA_GUI_FRAME_TOOLBAR_ICONS_H_
#define TOMEVA_GUI_FRAME_TOOLBAR_ICONS_H_

#include <QIcon>
#include <QPixmap>

namespace tomeva::gui {

inline constexpr int kToolbarImageSize = 32;

// The image of a command (the nine toolbar commands and 32791); an empty pixmap for others.
QPixmap DrawToolbarImage(int command_id, bool hot);
// Both forms as one icon (hot = the active mode).
QIcon ToolbarIcon(int command_id);

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_FRAME_TOOLBAR_ICONS_H_
