#include "core/doc/tomeva_doc.h"

#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/texts.h"
#include "core/doc/command_ids.h"
#include "core/views/page_render.h"
#include "fakes.h"
#include "support/fake_engine.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::FakeFrame;
using testing::FakeEngine;
using testing::FakeHtmlView;
using testing::FakePlatform;
using testing::FakeTreeView;
using testing::TempDir;
using testing::WriteGbk;
using testing::WriteScrambledGbk;

// Results with a fixed number of empty hits, or of a search that could not run.
class FixedResults : public SearchResults {
 public:
  explicit FixedResults(int total, SearchFailure failure = {})
      : total_(total), failure_(std::move(failure)) {}
  int GetTotalCount() const override { return total_; }
  SearchHit GetHit(int) override { return {}; }
  const std::vector<std::string>& keywords() const override { return keywords_; }
  const SearchFailure& failure() const override { return failure_; }

 private:
  int total_;
  SearchFailure failure_;
  std::vector<std::string> keywords_;
};

class DocTest : public ::testing::Test {
 protected:
  DocTest() : doc_(MakeSettings()) {
    doc_.AttachHtmlView(&html_);
    doc_.AttachTreeView(&tree_);
    doc_.AttachFrame(&frame_);
    doc_.AttachPlatform(&platform_);
    doc_.AttachEngine(&engine_);
  }

  static Settings MakeSettings() {
    Settings s;
    s.exit_dir = "/inst/.";
    s.ebook_dir = "/inst/./EBook";
    return s;
  }

  CommandState State(int id) {
    CommandState state;
    EXPECT_TRUE(doc_.OnUpdateCommand(id, &state)) << id;
    return state;
  }

  // Runs a search for `query` with the book restriction off.
  void Search(const std::string& query) {
    if (doc_.switches().book_search) doc_.OnCommand(kCmdBookSearch);
    frame_.query = query;
    doc_.OnCommand(kCmdSearch);
  }

  FakeHtmlView html_;
  FakeTreeView tree_;
  FakeFrame frame_;
  FakePlatform platform_;
  FakeEngine engine_;
  CTomevaDoc doc_;
};

TEST_F(DocTest, QueryModeCommandsMoveTheSingleCheckMark) {
  EXPECT_EQ(doc_.switches().query_mode, 2);
  const struct {
    int command;
    int mode;
  } cases[] = {{kCmdModeNatural, 1}, {kCmdModeExact, 0}, {kCmdModeAuto, 2}, {kCmdModeNatural, 1}};
  for (const auto& c : cases) {
    EXPECT_TRUE(doc_.OnCommand(c.command));
    EXPECT_EQ(doc_.switches().query_mode, c.mode);
    for (int id = kCmdModeExact; id <= kCmdModeAuto; ++id) {
      EXPECT_EQ(State(id).checked, id == c.command) << "after " << c.command << " item " << id;
    }
  }
}

TEST_F(DocTest, ZoomCommandsReachTheBrowserOnlyWhenTheLevelChanges) {
  const struct {
    int command;
    std::vector<int> sent;
  } cases[] = {
      {kCmdZoomMedium, {}},  // level 2 is the starting level: already checked, nothing sent
      {kCmdZoomLargest, {4}},
      {kCmdZoomLargest, {}},
      {kCmdZoomSmallest, {0}},
      {kCmdZoomSmall, {1}},
  };
  for (const auto& c : cases) {
    html_.zoom_calls.clear();
    doc_.OnCommand(c.command);
    EXPECT_EQ(html_.zoom_calls, c.sent) << c.command;
    EXPECT_TRUE(State(c.command).checked);
    EXPECT_EQ(doc_.switches().zoom_level, c.command - kCmdZoomSmallest);
  }
}

TEST_F(DocTest, BrowserZoomFoundAtFirstShowIsRestoredOnDestroy) {
  html_.browser_zoom = 3;  // what the browser had before the program showed anything
  doc_.OnHtmlViewInitialUpdate();
  EXPECT_EQ(doc_.switches().initial_browser_zoom, 3);
  EXPECT_EQ(html_.browser_zoom, 2);  // the document's level is applied
  doc_.OnCommand(kCmdZoomLargest);
  EXPECT_EQ(html_.browser_zoom, 4);
  doc_.OnHtmlViewDestroy();
  EXPECT_EQ(html_.browser_zoom, 3);
}

