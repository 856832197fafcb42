#include "core/update/version_check.h"

#include <optional>
#include <vector>

#include "base/file_util.h"
#include "base/texts.h"
#include "core/platform/command_line.h"
#include "core/update/updater_manifest.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

// What the installation folder holds of its own: the settings and catalogue files, the pages
// and help the program shows, the files it writes while running, its folders, the program with
// its companions, and update.pub, where older versions of the program looked for the key their
// updaters are checked against (this one never reads a key inside a library, but an older copy
// sharing the folder would). An updater of one of these names would replace the installation
// itself.
constexpr std::string_view kInstallationNames[] = {
    "bookconfig.xml",
    "System.xml",
    "ContactInfo.xml",
    "SearchResultConfig.xml",
    "version.xml",
    "home.htm",
    "Tomeva.htm",
    "Tomeva.chm",
    "publisher.htm",
    "sr.htm",
    "temp.xml",
    "VazeZududi.api",
    "SearchDB",
    "Update",
    "help",
    "tomeva",
    "tomeva-help",
    "tomeva-browser",
    "update.pub",
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

// Why an updater is not run: the text, and what it says besides the updater's address.
struct Refusal {
  TextId text;
  std::string version = {};    // the manifest's version (kTextUpdaterNotNewer)
  std::string installed = {};  // the installed version (kTextUpdaterNotNewer, ..VersionUnknown)
};

std::string RefusalMessage(const Refusal& refusal, const std::string& file_url) {
  switch (refusal.text) {
    case kTextUpdaterNotNewer:
      return TextWith(refusal.text, {file_url, refusal.version, refusal.installed});
    case kTextUpdaterVersionUnknown:
      return TextWith(refusal.text, {file_url, refusal.installed});
    default:
      return TextWith(refusal.text, file_url);
  }
}

// Why the manifest `manifest` is not vouched for by `signature` and the installed keys; nullopt
// when a key among those installed verifies it. With several keys the most telling answer is
// given: a key of the signature's number that finds it bad, then a malformed signature, then a
// signature by a key that is not installed, then damaged keys.
std::optional<Refusal> SignatureRefusal(std::string_view manifest, const std::string& signature,
                                        UpdateServices& services) {
  std::vector<std::string> keys;
  for (const std::string& path : services.UpdateKeyFiles()) {
    if (!FileExists(path)) continue;
    std::string key;
    // A key file that cannot be read counts as a damaged key: it is there, but vouches for
    // nothing.
    if (!ReadWholeFile(path, &key, kSmallFileLimit)) key.clear();
    keys.push_back(std::move(key));
  }
  if (keys.empty()) return Refusal{kTextUpdaterNoKey};
  bool bad = false, malformed = false, other_key = false;
  for (const std::string& key : keys) {
    switch (services.VerifySignature(manifest, signature, key)) {
      case UpdaterSignature::kGood:
        return std::nullopt;
      case UpdaterSignature::kBad:
        bad = true;
        break;
      case UpdaterSignature::kMalformed:
        malformed = true;
        break;
      case UpdaterSignature::kOtherKey:
        other_key = true;
        break;
      case UpdaterSignature::kBadKey:
        break;
    }
  }
  if (bad || malformed) return Refusal{kTextUpdaterBadSignature};
  if (other_key) return Refusal{kTextUpdaterOtherKey};
  return Refusal{kTextUpdaterBadKey};
}

// Why the downloaded updater at `part_path`, named `name`, is not to be run; nullopt when its
// manifest vouches for it. `tls_vouches`: the page and the updater came over https all the way,
// so that a manifest that did as well needs no signature.
std::optional<Refusal> UpdaterRefusal(const std::string& installed, const std::string& file_url,
                                      const std::string& name, const std::string& part_path,
                                      bool tls_vouches, UpdateServices& services) {
  bool manifest_over_https = false;
  const std::optional<std::string> manifest_text =
      services.FetchSmallFile(file_url + kManifestSuffix, &manifest_over_https);
  if (!manifest_text.has_value()) {
    return Refusal{tls_vouches ? kTextUpdaterNoManifest : kTextUpdaterUnsigned};
  }
  if (!tls_vouches || !manifest_over_https) {
    bool ignored = false;
    const std::optional<std::string> signature =
        services.FetchSmallFile(file_url + kManifestSignatureSuffix, &ignored);
    if (!signature.has_value()) return Refusal{kTextUpdaterUnsigned};
    if (std::optional<Refusal> refusal = SignatureRefusal(*manifest_text, *signature, services)) {
      return refusal;
    }
  }
  const std::optional<UpdaterManifest> manifest = ParseUpdaterManifest(*manifest_text);
  if (!manifest.has_value()) return Refusal{kTextUpdaterBadManifest};
  if (manifest->file != name) return Refusal{kTextUpdaterNotMatching};
  const std::optional<std::vector<uint32_t>> installed_numbers = ParseVersion(installed);
  if (!installed_numbers.has_value()) {
    return Refusal{kTextUpdaterVersionUnknown, "", installed};
  }
  // The signature covers the version, not the moment: an older updater signed with the same key
  // stays signed for ever, and whoever can alter a plain http page could name it again.
  if (CompareVersions(*ParseVersion(manifest->version), *installed_numbers) <= 0) {
    return Refusal{kTextUpdaterNotNewer, manifest->version, installed};
  }
  const std::optional<std::string> digest = services.FileSha256(part_path);
  if (!digest.has_value() || *digest != manifest->sha256) {
    return Refusal{kTextUpdaterNotMatching};
  }
  return std::nullopt;
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
    std::optional<Refusal> refusal;
    auto accept = [&](const std::string& part_path, bool over_https) {
      refusal = UpdaterRefusal(installed, file_url, name, part_path, https_throughout && over_https,
                               services);
      return !refusal.has_value();
    };
    if (!services.DownloadToFile(file_url, target, accept)) {
      if (!refusal.has_value()) continue;
      // The same address would bring the same file: the user is told once and the program
      // goes on.
      services.ShowMessage(RefusalMessage(*refusal, file_url));
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
