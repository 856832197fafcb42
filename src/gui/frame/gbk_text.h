// The border between core's GBK byte strings and Qt's QString.
#ifndef TOMEVA_GUI_FRAME_GBK_TEXT_H_
#define TOMEVA_GUI_FRAME_GBK_TEXT_H_

#include <QString>
#include <string>

#include "base/gbk.h"

namespace tomeva::gui {

inline QString FromGbk(const std::string& gbk) { return QString::fromStdString(GbkToUtf8(gbk)); }
inline std::string ToGbk(const QString& text) { return Utf8ToGbk(text.toStdString()); }
inline QString FromUtf8(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_FRAME_GBK_TEXT_H_
