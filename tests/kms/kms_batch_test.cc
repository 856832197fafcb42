// Uncommitted batches: stored and committed, found by no search until published.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xapian.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/gbk.h"
#include "kms/kms.h"
#include "kms_test_util.h"
#include "support/temp_dir.h"

namespace tomeva::kms_test {
namespace {

using testing::TempDir;

std::string Reason() { return GbkToUtf8(KMS_Last_Error()); }

// A record holding the word "every", its own word "recN" and `extra`; its xml is XmlOf(n).
int Insert(const std::string& index, int n, const char* batch = nullptr, const char* key = nullptr,
           const std::string& extra = "") {
  KmsDocument* d = KMS_New_Document();
  std::string text = "every rec" + std::to_string(n) + " " + extra;
  int rc = KMS_Add_Field(d, "xml", XmlOf(n).c_str(), "gb2312", 1, 0, 0);
  if (rc == 0) rc = KMS_Add_Field(d, "content", text.c_str(), "gb2312", 1, 1, 1);
  if (rc == 0 && batch != nullptr) rc = KMS_Set_Batch(d, batch);
  if (rc == 0 && key != nullptr) rc = KMS_Set_Key(d, key);
  if (rc == 0) rc = KMS_Insert_Document(index.c_str(), d);
  KMS_Free_Document(d);
  return rc;
}

// The batch list, or "<null>".
std::string Batches(const std::string& index) {
  char* names = KMS_Get_Batches(index.c_str());
  if (names == nullptr) return "<null>";
  std::string out = names;
  KMS_Free_Field(names);
  return out;
}

// The records found for "every", by their number, in ranking order.
std::vector<std::string> Found(const std::string& index) { return HitXml(index, "every", 1000); }

std::vector<std::string> Xml(std::initializer_list<int> ns) {
  std::vector<std::string> out;
  for (int n : ns) out.push_back(XmlOf(n));
  return out;
}

// Publish and discard through the open writer and through one of their own.
class KmsBatchTest : public ::testing::TestWithParam<bool> {
 protected:
  bool with_open_writer() const { return GetParam(); }
  void MaybeOpen() {
    if (with_open_writer()) {
      ASSERT_EQ(KMS_Open(index_.c_str(), 1), 0) << Reason();
    }
  }
  void MaybeClose() {
    if (with_open_writer()) {
      ASSERT_EQ(KMS_Close(index_.c_str()), 0) << Reason();
    }
  }
  TempDir dir_;
  std::string index_ = dir_ / "SearchDB";
};

TEST_P(KmsBatchTest, HiddenUntilPublishedGoneWhenDiscardedCountsExact) {
  MaybeOpen();
  for (int n : {0, 1, 2}) ASSERT_EQ(Insert(index_, n), 0) << Reason();
  for (int n : {10, 11, 12}) ASSERT_EQ(Insert(index_, n, "b1"), 0) << Reason();
  for (int n : {20, 21}) ASSERT_EQ(Insert(index_, n, "b2"), 0) << Reason();
  MaybeClose();
  ASSERT_EQ(KMS_Open(index_.c_str(), 1), 0) << Reason();  // committed before any publish
  ASSERT_EQ(KMS_Close(index_.c_str()), 0) << Reason();

  EXPECT_EQ(Found(index_), Xml({0, 1, 2}));
  const std::vector<std::pair<std::string, int>> hidden = {
      {"every", 3},          {"rec10", 0},           {"rec20", 0},        {"rec10 OR rec1", 1},
      {"every NOT rec1", 2}, {"\"every rec11\"", 0}, {"content:rec21", 0}};
  for (const auto& [q, n] : hidden) EXPECT_EQ(CountU(index_, q), n) << q;
  EXPECT_EQ(Batches(index_), "b1\nb2\n");

  MaybeOpen();
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "b1"), 0) << Reason();
  // Published means committed: visible to searches before the writer closes.
  EXPECT_EQ(Found(index_), Xml({0, 1, 2, 10, 11, 12}));
  EXPECT_EQ(Batches(index_), "b2\n");
  ASSERT_EQ(KMS_Discard_Batch(index_.c_str(), "b2"), 0) << Reason();
  EXPECT_EQ(Batches(index_), "");
  // Both again, and a batch that never was: nothing changes.
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "b1"), 0) << Reason();
  ASSERT_EQ(KMS_Discard_Batch(index_.c_str(), "b2"), 0) << Reason();
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "b2"), 0) << Reason();
  ASSERT_EQ(KMS_Discard_Batch(index_.c_str(), "never"), 0) << Reason();
  MaybeClose();
  EXPECT_EQ(Found(index_), Xml({0, 1, 2, 10, 11, 12}));
  EXPECT_EQ(CountU(index_, "rec20 OR rec21"), 0);
  EXPECT_EQ(CountU(index_, "\"every rec11\""), 1);  // positions kept
}

