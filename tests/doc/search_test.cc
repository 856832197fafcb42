// Searching through the document as a user does it: a query typed into the query box, the search
// command, then what the tree and the page show. Runs on a real index of the sample library
// (with its two waiting books imported, four books in all) and checks counts against a scan of
// the record files.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/import/book_import.h"
#include "core/views/result_tree.h"
#include "core/xml/xml_document.h"
#include "engine_kms/kms_engine.h"
#include "fakes.h"
#include "support/fake_engine.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::FakeFrame;
using testing::FakeHtmlView;
using testing::FakeTreeView;
using testing::TempDir;

std::string G(const std::string& utf8) { return Utf8ToGbk(utf8); }

// The tree as the window keeps it: the items last given, the counts of the book list.
class SearchTreeView : public FakeTreeView {
 public:
  void SetBookCounts(const std::vector<int>& values) override { counts = values; }
  const TreeItem* Header() const { return items.empty() ? nullptr : &items[0]; }
  // Labels of the header's children, in order.
  std::vector<std::string> HitLabels() const {
    std::vector<std::string> labels;
    for (const TreeItem& item : items) {
      if (item.parent == 0) labels.push_back(item.label);
    }
    return labels;
  }
  long long SelectedData() const {
    long long data = -1;
    for (const TreeItem& item : items) {
      if (!item.selected) continue;
      EXPECT_EQ(data, -1) << "two items selected";
      data = item.data;
    }
    return data;
  }

  std::vector<int> counts;
};

class PaintingHtmlView : public FakeHtmlView {
 public:
  int ShowHtml(const std::string& text) override {
    marks.clear();
    return FakeHtmlView::ShowHtml(text);
  }
  void Navigate(const std::string& location) override {
    marks.clear();
    FakeHtmlView::Navigate(location);
  }
  void HighlightInPage(const std::string& word, const std::string& colour, bool remember) override {
    marks.push_back({word, colour});
    EXPECT_TRUE(remember);
  }
  std::vector<std::pair<std::string, std::string>> marks;  // (word, colour) in painting order
};

// A record as the content field sees it: one entry per indexed text field.
struct ScannedRecord {
  int book = 0;  // 1-based book number
  std::map<std::string, std::string> fields;
  bool Holds(const std::string& word, const std::string& only_field = "") const {
    for (const auto& [name, value] : fields) {
      if (!only_field.empty() && name != only_field) continue;
      if (MbFind(value, word) != kNpos) return true;
    }
    return false;
  }
};

// The sample installation with books 3 and 4 imported, built once for all tests.
class SampleLibrary {
 public:
  SampleLibrary() {
    dir_ = tmp_.path() + "/inst";
    std::string command = std::string(TOMEVA_BINARY_DIR) +
                          "/tools/make-sample-library/make-sample-library " + dir_ +
                          " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    ok_ = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok_) return;
    KmsEngine engine;
    ImportResult result = RunBookImport(engine, dir_, nullptr);
    (void)result;
    Catalogue catalogue;
    ok_ = catalogue.LoadCatalogue(dir_) && catalogue.book_count() == 4;
    if (!ok_) return;
    for (int k = 1; k <= catalogue.book_count(); ++k) {
      std::string folder = catalogue.BookFolder(k);
      std::vector<std::string> names = ListDirectory(folder);
      std::sort(names.begin(), names.end());
      for (const std::string& name : names) {
        if (!IsRecordFileName(name)) continue;
        std::string text;
        if (!ReadWholeFile(JoinPath(folder, name), &text)) continue;
        CXmlDocument doc;
        doc.ParseText(text);
        ScannedRecord record;
        record.book = k;
        for (const char* field : {"FdName", "FdAuthor", "FdContent", "KeyWords", "f0", "f5"}) {
          record.fields[field] = doc.GetText(field);
        }
        records_.push_back(std::move(record));
      }
    }
  }

