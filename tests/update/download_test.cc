// The updater's download against a local HTTP server: the file arrives whole with its run bits,
// replacing one of its name; every failure (HTTP error, refused connection, stall, the deadline,
// a file over the size limit, a refused redirect, a refused certificate, a folder that cannot
// take the file, a write that fails at any point, a file the caller's check refuses) answers
// false, leaves no temporary file and keeps the old file. Over https, the certificate is
// verified and only https redirects are followed.
#include "platform/download.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/fault_injection.h"
#include "base/file_tree.h"
#include "base/file_util.h"
#include "support/temp_dir.h"
#include "update/http_test_server.h"

namespace tomeva::platform {
namespace {

using testing::HttpTestServer;

const QByteArray kUpdater = "#!/bin/sh\necho updated > marker\n";

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "download_test";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
    // Made once the application is there: its socket needs the thread's event loop.
    server_ = std::make_unique<HttpTestServer>();
    ASSERT_TRUE(server_->listening());
    using Reply = HttpTestServer::Reply;
    server_->Set("/dl/setup.sh", Reply::Body(200, kUpdater));
    server_->Set("/old/setup.sh", Reply::Redirect("/dl/setup.sh"));
    server_->Set("/moved/setup.sh", Reply::Redirect(server_->Url("/dl/setup.sh").toLatin1()));
    server_->Set("/to-https/setup.sh", Reply::Redirect("https://127.0.0.1:1/setup.sh"));
    server_->Set("/gone", Reply::Body(404, "not found"));
    server_->Set("/broken", Reply::Body(500, "server error"));
    server_->Set("/silent", Reply::Silent());
    // Large enough to arrive in several pieces.
    server_->Set("/big", Reply::Body(200, QByteArray(4 << 20, 'x')));
    ClearFaults();
  }
  void TearDown() override { ClearFaults(); }

  std::string Url(const char* path) {
    return server_->Url(QString::fromLatin1(path)).toStdString();
  }
  std::string Read(const std::string& path) {
    std::string bytes;
    ReadWholeFile(path, &bytes);
    return bytes;
  }

  std::unique_ptr<HttpTestServer> server_;
  testing::TempDir dir_;
};

TEST_F(DownloadTest, WritesTheWholeFileWithRunBitsReplacingAnOldOne) {
  const std::string target = dir_ / "setup.sh";
  for (std::string url : {Url("/dl/setup.sh"), "file://" + dir_ / "source/setup.sh"}) {
    SCOPED_TRACE(url);
    ASSERT_TRUE(MakeDirectories(dir_ / "source"));
    ASSERT_TRUE(ReplaceFileAtomically(dir_ / "source/setup.sh", kUpdater.toStdString()));
    ASSERT_TRUE(ReplaceFileAtomically(target, "old updater"));
    // The check sees the whole file, not yet runnable, and learns it did not come over https.
    bool checked = false;
    ASSERT_TRUE(DownloadToFile(url, target, {}, [&](const std::string& part, bool over_https) {
      checked = true;
      EXPECT_FALSE(over_https);
      EXPECT_EQ(Read(part), kUpdater.toStdString());
      struct stat st;
      EXPECT_EQ(::stat(part.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0111, 0u);
      EXPECT_EQ(Read(target), "old updater");
      return true;
    }));
    EXPECT_TRUE(checked);
    ASSERT_TRUE(DeleteTree(dir_ / "source") && RemoveDirectory(dir_ / "source"));
    EXPECT_EQ(Read(target), kUpdater.toStdString());
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u);
    EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"setup.sh"});
  }
  EXPECT_TRUE(DownloadToFile(Url("/big"), dir_ / "big"));
  EXPECT_EQ(Read(dir_ / "big").size(), 4u << 20);
}

// With a folder set, a file: address brings only a file of that folder: a page naming a file of
// the user's elsewhere gets nothing of it into the target's folder.
TEST_F(DownloadTest, AFileAddressOutsideTheFolderIsNotRead) {
  ASSERT_TRUE(MakeDirectories(dir_ / "library/updates"));
  ASSERT_TRUE(MakeDirectories(dir_ / "home"));
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "library/updates/setup.sh", "inside"));
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "home/secret", "the user's"));
  ASSERT_EQ(::symlink((dir_ / "home/secret").c_str(), (dir_ / "library/updates/link").c_str()), 0);
  DownloadOptions options;
  options.file_folder = dir_ / "library";
  const struct {
    std::string url;
    const char* bytes;  // null: refused
  } cases[] = {
      {"file://" + dir_ / "library/updates/setup.sh", "inside"},
      {"file://" + dir_ / "home/secret", nullptr},
      {"file://" + dir_ / "library/updates/link", nullptr},
      {"file://" + dir_ / "library/../home/secret", nullptr},
      {"file://elsewhere" + dir_ / "library/updates/setup.sh", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const std::string target = dir_ / "library/setup.sh";
    bool checked = false;
    EXPECT_EQ(DownloadToFile(c.url, target, options,
                             [&](const std::string&, bool) { return checked = true; }),
              c.bytes != nullptr);
    EXPECT_EQ(checked, c.bytes != nullptr);
    EXPECT_EQ(Read(target), c.bytes == nullptr ? "" : c.bytes);
    std::string small;
    EXPECT_EQ(DownloadToMemory(c.url, &small, options), c.bytes != nullptr);
    EXPECT_EQ(small, c.bytes == nullptr ? "" : c.bytes);
    ::unlink(target.c_str());
    EXPECT_EQ(ListDirectory(dir_ / "library"), std::vector<std::string>{"updates"});
  }
}

