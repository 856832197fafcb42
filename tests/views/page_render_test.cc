// Record pages as strings: golden pages of sample-library records, and the rules of rows,
// colours, online links, link lists (FdLink), image lists and the no-result page.
#include "core/views/page_render.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

const std::string kData = std::string(TOMEVA_TEST_DATA_DIR) + "/views/";

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

// The catalogue labels of the sample library (categories 3 and 13).
FieldLabels SampleLabels() {
  std::string text = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n";
  for (const char* c : {"3", "13"}) {
    for (const auto& [tag, label] :
         std::vector<std::pair<const char*, const char*>>{{"FdName", "题名"},
                                                          {"FdAuthor", "作者"},
                                                          {"KeyWords", "内容摘要"},
                                                          {"FdContent", "内容"},
                                                          {"FdImgInfo", "附图信息"}}) {
      text += std::string("<Xml2HtmlTags category=\"") + c + "\" xml_tag=\"" + tag +
              "\" html_tag=\"" + label + "\"/>\r\n";
    }
  }
  text += "</books>";
  CXmlDocument doc;
  EXPECT_EQ(doc.ParseText(Utf8ToGbk(text)), 1);
  return LoadFieldLabels(doc);
}

// A library folder "lib" and an application folder "app" in a temporary folder: pages may name
// files inside them only. Local() turns the page's paths back into "/lib" and "/app".
struct Fixture {
  testing::TempDir tmp;
  ResultPageConfig config;
  FieldLabels labels;
  RenderContext ctx;
  Fixture(bool search_mode, int record_index) {
    for (const char* folder : {"lib/1", "lib/2", "lib/12", "lib/x12/y", "app/1", "app/2"}) {
      MakeDirectories(tmp / folder);
    }
    config = LoadResultPageConfig(kData + "SearchResultConfig.xml", tmp / "lib");
    labels = SampleLabels();
    ctx.config = &config;
    ctx.labels = &labels;
    ctx.links = {"http://127.0.0.1:8321/fulltext?lib=sample", "&doc=", "reader", "sample"};
    ctx.library_dir = tmp / "lib";
    ctx.app_dir = tmp / "app/";
    ctx.search_mode = search_mode;
    ctx.record_index = record_index;
  }
  std::string Local(const std::string& page) const { return ReplaceAll(page, tmp.path(), ""); }
};

