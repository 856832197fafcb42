// The allow-list of record pages: hostile record mark-up comes out harmless, the mark-up a record
// page needs comes out byte for byte.
#include "core/views/markup_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/views/page_render.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

class MarkupFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirectories(tmp_ / "lib/1");
    MakeDirectories(tmp_ / "app");
    roots_ = {tmp_ / "lib", tmp_ / "app/"};
  }
  // `markup` with "@lib@" standing for the library folder, filtered, in UTF-8.
  std::string Filter(const std::string& utf8) {
    const std::string markup = ReplaceAll(Utf8ToGbk(utf8), "@lib@", tmp_ / "lib");
    return GbkToUtf8(ReplaceAll(FilterMarkup(markup, roots_), tmp_ / "lib", "@lib@"));
  }
  testing::TempDir tmp_;
  std::vector<std::string> roots_;
};

TEST_F(MarkupFilterTest, HostileMarkupComesOutHarmless) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      // Event attributes, in any case and spelling.
      {"<img src=x onerror=\"fetch('//h')\">", "<img src=x>"},
      {"<IMG SRC=x OnError=alert(1)>", "<IMG SRC=x>"},
      // One unquoted value: a harmless relative address.
      {"<img src=x/onerror=alert(1)>", "<img src=\"x/onerror=alert(1)\">"},
      {"<img\tsrc=x\nonerror=alert(1)>", "<img src=x>"},
      {"<p onclick='x' style=\"color:red\">t</p>", "<p style=\"color:red\">t</p>"},
      {"<body onload=alert(1)>t", "t"},
      // Scripts and everything that carries code, with their content.
      {"a<script>alert(1)</script>b", "ab"},
      {"a<SCRIPT src=//h/x.js></SCRIPT>b", "ab"},
      {"a<script>x='</scr'+'ipt>'</script>b", "ab"},
      {"a<script>never closed", "a"},
      {"<scr<script>ipt>alert(1)</script>", "ipt&gt;alert(1)"},
      {"<svg onload=alert(1)><circle/></svg>ok", "ok"},
      {"<svg><svg></svg><script>alert(1)</script></svg>ok", "ok"},
      {"<math><mi xlink:href=\"javascript:alert(1)\">x</mi></math>ok", "ok"},
      {"<iframe src=file:///etc/passwd></iframe>ok", "ok"},
      {"<object data=x.swf></object><embed src=x.swf>ok", "ok"},
      {"<style>body{background:url(http://h/)}</style>ok", "ok"},
      {"<noscript><p title=\"</noscript><img src=x onerror=alert(1)>\"></noscript>",
       "<img src=x>\"&gt;"},
      {"<form action=http://h><input name=q><input type=submit></form>", ""},
      {"<meta http-equiv=refresh content=\"0;url=javascript:alert(1)\">", ""},
      {"<base href=http://h/><link rel=stylesheet href=x.css>", ""},
      {"<!-- <img src=x onerror=alert(1)> -->ok", "ok"},
      {"<!--><img src=x onerror=alert(1)>", "<img src=x>"},
      {"<img src=x onerror=\"alert(1)", ""},  // a tag cut off at the end is dropped
      // Addresses: only http, https and files inside the library.
      {"<a href=\"javascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"JaVaScRiPt:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\" javascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"java\tscript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"java&#x09;script:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"&#106;avascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"&#0000106&#0000097vascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"javascript&colon;alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"javascript&#58alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"jav&Tab;ascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"javascript&unknown;:x\">x</a>", "<a>x</a>"},
      {"<a href=vbscript:msgbox(1)>x</a>", "<a>x</a>"},
      {"<a href=\"data:text/html,<script>alert(1)</script>\">x</a>", "<a>x</a>"},
      {"<img src=\"ws://h/\"><img src=\"ftp://h/x\">", "<img><img>"},
      // Pictures and backgrounds come from the library, never from the network.
      {"<img src=\"http://h/t.png\"><img src=\"HTTPS://h/t.png\">", "<img><img>"},
      {"<td background=\"http://h/b.png\">t</td>", "<td>t</td>"},
      {"<img src=\"file:///etc/passwd\">", "<img>"},
      {"<img src=\"FILE://@lib@/../../../etc/passwd\">", "<img>"},
      {"<img src=\"file://@lib@/%2e%2e/%2e%2e/etc/passwd\">", "<img>"},
      {"<img src=\"file://otherhost/@lib@/x.png\">", "<img>"},
      {"<img src=\"/etc/passwd\">", "<img>"},
      {"<img src=\"//h/x.png\"><img src=\"\\\\h\\x.png\">", "<img><img>"},
      {"<a href=\"../../../../etc/passwd\">x</a>", "<a>x</a>"},
      {"<a href=\"a/..\\..\\x.htm\">x</a>", "<a>x</a>"},
      {"<table background=\"javascript:alert(1)\"><tr><td>t</td></tr></table>",
       "<table><tr><td>t</td></tr></table>"},
      // Style that loads or runs something.
      {"<div style=\"background:url(http://h/)\">t</div>", "<div>t</div>"},
      {"<div style=\"background:u&#114;l(http://h/)\">t</div>", "<div>t</div>"},
      {"<div style=\"width:expression(alert(1))\">t</div>", "<div>t</div>"},
      {"<div style=\"background:\\75rl(x)\">t</div>", "<div>t</div>"},
      {"<div style=\"@import 'x'\">t</div>", "<div>t</div>"},
      // Buttons only as plain buttons.
      {"<input type=image src=x><input type=text><input>", ""},
      {"<button type=submit>go</button>", "go</button>"},
      // Text cannot open a tag.
      {"1 < 2 > 0 <中 <3", "1 &lt; 2 &gt; 0 &lt;中 &lt;3"},
      {"<a title='\"><script>alert(1)</script>'>x</a>",
       "<a title='\"><script>alert(1)</script>'>x</a>"},
      {"<a title=a\"b>x</a>", "<a title=\"a&quot;b\">x</a>"},
      {"<?xml x?><!DOCTYPE html></bogus x>ok</>", "ok"},
      {"<x-tag>t</x-tag><o:p>t</o:p>", "tt"},
  };
  for (const Case& c : cases) EXPECT_EQ(Filter(c.in), c.out) << c.in;
}

