// The PDF viewer page with its highlight plug-in, in the web engine: the page shows a PDF the test
// writes (a real worker, no fallback), and highlight requests built as the search program builds
// them (byte offsets and widths in the GBK text copy) become marks in the pages' text layers,
// also on pages drawn later and across a line that the text copy breaks elsewhere; a text copy
// of another text gives no marks. A text copy with page breaks has each run marked at its own
// place on its own page, also where the PDF lists a page's text in another order, and the first
// run's page marked before the other pages are read. With TOMEVA_REAL_PDF_DIR naming a folder of
// PDFs made elsewhere (with their text copies), placement and time to the first mark are measured
// on them too. A screenshot of marked words goes to
// <build>/screenshots/pdf-highlight.png, one of the PDF without embedded font to
// pdf-unembedded-font.png.
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "tools/make-sample-library/plain_pdf.h"

namespace {

constexpr char kFontFile[] = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";

// The poem of the PDF whose font is not embedded.
const QStringList kPoem = {"静夜思",     "李白",       "床前明月光",
                           "疑是地上霜", "举头望明月", "低头思故乡"};

// The pages of the test PDF, a line per drawn text. 明月 is only on page 1, 黄河 only on page 3.
const std::vector<std::vector<QString>> kPages = {
    {"第一页 明月几时有", "把酒问青天", "不知天上宫阙", "今夕是何年", "我欲乘风归去",
     "又恐琼楼玉宇", "高处不胜寒", "起舞弄清影", "明月照高楼"},
    {"第二页 床前看月光", "疑是地上霜", "举头望山月", "低头思故乡", "春眠不觉晓", "处处闻啼鸟"},
    {"第三页 白日依山尽", "黄河入海流", "欲穷千里目", "更上一层楼"},
};

// A text drawn on a page of the placement PDF: where (x as a fraction of the width, y as a line
// number) and what. The PDF's text items come in drawing order, which is not the order of the
// text copy.
struct Placed {
  double x;
  int line;
  const char* text;
};

// The placement PDF: a contents page with dot leaders, running heads with their page numbers
// drawn before and after the head, a two-column index read row by row, and a last page. Each
// page's text copy lists the same text in reading order, a form feed after it.
const std::vector<std::vector<Placed>> kOrderPages = {
    {{0, 0, "目录"},
     {0, 1, "第一章 明月"},
     {0, 2, "第二章 插图"},
     {0, 3, "第三章 索引"},
     {0.45, 1, "................"},
     {0.45, 2, "................"},
     {0.45, 3, "................"},
     {0.9, 1, "2"},
     {0.9, 2, "3"},
     {0.9, 3, "4"}},
    {{0.9, 0, "2"},
     {0, 0, "第一章 明月"},
     {0, 2, "明月几时有，把酒问青天。"},
     {0, 3, "插图见下页。"}},
    {{0.3, 0, "第二章 插图"},
     {0, 0, "3"},
     {0, 2, "插图一：明月松间照。"},
     {0, 3, "清泉石上流。"}},
    {{0, 0, "第三章 索引"},
     {0, 1, "明月，2"},
     {0.5, 1, "插图，3"},
     {0, 2, "明月光，2"},
     {0.5, 2, "索引，4"}},
    {{0, 0, "5"}, {0, 2, "白日依山尽，黄河入海流。"}},
};
const char* const kOrderCopy[] = {
    "目录\n第一章 明月 ................ 2\n第二章 插图 ................ 3\n"
    "第三章 索引 ................ 4\n",
    "第一章 明月 2\n明月几时有，把酒问青天。\n插图见下页。\n",
    "3 第二章 插图\n插图一：明月松间照。\n清泉石上流。\n",
    "第三章 索引\n明月，2\n明月光，2\n插图，3\n索引，4\n",
    "5\n白日依山尽，黄河入海流。\n",
};

class RecordingPage : public QWebEnginePage {
 public:
  using QWebEnginePage::QWebEnginePage;
  QStringList messages;

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                const QString&) override {
    messages << message;
  }
};

// For each byte of the GBK text, whether a character starts there.
std::vector<bool> CharacterStarts(const std::string& text) {
  std::vector<bool> starts(text.size(), false);
  for (size_t i = 0; i < text.size();) {
    starts[i] = true;
    const auto lead = static_cast<unsigned char>(text[i]);
    i += lead >= 0x81 && lead <= 0xfe && i + 1 < text.size() ? 2 : 1;
  }
  return starts;
}

// The execute data for every occurrence of each word in the GBK text (whole characters only, at
// most 500 occurrences, as the search program finds them): the header, then per character its
// byte offset and width, cut at one value per byte matched.
QByteArray ExecuteData(const std::string& text, const std::vector<QString>& words) {
  const std::vector<bool> starts = CharacterStarts(text);
  std::vector<quint32> values;
  quint32 count = 0;
  int matches = 0;
  for (const QString& word : words) {
    const std::string gbk = tomeva::Utf8ToGbk(word.toStdString());
    for (size_t at = text.find(gbk); at != std::string::npos && matches < 500;
         at = text.find(gbk, at + 1)) {
      if (!starts[at]) continue;
      ++matches;
      for (size_t j = 0; j < gbk.size(); ++j) {
        const quint32 width = static_cast<unsigned char>(text[at + j]) >= 0x80 ? 2 : 1;
        values.push_back(static_cast<quint32>(at + j));
        values.push_back(width);
        count += width;
        if (width == 2) ++j;
      }
    }
  }
  values.resize(std::min<size_t>(count, values.size()));
  QByteArray data;
  auto put = [&data](quint32 v) {
    for (int i = 0; i < 4; ++i) data.append(static_cast<char>((v >> (8 * i)) & 0xff));
  };
  put(0x8080);
  for (quint32 v : values) put(v);
  return data;
}

