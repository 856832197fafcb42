// An import killed at any moment must be finished by the next run with every book present
// exactly once in the catalogue, the index and the files, and nothing taken out of Update/
// before it is in the library.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/import/book_import.h"
#include "import_fixture.h"

namespace tomeva {
namespace {

using testing::Installation;

struct NewBook {
  std::string dir;
  std::string name;
  int records;
};

const std::vector<NewBook>& NewBooks() {
  static const std::vector<NewBook> books = {
      {"21", "唐诗三百首", 40}, {"22", "宋词一百首", 25}, {"23", "古诗选", 30}};
  return books;
}

void Populate(Installation& app) {
  app.WriteCatalogue("<book dir=\"1\" category=\"1\" name=\"已有\"/>\r\n");
  for (const NewBook& b : NewBooks()) {
    app.WriteFragment(b.dir, b.name);
    for (int i = 1; i <= b.records; ++i) {
      app.WriteRecord(b.dir, i, "题" + std::to_string(i), "作者", b.name + "正文" + std::to_string(i));
    }
    app.Write("Update/" + b.dir + "/838.pdf", "%PDF " + b.name);
    app.Write("Update/" + b.dir + "/pages/p.htm", b.name);
  }
}

// What a finished library looks like; returns a description of the first difference.
void ExpectComplete(const Installation& app) {
  std::set<std::string> categories = {"1"};
  for (const NewBook& b : NewBooks()) {
    SCOPED_TRACE(b.dir);
    auto entries = app.BooksNamed(b.name);
    ASSERT_EQ(entries.size(), 1u) << app.CatalogueText();
    EXPECT_EQ(entries[0].first, b.dir);
    const std::string category = entries[0].second;
    EXPECT_TRUE(categories.insert(category).second) << "category used twice: " << category;
    EXPECT_EQ(app.HitCount("f15:" + category), b.records);
    for (int i = 1; i <= b.records; ++i) {
      ASSERT_TRUE(FileExists(app / (b.dir + "/book_" + std::to_string(i) + ".xml"))) << i;
    }
    EXPECT_EQ(app.Read(b.dir + "/838.pdf"), "%PDF " + b.name);
    EXPECT_EQ(app.Read(b.dir + "/pages/p.htm"), b.name);
    EXPECT_TRUE(ListDirectory(app / ("Update/" + b.dir)).empty());
  }
  // Only the emptied book folders are left in Update/: no fragment, no marker.
  for (const std::string& name : ListDirectory(app / "Update")) {
    EXPECT_TRUE(DirectoryExists(app / ("Update/" + name))) << name;
  }
  EXPECT_EQ(app.HitCount("f15:1"), 0);
  for (const std::string& name : ListDirectory(app.dir())) {
    EXPECT_NE(name[0], '.') << "left behind: " << name;
  }
}

// Everything that has left Update/ must already be in the library.
void ExpectNothingLost(const Installation& app) {
  for (const NewBook& b : NewBooks()) {
    for (int i = 1; i <= b.records; ++i) {
      std::string name = "book_" + std::to_string(i) + ".xml";
      EXPECT_TRUE(FileExists(app / ("Update/" + b.dir + "/" + name)) ||
                  (FileExists(app / (b.dir + "/" + name)) && app.BooksNamed(b.name).size() == 1))
          << b.dir << "/" << name;
    }
    EXPECT_TRUE(FileExists(app / ("Update/" + b.dir + "/838.pdf")) ||
                app.Read(b.dir + "/838.pdf") == "%PDF " + b.name);
    EXPECT_LE(app.BooksNamed(b.name).size(), 1u);
  }
}

pid_t StartImport(const std::string& dir) {
  pid_t pid = ::fork();
  if (pid == 0) {
    RunBookImport(dir, nullptr);
    ::_exit(0);
  }
  return pid;
}

TEST(ImportKillTest, KilledImportFinishesAtTheNextRun) {
  // The length of one whole import sets the range of the kill points.
  double full_ms = 0;
  {
    Installation probe;
    Populate(probe);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = StartImport(probe.dir());
    int status = 0;
    ::waitpid(pid, &status, 0);
    full_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count();
    ASSERT_TRUE(WIFEXITED(status));
    ExpectComplete(probe);
  }
  const unsigned seed = static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> when(0.0, full_ms * 1.05);
  std::uniform_int_distribution<int> kills_in_a_row(1, 3);
  SCOPED_TRACE("seed " + std::to_string(seed) + ", full import " + std::to_string(full_ms) + " ms");

  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Installation app;
    Populate(app);
    const int kills = kills_in_a_row(rng);
    for (int k = 0; k < kills; ++k) {
      pid_t pid = StartImport(app.dir());
      ::usleep(static_cast<useconds_t>(when(rng) * 1000));
      ::kill(pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, 0);
      ExpectNothingLost(app);
      if (rng() % 2) ClearImportLeftovers(app.dir());
    }
    RunBookImport(app.dir(), nullptr);
    ExpectComplete(app);
    ClearImportLeftovers(app.dir());
    for (const NewBook& b : NewBooks()) EXPECT_TRUE(DirectoryExists(app / ("Update/" + b.dir)));
    EXPECT_EQ(ListDirectory(app / "Update").size(), NewBooks().size());
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace tomeva
