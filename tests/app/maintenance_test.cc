#include "core/app/maintenance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/base/gbk.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::ReadScrambledUtf8;
using testing::FakePlatform;
using testing::ReadUtf8;
using testing::TempDir;
using testing::WriteGbk;
using testing::WriteScrambledGbk;

class FakeUi : public MigrationUi {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(GbkToUtf8(text)); }
  void ShowCopyProgress() override { events += "show;"; }
  void CloseCopyProgress() override { events += "close;"; }
  void Report(const std::string& message) override { reports.push_back(GbkToUtf8(message)); }
  std::vector<std::string> messages;
  std::vector<std::string> reports;
  std::string events;
};

class MigrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.registry_.WriteRegString(RegRoot::kLocalMachine, kRegOldInstallation, "AppPath",
                                       old_.path());
    platform_.registry_.WriteRegString(RegRoot::kLocalMachine,
                                       std::string(kRegOldUninstall) + "\\Sub", "x", "1");
    WriteGbk(desk_ / "desktop/Lumq数据库系统.lnk", "shortcut");
    WriteGbk(desk_ / "desktop/other.desktop", "other");
    WriteGbk(desk_ / "programs/Lumq书局/a.lnk", "menu");
    WriteGbk(desk_ / "system/kestcore.dll", "dll");
    app_dir_ = app_.path() + "/";
  }

  void CheckCleanedUp() {
    EXPECT_FALSE(FileExists(desk_ / "desktop/Lumq数据库系统.lnk"));
    EXPECT_TRUE(FileExists(desk_ / "desktop/other.desktop"));
    EXPECT_FALSE(DirectoryExists(desk_ / "programs/Lumq书局"));
    EXPECT_FALSE(FileExists(desk_ / "system/kestcore.dll"));
    EXPECT_FALSE(platform_.registry_.KeyExists(RegRoot::kLocalMachine, kRegOldInstallation));
    EXPECT_FALSE(platform_.registry_.KeyExists(RegRoot::kLocalMachine, kRegOldUninstall));
    EXPECT_EQ(platform_.killed, (std::vector<std::string>{"Harbexon.exe", "start.exe", "end.exe"}));
  }

  TempDir old_, app_, desk_;
  std::string app_dir_;
  FakePlatform platform_{desk_.path()};
  FakeUi ui_;
};

TEST_F(MigrationTest, StagesNewBooksOnlyAndRemovesTheOlderInstallation) {
  WriteGbk(old_ / "bookconfig.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"
           "<book dir=\"1\" name=\"已安装\"/>\r\n<book dir=\"2\" name=\"已暂存\"/>\r\n"
           "<book dir=\"3\" name=\"新书\"/>\r\n<book dir=\"../evil\" name=\"坏\"/>\r\n"
           "<book name=\"无目录\"/>\r\n<Xml2HtmlTags dir=\"4\" name=\"标签也算\"/>\r\n</books>");
  WriteGbk(old_ / "3/book_1.xml", "record");
  WriteGbk(old_ / "3/pages/p.htm", "page");
  WriteGbk(old_ / "4/x.htm", "x");
  MakeDirectories(app_ / "1");
  MakeDirectories(app_ / "Update/2");
  WriteScrambledGbk(app_ / "Update/bookconfig0.xml", "<books/>");  // a pending fragment

  EXPECT_EQ(MigrateOlderInstallation(app_dir_, old_.path(), platform_, ui_), 2);

  EXPECT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.events, "show;close;");
  EXPECT_EQ(ReadUtf8(app_ / "Update/3/book_1.xml"), "record");
  EXPECT_EQ(ReadUtf8(app_ / "Update/3/pages/p.htm"), "page");
  EXPECT_EQ(ReadScrambledUtf8(app_ / "Update/bookconfig3.xml"),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"
            "<book dir=\"3\" name=\"新书\"/>\r\n</books>");
  // Every child element of the older catalogue counts, whatever its tag.
  EXPECT_TRUE(FileExists(app_ / "Update/bookconfig4.xml"));
  EXPECT_FALSE(FileExists(app_ / "Update/bookconfig1.xml"));
  EXPECT_FALSE(FileExists(app_ / "Update/bookconfig2.xml"));
  EXPECT_FALSE(DirectoryExists(app_ / "evil"));
  ASSERT_EQ(ui_.reports.size(), 1u);  // the refused folder name
  EXPECT_NE(ui_.reports[0].find("../evil"), std::string::npos);
  // The pending fragment is untouched and the staged copy of the older catalogue is gone.
  EXPECT_EQ(ReadScrambledUtf8(app_ / "Update/bookconfig0.xml"), "<books/>");
  std::vector<std::string> update = ListDirectory(app_ / "Update");
  EXPECT_EQ(update, (std::vector<std::string>{"2", "3", "4", "bookconfig0.xml",
                                              "bookconfig3.xml", "bookconfig4.xml"}));
  EXPECT_FALSE(DirectoryExists(old_.path()));
  CheckCleanedUp();
}