// The script that sends `data` to the plug-in.
QString ExecuteScript(const QByteArray& data) {
  QStringList bytes;
  for (char c : data) bytes << QString::number(static_cast<unsigned char>(c));
  return "hiliteService.execute(new Uint8Array([" + bytes.join(',') + "]))";
}

std::string FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Words of two or three Chinese characters taken from the GBK text at places spread over it,
// each once.
std::vector<QString> WordsOf(const std::string& text, size_t wanted) {
  const std::vector<bool> starts = CharacterStarts(text);
  auto hanzi = [&](size_t at) {
    if (at + 1 >= text.size() || !starts[at]) return false;
    const auto lead = static_cast<unsigned char>(text[at]);
    const auto trail = static_cast<unsigned char>(text[at + 1]);
    return lead >= 0xb0 && lead <= 0xf7 && trail >= 0xa1 && trail <= 0xfe;
  };
  std::vector<QString> words;
  quint32 seed = 12345;
  for (size_t tries = 0; words.size() < wanted && tries < wanted * 200; ++tries) {
    seed = seed * 1103515245u + 12345u;
    size_t at = (seed >> 4) % text.size();
    while (at < text.size() && !starts[at]) ++at;
    const size_t length = 2 + (tries % 3 == 0 ? 1 : 0);
    bool ok = true;
    for (size_t k = 0; k < length && ok; ++k) ok = hanzi(at + 2 * k);
    if (!ok) continue;
    const QString word =
        QString::fromStdString(tomeva::GbkToUtf8(text.substr(at, 2 * length)));
    if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
  }
  return words;
}

}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void marks_data();
  void marks();
  void unembeddedFontIsDrawn();
  void badDataMarksNothing();
  void wholeBookOfTheSampleLibrary();
  void controlsMoveAndZoom();
  void cancelledDrawsLogNothing_data();
  void cancelledDrawsLogNothing();
  void failedDrawIsLogged();
  void placementByPage_data();
  void placementByPage();
  void firstMarkBeforeOtherPagesAreRead_data();
  void firstMarkBeforeOtherPagesAreRead();
  void realPdfPlacement();
  void realPdfTiming();
  void cleanupTestCase();

 private:
  bool WritePdf(const QString& path);
  bool WriteOrderPdf(const QString& path);
  // The PDFs with a text copy beside them in the folder named by TOMEVA_REAL_PDF_DIR.
  QStringList RealPdfs();
  // Runs `script`, an async function body that ends by returning a value, and waits for it.
  QVariant RunAsync(const QString& body, int ms = 60000);
  bool WriteFile(const QString& path, const std::string& bytes);
  // Opens `pdf` (relative to the test's folder) in the viewer page `viewer` (default: the
  // test's copy of the viewer folder).
  bool Open(const QString& pdf, const QString& viewer = QString());
  QVariant Run(const QString& script);
  bool WaitFor(const QString& condition, int ms = 15000);

  QTemporaryDir temp_;
  QString viewer_;
  std::string text_;  // the GBK text copy of book.pdf
  QWebEngineView* view_ = nullptr;
  RecordingPage* page_ = nullptr;
};

bool ViewerTest::WriteFile(const QString& path, const std::string& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) &&
         file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
             static_cast<qint64>(bytes.size());
}

bool ViewerTest::WritePdf(const QString& path) {
  const int id = QFontDatabase::addApplicationFont(kFontFile);
  if (id < 0) return false;
  QPdfWriter writer(path);
  writer.setPageSize(QPageSize(QPageSize::A5));
  writer.setResolution(300);
  QPainter painter(&writer);
  QFont font(QFontDatabase::applicationFontFamilies(id).front());
  font.setPointSizeF(14);
  painter.setFont(font);
  const qreal step = painter.fontMetrics().lineSpacing() * 1.5;
  for (size_t p = 0; p < kPages.size(); ++p) {
    if (p > 0) writer.newPage();
    qreal y = step;
    for (const QString& line : kPages[p]) {
      painter.drawText(QPointF(0, y), line);
      y += step;
    }
  }
  return painter.end();
}

bool ViewerTest::WriteOrderPdf(const QString& path) {
  const int id = QFontDatabase::addApplicationFont(kFontFile);
  if (id < 0) return false;
  QPdfWriter writer(path);
  writer.setPageSize(QPageSize(QPageSize::A5));
  writer.setResolution(300);
  QPainter painter(&writer);
  QFont font(QFontDatabase::applicationFontFamilies(id).front());
  font.setPointSizeF(12);
  painter.setFont(font);
  const qreal step = painter.fontMetrics().lineSpacing() * 1.5;
  const qreal width = painter.viewport().width();
  for (size_t p = 0; p < kOrderPages.size(); ++p) {
    if (p > 0) writer.newPage();
    for (const Placed& placed : kOrderPages[p]) {
      painter.drawText(QPointF(placed.x * width, step * (placed.line + 1)),
                       QString::fromUtf8(placed.text));
    }
  }
  return painter.end();
}