TEST_P(KmsBatchTest, PublishAndDiscardCommitWhatWasInsertedBefore) {
  ASSERT_EQ(KMS_Open(index_.c_str(), 1), 0) << Reason();
  ASSERT_EQ(Insert(index_, 0), 0) << Reason();
  ASSERT_EQ(Insert(index_, 1, "b"), 0) << Reason();
  ASSERT_EQ(Insert(index_, 2, "gone"), 0) << Reason();
  if (!with_open_writer()) {
    ASSERT_EQ(KMS_Close(index_.c_str()), 0) << Reason();
  }
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "b"), 0) << Reason();
  ASSERT_EQ(KMS_Discard_Batch(index_.c_str(), "gone"), 0) << Reason();
  EXPECT_EQ(Found(index_), Xml({0, 1}));
  EXPECT_EQ(Batches(index_), "");
  if (with_open_writer()) {
    ASSERT_EQ(KMS_Close(index_.c_str()), 0) << Reason();
  }
}

// A key names at most one visible and one batch document; publishing puts the batch's in the
// visible one's place, discarding leaves the visible one.
TEST_P(KmsBatchTest, AKeyKeepsOneVisibleDocumentAcrossBatches) {
  const std::string long_key(600, 'k');
  const char* a = "book/a.xml";
  const char* b = long_key.c_str();
  MaybeOpen();
  ASSERT_EQ(Insert(index_, 0, nullptr, a), 0) << Reason();
  ASSERT_EQ(Insert(index_, 1, nullptr, b), 0) << Reason();
  ASSERT_EQ(Insert(index_, 2), 0) << Reason();
  // The import of the two records again, interrupted once and started over in a new batch.
  ASSERT_EQ(Insert(index_, 10, "try1", a), 0) << Reason();
  ASSERT_EQ(Insert(index_, 11, "try1", b), 0) << Reason();
  ASSERT_EQ(Insert(index_, 20, "try2", a), 0) << Reason();
  ASSERT_EQ(Insert(index_, 21, "try2", b), 0) << Reason();
  MaybeClose();
  ASSERT_EQ(Insert(index_, 3), 0) << Reason();
  EXPECT_EQ(Found(index_), Xml({0, 1, 2, 3}));
  // The second try took both keys' batch documents.
  EXPECT_EQ(Batches(index_), "try2\n");

  MaybeOpen();
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "try1"), 0) << Reason();
  EXPECT_EQ(Found(index_), Xml({0, 1, 2, 3}));
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "try2"), 0) << Reason();
  // Equal scores keep document order: the new records stand where the old ones stood.
  EXPECT_EQ(Found(index_), Xml({20, 21, 2, 3}));
  EXPECT_EQ(CountU(index_, "\"every rec21\""), 1);  // the new record whole, positions too
  EXPECT_EQ(CountU(index_, "rec1"), 0);

  // A visible insert of a key replaces only the visible document, not the waiting one.
  ASSERT_EQ(Insert(index_, 30, "try3", a), 0) << Reason();
  ASSERT_EQ(Insert(index_, 40, nullptr, a), 0) << Reason();
  ASSERT_EQ(Insert(index_, 31, "try3", b), 0) << Reason();
  ASSERT_EQ(KMS_Discard_Batch(index_.c_str(), "try3"), 0) << Reason();
  EXPECT_EQ(Found(index_), Xml({40, 21, 2, 3}));
  ASSERT_EQ(Insert(index_, 50, "try4", a), 0) << Reason();
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "try4"), 0) << Reason();
  MaybeClose();
  EXPECT_EQ(Found(index_), Xml({50, 21, 2, 3}));
  EXPECT_EQ(Batches(index_), "");
}

