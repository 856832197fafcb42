#include "core/settings/settings.h"

#include <unistd.h>

#include <vector>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/texts.h"

namespace tomeva {

std::string CurrentApplicationDirectory() {
  std::vector<char> buffer(4096);
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return std::string();
  std::string dir(buffer.data());
  if (dir.empty() || LastSeparator(dir) != dir.size() - 1) dir += '/';
  return dir;
}

std::string ApplyDotRule(std::string_view value, std::string_view app_dir) {
  if (!value.empty() && value[0] == '.') return std::string(app_dir) + std::string(value);
  return std::string(value);
}

std::string ReadSettingText(CXmlDocument& doc, std::string_view name) {
  return doc.GetText(name);
}

std::vector<std::string> ReadKeyFieldNames(CXmlDocument& system_xml) {
  std::vector<std::string> names;
  for (int i = 1; i <= 10; ++i) {
    std::string name = system_xml.GetText("KEY_FIELD" + std::to_string(i));
    if (name.empty()) break;
    names.push_back(std::move(name));
  }
  return names;
}

std::string ReadCheckVersionUrl(std::string_view app_dir) {
  CXmlDocument doc;
  if (!doc.Load(std::string(app_dir) + "ContactInfo.xml", 0, kSmallFileLimit)) {
    return std::string();
  }
  return Trim(doc.GetText("CheckVersionUrl"));
}

bool IsWebSiteAddress(std::string_view address) {
  const std::string lower = ToLowerAscii(address.substr(0, 8));
  size_t host = 0;
  if (StartsWith(lower, "http://")) {
    host = 7;
  } else if (StartsWith(lower, "https://")) {
    host = 8;
  } else {
    return false;
  }
  if (host >= address.size() || address[host] == '/') return false;
  for (unsigned char c : address) {
    // White space, controls and the characters that end an address in mark-up or escape it.
    if (c <= 0x20 || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '`')
      return false;
  }
  return true;
}

std::string ReadPublisherUrl(std::string_view app_dir) {
  CXmlDocument doc;
  if (!doc.Load(std::string(app_dir) + "ContactInfo.xml", 0, kSmallFileLimit)) {
    return std::string();
  }
  std::string url = Trim(doc.GetText("PublisherUrl"));
  // The browser window would take a file:, data: or javascript: address as readily as a site.
  return IsWebSiteAddress(url) ? url : std::string();
}

std::string PublisherSiteAddress(std::string_view app_dir) {
  std::string url = ReadPublisherUrl(app_dir);
  if (!url.empty()) return url;
  const std::string page = std::string(app_dir) + kPublisherPageFileName;
  // The address names the file as the file system spells it, since the browser window does not
  // resolve "\" or letter case the way the program's own file access does.
  if (FileExists(page)) return "file://" + ResolvePath(page);
  return NoPublisherSitePage();
}

std::string NoPublisherSitePage() {
  // Percent-encoded UTF-8, so that the address is plain ASCII whatever the page says.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "data:text/html;charset=utf-8,";
  for (unsigned char c : GbkToUtf8(Text(kTextNoPublisherSite))) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::string FindPdfViewerPath(Registry& registry) {
  std::string path = registry.ReadRegString(RegRoot::kLocalMachine, kRegAppPathsReader, "", "");
  if (path.empty()) {
    path = registry.ReadRegString(RegRoot::kLocalMachine, kRegAppPathsAcrobat, "", "");
  }
  return path;
}

bool InstallViewerPlugin(std::string_view viewer_path, std::string_view app_dir) {
  size_t sep = LastSeparator(viewer_path);
  if (sep == kNpos) return false;
  const std::string plugin_dir = std::string(viewer_path.substr(0, sep)) + "/plug_ins/";
  const std::string target = plugin_dir + kPluginFileName;
  if (FileExists(target) || DirectoryExists(target)) return false;
  return CopyFileNoOverwrite(std::string(app_dir) + kPluginFileName, target);
}

Settings LoadSettings(Registry& registry, std::string_view app_dir, CXmlDocument* system_xml) {
  Settings s;
  s.app_dir = std::string(app_dir);
  s.pdf_viewer_path = FindPdfViewerPath(registry);
  InstallViewerPlugin(s.pdf_viewer_path, s.app_dir);
  if (system_xml != nullptr) {
    s.exit_dir = ApplyDotRule(ReadSettingText(*system_xml, "path"), s.app_dir);
    s.index_dir = ApplyDotRule(ReadSettingText(*system_xml, "SearchDataDir"), s.app_dir);
    s.ebook_dir = ApplyDotRule(ReadSettingText(*system_xml, "EBookDir"), s.app_dir);
    s.exit_command = ReadSettingText(*system_xml, "EndFlash");
  }
  return s;
}

}  // namespace tomeva
