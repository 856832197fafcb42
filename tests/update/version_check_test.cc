// The version check against fake services: which pages start an update, in which order the
// download, the message, the updater and the end come, which updater names are refused, and the
// attempts and waits of the page reading.
#include "core/update/version_check.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "base/texts.h"
#include "core/platform/command_line.h"
#include "core/update/updater_manifest.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

// The installation folder, with spaces and a quote (the updater's path is quoted on its command
// line), holding an update.pub of its own that the check must never read; made once for the
// whole test program.
const std::string& AppDir() {
  static const testing::TempDir root;
  static const std::string dir = [] {
    const std::string d = root / "lib \"ray\"/";
    MakeDirectories(d);
    ReplaceFileAtomically(d + "update.pub", "LIBRARY KEY");
    return d;
  }();
  return dir;
}

// The package's, the administrator's and the user's key files, in a folder outside the library;
// made once, the user's holding "KEY" and the others missing.
const std::vector<std::string>& KeyFiles() {
  static const testing::TempDir root;
  static const std::vector<std::string> files = [] {
    std::vector<std::string> f = {root / "package.pub", root / "site.pub", root / "user.pub"};
    ReplaceFileAtomically(f[2], "KEY");
    return f;
  }();
  return files;
}

const std::string kDigest(64, 'd');

std::string ManifestText(const std::string& name, const std::string& version,
                         const std::string& digest = kDigest) {
  return std::string(kManifestFirstLine) + "\nfile " + name + "\nversion " + version + "\nsha256 " +
         digest + "\n";
}

// Records every call as one line. Downloads answer from `download_results` (then true): a
// download that arrives asks the acceptor with `over_https` and puts the file in place only
// when it answers true, as the program's does. The manifest is one for the updater's own name
// at `manifest_version` unless `manifest` says otherwise; a key's verdict is `verdicts[key]`,
// kGood for a key not listed.
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
  std::optional<std::string> FetchSmallFile(const std::string& url, bool* https) override {
    calls.push_back("small " + url);
    constexpr std::string_view kManifestEnd = ".manifest";
    if (url.size() > kManifestEnd.size() &&
        url.compare(url.size() - kManifestEnd.size(), kManifestEnd.size(), kManifestEnd) == 0) {
      *https = manifest_over_https;
      if (manifest.has_value()) return manifest;
      if (!has_manifest) return std::nullopt;
      const std::string updater = url.substr(0, url.size() - kManifestEnd.size());
      return ManifestText(updater.substr(updater.rfind('/') + 1), manifest_version);
    }
    *https = false;
    return signature;
  }
  UpdaterSignature VerifySignature(std::string_view message, const std::string& sig,
                                   const std::string& public_key) override {
    calls.push_back("verify " + std::string(message.substr(0, message.find('\n'))) + " " + sig +
                    " " + public_key);
    auto verdict = verdicts.find(public_key);
    return verdict == verdicts.end() ? UpdaterSignature::kGood : verdict->second;
  }
  std::optional<std::string> FileSha256(const std::string& path) override {
    calls.push_back("sha256 " + path);
    return digest;
  }
  std::vector<std::string> UpdateKeyFiles() override { return key_files; }
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
  bool has_manifest = true;
  std::optional<std::string> manifest;  // set: this text instead of the updater's own
  std::string manifest_version = "4.0.0.2";
  bool manifest_over_https = false;
  std::optional<std::string> signature = "SIG";
  std::map<std::string, UpdaterSignature> verdicts;
  std::optional<std::string> digest = kDigest;
  std::vector<std::string> key_files = KeyFiles();
  std::vector<std::string> calls;
};

std::string Page(const std::string& file_url, const std::vector<std::string>& versions) {
  std::string page = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<versions>\r\n";
  page += "  <file>" + file_url + "</file>\r\n";
  for (const std::string& v : versions) page += "  <update version=\"" + v + "\"/>\r\n";
  return page + "</versions>";
}

