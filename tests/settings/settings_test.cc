#include "core/settings/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::TempDir;
using testing::WriteGbk;

std::string Read(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return bytes;
}

TEST(SettingsTest, DotRule) {
  struct Case {
    const char* value;
    const char* expected;
  } cases[] = {
      {".\\SearchDB", "/lib/.\\SearchDB"},
      {"./SearchDB", "/lib/./SearchDB"},
      {".", "/lib/."},
      {"E:\\SearchDB", "E:\\SearchDB"},
      {"/srv/SearchDB", "/srv/SearchDB"},
      {"SearchDB", "SearchDB"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplyDotRule(c.value, "/lib/"), c.expected) << c.value;
}

TEST(SettingsTest, LoadsSystemValuesWithTheDotRule) {
  TempDir dir;
  const std::string app = dir.path() + "/";
  WriteGbk(
      dir / "System.xml",
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<config>\r\n"
      "<Folders><searchdatadir>.\\SearchDB</searchdatadir><EBookDir>.</EBookDir></Folders>\r\n"
      "<path>tools</path><EndFlash>end.exe /quiet</EndFlash>\r\n"
      "<KEY_FIELD1>标题</KEY_FIELD1><KEY_FIELD2></KEY_FIELD2><KEY_FIELD3>内容摘要</KEY_FIELD3>\r\n"
      "</config>");
  CXmlDocument system_xml;
  ASSERT_EQ(system_xml.Load(dir / "System.xml"), 1);
  MemoryRegistry reg;
  Settings s = LoadSettings(reg, app, &system_xml);
  EXPECT_EQ(s.app_dir, app);
  EXPECT_EQ(s.index_dir, app + ".\\SearchDB");
  EXPECT_EQ(s.ebook_dir, app + ".");
  EXPECT_EQ(s.exit_dir, "tools");
  EXPECT_EQ(s.exit_command, "end.exe /quiet");
  EXPECT_EQ(s.pdf_viewer_path, "");
  // A present third field after an empty second one is not offered.
  std::vector<std::string> fields = ReadKeyFieldNames(system_xml);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(GbkToUtf8(fields[0]), "标题");

  Settings without = LoadSettings(reg, app, nullptr);
  EXPECT_EQ(without.index_dir, "");
  EXPECT_EQ(without.ebook_dir, "");
  EXPECT_EQ(without.exit_command, "");
}

TEST(SettingsTest, ContactInfoUrlIsTrimmed) {
  TempDir dir;
  const std::string app = dir.path() + "/";
  EXPECT_EQ(ReadCheckVersionUrl(app), "");
  WriteGbk(dir / "ContactInfo.xml",
           "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<c><CHECKVERSIONURL>\r\n "
           "http://example.invalid/v.xml \t</CHECKVERSIONURL></c>");
  EXPECT_EQ(ReadCheckVersionUrl(app), "http://example.invalid/v.xml");
}

// The publisher's site: ContactInfo.xml's PublisherUrl wins, then the installation's own
// publisher.htm, then the built-in address; the address is never empty.
TEST(SettingsTest, PublisherSiteAddressFallsBackInOrder) {
  const std::string kDeclared = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n";
  struct Case {
    const char* name;
    const char* contact_info;  // nullptr = no ContactInfo.xml
    enum { kNone, kFile, kFolder } page;
    std::string expected_url;  // "" = the installation's page as a file address
  } cases[] = {
      {"nothing", nullptr, Case::kNone, NoPublisherSitePage()},
      {"only the page", nullptr, Case::kFile, ""},
      {"a folder of that name is no page", nullptr, Case::kFolder, NoPublisherSitePage()},
      {"contact info without the element", "<c><CheckVersionUrl>x</CheckVersionUrl></c>",
       Case::kFile, ""},
      {"an empty element", "<c><PublisherUrl> \t</PublisherUrl></c>", Case::kNone,
       NoPublisherSitePage()},
      {"the element wins over the page",
       "<c><publisherurl>\r\n https://books.example.org/about \t</publisherurl></c>",
       Case::kFile, "https://books.example.org/about"},
      {"a damaged file counts as missing", "<c><PublisherUrl>https://a.example/", Case::kNone,
       NoPublisherSitePage()},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string app = dir.path() + "/";
    if (c.contact_info != nullptr) WriteGbk(dir / "ContactInfo.xml", kDeclared + c.contact_info);
    if (c.page == Case::kFile) WriteGbk(dir / "publisher.htm", "<html>出版者</html>");
    if (c.page == Case::kFolder) MakeDirectories(dir / "publisher.htm");
    const std::string expected =
        !c.expected_url.empty() ? c.expected_url : "file://" + dir.path() + "/publisher.htm";
    EXPECT_EQ(PublisherSiteAddress(app), expected) << c.name;
    // Only a configured address is read back as one.
    const bool configured = std::string(c.name) == "the element wins over the page";
    EXPECT_EQ(ReadPublisherUrl(app), configured ? expected : "") << c.name;
  }
  // That page is a plain-ASCII address whose text names where the address is set.
  const std::string none = NoPublisherSitePage();
  EXPECT_EQ(none.rfind("data:text/html;charset=utf-8,", 0), 0u);
  EXPECT_EQ(none.find_first_of(" <>\"\x80\xff"), std::string::npos);
  EXPECT_NE(none.find("PublisherUrl"), std::string::npos);
}

// The browser window opens the publisher's address: only a web site's address is taken from
// ContactInfo.xml; anything else falls back to the installation's own page, as when none is set.
TEST(SettingsTest, PublisherUrlTakesOnlyWebSites) {
  struct Case {
    const char* value;
    bool taken;
  } cases[] = {
      {"http://books.example.org/", true},
      {"HTTPS://Books.Example.org/about?x=1#y", true},
      {"hTtP://books.example.org", true},
      {"file:///etc/passwd", false},
      {"FILE:///home/user/.ssh/id_rsa", false},
      {"data:text/html,<script>alert(1)</script>", false},
      {"javascript:for(;;){}", false},
      {"JavaScript:alert(1)", false},
      {"ftp://books.example.org/", false},
      {"about:blank", false},
      {"books.example.org", false},
      {"//books.example.org/", false},
      {"http://", false},
      {"http:///etc/passwd", false},
      {"http:books.example.org", false},
      {"https://a.example/x y", false},
      {"https://a.example/\"onload=\"x", false},
      {"https://a.example/\x01", false},
      {"garbage", false},
  };
  const std::string kDeclared = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TempDir dir;
    const std::string app = dir.path() + "/";
    std::string value = ReplaceAll(ReplaceAll(c.value, "&", "&amp;"), "<", "&lt;");
    WriteGbk(dir / "ContactInfo.xml",
             kDeclared + "<c><PublisherUrl>" + value + "</PublisherUrl></c>");
    WriteGbk(dir / "publisher.htm", "<html>出版者</html>");
    EXPECT_EQ(ReadPublisherUrl(app), c.taken ? c.value : "");
    EXPECT_EQ(PublisherSiteAddress(app),
              c.taken ? std::string(c.value) : "file://" + dir.path() + "/publisher.htm");
  }
}

