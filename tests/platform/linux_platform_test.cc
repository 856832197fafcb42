#include "platform/linux_platform.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <memory>
#include <string>

#include "core/base/file_util.h"
#include "core/base/gbk.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

using testing::TempDir;

// Runs the event loop until `done` holds or five seconds pass.
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  return done();
}

std::string Real(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

std::string ReadText(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return bytes;
}

class LinuxPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "linux_platform_test";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
    ::setenv("TOMEVA_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    ::setenv("TOMEVA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    // The desktop's handler is replaced by a script that writes down what it was asked to open.
    const std::string opener = dir_ / "opener.sh";
    ASSERT_TRUE(ReplaceFileAtomically(
        opener, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + (dir_ / "opened.tmp") + "\"\nmv \"" +
                    (dir_ / "opened.tmp") + "\" \"" + (dir_ / "opened") + "\"\n"));
    ::chmod(opener.c_str(), 0755);
    ::setenv("TOMEVA_OPENER", opener.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("TOMEVA_OPENER"); }

  std::string Opened() {
    const std::string file = dir_ / "opened";
    if (!WaitFor([&] { return FileExists(file); })) return "(nothing opened)";
    return ReadText(file);
  }

  TempDir dir_;
};

// A command line starts in the folder it names (the present one when none), its quoted parts
// kept together; one that cannot start reports it.
TEST_F(LinuxPlatformTest, RunCommandLineStartsInTheFolderOrReportsFailure) {
  LinuxPlatform platform;
  MakeDirectories(dir_ / "work dir");
  ASSERT_TRUE(platform.RunCommandLine("sh -c \"pwd > where.txt\"", dir_ / "work dir"));
  const std::string where = dir_ / "work dir/where.txt";
  ASSERT_TRUE(WaitFor([&] { return FileExists(where) && !ReadText(where).empty(); }));
  EXPECT_EQ(ReadText(where), Real(dir_ / "work dir") + "\n");

  EXPECT_FALSE(platform.RunCommandLine("", ""));
  EXPECT_FALSE(platform.RunCommandLine("/no/such/program --now", ""));
}

// Documents are handed to the desktop's handler by absolute path, addresses as they are (GBK in,
// the handler gets UTF-8).
TEST_F(LinuxPlatformTest, DocumentsAndAddressesGoToTheDesktopsHandler) {
  LinuxPlatform platform;
  ASSERT_TRUE(platform.OpenInBrowserWindow(Utf8ToGbk("https://lumq.example/书")));
  EXPECT_EQ(Opened(), "https://lumq.example/书");
  RemoveFile(dir_ / "opened");
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "Help.htm", "<html></html>"));
  ASSERT_TRUE(platform.OpenDocument(dir_ / "Help.htm"));
  EXPECT_EQ(Opened(), dir_ / "Help.htm");
}

// The first holder of a name keeps it; a second start is refused and asks the first to raise its
// window; once the first is gone the name is free again.
TEST_F(LinuxPlatformTest, SingleInstanceGuardRefusesASecondStartAndRaisesTheFirst) {
  int raised = 0;
  auto first = std::make_unique<LinuxPlatform>();
  ASSERT_TRUE(first->AcquireSingleInstance(Utf8ToGbk("书库 Class"), [&] { ++raised; }));
  {
    LinuxPlatform second;
    EXPECT_FALSE(second.AcquireSingleInstance(Utf8ToGbk("书库 Class"), [] {}));
    EXPECT_EQ(second.guard(), nullptr);
  }
  EXPECT_TRUE(WaitFor([&] { return raised == 1; }));
  LinuxPlatform other_name;
  EXPECT_TRUE(other_name.AcquireSingleInstance("other Class", [] {}));
  first.reset();
  LinuxPlatform next;
  EXPECT_TRUE(next.AcquireSingleInstance(Utf8ToGbk("书库 Class"), [] {}));
}

}  // namespace
}  // namespace tomeva::platform