void ViewerTest::initTestCase() {
  QVERIFY(temp_.isValid());
  // The viewer folder as the installation has it: the page, and the plug-in in plug_ins/.
  QDir dir(temp_.path());
  QVERIFY(dir.mkpath("viewer/plug_ins"));
  for (const char* name : {"viewer.html", "viewer.js", "viewer.css"}) {
    QVERIFY(QFile::copy(QStringLiteral(TOMEVA_VIEWER_DIR "/") + name,
                        dir.filePath(QStringLiteral("viewer/") + name)));
  }
  QVERIFY(QFile::copy(QStringLiteral(TOMEVA_VIEWER_DIR "/plugin/VazeZududi.js"),
                      dir.filePath("viewer/plug_ins/VazeZududi.api")));
  viewer_ = dir.filePath("viewer/viewer.html");

  QVERIFY(WritePdf(dir.filePath("book.pdf")));
  // The text copy breaks no line where the PDF does between 宫阙 and 今夕: the line ends of the
  // two need not agree.
  for (size_t p = 0; p < kPages.size(); ++p) {
    for (size_t i = 0; i < kPages[p].size(); ++i) {
      text_ += tomeva::Utf8ToGbk(kPages[p][i].toStdString());
      if (!(p == 0 && i == 2)) text_ += "\r\n";
    }
  }
  QVERIFY(WriteFile(dir.filePath("book.txt"), text_));
  // A PDF whose Chinese font the viewer must supply.
  const QByteArray songti = tomeva::sample::UnembeddedFontPdf(kPoem);
  QVERIFY(WriteFile(dir.filePath("songti.pdf"), songti.toStdString()));
  QVERIFY(WriteFile(dir.filePath("songti.txt"),
                    tomeva::Utf8ToGbk(kPoem.join("\r\n").toStdString() + "\r\n")));
  // A PDF whose text copy lacks its first line, so that the two texts are out of step.
  QVERIFY(QFile::copy(dir.filePath("book.pdf"), dir.filePath("drift.pdf")));
  QVERIFY(WriteFile(dir.filePath("drift.txt"), text_.substr(text_.find("\r\n") + 2)));
  // A PDF whose text copy holds another poem (with 明月 in it too).
  QVERIFY(QFile::copy(dir.filePath("book.pdf"), dir.filePath("other.pdf")));
  QVERIFY(WriteFile(dir.filePath("other.txt"),
                    tomeva::Utf8ToGbk("江畔何人初见月\r\n江月何年初照人\r\n明月松间照\r\n")));

  // The placement PDF, with its copy page by page; the same PDF whose copy of page 2 also
  // holds the last page's 黄河 line, which the PDF's page 2 lacks.
  QVERIFY(WriteOrderPdf(dir.filePath("order.pdf")));
  std::string pages;
  std::string jump;
  for (size_t p = 0; p < std::size(kOrderCopy); ++p) {
    pages += tomeva::Utf8ToGbk(kOrderCopy[p]) + "\f";
    jump += tomeva::Utf8ToGbk(kOrderCopy[p]) + (p == 1 ? tomeva::Utf8ToGbk(kOrderCopy[4]) : "") +
            "\f";
  }
  QVERIFY(WriteFile(dir.filePath("order.txt"), pages));
  QVERIFY(QFile::copy(dir.filePath("order.pdf"), dir.filePath("jump.pdf")));
  QVERIFY(WriteFile(dir.filePath("jump.txt"), jump));
  QVERIFY(QFile::copy(dir.filePath("order.pdf"), dir.filePath("tail.pdf")));
  // Its copy breaks no line but after the last page's break (the one line end sent in full).
  std::string tail = pages;
  std::replace(tail.begin(), tail.end(), '\n', ' ');
  QVERIFY(WriteFile(dir.filePath("tail.txt"), tail + "\n"));

  view_ = new QWebEngineView;
  page_ = new RecordingPage(view_);
  view_->setPage(page_);
  view_->resize(700, 640);
  view_->show();
}

void ViewerTest::cleanupTestCase() { delete view_; }

QVariant ViewerTest::Run(const QString& script) {
  QVariant result;
  QEventLoop loop;
  page_->runJavaScript(script, [&](const QVariant& v) {
    result = v;
    loop.quit();
  });
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  loop.exec();
  return result;
}

bool ViewerTest::WaitFor(const QString& condition, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    if (Run(condition).toBool()) return true;
    QTest::qWait(50);
  }
  return false;
}

QVariant ViewerTest::RunAsync(const QString& body, int ms) {
  Run("window.__answer = undefined; (async () => {" + body +
      "})().then((v) => { window.__answer = {v}; },"
      " (e) => { window.__answer = {v: 'error: ' + e}; }); true");
  if (!WaitFor("window.__answer !== undefined", ms)) return QVariant();
  return Run("window.__answer.v");
}

bool ViewerTest::Open(const QString& pdf, const QString& viewer) {
  const QString file = QUrl::fromLocalFile(QDir(temp_.path()).filePath(pdf)).toString();
  QSignalSpy loaded(page_, &QWebEnginePage::loadFinished);
  page_->messages.clear();
  view_->load(QUrl(QUrl::fromLocalFile(viewer.isEmpty() ? viewer_ : viewer).toString() +
                   "?file=" + QString::fromLatin1(QUrl::toPercentEncoding(file))));
  if (!loaded.wait(20000)) return false;
  return WaitFor(
      "!!(window.pdfViewer && pdfViewer.loaded && window.hiliteService && "
      "pdfViewer.textDivs(1))");
}

