// The runtime folder holds the single-instance lock and the conversations' sockets; only a folder
// private to this user is used, so that another user cannot keep the program from starting or
// pose as the highlight service.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <functional>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/texts.h"
#include "platform/dde.h"
#include "platform/environment.h"
#include "platform/linux_platform.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

using testing::TempDir;

// The user a folder is handed to when the test can hand one over (it runs as root).
constexpr uid_t kOtherUser = 65534;  // nobody

class RuntimeFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "runtime_folder_test";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
  }
  void TearDown() override { ::unsetenv("TOMEVA_RUNTIME_DIR"); }

  TempDir dir_;
};

struct FolderCase {
  const char* name;
  std::function<bool(const std::string&)> make;  // false: the case cannot be made here
};

// How a folder at the runtime folder's place may have been left by someone else.
std::vector<FolderCase> HostileFolders(const std::string& scratch) {
  return {
      {"made by another user with mode 0777",
       [](const std::string& run) {
         if (::geteuid() != 0) return false;
         return ::mkdir(run.c_str(), 0700) == 0 && ::chmod(run.c_str(), 0777) == 0 &&
                ::chown(run.c_str(), kOtherUser, kOtherUser) == 0;
       }},
      {"another user's, mode 0700",
       [](const std::string& run) {
         if (::geteuid() != 0) return false;
         return ::mkdir(run.c_str(), 0700) == 0 &&
                ::chown(run.c_str(), kOtherUser, kOtherUser) == 0;
       }},
      {"ours, mode 0777",
       [](const std::string& run) {
         return ::mkdir(run.c_str(), 0700) == 0 && ::chmod(run.c_str(), 0777) == 0;
       }},
      {"ours, mode 0775 (the group may write)",
       [](const std::string& run) {
         return ::mkdir(run.c_str(), 0700) == 0 && ::chmod(run.c_str(), 0775) == 0;
       }},
      {"a link to a private folder",
       [scratch](const std::string& run) {
         const std::string target = scratch + "/link-target";
         return ::mkdir(target.c_str(), 0700) == 0 && ::symlink(target.c_str(), run.c_str()) == 0;
       }},
  };
}