// A book imported again under the name of its batch: the records published under that name
// before are neither hidden nor discarded with the new try.
TEST_P(KmsBatchTest, ABatchNameUsedAgainLeavesWhatWasPublishedUnderIt) {
  MaybeOpen();
  ASSERT_EQ(Insert(index_, 0, "book", "k0"), 0) << Reason();
  ASSERT_EQ(Insert(index_, 1, "book", "k1"), 0) << Reason();
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "book"), 0) << Reason();
  ASSERT_EQ(Insert(index_, 10, "book", "k0"), 0) << Reason();
  ASSERT_EQ(Insert(index_, 12, "book"), 0) << Reason();
  MaybeClose();
  EXPECT_EQ(Found(index_), Xml({0, 1}));
  EXPECT_EQ(Batches(index_), "book\n");
  MaybeOpen();
  ASSERT_EQ(KMS_Discard_Batch(index_.c_str(), "book"), 0) << Reason();
  EXPECT_EQ(Found(index_), Xml({0, 1}));
  EXPECT_EQ(CountU(index_, "\"every rec1\""), 1);
  ASSERT_EQ(Insert(index_, 20, "book", "k1"), 0) << Reason();
  ASSERT_EQ(KMS_Publish_Batch(index_.c_str(), "book"), 0) << Reason();
  MaybeClose();
  EXPECT_EQ(Found(index_), Xml({0, 20}));
  EXPECT_EQ(Batches(index_), "");
}

INSTANTIATE_TEST_SUITE_P(Writers, KmsBatchTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "OpenWriter" : "OwnWriter"; });

TEST(KmsBatchNamesTest, NamesAreCheckedAndAMissingIndexHasNone) {
  TempDir dir;
  const std::string index = dir / "SearchDB";
  KmsDocument* d = KMS_New_Document();
  const std::string longest(200, 'n');
  for (const std::string& bad : {std::string(), std::string("a\tb"), std::string("a\nb"),
                                 std::string("a\rb"), longest + "n"}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(KMS_Set_Batch(d, bad.c_str()), 0);
    EXPECT_NE(Reason().find("批次名"), std::string::npos) << Reason();
    EXPECT_NE(KMS_Publish_Batch(index.c_str(), bad.c_str()), 0);
    EXPECT_NE(KMS_Discard_Batch(index.c_str(), bad.c_str()), 0);
  }
  EXPECT_NE(KMS_Set_Batch(d, nullptr), 0);
  EXPECT_NE(KMS_Set_Batch(nullptr, "b"), 0);
  EXPECT_NE(KMS_Publish_Batch(nullptr, "b"), 0);
  EXPECT_EQ(KMS_Get_Batches(""), nullptr);
  KMS_Free_Document(d);
  // A folder without an index: no batches, nothing to do, and no index made by asking.
  EXPECT_EQ(Batches(index), "");
  EXPECT_EQ(KMS_Publish_Batch(index.c_str(), "b"), 0) << Reason();
  EXPECT_EQ(KMS_Discard_Batch(index.c_str(), "b"), 0) << Reason();
  EXPECT_FALSE(std::filesystem::exists(index));
  // Names are bytes: GBK, the longest, and ones that sort before and after the others.
  const std::string gbk = Utf8ToGbk("第三卷");
  for (const std::string& name : {gbk, longest, std::string("A"), std::string("~")}) {
    ASSERT_EQ(Insert(index, 1, name.c_str()), 0) << Reason();
  }
  EXPECT_EQ(Batches(index), "A\n" + longest + "\n~\n" + gbk + "\n");
  ASSERT_EQ(KMS_Publish_Batch(index.c_str(), gbk.c_str()), 0) << Reason();
  EXPECT_EQ(Batches(index), "A\n" + longest + "\n~\n");
}