  Settings MakeSettings() const {
    Settings s;
    s.app_dir = dir_ + "/";
    s.ebook_dir = dir_;
    s.exit_dir = dir_;
    s.index_dir = dir_ + "/SearchDB";
    return s;
  }
  bool ok() const { return ok_; }
  const std::vector<ScannedRecord>& records() const { return records_; }
  // Records holding `word` (in `field` only when given), optionally only in book `book`.
  int Count(const std::string& word, const std::string& field = "", int book = 0) const {
    return static_cast<int>(std::count_if(records_.begin(), records_.end(), [&](const auto& r) {
      return (book == 0 || r.book == book) && r.Holds(word, field);
    }));
  }

 private:
  TempDir tmp_;
  std::string dir_;
  bool ok_ = false;
  std::vector<ScannedRecord> records_;
};

SampleLibrary* sample = nullptr;

class SearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (sample == nullptr) sample = new SampleLibrary();
  }
  static void TearDownTestSuite() {
    delete sample;
    sample = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(sample->ok()) << "the sample library could not be made";
    Settings settings = sample->MakeSettings();
    doc_ = std::make_unique<CTomevaDoc>(settings);
    doc_->AttachEngine(&engine_);
    doc_->AttachHtmlView(&html_);
    doc_->AttachTreeView(&tree_);
    doc_->AttachFrame(&frame_);
  }
  void TearDown() override {
    if (doc_ != nullptr) {
      doc_->AttachHtmlView(nullptr);
      doc_->AttachTreeView(nullptr);
      doc_->AttachFrame(nullptr);
    }
  }

  void SetBookSearch(bool on) {
    if (doc_->switches().book_search != on) doc_->OnCommand(kCmdBookSearch);
  }
  void SetField(const std::string& label_utf8) {
    if (!doc_->switches().advanced_search) doc_->OnCommand(kCmdAdvancedSearch);
    frame_.field = G(label_utf8);
  }
  // Types `query_utf8` and presses Enter with the book restriction off.
  void Search(const std::string& query_utf8) {
    SetBookSearch(false);
    frame_.query = G(query_utf8);
    doc_->OnCommand(kCmdSearch);
  }
  // The number the header announces, or -1 when the header does not read as a count header for
  // the query in the box.
  int HeaderCount() const {
    const TreeItem* header = tree_.Header();
    if (header == nullptr) return -1;
    const std::string prefix = frame_.query + G("(查询得到 ");
    if (header->label.compare(0, prefix.size(), prefix) != 0) return -1;
    return std::atoi(header->label.c_str() + prefix.size());
  }
  int Total() const {
    return doc_->results().current() ? std::max(doc_->results().current()->GetTotalCount(), 0) : 0;
  }

  PaintingHtmlView html_;
  SearchTreeView tree_;
  FakeFrame frame_;
  // The sample library's engine, and one whose searches give results of a test's making.
  KmsEngine engine_;
  testing::FakeEngine canned_;
  std::unique_ptr<CTomevaDoc> doc_;
};