// Compares with the golden file; TOMEVA_UPDATE_GOLDEN=1 writes it instead.
void ExpectGolden(const std::string& name, const std::string& page) {
  const std::string path = kData + name;
  if (std::getenv("TOMEVA_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << page;
    return;
  }
  std::string golden;
  ASSERT_TRUE(ReadWholeFile(path, &golden)) << path;
  EXPECT_EQ(GbkToUtf8(page), GbkToUtf8(golden)) << name;
}

TEST(PageRenderGolden, SampleRecordsRenderAsStored) {
  struct Case {
    const char* record;
    int category;
    const char* folder;
    bool search_mode;
    int record_index;
    const char* golden;
  };
  const Case cases[] = {
      // Picture list of one picture, caption with "&st;", and an in-book link.
      {"tang_0003.xml", 3, "1", false, 0, "tang_0003.browse.htm"},
      // Three pictures: absolute link in a new window, in-book link, no link.
      {"tang_0006.xml", 3, "1", false, 0, "tang_0006.browse.htm"},
      // Two link pairs, the first absolute in a new window, the second in the book folder.
      {"tang_0037.xml", 3, "1", true, 2, "tang_0037.search.htm"},
      // Absolute link, same window; picture list linking into the book.
      {"song_0041.xml", 13, "2", true, 10, "song_0041.search.htm"},
      {"song_0004.xml", 13, "2", false, 0, "song_0004.browse.htm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.golden);
    Fixture f(c.search_mode, c.record_index);
    CXmlDocument record;
    ASSERT_EQ(record.Load(kData + c.record), 1);
    RecordPage page = c.search_mode ? RenderSearchRecord(record, c.category, c.folder, f.ctx)
                                    : RenderBrowseRecord(record, c.category, c.folder, f.ctx);
    ASSERT_TRUE(page.generated);
    ExpectGolden(c.golden, f.Local(page.html));
  }
}

TEST(PageRender, NamedFileIsLoadedInsteadOfAGeneratedPage) {
  struct Case {
    const char* folder;
    bool search_mode;
    const char* location;
  };
  const Case cases[] = {
      {"1", false, "/lib/1/pdf/juan0001.pdf"},
      {"1", true, "/lib/1/pdf/juan0001.pdf"},
      // A folder text with a "\": the search page keeps only what lies between the first
      // character and the "\"; the library page uses the whole text.
      {"x12\\y", true, "/lib/12/pdf/juan0001.pdf"},
      {"x12\\y", false, "/lib/x12/y/pdf/juan0001.pdf"},
      {"\\y", true, "/lib/pdf/juan0001.pdf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    Fixture f(c.search_mode, 0);
    CXmlDocument record;
    ASSERT_EQ(record.Load(kData + "tang_0002.xml"), 1);
    RecordPage page = c.search_mode ? RenderSearchRecord(record, 3, c.folder, f.ctx)
                                    : RenderBrowseRecord(record, 3, c.folder, f.ctx);
    EXPECT_FALSE(page.generated);
    EXPECT_EQ(f.Local(page.location), c.location);
    EXPECT_FALSE(page.is_pdf);  // the file is not there
  }
}

// A page file name holding a byte that is not GBK is refused like one leading out of the book:
// repaired, "v1\x81.htm" would read as the page "v1" with a query, another file of the book.
TEST(PageRender, PageFileNameWithAByteThatIsNotGbkIsRefused) {
  const struct {
    std::string name;
    bool search_mode;
    const char* location;  // nullptr: the page that says the file cannot be shown
  } cases[] = {
      {"v1\x81.htm", false, nullptr},
      {"v1\x81.htm", true, nullptr},
      {"pdf\x81/juan0001.pdf", false, nullptr},
      {"v1?part=2", false, "/lib/1/v1?part=2"},  // a question mark written as such is a query
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(c.search_mode, 0);
    ASSERT_TRUE(ReplaceFileAtomically(f.tmp / "lib/1/v1", "<p>another page</p>"));
    CXmlDocument record;
    ASSERT_EQ(record.ParseText("<?xml version=\"1.0\"?><record><FdHtmlFile>" + c.name +
                               "</FdHtmlFile></record>"),
              1);
    const RecordPage page = c.search_mode ? RenderSearchRecord(record, 3, "1", f.ctx)
                                          : RenderBrowseRecord(record, 3, "1", f.ctx);
    if (c.location == nullptr) {
      ASSERT_TRUE(page.generated);
      EXPECT_EQ(page.html.find("another page"), std::string::npos);
      EXPECT_TRUE(IsValidGbk(page.html));
    } else {
      EXPECT_FALSE(page.generated);
      EXPECT_EQ(f.Local(page.location), c.location);
    }
  }
}

TEST(PageRender, ConfigurationReplacesMarkersAndMissingFileLeavesItEmpty) {
  ResultPageConfig config = LoadResultPageConfig(kData + "SearchResultConfig.xml", "/lib");
  EXPECT_EQ(config.bodybkcolor, "#fdfaf2");
  EXPECT_EQ(config.bodytop.find("@"), std::string::npos);
  EXPECT_EQ(config.bodytop.rfind("<table width=\"90%\" align=\"center\"><tr><td><img "
                                 "src=\"FILE:///lib/images\\banner.png\">",
                                 0),
            0u)
      << config.bodytop;
  EXPECT_NE(config.bodybottom.find("<img src=\"FILE:///lib/images\\footer.png\">"),
            std::string::npos);
  ResultPageConfig none = LoadResultPageConfig(kData + "no-such-file.xml", "/lib");
  EXPECT_TRUE(none.style.empty() && none.bodytop.empty() && none.bodybottom.empty() &&
              none.bodybkcolor.empty());
}

TEST(PageRender, FieldLabelsTakeOnlyCompleteEntriesInRange) {
  CXmlDocument doc;
  ASSERT_EQ(doc.ParseText("<?xml version=\"1.0\"?><books>"
                          "<Xml2HtmlTags category=\"7\" xml_tag=\"a\" html_tag=\"A\"/>"
                          "<Xml2HtmlTags category=\"7x\" xml_tag=\"b\" html_tag=\"B\"/>"
                          "<Xml2HtmlTags category=\"50\" xml_tag=\"c\" html_tag=\"C\"/>"
                          "<Xml2HtmlTags category=\"\" xml_tag=\"d\" html_tag=\"D\"/>"
                          "<Xml2HtmlTags category=\"0\" xml_tag=\"e\" html_tag=\"\"/>"
                          "<Xml2HtmlTags category=\"0\" xml_tag=\"f\" html_tag=\"F\"/>"
                          "<Xml2HtmlTags category=\"49\" html_tag=\"G\"/>"
                          "</books>"),
            1);
  FieldLabels labels = LoadFieldLabels(doc);
  FieldLabelList seven = {{"a", "A"}, {"b", "B"}};
  FieldLabelList zero = {{"f", "F"}};
  EXPECT_EQ(labels[7], seven);
  EXPECT_EQ(labels[0], zero);
  EXPECT_TRUE(labels[49].empty());
}

std::string Record(const std::string& fields) {
  return "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>" + fields + "</record>";
}

TEST(PageRender, RowColoursFollowTheLabelListNotTheShownRows) {
  FieldLabels labels;
  labels[5] = {{"a", "A"}, {"b", "B"}, {"c", "C"}, {"d", "D"}, {"e", "E"}};
  RenderContext ctx;
  ctx.labels = &labels;
  struct Case {
    const char* fields;
    std::vector<std::string> row_starts;
  };
  const Case cases[] = {
      {"<a>1</a><b>2</b><c>3</c><d>4</d><e>5</e>",
       {"<tr bgcolor=\"#c4daf1\">", "<tr>", "<tr bgcolor=\"#c4daf1\">", "<tr>",
        "<tr bgcolor=\"#c4daf1\">"}},
      {"<a>1</a><c>3</c><d>4</d><e>5</e>",
       {"<tr bgcolor=\"#c4daf1\">", "<tr bgcolor=\"#c4daf1\">", "<tr>",
        "<tr bgcolor=\"#c4daf1\">"}},
  };
  for (const Case& c : cases) {
    CXmlDocument record;
    ASSERT_EQ(record.ParseText(Record(c.fields)), 1);
    std::string rows = BuildRecordRows(record, 5, ctx);
    std::vector<std::string> starts;
    for (size_t at = rows.find("<tr"); at != std::string::npos; at = rows.find("<tr", at + 1)) {
      starts.push_back(rows.substr(at, rows.find('>', at) - at + 1));
    }
    EXPECT_EQ(starts, c.row_starts) << c.fields;
  }
  // Category outside the table: no rows, no failure.
  CXmlDocument record;
  ASSERT_EQ(record.ParseText(Record("<a>1</a>")), 1);
  EXPECT_EQ(BuildRecordRows(record, 77, ctx), "");
  EXPECT_EQ(BuildRecordRows(record, -1, ctx), "");
}

TEST(PageRender, HitNumberHeadingInSearchModeOnly) {
  FieldLabels labels;
  RenderContext ctx;
  ctx.labels = &labels;
  CXmlDocument record;
  ASSERT_EQ(record.ParseText(Record("")), 1);
  ctx.search_mode = true;
  ctx.record_index = 2;
  EXPECT_EQ(BuildRecordRows(record, 3, ctx), "<p><CENTER><Strong>3. </Strong></CENTER>");
  ctx.search_mode = false;
  EXPECT_EQ(BuildRecordRows(record, 3, ctx), "");
}

TEST(PageRender, OnlineFullTextLinks) {
  const std::string pdf_link =
      G("<tr><td><p> <a target=\"_blank\" href=\"%s\">查看PDF全文</a></p>\n</td></tr>");
  const std::string html_link =
      G("<tr><td><p> <a target=\"_blank\" href=\"%s\">查看HTML</a></p></td></tr>");
  auto with = [](std::string format, const std::string& address) {
    return format.replace(format.find("%s"), 2, address);
  };
  struct Case {
    const char* fields;
    const char* user;
    std::string expected;
  };
  const Case cases[] = {
      {"<URL>u</URL><URL1>v</URL1>", "", with(pdf_link, "B?x=B2u") + with(html_link, "B?x=B2v")},
      {"<PDF>p</PDF><URL>u</URL><URL1>v</URL1>", "",
       with(pdf_link, "B?x=B2p") + with(html_link, "B?x=B2u")},
      // The page never carries the user name and password (see CredentialedAddress).
      {"<PDF>p</PDF>", "ann", with(pdf_link, "B?x=B2p")},
      {"<URL1>v</URL1>", "ann", with(html_link, "B?x=B2v")},
      {"", "ann", ""},
  };
  FieldLabels labels;
  for (const Case& c : cases) {
    RenderContext ctx;
    ctx.labels = &labels;
    ctx.links = {"B?x=", "B2", c.user, "pw"};
    CXmlDocument record;
    ASSERT_EQ(record.ParseText(Record(c.fields)), 1);
    EXPECT_EQ(BuildRecordRows(record, 3, ctx), c.expected) << c.fields;
  }
}

// The user name and password go only into an address of the full-text server that the program
// itself opens, inserted where the page's link used to carry them.
TEST(PageRender, CredentialsAreAddedOnlyToTheFullTextServersAddresses) {
  const LinkSettings links = {"http://lib.example:8321/fulltext?lib=s", "&doc=", "ann", "pw"};
  struct Case {
    const char* address;
    const char* opened;
  } cases[] = {
      {"http://lib.example:8321/fulltext?lib=s&doc=12",
       "http://lib.example:8321/fulltext?lib=s&username=ann&password=pw&doc=12"},
      // Anything else is opened as it is.
      {"http://lib.example:8321/other?lib=s&doc=12", "http://lib.example:8321/other?lib=s&doc=12"},
      {"http://evil.example/fulltext?lib=s&doc=1", "http://evil.example/fulltext?lib=s&doc=1"},
      {"http://lib.example:8321.evil.example/fulltext?lib=s&doc=1",
       "http://lib.example:8321.evil.example/fulltext?lib=s&doc=1"},
      {"file:///etc/passwd", "file:///etc/passwd"},
  };
  for (const Case& c : cases) EXPECT_EQ(CredentialedAddress(links, c.address), c.opened);
  // Without a user name there is nothing to add; a base of another scheme never gets them.
  EXPECT_EQ(CredentialedAddress({links.url_base, "&doc=", "", "pw"}, cases[0].address),
            cases[0].address);
  EXPECT_EQ(CredentialedAddress({"ftp://h/x?", "", "ann", "pw"}, "ftp://h/x?1"), "ftp://h/x?1");
}

TEST(PageRender, FieldRowsByTag) {
  struct Case {
    const char* tag;
    const char* value;
    std::string expected;
  };
  const Case cases[] = {
      {"t", "a\nb &ltb&gt",
       "<tr bgcolor=\"red\"><td width='20%'><font size=2><strong>L</strong>"
       "</font></td><td width='70%'>a<BR>b <b></td></tr>"},
      {"f2", "p.png", "<image src=\"FILE:///lib/p.png\"/><br>"},
      {"f4", "secret", ""},
      {"t", "", ""},
      {"t", "<i>x</i>", ""},  // child elements are dropped; nothing is left
  };
  for (const Case& c : cases) {
    CXmlDocument record;
    ASSERT_EQ(
        record.ParseText(Record(std::string("<") + c.tag + ">" + c.value + "</" + c.tag + ">")), 1);
    std::string page = "^";
    AppendFieldRow(record, &page, c.tag, "L", "red", "/lib");
    EXPECT_EQ(page, "^" + c.expected) << c.tag << " " << c.value;
  }
  CXmlDocument record;
  ASSERT_EQ(record.ParseText(Record("<t>v</t>")), 1);
  std::string page;
  AppendFieldRow(record, &page, "t", "L", "", "/lib");
  EXPECT_EQ(page.substr(0, 8), "<tr><td ");
}

TEST(PageRender, LinkSpecificationFlags) {
  struct Case {
    const char* page;
    const char* link_spec;
    const char* expected;
  };
  const Case cases[] = {
      {"x A y A", "A*$!_http://h/p",
       "x <a href=\"http://h/p\" target=_blank>A</a> y "
       "<a href=\"http://h/p\" target=_blank>A</a>"},
      {"A", "A*a_f.htm", "<a href=\"/app/bk/f.htm\">A</a>"},
      // Only the first flag character is tested for "$" and only the second for "!".
      {"A", "A*!$_f.htm", "<a href=\"/app/bk/f.htm\">A</a>"},
      {"A", "A*plain.htm", "<a href=\"/app/bk/plain.htm\">A</a>"},
      // "&st;" stands for "*" in anchors and targets; several pairs.
      {"a*b c", "a&st;b*$_u*c*$!_v", "<a href=\"u\">a*b</a> <a href=\"v\" target=_blank>c</a>"},
      // A link's own text is not linked again.
      {"AA", "A*$_A", "<a href=\"A\">A</a><a href=\"A\">A</a>"},
      // No "*": nothing to do. An empty anchor links nothing.
      {"A", "A", "A"},
      {"A", "*$_u", "A"},
  };
  for (const Case& c : cases) {
    std::string page = c.page;
    ApplyLinkSpec(&page, c.link_spec, "bk", "/app/");
    EXPECT_EQ(page, c.expected) << c.link_spec;
  }
}

TEST(PageRender, ImageListBecomesOneRowPerPicture) {
  const std::string cell =
      G("<td width='20%'><font size=2><strong>附图信息</strong></font></td>"
        "<td width='70%'>");
  auto row = [](int v, const std::string& inner) {
    return G("<tr><td width='20%'><font size=2><strong>图片") + std::to_string(v) +
           "</strong></font></td><td width='70%'>" + inner + "</td></tr>";
  };
  struct Case {
    std::string list;
    std::string rows;
  };
  const Case cases[] = {
      {"p.png**cap&st;x", row(1, "<img src=\"/app/bk/p.png\" border=1><p>cap*x</p>")},
      {"a.png*!$_http://u*A*b.png*q_f.htm*B*c.png**C",
       row(1,
           "<a href=\"http://u\" target=_blank><img src=\"/app/bk/a.png\" border=1></a><p>A</p>") +
           row(2, "<a href=\"/app/bk/f.htm\"><img src=\"/app/bk/b.png\" border=1></a><p>B</p>") +
           row(3, "<img src=\"/app/bk/c.png\" border=1><p>C</p>")},
      // A bare picture file: one row, no caption.
      {"p.png", row(1, "<img src=\"/app/bk/p.png\" border=1><p></p>")},
  };
  for (const Case& c : cases) {
    std::string page = "<tr>" + cell + c.list + "</td></tr><tr>after</tr>";
    ExpandImageList(&page, "bk", "/app/");
    EXPECT_EQ(GbkToUtf8(page), GbkToUtf8("<tr>" + c.rows + "<tr>after</tr>")) << c.list;
  }
  for (std::string page : {"<tr>" + cell + "</td></tr>", std::string("<tr><td>x</td></tr>")}) {
    const std::string before = page;
    ExpandImageList(&page, "bk", "/app/");
    EXPECT_EQ(page, before);
  }
}

TEST(PageRender, NoResultPage) {
  const std::string advice = G("请尝试使用高级检索进行查询<br>");
  std::string plain = NoResultPage(false, G("春风"));
  std::string advanced = NoResultPage(true, G("春风"));
  EXPECT_EQ(plain,
            G("<font color=green>找不到和您的查询\"春风\"相符的数据结果。<br>请检查输入字词有无"
              "错误<br>请尝试使用高级检索进行查询<br>请尝试换用其它的字词进行查询</font>"));
  EXPECT_EQ(advanced,
            plain.substr(0, plain.find(advice)) + plain.substr(plain.find(advice) + advice.size()));
  // A query longer than 100 bytes is cut at a character boundary.
  std::string long_query;
  for (int i = 0; i < 51; ++i) long_query += G("春");
  std::string cut = NoResultPage(false, "x" + long_query);
  EXPECT_NE(cut.find("x" + long_query.substr(0, 98) + "\""), std::string::npos);
}

// What the user typed stands in the no-result page as text: mark-up shows as typed instead of
// taking effect or vanishing. The cut at 100 bytes comes before the escaping, so that a long
// query of mark-up characters is never left with half a character reference.
TEST(PageRender, NoResultPageShowsTheQueryAsTyped) {
  std::string many_lt;  // 99 "<" escaped; the character after them is cut off at 100 bytes
  for (int i = 0; i < 99; ++i) many_lt += "&lt;";
  const struct {
    std::string typed;  // GBK
    std::string shown;  // GBK, as it stands in the page
  } cases[] = {
      {"<i>abc</i>", "&lt;i&gt;abc&lt;/i&gt;"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"AT&T &amp;", "AT&amp;T &amp;amp;"},
      {"\"quoted\" 'single'", "&quot;quoted&quot; &#39;single&#39;"},
      {G("春风<b>又绿</b>江南岸"), G("春风&lt;b&gt;又绿&lt;/b&gt;江南岸")},
      {std::string(99, '<') + G("春"), many_lt},
  };
  const std::string before = G("找不到和您的查询\"");
  const std::string after = G("\"相符的数据结果");
  for (const auto& c : cases) {
    for (bool advanced : {false, true}) {
      const std::string page = NoResultPage(advanced, c.typed);
      const size_t at = page.find(before);
      ASSERT_NE(at, std::string::npos) << GbkToUtf8(c.typed);
      const size_t from = at + before.size();
      EXPECT_EQ(page.substr(from, page.find(after, from) - from), c.shown)
          << GbkToUtf8(c.typed) << (advanced ? " (advanced)" : "");
    }
  }
}

// A search that could not run and a record file that cannot be shown get pages that name the
// index or the file, as text, and say what still works.
TEST(PageRender, FailurePagesNameWhatFailedAsText) {
  const struct {
    const char* name;
    std::string page;
    std::string expected;  // UTF-8
  } cases[] = {
      {"index", IndexFailurePage("/lib/Search<DB>", "DatabaseCorruptError: bad & broken"),
       "<font color=red>检索索引“/lib/Search&lt;DB&gt;”无法打开（DatabaseCorruptError: bad &amp; "
       "broken），这次检索没有进行，不能说明书中没有这些字词。<br>索引需要重建或从备份恢复。<br>"
       "书库目录和书的浏览不受影响，仍可使用。</font>"},
      {"index named with %s", IndexFailurePage("/lib/%s", "why"),
       "<font color=red>检索索引“/lib/%s”无法打开（why），这次检索没有进行，"
       "不能说明书中没有这些字词。<br>索引需要重建或从备份恢复。<br>"
       "书库目录和书的浏览不受影响，仍可使用。</font>"},
      {"record missing",
       RecordFileProblemPage(RecordFileProblem::kMissing, G("/lib/唐诗/book_1.xml")),
       "<font color=red>记录文件“/lib/唐诗/book_1.xml”不存在，这条记录无法显示。<br>"
       "书库中的其他记录和检索不受影响。</font>"},
      {"record broken", RecordFileProblemPage(RecordFileProblem::kBroken, "/lib/a&b/book_2.xml"),
       "<font color=red>记录文件“/lib/a&amp;b/book_2.xml”已损坏，无法读取，这条记录无法显示。<br>"
       "书库中的其他记录和检索不受影响。</font>"},
  };
  for (const auto& c : cases) EXPECT_EQ(GbkToUtf8(c.page), c.expected) << c.name;
}

}  // namespace
}  // namespace tomeva
