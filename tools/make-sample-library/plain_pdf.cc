#include "tools/make-sample-library/plain_pdf.h"

#include <QString>
#include <vector>

namespace tomeva::sample {

QByteArray UnembeddedFontPdf(const QStringList& lines) {
  // The text as UCS-2 codes, which the UniGB-UCS2-H map turns into the font's characters.
  QByteArray content = "BT\n/F1 20 Tf\n28 TL\n40 540 Td\n";
  for (const QString& line : lines) {
    QByteArray hex;
    for (QChar c : line) hex += QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    content += "<" + hex.toUpper() + "> Tj T*\n";
  }
  content += "ET\n";

  const std::vector<QByteArray> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 420 595]"
      " /Resources << /Font << /F1 4 0 R >> >> /Contents 7 0 R >>",
      "<< /Type /Font /Subtype /Type0 /BaseFont /STSong-Light /Encoding /UniGB-UCS2-H"
      " /DescendantFonts [5 0 R] >>",
      "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /STSong-Light"
      " /CIDSystemInfo << /Registry (Adobe) /Ordering (GB1) /Supplement 4 >>"
      " /FontDescriptor 6 0 R /DW 1000 >>",
      "<< /Type /FontDescriptor /FontName /STSong-Light /Flags 6"
      " /FontBBox [-25 -254 1000 880] /ItalicAngle 0 /Ascent 880 /Descent -120"
      " /CapHeight 880 /StemV 93 >>",
      "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
  };
  QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<qsizetype> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += QByteArray::number(static_cast<int>(i + 1)) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const qsizetype xref = pdf.size();
  pdf += "xref\n0 " + QByteArray::number(static_cast<int>(objects.size() + 1)) +
         "\n0000000000 65535 f \n";
  for (qsizetype offset : offsets) {
    pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
  }
  pdf += "trailer\n<< /Size " + QByteArray::number(static_cast<int>(objects.size() + 1)) +
         " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace tomeva::sample