TEST_F(DocTest, AdvancedSearchToggleShowsTheBarAndEmptiesTheFieldWhenHidden) {
  EXPECT_FALSE(State(kCmdAdvancedSearch).checked);
  doc_.OnCommand(kCmdAdvancedSearch);
  EXPECT_TRUE(frame_.bar_shown);
  EXPECT_TRUE(State(kCmdAdvancedSearch).checked);
  frame_.field = Utf8ToGbk("作者");
  doc_.OnCommand(kCmdAdvancedSearch);
  EXPECT_FALSE(frame_.bar_shown);
  EXPECT_FALSE(State(kCmdAdvancedSearch).checked);
  EXPECT_EQ(frame_.field, "");
}

TEST_F(DocTest, HistoryKeepsTheNewest25AndTheMenuListsThemNewestFirst) {
  for (int i = 0; i < 30; ++i) Search("q" + std::to_string(i));
  ASSERT_EQ(doc_.history().size(), 25);
  auto menu = doc_.history().MenuItems();
  ASSERT_EQ(menu.size(), 25u);
  for (int k = 0; k < 25; ++k) {
    EXPECT_EQ(menu[k].first, 32900 + k);
    EXPECT_EQ(menu[k].second, "q" + std::to_string(29 - k));
  }
}

TEST_F(DocTest, RepeatedQueryLeavesOneEntryCarryingTheNewerMode) {
  Search("a");
  Search("b");
  doc_.OnCommand(kCmdModeExact);
  Search("a");
  ASSERT_EQ(doc_.history().size(), 2);
  EXPECT_EQ(doc_.history().entries().back().query, "a");
  EXPECT_EQ(doc_.history().entries().back().query_mode, kQueryExact);
  EXPECT_EQ(doc_.history().entries().front().query, "b");
}

TEST_F(DocTest, RestrictedEntriesAreMarkedInTheMenu) {
  Search("plain");
  doc_.OnCommand(kCmdAdvancedSearch);
  frame_.field = "";  // bar shown but no field chosen: not a restriction
  Search("empty-field");
  frame_.field = Utf8ToGbk("标题");
  Search("titled");
  auto menu = doc_.history().MenuItems();
  ASSERT_EQ(menu.size(), 3u);
  EXPECT_EQ(menu[0].second, "titled(*)");
  EXPECT_EQ(menu[1].second, "empty-field");
  EXPECT_EQ(menu[2].second, "plain");
  EXPECT_FALSE(doc_.history().entries()[1].field_flag);
}

TEST_F(DocTest, BookRestrictedSearchWithoutCheckedBookDoesNothing) {
  ASSERT_TRUE(doc_.switches().book_search);
  frame_.query = "x";
  doc_.OnCommand(kCmdSearch);
  EXPECT_TRUE(doc_.history().empty());
  EXPECT_FALSE(doc_.switches().search_mode);
  EXPECT_FALSE(State(kCmdBackToQuery).enabled);

  tree_.checks[3] = true;
  doc_.OnCommand(kCmdSearch);
  ASSERT_EQ(doc_.history().size(), 1);
  EXPECT_TRUE(doc_.history().entries()[0].book_flag);
  EXPECT_TRUE(doc_.history().entries()[0].book_checks[3]);
  EXPECT_FALSE(doc_.history().entries()[0].book_checks[2]);
  EXPECT_TRUE(doc_.switches().search_mode);
  EXPECT_TRUE(State(kCmdBackToQuery).enabled);
  // "检索中…" shows while the search runs; the page then moves on to what it found.
  ASSERT_GE(html_.shown.size(), 2u);
  EXPECT_EQ(html_.shown[html_.shown.size() - 2], Utf8ToGbk("检索中…"));
  EXPECT_EQ(frame_.select_alls, 2);
}