TEST_F(MarkupFilterTest, RecordMarkupThatAPageNeedsIsKept) {
  const char* kept[] = {
      "<b>粗</b><i>斜</i><u>下</u><font color=\"#ff0000\" size=4 face=\"宋体\">红</font>",
      "<table border='1' width='90%'><tr bgcolor=\"#c4daf1\"><td width='20%'>题</td></tr></table>",
      "<CENTER><Strong>3. </Strong></CENTER><p align=\"center\">段</p><br><BR><hr>",
      "<ul><li>一</li></ul><ol start=2><li>二</li></ol><h1>标</h1><h6>小</h6>",
      "<div style=\"color:#1941a5;font-size:14px\"><span class=x>字</span></div>",
      "<a href=\"http://127.0.0.1:8321/poets/libai.htm\" target=_blank>李白</a>",
      "<a href=\"https://h/x?a=1&amp;b=2#f\">s</a>",
      "<a href=\"@lib@/1/changan.htm\">长安</a><a href=\"juan0001.htm#p2\">卷</a>",
      "<img src=\"FILE://@lib@/images\\banner.png\"><image src=\"FILE://@lib@/p.png\"/>",
      "<img src=\"@lib@/1/img/p0006_1.png\" border=1><img src=\"img/a.png\">",
      "<p align=\"center\"><input type=button id=B0 value=\"上一页\"> "
      "<input type=button id=B3 value=\"下一页\"></p>",
      "<weird><p></p></weird>",
      "&lt;&amp;&nbsp;&#20013; 中文，標點「」",
  };
  for (const char* markup : kept) EXPECT_EQ(Filter(markup), markup);
  // Raw GBK bytes with ASCII trail bytes stay as they are, inside text and attribute values.
  const std::string gbk = "\x81\x40\x95\x5C\x8A\x7C\x81\x73<b title=\"\x81\x73\">\x95\x5C</b>";
  EXPECT_EQ(FilterMarkup(gbk, roots_), gbk);
}

