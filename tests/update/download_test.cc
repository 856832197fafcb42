// The updater's download against a local HTTP server: the file arrives whole with its run bits,
// replacing one of its name; every failure (HTTP error, refused connection, stall, a folder that
// cannot take the file, a write that fails at any point) answers false, leaves no temporary file
// and keeps the old file.
#include "platform/download.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "core/base/fault_injection.h"
#include "core/base/file_util.h"
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
  for (const char* path : {"/dl/setup.sh", "/old/setup.sh"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(ReplaceFileAtomically(target, "old updater"));
    ASSERT_TRUE(DownloadToFile(Url(path), target));
    EXPECT_EQ(Read(target), kUpdater.toStdString());
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u);
    EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"setup.sh"});
  }
  EXPECT_TRUE(DownloadToFile(Url("/big"), dir_ / "big"));
  EXPECT_EQ(Read(dir_ / "big").size(), 4u << 20);
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

}  // namespace
}  // namespace tomeva::platform