TEST_F(DocTest, BackToPreviousQueryRestoresModeAndControls) {
  doc_.OnCommand(kCmdAdvancedSearch);
  frame_.field = Utf8ToGbk("作者");
  doc_.OnCommand(kCmdModeNatural);
  Search("first");
  doc_.OnCommand(kCmdAdvancedSearch);  // bar hidden for the second query
  doc_.OnCommand(kCmdModeExact);
  Search("second");

  doc_.OnCommand(kCmdBackToQuery);
  EXPECT_EQ(doc_.switches().query_mode, 1);
  EXPECT_EQ(frame_.query, "first");
  EXPECT_TRUE(frame_.bar_shown);
  EXPECT_EQ(frame_.field, Utf8ToGbk("作者"));
  EXPECT_EQ(doc_.history().entries().back().query, "first");
  // Twice in a row returns to the query that was newest before the first.
  doc_.OnCommand(kCmdBackToQuery);
  EXPECT_EQ(doc_.history().entries().back().query, "second");
}

TEST_F(DocTest, HistoryItemRestoresControlsKeepsModeAndPostsTheSearch) {
  Search("old");
  Search("new");
  doc_.OnCommand(kCmdModeNatural);
  const struct {
    int id;
    std::string expected_query;  // "" = ignored
  } cases[] = {{32900, "new"}, {32901, "old"}, {32902, ""}, {32924, ""}};
  for (const auto& c : cases) {
    frame_.query = "typed";
    frame_.posted.clear();
    EXPECT_TRUE(doc_.OnCommand(c.id));
    if (c.expected_query.empty()) {
      EXPECT_EQ(frame_.query, "typed") << c.id;
      EXPECT_TRUE(frame_.posted.empty()) << c.id;
    } else {
      EXPECT_EQ(frame_.query, c.expected_query) << c.id;
      EXPECT_EQ(frame_.posted, std::vector<int>{kCmdSearch}) << c.id;
    }
    EXPECT_EQ(doc_.switches().query_mode, 1);
  }
}

TEST_F(DocTest, PageButtonsMoveByExactIdAndAlwaysRedraw) {
  const struct {
    const char* id;
    int record;
  } cases[] = {{"B2", 6}, {"B1", 4}, {"B3", 15}, {"B0", 0}, {"B1x", 5}, {"xB2", 5}, {"", 5}};
  engine_.SetResults([](const std::string&, const std::string&, const std::string&, QueryMode) {
    return std::make_unique<FixedResults>(50);
  });
  for (const auto& c : cases) {
    Search("x");
    for (int i = 0; i < 5; ++i) doc_.MoveRecordCursor(CursorMove::kNextRecord);
    int updates = tree_.updates;
    doc_.OnPageButtonClick(c.id);
    EXPECT_EQ(doc_.cursor().record_index(), c.record) << c.id;
    EXPECT_EQ(tree_.updates, updates + 1) << c.id;
  }
}

TEST_F(DocTest, DesktopCommandsOpenHelpSiteAndHookButtons) {
  EXPECT_TRUE(doc_.OnCommand(kCmdHelp));
  EXPECT_EQ(platform_.titled,
            std::vector<std::string>{"/opt/tomeva/bin/tomeva-help /inst/./Tomeva.htm"});
  EXPECT_TRUE(doc_.OnCommand(kCmdPublisherSite));
  EXPECT_EQ(platform_.urls.size(), 1u);
  EXPECT_TRUE(State(kCmdPublisherSite).enabled);
  EXPECT_TRUE(doc_.OnCommand(kCmdHookPageButtons));
  EXPECT_EQ(html_.hooks, 1);
}

TEST_F(DocTest, FrameCommandsAreLeftToTheFrame) {
  const int ids[] = {kCmdExit,          kCmdAbout,       kCmdPrint, kCmdPrintSetup, kCmdViewToolbar,
                     kCmdViewStatusBar, kCmdFieldButton, 12345};
  for (int id : ids) {
    CommandState state{false, true};
    EXPECT_FALSE(doc_.OnCommand(id)) << id;
    EXPECT_FALSE(doc_.OnUpdateCommand(id, &state)) << id;
    EXPECT_FALSE(state.enabled) << id;  // untouched
  }
}

TEST_F(DocTest, HomeLeavesSearchModeAndShowsTheStartPage) {
  EXPECT_FALSE(State(kCmdHome).enabled);
  Search("x");
  ASSERT_TRUE(State(kCmdHome).enabled);
  html_.navigated.clear();
  doc_.OnCommand(kCmdHome);
  EXPECT_FALSE(doc_.switches().search_mode);
  EXPECT_EQ(html_.navigated, std::vector<std::string>{"/inst/./EBook/home.htm"});
}