TEST_F(MigrationTest, MissingOlderFolderStillCleansUpAndStagesNothing) {
  const std::string missing = old_ / "gone";
  EXPECT_EQ(MigrateOlderInstallation(app_dir_, missing, platform_, ui_), 0);
  for (const std::string& name : ListDirectory(app_ / "Update")) {
    ADD_FAILURE() << "unexpected " << name;
  }
  CheckCleanedUp();
}

TEST_F(MigrationTest, FolderThatIsNotPlainlyAnInstallationIsKept) {
  // No bookconfig.xml: not recognisably an older installation.
  WriteGbk(old_ / "important.doc", "data");
  MigrateOlderInstallation(app_dir_, old_.path(), platform_, ui_);
  EXPECT_EQ(ReadUtf8(old_ / "important.doc"), "data");
  EXPECT_EQ(ui_.reports.size(), 1u);
  CheckCleanedUp();
}

TEST(OlderInstallationTest, OnlyAPlainInstallationFolderMayBeDeleted) {
  TempDir base;
  WriteGbk(base / "old/bookconfig.xml", "x");
  WriteGbk(base / "app/bookconfig.xml", "x");
  WriteGbk(base / "bookconfig.xml", "x");
  WriteGbk(base / "plain/readme.txt", "x");
  const std::string app = base / "app";
  struct Case {
    std::string old;
    bool deletable;
  } cases[] = {
      {base / "old", true},
      {base / "old/", true},
      {base / "plain", false},         // holds no catalogue
      {base / "missing", false},
      {app, false},                    // the installation itself
      {app + "/../app", false},
      {base.path(), false},            // an ancestor of the installation
      {"/", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDeletableOlderInstallation(c.old, app + "/"), c.deletable) << c.old;
  }
  if (const char* home = std::getenv("HOME")) {
    TempDir fake_home;
    WriteGbk(fake_home / "bookconfig.xml", "x");
    std::string saved = home;
    ::setenv("HOME", fake_home.path().c_str(), 1);
    EXPECT_FALSE(IsDeletableOlderInstallation(fake_home.path(), app));
    ::setenv("HOME", saved.c_str(), 1);
  }
}

TEST(PendingCatalogueTest, OnlyFilesNamedLikeFragmentsCount) {
  TempDir app;
  EXPECT_EQ(CountPendingCatalogues(app.path()), 0);
  EXPECT_FALSE(HasPendingCatalogue(app.path()));
  MakeDirectories(app / "Update/bookconfig1.xml");  // a folder
  WriteGbk(app / "Update/bookconfig.txt", "x");
  WriteGbk(app / "Update/mybookconfig.xml", "x");
  EXPECT_EQ(CountPendingCatalogues(app.path()), 0);
  EXPECT_FALSE(HasPendingCatalogue(app.path()));
  WriteGbk(app / "Update/BookConfig7.XML", "x");
  WriteGbk(app / "Update/bookconfig.xml", "x");
  EXPECT_EQ(CountPendingCatalogues(app.path()), 2);
  EXPECT_TRUE(HasPendingCatalogue(app.path()));
  EXPECT_TRUE(DirectoryExistsInAppDir(app.path(), "Update\\bookconfig1.xml"));
  EXPECT_TRUE(DirectoryExistsInAppDir(app.path(), "update"));
  EXPECT_FALSE(DirectoryExistsInAppDir(app.path(), "Update/bookconfig.xml"));
}

TEST(MoveSpecialBookLastTest, RewritesOnlyACatalogueThatNeedsIt) {
  TempDir app;
  const std::string path = app / "bookconfig.xml";
  WriteScrambledGbk(path, "<books>\r\n<book dir=\"99999\" name=\"说明\"/>\r\n"
                          "<book dir=\"1\" name=\"甲\"/>\r\n</books>");
  EXPECT_TRUE(MoveSpecialBookLast(app.path()));
  EXPECT_EQ(ReadScrambledUtf8(path), "<books>\r\n\r\n<book dir=\"1\" name=\"甲\"/>\r\n"
                                     "<book dir=\"99999\" name=\"说明\"/></books>");
  const std::string no_end = "<books>\r\n<book dir=\"99999\"/>\r\n<book dir=\"1\"/>\r\n";
  WriteScrambledGbk(path, no_end);
  EXPECT_FALSE(MoveSpecialBookLast(app.path()));
  EXPECT_EQ(ReadScrambledUtf8(path), no_end);
  RemoveFile(path);
  EXPECT_FALSE(MoveSpecialBookLast(app.path()));
  EXPECT_FALSE(FileExists(path));
}

}  // namespace
}  // namespace tomeva
