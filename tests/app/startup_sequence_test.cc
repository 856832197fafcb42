#include "core/app/startup_sequence.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/base/gbk.h"

namespace tomeva {
namespace {

// Records every step in order; each step's answer can be set.
class RecordingHost : public IStartupHost {
 public:
  std::string CurrentDirectory() override { return dir; }
  void Sleep(int ms) override { steps.push_back("sleep " + std::to_string(ms)); }
  bool AcquireSingleInstance(const std::string& name) override {
    steps.push_back("guard");
    guard_name = name;
    return guard_ok;
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
  bool CheckForUpdate(const std::string& url) override {
    steps.push_back("check " + url);
    return check_ok;
  }
  void InitIndexLibrary() override { steps.push_back("kms"); }

  std::string dir;
  std::string old_folder;
  std::string guard_name;
  bool guard_ok = true;
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
      {"plain", "", false,
       {"sleep 500", "guard", "order", "frame", "document", "show", "check http://h/v.xml", "kms"}},
      {"pending books", "", true,
       {"sleep 500", "guard", "import", "order", "frame", "document", "show",
        "check http://h/v.xml", "kms"}},
      {"older installation", "/old", true,
       {"sleep 500", "guard", "migrate /old", "import", "order", "frame", "document", "show",
        "check http://h/v.xml", "kms"}},
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
    bool guard_ok, frame_ok, check_ok;
    std::vector<std::string> steps;
  } cases[] = {
      {"second instance", false, true, true,
       {"sleep 500", "guard", "message Cannot run more than one instance."}},
      {"no frame", true, false, true, {"sleep 500", "guard", "order", "frame"}},
      {"updater started", true, true, false,
       {"sleep 500", "guard", "order", "frame", "document", "show", "check http://h/v.xml"}},
  };
  for (const auto& c : cases) {
    RecordingHost host = host_;
    host.guard_ok = c.guard_ok;
    host.frame_ok = c.frame_ok;
    host.check_ok = c.check_ok;
    StartupResult r = RunStartupSequence(host);
    EXPECT_FALSE(r.run) << c.name;
    EXPECT_EQ(r.exit_code, 0) << c.name;
    EXPECT_EQ(host.steps, c.steps) << c.name;
  }
}

TEST_F(StartupTest, GuardIsNamedAfterTheTitleAndMissingContactInfoGivesNoAddress) {
  std::filesystem::remove(dir_ / "ContactInfo.xml");
  StartupResult r = RunStartupSequence(host_);
  EXPECT_EQ(host_.guard_name, Utf8ToGbk("Lumq图书数据库V4.0 Class"));
  EXPECT_EQ(r.check_version_url, "");
  EXPECT_EQ(host_.steps[6], "check ");
}

}  // namespace
}  // namespace tomeva
