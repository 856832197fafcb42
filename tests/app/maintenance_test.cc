#include "core/app/maintenance.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/fault_injection.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/texts.h"
#include "core/xml/xml_document.h"
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

  // `old_dir`: the older folder the migration was given; only programs inside it are ended.
  void CheckCleanedUp(const std::string& old_dir) {
    EXPECT_FALSE(FileExists(desk_ / "desktop/Lumq数据库系统.lnk"));
    EXPECT_TRUE(FileExists(desk_ / "desktop/other.desktop"));
    EXPECT_FALSE(DirectoryExists(desk_ / "programs/Lumq书局"));
    EXPECT_FALSE(FileExists(desk_ / "system/kestcore.dll"));
    EXPECT_FALSE(platform_.registry_.KeyExists(RegRoot::kLocalMachine, kRegOldInstallation));
    EXPECT_FALSE(platform_.registry_.KeyExists(RegRoot::kLocalMachine, kRegOldUninstall));
    EXPECT_EQ(platform_.killed, (std::vector<std::string>{"Harbexon.exe", "start.exe", "end.exe"}));
    EXPECT_EQ(platform_.killed_in, std::vector<std::string>(3, old_dir));
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
           "<book dir=\"3\" name=\"新书\"/>\r\n"
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
  EXPECT_TRUE(ui_.reports.empty());
  // The pending fragment is untouched and the staged copy of the older catalogue is gone.
  EXPECT_EQ(ReadScrambledUtf8(app_ / "Update/bookconfig0.xml"), "<books/>");
  std::vector<std::string> update = ListDirectory(app_ / "Update");
  EXPECT_EQ(update, (std::vector<std::string>{"2", "3", "4", "bookconfig0.xml",
                                              "bookconfig3.xml", "bookconfig4.xml"}));
  EXPECT_FALSE(DirectoryExists(old_.path()));
  CheckCleanedUp(old_.path());
}

TEST_F(MigrationTest, MissingOlderFolderStillCleansUpAndStagesNothing) {
  const std::string missing = old_ / "gone";
  EXPECT_EQ(MigrateOlderInstallation(app_dir_, missing, platform_, ui_), 0);
  for (const std::string& name : ListDirectory(app_ / "Update")) {
    ADD_FAILURE() << "unexpected " << name;
  }
  CheckCleanedUp(missing);
}

TEST_F(MigrationTest, FolderThatIsNotPlainlyAnInstallationIsKept) {
  // No bookconfig.xml: not recognisably an older installation.
  WriteGbk(old_ / "important.doc", "data");
  MigrateOlderInstallation(app_dir_, old_.path(), platform_, ui_);
  EXPECT_EQ(ReadUtf8(old_ / "important.doc"), "data");
  ASSERT_EQ(ui_.reports.size(), 1u);
  EXPECT_EQ(ui_.reports[0], GbkToUtf8(TextWith(kTextOldInstallationKept, old_.path())));
  CheckCleanedUp(old_.path());
}

// Every file below `dir`, by its path relative to `dir`, with its bytes. Read without the file
// helpers, so that a fault armed for them cannot touch the check.
using FileMap = std::map<std::string, std::string>;
FileMap Snapshot(const std::string& dir) {
  namespace fs = std::filesystem;
  FileMap files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_regular_file()) continue;
    std::ifstream in(it->path(), std::ios::binary);
    files[fs::relative(it->path(), dir).string()] =
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

// The files of `all` below the folder `dir`, relative to it.
FileMap Below(const FileMap& all, const std::string& dir) {
  FileMap files;
  for (const auto& [path, bytes] : all) {
    if (path.compare(0, dir.size() + 1, dir + "/") == 0) files[path.substr(dir.size() + 1)] = bytes;
  }
  return files;
}

// How many fragments in `update` name each book folder (as written, "\" turned into "/").
std::map<std::string, int> FragmentDirs(const std::string& update) {
  std::map<std::string, int> dirs;
  for (const std::string& name : ListDirectory(update)) {
    const std::string lower = ToLowerAscii(name);
    if (!StartsWith(lower, "bookconfig") || !EndsWith(lower, ".xml")) continue;
    CXmlDocument fragment;
    EXPECT_EQ(fragment.Load(JoinPath(update, name), 1), 1) << name;
    for (CXmlNode* book = fragment.root().first_child(); book != nullptr;
         book = book->next_sibling()) {
      auto dir = book->attributes().find("dir");
      if (dir != book->attributes().end()) ++dirs[NormalizeSeparators(dir->second)];
    }
  }
  return dirs;
}