// The calls of one download of `url` into the installation as `name` whose signed manifest is
// checked and found good.
std::vector<std::string> SignedDownloadCalls(const std::string& url, const std::string& name) {
  const std::string target = AppDir() + name;
  return {"download " + url + " -> " + target, "small " + url + ".manifest",
          "small " + url + ".manifest.sig",
          std::string("verify ") + kManifestFirstLine + " SIG KEY", "sha256 " + target + ".part"};
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

// The lines of `calls` that start with `prefix`.
std::vector<std::string> CallsStartingWith(const std::vector<std::string>& calls,
                                           const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
  }
  return found;
}

// One check of the updater at `file_url` named by the page at `page_url` (listing the installed
// version twice): whether the program goes on, and what the user was told. A refused updater is
// not run, and is reported once: the same address would bring the same file.
void ExpectOutcome(FakeServices& services, const std::string& page_url, const std::string& file_url,
                   const std::string& installed, const std::string& told) {
  MemoryRegistry registry;
  registry.WriteRegString(RegRoot::kLocalMachine, kRegKeyProduct, kRegValueVersion, installed);
  services.page = Page(file_url, {installed, installed});
  const bool runs = told == Text(kTextNewVersionRestart);
  EXPECT_EQ(CheckForUpdate(registry, AppDir(), page_url, services), !runs);
  EXPECT_EQ(CallsStartingWith(services.calls, "download ").size(), 1u);
  EXPECT_EQ(CallsStartingWith(services.calls, "message "),
            std::vector<std::string>{"message " + told});
  EXPECT_EQ(CallsStartingWith(services.calls, "wait ").size(), runs ? 1u : 0u);
  EXPECT_EQ(CallsStartingWith(services.calls, "exit ").size(), runs ? 1u : 0u);
}