void ViewerTest::marks_data() {
  QTest::addColumn<QString>("pdf");
  QTest::addColumn<QStringList>("words");
  QTest::addColumn<int>("found");       // runs of characters found in the PDF
  QTest::addColumn<int>("marks");       // mark elements once the first mark's page is drawn
  QTest::addColumn<int>("page");        // the first mark's page (0: no mark)
  QTest::addColumn<QString>("marked");  // the marks' text, in page order

  QTest::newRow("word twice on the first page")
      << "book.pdf" << QStringList{"明月"} << 2 << 2 << 1 << "明月明月";
  QTest::newRow("two words") << "book.pdf" << QStringList{"归去", "青天"} << 2 << 2 << 1
                             << "青天归去";
  QTest::newRow("word across a line the copy does not break")
      << "book.pdf" << QStringList{"宫阙今夕"} << 1 << 2 << 1 << "宫阙今夕";
  QTest::newRow("word on a page not drawn yet")
      << "book.pdf" << QStringList{"黄河"} << 1 << 1 << 3 << "黄河";
  QTest::newRow("text copy that lacks the first line")
      << "drift.pdf" << QStringList{"明月", "黄河"} << 2 << 1 << 1 << "明月";
  QTest::newRow("font not embedded")
      << "songti.pdf" << QStringList{"明月"} << 2 << 2 << 1 << "明月明月";
  QTest::newRow("text copy of another text")
      << "other.pdf" << QStringList{"明月", "江月"} << 0 << 0 << 0 << "";
}