TEST_F(DownloadTest, FailuresLeaveNothingAndKeepTheOldFile) {
  // A port nothing listens on.
  quint16 closed_port = 0;
  {
    HttpTestServer gone;
    closed_port = gone.port();
  }
  const std::string refused = "http://127.0.0.1:" + std::to_string(closed_port) + "/setup.sh";
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "file", "x"));
  struct Case {
    const char* name;
    std::string url;
    std::string target;
  };
  const std::vector<Case> cases = {
      {"404", Url("/gone"), dir_ / "setup.sh"},
      {"500", Url("/broken"), dir_ / "setup.sh"},
      {"refused", refused, dir_ / "setup.sh"},
      {"no address", "setup.sh", dir_ / "setup.sh"},
      {"another scheme", "data:text/plain,echo", dir_ / "setup.sh"},
      {"http redirect on the same server", Url("/old/setup.sh"), dir_ / "setup.sh"},
      {"http redirect by full address", Url("/moved/setup.sh"), dir_ / "setup.sh"},
      {"http redirect to https", Url("/to-https/setup.sh"), dir_ / "setup.sh"},
      {"missing folder", Url("/dl/setup.sh"), dir_ / "no/such/setup.sh"},
      {"folder is a file", Url("/dl/setup.sh"), dir_ / "file/setup.sh"},
      {"target is a folder", Url("/dl/setup.sh"), dir_.path()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ReplaceFileAtomically(dir_ / "setup.sh", "old updater"));
    EXPECT_FALSE(DownloadToFile(c.url, c.target));
    EXPECT_EQ(Read(dir_ / "setup.sh"), "old updater");
    EXPECT_EQ(ListDirectory(dir_.path()), (std::vector<std::string>{"file", "setup.sh"}));
  }
}

TEST_F(DownloadTest, AServerThatSaysNothingIsGivenUp) {
  QElapsedTimer clock;
  clock.start();
  DownloadOptions options;
  options.stall_timeout_ms = 500;
  EXPECT_FALSE(DownloadToFile(Url("/silent"), dir_ / "setup.sh", options));
  EXPECT_LT(clock.elapsed(), 10000);
  EXPECT_TRUE(ListDirectory(dir_.path()).empty());
}

// Each write of the download fails in turn, as on a full disk from there on: the temporary file,
// the first piece of data, a later piece or the flush, the rename. (How many pieces arrive varies
// from run to run; the first four writes are there in every run.)
TEST_F(DownloadTest, AFailedWriteAtAnyPointLeavesNothing) {
  const std::string target = dir_ / "big";
  ArmFault(FaultSite::kFileWrite, 0, 0);
  ASSERT_TRUE(DownloadToFile(Url("/big"), target));
  const int writes = FaultSiteCalls(FaultSite::kFileWrite);
  ASSERT_GE(writes, 4);  // the temporary file, the pieces, the flush, the rename
  for (int nth = 1; nth <= 4; ++nth) {
    SCOPED_TRACE("failing write " + std::to_string(nth));
    ASSERT_TRUE(ReplaceFileAtomically(target, "old"));
    ArmFault(FaultSite::kFileWrite, nth, ENOSPC, true);
    EXPECT_FALSE(DownloadToFile(Url("/big"), target));
    ClearFaults();
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"big"});
  }
}

