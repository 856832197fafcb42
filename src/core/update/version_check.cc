#include "core/update/version_check.h"

#include <vector>

#include "core/base/file_util.h"
#include "core/base/texts.h"
#include "core/platform/command_line.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

// What the installation folder holds of its own: the settings and catalogue files, the pages
// and help the program shows, the files it writes while running, its folders, and the program
// with its companions. An updater of one of these names would replace the installation itself.
constexpr std::string_view kInstallationNames[] = {
    "bookconfig.xml", "System.xml",     "ContactInfo.xml", "SearchResultConfig.xml",
    "version.xml",    "home.htm",       "Tomeva.htm",      "Tomeva.chm",
    "publisher.htm",  "sr.htm",         "temp.xml",        "VazeZududi.api",
    "SearchDB",       "Update",         "help",            "tomeva",
    "tomeva-help",    "tomeva-browser",
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
    if (!services.DownloadToFile(file_url, target)) continue;
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
