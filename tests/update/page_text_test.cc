// The version page read as text: which kind a page is, the text an HTML page shows (scripts and
// everything hidden left out, entities decoded, white space and blocks as a browser lays them
// out), and the character sets a page may come in.
#include "core/update/page_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/gbk.h"

namespace tomeva {
namespace {

TEST(PageTextTest, KindFromTypeThenNameThenBytes) {
  struct Case {
    const char* type;
    const char* name;
    const char* bytes;
    PageKind kind;
  };
  const std::vector<Case> cases = {
      {"text/xml", "v.htm", "<html>", PageKind::kXml},
      {"application/xml; charset=gbk", "", "", PageKind::kXml},
      {"application/rss+xml", "", "", PageKind::kXml},
      {"Text/HTML; charset=utf-8", "v.xml", "<?xml version=\"1.0\"?>", PageKind::kHtml},
      {"application/xhtml+xml", "", "<?xml version=\"1.0\"?>", PageKind::kHtml},
      {"text/plain", "v.xml", "<?xml version=\"1.0\"?>", PageKind::kPlainText},
      {"", "version.XML", "", PageKind::kXml},
      {"", "v.htm", "<?xml version=\"1.0\"?>", PageKind::kHtml},
      {"application/octet-stream", "v.txt", "<p>", PageKind::kPlainText},
      {"", "v", "\xEF\xBB\xBF  <?XML version=\"1.0\"?>", PageKind::kXml},
      {"", "v", "\r\n<html>", PageKind::kHtml},
      {"", "v", "file http://x/setup.sh", PageKind::kPlainText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " | " + c.name + " | " + c.bytes);
    EXPECT_EQ(KindOfPage(c.type, c.name, c.bytes), c.kind);
  }
}

// What an HTML page shows. Nothing a script would write or fetch is there: the script never runs.
TEST(PageTextTest, HtmlShownText) {
  struct Case {
    const char* name;
    std::string html;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"paragraphs and a script",
       "<html><body><p>one</p><p>two &amp; three</p>"
       "<script>document.write('<p>by script</p>'); fetch('/marker')</script></body></html>",
       "one\n\ntwo & three"},
      {"hidden elements",
       "<head><title>T</title><style>p{x:1}</style></head><body>a<noscript>N</noscript>"
       "<template><p>t</p><template>u</template>v</template><textarea>w</textarea>"
       "<iframe>i</iframe>b<!-- <p>c</p> -->d</body>",
       "abd"},
      {"a script ends at its own end tag only",
       "<script>var s = '</scriptx>'; </script>shown<SCRIPT type=x>hidden</Script >too",
       "showntoo"},
      {"white space collapses, lines break at blocks and <br>",
       "  <div>  a \r\n b  </div><div>c<br>d</div>\t<li>e</li> ", "a b\nc\nd\ne"},
      {"preformatted text keeps its white space, not its first line feed",
       "<pre>\n  &lt;?xml?&gt;\r\n\t&lt;file&gt;x&lt;/file&gt;  </pre>after",
       "  <?xml?>\n\t<file>x</file>  \nafter"},
      {"xmp and plaintext are raw text", "<xmp><b>&amp;</b></xmp><plaintext><p>&lt;",
       "<b>&amp;</b>\n<p>&lt;"},
      {"entities",
       "&lt;&gt;&quot;&apos;&amp;&nbsp;&#x4E00;&#19968;&copy&amp &bogus; &# &#0; &#xD800;",
       "<>\"'& \xE4\xB8\x80\xE4\xB8\x80\xC2\xA9& &bogus; &# \xEF\xBF\xBD \xEF\xBF\xBD"},
      {"table cells", "<table><tr><td>a</td><td>b</td></tr><tr><th>c</th><td>d</td></tr></table>",
       "a\tb\nc\td"},
      {"a < that starts no tag, attributes with > in quotes, bogus tags",
       "a < b <a href=\"x>y\" title='>'>link</a> <!doctype html><?php x ?></>c", "a < b link c"},
      {"a tag left open at the end", "text<a href=\"", "text"},
      {"Chinese text", "<p>\xE7\xAC\xAC\xE4\xB8\x80\xE8\xA1\x8C</p>",
       "\xE7\xAC\xAC\xE4\xB8\x80\xE8\xA1\x8C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HtmlShownText(c.html), c.text);
  }
}

// The page as the version check parses it: GBK, from pages in GBK or UTF-8, XML with its
// declaration.
TEST(PageTextTest, VersionPageTextInItsCharacterSet) {
  const std::string chinese_utf8 = "\xE6\x9B\xB4\xE6\x96\xB0";  // 更新
  const std::string chinese_gbk = Utf8ToGbk(chinese_utf8);
  struct Case {
    const char* name;
    std::string bytes;
    const char* type;
    const char* file;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"GBK XML as it is", "<?xml version=\"1.0\" encoding=\"GB2312\"?><v>" + chinese_gbk + "</v>",
       "text/xml", "", "<?xml version=\"1.0\" encoding=\"GB2312\"?><v>" + chinese_gbk + "</v>"},
      {"UTF-8 XML by its declaration",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><v>" + chinese_utf8 + "</v>", "", "v.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><v>" + chinese_gbk + "</v>"},
      {"XML without a declaration gets one", "<v/>", "application/xml", "",
       "<?xml version=\"1.0\"?>\r\n<v/>"},
      {"UTF-8 HTML by its type", "<p>" + chinese_utf8 + "</p>", "text/html; charset=\"UTF-8\"", "",
       chinese_gbk},
      {"UTF-8 HTML by its meta element",
       "<html><head><meta charset=utf-8></head><body>" + chinese_utf8 + "</body></html>", "",
       "v.htm", chinese_gbk},
      {"GBK HTML by its meta element",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\"><pre>" +
           chinese_gbk + "</pre>",
       "text/html", "", chinese_gbk},
      {"GBK without a word about it", "<p>" + chinese_gbk + "</p>", "text/html", "", chinese_gbk},
      {"a byte order mark says UTF-8", "\xEF\xBB\xBF" + chinese_utf8, "text/plain", "",
       chinese_gbk},
      {"UTF-16 is not read", std::string("\xFF\xFE<\0?\0", 6), "", "v.xml", ""},
      {"the type's character set wins", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + chinese_gbk,
       "text/xml; charset=gbk", "", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + chinese_gbk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VersionPageText(c.bytes, c.type, c.file), c.text);
  }
}

}  // namespace
}  // namespace tomeva