// A server cannot hold the start with a trickle, nor fill the disk or memory: the deadline ends
// a transfer that never stalls, a length announced over the limit is refused at once, and the
// bytes are counted when no length is announced. A file of exactly the limit
// still comes.
TEST_F(DownloadTest, DeadlineAndSizeLimit) {
  constexpr int kLimit = 1 << 20;
  using Reply = HttpTestServer::Reply;
  server_->Set("/trickle", Reply::Trickle(QByteArray(100, 't'), 100));
  server_->Set("/announced", Reply::Announced(int64_t{2} << 30, "#!/bin/sh\n"));
  server_->Set("/unsized", Reply::Unsized(QByteArray(kLimit + 1, 'u')));
  server_->Set("/sized", Reply::Body(200, QByteArray(kLimit + 1, 's')));
  server_->Set("/limit", Reply::Body(200, QByteArray(kLimit, 'l')));
  server_->Set("/limit-unsized", Reply::Unsized(QByteArray(kLimit, 'l')));
  DownloadOptions options;
  options.stall_timeout_ms = 4000;
  options.deadline_ms = 1500;
  options.max_bytes = kLimit;
  struct Case {
    const char* path;
    bool arrives;
    qint64 min_ms;
    qint64 max_ms;
  };
  const std::vector<Case> cases = {
      {"/trickle", false, 1400, 3500},  // one byte every 0.1 s never stalls
      {"/announced", false, 0, 1000},   // refused on its length, before the stall time-out
      {"/unsized", false, 0, 3500},
      {"/sized", false, 0, 3500},
      {"/limit", true, 0, 3500},
      {"/limit-unsized", true, 0, 3500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string target = dir_ / "setup.sh";
    ASSERT_TRUE(ReplaceFileAtomically(target, "old updater"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(DownloadToFile(Url(c.path), target, options), c.arrives);
    EXPECT_GE(clock.elapsed(), c.min_ms);
    EXPECT_LT(clock.elapsed(), c.max_ms);
    EXPECT_EQ(Read(target).size(), c.arrives ? size_t{kLimit} : std::string("old updater").size());
    EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"setup.sh"});
    // Into memory under the same limits.
    std::string bytes = "stale";
    EXPECT_EQ(DownloadToMemory(Url(c.path), &bytes, options), c.arrives);
    EXPECT_EQ(bytes.size(), c.arrives ? size_t{kLimit} : 0u);
  }
}

// A file the caller's check refuses is not put in place, and nothing of it is left.
TEST_F(DownloadTest, AFileTheCheckRefusesLeavesNothing) {
  const std::string target = dir_ / "setup.sh";
  ASSERT_TRUE(ReplaceFileAtomically(target, "old updater"));
  std::string seen;
  EXPECT_FALSE(DownloadToFile(Url("/dl/setup.sh"), target, {},
                              [&](const std::string& part, bool) {
                                seen = Read(part);
                                return false;
                              }));
  EXPECT_EQ(seen, kUpdater.toStdString());
  EXPECT_EQ(Read(target), "old updater");
  EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"setup.sh"});
}

// Over https, against a server of the test's own with a certificate made for 127.0.0.1: not
// trusted, the certificate is refused; trusted (as a real certificate authority's would be), the
// file comes and is known to have come over https, also through an https redirect; a redirect
// from https to http is refused.
TEST_F(DownloadTest, HttpsVerifiesTheCertificateAndKeepsToHttps) {
  ASSERT_EQ(::access(TOMEVA_OPENSSL, X_OK), 0) << "openssl is needed (scripts/packages.txt)";
  const std::string key_pem = dir_ / "key.pem";
  const std::string cert_pem = dir_ / "cert.pem";
  const std::string make = std::string(TOMEVA_OPENSSL) +
                           " req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                           " -addext subjectAltName=IP:127.0.0.1 -keyout " + key_pem +
                           " -out " + cert_pem + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  QFile cert_file(QString::fromStdString(cert_pem));
  QFile key_file(QString::fromStdString(key_pem));
  ASSERT_TRUE(cert_file.open(QIODevice::ReadOnly) && key_file.open(QIODevice::ReadOnly));
  const QSslCertificate certificate(&cert_file, QSsl::Pem);
  const QSslKey key(&key_file, QSsl::Rsa, QSsl::Pem);
  ASSERT_FALSE(certificate.isNull());
  ASSERT_FALSE(key.isNull());
  RemoveFile(key_pem);
  RemoveFile(cert_pem);
  QSslConfiguration server_tls = QSslConfiguration::defaultConfiguration();
  server_tls.setLocalCertificate(certificate);
  server_tls.setPrivateKey(key);
  server_tls.setPeerVerifyMode(QSslSocket::VerifyNone);
  HttpTestServer tls(&server_tls);
  ASSERT_TRUE(tls.listening());
  using Reply = HttpTestServer::Reply;
  tls.Set("/dl/setup.sh", Reply::Body(200, kUpdater));
  tls.Set("/old/setup.sh", Reply::Redirect("/dl/setup.sh"));
  tls.Set("/to-http/setup.sh", Reply::Redirect(server_->Url("/dl/setup.sh").toLatin1()));
  const auto url = [&](const char* path) {
    return tls.Url(QString::fromLatin1(path)).toStdString();
  };
  const std::string target = dir_ / "setup.sh";

  // Qt's default verification: a certificate no authority vouches for is refused.
  EXPECT_FALSE(DownloadToFile(url("/dl/setup.sh"), target));
  EXPECT_TRUE(ListDirectory(dir_.path()).empty());

  const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
  QSslConfiguration trusting = original;
  trusting.addCaCertificate(certificate);
  QSslConfiguration::setDefaultConfiguration(trusting);
  struct Case {
    const char* path;
    bool arrives;
  };
  for (const Case& c : std::vector<Case>{{"/dl/setup.sh", true},
                                         {"/old/setup.sh", true},
                                         {"/to-http/setup.sh", false}}) {
    SCOPED_TRACE(c.path);
    bool secure = false;
    EXPECT_EQ(DownloadToFile(url(c.path), target, {},
                             [&](const std::string&, bool over_https) {
                               secure = over_https;
                               return true;
                             }),
              c.arrives);
    EXPECT_EQ(secure, c.arrives);
    EXPECT_EQ(Read(target), c.arrives ? kUpdater.toStdString() : "");
    RemoveFile(target);
    EXPECT_TRUE(ListDirectory(dir_.path()).empty());
  }
  QSslConfiguration::setDefaultConfiguration(original);
}

