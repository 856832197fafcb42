// The import when something fails: an index locked by another program, an engine that refuses a
// write, a full disk, a file that cannot be read. A book is committed whole or not at all, the
// user is told which book failed, and a failed book's records are never found, not even under
// the category the next book is given.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "base/fault_injection.h"
#include "base/gbk.h"
#include "base/texts.h"
#include "core/import/book_import.h"
#include "import_fixture.h"
#include "support/fake_engine.h"

namespace tomeva {
namespace {

using testing::FaultyEngine;
using testing::Installation;
using testing::LibraryEngine;

struct NewBook {
  std::string dir;
  std::string name;
  std::string word;  // a word only this book's records hold
  int records;
};

const std::vector<NewBook> kBooks = {{"21", "唐诗选", "甲乙", 3}, {"22", "宋词选", "丙丁", 2}};
constexpr char kOriginal[] = "<book dir=\"1\" category=\"1\" name=\"已有\"/>\r\n";

void Populate(Installation& app) {
  app.WriteCatalogue(kOriginal);
  for (const NewBook& b : kBooks) {
    app.WriteFragment(b.dir, b.name);
    for (int i = 1; i <= b.records; ++i) {
      app.WriteRecord(b.dir, i, "题" + std::to_string(i), "作者", b.word + "正文");
    }
    app.Write("Update/" + b.dir + "/838.pdf", "%PDF " + b.name);
  }
}

bool Mentions(const ImportResult& result, const std::string& utf8) {
  for (const std::string& m : result.messages) {
    if (GbkToUtf8(m).find(utf8) != std::string::npos) return true;
  }
  return false;
}

// A book is either committed whole (its entry once, its files in place; its records searchable,
// or, when `hidden_ok`, still hidden with the user told) or not at all (its entry absent, its
// fragment and record files still waiting, none of its records found).
void ExpectWholeOrWaiting(const Installation& app, const ImportResult& result, bool hidden_ok) {
  ASSERT_NE(app.CatalogueText().find("name=\"已有\""), std::string::npos) << app.CatalogueText();
  ASSERT_NE(app.CatalogueText().find("</books>"), std::string::npos);
  for (const NewBook& b : kBooks) {
    SCOPED_TRACE(b.name);
    const auto entries = app.BooksNamed(b.name);
    ASSERT_LE(entries.size(), 1u);
    const int hits = app.HitCount(b.word);
    if (entries.empty()) {
      EXPECT_TRUE(FileExists(app / ("Update/bookconfig" + b.dir + ".xml")));
      for (int i = 1; i <= b.records; ++i) {
        EXPECT_TRUE(FileExists(app / ("Update/" + b.dir + "/book_" + std::to_string(i) + ".xml")));
      }
      EXPECT_LE(hits, 0) << "records of a book that is not in the catalogue were found";
      // Told by the book's name, or, when its fragment could not be read, by the fragment's.
      EXPECT_TRUE(Mentions(result, b.name) || Mentions(result, "bookconfig" + b.dir + ".xml"))
          << "the user was not told";
    } else {
      EXPECT_EQ(app.Read(b.dir + "/838.pdf"), "%PDF " + b.name);
      for (int i = 1; i <= b.records; ++i) {
        EXPECT_TRUE(FileExists(app / (b.dir + "/book_" + std::to_string(i) + ".xml")));
      }
      if (hits != b.records) {
        EXPECT_TRUE(hidden_ok && hits == 0 && Mentions(result, b.name)) << hits;
      }
    }
  }
}

void ExpectComplete(const Installation& app) {
  std::vector<std::string> categories;
  for (const NewBook& b : kBooks) {
    SCOPED_TRACE(b.name);
    const auto entries = app.BooksNamed(b.name);
    ASSERT_EQ(entries.size(), 1u) << app.CatalogueText();
    EXPECT_EQ(app.HitCount(b.word), b.records);
    EXPECT_EQ(app.HitCount("f15:" + entries[0].second), b.records);
    categories.push_back(entries[0].second);
  }
  EXPECT_NE(categories[0], categories[1]);
  EXPECT_FALSE(FileExists(app / "Update/bookconfig21.xml"));
}

// A child process that holds the index's write lock until told to let go.
class LockHolder {
 public:
  explicit LockHolder(const std::string& index) {
    int ready[2];
    ::pipe(ready);
    ::pipe(release_);
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only the parent may hold the write end: the child waits for it to be closed.
      ::close(release_[1]);
      ::close(ready[0]);
      const char ok = LibraryEngine().OpenIndex(index, 1, nullptr) ? 'y' : 'n';
      ::write(ready[1], &ok, 1);
      char c;
      ::read(release_[0], &c, 1);
      LibraryEngine().CloseIndex(index, nullptr);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release_[0]);
    ::read(ready[0], &held_, 1);
    ::close(ready[0]);
  }
  ~LockHolder() {
    ::close(release_[1]);
    ::waitpid(pid_, nullptr, 0);
  }
  bool held() const { return held_ == 'y'; }