void ViewerTest::marks() {
  QFETCH(QString, pdf);
  QFETCH(QStringList, words);
  QFETCH(int, found);
  QFETCH(int, marks);
  QFETCH(int, page);
  QFETCH(QString, marked);
  QVERIFY(Open(pdf));
  // The document's own worker runs: pdf.js says so when it falls back to the main thread.
  for (const QString& m : page_->messages) QVERIFY2(!m.contains("fake worker"), qPrintable(m));

  QFile copy_file(QDir(temp_.path()).filePath(pdf.chopped(3) + "txt"));
  QVERIFY(copy_file.open(QIODevice::ReadOnly));
  const std::string copy = copy_file.readAll().toStdString();
  const QByteArray data = ExecuteData(copy, std::vector<QString>(words.begin(), words.end()));
  QStringList bytes;
  for (char c : data) bytes << QString::number(static_cast<unsigned char>(c));
  Run("hiliteService.execute(new Uint8Array([" + bytes.join(',') + "]))");
  QVERIFY(WaitFor("hiliteService.last.status !== 'busy'"));
  QCOMPARE(Run("hiliteService.last.status").toString(), QString("done"));
  QCOMPARE(Run("hiliteService.last.found").toInt(), found);

  const QString count = "document.querySelectorAll('mark.hilite').length";
  if (marks > 0) {
    QVERIFY2(WaitFor(count + " >= " + QString::number(marks)), qPrintable(Run(count).toString()));
    QTest::qWait(300);  // no further marks come
  } else {
    QTest::qWait(500);
  }
  QCOMPARE(Run(count).toInt(), marks);
  if (page == 0) return;
  QCOMPARE(
      Run("Number(document.querySelector('mark.hilite').closest('.page').dataset.page)").toInt(),
      page);
  // The marked text is the words asked for, and the first mark is in the scrolled view.
  QCOMPARE(Run("[...document.querySelectorAll('mark.hilite')].map(m => m.textContent).join('')")
               .toString(),
           marked);
  QVERIFY(
      WaitFor("(() => { const r = document.querySelector('mark.hilite').getBoundingClientRect();"
              " const b = document.getElementById('pages').getBoundingClientRect();"
              " return r.height > 0 && r.top >= b.top && r.bottom <= b.bottom; })()"));

  if (QByteArray(QTest::currentDataTag()) == "word twice on the first page") {
    QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
    QTest::qWait(300);
    QVERIFY(view_->grab().toImage().save(
        QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/pdf-highlight.png")));
  }
}

// Without the Chinese character maps the page of a PDF whose font is not embedded stays blank.
void ViewerTest::unembeddedFontIsDrawn() {
  QVERIFY(Open("songti.pdf"));
  QCOMPARE(Run("pdfViewer.textDivs(1).map(d => d.textContent).join('')").toString(),
           kPoem.join(""));
  QVERIFY(
      WaitFor("(() => { const c = document.querySelector('.page canvas');"
              " const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
              " let ink = 0;"
              " for (let i = 0; i < d.length; i += 4) if (d[i + 3] > 200 && d[i] < 100) ++ink;"
              " return ink > 500; })()"));
  QDir().mkpath(QStringLiteral(TOMEVA_BINARY_DIR "/screenshots"));
  QVERIFY(view_->grab().toImage().save(
      QStringLiteral(TOMEVA_BINARY_DIR "/screenshots/pdf-unembedded-font.png")));
}

void ViewerTest::badDataMarksNothing() {
  QVERIFY(Open("book.pdf"));
  struct Case {
    const char* name;
    const char* data;
  } cases[] = {
      {"wrong header", "[0x81,0x80,0,0, 0,0,0,0, 2,0,0,0]"},
      {"too short", "[0x80]"},
  };
  for (const Case& c : cases) {
    Run(QString("hiliteService.execute(new Uint8Array(%1))").arg(c.data));
    QVERIFY(WaitFor("hiliteService.last.status !== 'busy'"));
    QVERIFY2(Run("hiliteService.last.status").toString() == "failed", c.name);
    QVERIFY2(Run("document.querySelectorAll('mark.hilite').length").toInt() == 0, c.name);
  }
}

// Zooming redraws the pages, and the marks come back on the redrawn text layers; the page box
// and the next-page button move through the pages.
void ViewerTest::controlsMoveAndZoom() {
  QVERIFY(Open("book.pdf"));
  const QByteArray data = ExecuteData(text_, {"明月"});
  QStringList bytes;
  for (char c : data) bytes << QString::number(static_cast<unsigned char>(c));
  Run("hiliteService.execute(new Uint8Array([" + bytes.join(',') + "]))");
  QVERIFY(WaitFor("document.querySelectorAll('mark.hilite').length === 2"));

  const double before = Run("pdfViewer.scale").toDouble();
  Run("document.getElementById('zoomIn').click()");
  QVERIFY(Run("pdfViewer.scale").toDouble() > before);
  QVERIFY(WaitFor("document.querySelectorAll('mark.hilite').length === 2"));
  Run("document.getElementById('fitWidth').click()");
  QCOMPARE(Run("pdfViewer.scale").toDouble(), before);

  Run("{ const box = document.getElementById('pageNumber'); box.value = 3;"
      "box.dispatchEvent(new Event('change')); }");
  QVERIFY(WaitFor("pdfViewer.currentPageNumber === 3 && !!pdfViewer.textDivs(3)"));
  Run("document.getElementById('prev').click()");
  QVERIFY(WaitFor("pdfViewer.currentPageNumber === 2"));
  QCOMPARE(Run("document.getElementById('pageCount').textContent").toString(), QString("/ 3"));
}

// Script that gives page 1 a canvas draw of its own from now on: `render` is the body of a
// function returning the draw task ({promise, cancel}).
QString PageOneRenders(const QString& render) {
  return "(() => { const page = pdfViewer.pages[0];"
         "  page.pdfPagePromise = page.pdfPagePromise.then((p) => {"
         "    const own = Object.create(p);"
         "    own.render = () => {" + render + "};"
         "    return own; }); })();";
}

// Zooms that come while pages are being drawn cancel those draws: the pages end drawn at the
// last scale, and the log holds nothing (no "Uncaught (in promise)" from a cancelled task, no
// warning from cancelling a draw that had finished).
void ViewerTest::cancelledDrawsLogNothing_data() {
  QTest::addColumn<QString>("zooms");
  // Zoom steps at once and a few milliseconds apart, so that draws are cut at every stage.
  QTest::newRow("zooms in a burst")
      << "const scales = [1, 1.5, 0.75, 2, 0.5, 1.25];"
         "for (let i = 0; i < 36; ++i) {"
         "  pdfViewer.setScale(scales[i % scales.length]);"
         "  if (i % 3 !== 0) await new Promise((r) => setTimeout(r, i % 7));"
         "}";
  // A large page: its canvas takes long to draw and its text arrives late. The zoom cancels the
  // canvas while the draw waits for the text, and the draw then gives up without waiting for
  // its canvas.
  QTest::newRow("zoom while a slow page waits for its text")
      << PageOneRenders(
             "let cancel;"
             "const promise = new Promise((resolve, reject) => { cancel = () =>"
             "  reject(new pdfjsLib.RenderingCancelledException('Rendering cancelled', 'canvas'));"
             "});"
             "return { promise, cancel() { cancel(); } };") +
         "const items = pdfViewer.getPageItems;"
         "pdfViewer.getPageItems = function (n) {"
         "  return new Promise((r) => setTimeout(r, 300)).then(() => items.call(this, n));"
         "};"
         "pdfViewer.setScale(0.75);"
         "await new Promise((r) => setTimeout(r, 100));"
         "pdfViewer.setScale(1.25);"
         "await new Promise((r) => setTimeout(r, 100));"
         "pdfViewer.getPageItems = items;";
}

void ViewerTest::cancelledDrawsLogNothing() {
  QFETCH(QString, zooms);
  QVERIFY(Open("book.pdf"));
  page_->messages.clear();
  Run("window.zoomsDone = false; (async () => {" + zooms + " window.zoomsDone = true; })()");
  QVERIFY(WaitFor("window.zoomsDone === true"));
  QVERIFY(WaitFor("!!pdfViewer.textDivs(1) && pdfViewer.scale === 1.25"));
  QTest::qWait(500);
  QVERIFY2(page_->messages.isEmpty(), qPrintable(page_->messages.join('\n')));
}

// A draw that fails for a reason of its own is still logged, once, with its page.
void ViewerTest::failedDrawIsLogged() {
  QVERIFY(Open("book.pdf"));
  Run(PageOneRenders(
      "return { promise: Promise.reject(new Error('broken canvas')), cancel() {} };"));
  page_->messages.clear();
  Run("pdfViewer.setScale(1.5)");
  QVERIFY(WaitFor("!!pdfViewer.textDivs(1)"));
  QTest::qWait(300);
  QCOMPARE(page_->messages, QStringList{"page 1: Error: broken canvas"});
}

// The sample maker's installation: its viewer with the plug-in copied into plug_ins/ as the
// start-up does, on the whole-book PDF of the Tang anthology (many pages, lines wrapped where the
// text copy wraps them): every occurrence of a word is found, and each gets its mark once its
// page is drawn.
void ViewerTest::wholeBookOfTheSampleLibrary() {
#ifndef TOMEVA_SAMPLE_MAKER
  QSKIP("the sample maker is not built");
#else
  const QString sample = QDir(temp_.path()).filePath("sample");
  QCOMPARE(QProcess::execute(TOMEVA_SAMPLE_MAKER, {sample}), 0);
  QVERIFY(QFile::copy(sample + "/VazeZududi.api", sample + "/viewer/plug_ins/VazeZududi.api"));
  QVERIFY(Open("sample/1/838.pdf", sample + "/viewer/viewer.html"));
  QFile copy_file(sample + "/1/838.txt");
  QVERIFY(copy_file.open(QIODevice::ReadOnly));
  const std::string copy = copy_file.readAll().toStdString();
  const std::string word = tomeva::Utf8ToGbk("明月");
  int occurrences = 0;
  for (size_t at = copy.find(word); at != std::string::npos; at = copy.find(word, at + 2)) {
    ++occurrences;
  }
  QVERIFY(occurrences > 5);
  QVERIFY(Run("pdfViewer.pageCount").toInt() > 5);

  const QByteArray data = ExecuteData(copy, {"明月"});
  QStringList bytes;
  for (char c : data) bytes << QString::number(static_cast<unsigned char>(c));
  Run("hiliteService.execute(new Uint8Array([" + bytes.join(',') + "]))");
  QVERIFY(WaitFor("hiliteService.last.status !== 'busy'", 30000));
  QCOMPARE(Run("hiliteService.last.found").toInt(), occurrences);
  // Through the whole document, a screen at a time: the pages drawn on the way get their marks.
  Run("pdfViewer.setScale(0.25)");
  for (int step = 0; step < 400; ++step) {
    QTest::qWait(50);
    if (Run("(() => { const box = document.getElementById('pages');"
            " box.scrollTop += box.clientHeight;"
            " return box.scrollTop + box.clientHeight >= box.scrollHeight; })()")
            .toBool()) {
      break;
    }
  }
  const QString marked =
      "[...document.querySelectorAll('mark.hilite')].map(m => m.textContent).join('')";
  QVERIFY2(WaitFor(marked + " === '" + QString("明月").repeated(occurrences) + "'", 30000),
           qPrintable(Run(marked).toString()));
#endif
}

// The placement PDF's text items come in another order than its text copy's lines: each run is
// marked at its own place, on its own page, and nothing on a page whose text lacks the run, even
// where another page holds it with the same neighbours.
void ViewerTest::placementByPage_data() {
  QTest::addColumn<QString>("pdf");
  QTest::addColumn<QStringList>("words");
  QTest::addColumn<int>("found");           // runs placed
  QTest::addColumn<QStringList>("marked");  // per page, the marks' texts in the page's order

  QTest::newRow("contents, heads and index: 明月")
      << "order.pdf" << QStringList{"明月"} << 6
      << QStringList{"明月", "明月|明月", "明月", "明月|明月", ""};
  QTest::newRow("contents, heads and index: 插图")
      << "order.pdf" << QStringList{"插图"} << 5
      << QStringList{"插图", "插图", "插图|插图", "插图", ""};
  QTest::newRow("contents, heads and index: 索引")
      << "order.pdf" << QStringList{"索引"} << 3 << QStringList{"索引", "", "", "索引|索引", ""};
  QTest::newRow("contents, heads and index: three words")
      << "order.pdf" << QStringList{"明月", "插图", "索引"} << 14
      << QStringList{"明月|插图|索引", "明月|明月|插图", "插图|插图|明月",
                     "索引|明月|插图|明月|索引", ""};
  // A line end is matched too, after the last page's break: white space of no page.
  QTest::newRow("copy ending in a line break after the last page")
      << "tail.pdf" << QStringList{"明月", "\n"} << 6
      << QStringList{"明月", "明月|明月", "明月", "明月|明月", ""};
  // The run of the copy's page 2 has no place: the last page's is the last page's run's.
  QTest::newRow("words the copy's page has and the PDF's lacks")
      << "jump.pdf" << QStringList{"黄河"} << 1 << QStringList{"", "", "", "", "黄河"};
}

void ViewerTest::placementByPage() {
  QFETCH(QString, pdf);
  QFETCH(QStringList, words);
  QFETCH(int, found);
  QFETCH(QStringList, marked);
  QVERIFY(Open(pdf));
  const std::string copy = FileBytes(QDir(temp_.path()).filePath(pdf.chopped(3) + "txt"));
  Run(ExecuteScript(ExecuteData(copy, std::vector<QString>(words.begin(), words.end()))));
  QVERIFY(WaitFor("hiliteService.last.status !== 'busy'"));
  QCOMPARE(Run("hiliteService.last.status").toString(), QString("done"));
  QCOMPARE(Run("hiliteService.last.found").toInt(), found);
  // Every page drawn, each with the marks kept for it.
  Run("pdfViewer.setScale(0.25)");
  QVERIFY(WaitFor("pdfViewer.pages.every((p) => p.state === 'drawn')"));
  QTest::qWait(300);
  QCOMPARE(Run("pdfViewer.pages.map((p) => [...p.div.querySelectorAll('mark.hilite')]"
               ".map((m) => m.textContent).join('|'))")
               .toStringList(),
           marked);
}

// With page breaks known, the first run's page is read, marked and shown while the text of the
// other pages is still to come (here: never comes).
void ViewerTest::firstMarkBeforeOtherPagesAreRead_data() {
  QTest::addColumn<QString>("word");
  QTest::addColumn<QString>("readable");  // the pages whose text can be read, a script array
  QTest::addColumn<int>("page");          // of the first mark
  QTest::addColumn<QString>("status");    // of the request once the first mark shows

  QTest::newRow("word on every page, the first drawn") << "插图" << "[1]" << 1 << "busy";
  QTest::newRow("word on a page not drawn yet") << "松间" << "[3]" << 3 << "done";
}

void ViewerTest::firstMarkBeforeOtherPagesAreRead() {
  QFETCH(QString, word);
  QFETCH(QString, readable);
  QFETCH(int, page);
  QFETCH(QString, status);
  QVERIFY(Open("order.pdf"));
  Run("{ const items = pdfViewer.getPageItems; const readable = " + readable + ";"
      "  pdfViewer.getPageItems = function (n) {"
      "    return readable.includes(n) ? items.call(this, n) : new Promise(() => {}); }; }");
  const std::string copy = FileBytes(QDir(temp_.path()).filePath("order.txt"));
  Run(ExecuteScript(ExecuteData(copy, {word})));
  QVERIFY(WaitFor(
      "(() => { const m = document.querySelector('mark.hilite'); if (!m) return false;"
      " const r = m.getBoundingClientRect();"
      " const b = document.getElementById('pages').getBoundingClientRect();"
      " return r.height > 0 && r.top >= b.top && r.bottom <= b.bottom; })()"));
  QCOMPARE(
      Run("Number(document.querySelector('mark.hilite').closest('.page').dataset.page)").toInt(),
      page);
  QCOMPARE(Run("document.querySelector('mark.hilite').textContent").toString(), word);
  QCOMPARE(Run("hiliteService.last.status").toString(), status);
}

QStringList ViewerTest::RealPdfs() {
  const QString dir = qEnvironmentVariable("TOMEVA_REAL_PDF_DIR");
  QStringList pdfs;
  if (dir.isEmpty()) return pdfs;
  for (const QFileInfo& info : QDir(dir).entryInfoList({"*.pdf"}, QDir::Files, QDir::Name)) {
    if (QFileInfo::exists(info.absoluteFilePath().chopped(3) + "txt")) {
      pdfs << info.absoluteFilePath();
    }
  }
  return pdfs;
}

// Checks the marks of the last request for one word on a PDF whose text copy has page breaks;
// `expected` gives, per page, the word's occurrences that the copy's page holds. Counted from the
// marks themselves and the pages' own text: runs marked on a page that holds them in the copy (at
// most as many as it holds there), runs missed while the PDF's page holds the word more often
// than it got marks, and wrong marks (on a page whose copy holds fewer, or holding other text).
constexpr char kCheckMarks[] = R"JS(
const length = [...word].length;
const chars = new Map();
const odd = [];
let wrong = 0;
for (const m of hiliteService.marks()) {
  const text = (await pdfViewer.getPageItems(m.page))[m.item].substring(m.start, m.end);
  const letters = [...text].filter((c) => !/\s/.test(c));
  if (!letters.every((c) => word.includes(c))) {
    ++wrong;
    odd.push(m.page + ': ' + text);
  }
  chars.set(m.page, (chars.get(m.page) || 0) + letters.length);
}
let own = 0, placing = 0;
const missed = [];
const pages = new Set([...chars.keys(), ...Object.keys(expected).map(Number)]);
for (const n of pages) {
  const placed = Math.ceil((chars.get(n) || 0) / length);
  const wanted = expected[n] || 0;
  own += Math.min(placed, wanted);
  wrong += Math.max(0, placed - wanted);
  if (placed < wanted) {
    const text = (await pdfViewer.getPageItems(n)).join('').replace(/\s/g, '');
    let held = 0;
    for (let i = text.indexOf(word); i >= 0; i = text.indexOf(word, i + length)) ++held;
    const short = Math.min(wanted, held) - placed;
    if (short > 0) {
      placing += short;
      missed.push(n);
    }
  }
}
return JSON.stringify({own, wrong, placing, missed, odd});
)JS";

// Per page of the GBK text copy, how many of the word's occurrences it holds (whole characters,
// at most 500 in all, as ExecuteData sends them).
QJsonObject PagesOf(const std::string& copy, const QString& word) {
  const std::vector<bool> starts = CharacterStarts(copy);
  const std::string gbk = tomeva::Utf8ToGbk(word.toStdString());
  std::map<int, int> pages;
  int page = 1;
  size_t counted = 0;  // form feeds counted up to here
  int matches = 0;
  for (size_t at = copy.find(gbk); at != std::string::npos && matches < 500;
       at = copy.find(gbk, at + 1)) {
    if (!starts[at]) continue;
    ++matches;
    page += static_cast<int>(std::count(copy.begin() + counted, copy.begin() + at, '\f'));
    counted = at;
    ++pages[page];
  }
  QJsonObject object;
  for (const auto& [n, count] : pages) object[QString::number(n)] = count;
  return object;
}

QString JsString(const QString& text) {
  return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
      .mid(1)
      .chopped(1);
}

// PDFs made elsewhere (TOMEVA_REAL_PDF_DIR: PDFs with their text copies beside them, page breaks
// as form feeds): for words taken from each copy, every occurrence sent as the search program
// sends it, and the marks checked (kCheckMarks). There must be no wrong mark.
void ViewerTest::realPdfPlacement() {
  const QStringList pdfs = RealPdfs();
  if (pdfs.isEmpty()) QSKIP("TOMEVA_REAL_PDF_DIR names no folder of PDFs with text copies");
  const int wanted = qEnvironmentVariableIsSet("TOMEVA_REAL_PDF_WORDS")
                         ? qEnvironmentVariableIntValue("TOMEVA_REAL_PDF_WORDS")
                         : 60;
  qint64 sent_all = 0, own_all = 0, placing_all = 0, wrong_all = 0;
  for (const QString& pdf : pdfs) {
    QVERIFY2(Open(pdf), qPrintable(pdf));
    const std::string copy = FileBytes(pdf.chopped(3) + "txt");
    const std::vector<QString> words = WordsOf(copy, static_cast<size_t>(wanted));
    qint64 sent = 0, own = 0, placing = 0, wrong = 0;
    for (const QString& word : words) {
      const QJsonObject expected = PagesOf(copy, word);
      for (const QJsonValue count : expected) sent += count.toInt();
      Run(ExecuteScript(ExecuteData(copy, {word})));
      QVERIFY(WaitFor("hiliteService.last.status !== 'busy'", 120000));
      QCOMPARE(Run("hiliteService.last.status").toString(), QString("done"));
      const QString answer =
          RunAsync("const word = " + JsString(word) + "; const expected = " +
                   QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact)) +
                   ";" + QString::fromUtf8(kCheckMarks))
              .toString();
      const QJsonObject figures = QJsonDocument::fromJson(answer.toUtf8()).object();
      QVERIFY2(!figures.isEmpty(), qPrintable(answer));
      own += figures["own"].toInt();
      wrong += figures["wrong"].toInt();
      placing += figures["placing"].toInt();
      if (figures["placing"].toInt() > 0 || figures["wrong"].toInt() > 0) {
        qInfo("  %s: %s: missed on pages %s; marks of other text %s",
              qPrintable(QFileInfo(pdf).fileName()), qPrintable(word),
              QJsonDocument(figures["missed"].toArray()).toJson(QJsonDocument::Compact).data(),
              QJsonDocument(figures["odd"].toArray()).toJson(QJsonDocument::Compact).data());
      }
    }
    qInfo("%s: %d pages, %zu words, %lld runs sent, %lld at their own place (%.2f %%), "
          "%lld missed with the text on the page, %lld wrong marks",
          qPrintable(QFileInfo(pdf).fileName()), Run("pdfViewer.pageCount").toInt(),
          words.size(), sent, own, sent ? 100.0 * own / sent : 0.0, placing, wrong);
    sent_all += sent;
    own_all += own;
    placing_all += placing;
    wrong_all += wrong;
  }
  qInfo("all: %lld runs sent, %lld at their own place (%.2f %%), %lld missed with the text on "
        "the page, %lld wrong marks",
        sent_all, own_all, sent_all ? 100.0 * own_all / sent_all : 0.0, placing_all, wrong_all);
  QCOMPARE(wrong_all, 0);
}

