// A PDF written byte by byte whose Chinese text uses the viewer's own Song face (STSong-Light,
// UniGB-UCS2-H) without embedding it, as many scanned-and-typeset books do: such a PDF shows its
// text only when the viewer has the Chinese character maps.
#ifndef TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_PLAIN_PDF_H_
#define TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_PLAIN_PDF_H_

#include <QByteArray>
#include <QStringList>

namespace tomeva::sample {

// One A5 page with `lines` (characters of the basic plane) from the top, one line each. The
// bytes depend on nothing but the lines.
QByteArray UnembeddedFontPdf(const QStringList& lines);

}  // namespace tomeva::sample

#endif  // TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_PLAIN_PDF_H_
