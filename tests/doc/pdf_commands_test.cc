#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "base/texts.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "fakes.h"
#include "support/fake_engine.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::FakeFrame;
using testing::FakeHtmlView;
using testing::FakePlatform;
using testing::FakeTreeView;
using testing::TempDir;
using testing::WriteGbk;
using testing::WriteScrambledGbk;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n";

class RecordResults : public SearchResults {
 public:
  RecordResults(int total, std::string xml) : total_(total), xml_(std::move(xml)) {}
  int GetTotalCount() const override { return total_; }
  SearchHit GetHit(int) override { return {xml_, 7}; }
  const std::vector<std::string>& keywords() const override { return keywords_; }

 private:
  int total_;
  std::string xml_;
  std::vector<std::string> keywords_ = {Utf8ToGbk("中国"), Utf8ToGbk("人民")};
};

// One book "唐" in the application folder (which is also the library folder): its table of
// contents gives the section 卷一 a PDF (with its text copy) and the section 卷二 none.
class PdfCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteScrambledGbk(dir_ / "bookconfig.xml",
                      std::string(kDeclaration) +
                          "<books><book name=\"唐\" dir=\"tang\" category=\"7\"/></books>");
    WriteGbk(dir_ / "tang/chapter.xml",
             std::string(kDeclaration) +
                 "<book><dir name=\"卷一\" pdf=\"j1.pdf\"><record title=\"静夜思\">book_1.xml"
                 "</record></dir><dir name=\"卷二\"><record title=\"春晓\">book_2.xml</record>"
                 "</dir><dir name=\"卷三\" htm=\"j1.pdf\"><record title=\"登高\">book_3.xml"
                 "</record></dir></book>");
    ReplaceFileAtomically(dir_ / "tang/book_1.xml", record_);
    WriteGbk(dir_ / "tang/j1.pdf", "%PDF");
    WriteGbk(dir_ / "tang/j1.txt", "中国和人民");
    WriteGbk(dir_ / "viewer", "");
  }

  std::unique_ptr<CTomevaDoc> MakeDoc(bool viewer) {
    Settings settings;
    settings.app_dir = dir_.path() + "/";
    settings.ebook_dir = dir_.path();
    settings.pdf_viewer_path = viewer ? dir_ / "viewer" : "";
    auto doc = std::make_unique<CTomevaDoc>(settings);
    doc->AttachHtmlView(&html_);
    doc->AttachTreeView(&tree_);
    doc->AttachHighlighter(&highlighter_);
    doc->AttachEngine(&engine_);
    doc->UpdateAllViews();
    return doc;
  }

  // Selects the library item labelled `label` (UTF-8).
  void Select(CTomevaDoc& doc, const std::string& label) {
    const TreeItemList& items = doc.browse().library.items;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].label == Utf8ToGbk(label)) {
        return doc.OnTreeSelectionChanged(static_cast<int>(i), items[i].data);
      }
    }
    FAIL() << "no item " << label;
  }

  // What the document and the highlighter told the user, in that order; emptied.
  std::vector<std::string> Told() {
    std::vector<std::string> told;
    for (const std::string& m : tree_.messages) told.push_back(GbkToUtf8(m));
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& m : highlighter_told_) told.push_back(GbkToUtf8(m));
    highlighter_told_.clear();
    tree_.messages.clear();
    return told;
  }

  const std::string record_ = Utf8ToGbk(std::string(kDeclaration) +
                                        "<record><FdCat>7</FdCat><FdName>静夜思</FdName></record>");
  TempDir dir_;
  FakeHtmlView html_;
  FakeTreeView tree_;
  FakePlatform platform_;
  testing::FakeEngine engine_;
  std::mutex mutex_;
  std::vector<std::string> highlighter_told_;
  PdfHighlighter highlighter_{&platform_, nullptr, [this](const std::string& message) {
                                std::lock_guard<std::mutex> lock(mutex_);
                                highlighter_told_.push_back(message);
                              }};
};