// A folder made by the program, or found private, is used; every other is refused, named, and
// left as it was.
TEST_F(RuntimeFolderTest, OnlyAPrivateFolderOfThisUserIsUsed) {
  std::string why;
  const std::string made = dir_ / "parent/run";
  EXPECT_EQ(PrepareRuntimeFolder(made, &why), RuntimeFolder::kPrivate) << why;
  struct stat found;
  ASSERT_EQ(::lstat(made.c_str(), &found), 0);
  EXPECT_EQ(found.st_mode & 07777, 0700u);
  EXPECT_EQ(PrepareRuntimeFolder(made, &why), RuntimeFolder::kPrivate) << "found again: " << why;
  // An older version's folder, ours and open to others for reading only, is closed and used.
  for (mode_t mode : {0755, 0711, 0500}) {
    const std::string older = dir_ / ("older" + std::to_string(mode));
    ASSERT_EQ(::mkdir(older.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(older.c_str(), mode), 0);
    EXPECT_EQ(PrepareRuntimeFolder(older, &why), RuntimeFolder::kPrivate) << mode << ": " << why;
    ASSERT_EQ(::lstat(older.c_str(), &found), 0);
    EXPECT_EQ(found.st_mode & 07777, 0700u) << mode;
  }

  int index = 0;
  for (const FolderCase& c : HostileFolders(dir_.path())) {
    SCOPED_TRACE(c.name);
    const std::string run = dir_ / ("hostile" + std::to_string(index++));
    if (!c.make(run)) {
      std::printf("skipped (needs root): %s\n", c.name);
      continue;
    }
    struct stat before;
    ASSERT_EQ(::lstat(run.c_str(), &before), 0);
    why.clear();
    EXPECT_EQ(PrepareRuntimeFolder(run, &why), RuntimeFolder::kNotPrivate);
    EXPECT_FALSE(why.empty());
    struct stat after;
    ASSERT_EQ(::lstat(run.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode) << "a folder found must not be changed";
    EXPECT_EQ(after.st_uid, before.st_uid);
  }
}

// The attack: another user makes the runtime folder first and leaves a lock file and a socket of
// their own in it. The program still starts (the guard reports the folder, naming it) and touches
// nothing there; the highlight service cannot be registered there, and a client does not talk to
// whatever listens there.
TEST_F(RuntimeFolderTest, AFolderOthersCanUseKeepsNoOneOutAndServesNoConversation) {
  int index = 0;
  for (const FolderCase& c : HostileFolders(dir_.path())) {
    SCOPED_TRACE(c.name);
    const std::string run = dir_ / ("taken" + std::to_string(index++));
    if (!c.make(run)) continue;
    // The other user's instance holds the guard there: made as a private folder for a moment,
    // then given back its owner and mode.
    char* resolved = ::realpath(run.c_str(), nullptr);
    ASSERT_NE(resolved, nullptr);
    const std::string real(resolved);
    std::free(resolved);
    struct stat was;
    ASSERT_EQ(::stat(real.c_str(), &was), 0);
    ASSERT_EQ(::chown(real.c_str(), ::geteuid(), ::getegid()), 0);
    ASSERT_EQ(::chmod(real.c_str(), 0700), 0);
    ::setenv("TOMEVA_RUNTIME_DIR", real.c_str(), 1);
    LinuxPlatform other_users;
    ASSERT_EQ(other_users.AcquireSingleInstance(
                  "any Class", [] {}, nullptr),
              InstanceGuardResult::kAcquired);
    ASSERT_EQ(::chmod(real.c_str(), was.st_mode & 07777), 0);
    ASSERT_EQ(::chown(real.c_str(), was.st_uid, was.st_gid), 0);
    ::setenv("TOMEVA_RUNTIME_DIR", run.c_str(), 1);
    const std::vector<std::string> left_there = ListDirectory(run);
    ASSERT_FALSE(left_there.empty());

    LinuxPlatform platform;
    std::string failure;
    EXPECT_EQ(platform.AcquireSingleInstance(
                  "any Class", [] {}, &failure),
              InstanceGuardResult::kFailed);
    const std::string expected = GbkToUtf8(TextWith(kTextGuardUnsafeFolder, run));
    EXPECT_EQ(GbkToUtf8(failure).rfind(expected, 0), 0u) << GbkToUtf8(failure);
    EXPECT_EQ(platform.guard(), nullptr);
    // Nor is a second start told that one is running.
    LinuxPlatform second;
    EXPECT_EQ(second.AcquireSingleInstance(
                  "any Class", [] {}, nullptr),
              InstanceGuardResult::kFailed);

    DdeServer server(
        "HiliteService", "PageNumber", [](const std::string&) { return true; }, run);
    std::string server_failure;
    EXPECT_FALSE(server.Register(&server_failure));
    EXPECT_NE(server_failure.find(run), std::string::npos) << server_failure;
    EXPECT_EQ(ListDirectory(run), left_there) << "nothing may be added to such a folder";
  }
}

// Whoever listens in a folder that is not private is not our server: a client that finds the
// folder loosened after the server registered does not send it anything.
TEST_F(RuntimeFolderTest, AClientDoesNotTalkToASocketInAFolderOthersCanUse) {
  const std::string run = dir_ / "run";
  ASSERT_EQ(PrepareRuntimeFolder(run, nullptr), RuntimeFolder::kPrivate);
  std::vector<std::string> received;
  DdeServer server(
      "HiliteService", "PageNumber",
      [&](const std::string& data) {
        received.push_back(data);
        return true;
      },
      run);
  ASSERT_TRUE(server.Register(nullptr));
  ASSERT_EQ(::chmod(run.c_str(), 0777), 0);
  DdeResult failure = DdeResult::kDone;
  EXPECT_EQ(DdeClient(run).Connect("HiliteService", "PageNumber", 1000, &failure), nullptr);
  EXPECT_EQ(failure, DdeResult::kNoServer);
  QCoreApplication::processEvents();
  EXPECT_TRUE(received.empty());
}

// An update key counts only where no one but the administrator or this user could have put it:
// a key file or folder others can write to, or one another user owns, is left out of the list.
TEST(UpdateKeyFilesTest, OnlyKeysNoOneElseCouldWriteAreListed) {
  struct Case {
    const char* name;
    mode_t dir_mode;
    mode_t file_mode;  // 0: no key file
    bool other_owner;  // the key file handed to another user (only when run as root)
    bool listed;
  };
  const Case cases[] = {
      {"a key of this user's", 0755, 0644, false, true},
      {"no key file: listed, the check finds none", 0755, 0, false, true},
      {"a key others can write", 0755, 0666, false, false},
      {"a key its group can write", 0755, 0664, false, false},
      {"a key in a folder others can write", 0777, 0644, false, false},
      {"a key another user owns", 0755, 0644, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.other_owner && ::geteuid() != 0) continue;
    TempDir dir;
    const std::string user = dir / "user";
    ASSERT_EQ(::mkdir(user.c_str(), c.dir_mode), 0);
    ASSERT_EQ(::chmod(user.c_str(), c.dir_mode), 0);
    const std::string key = user + "/update.pub";
    if (c.file_mode != 0) {
      ASSERT_TRUE(ReplaceFileAtomically(key, "untrusted comment: k\nRWQ=\n"));
      ASSERT_EQ(::chmod(key.c_str(), c.file_mode), 0);
      if (c.other_owner) {
        ASSERT_EQ(::chown(key.c_str(), kOtherUser, kOtherUser), 0);
      }
    }
    ::setenv("TOMEVA_PACKAGE_CONFIG_DIR", (dir / "none1").c_str(), 1);
    ::setenv("TOMEVA_SITE_CONFIG_DIR", (dir / "none2").c_str(), 1);
    ::setenv("TOMEVA_USER_CONFIG_DIR", user.c_str(), 1);
    const std::vector<std::string> files = UpdateKeyFiles();
    const std::vector<std::string> missing = {dir / "none1/update.pub", dir / "none2/update.pub"};
    std::vector<std::string> want = missing;
    if (c.listed) want.push_back(key);
    EXPECT_EQ(files, want);
    ::chmod(user.c_str(), 0755);
  }
  ::unsetenv("TOMEVA_PACKAGE_CONFIG_DIR");
  ::unsetenv("TOMEVA_SITE_CONFIG_DIR");
  ::unsetenv("TOMEVA_USER_CONFIG_DIR");
}

}  // namespace
}  // namespace tomeva::platform