// On the long PDFs of TOMEVA_REAL_PDF_DIR (250 pages or more): the time from the execute data to
// the first mark in view, against the time to draw that page alone (scrolled to, until its text
// layer is there), each in a freshly opened viewer.
void ViewerTest::realPdfTiming() {
  const QStringList pdfs = RealPdfs();
  if (pdfs.isEmpty()) QSKIP("TOMEVA_REAL_PDF_DIR names no folder of PDFs with text copies");
  // Each measure starts in a freshly opened viewer once it has done its own work (the pages'
  // sizes, the first page).
  const QString start =
      "const inView = () => { const m = document.querySelector('mark.hilite');"
      " if (!m) return false; const r = m.getBoundingClientRect();"
      " const b = document.getElementById('pages').getBoundingClientRect();"
      " return r.height > 0 && r.top >= b.top && r.bottom <= b.bottom; };"
      "const tick = () => new Promise((r) => setTimeout(r, 1));"
      "await Promise.all(pdfViewer.pages.map((p) => p.pdfPagePromise));"
      "while (!pdfViewer.textDivs(1)) await tick();"
      "await new Promise((r) => setTimeout(r, 300));";
  int measured = 0;
  for (const QString& pdf : pdfs) {
    QVERIFY(Open(pdf));
    const int pages = Run("pdfViewer.pageCount").toInt();
    if (pages < 250) continue;
    const std::string copy = FileBytes(pdf.chopped(3) + "txt");
    std::vector<double> ratios;
    for (const QString& word : WordsOf(copy, 40)) {
      if (ratios.size() == 7) break;
      const size_t at = copy.find(tomeva::Utf8ToGbk(word.toStdString()));
      const int page = 1 + static_cast<int>(std::count(copy.begin(), copy.begin() + at, '\f'));
      if (page < 5) continue;  // not drawn at the start
      QVERIFY(Open(pdf));
      const double alone = RunAsync(start + QString("const t0 = performance.now();"
                                                    "pdfViewer.scrollToPage(%1);"
                                                    "while (!pdfViewer.textDivs(%1)) await tick();"
                                                    "return performance.now() - t0;")
                                                .arg(page))
                               .toDouble();
      QVERIFY(Open(pdf));
      const QString times =
          RunAsync(start +
                   QString("let text = 0; pdfViewer.on('textlayer', (e) => {"
                           "  if (e.pageNumber === %1 && !text) text = performance.now(); });")
                       .arg(page) +
                   "const t0 = performance.now();" + ExecuteScript(ExecuteData(copy, {word})) +
                   "; while (!inView()) await tick();"
                   "return (performance.now() - t0) + ' ' + (text - t0);")
              .toString();
      const double first = times.section(' ', 0, 0).toDouble();
      QVERIFY2(alone > 0 && first > 0, qPrintable(times));
      ratios.push_back(first / alone);
      qInfo("%s (%d pages), %s on page %d: page drawn alone %.0f ms, execute to the first mark "
            "in view %.0f ms (its text layer at %.0f ms), %.2fx",
            qPrintable(QFileInfo(pdf).fileName()), pages, qPrintable(word), page, alone, first,
            times.section(' ', 1, 1).toDouble(), first / alone);
    }
    std::sort(ratios.begin(), ratios.end());
    if (!ratios.empty()) {
      qInfo("%s: median %.2fx over %zu words", qPrintable(QFileInfo(pdf).fileName()),
            ratios[ratios.size() / 2], ratios.size());
      ++measured;
    }
  }
  if (measured == 0) QSKIP("no PDF of 250 pages or more");
}

QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