TEST_F(PdfCommandTest, LibraryModeOpensTheNodesPdfOrSaysWhyNot) {
  const std::string no_pdf = TextUtf8(kTextNoPdf);
  struct Case {
    const char* name;
    bool viewer;
    const char* select;  // "" = nothing selected
    bool from_pager;
    std::string opened;  // under the folder, "" = nothing navigated to
    std::vector<std::string> told;
  } cases[] = {
      {"no viewer: the command does nothing", false, "卷一", false, "", {}},
      {"section with a PDF", true, "卷一", false, "tang/j1.pdf", {}},
      {"pager without a viewer",
       false,
       "卷一",
       true,
       "tang/j1.pdf",
       {TextUtf8(kTextViewerMissing)}},
      {"section without one", true, "卷二", false, "", {no_pdf}},
      {"nothing selected", true, "", false, "", {TextUtf8(kTextSelectNodeFirst)}},
      {"pager, nothing selected", true, "", true, "", {TextUtf8(kTextSelectBookFirst)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    html_ = FakeHtmlView();
    auto doc = MakeDoc(c.viewer);
    if (*c.select != '\0') Select(*doc, c.select);
    html_.navigated.clear();  // the selection's own page
    if (c.from_pager) {
      doc->OnShowPdf(true);
    } else {
      EXPECT_TRUE(doc->OnCommand(kCmdPdf));
    }
    EXPECT_EQ(Told(), c.told);
    if (c.opened.empty()) {
      EXPECT_TRUE(html_.navigated.empty());
    } else {
      EXPECT_EQ(html_.navigated, std::vector<std::string>{dir_ / c.opened});
      EXPECT_TRUE(html_.pdf);
      EXPECT_EQ(doc->browse().current_pdf_path, dir_ / c.opened);
    }
  }
  highlighter_.WaitForWorkers();
  EXPECT_TRUE(platform_.executes.empty());  // the library has no words to mark
}

TEST_F(PdfCommandTest, SearchModeOpensTheHitsPdfWithItsWords) {
  struct Case {
    const char* name;
    int hits;
    std::string xml;
    bool select;
    bool from_pager;
    bool opened;
    std::vector<std::string> told;
    bool tree = true;  // the hit list was shown by the search, and selected the cursor's hit
  } cases[] = {
      {"the hit's PDF, words marked", 3, record_, true, false, true, {}},
      {"the hit the list selected after the search", 3, record_, false, false, true, {}},
      {"no hits", 0, record_, true, false, false, {}},
      {"nothing selected",
       3,
       record_,
       false,
       false,
       false,
       {TextUtf8(kTextSelectRecordFirst)},
       false},
      {"pager, nothing selected", 3, record_, false, true, true, {}, false},
      {"record does not parse", 3, "<record>", true, false, false, {}},
      {"pager, record does not parse", 3, "<record>", true, true, false, {TextUtf8(kTextNoPdf)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    html_ = FakeHtmlView();
    platform_.executes.clear();
    FakeFrame frame;
    frame.query = "x";
    auto doc = MakeDoc(true);
    doc->AttachFrame(&frame);
    if (!c.tree) doc->AttachTreeView(nullptr);
    engine_.SetResults(
        [&](const std::string&, const std::string&, const std::string&, QueryMode) {
          return std::make_unique<RecordResults>(c.hits, c.xml);
        });
    if (doc->switches().book_search) doc->OnCommand(kCmdBookSearch);
    doc->OnCommand(kCmdSearch);
    ASSERT_TRUE(doc->switches().search_mode);
    if (c.select) doc->OnTreeSelectionChanged(1, 1);
    // The tree comes back only for the message: it showed no hit list, so nothing is selected.
    if (!c.tree) doc->AttachTreeView(&tree_);
    html_.navigated.clear();
    if (c.from_pager) {
      doc->OnShowPdf(true);
    } else {
      doc->OnCommand(kCmdPdf);
    }
    highlighter_.WaitForWorkers();
    EXPECT_EQ(Told(), c.told);
    EXPECT_EQ(html_.navigated.size(), c.opened ? 1u : 0u);
    ASSERT_EQ(platform_.executes.size(), c.opened ? 1u : 0u);
    if (c.opened) {
      EXPECT_EQ(html_.navigated[0], dir_ / "tang/j1.pdf");
      // 中国 and 人民: four double-byte characters, eight values.
      EXPECT_EQ(platform_.executes[0].data.size(), 4u + 4 * 8);
    }
  }
}

TEST_F(PdfCommandTest, GoingBackToThePdfMarksItsWordsAgain) {
  FakeFrame frame;
  frame.query = "x";
  auto doc = MakeDoc(true);
  doc->AttachFrame(&frame);
  engine_.SetResults([&](const std::string&, const std::string&, const std::string&,
                             QueryMode) { return std::make_unique<RecordResults>(3, record_); });
  if (doc->switches().book_search) doc->OnCommand(kCmdBookSearch);
  doc->OnCommand(kCmdSearch);
  doc->OnTreeSelectionChanged(1, 1);
  doc->OnCommand(kCmdPdf);
  const std::string pdf = dir_ / "tang/j1.pdf";
  // What the view reports: the PDF loads, then a link inside it is followed.
  ASSERT_TRUE(doc->OnBeforeNavigate(pdf));
  ASSERT_TRUE(doc->OnBeforeNavigate(dir_ / "elsewhere.htm"));
  html_.navigated.clear();
  doc->OnCommand(kCmdBack);
  highlighter_.WaitForWorkers();
  EXPECT_EQ(html_.navigated, std::vector<std::string>{pdf});
  ASSERT_EQ(platform_.executes.size(), 2u);
  EXPECT_EQ(platform_.executes[1].data, platform_.executes[0].data);
}

// A hit whose page is a PDF is opened like the PDF command's: the hit's words are sent, the PDF
// is the one the document keeps, and the next hit's page is not put into the viewer page: the
// view goes to the start page first and the record follows once that has loaded.
TEST_F(PdfCommandTest, HitWhosePageIsAPdfMarksItsWordsAndLeavesTheNextPageWhole) {
  const std::string pdf_record =
      Utf8ToGbk(std::string(kDeclaration) +
                "<record><FdCat>7</FdCat><FdName>静夜思</FdName><FdHtmlFile>j1.pdf</FdHtmlFile>"
                "</record>");
  const std::string pdf = dir_ / "tang/j1.pdf";
  struct Case {
    const char* name;
    bool viewer;
    size_t sent;
    std::vector<std::string> told;
  } cases[] = {
      // 中国 and 人民: four double-byte characters, eight values.
      {"with the viewer: the words are sent", true, 4 + 4 * 8, {}},
      {"without: the user is told", false, 0, {TextUtf8(kTextViewerMissing)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    html_ = FakeHtmlView();
    platform_.executes.clear();
    FakeFrame frame;
    frame.query = "x";
    auto doc = MakeDoc(c.viewer);
    doc->AttachFrame(&frame);
    engine_.SetResults(
        [&](const std::string&, const std::string&, const std::string&, QueryMode) {
          return std::make_unique<RecordResults>(2, pdf_record);
        });
    if (doc->switches().book_search) doc->OnCommand(kCmdBookSearch);
    html_.navigated.clear();
    doc->OnCommand(kCmdSearch);
    highlighter_.WaitForWorkers();
    EXPECT_EQ(html_.navigated, std::vector<std::string>{pdf});
    EXPECT_EQ(Told(), c.told);
    EXPECT_TRUE(html_.marks.empty());  // nothing painted into the viewer page
    EXPECT_TRUE(html_.pdf);
    EXPECT_EQ(doc->browse().current_pdf_path, pdf);
    if (c.sent == 0) {
      EXPECT_TRUE(platform_.executes.empty());
    } else {
      ASSERT_EQ(platform_.executes.size(), 1u);
      EXPECT_EQ(platform_.executes[0].data.size(), c.sent);
    }

    // The next hit: the start page first, nothing shown or painted into the viewer page.
    html_.navigated.clear();
    html_.shown.clear();
    ASSERT_TRUE(doc->MoveRecordCursor(CursorMove::kNextRecord));
    EXPECT_EQ(html_.navigated, std::vector<std::string>{dir_ / "home.htm"});
    EXPECT_TRUE(html_.shown.empty());
    EXPECT_TRUE(html_.render_after_load);
    EXPECT_FALSE(html_.pdf);
  }
}

// Going back to a library page that is a PDF (a section whose page is one) starts the
// highlighter again, as going back to a followed link to a PDF does; the library has no words,
// so without a viewer the user is told that one is needed, and nothing is sent with one.
TEST_F(PdfCommandTest, GoingBackToALibraryPageThatIsAPdfStartsItsHighlight) {
  const std::string pdf = dir_ / "tang/j1.pdf";
  for (bool viewer : {false, true}) {
    SCOPED_TRACE(viewer);
    html_ = FakeHtmlView();
    platform_.executes.clear();
    auto doc = MakeDoc(viewer);
    html_.navigated.clear();
    Select(*doc, "卷三");
    EXPECT_EQ(html_.navigated, std::vector<std::string>{pdf});
    EXPECT_TRUE(html_.pdf);
    EXPECT_EQ(Told(), std::vector<std::string>{});
    // What the view reports: the PDF loads, then a link inside it is followed.
    ASSERT_TRUE(doc->OnBeforeNavigate(pdf));
    ASSERT_TRUE(doc->OnBeforeNavigate(dir_ / "elsewhere.htm"));
    html_.pdf = false;
    html_.navigated.clear();
    doc->OnCommand(kCmdBack);
    highlighter_.WaitForWorkers();
    EXPECT_EQ(html_.navigated, std::vector<std::string>{pdf});
    EXPECT_TRUE(html_.pdf);
    EXPECT_EQ(Told(), viewer ? std::vector<std::string>{}
                             : std::vector<std::string>{TextUtf8(kTextViewerMissing)});
  }
  EXPECT_TRUE(platform_.executes.empty());
}

// A followed link to a PDF is shown in the viewer with the search's words, recorded once, and
// becomes the document's PDF; in the library it is shown without words.
TEST_F(PdfCommandTest, FollowedLinkToAPdfIsShownWithTheSearchsWords) {
  const std::string pdf = dir_ / "tang/j1.pdf";
  for (bool search : {true, false}) {
    SCOPED_TRACE(search);
    html_ = FakeHtmlView();
    platform_.executes.clear();
    FakeFrame frame;
    frame.query = "x";
    auto doc = MakeDoc(true);
    doc->AttachFrame(&frame);
    engine_.SetResults([&](const std::string&, const std::string&, const std::string&,
                               QueryMode) { return std::make_unique<RecordResults>(3, record_); });
    if (search) {
      if (doc->switches().book_search) doc->OnCommand(kCmdBookSearch);
      doc->OnCommand(kCmdSearch);
    } else {
      Select(*doc, "卷二");
    }
    ASSERT_TRUE(doc->OnBeforeNavigate(dir_ / "page.htm"));  // the shown page loads
    const int depth = doc->page_stack().size();
    ASSERT_TRUE(doc->OnBeforeNavigate(pdf));  // the user follows its link
    EXPECT_EQ(doc->page_stack().size(), depth + 1);
    html_.navigated.clear();
    doc->ShowLinkedPdf(pdf);
    ASSERT_TRUE(doc->OnBeforeNavigate(pdf));  // the viewer page loads for it: not recorded
    EXPECT_EQ(doc->page_stack().size(), depth + 1);
    highlighter_.WaitForWorkers();
    EXPECT_EQ(html_.navigated, std::vector<std::string>{pdf});
    EXPECT_TRUE(html_.pdf);
    EXPECT_EQ(doc->browse().current_pdf_path, pdf);
    EXPECT_EQ(platform_.executes.size(), search ? 1u : 0u);
  }
}

}  // namespace
}  // namespace tomeva