// A search whose index could not be opened shows which index and that browsing still works, never
// the page for a search without hits; a search that ran and found nothing still gets that page,
// with the query shown as typed.
TEST(DocSearchFailureTest, ADamagedIndexIsNotTakenForNoHits) {
  TempDir dir;
  WriteScrambledGbk(dir / "EBook/bookconfig.xml",
                    "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"
                    "<book dir=\"10\" category=\"3\" name=\"唐诗\"/>\r\n"
                    "<book dir=\"11\" category=\"4\" name=\"宋词\"/>\r\n</books>");
  SearchFailure damaged;
  damaged.failed = true;
  damaged.index_path = "/inst/SearchDB";
  damaged.reason = "DatabaseCorruptError: bad block";
  const std::string query = "<i>abc</i>";
  const struct {
    const char* name;
    bool books;  // restricted to the two books
    SearchFailure failure;
    std::string page;
  } cases[] = {
      {"damaged, all books", false, damaged,
       IndexFailurePage("/inst/SearchDB", "DatabaseCorruptError: bad block")},
      {"damaged, by book", true, damaged,
       IndexFailurePage("/inst/SearchDB", "DatabaseCorruptError: bad block")},
      {"sound, no hits", false, {}, NoResultPage(false, query)},
      {"sound, no hits by book", true, {}, NoResultPage(false, query)},
  };
  for (const auto& c : cases) {
    Settings settings;
    settings.ebook_dir = dir / "EBook";
    CTomevaDoc doc(settings);
    FakeEngine engine;
    doc.AttachEngine(&engine);
    FakeHtmlView html;
    FakeTreeView tree;
    FakeFrame frame;
    doc.AttachHtmlView(&html);
    doc.AttachTreeView(&tree);
    doc.AttachFrame(&frame);
    int searches = 0;
    engine.SetResults(
        [&](const std::string&, const std::string&, const std::string&, QueryMode) {
          ++searches;
          return std::make_unique<FixedResults>(0, c.failure);
        });
    if (doc.switches().book_search != c.books) doc.OnCommand(kCmdBookSearch);
    tree.checks[0] = tree.checks[1] = true;
    frame.query = query;
    doc.OnCommand(kCmdSearch);
    EXPECT_EQ(searches, c.books ? 2 : 1) << c.name;
    ASSERT_FALSE(html.shown.empty()) << c.name;
    EXPECT_EQ(html.shown.back(), c.page) << c.name;
    // The page takes what was typed as text (the search failure page does not repeat it).
    EXPECT_EQ(html.shown.back().find("<i>"), std::string::npos) << c.name;
    if (!c.failure.failed) {
      EXPECT_NE(html.shown.back().find("&lt;i&gt;abc&lt;/i&gt;"), std::string::npos) << c.name;
    }
  }
}

