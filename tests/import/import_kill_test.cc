// An import killed at any moment must be finished by the next run with every book present
// exactly once in the catalogue, the index and the files, and nothing taken out of Update/
// before it is in the library.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/import/book_import.h"
#include "import_fixture.h"

namespace tomeva {
namespace {

using testing::Installation;
using testing::LibraryEngine;

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

// What the kill loop found over all its rounds.
struct Tally {
  int kills = 0;
  int books_lost = 0;
  int duplicated = 0;
  int records_missing = 0;
};

// What a finished library looks like; the books lost, duplicated and records missing are added to
// `tally` as well as reported.
void ExpectComplete(const Installation& app, Tally* tally = nullptr) {
  Tally found;
  std::set<std::string> categories = {"1"};
  for (const NewBook& b : NewBooks()) {
    SCOPED_TRACE(b.dir);
    auto entries = app.BooksNamed(b.name);
    if (entries.empty()) ++found.books_lost;
    if (entries.size() > 1) ++found.duplicated;
    if (entries.size() != 1) {
      ADD_FAILURE() << "entries: " << entries.size() << "\n" << app.CatalogueText();
      continue;
    }
    EXPECT_EQ(entries[0].first, b.dir);
    const std::string category = entries[0].second;
    EXPECT_TRUE(categories.insert(category).second) << "category used twice: " << category;
    const int hits = app.HitCount("f15:" + category);
    EXPECT_EQ(hits, b.records);
    found.records_missing += std::max(0, b.records - hits);
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
  if (tally != nullptr) {
    tally->books_lost += found.books_lost;
    tally->duplicated += found.duplicated;
    tally->records_missing += found.records_missing;
  }
}

// A search while the import is stopped half-way finds a book's records only when the catalogue
// names the book: never a book that is not committed, never part of a book.
void ExpectSearchesSeeCommittedBooksOnly(const Installation& app) {
  for (const NewBook& b : NewBooks()) {
    const int hits = app.HitCount(b.name + "正文");
    if (app.BooksNamed(b.name).empty()) {
      EXPECT_LE(hits, 0) << b.name << ": records of an uncommitted book were found";
    } else {
      EXPECT_TRUE(hits <= 0 || hits == b.records) << b.name << ": part of a book, " << hits;
    }
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
    RunBookImport(LibraryEngine(), dir, nullptr);
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

  // `make stress` runs many more rounds than the test suite does.
  const char* rounds_env = std::getenv("TOMEVA_KILL_ROUNDS");
  const int rounds = rounds_env != nullptr && std::atoi(rounds_env) > 0 ? std::atoi(rounds_env) : 12;
  Tally tally;
  for (int round = 0; round < rounds; ++round) {
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
      ++tally.kills;
      ExpectNothingLost(app);
      ExpectSearchesSeeCommittedBooksOnly(app);
      if (rng() % 2) ClearImportLeftovers(app.dir());
    }
    RunBookImport(LibraryEngine(), app.dir(), nullptr);
    ExpectComplete(app, &tally);
    ClearImportLeftovers(app.dir());
    for (const NewBook& b : NewBooks()) EXPECT_TRUE(DirectoryExists(app / ("Update/" + b.dir)));
    EXPECT_EQ(ListDirectory(app / "Update").size(), NewBooks().size());
    if (HasFailure()) break;
  }
  std::printf("kills: %d, books lost: %d, duplicated: %d, records missing: %d\n", tally.kills,
              tally.books_lost, tally.duplicated, tally.records_missing);
  EXPECT_EQ(tally.books_lost + tally.duplicated + tally.records_missing, 0);
}

}  // namespace
}  // namespace tomeva