// A record with the hostile values of a book package, rendered as the document renders it: the
// page keeps the record's text and nothing that runs.
TEST_F(MarkupFilterTest, HostileRecordRendersWithoutCode) {
  const std::string record_text = Utf8ToGbk(
      "<?xml version=\"1.0\" encoding=\"GB2312\"?><record>"
      "<FdName>&amp;lt;img src=x onerror=\"new WebSocket('ws://127.0.0.1:9/')\"&amp;gt;题</FdName>"
      "<FdContent>正文&amp;lt;script&amp;gt;alert(1)&amp;lt;/script&amp;gt;</FdContent>"
      "<FdLink>正文*$_javascript:alert(1)</FdLink>"
      "<FdImgInfo>x.png\" onerror=\"alert(1)*$_javascript:alert(2)*图</FdImgInfo>"
      "</record>");
  CXmlDocument record;
  ASSERT_EQ(record.ParseText(record_text), 1);
  FieldLabels labels;
  for (const char* tag : {"FdName", "FdContent", "FdImgInfo"}) {
    labels[3].emplace_back(tag, tag == std::string("FdImgInfo") ? Utf8ToGbk("附图信息") : "L");
  }
  ResultPageConfig config;
  config.bodytop = "<p>top</p>";
  RenderContext ctx;
  ctx.config = &config;
  ctx.labels = &labels;
  ctx.library_dir = roots_[0];
  ctx.app_dir = roots_[1];
  for (bool search : {false, true}) {
    ctx.search_mode = search;
    RecordPage page =
        search ? RenderSearchRecord(record, 3, "1", ctx) : RenderBrowseRecord(record, 3, "1", ctx);
    ASSERT_TRUE(page.generated);
    const std::string html = ToLowerAscii(page.html);
    for (const char* bad : {"onerror", "<script", "javascript:", "websocket"}) {
      EXPECT_EQ(html.find(bad), std::string::npos) << bad << " in " << GbkToUtf8(page.html);
    }
    EXPECT_NE(page.html.find(Utf8ToGbk("正文")), std::string::npos);
    EXPECT_NE(page.html.find(Utf8ToGbk("题")), std::string::npos);
  }
}

// The names of the elements that canonical mark-up opens (quoted attribute values skipped).
std::vector<std::string> ElementNames(const std::string& markup) {
  std::vector<std::string> names;
  for (size_t p = 0; p < markup.size(); ++p) {
    if (markup[p] != '<' || p + 1 >= markup.size() || markup[p + 1] == '/') continue;
    size_t end = markup.find_first_of(" />", p + 1);
    names.push_back(ToLowerAscii(markup.substr(p + 1, end - p - 1)));
    for (p = end; p < markup.size() && markup[p] != '>'; ++p) {
      if (markup[p] == '"' || markup[p] == '\'') p = markup.find(markup[p], p + 1);
    }
  }
  return names;
}