// What is wrong with the catalogue is handed out once for the start to tell the user: the books
// left out beyond the table, or which catalogue file did not load.
TEST(DocStartNoticeTest, CatalogueTroubleIsNoticedOnce) {
  auto books = [](int n) {
    std::string text = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n";
    for (int i = 1; i <= n; ++i) {
      text += "<book dir=\"" + std::to_string(100 + i) + "\" category=\"" + std::to_string(i) +
              "\" name=\"书" + std::to_string(i) + "\"/>\r\n";
    }
    return text + "</books>";
  };
  const struct {
    const char* name;
    std::function<void(const std::string& library)> make;
    bool overflow;    // the notice is the catalogue's overflow message
    bool not_loaded;  // the notice names the catalogue file
  } cases[] = {
      {"52 books",
       [&](const std::string& l) { WriteScrambledGbk(l + "/bookconfig.xml", books(52)); }, true,
       false},
      {"49 books",
       [&](const std::string& l) { WriteScrambledGbk(l + "/bookconfig.xml", books(49)); }, false,
       false},
      {"no catalogue", [](const std::string& l) { MakeDirectories(l); }, false, true},
      {"catalogue not scrambled",
       [&](const std::string& l) { WriteGbk(l + "/bookconfig.xml", books(3)); }, false, true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    c.make(dir / "EBook");
    Settings settings;
    settings.ebook_dir = dir / "EBook";
    CTomevaDoc doc(settings);
    std::vector<std::string> expected;
    if (c.overflow) {
      ASSERT_FALSE(doc.catalogue().OverflowMessage().empty()) << c.name;
      expected.push_back(doc.catalogue().OverflowMessage());
    }
    if (c.not_loaded) {
      expected.push_back(Utf8ToGbk("无法读取书目文件“" + (dir / "EBook/bookconfig.xml") +
                                   "”（文件缺失或已损坏），书库目录无法显示，也不能按类别查询。\n"
                                   "关掉“分类”后仍可在全部书中检索。"));
    }
    EXPECT_EQ(doc.TakeStartNotices(), expected) << c.name;
    EXPECT_TRUE(doc.TakeStartNotices().empty()) << c.name;
  }
}

// A record chosen in the tree whose file is missing or broken gets a page naming the file, not an
// empty table that reads as an empty record; a sound record beside it still shows its fields.
TEST(DocRecordFileTest, MissingOrBrokenRecordFileIsNamedInItsPage) {
  TempDir dir;
  const std::string lib = dir / "EBook";
  WriteScrambledGbk(lib + "/bookconfig.xml",
                    "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"
                    "<book dir=\"10\" category=\"3\" name=\"唐诗\"/>\r\n"
                    "<Xml2HtmlTags category=\"3\" xml_tag=\"FdName\" html_tag=\"题名\"/>\r\n"
                    "</books>");
  WriteGbk(lib + "/10/chapter.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book>\r\n"
           "<record title=\"好\">book_1.xml</record>\r\n"
           "<record title=\"缺\">book_2.xml</record>\r\n"
           "<record title=\"坏\">book_3.xml</record>\r\n"
           "<record title=\"空\">book_4.xml</record>\r\n</book>");
  WriteGbk(
      lib + "/10/book_1.xml",
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<record><FdName>静夜思</FdName></record>");
  WriteGbk(lib + "/10/book_3.xml", "<?xml version=\"1.0\"?>\r\n<record><FdName>静夜");
  WriteGbk(lib + "/10/book_4.xml", "");
  Settings settings;
  settings.ebook_dir = lib;
  CTomevaDoc doc(settings);
  FakeHtmlView html;
  FakeTreeView tree;
  doc.AttachHtmlView(&html);
  doc.AttachTreeView(&tree);
  doc.UpdateAllViews();

  const struct {
    const char* label;
    std::string page;  // "" = the record's own table
  } cases[] = {
      {"好", ""},
      {"缺", RecordFileProblemPage(RecordFileProblem::kMissing, lib + "/10/book_2.xml")},
      {"坏", RecordFileProblemPage(RecordFileProblem::kBroken, lib + "/10/book_3.xml")},
      {"空", RecordFileProblemPage(RecordFileProblem::kBroken, lib + "/10/book_4.xml")},
  };
  for (const auto& c : cases) {
    int item = -1;
    for (size_t i = 0; i < tree.items.size(); ++i) {
      if (GbkToUtf8(tree.items[i].label) == c.label) item = static_cast<int>(i);
    }
    ASSERT_GE(item, 0) << c.label;
    html.shown.clear();
    doc.OnTreeSelectionChanged(item, tree.items[item].data);
    ASSERT_EQ(html.shown.size(), 1u) << c.label;
    if (c.page.empty()) {
      EXPECT_NE(GbkToUtf8(html.shown[0]).find("静夜思"), std::string::npos) << c.label;
    } else {
      EXPECT_EQ(html.shown[0], c.page) << c.label;
    }
  }
}

// Results whose every hit is the record `xml` of category 3.
class RecordResults : public SearchResults {
 public:
  explicit RecordResults(std::string xml) : xml_(std::move(xml)) {}
  int GetTotalCount() const override { return 3; }
  SearchHit GetHit(int) override { return {xml_, 3}; }
  const std::vector<std::string>& keywords() const override { return keywords_; }

 private:
  std::string xml_;
  std::vector<std::string> keywords_;
};

// A hit's page: a generated one starts at the top, a page file that exists is loaded, and one that
// is missing is named on a page of its own (without the part after "#"), in both modes.
TEST(DocRecordPageTest, MissingPageFileIsNamedAndGeneratedHitsStartAtTheTop) {
  TempDir dir;
  const std::string lib = dir / "EBook";
  WriteScrambledGbk(lib + "/bookconfig.xml",
                    "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"
                    "<book dir=\"10\" category=\"3\" name=\"唐诗\"/>\r\n</books>");
  WriteGbk(lib + "/10/chapter.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book>\r\n"
           "<record title=\"表\">book_1.xml</record>\r\n"
           "<record title=\"有页\">book_2.xml</record>\r\n"
           "<record title=\"缺页\">book_3.xml</record>\r\n</book>");
  WriteGbk(lib + "/10/page.htm", "<html><body>页</body></html>");
  const std::string head = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<record>";
  const struct {
    const char* label;
    std::string record;
    bool generated;
    bool missing;
  } cases[] = {
      {"表", head + "<FdCat>3</FdCat><FdName>静夜思</FdName></record>", true, false},
      {"有页", head + "<FdCat>3</FdCat><FdHtmlFile>page.htm</FdHtmlFile></record>", false, false},
      {"缺页", head + "<FdCat>3</FdCat><FdHtmlFile>gone.htm#s2</FdHtmlFile></record>", true, true},
  };
  for (int i = 0; i < 3; ++i) {
    WriteGbk(lib + "/10/book_" + std::to_string(i + 1) + ".xml", cases[i].record);
  }
  for (bool search : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.label) + (search ? " (search)" : " (library)"));
      Settings settings;
      settings.ebook_dir = lib;
      CTomevaDoc doc(settings);
      FakeEngine engine;
      doc.AttachEngine(&engine);
      FakeHtmlView html;
      FakeTreeView tree;
      FakeFrame frame;
      doc.AttachHtmlView(&html);
      doc.AttachTreeView(&tree);
      doc.AttachFrame(&frame);
      doc.UpdateAllViews();
      html = FakeHtmlView();
      if (search) {
        engine.SetResults([&](const std::string&, const std::string&, const std::string&,
                                  QueryMode) { return std::make_unique<RecordResults>(
                                                   Utf8ToGbk(c.record)); });
        if (doc.switches().book_search) doc.OnCommand(kCmdBookSearch);
        frame.query = "x";
        doc.OnCommand(kCmdSearch);
        html.shown.erase(html.shown.begin());  // "检索中…"
      } else {
        const TreeItemList& items = doc.browse().library.items;
        int item = -1;
        for (size_t i = 0; i < items.size(); ++i) {
          if (GbkToUtf8(items[i].label) == c.label) item = static_cast<int>(i);
        }
        ASSERT_GE(item, 0);
        doc.OnTreeSelectionChanged(item, items[item].data);
      }
      ASSERT_EQ(html.shown.size(), c.generated ? 1u : 0u);
      EXPECT_EQ(html.navigated.size(), c.generated ? 0u : 1u);
      if (c.generated) {
        EXPECT_EQ(html.scrolls_to_top, 1);
      } else {
        EXPECT_EQ(html.navigated[0], lib + "/10/page.htm");
      }
      if (c.missing) {
        const std::string page = GbkToUtf8(html.shown[0]);
        EXPECT_NE(page.find("gone.htm”不存在"), std::string::npos) << page;
      }
    }
  }
}