// The current generation of an index, opened with Xapian itself.
Xapian::WritableDatabase OpenGeneration(const std::string& index) {
  std::ifstream stub(index + "/XAPIANDB");
  std::string backend, generation;
  stub >> backend >> generation;
  return Xapian::WritableDatabase(index + "/" + generation, Xapian::DB_OPEN);
}

// Indexes written by earlier versions marked a waiting record with "H", named its batch by "B" and
// its name, and held its key as "K" and the key: such records are hidden, listed, published and
// discarded as before, and a new batch replaces the waiting record of a key as it would its own.
TEST(KmsBatchLayoutTest, EarlierVersionsBatchesAreKeptTheirMeaning) {
  TempDir dir;
  const std::string index = dir / "SearchDB";
  ASSERT_EQ(Insert(index, 0, nullptr, "a"), 0) << Reason();
  ASSERT_EQ(Insert(index, 1, nullptr, "b"), 0) << Reason();
  ASSERT_EQ(Insert(index, 2), 0) << Reason();
  for (int n : {10, 11, 12, 13}) ASSERT_EQ(Insert(index, n), 0) << Reason();
  {
    // Records 10 to 13 (ids 4 to 7) as an earlier version left them waiting.
    Xapian::WritableDatabase db = OpenGeneration(index);
    const std::vector<std::vector<std::string>> marks = {
        {"Bold", "Ka"}, {"Bold"}, {"Bgone", "Kb"}, {"Bgone"}};
    for (Xapian::docid id = 4; id <= 7; ++id) {
      Xapian::Document doc = db.get_document(id);
      doc.add_boolean_term("H");
      for (const std::string& term : marks[id - 4]) doc.add_boolean_term(term);
      db.replace_document(id, doc);
    }
    db.commit();
  }
  EXPECT_EQ(Found(index), Xml({0, 1, 2}));
  EXPECT_EQ(Batches(index), "gone\nold\n");
  ASSERT_EQ(KMS_Open(index.c_str(), 1), 0) << Reason();
  // The new try of key "b" takes the place of the earlier waiting record of that key.
  ASSERT_EQ(Insert(index, 20, "new", "b"), 0) << Reason();
  ASSERT_EQ(KMS_Discard_Batch(index.c_str(), "gone"), 0) << Reason();
  ASSERT_EQ(KMS_Publish_Batch(index.c_str(), "old"), 0) << Reason();
  EXPECT_EQ(Found(index), Xml({10, 1, 2, 11}));
  EXPECT_EQ(Batches(index), "new\n");
  ASSERT_EQ(KMS_Publish_Batch(index.c_str(), "new"), 0) << Reason();
  ASSERT_EQ(KMS_Close(index.c_str()), 0) << Reason();
  EXPECT_EQ(Found(index), Xml({10, 20, 2, 11}));
  EXPECT_EQ(CountU(index, "rec12 OR rec13"), 0);
  EXPECT_EQ(Batches(index), "");
}

