// The generator's reading of the fortune files and its plan of the books, on small inputs.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/gbk.h"
#include "tools/make-sample-library/corpus.h"
#include "tools/make-sample-library/library_plan.h"

namespace tomeva::sample {
namespace {

std::string U(const std::string& gbk) { return GbkToUtf8(gbk); }

TEST(SplitFortuneEntries, DropsColourEscapesAndSplitsAtPercentLines) {
  std::vector<std::string> entries =
      SplitFortuneEntries("\x1b[32m《A》\x1b[m\n\x1b[33;1mB\x1b[m\nC\n%\nD\n%\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "《A》\nB\nC\n");
  EXPECT_EQ(entries[1], "D\n");
}

struct AnthologyCase {
  const char* name;
  const char* entry;
  bool ok;
  const char* title;
  const char* author;
  std::vector<std::string> lines;
};

TEST(ParseAnthologyEntry, TakesTitleAuthorAndBody) {
  const AnthologyCase cases[] = {
      {"tang",
       "《送别》\n作者：王维\n下马饮君酒，\n问君何所之。\n",
       true,
       "送别",
       "王维",
       {"下马饮君酒，", "问君何所之。"}},
      {"song with note, dates and stanzas",
       "题目:《春居杂兴》二首\n作者:王禹偁（９５４－１００１）\n\n   其一\n\n两株桃杏\n\n\n   "
       "其二\n春云\n\n",
       true,
       "春居杂兴二首",
       "王禹偁",
       {"其一", "", "两株桃杏", "", "其二", "春云"}},
      {"katakana middle dot becomes the GBK one",
       "《感遇・其一》\n作者：张九龄\n兰叶\n",
       true,
       "感遇·其一",
       "张九龄",
       {"兰叶"}},
      {"no title marks", "送别\n作者：王维\n下马\n", false, "", "", {}},
      {"no body", "《送别》\n作者：王维\n\n", false, "", "", {}},
  };
  for (const AnthologyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Poem poem;
    ASSERT_EQ(ParseAnthologyEntry(c.entry, &poem), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(U(poem.title), c.title);
    EXPECT_EQ(U(poem.author), c.author);
    std::vector<std::string> lines;
    for (const std::string& line : poem.lines) lines.push_back(U(line));
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(ParseClassicEntry, SplitsTheHeadingIntoPartGroupAndTitle) {
  const struct {
    const char* entry;
    bool ok;
    const char* part;
    const char* group;
    const char* title;
  } cases[] = {
      {"《詩經‧ 國風‧ 周南‧ 關雎》\n\n    關關雎鳩、在河之洲，\u3000\n", true, "國風", "周南",
       "關雎"},
      {"《詩經‧ 國風‧ 邶风‧ 柏舟》\n    汎彼柏舟\n", true, "國風", "邶", "柏舟"},
      {"《詩經‧ 商頌‧ 那》\n    猗與那與\n", true, "商頌", "", "那"},
      {"《詩經‧ 國風‧ 魏‧ 汾沮洳》\n\n《詩經‧    彼汾沮洳，言采其莫。》\n", true, "國風", "魏",
       "汾沮洳"},
      {"《水调》\n    一句\n", false, "", "", ""},
      {"《詩經‧ 國風‧ 周南‧ 關雎》\n\n", false, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    Poem poem;
    ASSERT_EQ(ParseClassicEntry(c.entry, &poem), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(U(poem.part), c.part);
    EXPECT_EQ(U(poem.group), c.group);
    EXPECT_EQ(U(poem.title), c.title);
    EXPECT_EQ(U(poem.author), "佚名");
    ASSERT_EQ(poem.lines.size(), 1u);
    // Trailing ideographic spaces and stray heading marks are trimmed.
    EXPECT_EQ(U(poem.lines[0]).find("\u3000"), std::string::npos);
    EXPECT_EQ(U(poem.lines[0]).find("《"), std::string::npos);
  }
}

TEST(CorpusTextToGbk, ReplacesOnlyWhatGbkCannotHold) {
  EXPECT_EQ(U(CorpusTextToGbk("詩經\u2027國風")), "詩經\u00B7國風");
  EXPECT_EQ(U(CorpusTextToGbk("山\U00021D53水")), "山\u25A1水");
  EXPECT_EQ(U(CorpusTextToGbk("床前明月光")), "床前明月光");
}

TEST(ChineseNumber, WritesNumeralsAsTheyAreRead) {
  const std::pair<int, const char*> cases[] = {
      {1, "一"},         {10, "十"},         {11, "十一"},       {20, "二十"},
      {101, "一百零一"}, {110, "一百一十"},  {1001, "一千零一"}, {10010, "一万零一十"},
      {0, "0"},          {100000, "100000"},
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(ChineseNumber(n), text) << n;
}

std::vector<Poem> SyntheticPoems(const std::vector<std::string>& authors) {
  std::vector<Poem> poems;
  for (size_t i = 0; i < authors.size(); ++i) {
    Poem poem;
    poem.title = Utf8ToGbk("题" + std::to_string(i));
    poem.author = Utf8ToGbk(authors[i]);
    poem.lines = {Utf8ToGbk("首句" + std::to_string(i)), "", Utf8ToGbk("长安末句")};
    poems.push_back(poem);
  }
  return poems;
}

TEST(PlanTangBook, ScalesByRepeatingPoemsUnderDistinctTitles) {
  std::vector<Poem> poems = SyntheticPoems({"甲", "甲", "李白", "乙", "乙", "丙", "丙"});
  BookPlan book = PlanTangBook(poems, 700, -1);
  ASSERT_EQ(book.records.size(), 700u);
  // A long whole-book PDF prints the repeated poems too, but never more records than there are.
  EXPECT_EQ(PlanTangBook(poems, 700, 600).whole_book_pdf_records, 600);
  EXPECT_EQ(PlanTangBook(poems, 500, 600).whole_book_pdf_records, 500);
  std::set<std::string> titles, files;
  for (const RecordPlan& r : book.records) {
    titles.insert(r.values[kTitle]);
    files.insert(r.file);
    EXPECT_EQ(r.values[kCategory], "3");
  }
  EXPECT_EQ(titles.size(), 700u);
  EXPECT_EQ(files.size(), 700u);
  EXPECT_EQ(book.records[0].file, "book_0001.xml");
  EXPECT_EQ(U(book.records[7].values[kTitle]), "题0（2）");
  EXPECT_EQ(book.whole_book_pdf_records, 7);
  // 18 volumes of at most 40; only the first 8 carry a PDF of their own.
  ASSERT_EQ(book.root.sections.size(), 18u);
  for (size_t v = 0; v < book.root.sections.size(); ++v) {
    const SectionPlan& volume = book.root.sections[v];
    EXPECT_FALSE(volume.htm.empty());
    EXPECT_EQ(volume.pdf.empty(), v >= 8) << v;
    // Poet sections of later volumes fall back on the volume's page.
    for (const SectionPlan& poet : volume.sections) EXPECT_EQ(poet.htm.empty(), v >= 8) << v;
  }
  // Every record is reachable once, in order, through the nested sections.
  std::vector<int> order = RecordsUnder(book.root);
  ASSERT_EQ(order.size(), 700u);
  for (int i = 0; i < 700; ++i) ASSERT_EQ(order[i], i);
  // Runs of one poet form one section: 甲 甲 | 李白 | 乙 乙 | 丙 丙 | 甲 ...
  EXPECT_EQ(book.root.sections[0].sections[0].records, (std::vector<int>{0, 1}));
  EXPECT_EQ(U(book.records[2].values[kLink]),
            "李白*$!_http://127.0.0.1:8321/poets/libai.htm*长安*a_changan.htm");
  EXPECT_EQ(U(book.records[0].values[kLink]), "长安*a_changan.htm");
  EXPECT_EQ(U(book.records[0].values[kContent]), "首句0\n\n长安末句");
  EXPECT_EQ(U(book.records[0].values[kKeywords]), "首句0");
}

TEST(PlanSongBook, GivesEveryTenthPoemItsOwnPdfAndSendsTheLastGroupHome) {
  BookPlan book = PlanSongBook(SyntheticPoems(std::vector<std::string>(25, "苏轼")));
  ASSERT_EQ(book.root.sections.size(), 3u);
  EXPECT_EQ(book.root.sections.back().htm, "Home.htm");
  EXPECT_EQ(book.root.sections.back().records.size(), 5u);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(book.records[i].own_pdf.empty(), i % 10 != 4) << i;
    EXPECT_EQ(book.records[i].values[kCategory], "13");
  }
  EXPECT_EQ(book.records[14].own_pdf, "pdf/poem_0015.pdf");
  EXPECT_EQ(book.records[0].values[kHtmlFile], "poem_0001.htm");
}

TEST(PlanOdesBook, UsesTheOlderFormatAndNestsDecadesUnderParts) {
  std::vector<Poem> classics;
  const char* headings[][3] = {{"國風", "周南", "關雎"},
                               {"小雅", "鹿鳴之什", "鹿鳴"},
                               {"小雅", "鹿鳴之什", "四牡"},
                               {"小雅", "白華之什", "魚麗"},
                               {"商頌", "", "那"}};
  for (const auto& h : headings) {
    Poem poem;
    poem.part = Utf8ToGbk(h[0]);
    poem.group = Utf8ToGbk(h[1]);
    poem.title = Utf8ToGbk(h[2]);
    poem.author = Utf8ToGbk("佚名");
    poem.lines = {Utf8ToGbk("句")};
    classics.push_back(poem);
  }
  BookPlan odes = PlanOdesBook(classics);
  EXPECT_TRUE(odes.older_format);
  EXPECT_TRUE(odes.waiting);
  ASSERT_EQ(odes.records.size(), 4u);
  for (const RecordPlan& r : odes.records) {
    EXPECT_TRUE(r.values[kAuthor].empty());
    EXPECT_TRUE(r.values[kKeywords].empty());
    EXPECT_TRUE(r.values[kCategory].empty());
  }
  EXPECT_EQ(odes.records[0].values[kImageInfo], "img/y0001_1.png");
  ASSERT_EQ(odes.root.sections.size(), 2u);
  EXPECT_EQ(odes.root.sections[0].sections.size(), 2u);
  EXPECT_EQ(odes.root.sections[0].sections[0].records, (std::vector<int>{0, 1}));
  // A hymn book without decades holds its records directly.
  EXPECT_TRUE(odes.root.sections[1].sections.empty());
  EXPECT_EQ(odes.root.sections[1].records, (std::vector<int>{3}));

  BookPlan airs = PlanAirsBook(classics);
  EXPECT_FALSE(airs.older_format);
  ASSERT_EQ(airs.records.size(), 1u);
  EXPECT_EQ(U(airs.records[0].values[kKeywords]), "國風·周南");
}

std::vector<Poem> SyntheticClassics() {
  std::vector<Poem> classics;
  const char* headings[][3] = {{"國風", "周南", "關雎"},
                               {"國風", "召南", "鵲巢"},
                               {"小雅", "鹿鳴之什", "鹿鳴"},
                               {"商頌", "", "那"}};
  for (const auto& h : headings) {
    Poem poem;
    poem.part = Utf8ToGbk(h[0]);
    poem.group = Utf8ToGbk(h[1]);
    poem.title = Utf8ToGbk(h[2]);
    poem.author = Utf8ToGbk("佚名");
    poem.lines = {Utf8ToGbk("句")};
    classics.push_back(poem);
  }
  return classics;
}

// Libraries of every size the start-up benchmark and the tests use, and the edges: the sample's
// four books first, then small installed books, each different from the others and complete.
TEST(PlanLibrary, AddsDistinctCompleteBooksAfterTheSamplesOwn) {
  const std::vector<Poem> tang = SyntheticPoems(std::vector<std::string>(70, "王维"));
  const std::vector<Poem> song = SyntheticPoems(std::vector<std::string>(60, "苏轼"));
  const std::vector<Poem> classics = SyntheticClassics();
  const struct {
    int count;
    int installed;  // books in the catalogue as made; the waiting ones come on import
    int waiting;
  } cases[] = {{0, 0, 0}, {1, 1, 0}, {3, 2, 1}, {4, 2, 2}, {5, 3, 2}, {14, 12, 2}, {49, 47, 2},
               {50, 48, 2}, {kMaxBooks, kMaxBooks - 2, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    const std::vector<BookPlan> books = PlanLibrary(tang, song, classics, c.count, 30, -1);
    ASSERT_EQ(static_cast<int>(books.size()), c.count);
    std::set<std::string> names, categories;
    int installed = 0, waiting = 0;
    for (size_t i = 0; i < books.size(); ++i) {
      const BookPlan& book = books[i];
      SCOPED_TRACE(book.dir);
      EXPECT_EQ(book.dir, std::to_string(i + 1));
      names.insert(book.name);
      if (book.waiting) {
        ++waiting;
        EXPECT_TRUE(book.category.empty());
      } else {
        ++installed;
        EXPECT_TRUE(categories.insert(book.category).second) << "category " << book.category;
      }
      ASSERT_FALSE(book.records.empty());
      // Every record sits once in the table of contents and carries its book's category.
      std::vector<int> order = RecordsUnder(book.root);
      std::sort(order.begin(), order.end());
      ASSERT_EQ(order.size(), book.records.size());
      std::set<std::string> files;
      for (size_t r = 0; r < order.size(); ++r) {
        EXPECT_EQ(order[r], static_cast<int>(r));
        files.insert(book.records[r].file);
        EXPECT_EQ(book.records[r].values[kCategory], book.category) << r;
      }
      EXPECT_EQ(files.size(), book.records.size());
      if (i >= 4) {
        EXPECT_EQ(book.records.size(), static_cast<size_t>(kFurtherBookPoems));
        EXPECT_FALSE(book.root.sections.empty());
      }
    }
    EXPECT_EQ(names.size(), books.size()) << "two books share a name";
    EXPECT_EQ(installed, c.installed);
    EXPECT_EQ(waiting, c.waiting);
    // Up to the catalogue's 49 books, the installed ones and the two the import numbers 1 and 2
    // share the categories 1 .. 49 without a clash.
    for (const std::string& category : categories) {
      const int n = std::stoi(category);
      EXPECT_TRUE(n >= 3 && (n <= 49 || c.count > 49)) << category;
    }
  }
  // A full 49-book library uses every category of 1 .. 49 once the waiting two are numbered.
  std::set<int> numbers = {1, 2};
  for (const BookPlan& book : PlanLibrary(tang, song, classics, 49, 30, -1)) {
    if (!book.waiting) numbers.insert(std::stoi(book.category));
  }
  EXPECT_EQ(numbers.size(), 49u);
  EXPECT_EQ(*numbers.rbegin(), 49);
  // Further books of one anthology go on through its poems instead of repeating the first ones.
  const std::vector<BookPlan> books = PlanLibrary(tang, song, classics, 8, 30, -1);
  EXPECT_EQ(books[4].records[0].values[kTitle], song[0].title);
  EXPECT_EQ(books[6].records[0].values[kTitle], song[kFurtherBookPoems].title);
  EXPECT_EQ(books[5].records[0].values[kTitle], tang[0].title);
  EXPECT_EQ(books[7].records[0].values[kTitle], tang[kFurtherBookPoems].title);
  EXPECT_EQ(U(books[4].name), "宋诗选（五）");
  EXPECT_EQ(U(books[5].name), "唐诗选（六）");
}

}  // namespace
}  // namespace tomeva::sample