// Results that read the query. The page shows the hit's number, "1. ", and the test's engine
// folds "1" as "x": the page holds the form "1" of "x".
class ReadResults : public SearchResults {
 public:
  int GetTotalCount() const override { return 2; }
  SearchHit GetHit(int) override { return {"<record><FdName>x y</FdName></record>", 3}; }
  const std::vector<std::string>& keywords() const override { return keywords_; }
  const QueryReading& reading() const override { return reading_; }

  std::vector<std::string> keywords_ = {"x", "y"};
  QueryReading reading_;
};

// Each keyword is painted in every form the page holds, in its own colour; the typed run last,
// in the first keyword's colour; the status bar tells how the query was read, on one line. The
// page is folded once for all the words (and each word once).
TEST_F(DocTest, EveryFormIsPaintedAndTheReadingShown) {
  engine_.folds = {{'1', 'x'}};
  for (const std::string run : {"", "x y"}) {
    SCOPED_TRACE(run);
    engine_.SetResults([&](const std::string&, const std::string&, const std::string&,
                           QueryMode) {
      auto results = std::make_unique<ReadResults>();
      results->reading_.text = "line one\nline two\n";
      results->reading_.typed_run = run;
      return results;
    });
    html_.marks.clear();
    frame_.statuses.clear();
    engine_.fold_calls = 0;
    Search("x y");
    std::vector<std::string> want = {std::string("y@") + kKeywordColours[1],
                                     std::string("x@") + kKeywordColours[0],
                                     std::string("1@") + kKeywordColours[0]};
    if (!run.empty()) want.push_back(run + "@" + kKeywordColours[0]);
    EXPECT_EQ(engine_.fold_calls, run.empty() ? 3 : 4);
    EXPECT_EQ(html_.marks, want);
    EXPECT_EQ(frame_.statuses, std::vector<std::string>{"line one  line two"});
  }
}