// Mixtures of hostile and benign pieces: what comes out is already canonical (filtering it again
// changes nothing, so the view reads exactly what the filter decided on) and opens no element
// that carries code.
TEST_F(MarkupFilterTest, OutputIsCanonicalForMixedPieces) {
  const char* pieces[] = {"<",           ">",         "\"",        "'",          "=",
                          "/",           "<!--",      "-->",        "<script>",   "</script>",
                          "<svg>",       "</svg>",    "<img src=x", " onerror=",  "alert(1)",
                          "<a href=",    "javascript:", "&#106;",   "&amp;",      "<b>",
                          "</b>",        "\t",       " ",          "\x81\x40",  "\x95\x5C",
                          "<input type=button", "<iframe", "<style>", "<td width='20%'>", "x"};
  const size_t count = sizeof(pieces) / sizeof(pieces[0]);
  uint32_t state = 12345;
  int elements = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string markup;
    const int length = 1 + round % 12;
    for (int i = 0; i < length; ++i) {
      state = state * 1664525u + 1013904223u;
      markup += pieces[(state >> 8) % count];
    }
    const std::string once = FilterMarkup(markup, roots_);
    EXPECT_EQ(FilterMarkup(once, roots_), once) << markup;
    for (const std::string& tag : ElementNames(once)) {
      ++elements;
      EXPECT_TRUE(tag == "img" || tag == "a" || tag == "b" || tag == "td" || tag == "input")
          << tag << " in " << markup << " -> " << once;
    }
  }
  EXPECT_GT(elements, 1000);  // the pieces do make kept elements
}

// The attribute names of every start tag of `html` as the web view reads the page: its decoder
// makes a character of a lead byte and the next byte only when that is a trail byte (a "<" or a
// quote after a lone lead byte stays itself), its tokenizer reads tags and attribute values as
// the HTML standard says.
std::vector<std::string> BrowserAttributeNames(std::string_view html) {
  auto len = [&html](size_t i) {
    const unsigned char c = static_cast<unsigned char>(html[i]);
    const unsigned char t = i + 1 < html.size() ? static_cast<unsigned char>(html[i + 1]) : 0;
    return c >= 0x81 && c <= 0xFE && ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE)) ? 2 : 1;
  };
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
  std::vector<std::string> names;
  const size_t n = html.size();
  size_t p = 0;
  while (p < n) {
    if (html[p] != '<' || p + 1 >= n || !std::isalpha(static_cast<unsigned char>(html[p + 1]))) {
      p += len(p);
      continue;
    }
    ++p;
    while (p < n && !space(html[p]) && html[p] != '/' && html[p] != '>') p += len(p);
    while (p < n && html[p] != '>') {
      if (space(html[p]) || html[p] == '/') {
        ++p;
        continue;
      }
      const size_t start = p;
      p += len(p);
      while (p < n && !space(html[p]) && html[p] != '/' && html[p] != '>' && html[p] != '=') {
        p += len(p);
      }
      names.push_back(ToLowerAscii(html.substr(start, p - start)));
      while (p < n && space(html[p])) ++p;
      if (p >= n || html[p] != '=') continue;
      for (++p; p < n && space(html[p]);) ++p;
      if (p < n && (html[p] == '"' || html[p] == '\'')) {
        const char quote = html[p++];
        while (p < n && html[p] != quote) p += len(p);
        if (p < n) ++p;
      } else {
        while (p < n && !space(html[p]) && html[p] != '>') p += len(p);
      }
    }
  }
  return names;
}

bool HasEventAttribute(const std::string& html) {
  for (const std::string& name : BrowserAttributeNames(html)) {
    if (StartsWith(name, "on")) return true;
  }
  return false;
}