// An older installation and a new one, each test case its own.
struct Installations {
  Installations() {
    platform.registry_.WriteRegString(RegRoot::kLocalMachine, kRegOldInstallation, "AppPath",
                                      old.path());
    platform.registry_.WriteRegString(RegRoot::kLocalMachine,
                                      std::string(kRegOldUninstall) + "\\Sub", "x", "1");
  }
  int Migrate() {
    ui = FakeUi();
    return MigrateOlderInstallation(app.path() + "/", old.path(), platform, ui);
  }
  bool Retried() {
    return platform.registry_.KeyExists(RegRoot::kLocalMachine, kRegOldInstallation);
  }
  bool Told(int text) const {
    const std::string expected = GbkToUtf8(TextWith(text, old.path()));
    return std::find(ui.reports.begin(), ui.reports.end(), expected) != ui.reports.end();
  }

  TempDir old, app, desk;
  FakePlatform platform{desk.path()};
  FakeUi ui;
};

std::string OlderCatalogue(const std::string& books) {
  return "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n" + books + "</books>";
}

TEST(MigrationKeepsTest, OlderFolderStaysWithAllItsBooksWhenOneCannotBeTakenOver) {
  const std::string good = "<book dir=\"1\" name=\"甲\"/>\r\n";
  struct Case {
    const char* name;
    std::string catalogue;
    std::string told;                 // what the user is told about the book or the catalogue
    std::vector<std::string> staged;  // books waiting in Update/ afterwards
  } cases[] = {
      {"catalogue cut short",
       OlderCatalogue(good + "<book dir=\"2\" name=\"乙\"/>\r\n").substr(0, 80),
       "无法读取或已损坏",
       {}},
      {"folder leading out of the installation",
       OlderCatalogue(good + "<book dir=\"../evil\" name=\"坏\"/>\r\n"),
       "../evil",
       {"1"}},
      {"a file where the book's folder should be",
       OlderCatalogue(good + "<book dir=\"2.htm\" name=\"乙\"/>\r\n"),
       "“乙”（文件夹2.htm）",
       {"1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installations in;
    WriteGbk(in.old / "bookconfig.xml", c.catalogue);
    WriteGbk(in.old / "1/a.htm", "a");
    WriteGbk(in.old / "2/b.htm", "b");
    WriteGbk(in.old / "2.htm", "not a folder");
    WriteScrambledGbk(in.app / "bookconfig.xml", OlderCatalogue(""));
    const FileMap before = Snapshot(in.old.path());

    EXPECT_EQ(in.Migrate(), static_cast<int>(c.staged.size()));

    EXPECT_EQ(Snapshot(in.old.path()), before);
    bool told = false;
    for (const std::string& report : in.ui.reports) {
      told = told || report.find(c.told) != std::string::npos;
    }
    EXPECT_TRUE(told) << ::testing::PrintToString(in.ui.reports);
    EXPECT_TRUE(in.Told(kTextOlderInstallationIncomplete));
    // It would fail the same way at the next start: no second try.
    EXPECT_FALSE(in.Retried());
    std::vector<std::string> staged;
    for (const auto& [dir, count] : FragmentDirs(in.app / "Update")) staged.push_back(dir);
    EXPECT_EQ(staged, c.staged);
    // Only the fragments and the staged books; no copy of the older catalogue is left.
    for (const std::string& dir : c.staged) {
      EXPECT_EQ(Snapshot(in.app / ("Update/" + dir)), Below(before, dir));
    }
    EXPECT_EQ(ReadScrambledUtf8(in.app / "bookconfig.xml"), OlderCatalogue(""));
  }
}

TEST(MigrationKeepsTest, BookWithoutAFolderIsReportedButHasNothingToKeep) {
  Installations in;
  WriteGbk(in.old / "bookconfig.xml",
           OlderCatalogue("<book dir=\"1\" name=\"甲\"/>\r\n<book dir=\"9\" name=\"空\"/>\r\n"));
  WriteGbk(in.old / "1/a.htm", "a");
  EXPECT_EQ(in.Migrate(), 1);
  ASSERT_EQ(in.ui.reports.size(), 1u);
  EXPECT_EQ(in.ui.reports[0], "较老版本中的书“空”的文件夹9不存在，这本书没有可并入的文件。");
  EXPECT_EQ(FragmentDirs(in.app / "Update"), (std::map<std::string, int>{{"1", 1}}));
  EXPECT_FALSE(DirectoryExists(in.old.path()));
  EXPECT_FALSE(in.Retried());
}

TEST(MigrationKeepsTest, BooksInSubFoldersAndLinkedFoldersAreStagedUnderTheirPath) {
  Installations in;
  TempDir elsewhere;
  WriteGbk(in.old / "bookconfig.xml", OlderCatalogue("<book dir=\"books\\tang\" name=\"唐诗\"/>\r\n"
                                                     "<book dir=\"books/song\" name=\"宋词\"/>\r\n"
                                                     "<book dir=\"linked\" name=\"链接\"/>\r\n"));
  WriteGbk(in.old / "books/tang/book_1.xml", "tang");
  WriteGbk(in.old / "books/tang/pages/p.htm", "page");
  WriteGbk(in.old / "books/song/book_1.xml", "song");
  WriteGbk(elsewhere / "book_1.xml", "kept elsewhere");
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), (in.old / "linked").c_str()), 0);

  EXPECT_EQ(in.Migrate(), 3);

  EXPECT_TRUE(in.ui.reports.empty()) << ::testing::PrintToString(in.ui.reports);
  EXPECT_EQ(Snapshot(in.app / "Update/books/tang"),
            (FileMap{{"book_1.xml", "tang"}, {"pages/p.htm", "page"}}));
  EXPECT_EQ(Snapshot(in.app / "Update/books/song"), (FileMap{{"book_1.xml", "song"}}));
  EXPECT_EQ(Snapshot(in.app / "Update/linked"), (FileMap{{"book_1.xml", "kept elsewhere"}}));
  // The fragments keep the folder as the older catalogue wrote it, under a flat name.
  EXPECT_EQ(ReadScrambledUtf8(in.app / "Update/bookconfigbooks_tang.xml"),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"
            "<book dir=\"books\\tang\" name=\"唐诗\"/>\r\n</books>");
  EXPECT_EQ(FragmentDirs(in.app / "Update"),
            (std::map<std::string, int>{{"books/song", 1}, {"books/tang", 1}, {"linked", 1}}));
  // The older folder went; the folder its link led to is untouched.
  EXPECT_FALSE(DirectoryExists(in.old.path()));
  EXPECT_EQ(Snapshot(elsewhere.path()), (FileMap{{"book_1.xml", "kept elsewhere"}}));
}