// The list of waiting batches sits in the index folder, where book packages are copied: one that
// cannot be read fails every search and write, naming the index, rather than letting a waiting
// batch be found.
TEST(KmsBatchLayoutTest, AListOfBatchesThatCannotBeReadIsRefused) {
  const std::string tag = "0123456789abcdef";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"not a line of the list", "garbage\n"},
      {"a tag that is not one", "Sxyz\tbook\n"},
      {"no name", "S" + tag + "\n"},
      {"no line break at the end", "S" + tag + "\tbook"},
      {"one name twice", "S" + tag + "\tbook\nSfedcba9876543210\tbook\n"},
      {"too long", std::string(1024 * 1024 + 1, 'S')},
  };
  TempDir dir;
  int n = 0;
  for (const auto& [what, list] : cases) {
    SCOPED_TRACE(what);
    const std::string index = dir / ("Index" + std::to_string(++n));
    ASSERT_EQ(Insert(index, 0), 0) << Reason();
    ASSERT_EQ(Insert(index, 1, "book"), 0) << Reason();
    {
      Xapian::WritableDatabase db = OpenGeneration(index);
      db.set_metadata("tomeva.batches", list);
      db.commit();
    }
    EXPECT_EQ(Count(index, "every"), -1);
    EXPECT_NE(Reason().find(index), std::string::npos) << Reason();
    EXPECT_EQ(Batches(index), "<null>");
    EXPECT_NE(Insert(index, 2), 0);
    EXPECT_NE(KMS_Publish_Batch(index.c_str(), "book"), 0);
  }
}

// A batch committed by a process that ends without publishing stays hidden and listed, through
// later writers and compaction, until published.
TEST(KmsBatchDurabilityTest, AnUnpublishedBatchSurvivesItsProcess) {
  TempDir dir;
  const std::string index = dir / "SearchDB";
  pid_t pid = ::fork();
  if (pid == 0) {
    bool ok = KMS_Open(index.c_str(), 1) == 0;
    for (int n = 0; n < 3; ++n) ok = ok && Insert(index, n) == 0;
    for (int n = 10; n < 14; ++n) ok = ok && Insert(index, n, "import") == 0;
    ok = ok && KMS_Close(index.c_str()) == 0;
    ::_exit(ok ? 0 : 1);  // gone before it could publish
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Found(index), Xml({0, 1, 2}));
  EXPECT_EQ(Batches(index), "import\n");
  ASSERT_EQ(KMS_Open(index.c_str(), 1), 0) << Reason();
  ASSERT_EQ(Insert(index, 3), 0) << Reason();
  ASSERT_EQ(KMS_Close(index.c_str()), 0) << Reason();
  ASSERT_EQ(KMS_Optimize(index.c_str()), 0) << Reason();
  EXPECT_EQ(Found(index), Xml({0, 1, 2, 3}));
  EXPECT_EQ(Batches(index), "import\n");
  ASSERT_EQ(KMS_Publish_Batch(index.c_str(), "import"), 0) << Reason();
  EXPECT_EQ(Found(index), Xml({0, 1, 2, 10, 11, 12, 13, 3}));
}

// Xapian commits by itself after so many changes; a publication must not be split by that, or a
// search could find half of a book.
TEST(KmsBatchDurabilityTest, SearchesSeeABatchWhollyPublishedOrNotAtAll) {
  TempDir dir;
  const std::string index = dir / "SearchDB";
  const int kDocs = 1500;
  ASSERT_EQ(KMS_Open(index.c_str(), 1), 0) << Reason();
  for (int n = 0; n < kDocs; ++n) ASSERT_EQ(Insert(index, n, "big"), 0) << Reason();
  ASSERT_EQ(KMS_Close(index.c_str()), 0) << Reason();
  ::setenv("XAPIAN_FLUSH_THRESHOLD", "100", 1);
  std::atomic<bool> done{false};
  std::set<int> seen;
  std::thread reader([&] {
    while (!done) seen.insert(Count(index, "every"));
    seen.insert(Count(index, "every"));
  });
  int rc = KMS_Publish_Batch(index.c_str(), "big");
  done = true;
  reader.join();
  ::unsetenv("XAPIAN_FLUSH_THRESHOLD");
  ASSERT_EQ(rc, 0) << Reason();
  EXPECT_TRUE(seen.count(kDocs));
  seen.erase(0);
  seen.erase(kDocs);
  EXPECT_TRUE(seen.empty()) << "a search found " << *seen.begin() << " of " << kDocs;
}

}  // namespace
}  // namespace tomeva::kms_test