// A file: version page is read only when it is a regular file of the library reached without a
// link; anything else on the machine is refused without being read.
TEST(ReadFileInsideTest, OnlyARegularFileOfTheLibrary) {
  testing::TempDir dir;
  const std::string library = dir / "lib";
  const std::string outside = dir / "outside";
  ASSERT_TRUE(MakeDirectories(library + "/sub") && MakeDirectories(outside));
  ASSERT_TRUE(ReplaceFileAtomically(library + "/version.xml", "page"));
  ASSERT_TRUE(ReplaceFileAtomically(library + "/sub/v.htm", "sub page"));
  ASSERT_TRUE(ReplaceFileAtomically(library + "/big.htm", std::string(101, 'x')));
  ASSERT_TRUE(ReplaceFileAtomically(outside + "/secret.txt", "secret"));
  ASSERT_EQ(::symlink((outside + "/secret.txt").c_str(), (library + "/evil.htm").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), (library + "/out").c_str()), 0);
  ASSERT_EQ(::symlink((library + "/sub").c_str(), (library + "/in").c_str()), 0);
  ASSERT_EQ(::symlink(library.c_str(), (dir / "lib-link").c_str()), 0);
  ASSERT_EQ(::mkfifo((library + "/fifo").c_str(), 0600), 0);
  // The program runs in its library: the working folder's link in /proc leads into it, but an
  // address through a link from outside is not an address of the library.
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_NE(cwd, nullptr);
  ASSERT_EQ(::chdir(library.c_str()), 0);
  struct Case {
    const char* name;
    std::string path;
    std::string folder;
    const char* bytes;  // nullptr: refused
  };
  const std::vector<Case> cases = {
      {"a file of the library", library + "/version.xml", library, "page"},
      {"the folder given with a trailing slash", library + "/version.xml", library + "/", "page"},
      {"in a subfolder", library + "/sub/v.htm", library, "sub page"},
      {"through a link within the library", library + "/in/v.htm", library, "sub page"},
      {"the library named through a link outside it", dir / "lib-link/version.xml", library,
       nullptr},
      {"the library given through a link", library + "/version.xml", dir / "lib-link", "page"},
      {"outside", outside + "/secret.txt", library, nullptr},
      {"/proc/self/cwd, the library itself", "/proc/self/cwd/version.xml", library, nullptr},
      {"/etc", "/etc/passwd", library, nullptr},
      {"a link in the library to a file outside", library + "/evil.htm", library, nullptr},
      {"a link in the library to a folder outside", library + "/out/secret.txt", library, nullptr},
      {"up and out", library + "/../outside/secret.txt", library, nullptr},
      {"a dot", library + "/./version.xml", library, nullptr},
      {"a folder", library + "/sub", library, nullptr},
      {"a folder with a slash", library + "/sub/", library, nullptr},
      {"a FIFO is not waited on", library + "/fifo", library, nullptr},
      {"missing", library + "/none.htm", library, nullptr},
      {"larger than the limit", library + "/big.htm", library, nullptr},
      {"relative", "lib/version.xml", library, nullptr},
      {"a library that is not there", library + "/version.xml", dir / "none", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = "left over";
    EXPECT_EQ(ReadFileInside(c.path, c.folder, 100, &bytes), c.bytes != nullptr);
    EXPECT_EQ(bytes, c.bytes != nullptr ? c.bytes : "");
  }
  ASSERT_EQ(::chdir(cwd), 0);
  std::free(cwd);
}

}  // namespace
}  // namespace tomeva::platform
