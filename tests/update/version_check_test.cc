// The version check against fake services: which pages start an update, in which order the
// download, the message, the updater and the end come, which updater names are refused, and the
// attempts and waits of the page reading.
#include "core/update/version_check.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "base/texts.h"
#include "core/platform/command_line.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

// The installation folder, with spaces and a quote (the updater's path is quoted on its command
// line), holding the installation's public key; made once for the whole test program.
const std::string& AppDir() {
  static const testing::TempDir root;
  static const std::string dir = [] {
    const std::string d = root / "lib \"ray\"/";
    MakeDirectories(d);
    ReplaceFileAtomically(d + "update.pub", "KEY");
    return d;
  }();
  return dir;
}

// Records every call as one line. Downloads answer from `download_results` (then true): a
// download that arrives asks the acceptor with `over_https` and puts the file in place only
// when it answers true, as the program's does.
class FakeServices : public UpdateServices {
 public:
  std::string FetchPageText(const std::string& url) override {
    calls.push_back("fetch " + url);
    return page;
  }
  bool DownloadToFile(const std::string& url, const std::string& path,
                      const Acceptor& accept) override {
    calls.push_back("download " + url + " -> " + path);
    bool arrives = true;
    if (!download_results.empty()) {
      arrives = download_results.front();
      download_results.pop_front();
    }
    return arrives && accept(path + ".part", over_https);
  }
  std::optional<std::string> FetchSignature(const std::string& url) override {
    calls.push_back("signature " + url);
    return signature;
  }
  UpdaterSignature VerifySignature(const std::string& path, const std::string& sig,
                                   const std::string& public_key) override {
    calls.push_back("verify " + path + " " + sig + " " + public_key);
    return verdict;
  }
  void ShowMessage(const std::string& text) override { calls.push_back("message " + text); }
  // The command line is recorded as the words it is split into: the program's path must come
  // back as one word, whatever its spaces and quotes.
  int Wait(const std::string& command_line, int show, uint32_t timeout_seconds) override {
    std::vector<std::string> words;
    std::string line = SplitCommandLine(command_line, &words) ? "" : "(unbalanced)";
    for (const std::string& word : words) line += "[" + word + "]";
    calls.push_back("wait " + line + " " + std::to_string(show) + " " +
                    std::to_string(timeout_seconds));
    return 1;
  }
  void ExitProcess(int code) override { calls.push_back("exit " + std::to_string(code)); }

  std::string page;
  std::deque<bool> download_results;
  bool over_https = false;
  std::optional<std::string> signature = "SIG";
  UpdaterSignature verdict = UpdaterSignature::kGood;
  std::vector<std::string> calls;
};

std::string Page(const std::string& file_url, const std::vector<std::string>& versions) {
  std::string page = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<versions>\r\n";
  page += "  <file>" + file_url + "</file>\r\n";
  for (const std::string& v : versions) page += "  <update version=\"" + v + "\"/>\r\n";
  return page + "</versions>";
}

// The calls of one download of `url` into the installation as `name` whose signature is checked.
std::vector<std::string> SignedDownloadCalls(const std::string& url, const std::string& name) {
  const std::string target = AppDir() + name;
  return {"download " + url + " -> " + target, "signature " + url + ".sig",
          "verify " + target + ".part SIG KEY"};
}

// The calls of an update that goes through with the signed updater `name` from `url`.
std::vector<std::string> UpdateCalls(const std::string& url, const std::string& name,
                                     int failed_downloads = 0) {
  std::vector<std::string> calls = {"fetch http://maker/v.xml"};
  const std::string target = AppDir() + name;
  for (int i = 0; i < failed_downloads; ++i) calls.push_back("download " + url + " -> " + target);
  for (const std::string& call : SignedDownloadCalls(url, name)) calls.push_back(call);
  calls.push_back("message " + Text(kTextNewVersionRestart));
  calls.push_back("wait [" + target + "] 1 3");
  calls.push_back("exit 0");
  return calls;
}

const std::vector<std::string> kFetchOnly = {"fetch http://maker/v.xml"};

struct CheckCase {
  const char* name;
  const char* installed;  // nullptr: no value in the registry
  bool read_only_registry;
  std::string page;
  std::deque<bool> downloads;
  std::vector<std::string> calls;
  bool goes_on;
  const char* version_after;  // the registry's value afterwards ("" = none)
};