// A search restricted to books with none checked does not run, and says so.
TEST_F(DocTest, SearchInNoBookSaysToCheckOne) {
  engine_.SetResults([](const std::string&, const std::string&, const std::string&, QueryMode) {
    return std::make_unique<FixedResults>(5);
  });
  if (!doc_.switches().book_search) doc_.OnCommand(kCmdBookSearch);
  for (int i = 0; i < kBookPlaces; ++i) tree_.SetBookCheck(i, false);
  frame_.query = "x";
  doc_.OnCommand(kCmdSearch);
  EXPECT_FALSE(doc_.switches().search_mode);
  EXPECT_EQ(tree_.messages, std::vector<std::string>{Text(kTextSelectBooksFirst)});
}

// The exit command runs in the `path` folder, shown, waited for at most 100 seconds; a `path`
// naming a missing folder does not keep it from running (in the current folder), and without
// a command nothing runs.
TEST(DocExitTest, ExitCommandIsWaitedForShownForAtMost100Seconds) {
  TempDir dir;
  const std::string folder = dir / "inst";
  ASSERT_TRUE(MakeDirectories(folder));
  const struct {
    const char* command;
    std::string path;     // the `path` setting
    size_t waits;
    std::string run_in;   // the folder handed to Wait
  } cases[] = {
      {"end.sh --fade", folder, 1, folder},
      {"end.sh --fade", dir / "gone", 1, ""},
      {"end.sh --fade", "", 1, ""},
      {"", folder, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " in " + c.path);
    FakePlatform platform;
    {
      Settings s;
      s.exit_command = c.command;
      s.exit_dir = c.path;
      CTomevaDoc doc(s);
      doc.AttachPlatform(&platform);
    }
    ASSERT_EQ(platform.waits.size(), c.waits);
    EXPECT_TRUE(platform.commands.empty());
    if (c.waits == 0) continue;
    EXPECT_EQ(platform.waits[0].command_line, c.command);
    EXPECT_EQ(platform.waits[0].show, 1);
    EXPECT_EQ(platform.waits[0].timeout_seconds, 100u);
    EXPECT_EQ(platform.waits[0].dir, c.run_in);
  }
}