TEST_F(SearchTest, EachQueryModeSearchesTheSameWordsItsOwnWay) {
  // Two words: exact match and natural language both want every word; automatic mode passes a
  // query of more than three characters on as typed, so it finds at least as much.
  const std::string a = "明月", b = "故乡";
  int both = 0;
  for (const ScannedRecord& r : sample->records()) both += r.Holds(G(a)) && r.Holds(G(b));
  ASSERT_GT(both, 0);
  const struct {
    int command;
    int mode;
  } cases[] = {{kCmdModeExact, 0}, {kCmdModeNatural, 1}, {kCmdModeAuto, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    doc_->OnCommand(c.command);
    Search(a + " " + b);
    EXPECT_EQ(doc_->history().entries().back().query_mode, c.mode);
    if (c.mode == 2) {
      EXPECT_GE(HeaderCount(), both);
    } else {
      EXPECT_EQ(HeaderCount(), both);
      // Both words are painted into the hit's page (in exact mode the connective AND counts as
      // a keyword too), the last keyword first.
      std::set<std::string> painted;
      for (const auto& mark : html_.marks) painted.insert(mark.first);
      EXPECT_TRUE(painted.count(G(a)) && painted.count(G(b)));
      if (c.mode == 0) {
        EXPECT_EQ(html_.marks, (std::vector<std::pair<std::string, std::string>>{
                                   {G(b), "blue"}, {"AND", "blue"}, {G(a), "blue"}}));
      }
    }
    // The page is the first hit's generated record page with its number heading.
    ASSERT_FALSE(html_.shown.empty());
    EXPECT_NE(html_.shown.back().find("<Strong>1. </Strong>"), std::string::npos);
    EXPECT_NE(html_.shown.back().find(G(b)), std::string::npos);
  }
  // A single word of up to three characters is one phrase in automatic mode.
  Search(a);
  EXPECT_EQ(HeaderCount(), sample->Count(G(a)));
}

TEST_F(SearchTest, FieldLabelRestrictsTheSearchToThatField) {
  const struct {
    const char* label;
    const char* word;
    const char* field;
  } cases[] = {
      {"作者", "李白", "FdAuthor"},
      {"标题", "送", "FdName"},
      {"内容摘要", "春风", "KeyWords"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SetField(c.label);
    Search(c.word);
    const int expected = sample->Count(G(c.word), c.field);
    ASSERT_GT(expected, 0);
    EXPECT_LT(expected, sample->Count(G(c.word)));  // the field narrows the search
    EXPECT_EQ(HeaderCount(), expected);
    EXPECT_TRUE(doc_->history().entries().back().field_flag);
    EXPECT_EQ(doc_->history().entries().back().field_label, G(c.label));
  }
  // The poet's hits are labelled with the title and the poet, with the book below.
  SetField("作者");
  Search("李白");
  std::vector<std::string> labels = tree_.HitLabels();
  ASSERT_EQ(labels.size(), 10u);
  for (size_t i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(labels[i].rfind(std::to_string(i + 1) + ". ", 0), 0u) << i;
    EXPECT_NE(labels[i].find(G("-李白")), std::string::npos) << i;
  }
  EXPECT_EQ(tree_.items[2].label, G("唐诗三百首"));
  EXPECT_EQ(tree_.items[2].parent, 1);
}

TEST_F(SearchTest, BookRestrictedSearchShowsTheFirstBookWithHits) {
  // A word of the third book (诗经·国风) that the first two books do not hold.
  std::string word;
  for (const ScannedRecord& r : sample->records()) {
    if (r.book != 3 || !word.empty()) continue;
    const std::string& body = r.fields.at("FdContent");
    for (size_t i = 0; i + 4 <= body.size() && word.empty(); i += GbkCharLen(body, i)) {
      if (GbkCharLen(body, i) != 2 || GbkCharLen(body, i + 2) != 2) continue;
      if (static_cast<unsigned char>(body[i]) < 0xB0 ||
          static_cast<unsigned char>(body[i + 2]) < 0xB0) {
        continue;  // punctuation
      }
      std::string w = body.substr(i, 4);
      if (sample->Count(w, "", 1) == 0 && sample->Count(w, "", 2) == 0) word = w;
    }
  }
  ASSERT_FALSE(word.empty());
  const int third = sample->Count(word, "", 3);

  SetBookSearch(true);
  tree_.checks = {{0, true}, {1, true}, {2, true}, {3, false}};
  frame_.query = word;
  doc_->OnCommand(kCmdSearch);
  for (int place = 0; place < 3; ++place) EXPECT_NE(doc_->results().place(place), nullptr) << place;
  EXPECT_EQ(doc_->results().place(3), nullptr);
  EXPECT_EQ(tree_.counts, (std::vector<int>{0, 0, third, 0}));
  EXPECT_EQ(doc_->results().current(), doc_->results().place(2));
  EXPECT_EQ(HeaderCount(), third);
  EXPECT_EQ(tree_.items[2].label, G("诗经·国风"));
  EXPECT_TRUE(doc_->history().entries().back().book_flag);

  // Only books without hits: no current result, the no-result page with the query in it.
  tree_.checks = {{0, true}, {1, true}, {2, false}, {3, false}};
  doc_->OnCommand(kCmdSearch);
  EXPECT_EQ(doc_->results().current(), nullptr);
  EXPECT_EQ(tree_.counts, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(tree_.items.empty());
  EXPECT_NE(html_.shown.back().find(G("找不到和您的查询\"") + word + "\""), std::string::npos);
  // The counts stay with the list when the restriction is switched off and on again.
  doc_->OnCommand(kCmdBookSearch);
  doc_->OnCommand(kCmdBookSearch);
  EXPECT_EQ(tree_.counts, (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(SearchTest, ChoosingABookRowShowsThatBooksResults) {
  SetBookSearch(true);
  tree_.checks = {{0, true}, {1, true}, {2, true}, {3, true}};
  frame_.query = G("之");
  doc_->OnCommand(kCmdSearch);
  ASSERT_EQ(tree_.counts.size(), 4u);
  for (int book = 1; book <= 4; ++book) {
    EXPECT_EQ(tree_.counts[book - 1], sample->Count(G("之"), "", book)) << book;
    EXPECT_GT(tree_.counts[book - 1], 0) << book;
  }
  ASSERT_GT(tree_.counts[0], 10);
  doc_->MoveRecordCursor(CursorMove::kNextPage);
  EXPECT_EQ(doc_->cursor().record_index(), 10);

  const struct {
    int row;
    int count;
    std::string book;
  } cases[] = {{3, tree_.counts[3], G("诗经·雅颂")}, {1, tree_.counts[1], G("宋诗一百首")}};
  for (const auto& c : cases) {
    doc_->ShowBookResults(c.row);
    EXPECT_EQ(doc_->results().selected_position(), c.row);
    EXPECT_EQ(doc_->results().current(), doc_->results().place(c.row));
    EXPECT_EQ(doc_->cursor().record_index(), 0);
    EXPECT_EQ(HeaderCount(), c.count);
    ASSERT_GE(tree_.items.size(), 3u);
    EXPECT_EQ(tree_.SelectedData(), 1);
  }
  // A row whose place holds nothing leaves the shown result alone.
  SearchResults* shown = doc_->results().current();
  doc_->ShowBookResults(7);
  EXPECT_EQ(doc_->results().current(), shown);
  EXPECT_EQ(doc_->results().selected_position(), 7);
}

TEST_F(SearchTest, TwentySixthSearchDropsTheOldestAndReplayRestoresControls) {
  std::vector<std::string> words;
  for (const ScannedRecord& r : sample->records()) {
    const std::string& title = r.fields.at("FdName");
    if (title.size() >= 4 && GbkCharLen(title, 0) == 2 && GbkCharLen(title, 2) == 2) {
      std::string w = title.substr(0, 4);
      if (std::find(words.begin(), words.end(), w) == words.end()) words.push_back(w);
    }
    if (words.size() == 26) break;
  }
  ASSERT_EQ(words.size(), 26u);
  for (const std::string& w : words) {
    SetBookSearch(false);
    frame_.query = w;
    doc_->OnCommand(kCmdSearch);
    EXPECT_GT(Total(), 0) << GbkToUtf8(w);
  }
  ASSERT_EQ(doc_->history().size(), 25);
  EXPECT_EQ(doc_->history().entries().front().query, words[1]);
  EXPECT_EQ(doc_->history().entries().back().query, words[25]);
  auto menu = doc_->history().MenuItems();
  ASSERT_EQ(menu.size(), 25u);
  EXPECT_EQ(menu.front(), std::make_pair(static_cast<int>(kCmdHistoryFirst), words[25]));

  // An author search in exact mode, then a plain one in natural-language mode.
  doc_->OnCommand(kCmdModeExact);
  SetField("作者");
  Search("杜甫");
  const int dufu = Total();
  EXPECT_EQ(dufu, sample->Count(G("杜甫"), "FdAuthor"));
  doc_->OnCommand(kCmdAdvancedSearch);
  doc_->OnCommand(kCmdModeNatural);
  Search("春");

  // Back to the previous query: mode, text and field come back and the search runs at once.
  doc_->OnCommand(kCmdBackToQuery);
  EXPECT_EQ(doc_->switches().query_mode, 0);
  EXPECT_EQ(frame_.query, G("杜甫"));
  EXPECT_TRUE(frame_.bar_shown);
  EXPECT_EQ(frame_.field, G("作者"));
  EXPECT_EQ(Total(), dufu);
  EXPECT_EQ(HeaderCount(), dufu);
  // Twice returns to the query that was newest before the first.
  doc_->OnCommand(kCmdBackToQuery);
  EXPECT_EQ(frame_.query, G("春"));
  EXPECT_FALSE(frame_.bar_shown);
  EXPECT_EQ(doc_->switches().query_mode, 1);

  // A history item restores the controls, keeps the present mode and posts the search.
  doc_->OnCommand(kCmdModeAuto);
  frame_.posted.clear();
  doc_->OnCommand(kCmdHistoryFirst + 1);  // the author search
  EXPECT_EQ(frame_.query, G("杜甫"));
  EXPECT_EQ(frame_.field, G("作者"));
  EXPECT_EQ(doc_->switches().query_mode, 2);
  ASSERT_EQ(frame_.posted, std::vector<int>{kCmdSearch});
  doc_->OnCommand(frame_.posted[0]);
  EXPECT_EQ(HeaderCount(), dufu);
  EXPECT_EQ(doc_->history().entries().back().query_mode, 2);
  doc_->OnCommand(kCmdHistoryFirst + 40);  // outside the history: ignored
  EXPECT_EQ(frame_.posted.size(), 1u);
}

// Recall as the user sees it: the header's count for 20 words of the poems equals the number of
// records that hold the word. The words are spread over how common they are, from a word of a
// single poem to one of a hundred poems and more.
TEST_F(SearchTest, HeaderCountEqualsRecordsHoldingTheWord) {
  std::map<std::string, std::set<size_t>> holders[2];  // two- and three-character words
  for (size_t n = 0; n < sample->records().size(); ++n) {
    const ScannedRecord& r = sample->records()[n];
    const std::string& body =
        r.fields.at("FdContent").empty() ? r.fields.at("f5") : r.fields.at("FdContent");
    for (size_t i = 0; i < body.size(); i += GbkCharLen(body, i)) {
      std::string w;
      for (size_t j = i; w.size() < 6 && j + 1 < body.size() && GbkCharLen(body, j) == 2 &&
                         static_cast<unsigned char>(body[j]) >= 0xB0;
           j += 2) {
        w += body.substr(j, 2);
        if (w.size() >= 4) holders[w.size() / 2 - 2][w].insert(n);
      }
    }
  }
  std::vector<std::string> words;
  for (auto& by_length : holders) {
    std::vector<std::pair<size_t, std::string>> ranked;
    for (auto& [w, records] : by_length) ranked.push_back({records.size(), w});
    std::sort(ranked.rbegin(), ranked.rend());
    // Ten words per length, taken at ranks 0, 1, 3, 7, 15, ... so that counts fall off steadily.
    int taken = 0;
    for (size_t rank = 0, step = 1; rank < ranked.size() && taken < 10; rank += step, step *= 2) {
      words.push_back(ranked[rank].second);
      ++taken;
    }
  }
  ASSERT_EQ(words.size(), 20u);
  int multi_page = 0;
  for (const std::string& w : words) {
    Search(GbkToUtf8(w));
    const int expected = sample->Count(w);
    EXPECT_EQ(HeaderCount(), expected) << GbkToUtf8(w);
    multi_page += expected > 10;
  }
  EXPECT_GE(multi_page, 4);
}

TEST_F(SearchTest, SearchEmptiesThePageBackStackAndRecordLinksShowTheirRecord) {
  // Browsing first: the start page and a book's page are on the page-back stack.
  doc_->UpdateAllViews();
  ASSERT_GE(doc_->browse().library.items.size(), 2u);
  doc_->OnTreeSelectionChanged(1, doc_->browse().library.items[1].data);
  ASSERT_GE(doc_->page_stack().size(), 2);
  CommandState back;
  ASSERT_TRUE(doc_->OnUpdateCommand(kCmdBack, &back));
  EXPECT_TRUE(back.enabled);

  Search("不知");
  EXPECT_EQ(doc_->page_stack().size(), 0);
  ASSERT_TRUE(doc_->OnUpdateCommand(kCmdBack, &back));
  EXPECT_FALSE(back.enabled);

  // A link to a record file in a hit's page shows that record, under the hit's number, until
  // the tree is clicked.
  const std::string hit_page = html_.shown.back();
  std::string linked;
  ASSERT_TRUE(ReadWholeFile(JoinPath(doc_->catalogue().BookFolder(2), "book_0003.xml"), &linked));
  CXmlDocument linked_doc;
  linked_doc.ParseText(linked);
  const std::string title = linked_doc.GetText("FdName");
  ASSERT_FALSE(title.empty());
  ASSERT_EQ(hit_page.find(title), std::string::npos);
  EXPECT_FALSE(doc_->OnBeforeNavigate(JoinPath(doc_->catalogue().BookFolder(2), "book_0003.xml")));
  EXPECT_NE(html_.shown.back().find(title), std::string::npos);
  EXPECT_NE(html_.shown.back().find("<Strong>1. </Strong>"), std::string::npos);
  doc_->OnTreeClick();
  EXPECT_EQ(html_.shown.back(), hit_page);
}

// Results of a fixed size, to walk the cursor over exact totals.
class CountedResults : public SearchResults {
 public:
  explicit CountedResults(int total, std::vector<std::string> keywords = {})
      : total_(total), keywords_(std::move(keywords)) {}
  int GetTotalCount() const override { return total_; }
  SearchHit GetHit(int n) override {
    ++fetched;
    if (n < 0 || n >= total_) return {};
    return {"<?xml version=\"1.0\" encoding=\"GB2312\"?><record><FdName>T" + std::to_string(n + 1) +
                "</FdName></record>",
            3};
  }
  const std::vector<std::string>& keywords() const override { return keywords_; }

  static inline int fetched = 0;  // hits read, by every instance

 private:
  int total_;
  std::vector<std::string> keywords_;
};

TEST_F(SearchTest, CursorWalksThirtyFiveAndFiveHundredHits) {
  int total = 0;
  doc_->AttachEngine(&canned_);
  canned_.SetResults([&total](const std::string&, const std::string&, const std::string&,
                                   int) { return std::make_unique<CountedResults>(total); });
  using M = CursorMove;
  const struct {
    int total;
    std::vector<M> moves;
    std::vector<std::pair<int, int>> cursor;  // (page, record) after each move
  } cases[] = {
      {35,
       {M::kNextPage, M::kNextPage, M::kNextPage, M::kNextPage, M::kPreviousPage,
        M::kPreviousRecord, M::kFirstPage, M::kNextRecord},
       {{1, 10}, {2, 20}, {3, 30}, {3, 34}, {2, 24}, {2, 23}, {0, 0}, {0, 1}}},
      {500,
       {M::kLastPage, M::kNextRecord, M::kNextPage, M::kPreviousPage, M::kPreviousRecord},
       {{19, 199}, {19, 199}, {19, 199}, {18, 189}, {18, 188}}},
      {11, {M::kNextPage, M::kPreviousRecord}, {{1, 10}, {0, 9}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.total);
    total = c.total;
    Search("x");
    for (size_t i = 0; i < c.moves.size(); ++i) {
      EXPECT_TRUE(doc_->MoveRecordCursor(c.moves[i]));
      auto [page, record] = c.cursor[i];
      EXPECT_EQ(doc_->cursor().page_index(), page) << i;
      EXPECT_EQ(doc_->cursor().record_index(), record) << i;
      // The tree shows the cursor's page with the current hit selected, the page its record.
      EXPECT_EQ(tree_.SelectedData(), record + 1) << i;
      EXPECT_EQ(tree_.HitLabels().front(),
                std::to_string(page * 10 + 1) + ". T" + std::to_string(page * 10 + 1));
      EXPECT_NE(html_.shown.back().find("<Strong>" + std::to_string(record + 1) + ". </Strong>"),
                std::string::npos);
    }
  }
  // The header of the last page of 35: the total, then the shown range.
  total = 35;
  Search("x");
  doc_->MoveRecordCursor(M::kLastPage);
  EXPECT_EQ(tree_.Header()->label, "x" + G("(查询得到 35 条结果，显示 31 到 35 )"));
  EXPECT_EQ(tree_.HitLabels().size(), 5u);
  // Moving within the shown page only moves the selection (the page reads its one hit); a new
  // page rebuilds the list from the page's ten hits.
  CountedResults::fetched = 0;
  doc_->MoveRecordCursor(M::kPreviousRecord);
  EXPECT_EQ(CountedResults::fetched, 1);
  EXPECT_EQ(tree_.SelectedData(), 34);
  EXPECT_EQ(tree_.HitLabels().size(), 5u);
  CountedResults::fetched = 0;
  doc_->MoveRecordCursor(M::kPreviousPage);
  EXPECT_EQ(CountedResults::fetched, 11);
  EXPECT_EQ(tree_.SelectedData(), 24);

  // No hits: the pager and the keys do nothing.
  total = 0;
  Search("x");
  EXPECT_FALSE(doc_->MoveRecordCursor(M::kNextRecord));
  EXPECT_TRUE(tree_.items.empty());
  // Page buttons in the page act like the pager.
  total = 35;
  Search("x");
  const struct {
    const char* id;
    int record;
  } buttons[] = {{"B3", 10}, {"B2", 11}, {"B1", 10}, {"B0", 0}, {"B2x", 0}};
  for (const auto& b : buttons) {
    doc_->OnPageButtonClick(b.id);
    EXPECT_EQ(doc_->cursor().record_index(), b.record) << b.id;
  }
}

TEST_F(SearchTest, OnlyTheFirstThirteenKeywordsArePaintedEachInItsColour) {
  const struct {
    int keywords;
    int hits;
    std::vector<std::string> colours;  // in painting order: keyword n-1 down to 0
  } cases[] = {
      {15,
       3,
       {"darkorange", "yellow", "purple", "red", "green", "blue", "orange", "blue", "blue", "blue",
        "blue", "blue", "blue"}},
      {2, 1, {"blue", "blue"}},
      {4, 0, {}},  // no hits: the no-result page, nothing to paint
  };
  for (const auto& c : cases) {
    std::vector<std::string> keywords;
    for (int k = 0; k < c.keywords; ++k) keywords.push_back("k" + std::to_string(k));
    doc_->AttachEngine(&canned_);
    canned_.SetResults([&](const std::string&, const std::string&, const std::string&, int) {
      return std::make_unique<CountedResults>(c.hits, keywords);
    });
    Search("x");
    ASSERT_EQ(html_.marks.size(), c.colours.size()) << c.keywords;
    for (size_t i = 0; i < c.colours.size(); ++i) {
      EXPECT_EQ(html_.marks[i].first, "k" + std::to_string(c.colours.size() - 1 - i));
      EXPECT_EQ(html_.marks[i].second, c.colours[i]) << i;
    }
  }
}

TEST(ResultTreeTest, LabelsHeaderAndTheShownPage) {
  const std::string rec = "<?xml version=\"1.0\" encoding=\"GB2312\"?><record>";
  std::vector<SearchHit> hits = {
      {rec + "<FdName>" + G("静夜思") + "</FdName><FdAuthor>" + G("李白") + "</FdAuthor></record>",
       3},
      {rec + "<f0>" + G("鹿鸣") + "</f0></record>", 2},
      {rec + "<FdAuthor>" + G("佚名") + "</FdAuthor></record>", 3},
      {rec + "<FdName>" + G("春晓") + "</FdName><AU>" + G("孟浩然") + "</AU></record>", 99},
  };
  ResultTreeSource source;
  source.query_text = G("思");
  source.total = static_cast<int>(hits.size());
  source.hit = [&hits](int n) { return hits[n]; };
  source.book_name = [](int category) {
    return category == 3 ? G("唐诗三百首") : category == 2 ? G("诗经·雅颂") : std::string();
  };
  source.record_index = 1;
  TreeItemList items = BuildResultTree(source);
  std::vector<std::pair<std::string, int>> got;  // (label, parent)
  for (const TreeItem& item : items) got.push_back({item.label, item.parent});
  const std::vector<std::pair<std::string, int>> want = {
      {G("思(查询得到 4 条结果 )"), -1},
      {G("1. 静夜思-李白"), 0},
      {G("唐诗三百首"), 1},
      {G("2. 鹿鸣"), 0},
      {G("诗经·雅颂"), 3},
      {G("3. 无题"), 0},         // no title: no author and no book child
      {G("4. 春晓-孟浩然"), 0},  // category of no book: no child
  };
  EXPECT_EQ(got, want);
  EXPECT_TRUE(items[3].selected);
  EXPECT_EQ(std::count_if(items.begin(), items.end(), [](auto& i) { return i.selected; }), 1);
  EXPECT_EQ(items[5].data, 3);

  // 25 hits on their second page; a long query is cut to 100 bytes on a character boundary.
  std::string long_query = "a";
  for (int i = 0; i < 60; ++i) long_query += G("诗");
  EXPECT_EQ(ResultTreeHeader(long_query, 25, 1),
            long_query.substr(0, 99) + G("(查询得到 25 条结果，显示 11 到 20 )"));
  EXPECT_EQ(ResultTreeHeader("q", 7, 0), "q" + G("(查询得到 7 条结果 )"));

  // The marker: the same page is not rebuilt; nothing found empties the tree.
  ResultTree tree;
  EXPECT_TRUE(tree.Update(source).rebuild);
  source.record_index = 3;
  ResultTreeUpdate same = tree.Update(source);
  EXPECT_FALSE(same.rebuild);
  EXPECT_EQ(same.select_position, 3);
  tree.ResetHitMarker();
  source.total = 0;
  ResultTreeUpdate none = tree.Update(source);
  EXPECT_TRUE(none.rebuild);
  EXPECT_TRUE(none.items.empty());
  EXPECT_EQ(tree.hit_marker(), -1);

  // Shown items are kept: on the same page only the selection moves, to the cursor's hit.
  ResultTree shown;
  source.total = static_cast<int>(hits.size());
  source.record_index = 1;
  const TreeItemList first = shown.Show(source);
  EXPECT_TRUE(first[3].selected);
  source.record_index = 2;
  const TreeItemList& moved = shown.Show(source);
  ASSERT_EQ(moved.size(), first.size());
  std::vector<size_t> selected;
  for (size_t i = 0; i < moved.size(); ++i) {
    if (moved[i].selected) selected.push_back(i);
  }
  EXPECT_EQ(selected, std::vector<size_t>{5});
  // A book line stands for the hit above it; the header and the hits for themselves.
  const struct {
    int item;
    long long data;
    long long stands_for;
  } lines[] = {{2, 0, 1}, {4, 0, 2}, {0, 0, 0}, {3, 2, 2}, {99, 0, 0}, {-1, 0, 0}};
  for (const auto& l : lines) EXPECT_EQ(shown.HitDataOf(l.item, l.data), l.stands_for) << l.item;
  shown.ResetHitMarker();
  source.total = 0;
  EXPECT_TRUE(shown.Show(source).empty());
}

}  // namespace
}  // namespace tomeva