TEST(MigrationKeepsTest, PendingFragmentOfTheSameNameIsNotReplaced) {
  Installations in;
  WriteGbk(in.old / "bookconfig.xml", OlderCatalogue("<book dir=\"3\" name=\"新书\"/>\r\n"));
  WriteGbk(in.old / "3/a.htm", "a");
  const std::string pending =
      "<?xml version=\"1.0\"?>\r\n<books><book dir=\"x\" name=\"待导入\"/></books>";
  WriteScrambledGbk(in.app / "Update/bookconfig3.xml", pending);
  EXPECT_EQ(in.Migrate(), 1);
  EXPECT_EQ(ReadScrambledUtf8(in.app / "Update/bookconfig3.xml"), pending);
  EXPECT_EQ(FragmentDirs(in.app / "Update"), (std::map<std::string, int>{{"3", 1}, {"x", 1}}));
  EXPECT_FALSE(DirectoryExists(in.old.path()));
}

TEST(MigrationKeepsTest, CopyCutShortByAnEarlierStartIsRedoneWhole) {
  // A start that stopped while copying left the book under its staging name.
  Installations in;
  WriteGbk(in.old / "bookconfig.xml", OlderCatalogue("<book dir=\"3\" name=\"新书\"/>\r\n"));
  WriteGbk(in.old / "3/a.htm", "a");
  WriteGbk(in.old / "3/b.htm", "b");
  WriteGbk(in.app / "Update/3.migrating/a.htm", "half");
  WriteGbk(in.app / "Update/3.migrating/stale.htm", "stale");
  EXPECT_EQ(in.Migrate(), 1);
  EXPECT_EQ(Snapshot(in.app / "Update/3"), (FileMap{{"a.htm", "a"}, {"b.htm", "b"}}));
  EXPECT_FALSE(DirectoryExists(in.app / "Update/3.migrating"));
  EXPECT_FALSE(DirectoryExists(in.old.path()));
}