TEST(CheckForUpdateTest, FollowsThePage) {
  const std::string updater = "http://maker/dl/setup.sh";
  const std::vector<CheckCase> cases = {
      {"listed among others", "4.0.0.1", false, Page(updater, {"4.0.0.0", "4.0.0.1"}), {},
       UpdateCalls(updater, "setup.sh"), false, "4.0.0.1"},
      {"greater, not listed", "4.0.0.2", false, Page(updater, {"4.0.0.0", "4.0.0.1"}), {},
       kFetchOnly, true, "4.0.0.2"},
      {"compared exactly", "4.0.0.1 ", false, Page(updater, {"4.0.0.1"}), {}, kFetchOnly, true,
       "4.0.0.1 "},
      {"no version: built-in written and used", nullptr, false, Page(updater, {"4.0.0.1"}), {},
       UpdateCalls(updater, "setup.sh"), false, "4.0.0.1"},
      {"no version, registry not writable", nullptr, true, Page(updater, {"4.0.0.1"}), {},
       UpdateCalls(updater, "setup.sh"), false, ""},
      {"no version, built-in not listed", nullptr, false, Page(updater, {"4.0.0.0"}), {},
       kFetchOnly, true, "4.0.0.1"},
      {"address without a slash", "4.0.0.1", false, Page("setup.sh", {"4.0.0.1", "4.0.0.1"}), {},
       kFetchOnly, true, "4.0.0.1"},
      {"failed download: next listing tries again", "4.0.0.1", false,
       Page(updater, {"4.0.0.1", "4.0.0.1"}), {false, true},
       UpdateCalls(updater, "setup.sh", 1), false, "4.0.0.1"},
      {"every download fails", "4.0.0.1", false, Page(updater, {"4.0.0.1", "4.0.0.1"}),
       {false, false},
       {"fetch http://maker/v.xml", "download " + updater + " -> " + AppDir() + "setup.sh",
        "download " + updater + " -> " + AppDir() + "setup.sh"},
       true, "4.0.0.1"},
      {"empty page", "4.0.0.1", false, "", {}, kFetchOnly, true, "4.0.0.1"},
      {"not XML", "4.0.0.1", false, "<html><body>404 Not Found</body></html>", {}, kFetchOnly,
       true, "4.0.0.1"},
      {"cut off", "4.0.0.1", false, Page(updater, {"4.0.0.1"}).substr(0, 70), {}, kFetchOnly,
       true, "4.0.0.1"},
      {"other attributes only", "4.0.0.1", false,
       "<?xml version=\"1.0\"?><v><file>" + updater + "</file><update ver=\"4.0.0.1\"/></v>", {},
       kFetchOnly, true, "4.0.0.1"},
      {"first file element, names in any case", "4.0.0.1", false,
       "<?xml version=\"1.0\"?><v><a><FILE>http://one/x/a.sh</FILE></a><file>http://two/b.sh"
       "</file><Update version=\"4.0.0.1\"/></v>",
       {}, UpdateCalls("http://one/x/a.sh", "a.sh"), false, "4.0.0.1"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryRegistry registry;
    if (c.installed != nullptr) {
      registry.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", c.installed);
    }
    registry.set_read_only(c.read_only_registry);
    FakeServices services;
    services.page = c.page;
    services.download_results = c.downloads;
    EXPECT_EQ(CheckForUpdate(registry, AppDir(), "http://maker/v.xml", services), c.goes_on);
    EXPECT_EQ(services.calls, c.calls);
    EXPECT_EQ(registry.ReadRegString(RegRoot::kLocalMachine, "software\\LUMQ", "Version", ""),
              c.version_after);
  }
}

TEST(CheckForUpdateTest, RefusedUpdaterNamesNeverDownload) {
  const std::vector<std::string> refused = {
      "",          ".",          "..",           "..\\System.xml", "a\\b.sh",
      "System.xml", "SYSTEM.XML", "bookconfig.xml", "ContactInfo.xml", "searchresultconfig.xml",
      "home.htm",  "Tomeva.htm", "Tomeva.chm",   "VazeZududi.api", "SearchDB",
      "Update",    "tomeva",     "TOMEVA-HELP",  "tomeva-browser",
      "a\tb.sh",   "a\rb",       "a\x7f",        "version.xml",    "Help",
      "update.pub", "UPDATE.PUB",
  };
  for (const std::string& name : refused) {
    SCOPED_TRACE("name: " + name);
    EXPECT_FALSE(IsAcceptableUpdaterName(name));
    MemoryRegistry registry;
    FakeServices services;
    services.page = Page("http://maker/dl/" + name, {"4.0.0.1"});
    EXPECT_TRUE(CheckForUpdate(registry, AppDir(), "http://maker/v.xml", services));
    EXPECT_EQ(services.calls, kFetchOnly);
  }
  // A second byte 0x5C of a Chinese character is not a separator; look-alikes of own files are
  // other files.
  for (const std::string& name : {Utf8ToGbk("乗更新.sh"), std::string("System.xml.sh"),
                                  std::string("tomeva2"), std::string("setup.exe"),
                                  std::string("a\"b$c.sh")}) {
    SCOPED_TRACE("name: " + name);
    EXPECT_TRUE(IsAcceptableUpdaterName(name));
  }
}

// Which downloaded updaters are run: one that came over https from an address an https page
// named, or one whose signature verifies against the installation's key. Any other is not put in
// place and not run: the user is told why, once (the page lists the version twice), and the
// program goes on.
TEST(CheckForUpdateTest, RunsOnlyAnUpdaterThatCameOverHttpsOrIsSigned) {
  constexpr char kHttpPage[] = "http://maker/v.xml";
  constexpr char kHttpsPage[] = "https://maker/v.xml";
  const std::string http_updater = "http://maker/dl/setup.sh";
  const std::string https_updater = "https://maker/dl/setup.sh";
  const std::string file_updater = "file:///srv/maker/setup.sh";
  struct Case {
    const char* name;
    const char* page_url;
    std::string file_url;
    bool over_https;
    std::optional<std::string> signature;
    UpdaterSignature verdict;
    const char* key;  // update.pub's text; nullptr: no key file
    bool verified;    // the signature was checked
    int refusal;      // the message the user is shown; 0: the updater runs
  };
  const std::vector<Case> cases = {
      {"https page, https updater over https: no signature asked", kHttpsPage, https_updater,
       true, std::nullopt, UpdaterSignature::kBad, nullptr, false, 0},
      {"http updater, signed", kHttpPage, http_updater, false, "SIG", UpdaterSignature::kGood,
       "KEY", true, 0},
      {"file updater, signed", kHttpPage, file_updater, false, "SIG", UpdaterSignature::kGood,
       "KEY", true, 0},
      {"https updater named by an http page must be signed", kHttpPage, https_updater, true,
       std::nullopt, UpdaterSignature::kGood, "KEY", false, kTextUpdaterUnsigned},
      {"https address, but the transfer was not all https", kHttpsPage, https_updater, false,
       std::nullopt, UpdaterSignature::kGood, "KEY", false, kTextUpdaterUnsigned},
      {"unsigned", kHttpPage, http_updater, false, std::nullopt, UpdaterSignature::kGood, "KEY",
       false, kTextUpdaterUnsigned},
      {"signed, no key in the installation", kHttpPage, http_updater, false, "SIG",
       UpdaterSignature::kGood, nullptr, false, kTextUpdaterNoKey},
      {"damaged key", kHttpPage, http_updater, false, "SIG", UpdaterSignature::kBadKey, "KEY",
       true, kTextUpdaterBadKey},
      {"bad signature", kHttpPage, http_updater, false, "SIG", UpdaterSignature::kBad, "KEY",
       true, kTextUpdaterBadSignature},
      {"not a signature file", kHttpPage, http_updater, false, "<html>",
       UpdaterSignature::kMalformed, "KEY", true, kTextUpdaterBadSignature},
      {"another key's signature", kHttpPage, http_updater, false, "SIG",
       UpdaterSignature::kOtherKey, "KEY", true, kTextUpdaterOtherKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const std::string app_dir = dir.path() + "/";
    if (c.key != nullptr) {
      ASSERT_TRUE(ReplaceFileAtomically(app_dir + "update.pub", c.key));
    }
    MemoryRegistry registry;
    FakeServices services;
    services.page = Page(c.file_url, {"4.0.0.1", "4.0.0.1"});
    services.over_https = c.over_https;
    services.signature = c.signature;
    services.verdict = c.verdict;
    const std::string app_target = app_dir + "setup.sh";
    std::vector<std::string> expected = {std::string("fetch ") + c.page_url,
                                         "download " + c.file_url + " -> " + app_target};
    if (!(c.over_https && c.refusal == 0 && !c.verified)) {
      expected.push_back("signature " + c.file_url + ".sig");
    }
    if (c.verified) {
      expected.push_back("verify " + app_target + ".part " + c.signature.value_or("") + " KEY");
    }
    if (c.refusal != 0) {
      expected.push_back("message " + TextWith(c.refusal, c.file_url));
    } else {
      expected.push_back("message " + Text(kTextNewVersionRestart));
      expected.push_back("wait [" + app_target + "] 1 3");
      expected.push_back("exit 0");
    }
    EXPECT_EQ(CheckForUpdate(registry, app_dir, c.page_url, services), c.refusal != 0);
    EXPECT_EQ(services.calls, expected);
  }
  // Each refusal names its reason in a text of its own, with the updater's address.
  const std::string reason = TextWith(kTextUpdaterUnsigned, http_updater);
  EXPECT_NE(reason.find(http_updater), std::string::npos);
  for (int other : {kTextUpdaterNoKey, kTextUpdaterBadKey, kTextUpdaterBadSignature,
                    kTextUpdaterOtherKey}) {
    EXPECT_NE(TextWith(other, http_updater), reason);
    EXPECT_NE(TextWith(other, http_updater).find(http_updater), std::string::npos);
  }
}

// A browser whose attempts behave as scripted, recording what it is asked.
class FakeBrowser : public BrowserDriver {
 public:
  struct Attempt {
    bool navigates = true;
    int busy_readings = 0;  // readings that find it still loading (-1: never loads)
    std::optional<std::string> body;
  };

  bool Navigate(const std::string&) override {
    ++navigations;
    log.push_back("navigate");
    current = attempts.empty() ? Attempt{false, 0, std::nullopt} : attempts.front();
    if (!attempts.empty()) attempts.pop_front();
    return current.navigates;
  }
  bool IsBusy() override {
    const bool busy = current.busy_readings != 0;
    if (current.busy_readings > 0) --current.busy_readings;
    log.push_back(busy ? "busy" : "idle");
    return busy;
  }
  void Stop() override {
    ++stops;
    log.push_back("stop");
  }
  std::optional<std::string> ReadBodyText() override {
    log.push_back("read");
    return current.body;
  }
  void Sleep(int milliseconds) override {
    slept += milliseconds;
    log.push_back("sleep " + std::to_string(milliseconds));
  }
  void Close() override { log.push_back("close"); }

  std::deque<Attempt> attempts;
  Attempt current;
  int navigations = 0;
  int stops = 0;
  int slept = 0;
  std::vector<std::string> log;
};

TEST(FetchPageTextTest, AttemptsAndWaits) {
  struct Case {
    const char* name;
    std::deque<FakeBrowser::Attempt> attempts;
    std::string text;
    int navigations;
    int stops;
    int slept_ms;
  };
  const std::vector<Case> cases = {
      {"loads at once", {{true, 0, "page"}}, "page", 1, 1, 1000 + 300 + 2000},
      {"loads at the fifth reading", {{true, 4, "page"}}, "page", 1, 1, 5000 + 300 + 2000},
      {"never loads: each attempt given up after 7 s, five attempts",
       {{true, -1, "x"}, {true, -1, "x"}, {true, -1, "x"}, {true, -1, "x"}, {true, -1, "x"}},
       "", 5, 5, 5 * 7000 + 2000},
      {"loads at the seventh reading, just in time", {{true, 6, "page"}}, "page", 1, 1,
       7000 + 300 + 2000},
      {"navigation never starts", {}, "", 5, 0, 2000},
      {"no document twice, then the page",
       {{true, 1, std::nullopt}, {false, 0, std::nullopt}, {true, 0, "v"}}, "v", 3, 1,
       2000 + 300 + 1000 + 300 + 2000},
      {"a document without a body ends the attempts", {{true, 0, ""}, {true, 0, "late"}}, "", 1,
       1, 1000 + 300 + 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBrowser browser;
    browser.attempts = c.attempts;
    EXPECT_EQ(FetchPageText(browser, "http://maker/v.xml"), c.text);
    EXPECT_EQ(browser.navigations, c.navigations);
    EXPECT_EQ(browser.stops, c.stops);
    EXPECT_EQ(browser.slept, c.slept_ms);
    ASSERT_GE(browser.log.size(), 2u);
    EXPECT_EQ(browser.log[browser.log.size() - 2], "sleep 2000");
    EXPECT_EQ(browser.log.back(), "close");
  }
}

TEST(FetchPageTextTest, OneAttemptInOrder) {
  FakeBrowser browser;
  browser.attempts = {{true, 1, "page"}};
  EXPECT_EQ(FetchPageText(browser, "u"), "page");
  const std::vector<std::string> expected = {"navigate",   "busy",       "sleep 1000", "idle",
                                             "sleep 1000", "sleep 300",  "read",       "stop",
                                             "sleep 2000", "close"};
  EXPECT_EQ(browser.log, expected);

  // The waits come from the timing given.
  FakeBrowser quick;
  quick.attempts = {{true, -1, "x"}, {true, -1, "x"}};
  PageFetchTiming timing;
  timing.attempts = 2;
  timing.poll_ms = 10;
  timing.max_busy_readings = 3;
  timing.final_ms = 5;
  EXPECT_EQ(FetchPageText(quick, "u", timing), "");
  EXPECT_EQ(quick.slept, 2 * 3 * 10 + 5);
  EXPECT_EQ(quick.stops, 2);
}

}  // namespace
}  // namespace tomeva