// A book package's pages, records and links lead only to files of the library: a table of
// contents or record naming /etc/passwd shows the start page or says the page cannot be shown,
// and the view is never let through to a file outside.
TEST(DocOutsideFilesTest, PagesAndLinksOutsideTheLibraryAreRefused) {
  TempDir dir;
  const std::string lib = dir / "EBook";
  WriteScrambledGbk(lib + "/bookconfig.xml",
                    "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n"
                    "<book dir=\"10\" category=\"3\" name=\"唐诗\"/>\r\n</books>");
  WriteGbk(
      lib + "/10/chapter.xml",
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<book>\r\n"
      "<dir name=\"越界\" htm=\"../../../../../../../../etc/passwd\">"
      "<record title=\"甲\">book_2.xml</record></dir>\r\n"
      "<dir name=\"链接\" htm=\"etc/passwd\"><record title=\"乙\">book_2.xml</record></dir>\r\n"
      "<record title=\"越界页\">book_1.xml</record>\r\n"
      "<record title=\"外记录\">../../outside/book_9.xml</record>\r\n</book>");
  WriteGbk(lib + "/10/book_1.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<record><FdCat>3</FdCat>"
           "<FdHtmlFile>..\\..\\..\\..\\..\\..\\..\\..\\etc\\passwd</FdHtmlFile></record>");
  WriteGbk(lib + "/10/page.htm", "<html><body>页</body></html>");
  WriteGbk(lib + "/home.htm", "<html><body>首页</body></html>");
  WriteGbk(dir / "outside/book_9.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<record><FdName>外</FdName></record>");
  ASSERT_EQ(::symlink("/etc", (lib + "/10/etc").c_str()), 0);
  MakeDirectories(dir / "app");
  Settings settings;
  settings.app_dir = dir / "app/";
  settings.ebook_dir = lib;
  CTomevaDoc doc(settings);
  FakeEngine engine;
  doc.AttachEngine(&engine);
  FakeHtmlView html;
  FakeTreeView tree;
  FakeFrame frame;
  doc.AttachHtmlView(&html);
  doc.AttachTreeView(&tree);
  doc.AttachFrame(&frame);
  doc.UpdateAllViews();

  auto select = [&](const char* label) {
    for (size_t i = 0; i < tree.items.size(); ++i) {
      if (GbkToUtf8(tree.items[i].label) == label) {
        html = FakeHtmlView();
        doc.OnTreeSelectionChanged(static_cast<int>(i), tree.items[i].data);
        return;
      }
    }
    FAIL() << label;
  };
  for (const char* node : {"越界", "链接"}) {
    SCOPED_TRACE(node);
    select(node);
    EXPECT_EQ(html.navigated, std::vector<std::string>{lib + "/home.htm"});
  }
  select("越界页");
  EXPECT_TRUE(html.navigated.empty());
  ASSERT_EQ(html.shown.size(), 1u);
  EXPECT_NE(GbkToUtf8(html.shown[0]).find("不存在"), std::string::npos);
  // A record file named outside the book is not read: the page names it as missing.
  select("外记录");
  ASSERT_EQ(html.shown.size(), 1u);
  EXPECT_NE(GbkToUtf8(html.shown[0]).find("不存在"), std::string::npos);

  const struct {
    std::string location;
    bool go;
  } cases[] = {
      {lib + "/10/page.htm", true},
      {lib + "/home.htm", true},
      {dir / "app/publisher.htm", true},
      {"http://example.com/x.htm", true},  // the view's to route
      {"HTTPS://example.com/", true},
      {"/etc/passwd", false},
      {lib + "/../outside/book_9.xml", false},
      {lib + "/10/../../outside/x.htm", false},
      {lib + "/10/etc/passwd", false},
      {"file:///etc/passwd", false},
      {"data:text/html,<script>alert(1)</script>", false},
      {"javascript:alert(1)", false},
      {"ws://127.0.0.1:9/", false},
      {"page.htm", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(doc.OnBeforeNavigate(c.location), c.go) << c.location;
    EXPECT_EQ(doc.IsLibraryLocation(c.location), c.go && c.location[0] == '/') << c.location;
  }
  // A record link to a record file outside the library is not read, even in search mode.
  engine.SetResults([&](const std::string&, const std::string&, const std::string&, QueryMode) {
    return std::make_unique<FixedResults>(1);
  });
  if (doc.switches().book_search) doc.OnCommand(kCmdBookSearch);
  frame.query = "x";
  doc.OnCommand(kCmdSearch);
  EXPECT_FALSE(doc.OnBeforeNavigate(dir / "outside/book_9.xml"));
  EXPECT_EQ(doc.browse().current_record_text, "");
}

// The System.xml user name and password reach only the full-text server, and only when the
// program opens the link itself.
TEST(DocOutsideFilesTest, OpenedFullTextLinksGetTheCredentials) {
  CTomevaDoc doc{Settings()};
  doc.set_link_settings({"https://ft.example/get?lib=1", "&doc=", "ann", "pw"});
  EXPECT_EQ(doc.OpenedAddress("https://ft.example/get?lib=1&doc=7"),
            "https://ft.example/get?lib=1&username=ann&password=pw&doc=7");
  EXPECT_EQ(doc.OpenedAddress("https://other.example/get?lib=1&doc=7"),
            "https://other.example/get?lib=1&doc=7");
}

}  // namespace
}  // namespace tomeva