// Drives the migration through each of its file writes and reads failing in turn, once and for
// good (a full disk), and then lets the next start run without a fault.
class MigrationFaultTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearFaults(); }

  // Books of every shape the migration copies: one the new installation has already, plain
  // folders with sub-folders, a book in a sub-folder. The new installation has its own
  // catalogue and a book waiting in Update/.
  static void Make(Installations& in) {
    WriteGbk(
        in.old / "bookconfig.xml",
        OlderCatalogue("<book dir=\"1\" name=\"已安装\"/>\r\n<book dir=\"3\" name=\"新书\"/>\r\n"
                       "<book dir=\"books\\tang\" name=\"唐诗\"/>\r\n"
                       "<book dir=\"5\" name=\"五\"/>\r\n"));
    WriteGbk(in.old / "1/x.htm", "installed");
    WriteGbk(in.old / "3/book_1.xml", "record");
    WriteGbk(in.old / "3/pages/p.htm", "page");
    WriteGbk(in.old / "3/pages/deep/q.htm", "deep");
    WriteGbk(in.old / "books/tang/book_1.xml", "tang");
    WriteGbk(in.old / "books/tang/838.pdf", "%PDF");
    WriteGbk(in.old / "5/a.htm", "five");
    WriteGbk(in.app / "1/x.htm", "installed");
    WriteScrambledGbk(in.app / "bookconfig.xml",
                      OlderCatalogue("<book dir=\"1\" category=\"1\" name=\"已安装\"/>\r\n"));
    WriteScrambledGbk(in.app / "Update/bookconfig0.xml",
                      OlderCatalogue("<book dir=\"9\" name=\"待导入\"/>\r\n"));
    WriteGbk(in.app / "Update/9/p.htm", "waiting");
  }

  // What must hold after any run: the new installation's own files are as they were, every
  // book in Update/ is whole with exactly one fragment, and the older folder is either whole or,
  // with every book staged, gone.
  static void CheckNothingLost(Installations& in, const FileMap& old_files,
                               const FileMap& app_files) {
    const FileMap app_now = Snapshot(in.app.path());
    for (const char* own : {"bookconfig.xml", "Update/bookconfig0.xml", "Update/9/p.htm"}) {
      EXPECT_EQ(app_now.at(own), app_files.at(own)) << own;
    }
    for (const auto& [path, bytes] : app_now) {
      EXPECT_EQ(path.find(".migrating"), std::string::npos) << path;
    }
    const std::map<std::string, int> fragments = FragmentDirs(in.app / "Update");
    for (const char* dir : {"3", "books/tang", "5"}) {
      const bool waiting = DirectoryExists(in.app / ("Update/" + std::string(dir)));
      const int named = fragments.count(dir) ? fragments.at(dir) : 0;
      EXPECT_EQ(named, waiting ? 1 : 0) << dir;
      if (waiting) {
        EXPECT_EQ(Snapshot(in.app / ("Update/" + std::string(dir))), Below(old_files, dir));
      }
      if (!DirectoryExists(in.old.path())) {
        EXPECT_TRUE(waiting) << dir;
      }
    }
    if (DirectoryExists(in.old.path())) {
      EXPECT_EQ(Snapshot(in.old.path()), old_files);
      EXPECT_TRUE(in.Told(kTextOlderInstallationRetry)) << ::testing::PrintToString(in.ui.reports);
      EXPECT_TRUE(in.Retried());
    }
  }
};

TEST_F(MigrationFaultTest, EveryFailureKeepsTheOlderFolderAndTheNextStartFinishes) {
  for (FaultSite site : {FaultSite::kFileWrite, FaultSite::kFileRead}) {
    int calls = 0;
    {
      Installations in;
      Make(in);
      ArmFault(site, 0, 0);
      EXPECT_EQ(in.Migrate(), 3);
      calls = FaultSiteCalls(site);
      ClearFaults();
    }
    // Writes: the Update folder and the catalogue's copy, then for each of the three books its
    // folders, its files, the rename and the fragment. Reads: the catalogue's copy.
    EXPECT_EQ(calls,
              site == FaultSite::kFileWrite ? 2 + (3 + 3 + 2) + (1 + 2 + 2) + (1 + 1 + 2) : 1);
    for (bool sticky : {false, true}) {
      int kept = 0;
      for (int n = 1; n <= calls; ++n) {
        SCOPED_TRACE(::testing::Message() << (site == FaultSite::kFileWrite ? "write " : "read ")
                                          << n << (sticky ? " and later" : ""));
        Installations in;
        Make(in);
        const FileMap old_files = Snapshot(in.old.path());
        const FileMap app_files = Snapshot(in.app.path());
        ArmFault(site, n, site == FaultSite::kFileWrite ? ENOSPC : EIO, sticky);
        in.Migrate();
        ClearFaults();
        CheckNothingLost(in, old_files, app_files);
        if (DirectoryExists(in.old.path())) ++kept;

        // The next start, with room on the disk.
        in.Migrate();
        CheckNothingLost(in, old_files, app_files);
        EXPECT_FALSE(DirectoryExists(in.old.path()));
        EXPECT_FALSE(in.Retried());
        EXPECT_TRUE(in.ui.reports.empty()) << ::testing::PrintToString(in.ui.reports);
      }
      // Each of these writes and reads is part of staging a book whole.
      EXPECT_EQ(kept, calls);
    }
  }
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
      {base / "plain", false},  // holds no catalogue
      {base / "missing", false},
      {app, false},  // the installation itself
      {app + "/../app", false},
      {base.path(), false},  // an ancestor of the installation
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
