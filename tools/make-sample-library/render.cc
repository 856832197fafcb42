#include "tools/make-sample-library/render.h"

#include <cctype>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QStringList>

#include "base/file_util.h"
#include "base/gbk.h"

namespace tomeva::sample {
namespace {

// The sample is written into a fresh folder: each file whole, without a flush to disk apiece.
bool WriteNewFile(const std::string& path, const QByteArray& bytes) {
  WriteOptions options;
  options.sync = false;
  options.resolve_case = false;
  return ReplaceFileAtomically(path, std::string_view(bytes.constData(), bytes.size()), options);
}


QString g_family;  // the loaded CJK font family

QString FromGbk(const std::string& gbk) { return QString::fromStdString(GbkToUtf8(gbk)); }
std::string ToGbk(const QString& text) { return Utf8ToGbk(text.toStdString()); }

// Breaks `line` into pieces no wider than `width`, at character boundaries.
QStringList Wrap(const QString& line, const QFontMetricsF& metrics, qreal width) {
  QStringList pieces;
  QString current;
  for (QChar c : line) {
    if (!current.isEmpty() && metrics.horizontalAdvance(current + c) > width) {
      pieces << current;
      current.clear();
    }
    current += c;
  }
  pieces << current;
  return pieces;
}

// The PDF writer stamps the creation time into the document information and its metadata.
// The sample must be reproducible, so every such stamp is overwritten in place with a fixed one
// of the same length, which keeps the cross-reference offsets valid.
void FixTimeStamps(QByteArray* pdf) {
  static const QByteArray kKey = "/CreationDate (D:";
  for (qsizetype at = pdf->indexOf(kKey); at >= 0; at = pdf->indexOf(kKey, at + 1)) {
    qsizetype i = at + kKey.size();
    static const char kFixed[] = "20240101000000";
    for (int k = 0;
         k < 14 && i < pdf->size() && std::isdigit(static_cast<unsigned char>((*pdf)[i]));
         ++k, ++i) {
      (*pdf)[i] = kFixed[k];
    }
    // A time zone such as +01'00' follows; make it UTC's form of the same length.
    while (i < pdf->size() && (*pdf)[i] != ')') {
      if (std::isdigit(static_cast<unsigned char>((*pdf)[i]))) (*pdf)[i] = '0';
      ++i;
    }
  }
}

QByteArray XmpMetadata(const std::string& title) {
  QString escaped = FromGbk(title).toHtmlEscaped();
  return QStringLiteral(
             "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
             "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
             "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
             "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
             "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">%1</rdf:li></rdf:Alt></dc:title>\n"
             "</rdf:Description>\n"
             "</rdf:RDF>\n"
             "</x:xmpmeta>\n"
             "<?xpacket end='w'?>")
      .arg(escaped)
      .toUtf8();
}

}  // namespace

bool InitRenderer(const std::string& font_path, std::string* error) {
  int id = QFontDatabase::addApplicationFont(QString::fromStdString(font_path));
  QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
  if (families.isEmpty()) {
    *error = "cannot load the CJK font " + font_path;
    return false;
  }
  g_family = families.front();
  return true;
}

bool WritePdf(const std::string& path, const std::string& title,
              const std::vector<std::string>& lines,
              std::vector<std::vector<std::string>>* drawn) {
  drawn->assign(1, {});
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(FromGbk(title));
    writer.setCreator("make-sample-library");
    // Fixed metadata instead of the generated one, which holds the time and a random id.
    writer.setDocumentXmpMetadata(XmpMetadata(title));
    QPainter painter;
    if (!painter.begin(&writer)) return false;
    QFont font(g_family);
    font.setPointSizeF(11);
    painter.setFont(font);
    QFontMetricsF metrics(font, &writer);
    const qreal width = painter.viewport().width();
    const qreal height = painter.viewport().height();
    const qreal step = metrics.lineSpacing();
    qreal y = 0;
    for (const std::string& line : lines) {
      for (const QString& piece : Wrap(FromGbk(line), metrics, width)) {
        if (y + step > height) {
          writer.newPage();
          drawn->emplace_back();
          y = 0;
        }
        painter.drawText(QPointF(0, y + metrics.ascent()), piece);
        drawn->back().push_back(ToGbk(piece));
        y += step;
      }
    }
    painter.end();
  }
  FixTimeStamps(&bytes);
  return WriteNewFile(path, bytes);
}

bool WritePicture(const std::string& path, int seed, const std::string& label) {
  QImage image(160, 120, QImage::Format_RGB32);
  image.fill(QColor(0xfd, 0xfa, 0xf2));
  QPainter painter(&image);
  QColor band = QColor::fromHsv((seed * 47) % 360, 90, 200);
  painter.fillRect(0, 0, 160, 28, band);
  painter.setPen(QColor(0x33, 0x33, 0x33));
  painter.drawRect(0, 0, 159, 119);
  QFont font(g_family);
  font.setPixelSize(16);
  painter.setFont(font);
  painter.drawText(QRectF(8, 36, 144, 76), Qt::AlignCenter | Qt::TextWordWrap, FromGbk(label));
  painter.end();
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return false;
  return WriteNewFile(path, png);
}

}  // namespace tomeva::sample