 private:
  int release_[2];
  pid_t pid_;
  char held_ = 'n';
};

TEST(ImportFailureTest, IndexLockedByAnotherProgramCommitsNothingAndSaysWhy) {
  Installation app;
  Populate(app);
  const std::string before = app.CatalogueText();
  {
    LockHolder other(app / "SearchDB");
    ASSERT_TRUE(other.held());
    const ImportResult result = RunBookImport(LibraryEngine(), app.dir(), nullptr);
    EXPECT_EQ(result.books_imported, 0);
    EXPECT_EQ(result.books_failed, 2);
    EXPECT_EQ(app.CatalogueText(), before);
    ExpectWholeOrWaiting(app, result, false);
    for (const NewBook& b : kBooks) {
      EXPECT_TRUE(Mentions(result, "“" + b.name + "”没能编入索引")) << b.name;
    }
  }
  // With the other program gone the books go in at the next start.
  const ImportResult again = RunBookImport(LibraryEngine(), app.dir(), nullptr);
  EXPECT_EQ(again.books_imported, 2);
  EXPECT_TRUE(again.messages.empty());
  ExpectComplete(app);
}

// The first book fails when its documents are committed; the second gets the category the first
// would have had. A search restricted to that category finds the second book's records only.
TEST(ImportFailureTest, FailedBooksRecordsNeverShowUnderTheNextBooksCategory) {
  for (const bool discard_fails_too : {false, true}) {
    SCOPED_TRACE(discard_fails_too ? "the discard fails too" : "the discard works");
    Installation app;
    Populate(app);
    FaultyEngine engine(LibraryEngine());
    // Open, one insert per record, then the commit of the first book.
    engine.FailWrite(kBooks[0].records + 2, discard_fails_too);
    const ImportResult result = RunBookImport(engine, app.dir(), nullptr);
    engine.FailWrite(0);
    EXPECT_TRUE(app.BooksNamed(kBooks[0].name).empty());
    EXPECT_EQ(app.HitCount(kBooks[0].word), 0);
    ExpectWholeOrWaiting(app, result, false);
    if (!discard_fails_too) {
      const auto second = app.BooksNamed(kBooks[1].name);
      ASSERT_EQ(second.size(), 1u);
      EXPECT_EQ(second[0].second, "2");
      EXPECT_EQ(app.HitCount("f15:2"), kBooks[1].records);
    }
    RunBookImport(engine, app.dir(), nullptr);
    ExpectComplete(app);
  }
}

// Every write of the import fails once in turn (and, with `sticky`, every write after it, as on a
// full disk), in the file helpers and in the engine: after each the library holds every book
// whole or as it was, the user is told, and the next run finishes the import.
TEST(ImportFailureTest, EveryFailurePointLeavesEachBookWholeOrWaiting) {
  FaultyEngine engine(LibraryEngine());
  // The engine's writes fail through the engine the import is given, the file helpers' through
  // the fault seam.
  auto file_site = [](FaultSite site, int error) {
    return [site, error](int nth, bool sticky) { ArmFault(site, nth, error, sticky); };
  };
  struct Site {
    std::function<void(int nth, bool sticky)> arm;
    std::function<int()> calls;
    const char* name;
  };
  const Site sites[] = {
      {file_site(FaultSite::kFileWrite, ENOSPC), [] { return FaultSiteCalls(FaultSite::kFileWrite); },
       "file write"},
      {[&engine](int nth, bool sticky) { engine.FailWrite(nth, sticky); },
       [&engine] { return engine.write_calls(); }, "engine write"},
      {file_site(FaultSite::kFileRead, EIO), [] { return FaultSiteCalls(FaultSite::kFileRead); },
       "file read"}};
  auto clear = [&engine] {
    ClearFaults();
    engine.FailWrite(0);
  };
  bool definitions_message_seen = false;
  for (const Site& s : sites) {
    int calls = 0;
    {
      Installation probe;
      Populate(probe);
      s.arm(0, false);
      RunBookImport(engine, probe.dir(), nullptr);
      calls = s.calls();
      clear();
      ExpectComplete(probe);
    }
    ASSERT_GT(calls, 0) << s.name;
    for (const bool sticky : {false, true}) {
      for (int n = 1; n <= calls; ++n) {
        SCOPED_TRACE(std::string(s.name) + " " + std::to_string(n) + "/" +
                     std::to_string(calls) + (sticky ? " and every one after" : ""));
        Installation app;
        Populate(app);
        s.arm(n, sticky);
        const ImportResult result = RunBookImport(engine, app.dir(), nullptr);
        clear();
        ExpectWholeOrWaiting(app, result, true);
        definitions_message_seen =
            definitions_message_seen || Mentions(result, "的字段定义文件temp.xml无法写入或读取");
        const ImportResult again = RunBookImport(engine, app.dir(), nullptr);
        EXPECT_TRUE(again.messages.empty()) << GbkToUtf8(again.messages.front());
        ExpectComplete(app);
        if (HasFailure()) return;
      }
    }
  }
  // A field definition file that cannot be read is named as such, not as a failed copy.
  EXPECT_TRUE(definitions_message_seen);
}

}  // namespace
}  // namespace tomeva
