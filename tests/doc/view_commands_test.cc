// The help and the publisher's site commands: what the document asks the platform to start and
// open, and that a start that fails changes nothing the user sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "core/platform/command_line.h"
#include "core/settings/settings.h"
#include "fakes.h"
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

// A document on `settings` with fake views and platform attached, its first page rendered.
struct Station {
  explicit Station(Settings settings) : doc(std::move(settings)) {
    doc.AttachHtmlView(&html);
    doc.AttachTreeView(&tree);
    doc.AttachFrame(&frame);
    doc.AttachPlatform(&platform);
  }
  // Everything the user could see change: pages shown or loaded, messages of the tree pane.
  size_t VisibleChanges() const {
    return html.shown.size() + html.navigated.size() + tree.messages.size();
  }

  FakeHtmlView html;
  FakeTreeView tree;
  FakeFrame frame;
  FakePlatform platform;
  CTomevaDoc doc;
};

TEST(ViewCommandsTest, HelpStartsTheHelpViewerOnTheGuideInThePathFolder) {
  const struct {
    const char* exit_dir;  // UTF-8, handed to the document as GBK
    const char* guide;     // the one argument the viewer must receive (UTF-8)
  } cases[] = {
      {"/inst/.", "/inst/./Tomeva.htm"},
      {"/inst/help/", "/inst/help/Tomeva.htm"},
      {"/my books/it's here", "/my books/it's here/Tomeva.htm"},
      {"/图书/帮助", "/图书/帮助/Tomeva.htm"},
      {"", "Tomeva.htm"},  // no `path` setting: the guide beside the working directory
  };
  for (const auto& c : cases) {
    Settings settings;
    settings.exit_dir = Utf8ToGbk(c.exit_dir);
    Station station(settings);
    const size_t before = station.VisibleChanges();
    EXPECT_TRUE(station.doc.OnCommand(kCmdHelp)) << c.exit_dir;
    ASSERT_EQ(station.platform.titled.size(), 1u) << c.exit_dir;
    // The command line reads back as exactly the viewer and the guide, whatever the folder's
    // name holds; nothing is waited for and no desktop handler is asked.
    std::vector<std::string> words;
    ASSERT_TRUE(SplitCommandLine(station.platform.titled[0], &words)) << c.exit_dir;
    EXPECT_EQ(words, (std::vector<std::string>{"/opt/tomeva/bin/tomeva-help",
                                               Utf8ToGbk(c.guide)}))
        << c.exit_dir;
    EXPECT_TRUE(station.platform.waits.empty());
    EXPECT_TRUE(station.platform.documents.empty());
    EXPECT_EQ(station.VisibleChanges(), before) << c.exit_dir;
  }
}

TEST(ViewCommandsTest, AHelpViewerThatCannotStartShowsNothing) {
  Settings settings;
  settings.exit_dir = "/inst/help";
  Station station(settings);
  station.platform.start_succeeds = false;
  const size_t before = station.VisibleChanges();
  EXPECT_TRUE(station.doc.OnCommand(kCmdHelp));
  EXPECT_EQ(station.platform.titled.size(), 1u);
  EXPECT_EQ(station.VisibleChanges(), before);
  // The command stays usable for the next try.
  EXPECT_TRUE(station.doc.OnCommand(kCmdHelp));
  EXPECT_EQ(station.platform.titled.size(), 2u);
}

TEST(ViewCommandsTest, PublisherSiteOpensTheConfiguredAddressOrTheInstallationsPage) {
  const std::string kDeclared = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n";
  const struct {
    const char* name;
    const char* contact_info;  // nullptr = none
    bool page;                 // publisher.htm in the installation
    bool start_succeeds;
    std::string expected;      // "" = the installation's page as a file address
  } cases[] = {
      {"configured", "<ContactInfo><PublisherUrl> https://pub.example.org/ </PublisherUrl>"
                     "</ContactInfo>", true, true, "https://pub.example.org/"},
      {"page of the installation", "<ContactInfo></ContactInfo>", true, true, ""},
      {"no publisher named", nullptr, false, true, NoPublisherSitePage()},
      {"browser window cannot start", nullptr, true, false, ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (c.contact_info != nullptr) WriteGbk(dir / "ContactInfo.xml", kDeclared + c.contact_info);
    if (c.page) WriteGbk(dir / "publisher.htm", "<html>出版者</html>");
    Settings settings;
    settings.app_dir = dir.path() + "/";
    Station station(settings);
    station.platform.start_succeeds = c.start_succeeds;
    const size_t before = station.VisibleChanges();
    EXPECT_TRUE(station.doc.OnCommand(kCmdPublisherSite)) << c.name;
    const std::string expected =
        !c.expected.empty() ? c.expected : "file://" + dir.path() + "/publisher.htm";
    EXPECT_EQ(station.platform.urls, std::vector<std::string>{expected}) << c.name;
    EXPECT_EQ(station.VisibleChanges(), before) << c.name;
    CommandState state;
    ASSERT_TRUE(station.doc.OnUpdateCommand(kCmdPublisherSite, &state));
    EXPECT_TRUE(state.enabled) << c.name;
  }
}

}  // namespace
}  // namespace tomeva
