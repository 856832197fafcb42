#include "core/update/version_check.h"

#include <optional>
#include <vector>

#include "base/file_util.h"
#include "base/texts.h"
#include "core/platform/command_line.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

// What the installation folder holds of its own: the settings and catalogue files, the pages
// and help the program shows, the files it writes while running, its folders, the program
// with its companions, and the key its updaters are checked against. An updater of one of these
// names would replace the installation itself.
constexpr std::string_view kInstallationNames[] = {
    "bookconfig.xml", "System.xml",     "ContactInfo.xml", "SearchResultConfig.xml",
    "version.xml",    "home.htm",       "Tomeva.htm",      "Tomeva.chm",
    "publisher.htm",  "sr.htm",         "temp.xml",        "VazeZududi.api",
    "SearchDB",       "Update",         "help",            "tomeva",
    "tomeva-help",    "tomeva-browser", kUpdateKeyFile,
};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One attempt of FetchPageText; true when a document was read (its body text in `*text`).
bool ReadPageOnce(BrowserDriver& browser, const std::string& url, const PageFetchTiming& timing,
                  std::string* text) {
  if (!browser.Navigate(url)) return false;
  for (int reading = 1;; ++reading) {
    const bool busy = browser.IsBusy();
    browser.Sleep(timing.poll_ms);
    if (!busy) break;
    if (reading >= timing.max_busy_readings) {
      browser.Stop();
      return false;
    }
  }
  browser.Sleep(timing.settle_ms);
  std::optional<std::string> body = browser.ReadBodyText();
  if (!body.has_value()) return false;
  *text = std::move(*body);
  browser.Stop();
  return true;
}

bool IsHttps(std::string_view url) {
  constexpr std::string_view kScheme = "https://";
  return url.size() >= kScheme.size() &&
         EqualsIgnoringAsciiCase(url.substr(0, kScheme.size()), kScheme);
}

// Why the downloaded updater at `part_path`, which did not come over https all the way, is not
// to be run; nullopt when its signature verifies against the installation's key.
std::optional<TextId> SignatureRefusal(const std::string& app_dir, const std::string& file_url,
                                       const std::string& part_path, UpdateServices& services) {
  const std::optional<std::string> signature =
      services.FetchSignature(file_url + kSignatureSuffix);
  if (!signature.has_value()) return kTextUpdaterUnsigned;
  std::string key;
  if (!ReadWholeFile(app_dir + kUpdateKeyFile, &key)) return kTextUpdaterNoKey;
  switch (services.VerifySignature(part_path, *signature, key)) {
    case UpdaterSignature::kGood:
      return std::nullopt;
    case UpdaterSignature::kBadKey:
      return kTextUpdaterBadKey;
    case UpdaterSignature::kOtherKey:
      return kTextUpdaterOtherKey;
    case UpdaterSignature::kBad:
    case UpdaterSignature::kMalformed:
      break;
  }
  return kTextUpdaterBadSignature;
}

}  // namespace

bool IsAcceptableUpdaterName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  // GBK-aware: a "\" that is the second byte of a Chinese character is part of the name.
  if (LastSeparator(name) != std::string_view::npos) return false;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
  }
  for (std::string_view own : kInstallationNames) {
    if (EqualsIgnoringAsciiCase(name, own)) return false;
  }
  return true;
}

bool CheckForUpdate(Registry& registry, const std::string& app_dir,
                    const std::string& check_version_url, UpdateServices& services) {
  std::string installed =
      registry.ReadRegString(RegRoot::kLocalMachine, kRegKeyProduct, kRegValueVersion, "");
  if (installed.empty()) {
    // A registry that cannot be written only means the next start writes it again.
    (void)registry.WriteRegString(RegRoot::kLocalMachine, kRegKeyProduct, kRegValueVersion,
                                  kBuiltInVersion);
    installed = kBuiltInVersion;
  }

  CXmlDocument page;
  // An empty or malformed page leaves the document without elements: nothing to update.
  (void)page.ParseText(services.FetchPageText(check_version_url));
  const std::string file_url = page.GetText("file");
  std::vector<std::string> updates;
  page.GetAttributeStrings("update", &updates);

  for (const std::string& attribute_text : updates) {
    AttributeMap attributes;
    ParseAttributes(attribute_text, &attributes);
    auto version = attributes.find("version");
    if (version == attributes.end() || version->second != installed) continue;
    const size_t slash = file_url.rfind('/');
    if (slash == std::string::npos) continue;
    const std::string name = file_url.substr(slash + 1);
    if (!IsAcceptableUpdaterName(name)) continue;
    const std::string target = app_dir + name;
    // An http page could name any https address: TLS vouches for the updater only when the page
    // that named it came under TLS as well.
    const bool https_throughout = IsHttps(check_version_url) && IsHttps(file_url);
    std::optional<TextId> refusal;
    auto accept = [&](const std::string& part_path, bool over_https) {
      if (https_throughout && over_https) return true;
      refusal = SignatureRefusal(app_dir, file_url, part_path, services);
      return !refusal.has_value();
    };
    if (!services.DownloadToFile(file_url, target, accept)) {
      if (!refusal.has_value()) continue;
      // The same address would bring the same file: the user is told once and the program
      // goes on.
      services.ShowMessage(TextWith(*refusal, file_url));
      return true;
    }
    services.ShowMessage(Text(kTextNewVersionRestart));
    // Quoted: the installation folder may hold spaces, quotes or "$".
    services.Wait(QuoteArgument(target), 1, kUpdaterWaitSeconds);
    services.ExitProcess(0);
    return false;
  }
  return true;
}

std::string FetchPageText(BrowserDriver& browser, const std::string& url,
                          const PageFetchTiming& timing) {
  std::string text;
  for (int attempt = 0; attempt < timing.attempts; ++attempt) {
    if (ReadPageOnce(browser, url, timing, &text)) break;
  }
  browser.Sleep(timing.final_ms);
  browser.Close();
  return text;
}

}  // namespace tomeva