// A lone lead byte used to take the "<" or the quote after it into its character for the filter,
// which then let the tag or the attribute through as text, while the web view read it as mark-up.
TEST_F(MarkupFilterTest, LoneLeadBytesHideNoMarkupFromTheFilter) {
  const struct {
    const char* what;
    std::string in;
    std::string out;
  } cases[] = {
      {"before a tag", "PWNTEST \x81<img src=nope.png onerror=\"alert(1)\"></p>",
       "PWNTEST ?<img src=nope.png></p>"},
      {"before a quote in an unquoted value", "<span title=x\x81\"onerror=1>t</span>",
       "<span title=\"x?&quot;onerror=1\">t</span>"},
      {"before the closing quote", "<span title=\"x\x81\" onerror=\"1\">t</span>",
       "<span title=\"x?\">t</span>"},
      {"before an end tag", "a\xD6</b><img src=x onerror=1>", "a?</b><img src=x>"},
      {"lone 0xFF", "\xFF<b>x</b>", "?<b>x</b>"},
      {"valid pairs and the euro sign stay as they are", Utf8ToGbk("<b>中文\xE2\x82\xAC</b>"),
       Utf8ToGbk("<b>中文\xE2\x82\xAC</b>")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = FilterMarkup(c.in, roots_);
    EXPECT_EQ(out, c.out);
    EXPECT_TRUE(IsValidGbk(out));
    EXPECT_FALSE(HasEventAttribute(out)) << out;
  }
  // The escaper: what it gives stands as text, also at the end of a text put before mark-up.
  EXPECT_EQ(EscapeHtml("a\x81"), "a?");
  EXPECT_EQ(EscapeHtml("\x81<img src=x onerror=1>"), "?&lt;img src=x onerror=1&gt;");
  EXPECT_EQ(EscapeHtml(Utf8ToGbk("中\"")), Utf8ToGbk("中&quot;"));
}

// The same bytes in record files, as a book package brings them: the record page the view gets
// has no tag the web view would read out of the record's text, and no event attribute.
TEST_F(MarkupFilterTest, RecordTextWithLoneLeadBytesRendersWithoutCode) {
  const struct {
    const char* what;
    std::string field;  // the FdContent element as the record file holds it
    int pictures;       // <img> elements the page may show
    std::string shown;  // part of the page
  } cases[] = {
      {"a tag behind a lone lead byte",
       "<FdContent>PWNTEST \x81<img src=nope.png onerror=\"alert(1)\"/></FdContent>", 0,
       "PWNTEST ?</td>"},
      {"record mark-up behind a lone lead byte",
       "<FdContent>PWNTEST \x81&amp;ltimg src=nope.png onerror=alert(1)&amp;gt</FdContent>", 1,
       "PWNTEST ?<img src=nope.png></td>"},
      {"a quote behind a lone lead byte in an attribute",
       "<FdContent>t&amp;ltspan title=x\x81\"onerror=alert(1)&amp;gtu</FdContent>", 0,
       "t<span title=\"x?&quot;onerror=alert(1)\">u</td>"},
  };
  FieldLabels labels;
  labels[3].emplace_back("FdContent", "L");
  ResultPageConfig config;
  RenderContext ctx;
  ctx.config = &config;
  ctx.labels = &labels;
  ctx.library_dir = roots_[0];
  ctx.app_dir = roots_[1];
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CXmlDocument record;
    ASSERT_EQ(record.ParseText("<?xml version=\"1.0\" encoding=\"GB2312\"?><record>" + c.field +
                               "</record>"),
              1);
    for (bool search : {false, true}) {
      ctx.search_mode = search;
      const RecordPage page = search ? RenderSearchRecord(record, 3, "1", ctx)
                                     : RenderBrowseRecord(record, 3, "1", ctx);
      ASSERT_TRUE(page.generated);
      EXPECT_TRUE(IsValidGbk(page.html));
      EXPECT_FALSE(HasEventAttribute(page.html)) << page.html;
      const std::vector<std::string> elements = ElementNames(page.html);
      EXPECT_EQ(std::count(elements.begin(), elements.end(), "img"), c.pictures) << page.html;
      EXPECT_NE(page.html.find(c.shown), std::string::npos) << page.html;
    }
  }
}

TEST_F(MarkupFilterTest, NoResultPageShowsMarkupOfTheQueryAsText) {
  const std::string page = NoResultPage(false, "<img src=x onerror=alert(1)>");
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
}

}  // namespace
}  // namespace tomeva