TEST(SettingsTest, ViewerPathPrefersTheReader) {
  const char* reader = kRegAppPathsReader;
  const char* acrobat = kRegAppPathsAcrobat;
  struct Case {
    std::string reader_value;
    std::string acrobat_value;
    std::string expected;
  } cases[] = {
      {"/opt/reader/viewer.html", "/opt/full/viewer.html", "/opt/reader/viewer.html"},
      {"", "/opt/full/viewer.html", "/opt/full/viewer.html"},
      {std::string(256, 'r'), "/opt/full/viewer.html", "/opt/full/viewer.html"},  // too long
      {"", "", ""},
  };
  for (const Case& c : cases) {
    MemoryRegistry reg;
    if (!c.reader_value.empty()) {
      reg.SetValue(RegRoot::kLocalMachine, reader, "", RegType::kString, c.reader_value);
    }
    if (!c.acrobat_value.empty()) {
      reg.SetValue(RegRoot::kLocalMachine, acrobat, "", RegType::kString, c.acrobat_value);
    }
    EXPECT_EQ(FindPdfViewerPath(reg), c.expected);
  }
}

TEST(SettingsTest, PluginIsInstalledOnceAndNeverOverwritten) {
  TempDir dir;
  const std::string app = dir.path() + "/app/";
  WriteGbk(app + kPluginFileName, "plug-in v2");
  MakeDirectories(dir / "viewer/plug_ins");
  MemoryRegistry reg;
  reg.SetValue(RegRoot::kLocalMachine, kRegAppPathsReader, "", RegType::kString,
               dir / "viewer/viewer.html");
  LoadSettings(reg, app, nullptr);
  EXPECT_EQ(Read(dir / "viewer/plug_ins/VazeZududi.api"), "plug-in v2");

  WriteGbk(dir / "viewer/plug_ins/VazeZududi.api", "viewer's own copy");
  WriteGbk(app + kPluginFileName, "plug-in v3");
  EXPECT_FALSE(InstallViewerPlugin(dir / "viewer/viewer.html", app));
  EXPECT_EQ(Read(dir / "viewer/plug_ins/VazeZududi.api"), "viewer's own copy");

  // A viewer path without a separator installs nothing.
  EXPECT_FALSE(InstallViewerPlugin("viewer.html", app));
  EXPECT_FALSE(InstallViewerPlugin("", app));
  // A Windows-style path is split at its last "\".
  MakeDirectories(dir / "win/plug_ins");
  EXPECT_TRUE(InstallViewerPlugin(dir.path() + "\\win\\AcroRd32.exe", app));
  EXPECT_EQ(Read(dir / "win/plug_ins/VazeZududi.api"), "plug-in v3");
}

}  // namespace
}  // namespace tomeva