// Whom the manifest's word is taken from: a signature by a key installed outside the library
// (any of the package's, the administrator's, the user's), or https all the way for the page, the
// updater and the manifest. The library's own update.pub is never read.
TEST(CheckForUpdateTest, RunsOnlyAnUpdaterWhoseManifestIsSignedOrCameOverHttps) {
  constexpr char kHttpPage[] = "http://maker/v.xml";
  constexpr char kHttpsPage[] = "https://maker/v.xml";
  const std::string http_updater = "http://maker/dl/setup.sh";
  const std::string https_updater = "https://maker/dl/setup.sh";
  const std::string file_updater = "file:///srv/maker/setup.sh";
  const std::string first_line = kManifestFirstLine;
  struct Case {
    const char* name;
    const char* page_url;
    std::string file_url;
    bool over_https;  // the updater's transfer
    bool has_manifest;
    bool manifest_over_https;
    std::optional<std::string> signature;
    std::vector<const char*> keys;  // the package's, site's, user's key files; nullptr: none
    std::map<std::string, UpdaterSignature> verdicts;
    std::vector<std::string> verified_with;  // the keys tried, in order
    int refusal;                             // 0: the updater runs
  };
  const std::vector<Case> cases = {
      {"https throughout: no signature asked",
       kHttpsPage,
       https_updater,
       true,
       true,
       true,
       std::nullopt,
       {nullptr, nullptr, nullptr},
       {},
       {},
       0},
      {"https throughout, but no manifest",
       kHttpsPage,
       https_updater,
       true,
       false,
       true,
       std::nullopt,
       {nullptr, nullptr, "KEY"},
       {},
       {},
       kTextUpdaterNoManifest},
      {"https updater, manifest not over https: signed",
       kHttpsPage,
       https_updater,
       true,
       true,
       false,
       "SIG",
       {nullptr, nullptr, "KEY"},
       {},
       {"KEY"},
       0},
      {"https updater named by an http page must be signed",
       kHttpPage,
       https_updater,
       true,
       true,
       true,
       std::nullopt,
       {nullptr, nullptr, "KEY"},
       {},
       {},
       kTextUpdaterUnsigned},
      {"https address, but the transfer was not all https",
       kHttpsPage,
       https_updater,
       false,
       true,
       true,
       std::nullopt,
       {nullptr, nullptr, "KEY"},
       {},
       {},
       kTextUpdaterUnsigned},
      {"http updater, signed, the user's key",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "SIG",
       {nullptr, nullptr, "KEY"},
       {},
       {"KEY"},
       0},
      {"file updater, signed, the package's key",
       kHttpPage,
       file_updater,
       false,
       true,
       false,
       "SIG",
       {"KEY", nullptr, nullptr},
       {},
       {"KEY"},
       0},
      {"several keys: the administrator's verifies",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "SIG",
       {"PKG", "SITE", "USER"},
       {{"PKG", UpdaterSignature::kOtherKey}, {"USER", UpdaterSignature::kOtherKey}},
       {"PKG", "SITE"},
       0},
      {"no manifest",
       kHttpPage,
       http_updater,
       false,
       false,
       false,
       "SIG",
       {nullptr, nullptr, "KEY"},
       {},
       {},
       kTextUpdaterUnsigned},
      {"manifest unsigned",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       std::nullopt,
       {nullptr, nullptr, "KEY"},
       {},
       {},
       kTextUpdaterUnsigned},
      {"a key in the library alone is not trusted",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "SIG",
       {nullptr, nullptr, nullptr},
       {},
       {},
       kTextUpdaterNoKey},
      {"damaged key",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "SIG",
       {nullptr, "KEY", nullptr},
       {{"KEY", UpdaterSignature::kBadKey}},
       {"KEY"},
       kTextUpdaterBadKey},
      {"bad signature",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "SIG",
       {nullptr, nullptr, "KEY"},
       {{"KEY", UpdaterSignature::kBad}},
       {"KEY"},
       kTextUpdaterBadSignature},
      {"not a signature file",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "<html>",
       {nullptr, nullptr, "KEY"},
       {{"KEY", UpdaterSignature::kMalformed}},
       {"KEY"},
       kTextUpdaterBadSignature},
      {"another key's signature",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "SIG",
       {nullptr, nullptr, "KEY"},
       {{"KEY", UpdaterSignature::kOtherKey}},
       {"KEY"},
       kTextUpdaterOtherKey},
      {"the key of the signature's number finds it bad, another key is damaged",
       kHttpPage,
       http_updater,
       false,
       true,
       false,
       "SIG",
       {"A", nullptr, "B"},
       {{"A", UpdaterSignature::kBadKey}, {"B", UpdaterSignature::kBad}},
       {"A", "B"},
       kTextUpdaterBadSignature},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir keys;
    FakeServices services;
    services.key_files = {keys / "package.pub", keys / "site.pub", keys / "user.pub"};
    for (size_t i = 0; i < c.keys.size(); ++i) {
      if (c.keys[i] != nullptr) {
        ASSERT_TRUE(ReplaceFileAtomically(services.key_files[i], c.keys[i]));
      }
    }
    services.over_https = c.over_https;
    services.has_manifest = c.has_manifest;
    services.manifest_over_https = c.manifest_over_https;
    services.signature = c.signature;
    services.verdicts = c.verdicts;
    ExpectOutcome(services, c.page_url, c.file_url, "4.0.0.1",
                  c.refusal == 0 ? Text(kTextNewVersionRestart) : TextWith(c.refusal, c.file_url));
    std::vector<std::string> verified;
    for (const std::string& key : c.verified_with) {
      verified.push_back("verify " + first_line + " " + c.signature.value_or("") + " " + key);
    }
    EXPECT_EQ(CallsStartingWith(services.calls, "verify "), verified);
    // The signature is asked for exactly when TLS did not bring the page, updater and manifest.
    const bool tls = std::string(c.page_url) == kHttpsPage && c.over_https && c.manifest_over_https;
    EXPECT_EQ(CallsStartingWith(services.calls, "small " + c.file_url + ".manifest.sig").size(),
              c.has_manifest && !tls ? 1u : 0u);
    // The digest is taken only of an updater whose manifest is vouched for.
    EXPECT_EQ(CallsStartingWith(services.calls, "sha256 ").size(), c.refusal == 0 ? 1u : 0u);
  }
  // Each refusal names its reason in a text of its own, with the updater's address.
  const std::string reason = TextWith(kTextUpdaterUnsigned, http_updater);
  EXPECT_NE(reason.find(http_updater), std::string::npos);
  for (int other :
       {kTextUpdaterNoKey, kTextUpdaterBadKey, kTextUpdaterBadSignature, kTextUpdaterOtherKey,
        kTextUpdaterNoManifest, kTextUpdaterBadManifest, kTextUpdaterNotMatching}) {
    EXPECT_NE(TextWith(other, http_updater), reason);
    EXPECT_NE(TextWith(other, http_updater).find(http_updater), std::string::npos);
  }
}

