#include "core/app/startup_sequence.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/gbk.h"

namespace tomeva {
namespace {

// Records every step in order; each step's answer can be set.
class RecordingHost : public IStartupHost {
 public:
  std::string CurrentDirectory() override { return dir; }
  void Sleep(int ms) override { steps.push_back("sleep " + std::to_string(ms)); }
  InstanceGuardResult AcquireSingleInstance(const std::string& name,
                                            std::string* failure) override {
    steps.push_back("guard");
    guard_name = name;
    if (guard == InstanceGuardResult::kFailed) *failure = Utf8ToGbk(guard_failure);
    return guard;
  }
  void ShowMessage(const std::string& text) override { steps.push_back("message " + text); }
  std::string OlderInstallationFolder() override { return old_folder; }
  void MigrateOlderInstallation(const std::string& old) override {
    steps.push_back("migrate " + old);
  }
  bool HasPendingCatalogue() override { return pending; }
  void ImportPendingBooks() override { steps.push_back("import"); }
  void MoveSpecialBookLast() override { steps.push_back("order"); }
  bool CreateMainFrame() override {
    steps.push_back("frame");
    return frame_ok;
  }
  bool CreateDocument() override {
    steps.push_back("document");
    return true;
  }
  void ShowMainFrame() override { steps.push_back("show"); }
  std::vector<std::string> TakeDocumentNotices() override {
    steps.push_back("notices");
    std::vector<std::string> taken;
    taken.swap(notices);
    return taken;
  }
  bool CheckForUpdate(const std::string& url) override {
    steps.push_back("check " + url);
    return check_ok;
  }
  void InitIndexLibrary() override { steps.push_back("kms"); }

  std::string dir;
  std::string old_folder;
  std::string guard_name;
  InstanceGuardResult guard = InstanceGuardResult::kAcquired;
  std::string guard_failure;         // UTF-8
  std::vector<std::string> notices;  // GBK
  bool pending = false;
  bool frame_ok = true;
  bool check_ok = true;
  std::vector<std::string> steps;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder of its own: CTest runs the cases of this fixture as parallel processes.
    std::string pattern = (std::filesystem::path(::testing::TempDir()) / "startup_test.XXXXXX")
                              .string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "ContactInfo.xml")
        << "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<c><CheckVersionUrl>  http://h/v.xml "
           "</CheckVersionUrl></c>";
    host_.dir = dir_.string();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
  RecordingHost host_;
};

TEST_F(StartupTest, StepsRunInTheirFixedOrder) {
  const struct {
    const char* name;
    std::string old_folder;
    bool pending;
    std::vector<std::string> steps;
  } cases[] = {
      {"plain",
       "",
       false,
       {"sleep 500", "guard", "order", "frame", "document", "show", "notices",
        "check http://h/v.xml", "kms"}},
      {"pending books",
       "",
       true,
       {"sleep 500", "guard", "import", "order", "frame", "document", "show", "notices",
        "check http://h/v.xml", "kms"}},
      {"older installation",
       "/old",
       true,
       {"sleep 500", "guard", "migrate /old", "import", "order", "frame", "document", "show",
        "notices", "check http://h/v.xml", "kms"}},
  };
  for (const auto& c : cases) {
    RecordingHost host = host_;
    host.old_folder = c.old_folder;
    host.pending = c.pending;
    StartupResult r = RunStartupSequence(host);
    EXPECT_TRUE(r.run) << c.name;
    EXPECT_EQ(host.steps, c.steps) << c.name;
    EXPECT_EQ(r.app_dir, dir_.string() + "/") << c.name;
    EXPECT_EQ(r.check_version_url, "http://h/v.xml") << c.name;
  }
}

TEST_F(StartupTest, EarlyEndsStopBeforeLaterSteps) {
  const struct {
    const char* name;
    bool frame_ok, check_ok;
    std::vector<std::string> steps;
  } cases[] = {
      {"no frame", false, true, {"sleep 500", "guard", "order", "frame"}},
      {"updater started",
       true,
       false,
       {"sleep 500", "guard", "order", "frame", "document", "show", "notices",
        "check http://h/v.xml"}},
  };
  for (const auto& c : cases) {
    RecordingHost host = host_;
    host.frame_ok = c.frame_ok;
    host.check_ok = c.check_ok;
    StartupResult r = RunStartupSequence(host);
    EXPECT_FALSE(r.run) << c.name;
    EXPECT_EQ(r.exit_code, 0) << c.name;
    EXPECT_EQ(host.steps, c.steps) << c.name;
  }
}

// Only a live first instance ends the start with its message; a guard that fails for another
// reason is reported, naming what failed, and the start goes on.
TEST_F(StartupTest, OnlyAnotherInstanceEndsTheStartOtherGuardFailuresAreReported) {
  const std::vector<std::string> rest = {
      "order", "frame", "document", "show", "notices", "check http://h/v.xml", "kms"};
  const std::string reason = "无法创建运行文件夹“/run/x”，不能阻止同时再运行一个本程序";
  const struct {
    const char* name;
    InstanceGuardResult guard;
    std::string message;  // shown after the guard ("" = none)
    bool run;             // the other steps follow
  } cases[] = {
      {"taken", InstanceGuardResult::kAcquired, "", true},
      {"another instance", InstanceGuardResult::kHeldElsewhere,
       "Cannot run more than one instance.", false},
      {"guard failed", InstanceGuardResult::kFailed,
       "防止重复运行的保护没有完全建立：" + reason + "。\n本程序照常运行。", true},
  };
  for (const auto& c : cases) {
    RecordingHost host = host_;
    host.guard = c.guard;
    host.guard_failure = reason;
    StartupResult r = RunStartupSequence(host);
    std::vector<std::string> steps = {"sleep 500", "guard"};
    if (!c.message.empty()) steps.push_back("message " + c.message);
    if (c.run) steps.insert(steps.end(), rest.begin(), rest.end());
    EXPECT_EQ(r.run, c.run) << c.name;
    EXPECT_EQ(r.exit_code, 0) << c.name;
    EXPECT_EQ(host.steps, steps) << c.name;
  }
}

// What the document found wrong in the library is told once the main window shows, each notice
// once, before the version check.
TEST_F(StartupTest, DocumentNoticesAreShownOnceAfterTheWindow) {
  host_.notices = {Utf8ToGbk("书目文件中有52本书"), Utf8ToGbk("无法读取书目文件")};
  StartupResult r = RunStartupSequence(host_);
  EXPECT_TRUE(r.run);
  EXPECT_EQ(host_.steps,
            (std::vector<std::string>{"sleep 500", "guard", "order", "frame", "document", "show",
                                      "notices", "message 书目文件中有52本书",
                                      "message 无法读取书目文件", "check http://h/v.xml", "kms"}));
  EXPECT_TRUE(host_.notices.empty());
}

TEST_F(StartupTest, GuardIsNamedAfterTheTitleAndMissingContactInfoGivesNoAddress) {
  std::filesystem::remove(dir_ / "ContactInfo.xml");
  StartupResult r = RunStartupSequence(host_);
  EXPECT_EQ(host_.guard_name, Utf8ToGbk("Lumq图书数据库V4.0 Class"));
  EXPECT_EQ(r.check_version_url, "");
  EXPECT_EQ(host_.steps[7], "check ");
}

}  // namespace
}  // namespace tomeva