// What a vouched-for manifest must say: the updater's own name, its bytes' digest, and a version
// newer than the installed one. An older updater, signed with the same key long ago and named
// again by a plain http page, is not run.
TEST(CheckForUpdateTest, ManifestMustNameThisUpdaterAndANewerVersion) {
  const std::string url = "http://maker/dl/setup.sh";
  struct Case {
    const char* name;
    std::string installed;
    std::optional<std::string> manifest;  // nullopt: the updater's own at manifest_version
    std::string manifest_version;
    std::optional<std::string> digest;  // the downloaded file's
    std::string told;
  };
  const std::vector<Case> cases = {
      {"newer by its last number", "4.0.0.1", std::nullopt, "4.0.0.2", kDigest,
       Text(kTextNewVersionRestart)},
      {"newer by a shorter version", "4.0.0.9", std::nullopt, "4.0.1", kDigest,
       Text(kTextNewVersionRestart)},
      {"the same version", "4.0.0.2", std::nullopt, "4.0.0.2", kDigest,
       TextWith(kTextUpdaterNotNewer, {url, "4.0.0.2", "4.0.0.2"})},
      {"an older updater", "4.0.0.2", std::nullopt, "4.0.0.1", kDigest,
       TextWith(kTextUpdaterNotNewer, {url, "4.0.0.1", "4.0.0.2"})},
      {"older, however the strings compare", "4.0.10", std::nullopt, "4.0.9", kDigest,
       TextWith(kTextUpdaterNotNewer, {url, "4.0.9", "4.0.10"})},
      {"the installed version is no number", "4.0.0.1 ", std::nullopt, "4.0.0.2", kDigest,
       TextWith(kTextUpdaterVersionUnknown, {url, "4.0.0.1 "})},
      {"the digest is another file's", "4.0.0.1", std::nullopt, "4.0.0.2", std::string(64, 'e'),
       TextWith(kTextUpdaterNotMatching, url)},
      {"the updater cannot be read", "4.0.0.1", std::nullopt, "4.0.0.2", std::nullopt,
       TextWith(kTextUpdaterNotMatching, url)},
      {"the manifest names another updater", "4.0.0.1", ManifestText("other.sh", "4.0.0.2"), "",
       kDigest, TextWith(kTextUpdaterNotMatching, url)},
      {"a malformed manifest", "4.0.0.1", ManifestText("setup.sh", "4.0.0.x"), "", kDigest,
       TextWith(kTextUpdaterBadManifest, url)},
      {"the version only in signify's unsigned comment", "4.0.0.1",
       "untrusted comment: version 4.0.0.2\n", "", kDigest, TextWith(kTextUpdaterBadManifest, url)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    services.manifest = c.manifest;
    services.manifest_version = c.manifest_version;
    services.digest = c.digest;
    ExpectOutcome(services, "http://maker/v.xml", url, c.installed, c.told);
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
